// SDL scancodes to Windows virtual keys. Scancodes name a key's position, so
// the table follows the positions of a US keyboard (the layout whose
// virtual keys Windows gives most positions); the keys that only Japanese
// keyboards have keep the virtual keys a Japanese layout gives them. A
// script that asks for "the key left of Right Shift" gets that key whatever
// the desktop's layout prints on it.
#include <SDL.h>

#include <array>

#include "platform/virtual_keys.h"

namespace zk::platform {

namespace {

struct ScancodeKey {
    SDL_Scancode scancode;
    uint8_t key;
};

constexpr ScancodeKey kScancodeKeys[] = {
    {SDL_SCANCODE_BACKSPACE, VK_BACK},
    {SDL_SCANCODE_TAB, VK_TAB},
    {SDL_SCANCODE_RETURN, VK_RETURN},
    {SDL_SCANCODE_KP_ENTER, VK_RETURN},
    {SDL_SCANCODE_PAUSE, VK_PAUSE},
    {SDL_SCANCODE_CAPSLOCK, VK_CAPITAL},
    {SDL_SCANCODE_ESCAPE, VK_ESCAPE},
    {SDL_SCANCODE_SPACE, VK_SPACE},
    {SDL_SCANCODE_PAGEUP, VK_PRIOR},
    {SDL_SCANCODE_PAGEDOWN, VK_NEXT},
    {SDL_SCANCODE_END, VK_END},
    {SDL_SCANCODE_HOME, VK_HOME},
    {SDL_SCANCODE_LEFT, VK_LEFT},
    {SDL_SCANCODE_UP, VK_UP},
    {SDL_SCANCODE_RIGHT, VK_RIGHT},
    {SDL_SCANCODE_DOWN, VK_DOWN},
    {SDL_SCANCODE_PRINTSCREEN, VK_SNAPSHOT},
    {SDL_SCANCODE_INSERT, VK_INSERT},
    {SDL_SCANCODE_DELETE, VK_DELETE},
    {SDL_SCANCODE_LGUI, VK_LWIN},
    {SDL_SCANCODE_RGUI, VK_RWIN},
    {SDL_SCANCODE_APPLICATION, VK_APPS},
    {SDL_SCANCODE_KP_MULTIPLY, VK_MULTIPLY},
    {SDL_SCANCODE_KP_PLUS, VK_ADD},
    {SDL_SCANCODE_KP_MINUS, VK_SUBTRACT},
    {SDL_SCANCODE_KP_PERIOD, VK_DECIMAL},
    {SDL_SCANCODE_KP_DIVIDE, VK_DIVIDE},
    {SDL_SCANCODE_NUMLOCKCLEAR, VK_NUMLOCK},
    {SDL_SCANCODE_SCROLLLOCK, VK_SCROLL},
    {SDL_SCANCODE_LSHIFT, VK_LSHIFT},
    {SDL_SCANCODE_RSHIFT, VK_RSHIFT},
    {SDL_SCANCODE_LCTRL, VK_LCONTROL},
    {SDL_SCANCODE_RCTRL, VK_RCONTROL},
    {SDL_SCANCODE_LALT, VK_LMENU},
    {SDL_SCANCODE_RALT, VK_RMENU},
    {SDL_SCANCODE_SEMICOLON, VK_OEM_1},
    {SDL_SCANCODE_EQUALS, VK_OEM_PLUS},
    {SDL_SCANCODE_COMMA, VK_OEM_COMMA},
    {SDL_SCANCODE_MINUS, VK_OEM_MINUS},
    {SDL_SCANCODE_PERIOD, VK_OEM_PERIOD},
    {SDL_SCANCODE_SLASH, VK_OEM_2},
    {SDL_SCANCODE_GRAVE, VK_OEM_3},
    {SDL_SCANCODE_LEFTBRACKET, VK_OEM_4},
    {SDL_SCANCODE_BACKSLASH, VK_OEM_5},
    {SDL_SCANCODE_NONUSHASH, VK_OEM_5},
    {SDL_SCANCODE_RIGHTBRACKET, VK_OEM_6},
    {SDL_SCANCODE_APOSTROPHE, VK_OEM_7},
    {SDL_SCANCODE_NONUSBACKSLASH, VK_OEM_102},
    {SDL_SCANCODE_INTERNATIONAL1, VK_OEM_102},  // ろ (\ _)
    {SDL_SCANCODE_INTERNATIONAL2, VK_KANA},     // カタカナ/ひらがな
    {SDL_SCANCODE_INTERNATIONAL3, VK_OEM_5},    // ¥ (|)
    {SDL_SCANCODE_INTERNATIONAL4, VK_CONVERT},  // 変換
    {SDL_SCANCODE_INTERNATIONAL5, VK_NONCONVERT},  // 無変換
};

std::array<uint8_t, SDL_NUM_SCANCODES> BuildTable() {
    std::array<uint8_t, SDL_NUM_SCANCODES> table{};
    for (int i = 0; i < 26; ++i) table[SDL_SCANCODE_A + i] = static_cast<uint8_t>(VK_A + i);
    // SDL numbers the digit row 1..9 then 0.
    for (int i = 0; i < 9; ++i) table[SDL_SCANCODE_1 + i] = static_cast<uint8_t>(VK_0 + 1 + i);
    table[SDL_SCANCODE_0] = VK_0;
    for (int i = 0; i < 9; ++i) table[SDL_SCANCODE_KP_1 + i] = static_cast<uint8_t>(VK_NUMPAD0 + 1 + i);
    table[SDL_SCANCODE_KP_0] = VK_NUMPAD0;
    for (int i = 0; i < 12; ++i) table[SDL_SCANCODE_F1 + i] = static_cast<uint8_t>(VK_F1 + i);
    for (int i = 0; i < 12; ++i) table[SDL_SCANCODE_F13 + i] = static_cast<uint8_t>(VK_F1 + 12 + i);
    for (const ScancodeKey& entry : kScancodeKeys) table[entry.scancode] = entry.key;
    return table;
}

const std::array<uint8_t, SDL_NUM_SCANCODES>& Table() {
    static const std::array<uint8_t, SDL_NUM_SCANCODES> table = BuildTable();
    return table;
}

}  // namespace

uint8_t VirtualKeyFromScancode(int scancode) {
    if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return 0;
    return Table()[static_cast<size_t>(scancode)];
}

int ScancodeFromName(const char* name) {
    const SDL_Scancode scancode = SDL_GetScancodeFromName(name);
    return scancode == SDL_SCANCODE_UNKNOWN ? -1 : static_cast<int>(scancode);
}

}  // namespace zk::platform
