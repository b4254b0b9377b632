#pragma once
// Marks of the start-up's phases for the start-up benchmark: with NORVIX_STARTUP_PHASES set,
// each mark writes "norvix-fase <name> <CLOCK_MONOTONIC ns>" to stderr, and the benchmark,
// which knows when it started the process on the same clock, prints where the time went.
// Without the variable a mark costs one cached check.
namespace norvix {

void markStartupPhase(const char* name);

}  // namespace norvix
