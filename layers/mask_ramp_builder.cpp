// Builds MaskOpacityRamp for a masked layer (declared with the compositor,
// which calls it just before posting the layer's rows).
#include <algorithm>
#include <limits>

#include "layers/cg_image.h"
#include "layers/compositor.h"
#include "layers/mask_opacity_ramp.h"

namespace zk {

void BuildMaskOpacityRamp(const CgImage& image) {
    const int64_t level = image.mask_level;
    const int64_t softness = image.mask_softness;
    // Outside 0..256 the opacity would push weights past full.
    const int64_t opacity = std::clamp<int64_t>(image.opacity, 0, 256);
    for (int64_t i = 0; i < 256; ++i) {
        int64_t entry;
        if (softness == 256) {
            entry = i >= 256 - level ? 256 : 0;  // a hard edge at the level
        } else {
            // A straight ramp of slope softness / 2 whose position moves with
            // the level; below the ramp the weights go negative, which
            // leaves those pixels alone.
            int64_t e = (softness >> 1) * level - 128 * softness + level + ((i * softness) >> 1);
            entry = std::min<int64_t>(e, 255) + 1;
        }
        entry = (entry * opacity) >> 8;
        MaskOpacityRamp[i] = static_cast<int32_t>(std::max<int64_t>(entry, std::numeric_limits<int32_t>::min()));
    }
}

}  // namespace zk
