#include "effects/pixel_filters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "layers/pixel_kernels.h"

namespace zk {

namespace {

inline const uint8_t* At(const uint8_t* pixels, const CgArea& area, int64_t x, int64_t y) {
    return pixels + (y * area.width + x) * 4;
}
inline uint8_t* At(uint8_t* pixels, const CgArea& area, int64_t x, int64_t y) {
    return pixels + (y * area.width + x) * 4;
}
inline uint8_t* OutAt(uint8_t* out, const CgArea& area, int64_t x, int64_t y) {
    return out + ((y - area.y1) * int64_t{area.Columns()} + (x - area.x1)) * 4;
}
inline uint8_t ClampByte(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }

// Runs `pixel` (output pixel, source pixel) over the rectangle.
template <class Fn>
void MapPixels(uint8_t* out, const uint8_t* source, const CgArea& area, Fn pixel) {
    for (int64_t y = area.y1; y <= area.y2; ++y) {
        uint8_t* o = OutAt(out, area, area.x1, y);
        const uint8_t* s = At(source, area, area.x1, y);
        for (int64_t x = area.x1; x <= area.x2; ++x, o += 4, s += 4) pixel(o, s);
    }
}

// Radians from degrees with the single-precision factor the waves use.
inline double WaveRadians(int64_t degrees) { return double(float(degrees) * 0.017453292f); }

}  // namespace

const uint8_t ShufflePermutations[24][4] = {
    {3, 2, 1, 0}, {2, 3, 1, 0}, {3, 1, 2, 0}, {1, 3, 2, 0}, {2, 1, 3, 0}, {1, 2, 3, 0},
    {3, 2, 0, 1}, {2, 3, 0, 1}, {3, 0, 2, 1}, {0, 3, 2, 1}, {2, 0, 3, 1}, {0, 2, 3, 1},
    {3, 1, 0, 2}, {1, 3, 0, 2}, {3, 0, 1, 2}, {0, 3, 1, 2}, {1, 0, 3, 2}, {0, 1, 3, 2},
    {2, 1, 0, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {0, 2, 1, 3}, {1, 0, 2, 3}, {0, 1, 2, 3},
};

SwirlDistanceCache& TheSwirlDistanceCache() {
    static SwirlDistanceCache cache;
    return cache;
}

Mt19937& ShuffleRandom() {
    static Mt19937 random;
    return random;
}

void CopyRectRows(uint8_t* out, const uint8_t* source, const CgArea& area) {
    const int64_t row_bytes = int64_t{area.Columns()} * 4;
    for (int64_t y = area.y1; y <= area.y2; ++y) {
        PixelKernels.copy_bytes(OutAt(out, area, area.x1, y), At(source, area, area.x1, y), row_bytes);
    }
}

void AdjustCgBrightness(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value) {
    const int64_t shift = int64_t{value} - 128;
    MapPixels(out, source, area, [shift](uint8_t* o, const uint8_t* s) {
        for (int c = 0; c < 3; ++c) o[c] = ClampByte(s[c] + shift);
        o[3] = s[3];
    });
}

void NegateCg(uint8_t* out, const uint8_t* source, const CgArea& area) {
    MapPixels(out, source, area, [](uint8_t* o, const uint8_t* s) {
        for (int c = 0; c < 3; ++c) o[c] = uint8_t(255 - s[c]);
        o[3] = s[3];
    });
}

void SepiaCg(uint8_t* out, const uint8_t* source, const CgArea& area) {
    MapPixels(out, source, area, [](uint8_t* o, const uint8_t* s) {
        const int64_t l = (117 * int64_t{s[0]} + 601 * int64_t{s[1]} + 306 * int64_t{s[2]}) * 1024;
        // Division truncating toward zero, as the ramp's offsets were fitted with.
        o[0] = ClampByte((l - 46347025) / 1048576);
        o[1] = ClampByte((l - 287585) / 1048576);
        o[2] = ClampByte((l + 18748416) / 1048576);
        o[3] = s[3];
    });
}

void MirrorCg(uint8_t* out, const uint8_t* source, const CgArea& area) {
    const int64_t columns = area.Columns();
    std::vector<uint32_t> row(static_cast<size_t>(columns));
    for (int64_t y = area.y1; y <= area.y2; ++y) {
        // Source columns W - 1 - x2 .. W - 1 - x1, read forward, written backward.
        std::memcpy(row.data(), At(source, area, area.width - 1 - area.x2, y), size_t(columns) * 4);
        std::reverse(row.begin(), row.end());
        std::memcpy(OutAt(out, area, area.x1, y), row.data(), size_t(columns) * 4);
    }
}

void FlipCg(uint8_t* out, const uint8_t* source, const CgArea& area) {
    const int64_t row_bytes = int64_t{area.Columns()} * 4;
    for (int64_t y = area.y1; y <= area.y2; ++y) {
        PixelKernels.copy_bytes(OutAt(out, area, area.x1, y), At(source, area, area.x1, area.y2 - y), row_bytes);
    }
}

void WaveDistortCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t op, int32_t amplitude,
                   int32_t phase) {
    const bool rows_shift = op == 21 || op == 23;
    const bool columns_shift = op == 22 || op == 23;
    // The column shift depends on the column only: one table for the rows.
    std::vector<int64_t> column_dy(size_t(area.Columns()), 0);
    if (columns_shift) {
        for (int64_t x = area.x1; x <= area.x2; ++x) {
            column_dy[size_t(x - area.x1)] = int64_t(amplitude * std::cos(WaveRadians(x + int64_t{phase})));
        }
    }
    for (int64_t y = area.y1; y <= area.y2; ++y) {
        const int64_t dx = rows_shift ? int64_t(amplitude * std::sin(WaveRadians(y + int64_t{phase}))) : 0;
        uint8_t* o = OutAt(out, area, area.x1, y);
        for (int64_t x = area.x1; x <= area.x2; ++x, o += 4) {
            // The column is counted from the rectangle's left edge but read
            // from the image's, and clamped to x2 - 1 on the right; never
            // left of the row, also when x2 is 0.
            int64_t sx = x - area.x1 + dx;
            if (sx < 0) sx = 0;
            if (sx > area.x2) sx = std::max<int64_t>(area.x2 - 1, 0);
            const int64_t sy = std::clamp<int64_t>(y + column_dy[size_t(x - area.x1)], area.y1, area.y2);
            std::memcpy(o, At(source, area, sx, sy), 4);
        }
    }
}

void MosaicCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value) {
    const int64_t e = std::max<int64_t>(1, value);
    // The first block edge at or after the rectangle's start that lies a
    // whole number of blocks from the centre.
    auto first_edge = [e](int64_t start, int64_t end) {
        const int64_t centre = (end + 1) / 2;
        return start + (((centre - start) % e) + e) % e;
    };
    const int64_t ox = first_edge(area.x1, area.x2);
    const int64_t oy = first_edge(area.y1, area.y2);
    // The segments of one axis: [start, edge - 1], then blocks of e cut at end.
    auto segments = [e](int64_t start, int64_t edge, int64_t end) {
        std::vector<std::pair<int64_t, int64_t>> list;
        if (edge - 1 >= start) list.emplace_back(start, std::min(edge - 1, end));
        for (int64_t b = edge; b <= end; b += e) list.emplace_back(b, std::min(b + e - 1, end));
        return list;
    };
    const auto columns = segments(area.x1, ox, area.x2);
    const auto rows = segments(area.y1, oy, area.y2);
    for (const auto& [top, bottom] : rows) {
        for (const auto& [left, right] : columns) {
            uint64_t sum[3] = {0, 0, 0};
            for (int64_t y = top; y <= bottom; ++y) {
                const uint8_t* s = At(source, area, left, y);
                for (int64_t x = left; x <= right; ++x, s += 4)
                    for (int c = 0; c < 3; ++c) sum[c] += s[c];
            }
            const uint64_t count = uint64_t(bottom - top + 1) * uint64_t(right - left + 1);
            uint8_t average[3];
            for (int c = 0; c < 3; ++c) average[c] = uint8_t(sum[c] / count);
            for (int64_t y = top; y <= bottom; ++y) {
                const uint8_t* s = At(source, area, left, y);
                uint8_t* o = OutAt(out, area, left, y);
                for (int64_t x = left; x <= right; ++x, s += 4, o += 4) {
                    std::memcpy(o, average, 3);
                    o[3] = s[3];
                }
            }
        }
    }
}

namespace {

// Permutes the colours of the 2x2 block at output (x, y); alpha bytes stay.
void ShuffleBlock(uint8_t* out, int64_t columns, int64_t x, int64_t y, uint32_t pick) {
    uint8_t* cells[4] = {out + (y * columns + x) * 4, out + (y * columns + x + 1) * 4,
                         out + ((y + 1) * columns + x) * 4, out + ((y + 1) * columns + x + 1) * 4};
    uint8_t old[4][3];
    for (int i = 0; i < 4; ++i) std::memcpy(old[i], cells[i], 3);
    const uint8_t* row = ShufflePermutations[pick];
    for (int i = 0; i < 4; ++i) std::memcpy(cells[i], old[row[i]], 3);
}

}  // namespace

void ShuffleCgBlocks(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, Mt19937& random) {
    CopyRectRows(out, source, area);
    const int64_t passes = value / 2;
    const int64_t columns = area.Columns();
    // Output coordinates: the rectangle is 0..x2', 0..y2'.
    const int64_t x2 = area.x2 - area.x1, y2 = area.y2 - area.y1;
    for (int64_t p = 0; p < passes; ++p) {
        if (p >= x2 || p >= y2) break;  // ONLY FOR SPEED: this pass and later ones visit no block
        int64_t per_row = 0;
        for (int64_t x = p; x < x2; x += 2) ++per_row;
        for (int64_t y = p; y < y2; y += 2) {
            for (int64_t x = p; x < x2; x += 2) ShuffleBlock(out, columns, x, y, random.Next() % 24);
        }
        for (int64_t y = y2 - 1; y >= p; y -= 2) {
            int64_t x = x2 - 1 - p;
            for (int64_t n = 0; n < per_row; ++n, x -= 2) ShuffleBlock(out, columns, x, y, random.Next() % 24);
        }
    }
}

void SwirlCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value) {
    const int64_t rw = area.Columns(), rh = area.Rows();
    const int64_t cx = rw / 2, cy = rh / 2;
    const int64_t n = int64_t((std::hypot(double(rw), double(rh)) + 1) * 0.5 + 1);
    std::vector<int64_t> cosines(static_cast<size_t>(n)), sines(static_cast<size_t>(n));
    double angle = value / 10.0;
    const double step = value / (10.0 * double(n));
    for (int64_t i = 0; i < n; ++i) {
        cosines[size_t(i)] = int64_t(std::cos(angle * 0.017453292519444445) * 256);
        sines[size_t(i)] = int64_t(std::sin(angle * 0.017453292519444445) * 256);
        angle -= step;
    }
    SwirlDistanceCache& cache = TheSwirlDistanceCache();
    if (cache.width != rw || cache.height != rh) {
        cache.distances.assign(size_t(rw * rh), 0);
        for (int64_t j = 0; j < rh; ++j)
            for (int64_t k = 0; k < rw; ++k) {
                cache.distances[size_t(j * rw + k)] =
                    uint32_t(std::hypot(double(std::abs(k - cx)), double(std::abs(j - cy))));
            }
        cache.width = int32_t(rw);
        cache.height = int32_t(rh);
    }
    for (int64_t j = 0; j < rh; ++j) {
        uint8_t* o = out + j * rw * 4;
        for (int64_t k = 0; k < rw; ++k, o += 4) {
            // Never above n - 1: the farthest pixel lies half the diagonal away.
            const size_t i = std::min<size_t>(cache.distances[size_t(j * rw + k)], size_t(n - 1));
            const int64_t c = cosines[i], s = sines[i];
            const int64_t sx = std::clamp<int64_t>(cx + (((cy - j) * s + (k - cx) * c) >> 8), 0, rw - 1);
            const int64_t sy = std::clamp<int64_t>(cy + (((k - cx) * s + (j - cy) * c) >> 8), 0, rh - 1);
            std::memcpy(o, At(source, area, area.x1 + sx, area.y1 + sy), 4);
        }
    }
}

void ThresholdCg(uint8_t* pixels, const CgArea& area, int32_t value) {
    const int64_t level = 3 * int64_t{value};
    for (int64_t y = area.y1; y <= area.y2; ++y) {
        uint8_t* p = At(pixels, area, area.x1, y);
        for (int64_t x = area.x1; x <= area.x2; ++x, p += 4) {
            const uint8_t c = (int64_t{p[0]} + p[1] + p[2]) >= level ? 255 : 0;
            p[0] = p[1] = p[2] = c;
        }
    }
}

uint8_t FillCgRect(uint8_t* pixels, const CgArea& area, int32_t sub_operation, uint32_t value, uint8_t flag) {
    const bool whole = area.x1 == 0 && area.y1 == 0 && area.Columns() == area.width && area.Rows() == area.height;
    const int64_t row_bytes = int64_t{area.Columns()} * 4;
    switch (sub_operation) {
        case 1:
            for (int64_t y = area.y1; y <= area.y2; ++y)
                PixelKernels.fill_cells(At(pixels, area, area.x1, y), row_bytes, 0xFF000000u | (value & 0xFFFFFFu));
            return flag;
        case 2: {
            const uint8_t alpha = uint8_t(value);
            for (int64_t y = area.y1; y <= area.y2; ++y) {
                uint8_t* p = At(pixels, area, area.x1, y);
                for (int64_t x = area.x1; x <= area.x2; ++x, p += 4) p[3] = alpha;
            }
            return (alpha == 255 && whole) ? 0 : 1;
        }
        case 3:
            for (int64_t y = area.y1; y <= area.y2; ++y)
                PixelKernels.fill_cells(At(pixels, area, area.x1, y), row_bytes, value);
            return ((value >> 24) == 255 && whole) ? 0 : 1;
        default: return flag;
    }
}

uint8_t FadeCgAlphaColumns(uint8_t* pixels, const CgArea& area, int32_t value, int32_t value2) {
    const int64_t w = area.width;
    const int64_t lo = std::min(value, value2), hi = std::max(value, value2);
    // Alpha of columns [first, last] of every row, scaled by f(x) / 255.
    auto scale_columns = [&](int64_t first, int64_t last, auto factor) {
        first = std::max<int64_t>(first, 0);
        last = std::min<int64_t>(last, w - 1);
        for (int64_t y = area.y1; y <= area.y2; ++y)
            for (int64_t x = first; x <= last; ++x) {
                uint8_t* p = At(pixels, area, x, y);
                p[3] = uint8_t(int64_t{p[3]} * factor(x) / 255);
            }
    };
    auto zero = [](int64_t) { return int64_t{0}; };
    if (value == value2) {
        if (std::max<int64_t>(value, 0) <= w - 1) scale_columns(int64_t{value} + 1, w - 1, zero);
    } else if (value < value2) {
        if (std::max<int64_t>(lo, 0) <= w - 1) {
            scale_columns(lo, hi, [&](int64_t x) { return 255 - 255 * (x - lo) / (hi - lo); });
            scale_columns(hi + 1, w - 1, zero);
        }
    } else if (hi >= 0) {
        scale_columns(0, std::min<int64_t>(std::max<int64_t>(lo, 0), w) - 1, zero);
        scale_columns(lo, hi, [&](int64_t x) { return 255 * (x - lo) / (hi - lo); });
    }
    return 1;
}

}  // namespace zk
