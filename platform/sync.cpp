// The auto-reset event (an atomic word and a futex), the ideal-processor
// hint and the processor count.
#include "platform/sync.h"
#include "base/never.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace zk::platform {

namespace {

// A waiter first spins a few pause rounds (a hand-off between two threads
// that are both running arrives within them), then gives its processor away
// with sched_yield until the yield window ends (on a busy machine the thread
// it waits for may need this very processor), and only then sleeps. The
// window is short and bounded: a waiter costs at most this much processor
// time before it sleeps, and an idle engine's workers sleep.
constexpr int kSpinRounds = 50;
constexpr auto kYieldWindow = std::chrono::microseconds(30);

void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Sleeps while *word == expected (or until woken, or the time-out ends);
// spurious returns are the caller's to handle.
void FutexWait(std::atomic<uint32_t>& word, uint32_t expected, const timespec* timeout) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
}

void FutexWakeOne(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the futex word is the atomic itself");

bool AutoResetEvent::TryTake() {
    uint32_t expected = 1;
    return state_.load(std::memory_order_relaxed) == 1 &&
           state_.compare_exchange_strong(expected, 0, std::memory_order_acquire, std::memory_order_relaxed);
}

bool AutoResetEvent::SpinTake() {
    for (int round = 0; round < kSpinRounds; ++round) {
        if (TryTake()) return true;
        CpuRelax();
    }
    const auto end = std::chrono::steady_clock::now() + kYieldWindow;
    do {
        if (TryTake()) return true;
        sched_yield();
    } while (std::chrono::steady_clock::now() < end);
    return TryTake();
}

void AutoResetEvent::Set() {
    // Sequentially consistent with the waiter's count-then-test: either the
    // waiter sees the state set, or this sees the waiter counted and wakes it
    // (the futex wait itself rechecks the state, so no wake-up is lost).
    state_.store(1, std::memory_order_seq_cst);
    // One waiter at most passes, so one is woken.
    if (sleepers_.load(std::memory_order_seq_cst) != 0) FutexWakeOne(state_);
}

void AutoResetEvent::Reset() { state_.store(0, std::memory_order_relaxed); }

void AutoResetEvent::Wait() {
    if (SpinTake()) return;
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    while (!TryTake()) FutexWait(state_, 0, nullptr);
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
}

bool AutoResetEvent::WaitFor(uint32_t timeout_ms) {
    if (TryTake()) return true;
    if (timeout_ms == 0) return false;
    if (SpinTake()) return true;
    // The time-out runs on the steady clock (the futex measures its relative
    // time-out on the monotonic clock), so a change of the wall clock neither
    // shortens nor stretches it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    bool taken = false;
    for (;;) {
        if (TryTake()) {
            taken = true;
            break;
        }
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) break;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec timeout{};
        timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        FutexWait(state_, 0, &timeout);
    }
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
    return taken;
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
    if (ZK_NEVER(cpu < 0)) return;  // `wanted` is below the number of set bits

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
