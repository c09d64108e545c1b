#include "storage/pack_format.h"

#include <cstring>

#include "base/byte_reader.h"
#include "core/error_codes.h"
#include "storage/descramble.h"

namespace zk {
namespace {
constexpr uint8_t kPackMagic[4] = {'Z', 'P', 'F', 0};
// Deflate codes at most 258 bytes in two bits, so no zlib stream expands
// more than 1032 times; the slack covers the stream's header and tail.
constexpr uint64_t kMaxExpansion = 1032;
constexpr uint64_t kExpansionSlack = 1024;
}  // namespace

PackHeaderStatus ParsePackHeader(std::span<const uint8_t> bytes, PackHeader& header) {
    if (bytes.size() < sizeof(kPackMagic) || std::memcmp(bytes.data(), kPackMagic, sizeof(kPackMagic)) != 0)
        return PackHeaderStatus::kNotPack;
    ByteReader reader(bytes);
    reader.Skip(sizeof(kPackMagic));
    auto version = reader.U32();
    auto count = reader.U32();
    auto table_size = reader.U32();
    if (!version || !count || !table_size) return PackHeaderStatus::kShort;
    header = PackHeader{*version, *count, *table_size};
    return PackHeaderStatus::kOk;
}

bool ParsePackEntryRecord(std::span<const uint8_t> bytes, PackEntryRecord& record) {
    ByteReader reader(bytes);
    auto compression = reader.U8();
    auto size = reader.U32();
    auto stored_size = reader.U32();
    auto data_offset = reader.U64();
    auto checksum = reader.U32();
    if (!compression || !size || !stored_size || !data_offset || !checksum) return false;
    record = PackEntryRecord{*compression, *size, *stored_size, *data_offset, *checksum};
    return true;
}

bool ParsePackTable(std::span<const uint8_t> table_bytes, uint32_t count, PackTable& table) {
    table.entries.clear();
    table.names.clear();
    // Every entry takes at least 27 bytes: a count the table cannot hold is
    // refused before anything is reserved for it.
    if (static_cast<uint64_t>(count) * kPackEntryFixedSize > table_bytes.size()) return false;
    table.entries.reserve(count);
    table.names.reserve(table_bytes.size() - static_cast<size_t>(count) * kPackEntryFixedSize);
    ByteReader reader(table_bytes);
    for (uint32_t i = 0; i < count; ++i) {
        PackTableEntry entry;
        entry.position = static_cast<uint32_t>(kPackHeaderSize + reader.Offset() + 4);
        auto hash = reader.U32();
        auto code = reader.U8();
        if (!hash || !code) break;
        uint8_t length = NameLengthFromCode(*code);
        auto stored_name = reader.Take(length);
        auto kind = reader.U8();
        auto record_bytes = reader.Take(kPackEntryRecordSize);
        if (!stored_name || !kind || !record_bytes) break;
        entry.hash = *hash;
        entry.kind = *kind;
        entry.name_offset = static_cast<uint32_t>(table.names.size());
        entry.name_length = length;
        table.names.resize(table.names.size() + length);
        char* plain = table.names.data() + entry.name_offset;
        for (uint8_t stored : *stored_name) *plain++ = static_cast<char>(DescrambleNameByte(stored));
        ParsePackEntryRecord(*record_bytes, entry.record);
        table.entries.push_back(entry);
    }
    if (table.entries.size() != count) {
        table.entries.clear();
        table.names.clear();
        return false;
    }
    return true;
}

int32_t CheckPackTableExtent(const PackHeader& header, uint64_t pack_length) {
    if (header.table_size >= kPackSizeLimit) return kErrPackFormat;
    if (kPackHeaderSize + header.table_size > pack_length) return kErrPackFormat;
    if (static_cast<uint64_t>(header.entry_count) * kPackEntryFixedSize > header.table_size) return kErrPackFormat;
    return 0;
}

int32_t CheckPackEntryRecord(const PackEntryRecord& record, uint64_t pack_length) {
    if (record.compression > 1) return kErrPackNotOpened;
    // A stored entry is read for its size; its stored size is not used.
    uint64_t extent = record.compression == 0 ? record.size : record.stored_size;
    if (record.size >= kPackSizeLimit || extent >= kPackSizeLimit) return kErrPackEntryDamaged;
    if (record.data_offset > pack_length || extent > pack_length - record.data_offset) return kErrPackEntryDamaged;
    if (record.compression == 1 && record.size > record.stored_size * kMaxExpansion + kExpansionSlack)
        return kErrPackEntryDamaged;
    return 0;
}

int32_t ParsePackBytes(std::span<const uint8_t> pack, PackHeader& header, PackTable& table) {
    table = PackTable{};
    switch (ParsePackHeader(pack, header)) {
        case PackHeaderStatus::kNotPack: return 1;
        case PackHeaderStatus::kShort: return kErrPackFormat;
        case PackHeaderStatus::kOk: break;
    }
    if (header.version < kPackMinVersion) return kErrPackFormat;
    if (int32_t error = CheckPackTableExtent(header, pack.size()); error != 0) return error;
    if (!ParsePackTable(pack.subspan(kPackHeaderSize, header.table_size), header.entry_count, table))
        return kErrPackFormat;
    for (const PackTableEntry& entry : table.entries) {
        if (int32_t error = CheckPackEntryRecord(entry.record, pack.size()); error != 0) return error;
    }
    return 0;
}

}  // namespace zk
