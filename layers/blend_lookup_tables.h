// The byte tables the blend kernels read, filled once at start-up.
#pragma once

#include <array>
#include <cstdint>

namespace zk {

struct BlendLookupTables {
    // [a][j] = a * (j - 255) / 256 and / 255, for a = 0..256, j = 0..511,
    // quotients rounded towards zero.
    std::array<std::array<int16_t, 512>, 257> alpha_div256;
    std::array<std::array<int16_t, 512>, 257> alpha_div255;
    // [a][b] = a * b / 255, rounded down.
    std::array<std::array<uint8_t, 256>, 256> mul255;
};

BlendLookupTables& TheBlendLookupTables();
void FillBlendLookupTables();

}  // namespace zk
