// GIF: every image of a GIF87a/GIF89a file decoded into the frame table of
// its CgImage, and frame 0 composed into the image's pixels at the size of
// the logical screen. Only frame 0 is shown; the other frames, with their
// delays and disposal methods, are kept with the image.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "layers/pixel_block.h"

namespace zk {

struct CgImage;
struct FileSource;

constexpr size_t kGifFrameTableSize = 8192;
// What the colour indices of all frames of one file may hold together:
// 256 MiB, as much as the composed image of the largest logical screen
// (8192 x 8192, four bytes a pixel) needs itself. Long animations at
// ordinary screen sizes fit (about 290 frames of 1280 x 720); a file that
// asks for more is refused as if the memory had run out.
constexpr uint64_t kGifFrameBytesLimit = uint64_t{8192} * 8192 * 4;

struct GifFrame {
    int32_t left = 0, top = 0, width = 0, height = 0;  // from the image descriptor
    int32_t disposal = 0;            // 0..7
    int32_t transparency = 0;        // 0 or 1
    int32_t delay = 0;               // 1/100 s
    int32_t transparent_index = 0;
    int32_t loop_count = 1;          // from the last looping extension before the frame; 1 when none
    std::array<uint8_t, 768> palette{};  // 256 x R, G, B as the palette stood for the frame
    PixelBlock indices;                  // width x height colour indices, top row first
};

// Entry k holds frame k of the last GIF decoded into the image; a later GIF
// reuses the entries from 0 upwards, and entries beyond its frame count
// keep the frames they had.
struct GifFrameTable {
    std::array<std::unique_ptr<GifFrame>, kGifFrameTableSize> frames;
    int32_t frame_count = 0;  // frames the last decode wrote (so far, when it failed)
};

// The decoder of GIF files: 0; 1 when the file could not be loaded or no
// pixel block was had; -1 for a malformed file, a logical screen outside
// 1..8192 (error 100091) or frames beyond what memory allows. The dispatch
// adds error 100215 to every failure.
int32_t DecodeGifImage(FileSource& source, CgImage& image, std::string_view name);
int32_t DecodeGifBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name);

// Writes frame `index` of the image's frame table into its pixels, clipped
// to the image. Pixels the frame does not cover are left as they are.
void ComposeGifFrame(CgImage& image, size_t index);

}  // namespace zk
