// Flash movies (commands 22..24) without a player: the state the commands
// keep, the questions about the control answering 0 without a box, and
// results cleared while no movie is open.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "sound/flash_movie.h"
#include "tests/layers/layer_command_test_support.h"

namespace zk::layer_test {
namespace {

class FlashMovieTest : public LayerCommandTest {
protected:
    void SetUp() override {
        LayerCommandTest::SetUp();
        RegisterFlashCommands();
        ResetFlashMovie();
        Settings().screen_width = 640;
        Settings().screen_height = 480;
        ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), VariableShape{}, 0), 0);
        ASSERT_EQ(FillStringVariable(*FindVariable(1001), VariableShape{}, ""), 0);
        ASSERT_TRUE(tools::WriteFile((game_ / "intro.swf").string(), std::vector<uint8_t>{'F', 'W', 'S', 9}));
        platform::ClearPathCache();
    }
    void TearDown() override {
        ResetFlashMovie();
        LayerCommandTest::TearDown();
    }
    int64_t Query(const std::string& keyword) {
        EXPECT_EQ(Run("flashinfo", {{keyword, "1"}, {"result", "$1000"}}), 0);
        return GetIntegerElement(1000, 0);
    }
};

TEST_F(FlashMovieTest, OpenKeepsTheStateAndTheControlAnswersZero) {
    ASSERT_EQ(Run("flash", {{"file", R"("Intro.SWF")"}, {"open", "1"}, {"x", "100"}, {"w", "320"}, {"value", "77"}}),
              0);
    const FlashMovie& movie = TheFlashMovie();
    EXPECT_TRUE(movie.open);
    EXPECT_EQ(movie.file, "intro.swf");
    EXPECT_EQ(movie.use_count, 0);
    struct Case {
        const char* keyword;
        int64_t want;
    };
    // Absent keywords 3 and 5 (y, h) were reset to 0 and the screen height.
    for (const Case& c : {Case{"playing", 0}, Case{"variable", 0}, Case{"x", 100}, Case{"y", 0}, Case{"w", 320},
                          Case{"h", 480}, Case{"frame", 0}, Case{"value", 77}, Case{"frames", 0}}) {
        SetNumberElement(1000, 0, -5);
        EXPECT_EQ(Query(c.keyword), c.want) << c.keyword;
    }
    EXPECT_TRUE(ui_.boxes.empty());  // not even for the variable
    // The operators apply to the stored area; without a file nothing resets.
    ASSERT_EQ(Run("flash", {{"x", "20", kArgAdd}, {"h", "2", kArgDivide}}), 0);
    EXPECT_EQ(Query("x"), 120);
    EXPECT_EQ(Query("h"), 240);
    ExpectClean();
}

// Keywords 6..8 on a closed movie clear the result: 0, or the empty text.
TEST_F(FlashMovieTest, ClosedMovieClearsTheResult) {
    for (const char* keyword : {"frame", "value", "frames"}) {
        SetNumberElement(1000, 0, 9);
        EXPECT_EQ(Query(keyword), 0) << keyword;
    }
    ASSERT_EQ(StoreStringElement(1001, 0, "old"), 0);
    ASSERT_EQ(Run("flashinfo", {{"value", "1"}, {"result", "$1001"}}), 0);
    EXPECT_EQ(*GetStringElement(1001, 0), "");
    // A file without the open switch is remembered, not opened.
    ASSERT_EQ(Run("flash", {{"file", R"("intro.swf")"}, {"value", "5"}}), 0);
    EXPECT_FALSE(TheFlashMovie().open);
    SetNumberElement(1000, 0, 9);
    EXPECT_EQ(Query("value"), 0);
    ExpectClean();
}

TEST_F(FlashMovieTest, CloseClearsAndClosingTwiceIsHarmless) {
    ASSERT_EQ(Run("flash", {{"file", R"("intro.swf")"}, {"open", "1"}, {"value", "3"}}), 0);
    ASSERT_EQ(Run("closeflash", {}), 0);
    ASSERT_EQ(Run("closeflash", {}), 0);
    const FlashMovie& movie = TheFlashMovie();
    EXPECT_FALSE(movie.open);
    EXPECT_TRUE(movie.file.empty());
    EXPECT_EQ(movie.user_value, 0);
    EXPECT_EQ(movie.total_frames, 0);
    EXPECT_EQ(movie.use_count, 0);
    ExpectClean();
}

TEST_F(FlashMovieTest, MissingFileIsFatal) {
    EXPECT_EQ(Run("flash", {{"file", R"("gone.swf")"}, {"open", "1"}}), -1);
    EXPECT_EQ(ui_.ErrorNumbers(), std::vector<uint32_t>{104060u});
    EXPECT_NE(QuitFlag.load(), 0);
    EXPECT_FALSE(TheFlashMovie().open);
}

}  // namespace
}  // namespace zk::layer_test
