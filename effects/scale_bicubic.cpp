#include <algorithm>
#include <cstring>
#include <vector>

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
    for (int64_t i = first_row; i < end_row; ++i) {
        const int64_t sy = y1 + (rows[size_t(i)] >> 8);
        int32_t row_weights[4];
        tap_weights(rows[size_t(i)] & 255, row_weights);
        uint8_t* out = destination.data() + (i * w + first_column) * 4;
        for (int64_t j = first_column; j < end_column; ++j, out += 4) {
            const int64_t sx = x1 + (columns[size_t(j)] >> 8);
            int32_t column_weights[4];
            tap_weights(columns[size_t(j)] & 255, column_weights);
            // Weights of at most 256 and bytes keep every sum inside 32 bits.
            int32_t sum[4] = {0, 0, 0, 0}, weights = 0;
            const int64_t first_index = (sy - 1) * sw + (sx - 1), last_index = (sy + 2) * sw + (sx + 2);
            const bool all_inside = first_index >= 0 && last_index < pixels;  // ONLY FOR SPEED: no tap to skip
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
