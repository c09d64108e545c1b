// FormatBounded: the bounded formatter for error texts written by others.
#include "base/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace zk {
namespace {

struct FormatCase {
    std::string format;
    std::vector<FormatArg> args;
    std::string expected;
    size_t limit = 1023;
};

std::string FormatCaseResult(const FormatCase& c) { return FormatBounded(c.format, std::span<const FormatArg>(c.args), c.limit); }

TEST(FormatBoundedTest, Table) {
    using sv = std::string_view;
    const std::vector<FormatCase> cases = {
        // Plain text and %%.
        {"plain text", {}, "plain text"},
        {"100%%", {}, "100%"},
        {"%5%", {}, "%"},
        // Integers.
        {"%d", {int64_t{42}}, "42"},
        {"%i", {int64_t{-7}}, "-7"},
        {"%5d|", {int64_t{42}}, "   42|"},
        {"%-5d|", {int64_t{42}}, "42   |"},
        {"%05d", {int64_t{-42}}, "-0042"},
        {"%+d % d", {int64_t{5}, int64_t{5}}, "+5  5"},
        {"%.3d", {int64_t{7}}, "007"},
        {"%08.3d", {int64_t{7}}, "     007"},  // a precision turns '0' off
        {"[%.0d]", {int64_t{0}}, "[]"},
        {"%d", {std::numeric_limits<int64_t>::min()}, "-9223372036854775808"},
        {"%d", {std::numeric_limits<uint64_t>::max()}, "18446744073709551615"},
        {"%u", {int64_t{123}}, "123"},
        {"%u", {int64_t{-1}}, "4294967295"},  // a 32-bit value's pattern
        {"%x %X", {int64_t{255}, int64_t{255}}, "ff FF"},
        {"%#x %#X %#x", {int64_t{255}, int64_t{255}, int64_t{0}}, "0xff 0XFF 0"},
        {"%08x", {int64_t{255}}, "000000ff"},
        {"%x", {int64_t{-1}}, "ffffffff"},
        {"%x", {int64_t{-5000000000}}, "fffffffed5fa0e00"},
        {"%o %#o", {int64_t{8}, int64_t{8}}, "10 010"},
        {"%p", {int64_t{255}}, "000000FF"},
        {"%lld %I64d %ld %hd %hhd %I32d", {int64_t{1}, int64_t{2}, int64_t{3}, int64_t{4}, int64_t{5}, int64_t{6}},
         "1 2 3 4 5 6"},
        // Characters: the low byte.
        {"%c", {int64_t{'A'}}, "A"},
        {"%c", {int64_t{0x141}}, "A"},
        {"%3c|%-3c|", {int64_t{'x'}, int64_t{'y'}}, "  x|y  |"},
        {"[%c]", {int64_t{0}}, "[]"},
        // Texts.
        {"%s", {sv("abc")}, "abc"},
        {"%-5s|", {sv("ab")}, "ab   |"},
        {"%5s|", {sv("ab")}, "   ab|"},
        {"%.2s", {sv("abcd")}, "ab"},
        {"%.2s", {sv("\x82\xa0\x82\xa2")}, "\x82\xa0"},  // whole characters only
        {"%.1s|", {sv("\x82\xa0")}, "|"},
        // Floating point.
        {"%f", {2.5}, "2.500000"},
        {"%05.1f", {3.14159}, "003.1"},
        {"%05.1f", {-1.26}, "-01.3"},
        {"%-7.2f|", {1.5}, "1.50   |"},
        {"%+.1f", {1.0}, "+1.0"},
        {"%e", {12345.678}, "1.234568e+04"},
        {"%E", {12345.678}, "1.234568E+04"},
        {"%g %G", {0.0001, 1e20}, "0.0001 1E+20"},
        {"%05f", {std::numeric_limits<double>::infinity()}, "  inf"},
        // Stars.
        {"%*d", {int64_t{5}, int64_t{42}}, "   42"},
        {"%-*d|", {int64_t{4}, int64_t{7}}, "7   |"},
        {"%*d|", {int64_t{-4}, int64_t{7}}, "7   |"},  // a negative width left-justifies
        {"%.*f", {int64_t{2}, 3.14159}, "3.14"},
        {"%.*f", {int64_t{-1}, 1.0}, "1.000000"},  // a negative precision is as if omitted
        {"[%*d]", {}, "[]"},
        {"[%*d]", {int64_t{5}}, "[]"},          // the 5 is the width; no value is left
        {"[%*s]", {sv("x"), sv("ab")}, "[ab]"},  // a text as a width counts as 0
        // Missing arguments print nothing, not even padding.
        {"a%db", {}, "ab"},
        {"[%5d][%-5s]", {}, "[][]"},
        {"%s%s%s", {sv("x")}, "x"},
        // Mismatched kinds.
        {"%s", {int64_t{12}}, "12"},
        {"%s", {uint64_t{12}}, "12"},
        {"%s", {2.5}, "2.5"},
        {"%5s|", {int64_t{-3}}, "   -3|"},
        {"[%d]", {sv("text")}, "[]"},
        {"[%5d]", {sv("text")}, "[]"},
        {"%d|%s", {sv("t"), sv("u")}, "|u"},  // the text is used up by %d
        {"[%c][%x][%f]", {sv("a"), sv("b"), sv("c")}, "[][][]"},
        {"%d %d", {2.9, -2.9}, "2 -2"},
        {"%d", {std::nan("")}, "0"},
        {"%d", {1e300}, "9223372036854775807"},
        {"%f", {int64_t{2}}, "2.000000"},
        {"%x", {2.0}, "2"},
        // Anything else is copied as written, using no argument.
        {"%y%d", {int64_t{7}}, "%y7"},
        {"%n%d", {int64_t{7}}, "%n7"},
        {"%S|%C|%a", {int64_t{1}}, "%S|%C|%a"},
        {"%-5.3y", {}, "%-5.3y"},
        {"50%", {}, "50%"},
        {"end %-5", {int64_t{1}}, "end %-5"},
        {"end %l", {int64_t{1}}, "end %l"},
        {"%", {}, "%"},
        // Extra arguments are ignored.
        {"%d", {int64_t{1}, int64_t{2}}, "1"},
        // Double-byte text passes through.
        {"\x82\xa0%s\x82\xa2", {sv("z")}, "\x82\xa0z\x82\xa2"},
        // Limit cutting.
        {"abcdef", {}, "abc", 3},
        {"%s", {sv("hello")}, "hell", 4},
        {"%10d", {int64_t{1}}, "     ", 5},
        {"%-10d|", {int64_t{1}}, "1    ", 5},
        {"a\x82\xa0", {}, "a", 2},  // never half a character
        {"a\x82\xa0", {}, "a\x82\xa0", 3},
        {"abc", {}, "", 0},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatCaseResult(c), c.expected) << "format: \"" << c.format << "\" limit " << c.limit;
    }
}

TEST(FormatBoundedTest, FormatFullOfConversionsWithoutArguments) {
    std::string format;
    for (int i = 0; i < 5000; ++i) format += "%s%d%x%f%c%p%*.*s";
    EXPECT_EQ(FormatBounded(format, {}), "");
}

TEST(FormatBoundedTest, ManyConversionsStopAtTheLimit) {
    std::string format;
    for (int i = 0; i < 5000; ++i) format += "%s";
    std::string text(100, 'q');
    std::vector<FormatArg> args(5000, std::string_view(text));
    std::string out = FormatBounded(format, std::span<const FormatArg>(args), 1023);
    EXPECT_EQ(out, std::string(1023, 'q'));
}

TEST(FormatBoundedTest, HugeWidthsAndPrecisionsAreBounded) {
    EXPECT_EQ(FormatBounded("%999999999999999999999d", {int64_t{1}}), std::string(1023, ' '));
    EXPECT_EQ(FormatBounded("%.999999999d", {int64_t{1}}), std::string(1023, '0'));
    EXPECT_EQ(FormatBounded("%*d", {std::numeric_limits<int64_t>::min(), int64_t{1}}, 10), "1         ");
    // Floating precisions stop at 512 digits: 309 digits, the point, 512.
    std::string big = FormatBounded("%.99999f", {1e308});
    EXPECT_EQ(big.size(), 309u + 1 + 512);
    EXPECT_EQ(big.substr(0, 4), "1000");
}

TEST(FormatBoundedTest, CutLength) {
    EXPECT_EQ(CutLength("abc", 5), 3u);
    EXPECT_EQ(CutLength("abc", 2), 2u);
    EXPECT_EQ(CutLength("a\x82\xa0z", 2), 1u);
    EXPECT_EQ(CutLength("a\x82\xa0z", 3), 3u);
    // A lone lead byte at the very end counts as one byte.
    EXPECT_EQ(CutLength("ab\x82", 3), 3u);
}

}  // namespace
}  // namespace zk
