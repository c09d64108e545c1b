// Command 2 (editcg) run as script lines: its layers, its value limits and
// rectangle rules with their errors, the mode order, the text it draws
// with the fake glyphs, and the swap it hands to the layer tree. The image
// operations themselves are others' (until they land each reports
// "not built", which the table below expects where a line gets that far).
#include "tests/layers/text_command_test_support.h"

namespace zk::text_test {
namespace {

using layer_test::PixelFn;


class EditCgCommandTest : public TextCommandTest {
protected:
    void SetUp() override {
        TextCommandTest::SetUp();
        WriteBmp("t.bmp", 20, 10, [](int64_t, int64_t) { return 0xFF102030u; });
        ASSERT_EQ(Run("layer", {{"name", R"("t")"}, {"no", "1"}, {"file", R"("t.bmp")"}}), 0);
        ASSERT_EQ(Run("layer", {{"name", R"("u")"}, {"no", "1"}, {"file", R"("t.bmp")"}}), 0);
        ExpectClean();
    }
    CgImage& Target() { return *LayerImage(Leaf("W0/t.1")); }
    uint32_t Pixel(const CgImage& image, int32_t x, int32_t y) { return layer_test::ReadPixel(image, x, y); }
};

TEST_F(EditCgCommandTest, ErrorsAndLimits) {
    struct Case {
        const char* what;
        std::vector<Kw> line;
        int32_t result;
        std::string message;  // "" when nothing is reported
    };
    const std::vector<Kw> target = {{"name", R"("t")"}, {"no", "1"}};
    auto line = [&](std::vector<Kw> more) {
        std::vector<Kw> all = target;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const Case cases[] = {
        {"-1 fails every limit", line({{"saturation", "1"}, {"value", "-1"}}), -1, "E101000|editcg|value|-1|0|256"},
        {"257 over brightness' 256", line({{"brightness", "1"}, {"value", "257"}}), -1,
         "E101000|editcg|value|257|0|256"},
        {"256 passes 256", line({{"saturation", "1"}, {"value", "256"}}), 0, ""},
        {"2^32 + 5 passes as 5", line({{"blur1", "1"}, {"value", "4294967301"}}), 0, ""},
        {"tone takes colours", line({{"tone", "1"}, {"value", "0xFFFFFF"}}), 0, ""},
        {"flip takes 0 or 1", line({{"flip", "1"}, {"value", "2"}}), -1, "E101000|editcg|value|2|0|1"},
        {"trim above 15", line({{"trim", "1"}, {"value", "16"}}), -1, "E101000|editcg|value|16|0|15"},
        {"waves have no limit", line({{"wave1", "1"}, {"value", "-7"}}), 0, ""},
        {"a scale of width 0", line({{"scale", "1"}, {"height", "5"}}), -1, "E101000|editcg|width|0|1|8192"},
        {"a scale too wide", line({{"scale20", "1"}, {"width", "8193"}, {"height", "5"}}), -1,
         "E101000|editcg|width|8193|1|8192"},
        {"a scale of height 0", line({{"scale", "1"}, {"width", "5"}}), -1, "E101000|editcg|height|0|1|8192"},
        {"a scale in hundredths", line({{"scale", "1"}, {"width100", "150"}, {"height100", "100"}}), 0, ""},
        {"a scale under one pixel", line({{"scale", "1"}, {"width100", "99"}, {"height100", "100"}}), -1,
         "E101000|editcg|width|0|1|8192"},
        {"rotate with a rectangle", line({{"rotate", "1"}, {"x1", "1"}}), -1, "E101282|editcg|rotate"},
        {"smooth rotate with a rectangle", line({{"rotatesmooth", "1"}, {"y2", "1"}}), -1,
         "E101282|editcg|rotatesmooth"},
        {"mosaic with a rectangle", line({{"mosaic", "1"}, {"x2", "3"}}), -1, "E101283|editcg|mosaic"},
        {"shuffle with a rectangle", line({{"shuffle", "1"}, {"y1", "3"}}), -1, "E101284|editcg|shuffle"},
        {"the value limit comes before the rectangle", line({{"mosaic", "1"}, {"x2", "3"}, {"value", "300"}}), -1,
         "E101000|editcg|value|300|0|256"},
        {"fills run with a rectangle", line({{"fill2", "1"}, {"x1", "3"}}), 0, ""},
        {"swap with a rectangle", line({{"swap", "1"}, {"other", R"("u")"}, {"otherno", "1"}, {"x1", "0"}}), -1,
         "E101281|editcg|swap"},
        {"swap alone", line({{"swapattr", "1"}}), -1, "E101297|editcg|swapattr"},
        {"copy alone", line({{"copy", "1"}}), -1, "E101296|editcg|copy"},
        {"copy with attributes alone", line({{"copyattr", "1"}}), -1, "E101296|editcg|copyattr"},
        {"draw alone", line({{"draw", "1"}}), -1, "E101298|editcg|draw"},
        {"keep equal alone", line({{"keepequal", "1"}}), -1, "E101298|editcg|keepequal"},
        {"keyword 37 with another layer", line({{"nop37", "1"}, {"other", R"("u")"}, {"otherno", "1"}}), 0, ""},
        {"a group as another layer", line({{"draw", "1"}, {"other", R"("grp/")"}}), -1, "E101291|editcg|W0/grp"},
        {"text drawing without a text", line({{"drawtext", "1"}}), -1, ""},
        {"a target that does not exist", {{"name", R"("ghost")"}, {"saturation", "1"}, {"value", "-1"}}, 0, ""},
        {"no mode keyword", target, 0, ""},
        {"scaling goes before the filters", line({{"scale", "1"}, {"saturation", "1"}, {"value", "-1"}}), -1,
         "E101000|editcg|width|0|1|8192"},
        {"rotation goes before the filters", line({{"mosaic", "1"}, {"rotate", "1"}, {"x1", "0"}}), -1,
         "E101282|editcg|rotate"},
    };
    for (const Case& c : cases) {
        Forget();
        EXPECT_EQ(Run("editcg", c.line), c.result) << c.what;
        if (c.message.empty()) {
            EXPECT_EQ(ErrorReporter().reports, 0u) << c.what << ": " << LastMessage();
        } else {
            EXPECT_EQ(LastMessage().substr(0, c.message.size()), c.message) << c.what;
            EXPECT_NE(QuitFlag.load(), 0) << c.what << ": fatal";
        }
    }
}

TEST_F(EditCgCommandTest, OtherLayersAreMadeEvenWhenTheOperationFails) {
    // editcg name="t", no=1, other="o", other2="p", otherno=3, saturation=1, value=-1
    EXPECT_EQ(Run("editcg", {{"name", R"("t")"},
                             {"no", "1"},
                             {"other", R"("o")"},
                             {"otherno", "3"},
                             {"other2", R"("p")"},
                             {"saturation", "1"},
                             {"value", "-1"}}),
              -1);
    for (const char* path : {"W0/o.3", "W0/p"}) {
        NamedTreeNode* node = Leaf(path);
        ASSERT_NE(node, nullptr) << path;
        EXPECT_EQ(node->order_key, 1) << path;
        ASSERT_NE(LayerImage(node), nullptr);
        EXPECT_EQ(LayerImage(node)->width, 1);
        EXPECT_EQ(LayerImage(node)->height, 1);
    }
    // An existing layer is used as it is.
    const int32_t children = w0_->child_count;
    Forget();
    EXPECT_EQ(Run("editcg", {{"name", R"("t")"}, {"no", "1"}, {"other", R"("u")"}, {"otherno", "1"}, {"nop37", "1"}}), 0);
    EXPECT_EQ(w0_->child_count, children);
    EXPECT_EQ(LayerImage(Leaf("W0/u.1"))->width, 20);
}

TEST_F(EditCgCommandTest, TextSlotKeywordsAndTheFinalSlotZero) {
    SelectFontSlot(3);
    ASSERT_EQ(Run("editcg", {{"name", R"("t")"}, {"no", "1"}}), 0);
    EXPECT_EQ(TheFontList().current, 0);
    ASSERT_EQ(Run("editcg", {{"name", R"("t")"}, {"no", "1"}, {"slot", "5"}}), 0);
    EXPECT_EQ(TheFontList().current, 0) << "keyword 63 alone leaves nothing behind";
    // A slot chosen for an operation that runs stays chosen.
    Forget();
    EXPECT_EQ(Run("editcg", {{"name", R"("t")"}, {"no", "1"}, {"slot", "5"}, {"canvas", "1"}}), 0);
    EXPECT_EQ(TheFontList().current, 5);
}

TEST_F(EditCgCommandTest, DrawsTextCharacterByCharacter) {
    // textstyle size=4, height=4, smooth=0, gradient=0, colour=0xFF0000
    ASSERT_EQ(Run("textstyle", {{"size", "4"}, {"height", "4"}, {"smooth", "0"}, {"gradient", "0"},
                                {"colour", "0xFF0000"}}),
              0);
    SelectFontSlot(0);
    // Each character measures 4 (its ink reaches past the box), so the pen
    // steps 4: 'F' at x 1..4 inked, 'N' at 5..8 background (black).
    ASSERT_EQ(Run("editcg", {{"name", R"("t")"}, {"no", "1"}, {"drawtext", "1"}, {"text", R"("FN")"},
                             {"x1", "1"}, {"y1", "2"}}),
              0);
    ExpectClean();
    const CgImage& t = Target();
    EXPECT_EQ(Pixel(t, 1, 2), 0xFFFF0000u);
    EXPECT_EQ(Pixel(t, 4, 5), 0xFFFF0000u);
    EXPECT_EQ(Pixel(t, 5, 2), 0xFF000000u);
    EXPECT_EQ(Pixel(t, 8, 5), 0xFF000000u);
    EXPECT_EQ(Pixel(t, 9, 2), 0xFF102030u);
    EXPECT_EQ(Pixel(t, 1, 6), 0xFF102030u);
    EXPECT_EQ(t.alpha_in_use, 1);

    // The pen starts at x1 clamped into the image; a character whose box
    // does not fit is skipped whole. A lead byte at the end is a character.
    ASSERT_EQ(StoreStringElement(1001, 0, "FFFFF\x82"), 0);
    ASSERT_EQ(Run("editcg", {{"name", R"("t")"}, {"no", "1"}, {"drawtext", "1"}, {"text", "$1001"},
                             {"x1", "-3"}, {"y1", "6"}}),
              0);
    EXPECT_EQ(Pixel(t, 0, 6), 0xFFFF0000u);
    EXPECT_EQ(Pixel(t, 19, 9), 0xFFFF0000u);
    ExpectClean();

    // With an edge distance the value draws five copies of each glyph; then
    // a later mode keyword runs (drawing the target over another layer).
    Forget();
    EXPECT_EQ(Run("editcg", {{"name", R"("u")"}, {"no", "1"}, {"drawtext", "1"}, {"text", R"("F")"}, {"x1", "5"},
                             {"y1", "3"}, {"value", "2"}, {"draw", "1"}, {"other", R"("t")"}, {"otherno", "1"}}),
              0);
    EXPECT_EQ(LastError(), 0u);
    const CgImage& u = *LayerImage(Leaf("W0/u.1"));
    EXPECT_EQ(Pixel(u, 7, 3), 0xFFFF0000u);   // right copy
    EXPECT_EQ(Pixel(u, 5, 1), 0xFFFF0000u);   // upper copy
    EXPECT_EQ(Pixel(u, 3, 3), 0xFFFF0000u);   // left copy
    EXPECT_EQ(Pixel(u, 10, 3), 0xFFFF0000u);  // right copy's last column
    EXPECT_EQ(Pixel(u, 11, 3), 0xFF102030u);
}

// The scaling kind and the rotation method are handed over as bytes: the
// low byte of the base plus the keyword's number.
TEST_F(EditCgCommandTest, TheScalingKindAndTheRotationMethodAreTheLowByteOfTheSum) {
    struct Case {
        const char* what;
        std::vector<Kw> mode;
        int32_t width;
        uint32_t pixel;  // one inside the result: the picture, or 0 when nothing drew it
    };
    const std::vector<Kw> size = {{"width", "10"}, {"height", "5"}};
    auto scale = [&](const char* keyword, const char* number) {
        std::vector<Kw> mode = {{keyword, number}};
        mode.insert(mode.end(), size.begin(), size.end());
        return mode;
    };
    const Case cases[] = {
        {"30 + 1: kind 31 (bicubic)", scale("scale30", "1"), 10, 0xFF102030u},
        {"30 + 257: kind 31", scale("scale30", "257"), 10, 0xFF102030u},
        {"50 - 19: kind 31", scale("scale50", "-19"), 10, 0xFF102030u},
        {"40 + 247: kind 31", scale("scale40", "247"), 10, 0xFF102030u},
        {"30 + 2: kind 32, no scaler", scale("scale30", "2"), 10, 0u},
        {"257 + 10: method 11", {{"rotate", "257"}}, 20, 0xFF102030u},
        {"-9 + 10: method 1, no kernel", {{"rotate", "-9"}}, 20, 0u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Forget();
        ASSERT_EQ(Run("layer", {{"name", R"("t")"}, {"no", "1"}, {"file", R"("t.bmp")"}}), 0);
        std::vector<Kw> line = {{"name", R"("t")"}, {"no", "1"}};
        line.insert(line.end(), c.mode.begin(), c.mode.end());
        ASSERT_EQ(Run("editcg", line), 0);
        ExpectClean();
        ASSERT_EQ(Target().width, c.width);
        EXPECT_EQ(Pixel(Target(), 3, 2), c.pixel);
    }
}

TEST_F(EditCgCommandTest, GroupTargetIsRecomposedFirst) {
    ASSERT_EQ(Run("layer", {{"name", R"("g/")"}, {"priority", "5"}, {"width", "8"}, {"height", "6"}}), 0);
    ASSERT_EQ(Run("layer", {{"name", R"("g/a")"}, {"no", "1"}, {"file", R"("t.bmp")"}}), 0);
    CgImage& group = *LayerImage(Group("W0/g"));
    std::fill(group.owned_block.data(), group.owned_block.data() + 8 * 6 * 4, uint8_t{0});
    // Text blended over (mode 1) without ink leaves what the group shows.
    ASSERT_EQ(Run("textstyle", {{"size", "4"}, {"height", "4"}, {"smooth", "0"}, {"mode", "1"}}), 0);
    ASSERT_EQ(Run("editcg", {{"name", R"("g/")"}, {"drawtext", "1"}, {"text", R"("N")"}}), 0);
    ExpectClean();
    EXPECT_EQ(layer_test::ReadPixel(group, 0, 0) & 0xFFFFFF, 0x102030u);
    EXPECT_EQ(layer_test::ReadPixel(group, 7, 5) & 0xFFFFFF, 0x102030u);
}

TEST_F(EditCgCommandTest, SwapHandsBothLayersToTheTree) {
    NamedTreeNode* t = Leaf("W0/t.1");
    NamedTreeNode* u = Leaf("W0/u.1");
    ASSERT_EQ(Run("editcg", {{"name", R"("t")"}, {"no", "1"}, {"other", R"("u")"}, {"otherno", "1"}, {"swap", "1"}}), 0);
    ExpectClean();
    EXPECT_EQ(Leaf("W0/t.1"), u);
    EXPECT_EQ(Leaf("W0/u.1"), t);
}

}  // namespace
}  // namespace zk::text_test
