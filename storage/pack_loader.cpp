#include "storage/pack_loader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "core/error_report.h"
#include "platform/codec_registry.h"
#include "storage/pack_file.h"
#include "storage/pack_format.h"
#include "storage/pack_index.h"
#include "storage/pack_repair.h"
#include "base/never.h"

namespace zk {
namespace {

constexpr int32_t kZlibOk = 0;
constexpr int32_t kZlibDataError = -3;
constexpr int32_t kZlibBufferError = -5;

// A block of `size` bytes; at least one byte is reserved so that an empty
// file still has a valid block to hand over.
bool Allocate(std::vector<uint8_t>& block, uint32_t size) {
    try {
        block.reserve(std::max<size_t>(size, 1));
        block.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// One decompression attempt: the zlib status, with a stream that fills
// less than the entry's size counted as a data error (the rest of the file
// would be missing).
int32_t Decompress(std::vector<uint8_t>& result, const std::vector<uint8_t>& stored) {
    platform::DevodUncompressFn uncompress = platform::Codecs().devod.uncompress;
    if (uncompress == nullptr) return INT32_MIN;  // no codec: "any other status"
    uint32_t length = static_cast<uint32_t>(result.size());
    int32_t status =
        uncompress(result.data(), &length, stored.data(), static_cast<uint32_t>(stored.size()));
    if (status == kZlibOk && length != result.size()) return kZlibDataError;
    return status;
}

}  // namespace

int32_t LoadPackEntry(FileSource& source, std::string_view name) {
    source.data.clear();
    source.size = 0;
    const PackIndex& index = ThePackIndex();
    if (ZK_NEVER(source.pack_number < 0 || static_cast<size_t>(source.pack_number) >= index.pack_names.size())) {
        ReportEngineErrorF(kErrPackNotOpened, true, {name});  // the probe sets a registered pack
        return -3;
    }
    std::string_view pack_name = index.pack_names[static_cast<size_t>(source.pack_number)];
    PackStream stream;
    if (OpenPackFile(stream, PackOpenPath(source.pack_number)) != 0) {
        ReportEngineErrorF(kErrPackNotOpened, true, {pack_name});
        return -3;
    }
    auto damaged = [&] {
        ReportEngineErrorF(kErrPackEntryDamaged, true, {pack_name, name});
        return -2;
    };

    std::array<uint8_t, kPackEntryRecordSize> record_bytes;
    PackEntryRecord record;
    if (!SeekPack(stream, source.entry_position) || !ReadPackBytes(stream, record_bytes) ||
        !ParsePackEntryRecord(record_bytes, record))
        return damaged();
    // Sizes and offsets are checked against the pack before anything is
    // allocated or read: a damaged table must not ask for gigabytes.
    switch (CheckPackEntryRecord(record, PackLength(stream))) {
        case 0: break;
        case kErrPackNotOpened: ReportEngineErrorF(kErrPackNotOpened, true, {pack_name}); return -3;
        default: return damaged();
    }
    if (!SeekPack(stream, record.data_offset)) return damaged();

    std::vector<uint8_t> result;
    if (!Allocate(result, record.size)) {
        ReportEngineErrorF(kErrFileNoMemory, true, {name});
        return -3;
    }

    if (record.compression == 0) {
        if (!ReadPackBytes(stream, result) || VerifyAndRepair(stream, result, record.checksum) < 0) return damaged();
    } else {
        std::vector<uint8_t> stored;
        if (!Allocate(stored, record.stored_size)) {
            ReportEngineErrorF(kErrFileNoMemory, true, {name});
            return -3;
        }
        if (!ReadPackBytes(stream, stored)) return damaged();
        int32_t status = Decompress(result, stored);
        if (status != kZlibOk) {
            // Whatever the codec says, damaged stored bytes are the likely
            // cause: repair them when the checksum disagrees and try once
            // more. With a matching checksum the bytes are as written and
            // the codec's answer stands.
            int32_t repair = VerifyAndRepair(stream, stored, record.checksum);
            if (repair < 0) return damaged();
            if (repair == 1) status = Decompress(result, stored);
        }
        switch (status) {
            case kZlibOk: break;
            case kZlibDataError: return damaged();
            case kZlibBufferError: ReportEngineErrorF(kErrUnpackBufferShort, true, {name}); return -2;
            default: ReportEngineErrorF(kErrUnpackNoMemory, true, {name}); return -2;
        }
    }
    source.size = static_cast<int32_t>(record.size);
    source.data = std::move(result);
    return 0;
}

}  // namespace zk
