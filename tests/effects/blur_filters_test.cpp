// Blur and shadow filters (ops 2 to 7) against plain window loops written
// from their formulas: no running sums, every window summed afresh.
#include <algorithm>
#include <vector>

#include "effects/blur_filters.h"
#include "effects/cg_operations.h"
#include "tests/effects/effects_test_support.h"

namespace zk::effects_test {
namespace {

// The kernel as described: 512 on the plateau of half-width trunc(2r / 8),
// each further weight half the previous, truncated.
std::vector<int64_t> Kernel(int64_t r) {
    std::vector<int64_t> k(size_t(2 * r + 1), 0);
    const int64_t s = 2 * r / 8;
    for (int64_t i = r - s; i <= r + s; ++i) k[size_t(i)] = 512;
    for (int64_t i = r - s - 1, w = 256; i >= 0; --i, w /= 2) k[size_t(i)] = w;
    for (int64_t i = r + s + 1, w = 256; i <= 2 * r; ++i, w /= 2) k[size_t(i)] = w;
    return k;
}

// A channel image, rw x rh, as int64 per pixel and channel.
using Planes = std::vector<std::array<int64_t, 4>>;

// One pass: each output is the weighted average of its window, along x or y.
Planes Pass(const Planes& in, int64_t rw, int64_t rh, int64_t r, bool horizontal, bool weighted) {
    const std::vector<int64_t> k = Kernel(r);
    Planes out(in.size());
    for (int64_t y = 0; y < rh; ++y)
        for (int64_t x = 0; x < rw; ++x) {
            int64_t sum[4] = {0, 0, 0, 0}, weights = 0;
            for (int64_t d = -r; d <= r; ++d) {
                const int64_t sx = horizontal ? x + d : x, sy = horizontal ? y : y + d;
                if (sx < 0 || sx >= rw || sy < 0 || sy >= rh) continue;
                const int64_t w = weighted ? k[size_t(r + d)] : 1;
                weights += w;
                for (int c = 0; c < 4; ++c) sum[c] += w * in[size_t(sy * rw + sx)][size_t(c)];
            }
            for (int c = 0; c < 4; ++c) out[size_t(y * rw + x)][size_t(c)] = sum[c] / weights;
        }
    return out;
}

Pixels BlurReference(int32_t op, const Pixels& s, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t value,
                     uint8_t alpha) {
    const int64_t rw = x2 - x1 + 1, rh = y2 - y1 + 1, r = std::max(1, value);
    Planes in(size_t(rw * rh));
    for (int64_t y = 0; y < rh; ++y)
        for (int64_t x = 0; x < rw; ++x)
            for (int c = 0; c < 4; ++c) in[size_t(y * rw + x)][size_t(c)] = s.Byte(x1 + x, y1 + y, c);
    Planes out;
    bool zero_colour = false, source_alpha = alpha == 0;
    switch (op) {
        case 3: out = Pass(in, rw, rh, r, true, false); break;
        case 4: out = Pass(in, rw, rh, r, false, false); break;
        case 5: out = Pass(Pass(in, rw, rh, r, true, false), rw, rh, r, false, false); break;
        case 2: out = Pass(Pass(in, rw, rh, r, true, alpha != 0), rw, rh, r, false, alpha != 0); break;
        case 6:
            out = Pass(Pass(in, rw, rh, r, true, true), rw, rh, r, false, true);
            zero_colour = true;
            source_alpha = false;
            break;
        case 7:
            out = Pass(Pass(in, rw, rh, r, true, false), rw, rh, r, false, false);
            zero_colour = alpha != 0;
            break;
    }
    Pixels result{int32_t(rw), int32_t(rh), std::vector<uint32_t>(size_t(rw * rh))};
    for (int64_t i = 0; i < rw * rh; ++i) {
        const auto& p = out[size_t(i)];
        int64_t a = p[3];
        if (source_alpha) a = in[size_t(i)][3];
        result.p[size_t(i)] = zero_colour ? Bgra(0, 0, 0, int(a)) : Bgra(int(p[0]), int(p[1]), int(p[2]), int(a));
    }
    return result;
}

class BlurFilterTest : public EffectsTest {};

TEST_F(BlurFilterTest, EveryBlurMatchesItsWindowsForBothAlphaForms) {
    const Pixels source = RandomPixels(41, 33, 12);
    struct Case {
        int32_t value, x1, y1, x2, y2;
    };
    const std::vector<Case> cases = {{0, 0, 0, 40, 32},  {1, 3, 2, 37, 29}, {2, 0, 0, 40, 32}, {4, 5, 1, 30, 31},
                                     {7, 1, 1, 39, 31},  {16, 0, 0, 40, 32}, {37, 2, 3, 28, 21}, {256, 0, 0, 40, 32},
                                     {3, 10, 10, 10, 30}, {5, 4, 20, 39, 20}, {9, 7, 7, 7, 7}};
    // The blurs run on the calling thread: a running worker pool changes nothing.
    for (int workers : {1, 4}) {
        UseWorkers(workers);
        for (int32_t op = 2; op <= 7; ++op)
            for (uint8_t alpha : {0, 1})
                for (const Case& c : cases) {
                    SCOPED_TRACE(::testing::Message() << "op " << op << " alpha " << int(alpha) << " value " << c.value
                                                      << " rect " << c.x1 << "," << c.y1 << "," << c.x2 << "," << c.y2);
                    NamedTreeNode* target = Layer("t", source, alpha);
                    ASSERT_EQ(RunCgFilter(op, target, nullptr, c.x1, c.y1, c.x2, c.y2, c.value, 0, 0, 0), 0);
                    EXPECT_TRUE(Read(target) == BlurReference(op, source, c.x1, c.y1, c.x2, c.y2, c.value, alpha));
                }
    }
    ExpectClean();
}

TEST_F(BlurFilterTest, KernelWeightsOfTheWorkedRadii) {
    auto weights = [](int64_t r) {
        std::vector<uint32_t> w;
        for (int64_t d = -r; d <= r; ++d) w.push_back(BlurKernelWeight(r, d));
        return w;
    };
    EXPECT_EQ(weights(1), (std::vector<uint32_t>{256, 512, 256}));
    EXPECT_EQ(weights(2), (std::vector<uint32_t>{128, 256, 512, 256, 128}));
    EXPECT_EQ(weights(4), (std::vector<uint32_t>{64, 128, 256, 512, 512, 512, 256, 128, 64}));
    for (int64_t r : {3, 17, 100, 256}) {
        const std::vector<int64_t> k = Kernel(r);
        for (int64_t d = -r; d <= r; ++d)
            EXPECT_EQ(BlurKernelWeight(r, d), uint32_t(k[size_t(r + d)])) << r << " " << d;
    }
}

TEST_F(BlurFilterTest, EdgeCasesOfTheWindows) {
    // An opaque single pixel is copied by every op but the soft shadow.
    const Pixels one = RandomPixels(5, 5, 3);
    for (int32_t op : {2, 3, 4, 5, 7}) {
        NamedTreeNode* target = Layer("t", one, 0);
        ASSERT_EQ(RunCgFilter(op, target, nullptr, 2, 2, 2, 2, 10, 0, 0, 0), 0);
        EXPECT_EQ(Read(target).At(0, 0), one.At(2, 2)) << op;
    }
    // A weighted blur of a constant image is that constant everywhere.
    const Pixels flat{23, 9, std::vector<uint32_t>(23 * 9, Bgra(10, 200, 33, 140))};
    NamedTreeNode* target = Layer("t", flat, 1);
    ASSERT_EQ(RunCgFilter(2, target, nullptr, 0, 0, 22, 8, 6, 0, 0, 0), 0);
    EXPECT_TRUE(Read(target) == flat);
    // r = 100 on a 10-wide rectangle: all weights used are 512, a plain average.
    const Pixels source = RandomPixels(10, 1, 9);
    target = Layer("t", source, 1);
    ASSERT_EQ(RunCgFilter(2, target, nullptr, 0, 0, 9, 0, 100, 0, 0, 0), 0);
    int64_t sum[4] = {0, 0, 0, 0};
    for (int x = 0; x < 10; ++x)
        for (int c = 0; c < 4; ++c) sum[c] += source.Byte(x, 0, c);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(Read(target).At(x, 0), Bgra(int(sum[0] / 10), int(sum[1] / 10), int(sum[2] / 10), int(sum[3] / 10)));
    // The shadow of an opaque image is its box blur.
    const Pixels picture = PicturePixels(30, 20, 4);
    NamedTreeNode* a = Layer("a", picture, 0);
    NamedTreeNode* b = Layer("b", picture, 0);
    ASSERT_EQ(RunCgFilter(7, a, nullptr, 1, 1, 28, 18, 5, 0, 0, 0), 0);
    ASSERT_EQ(RunCgFilter(5, b, nullptr, 1, 1, 28, 18, 5, 0, 0, 0), 0);
    EXPECT_TRUE(Read(a) == Read(b));
}

}  // namespace
}  // namespace zk::effects_test
