// Supersampled bilinear scaling, worker job 41: every output pixel is the
// average of four bilinear samples, at its own position and half an output
// pixel to the right and below, so that reductions keep some of the detail
// a single sample would skip.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "effects/scaling.h"
#include "layers/pixel_kernels.h"
#include "layers/worker_pool.h"

namespace zk {

namespace {

// What the job reads besides its WorkerJob words: the column positions,
// two per output column (at the column and half a column to its right), in
// 1/256 source pixel from the rectangle's first column.
struct SupersampleTables {
    std::vector<int64_t> columns;
};

int64_t Divisor(int64_t size100) { return size100 - 100 == 0 ? 100 : size100 - 100; }

// A bilinear sample at (column, row) with fractions fx, fy, per byte:
// top = (P00 (256 - fx) + P01 fx) >> 8, bottom likewise one row lower,
// sample = (top (256 - fy) + bottom fy) >> 8.
inline void Sample(int32_t out[4], const uint8_t* source, int64_t source_width, int64_t column, int64_t row,
                   uint32_t fx, uint32_t fy) {
    const uint8_t* p0 = source + (row * source_width + column) * 4;
    const uint8_t* p1 = p0 + source_width * 4;
    for (int k = 0; k < 4; ++k) {
        const uint32_t top = (p0[k] * (256 - fx) + p0[k + 4] * fx) >> 8;
        const uint32_t bottom = (p1[k] * (256 - fx) + p1[k + 4] * fx) >> 8;
        out[k] = int32_t((top * (256 - fy) + bottom * fy) >> 8);
    }
}

#if defined(__SSE2__)
// The weights of a fraction f in 16-bit lanes: [256 - f] x 4, [f] x 4.
inline __m128i WeightLanes(uint32_t f) {
    return _mm_unpacklo_epi64(_mm_set1_epi16(int16_t(256 - f)), _mm_set1_epi16(int16_t(f)));
}

// The same sample in 16-bit lanes 0..3, with the weights as lanes: every
// product and sum stays below 65536, so the lanes hold them exactly.
inline __m128i SampleLanes(const uint8_t* p0, int64_t row_bytes, __m128i wx, __m128i wy) {
    const __m128i zero = _mm_setzero_si128();
    __m128i top = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0)), zero), wx);
    __m128i bottom = _mm_mullo_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0 + row_bytes)), zero), wx);
    top = _mm_add_epi16(top, _mm_srli_si128(top, 8));
    bottom = _mm_add_epi16(bottom, _mm_srli_si128(bottom, 8));
    __m128i both = _mm_srli_epi16(_mm_unpacklo_epi64(top, bottom), 8);
    both = _mm_mullo_epi16(both, wy);
    both = _mm_add_epi16(both, _mm_srli_si128(both, 8));
    return _mm_srli_epi16(both, 8);
}
#endif

bool force_plain_loops = false;

void RunSupersampleJob(const WorkerJob& job, int) {
    const WorkerResampleParams& p = job.resample;
    const auto& tables = *static_cast<const SupersampleTables*>(job.context);
    const int64_t w = p.destination_width / 100;
    const int64_t n = Divisor(p.destination_height);
    const int64_t base_x = p.x0 / 100, base_y = p.y0 / 100;
    const int64_t span_y = p.y1 - p.y0;
    const int64_t first = job.first_column, end = job.end_column;
    const int64_t sw = p.source_width;
    // The two sample columns of every output column of the band: source
    // column and fraction. The half-column sample stays on the source: past
    // its last column (or, reversed, before its first) it takes the column
    // sample again.
    const int64_t columns = std::max<int64_t>(end - first, 0);
    std::vector<int64_t> sample_x(size_t(columns) * 2);
    std::vector<uint32_t> sample_fx(size_t(columns) * 2);
    for (int64_t j = first; j < end; ++j) {
        const int64_t c1 = tables.columns[size_t(2 * j)];
        int64_t c2 = tables.columns[size_t(2 * j + 1)];
        const int64_t column2 = base_x + (c2 >> 8);
        if (column2 > sw - 1 || column2 < 0) c2 = c1;
        const size_t at = size_t(j - first) * 2;
        sample_x[at] = base_x + (c1 >> 8);
        sample_x[at + 1] = base_x + (c2 >> 8);
        sample_fx[at] = uint32_t(c1 & 255);
        sample_fx[at + 1] = uint32_t(c2 & 255);
    }
#if defined(__SSE2__)
    struct Weights {
        __m128i lanes;
    };
    std::vector<Weights> sample_wx(sample_fx.size());
    for (size_t k = 0; k < sample_fx.size(); ++k) sample_wx[k].lanes = WeightLanes(sample_fx[k]);
#endif
    for (int64_t i = job.first_row; i < job.end_row; ++i) {
        uint8_t* d = p.destination_pixels + i * w * 4;
        PixelKernels.zero_bytes(d, std::clamp<int64_t>(first, 0, w) * 4);
        PixelKernels.zero_bytes(d + std::clamp<int64_t>(end, 0, w) * 4, (w - std::clamp<int64_t>(end, 0, w)) * 4);
        if (first >= end) continue;
        const int64_t p1 = (i * 256 * span_y) / n;
        int64_t p2 = ((i * 256 + 128) * span_y) / n;
        // The half-row sample stays on the source: past its last row (or,
        // reversed, before its first) it takes the row sample again.
        const int64_t row2 = base_y + (p2 >> 8);
        if (row2 > p.source_height - 1 || row2 < 0) p2 = p1;
        const int64_t r1 = base_y + (p1 >> 8), r2 = base_y + (p2 >> 8);
        const uint32_t fy1 = uint32_t(p1 & 255), fy2 = uint32_t(p2 & 255);
#if defined(__SSE2__)
        const uint8_t* first_row = p.source_pixels + r1 * sw * 4;
        const uint8_t* second_row = p.source_pixels + r2 * sw * 4;
        const __m128i wy1 = WeightLanes(fy1), wy2 = WeightLanes(fy2);
#endif
        for (int64_t j = first; j < end; ++j) {
            const size_t at = size_t(j - first) * 2;
            const int64_t x1 = sample_x[at], x2 = sample_x[at + 1];
            const uint32_t fx1 = sample_fx[at], fx2 = sample_fx[at + 1];
            uint8_t* q = d + j * 4;
#if defined(__SSE2__)
            if (!force_plain_loops) {
                // (a + b + 1) >> 1 per lane: the rows per position, then the positions.
                const int64_t row_bytes = sw * 4;
                const __m128i wx1 = sample_wx[at].lanes, wx2 = sample_wx[at + 1].lanes;
                const __m128i left = _mm_avg_epu16(SampleLanes(first_row + x1 * 4, row_bytes, wx1, wy1),
                                                   SampleLanes(second_row + x1 * 4, row_bytes, wx1, wy2));
                const __m128i right = _mm_avg_epu16(SampleLanes(first_row + x2 * 4, row_bytes, wx2, wy1),
                                                    SampleLanes(second_row + x2 * 4, row_bytes, wx2, wy2));
                const int32_t packed =
                    _mm_cvtsi128_si32(_mm_packus_epi16(_mm_avg_epu16(left, right), _mm_setzero_si128()));
                std::memcpy(q, &packed, 4);
                continue;
            }
#endif
            int32_t s11[4], s12[4], s21[4], s22[4];
            Sample(s11, p.source_pixels, sw, x1, r1, fx1, fy1);
            Sample(s12, p.source_pixels, sw, x1, r2, fx1, fy2);
            Sample(s21, p.source_pixels, sw, x2, r1, fx2, fy1);
            Sample(s22, p.source_pixels, sw, x2, r2, fx2, fy2);
            for (int k = 0; k < 4; ++k) {
                const int32_t left = (s11[k] + s12[k] + 1) >> 1;
                const int32_t right = (s21[k] + s22[k] + 1) >> 1;
                q[k] = uint8_t((left + right + 1) >> 1);
            }
        }
    }
}

}  // namespace

void ScaleCgSupersampled(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x1_100,
                         int32_t y1_100, int32_t x2_100, int32_t y2_100, int32_t source_width,
                         int32_t source_height, int32_t width100, int32_t height100) {
    const int64_t w = width100 / 100, h = height100 / 100;
    if (w <= 0 || h <= 0 || destination.size() / 4 < uint64_t(w) * uint64_t(h)) return;
    const int64_t sw = source_width, sh = source_height;
    // Each sample reads the pixel to its right and the row below: the
    // engine block's spare row and four spare bytes.
    if (sw <= 0 || sh <= 0 || source.size() / 4 < uint64_t(sw) * uint64_t(sh + 1) + 1) {
        std::memset(destination.data(), 0, size_t(w * h * 4));
        return;
    }
    const int64_t m = Divisor(width100), n = Divisor(height100);
    const int64_t span_x = int64_t{x2_100} - x1_100, span_y = int64_t{y2_100} - y1_100;
    const int64_t base_x = x1_100 / 100, base_y = y1_100 / 100;

    // Outputs whose sample lies on the source: after a leading run before
    // it, up to the first outside it.
    auto valid = [](int64_t count, int64_t limit, auto source_index, int64_t& first, int64_t& end) {
        first = 0;
        while (first < count && source_index(first) < 0) ++first;
        end = first;
        while (end < count) {
            const int64_t index = source_index(end);
            if (index < 0 || index >= limit) break;
            ++end;
        }
    };
    int64_t first_row, end_row, first_column, end_column;
    valid(h, sh, [&](int64_t i) { return base_y + (((i * 256 * span_y) / n) >> 8); }, first_row, end_row);
    valid(w, sw, [&](int64_t j) { return base_x + (((j * 256 * span_x) / m) >> 8); }, first_column, end_column);
    PixelKernels.zero_bytes(destination.data(), first_row * w * 4);
    if (end_row < h) PixelKernels.zero_bytes(destination.data() + end_row * w * 4, (h - end_row) * w * 4);

    SupersampleTables tables;
    tables.columns.resize(size_t(2 * w));
    for (int64_t l = 0; l < w; ++l) {
        tables.columns[size_t(2 * l)] = (256 * l * span_x) / m;
        tables.columns[size_t(2 * l + 1)] = ((256 * l + 128) * span_x) / m;
    }

    WorkerJob prototype;
    prototype.code = kJobScaleSupersampled;
    prototype.first_column = first_column;
    prototype.end_column = end_column;
    prototype.resample = WorkerResampleParams{x1_100, y1_100, x2_100, y2_100, sw, sh, width100, height100,
                                              destination.data(), source.data()};
    prototype.context = &tables;
    const int workers = std::clamp(WorkerCount(), 1, kMaxWorkers);
    std::array<WorkerJob, kMaxWorkers> jobs;
    for (int k = 0; k < workers; ++k) {
        jobs[size_t(k)] = prototype;
        jobs[size_t(k)].first_row = first_row + k * (end_row - first_row) / workers;
        jobs[size_t(k)].end_row = first_row + (k + 1) * (end_row - first_row) / workers;
    }
    PostWorkerJobs(std::span<const WorkerJob>(jobs.data(), size_t(workers)));
}

void ForcePlainSupersampleLoops(bool force) { force_plain_loops = force; }

void RegisterEffectJobs() { RegisterWorkerJob(kJobScaleSupersampled, RunSupersampleJob); }

}  // namespace zk
