// Windowed sinc (Lanczos-2) scaling of a whole image in two passes, rows
// then columns, with weights computed once per pass in 16.16 fixed point.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "effects/cg_result_block.h"
#include "effects/scaling.h"

namespace zk {

namespace {

constexpr double kPi = 3.1415927410125732;  // pi as a float holds it

// One pass: for output index i the source indices first..last and their
// weights.
struct ResampleWeights {
    std::vector<int64_t> first;
    std::vector<int64_t> count;
    std::vector<int64_t> weights;  // count[i] entries from i * stride
    int64_t stride = 0;
};

// The scale of an axis: first maps to first, last to last. A one-pixel
// source or destination has no last distinct from its first; it takes the
// ratio of the sizes instead, so the scale is never 0 and its support
// never unbounded.
double AxisScale(int64_t source_size, int64_t size) {
    if (source_size == 1 || size == 1) return double(size) / double(source_size);
    return double(size - 1) / double(source_size - 1);
}

ResampleWeights BuildResampleWeights(double scale, int64_t outputs) {
    const double support = 2 / scale;
    const int64_t taps = int64_t(2 * support + 1);
    ResampleWeights table;
    table.stride = taps + 3;
    table.first.resize(size_t(outputs + 1));
    table.count.resize(size_t(outputs + 1));
    table.weights.assign(size_t(outputs + 1) * size_t(table.stride), 0);
    for (int64_t i = 0; i <= outputs; ++i) {
        const double centre = double(i) / scale;
        const int64_t first = int64_t(std::floor(centre - support));
        const int64_t last = int64_t(std::ceil(centre + support));
        const int64_t count = std::min<int64_t>(last - first + 1, table.stride);
        table.first[size_t(i)] = first;
        table.count[size_t(i)] = count;
        for (int64_t k = 0; k < count; ++k) {
            const double x = (centre - double(first + k)) * scale;
            table.weights[size_t(i * table.stride + k)] = int64_t(LanczosWindow(x) * scale * 65536);
        }
    }
    return table;
}

// A source index mirrored into 0..size-1: -j before the start, 2 size - 1
// - j past the end, as often as it takes.
int64_t Mirror(int64_t j, int64_t size) {
    if (size <= 1) return 0;
    while (j < 0 || j >= size) j = j < 0 ? -j : 2 * size - 1 - j;
    return j;
}

// sum / (1 + weights), truncated toward zero, clamped to a byte. The
// quotient is taken in double precision: the sums stay far inside 2^53 and
// a true quotient that is not whole lies at least 1 / divisor away from the
// next whole number, much further than the rounding of the division, so the
// truncation equals the integer one.
uint8_t Channel(int64_t sum, double divisor, bool alpha) {
    const int64_t v = int64_t(double(sum) / divisor);
    if (v < 0) return 0;
    if (alpha) return v > 252 ? 255 : uint8_t(v);
    return v > 255 ? 255 : uint8_t(v);
}

// The mirrored source indices of output i and the sum of its weights.
int64_t PrepareTaps(const ResampleWeights& table, int64_t i, int64_t source_size, std::vector<int64_t>& mirrored) {
    const int64_t first = table.first[size_t(i)], count = table.count[size_t(i)];
    const int64_t* weights = table.weights.data() + i * table.stride;
    mirrored.resize(size_t(count));
    int64_t weight_sum = 0;
    for (int64_t k = 0; k < count; ++k) {
        mirrored[size_t(k)] = Mirror(first + k, source_size);
        weight_sum += weights[k];
    }
    return weight_sum;
}

// The divisor of a weight sum: 1 + the sum, and never 0 (a sum of -1).
double DivisorOf(int64_t weight_sum) { return weight_sum == -1 ? 1.0 : double(1 + weight_sum); }

// Along the rows: `in` is in_width x rows, `out` out_width x rows.
void RowPass(uint8_t* out, const uint8_t* in, int64_t in_width, int64_t rows, int64_t out_width,
             const ResampleWeights& table) {
    std::vector<std::vector<int64_t>> mirrored(static_cast<size_t>(out_width));
    std::vector<double> divisors(static_cast<size_t>(out_width));
    for (int64_t i = 0; i < out_width; ++i)
        divisors[size_t(i)] = DivisorOf(PrepareTaps(table, i, in_width, mirrored[size_t(i)]));
    for (int64_t y = 0; y < rows; ++y) {
        const uint8_t* row = in + y * in_width * 4;
        uint8_t* q = out + y * out_width * 4;
        for (int64_t i = 0; i < out_width; ++i, q += 4) {
            const int64_t* weights = table.weights.data() + i * table.stride;
            const std::vector<int64_t>& taps = mirrored[size_t(i)];
            int64_t sum[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < taps.size(); ++k) {
                const uint8_t* p = row + taps[k] * 4;
                for (int c = 0; c < 4; ++c) sum[c] += weights[k] * p[c];
            }
            for (int c = 0; c < 4; ++c) q[c] = Channel(sum[c], divisors[size_t(i)], c == 3);
        }
    }
}

// Along the columns, a whole output row at a time: `in` is width x
// in_height, `out` width x out_height.
void ColumnPass(uint8_t* out, const uint8_t* in, int64_t width, int64_t in_height, int64_t out_height,
                const ResampleWeights& table) {
    std::vector<int64_t> mirrored;
    std::vector<int64_t> sums(size_t(width) * 4);
    for (int64_t i = 0; i < out_height; ++i) {
        const double divisor = DivisorOf(PrepareTaps(table, i, in_height, mirrored));
        const int64_t* weights = table.weights.data() + i * table.stride;
        std::fill(sums.begin(), sums.end(), 0);
        for (size_t k = 0; k < mirrored.size(); ++k) {
            const uint8_t* row = in + mirrored[k] * width * 4;
            const int64_t weight = weights[k];
            for (int64_t b = 0; b < width * 4; ++b) sums[size_t(b)] += weight * row[b];
        }
        uint8_t* q = out + i * width * 4;
        for (int64_t b = 0; b < width * 4; ++b) q[b] = Channel(sums[size_t(b)], divisor, (b & 3) == 3);
    }
}

}  // namespace

double Sinc(double x) {
    if (x == 0) return 1;
    return std::sin(kPi * x) / (kPi * x);
}

double LanczosWindow(double x) { return std::fabs(x) < 2 ? Sinc(x) * Sinc(x / 2) : 0; }

bool ScaleCgLanczos(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t source_width,
                    int32_t source_height, int32_t width, int32_t height) {
    const int64_t sw = source_width, sh = source_height, w = width, h = height;
    if (w <= 0 || h <= 0 || destination.size() / 4 < uint64_t(w) * uint64_t(h)) return true;
    if (sw <= 0 || sh <= 0 || source.size() / 4 < uint64_t(sw) * uint64_t(sh)) {
        std::memset(destination.data(), 0, size_t(w * h * 4));
        return true;
    }
    PixelBlock between = AllocCgResultBlock(w, sh);
    if (between.empty()) return false;
    RowPass(between.data(), source.data(), sw, sh, w, BuildResampleWeights(AxisScale(sw, w), w));
    ColumnPass(destination.data(), between.data(), w, sh, h, BuildResampleWeights(AxisScale(sh, h), h));
    return true;
}

}  // namespace zk
