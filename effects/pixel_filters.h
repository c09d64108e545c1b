// The point, geometric and random pixel filters of RunCgFilter. Each reads
// the rectangle `area` of a source image of area.width x area.height BGRA
// pixels. The rectangle-sized filters write output pixel (x - x1, y - y1)
// into `out`, rows of area.Columns() pixels; the modifiers change the
// rectangle of a whole image in place. The area is never empty and lies
// inside the image (the dispatcher sees to both).
#pragma once

#include <cstdint>
#include <vector>

#include "base/mt19937.h"
#include "effects/cg_result_block.h"

namespace zk {

// Output (x - x1, y - y1) := source (x, y), four bytes, with the copy kernel.
void CopyRectRows(uint8_t* out, const uint8_t* source, const CgArea& area);

// B, G, R := clamp(c + value - 128, 0, 255); alpha kept.
void AdjustCgBrightness(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value);
// B, G, R := 255 - c; alpha kept.
void NegateCg(uint8_t* out, const uint8_t* source, const CgArea& area);
// The sepia ramp from the pixel's weighted luminance; alpha kept.
void SepiaCg(uint8_t* out, const uint8_t* source, const CgArea& area);
// The rectangle of the picture's left-right mirror image.
void MirrorCg(uint8_t* out, const uint8_t* source, const CgArea& area);
// Output row k is source row y2 - y1 - k (rows counted from the image's top).
void FlipCg(uint8_t* out, const uint8_t* source, const CgArea& area);
// Ops 21 (rows shift by an amplitude times the sine), 22 (columns by the
// cosine) and 23 (both); phase in degrees.
void WaveDistortCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t op, int32_t amplitude,
                   int32_t phase);
// Block averages of B, G, R in blocks of `value` pixels anchored at the
// rectangle's centre; alpha kept.
void MosaicCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value);
// value / 2 passes of random 2x2 colour permutations; alpha bytes stay.
void ShuffleCgBlocks(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, Mt19937& random);
// A twist about the rectangle's centre, `value` tenths of a degree at the
// centre falling to 0 at the rim.
void SwirlCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value);

// Modifiers, on the rectangle of a whole image.
// B, G, R := 255 when B + G + R >= 3 * value, else 0.
void ThresholdCg(uint8_t* pixels, const CgArea& area, int32_t value);
// Sub-operation 1 colour, 2 alpha, 3 whole pixel. Returns the alpha-in-use
// flag the image has afterwards (`flag` when the fill leaves it alone).
uint8_t FillCgRect(uint8_t* pixels, const CgArea& area, int32_t sub_operation, uint32_t value, uint8_t flag);
// Alpha fade across columns value..value2 of the rows y1..y2 (x1 and x2 are
// not used). Returns the new alpha-in-use flag (1).
uint8_t FadeCgAlphaColumns(uint8_t* pixels, const CgArea& area, int32_t value, int32_t value2);

// The 24 permutations of a 2x2 block: for the new top-left, top-right,
// bottom-left and bottom-right pixel, the old pixel it takes its colour from.
extern const uint8_t ShufflePermutations[24][4];

// The swirl's distances for the last rectangle size, kept between calls.
struct SwirlDistanceCache {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> distances;
};
SwirlDistanceCache& TheSwirlDistanceCache();

// The generator the shuffle draws from: its own, so that shuffling does not
// move the script's random sequence; seeded with the generator's default.
Mt19937& ShuffleRandom();

}  // namespace zk
