// Commands 7, 8, 98 and 99: a game data file read into script variables.
// 7 splits a comma-separated file into the elements of a text array, 8
// counts its fields, 98 stores each line of a text file in an element of a
// text array; 99 only checks its arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

inline constexpr uint8_t kCmdReadCsvFile = 7;
inline constexpr uint8_t kCmdCountCsvFields = 8;
inline constexpr uint8_t kCmdReadTextFileLines = 98;
inline constexpr uint8_t kCmdTextFileCheckArgs99 = 99;

// A script's file name as the file sources look it up: ASCII lower case and
// '\' separators (double-byte characters untouched). Names above 263 bytes
// do not fit the name buffer: empty.
inline constexpr size_t kMaxDataFileName = 263;
std::string DataFileLookupName(std::string_view name);

int32_t CmdReadCsvFile();
int32_t CmdCountCsvFields();
int32_t CmdReadTextFileLines();
int32_t CmdTextFileCheckArgs99();

// Puts the four handlers into the command table (start-up).
void RegisterTextFileCommands();

}  // namespace zk
