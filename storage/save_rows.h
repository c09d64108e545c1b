// The engine-wide save state between the save and load commands: the 1024
// pending blocks that command 86 builds before it writes them, and the 500
// memory rows (SaveRow), in-memory stores with the layout of a save file
// that live for the process and travel into a file as block 1024.
//
// Threading: the script thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/save_format.h"

namespace zk {

inline constexpr size_t kMinRowCapacity = 51'200;

struct SaveRow {
    std::vector<uint8_t> content;  // capacity() is the row's capacity; size() its size
    uint64_t read_position = 0;
};

struct SaveState {
    PendingBlocks pending;
    std::array<SaveRow, kSaveRowCount> rows;
};
SaveState& TheSaveState();

// Frees pending block index (0..1023), or all of them for -1.
void FreeDataBlockBuffers(int32_t index);
// Start-up: every row empty.
void ResetSaveRows();

// Rebuilds row r from the pending blocks 1..1023 (earlier contents gone),
// with a capacity of at least 51,200 bytes. A pending block 1024 cannot go
// into a row (the rows themselves travel in it): it is freed, and the debug
// output says so. Every pending block is freed afterwards. Throws
// std::bad_alloc when the row cannot be had (nothing changed then).
void WritePendingBlocksToRow(uint32_t row);

// Builds pending block 1024 from every row's content (an earlier pending
// block 1024 is freed first). The codec's status: 0, or -4 when it ran out
// of memory (nothing pending then).
int32_t PackSaveRows();

// Replaces every row by the contents of block 1024's stored bytes. False,
// with every row as it was, when the block is damaged.
bool RestoreAllSaveRows(std::span<const uint8_t> stored);

// The engine's debug output: a line on the standard error stream.
void SaveDebugOutput(const std::string& line);

}  // namespace zk
