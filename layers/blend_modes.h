// How a layer's pixels combine with what lies under it. The per-channel
// formula of each mode is in README-blend.md; the byte tables that hold
// them are built by BuildBlendTables (blend_tables.h).
#pragma once

#include <cstdint>

namespace zk {

// s is the layer's channel value, d the canvas's; both 0..255.
enum class BlendMode : uint8_t {
    kNormal = 0,        // s
    kAdd = 1,           // min(d + s, 255)
    kSubtract = 2,      // max(s - d, 0)
    kMultiply = 3,      // s * d / 255
    kDivide = 4,        // 255 * s / d, 255 for d = 0 < s
    kScreen = 5,        // s + d - s * d / 255
    kLighten = 6,       // max(s, d)
    kDarken = 7,        // min(s, d)
    kDifference = 8,    // |s - d|
    kExclusion = 9,     // s + d - 2 * (s * d / 255)
    kOverlay = 10,      // multiply or screen, by d
    kColourDodge = 11,  // 256 * d / (256 - s)
    kColourBurn = 12,   // 255 - 256 * (255 - d) / (s + 1)
    kLinearBurn = 13,   // max(s + d - 255, 0)
    kHardLight = 14,    // multiply or screen, by s
    kSoftLight = 15,    // d nudged by s, square-root curve
    kVividLight = 16,   // colour burn or dodge, by s
    kLinearLight = 17,  // clamp(2 * s + d - 256)
    kPinLight = 18,     // darken or lighten by 2 * s
};

constexpr int kBlendModeCount = 19;

// The mode a stored byte draws with. The byte is kept as the script set it
// (a later query reads it back), but a value past the last mode would index
// beyond the kernel tables, so it draws as normal.
constexpr BlendMode DrawnBlendMode(uint8_t stored) {
    return stored < kBlendModeCount ? static_cast<BlendMode>(stored) : BlendMode::kNormal;
}

}  // namespace zk
