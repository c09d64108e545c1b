// BMP: the 14-byte file header and the 40-byte info header, an optional
// palette right behind them, and bottom-up rows padded to 4 bytes.
#include <algorithm>
#include <array>

#include "base/byte_reader.h"
#include "core/error_report.h"
#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "layers/pixel_kernels.h"

namespace zk {

namespace {

constexpr size_t kHeadersBytes = 54;  // BITMAPFILEHEADER + BITMAPINFOHEADER
constexpr size_t kPaletteOffset = 54;  // the palette is always read from here
constexpr uint16_t kBmMagic = 'B' | ('M' << 8);

struct BmpHeader {
    uint32_t data_offset = 0;  // bfOffBits
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bit_count = 0;
    uint32_t compression = 0;
    uint32_t colours_used = 0;
};

// Bytes from one row's start to the end of its last pixel, and from one
// row's start to the next (the padded stride).
struct RowLayout {
    uint64_t used = 0;
    uint64_t stride = 0;
};

bool HasPalette(uint16_t bit_count) { return bit_count == 1 || bit_count == 4 || bit_count == 8; }

RowLayout LayoutFor(uint16_t bit_count, uint64_t width) {
    switch (bit_count) {
        case 1: return {(width + 7) / 8, ((width + 31) >> 5) * 4};
        case 4: return {(width + 1) / 2, ((width + 7) >> 3) * 4};
        case 8: return {width, (width + 3) & ~uint64_t{3}};
        case 24: return {width * 3, (width * 3 + 3) & ~uint64_t{3}};
        case 32: return {width * 4, width * 4};
        default: return {};
    }
}

// Reports the first thing wrong with the headers or the layout of the
// palette and rows, in the order the engine has always checked them.
bool CheckBmp(const BmpHeader& header, size_t file_size, std::string_view name) {
    if (header.width > kMaxImageSide || header.height > kMaxImageSide) {
        ReportScriptErrorF(kErrImageSize, true, {name});
        return false;
    }
    if (header.height < 0) {
        ReportScriptErrorF(kErrBmpTopDown, true, {name});
        return false;
    }
    if (!ImageSizeAcceptable(header.width, header.height)) {
        ReportScriptErrorF(kErrImageSize, true, {name});
        return false;
    }
    if ((header.bit_count == 4 || header.bit_count == 8) && header.compression != 0) {
        ReportEngineErrorF(kErrBmpCompressed, true, {name});
        return false;
    }
    if (HasPalette(header.bit_count)) {
        uint64_t entries = header.colours_used != 0 ? header.colours_used : uint64_t{1} << header.bit_count;
        entries = std::min<uint64_t>(entries, uint64_t{1} << header.bit_count);
        if (kPaletteOffset + entries * 4 > file_size) {
            ReportScriptErrorF(kErrBmpOffset, true, {name});
            return false;
        }
    }
    RowLayout layout = LayoutFor(header.bit_count, uint64_t(header.width));
    if (layout.stride != 0) {
        // The last row's padding may be missing from the file: it is never read.
        uint64_t end = uint64_t{header.data_offset} + layout.stride * uint64_t(header.height - 1) + layout.used;
        if (end > file_size) {
            ReportScriptErrorF(kErrBmpOffset, true, {name});
            return false;
        }
    }
    return true;
}

// Opaque black, then B, G, R from each RGBQUAD the file has (capped at the
// palette's size).
std::array<uint32_t, 256> ReadPalette(const ByteReader& reader, const BmpHeader& header) {
    std::array<uint32_t, 256> palette;
    palette.fill(0xFF000000u);
    uint64_t size = uint64_t{1} << header.bit_count;
    uint64_t count = header.colours_used != 0 ? header.colours_used : size;
    if (count > size) count = size;
    for (uint64_t i = 0; i < count; ++i) {
        palette[i] |= reader.PeekAt<uint32_t>(kPaletteOffset + 4 * i).value_or(0);  // checked by CheckBmp
    }
    return palette;
}

void StorePixel(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

void ConvertRow(const BmpHeader& header, const std::array<uint32_t, 256>& palette, const uint8_t* in,
                uint8_t* out) {
    const int32_t width = header.width;
    switch (header.bit_count) {
        case 1:
            for (int32_t x = 0; x < width; ++x) {
                StorePixel(out + x * 4, palette[(in[x >> 3] >> (7 - (x & 7))) & 1]);
            }
            break;
        case 4:
            for (int32_t x = 0; x < width; ++x) {
                uint8_t byte = in[x >> 1];
                StorePixel(out + x * 4, palette[(x & 1) == 0 ? byte >> 4 : byte & 0x0F]);
            }
            break;
        case 8:
            for (int32_t x = 0; x < width; ++x) StorePixel(out + x * 4, palette[in[x]]);
            break;
        case 24:
            for (int32_t x = 0; x < width; ++x) {
                out[x * 4 + 0] = in[x * 3 + 0];
                out[x * 4 + 1] = in[x * 3 + 1];
                out[x * 4 + 2] = in[x * 3 + 2];
                out[x * 4 + 3] = 0xFF;
            }
            break;
        case 32: PixelKernels.copy_bytes(out, in, int64_t{width} * 4); break;
        default: break;
    }
}

}  // namespace

int32_t DecodeBmpImage(FileSource& source, CgImage& image, std::string_view name) {
    std::vector<uint8_t> bytes;
    if (FetchFileSourceBytes(source, name, bytes) != 0) return -1;
    return DecodeBmpBytes(bytes, image, name);
}

int32_t DecodeBmpBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name) {
    ByteReader reader(bytes);
    if (bytes.size() < kHeadersBytes || reader.PeekAt<uint16_t>(0) != kBmMagic) {
        ReportScriptErrorF(kErrBmpNotBm, true, {name});
        return -1;
    }
    BmpHeader header;
    header.data_offset = *reader.PeekAt<uint32_t>(10);
    header.width = *reader.PeekAt<int32_t>(18);
    header.height = *reader.PeekAt<int32_t>(22);
    header.bit_count = *reader.PeekAt<uint16_t>(28);
    header.compression = *reader.PeekAt<uint32_t>(30);
    header.colours_used = *reader.PeekAt<uint32_t>(46);
    if (header.data_offset < 11) {
        ReportScriptErrorF(kErrBmpOffset, true, {name});
        return -1;
    }
    if (!CheckBmp(header, bytes.size(), name)) return -1;
    RowLayout layout = LayoutFor(header.bit_count, uint64_t(header.width));
    if (layout.stride == 0) {
        // A depth the engine does not convert: nothing of the file is shown.
        return GiveClearedImagePixels(image, header.width, header.height) ? 0 : -1;
    }
    if (!GiveImagePixels(image, header.width, header.height)) return -1;
    if (header.bit_count == 32) image.alpha_in_use = 1;
    std::array<uint32_t, 256> palette{};
    if (HasPalette(header.bit_count)) palette = ReadPalette(reader, header);

    const size_t row_bytes = size_t(header.width) * 4;
    uint8_t* pixels = image.owned_block.data();
    for (int32_t j = 0; j < header.height; ++j) {
        const uint8_t* in = bytes.data() + header.data_offset + layout.stride * uint64_t(j);
        uint8_t* out = pixels + row_bytes * size_t(header.height - 1 - j);
        ConvertRow(header, palette, in, out);
    }
    return 0;
}

}  // namespace zk
