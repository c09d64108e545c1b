// The expression evaluator: operators per arithmetic, the entries, texts and
// their conversions, variables with subscripts and prefixes, the reference
// readers, and byte code that breaks the rules (each must fail with its
// numbered report and never read or write out of bounds).
#include <cmath>
#include <cstring>
#include <limits>

#include "evaluator_test_support.h"
#include "base/sjis.h"
#include "script/expr_opcodes.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/expr_disassembler.h"

namespace zk::evaluator_test {
namespace {

using tools::ExprAssembler;

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

class ExprEvalTest : public EvaluatorTest {};

struct IntCase {
    const char* source;
    int64_t expected;
};

TEST_F(ExprEvalTest, IntegerOperators) {
    const IntCase cases[] = {
        {"2 + 3 * 4", 14},
        {"(2 + 3) * 4", 20},
        {"7 / 2", 3},
        {"-7 / 2", -3},
        {"7 / 0", 0},
        {"-7 % 3", -1},
        {"7 % -3", 1},
        {"7 % 0", 0},
        {"0x7FFFFFFFFFFFFFFF + 1", kMin},
        {"-9223372036854775808 - 1", kMax},
        {"0x4000000000000000 * 4", 0},
        // The quotient and remainder that trap on the processor.
        {"-9223372036854775808 / -1", kMin},
        {"-9223372036854775808 % -1", 0},
        {"-(-9223372036854775808)", kMin},
        {"12 & 10", 8},
        {"12 | 10", 14},
        {"12 ^ 10", 6},
        {"3 && 0", 0},
        {"3 && -1", 1},
        {"0 || 0", 0},
        {"0 || 5", 1},
        {"3 == 3", 1},
        {"3 != 3", 0},
        {"-1 < 0", 1},
        {"-1 > 0", 0},
        {"4 >= 4", 1},
        {"5 <= 4", 0},
        // A real literal in integer arithmetic truncates toward zero.
        {"2.9", 2},
        {"-2.9", -2},
        {"2.9 + 2.9", 4},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(EvalInt(c.source), c.expected) << c.source;
    }
    ExpectClean();
}

struct RealCase {
    const char* source;
    double expected;
};

TEST_F(ExprEvalTest, RealOperators) {
    const RealCase cases[] = {
        {"1 / 4", 0.25},
        {"7.5 / 0", 0.0},
        {"7.5 - 0.25 * 2", 7.0},
        // Remainder and the bit operators keep a in double arithmetic.
        {"7.5 % 2", 7.5},
        {"12 & 10", 12.0},
        {"12 | 10", 12.0},
        {"12 ^ 10", 12.0},
        {"0.5 && 0.25", 1.0},
        {"0 || 0.0", 0.0},
        {"2.5 > 2", 1.0},
        {"-(2.5)", -2.5},
    };
    for (const RealCase& c : cases) {
        EXPECT_EQ(EvalReal(c.source), c.expected) << c.source;
    }
    ExpectClean();
}

TEST_F(ExprEvalTest, NanComparisonsFollowUnorderedRules) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        uint8_t op;
        double expected;
    };
    // With a NaN operand '=', '<' and '<=' hold; '!=', '>' and '>=' do not.
    const Case cases[] = {{kOpEqual, 1.0}, {kOpLess, 1.0},    {kOpLessEqual, 1.0},
                          {kOpNotEqual, 0.0}, {kOpGreater, 0.0}, {kOpGreaterEqual, 0.0}};
    for (const Case& c : cases) {
        std::vector<uint8_t> code = ExprAssembler().Real(nan).Real(1.0).Op(c.op).Take();
        EXPECT_EQ(EvalRealExpr(code).real, c.expected) << static_cast<char>(c.op);
    }
    ExpectClean();
}

TEST_F(ExprEvalTest, EntriesPickResultAndArithmetic) {
    // 2^53 + 1 is exact in integer arithmetic and not in double arithmetic.
    std::vector<uint8_t> code = Code("9007199254740993 - 1");
    EXPECT_EQ(EvaluateExpr(1, code).integer, 9007199254740992);
    EXPECT_EQ(EvaluateExpr(6, code).real, 9007199254740992.0);  // converted once at the end
    EXPECT_EQ(EvaluateExpr(7, code).real, 9007199254740991.0);  // 2^53 + 1 rounds to 2^53 first
    // Types 2 and 4 compute in doubles and truncate toward zero at the end.
    EXPECT_EQ(EvaluateExpr(2, Code("2.9 + 2.9")).integer, 5);
    EXPECT_EQ(EvaluateExpr(4, Code("-2.9")).integer, -2);
    EXPECT_EQ(EvaluateExpr(3, Code("2.9 + 2.9")).integer, 4);
    for (uint32_t type : {9u, 11u, 12u, 13u, 14u}) EXPECT_EQ(EvaluateExpr(type, Code("1 / 4")).real, 0.25) << type;
    EXPECT_EQ(EvaluateExpr(8, Code("1 / 4")).real, 0.0);
    EXPECT_EQ(EvalText("str(1 / 4)", 19), "0.250000");
    EXPECT_EQ(EvalText("str(1 / 4)", 17), "0");
    ExpectClean();
}

TEST_F(ExprEvalTest, DoubleToIntegerOutsideTheRangeGivesInt64Min) {
    const double inputs[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), 1e19, -1e19, 9223372036854775808.0};
    for (double input : inputs) {
        std::vector<uint8_t> code = ExprAssembler().Real(input).Take();
        EXPECT_EQ(EvaluateExpr(2, code).integer, kMin) << input;  // at the end of double arithmetic
        EXPECT_EQ(EvaluateExpr(1, code).integer, kMin) << input;  // pushed into integer arithmetic
    }
    EXPECT_EQ(EvaluateExpr(2, ExprAssembler().Real(-9223372036854775808.0).Take()).integer, kMin);
    EXPECT_EQ(EvaluateExpr(2, ExprAssembler().Real(9223372036854774784.0).Take()).integer, 9223372036854774784);
    ExpectClean();
}

TEST_F(ExprEvalTest, TextJoinAndCompare) {
    EXPECT_EQ(EvalText(R"("abc" + "def")"), "abcdef");
    EXPECT_EQ(EvalInt(R"("abc" == "abc")"), 1);
    EXPECT_EQ(EvalInt(R"("abc" == "abd")"), 0);
    EXPECT_EQ(EvalInt(R"("abc" != "ab")"), 1);
    // In double arithmetic the comparison's result is a number too.
    EXPECT_EQ(EvalReal(R"("abc" == "abc")"), 1.0);
    ExpectClean();

    // A join that would reach 4096 bytes keeps the left text.
    symbols_["a"] = 1000;
    symbols_["b"] = 1001;
    TextVar("a", 1000, {}, std::string(3000, 'x'));
    TextVar("b", 1001, {}, std::string(1500, 'y'));
    EXPECT_EQ(EvalText("a + b"), std::string(3000, 'x'));
    TextVar("b", 1001, {}, std::string(1095, 'y'));
    EXPECT_EQ(EvalText("a + b"), std::string(3000, 'x') + std::string(1095, 'y'));
    ExpectClean();
}

TEST_F(ExprEvalTest, TextAndNumberMixedIsReported) {
    for (const char* source : {R"("a" + 1)", R"(1 + "a")", R"("1" == 1)", R"(1 != "1")"}) {
        ResetReports();
        std::string text = EvalText(source);
        ExpectFatal(160010);
        EXPECT_EQ(text, "") << source;  // an aborted run gives the empty text
    }
}

TEST_F(ExprEvalTest, TextEntryKeepsTheCallersBufferWhenTheRunAborts) {
    // The caller's buffer holds an earlier text. A run that aborts (with or
    // without a report) gives length 0 and leaves it; a run that ends on a
    // number writes the empty text; a text result replaces it.
    struct Case {
        const char* what;
        std::vector<uint8_t> code;
        uint32_t error;  // 0: no report
        std::string expected;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"text and number mixed", Code(R"("abc" + 1)"), 160010, "", true},
        {"not a number", Code(R"(num("12a"))"), 108210, "", true},
        {"0x without digits", ExprAssembler().Text("x").Op(kOpSeparator).Text("0x").Op(kOpToNumber).Take(), 0, "",
         true},
        {"unknown opcode after a text", ExprAssembler().Text("abc").Op('Q').Take(), 900030, "", true},
        {"number result", Code("1 + 2"), 0, "", false},
        {"text result", Code(R"("new")"), 0, "new", false},
    };
    for (uint32_t type : {16u, 19u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " (type " + std::to_string(type) + ")");
            ResetReports();
            std::vector<char> buffer(kExprTextSize, '\0');
            std::memcpy(buffer.data(), "earlier", 8);
            const ExprValue v = EvaluateExpr(type, c.code, buffer);
            EXPECT_EQ(v.text_length, c.expected.size());
            EXPECT_EQ(std::string(buffer.data()), c.kept ? "earlier" : c.expected);
            if (c.error != 0) {
                ExpectFatal(c.error);
            } else {
                ExpectClean();
            }
        }
    }
}

TEST_F(ExprEvalTest, NumberToText) {
    EXPECT_EQ(EvalText("str(12)"), "12");
    EXPECT_EQ(EvalText("str(-9223372036854775808)"), "-9223372036854775808");
    EXPECT_EQ(EvalText("str(2.5)", 19), "2.500000");
    EXPECT_EQ(EvalText("str(-0.0000004)", 19), "-0.000000");
    // "%f" of a huge double has 309 integer digits: far more than the old
    // 128-byte buffer held.
    std::vector<char> buffer(kExprTextSize);
    std::vector<uint8_t> code = ExprAssembler().Real(1e308).Op(kOpToText).Take();
    size_t length = EvalTextExprReal(code, buffer).text_length;
    EXPECT_EQ(length, 309u + 7u);
    EXPECT_EQ(std::string(buffer.data(), 8), "10000000");
    EXPECT_EQ(std::string(buffer.data() + length - 7, 7), ".000000");
    ExpectClean();
}

TEST_F(ExprEvalTest, TextToNumber) {
    struct Case {
        const char* text;
        int64_t integer;
        double real;
    };
    const Case cases[] = {
        {"0x1F", 31, 31.0},
        {"0xffffffffffffffff", -1, -1.0},
        {"0x10zz", 16, 16.0},  // the digits end the number; the rest is ignored
        {"1.5", 1, 1.5},
        {"-1.5", -1, -1.5},
        {"", 0, 0.0},
        {"--5", 0, 0.0},
        {"5-3", 5, 5.0},
        {"123", 123, 123.0},
        {"99999999999999999999", kMax, static_cast<double>(kMax)},
        {"-99999999999999999999", kMin, static_cast<double>(kMin)},
    };
    for (const Case& c : cases) {
        std::string source = std::string("num(\"") + c.text + "\")";
        EXPECT_EQ(EvalInt(source), c.integer) << c.text;
        EXPECT_EQ(EvalReal(source), c.real) << c.text;
    }
    ExpectClean();

    // Bytes other than digits, '.' and '-' are reported.
    EvalInt(R"(num("12a"))");
    ExpectFatal(108210);

    // "0x" with no digits or more than 16 aborts without a report.
    for (const char* text : {"0x", "0xg", "0x11111111111111111"}) {
        ResetReports();
        std::vector<uint8_t> code = ExprAssembler().Int(7).Op(kOpSeparator).Text(text).Op(kOpToNumber).Take();
        EXPECT_EQ(RunExprByteCode(code), -1) << text;
        ExpectClean();
    }
}

TEST_F(ExprEvalTest, TextLiteralEscapes) {
    struct Case {
        const char* body;  // after the delimiter '"'
        std::string expected;
    };
    const Case cases[] = {
        {R"(a\"b")", "a"},         // a delimiter after a backslash still ends the text
        {R"(a\\b")", "a\\b"},
        {R"(a\nb\tc")", "a\nb\tc"},
        {R"(a\qb")", "aqb"},      // any other escaped byte is kept
        {"abc", "abc"},           // no closing delimiter: the payload's end
        {R"(abc\)", "abc"},       // a last backslash is dropped
        {"ab\"cd\"", "ab"},
        // A double-byte character's trail byte is never an escape or a
        // delimiter ("ソ" is 0x83 0x5C, "ー" is 0x81 0x5B).
        {"\x83\\\x81[\"", "\x83\\\x81["},
        {"\x83\"x\"", "\x83\"x"},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(kExprTextSize);
        std::vector<uint8_t> code = ExprAssembler().TextPayload('"', c.body).Take();
        ExprValue v = EvalTextExpr(code, buffer);
        EXPECT_EQ(std::string(buffer.data(), v.text_length), c.expected) << c.body;
    }
    // The assembler's escaping round-trips any text.
    std::string all;
    for (int b = 1; b < 256; ++b) {
        // One byte left out, so the assembler has a delimiter to choose.
        if (!IsSjisLeadByte(static_cast<uint8_t>(b)) && b != '\'') all += static_cast<char>(b);
    }
    std::vector<char> buffer(kExprTextSize);
    ExprValue v = EvalTextExpr(ExprAssembler().Text(all).Take(), buffer);
    EXPECT_EQ(std::string(buffer.data(), v.text_length), all);
    ExpectClean();
}

TEST_F(ExprEvalTest, VariablesAndSubscripts) {
    ScriptVariable& m = IntVar("m", 1000, {3, 4});
    for (int64_t i = 0; i < 12; ++i) m.integers[static_cast<size_t>(i)] = 100 + i;
    RealVar("r", 1001, {}, 7.9);
    TextVar("t", 1002, {2}, "hi");
    IntVar("i", 1003, {2}, 1);
    EXPECT_EQ(EvalInt("m[2, 1]"), 109);  // row-major: 2 * 4 + 1
    EXPECT_EQ(LastExprReference().variable, 1000u);
    EXPECT_EQ(LastExprReference().element, 9);
    EXPECT_EQ(EvalInt("m[i[1] + 1, m[0, 0] - 97]"), 111);  // nested subscripts
    EXPECT_EQ(EvalInt("r"), 7);                            // truncated in integer arithmetic
    EXPECT_EQ(EvalReal("r + m[0, 1]"), 7.9 + 101);
    EXPECT_EQ(EvalText("t[1] + \"!\""), "hi!");
    // The '#' and '`' prefixes push the element's reference value.
    EXPECT_EQ(EvalInt("#m[2, 1]"), (int64_t{1000} << 32) + 9);
    EXPECT_EQ(EvalInt("`t[1]"), (int64_t{1002} << 32) + 1);
    EXPECT_EQ(LastExprReference().prefix, kPrefixKindGrave);
    EXPECT_EQ(EvalInt("@m"), 0);
    EXPECT_EQ(LastExprReference().whole_variable, 1);
    ExpectClean();
}

TEST_F(ExprEvalTest, SubscriptErrors) {
    IntVar("m", 1000, {3, 4});
    IntVar("s", 1001);
    struct Case {
        const char* source;
        uint32_t error;
    };
    const Case cases[] = {
        {"m[-1, 0]", 107010},
        {"m[3, 0]", 107010},
        {"m[0, 4]", 107010},
        {"m[0, 4294967296]", 107010},  // the full 64-bit value is checked
        {"m[1]", 107020},              // a missing subscript is not taken from earlier runs
        {"m[0, 0, 0]", 107010},        // a dimension the variable does not have is 0 wide
        {"s[0]", 107010},
        {"m[\"a\", 0]", 160010},
        {"$1101", 108010},
    };
    for (const Case& c : cases) {
        ResetReports();
        EvalInt(c.source);
        ExpectFatal(c.error);
    }
    // In the table but never declared: reads 0.
    ResetReports();
    EXPECT_EQ(EvalInt("$1100 + 1"), 1);
    ExpectClean();
    // Nine subscripts are more than any variable has.
    ResetReports();
    EvalInt("m[0, 0, 0, 0, 0, 0, 0, 0, 0]");
    ExpectFatal(107020);
}

TEST_F(ExprEvalTest, ReferenceReaders) {
    static std::vector<std::pair<uint32_t, int64_t>> reads;
    reads.clear();
    SystemVariableAccess().read_integer = [](uint32_t number, int64_t element) -> int64_t {
        reads.emplace_back(number, element);
        return 42;
    };
    IntVar("ref", 50, {1});  // the reader's own record: integer, one element
    ScriptVariable& y = IntVar("y", 1000, {5});
    IntVar("m", 1001, {3, 4});
    (void)y;

    // One subscript: the reference as it is.
    EXPECT_EQ(EvalInt("ref[#y[2]]"), 42);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0], std::make_pair(50u, (int64_t{1000} << 32) + 2));
    // Two subscripts: a variable reference and an element of it.
    EXPECT_EQ(EvalInt("ref[#y, 4]"), 42);
    EXPECT_EQ(reads.back().second, (int64_t{1000} << 32) + 4);
    // More: the rest are R's subscripts, row-major.
    EXPECT_EQ(EvalInt("ref[#m, 2, 3]"), 42);
    EXPECT_EQ(reads.back().second, (int64_t{1001} << 32) + 11);
    ExpectClean();

    struct Case {
        const char* source;
        uint32_t error;
    };
    const Case cases[] = {
        {"ref[#y, 5]", 107010},
        {"ref[#y, -1]", 107010},
        {"ref[#m, 3, 0]", 107010},
        {"ref[#m, 1, 1, 1]", 107020},
        {"ref[]", 107020},
        // A reference whose high half names no variable of the table.
        {"ref[0x7FFF00000000, 1]", 107010},
        {"ref[0x7FFF00000000, 1, 1]", 107010},
    };
    for (const Case& c : cases) {
        ResetReports();
        EvalInt(c.source);
        ExpectFatal(c.error);
    }
}

TEST_F(ExprEvalTest, SystemVariablesAreRead) {
    SystemVariableAccess().read_real = [](uint32_t, int64_t element) { return 0.5 + static_cast<double>(element); };
    SystemVariableAccess().read_text = [](uint32_t, std::span<char> out, int64_t) -> size_t {
        std::memcpy(out.data(), "sys", 4);
        return 3;
    };
    RealVar("pi", 10, {4});
    TextVar("word", 12, {9});
    EXPECT_EQ(EvalReal("pi[2]"), 2.5);
    EXPECT_EQ(EvalInt("pi[3]"), 3);
    EXPECT_EQ(EvalText("word[1] + \"!\""), "sys!");
    // A prefixed system variable reads 0.
    EXPECT_EQ(EvalInt("#pi[2]"), 0);
    ExpectClean();
}

TEST_F(ExprEvalTest, LongVariableTextIsCutToTheSlot) {
    // Texts from save data or files may be longer than a slot; the slot keeps
    // the first 4095 bytes and never splits a double-byte character.
    std::string text = std::string(4094, 'a') + "\x83\x41" + "tail";
    TextVar("t", 1000, {}, text);
    std::string result = EvalText("t");
    EXPECT_EQ(result, std::string(4094, 'a'));
    ExpectClean();
}

TEST_F(ExprEvalTest, ReferenceRecordOutlivesTheRun) {
    IntVar("x", 1000, {4});
    EvalInt("x[3]");
    // A run that names no variable keeps the last reference: commands that
    // write "the element just named" rely on it.
    EXPECT_EQ(EvalInt("5"), 5);
    EXPECT_EQ(LastExprReference().variable, 1000u);
    EXPECT_EQ(LastExprReference().element, 3);
    // An empty run gives a clean 0, not an earlier run's result.
    EXPECT_EQ(EvalIntExpr({}).integer, 0);
    EXPECT_EQ(EvalRealExpr({}).real, 0.0);
}

TEST_F(ExprEvalTest, FoldingModeStopsAtVariables) {
    IntVar("x", 1000);
    FillExprOpTable(0);
    for (const char* source : {"x", "x + 1", "@x"}) {
        ClearExprVariableMet();
        EXPECT_EQ(RunExprByteCode(Code(source)), -1) << source;
        EXPECT_TRUE(ExprVariableMet()) << source;
    }
    ClearExprVariableMet();
    std::vector<char> buffer(kExprTextSize);
    ExprValue v = EvalTextExpr(Code(R"("LA" + "BEL")"), buffer);
    EXPECT_EQ(std::string(buffer.data(), v.text_length), "LABEL");
    EXPECT_FALSE(ExprVariableMet());
    FillExprOpTable(1);
    ExpectClean();
}

TEST_F(ExprEvalTest, DeclaringLeavesSizesInTheSubscriptList) {
    IntVar("x", 1000, {2});
    IntVar("n", 1001, {}, 7);
    SetExprDeclaring(true);
    // Sizes beyond the old ones are not checked, and nothing is read.
    EvalInt("x[n + 1, 3]");
    SetExprDeclaring(false);
    ExpectClean();
    ASSERT_EQ(ExprSubscripts().size(), 2u);
    EXPECT_EQ(ExprSubscripts()[0], 8);
    EXPECT_EQ(ExprSubscripts()[1], 3);
    EXPECT_EQ(LastExprReference().variable, 1000u);
}

TEST_F(ExprEvalTest, UnknownEntryTypesAreReported) {
    for (uint32_t type : {0u, 5u, 10u, 15u, 20u, 255u, 256u, 1000u}) {
        ResetReports();
        std::vector<char> buffer(kExprTextSize, 'z');
        ExprValue v = EvaluateExpr(type, Code("1"), buffer);
        EXPECT_EQ(v.integer, 0);
        EXPECT_EQ(v.text_length, 0u);
        EXPECT_EQ(buffer[0], 'z');  // nothing ran: the caller's text is kept
        ExpectFatal(900030);
    }
}

// Byte code the compiler never writes: each case must end in one fatal
// report and leave memory alone (the sanitizer build checks the latter).
TEST_F(ExprEvalTest, MalformedByteCode) {
    IntVar("x", 1000, {4});
    auto op = [](uint8_t opcode) { return ExprAssembler().Op(opcode).Take(); };
    auto raw = [](uint8_t opcode, std::vector<uint8_t> payload) { return ExprAssembler().Raw(opcode, payload).Take(); };
    auto repeat = [](int times, std::vector<uint8_t> unit) {
        std::vector<uint8_t> code;
        for (int i = 0; i < times; ++i) code.insert(code.end(), unit.begin(), unit.end());
        return code;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> code;
        uint32_t error;
    };
    std::vector<Case> cases = {
        {"header cut after the opcode", {'B'}, 900030},
        {"header cut in the length", {'B', 1}, 900030},
        {"payload past the end", {'B', 2, 0, 1}, 900030},
        {"int8 without payload", raw('B', {}), 900030},
        {"int16 short", raw('W', {1}), 900030},
        {"int32 short", raw('I', {1, 2, 3}), 900030},
        {"int64 short", raw('L', {1, 2, 3, 4, 5, 6, 7}), 900030},
        {"real short", raw('F', {1, 2, 3, 4, 5, 6, 7}), 900030},
        {"variable short", raw('H', {0, 0xE8}), 900030},
        {"subscript short", raw('V', {0}), 900030},
        {"whole short", raw('v', {}), 900030},
        {"text without delimiter", raw('M', {}), 900030},
        {"unknown opcode", op('Q'), 900030},
        {"opcode zero", op(0), 900030},
        {"add on an empty stack", op('+'), 900030},
        {"add on one value", ExprAssembler().Int(1).Op('+').Take(), 900030},
        {"negate on an empty stack", op('R'), 900030},
        {"to text on an empty stack", op('s'), 900030},
        {"to number on an empty stack", op('i'), 900030},
        {"subscripts end without a start", op(')'), 900030},
        {"operator pops the placeholder", ExprAssembler().Int(1).Subscript(1000).Op('+').End().Take(), 900030},
        {"stack overflow", repeat(1025, ExprAssembler().Int(1).Take()), 900030},
        {"text pool exhausted", repeat(1024, ExprAssembler().Text("a").Take()), 900030},
        {"nesting too deep", repeat(128, ExprAssembler().Subscript(1000).Take()), 900030},
        {"literal of 4096 bytes", ExprAssembler().Text(std::string(4096, 'a')).Take(), 900030},
        {"variable beyond the table", ExprAssembler().Var(5000).Take(), 108010},
        {"subscripted beyond the table", ExprAssembler().Subscript(5000).Int(0).End().Take(), 108010},
        {"whole beyond the table", ExprAssembler().Whole(5000).Take(), 108010},
    };
    for (const Case& c : cases) {
        for (uint32_t type : {1u, 7u, 16u}) {
            ResetReports();
            std::vector<char> buffer(kExprTextSize, 'z');
            EvaluateExpr(type, c.code, buffer);
            ExpectFatal(c.error);
            EXPECT_TRUE(LastExprAborted()) << c.what;
            if (type == 16) {
                EXPECT_EQ(buffer[0], 'z') << c.what;  // left as it was
            }
            if (HasFailure()) {
                ADD_FAILURE() << c.what << " (type " << type << ")\n" << tools::DisassembleExpr(c.code);
                return;
            }
        }
    }
    // The limits themselves are fine: 1024 positions, 1023 texts, 127 levels,
    // a literal of 4095 bytes.
    ResetReports();
    EXPECT_EQ(RunExprByteCode(repeat(1024, ExprAssembler().Int(1).Take())), 0);
    EXPECT_EQ(RunExprByteCode(repeat(1023, ExprAssembler().Text("a").Take())), 0);
    EXPECT_EQ(RunExprByteCode(ExprAssembler().Text(std::string(4095, 'a')).Take()), 0);
    ExpectClean();
}

TEST_F(ExprEvalTest, DeepestNestingEvaluates) {
    IntVar("x", 1000, {4}, 0);
    // x[x[x[...x[0]...]]] with 127 levels: every element is 0.
    ExprAssembler code;
    for (int i = 0; i < 127; ++i) code.Subscript(1000);
    code.Int(0);
    for (int i = 0; i < 127; ++i) code.End();
    EXPECT_EQ(EvalIntExpr(code.Code()).integer, 0);
    ExpectClean();
}

TEST_F(ExprEvalTest, DisassemblerShowsEachInstruction) {
    IntVar("x", 1000, {4});
    std::string listing = tools::DisassembleExpr(Code(R"(#x[2] + 1.5 == "a")"));
    EXPECT_EQ(listing, "subscript #1000\nint8 2\nend\nreal 1.5\nadd\ntext \"a\"\neq\n");
    EXPECT_EQ(tools::DisassembleExpr(std::vector<uint8_t>{'Q', 0, 0, 'B', 1}), "<unknown 0x51>\n<truncated header>\n");
}

}  // namespace
}  // namespace zk::evaluator_test
