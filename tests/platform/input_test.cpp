// Input at the platform: the scancode table, the input-script format, the
// headless window system playing a script, and joysticks through SDL's
// virtual joystick API (no device, no display).
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "platform/headless_window_system.h"
#include "platform/input_script.h"
#include "platform/joysticks.h"
#include "platform/virtual_keys.h"

namespace zk::platform {
namespace {

TEST(ScancodeMap, SpotChecks) {
    struct Case {
        const char* sdl_name;
        uint8_t key;
    };
    const Case cases[] = {
        {"A", 'A'},           {"Z", 'Z'},           {"0", '0'},         {"1", '1'},       {"9", '9'},
        {"F1", VK_F1},        {"F12", VK_F1 + 11},  {"F13", VK_F1 + 12}, {"F24", VK_F1 + 23},
        {"Left", VK_LEFT},    {"Up", VK_UP},        {"Right", VK_RIGHT}, {"Down", VK_DOWN},
        {"Return", VK_RETURN}, {"Keypad Enter", VK_RETURN}, {"Space", VK_SPACE}, {"Escape", VK_ESCAPE},
        {"Left Shift", VK_LSHIFT}, {"Right Shift", VK_RSHIFT}, {"Left Ctrl", VK_LCONTROL}, {"Right Alt", VK_RMENU},
        {"Keypad 0", VK_NUMPAD0}, {"Keypad 9", VK_NUMPAD0 + 9}, {";", VK_OEM_1}, {"[", VK_OEM_4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sdl_name);
        const int scancode = ScancodeFromName(c.sdl_name);
        ASSERT_GE(scancode, 0);
        EXPECT_EQ(VirtualKeyFromScancode(scancode), c.key);
    }
    EXPECT_EQ(VirtualKeyFromScancode(-1), 0);
    EXPECT_EQ(VirtualKeyFromScancode(100000), 0);
}

// The punctuation keys and the key left of 1 take the virtual key of the
// layout's key at their position, as the system's key table of that layout
// reports it; the other keys go by position. No known layout (no display)
// reads as the US one.
TEST(ScancodeMap, PunctuationFollowsTheLayout) {
    const int kNoCharacter = 0x40000000 | 53;  // a keycode made from a scancode (半角/全角)
    // The unshifted character each layout puts at a position (by SDL's name
    // of the US key there).
    const std::map<std::string, std::pair<int, int>> layouts = {
        // position: {US, Japanese}
        {"`", {'`', kNoCharacter}}, {"=", {'=', '^'}}, {"[", {'[', '@'}}, {"]", {']', '['}},
        {"\\", {'\\', ']'}},       {";", {';', ';'}},  {"'", {'\'', ':'}}, {"-", {'-', '-'}},
        {",", {',', ','}},           {"A", {'a', 'a'}},
    };
    struct Case {
        const char* position;
        uint8_t us, japanese;
    };
    const Case cases[] = {
        {"`", VK_OEM_3, VK_OEM_AUTO},     {"=", VK_OEM_PLUS, VK_OEM_7}, {"[", VK_OEM_4, VK_OEM_3},
        {"]", VK_OEM_6, VK_OEM_4},        {"\\", VK_OEM_5, VK_OEM_6},  {";", VK_OEM_1, VK_OEM_PLUS},
        {"'", VK_OEM_7, VK_OEM_1},        {"-", VK_OEM_MINUS, VK_OEM_MINUS},
        {",", VK_OEM_COMMA, VK_OEM_COMMA}, {"A", 'A', 'A'},
    };
    for (int layout = 0; layout < 3; ++layout) {
        auto keycode_of = [&](int scancode) {
            if (layout == 2) return 0;
            for (const auto& [name, codes] : layouts) {
                if (ScancodeFromName(name.c_str()) == scancode) return layout == 0 ? codes.first : codes.second;
            }
            return 0;
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.position) + (layout == 0 ? " US" : layout == 1 ? " Japanese" : " no layout"));
            const int scancode = ScancodeFromName(c.position);
            ASSERT_GE(scancode, 0);
            EXPECT_EQ(VirtualKeyInLayout(scancode, keycode_of), layout == 1 ? c.japanese : c.us);
        }
    }
    // The keys only Japanese keyboards have keep their own numbers.
    const auto none = [](int) { return 0; };
    EXPECT_EQ(VirtualKeyInLayout(137, none), VK_OEM_5);    // ¥ (SDL_SCANCODE_INTERNATIONAL3)
    EXPECT_EQ(VirtualKeyInLayout(135, none), VK_OEM_102);  // ろ (SDL_SCANCODE_INTERNATIONAL1)
}

TEST(ScancodeMap, EitherSideOfAModifierIsTheGenericKey) {
    for (uint8_t side : {VK_LSHIFT, VK_RSHIFT}) {
        KeyboardState keys{};
        keys[side] = kKeyDown;
        FillGenericModifiers(keys);
        EXPECT_EQ(keys[VK_SHIFT], kKeyDown);
        EXPECT_EQ(keys[VK_CONTROL], 0);
        // Key messages name the generic key, as WM_KEYDOWN does.
        EXPECT_EQ(KeyMessage(1, side, true, false, false).wparam, VK_SHIFT);
    }
    KeyboardState none{};
    none[VK_SHIFT] = kKeyDown;  // a stale generic byte is recomputed from the sides
    FillGenericModifiers(none);
    EXPECT_EQ(none[VK_SHIFT], 0);
    EXPECT_EQ(KeyMessage(1, VK_RMENU, true, false, false).message, WM_SYSKEYDOWN);
    EXPECT_EQ(KeyMessage(1, 'X', true, true, false).message, WM_SYSKEYDOWN);
    EXPECT_EQ(KeyMessage(1, 'X', false, false, false).message, WM_KEYUP);
}

// ---- the input-script format ------------------------------------------------------

using Kind = InputEvent::Kind;

InputEvent Event(uint64_t frame, Kind kind, int32_t a = 0, int32_t b = 0, int32_t c = 0) {
    InputEvent event;
    event.frame = frame;
    event.kind = kind;
    event.a = a;
    event.b = b;
    event.c = c;
    return event;
}

TEST(InputScript, ParsesEveryEvent) {
    std::string error;
    const auto events = ParseInputScript(
        "# comment\n"
        "\n"
        "4 key Return down\n"
        "2 key space\n"
        "3 click 10 -20\n"
        "5 button right up\n"
        "5 wheel -2\n"
        "6 joy 15 axis y 65535\n"
        "6 joy 0 button 32 down\n"
        "7 drop /tmp/a b.txt\n"
        "7 drop /tmp/folder\n"
        "8 deactivate\n"
        "8 activate\n"
        "9 close\r\n",
        error);
    ASSERT_TRUE(events) << error;
    InputEvent drop = Event(7, Kind::kDrop);
    drop.files = {"/tmp/a b.txt", "/tmp/folder"};
    const std::vector<InputEvent> expected = {
        Event(2, Kind::kKeyDown, VK_SPACE),
        Event(3, Kind::kKeyUp, VK_SPACE),  // a tap lets go at the next frame
        Event(3, Kind::kMouseMove, 10, -20),
        Event(3, Kind::kButtonDown, 1),
        Event(4, Kind::kKeyDown, VK_RETURN),
        Event(4, Kind::kButtonUp, 1),
        Event(5, Kind::kButtonUp, 2),
        Event(5, Kind::kWheel, -240),
        Event(6, Kind::kJoystickAxis, 15, 1, 65535),
        Event(6, Kind::kJoystickButton, 0, 31, 1),
        drop,
        Event(8, Kind::kDeactivate),
        Event(8, Kind::kActivate),
        Event(9, Kind::kClose),
    };
    EXPECT_EQ(*events, expected);
}

TEST(InputScript, RefusesBadLinesByNumber) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"1 key Return\nx key A", "line 2: a frame number first"},
        {"1 key Hyper", "line 1: unknown key 'Hyper'"},
        {"1 key 256", "line 1: unknown key '256'"},
        {"1 joy 16 button 1 down", "line 1: a joystick number 0..15"},
        {"1 joy 0 button 33 down", "line 1: joy J button 1..32 down|up"},
        {"1 joy 0 axis x 65536", "line 1: an axis value 0..65535"},
        {"1 wheel 0", "line 1: wheel notches, non-zero, at most 273 either way"},
        {"1 wheel 274", "line 1: wheel notches, non-zero, at most 273 either way"},
        {"1 move 40000 0", "line 1: a point of two numbers in -32768..32767"},
        {"1 button left sideways", "line 1: button left|right|middle|x1|x2 down|up"},
        {"-1 close", "line 1: a frame number first"},
        {"1", "line 1: an event after the frame"},
        {"1 jump", "line 1: unknown event 'jump'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(ParseInputScript(c.text, error));
        EXPECT_EQ(error, c.error);
    }
    std::string error;
    EXPECT_FALSE(ReadInputScript("/nonexistent/zorvek-input.txt", error));
    EXPECT_EQ(error, "cannot be read");
}

// ---- the headless window system playing input --------------------------------------

int64_t RecordingProc(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam);
std::vector<Message> g_messages;
int64_t RecordingProc(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    g_messages.push_back(Message{window, message, wparam, lparam});
    return 0;
}

class HeadlessInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_messages.clear();
        const std::string name = "zktest-input-" + std::to_string(getpid());
        ASSERT_TRUE(system_.RegisterClass(name, RecordingProc));
        WindowCreateParams params;
        params.class_name = name;
        params.style = 0x02CB0000u;  // captioned: the client area starts inside the frame
        const Rect outer = system_.AdjustWindowRect(Rect{0, 0, 640, 480}, params.style, 0);
        params.x = 100 + outer.left;
        params.y = 50 + outer.top;
        params.width = outer.Width();
        params.height = outer.Height();
        window_ = system_.CreateWindow(params);
        ASSERT_NE(window_, kNoWindow);
    }
    // Every message waiting, in order.
    std::vector<Message> Take() {
        std::vector<Message> out;
        Message m;
        while (system_.PeekMessage(m, true)) out.push_back(m);
        return out;
    }

    HeadlessWindowSystem system_;
    WindowHandle window_ = kNoWindow;
};

TEST_F(HeadlessInputTest, ScriptPlaysByFrameIntoStateAndMessages) {
    std::string error;
    auto events = ParseInputScript("1 key RShift down\n1 move 30 40\n2 button left down\n3 wheel 1\n3 key RShift up\n"
                                   "4 drop /tmp/x\n",
                                   error);
    ASSERT_TRUE(events) << error;
    EXPECT_FALSE(system_.PlaysInputScript());
    system_.SetInputScript(std::move(*events));
    EXPECT_TRUE(system_.PlaysInputScript());
    // Pumps never play the script: how many come before a frame depends on
    // the machine's load.
    EXPECT_TRUE(Take().empty());

    system_.PlayInputScript(1);
    std::vector<Message> taken = Take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].message, WM_KEYDOWN);
    EXPECT_EQ(taken[0].wparam, VK_SHIFT);
    EXPECT_EQ(taken[1].message, WM_MOUSEMOVE);
    EXPECT_EQ(taken[1].lparam, MakeLParam(30, 40));
    KeyboardState keys{};
    system_.GetKeyboardState(keys);
    EXPECT_EQ(keys[VK_RSHIFT], kKeyDown);
    EXPECT_EQ(keys[VK_SHIFT], kKeyDown);
    Point point;
    ASSERT_TRUE(system_.GetCursorClientPos(window_, point));
    EXPECT_EQ(point, (Point{30, 40}));
    system_.PlayInputScript(1);  // played once
    EXPECT_TRUE(Take().empty());  // frame 2's events wait for frame 2

    system_.PlayInputScript(2);
    taken = Take();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].message, WM_LBUTTONDOWN);
    EXPECT_EQ(taken[0].lparam, MakeLParam(30, 40));
    system_.GetKeyboardState(keys);
    EXPECT_EQ(keys[VK_LBUTTON], kKeyDown);

    system_.PlayInputScript(4);  // frames 3 and 4 in one go
    taken = Take();
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].message, WM_MOUSEWHEEL);
    EXPECT_EQ(static_cast<int16_t>(taken[0].wparam >> 16), 120);
    EXPECT_EQ(taken[1].message, WM_KEYUP);
    EXPECT_EQ(taken[2].message, WM_DROPFILES);
    EXPECT_TRUE(system_.InputScriptDone());
    system_.GetKeyboardState(keys);
    EXPECT_EQ(keys[VK_SHIFT], 0);

    // A drop is taken once; DefWindowProc finishes one nobody took.
    EXPECT_EQ(system_.TakeDroppedFiles(taken[2].wparam), (std::vector<std::string>{"/tmp/x"}));
    EXPECT_TRUE(system_.TakeDroppedFiles(taken[2].wparam).empty());
    system_.InjectInput([] {
        InputEvent drop;
        drop.kind = Kind::kDrop;
        drop.files = {"/tmp/y"};
        return drop;
    }());
    taken = Take();
    ASSERT_EQ(taken.size(), 1u);
    system_.DefWindowProc(window_, WM_DROPFILES, taken[0].wparam, 0);
    EXPECT_TRUE(system_.TakeDroppedFiles(taken[0].wparam).empty());

    // Clearing the keyboard state lets go of everything.
    system_.ClearKeyboardState();
    system_.GetKeyboardState(keys);
    EXPECT_EQ(keys, KeyboardState{});
}

// What went down since the last look is kept apart from what is held: a
// key or button that goes down and up before the engine polls still
// reads as pressed, once; the generic Shift follows its side keys.
TEST_F(HeadlessInputTest, PressesAreKeptUntilTakenEvenWhenReleased) {
    KeyboardState presses{};
    system_.TakeKeyPresses(presses);
    EXPECT_EQ(presses, KeyboardState{});

    system_.InjectInput(Event(0, Kind::kKeyDown, 'A'));
    system_.InjectInput(Event(0, Kind::kKeyUp, 'A'));
    system_.InjectInput(Event(0, Kind::kKeyDown, VK_RSHIFT));
    system_.InjectInput(Event(0, Kind::kButtonDown, VK_XBUTTON1));
    system_.InjectInput(Event(0, Kind::kButtonUp, VK_XBUTTON1));
    KeyboardState keys{};
    system_.GetKeyboardState(keys);
    EXPECT_EQ(keys['A'], 0);
    EXPECT_EQ(keys[VK_XBUTTON1], 0);
    system_.TakeKeyPresses(presses);
    KeyboardState expected{};
    expected['A'] = expected[VK_RSHIFT] = expected[VK_SHIFT] = expected[VK_XBUTTON1] = kKeyDown;
    EXPECT_EQ(presses, expected);
    system_.TakeKeyPresses(presses);
    EXPECT_EQ(presses, KeyboardState{}) << "taken once";

    // A key held down is no new press (the host's repeat)...
    system_.InjectInput(Event(0, Kind::kKeyDown, VK_RSHIFT));
    system_.TakeKeyPresses(presses);
    EXPECT_EQ(presses, KeyboardState{});
    // ... and letting go of everything forgets the presses not yet taken.
    system_.InjectInput(Event(0, Kind::kKeyDown, 'B'));
    system_.InjectInput(Event(0, Kind::kKeyUp, 'B'));
    system_.ClearKeyboardState();
    system_.TakeKeyPresses(presses);
    EXPECT_EQ(presses, KeyboardState{});
}

TEST_F(HeadlessInputTest, FocusFollowsActivationAndOptionallyShowing) {
    system_.InjectInput(Event(0, Kind::kActivate));
    system_.InjectInput(Event(0, Kind::kActivate));  // already focused: nothing more
    system_.InjectInput(Event(0, Kind::kDeactivate));
    std::vector<Message> taken = Take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].message, WM_ACTIVATE);
    EXPECT_EQ(taken[0].wparam, WA_ACTIVE);
    EXPECT_EQ(taken[1].wparam, WA_INACTIVE);
    EXPECT_EQ(system_.FocusedWindow(), kNoWindow);

    system_.ShowWindow(window_, SW_SHOW);
    EXPECT_TRUE(Take().empty());  // off by default
    system_.ShowWindow(window_, SW_HIDE);
    system_.SetFocusOnShow(true);
    system_.ShowWindow(window_, SW_SHOW);
    taken = Take();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].message, WM_ACTIVATE);
    EXPECT_EQ(system_.FocusedWindow(), window_);
}

// ---- joysticks ----------------------------------------------------------------------

TEST(JoystickAxis, SdlRangeMapsOntoTheCentredScale) {
    const struct {
        int16_t sdl;
        uint32_t value;
    } cases[] = {{-32768, 0}, {-1, 0x7FFE}, {0, 0x7FFF}, {1, 0x8000}, {32767, 0xFFFF}};
    for (const auto& c : cases) EXPECT_EQ(JoystickAxisFromSdl(c.sdl), c.value) << c.sdl;
}

TEST(SdlJoysticks, VirtualSticksFillSixteenSlotsInOrder) {
    std::unique_ptr<Joysticks> joysticks = CreateSdlJoysticks();
    ASSERT_EQ(joysticks->SlotCount(), kMaxJoysticks);
    joysticks->Refresh();
    JoystickReading reading;
    EXPECT_FALSE(joysticks->Read(0, reading));  // nothing plugged in
    EXPECT_FALSE(joysticks->Read(-1, reading));
    EXPECT_FALSE(joysticks->Read(kMaxJoysticks, reading));

    std::vector<std::unique_ptr<VirtualJoystick>> sticks;
    for (int i = 0; i < kMaxJoysticks + 1; ++i) {
        sticks.push_back(VirtualJoystick::Attach(2, 40));
        ASSERT_NE(sticks.back(), nullptr);
    }
    ASSERT_TRUE(sticks[0]->SetAxis(0, -32768));
    ASSERT_TRUE(sticks[0]->SetAxis(1, 1));
    ASSERT_TRUE(sticks[0]->SetButton(0, true));
    ASSERT_TRUE(sticks[0]->SetButton(31, true));
    ASSERT_TRUE(sticks[0]->SetButton(32, true));  // beyond the 32 buttons read
    ASSERT_TRUE(sticks[16]->SetButton(1, true));
    joysticks->Refresh();
    ASSERT_TRUE(joysticks->Read(0, reading));
    EXPECT_EQ(reading, (JoystickReading{0, 0x8000, 0x80000001u}));
    for (int slot = 1; slot < kMaxJoysticks; ++slot) {
        ASSERT_TRUE(joysticks->Read(slot, reading)) << slot;
        EXPECT_EQ(reading, JoystickReading{}) << slot;  // the 17th stick (button 2 down) has no slot
    }

    // A stick that goes frees its slot for the one that waited.
    sticks[3].reset();
    joysticks->Refresh();
    ASSERT_TRUE(joysticks->Read(3, reading));
    EXPECT_EQ(reading.buttons, 2u);
}

}  // namespace
}  // namespace zk::platform
