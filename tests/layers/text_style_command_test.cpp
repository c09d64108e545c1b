// Commands 26 (textstyle) and 27 (textinfo) over the fake font list
// ("Fake Gothic", "Fake Mono", "ＭＳ ゴシック"), run as script lines.
#include "tests/layers/text_command_test_support.h"

namespace zk::text_test {
namespace {

using TextStyleCommandTest = TextCommandTest;

TEST_F(TextStyleCommandTest, EverySlotStartsOnTheDefaultFace) {
    for (const TextSlot& slot : TheFontList().slots) EXPECT_EQ(slot.font_index, 2);
    // textinfo name=1, result=$1001
    ASSERT_EQ(Run("textinfo", {{"name", "1"}, {"result", "$1001"}}), 0);
    EXPECT_EQ(Text(), Utf8ToCp932("ＭＳ ゴシック"));
    // textinfo count=1, result=$1000
    ASSERT_EQ(Run("textinfo", {{"count", "1"}, {"result", "$1000"}}), 0);
    EXPECT_EQ(Number(), 3);
    // The head's second colour reads -1 although every slot holds 0xFFFFFF.
    ASSERT_EQ(Run("textinfo", {{"colour2", "1"}, {"result", "$1000"}}), 0);
    EXPECT_EQ(Number(), -1);
    EXPECT_EQ(TheFontList().slots[0].style.second_colour, 0xFFFFFFu);
    ExpectClean();
}

TEST_F(TextStyleCommandTest, FontNumbersAndFaces) {
    struct Case {
        const char* what;
        std::vector<Kw> line;
        int32_t result;
        std::string message;
        int32_t slot0_font;
    };
    const Case cases[] = {
        {"the font count selects the last entry", {{"font", "3"}}, 0, "", 2},
        {"font 1", {{"font", "1"}}, 0, "", 0},
        {"font 0", {{"font", "0"}}, -1, "E101010|textstyle|font|0|1", 2},
        {"beyond the list", {{"font", "4"}}, -1, "E101240|textstyle|font|4|3", 2},
        {"a face by name", {{"face", R"("Fake Mono")"}}, 0, "", 1},
        {"a face not installed", {{"face", R"("Nope")"}}, 0, "", 2},
    };
    for (const Case& c : cases) {
        Forget();
        TheFontList().slots[0].font_index = 2;
        EXPECT_EQ(Run("textstyle", c.line), c.result) << c.what;
        EXPECT_EQ(LastMessage().substr(0, c.message.size()), c.message) << c.what;
        if (c.message.empty()) {
            EXPECT_EQ(ErrorReporter().reports, 0u) << c.what << ": " << LastMessage();
        }
        EXPECT_EQ(TheFontList().slots[0].font_index, c.slot0_font) << c.what;
    }
}

TEST_F(TextStyleCommandTest, SlotNumbersOutsideTheEightAreRefused) {
    for (const char* slot : {"8", "-1", "4294967296"}) {
        Forget();
        EXPECT_EQ(Run("textstyle", {{"slot", slot}, {"size", "30"}}), -1) << slot;
        EXPECT_EQ(LastMessage(), std::string("E101000|textstyle|slot|") + slot + "|0|7") << slot;
        EXPECT_EQ(TheFontList().current, 0);
        for (const TextSlot& s : TheFontList().slots) EXPECT_EQ(s.style.size, 20);
    }
}

TEST_F(TextStyleCommandTest, OperatorsWorkOnSlotZerosValues) {
    // textstyle slot=3, size+=4: slot 3 gets slot 0's size + 4; slot 0 and
    // the head keep theirs; slot 0 is current again afterwards.
    ASSERT_EQ(Run("textstyle", {{"slot", "3"}, {"size", "4", kArgAdd}}), 0);
    EXPECT_EQ(TheFontList().slots[3].style.size, 24);
    EXPECT_EQ(TheFontList().slots[0].style.size, 20);
    EXPECT_EQ(TheTextBuffer().style.size, 20);
    EXPECT_EQ(TheFontList().current, 0);
    // A second add in slot 3 starts from slot 0's value again.
    ASSERT_EQ(Run("textstyle", {{"slot", "3"}, {"size", "4", kArgAdd}}), 0);
    EXPECT_EQ(TheFontList().slots[3].style.size, 24);

    struct Case {
        const char* what;
        Kw keyword;
        int64_t head;  // the head's field afterwards (slot 0)
    };
    const Case cases[] = {
        {"a plain set stores beyond the limit", {"gradient", "12"}, 12},
        {"an add clamps to the limit", {"gradient", "12", kArgAdd}, 8},
        {"a subtract clamps to 0", {"size", "50", kArgSubtract}, 0},
        {"a multiply clamps to the limit", {"size", "100", kArgMultiply}, 256},
        {"a divide by 0 keeps the value", {"height", "0", kArgDivide}, 20},
        {"colour", {"colour", "0x123456"}, 0x123456},
        {"bold added beyond 1", {"bold", "5", kArgAdd}, 1},
        {"smoothing is a plain byte", {"smooth", "258"}, 2},
    };
    for (const Case& c : cases) {
        CreateTextBuffer();
        ASSERT_EQ(Run("textstyle", {c.keyword}), 0) << c.what;
        const TextBufferStyle& head = TheTextBuffer().style;
        const std::string& k = c.keyword.keyword;
        const int64_t got = k == "gradient" ? head.gradient_layout
                            : k == "size"   ? head.size
                            : k == "height" ? head.height
                            : k == "colour" ? int64_t{head.colour}
                            : k == "bold"   ? head.bold
                                            : head.smoothing;
        EXPECT_EQ(got, c.head) << c.what;
    }
    // The second colour's -1 counts as a value below the limit for an add.
    CreateTextBuffer();
    ASSERT_EQ(Run("textstyle", {{"colour2", "2", kArgAdd}}), 0);
    EXPECT_EQ(TheTextBuffer().style.second_colour, 1);
    ExpectClean();
}

TEST_F(TextStyleCommandTest, QueriesReadTheHeadAndTheList) {
    ASSERT_EQ(Run("textstyle", {{"size", "32"}, {"orientation", "2"}, {"mode", "1"}}), 0);
    struct Case {
        const char* what;
        std::vector<Kw> line;
        int64_t want;
    };
    const Case cases[] = {
        {"size", {{"size", "1"}}, 32},
        {"orientation", {{"orientation", "1"}}, 2},
        {"mode", {{"mode", "1"}}, 1},
        {"the first keyword of the list decides", {{"height", "1"}, {"size", "1"}}, 32},
        {"smoothing", {{"smooth", "1"}}, 1},
        {"keyword 12", {{"zero", "1"}}, 0},
        {"count needs the value 1", {{"count", "2"}}, 0},
        {"a Japanese font", {{"japanese", "1"}, {"font", "1"}}, 0},
        {"a Latin font", {{"japanese", "1"}, {"font", "2"}}, 1},
        {"the width of the first character", {{"width", "1"}, {"text", R"("LN")"}}, 19 / 4 + 4},
        {"a character's height, held to the style's", {{"charheight", "1"}, {"text", R"("L")"}}, 20},
        {"a width without a text measures nothing", {{"width", "1"}}, 0},
        {"nothing asked", {}, 0},
    };
    for (const Case& c : cases) {
        Forget();
        FindVariable(1000)->integers[0] = 77;
        std::vector<Kw> line = c.line;
        line.push_back({"result", "$1000"});
        ASSERT_EQ(Run("textinfo", line), 0) << c.what;
        EXPECT_EQ(Number(), c.want) << c.what;
        EXPECT_EQ(ErrorReporter().reports, 0u) << c.what << ": " << LastMessage();
    }
    // Font numbers outside the list.
    Forget();
    EXPECT_EQ(Run("textinfo", {{"name", "1"}, {"font", "4"}, {"result", "$1001"}}), -1);
    EXPECT_EQ(LastMessage(), "E101240|textinfo|font|4|3|");
    Forget();
    EXPECT_EQ(Run("textinfo", {{"japanese", "1"}, {"font", "0"}, {"result", "$1000"}}), -1);
    EXPECT_EQ(LastMessage(), "E101010|textinfo|font|0|1|");
    Forget();
    ASSERT_EQ(Run("textinfo", {{"name", "1"}, {"font", "2"}, {"result", "$1001"}}), 0);
    EXPECT_EQ(Text(), "Fake Mono");
}

}  // namespace
}  // namespace zk::text_test
