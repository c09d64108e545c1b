// Texture layers drawn by the device and read back: copies at whole pixels
// are exact, every blend mode matches its formula on the texels, rotation
// turns about the centre, and the mask and crossfade passes.
#include <algorithm>
#include <cmath>

#include "base/system_text.h"
#include "tests/gpu/gpu_test_support.h"

namespace zk::gpu_test {
namespace {

using LayerDrawingTest = GpuTest;

uint32_t Pattern(int32_t x, int32_t y) {
    return 0xFF000000u | static_cast<uint32_t>((x * 37 + y * 11) & 0xFF) << 16 |
           static_cast<uint32_t>((x * 5 + y * 71) & 0xFF) << 8 | static_cast<uint32_t>((x * 13 ^ y * 29) & 0xFF);
}

TEST_F(LayerDrawingTest, WholePixelCopiesAreExactAcrossTiles) {
    // 600 x 300 under the caps: tiles of 512 and 128 by 256 and 64. The
    // layer sits at (-520, -250), so all four tiles meet inside the frame.
    NamedTreeNode* node = AddLayer("a", 600, 300, Pattern, -520, -250);
    (void)node;
    CgImage& frame = DrawFrame();
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const int32_t sx = x + 520, sy = y + 250;
            const uint32_t expected = sx < 600 && sy < 300 ? Pattern(sx, sy) : 0u;
            ASSERT_EQ(PixelAt(frame, x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(LayerDrawingTest, TextureCoordinatesAtWholePixelsAreExactlyZeroToOne) {
    NamedTreeNode* node = AddLayer("a", 20, 10, Pattern, 3, 4);
    CgImage& image = *LayerImage(node);
    TileQuad quads[1];
    ASSERT_EQ(BuildTileQuads(image, *image.textures, false, quads, 1), 1);
    const platform::GlVertex* v = quads[0].vertices;
    // left-bottom, right-bottom, left-top, right-top.
    EXPECT_FLOAT_EQ(v[0].x, 2.5f);
    EXPECT_FLOAT_EQ(v[0].y, 3.5f + 16);
    EXPECT_FLOAT_EQ(v[3].x, 2.5f + 512);
    EXPECT_FLOAT_EQ(v[3].y, 3.5f);
    EXPECT_FLOAT_EQ(v[0].u, 0.0f);
    EXPECT_FLOAT_EQ(v[0].v, 1.0f);
    EXPECT_FLOAT_EQ(v[3].u, 1.0f);
    EXPECT_FLOAT_EQ(v[3].v, 0.0f);
}

// The frame after drawing a top layer in `mode` over an opaque backdrop,
// against the blend mode's formula on the texels, within 1.
struct ModeCase {
    uint8_t mode;
    int16_t opacity;
};

double Channel(uint32_t pixel, int shift) { return ((pixel >> shift) & 0xFF) / 255.0; }

// The expected pixel: s = the top texel, d = the backdrop, a = opacity byte.
uint32_t Expected(uint8_t mode, uint32_t s_pixel, uint32_t d_pixel, double a) {
    double out[4];
    const int shifts[4] = {16, 8, 0, 24};  // r, g, b, a
    double t[4], d[4];
    for (int i = 0; i < 4; ++i) {
        t[i] = Channel(s_pixel, shifts[i]);
        d[i] = Channel(d_pixel, shifts[i]);
    }
    double m[4];
    for (int i = 0; i < 4; ++i) m[i] = t[i] * a;
    switch (mode) {
        case 1: {  // add
            const double sa = t[3] * a;
            for (int i = 0; i < 3; ++i) out[i] = t[i] * sa + d[i];
            out[3] = sa * sa + d[3];
            break;
        }
        case 2:  // subtract
            for (int i = 0; i < 4; ++i) out[i] = d[i] - m[i] * m[3];
            break;
        case 3: {  // multiply
            double c[4];
            for (int i = 0; i < 3; ++i) c[i] = m[i] * m[3] + (1 - m[3]);
            c[3] = m[3];
            for (int i = 0; i < 4; ++i) out[i] = d[i] * c[i];
            break;
        }
        case 5: {  // screen
            double c[4];
            for (int i = 0; i < 3; ++i) c[i] = m[i] * m[3];
            c[3] = m[3];
            for (int i = 0; i < 4; ++i) out[i] = c[i] * (1 - d[i]) + d[i];
            break;
        }
        case 6:  // lighten
            for (int i = 0; i < 4; ++i) out[i] = std::max(m[i], d[i]);
            break;
        case 7: {  // darken
            double c[4];
            for (int i = 0; i < 3; ++i) c[i] = m[i] * m[3] + (1 - m[3]);
            c[3] = m[3];
            for (int i = 0; i < 4; ++i) out[i] = std::min(c[i], d[i]);
            break;
        }
        case 9:  // exclusion
            for (int i = 0; i < 4; ++i) out[i] = m[i] * (1 - d[i]) + d[i] * (1 - m[i]);
            break;
        default: {  // normal, and the modes drawn as normal
            double s[4] = {t[0], t[1], t[2], t[3] * a};
            for (int i = 0; i < 4; ++i) out[i] = s[i] * s[3] + d[i] * (1 - s[3]);
            break;
        }
    }
    uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t byte = static_cast<uint32_t>(std::lround(std::clamp(out[i], 0.0, 1.0) * 255.0));
        result |= byte << shifts[i];
    }
    return result;
}

bool Within1(uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int da = static_cast<int>((a >> shift) & 0xFF), db = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(da - db) > 1) return false;
    }
    return true;
}

TEST_F(LayerDrawingTest, EachBlendModeMatchesItsFormulaOnTheTexels) {
    auto backdrop = [](int32_t x, int32_t y) {
        return 0xFF000000u | static_cast<uint32_t>(x * 4) << 16 | static_cast<uint32_t>(y * 5) << 8 | 0x60u;
    };
    auto top = [](int32_t x, int32_t y) {
        return static_cast<uint32_t>((x * 8 + y * 3) & 0xFF) << 24 | static_cast<uint32_t>(255 - x * 4) << 16 |
               static_cast<uint32_t>(y * 5) << 8 | static_cast<uint32_t>((x * y) & 0xFF);
    };
    AddLayer("back", kWidth, kHeight, backdrop);
    NamedTreeNode* node = AddLayer("top", kWidth, kHeight, top);
    const ModeCase cases[] = {{0, 256}, {0, 100}, {1, 200}, {2, 180}, {3, 256}, {3, 90},  {5, 256},
                              {5, 130}, {6, 256}, {6, 77},  {7, 256}, {7, 140}, {9, 256}, {9, 60},
                              {4, 150}, {12, 256}};
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << int{c.mode} << " opacity " << c.opacity);
        CgImage& image = *LayerImage(node);
        image.blend_mode = c.mode;
        image.opacity = c.opacity;
        CgImage& frame = DrawFrame();
        const double a = std::min<int>(c.opacity, 255) / 255.0;
        int bad = 0;
        for (int32_t y = 0; y < kHeight && bad < 3; ++y) {
            for (int32_t x = 0; x < kWidth && bad < 3; ++x) {
                const uint32_t expected = Expected(c.mode, top(x, y), backdrop(x, y), a);
                const uint32_t got = PixelAt(frame, x, y);
                if (!Within1(got, expected)) {
                    ++bad;
                    ADD_FAILURE() << std::hex << x << "," << y << " got " << got << " expected " << expected;
                }
            }
        }
    }
}

TEST_F(LayerDrawingTest, OpacityZeroOrInvisibleDrawsNothing) {
    NamedTreeNode* node = AddLayer("a", 8, 8, Pattern, 2, 2);
    CgImage& image = *LayerImage(node);
    for (int hidden = 0; hidden < 2; ++hidden) {
        image.opacity = hidden == 0 ? 0 : 256;
        image.visible = hidden == 0 ? 1 : 0;
        CgImage& frame = DrawFrame();
        EXPECT_EQ(PixelAt(frame, 4, 4), 0u);
    }
}

TEST_F(LayerDrawingTest, RotationTurnsAboutTheCentre) {
    // A 4 x 2 layer at (10, 10) turned by 180 degrees of roll about its own
    // middle (12, 11): pixel (10 + i, 10 + j) shows texel (3 - i, 1 - j).
    NamedTreeNode* node = AddLayer("a", 4, 2, Pattern, 10, 10);
    CgImage& image = *LayerImage(node);
    image.placement[0] = 1200 - 50;  // the middle of the pixel span 10..13 is 11.5
    image.placement[1] = 1100 - 50;
    image.angles[2] = 18000.0f;
    CgImage& frame = DrawFrame();
    for (int32_t j = 0; j < 2; ++j)
        for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(PixelAt(frame, 10 + i, 10 + j), Pattern(3 - i, 1 - j)) << i << "," << j;
}

TEST_F(LayerDrawingTest, AFreshUploadTurnsAboutAHundredthOfItsSize) {
    // After the upload the centre holds half the size in whole pixels, read
    // as 1/100 pixel: the turn is about (w / 200, h / 200).
    NamedTreeNode* node = AddLayer("a", 400, 200, Pattern, 0, 0);
    CgImage& image = *LayerImage(node);
    ASSERT_EQ(image.placement[0], 200);
    ASSERT_EQ(image.placement[1], 100);
    image.angles[2] = 9000.0f;  // a quarter turn of roll
    TileQuad quads[4];
    ASSERT_EQ(BuildTileQuads(image, *image.textures, false, quads, 4), 1);
    // Row vectors: (x, y) turns to (-y, x) about (2, 1).
    const platform::GlVertex& left_top = quads[0].vertices[2];
    EXPECT_NEAR(left_top.x, 2 - (-0.5 - 1), 1e-3);
    EXPECT_NEAR(left_top.y, 1 + (-0.5 - 2), 1e-3);
}

TEST_F(LayerDrawingTest, MaskThresholdZeroHidesAndFullShows) {
    auto opaque = [](int32_t x, int32_t y) { return Pattern(x, y); };
    NamedTreeNode* node = AddLayer("a", 16, 16, opaque, 0, 0);
    AddLayer("m", 16, 16, [](int32_t x, int32_t) { return 0xFF000000u | (x * 16) << 16; }, 0, 0);
    LayerImage(Leaf("m"))->visible = 0;
    CgImage& image = *LayerImage(node);
    image.mask_layer_name = "m";
    image.mask_softness = 1;
    image.mask_level = 0;
    CgImage& hidden = DrawFrame();
    EXPECT_EQ(PixelAt(hidden, 5, 5), 0u);
    EXPECT_EQ(PixelAt(hidden, 15, 15), 0u);
    image.mask_level = 256;
    CgImage& shown = DrawFrame();
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(PixelAt(shown, x, y), Pattern(x, y)) << x << "," << y;
}

TEST_F(LayerDrawingTest, AMaskTiledDifferentlyIsDrawnAsWithoutIt) {
    NamedTreeNode* node = AddLayer("a", 16, 16, Pattern, 0, 0);
    // 16 x 600: two rows of tiles where the layer has one.
    AddLayer("m", 16, 600, [](int32_t, int32_t) { return 0xFF000000u; }, 0, 0);
    LayerImage(Leaf("m"))->visible = 0;
    CgImage& image = *LayerImage(node);
    image.mask_layer_name = "m";
    image.mask_softness = 1;
    image.mask_level = 0;  // would hide everything
    CgImage& frame = DrawFrame();
    EXPECT_EQ(PixelAt(frame, 3, 3), Pattern(3, 3));
}

TEST_F(LayerDrawingTest, SoftnessZeroWithAPartnerCrossfades) {
    NamedTreeNode* node = AddLayer("a", 16, 16, [](int32_t, int32_t) { return 0xFFFF0000u; }, 0, 0);
    AddLayer("b", 16, 16, [](int32_t, int32_t) { return 0xFF0000FFu; }, 0, 0);
    LayerImage(Leaf("b"))->visible = 0;
    CgImage& image = *LayerImage(node);
    image.drawing_text = "b";
    image.drawing_level = 64;  // a quarter of the partner
    image.mask_layer_name = "b";
    image.mask_softness = 0;  // no mask pass
    CgImage& frame = DrawFrame();
    EXPECT_TRUE(Within1(PixelAt(frame, 4, 4), 0xFFBF0040u)) << std::hex << PixelAt(frame, 4, 4);
}

// A model layer: one tile of the device's size, not filled from pixels,
// rendered by the model hook into that tile, and placed at 0, 0 unscaled
// whatever its own position and zoom.
int model_renders = 0;
platform::GlTexture model_target = 0;

TEST_F(LayerDrawingTest, AModelLayerRendersIntoItsTileAndIsPlacedAtTheOrigin) {
    model_renders = 0;
    TheGpuDeviceHooks().emote_available = [] { return true; };
    TheGpuDeviceHooks().render_emote_layer = [](CgImage& image, platform::GlTexture texture, int32_t w, int32_t h) {
        ++model_renders;
        model_target = TheRendererObjects().device->RenderTarget();
        EXPECT_EQ(texture, image.textures->textures[0]);
        EXPECT_EQ(w, kWidth);
        EXPECT_EQ(h, kHeight);
        TheRendererObjects().device->Clear(0xFF20A060u);  // the "model"
    };
    NamedTreeNode* node = AddLayer("model", 4, 4, [](int32_t, int32_t) { return 0xFFFFFFFFu; }, 0, 0,
                                   kTextureKindCpu);
    CgImage& image = *LayerImage(node);
    image.texture_kind = kTextureKindEmote;
    ASSERT_EQ(CreateLayerTextures(image, 0, 512, 256), 0);
    EXPECT_EQ(image.textures->columns, 1);
    EXPECT_EQ(image.textures->tile_widths[0], kWidth);
    EXPECT_EQ(image.textures->tile_heights[0], kHeight);
    image.x100 = 1000;
    image.zoom_x = 5000;
    CgImage& frame = DrawFrame();
    EXPECT_EQ(model_renders, 1);
    EXPECT_EQ(model_target, image.textures->textures[0]);
    EXPECT_EQ(PixelAt(frame, 0, 0), 0xFF20A060u);
    EXPECT_EQ(PixelAt(frame, kWidth - 1, kHeight - 1), 0xFF20A060u);
    // The frame's own target is bound again after the model.
    EXPECT_EQ(TheRendererObjects().device->RenderTarget(), TheRendererObjects().back_buffer);
}

}  // namespace
}  // namespace zk::gpu_test
