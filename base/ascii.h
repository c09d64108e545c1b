// ASCII case folding on byte texts. These work byte by byte: they suit names
// made of ASCII (resource types, file endings, script file names compared
// as the compiler wrote them) and UTF-8 lookup keys, whose multi-byte
// characters never contain an ASCII letter. Shift-JIS texts, whose trail
// bytes can be letters, fold through SjisLowerAscii and SjisEqualsIgnoreCase
// (base/sjis.h) instead.
#pragma once

#include <string>
#include <string_view>

namespace zk {

constexpr char AsciiToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Every byte A-Z to a-z.
inline std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiToLower(c);
    return out;
}

// Equal lengths and equal bytes once A-Z is folded to a-z.
constexpr bool AsciiEqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
    return true;
}

// True when `text` is at least as long as `suffix` and ends with it, A-Z
// folded to a-z.
constexpr bool AsciiEndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && AsciiEqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace zk
