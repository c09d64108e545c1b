#include "engine/main_loop.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "core/startup_phases.h"
#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/game_thread.h"
#include "core/main_thread_calls.h"
#include "core/run_summary.h"
#include "core/settings.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "core/startup_notes.h"
#include "layers/emote_players.h"
#include "layers/layer_gpu_requests.h"
#include "platform/clock.h"
#include "platform/window_system.h"

namespace zk {

namespace {
std::thread game_thread;  // started and joined by the main thread only
// Set before the game-loop thread starts and cleared once it is joined; the
// threads test this instead of the thread object, which only its owner may
// touch.
std::atomic<bool> game_thread_started{false};
std::atomic<uint64_t> frame_limit{0};
int quit_exit_code = 0;
bool startup_hold_released = false;

bool DrawingOn() {
    if (TheFrameClock.skip_this_frame != 0) return false;
    bool movie = Hooks().window_movie_playing != nullptr && Hooks().window_movie_playing();
    if (!movie) return true;
    return Hooks().draw_during_window_movie != nullptr && Hooks().draw_during_window_movie();
}

// The workers are idle when none exists in this build, or when one of them
// waits for its next job.
bool WorkersIdle() { return Hooks().start_worker_threads == nullptr || WorkerWaitingFlag.load() == 1; }

void GameLoopThreadProc() {
    MarkGameLoopThread();
    {
        std::lock_guard lock(EngineLock);
        GameThreadState = 0;
    }
    while (FrameStep() == 0) {
        uint64_t limit = frame_limit.load();
        if (limit != 0 && TheFrameCounters.frame_count >= limit) {
            NoteStopCause(StopCause::kFrameLimit);
            break;
        }
    }
    RequestQuit();
    std::lock_guard lock(EngineLock);
    GameThreadState = 9;
}

void StopAtFrameLimit() {
    uint64_t limit = frame_limit.load();
    if (limit != 0 && TheFrameCounters.frame_count >= limit && QuitFlag == 0) {
        NoteStopCause(StopCause::kFrameLimit);
        RequestQuit();
    }
}

// The frame itself raised the quit (its script, a fatal report, a failed
// drawing): the frame step stops the engine.
int8_t FrameStopsTheEngine() {
    NoteStopCause(StopCause::kGame);
    return 1;
}
}  // namespace

bool GameThreadMode() { return Settings().game_loop_thread != 0; }

void SetFrameLimit(uint64_t frames) { frame_limit = frames; }
uint64_t FrameLimit() { return frame_limit.load(); }

uint8_t PaceFrame() {
    FrameClock& clock = TheFrameClock;
    // A rate of 0 or less cannot pace; treat it as one frame a second
    // rather than dividing by zero.
    uint32_t rate = clock.frame_rate > 0 ? static_cast<uint32_t>(clock.frame_rate) : 1u;
    uint32_t period16 = 65536000u / rate;
    uint32_t now = platform::TimeGetTime();
    clock.frame_time = now;
    clock.period_accumulator = (clock.period_accumulator & 0xFFFF) + period16;
    uint32_t period = clock.period_accumulator >> 16;
    uint32_t elapsed = now - clock.reference_time;  // wraps with the clock
    // The models advance by the time the last frame took; the next frame
    // advances them by this one's.
    if (EmoteLibraryLoaded()) {
        AdvancePendingEmoteTime();
        RecordEmoteElapsed(elapsed);
    }

    EnterPacingSection();
    uint8_t result = 0;
    if (elapsed < period) {
        platform::SleepMs(period - elapsed);
        clock.reference_time += period;
        clock.frame_time = platform::TimeGetTime();
    } else {
        uint32_t lateness = elapsed - period;
        if (lateness >= 250) lateness = 0;
        // A run with a frame limit is a test or a capture: every frame is drawn,
        // so what it shows does not depend on the machine's load.
        bool may_skip = clock.frame_skip != 0 && frame_limit.load() == 0;
        result = (lateness >= 3 * period && may_skip) ? 1 : 0;
        clock.frame_time = now + lateness;
        clock.reference_time = now + lateness;
    }
    // Window messages are handled only between frames: on the game-loop
    // thread the pacing section lasts while the main thread runs a window
    // procedure.
    LeavePacingSection();
    return result;
}

int8_t FrameStep() {
    // A run that plays an input script takes the frame's scripted input
    // here, between frames, where a player's messages arrive: a close
    // button it presses ends the run before the frame counts, as it does
    // when the main loop's drain handles the click.
    if (Hooks().take_scripted_input != nullptr) {
        const bool quit_before = QuitFlag.load() != 0;
        Hooks().take_scripted_input();
        if (!quit_before && QuitFlag.load() != 0) return 1;
    }
    TheFrameCounters.frame_count += 1;
    if (ExitBoxOpen.load() != 0) return 0;
    if (QuitFlag.load() != 0) return 1;
    if (Hooks().advance_layer_movie != nullptr) Hooks().advance_layer_movie();
    if (Hooks().update_input_state != nullptr) Hooks().update_input_state();

    do {
        TheFrameCounters.rerun_request = 0;
        TheFrameCounters.script_pass_count += 1;
        int walk = Hooks().run_task_tree != nullptr ? Hooks().run_task_tree() : 0;
        uint8_t quit = static_cast<uint8_t>(QuitFlag.load() | static_cast<uint8_t>(walk));
        QuitFlag = quit;
        if (quit != 0) return FrameStopsTheEngine();
    } while (TheFrameCounters.rerun_request != 0);

    if (DrawingOn() && Hooks().compose_window != nullptr) {
        for (int w = 0; w < kWindowCount; ++w)
            if (Hooks().compose_window(w) != 0) return FrameStopsTheEngine();
    }

    if (TheFrameClock.first_frame_done == 0) {
        TheFrameClock.first_frame_done = 1;
        MarkStartupPhase("first frame");
        WindowRecord* main_record = MainWindowRecord();
        if (main_record != nullptr && main_record->shown == 1 && main_record->window != platform::kNoWindow) {
            platform::WindowHandle window = main_record->window;
            CallOnMainThread([window] { platform::GetWindowSystem().ShowWindow(window, platform::SW_SHOW); });
        }
    }

    TheFrameClock.skip_next_frame = PaceFrame();
    // A model that changes by itself is redrawn with the whole GPU frame.
    if (EmoteLibraryLoaded() && PollEmotePlayers() != 0) TheLayerGpuRequests().full_redraw = 1;
    if (Hooks().update_fullscreen_menu_strip != nullptr) Hooks().update_fullscreen_menu_strip();

    if (DrawingOn()) {
        if (Hooks().request_window_paint != nullptr) {
            for (int w = 0; w < kWindowCount; ++w)
                if (Hooks().request_window_paint(w) != 0) return FrameStopsTheEngine();
        }
        if (Hooks().reset_dirty_rects != nullptr) Hooks().reset_dirty_rects();
    }
    if (Hooks().show_requested_popup_menu != nullptr) Hooks().show_requested_popup_menu();
    TheFrameClock.skip_this_frame = TheFrameClock.skip_next_frame;
    const int8_t quit = static_cast<int8_t>(QuitFlag.load());
    if (quit != 0) NoteStopCause(StopCause::kGame);
    return quit;
}

namespace {
// `for_frame`: the frame's thread waits for this drain (DrainMessagesForFrame).
void Drain(bool for_frame) {
    auto& windows = platform::GetWindowSystem();
    platform::Message message;
    while (windows.PeekMessage(message, false)) {
        // Counted in as a window procedure from before the look at the
        // pacing flag to the end of the dispatch: the game-loop thread
        // cannot leave its pacing section in between, and every procedure
        // the message reaches (with an engine record or not) runs inside it.
        InWindowProcScope procedure;
        if (for_frame) {
            // The main loop ends on WM_QUIT; a frame in the middle of its
            // step leaves it there.
            if (message.message == platform::WM_QUIT) break;
        } else if (game_thread_started.load() && GameThreadState.load() != 9 &&
                   (PacingFlag.load() == 0 || !WorkersIdle())) {
            break;
        }
        if (!windows.GetMessage(message)) {
            quit_exit_code = static_cast<int>(message.wparam);
            RunFlag = 0;
            break;
        }
        if (message.window == platform::kNoWindow && message.message == platform::WM_HOST_CLOSE_REQUEST) {
            // The host asks the program to end (SIGINT, SIGTERM): close as a
            // script's quit does, without asking, so shutdown runs in order.
            NoteStopCause(StopCause::kSignal);
            RequestQuit();
            continue;
        }
        // A message whose procedure raises the quit (the close button,
        // answered "yes" when asked) is a close request. Noted inside the
        // procedure scope: the game-loop thread's frame cannot see the
        // raised flag first.
        const bool quit_before = QuitFlag.load() != 0;
        windows.DispatchMessage(message);
        if (!quit_before && QuitFlag.load() != 0) NoteStopCause(StopCause::kCloseRequest);
    }
}
}  // namespace

void DrainMessages() { Drain(false); }

void DrainMessagesForFrame() { Drain(true); }

void ReleaseStartupHold() {
    if (startup_hold_released) return;
    startup_hold_released = true;
    InWindowProcFlag.fetch_sub(1);
}

int RunMainLoop() {
    DrainMessages();
    // The count starts at 1 so the game-loop thread waits until the main
    // thread has pumped once.
    ReleaseStartupHold();
    while (RunFlag.load() != 0) {
        if (QuitFlag.load() != 0) {
            platform::SleepMs(1);
        } else {
            if (Hooks().poll_input != nullptr) Hooks().poll_input();
            if (game_thread_started.load()) {
                platform::SleepMs(1);
            } else {
                if (FrameStep() != 0) RequestQuit();
                StopAtFrameLimit();
            }
        }
        RunPendingMainThreadCalls();
        DrainMessages();
    }
    // The loop ended with no cause noted: the main window went away on its
    // own (closed by the window system), or something outside a frame
    // raised the quit.
    NoteStopCause(QuitFlag.load() != 0 ? StopCause::kGame : StopCause::kCloseRequest);
    return quit_exit_code;
}

void StartGameThread() {
    if (!GameThreadMode()) return;
    game_thread_started = true;
    game_thread = std::thread(GameLoopThreadProc);
}

void JoinGameThread() {
    if (game_thread.joinable()) game_thread.join();
    game_thread_started = false;
}

void ResetMainLoopState() {
    JoinGameThread();
    frame_limit = 0;
    quit_exit_code = 0;
    ResetStopCause();
    startup_hold_released = false;
}

void BeginTimerPeriod() {
    // The platform clock already reads in whole milliseconds and sleeps
    // precisely; there is no timer resolution to raise.
}
void EndTimerPeriod() {}

}  // namespace zk
