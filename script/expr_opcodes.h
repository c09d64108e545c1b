// The expression byte code. An instruction is a uint8 opcode, a uint16
// payload length L (little-endian) and L payload bytes; a run executes
// instructions while it has consumed less than the code's length.
//
// One stack of positions; each holds an int64 cell, a double cell and a text
// slot (0 = the position holds a number). Integer arithmetic works on the
// int64 cells, double arithmetic on the double cells. "push" writes the top
// and raises the depth; a binary operator pops b and replaces a (now the top).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zk {

enum ExprOpcode : uint8_t {
    // opcode          payload                      effect
    kOpText = 'M',           // delim, bytes, delim  push the text literal; '\\' '\n' '\t' escapes
    kOpVariable = 'H',       // prefix u8, number u16 push element 0 (a prefix '`' or '#' pushes its reference value)
    kOpSubscripted = 'V',    // prefix u8, number u16 open the variable's subscripts; push a placeholder
    kOpWholeVariable = 'v',  // prefix u8, number u16 name the whole variable; push 0
    kOpSubscriptEnd = ')',   // -                    close the subscripts; replace them by the element's value
    kOpInt8 = 'B',           // int8                 push the integer
    kOpInt16 = 'W',          // int16                push the integer
    kOpInt32 = 'I',          // int32                push the integer
    kOpInt64 = 'L',          // int64                push the integer
    kOpReal = 'F',           // double               push the number (truncated toward 0 in integer arithmetic)
    kOpNegate = 'R',         // -                    top := -top
    kOpToText = 's',         // -                    top := top as decimal text ("%f" in double arithmetic)
    kOpToNumber = 'i',       // -                    top := top text read as a number ("0x" hex, decimal, real)
    kOpAdd = '+',            // -                    a + b; two texts: a followed by b (a kept when 4096 bytes or more)
    kOpEqual = '=',          // -                    a = b: 1 or 0; texts compared bytewise
    kOpNotEqual = '!',       // -                    a != b: 1 or 0
    kOpGreater = '>',        // -                    a > b: 1 or 0
    kOpLess = '<',           // -                    a < b: 1 or 0
    kOpGreaterEqual = 'Z',   // -                    a >= b: 1 or 0
    kOpLessEqual = 'S',      // -                    a <= b: 1 or 0
    kOpSubtract = '-',       // -                    a - b (wrapping)
    kOpMultiply = '*',       // -                    a * b (wrapping)
    kOpDivide = '/',         // -                    a / b truncating; b = 0 gives 0
    kOpRemainder = '%',      // -                    a % b with a's sign; b = 0 gives 0; a kept in double arithmetic
    kOpBitAnd = 'A',         // -                    a & b; a kept in double arithmetic
    kOpBitOr = 'O',          // -                    a | b; a kept in double arithmetic
    kOpBitXor = '^',         // -                    a ^ b; a kept in double arithmetic
    kOpLogicalAnd = '&',     // -                    1 when a != 0 and b != 0, else 0
    kOpLogicalOr = '|',      // -                    1 when a != 0 or b != 0, else 0
    kOpSeparator = ',',      // -                    nothing
};

// What an opcode's payload holds.
enum class ExprPayload : uint8_t {
    kNone,      // no bytes
    kText,      // a delimiter byte, the text, the delimiter
    kVariable,  // prefix byte, uint16 variable number (3 bytes)
    kInt8,
    kInt16,
    kInt32,
    kInt64,
    kReal,      // 8-byte double
};

// Fixed payload sizes; kText needs at least its delimiter.
constexpr size_t ExprPayloadSize(ExprPayload payload) {
    switch (payload) {
        case ExprPayload::kNone: return 0;
        case ExprPayload::kText: return 1;
        case ExprPayload::kVariable: return 3;
        case ExprPayload::kInt8: return 1;
        case ExprPayload::kInt16: return 2;
        case ExprPayload::kInt32: return 4;
        case ExprPayload::kInt64: return 8;
        case ExprPayload::kReal: return 8;
    }
    return 0;
}

struct ExprOpcodeInfo {
    ExprOpcode opcode;
    ExprPayload payload;
    uint8_t pops;  // positions the opcode needs on the stack
    std::string_view mnemonic;  // for the assembler and the disassembler
};

// One row per opcode, in the order of the enum above. The evaluator's
// handler table is parallel to it (checked by a static_assert there).
inline constexpr std::array<ExprOpcodeInfo, 30> kExprOpcodes = {{
    {kOpText, ExprPayload::kText, 0, "text"},
    {kOpVariable, ExprPayload::kVariable, 0, "var"},
    {kOpSubscripted, ExprPayload::kVariable, 0, "subscript"},
    {kOpWholeVariable, ExprPayload::kVariable, 0, "whole"},
    {kOpSubscriptEnd, ExprPayload::kNone, 0, "end"},
    {kOpInt8, ExprPayload::kInt8, 0, "int8"},
    {kOpInt16, ExprPayload::kInt16, 0, "int16"},
    {kOpInt32, ExprPayload::kInt32, 0, "int32"},
    {kOpInt64, ExprPayload::kInt64, 0, "int64"},
    {kOpReal, ExprPayload::kReal, 0, "real"},
    {kOpNegate, ExprPayload::kNone, 1, "neg"},
    {kOpToText, ExprPayload::kNone, 1, "totext"},
    {kOpToNumber, ExprPayload::kNone, 1, "tonumber"},
    {kOpAdd, ExprPayload::kNone, 2, "add"},
    {kOpEqual, ExprPayload::kNone, 2, "eq"},
    {kOpNotEqual, ExprPayload::kNone, 2, "ne"},
    {kOpGreater, ExprPayload::kNone, 2, "gt"},
    {kOpLess, ExprPayload::kNone, 2, "lt"},
    {kOpGreaterEqual, ExprPayload::kNone, 2, "ge"},
    {kOpLessEqual, ExprPayload::kNone, 2, "le"},
    {kOpSubtract, ExprPayload::kNone, 2, "sub"},
    {kOpMultiply, ExprPayload::kNone, 2, "mul"},
    {kOpDivide, ExprPayload::kNone, 2, "div"},
    {kOpRemainder, ExprPayload::kNone, 2, "rem"},
    {kOpBitAnd, ExprPayload::kNone, 2, "band"},
    {kOpBitOr, ExprPayload::kNone, 2, "bor"},
    {kOpBitXor, ExprPayload::kNone, 2, "bxor"},
    {kOpLogicalAnd, ExprPayload::kNone, 2, "and"},
    {kOpLogicalOr, ExprPayload::kNone, 2, "or"},
    {kOpSeparator, ExprPayload::kNone, 0, "sep"},
}};
// The row of an opcode, or null for a byte that is no opcode.
constexpr const ExprOpcodeInfo* FindExprOpcode(uint8_t opcode) {
    for (const ExprOpcodeInfo& info : kExprOpcodes) {
        if (info.opcode == opcode) return &info;
    }
    return nullptr;
}

// Variable prefixes ('H', 'V', 'v' payload byte 0).
inline constexpr uint8_t kPrefixGrave = 0x60;  // '`': prefix kind 1
inline constexpr uint8_t kPrefixHash = 0x23;   // '#': prefix kind 2

// The instruction header: opcode and uint16 payload length.
inline constexpr size_t kExprHeaderSize = 3;

}  // namespace zk
