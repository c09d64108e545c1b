#include "engine/engine_commands.h"

#include <mutex>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_codes.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "engine/startup.h"
#include "engine/display_modes.h"
#include "engine/window_sizing.h"
#include "core/main_thread_calls.h"
#include "renderer/display_state.h"
#include "core/window_record.h"
#include "platform/clock.h"
#include "platform/window_system.h"
#include "script/arg_decoder.h"
#include "script/command_table.h"
#include "script/compiled_tables.h"
#include "script/pause_clock.h"

namespace zk {

std::atomic<uint8_t> ScreenSaverSuppressed{1};

void SetFrameRate(int32_t frames_per_second) { TheFrameClock.frame_rate = frames_per_second; }

void StopPauseTimer(int timer, uint32_t now) {
    if (timer < 1 || timer > kPauseTimerCount) return;
    GamePauseClock& clock = ThePauseClock();
    std::lock_guard lock(EngineLock);
    if (clock.timer_enabled[timer] == 0) return;
    clock.timer_enabled[timer] = 0;
    clock.stop_time[timer] = now;
}

void ResumePauseTimer(int timer, uint32_t now) {
    if (timer < 1 || timer > kPauseTimerCount) return;
    GamePauseClock& clock = ThePauseClock();
    std::lock_guard lock(EngineLock);
    if (clock.timer_enabled[timer] != 0) return;
    clock.accumulator[timer] += now - clock.stop_time[timer];  // wraps with the clock
    clock.stop_time[timer] = 0;
    clock.timer_enabled[timer] = 1;
}

void SetGameScreenSize(int32_t width, int32_t height) {
    WindowRecord* record = MainWindowRecord();
    if (record == nullptr || width < 1 || height < 1) return;
    record->client_width = width;
    record->client_height = height;
    DisplayState& display = TheDisplayState();
    if (display.fullscreen != 0 || display.maximized != 0) {
        ComputeDisplaySize(width, height, display.display_width, display.display_height);
        ClearDisplayArea(*record);
    } else {
        display.display_width = width;
        display.display_height = height;
        TheWindowSizing().back_width = width;
        TheWindowSizing().back_height = height;
        ReallocateBackBuffer();
        // The window shows the new screen at its own size.
        if (record->window != platform::kNoWindow && platform::HasWindowSystem()) {
            auto& windows = platform::GetWindowSystem();
            const platform::Rect outer = windows.GetWindowRect(record->window);
            const BorderSize border = GetFrameBorderSize(record->window);
            windows.MoveWindow(record->window,
                               platform::Rect{outer.left, outer.top, outer.left + width + border.width,
                                              outer.top + height + border.height},
                               true);
        }
    }
    RefreshMainWindowLimits();
    if (GpuLayerDrawing() && Hooks().request_direct3d_reset != nullptr) Hooks().request_direct3d_reset();
}

int32_t CmdEndProgram() {
    if (DecodeCommandArgs(kCmdEndProgram) != 0) return -1;
    if (const CommandArgSlot* restart = Args().Find(0)) SetRestartFlag(static_cast<uint8_t>(restart->value));
    // The frame step sees the flag when the task-tree walk returns and ends
    // the engine through the orderly close.
    QuitFlag = 1;
    return 0;
}

int32_t CmdSetFrameRate() {
    if (DecodeCommandArgs(kCmdSetFrameRate) != 0) return -1;
    const CommandArgBlock& args = Args();
    // A rate below 1 frame a second (it would divide the pacer's second by
    // nothing) changes nothing.
    if (const CommandArgSlot* rate = args.Find(0); rate != nullptr && rate->value >= 1 && rate->value <= INT32_MAX)
        SetFrameRate(static_cast<int32_t>(rate->value));
    if (const CommandArgSlot* skip = args.Find(1)) TheFrameClock.frame_skip = static_cast<int32_t>(skip->value);
    return 0;
}

int32_t CmdNoOperation51() { return 0; }

int32_t CmdSetScreenAndTimers() {
    if (DecodeCommandArgs(kCmdSetScreenAndTimers) != 0) return -1;
    const CommandArgBlock& args = Args();
    if (const CommandArgSlot* saver = args.Find(0)) ScreenSaverSuppressed = static_cast<uint8_t>(saver->value);
    if (const CommandArgSlot* keep = args.Find(1)) {
        const WindowRecord* main_window = MainWindowRecord();
        if (main_window != nullptr && main_window->active != 0)
            ThePauseClock().keep_running = static_cast<uint8_t>(keep->value);
    }
    const CommandArgSlot* width = args.Find(2);
    const CommandArgSlot* height = args.Find(3);
    if (width != nullptr && height != nullptr && width->value > 0 && height->value > 0 && width->value <= INT32_MAX &&
        height->value <= INT32_MAX) {
        const int32_t w = static_cast<int32_t>(width->value), h = static_cast<int32_t>(height->value);
        CallOnMainThread([w, h] { SetGameScreenSize(w, h); });
    }
    const uint32_t now = platform::TimeGetTime();
    for (int timer = 1; timer <= kPauseTimerCount; ++timer) {
        const CommandArgSlot* slot = args.Find(static_cast<uint32_t>(3 + timer));
        if (slot == nullptr) continue;
        const uint8_t value = static_cast<uint8_t>(slot->value);
        if (value == 0) StopPauseTimer(timer, now);
        else if (value == 1) ResumePauseTimer(timer, now);
    }
    return 0;
}

void RegisterEngineCommands() {
    Hooks().screen_saver_suppressed = [] { return ScreenSaverSuppressed.load() != 0; };
    RegisterCommandHandler(kCmdEndProgram, CmdEndProgram);
    RegisterCommandHandler(kCmdSetFrameRate, CmdSetFrameRate);
    RegisterCommandHandler(kCmdNoOperation51, CmdNoOperation51);
    RegisterCommandHandler(kCmdSetScreenAndTimers, CmdSetScreenAndTimers);
}

void ResetEngineCommandState() {
    ScreenSaverSuppressed = 1;
    SetRestartFlag(0);
}

}  // namespace zk
