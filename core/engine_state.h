// Engine-wide flags, the engine lock and the frame records shared by the
// main thread, the game-loop thread and the workers. Cross-thread flags are
// atomic so that each is always read and written whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace zk {

// Non-zero asks every loop and thread to stop; never lowered during a run.
extern std::atomic<uint8_t> QuitFlag;
// The main loop runs while set; cleared when WM_QUIT is taken.
extern std::atomic<uint8_t> RunFlag;
// The engine-wide critical section: recursive, as a critical section is,
// and aware of whether the calling thread holds it. A thread that holds it
// must not wait for the main thread (the main thread may be waiting for the
// lock); work that would wait, such as showing a dialog, is put off until
// the thread lets go. There is one: EngineLock.
class EngineMutex {
public:
    void lock();
    bool try_lock();
    void unlock();
    // True when the calling thread holds the lock.
    bool HeldHere() const;
    // Runs `work` once the calling thread no longer holds the lock: right
    // after its outermost unlock, in the order asked; at once when it does
    // not hold the lock.
    void RunAfterRelease(std::function<void()> work);

private:
    std::recursive_mutex mutex_;
};
extern EngineMutex EngineLock;

// -1 never started, 0 running, 9 ended (written under EngineLock).
extern std::atomic<int8_t> GameThreadState;
// 1 while PaceFrame is in its pacing section.
extern std::atomic<int32_t> PacingFlag;
// 1 while an image worker waits for its start event.
extern std::atomic<int32_t> WorkerWaitingFlag;
// How many window procedures are running on the main thread: every engine
// window procedure counts itself in, and the message drain counts each
// message it hands on from before it looks at PacingFlag. A nested message
// (a procedure that sends another message) must not end the game-loop
// thread's wait early, so this counts rather than flags; it starts at 1 so
// that the game-loop thread waits until the main loop first pumps.
extern std::atomic<int32_t> InWindowProcFlag;

// Counts the calling thread in as running a window procedure for as long as
// it lives; nested procedures count again.
class InWindowProcScope {
public:
    InWindowProcScope() { InWindowProcFlag.fetch_add(1); }
    ~InWindowProcScope() { InWindowProcFlag.fetch_sub(1); }
    InWindowProcScope(const InWindowProcScope&) = delete;
    InWindowProcScope& operator=(const InWindowProcScope&) = delete;
};

struct FrameClock {
    int32_t frame_rate = 60;
    int32_t frame_skip = 1;
    uint32_t reference_time = 0;
    std::atomic<uint32_t> frame_time{0};
    uint32_t period_accumulator = 0;  // 16.16 ms; only the fraction is carried
    uint8_t skip_this_frame = 0;
    uint8_t skip_next_frame = 0;
    uint8_t first_frame_done = 0;
};
extern FrameClock TheFrameClock;

struct FrameCounters {
    uint64_t frame_count = 0;
    uint64_t script_pass_count = 0;
    uint64_t rerun_request = 0;
};
extern FrameCounters TheFrameCounters;

// Raises QuitFlag, makes the main window close without asking and posts it
// WM_CLOSE.
void RequestQuit();
// Sets the reference time to now, so time spent loading is not lateness.
void ResetFrameClock();

// Restores every value above to its start-of-process state (tests).
void ResetEngineState();

}  // namespace zk
