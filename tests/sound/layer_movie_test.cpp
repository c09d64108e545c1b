// Theora movies played into layers (commands 73..76) on a manual clock, on
// movies made by tools/lib/movie_writer.h in the game folder. The expected
// pixels are libtheoradec's own output through the conversion formula
// (tests/theora_reference.h).
#include <gtest/gtest.h>

#include "base/system_text.h"
#include "core/engine_hooks.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/codec_registry.h"
#include "sound/layer_movie.h"
#include "sound/window_movie_state.h"
#include "tests/layers/layer_command_test_support.h"
#include "tests/theora_reference.h"
#include "tools/lib/movie_writer.h"

namespace zk::layer_test {
namespace {

using testing_support::DecodeReferenceMovie;
using testing_support::ReferenceMovie;

class LayerMovieTest : public LayerCommandTest {
protected:
    void SetUp() override {
        LayerCommandTest::SetUp();
        platform::InstallClock(&clock_);
        RegisterLayerMovieCommands();
        Hooks().tree_node_freed = ForgetLayerMovieTarget;
        ResetLayerMovie();
        platform::ResetCodecRegistry();
        TheWindowMovieState().w = TheWindowMovieState().h = 0;
        TheWindowMovieState().playing = 0;
        ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), VariableShape{}, 0), 0);
    }
    void TearDown() override {
        ResetLayerMovie();
        Hooks().tree_node_freed = nullptr;
        platform::ResetCodecRegistry();
        platform::InstallClock(nullptr);
        LayerCommandTest::TearDown();
    }

    // A movie file in the game folder; its frames as the reference decodes them.
    ReferenceMovie WriteMovie(const std::string& name, uint32_t width, uint32_t height, uint32_t frames,
                              uint32_t seed = 0) {
        tools::TheoraSpec spec;
        spec.pic_width = width;
        spec.pic_height = height;
        spec.frames = frames;
        spec.keyframe_every = 32;
        spec.quality = 20;
        auto pattern = tools::TestPattern();
        spec.planes = [pattern, seed](uint32_t f, int p, uint32_t x, uint32_t y) { return pattern(f + seed, p, x, y); };
        const std::vector<uint8_t> file = tools::TheoraMovieFile(spec);
        EXPECT_TRUE(tools::WriteFile((game_ / name).string(), file));
        platform::ClearPathCache();
        return DecodeReferenceMovie(file);
    }
    // A layer "name".1 of a flat colour.
    NamedTreeNode* MakeLayer(const std::string& name, int32_t width, int32_t height) {
        WriteBmp(name + ".bmp", width, height, [](int64_t, int64_t) { return 0xFF203040u; });
        EXPECT_EQ(Run("layer", {{"name", "\"" + name + "\""}, {"no", "1"}, {"file", "\"" + name + ".bmp\""}}), 0);
        return Leaf("W0/" + name + ".1");
    }
    int32_t Play(const std::string& layer, const std::string& file) {
        return Run("layermovie", {{"name", "\"" + layer + "\""}, {"no", "1"}, {"file", "\"" + file + "\""}});
    }
    // The layer's pixels in (x0, y0, w, h) against frame f of the movie
    // (frame pixel (x, y) at layer pixel (x, y)).
    int Mismatches(NamedTreeNode* node, const ReferenceMovie& movie, size_t f, int32_t w, int32_t h) {
        int bad = 0;
        const CgImage& image = *LayerImage(node);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) bad += ReadPixel(image, x, y) != movie.frames[f][size_t(y) * movie.width + size_t(x)];
        return bad;
    }
    int64_t Query(const std::string& keyword, const std::string& value = "1") {
        EXPECT_EQ(Run("layermovieinfo", {{keyword, value}, {"result", "$1000"}}), 0);
        return GetIntegerElement(1000, 0);
    }

    platform::ManualClock clock_{5000};
};

// 300 frames at 30 a second: the last frame is shown at 9999 ms and stays
// after the movie ends at 10000 ms; the library goes with the movie.
TEST_F(LayerMovieTest, ThreeHundredFramesEndTenSecondsLaterKeepingTheLastFrame) {
    const ReferenceMovie movie = WriteMovie("op.ogv", 32, 24, 300);
    ASSERT_EQ(movie.frames.size(), 300u);
    NamedTreeNode* node = MakeLayer("m", 32, 24);
    ASSERT_EQ(Play("m", "OP.ogv"), 0);  // names are matched ignoring case
    ExpectClean();
    EXPECT_TRUE(TheLayerMovie().playing);
    EXPECT_EQ(TheLayerMovie().total_frames, 300);
    EXPECT_TRUE(platform::CodecLibrary(platform::CodecLibraryId::kTheoraLib).loaded);
    EXPECT_EQ(Mismatches(node, movie, 0, 32, 24), 0);

    clock_.Advance(1000);  // frame 30
    AdvanceLayerMovie();
    EXPECT_EQ(TheLayerMovie().frame_index, 30);
    EXPECT_EQ(Mismatches(node, movie, 30, 32, 24), 0);
    clock_.Set(5000 + 9999);
    AdvanceLayerMovie();
    EXPECT_EQ(TheLayerMovie().frame_index, 299);
    EXPECT_EQ(Mismatches(node, movie, 299, 32, 24), 0);
    EXPECT_TRUE(TheLayerMovie().playing);
    clock_.Set(5000 + 10000);
    AdvanceLayerMovie();
    EXPECT_FALSE(TheLayerMovie().playing);
    EXPECT_EQ(TheLayerMovie().target, nullptr);
    EXPECT_FALSE(platform::CodecLibrary(platform::CodecLibraryId::kTheoraLib).loaded);
    EXPECT_EQ(Mismatches(node, movie, 299, 32, 24), 0);
    ExpectClean();
}

// The clock wraps at 2^32 ms: the elapsed time does not.
TEST_F(LayerMovieTest, ElapsedTimeSurvivesTheClockWrap) {
    const ReferenceMovie movie = WriteMovie("a.ogv", 32, 24, 60);
    NamedTreeNode* node = MakeLayer("m", 32, 24);
    clock_.Set(0xFFFFFF00u);
    ASSERT_EQ(Play("m", "a.ogv"), 0);
    clock_.Set(0xFFFFFF00u + 1000u);  // wraps: 1000 ms after the start
    AdvanceLayerMovie();
    EXPECT_EQ(TheLayerMovie().frame_index, 30);
    EXPECT_EQ(Mismatches(node, movie, 30, 32, 24), 0);
}

// Command 74 stops at once; the layer keeps the frame it had.
TEST_F(LayerMovieTest, StopKeepsTheFrameShown) {
    const ReferenceMovie movie = WriteMovie("a.ogv", 32, 24, 60);
    NamedTreeNode* node = MakeLayer("m", 32, 24);
    ASSERT_EQ(Play("m", "a.ogv"), 0);
    clock_.Advance(400);  // frame 12
    AdvanceLayerMovie();
    ASSERT_EQ(Run("stoplayermovie", {}), 0);
    EXPECT_FALSE(TheLayerMovie().playing);
    EXPECT_FALSE(platform::CodecLibrary(platform::CodecLibraryId::kTheoraLib).loaded);
    clock_.Advance(400);
    AdvanceLayerMovie();
    EXPECT_EQ(Mismatches(node, movie, 12, 32, 24), 0);
}

// A layer of another size gets the overlap, a larger one keeps its other
// pixels.
TEST_F(LayerMovieTest, FramesGoIntoLayersOfOtherSizesAsTheOverlap) {
    const ReferenceMovie movie = WriteMovie("a.ogv", 24, 18, 10);
    NamedTreeNode* small = MakeLayer("s", 13, 7);
    ASSERT_EQ(Play("s", "a.ogv"), 0);
    EXPECT_EQ(Mismatches(small, movie, 0, 13, 7), 0);
    NamedTreeNode* large = MakeLayer("l", 31, 23);
    ASSERT_EQ(Play("l", "a.ogv"), 0);
    EXPECT_EQ(Mismatches(large, movie, 0, 24, 18), 0);
    const CgImage& image = *LayerImage(large);
    EXPECT_EQ(ReadPixel(image, 30, 5), 0xFF203040u);
    EXPECT_EQ(ReadPixel(image, 3, 22), 0xFF203040u);
    ExpectClean();
}

// The target freed while the movie plays: the movie runs on to its end and
// copies nothing (AddressSanitizer would see a write into the freed layer).
TEST_F(LayerMovieTest, TargetDeletedWhilePlayingIsForgotten) {
    WriteMovie("a.ogv", 32, 24, 30);
    NamedTreeNode* node = MakeLayer("m", 32, 24);
    ASSERT_EQ(Play("m", "a.ogv"), 0);
    FreeLayerNode(node);
    EXPECT_EQ(TheLayerMovie().target, nullptr);
    clock_.Advance(500);
    AdvanceLayerMovie();
    EXPECT_TRUE(TheLayerMovie().playing);
    clock_.Advance(1000);
    AdvanceLayerMovie();
    EXPECT_FALSE(TheLayerMovie().playing);
}

// A second command 73 while a movie plays closes the first: the new movie
// starts at its own frame 0.
TEST_F(LayerMovieTest, SecondMovieClosesTheFirst) {
    WriteMovie("a.ogv", 32, 24, 90);
    const ReferenceMovie second = WriteMovie("b.ogv", 16, 12, 20, 7);
    NamedTreeNode* node = MakeLayer("m", 32, 24);
    ASSERT_EQ(Play("m", "a.ogv"), 0);
    clock_.Advance(1000);
    AdvanceLayerMovie();
    ASSERT_EQ(Play("m", "b.ogv"), 0);
    EXPECT_EQ(TheLayerMovie().total_frames, 20);
    EXPECT_EQ(TheLayerMovie().width, 16);
    EXPECT_EQ(TheLayerMovie().file.size(), size_t(std::filesystem::file_size(game_ / "b.ogv")));
    EXPECT_EQ(Mismatches(node, second, 0, 16, 12), 0);
    EXPECT_TRUE(platform::CodecLibrary(platform::CodecLibraryId::kTheoraLib).loaded);
}

// Nothing starts: the library missing (its box), a file that is no loose
// file (only a pack has it), a file that holds no Theora stream (it ends at
// the first frame step).
TEST_F(LayerMovieTest, MoviesThatDoNotStart) {
    WriteMovie("a.ogv", 32, 24, 10);
    MakeLayer("m", 32, 24);
    platform::SetCodecAvailable(platform::CodecLibraryId::kTheoraLib, false);
    ASSERT_EQ(Play("m", "a.ogv"), 0);
    EXPECT_FALSE(TheLayerMovie().playing);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, Sjis("DLLの読み込みに失敗しました。"));
    EXPECT_EQ(ui_.boxes[0].caption, std::optional<std::string>(""));
    platform::SetCodecAvailable(platform::CodecLibraryId::kTheoraLib, true);

    TheFileSourceHooks().probe_pack_index = [](FileSource& source, std::string_view) -> int32_t {
        source.state = 2;
        return 2;
    };
    ASSERT_EQ(Play("m", "packed.ogv"), 0);
    EXPECT_FALSE(TheLayerMovie().playing);
    ExpectClean();

    ASSERT_TRUE(tools::WriteFile((game_ / "noise.ogv").string(), std::vector<uint8_t>(300, 0x4F)));
    platform::ClearPathCache();
    ASSERT_EQ(Play("m", "noise.ogv"), 0);
    EXPECT_EQ(TheLayerMovie().total_frames, 0);
    AdvanceLayerMovie();
    EXPECT_FALSE(TheLayerMovie().playing);
    EXPECT_FALSE(platform::CodecLibrary(platform::CodecLibraryId::kTheoraLib).loaded);
    EXPECT_EQ(ui_.boxes.size(), 1u);  // the frame buffer's notes are no boxes
    ExpectClean();
}

TEST_F(LayerMovieTest, MissingLayerIsFatal) {
    ASSERT_EQ(Play("nothere", "a.ogv"), -1);
    ExpectFatal(101250);
}

// Command 73's size keywords set the window movie's stored size; a movie
// name without them resets it to the screen size.
TEST_F(LayerMovieTest, SizeKeywordsAndQueries) {
    Settings().screen_width = 640;
    Settings().screen_height = 480;
    MakeLayer("m", 32, 24);
    ASSERT_EQ(Run("layermovie", {{"name", R"("m")"}, {"no", "1"}, {"w", "100"}, {"h", "50"}}), 0);
    EXPECT_EQ(TheWindowMovieState().w, 100);
    ASSERT_EQ(Run("layermovie", {{"name", R"("m")"}, {"no", "1"}, {"h", "20", kArgAdd}}), 0);
    EXPECT_EQ(TheWindowMovieState().h, 70);
    EXPECT_EQ(Query("height"), 70);
    ASSERT_EQ(Run("layermovie", {{"name", R"("m")"}, {"no", "1"}, {"file", R"("none.ogv")"}, {"w", "7"}}), 0);
    EXPECT_EQ(TheWindowMovieState().w, 7);
    EXPECT_EQ(TheWindowMovieState().h, 480);

    // Keyword 0 answers the window movie's playing byte, not the layer movie's.
    WriteMovie("a.ogv", 32, 24, 10);
    ASSERT_EQ(Play("m", "a.ogv"), 0);
    EXPECT_EQ(Query("playing"), 0);
    TheWindowMovieState().playing = 1;
    EXPECT_EQ(Query("playing"), 1);
    EXPECT_EQ(Query("sample"), 0);
    ASSERT_EQ(Run("stoplayermovie", {}), 0);
    EXPECT_EQ(Query("sample"), 0);  // no decoder to ask
    TheWindowMovieState().volume = 130;
    EXPECT_EQ(Query("volume"), 130);
    ASSERT_TRUE(tools::WriteFile((game_ / "m1.mpg").string(), std::vector<uint8_t>{0x00, 0x00, 0x01, 0xBA, 0x21, 0x00}));
    platform::ClearPathCache();
    EXPECT_EQ(Query("probe", R"("M1.MPG")"), 1);
    ASSERT_EQ(Run("layermovie76", {{"value", "3"}}), 0);
    ExpectClean();
}

}  // namespace
}  // namespace zk::layer_test
