#include "core/startup_phases.h"

#include <array>
#include <mutex>

namespace zk {

namespace {

std::mutex phases_lock;
std::array<StartupPhase, kMaxStartupPhases> phases;
size_t phase_count = 0;

}  // namespace

void MarkStartupPhase(const char* name) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard guard(phases_lock);
    if (phase_count < phases.size()) phases[phase_count++] = {name, now};
}

std::vector<StartupPhase> StartupPhases() {
    std::lock_guard guard(phases_lock);
    return {phases.begin(), phases.begin() + static_cast<std::ptrdiff_t>(phase_count)};
}

void ResetStartupPhases() {
    std::lock_guard guard(phases_lock);
    phase_count = 0;
}

}  // namespace zk
