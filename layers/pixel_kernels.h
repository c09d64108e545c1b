// The pixel kernel table: the row operations every pixel loop of the engine
// calls (composition, fills, copies, image operations, decoders), chosen
// once at start-up from the processor and the user's settings. The plain
// set is the reference; the SSE set overrides the slots it speeds up.
//
// Rows are 32-bit pixels stored B, G, R, A. `count` is a byte count (4 per
// pixel; 0 or less does nothing). The destination is changed in place and
// may be the same row as the source. No kernel reads or writes a byte at or
// beyond `count`. Opacity-like arguments (t, o, p) are 0..256: the plain
// set computes its formula for any value, the SSE set clamps them to
// 0..256 first, so the two agree only on that range. What each slot
// computes, and where the sets differ, is in README-kernels.md.
//
// Threading: the table is written by InstallPixelKernels and
// ForcePlainPixelKernels only, while no worker runs; the kernels
// themselves are pure and run on any thread.
#pragma once

#include <cstdint>

namespace zk {

using ZeroKernel = void (*)(uint8_t* row, int64_t count);
using FillByteKernel = void (*)(uint8_t* row, int64_t count, uint8_t value);
using FillCellKernel = void (*)(uint8_t* row, int64_t count, uint32_t value);
using RowKernel = void (*)(uint8_t* destination, const uint8_t* source, int64_t count);
using RowOpacityKernel = void (*)(uint8_t* destination, const uint8_t* source, int32_t opacity, int64_t count);
// Reads MaskOpacityRamp (layers/mask_opacity_ramp.h) at each mask pixel's
// blue byte; the level and softness are already in the ramp.
using MaskRowKernel = void (*)(uint8_t* destination, const uint8_t* source, const uint8_t* mask, int32_t mask_level,
                               int32_t mask_softness, int64_t count);
using MixKernel = void (*)(uint8_t* output, const uint8_t* first, const uint8_t* second, int32_t t, int64_t count);
using RowTwoOpacityKernel = void (*)(uint8_t* destination, const uint8_t* source, int32_t opacity,
                                     int32_t source_opacity, int64_t count);
using ReservedKernel = void (*)();

// Slots 7..32 in slot order; each line: slot, arguments, operation.
struct PixelKernelTable {
    ZeroKernel zero_bytes;                  // 7  row, count: zero the bytes
    FillByteKernel fill_bytes;              // 8  row, count, byte: fill with the byte
    FillCellKernel fill_cells;              // 9  row, count, value: count / 4 32-bit cells := value
    RowKernel copy_bytes;                   // 10 copy (overlap allowed)
    RowOpacityKernel crossfade;             // 11 d += (s - d) * t >> 8, all bytes
    RowKernel alpha_over;                   // 12 source over by its alpha
    RowOpacityKernel alpha_over_opacity;    // 13 as 12 with the alpha scaled by o
    MaskRowKernel masked_over;              // 14 source over by the mask ramp, colour only
    MixKernel mix;                          // 15 output := first crossfaded to second by t
    RowKernel add;                          // 16 saturated add, all bytes
    RowOpacityKernel add_opacity;           // 17 add the source scaled by o
    RowKernel add_alpha;                    // 18 add weighted by source alpha, colour only
    RowOpacityKernel add_alpha_opacity;     // 19 as 18 with the weight scaled by o
    RowKernel reverse_subtract;             // 20 max(s - d, 0)
    RowKernel multiply;                     // 21 d * (s + 1) >> 8
    RowKernel screen;                       // 22 d + s - d * (s + 1) >> 8
    RowOpacityKernel screen_opacity;        // 23 d moves o / 256 toward screen
    RowKernel lighten;                      // 24 max(d, s)
    RowKernel darken;                       // 25 min(d, s)
    RowKernel linear_burn;                  // 26 max(d + s - 255, 0)
    RowKernel linear_light;                 // 27 clamp(d + 2s - 256)
    ReservedKernel reserved;                // 28 no operation calls it
    RowKernel alpha_over_alpha;             // 29 source over a destination with its own alpha
    RowOpacityKernel alpha_over_alpha_source_opacity;       // 30 source alpha scaled by o
    RowOpacityKernel alpha_over_alpha_destination_opacity;  // 31 destination alpha scaled by o
    RowTwoOpacityKernel alpha_over_alpha_both_opacity;      // 32 destination by o, source by p
};

constexpr int kFirstPixelKernelSlot = 7;
constexpr int kLastPixelKernelSlot = 32;
// One pointer per slot, nothing else: the table is the slot list.
static_assert(sizeof(PixelKernelTable) == (kLastPixelKernelSlot - kFirstPixelKernelSlot + 1) * sizeof(void (*)()));

// The table every caller goes through. Holds the plain set until
// InstallPixelKernels runs, so it is usable from the first instruction.
extern PixelKernelTable PixelKernels;

// The two sets as they are, for comparing them (tests, benchmarks). On a
// processor without SSE2 the SSE set is the plain set.
const PixelKernelTable& PlainPixelKernelSet();
// The SSE set of this processor: with AVX2 present (and ZORVEK_NO_AVX2
// not set), its slots 11-13, 15, 16, 18, 19, 22 and 23 are AVX2 variants
// with the same results.
const PixelKernelTable& SsePixelKernelSet();
// The SSE set with SSE2 code only, whatever the processor (tests compare the
// AVX2 variants with it; benchmarks show both).
const PixelKernelTable& Sse2PixelKernelSet();

// Probes the processor (ProbeCpuFeatures) and installs the set of the
// kernel level (KernelLevelFor with the user's switches): level 1 the plain
// set, 2 and 3 the SSE set. The environment variable ZORVEK_PLAIN_KERNELS
// set to anything but "0" forces the plain set. Called once by start-up
// before anything allocates through the kernels.
void InstallPixelKernels();
// The level InstallPixelKernels chose (1 before it runs).
int InstalledKernelLevel();
// While on, the plain set is installed whatever the level, so both sets can
// be compared on one machine; off installs the level's set again. Only
// while no worker runs.
void ForcePlainPixelKernels(bool force);

}  // namespace zk
