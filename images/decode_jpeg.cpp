// JPEG through libjpeg's IJG 6b interface, from memory. Each step that can
// raise a libjpeg error sets its own jump and keeps its state in the
// JpegDecode the caller owns (see jpeg_source.h).
#include <cstring>

#include "core/error_report.h"
#include "layers/cg_image.h"
#include "images/image_decoders.h"
#include "images/jpeg_source.h"
#include "base/never.h"

namespace zk {

namespace {

constexpr int32_t kJpegNotLoaded = -1;
constexpr int32_t kJpegLibraryError = -2;
constexpr int32_t kJpegRefused = -3;

struct JpegDecode {
    jpeg_decompress_struct info{};
    JpegErrorManager errors{};
    JpegMemorySource source{};
    bool created = false;
    JSAMPARRAY row = nullptr;  // one output row, in the library's image pool

    JpegDecode() = default;
    JpegDecode(const JpegDecode&) = delete;
    JpegDecode& operator=(const JpegDecode&) = delete;
    ~JpegDecode() {
        if (created) jpeg_destroy_decompress(&info);
    }
};

int32_t OpenJpeg(JpegDecode& decode, std::span<const uint8_t> bytes) {
    decode.info.err = InstallJpegErrors(decode.errors);
    if (setjmp(decode.errors.jump)) return kJpegLibraryError;
    jpeg_create_decompress(&decode.info);
    decode.created = true;
    InstallJpegMemorySource(&decode.info, decode.source, bytes);
    jpeg_read_header(&decode.info, TRUE);
#ifdef JCS_EXTENSIONS
    // Colour images come out of the library as B, G, R, A (alpha 0xFF),
    // straight into the layer's rows: the same values as R, G, B reordered
    // here, without a second pass over the image.
    if (decode.info.out_color_space == JCS_RGB) decode.info.out_color_space = JCS_EXT_BGRA;
#endif
    // The output size is known before any image buffer is made, so that a
    // size the engine refuses costs nothing.
    jpeg_calc_output_dimensions(&decode.info);
    return 0;
}

int32_t StartJpeg(JpegDecode& decode) {
    if (setjmp(decode.errors.jump)) return kJpegLibraryError;
    jpeg_start_decompress(&decode.info);
    JDIMENSION row_bytes = decode.info.output_width * decode.info.output_components + 16;
    decode.row = (*decode.info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decode.info), JPOOL_IMAGE,
                                                  row_bytes, 1);
    return 0;
}

int32_t ReadJpegRows(JpegDecode& decode, uint8_t* pixels) {
    if (setjmp(decode.errors.jump)) return kJpegLibraryError;
    jpeg_decompress_struct& info = decode.info;
    const size_t stride = size_t(info.output_width) * 4;
    while (info.output_scanline < info.output_height) {
        JDIMENSION y = info.output_scanline;
#ifdef JCS_EXTENSIONS
        if (info.out_color_space == JCS_EXT_BGRA) {
            JSAMPROW out = pixels + stride * y;
            // A memory source does not suspend.
            if (ZK_NEVER(jpeg_read_scanlines(&info, &out, 1) != 1)) return kJpegLibraryError;
            continue;
        }
#endif
        // A memory source does not suspend.
        if (ZK_NEVER(jpeg_read_scanlines(&info, decode.row, 1) != 1)) return kJpegLibraryError;
        ConvertJpegRow(info, decode.row[0], pixels + stride * y);
    }
    jpeg_finish_decompress(&info);
    return 0;
}

}  // namespace

int32_t DecodeJpegImage(FileSource& source, CgImage& image, std::string_view name) {
    std::vector<uint8_t> bytes;
    if (FetchFileSourceBytes(source, name, bytes) != 0) return kJpegNotLoaded;
    return DecodeJpegBytes(bytes, image, name);
}

int32_t DecodeJpegBytes(std::span<const uint8_t> bytes, CgImage& image, std::string_view name) {
    JpegDecode decode;
    if (OpenJpeg(decode, bytes) != 0) return kJpegLibraryError;
    const int64_t width = decode.info.output_width;
    const int64_t height = decode.info.output_height;
    if (!ImageSizeAcceptable(width, height)) {
        ReportImageSizeRefused(name);
        return kJpegRefused;
    }
    if (StartJpeg(decode) != 0) return kJpegLibraryError;
    // Start-up of the decompressor keeps the size it calculated.
    if (ZK_NEVER(decode.info.output_width != width || decode.info.output_height != height)) return kJpegLibraryError;
    if (!GiveImagePixels(image, static_cast<int32_t>(width), static_cast<int32_t>(height))) return kJpegRefused;
    return ReadJpegRows(decode, image.owned_block.data());
}

}  // namespace zk
