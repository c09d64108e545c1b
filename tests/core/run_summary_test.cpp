// The closing line of a run: its format for every way a run ends, the
// first noted cause winning, and the frame step noting its own stop. The
// launcher's end-to-end runs (startup_test.cpp) check the line as printed.
#include "core/run_summary.h"

#include <gtest/gtest.h>

#include <csignal>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "engine/main_loop.h"
#include "engine/window_proc.h"
#include "platform/clock.h"

namespace zk {
namespace {

RunEndFacts Ran(uint64_t frames, StopCause cause, uint32_t code = 0, int signal_number = 0) {
    RunEndFacts facts;
    facts.frames = frames;
    facts.main_loop_ran = true;
    facts.cause = cause;
    facts.error_code = code;
    facts.signal_number = signal_number;
    return facts;
}

RunEndFacts EndedAtStartup(bool failed, std::string note, StopCause cause = StopCause::kNone, uint32_t code = 0) {
    RunEndFacts facts;
    facts.startup_failed = failed;
    facts.startup_note = std::move(note);
    facts.cause = cause;
    facts.error_code = code;
    return facts;
}

TEST(RunSummaryTest, ClosingLineForEveryEnd) {
    struct Case {
        RunEndFacts facts;
        const char* line;
    };
    const Case cases[] = {
        {Ran(60, StopCause::kFrameLimit), "zorvek: 60 frames, frame limit reached"},
        {Ran(1, StopCause::kFrameLimit), "zorvek: 1 frame, frame limit reached"},
        {Ran(12, StopCause::kGame), "zorvek: 12 frames, stopped by the game"},
        {Ran(0, StopCause::kGame), "zorvek: 0 frames, stopped by the game"},
        {Ran(2, StopCause::kCloseRequest), "zorvek: 2 frames, stopped by a close request"},
        {Ran(5, StopCause::kFatalError, 100070), "zorvek: 5 frames, stopped by fatal error 100070"},
        {Ran(5, StopCause::kFatalError, 42), "zorvek: 5 frames, stopped by fatal error 000042"},
        {Ran(7, StopCause::kSignal, 0, SIGINT), "zorvek: 7 frames, stopped by SIGINT"},
        {Ran(7, StopCause::kSignal, 0, SIGTERM), "zorvek: 7 frames, stopped by SIGTERM"},
        {Ran(7, StopCause::kSignal, 0, 1), "zorvek: 7 frames, stopped by signal 1"},
        {Ran(18446744073709551615u, StopCause::kFrameLimit),
         "zorvek: 18446744073709551615 frames, frame limit reached"},
        {EndedAtStartup(true, "the script did not boot"), "zorvek: 0 frames, start-up failed: the script did not boot"},
        {EndedAtStartup(true, "", StopCause::kFatalError, 104060), "zorvek: 0 frames, start-up failed: fatal error 104060"},
        {EndedAtStartup(true, ""), "zorvek: 0 frames, start-up failed"},
        {EndedAtStartup(false, "this game is already running"),
         "zorvek: 0 frames, ended at start-up: this game is already running"},
        {EndedAtStartup(false, ""), "zorvek: 0 frames, ended at start-up"},
    };
    for (const Case& c : cases) EXPECT_EQ(DescribeRunEnd(c.facts), c.line);
}

TEST(RunSummaryTest, TheFirstNotedCauseStays) {
    ResetStopCause();
    EXPECT_EQ(TheStopCause(), StopCause::kNone);
    NoteStopCause(StopCause::kNone);  // notes nothing
    NoteFatalError(100070);
    NoteStopCause(StopCause::kGame);   // the frame's own stop follows the report
    NoteFatalError(104060);            // a later report
    NoteStopCause(StopCause::kFrameLimit);
    EXPECT_EQ(TheStopCause(), StopCause::kFatalError);
    EXPECT_EQ(StopErrorCode(), 100070u);

    ResetStopCause();
    NoteStopCause(StopCause::kSignal);
    NoteFatalError(100070);
    EXPECT_EQ(TheStopCause(), StopCause::kSignal);
    EXPECT_EQ(StopErrorCode(), 0u);
    ResetStopCause();
}

class FrameStopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        ResetWindowRequests();
        ResetStopCause();
        Hooks() = {};
        platform::InstallClock(&clock);
    }
    void TearDown() override {
        platform::InstallClock(nullptr);
        Hooks() = {};
        ResetStopCause();
        ResetEngineState();
    }
    platform::ManualClock clock{0};
};

TEST_F(FrameStopTest, AFrameThatRaisesTheQuitStopsByTheGame) {
    Hooks().run_task_tree = [] { return 0; };
    EXPECT_EQ(FrameStep(), 0);
    EXPECT_EQ(TheStopCause(), StopCause::kNone);

    Hooks().run_task_tree = [] { return 1; };
    EXPECT_EQ(FrameStep(), 1);
    EXPECT_EQ(TheStopCause(), StopCause::kGame);
}

TEST_F(FrameStopTest, AQuitRaisedBeforeTheFrameIsNotTheFramesOwn) {
    // Someone else raised it (a close request, shutdown): they say why.
    QuitFlag = 1;
    EXPECT_EQ(FrameStep(), 1);
    EXPECT_EQ(TheStopCause(), StopCause::kNone);
}

}  // namespace
}  // namespace zk
