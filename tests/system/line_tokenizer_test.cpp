// The line tokenizer: a table of lines with the tokens they give, the
// comment state carried between lines, and code 22 of command 116 storing
// into script variables named by reference.
#include "base/text_encoding.h"
#include "system/line_tokenizer.h"
#include "system/system_command.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

using Tokens = std::vector<std::pair<std::string, int32_t>>;

Tokens Counted(const TokenizedLine& line) {
    Tokens out;
    for (const LineToken& token : line.tokens) {
        if (token.kind != LineToken::kNoKind) out.emplace_back(token.text, token.kind);
    }
    return out;
}

TEST(LineTokenizerTest, TableOfLines) {
    const std::string kanji = Utf8ToCp932("漢字");
    struct Case {
        std::string line;
        Tokens tokens;
        int64_t state_after = 0;
    };
    const Case cases[] = {
        {"a = b + 1;", {{"a", 32}, {"=", 16}, {"b", 32}, {"+", 16}, {"1", 32}}},
        {"x+=2", {{"x", 32}, {"+=", 12}}},  // the open word yields nothing
        {"x+=2\r\n", {{"x", 32}, {"+=", 12}, {"2", 32}, {"\r", 16}, {"\n", 16}}},
        {"a-=1\r", {{"a", 32}, {"-", 32}, {"=", 16}, {"1", 32}, {"\r", 16}}},
        {"/* x\r", {{"\r", 0}}, 1},
        {"s = \"ab\"\r", {{"s", 32}, {"=", 16}, {"\"ab\"", 31}, {"\r", 16}}},
        {"s = \"ab\r", {{"s", 32}, {"=", 16}, {"\"ab\r", 31}}},  // an unclosed string ends at the CR
        {"a//b\r", {{"a//b", 32}, {"\r", 16}}},
        {"x = 1 // c", {{"x", 32}, {"=", 16}, {"1", 32}, {"\r", 0}}},
        {"#=5\r", {{"#", 57}, {"5", 32}, {"\r", 16}}},
        {"#5\r", {{"#", 57}, {"5", 32}, {"\r", 16}}},
        {"f(a,@b)$\\\r", {{"f", 32}, {"(", 52}, {"a", 32}, {",", 54}, {"@", 55}, {"b", 32}, {")", 53}, {"$", 56}, {"\\", 51}, {"\r", 16}}},
        {"i++ j*=2 k /=3 *\r", {{"i", 32}, {"++", 11}, {"j", 32}, {"*=", 14}, {"2", 32}, {"k", 32}, {"/=", 15}, {"3", 32}, {"*", 16}, {"\r", 16}}},
        {"k/=3\r", {{"k/", 32}, {"=", 16}, {"3", 32}, {"\r", 16}}},  // '/' continues a word
        {"a" + kanji + "b.c_d\r", {{"a" + kanji + "b.c_d", 32}, {"\r", 16}}},
        {"\xB1x\r", {{"\xB1", 16}, {"x", 32}, {"\r", 16}}},  // half-width katakana alone
        {"\tx  y\r", {{"x", 32}, {"y", 32}, {"\r", 16}}},
        {"/*/ x\r", {{"x", 32}, {"\r", 16}}},  // "/*/" opens and closes a comment
        {"a /**/ b\r", {{"a", 32}, {"b", 32}, {"\r", 16}}},
        // Kept as written: ';' does not move the token start.
        {"a;b\r", {{"a", 32}, {";b", 32}, {"\r", 16}}},
        {";+\r", {{"+", 16}, {"\r", 16}}},
        // A lead byte right before the end is a single byte.
        {"ab\x81", {}},
        {"\x81", {}},
        {"x \x81", {{"x", 32}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const TokenizedLine line = SplitLine(c.line, false);
        EXPECT_EQ(Counted(line), c.tokens);
        EXPECT_EQ(line.count, int64_t(c.tokens.size()));
        EXPECT_EQ(line.comment_state, c.state_after);
    }
    // "//" at the start: one comment token and the state is not written.
    const TokenizedLine comment = SplitLine("// all of it\r", true);
    EXPECT_TRUE(comment.write_state);
    const TokenizedLine line_comment = SplitLine("// all\r", false);
    EXPECT_EQ(Counted(line_comment), (Tokens{{"\r", 0}}));
    EXPECT_FALSE(line_comment.write_state);
}

TEST(LineTokenizerTest, CommentAcrossLines) {
    const TokenizedLine first = SplitLine("/* x\r", false);
    EXPECT_EQ(first.comment_state, 1);
    const TokenizedLine second = SplitLine(" y */ z\r", true);
    ASSERT_EQ(second.tokens.size(), 3u);
    EXPECT_EQ(second.tokens[0].text, " y */");
    EXPECT_EQ(second.tokens[0].kind, LineToken::kNoKind);
    EXPECT_EQ(Counted(second), (Tokens{{"z", 32}, {"\r", 16}}));
    EXPECT_EQ(second.comment_state, 0);
    // A line that stays inside the comment.
    const TokenizedLine inside = SplitLine("still\r", true);
    EXPECT_EQ(Counted(inside), (Tokens{{"\r", 0}}));
    EXPECT_EQ(inside.comment_state, 1);
}

TEST(LineTokenizerTest, LongWordsAreCutAtACharacter) {
    std::string line = "a" + std::string(5000, 'b') + " ";
    TokenizedLine tokens = SplitLine(line, false);
    ASSERT_EQ(tokens.count, 1);
    EXPECT_EQ(tokens.tokens[0].text.size(), kMaxTokenBytes);
    line = "a" + std::string(2000, '\x88') + " ";  // 0x88 0x88 pairs: the cut keeps whole pairs
    tokens = SplitLine(line, false);
    ASSERT_EQ(tokens.count, 1);
    EXPECT_EQ(tokens.tokens[0].text.size(), 2001u);
}

class TokenizerCommandTest : public script_test::RunOnceTest {
protected:
    void SetUp() override {
        RunOnceTest::SetUp();
        RegisterSystemServices();
    }
};

TEST_F(TokenizerCommandTest, Code22StoresThroughReferences) {
    const std::string decl = "str tok[4]\nreal kinds[8]\nint st = 0\nint n = -1\nint rt\nint rk\nint rs\nstr line\n";
    // The references: variable number in the high half, element in the low.
    const std::string refs = "rt = #tok[1]\nrk = #kinds[2]\nrs = #st\n";
    ASSERT_EQ(Run(decl, refs + "line = \"a = b + 1;\"\nsystem code=22, result=n, int1=rt, int2=rk, int3=rs, text1=line"), 0);
    EXPECT_EQ(Int("n"), 5) << "tokens beyond the text array are counted";
    EXPECT_EQ(Text("tok", 1), "a");
    EXPECT_EQ(Text("tok", 3), "b");
    EXPECT_EQ(Real("kinds", 2), 32.0);
    EXPECT_EQ(Real("kinds", 3), 16.0);
    EXPECT_EQ(Real("kinds", 6), 32.0);
    ASSERT_EQ(Run(decl, refs + "line = \"/* x\"\nsystem code=22, result=n, int1=rt, int2=rk, int3=rs, text1=line"), 0);
    EXPECT_EQ(Int("st"), 1);
    // A text array of the wrong type reports 101140 (fatal).
    EXPECT_EQ(Run(decl, "rt = #n\nrk = #kinds\nrs = #st\nsystem code=22, result=n, int1=rt, int2=rk, int3=rs, text1=\"a \""), 1);
    EXPECT_EQ(LastCode(), kErrWrongVariableType);
}

}  // namespace
}  // namespace zk
