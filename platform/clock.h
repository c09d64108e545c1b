// The engine's millisecond clock: a uint32 count that wraps like the
// multimedia timer it stands in for, and a precise sleep. Tests install a
// ManualClock so pacing can be driven frame by frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zk::platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint32_t NowMs() = 0;          // wraps after 2^32 ms
    virtual void SleepMs(uint32_t ms) = 0;  // 0 yields the processor
};

// CLOCK_MONOTONIC in milliseconds, truncated to 32 bits; sleeps with an
// absolute deadline so short sleeps do not drift.
class SystemClock final : public Clock {
public:
    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;
};

// Test double: time moves only when told to, or by the sleeps the code
// under test asks for. Every sleep is recorded.
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint32_t start_ms = 0) : now_(start_ms) {}
    uint32_t NowMs() override { return now_.load(); }
    void SleepMs(uint32_t ms) override;
    void Set(uint32_t ms) { now_.store(ms); }
    void Advance(uint32_t ms) { now_.fetch_add(ms); }
    std::vector<uint32_t> Sleeps();
    void ClearSleeps();

private:
    std::atomic<uint32_t> now_;
    std::mutex mutex_;
    std::vector<uint32_t> sleeps_;
};

// The clock the engine uses. InstallClock(nullptr) restores the system clock.
Clock& GetClock();
void InstallClock(Clock* clock);

inline uint32_t TimeGetTime() { return GetClock().NowMs(); }
inline void SleepMs(uint32_t ms) { GetClock().SleepMs(ms); }

}  // namespace zk::platform
