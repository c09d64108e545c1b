// Shift-JIS (CP932) byte helpers. Engine text stays CP932 bytes; every text
// loop steps a lead byte and its trail byte as one character so that a trail
// byte of 0x5C ('\') or 0x2F ('/') is never taken for a separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

constexpr bool IsSjisLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Length in bytes of the character starting at text[i] (1 or 2; a lead byte
// at the very end counts as one byte so loops never step past the text).
inline size_t SjisCharLength(std::string_view text, size_t i) {
    return (IsSjisLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

// ASCII A-Z to a-z, both bytes of a double-byte character left alone (so a
// trail byte that reads as a letter or as '\\' is never changed).
std::string SjisLowerAscii(std::string_view text);
void SjisLowerAsciiInPlace(std::string& text);

// Replaces every single-byte `from` with `to`, double-byte characters skipped.
std::string SjisReplaceByte(std::string_view text, char from, char to);

// Position of the last single-byte `c`, or npos.
size_t SjisFindLast(std::string_view text, char c);

// The longest start of `text` of whole characters that fits in `max_bytes`:
// a double-byte character that would not fit whole is left out with the
// rest (a lead byte at the very end of the text counts as one byte).
std::string_view SjisTruncate(std::string_view text, size_t max_bytes);

// ASCII-case-insensitive comparison of two texts (double-byte characters compared exactly).
bool SjisEqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace zk
