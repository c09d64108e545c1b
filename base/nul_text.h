// Engine texts are byte strings that end at their first NUL, held in
// fixed-size buffers or in spans that may run past that NUL.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace zk {

// The length of a text up to its first NUL, at most `limit` bytes.
inline size_t TextLength(const char* text, size_t limit) {
    if (limit == 0) return 0;
    const void* nul = std::memchr(text, 0, limit);
    return nul == nullptr ? limit : static_cast<size_t>(static_cast<const char*>(nul) - text);
}

// The text up to its first NUL (the whole view when it holds none).
constexpr std::string_view UpToNul(std::string_view text) {
    const size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace zk
