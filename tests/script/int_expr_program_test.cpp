// Compiled integer expressions against the byte code they stand for: random
// integer-only expressions over literals and script variables, run both
// ways from the same state, must leave the same value, stack cells,
// reference record and flags; and the program must stand aside (the byte
// code runs) when a variable is no longer an integer, while the declaration
// flag is set, and while the opcode table folds labels.
#include "script/int_expr_program.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "evaluator_test_support.h"
#include "script/expr_opcodes.h"
#include "script/variable_conversions.h"
#include "script/variables.h"
#include "tools/lib/expr_assembler.h"

namespace zk::evaluator_test {
namespace {

using tools::ExprAssembler;

constexpr uint16_t kFirstVar = 1000;
constexpr int kVarCount = 4;
constexpr uint8_t kBinaryOps[] = {kOpAdd,     kOpSubtract, kOpMultiply,     kOpDivide,    kOpRemainder, kOpBitAnd,
                                  kOpBitOr,   kOpBitXor,   kOpEqual,        kOpNotEqual,  kOpGreater,   kOpLess,
                                  kOpGreaterEqual, kOpLessEqual, kOpLogicalAnd, kOpLogicalOr};

int64_t EdgyValue(std::mt19937_64& rng) {
    static constexpr int64_t kEdges[] = {0, 1, -1, 2, 127, -128, INT64_MAX, INT64_MIN, 1LL << 32, -7};
    return rng() % 3 == 0 ? kEdges[rng() % std::size(kEdges)] : int64_t(rng() % 2001) - 1000;
}

// A random well-formed expression in postfix: literals of every width,
// variables, negation and every binary operator.
std::vector<uint8_t> RandomExpression(std::mt19937_64& rng) {
    ExprAssembler code;
    int depth = 0;
    const int steps = 1 + int(rng() % 12);
    for (int k = 0; k < steps || depth != 1; ++k) {
        const int choice = int(rng() % 10);
        if (depth >= 2 && (choice < 4 || k >= steps)) {
            code.Op(kBinaryOps[rng() % std::size(kBinaryOps)]);
            --depth;
        } else if (depth >= 1 && choice == 4) {
            code.Op(kOpNegate);
        } else if (choice < 7) {
            const int64_t v = EdgyValue(rng);
            switch (rng() % 4) {
                case 0: code.Int8(int8_t(v)); break;
                case 1: code.Int16(int16_t(v)); break;
                case 2: code.Int32(int32_t(v)); break;
                default: code.Int64(v); break;
            }
            ++depth;
        } else {
            code.Var(uint16_t(kFirstVar + rng() % kVarCount));
            ++depth;
        }
        if (depth > 10) {  // keep it within the compiled depth
            code.Op(kOpAdd);
            --depth;
        }
    }
    return code.Take();
}

struct Snapshot {
    ExprValue value;
    uint16_t depth = 0;
    std::array<ExprPosition, 24> cells{};
    ExprReference reference;
    uint8_t aborted = 0, mode = 0, subscript_count = 0;
    int8_t nesting = 0;
    uint16_t next_text = 0;
    size_t result_length = 0;
};

Snapshot Take(const ExprValue& value) {
    const ExprEvaluator& e = ReadEvaluator();
    Snapshot s;
    s.value = value;
    s.depth = e.depth;
    for (size_t i = 0; i < s.cells.size(); ++i) s.cells[i] = e.stack[i];
    s.reference = e.reference;
    s.aborted = e.aborted;
    s.mode = e.mode;
    s.subscript_count = e.subscript_count;
    s.nesting = e.nesting;
    s.next_text = e.next_text;
    s.result_length = e.result_length;
    return s;
}

void ExpectSame(const Snapshot& a, const Snapshot& b, const std::string& what) {
    EXPECT_EQ(a.value.integer, b.value.integer) << what;
    EXPECT_EQ(a.value.real, b.value.real) << what;
    EXPECT_EQ(a.depth, b.depth) << what;
    for (size_t i = 0; i < a.cells.size(); ++i) {
        EXPECT_EQ(a.cells[i].integer, b.cells[i].integer) << what << " cell " << i;
        EXPECT_EQ(a.cells[i].text, b.cells[i].text) << what << " cell " << i;
        EXPECT_EQ(std::memcmp(&a.cells[i].real, &b.cells[i].real, sizeof(double)), 0) << what << " cell " << i;
    }
    EXPECT_EQ(a.reference.variable, b.reference.variable) << what;
    EXPECT_EQ(a.reference.element, b.reference.element) << what;
    EXPECT_EQ(a.reference.prefix, b.reference.prefix) << what;
    EXPECT_EQ(a.reference.whole_variable, b.reference.whole_variable) << what;
    EXPECT_EQ(a.aborted, b.aborted) << what;
    EXPECT_EQ(a.mode, b.mode) << what;
    EXPECT_EQ(a.subscript_count, b.subscript_count) << what;
    EXPECT_EQ(a.nesting, b.nesting) << what;
    EXPECT_EQ(a.next_text, b.next_text) << what;
    EXPECT_EQ(a.result_length, b.result_length) << what;
}

class IntExprProgramTest : public EvaluatorTest {
protected:
    void SetVariables(std::mt19937_64& rng) {
        for (int v = 0; v < kVarCount; ++v) {
            ASSERT_EQ(FillIntegerVariable(*FindVariable(kFirstVar + v), VariableShape{}, EdgyValue(rng)), 0);
        }
    }
    // The same stale state before each run: what earlier runs left behind.
    static void Scribble(std::mt19937_64& rng) {
        ExprEvaluator& e = Evaluator();
        for (size_t i = 0; i < 24; ++i) e.stack[i] = ExprPosition{int64_t(rng()), double(rng() % 1000), 0};
        e.reference = ExprReference{uint32_t(rng() % 2000), int64_t(rng() % 9), kPrefixNone, 1};
        e.depth = uint16_t(rng() % 5);
    }
};

TEST_F(IntExprProgramTest, RandomExpressionsMatchTheByteCode) {
    std::mt19937_64 rng(1312);
    int compiled = 0;
    for (int round = 0; round < 3000; ++round) {
        SetVariables(rng);
        const std::vector<uint8_t> code = RandomExpression(rng);
        std::vector<IntExprOp> ops;
        const IntExprProgram program = CompileIntExpr(code, ops);
        ASSERT_NE(program.length, 0) << "round " << round << ": integer-only code compiles";
        ++compiled;
        const uint32_t type = (round % 4 == 0) ? 1 : (round % 4 == 1) ? 3 : (round % 4 == 2) ? 6 : 8;
        const uint64_t seed = rng();
        std::mt19937_64 scribble(seed);
        Scribble(scribble);
        const Snapshot byte_code = Take(EvaluateExpr(type, code));
        scribble.seed(seed);
        Scribble(scribble);
        const Snapshot fast = Take(EvaluateWithProgram(type, code, program, ops.data()));
        ExpectSame(byte_code, fast, "round " + std::to_string(round));
        if (HasFailure()) return;
    }
    EXPECT_EQ(compiled, 3000);
    ExpectClean();
}

TEST_F(IntExprProgramTest, TheProgramStandsAsideWhereItMayNotStandForTheByteCode) {
    std::mt19937_64 rng(99);
    SetVariables(rng);
    const std::vector<uint8_t> code = ExprAssembler().Var(kFirstVar).Int8(3).Op(kOpAdd).Take();
    std::vector<IntExprOp> ops;
    const IntExprProgram program = CompileIntExpr(code, ops);
    ASSERT_NE(program.length, 0);
    ExprValue value;
    ASSERT_TRUE(RunIntExprProgram(program, ops.data(), value));
    EXPECT_EQ(value.integer, FindVariable(kFirstVar)->integers[0] + 3);

    // Redeclared as a real: the byte code pushes a real, the program stands aside.
    ASSERT_EQ(FillRealVariable(*FindVariable(kFirstVar), VariableShape{}, 2.75), 0);
    EXPECT_FALSE(RunIntExprProgram(program, ops.data(), value));
    EXPECT_EQ(EvaluateWithProgram(1, code, program, ops.data()).integer, EvaluateExpr(1, code).integer);
    ASSERT_EQ(FillIntegerVariable(*FindVariable(kFirstVar), VariableShape{}, 5), 0);
    ASSERT_TRUE(RunIntExprProgram(program, ops.data(), value));

    // The declaration flag: the variable is named, not read.
    SetExprDeclaring(true);
    EXPECT_FALSE(RunIntExprProgram(program, ops.data(), value));
    SetExprDeclaring(false);

    // Label folding: variable opcodes abort the run there.
    FillExprOpTable(0);
    EXPECT_FALSE(RunIntExprProgram(program, ops.data(), value));
    FillExprOpTable(1);
    EXPECT_TRUE(RunIntExprProgram(program, ops.data(), value));

    // Entries that are not integer arithmetic with an integer result run the
    // byte code: a real entry sees the variable as it is.
    ASSERT_EQ(FillRealVariable(*FindVariable(kFirstVar), VariableShape{}, 2.75), 0);
    EXPECT_DOUBLE_EQ(EvaluateWithProgram(7, code, program, ops.data()).real, 5.75);
    ExpectClean();
}

// The common forms (a literal, a plain variable, a variable and a literal
// under one operator) are recognised at load and run without the op walk,
// also inline in the commands: each, with every operator and edge values,
// leaves what the byte code leaves.
TEST_F(IntExprProgramTest, ProgramRunsInARowMatchTheByteCode) {
    // A program run right after another skips setting what that run left
    // as a run's start sets it; a chain of runs (shaped, general, and byte
    // code between them) must leave the same state after every step as
    // the same chain run as byte code.
    std::mt19937_64 rng(99);
    for (int chain = 0; chain < 200; ++chain) {
        struct Step {
            std::vector<uint8_t> code;
            IntExprProgram program;
            uint32_t type = 1;
        };
        std::vector<IntExprOp> ops;
        std::vector<Step> steps;
        for (int k = 0; k < 12; ++k) {
            Step step;
            const uint16_t var = uint16_t(kFirstVar + rng() % kVarCount);
            switch (rng() % 5) {
                case 0: step.code = ExprAssembler().Int32(int32_t(EdgyValue(rng))).Take(); break;
                case 1: step.code = ExprAssembler().Var(var).Take(); break;
                case 2:
                    step.code = ExprAssembler().Var(var).Int8(int8_t(rng() % 9)).Op(kBinaryOps[rng() % 16]).Take();
                    break;
                case 3: step.code = RandomExpression(rng); break;
                default: step.code = ExprAssembler().Real(1.5).Var(var).Op(kOpAdd).Take(); break;  // byte code only
            }
            step.program = CompileIntExpr(step.code, ops);
            step.type = (rng() % 3 == 0) ? 2 : 1;  // type 2: a real entry, the byte code runs
            steps.push_back(std::move(step));
        }
        SetVariables(rng);
        const uint64_t seed = rng();
        std::vector<Snapshot> byte_code;
        std::mt19937_64 scribble(seed);
        Scribble(scribble);
        for (const Step& step : steps) byte_code.push_back(Take(EvaluateExpr(step.type, step.code)));
        scribble.seed(seed);
        Scribble(scribble);
        for (size_t k = 0; k < steps.size(); ++k) {
            const Step& step = steps[k];
            ExpectSame(byte_code[k], Take(EvaluateWithProgram(step.type, step.code, step.program, ops.data())),
                       "chain " + std::to_string(chain) + " step " + std::to_string(k));
        }
        if (HasFailure()) return;
    }
    ExpectClean();
}

TEST_F(IntExprProgramTest, ShapedFormsMatchTheByteCode) {
    std::mt19937_64 rng(4242);
    struct Case {
        std::vector<uint8_t> code;
        IntExprShape shape;
    };
    std::vector<Case> cases;
    for (int k = 0; k < 40; ++k) {
        const int64_t v = EdgyValue(rng);
        cases.push_back({ExprAssembler().Int64(v).Take(), IntExprShape::kConstant});
        cases.push_back({ExprAssembler().Int8(int8_t(v)).Take(), IntExprShape::kConstant});
        cases.push_back({ExprAssembler().Var(uint16_t(kFirstVar + k % kVarCount)).Take(), IntExprShape::kVariable});
        for (uint8_t op : kBinaryOps) {
            cases.push_back({ExprAssembler().Var(uint16_t(kFirstVar + k % kVarCount)).Int32(int32_t(v)).Op(op).Take(),
                             IntExprShape::kVariableConstant});
        }
    }
    // Close to the forms but general: they walk the ops.
    cases.push_back({ExprAssembler().Int8(1).Var(kFirstVar).Op(kOpSubtract).Take(), IntExprShape::kGeneral});
    cases.push_back({ExprAssembler().Var(kFirstVar).Op(kOpNegate).Take(), IntExprShape::kGeneral});
    cases.push_back({ExprAssembler().Var(kFirstVar).Var(kFirstVar + 1).Op(kOpLess).Take(), IntExprShape::kGeneral});

    for (size_t i = 0; i < cases.size(); ++i) {
        SetVariables(rng);
        std::vector<IntExprOp> ops;
        const IntExprProgram program = CompileIntExpr(cases[i].code, ops);
        ASSERT_NE(program.length, 0) << "case " << i;
        EXPECT_EQ(program.shape, cases[i].shape) << "case " << i;
        const uint32_t type = (i % 2 == 0) ? 1 : 3;
        const uint64_t seed = rng();
        std::mt19937_64 scribble(seed);
        Scribble(scribble);
        const Snapshot byte_code = Take(EvaluateExpr(type, cases[i].code));
        scribble.seed(seed);
        Scribble(scribble);
        int64_t result = 0;
        const bool ran = RunShapedIntProgram(type, program, result);
        EXPECT_EQ(ran, cases[i].shape != IntExprShape::kGeneral) << "case " << i;
        if (!ran) continue;
        ExprValue value;
        value.integer = result;
        value.real = static_cast<double>(result);
        ExpectSame(byte_code, Take(value), "case " + std::to_string(i));
        scribble.seed(seed);
        Scribble(scribble);
        ExpectSame(byte_code, Take(EvaluateWithProgram(type, cases[i].code, program, ops.data())),
                   "case " + std::to_string(i) + " through the entry");
        if (HasFailure()) return;
    }
    ExpectClean();
}

TEST_F(IntExprProgramTest, ShapedFormsStandAsideWhereTheByteCodeMustRun) {
    std::mt19937_64 rng(7);
    SetVariables(rng);
    const std::vector<uint8_t> code = ExprAssembler().Var(kFirstVar).Int8(3).Op(kOpGreaterEqual).Take();
    std::vector<IntExprOp> ops;
    const IntExprProgram program = CompileIntExpr(code, ops);
    ASSERT_EQ(program.shape, IntExprShape::kVariableConstant);
    int64_t result = 0;
    EXPECT_TRUE(RunShapedIntProgram(1, program, result));
    // Real entries, unknown types and types beyond the table.
    for (uint32_t type : {2u, 7u, 16u, 0u, 255u, 1000u}) {
        EXPECT_FALSE(RunShapedIntProgram(type, program, result)) << "type " << type;
    }
    SetExprDeclaring(true);
    EXPECT_FALSE(RunShapedIntProgram(1, program, result));
    SetExprDeclaring(false);
    FillExprOpTable(0);
    EXPECT_FALSE(RunShapedIntProgram(1, program, result));
    FillExprOpTable(1);
    ASSERT_EQ(FillRealVariable(*FindVariable(kFirstVar), VariableShape{}, 2.75), 0);
    EXPECT_FALSE(RunShapedIntProgram(1, program, result));
    // A variable number beyond the table.
    const std::vector<uint8_t> far = ExprAssembler().Var(60000).Take();
    std::vector<IntExprOp> far_ops;
    const IntExprProgram far_program = CompileIntExpr(far, far_ops);
    ASSERT_EQ(far_program.shape, IntExprShape::kVariable);
    EXPECT_FALSE(RunShapedIntProgram(1, far_program, result));
}

TEST_F(IntExprProgramTest, CachedCellsNeverOutliveAVariableArrayChange) {
    // The same programs run again after each change to the variable's
    // arrays: each run either matches the byte code on the state as it is
    // now, or stands aside; a cell kept from before a change would read
    // freed memory (ASan) or a stale value.
    const std::vector<uint8_t> plain = ExprAssembler().Var(kFirstVar).Take();
    const std::vector<uint8_t> step = ExprAssembler().Var(kFirstVar).Int8(5).Op(kOpAdd).Take();
    std::vector<IntExprOp> ops;
    const IntExprProgram plain_program = CompileIntExpr(plain, ops);
    const IntExprProgram step_program = CompileIntExpr(step, ops);
    ASSERT_EQ(plain_program.shape, IntExprShape::kVariable);
    ASSERT_EQ(step_program.shape, IntExprShape::kVariableConstant);
    // The record is reached once, before any cell is kept, so that the
    // changes below are seen only by what they do to the arrays.
    static ScriptVariable* held = nullptr;
    held = FindVariable(kFirstVar);
    ASSERT_EQ(FillIntegerVariable(*held, VariableShape{}, 40), 0);

    struct Change {
        const char* what;
        void (*apply)();
        bool runs;  // the programs stand for the byte code afterwards
    };
    const Change changes[] = {
        {"element written in place", [] { *IntegerCellZero(kFirstVar) = 41; }, true},
        {"declared again as an array", [] { ASSERT_EQ(FillIntegerVariable(*held, Shape({3}), 7), 0); }, true},
        {"resized to a larger array", [] { ASSERT_EQ(ResizeVariableArray(kFirstVar, 100000), 0); }, true},
        {"element written after the resize", [] { *IntegerCellZero(kFirstVar) = -9; }, true},
        {"declared as a real", [] { ASSERT_EQ(FillRealVariable(*held, VariableShape{}, 2.5), 0); }, false},
        {"declared as an integer again", [] { ASSERT_EQ(FillIntegerVariable(*held, VariableShape{}, 12), 0); }, true},
        {"shape without elements", [] { SetVariableShape(*held, kVariableInteger, VariableShape{}); }, false},
        {"filled again", [] { ASSERT_EQ(FillIntegerVariable(*held, VariableShape{}, 3), 0); }, true},
        {"table dropped", [] { ResetVariableTable(); }, false},
        {"table made again", [] { ASSERT_EQ(CreateVariableTable(1100), 0); }, false},
        {"filled in the new table",
         [] {
             held = FindVariable(kFirstVar);
             ASSERT_EQ(FillIntegerVariable(*held, VariableShape{}, 77), 0);
         },
         true},
    };
    using Run = std::pair<const std::vector<uint8_t>*, const IntExprProgram*>;
    const std::array<Run, 2> runs = {Run{&plain, &plain_program}, Run{&step, &step_program}};
    int64_t result = 0;
    for (const Run& run : runs) ASSERT_TRUE(RunShapedIntProgram(1, *run.second, result));  // cells kept
    for (const Change& change : changes) {
        change.apply();
        // The programs first, on the cells kept from before the change;
        // then the byte code on the state as it is now.
        std::array<bool, 2> ran{};
        std::array<int64_t, 2> results{};
        for (size_t k = 0; k < runs.size(); ++k) ran[k] = RunShapedIntProgram(1, *runs[k].second, results[k]);
        for (size_t k = 0; k < runs.size(); ++k) {
            EXPECT_EQ(ran[k], change.runs) << change.what;
            if (ran[k]) {
                EXPECT_EQ(results[k], EvaluateExpr(1, *runs[k].first).integer) << change.what;
            }
        }
        // Keep the cells again for the next change (the byte code's own
        // variable reads may have moved the generation on).
        for (const Run& run : runs) RunShapedIntProgram(1, *run.second, result);
        if (HasFailure()) return;
    }
}

TEST_F(IntExprProgramTest, WhatDoesNotCompile) {
    const std::vector<std::vector<uint8_t>> cases = {
        {},                                                       // empty
        ExprAssembler().Real(1.5).Take(),                         // a real literal
        ExprAssembler().Text("a").Take(),                         // a text
        ExprAssembler().Var(kFirstVar, '`').Take(),               // a reference prefix
        ExprAssembler().Var(5).Take(),                            // a system variable
        ExprAssembler().Subscript(kFirstVar).Int8(0).End().Take(),  // a subscript
        ExprAssembler().Int8(1).Op(kOpAdd).Take(),                // too few operands
        ExprAssembler().Op(kOpToText).Take(),                     // not an integer operator
        ExprAssembler().RawWithLength(kOpInt32, 2, std::vector<uint8_t>{1, 2}).Take(),  // short payload
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<IntExprOp> ops;
        EXPECT_EQ(CompileIntExpr(cases[i], ops).length, 0) << "case " << i;
        EXPECT_TRUE(ops.empty()) << "case " << i;
    }
}

}  // namespace
}  // namespace zk::evaluator_test
