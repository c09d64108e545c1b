// The message commands: 108 (msg) appends its own text, 112 (msgvalue) a
// value written out, 81 (endmsg) closes the message; as a table of lines
// and the streams they leave, then the full-buffer cases.
#include "tests/layers/text_command_test_support.h"
#include "tools/lib/infix.h"

namespace zk::text_test {
namespace {

using TextBufferCommandTest = TextCommandTest;

RawRecord Inline(std::string_view bytes) { return {0, 0, Bytes(bytes)}; }
RawRecord Value(std::string_view infix, uint8_t type) { return {0, type, tools::CompileInfix(infix)}; }


struct Line {
    std::string command;
    RawRecord record;
};

TEST_F(TextBufferCommandTest, AppendsAndCloses) {
    struct Case {
        const char* what;
        std::vector<Line> lines;
        std::string text;
        std::string kinds;
    };
    const std::string long_value(1024, 'x');
    const Case cases[] = {
        {"inline text", {{"msg", Inline("abc")}}, "abc", "111"},
        {"two-byte characters", {{"msg", Inline("\x82\xA0\x82\xA2" "A")}}, "\x82\xA0\x82\xA2" "A", "221"},
        {"a lead byte at the end stands alone", {{"msg", Inline("A\x82")}}, "A\x82", "11"},
        {"two lines run on", {{"msg", Inline("ab")}, {"msg", Inline("\x88\x9F")}}, "ab\x88\x9F", "112"},
        {"a real", {{"msgvalue", Value("1.5", 2)}}, "1.500000", "11111111"},
        {"an integer", {{"msgvalue", Value("-42", 1)}}, "-42", "111"},
        {"a tab becomes a space", {{"msgvalue", Value(R"("a\tb")", 3)}}, "a b", "111"},
        {"one-byte katakana becomes a space", {{"msgvalue", Value("\"x\xB1y\"", 3)}}, "x y", "111"},
        {"two characters of two bytes", {{"msgvalue", Value("\"\x82\xA0\x82\xA2\"", 3)}}, "\x82\xA0\x82\xA2", "22"},
        {"an unknown type writes nothing", {{"msgvalue", Value("7", 9)}}, "", ""},
        {"1024 bytes is not too long", {{"msgvalue", Value("\"" + long_value + "\"", 3)}}, long_value,
         std::string(1024, '1')},
        {"the close marks the kinds only", {{"msg", Inline("hi")}, {"endmsg", {}}}, "hi", "11E"},
    };
    for (const Case& c : cases) {
        Forget();
        CreateTextBuffer();
        for (const Line& line : c.lines) {
            std::vector<RawRecord> records;
            if (!line.record.code.empty()) records.push_back(line.record);
            const int32_t want = line.command == "endmsg" ? -1 : 0;
            EXPECT_EQ(RunRaw(line.command, records), want) << c.what;
        }
        EXPECT_EQ(ErrorReporter().reports, 0u) << c.what << ": " << LastMessage();
        EXPECT_EQ(TextBufferText(), c.text) << c.what;
        EXPECT_EQ(TextBufferKinds(), c.kinds) << c.what;
        EXPECT_EQ(TheTextBuffer().text_length, int32_t(c.text.size())) << c.what;
        EXPECT_EQ(TheTextBuffer().kind_count, int32_t(c.kinds.size())) << c.what;
    }
}

TEST_F(TextBufferCommandTest, CloseWaitsAFrameAndTheNextRunWipes) {
    ASSERT_EQ(RunRaw("msg", {Inline("hello")}), 0);
    task_.text_clear_request = 0;
    // The line's first record gives the task the message's place.
    EXPECT_EQ(RunRaw("endmsg", {{7, 3, Bytes("xyzw")}}), -1);
    EXPECT_EQ(task_.text_clear_request, 1);
    EXPECT_EQ(task_.message_tag, 0x00030007u);
    EXPECT_EQ(task_.message_length_word, 4u);
    EXPECT_EQ(TheTextBuffer().dirty, 1);
    ClearTextBuffer();
    EXPECT_EQ(TextBufferText(), "");
    EXPECT_EQ(TextBufferKinds(), "");
    // Without a close, a clear leaves the buffer alone.
    ASSERT_EQ(RunRaw("msg", {Inline("again")}), 0);
    ClearTextBuffer();
    EXPECT_EQ(TextBufferText(), "again");
}

TEST_F(TextBufferCommandTest, FullBuffer) {
    const std::string almost(kTextBufferLimit - 1, 'a');  // 8189 bytes
    struct Case {
        const char* what;
        RawRecord record;
        std::string command;
        uint32_t error;
    };
    const Case cases[] = {
        {"one more byte still fits", Inline("b"), "msg", 0},
        {"two more bytes reach the limit", Inline("bc"), "msg", 102000},
        {"a value reaching the limit", Value(R"("b")", 3), "msgvalue", 102000},
    };
    for (const Case& c : cases) {
        Forget();
        CreateTextBuffer();
        ReplaceTextBufferText(almost);
        EXPECT_EQ(RunRaw(c.command, {c.record}), c.error == 0 ? 0 : -1) << c.what;
        if (c.error != 0) {
            ExpectFatal(c.error);
            EXPECT_EQ(TheTextBuffer().text_length, kTextBufferLimit - 1) << c.what << ": nothing appended";
        }
    }
    // A lead byte that ends a value (here a text variable's) stands alone.
    Forget();
    CreateTextBuffer();
    ASSERT_EQ(StoreStringElement(1001, 0, "a\x82"), 0);
    ASSERT_EQ(RunRaw("msgvalue", {Value("$1001", 3)}), 0);
    EXPECT_EQ(TextBufferText(), "a ");
    EXPECT_EQ(TextBufferKinds(), "11");
    // The over-long value is refused on its own length too.
    Forget();
    CreateTextBuffer();
    EXPECT_EQ(RunRaw("msgvalue", {Value("\"" + std::string(1025, 'v') + "\"", 3)}), -1);
    ExpectFatal(102030);
    EXPECT_EQ(TheTextBuffer().text_length, 0);
}

// A message of 8190 bytes closed again and again: the kind stream keeps
// its NUL and drops the codes that no longer fit.
TEST_F(TextBufferCommandTest, ClosesNeverOverrunTheKindStream) {
    ReplaceTextBufferText(std::string(kTextBufferLimit - 1, 'a'));
    ReplaceTextBufferKinds(std::string(kTextBufferLimit - 1, '1'));
    ASSERT_EQ(RunRaw("msg", {Inline("b")}), 0);
    EXPECT_EQ(TheTextBuffer().text_length, kTextBufferLimit);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(RunRaw("endmsg", {}), -1);
    EXPECT_EQ(TheTextBuffer().kind_count, int32_t(kTextBufferBytes) - 1);
    EXPECT_EQ(TheTextBuffer().kinds[kTextBufferBytes - 2], 'E');
    EXPECT_EQ(TheTextBuffer().kinds[kTextBufferBytes - 1], '\0');
    EXPECT_EQ(TheTextBuffer().text[size_t(kTextBufferLimit)], '\0');
    ExpectClean();
}

}  // namespace
}  // namespace zk::text_test
