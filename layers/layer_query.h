// Layer command 4: reads one property of a layer, one of its children, or
// one pixel under a point into a script variable. Scripts use it for hit
// tests (the colour or alpha under the mouse), to walk the children of a
// group, and to read back what command 1 set.
//
// Threading: the script thread; it reads pixels and mouse positions as they
// stand between frames.
#pragma once

#include <cstdint>

#include "core/error_codes.h"

namespace zk {

struct CgImage;
struct NamedTreeNode;

inline constexpr uint8_t kCmdQueryLayer = 4;

// Keyword numbers of command 4 (0-based).
enum LayerQueryKeyword : uint8_t {
    kQueryName = 0,
    kQueryNumber = 1,
    kQueryExists = 2,
    kQueryVisible = 3,
    kQueryOpacity = 4,
    kQueryX = 5,
    kQueryY = 6,
    kQueryOrderKey = 7,
    kQueryMaskLevel = 9,
    kQueryMaskName = 10,
    kQueryMaskSoftness = 11,
    kQueryBlendMode = 12,
    kQueryWidth = 13,
    kQueryHeight = 14,
    kQueryZoomX = 15,
    kQueryZoomY = 16,
    kQueryPlacement3 = 17,  // 17..19: the third to fifth placement values
    kQueryTextureKind = 20,
    kQueryWindowColour = 21,
    kQueryWindowAlpha = 22,
    kQueryWindowPixel = 23,
    kQueryPixelColour = 24,
    kQueryBoundingBox = 25,
    kQueryUser1 = 26,
    kQueryUser2 = 27,
    kQueryFindChild = 28,
    kQueryChildCount = 29,
    kQueryChildName = 30,
    kQueryChildIsGroup = 31,
    kQueryChildNumber = 32,
    kQueryResult = 33,
    kQueryPointX = 34,
    kQueryPointY = 35,
};

// Command 4. 0; -1 after a failed argument decoding, a failed path, or
// error 101295 (the layer pixel selector without both coordinates).
//
// Every pixel read stays inside the block the layer's current pixels live
// in: a layer without a block (or with one too small for its size) answers
// -1 to the pixel selectors and reads nothing.
int32_t CmdQueryLayer();

// The pixel (B, G, R, A as a little-endian value) at (x, y) of the layer's
// current pixels. False, and nothing read, when the point lies outside the
// image or the image has no block that holds it.
bool ReadLayerPixelAt(const CgImage& image, int64_t x, int64_t y, uint32_t& pixel);

// Puts the handler of command 4 into the CommandTable. Called once at
// start-up (and by tests); safe to call again.
void InstallLayerQueryCommand();

}  // namespace zk
