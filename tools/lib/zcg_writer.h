// Writer of .zcg images: the 56-byte header, then the pixel array (B, G,
// R, A, top row first) as two parts, a top band and a bottom band, each
// stored raw, as one zlib stream, as one Snappy block or as one lossless
// WebP file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zk::tools {

enum class ZcgBandKind : uint32_t { kRaw = 0, kZlib = 1, kSnappy = 2, kWebp = 3 };

struct ZcgImage {
    int32_t width = 0;
    int32_t height = 0;
    std::span<const uint8_t> pixels;  // width x height x 4 bytes
    ZcgBandKind kind = ZcgBandKind::kRaw;
    // Rows in the top band; default height / 2 (a WebP band needs a row).
    std::optional<int32_t> top_rows;
};

// Header field offsets, for tests that damage a file.
constexpr size_t kZcgWidthField = 4;
constexpr size_t kZcgHeightField = 8;
constexpr size_t kZcgCompressionField = 16;
constexpr size_t kZcgPart1UnpackedField = 32;
constexpr size_t kZcgPart1StoredField = 36;
constexpr size_t kZcgPart2UnpackedField = 48;
constexpr size_t kZcgPart2StoredField = 52;
constexpr size_t kZcgHeaderBytes = 56;

// The file, or an empty vector when a band cannot be packed.
std::vector<uint8_t> BuildZcg(const ZcgImage& image);

}  // namespace zk::tools
