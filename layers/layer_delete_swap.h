// Removing layers (command 3) and exchanging two layers' names and
// stacking places (used by the image operation command's swap modes), so
// that two pictures trade places.
//
// Threading: the script thread.
#pragma once

#include <cstdint>

namespace zk {

struct NamedTreeNode;

// Command 3: removes the named layer, or a group (a name ending in '/')
// with everything under it, after making the area it covered dirty. A
// layer that does not exist, or has no image, is not an error: 0. -1 when
// decoding the arguments or normalising the name fails (reported).
int32_t CmdDeleteLayer();

// What SwapLayers exchanges besides names and stacking places.
enum SwapMode : int32_t {
    kSwapNamesOnly = 0,
    kSwapPositions = 1,   // also x and y (with their 1/100-pixel forms)
    kSwapAttributes = 2,  // also visible, opacity, mask level, mask softness, blend mode
};

// Exchanges the two nodes' order keys (each re-placed among its siblings).
// 1, or 0 with nothing changed when either node is null.
int32_t SwapLayerPriorities(NamedTreeNode* a, NamedTreeNode* b);

// Exchanges the names and stacking places of two layers, and by `mode`
// their positions and display attributes; everything else (pixels, size,
// tone, saturation, mask layer name, texture part, GPU placement values)
// stays with each node. Afterwards each node is found under the other's
// former name: the keys are recomputed from the new name and the node's
// own kind, and each parent's child index is updated. Both areas are made
// dirty before and after. 0; -1 with nothing changed for a null node, a
// tree root, or a group paired with a leaf (a group and a leaf cannot take
// each other's names: each is looked up as its own kind). The caller
// reports a refusal.
int32_t SwapLayers(NamedTreeNode* a, NamedTreeNode* b, int32_t mode);

}  // namespace zk
