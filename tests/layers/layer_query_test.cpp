// Layer command 4 driven as a script drives it: each case is one line run
// through the CommandTable into the integer $1000, the text $1001 or the
// real $1002, against layers made by command 1 (pictures from BMP files)
// or painted directly where a case needs particular pixels.
#include <unistd.h>

#include <limits>

#include "layers/layer_query.h"
#include "tests/layers/layer_command_test_support.h"
#include "tests/storage/run_program.h"
#include "tools/lib/script_text.h"
#include "tools/lib/folder_pack.h"
#include "tools/lib/zkcfg_writer.h"

namespace zk::layer_test {
namespace {

using QueryLine = std::vector<Kw>;

constexpr int64_t kJunk = 4242;

class LayerQueryTest : public LayerCommandTest {
protected:
    void SetUp() override {
        LayerCommandTest::SetUp();
        InstallLayerQueryCommand();
        ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), VariableShape{}, 0), 0);
        ASSERT_EQ(FillStringVariable(*FindVariable(1001), VariableShape{}, ""), 0);
        ASSERT_EQ(FillRealVariable(*FindVariable(1002), VariableShape{}, 0.0), 0);
        WindowRecord* window = GetWindowRecord(0);
        window->client_width = kWidth;
        window->client_height = kHeight;
    }

    // layerinfo <line>, result=$1000: the number stored.
    int64_t Query(QueryLine line) {
        FindVariable(1000)->integers.at(0) = kJunk;
        line.push_back({"result", "$1000"});
        EXPECT_EQ(Run("layerinfo", line), 0);
        return FindVariable(1000)->integers.at(0);
    }
    // layerinfo <line>, result=$1001: the text stored.
    std::string QueryText(QueryLine line) {
        FindVariable(1001)->texts.at(0) = "junk";
        line.push_back({"result", "$1001"});
        EXPECT_EQ(Run("layerinfo", line), 0);
        return FindVariable(1001)->texts.at(0);
    }

    // A leaf of w x h pixels from `pixel` (alpha included), at (x, y) in
    // its parent.
    CgImage& PaintedLayer(const std::string& name, int32_t w, int32_t h, const PixelFn& pixel, int64_t x = 0,
                          int64_t y = 0) {
        WriteBmp(name + ".bmp", w, h, pixel);
        // layer name=<name> no=1 file=<name>.bmp
        EXPECT_EQ(Run("layer", {{"name", "\"" + name + "\""}, {"no", "1"}, {"file", "\"" + name + ".bmp\""}}), 0);
        CgImage& image = *LayerImage(Leaf("W0/" + name + ".1"));
        Paint(image, pixel);  // the BMP has no alpha: the pixels as given
        image.x = x;
        image.y = y;
        return image;
    }

    void Mouse(int32_t x, int32_t y) {
        GetWindowRecord(0)->mouse_x = x;
        GetWindowRecord(0)->mouse_y = y;
    }
};

// ------------------------------------------------------------ attributes

TEST_F(LayerQueryTest, AttributesSetByCommandOneReadBack) {
    WriteBmp("a.bmp", 6, 5, [](int64_t, int64_t) { return 0xFF102030u; });
    // layer name="bg" no=1 file="a.bmp" x=5 y=-3 opacity=100 visible=0
    //   blend=3 masklevel=70 mask="m" softness=9 user1=7 user2=-2 zoomx=150
    //   place3=33 place4=44 place5=55
    ASSERT_EQ(Run("layer", {{"name", R"("bg")"},  {"no", "1"},        {"file", R"("a.bmp")"}, {"x", "5"},
                            {"y", "-3"},          {"opacity", "100"}, {"visible", "0"},       {"blend", "3"},
                            {"masklevel", "70"},  {"mask", R"("m")"}, {"softness", "9"},      {"user1", "7"},
                            {"user2", "-2"},      {"zoomx", "150"},   {"place3", "33"},       {"place4", "44"},
                            {"place5", "55"}}),
              0);
    ExpectClean();
    const Kw bg = {"name", R"("bg")"}, one = {"no", "1"};
    struct Case {
        const char* what;
        QueryLine selectors;
        int64_t want;
    };
    const Case cases[] = {
        {"exists", {{"exists", "1"}}, 1},
        {"visible", {{"visible", "1"}}, 0},
        {"opacity", {{"opacity", "1"}}, 100},
        {"mask level", {{"masklevel", "1"}}, 70},
        {"softness", {{"softness", "1"}}, 9},
        {"x", {{"x", "1"}}, 5},
        {"y", {{"y", "1"}}, -3},
        {"order key", {{"priority", "1"}}, 1},
        {"blend mode", {{"blend", "1"}}, 3},
        {"width", {{"width", "1"}}, 6},
        {"height", {{"height", "1"}}, 5},
        {"zoom x", {{"zoomx", "1"}}, 150},
        {"zoom y", {{"zoomy", "1"}}, 10000},
        {"placement 3", {{"place3", "1"}}, 33},
        {"placement 5", {{"place5", "1"}}, 55},
        {"texture kind", {{"texture", "1"}}, 0},
        {"user value 1", {{"user1", "1"}}, 7},
        {"user value 2", {{"user2", "1"}}, -2},
        {"nothing asked", {}, 0},
        // The first selector in the command's order wins, whatever the
        // order of the line: 2, 3, 4, 9, 10, 11, 5, 6, 7, 12..20, 26, 27.
        {"x before y", {{"y", "1"}, {"x", "1"}}, 5},
        {"mask level before x", {{"x", "1"}, {"masklevel", "1"}}, 70},
        {"exists before all", {{"user1", "1"}, {"visible", "1"}, {"exists", "1"}}, 1},
        {"zoom before user values", {{"user1", "1"}, {"zoomy", "1"}}, 10000},
        {"a leaf passes over the group rows", {{"children", "1"}, {"find", "1"}, {"user2", "1"}}, -2},
    };
    for (const Case& c : cases) {
        QueryLine line = {bg, one};
        line.insert(line.end(), c.selectors.begin(), c.selectors.end());
        EXPECT_EQ(Query(line), c.want) << c.what;
    }
    // layerinfo name="bg" no=1 mask=1 result=$1001
    EXPECT_EQ(QueryText({bg, one, {"mask", "1"}}), "m");
    ExpectClean();
}

TEST_F(LayerQueryTest, AMissingLayerStoresZeroOrTheEmptyTextWithoutAnError) {
    // layerinfo name="ghost" x=1 result=$1000 (then $1001, then $1002)
    EXPECT_EQ(Query({{"name", R"("ghost")"}, {"x", "1"}}), 0);
    EXPECT_EQ(QueryText({{"name", R"("ghost")"}, {"x", "1"}}), "");
    FindVariable(1002)->reals.at(0) = 9.5;
    ASSERT_EQ(Run("layerinfo", {{"name", R"("ghost")"}, {"x", "1"}, {"result", "$1002"}}), 0);
    EXPECT_EQ(FindVariable(1002)->reals.at(0), 0.0);
    // A group path that names no group.
    EXPECT_EQ(Query({{"name", R"("ghost/")"}, {"children", "1"}}), 0);
    ExpectClean();
    // A number asked into a text variable is the variable's error.
    ASSERT_EQ(Run("layerinfo", {{"name", R"(":W0/")"}, {"exists", "1"}, {"result", "$1001"}}), 0);
    ExpectFatal(101140);
}

// ------------------------------------------------------------ children

TEST_F(LayerQueryTest, ChildrenAreNumberedFromTheLast) {
    WriteBmp("a.bmp", 2, 2, [](int64_t, int64_t) { return 0xFF000000u; });
    // layer name="ui/" priority=5 width=8 height=8
    ASSERT_EQ(Run("layer", {{"name", R"("ui/")"}, {"priority", "5"}, {"width", "8"}, {"height", "8"}}), 0);
    // layer name="ui/first" priority=1 file="a.bmp" user1=7 user2=1
    // layer name="ui/second" priority=2 file="a.bmp" user1=3 user2=1
    // layer name="ui/sub/" priority=3 width=4 height=4 user1=3
    ASSERT_EQ(Run("layer", {{"name", R"("ui/first")"}, {"priority", "1"}, {"file", R"("a.bmp")"}, {"user1", "7"},
                            {"user2", "1"}}),
              0);
    ASSERT_EQ(Run("layer", {{"name", R"("ui/second")"}, {"priority", "2"}, {"file", R"("a.bmp")"}, {"user1", "3"},
                            {"user2", "1"}}),
              0);
    ASSERT_EQ(Run("layer", {{"name", R"("ui/sub/")"}, {"priority", "3"}, {"width", "4"}, {"height", "4"},
                            {"user1", "3"}}),
              0);
    ExpectClean();
    const Kw ui = {"name", R"("ui/")"};
    const std::string big = std::to_string(std::numeric_limits<int64_t>::max());
    const std::string small = "(0 - " + big + " - 1)";
    struct Case {
        const char* what;
        QueryLine selectors;
        int64_t want;
    };
    const Case cases[] = {
        {"three children", {{"children", "1"}}, 3},
        {"child 1 is a group", {{"childgroup", "1"}, {"n", "1"}}, 1},
        {"child 3 is a leaf", {{"childgroup", "1"}, {"n", "3"}}, 0},
        {"child 4 falls through to nothing", {{"childname", "1"}, {"n", "4"}}, 0},
        {"child 0 falls through to nothing", {{"childgroup", "1"}, {"n", "0"}}, 0},
        {"a huge n falls through", {{"childgroup", "1"}, {"n", big}}, 0},
        {"a missing child falls through to the next row", {{"childgroup", "1"}, {"n", "9"}, {"colourat", "1"},
                                                            {"px", "0"}, {"py", "0"}}, 0},
        // Keyword 28: by user value 1, 2 or both, from position 32 on.
        {"only the first child has user1 7", {{"find", "1"}, {"user1", "7"}}, 3},
        {"user1 3: the last child comes first", {{"find", "1"}, {"user1", "3"}}, 1},
        {"user1 3 from position 2", {{"find", "1"}, {"user1", "3"}, {"n", "2"}}, 2},
        {"both values", {{"find", "1"}, {"user1", "3"}, {"user2", "1"}}, 2},
        {"user2 alone", {{"find", "1"}, {"user2", "1"}}, 2},
        {"no match", {{"find", "1"}, {"user1", "99"}}, -1},
        {"start beyond the children", {{"find", "1"}, {"user1", "7"}, {"n", "4"}}, -1},
        {"start at a huge position", {{"find", "1"}, {"user1", "7"}, {"n", big}}, -1},
        {"start 0 or below counts as 1", {{"find", "1"}, {"user1", "3"}, {"n", small}}, 1},
        {"no user value to look for", {{"find", "1"}, {"n", "1"}}, 0},
        {"find comes before the group's own user value", {{"user1", "5"}, {"find", "1"}}, -1},
    };
    for (const Case& c : cases) {
        QueryLine line = {ui};
        line.insert(line.end(), c.selectors.begin(), c.selectors.end());
        EXPECT_EQ(Query(line), c.want) << c.what;
    }
    // layerinfo name="ui/" childname=1 n=1 result=$1001: the last child.
    EXPECT_EQ(QueryText({ui, {"childname", "1"}, {"n", "1"}}), "sub");
    EXPECT_EQ(QueryText({ui, {"childname", "1"}, {"n", "3"}}), "first");
    ExpectClean();
}

// ------------------------------------------------------------ pixels

TEST_F(LayerQueryTest, PixelsUnderAWindowPoint) {
    // A 4 x 3 layer at (6, 5) in a group at (10, 2): its pixels lie at
    // (16..19, 7..9) of the window. Pixel (1, 1) is opaque white.
    const PixelFn pixel = [](int64_t x, int64_t y) -> uint32_t {
        if (x == 1 && y == 1) return 0xFFFFFFFFu;
        return uint32_t((y * 4 + x) * 10) << 24 | 0x123456u;
    };
    // layer name="g/" priority=1 width=20 height=20 x=10 y=2
    ASSERT_EQ(Run("layer", {{"name", R"("g/")"}, {"priority", "1"}, {"width", "20"}, {"height", "20"}, {"x", "10"},
                            {"y", "2"}}),
              0);
    WriteBmp("p.bmp", 4, 3, pixel);
    // layer name="g/p" no=1 file="p.bmp" x=6 y=5
    ASSERT_EQ(Run("layer", {{"name", R"("g/p")"}, {"no", "1"}, {"file", R"("p.bmp")"}, {"x", "6"}, {"y", "5"}}), 0);
    Paint(*LayerImage(Leaf("W0/g/p.1")), pixel);
    const Kw p = {"name", R"("g/p")"}, one = {"no", "1"};
    struct Case {
        const char* what;
        int32_t mouse_x, mouse_y;
        QueryLine selectors;
        int64_t want;
    };
    const Case cases[] = {
        {"opaque white: the whole pixel as a signed number", 17, 8, {{"pixel", "0"}}, -1},
        {"opaque white: its colour", 17, 8, {{"colour", "0"}}, 16777215},
        {"opaque white: its alpha", 17, 8, {{"alpha", "0"}}, 255},
        {"the first pixel", 16, 7, {{"pixel", "0"}}, 0x00123456},
        {"the last pixel's alpha", 19, 9, {{"alpha", "0"}}, 110},
        {"the last pixel", 19, 9, {{"pixel", "0"}}, int64_t(int32_t(0x6E123456u))},
        {"left of the layer", 15, 8, {{"colour", "0"}}, -1},
        {"below the layer", 17, 10, {{"colour", "0"}}, -1},
        {"px and py replace the mouse", 0, 0, {{"alpha", "0"}, {"px", "19"}, {"py", "9"}}, 110},
        {"py alone", 17, 0, {{"colour", "0"}, {"py", "8"}}, 16777215},
        {"a negative point", 17, 8, {{"colour", "0"}, {"px", "-1"}}, -1},
        {"outside the client area", 17, 8, {{"colour", "0"}, {"py", "24"}}, -1},
        {"a huge point", 17, 8, {{"colour", "0"}, {"px", "4294967313"}}, -1},
        {"a window number is clamped: -5 is window 0", 17, 8, {{"colour", "-5"}}, 16777215},
        {"window 9 is window 3, which has no client area", 17, 8, {{"colour", "9"}}, -1},
        {"colour comes before alpha", 17, 8, {{"alpha", "0"}, {"colour", "0"}}, 16777215},
        {"the user values come before the pixels", 17, 8, {{"alpha", "0"}, {"user1", "1"}}, 0},
    };
    for (const Case& c : cases) {
        Mouse(c.mouse_x, c.mouse_y);
        QueryLine line = {p, one};
        line.insert(line.end(), c.selectors.begin(), c.selectors.end());
        EXPECT_EQ(Query(line), c.want) << c.what;
    }
    ExpectClean();
}

TEST_F(LayerQueryTest, TheOriginSumsEachPositionAsThirtyTwoBitsWithoutWrapping) {
    // layer name="g/" priority=1 width=8 height=8 x=2147483647
    // layer name="g/p" no=1 file="p.bmp" x=2147483647
    // Summed in 32 bits the origin would wrap to -2 and point 0 would find
    // pixel 2 of the layer; it lies far right of the window.
    ASSERT_EQ(Run("layer", {{"name", R"("g/")"}, {"priority", "1"}, {"width", "8"}, {"height", "8"},
                            {"x", "2147483647"}}),
              0);
    WriteBmp("p.bmp", 4, 1, [](int64_t, int64_t) { return 0xFFABCDEFu; });
    ASSERT_EQ(Run("layer", {{"name", R"("g/p")"}, {"no", "1"}, {"file", R"("p.bmp")"}, {"x", "2147483647"}}), 0);
    Mouse(0, 0);
    const Kw p = {"name", R"("g/p")"}, one = {"no", "1"};
    EXPECT_EQ(Query({p, one, {"colour", "0"}}), -1);
    // Each position counts with its low 32 bits: 2^32 + 3 is 3.
    // layer name="g/" x=0   layer name="g/p" no=1 x=4294967299
    ASSERT_EQ(Run("layer", {{"name", R"("g/")"}, {"x", "0"}}), 0);
    ASSERT_EQ(Run("layer", {{"name", R"("g/p")"}, {"no", "1"}, {"x", "4294967299"}}), 0);
    Mouse(3, 0);
    EXPECT_EQ(Query({p, one, {"colour", "0"}}), 0xABCDEF);
    Mouse(2, 0);
    EXPECT_EQ(Query({p, one, {"colour", "0"}}), -1);
    ExpectClean();
}

TEST_F(LayerQueryTest, ALayersOwnPixelAndItsBoundingBox) {
    // One visible pixel, at column 5 of row 2; alpha 40 at (1, 3).
    PaintedLayer("dot", 8, 4, [](int64_t x, int64_t y) -> uint32_t {
        if (x == 5 && y == 2) return 0xFF00FF00u;
        if (x == 1 && y == 3) return 0x28FF0000u;
        return 0x00808080u;
    });
    const Kw dot = {"name", R"("dot")"}, one = {"no", "1"};
    struct Case {
        const char* what;
        QueryLine selectors;
        int64_t want;
    };
    const Case cases[] = {
        {"its own pixel", {{"colourat", "1"}, {"px", "5"}, {"py", "2"}}, 0x00FF00},
        {"right of it", {{"colourat", "1"}, {"px", "8"}, {"py", "2"}}, -1},
        {"above it", {{"colourat", "1"}, {"px", "0"}, {"py", "-1"}}, -1},
        {"leftmost above alpha 100", {{"bounds", "1"}, {"px", "3"}, {"py", "100"}}, 5},
        {"rightmost above alpha 100", {{"bounds", "1"}, {"px", "4"}, {"py", "100"}}, 5},
        {"top row above alpha 100", {{"bounds", "1"}, {"px", "1"}, {"py", "100"}}, 2},
        {"bottom row above alpha 100", {{"bounds", "1"}, {"px", "2"}, {"py", "100"}}, 2},
        {"leftmost above alpha 39", {{"bounds", "1"}, {"px", "3"}, {"py", "39"}}, 1},
        {"bottom row above alpha 39", {{"bounds", "1"}, {"px", "2"}, {"py", "39"}}, 3},
        {"alpha 40 is not above 40", {{"bounds", "1"}, {"px", "3"}, {"py", "40"}}, 5},
        {"nothing above 255", {{"bounds", "1"}, {"px", "3"}, {"py", "255"}}, -1},
        {"another selector", {{"bounds", "1"}, {"px", "5"}, {"py", "0"}}, 0},
        {"no threshold counts every pixel above 0", {{"bounds", "1"}, {"px", "3"}}, 1},
        {"no selector", {{"bounds", "1"}, {"py", "0"}}, 0},
    };
    for (const Case& c : cases) {
        QueryLine line = {dot, one};
        line.insert(line.end(), c.selectors.begin(), c.selectors.end());
        EXPECT_EQ(Query(line), c.want) << c.what;
    }
    ExpectClean();

    // layerinfo name="dot" no=1 colourat=1 px=5 result=$1000: without py.
    FindVariable(1000)->integers.at(0) = kJunk;
    EXPECT_EQ(Run("layerinfo", {dot, one, {"colourat", "1"}, {"px", "5"}, {"result", "$1000"}}), -1);
    ExpectFatal(101295);
    EXPECT_EQ(LastMessage().substr(0, 26), "E101295|layerinfo|colourat");
    EXPECT_EQ(FindVariable(1000)->integers.at(0), kJunk) << "nothing stored";
    ForgetReports();
    EXPECT_EQ(Run("layerinfo", {dot, one, {"colourat", "1"}, {"py", "5"}, {"result", "$1000"}}), -1);
    ExpectFatal(101295);
}

// A layer whose record has no pixel block (or one too small for its size):
// every pixel selector answers -1 and reads nothing.
TEST_F(LayerQueryTest, ALayerWithoutPixelsAnswersMinusOne) {
    CgImage& image = PaintedLayer("empty", 4, 4, [](int64_t, int64_t) { return 0xFFFFFFFFu; });
    Mouse(1, 1);
    const Kw empty = {"name", R"("empty")"}, one = {"no", "1"};
    const QueryLine selectors[] = {
        {{"colour", "0"}},
        {{"alpha", "0"}},
        {{"pixel", "0"}},
        {{"colourat", "1"}, {"px", "1"}, {"py", "1"}},
        {{"bounds", "1"}, {"px", "1"}, {"py", "0"}},
    };
    for (int state = 0; state < 2; ++state) {
        if (state == 0) {
            image.owned_block.Reset();
            image.current_pixels = nullptr;
        } else {
            // A block that holds the first row only.
            ASSERT_TRUE(image.owned_block.Resize(16));
            image.current_pixels = image.owned_block.data();
        }
        for (const QueryLine& s : selectors) {
            QueryLine line = {empty, one};
            line.insert(line.end(), s.begin(), s.end());
            EXPECT_EQ(Query(line), -1) << s.front().keyword << " in state " << state;
        }
    }
    EXPECT_EQ(Query({empty, one, {"width", "1"}}), 4) << "the record still answers";
    ExpectClean();
}

// ------------------------------------------------------------ a player's pointer

// The whole engine, played by an input file: the script asks each frame for
// the colour under the mouse and ends the game once it is the picture's
// blue pixel. The pointer rests off the picture until frame 6, so the game
// ends at frame 6, not before and not after.
TEST(LayerQueryRunTest, TheColourUnderThePointerOfAnInputFile) {
    const fs::path folder = fs::temp_directory_path() / ("zorvek-layerquery-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    tools::ScriptText script = tools::ScriptGame(R"(
int colour
label SYSTEM_START
layer name="pic", priority=1, x=20, y=10, file="pic.bmp"
loop
  layerinfo name="pic", colour=0, result=colour
  if colour == 0x3366CC
    endprogram
  end
  wait 1
end
)");
    ASSERT_TRUE(script.game.Write(folder));
    tools::EngineConfigFile config;
    config.title = "query";
    ASSERT_TRUE(tools::WriteReleaseConfig(folder, config));
    tools::BmpImage bmp;
    bmp.width = 4;
    bmp.height = 4;
    for (int i = 0; i < 16; ++i) bmp.values.push_back(i == 6 ? 0x3366CCu : 0x808080u);  // (2, 1) is blue
    ASSERT_TRUE(tools::WriteFile((folder / "pic.bmp").string(), tools::BuildBmp(bmp)));
    // Off the picture, then on a grey pixel of it, then on the blue one.
    const std::string input = "2 move 5 5\n4 move 21 10\n6 move 22 11\n";
    ASSERT_TRUE(tools::WriteFile((folder / "input.txt").string(), std::vector<uint8_t>(input.begin(), input.end())));

    const storage_test::RunResult run = storage_test::RunProgram(
        {(fs::path(ZORVEK_BINARY_DIR) / "zorvek").string(), "--game", folder.string(), "--input",
         (folder / "input.txt").string(), "--frames", "60"},
        folder / "log.txt");
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, "zorvek: 6 frames, stopped by the game\n");
    fs::remove_all(folder);
}

}  // namespace
}  // namespace zk::layer_test
