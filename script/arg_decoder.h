// Argument checks and operators: the 28 range kinds that zkc.zbn gives a
// keyword, and the three helpers that apply an argument's operator (set,
// add, subtract, multiply, divide) to a current value.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/error_codes.h"

namespace zk {

inline constexpr uint8_t kRangeKindCount = 29;  // 0..28; above 28 accepts anything

struct RangeCheck {
    uint32_t error = 0;  // 0: accepted
    int64_t minimum = 0;
    int64_t maximum = 0;
    uint8_t argument_count = 0;  // message arguments after command and keyword: v, then min, max
};

// Checks v against range kind `kind`. Kinds 26 and 27 compare with the main
// window's game-screen width and height given here.
RangeCheck CheckRangeKind(uint8_t kind, int64_t value, int32_t screen_width, int32_t screen_height);
// Reports a failed check (fatal, with the script location) naming the
// command and keyword.
void ReportRangeFailure(const RangeCheck& check, std::string_view command, std::string_view keyword, int64_t value);

// Operator kinds of an argument record.
enum ArgOperator : uint8_t { kArgSet = 0, kArgAdd = 1, kArgSubtract = 2, kArgMultiply = 3, kArgDivide = 4 };

// 0 -> argument; 1..3 -> old + - x argument (wrapping); 4 -> old / argument
// truncating, old when the argument is 0; any other kind -> old.
int64_t ApplyArgOperator(uint8_t kind, int64_t old_value, int64_t argument);
// As ApplyArgOperator, then: add is lowered to the maximum, subtract raised
// to the minimum, multiply and divide clamped to both; set is not clamped.
int64_t ApplyArgOperatorClamped(uint8_t kind, int64_t old_value, int64_t argument, int64_t minimum, int64_t maximum);
// As ApplyArgOperator, then subtract, multiply and divide are raised to the
// minimum (divide by 0 keeps old unchanged).
int64_t ApplyArgOperatorMin(uint8_t kind, int64_t old_value, int64_t argument, int64_t minimum);

}  // namespace zk
