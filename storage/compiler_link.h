// The development link to the script compiler: at start-up of a game under
// development the engine starts the compiler (system\ZKCom\ZKCom.exe) in the
// game folder and receives the compiled files through two shared mappings:
//
// first, "ZORVEKCompilerFileMapObject", 512 bytes: uint32 compile-finished
// flag (0), engine-ready flag (4), success flag (12), file count (16), total
// size of the second mapping (20; 0 is taken as 16), 555 (128), and the game
// folder's host path (132, 380 bytes with its terminator), which the
// compiler writes back as the working folder;
// second, "ZORVEKCompilerFileMapObject2", of the total size: the files back
// to back, each uint32 name length L (terminator included), the name,
// uint32 data size, the data.
//
// The received files form the CompilerFileList, the second file source.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/file_source.h"

namespace zk {

inline constexpr std::string_view kCompilerMapName = "ZORVEKCompilerFileMapObject";
inline constexpr std::string_view kCompilerFilesMapName = "ZORVEKCompilerFileMapObject2";
inline constexpr std::string_view kCompilerPath = "system\\ZKCom\\ZKCom.exe";
inline constexpr size_t kCompilerMapSize = 512;
inline constexpr size_t kCompilerFolderAt = 132;
inline constexpr size_t kCompilerFolderBytes = 380;  // with the terminator
inline constexpr uint32_t kCompilerMagic = 555;

struct CompilerFileEntry {
    std::string name;  // "zkbin\zkc.zbn"
    uint32_t size = 0;
    size_t offset = 0;  // into the list's block
};
struct CompilerFileList {
    std::vector<uint8_t> block;  // one copy of the second mapping
    std::vector<CompilerFileEntry> entries;
};
CompilerFileList& TheCompilerFileList();
void ResetCompilerFileList();

// Walks the records of a received block: at most `count`, each name length
// at least 1 with its terminator last, every length and size inside the
// block. nullopt when a record does not fit.
std::optional<std::vector<CompilerFileEntry>> ParseCompilerFiles(std::span<const uint8_t> block, uint32_t count);

// 0 when the compiler exists (found whatever the case of its path);
// otherwise the credits under "License Information" (error 100000, fatal)
// and 1.
int CompilerPresent();

// 0 files received and compiled, 1 compiler missing, not started, ended
// early, failed or sent records that do not fit, -1 a mapping that cannot
// be made. Makes the working folder current on success. `while_compiling`
// (when given) runs once the compiler has started, before the engine waits
// for it: start-up builds its one-time tables there.
int RunCompilerLink(void (*while_compiling)() = nullptr);

// The file source hooks of the list.
int32_t ProbeCompilerList(FileSource& source, std::string_view name);
int32_t LoadCompilerListFile(FileSource& source, std::string_view name);

}  // namespace zk
