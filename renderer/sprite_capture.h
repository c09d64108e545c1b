// The GPU path's two image operations of command 2: pasting one layer's
// pixels into another texture layer's existing tiles, and capturing one
// texture layer, drawn alone, as the ordinary pixels of another layer.
//
// Threading: the thread of the script.
#pragma once

#include <cstdint>

namespace zk {

struct NamedTreeNode;

// Uploads the source layer's pixels into the destination's textures, tile
// by tile (its tiling, size, position and centre stay). Does nothing on CPU
// drawing. 0, or -1 when a layer is missing, the source is smaller than the
// destination or the upload fails.
int32_t PasteSprite(NamedTreeNode* source, NamedTreeNode* destination);
// Draws the source layer alone (without its children) into the capture
// target and reads it back as the destination's pixels, of the main
// window's client size. 0; -1 when the destination is missing or its new
// block cannot be had (after the fatal report).
int32_t CaptureLayerToCg(NamedTreeNode* source, NamedTreeNode* destination);

}  // namespace zk
