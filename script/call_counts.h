// The value counts that calls (43) and returns (79) pack into their info
// word, for their arguments and return values.
#pragma once

#include <cstdint>

namespace zk {

// The value counts that calls (43) and returns (79) pack into their info word:
// integers bits 3-7, reals bits 0-2 × 4 + bits 14-15, texts bits 9-13.
inline constexpr uint8_t kMaxCallValues = 16;
struct CallValueCounts {
    uint8_t integers = 0;
    uint8_t reals = 0;
    uint8_t texts = 0;
};
inline CallValueCounts UnpackCallInfo(uint16_t info) {
    CallValueCounts counts;
    counts.integers = static_cast<uint8_t>((info >> 3) & 0x1F);
    counts.reals = static_cast<uint8_t>((info & 0x7) * 4 + ((info >> 14) & 0x3));
    counts.texts = static_cast<uint8_t>((info >> 9) & 0x1F);
    return counts;
}
inline uint16_t PackCallInfo(CallValueCounts counts) {
    return static_cast<uint16_t>(((counts.integers & 0x1F) << 3) | ((counts.reals >> 2) & 0x7) |
                                 ((counts.reals & 0x3) << 14) | ((counts.texts & 0x1F) << 9));
}

}  // namespace zk
