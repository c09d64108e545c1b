// Glyph drawing into a layer image over the fake rasteriser of
// fake_glyphs.h, whose bitmaps are known: gradient layouts and
// orientations, smoothed coverage, blending, edge passes, the whole-box
// rule, measuring, and the slot's prepared state.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/engine_state.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/text_draw.h"
#include "layers/text_style.h"
#include "platform/ui.h"
#include "tests/layers/fake_glyphs.h"

namespace zk::text_test {
namespace {

constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kBlue = 0x0000FF;
constexpr uint32_t kSameColour = 0xFFFFFFFFu;  // second colour "-1"

class TextDrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        ResetErrorReporter();
        platform::InstallUi(&ui_);
        InitPathCharTable();
        UseFakeGlyphs();
        root_ = CreateRootNode();
        layer_ = CreateTreeNode(root_, "text", false, 1);
        MakeImage(40, 30);
    }
    void TearDown() override {
        FreeTreeNode(root_);
        RestoreGlyphBackend();
        platform::InstallUi(nullptr);
        ResetErrorReporter();
        ResetEngineState();
    }

    void MakeImage(int32_t width, int32_t height) {
        CgImage* image = CreateCgImage(layer_);
        ASSERT_NE(image, nullptr);
        image->width = width;
        image->height = height;
        ASSERT_TRUE(AllocCgPixels(*image, width, height));
        std::memset(image->owned_block.data(), 0, size_t(width) * size_t(height) * 4);
    }
    CgImage& Image() { return *LayerImage(layer_); }
    // 0xAARRGGBB.
    uint32_t Pixel(int32_t x, int32_t y) {
        uint32_t v;
        std::memcpy(&v, Image().owned_block.data() + (size_t(y) * size_t(Image().width) + size_t(x)) * 4, 4);
        return v;
    }
    void SetPixel(int32_t x, int32_t y, uint32_t v) {
        std::memcpy(Image().owned_block.data() + (size_t(y) * size_t(Image().width) + size_t(x)) * 4, &v, 4);
    }
    int CountAlpha(uint8_t alpha) {
        int n = 0;
        for (int32_t y = 0; y < Image().height; ++y)
            for (int32_t x = 0; x < Image().width; ++x) n += (Pixel(x, y) >> 24) == alpha ? 1 : 0;
        return n;
    }

    struct Style {
        uint32_t a = 0xFFFFFF;
        uint32_t b = kSameColour;
        int32_t layout = 0;
        int32_t orientation = 0;
        int32_t size = 4;
        int32_t height = 4;
        int32_t bold = 0;
        int32_t smoothing = 0;
        int32_t mode = 0;
    };
    int32_t Draw(const char* character, const Style& s, int32_t x, int32_t y, int64_t d = 0) {
        return DrawTextGlyphToCg(character, s.a, s.b, s.layout, s.orientation, s.size, s.height, s.bold, s.smoothing,
                                 d, x, y, s.mode, layer_);
    }

    platform::RecordingUi ui_;
    NamedTreeNode* root_ = nullptr;
    NamedTreeNode* layer_ = nullptr;
};

TEST_F(TextDrawTest, LookupTables) {
    EXPECT_EQ(NibbleInkCountTable[0x00], 4 * 256 + 4);
    EXPECT_EQ(NibbleInkCountTable[0xFF], 0);
    EXPECT_EQ(NibbleInkCountTable[0x7E], 1 * 256 + 1);
    EXPECT_EQ(NibbleInkCountTable[0x0F], 4 * 256);
    EXPECT_EQ(CoverageAlphaRamp[0], 0);
    EXPECT_EQ(CoverageAlphaRamp[8], 144);
    EXPECT_EQ(CoverageAlphaRamp[14], 252);
    EXPECT_EQ(CoverageAlphaRamp[15], 255);
    EXPECT_EQ(GlyphCellTable[0], 64);
    EXPECT_EQ(GlyphCellTable[20], 128);
    EXPECT_EQ(GlyphCellTable[256], 1088);
}

TEST_F(TextDrawTest, GradientCornersOfEveryLayoutAndTurn) {
    const uint32_t a = 0x102030, b = 0x80A0C0, m = 0x486078;
    using C = std::array<uint32_t, 4>;
    const C upright[9] = {{a, a, a, a}, {a, a, b, b}, {b, b, a, a}, {a, b, a, b}, {b, a, b, a},
                          {a, m, m, b}, {m, a, b, m}, {b, m, m, a}, {m, b, a, m}};
    for (int32_t layout = 0; layout <= 8; ++layout) {
        EXPECT_EQ(ComputeGradientCorners(layout, 0, a, b), upright[layout]) << "layout " << layout;
    }
    const int32_t turned[3][8] = {{3, 4, 2, 1, 8, 5, 6, 7}, {2, 1, 4, 3, 7, 8, 5, 6}, {4, 3, 1, 2, 6, 7, 8, 5}};
    for (int32_t orientation = 1; orientation <= 3; ++orientation) {
        EXPECT_EQ(ComputeGradientCorners(0, orientation, a, b), upright[0]);
        for (int32_t layout = 1; layout <= 8; ++layout) {
            EXPECT_EQ(ComputeGradientCorners(layout, orientation, a, b), upright[turned[orientation - 1][layout - 1]])
                << "layout " << layout << " orientation " << orientation;
        }
    }
    // Orientations 4..8 keep the layout; layouts beyond 8 are solid.
    EXPECT_EQ(ComputeGradientCorners(3, 6, a, b), upright[3]);
    EXPECT_EQ(ComputeGradientCorners(12, 0, a, b), upright[0]);
    EXPECT_EQ(ComputeGradientCorners(255, 2, a, b), upright[0]);
    // The midpoint truncates toward zero per channel.
    EXPECT_EQ(ComputeGradientCorners(5, 0, 0xFF0000, 0x0000FF)[1], 0x80007Fu);
}

TEST_F(TextDrawTest, VerticalGradientOverThreeRows) {
    Style s;
    s.a = kRed;
    s.b = kBlue;
    s.layout = 1;
    s.size = 2;
    s.height = 3;
    Draw("F", s, 1, 1);
    for (int32_t x = 1; x <= 2; ++x) {
        EXPECT_EQ(Pixel(x, 1), 0xFFFF0000u);
        EXPECT_EQ(Pixel(x, 2), 0xFF80007Fu);
        EXPECT_EQ(Pixel(x, 3), 0xFF0000FFu);
    }
    EXPECT_EQ(Pixel(0, 1), 0u);
    EXPECT_EQ(Image().alpha_in_use, 1);
}

// Turning the glyph keeps the gradient where it shows on screen: each
// layout's corners land on the same screen corners in all four turns.
TEST_F(TextDrawTest, GradientLayoutsKeepTheirScreenCornersInEveryTurn) {
    const uint32_t a = 0x204060, b = 0xE0C0A0;
    const uint32_t m = 0x808080;
    const uint32_t screen[9][4] = {{a, a, a, a}, {a, a, b, b}, {b, b, a, a}, {a, b, a, b}, {b, a, b, a},
                                   {a, m, m, b}, {m, a, b, m}, {b, m, m, a}, {m, b, a, m}};
    for (int32_t orientation = 0; orientation <= 3; ++orientation) {
        for (int32_t layout = 0; layout <= 8; ++layout) {
            Style s;
            s.a = a;
            s.b = b;
            s.layout = layout;
            s.orientation = orientation;
            s.size = 5;
            s.height = 5;
            Draw("F", s, 2, 3);
            const uint32_t got[4] = {Pixel(2, 3), Pixel(6, 3), Pixel(2, 7), Pixel(6, 7)};
            for (int corner = 0; corner < 4; ++corner) {
                EXPECT_EQ(got[corner], 0xFF000000u | screen[layout][corner])
                    << "layout " << layout << " orientation " << orientation << " corner " << corner;
            }
        }
    }
}

TEST_F(TextDrawTest, QuarterTurnPlacesTheBoxOnItsSide) {
    Style s;
    s.a = kRed;
    s.b = kBlue;
    s.layout = 1;
    s.orientation = 1;
    s.size = 16;
    s.height = 20;
    Draw("F", s, 3, 2);
    // Columns 3..22, rows 2..17, and nothing else.
    EXPECT_EQ(CountAlpha(255), 20 * 16);
    EXPECT_EQ(Pixel(3, 2) >> 24, 255u);
    EXPECT_EQ(Pixel(22, 17) >> 24, 255u);
    EXPECT_EQ(Pixel(23, 2), 0u);
    EXPECT_EQ(Pixel(3, 18), 0u);
    // The vertical layout became the box's horizontal one: on screen it
    // still runs from the top row to the bottom row.
    EXPECT_EQ(Pixel(10, 2), 0xFFFF0000u);
    EXPECT_EQ(Pixel(10, 17), 0xFF0000FFu);
}

TEST_F(TextDrawTest, SmoothCoverageAndBlending) {
    Style s;
    s.a = 0x336699;
    s.smoothing = 1;
    struct Case {
        const char* glyph;
        int32_t mode;
        uint32_t before;
        uint32_t want;
    };
    const Case cases[] = {
        {"F", 0, 0x12345678u, 0xFF336699u},  // a fully inked 4 x 4 block: alpha 255
        {"N", 0, 0x12345678u, 0x00336699u},  // no ink: the colour with alpha 0
        {"H", 0, 0x12345678u, 0x90336699u},  // 8 of 16: CoverageAlphaRamp[8] = 144
        {"F", 1, 0x00000000u, 0xFF336699u},  // blended over transparent: (S, 255)
        {"N", 1, 0x00000000u, 0x00336699u},  // nothing over transparent: (S, 0)
        // Half over opaque black: a = 145, alpha (255 + 145 - 144 - 1) = 255,
        // each channel v + (S - v) * 145 / 256.
        {"H", 1, 0xFF000000u, 0xFF1C3956u},
    };
    for (const Case& c : cases) {
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x < 8; ++x) SetPixel(x, y, c.before);
        Draw(c.glyph, [&] { Style t = s; t.mode = c.mode; return t; }(), 1, 1);
        EXPECT_EQ(Pixel(1, 1), c.want) << c.glyph << " mode " << c.mode;
        EXPECT_EQ(Pixel(4, 4), c.want) << c.glyph << " mode " << c.mode;
        EXPECT_EQ(Pixel(5, 5), c.before) << "outside the box";
    }
}

// Blending a smoothed glyph over what is there, written out once: the
// drawing takes shortcuts for no and full coverage, which must give these
// bytes over every background.
uint32_t BlendedPixel(uint32_t before, uint32_t colour, int32_t coverage) {
    const int32_t a = coverage + 1;
    const int32_t old_alpha = int32_t(before >> 24);
    const int32_t alpha = (old_alpha + a - ((old_alpha * a) >> 8) - 1) & 0xFF;
    uint32_t out = uint32_t(alpha) << 24;
    for (int shift : {0, 8, 16}) {
        const int32_t v = int32_t((before >> shift) & 0xFF), sv = int32_t((colour >> shift) & 0xFF);
        out |= uint32_t(uint8_t(v + (sv - v) * a / (alpha + 1))) << shift;
    }
    return out;
}

TEST_F(TextDrawTest, BlendingShortcutsGiveTheFullBlendsBytes) {
    Style s;
    s.a = 0x336699;
    s.smoothing = 1;
    s.mode = 1;
    const struct {
        const char* glyph;
        int32_t coverage;
    } glyphs[] = {{"F", 255}, {"N", 0}, {"H", 144}};
    for (const auto& g : glyphs) {
        for (uint32_t alpha : {0u, 1u, 127u, 128u, 254u, 255u}) {
            for (uint32_t rgb : {0x000000u, 0xFFFFFFu, 0x123456u, 0xABCDEFu, 0x336699u}) {
                const uint32_t before = alpha << 24 | rgb;
                SetPixel(1, 1, before);
                Draw(g.glyph, s, 1, 1);
                EXPECT_EQ(Pixel(1, 1), BlendedPixel(before, s.a, g.coverage))
                    << g.glyph << " over " << std::hex << before;
            }
        }
    }
}

TEST_F(TextDrawTest, ACharacterIsRasterisedOncePerPreparedStyle) {
    Style s;
    s.size = 10;
    s.height = 10;
    s.smoothing = 1;
    s.mode = 1;
    s.a = 0x20C040;
    auto image_after = [&](const char* glyph) {
        MakeImage(40, 30);
        Draw(glyph, s, 3, 3, 1);
        return std::vector<uint8_t>(Image().owned_block.data(), Image().owned_block.data() + 40 * 30 * 4);
    };
    const std::vector<uint8_t> fresh = image_after("L");
    EXPECT_EQ(GlyphLog().draws, 1);
    const GlyphExtent measured = RasteriseGlyph("L", 10, 10, 0, 1);
    image_after("H");
    EXPECT_EQ(GlyphLog().draws, 2);
    EXPECT_EQ(image_after("L"), fresh);  // from the cache, the same bytes
    const GlyphExtent again = RasteriseGlyph("L", 10, 10, 0, 1);
    EXPECT_EQ(GlyphLog().draws, 2);
    EXPECT_EQ(again.width, measured.width);
    EXPECT_EQ(again.height, measured.height);
    // A new style prepares the slot anew and forgets what it kept.
    s.bold = 1;
    image_after("L");
    EXPECT_EQ(GlyphLog().draws, 3);
}

TEST_F(TextDrawTest, PlainBackgroundIsBlackInModeZeroAndKeptInModeOne) {
    Style s;
    s.a = 0x00FF00;
    SetPixel(2, 2, 0x80112233u);
    Draw("N", s, 2, 2);
    EXPECT_EQ(Pixel(2, 2), 0xFF000000u);
    SetPixel(2, 2, 0x80112233u);
    s.mode = 1;
    Draw("N", s, 2, 2);
    EXPECT_EQ(Pixel(2, 2), 0x80112233u);
    Draw("F", s, 2, 2);
    EXPECT_EQ(Pixel(2, 2), 0xFF00FF00u);
}

TEST_F(TextDrawTest, EdgePasses) {
    Style s;
    s.size = 2;
    s.height = 2;
    s.mode = 1;
    struct Case {
        int64_t d;
        int pixels;
        bool centre;
    };
    // Boxes of 2 x 2 at (8, 8): one; five apart (d = 3); three offset by 2
    // and none at the centre (d = 12); three overlapping (d = 11).
    const Case cases[] = {{0, 4, true}, {3, 20, true}, {1, 4 + 4 + 4, true}, {12, 12, false}, {11, 8, false},
                          {-5, 4, true}};
    for (const Case& c : cases) {
        MakeImage(20, 20);
        EXPECT_EQ(Draw("F", s, 8, 8, c.d), 2) << "d " << c.d;
        EXPECT_EQ(CountAlpha(255), c.pixels) << "d " << c.d;
        EXPECT_EQ(Pixel(8, 8) >> 24, c.centre ? 255u : 0u) << "d " << c.d;
    }
    // A pass that does not fit is skipped; the others are drawn.
    MakeImage(20, 20);
    Draw("F", s, 1, 8, 3);
    EXPECT_EQ(CountAlpha(255), 16);
}

TEST_F(TextDrawTest, WholeBoxRule) {
    Style s;
    MakeImage(10, 10);
    // Reaching past the right edge by one pixel: nothing, not even a row.
    EXPECT_EQ(Draw("F", s, 7, 0), 4);
    EXPECT_EQ(CountAlpha(255), 0);
    EXPECT_EQ(Draw("F", s, 0, 7), 4);
    EXPECT_EQ(CountAlpha(255), 0);
    EXPECT_EQ(Draw("F", s, -1, 0), 4);
    EXPECT_EQ(CountAlpha(255), 0);
    Draw("F", s, 6, 6);
    EXPECT_EQ(CountAlpha(255), 16);
    // Turned, the box is height x size: 5 wide at x = 6 does not fit.
    MakeImage(10, 10);
    s.size = 2;
    s.height = 5;
    s.orientation = 1;
    Draw("F", s, 6, 0);
    EXPECT_EQ(CountAlpha(255), 0);
    s.orientation = 0;
    Draw("F", s, 6, 0);
    EXPECT_EQ(CountAlpha(255), 10);
}

TEST_F(TextDrawTest, SizesOutsideTheTablesDrawNothing) {
    MakeImage(300, 20);
    for (auto [size, height] : {std::pair{1, 4}, {0, 4}, {-3, 4}, {4, 1}, {4, 0}, {257, 4}, {4, 300}}) {
        Style s;
        s.size = size;
        s.height = height;
        s.smoothing = 1;
        EXPECT_EQ(Draw("F", s, 0, 0), 0) << size << " x " << height;
        EXPECT_EQ(CountAlpha(255), 0) << size << " x " << height;
    }
    // A box far flatter than it is wide: the row step would be 0 rows per
    // 100 and divide by zero; it steps through the cell instead.
    Style flat;
    flat.size = 256;
    flat.height = 2;
    flat.smoothing = 1;
    EXPECT_EQ(Draw("F", flat, 0, 0), 256);
    EXPECT_EQ(CountAlpha(255), 512);
    EXPECT_EQ(ErrorReporter().reports, 0u);
}

TEST_F(TextDrawTest, MeasuringByPitch) {
    // Proportional (slot font "Fake Gothic"), four-times cell of 128: ink
    // up to column 19 gives 19 / 4 + 4 = 8; the top ink row 8 gives
    // (128 - 8) / 4 + 4, held to the height.
    SelectFontSlot(0);
    ASSERT_EQ(SetSlotFontIndex(0), 1);
    GlyphExtent e = RasteriseGlyph("L", 20, 20, 0, 1);
    EXPECT_EQ(e.width, 8);
    EXPECT_EQ(e.height, 20);
    e = RasteriseGlyph("N", 20, 20, 0, 1);
    EXPECT_EQ(e.width, 4);
    EXPECT_EQ(e.height, 4);
    // Without smoothing the cell is measured in box pixels already.
    e = RasteriseGlyph("L", 30, 40, 0, 0);
    EXPECT_EQ(e.width, 23);
    // Fixed pitch: half the size for one byte, the size for two.
    ASSERT_EQ(SetSlotFontIndex(1), 1);
    e = RasteriseGlyph("L", 20, 24, 0, 1);
    EXPECT_EQ(e.width, 10);
    EXPECT_EQ(e.height, 24);
    e = RasteriseGlyph("\x82\xA0", 20, 24, 0, 1);
    EXPECT_EQ(e.width, 20);
}

TEST_F(TextDrawTest, SlotIsPreparedOncePerStyle) {
    SelectFontSlot(0);
    Style s;
    s.size = 10;
    s.height = 10;
    s.smoothing = 1;
    Draw("F", s, 0, 0);
    Draw("H", s, 0, 0);
    EXPECT_EQ(GlyphLog().prepares, 1);
    EXPECT_EQ(GlyphLog().font_height, 40);
    EXPECT_EQ(GlyphLog().face, FakeFamilies()[2].name);  // the default search found the alias
    EXPECT_FALSE(GlyphLog().bold);
    s.bold = 1;
    Draw("F", s, 0, 0);
    EXPECT_EQ(GlyphLog().prepares, 2);
    EXPECT_TRUE(GlyphLog().bold);
    s.smoothing = 0;
    Draw("F", s, 0, 0);
    EXPECT_EQ(GlyphLog().prepares, 3);
    EXPECT_EQ(GlyphLog().font_height, 10);
    // Another slot has a drawing state of its own.
    SelectFontSlot(3);
    Draw("F", s, 0, 0);
    EXPECT_EQ(GlyphLog().prepares, 4);
    SelectFontSlot(0);
    Draw("F", s, 0, 0);
    EXPECT_EQ(GlyphLog().prepares, 4);
}

TEST_F(TextDrawTest, FaceThatCannotBeHadIsReportedAndDrawsNothing) {
    GlyphLog().fail = true;
    Style s;
    EXPECT_EQ(Draw("F", s, 0, 0), 0);
    EXPECT_EQ(CountAlpha(255), 0);
    EXPECT_GE(ErrorReporter().reports, 1u);
    EXPECT_NE(QuitFlag.load(), 0);
}

}  // namespace
}  // namespace zk::text_test
