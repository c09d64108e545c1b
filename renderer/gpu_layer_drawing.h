// Drawing texture layers with the GPU device: the walk over a layer tree,
// one quad per tile placed by the layer's position, zoom, rotation and
// centre, the blend settings of its blend mode, the mask and crossfade
// passes, and the read-back of a finished target.
//
// The drawing values of a CgImage: x100, y100 (1/100 pixel), zoom_x, zoom_y
// (10000 = 100 %), angles (yaw, pitch, roll in 1/100 degree), placement[0]
// and placement[1] (the rotation centre in 1/100 pixel of the target),
// opacity, mask_level (the mask threshold), mask_softness, drawing_level
// (the crossfade ratio, 256 = all partner), drawing_text (the crossfade
// partner's name), mask_layer_name, blend_mode, visible.
//
// Threading: the thread of the frame step and the script.
#pragma once

#include <array>
#include <cstdint>

#include "platform/gl_device.h"

namespace zk {

struct CgImage;
struct NamedTreeNode;
struct TextureGrid;

// The vertices of every tile of a grid, in strip order per tile
// (left-bottom, right-bottom, left-top, right-top), rotated; the colour is
// left 0. `emote` places the quad at 0, 0 unscaled and unrotated.
struct TileQuad {
    platform::GlVertex vertices[4];
};
int32_t BuildTileQuads(const CgImage& image, const TextureGrid& grid, bool emote, TileQuad* out, int32_t capacity);

// The vertex colour of a blend mode for the opacity byte a.
uint32_t VertexColourFor(uint8_t blend_mode, uint32_t a);

// Blend settings (texture stages and blend function) of a blend mode; modes
// without settings of their own are drawn as mode 0.
platform::GlDrawState BlendStateFor(uint8_t blend_mode, uint32_t a);

// 0, or -1 when a mask or partner path cannot be normalised.
int32_t DrawLayerTree(NamedTreeNode* group);
// 0, or -1 when a draw fails.
int32_t DrawLayerQuads(CgImage* image, CgImage* mask, CgImage* partner, int draw_flag, uint8_t blend_mode);
// Reads width x height pixels of the current target back into
// `destination` (stride width x 4), rows top first. The part of the area
// beyond the target (a client area that grew since the device was made) is
// zeroed. 0.
int32_t ReadBackRenderTarget(uint8_t* destination, int32_t width, int32_t height);

}  // namespace zk
