#include "platform/png_snapshot.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace zk::platform {

namespace {
// Larger pictures are refused rather than half-allocated; no screen comes
// near it, and the row stride stays within libpng's signed 32 bits.
constexpr uint64_t kMaxSnapshotPixels = uint64_t{1} << 28;
}  // namespace

bool WriteBgrxPng(const std::string& path, int32_t width, int32_t height, std::span<const uint8_t> pixels,
                  size_t pitch) {
    if (width <= 0 || height <= 0) return false;
    if (uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) > kMaxSnapshotPixels) return false;
    const size_t row_bytes = static_cast<size_t>(width) * 4;
    if (pitch < row_bytes) return false;
    // The last row needs only its own bytes, not a whole pitch.
    if ((pixels.size() < row_bytes) || (static_cast<size_t>(height) - 1 > (pixels.size() - row_bytes) / pitch))
        return false;

    // libpng's simplified writer keeps its error recovery to itself (no
    // longjmp through this code); it takes packed B, G, R rows.
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* from = pixels.data() + pitch * static_cast<size_t>(y);
        uint8_t* to = bgr.data() + static_cast<size_t>(width) * 3 * static_cast<size_t>(y);
        for (int32_t x = 0; x < width; ++x) std::memcpy(to + x * 3, from + x * 4, 3);
    }

    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_BGR;
    const int written = png_image_write_to_file(&image, path.c_str(), 0, bgr.data(), width * 3, nullptr);
    png_image_free(&image);
    if (written == 0) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool WriteWindowPng(WindowSystem& windows, WindowHandle window, const std::string& path) {
    ClientImage image;
    if (!windows.ReadClientPixels(window, image)) return false;
    return WriteBgrxPng(path, image.width, image.height, image.pixels, static_cast<size_t>(image.width) * 4);
}

}  // namespace zk::platform
