// The engine commands on readable scripts: 13 ends (and may restart), 28
// sets the frame rate, 93 stops and resumes the game timers and sets the
// keep-running switch while the main window is active.
#include "engine/engine_commands.h"
#include "core/engine_state.h"
#include "core/error_codes.h"
#include "engine/startup.h"
#include "core/window_record.h"
#include "script/pause_clock.h"
#include "script/system_variable_hooks.h"
#include "engine/system_variables.h"
#include "tests/script/runner_test_support.h"

namespace zk {
namespace {

class EngineCommandsTest : public script_test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        ResetEngineCommandState();
        RegisterEngineCommands();
        InstallSystemVariables();
    }
    void TearDown() override {
        ResetEngineCommandState();
        DestroyWindowRecords();
        SystemVariableAccess() = {};
        ScriptRunTest::TearDown();
    }
};

TEST_F(EngineCommandsTest, TimersStopAndResumeEachOnItsOwn) {
    ASSERT_TRUE(Boot("int timers[5] at 1\n"
                     "int seen[4]\n"
                     "label SYSTEM_START\n"
                     "engine timer2=0\nwait 1\n"
                     // Stopping again keeps the first stop time; 2 is no value.
                     "engine timer2=0, timer3=2\nseen[0] = timers[2]\nwait 1\n"
                     "engine timer2=1\nseen[1] = timers[1]\nseen[2] = timers[2]\nwait 1\n"
                     // Resuming a running timer changes nothing.
                     "engine timer2=1\nseen[3] = timers[2]\n"
                     "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);  // t = 1000: timer 2 stops
    clock.Advance(2000);
    ASSERT_EQ(Pass(), 0);  // t = 3000: stopped, it still reads 1000
    clock.Advance(3000);
    ASSERT_EQ(Pass(), 0);  // t = 6000: it resumes, 5000 behind timer 1
    clock.Advance(500);
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Int("seen", 0), 1000);
    EXPECT_EQ(Int("seen", 1), 6000);
    EXPECT_EQ(Int("seen", 2), 1000);
    EXPECT_EQ(Int("seen", 3), 1500);
    EXPECT_EQ(PauseTimerValue(3, clock.NowMs()), 6500u) << "timer 3 never stopped";
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(EngineCommandsTest, KeepRunningChangesOnlyWhileTheMainWindowIsActive) {
    ASSERT_EQ(CreateWindowRecords(), 0);
    ASSERT_TRUE(Boot("label SYSTEM_START\n"
                     "engine keeprunning=0\nwait 1\n"
                     "engine keeprunning=0, screensaver=0\n"
                     "label IDLE\nwait 1\njump IDLE\n"));
    MainWindowRecord()->active = 0;
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(ThePauseClock().keep_running.load(), 1) << "changed while the window was inactive";
    MainWindowRecord()->active = 1;
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(ThePauseClock().keep_running.load(), 0);
    EXPECT_EQ(ScreenSaverSuppressed.load(), 0);
}

TEST_F(EngineCommandsTest, FrameRateAndEndWithRestart) {
    ASSERT_TRUE(Boot("label SYSTEM_START\n"
                     "framerate rate=30, skip=0\nwait 1\n"
                     "endprogram restart=257\n"
                     "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(TheFrameClock.frame_rate, 30);
    EXPECT_EQ(TheFrameClock.frame_skip, 0);
    EXPECT_EQ(Pass(), 1) << "command 13 ends the engine";
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_TRUE(RestartFlagSet()) << "the low byte of 257 is 1";
    QuitFlag = 0;
}

// A new game screen size goes to window 0's record (here without a
// window: only the sizes change). A width of 0 asks for nothing.
TEST_F(EngineCommandsTest, ScreenSizeGoesToTheMainWindowRecord) {
    ASSERT_EQ(CreateWindowRecords(), 0);
    MainWindowRecord()->client_width = 320;
    MainWindowRecord()->client_height = 240;
    ASSERT_TRUE(Boot("label SYSTEM_START\n"
                     "engine width=0, height=600\nwait 1\n"
                     "engine width=800, height=600\n"
                     "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(MainWindowRecord()->client_width, 320);
    Pass();
    EXPECT_EQ(MainWindowRecord()->client_width, 800);
    EXPECT_EQ(MainWindowRecord()->client_height, 600);
    EXPECT_EQ(Reports(), 0u);
}

}  // namespace
}  // namespace zk
