// Frame pacing and the frame step on a driven clock.
#include <gtest/gtest.h>

#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "engine/engine_commands.h"
#include "engine/main_loop.h"
#include "engine/window_proc.h"
#include "platform/clock.h"

namespace zk {
namespace {

class FrameStepTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        ResetWindowRequests();
        Hooks() = {};
        platform::InstallClock(&clock);
    }
    void TearDown() override {
        platform::InstallClock(nullptr);
        Hooks() = {};
        ResetEngineState();
    }
    platform::ManualClock clock{0};
};

TEST_F(FrameStepTest, SixtyFramesASecondCarryTheFraction) {
    std::vector<uint32_t> periods;
    uint32_t before = clock.NowMs();
    for (int frame = 0; frame < 600; ++frame) {
        EXPECT_EQ(PaceFrame(), 0);
        periods.push_back(clock.NowMs() - before);
        before = clock.NowMs();
        if (frame == 59) {
            EXPECT_EQ(clock.NowMs(), 999u);
        }
    }
    std::vector<uint32_t> first(periods.begin(), periods.begin() + 9);
    EXPECT_EQ(first, (std::vector<uint32_t>{16, 17, 16, 17, 17, 16, 17, 17, 16}));
    EXPECT_EQ(clock.NowMs(), 9999u);  // the period truncates to 1,092,266 in 16.16
}

// Command 28 with 30: frames take 33 or 34 ms, 33.333 on average.
TEST_F(FrameStepTest, ThirtyFramesASecondTake33Or34Ms) {
    SetFrameRate(30);
    uint32_t before = clock.NowMs();
    for (int frame = 0; frame < 300; ++frame) {
        EXPECT_EQ(PaceFrame(), 0);
        const uint32_t period = clock.NowMs() - before;
        EXPECT_TRUE(period == 33 || period == 34) << "frame " << frame << ": " << period;
        before = clock.NowMs();
    }
    EXPECT_EQ(clock.NowMs(), 9999u);
}

TEST_F(FrameStepTest, LatenessDecidesTheSkip) {
    struct Case {
        uint32_t lateness;
        int32_t frame_skip;
        uint8_t skip;
        uint32_t reference_after;  // relative to the frame's start
    };
    // The first frame's period is 16 ms, so three periods are 48 ms.
    const Case cases[] = {
        {40, 1, 0, 40},   // under three periods
        {48, 1, 1, 48},   // exactly three periods
        {84, 1, 1, 84},   //
        {84, 0, 0, 84},   // frame skipping off
        {249, 1, 1, 249}, //
        {250, 1, 0, 0},   // 250 ms or more is dropped
        {300, 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lateness);
        ResetEngineState();
        TheFrameClock.frame_skip = c.frame_skip;
        TheFrameClock.reference_time = 1000;
        uint32_t start = 1000 + 16 + c.lateness;
        clock.Set(start);
        clock.ClearSleeps();
        EXPECT_EQ(PaceFrame(), c.skip);
        EXPECT_TRUE(clock.Sleeps().empty());
        EXPECT_EQ(TheFrameClock.reference_time, start + c.reference_after);
        EXPECT_EQ(TheFrameClock.frame_time.load(), start + c.reference_after);
    }
}

TEST_F(FrameStepTest, PacingAcrossTheClockWrap) {
    TheFrameClock.reference_time = 0xFFFFFFF8u;
    clock.Set(0xFFFFFFFCu);  // 4 ms into a 16 ms period
    EXPECT_EQ(PaceFrame(), 0);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{12});
    EXPECT_EQ(TheFrameClock.reference_time, 8u);  // wrapped with the clock
    EXPECT_EQ(clock.NowMs(), 8u);

    // Late across the wrap: 0xFFFFFFF0 + 17 + 40 lands past zero.
    ResetEngineState();
    TheFrameClock.reference_time = 0xFFFFFFF0u;
    clock.Set(0xFFFFFFF0u + 16 + 40);
    EXPECT_EQ(PaceFrame(), 0);
    EXPECT_EQ(TheFrameClock.reference_time, 0xFFFFFFF0u + 16 + 40 + 40);
}

TEST_F(FrameStepTest, ReferenceAheadOfTheClockDropsTheLateness) {
    // After a late frame the reference time runs ahead of the clock; the next
    // frame reads a huge elapsed time, takes the late branch with L = 0 and
    // restarts from its own start.
    TheFrameClock.reference_time = 5000;
    clock.Set(4990);
    EXPECT_EQ(PaceFrame(), 0);
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(TheFrameClock.reference_time, 4990u);
}

struct HookCounts {
    int walks = 0;
    int composes = 0;
    int paints = 0;
    int resets = 0;
    int reruns_left = 0;
};
HookCounts counts;

void InstallCountingHooks() {
    counts = {};
    Hooks().run_task_tree = [] {
        ++counts.walks;
        if (counts.reruns_left > 0) {
            --counts.reruns_left;
            TheFrameCounters.rerun_request = 1;
        }
        return 0;
    };
    Hooks().compose_window = [](int) {
        ++counts.composes;
        return 0;
    };
    Hooks().request_window_paint = [](int) {
        ++counts.paints;
        return 0;
    };
    Hooks().reset_dirty_rects = [] { ++counts.resets; };
}

TEST_F(FrameStepTest, TaskStartRunsAnotherPassBeforeDrawing) {
    InstallCountingHooks();
    counts.reruns_left = 2;
    EXPECT_EQ(FrameStep(), 0);
    EXPECT_EQ(counts.walks, 3);
    EXPECT_EQ(TheFrameCounters.script_pass_count, 3u);
    EXPECT_EQ(TheFrameCounters.frame_count, 1u);
    EXPECT_EQ(counts.composes, 4);  // windows 0..3
    EXPECT_EQ(counts.paints, 4);
    EXPECT_EQ(counts.resets, 1);
}

TEST_F(FrameStepTest, ExitBoxIdlesTheFrameButCountsIt) {
    InstallCountingHooks();
    ExitBoxOpen = 1;
    EXPECT_EQ(FrameStep(), 0);
    EXPECT_EQ(FrameStep(), 0);
    EXPECT_EQ(TheFrameCounters.frame_count, 2u);
    EXPECT_EQ(counts.walks, 0);
    EXPECT_EQ(counts.composes, 0);
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(FrameStepTest, QuitFlagStopsBeforeTheScript) {
    InstallCountingHooks();
    QuitFlag = 1;
    EXPECT_EQ(FrameStep(), 1);
    EXPECT_EQ(counts.walks, 0);

    // A walk that reports non-zero raises the flag and stops the frame.
    ResetEngineState();
    Hooks().run_task_tree = [] { return 1; };
    EXPECT_EQ(FrameStep(), 1);
    EXPECT_EQ(QuitFlag.load(), 1);
}

TEST_F(FrameStepTest, LateFrameSkipsOnlyTheNextFramesDrawing) {
    InstallCountingHooks();
    // The script of the first frame takes 100 ms: the pacer finds the frame
    // 84 ms late and asks the next frame to skip drawing.
    Hooks().run_task_tree = [] {
        ++counts.walks;
        if (counts.walks == 1) platform::GetClock().SleepMs(100);
        return 0;
    };
    EXPECT_EQ(FrameStep(), 0);
    EXPECT_EQ(counts.composes, 4);
    EXPECT_EQ(counts.paints, 4);
    EXPECT_EQ(FrameStep(), 0);
    EXPECT_EQ(counts.walks, 2);     // the script still runs
    EXPECT_EQ(counts.composes, 4);  // but nothing is composed
    EXPECT_EQ(counts.paints, 4);    // or repainted
    EXPECT_EQ(FrameStep(), 0);
    EXPECT_EQ(counts.composes, 8);  // drawing is back
}

}  // namespace
}  // namespace zk
