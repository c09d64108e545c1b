#include "tools/lib/pack_writer.h"

#include <zlib.h>

#include <stdexcept>

#include "base/hashes.h"
#include "base/sjis.h"
#include "storage/descramble.h"
#include "storage/pack_repair.h"
#include "tools/lib/byte_writer.h"

namespace zk::tools {
namespace {

constexpr uint64_t kHeaderSize = 32;
constexpr uint64_t kEntryFixedSize = 27;

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(length);
    if (compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
        throw std::runtime_error("pack writer: compress2 failed");
    out.resize(length);
    return out;
}

void Patch(std::vector<uint8_t>& bytes, uint64_t offset, uint8_t mask) {
    if (offset >= bytes.size()) throw std::out_of_range("pack writer: corruption outside the pack");
    bytes[static_cast<size_t>(offset)] ^= mask;
}

}  // namespace

uint32_t PackNameHash(std::string_view name) { return MurmurHash2(SjisLowerAscii(name), 0); }

std::vector<uint8_t> BuildRepairTrailer(const std::vector<uint8_t>& stored, PackTrailer trailer) {
    ByteWriter out;
    if (trailer == PackTrailer::kNone) return {};
    if (trailer == PackTrailer::kNoParity) {
        out.U32(0);
        return out.Take();
    }
    uint32_t blocks = static_cast<uint32_t>((stored.size() + kRepairBlockSize - 1) / kRepairBlockSize);
    out.U32(trailer == PackTrailer::kWrongParityLength ? 512 : kRepairBlockSize);
    out.U32(trailer == PackTrailer::kWrongBlockCount ? blocks + 1 : blocks);
    std::vector<uint8_t> parity(kRepairBlockSize, 0);
    for (uint32_t block = 0; block < blocks; ++block) {
        size_t begin = static_cast<size_t>(block) * kRepairBlockSize;
        size_t length = std::min<size_t>(kRepairBlockSize, stored.size() - begin);
        std::span<const uint8_t> bytes(stored.data() + begin, length);
        out.U16(static_cast<uint16_t>(ComputeCrc32(bytes)));
        for (size_t k = 0; k < length; ++k) parity[k] ^= bytes[k];
    }
    out.Bytes(parity);
    return out.Take();
}

BuiltPack BuildPack(const std::vector<PackFileSpec>& files, const PackRawOptions& options) {
    uint64_t table_size = 0;
    for (const PackFileSpec& file : files) {
        if (file.name.size() > 255) throw std::length_error("pack writer: names are at most 255 bytes");
        table_size += kEntryFixedSize + file.name.size();
    }

    // The data area: each entry's stored bytes followed by its trailer.
    BuiltPack pack;
    ByteWriter data;
    std::vector<std::vector<uint8_t>> stored_forms;
    uint64_t data_start = kHeaderSize + table_size;
    for (const PackFileSpec& file : files) {
        std::vector<uint8_t> stored = file.compression == 1 ? Deflate(file.data, file.level) : file.data;
        PackEntryLayout layout;
        layout.data_offset = data_start + data.Size();
        layout.stored_size = stored.size();
        data.Bytes(stored);
        data.Bytes(BuildRepairTrailer(stored, file.trailer));
        pack.entries.push_back(layout);
        stored_forms.push_back(std::move(stored));
    }

    ByteWriter out;
    out.Bytes(std::span<const uint8_t>(options.magic));
    out.U32(options.version);
    out.U32(options.entry_count.value_or(static_cast<uint32_t>(files.size())));
    out.U32(options.table_size.value_or(static_cast<uint32_t>(table_size)));
    for (int i = 0; i < 16; ++i) out.U8(0);
    for (size_t i = 0; i < files.size(); ++i) {
        const PackFileSpec& file = files[i];
        PackEntryLayout& layout = pack.entries[i];
        const std::vector<uint8_t>& stored = stored_forms[i];
        out.U32(file.hash.value_or(PackNameHash(file.name)));
        out.U8(file.name_length_code.value_or(NameLengthCode(static_cast<uint8_t>(file.name.size()))));
        for (char c : file.name) out.U8(ScrambleNameByte(static_cast<uint8_t>(c)));
        out.U8(file.kind);
        layout.record_offset = out.Size();
        out.U8(file.compression_byte.value_or(file.compression));
        out.U32(file.size.value_or(static_cast<uint32_t>(file.data.size())));
        out.U32(file.stored_size.value_or(static_cast<uint32_t>(stored.size())));
        out.U64(file.data_offset.value_or(layout.data_offset));
        layout.checksum_offset = out.Size();
        out.U32(file.checksum.value_or(MurmurHash2(std::span<const uint8_t>(stored), 0)));
    }
    std::vector<uint8_t> data_bytes = data.Take();
    out.Bytes(data_bytes);
    pack.bytes = out.Take();
    if (options.truncate_to && *options.truncate_to < pack.bytes.size()) pack.bytes.resize(*options.truncate_to);
    return pack;
}

void CorruptStoredByte(BuiltPack& pack, size_t entry, uint64_t offset, uint8_t mask) {
    const PackEntryLayout& layout = pack.entries.at(entry);
    if (offset >= layout.stored_size) throw std::out_of_range("pack writer: offset past the stored bytes");
    Patch(pack.bytes, layout.data_offset + offset, mask);
}

void CorruptBlock(BuiltPack& pack, size_t entry, uint64_t block, uint64_t byte_in_block) {
    CorruptStoredByte(pack, entry, block * kRepairBlockSize + byte_in_block);
}

void CorruptTwoBlocks(BuiltPack& pack, size_t entry, uint64_t first_block, uint64_t second_block) {
    CorruptBlock(pack, entry, first_block);
    CorruptBlock(pack, entry, second_block);
}

void CorruptLastByte(BuiltPack& pack, size_t entry) {
    const PackEntryLayout& layout = pack.entries.at(entry);
    if (layout.stored_size == 0) throw std::out_of_range("pack writer: no stored bytes to damage");
    CorruptStoredByte(pack, entry, layout.stored_size - 1);
}

void CorruptChecksumField(BuiltPack& pack, size_t entry) {
    Patch(pack.bytes, pack.entries.at(entry).checksum_offset, 0xFF);
}

bool WritePack(const std::string& host_path, const BuiltPack& pack) { return WriteFile(host_path, pack.bytes); }

}  // namespace zk::tools
