#pragma once

#include <cstdint>
#include <vector>

namespace zk {

// The CPU back buffer the presentation scales from.
struct CpuBackBuffer {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};
CpuBackBuffer& TheCpuBackBuffer();
// Allocates (or reallocates) the back buffer; reports and leaves it empty on
// failure. True when it exists.
bool AllocateCpuBackBuffer(int32_t width, int32_t height);

}  // namespace zk
