// What the layer commands leave for the GPU path and what they ask of it:
// the capture layer of the Direct3D layer frame, the full-redraw flag, and
// the entries through which command 1 builds a layer's texture grid and
// draws a layer frame at once.
//
// The GPU path is not part of this build yet. Until it fills the entries
// below the engine is never in Direct3D layer mode: the texture keywords of
// command 1 then only record their state here, as they do on a machine
// where Direct3D cannot be used.
//
// Threading: the script thread and the frame step (one thread at a time).
#pragma once

#include <cstdint>

namespace zk {

struct NamedTreeNode;
struct CgImage;

struct LayerGpuRequests {
    // Filled by the GPU path when it starts; null means "not on".
    bool (*direct3d_layer_mode)() = nullptr;
    bool (*off_screen_mode)() = nullptr;
    // Builds the image's texture grid with the option byte and the tile
    // caps. 0, or non-zero when it could not (it reports its own errors).
    int32_t (*create_layer_textures)(CgImage& image, uint8_t option, int32_t width_cap, int32_t height_cap) = nullptr;
    // Draws the main window's texture layers now and reads them back.
    void (*draw_layer_frame)() = nullptr;

    // The layer that the Direct3D frame is read back into; null for none.
    // Whoever frees layer nodes forgets it first (ForgetCaptureLayerIn).
    NamedTreeNode* capture_layer = nullptr;
    // Set by every change command 1 makes; the main window's next
    // composition in Direct3D layer mode clears it and redraws everything.
    uint8_t full_redraw = 0;
};
LayerGpuRequests& TheLayerGpuRequests();

bool InDirect3DLayerMode();
bool InOffScreenMode();

// Clears the capture layer when it is `top` or lies below it: called before
// the subtree of `top` is freed, so that the GPU path never reads a freed
// node.
void ForgetCaptureLayerIn(const NamedTreeNode* top);

}  // namespace zk
