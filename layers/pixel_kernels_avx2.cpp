// The AVX2 variants of the SSE set's arithmetic-bound slots (11, 12, 13,
// 15, 16, 18, 19, 22, 23): the same per-byte arithmetic as the SSE set, 32
// bytes at a time, so the results are the SSE set's bit for bit. Only the
// functions below use AVX2 instructions (each carries the target attribute;
// nothing in this file is compiled for AVX2 as a whole), and they are put
// into the table only on a processor that has AVX2 (CpuHasAvx2).
//
// Each kernel runs its vector body from the row's start over the bytes
// that one rounding covers (the 8-byte groups, whole pixels, or every
// byte), then finishes with the SSE set's scalar arithmetic; unaligned
// loads and stores make the result independent of where the row lies.
//
// Slots 12, 13, 18 and 19 skip runs of fully transparent source pixels and
// slot 12 copies runs of fully opaque ones: in their arithmetic alpha 0
// leaves the destination exactly and (slot 12) alpha 255 gives the source
// exactly, so the skip changes nothing but the time.
#include "layers/pixel_kernels_avx2.h"

#include <algorithm>
#include <cstdint>

#include "layers/pixel_kernel_math.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZK_HAVE_AVX2_KERNELS 1
#endif

namespace zk {

#if defined(ZK_HAVE_AVX2_KERNELS)

namespace pm = pixel_math;

namespace {

#define ZK_AVX2 __attribute__((target("avx2")))

ZK_AVX2 inline __m256i Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
ZK_AVX2 inline void Store(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
// Per 128-bit lane, as the SSE set's halves: packing the two back restores
// the byte order.
ZK_AVX2 inline __m256i Low16(__m256i v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
ZK_AVX2 inline __m256i High16(__m256i v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
ZK_AVX2 inline __m256i Pack(__m256i low, __m256i high) { return _mm256_packus_epi16(low, high); }
ZK_AVX2 inline __m256i SpreadAlpha(__m256i pixels16) {
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(pixels16, 0xFF), 0xFF);
}
ZK_AVX2 inline __m256i MulShr8Unsigned(__m256i x, __m256i w) { return _mm256_srli_epi16(_mm256_mullo_epi16(x, w), 8); }
ZK_AVX2 inline __m256i AlphaBytes() { return _mm256_set1_epi32(int32_t(0xFF000000u)); }
// True when all eight pixels' alpha bytes are 0.
ZK_AVX2 inline bool AllTransparent(__m256i s) { return _mm256_testz_si256(s, AlphaBytes()) != 0; }
// True when all eight pixels' alpha bytes are 255.
ZK_AVX2 inline bool AllOpaque(__m256i s) {
    const __m256i alpha = AlphaBytes();
    return _mm256_testc_si256(s, alpha) != 0;  // (~s & alpha) == 0
}

inline int32_t ClampOpacity(int32_t value) { return std::clamp(value, 0, 256); }

// ---- Slots 11 and 15 ---------------------------------------------------------

ZK_AVX2 void CrossfadeRowAvx2(uint8_t* out, const uint8_t* first, const uint8_t* second, int32_t t, int64_t count) {
    t = ClampOpacity(t);
    int64_t i = 0;
    if (t == 128) {
        for (; i + 32 <= count; i += 32) Store(out + i, _mm256_avg_epu8(Load(first + i), Load(second + i)));
        for (; i < count; ++i) out[i] = pm::CrossfadeByte<true>(first[i], second[i], t, true);
        return;
    }
    if (t < 128) {
        const __m256i weight = _mm256_set1_epi16(int16_t(t));
        for (; i + 32 <= count; i += 32) {
            __m256i d = Load(first + i), s = Load(second + i);
            __m256i low = _mm256_add_epi16(
                Low16(d), _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(Low16(s), Low16(d)), weight), 8));
            __m256i high = _mm256_add_epi16(
                High16(d), _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(High16(s), High16(d)), weight), 8));
            Store(out + i, Pack(low, high));
        }
        for (; i < count; ++i) out[i] = pm::CrossfadeByte<true>(first[i], second[i], t, false);
        return;
    }
    const int64_t groups = pm::GroupEnd(count);
    const __m256i weight = _mm256_set1_epi16(int16_t(256 - t));
    for (; i + 32 <= groups; i += 32) {
        __m256i d = Load(first + i), s = Load(second + i);
        __m256i low = _mm256_add_epi16(
            Low16(s), _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(Low16(d), Low16(s)), weight), 8));
        __m256i high = _mm256_add_epi16(
            High16(s), _mm256_srai_epi16(_mm256_mullo_epi16(_mm256_sub_epi16(High16(d), High16(s)), weight), 8));
        Store(out + i, Pack(low, high));
    }
    for (; i < groups; ++i) out[i] = pm::CrossfadeByte<true>(first[i], second[i], t, true);
    for (; i < count; ++i) out[i] = pm::CrossfadeByte<true>(first[i], second[i], t, false);
}

void CrossfadeBytesAvx2(uint8_t* dst, const uint8_t* src, int32_t t, int64_t count) {
    CrossfadeRowAvx2(dst, dst, src, t, count);
}

void MixBytesAvx2(uint8_t* out, const uint8_t* first, const uint8_t* second, int32_t t, int64_t count) {
    CrossfadeRowAvx2(out, first, second, t, count);
}

// ---- Slots 12 and 13 ---------------------------------------------------------

ZK_AVX2 inline __m256i AlphaOverHalf(__m256i d16, __m256i s16, __m256i a16) {
    __m256i source_part = MulShr8Unsigned(s16, _mm256_add_epi16(a16, _mm256_set1_epi16(1)));
    __m256i destination_part = MulShr8Unsigned(d16, _mm256_sub_epi16(_mm256_set1_epi16(256), a16));
    return _mm256_add_epi16(source_part, destination_part);  // packing saturates the sum to 255
}

template <bool kScaled>
ZK_AVX2 void AlphaOverRowAvx2(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    const int32_t o = ClampOpacity(opacity);
    const int64_t groups = pm::GroupEnd(count);
    const __m256i o16 = _mm256_set1_epi16(int16_t(o));
    int64_t i = 0;
    for (; i + 32 <= groups; i += 32) {
        const __m256i s = Load(src + i);
        if (AllTransparent(s)) continue;  // weight 0: the destination stays
        if (!kScaled && AllOpaque(s)) {   // weight 255: the source, all four bytes
            Store(dst + i, s);
            continue;
        }
        const __m256i d = Load(dst + i);
        __m256i a_low = SpreadAlpha(Low16(s)), a_high = SpreadAlpha(High16(s));
        if constexpr (kScaled) {
            a_low = MulShr8Unsigned(a_low, o16);
            a_high = MulShr8Unsigned(a_high, o16);
        }
        Store(dst + i, Pack(AlphaOverHalf(Low16(d), Low16(s), a_low), AlphaOverHalf(High16(d), High16(s), a_high)));
    }
    for (; i < groups; i += 4) {
        const int64_t a = kScaled ? pm::ScaledAlpha(o, src[i + 3]) : src[i + 3];
        for (int c = 0; c < 4; ++c) dst[i + c] = pm::AlphaOverGroupSse(dst[i + c], src[i + c], a);
    }
    if (pm::PixelEnd(count) > groups) {
        const int64_t a = kScaled ? pm::ScaledAlpha(o, src[groups + 3]) : src[groups + 3];
        for (int c = 0; c < 3; ++c) {
            dst[groups + c] = kScaled ? pm::AlphaOverTailSlot13(dst[groups + c], src[groups + c], a)
                                      : pm::AlphaOverTailSlot12(dst[groups + c], src[groups + c], a);
        }
    }
}

void AlphaOverBgraAvx2(uint8_t* dst, const uint8_t* src, int64_t count) {
    AlphaOverRowAvx2<false>(dst, src, 256, count);
}
void AlphaOverOpacityBgraAvx2(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    AlphaOverRowAvx2<true>(dst, src, o, count);
}

// ---- Slot 16 -----------------------------------------------------------------

ZK_AVX2 void AddBytesAvx2(uint8_t* dst, const uint8_t* src, int64_t count) {
    int64_t i = 0;
    for (; i + 32 <= count; i += 32) Store(dst + i, _mm256_adds_epu8(Load(dst + i), Load(src + i)));
    for (; i < count; ++i) dst[i] = uint8_t(pm::Sat(dst[i], src[i]));
}

// ---- Slots 18 and 19 ---------------------------------------------------------

// The weight a + 1 capped at 255, as the SSE set has it. Alpha 0 gives
// weight 1 (slot 19: at most 1), which moves no byte: (sum - d) * 1 >> 8 is 0.
template <bool kScaled>
ZK_AVX2 void AddAlphaRowAvx2(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    const int32_t o = ClampOpacity(opacity);
    const int64_t pixels = pm::PixelEnd(count);
    const __m256i o16 = _mm256_set1_epi16(int16_t(o));
    const __m256i one = _mm256_set1_epi16(1), cap = _mm256_set1_epi16(255);
    const __m256i colour = _mm256_setr_epi16(-1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 0);
    int64_t i = 0;
    for (; i + 32 <= pixels; i += 32) {
        const __m256i s = Load(src + i);
        if (AllTransparent(s)) continue;
        const __m256i d = Load(dst + i);
        const __m256i sum = _mm256_adds_epu8(d, s);
        __m256i w_low = _mm256_min_epi16(_mm256_add_epi16(SpreadAlpha(Low16(s)), one), cap);
        __m256i w_high = _mm256_min_epi16(_mm256_add_epi16(SpreadAlpha(High16(s)), one), cap);
        if constexpr (kScaled) {
            w_low = MulShr8Unsigned(w_low, o16);
            w_high = MulShr8Unsigned(w_high, o16);
        }
        w_low = _mm256_and_si256(w_low, colour);
        w_high = _mm256_and_si256(w_high, colour);
        const __m256i low =
            _mm256_add_epi16(Low16(d), MulShr8Unsigned(_mm256_sub_epi16(Low16(sum), Low16(d)), w_low));
        const __m256i high =
            _mm256_add_epi16(High16(d), MulShr8Unsigned(_mm256_sub_epi16(High16(sum), High16(d)), w_high));
        Store(dst + i, Pack(low, high));
    }
    for (; i < pixels; i += 4) {
        int64_t w = std::min(src[i + 3] + 1, 255);
        if (kScaled) w = (o * w) >> 8;
        for (int c = 0; c < 3; ++c) dst[i + c] = pm::AddWeighted(dst[i + c], src[i + c], w);
    }
}

void AddAlphaBgraAvx2(uint8_t* dst, const uint8_t* src, int64_t count) { AddAlphaRowAvx2<false>(dst, src, 256, count); }
void AddAlphaOpacityBgraAvx2(uint8_t* dst, const uint8_t* src, int32_t o, int64_t count) {
    AddAlphaRowAvx2<true>(dst, src, o, count);
}

// ---- Slots 22 and 23 ---------------------------------------------------------

ZK_AVX2 void ScreenBytesAvx2(uint8_t* dst, const uint8_t* src, int64_t count) {
    const int64_t groups = pm::GroupEnd(count);
    const __m256i one = _mm256_set1_epi16(1);
    int64_t i = 0;
    for (; i + 32 <= groups; i += 32) {
        const __m256i d = Load(dst + i), s = Load(src + i);
        const __m256i low = _mm256_sub_epi16(_mm256_add_epi16(Low16(d), Low16(s)),
                                             MulShr8Unsigned(Low16(d), _mm256_add_epi16(Low16(s), one)));
        const __m256i high = _mm256_sub_epi16(_mm256_add_epi16(High16(d), High16(s)),
                                              MulShr8Unsigned(High16(d), _mm256_add_epi16(High16(s), one)));
        Store(dst + i, Pack(low, high));
    }
    for (; i < groups; ++i) dst[i] = pm::ScreenGroupByte(dst[i], src[i]);
    for (; i < count; ++i) dst[i] = pm::ToByte(pm::ScreenTable(dst[i], src[i]));
}

ZK_AVX2 inline __m256i ScreenOpacityHalf(__m256i d16, __m256i s16, __m256i o16) {
    const __m256i one = _mm256_set1_epi16(1);
    // s * d / 255 rounded down is (p + 1 + (p >> 8)) >> 8 for p = s * d <= 65025.
    const __m256i p = _mm256_mullo_epi16(s16, d16);
    const __m256i quotient = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(p, one), _mm256_srli_epi16(p, 8)), 8);
    return _mm256_add_epi16(d16, MulShr8Unsigned(_mm256_sub_epi16(s16, quotient), o16));
}

ZK_AVX2 void ScreenOpacityBytesAvx2(uint8_t* dst, const uint8_t* src, int32_t opacity, int64_t count) {
    const int32_t o = ClampOpacity(opacity);
    const __m256i o16 = _mm256_set1_epi16(int16_t(o));
    int64_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i d = Load(dst + i), s = Load(src + i);
        Store(dst + i, Pack(ScreenOpacityHalf(Low16(d), Low16(s), o16), ScreenOpacityHalf(High16(d), High16(s), o16)));
    }
    for (; i < count; ++i) dst[i] = pm::ScreenOpacityByte(dst[i], src[i], o);
}

#undef ZK_AVX2

}  // namespace

void OverrideWithAvx2Kernels(PixelKernelTable& set) {
    set.crossfade = CrossfadeBytesAvx2;
    set.alpha_over = AlphaOverBgraAvx2;
    set.alpha_over_opacity = AlphaOverOpacityBgraAvx2;
    set.mix = MixBytesAvx2;
    set.add = AddBytesAvx2;
    set.add_alpha = AddAlphaBgraAvx2;
    set.add_alpha_opacity = AddAlphaOpacityBgraAvx2;
    set.screen = ScreenBytesAvx2;
    set.screen_opacity = ScreenOpacityBytesAvx2;
}

#else  // not an x86 processor: nothing to override

void OverrideWithAvx2Kernels(PixelKernelTable&) {}

#endif

}  // namespace zk
