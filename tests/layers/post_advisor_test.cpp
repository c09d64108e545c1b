// The post advisor: a job goes to the workers only once both ways were
// timed for its size and posting has been the cheaper; the other way is
// tried now and then so that a change in the machine's load is noticed.
#include "layers/post_advisor.h"

#include <gtest/gtest.h>

namespace zk {
namespace {

TEST(PostAdvisorTest, TimesBothWaysThenTakesTheCheaperPerSize) {
    PostAdvisor advisor;
    EXPECT_FALSE(advisor.ShouldPost(100'000, 4));  // nothing known: run inline
    advisor.RecordInline(100'000, 100e-6);
    EXPECT_TRUE(advisor.ShouldPost(100'000, 4));   // then try the pool
    advisor.RecordPosted(100'000, 150e-6);         // slower at this size
    EXPECT_FALSE(advisor.ShouldPost(100'000, 4));
    // A size four times larger is a class of its own, where the pool pays.
    advisor.RecordInline(400'000, 400e-6);
    advisor.RecordPosted(400'000, 150e-6);
    EXPECT_TRUE(advisor.ShouldPost(400'000, 4));
    EXPECT_FALSE(advisor.ShouldPost(400'000, 1));  // one worker never pays
    EXPECT_FALSE(advisor.ShouldPost(0, 4));
}

TEST(PostAdvisorTest, ProbesTheOtherWayAndForgetsOnReset) {
    PostAdvisor advisor;
    advisor.RecordInline(1'000, 1e-6);
    advisor.RecordPosted(1'000, 1e-3);  // a slow pool
    int posted = 0;
    for (uint32_t i = 0; i < 2 * PostAdvisor::kProbeEvery; ++i) posted += advisor.ShouldPost(1'000, 4) ? 1 : 0;
    EXPECT_EQ(posted, 2);
    // The pool became cheap: the probes' timings bring posting back.
    for (int i = 0; i < 40; ++i) advisor.RecordPosted(1'000, 0.2e-6);
    EXPECT_TRUE(advisor.ShouldPost(1'000, 4));
    advisor.Reset();
    EXPECT_FALSE(advisor.ShouldPost(1'000, 4));
}

}  // namespace
}  // namespace zk
