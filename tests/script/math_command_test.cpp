// Command 60 on readable scripts, and the pieces it is made of: the
// engine's MT19937, CRC-32, the random range and the integer text reader.
#include <cmath>
#include <numbers>

#include "base/hashes.h"
#include "base/mt19937.h"
#include "script/math_command.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

TEST(MathPiecesTest, PublishedGeneratorAndChecksumValues) {
    Mt19937 generator;
    generator.Seed(5489);
    EXPECT_EQ(generator.Next(), 3499211612u);
    for (int i = 2; i < 10000; ++i) generator.Next();
    EXPECT_EQ(generator.Next(), 4123659995u) << "the 10000th output";

    const std::string_view check = "123456789";
    EXPECT_EQ(Crc32(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(check.data()), check.size())), 0xCBF43926u);
}

TEST(MathPiecesTest, IntegerTextExpressions) {
    struct Case {
        std::string text;
        int64_t expected;
    };
    const Case cases[] = {
        {"1+2*3", 7},        {"-(2+3)*2", -10},  {"7/0", 7},        {"7%0", 7},         {"(1+2", 3},
        {"10-3-2", 5},       {"2*-3", -3},       {"5*", 5},         {"2*x", 0},         {"7 x", 7},
        {" 1 +\t2 ", 3},     {"-7/2", -3},       {"-7%3", -1},      {"7%-3", 4},        {"+4", 4},
        {"", 0},             {"3\n+4", 3},       {"((2))*(3)", 6},  {"12 34", 12},      {"4-", 4},
        // A number beyond 64 bits wraps; the smallest integer divided by -1 wraps too.
        {"18446744073709551617", 1},  {"9223372036854775807+1", INT64_MIN},
        {"0-9223372036854775807-1", INT64_MIN},  {"(0-9223372036854775807-1)/(0-1)", INT64_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(EvalIntegerText(c.text), c.expected) << c.text;

    // Only the first 1023 bytes are read: the 1024th digit is never seen.
    std::string long_text(1022, ' ');
    long_text += "12";
    EXPECT_EQ(EvalIntegerText(long_text), 1);
    // Deep nesting of a full input neither overflows the stack nor reads past it.
    EXPECT_EQ(EvalIntegerText(std::string(5000, '(') + "5"), 0) << "the 5 lies past the input";
    EXPECT_EQ(EvalIntegerText(std::string(1000, '(') + "5"), 5);
}

// The whole 2^64 span wrapped b - a + 1 to 0 and divided by it; ranges wider
// than 2^63 overflowed the signed sum.
TEST(MathPiecesTest, RandomRangesNeverDivideByZeroOrOverflow) {
    EXPECT_EQ(RandomInRange(10, 1, 0), 1);
    EXPECT_EQ(RandomInRange(10, 1, 9), 10);
    EXPECT_EQ(RandomInRange(10, 1, 10), 1);
    EXPECT_EQ(RandomInRange(5, 5, 123456), 5);
    EXPECT_EQ(RandomInRange(-3, 3, 0xFFFFFFFFu), -3 + static_cast<int64_t>(0xFFFFFFFFu % 7));
    EXPECT_EQ(RandomInRange(INT64_MIN, INT64_MAX, 77), INT64_MIN) << "the whole span gives a";
    EXPECT_EQ(RandomInRange(INT64_MAX, INT64_MIN, 77), INT64_MIN);
    EXPECT_EQ(RandomInRange(INT64_MIN, 0, 0xFFFFFFFFu), INT64_MIN + 0xFFFFFFFFll);
    EXPECT_EQ(RandomInRange(-1, INT64_MAX, 5), 4);
}

class MathCommandTest : public script_test::RunOnceTest {
protected:
    int Run(std::string_view body) { return RunOnceTest::Run("int i\nreal r\nstr s\nint many[50]\n", body); }
};

TEST_F(MathCommandTest, OptionsStoreTheirResults) {
    struct Case {
        std::string command;  // into r (a real) unless it names i
        double expected;
    };
    const double pi = std::numbers::pi;
    const Case cases[] = {
        {"math result=r, x=0.5, sin=1", std::sin(0.5)},
        {"math result=r, x=0.5, cos=1", std::cos(0.5)},
        {"math result=r, x=0.5, tan=1", std::tan(0.5)},
        {"math result=r, x=0.5, asin=1", std::asin(0.5)},
        {"math result=r, x=0.5, acos=1", std::acos(0.5)},
        {"math result=r, x=0.5, sinh=1", std::sinh(0.5)},
        {"math result=r, x=0.5, cosh=1", std::cosh(0.5)},
        {"math result=r, x=0.5, tanh=1", std::tanh(0.5)},
        {"math result=r, x=0.5, atan=1", std::atan(0.5)},
        {"math result=r, x=1, y=0, atan2=1", pi / 2},
        {"math result=r, x=7 / 2, real=1", 3.0},  // integer arithmetic first
        {"math result=r, x=7.0 / 2, real=1", 3.5},
        {"math result=r, x=0 - 3, abs=1", 3.0},
        {"math result=r, x=0 - 2.5, abs=1", 2.5},
        {"math result=r, x=1, exp=1", std::exp(1.0)},
        {"math result=r, x=10, log=1", std::log(10.0)},
        {"math result=r, x=1000, log10=1", 3.0},
        {"math result=r, x=2, y=10, pow=1", 1024.0},
        {"math result=r, x=2, y=0.5, pow=1", std::sqrt(2.0)},
        // sin reads its operand in double arithmetic even when it is an
        // integer expression; tan in the operand's own arithmetic.
        {"math result=r, x=3 / 2, sin=1", std::sin(1.5)},
        {"math result=r, x=3 / 2, tan=1", std::tan(1.0)},
        // Options 4 and 14 together: 4 runs.
        {"math result=r, x=0.5, real=1, sin=1", std::sin(0.5)},
        {"math result=r, text=\"123456789\", crc=1", static_cast<double>(0xCBF43926u)},
        {"math result=r, text=\"\", crc=1", 0.0},
        {"math result=r, text=\"1+2*3\", eval=1", 7.0},
        // An integer element takes the result truncated toward zero.
        {"math result=i, x=10, log=1", 2.0},
        {"math result=i, x=0 - 2.5, abs=1", 2.0},
        {"math result=i, text=\"2*-3\", eval=1", -3.0},
        {"math result=i, x=0.5, asin=1, real=1", 0.0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Run(c.command), 0) << c.command;
        const bool integer = c.command.find("result=i") != std::string::npos;
        if (integer) {
            EXPECT_EQ(Int("i"), static_cast<int64_t>(c.expected)) << c.command;
        } else {
            EXPECT_DOUBLE_EQ(Real("r"), c.expected) << c.command;
        }
        EXPECT_EQ(Reports(), 0u) << c.command;
    }
    // No option: nothing happens. A logarithm of 0 stores what the library gives.
    ASSERT_EQ(Run("r = 5.0\nmath result=r, x=3"), 0);
    EXPECT_EQ(Real("r"), 5.0);
    ASSERT_EQ(Run("math result=r, x=0, log=1"), 0);
    EXPECT_TRUE(std::isinf(Real("r")));
}

TEST_F(MathCommandTest, RandomDrawsFromTheEngineGenerator) {
    SeedRandom(5489);
    ASSERT_EQ(Run("int k\nloop 50\n  math result=many[k], x=10, y=1, random=1\n  k += 1\nend\n"
                  "math result=i, x=4, y=4, random=1"),
              0);
    Mt19937 reference;
    reference.Seed(5489);
    for (int k = 0; k < 50; ++k) {
        const int64_t value = Int("many", k);
        EXPECT_GE(value, 1);
        EXPECT_LE(value, 10);
        EXPECT_EQ(value, 1 + static_cast<int64_t>(reference.Next() % 10)) << k;
    }
    EXPECT_EQ(Int("i"), 4);
}

TEST_F(MathCommandTest, ATextResultIsRefused) {
    EXPECT_EQ(Run("math result=s, x=1, sin=1"), 1);
    EXPECT_EQ(LastCode(), kErrWrongVariableType);
}

}  // namespace
}  // namespace zk
