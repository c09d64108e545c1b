// Layer command 1 driven as a script drives it: lines run through the
// CommandTable, pictures loaded from BMP files in the game folder, and the
// result checked in the layer tree, in the CgImage records and in the
// window that the compositor draws. Expected pixels come from the colour
// formulas of the pictures below.
#include <cmath>
#include <limits>

#include "base/system_text.h"
#include "tests/layers/layer_command_test_support.h"
#include "tests/layers/blend_formulas.h"

namespace zk::layer_test {
namespace {

// The pictures: every pixel opaque, each colour channel a formula of x, y.
uint32_t Picture(int64_t x, int64_t y) {
    return 0xFF000000u | uint32_t((x * 37 + 11) & 0xFF) << 16 | uint32_t((y * 53 + 7) & 0xFF) << 8 |
           uint32_t((x * y + 90) & 0xFF);
}
uint32_t Other(int64_t x, int64_t y) { return 0xFF000000u | uint32_t((x + 1) * 20) << 16 | uint32_t((y + 1) * 30); }
PixelFn Solid(uint32_t colour) {
    return [colour](int64_t, int64_t) { return colour; };
}
constexpr uint32_t kOpaqueBlack = 0xFF000000u;

// Where a w x h picture at (px, py) shows `inside`, else `outside`.
PixelFn Placed(int64_t px, int64_t py, int64_t w, int64_t h, PixelFn inside, PixelFn outside) {
    return [=](int64_t x, int64_t y) {
        if (x >= px && x < px + w && y >= py && y < py + h) return inside(x - px, y - py);
        return outside(x, y);
    };
}

using LayerLine = std::vector<Kw>;

// ------------------------------------------------------------ the first picture

TEST_F(LayerCommandTest, FirstPictureLoadsMovesAndIsComposed) {
    WriteBmp("bg.bmp", 8, 6, Picture);
    // layer name="bg" no=1 file="bg.bmp"
    ASSERT_EQ(Run("layer", {{"name", R"("bg")"}, {"no", "1"}, {"file", R"("bg.bmp")"}}), 0);
    ExpectClean();
    NamedTreeNode* bg = Leaf("W0/bg.1");
    ASSERT_NE(bg, nullptr);
    EXPECT_EQ(bg->order_key, 1);
    const CgImage& image = *LayerImage(bg);
    EXPECT_EQ(image.width, 8);
    EXPECT_EQ(image.height, 6);
    EXPECT_EQ(image.alpha_in_use, 0);
    EXPECT_EQ(TheLayerGpuRequests().full_redraw, 1);
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Placed(0, 0, 8, 6, Picture, Solid(0)), "loaded");

    // layer name="bg" no=1 x=4 y=2
    ASSERT_EQ(Run("layer", {{"name", R"("bg")"}, {"no", "1"}, {"x", "4"}, {"y", "2"}}), 0);
    EXPECT_EQ(image.x100, 400);
    EXPECT_EQ(image.y100, 200);
    // The old area and the new one are both dirty in the window.
    EXPECT_EQ(Canvas().dirty_rect, (LayerRect{0, 0, 11, 7}));
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Placed(4, 2, 8, 6, Picture, Solid(0)), "moved");
}

// ------------------------------------------------------------ creation rules

TEST_F(LayerCommandTest, NewLayerRulesAndErrors) {
    WriteBmp("a.bmp", 2, 2, Picture);
    ASSERT_EQ(Run("layer", {{"name", R"("bg")"}, {"no", "1"}, {"file", R"("a.bmp")"}}), 0);
    const int32_t children = w0_->child_count;
    struct Case {
        const char* what;
        LayerLine line;
        uint8_t switch_value;
        int32_t result;
        std::string message;  // "" when nothing is reported
    };
    const Case cases[] = {
        {"only a name, switch cleared", {{"name", R"("ghost")"}}, 0, 0, ""},
        {"only a name, switch set", {{"name", R"("ghost")"}}, 1, -1, "E101230|layer|W0/ghost|"},
        {"a file without number or priority", {{"name", R"("p")"}, {"file", R"("a.bmp")"}}, 1, -1, "E100240|layer||"},
        {"a new group with a file", {{"name", R"("ui/")"}, {"priority", "2"}, {"file", R"("a.bmp")"}}, 1, -1,
         "E101280|layer||"},
        {"a new group with a share", {{"name", R"("ui/")"}, {"priority", "2"}, {"share", R"("bg.1")"}}, 1, -1,
         "E101280|layer||"},
        {"a new group without an order", {{"name", R"("ui/")"}, {"width", "8"}, {"height", "4"}}, 1, 0, ""},
        {"a new group without a height", {{"name", R"("ui/")"}, {"priority", "2"}, {"width", "8"}}, 1, 0, ""},
        {"a negative width", {{"name", R"("p")"}, {"no", "2"}, {"file", R"("a.bmp")"}, {"width", "-2"}, {"height", "3"}},
         1, -1, "E101010|layer|width|-2|-1"},
        {"a negative height on a group",
         {{"name", R"("ui/")"}, {"priority", "2"}, {"width", "8"}, {"height", "-5"}}, 1, -1,
         "E101010|layer|height|-5|-1"},
        {"a space in a folder", {{"name", R"("a b/c")"}, {"no", "2"}, {"file", R"("a.bmp")"}}, 1, -1,
         "E100242|W0/a b/c.2||"},
    };
    for (const Case& c : cases) {
        ForgetReports();
        CommandSwitches()[kCmdSetLayer] = c.switch_value;
        EXPECT_EQ(Run("layer", c.line), c.result) << c.what;
        if (c.message.empty()) {
            EXPECT_EQ(ErrorReporter().reports, 0u) << c.what << ": " << LastMessage();
        } else {
            EXPECT_EQ(LastMessage().substr(0, c.message.size()), c.message) << c.what;
        }
        EXPECT_EQ(w0_->child_count, children) << c.what << ": nothing is created";
    }
}

TEST_F(LayerCommandTest, NumberAndPriorityGiveTheOrderKey) {
    WriteBmp("a.bmp", 2, 2, Picture);
    // layer name="bg" no=3 file="a.bmp"
    ASSERT_EQ(Run("layer", {{"name", R"("bg")"}, {"no", "3"}, {"file", R"("a.bmp")"}}), 0);
    NamedTreeNode* bg = Leaf("W0/bg.3");
    ASSERT_NE(bg, nullptr);
    EXPECT_EQ(bg->order_key, 3);
    // layer name="top" priority=7 file="a.bmp": the priority is the order key.
    ASSERT_EQ(Run("layer", {{"name", R"("top")"}, {"priority", "7"}, {"file", R"("a.bmp")"}}), 0);
    NamedTreeNode* top = Leaf("W0/top");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->order_key, 7);
    EXPECT_EQ(w0_->last_child, top);
    // layer name="top" priority-=9: never below 1, and re-placed among its siblings.
    ASSERT_EQ(Run("layer", {{"name", R"("top")"}, {"priority", "9", kArgSubtract}}), 0);
    EXPECT_EQ(top->order_key, 1);
    EXPECT_EQ(w0_->first_child, top);
    ExpectClean();
}

// ------------------------------------------------------------ operators

TEST_F(LayerCommandTest, OpacityAndPositionFollowTheirOperators) {
    WriteBmp("a.bmp", 2, 2, Picture);
    ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "1"}, {"file", R"("a.bmp")"}}), 0);
    CgImage& image = *LayerImage(Leaf("W0/s.1"));
    struct Case {
        const char* keyword;
        uint8_t op;
        const char* argument;
        int64_t before;
        int64_t after;
    };
    const Case opacity_cases[] = {
        {"opacity", kArgAdd, "100", 200, 256},     {"opacity", kArgSubtract, "300", 200, 0},
        {"opacity", kArgSet, "100", 200, 100},     {"opacity", kArgMultiply, "2", 200, 256},
        {"opacity", kArgDivide, "0", 200, 200},    {"opacity", kArgDivide, "3", 200, 66},
    };
    for (const Case& c : opacity_cases) {
        image.opacity = static_cast<int16_t>(c.before);
        ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "1"}, {c.keyword, c.argument, c.op}}), 0);
        EXPECT_EQ(image.opacity, c.after) << int(c.op) << " " << c.argument;
    }

    // The whole pixel and the 1/100 pixel forms stay in step.
    struct Move {
        LayerLine keywords;
        int64_t x, x100, y, y100;
    };
    const Move moves[] = {
        {{{"x100", "150"}}, 1, 150, 0, 0},
        {{{"x", "-3"}}, -3, -300, 0, 0},
        {{{"x", "5", kArgAdd}}, 2, 200, 0, 0},
        {{{"y100", "-250"}}, 2, 200, -2, -250},
        {{{"y", "4"}, {"y100", "7", kArgAdd}}, 2, 200, 4, 407},
        {{{"x100", "-1"}}, 0, -1, 4, 407},
    };
    for (const Move& m : moves) {
        LayerLine line = {{"name", R"("s")"}, {"no", "1"}};
        line.insert(line.end(), m.keywords.begin(), m.keywords.end());
        ASSERT_EQ(Run("layer", line), 0);
        EXPECT_EQ(image.x, m.x);
        EXPECT_EQ(image.x100, m.x100);
        EXPECT_EQ(image.y, m.y);
        EXPECT_EQ(image.y100, m.y100);
    }
    ExpectClean();
}

TEST_F(LayerCommandTest, VisibilityAndBlendModeReachTheWindow) {
    const uint32_t back = 0xFF604020u;
    const uint32_t front = 0xFFA0C0E0u;
    WriteBmp("back.bmp", kWidth, kHeight, Solid(back));
    WriteBmp("front.bmp", 4, 4, Solid(front));
    ASSERT_EQ(Run("layer", {{"name", R"("back")"}, {"no", "1"}, {"file", R"("back.bmp")"}}), 0);
    // layer name="front" no=2 file="front.bmp" x=8 y=8
    ASSERT_EQ(Run("layer", {{"name", R"("front")"}, {"no", "2"}, {"file", R"("front.bmp")"}, {"x", "8"}, {"y", "8"}}), 0);
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Placed(8, 8, 4, 4, Solid(front), Solid(back)), "shown");

    // layer name="front" no=2 visible=0
    ASSERT_EQ(Run("layer", {{"name", R"("front")"}, {"no", "2"}, {"visible", "0"}}), 0);
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Solid(back), "hidden");

    // layer name="front" no=2 visible=1 blend=1: added to what is under it,
    // every byte (the picture's alpha is not in use).
    ASSERT_EQ(Run("layer", {{"name", R"("front")"}, {"no", "2"}, {"visible", "1"}, {"blend", "1"}}), 0);
    ASSERT_EQ(Frame(), 0);
    uint32_t added = 0;
    for (int c = 0; c < 4; ++c) {
        added |= uint32_t(test::BlendFormula(1, int(front >> (8 * c)) & 0xFF, int(back >> (8 * c)) & 0xFF)) << (8 * c);
    }
    ExpectWindow(Placed(8, 8, 4, 4, Solid(added), Solid(back)), "added");
    ExpectClean();
}

// ------------------------------------------------------------ images

TEST_F(LayerCommandTest, SharingAndItsFailures) {
    WriteBmp("bg.bmp", 3, 3, Picture);
    WriteBmp("other.bmp", 2, 2, Other);
    ASSERT_EQ(Run("layer", {{"name", R"("bg")"}, {"no", "1"}, {"file", R"("bg.bmp")"}}), 0);
    CgImage* picture = LayerImage(Leaf("W0/bg.1"));

    // layer name="copy" no=2 share="bg.1"
    ASSERT_EQ(Run("layer", {{"name", R"("copy")"}, {"no", "2"}, {"share", R"("bg.1")"}}), 0);
    EXPECT_EQ(LayerImage(Leaf("W0/copy.2")), picture);
    EXPECT_EQ(picture->reference_count, 2);

    // layer name="both" no=3 file="other.bmp" share="bg.1": the file wins;
    // the shared picture is neither counted again nor overwritten.
    ASSERT_EQ(Run("layer", {{"name", R"("both")"}, {"no", "3"}, {"file", R"("other.bmp")"}, {"share", R"("bg.1")"}}), 0);
    CgImage* both = LayerImage(Leaf("W0/both.3"));
    ASSERT_NE(both, nullptr);
    EXPECT_NE(both, picture);
    EXPECT_EQ(both->reference_count, 1);
    EXPECT_EQ(picture->reference_count, 2);
    EXPECT_EQ(picture->width, 3);
    EXPECT_EQ(ReadPixel(*picture, 2, 1), Picture(2, 1));
    EXPECT_EQ(ReadPixel(*both, 1, 1), Other(1, 1));
    ExpectClean();

    // A share that fails leaves no layer behind: no node without an image.
    const int32_t children = w0_->child_count;
    struct Case {
        const char* what;
        const char* share;
        const char* message;
    };
    const Case cases[] = {
        {"a missing source", R"("nothing")", "E101250|layer|W0/nothing|"},
        {"an empty name", R"("")", ""},
        {"itself", R"("lost.4")", ""},
    };
    for (const Case& c : cases) {
        ForgetReports();
        EXPECT_EQ(Run("layer", {{"name", R"("lost")"}, {"no", "4"}, {"share", c.share}}), -1) << c.what;
        EXPECT_EQ(LastMessage().substr(0, std::string_view(c.message).size()), c.message) << c.what;
        EXPECT_EQ(Leaf("W0/lost.4"), nullptr) << c.what;
        EXPECT_EQ(w0_->child_count, children) << c.what;
    }
    // The name is free again: a later line creates it whole.
    ForgetReports();
    ASSERT_EQ(Run("layer", {{"name", R"("lost")"}, {"no", "4"}, {"share", R"("bg.1")"}}), 0);
    EXPECT_EQ(picture->reference_count, 3);
}

TEST_F(LayerCommandTest, WidthAndHeightCropOrPadAFileJustLoaded) {
    WriteBmp("p.bmp", 4, 3, Picture);
    auto padded = [](int64_t w, int64_t h) {
        return [=](int64_t x, int64_t y) { return x < std::min<int64_t>(w, 4) && y < std::min<int64_t>(h, 3) ? Picture(x, y) : kOpaqueBlack; };
    };
    struct Case {
        int64_t width, height;
    };
    for (Case c : {Case{6, 2}, Case{2, 5}, Case{4, 3}, Case{0, 3}}) {
        // layer name="p" no=1 file="p.bmp" width=W height=H
        ASSERT_EQ(Run("layer", {{"name", R"("p")"},
                                {"no", "1"},
                                {"file", R"("p.bmp")"},
                                {"width", std::to_string(c.width)},
                                {"height", std::to_string(c.height)}}),
                  0);
        const CgImage& image = *LayerImage(Leaf("W0/p.1"));
        ASSERT_EQ(image.width, c.width);
        ASSERT_EQ(image.height, c.height);
        EXPECT_EQ(image.owned_block.size(), uint64_t(c.width) * 4 * uint64_t(c.height + 1) + 4);
        ASSERT_EQ(Frame(), 0);
        ExpectWindow(Placed(0, 0, c.width, c.height, padded(c.width, c.height), Solid(0)),
                     ("padded " + std::to_string(c.width) + "x" + std::to_string(c.height)).c_str());
    }
    ExpectClean();
    const CgImage& image = *LayerImage(Leaf("W0/p.1"));

    // Without a file the size stays (the line still redraws the layer).
    TheLayerGpuRequests().full_redraw = 0;
    ASSERT_EQ(Run("layer", {{"name", R"("p")"}, {"no", "1"}, {"width", "9"}, {"height", "9"}}), 0);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 3);
    EXPECT_EQ(TheLayerGpuRequests().full_redraw, 1);

    // An explicit -1 is "not given": the file keeps its own size.
    ASSERT_EQ(Run("layer", {{"name", R"("p")"}, {"no", "1"}, {"file", R"("p.bmp")"}, {"width", "-1"}, {"height", "-1"}}), 0);
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(image.height, 3);
    ExpectClean();

    // Only one of the two with a file.
    EXPECT_EQ(Run("layer", {{"name", R"("p")"}, {"no", "1"}, {"file", R"("p.bmp")"}, {"width", "5"}}), -1);
    ExpectFatal(kErrLayerResizeHalf);

    // Too wide: the size message and the memory error; the loaded file stays.
    ForgetReports();
    EXPECT_EQ(Run("layer", {{"name", R"("p")"}, {"no", "1"}, {"file", R"("p.bmp")"}, {"width", "8193"}, {"height", "2"}}), -1);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, FormatBounded(Sjis("ＣＧサイズが大きすぎます。X=%d, Y=%d"), {int64_t{8193}, int64_t{2}}));
    EXPECT_NE(QuitFlag.load(), 0);
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(ReadPixel(image, 3, 2), Picture(3, 2));

    // A height no block can hold is refused without wrapping into a small one.
    ForgetReports();
    EXPECT_EQ(Run("layer", {{"name", R"("p")"}, {"no", "1"}, {"file", R"("p.bmp")"}, {"width", "8"}, {"height", "0x100000000"}}), -1);
    EXPECT_NE(QuitFlag.load(), 0);
    EXPECT_EQ(image.width, 4);
}

TEST_F(LayerCommandTest, MaskSourceBlueBecomesAlpha) {
    const uint32_t back = 0xFF204060u;
    const uint32_t sprite = 0xFFC08040u;
    // The mask's blue byte: 255 in the left half, 0 in the right half.
    auto mask = [](int64_t x, int64_t y) { return 0xFF000000u | uint32_t(y * 40) << 8 | (x < 2 ? 0xFFu : 0x00u); };
    WriteBmp("back.bmp", kWidth, kHeight, Solid(back));
    WriteBmp("s.bmp", 4, 4, Solid(sprite));
    WriteBmp("m.bmp", 4, 4, mask);
    WriteBmp("small.bmp", 3, 3, mask);
    ASSERT_EQ(Run("layer", {{"name", R"("back")"}, {"no", "1"}, {"file", R"("back.bmp")"}}), 0);
    ASSERT_EQ(Run("layer", {{"name", R"("m")"}, {"no", "2"}, {"file", R"("m.bmp")"}, {"visible", "0"}}), 0);
    ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "3"}, {"file", R"("s.bmp")"}, {"x", "5"}, {"y", "6"}}), 0);
    ASSERT_EQ(Frame(), 0);
    TheLayerGpuRequests().full_redraw = 0;

    // layer name="s" no=3 masksource="m.2"
    ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "3"}, {"masksource", R"("m.2")"}}), 0);
    ExpectClean();
    const CgImage& image = *LayerImage(Leaf("W0/s.3"));
    EXPECT_EQ(image.alpha_in_use, 1);
    EXPECT_EQ(ReadPixel(image, 1, 3), 0xFF000000u | (sprite & 0xFFFFFF));
    EXPECT_EQ(ReadPixel(image, 2, 3), sprite & 0xFFFFFF);
    // The mask alone redraws nothing.
    EXPECT_EQ(TheLayerGpuRequests().full_redraw, 0);
    EXPECT_EQ(Canvas().changed, 0);

    // The next change shows it: where the mask is blue the sprite, elsewhere
    // what is under it.
    ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "3"}, {"x", "4"}}), 0);
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Placed(4, 6, 2, 4, Solid(sprite), Solid(back)), "masked", 0xFFFFFF);

    // A missing mask source is ignored.
    ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "3"}, {"masksource", R"("none")"}}), 0);
    ExpectClean();

    // A mask source of another size stops the engine with a message box.
    ASSERT_EQ(Run("layer", {{"name", R"("small")"}, {"no", "4"}, {"file", R"("small.bmp")"}}), 0);
    EXPECT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "3"}, {"masksource", R"("small.4")"}}), -1);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, Sjis("レイヤ画像とマスクレイヤ画像のサイズが異なります。"));
    EXPECT_FALSE(ui_.boxes[0].caption.has_value());
    EXPECT_NE(QuitFlag.load(), 0);
}

TEST_F(LayerCommandTest, GroupCanvasIsMadeAndComposedAtOnce) {
    WriteBmp("dot.bmp", 2, 2, Picture);
    // layer name="ui/" priority=2 width=8 height=6 x=3 y=4
    ASSERT_EQ(Run("layer", {{"name", R"("ui/")"}, {"priority", "2"}, {"width", "8"}, {"height", "6"}, {"x", "3"}, {"y", "4"}}), 0);
    NamedTreeNode* ui = Group("W0/ui");
    ASSERT_NE(ui, nullptr);
    EXPECT_EQ(ui->order_key, 2);
    CgImage& canvas = *LayerImage(ui);
    EXPECT_EQ(canvas.width, 8);
    EXPECT_EQ(canvas.height, 6);
    // layer name="ui/dot" no=1 file="dot.bmp" x=1 y=1
    ASSERT_EQ(Run("layer", {{"name", R"("ui/dot")"}, {"no", "1"}, {"file", R"("dot.bmp")"}, {"x", "1"}, {"y", "1"}}), 0);
    ASSERT_NE(Leaf("W0/ui/dot.1"), nullptr);
    ASSERT_EQ(Frame(), 0);
    ExpectWindow(Placed(4, 5, 2, 2, Picture, Solid(0)), "in a group");

    // layer name="ui/" width=10: the canvas is made anew and the children
    // composed into it now.
    ASSERT_EQ(Run("layer", {{"name", R"("ui/")"}, {"width", "10"}}), 0);
    ExpectClean();
    ASSERT_EQ(canvas.width, 10);
    ASSERT_EQ(canvas.height, 6);
    EXPECT_EQ(canvas.allocated_width, 10);
    for (int64_t y = 0; y < 6; ++y)
        for (int64_t x = 0; x < 10; ++x) {
            const bool on_dot = x >= 1 && x < 3 && y >= 1 && y < 3;
            EXPECT_EQ(ReadPixel(canvas, x, y), on_dot ? Picture(x - 1, y - 1) : 0u) << x << ", " << y;
        }

    // A file on an existing group.
    EXPECT_EQ(Run("layer", {{"name", R"("ui/")"}, {"file", R"("dot.bmp")"}}), -1);
    ExpectFatal(kErrGroupWithImage);

    // A canvas too wide: reported, and the group is not left half made.
    ForgetReports();
    const int32_t children = w0_->child_count;
    EXPECT_EQ(Run("layer", {{"name", R"("wide/")"}, {"priority", "3"}, {"width", "9000"}, {"height", "2"}}), -1);
    EXPECT_NE(QuitFlag.load(), 0);
    EXPECT_EQ(Group("W0/wide"), nullptr);
    EXPECT_EQ(w0_->child_count, children);
}

// ------------------------------------------------------------ the other keywords

TEST_F(LayerCommandTest, DrawingParametersMaskNameAndUserValues) {
    WriteBmp("a.bmp", 2, 2, Picture);
    ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "1"}, {"file", R"("a.bmp")"}}), 0);
    CgImage& image = *LayerImage(Leaf("W0/s.1"));
    image.angles[1] = std::numeric_limits<float>::quiet_NaN();
    const std::string long_text = std::string(259, 'a') + std::string(Sjis("あ"));

    ASSERT_EQ(Run("layer", {{"name", R"("s")"},
                            {"no", "1"},
                            {"angle1", "3"},
                            {"angle2", "1", kArgAdd},
                            {"zoomx", "2", kArgMultiply},
                            {"place3", "-7"},
                            {"saturation2", "200", kArgAdd},
                            {"tone2", "0x123456"},
                            {"drawoption", "0x1FF"},
                            {"drawlevel", "5", kArgSubtract},
                            {"keepblock", "1", kArgAdd},
                            {"drawtext", "\"" + long_text + "\""},
                            {"mask", R"("m")"},
                            {"maskno", "2"},
                            {"masklevel", "56", kArgSubtract},
                            {"softness", "0x10100"},
                            {"tone", "0x40", kArgAdd},
                            {"saturation", "200", kArgAdd}}),
              0);
    ExpectClean();
    EXPECT_EQ(image.angles[0], 3.0f);
    EXPECT_EQ(image.angles[1], 1.0f) << "NaN counts as 0";
    EXPECT_EQ(image.zoom_x, 20000);
    EXPECT_EQ(image.placement[2], -7);
    EXPECT_EQ(image.saturation2, 256);
    EXPECT_EQ(image.tone2, 0x123456u);
    EXPECT_EQ(image.drawing_option, 0xFF);
    EXPECT_EQ(image.drawing_level, 0);
    EXPECT_EQ(image.keep_block, 1);
    // Cut before the double-byte character that does not fit whole.
    EXPECT_EQ(image.drawing_text, std::string(259, 'a'));
    EXPECT_EQ(image.mask_layer_name, "m.2");
    EXPECT_EQ(image.mask_level, 200);
    EXPECT_EQ(image.mask_softness, 0x100);
    EXPECT_EQ(image.tone, 0x8080C0u);
    EXPECT_EQ(image.saturation, 256);

    // The user values redraw nothing.
    ASSERT_EQ(Frame(), 0);
    TheLayerGpuRequests().full_redraw = 0;
    ASSERT_EQ(Run("layer", {{"name", R"("s")"}, {"no", "1"}, {"user1", "5"}, {"user2", "-9"}, {"opacity", "256"}}), 0);
    EXPECT_EQ(image.user_value1, 5);
    EXPECT_EQ(image.user_value2, -9);
    EXPECT_EQ(TheLayerGpuRequests().full_redraw, 0);
    EXPECT_EQ(Canvas().changed, 0);
}

// A GPU path standing in for the real one, counting what it is asked.
struct FakeGpu {
    static inline bool layer_mode = false;
    static inline int textures_built = 0;
    static inline int frames_drawn = 0;
    static inline int32_t result = 0;
    static inline uint8_t option = 0;
    static inline int32_t caps[2] = {};
    static void Install() {
        LayerGpuRequests& gpu = TheLayerGpuRequests();
        gpu.direct3d_layer_mode = [] { return layer_mode; };
        gpu.create_layer_textures = [](CgImage&, uint8_t option_byte, int32_t width_cap, int32_t height_cap) {
            ++textures_built;
            option = option_byte;
            caps[0] = width_cap;
            caps[1] = height_cap;
            return result;
        };
        gpu.draw_layer_frame = [] { ++frames_drawn; };
        layer_mode = false;
        textures_built = frames_drawn = 0;
        result = 0;
    }
};

TEST_F(LayerCommandTest, TextureKeywordsRecordTheirStateForTheGpuPath) {
    WriteBmp("a.bmp", 2, 2, Picture);
    ASSERT_EQ(Run("layer", {{"name", R"("a")"}, {"no", "1"}, {"file", R"("a.bmp")"}}), 0);
    ASSERT_EQ(Run("layer", {{"name", R"("b")"}, {"no", "2"}, {"file", R"("a.bmp")"}}), 0);
    NamedTreeNode* a = Leaf("W0/a.1");
    NamedTreeNode* b = Leaf("W0/b.2");
    LayerGpuRequests& gpu = TheLayerGpuRequests();

    // The capture layer: 1 takes it, 0 on any layer clears it, others do nothing.
    ASSERT_EQ(Run("layer", {{"name", R"("a")"}, {"no", "1"}, {"capture", "1"}}), 0);
    EXPECT_EQ(gpu.capture_layer, a);
    ASSERT_EQ(Run("layer", {{"name", R"("b")"}, {"no", "2"}, {"capture", "2"}}), 0);
    EXPECT_EQ(gpu.capture_layer, a);
    ASSERT_EQ(Run("layer", {{"name", R"("b")"}, {"no", "2"}, {"capture", "0"}}), 0);
    EXPECT_EQ(gpu.capture_layer, nullptr);
    ASSERT_EQ(Run("layer", {{"name", R"("b")"}, {"no", "2"}, {"capture", "1"}}), 0);
    EXPECT_EQ(gpu.capture_layer, b);
    // Deleting the capture layer forgets it.
    ASSERT_EQ(Run("dellayer", {{"name", R"("b")"}, {"no", "2"}}), 0);
    EXPECT_EQ(gpu.capture_layer, nullptr);

    // Outside Direct3D layer mode the texture form and the draw do nothing.
    FakeGpu::Install();
    ASSERT_EQ(Run("layer", {{"name", R"("a")"}, {"no", "1"}, {"texture", "1"}, {"texoption", "3"}, {"draw", "1"}}), 0);
    EXPECT_EQ(LayerImage(a)->texture_kind, kTextureKindCpu);
    EXPECT_EQ(FakeGpu::textures_built, 0);
    EXPECT_EQ(FakeGpu::frames_drawn, 0);

    FakeGpu::layer_mode = true;
    ASSERT_EQ(Run("layer", {{"name", R"("a")"}, {"no", "1"}, {"texture", "1"}, {"texoption", "3"}, {"draw", "1"}}), 0);
    EXPECT_EQ(LayerImage(a)->texture_kind, kTextureKindGrid);
    EXPECT_EQ(FakeGpu::textures_built, 1);
    EXPECT_EQ(FakeGpu::option, 2);
    EXPECT_EQ(FakeGpu::caps[0], 512);
    EXPECT_EQ(FakeGpu::caps[1], 256);
    EXPECT_EQ(FakeGpu::frames_drawn, 1);
    // Without an option the option byte is 0; a grid that is not built fails the line.
    FakeGpu::result = 1;
    EXPECT_EQ(Run("layer", {{"name", R"("a")"}, {"no", "1"}, {"texture", "1"}}), -1);
    EXPECT_EQ(FakeGpu::option, 0);
    ExpectClean();
}

}  // namespace
}  // namespace zk::layer_test
