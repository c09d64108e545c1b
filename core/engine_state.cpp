#include "core/engine_state.h"

#include <utility>
#include <vector>

#include "core/window_record.h"
#include "platform/clock.h"
#include "platform/window_system.h"

namespace zk {

std::atomic<uint8_t> QuitFlag{0};
std::atomic<uint8_t> RunFlag{1};
EngineMutex EngineLock;
std::atomic<int8_t> GameThreadState{-1};
std::atomic<int32_t> PacingFlag{0};
std::atomic<int32_t> WorkerWaitingFlag{0};
std::atomic<int32_t> InWindowProcFlag{1};
FrameClock TheFrameClock;
FrameCounters TheFrameCounters;

namespace {
// Per thread: how deep it holds EngineLock, and what waits for its release.
thread_local int engine_lock_depth = 0;
thread_local std::vector<std::function<void()>> after_engine_lock;
}  // namespace

void EngineMutex::lock() {
    mutex_.lock();
    ++engine_lock_depth;
}

bool EngineMutex::try_lock() {
    if (!mutex_.try_lock()) return false;
    ++engine_lock_depth;
    return true;
}

void EngineMutex::unlock() {
    mutex_.unlock();
    if (--engine_lock_depth != 0 || after_engine_lock.empty()) return;
    // Taken out first: the work may lock again and put off more work.
    std::vector<std::function<void()>> work = std::move(after_engine_lock);
    after_engine_lock.clear();
    for (const auto& run : work) run();
}

bool EngineMutex::HeldHere() const { return engine_lock_depth > 0; }

void EngineMutex::RunAfterRelease(std::function<void()> work) {
    if (engine_lock_depth == 0) {
        work();
        return;
    }
    after_engine_lock.push_back(std::move(work));
}

void RequestQuit() {
    QuitFlag = 1;
    WindowRecord* main_record = MainWindowRecord();
    if (main_record == nullptr) return;
    main_record->close_behaviour = 2;
    if (main_record->window != platform::kNoWindow && platform::HasWindowSystem())
        platform::GetWindowSystem().PostMessage(main_record->window, platform::WM_CLOSE, 0, 0);
}

void ResetFrameClock() { TheFrameClock.reference_time = platform::TimeGetTime(); }

void ResetEngineState() {
    QuitFlag = 0;
    RunFlag = 1;
    GameThreadState = -1;
    PacingFlag = 0;
    WorkerWaitingFlag = 0;
    InWindowProcFlag = 1;
    TheFrameClock.frame_rate = 60;
    TheFrameClock.frame_skip = 1;
    TheFrameClock.reference_time = 0;
    TheFrameClock.frame_time = 0;
    TheFrameClock.period_accumulator = 0;
    TheFrameClock.skip_this_frame = 0;
    TheFrameClock.skip_next_frame = 0;
    TheFrameClock.first_frame_done = 0;
    TheFrameCounters = {};
}

}  // namespace zk
