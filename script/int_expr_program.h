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
#include "script/expr_opcodes.h"
#include "script/int_arithmetic.h"
#include "script/variables.h"

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
    // The shape's variable's element 0 (IntegerCellZero) as last looked up,
    // and the variable generation it was taken in: good only while that
    // generation lasts. A cache, so it may change in a const program.
    mutable int64_t* cell = nullptr;
    mutable uint64_t cell_generation = 0;
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

namespace detail {
extern ExprEvaluator the_evaluator;
// Entry types whose entry takes an integer result in integer arithmetic
// (1 where ExprEntryTable[type] is EvalIntExpr or EvalRealExprFromInt),
// kept with the table.
extern std::array<uint8_t, kExprEntryCount> integer_entry;
// 1 while the opcode table is the normal one (not label folding).
extern uint8_t normal_op_table;

// The run state every byte-code run starts from (not the pool, nor the
// reference record's variable and element).
[[gnu::always_inline]] inline void ResetRunState(ExprEvaluator& e) {
    e.depth = 0;
    e.nesting = 0;
    e.next_text = 1;
    e.stack[0] = ExprPosition{};
    e.subscript_count = 0;
    e.subscripts[0] = 0;
    e.reference.prefix = kPrefixNone;
    e.reference.whole_variable = 0;
    e.result_length = 0;
}

// The byte-code operators on two integer cells, as the evaluator's handlers
// compute them in integer arithmetic.
[[gnu::always_inline]] inline int64_t ApplyBinary(uint8_t opcode, int64_t x, int64_t y) {
    switch (opcode) {
        case kOpAdd: return WrapAdd(x, y);
        case kOpSubtract: return WrapSub(x, y);
        case kOpMultiply: return WrapMul(x, y);
        case kOpDivide: return y == 0 ? 0 : WrapDiv(x, y);
        case kOpRemainder: return y == 0 ? 0 : WrapRem(x, y);
        case kOpBitAnd: return x & y;
        case kOpBitOr: return x | y;
        case kOpBitXor: return x ^ y;
        case kOpEqual: return x == y ? 1 : 0;
        case kOpNotEqual: return x != y ? 1 : 0;
        case kOpGreater: return x > y ? 1 : 0;
        case kOpLess: return x < y ? 1 : 0;
        case kOpGreaterEqual: return x >= y ? 1 : 0;
        case kOpLessEqual: return x <= y ? 1 : 0;
        case kOpLogicalAnd: return (x != 0 && y != 0) ? 1 : 0;
        default: return (x != 0 || y != 0) ? 1 : 0;  // kOpLogicalOr
    }
}

// A program's run starts as a byte-code run does. After another program's
// run only the depth and position 0's integer differ from that start, and
// every program run sets both itself (its first op pushes position 0).
[[gnu::always_inline]] inline void StartProgramRun(ExprEvaluator& e) {
    if (e.program_clean != 0) [[likely]] return;
    e.mode = kModeInteger;
    e.out = {};
    ResetRunState(e);
    e.program_clean = 1;
}

// A push of a plain variable: the reference record names its element 0.
[[gnu::always_inline]] inline void PushVariableCell(ExprEvaluator& e, uint16_t depth, uint32_t number,
                                                    int64_t value) {
    e.reference.variable = number;
    e.reference.element = 0;
    e.reference.prefix = kPrefixNone;
    ExprPosition& p = e.stack[depth];
    p.text = 0;
    p.integer = value;
}
}  // namespace detail

// True when a program may stand for the byte code run by entry `type`:
// an entry with an integer result in integer arithmetic, no declaration
// under way, the normal opcode table.
[[gnu::always_inline]] inline bool IntProgramsStandFor(uint32_t type) {
    return type < kExprEntryCount && detail::integer_entry[type] != 0 && detail::the_evaluator.declaring == 0 &&
           detail::normal_op_table != 0;
}

namespace detail {
// Element 0 of the program's shape variable when it is a plain integer
// cell, else null: looked up once per variable generation, so that a loop
// over the same variables does not search the table on every run.
[[gnu::always_inline]] inline int64_t* ProgramCell(const IntExprProgram& program) {
    const uint64_t generation = VariableGeneration();
    if (program.cell_generation == generation) [[likely]] return program.cell;
    int64_t* cell = IntegerCellZero(program.variable);
    program.cell = cell;
    program.cell_generation = generation;
    return cell;
}

// The shaped forms (a literal, a plain variable, a variable and a literal
// under one operator), for a caller that has checked the program may stand
// for the byte code: true with position 0's integer and the evaluator as
// the byte code leaves it; false (nothing changed) for a general program or
// a variable that is not a plain integer.
[[gnu::always_inline]] inline bool RunShape(const IntExprProgram& program, int64_t& result) {
    ExprEvaluator& e = the_evaluator;
    switch (program.shape) {
        case IntExprShape::kConstant: {
            StartProgramRun(e);
            ExprPosition& p = e.stack[0];
            p.text = 0;
            p.integer = program.constant;
            e.depth = 1;
            e.aborted = 0;
            result = program.constant;
            return true;
        }
        case IntExprShape::kVariable:
        case IntExprShape::kVariableConstant: {
            const int64_t* cell = ProgramCell(program);
            if (cell == nullptr) return false;
            StartProgramRun(e);
            PushVariableCell(e, 0, program.variable, *cell);
            if (program.shape == IntExprShape::kVariableConstant) {
                ExprPosition& b = e.stack[1];
                b.text = 0;
                b.integer = program.constant;
                ExprPosition& a = e.stack[0];
                a.integer = ApplyBinary(program.opcode, a.integer, program.constant);
            }
            e.depth = 1;
            e.aborted = 0;
            result = e.stack[0].integer;
            return true;
        }
        case IntExprShape::kGeneral:
            break;
    }
    return false;
}
}  // namespace detail

// The shaped forms run in the caller: true with position 0's integer and
// the evaluator as the byte code leaves it; false (nothing changed) for a
// general program or whenever the program may not stand for the byte code,
// where the caller goes on with EvaluateIntProgram or EvaluateWithProgram.
[[gnu::always_inline]] inline bool RunShapedIntProgram(uint32_t type, const IntExprProgram& program,
                                                       int64_t& result) {
    return program.shape != IntExprShape::kGeneral && IntProgramsStandFor(type) && detail::RunShape(program, result);
}

// Runs the program alone, as the integer entries would: true with the
// result, false (and nothing changed) when it may not stand for the byte
// code. For tests.
bool RunIntExprProgram(const IntExprProgram& program, const IntExprOp* ops, ExprValue& value);

}  // namespace zk
