// Writer of BMP files: the 14-byte file header, the 40-byte info header,
// the palette right behind them, and bottom-up rows padded to 4 bytes (top
// down when the height is negative). Every depth the engine reads, and 16
// bits, which it does not convert.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zk::tools {

struct BmpImage {
    int32_t width = 0;
    int32_t height = 0;        // negative: a top-down file
    uint16_t bit_count = 24;   // 1, 4, 8, 16, 24 or 32
    uint32_t compression = 0;  // biCompression as stored (the rows are written uncompressed)
    std::vector<uint32_t> palette;  // 0x00RRGGBB per entry (1, 4 and 8 bits)
    std::optional<uint32_t> colours_used;  // biClrUsed; default: 0
    // width x |height| values, top row first: palette indices (1, 4 and 8
    // bits) or 0xAARRGGBB pixels (16, 24 and 32 bits; 16 bits keeps 5 bits
    // of each colour).
    std::vector<uint32_t> values;
};

// Header field offsets, for tests that damage a file.
constexpr size_t kBmpDataOffsetField = 10;
constexpr size_t kBmpWidthField = 18;
constexpr size_t kBmpHeightField = 22;
constexpr size_t kBmpBitCountField = 28;
constexpr size_t kBmpCompressionField = 30;
constexpr size_t kBmpColoursUsedField = 46;
constexpr size_t kBmpHeadersBytes = 54;

std::vector<uint8_t> BuildBmp(const BmpImage& image);

// The stride of a row of `width` pixels at a depth (4-byte aligned).
uint32_t BmpStride(int32_t width, uint16_t bit_count);

}  // namespace zk::tools
