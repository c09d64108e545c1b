// The row kernels that blend one layer row into its parent's canvas, in
// four tables chosen by what takes part: the layer's alpha, a mask, both or
// neither. Each table holds two entries per blend mode, the second for full
// opacity; the rules each entry follows are in README-blend.md.
#pragma once

#include <array>
#include <cstdint>

#include "layers/blend_modes.h"

namespace zk {

// Rows are BGRA pixels; `count` is a byte count (4 per pixel). The
// destination row is changed in place.
using BlendRowKernel = void (*)(uint8_t* destination, const uint8_t* source, int32_t opacity, int64_t count);
// `mask` is read at the source's coordinates; only its first (blue) byte
// counts, through MaskOpacityRamp, which already holds the level, the
// softness and the opacity (the two arguments are there for kernels that
// want them).
using MaskBlendRowKernel = void (*)(uint8_t* destination, const uint8_t* source, const uint8_t* mask,
                                    int32_t mask_level, int32_t mask_softness, int64_t count);

// Two per mode; the last two entries are never chosen and do nothing.
constexpr int kBlendKernelEntries = 40;
static_assert(kBlendKernelEntries >= 2 * kBlendModeCount);

struct BlendKernelTable {
    std::array<BlendRowKernel, kBlendKernelEntries> plain;         // no alpha, no mask: job 101
    std::array<MaskBlendRowKernel, kBlendKernelEntries> mask;      // mask, no alpha: job 102
    std::array<BlendRowKernel, kBlendKernelEntries> source_alpha;  // alpha, no mask: job 103
    // Mask and alpha: job 104. Read at the even entry only (the mask weight
    // already holds the opacity); the odd entries repeat it.
    std::array<MaskBlendRowKernel, kBlendKernelEntries> mask_source_alpha;
};

// Filled by FillBlendKernelTables (BuildBlendTables calls it); read-only
// afterwards.
const BlendKernelTable& TheBlendKernelTable();
void FillBlendKernelTables();

// The entry a layer draws with: its drawn mode (a stored byte past the last
// mode draws as normal) and whether its opacity is full. The caller clamps
// the opacity to 0..256 first.
constexpr int BlendKernelEntry(uint8_t stored_mode, int32_t opacity) {
    return static_cast<int>(DrawnBlendMode(stored_mode)) * 2 + (opacity >= 256 ? 1 : 0);
}

}  // namespace zk
