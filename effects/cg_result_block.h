// What every image operation shares: the pixel block a result is written
// into, the checks on a layer's own pixels before they are read, and the
// rectangle an operation works on.
#pragma once

#include <cstdint>

#include "layers/pixel_block.h"

namespace zk {

struct CgImage;
struct NamedTreeNode;

// A fresh, zero-filled block for a width x height result. A width above
// kMaxCgWidth shows the size box and reports 100010; a size whose block
// cannot be held (computed in 64 bits) or had reports 104030; both fatal,
// and an empty block comes back.
PixelBlock AllocCgResultBlock(int64_t width, int64_t height);

// The layer's image when its owned block holds at least width x height
// pixels; null otherwise (no node, no image, no block, or a block too small
// for the size the record claims).
CgImage* ImageWithPixels(NamedTreeNode* node);

// True when the image's current pixels hold width x height pixels.
bool CurrentPixelsHoldImage(const CgImage& image);

// An inclusive rectangle inside an image of width x height pixels.
struct CgArea {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int32_t width = 0, height = 0;  // the image's size

    int32_t Columns() const { return x2 - x1 + 1; }
    int32_t Rows() const { return y2 - y1 + 1; }
    bool Empty() const { return x2 < x1 || y2 < y1; }
};

// Clamps each corner to the image, corner by corner (x2 may end up left of
// x1: the area is then empty).
CgArea ClampedArea(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int32_t width, int32_t height);

}  // namespace zk
