// The check for data appended to the executable, over arbitrary files. The
// first byte gives the resource ZK_RES: 0..8 of the following bytes, or
// none at all when it is 9 or more. The rest is the executable. The result
// is -1 only without a usable resource, 1 only with the magic at V inside
// the file, and the flags and offsets agree with it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "storage/appended_data.h"
#include "storage/file_source.h"
#include "tests/fuzz/decoder_fuzz_support.h"
#include "tests/fuzz/scratch_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    zk::fuzzing::SetUpDecoderFuzzing();  // the "FS" box answered at once
    const zk::fuzzing::ScratchFolder& folder = zk::fuzzing::ScratchFolder::Get();
    std::optional<std::span<const uint8_t>> resource;
    size_t resource_size = data[0] <= 8 ? std::min<size_t>(data[0], size - 1) : 0;
    if (data[0] <= 8) resource = std::span<const uint8_t>(data + 1, resource_size);
    std::span<const uint8_t> executable(data + 1 + resource_size, size - 1 - resource_size);
    if (!folder.Write("exe", executable)) return 0;

    int result = zk::DetectAppendedDataIn(resource, folder.GamePath("exe"));
    const zk::AppendedDataState& state = zk::TheAppendedData();
    uint32_t v = state.block_offset;
    if (state.executable_size != executable.size()) __builtin_trap();
    if ((result == -1) != (v == 0)) __builtin_trap();
    if (state.appended != (result == 1) || zk::ReleaseDataFlag() != state.appended) __builtin_trap();
    if (result == 1) {
        if (uint64_t{v} + 4 > executable.size() || std::memcmp(executable.data() + v, "ZKER", 4) != 0) __builtin_trap();
        if (v == zk::kNothingAppended) __builtin_trap();
    }
    if (state.screen_saver != (state.preview_size != 0)) __builtin_trap();
    return 0;
}
