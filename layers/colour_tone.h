// Colour tone and saturation over a rectangle of BGRA pixels: what a
// layer's tone and saturation settings do to its pixels when it is drawn,
// and what the tone and saturation filters do to an image.
#pragma once

#include <cstdint>
#include <span>

#include "layers/dirty_rect.h"

namespace zk {

constexpr uint32_t kNeutralTone = 0x808080;
constexpr int32_t kNeutralSaturation = 128;

// Each pixel of the inclusive rectangle `rect` is read from `source` at
// (x, y) and written to `destination` at (x, y), each image addressed by its
// own width. The rectangle is clipped to both images; images whose spans
// are smaller than their sizes say are left alone. Alpha is copied.
//
// Tone 0xRRGGBB: a channel value t above 0x80 pulls the channel towards
// 255, below 0x80 towards 0, by (t - 128) / 128 of the way.
void ApplyColourTone(std::span<uint8_t> destination, std::span<const uint8_t> source, const LayerRect& rect,
                     int32_t destination_width, int32_t destination_height, int32_t source_width,
                     int32_t source_height, uint32_t tone);

// Saturation 0..256 (clamped): 0 grey ((B + G + R) / 3), 128 unchanged,
// 256 twice the distance from grey, held inside 0..255 by shortening the
// push for the whole pixel.
void ApplySaturation(std::span<uint8_t> destination, std::span<const uint8_t> source, const LayerRect& rect,
                     int32_t destination_width, int32_t destination_height, int32_t source_width,
                     int32_t source_height, int32_t saturation);

}  // namespace zk
