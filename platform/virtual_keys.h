// Windows virtual-key numbers: the engine indexes its keyboard and mouse
// inputs by them, and scripts name keys by them. Both back ends report
// their keys in these numbers.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/window_messages.h"

namespace zk::platform {

enum VirtualKey : uint8_t {
    VK_LBUTTON = 0x01,
    VK_RBUTTON = 0x02,
    VK_MBUTTON = 0x04,
    VK_XBUTTON1 = 0x05,
    VK_XBUTTON2 = 0x06,
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,  // Alt
    VK_PAUSE = 0x13,
    VK_CAPITAL = 0x14,
    VK_KANA = 0x15,
    VK_CONVERT = 0x1C,
    VK_NONCONVERT = 0x1D,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,  // Page Up
    VK_NEXT = 0x22,   // Page Down
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_SNAPSHOT = 0x2C,  // Print Screen
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_0 = 0x30,  // '0'..'9' are 0x30..0x39
    VK_A = 0x41,  // 'A'..'Z' are 0x41..0x5A
    VK_LWIN = 0x5B,
    VK_RWIN = 0x5C,
    VK_APPS = 0x5D,
    VK_NUMPAD0 = 0x60,  // ..VK_NUMPAD9 = 0x69
    VK_MULTIPLY = 0x6A,
    VK_ADD = 0x6B,
    VK_SUBTRACT = 0x6D,
    VK_DECIMAL = 0x6E,
    VK_DIVIDE = 0x6F,
    VK_F1 = 0x70,  // ..VK_F24 = 0x87
    VK_F10 = 0x79,
    VK_NUMLOCK = 0x90,
    VK_SCROLL = 0x91,
    VK_LSHIFT = 0xA0,
    VK_RSHIFT = 0xA1,
    VK_LCONTROL = 0xA2,
    VK_RCONTROL = 0xA3,
    VK_LMENU = 0xA4,
    VK_RMENU = 0xA5,
    VK_OEM_1 = 0xBA,       // ;:
    VK_OEM_PLUS = 0xBB,    // =+
    VK_OEM_COMMA = 0xBC,   // ,<
    VK_OEM_MINUS = 0xBD,   // -_
    VK_OEM_PERIOD = 0xBE,  // .>
    VK_OEM_2 = 0xBF,       // /?
    VK_OEM_3 = 0xC0,       // `~
    VK_OEM_4 = 0xDB,       // [{
    VK_OEM_5 = 0xDC,       // \|
    VK_OEM_6 = 0xDD,       // ]}
    VK_OEM_7 = 0xDE,       // '"
    VK_OEM_102 = 0xE2,     // the extra key beside left Shift (Japanese: \ _)
    VK_OEM_AUTO = 0xF3,    // 半角/全角 (Japanese layouts)
};

// One byte per virtual key, as GetKeyboardState fills its table: 0x80 while
// the key or button is down, else 0.
using KeyboardState = std::array<uint8_t, 256>;
inline constexpr uint8_t kKeyDown = 0x80;

// Shift, Ctrl and Alt are read both ways: 16, 17 and 18 are down while
// either side's key is, as Windows reports them. Sets those three bytes
// from the side keys 160..165.
void FillGenericModifiers(KeyboardState& keys);

// The key a key message names: the side keys 160..165 become 16, 17 or 18,
// as WM_KEYDOWN reports Shift, Ctrl and Alt.
uint8_t MessageVirtualKey(uint8_t key);

// The window message a key event makes, as Windows sends it: WM_SYSKEYDOWN
// / WM_SYSKEYUP for Alt itself, F10 and any key while Alt is held, else
// WM_KEYDOWN / WM_KEYUP; wparam the key (MessageVirtualKey), lparam a
// repeat count of 1 with the Alt (29), previous-state (30) and transition
// (31) bits.
Message KeyMessage(WindowHandle window, uint8_t key, bool down, bool alt_held, bool repeat);

// A key by name, for input scripts and tools: "A".."Z", "0".."9",
// "F1".."F24", "Numpad0".."Numpad9", "Return" (or "Enter"), "Space",
// "Escape" ("Esc"), "Tab", "Backspace", "Left", "Up", "Right", "Down",
// "Shift", "Ctrl", "Alt" (the left-hand keys), "LShift", "RShift",
// "LCtrl", "RCtrl", "LAlt", "RAlt", "Insert", "Delete", "Home", "End",
// "PageUp", "PageDown", "Pause"; any case. A single digit is that digit's
// key; two or three digits are the key of that number ("08" is Backspace,
// "13" Return). nullopt for anything else.
std::optional<uint8_t> VirtualKeyFromName(std::string_view name);

// SDL scancode -> virtual key: by the key's position, except for the
// punctuation keys beside the letters and the key left of 1, which take the
// virtual key that the current layout's key there has (on a Japanese layout
// the key right of P is @, 192; the key left of 1 is 半角/全角, 243); the
// Japanese keys by their own codes; 0 for a scancode with no key here.
// Takes the scancode as an int so that engine code and tests need no SDL
// header.
uint8_t VirtualKeyFromScancode(int scancode);
// The same with the layout's keys given: `keycode_of` answers the SDL
// keycode the layout puts at a scancode (0 when no layout is known). For
// tests of the layouts.
uint8_t VirtualKeyInLayout(int scancode, const std::function<int(int)>& keycode_of);
// SDL's scancode for a key name as SDL spells it ("A", "Left Shift",
// "F1"); -1 when SDL does not know the name. For tests of the table.
int ScancodeFromName(const char* name);

}  // namespace zk::platform
