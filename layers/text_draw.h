// Text drawn into a layer's CgImage, one Shift-JIS character at a time,
// with the current text slot's style: the character is rasterised into the
// slot's 1-bit cell (at four times the size when smoothing is on) and
// written into a glyph box of size x height pixels, coloured by a
// two-colour gradient, optionally turned by quarter turns, thickened by
// extra passes, replacing the box's pixels or blended over them.
//
// Script thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zk {

struct NamedTreeNode;

struct GlyphExtent {
    int32_t width = 0;
    int32_t height = 0;
};

// Makes the current slot's drawing state fit the key (size, height, font
// height, bold and the slot's font): 1 prepared anew, 0 nothing to do, -1
// failure (102040 reported, fatal, when no face can be had for it).
int32_t PrepareGlyphSlot(int32_t size, int32_t height, int32_t bold, int32_t font_height, int32_t cell);

// Rasterises one character into the current slot's cell and measures it.
// Both 0 when the slot could not be prepared, or when size or height lie
// outside 2..256 (such glyphs are not drawn at all).
GlyphExtent RasteriseGlyph(std::string_view character, int32_t size, int32_t height, int32_t bold,
                           int32_t smoothing);

// The gradient's corner colours (0xRRGGBB) as TL, TR, BL, BR for a layout
// turned by the orientation. A layout above 8 is solid.
std::array<uint32_t, 4> ComputeGradientCorners(int32_t layout, int32_t orientation, uint32_t a, uint32_t b);

// One pass of the glyph just rasterised into the current slot's cell, at
// (x, y) of the target's image. Nothing is drawn unless the whole box (as
// placed: height x size for quarter turns) lies inside the image.
void DrawPlainGlyph(uint32_t colour, uint32_t second_colour, int32_t layout, int32_t orientation, int32_t size,
                    int32_t height, int32_t x, int32_t y, int32_t mode, NamedTreeNode* target);
void DrawSmoothGlyph(uint32_t colour, uint32_t second_colour, int32_t layout, int32_t orientation, int32_t size,
                     int32_t height, int32_t x, int32_t y, int32_t mode, NamedTreeNode* target);

// Draws one character (one or two bytes) into the target: rasterised once,
// then one pass for d = 0, five (right, up, centre, down, left) for d in
// 1..10, three offset by d - 10 (right, down, diagonal) for d >= 11.
// Returns the character's advance width.
int32_t DrawTextGlyphToCg(std::string_view character, uint32_t colour, uint32_t second_colour, int32_t layout,
                          int32_t orientation, int32_t size, int32_t height, int32_t bold, int32_t smoothing,
                          int64_t edge_distance, int32_t x, int32_t y, int32_t mode, NamedTreeNode* target);

}  // namespace zk
