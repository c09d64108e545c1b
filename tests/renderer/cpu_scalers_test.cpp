// The CPU scalers against hand-worked positions and the per-byte formulas,
// and against a straightforward per-pixel evaluation of the same formulas
// on a larger random picture.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "core/system_facts.h"
#include "layers/worker_pool.h"
#include "renderer/cpu_scalers.h"
#include "tests/renderer/bilinear_formulas.h"

namespace zk {
namespace {

using renderer_test::Pixel;  // B, G, R, A
using renderer_test::PlainMix;
using renderer_test::ThreadedMix;

// A source block of w x h pixels with the engine's spare row and four
// spare bytes, the spare filled with a value no expected pixel has, so a
// read of it with a non-zero weight would show.
struct Source {
    int32_t width, height;
    std::vector<uint8_t> bytes;

    Source(int32_t w, int32_t h) : width(w), height(h), bytes((size_t(w) * (h + 1) + 1) * 4, 0xEE) {}
    void Set(int32_t x, int32_t y, Pixel p) {
        for (int k = 0; k < 4; ++k) bytes[(size_t(y) * width + x) * 4 + k] = p[k];
    }
    Pixel At(int32_t x, int32_t y) const {
        const uint8_t* q = &bytes[(size_t(y) * width + x) * 4];
        return {q[0], q[1], q[2], q[3]};
    }
};

struct Destination {
    int32_t width, height;
    std::vector<uint8_t> bytes;

    Destination(int32_t w, int32_t h) : width(w), height(h), bytes(size_t(w) * h * 4, 0xAB) {}
    Pixel At(int32_t x, int32_t y) const {
        const uint8_t* q = &bytes[(size_t(y) * width + x) * 4];
        return {q[0], q[1], q[2], q[3]};
    }
};

enum class Kind { kPlain, kOwnTables, kThreaded };

bool Scale(Kind kind, Destination& d, const Source& s, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
           int32_t dw100, int32_t dh100) {
    switch (kind) {
    case Kind::kPlain:
        return ScaleBilinear(d.bytes, s.bytes, x0, y0, x1, y1, s.width, s.height, dw100, dh100);
    case Kind::kOwnTables:
        return ScaleBilinearOwnTables(d.bytes, s.bytes, x0, y0, x1, y1, s.width, s.height, dw100, dh100);
    case Kind::kThreaded:
        return ScaleBilinearThreaded(d.bytes, s.bytes, x0, y0, x1, y1, s.width, s.height, dw100, dh100);
    }
    return false;
}

Pixel Mix(Kind kind, Pixel p00, Pixel p01, Pixel p10, Pixel p11, uint32_t fx, uint32_t fy) {
    return kind == Kind::kThreaded ? ThreadedMix(p00, p01, p10, p11, fx, fy) : PlainMix(p00, p01, p10, p11, fx, fy);
}

// The sample of a source pixel with its right and lower neighbours (the
// right one of the last column is the next row's first, as in memory).
Pixel Sample(Kind kind, const Source& s, int32_t sx, int32_t sy, uint32_t fx, uint32_t fy) {
    auto at = [&](size_t index) {
        const uint8_t* q = &s.bytes[index * 4];
        return Pixel{q[0], q[1], q[2], q[3]};
    };
    const size_t i = size_t(sy) * s.width + sx;
    return Mix(kind, at(i), at(i + 1), at(i + s.width), at(i + s.width + 1), fx, fy);
}

class CpuScalersTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override { RegisterScalerJobs(); }
};

INSTANTIATE_TEST_SUITE_P(Bilinear, CpuScalersTest,
                         ::testing::Values(Kind::kPlain, Kind::kOwnTables, Kind::kThreaded),
                         [](const auto& info) {
                             switch (info.param) {
                             case Kind::kPlain: return std::string("Plain");
                             case Kind::kOwnTables: return std::string("OwnTables");
                             default: return std::string("Threaded");
                             }
                         });

TEST(SharpenWeightTableTest, ClampsTheEndsAndStretchesTheMiddle) {
    const auto& t = SharpenWeightTable();
    for (int i = 0; i <= 26; ++i) EXPECT_EQ(t[i], 0) << i;
    for (int i = 230; i <= 255; ++i) EXPECT_EQ(t[i], 255) << i;
    // (i - 128) * 1.25 + 128, truncated toward zero.
    const std::array<std::pair<int, int>, 6> middle{{{27, 1}, {100, 93}, {128, 128}, {129, 129}, {200, 218}, {229, 254}}};
    for (auto [i, expected] : middle) EXPECT_EQ(t[i], expected) << i;
}

// A 2 x 2 source to 3 x 3: the middle column and row sample halfway
// (position 128), the last ones land on the last source pixel with weight 0
// (reading the spare row and bytes, which must not show).
TEST_P(CpuScalersTest, TwoByTwoToThreeByThree) {
    Source s(2, 2);
    s.Set(0, 0, {10, 20, 30, 40});
    s.Set(1, 0, {200, 100, 50, 255});
    s.Set(0, 1, {0, 0, 0, 0});
    s.Set(1, 1, {255, 255, 255, 255});
    Destination d(3, 3);
    ASSERT_TRUE(Scale(GetParam(), d, s, 0, 0, 100, 100, 300, 300));

    // (source pixel, weight) per destination column and row: 256 * c * 100 / 200.
    const std::array<std::pair<int32_t, uint32_t>, 3> axis{{{0, 0}, {0, 128}, {1, 0}}};
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(d.At(x, y), Sample(GetParam(), s, axis[x].first, axis[y].first, axis[x].second, axis[y].second))
                << x << "," << y;
        }
    }
    // One channel worked through: B at the centre, plain rounding.
    if (GetParam() != Kind::kThreaded) {
        EXPECT_EQ(d.At(1, 1)[0], 116);  // top (10+200)/2 = 105, bottom 255/2 = 127, (105+127)/2 = 116
    }
    EXPECT_EQ(d.At(2, 2), s.At(1, 1));
}

// Horizontal weights are sharpened, vertical ones not. A 13.8-pixel-wide
// destination of a 1-pixel span steps by 20/256: column and row 1 sit at
// weight 20, column and row 12 at 240.
TEST_P(CpuScalersTest, SharpensColumnWeightsOnly) {
    Source s(2, 2);
    s.Set(0, 0, {0, 0, 0, 0});
    s.Set(1, 0, {255, 128, 64, 255});
    s.Set(0, 1, {255, 255, 255, 255});
    s.Set(1, 1, {255, 255, 255, 255});
    Destination d(13, 13);
    ASSERT_TRUE(Scale(GetParam(), d, s, 0, 0, 100, 100, 1380, 1380));

    // Weight 20 sharpens to 0: the column is the left pixel exactly.
    EXPECT_EQ(d.At(1, 0), s.At(0, 0));
    // Weight 240 sharpens to 255.
    EXPECT_EQ(d.At(12, 0), Sample(GetParam(), s, 0, 0, 255, 0));
    EXPECT_EQ(d.At(12, 0)[0], 254);  // 255 * 255 / 256 either way
    // Rows keep 20 and 240.
    EXPECT_EQ(d.At(0, 1), Sample(GetParam(), s, 0, 0, 0, 20));
    EXPECT_NE(d.At(0, 1), s.At(0, 0));
    EXPECT_EQ(d.At(0, 12), Sample(GetParam(), s, 0, 0, 0, 240));
}

// A destination of exactly one column and one row (size 100) divides by
// 100, not by 0. Enlarging, the start fraction is added after the product
// (x0 = 50 starts half a pixel in); reducing, it goes inside it.
TEST_P(CpuScalersTest, SinglePixelDestination) {
    Source s(4, 2);
    for (int32_t x = 0; x < 4; ++x) {
        s.Set(x, 0, {uint8_t(40 * x), uint8_t(200 - 40 * x), uint8_t(10 + x), 255});
        s.Set(x, 1, {uint8_t(60 * x), 7, uint8_t(250 - x), 0});
    }
    Destination enlarge(1, 1);
    ASSERT_TRUE(Scale(GetParam(), enlarge, s, 50, 50, 150, 150, 100, 100));
    EXPECT_EQ(enlarge.At(0, 0), Sample(GetParam(), s, 0, 0, 128, 128));

    // Span 300 > 100: position (128 * 300) / 100 = 384, pixel 1 at weight 128.
    Destination reduce(1, 1);
    ASSERT_TRUE(Scale(GetParam(), reduce, s, 50, 0, 350, 0, 100, 100));
    EXPECT_EQ(reduce.At(0, 0), Sample(GetParam(), s, 1, 0, 128, 0));
}

// Columns whose source falls outside the source are zero; the rest are the
// source pixels (weights 0). Every destination pixel is written.
TEST_P(CpuScalersTest, RectanglesOutsideTheSourceGiveZeroPixels) {
    Source s(2, 2);
    s.Set(0, 0, {1, 2, 3, 4});
    s.Set(1, 0, {5, 6, 7, 8});
    s.Set(0, 1, {9, 10, 11, 12});
    s.Set(1, 1, {13, 14, 15, 16});
    const Pixel zero{0, 0, 0, 0};
    struct Case {
        int32_t c0, c1;
        std::array<int32_t, 3> source;  // per destination pixel, -1: outside
    };
    // Three destination pixels over a 2-pixel span: positions 0, 256, 512.
    const std::array<Case, 5> cases{{
        {-100, 100, {-1, 0, 1}},   // starts left of (above) the source
        {0, 200, {0, 1, -1}},      // reaches beyond it
        {500, 700, {-1, -1, -1}},  // wholly beyond
        {-300, -100, {-1, -1, -1}},  // wholly before
        {-100, 300, {-1, 1, -1}},  // both: positions 0, 512, 1024 from -1
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.c0 << ".." << c.c1);
        // Columns vary, rows identity.
        Destination columns(3, 3);
        ASSERT_TRUE(Scale(GetParam(), columns, s, c.c0, 0, c.c1, 200, 300, 300));
        // Rows vary, columns identity.
        Destination rows(3, 3);
        ASSERT_TRUE(Scale(GetParam(), rows, s, 0, c.c0, 200, c.c1, 300, 300));
        const std::array<int32_t, 3> identity{0, 1, -1};
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < 3; ++x) {
                const int32_t cx = c.source[x], cy = identity[y];
                EXPECT_EQ(columns.At(x, y), (cx < 0 || cy < 0) ? zero : s.At(cx, cy)) << x << "," << y;
                const int32_t rx = identity[x], ry = c.source[y];
                EXPECT_EQ(rows.At(x, y), (rx < 0 || ry < 0) ? zero : s.At(rx, ry)) << x << "," << y;
            }
        }
    }
}

TEST_P(CpuScalersTest, RefusesBlocksTooSmallForTheirSizes) {
    Source s(2, 2);
    Destination d(3, 3);
    // A destination smaller than 3 x 3: nothing written.
    std::span<uint8_t> short_destination(d.bytes.data(), d.bytes.size() - 1);
    const Kind kind = GetParam();
    auto scale_into = [&](std::span<uint8_t> out, std::span<const uint8_t> in) {
        if (kind == Kind::kThreaded) return ScaleBilinearThreaded(out, in, 0, 0, 100, 100, 2, 2, 300, 300);
        if (kind == Kind::kOwnTables) return ScaleBilinearOwnTables(out, in, 0, 0, 100, 100, 2, 2, 300, 300);
        return ScaleBilinear(out, in, 0, 0, 100, 100, 2, 2, 300, 300);
    };
    EXPECT_FALSE(scale_into(short_destination, s.bytes));
    EXPECT_EQ(d.At(0, 0), (Pixel{0xAB, 0xAB, 0xAB, 0xAB}));
    // A source without its spare bytes: the destination is zeroed.
    std::span<const uint8_t> short_source(s.bytes.data(), s.bytes.size() - 1);
    EXPECT_FALSE(scale_into(d.bytes, short_source));
    for (uint8_t b : d.bytes) ASSERT_EQ(b, 0);
}

// The two roundings differ: one in every channel at the halfway row gives
// 1 plain ((1 * 128 + 1 * 128) >> 8) but 0 threaded ((256 * 128) >> 16,
// twice). Both are kept as they are.
TEST(CpuScalersRoundingTest, ThreadedRoundsEachHalfDown) {
    RegisterScalerJobs();
    Source s(2, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) s.Set(x, y, {1, 1, 1, 1});
    Destination plain(3, 3), threaded(3, 3);
    ASSERT_TRUE(ScaleBilinear(plain.bytes, s.bytes, 0, 0, 100, 100, 2, 2, 300, 300));
    ASSERT_TRUE(ScaleBilinearThreaded(threaded.bytes, s.bytes, 0, 0, 100, 100, 2, 2, 300, 300));
    EXPECT_EQ(plain.At(0, 1), (Pixel{1, 1, 1, 1}));
    EXPECT_EQ(threaded.At(0, 1), (Pixel{0, 0, 0, 0}));
    // On whole rows both give the source back.
    EXPECT_EQ(plain.At(0, 0), (Pixel{1, 1, 1, 1}));
    EXPECT_EQ(threaded.At(0, 0), (Pixel{1, 1, 1, 1}));
}

// Which destination pixels of an axis are drawn: skip the leading ones
// whose source pixel lies before the source, then take pixels while their
// source pixel lies inside it. For a reversed rectangle (positions falling)
// that starts beyond the source's end, that is none.
template <class SourceIndex>
std::vector<bool> DrawnPixels(int64_t count, int64_t limit, SourceIndex source_index) {
    std::vector<bool> drawn(size_t(count), false);
    int64_t i = 0;
    while (i < count && source_index(i) < 0) ++i;
    for (; i < count && source_index(i) >= 0 && source_index(i) < limit; ++i) drawn[size_t(i)] = true;
    return drawn;
}

// --- nearest -------------------------------------------------------------

TEST(ScaleNearestTest, MapsByTheSixteenSixteenStep) {
    RegisterScalerJobs();
    Source s(4, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x) s.Set(x, y, {uint8_t(x), uint8_t(y), uint8_t(16 * x + y), 255});
    struct Case {
        int32_t x0, y0, x1, y1, dw, dh;
    };
    const std::array<Case, 7> cases{{
        {0, 0, 3, 2, 8, 6},     // double
        {0, 0, 3, 2, 2, 1},     // reduce
        {0, 0, 2, 0, 2, 1},     // 3 -> 2: step 98304
        {-1, -1, 2, 1, 4, 3},   // starts before the source
        {2, 1, 5, 4, 4, 4},     // reaches beyond it
        {10, 0, 13, 2, 3, 3},   // wholly outside
        {1, 1, 1, 1, 5, 2},     // one pixel, repeated
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x0 << "," << c.y0 << ".." << c.x1 << "," << c.y1 << " -> " << c.dw
                                        << "x" << c.dh);
        Destination d(c.dw, c.dh);
        ASSERT_TRUE(ScaleNearestThreaded(d.bytes, s.bytes, c.x0, c.y0, c.x1, c.y1, 4, 3, c.dw, c.dh));
        const int64_t step_x = ((int64_t{c.x1} - c.x0 + 1) << 16) / c.dw;
        const int64_t step_y = ((int64_t{c.y1} - c.y0 + 1) << 16) / c.dh;
        for (int32_t y = 0; y < c.dh; ++y) {
            for (int32_t x = 0; x < c.dw; ++x) {
                const int64_t sx = c.x0 + ((x * step_x) >> 16), sy = c.y0 + ((y * step_y) >> 16);
                const bool inside = sx >= 0 && sx < 4 && sy >= 0 && sy < 3;
                EXPECT_EQ(d.At(x, y), inside ? s.At(int32_t(sx), int32_t(sy)) : (Pixel{0, 0, 0, 0})) << x << "," << y;
            }
        }
    }
}

// The nearest mapping, from its formula: step = ((c1 - c0 + 1) << 16) /
// size in 64 bits, destination pixel i takes source pixel c0 + ((i * step)
// >> 16), drawn as DrawnPixels says; every other pixel is zero.
void ExpectNearest(const Destination& d, const std::vector<uint8_t>& source, int32_t source_width,
                   int32_t source_height, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t step_x = ((int64_t{x1} - x0 + 1) * 65536) / d.width;
    const int64_t step_y = ((int64_t{y1} - y0 + 1) * 65536) / d.height;
    auto sx = [&](int64_t x) { return x0 + ((x * step_x) >> 16); };
    auto sy = [&](int64_t y) { return y0 + ((y * step_y) >> 16); };
    const std::vector<bool> columns = DrawnPixels(d.width, source_width, sx);
    const std::vector<bool> rows = DrawnPixels(d.height, source_height, sy);
    for (int32_t y = 0; y < d.height; ++y) {
        for (int32_t x = 0; x < d.width; ++x) {
            Pixel expected{0, 0, 0, 0};
            if (columns[size_t(x)] && rows[size_t(y)]) {
                const uint8_t* q = &source[(size_t(sy(y)) * size_t(source_width) + size_t(sx(x))) * 4];
                expected = {q[0], q[1], q[2], q[3]};
            }
            ASSERT_EQ(d.At(x, y), expected) << x << "," << y;
        }
    }
}

// Spans of 32768 pixels and more: (span << 16) no longer fits 32 bits, so
// the step must be kept in 64.
TEST(ScaleNearestTest, StepsOverSpansOf32768AndMoreIn64Bits) {
    RegisterScalerJobs();
    // A source whose pixels name their own column and row.
    auto numbered = [](int32_t w, int32_t h) {
        std::vector<uint8_t> bytes(size_t(w) * h * 4);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                uint8_t* q = &bytes[(size_t(y) * w + x) * 4];
                q[0] = uint8_t(x);
                q[1] = uint8_t(x >> 8);
                q[2] = uint8_t(y);
                q[3] = uint8_t(y >> 8);
            }
        }
        return bytes;
    };
    struct Case {
        int32_t source_width, source_height, x0, y0, x1, y1, dw, dh;
    };
    const Case cases[] = {
        {32768, 2, 0, 0, 32767, 1, 7, 2},              // exactly 32768 columns
        {40000, 1, 0, 0, 39999, 0, 13, 1},             // more than that
        {2, 40000, 0, 0, 1, 39999, 2, 11},             // rows too
        {4, 3, -65536, 0, 65535, 2, 64, 3},            // a span of 131072 around a small source
        {40000, 1, 39999, 0, -29, 0, 9, 1},            // reversed, 40029 columns
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x0 << "," << c.y0 << ".." << c.x1 << "," << c.y1 << " -> " << c.dw
                                        << "x" << c.dh);
        const std::vector<uint8_t> source = numbered(c.source_width, c.source_height);
        Destination d(c.dw, c.dh);
        ASSERT_TRUE(ScaleNearestThreaded(d.bytes, source, c.x0, c.y0, c.x1, c.y1, c.source_width, c.source_height,
                                         c.dw, c.dh));
        ExpectNearest(d, source, c.source_width, c.source_height, c.x0, c.y0, c.x1, c.y1);
    }
    // One mapping worked through: 32768 columns onto 7, step 306783378;
    // column 6 takes source column (6 * 306783378) >> 16 = 28086.
    const std::vector<uint8_t> source = numbered(32768, 2);
    Destination d(7, 2);
    ASSERT_TRUE(ScaleNearestThreaded(d.bytes, source, 0, 0, 32767, 1, 32768, 2, 7, 2));
    EXPECT_EQ(d.At(6, 0), (Pixel{uint8_t(28086 & 255), uint8_t(28086 >> 8), 0, 0}));
}

// Reversed rectangles step backwards; a step that leaves the source ends
// the drawn range.
TEST(ScaleNearestTest, ReversedRectanglesStepBackwards) {
    RegisterScalerJobs();
    Source s(5, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x) s.Set(x, y, {uint8_t(x), uint8_t(y), uint8_t(10 * x + y), 255});
    struct Case {
        int32_t x0, y0, x1, y1, dw, dh;
    };
    const Case cases[] = {
        {4, 3, 0, 0, 5, 4},      // step -3/5 and -2/4 of a pixel
        {4, 3, 0, 0, 10, 8},     // enlarged
        {1, 2, -5, 0, 4, 3},     // runs before column 0 at once
        {9, 3, 0, 0, 6, 4},      // starts beyond the last column: nothing drawn
        {0, 3, 4, 0, 5, 4},      // columns in order, rows reversed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x0 << "," << c.y0 << ".." << c.x1 << "," << c.y1 << " -> " << c.dw
                                        << "x" << c.dh);
        Destination d(c.dw, c.dh);
        ASSERT_TRUE(ScaleNearestThreaded(d.bytes, s.bytes, c.x0, c.y0, c.x1, c.y1, 5, 4, c.dw, c.dh));
        ExpectNearest(d, s.bytes, 5, 4, c.x0, c.y0, c.x1, c.y1);
    }
}

// --- larger pictures, and the worker counts ------------------------------------

// The bilinear formula evaluated pixel by pixel, straight from its
// definition (positions in 64 bits, the drawn ranges as above).
Destination ReferenceBilinear(Kind kind, const Source& s, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                              int32_t dw100, int32_t dh100) {
    auto position = [](int64_t c0, int64_t c1, int64_t size, int64_t i) {
        const int64_t fraction = ((c0 % 100) * 256) / 100, span = c1 - c0;
        const int64_t divisor = size == 100 ? 100 : size - 100;
        return size < span ? ((fraction + 256 * i) * span) / divisor : fraction + ((256 * i) * span) / divisor;
    };
    Destination d(dw100 / 100, dh100 / 100);
    const std::vector<bool> columns =
        DrawnPixels(d.width, s.width, [&](int64_t x) { return x0 / 100 + (position(x0, x1, dw100, x) >> 8); });
    const std::vector<bool> rows =
        DrawnPixels(d.height, s.height, [&](int64_t y) { return y0 / 100 + (position(y0, y1, dh100, y) >> 8); });
    for (int32_t y = 0; y < d.height; ++y) {
        const int64_t py = position(y0, y1, dh100, y);
        const int64_t sy = y0 / 100 + (py >> 8);
        for (int32_t x = 0; x < d.width; ++x) {
            const int64_t px = position(x0, x1, dw100, x);
            const int64_t sx = x0 / 100 + (px >> 8);
            uint8_t* q = &d.bytes[(size_t(y) * d.width + x) * 4];
            if (!columns[size_t(x)] || !rows[size_t(y)]) {
                std::fill(q, q + 4, 0);
                continue;
            }
            const Pixel p = Sample(kind, s, int32_t(sx), int32_t(sy), SharpenWeightTable()[size_t(px & 255)],
                                   uint32_t(py & 255));
            std::copy(p.begin(), p.end(), q);
        }
    }
    return d;
}

Source RandomSource(int32_t w, int32_t h, uint32_t seed) {
    Source s(w, h);
    std::mt19937 random(seed);
    for (size_t i = 0; i < size_t(w) * h * 4; ++i) s.bytes[i] = uint8_t(random());
    std::fill(s.bytes.begin() + ptrdiff_t(size_t(w) * h * 4), s.bytes.end(), 0);  // spare as blocks are made
    return s;
}

TEST_P(CpuScalersTest, MatchesThePerPixelFormulaOnARandomPicture) {
    const Source s = RandomSource(37, 23, 5);
    // Enlarging the whole picture, as the presentation does, and reducing
    // an off-centre rectangle that runs past the right edge.
    struct Case {
        int32_t x0, y0, x1, y1, dw100, dh100;
    };
    // Both the SSE2 loops and the plain per-byte ones.
    for (bool plain_loops : {false, true}) {
        ForcePlainScalerLoops(plain_loops);
        for (const Case& c : {Case{0, 0, 3600, 2200, 10300, 5700}, Case{1250, 375, 4075, 1980, 1900, 1100}}) {
            Destination d(c.dw100 / 100, c.dh100 / 100);
            ASSERT_TRUE(Scale(GetParam(), d, s, c.x0, c.y0, c.x1, c.y1, c.dw100, c.dh100));
            const Destination expected = ReferenceBilinear(GetParam(), s, c.x0, c.y0, c.x1, c.y1, c.dw100, c.dh100);
            EXPECT_EQ(d.bytes, expected.bytes) << c.x0 << "," << c.y0 << (plain_loops ? " plain loops" : "");
        }
    }
    ForcePlainScalerLoops(false);
}

// A reversed rectangle (x1 < x0, y1 < y0) walks the source backwards.
// Corners on whole pixels mirror the picture exactly.
TEST_P(CpuScalersTest, ReversedRectangleOnWholePixelsMirrors) {
    const Source s = RandomSource(5, 4, 3);
    Destination d(5, 4);
    ASSERT_TRUE(Scale(GetParam(), d, s, 400, 300, 0, 0, 500, 400));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(d.At(x, y), s.At(4 - x, 3 - y)) << x << "," << y;
}

// Reversed rectangles with fractions, running off the source's start (the
// rest of the axis is zero), starting beyond its end (nothing is drawn),
// or one reversed axis against one in order.
TEST_P(CpuScalersTest, ReversedRectanglesFollowTheFormula) {
    const Source s = RandomSource(7, 6, 9);
    struct Case {
        int32_t x0, y0, x1, y1, dw100, dh100;
    };
    const Case cases[] = {
        {650, 550, 0, 0, 1300, 1100},     // the whole picture, enlarged
        {250, 450, -150, 50, 900, 700},   // runs past column 0 after 6 columns
        {625, 575, 175, 25, 300, 250},    // reduced, with fractions
        {900, 500, 0, 0, 1000, 600},      // starts beyond the last column
        {0, 550, 650, 0, 1000, 900},      // columns in order, rows reversed
    };
    for (bool plain_loops : {false, true}) {
        ForcePlainScalerLoops(plain_loops);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.x0 << "," << c.y0 << ".." << c.x1 << "," << c.y1
                                            << (plain_loops ? " plain loops" : ""));
            Destination d(c.dw100 / 100, c.dh100 / 100);
            ASSERT_TRUE(Scale(GetParam(), d, s, c.x0, c.y0, c.x1, c.y1, c.dw100, c.dh100));
            EXPECT_EQ(d.bytes, ReferenceBilinear(GetParam(), s, c.x0, c.y0, c.x1, c.y1, c.dw100, c.dh100).bytes);
        }
    }
    ForcePlainScalerLoops(false);
    // The case that starts beyond the source draws nothing at all.
    Destination beyond(10, 6);
    ASSERT_TRUE(Scale(GetParam(), beyond, s, 900, 500, 0, 0, 1000, 600));
    for (uint8_t b : beyond.bytes) ASSERT_EQ(b, 0);
}

// Splitting rows over 1, 2 or 4 workers gives the same pixels.
TEST(ScalerWorkersTest, OneTwoAndFourWorkersAgree) {
    RegisterScalerJobs();
    const Source s = RandomSource(97, 61, 11);
    const int8_t saved = TheSystemFacts().worker_count;
    std::vector<std::vector<uint8_t>> bilinear, nearest;
    for (int8_t workers : {int8_t{1}, int8_t{2}, int8_t{4}}) {
        TheSystemFacts().worker_count = workers;
        ASSERT_EQ(StartWorkerThreads(), 0);
        ASSERT_EQ(WorkerCount(), workers);
        Destination b(203, 149), n(203, 149);
        ASSERT_TRUE(ScaleBilinearThreaded(b.bytes, s.bytes, 0, 0, 9600, 6000, 97, 61, 20300, 14900));
        ASSERT_TRUE(ScaleNearestThreaded(n.bytes, s.bytes, 0, 0, 96, 60, 97, 61, 203, 149));
        bilinear.push_back(b.bytes);
        nearest.push_back(n.bytes);
        StopWorkerThreads();
    }
    TheSystemFacts().worker_count = saved;
    EXPECT_EQ(bilinear[0], ReferenceBilinear(Kind::kThreaded, s, 0, 0, 9600, 6000, 20300, 14900).bytes);
    for (size_t i = 1; i < bilinear.size(); ++i) {
        EXPECT_EQ(bilinear[i], bilinear[0]) << i;
        EXPECT_EQ(nearest[i], nearest[0]) << i;
    }
}

}  // namespace
}  // namespace zk
