#include "layers/mask_opacity_ramp.h"

namespace zk {

std::array<int32_t, 256> MaskOpacityRamp{};

}  // namespace zk
