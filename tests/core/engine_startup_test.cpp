// Start-up, the close behaviours and shutdown, run in this process on the
// headless window system so the test can see every window and dialog.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "engine/main_loop.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "engine/startup.h"
#include "core/system_facts.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "platform/game_path.h"
#include "platform/headless_window_system.h"
#include "platform/ui.h"
#include "renderer/display_state.h"
#include "tools/lib/byte_writer.h"
#include "script/command_table.h"
#include "tools/lib/script_text.h"
#include "tools/lib/script_writer.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/zkcfg_writer.h"
#include "base/system_text.h"
#include "base/text_encoding.h"
#include "tests/platform/scoped_env.h"
#include "tests/storage/run_program.h"
#include "renderer/cpu_back_buffer.h"
#include "engine/engine_reset.h"

namespace zk {
namespace {

namespace fs = std::filesystem;

class EngineStartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() / ("zorvek-start-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(folder);
        fs::create_directories(folder / "zkbin");
        original_cwd = fs::current_path();
        config.title = "start";
        ResetEngine();
        platform::InstallWindowSystem(&windows);
        platform::InstallUi(&ui);
    }
    void TearDown() override {
        platform::InstallUi(nullptr);
        platform::InstallWindowSystem(nullptr);
        fs::current_path(original_cwd);
        fs::remove_all(folder);
        ResetEngine();
    }
    int RunEngine(std::vector<std::string> argv = {"zorvek"}, uint64_t frames = 3) {
        ASSERT_WRITE();
        SetFrameLimit(frames);
        ProgramEntry entry;
        entry.argv = std::move(argv);
        entry.executable_path = GamePath(folder / "zorvek");
        return WinMain(entry);
    }
    // A host path as the game path the launcher hands the engine (ASCII paths).
    static std::string GamePath(const fs::path& host) {
        std::string path = host.string();
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }
    void ASSERT_WRITE() {
        // The script tables of a game that only waits, then the configuration.
        if (script.empty()) {
            ASSERT_TRUE(tools::IdleGame().Write(folder));
        } else {
            ASSERT_TRUE(tools::ScriptGame(script).game.Write(folder));
        }
        ASSERT_TRUE(tools::WriteReleaseConfig(folder, config));
    }

    fs::path folder, original_cwd;
    std::string script;  // the game's script in readable form; empty: a game that only waits
    tools::EngineConfigFile config;
    platform::HeadlessWindowSystem windows{{1920, 1080, 32, 60}};
    platform::RecordingUi ui;
};

TEST_F(EngineStartupTest, RunsItsFramesShowsTheMainWindowAndShutsDown) {
    config.screen_width = 800;
    config.screen_height = 600;
    config.shown_at_start = 1;
    EXPECT_EQ(RunEngine({"zorvek"}, 5), 0);
    EXPECT_FALSE(StartupFailed());
    EXPECT_EQ(ErrorReporter().reports, 0u);
    EXPECT_EQ(TheFrameCounters.frame_count, 5u);
    EXPECT_EQ(TheCpuBackBuffer().width, 800);
    // The first frame showed the window; the frame limit closed it.
    bool shown = false;
    for (const auto& call : windows.Calls())
        shown |= call.kind == platform::HeadlessCall::Kind::kShowWindow && call.show_command == platform::SW_SHOW;
    EXPECT_TRUE(shown);
    EXPECT_TRUE(windows.Windows().empty());  // every window is gone after shutdown
}

TEST_F(EngineStartupTest, GameLargerThanTheDesktopHalvesTheBackBuffer) {
    windows.SetDesktop({1280, 1024, 32, 60});
    config.screen_width = 1920;
    config.screen_height = 1080;
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_EQ(TheCpuBackBuffer().width, 640);
    EXPECT_EQ(TheCpuBackBuffer().height, 512);
}

// No sound device: an audio driver that does not exist.
TEST_F(EngineStartupTest, SoundRequiredWithoutSoundEndsStartUp) {
    test::ScopedEnv no_device("SDL_AUDIODRIVER", "no-such-driver");
    config.sound = 2;
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_TRUE(StartupFailed());
    EXPECT_EQ(TheFrameCounters.frame_count, 0u);
}

TEST_F(EngineStartupTest, SoundWantedWithoutSoundRunsSilent) {
    test::ScopedEnv no_device("SDL_AUDIODRIVER", "no-such-driver");
    config.sound = 1;
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_FALSE(StartupFailed());
    EXPECT_EQ(Settings().sound, 0);
    EXPECT_EQ(TheFrameCounters.frame_count, 3u);
}

// With a device (SDL's dummy driver) sound stays on, even when required.
TEST_F(EngineStartupTest, SoundRequiredWithADeviceRuns) {
    test::ScopedEnv device("SDL_AUDIODRIVER", "dummy");
    config.sound = 2;
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_FALSE(StartupFailed());
    EXPECT_EQ(Settings().sound, 1);
    EXPECT_EQ(TheFrameCounters.frame_count, 3u);
}

TEST_F(EngineStartupTest, SettingsSwitchStartsTheToolWithoutAWindow) {
    EXPECT_EQ(RunEngine({"zorvek", "/ZKCFG"}), 0);
    EXPECT_FALSE(StartupFailed());
    EXPECT_TRUE(windows.Windows().empty());
    EXPECT_EQ(TheFrameCounters.frame_count, 0u);
}

TEST_F(EngineStartupTest, WindowCreationFailureIsReported) {
    windows.SetCreateFails(true);
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_TRUE(StartupFailed());
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(Cp932ToUtf8(ui.boxes.back().text), "ウィンドウが生成できませんでした。");
}

// Command 120 of the close test's game counts the frames its task ran, for
// the user's thread to wait on (the engine's own counter belongs to the
// frame's thread).
std::atomic<int> frames_seen{0};
int32_t CountFrame() {
    frames_seen.fetch_add(1);
    return 0;
}

// The close button, as the user presses it, for each close behaviour.
TEST_F(EngineStartupTest, CloseButtonAsksThenEndsTheEngine) {
    script = "label SYSTEM_START\ncmd120\nwait 1\njump SYSTEM_START\n";
    frames_seen = 0;
    ASSERT_TRUE(RegisterCommandHandler(120, CountFrame));
    ui.QueueAnswer(platform::IDNO);
    ui.QueueAnswer(platform::IDYES);
    std::thread user([&] {
        // Press the close button twice, six frames apart, once frames run:
        // counted in frames, so a slow machine presses as a fast one does.
        for (int press = 0; press < 2; ++press) {
            // A run that stopped early leaves the wait after a minute.
            const int until = frames_seen.load() + 6;
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
            while (frames_seen.load() < until && std::chrono::steady_clock::now() < give_up)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            for (const auto& window : windows.Windows())
                if (window.class_name.find(":zorvek") != std::string::npos)
                    windows.InjectMessage({window.handle, platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0});
        }
    });
    EXPECT_EQ(RunEngine({"zorvek"}, 0), 0);  // no frame limit: only the close ends it
    user.join();
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(Cp932ToUtf8(ui.boxes[0].text), "終了します。よろしいですか？");
    EXPECT_EQ(ui.boxes[0].caption, std::optional<std::string>("start"));
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_GT(TheFrameCounters.frame_count, 5u);  // "No" kept it running
}

TEST_F(EngineStartupTest, FailedChangeToTheGameFolderIsReported) {
    // The executable's folder is gone: going on would read whatever the
    // current folder holds.
    ProgramEntry entry;
    entry.argv = {"zorvek"};
    entry.executable_path = GamePath(folder / "gone" / "zorvek");
    SetFrameLimit(3);
    EXPECT_EQ(WinMain(entry), 0);
    EXPECT_TRUE(StartupFailed());
    EXPECT_EQ(TheFrameCounters.frame_count, 0u);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(Cp932ToUtf8(ui.boxes[0].text), "ゲームフォルダ[" + GamePath(folder / "gone") + "\\]に\n移動できませんでした。");
    EXPECT_EQ(ui.boxes[0].caption, std::optional<std::string>(Sjis("エラー")));
    EXPECT_NE(StartupFailureNote().find("gone"), std::string::npos);
}


// A second start of the same game (the real executable, in its own process)
// asks this running engine to come forward and ends at once; this engine
// restores and raises its main window and runs on.
TEST_F(EngineStartupTest, SecondStartBringsTheRunningGameForward) {
    ASSERT_WRITE();
    std::atomic<bool> engine_ended{false};
    // The engine runs once its main window shows (the first frame shows it).
    auto main_loop_running = [&] {
        for (const platform::WindowInfo& info : windows.Windows())
            if (info.visible) return true;
        return false;
    };
    storage_test::RunResult second;
    long second_ms = 0;
    std::thread starter([&] {
        while (!main_loop_running() && !engine_ended) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (engine_ended) return;
        auto start = std::chrono::steady_clock::now();
        second = storage_test::RunProgram({(fs::path(ZORVEK_BINARY_DIR) / "zorvek").string(), "--game",
                                           folder.string(), "--headless", "--frames", "600"},
                                          folder / "second.txt");
        second_ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
        // Now this engine may stop: the request is already waiting for it,
        // and its message loop looks at requests before it takes the quit.
        SetFrameLimit(1);
    });
    ProgramEntry entry;
    entry.argv = {"zorvek"};
    entry.executable_path = GamePath(folder / "zorvek");
    SetFrameLimit(0);  // until the second start has ended
    EXPECT_EQ(WinMain(entry), 0);
    engine_ended = true;
    starter.join();

    EXPECT_EQ(second.exit_code, 0) << second.output;
    EXPECT_EQ(second.output, "zorvek: 0 frames, ended at start-up: this game is already running\n");
    EXPECT_LT(second_ms, 5000);  // it did not run its 10 s of frames
    EXPECT_FALSE(StartupFailed());
    bool raised = false;
    for (const auto& call : windows.Calls())
        raised |= call.kind == platform::HeadlessCall::Kind::kSetForegroundWindow;
    EXPECT_TRUE(raised);
}

// What the hooks of the later subsystems were asked to do, in order.
std::vector<std::string> hook_calls;
int direct3d_result = 0;

// Fills every hook that start-up and shutdown call for subsystems this
// build does not have yet with a recorder.
void RecordLaterSubsystemHooks() {
    hook_calls.clear();
    EngineHooks& h = Hooks();
    h.load_emote_library = [] {
        hook_calls.push_back("load model players");
        return true;
    };
    h.load_touch_library = [] { hook_calls.push_back("load touch"); };
    h.accept_dropped_files = [](WindowRecord& record) {
        hook_calls.push_back("drop files " + std::to_string(record.number));
    };
    h.set_arrow_cursor = [](WindowRecord& record) { hook_calls.push_back("arrow " + std::to_string(record.number)); };
    h.init_direct3d = [] {
        hook_calls.push_back("init direct3d");
        TheDisplayState().fullscreen = 1;  // as if the game had gone fullscreen
        TheDisplayState().maximized = 1;
        return direct3d_result;
    };
    h.release_emote_players = [] { hook_calls.push_back("release model players"); };
    h.release_direct3d = [] { hook_calls.push_back("release direct3d"); };
    h.leave_fullscreen = [] {
        hook_calls.push_back("leave fullscreen");
        return true;
    };
    h.show_cursor = [] { hook_calls.push_back("show cursor"); };
    h.unload_touch_library = [] { hook_calls.push_back("unload touch"); };
    h.unload_emote_library = [] { hook_calls.push_back("unload model players"); };
}

TEST_F(EngineStartupTest, LaterSubsystemsAreCalledAtTheirStartUpAndShutdownSteps) {
    windows.SetDesktop({1920, 1080, 16, 60});
    TheDisplayState() = DisplayState{};
    TheSystemFacts().joystick_present = 0;
    windows.SetJoystickSlots(1);  // the system offers one joystick slot
    direct3d_result = 0;
    RecordLaterSubsystemHooks();
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_FALSE(StartupFailed());
    EXPECT_EQ(TheFrameCounters.frame_count, 3u);
    EXPECT_EQ(TheSystemFacts().joystick_present, 1);
    EXPECT_EQ(TheDisplayState().fullscreen_bits_per_pixel, 16);  // the desktop's depth
    EXPECT_EQ(Settings().direct3d_layer_mode, 1);
    const std::vector<std::string> expected = {
        "drop files 0", "arrow 0",  // the main window, as it is made
        "load model players", "load touch", "init direct3d",
        // Leaving fullscreen is the display-mode code's own (no recorder).
        "release model players", "release direct3d", "show cursor",
        "unload touch", "unload model players",
    };
    EXPECT_EQ(hook_calls, expected);
    EXPECT_EQ(TheDisplayState().fullscreen, 0);  // left, so both flags are down
    EXPECT_EQ(TheDisplayState().maximized, 0);
    TheDisplayState() = DisplayState{};
}

// A device that cannot be made sends the engine back to CPU drawing: the
// Direct3D layer mode off, plain rendering, smooth scaling allowed. Its
// device is then not released at shutdown; the model players still are.
void ExpectCpuDrawingAfterDirect3DFailure() {
    EXPECT_EQ(Settings().direct3d_layer_mode, 0);
    EXPECT_EQ(Settings().render_mode, 0);
    EXPECT_EQ(Settings().cpu_smooth_scaling, 1);
    EXPECT_EQ(std::count(hook_calls.begin(), hook_calls.end(), "release direct3d"), 0);
    EXPECT_EQ(std::count(hook_calls.begin(), hook_calls.end(), "release model players"), 1);
    TheDisplayState() = DisplayState{};
}

TEST_F(EngineStartupTest, UnusableDirect3DFallsBackToCpuDrawingWithAMessage) {
    direct3d_result = 1;
    RecordLaterSubsystemHooks();
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_FALSE(StartupFailed());
    EXPECT_EQ(TheFrameCounters.frame_count, 3u);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(Cp932ToUtf8(ui.boxes[0].text), "GPU描画が出来ませんでした。CPU描画に移行します。");
    ExpectCpuDrawingAfterDirect3DFailure();
}

TEST_F(EngineStartupTest, FatalDirect3DFailureEndsStartUp) {
    direct3d_result = -1;
    RecordLaterSubsystemHooks();
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_TRUE(StartupFailed());
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_EQ(TheFrameCounters.frame_count, 0u);
    EXPECT_TRUE(ui.boxes.empty());
    ExpectCpuDrawingAfterDirect3DFailure();
}

// In game-loop-thread mode the frame thread starts only after the device:
// its first frame must not run against a half-made start-up (pause clock,
// save rows, GPU device). A fatal device failure therefore ends start-up
// before any frame has run, and shutdown has no thread to wait for.
TEST_F(EngineStartupTest, FatalDirect3DFailureEndsStartUpWithTheGameLoopThread) {
    config.game_loop_thread = 1;
    config.shown_at_start = 0;
    RecordLaterSubsystemHooks();
    static std::atomic<bool> frame_ran;
    frame_ran = false;
    Hooks().advance_layer_movie = [] { frame_ran = true; };
    Hooks().init_direct3d = [] {
        hook_calls.push_back("init direct3d");
        return -1;
    };
    EXPECT_EQ(RunEngine(), 0);
    EXPECT_FALSE(frame_ran.load()) << "a frame ran before start-up had finished";
    EXPECT_TRUE(StartupFailed());
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_EQ(GameThreadState.load(), -1);  // never started
    EXPECT_EQ(TheFrameCounters.frame_count, 0u);
    EXPECT_TRUE(ui.boxes.empty());
    ExpectCpuDrawingAfterDirect3DFailure();
}

}  // namespace
}  // namespace zk
