// The GPU path's device: made last in start-up when the model player
// library loaded, it draws texture layers and models off screen and reads
// the picture back into a layer for the CPU compositor; the screen itself is
// always served by the CPU presentation. Here: the renderer's objects, the
// device's creation, reset and release, the layer frame, and the hooks the
// model layers fill.
//
// Current-context rule: OpenGL is called only inside the entries below (and
// those of texture_grid.h, gpu_layer_drawing.h, sprite_capture.h), each of
// which makes the device's context current on its own thread for its
// duration (platform::GlDevice::Current) and lets it go again. Code that
// draws with the context itself (the model player) does so only from
// inside GpuDeviceHooks::render_emote_layer, where the context is current,
// and the device restores its own states afterwards.
//
// Threading: start-up and shutdown on the main thread, everything else on
// the thread of the frame step and the script, never two at once; the reset
// request may come from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/gl_device.h"

namespace zk {

struct CgImage;
struct NamedTreeNode;

struct RendererObjects {
    std::unique_ptr<platform::GlDevice> device;
    // Counts devices made; a texture grid remembers the one it was made on.
    uint64_t generation = 0;
    platform::GlTextureFormat layer_format = platform::GlTextureFormat::kRgba8;
    // The main window's client size when the device was made: the size of
    // the back buffer and of the "Render" and "GetSS" targets.
    int32_t device_width = 0, device_height = 0;
    platform::GlTexture back_buffer = 0;  // RGBA8, fixed
    platform::GlTexture render = 0;       // "Render" (made, never drawn into)
    platform::GlTexture get_ss = 0;       // "GetSS", the capture target
    platform::GlTexture white = 0, black = 0;
    platform::GlTexture scratch = 0;  // the off-screen mode's target
    // Tile size caps: 256 until the device is made.
    int32_t max_texture_width = 256, max_texture_height = 256;
    // The off-screen mode (command 116 codes 80 and 81): frames are drawn
    // into the scratch target and nothing is read back.
    uint8_t off_screen_mode = 0;
    // Asked for by the window-mode code on the main thread.
    std::atomic<uint8_t> reset_request{0};
};
RendererObjects& TheRendererObjects();

// 0 ready, 1 use CPU drawing (the device is released again), -1 fatal.
int32_t InitDirect3D();
// Releases the layer textures (in Direct3D layer mode), the targets and the
// device. 0.
int32_t ReleaseDirect3D();
// Re-creates the device and every texture grid under the main window's
// root layer; on failure the engine draws on the CPU from then on. 0 or -1.
int32_t ResetDevice();
// Draws the main window's texture layers (with the off-screen mode on or a
// capture layer set) and reads them back into the capture layer.
void DrawLayerFrame();
// Releases (mode 1) or re-creates (mode 2) the texture grids below `group`;
// -1 when a re-creation failed.
int32_t WalkLayerTextures(NamedTreeNode* group, int mode);
// The device exists and draws.
bool GpuDeviceReady();

// What the model layers plug in (left empty, models are not drawn).
struct GpuDeviceHooks {
    // The model player library is loaded (unset: as start-up recorded it).
    bool (*emote_available)() = nullptr;
    // Renders an E-mote layer's model into `texture` (width x height),
    // which is the current render target, already cleared to 0x00808080.
    void (*render_emote_layer)(CgImage& image, platform::GlTexture texture, int32_t width, int32_t height) = nullptr;
    // Before a device reset: every player and the driver go.
    void (*release_emote_players)() = nullptr;
    // After the device is made (or re-made): the camera and the driver.
    void (*reset_emote_camera)() = nullptr;
    void (*create_emote_driver)() = nullptr;
};
GpuDeviceHooks& TheGpuDeviceHooks();
// emote_available, or EmoteLibraryLoaded while it is unset.
bool GpuEmoteAvailable();

// Faults that OpenGL never reports on its own, for tests.
struct GpuDeviceTestHooks {
    // The next frame finds the device lost and asking for a reset.
    bool device_not_reset = false;
    // The next InitDirect3D fails as a device without a context would.
    bool fail_next_init = false;
};
GpuDeviceTestHooks& TheGpuDeviceTestHooks();

// Fills the engine hooks and the layer commands' GPU entries.
void RegisterGpuDeviceHooks();
// Releases the device and forgets every object (engine reset).
void ResetGpuDevice();

}  // namespace zk
