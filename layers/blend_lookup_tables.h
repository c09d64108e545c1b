// The byte tables the blend kernels read. The first three are filled early
// in start-up by FillBlendLookupTables (the alpha-over-alpha kernels and
// the image filters need them before anything is blended); the rest by
// BuildBlendTables (blend_tables.h). Read-only once filled, so the workers
// share them without a lock.
#pragma once

#include <array>
#include <cstdint>

#include "layers/blend_modes.h"

namespace zk {

struct BlendLookupTables {
    // [a][j] = a * (j - 255) / 256 and / 255, for a = 0..256, j = 0..511,
    // quotients rounded towards zero. alpha_div255[x][y + 255] is the
    // product table P[x][y] = x * y / 255 of the alpha-over-alpha kernels.
    std::array<std::array<int16_t, 512>, 257> alpha_div256;
    std::array<std::array<int16_t, 512>, 257> alpha_div255;
    // [a][b] = a * b / 255, rounded down.
    std::array<std::array<uint8_t, 256>, 256> mul255;

    // [i] = min(i, 255), read at d + s.
    std::array<uint8_t, 511> clamped_add;
    // [i] = max(i - 255, 0), read at s - d + 255.
    std::array<uint8_t, 511> clamped_subtract;
    // One table per mode, [s * 256 + d] = F(s, d). Filled for the modes
    // from multiply on; normal, add and subtract need none.
    std::array<std::array<uint8_t, 256 * 256>, kBlendModeCount> mode;
    // [c][k] = k * 256 / c for c = 1..255 (row 0 is 0): how far a colour
    // moves when alpha k lands on a combined alpha c.
    std::array<std::array<uint16_t, 256>, 256> alpha_ratio;
};

BlendLookupTables& TheBlendLookupTables();
void FillBlendLookupTables();

inline const uint8_t* ModeTable(BlendMode mode) {
    return TheBlendLookupTables().mode[static_cast<uint8_t>(mode)].data();
}

}  // namespace zk
