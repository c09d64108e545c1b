// Reading and painting a CgImage's 32-bit pixels in tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>

#include "layers/cg_image.h"

namespace zk::layer_test {

using PixelFn = std::function<uint32_t(int64_t x, int64_t y)>;

// The pixel composition reads at (x, y).
inline uint32_t ReadPixel(const CgImage& image, int64_t x, int64_t y) {
    uint32_t v;
    std::memcpy(&v, image.current_pixels + (y * image.width + x) * 4, 4);
    return v;
}

// Fills the owned block, pixel by pixel.
inline void Paint(CgImage& image, const PixelFn& pixel) {
    for (int64_t y = 0; y < image.height; ++y)
        for (int64_t x = 0; x < image.width; ++x) {
            uint32_t v = pixel(x, y);
            std::memcpy(image.owned_block.data() + (y * image.width + x) * 4, &v, 4);
        }
}

}  // namespace zk::layer_test
