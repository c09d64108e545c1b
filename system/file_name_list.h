// The engine-wide list of file names that dropped files and the folder
// listing fill, and that scripts read through system variables 14 and 15.
//
// The list is replaced whole. Dropped files replace it on the main thread
// while scripts may read it on the game-loop thread, so every access takes
// the list's own lock: a reader sees either the old list or the new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zk {

// A name is kept in a buffer of this many bytes, terminator included: a
// longer name is skipped by the producers, never cut.
inline constexpr size_t kFileNameBufferBytes = 521;
inline constexpr size_t kMaxFileNameBytes = kFileNameBufferBytes - 1;
// The most names one drop may bring; a folder listing brings at most 8192.
inline constexpr size_t kMaxDroppedFileNames = 65536;
inline constexpr size_t kMaxListedFileNames = 8192;

// Replaces the list with `names` (CP932). Names longer than
// kMaxFileNameBytes are skipped and at most `limit` names are taken.
// Returns the number of names taken.
uint32_t ReplaceFileNameList(const std::vector<std::string>& names, size_t limit);

// The number of names (system variable 15).
uint32_t FileNameCount();
// Lowers the count; a larger value changes nothing (there are no names
// beyond the list). System variable 15's write.
void LowerFileNameCount(uint32_t count);
// Name `index`, or nullopt when the index is outside 0..count-1.
std::optional<std::string> FileNameAt(int64_t index);
// A copy of the whole list.
std::vector<std::string> FileNameListSnapshot();

void ResetFileNameList();

}  // namespace zk
