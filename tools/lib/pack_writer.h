// Writer of pack files (.zpf) with their repair trailers, and corruptors
// that damage a written pack the way a bad disk or a bad download would.
// Raw overrides write malformed headers and entry tables for the tests of
// the pack reader.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zk::tools {

enum class PackTrailer {
    kPresent,            // parity length 1024, block codes, parity
    kNoParity,           // parity length 0: the entry has no repair data
    kNone,               // nothing at all behind the stored bytes
    kWrongBlockCount,    // a full trailer whose block count is one too many
    kWrongParityLength,  // a full trailer whose parity length says 512
};

struct PackFileSpec {
    std::string name;  // the plain name, CP932, as stored (any case)
    std::vector<uint8_t> data;
    uint8_t kind = 0;         // FileKind
    uint8_t compression = 0;  // 0 stored, 1 zlib
    int level = 9;
    PackTrailer trailer = PackTrailer::kPresent;

    // Raw overrides of the entry as written.
    std::optional<uint32_t> hash;  // default: MurmurHash2 of the lower-cased name
    std::optional<uint8_t> name_length_code;
    std::optional<uint8_t> compression_byte;
    std::optional<uint32_t> size;
    std::optional<uint32_t> stored_size;
    std::optional<uint64_t> data_offset;
    std::optional<uint32_t> checksum;

    PackFileSpec() = default;
    PackFileSpec(std::string name_, std::vector<uint8_t> data_ = {}) : name(std::move(name_)), data(std::move(data_)) {}

    // Chainable setters, for tables of test cases.
    PackFileSpec& WithKind(uint8_t v) { kind = v; return *this; }
    PackFileSpec& Compressed(int level_ = 9) { compression = 1; level = level_; return *this; }
    PackFileSpec& WithTrailer(PackTrailer v) { trailer = v; return *this; }
    PackFileSpec& WithHash(uint32_t v) { hash = v; return *this; }
    PackFileSpec& WithNameLengthCode(uint8_t v) { name_length_code = v; return *this; }
    PackFileSpec& WithCompressionByte(uint8_t v) { compression_byte = v; return *this; }
    PackFileSpec& WithSize(uint32_t v) { size = v; return *this; }
    PackFileSpec& WithStoredSize(uint32_t v) { stored_size = v; return *this; }
    PackFileSpec& WithDataOffset(uint64_t v) { data_offset = v; return *this; }
    PackFileSpec& WithChecksum(uint32_t v) { checksum = v; return *this; }
};

struct PackRawOptions {
    std::array<uint8_t, 4> magic = {'Z', 'P', 'F', 0};
    uint32_t version = 234;
    std::optional<uint32_t> entry_count;  // default: the number of files
    std::optional<uint32_t> table_size;   // default: the table's length
    std::optional<size_t> truncate_to;    // cut the finished pack

    PackRawOptions& WithMagic(std::array<uint8_t, 4> v) { magic = v; return *this; }
    PackRawOptions& WithVersion(uint32_t v) { version = v; return *this; }
    PackRawOptions& WithEntryCount(uint32_t v) { entry_count = v; return *this; }
    PackRawOptions& WithTableSize(uint32_t v) { table_size = v; return *this; }
    PackRawOptions& TruncatedTo(size_t v) { truncate_to = v; return *this; }
};

// Where each entry's parts lie in the written pack (offsets from its start).
struct PackEntryLayout {
    uint64_t record_offset = 0;  // the PackEntryRecord
    uint64_t data_offset = 0;    // the stored bytes
    uint64_t stored_size = 0;
    uint64_t checksum_offset = 0;
};

struct BuiltPack {
    std::vector<uint8_t> bytes;
    std::vector<PackEntryLayout> entries;
};

BuiltPack BuildPack(const std::vector<PackFileSpec>& files, const PackRawOptions& options = {});

// The trailer that follows an entry's stored bytes.
std::vector<uint8_t> BuildRepairTrailer(const std::vector<uint8_t>& stored, PackTrailer trailer);

// The hash the index files a name under: MurmurHash2 (seed 0) of the name
// lower-cased (ASCII letters only, double-byte characters kept).
uint32_t PackNameHash(std::string_view name);

// Corruptors. Each changes stored bytes only, leaving the checksum and the
// trailer as written, so the damage is what the reader must find.
// XORs one byte of an entry's stored bytes with `mask`.
void CorruptStoredByte(BuiltPack& pack, size_t entry, uint64_t offset, uint8_t mask = 0x5A);
// Damages byte `byte_in_block` of 1024-byte block `block`.
void CorruptBlock(BuiltPack& pack, size_t entry, uint64_t block, uint64_t byte_in_block = 17);
// Damages two blocks at once (one byte in each).
void CorruptTwoBlocks(BuiltPack& pack, size_t entry, uint64_t first_block, uint64_t second_block);
// Damages the final stored byte: in the short last block of a stored entry,
// in the Adler-32 tail of a compressed one (which zlib always reports).
void CorruptLastByte(BuiltPack& pack, size_t entry);
// Changes the entry's checksum field.
void CorruptChecksumField(BuiltPack& pack, size_t entry);

// Writes the pack to a host path (creating folders).
bool WritePack(const std::string& host_path, const BuiltPack& pack);

}  // namespace zk::tools
