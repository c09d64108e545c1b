// Input: the keyboard, the mouse and up to sixteen joysticks as one array
// of 1024 numbered inputs, each with a down byte, an up/down state, a
// signed frame counter and a press count. Scripts read them through the
// system variables.
//
// Input indexes:
//   0          any key: down while any of the 117 polled keys is
//   1, 2, 4    the left, right and middle mouse buttons
//   5, 6       the side buttons, and the wheel turned up / down (one frame)
//   7          the mouse moved (one frame)
//   8..255     keys by Windows virtual-key number
//   384 + 36j  joystick j (0..15): up, down, left, right, then buttons 1..32
//
// Two steps a frame: PollInput (main loop, main thread) reads the keyboard
// (what is held, and what went down since the last poll) and the pointer
// from the window system; UpdateInputState (frame step) takes what the
// polls saw into the arrays and runs every input's transition: an input
// is down in a frame when it is held at the last poll or went down since
// the last frame step. The poll hands its result over under a lock, so in
// game-thread mode the arrays, the windows' mouse positions and the
// pointer-outside bytes are written only by the frame step's thread, the
// thread the script reads them on.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zk {

inline constexpr int kInputCount = 1024;
inline constexpr int kAnyKeyInput = 0;
inline constexpr int kLeftButtonInput = 1;
inline constexpr int kRightButtonInput = 2;
inline constexpr int kMiddleButtonInput = 4;
inline constexpr int kWheelUpInput = 5;
inline constexpr int kWheelDownInput = 6;
inline constexpr int kMouseMovedInput = 7;
inline constexpr int kJoystickInputBase = 384;
inline constexpr int kJoystickInputStride = 36;
inline constexpr int kJoystickCount = 16;
// The parts of a joystick's 36 inputs.
enum JoystickPart : int { kJoystickUp = 0, kJoystickDown = 1, kJoystickLeft = 2, kJoystickRight = 3, kJoystickButton1 = 4 };
constexpr int JoystickInput(int joystick, int part) {
    return kJoystickInputBase + kJoystickInputStride * joystick + part;
}
static_assert(JoystickInput(kJoystickCount - 1, kJoystickButton1 + 31) < kInputCount);

inline constexpr uint8_t kInputDown = 0x80;
inline constexpr uint8_t kStateUp = 0;
inline constexpr uint8_t kStateDown = 2;

struct KeyStateArrays {
    std::array<uint8_t, kInputCount> down{};   // 0x80 down, else 0
    std::array<uint8_t, kInputCount> state{};  // kStateUp or kStateDown
    // Frames held (> 0, 1 on the frame it went down) or minus the frames
    // since release (< 0, -1 on the frame it went up); 0 before the first
    // transition.
    std::array<int64_t, kInputCount> counter{};
    std::array<uint64_t, kInputCount> presses{};  // +1 at every press
};
KeyStateArrays& TheKeyStates();

// ---- Transitions --------------------------------------------------------------

// Indexed by state byte + (down byte >> 7): 0 up and still up, 1 pressed,
// 2 released, 3 held. Counters stop at the ends of their range rather than
// wrap (a script may store any counter).
using KeyTransitionHandler = void (*)(KeyStateArrays& keys, size_t index);
void KeyStillUp(KeyStateArrays& keys, size_t index);
void KeyPressed(KeyStateArrays& keys, size_t index);
void KeyReleased(KeyStateArrays& keys, size_t index);
void KeyHeld(KeyStateArrays& keys, size_t index);
using KeyTransitionTable = std::array<KeyTransitionHandler, 4>;
KeyTransitionTable& TheKeyTransitionTable();
void FillKeyTransitionTable();
// Runs one input's transition from its down byte; an index outside
// 0..1023 does nothing.
void RunKeyTransition(int64_t index);

// The 117 keys the keyboard poll runs, in order.
inline constexpr size_t kPolledKeyCount = 117;
const std::array<uint8_t, kPolledKeyCount>& PolledKeys();

// Reads and writes of the arrays by input index, for the system variables:
// an index outside 0..1023 reads 0 and writes nothing (false).
int64_t ReadKeyCounter(int64_t index);
uint64_t ReadKeyPressCount(int64_t index);
// Counter writes keep the sign of the input's state: while it is down
// only a value > 0 is stored, while it is up only a value < 0; anything
// else stores 0.
bool WriteKeyCounter(int64_t index, int64_t value);
bool WriteKeyPressCount(int64_t index, uint64_t value);

// ---- Sources, cursor, joysticks -----------------------------------------------

// Command 49's switches.
struct InputSources {
    std::atomic<uint8_t> keyboard{1};
    std::atomic<uint8_t> gamepad{0};
    std::atomic<uint8_t> mouse{1};
};
InputSources& TheInputSources();

struct CursorControl {
    std::atomic<uint8_t> shown{1};
    std::atomic<uint8_t> request{0};  // 0 none, 1 show, 2 hide
    std::atomic<uint8_t> auto_hide{1};
    std::atomic<uint32_t> hide_delay_ms{2500};
};
CursorControl& TheCursorControl();

// Asks for the cursor shown when it is not (the main window's idle time
// starts again).
void RequestCursorShow();
// Carries out a pending show or hide request on the main thread (waits
// for it from another thread).
void ApplyCursorRequest();

struct JoystickData {
    int32_t count = 0;  // slots the system reports, 0..16 (or its failure value)
    uint8_t present = 0;
    std::array<uint8_t, kJoystickCount> connected{};
    std::array<uint32_t, 32> button_masks{};
};
JoystickData& TheJoystickData();
// Start-up: takes the system's slot count; 1 (and present) when it offers
// at least one slot, else 0.
int CountJoysticks();
// Reads every slot and runs the transitions of its 36 inputs (only when a
// joystick slot exists). A slot that cannot be read counts as centred with
// no button down, so a stick that is pulled out lets go of what it held.
void PollJoysticks();

// ---- What the window procedure hands over -------------------------------------

// Written by the window procedure (main thread), consumed by the next
// UpdateInputState.
struct PointerMessages {
    std::atomic<int32_t> wheel_delta{0};    // signed, 120 a notch
    std::atomic<uint8_t> mouse_moved{0};    // 0x80 when the pointer moved
    std::atomic<uint8_t> pressed_buttons{0};  // bit i: input i (1, 2, 4) went down
    std::atomic<int64_t> caption_drag_point{0};  // lparam of the press
    std::atomic<uint8_t> caption_drag{0};    // window number + 1; 0 none
};
PointerMessages& ThePointerMessages();
void ClearPointerMessages();
// A mouse button press seen by the window procedure counts as down in the
// next frame even when the button is up again by its poll, so a click
// shorter than a frame is not lost. `input` is 1, 2 or 4.
void NoteButtonPressed(int input);
// Starts the window move that a press on the drag layer asked for: the
// next frame step posts the caption press to that window.
void RequestCaptionDrag(int window_number, int64_t point_lparam);

// ---- The two steps --------------------------------------------------------------

// The first window (0..3) whose active byte is set, as the last poll saw it; -1 none.
int ActiveWindowIndex();
// Main loop, main thread, before each frame step.
void PollInput();
// Frame step step 5.
void UpdateInputState();
// A run that plays an input script (the headless window system's) takes
// its input by frame: the script's events up to the next frame (the frame
// count + 1) are played, their messages dispatched and the input polled,
// on the main thread while the calling frame waits. So the frame sees the
// same input however the threads are scheduled and the machine is loaded.
// The frame step calls it before it counts the frame; a script held by the
// inactive pause calls it while it waits, so the player's next frame of
// input (coming back to the window) reaches the waiting frame. Does
// nothing without a script. Called on the frame step's thread.
void TakeScriptedInput();

// Command 49: keyboard polling (keyword 0), gamepad polling (1), mouse
// input (2), each stored as its low byte. Turning the mouse off hides the
// cursor, turning it on shows it. 0, or -1 when decoding fails.
int32_t CmdSetInputSources();
inline constexpr uint8_t kCmdSetInputSources = 49;

// Fills the engine hooks of this subsystem and registers command 49.
void RegisterInputHooks();
// Back to the start-of-process state (tests).
void ResetInputState();

}  // namespace zk
