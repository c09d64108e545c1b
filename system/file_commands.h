// Command 20 (folders, copies, deletes, open or run, layer export, preload)
// and command 21 (does a folder, file, image or sound exist, how large is
// a file on disk, which program opens it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

inline constexpr uint8_t kCmdFileOperation = 20;
inline constexpr uint8_t kCmdQueryFile = 21;

// The paths of command 20: ASCII lower case (double-byte characters kept),
// single-byte '/' to '\'.
std::string FileCommandPath(std::string_view text);

// Creates every folder named along `path` (a script path) up to its last
// single-byte '\'. An existing folder is reused whatever its case. A path
// above 523 bytes, or one that leaves the folders a script may reach,
// creates nothing. 0.
int32_t CreateFolderPath(std::string_view path);

int32_t CmdFileOperation();
int32_t CmdQueryFile();
void RegisterFileCommands();

}  // namespace zk
