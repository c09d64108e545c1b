// An open pack: a pack file of the game folder, or the executable when the
// game's pack is appended to it. Offsets are relative to the pack's base
// (0 for a pack file), so readers never need to know which one it is.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/file_stream.h"

namespace zk {

struct PackStream {
    platform::FileStream file;
    bool open = false;
    uint64_t base = 0;
};

// 0 opened (positioned at the base), -1 failed (also for anything but a
// regular file). The path is an engine path (a registered pack name, or the
// game folder followed by one). With a pack appended to the executable the
// path is ignored and the executable is opened instead.
int32_t OpenPackFile(PackStream& stream, std::string_view path);

// False when the offset cannot be reached (past what a file can hold).
bool SeekPack(PackStream& stream, uint64_t offset);
std::optional<uint8_t> ReadPackU8(PackStream& stream);
std::optional<uint32_t> ReadPackU32(PackStream& stream);
std::optional<uint64_t> ReadPackU64(PackStream& stream);
// False when fewer bytes remain.
bool ReadPackBytes(PackStream& stream, std::span<uint8_t> out);
uint64_t TellPack(const PackStream& stream);
void ClosePack(PackStream& stream);

// The bytes from the base to the end of the file (0 when the base lies
// beyond it): nothing of the pack can lie further.
uint64_t PackLength(const PackStream& stream);

}  // namespace zk
