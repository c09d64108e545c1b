// Commands 94 and 103 on readable scripts: the script file list, and what
// a variable holds.
#include "base/text_encoding.h"
#include "script/variable_info.h"
#include "tests/script/script_run_once.h"

namespace zk {
namespace {

class VariableInfoTest : public script_test::RunOnceTest {
protected:
    static constexpr std::string_view kDeclarations =
        "int i\nreal r\nstr s\nint a[3]\nreal b[2]\nstr c[3]\nint grid[2, 3]\nint answer = 99\n";
    int Ask(std::string_view body) { return Run(kDeclarations, body); }
};

TEST_F(VariableInfoTest, TypeShapeAndTexts) {
    const std::string kanji = Utf8ToCp932("あ");  // 0x82 0xA0
    struct Case {
        std::string body;
        int64_t expected;
    };
    const Case cases[] = {
        {"varinfo subject=i, result=answer, type=1", 1},
        {"varinfo subject=r, result=answer, type=1", 2},
        {"varinfo subject=s, result=answer, type=1", 3},
        {"varinfo subject=grid, result=answer, dims=1", 2},
        {"varinfo subject=grid, result=answer, size1=1", 2},
        {"varinfo subject=grid, result=answer, size2=1", 3},
        {"varinfo subject=grid, result=answer, size3=1", 0},
        {"varinfo subject=i, result=answer, dims=1", 0},
        {"s = \"" + kanji + "a\"\nvarinfo subject=s, result=answer, width=1", 2},
        {"s = \"a" + kanji + "\"\nvarinfo subject=s, result=answer, width=1", 1},
        {"s = \"" + kanji + kanji + "a\"\nvarinfo subject=s, result=answer, length=1", 3},
        {"s = \"\"\nvarinfo subject=s, result=answer, length=1", 0},
        {"s = \"Abc\"\nvarinfo subject=s, result=answer, code=1", 65},
        {"s = \"" + kanji + "\"\nvarinfo subject=s, result=answer, code=1", 0x82A0},
        {"s = \"\"\nvarinfo subject=s, result=answer, code=1", 0},
        // A number reads as the empty text.
        {"i = 65\nvarinfo subject=i, result=answer, code=1", 0},
        {"r = 65.0\nvarinfo subject=r, result=answer, code=1", 0},
        // The first of 2..13 decides.
        {"varinfo subject=grid, result=answer, size1=1, dims=1", 2},
        {"varinfo subject=grid, result=answer, type=1, size2=1", 1},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Ask(c.body), 0) << c.body;
        EXPECT_EQ(Int("answer"), c.expected) << c.body;
        EXPECT_EQ(Reports(), 0u) << c.body;
    }
    // Into a real element.
    ASSERT_EQ(Ask("s = \"ab\"\nvarinfo subject=s, result=r, length=1"), 0);
    EXPECT_EQ(Real("r"), 2.0);
}

TEST_F(VariableInfoTest, TextQuestionsRefuseOtherSubjects) {
    struct Case {
        std::string body;
        uint32_t error;
    };
    const Case cases[] = {
        {"s = \"\"\nvarinfo subject=s, result=answer, width=1", kErrEmptyText},
        {"varinfo subject=i, result=answer, length=1", kErrNotText},
        // The width of a number's first character: a number has no text,
        // which is the empty text's error.
        {"i = 65\nvarinfo subject=i, result=answer, width=1", kErrEmptyText},
        {"varinfo subject=@a, result=answer, width=1", kErrEmptyText},
        {"s = \"a\"\nvarinfo subject=s, result=s, width=1", kErrWrongVariableType},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Ask(c.body), 1) << c.body;
        EXPECT_EQ(LastCode(), c.error) << c.body;
        EXPECT_EQ(Reports(), 1u) << c.body;
        EXPECT_EQ(Int("answer"), 99) << c.body;
    }
}

TEST_F(VariableInfoTest, SearchesAndLowestTexts) {
    const std::string ints = "a[0] = 5\na[1] = 7\na[2] = 5\n";
    const std::string texts = "c[0] = \"b\"\nc[1] = \"a\"\nc[2] = \"a\"\n";
    struct Case {
        std::string body;
        int64_t expected;
    };
    const Case cases[] = {
        {ints + "varinfo subject=@a, result=answer, find=1, findint=5, start=1", 2},
        {ints + "varinfo subject=@a, result=answer, find=1, findint=9", -1},
        {ints + "varinfo subject=@a, result=answer, find=1, findint=5, start=3", -1},
        {ints + "varinfo subject=@a, result=answer, find=1, findint=5, start=4", 4},
        // A negative start searches from the first element.
        {ints + "varinfo subject=@a, result=answer, find=1, findint=5, start=0-2", 0},
        {"b[1] = 2.0\nvarinfo subject=@b, result=answer, find=1, findreal=2", 1},
        {texts + "varinfo subject=@c, result=answer, find=1, findstr=\"a\"", 1},
        {texts + "varinfo subject=@c, result=answer, lowest=1", 1},
        {texts + "varinfo subject=@c, result=answer, lowest=1, start=2", 2},
        {texts + "varinfo subject=@c, result=answer, lowest=1, end=0", 0},
        // A range past either end of the array is bounded by it.
        {texts + "varinfo subject=@c, result=answer, lowest=1, start=0-5, end=99", 1},
        {"c[0] = \"ab\"\nc[1] = \"a\"\nc[2] = \"" + Utf8ToCp932("あ") + "\"\nvarinfo subject=@c, result=answer, lowest=1", 1},
        // 14, 15 and 16 run in that order: the code is the last answer.
        {texts + "varinfo subject=@c, result=answer, find=1, findstr=\"a\", code=1", 'b'},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Ask(c.body), 0) << c.body;
        EXPECT_EQ(Int("answer"), c.expected) << c.body;
        EXPECT_EQ(Reports(), 0u) << c.body;
    }
    // The lowest text of a number array stores nothing.
    ASSERT_EQ(Ask("varinfo subject=@a, result=answer, lowest=1"), 0);
    EXPECT_EQ(Int("answer"), 99);
}

TEST_F(VariableInfoTest, ScriptFileList) {
    before_pass = [] {
        ScriptFileList& list = TheCompiledTables().file_list;
        list.names = {"main.txt", "b.txt"};
        list.per_file_values = {7, 9};
    };
    struct Case {
        std::string body;
        int64_t expected;
    };
    const Case cases[] = {
        {"fileinfo count=1, result=answer", 2},
        {"fileinfo value=1, n=1, result=answer", 7},
        {"fileinfo value=1, n=2, result=answer", 9},
        {"fileinfo value=1, n=0, result=answer", 0},
        {"fileinfo value=1, n=3, result=answer", 0},
        {"fileinfo model=1, result=answer", 0},
        {"fileinfo result=answer", 0},
        {"fileinfo count=1, value=1, n=1, result=answer", 2},  // 1 before 2
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Ask(c.body), 0) << c.body;
        EXPECT_EQ(Int("answer"), c.expected) << c.body;
    }
    ASSERT_EQ(Ask("fileinfo name=1, n=2, result=s"), 0);
    EXPECT_EQ(Text("s"), "b.txt");
    ASSERT_EQ(Ask("s = \"x\"\nfileinfo name=1, n=3, result=s"), 0);
    EXPECT_EQ(Text("s"), "");
    EXPECT_EQ(Reports(), 0u);
}

}  // namespace
}  // namespace zk
