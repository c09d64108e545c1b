// Synchronisation stand-ins: the auto-reset event, and the scheduling hint
// that asks for a thread to prefer one processor.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace zk::platform {

// An auto-reset event: Set wakes one waiter (or the next one to wait) and
// the event resets itself as that waiter passes.
class AutoResetEvent {
public:
    explicit AutoResetEvent(bool initially_signalled = false) : signalled_(initially_signalled) {}
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set();
    void Reset();
    void Wait();
    // true when the event was taken, false on time-out.
    bool WaitFor(uint32_t timeout_ms);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
};

// A hint only: Linux has no "ideal processor", so the thread keeps every
// processor available and this asks the scheduler to start it on `processor`.
void SetThreadIdealProcessor(std::thread& thread, int processor);

// Number of processors the process may run on (at least 1).
int ProcessorCount();

}  // namespace zk::platform
