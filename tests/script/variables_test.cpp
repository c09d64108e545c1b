// Variables: element access, whole-variable fills, the assignment operator
// tables, the assignment command 53 and the declarations 25, 50 and 92.
// Each command test states its script line in the infix form it compiles.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "evaluator_test_support.h"
#include "script/assign.h"
#include "script/int_expr_program.h"
#include "tools/lib/expr_assembler.h"

namespace zk::evaluator_test {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

class VariablesTest : public EvaluatorTest {
protected:
    // let <target> <op>= <value>
    int32_t Let(std::string_view target, uint8_t op, std::string_view value, uint8_t value_type = 1) {
        return Run(kCmdAssign, {Arg(0, target, 1, op), Arg(1, value, value_type)});
    }
    // <int|real|str> <name[sizes]> = <value>
    int32_t Declare(uint8_t code, std::string_view target, std::string_view value, uint8_t value_type = 1) {
        return Run(code, {Arg(0, target), Arg(1, value, value_type)});
    }
};

TEST_F(VariablesTest, IntegerAssignOperators) {
    struct Case {
        uint8_t op;
        int64_t element, value, expected;
    };
    const Case cases[] = {
        {kAssignSet, 7, 3, 3},
        {kAssignAdd, kMax, 1, kMin},
        {kAssignSubtract, kMin, 1, kMax},
        {kAssignMultiply, kMax, 2, -2},
        {kAssignDivide, 7, 2, 3},
        {kAssignDivide, 7, 0, 7},
        {kAssignDivide, kMin, -1, kMin},
        {kAssignRemainder, -7, 3, -1},
        {kAssignRemainder, 7, 0, 7},
        {kAssignRemainder, kMin, -1, 0},
        {kAssignAnd, 12, 10, 8},
        {kAssignOr, 12, 10, 14},
        {kAssignXor, 12, 10, 6},
    };
    ScriptVariable& x = IntVar("x", 1000, {2});
    for (const Case& c : cases) {
        x.integers[1] = c.element;
        ASSERT_TRUE(ApplyAssignOperator(x, 1, c.op, c.value));
        EXPECT_EQ(x.integers[1], c.expected) << int(c.op) << " " << c.element << " " << c.value;
        EXPECT_EQ(x.integers[0], 0);
    }
    // Outside the variable nothing happens; an operator above 8 is refused.
    ASSERT_TRUE(ApplyAssignOperator(x, 2, kAssignSet, int64_t{5}));
    ASSERT_TRUE(ApplyAssignOperator(x, -1, kAssignSet, int64_t{5}));
    EXPECT_EQ(x.integers[0], 0);
    EXPECT_FALSE(ApplyAssignOperator(x, 0, 9, int64_t{5}));
    ExpectClean();
}

// A file's records carry compiled programs, and a plain integer target
// then takes a shorter path. Each assignment here runs both ways from the
// same state: with its records' programs (as a loaded file runs it) and
// from its bytes alone. The variables, the result and what the evaluator
// keeps (reference record, stack, flags) must come out the same, also
// where the shorter path has to stand aside (a real target, a value that
// reads a real, a subscripted target, an operator out of range).
TEST_F(VariablesTest, CompiledAssignmentsMatchTheByteCode) {
    struct Case {
        const char* target;
        uint8_t op;
        const char* value;
        uint8_t value_type;
    };
    const Case cases[] = {
        {"x", kAssignSet, "5", 1},        {"x", kAssignAdd, "1", 1},         {"x", kAssignSubtract, "y", 1},
        {"x", kAssignMultiply, "y + 3", 3}, {"x", kAssignDivide, "0", 1},    {"x", kAssignDivide, "y", 1},
        {"x", kAssignRemainder, "y % 7", 1}, {"x", kAssignAnd, "y * y - 3", 1}, {"x", kAssignOr, "-y", 1},
        {"x", kAssignXor, "y >= 3", 1},   {"x", kAssignAdd, "r", 1},         {"x", kAssignAdd, "r + 1", 1},
        {"x", kAssignAdd, "y", 7},        {"x", kAssignSet, "y", 6},         {"r", kAssignAdd, "y", 1},
        {"a[1]", kAssignAdd, "y", 1},     {"x", 9, "1", 1},                  {"x", kAssignAdd, "x", 1},
    };
    IntVar("x", 1000);
    IntVar("y", 1001);
    RealVar("r", 1002);
    IntVar("a", 1003, {3});
    for (const Case& c : cases) {
        const std::vector<tools::ScriptArg> records = {Arg(0, c.target, 1, c.op), Arg(1, c.value, c.value_type)};
        struct Outcome {
            int32_t result = 0;
            int64_t x = 0, a1 = 0;
            double r = 0;
            ExprReference reference;
            uint16_t depth = 0;
            std::array<ExprPosition, 4> cells{};
            uint8_t aborted = 0, mode = 0;
        };
        auto run = [&](bool compiled, int rounds) {
            ScriptVariable& x = IntVar("x", 1000, {}, 41);
            IntVar("y", 1001, {}, 6);
            ScriptVariable& r = RealVar("r", 1002, {}, 2.5);
            ScriptVariable& a = IntVar("a", 1003, {3}, 9);
            SetCommand(BuildCommand(kCmdAssign, records));
            std::vector<ArgDescriptor> decoded;
            std::vector<IntExprProgram> programs;
            std::vector<IntExprOp> ops;
            if (compiled) {
                DecodeArgDescriptors(image_.args, decoded);
                for (const ArgDescriptor& d : decoded) {
                    programs.push_back(CompileIntExpr(*ArgCode(image_.data, d), ops));
                }
                RunningCommand command = CurrentCommand();
                command.records = decoded;
                command.programs = programs;
                command.program_ops = ops.data();
                EXPECT_TRUE(SetRunningCommand(command));
            }
            ExprEvaluator& e = Evaluator();
            e.reference = ExprReference{77, 5, kPrefixNone, 1};
            for (size_t i = 0; i < 4; ++i) e.stack[i] = ExprPosition{int64_t(i) * 11, double(i), 0};
            Outcome o;
            // A second round runs with the variables' cells kept from the
            // first, on a reference record and stack scribbled again.
            for (int k = 0; k < rounds; ++k) {
                if (k > 0) {
                    Evaluator().reference = ExprReference{78, 4, kPrefixNone, 1};
                    for (size_t i = 0; i < 4; ++i) Evaluator().stack[i] = ExprPosition{int64_t(i) * 13, double(i), 0};
                }
                o.result = CommandHandlerFor(kCmdAssign)();
            }
            o.x = x.integers[0];
            o.a1 = a.integers[1];
            o.r = r.reals[0];
            o.reference = e.reference;
            o.depth = e.depth;
            for (size_t i = 0; i < 4; ++i) o.cells[i] = e.stack[i];
            o.aborted = e.aborted;
            o.mode = e.mode;
            return o;
        };
        for (int rounds : {1, 2}) {
            const Outcome bytes = run(false, rounds);
            const Outcome compiled = run(true, rounds);
            const std::string what = std::string(c.target) + " op " + std::to_string(c.op) + " " + c.value +
                                     " rounds " + std::to_string(rounds);
            EXPECT_EQ(bytes.result, compiled.result) << what;
            EXPECT_EQ(bytes.x, compiled.x) << what;
            EXPECT_EQ(bytes.a1, compiled.a1) << what;
            EXPECT_EQ(std::memcmp(&bytes.r, &compiled.r, sizeof(double)), 0) << what;
            EXPECT_EQ(bytes.reference.variable, compiled.reference.variable) << what;
            EXPECT_EQ(bytes.reference.element, compiled.reference.element) << what;
            EXPECT_EQ(bytes.reference.prefix, compiled.reference.prefix) << what;
            EXPECT_EQ(bytes.reference.whole_variable, compiled.reference.whole_variable) << what;
            EXPECT_EQ(bytes.depth, compiled.depth) << what;
            for (size_t i = 0; i < 4; ++i) {
                EXPECT_EQ(bytes.cells[i].integer, compiled.cells[i].integer) << what << " cell " << i;
                EXPECT_EQ(bytes.cells[i].text, compiled.cells[i].text) << what << " cell " << i;
                EXPECT_EQ(std::memcmp(&bytes.cells[i].real, &compiled.cells[i].real, sizeof(double)), 0)
                    << what << " cell " << i;
            }
            EXPECT_EQ(bytes.aborted, compiled.aborted) << what;
            EXPECT_EQ(bytes.mode, compiled.mode) << what;
        }
    }
}

TEST_F(VariablesTest, RealAssignOperators) {
    struct Case {
        uint8_t op;
        double element, value, expected;
    };
    const Case cases[] = {
        {kAssignAdd, 1.5, 2.25, 3.75},
        {kAssignDivide, 7.0, 2.0, 3.5},
        {kAssignDivide, 7.9, 0.0, 7.9},
        // Remainder and bit operators work on both values truncated.
        {kAssignRemainder, 7.9, 2.5, 1.0},
        {kAssignRemainder, 7.9, 0.5, 7.9},  // the divisor truncates to 0
        {kAssignRemainder, -7.9, 2.0, -1.0},
        {kAssignAnd, 12.7, 10.2, 8.0},
        {kAssignOr, 12.7, 10.2, 14.0},
        {kAssignXor, 12.7, 10.2, 6.0},
        // A NaN element truncates to INT64_MIN, not to undefined behaviour.
        {kAssignRemainder, std::numeric_limits<double>::quiet_NaN(), 3.0, -2.0},
        {kAssignRemainder, 1e300, -1.0, 0.0},
    };
    ScriptVariable& r = RealVar("r", 1000);
    for (const Case& c : cases) {
        r.reals[0] = c.element;
        ASSERT_TRUE(ApplyAssignOperator(r, 0, c.op, c.value));
        EXPECT_EQ(r.reals[0], c.expected) << int(c.op) << " " << c.element << " " << c.value;
    }
    ExpectClean();
}

TEST_F(VariablesTest, AssignToElements) {
    IntVar("x", 1000, {4}, 7);
    RealVar("r", 1001, {2}, 1.0);
    IntVar("i", 1002, {}, 1);
    // let x[i + 1] %= 0   (stays 7)
    EXPECT_EQ(Let("x[i + 1]", kAssignRemainder, "0"), 0);
    EXPECT_EQ(EvalInt("x[2]"), 7);
    // let x[3] += 5 * 2
    EXPECT_EQ(Let("x[3]", kAssignAdd, "5 * 2"), 0);
    EXPECT_EQ(EvalInt("x[3]"), 17);
    // let r[1] = 7 / 2: a real element takes the value in double arithmetic
    // whatever the value's type says.
    EXPECT_EQ(Let("r[1]", kAssignSet, "7 / 2"), 0);
    EXPECT_EQ(EvalReal("r[1]"), 3.5);
    EXPECT_EQ(EvalReal("r[0]"), 1.0);
    ExpectClean();
}

TEST_F(VariablesTest, AssignToWholeVariables) {
    IntVar("x", 1000, {3}, 1);
    RealVar("r", 1001, {3}, 1.0);
    TextVar("t", 1002, {2}, "old");
    // let @x += 5: the operator is ignored for a whole variable.
    EXPECT_EQ(Let("@x", kAssignAdd, "5"), 0);
    EXPECT_EQ(EvalInt("x[0] + x[1] + x[2]"), 15);
    // let @r = 9007199254740993 - 1 (an integer value, converted once).
    EXPECT_EQ(Let("@r", kAssignSet, "9007199254740993 - 1"), 0);
    for (double element : FindVariable(1001)->reals) EXPECT_EQ(element, 9007199254740992.0);
    // let @t = "new"
    EXPECT_EQ(Let("@t", kAssignSet, R"("new")"), 0);
    EXPECT_EQ(EvalText("t[0] + t[1]"), "newnew");
    ExpectClean();
}

TEST_F(VariablesTest, AssignToTexts) {
    TextVar("t", 1000, {2}, "abc");
    // let t[0] += "def"
    EXPECT_EQ(Let("t[0]", kAssignAdd, R"("def")"), 0);
    EXPECT_EQ(EvalText("t[0]"), "abcdef");
    // A join of 4000 and 200 bytes would reach 4096: the element stays.
    ScriptVariable& t = *FindVariable(1000);
    t.texts[1] = std::string(4000, 'a');
    TextVar("tail", 1001, {}, std::string(200, 'b'));
    EXPECT_EQ(Let("t[1]", kAssignAdd, "tail"), 0);
    EXPECT_EQ(t.texts[1], std::string(4000, 'a'));
    // let t[1] = "x"
    EXPECT_EQ(Let("t[1]", kAssignSet, R"("x")"), 0);
    EXPECT_EQ(t.texts[1], "x");
    ExpectClean();
    // Only = and += exist for texts.
    EXPECT_EQ(Let("t[1]", kAssignSubtract, R"("x")"), -1);
    ExpectFatal(101140);
}

TEST_F(VariablesTest, AssignmentFailures) {
    IntVar("x", 1000, {2});
    IntVar("undeclared_typeless", 1005);
    FindVariable(1005)->type = kVariableNone;
    struct Case {
        const char* what;
        std::vector<tools::ScriptArg> records;
        uint32_t error;
    };
    tools::ScriptArg outside = Arg(1, "1");
    outside.code_offset = 1000;
    std::vector<Case> cases = {
        {"no records", {}, 900030},
        {"no value record", {Arg(0, "x[0]")}, 900030},
        {"value outside the data", {Arg(0, "x[0]"), outside}, 900030},
        {"operator 9", {Arg(0, "x[0]", 1, 9), Arg(1, "1")}, 900030},
        {"operator 255", {Arg(0, "x[0]", 1, 255), Arg(1, "1")}, 900030},
        {"variable of no type", {Arg(0, "$1005"), Arg(1, "1")}, 101140},
    };
    for (const Case& c : cases) {
        ResetReports();
        EXPECT_EQ(Run(kCmdAssign, c.records), -1) << c.what;
        ExpectFatal(c.error);
        if (HasFailure()) {
            ADD_FAILURE() << c.what;
            return;
        }
    }
    // A target whose subscript fails writes nothing, not even into the
    // element an earlier expression named.
    ResetReports();
    EXPECT_EQ(EvalInt("x[1]"), 0);
    EXPECT_EQ(Let("x[2]", kAssignSet, "9"), -1);
    ExpectFatal(107010);
    EXPECT_EQ(FindVariable(1000)->integers, (std::vector<int64_t>{0, 0}));

    // An element outside the variable: nothing happens, and no error.
    ResetReports();
    ScriptVariable& x = *FindVariable(1000);
    for (int64_t e : {int64_t{-1}, int64_t{2}, (int64_t{1} << 32)}) {
        ASSERT_TRUE(ApplyAssignOperator(x, e, kAssignSet, int64_t{9}));
    }
    EXPECT_EQ(x.integers, (std::vector<int64_t>{0, 0}));
    ExpectClean();
}

TEST_F(VariablesTest, AssignToSystemVariables) {
    IntVar("key", 150);
    RealVar("pi", 10);
    RealVar("ref_real", 51);
    RealVar("arg_real", 54);
    TextVar("folder", 129);
    // Until the system variables are installed every integer or text write
    // is a write to a read-only variable. So is a real write to the two
    // numbers that would store the value (it cannot be stored, and is not
    // lost silently); any other real write does nothing, silently.
    struct Case {
        const char* target;
        const char* value;
        int32_t result;
        uint32_t error;  // 0: none
    };
    const Case cases[] = {
        {"key", "5", -1, 101150},
        {"folder", R"("x")", -1, 101150},
        {"ref_real", "5", -1, 101150},
        {"arg_real", "5", -1, 101150},
        {"pi", "5", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        ResetReports();
        EXPECT_EQ(Let(c.target, kAssignSet, c.value), c.result);
        if (c.error != 0) {
            ExpectFatal(c.error);
        } else {
            ExpectClean();
        }
    }
    // A whole system variable: nothing.
    ResetReports();
    EXPECT_EQ(Let("@key", kAssignSet, "5"), 0);
    ExpectClean();

    // The installed writer gets the element, the operator and the value in
    // the record's type.
    static int64_t written = 0;
    static uint8_t written_op = 0;
    SystemVariableAccess().write_integer = [](uint32_t, int64_t, uint8_t op, int64_t value) {
        written = value;
        written_op = op;
        return 0;
    };
    EXPECT_EQ(Let("key", kAssignMultiply, "2.9 + 2.9", 2), 0);
    EXPECT_EQ(written, 5);
    EXPECT_EQ(written_op, kAssignMultiply);
}

TEST_F(VariablesTest, Declarations) {
    symbols_["x"] = 1000;
    symbols_["r"] = 1001;
    symbols_["t"] = 1002;
    FindVariable(1000)->group = 3;
    // int x[3, 4] = 6
    EXPECT_EQ(Declare(kCmdDeclareInteger, "x[3, 4]", "6"), 0);
    ExpectClean();
    const ScriptVariable& x = *FindVariable(1000);
    EXPECT_EQ(x.type, kVariableInteger);
    EXPECT_EQ(x.dimension_count, 2);
    EXPECT_EQ(x.element_count, 12u);
    EXPECT_EQ(x.group, 3);  // kept
    // let x[2, 1] = 44: flat index 9.
    EXPECT_EQ(Let("x[2, 1]", kAssignSet, "44"), 0);
    EXPECT_EQ(x.integers[9], 44);
    // Re-declared larger, as another type: the sizes are not checked
    // against the old ones.
    EXPECT_EQ(Declare(kCmdDeclareReal, "x[5, 6, 2]", "1 / 4", 2), 0);
    EXPECT_EQ(x.type, kVariableReal);
    EXPECT_EQ(x.element_count, 60u);
    EXPECT_TRUE(x.integers.empty());
    EXPECT_EQ(EvalReal("x[4, 5, 1]"), 0.25);
    // real r = 9007199254740993: an integer-typed value is evaluated in
    // integer arithmetic and converted once.
    EXPECT_EQ(Declare(kCmdDeclareReal, "r", "9007199254740993 - 1"), 0);
    EXPECT_EQ(FindVariable(1001)->reals[0], 9007199254740992.0);
    EXPECT_EQ(FindVariable(1001)->dimension_count, 0);
    // str t[2] = "a" + "b"
    EXPECT_EQ(Declare(kCmdDeclareText, "t[2]", R"("a" + "b")"), 0);
    EXPECT_EQ(EvalText("t[0] + t[1]"), "abab");
    // A declaration without a value record starts at 0.
    EXPECT_EQ(Run(kCmdDeclareInteger, {Arg(0, "x[2]")}), 0);
    EXPECT_EQ(x.integers, (std::vector<int64_t>{0, 0}));
    ExpectClean();
}

TEST_F(VariablesTest, DeclarationSizeErrors) {
    symbols_["x"] = 1000;
    IntVar("x", 1000, {2}, 7);
    struct Case {
        const char* target;
        uint32_t error;
        const char* message;
    };
    const Case cases[] = {
        {"x[2001, 2000]", 101100, "E101100|4000000||||"},
        {"x[4000001]", 101100, nullptr},
        {"x[100000, 100000]", 101100, nullptr},
        {"x[65536, 65536, 65536]", 101100, nullptr},  // the product overflows 32 and 64 bits
        {"x[0]", 101110, nullptr},
        {"x[3, 0]", 101110, nullptr},
        {"x[-2, -3]", 101110, nullptr},  // two negative sizes must not pass as 6
        {"x[1, 1, 1, 1, 1, 1, 1, 1, 1]", 107020, nullptr},
        {"$1101[2]", 108010, nullptr},
    };
    for (const Case& c : cases) {
        ResetReports();
        EXPECT_EQ(Declare(kCmdDeclareInteger, c.target, "1"), -1) << c.target;
        ExpectFatal(c.error);
        if (c.message != nullptr) {
            EXPECT_EQ(LastMessage(), c.message);
        }
        // A failed declaration leaves the variable as it was.
        const ScriptVariable& x = *FindVariable(1000);
        EXPECT_EQ(x.integers, (std::vector<int64_t>{7, 7})) << c.target;
        EXPECT_EQ(x.dimension_count, 1) << c.target;
        EXPECT_EQ(x.sizes[0], 2) << c.target;
    }
    // A size is the subscript's low 32 bits.
    ResetReports();
    EXPECT_EQ(Declare(kCmdDeclareInteger, "x[4294967298]", "1"), 0);
    EXPECT_EQ(FindVariable(1000)->element_count, 2u);
    ExpectClean();
}

TEST_F(VariablesTest, ElementAccess) {
    IntVar("i", 1000, {3}, 4);
    RealVar("r", 1001, {3}, 2.5);
    TextVar("t", 1002, {3}, "abc");
    EXPECT_EQ(GetIntegerElement(1000, 2), 4);
    EXPECT_EQ(GetRealElement(1001, 2), 2.5);
    ASSERT_NE(GetStringElement(1002, 2), nullptr);
    EXPECT_EQ(*GetStringElement(1002, 2), "abc");
    // Out of range, another type or a number beyond the table: 0, 0.0, none.
    for (int64_t e : {int64_t{-1}, int64_t{3}, int64_t{1} << 32, kMin}) {
        EXPECT_EQ(GetIntegerElement(1000, e), 0) << e;
        EXPECT_EQ(GetRealElement(1001, e), 0.0) << e;
        EXPECT_EQ(GetStringElement(1002, e), nullptr) << e;
        EXPECT_EQ(SetNumberElement(1000, e, 1), -1) << e;
        EXPECT_EQ(SetStringElement(1002, e, "x"), -1) << e;
    }
    EXPECT_EQ(GetIntegerElement(1001, 0), 0);
    EXPECT_EQ(GetRealElement(1000, 0), 0.0);
    EXPECT_EQ(GetStringElement(1000, 0), nullptr);
    EXPECT_EQ(GetIntegerElement(60000, 0), 0);
    EXPECT_EQ(SetNumberElement(60000, 0, 1), -1);
    ExpectClean();
    // A real element takes an integer as a double.
    EXPECT_EQ(SetNumberElement(1001, 1, 3), 0);
    EXPECT_EQ(GetRealElement(1001, 1), 3.0);
    // Texts stop at their first NUL; the buffer-form store keeps the bytes.
    EXPECT_EQ(SetStringElement(1002, 0, std::string_view("ab\0cd", 5)), 0);
    EXPECT_EQ(*GetStringElement(1002, 0), "ab");
    ExpectClean();
    // Wrong type: 101140.
    EXPECT_EQ(SetNumberElement(1002, 0, 1), -1);
    ExpectFatal(101140);
    ResetReports();
    EXPECT_EQ(SetStringElement(1000, 0, "x"), -1);
    ExpectFatal(101140);
}

TEST_F(VariablesTest, LongTextsKeepTheirLength) {
    // Text lengths are not kept in 16 bits: a 70000-byte text stays whole.
    std::string text(70000, 'q');
    ScriptVariable& t = TextVar("t", 1000, {2}, text);
    EXPECT_EQ(t.texts[1].size(), 70000u);
    EXPECT_EQ(StoreStringElement(1000, 0, std::string(65536, 'r')), 0);
    EXPECT_EQ(t.texts[0].size(), 65536u);
    EXPECT_EQ(StoreStringElement(1000, 0, "s"), 0);
    EXPECT_EQ(*GetStringElement(1000, 0), "s");
    ExpectClean();
}

TEST_F(VariablesTest, SystemTextIsStoredIntoItsOwnElement) {
    SystemVariableAccess().read_text = [](uint32_t number, std::span<char> out, int64_t element) -> size_t {
        int n = std::snprintf(out.data(), out.size(), "v%u.%lld", number, static_cast<long long>(element));
        return static_cast<size_t>(n);
    };
    TextVar("word", 12, {9});
    const std::string* text = GetStringElement(12, 3);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(*text, "v12.3");
    EXPECT_EQ(FindVariable(12)->texts[3], "v12.3");
    // A reader that claims more than it wrote is held to the buffer.
    SystemVariableAccess().read_text = [](uint32_t, std::span<char> out, int64_t) -> size_t {
        std::memcpy(out.data(), "ok", 3);
        return 100000;
    };
    EXPECT_EQ(*GetStringElement(12, 4), "ok");
}

TEST_F(VariablesTest, FillsCheckTheirCount) {
    ScriptVariable& v = IntVar("v", 1000, {3}, 1);
    ScriptVariable copy = v;
    EXPECT_EQ(FillRealVariable(v, Shape({2001, 2000}), 1.0), -1);
    ExpectFatal(101100);
    EXPECT_EQ(v.type, kVariableInteger);
    EXPECT_EQ(v.integers, copy.integers);
    ResetReports();
    // A shape that was set without elements reads nothing.
    SetVariableShape(v, kVariableInteger, Shape({5}));
    EXPECT_EQ(GetIntegerElement(1000, 0), 0);
    EXPECT_EQ(EvalInt("$1000[4]"), 0);
    ExpectClean();
    // Four million text copies of a long text are refused as out of memory
    // rather than asked of the system.
    EXPECT_EQ(FillStringVariable(v, Shape({4000000}), std::string(1000, 'x')), -1);
    EXPECT_EQ(Reports(), 1u);
    EXPECT_EQ(LastMessage(), std::string(LookupErrorText(100010)));
    EXPECT_EQ(v.type, kVariableInteger);
    EXPECT_TRUE(v.texts.empty());
}

}  // namespace
}  // namespace zk::evaluator_test
