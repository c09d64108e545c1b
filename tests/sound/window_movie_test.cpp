// Movies in the window (commands 70..72) on the headless window system and
// a mixer that moves only when the test renders it: the file probe, the
// placement, the volume law, a movie played to its end notification with
// its sound reaching the mixer, a stop that keeps the last frame, and the
// failures of a play.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/system_text.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "platform/audio_mixer.h"
#include "platform/headless_window_system.h"
#include "platform/window_system.h"
#include "sound/sound_system.h"
#include "sound/window_movie.h"
#include "sound/window_movie_state.h"
#include "tests/layers/layer_command_test_support.h"
#include "tools/lib/movie_writer.h"

namespace zk::layer_test {
namespace {

constexpr uint32_t kPopupStyle = 0x82000000u;  // no frame: the client area is the window

int64_t IgnoreMessages(platform::WindowHandle, uint32_t, uint64_t, int64_t) { return 0; }

MovieScreenGeometry geometry;

class WindowMovieTest : public LayerCommandTest {
protected:
    void SetUp() override {
        LayerCommandTest::SetUp();
        windows_ = platform::CreateHeadlessWindowSystem();
        platform::InstallWindowSystem(windows_.get());
        const std::string name = "zktest-movie-" + std::to_string(getpid());
        ASSERT_TRUE(windows_->RegisterClass(name, IgnoreMessages));
        platform::WindowCreateParams params;
        params.class_name = name;
        params.style = kPopupStyle;
        params.width = 320;
        params.height = 240;
        ASSERT_EQ(CreateWindowRecords(), 0);
        MainWindowRecord()->window = windows_->CreateWindow(params);
        ASSERT_NE(MainWindowRecord()->window, platform::kNoWindow);
        Settings().screen_width = 160;
        Settings().screen_height = 120;
        geometry = MovieScreenGeometry{0, 0, 160, 120};
        SetMovieScreenGeometrySource([] { return geometry; });
        InstallSoundMixer(&mixer_);
        RegisterWindowMovieCommands();
        ResetWindowMovie();
        ASSERT_EQ(FillIntegerVariable(*FindVariable(1000), VariableShape{}, 0), 0);
    }
    void TearDown() override {
        ResetWindowMovie();
        InstallSoundMixer(nullptr);
        SetMovieScreenGeometrySource(nullptr);
        DestroyWindowRecords();
        platform::InstallWindowSystem(nullptr);
        LayerCommandTest::TearDown();
    }

    void WriteMovie(const std::string& name, const tools::MpegSpec& spec) {
        const std::vector<uint8_t> file = tools::MpegMovieFile(spec);
        ASSERT_FALSE(file.empty());
        ASSERT_TRUE(tools::WriteFile((game_ / name).string(), file));
        platform::ClearPathCache();
    }
    int64_t Query(const std::string& keyword, const std::string& value = "1") {
        EXPECT_EQ(Run("movieinfo", {{keyword, value}, {"result", "$1000"}}), 0);
        return GetIntegerElement(1000, 0);
    }
    // The window procedure's part: the notification, and the playing byte
    // cleared once the movie has ended.
    void Notify() {
        if (HandleMovieGraphEvents() == 1) TheWindowMovieState().playing = 0;
    }
    // 10 ms of sound at a time (kept), a little real time for the decoder,
    // the notification; until `done` or 20 s of real time.
    template <class Done>
    bool PlayUntil(Done done) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < give_up) {
            std::vector<int16_t> out(size_t(mixer_.OutputRate()) / 100 * 2);
            mixer_.Render(out);
            heard_.insert(heard_.end(), out.begin(), out.end());
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            Notify();
            if (done()) return true;
        }
        return false;
    }
    platform::ClientImage Client() {
        platform::ClientImage image;
        EXPECT_TRUE(windows_->ReadClientPixels(MainWindowRecord()->window, image));
        return image;
    }
    static uint32_t At(const platform::ClientImage& image, int32_t x, int32_t y) {
        uint32_t p;
        std::memcpy(&p, &image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * 4], 4);
        return p & 0xFFFFFFu;
    }

    std::unique_ptr<platform::HeadlessWindowSystem> windows_;
    platform::AudioMixer mixer_{44100, 512};
    std::vector<int16_t> heard_;
};

TEST_F(WindowMovieTest, ProbeTable) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int64_t want;
    };
    const std::vector<Case> cases = {
        {"mpeg1.mpg", {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00}, 1},
        {"mpeg2.mpg", {0x00, 0x00, 0x01, 0xBA, 0x44}, 2},
        {"other.mpg", {0x00, 0x00, 0x01, 0xBA, 0x30}, 255},
        {"riff.avi", {'R', 'I', 'F', 'F', 0x10, 0x00}, 255},
        {"short.mpg", {0x00, 0x00, 0x01, 0xBA}, 255},
    };
    for (const Case& c : cases) ASSERT_TRUE(tools::WriteFile((game_ / c.name).string(), c.bytes));
    platform::ClearPathCache();
    for (const Case& c : cases) EXPECT_EQ(Query("probe", std::string("\"") + c.name + "\""), c.want) << c.name;
    EXPECT_EQ(Query("probe", R"("MPEG1.MPG")"), 1);
    EXPECT_EQ(Query("probe", R"("missing.mpg")"), 0);
    ExpectClean();
}

// A back buffer twice the game size: x = 100 lands at the letterbox offset
// + 200, w = 320 gives 640; products in 64 bits.
TEST_F(WindowMovieTest, PlacementScalesWithTheBackBuffer) {
    Settings().screen_width = 640;
    Settings().screen_height = 480;
    geometry = MovieScreenGeometry{16, 8, 1280, 960};
    const MovieArea area = WindowMovieArea(100, 50, 320, 240);
    EXPECT_EQ(area.x, 16 + 200);
    EXPECT_EQ(area.y, 8 + 100);
    EXPECT_EQ(area.w, 640);
    EXPECT_EQ(area.h, 480);
    const MovieArea big = WindowMovieArea(0, 0, 2000000000, 2000000000);
    EXPECT_EQ(big.w, INT32_MAX);  // 4e9 does not wrap
    Settings().screen_width = 0;
    EXPECT_EQ(WindowMovieArea(7, 0, 33, 0).w, 33);  // no game size: unscaled
    EXPECT_EQ(WindowMovieArea(7, 0, 33, 0).x, 16 + 7);
}

TEST_F(WindowMovieTest, VolumeLaw) {
    struct Case {
        int32_t volume, millibels;
    };
    for (const Case& c : {Case{0, -10000}, Case{-3, -10000}, Case{1, -9633}, Case{128, -1204}, Case{256, 0},
                          Case{300, 0}})
        EXPECT_EQ(MovieVolumeMillibels(c.volume), c.millibels) << c.volume;
}

// Played to the end: frames drawn over the window at the area, the sound
// heard through the mixer, the end releasing the movie; 72 then answers 0.
TEST_F(WindowMovieTest, PlaysToTheEndNotification) {
    tools::MpegSpec spec;
    spec.frames = 15;
    WriteMovie("op.mpg", spec);
    ASSERT_EQ(Run("movie", {{"file", R"("OP.MPG")"}, {"x", "20"}, {"y", "10"}, {"w", "80"}, {"h", "60"},
                            {"volume", "128"}, {"play", "1"}}),
              0);
    ExpectClean();
    EXPECT_EQ(Query("playing"), 1);
    EXPECT_EQ(Query("volume"), 128);
    EXPECT_EQ(Query("w"), 80);
    ASSERT_TRUE(WindowMovieGraphExists());
    ASSERT_TRUE(PlayUntil([] { return TheWindowMovieState().playing.load() == 0; }));
    EXPECT_FALSE(WindowMovieGraphExists());
    EXPECT_EQ(Query("playing"), 0);
    EXPECT_TRUE(std::any_of(heard_.begin(), heard_.end(), [](int16_t s) { return std::abs(s) > 200; }));
    // 0.5 s of movie: not much more than that was played.
    EXPECT_LT(heard_.size(), size_t(44100) * 2 * 3);
    const platform::ClientImage client = Client();
    EXPECT_NE(At(client, 20 + 40, 10 + 30), 0u);  // inside the area: the movie
    EXPECT_EQ(At(client, 10, 5), 0u);              // outside: nothing drawn
    EXPECT_EQ(At(client, 101, 71), 0u);
}

// A file cut off part-way: the movie ends where its data ends, as at its
// end, instead of staying "playing" for ever.
TEST_F(WindowMovieTest, MovieCutOffPartWayEndsAsAtItsEnd) {
    tools::MpegSpec spec;
    spec.frames = 60;
    std::vector<uint8_t> file = tools::MpegMovieFile(spec);
    file.resize(file.size() / 3);
    ASSERT_TRUE(tools::WriteFile((game_ / "cut.mpg").string(), file));
    platform::ClearPathCache();
    ASSERT_EQ(Run("movie", {{"file", R"("cut.mpg")"}, {"play", "1"}}), 0);
    ASSERT_TRUE(PlayUntil([] { return TheWindowMovieState().playing.load() == 0; }));
    EXPECT_FALSE(WindowMovieGraphExists());
    EXPECT_LT(heard_.size(), size_t(44100) * 2 * 2) << "ended near where the data ends, not at 2 s";
}

// Stop (play = 0) keeps the last frame over the window; 71 releases it.
TEST_F(WindowMovieTest, StopKeepsTheLastFrameAndStopReleases) {
    tools::MpegSpec spec;
    spec.frames = 90;
    WriteMovie("long.mpg", spec);
    ASSERT_EQ(Run("movie", {{"file", R"("long.mpg")"}, {"play", "1"}}), 0);
    ASSERT_TRUE(PlayUntil([&] { return At(Client(), 80, 60) != 0; }));
    ASSERT_EQ(Run("movie", {{"play", "0"}}), 0);
    EXPECT_EQ(Query("playing"), 0);
    EXPECT_TRUE(WindowMovieGraphExists());
    // A paint of the game over the window: the frame comes back on top.
    std::vector<uint8_t> black(size_t(320) * 240 * 4, 0);
    windows_->StretchBlit(MainWindowRecord()->window, {0, 0, 320, 240}, {black, 320, -240}, {0, 0, 320, 240});
    ASSERT_EQ(At(Client(), 80, 60), 0u);
    RedrawWindowMovie(*MainWindowRecord());
    EXPECT_NE(At(Client(), 80, 60), 0u);
    const size_t heard_before = heard_.size();
    PlayUntil([&] { return heard_.size() > heard_before + 44100; });
    EXPECT_TRUE(std::all_of(heard_.begin() + ptrdiff_t(heard_before), heard_.end(), [](int16_t s) { return s == 0; }))
        << "the sound plays on after the stop";
    EXPECT_TRUE(WindowMovieGraphExists());

    ASSERT_EQ(Run("stopmovie", {}), 0);
    EXPECT_FALSE(WindowMovieGraphExists());
    EXPECT_TRUE(TheWindowMovieState().path.empty());
    EXPECT_EQ(Query("volume"), 256);
    ExpectClean();
}

TEST_F(WindowMovieTest, PlaysThatFail) {
    InstallErrorTexts();
    // No file ever named: error 101510, not fatal.
    EXPECT_EQ(Run("movie", {{"play", "1"}}), -1);
    EXPECT_EQ(ui_.ErrorNumbers(), std::vector<uint32_t>{101510u});
    EXPECT_EQ(QuitFlag.load(), 0);
    // A missing file ends the command silently.
    EXPECT_EQ(Run("movie", {{"file", R"("missing.mpg")"}, {"play", "1"}}), 0);
    EXPECT_EQ(ui_.ErrorNumbers().size(), 1u);
    // A file with nothing to decode: the error box with -100.
    ASSERT_TRUE(tools::WriteFile((game_ / "noise.mpg").string(), std::vector<uint8_t>(4000, 0x5A)));
    platform::ClearPathCache();
    ui_.boxes.clear();
    EXPECT_EQ(Run("movie", {{"file", R"("noise.mpg")"}, {"play", "1"}}), -1);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, Sjis("ムービー再生エラー (Error No.-100)"));
    EXPECT_EQ(Query("playing"), 0);
    EXPECT_FALSE(WindowMovieGraphExists());
    // A real movie under a path of more than 520 UTF-16 units: refused
    // whole (-100), not cut to another name.
    tools::MpegSpec spec;
    spec.frames = 3;
    const std::string folder(180, 'd');
    const std::string path = folder + "/" + folder + "/" + folder + "/m.mpg";
    std::filesystem::create_directories(game_ / folder / folder / folder);
    WriteMovie(path, spec);
    ui_.boxes.clear();
    EXPECT_EQ(Run("movie", {{"file", "\"" + path + "\""}, {"play", "1"}}), -1);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, Sjis("ムービー再生エラー (Error No.-100)"));
    EXPECT_FALSE(WindowMovieGraphExists());
}

}  // namespace
}  // namespace zk::layer_test
