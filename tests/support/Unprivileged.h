#pragma once
// File-permission cases: root ignores the permissions of files and folders, and the tests may
// run as root, so such a case runs in a child process that gives root up first.
#include <functional>
#include <optional>

// Runs check in a child process (as the user nobody when this process is root) and returns
// its verdict; nothing when root could not be given up. The child only reports true or false:
// expectations inside check do not reach the test.
std::optional<bool> runUnprivileged(const std::function<bool()>& check);
