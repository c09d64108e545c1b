#include "effects/blur_filters.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zk {

namespace {

// Beyond this many pixels past the plateau a halved weight of 512 is 0.
constexpr int64_t kMaxTail = 9;

// The shape of one pass: plateau taps within `plateau` of the centre, each
// of weight `plateau_weight`, then `tails` taps per side weighing 512 >> t.
// A box window is all plateau with weight 1.
struct PassShape {
    int64_t plateau = 0;
    uint64_t plateau_weight = 1;
    int64_t tails = 0;
};

PassShape BoxShape(int64_t r) { return PassShape{r, 1, 0}; }
PassShape KernelShape(int64_t r) {
    const int64_t s = (2 * r) / 8;
    return PassShape{s, 512, std::min(r - s, kMaxTail)};
}

int64_t RadiusOf(int32_t value) { return std::max<int64_t>(1, value); }

// Exact division by a fixed divisor through a multiplication (Lemire,
// Kaser and Kurz): for dividends and divisors below 2^32 the high half of
// c * n, with c = (2^64 - 1) / d + 1, is n / d. Larger dividends (windows
// of millions of rows) divide plainly.
struct Divider {
    uint64_t d = 1, c = 0;
    explicit Divider(uint64_t divisor = 1) : d(divisor), c(divisor > 1 ? UINT64_MAX / divisor + 1 : 0) {}
    uint64_t operator()(uint64_t n) const {
        if (d == 1) return n;
        if (n >> 32 != 0 || d >> 32 != 0) return n / d;
        return uint64_t((static_cast<unsigned __int128>(c) * n) >> 64);
    }
};

// The window of output k of a line of `size` pixels: plateau a..b and the
// sum of the weights that fall inside the line.
struct Window {
    int64_t a = 0, b = 0;
    Divider divide;
};

Window WindowAt(int64_t k, int64_t size, const PassShape& shape) {
    Window window;
    window.a = std::max<int64_t>(k - shape.plateau, 0);
    window.b = std::min<int64_t>(k + shape.plateau, size - 1);
    uint64_t weight = shape.plateau_weight * uint64_t(window.b - window.a + 1);
    for (int64_t t = 1; t <= shape.tails; ++t) {
        if (k - shape.plateau - t >= 0) weight += 512u >> t;
        if (k + shape.plateau + t < size) weight += 512u >> t;
    }
    window.divide = Divider(weight);
    return window;
}

// The tails of a kernel window: the taps beyond the plateau on each side,
// tap t (1..T) weighing 512 >> t. Along a line, with x outside the line
// taken as 0 (its weight is not in the divisor either),
//   right(k) = sum over t of (512 >> t) x[k + s + t]
//   left(k)  = sum over t of (512 >> t) x[k - s - t]
// and each follows from the previous position exactly, halving weights
// being what they are:
//   right(k + 1) = 2 (right(k) - 256 x[k + 1 + s]) + (512 >> T) x[k + 1 + s + T]
//   left(k + 1)  = 256 x[k - s] + (left(k) - (512 >> T) x[k - s - T]) / 2
// (the halved difference is a sum of even terms), so the tails cost the
// same at any radius.

// One pass along the rows: `in` points at the rectangle's first pixel, rows
// `in_stride` pixels apart; `out` is rw x rh. Channels [C0, C1) are
// averaged; the others are not written.
template <int C0, int C1>
void RowPass(uint8_t* out, const uint8_t* in, int64_t in_stride, int64_t rw, int64_t rh, const PassShape& shape) {
    std::vector<Window> windows(static_cast<size_t>(rw));
    for (int64_t k = 0; k < rw; ++k) windows[size_t(k)] = WindowAt(k, rw, shape);
    std::vector<uint64_t> prefix(size_t(rw + 1) * 4, 0);
    const int64_t s = shape.plateau, tails = shape.tails;
    const int64_t last_weight = int64_t{512} >> tails;
    for (int64_t y = 0; y < rh; ++y) {
        const uint8_t* row = in + y * in_stride * 4;
        auto x = [&](int64_t i, int c) -> int64_t { return i >= 0 && i < rw ? row[i * 4 + c] : 0; };
        for (int64_t i = 0; i < rw; ++i)
            for (int c = C0; c < C1; ++c) prefix[size_t(i + 1) * 4 + c] = prefix[size_t(i) * 4 + c] + row[i * 4 + c];
        int64_t right[4] = {0, 0, 0, 0}, left[4] = {0, 0, 0, 0};
        for (int64_t t = 1; t <= tails; ++t)
            for (int c = C0; c < C1; ++c) right[c] += (int64_t{512} >> t) * x(s + t, c);
        uint8_t* o = out + y * rw * 4;
        for (int64_t k = 0; k < rw; ++k) {
            const Window& window = windows[size_t(k)];
            for (int c = C0; c < C1; ++c) {
                const uint64_t plateau = prefix[size_t(window.b + 1) * 4 + c] - prefix[size_t(window.a) * 4 + c];
                o[k * 4 + c] = uint8_t(window.divide(shape.plateau_weight * plateau + uint64_t(right[c] + left[c])));
            }
            if (tails == 0) continue;
            for (int c = C0; c < C1; ++c) {
                right[c] = 2 * (right[c] - 256 * x(k + 1 + s, c)) + last_weight * x(k + 1 + s + tails, c);
                left[c] = 256 * x(k - s, c) + (left[c] - last_weight * x(k - s - tails, c)) / 2;
            }
        }
    }
}

// One pass along the columns, a whole output row at a time, with a running
// sum per column of the plateau rows and the tails moved down the same way.
template <int C0, int C1>
void ColumnPass(uint8_t* out, const uint8_t* in, int64_t in_stride, int64_t rw, int64_t rh,
                const PassShape& shape) {
    const int64_t s = shape.plateau, tails = shape.tails;
    const int64_t last_weight = int64_t{512} >> tails;
    std::vector<uint64_t> sums(size_t(rw) * 4, 0);
    std::vector<int64_t> right(tails > 0 ? size_t(rw) * 4 : 0, 0), left(right.size(), 0);
    auto row_at = [&](int64_t y) -> const uint8_t* { return y >= 0 && y < rh ? in + y * in_stride * 4 : nullptr; };
    auto add_row = [&](int64_t y, bool add) {
        const uint8_t* row = row_at(y);
        for (int64_t k = 0; k < rw; ++k)
            for (int c = C0; c < C1; ++c) {
                if (add) sums[size_t(k) * 4 + c] += row[k * 4 + c];
                else sums[size_t(k) * 4 + c] -= row[k * 4 + c];
            }
    };
    for (int64_t t = 1; t <= tails; ++t) {
        if (const uint8_t* row = row_at(s + t))
            for (int64_t k = 0; k < rw; ++k)
                for (int c = C0; c < C1; ++c) right[size_t(k) * 4 + c] += (int64_t{512} >> t) * row[k * 4 + c];
    }
    int64_t a = 0, b = -1;  // rows in the running sums
    for (int64_t y = 0; y < rh; ++y) {
        const int64_t na = std::max<int64_t>(y - s, 0);
        const int64_t nb = std::min<int64_t>(y + s, rh - 1);
        while (b < nb) add_row(++b, true);
        while (a < na) add_row(a++, false);
        const Divider divide = WindowAt(y, rh, shape).divide;
        uint8_t* o = out + y * rw * 4;
        if (tails == 0) {
            for (int64_t k = 0; k < rw; ++k)
                for (int c = C0; c < C1; ++c)
                    o[k * 4 + c] = uint8_t(divide(shape.plateau_weight * sums[size_t(k) * 4 + c]));
            continue;
        }
        for (int64_t k = 0; k < rw; ++k)
            for (int c = C0; c < C1; ++c) {
                const size_t i = size_t(k) * 4 + c;
                o[k * 4 + c] = uint8_t(divide(shape.plateau_weight * sums[i] + uint64_t(right[i] + left[i])));
            }
        // Move the tails to row y + 1.
        const uint8_t* enter = row_at(y + 1 + s);
        const uint8_t* far = row_at(y + 1 + s + tails);
        const uint8_t* leave = row_at(y - s);
        const uint8_t* gone = row_at(y - s - tails);
        for (int64_t k = 0; k < rw; ++k)
            for (int c = C0; c < C1; ++c) {
                const size_t i = size_t(k) * 4 + c;
                const int64_t at = k * 4 + c;
                right[i] = 2 * (right[i] - 256 * (enter != nullptr ? enter[at] : 0)) +
                           last_weight * (far != nullptr ? far[at] : 0);
                left[i] = 256 * (leave != nullptr ? leave[at] : 0) +
                          (left[i] - last_weight * (gone != nullptr ? gone[at] : 0)) / 2;
            }
    }
}

const uint8_t* Origin(const uint8_t* source, const CgArea& area) {
    return source + (int64_t{area.y1} * area.width + area.x1) * 4;
}

// Alpha of every output pixel from the source pixel at the same place.
void CopySourceAlpha(uint8_t* out, const uint8_t* source, const CgArea& area) {
    const int64_t rw = area.Columns(), rh = area.Rows();
    const uint8_t* origin = Origin(source, area);
    for (int64_t y = 0; y < rh; ++y)
        for (int64_t x = 0; x < rw; ++x) out[(y * rw + x) * 4 + 3] = origin[(y * area.width + x) * 4 + 3];
}

void ZeroColour(uint8_t* out, const CgArea& area) {
    const int64_t pixels = int64_t{area.Columns()} * area.Rows();
    for (int64_t i = 0; i < pixels; ++i) std::memset(out + i * 4, 0, 3);
}

// Rows into an intermediate image, then its columns into `out`.
template <int C0, int C1>
void TwoPass(uint8_t* out, const uint8_t* source, const CgArea& area, const PassShape& shape) {
    const int64_t rw = area.Columns(), rh = area.Rows();
    std::vector<uint8_t> between(size_t(rw * rh) * 4);
    RowPass<C0, C1>(between.data(), Origin(source, area), area.width, rw, rh, shape);
    ColumnPass<C0, C1>(out, between.data(), rw, rw, rh, shape);
}

}  // namespace

uint32_t BlurKernelWeight(int64_t radius, int64_t offset) {
    const int64_t d = offset < 0 ? -offset : offset;
    if (d > radius) return 0;
    const int64_t beyond = d - (2 * radius) / 8;
    if (beyond <= 0) return 512;
    return beyond > kMaxTail ? 0 : 512u >> beyond;
}

void BoxBlurCgRows(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, uint8_t alpha_in_use) {
    const PassShape shape = BoxShape(RadiusOf(value));
    if (alpha_in_use != 0) {
        RowPass<0, 4>(out, Origin(source, area), area.width, area.Columns(), area.Rows(), shape);
    } else {
        RowPass<0, 3>(out, Origin(source, area), area.width, area.Columns(), area.Rows(), shape);
        CopySourceAlpha(out, source, area);
    }
}

void BoxBlurCgColumns(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value,
                      uint8_t alpha_in_use) {
    const PassShape shape = BoxShape(RadiusOf(value));
    if (alpha_in_use != 0) {
        ColumnPass<0, 4>(out, Origin(source, area), area.width, area.Columns(), area.Rows(), shape);
    } else {
        ColumnPass<0, 3>(out, Origin(source, area), area.width, area.Columns(), area.Rows(), shape);
        CopySourceAlpha(out, source, area);
    }
}

void BoxBlurCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, uint8_t alpha_in_use) {
    const PassShape shape = BoxShape(RadiusOf(value));
    if (alpha_in_use != 0) {
        TwoPass<0, 4>(out, source, area, shape);
    } else {
        TwoPass<0, 3>(out, source, area, shape);
        CopySourceAlpha(out, source, area);
    }
}

void BlurCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, uint8_t alpha_in_use) {
    if (alpha_in_use == 0) {
        BoxBlurCg(out, source, area, value, 0);
        return;
    }
    TwoPass<0, 4>(out, source, area, KernelShape(RadiusOf(value)));
}

void SoftShadowCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value) {
    TwoPass<3, 4>(out, source, area, KernelShape(RadiusOf(value)));
    ZeroColour(out, area);
}

void ShadowCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, uint8_t alpha_in_use) {
    if (alpha_in_use == 0) {
        BoxBlurCg(out, source, area, value, 0);
        return;
    }
    TwoPass<3, 4>(out, source, area, BoxShape(RadiusOf(value)));
    ZeroColour(out, area);
}

}  // namespace zk
