// Integer expressions compiled at load: an argument record whose byte code
// uses only integer literals, plain script variables (no prefix, number
// 1000 and above) and the integer operators becomes a short program for a
// tight interpreter. The interpreter works on the evaluator's own stack and
// reference record and leaves them, and the flags, exactly as the byte code
// run in integer arithmetic leaves them, so nothing after it can tell the
// two apart.
//
// A program stands for its byte code only while that is certain: it is not
// used (the byte code runs instead) when any of its variables is not an
// integer variable holding element 0, while the declaration flag is set,
// while the opcode table is in its label-folding mode, or for an entry that
// does not take an integer result in integer arithmetic (types 1, 3, 6, 8).
//
// Script thread only, as the evaluator.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "script/expr_eval.h"

namespace zk {

enum class IntExprOpKind : uint8_t {
    kPushConstant,
    kPushVariable,
    kNegate,
    kBinary,  // `opcode` is the byte-code operator
};

struct IntExprOp {
    IntExprOpKind kind = IntExprOpKind::kPushConstant;
    uint8_t opcode = 0;
    uint8_t variable_slot = 0;  // kPushVariable: index into the program's variables
    int64_t value = 0;          // kPushConstant: the literal; kPushVariable: the variable number
};

// The forms that most arguments take, told apart at load so that running
// them needs no walk over ops: a literal, one variable, or a variable and a
// literal under one operator (a counter's test or step).
enum class IntExprShape : uint8_t {
    kGeneral,
    kConstant,          // `constant`
    kVariable,          // `variable`
    kVariableConstant,  // `variable` `opcode` `constant`
};

// One record's program: ops [first, first + length) of the file's op pool;
// length 0 = none (the byte code always runs). The shape's operands are
// kept here too, so that the common forms read nothing else.
struct IntExprProgram {
    uint32_t first = 0;
    uint8_t length = 0;
    uint8_t variable_count = 0;
    IntExprShape shape = IntExprShape::kGeneral;
    uint8_t opcode = 0;
    uint32_t variable = 0;
    int64_t constant = 0;
};

inline constexpr size_t kMaxIntExprOps = 32;
inline constexpr size_t kMaxIntExprVariables = 8;
inline constexpr size_t kMaxIntExprDepth = 16;

// Compiles `code` onto the end of `ops`: the program, or length 0 (and
// `ops` unchanged) when the code is not integer-only or not well formed.
IntExprProgram CompileIntExpr(std::span<const uint8_t> code, std::vector<IntExprOp>& ops);

// Evaluates with ExprEntryTable[type], through the program when it may
// stand for the byte code (see above), else by running the byte code.
ExprValue EvaluateWithProgram(uint32_t type, std::span<const uint8_t> code, const IntExprProgram& program,
                              const IntExprOp* ops, std::span<char> text_out = {});

// The same for a caller that wants the integer alone: true with position
// 0's integer, false (and nothing changed) when the byte code must run.
bool EvaluateIntProgram(uint32_t type, const IntExprProgram& program, const IntExprOp* ops, int64_t& result);

// Runs the program alone, as the integer entries would: true with the
// result, false (and nothing changed) when it may not stand for the byte
// code. For tests.
bool RunIntExprProgram(const IntExprProgram& program, const IntExprOp* ops, ExprValue& value);

}  // namespace zk
