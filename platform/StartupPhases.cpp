#include "StartupPhases.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace norvix {

void markStartupPhase(const char* name) {
    static const bool wanted = std::getenv("NORVIX_STARTUP_PHASES") != nullptr;
    if (!wanted) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Plain stdio: the benchmark parses these lines, whatever the logging rules say.
    std::fprintf(stderr, "norvix-fase %s %lld\n", name,
                 static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
}

}  // namespace norvix
