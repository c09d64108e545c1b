// The millisecond clock: the manual double, the system clock's wrap and
// sleep precision, and the installed-clock pointer.
#include "platform/clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace zk::platform {
namespace {

TEST(ManualClockTest, SleepsAdvanceTimeAndAreRecorded) {
    ManualClock clock(100);
    EXPECT_EQ(clock.NowMs(), 100u);
    clock.SleepMs(16);
    clock.SleepMs(0);
    clock.SleepMs(17);
    EXPECT_EQ(clock.NowMs(), 133u);
    EXPECT_EQ(clock.Sleeps(), (std::vector<uint32_t>{16, 0, 17}));
    clock.ClearSleeps();
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(clock.NowMs(), 133u);  // clearing the record leaves the time alone
}

TEST(ManualClockTest, SetAdvanceAndWrap) {
    ManualClock clock;
    clock.Set(0xFFFFFFF0u);
    clock.Advance(0x08);
    EXPECT_EQ(clock.NowMs(), 0xFFFFFFF8u);
    clock.SleepMs(0x20);  // wraps like timeGetTime after 49.7 days
    EXPECT_EQ(clock.NowMs(), 0x18u);
    EXPECT_EQ(static_cast<uint32_t>(clock.NowMs() - 0xFFFFFFF0u), 0x28u);  // unsigned differences still work
}

TEST(ManualClockTest, SleepsFromSeveralThreadsAreAllRecorded) {
    ManualClock clock;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&clock] {
            for (int i = 0; i < 250; ++i) clock.SleepMs(1);
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(clock.Sleeps().size(), 1000u);
    EXPECT_EQ(clock.NowMs(), 1000u);
}

TEST(SystemClockTest, NowIsMonotonicMillisecondsTruncated) {
    SystemClock clock;
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    uint32_t now = clock.NowMs();
    timespec after{};
    clock_gettime(CLOCK_MONOTONIC, &after);
    auto ms = [](const timespec& ts) {
        uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);
    };
    EXPECT_LE(static_cast<uint32_t>(now - ms(before)), static_cast<uint32_t>(ms(after) - ms(before)));
}

TEST(SystemClockTest, SleepLastsAboutAsLongAsAsked) {
    SystemClock clock;
    for (uint32_t ms : {1u, 5u, 20u}) {
        auto start = std::chrono::steady_clock::now();
        uint32_t start_ms = clock.NowMs();
        clock.SleepMs(ms);
        auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(ms)) << ms;
        // Generous: a loaded CI machine may wake us late, never early.
        EXPECT_LT(elapsed, std::chrono::milliseconds(ms + 500)) << ms;
        EXPECT_GE(static_cast<uint32_t>(clock.NowMs() - start_ms), ms - 1) << ms;  // ms truncation
    }
}

TEST(SystemClockTest, ManyShortSleepsDoNotOversleepMuch) {
    SystemClock clock;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) clock.SleepMs(1);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(50));
    // An idle machine takes about 1.1 ms a sleep; 15 ms each allows a busy
    // CI machine and still catches a sleep of the wrong unit or a drift.
    EXPECT_LT(elapsed, std::chrono::milliseconds(750));
}

TEST(SystemClockTest, SleepZeroOnlyYields) {
    // A hundred sleeps of a millisecond or more can never take less than
    // 100 ms; a hundred yields do, at least in one of many rounds, however
    // busy the machine is (on a busy one a yield may wait out a time slice).
    SystemClock clock;
    std::chrono::steady_clock::duration best = std::chrono::hours(1);
    for (int round = 0; round < 50 && best >= std::chrono::milliseconds(100); ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 100; ++i) clock.SleepMs(0);
        best = std::min(best, std::chrono::steady_clock::now() - start);
    }
    EXPECT_LT(best, std::chrono::milliseconds(100));
}

TEST(ClockInstallTest, InstallAndRestore) {
    EXPECT_NE(dynamic_cast<SystemClock*>(&GetClock()), nullptr);
    ManualClock manual(5000);
    InstallClock(&manual);
    EXPECT_EQ(&GetClock(), &manual);
    EXPECT_EQ(TimeGetTime(), 5000u);
    SleepMs(40);
    EXPECT_EQ(TimeGetTime(), 5040u);
    EXPECT_EQ(manual.Sleeps(), std::vector<uint32_t>{40});
    InstallClock(nullptr);
    EXPECT_NE(dynamic_cast<SystemClock*>(&GetClock()), nullptr);
}

TEST(ClockInstallTest, OtherThreadsSeeTheInstalledClock) {
    ManualClock manual(77);
    InstallClock(&manual);
    uint32_t seen = 0;
    std::thread reader([&seen] { seen = TimeGetTime(); });
    reader.join();
    InstallClock(nullptr);
    EXPECT_EQ(seen, 77u);
}

}  // namespace
}  // namespace zk::platform
