// The debug log "debuglog.txt" in the game folder, written by command 116
// codes 52 (append a line) and 51 (delete the file). The first write of a
// run starts the file afresh with a dated header; a run may write 10 MB
// before every further write also appends a warning and shows it in a box.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

inline constexpr int64_t kDebugLogBudget = 0xA00000;  // 10,485,760 bytes a run
inline constexpr std::string_view kDebugLogName = "debuglog.txt";
// A message holds at most this many bytes before its line feed (a
// 2048-byte buffer with the LF and the terminator).
inline constexpr size_t kMaxDebugLogMessage = 2046;

// The header written first in a run (CP932, without its LF).
std::string DebugLogHeader(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute,
                           uint16_t second);

// Appends `message` and an LF to `file_name` in the game folder; the first
// write of the run removes the file first (with `delete_first`) and writes
// the header. Returns the bytes appended by this call and adds them to the
// run's written total.
int64_t AppendDebugLog(std::string_view file_name, bool delete_first, std::string_view message);
// Deletes debuglog.txt from the game folder (code 51). The run's state
// stays: the next write adds no header.
void DeleteDebugLog();

// The bytes the run has appended.
uint64_t DebugLogWrittenTotal();
void ResetDebugLog();

}  // namespace zk
