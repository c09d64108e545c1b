// The bundled demo end to end: demo/ assembled into a packed game folder
// by zk_mkgame, run headless by the zorvek executable for an exact number
// of frames, in both threading modes (the frame step on the main thread,
// and on the game-loop thread), and window 0's last frame read back with
// libpng. Every
// expected pixel is worked out here from the pictures' formulas (restated
// from tools/lib/demo_images.h), the scene of demo/main.zs and the blend
// formulas, never taken from a picture the engine drew.
//
// The scene (demo/main.zs), all set up in frame 1 before the loop's first
// pass; one pass of the loop per frame, so after N frames it ran N times:
//   bg       at (0, 0)
//   panel/   a group at (40, 40), 480 x 120, holding
//            add (blend 1) at (10, 10), multiply (3) at (125, 10),
//            screen (5) at (240, 10): one 100 x 100 tile;
//            ball at (440, 28), cut at the panel's right edge
//   photo    at (400, 290), masked by wipe, hard edge; mask level 8 per pass up to 256
//   title    at (160, 400); opacity 0, then 8 per pass up to 256
//   ball     at (ball_x, 200); ball_x moves 4 a pass, turning at 576 and at 0
//   pointer  hidden until the mouse first moves
//   emblem   the tile turned and scaled around (580, 100), above the
//            pointer; add mode (blend 1) while the pointer is over one of
//            its pixels with alpha above 128, normal otherwise
//   spark    at (588, 428), 48 x 48: frame (passes / 4) % 8 of the spark
//            sequence, its alpha honoured
// Scene 1 holds for 300 frames unless a click, Return, Space or a gamepad's
// first button skips it; scene 2 then takes the photo and the title away
// (8 a pass) and drops the panel 5 a pass, for 32 passes. Escape ends it.
#include <gtest/gtest.h>

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/storage/run_program.h"

namespace zk {
namespace {

namespace fs = std::filesystem;
using storage_test::RunProgram;
using storage_test::RunResult;

using Rgb = std::array<int, 3>;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- the pictures -----------------------------------------------------------

Rgb Background(int x, int y) { return {40 + 150 * x / 639, 30 + 120 * y / 479, 200 - 100 * y / 479}; }
Rgb Tile(int x, int y) { return {64 + 128 * x / 99, 64 + 128 * y / 99, 160}; }
Rgb Ball(int x, int y) { return {255, 120 + 2 * x, 40 + 2 * y}; }
Rgb Photo(int x, int y) { return (x / 25 + y / 25) % 2 == 0 ? Rgb{240, 230, 200} : Rgb{60, 90, 150}; }
int Wipe(int x) { return x * 255 / 199; }
Rgb Title(int x, int y) { return {255 - y, 200 - x / 2, 60 + x / 4}; }
// The ball is fully opaque within 28 pixels of its centre (31.5, 31.5).
bool BallOpaque(int x, int y) { return std::hypot(x - 31.5, y - 31.5) <= 28.0; }
// Frame f of the spark sequence: a flat colour; its alpha is 255 within
// 14 + 3 min(f, 8 - f) - 4 pixels of (23.5, 23.5) and 0 in the corners.
Rgb SparkColour(int f) { return {255, 120 + 15 * f, 40 + 20 * f}; }
constexpr int kSparkX = 588, kSparkY = 428;

// ---- the blend formulas, per channel (s the layer, d what lies under it) ----

template <typename F>
Rgb Blend(const Rgb& s, const Rgb& d, F f) {
    return {f(s[0], d[0]), f(s[1], d[1]), f(s[2], d[2])};
}
Rgb Add(const Rgb& s, const Rgb& d) { return Blend(s, d, [](int a, int b) { return std::min(a + b, 255); }); }
Rgb Multiply(const Rgb& s, const Rgb& d) { return Blend(s, d, [](int a, int b) { return a * b / 255; }); }
Rgb Screen(const Rgb& s, const Rgb& d) { return Blend(s, d, [](int a, int b) { return a + b - a * b / 255; }); }
// Normal mode at opacity o (0..256) for a layer without alpha.
Rgb Fade(const Rgb& s, const Rgb& d, int o) {
    return Blend(s, d, [o](int a, int b) { return b + (((a - b) * o) >> 8); });
}

// ---- the script's state after a number of passes ----------------------------

int BallX(int passes) {
    int x = 0, dx = 4;
    for (int pass = 0; pass < passes; ++pass) {
        x += dx;
        if (x >= 576) dx = -4;
        else if (x <= 0) dx = 4;
    }
    return x;
}
int Ramp(int passes) { return std::min(passes, 32) * 8; }  // the mask level and the title's opacity

// Within `tolerance` in every channel (JPEG frames, bilinear drawing).
bool Near(const Rgb& a, const Rgb& b, int tolerance) {
    for (int c = 0; c < 3; ++c) {
        if (std::abs(a[c] - b[c]) > tolerance) return false;
    }
    return true;
}

// The spark after `passes` passes: its frame's colour in the middle, the
// background in a transparent corner (the JPEG alpha is 0 there within a
// step or two).
void ExpectSpark(const auto& frame, int passes) {
    const int shown = passes / 4 % 8;
    const Rgb middle = frame.At(kSparkX + 24, kSparkY + 24);
    EXPECT_TRUE(Near(middle, SparkColour(shown), 4))
        << "spark frame " << shown << ": " << middle[0] << "," << middle[1] << "," << middle[2];
    const int cx = kSparkX + 46, cy = kSparkY + 46;
    EXPECT_TRUE(Near(frame.At(cx, cy), Background(cx, cy), 2)) << "the spark's corner";
}

// ---- running the demo ---------------------------------------------------------

struct Frame {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    Rgb At(int x, int y) const {
        const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
        return {rgb[at], rgb[at + 1], rgb[at + 2]};
    }
};

// The input box of the first run, as a run without a display shows it.
constexpr const char* kNameBox = "[ZORVEK デモ]\nお名前を入力してください。\n";

// The parameter: the game configuration's game-loop thread switch.
class DemoTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        std::replace(name.begin(), name.end(), '/', '-');
        root = fs::temp_directory_path() / ("zorvek-demo-" + std::to_string(getpid()) + "-" + name);
        fs::remove_all(root);
        game = root / "demo-game";
        fs::create_directories(root);
        // The demo's source as shipped, with the threading mode under test.
        const fs::path source = root / "demo";
        fs::copy(fs::path(ZORVEK_SOURCE_DIR) / "demo", source, fs::copy_options::recursive);
        std::string config = ReadText(source / "game.cfg");
        const std::string shipped = "game_loop_thread = 0\n";
        const size_t at = config.find(shipped);
        ASSERT_NE(at, std::string::npos) << "demo/game.cfg names its threading mode";
        config.replace(at, shipped.size(), "game_loop_thread = " + std::to_string(GetParam()) + "\n");
        std::ofstream(source / "game.cfg", std::ios::binary) << config;
        // As the build assembles it: tables and pictures in one pack.
        const RunResult tool =
            RunProgram({(fs::path(ZORVEK_BINARY_DIR) / "zk_mkgame").string(), source.string(), game.string(),
                        "--pack", "data.zpf"},
                       root / "mkgame.txt");
        ASSERT_EQ(tool.exit_code, 0) << tool.output;
        ASSERT_TRUE(fs::is_regular_file(game / "data.zpf"));
        ASSERT_FALSE(fs::exists(game / "image")) << "the pictures belong in the pack";
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs the demo for `frames` frames, played by `input` (a headless
    // input file's text) when given; window 0's last frame. `ends` is the
    // closing line the run must print.
    Frame RunFrames(int frames, const std::string& input = {}, std::string ends = {}) {
        const std::string run_name = std::to_string(frames) + "-" + std::to_string(runs++);
        const fs::path png = root / ("frame" + run_name + ".png");
        const fs::path log = root / ("run" + run_name + ".txt");
        std::vector<std::string> command = {(fs::path(ZORVEK_BINARY_DIR) / "zorvek").string(),
                                            "--game", game.string(), "--headless", "--frames",
                                            std::to_string(frames), "--png", png.string()};
        if (!input.empty()) {
            const fs::path input_file = root / ("input" + run_name + ".txt");
            std::ofstream(input_file, std::ios::binary) << input;
            command.push_back("--input");
            command.push_back(input_file.string());
        }
        // The first run in a game folder asks the player's name (answered
        // with its initial text); later runs find it in save\player.sd.
        const bool asks_name = !fs::exists(game / "save" / "player.sd");
        const RunResult run = RunProgram(command, log, {}, std::chrono::seconds(120));
        if (ends.empty()) ends = "zorvek: " + std::to_string(frames) + " frames, frame limit reached\n";
        EXPECT_EQ(run.exit_code, 0) << run.output;
        EXPECT_EQ(run.output, (asks_name ? std::string(kNameBox) : std::string()) + ends);
        EXPECT_TRUE(fs::is_regular_file(game / "save" / "player.sd")) << "the name is kept";
        Frame frame;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_file(&image, png.c_str()) == 0) {
            ADD_FAILURE() << "no PNG: " << image.message;
            return frame;
        }
        image.format = PNG_FORMAT_RGB;
        frame.width = int(image.width);
        frame.height = int(image.height);
        frame.rgb.resize(PNG_IMAGE_SIZE(image));
        if (png_image_finish_read(&image, nullptr, frame.rgb.data(), 0, nullptr) == 0) {
            ADD_FAILURE() << "bad PNG: " << image.message;
            frame = {};
        }
        return frame;
    }

    fs::path root, game;
    int runs = 0;
};

// Screen positions of the scene.
constexpr int kPanelX = 40, kPanelY = 40, kPanelWidth = 480;
constexpr int kPhotoX = 400, kPhotoY = 290;
constexpr int kTitleX = 160, kTitleY = 400;
constexpr int kBallY = 200;

TEST_P(DemoTest, TenthFrameShowsBlendModesTheGroupTheWipeTheFadeAndTheBall) {
    constexpr int kFrames = 10;
    const Frame frame = RunFrames(kFrames);
    ASSERT_EQ(frame.width, 640);
    ASSERT_EQ(frame.height, 480);

    // Nothing but the background.
    EXPECT_EQ(frame.At(300, 300), Background(300, 300));
    EXPECT_EQ(frame.At(639, 0), Background(639, 0));

    // The tile in three blend modes, inside the panel.
    const int tile_y = kPanelY + 10;
    EXPECT_EQ(frame.At(100, 120), Add(Tile(100 - kPanelX - 10, 120 - tile_y), Background(100, 120)));
    EXPECT_EQ(frame.At(200, 80), Multiply(Tile(200 - kPanelX - 125, 80 - tile_y), Background(200, 80)));
    EXPECT_EQ(frame.At(330, 140), Screen(Tile(330 - kPanelX - 240, 140 - tile_y), Background(330, 140)));

    // The panel's ball: drawn inside the panel, cut off where it leaves it.
    const int panel_ball_x = kPanelX + 440, panel_ball_y = kPanelY + 28;
    ASSERT_TRUE(BallOpaque(20, 32) && BallOpaque(50, 32));
    EXPECT_EQ(frame.At(panel_ball_x + 20, panel_ball_y + 32), Ball(20, 32));
    ASSERT_GE(panel_ball_x + 50, kPanelX + kPanelWidth);
    EXPECT_EQ(frame.At(panel_ball_x + 50, panel_ball_y + 32), Background(panel_ball_x + 50, panel_ball_y + 32));

    // The wipe at mask level L: a photo pixel shows where the mask's grey
    // is at least 256 - L, else what lies under it.
    const int level = Ramp(kFrames);
    const int y = kPhotoY + 10;
    for (int px : {20, 100, 137, 138, 190}) {
        const int x = kPhotoX + px;
        const Rgb expected = Wipe(px) >= 256 - level ? Photo(px, 10) : Background(x, y);
        EXPECT_EQ(frame.At(x, y), expected) << "photo column " << px << " at mask level " << level;
    }
    ASSERT_NE(Wipe(137) >= 256 - level, Wipe(138) >= 256 - level) << "the wipe's edge lies between the columns";

    // The title fading in, over the background and over the photo's part
    // that the wipe has not reached.
    const int opacity = Ramp(kFrames);
    ASSERT_LT(opacity, 128);
    for (auto [x, ty] : {std::pair{300, 420}, std::pair{170, 455}, std::pair{470, 402}}) {
        const bool photo_shown = x >= kPhotoX && ty < kPhotoY + 150 && Wipe(x - kPhotoX) >= 256 - level;
        const Rgb under = photo_shown ? Photo(x - kPhotoX, ty - kPhotoY) : Background(x, ty);
        EXPECT_EQ(frame.At(x, ty), Fade(Title(x - kTitleX, ty - kTitleY), under, opacity)) << x << "," << ty;
    }

    // The ball after ten steps: both sides of it opaque, and the place it
    // came from shows the background again.
    const int ball_x = BallX(kFrames);
    ASSERT_EQ(ball_x, 40);
    EXPECT_EQ(frame.At(ball_x + 5, kBallY + 32), Ball(5, 32));
    EXPECT_EQ(frame.At(ball_x + 58, kBallY + 32), Ball(58, 32));
    EXPECT_EQ(frame.At(ball_x - 1, kBallY + 32), Background(ball_x - 1, kBallY + 32));
    EXPECT_EQ(frame.At(ball_x + 64, kBallY + 32), Background(ball_x + 64, kBallY + 32));

    ExpectSpark(frame, kFrames);
}

TEST_P(DemoTest, AfterTheTransitionsTheBallHasTurnedAtTheRightEdge) {
    constexpr int kFrames = 160;
    const Frame frame = RunFrames(kFrames);
    ASSERT_EQ(frame.width, 640);
    ASSERT_EQ(frame.height, 480);

    // Mask level 256: the whole photo; opacity 256: the title itself.
    EXPECT_EQ(frame.At(kPhotoX + 3, kPhotoY + 3), Photo(3, 3));
    EXPECT_EQ(frame.At(kPhotoX + 60, kPhotoY + 40), Photo(60, 40));
    EXPECT_EQ(frame.At(300, 420), Title(300 - kTitleX, 420 - kTitleY));
    EXPECT_EQ(frame.At(470, 402), Title(470 - kTitleX, 402 - kTitleY)) << "the title over the photo";

    // The ball went right to 576 and is on its way back.
    const int ball_x = BallX(kFrames);
    ASSERT_EQ(ball_x, 576 - 4 * (kFrames - 144));
    EXPECT_EQ(frame.At(ball_x + 5, kBallY + 32), Ball(5, 32));
    EXPECT_EQ(frame.At(ball_x + 58, kBallY + 32), Ball(58, 32));
    EXPECT_EQ(frame.At(ball_x + 64, kBallY + 32), Background(ball_x + 64, kBallY + 32));
    EXPECT_EQ(frame.At(620, kBallY + 32), Background(620, kBallY + 32)) << "where it turned";

    ExpectSpark(frame, kFrames);
}

// The player skips the first scene's wait at frame 3: by frame 40 the
// second scene has run its 32 passes, so the photo and the title are gone
// and the panel sits 160 pixels lower. Any other key leaves the first
// scene in place.
TEST_P(DemoTest, AClickAKeyOrAGamepadButtonAdvancesTheScene) {
    constexpr int kFrames = 40;
    struct Case {
        const char* input;
        bool advances;
    };
    const Case cases[] = {
        {"3 click 5 5\n", true},
        {"3 key Return\n", true},
        {"3 key Space\n", true},
        {"3 joy 0 button 1 down\n", true},
        {"3 joy 3 button 1 down\n", true},
        {"3 key A\n3 button right down\n", false},
        {"3 joy 0 button 2 down\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const Frame frame = RunFrames(kFrames, c.input);
        ASSERT_EQ(frame.width, 640);
        const int panel_y = c.advances ? kPanelY + 160 : kPanelY;
        const int tile_y = panel_y + 10;
        EXPECT_EQ(frame.At(100, tile_y + 30), Add(Tile(100 - kPanelX - 10, 30), Background(100, tile_y + 30)));
        const Rgb photo = c.advances ? Background(kPhotoX + 60, kPhotoY + 40) : Photo(60, 40);
        EXPECT_EQ(frame.At(kPhotoX + 60, kPhotoY + 40), photo);
        const Rgb title = c.advances ? Background(300, 420) : Title(300 - kTitleX, 420 - kTitleY);
        EXPECT_EQ(frame.At(300, 420), title);
    }
}

// The opening movie plays in its screen at the top left (dark and light
// stripes, never the background) and a click takes it away: the background
// shows there again. The movie stays a loose file beside the pack.
TEST_P(DemoTest, TheOpeningMoviePlaysUntilAClick) {
    ASSERT_TRUE(fs::is_regular_file(game / "movie" / "opening.ogv"));
    constexpr int kScreenX = 8, kScreenY = 164;
    const Frame playing = RunFrames(20);
    int stripes = 0;
    for (int x = kScreenX; x < kScreenX + 96; x += 4) stripes += playing.At(x, kScreenY + 16) != Background(x, kScreenY + 16);
    EXPECT_EQ(stripes, 24) << "the movie covers its screen";
    EXPECT_NE(playing.At(kScreenX + 2, kScreenY + 16), playing.At(kScreenX + 10, kScreenY + 16)) << "stripes";
    // The click also drops the panel across the screen's right part.
    const Frame skipped = RunFrames(20, "3 click 5 5\n");
    for (int x = kScreenX; x < kPanelX; x += 8)
        EXPECT_EQ(skipped.At(x, kScreenY + 16), Background(x, kScreenY + 16)) << x;
}

// A mouse move shows the pointer ball centred on the pointer; Escape ends
// the demo at once.
TEST_P(DemoTest, ThePointerFollowsTheMouseAndEscapeEndsTheDemo) {
    const Frame frame = RunFrames(200, "2 move 100 300\n6 move 620 300\n8 key Escape\n",
                                  "zorvek: 8 frames, stopped by the game\n");
    ASSERT_EQ(frame.width, 640);
    // The ball at opacity 160 over the background, its centre on (620, 300)
    // (the alpha kernel's own rounding: within one step a channel).
    const Rgb pointer = frame.At(620, 300), expected = Fade(Ball(32, 32), Background(620, 300), 160);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pointer[c], expected[c], 1) << "channel " << c;
    EXPECT_EQ(frame.At(100, 300), Background(100, 300)) << "where it was";
}

// The message window: a panel at opacity 200 whose lines are typed out a
// character a frame. At frame 15 the first line is whole, the second half
// typed and the third still hidden.
TEST_P(DemoTest, MessageWindowTypesItsLinesOut) {
    const Frame frame = RunFrames(15);
    ASSERT_EQ(frame.width, 640);
    constexpr int kWindowX = 4, kWindowY = 318;
    const Rgb panel = Fade({20, 30, 70 + 150 / 4}, Background(kWindowX + 76, kWindowY + 150), 200);
    // (the opacity kernel's own rounding: within one step a channel)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(frame.At(kWindowX + 76, kWindowY + 150)[c], panel[c], 1) << "channel " << c;
    // Bright text pixels in a line's rows, left and right of a column.
    auto bright = [&](int y0, int x0, int x1) {
        int n = 0;
        for (int y = y0; y < y0 + 22; ++y)
            for (int x = x0; x < x1; ++x) {
                const Rgb p = frame.At(x, y);
                n += p[0] + p[1] + p[2] > 600 ? 1 : 0;
            }
        return n;
    };
    EXPECT_GT(bright(348, 14, 80), 40) << "line 1, left";
    EXPECT_GT(bright(348, 80, 140), 40) << "line 1, right";
    // Its last character, the full-width ！, whose box starts 128 pixels in.
    EXPECT_GT(bright(348, 10 + 128, 10 + 142), 5) << "line 1, its ！";
    EXPECT_GT(bright(374, 14, 70), 40) << "line 2, typed so far";
    EXPECT_EQ(bright(374, 90, 150), 0) << "line 2, not yet typed";
    EXPECT_EQ(bright(400, 10, 150), 0) << "line 3";
}

// F5 at frame 20 saves the scene into save\demo.sd and memory row 0; F9
// at frame 60 loads it back from the row: loading the list of integers
// ends pass 60, pass 61 puts the layers where the restored scene has them,
// and from pass 62 on the loop goes on from the state of pass 20. A later
// run loads from the file: F9 at frame 5 goes back to that state as well.
// The background comes back from the save as the same picture.
TEST_P(DemoTest, F5SavesTheSceneAndF9LoadsItBack) {
    Frame frame = RunFrames(100, "20 key F5\n60 key F9\n");
    ASSERT_EQ(frame.width, 640);
    ASSERT_TRUE(fs::is_regular_file(game / "save" / "demo.sd"));
    int ball_x = BallX(20 + 100 - 61);
    ASSERT_NE(ball_x, BallX(100));
    EXPECT_EQ(frame.At(ball_x + 5, kBallY + 32), Ball(5, 32));
    EXPECT_EQ(frame.At(ball_x + 58, kBallY + 32), Ball(58, 32));
    EXPECT_EQ(frame.At(BallX(100) + 32, kBallY + 32), Background(BallX(100) + 32, kBallY + 32)) << "no ball there";
    EXPECT_EQ(frame.At(300, 300), Background(300, 300));
    EXPECT_EQ(frame.At(639, 0), Background(639, 0));

    frame = RunFrames(30, "5 key F9\n");
    ASSERT_EQ(frame.width, 640);
    ball_x = BallX(20 + 30 - 6);
    EXPECT_EQ(frame.At(ball_x + 5, kBallY + 32), Ball(5, 32));
    EXPECT_EQ(frame.At(ball_x + 58, kBallY + 32), Ball(58, 32));
    EXPECT_EQ(frame.At(BallX(30) + 32, kBallY + 32), Background(BallX(30) + 32, kBallY + 32));
    // The restored scene: frame 20 + 24 passes of scene 1, so the photo and
    // the title are whole.
    EXPECT_EQ(frame.At(kPhotoX + 60, kPhotoY + 40), Photo(60, 40));
    EXPECT_EQ(frame.At(300, 420), Title(300 - kTitleX, 420 - kTitleY));
}

// The music fades in: SDL's disk driver writes what the mixer plays (44.1
// kHz, 16-bit stereo) to a file, which starts near silence and grows loud.
// A click advances the scene and plays the click over the music.
TEST_P(DemoTest, TheMusicFadesIn) {
    const fs::path raw = root / "played.raw";
    const fs::path input = root / "click.txt";
    std::ofstream(input, std::ios::binary) << "60 click 5 5\n";
    const RunResult run = RunProgram({"/usr/bin/env", "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw.string(),
                                      (fs::path(ZORVEK_BINARY_DIR) / "zorvek").string(), "--game", game.string(),
                                      "--headless", "--frames", "150", "--input", input.string()},
                                     root / "music.txt", {}, std::chrono::seconds(120));
    ASSERT_EQ(run.exit_code, 0) << run.output;
    // SDL's driver announces itself; the engine says nothing more.
    EXPECT_TRUE(run.output.ends_with("\nzorvek: 150 frames, frame limit reached\n")) << run.output;
    EXPECT_EQ(run.output.find("DEBUG"), std::string::npos) << run.output;
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t frames = bytes.size() / 4;
    ASSERT_GE(frames, 44100u) << "at least a second was played";
    auto peak = [&](size_t from, size_t to) {
        int level = 0;
        for (size_t f = from; f < to && f < frames; ++f) {
            const int16_t left = static_cast<int16_t>(static_cast<uint8_t>(bytes[4 * f]) |
                                                      (static_cast<uint8_t>(bytes[4 * f + 1]) << 8));
            level = std::max(level, std::abs(int{left}));
        }
        return level;
    };
    EXPECT_LT(peak(0, 2205), 300) << "the first 50 ms are nearly silent";
    EXPECT_GT(peak(frames - 22050, frames), 1500) << "the last half second is loud";
}

// The image effects of the demo: the emblem in the top right corner is
// the tile turned about its centre (5 degrees a pass) and scaled around it;
// the message window lies over a box-blurred copy of the panel; the second
// scene shows the photo as its sepia copy while it wipes out.
TEST_P(DemoTest, TheEmblemTurnsThePanelBlursAndThePhotoTurnsSepia) {
    auto near = [](const Rgb& a, const Rgb& b, int tolerance) {
        for (int c = 0; c < 3; ++c) {
            if (std::abs(a[c] - b[c]) > tolerance) return false;
        }
        return true;
    };
    // About 45 degrees in: the corner of the emblem's box is outside the
    // turned square, so the background shows; its centre is the tile's.
    Frame frame = RunFrames(9);
    ASSERT_EQ(frame.width, 640);
    EXPECT_EQ(frame.At(549, 69), Background(549, 69)) << "a corner of the turned emblem";
    EXPECT_TRUE(near(frame.At(580, 100), Tile(50, 50), 6)) << "the emblem's centre";
    // The message window over the blurred panel is not the window over the
    // plain background.
    const Rgb window_over_background = Fade({20, 30, 70 + 12 / 4}, Background(80, 330), 200);
    EXPECT_FALSE(near(frame.At(80, 330), window_over_background, 3)) << "the blurred panel behind the window";

    // A blue square of the photo: blue in the first scene, brown in sepia
    // after a click (sepia of (60, 90, 150) is (105, 87, 43)).
    frame = RunFrames(40);
    ASSERT_EQ(frame.width, 640);
    EXPECT_EQ(frame.At(kPhotoX + 30, kPhotoY + 5), Photo(30, 5));
    EXPECT_TRUE(near(frame.At(580, 100), Tile(50, 50), 6)) << "the emblem's centre, later";
    frame = RunFrames(6, "3 click 5 5\n");
    ASSERT_EQ(frame.width, 640);
    const Rgb sepia = frame.At(kPhotoX + 30, kPhotoY + 5);
    EXPECT_GT(sepia[0], sepia[2] + 30) << sepia[0] << "," << sepia[1] << "," << sepia[2];
}

// The emblem's hit test: with the pointer resting on the emblem's middle
// from frame 30, the emblem is drawn in add mode over the pointer ball
// (every channel saturates); once the pointer has left, in normal mode.
TEST_P(DemoTest, TheEmblemLightsUpUnderThePointer) {
    constexpr int kFrames = 40;
    const Rgb lit = Add(Tile(50, 50), Fade(Ball(32, 32), Background(580, 100), 160));
    ASSERT_EQ(lit, (Rgb{255, 255, 255}));
    struct Case {
        const char* input;
        Rgb middle;
    };
    const Case cases[] = {
        {"30 move 580 100\n", lit},
        {"30 move 580 100\n34 move 300 300\n", Tile(50, 50)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const Frame frame = RunFrames(kFrames, c.input);
        ASSERT_EQ(frame.width, 640);
        const Rgb middle = frame.At(580, 100);
        EXPECT_TRUE(Near(middle, c.middle, 6)) << middle[0] << "," << middle[1] << "," << middle[2];
    }
}

INSTANTIATE_TEST_SUITE_P(ThreadingModes, DemoTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 0 ? "MainThread" : "GameLoopThread";
                         });

}  // namespace
}  // namespace zk
