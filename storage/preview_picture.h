// The screen saver's preview picture: the S bytes after the appended block
// (at V + 16; S at V + 8), a BMP file whose 14-byte file header is not
// read, then a 40-byte BITMAPINFOHEADER and the pixels from byte 54.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zk {

struct PreviewPicture {
    int32_t width = 0;
    int32_t height = 0;  // rows, top to bottom in `pixels`
    // width × height pixels, 0x00RRGGBB, the top row first.
    std::vector<uint32_t> pixels;
};

// The preview bytes of an executable (a host path) with its appended block
// at `block_offset`: S is checked against the file before anything is
// allocated; a file that cannot be opened, a size past the file or a short
// read give nothing.
std::optional<std::vector<uint8_t>> ReadPreviewPicture(std::string_view executable_host_path,
                                                       uint32_t block_offset);

// The picture, when it is one the preview can show: a 40-byte header,
// 24 bits, no compression, width > 0, height != 0 (negative: top-down),
// 54 + padded row × |height| within the bytes (rows padded to 4 bytes).
// Anything else: nothing (the preview stays black).
std::optional<PreviewPicture> ParsePreviewPicture(std::span<const uint8_t> bytes);

}  // namespace zk
