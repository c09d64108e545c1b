// The GamePauseClock: four pausable script timers and the two pauses (the
// main window inactive, the script paused by the system command) whose
// intervals are added to the timers' accumulators, so that time in which the
// game did not run never reaches a script's timers.
//
// Changes happen under EngineLock: the window procedure and the input poll
// (main thread) begin and end pauses while the script thread reads them.
// The runner tests the inactive-pause and keep-running bytes before every
// command, so those two are atomics read without the lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace zk {

inline constexpr int kPauseTimerCount = 4;  // timers 1..4

struct GamePauseClock {
    // Index 0 is unused; timers are 1..4. The script reads a timer without
    // the lock while another thread may end a pause: each field is read
    // and written whole.
    std::array<std::atomic<uint8_t>, kPauseTimerCount + 1> timer_enabled{0, 1, 1, 1, 1};
    std::array<std::atomic<uint32_t>, kPauseTimerCount + 1> accumulator{};
    std::array<std::atomic<uint32_t>, kPauseTimerCount + 1> stop_time{};
    std::atomic<uint8_t> inactive_on{0};
    uint32_t inactive_start = 0;
    uint8_t script_on = 0;
    uint32_t script_start = 0;
    std::atomic<uint8_t> keep_running{1};  // run the script while the main window is inactive
};
namespace detail {
extern GamePauseClock pause_clock;
}  // namespace detail
inline GamePauseClock& ThePauseClock() { return detail::pause_clock; }

// Start-up: every accumulator := now. Also the reset_pause_clock hook.
void ResetPauseClock(uint32_t now);
// Back to the start-of-process state (tests).
void ResetPauseClockState();

// Follows the main window's activation: begins the inactive pause when the
// window is not active, ends it when it is; with keep-running set, only
// drops the pause flag (its interval is not added).
void UpdateInactivePause();
void BeginInactivePause();
void EndInactivePause();
void BeginScriptPause();
void EndScriptPause();

// A timer's reading for the system variables: (running ? now : stop time) -
// accumulator, in wrapping milliseconds. 0 for a number outside 1..4.
uint32_t PauseTimerValue(int timer, uint32_t now);

// The inactive pause is in force for the runner: keep-running off and the
// pause on.
inline bool ScriptHeldByInactivePause() {
    const GamePauseClock& clock = ThePauseClock();
    return clock.keep_running.load(std::memory_order_relaxed) == 0 &&
           clock.inactive_on.load(std::memory_order_relaxed) != 0;
}

}  // namespace zk
