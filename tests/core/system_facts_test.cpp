// The processor and worker counts: the host's processor count kept within
// a signed byte, the worker count from it and the user's worker limit, and
// ReadSystemFacts taking both from the processors this thread may use.
#include <sched.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "core/settings.h"
#include "core/system_facts.h"

namespace zk {
namespace {

// Workers = min(limit, max(processors, 1)); the limit is 4, or 1 when the
// user setting asks for a single worker.
int ExpectedWorkers(int processors, int limit) { return std::min(limit, std::max(processors, 1)); }

TEST(SystemFactsTest, ProcessorCountIsCappedToASignedByte) {
    struct Case {
        int host;
        int kept;
    };
    // 128 and more would not fit; their low byte would read as 0 (256),
    // -56 (200) or -128 (128).
    const Case cases[] = {{INT_MIN, 1}, {-5, 1}, {0, 1},     {1, 1},      {8, 8},       {127, 127},
                          {128, 127},   {200, 127}, {256, 127}, {1000, 127}, {INT_MAX, 127}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        const int8_t kept = ProcessorCountFor(c.host);
        EXPECT_EQ(kept, c.kept);
        for (int limit : {4, 1}) {
            EXPECT_EQ(WorkerCountFor(kept, limit), ExpectedWorkers(c.kept, limit)) << "limit " << limit;
        }
    }
}

TEST(SystemFactsTest, WorkerCountFollowsProcessorsAndLimit) {
    for (int processors : {-128, -1, 0, 1, 2, 3, 4, 5, 8, 127}) {
        for (int limit : {4, 1}) {
            EXPECT_EQ(WorkerCountFor(processors, limit), ExpectedWorkers(processors, limit))
                << processors << " processors, limit " << limit;
        }
    }
}

// Restores the calling thread's processors, the facts and the settings.
class ReadSystemFactsTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_facts_ = TheSystemFacts();
        ASSERT_EQ(sched_getaffinity(0, sizeof(allowed_), &allowed_), 0);
        ResetSettings();
    }
    void TearDown() override {
        sched_setaffinity(0, sizeof(allowed_), &allowed_);
        TheSystemFacts() = saved_facts_;
        ResetSettings();
    }

    cpu_set_t allowed_{};
    SystemFacts saved_facts_;
};

TEST_F(ReadSystemFactsTest, CountsTheProcessorsThisThreadMayUse) {
    const int host = CPU_COUNT(&allowed_);
    ASSERT_GE(host, 1);
    for (int limit : {4, 1}) {
        Settings().worker_limit = static_cast<uint8_t>(limit);
        ASSERT_EQ(ReadSystemFacts(), 0);
        EXPECT_EQ(TheSystemFacts().processor_count, std::min(host, 127));
        EXPECT_EQ(TheSystemFacts().worker_count, ExpectedWorkers(std::min(host, 127), limit));
    }

    // Held to one processor: one processor, one worker.
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed_)) {
            CPU_SET(cpu, &one);
            break;
        }
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof(one), &one), 0);
    Settings().worker_limit = 4;
    ASSERT_EQ(ReadSystemFacts(), 0);
    EXPECT_EQ(TheSystemFacts().processor_count, 1);
    EXPECT_EQ(TheSystemFacts().worker_count, 1);
}

}  // namespace
}  // namespace zk
