// The WebP codec library over libwebp.
#include <webp/decode.h>

#include "images/image_codecs.h"

namespace zk {

namespace {

int32_t WebpGetInfo(const uint8_t* bytes, size_t byte_count, int32_t* width, int32_t* height) {
    if (bytes == nullptr) return 0;
    int w = 0, h = 0;
    if (!WebPGetInfo(bytes, byte_count, &w, &h)) return 0;
    *width = w;
    *height = h;
    return 1;
}

int32_t WebpDecode(const uint8_t* bytes, uint8_t* pixels, size_t byte_count, int32_t width, int32_t height) {
    if (bytes == nullptr || pixels == nullptr || width <= 0 || height <= 0) return 0;
    // The caller sized `pixels` for width x height; an image of any other
    // size would either leave part of it unwritten or not fit.
    int actual_width = 0, actual_height = 0;
    if (!WebPGetInfo(bytes, byte_count, &actual_width, &actual_height)) return 0;
    if (actual_width != width || actual_height != height) return 0;
    int stride = width * 4;
    size_t size = size_t(stride) * size_t(height);
    return WebPDecodeBGRAInto(bytes, byte_count, pixels, size, stride) != nullptr ? 1 : 0;
}

}  // namespace

const WebpCodecEntries& WebpCodecImplementation() {
    static const WebpCodecEntries entries{WebpGetInfo, WebpDecode};
    return entries;
}

}  // namespace zk
