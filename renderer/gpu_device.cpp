#include "system/system_command.h"
#include "renderer/gpu_device.h"

#include <algorithm>
#include <vector>

#include "base/system_text.h"
#include "core/engine_hooks.h"
#include "core/error_report.h"
#include "core/named_tree.h"
#include "core/settings.h"
#include "core/startup_notes.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/layer_gpu_requests.h"
#include "renderer/gpu_layer_drawing.h"
#include "renderer/texture_grid.h"

namespace zk {

namespace {

using platform::GlDevice;
using platform::GlTexture;

RendererObjects renderer_objects;
GpuDeviceHooks device_hooks;
GpuDeviceTestHooks test_hooks;

NamedTreeNode* MainRootLayer() {
    WindowRecord* record = MainWindowRecord();
    return record != nullptr ? record->shown_layer_set : nullptr;
}

void MainClientSize(int32_t& width, int32_t& height) {
    const WindowRecord* record = MainWindowRecord();
    width = record != nullptr ? record->client_width : 0;
    height = record != nullptr ? record->client_height : 0;
}

void DeleteTarget(GlTexture& texture) {
    if (renderer_objects.device != nullptr) renderer_objects.device->DeleteTexture(texture);
    texture = 0;
}

// A device-size texture filled with one colour; 0 when it cannot be made.
GlTexture MakeFilledTexture(uint32_t argb) {
    RendererObjects& objects = renderer_objects;
    bool out_of_memory = false;
    const GlTexture texture =
        objects.device->CreateTexture(objects.device_width, objects.device_height, objects.layer_format, out_of_memory);
    if (texture == 0) return 0;
    const uint8_t pixel[4] = {static_cast<uint8_t>(argb), static_cast<uint8_t>(argb >> 8),
                              static_cast<uint8_t>(argb >> 16), static_cast<uint8_t>(argb >> 24)};
    std::vector<uint8_t> pixels(static_cast<size_t>(objects.device_width) * 4 *
                                static_cast<size_t>(objects.device_height));
    for (size_t i = 0; i < pixels.size(); i += 4) std::copy(pixel, pixel + 4, pixels.begin() + static_cast<ptrdiff_t>(i));
    objects.device->Upload(texture, pixels.data(), objects.device_width, objects.device_height,
                           static_cast<size_t>(objects.device_width) * 4, objects.layer_format, false);
    return texture;
}

// 0; 1 after its message when the back buffer cannot be made (the device
// is unusable); -1 after its message when a render target cannot be made.
int32_t CreateRenderTargets() {
    RendererObjects& objects = renderer_objects;
    GlDevice& device = *objects.device;
    bool out_of_memory = false;
    objects.back_buffer = device.CreateTexture(objects.device_width, objects.device_height,
                                               platform::GlTextureFormat::kRgba8, out_of_memory);
    if (objects.back_buffer == 0) {
        ShowMessageBox(Sjis("エラー").data(), Sjis("バックバッファサーフェス取得に失敗しました。"));
        return 1;
    }
    objects.render = device.CreateTexture(objects.device_width, objects.device_height, objects.layer_format,
                                          out_of_memory);
    if (objects.render == 0) {
        ShowMessageBox(nullptr, Sjis("Render テクスチャを生成できませんでした。"));
        return -1;
    }
    objects.get_ss = device.CreateTexture(objects.device_width, objects.device_height, objects.layer_format,
                                          out_of_memory);
    if (objects.get_ss == 0) {
        ShowMessageBox(nullptr, Sjis("GetSS テクスチャを生成できませんでした。"));
        return -1;
    }
    if (GpuLayerDrawing()) {
        objects.white = MakeFilledTexture(0xFFFFFFFFu);
        if (objects.white == 0) ShowMessageBox(nullptr, "WHITETEXBUF ERROR.");
        objects.black = MakeFilledTexture(0xFF000000u);
        if (objects.black == 0) ShowMessageBox(nullptr, "BLACKTEXBUF ERROR.");
    }
    device.SetRenderTarget(objects.back_buffer, objects.device_width, objects.device_height);
    return 0;
}

void FallBackToCpuDrawing() {
    EngineSettings& settings = Settings();
    StoreDrawingSwitch(settings.render_mode, 0);
    StoreDrawingSwitch(settings.cpu_smooth_scaling, 1);
    StoreDrawingSwitch(settings.direct3d_layer_mode, 0);
}

// Command 116's codes 80 and 81, or the device's own switch.
bool OffScreen(const RendererObjects& objects) { return objects.off_screen_mode != 0 || OffScreenModeRequested(); }

void FillLayerGpuRequests() {
    LayerGpuRequests& gpu = TheLayerGpuRequests();
    gpu.direct3d_layer_mode = [] { return GpuLayerDrawing() && GpuDeviceReady(); };
    gpu.off_screen_mode = [] { return OffScreen(renderer_objects); };
    gpu.create_layer_textures = CreateLayerTextures;
    gpu.draw_layer_frame = DrawLayerFrame;
}

}  // namespace

RendererObjects& TheRendererObjects() { return renderer_objects; }
GpuDeviceHooks& TheGpuDeviceHooks() { return device_hooks; }
GpuDeviceTestHooks& TheGpuDeviceTestHooks() { return test_hooks; }

bool GpuEmoteAvailable() {
    return device_hooks.emote_available != nullptr ? device_hooks.emote_available() : EmoteLibraryLoaded();
}

bool GpuDeviceReady() { return renderer_objects.device != nullptr && renderer_objects.back_buffer != 0; }

int32_t InitDirect3D() {
    RendererObjects& objects = renderer_objects;
    if (objects.device != nullptr) ReleaseDirect3D();
    platform::GlCreateStatus status = platform::GlCreateStatus::kNoContext;
    if (test_hooks.fail_next_init) {
        test_hooks.fail_next_init = false;
    } else {
        objects.device = GlDevice::Create(status);
    }
    if (objects.device == nullptr) {
        if (status == platform::GlCreateStatus::kNoDisplay)
            ShowMessageBox(nullptr, Sjis("[DX]オブジェクトを生成できませんでした。"));
        else if (status == platform::GlCreateStatus::kNoProgram)
            ShowMessageBox(nullptr, Sjis("[エラー] Shader Init Error."));
        else
            ShowMessageBox(nullptr, Sjis("[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。"));
        return 1;
    }
    ++objects.generation;
    int32_t targets = -1;
    {
        GlDevice::Current current(*objects.device);
        if (!current.ok()) {
            objects.device.reset();
            ShowMessageBox(nullptr, Sjis("[Direct3D初期化エラー]Direct3Dの初期化に失敗しました。"));
            return 1;
        }
        MainClientSize(objects.device_width, objects.device_height);
        objects.device_width = std::max(objects.device_width, 1);
        objects.device_height = std::max(objects.device_height, 1);
        objects.layer_format = Settings().texture_format == kD3dFmtA4R4G4B4 ? platform::GlTextureFormat::kRgba4
                                                                            : platform::GlTextureFormat::kRgba8;
        if (GpuEmoteAvailable()) {
            if (device_hooks.reset_emote_camera != nullptr) device_hooks.reset_emote_camera();
            if (device_hooks.create_emote_driver != nullptr) device_hooks.create_emote_driver();
        }
        objects.max_texture_width = objects.max_texture_height = objects.device->MaxTextureSize();
        targets = CreateRenderTargets();
    }
    if (targets != 0) {
        ReleaseDirect3D();
        return targets;
    }
    FillLayerGpuRequests();
    return 0;
}

int32_t WalkLayerTextures(NamedTreeNode* group, int mode) {
    CgImage* group_image = LayerImage(group);
    if (group_image == nullptr || group_image->current_pixels == nullptr) return 0;
    for (NamedTreeNode* node = group->first_child; node != nullptr; node = node->next_sibling) {
        if (node->group != 0 && WalkLayerTextures(node, mode) != 0) return -1;
        CgImage* image = LayerImage(node);
        if (image == nullptr || image->texture_kind == kTextureKindCpu) continue;
        if (image->current_pixels == nullptr) return 0;
        if (mode == 1) {
            ReleaseLayerTextures(*image);
        } else if (mode == 2) {
            const TextureGrid* grid = GridOf(image);
            if (CreateLayerTextures(*image, image->texture_option, grid->width_cap, grid->height_cap) != 0) return -1;
        }
    }
    return 0;
}

int32_t ReleaseDirect3D() {
    RendererObjects& objects = renderer_objects;
    if (objects.device != nullptr) {
        GlDevice::Current current(*objects.device);
        if (GpuLayerDrawing()) {
            DeleteTarget(objects.white);
            DeleteTarget(objects.black);
            if (NamedTreeNode* root = MainRootLayer()) WalkLayerTextures(root, 1);
        }
        DeleteTarget(objects.scratch);
        DeleteTarget(objects.get_ss);
        DeleteTarget(objects.render);
        DeleteTarget(objects.back_buffer);
        DeleteTarget(objects.white);
        DeleteTarget(objects.black);
    }
    // The context goes with every texture still in it; grids made on it are
    // forgotten by their generation.
    objects.device.reset();
    objects.back_buffer = objects.render = objects.get_ss = objects.scratch = 0;
    objects.white = objects.black = 0;
    return 0;
}

int32_t ResetDevice() {
    ReleaseDirect3D();
    if (InitDirect3D() != 0) {
        ReleaseDirect3D();
        FallBackToCpuDrawing();
        ShowMessageBox(nullptr, Sjis("GPU描画が出来ませんでした。CPU描画に移行します。"));
        return -1;
    }
    // A failed re-creation only ends the walk.
    if (NamedTreeNode* root = MainRootLayer()) WalkLayerTextures(root, 2);
    return 0;
}

void DrawLayerFrame() {
    RendererObjects& objects = renderer_objects;
    LayerGpuRequests& gpu = TheLayerGpuRequests();
    const bool off_screen = OffScreen(objects);
    if (!off_screen && gpu.capture_layer == nullptr) return;
    for (;;) {
        bool reset_due = test_hooks.device_not_reset;
        test_hooks.device_not_reset = false;
        if (objects.reset_request.exchange(0) != 0) reset_due = true;
        if (!reset_due) break;
        if (LoadDrawingSwitch(Settings().direct3d_layer_mode) != 1) return;
        if (GpuEmoteAvailable() && device_hooks.release_emote_players != nullptr) device_hooks.release_emote_players();
        if (ResetDevice() != 0) return;
        if (GpuEmoteAvailable()) {
            if (device_hooks.reset_emote_camera != nullptr) device_hooks.reset_emote_camera();
            gpu.full_redraw = 1;
        }
    }
    if (objects.device == nullptr || objects.back_buffer == 0) return;
    GlDevice& device = *objects.device;
    GlDevice::Current current(device);
    if (!current.ok()) return;

    if (off_screen) {
        // Frames of the off-screen mode go into a target of their own.
        if (objects.scratch == 0) {
            bool out_of_memory = false;
            objects.scratch = device.CreateTexture(objects.device_width, objects.device_height,
                                                   platform::GlTextureFormat::kRgba8, out_of_memory);
        }
        if (objects.scratch == 0 || !device.SetRenderTarget(objects.scratch, objects.device_width, objects.device_height))
            return;
    } else {
        device.SetRenderTarget(objects.back_buffer, objects.device_width, objects.device_height);
    }
    device.Clear(0);
    if (NamedTreeNode* root = MainRootLayer()) DrawLayerTree(root);
    if (off_screen) {
        device.SetRenderTarget(objects.back_buffer, objects.device_width, objects.device_height);
        return;
    }

    NamedTreeNode* capture = gpu.capture_layer;
    CgImage* image = LayerImage(capture);
    if (image == nullptr) return;
    int32_t client_width = 0, client_height = 0;
    MainClientSize(client_width, client_height);
    if (image->width != client_width || image->height != client_height || client_width <= 0 || client_height <= 0)
        return;
    uint8_t* pixels = OwnedPixelsForWriting(*image);
    if (pixels == nullptr) return;
    ReadBackRenderTarget(pixels, client_width, client_height);
    InvalidateLayer(capture);
}

void RegisterGpuDeviceHooks() {
    // A hook already filled is kept: the start-up tests put their own
    // stand-ins there before start-up registers the subsystems.
    EngineHooks& hooks = Hooks();
    if (hooks.init_direct3d == nullptr) hooks.init_direct3d = [] { return static_cast<int>(InitDirect3D()); };
    if (hooks.release_direct3d == nullptr) hooks.release_direct3d = [] { ReleaseDirect3D(); };
    if (hooks.request_direct3d_reset == nullptr)
        hooks.request_direct3d_reset = [] { renderer_objects.reset_request.store(1); };
    FillLayerGpuRequests();
}

void ResetGpuDevice() {
    ReleaseDirect3D();
    renderer_objects.generation += 1;
    renderer_objects.device_width = renderer_objects.device_height = 0;
    renderer_objects.max_texture_width = renderer_objects.max_texture_height = 256;
    renderer_objects.off_screen_mode = 0;
    renderer_objects.reset_request.store(0);
    renderer_objects.layer_format = platform::GlTextureFormat::kRgba8;
    device_hooks = {};
    test_hooks = {};
    ResetTextureUploads();
}

}  // namespace zk
