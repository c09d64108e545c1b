// The engine's millisecond clock: a uint32 count that wraps like the
// multimedia timer it stands in for, a precise sleep, and the local date and
// time. Tests install a ManualClock so pacing can be driven frame by frame
// and the date is one the test chose.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zk::platform {

// A local date and time, field by field (day of week 0 = Sunday).
struct LocalTime {
    uint16_t year = 0, month = 0, day_of_week = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
    bool operator==(const LocalTime&) const = default;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t NowMs() = 0;          // wraps after 2^32 ms
    virtual void SleepMs(uint32_t ms) = 0;  // 0 yields the processor
    virtual LocalTime LocalNow() = 0;       // the wall clock in the local time zone
};

// CLOCK_MONOTONIC in milliseconds, truncated to 32 bits; sleeps with an
// absolute deadline so short sleeps do not drift.
class SystemClock final : public Clock {
public:
    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;
    LocalTime LocalNow() override;
};

// Test double: time moves only when told to, or by the sleeps the code
// under test asks for. Every sleep is recorded. The local date and time is
// whatever the test set (Saturday 2000-01-01 00:00:00.000 until then); it
// does not follow the millisecond count.
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint32_t start_ms = 0) : now_(start_ms) {}
    uint32_t NowMs() override { return now_.load(); }
    void SleepMs(uint32_t ms) override;
    void Set(uint32_t ms) { now_.store(ms); }
    void Advance(uint32_t ms) { now_.fetch_add(ms); }
    std::vector<uint32_t> Sleeps();
    void ClearSleeps();
    LocalTime LocalNow() override;
    void SetLocalTime(const LocalTime& time);

private:
    std::atomic<uint32_t> now_;
    std::mutex mutex_;
    std::vector<uint32_t> sleeps_;
    LocalTime local_{2000, 1, 6, 1, 0, 0, 0, 0};
};

// The clock the engine uses. InstallClock(nullptr) restores the system clock.
Clock& GetClock();
void InstallClock(Clock* clock);

inline uint32_t TimeGetTime() { return GetClock().NowMs(); }
inline LocalTime GetLocalTime() { return GetClock().LocalNow(); }
inline void SleepMs(uint32_t ms) { GetClock().SleepMs(ms); }

}  // namespace zk::platform
