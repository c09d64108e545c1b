#include "renderer/cpu_scalers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "layers/pixel_kernels.h"
#include "layers/worker_pool.h"
#include "base/never.h"

namespace zk {

namespace {

// Pixels [begin, end) of a row or column.
struct IndexRange {
    int64_t begin = 0, end = 0;
    bool Empty() const { return begin >= end; }
};

void ZeroBytes(uint8_t* bytes, int64_t count) {
    if (count > 0) PixelKernels.zero_bytes(bytes, count);
}

// A job of the threaded scalers, before its rows are given out.
WorkerJob ScaleJobFor(int32_t code, const IndexRange& columns, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                      int32_t source_width, int32_t source_height, int32_t destination_width,
                      int32_t destination_height, uint8_t* destination, const uint8_t* source) {
    WorkerJob job;
    job.code = code;
    job.first_column = columns.begin;
    job.end_column = columns.end;
    job.resample = WorkerResampleParams{x0, y0, x1, y1, source_width, source_height, destination_width,
                                        destination_height, destination, source};
    return job;
}

// Worker k of n takes rows first + k * (end - first) / n up to the next
// worker's first; returns when every band is done.
void PostScaleRows(const WorkerJob& prototype, const IndexRange& rows) {
    const int workers = std::clamp(WorkerCount(), 1, kMaxWorkers);
    std::array<WorkerJob, kMaxWorkers> jobs;
    for (int k = 0; k < workers; ++k) {
        const RowBand band = BandOfRows(rows.end - rows.begin, k, workers);
        jobs[size_t(k)] = prototype;
        jobs[size_t(k)].first_row = rows.begin + band.first;
        jobs[size_t(k)].end_row = rows.begin + band.end;
    }
    PostWorkerJobs(std::span<const WorkerJob>(jobs.data(), size_t(workers)));
}

// Positions beyond this are far outside any source; clamping them keeps
// every later sum and shift inside 64 bits.
constexpr int64_t kPositionLimit = int64_t{1} << 62;
constexpr size_t kInitialTableEntries = 8192;

// One axis of a bilinear scale: destination pixel i samples source pixel
// base + (Position(i) >> 8) with weight Position(i) & 255.
struct BilinearAxis {
    int64_t count = 0;  // destination pixels
    int64_t base = 0;   // the rectangle's first source pixel (c0 / 100)
    int64_t inner = 0;  // the start fraction, inside the product when reducing
    int64_t outer = 0;  // or added after it when enlarging
    int64_t span = 0;   // c1 - c0, 1/100 pixel
    int64_t divisor = 100;
};

BilinearAxis PlanBilinearAxis(int32_t c0, int32_t c1, int32_t destination_size) {
    BilinearAxis axis;
    axis.count = destination_size / 100;
    axis.base = c0 / 100;
    const int64_t fraction = (int64_t{c0 % 100} * 256) / 100;
    axis.span = int64_t{c1} - c0;
    // A single destination pixel (size 100) would divide by 0.
    axis.divisor = destination_size == 100 ? 100 : int64_t{destination_size} - 100;
    if (destination_size < axis.span) {
        axis.inner = fraction;
    } else {
        axis.outer = fraction;
    }
    return axis;
}

int64_t BilinearPosition(const BilinearAxis& axis, int64_t i) {
    // The product reaches past 64 bits only for sizes no image has; 128 bits
    // keep such arguments harmless rather than undefined.
    const __int128 product = static_cast<__int128>(axis.inner + 256 * i) * axis.span;
    const __int128 position = product / axis.divisor + axis.outer;
    return static_cast<int64_t>(std::clamp<__int128>(position, -kPositionLimit, kPositionLimit));
}

int64_t SharpenPosition(int64_t position) {
    return (position & ~int64_t{255}) | SharpenWeightTable()[static_cast<size_t>(position & 255)];
}

// Destination pixels [first, end) whose source pixel lies in [0, limit):
// the leading pixels before the source starts are skipped, and the range
// ends at the first pixel outside it.
template <class SourceIndex>
IndexRange ValidRange(int64_t count, int64_t limit, SourceIndex source_index) {
    int64_t first = 0;
    while (first < count && source_index(first) < 0) ++first;
    int64_t end = first;
    // Positions only grow for a rectangle given in order; a reversed one
    // could turn back below 0, so that ends the range too.
    while (end < count) {
        const int64_t index = source_index(end);
        if (index < 0 || index >= limit) break;
        ++end;
    }
    return IndexRange{first, end};
}

void EnsureEntries(std::vector<int64_t>& table, int64_t count) {
    const size_t wanted = std::max(kInitialTableEntries, static_cast<size_t>(count));
    if (table.size() < wanted) table.resize(wanted);
}

// Bytes a destination of count_x x count_y pixels needs (both positive).
uint64_t DestinationBytes(int64_t count_x, int64_t count_y) {
    return static_cast<uint64_t>(count_x) * static_cast<uint64_t>(count_y) * 4;
}

// Whether the source block holds a width x height image, with the spare
// row and four spare bytes when `spare`. An image with no pixels is read
// nowhere, so any block holds it.
bool SourceHolds(std::span<const uint8_t> source, int32_t width, int32_t height, bool spare) {
    if (width <= 0 || height <= 0) return true;
    const uint64_t pixels = spare ? uint64_t(width) * (uint64_t(height) + 1) + 1 : uint64_t(width) * uint64_t(height);
    return pixels <= source.size() / 4;
}

void ZeroRows(uint8_t* destination, int64_t row_bytes, int64_t first_row, int64_t end_row) {
    if (end_row <= first_row) return;
    ZeroBytes(destination + first_row * row_bytes, (end_row - first_row) * row_bytes);
}

// Zeroes a row's pixels before and after the valid columns.
void ZeroColumnsOutside(uint8_t* row, int64_t width, const IndexRange& columns) {
    const int64_t first = std::clamp<int64_t>(columns.begin, 0, width);
    const int64_t end = std::clamp<int64_t>(columns.end, first, width);
    ZeroBytes(row, first * 4);
    ZeroBytes(row + end * 4, (width - end) * 4);
}

bool force_plain_loops = false;

// The bilinear row loops. `row0` is the sampled source row and `row1` the
// one below it; destination column c reads the pixel at byte base_bytes +
// (its column offset) of both, and the pixel after it. Columns outside
// `columns` are not touched. The SSE2 loops compute exactly the plain
// loops' per-byte formulas: every product and sum fits an unsigned 16-bit
// word, so 16-bit lanes hold them exactly.

void PlainBilinearRowBytes(uint8_t* d, const uint8_t* row0, const uint8_t* row1, const int64_t* positions,
                           int64_t base_bytes, const IndexRange& columns, uint32_t fy) {
    for (int64_t c = columns.begin; c < columns.end; ++c) {
        const int64_t position = positions[c];
        const uint32_t fx = static_cast<uint32_t>(position & 255);
        const size_t offset = static_cast<size_t>(base_bytes + (position >> 8) * 4);
        const uint8_t* p0 = row0 + offset;
        const uint8_t* p1 = row1 + offset;
        uint8_t* q = d + c * 4;
        for (int k = 0; k < 4; ++k) {
            const uint32_t top = (p0[k] * (256 - fx) + p0[k + 4] * fx) >> 8;
            const uint32_t bottom = (p1[k] * (256 - fx) + p1[k + 4] * fx) >> 8;
            q[k] = static_cast<uint8_t>((top * (256 - fy) + bottom * fy) >> 8);
        }
    }
}

void ThreadedBilinearRowBytes(uint8_t* d, const uint8_t* row0, const uint8_t* row1, const int64_t* offsets,
                              const uint64_t* weights, int64_t base_bytes, const IndexRange& columns, uint32_t fy) {
    for (int64_t c = columns.begin; c < columns.end; ++c) {
        const uint32_t fx = static_cast<uint32_t>(weights[c] & 0xFFFF);
        const size_t offset = static_cast<size_t>(base_bytes + offsets[c]);
        const uint8_t* p0 = row0 + offset;
        const uint8_t* p1 = row1 + offset;
        uint8_t* q = d + c * 4;
        for (int k = 0; k < 4; ++k) {
            // The high halves of the two 16 x 16-bit products, summed with
            // byte saturation.
            const uint32_t h0 = p0[k] * (256 - fx) + p0[k + 4] * fx;
            const uint32_t h1 = p1[k] * (256 - fx) + p1[k + 4] * fx;
            q[k] = static_cast<uint8_t>(std::min<uint32_t>(255, ((h0 * (256 - fy)) >> 16) + ((h1 * fy) >> 16)));
        }
    }
}

#if defined(__SSE2__)
// The two horizontal sums of a pixel and its right neighbour in both rows,
// weighted by wx = [256 - fx] x 4, [fx] x 4: [top sum] x 4, [bottom sum] x 4.
inline __m128i HorizontalSums(const uint8_t* p0, const uint8_t* p1, __m128i wx) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i top = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0)), zero), wx);
    const __m128i bottom =
        _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1)), zero), wx);
    return _mm_add_epi16(_mm_unpacklo_epi64(top, bottom), _mm_unpackhi_epi64(top, bottom));
}

inline __m128i PairWeights(__m128i weight) {
    return _mm_unpacklo_epi64(_mm_sub_epi16(_mm_set1_epi16(256), weight), weight);
}

// The low four words plus the high four.
inline __m128i AddHalves(__m128i words) { return _mm_add_epi16(words, _mm_srli_si128(words, 8)); }

// Packs the low four words with byte saturation and stores them.
inline void StorePixel(uint8_t* q, __m128i words) {
    const int32_t pixel = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(q, &pixel, 4);
}

void PlainBilinearRowSse2(uint8_t* d, const uint8_t* row0, const uint8_t* row1, const int64_t* positions,
                          int64_t base_bytes, const IndexRange& columns, uint32_t fy) {
    const __m128i wy = PairWeights(_mm_set1_epi16(static_cast<int16_t>(fy)));
    for (int64_t c = columns.begin; c < columns.end; ++c) {
        const int64_t position = positions[c];
        const size_t offset = static_cast<size_t>(base_bytes + (position >> 8) * 4);
        const __m128i wx = PairWeights(_mm_set1_epi16(static_cast<int16_t>(position & 255)));
        const __m128i rows = _mm_srli_epi16(HorizontalSums(row0 + offset, row1 + offset, wx), 8);
        StorePixel(d + c * 4, _mm_srli_epi16(AddHalves(_mm_mullo_epi16(rows, wy)), 8));
    }
}

void ThreadedBilinearRowSse2(uint8_t* d, const uint8_t* row0, const uint8_t* row1, const int64_t* offsets,
                             const uint64_t* weights, int64_t base_bytes, const IndexRange& columns, uint32_t fy) {
    const __m128i wy = PairWeights(_mm_set1_epi16(static_cast<int16_t>(fy)));
    for (int64_t c = columns.begin; c < columns.end; ++c) {
        const size_t offset = static_cast<size_t>(base_bytes + offsets[c]);
        const __m128i wx = PairWeights(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + c)));
        const __m128i rows = HorizontalSums(row0 + offset, row1 + offset, wx);
        StorePixel(d + c * 4, AddHalves(_mm_mulhi_epu16(rows, wy)));
    }
}
#endif

void PlainBilinearRow(uint8_t* d, const uint8_t* row0, const uint8_t* row1, const int64_t* positions,
                      int64_t base_bytes, const IndexRange& columns, uint32_t fy) {
#if defined(__SSE2__)
    if (!force_plain_loops) return PlainBilinearRowSse2(d, row0, row1, positions, base_bytes, columns, fy);
#endif
    PlainBilinearRowBytes(d, row0, row1, positions, base_bytes, columns, fy);
}

void ThreadedBilinearRow(uint8_t* d, const uint8_t* row0, const uint8_t* row1, const int64_t* offsets,
                         const uint64_t* weights, int64_t base_bytes, const IndexRange& columns, uint32_t fy) {
#if defined(__SSE2__)
    if (!force_plain_loops) return ThreadedBilinearRowSse2(d, row0, row1, offsets, weights, base_bytes, columns, fy);
#endif
    ThreadedBilinearRowBytes(d, row0, row1, offsets, weights, base_bytes, columns, fy);
}

bool ScaleBilinearWithTables(ResampleCoordTables& tables, std::span<uint8_t> destination,
                             std::span<const uint8_t> source, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                             int32_t source_width, int32_t source_height, int32_t destination_width,
                             int32_t destination_height) {
    const BilinearAxis ax = PlanBilinearAxis(x0, x1, destination_width);
    const BilinearAxis ay = PlanBilinearAxis(y0, y1, destination_height);
    if (ax.count <= 0 || ay.count <= 0) return true;  // no destination pixels
    const uint64_t destination_bytes = DestinationBytes(ax.count, ay.count);
    if (destination.size() < destination_bytes) return false;
    if (!SourceHolds(source, source_width, source_height, true)) {
        ZeroBytes(destination.data(), static_cast<int64_t>(destination_bytes));
        return false;
    }

    EnsureEntries(tables.columns, ax.count);
    EnsureEntries(tables.rows, ay.count);
    for (int64_t c = 0; c < ax.count; ++c) tables.columns[c] = SharpenPosition(BilinearPosition(ax, c));
    for (int64_t r = 0; r < ay.count; ++r) tables.rows[r] = BilinearPosition(ay, r);
    const IndexRange columns =
        ValidRange(ax.count, source_width, [&](int64_t c) { return ax.base + (tables.columns[c] >> 8); });
    const IndexRange rows = ValidRange(ay.count, source_height, [&](int64_t r) { return ay.base + (tables.rows[r] >> 8); });

    uint8_t* out = destination.data();
    const int64_t row_bytes = ax.count * 4;
    ZeroRows(out, row_bytes, 0, rows.begin);
    ZeroRows(out, row_bytes, rows.end, ay.count);
    const size_t source_pitch = static_cast<size_t>(source_width) * 4;
    for (int64_t r = rows.begin; r < rows.end; ++r) {
        uint8_t* d = out + r * row_bytes;
        ZeroColumnsOutside(d, ax.count, columns);
        // Vertical weights are never sharpened.
        const int64_t position_y = tables.rows[r];
        const uint32_t fy = static_cast<uint32_t>(position_y & 255);
        const int64_t sy = ay.base + (position_y >> 8);
        const uint8_t* row0 = source.data() + static_cast<size_t>(sy) * source_pitch;
        PlainBilinearRow(d, row0, row0 + source_pitch, tables.columns.data(), ax.base * 4, columns, fy);
    }
    return true;
}

// Nearest mapping: destination pixel i takes source pixel origin + ((i *
// step) >> 16). Kept in 64 bits: a 32-bit step overflows for spans of
// 32768 pixels and more.
int64_t NearestStep(int32_t c0, int32_t c1, int32_t destination_size) {
    return ((int64_t{c1} - c0 + 1) * 65536) / destination_size;
}

}  // namespace

const std::array<uint8_t, 256>& SharpenWeightTable() {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double value = std::trunc((i - 128) * 1.25 + 128.0);
            t[static_cast<size_t>(i)] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
        }
        return t;
    }();
    return table;
}

ResampleCoordTables& TheResampleCoordTables() {
    static ResampleCoordTables tables;
    return tables;
}

ResampleCoordTables& TheOwnResampleCoordTables() {
    static ResampleCoordTables tables;
    return tables;
}

bool ScaleBilinear(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x0, int32_t y0,
                   int32_t x1, int32_t y1, int32_t source_width, int32_t source_height, int32_t destination_width,
                   int32_t destination_height) {
    return ScaleBilinearWithTables(TheResampleCoordTables(), destination, source, x0, y0, x1, y1, source_width,
                                   source_height, destination_width, destination_height);
}

bool ScaleBilinearOwnTables(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x0, int32_t y0,
                            int32_t x1, int32_t y1, int32_t source_width, int32_t source_height,
                            int32_t destination_width, int32_t destination_height) {
    return ScaleBilinearWithTables(TheOwnResampleCoordTables(), destination, source, x0, y0, x1, y1, source_width,
                                   source_height, destination_width, destination_height);
}

bool ScaleBilinearThreaded(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x0, int32_t y0,
                           int32_t x1, int32_t y1, int32_t source_width, int32_t source_height,
                           int32_t destination_width, int32_t destination_height) {
    const BilinearAxis ax = PlanBilinearAxis(x0, x1, destination_width);
    const BilinearAxis ay = PlanBilinearAxis(y0, y1, destination_height);
    if (ax.count <= 0 || ay.count <= 0) return true;
    const uint64_t destination_bytes = DestinationBytes(ax.count, ay.count);
    if (destination.size() < destination_bytes) return false;
    uint8_t* out = destination.data();
    if (!SourceHolds(source, source_width, source_height, true)) {
        ZeroBytes(out, static_cast<int64_t>(destination_bytes));
        return false;
    }

    ResampleCoordTables& tables = TheResampleCoordTables();
    EnsureEntries(tables.columns, ax.count);
    EnsureEntries(tables.rows, ay.count);
    if (tables.column_weights.size() < tables.columns.size()) tables.column_weights.resize(tables.columns.size());
    for (int64_t c = 0; c < ax.count; ++c) {
        const int64_t position = SharpenPosition(BilinearPosition(ax, c));
        tables.columns[c] = (position >> 8) * 4;
        tables.column_weights[c] = static_cast<uint64_t>(position & 255) * 0x0001000100010001ull;
    }
    for (int64_t r = 0; r < ay.count; ++r) tables.rows[r] = BilinearPosition(ay, r);
    const IndexRange columns =
        ValidRange(ax.count, source_width, [&](int64_t c) { return ax.base + tables.columns[c] / 4; });
    const IndexRange rows = ValidRange(ay.count, source_height, [&](int64_t r) { return ay.base + (tables.rows[r] >> 8); });
    if (columns.Empty() || rows.Empty()) {
        ZeroBytes(out, static_cast<int64_t>(destination_bytes));
        return true;
    }

    const int64_t row_bytes = ax.count * 4;
    ZeroRows(out, row_bytes, 0, rows.begin);
    ZeroRows(out, row_bytes, rows.end, ay.count);
    WorkerJob job = ScaleJobFor(kJobScaleBilinear, columns, x0, y0, x1, y1, source_width, source_height,
                                destination_width, destination_height, out, source.data());
    job.context = &tables;  // the column offsets and weights
    PostScaleRows(job, rows);
    return true;
}

bool ScaleNearestThreaded(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x0, int32_t y0,
                          int32_t x1, int32_t y1, int32_t source_width, int32_t source_height,
                          int32_t destination_width, int32_t destination_height) {
    if (destination_width <= 0 || destination_height <= 0) return true;
    const uint64_t destination_bytes = DestinationBytes(destination_width, destination_height);
    if (destination.size() < destination_bytes) return false;
    uint8_t* out = destination.data();
    if (!SourceHolds(source, source_width, source_height, false)) {
        ZeroBytes(out, static_cast<int64_t>(destination_bytes));
        return false;
    }

    const int64_t step_x = NearestStep(x0, x1, destination_width);
    const int64_t step_y = NearestStep(y0, y1, destination_height);
    const IndexRange columns =
        ValidRange(destination_width, source_width, [&](int64_t c) { return x0 + ((c * step_x) >> 16); });
    const IndexRange rows =
        ValidRange(destination_height, source_height, [&](int64_t r) { return y0 + ((r * step_y) >> 16); });

    const int64_t row_bytes = int64_t{destination_width} * 4;
    ZeroRows(out, row_bytes, 0, rows.begin);
    ZeroRows(out, row_bytes, rows.end, destination_height);
    const WorkerJob job = ScaleJobFor(kJobScaleNearest, columns, x0, y0, x1, y1, source_width, source_height,
                                      destination_width, destination_height, out, source.data());
    PostScaleRows(job, rows);
    return true;
}

// --- the jobs -----------------------------------------------------------------

namespace {

// Int32 arguments came in; the job record widens them.
int32_t Narrow(int64_t value) { return static_cast<int32_t>(value); }

// Job 21: a band of ScaleBilinearThreaded.
void RunBilinearJob(const WorkerJob& job, int worker) {
    (void)worker;
    if (ZK_NEVER(job.context == nullptr)) return;  // only ScaleBilinearThreaded posts job 21
    const WorkerResampleParams& p = job.resample;
    const auto& tables = *static_cast<const ResampleCoordTables*>(job.context);
    const BilinearAxis ax = PlanBilinearAxis(Narrow(p.x0), Narrow(p.x1), Narrow(p.destination_width));
    const BilinearAxis ay = PlanBilinearAxis(Narrow(p.y0), Narrow(p.y1), Narrow(p.destination_height));
    const IndexRange columns{job.first_column, job.end_column};
    const int64_t row_bytes = ax.count * 4;
    const size_t source_pitch = static_cast<size_t>(p.source_width) * 4;
    const int64_t* offsets = tables.columns.data();
    const uint64_t* weights = tables.column_weights.data();
    for (int64_t r = job.first_row; r < job.end_row; ++r) {
        uint8_t* d = p.destination_pixels + r * row_bytes;
        ZeroColumnsOutside(d, ax.count, columns);
        const int64_t position_y = BilinearPosition(ay, r);  // never sharpened
        const uint32_t fy = static_cast<uint32_t>(position_y & 255);
        const int64_t sy = ay.base + (position_y >> 8);
        const uint8_t* row0 = p.source_pixels + static_cast<size_t>(sy) * source_pitch;
        ThreadedBilinearRow(d, row0, row0 + source_pitch, offsets, weights, ax.base * 4, columns, fy);
    }
}

// Job 11: a band of ScaleNearestThreaded.
void RunNearestJob(const WorkerJob& job, int worker) {
    (void)worker;
    const WorkerResampleParams& p = job.resample;
    const int64_t step_x = NearestStep(Narrow(p.x0), Narrow(p.x1), Narrow(p.destination_width));
    const int64_t step_y = NearestStep(Narrow(p.y0), Narrow(p.y1), Narrow(p.destination_height));
    const IndexRange columns{job.first_column, job.end_column};
    const int64_t row_bytes = p.destination_width * 4;
    const size_t source_pitch = static_cast<size_t>(p.source_width) * 4;
    for (int64_t r = job.first_row; r < job.end_row; ++r) {
        uint8_t* d = p.destination_pixels + r * row_bytes;
        ZeroColumnsOutside(d, p.destination_width, columns);
        const int64_t sy = p.y0 + ((r * step_y) >> 16);
        const uint8_t* row = p.source_pixels + static_cast<size_t>(sy) * source_pitch;
        int64_t accumulated = columns.begin * step_x;
        for (int64_t c = columns.begin; c < columns.end; ++c, accumulated += step_x) {
            const int64_t sx = p.x0 + (accumulated >> 16);
            std::memcpy(d + c * 4, row + static_cast<size_t>(sx) * 4, 4);
        }
    }
}

}  // namespace

void ForcePlainScalerLoops(bool force) { force_plain_loops = force; }

void RegisterScalerJobs() {
    RegisterWorkerJob(kJobScaleNearest, RunNearestJob);
    RegisterWorkerJob(kJobScaleBilinear, RunBilinearJob);
}

}  // namespace zk
