// The auto-reset event, the ideal-processor hint and the processor count.
#include "platform/sync.h"

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <chrono>

namespace zk::platform {

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    // One waiter at most passes: the first one to take the lock resets the
    // flag, so waking more than one would only make the others sleep again.
    cv_.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

void AutoResetEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
}

bool AutoResetEvent::WaitFor(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    // std::condition_variable measures the time-out on the steady clock, so
    // a change of the wall clock neither shortens nor stretches it.
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; })) return false;
    signalled_ = false;
    return true;
}

namespace {

// The process's allowed processor set, sized for however many processors the
// kernel knows (a fixed cpu_set_t covers only 1024).
struct CpuSet {
    cpu_set_t* set = nullptr;
    size_t bytes = 0;
    int count = 0;  // processors that CPU_ALLOC made room for
    ~CpuSet() {
        if (set != nullptr) CPU_FREE(set);
    }
};

bool GetProcessAffinity(CpuSet& out) {
    for (int count = 1024; count <= (1 << 20); count *= 2) {
        cpu_set_t* set = CPU_ALLOC(count);
        if (set == nullptr) return false;
        size_t bytes = CPU_ALLOC_SIZE(count);
        CPU_ZERO_S(bytes, set);
        if (sched_getaffinity(0, bytes, set) == 0) {
            out.set = set;
            out.bytes = bytes;
            out.count = count;
            return true;
        }
        CPU_FREE(set);
        if (errno != EINVAL) return false;  // EINVAL: the mask is too small, try a larger one
    }
    return false;
}

}  // namespace

// Windows' SetThreadIdealProcessor is a preference the scheduler may ignore;
// it never narrows the set of processors a thread may run on. Linux has no
// such preference, only the hard affinity mask, so this is a best effort:
// the thread is pinned to the chosen processor for a moment, which moves it
// there if it is running or runnable, and then given back its own mask. The
// scheduler tends to keep a thread on the processor it last ran on, so the
// thread usually goes on there, and it stays free to move anywhere later. A
// thread that is asleep at the time keeps its old processor. Processor
// numbers count the processors the thread may use (the n-th allowed one,
// modulo their number), because the engine asks for 0..ProcessorCount()-1
// and a restricted process may not own processor 0.
void SetThreadIdealProcessor(std::thread& thread, int processor) {
    if (!thread.joinable() || processor < 0) return;
    pthread_t handle = thread.native_handle();
    CpuSet own;
    for (int count = 1024; count <= (1 << 20) && own.set == nullptr; count *= 2) {
        cpu_set_t* set = CPU_ALLOC(count);
        if (set == nullptr) return;
        size_t bytes = CPU_ALLOC_SIZE(count);
        CPU_ZERO_S(bytes, set);
        int error = pthread_getaffinity_np(handle, bytes, set);
        if (error == 0) {
            own.set = set;
            own.bytes = bytes;
            own.count = count;
        } else {
            CPU_FREE(set);
            if (error != EINVAL) return;  // EINVAL: the mask is too small, try a larger one
        }
    }
    if (own.set == nullptr) return;
    int available = CPU_COUNT_S(own.bytes, own.set);
    if (available <= 1) return;  // nothing to choose between
    int wanted = processor % available;
    int cpu = -1;
    for (int i = 0, seen = 0; i < own.count; ++i) {
        if (!CPU_ISSET_S(i, own.bytes, own.set)) continue;
        if (seen++ == wanted) {
            cpu = i;
            break;
        }
    }
    if (cpu < 0) return;  // NEVER: `wanted` is below the number of set bits

    CpuSet one;
    one.set = CPU_ALLOC(own.count);
    if (one.set == nullptr) return;
    one.bytes = own.bytes;
    one.count = own.count;
    CPU_ZERO_S(one.bytes, one.set);
    CPU_SET_S(cpu, one.bytes, one.set);
    if (pthread_setaffinity_np(handle, one.bytes, one.set) != 0) return;
    // Give the thread its own mask back at once: the hint must not restrict
    // it. A failure here would leave it pinned, so try once more.
    if (pthread_setaffinity_np(handle, own.bytes, own.set) != 0) pthread_setaffinity_np(handle, own.bytes, own.set);
}

int ProcessorCount() {
    CpuSet allowed;
    if (!GetProcessAffinity(allowed)) return 1;
    int count = CPU_COUNT_S(allowed.bytes, allowed.set);
    return count >= 1 ? count : 1;
}

}  // namespace zk::platform
