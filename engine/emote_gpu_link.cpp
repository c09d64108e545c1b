#include "engine/emote_gpu_link.h"

#include "core/startup_notes.h"
#include "layers/emote_players.h"
#include "platform/gl_device.h"
#include "renderer/gpu_device.h"

namespace zk {

namespace {

bool DeviceReady() { return TheRendererObjects().device != nullptr; }

void WithDevice(void (*body)(void*), void* data) {
    RendererObjects& objects = TheRendererObjects();
    if (objects.device == nullptr) {
        body(data);
        return;
    }
    platform::GlDevice& device = *objects.device;
    platform::GlDevice::Current current(device);
    body(data);
    if (current.ok()) device.RestoreState();
}

// The driver is told of the device it is made on.
void DescribeDevice() {
    const RendererObjects& objects = TheRendererObjects();
    if (objects.device == nullptr) return;
    const int32_t version = objects.device->Version();
    DescribeEmoteDevice(platform::GlDevice::Loader(), version / 10, version % 10);
}

}  // namespace

void RegisterEmoteGpuLink() {
    EmoteDeviceLink& link = TheEmoteDeviceLink();
    link.device_ready = DeviceReady;
    link.with_device = WithDevice;
    GpuDeviceHooks& hooks = TheGpuDeviceHooks();
    hooks.emote_available = [] { return EmoteLibraryLoaded() && EmoteAvailable(); };
    hooks.render_emote_layer = [](CgImage& image, platform::GlTexture, int32_t width, int32_t height) {
        RenderEmoteModel(image, width, height);
    };
    hooks.release_emote_players = ReleaseAllEmotePlayers;
    hooks.reset_emote_camera = ResetEmoteCamera;
    hooks.create_emote_driver = [] {
        DescribeDevice();
        CreateEmoteDriver();
    };
}

}  // namespace zk
