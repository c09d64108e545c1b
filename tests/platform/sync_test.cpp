// The auto-reset event, the ideal-processor hint and the processor count.
#include "platform/sync.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace zk::platform {
namespace {

using namespace std::chrono_literals;

TEST(AutoResetEventTest, StartsUnsignalledByDefault) {
    AutoResetEvent event;
    EXPECT_FALSE(event.WaitFor(0));
    EXPECT_FALSE(event.WaitFor(10));
}

TEST(AutoResetEventTest, InitiallySignalledPassesOnce) {
    AutoResetEvent event(true);
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_FALSE(event.WaitFor(0));  // it reset itself as the waiter passed
}

TEST(AutoResetEventTest, SetsDoNotCount) {
    AutoResetEvent event;
    event.Set();
    event.Set();
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_FALSE(event.WaitFor(0));  // an event, not a semaphore
}

TEST(AutoResetEventTest, ResetClearsAPendingSet) {
    AutoResetEvent event;
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.WaitFor(0));
}

TEST(AutoResetEventTest, WaitReturnsAfterSetFromAnotherThread) {
    AutoResetEvent event;
    std::thread setter([&event] {
        std::this_thread::sleep_for(20ms);
        event.Set();
    });
    auto start = std::chrono::steady_clock::now();
    event.Wait();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 15ms);
    setter.join();
    EXPECT_FALSE(event.WaitFor(0));
}

TEST(AutoResetEventTest, WaitForTimesOut) {
    AutoResetEvent event;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.WaitFor(30));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 30ms);
    EXPECT_LT(elapsed, 1000ms);
}

TEST(AutoResetEventTest, OneSetWakesExactlyOneWaiter) {
    AutoResetEvent event;
    std::atomic<int> passed{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event.WaitFor(5000)) passed.fetch_add(1);
        });
    std::this_thread::sleep_for(30ms);  // let them all block
    EXPECT_EQ(passed.load(), 0);
    for (int expected = 1; expected <= 3; ++expected) {
        event.Set();
        auto deadline = std::chrono::steady_clock::now() + 2s;
        while (passed.load() < expected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);  // a second waiter passing would show by now
        EXPECT_EQ(passed.load(), expected);
    }
    for (auto& waiter : waiters) waiter.join();
    EXPECT_FALSE(event.WaitFor(0));
}

TEST(AutoResetEventTest, PingPongBetweenThreads) {
    // The worker handshake shape: start, acknowledge, done (done starts signalled).
    AutoResetEvent start, ack, done(true);
    int counter = 0;
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) {
            start.Wait();
            ack.Set();
            ++counter;
            done.Set();
        }
    });
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(done.WaitFor(5000));
        start.Set();
        ASSERT_TRUE(ack.WaitFor(5000));
    }
    ASSERT_TRUE(done.WaitFor(5000));
    worker.join();
    EXPECT_EQ(counter, 1000);
}

// Contention: two threads hand one token back and forth many times, half
// of the rounds after a pause long enough that the waiter has gone to sleep
// in the kernel. A lost wake-up shows as a time-out.
TEST(AutoResetEventTest, ManyHandOffsLoseNoWakeUp) {
    AutoResetEvent ping, pong;
    constexpr int kRounds = 20000;
    std::atomic<int> timeouts{0};
    std::thread other([&] {
        for (int i = 0; i < kRounds; ++i) {
            if (!ping.WaitFor(5000)) timeouts.fetch_add(1);
            pong.Set();
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        if (i % 2000 == 0) std::this_thread::sleep_for(2ms);  // the other side sleeps
        ping.Set();
        if (!pong.WaitFor(5000)) timeouts.fetch_add(1);
    }
    other.join();
    EXPECT_EQ(timeouts.load(), 0);
    EXPECT_FALSE(ping.WaitFor(0));
    EXPECT_FALSE(pong.WaitFor(0));
}

// Several setters and several waiters on one event: every set that is
// followed by a waiter's pass is counted once, and nobody hangs.
TEST(AutoResetEventTest, SettersAndWaitersUnderContention) {
    AutoResetEvent event;
    constexpr int kWaiters = 3, kPasses = 3000;
    std::atomic<int> passed{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> waiters;
    for (int w = 0; w < kWaiters; ++w)
        waiters.emplace_back([&] {
            while (!stop.load()) {
                if (event.WaitFor(20)) passed.fetch_add(1);
            }
        });
    std::vector<std::thread> setters;
    for (int t = 0; t < 2; ++t)
        setters.emplace_back([&] {
            for (;;) {
                const int seen = passed.load();
                if (seen >= kPasses) return;
                event.Set();
                // Wait until some waiter has taken a set before the next.
                auto deadline = std::chrono::steady_clock::now() + 2s;
                while (passed.load() == seen && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
                if (passed.load() == seen) return;  // a lost wake-up: the count stays short
            }
        });
    for (auto& setter : setters) setter.join();
    stop = true;
    event.Set();
    for (auto& waiter : waiters) waiter.join();
    EXPECT_GE(passed.load(), kPasses);
}

std::vector<int> ThreadCpus(pthread_t thread) {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (pthread_getaffinity_np(thread, sizeof(set), &set) != 0) return cpus;
    for (int i = 0; i < CPU_SETSIZE; ++i)
        if (CPU_ISSET(i, &set)) cpus.push_back(i);
    return cpus;
}

TEST(ProcessorTest, CountMatchesTheAffinityMask) {
    int count = ProcessorCount();
    EXPECT_GE(count, 1);
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof(set), &set), 0);
    EXPECT_EQ(count, CPU_COUNT(&set));
}

TEST(ProcessorTest, IdealProcessorIsOnlyAHint) {
    std::atomic<bool> stop{false};
    AutoResetEvent hinted;
    std::thread thread([&] {
        hinted.Wait();
        while (!stop.load()) std::this_thread::yield();
    });
    std::vector<int> before = ThreadCpus(thread.native_handle());
    for (int processor = 0; processor < ProcessorCount() + 2; ++processor)
        SetThreadIdealProcessor(thread, processor);  // out of range wraps; never fails loudly
    SetThreadIdealProcessor(thread, -1);
    hinted.Set();
    // The thread may still run on every processor it could before.
    EXPECT_EQ(ThreadCpus(thread.native_handle()), before);
    stop = true;
    thread.join();

    std::thread finished;  // not joinable: nothing to do
    SetThreadIdealProcessor(finished, 0);
}

}  // namespace
}  // namespace zk::platform
