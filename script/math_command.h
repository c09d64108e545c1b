// Command 60: one value from one or two operands into a variable element:
// the standard math functions, a power, a random integer in a range, the
// CRC-32 of a text, or a text read as an integer expression.
#pragma once

#include <cstdint>
#include <string_view>

namespace zk {

inline constexpr uint8_t kCmdMath = 60;

// Reads a text as an integer expression: + - * / % and parentheses over
// decimal numbers, signed 64-bit arithmetic that wraps. Only the first 1023
// bytes are read; a line feed ends the input. Malformed input gives the
// value computed up to the token that fits no rule; nothing is reported.
int64_t EvalIntegerText(std::string_view text);

// The random option: a + (r mod (b - a + 1)) with a <= b after a swap,
// taken in unsigned 64-bit arithmetic so no span overflows or divides by
// zero (the whole 2^64 span gives a).
int64_t RandomInRange(int64_t a, int64_t b, uint32_t r);

int32_t CmdMath();

}  // namespace zk
