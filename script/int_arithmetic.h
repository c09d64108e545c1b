// Script arithmetic on 64-bit integers and the double-to-integer conversion,
// defined for every input. Scripts expect the wrap-around of the machine the
// engine was made for; C++ leaves signed overflow, INT64_MIN / -1 and
// out-of-range double conversion undefined, so they are spelled out here.
#pragma once

#include <cstdint>
#include <limits>

namespace zk {

inline constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

inline int64_t WrapAdd(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline int64_t WrapSub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
inline int64_t WrapMul(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}
inline int64_t WrapNegate(int64_t a) { return static_cast<int64_t>(0 - static_cast<uint64_t>(a)); }

// Truncating division; the caller handles b = 0. INT64_MIN / -1 gives
// INT64_MIN (the wrapped quotient) instead of trapping.
inline int64_t WrapDiv(int64_t a, int64_t b) { return b == -1 ? WrapNegate(a) : a / b; }
// Remainder with the sign of a; the caller handles b = 0. INT64_MIN % -1 is 0.
inline int64_t WrapRem(int64_t a, int64_t b) { return b == -1 ? 0 : a % b; }

// Double to int64, truncating toward zero. NaN, infinities and values
// outside the int64 range give INT64_MIN, which is what the processor's
// conversion instruction produces for them.
inline int64_t TruncateToInt64(double value) {
    // 2^63 is exact as a double; every double in [-2^63, 2^63) converts
    // without overflow, and NaN fails both comparisons.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(value >= -kLimit && value < kLimit)) return kInt64Min;
    return static_cast<int64_t>(value);
}

}  // namespace zk
