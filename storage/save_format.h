// The .sd save data format: a save file (or a memory row, which has the same
// layout) is a 16-byte header, a directory of 1024 offsets and the blocks
// back to back from offset 4112, each a data number and a DataBlock:
//
//   header     "ZKSD", uint32 version 480, uint32 block count, uint32 1024
//   directory  uint32[1024]: entry n-1 the offset of block n's data number, 0 absent
//   DataBlock  kind u8 (0 variable, 1 layer image, 2 list), 1 u8, variable u16,
//              stored length u32, uncompressed length u32, stored bytes
//
// Payloads: a variable (type, dimension count, sizes, data length, data)
// compressed with the Snappy-style codec; a layer image (1680, pixel bytes,
// a 1680-byte header whose width and height sit at 136 and 140, BGRA rows)
// with the zlib-style codec at level 9; a list holds kind-0 records back to
// back; block 1024 holds the 500 memory rows, each zlib level 1.
//
// Everything here works on bytes: building blocks and whole files, and
// checking what is read back. Every length read from a file is checked
// against the bytes that are really there, in 64-bit arithmetic, before
// anything is allocated or copied.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zk {

struct CgImage;

inline constexpr uint32_t kSaveVersion = 480;
inline constexpr uint32_t kSaveDirectoryEntries = 1024;
inline constexpr size_t kSaveHeaderBytes = 16;
inline constexpr size_t kSaveBlocksOffset = 4112;  // header and directory
inline constexpr size_t kDataBlockHeaderBytes = 12;
inline constexpr uint32_t kDataNumberCount = 1024;   // data numbers 1..1024
inline constexpr uint32_t kRowsDataNumber = 1024;    // the block of all memory rows
inline constexpr uint32_t kSaveRowCount = 500;
inline constexpr uint32_t kImageHeaderBytes = 1680;
inline constexpr size_t kImageWidthOffset = 136;     // in the image header
inline constexpr size_t kImageHeightOffset = 140;
inline constexpr uint32_t kMaxVariableDataBytes = 40'000'000;
inline constexpr uint32_t kMaxSavedTextBytes = 4096;
inline constexpr int kImageCompressionLevel = 9;
inline constexpr int kRowCompressionLevel = 1;

enum DataBlockKind : uint8_t { kBlockVariable = 0, kBlockImage = 1, kBlockList = 2 };

struct DataBlockHeader {
    uint8_t kind = 0;
    uint8_t one = 1;
    uint16_t variable = 0;
    uint32_t stored_length = 0;
    uint32_t uncompressed_length = 0;
};

// The pending blocks, one per data number (index n - 1): a whole DataBlock,
// or empty when there is none.
using PendingBlocks = std::array<std::vector<uint8_t>, kDataNumberCount>;

// ---- little-endian output --------------------------------------------------

void AppendU16(std::vector<uint8_t>& out, uint16_t value);
void AppendU32(std::vector<uint8_t>& out, uint32_t value);
void PutU32(std::span<uint8_t> out, size_t offset, uint32_t value);
void AppendBlockHeader(std::vector<uint8_t>& out, const DataBlockHeader& header);
std::optional<DataBlockHeader> ReadBlockHeader(std::span<const uint8_t> bytes);

// ---- the codecs (through the codec registry) -------------------------------

// Snappy-style. False when the codec is missing or fails.
bool SnappyCompress(std::span<const uint8_t> source, std::vector<uint8_t>& out);
// Decompresses into exactly `expected` bytes: false when the codec is
// missing, the data is damaged or says another length.
bool SnappyUncompress(std::span<const uint8_t> source, uint64_t expected, std::vector<uint8_t>& out);
// zlib-style: the codec's status (0 ok, -4 out of memory, ...); -6 when
// the codec is missing.
int32_t ZlibCompress(std::span<const uint8_t> source, int level, std::vector<uint8_t>& out);
bool ZlibUncompress(std::span<const uint8_t> source, uint64_t expected, std::vector<uint8_t>& out);

// ---- variable payloads -----------------------------------------------------

// The payload of a whole variable (its dimension count and sizes, every
// element) or of one element (dimension count 0). Texts end at their first
// NUL, as every reader of a text element sees them.
// A variable as its payload holds it: the type (1 integer, 2 real,
// anything else text), the dimension sizes and every element.
// Dimensions a saved variable may have (as many as a script variable).
inline constexpr uint32_t kMaxPayloadDimensions = 8;
inline constexpr uint8_t kPayloadInteger = 1;
inline constexpr uint8_t kPayloadReal = 2;
inline constexpr uint8_t kPayloadText = 3;
struct VariableValues {
    uint8_t type = 0;
    std::span<const int32_t> sizes;  // one per dimension
    std::span<const int64_t> integers;
    std::span<const double> reals;
    std::span<const std::string> texts;
};
std::vector<uint8_t> EncodeVariablePayload(const VariableValues& variable);
std::vector<uint8_t> EncodeIntegerElementPayload(int64_t value);
std::vector<uint8_t> EncodeRealElementPayload(double value);
std::vector<uint8_t> EncodeTextElementPayload(std::string_view text);

struct VariablePayload {
    uint32_t type = 0;
    uint32_t dimension_count = 0;
    std::array<uint32_t, 8> sizes{};
    std::span<const uint8_t> data;
};

// The checks of a payload before it is restored, in the engine's order.
enum class PayloadError : uint8_t {
    kNone,
    kBadType,      // type outside 1..3, or a dimension count above 8 (900000)
    kTooLong,      // data length above 40,000,000 (108070)
    kDamaged,      // the lengths do not match the bytes: an invalid save file
};
// Splits a payload into its fields; the data must fill the rest exactly.
PayloadError ParseVariablePayload(std::span<const uint8_t> payload, VariablePayload& out);

// The elements of a payload's data: `count` values of 8 bytes (types 1 and
// 2) or `count` texts (type 3), filling the data exactly, with no text above
// kMaxSavedTextBytes (`text_too_long` set instead). False when the data does
// not hold exactly that.
bool SplitPayloadTexts(std::span<const uint8_t> data, uint64_t count, std::vector<std::string_view>& texts,
                       bool& text_too_long);
bool PayloadHoldsValues(std::span<const uint8_t> data, uint64_t count);

// ---- blocks ------------------------------------------------------------------

// A kind-0 block (or list record) of a variable payload: nullopt when the
// codec fails.
std::optional<std::vector<uint8_t>> MakeVariableBlock(uint16_t variable, std::span<const uint8_t> payload);
// A kind-2 block of kind-0 records.
std::vector<uint8_t> MakeListBlock(std::span<const std::vector<uint8_t>> records);
// The image payload of pixels (width x height BGRA, pitch width * 4).
std::vector<uint8_t> EncodeImagePayload(int32_t width, int32_t height, std::span<const uint8_t> pixels);
// A kind-1 block of an image payload: nullopt when the codec fails.
std::optional<std::vector<uint8_t>> MakeImageBlock(std::span<const uint8_t> payload);

struct ImagePayload {
    int32_t width = 0;
    int32_t height = 0;
    std::span<const uint8_t> pixels;  // width * 4 * height bytes
};
enum class ImagePayloadError : uint8_t { kNone, kBadHeader /* 108110 */, kDamaged };
ImagePayloadError ParseImagePayload(std::span<const uint8_t> payload, ImagePayload& out);

struct ListRecord {
    uint16_t variable = 0;
    uint32_t uncompressed_length = 0;
    std::span<const uint8_t> stored;
};
// The records of a kind-2 block's stored bytes; false when they do not
// fill it exactly or a record is no kind-0 record.
bool ParseListRecords(std::span<const uint8_t> stored, std::vector<ListRecord>& out);

// ---- the memory rows in block 1024 ------------------------------------------

// The block of every row's content, each compressed with zlib level 1. The
// codec's status on failure (-4 out of memory), with `out` unusable.
int32_t MakeRowsBlock(std::span<const std::span<const uint8_t>> rows, std::vector<uint8_t>& out);
// Every row's content from block 1024's stored bytes (the header checked by
// the caller): false when the records or any row's data are damaged.
bool ParseRowsBlock(std::span<const uint8_t> stored, std::vector<std::vector<uint8_t>>& rows);

// ---- whole files -------------------------------------------------------------

enum class SaveFileError : uint8_t {
    kNone,
    kBadMagic,       // 108030
    kBadVersion,     // 108040
    kBadDataNumber,  // a stored block's number outside 1..1024 (`bad_data_number`)
    kDamaged,        // a stored block runs past the end
};

struct SaveFileUpdate {
    SaveFileError error = SaveFileError::kNone;
    uint32_t bad_data_number = 0;
    std::vector<uint8_t> bytes;
};

// A new file (or row) holding the pending blocks 1..last in data-number order.
std::vector<uint8_t> BuildSaveFile(const PendingBlocks& pending, uint32_t last);
// The file after writing the pending blocks into `old_bytes`: appended when
// none replaces a stored block, else every stored block walked in file order
// and replaced or kept, the rest appended. The block count is the old count
// plus the appended blocks. Nothing is changed in `old_bytes`.
SaveFileUpdate UpdateSaveFile(std::span<const uint8_t> old_bytes, const PendingBlocks& pending);

// Reading, from a file or a row alike.
class SaveSource {
public:
    virtual ~SaveSource() = default;
    virtual uint64_t Size() const = 0;
    // Exactly out.size() bytes at `offset`, or false.
    virtual bool ReadAt(uint64_t offset, std::span<uint8_t> out) = 0;
};
class MemorySaveSource final : public SaveSource {
public:
    explicit MemorySaveSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(uint64_t offset, std::span<uint8_t> out) override;

private:
    std::span<const uint8_t> bytes_;
};

// The magic and the version (a source shorter than its header has no magic).
SaveFileError ReadSaveHeader(SaveSource& source);
// Directory entry n (1..1024): the offset of block n, 0 when absent.
uint32_t ReadDirectoryEntry(SaveSource& source, uint32_t data_number);
// The DataBlock whose data number lies at `offset` and its stored bytes.
// nullopt when the block does not lie inside the source (a directory
// offset past the end, a stored length that lies). Throws std::bad_alloc
// when the stored bytes cannot be held.
std::optional<DataBlockHeader> ReadStoredBlock(SaveSource& source, uint64_t offset, std::vector<uint8_t>& stored);

}  // namespace zk
