// Reading the bytes of a CP932 text or CSV file into texts: the fields of a
// comma-separated file, their count, and the lines of a text file. Every
// byte comes from a game file: the scans stay inside the bytes given, take
// a lead byte and its trail byte as one character (a trail byte is never a
// separator, quote or line end), and cut a field or line that would not fit
// the engine's 4096-byte text buffer at a character boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zk {

// A field or line holds at most this many bytes (a 4096-byte buffer with
// its NUL).
inline constexpr size_t kMaxFieldBytes = 4095;

// The fields of a CSV file, in the order they are stored (element 0 up), at
// most `limit` of them. Double quotes and apostrophes protect commas and
// stay in the text; the apostrophe's protection lasts across line ends
// until its partner; blanks before a field's first character are dropped.
// A line stores its last field only when it had a comma; a line with
// neither content nor a comma stores one empty field.
std::vector<std::string> SplitCsvFields(std::span<const uint8_t> bytes, size_t limit);

// The number of fields of a CSV file: one per comma outside quotes, and one
// more for each line that has a non-blank character or a comma.
int64_t CountCsvFields(std::span<const uint8_t> bytes);

// The texts a text file's lines store into an array whose first dimension
// has `line_slots` elements: each complete line followed by one CR byte, up
// to `line_slots` lines; then the line in progress (empty after a complete
// walk) and the empty text.
std::vector<std::string> SplitTextLines(std::span<const uint8_t> bytes, size_t line_slots);

}  // namespace zk
