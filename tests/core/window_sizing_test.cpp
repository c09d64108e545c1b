// Window sizing and display modes on the headless window system: the
// dragged rectangle keeps the game's aspect, the size limits, maximize and
// restore, the back-buffer size for a display, the display-mode search,
// and fullscreen with its failures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <limits>
#include <string>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_codes.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "engine/display_modes.h"
#include "engine/engine_reset.h"
#include "engine/window_creation.h"
#include "engine/window_sizing.h"
#include "platform/headless_window_system.h"
#include "platform/ui.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/display_state.h"

namespace zk {
namespace {

using platform::DisplayMode;
using platform::Rect;

// Edges of a rectangle, for comparisons with a readable failure.
std::vector<int32_t> Sides(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

// The headless frame: caption 24, borders 4 (8 x 32 in all).
constexpr BorderSize kBorder{8, 32};

TEST(SizingRectTest, EachEdgeAndCornerKeepsTheAspect) {
    const double aspect = 800.0 / 600.0;
    // A client area of 1000 x 600 asks for more height; one of 800 x 750
    // for more width (e = 200); e is 0 or less for the first.
    const Rect wider{0, 0, 1008, 632};
    const Rect taller{0, 0, 808, 782};
    struct Case {
        uint64_t edge;
        Rect rect;
        Rect expected;
    };
    const Case cases[] = {
        {platform::WMSZ_RIGHT, wider, {0, 0, 1008, 782}},  // client 1000 x 750
        {platform::WMSZ_LEFT, wider, {0, 0, 1008, 782}},
        {platform::WMSZ_BOTTOM, taller, {0, 0, 1008, 782}},
        {platform::WMSZ_TOP, taller, {0, 0, 1008, 782}},
        {platform::WMSZ_TOPLEFT, wider, {0, -150, 1008, 632}},
        {platform::WMSZ_TOPLEFT, taller, {-200, 0, 808, 782}},
        {platform::WMSZ_TOPRIGHT, wider, {0, -150, 1008, 632}},
        {platform::WMSZ_TOPRIGHT, taller, {0, 0, 1008, 782}},
        {platform::WMSZ_BOTTOMLEFT, wider, {0, 0, 1008, 782}},
        {platform::WMSZ_BOTTOMLEFT, taller, {-200, 0, 808, 782}},
        {platform::WMSZ_BOTTOMRIGHT, wider, {0, 0, 1008, 782}},
        {platform::WMSZ_BOTTOMRIGHT, taller, {0, 0, 1008, 782}},  // the width follows the height
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sides(SizingRect(c.edge, c.rect, aspect, kBorder)), Sides(c.expected)) << "edge " << c.edge;
    }
}

TEST(SizingRectTest, EmptySizesGiveNoInfiniteOrNanSize) {
    EXPECT_EQ(GameAspect(0, 600), 1.0);
    EXPECT_EQ(GameAspect(800, 0), 1.0);
    EXPECT_EQ(GameAspect(-5, 600), 1.0);
    // A rectangle smaller than its frame, dragged by each corner.
    for (uint64_t edge = platform::WMSZ_LEFT; edge <= platform::WMSZ_BOTTOMRIGHT; ++edge) {
        const Rect r = SizingRect(edge, Rect{0, 0, 2, 3}, GameAspect(0, 0), kBorder);
        EXPECT_LE(r.left, r.right + 100);
    }
    EXPECT_EQ(TruncToInt(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(TruncToInt(1e300), INT32_MAX);
    EXPECT_EQ(TruncToInt(-1e300), INT32_MIN);
}

TEST(TrackSizesTest, A720pGameOnA1080pDesktop) {
    const TrackSizes sizes = ComputeTrackSizes(1280, 720, 1920, 1080, BorderSize{0, 0});
    EXPECT_EQ(sizes.min_track, (platform::Point{320, 180}));
    EXPECT_EQ(sizes.max_track, (platform::Point{1920, 1080}));
    // A taller desktop: the width limits the picture.
    const TrackSizes tall = ComputeTrackSizes(800, 600, 1200, 1920, kBorder);
    EXPECT_EQ(tall.max_track, (platform::Point{1208, 932}));
}

TEST(FindFullscreenModeTest, SmallestModeOfTheMonitorsAspect) {
    auto search = [](std::vector<DisplayMode> modes, int32_t game_width, int32_t game_height) {
        return FindFullscreenMode(
            [&](int number, DisplayMode& out) {
                if (number < 0 || static_cast<size_t>(number) >= modes.size()) return false;
                out = modes[static_cast<size_t>(number)];
                return true;
            },
            1920, 1080, game_width, game_height, 32);
    };
    // 1280 x 720 over 1920 x 1080; 4:3 and 16-bit modes are no candidates.
    auto mode = search({{1920, 1080, 32, 60}, {1024, 768, 32, 60}, {1280, 720, 16, 60}, {1280, 720, 32, 60}}, 800, 600);
    ASSERT_TRUE(mode);
    EXPECT_EQ(*mode, (DisplayMode{1280, 720, 32, 60}));
    // The wrong depth is skipped even when it is the only small one.
    mode = search({{1280, 720, 16, 60}, {1920, 1080, 32, 60}}, 800, 600);
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->width, 1920);
    // Smaller than the game: none.
    EXPECT_FALSE(search({{1280, 720, 32, 60}}, 1366, 768));
    // A later mode replaces the first only when both sides are smaller.
    mode = search({{1600, 900, 32, 60}, {1600, 720, 32, 60}, {1280, 720, 32, 60}}, 800, 600);
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->width, 1280);
    // A mode of height 0 is passed over, not divided by.
    EXPECT_FALSE(search({{1280, 0, 32, 60}}, 800, 600));
}

// Window 0 of 800 x 600 (resizable, with a caption) on a 1920 x 1080
// headless desktop, sizing hooks in place.
class WindowSizingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        platform::InstallWindowSystem(&windows_);
        platform::InstallUi(&ui_);
        ASSERT_EQ(CreateWindowRecords(), 0);
        RegisterWindowSizingHooks();
        TheSystemFacts().desktop_width = 1920;
        TheSystemFacts().desktop_height = 1080;
        Settings().resizable = 1;
        Settings().fullscreen_scaling = 1;
        TheWindowCreationSettings().window_mode = 1;
        TheWindowCreationSettings().resizable = 1;
        main_ = MainWindowRecord();
        main_->client_width = 800;
        main_->client_height = 600;
        SetupWindowRecord(*main_, "main");
        WindowState[0] = 1;
        const std::string name = "zktest-sizing-" + std::to_string(getpid());
        ASSERT_EQ(CreateEngineWindow(*main_, platform::SW_SHOW, name, "main"), 1);
        ASSERT_TRUE(AllocateCpuBackBuffer(800, 600));
        InitWindowSizing(800, 600);
        windows_.ShowWindow(main_->window, platform::SW_SHOW);
        Drain();
    }
    void TearDown() override {
        DestroyWindowRecords();
        platform::InstallUi(nullptr);
        platform::InstallWindowSystem(nullptr);
        ResetEngine();
    }
    void Drain() {
        platform::Message m;
        for (int i = 0; i < 1000 && windows_.PeekMessage(m, true); ++i) windows_.DispatchMessage(m);
    }
    Rect Client() { return windows_.GetClientRect(main_->window); }
    Rect Outer() { return windows_.GetWindowRect(main_->window); }

    platform::HeadlessWindowSystem windows_;
    platform::RecordingUi ui_;
    WindowRecord* main_ = nullptr;
};

TEST_F(WindowSizingTest, AUserResizeKeepsTheAspectAndTheBackBufferFollows) {
    EXPECT_EQ(Client().Width(), 800);
    windows_.InjectUserResize(main_->window, 1000, 600);  // the right edge dragged
    Drain();
    EXPECT_EQ(Client().Width(), 1000);
    EXPECT_EQ(Client().Height(), 750);
    EXPECT_EQ(TheDisplayState().display_width, 1000);
    EXPECT_EQ(TheDisplayState().display_height, 750);
    EXPECT_EQ(TheCpuBackBuffer().width, 1000);
    EXPECT_EQ(TheCpuBackBuffer().height, 750);
    // The bottom edge: the width follows.
    windows_.InjectUserResize(main_->window, 1000, 900);
    Drain();
    EXPECT_EQ(Client().Width(), 1200);
    EXPECT_EQ(Client().Height(), 900);
}

TEST_F(WindowSizingTest, SizeLimitsFollowTheGameSizeAndTheDesktop) {
    const platform::WindowInfo info = *windows_.Window(main_->window);
    EXPECT_EQ(info.min_client, (platform::Point{200, 150}));
    EXPECT_EQ(info.max_client, (platform::Point{1440, 1080}));
    // A drag beyond the limits stops at them.
    windows_.InjectUserResize(main_->window, 100, 75);
    Drain();
    EXPECT_EQ(Client().Width(), 200);
    EXPECT_EQ(Client().Height(), 150);
    // 1280 x 720 on the same desktop.
    main_->client_width = 1280;
    main_->client_height = 720;
    RefreshMainWindowLimits();
    EXPECT_EQ(windows_.Window(main_->window)->min_client, (platform::Point{320, 180}));
    EXPECT_EQ(windows_.Window(main_->window)->max_client, (platform::Point{1920, 1080}));
}

TEST_F(WindowSizingTest, MaximizeThenRestoreBringsTheSizesBack) {
    const Rect before = Outer();
    windows_.SendMessage(main_->window, platform::WM_SYSCOMMAND, platform::SC_MAXIMIZE, 0);
    Drain();
    EXPECT_EQ(TheDisplayState().maximized, 1);
    // The work area (1920 x 1040) less the frame: the picture fits the height.
    EXPECT_EQ(TheDisplayState().display_width, 1912);
    EXPECT_EQ(TheDisplayState().display_height, 1008);
    EXPECT_EQ(TheCpuBackBuffer().width, 1344);
    EXPECT_EQ(TheCpuBackBuffer().height, 1008);
    EXPECT_EQ(TheDisplayState().scaling_mode, kPlacementFitHeight);
    windows_.SendMessage(main_->window, platform::WM_SYSCOMMAND, platform::SC_RESTORE, 0);
    Drain();
    EXPECT_EQ(TheDisplayState().maximized, 0);
    EXPECT_EQ(TheDisplayState().display_width, 800);
    EXPECT_EQ(TheDisplayState().display_height, 600);
    EXPECT_EQ(TheCpuBackBuffer().width, 800);
    EXPECT_EQ(TheCpuBackBuffer().height, 600);
    EXPECT_EQ(Sides(Outer()), Sides(before));
}

TEST_F(WindowSizingTest, MinimizedKeepsEverySize) {
    windows_.ShowWindow(main_->window, platform::SW_MINIMIZE);
    Drain();
    EXPECT_EQ(TheDisplayState().display_width, 800);
    EXPECT_EQ(TheCpuBackBuffer().width, 800);
    windows_.ShowWindow(main_->window, platform::SW_RESTORE);
    Drain();
    EXPECT_EQ(Client().Width(), 800);
    EXPECT_EQ(Client().Height(), 600);
}

TEST_F(WindowSizingTest, BackBufferForADisplayBySetting) {
    struct Case {
        uint8_t setting;
        int32_t width, height;
        int32_t placement;
    };
    const Case cases[] = {
        {1, 1440, 1080, kPlacementFitHeight},
        {2, 1920, 1440, kPlacementFitWidth},  // covers the display; never halved
        {3, 1920, 1080, kPlacementStretched},
        {0, 800, 600, kPlacementCentred},
    };
    for (const Case& c : cases) {
        Settings().fullscreen_scaling = c.setting;
        ComputeDisplaySize(800, 600, 1920, 1080);
        EXPECT_EQ(TheCpuBackBuffer().width, c.width) << int(c.setting);
        EXPECT_EQ(TheCpuBackBuffer().height, c.height) << int(c.setting);
        EXPECT_EQ(TheDisplayState().scaling_mode, c.placement) << int(c.setting);
    }
    // Larger than the desktop: half the desktop.
    Settings().fullscreen_scaling = 1;
    TheSystemFacts().desktop_width = 1280;
    TheSystemFacts().desktop_height = 720;
    ComputeDisplaySize(800, 600, 1920, 1080);
    EXPECT_EQ(TheCpuBackBuffer().width, 640);
    EXPECT_EQ(TheCpuBackBuffer().height, 360);
    // A game width of 0 counts as 1 in the wide test and divides nothing;
    // a picture 0 pixels wide gets no back buffer.
    ComputeDisplaySize(0, 600, 1280, 720);
    EXPECT_EQ(TheWindowSizing().back_width, 0);
    EXPECT_EQ(TheWindowSizing().back_height, 720);
    EXPECT_EQ(TheCpuBackBuffer().width, 640) << "the last one stays";
}

TEST_F(WindowSizingTest, FullscreenInAChangedModeAndBack) {
    Settings().fullscreen_mode_change = 1;
    windows_.SetDisplayModes(0, {{1920, 1080, 32, 60}, {1280, 720, 32, 60}, {1024, 768, 32, 60}});
    const Rect before = Outer();
    EXPECT_EQ(SetScreenMode(1), 1);
    EXPECT_EQ(SetScreenMode(1), 0) << "already fullscreen";
    Drain();
    ASSERT_TRUE(windows_.CurrentDisplayMode(0));
    EXPECT_EQ(windows_.CurrentDisplayMode(0)->width, 1280);
    EXPECT_EQ(TheDisplayState().fullscreen, 1);
    EXPECT_EQ(Sides(Outer()), (std::vector<int32_t>{0, 0, 1280, 720}));
    EXPECT_NE(windows_.GetWindowStyle(main_->window) & platform::WS_POPUP, 0u);
    EXPECT_EQ(TheCpuBackBuffer().width, 960);  // fit to the height
    EXPECT_EQ(TheCpuBackBuffer().height, 720);
    EXPECT_EQ(windows_.CursorPosition(), (platform::Point{640, 360}));

    EXPECT_EQ(SetScreenMode(0), 1);
    Drain();
    EXPECT_FALSE(windows_.CurrentDisplayMode(0));
    EXPECT_EQ(TheDisplayState().fullscreen, 0);
    EXPECT_EQ(windows_.GetWindowStyle(main_->window) & platform::WS_POPUP, 0u);
    EXPECT_EQ(Sides(Outer()), Sides(before));
    EXPECT_EQ(TheCpuBackBuffer().width, 800);
    EXPECT_EQ(TheDisplayState().display_width, 800);
    EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(WindowSizingTest, FullscreenWithoutModeChangeCoversTheDesktop) {
    EXPECT_EQ(SetScreenMode(1), 1);
    Drain();
    EXPECT_FALSE(windows_.CurrentDisplayMode(0)) << "the desktop's own mode";
    EXPECT_TRUE(windows_.Window(main_->window)->fullscreen);
    EXPECT_EQ(Sides(Outer()), (std::vector<int32_t>{0, 0, 1920, 1080}));
}

TEST_F(WindowSizingTest, AFailedSwitchEndsWindowedWith105210) {
    windows_.SetDisplayModeChangeFails(true);
    const Rect before = Outer();
    EXPECT_EQ(SetScreenMode(1), 1);
    Drain();
    EXPECT_EQ(TheDisplayState().fullscreen, 0);
    EXPECT_EQ(ui_.ErrorNumbers(), (std::vector<uint32_t>{kErrFullscreenFailed}));
    EXPECT_EQ(QuitFlag.load(), 0) << "not fatal";
    EXPECT_EQ(windows_.GetWindowStyle(main_->window) & platform::WS_POPUP, 0u);
    EXPECT_EQ(Sides(Outer()), Sides(before));
    EXPECT_EQ(TheCpuBackBuffer().width, 800) << "the windowed picture's size";
}

TEST_F(WindowSizingTest, NoModeOfTheDisplaySizeShowsTheBox) {
    TheDisplayState().fullscreen = 1;
    TheDisplayState().display_width = 1000;
    TheDisplayState().display_height = 700;
    FindWindowMonitor(*main_);
    EXPECT_EQ(ApplyFullscreenMode(*main_, 0), -1);
    EXPECT_EQ(TheDisplayState().fullscreen, 0);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find("1000 x 700"), std::string::npos);
}

}  // namespace
}  // namespace zk
