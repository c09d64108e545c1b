// Input end to end below the script: host events played by the headless
// window system, through the window procedure, the input poll and the
// frame step's input step, into the input arrays; the pointer through the
// letterbox; joysticks; the cursor; and `zorvek --input`.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_report.h"
#include "engine/input.h"
#include "engine/main_loop.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "engine/startup.h"
#include "engine/window_proc.h"
#include "core/window_record.h"
#include "platform/clock.h"
#include "platform/headless_window_system.h"
#include "platform/joysticks.h"
#include "platform/ui.h"
#include "renderer/cpu_presentation.h"
#include "tests/storage/run_program.h"
#include "tools/lib/byte_writer.h"
#include "tools/lib/script_writer.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/zkcfg_writer.h"
#include "renderer/cpu_back_buffer.h"
#include "engine/engine_reset.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using platform::InputEvent;
using Kind = InputEvent::Kind;

InputEvent Event(Kind kind, int32_t a = 0, int32_t b = 0, int32_t c = 0) {
    InputEvent event;
    event.kind = kind;
    event.a = a;
    event.b = b;
    event.c = c;
    return event;
}

// Window 0 with a 640 x 480 game screen on the headless window system,
// focused, windowed (back buffer of the game size, no letterbox).
class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        platform::InstallWindowSystem(&windows_);
        platform::InstallClock(&clock_);
        FillKeyTransitionTable();
        ASSERT_EQ(CreateWindowRecords(), 0);
        record_ = MainWindowRecord();
        record_->client_width = 640;
        record_->client_height = 480;
        SetupWindowRecord(*record_, "input");
        const std::string name = "zktest-input-" + std::to_string(getpid());
        ASSERT_TRUE(windows_.RegisterClass(name, EngineWindowProc));
        platform::WindowCreateParams params;
        params.class_name = name;
        params.style = platform::WS_POPUP;
        params.width = 640;
        params.height = 480;
        record_->window = windows_.CreateWindow(params);
        ASSERT_NE(record_->window, platform::kNoWindow);
        windows_.SetUserData(record_->window, record_);
        ASSERT_TRUE(AllocateCpuBackBuffer(640, 480));
        windows_.InjectInput(Event(Kind::kActivate));
        Drain();
        ASSERT_EQ(record_->active, 1);
    }
    void TearDown() override {
        platform::InstallJoysticks(nullptr);
        DestroyWindowRecords();
        platform::InstallClock(nullptr);
        platform::InstallWindowSystem(nullptr);
        ResetEngine();
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
    void Play(const InputEvent& event) { windows_.InjectInput(event); }

    platform::HeadlessWindowSystem windows_;
    platform::ManualClock clock_{1000};
    WindowRecord* record_ = nullptr;
};

TEST_F(InputTest, TransitionsCountFramesHeldAndReleased) {
    struct Case {
        const char* name;
        std::multimap<int, InputEvent> events;  // by frame, from 0
        int input;
        std::vector<int64_t> counters;  // after each frame
        uint64_t presses;
    };
    const Case cases[] = {
        {"key A held three frames", {{0, Event(Kind::kKeyDown, 'A')}, {3, Event(Kind::kKeyUp, 'A')}}, 'A',
         {1, 2, 3, -1, -2}, 1},
        {"the any-key input follows it", {{0, Event(Kind::kKeyDown, 'A')}, {3, Event(Kind::kKeyUp, 'A')}},
         kAnyKeyInput, {1, 2, 3, -1, -2}, 1},
        {"right Shift is Shift", {{0, Event(Kind::kKeyDown, platform::VK_RSHIFT)}}, platform::VK_SHIFT, {1, 2}, 1},
        {"an unpolled key is not run", {{0, Event(Kind::kKeyDown, platform::VK_CAPITAL)}}, platform::VK_CAPITAL,
         {0, 0}, 0},
        {"wheel up lasts a frame", {{0, Event(Kind::kWheel, 120)}}, kWheelUpInput, {1, -1, -2}, 1},
        {"wheel down lasts a frame", {{1, Event(Kind::kWheel, -240)}}, kWheelDownInput, {-1, 1, -1}, 1},
        {"a move lasts a frame", {{0, Event(Kind::kMouseMove, 5, 5)}, {2, Event(Kind::kMouseMove, 6, 5)}},
         kMouseMovedInput, {1, -1, 1, -1}, 2},
        {"a click", {{0, Event(Kind::kButtonDown, 1)}, {1, Event(Kind::kButtonUp, 1)}}, kLeftButtonInput, {1, -1}, 1},
        {"a click shorter than a frame is seen",
         {{0, Event(Kind::kButtonDown, 2)}, {0, Event(Kind::kButtonUp, 2)}}, kRightButtonInput, {1, -1}, 1},
        // Down and up before the poll: the poll reads the key up, yet it
        // went down since the last frame.
        {"a key tap shorter than a frame is seen", {{1, Event(Kind::kKeyDown, 'A')}, {1, Event(Kind::kKeyUp, 'A')}},
         'A', {-1, 1, -1}, 1},
        {"so is a tap of right Shift, as Shift",
         {{0, Event(Kind::kKeyDown, platform::VK_RSHIFT)}, {0, Event(Kind::kKeyUp, platform::VK_RSHIFT)}},
         platform::VK_SHIFT, {1, -1}, 1},
        {"and a side-button click (it has no message)",
         {{0, Event(Kind::kButtonDown, 5)}, {0, Event(Kind::kButtonUp, 5)}}, 5, {1, -1}, 1},
        {"two taps in one frame are one press", {{0, Event(Kind::kKeyDown, 'A')}, {0, Event(Kind::kKeyUp, 'A')},
                                                {0, Event(Kind::kKeyDown, 'A')}, {0, Event(Kind::kKeyUp, 'A')}},
         'A', {1, -1}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetInputState();
        FillKeyTransitionTable();
        windows_.ClearKeyboardState();
        std::vector<int64_t> counters;
        for (int frame = 0; frame < static_cast<int>(c.counters.size()); ++frame) {
            auto [first, last] = c.events.equal_range(frame);
            for (auto it = first; it != last; ++it) Play(it->second);
            Frame();
            counters.push_back(ReadKeyCounter(c.input));
        }
        EXPECT_EQ(counters, c.counters);
        EXPECT_EQ(ReadKeyPressCount(c.input), c.presses);
    }
}

// With the game loop on its own thread the main thread may poll twice
// between two frame steps: a key tap that goes down and up between them is
// still seen, down for one frame and released the next.
TEST_F(InputTest, AKeyTapBetweenTwoFrameStepsIsSeen) {
    ResetInputState();
    FillKeyTransitionTable();
    windows_.ClearKeyboardState();
    Frame();
    Play(Event(Kind::kKeyDown, platform::VK_RETURN));
    Drain();
    PollInput();
    Play(Event(Kind::kKeyUp, platform::VK_RETURN));
    Drain();
    PollInput();
    TheFrameCounters.frame_count += 1;
    UpdateInputState();
    EXPECT_EQ(ReadKeyCounter(platform::VK_RETURN), 1);
    EXPECT_EQ(ReadKeyPressCount(platform::VK_RETURN), 1u);
    Frame();
    EXPECT_EQ(ReadKeyCounter(platform::VK_RETURN), -1);
}

// The other way round: a key held at one frame step and let go after the
// main thread polled it once more is released at the next step, not held a
// frame longer for that poll.
TEST_F(InputTest, AKeyLetGoBetweenTwoFrameStepsIsReleasedAtTheNext) {
    ResetInputState();
    FillKeyTransitionTable();
    windows_.ClearKeyboardState();
    Play(Event(Kind::kKeyDown, 'B'));
    Frame();
    EXPECT_EQ(ReadKeyCounter('B'), 1);
    PollInput();
    Play(Event(Kind::kKeyUp, 'B'));
    Frame();
    EXPECT_EQ(ReadKeyCounter('B'), -1);
    EXPECT_EQ(ReadKeyPressCount('B'), 1u);
}

// Presses made while no engine window has the focus are not kept for the
// window that gains it.
TEST_F(InputTest, PressesWithoutTheFocusAreDropped) {
    Play(Event(Kind::kDeactivate));
    Drain();
    Play(Event(Kind::kKeyDown, 'C'));
    Play(Event(Kind::kKeyUp, 'C'));
    Frame();
    Play(Event(Kind::kActivate));
    Frame();
    EXPECT_EQ(ReadKeyPressCount('C'), 0u);
    EXPECT_EQ(ReadKeyCounter('C'), -2);
}

TEST_F(InputTest, WithoutAnActiveWindowHeldKeysAreReleased) {
    Play(Event(Kind::kKeyDown, 'Z'));
    Frame();
    Frame();
    EXPECT_EQ(ReadKeyCounter('Z'), 2);
    Play(Event(Kind::kDeactivate));
    Frame();
    EXPECT_EQ(ActiveWindowIndex(), -1);
    EXPECT_EQ(ReadKeyCounter('Z'), -1);
    EXPECT_EQ(ReadKeyCounter(kAnyKeyInput), -1);
    Frame();
    EXPECT_EQ(ReadKeyCounter('Z'), -2);

    // Back in focus the key starts again from its host state; a minimised
    // window loses the focus at the next poll.
    Play(Event(Kind::kActivate));
    Play(Event(Kind::kKeyDown, 'Z'));
    Frame();
    EXPECT_EQ(ReadKeyCounter('Z'), 1);
    windows_.ShowWindow(record_->window, platform::SW_MINIMIZE);
    Frame();
    EXPECT_EQ(record_->active, 0);
    Frame();
    EXPECT_EQ(ReadKeyCounter('Z'), -1);
}

TEST_F(InputTest, PointerMapsThroughTheLetterbox) {
    struct Case {
        const char* name;
        int32_t back_width, back_height, offset_x, offset_y;
        int32_t client_x, client_y;
        int32_t x, y;
        uint8_t outside, outside_border;
    };
    // Game screen 640 x 480.
    const Case cases[] = {
        {"windowed, top left", 640, 480, 0, 0, 0, 0, 0, 0, 0, 0},
        {"windowed, bottom right", 640, 480, 0, 0, 639, 479, 639, 479, 0, 0},
        {"windowed, right of it", 640, 480, 0, 0, 640, 100, 640, 100, 1, 1},
        {"windowed, above it", 640, 480, 0, 0, 5, -1, 5, -1, 1, 1},
        // Maximized to 1280 x 1000: twice the size, 20 pixels of border top and bottom.
        {"maximized, centre", 1280, 960, 0, 20, 640, 500, 320, 240, 0, 0},
        {"maximized, last pixel", 1280, 960, 0, 20, 1279, 979, 639, 479, 0, 0},
        {"maximized, in the top border", 1280, 960, 0, 20, 100, 10, 50, -5, 1, 0},
        {"maximized, below the bottom border", 1280, 960, 0, 20, 100, 1000, 50, 490, 1, 1},
        // Fullscreen 1920 x 1080: 1440 x 1080 with 240 pixels left and right.
        {"fullscreen, picture's corner", 1440, 1080, 240, 0, 240, 0, 0, 0, 0, 0},
        {"fullscreen, picture's last pixel", 1440, 1080, 240, 0, 1679, 1079, 639, 479, 0, 0},
        {"fullscreen, left border", 1440, 1080, 240, 0, 100, 540, -62, 240, 1, 0},
        {"fullscreen, left of the screen", 1440, 1080, 240, 0, -5, 540, -108, 240, 1, 1},
        {"fullscreen, right border", 1440, 1080, 240, 0, 1800, 540, 693, 240, 1, 0},
        {"fullscreen, right of the screen", 1440, 1080, 240, 0, 1920, 540, 746, 240, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(AllocateCpuBackBuffer(c.back_width, c.back_height));
        TheLetterboxOffset() = {c.offset_x, c.offset_y};
        Play(Event(Kind::kMouseMove, c.client_x, c.client_y));
        Frame();
        EXPECT_EQ(record_->mouse_x, c.x);
        EXPECT_EQ(record_->mouse_y, c.y);
        EXPECT_EQ(record_->pointer_outside_client, c.outside);
        EXPECT_EQ(record_->pointer_outside_border, c.outside_border);
    }
    // A window that does not exist has its pointer at (0, 0), outside.
    EXPECT_EQ(GetWindowRecord(1)->mouse_x, 0);
    EXPECT_EQ(GetWindowRecord(1)->pointer_outside_border, 1);
}

TEST_F(InputTest, APressCannotBeginOutsideButAHeldOneGoesOn) {
    Play(Event(Kind::kMouseMove, -10, -10));
    Play(Event(Kind::kButtonDown, 1));
    Play(Event(Kind::kWheel, 120));
    Frame();
    EXPECT_EQ(TheKeyStates().state[kLeftButtonInput], kStateUp);
    EXPECT_EQ(ReadKeyPressCount(kLeftButtonInput), 0u);
    EXPECT_EQ(ReadKeyPressCount(kWheelUpInput), 0u);
    EXPECT_EQ(ReadKeyPressCount(kMouseMovedInput), 0u);

    Play(Event(Kind::kButtonUp, 1));
    Play(Event(Kind::kMouseMove, 10, 10));
    Frame();
    Play(Event(Kind::kButtonDown, 1));
    Frame();
    EXPECT_EQ(ReadKeyCounter(kLeftButtonInput), 1);
    Play(Event(Kind::kMouseMove, -10, -10));
    Frame();
    Frame();
    EXPECT_EQ(ReadKeyCounter(kLeftButtonInput), 3);
    Play(Event(Kind::kButtonUp, 1));
    Frame();
    EXPECT_EQ(ReadKeyCounter(kLeftButtonInput), -1);
}

TEST_F(InputTest, MouseOffLeavesTheMouseInputsAlone) {
    TheInputSources().mouse = 0;
    Play(Event(Kind::kButtonDown, 1));
    Play(Event(Kind::kMouseMove, 3, 3));
    Frame();
    EXPECT_EQ(ReadKeyCounter(kLeftButtonInput), 0);
    EXPECT_EQ(ReadKeyCounter(kMouseMovedInput), 0);
    // The move was consumed, not kept for later.
    TheInputSources().mouse = 1;
    Frame();
    EXPECT_EQ(ReadKeyPressCount(kMouseMovedInput), 0u);
    EXPECT_EQ(ReadKeyCounter(kLeftButtonInput), 1);  // still held by the host
}

TEST_F(InputTest, ScriptedJoystickDirectionsHaveNoDeadZone) {
    windows_.SetJoystickSlots(16);
    ASSERT_EQ(CountJoysticks(), 1);
    EXPECT_EQ(TheJoystickData().count, 16);
    TheInputSources().gamepad = 1;
    struct Case {
        uint32_t x, y;
        bool up, down, left, right;
    };
    const Case cases[] = {
        {0x7FFF, 0x7FFF, false, false, false, false},  // centred
        {0x8000, 0x7FFF, false, false, false, true},
        {0x7FFE, 0x7FFF, false, false, true, false},
        {0x7FFF, 0x8000, false, true, false, false},
        {0x7FFF, 0, true, false, false, false},
        {0xFFFF, 0xFFFF, false, true, false, true},
    };
    const int j = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        Play(Event(Kind::kJoystickAxis, j, 0, static_cast<int32_t>(c.x)));
        Play(Event(Kind::kJoystickAxis, j, 1, static_cast<int32_t>(c.y)));
        Frame();
        EXPECT_EQ(TheKeyStates().state[JoystickInput(j, kJoystickUp)] == kStateDown, c.up);
        EXPECT_EQ(TheKeyStates().state[JoystickInput(j, kJoystickDown)] == kStateDown, c.down);
        EXPECT_EQ(TheKeyStates().state[JoystickInput(j, kJoystickLeft)] == kStateDown, c.left);
        EXPECT_EQ(TheKeyStates().state[JoystickInput(j, kJoystickRight)] == kStateDown, c.right);
    }
    Play(Event(Kind::kJoystickButton, j, 0, 1));
    Play(Event(Kind::kJoystickButton, j, 31, 1));
    Frame();
    EXPECT_EQ(ReadKeyCounter(JoystickInput(j, kJoystickButton1)), 1);
    EXPECT_EQ(ReadKeyCounter(JoystickInput(j, kJoystickButton1 + 31)), 1);
    EXPECT_EQ(ReadKeyCounter(JoystickInput(j, kJoystickButton1 + 1)), -static_cast<int64_t>(std::size(cases)) - 1);
    EXPECT_EQ(TheJoystickData().connected[j], 1);
    EXPECT_EQ(TheJoystickData().connected[0], 0);
}

TEST_F(InputTest, SdlJoysticksAndAStickPulledOutLetsGo) {
    std::unique_ptr<platform::Joysticks> joysticks = platform::CreateSdlJoysticks();
    platform::InstallJoysticks(joysticks.get());
    ASSERT_EQ(CountJoysticks(), 1);
    TheInputSources().gamepad = 1;
    auto stick = platform::VirtualJoystick::Attach(2, 32);
    ASSERT_NE(stick, nullptr);
    ASSERT_TRUE(stick->SetAxis(0, -32768));  // hard left
    ASSERT_TRUE(stick->SetButton(4, true));  // button 5
    Frame();
    EXPECT_EQ(ReadKeyCounter(JoystickInput(0, kJoystickLeft)), 1);
    EXPECT_EQ(ReadKeyCounter(JoystickInput(0, kJoystickButton1 + 4)), 1);
    // The slots without a stick read as centred, nothing pressed.
    for (int j = 1; j < kJoystickCount; ++j) {
        for (int part = 0; part < kJoystickInputStride; ++part) {
            ASSERT_EQ(ReadKeyPressCount(JoystickInput(j, part)), 0u) << j << " " << part;
        }
    }
    stick.reset();
    Frame();
    EXPECT_EQ(TheJoystickData().connected[0], 0);
    EXPECT_EQ(ReadKeyCounter(JoystickInput(0, kJoystickLeft)), -1);
    EXPECT_EQ(ReadKeyCounter(JoystickInput(0, kJoystickButton1 + 4)), -1);
}

TEST_F(InputTest, CursorHidesWhenIdleAndWakesOnAMove) {
    TheFrameClock.frame_time = 1000;
    Frame();
    EXPECT_EQ(record_->idle, 1);
    TheFrameClock.frame_time = 3500;  // the delay (2500 ms) has not yet passed
    Frame();
    EXPECT_EQ(windows_.CursorCount(), 0);
    TheFrameClock.frame_time = 3501;
    Frame();
    EXPECT_EQ(TheCursorControl().shown.load(), 0);
    EXPECT_EQ(windows_.CursorCount(), -1);
    Frame();
    EXPECT_EQ(windows_.CursorCount(), -1);  // hidden once

    Play(Event(Kind::kMouseMove, 1, 1));
    Frame();
    EXPECT_EQ(TheCursorControl().shown.load(), 1);
    EXPECT_EQ(windows_.CursorCount(), 0);
    EXPECT_EQ(record_->idle, 0);

    // A move does not wake it while its wake switch is off.
    record_->input_enabled[0] = 0;
    TheFrameClock.frame_time = 10000;
    Frame();
    TheFrameClock.frame_time = 12501;
    Frame();
    ASSERT_EQ(windows_.CursorCount(), -1);
    Play(Event(Kind::kMouseMove, 2, 1));
    Frame();
    EXPECT_EQ(windows_.CursorCount(), -1);
}

TEST_F(InputTest, IndexesOutsideTheArraysAreRefused) {
    for (int64_t index : {int64_t{-1}, int64_t{kInputCount}, std::numeric_limits<int64_t>::min()}) {
        SCOPED_TRACE(index);
        RunKeyTransition(index);
        EXPECT_EQ(ReadKeyCounter(index), 0);
        EXPECT_EQ(ReadKeyPressCount(index), 0u);
        EXPECT_FALSE(WriteKeyCounter(index, -5));
        EXPECT_FALSE(WriteKeyPressCount(index, 5));
    }
    // Counter writes keep the sign of the input's state.
    const struct {
        bool down;
        int64_t value, stored;
    } writes[] = {{false, -5, -5}, {false, 5, 0}, {true, 5, 5}, {true, -5, 0}, {true, 0, 0}};
    for (const auto& w : writes) {
        TheKeyStates().state[10] = w.down ? kStateDown : kStateUp;
        EXPECT_TRUE(WriteKeyCounter(10, w.value));
        EXPECT_EQ(ReadKeyCounter(10), w.stored) << w.down << " " << w.value;
    }
    // A counter a script set to the end of its range stays there.
    TheKeyStates().state[10] = kStateUp;
    ASSERT_TRUE(WriteKeyCounter(10, std::numeric_limits<int64_t>::min()));
    TheKeyStates().down[10] = 0;
    RunKeyTransition(10);
    EXPECT_EQ(ReadKeyCounter(10), std::numeric_limits<int64_t>::min());
}

TEST_F(InputTest, CaptionDragRequestPostsTheCaptionPress) {
    RequestCaptionDrag(0, platform::MakeLParam(12, 34));
    RequestCaptionDrag(7, 0);  // no such window: ignored
    PollInput();
    UpdateInputState();
    platform::Message m;
    ASSERT_TRUE(windows_.PeekMessage(m, true));
    EXPECT_EQ(m.window, record_->window);
    EXPECT_EQ(m.message, platform::WM_NCLBUTTONDOWN);
    EXPECT_EQ(m.wparam, platform::HTCAPTION);
    EXPECT_EQ(m.lparam, platform::MakeLParam(12, 34));
    UpdateInputState();
    EXPECT_FALSE(windows_.PeekMessage(m, true));  // once
}

// ---- the whole engine ---------------------------------------------------------------

class InputRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("zorvek-input-" + std::to_string(getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "zkbin");
        ASSERT_TRUE(tools::IdleGame().Write(folder_));
        tools::EngineConfigFile config;
        config.title = "input";
        config.shown_at_start = 1;
        ASSERT_TRUE(tools::WriteReleaseConfig(folder_, config));
        original_cwd_ = fs::current_path();
        ResetEngine();
    }
    void TearDown() override {
        fs::current_path(original_cwd_);
        fs::remove_all(folder_);
        ResetEngine();
    }

    fs::path folder_, original_cwd_;
};

TEST_F(InputRunTest, AnInputScriptDrivesTheEngine) {
    platform::HeadlessWindowSystem windows;
    platform::RecordingUi ui;
    std::string error;
    auto events = platform::ParseInputScript("3 key Return\n4 click 5 5\n5 wheel -1\n", error);
    ASSERT_TRUE(events) << error;
    windows.SetInputScript(std::move(*events));
    windows.SetFocusOnShow(true);
    platform::InstallWindowSystem(&windows);
    platform::InstallUi(&ui);
    SetFrameLimit(8);
    ProgramEntry entry;
    entry.argv = {"zorvek"};
    std::string host = (folder_ / "zorvek").string();
    for (char& c : host)
        if (c == '/') c = '\\';
    entry.executable_path = host;
    EXPECT_EQ(WinMain(entry), 0);
    platform::InstallUi(nullptr);
    platform::InstallWindowSystem(nullptr);

    EXPECT_TRUE(windows.InputScriptDone());
    EXPECT_EQ(ReadKeyPressCount(platform::VK_RETURN), 1u);
    EXPECT_EQ(ReadKeyCounter(platform::VK_RETURN), -5);  // down in frame 3, up in 4..8
    EXPECT_EQ(ReadKeyPressCount(kLeftButtonInput), 1u);
    EXPECT_EQ(ReadKeyCounter(kLeftButtonInput), -4);
    EXPECT_EQ(ReadKeyPressCount(kWheelDownInput), 1u);
    EXPECT_EQ(TheWindowRequests().last_key_code, platform::VK_RETURN);
}

TEST_F(InputRunTest, ZorvekPlaysAnInputFile) {
    const fs::path engine = fs::path(ZORVEK_BINARY_DIR) / "zorvek";
    const fs::path input = folder_ / "input.txt";
    const fs::path log = folder_ / "log.txt";

    ASSERT_TRUE(tools::WriteFile(input.string(), std::vector<uint8_t>{'2', ' ', 'j', 'u', 'm', 'p', '\n'}));
    storage_test::RunResult bad = storage_test::RunProgram(
        {engine.string(), "--game", folder_.string(), "--input", input.string(), "--frames", "5"}, log);
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_NE(bad.output.find("line 1: unknown event 'jump'"), std::string::npos) << bad.output;

    // The close button at frame 3 asks (the headless answer is yes) and ends
    // the run long before its frame budget.
    const std::string close = "# the player leaves\n3 close\n";
    ASSERT_TRUE(tools::WriteFile(input.string(), std::vector<uint8_t>(close.begin(), close.end())));
    storage_test::RunResult run = storage_test::RunProgram(
        {engine.string(), "--game", folder_.string(), "--input", input.string(), "--frames", "100000"}, log);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("終了します。よろしいですか？"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace zk
