// The SSE kernel set (SSE2 intrinsics): the slots it speeds up, each with a
// scalar head until the destination is 16-byte aligned, a 16-byte body and
// a scalar tail. Head and tail use the same arithmetic as the body
// (pixel_kernel_math.h), and the groups some slots round differently in are
// counted from the row's start, so a result never depends on where a row
// lies in memory. Slots it does not override come from the plain set. On a
// processor with AVX2 the set takes the AVX2 variants of its arithmetic-
// bound slots (pixel_kernels_avx2.cpp), whose results are the same.
#include "layers/pixel_kernels.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "layers/cpu_features.h"
#include "layers/mask_opacity_ramp.h"
#include "layers/pixel_kernels_avx2.h"
#include "layers/pixel_kernel_math.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zk {

#if defined(__SSE2__)

namespace pm = pixel_math;

namespace {

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline __m128i Low16(__m128i v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
inline __m128i High16(__m128i v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
inline __m128i Pack(__m128i low, __m128i high) { return _mm_packus_epi16(low, high); }
// Each 16-bit pixel's alpha (lanes 3 and 7) in all four of its lanes.
inline __m128i SpreadAlpha(__m128i pixels16) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels16, 0xFF), 0xFF);
}
// floor(x * w / 256) per signed 16-bit lane, exact for any x and w whose
// result fits 16 bits: the 32-bit product is put together from its halves.
inline __m128i MulShr8(__m128i x, __m128i w) {
    __m128i high = _mm_mulhi_epi16(x, w);
    __m128i low = _mm_mullo_epi16(x, w);
    return _mm_or_si128(_mm_slli_epi16(high, 8), _mm_srli_epi16(low, 8));
}
// (x * w) >> 8 per unsigned 16-bit lane whose product stays below 65536.
inline __m128i MulShr8Unsigned(__m128i x, __m128i w) { return _mm_srli_epi16(_mm_mullo_epi16(x, w), 8); }
// Colour lanes only: 0xFFFF for B, G, R, 0 for A, two pixels.
inline __m128i ColourLanes() { return _mm_setr_epi16(-1, -1, -1, 0, -1, -1, -1, 0); }

inline int32_t ClampOpacity(int32_t value) { return std::clamp(value, 0, 256); }

// Bytes [begin, end) of a row: `scalar(i)` one byte, `vector(i)` 16 bytes.
template <class Scalar, class Vector>
inline void ForBytes(const uint8_t* dst, int64_t begin, int64_t end, Scalar scalar, Vector vector) {
    int64_t i = begin;
    int64_t head = int64_t((16 - (reinterpret_cast<uintptr_t>(dst + begin) & 15)) & 15);
    for (int64_t head_end = std::min(end, begin + head); i < head_end; ++i) scalar(i);
    for (; i + 16 <= end; i += 16) vector(i);
    for (; i < end; ++i) scalar(i);
}

// Whole pixels in bytes [begin, end) (both multiples of 4): `scalar(i)` one
// pixel, `vector(i)` four. A destination that is not 4-byte aligned can
// never become 16-byte aligned by pixels: it gets no head.
template <class Scalar, class Vector>
inline void ForPixels(const uint8_t* dst, int64_t begin, int64_t end, Scalar scalar, Vector vector) {
    int64_t i = begin;
    int64_t head = int64_t((16 - (reinterpret_cast<uintptr_t>(dst + begin) & 15)) & 15);
    if (head % 4 != 0) head = 0;
    for (int64_t head_end = std::min(end, begin + head); i < head_end; i += 4) scalar(i);
    for (; i + 16 <= end; i += 16) vector(i);
    for (; i < end; i += 4) scalar(i);
}

void FillCellsSse2(uint8_t* row, int64_t count, uint32_t value) {
    __m128i cells = _mm_set1_epi32(int32_t(value));
    auto one = [&](int64_t i) {
        row[i] = uint8_t(value);
        row[i + 1] = uint8_t(value >> 8);
        row[i + 2] = uint8_t(value >> 16);
        row[i + 3] = uint8_t(value >> 24);
    };
    ForPixels(row, 0, pm::PixelEnd(count), one, [&](int64_t i) { Store(row + i, cells); });
}

// Slots 11 and 15 share this body: `out` may be `first`.
void CrossfadeRowSse2(uint8_t* out, const uint8_t* first, const uint8_t* second, int32_t t, int64_t count) {
    t = ClampOpacity(t);
    auto scalar = [&](bool in_group) {
        return [=](int64_t i) { out[i] = pm::CrossfadeByte<true>(first[i], second[i], t, in_group); };
    };
    if (t == 128) {
        ForBytes(out, 0, count, scalar(true), [&](int64_t i) { Store(out + i, _mm_avg_epu8(Load(first + i), Load(second + i))); });
        return;
    }
    if (t < 128) {
        // d + ((s - d) * t >> 8): |(s - d) * t| <= 255 * 127 fits 16 bits.
        __m128i weight = _mm_set1_epi16(int16_t(t));
        ForBytes(out, 0, count, scalar(false), [&](int64_t i) {
            __m128i d = Load(first + i), s = Load(second + i);
            __m128i low = _mm_add_epi16(Low16(d), _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(Low16(s), Low16(d)), weight), 8));
            __m128i high = _mm_add_epi16(High16(d), _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(High16(s), High16(d)), weight), 8));
            Store(out + i, Pack(low, high));
        });
        return;
    }
    // Above 128 the groups use s + ((d - s) * (256 - t) >> 8); 256 - t <= 127.
    int64_t groups = pm::GroupEnd(count);
    __m128i weight = _mm_set1_epi16(int16_t(256 - t));
    ForBytes(out, 0, groups, scalar(true), [&](int64_t i) {
        __m128i d = Load(first + i), s = Load(second + i);
        __m128i low = _mm_add_epi16(Low16(s), _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(Low16(d), Low16(s)), weight), 8));
        __m128i high = _mm_add_epi16(High16(s), _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(High16(d), High16(s)), weight), 8));
        Store(out + i, Pack(low, high));
    });
    auto tail = scalar(false);
    for (int64_t i = groups; i < count; ++i) tail(i);
}

void CrossfadeBytesSse2(uint8_t* dst, const uint8_t* src, int32_t t, int64_t count) {
    CrossfadeRowSse2(dst, dst, src, t, count);
}

void MixBytesSse2(uint8_t* out, const uint8_t* first, const uint8_t* second, int32_t t, int64_t count) {
    CrossfadeRowSse2(out, first, second, t, count);
}

// Two pixels of alpha-over in 16-bit lanes with per-lane weights a (0..255):
// the two products rounded down separately, then added with saturation.
inline __m128i AlphaOverHalf(__m128i d16, __m128i s16, __m128i a16) {
    __m128i source_part = MulShr8Unsigned(s16, _mm_add_epi16(a16, _mm_set1_epi16(1)));
    __m128i destination_part = MulShr8Unsigned(d16, _mm_sub_epi16(_mm_set1_epi16(256), a16));
    return _mm_add_epi16(source_part, destination_part);  // packing saturates the sum to 255
}

// Slots 12 and 13: `opacity` 256 leaves the alpha as it is.
template <bool kScaled>
void AlphaOverRowSse2(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    int32_t o = ClampOpacity(opacity);
    auto weight = [&](int a) -> int64_t { return kScaled ? pm::ScaledAlpha(o, a) : a; };
    int64_t groups = pm::GroupEnd(count);
    __m128i o16 = _mm_set1_epi16(int16_t(o));
    auto scalar = [&](int64_t i) {
        int64_t a = weight(src[i + 3]);
        for (int c = 0; c < 4; ++c) dst[i + c] = pm::AlphaOverGroupSse(dst[i + c], src[i + c], a);
    };
    const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
    ForPixels(dst, 0, groups, scalar, [&](int64_t i) {
        __m128i s = Load(src + i);
        // Weight 0 leaves the destination and (slot 12) weight 255 gives
        // the source, exactly: such runs are skipped or copied.
        __m128i source_alpha = _mm_and_si128(s, alpha);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(source_alpha, _mm_setzero_si128())) == 0xFFFF) return;
        if (!kScaled && _mm_movemask_epi8(_mm_cmpeq_epi32(source_alpha, alpha)) == 0xFFFF) {
            Store(dst + i, s);
            return;
        }
        __m128i d = Load(dst + i);
        __m128i a_low = SpreadAlpha(Low16(s)), a_high = SpreadAlpha(High16(s));
        if constexpr (kScaled) {
            a_low = MulShr8Unsigned(a_low, o16);
            a_high = MulShr8Unsigned(a_high, o16);
        }
        Store(dst + i, Pack(AlphaOverHalf(Low16(d), Low16(s), a_low), AlphaOverHalf(High16(d), High16(s), a_high)));
    });
    if (pm::PixelEnd(count) > groups) {
        int64_t a = weight(src[groups + 3]);
        for (int c = 0; c < 3; ++c) {
            dst[groups + c] = kScaled ? pm::AlphaOverTailSlot13(dst[groups + c], src[groups + c], a)
                                      : pm::AlphaOverTailSlot12(dst[groups + c], src[groups + c], a);
        }
    }
}

void AlphaOverBgraSse2(uint8_t* dst, const uint8_t* src, int64_t count) { AlphaOverRowSse2<false>(dst, src, 256, count); }
void AlphaOverOpacityBgraSse2(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    AlphaOverRowSse2<true>(dst, src, o, count);
}

// A ramp weight as the 16-bit lanes hold it; w <= 1 leaves the pixel.
inline int32_t RampWeight(uint8_t mask_blue) {
    int32_t w = std::clamp<int32_t>(MaskOpacityRamp[mask_blue], INT16_MIN, INT16_MAX);
    return w <= 1 ? 0 : w;
}

void MaskedOverBgraSse2(uint8_t* dst, const uint8_t* src, const uint8_t* mask, int32_t, int32_t, int64_t count) {
    auto scalar = [&](int64_t i) {
        int32_t w = RampWeight(mask[i]);
        if (w == 0) return;
        for (int c = 0; c < 3; ++c) dst[i + c] = pm::MaskedByte(dst[i + c], src[i + c], w);
    };
    __m128i low_byte = _mm_set1_epi16(0x00FF);
    auto half = [&](__m128i d16, __m128i s16, int32_t w0, int32_t w1) {
        // Weight 0 in the alpha lanes and for pixels the mask leaves alone.
        __m128i w = _mm_setr_epi16(int16_t(w0), int16_t(w0), int16_t(w0), 0, int16_t(w1), int16_t(w1), int16_t(w1), 0);
        __m128i moved = _mm_sub_epi16(d16, MulShr8(_mm_sub_epi16(d16, s16), w));
        return _mm_and_si128(moved, low_byte);  // the low byte, as the scalar store keeps it
    };
    ForPixels(dst, 0, pm::PixelEnd(count), scalar, [&](int64_t i) {
        int32_t w0 = RampWeight(mask[i]), w1 = RampWeight(mask[i + 4]);
        int32_t w2 = RampWeight(mask[i + 8]), w3 = RampWeight(mask[i + 12]);
        if ((w0 | w1 | w2 | w3) == 0) return;  // speed only: a fully masked-off run writes nothing
        __m128i d = Load(dst + i), s = Load(src + i);
        Store(dst + i, Pack(half(Low16(d), Low16(s), w0, w1), half(High16(d), High16(s), w2, w3)));
    });
}

void AddBytesSse2(uint8_t* dst, const uint8_t* src, int64_t count) {
    ForBytes(dst, 0, count, [&](int64_t i) { dst[i] = uint8_t(pm::Sat(dst[i], src[i])); },
             [&](int64_t i) { Store(dst + i, _mm_adds_epu8(Load(dst + i), Load(src + i))); });
}

void AddOpacityBytesSse2(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    int32_t o = ClampOpacity(opacity);
    int64_t groups = pm::GroupEnd(count);
    __m128i o16 = _mm_set1_epi16(int16_t(o));
    ForBytes(dst, 0, groups, [&](int64_t i) { dst[i] = pm::AddOpacityGroup(dst[i], src[i], o); },
             [&](int64_t i) {
                 __m128i s = Load(src + i);
                 __m128i scaled = Pack(MulShr8Unsigned(Low16(s), o16), MulShr8Unsigned(High16(s), o16));
                 Store(dst + i, _mm_adds_epu8(Load(dst + i), scaled));
             });
    for (int64_t i = groups; i < count; ++i) dst[i] = pm::AddOpacityTail(dst[i], src[i], o);
}

// Slots 18 and 19: the weight a + 1 is capped at 255, as a byte-saturating
// add gives it.
template <bool kScaled>
void AddAlphaRowSse2(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    int32_t o = ClampOpacity(opacity);
    auto weight = [&](int a) -> int64_t {
        int64_t w = std::min(a + 1, 255);
        return kScaled ? (o * w) >> 8 : w;
    };
    auto scalar = [&](int64_t i) {
        int64_t w = weight(src[i + 3]);
        for (int c = 0; c < 3; ++c) dst[i + c] = pm::AddWeighted(dst[i + c], src[i + c], w);
    };
    __m128i o16 = _mm_set1_epi16(int16_t(o));
    __m128i one = _mm_set1_epi16(1), cap = _mm_set1_epi16(255);
    auto half = [&](__m128i d16, __m128i sum16, __m128i s16) {
        __m128i w = _mm_min_epi16(_mm_add_epi16(SpreadAlpha(s16), one), cap);
        if constexpr (kScaled) w = MulShr8Unsigned(w, o16);
        w = _mm_and_si128(w, ColourLanes());
        return _mm_add_epi16(d16, MulShr8Unsigned(_mm_sub_epi16(sum16, d16), w));
    };
    ForPixels(dst, 0, pm::PixelEnd(count), scalar, [&](int64_t i) {
        __m128i d = Load(dst + i), s = Load(src + i);
        __m128i sum = _mm_adds_epu8(d, s);
        Store(dst + i, Pack(half(Low16(d), Low16(sum), Low16(s)), half(High16(d), High16(sum), High16(s))));
    });
}

void AddAlphaBgraSse2(uint8_t* dst, const uint8_t* src, int64_t count) { AddAlphaRowSse2<false>(dst, src, 256, count); }
void AddAlphaOpacityBgraSse2(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    AddAlphaRowSse2<true>(dst, src, o, count);
}

void ReverseSubtractBytesSse2(uint8_t* dst, const uint8_t* src, int64_t count) {
    ForBytes(dst, 0, count, [&](int64_t i) { dst[i] = uint8_t(std::max(src[i] - dst[i], 0)); },
             [&](int64_t i) { Store(dst + i, _mm_subs_epu8(Load(src + i), Load(dst + i))); });
}

void MultiplyBytesSse2(uint8_t* dst, const uint8_t* src, int64_t count) {
    int64_t pixels_end = pm::PixelEnd(count);
    __m128i one = _mm_set1_epi16(1);
    ForBytes(dst, 0, pixels_end, [&](int64_t i) { dst[i] = pm::MultiplyPixelByte(dst[i], src[i]); },
             [&](int64_t i) {
                 __m128i d = Load(dst + i), s = Load(src + i);
                 __m128i low = MulShr8Unsigned(Low16(d), _mm_add_epi16(Low16(s), one));
                 __m128i high = MulShr8Unsigned(High16(d), _mm_add_epi16(High16(s), one));
                 Store(dst + i, Pack(low, high));
             });
    for (int64_t i = pixels_end; i < count; ++i) dst[i] = pm::MultiplyTableByte(dst[i], src[i]);
}

void ScreenBytesSse2(uint8_t* dst, const uint8_t* src, int64_t count) {
    int64_t groups = pm::GroupEnd(count);
    __m128i one = _mm_set1_epi16(1);
    auto half = [&](__m128i d16, __m128i s16) {
        return _mm_sub_epi16(_mm_add_epi16(d16, s16), MulShr8Unsigned(d16, _mm_add_epi16(s16, one)));
    };
    ForBytes(dst, 0, groups, [&](int64_t i) { dst[i] = pm::ScreenGroupByte(dst[i], src[i]); },
             [&](int64_t i) {
                 __m128i d = Load(dst + i), s = Load(src + i);
                 Store(dst + i, Pack(half(Low16(d), Low16(s)), half(High16(d), High16(s))));
             });
    for (int64_t i = groups; i < count; ++i) dst[i] = pm::ToByte(pm::ScreenTable(dst[i], src[i]));
}

void ScreenOpacityBytesSse2(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    int32_t o = ClampOpacity(opacity);
    __m128i o16 = _mm_set1_epi16(int16_t(o)), one = _mm_set1_epi16(1);
    auto half = [&](__m128i d16, __m128i s16) {
        // s * d / 255 rounded down is (p + 1 + (p >> 8)) >> 8 for p = s * d <= 65025.
        __m128i p = _mm_mullo_epi16(s16, d16);
        __m128i quotient = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, one), _mm_srli_epi16(p, 8)), 8);
        return _mm_add_epi16(d16, MulShr8Unsigned(_mm_sub_epi16(s16, quotient), o16));
    };
    ForBytes(dst, 0, count, [&](int64_t i) { dst[i] = pm::ScreenOpacityByte(dst[i], src[i], o); },
             [&](int64_t i) {
                 __m128i d = Load(dst + i), s = Load(src + i);
                 Store(dst + i, Pack(half(Low16(d), Low16(s)), half(High16(d), High16(s))));
             });
}

void LightenBytesSse2(uint8_t* dst, const uint8_t* src, int64_t count) {
    ForBytes(dst, 0, count, [&](int64_t i) { dst[i] = std::max(dst[i], src[i]); },
             [&](int64_t i) { Store(dst + i, _mm_max_epu8(Load(dst + i), Load(src + i))); });
}

void DarkenBytesSse2(uint8_t* dst, const uint8_t* src, int64_t count) {
    ForBytes(dst, 0, count, [&](int64_t i) { dst[i] = std::min(dst[i], src[i]); },
             [&](int64_t i) { Store(dst + i, _mm_min_epu8(Load(dst + i), Load(src + i))); });
}

void LinearBurnBytesSse2(uint8_t* dst, const uint8_t* src, int64_t count) {
    // max(d + s - 255, 0) is d - (255 - s) with saturation.
    __m128i all = _mm_set1_epi8(-1);
    ForBytes(dst, 0, count, [&](int64_t i) { dst[i] = pm::LinearBurnByte(dst[i], src[i]); },
             [&](int64_t i) { Store(dst + i, _mm_subs_epu8(Load(dst + i), _mm_xor_si128(Load(src + i), all))); });
}

void LinearLightBytesSse2(uint8_t* dst, const uint8_t* src, int64_t count) {
    __m128i bias = _mm_set1_epi16(256);
    auto half = [&](__m128i d16, __m128i s16) { return _mm_sub_epi16(_mm_add_epi16(d16, _mm_add_epi16(s16, s16)), bias); };
    ForBytes(dst, 0, count, [&](int64_t i) { dst[i] = pm::LinearLightByte(dst[i], src[i]); },
             [&](int64_t i) {
                 __m128i d = Load(dst + i), s = Load(src + i);
                 Store(dst + i, Pack(half(Low16(d), Low16(s)), half(High16(d), High16(s))));
             });
}

PixelKernelTable MakeSseSet() {
    PixelKernelTable set = PlainPixelKernelSet();
    // Slots 7, 8 and 10 stay with the C library, which is as fast as memory
    // allows already; 29..32 are table lookups and divisions per pixel and
    // have one variant.
    set.fill_cells = FillCellsSse2;
    set.crossfade = CrossfadeBytesSse2;
    set.alpha_over = AlphaOverBgraSse2;
    set.alpha_over_opacity = AlphaOverOpacityBgraSse2;
    set.masked_over = MaskedOverBgraSse2;
    set.mix = MixBytesSse2;
    set.add = AddBytesSse2;
    set.add_opacity = AddOpacityBytesSse2;
    set.add_alpha = AddAlphaBgraSse2;
    set.add_alpha_opacity = AddAlphaOpacityBgraSse2;
    set.reverse_subtract = ReverseSubtractBytesSse2;
    set.multiply = MultiplyBytesSse2;
    set.screen = ScreenBytesSse2;
    set.screen_opacity = ScreenOpacityBytesSse2;
    set.lighten = LightenBytesSse2;
    set.darken = DarkenBytesSse2;
    set.linear_burn = LinearBurnBytesSse2;
    set.linear_light = LinearLightBytesSse2;
    return set;
}

// The AVX2 variants go in when the processor has AVX2, unless the
// environment variable ZORVEK_NO_AVX2 is set to anything but "0".
bool Avx2KernelsWanted() {
    const char* value = std::getenv("ZORVEK_NO_AVX2");
    if (value != nullptr && std::strcmp(value, "0") != 0) return false;
    return CpuHasAvx2();
}

}  // namespace

const PixelKernelTable& Sse2PixelKernelSet() {
    static const PixelKernelTable set = MakeSseSet();
    return set;
}

const PixelKernelTable& SsePixelKernelSet() {
    static const PixelKernelTable set = [] {
        PixelKernelTable fast = MakeSseSet();
        if (Avx2KernelsWanted()) OverrideWithAvx2Kernels(fast);
        return fast;
    }();
    return set;
}

#else  // no SSE2 in this build: the SSE set is the plain set

const PixelKernelTable& Sse2PixelKernelSet() { return PlainPixelKernelSet(); }
const PixelKernelTable& SsePixelKernelSet() { return PlainPixelKernelSet(); }

#endif

}  // namespace zk
