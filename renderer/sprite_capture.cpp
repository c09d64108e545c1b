#include "renderer/sprite_capture.h"

#include "core/error_codes.h"
#include "core/error_report.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "renderer/gpu_device.h"
#include "renderer/gpu_layer_drawing.h"
#include "renderer/texture_grid.h"

namespace zk {

int32_t PasteSprite(NamedTreeNode* source, NamedTreeNode* destination) {
    if (!GpuDeviceReady()) return 0;
    CgImage* from = LayerImage(source);
    CgImage* to = LayerImage(destination);
    if (from == nullptr || to == nullptr || to->textures == nullptr) return -1;
    // The source is read row by row at its own stride; it must cover the
    // destination.
    if (from->current_pixels == nullptr || from->width < to->width || from->height < to->height) return -1;
    TextureUploadRequest& request = TheTextureUploadRequest();
    request = {};
    request.width = to->width;
    request.height = to->height;
    request.centre_x = static_cast<float>(to->placement[0]);
    request.centre_y = static_cast<float>(to->placement[1]);
    request.width_cap = to->textures->width_cap;
    request.height_cap = to->textures->height_cap;
    request.source = from;
    request.holder = to;
    return UploadLayerTextures(UploadMode::kPaste);
}

int32_t CaptureLayerToCg(NamedTreeNode* source, NamedTreeNode* destination) {
    RendererObjects& objects = TheRendererObjects();
    if (objects.device == nullptr || objects.back_buffer == 0) return 0;
    CgImage* to = LayerImage(destination);
    if (to == nullptr) return -1;
    platform::GlDevice& device = *objects.device;
    platform::GlDevice::Current current(device);
    if (!current.ok()) return 0;
    if (!device.SetRenderTarget(objects.get_ss, objects.device_width, objects.device_height)) return 0;
    device.Clear(0);
    if (CgImage* from = LayerImage(source)) DrawLayerQuads(from, nullptr, nullptr, 1, from->blend_mode);

    const WindowRecord* record = MainWindowRecord();
    const int32_t width = record != nullptr ? record->client_width : 0;
    const int32_t height = record != nullptr ? record->client_height : 0;
    if (width > kMaxCgWidth) {
        ReportCgTooWide(width, height);
        return -1;
    }
    const uint64_t bytes = CgPixelBlockBytes(width, height);
    PixelBlock block = bytes != 0 ? PixelBlock::Allocate(static_cast<size_t>(bytes)) : PixelBlock{};
    if (block.empty()) {
        ReportEngineErrorF(kErrFileNoMemory, true, {std::string_view()});
        return -1;
    }
    uint8_t* pixels = block.data();
    if (InstallCgPixels(*to, std::move(block), width, height) != 0) return -1;
    InvalidateLayer(destination);
    ReadBackRenderTarget(pixels, width, height);
    // The capture target stays bound until the next layer frame.
    return 0;
}

}  // namespace zk
