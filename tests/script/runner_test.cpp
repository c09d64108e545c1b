// The task tree runner on small readable scripts: walk order, enable bytes,
// waits by passes and by milliseconds on a driven clock, tasks ended during
// the walk, unassigned commands, the pause clock and the debug corner check;
// and one whole engine run that boots a game folder and runs SYSTEM_START.
#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/main_loop.h"
#include "engine/startup.h"
#include "core/system_facts.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "platform/headless_window_system.h"
#include "tests/script/runner_test_support.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/zkcfg_writer.h"

namespace zk {
namespace {

using script_test::ScriptRunTest;

class RunnerTest : public ScriptRunTest {};

constexpr std::string_view kThreeCounters = R"(
int ax
int bx
int cx
label SYSTEM_START
wait 1
jump SYSTEM_START
label TA
ax = ax * 10 + 1
wait 1
jump TA
label TB
bx = bx + 1
ax = ax * 10 + 2
wait 1
jump TB
label TC
cx = cx + 1
if cx == 2
  task end B
end
wait 1
jump TC
)";

TEST_F(RunnerTest, HigherOrderKeyRunsFirstInEveryPass) {
    ASSERT_TRUE(Boot(kThreeCounters));
    ASSERT_NE(StartTaskAt("A", "TA", 100), nullptr);
    ASSERT_NE(StartTaskAt("B", "TB", 200), nullptr);
    ASSERT_EQ(Passes(3), 0);
    EXPECT_EQ(Int("ax"), 212121);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(RunnerTest, EnableBytesAreAndedAndADisabledGroupHidesItsTasks) {
    ASSERT_TRUE(Boot(kThreeCounters));
    ScriptTask* a = StartTaskAt("A", "TA", 1);
    ASSERT_NE(a, nullptr);
    a->enable_a = 1;
    a->enable_b = 2;  // 1 & 2 == 0
    NamedTreeNode* group = FindNodeByPath(TheRootTrees().tasks, "", kFindGroup);
    ASSERT_NE(group, nullptr);
    ASSERT_NE(StartTaskAt("B", "TB", 1, group), nullptr);
    TaskOf(group)->enable_b = 0;
    ASSERT_EQ(Passes(3), 0);
    EXPECT_EQ(Int("ax"), 0);
    EXPECT_EQ(Int("bx"), 0);
    TaskOf(group)->enable_b = 1;
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Int("bx"), 1);
}

TEST_F(RunnerTest, EndingAnEarlierSiblingShiftsTheWalk) {
    // Walked C, B, A: when C ends B, position 2 holds C again, which is
    // ready (its one-pass wait counts down) and runs a second time.
    ASSERT_TRUE(Boot(kThreeCounters));
    ASSERT_NE(StartTaskAt("A", "TA", 1), nullptr);
    ASSERT_NE(StartTaskAt("B", "TB", 2), nullptr);
    ASSERT_NE(StartTaskAt("C", "TC", 3), nullptr);
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Int("cx"), 1);
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(Int("cx"), 3);
    EXPECT_EQ(Int("bx"), 1);
    EXPECT_EQ(Int("ax"), 211);  // A, B, A in pass 1; A alone in pass 2
    EXPECT_EQ(TaskNode("B"), nullptr);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(RunnerTest, TasksEndingThemselvesAreFreedAfterTheWalk) {
    // One ends by command 96, one by a return with no call open; the runner
    // still holds both while the walk goes on (ASan sees any early free).
    ASSERT_TRUE(Boot(R"(
int n
label SYSTEM_START
wait 1
jump SYSTEM_START
label SELF
n += 1
task end
n += 100
label RET
n += 10
return
n += 1000
)"));
    ASSERT_NE(StartTaskAt("S", "SELF", 1), nullptr);
    ASSERT_NE(StartTaskAt("R", "RET", 2), nullptr);
    ASSERT_EQ(Passes(2), 0);
    EXPECT_EQ(Int("n"), 11);
    EXPECT_EQ(TaskNode("S"), nullptr);
    EXPECT_EQ(TaskNode("R"), nullptr);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(RunnerTest, WaitByPasses) {
    struct Case {
        int frames;
        int passes;
        int64_t runs;
    };
    for (const Case c : {Case{1, 5, 5}, Case{3, 7, 3}, Case{2, 4, 2}}) {
        SCOPED_TRACE(c.frames);
        TearDown();
        SetUp();
        ASSERT_TRUE(Boot("int n\nlabel SYSTEM_START\nn += 1\nwait " + std::to_string(c.frames) + "\njump SYSTEM_START\n"));
        ASSERT_EQ(Passes(c.passes), 0);
        EXPECT_EQ(Int("n"), c.runs);
    }
}

TEST_F(RunnerTest, WaitWithFramesAndMillisecondsUsesTheFrames) {
    ASSERT_TRUE(Boot("int n\nlabel SYSTEM_START\nn += 1\nwait frames=2, ms=100000\njump SYSTEM_START\n"));
    ASSERT_EQ(Passes(3), 0);
    EXPECT_EQ(Int("n"), 2);
}

TEST_F(RunnerTest, WaitByMillisecondsOnTheDrivenClock) {
    // Starting just before the 32-bit clock wraps: the wake-up time lies
    // past the wrap and must still be waited for.
    for (uint32_t start : {1000u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(start);
        TearDown();
        SetUp();
        clock.Set(start);
        ASSERT_TRUE(Boot("int n\nlabel SYSTEM_START\nn += 1\nwait 100 ms\njump SYSTEM_START\n"));
        ASSERT_EQ(Pass(), 0);
        EXPECT_EQ(Int("n"), 1);
        clock.Advance(99);
        ASSERT_EQ(Passes(3), 0);
        EXPECT_EQ(Int("n"), 1);
        clock.Advance(1);
        ASSERT_EQ(Pass(), 0);
        EXPECT_EQ(Int("n"), 2);
    }
}

TEST_F(RunnerTest, WaitTakesTheLowBitsOfAnyMilliseconds) {
    // The wake-up time is now + the low 32 bits of the value on the wrapping
    // clock: a value whose low bits lie behind the clock (a negative wait,
    // as "deadline - now" gives once the deadline has passed) ends at the
    // next pass, a huge one waits its low bits' worth. Each case also runs
    // with the clock just before its wrap.
    struct Case {
        const char* ms;
        uint32_t wait;  // milliseconds until the task runs again
    };
    const Case cases[] = {
        {"-5", 0},
        {"-1", 0},
        {"4294967295", 0},   // low bits 0xFFFFFFFF: -1
        {"-2147483647", 0},  // low bits 0x80000001: still behind the clock
        {"4294967301", 5},   // 2^32 + 5
        {"-4294967291", 5},  // -2^32 + 5
        {"2147483647", 0x7FFFFFFFu},  // the longest wait ahead of the clock
    };
    for (const uint32_t start : {1000u, 0xFFFFFFF0u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.ms) + " ms from " + std::to_string(start));
            TearDown();
            SetUp();
            clock.Set(start);
            ASSERT_TRUE(Boot(std::string("int n\nlabel SYSTEM_START\nn += 1\nwait ") + c.ms + " ms\njump SYSTEM_START\n"));
            ASSERT_EQ(Pass(), 0);
            EXPECT_EQ(Int("n"), 1);
            if (c.wait > 0) {
                clock.Advance(c.wait - 1);
                ASSERT_EQ(Pass(), 0);
                EXPECT_EQ(Int("n"), 1);
                clock.Advance(1);
            }
            ASSERT_EQ(Pass(), 0);
            EXPECT_EQ(Int("n"), 2);
            EXPECT_EQ(Reports(), 0u);
        }
    }
}

TEST_F(RunnerTest, UnassignedCommandStopsTheEngine) {
    ASSERT_TRUE(Boot("int n\nlabel SYSTEM_START\nn = 1\ncmd120\nn = 2\n"));
    EXPECT_EQ(Pass(), 1);
    EXPECT_EQ(LastCode(), 900050u);
    EXPECT_EQ(Int("n"), 1);
}

TEST_F(RunnerTest, RunningPastTheLastCommandIsRefused) {
    // An author's mistake with its own number, named at the source line of
    // the file's last command.
    ASSERT_TRUE(Boot("int n\nlabel SYSTEM_START\n\nn = 1\n"));
    EXPECT_EQ(Pass(), 1);
    EXPECT_EQ(LastCode(), 108190u);
    EXPECT_EQ(ErrorReporter().location.line, 4);
    EXPECT_EQ(Int("n"), 1);
}

TEST_F(RunnerTest, PauseIntervalsRaiseTheRunningTimers) {
    ResetPauseClock(1000);
    ThePauseClock().timer_enabled[2] = 0;
    ThePauseClock().stop_time[2] = 1500;
    clock.Set(2000);
    BeginInactivePause();
    BeginScriptPause();
    clock.Set(2300);
    EndInactivePause();
    clock.Set(2400);
    EndScriptPause();
    // Timer 1 lost both intervals (300 + 400); the stopped timer 2 neither.
    EXPECT_EQ(PauseTimerValue(1, 3000), 3000u - 1000u - 700u);
    EXPECT_EQ(PauseTimerValue(2, 3000), 500u);
    EXPECT_EQ(PauseTimerValue(5, 3000), 0u);
    // Keep-running drops an inactive pause without counting it.
    ThePauseClock().keep_running = 1;
    BeginInactivePause();
    UpdateInactivePause();
    EXPECT_EQ(ThePauseClock().inactive_on.load(), 0);
    EXPECT_EQ(PauseTimerValue(1, 3000), 1300u);
}

TEST_F(RunnerTest, DebugCornerCheckAsksOnceAllFourCornersWereSeen) {
    static std::array<std::pair<int32_t, int32_t>, 4> corners = {{{0, 0}, {0, 1079}, {1919, 0}, {1919, 1079}}};
    static size_t next_corner = 0;
    next_corner = 0;
    SetScreenMouseReader([](int32_t& x, int32_t& y) {
        auto [cx, cy] = corners[next_corner++ % corners.size()];
        x = cx;
        y = cy;
        return true;
    });
    TheSystemFacts().desktop_width = 1920;
    TheSystemFacts().desktop_height = 1080;
    Settings().debug = 1;
    ui_.QueueAnswer(platform::IDYES);
    // Three commands a round: 1365 rounds pass the fourth check at command 4096.
    ASSERT_TRUE(Boot("int n\nlabel SYSTEM_START\nloop\nn += 1\nend\n"));
    EXPECT_EQ(Pass(), 1);
    EXPECT_EQ(DebugStepCount(), 4096u);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].flags, platform::MB_YESNO | platform::MB_ICONINFORMATION);
    EXPECT_EQ(DebugCornerMask(), 0);
    SetScreenMouseReader(nullptr);
}

// The script held while the main window is inactive (keep-running off):
// the first command of each task waits in DispatchWithPauseWait, handling
// window messages every 10 ms, until the window is active again or the
// engine is quitting.
class PauseWaitTest : public ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        platform::InstallWindowSystem(&windows);
        ASSERT_EQ(CreateWindowRecords(), 0);
        main_record = MainWindowRecord();
        ASSERT_TRUE(windows.RegisterClass("pause", EngineWindowProc));
        Hooks().drain_messages = DrainMessages;
        platform::WindowCreateParams params;
        params.class_name = "pause";
        params.width = 64;
        params.height = 64;
        main_record->window = windows.CreateWindow(params);
        ASSERT_NE(main_record->window, platform::kNoWindow);
        windows.SetUserData(main_record->window, main_record);
        ThePauseClock().keep_running = 0;
    }
    void TearDown() override {
        DestroyWindowRecords();
        platform::InstallWindowSystem(nullptr);
        ScriptRunTest::TearDown();
    }
    platform::HeadlessWindowSystem windows{{1920, 1080, 32, 60}};
    WindowRecord* main_record = nullptr;
};

TEST_F(PauseWaitTest, HeldUntilAWindowMessageActivatesTheMainWindow) {
    ASSERT_TRUE(Boot("int n\nlabel SYSTEM_START\nn += 1\nn += 1\nwait 1\njump SYSTEM_START\n"));
    UpdateInactivePause();  // the main window is inactive: the pause begins
    ASSERT_EQ(ThePauseClock().inactive_on.load(), 1);
    // Only the wait's own pump can handle the activation.
    ASSERT_TRUE(windows.PostMessage(main_record->window, platform::WM_ACTIVATE, platform::WA_ACTIVE, 0));
    clock.ClearSleeps();
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(main_record->active, 1);
    EXPECT_EQ(ThePauseClock().inactive_on.load(), 0);
    EXPECT_EQ(Int("n"), 2) << "the held command and the one after it ran once the pause ended";
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{10});
    // The 10 ms held do not count on the script's timers.
    EXPECT_EQ(PauseTimerValue(1, clock.NowMs()), clock.NowMs() - 10);
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(PauseWaitTest, AQuitDuringTheWaitEndsTheTurnWithoutRunningTheCommand) {
    ASSERT_TRUE(Boot("int n\nlabel SYSTEM_START\nn += 1\nwait 1\njump SYSTEM_START\n"));
    UpdateInactivePause();
    windows.PostQuitMessage(0);
    clock.ClearSleeps();
    ASSERT_EQ(Pass(), 0);
    EXPECT_EQ(RunFlag.load(), 0);
    EXPECT_EQ(Int("n"), 0);
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(ThePauseClock().inactive_on.load(), 1);
}

// With the game-loop thread, the wait stands in for the frame's pacing: the
// main thread handles messages during it, and the held command must not run
// until the window procedure that ended the pause has returned.
std::atomic<int> held_runs{0};
std::atomic<bool> command_ran_in_procedure{false};

int32_t CountHeldRun() {
    held_runs.fetch_add(1);
    return 0;
}

int64_t ActivatingProc(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    if (message != platform::WM_USER) return platform::GetWindowSystem().DefWindowProc(window, message, wparam, lparam);
    EndInactivePause();
    // A procedure that takes its time after ending the pause.
    const int before = held_runs.load();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end) {
        if (held_runs.load() != before) command_ran_in_procedure = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 1;
}

class GameThreadPauseTest : public ScriptRunTest {
protected:
    void TearDown() override {
        QuitFlag = 1;
        ResetMainLoopState();
        platform::InstallWindowSystem(nullptr);
        ScriptRunTest::TearDown();
    }
    platform::HeadlessWindowSystem windows{{1920, 1080, 32, 60}};
};

TEST_F(GameThreadPauseTest, TheHeldCommandWaitsForTheWindowProcedure) {
    held_runs = 0;
    command_ran_in_procedure = false;
    ASSERT_TRUE(RegisterCommandHandler(120, CountHeldRun));
    ASSERT_TRUE(Boot("label SYSTEM_START\ncmd120\nwait 1\njump SYSTEM_START\n"));
    platform::InstallWindowSystem(&windows);
    ASSERT_TRUE(windows.RegisterClass("activate", ActivatingProc));
    platform::WindowCreateParams params;
    params.class_name = "activate";
    const platform::WindowHandle window = windows.CreateWindow(params);
    ASSERT_NE(window, platform::kNoWindow);

    platform::InstallClock(nullptr);
    Settings().game_loop_thread = 1;
    Hooks().run_task_tree = RunTaskTreeHook;
    ThePauseClock().keep_running = 0;
    BeginInactivePause();
    InWindowProcFlag = 0;  // the main loop has pumped once
    StartGameThread();

    // The first command waits in the pause; messages are handled while it
    // does, as while a frame paces.
    ASSERT_TRUE(windows.PostMessage(window, platform::WM_USER, 0, 0));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (windows.PendingMessages() != 0 && std::chrono::steady_clock::now() < deadline) {
        DrainMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(windows.PendingMessages(), 0u);
    EXPECT_FALSE(command_ran_in_procedure.load()) << "the script ran while a window procedure did";
    while (held_runs.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(held_runs.load(), 1) << "the command ran once the procedure returned";
    QuitFlag = 1;
    JoinGameThread();
    EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
}

// The whole engine, in process on the headless window system: start-up
// boots the game folder, the task "SYSTEM" starts at "SYSTEM_START" and
// every frame step walks the task tree, in either threading mode.
class EngineRunTest : public ScriptRunTest {
protected:
    void TearDown() override {
        platform::InstallWindowSystem(nullptr);
        ResetStartupState();
        ResetMainLoopState();
        Hooks() = {};
        ScriptRunTest::TearDown();
    }
};

// What SYSTEM's probe command saw, once per run: that it ran as SYSTEM, the
// frame, and the counter the command before it raised. Filled on the script
// thread and read once the engine has ended.
struct SystemRun {
    bool system = false;
    uint64_t frame = 0;
    int64_t counted = 0;
    bool operator==(const SystemRun&) const = default;
};
std::vector<SystemRun> system_runs;
uint16_t counter_variable = 0;

int32_t RecordSystemRun() {
    const ScriptTask* task = TheCurrentTask().task;
    system_runs.push_back(
        {task != nullptr && task->system_flag != 0, TheFrameCounters.frame_count, GetIntegerElement(counter_variable, 0)});
    return 0;
}

TEST_F(EngineRunTest, FrameStepsRunTheSystemTask) {
    for (const int32_t game_loop_thread : {0, 1}) {
        SCOPED_TRACE(game_loop_thread);
        TearDown();
        SetUp();
        tools::ScriptText script = tools::ScriptGame(R"(
int frames
label SYSTEM_START
frames += 1
cmd120
wait 1
jump SYSTEM_START
)");
        counter_variable = script.Variable("frames");
        script.game.error_texts = script_test::RunnerErrorTexts();
        ASSERT_TRUE(script.game.Write(game_));
        tools::EngineConfigFile config;
        config.title = "run";
        config.game_loop_thread = game_loop_thread;
        ASSERT_TRUE(tools::WriteReleaseConfig(game_, config));
        // A window system of its own for each run: the window class stays
        // registered with the one before.
        platform::HeadlessWindowSystem windows{{1920, 1080, 32, 60}};
        platform::InstallWindowSystem(&windows);
        ResetStartupState();
        ResetMainLoopState();
        Hooks() = {};
        system_runs.clear();
        ASSERT_TRUE(RegisterCommandHandler(120, RecordSystemRun));
        SetFrameLimit(5);
        ProgramEntry entry;
        entry.argv = {"zorvek"};
        std::string host = (game_ / "zorvek").string();
        for (char& c : host) {
            if (c == '/') c = '\\';
        }
        entry.executable_path = host;
        // A real clock: the pacer sleeps out each frame.
        platform::InstallClock(nullptr);
        EXPECT_EQ(WinMain(entry), 0);
        EXPECT_EQ(Reports(), 0u) << ErrorReporter().message;
        EXPECT_EQ(TheFrameCounters.frame_count, 5u);
        // One run a frame, as SYSTEM, after the counter's command.
        const std::vector<SystemRun> expected = {
            {true, 1, 1}, {true, 2, 2}, {true, 3, 3}, {true, 4, 4}, {true, 5, 5}};
        EXPECT_EQ(system_runs, expected);
        platform::InstallWindowSystem(nullptr);
    }
}

}  // namespace
}  // namespace zk
