#include "layers/blend_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "layers/blend_kernels.h"
#include "layers/blend_lookup_tables.h"

namespace zk {

namespace {

// P[x][y] = x * y / 255, rounded down: the screen, exclusion, overlay and
// hard-light tables read it so their products match the alpha kernels'.
int Product(int x, int y) { return TheBlendLookupTables().alpha_div255[x][y + 255]; }

int Clamp255(int v) { return std::clamp(v, 0, 255); }

int SoftLight(int s, int d) {
    constexpr double kK = 16384.0;
    double root = std::sqrt(static_cast<double>(256 - d));
    if (s < 128) {
        int v = static_cast<int>(kK - root);
        return Clamp255(d + (((s - 128) * v) >> 15));
    }
    if (d <= 32) {
        int v = static_cast<int>(kK - (768 - 8 * d) * root);
        return Clamp255(d + (((s - 128) * v) >> 15));
    }
    int v = static_cast<int>(kK - root);
    return Clamp255(d + (((s - 128) * v) >> 16));
}

// Divisions are C++ integer divisions, which truncate towards zero as the
// formulas ask (vivid light's numerator can be negative).
int ModeValue(BlendMode mode, int s, int d) {
    switch (mode) {
    case BlendMode::kNormal: return s;
    case BlendMode::kAdd: return std::min(d + s, 255);
    case BlendMode::kSubtract: return std::max(s - d, 0);
    case BlendMode::kMultiply: return s * d / 255;
    case BlendMode::kDivide:
        if (d == 0) return s > 0 ? 255 : 0;
        return std::min(255 * s / d, 255);
    case BlendMode::kScreen: return s + d - Product(s, d);
    case BlendMode::kLighten: return std::max(s, d);
    case BlendMode::kDarken: return std::min(s, d);
    case BlendMode::kDifference: return std::abs(s - d);
    case BlendMode::kExclusion: return s + d - 2 * Product(s, d);
    case BlendMode::kOverlay:
        if (d < 128) return Product(s, 2 * d);
        if (d == 128) return s;
        return 2 * d - 257 + Product(s, 512 - 2 * d);
    case BlendMode::kColourDodge: return std::min(256 * d / (256 - s), 255);
    case BlendMode::kColourBurn: return std::max(255 - 256 * (255 - d) / (s + 1), 0);
    case BlendMode::kLinearBurn: return std::max(s + d - 255, 0);
    case BlendMode::kHardLight:
        if (s < 128) return Product(d, 2 * s);
        if (s == 128) return d;
        return 2 * s - 257 + Product(d, 512 - 2 * s);
    case BlendMode::kSoftLight: return SoftLight(s, d);
    case BlendMode::kVividLight:
        if (s == 0) return 0;
        if (s < 128) return std::max((510 * s - 65025 + 255 * d) / (2 * s), 0);
        if (s < 255) return std::min(255 * d / (510 - 2 * s), 255);
        return 255;
    case BlendMode::kLinearLight: return Clamp255(2 * s + d - 256);
    case BlendMode::kPinLight: return s < 128 ? std::min(d, 2 * s) : std::max(d, 2 * s - 255);
    }
    return s;
}

}  // namespace

void BuildBlendTables() {
    FillBlendKernelTables();
    // The product table is read below; filling it again is cheap and
    // removes any dependence on the order of the start-up calls.
    FillBlendLookupTables();

    BlendLookupTables& t = TheBlendLookupTables();
    for (auto& row : t.alpha_ratio) row.fill(0);
    for (int c = 1; c < 256; ++c)
        for (int k = 0; k < 256; ++k) t.alpha_ratio[c][k] = static_cast<uint16_t>(k * 256 / c);

    for (int i = 0; i < 511; ++i) {
        t.clamped_add[i] = static_cast<uint8_t>(std::min(i, 255));
        t.clamped_subtract[i] = static_cast<uint8_t>(std::max(i - 255, 0));
    }

    for (int m = 0; m < kBlendModeCount; ++m) t.mode[m].fill(0);
    for (int m = static_cast<int>(BlendMode::kMultiply); m < kBlendModeCount; ++m) {
        auto mode = static_cast<BlendMode>(m);
        uint8_t* table = t.mode[m].data();
        for (int s = 0; s < 256; ++s)
            for (int d = 0; d < 256; ++d) table[s * 256 + d] = static_cast<uint8_t>(ModeValue(mode, s, d));
    }
}

}  // namespace zk
