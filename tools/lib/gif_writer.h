// A small GIF writer for tests: the header and colour tables, graphic
// control and other extensions made of any sub-blocks, images encoded with
// LZW, and images whose code stream is given code by code, so that a test
// can write the malformed streams a decoder must survive.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zk::tools {

// A valid LZW code stream for `indices`: a clear code first, the end code
// last, and a clear code whenever the table is full.
std::vector<int> EncodeGifLzw(int minimum_code_size, std::span<const uint8_t> indices);

// Packs codes least significant bit first with the code width a decoder
// uses at each code: minimum + 1 bits after a clear code, one bit more each
// time the next table entry reaches the width's limit, at most 12.
std::vector<uint8_t> PackGifCodes(int minimum_code_size, std::span<const int> codes);

// Data as sub-blocks of at most `block_size` (1..255) bytes, then the
// zero-size terminator.
std::vector<uint8_t> GifSubBlocks(std::span<const uint8_t> data, size_t block_size = 255);

struct GifImageDescriptor {
    uint16_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    std::vector<uint8_t> local_palette;  // R, G, B triplets; empty: none
    int minimum_code_size = 8;
};

class GifWriter {
public:
    // `palette`: R, G, B triplets of the global table (empty: none); a
    // table is padded with black to a power of two of at least 2 entries.
    GifWriter& Header(uint16_t width, uint16_t height, std::span<const uint8_t> palette = {},
                      std::string_view signature = "GIF89a");
    GifWriter& GraphicControl(int disposal, bool transparent, uint16_t delay, uint8_t transparent_index);
    // The NETSCAPE2.0 looping extension.
    GifWriter& Looping(uint16_t loop_count);
    // Any extension: the label, then each sub-block and the terminator.
    GifWriter& Extension(uint8_t label, const std::vector<std::vector<uint8_t>>& sub_blocks);
    // An image of width x height indices (top row first, whatever the
    // interlacing), LZW-encoded.
    GifWriter& Image(const GifImageDescriptor& descriptor, std::span<const uint8_t> indices);
    // An image whose code stream is exactly `codes`, in sub-blocks of
    // `block_size` bytes.
    GifWriter& ImageCodes(const GifImageDescriptor& descriptor, std::span<const int> codes, size_t block_size = 255);
    // An image descriptor followed by the minimum code size byte and
    // `data` as it is (sub-block framing included).
    GifWriter& ImageData(const GifImageDescriptor& descriptor, std::span<const uint8_t> data);
    GifWriter& Raw(std::span<const uint8_t> bytes);
    GifWriter& Trailer();
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    void Descriptor(const GifImageDescriptor& descriptor);
    void Palette(std::span<const uint8_t> palette);
    std::vector<uint8_t> bytes_;
};

// Rows of an image in the order an interlaced file stores them.
std::vector<uint8_t> InterlaceRows(std::span<const uint8_t> indices, int width, int height);

}  // namespace zk::tools
