#include "platform/virtual_keys.h"

#include <cctype>
#include <charconv>
#include <string>

namespace zk::platform {

namespace {

struct NamedKey {
    std::string_view name;  // lower case
    uint8_t key;
};

constexpr NamedKey kNamedKeys[] = {
    {"return", VK_RETURN},   {"enter", VK_RETURN},     {"space", VK_SPACE},     {"escape", VK_ESCAPE},
    {"esc", VK_ESCAPE},      {"tab", VK_TAB},          {"backspace", VK_BACK},  {"left", VK_LEFT},
    {"up", VK_UP},           {"right", VK_RIGHT},      {"down", VK_DOWN},       {"shift", VK_LSHIFT},
    {"ctrl", VK_LCONTROL},   {"control", VK_LCONTROL}, {"alt", VK_LMENU},       {"lshift", VK_LSHIFT},
    {"rshift", VK_RSHIFT},   {"lctrl", VK_LCONTROL},   {"rctrl", VK_RCONTROL},  {"lalt", VK_LMENU},
    {"ralt", VK_RMENU},      {"insert", VK_INSERT},    {"delete", VK_DELETE},   {"home", VK_HOME},
    {"end", VK_END},         {"pageup", VK_PRIOR},     {"pagedown", VK_NEXT},   {"pause", VK_PAUSE},
};

std::optional<int> NumberAfter(std::string_view text, std::string_view prefix) {
    if (text.size() <= prefix.size() || text.substr(0, prefix.size()) != prefix) return std::nullopt;
    int value = 0;
    const char* first = text.data() + prefix.size();
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) return std::nullopt;
    return value;
}

}  // namespace

void FillGenericModifiers(KeyboardState& keys) {
    keys[VK_SHIFT] = (keys[VK_LSHIFT] | keys[VK_RSHIFT]) & kKeyDown;
    keys[VK_CONTROL] = (keys[VK_LCONTROL] | keys[VK_RCONTROL]) & kKeyDown;
    keys[VK_MENU] = (keys[VK_LMENU] | keys[VK_RMENU]) & kKeyDown;
}

uint8_t MessageVirtualKey(uint8_t key) {
    switch (key) {
        case VK_LSHIFT:
        case VK_RSHIFT: return VK_SHIFT;
        case VK_LCONTROL:
        case VK_RCONTROL: return VK_CONTROL;
        case VK_LMENU:
        case VK_RMENU: return VK_MENU;
        default: return key;
    }
}

Message KeyMessage(WindowHandle window, uint8_t key, bool down, bool alt_held, bool repeat) {
    const uint8_t message_key = MessageVirtualKey(key);
    const bool system = alt_held || message_key == VK_MENU || message_key == VK_F10;
    uint32_t message = 0;
    if (system) {
        message = down ? WM_SYSKEYDOWN : WM_SYSKEYUP;
    } else {
        message = down ? WM_KEYDOWN : WM_KEYUP;
    }
    uint32_t lparam = 1;  // repeat count
    if (alt_held) lparam |= 1u << 29;
    if (!down || repeat) lparam |= 1u << 30;
    if (!down) lparam |= 1u << 31;
    return Message{window, message, message_key, static_cast<int64_t>(lparam)};
}

std::optional<uint8_t> VirtualKeyFromName(std::string_view name) {
    if (name.empty()) return std::nullopt;
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    if (lower.size() == 1) {
        const char c = lower[0];
        if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(VK_A + (c - 'a'));
        if (c >= '0' && c <= '9') return static_cast<uint8_t>(VK_0 + (c - '0'));
    }
    // Letters and digits above; any other run of digits is a key number.
    if (std::isdigit(static_cast<unsigned char>(lower[0]))) {
        int value = 0;
        auto [end, error] = std::from_chars(lower.data(), lower.data() + lower.size(), value);
        if (error != std::errc() || end != lower.data() + lower.size() || value < 1 || value > 255) return std::nullopt;
        return static_cast<uint8_t>(value);
    }
    if (auto n = NumberAfter(lower, "numpad"); n && *n >= 0 && *n <= 9) return static_cast<uint8_t>(VK_NUMPAD0 + *n);
    if (auto n = NumberAfter(lower, "f"); n && *n >= 1 && *n <= 24) return static_cast<uint8_t>(VK_F1 + *n - 1);
    for (const NamedKey& named : kNamedKeys) {
        if (named.name == lower) return named.key;
    }
    return std::nullopt;
}

}  // namespace zk::platform
