#include "storage/save_rows.h"

#include <algorithm>
#include <cstdio>

namespace zk {

SaveState& TheSaveState() {
    static SaveState state;
    return state;
}

void FreeDataBlockBuffers(int32_t index) {
    PendingBlocks& pending = TheSaveState().pending;
    if (index >= 0 && index < static_cast<int32_t>(kDataNumberCount)) {
        std::vector<uint8_t>().swap(pending[static_cast<size_t>(index)]);
        return;
    }
    if (index != -1) return;
    for (std::vector<uint8_t>& block : pending) std::vector<uint8_t>().swap(block);
}

void ResetSaveRows() {
    for (SaveRow& row : TheSaveState().rows) row = SaveRow{};
}

void SaveDebugOutput(const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
}

void WritePendingBlocksToRow(uint32_t row) {
    SaveState& state = TheSaveState();
    std::vector<uint8_t> content = BuildSaveFile(state.pending, kDataNumberCount - 1);
    content.reserve(std::max(content.size(), kMinRowCapacity));
    if (!state.pending[kRowsDataNumber - 1].empty()) {
        SaveDebugOutput("save row " + std::to_string(row) +
                        ": pending block 1024 (the memory rows) cannot be kept in a row; it was dropped");
    }
    SaveRow& target = state.rows[row];
    target.content = std::move(content);
    target.read_position = 0;
    FreeDataBlockBuffers(-1);
}

int32_t PackSaveRows() {
    SaveState& state = TheSaveState();
    FreeDataBlockBuffers(static_cast<int32_t>(kRowsDataNumber - 1));
    std::vector<std::span<const uint8_t>> contents;
    contents.reserve(kSaveRowCount);
    for (const SaveRow& row : state.rows) contents.emplace_back(row.content);
    std::vector<uint8_t> block;
    const int32_t status = MakeRowsBlock(contents, block);
    if (status != 0) return status;
    state.pending[kRowsDataNumber - 1] = std::move(block);
    return 0;
}

bool RestoreAllSaveRows(std::span<const uint8_t> stored) {
    std::vector<std::vector<uint8_t>> contents;
    if (!ParseRowsBlock(stored, contents)) return false;
    SaveState& state = TheSaveState();
    for (uint32_t r = 0; r < kSaveRowCount; ++r) {
        SaveRow& row = state.rows[r];
        row.content = std::move(contents[r]);
        row.read_position = 0;
    }
    return true;
}

}  // namespace zk
