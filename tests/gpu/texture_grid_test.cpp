// The tiling rule as a table, and the grid's uploads on the device: tiles
// beyond the image transparent black, the refusals that leave a layer as it
// was, and the RGBA4 rounding.
#include <array>
#include <vector>

#include "base/system_text.h"
#include "tests/gpu/gpu_test_support.h"

namespace zk::gpu_test {
namespace {

struct TilingCase {
    const char* what;
    int32_t size;
    bool widths;
    std::vector<int32_t> caps;
    std::vector<int32_t> tiles;  // empty: overflow
    int32_t rest_after = 0;
};

TEST(TileAxisTest, TilesFollowTheSizeListTheCapsAndTheFirstColumnRule) {
    const std::vector<TilingCase> cases = {
        {"100 wide: one 512 column", 100, true, {}, {512}},
        {"100 high: one 128 row", 100, false, {}, {128}},
        {"exactly 4096", 4096, true, {}, {4096}},
        {"4097 uncapped", 4097, true, {}, {8192}},
        {"4097 under a 4096 device", 4097, true, {4096}, {4096, 16}},
        {"16 or less is 16", 3, false, {}, {16}},
        {"nothing at all still makes a row", 0, false, {}, {16}},
        {"narrow is 512 whatever the caps", 100, true, {4096, 512, 64}, {512}},
        {"512 or wider follows the caps", 600, true, {4096, 512, 512}, {512, 128}},
        {"caps of 0 or less do not apply", 300, false, {0, -5}, {512}},
        {"the caps apply in turn", 1000, false, {4096, 512, 256}, {256, 256, 256, 256}},
        {"31 tiles fit", 31 * 16, false, {16}, std::vector<int32_t>(31, 16)},
        {"a 32nd tile overflows", 31 * 16 + 1, false, {16}, {}, 1 - 16},
        {"8192 high under command 1's caps", 8192, false, {8192, 0, 256}, {}, 0},
        {"8192 wide under a 256 cap", 8192, true, {256}, {}, 0},
    };
    for (const TilingCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::array<int32_t, 32> tiles{};
        int32_t rest = 12345;
        const int32_t count = TileAxis(c.size, c.widths, c.caps, tiles, rest);
        if (c.tiles.empty()) {
            EXPECT_EQ(count, -1);
            EXPECT_EQ(rest, c.rest_after);
            continue;
        }
        ASSERT_EQ(count, static_cast<int32_t>(c.tiles.size()));
        EXPECT_EQ(std::vector<int32_t>(tiles.begin(), tiles.begin() + count), c.tiles);
    }
}

TEST(Rgba4Test, ChannelsRoundToTheNearestLevelAndDitheringKeepsTheMean) {
    // B, G, R, A = 0, 8, 9, 255: levels 0, 0, 1, 15 (R in the top nibble).
    const uint8_t pixel[4] = {0, 8, 9, 255};
    uint16_t texel = 0;
    platform::ConvertToRgba4(pixel, 1, 1, 4, false, &texel);
    EXPECT_EQ(texel, 0x100F);

    // A flat 100 lies between levels 85 and 102: plain rounding gives 102
    // everywhere; diffusion mixes the two so the mean stays near 100.
    constexpr int32_t kSide = 32;
    std::vector<uint8_t> flat(kSide * kSide * 4, 100);
    std::vector<uint16_t> plain(kSide * kSide), dithered(kSide * kSide);
    platform::ConvertToRgba4(flat.data(), kSide, kSide, kSide * 4, false, plain.data());
    platform::ConvertToRgba4(flat.data(), kSide, kSide, kSide * 4, true, dithered.data());
    double mean = 0;
    for (uint16_t t : dithered) mean += ((t >> 4) & 0xF) * 17;
    mean /= dithered.size();
    EXPECT_EQ((plain[0] >> 4) & 0xF, 6);
    EXPECT_NEAR(mean, 100.0, 1.0);
}

using TextureGridTest = GpuTest;

TEST_F(TextureGridTest, UploadStoresTheGridTheSizeAndHalfTheSizeAsCentre) {
    NamedTreeNode* node = AddLayer("a", 600, 300, [](int32_t x, int32_t y) { return 0xFF000000u | (x * 7 + y); });
    const CgImage& image = *LayerImage(node);
    const TextureGrid& grid = *image.textures;
    EXPECT_EQ(grid.columns, 2);
    EXPECT_EQ(grid.rows, 2);
    EXPECT_EQ(grid.tile_widths[0], 512);
    EXPECT_EQ(grid.tile_widths[1], 128);
    EXPECT_EQ(grid.tile_heights[0], 256);
    EXPECT_EQ(grid.tile_heights[1], 64);
    EXPECT_EQ(grid.width_cap, 512);
    EXPECT_EQ(grid.height_cap, 256);
    for (int i = 0; i < 4; ++i) EXPECT_NE(grid.textures[i], 0u);
    EXPECT_EQ(grid.textures[4], 0u);
    EXPECT_EQ(image.placement[0], 300);
    EXPECT_EQ(image.placement[1], 150);
    EXPECT_GE(StagingBlockBytes(), kFirstStagingBytes);
}

TEST_F(TextureGridTest, TilesBeyondTheImageAreTransparentBlack) {
    // 20 x 10 in a 512 x 16 tile: everything right of and below it is 0.
    NamedTreeNode* node = AddLayer("a", 20, 10, [](int32_t, int32_t) { return 0xFF80C040u; }, 0, 0);
    CgImage& image = *LayerImage(node);
    image.zoom_x = image.zoom_y = 10000;
    CgImage& frame = DrawFrame();
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint32_t expected = x < 20 && y < 10 ? 0xFF80C040u : 0u;
            ASSERT_EQ(PixelAt(frame, x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(TextureGridTest, AGridOfMoreThan256TexturesIsRefusedAndTheOldOneKept) {
    NamedTreeNode* node = AddLayer("a", 40, 40, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    CgImage& image = *LayerImage(node);
    const TextureGrid before = *image.textures;
    // 992 x 288 in 32-pixel tiles: 31 x 9 = 279 textures.
    image.width = 992;
    image.height = 288;
    ASSERT_TRUE(AllocCgPixels(image, 992, 288));
    EXPECT_EQ(CreateLayerTextures(image, 0, 32, 32), -1);
    EXPECT_EQ(image.textures->columns, before.columns);
    EXPECT_EQ(image.textures->rows, before.rows);
    EXPECT_EQ(image.textures->textures, before.textures);
}

TEST_F(TextureGridTest, AFailedStagingAllocationRefusesWithItsMessage) {
    NamedTreeNode* node = AddLayer("a", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; }, 0, 0, kTextureKindCpu);
    CgImage& image = *LayerImage(node);
    image.texture_kind = kTextureKindGrid;
    TheTextureGridTestHooks().fail_next_staging_allocation = true;
    EXPECT_EQ(CreateLayerTextures(image, 0, 512, 256), -1);
    EXPECT_TRUE(SawBox(std::string(Sjis("メモリ不足エラー."))));
    EXPECT_TRUE(image.textures == nullptr || image.textures->textures[0] == 0u);
    // The next upload allocates again.
    EXPECT_EQ(CreateLayerTextures(image, 0, 512, 256), 0);
}

TEST_F(TextureGridTest, OverflowShowsItsMessageAndLeavesTheLayerWithoutTextures) {
    NamedTreeNode* node = AddLayer("a", 40, 40, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    CgImage& image = *LayerImage(node);
    image.height = 31 * 16 + 1;
    ASSERT_TRUE(AllocCgPixels(image, image.width, image.height));
    EXPECT_EQ(CreateLayerTextures(image, 0, 512, 16), -1);
    EXPECT_TRUE(SawBox("TYNUM Overflow Error. SX = 40, SY = 497, mRest = -15"));
    EXPECT_EQ(image.textures->textures[0], 0u);
}

}  // namespace
}  // namespace zk::gpu_test
