#include "storage/save_format.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"
#include "platform/codec_registry.h"

namespace zk {

namespace {

constexpr uint8_t kMagic[4] = {'Z', 'K', 'S', 'D'};

// The most either codec can expand its input: a claimed length beyond this
// is a lie, refused before anything that size is allocated. (A Snappy copy
// of at most 64 bytes takes 2 or 3 bytes; deflate's best is 1032 to 1.)
constexpr uint64_t kSnappyMaxRatio = 32;
constexpr uint64_t kZlibMaxRatio = 1032;
constexpr uint64_t kCodecSlack = 64;

constexpr uint64_t kMaxU32 = 0xFFFFFFFFu;

uint32_t LoadU32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void AppendU64(std::vector<uint8_t>& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendPayloadHead(std::vector<uint8_t>& out, uint32_t type, uint32_t dimension_count,
                       std::span<const int32_t> sizes, uint64_t data_length) {
    AppendU32(out, type);
    AppendU32(out, dimension_count);
    for (uint32_t d = 0; d < dimension_count; ++d) AppendU32(out, static_cast<uint32_t>(sizes[d]));
    AppendU32(out, static_cast<uint32_t>(data_length));
}

// zlib's compressBound.
uint64_t ZlibBound(uint64_t n) { return n + (n >> 12) + (n >> 14) + (n >> 25) + 13; }

}  // namespace

// ---- little-endian output --------------------------------------------------

void AppendU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutU32(std::span<uint8_t> out, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendBlockHeader(std::vector<uint8_t>& out, const DataBlockHeader& header) {
    out.push_back(header.kind);
    out.push_back(header.one);
    AppendU16(out, header.variable);
    AppendU32(out, header.stored_length);
    AppendU32(out, header.uncompressed_length);
}

std::optional<DataBlockHeader> ReadBlockHeader(std::span<const uint8_t> bytes) {
    ByteReader reader(bytes);
    DataBlockHeader header;
    auto kind = reader.U8();
    auto one = reader.U8();
    auto variable = reader.U16();
    auto stored = reader.U32();
    auto uncompressed = reader.U32();
    if (!kind || !one || !variable || !stored || !uncompressed) return std::nullopt;
    header.kind = *kind;
    header.one = *one;
    header.variable = *variable;
    header.stored_length = *stored;
    header.uncompressed_length = *uncompressed;
    return header;
}

// ---- codecs ------------------------------------------------------------------

bool SnappyCompress(std::span<const uint8_t> source, std::vector<uint8_t>& out) {
    const platform::ZksnpEntries& snp = platform::Codecs().zksnp;
    if (snp.compress == nullptr || snp.compressed_length == nullptr) return false;
    size_t length = snp.compressed_length(source.size());
    out.resize(length);
    if (snp.compress(source.data(), source.size(), out.data(), &length) != 0) return false;
    out.resize(length);
    return true;
}

bool SnappyUncompress(std::span<const uint8_t> source, uint64_t expected, std::vector<uint8_t>& out) {
    const platform::ZksnpEntries& snp = platform::Codecs().zksnp;
    if (snp.uncompress == nullptr || snp.uncompressed_length == nullptr) return false;
    size_t claimed = 0;
    if (snp.uncompressed_length(source.data(), source.size(), &claimed) != 0 || claimed != expected) return false;
    if (expected > uint64_t{source.size()} * kSnappyMaxRatio + kCodecSlack) return false;
    out.resize(static_cast<size_t>(expected));
    size_t length = out.size();
    return snp.uncompress(source.data(), source.size(), out.data(), &length) == 0 && length == expected;
}

namespace {

// Compresses `source` into `out` from byte `offset` on; on success `out`
// ends with the stream.
int32_t ZlibCompressAt(std::span<const uint8_t> source, int level, std::vector<uint8_t>& out, size_t offset) {
    const platform::DevodEntries& devod = platform::Codecs().devod;
    constexpr int32_t kVersionError = -6;  // what a caller without the codec sees
    if (devod.compress == nullptr) return kVersionError;
    const uint64_t bound = ZlibBound(source.size());
    if (source.size() > kMaxU32 || bound > kMaxU32) return -4;
    out.resize(offset + static_cast<size_t>(bound));
    uint32_t length = static_cast<uint32_t>(bound);
    const int32_t status =
        devod.compress(out.data() + offset, &length, source.data(), static_cast<uint32_t>(source.size()), level);
    if (status == 0) out.resize(offset + length);
    return status;
}

}  // namespace

int32_t ZlibCompress(std::span<const uint8_t> source, int level, std::vector<uint8_t>& out) {
    return ZlibCompressAt(source, level, out, 0);
}

bool ZlibUncompress(std::span<const uint8_t> source, uint64_t expected, std::vector<uint8_t>& out) {
    const platform::DevodEntries& devod = platform::Codecs().devod;
    if (devod.uncompress == nullptr || source.size() > kMaxU32 || expected > kMaxU32) return false;
    if (expected > uint64_t{source.size()} * kZlibMaxRatio + kCodecSlack) return false;
    // One spare byte: a stream that holds more than it claims fails with
    // "buffer too small" or comes out longer, and is refused either way.
    out.resize(static_cast<size_t>(expected) + 1);
    uint32_t length = static_cast<uint32_t>(out.size());
    const int32_t status = devod.uncompress(out.data(), &length, source.data(), static_cast<uint32_t>(source.size()));
    if (status != 0 || length != expected) return false;
    out.resize(static_cast<size_t>(expected));
    return true;
}

// ---- variable payloads ---------------------------------------------------------

std::vector<uint8_t> EncodeVariablePayload(const VariableValues& variable) {
    std::vector<uint8_t> out;
    const uint32_t count = static_cast<uint32_t>(std::min<size_t>(variable.sizes.size(), kMaxPayloadDimensions));
    const std::span<const int32_t> sizes = variable.sizes.first(count);
    switch (variable.type) {
        case kPayloadInteger: {
            AppendPayloadHead(out, 1, count, sizes, uint64_t{variable.integers.size()} * 8);
            for (int64_t value : variable.integers) AppendU64(out, static_cast<uint64_t>(value));
            break;
        }
        case kPayloadReal: {
            AppendPayloadHead(out, 2, count, sizes, uint64_t{variable.reals.size()} * 8);
            for (double value : variable.reals) {
                uint64_t bits;
                std::memcpy(&bits, &value, sizeof bits);
                AppendU64(out, bits);
            }
            break;
        }
        default: {
            // Type 3; a record of no type saves as an empty text variable.
            uint64_t length = 0;
            for (const std::string& text : variable.texts) length += 4 + std::strlen(text.c_str());
            AppendPayloadHead(out, 3, count, sizes, length);
            for (const std::string& text : variable.texts) {
                const size_t n = std::strlen(text.c_str());
                AppendU32(out, static_cast<uint32_t>(n));
                out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
            }
            break;
        }
    }
    return out;
}

std::vector<uint8_t> EncodeIntegerElementPayload(int64_t value) {
    std::vector<uint8_t> out;
    AppendPayloadHead(out, 1, 0, {}, 8);
    AppendU64(out, static_cast<uint64_t>(value));
    return out;
}

std::vector<uint8_t> EncodeRealElementPayload(double value) {
    std::vector<uint8_t> out;
    AppendPayloadHead(out, 2, 0, {}, 8);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    AppendU64(out, bits);
    return out;
}

std::vector<uint8_t> EncodeTextElementPayload(std::string_view text) {
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    std::vector<uint8_t> out;
    AppendPayloadHead(out, 3, 0, {}, uint64_t{text.size()} + 4);
    AppendU32(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

PayloadError ParseVariablePayload(std::span<const uint8_t> payload, VariablePayload& out) {
    ByteReader reader(payload);
    auto type = reader.U32();
    auto count = reader.U32();
    if (!type || !count) return PayloadError::kDamaged;
    if (*type < 1 || *type > 3) return PayloadError::kBadType;
    if (*count > static_cast<uint32_t>(kMaxPayloadDimensions)) return PayloadError::kBadType;
    VariablePayload parsed;
    parsed.type = *type;
    parsed.dimension_count = *count;
    for (uint32_t d = 0; d < *count; ++d) {
        auto size = reader.U32();
        if (!size) return PayloadError::kDamaged;
        parsed.sizes[d] = *size;
    }
    auto length = reader.U32();
    if (!length) return PayloadError::kDamaged;
    if (*length > kMaxVariableDataBytes) return PayloadError::kTooLong;
    if (reader.Remaining() != *length) return PayloadError::kDamaged;
    parsed.data = *reader.Take(*length);
    out = parsed;
    return PayloadError::kNone;
}

bool PayloadHoldsValues(std::span<const uint8_t> data, uint64_t count) { return uint64_t{data.size()} == count * 8; }

bool SplitPayloadTexts(std::span<const uint8_t> data, uint64_t count, std::vector<std::string_view>& texts,
                       bool& text_too_long) {
    text_too_long = false;
    texts.clear();
    // Each text takes at least its 4-byte length: more texts than that
    // cannot be there, whatever the count says.
    if (count > data.size() / 4) return false;
    texts.reserve(static_cast<size_t>(count));
    ByteReader reader(data);
    for (uint64_t i = 0; i < count; ++i) {
        auto length = reader.U32();
        if (!length) return false;
        auto bytes = reader.Take(*length);
        if (!bytes) return false;
        if (*length > kMaxSavedTextBytes) text_too_long = true;
        texts.emplace_back(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    }
    return reader.Remaining() == 0;
}

// ---- blocks --------------------------------------------------------------------

std::optional<std::vector<uint8_t>> MakeVariableBlock(uint16_t variable, std::span<const uint8_t> payload) {
    std::vector<uint8_t> compressed;
    if (payload.size() > kMaxU32 || !SnappyCompress(payload, compressed) || compressed.size() > kMaxU32)
        return std::nullopt;
    std::vector<uint8_t> block;
    block.reserve(kDataBlockHeaderBytes + compressed.size());
    AppendBlockHeader(block, {kBlockVariable, 1, variable, static_cast<uint32_t>(compressed.size()),
                              static_cast<uint32_t>(payload.size())});
    block.insert(block.end(), compressed.begin(), compressed.end());
    return block;
}

std::vector<uint8_t> MakeListBlock(std::span<const std::vector<uint8_t>> records) {
    uint64_t stored = 0, uncompressed = 0;
    for (const std::vector<uint8_t>& record : records) {
        stored += record.size();
        uncompressed += kDataBlockHeaderBytes + ReadBlockHeader(record)->uncompressed_length;
    }
    std::vector<uint8_t> block;
    block.reserve(static_cast<size_t>(kDataBlockHeaderBytes + stored));
    AppendBlockHeader(block, {kBlockList, 1, 0, static_cast<uint32_t>(stored), static_cast<uint32_t>(uncompressed)});
    for (const std::vector<uint8_t>& record : records) block.insert(block.end(), record.begin(), record.end());
    return block;
}

std::vector<uint8_t> EncodeImagePayload(int32_t width, int32_t height, std::span<const uint8_t> pixels) {
    const uint64_t pixel_bytes = uint64_t(uint32_t(width)) * 4 * uint64_t(uint32_t(height));
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(8 + kImageHeaderBytes + pixel_bytes));
    AppendU32(out, kImageHeaderBytes);
    AppendU32(out, static_cast<uint32_t>(pixel_bytes));
    // The header stands for the layer's record; only its size is read back.
    const size_t header_at = out.size();
    out.resize(header_at + kImageHeaderBytes, 0);
    PutU32(out, header_at + kImageWidthOffset, static_cast<uint32_t>(width));
    PutU32(out, header_at + kImageHeightOffset, static_cast<uint32_t>(height));
    const size_t have = std::min<size_t>(pixels.size(), static_cast<size_t>(pixel_bytes));
    out.insert(out.end(), pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(have));
    out.resize(static_cast<size_t>(8 + kImageHeaderBytes + pixel_bytes), 0);
    return out;
}

std::optional<std::vector<uint8_t>> MakeImageBlock(std::span<const uint8_t> payload) {
    // Compressed straight behind the header's place: a 720p picture's
    // stream is megabytes, not worth a second buffer and a copy.
    std::vector<uint8_t> block;
    if (ZlibCompressAt(payload, kImageCompressionLevel, block, kDataBlockHeaderBytes) != 0) return std::nullopt;
    const size_t compressed = block.size() - kDataBlockHeaderBytes;
    if (compressed > kMaxU32) return std::nullopt;
    std::vector<uint8_t> header;
    AppendBlockHeader(header, {kBlockImage, 1, 0, static_cast<uint32_t>(compressed),
                               static_cast<uint32_t>(payload.size())});
    std::copy(header.begin(), header.end(), block.begin());
    return block;
}

ImagePayloadError ParseImagePayload(std::span<const uint8_t> payload, ImagePayload& out) {
    ByteReader reader(payload);
    auto header_size = reader.U32();
    auto pixel_bytes = reader.U32();
    if (!header_size || !pixel_bytes) return ImagePayloadError::kDamaged;
    if (*header_size != kImageHeaderBytes) return ImagePayloadError::kBadHeader;
    auto width = reader.PeekAt<int32_t>(8 + kImageWidthOffset);
    auto height = reader.PeekAt<int32_t>(8 + kImageHeightOffset);
    if (!width || !height || *width <= 0 || *height <= 0) return ImagePayloadError::kDamaged;
    const uint64_t expected = uint64_t(uint32_t(*width)) * 4 * uint64_t(uint32_t(*height));
    if (expected != *pixel_bytes) return ImagePayloadError::kDamaged;
    if (!reader.Skip(kImageHeaderBytes) || reader.Remaining() != expected) return ImagePayloadError::kDamaged;
    out.width = *width;
    out.height = *height;
    out.pixels = *reader.Take(expected);
    return ImagePayloadError::kNone;
}

bool ParseListRecords(std::span<const uint8_t> stored, std::vector<ListRecord>& out) {
    out.clear();
    ByteReader reader(stored);
    while (reader.Remaining() > 0) {
        auto head = reader.Take(kDataBlockHeaderBytes);
        if (!head) return false;
        const DataBlockHeader header = *ReadBlockHeader(*head);
        if (header.kind != kBlockVariable) return false;
        auto bytes = reader.Take(header.stored_length);
        if (!bytes) return false;
        out.push_back({header.variable, header.uncompressed_length, *bytes});
    }
    return true;
}

// ---- memory rows in block 1024 ---------------------------------------------------

int32_t MakeRowsBlock(std::span<const std::span<const uint8_t>> rows, std::vector<uint8_t>& out) {
    std::vector<uint8_t> records;
    uint64_t uncompressed = 0;
    std::vector<uint8_t> compressed;
    for (std::span<const uint8_t> row : rows) {
        uncompressed += 8 + row.size();
        if (row.empty()) {
            AppendU32(records, 0);
            AppendU32(records, 0);
            continue;
        }
        const int32_t status = ZlibCompress(row, kRowCompressionLevel, compressed);
        if (status != 0) return status;
        AppendU32(records, static_cast<uint32_t>(row.size()));
        AppendU32(records, static_cast<uint32_t>(compressed.size()));
        records.insert(records.end(), compressed.begin(), compressed.end());
    }
    if (records.size() > kMaxU32 || uncompressed > kMaxU32) return -4;
    out.clear();
    out.reserve(kDataBlockHeaderBytes + records.size());
    AppendBlockHeader(out, {kBlockVariable, 1, 0, static_cast<uint32_t>(records.size()),
                            static_cast<uint32_t>(uncompressed)});
    out.insert(out.end(), records.begin(), records.end());
    return 0;
}

bool ParseRowsBlock(std::span<const uint8_t> stored, std::vector<std::vector<uint8_t>>& rows) {
    std::vector<std::vector<uint8_t>> parsed(kSaveRowCount);
    ByteReader reader(stored);
    for (uint32_t r = 0; r < kSaveRowCount; ++r) {
        auto size = reader.U32();
        auto compressed_size = reader.U32();
        if (!size || !compressed_size) return false;
        if (*size == 0) continue;
        // A row holds at least a save file's header and directory.
        if (*size < kSaveBlocksOffset) return false;
        auto bytes = reader.Take(*compressed_size);
        if (!bytes || !ZlibUncompress(*bytes, *size, parsed[r])) return false;
    }
    if (reader.Remaining() != 0) return false;
    rows = std::move(parsed);
    return true;
}

// ---- whole files ---------------------------------------------------------------------

std::vector<uint8_t> BuildSaveFile(const PendingBlocks& pending, uint32_t last) {
    uint64_t total = kSaveBlocksOffset;
    for (uint32_t n = 1; n <= last; ++n) {
        if (!pending[n - 1].empty()) total += 4 + pending[n - 1].size();
    }
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(total));
    out.resize(kSaveBlocksOffset, 0);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    PutU32(out, 4, kSaveVersion);
    PutU32(out, 12, kSaveDirectoryEntries);
    uint32_t count = 0;
    for (uint32_t n = 1; n <= last; ++n) {
        const std::vector<uint8_t>& block = pending[n - 1];
        if (block.empty()) continue;
        PutU32(out, 12 + 4 * n, static_cast<uint32_t>(out.size()));
        AppendU32(out, n);
        out.insert(out.end(), block.begin(), block.end());
        ++count;
    }
    PutU32(out, 8, count);
    return out;
}

SaveFileUpdate UpdateSaveFile(std::span<const uint8_t> old_bytes, const PendingBlocks& pending) {
    SaveFileUpdate result;
    MemorySaveSource source(old_bytes);
    result.error = ReadSaveHeader(source);
    if (result.error != SaveFileError::kNone) return result;
    if (old_bytes.size() < kSaveBlocksOffset) {
        result.error = SaveFileError::kDamaged;
        return result;
    }
    const uint32_t old_count = LoadU32(old_bytes.data() + 8);

    bool replaces = false;
    for (uint32_t n = 1; n <= kDataNumberCount; ++n) {
        if (!pending[n - 1].empty() && LoadU32(old_bytes.data() + 12 + 4 * n) != 0) replaces = true;
    }

    std::vector<uint8_t>& out = result.bytes;
    std::array<bool, kDataNumberCount> written{};
    if (!replaces) {
        // Appending: the stored blocks stay where they are.
        out.assign(old_bytes.begin(), old_bytes.end());
    } else {
        // Rewriting: the header as it was, a fresh directory, and every
        // stored block in file order, replaced by its pending block or kept.
        // The whole new file is built (and every stored block checked)
        // before anything is written.
        out.assign(old_bytes.begin(), old_bytes.begin() + kSaveHeaderBytes);
        out.resize(kSaveBlocksOffset, 0);
        uint64_t at = kSaveBlocksOffset;
        while (at < old_bytes.size()) {
            if (old_bytes.size() - at < 4 + kDataBlockHeaderBytes) {
                result.error = SaveFileError::kDamaged;
                return result;
            }
            const uint32_t n = LoadU32(old_bytes.data() + at);
            if (n < 1 || n > kDataNumberCount) {
                result.error = SaveFileError::kBadDataNumber;
                result.bad_data_number = n;
                return result;
            }
            const DataBlockHeader header = *ReadBlockHeader(old_bytes.subspan(static_cast<size_t>(at + 4)));
            const uint64_t block_size = kDataBlockHeaderBytes + uint64_t{header.stored_length};
            if (block_size > old_bytes.size() - at - 4) {
                result.error = SaveFileError::kDamaged;
                return result;
            }
            PutU32(out, 12 + 4 * n, static_cast<uint32_t>(out.size()));
            AppendU32(out, n);
            if (!pending[n - 1].empty()) {
                out.insert(out.end(), pending[n - 1].begin(), pending[n - 1].end());
                written[n - 1] = true;
            } else {
                const auto begin = old_bytes.begin() + static_cast<std::ptrdiff_t>(at + 4);
                out.insert(out.end(), begin, begin + static_cast<std::ptrdiff_t>(block_size));
            }
            at += 4 + block_size;
        }
    }
    uint32_t appended = 0;
    for (uint32_t n = 1; n <= kDataNumberCount; ++n) {
        const std::vector<uint8_t>& block = pending[n - 1];
        if (block.empty() || written[n - 1]) continue;
        PutU32(out, 12 + 4 * n, static_cast<uint32_t>(out.size()));
        AppendU32(out, n);
        out.insert(out.end(), block.begin(), block.end());
        ++appended;
    }
    PutU32(out, 8, old_count + appended);
    return result;
}

bool MemorySaveSource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
    if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
}

SaveFileError ReadSaveHeader(SaveSource& source) {
    uint8_t header[8];
    if (!source.ReadAt(0, header) || std::memcmp(header, kMagic, 4) != 0) return SaveFileError::kBadMagic;
    if (LoadU32(header + 4) != kSaveVersion) return SaveFileError::kBadVersion;
    return SaveFileError::kNone;
}

uint32_t ReadDirectoryEntry(SaveSource& source, uint32_t data_number) {
    if (data_number < 1 || data_number > kSaveDirectoryEntries) return 0;
    uint8_t entry[4];
    if (!source.ReadAt(12 + 4 * uint64_t{data_number}, entry)) return 0;
    return LoadU32(entry);
}

std::optional<DataBlockHeader> ReadStoredBlock(SaveSource& source, uint64_t offset, std::vector<uint8_t>& stored) {
    uint8_t head[kDataBlockHeaderBytes];
    if (offset > source.Size() || !source.ReadAt(offset + 4, head)) return std::nullopt;
    const DataBlockHeader header = *ReadBlockHeader(head);
    const uint64_t begin = offset + 4 + kDataBlockHeaderBytes;
    if (header.stored_length > source.Size() - begin) return std::nullopt;
    stored.resize(header.stored_length);
    if (!source.ReadAt(begin, stored)) return std::nullopt;
    return header;
}

}  // namespace zk
