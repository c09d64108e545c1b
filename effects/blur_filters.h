// The blur and shadow filters of RunCgFilter (ops 2 to 7). Each reads the
// rectangle `area` of a source image of area.width x area.height pixels and
// writes a rectangle-sized result, rows of area.Columns() pixels. Windows
// never reach outside the rectangle: edge pixels average fewer pixels.
// Radius r = max(1, value).
//
// Every average is a whole-number sum divided by a count or by a sum of
// weights, truncated; the sums come from running sums along each axis, so
// the cost per pixel does not grow with r.
#pragma once

#include <cstdint>

#include "effects/cg_result_block.h"

namespace zk {

// Weight of `offset` pixels from the centre in the blur kernel of radius r:
// 512 within trunc(2r / 8) of the centre, halving (truncated) per pixel
// beyond. 0 outside -r..r.
uint32_t BlurKernelWeight(int64_t radius, int64_t offset);

// Op 2: opaque images (alpha_in_use 0) get BoxBlurCg's colours; images
// with alpha a weighted average of all four channels by BlurKernelWeight,
// rows then columns.
void BlurCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, uint8_t alpha_in_use);
// Op 3: box average along the row (colour only for opaque images).
void BoxBlurCgRows(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, uint8_t alpha_in_use);
// Op 4: box average along the column.
void BoxBlurCgColumns(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value,
                      uint8_t alpha_in_use);
// Op 5: op 3 then op 4 of its result.
void BoxBlurCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, uint8_t alpha_in_use);
// Op 6: black, with the alpha blurred by the kernel weights.
void SoftShadowCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value);
// Op 7: black with the box-blurred alpha; opaque images as BoxBlurCg.
void ShadowCg(uint8_t* out, const uint8_t* source, const CgArea& area, int32_t value, uint8_t alpha_in_use);

}  // namespace zk
