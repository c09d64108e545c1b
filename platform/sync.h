// Synchronisation stand-ins: the auto-reset event, and the scheduling hint
// that asks for a thread to prefer one processor.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace zk::platform {

// An auto-reset event: Set wakes one waiter (or the next one to wait) and
// the event resets itself as that waiter passes.
//
// One 32-bit word holds the state (1 signalled, 0 not); a waiter first spins
// on it for a few microseconds, then sleeps on a futex. Set makes a system
// call only when some thread sleeps, so a hand-off between threads that are
// both awake costs two cache-line transfers. The spin is short and bounded:
// an idle engine's workers sleep in the kernel and burn no processor time.
class AutoResetEvent {
public:
    explicit AutoResetEvent(bool initially_signalled = false) : state_(initially_signalled ? 1u : 0u) {}
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set();
    void Reset();
    void Wait();
    // true when the event was taken, false on time-out.
    bool WaitFor(uint32_t timeout_ms);

private:
    bool TryTake();
    bool SpinTake();

    std::atomic<uint32_t> state_;
    std::atomic<uint32_t> sleepers_{0};  // threads in (or about to enter) the futex wait
};

// A hint only: Linux has no "ideal processor", so the thread keeps every
// processor available and this asks the scheduler to start it on `processor`.
void SetThreadIdealProcessor(std::thread& thread, int processor);

// Number of processors the process may run on (at least 1).
int ProcessorCount();

}  // namespace zk::platform
