// The plain kernel set: one scalar loop per slot, written straight from the
// formulas. It is the reference the SSE set is measured against.
#include <cstring>

#include "layers/mask_opacity_ramp.h"
#include "layers/pixel_kernel_math.h"
#include "layers/pixel_kernels.h"

namespace zk {

namespace pm = pixel_math;

namespace {

void ZeroBytesPlain(uint8_t* row, int64_t count) {
    if (count > 0) std::memset(row, 0, size_t(count));
}

void FillBytesPlain(uint8_t* row, int64_t count, uint8_t value) {
    if (count > 0) std::memset(row, value, size_t(count));
}

void FillCellsPlain(uint8_t* row, int64_t count, uint32_t value) {
    for (int64_t i = 0; i + 4 <= count; i += 4) {
        row[i] = uint8_t(value);
        row[i + 1] = uint8_t(value >> 8);
        row[i + 2] = uint8_t(value >> 16);
        row[i + 3] = uint8_t(value >> 24);
    }
}

void CopyBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    if (count > 0) std::memmove(dst, src, size_t(count));
}

void CrossfadeBytesPlain(uint8_t* dst, const uint8_t* src, int32_t t, int64_t count) {
    int64_t groups = pm::GroupEnd(count);
    for (int64_t i = 0; i < count; ++i) dst[i] = pm::CrossfadeByte<false>(dst[i], src[i], t, i < groups);
}

void AlphaOverBgraPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    int64_t groups = pm::GroupEnd(count);
    for (int64_t i = 0; i < groups; i += 4) {
        int a = src[i + 3];
        for (int c = 0; c < 4; ++c) dst[i + c] = pm::AlphaOverGroupPlain(dst[i + c], src[i + c], a);
    }
    if (pm::PixelEnd(count) > groups) {
        int a = src[groups + 3];
        for (int c = 0; c < 3; ++c) dst[groups + c] = pm::AlphaOverTailSlot12(dst[groups + c], src[groups + c], a);
    }
}

void AlphaOverOpacityBgraPlain(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    int64_t groups = pm::GroupEnd(count);
    for (int64_t i = 0; i < groups; i += 4) {
        int64_t a = pm::ScaledAlpha(o, src[i + 3]);
        for (int c = 0; c < 4; ++c) dst[i + c] = pm::AlphaOverGroupPlain(dst[i + c], src[i + c], a);
    }
    if (pm::PixelEnd(count) > groups) {
        int64_t a = pm::ScaledAlpha(o, src[groups + 3]);
        for (int c = 0; c < 3; ++c) dst[groups + c] = pm::AlphaOverTailSlot13(dst[groups + c], src[groups + c], a);
    }
}

void MaskedOverBgraPlain(uint8_t* dst, const uint8_t* src, const uint8_t* mask, int32_t, int32_t, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    for (int64_t i = 0; i < pixels_end; i += 4) {
        int64_t w = MaskOpacityRamp[mask[i]];
        if (w <= 1) continue;
        for (int c = 0; c < 3; ++c) dst[i + c] = pm::MaskedByte(dst[i + c], src[i + c], w);
    }
}

void MixBytesPlain(uint8_t* out, const uint8_t* first, const uint8_t* second, int32_t t, int64_t count) {
    int64_t groups = pm::GroupEnd(count);
    for (int64_t i = 0; i < count; ++i) out[i] = pm::CrossfadeByte<false>(first[i], second[i], t, i < groups);
}

void AddBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    for (int64_t i = 0; i < count; ++i) dst[i] = uint8_t(pm::Sat(dst[i], src[i]));
}

void AddOpacityBytesPlain(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    int64_t groups = pm::GroupEnd(count);
    for (int64_t i = 0; i < groups; ++i) dst[i] = pm::AddOpacityGroup(dst[i], src[i], o);
    for (int64_t i = groups; i < count; ++i) dst[i] = pm::AddOpacityTail(dst[i], src[i], o);
}

void AddAlphaBgraPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    for (int64_t i = 0; i < pixels_end; i += 4) {
        int64_t w = src[i + 3] + 1;
        for (int c = 0; c < 3; ++c) dst[i + c] = pm::AddWeighted(dst[i + c], src[i + c], w);
    }
}

void AddAlphaOpacityBgraPlain(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    for (int64_t i = 0; i < pixels_end; i += 4) {
        int64_t w = (int64_t{o} * (src[i + 3] + 1)) >> 8;
        for (int c = 0; c < 3; ++c) dst[i + c] = pm::AddWeighted(dst[i + c], src[i + c], w);
    }
}

void ReverseSubtractBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    for (int64_t i = 0; i < count; ++i) dst[i] = uint8_t(std::max(src[i] - dst[i], 0));
}

void MultiplyBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    for (int64_t i = 0; i < pixels_end; ++i) dst[i] = pm::MultiplyPixelByte(dst[i], src[i]);
    for (int64_t i = pixels_end; i < count; ++i) dst[i] = pm::MultiplyTableByte(dst[i], src[i]);
}

void ScreenBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    int64_t groups = pm::GroupEnd(count);
    for (int64_t i = 0; i < groups; ++i) dst[i] = pm::ScreenGroupByte(dst[i], src[i]);
    for (int64_t i = groups; i < count; ++i) dst[i] = pm::ToByte(pm::ScreenTable(dst[i], src[i]));
}

void ScreenOpacityBytesPlain(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    for (int64_t i = 0; i < count; ++i) dst[i] = pm::ScreenOpacityByte(dst[i], src[i], o);
}

void LightenBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    for (int64_t i = 0; i < count; ++i) dst[i] = std::max(dst[i], src[i]);
}

void DarkenBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    for (int64_t i = 0; i < count; ++i) dst[i] = std::min(dst[i], src[i]);
}

void LinearBurnBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    for (int64_t i = 0; i < count; ++i) dst[i] = pm::LinearBurnByte(dst[i], src[i]);
}

void LinearLightBytesPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    for (int64_t i = 0; i < count; ++i) dst[i] = pm::LinearLightByte(dst[i], src[i]);
}

void ReservedKernelSlot() {}

// The alpha-over-alpha family: the source (colour s, alpha sa) lands on a
// destination with its own alpha da; the new alpha is stored and the colour
// moves by the share of the new alpha the source brought.
void AlphaOverAlphaPixel(uint8_t* d, const uint8_t* s) {
    int da = d[3], sa = s[3];
    uint8_t combined = pm::ToByte(da + sa - pm::Product255(da, sa));
    int64_t r = pm::AlphaRatio(combined, sa);
    for (int c = 0; c < 3; ++c) d[c] = pm::ToByte(d[c] + (((s[c] - d[c]) * r) >> 8));
    d[3] = combined;
}

void AlphaOverAlphaBgraPlain(uint8_t* dst, const uint8_t* src, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    for (int64_t i = 0; i < pixels_end; i += 4) AlphaOverAlphaPixel(dst + i, src + i);
}

void AlphaOverAlphaSourceOpacityBgraPlain(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    for (int64_t i = 0; i < pixels_end; i += 4) {
        uint8_t* d = dst + i;
        const uint8_t* s = src + i;
        int da = d[3], sa = s[3];
        uint8_t combined = pm::ToByte(da + (((sa - pm::Product255(da, sa)) * o) >> 8));
        int64_t f = int64_t{o} * pm::AlphaRatio(combined, sa);
        // The ratio can exceed 256 when the opacity thins the new alpha, so the
        // colour can overshoot the source: saturate rather than wrap to black.
        for (int c = 0; c < 3; ++c) d[c] = pm::SaturateByte(d[c] + (((s[c] - d[c]) * f) >> 16));
        d[3] = combined;
    }
}

void AlphaOverAlphaDestinationOpacityBgraPlain(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    for (int64_t i = 0; i < pixels_end; i += 4) {
        dst[i + 3] = pm::ToByte((int64_t{o} * dst[i + 3]) >> 8);
        AlphaOverAlphaPixel(dst + i, src + i);
    }
}

void AlphaOverAlphaBothOpacityBgraPlain(uint8_t* dst, const uint8_t* src, int32_t o, int32_t p, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    for (int64_t i = 0; i < pixels_end; i += 4) {
        uint8_t* d = dst + i;
        const uint8_t* s = src + i;
        int64_t sa = s[3];
        int64_t da = (int64_t{o} * d[3]) >> 8;
        int64_t combined = da + ((p * (sa - ((da * (sa + 1)) >> 8))) >> 8);
        int64_t divisor = combined + 1;
        if (divisor != 0) {  // always, for opacities in 0..256, where combined >= 0
            for (int c = 0; c < 3; ++c) {
                d[c] = pm::ToByte(d[c] + ((((int64_t{s[c]} - d[c]) * p) >> 8) * sa) / divisor);
            }
        }
        d[3] = pm::ToByte(combined);
    }
}

constexpr PixelKernelTable kPlainSet = {
    ZeroBytesPlain,
    FillBytesPlain,
    FillCellsPlain,
    CopyBytesPlain,
    CrossfadeBytesPlain,
    AlphaOverBgraPlain,
    AlphaOverOpacityBgraPlain,
    MaskedOverBgraPlain,
    MixBytesPlain,
    AddBytesPlain,
    AddOpacityBytesPlain,
    AddAlphaBgraPlain,
    AddAlphaOpacityBgraPlain,
    ReverseSubtractBytesPlain,
    MultiplyBytesPlain,
    ScreenBytesPlain,
    ScreenOpacityBytesPlain,
    LightenBytesPlain,
    DarkenBytesPlain,
    LinearBurnBytesPlain,
    LinearLightBytesPlain,
    ReservedKernelSlot,
    AlphaOverAlphaBgraPlain,
    AlphaOverAlphaSourceOpacityBgraPlain,
    AlphaOverAlphaDestinationOpacityBgraPlain,
    AlphaOverAlphaBothOpacityBgraPlain,
};

}  // namespace

// Constant-initialised, so the table works before any constructor runs.
constinit PixelKernelTable PixelKernels = kPlainSet;

const PixelKernelTable& PlainPixelKernelSet() { return kPlainSet; }

}  // namespace zk
