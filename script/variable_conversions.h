// Command 102: converting and editing variables. A number to its text and
// back, a substring or its removal by character positions, case and width
// conversions of CP932 text, resizing a one-dimensional array and inserting
// or deleting one of its elements, and the reset of global variables to
// the values zkv.zbn declares for them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zk {

inline constexpr uint8_t kCmdConvertVariable = 102;

// a..z to A..Z in place; both bytes of a double-byte character are skipped.
void UpperCaseAscii(std::string& text);
// Single-byte letters and the double-byte Latin, Greek and Cyrillic letters
// to upper or lower case.
std::string UpperCaseCp932(std::string_view text);
std::string LowerCaseCp932(std::string_view text);
// Half-width to full-width, and back. The result stops before a character
// that would take it past `limit` bytes.
std::string ToFullWidth(std::string_view text, size_t limit);
std::string ToHalfWidth(std::string_view text, size_t limit);

// A text read as a number: an integer, a real, or nullopt with `error` set
// (108210 for a text that is no plain decimal number, 0 for a "0x" form
// without digits or with more than 16, which fails without a report).
struct ParsedNumber {
    bool is_real = false;
    int64_t integer = 0;
    double real = 0.0;
};
std::optional<ParsedNumber> ParseNumberText(std::string_view text, uint32_t& error);

// The byte range of `count` characters from character `start` (1-based), by
// the substring rules: 0 and the range, or 1 when the start lies beyond the
// text, 2 when the count runs past its end.
int ResolveCharacterRange(std::string_view text, int64_t start, int64_t count, size_t& begin, size_t& end);

// Resizes one-dimensional variable `number` to `count` elements: kept
// elements are copied, new ones are 0, 0.0 or the empty text. The count is
// checked first (101100 above 4,000,000, 101110 at 0 or below; fatal), and
// a refused count changes nothing. 0 or -1.
int32_t ResizeVariableArray(uint32_t number, int64_t count);
// The element count recomputed from the dimension sizes: 0, or -1 after
// 101100 / 101110 (fatal).
int32_t CountVariableElements(uint32_t number);
// Puts the global (scope 1) variables back to their zkv.zbn values. With key
// -1 a record of type 1, 2 or 3 in group 1..4 is applied when its bit
// (group - 1) of the mask of its type is set; other scope-1 records always.
// 0, or -1 after a report (900070 for a record beyond the table).
int32_t ResetVariablesFromDefinitions(int32_t key, uint32_t integer_mask, uint32_t real_mask, uint32_t text_mask);

int32_t CmdConvertVariable();

}  // namespace zk
