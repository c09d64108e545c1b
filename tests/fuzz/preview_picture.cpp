// The screen saver's preview picture over arbitrary bytes: a picture is
// given only with a size that its pixels fill.
#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/preview_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<zk::PreviewPicture> picture = zk::ParsePreviewPicture(std::span<const uint8_t>(data, size));
    if (picture) {
        if (picture->width <= 0 || picture->height <= 0) __builtin_trap();
        if (picture->pixels.size() != size_t(picture->width) * size_t(picture->height)) __builtin_trap();
        if (54 + size_t(picture->width) * 3 * size_t(picture->height) > size) __builtin_trap();
    }
    return 0;
}
