// The pack file layout and its parsers over untrusted bytes.
//
//   0   "ZPF\0"
//   4   uint32 version (234 or later)
//   8   uint32 entry count
//   12  uint32 entry table size in bytes
//   16  16 bytes not read
//   32  the entry table, then the file data at the offsets the entries give
//
// An entry: uint32 hash of the lower-case plain name (MurmurHash2, seed 0),
// a name-length code, the scrambled name, the FileKind byte, and the 21-byte
// PackEntryRecord. Every parser checks each count and offset against the
// bytes it has, in 64 bits, and fails cleanly.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

inline constexpr uint32_t kPackMinVersion = 234;
inline constexpr uint64_t kPackHeaderSize = 32;
inline constexpr uint64_t kPackHeaderReadSize = 16;  // the part that is read
inline constexpr uint64_t kPackEntryRecordSize = 21;
inline constexpr uint64_t kPackEntryFixedSize = 4 + 1 + 1 + kPackEntryRecordSize;  // + the name
// Sizes and offsets the engine keeps in int32 must stay below this.
inline constexpr uint64_t kPackSizeLimit = uint64_t{1} << 31;

struct PackHeader {
    uint32_t version = 0;
    uint32_t entry_count = 0;
    uint32_t table_size = 0;
};

enum class PackHeaderStatus {
    kOk,
    kNotPack,  // too short for the magic, or another magic: not a pack at all
    kShort,    // the magic, but the header is cut off
};
// Reads the first 16 bytes of a pack.
PackHeaderStatus ParsePackHeader(std::span<const uint8_t> bytes, PackHeader& header);

struct PackEntryRecord {
    uint8_t compression = 0;  // 0 stored, 1 zlib-style
    uint32_t size = 0;        // the file's length
    uint32_t stored_size = 0;
    uint64_t data_offset = 0;  // from the pack base
    uint32_t checksum = 0;     // MurmurHash2 (seed 0) of the stored bytes
};
// False when fewer than 21 bytes are given.
bool ParsePackEntryRecord(std::span<const uint8_t> bytes, PackEntryRecord& record);

struct PackTableEntry {
    uint32_t hash = 0;
    uint32_t position = 0;  // from the pack base, of the name-length code
    uint32_t name_offset = 0;  // into PackTable::names
    uint32_t name_length = 0;
    uint8_t kind = 0;
    PackEntryRecord record;
};

struct PackTable {
    std::vector<PackTableEntry> entries;
    std::string names;  // every plain (descrambled) name, back to back

    std::string_view Name(const PackTableEntry& entry) const {
        return std::string_view(names).substr(entry.name_offset, entry.name_length);
    }
};

// Parses `count` entries from the entry table (the bytes from offset 32,
// table-size long). False when an entry runs past the table or the table
// cannot be a table of that many entries; `table` is then cleared.
bool ParsePackTable(std::span<const uint8_t> table_bytes, uint32_t count, PackTable& table);

// Checks the header's table against the pack's length: 0, or 104120 when
// the table cannot lie where the header says.
int32_t CheckPackTableExtent(const PackHeader& header, uint64_t pack_length);

// Checks an entry's sizes and data against the pack's length before any
// byte is read or allocated: 0; 901040 for an unknown compression; 104100
// when a size is 2^31 or more, the data lies past the pack's end, or the
// file could not come out of its compressed bytes (zlib expands at most
// 1032 times).
int32_t CheckPackEntryRecord(const PackEntryRecord& record, uint64_t pack_length);

// A whole pack in memory: header, table and every entry record. 0 when all
// are sound, 1 when the bytes are not a pack, otherwise the error number
// (104120 for the header and table, the record's own for an entry).
int32_t ParsePackBytes(std::span<const uint8_t> pack, PackHeader& header, PackTable& table);

}  // namespace zk
