// The per-byte arithmetic of the two bilinear scalers, for given weights
// (fx, fy in 0..256), written out from their definitions for the tests to
// compare against.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace zk::renderer_test {

using Pixel = std::array<uint8_t, 4>;  // B, G, R and the fourth byte

// ScaleBilinear: each row mixed and rounded down, then the two rows.
inline Pixel PlainMix(Pixel p00, Pixel p01, Pixel p10, Pixel p11, uint32_t fx, uint32_t fy) {
    Pixel out;
    for (int k = 0; k < 4; ++k) {
        const uint32_t top = (p00[k] * (256 - fx) + p01[k] * fx) >> 8;
        const uint32_t bottom = (p10[k] * (256 - fx) + p11[k] * fx) >> 8;
        out[k] = uint8_t((top * (256 - fy) + bottom * fy) >> 8);
    }
    return out;
}

// ScaleBilinearThreaded: the rows kept at 16 bits, each weighted product
// rounded down, the sum saturated.
inline Pixel ThreadedMix(Pixel p00, Pixel p01, Pixel p10, Pixel p11, uint32_t fx, uint32_t fy) {
    Pixel out;
    for (int k = 0; k < 4; ++k) {
        const uint32_t h0 = p00[k] * (256 - fx) + p01[k] * fx;
        const uint32_t h1 = p10[k] * (256 - fx) + p11[k] * fx;
        out[k] = uint8_t(std::min<uint32_t>(255, ((h0 * (256 - fy)) >> 16) + ((h1 * fy) >> 16)));
    }
    return out;
}

}  // namespace zk::renderer_test
