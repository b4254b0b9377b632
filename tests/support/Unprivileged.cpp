#include "Unprivileged.h"

#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int kNoUser = 65534;      // nobody
constexpr int kCannotDrop = 77;     // the child's status when it kept root
}  // namespace

std::optional<bool> runUnprivileged(const std::function<bool()>& check) {
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        if (geteuid() == 0 && (setgid(kNoUser) != 0 || setuid(kNoUser) != 0)) _exit(kCannotDrop);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotDrop) return std::nullopt;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
