// Reading the bytes of a CP932 text or CSV file into texts: the fields of a
// comma-separated file, their count, and the lines of a text file. Every
// byte comes from a game file: the scans stay inside the bytes given, take
// a lead byte and its trail byte as one character (a trail byte is never a
// separator, quote or line end), and cut a field or line that would not fit
// the engine's 4096-byte text buffer at a character boundary.
//
// The readers see the file's bytes followed by CR LF, the way the commands
// define them, but read the bytes where they lie and hand each text to the
// caller as soon as it is complete: a file of hundreds of megabytes is held
// once, never copied whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

// A field or line holds at most this many bytes (a 4096-byte buffer with
// its NUL).
inline constexpr size_t kMaxFieldBytes = 4095;

// Receives the texts of a reader in order; the view lasts for the call.
using TextSink = std::function<void(std::string_view)>;

// The fields of a CSV file, in the order they are stored (element 0 up), at
// most `limit` of them. Double quotes and apostrophes protect commas and
// stay in the text; the apostrophe's protection lasts across line ends
// until its partner; blanks before a field's first character are dropped.
// Every comma outside quotes ends a field, and a line's last field is
// stored when the line had a comma or a non-blank character: a line of one
// field is that field, a blank line stores nothing. The fields are exactly
// the ones CountCsvFields counts.
void ReadCsvFields(std::span<const uint8_t> bytes, size_t limit, const TextSink& store);
std::vector<std::string> SplitCsvFields(std::span<const uint8_t> bytes, size_t limit);

// The number of fields of a CSV file: one per comma outside quotes, and one
// more for each line that has a non-blank character or a comma.
int64_t CountCsvFields(std::span<const uint8_t> bytes);

// The texts a text file's lines store into an array whose first dimension
// has `line_slots` elements: each complete line followed by one CR byte, up
// to `line_slots` lines; then the line in progress (empty after a complete
// walk) and the empty text.
void ReadTextLines(std::span<const uint8_t> bytes, size_t line_slots, const TextSink& store);
std::vector<std::string> SplitTextLines(std::span<const uint8_t> bytes, size_t line_slots);

}  // namespace zk
