// Command 61: a two-dimensional position and two scale factors from the
// parameters a script keeps in an integer array and a real array. Depths
// become factors 2^(value / 100), percentages value / 100; the results go
// back into elements 31..34 of the real array.
#pragma once

#include <cstdint>

namespace zk {

inline constexpr uint8_t kCmdComputePosition = 61;

// The parameters as read: I[0..7] and R[0..30] (0 where the array has no
// such element), and the four results X, Y, P, Q.
struct PositionParameters {
    int64_t integers[8] = {};
    double reals[31] = {};
};
struct PositionResult {
    double x = 0.0, y = 0.0, p = 0.0, q = 0.0;
};
PositionResult ComputePosition(const PositionParameters& parameters);

int32_t CmdComputePosition();

}  // namespace zk
