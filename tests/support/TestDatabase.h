#pragma once
// A fresh database for one test: the template database built from data/schema.sql
// (NORVIX_TEMPLATE_DB) copied into a folder of the test's own.
#include <QString>

// Copies the template to directory + "/DATABASE.GDB" and returns that path. On failure the
// test is marked failed (with the reason) and the empty text is returned.
// A test executable that uses it depends on the target norvix_template_db.
QString makeTestDatabase(const QString& directory);
