#include "script/pause_clock.h"

#include <mutex>

#include "core/engine_state.h"
#include "core/window_record.h"
#include "platform/clock.h"

namespace zk {

namespace detail {
GamePauseClock pause_clock;
}  // namespace detail

namespace {

using detail::pause_clock;

// Adds a finished pause interval to every running timer.
void AddInterval(uint32_t start, uint32_t now) {
    const uint32_t interval = now - start;  // wraps with the clock
    for (int k = 1; k <= kPauseTimerCount; ++k) {
        if (pause_clock.timer_enabled[k] != 0) pause_clock.accumulator[k] += interval;
    }
}

}  // namespace


void ResetPauseClock(uint32_t now) {
    std::lock_guard lock(EngineLock);
    for (int k = 1; k <= kPauseTimerCount; ++k) pause_clock.accumulator[k] = now;
}

void ResetPauseClockState() {
    std::lock_guard lock(EngineLock);
    for (int k = 0; k <= kPauseTimerCount; ++k) {
        pause_clock.timer_enabled[k] = k == 0 ? 0 : 1;
        pause_clock.accumulator[k] = 0;
        pause_clock.stop_time[k] = 0;
    }
    pause_clock.inactive_on = 0;
    pause_clock.inactive_start = 0;
    pause_clock.script_on = 0;
    pause_clock.script_start = 0;
    pause_clock.keep_running = 1;
}

void UpdateInactivePause() {
    if (pause_clock.keep_running.load() != 0) {
        pause_clock.inactive_on = 0;
        return;
    }
    const WindowRecord* main_window = MainWindowRecord();
    const bool active = main_window != nullptr && main_window->active != 0;
    const bool paused = pause_clock.inactive_on.load() != 0;
    if (!active && !paused) BeginInactivePause();
    if (active && paused) EndInactivePause();
}

void BeginInactivePause() {
    std::lock_guard lock(EngineLock);
    if (pause_clock.inactive_on.load() != 0) return;
    pause_clock.inactive_start = platform::TimeGetTime();
    pause_clock.inactive_on = 1;
}

void EndInactivePause() {
    std::lock_guard lock(EngineLock);
    if (pause_clock.inactive_on.load() == 0) return;
    pause_clock.inactive_on = 0;
    AddInterval(pause_clock.inactive_start, platform::TimeGetTime());
    pause_clock.inactive_start = 0;
}

void BeginScriptPause() {
    std::lock_guard lock(EngineLock);
    if (pause_clock.script_on != 0) return;
    pause_clock.script_on = 1;
    pause_clock.script_start = platform::TimeGetTime();
}

void EndScriptPause() {
    std::lock_guard lock(EngineLock);
    if (pause_clock.script_on == 0) return;
    pause_clock.script_on = 0;
    AddInterval(pause_clock.script_start, platform::TimeGetTime());
    pause_clock.script_start = 0;
}

uint32_t PauseTimerValue(int timer, uint32_t now) {
    if (timer < 1 || timer > kPauseTimerCount) return 0;
    const uint32_t reading = pause_clock.timer_enabled[timer] != 0 ? now : pause_clock.stop_time[timer].load();
    return reading - pause_clock.accumulator[timer];
}

}  // namespace zk
