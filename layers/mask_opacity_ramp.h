// The mask opacity ramp: one weight per value of a mask pixel's blue byte,
// with the masked layer's level, softness and opacity already in it. The
// compositor rebuilds it (BuildMaskOpacityRamp) for each masked layer just
// before posting that layer's rows; the masked kernels only read it, and
// only while the poster waits, so it needs no lock.
#pragma once

#include <array>
#include <cstdint>

namespace zk {

extern std::array<int32_t, 256> MaskOpacityRamp;

}  // namespace zk
