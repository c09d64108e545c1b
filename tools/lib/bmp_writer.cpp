#include "tools/lib/bmp_writer.h"

#include <algorithm>
#include <cstdlib>

#include "tools/lib/byte_writer.h"

namespace zk::tools {

uint32_t BmpStride(int32_t width, uint16_t bit_count) {
    uint64_t bits = uint64_t(width < 0 ? 0 : width) * bit_count;
    return static_cast<uint32_t>(((bits + 31) / 32) * 4);
}

namespace {

void PutRow(std::vector<uint8_t>& row, const BmpImage& image, const uint32_t* values) {
    for (int32_t x = 0; x < image.width; ++x) {
        uint32_t v = values[x];
        switch (image.bit_count) {
            case 1: row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
            case 4: row[x / 2] |= static_cast<uint8_t>((v & 0x0F) << (x % 2 == 0 ? 4 : 0)); break;
            case 8: row[x] = static_cast<uint8_t>(v); break;
            case 16: {
                uint16_t p = static_cast<uint16_t>(((v >> 19) & 0x1F) << 10 | ((v >> 11) & 0x1F) << 5 | ((v >> 3) & 0x1F));
                row[x * 2] = static_cast<uint8_t>(p);
                row[x * 2 + 1] = static_cast<uint8_t>(p >> 8);
                break;
            }
            case 24:
                row[x * 3 + 0] = static_cast<uint8_t>(v);
                row[x * 3 + 1] = static_cast<uint8_t>(v >> 8);
                row[x * 3 + 2] = static_cast<uint8_t>(v >> 16);
                break;
            case 32:
                for (int i = 0; i < 4; ++i) row[x * 4 + i] = static_cast<uint8_t>(v >> (8 * i));
                break;
            default: break;
        }
    }
}

}  // namespace

std::vector<uint8_t> BuildBmp(const BmpImage& image) {
    const uint32_t rows = static_cast<uint32_t>(std::abs(int64_t{image.height}));
    const uint32_t stride = BmpStride(image.width, image.bit_count);
    const uint32_t palette_bytes = static_cast<uint32_t>(image.palette.size() * 4);
    const uint32_t data_offset = static_cast<uint32_t>(kBmpHeadersBytes) + palette_bytes;
    const uint32_t data_bytes = stride * rows;

    ByteWriter out;
    out.U8('B');
    out.U8('M');
    out.U32(data_offset + data_bytes);
    out.U32(0);
    out.U32(data_offset);
    out.U32(40);
    out.I32(image.width);
    out.I32(image.height);
    out.U16(1);
    out.U16(image.bit_count);
    out.U32(image.compression);
    out.U32(data_bytes);
    out.I32(2835);
    out.I32(2835);
    out.U32(image.colours_used.value_or(0));
    out.U32(0);
    for (uint32_t colour : image.palette) out.U32(colour & 0x00FFFFFF);

    std::vector<uint8_t> row(stride);
    for (uint32_t j = 0; j < rows; ++j) {
        // File row j is image row rows - 1 - j, unless the file is top-down.
        uint32_t image_row = image.height < 0 ? j : rows - 1 - j;
        std::fill(row.begin(), row.end(), 0);
        size_t first = size_t(image_row) * size_t(image.width);
        if (first + size_t(image.width) <= image.values.size()) PutRow(row, image, image.values.data() + first);
        out.Bytes(row);
    }
    return out.Take();
}

}  // namespace zk::tools
