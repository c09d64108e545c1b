// Drawing, mixing and comparing between layers, trimming and canvas
// margins, against per-pixel references written from the formulas.
#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "effects/cg_operations.h"
#include "layers/compositor.h"
#include "tests/effects/effects_test_support.h"

namespace zk::effects_test {
namespace {

int64_t P(int64_t x, int64_t y) { return x * y / 255; }
int64_t R(int64_t c, int64_t k) { return c == 0 ? 0 : k * 256 / c; }

// Alpha over alpha: `o` scales the destination alpha first (-1: not at
// all), `p` the source (-1: opaque source, the plain formula).
uint32_t OverAlpha(uint32_t dst, uint32_t src, int64_t o, int64_t p) {
    int64_t d[4], s[4];
    for (int c = 0; c < 4; ++c) {
        d[c] = (dst >> (8 * c)) & 255;
        s[c] = (src >> (8 * c)) & 255;
    }
    const int64_t sa = s[3];
    int64_t da = d[3];
    if (o >= 0) da = (o * da) >> 8;
    int64_t out[4];
    if (o >= 0 && p >= 0) {  // destination by o, source by p
        const int64_t na = da + ((p * (sa - ((da * (sa + 1)) >> 8))) >> 8);
        for (int c = 0; c < 3; ++c) out[c] = d[c] + ((((s[c] - d[c]) * p) >> 8) * sa) / (na + 1);
        out[3] = na;
    } else if (p >= 0) {  // source by p
        const int64_t na = uint8_t(da + (((sa - P(da, sa)) * p) >> 8));
        const int64_t f = p * R(na, sa);
        for (int c = 0; c < 3; ++c) out[c] = d[c] + (((s[c] - d[c]) * f) >> 16);
        out[3] = na;
    } else {
        const int64_t na = uint8_t(da + sa - P(da, sa));
        const int64_t r = R(na, sa);
        for (int c = 0; c < 3; ++c) out[c] = d[c] + (((s[c] - d[c]) * r) >> 8);
        out[3] = na;
    }
    return Bgra(int(out[0]), int(out[1]), int(out[2]), int(out[3]));
}

// The receiving image after placing `src` at (x, y) with `pixel` per overlap pixel.
Pixels Placed(const Pixels& src, Pixels dst, int64_t x, int64_t y,
              const std::function<uint32_t(uint32_t d, uint32_t s, int64_t sx, int64_t sy)>& pixel) {
    for (int64_t sy = 0; sy < src.height; ++sy)
        for (int64_t sx = 0; sx < src.width; ++sx) {
            const int64_t dx = x + sx, dy = y + sy;
            if (dx < 0 || dy < 0 || dx >= dst.width || dy >= dst.height) continue;
            dst.At(dx, dy) = pixel(dst.At(dx, dy), src.At(sx, sy), sx, sy);
        }
    return dst;
}

class LayerDrawingTest : public EffectsTest {};

TEST_F(LayerDrawingTest, DrawingOverAnotherLayerClipsToTheOverlap) {
    const Pixels src = RandomPixels(13, 9, 1);
    const Pixels dst = RandomPixels(17, 11, 2);
    struct Case {
        int32_t x, y;
        int16_t opacity, other_opacity;
    };
    for (const Case& c : std::vector<Case>{{0, 0, 256, 256}, {-10, -6, 256, 256}, {6, 5, 100, 256},
                                           {-3, 4, 17, 200}, {10, -2, 256, 90}, {17, 0, 256, 256}, {0, 11, 50, 50}}) {
        SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " opacity " << c.opacity << "/" << c.other_opacity);
        for (bool with_opacity : {false, true}) {
            NamedTreeNode* target = Layer("t", src, 0);
            NamedTreeNode* other = Layer("o", dst, 0);
            Image(target).opacity = c.opacity;
            Image(other).opacity = c.other_opacity;
            const int64_t p = c.opacity == 256 ? -1 : c.opacity;
            const int64_t o = with_opacity ? c.other_opacity : -1;
            const Pixels want = Placed(src, dst, c.x, c.y,
                                       [&](uint32_t d, uint32_t s, int64_t, int64_t) { return OverAlpha(d, s, o, p); });
            if (with_opacity) ASSERT_EQ(DrawCgOverWithOpacity(target, other, c.x, c.y, 0, 0, 1), 0);
            else ASSERT_EQ(DrawCgOver(target, other, c.x, c.y, 0, 0, 1), 0);
            EXPECT_TRUE(Read(other) == want) << (with_opacity ? "with opacity" : "plain");
            EXPECT_TRUE(Read(target) == src);
            EXPECT_EQ(Image(other).alpha_in_use, 1);
        }
    }
    // Opacity 0: the plain draw changes nothing, not even the flag; the
    // draw with the other's opacity still sets the flag.
    NamedTreeNode* target = Layer("t", src, 0);
    NamedTreeNode* other = Layer("o", dst, 0);
    Image(target).opacity = 0;
    ASSERT_EQ(DrawCgOver(target, other, 1, 1, 0, 0, 1), 0);
    EXPECT_TRUE(Read(other) == dst);
    EXPECT_EQ(Image(other).alpha_in_use, 0);
    ASSERT_EQ(DrawCgOverWithOpacity(target, other, 40, 40, 0, 0, 1), 0);
    EXPECT_TRUE(Read(other) == dst);
    EXPECT_EQ(Image(other).alpha_in_use, 1);
}

TEST_F(LayerDrawingTest, DrawingALayerOverItselfReadsItsOwnPixelsAsTheyWere) {
    const Pixels src = RandomPixels(12, 10, 3);
    NamedTreeNode* target = Layer("t", src, 1);
    ASSERT_EQ(DrawCgOver(target, target, 2, 1, 0, 0, 1), 0);
    const Pixels want =
        Placed(src, src, 2, 1, [&](uint32_t d, uint32_t s, int64_t, int64_t) { return OverAlpha(d, s, -1, -1); });
    EXPECT_TRUE(Read(target) == want);
}

TEST_F(LayerDrawingTest, ComparingKeepsTheDifferentOrTheEqualPixels) {
    Pixels src = RandomPixels(9, 8, 4);
    Pixels dst = RandomPixels(10, 7, 5);
    for (int64_t y = 0; y < 8; ++y)
        for (int64_t x = 0; x < 9; x += 2) {
            if (x + 1 < 10 && y + 2 < 7) dst.At(x + 1, y + 2) = src.At(x, y);  // some equal pixels at offset (1, 2)
        }
    for (const auto& [x, y] : std::vector<std::pair<int32_t, int32_t>>{{1, 2}, {-4, -1}, {0, 0}, {12, 0}}) {
        NamedTreeNode* target = Layer("t", src, 0);
        NamedTreeNode* other = Layer("o", dst, 0);
        ASSERT_EQ(KeepDifferentPixels(target, other, x, y, 0, 0, 1, 0), 0);
        EXPECT_TRUE(Read(other) == Placed(src, dst, x, y, [](uint32_t d, uint32_t s, int64_t, int64_t) {
                        return d == s ? 0u : s;
                    }));
        EXPECT_EQ(Image(other).alpha_in_use, 1);
        other = Layer("o", dst, 0);
        ASSERT_EQ(KeepEqualPixels(target, other, x, y, 0, 0, 1, 0), 0);
        EXPECT_TRUE(Read(other) == Placed(src, dst, x, y, [](uint32_t d, uint32_t s, int64_t, int64_t) {
                        return d == s ? d : 0u;
                    }));
    }
    // A layer against itself: all different pixels vanish, all equal stay.
    NamedTreeNode* self = Layer("s", src, 0);
    ASSERT_EQ(KeepEqualPixels(self, self, 0, 0, 0, 0, 1, 0), 0);
    EXPECT_TRUE(Read(self) == src);
    ASSERT_EQ(KeepDifferentPixels(self, self, 0, 0, 0, 0, 1, 0), 0);
    EXPECT_TRUE(Read(self) == (Pixels{9, 8, std::vector<uint32_t>(72, 0)}));
}

TEST_F(LayerDrawingTest, MixingTwoImagesIntoAThird) {
    const Pixels t = RandomPixels(11, 9, 6);
    const Pixels f = RandomPixels(11, 9, 7);
    const Pixels third = RandomPixels(14, 12, 8);
    auto mix = [](uint32_t target, uint32_t first, int64_t ratio) {
        int b[4];
        for (int c = 0; c < 4; ++c) {
            const int64_t tv = (target >> (8 * c)) & 255, fv = (first >> (8 * c)) & 255;
            b[c] = int(tv + (((fv - tv) * ratio) >> 8));
        }
        return Bgra(b[0], b[1], b[2], b[3]);
    };
    // Ratios below 128 and 256 follow the byte formula in every byte.
    for (const auto& [value, ratio] : std::vector<std::pair<int64_t, int64_t>>{
             {0, 1}, {100, 101}, {126, 127}, {255, 256}, {300, 256}, {-1, 0}, {-500, 0}, {INT64_MIN, 0}}) {
        for (const auto& [x, y] : std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {5, 4}, {-3, -2}}) {
            SCOPED_TRACE(::testing::Message() << "value " << value << " at " << x << "," << y);
            NamedTreeNode* target = Layer("t", t, 0);
            NamedTreeNode* first = Layer("f", f, 0);
            NamedTreeNode* receiver = Layer("r", third, 0);
            ASSERT_EQ(MixCgsIntoThird(target, first, receiver, x, y, 0, 0, value, 2), 0);
            const int64_t r = ratio;
            EXPECT_TRUE(Read(receiver) == Placed(t, third, x, y, [&](uint32_t, uint32_t s, int64_t sx, int64_t sy) {
                            return mix(s, f.At(sx, sy), r);
                        }));
            EXPECT_EQ(Image(receiver).alpha_in_use, 1);
        }
    }
}

TEST_F(LayerDrawingTest, MixingReadsTheFirstImageOnlyWhereItHasPixels) {
    const Pixels t = RandomPixels(11, 9, 6);
    const Pixels small = RandomPixels(4, 3, 7);
    const Pixels third = RandomPixels(14, 12, 8);
    NamedTreeNode* target = Layer("t", t, 0);
    NamedTreeNode* first = Layer("f", small, 0);
    NamedTreeNode* receiver = Layer("r", third, 0);
    ASSERT_EQ(MixCgsIntoThird(target, first, receiver, 2, 1, 0, 0, 255, 2), 0);
    // Ratio 256: the first image's pixels where it has them, the rest unchanged.
    EXPECT_TRUE(Read(receiver) == Placed(t, third, 2, 1, [&](uint32_t d, uint32_t, int64_t sx, int64_t sy) {
                    return sx < 4 && sy < 3 ? small.At(sx, sy) : d;
                }));
    // No second other layer: nothing to mix into, nothing changes.
    ASSERT_EQ(MixCgsIntoThird(target, first, nullptr, 0, 0, 0, 0, 10, 1), 0);
    EXPECT_TRUE(Read(target) == t);
    EXPECT_TRUE(Read(first) == small);
}

// A layer with a tone or a saturation is shown through a copy the
// compositor derives from the layer's own pixels. Every operation that
// writes into another layer in place shows through that copy: in the same
// frame (the copy made before the drawing is not shown again) and in the
// next (the copy is derived from the drawing).
TEST_F(LayerDrawingTest, WritingIntoAToneOrSaturatedLayerShowsThroughIt) {
    const Pixels src = RandomPixels(9, 7, 3);
    const Pixels dst = RandomPixels(9, 7, 4);
    const Pixels first = RandomPixels(9, 7, 5);
    struct Case {
        const char* name;
        std::function<int32_t(NamedTreeNode* target, NamedTreeNode* receiver)> run;
    };
    const Case cases[] = {
        {"draw over", [](NamedTreeNode* t, NamedTreeNode* r) { return DrawCgOver(t, r, 2, 1, 0, 0, 1); }},
        {"draw over with opacity",
         [](NamedTreeNode* t, NamedTreeNode* r) { return DrawCgOverWithOpacity(t, r, -1, 2, 0, 0, 1); }},
        {"keep different", [](NamedTreeNode* t, NamedTreeNode* r) { return KeepDifferentPixels(t, r, 0, 0, 0, 0, 1, 0); }},
        {"keep equal", [](NamedTreeNode* t, NamedTreeNode* r) { return KeepEqualPixels(t, r, 0, 0, 0, 0, 1, 0); }},
        {"mix", [&](NamedTreeNode* t, NamedTreeNode* r) {
             return MixCgsIntoThird(t, Layer("f", first, 1), r, 1, 1, 0, 0, 100, 2);
         }},
        {"rotate keeping the corners",
         [](NamedTreeNode* t, NamedTreeNode* r) { return RotateCg(t, r, 0, 0, 0, 0, 30, 1, 12); }},
        {"rotate bilinear", [](NamedTreeNode* t, NamedTreeNode* r) { return RotateCgBilinear(t, r, 0, 0, 0, 0, 45, 1, 10); }},
        {"trim to the same size", [](NamedTreeNode* t, NamedTreeNode* r) { return TrimCgToAlpha(t, r, 1, 0, 0); }},
    };
    struct Look {
        uint32_t tone;
        int32_t saturation;
    };
    for (const Case& c : cases) {
        for (const Look look : {Look{0x6090A0, 128}, Look{0x808080, 40}}) {
            for (bool next_frame : {false, true}) {
                SCOPED_TRACE(::testing::Message() << c.name << " tone " << std::hex << look.tone << std::dec
                                                  << " saturation " << look.saturation
                                                  << (next_frame ? " next frame" : " same frame"));
                auto set_look = [&](NamedTreeNode* node) {
                    Image(node).tone = look.tone;
                    Image(node).saturation = look.saturation;
                };
                // What the layer should show: the drawing on plain pixels,
                // then the tone or saturation.
                NamedTreeNode* plain = Layer("p", dst, 1);
                ASSERT_EQ(c.run(Layer("t", src, 1), plain), 0);
                NamedTreeNode* want = Layer("w", Read(plain), Image(plain).alpha_in_use);
                set_look(want);
                ASSERT_EQ(PrepareDrawnPixels(Image(want)), 0);

                NamedTreeNode* shown = Layer("o", dst, 1);
                set_look(shown);
                ASSERT_EQ(PrepareDrawnPixels(Image(shown)), 0);  // composed once with its copy
                ASSERT_EQ(Image(shown).current_pixels, Image(shown).derived_copy.data());
                ASSERT_EQ(c.run(Layer("t", src, 1), shown), 0);
                if (next_frame) ++TheFrameCounters.frame_count;
                ASSERT_EQ(PrepareDrawnPixels(Image(shown)), 0);
                EXPECT_TRUE(Read(shown) == Read(want));
                Pixels own{9, 7, std::vector<uint32_t>(63)};
                std::memcpy(own.p.data(), Image(shown).owned_block.data(), own.p.size() * 4);
                EXPECT_TRUE(own == Read(plain)) << "the layer's own pixels hold the drawing";
            }
        }
    }
}

TEST_F(LayerDrawingTest, TrimmingToTheVisibleBox) {
    Pixels src{9, 7, std::vector<uint32_t>(63, 0x00808080)};
    src.At(3, 2) = Bgra(1, 2, 3, 1);
    src.At(6, 4) = Bgra(4, 5, 6, 200);
    src.At(1, 5) = Bgra(7, 8, 9, 100);
    auto crop = [&](int64_t l, int64_t t, int64_t r, int64_t b) {
        Pixels out{int32_t(r - l + 1), int32_t(b - t + 1), {}};
        for (int64_t y = t; y <= b; ++y)
            for (int64_t x = l; x <= r; ++x) out.p.push_back(src.At(x, y));
        return out;
    };
    struct Case {
        uint8_t mask, threshold;
        int64_t l, t, r, b;
    };
    for (const Case& c : std::vector<Case>{{15, 0, 1, 2, 6, 5},     {15, 100, 6, 4, 6, 4},   {0, 0, 0, 0, 8, 6},
                                           {8, 0, 0, 2, 8, 6},      {4, 0, 0, 0, 8, 5},      {2, 0, 1, 0, 8, 6},
                                           {1, 0, 0, 0, 6, 6},      {15, 128, 0, 0, 8, 6},   {15, 255, 0, 0, 8, 6},
                                           {15, 101, 6, 4, 6, 4}}) {
        SCOPED_TRACE(::testing::Message() << "mask " << int(c.mask) << " threshold " << int(c.threshold));
        NamedTreeNode* target = Layer("t", src, 1);
        ASSERT_EQ(TrimCgToAlpha(target, nullptr, 0, c.mask, c.threshold), 0);
        EXPECT_TRUE(Read(target) == crop(c.l, c.t, c.r, c.b));
        target = Layer("t", src, 1);
        NamedTreeNode* other = Layer("o", RandomPixels(3, 3, 1), 0);
        ASSERT_EQ(TrimCgToAlpha(target, other, 1, c.mask, c.threshold), 0);
        EXPECT_TRUE(Read(other) == crop(c.l, c.t, c.r, c.b));
        EXPECT_TRUE(Read(target) == src);
        EXPECT_EQ(Image(other).alpha_in_use, 1);
    }
    // Nothing above the threshold: no box to crop to, nothing changes.
    for (uint8_t mask : {15, 8, 1}) {
        NamedTreeNode* target = Layer("t", src, 1);
        NamedTreeNode* other = Layer("o", RandomPixels(3, 3, 1), 0);
        ASSERT_EQ(TrimCgToAlpha(target, other, 1, mask, 200), 0);  // the 200 counts: -56 as a signed byte
        EXPECT_TRUE(Read(other) == src);
        const Pixels clear{9, 7, std::vector<uint32_t>(63, 0x7F808080)};
        target = Layer("t", clear, 1);
        other = Layer("o", RandomPixels(3, 3, 1), 0);
        ASSERT_EQ(TrimCgToAlpha(target, nullptr, 0, mask, 127), 0);
        ASSERT_EQ(TrimCgToAlpha(target, other, 1, mask, 127), 0);
        EXPECT_TRUE(Read(target) == clear);
        EXPECT_TRUE(Read(other) == RandomPixels(3, 3, 1));
    }
    // One visible pixel trims to 1 x 1.
    Pixels one{5, 5, std::vector<uint32_t>(25, 0)};
    one.At(2, 3) = 0xFF123456;
    NamedTreeNode* target = Layer("t", one, 1);
    ASSERT_EQ(TrimCgToAlpha(target, nullptr, 0, 15, 0), 0);
    EXPECT_TRUE(Read(target) == (Pixels{1, 1, {0xFF123456}}));
    // Another layer of the result's size keeps its block and takes the pixels.
    target = Layer("t", src, 0);
    NamedTreeNode* other = Layer("o", RandomPixels(6, 4, 1), 1);
    const uint8_t* block = Image(other).owned_block.data();
    ASSERT_EQ(TrimCgToAlpha(target, other, 1, 15, 0), 0);
    EXPECT_EQ(Image(other).owned_block.data(), block);
    EXPECT_TRUE(Read(other) == crop(1, 2, 6, 5));
    EXPECT_EQ(Image(other).alpha_in_use, 0);
}

TEST_F(LayerDrawingTest, CanvasMarginsGrowAndCut) {
    const Pixels src = RandomPixels(7, 5, 3);
    auto canvas = [&](int64_t l, int64_t r, int64_t t, int64_t b) {
        Pixels out{int32_t(7 + l + r), int32_t(5 + t + b), {}};
        out.p.assign(size_t(out.width) * size_t(out.height), 0x00808080);
        for (int64_t y = 0; y < 5; ++y)
            for (int64_t x = 0; x < 7; ++x) {
                const int64_t dx = x + l, dy = y + t;
                if (dx >= 0 && dy >= 0 && dx < out.width && dy < out.height) out.At(dx, dy) = src.At(x, y);
            }
        return out;
    };
    struct Case {
        int32_t l, r, t, b;
        uint8_t flag;
    };
    for (const Case& c : std::vector<Case>{{0, 0, 0, 0, 0}, {10, 0, 0, 0, 1}, {-2, 3, -1, -1, 1}, {-3, -3, 0, 0, 0},
                                           {-7, 6, 4, -4, 1}, {-6, 4, 0, 0, 1}, {2, -8, 1, 0, 1}, {0, 0, -4, 2, 1}}) {
        SCOPED_TRACE(::testing::Message() << c.l << " " << c.r << " " << c.t << " " << c.b);
        NamedTreeNode* target = Layer("t", src, 0);
        ASSERT_EQ(ResizeCgCanvas(target, nullptr, 0, c.l, c.r, c.t, c.b), 0);
        EXPECT_TRUE(Read(target) == canvas(c.l, c.r, c.t, c.b));
        EXPECT_EQ(Image(target).alpha_in_use, c.flag);
        target = Layer("t", src, 0);
        NamedTreeNode* other = Layer("o", RandomPixels(2, 2, 9), 1);
        ASSERT_EQ(ResizeCgCanvas(target, other, 1, c.l, c.r, c.t, c.b), 0);
        EXPECT_TRUE(Read(other) == canvas(c.l, c.r, c.t, c.b));
        EXPECT_TRUE(Read(target) == src);
        EXPECT_EQ(Image(other).alpha_in_use, c.flag);
    }
    // Only the left margin given as -W: the right and bottom default to W-1 and H-1.
    NamedTreeNode* target = Layer("t", src, 0);
    ASSERT_EQ(ResizeCgCanvas(target, nullptr, 0, -7, 6, 0, 4), 0);
    EXPECT_EQ(Image(target).width, 6);
    EXPECT_EQ(Image(target).height, 9);
    ExpectClean();
}

TEST_F(LayerDrawingTest, CanvasSizesOutsideTheLimitsChangeNothing) {
    const Pixels src = RandomPixels(7, 5, 3);
    struct Case {
        int32_t l, r, t, b;
        uint32_t error;  // 0: the size message box alone
        size_t boxes;
    };
    for (const Case& c : std::vector<Case>{
             {-7, 0, 0, 0, 0, 1},
             {0, 0, -3, -2, 0, 1},
             {8186, 0, 0, 0, 100010, 1},
             // Sums beyond 32 bits: a width that would wrap to a small one
             // and a height whose block cannot be held.
             {INT_MAX, INT_MAX, 0, 0, 100010, 1},
             {INT_MAX, INT_MAX - 7 + 2, 0, 0, 100010, 1},
             {0, 0, INT_MAX, INT_MAX, 104030, 0},
             {0, 0, 0, INT_MAX, 104030, 0}}) {
        SCOPED_TRACE(::testing::Message() << c.l << " " << c.r << " " << c.t << " " << c.b);
        ForgetReports();
        NamedTreeNode* target = Layer("t", src, 0);
        EXPECT_EQ(ResizeCgCanvas(target, nullptr, 0, c.l, c.r, c.t, c.b), -1);
        EXPECT_TRUE(Read(target) == src);
        EXPECT_EQ(LastError(), c.error);
        EXPECT_EQ(ui_.boxes.size(), c.boxes);
    }
}

}  // namespace
}  // namespace zk::effects_test
