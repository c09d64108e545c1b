// SDL scancodes to Windows virtual keys. Most keys keep their virtual key
// on every layout Windows has (letters, digits, function and editing keys,
// the keypad), and scancodes name a key's position, so those go by a fixed
// table. The punctuation keys beside the letters, and the key left of 1,
// get another virtual key on a Japanese layout than on a US one (the key
// right of P prints @ and is 192 there, [ and 219 on US): for those the
// key the desktop's current layout puts at the position decides, as the
// system's key table of that layout would report it. The keys that only
// Japanese keyboards have keep the virtual keys a Japanese layout gives
// them.
#include <SDL.h>

#include <array>
#include <functional>

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

// The positions whose virtual key follows the layout.
bool FollowsLayout(int scancode) {
    switch (scancode) {
        case SDL_SCANCODE_GRAVE:
        case SDL_SCANCODE_EQUALS:
        case SDL_SCANCODE_LEFTBRACKET:
        case SDL_SCANCODE_RIGHTBRACKET:
        case SDL_SCANCODE_BACKSLASH:
        case SDL_SCANCODE_NONUSHASH:
        case SDL_SCANCODE_SEMICOLON:
        case SDL_SCANCODE_APOSTROPHE: return true;
        default: return false;
    }
}

// A Japanese layout puts ^ right of -, @ right of P and : right of ;.
bool JapaneseLayout(const std::function<int(int)>& keycode_of) {
    return keycode_of(SDL_SCANCODE_EQUALS) == SDLK_CARET || keycode_of(SDL_SCANCODE_LEFTBRACKET) == SDLK_AT ||
           keycode_of(SDL_SCANCODE_APOSTROPHE) == SDLK_COLON;
}

}  // namespace

uint8_t VirtualKeyInLayout(int scancode, const std::function<int(int)>& keycode_of) {
    if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return 0;
    const uint8_t by_position = Table()[static_cast<size_t>(scancode)];
    if (!FollowsLayout(scancode)) return by_position;
    const bool japanese = JapaneseLayout(keycode_of);
    // 半角/全角 sits where US keyboards have `; it has no character.
    if (scancode == SDL_SCANCODE_GRAVE && japanese) return VK_OEM_AUTO;
    switch (keycode_of(scancode)) {
        case SDLK_BACKQUOTE: return VK_OEM_3;
        case SDLK_AT: return VK_OEM_3;
        case SDLK_EQUALS: return VK_OEM_PLUS;
        case SDLK_CARET: return VK_OEM_7;
        case SDLK_LEFTBRACKET: return VK_OEM_4;
        case SDLK_RIGHTBRACKET: return VK_OEM_6;
        case SDLK_BACKSLASH: return VK_OEM_5;
        case SDLK_QUOTE: return VK_OEM_7;
        case SDLK_COLON: return VK_OEM_1;
        // The key that types + (shifted on a Japanese layout) is 187.
        case SDLK_SEMICOLON: return japanese ? VK_OEM_PLUS : VK_OEM_1;
        // No layout known (no display), or a character neither layout puts
        // there: the key a US layout has at the position.
        default: return by_position;
    }
}

uint8_t VirtualKeyFromScancode(int scancode) {
    return VirtualKeyInLayout(scancode, [](int code) {
        return static_cast<int>(SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(code)));
    });
}

int ScancodeFromName(const char* name) {
    const SDL_Scancode scancode = SDL_GetScancodeFromName(name);
    return scancode == SDL_SCANCODE_UNKNOWN ? -1 : static_cast<int>(scancode);
}

}  // namespace zk::platform
