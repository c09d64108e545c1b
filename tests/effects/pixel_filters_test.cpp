// The point, geometric and random filters of RunCgFilter against reference
// loops written straight from their formulas, in place and into another
// layer, with the dispatcher's block and flag rules.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>

#include "effects/cg_operations.h"
#include "effects/pixel_filters.h"
#include "layers/colour_tone.h"
#include "layers/emote_players.h"
#include "tests/effects/effects_test_support.h"

namespace zk::effects_test {
namespace {

struct Rect {
    int32_t x1, y1, x2, y2;
};

uint8_t Clamp8(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }
uint32_t WithColour(uint32_t pixel, int b, int g, int r) { return Bgra(b, g, r, int(pixel >> 24)); }

// Reference of a rectangle-sized filter: out(x - x1, y - y1) = f(x, y).
Pixels RectReference(const Pixels&, Rect r, const std::function<uint32_t(int64_t, int64_t)>& f) {
    Pixels out{r.x2 - r.x1 + 1, r.y2 - r.y1 + 1, {}};
    out.p.resize(size_t(out.width) * size_t(out.height));
    for (int64_t y = r.y1; y <= r.y2; ++y)
        for (int64_t x = r.x1; x <= r.x2; ++x) out.At(x - r.x1, y - r.y1) = f(x, y);
    return out;
}

double WaveSin(int64_t degrees) { return std::sin(double(float(degrees) * 0.017453292f)); }
double WaveCos(int64_t degrees) { return std::cos(double(float(degrees) * 0.017453292f)); }

// Every rectangle-sized filter, from its formula.
Pixels Reference(int32_t op, const Pixels& s, Rect r, int32_t value, int32_t value2) {
    switch (op) {
        case 1:
            return RectReference(s, r, [&](int64_t x, int64_t y) {
                return WithColour(s.At(x, y), Clamp8(s.Byte(x, y, 0) + value - 128),
                                  Clamp8(s.Byte(x, y, 1) + value - 128), Clamp8(s.Byte(x, y, 2) + value - 128));
            });
        case 28:
            return RectReference(s, r, [&](int64_t x, int64_t y) { return s.At(x, y) ^ 0x00FFFFFFu; });
        case 39:
            return RectReference(s, r, [&](int64_t x, int64_t y) {
                const int64_t l = (117 * s.Byte(x, y, 0) + 601 * s.Byte(x, y, 1) + 306 * s.Byte(x, y, 2)) * 1024;
                return WithColour(s.At(x, y), Clamp8((l - 46347025) / 1048576), Clamp8((l - 287585) / 1048576),
                                  Clamp8((l + 18748416) / 1048576));
            });
        case 11:
            return RectReference(s, r, [&](int64_t x, int64_t y) { return s.At(s.width - 1 - x, y); });
        case 38:
            return RectReference(s, r, [&](int64_t x, int64_t y) { return s.At(x, r.y2 - y); });
        case 8:
        case 9:
            return RectReference(s, r, [&](int64_t x, int64_t y) { return s.At(x, y); });
        case 21:
        case 22:
        case 23:
            return RectReference(s, r, [&](int64_t x, int64_t y) {
                const int64_t dx = op != 22 ? int64_t(value * WaveSin(y + value2)) : 0;
                const int64_t dy = op != 21 ? int64_t(value * WaveCos(x + value2)) : 0;
                int64_t sx = x - r.x1 + dx;
                if (sx < 0) sx = 0;
                if (sx > r.x2) sx = std::max(r.x2 - 1, 0);
                return s.At(sx, std::clamp<int64_t>(y + dy, r.y1, r.y2));
            });
        case 20: {
            const int64_t e = std::max(1, value);
            int64_t ox = r.x1, oy = r.y1;
            while ((((r.x2 + 1) / 2) - ox) % e != 0) ++ox;
            while ((((r.y2 + 1) / 2) - oy) % e != 0) ++oy;
            // The block a coordinate falls in: its first coordinate.
            auto block_start = [e](int64_t v, int64_t start, int64_t edge) {
                return v < edge ? start : edge + (v - edge) / e * e;
            };
            auto block_end = [e](int64_t v, int64_t edge, int64_t end) {
                return v < edge ? edge - 1 : std::min(edge + (v - edge) / e * e + e - 1, end);
            };
            return RectReference(s, r, [&](int64_t x, int64_t y) {
                const int64_t left = block_start(x, r.x1, ox), right = block_end(x, ox, r.x2);
                const int64_t top = block_start(y, r.y1, oy), bottom = block_end(y, oy, r.y2);
                int64_t sum[3] = {0, 0, 0}, n = 0;
                for (int64_t by = top; by <= bottom; ++by)
                    for (int64_t bx = left; bx <= right; ++bx, ++n)
                        for (int c = 0; c < 3; ++c) sum[c] += s.Byte(bx, by, c);
                return WithColour(s.At(x, y), int(sum[0] / n), int(sum[1] / n), int(sum[2] / n));
            });
        }
        case 40: {
            const int64_t rw = r.x2 - r.x1 + 1, rh = r.y2 - r.y1 + 1, cx = rw / 2, cy = rh / 2;
            const int64_t n = int64_t((std::hypot(double(rw), double(rh)) + 1) * 0.5 + 1);
            return RectReference(s, r, [&](int64_t x, int64_t y) {
                const int64_t k = x - r.x1, j = y - r.y1;
                const int64_t i = int64_t(std::hypot(double(std::abs(k - cx)), double(std::abs(j - cy))));
                double angle = value / 10.0;
                for (int64_t step = 0; step < i; ++step) angle -= value / (10.0 * double(n));
                const int64_t c = int64_t(std::cos(angle * 0.017453292519444445) * 256);
                const int64_t sn = int64_t(std::sin(angle * 0.017453292519444445) * 256);
                const int64_t sx = std::clamp<int64_t>(cx + (((cy - j) * sn + (k - cx) * c) >> 8), 0, rw - 1);
                const int64_t sy = std::clamp<int64_t>(cy + (((k - cx) * sn + (j - cy) * c) >> 8), 0, rh - 1);
                return s.At(r.x1 + sx, r.y1 + sy);
            });
        }
        default: ADD_FAILURE() << "no reference for op " << op; return {};
    }
}

// The modifiers, on a copy of the whole image; also the flag they leave.
Pixels ModifierReference(int32_t op, Pixels s, Rect r, int32_t value, int32_t value2, int32_t sub, uint8_t& flag) {
    if (op == 19) {
        for (int64_t y = r.y1; y <= r.y2; ++y)
            for (int64_t x = r.x1; x <= r.x2; ++x) {
                const int v = s.Byte(x, y, 0) + s.Byte(x, y, 1) + s.Byte(x, y, 2) >= 3 * value ? 255 : 0;
                s.At(x, y) = WithColour(s.At(x, y), v, v, v);
            }
    } else if (op == 24) {
        const bool whole = r.x1 == 0 && r.y1 == 0 && r.x2 == s.width - 1 && r.y2 == s.height - 1;
        for (int64_t y = r.y1; y <= r.y2; ++y)
            for (int64_t x = r.x1; x <= r.x2; ++x) {
                uint32_t& p = s.At(x, y);
                if (sub == 1) p = 0xFF000000u | (uint32_t(value) & 0xFFFFFF);
                if (sub == 2) p = (p & 0xFFFFFF) | uint32_t(value) << 24;
                if (sub == 3) p = uint32_t(value);
            }
        if (sub == 2) flag = (uint8_t(value) == 255 && whole) ? 0 : 1;
        if (sub == 3) flag = ((uint32_t(value) >> 24) == 255 && whole) ? 0 : 1;
    } else if (op == 27) {
        const int64_t lo = std::min(value, value2), hi = std::max(value, value2);
        for (int64_t y = r.y1; y <= r.y2; ++y)
            for (int64_t x = 0; x < s.width; ++x) {
                int64_t f = 255;  // unchanged
                if (value == value2) {
                    if (x > value) f = 0;
                } else if (value < value2) {
                    if (x > hi) f = 0;
                    else if (x >= lo) f = 255 - 255 * (x - lo) / (hi - lo);
                } else {
                    if (x < lo) f = 0;
                    else if (x <= hi) f = 255 * (x - lo) / (hi - lo);
                }
                uint32_t& p = s.At(x, y);
                p = (p & 0xFFFFFF) | uint32_t((p >> 24) * f / 255) << 24;
            }
        flag = 1;
    }
    return s;
}

struct FilterCase {
    int32_t op;
    int32_t value, value2;
    Rect rect;
};

class PixelFilterTest : public EffectsTest {};

TEST_F(PixelFilterTest, RectangleFiltersMatchTheirFormulasInPlaceAndIntoAnotherLayer) {
    const Pixels source = RandomPixels(37, 29, 7);
    const std::vector<FilterCase> cases = {
        {1, 128, 0, {3, 2, 30, 25}},   {1, 0, 0, {0, 0, 36, 28}},    {1, 256, 0, {5, 7, 5, 20}},
        {1, 200, 0, {1, 1, 35, 27}},   {28, 1, 0, {2, 3, 33, 21}},   {39, 0, 0, {0, 0, 36, 28}},
        {39, 5, 0, {4, 9, 11, 13}},    {11, 1, 0, {3, 2, 30, 25}},   {11, 0, 0, {0, 0, 36, 28}},
        {38, 1, 0, {3, 2, 30, 25}},    {38, 1, 0, {0, 0, 36, 28}},   {8, 0, 0, {6, 4, 20, 18}},
        {9, 0, 0, {0, 0, 36, 28}},     {21, 7, 30, {2, 3, 33, 21}},  {21, -12, 400, {0, 0, 36, 28}},
        {22, 5, -17, {2, 3, 33, 21}},  {22, 40, 0, {0, 0, 36, 28}},  {23, 9, 77, {4, 1, 31, 26}},
        {23, 3, 0, {10, 10, 10, 12}},  {20, 4, 0, {0, 0, 9, 28}},    {20, 5, 0, {3, 2, 30, 25}},
        {20, 0, 0, {1, 1, 8, 8}},      {20, 256, 0, {0, 0, 36, 28}}, {20, 3, 0, {20, 15, 36, 28}},
        {40, 900, 0, {3, 2, 30, 25}},  {40, -450, 0, {0, 0, 36, 28}}, {40, 3600, 0, {5, 5, 6, 17}},
        {40, 0, 0, {2, 2, 20, 20}},
    };
    // The filters run on the calling thread: a running worker pool changes nothing.
    for (int workers : {1, 4}) {
        UseWorkers(workers);
        for (const FilterCase& c : cases) {
            SCOPED_TRACE(::testing::Message() << workers << " workers, op " << c.op << " value " << c.value << " rect "
                                              << c.rect.x1 << "," << c.rect.y1 << "," << c.rect.x2 << "," << c.rect.y2);
            const Pixels want = Reference(c.op, source, c.rect, c.value, c.value2);

            NamedTreeNode* target = Layer("t", source, 1);
            ASSERT_EQ(
                RunCgFilter(c.op, target, nullptr, c.rect.x1, c.rect.y1, c.rect.x2, c.rect.y2, c.value, c.value2, 0, 0),
                0);
            EXPECT_TRUE(Read(target) == want);
            EXPECT_EQ(Image(target).alpha_in_use, 1);

            target = Layer("t", source, 0);
            NamedTreeNode* other = Layer("o", RandomPixels(3, 3, 1), 1);
            ASSERT_EQ(
                RunCgFilter(c.op, target, other, c.rect.x1, c.rect.y1, c.rect.x2, c.rect.y2, c.value, c.value2, 1, 0),
                0);
            EXPECT_TRUE(Read(other) == want);
            EXPECT_TRUE(Read(target) == source) << "the target keeps its pixels";
            EXPECT_EQ(Image(other).alpha_in_use, 0) << "the other layer takes the target's flag";
        }
    }
    ExpectClean();
}

TEST_F(PixelFilterTest, ModifiersChangeTheRectangleOfTheWholeImage) {
    const Pixels source = RandomPixels(23, 19, 11);
    struct ModifierCase {
        int32_t op, value, value2, sub;
        Rect rect;
    };
    const std::vector<ModifierCase> cases = {
        {19, 128, 0, 0, {2, 3, 20, 15}},        {19, 0, 0, 0, {0, 0, 22, 18}},
        {19, 256, 0, 0, {5, 5, 5, 5}},          {24, 0x123456, 0, 1, {1, 2, 9, 8}},
        {24, 0x40, 0, 2, {1, 2, 9, 8}},         {24, 0xFF, 0, 2, {0, 0, 22, 18}},
        {24, 0x7F, 0, 2, {0, 0, 22, 18}},       {24, int32_t(0xFF102030), 0, 3, {0, 0, 22, 18}},
        {24, int32_t(0xFF102030), 0, 3, {0, 1, 22, 18}}, {24, 0x10203040, 0, 3, {3, 3, 7, 7}},
        {27, 5, 15, 0, {0, 2, 0, 17}},          {27, 15, 5, 0, {7, 0, 3, 18}},
        {27, 8, 8, 0, {0, 0, 22, 18}},          {27, -5, 40, 0, {0, 4, 22, 9}},
        {27, 40, -5, 0, {0, 4, 22, 9}},         {27, 30, 30, 0, {0, 0, 22, 18}},
        {27, -9, -3, 0, {0, 0, 22, 18}},        {27, 25, 31, 0, {0, 0, 22, 18}},
    };
    for (const ModifierCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "op " << c.op << " value " << c.value << " sub " << c.sub);
        for (uint8_t start_flag : {0, 1}) {
            uint8_t flag = start_flag;
            const Pixels want = ModifierReference(c.op, source, c.rect, c.value, c.value2, c.sub, flag);

            NamedTreeNode* target = Layer("t", source, start_flag);
            ASSERT_EQ(RunCgFilter(c.op, target, nullptr, c.rect.x1, c.rect.y1, c.rect.x2, c.rect.y2, c.value,
                                  c.value2, 0, c.sub),
                      0);
            EXPECT_TRUE(Read(target) == want);
            EXPECT_EQ(Image(target).alpha_in_use, flag);

            // Into another layer: a whole-image result, the flag the filter
            // computes (sub-operation 1 and the threshold: the target's).
            target = Layer("t", source, start_flag);
            NamedTreeNode* other = Layer("o", RandomPixels(2, 2, 3), uint8_t(1 - start_flag));
            ASSERT_EQ(RunCgFilter(c.op, target, other, c.rect.x1, c.rect.y1, c.rect.x2, c.rect.y2, c.value,
                                  c.value2, 2, c.sub),
                      0);
            EXPECT_TRUE(Read(other) == want);
            EXPECT_TRUE(Read(target) == source);
            EXPECT_EQ(Image(target).alpha_in_use, start_flag);
            EXPECT_EQ(Image(other).alpha_in_use, flag);
        }
    }
    ExpectClean();
}

TEST_F(PixelFilterTest, ToneAndSaturationAreTheCompositorsOnTheCroppedRectangle) {
    const Pixels source = RandomPixels(17, 13, 5);
    for (const auto& [op, value] : std::vector<std::pair<int32_t, int32_t>>{{12, 0xC04020}, {30, 0}, {30, 200}}) {
        Pixels whole = source;
        const LayerRect rect = {2, 3, 12, 9};
        std::span<uint8_t> bytes(reinterpret_cast<uint8_t*>(whole.p.data()), whole.p.size() * 4);
        if (op == 12) ApplyColourTone(bytes, bytes, rect, 17, 13, 17, 13, uint32_t(value));
        else ApplySaturation(bytes, bytes, rect, 17, 13, 17, 13, value);
        const Pixels want = RectReference(whole, {2, 3, 12, 9}, [&](int64_t x, int64_t y) { return whole.At(x, y); });
        NamedTreeNode* target = Layer("t", source);
        ASSERT_EQ(RunCgFilter(op, target, nullptr, 2, 3, 12, 9, value, 0, 0, 0), 0);
        EXPECT_TRUE(Read(target) == want) << "op " << op;
    }
}

TEST_F(PixelFilterTest, InvolutionsGiveTheImageBack) {
    const Pixels source = RandomPixels(31, 17, 21);
    for (int32_t op : {28, 11, 38}) {
        NamedTreeNode* target = Layer("t", source);
        ASSERT_EQ(RunCgFilter(op, target, nullptr, 0, 0, 30, 16, 1, 0, 0, 0), 0);
        EXPECT_FALSE(Read(target) == source) << "op " << op;
        ASSERT_EQ(RunCgFilter(op, target, nullptr, 0, 0, 30, 16, 1, 0, 0, 0), 0);
        EXPECT_TRUE(Read(target) == source) << "op " << op;
    }
}

TEST_F(PixelFilterTest, WorkedValues) {
    // Sepia of black and of white.
    Pixels bw{2, 1, {Bgra(0, 0, 0, 9), Bgra(255, 255, 255, 200)}};
    NamedTreeNode* target = Layer("t", bw);
    ASSERT_EQ(RunCgFilter(39, target, nullptr, 0, 0, 1, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(Read(target).At(0, 0), Bgra(0, 0, 17, 9));
    EXPECT_EQ(Read(target).At(1, 0), Bgra(210, 254, 255, 200));

    // Brightness 128 and a threshold of 0 leave alpha; threshold 0 makes white.
    const Pixels source = RandomPixels(9, 7, 2);
    target = Layer("t", source);
    ASSERT_EQ(RunCgFilter(1, target, nullptr, 0, 0, 8, 6, 128, 0, 0, 0), 0);
    EXPECT_TRUE(Read(target) == source);
    ASSERT_EQ(RunCgFilter(19, target, nullptr, 0, 0, 8, 6, 0, 0, 0, 0), 0);
    for (size_t i = 0; i < source.p.size(); ++i) EXPECT_EQ(Read(target).p[i], source.p[i] | 0xFFFFFF);

    // Mosaic of a 10-wide image with blocks of 4: edges at 1, 5 and 9.
    Pixels ramp{10, 1, {}};
    for (int x = 0; x < 10; ++x) ramp.p.push_back(Bgra(x * 10, 0, 0, x));
    target = Layer("t", ramp);
    ASSERT_EQ(RunCgFilter(20, target, nullptr, 0, 0, 9, 0, 4, 0, 0, 0), 0);
    const int want_blue[10] = {0, 25, 25, 25, 25, 65, 65, 65, 65, 90};
    for (int x = 0; x < 10; ++x) EXPECT_EQ(Read(target).At(x, 0), Bgra(want_blue[x], 0, 0, x)) << x;

    // Swirl 0 and shuffle 1 give the rectangle back.
    target = Layer("t", source);
    ASSERT_EQ(RunCgFilter(40, target, nullptr, 0, 0, 8, 6, 0, 0, 0, 0), 0);
    EXPECT_TRUE(Read(target) == source);
    ASSERT_EQ(RunCgFilter(10, target, nullptr, 0, 0, 8, 6, 1, 0, 0, 0), 0);
    EXPECT_TRUE(Read(target) == source);
}

TEST_F(PixelFilterTest, ShufflePermutationsAreTheTwentyFourOrders) {
    EXPECT_EQ(ShufflePermutations[0][0], 3);
    EXPECT_EQ(ShufflePermutations[23][3], 3);
    // Every row is a permutation.
    for (const auto& row : ShufflePermutations) {
        int seen = 0;
        for (uint8_t v : row) seen |= 1 << v;
        EXPECT_EQ(seen, 15);
    }
}

// Reference shuffle: blocks visited in the documented order, each drawing
// one number from a generator of the same seed.
Pixels ShuffleReference(const Pixels& s, Rect r, int32_t value, uint32_t seed) {
    Mt19937 random;
    random.Seed(seed);
    Pixels out = RectReference(s, r, [&](int64_t x, int64_t y) { return s.At(x, y); });
    const int64_t x2 = r.x2 - r.x1, y2 = r.y2 - r.y1;
    auto block = [&](int64_t x, int64_t y) {
        const uint32_t pick = random.Next() % 24;
        const int64_t xs[4] = {x, x + 1, x, x + 1}, ys[4] = {y, y, y + 1, y + 1};
        uint32_t old[4];
        for (int i = 0; i < 4; ++i) old[i] = out.At(xs[i], ys[i]);
        for (int i = 0; i < 4; ++i)
            out.At(xs[i], ys[i]) = (old[ShufflePermutations[pick][i]] & 0xFFFFFF) | (old[i] & 0xFF000000u);
    };
    for (int64_t p = 0; p < value / 2; ++p) {
        int64_t per_row = 0;
        for (int64_t y = p; y < y2; y += 2)
            for (int64_t x = p; x < x2; x += 2) block(x, y);
        for (int64_t x = p; x < x2; x += 2) ++per_row;
        for (int64_t y = y2 - 1; y >= p; y -= 2)
            for (int64_t n = 0, x = x2 - 1 - p; n < per_row; ++n, x -= 2) block(x, y);
    }
    return out;
}

TEST_F(PixelFilterTest, ShuffleFollowsItsVisitOrderAndKeepsTheColours) {
    const Pixels source = RandomPixels(21, 16, 8);
    for (const auto& [value, rect] : std::vector<std::pair<int32_t, Rect>>{
             {2, {0, 0, 20, 15}}, {3, {1, 2, 18, 13}}, {9, {2, 1, 20, 14}}, {256, {0, 0, 20, 15}}, {6, {4, 4, 5, 5}}}) {
        const uint32_t seed = 99;
        ShuffleRandom().Seed(seed);
        NamedTreeNode* target = Layer("t", source);
        ASSERT_EQ(RunCgFilter(10, target, nullptr, rect.x1, rect.y1, rect.x2, rect.y2, value, 0, 0, 0), 0);
        const Pixels got = Read(target);
        EXPECT_TRUE(got == ShuffleReference(source, rect, value, seed)) << "value " << value;
        // Alpha stays in place, colours are only moved.
        std::multiset<uint32_t> before, after;
        for (int64_t y = 0; y < got.height; ++y)
            for (int64_t x = 0; x < got.width; ++x) {
                EXPECT_EQ(got.At(x, y) >> 24, source.At(rect.x1 + x, rect.y1 + y) >> 24);
                before.insert(source.At(rect.x1 + x, rect.y1 + y) & 0xFFFFFF);
                after.insert(got.At(x, y) & 0xFFFFFF);
            }
        EXPECT_EQ(before, after);
    }
    // One pass moves colours only inside the 2x2 blocks of the forward walk
    // when the walk back covers the same blocks (even sizes).
    ShuffleRandom().Seed(5);
    NamedTreeNode* target = Layer("t", source);
    ASSERT_EQ(RunCgFilter(10, target, nullptr, 0, 0, 19, 15, 2, 0, 0, 0), 0);
    const Pixels got = Read(target);
    for (int64_t by = 0; by < 16; by += 2)
        for (int64_t bx = 0; bx < 20; bx += 2) {
            std::multiset<uint32_t> before, after;
            for (int i = 0; i < 4; ++i) {
                before.insert(source.At(bx + i % 2, by + i / 2) & 0xFFFFFF);
                after.insert(got.At(bx + i % 2, by + i / 2) & 0xFFFFFF);
            }
            EXPECT_EQ(before, after) << bx << "," << by;
        }
}

TEST_F(PixelFilterTest, SwirlKeepsItsDistanceTableForTheSameSize) {
    const Pixels source = RandomPixels(15, 11, 4);
    NamedTreeNode* target = Layer("t", source);
    ASSERT_EQ(RunCgFilter(40, target, nullptr, 1, 1, 10, 8, 300, 0, 0, 0), 0);
    EXPECT_EQ(TheSwirlDistanceCache().width, 10);
    EXPECT_EQ(TheSwirlDistanceCache().height, 8);
    const uint32_t* table = TheSwirlDistanceCache().distances.data();
    target = Layer("t", source);
    ASSERT_EQ(RunCgFilter(40, target, nullptr, 2, 2, 11, 9, -300, 0, 0, 0), 0);
    EXPECT_EQ(TheSwirlDistanceCache().distances.data(), table) << "same size: the table is reused";
    EXPECT_TRUE(Read(target) == Reference(40, source, {2, 2, 11, 9}, -300, 0));
}

TEST_F(PixelFilterTest, CopyWithAttributesCarriesTheDisplayAttributes) {
    const Pixels source = RandomPixels(8, 8, 4);
    NamedTreeNode* target = Layer("t", source, 1);
    Image(target).opacity = 77;
    Image(target).x = 12;
    NamedTreeNode* other = Layer("o", RandomPixels(2, 2, 1), 0);
    ASSERT_EQ(RunCgFilter(8, target, other, 1, 1, 4, 4, 0, 0, 1, 0), 0);
    EXPECT_EQ(Image(other).opacity, 77);
    EXPECT_EQ(Image(other).x, 12);
    EXPECT_EQ(Image(other).alpha_in_use, 1);
    NamedTreeNode* plain = Layer("p", RandomPixels(2, 2, 1), 0);
    ASSERT_EQ(RunCgFilter(9, target, plain, 1, 1, 4, 4, 0, 0, 1, 0), 0);
    EXPECT_EQ(Image(plain).opacity, 256);
    EXPECT_EQ(Image(plain).width, 4);
}

// A stand-in model player: the record only holds it and hands it on.
int released_players = 0;
CgOwned<EmotePlayer> FakePlayer(EmotePlayer* player) {
    return CgOwned<EmotePlayer>(player, [](EmotePlayer*) { ++released_players; });
}

TEST_F(PixelFilterTest, CopiesHandAModelPlayerToTheOtherLayer) {
    EmotePlayer first, second;
    for (int32_t op : {8, 9}) {
        NamedTreeNode* target = Layer("t", RandomPixels(6, 5, 1), 0);
        Image(target).texture_kind = kTextureKindEmote;
        Image(target).emote_player = FakePlayer(&first);
        NamedTreeNode* other = Layer("o", RandomPixels(2, 2, 2), 0);
        Image(other).texture_kind = kTextureKindEmote;
        Image(other).emote_player = FakePlayer(&second);
        released_players = 0;  // (replacing the last round's layers released theirs)
        ASSERT_EQ(RunCgFilter(op, target, other, 1, 1, 3, 3, 0, 0, 1, 0), 0);
        EXPECT_EQ(released_players, 1) << "the other layer's own player is released";
        EXPECT_EQ(Image(other).texture_kind, kTextureKindEmote);
        EXPECT_EQ(Image(other).emote_player.get(), &first);
        EXPECT_EQ(first.image, &Image(other)) << "the player knows its new image";
        EXPECT_EQ(Image(target).texture_kind, kTextureKindGrid);
        EXPECT_EQ(Image(target).emote_player, nullptr);
        EXPECT_EQ(Image(other).width, 3);
    }
    // Without a player nothing but the pixels moves.
    NamedTreeNode* target = Layer("t", RandomPixels(6, 5, 1), 0);
    NamedTreeNode* other = Layer("o", RandomPixels(2, 2, 2), 0);
    ASSERT_EQ(RunCgFilter(9, target, other, 0, 0, 5, 4, 0, 0, 1, 0), 0);
    EXPECT_EQ(Image(target).texture_kind, kTextureKindCpu);
    EXPECT_EQ(Image(other).texture_kind, kTextureKindCpu);
}

TEST_F(PixelFilterTest, InvalidatesTheChangedLayer) {
    NamedTreeNode* group = CreateTreeNode(root_, "g", true, 1);
    CgImage* canvas = CreateCgImage(group);
    canvas->width = canvas->height = 40;
    ASSERT_TRUE(AllocCgPixels(*canvas, 40, 40));
    NamedTreeNode* leaf = CreateTreeNode(root_, "g/t", false, 1);
    CgImage* image = CreateCgImage(leaf);
    image->width = image->height = 8;
    ASSERT_TRUE(AllocCgPixels(*image, 8, 8));
    image->x = 5;
    image->y = 6;
    ASSERT_EQ(RunCgFilter(28, leaf, nullptr, 0, 0, 7, 7, 1, 0, 0, 0), 0);
    EXPECT_EQ(canvas->dirty_valid, 1);
    EXPECT_EQ(canvas->dirty_rect, (LayerRect{5, 6, 12, 13}));
}

}  // namespace
}  // namespace zk::effects_test
