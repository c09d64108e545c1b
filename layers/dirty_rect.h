// Dirty rectangles: every change of a layer's pixels or placement unites
// the area it touches into the dirty rectangle of each ancestor, moved into
// that ancestor's pixels and clipped to it, so that the compositor redraws
// only what changed. Also the rectangle arithmetic the compositor blits with.
//
// Rectangles are left, top, right, bottom, inclusive, in 64 bits. Sums of
// positions saturate instead of wrapping: a layer placed near the ends of
// the 64-bit range simply lies outside everything.
#pragma once

#include <array>
#include <cstdint>

namespace zk {

struct NamedTreeNode;
struct CgImage;

using LayerRect = std::array<int64_t, 4>;
enum RectSide { kRectLeft = 0, kRectTop = 1, kRectRight = 2, kRectBottom = 3 };

// What a merge leaves in a rectangle that lies wholly outside the image.
constexpr int64_t kOutsideRectValue = -999999999;
// The presented rectangle after each frame's reset: empty.
constexpr LayerRect kEmptyPresentedRect = {999999999, 999999999, -999999999, -999999999};

// The image a layer node carries, or null.
CgImage* LayerImage(const NamedTreeNode* node);

int64_t SaturatingAdd(int64_t a, int64_t b);

// Clips `rect` to the node's image (unclipped when the image has a width or
// height of 0) and unites it into the image's dirty rectangle, marking the
// image changed. -1, with `rect` set to the outside value and the image
// untouched, when the rectangle lies outside the image or is empty; -1 for
// a node without an image.
int MergeDirtyRect(NamedTreeNode* node, LayerRect& rect);

// The node's whole area becomes dirty in every ancestor below the tree
// root (not in the node itself). The walk stops at an ancestor without an
// image, and once the area falls outside an ancestor (nothing further up
// can show it). 0, or -1 for a null node or one without an image.
int InvalidateLayer(NamedTreeNode* node);

// First unites the visible leaves of the node into its dirty rectangle (a
// group), then merges the node's dirty rectangle into itself and every
// ancestor, stopping as InvalidateLayer does. 0, or -1 for a null node or
// one without an image.
int PropagateDirtyRect(NamedTreeNode* node);

// Unites the area of every drawable leaf below the group (visible, opacity
// above 0, not masked off) into the dirty rectangle of its own parent
// group. 0, or -1 for a null node or one without an image.
int UniteVisibleChildren(NamedTreeNode* group);

// End of frame: for every group of the sibling chain that starts at
// `first`, recursively, and for each window's canvas: the dirty count moves
// to the previous dirty count, the dirty state and the changed byte are
// cleared and the presented rectangle emptied. Leaves keep theirs.
void ResetDirtyRects(NamedTreeNode* first);

// Presented rectangle := its union with the dirty rectangle, or the whole
// image (once) when the image is marked whole dirty.
void UpdatePresentedRect(CgImage& image);

// Intersection of rectangle A with rectangle B, both as position and size.
struct BlitRect {
    int64_t a_x = 0, a_y = 0, a_width = 0, a_height = 0;
    int64_t b_x = 0, b_y = 0, b_width = 0, b_height = 0;
    // 2 when A starts before B, + 1 when A ends after B.
    uint8_t y_relation = 0, x_relation = 0;
    int64_t offset_x = 0, offset_y = 0;  // where the overlap starts inside A
    int64_t start_x = 0, start_y = 0;    // where it starts in the common coordinates
    int64_t overlap_width = 0, overlap_height = 0;  // 0 or less: no overlap
};
void IntersectBlitRects(BlitRect& blit);

}  // namespace zk
