// The scalers of ScaleCg that live with the image operations: bicubic,
// supersampled bilinear (worker job 41) and windowed sinc. Each writes a
// whole w x h destination (rows w pixels apart) from a W x H source block;
// pixels whose sample falls outside the source are transparent black.
// Nearest and plain bilinear are the presentation's scalers
// (renderer/cpu_scalers.h).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zk {

// Scaling kinds: the command gives 10, or 20, 30, 40, 50 plus a number.
constexpr int32_t kScaleNearest = 10;
constexpr int32_t kScaleBilinear = 21;
constexpr int32_t kScaleBicubic = 31;
constexpr int32_t kScaleSupersampled = 41;
constexpr int32_t kScaleLanczos = 51;

// Cubic convolution weights (a = -1) for distances 0..512 in 1/256 pixel,
// times 256 and truncated. Built on first use.
const std::array<int32_t, 513>& BicubicWeightTable();

// Kind 31: output (j, i) samples source (x1 + j * (x2 - x1 + 1) / w,
// y1 + i * (y2 - y1 + 1) / h) from its 4 x 4 neighbours.
void ScaleCgBicubic(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x1, int32_t y1,
                    int32_t x2, int32_t y2, int32_t source_width, int32_t source_height, int32_t width,
                    int32_t height);

// Kind 41: the corners (x1_100, y1_100)..(x2_100, y2_100) in 1/100 pixel map
// to the first and last output; each output averages four bilinear samples
// (at its position and half an output pixel right and below). Rows are
// split over the workers. The source must carry the spare row and bytes of
// an engine block; without them the destination is zeroed.
void ScaleCgSupersampled(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t x1_100,
                         int32_t y1_100, int32_t x2_100, int32_t y2_100, int32_t source_width,
                         int32_t source_height, int32_t width100, int32_t height100);

// While on, kind 41 runs its plain per-byte loop instead of the SSE2 one
// (the results are the same), so the two can be compared on one machine.
// Only while no scale runs.
void ForcePlainSupersampleLoops(bool force);

// Kind 51: the whole source, first column to first column and last to
// last, through Lanczos-2 rows then columns. False, after the size or
// memory report, when its intermediate image cannot be had.
bool ScaleCgLanczos(std::span<uint8_t> destination, std::span<const uint8_t> source, int32_t source_width,
                    int32_t source_height, int32_t width, int32_t height);
double Sinc(double x);
double LanczosWindow(double x);

// Registers worker job 41 (at start-up).
void RegisterEffectJobs();

}  // namespace zk
