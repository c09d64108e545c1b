// The GPU path's test world: window 0 showing "W0" of kWidth x kHeight,
// the device made as start-up makes it (Direct3D layer mode on), boxes
// recorded, and helpers that build texture layers from pixel functions and
// read a drawn frame back through a capture layer. Every test skips where
// EGL gives no OpenGL 3.3 core context.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/layer_gpu_requests.h"
#include "platform/ui.h"
#include "renderer/gpu_device.h"
#include "renderer/gpu_layer_drawing.h"
#include "renderer/texture_grid.h"
#include "tests/layers/window_layer_set.h"

namespace zk::gpu_test {

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;

using PixelFn = std::function<uint32_t(int32_t x, int32_t y)>;  // 0xAARRGGBB

inline uint32_t PixelAt(const CgImage& image, int32_t x, int32_t y) {
    const uint8_t* p = image.current_pixels + (static_cast<size_t>(y) * image.width + x) * 4;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

class GpuTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InstallUi(&ui_);
        set_ = layer_test::MakeWindowLayerSet(kWidth, kHeight, true);
        WindowRecord* record = GetWindowRecord(0);
        record->client_width = kWidth;
        record->client_height = kHeight;
        Settings().direct3d_layer_mode = 1;
        RegisterGpuDeviceHooks();
        const int32_t init = InitDirect3D();
        if (init != 0) GTEST_SKIP() << "no OpenGL 3.3 core context through EGL here";
        ui_.boxes.clear();
    }

    void TearDown() override {
        layer_test::ReleaseWindowLayerSet();
        platform::InstallUi(nullptr);
    }

    // A leaf "W0/<name>" of w x h pixels at (x, y) in 1/1 pixel, of the
    // given texture kind (its grid built for kind 1, with command 1's caps).
    NamedTreeNode* AddLayer(const std::string& name, int32_t w, int32_t h, const PixelFn& pixel, int64_t x = 0,
                            int64_t y = 0, uint8_t kind = kTextureKindGrid, int64_t order = -1) {
        NamedTreeNode* node = CreateTreeNode(set_.w0, name, false, order < 0 ? ++order_ : order);
        EXPECT_NE(node, nullptr);
        CgImage* image = CreateCgImage(node);
        image->width = w;
        image->height = h;
        EXPECT_TRUE(AllocCgPixels(*image, w, h));
        Paint(*image, pixel);
        image->x = x;
        image->y = y;
        image->x100 = x * 100;
        image->y100 = y * 100;
        image->texture_kind = kind;
        if (kind == kTextureKindGrid) {
            EXPECT_EQ(CreateLayerTextures(*image, 0, 512, 256), 0);
        }
        return node;
    }

    static NamedTreeNode* Leaf(const std::string& name) {
        return FindNodeByPath(TheRootTrees().layers, "W0/" + name, kFindLeaf);
    }

    static void Paint(CgImage& image, const PixelFn& pixel) {
        for (int32_t y = 0; y < image.height; ++y) {
            for (int32_t x = 0; x < image.width; ++x) {
                const uint32_t v = pixel(x, y);
                uint8_t* p = image.current_pixels + (static_cast<size_t>(y) * image.width + x) * 4;
                p[0] = static_cast<uint8_t>(v);
                p[1] = static_cast<uint8_t>(v >> 8);
                p[2] = static_cast<uint8_t>(v >> 16);
                p[3] = static_cast<uint8_t>(v >> 24);
            }
        }
    }

    // A CPU leaf of the client size that the frame is read back into.
    CgImage& CaptureLayer() {
        if (capture_ == nullptr) {
            capture_ = AddLayer("capture", kWidth, kHeight, [](int32_t, int32_t) { return 0x12345678u; }, 0, 0,
                                kTextureKindCpu, 100000);
            TheLayerGpuRequests().capture_layer = capture_;
        }
        return *LayerImage(capture_);
    }

    // Draws a frame of the texture layers and gives the capture layer.
    CgImage& DrawFrame() {
        CgImage& capture = CaptureLayer();
        DrawLayerFrame();
        return capture;
    }

    bool SawBox(const std::string& text) const {
        for (const auto& box : ui_.boxes)
            if (box.text == text) return true;
        return false;
    }

    platform::RecordingUi ui_;
    layer_test::WindowLayerSet set_;
    NamedTreeNode* capture_ = nullptr;
    int64_t order_ = 0;
};

}  // namespace zk::gpu_test
