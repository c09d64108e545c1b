// The per-byte and per-pixel arithmetic of the pixel kernels, shared by the
// plain set and by the scalar heads and tails of the SSE set, so that both
// compute exactly what the kernel table promises. README-kernels.md says
// why each rounding is what it is.
//
// Products are taken in 64 bits: opacities reach the kernels unclamped from
// script values, and no input may overflow a signed product. A result is
// stored as its low byte, as a byte store keeps it.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zk::pixel_math {

inline uint8_t ToByte(int64_t value) { return static_cast<uint8_t>(value); }
// For results that can leave 0..255 and must not wrap.
inline uint8_t SaturateByte(int64_t value) { return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value)); }
inline int Sat(int a, int b) { return std::min(a + b, 255); }

// Bytes of a row that lie in whole 8-byte groups (two pixels) counted from
// the row's start, and in whole pixels. Several kernels round differently
// inside and outside the groups; the groups are always counted from the
// row's start, never from an aligned address, so results do not depend on
// where the row lies in memory.
inline int64_t GroupEnd(int64_t count) { return count & ~int64_t{7}; }
inline int64_t PixelEnd(int64_t count) { return count & ~int64_t{3}; }

inline int64_t Product255(int x, int y) { return int64_t{x} * y / 255; }  // the product table P[x][y]
inline int64_t AlphaRatio(int c, int k) { return c == 0 ? 0 : int64_t{k} * 256 / c; }  // R[c][k]

// Slots 11 and 15: d moves t / 256 of the way to s. At t = 128 the plain
// set halves both bytes first, the SSE set takes the rounded average; above
// 128 the groups use the complement form.
template <bool kRoundedHalf>
inline uint8_t CrossfadeByte(int d, int s, int64_t t, bool in_group) {
    if (t == 128) return kRoundedHalf ? ToByte((d + s + 1) >> 1) : ToByte((d >> 1) + (s >> 1));
    if (t > 128 && in_group) return ToByte(s + (((d - s) * (256 - t)) >> 8));
    return ToByte(d + (((s - d) * t) >> 8));
}

// Slots 12 and 13 in the 8-byte groups, weight a (0..255): all four bytes.
inline uint8_t AlphaOverGroupPlain(int d, int s, int64_t a) { return ToByte((d * (256 - a) + s * (a + 1)) >> 8); }
inline uint8_t AlphaOverGroupSse(int d, int s, int64_t a) {
    int64_t source_part = std::clamp<int64_t>((s * (a + 1)) >> 8, 0, 255);
    int64_t destination_part = std::clamp<int64_t>((d * (256 - a)) >> 8, 0, 255);
    return ToByte(std::min<int64_t>(source_part + destination_part, 255));
}
// The pixel left after the groups (odd pixel count), colour bytes only.
inline uint8_t AlphaOverTailSlot12(int d, int s, int64_t a) { return ToByte(d + (((s - d) * (a + 1)) >> 8)); }
inline uint8_t AlphaOverTailSlot13(int d, int s, int64_t a) {
    return ToByte(((d * (256 - a)) >> 8) + (((a + 1) * s) >> 8));
}
inline int64_t ScaledAlpha(int64_t opacity, int a) { return (opacity * a) >> 8; }

// Slot 14: a mask weight w moves the colour w / 256 of the way to the source.
inline uint8_t MaskedByte(int d, int s, int64_t w) { return ToByte(d - ((w * (d - s)) >> 8)); }

// Slot 17: inside the groups the scaled source is added with saturation,
// outside them the destination moves toward the saturated sum.
inline uint8_t AddOpacityGroup(int d, int s, int64_t o) { return ToByte(std::min<int64_t>(d + ((s * o) >> 8), 255)); }
inline uint8_t AddOpacityTail(int d, int s, int64_t o) { return ToByte(d + ((o * (Sat(d, s) - d)) >> 8)); }

// Slots 18 and 19: the colour moves toward the saturated sum by weight w.
inline uint8_t AddWeighted(int d, int s, int64_t w) { return ToByte(d + (((Sat(d, s) - d) * w) >> 8)); }

// Slot 21: whole pixels use (d * (s + 1)) >> 8, stray bytes the multiply table.
inline uint8_t MultiplyPixelByte(int d, int s) { return ToByte((d * (s + 1)) >> 8); }
inline uint8_t MultiplyTableByte(int d, int s) { return ToByte(Product255(s, d)); }

// Slots 22 and 23: screen, by the product approximation in the groups and
// by the screen table (s + d - P[s][d]) elsewhere.
inline uint8_t ScreenGroupByte(int d, int s) { return ToByte(std::clamp(d + s - ((d * (s + 1)) >> 8), 0, 255)); }
inline int ScreenTable(int d, int s) { return s + d - static_cast<int>(Product255(s, d)); }
inline uint8_t ScreenOpacityByte(int d, int s, int64_t o) { return ToByte(d + (((ScreenTable(d, s) - d) * o) >> 8)); }

inline uint8_t LinearBurnByte(int d, int s) { return ToByte(std::max(d + s - 255, 0)); }
inline uint8_t LinearLightByte(int d, int s) { return ToByte(std::clamp(d + 2 * s - 256, 0, 255)); }

}  // namespace zk::pixel_math
