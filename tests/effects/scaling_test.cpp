// ScaleCg's kinds against references computed per output pixel straight
// from the formulas, on 1 and 4 workers, and its block rules.
#include <algorithm>
#include <cmath>
#include <vector>

#include "effects/cg_operations.h"
#include "effects/scaling.h"
#include "renderer/cpu_scalers.h"
#include "tests/effects/effects_test_support.h"

namespace zk::effects_test {
namespace {

struct Corners {
    int32_t x1, y1, x2, y2;  // 1/100 pixel
};

Pixels Blank(int64_t w, int64_t h) { return Pixels{int32_t(w), int32_t(h), std::vector<uint32_t>(size_t(w * h), 0)}; }

// Leading outputs before the source and everything from the first past it.
template <class Index>
std::pair<int64_t, int64_t> ValidOutputs(int64_t count, int64_t limit, Index index, bool stop_below) {
    int64_t first = 0;
    while (first < count && index(first) < 0) ++first;
    int64_t end = first;
    while (end < count && index(end) < limit && (!stop_below || index(end) >= 0)) ++end;
    return {first, end};
}

Pixels NearestReference(const Pixels& s, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int64_t w, int64_t h) {
    Pixels out = Blank(w, h);
    const int64_t step_x = ((int64_t{x2} - x1 + 1) * 65536) / w, step_y = ((int64_t{y2} - y1 + 1) * 65536) / h;
    for (int64_t i = 0; i < h; ++i)
        for (int64_t j = 0; j < w; ++j) {
            const int64_t sx = x1 + ((j * step_x) >> 16), sy = y1 + ((i * step_y) >> 16);
            if (sx >= 0 && sy >= 0 && sx < s.width && sy < s.height) out.At(j, i) = s.At(sx, sy);
        }
    return out;
}

int64_t CubicWeight(int64_t k) {
    const double t = k / 256.0;
    return int64_t((t <= 1 ? 1 - 2 * t * t + t * t * t : 4 - 8 * t + 5 * t * t - t * t * t) * 256);
}

Pixels BicubicReference(const Pixels& s, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int64_t w, int64_t h) {
    Pixels out = Blank(w, h);
    auto row_pos = [&](int64_t i) { return ((i * 65536 / h) * (int64_t{y2} - y1 + 1)) >> 8; };
    auto col_pos = [&](int64_t j) { return ((j * 65536 / w) * (int64_t{x2} - x1 + 1)) >> 8; };
    const auto rows = ValidOutputs(h, s.height, [&](int64_t i) { return y1 + (row_pos(i) >> 8); }, false);
    const auto cols = ValidOutputs(w, s.width, [&](int64_t j) { return x1 + (col_pos(j) >> 8); }, false);
    for (int64_t i = rows.first; i < rows.second; ++i)
        for (int64_t j = cols.first; j < cols.second; ++j) {
            const int64_t sy = y1 + (row_pos(i) >> 8), py = row_pos(i) & 255;
            const int64_t sx = x1 + (col_pos(j) >> 8), px = col_pos(j) & 255;
            const int64_t dy[4] = {256 + py, py, 256 - py, 512 - py}, dx[4] = {256 + px, px, 256 - px, 512 - px};
            int64_t sum[4] = {0, 0, 0, 0}, weights = 0;
            for (int ty = 0; ty < 4; ++ty)
                for (int tx = 0; tx < 4; ++tx) {
                    const int64_t index = (sy - 1 + ty) * s.width + (sx - 1 + tx);
                    if (index < 0 || index >= int64_t(s.p.size())) continue;
                    const int64_t weight = CubicWeight(dy[ty]) * CubicWeight(dx[tx]) / 256;
                    for (int c = 0; c < 4; ++c) sum[c] += weight * ((s.p[size_t(index)] >> (8 * c)) & 255);
                    weights += weight;
                }
            if (weights == 0) weights = 1;
            int b[4];
            for (int c = 0; c < 4; ++c) b[c] = int(std::clamp<int64_t>(sum[c] / weights, 0, 255));
            out.At(j, i) = Bgra(b[0], b[1], b[2], b[3]);
        }
    return out;
}

// The source with the engine block's spare row and bytes (zero) read as pixels.
uint8_t SpareByte(const Pixels& s, int64_t index, int c) {
    return index < int64_t(s.p.size()) ? uint8_t(s.p[size_t(index)] >> (8 * c)) : 0;
}

Pixels SupersampleReference(const Pixels& s, Corners k, int64_t width100, int64_t height100) {
    const int64_t w = width100 / 100, h = height100 / 100;
    const int64_t m = width100 - 100 == 0 ? 100 : width100 - 100, n = height100 - 100 == 0 ? 100 : height100 - 100;
    const int64_t bx = k.x1 / 100, by = k.y1 / 100;
    auto row_at = [&](int64_t q) { return (q * (int64_t{k.y2} - k.y1)) / n; };  // q in 1/256 output rows
    auto col_at = [&](int64_t q) { return (q * (int64_t{k.x2} - k.x1)) / m; };
    Pixels out = Blank(w, h);
    const auto rows = ValidOutputs(h, s.height, [&](int64_t i) { return by + (row_at(i * 256) >> 8); }, true);
    const auto cols = ValidOutputs(w, s.width, [&](int64_t j) { return bx + (col_at(j * 256) >> 8); }, true);
    auto sample = [&](int64_t cpos, int64_t rpos, int c) {
        const int64_t column = bx + (cpos >> 8), row = by + (rpos >> 8);
        const uint32_t fx = uint32_t(cpos & 255), fy = uint32_t(rpos & 255);
        const int64_t at = row * s.width + column;
        const uint32_t top = (SpareByte(s, at, c) * (256 - fx) + SpareByte(s, at + 1, c) * fx) >> 8;
        const uint32_t bottom =
            (SpareByte(s, at + s.width, c) * (256 - fx) + SpareByte(s, at + s.width + 1, c) * fx) >> 8;
        return int((top * (256 - fy) + bottom * fy) >> 8);
    };
    for (int64_t i = rows.first; i < rows.second; ++i)
        for (int64_t j = cols.first; j < cols.second; ++j) {
            const int64_t r1 = row_at(i * 256);
            int64_t r2 = row_at(i * 256 + 128);
            if (by + (r2 >> 8) >= s.height || by + (r2 >> 8) < 0) r2 = r1;
            const int64_t c1 = col_at(j * 256);
            int64_t c2 = col_at(j * 256 + 128);
            if (bx + (c2 >> 8) >= s.width || bx + (c2 >> 8) < 0) c2 = c1;
            int b[4];
            for (int c = 0; c < 4; ++c) {
                const int left = (sample(c1, r1, c) + sample(c1, r2, c) + 1) >> 1;
                const int right = (sample(c2, r1, c) + sample(c2, r2, c) + 1) >> 1;
                b[c] = (left + right + 1) >> 1;
            }
            out.At(j, i) = Bgra(b[0], b[1], b[2], b[3]);
        }
    return out;
}

// Lanczos: weights from the window per tap, mirrored indices, 1 + sum as divisor.
std::vector<std::array<int64_t, 4>> LanczosPass(const std::vector<std::array<int64_t, 4>>& in, int64_t in_w,
                                                int64_t in_h, int64_t out_count, bool horizontal) {
    const int64_t size = horizontal ? in_w : in_h;
    const double s = (size == 1 || out_count == 1) ? double(out_count) / double(size)
                                                   : double(out_count - 1) / double(size - 1);
    const double e = 2 / s;
    const int64_t out_w = horizontal ? out_count : in_w, out_h = horizontal ? in_h : out_count;
    std::vector<std::array<int64_t, 4>> out(size_t(out_w * out_h));
    auto window = [](double x) {
        auto sinc = [](double v) { return v == 0 ? 1.0 : std::sin(3.1415927410125732 * v) / (3.1415927410125732 * v); };
        return std::fabs(x) < 2 ? sinc(x) * sinc(x / 2) : 0.0;
    };
    for (int64_t line = 0; line < (horizontal ? in_h : in_w); ++line)
        for (int64_t i = 0; i < out_count; ++i) {
            const double c = double(i) / s;
            int64_t sum[4] = {0, 0, 0, 0}, weights = 0;
            for (int64_t j = int64_t(std::floor(c - e)); j <= int64_t(std::ceil(c + e)); ++j) {
                const int64_t weight = int64_t(window((c - double(j)) * s) * s * 65536);
                int64_t m = j;
                while (m < 0 || m >= size) m = m < 0 ? -m : 2 * size - 1 - m;
                if (size == 1) m = 0;
                const auto& p = horizontal ? in[size_t(line * in_w + m)] : in[size_t(m * in_w + line)];
                for (int k = 0; k < 4; ++k) sum[k] += weight * p[size_t(k)];
                weights += weight;
            }
            auto& q = horizontal ? out[size_t(line * out_w + i)] : out[size_t(i * out_w + line)];
            for (int k = 0; k < 4; ++k) {
                int64_t v = sum[k] / (1 + weights);
                if (v < 0) v = 0;
                if (k == 3 ? v > 252 : v > 255) v = 255;
                q[size_t(k)] = v;
            }
        }
    return out;
}

Pixels LanczosReference(const Pixels& s, int64_t w, int64_t h) {
    std::vector<std::array<int64_t, 4>> in(s.p.size());
    for (size_t i = 0; i < s.p.size(); ++i)
        for (int k = 0; k < 4; ++k) in[i][size_t(k)] = (s.p[i] >> (8 * k)) & 255;
    const auto between = LanczosPass(in, s.width, s.height, w, true);
    const auto out = LanczosPass(between, w, s.height, h, false);
    Pixels result = Blank(w, h);
    for (size_t i = 0; i < out.size(); ++i)
        result.p[i] = Bgra(int(out[i][0]), int(out[i][1]), int(out[i][2]), int(out[i][3]));
    return result;
}

class ScalingTest : public EffectsTest {
protected:
    void SetUp() override {
        EffectsTest::SetUp();
        RegisterScalerJobs();
        RegisterEffectJobs();
    }
};

struct ScaleCase {
    Corners corners;
    int32_t width100, height100;
};

const std::vector<ScaleCase>& ScaleCases() {
    static const std::vector<ScaleCase> cases = {
        {{0, 0, 2800, 2000}, 4300, 3100},     // enlarge the whole image
        {{0, 0, 2800, 2000}, 1100, 700},      // reduce it
        {{350, 220, 1990, 1570}, 2900, 2300}, // a rectangle with fractions
        {{500, 300, 3900, 2700}, 3000, 2000}, // reaching past the right and bottom
        {{-700, -400, 1500, 1200}, 2600, 1900},  // starting before the image
        {{0, 0, 2800, 2000}, 100, 100},       // one pixel
        {{0, 0, 2800, 2000}, 2900, 2100},     // the same size
        {{1200, 900, 1200, 900}, 700, 500},   // a single source pixel
        {{2800, 2000, 0, 0}, 1900, 1300},     // corners reversed
    };
    return cases;
}

TEST_F(ScalingTest, EveryKindMatchesItsReferenceOnOneAndFourWorkers) {
    const Pixels source = RandomPixels(29, 21, 31);
    for (int workers : {1, 4}) {
        UseWorkers(workers);
        for (const ScaleCase& c : ScaleCases()) {
            const Corners k = c.corners;
            const int64_t w = c.width100 / 100, h = c.height100 / 100;
            SCOPED_TRACE(::testing::Message() << workers << " workers, corners " << k.x1 << "," << k.y1 << " "
                                              << k.x2 << "," << k.y2 << " to " << c.width100 << "x" << c.height100);
            // Bilinear is the presentation's scaler on the same arguments.
            std::vector<uint8_t> block((size_t(source.width) * (source.height + 1) + 1) * 4, 0);
            std::memcpy(block.data(), source.p.data(), source.p.size() * 4);
            Pixels bilinear = Blank(w, h);
            ScaleBilinear({reinterpret_cast<uint8_t*>(bilinear.p.data()), bilinear.p.size() * 4}, block, k.x1, k.y1,
                          k.x2, k.y2, source.width, source.height, c.width100, c.height100);
            const std::vector<std::pair<int32_t, Pixels>> kinds = {
                {10, NearestReference(source, k.x1 / 100, k.y1 / 100, k.x2 / 100, k.y2 / 100, w, h)},
                {21, bilinear},
                {31, BicubicReference(source, k.x1 / 100, k.y1 / 100, k.x2 / 100, k.y2 / 100, w, h)},
                {41, SupersampleReference(source, k, c.width100, c.height100)},
                {51, LanczosReference(source, w, h)},
            };
            for (const auto& [kind, want] : kinds) {
                NamedTreeNode* target = Layer("t", source, 1);
                ASSERT_EQ(ScaleCg(target, nullptr, k.x1, k.y1, k.x2, k.y2, c.width100, c.height100, 0, kind), 0);
                EXPECT_TRUE(Read(target) == want) << "kind " << kind;
                EXPECT_EQ(Image(target).alpha_in_use, 1);
            }
            // The supersampler's plain loop gives the same pixels as its SSE2 one.
            ForcePlainSupersampleLoops(true);
            NamedTreeNode* target = Layer("t", source, 1);
            ASSERT_EQ(ScaleCg(target, nullptr, k.x1, k.y1, k.x2, k.y2, c.width100, c.height100, 0, 41), 0);
            ForcePlainSupersampleLoops(false);
            EXPECT_TRUE(Read(target) == kinds[3].second) << "kind 41, plain loop";
        }
    }
    ExpectClean();
}

TEST_F(ScalingTest, LanczosMapsTheWholeImageEndToEnd) {
    Pixels source = PicturePixels(40, 30, 2);
    NamedTreeNode* target = Layer("t", source, 0);
    // The rectangle is not used: first and last columns and rows map to theirs.
    ASSERT_EQ(ScaleCg(target, nullptr, 500, 500, 1000, 1000, 4000, 3000, 0, 51), 0);
    EXPECT_TRUE(Read(target) == LanczosReference(source, 40, 30));
    // Alpha 253..255 reads back as 255.
    const Pixels opaque{8, 8, std::vector<uint32_t>(64, Bgra(10, 20, 30, 254))};
    target = Layer("t", opaque, 0);
    ASSERT_EQ(ScaleCg(target, nullptr, 0, 0, 700, 700, 1300, 1100, 0, 51), 0);
    for (uint32_t v : Read(target).p) EXPECT_EQ(v >> 24, 255u);
}

TEST_F(ScalingTest, LanczosSizesThatOnceDividedByZeroOrReadOutside) {
    // A destination of one or two pixels from a larger source, and a source
    // of one column or row: indices past one mirror image and a scale of 0.
    struct Case {
        int32_t sw, sh, w, h;
    };
    for (const Case& c : std::vector<Case>{{50, 40, 1, 1}, {50, 40, 2, 2}, {50, 40, 1, 30}, {1, 1, 7, 5},
                                           {1, 9, 6, 2}, {12, 1, 1, 4}, {3, 3, 1, 2}}) {
        SCOPED_TRACE(::testing::Message() << c.sw << "x" << c.sh << " to " << c.w << "x" << c.h);
        const Pixels source = RandomPixels(c.sw, c.sh, 17);
        NamedTreeNode* target = Layer("t", source, 1);
        ASSERT_EQ(ScaleCg(target, nullptr, 0, 0, 0, 0, c.w * 100, c.h * 100, 0, 51), 0);
        EXPECT_TRUE(Read(target) == LanczosReference(source, c.w, c.h));
    }
}

TEST_F(ScalingTest, TheDestinationBlockIsReusedWhenItFits) {
    const Pixels source = RandomPixels(16, 12, 5);
    // Same size: written in place; the flag follows the target.
    NamedTreeNode* target = Layer("t", source, 1);
    NamedTreeNode* other = Layer("o", RandomPixels(8, 6, 1), 0);
    const uint8_t* block = Image(other).owned_block.data();
    ASSERT_EQ(ScaleCg(target, other, 0, 0, 1500, 1100, 800, 600, 1, 10), 0);
    EXPECT_EQ(Image(other).owned_block.data(), block);
    EXPECT_TRUE(Read(other) == NearestReference(source, 0, 0, 15, 11, 8, 6));
    EXPECT_EQ(Image(other).alpha_in_use, 1);
    EXPECT_TRUE(Read(target) == source);

    // Smaller, with the keep-block flag: the block stays, the size shrinks.
    other = Layer("o", RandomPixels(10, 10, 1), 0);
    Image(other).keep_block = 1;
    block = Image(other).owned_block.data();
    ASSERT_EQ(ScaleCg(target, other, 0, 0, 1500, 1100, 700, 500, 1, 31), 0);
    EXPECT_EQ(Image(other).owned_block.data(), block);
    EXPECT_EQ(Image(other).width, 7);
    EXPECT_EQ(Image(other).allocated_height, 5);
    EXPECT_TRUE(Read(other) == BicubicReference(source, 0, 0, 15, 11, 7, 5));

    // Smaller without the flag, or not smaller on both axes: a new block.
    for (const auto& [keep, w, h] : std::vector<std::tuple<uint8_t, int32_t, int32_t>>{{0, 7, 5}, {1, 10, 5}}) {
        other = Layer("o", RandomPixels(10, 10, 1), 0);
        Image(other).keep_block = keep;
        ASSERT_EQ(ScaleCg(target, other, 0, 0, 1500, 1100, w * 100, h * 100, 1, 10), 0);
        EXPECT_EQ(Image(other).width, w);
        EXPECT_EQ(Image(other).allocated_width, w);
        EXPECT_TRUE(Read(other) == NearestReference(source, 0, 0, 15, 11, w, h));
    }
}

TEST_F(ScalingTest, ScalingIntoALayerSharingTheTargetsImageReadsTheImageAsItWas) {
    // The other layer shows the target's own image, already at the
    // destination size: the scaler must not write the block it reads.
    const Pixels source = PicturePixels(16, 12, 9);
    for (int32_t kind : {10, 21, 31, 41, 51}) {
        NamedTreeNode* reference = Layer("r", source, 1);
        ASSERT_EQ(ScaleCg(reference, nullptr, 300, 200, 1200, 900, 1600, 1200, 0, kind), 0);
        NamedTreeNode* target = Layer("t", source, 1);
        NamedTreeNode* other = CreateTreeNode(root_, "shared", false, 1);
        ShareCgImage(other, &Image(target));
        ASSERT_EQ(ScaleCg(target, other, 300, 200, 1200, 900, 1600, 1200, 1, kind), 0);
        EXPECT_TRUE(Read(other) == Read(reference)) << "kind " << kind;
        FreeTreeNode(other);
    }
}

TEST_F(ScalingTest, KindsWithoutAScalerGiveTransparentBlack) {
    const Pixels source = RandomPixels(9, 9, 5);
    for (int32_t kind : {20, 22, 30, 45, 52, 0}) {
        NamedTreeNode* target = Layer("t", source, 0);
        ASSERT_EQ(ScaleCg(target, nullptr, 0, 0, 800, 800, 500, 400, 0, kind), 0);
        EXPECT_TRUE(Read(target) == Blank(5, 4)) << kind;
        target = Layer("t", source, 0);
        NamedTreeNode* other = Layer("o", RandomPixels(5, 4, 2), 0);
        ASSERT_EQ(ScaleCg(target, other, 0, 0, 800, 800, 500, 400, 1, kind), 0);
        EXPECT_TRUE(Read(other) == Blank(5, 4)) << kind;
    }
}

TEST_F(ScalingTest, BicubicWeightsAndEdges) {
    const auto& table = BicubicWeightTable();
    EXPECT_EQ(table[0], 256);
    EXPECT_EQ(table[256], 0);
    EXPECT_EQ(table[512], 0);
    EXPECT_EQ(table[384], -32);  // t = 1.5: -0.125 * 256
    // Past the right edge of the image the columns are transparent black.
    const Pixels source = RandomPixels(10, 6, 3);
    NamedTreeNode* target = Layer("t", source, 0);
    ASSERT_EQ(ScaleCg(target, nullptr, 500, 0, 1400, 500, 1000, 600, 0, 31), 0);
    const Pixels got = Read(target);
    for (int64_t y = 0; y < 6; ++y)
        for (int64_t x = 5; x < 10; ++x) EXPECT_EQ(got.At(x, y), 0u) << x << "," << y;
}

}  // namespace
}  // namespace zk::effects_test
