#include "tools/lib/gif_writer.h"

#include <algorithm>
#include <map>
#include <utility>

namespace zk::tools {

namespace {

constexpr int kLzwTableSize = 4096;

// The table size field of a palette of `entries` entries, and the padded
// entry count it stands for.
std::pair<uint8_t, size_t> PaletteSizeField(size_t entries) {
    uint8_t field = 0;
    while ((size_t{2} << field) < entries && field < 7) ++field;
    return {field, size_t{2} << field};
}

}  // namespace

std::vector<int> EncodeGifLzw(int minimum_code_size, std::span<const uint8_t> indices) {
    const int clear = 1 << minimum_code_size;
    const int end = clear + 1;
    std::vector<int> codes{clear};
    std::map<std::pair<int, uint8_t>, int> table;
    int next = end + 1;
    if (indices.empty()) {
        codes.push_back(end);
        return codes;
    }
    int current = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        const uint8_t k = indices[i];
        auto found = table.find({current, k});
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        codes.push_back(current);
        table[{current, k}] = next++;
        if (next == kLzwTableSize) {
            codes.push_back(clear);
            table.clear();
            next = end + 1;
        }
        current = k;
    }
    codes.push_back(current);
    codes.push_back(end);
    return codes;
}

std::vector<uint8_t> PackGifCodes(int minimum_code_size, std::span<const int> codes) {
    const int clear = 1 << minimum_code_size;
    int next = clear + 2;
    int width = minimum_code_size + 1;
    int limit = 1 << width;
    std::vector<uint8_t> out;
    uint32_t buffer = 0;
    int bits = 0;
    for (int code : codes) {
        buffer |= uint32_t(code & ((1 << width) - 1)) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(buffer));
            buffer >>= 8;
            bits -= 8;
        }
        // The decoder's schedule, step by step.
        if (next < kLzwTableSize + 2) ++next;
        if (next > limit && width < 12) {
            limit <<= 1;
            ++width;
        }
        if (code == clear) {
            next = clear + 2;
            width = minimum_code_size + 1;
            limit = 1 << width;
        }
    }
    if (bits > 0) out.push_back(static_cast<uint8_t>(buffer));
    return out;
}

std::vector<uint8_t> GifSubBlocks(std::span<const uint8_t> data, size_t block_size) {
    block_size = std::clamp<size_t>(block_size, 1, 255);
    std::vector<uint8_t> out;
    for (size_t at = 0; at < data.size(); at += block_size) {
        size_t n = std::min(block_size, data.size() - at);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + at, data.begin() + at + n);
    }
    out.push_back(0);
    return out;
}

std::vector<uint8_t> InterlaceRows(std::span<const uint8_t> indices, int width, int height) {
    std::vector<uint8_t> out;
    out.reserve(indices.size());
    const int passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    for (const auto& pass : passes) {
        for (int row = pass[0]; row < height; row += pass[1]) {
            auto first = indices.begin() + size_t(row) * size_t(width);
            out.insert(out.end(), first, first + width);
        }
    }
    return out;
}

void GifWriter::Palette(std::span<const uint8_t> palette) {
    auto [field, entries] = PaletteSizeField(palette.size() / 3);
    (void)field;
    bytes_.insert(bytes_.end(), palette.begin(), palette.end());
    bytes_.resize(bytes_.size() + entries * 3 - palette.size(), 0);
}

GifWriter& GifWriter::Header(uint16_t width, uint16_t height, std::span<const uint8_t> palette,
                             std::string_view signature) {
    bytes_.insert(bytes_.end(), signature.begin(), signature.end());
    bytes_.push_back(static_cast<uint8_t>(width));
    bytes_.push_back(static_cast<uint8_t>(width >> 8));
    bytes_.push_back(static_cast<uint8_t>(height));
    bytes_.push_back(static_cast<uint8_t>(height >> 8));
    uint8_t packed = 0x70;  // 8 bits of colour resolution
    if (!palette.empty()) packed |= 0x80 | PaletteSizeField(palette.size() / 3).first;
    bytes_.push_back(packed);
    bytes_.push_back(0);  // background
    bytes_.push_back(0);  // aspect
    if (!palette.empty()) Palette(palette);
    return *this;
}

GifWriter& GifWriter::GraphicControl(int disposal, bool transparent, uint16_t delay, uint8_t transparent_index) {
    uint8_t packed = static_cast<uint8_t>(((disposal & 7) << 2) | (transparent ? 1 : 0));
    return Extension(0xF9, {{packed, static_cast<uint8_t>(delay), static_cast<uint8_t>(delay >> 8), transparent_index}});
}

GifWriter& GifWriter::Looping(uint16_t loop_count) {
    std::vector<uint8_t> identifier{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    return Extension(0xFF, {identifier, {1, static_cast<uint8_t>(loop_count), static_cast<uint8_t>(loop_count >> 8)}});
}

GifWriter& GifWriter::Extension(uint8_t label, const std::vector<std::vector<uint8_t>>& sub_blocks) {
    bytes_.push_back(0x21);
    bytes_.push_back(label);
    for (const std::vector<uint8_t>& block : sub_blocks) {
        bytes_.push_back(static_cast<uint8_t>(block.size()));
        bytes_.insert(bytes_.end(), block.begin(), block.end());
    }
    bytes_.push_back(0);
    return *this;
}

void GifWriter::Descriptor(const GifImageDescriptor& d) {
    bytes_.push_back(0x2C);
    for (uint16_t v : {d.left, d.top, d.width, d.height}) {
        bytes_.push_back(static_cast<uint8_t>(v));
        bytes_.push_back(static_cast<uint8_t>(v >> 8));
    }
    uint8_t packed = d.interlaced ? 0x40 : 0;
    if (!d.local_palette.empty()) packed |= 0x80 | PaletteSizeField(d.local_palette.size() / 3).first;
    bytes_.push_back(packed);
    if (!d.local_palette.empty()) Palette(d.local_palette);
}

GifWriter& GifWriter::Image(const GifImageDescriptor& descriptor, std::span<const uint8_t> indices) {
    std::vector<uint8_t> ordered(indices.begin(), indices.end());
    if (descriptor.interlaced) ordered = InterlaceRows(indices, descriptor.width, descriptor.height);
    std::vector<int> codes = EncodeGifLzw(descriptor.minimum_code_size, ordered);
    return ImageCodes(descriptor, codes);
}

GifWriter& GifWriter::ImageCodes(const GifImageDescriptor& descriptor, std::span<const int> codes, size_t block_size) {
    std::vector<uint8_t> data = GifSubBlocks(PackGifCodes(descriptor.minimum_code_size, codes), block_size);
    return ImageData(descriptor, data);
}

GifWriter& GifWriter::ImageData(const GifImageDescriptor& descriptor, std::span<const uint8_t> data) {
    Descriptor(descriptor);
    bytes_.push_back(static_cast<uint8_t>(descriptor.minimum_code_size));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
}

GifWriter& GifWriter::Raw(std::span<const uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

GifWriter& GifWriter::Trailer() {
    bytes_.push_back(0x3B);
    return *this;
}

}  // namespace zk::tools
