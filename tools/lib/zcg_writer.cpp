#include "tools/lib/zcg_writer.h"

#include <snappy-c.h>
#include <webp/encode.h>
#include <zlib.h>

#include "tools/lib/byte_writer.h"

namespace zk::tools {

namespace {

bool PackBand(ZcgBandKind kind, std::span<const uint8_t> band, int32_t width, int32_t rows,
              std::vector<uint8_t>& out) {
    switch (kind) {
        case ZcgBandKind::kRaw: out.assign(band.begin(), band.end()); return true;
        case ZcgBandKind::kZlib: {
            uLongf length = compressBound(band.size());
            out.resize(length);
            if (compress2(out.data(), &length, band.data(), band.size(), 9) != Z_OK) return false;
            out.resize(length);
            return true;
        }
        case ZcgBandKind::kSnappy: {
            size_t length = snappy_max_compressed_length(band.size());
            out.resize(length);
            if (snappy_compress(reinterpret_cast<const char*>(band.data()), band.size(),
                                reinterpret_cast<char*>(out.data()), &length) != SNAPPY_OK) {
                return false;
            }
            out.resize(length);
            return true;
        }
        case ZcgBandKind::kWebp: {
            if (rows <= 0) return false;
            // Lossless and exact: the colour of a transparent pixel is kept too.
            WebPConfig config;
            if (!WebPConfigInit(&config)) return false;
            config.lossless = 1;
            config.exact = 1;
            WebPPicture picture;
            if (!WebPPictureInit(&picture)) return false;
            picture.use_argb = 1;
            picture.width = width;
            picture.height = rows;
            WebPMemoryWriter writer;
            WebPMemoryWriterInit(&writer);
            picture.writer = WebPMemoryWrite;
            picture.custom_ptr = &writer;
            bool done = WebPPictureImportBGRA(&picture, band.data(), width * 4) && WebPEncode(&config, &picture);
            if (done) out.assign(writer.mem, writer.mem + writer.size);
            WebPPictureFree(&picture);
            WebPMemoryWriterClear(&writer);
            return done;
        }
    }
    return false;
}

}  // namespace

std::vector<uint8_t> BuildZcg(const ZcgImage& image) {
    const int32_t top_rows = image.top_rows.value_or(image.height / 2);
    const size_t row_bytes = size_t(image.width) * 4;
    const size_t top_bytes = row_bytes * size_t(top_rows);
    if (top_rows < 0 || top_rows > image.height || image.pixels.size() != row_bytes * size_t(image.height)) return {};
    std::vector<uint8_t> part1, part2;
    if (!PackBand(image.kind, image.pixels.first(top_bytes), image.width, top_rows, part1) ||
        !PackBand(image.kind, image.pixels.subspan(top_bytes), image.width, image.height - top_rows, part2)) {
        return {};
    }

    ByteWriter out;
    out.Bytes(std::string_view("ZCG\0", 4));
    out.I32(image.width);
    out.I32(image.height);
    out.U32(0);
    out.U32(static_cast<uint32_t>(image.kind));
    for (int i = 0; i < 3; ++i) out.U32(0);
    out.U32(static_cast<uint32_t>(top_bytes));
    out.U32(static_cast<uint32_t>(part1.size()));
    out.U64(0);
    out.U32(static_cast<uint32_t>(image.pixels.size() - top_bytes));
    out.U32(static_cast<uint32_t>(part2.size()));
    out.Bytes(part1);
    out.Bytes(part2);
    return out.Take();
}

}  // namespace zk::tools
