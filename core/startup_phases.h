// Start-up's phases, timed: start-up marks the end of each phase, the frame
// step the first frame. Read by the start-up benchmark (bench/startup.cpp),
// which runs the engine with ZORVEK_STARTUP_PHASES=1 so that it prints them
// as it ends. Marks past the table's size are dropped.
//
// Threading: marks come from the main thread and the thread of the frame
// step; every function takes the table's lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

namespace zk {

struct StartupPhase {
    const char* name = "";  // a string literal
    std::chrono::steady_clock::time_point end;
};

inline constexpr size_t kMaxStartupPhases = 32;

void MarkStartupPhase(const char* name);
std::vector<StartupPhase> StartupPhases();
void ResetStartupPhases();

}  // namespace zk
