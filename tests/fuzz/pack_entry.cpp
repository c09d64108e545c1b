// Pack entries through the engine's loader, from a whole pack file: the
// pack is written to the game folder and its entries (at most 8) filed in
// the index as the start-up build files them; each is then looked up and
// loaded, so its stored bytes go through decompression, the checksum and
// repair from the trailer behind them. (The index build's own parsing is
// the pack_index target's.) Whatever the bytes, a load ends with 0 and the
// record's size, or with -2 or -3 and no bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/sjis.h"
#include "storage/file_source.h"
#include "storage/pack_format.h"
#include "storage/pack_index.h"
#include "storage/pack_loader.h"
#include "tests/fuzz/decoder_fuzz_support.h"
#include "tests/fuzz/scratch_folder.h"

namespace {

constexpr size_t kMaxEntries = 8;
constexpr const char* kPackName = "f.zpf";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzzing::SetUpDecoderFuzzing();  // the zlib codec loaded; the last input's reports gone
    const zk::fuzzing::ScratchFolder& folder = zk::fuzzing::ScratchFolder::Get();
    std::span<const uint8_t> bytes(data, size);

    zk::PackHeader header;
    zk::PackTable table;
    if (zk::ParsePackHeader(bytes, header) != zk::PackHeaderStatus::kOk ||
        zk::CheckPackTableExtent(header, size) != 0 ||
        !zk::ParsePackTable(bytes.subspan(zk::kPackHeaderSize, header.table_size), header.entry_count, table))
        return 0;
    if (!folder.Write(kPackName, bytes)) return 0;

    zk::PackIndex& index = zk::ThePackIndex();
    index = zk::PackIndex{};
    zk::ReleaseDataFlag() = false;
    index.pack_names.emplace_back(kPackName);
    size_t count = std::min(table.entries.size(), kMaxEntries);
    for (size_t i = 0; i < count; ++i) index.entries.push_back({table.entries[i].hash, 0, table.entries[i].position});
    std::stable_sort(index.entries.begin(), index.entries.end(),
                     [](const zk::PackIndexEntry& a, const zk::PackIndexEntry& b) { return a.hash < b.hash; });

    for (size_t i = 0; i < count; ++i) {
        const zk::PackTableEntry& entry = table.entries[i];
        std::string name = zk::SjisLowerAscii(table.Name(entry));
        zk::FileSource source;
        if (zk::ProbePackIndex(source, name) != 2) {
            // Filed under another name's hash: load it by its place all the same.
            source = zk::FileSource{};
            source.state = 2;
            source.entry_position = uint64_t{entry.position} + 1 + entry.name_length + 1;
        }
        int32_t result = zk::LoadPackEntry(source, name);
        if (result == 0) {
            if (source.data.size() != static_cast<size_t>(source.size)) __builtin_trap();
        } else if ((result != -2 && result != -3) || !source.data.empty()) {
            __builtin_trap();
        }
    }
    return 0;
}
