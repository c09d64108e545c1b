// Command 102 on readable scripts, and the CP932 case and width tables it
// converts with, checked against iconv's CP932.
#include "base/sjis.h"
#include "base/sjis_case_width.h"
#include "base/text_encoding.h"
#include "script/variable_conversions.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

std::string Utf8Of(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// The CP932 code iconv gives a character (lead x 256 + trail, or the byte).
uint16_t Cp932Code(const std::string& utf8) {
    const std::string bytes = Utf8ToCp932(utf8);
    if (bytes.size() == 1) return static_cast<uint8_t>(bytes[0]);
    EXPECT_EQ(bytes.size(), 2u) << utf8;
    return bytes.size() == 2 ? static_cast<uint16_t>(static_cast<uint8_t>(bytes[0]) << 8 | static_cast<uint8_t>(bytes[1])) : 0;
}

// A script text literal of a UTF-8 text: CP932 bytes where a backslash
// escapes a single-byte '\\' or '"'; a double-byte character stands whole,
// even when its second byte is 0x5C.
std::string Literal(std::string_view utf8) {
    std::string out = "\"";
    const std::string text = Utf8ToCp932(utf8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsSjisLeadByte(static_cast<uint8_t>(c)) && i + 1 < text.size()) {
            out += c;
            out += text[++i];
            continue;
        }
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Splits a UTF-8 text into its characters.
std::vector<std::string> Characters(std::string_view utf8) {
    std::vector<std::string> out;
    for (size_t i = 0; i < utf8.size();) {
        const uint8_t b = static_cast<uint8_t>(utf8[i]);
        const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        out.emplace_back(utf8.substr(i, n));
        i += n;
    }
    return out;
}

TEST(Cp932TablesTest, FullWidthFormsAreIconvsFullWidthCharacters) {
    // ASCII 0x21..0x7E are U+FF01..U+FF5E at full width; the space is U+3000.
    EXPECT_EQ(Cp932FullWidth(0x20), Cp932Code(Utf8Of(0x3000)));
    for (char32_t b = 0x21; b <= 0x7E; ++b) {
        EXPECT_EQ(Cp932FullWidth(static_cast<uint8_t>(b)), Cp932Code(Utf8Of(0xFF01 + (b - 0x21)))) << std::hex << static_cast<uint32_t>(b);
    }
    // Half-width katakana U+FF61..U+FF9F, in iconv's CP932 0xA1..0xDF.
    const std::vector<std::string> full = Characters(
        "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜");
    ASSERT_EQ(full.size(), 63u);
    for (char32_t i = 0; i < 63; ++i) {
        const uint16_t half = Cp932Code(Utf8Of(0xFF61 + i));
        ASSERT_EQ(half, 0xA1 + i);
        EXPECT_EQ(Cp932FullWidth(static_cast<uint8_t>(half)), Cp932Code(full[i])) << full[i];
        // And back.
        std::array<uint8_t, 2> out{};
        ASSERT_EQ(Cp932HalfWidth(Cp932Code(full[i]), out), 1u) << full[i];
        EXPECT_EQ(out[0], half);
    }
    // Bytes without a full-width form stay.
    for (uint8_t b : {0x00, 0x0D, 0x7F, 0x80, 0xA0, 0xFD, 0xFF}) EXPECT_EQ(Cp932FullWidth(b), b);
}

TEST(Cp932TablesTest, WidthConversionsOfWholeTexts) {
    struct Case {
        std::string half;  // UTF-8
        std::string full;
    };
    const Case cases[] = {
        {"ｶﾞｷﾞﾊﾟﾎﾟｳﾞ", "ガギパポヴ"},
        {"ABC xyz~\\", "ＡＢＣ　ｘｙｚ～＼"},
        {"ｱｲｳ!?", "アイウ！？"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToHalfWidth(Utf8ToCp932(c.full), 4095), Utf8ToCp932(c.half)) << c.full;
    }
    // Full width of single characters; voiced kana stay two characters.
    EXPECT_EQ(ToFullWidth(Utf8ToCp932("ABC xyz~\\"), 4095), Utf8ToCp932("ＡＢＣ　ｘｙｚ～＼"));
    EXPECT_EQ(ToFullWidth(Utf8ToCp932("ｶﾞ"), 4095), Utf8ToCp932("カ゛"));
    // Characters without another form are copied.
    EXPECT_EQ(ToHalfWidth(Utf8ToCp932("漢字ぁ"), 4095), Utf8ToCp932("漢字ぁ"));
}

TEST(Cp932TablesTest, CaseOfFullWidthLatinGreekAndCyrillic) {
    const std::pair<std::string, std::string> alphabets[] = {
        {"ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ", "ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ"},
        {"ΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡΣΤΥΦΧΨΩ", "αβγδεζηθικλμνξοπρστυφχψω"},
        {"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "абвгдеёжзийклмнопрстуфхцчшщъыьэюя"},
        {"ABCZ", "abcz"},
    };
    for (const auto& [upper, lower] : alphabets) {
        EXPECT_EQ(UpperCaseCp932(Utf8ToCp932(lower)), Utf8ToCp932(upper)) << upper;
        EXPECT_EQ(LowerCaseCp932(Utf8ToCp932(upper)), Utf8ToCp932(lower)) << lower;
    }
    // The pairs by code.
    EXPECT_EQ(Cp932UpperCase(0x8281), 0x8260);
    EXPECT_EQ(Cp932LowerCase(0x8260), 0x8281);
    EXPECT_EQ(Cp932UpperCase(0x83BF), 0x839F);
    EXPECT_EQ(Cp932LowerCase(0x839F), 0x83BF);
    EXPECT_EQ(Cp932UpperCase(0x8470), 0x8440);
    EXPECT_EQ(Cp932LowerCase(0x8440), 0x8470);
    EXPECT_EQ(Cp932FullWidth(0xB6), 0x834A);
    EXPECT_EQ(Cp932FullWidth(0x20), 0x8140);
    EXPECT_EQ(Cp932FullWidth(0xDE), 0x814A);
    std::array<uint8_t, 2> out{};
    EXPECT_EQ(Cp932HalfWidth(0x8140, out), 1u);
    EXPECT_EQ(out[0], 0x20);
    EXPECT_EQ(Cp932HalfWidth(0x814A, out), 1u);
    EXPECT_EQ(out[0], 0xDE);
    // Hiragana and kanji have no case.
    EXPECT_EQ(UpperCaseCp932(Utf8ToCp932("あ漢")), Utf8ToCp932("あ漢"));
}

// 表 is 0x95 0x5C: its trail byte reads as '\' and must never change.
TEST(Cp932TablesTest, TrailBytesSurviveEveryConversion) {
    const std::string text = Utf8ToCp932("表a表Ａ");
    std::string upper = text;
    UpperCaseAscii(upper);
    EXPECT_EQ(upper, Utf8ToCp932("表A表Ａ"));
    EXPECT_EQ(UpperCaseCp932(text), Utf8ToCp932("表A表Ａ"));
    EXPECT_EQ(LowerCaseCp932(text), Utf8ToCp932("表a表ａ"));
    EXPECT_EQ(ToFullWidth(text, 4095), Utf8ToCp932("表ａ表Ａ"));
    EXPECT_EQ(ToHalfWidth(text, 4095), Utf8ToCp932("表a表A"));
    // A lone lead byte at the end is one byte.
    EXPECT_EQ(ToHalfWidth(std::string("a\x95"), 4095), std::string("a\x95"));
}

// A full-width result stops before a character that passes the limit; a
// half-width voiced kana writes both of its bytes.
TEST(Cp932TablesTest, WidthResultsStopAtWholeCharacters) {
    EXPECT_EQ(ToFullWidth(std::string(3000, 'a'), 4095).size(), 4094u);
    EXPECT_EQ(ToFullWidth(std::string(3000, 'a'), 4095).substr(0, 2), Utf8ToCp932("ａ"));
    EXPECT_EQ(ToHalfWidth(Utf8ToCp932("ガ"), 4095), Utf8ToCp932("ｶﾞ"));
    EXPECT_EQ(ToHalfWidth(Utf8ToCp932("アガ"), 2), Utf8ToCp932("ｱ")) << "ｶﾞ would pass the limit";
}

class ConvertCommandTest : public script_test::RunOnceTest {
protected:
    static constexpr std::string_view kDeclarations =
        "int i = 99\nreal r\nstr s\nstr t = \"old\"\nint a[3]\nreal b[3]\nstr c[5]\nint grid[2, 2]\n";
    int Run(std::string_view body) { return RunOnceTest::Run(kDeclarations, body); }
    std::vector<int64_t> Ints(std::string_view name) {
        std::vector<int64_t> out;
        const ScriptVariable* v = FindVariable(symbols.at(std::string(name)));
        for (int64_t k = 0; k < static_cast<int64_t>(v->element_count); ++k) out.push_back(Int(name, k));
        return out;
    }
};

TEST_F(ConvertCommandTest, NumbersAndTexts) {
    struct Case {
        std::string script;
        std::string variable;  // i, r or t
        std::string expected;  // decimal for i, "%f" for r, the text for t
        uint32_t error = 0;
    };
    const Case cases[] = {
        {"s = \"0x1F\"\nconvert source=s, dest=i, number=1", "i", "31"},
        {"s = \"0xFFFFFFFFFFFFFFFF\"\nconvert source=s, dest=i, number=1", "i", "-1"},
        {"s = \"0x1fz\"\nconvert source=s, dest=i, number=1", "i", "31"},
        {"s = \"0X1F\"\nconvert source=s, dest=i, number=1", "i", "99", kErrNotANumber},
        {"s = \"3.5\"\nconvert source=s, dest=i, number=1", "i", "3"},
        {"s = \"3.5\"\nconvert source=s, dest=r, number=1", "r", "3.500000"},
        {"s = \"12-3\"\nconvert source=s, dest=i, number=1", "i", "12"},
        {"s = \"-\"\nconvert source=s, dest=i, number=1", "i", "0"},
        {"s = \"\"\nconvert source=s, dest=i, number=1", "i", "0"},
        {"s = \"-42\"\nconvert source=s, dest=r, number=1", "r", "-42.000000"},
        {"s = \"1 2\"\nconvert source=s, dest=i, number=1", "i", "99", kErrNotANumber},
        {"r = 2.5\nconvert source=r, dest=t, number=1", "t", "2.500000"},
        {"i = 0 - 42\nconvert source=i, dest=t, number=1", "t", "-42"},
        {"convert source=i, dest=r, number=1", "r", "0.000000", kErrConversionTypes},
        {"convert source=s, dest=t, number=1", "t", "old", kErrConversionTypes},
    };
    for (const Case& c : cases) {
        Run(c.script);
        const std::string actual = c.variable == "i"   ? std::to_string(Int("i"))
                                   : c.variable == "r" ? std::to_string(Real("r"))
                                                       : Text("t");
        EXPECT_EQ(actual, c.expected) << c.script;
        EXPECT_EQ(LastCode(), c.error) << c.script;
    }
    // A "0x" without digits fails without a report; the element keeps its value.
    Run("s = \"0x\"\nconvert source=s, dest=i, number=1\ni = 5");
    EXPECT_EQ(Int("i"), 99) << "the command's -1 ended the pass";
    EXPECT_EQ(Reports(), 0u);
    // A double-byte character is no digit.
    Run("s = " + Literal("１") + "\nconvert source=s, dest=i, number=1");
    EXPECT_EQ(LastCode(), kErrNotANumber);
}

TEST_F(ConvertCommandTest, SubstringsAndRemovals) {
    const std::string kana = "表あb";
    struct Case {
        std::string source;
        std::string options;
        std::string expected;  // t (or s without a destination)
        uint32_t error = 0;
    };
    const Case cases[] = {
        {"abc", "dest=t, substr=1, start=3, count=1", "c"},
        {"abc", "dest=t, substr=1, start=0, count=2", "ab"},
        {"abc", "dest=t, substr=1, start=2, count=0", ""},
        {"abc", "dest=t, substr=1, start=4, count=0", "old", kErrSubstringStart},
        {"abc", "dest=t, substr=1, start=1, count=4", "old", kErrSubstringLength},
        {"abc", "dest=t, remove=1, start=2, count=1", "ac"},
        {"abc", "dest=t, remove=1, start=4, count=1", "old", kErrRemoveStart},
        {"abc", "dest=t, remove=1, start=3, count=2", "old", kErrRemoveLength},
        {kana, "dest=t, substr=1, start=2, count=1", "あ"},
        {kana, "dest=t, remove=1, start=1, count=2", "b"},
        {"abc", "substr=1, start=2, count=2", "bc"},  // into the source
        {"", "dest=t, substr=1, start=2, count=0", "old", kErrSubstringStart},
        {"", "dest=t, substr=1, start=1, count=0", ""},
    };
    for (const Case& c : cases) {
        Run("s = " + Literal(c.source) + "\nconvert source=s, " + c.options);
        const bool into_source = c.options.find("dest") == std::string::npos;
        EXPECT_EQ(Text(into_source ? "s" : "t"), c.error == 0 ? Utf8ToCp932(c.expected) : c.expected) << c.options;
        EXPECT_EQ(LastCode(), c.error) << c.options;
    }
    Run("convert source=i, dest=t, substr=1, start=1, count=1");
    EXPECT_EQ(LastCode(), kErrNotText);
    Run("convert source=s, dest=i, substr=1, start=1, count=1");
    EXPECT_EQ(LastCode(), kErrNotText);
}

TEST_F(ConvertCommandTest, CaseAndWidthOptions) {
    Run("s = " + Literal("aB表ｃ") + "\nconvert source=s, dest=t, upper=1");
    EXPECT_EQ(Text("t"), Utf8ToCp932("AB表ｃ"));
    Run("s = " + Literal("aB表ｃ") + "\nconvert source=s, dest=t, upper932=1");
    EXPECT_EQ(Text("t"), Utf8ToCp932("AB表Ｃ"));
    Run("s = " + Literal("aB表Ｃ") + "\nconvert source=s, dest=t, lower932=1");
    EXPECT_EQ(Text("t"), Utf8ToCp932("ab表ｃ"));
    // Options 7 and 9 together: 9 runs last and leaves the lower-cased copy.
    Run("s = \"aBc\"\nconvert source=s, dest=t, upper=1, lower=1");
    EXPECT_EQ(Text("t"), "abc");
    Run("s = " + Literal("ｶﾞA") + "\nconvert source=s, dest=t, full=1");
    EXPECT_EQ(Text("t"), Utf8ToCp932("カ゛Ａ"));
    Run("s = " + Literal("ガＡ") + "\nconvert source=s, dest=t, half=1");
    EXPECT_EQ(Text("t"), Utf8ToCp932("ｶﾞA"));
    // A full-width result of 3000 single bytes stops at 4094 bytes.
    Run("loop 300\n  s = s + \"abcdefghij\"\nend\nconvert source=s, dest=t, full=1");
    EXPECT_EQ(Text("t").size(), 4094u);
    EXPECT_EQ(Reports(), 0u);
    // Without a text destination there is nothing to write into.
    Run("convert source=s, upper=1");
    EXPECT_EQ(LastCode(), kErrNotText);
    Run("convert source=i, dest=t, half=1");
    EXPECT_EQ(LastCode(), kErrNotText);
}

TEST_F(ConvertCommandTest, InsertDeleteAndResize) {
    ASSERT_EQ(Run("a[0] = 1\na[1] = 2\na[2] = 3\nconvert source=@a, insert=1"), 0);
    EXPECT_EQ(Ints("a"), (std::vector<int64_t>{1, 0, 2}));
    ASSERT_EQ(Run("a[0] = 1\na[1] = 2\na[2] = 3\nconvert source=@a, delete=0"), 0);
    EXPECT_EQ(Ints("a"), (std::vector<int64_t>{2, 3, 0}));
    ASSERT_EQ(Run("a[0] = 1\na[1] = 2\na[2] = 3\nconvert source=@a, insert=7"), 0);
    EXPECT_EQ(Ints("a"), (std::vector<int64_t>{1, 2, 0})) << "from N-1 on only the last is cleared";
    ASSERT_EQ(Run("c[0] = \"x\"\nc[4] = \"y\"\nconvert source=@c, resize+=2"), 0);
    const ScriptVariable* c = FindVariable(symbols.at("c"));
    EXPECT_EQ(c->sizes[0], 7);
    EXPECT_EQ(c->element_count, 7u);
    EXPECT_EQ(Text("c", 0), "x");
    EXPECT_EQ(Text("c", 4), "y");
    EXPECT_EQ(Text("c", 6), "");
    ASSERT_EQ(Run("b[2] = 1.5\nconvert source=@b, resize=2\nconvert source=@b, resize*=2"), 0);
    EXPECT_EQ(FindVariable(symbols.at("b"))->element_count, 4u);
    EXPECT_EQ(Real("b", 2), 0.0) << "the dropped element comes back empty";
    EXPECT_EQ(Reports(), 0u);
}

// A size above 4,000,000 was set before it was checked, and a negative
// index moved elements outside the array: both now change nothing.
TEST_F(ConvertCommandTest, RefusedSizesAndIndexesChangeNothing) {
    Run("a[0] = 1\na[1] = 2\na[2] = 3\nconvert source=@a, resize=4000001");
    EXPECT_EQ(LastCode(), kErrTooManyElements);
    EXPECT_EQ(FindVariable(symbols.at("a"))->sizes[0], 3);
    EXPECT_EQ(Ints("a"), (std::vector<int64_t>{1, 2, 3}));

    Run("a[0] = 1\na[1] = 2\na[2] = 3\nconvert source=@a, insert=0-1");
    EXPECT_EQ(LastCode(), kErrSubscriptRange);
    EXPECT_EQ(Ints("a"), (std::vector<int64_t>{1, 2, 3}));
    Run("a[0] = 1\na[1] = 2\na[2] = 3\nconvert source=@a, delete=0-5");
    EXPECT_EQ(LastCode(), kErrSubscriptRange);
    EXPECT_EQ(Ints("a"), (std::vector<int64_t>{1, 2, 3}));

    // A size of 0 or below, and arrays of two dimensions, get a message box.
    ui_.boxes.clear();
    EXPECT_EQ(Run("convert source=@a, resize-=3\ni = 1"), 0);
    EXPECT_EQ(Int("i"), 99);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(Cp932ToUtf8(ui_.boxes[0].text), "変更後の配列サイズが不正です。");
    EXPECT_FALSE(ui_.boxes[0].caption.has_value());
    Run("convert source=@grid, insert=0");
    ASSERT_EQ(ui_.boxes.size(), 2u);
    EXPECT_EQ(Cp932ToUtf8(ui_.boxes[1].text), "配列挿入処理をしようとしましたが、この変数は１次元配列ではありません。");
    EXPECT_EQ(Reports(), 0u);
}

TEST_F(ConvertCommandTest, ResetPutsSelectedGlobalsBack) {
    tools::ScriptText script = tools::ScriptGame(
        "int g1 = 5\nint g2 = 6\nreal r1 = 1.5\nstr s3 = \"x\"\n"
        "label SYSTEM_START\n"
        "g1 = 50\ng2 = 60\nr1 = 15.0\ns3 = \"changed\"\n"
        "convert reset=1, int1=1, str3=1\n"
        "label IDLE\nwait 1\njump IDLE\n");
    auto& definitions = script.game.variables.definitions;
    definitions[1].group = 2;  // g2
    definitions[3].group = 3;  // s3
    ASSERT_EQ(RunOnceTest::Run(script), 0);
    EXPECT_EQ(Int("g1"), 5) << "group 1 integers selected";
    EXPECT_EQ(Int("g2"), 60) << "group 2 integers not selected";
    EXPECT_EQ(Real("r1"), 15.0);
    EXPECT_EQ(Text("s3"), "x");
    EXPECT_EQ(Reports(), 0u);
}

// A definition naming a variable beyond the table stops the reset.
TEST_F(ConvertCommandTest, ResetStopsAtADefinitionBeyondTheTable) {
    before_pass = [] {
        VariableDefinition beyond;
        beyond.scope = kScopeGlobal;
        beyond.number = 5000;
        beyond.type = kVariableInteger;
        TheCompiledTables().variable_definitions.records.push_back(beyond);
    };
    EXPECT_EQ(Run("i = 7\nconvert reset=1, int1=1"), 1);
    EXPECT_EQ(LastCode(), kErrDefinitionBeyondTable);
    EXPECT_EQ(Int("i"), 99) << "the definitions before it were applied";
}

}  // namespace
}  // namespace zk
