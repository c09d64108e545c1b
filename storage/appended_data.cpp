#include "storage/appended_data.h"

#include <array>
#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "core/error_report.h"
#include "platform/file_stream.h"
#include "platform/game_path.h"
#include "platform/resources.h"
#include "storage/file_source.h"

namespace zk {

namespace {

// What the executable holds at V, and its size.
struct ExecutableFacts {
    bool magic = false;
    uint32_t pack_offset = 0;
    uint32_t preview_size = 0;
    uint64_t size = 0;
};

ExecutableFacts ReadExecutableFacts(std::string_view executable_path, uint32_t block_offset) {
    ExecutableFacts facts;
    platform::FileStream file;
    if (!file.OpenEngineFile(executable_path)) return facts;  // size 0: nothing can be appended
    if (block_offset != 0 && file.Seek(block_offset)) {
        // The header may be cut short by the end of the file: only what
        // was read is looked at.
        std::array<uint8_t, kAppendedHeaderBytes> header{};
        size_t got = file.Read(header);
        ByteReader reader(std::span<const uint8_t>(header.data(), got));
        std::optional<std::span<const uint8_t>> magic = reader.Take(kAppendedMagic.size());
        if (magic && std::memcmp(magic->data(), kAppendedMagic.data(), kAppendedMagic.size()) == 0) {
            facts.magic = true;
            facts.pack_offset = reader.U32().value_or(0);
            facts.preview_size = reader.U32().value_or(0);
        }
    }
    facts.size = file.Size().value_or(0);
    return facts;
}

// V and what the executable holds there decide whether data is appended
// (V = 0, the resource missing, is decided by the caller).
bool CarriesAppendedData(uint32_t block_offset, const ExecutableFacts& facts) {
    if (block_offset == kNothingAppended || facts.size == 0 || block_offset == facts.size) return false;
    return facts.magic;
}

uint32_t BlockOffsetOf(std::optional<std::span<const uint8_t>> resource) {
    return resource ? ByteReader(*resource).PeekAt<uint32_t>(0).value_or(0) : 0;
}

}  // namespace

AppendedDataState& TheAppendedData() {
    static AppendedDataState state;
    return state;
}

int DetectAppendedDataIn(std::optional<std::span<const uint8_t>> resource, std::string_view executable_path) {
    // The first storage step of a run: nothing is known to be released yet
    // (the pack index may set the flag later).
    AppendedDataState& state = TheAppendedData();
    state = AppendedDataState{};
    ReleaseDataFlag() = false;
    uint32_t block_offset = BlockOffsetOf(resource);
    state.block_offset = block_offset;

    ExecutableFacts facts = ReadExecutableFacts(executable_path, block_offset);
    state.executable_size = facts.size;
    if (facts.magic) {
        state.pack_offset = facts.pack_offset;
        state.preview_size = facts.preview_size;
        state.screen_saver = facts.preview_size != 0;
    }

    if (block_offset == 0) {
        // The build always writes ZK_RES; without it this is not an
        // executable the engine made.
        ShowMessageBox(nullptr, "FS");
        return -1;
    }
    if (!CarriesAppendedData(block_offset, facts)) return 0;
    state.appended = true;
    ReleaseDataFlag() = true;
    return 1;
}

int DetectAppendedData() {
    std::optional<std::vector<uint8_t>> resource = platform::FindResource("ZK_RES", kAppendedResourceId);
    std::optional<std::span<const uint8_t>> bytes;
    if (resource) bytes = std::span<const uint8_t>(*resource);
    return DetectAppendedDataIn(bytes, platform::ExecutablePath());
}

bool ExecutableHasAppendedData() {
    std::optional<std::vector<uint8_t>> resource = platform::FindResource("ZK_RES", kAppendedResourceId);
    std::optional<std::span<const uint8_t>> bytes;
    if (resource) bytes = std::span<const uint8_t>(*resource);
    uint32_t block_offset = BlockOffsetOf(bytes);
    if (block_offset == 0) return false;
    return CarriesAppendedData(block_offset, ReadExecutableFacts(platform::ExecutablePath(), block_offset));
}

}  // namespace zk
