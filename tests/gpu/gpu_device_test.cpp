// The device's life: creation for start-up, the frame's reset loop with an
// injected lost device, the fall-back to CPU drawing, and command 2's
// capture and paste with their refusals.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/system_text.h"
#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/system_facts.h"
#include "layers/compositor.h"
#include "platform/game_path.h"
#include "renderer/sprite_capture.h"
#include "system/system_command.h"
#include "tests/gpu/gpu_test_support.h"

namespace zk::gpu_test {
namespace {

using GpuDeviceTest = GpuTest;

TEST_F(GpuDeviceTest, TheDeviceTakesTheClientSizeAndTheTextureCaps) {
    const RendererObjects& objects = TheRendererObjects();
    EXPECT_EQ(objects.device_width, kWidth);
    EXPECT_EQ(objects.device_height, kHeight);
    EXPECT_NE(objects.back_buffer, 0u);
    EXPECT_NE(objects.render, 0u);
    EXPECT_NE(objects.get_ss, 0u);
    EXPECT_NE(objects.white, 0u);
    EXPECT_NE(objects.black, 0u);
    EXPECT_GE(objects.max_texture_width, 2048);
    EXPECT_TRUE(InDirect3DLayerMode());
}

TEST_F(GpuDeviceTest, ADeviceThatCannotBeMadeAsksForCpuDrawingWithItsBox) {
    TheGpuDeviceTestHooks().fail_next_init = true;
    EXPECT_EQ(InitDirect3D(), 1);
    EXPECT_TRUE(SawBox(std::string(Sjis("[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。"))));
    EXPECT_FALSE(GpuDeviceReady());
    EXPECT_EQ(TheRendererObjects().device, nullptr);
    EXPECT_EQ(InitDirect3D(), 0);  // the next attempt is not held back
}

TEST_F(GpuDeviceTest, NoFrameWithoutACaptureLayerOrTheOffScreenMode) {
    CgImage& capture = CaptureLayer();
    TheLayerGpuRequests().capture_layer = nullptr;
    AddLayer("a", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    DrawLayerFrame();
    EXPECT_EQ(PixelAt(capture, 0, 0), 0x12345678u);
}

TEST_F(GpuDeviceTest, ACaptureLayerOfAnotherSizeReceivesNothing) {
    AddLayer("a", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    NamedTreeNode* small = AddLayer("small", 10, 10, [](int32_t, int32_t) { return 0x01020304u; }, 0, 0,
                                    kTextureKindCpu, 90000);
    TheLayerGpuRequests().capture_layer = small;
    DrawLayerFrame();
    EXPECT_EQ(PixelAt(*LayerImage(small), 0, 0), 0x01020304u);
}

TEST_F(GpuDeviceTest, AnInjectedResetRebuildsEveryGrid) {
    NamedTreeNode* a = AddLayer("a", 600, 20, [](int32_t x, int32_t) { return 0xFF000000u | x; });
    NamedTreeNode* b = AddLayer("b", 8, 8, [](int32_t, int32_t) { return 0xFF00FF00u; }, 20, 30);
    const uint64_t before = TheRendererObjects().generation;
    CaptureLayer();
    TheGpuDeviceTestHooks().device_not_reset = true;
    CgImage& frame = DrawFrame();
    EXPECT_EQ(TheRendererObjects().generation, before + 1);
    for (NamedTreeNode* node : {a, b}) {
        const TextureGrid& grid = *LayerImage(node)->textures;
        EXPECT_EQ(grid.device_generation, before + 1);
        for (int i = 0; i < grid.columns * grid.rows; ++i) EXPECT_NE(grid.textures[i], 0u);
    }
    EXPECT_EQ(LayerImage(a)->textures->columns, 2);
    EXPECT_EQ(PixelAt(frame, 5, 5), 0xFF000005u);
    EXPECT_EQ(PixelAt(frame, 21, 31), 0xFF00FF00u);
    EXPECT_EQ(Settings().direct3d_layer_mode, 1);
}

TEST_F(GpuDeviceTest, TheResetRequestOfTheWindowCodeResetsOnce) {
    AddLayer("a", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    CaptureLayer();
    const uint64_t before = TheRendererObjects().generation;
    ASSERT_NE(Hooks().request_direct3d_reset, nullptr);
    Hooks().request_direct3d_reset();
    DrawFrame();
    DrawFrame();
    EXPECT_EQ(TheRendererObjects().generation, before + 1);
}

TEST_F(GpuDeviceTest, AFailedResetFallsBackToCpuDrawingAndDrawsNothing) {
    AddLayer("a", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    CgImage& capture = CaptureLayer();
    Settings().render_mode = 3;
    Settings().cpu_smooth_scaling = 0;
    TheGpuDeviceTestHooks().device_not_reset = true;
    TheGpuDeviceTestHooks().fail_next_init = true;
    DrawLayerFrame();
    EXPECT_EQ(PixelAt(capture, 0, 0), 0x12345678u);
    EXPECT_TRUE(SawBox(std::string(Sjis("GPU描画が出来ませんでした。CPU描画に移行します。"))));
    EXPECT_EQ(Settings().direct3d_layer_mode, 0);
    EXPECT_EQ(Settings().render_mode, 0);
    EXPECT_EQ(Settings().cpu_smooth_scaling, 1);
    EXPECT_FALSE(GpuDeviceReady());
    EXPECT_FALSE(InDirect3DLayerMode());
    // Later frames find no reset to make and nothing to draw with.
    TheGpuDeviceTestHooks().device_not_reset = true;
    DrawLayerFrame();
    EXPECT_EQ(PixelAt(capture, 0, 0), 0x12345678u);
}

// The device's own switch and command 116's code 80 alike.
TEST_F(GpuDeviceTest, TheOffScreenModeReadsNothingBack) {
    for (const bool by_command : {false, true}) {
        SCOPED_TRACE(by_command ? "code 80" : "device switch");
        AddLayer(by_command ? "b" : "a", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
        CgImage& capture = CaptureLayer();
        if (by_command) {
            RequestOffScreenMode(true);
        } else {
            TheRendererObjects().off_screen_mode = 1;
        }
        DrawLayerFrame();
        EXPECT_EQ(PixelAt(capture, 0, 0), 0x12345678u);
        EXPECT_NE(TheRendererObjects().scratch, 0u);
        TheRendererObjects().off_screen_mode = 0;
        RequestOffScreenMode(false);
    }
}

TEST_F(GpuDeviceTest, TheFullRedrawOfTheCompositorDrawsTheFrameFirst) {
    AddLayer("a", 8, 8, [](int32_t, int32_t) { return 0xFF0000FFu; }, 1, 1);
    CgImage& capture = CaptureLayer();
    TheLayerGpuRequests().full_redraw = 1;
    ASSERT_EQ(ComposeWindow(0), 0);
    EXPECT_EQ(TheLayerGpuRequests().full_redraw, 0);
    EXPECT_EQ(PixelAt(capture, 2, 2), 0xFF0000FFu);
    // The canvas shows the capture layer: the texture layer itself is not
    // composed by the CPU.
    EXPECT_EQ(PixelAt(*LayerImage(set_.w0), 2, 2), 0xFF0000FFu);
}

TEST_F(GpuDeviceTest, SixteenBitTexturesHoldFourBitsAChannelAndReadBackConverted) {
    Settings().texture_format = kD3dFmtA4R4G4B4;
    ASSERT_EQ(InitDirect3D(), 0);
    ASSERT_EQ(TheRendererObjects().layer_format, platform::GlTextureFormat::kRgba4);
    // 0x80, 0x40, 0xC0 round to the levels 8, 4, 11 of 15: 0x88, 0x44, 0xBB.
    NamedTreeNode* source = AddLayer("a", 8, 8, [](int32_t, int32_t) { return 0xFF8040C0u; });
    CgImage& frame = DrawFrame();
    EXPECT_EQ(PixelAt(frame, 3, 3), 0xFF8844BBu);
    NamedTreeNode* dest = AddLayer("dest", 3, 3, [](int32_t, int32_t) { return 0u; }, 0, 0, kTextureKindCpu);
    EXPECT_EQ(CaptureLayerToCg(source, dest), 0);
    EXPECT_EQ(PixelAt(*LayerImage(dest), 3, 3), 0xFF8844BBu);
}

// ------------------------------------------------------------ capture

TEST_F(GpuDeviceTest, ACaptureIsOfTheClientSizeWithTransparentMargins) {
    NamedTreeNode* source = AddLayer("src", 10, 6, [](int32_t x, int32_t y) { return 0xFF000000u | (x << 8) | y; },
                                     5, 7);
    // A child drawn elsewhere is not part of the capture.
    NamedTreeNode* dest = AddLayer("dest", 3, 3, [](int32_t, int32_t) { return 0x55555555u; }, 0, 0,
                                   kTextureKindCpu);
    EXPECT_EQ(CaptureLayerToCg(source, dest), 0);
    const CgImage& image = *LayerImage(dest);
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const bool inside = x >= 5 && x < 15 && y >= 7 && y < 13;
            const uint32_t expected = inside ? 0xFF000000u | ((x - 5) << 8) | (y - 7) : 0u;
            ASSERT_EQ(PixelAt(image, x, y), expected) << x << "," << y;
        }
    }
    EXPECT_EQ(TheRendererObjects().device->RenderTarget(), TheRendererObjects().get_ss);
}

TEST_F(GpuDeviceTest, ACaptureOfACpuLayerIsTransparent) {
    NamedTreeNode* source = AddLayer("src", 10, 6, [](int32_t, int32_t) { return 0xFFFFFFFFu; }, 0, 0,
                                     kTextureKindCpu);
    NamedTreeNode* dest = AddLayer("dest", 3, 3, [](int32_t, int32_t) { return 0x55555555u; }, 0, 0,
                                   kTextureKindCpu);
    EXPECT_EQ(CaptureLayerToCg(source, dest), 0);
    EXPECT_EQ(PixelAt(*LayerImage(dest), 0, 0), 0u);
    EXPECT_EQ(LayerImage(dest)->width, kWidth);
}

TEST_F(GpuDeviceTest, AClientAreaGrownSinceTheDeviceReadsTheOverlapAndZeroesTheRest) {
    NamedTreeNode* source = AddLayer("src", kWidth, kHeight, [](int32_t, int32_t) { return 0xFF102030u; });
    NamedTreeNode* dest = AddLayer("dest", 3, 3, [](int32_t, int32_t) { return 0x55555555u; }, 0, 0,
                                   kTextureKindCpu);
    GetWindowRecord(0)->client_width = kWidth + 16;
    GetWindowRecord(0)->client_height = kHeight + 8;
    EXPECT_EQ(CaptureLayerToCg(source, dest), 0);
    const CgImage& image = *LayerImage(dest);
    ASSERT_EQ(image.width, kWidth + 16);
    EXPECT_EQ(PixelAt(image, kWidth - 1, kHeight - 1), 0xFF102030u);
    EXPECT_EQ(PixelAt(image, kWidth, 0), 0u);
    EXPECT_EQ(PixelAt(image, 0, kHeight), 0u);
    EXPECT_EQ(PixelAt(image, kWidth + 15, kHeight + 7), 0u);
}

TEST_F(GpuDeviceTest, ACaptureWiderThan8192StopsAfterItsFatalReport) {
    NamedTreeNode* source = AddLayer("src", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    NamedTreeNode* dest = AddLayer("dest", 3, 3, [](int32_t, int32_t) { return 0x55555555u; }, 0, 0,
                                   kTextureKindCpu);
    GetWindowRecord(0)->client_width = 9000;
    EXPECT_EQ(CaptureLayerToCg(source, dest), -1);
    EXPECT_EQ(LayerImage(dest)->width, 3);
    EXPECT_EQ(PixelAt(*LayerImage(dest), 2, 2), 0x55555555u);
}

TEST_F(GpuDeviceTest, ACaptureIntoAMissingLayerIsRefused) {
    NamedTreeNode* source = AddLayer("src", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    EXPECT_EQ(CaptureLayerToCg(source, nullptr), -1);
}

// ------------------------------------------------------------ paste

TEST_F(GpuDeviceTest, PastingReplacesTheTexelsAndKeepsTilingAndPlacement) {
    NamedTreeNode* dest = AddLayer("dest", 600, 20, [](int32_t, int32_t) { return 0xFF0000FFu; }, -500, 2);
    NamedTreeNode* source = AddLayer("src", 600, 20, [](int32_t x, int32_t) { return 0xFF000000u | (x & 0xFF); }, 0,
                                     0, kTextureKindCpu);
    CgImage& image = *LayerImage(dest);
    image.placement[0] = 777;
    const TextureGrid before = *image.textures;
    EXPECT_EQ(PasteSprite(source, dest), 0);
    EXPECT_EQ(image.textures->textures, before.textures);
    EXPECT_EQ(image.placement[0], 777);
    EXPECT_EQ(image.x100, -50000);
    CgImage& frame = DrawFrame();
    // Frame x 20 shows layer x 520, in the second column of tiles.
    EXPECT_EQ(PixelAt(frame, 20, 5), 0xFF000000u | (520 & 0xFF));
}

TEST_F(GpuDeviceTest, APasteFromASmallerOrMissingSourceChangesNothing) {
    NamedTreeNode* dest = AddLayer("dest", 20, 20, [](int32_t, int32_t) { return 0xFF0000FFu; });
    NamedTreeNode* small = AddLayer("small", 20, 19, [](int32_t, int32_t) { return 0xFFFF0000u; }, 0, 0,
                                    kTextureKindCpu);
    EXPECT_EQ(PasteSprite(small, dest), -1);
    EXPECT_EQ(PasteSprite(nullptr, dest), -1);
    EXPECT_EQ(PasteSprite(small, nullptr), -1);
    CgImage& frame = DrawFrame();
    EXPECT_EQ(PixelAt(frame, 19, 19), 0xFF0000FFu);
}

TEST_F(GpuDeviceTest, APasteOnCpuDrawingDoesNothing) {
    NamedTreeNode* dest = AddLayer("dest", 20, 20, [](int32_t, int32_t) { return 0xFF0000FFu; });
    NamedTreeNode* source = AddLayer("src", 20, 20, [](int32_t, int32_t) { return 0xFFFF0000u; }, 0, 0,
                                     kTextureKindCpu);
    ReleaseDirect3D();
    EXPECT_EQ(PasteSprite(source, dest), 0);
    EXPECT_EQ(CaptureLayerToCg(source, dest), 0);
    EXPECT_EQ(LayerImage(dest)->width, 20);
}

TEST_F(GpuDeviceTest, ReleasingTheDeviceForgetsTheGridsItMade) {
    NamedTreeNode* a = AddLayer("a", 8, 8, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    ReleaseDirect3D();
    EXPECT_EQ(LayerImage(a)->textures->textures[0], 0u);
    ASSERT_EQ(InitDirect3D(), 0);
    // A grid of the earlier device is never drawn through the new one, and
    // freeing the layer deletes nothing of the new device.
    NamedTreeNode* b = AddLayer("b", 8, 8, [](int32_t, int32_t) { return 0xFF00FF00u; }, 10, 10);
    FreeLayerNode(a);
    CgImage& frame = DrawFrame();
    EXPECT_EQ(PixelAt(frame, 12, 12), 0xFF00FF00u);
    (void)b;
}

TEST(SystemReportTest, TheReportFileInTheGameFolderIsDeleted) {
    namespace fs = std::filesystem;
    const fs::path old = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / ("zk_gpu_report_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    fs::current_path(folder);
    platform::ClearPathCache();
    std::ofstream(folder / "info.txt") << "old";
    EXPECT_EQ(WriteSystemReport(), 0);
    EXPECT_FALSE(fs::exists(folder / "info.txt"));
    fs::current_path(old);
    platform::ClearPathCache();
    fs::remove_all(folder);
}

}  // namespace
}  // namespace zk::gpu_test
