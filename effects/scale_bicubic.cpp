#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/scaling.h"

namespace zk {

const std::array<int32_t, 513>& BicubicWeightTable() {
    static const std::array<int32_t, 513> table = [] {
        std::array<int32_t, 513> t{};
        for (int k = 0; k <= 512; ++k) {
            const double d = k / 256.0;
            const double f = d <= 1 ? 1 - 2 * d * d + d * d * d : 4 - 8 * d + 5 * d * d - d * d * d;
            t[size_t(k)] = int32_t(f * 256);
        }
        return t;
    }();
    return table;
}

#if defined(__SSE2__)
namespace {

// The 16 tap weights of one pair of fractions, (row weight x column
// weight) / 256 truncated, laid out for the pairwise multiply: for each tap
// row, the weights of taps 0 and 1 repeated over the four channels, then
// of taps 2 and 3. Each is at most 256 in size, so 16-bit lanes hold it.
struct TapWeights {
    __m128i pairs[8];
    int32_t sum = 0;
};

void FillTapWeights(TapWeights& t, const int32_t row_weights[4], const int32_t column_weights[4]) {
    t.sum = 0;
    for (int ty = 0; ty < 4; ++ty) {
        int16_t w[4];
        for (int tx = 0; tx < 4; ++tx) {
            w[tx] = int16_t((row_weights[ty] * column_weights[tx]) / 256);
            t.sum += w[tx];
        }
        t.pairs[2 * ty] = _mm_setr_epi16(w[0], w[1], w[0], w[1], w[0], w[1], w[0], w[1]);
        t.pairs[2 * ty + 1] = _mm_setr_epi16(w[2], w[3], w[2], w[3], w[2], w[3], w[2], w[3]);
    }
}

// One output pixel from 4 x 4 taps that all lie inside the image: each row
// of taps is 16 contiguous bytes, multiplied pairwise by the tap weights and
// summed into 32-bit lanes B, G, R, A; the same sums and quotients as the
// plain loop.
void BicubicPixelSse2(uint8_t* out, const uint8_t* first_tap, int64_t row_bytes, const TapWeights& t) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    for (int ty = 0; ty < 4; ++ty) {
        const __m128i taps = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first_tap + ty * row_bytes));
        // Bytes of pixels 0 and 1 interleaved (b0 b1 g0 g1 r0 r1 a0 a1), then of 2 and 3.
        const __m128i pair01 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(taps, _mm_srli_si128(taps, 4)), zero);
        const __m128i upper = _mm_srli_si128(taps, 8);
        const __m128i pair23 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(upper, _mm_srli_si128(upper, 4)), zero);
        sums = _mm_add_epi32(sums, _mm_add_epi32(_mm_madd_epi16(pair01, t.pairs[2 * ty]),
                                                 _mm_madd_epi16(pair23, t.pairs[2 * ty + 1])));
    }
    const __m128d divisor = _mm_set1_pd(double(t.sum == 0 ? 1 : t.sum));
    const __m128i low = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(sums), divisor));
    const __m128i high = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(_mm_srli_si128(sums, 8)), divisor));
    const __m128i quotients = _mm_unpacklo_epi64(low, high);
    // Saturating packs clamp to 0..255 as the plain loop does.
    const int32_t packed = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(quotients, zero), zero));
    std::memcpy(out, &packed, 4);
}

}  // namespace
#endif

void ScaleCgBicubic(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x1, int32_t y1,
                    int32_t x2, int32_t y2, int32_t source_width, int32_t source_height, int32_t width,
                    int32_t height) {
    if (width <= 0 || height <= 0) return;
    const int64_t w = width, h = height, sw = source_width, sh = source_height;
    if (destination.size() / 4 < uint64_t(w) * uint64_t(h)) return;
    std::fill(destination.begin(), destination.begin() + w * h * 4, uint8_t{0});
    if (sw <= 0 || sh <= 0 || source.size() / 4 < uint64_t(sw) * uint64_t(sh)) return;
    const std::array<int32_t, 513>& table = BicubicWeightTable();

    // Positions in 1/256 source pixel from the rectangle's corner.
    std::vector<int64_t> rows(static_cast<size_t>(h)), columns(static_cast<size_t>(w));
    for (int64_t i = 0; i < h; ++i) rows[size_t(i)] = ((i * 65536 / h) * (int64_t{y2} - y1 + 1)) >> 8;
    for (int64_t j = 0; j < w; ++j) columns[size_t(j)] = ((j * 65536 / w) * (int64_t{x2} - x1 + 1)) >> 8;

    // The leading run before the source and everything from the first
    // sample past its end stay 0.
    auto valid = [](const std::vector<int64_t>& positions, int64_t start, int64_t limit, int64_t& first,
                    int64_t& end) {
        const int64_t count = int64_t(positions.size());
        first = 0;
        while (first < count && start + (positions[size_t(first)] >> 8) < 0) ++first;
        end = first;
        while (end < count && start + (positions[size_t(end)] >> 8) < limit) ++end;
    };
    int64_t first_row, end_row, first_column, end_column;
    valid(rows, y1, sh, first_row, end_row);
    valid(columns, x1, sw, first_column, end_column);

    auto tap_weights = [&](int64_t fraction, int32_t out[4]) {
        out[0] = table[size_t(256 + fraction)];
        out[1] = table[size_t(fraction)];
        out[2] = table[size_t(256 - fraction)];
        out[3] = table[size_t(512 - fraction)];
    };
    const int64_t pixels = sw * sh;
#if defined(__SSE2__)
    // Per output row, the tap weights of each column fraction met so far.
    std::vector<TapWeights> tap_table(256);
    std::array<bool, 256> tap_ready{};
#endif
    for (int64_t i = first_row; i < end_row; ++i) {
        const int64_t sy = y1 + (rows[size_t(i)] >> 8);
        int32_t row_weights[4];
        tap_weights(rows[size_t(i)] & 255, row_weights);
#if defined(__SSE2__)
        tap_ready.fill(false);
#endif
        uint8_t* out = destination.data() + (i * w + first_column) * 4;
        for (int64_t j = first_column; j < end_column; ++j, out += 4) {
            const int64_t sx = x1 + (columns[size_t(j)] >> 8);
            int32_t column_weights[4];
            tap_weights(columns[size_t(j)] & 255, column_weights);
            // Weights of at most 256 and bytes keep every sum inside 32 bits.
            int32_t sum[4] = {0, 0, 0, 0}, weights = 0;
            const int64_t first_index = (sy - 1) * sw + (sx - 1), last_index = (sy + 2) * sw + (sx + 2);
            const bool all_inside = first_index >= 0 && last_index < pixels;  // ONLY FOR SPEED: no tap to skip
#if defined(__SSE2__)
            if (all_inside) {
                const size_t fraction = size_t(columns[size_t(j)] & 255);
                if (!tap_ready[fraction]) {
                    FillTapWeights(tap_table[fraction], row_weights, column_weights);
                    tap_ready[fraction] = true;
                }
                BicubicPixelSse2(out, source.data() + first_index * 4, sw * 4, tap_table[fraction]);
                continue;
            }
#endif
            for (int64_t ty = 0; ty < 4; ++ty) {
                const int64_t row_index = (sy - 1 + ty) * sw + (sx - 1);
                for (int64_t tx = 0; tx < 4; ++tx) {
                    // A tap counts wherever its index falls inside the image:
                    // one column past a row's end is the next row's first pixel.
                    const int64_t index = row_index + tx;
                    if (!all_inside && (index < 0 || index >= pixels)) continue;
                    const int32_t weight = (row_weights[ty] * column_weights[tx]) / 256;
                    const uint8_t* p = source.data() + index * 4;
                    for (int c = 0; c < 4; ++c) sum[c] += weight * p[c];
                    weights += weight;
                }
            }
            if (weights == 0) weights = 1;
            // The quotient truncated toward zero; a double holds these sums
            // and their quotient exactly enough that truncation never errs.
            const double divisor = weights;
            for (int c = 0; c < 4; ++c) out[c] = uint8_t(std::clamp<int64_t>(int64_t(sum[c] / divisor), 0, 255));
        }
    }
}

}  // namespace zk
