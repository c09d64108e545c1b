#include "engine/input.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "engine/main_loop.h"
#include "core/main_thread_calls.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "platform/joysticks.h"
#include "platform/window_system.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/cpu_presentation.h"
#include "script/command_table.h"

namespace zk {

namespace {

constexpr std::array<uint8_t, kPolledKeyCount> BuildPolledKeys() {
    std::array<uint8_t, kPolledKeyCount> keys{};
    size_t n = 0;
    auto add = [&](int first, int last) {
        for (int key = first; key <= last; ++key) keys[n++] = static_cast<uint8_t>(key);
    };
    add(8, 9);
    add(13, 13);
    add(16, 19);
    add(27, 27);
    add(32, 40);
    add(44, 57);
    add(65, 90);
    add(96, 135);
    add(144, 145);
    add(160, 165);
    add(186, 192);
    add(219, 222);
    add(226, 226);
    return keys;
}
constexpr std::array<uint8_t, kPolledKeyCount> kPolledKeys = BuildPolledKeys();
static_assert(kPolledKeys.back() == 226, "the polled key list is 117 keys long");

// What one PollInput saw, for the next UpdateInputState.
struct PolledInput {
    int32_t active = -1;
    platform::KeyboardState keys{};
    struct Pointer {
        int32_t x = 0, y = 0;
        uint8_t outside = 1, outside_border = 1;
    };
    std::array<Pointer, kWindowCount> pointers{};
    std::array<bool, kWindowCount> pointer_seen{};  // false: keep the record's values
};

KeyStateArrays key_states;
KeyTransitionTable transition_table{};
InputSources input_sources;
CursorControl cursor_control;
JoystickData joystick_data;
PointerMessages pointer_messages;

std::mutex poll_mutex;  // guards `polled` and `pressed_since_update`
PolledInput polled;
// The keys and buttons that went down since the last UpdateInputState, as
// the polls took them from the window system, also those up again: a tap
// between two frame steps reaches the next frame as down and its release
// the frame after, whether the main thread polled once between the steps,
// several times (game-thread mode), or never while the key was down. A
// key already down at the last step is not in here, so its release is
// seen at the first step after it, however often it was polled.
platform::KeyboardState pressed_since_update{};
std::atomic<int32_t> active_window{-1};

int64_t SaturatingStep(int64_t value, int64_t step) {
    if (step > 0 && value == std::numeric_limits<int64_t>::max()) return value;
    if (step < 0 && value == std::numeric_limits<int64_t>::min()) return value;
    return value + step;
}

bool ValidIndex(int64_t index) { return index >= 0 && index < kInputCount; }

// `a` is earlier than `b` on the wrapping millisecond clock.
bool Earlier(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }

int32_t ClampToInt32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// The pointer in game coordinates and its outside bytes, for one window.
PolledInput::Pointer MapPointer(int number, const WindowRecord& record, platform::Point client) {
    const int64_t width = record.client_width;
    const int64_t height = record.client_height;
    int64_t x = client.x;
    int64_t y = client.y;
    int64_t ox = TheLetterboxOffset().x;
    int64_t oy = TheLetterboxOffset().y;
    if (number == 0) {
        // Window 0 shows the back buffer at the letterbox offset; its
        // pixels map back onto the game screen.
        const CpuBackBuffer& back = TheCpuBackBuffer();
        x -= ox;
        y -= oy;
        if (back.width != 0) {
            x = x * width / back.width;
            ox = ox * width / back.width;
        }
        if (back.height != 0) {
            y = y * height / back.height;
            oy = oy * height / back.height;
        }
    }
    PolledInput::Pointer out;
    out.x = ClampToInt32(x);
    out.y = ClampToInt32(y);
    const bool outside = x < 0 || y < 0 || x >= width || y >= height;
    out.outside = outside ? 1 : 0;
    out.outside_border = outside && (x < -ox || y < -oy || x >= width + ox || y >= height + oy) ? 1 : 0;
    return out;
}

bool Held(int index) { return key_states.state[static_cast<size_t>(index)] == kStateDown; }

void UpdateCursorAutoHide() {
    WindowRecord* main_record = MainWindowRecord();
    if (main_record == nullptr) return;
    CursorControl& cursor = cursor_control;
    const uint32_t now = TheFrameClock.frame_time.load();
    if (cursor.auto_hide.load() != 0 && main_record->idle == 0) {
        main_record->idle = 1;
        main_record->idle_time = now;
    }
    if (main_record->idle != 0 && Earlier(main_record->idle_time + cursor.hide_delay_ms.load(), now) &&
        cursor.shown.load() != 0) {
        cursor.request = 2;
        cursor.shown = 0;
    }
    if (cursor.auto_hide.load() == 0) return;
    const auto& wake = main_record->input_enabled;
    const bool menu_strip = Hooks().menu_strip_shown != nullptr && Hooks().menu_strip_shown();
    if (main_record->pointer_outside_border != 0 || menu_strip || (Held(kMouseMovedInput) && wake[0] != 0) ||
        ((Held(kLeftButtonInput) || Held(kRightButtonInput) || Held(kMiddleButtonInput)) && wake[1] != 0) ||
        ((Held(kWheelUpInput) || Held(kWheelDownInput)) && wake[2] != 0)) {
        main_record->idle = 0;
        RequestCursorShow();
    }
}

void StartPendingCaptionDrag() {
    const uint8_t target = pointer_messages.caption_drag.exchange(0);
    if (target == 0) return;
    const int64_t point = pointer_messages.caption_drag_point.load();
    const WindowRecord* record = GetWindowRecord(target - 1);
    if (record == nullptr || record->window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    platform::GetWindowSystem().PostMessage(record->window, platform::WM_NCLBUTTONDOWN, platform::HTCAPTION, point);
}

}  // namespace

KeyStateArrays& TheKeyStates() { return key_states; }

// ---- Transitions ----------------------------------------------------------------

void KeyStillUp(KeyStateArrays& keys, size_t index) { keys.counter[index] = SaturatingStep(keys.counter[index], -1); }

void KeyPressed(KeyStateArrays& keys, size_t index) {
    keys.counter[index] = 1;
    keys.state[index] = kStateDown;
    keys.presses[index] += 1;
}

void KeyReleased(KeyStateArrays& keys, size_t index) {
    keys.counter[index] = -1;
    keys.state[index] = kStateUp;
}

void KeyHeld(KeyStateArrays& keys, size_t index) { keys.counter[index] = SaturatingStep(keys.counter[index], 1); }

KeyTransitionTable& TheKeyTransitionTable() { return transition_table; }

void FillKeyTransitionTable() { transition_table = {KeyStillUp, KeyPressed, KeyReleased, KeyHeld}; }

void RunKeyTransition(int64_t index) {
    if (!ValidIndex(index)) return;
    const size_t i = static_cast<size_t>(index);
    // The state byte is only ever 0 or 2; the mask keeps the table index
    // inside the table whatever it holds.
    const size_t slot = ((key_states.state[i] & kStateDown) + (key_states.down[i] >> 7)) & 3;
    const KeyTransitionHandler handler = transition_table[slot];
    if (handler != nullptr) handler(key_states, i);
}

const std::array<uint8_t, kPolledKeyCount>& PolledKeys() { return kPolledKeys; }

int64_t ReadKeyCounter(int64_t index) { return ValidIndex(index) ? key_states.counter[static_cast<size_t>(index)] : 0; }

uint64_t ReadKeyPressCount(int64_t index) {
    return ValidIndex(index) ? key_states.presses[static_cast<size_t>(index)] : 0;
}

bool WriteKeyCounter(int64_t index, int64_t value) {
    if (!ValidIndex(index)) return false;
    const size_t i = static_cast<size_t>(index);
    const bool down = key_states.state[i] == kStateDown;
    key_states.counter[i] = (down ? value > 0 : value < 0) ? value : 0;
    return true;
}

bool WriteKeyPressCount(int64_t index, uint64_t value) {
    if (!ValidIndex(index)) return false;
    key_states.presses[static_cast<size_t>(index)] = value;
    return true;
}

// ---- Sources, cursor, joysticks ---------------------------------------------------

InputSources& TheInputSources() { return input_sources; }
CursorControl& TheCursorControl() { return cursor_control; }
JoystickData& TheJoystickData() { return joystick_data; }
PointerMessages& ThePointerMessages() { return pointer_messages; }

void RequestCursorShow() {
    if (cursor_control.shown.exchange(1) != 0) return;
    if (WindowRecord* main_record = MainWindowRecord()) main_record->idle = 0;
    cursor_control.request = 1;
}

void ApplyCursorRequest() {
    const uint8_t request = cursor_control.request.exchange(0);
    if ((request != 1 && request != 2) || !platform::HasWindowSystem()) return;
    CallOnMainThread([request] { platform::GetWindowSystem().ShowCursor(request == 1); });
}

int CountJoysticks() {
    const int slots = platform::GetJoysticks().SlotCount();
    joystick_data.connected.fill(0);
    for (size_t i = 0; i < joystick_data.button_masks.size(); ++i) joystick_data.button_masks[i] = uint32_t{1} << i;
    if (slots <= 0) {
        joystick_data.count = slots;
        joystick_data.present = 0;
        return 0;
    }
    joystick_data.count = std::min(slots, kJoystickCount);
    joystick_data.present = 1;
    return 1;
}

void PollJoysticks() {
    if (joystick_data.present == 0) return;
    platform::Joysticks& joysticks = platform::GetJoysticks();
    joysticks.Refresh();
    joystick_data.connected.fill(0);
    const int count = std::clamp(joystick_data.count, 0, kJoystickCount);
    for (int j = 0; j < count; ++j) {
        platform::JoystickReading reading;  // centred, nothing pressed
        if (joysticks.Read(j, reading)) joystick_data.connected[static_cast<size_t>(j)] = 1;
        auto set = [&](int part, bool down) {
            key_states.down[static_cast<size_t>(JoystickInput(j, part))] = down ? kInputDown : 0;
        };
        // No dead zone: any position off the centre counts.
        set(kJoystickUp, reading.y < platform::kJoystickCentre);
        set(kJoystickDown, reading.y > platform::kJoystickCentre);
        set(kJoystickLeft, reading.x < platform::kJoystickCentre);
        set(kJoystickRight, reading.x > platform::kJoystickCentre);
        for (size_t b = 0; b < joystick_data.button_masks.size(); ++b) {
            set(kJoystickButton1 + static_cast<int>(b), (reading.buttons & joystick_data.button_masks[b]) != 0);
        }
        for (int part = 0; part < kJoystickInputStride; ++part) RunKeyTransition(JoystickInput(j, part));
    }
}

void ClearPointerMessages() {
    pointer_messages.wheel_delta = 0;
    pointer_messages.mouse_moved = 0;
    pointer_messages.pressed_buttons = 0;
    pointer_messages.caption_drag = 0;
    pointer_messages.caption_drag_point = 0;
}

void NoteButtonPressed(int input) {
    if (input == kLeftButtonInput || input == kRightButtonInput || input == kMiddleButtonInput) {
        pointer_messages.pressed_buttons.fetch_or(static_cast<uint8_t>(1u << input));
    }
}

void RequestCaptionDrag(int window_number, int64_t point_lparam) {
    if (window_number < 0 || window_number >= kWindowCount) return;
    pointer_messages.caption_drag_point = point_lparam;
    pointer_messages.caption_drag = static_cast<uint8_t>(window_number + 1);
}

// ---- The two steps ----------------------------------------------------------------

int ActiveWindowIndex() { return active_window.load(); }

void PollInput() {
    if (!platform::HasWindowSystem()) return;
    platform::WindowSystem& windows = platform::GetWindowSystem();
    PolledInput poll;
    platform::KeyboardState presses{};
    for (int j = 0; j < kWindowCount && poll.active < 0; ++j) {
        const WindowRecord* record = GetWindowRecord(j);
        if (record != nullptr && record->active != 0) poll.active = j;
    }
    if (poll.active >= 0) {
        windows.GetKeyboardState(poll.keys);
        windows.TakeKeyPresses(presses);
        for (int j = 0; j < kWindowCount; ++j) {
            const WindowRecord* record = GetWindowRecord(j);
            if (record == nullptr) continue;
            platform::Point client;
            poll.pointer_seen[static_cast<size_t>(j)] = true;
            if (record->window == platform::kNoWindow || !windows.GetCursorClientPos(record->window, client)) {
                poll.pointers[static_cast<size_t>(j)] = PolledInput::Pointer{0, 0, 1, 1};
                continue;
            }
            poll.pointers[static_cast<size_t>(j)] = MapPointer(j, *record, client);
        }
    } else {
        // No engine window has the focus: every input reads up, so held
        // keys go through their release; the pointer keeps its last place.
        windows.ClearKeyboardState();
    }
    // A minimised window has lost the focus, whatever the host said.
    for (int j = 0; j < kWindowCount; ++j) {
        WindowRecord* record = GetWindowRecord(j);
        if (record != nullptr && record->window != platform::kNoWindow && windows.IsMinimized(record->window)) {
            record->active = 0;
        }
    }
    active_window = poll.active;
    std::lock_guard lock(poll_mutex);
    if (poll.active >= 0) {
        for (size_t i = 0; i < presses.size(); ++i) pressed_since_update[i] |= presses[i] & platform::kKeyDown;
    } else {
        pressed_since_update.fill(0);
    }
    polled = poll;
}

void UpdateInputState() {
    PolledInput poll;
    platform::KeyboardState keys_pressed{};
    {
        std::lock_guard lock(poll_mutex);
        poll = polled;
        keys_pressed = pressed_since_update;
        pressed_since_update.fill(0);
    }
    KeyStateArrays& keys = key_states;
    if (poll.active < 0) {
        keys.down.fill(0);
    } else {
        for (size_t i = 0; i < poll.keys.size(); ++i) keys.down[i] = static_cast<uint8_t>(poll.keys[i] | keys_pressed[i]);
    }
    for (int j = 0; j < kWindowCount; ++j) {
        WindowRecord* record = GetWindowRecord(j);
        if (record == nullptr || !poll.pointer_seen[static_cast<size_t>(j)]) continue;
        const PolledInput::Pointer& p = poll.pointers[static_cast<size_t>(j)];
        record->mouse_x = p.x;
        record->mouse_y = p.y;
        record->pointer_outside_client = p.outside;
        record->pointer_outside_border = p.outside_border;
    }

    // 1. The mouse.
    const uint8_t pressed = pointer_messages.pressed_buttons.exchange(0);
    const int32_t wheel = pointer_messages.wheel_delta.exchange(0);
    const uint8_t moved = pointer_messages.mouse_moved.exchange(0);
    const WindowRecord* active = poll.active >= 0 ? GetWindowRecord(poll.active) : nullptr;
    if (input_sources.mouse.load() != 0 && active != nullptr) {
        for (int input : {kLeftButtonInput, kRightButtonInput, kMiddleButtonInput}) {
            if ((pressed & (1u << input)) != 0) keys.down[static_cast<size_t>(input)] = kInputDown;
        }
        if (active->pointer_outside_border != 0) {
            // A press cannot begin outside the window; one begun inside goes on.
            for (int input : {1, 2, 4, 5, 6, 7}) {
                if (keys.counter[static_cast<size_t>(input)] <= 0) keys.down[static_cast<size_t>(input)] = 0;
            }
        } else {
            if (wheel > 0) keys.down[kWheelUpInput] = kInputDown;
            if (wheel < 0) keys.down[kWheelDownInput] = kInputDown;
            keys.down[kMouseMovedInput] = moved;
        }
        for (int input = 1; input <= kMouseMovedInput; ++input) RunKeyTransition(input);
    }

    // 2. The keyboard, then the any-key input.
    if (input_sources.keyboard.load() != 0) {
        bool any = false;
        for (uint8_t key : kPolledKeys) {
            RunKeyTransition(key);
            any = any || (keys.down[key] & kInputDown) != 0;
        }
        keys.down[kAnyKeyInput] = any ? kInputDown : 0;
        RunKeyTransition(kAnyKeyInput);
    }

    // 3. Joysticks.
    if (input_sources.gamepad.load() != 0) PollJoysticks();

    // 4, 5. The cursor.
    UpdateCursorAutoHide();
    ApplyCursorRequest();

    // 6 (a minimised window loses the focus) runs with the poll, on the
    // main thread where the window system may be asked.

    // 7. The pause clock follows the main window's focus.
    if (Hooks().update_inactive_pause != nullptr) Hooks().update_inactive_pause();

    // 8. A window move asked for by a press on the drag layer.
    StartPendingCaptionDrag();
}

void TakeScriptedInput() {
    if (!platform::HasWindowSystem()) return;
    platform::WindowSystem& windows = platform::GetWindowSystem();
    if (!windows.PlaysInputScript()) return;
    const uint64_t frame = TheFrameCounters.frame_count + 1;
    // On the main thread, which owns the window system and the window
    // procedures; the frame's thread waits, so nothing of the frame runs
    // meanwhile.
    CallOnMainThread([&windows, frame] {
        windows.PlayInputScript(frame);
        DrainMessagesForFrame();
        PollInput();
    });
}

// ---- Command 49 ---------------------------------------------------------------------

int32_t CmdSetInputSources() {
    if (DecodeCommandArgs(kCmdSetInputSources) != 0) return -1;
    const CommandArgBlock& args = Args();
    if (const CommandArgSlot* keyboard = args.Find(0)) input_sources.keyboard = static_cast<uint8_t>(keyboard->value);
    if (const CommandArgSlot* gamepad = args.Find(1)) input_sources.gamepad = static_cast<uint8_t>(gamepad->value);
    if (const CommandArgSlot* mouse = args.Find(2)) {
        // The switch compares the whole value; the byte keeps its low 8 bits.
        const uint8_t before = input_sources.mouse.load();
        if (before == 1 && mouse->value == 0) {
            cursor_control.request = 2;
            cursor_control.shown = 0;
        } else if (before == 0 && mouse->value == 1) {
            cursor_control.request = 1;
            cursor_control.shown = 1;
        }
        input_sources.mouse = static_cast<uint8_t>(mouse->value);
    }
    return 0;
}

void RegisterInputHooks() {
    EngineHooks& hooks = Hooks();
    hooks.poll_input = PollInput;
    hooks.clear_pointer_messages = ClearPointerMessages;
    hooks.update_input_state = UpdateInputState;
    hooks.take_scripted_input = TakeScriptedInput;
    hooks.fill_key_transition_table = FillKeyTransitionTable;
    hooks.count_joysticks = CountJoysticks;
    RegisterCommandHandler(kCmdSetInputSources, CmdSetInputSources);
}

void ResetInputState() {
    key_states = {};
    transition_table = {};
    input_sources.keyboard = 1;
    input_sources.gamepad = 0;
    input_sources.mouse = 1;
    cursor_control.shown = 1;
    cursor_control.request = 0;
    cursor_control.auto_hide = 1;
    cursor_control.hide_delay_ms = 2500;
    joystick_data = {};
    ClearPointerMessages();
    {
        std::lock_guard lock(poll_mutex);
        polled = {};
        pressed_since_update.fill(0);
    }
    active_window = -1;
}

}  // namespace zk
