// The window procedure on the headless window system: the requests it
// records for the script, dropped files into the file-name list, the drag
// layer's window move, the tray and gesture notifications; and, with the
// whole engine running, the close behaviours with their confirmation box
// and the script held while the main window is inactive.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/text_encoding.h"
#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "engine/input.h"
#include "engine/main_loop.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "engine/startup.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "platform/headless_window_system.h"
#include "platform/ui.h"
#include "renderer/cpu_presentation.h"
#include "script/command_table.h"
#include "script/pause_clock.h"
#include "system/file_name_list.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/script_text.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/zkcfg_writer.h"
#include "renderer/cpu_back_buffer.h"
#include "engine/window_creation.h"
#include "engine/engine_reset.h"
#include "layers/layer_tree_root.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::InputEvent;
using Kind = InputEvent::Kind;

InputEvent Event(Kind kind, int32_t a = 0, int32_t b = 0) {
    InputEvent event;
    event.kind = kind;
    event.a = a;
    event.b = b;
    return event;
}

InputEvent Drop(std::vector<std::string> files) {
    InputEvent event;
    event.kind = Kind::kDrop;
    event.files = std::move(files);
    return event;
}

// A host path of ASCII names as the engine path scripts see.
std::string EnginePath(const fs::path& host) {
    std::string path = host.string();
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// What the hooks of the subsystems that are not built yet were asked.
struct HookCalls {
    int maximize = 0, restore = 0, direct3d_reset = 0, movie = 0;
    int popup_set = 0, popup_x = 0, popup_y = 0;
    bool gesture_is_tap = false;
};
HookCalls hook_calls;

// Windows 0 and 1 on the headless window system, 640 x 480 and 320 x 240,
// window 0 focused and windowed (back buffer of the game size).
class WindowProcTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        platform::InstallWindowSystem(&windows_);
        platform::InstallUi(&ui_);
        FillKeyTransitionTable();
        ASSERT_EQ(CreateWindowRecords(), 0);
        main_ = MakeWindow(0, 640, 480, "main");
        sub_ = MakeWindow(1, 320, 240, "sub");
        ASSERT_TRUE(AllocateCpuBackBuffer(640, 480));
        windows_.ShowWindow(main_->window, platform::SW_SHOW);
        windows_.ShowWindow(sub_->window, platform::SW_SHOW);
        windows_.InjectInput(Event(Kind::kActivate));
        Drain();
        ASSERT_EQ(main_->active, 1);
        hook_calls = {};
        EngineHooks& hooks = Hooks();
        hooks.on_maximize_command = [](WindowRecord&) { ++hook_calls.maximize; };
        hooks.on_restore_command = [](WindowRecord&) { ++hook_calls.restore; };
        hooks.request_direct3d_reset = [] { ++hook_calls.direct3d_reset; };
        hooks.window_movie_notify = [] { ++hook_calls.movie; };
        hooks.request_popup_menu = [](int set, int32_t x, int32_t y) {
            hook_calls.popup_set = set;
            hook_calls.popup_x = x;
            hook_calls.popup_y = y;
        };
        hooks.decode_gesture = [](uint64_t, int64_t) { return hook_calls.gesture_is_tap; };
    }
    void TearDown() override {
        FreeRootTrees();
        DestroyWindowRecords();
        platform::InstallUi(nullptr);
        platform::InstallWindowSystem(nullptr);
        ResetEngine();
    }

    WindowRecord* MakeWindow(int number, int32_t width, int32_t height, const std::string& title) {
        WindowRecord* record = GetWindowRecord(number);
        record->client_width = width;
        record->client_height = height;
        SetupWindowRecord(*record, title);
        const std::string name = "zktest-proc-" + std::to_string(getpid()) + "-" + std::to_string(number);
        EXPECT_TRUE(windows_.RegisterClass(name, EngineWindowProc));
        platform::WindowCreateParams params;
        params.class_name = name;
        params.style = platform::WS_CAPTION | platform::WS_SYSMENU;
        params.x = 100 + 400 * number;
        params.y = 100;
        params.width = width + 8;
        params.height = height + 32;
        record->window = windows_.CreateWindow(params);
        EXPECT_NE(record->window, platform::kNoWindow);
        windows_.SetUserData(record->window, record);
        WindowState[static_cast<size_t>(number)] = 1;
        return record;
    }

    void Drain() {
        platform::Message m;
        while (windows_.PeekMessage(m, true)) windows_.DispatchMessage(m);
    }
    // One pass of the main loop: messages, the poll, the frame's input step.
    void Frame() {
        Drain();
        PollInput();
        TheFrameCounters.frame_count += 1;
        UpdateInputState();
    }
    int64_t Send(const WindowRecord* record, uint32_t message, uint64_t wparam = 0, int64_t lparam = 0) {
        return windows_.SendMessage(record->window, message, wparam, lparam);
    }

    platform::HeadlessWindowSystem windows_;
    platform::RecordingUi ui_;
    WindowRecord* main_ = nullptr;
    WindowRecord* sub_ = nullptr;
};

TEST_F(WindowProcTest, MessagesBecomeRequestsForTheScript) {
    struct Case {
        const char* name;
        int window;
        uint32_t message;
        uint64_t wparam;
        uint8_t caption_click;  // zkcfg.dat entry 9
        // What follows.
        int32_t key, button;
        int64_t menu;
        uint8_t minimize, maximize, double_click;
        bool minimized, maximized;
        HookCalls hooks;
    };
    using platform::SC_MAXIMIZE, platform::SC_MINIMIZE, platform::SC_RESTORE, platform::WM_SYSCOMMAND;
    const Case cases[] = {
        {"a key", 0, platform::WM_KEYDOWN, 'A', 0, 'A', 0, 0, 0, 0, 0, false, false, {}},
        {"the right button", 0, platform::WM_RBUTTONDOWN, 0, 0, 0, 2, 0, 0, 0, 0, false, false, {}},
        {"the middle button", 1, platform::WM_MBUTTONDOWN, 0, 0, 0, 4, 0, 0, 0, 0, false, false, {}},
        {"a menu command keeps its low word", 0, platform::WM_COMMAND, 0x50000 | 42, 0, 0, 0, 42, 0, 0, 0, false,
         false, {}},
        {"the window-size item", 0, WM_SYSCOMMAND, kResetWindowSizeCommand, 0, 0, 0, 30001, 0, 0, 0, false, false,
         {.direct3d_reset = 1}},
        {"minimize", 1, WM_SYSCOMMAND, SC_MINIMIZE, 0, 0, 0, 0, 2, 0, 0, true, false, {}},
        {"maximize the main window", 0, WM_SYSCOMMAND, SC_MAXIMIZE | 2, 0, 0, 0, 0, 0, 1, 0, false, true,
         {.maximize = 1}},
        {"a sub window may not maximize: only the request", 1, WM_SYSCOMMAND, SC_MAXIMIZE, 0, 0, 0, 0, 0, 2, 0,
         false, false, {}},
        {"restore the main window", 0, WM_SYSCOMMAND, SC_RESTORE, 0, 0, 0, 0, 0, 0, 0, false, false,
         {.restore = 1}},
        {"caption double click with entry 9 on", 1, platform::WM_NCLBUTTONDBLCLK, platform::HTCAPTION, 1, 0, 0, 0, 0,
         0, 2, false, false, {}},
        {"caption double click with entry 9 off", 1, platform::WM_NCLBUTTONDBLCLK, platform::HTCAPTION, 0, 0, 0, 0,
         0, 0, 0, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetWindowRequests();
        hook_calls = {};
        sub_->minimize_allowed = 1;
        Settings().caption_click = c.caption_click;
        const WindowRecord* record = GetWindowRecord(c.window);
        windows_.ShowWindow(record->window, platform::SW_SHOWNORMAL);  // neither minimized nor maximized
        Send(record, c.message, c.wparam);
        Drain();
        const WindowRequests& r = TheWindowRequests();
        EXPECT_EQ(r.last_key_code.load(), c.key);
        EXPECT_EQ(r.last_mouse_button.load(), c.button);
        EXPECT_EQ(r.menu_command.load(), c.menu);
        EXPECT_EQ(r.minimize_request.load(), c.minimize);
        EXPECT_EQ(r.maximize_request.load(), c.maximize);
        EXPECT_EQ(r.caption_double_click_request.load(), c.double_click);
        EXPECT_EQ(r.close_request.load(), 0);
        EXPECT_EQ(windows_.IsMinimized(record->window), c.minimized);
        EXPECT_EQ(windows_.IsMaximized(record->window), c.maximized);
        EXPECT_EQ(hook_calls.maximize, c.hooks.maximize);
        EXPECT_EQ(hook_calls.restore, c.hooks.restore);
        EXPECT_EQ(hook_calls.direct3d_reset, c.hooks.direct3d_reset);
    }
    // A window that may not minimize keeps its state; the request is made all the same.
    ResetWindowRequests();
    sub_->minimize_allowed = 0;
    Send(sub_, WM_SYSCOMMAND, SC_MINIMIZE);
    EXPECT_EQ(TheWindowRequests().minimize_request.load(), 2);
    EXPECT_FALSE(windows_.IsMinimized(sub_->window));
}

TEST_F(WindowProcTest, TrayMovieAndGestureNotificationsReachTheirSubsystems) {
    // The tray icon of the main window: a click brings it forward, a right
    // click asks for popup menu set 2 at the pointer less the letterbox.
    TheLetterboxOffset() = {20, 10};
    windows_.InjectInput(Event(Kind::kMouseMove, 120, 90));
    Drain();
    windows_.ClearCalls();
    EXPECT_EQ(Send(main_, platform::WM_TRAY_NOTIFY, kTrayIconId, platform::WM_RBUTTONDOWN), 0);
    EXPECT_EQ(hook_calls.popup_set, 2);
    EXPECT_EQ(hook_calls.popup_x, 100);
    EXPECT_EQ(hook_calls.popup_y, 80);
    ASSERT_EQ(windows_.Calls().size(), 1u);
    EXPECT_EQ(windows_.Calls()[0].kind, platform::HeadlessCall::Kind::kSetForegroundWindow);
    // Another icon, or a sub window: not the engine's.
    hook_calls = {};
    Send(main_, platform::WM_TRAY_NOTIFY, kTrayIconId + 1, platform::WM_RBUTTONDOWN);
    Send(sub_, platform::WM_TRAY_NOTIFY, kTrayIconId, platform::WM_RBUTTONDOWN);
    EXPECT_EQ(hook_calls.popup_set, 0);

    Send(main_, platform::WM_MOVIE_NOTIFY);
    EXPECT_EQ(hook_calls.movie, 1);

    // A gesture the touch library does not take is nothing; a tap is a
    // left-button press (with the box that says so).
    Send(main_, platform::WM_GESTURE, 0, 0);
    EXPECT_EQ(TheWindowRequests().last_mouse_button.load(), 0);
    EXPECT_TRUE(ui_.boxes.empty());
    hook_calls.gesture_is_tap = true;
    Send(main_, platform::WM_GESTURE, 0, 0);
    EXPECT_EQ(TheWindowRequests().last_mouse_button.load(), 1);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, "Gesture.");
    EXPECT_EQ(ui_.boxes[0].caption, std::nullopt);
    Frame();
    EXPECT_EQ(ReadKeyPressCount(kLeftButtonInput), 1u);
}

// ---- dropped files ----------------------------------------------------------------

class DropTest : public WindowProcTest {
protected:
    void SetUp() override {
        WindowProcTest::SetUp();
        folder_ = fs::temp_directory_path() / ("zorvek-drop-" + std::to_string(getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        fs::remove_all(folder_);
        WindowProcTest::TearDown();
    }
    void DropFiles(std::vector<std::string> files) {
        windows_.InjectInput(Drop(std::move(files)));
        Drain();
    }
    // A host path of exactly `length` bytes below the folder, made of
    // ASCII names; created as a folder when asked.
    std::string PathOfLength(size_t length, bool folder) {
        std::string path = folder_.string() + "/";
        while (path.size() + 200 < length) path += std::string(150, 'd') + "/";
        path += std::string(length - path.size(), folder ? 'f' : 'n');
        if (folder) fs::create_directories(path);
        return path;
    }

    fs::path folder_;
};

TEST_F(DropTest, FoldersEndInABackslashAndNamesBecomeCp932) {
    fs::create_directories(folder_ / "saves");
    const std::string japanese = "ソフト.txt";  // "ソ" ends in the byte 0x5C in CP932
    const std::vector<std::string> host = {(folder_ / "a.txt").string(), (folder_ / "saves").string(),
                                           (folder_ / japanese).string(), "relative/b.txt"};
    DropFiles(host);
    EXPECT_EQ(FileNameListSnapshot(),
              (std::vector<std::string>{EnginePath(folder_ / "a.txt"), EnginePath(folder_ / "saves") + "\\",
                                        EnginePath(folder_) + "\\" + Utf8ToCp932(japanese), "relative\\b.txt"}));
    // A drop replaces the list whole.
    DropFiles({(folder_ / "saves").string()});
    EXPECT_EQ(FileNameListSnapshot(), (std::vector<std::string>{EnginePath(folder_ / "saves") + "\\"}));
}

TEST_F(DropTest, LongNamesAreSkippedWholeAndADropBringsAtMost65536) {
    struct Case {
        const char* name;
        std::vector<std::string> host;
        std::vector<size_t> kept;  // indexes into host
    };
    const std::string file520 = PathOfLength(kMaxFileNameBytes, false);
    const std::string file521 = PathOfLength(kMaxFileNameBytes + 1, false);
    const std::string folder519 = PathOfLength(kMaxFileNameBytes - 1, true);  // 520 with its '\'
    const std::string folder520 = PathOfLength(kMaxFileNameBytes, true);      // 521 with its '\'
    const Case cases[] = {
        {"a 520-byte name fits, a 521-byte one is skipped", {"/a", file521, file520, "/b"}, {0, 2, 3}},
        {"the folder's backslash counts", {folder520, folder519, "/c"}, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DropFiles(c.host);
        std::vector<std::string> expected;
        for (size_t i : c.kept) {
            expected.push_back(EnginePath(c.host[i]) + (fs::is_directory(c.host[i]) ? "\\" : ""));
        }
        const std::vector<std::string> list = FileNameListSnapshot();
        EXPECT_EQ(list, expected);
        for (const std::string& name : list) EXPECT_LE(name.size(), kMaxFileNameBytes);
    }

    // The first 65536 names of a larger drop.
    std::vector<std::string> many;
    for (size_t i = 0; i < kMaxDroppedFileNames + 5; ++i) many.push_back("/f" + std::to_string(i));
    DropFiles(many);
    ASSERT_EQ(FileNameCount(), kMaxDroppedFileNames);
    EXPECT_EQ(FileNameAt(0), "\\f0");
    EXPECT_EQ(FileNameAt(kMaxDroppedFileNames - 1), "\\f" + std::to_string(kMaxDroppedFileNames - 1));
}

TEST_F(DropTest, TheListIsReplacedUnderTheEngineLock) {
    ReplaceFileNameList({"old"}, kMaxDroppedFileNames);
    // Another thread holds the engine lock (as the sound thread or the pause
    // clock does) while the drop is handled: the list changes only once it
    // lets go.
    std::atomic<bool> locked{false};
    std::atomic<bool> unchanged_while_held{false};
    std::thread holder([&] {
        std::lock_guard lock(EngineLock);
        locked = true;
        std::this_thread::sleep_for(100ms);
        unchanged_while_held = FileNameListSnapshot() == std::vector<std::string>{"old"};
    });
    while (!locked.load()) std::this_thread::sleep_for(1ms);
    DropFiles({"/new"});
    holder.join();
    EXPECT_TRUE(unchanged_while_held.load());
    EXPECT_EQ(FileNameListSnapshot(), std::vector<std::string>{"\\new"});
}

// ---- the drag layer -------------------------------------------------------------------

// "W0/grip": 8 x 8 at (100, 50), white but for a black top-left pixel.
class DragLayerTest : public WindowProcTest {
protected:
    void SetUp() override {
        WindowProcTest::SetUp();
        InitPathCharTable();
        Hooks().create_layer_tree = CreateLayerTree;
        CreateRootTrees();
        grip_ = CreateTreeNode(TheRootTrees().layers, "W0/grip", false, 1);
        ASSERT_NE(grip_, nullptr);
        CgImage* image = CreateCgImage(grip_);
        image->width = image->height = 8;
        ASSERT_TRUE(AllocCgPixels(*image, 8, 8));
        std::fill(image->current_pixels, image->current_pixels + 8 * 8 * 4, 0xFF);
        std::fill(image->current_pixels, image->current_pixels + 4, 0);
        image->x = 100;
        image->y = 50;
        SetDragLayer(grip_);
    }
    // The pointer goes to (x, y) and stays for a frame, then the left
    // button goes down; the frame after starts the move it asked for.
    void PressAt(int32_t x, int32_t y) {
        windows_.InjectInput(Event(Kind::kMouseMove, x, y));
        Frame();
        windows_.InjectInput(Event(Kind::kButtonDown, platform::VK_LBUTTON));
        Frame();
        Drain();
    }
    platform::Rect MainRect() { return windows_.Window(main_->window)->window_rect; }

    NamedTreeNode* grip_ = nullptr;
};

TEST_F(DragLayerTest, APressOnTheLayerMovesTheWindowWithThePointer) {
    static std::vector<int64_t> moves;
    moves.clear();
    Hooks().on_window_move = [](WindowRecord&, int64_t lparam) { moves.push_back(lparam); };
    CaptionDragPause = 1;
    const platform::Rect before = MainRect();

    PressAt(104, 53);
    ASSERT_EQ(windows_.MovingWindow(), main_->window);
    EXPECT_EQ(ThePauseClock().inactive_on.load(), 1) << "the caption-drag pause holds the timers";
    EXPECT_EQ(ReadKeyPressCount(kLeftButtonInput), 1u) << "the script sees the click all the same";
    // The pointer moves by (30, 20) relative to where it pressed: so does the window.
    windows_.InjectInput(Event(Kind::kMouseMove, 134, 73));
    Drain();
    platform::Rect after = MainRect();
    EXPECT_EQ(after.left - before.left, 30);
    EXPECT_EQ(after.top - before.top, 20);
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back(), platform::MakeLParam(before.left + 34, before.top + 48));  // the new client origin
    // The pointer stays on the same client point of the moved window.
    Frame();
    EXPECT_EQ(main_->mouse_x, 104);
    EXPECT_EQ(main_->mouse_y, 53);

    windows_.InjectInput(Event(Kind::kButtonUp, platform::VK_LBUTTON));
    Drain();
    EXPECT_EQ(windows_.MovingWindow(), platform::kNoWindow);
    EXPECT_EQ(ThePauseClock().inactive_on.load(), 0);
    windows_.InjectInput(Event(Kind::kMouseMove, 300, 300));
    Drain();
    EXPECT_EQ(MainRect().left, after.left) << "the move ended with the button";
}

TEST_F(DragLayerTest, OnlyAVisiblePixelOfTheLayerStartsAMove) {
    struct Case {
        const char* name;
        int32_t x, y;
        bool moves;
    };
    const Case cases[] = {
        {"inside", 107, 57, true},
        {"the black pixel", 100, 50, false},
        {"left of it", 99, 55, false},
        {"below it", 104, 58, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PressAt(c.x, c.y);
        EXPECT_EQ(windows_.MovingWindow() != platform::kNoWindow, c.moves);
        windows_.InjectInput(Event(Kind::kButtonUp, platform::VK_LBUTTON));
        Frame();
    }
    // Switched off: nothing moves.
    SetDragLayer(nullptr);
    PressAt(107, 57);
    EXPECT_EQ(windows_.MovingWindow(), platform::kNoWindow);
}

TEST_F(DragLayerTest, AFreedLayerIsForgotten) {
    // The script deletes the layer (or its group, or the whole window's
    // tree); a press afterwards must not read it.
    FreeLayerNode(grip_);
    EXPECT_EQ(TheDragLayer().node.load(), nullptr);
    EXPECT_EQ(TheDragLayer().on.load(), 0);
    PressAt(107, 57);
    EXPECT_EQ(windows_.MovingWindow(), platform::kNoWindow);
}

// A window move ends at once when the button is already up by the time
// the frame posts the caption press (a click shorter than a frame).
TEST_F(DragLayerTest, AClickShorterThanAFrameMovesNothing) {
    windows_.InjectInput(Event(Kind::kMouseMove, 104, 53));
    Frame();
    windows_.InjectInput(Event(Kind::kButtonDown, platform::VK_LBUTTON));
    windows_.InjectInput(Event(Kind::kButtonUp, platform::VK_LBUTTON));
    const platform::Rect before = MainRect();
    Frame();
    Drain();
    EXPECT_EQ(windows_.MovingWindow(), platform::kNoWindow);
    EXPECT_EQ(MainRect().left, before.left);
}

// ---- the whole engine -------------------------------------------------------------------

// A game whose one task runs command 120 (the test's own) every frame:
//
//     label SYSTEM_START
//     cmd120
//     wait 1
//     jump SYSTEM_START
//
// Command 120 calls `on_frame` with the frame count.
std::function<void(uint64_t)> on_frame;
int32_t TestCommand() {
    if (on_frame) on_frame(TheFrameCounters.frame_count);
    return 0;
}

class WindowProcRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("zorvek-proc-" + std::to_string(getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "zkbin");
        tools::ScriptText game = tools::ScriptGame("label SYSTEM_START\ncmd120\nwait 1\njump SYSTEM_START\n");
        ASSERT_TRUE(game.game.Write(folder_));
        config_.title = "main";
        config_.shown_at_start = 1;
        original_cwd_ = fs::current_path();
    }
    void TearDown() override {
        on_frame = nullptr;
        fs::current_path(original_cwd_);
        fs::remove_all(folder_);
        ResetEngine();
    }

    // Runs the engine from a fresh start on the headless window system
    // until it stops by itself or `frames` have run, playing `input` and
    // answering its boxes with `answers`. The boxes shown are kept in boxes_.
    void Run(uint64_t frames, const std::string& input, const std::vector<int>& answers = {}) {
        ResetEngine();
        ASSERT_TRUE(RegisterCommandHandler(120, TestCommand));
        ASSERT_TRUE(tools::WriteReleaseConfig(folder_, config_));
        std::string error;
        auto events = platform::ParseInputScript(input, error);
        ASSERT_TRUE(events) << error;
        platform::HeadlessWindowSystem windows;
        platform::RecordingUi ui;
        for (int answer : answers) ui.QueueAnswer(answer);
        windows.SetInputScript(std::move(*events));
        windows.SetFocusOnShow(true);
        platform::InstallWindowSystem(&windows);
        platform::InstallUi(&ui);
        SetFrameLimit(frames);
        ProgramEntry entry;
        entry.argv = {"zorvek"};
        entry.executable_path = EnginePath(folder_ / "zorvek");
        // A run that hangs (a script held for good, a loop left without its
        // window) is stopped and fails, rather than stalling the suite.
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        bool stalled = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (ended.wait_for(lock, 20s, [&] { return done; })) return;
            stalled = true;
            QuitFlag = 1;
            windows.PostQuitMessage(0);
        });
        EXPECT_EQ(WinMain(entry), 0);
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        ended.notify_one();
        watchdog.join();
        EXPECT_FALSE(stalled) << "the run did not end by itself";
        platform::InstallUi(nullptr);
        platform::InstallWindowSystem(nullptr);
        boxes_ = ui.boxes;
        EXPECT_FALSE(StartupFailed());
        EXPECT_EQ(ErrorReporter().reports, 0u) << ErrorReporter().message;
    }

    fs::path folder_, original_cwd_;
    tools::EngineConfigFile config_;
    std::vector<platform::RecordingUi::Box> boxes_;
};

TEST_F(WindowProcRunTest, CloseBehaviours) {
    constexpr uint64_t kFrames = 12;
    struct Case {
        const char* name;
        int window;  // whose close button the player presses at frame 3
        uint8_t behaviour;
        std::vector<int> answers;  // to the confirmation box
        bool asks;
        bool engine_ends;   // long before the frame budget
        bool window_stays;  // while the engine runs on
        uint8_t close_request;
    };
    const Case cases[] = {
        {"0: the script decides", 0, kCloseAsksScript, {}, false, false, true, 1},
        {"1: asked, no", 0, kCloseAsksUser, {platform::IDNO}, true, false, true, 0},
        {"1: asked, yes", 0, kCloseAsksUser, {platform::IDYES}, true, true, false, 0},
        {"2: closes", 0, kCloseEndsEngine, {}, false, true, false, 0},
        // The engine cannot make its main window again: closing it ends the run.
        {"3 on the main window ends the engine too", 0, kCloseWindowOnly, {}, false, true, false, 0},
        {"0 on a sub window", 1, kCloseAsksScript, {}, false, false, true, 1},
        {"1 on a sub window, yes", 1, kCloseAsksUser, {platform::IDYES}, true, true, false, 0},
        {"2 on a sub window ends the engine", 1, kCloseEndsEngine, {}, false, true, false, 0},
        {"3 on a sub window: the engine runs on", 1, kCloseWindowOnly, {}, false, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);

        // The first frame gives the window its close behaviour (a sub
        // window is made for the purpose); frame 3 presses its close button.
        static std::vector<int32_t> window_state;
        window_state.clear();
        static platform::WindowHandle target;
        target = platform::kNoWindow;
        static const Case* current;
        current = &c;
        on_frame = [](uint64_t frame) {
            WindowRecord* record = GetWindowRecord(current->window);
            if (frame == 1) {
                if (current->window != 0) {
                    record->client_width = 160;
                    record->client_height = 120;
                    SetupWindowRecord(*record, "sub");
                    ASSERT_EQ(CreateEngineWindow(*record, platform::SW_SHOW, "zktest-sub", "sub"), 1);
                    WindowState[1] = 1;
                    platform::GetWindowSystem().ShowWindow(record->window, platform::SW_SHOW);
                }
                record->close_behaviour = current->behaviour;
                target = record->window;
            }
            if (frame == 3 && current->window != 0) {
                static_cast<platform::HeadlessWindowSystem&>(platform::GetWindowSystem())
                    .InjectMessage({target, platform::WM_SYSCOMMAND, platform::SC_CLOSE, 0});
            }
            window_state.push_back(WindowState[static_cast<size_t>(current->window)]);
        };
        Run(kFrames, c.window == 0 ? "3 close\n" : "", c.answers);

        EXPECT_EQ(boxes_.size(), c.asks ? 1u : 0u);
        if (c.asks && !boxes_.empty()) {
            EXPECT_EQ(Cp932ToUtf8(boxes_[0].text), "終了します。よろしいですか？");
            EXPECT_EQ(boxes_[0].caption, std::optional<std::string>("main"));
            EXPECT_EQ(boxes_[0].owner, target);
            EXPECT_EQ(boxes_[0].flags, platform::MB_YESNO | platform::MB_ICONINFORMATION);
        }
        EXPECT_EQ(TheFrameCounters.frame_count < kFrames - 3, c.engine_ends) << TheFrameCounters.frame_count;
        // While the engine runs on, the script sees whether the window is still there.
        ASSERT_FALSE(window_state.empty());
        if (!c.engine_ends) {
            EXPECT_EQ(window_state.back() == 1, c.window_stays);
        }
        EXPECT_EQ(TheWindowRequests().close_request.load(), c.close_request);
    }
}

// The script is held while the main window is inactive (keep-running
// off) and goes on once it is active again; with keep-running on it runs
// throughout. The player switches away at frame 4 and back at frame 5;
// frame 5's input only comes while the script of frame 4 is held, so a
// script that is not held runs frame 4 without the focus.
class InactivePauseTest : public WindowProcRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(InactivePauseTest, TheScriptWaitsForTheMainWindowToBeActive) {
    config_.game_loop_thread = GetParam();
    for (const uint8_t keep_running : {0, 1}) {
        SCOPED_TRACE(keep_running ? "keep running" : "pause");

        struct Seen {
            uint64_t frame;
            uint8_t active;
        };
        static std::mutex mutex;
        static std::vector<Seen> seen;
        static uint32_t accumulator_at_start;
        static uint8_t keep;
        keep = keep_running;
        seen.clear();
        on_frame = [](uint64_t frame) {
            std::lock_guard lock(mutex);
            if (frame == 1) {
                // As command 93 sets it.
                ThePauseClock().keep_running = keep;
                accumulator_at_start = ThePauseClock().accumulator[1];
            }
            seen.push_back({frame, MainWindowRecord()->active.load()});
        };
        Run(8, "4 deactivate\n5 activate\n");

        std::lock_guard lock(mutex);
        ASSERT_EQ(seen.size(), 8u);
        bool ran_inactive = false;
        for (const Seen& s : seen) ran_inactive = ran_inactive || (s.frame > 1 && s.active == 0);
        EXPECT_EQ(ran_inactive, keep_running != 0);
        // The time held does not count on the script's timers.
        const uint32_t held = ThePauseClock().accumulator[1] - accumulator_at_start;
        if (keep_running) {
            EXPECT_EQ(held, 0u);
        } else {
            EXPECT_GE(held, 10u);
        }
        EXPECT_EQ(ThePauseClock().inactive_on.load(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(ThreadingModes, InactivePauseTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param != 0 ? std::string("GameLoopThread") : std::string("SingleThread");
                         });

// A player's input script reaches the engine by frame, whatever the
// threads do and however loaded the machine is: each event is there for
// its own frame's input, not one frame earlier or later. The frames run
// back to back (1000 a second): nothing but the engine's own order keeps
// the main thread's part in step with the frames. A key tapped within one
// frame still counts as pressed in that frame and released in the next.
class ScriptedInputTest : public WindowProcRunTest, public ::testing::WithParamInterface<int> {};

// What a frame of ScriptedInputTest saw.
struct FrameInput {
    int64_t key_return, key_a, left_button;
    int32_t mouse_x;
    int32_t last_key;
    bool operator==(const FrameInput&) const = default;
};
std::ostream& operator<<(std::ostream& out, const FrameInput& s) {
    return out << "{Return " << s.key_return << ", A " << s.key_a << ", left " << s.left_button << ", x "
               << s.mouse_x << ", last key " << s.last_key << "}";
}

TEST_P(ScriptedInputTest, EveryEventArrivesAtItsOwnFrame) {
    config_.game_loop_thread = GetParam();
    static std::mutex mutex;
    static std::vector<FrameInput> seen;
    seen.clear();
    on_frame = [](uint64_t frame) {
        if (frame == 1) TheFrameClock.frame_rate = 1000;  // as command 28 sets it
        std::lock_guard lock(mutex);
        seen.push_back({ReadKeyCounter(platform::VK_RETURN), ReadKeyCounter('A'), ReadKeyCounter(kLeftButtonInput),
                        MainWindowRecord()->mouse_x, TheWindowRequests().last_key_code.load()});
    };
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        Run(10, "1 move 5 5\n3 key Return\n5 key A down\n5 key A up\n7 click 20 30\n9 move 40 50\n");
        std::lock_guard lock(mutex);
        // Frame by frame: Return down at 3; A tapped at 5; the click at 7;
        // the pointer moved at 9. Up inputs count down from their last
        // change (from 0 before the first). The window has the focus from
        // frame 2 (shown by frame 1): the mouse is read from then on.
        const std::vector<FrameInput> expected = {
            {-1, -1, 0, 0, 0},   {-2, -2, -1, 5, 0},  {1, -3, -2, 5, 13},  {-1, -4, -3, 5, 13},
            {-2, 1, -4, 5, 65},  {-3, -1, -5, 5, 65}, {-4, -2, 1, 20, 65}, {-5, -3, -1, 20, 65},
            {-6, -4, -2, 40, 65}, {-7, -5, -3, 40, 65},
        };
        ASSERT_EQ(seen.size(), expected.size());
        for (size_t f = 0; f < seen.size(); ++f) EXPECT_EQ(seen[f], expected[f]) << "frame " << f + 1;
        seen.clear();
    }
}

INSTANTIATE_TEST_SUITE_P(ThreadingModes, ScriptedInputTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param != 0 ? std::string("GameLoopThread") : std::string("SingleThread");
                         });

}  // namespace
}  // namespace zk
