// The CPU scalers: bilinear (with sharpened horizontal weights) and
// nearest, from a rectangle of a BGRA source into a whole BGRA destination.
// The window presentation scales the composed picture into the back buffer
// with them; the image operations scale layer images with them.
//
// Every destination pixel is written: pixels whose source falls outside
// the source image become 0, 0, 0, 0. The destination's rows are
// (destination width in pixels) * 4 bytes apart; the source's rows are
// (source width) * 4 bytes apart.
//
// The bilinear scalers read one pixel to the right of and one row below
// each sample, with weight 0 at the last column and row, so their source
// must carry the spare row and the four spare bytes of every engine pixel
// block: (width * (height + 1) + 1) * 4 bytes.
//
// Threading: the scalers run on the calling thread; the threaded ones
// split their rows over the worker pool and return when every band is
// done. The coordinate tables are shared, so only one scale may run at a
// time (the frame step and the window procedure never overlap, and the
// windowed presentation with the game-loop thread uses its own tables).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace zk {

// Horizontal weight sharpening: T[i] = clamp(trunc((i - 128) * 1.25 + 128),
// 0, 255), so weights 0..26 become 0 and 230..255 become 255. Built once.
const std::array<uint8_t, 256>& SharpenWeightTable();

// Per-column and per-row positions, in 1/256 source pixel from the
// rectangle's first column (row). The bilinear scalers keep the sharpened
// weight in a column position's low byte; the threaded one keeps the
// column's byte offset in `columns` and its weight, repeated in four 16-bit
// words, in `column_weights`. The tables grow to the largest destination
// they have served (8192 entries per axis at first).
struct ResampleCoordTables {
    std::vector<int64_t> rows;
    std::vector<int64_t> columns;
    std::vector<uint64_t> column_weights;
};
// The tables of ScaleBilinear and ScaleBilinearThreaded, shared with the
// image operations' scaling.
ResampleCoordTables& TheResampleCoordTables();
// The second pair, used only by ScaleBilinearOwnTables (its columns are
// also the supersampling scaler's).
ResampleCoordTables& TheOwnResampleCoordTables();

// Bilinear scale of the source rectangle with corners (x0, y0) and
// (x1, y1), in 1/100 pixel, of a source of source_width x source_height
// pixels into a destination of destination_width x destination_height
// 1/100 pixels (whole pixels: the sizes divided by 100, truncated). For the
// corners (0, 0, 100 * (w - 1), 100 * (h - 1)) the destination's first and
// last columns and rows sample the source's first and last exactly.
//
// Each returns false, writing nothing, when `destination` is smaller than
// the destination size; when `source` is smaller than the block its size
// needs (spare row and bytes included) the destination is zeroed and false
// returned.
//
// Per byte, with fx the (sharpened) column weight and fy the row weight:
// top = (P00 * (256 - fx) + P01 * fx) >> 8, bottom likewise one row lower,
// out = (top * (256 - fy) + bottom * fy) >> 8.
bool ScaleBilinear(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x0, int32_t y0,
                   int32_t x1, int32_t y1, int32_t source_width, int32_t source_height, int32_t destination_width,
                   int32_t destination_height);
// The same with TheOwnResampleCoordTables, for the presentation on the
// main thread while the game-loop thread may use the shared tables.
bool ScaleBilinearOwnTables(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x0, int32_t y0,
                            int32_t x1, int32_t y1, int32_t source_width, int32_t source_height,
                            int32_t destination_width, int32_t destination_height);
// The same arguments, rows split over the workers (job 21). It rounds
// otherwise: H0 = P00 * (256 - fx) + P01 * fx, H1 likewise one row lower,
// out = min(255, ((H0 * (256 - fy)) >> 16) + ((H1 * fy) >> 16)).
bool ScaleBilinearThreaded(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x0, int32_t y0,
                           int32_t x1, int32_t y1, int32_t source_width, int32_t source_height,
                           int32_t destination_width, int32_t destination_height);

// Nearest-pixel scale of the source rectangle (x0, y0)..(x1, y1), whole
// pixels, x1 and y1 inclusive, into destination_width x destination_height
// pixels, rows split over the workers (job 11). Destination column c takes
// source column x0 + ((c * step) >> 16) with step = ((x1 - x0 + 1) << 16) /
// destination_width; rows likewise. The source needs width * height * 4
// bytes; the failures are those of the bilinear scalers.
bool ScaleNearestThreaded(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x0, int32_t y0,
                          int32_t x1, int32_t y1, int32_t source_width, int32_t source_height,
                          int32_t destination_width, int32_t destination_height);

// While on, the bilinear scalers run their plain per-byte loops instead of
// the SSE2 ones (the results are the same), so the two can be compared on
// one machine. Only while no scale runs.
void ForcePlainScalerLoops(bool force);

// Registers jobs 11 (kJobScaleNearest) and 21 (kJobScaleBilinear) with the
// worker pool (at start-up).
void RegisterScalerJobs();

}  // namespace zk
