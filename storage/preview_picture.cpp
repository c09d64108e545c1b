#include "storage/preview_picture.h"

#include <fstream>
#include <string>

#include "base/byte_reader.h"

namespace zk {

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr size_t kPixelsAt = kFileHeaderBytes + kInfoHeaderBytes;
// A preview is a few hundred pixels wide; a header asking for more than
// this many pixels is not one.
constexpr uint64_t kMaxPixels = uint64_t{1} << 26;

uint32_t ReadU32(const char* bytes) {
    return uint32_t(uint8_t(bytes[0])) | uint32_t(uint8_t(bytes[1])) << 8 | uint32_t(uint8_t(bytes[2])) << 16 |
           uint32_t(uint8_t(bytes[3])) << 24;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadPreviewPicture(std::string_view executable_host_path, uint32_t block_offset) {
    std::ifstream in(std::string(executable_host_path), std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const std::streamoff file_size = in.tellg();
    if (file_size < 0) return std::nullopt;
    const uint64_t size = static_cast<uint64_t>(file_size);
    if (uint64_t{block_offset} + 16 > size) return std::nullopt;
    char field[4];
    in.seekg(static_cast<std::streamoff>(block_offset) + 8);
    if (!in.read(field, 4)) return std::nullopt;
    const uint32_t preview_size = ReadU32(field);
    if (preview_size == 0 || uint64_t{block_offset} + 16 + preview_size > size) return std::nullopt;
    std::vector<uint8_t> bytes(preview_size);
    in.seekg(static_cast<std::streamoff>(block_offset) + 16);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
    return bytes;
}

std::optional<PreviewPicture> ParsePreviewPicture(std::span<const uint8_t> bytes) {
    ByteReader header(bytes);
    if (!header.Skip(kFileHeaderBytes)) return std::nullopt;
    const std::optional<uint32_t> header_size = header.U32();
    const std::optional<int32_t> width = header.I32();
    const std::optional<int32_t> height = header.I32();
    const std::optional<uint16_t> planes = header.U16();
    const std::optional<uint16_t> bits = header.U16();
    const std::optional<uint32_t> compression = header.U32();
    if (!header_size || !width || !height || !planes || !bits || !compression) return std::nullopt;
    if (*header_size != kInfoHeaderBytes || *bits != 24 || *compression != 0) return std::nullopt;
    if (*width <= 0 || *height == 0 || *height == INT32_MIN) return std::nullopt;
    const uint64_t rows = static_cast<uint64_t>(*height < 0 ? -int64_t{*height} : int64_t{*height});
    const uint64_t columns = static_cast<uint64_t>(*width);
    if (columns * rows > kMaxPixels) return std::nullopt;
    const uint64_t stride = (columns * 3 + 3) / 4 * 4;
    if (kPixelsAt + stride * rows > bytes.size()) return std::nullopt;

    PreviewPicture picture;
    picture.width = *width;
    picture.height = static_cast<int32_t>(rows);
    picture.pixels.resize(columns * rows);
    const bool top_down = *height < 0;
    for (uint64_t y = 0; y < rows; ++y) {
        const uint64_t source_row = top_down ? y : rows - 1 - y;
        const uint8_t* row = bytes.data() + kPixelsAt + source_row * stride;
        for (uint64_t x = 0; x < columns; ++x) {
            const uint8_t* bgr = row + x * 3;
            picture.pixels[y * columns + x] = uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
        }
    }
    return picture;
}

}  // namespace zk
