// The engine's millisecond clock over CLOCK_MONOTONIC, its test double, and
// the process-wide clock pointer.
#include "platform/clock.h"

#include <sched.h>
#include <time.h>

#include <cerrno>

namespace zk::platform {
namespace {

// Milliseconds of CLOCK_MONOTONIC, kept in 64 bits; NowMs truncates it the
// way timeGetTime wraps after 2^32 ms.
uint64_t MonotonicMs(const timespec& ts) {
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

std::atomic<Clock*> g_installed_clock{nullptr};

}  // namespace

uint32_t SystemClock::NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(MonotonicMs(ts));
}

void SystemClock::SleepMs(uint32_t ms) {
    if (ms == 0) {
        // Sleep(0) gives up the rest of the time slice and nothing more.
        sched_yield();
        return;
    }
    // An absolute deadline: a sleep interrupted by a signal resumes towards
    // the same end instead of starting its full length again.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000u);
    deadline.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // clock_nanosleep returns the error number itself (it does not set errno).
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

LocalTime SystemClock::LocalNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const time_t seconds = ts.tv_sec;
    tm local{};
    localtime_r(&seconds, &local);
    LocalTime t;
    t.year = static_cast<uint16_t>(local.tm_year + 1900);
    t.month = static_cast<uint16_t>(local.tm_mon + 1);
    t.day_of_week = static_cast<uint16_t>(local.tm_wday);
    t.day = static_cast<uint16_t>(local.tm_mday);
    t.hour = static_cast<uint16_t>(local.tm_hour);
    t.minute = static_cast<uint16_t>(local.tm_min);
    // A leap second shows as 60, as the local time of other systems does not:
    // keep it within the minute.
    t.second = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
    t.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000L);
    return t;
}

void ManualClock::SleepMs(uint32_t ms) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeps_.push_back(ms);
    }
    now_.fetch_add(ms);  // wraps modulo 2^32 like the real clock
    // A test that runs the code under test on another thread still lets the
    // driving thread in when that code polls with Sleep(0).
    if (ms == 0) sched_yield();
}

std::vector<uint32_t> ManualClock::Sleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
}

void ManualClock::ClearSleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
}

LocalTime ManualClock::LocalNow() {
    std::lock_guard<std::mutex> lock(mutex_);
    return local_;
}

void ManualClock::SetLocalTime(const LocalTime& time) {
    std::lock_guard<std::mutex> lock(mutex_);
    local_ = time;
}

Clock& GetClock() {
    // The system clock has no state, so one shared instance serves every
    // thread; a function-local static is safe to reach from any thread.
    static SystemClock system_clock;
    Clock* installed = g_installed_clock.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : system_clock;
}

// The installed clock must outlive its installation: a thread that fetched
// it just before InstallClock(nullptr) may still be calling it.
void InstallClock(Clock* clock) { g_installed_clock.store(clock, std::memory_order_release); }

}  // namespace zk::platform
