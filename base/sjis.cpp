#include "base/sjis.h"

#include "base/ascii.h"

namespace zk {

void SjisLowerAsciiInPlace(std::string& text) {
    for (size_t i = 0; i < text.size();) {
        size_t n = SjisCharLength(text, i);
        if (n == 1) text[i] = AsciiToLower(text[i]);
        i += n;
    }
}

std::string SjisLowerAscii(std::string_view text) {
    std::string out(text);
    SjisLowerAsciiInPlace(out);
    return out;
}

std::string SjisReplaceByte(std::string_view text, char from, char to) {
    std::string out(text);
    for (size_t i = 0; i < out.size();) {
        size_t n = SjisCharLength(out, i);
        if (n == 1 && out[i] == from) out[i] = to;
        i += n;
    }
    return out;
}

size_t SjisFindLast(std::string_view text, char c) {
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < text.size();) {
        size_t n = SjisCharLength(text, i);
        if (n == 1 && text[i] == c) found = i;
        i += n;
    }
    return found;
}

std::string_view SjisTruncate(std::string_view text, size_t max_bytes) {
    size_t end = 0;
    while (end < text.size()) {
        const size_t n = SjisCharLength(text, end);
        if (end + n > max_bytes) break;
        end += n;
    }
    return text.substr(0, end);
}

bool SjisEqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size();) {
        size_t n = SjisCharLength(a, i);
        if (n == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (AsciiToLower(a[i]) != AsciiToLower(b[i])) {
            return false;
        }
        i += n;
    }
    return true;
}

}  // namespace zk
