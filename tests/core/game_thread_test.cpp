// The game-loop thread's handshake with the main thread: window messages
// are handled only while the frame step sleeps out its period, and the frame
// step does not go on while a window procedure runs. The test thread plays
// the main thread; the frame step runs on the real game-loop thread with
// the real clock. Races that only show as wrong timing are also checked by
// the ThreadSanitizer build of this suite.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "engine/main_loop.h"
#include "core/settings.h"
#include "engine/startup.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "platform/clock.h"
#include "platform/headless_window_system.h"
#include "engine/engine_reset.h"

namespace zk {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kProbeMessage = platform::WM_USER + 1;

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// What the frame step's script walk does (run on the game-loop thread).
std::atomic<int> walks{0};
std::atomic<bool> hold_walk{false};  // the walk waits while set
std::atomic<bool> in_walk{false};

int CountingWalk() {
    in_walk = true;
    walks.fetch_add(1);
    while (hold_walk.load()) std::this_thread::sleep_for(1ms);
    in_walk = false;
    return 0;
}

// A window procedure that reports what it saw when the drain handed it a
// message. `probe_wait` keeps it running a while, as a procedure that takes
// time does (or a host that is slow to deliver the message to it).
std::atomic<int> probes{0};
std::atomic<bool> probe_saw_walk{false};
std::atomic<bool> probe_saw_new_frame{false};
std::atomic<int> probe_pacing{-1};
std::chrono::milliseconds probe_wait{0};

int64_t ProbeProc(platform::WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    if (message != kProbeMessage) return platform::GetWindowSystem().DefWindowProc(window, message, wparam, lparam);
    probe_pacing = PacingFlag.load();
    probe_saw_walk = in_walk.load();
    const int walks_before = walks.load();
    const auto end = std::chrono::steady_clock::now() + probe_wait;
    while (std::chrono::steady_clock::now() < end) {
        if (walks.load() != walks_before || in_walk.load()) probe_saw_new_frame = true;
        std::this_thread::sleep_for(1ms);
    }
    probes.fetch_add(1);
    return 0;
}

class GameThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        platform::InstallClock(nullptr);
        platform::InstallWindowSystem(&windows);
        Settings().game_loop_thread = 1;
        walks = 0;
        hold_walk = false;
        in_walk = false;
        probes = 0;
        probe_saw_walk = false;
        probe_saw_new_frame = false;
        probe_pacing = -1;
        probe_wait = 0ms;
        Hooks().run_task_tree = CountingWalk;
        ASSERT_TRUE(windows.RegisterClass("probe", ProbeProc));
        platform::WindowCreateParams params;
        params.class_name = "probe";
        params.width = 64;
        params.height = 64;
        probe_window = windows.CreateWindow(params);
        ASSERT_NE(probe_window, platform::kNoWindow);
    }
    void TearDown() override {
        hold_walk = false;
        StopFrames();
        platform::InstallWindowSystem(nullptr);
        ResetEngine();
    }

    // Starts the game-loop thread as start-up does, with the main loop's
    // first pump already behind it (the thread would wait for that).
    static void StartFrames() {
        ReleaseStartupHold();
        StartGameThread();
    }
    static void StopFrames() {
        QuitFlag = 1;
        JoinGameThread();
    }
    void PostProbe() { ASSERT_TRUE(windows.PostMessage(probe_window, kProbeMessage, 0, 0)); }
    // Drains as the main loop does, pass after pass, until the probe ran.
    static bool DrainUntilProbed(std::chrono::milliseconds limit = 5000ms) {
        return WaitUntil(
            [] {
                DrainMessages();
                return probes.load() > 0;
            },
            limit);
    }

    platform::HeadlessWindowSystem windows{{1920, 1080, 32, 60}};
    platform::WindowHandle probe_window = platform::kNoWindow;
};

TEST_F(GameThreadTest, MessagesWaitWhileTheFrameComputesAndRunWhileItPaces) {
    hold_walk = true;
    StartFrames();
    ASSERT_TRUE(WaitUntil([] { return in_walk.load(); }));
    PostProbe();
    for (int pass = 0; pass < 20; ++pass) {
        DrainMessages();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(probes.load(), 0) << "a message was handled in the middle of a frame";
    EXPECT_EQ(windows.PendingMessages(), 1u);

    hold_walk = false;
    ASSERT_TRUE(DrainUntilProbed());
    EXPECT_EQ(probe_pacing.load(), 1);
    EXPECT_FALSE(probe_saw_walk.load());
}

TEST_F(GameThreadTest, TheFrameStaysInItsPacingWhileAWindowProcedureRuns) {
    StartFrames();
    ASSERT_TRUE(WaitUntil([] { return walks.load() >= 2; }));
    int held_at = 0;
    {
        InWindowProcScope procedure;
        // The frame under way may finish its walk; the next one must wait.
        held_at = walks.load();
        std::this_thread::sleep_for(150ms);
        EXPECT_LE(walks.load(), held_at + 1);
    }
    EXPECT_TRUE(WaitUntil([&] { return walks.load() >= held_at + 3; })) << "frames did not resume";
}

TEST_F(GameThreadTest, ADispatchedProcedureHoldsTheFrameFromTheDrainsLookOn) {
    // The drain looks at the pacing flag, then hands the message on. The
    // frame must not leave its pacing in between, nor while a procedure
    // without an engine window record (one that does not count itself in)
    // runs: the probe takes its time and watches for a new frame.
    probe_wait = 300ms;
    StartFrames();
    ASSERT_TRUE(WaitUntil([] { return walks.load() >= 2; }));
    PostProbe();
    ASSERT_TRUE(DrainUntilProbed());
    EXPECT_EQ(probe_pacing.load(), 1);
    EXPECT_FALSE(probe_saw_new_frame.load()) << "a frame step ran while the window procedure did";
}

TEST_F(GameThreadTest, ShutdownHandlesMessagesByTheSameRule) {
    // Shutdown waits for the game-loop thread to end and keeps the queue
    // moving meanwhile; a frame still under way must not meet a window
    // procedure, a frame that paces may.
    hold_walk = true;
    StartFrames();
    ASSERT_TRUE(WaitUntil([] { return in_walk.load(); }));
    PostProbe();
    std::thread finish([] {
        std::this_thread::sleep_for(100ms);
        hold_walk = false;
        WaitUntil([] { return probes.load() > 0; });
        QuitFlag = 1;
    });
    ShutdownEngine();
    finish.join();
    EXPECT_EQ(GameThreadState.load(), 9);
    EXPECT_EQ(probes.load(), 1);
    EXPECT_FALSE(probe_saw_walk.load()) << "shutdown ran a window procedure in the middle of a frame";
    EXPECT_EQ(probe_pacing.load(), 1);
}

// An engine window whose record is the main window's, for the window
// procedure's own paths.
class EngineWindowTest : public GameThreadTest {
protected:
    void SetUp() override {
        GameThreadTest::SetUp();
        ASSERT_EQ(CreateWindowRecords(), 0);
        record = MainWindowRecord();
        ASSERT_TRUE(windows.RegisterClass("engine", EngineWindowProc));
        platform::WindowCreateParams params;
        params.class_name = "engine";
        params.width = 64;
        params.height = 64;
        engine_window = windows.CreateWindow(params);
        ASSERT_NE(engine_window, platform::kNoWindow);
        windows.SetUserData(engine_window, record);
    }

    WindowRecord* record = nullptr;
    platform::WindowHandle engine_window = platform::kNoWindow;
};

std::atomic<int32_t> count_at_destroy{-1};

TEST_F(EngineWindowTest, NestedProceduresEachCountThemselvesIn) {
    // The close button with close behaviour 2: SC_CLOSE's default sends
    // WM_CLOSE, whose handler destroys the window, which sends WM_DESTROY,
    // three procedures deep. Leaving the innermost must not end the count.
    record->window = engine_window;
    record->close_behaviour = 2;
    count_at_destroy = -1;
    Hooks().destroy_menus = [] { count_at_destroy = InWindowProcFlag.load(); };
    InWindowProcFlag = 0;
    windows.SendMessage(engine_window, platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0);
    EXPECT_EQ(count_at_destroy.load(), 3);
    EXPECT_EQ(InWindowProcFlag.load(), 0);
    EXPECT_FALSE(windows.IsWindow(engine_window));
    EXPECT_EQ(QuitFlag.load(), 1);
}

TEST_F(EngineWindowTest, QuitRequestedWhileTheCloseButtonIsHandled) {
    // The game-loop thread asks to quit at the moment the main thread
    // answers the close button (close behaviour 0: tell the script). The
    // close behaviour is shared by both; whichever comes first, the engine
    // ends up quitting and the window closes without asking.
    record->close_behaviour = 0;
    std::thread game([] { RequestQuit(); });
    windows.SendMessage(engine_window, platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0);
    game.join();
    EXPECT_EQ(static_cast<int>(record->close_behaviour), 2);
    EXPECT_EQ(QuitFlag.load(), 1);
}

}  // namespace
}  // namespace zk
