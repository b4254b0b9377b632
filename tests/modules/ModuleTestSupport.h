#pragma once
// Helpers shared by the module tests: the test libraries, a maps directory of one's own, the
// record the test libraries write, and whether a library is still mapped.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace modtest {

// Path of a test library built next to the tests, e.g. lib("map_single").
QString lib(const char* name);

// True when the library at that path is loaded in this process (checked without loading it).
bool isLoaded(const QString& path);

// The lines the test libraries record; set as $NORVIX_TEST_RECORD while the object lives.
class Record {
public:
    Record();
    ~Record();
    QStringList lines() const;
    QString path() const { return path_; }

private:
    QTemporaryDir dir_;
    QString path_;
};

// A fresh directory to play the maps directory.
class MapsDir {
public:
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    // Copies a test library under another name; returns its path.
    QString copy(const char* libName, const QString& asName) const;
    QString write(const QString& name, const QByteArray& bytes) const;

private:
    QTemporaryDir dir_;
};

}  // namespace modtest
