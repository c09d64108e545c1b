// Assignment: the operator tables that apply = += -= *= /= %= &= |= ^= to
// an integer or a real element, and the commands that write variables:
// 53 (assign) and the declarations 25 (real), 50 (integer), 92 (text).
#pragma once

#include <array>
#include <cstdint>

#include "script/variables.h"

namespace zk {

enum AssignOperator : uint8_t {
    kAssignSet = 0,
    kAssignAdd = 1,
    kAssignSubtract = 2,
    kAssignMultiply = 3,
    kAssignDivide = 4,
    kAssignRemainder = 5,
    kAssignAnd = 6,
    kAssignOr = 7,
    kAssignXor = 8,
};
inline constexpr int kAssignOperatorCount = 9;

// An element outside the variable: nothing happens.
using IntegerAssignOp = void (*)(ScriptVariable& variable, int64_t element, int64_t value);
using RealAssignOp = void (*)(ScriptVariable& variable, int64_t element, double value);

struct AssignOpTable {
    std::array<IntegerAssignOp, kAssignOperatorCount> integer{};  // integer elements
    std::array<RealAssignOp, kAssignOperatorCount> real{};        // real elements
};
AssignOpTable& AssignOps();
void FillAssignOpTable();

// Applies an operator (0..8) to an element of an integer or a real variable.
// false for an operator above 8 or another variable type (nothing changed).
bool ApplyAssignOperator(ScriptVariable& variable, int64_t element, uint8_t op, int64_t value);
bool ApplyAssignOperator(ScriptVariable& variable, int64_t element, uint8_t op, double value);
// The same rows applied to a value held elsewhere (a call frame's argument
// slot). false, with the value unchanged, for an operator above 8.
bool ApplyAssignOperator(int64_t& element, uint8_t op, int64_t value);
bool ApplyAssignOperator(double& element, uint8_t op, double value);

// Command codes.
inline constexpr uint8_t kCmdDeclareReal = 25;
inline constexpr uint8_t kCmdDeclareInteger = 50;
inline constexpr uint8_t kCmdAssign = 53;
inline constexpr uint8_t kCmdDeclareText = 92;

int32_t CmdAssign();                 // 53
int32_t CmdDeclareRealVariable();    // 25 (declare_commands.cpp)
int32_t CmdDeclareIntVariable();     // 50
int32_t CmdDeclareStringVariable();  // 92

}  // namespace zk
