#include "layers/blend_kernels.h"

#include <utility>

#include "layers/blend_lookup_tables.h"
#include "layers/mask_opacity_ramp.h"
#include "layers/pixel_kernels.h"

namespace zk {

namespace {

BlendKernelTable kernel_table;

// F(s, d) of each mode. Normal needs no table; add and subtract read their
// 511-entry tables; every other mode its 256 x 256 table.
template <int M>
struct ModeFunction {
    const uint8_t* table = ModeTable(static_cast<BlendMode>(M));
    int operator()(int s, int d) const { return table[s * 256 + d]; }
};
template <>
struct ModeFunction<0> {
    int operator()(int s, int) const { return s; }
};
template <>
struct ModeFunction<1> {
    const uint8_t* table = TheBlendLookupTables().clamped_add.data();
    int operator()(int s, int d) const { return table[d + s]; }
};
template <>
struct ModeFunction<2> {
    const uint8_t* table = TheBlendLookupTables().clamped_subtract.data();
    int operator()(int s, int d) const { return table[s - d + 255]; }
};

inline uint8_t Toward(int d, int f, int32_t weight, int shift) {
    return static_cast<uint8_t>(d + (((f - d) * weight) >> shift));
}

// Full opacity, no alpha: every byte, alpha included, becomes F.
template <int M>
void BlendPlainFullRow(uint8_t* dst, const uint8_t* src, int32_t, int64_t count) {
    ModeFunction<M> f;
    for (int64_t i = 0; i < count; ++i) dst[i] = static_cast<uint8_t>(f(src[i], dst[i]));
}

// Opacity below full, no alpha: every byte moves o / 256 of the way to F.
template <int M>
void BlendPlainRow(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    ModeFunction<M> f;
    for (int64_t i = 0; i < count; ++i) dst[i] = Toward(dst[i], f(src[i], dst[i]), opacity, 8);
}

// With the source's alpha a the colour moves (a + 1) / 256 of the way (times
// the opacity below full); the canvas's alpha stays.
template <int M, bool kFull>
void BlendSourceAlphaRow(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    ModeFunction<M> f;
    for (int64_t i = 0; i + 4 <= count; i += 4) {
        int32_t w = src[i + 3] + 1;
        if constexpr (!kFull) w = (opacity * w) >> 8;
        for (int c = 0; c < 3; ++c) dst[i + c] = Toward(dst[i + c], f(src[i + c], dst[i + c]), w, 8);
    }
}

template <int M>
void BlendMaskRow(uint8_t* dst, const uint8_t* src, const uint8_t* mask, int32_t, int32_t, int64_t count) {
    ModeFunction<M> f;
    for (int64_t i = 0; i + 4 <= count; i += 4) {
        int32_t w = MaskOpacityRamp[mask[i]];
        if (w <= 1) continue;
        for (int c = 0; c < 3; ++c) dst[i + c] = Toward(dst[i + c], f(src[i + c], dst[i + c]), w, 8);
    }
}

template <int M>
void BlendMaskSourceAlphaRow(uint8_t* dst, const uint8_t* src, const uint8_t* mask, int32_t, int32_t,
                             int64_t count) {
    ModeFunction<M> f;
    for (int64_t i = 0; i + 4 <= count; i += 4) {
        int32_t w = MaskOpacityRamp[mask[i]];
        if (w <= 1) continue;
        // Normal weighs by a, the other modes by a + 1.
        w *= (M == 0) ? src[i + 3] : src[i + 3] + 1;
        for (int c = 0; c < 3; ++c) dst[i + c] = Toward(dst[i + c], f(src[i + c], dst[i + c]), w, 16);
    }
}

// Entries served by the pixel kernel table. The slot is read at every call,
// so the set installed at the time (plain or SSE) is the one that runs.
template <RowKernel PixelKernelTable::*kSlot>
void BlendSlotRow(uint8_t* dst, const uint8_t* src, int32_t, int64_t count) {
    (PixelKernels.*kSlot)(dst, src, count);
}
template <RowOpacityKernel PixelKernelTable::*kSlot>
void BlendSlotOpacityRow(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    (PixelKernels.*kSlot)(dst, src, opacity, count);
}
void BlendMaskedOverRow(uint8_t* dst, const uint8_t* src, const uint8_t* mask, int32_t level, int32_t softness,
                        int64_t count) {
    PixelKernels.masked_over(dst, src, mask, level, softness, count);
}

void BlendNothingRow(uint8_t*, const uint8_t*, int32_t, int64_t) {}
void BlendNothingMaskRow(uint8_t*, const uint8_t*, const uint8_t*, int32_t, int32_t, int64_t) {}

template <int M>
void FillMode(BlendKernelTable& t) {
    t.plain[2 * M] = BlendPlainRow<M>;
    t.plain[2 * M + 1] = BlendPlainFullRow<M>;
    t.source_alpha[2 * M] = BlendSourceAlphaRow<M, false>;
    t.source_alpha[2 * M + 1] = BlendSourceAlphaRow<M, true>;
    t.mask[2 * M] = BlendMaskRow<M>;
    t.mask[2 * M + 1] = BlendMaskRow<M>;
    t.mask_source_alpha[2 * M] = BlendMaskSourceAlphaRow<M>;
    t.mask_source_alpha[2 * M + 1] = BlendMaskSourceAlphaRow<M>;
}

template <int... Ms>
void FillModes(BlendKernelTable& t, std::integer_sequence<int, Ms...>) {
    (FillMode<Ms>(t), ...);
}

}  // namespace

const BlendKernelTable& TheBlendKernelTable() { return kernel_table; }

void FillBlendKernelTables() {
    BlendKernelTable& t = kernel_table;
    t.plain.fill(BlendNothingRow);
    t.source_alpha.fill(BlendNothingRow);
    t.mask.fill(BlendNothingMaskRow);
    t.mask_source_alpha.fill(BlendNothingMaskRow);
    FillModes(t, std::make_integer_sequence<int, kBlendModeCount>{});

    auto full = [](BlendMode m) { return 2 * static_cast<int>(m) + 1; };
    auto partial = [](BlendMode m) { return 2 * static_cast<int>(m); };
    using P = PixelKernelTable;
    t.plain[full(BlendMode::kNormal)] = BlendSlotRow<&P::copy_bytes>;
    t.plain[partial(BlendMode::kNormal)] = BlendSlotOpacityRow<&P::crossfade>;
    t.source_alpha[full(BlendMode::kNormal)] = BlendSlotRow<&P::alpha_over>;
    t.source_alpha[partial(BlendMode::kNormal)] = BlendSlotOpacityRow<&P::alpha_over_opacity>;
    t.mask[full(BlendMode::kNormal)] = BlendMaskedOverRow;
    t.plain[full(BlendMode::kAdd)] = BlendSlotRow<&P::add>;
    t.plain[partial(BlendMode::kAdd)] = BlendSlotOpacityRow<&P::add_opacity>;
    t.source_alpha[full(BlendMode::kAdd)] = BlendSlotRow<&P::add_alpha>;
    t.source_alpha[partial(BlendMode::kAdd)] = BlendSlotOpacityRow<&P::add_alpha_opacity>;
    t.plain[full(BlendMode::kSubtract)] = BlendSlotRow<&P::reverse_subtract>;
    t.plain[full(BlendMode::kMultiply)] = BlendSlotRow<&P::multiply>;
    t.plain[full(BlendMode::kScreen)] = BlendSlotRow<&P::screen>;
    t.plain[partial(BlendMode::kScreen)] = BlendSlotOpacityRow<&P::screen_opacity>;
    t.plain[full(BlendMode::kLighten)] = BlendSlotRow<&P::lighten>;
    t.plain[full(BlendMode::kDarken)] = BlendSlotRow<&P::darken>;
    t.plain[full(BlendMode::kLinearBurn)] = BlendSlotRow<&P::linear_burn>;
    t.plain[full(BlendMode::kLinearLight)] = BlendSlotRow<&P::linear_light>;
}

}  // namespace zk
