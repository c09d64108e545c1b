// The software compositor: once per frame each window's layer tree is
// drawn into the image of its root layer, only inside the dirty rectangle,
// bottom to top, with each layer's rows split over the worker threads.
// Group layers that keep their own canvas are composed the same way on
// demand. Runs on the thread of the frame step; the workers only run
// between posting and the poster's return.
#pragma once

#include <cstdint>
#include <span>

#include "layers/dirty_rect.h"

namespace zk {

struct NamedTreeNode;
struct CgImage;

// Composes window `window_number`'s shown layer set into its root layer's
// image. Nothing happens for a window without a layer set or canvas, one
// not to be shown, or whose root layer is hidden; otherwise the window is
// marked drawn, and composed when its root changed this frame. The engine
// quit flag (0 while running), or -1 after a composition error.
int ComposeWindow(int window_number);

// Composes the children of `group`. Window mode (`window` 0..3 and `whole`
// 0): everything is drawn straight into the window's root image, a nested
// group placed at (offset_x, offset_y) in it and clipped to its area; a
// nested group of zero width or height is a folder that does not clip.
// Group mode (`window` -1 or `whole` 1): each group keeps its own canvas
// and is then drawn into its parent like a leaf. `clip` is the area of the
// group to draw, in the group's pixels: a window's root draws its dirty
// rectangle within it, a nested group the clip together with its own dirty
// rectangle. 0, or -1 after an error (reported).
int ComposeLayerTree(NamedTreeNode* group, int window, int nested, int depth, int64_t offset_x, int64_t offset_y,
                     const LayerRect& clip, int whole);

// Composes a group layer's children into its own image now (inside its
// dirty rectangle). 0 without a node or image; otherwise as
// ComposeLayerTree.
int ComposeGroupLayer(NamedTreeNode* group);

// Makes the image's current pixels what it should be drawn with this frame:
// its own pixels, or a toned and desaturated copy of them derived at most
// once a frame. 0, 1 when the image has no pixels to draw, or -1 after
// error 100010 or 104030.
int PrepareDrawnPixels(CgImage& image);

// Fills MaskOpacityRamp from the image's mask level, mask softness and
// opacity (the opacity clamped to 0..256 first): entry i is the weight for
// a mask pixel whose blue byte is i.
void BuildMaskOpacityRamp(const CgImage& image);

// The bytes from the image's current pixels to the end of the block they
// point into (0 when they point into neither of the image's blocks).
uint64_t CurrentPixelBytes(const CgImage& image);

// The image's current pixels, exactly width x height of them, when the block
// they point into holds them all; else empty (then none is read).
std::span<const uint8_t> WholeImagePixels(const CgImage& image);

}  // namespace zk
