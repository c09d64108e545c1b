// Save files and memory rows (they share one layout) through every reader
// of the .sd format: the header, each directory entry's block, the codecs,
// the payload checks of all four block kinds (a variable restored into
// variables of each type and shape, a layer image, a list, the rows of
// block 1024), and the rewrite that walks every stored block. Whatever the
// bytes, each step refuses what does not fit and changes nothing then.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "script/variables.h"
#include "engine/save_commands.h"
#include "storage/save_format.h"
#include "storage/save_rows.h"
#include "tests/fuzz/decoder_fuzz_support.h"

namespace {

// Variables 1000..1005: int[3], real, text[2], int[2, 2], text, real[4].
void MakeTargets() {
    zk::CreateVariableTable(1005);
    zk::VariableShape shape;
    shape.dimension_count = 1;
    shape.sizes[0] = 3;
    zk::FillIntegerVariable(*zk::FindVariable(1000), shape, 7);
    zk::FillRealVariable(*zk::FindVariable(1001), zk::VariableShape{}, 0.5);
    shape.sizes[0] = 2;
    zk::FillStringVariable(*zk::FindVariable(1002), shape, "k");
    shape.dimension_count = 2;
    shape.sizes[1] = 2;
    zk::FillIntegerVariable(*zk::FindVariable(1003), shape, 1);
    zk::FillStringVariable(*zk::FindVariable(1004), zk::VariableShape{}, "t");
    shape.dimension_count = 1;
    shape.sizes[0] = 4;
    zk::FillRealVariable(*zk::FindVariable(1005), shape, 2.0);
}

void RestoreEverywhere(std::span<const uint8_t> payload) {
    for (uint32_t number = 1000; number <= 1005; ++number) {
        zk::RestoreVariable(number, true, payload, 0, "(fuzz)");
        zk::RestoreVariable(number, false, payload, 1, "(fuzz)");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzzing::SetUpDecoderFuzzing();  // the codecs loaded; the last input's reports gone
    static bool targets = (MakeTargets(), true);
    (void)targets;
    std::span<const uint8_t> bytes(data, size);

    zk::MemorySaveSource source(bytes);
    if (zk::ReadSaveHeader(source) == zk::SaveFileError::kNone) {
        std::vector<uint8_t> stored, payload;
        for (uint32_t n = 1; n <= zk::kDataNumberCount; ++n) {
            const uint32_t offset = zk::ReadDirectoryEntry(source, n);
            if (offset == 0) continue;
            std::optional<zk::DataBlockHeader> header = zk::ReadStoredBlock(source, offset, stored);
            if (!header) continue;
            if (n == zk::kRowsDataNumber) {
                zk::RestoreAllSaveRows(stored);
                continue;
            }
            if (header->kind == zk::kBlockVariable &&
                zk::SnappyUncompress(stored, header->uncompressed_length, payload)) {
                RestoreEverywhere(payload);
            } else if (header->kind == zk::kBlockImage &&
                       zk::ZlibUncompress(stored, header->uncompressed_length, payload)) {
                zk::ImagePayload image;
                zk::ParseImagePayload(payload, image);
            } else if (header->kind == zk::kBlockList) {
                std::vector<zk::ListRecord> records;
                if (!zk::ParseListRecords(stored, records)) continue;
                std::vector<std::pair<uint32_t, std::vector<uint8_t>>> payloads;
                for (const zk::ListRecord& record : records) {
                    if (zk::SnappyUncompress(record.stored, record.uncompressed_length, payload)) {
                        RestoreEverywhere(payload);
                        payloads.emplace_back(record.variable, payload);
                    }
                }
                // The list as a whole, into the variables its records name.
                std::vector<zk::VariableRecordPayload> list;
                for (const auto& [variable, restored] : payloads) list.push_back({variable, restored});
                zk::RestoreVariableList(list, "(fuzz)");
            }
        }
    }
    // The rewrite walks every stored block (block 1 pending replaces one).
    static auto pending = [] {
        auto blocks = std::make_unique<zk::PendingBlocks>();
        (*blocks)[0] = *zk::MakeVariableBlock(1000, zk::EncodeIntegerElementPayload(5));
        (*blocks)[6] = (*blocks)[0];
        return blocks;
    }();
    zk::UpdateSaveFile(bytes, *pending);
    // The input as the stored bytes of block 1024 and of a list.
    zk::RestoreAllSaveRows(bytes);
    std::vector<zk::ListRecord> records;
    zk::ParseListRecords(bytes, records);
    return 0;
}
