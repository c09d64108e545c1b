// The CPU presentation into the headless window system's framebuffers:
// which road each window state takes, where the picture lands, and what a
// blank window looks like.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "layers/cpu_features.h"
#include "platform/headless_window_system.h"
#include "platform/window_system.h"
#include "renderer/cpu_presentation.h"
#include "renderer/cpu_scalers.h"
#include "renderer/display_state.h"
#include "renderer/renderer_hooks.h"
#include "tests/renderer/bilinear_formulas.h"
#include "renderer/cpu_back_buffer.h"

namespace zk {
namespace {

using renderer_test::Pixel;  // B, G, R, X
using renderer_test::PlainMix;
constexpr Pixel kBlack{0, 0, 0, 0};
constexpr Pixel kWhite{255, 255, 255, 255};
constexpr uint32_t kPopupStyle = 0x82000000u;  // no frame: the client area is the window

int64_t IgnoreMessages(platform::WindowHandle, uint32_t, uint64_t, int64_t) { return 0; }

// The picture's pixel at (x, y): every channel says where it came from.
Pixel Pattern(int32_t x, int32_t y) { return {uint8_t(16 * x + 1), uint8_t(16 * y + 2), uint8_t(x + y + 3), 0x80}; }

class CpuPresentationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        ProbeCpuFeatures();
        RegisterScalerJobs();
        QuitFlag = 0;
        TheDisplayState() = DisplayState{};
        TheLetterboxOffset() = LetterboxOffset{};
        windows_ = platform::CreateHeadlessWindowSystem();
        platform::InstallWindowSystem(windows_.get());
        class_name_ = "zktest-present-" + std::to_string(getpid());
        ASSERT_TRUE(windows_->RegisterClass(class_name_, IgnoreMessages));

        node_ = CreateRootNode();
        ASSERT_NE(node_, nullptr);
        image_ = NewCgImageRecord();
        node_->payload = image_.get();
        record_.number = 0;
        record_.shown = 1;
        record_.shown_layer_set = node_;
        MakeWindow(16, 10);
    }

    void TearDown() override {
        node_->payload = nullptr;
        FreeTreeNode(node_);
        platform::InstallWindowSystem(nullptr);
        TheCpuBackBuffer() = CpuBackBuffer{};
        ResetSettings();
        TheDisplayState() = DisplayState{};
        TheLetterboxOffset() = LetterboxOffset{};
        QuitFlag = 0;
    }

    void MakeWindow(int32_t width, int32_t height) {
        platform::WindowCreateParams params;
        params.class_name = class_name_;
        params.style = kPopupStyle;
        params.width = width;
        params.height = height;
        record_.window = windows_->CreateWindow(params);
        ASSERT_NE(record_.window, platform::kNoWindow);
        record_.client_width = width;
        record_.client_height = height;
    }

    // The root image: w x h pixels of `pixel(x, y)`.
    template <class PixelOf>
    void SetPicture(int32_t w, int32_t h, PixelOf pixel) {
        image_->width = w;
        image_->height = h;
        ASSERT_TRUE(AllocCgPixels(*image_, w, h));
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const Pixel p = pixel(x, y);
                std::copy(p.begin(), p.end(), image_->current_pixels + (size_t(y) * w + x) * 4);
            }
    }

    void FillWindow(Pixel colour) {
        const platform::DibPixels block{std::span<const uint8_t>(colour.data(), 4), 1, 1};
        const platform::Rect client = windows_->GetClientRect(record_.window);
        ASSERT_TRUE(windows_->StretchBlit(record_.window, {0, 0, client.Width(), client.Height()}, block, {0, 0, 1, 1}));
    }

    platform::ClientImage Frame() {
        platform::ClientImage frame;
        EXPECT_TRUE(windows_->ReadClientPixels(record_.window, frame));
        return frame;
    }

    static Pixel At(const platform::ClientImage& frame, int32_t x, int32_t y) {
        const uint8_t* q = &frame.pixels[(size_t(y) * frame.width + x) * 4];
        return {q[0], q[1], q[2], q[3]};
    }

    void Present(int64_t left, int64_t top, int64_t right, int64_t bottom) {
        image_->presented_rect = {left, top, right, bottom};
        PresentWindowImage(record_, *image_);
    }

    std::unique_ptr<platform::HeadlessWindowSystem> windows_;
    std::string class_name_;
    NamedTreeNode* node_ = nullptr;
    std::unique_ptr<CgImage> image_;
    WindowRecord record_;
};

// A blank window is painted black from the left over its client width
// rounded down to a multiple of 4, plus 4, and its client height.
TEST_F(CpuPresentationTest, BlankWindowsArePaintedBlackEveryFrame) {
    SetPicture(4, 4, Pattern);
    struct Case {
        const char* why;
        void (*make_blank)(WindowRecord&, CgImage&);
        int32_t client_width;
    };
    const std::array<Case, 4> cases{{
        {"window hidden", [](WindowRecord& r, CgImage&) { r.shown = 0; }, 10},
        {"no root layer", [](WindowRecord& r, CgImage&) { r.shown_layer_set = nullptr; }, 10},
        {"root image hidden", [](WindowRecord&, CgImage& i) { i.visible = 0; }, 9},
        {"width already a multiple of 4", [](WindowRecord& r, CgImage&) { r.shown = 0; }, 8},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        record_.shown = 1;
        record_.shown_layer_set = node_;
        image_->visible = 1;
        c.make_blank(record_, *image_);
        record_.client_width = c.client_width;
        record_.client_height = 6;
        FillWindow(kWhite);
        for (int frame = 0; frame < 2; ++frame) {
            FillWindow(kWhite);
            EXPECT_EQ(RequestWindowPaint(record_), 0);
            const platform::ClientImage shown = Frame();
            const int32_t painted_width = c.client_width - c.client_width % 4 + 4;
            for (int32_t y = 0; y < shown.height; ++y)
                for (int32_t x = 0; x < shown.width; ++x)
                    ASSERT_EQ(At(shown, x, y), (x < painted_width && y < 6) ? kBlack : kWhite) << x << "," << y;
        }
        EXPECT_EQ(windows_->PendingMessages(), 0u);  // blank windows are not invalidated
    }
}

TEST_F(CpuPresentationTest, RepaintRequestsFollowTheChangedByteAndReturnTheQuitFlag) {
    SetPicture(4, 4, Pattern);
    image_->changed = 0;
    EXPECT_EQ(RequestWindowPaint(record_), 0);
    EXPECT_EQ(windows_->PendingMessages(), 0u);
    image_->changed = 1;
    EXPECT_EQ(RequestWindowPaint(record_), 0);
    platform::Message message;
    ASSERT_TRUE(windows_->PeekMessage(message, true));
    EXPECT_EQ(message.message, platform::WM_PAINT);
    EXPECT_EQ(message.window, record_.window);
    EXPECT_EQ(windows_->BlitCount(record_.window), 0u);  // the paint message presents, not the request

    QuitFlag = 1;
    EXPECT_EQ(RequestWindowPaint(record_), 1);
    // A window that does not exist is never painted (nor is anything else).
    record_.window = platform::kNoWindow;
    record_.shown = 0;
    EXPECT_EQ(RequestWindowPaint(record_), 1);
}

// The windowed main window whose picture has the back buffer's size is
// copied 1:1 at the picture's position.
TEST_F(CpuPresentationTest, WholeWindowIsCopiedAtThePicturesPosition) {
    ASSERT_TRUE(AllocateCpuBackBuffer(8, 6));
    SetPicture(8, 6, Pattern);
    image_->x = 3;
    image_->y = 2;
    TheLetterboxOffset() = {7, 7};  // left over from fullscreen: windowed resets it
    PresentWholeWindow(record_);

    EXPECT_EQ(image_->presented_rect, (std::array<int64_t, 4>{0, 0, 7, 5}));
    EXPECT_EQ(image_->changed, 1);
    EXPECT_EQ(TheLetterboxOffset().x, 0);
    EXPECT_EQ(TheLetterboxOffset().y, 0);
    const platform::ClientImage shown = Frame();
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const bool inside = x >= 3 && x < 11 && y >= 2 && y < 8;
            ASSERT_EQ(At(shown, x, y), inside ? Pattern(x - 3, y - 2) : kBlack) << x << "," << y;
        }
}

// Only the presented rectangle is copied, the right way up; a rectangle at
// the left edge that starts below the top and reaches the bottom repaints
// its columns' whole height.
TEST_F(CpuPresentationTest, RectangleBlitWithItsFullHeightException) {
    ASSERT_TRUE(AllocateCpuBackBuffer(8, 6));
    SetPicture(8, 6, Pattern);
    struct Case {
        int32_t window_number;
        int64_t left, top, right, bottom;
        int32_t drawn_left, drawn_top, drawn_right, drawn_bottom;  // inclusive
    };
    const std::array<Case, 6> cases{{
        {0, 0, 2, 3, 5, 0, 0, 3, 5},  // at x = 0, below the top, to the bottom: whole columns
        {0, 1, 2, 4, 5, 1, 2, 4, 5},  // the same one column right: itself only
        {0, 0, 2, 3, 3, 0, 2, 3, 3},  // not reaching the bottom: itself only
        {0, 2, 1, 5, 3, 2, 1, 5, 3},  // inside
        {1, 0, 2, 3, 5, 0, 0, 3, 5},  // a sub-window follows the same rule
        {1, 2, 1, 5, 3, 2, 1, 5, 3},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "window " << c.window_number << " rect " << c.left << "," << c.top << ","
                                        << c.right << "," << c.bottom);
        record_.number = c.window_number;
        // The main window's letterbox margin never shifts a sub-window.
        TheLetterboxOffset() = c.window_number == 0 ? LetterboxOffset{} : LetterboxOffset{5, 3};
        FillWindow(kWhite);
        Present(c.left, c.top, c.right, c.bottom);
        const platform::ClientImage shown = Frame();
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 16; ++x) {
                const bool drawn = x >= c.drawn_left && x <= c.drawn_right && y >= c.drawn_top && y <= c.drawn_bottom;
                ASSERT_EQ(At(shown, x, y), drawn ? Pattern(x, y) : kWhite) << x << "," << y;
            }
    }
}

TEST_F(CpuPresentationTest, NothingIsPresentedForEmptyRectanglesOrWhileQuitting) {
    ASSERT_TRUE(AllocateCpuBackBuffer(8, 6));
    SetPicture(8, 6, Pattern);
    Present(999999999, 999999999, -999999999, -999999999);  // the reset rectangle
    Present(3, 2, 2, 4);
    QuitFlag = 1;
    PresentWholeWindow(record_);
    EXPECT_EQ(windows_->BlitCount(record_.window), 0u);
    QuitFlag = 0;
    TheCpuBackBuffer() = CpuBackBuffer{};  // no back buffer: nothing either
    PresentWholeWindow(record_);
    EXPECT_EQ(windows_->BlitCount(record_.window), 0u);
}

// A 2 x 2 picture in a window resized to 3 x 3: scaled into the back buffer
// and copied to the picture's position. Which scaler ran shows in the
// middle row of a picture of ones: the plain bilinear rounding keeps 1, the
// threaded one gives 0, and nearest copies source pixels.
TEST_F(CpuPresentationTest, ResizedWindowedPictureIsScaledIntoTheBackBuffer) {
    ASSERT_TRUE(AllocateCpuBackBuffer(3, 3));
    const bool sse = TheCpuFeatureFlags().sse != 0;
    struct Case {
        const char* road;
        uint8_t smooth, sse_switch;
        int32_t game_loop_thread;
        uint8_t expected_middle;
    };
    const std::array<Case, 4> cases{{
        {"plain bilinear", 1, 0, 0, 1},
        {"threaded bilinear", 1, 1, 0, uint8_t(sse ? 0 : 1)},
        {"own tables with the game-loop thread", 1, 1, 1, 1},
        {"nearest", 0, 1, 0, 1},
    }};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.road);
        Settings().cpu_smooth_scaling = c.smooth;
        Settings().sse_switch = c.sse_switch;
        Settings().game_loop_thread = c.game_loop_thread;
        SetPicture(2, 2, [](int32_t, int32_t) { return Pixel{1, 1, 1, 1}; });
        image_->x = 1;
        image_->y = 2;
        PresentWholeWindow(record_);
        const platform::ClientImage shown = Frame();
        const uint8_t m = c.expected_middle;
        EXPECT_EQ(At(shown, 1, 3), (Pixel{m, m, m, m}));
        EXPECT_EQ(At(shown, 1, 2), (Pixel{1, 1, 1, 1}));
        EXPECT_EQ(At(shown, 3, 4), (Pixel{1, 1, 1, 1}));
        EXPECT_EQ(At(shown, 4, 5), kBlack);
    }
    // Nearest on a pattern: 2 -> 3 maps columns and rows 0, 0, 1.
    Settings().cpu_smooth_scaling = 0;
    SetPicture(2, 2, Pattern);
    image_->x = 0;
    image_->y = 0;
    PresentWholeWindow(record_);
    const platform::ClientImage shown = Frame();
    const std::array<int32_t, 3> map{0, 0, 1};
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(At(shown, x, y), Pattern(map[x], map[y])) << x << "," << y;
}

// Fullscreen and maximized: the picture goes to the back buffer's rectangle
// centred in the display area, scaled by the road the state chooses.
TEST_F(CpuPresentationTest, FullscreenAndMaximizedRoads) {
    Settings().sse_switch = 0;  // the plain bilinear scaler, whatever the processor
    const std::array<Pixel, 4> corners{Pixel{0, 10, 20, 30}, Pixel{200, 100, 50, 255}, Pixel{40, 0, 80, 0},
                                       Pixel{255, 255, 255, 255}};
    struct Case {
        const char* state;
        uint8_t fullscreen, maximized;
        int32_t scaling_mode;
        uint8_t smooth;
        bool bilinear;
    };
    const std::array<Case, 5> cases{{
        {"fullscreen fit, smooth", 1, 0, kPlacementFitHeight, 1, true},
        {"fullscreen fit, not smooth", 1, 0, kPlacementFitHeight, 0, false},
        {"maximized, not smooth, unscaled mode", 0, 1, kPlacementCentred, 0, true},
        {"maximized in fullscreen, not smooth", 1, 1, kPlacementStretched, 0, false},
        {"maximized, smooth", 0, 1, kPlacementFitWidth, 1, true},
    }};
    ASSERT_TRUE(AllocateCpuBackBuffer(3, 3));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        TheDisplayState() = DisplayState{c.fullscreen, c.maximized, 12, 8, c.scaling_mode};
        Settings().cpu_smooth_scaling = c.smooth;
        SetPicture(2, 2, [&](int32_t x, int32_t y) { return corners[size_t(y * 2 + x)]; });
        FillWindow(kWhite);
        PresentWholeWindow(record_);
        // (12 - 3) / 2 and (8 - 3) / 2, truncated.
        EXPECT_EQ(TheLetterboxOffset().x, 4);
        EXPECT_EQ(TheLetterboxOffset().y, 2);
        const platform::ClientImage shown = Frame();
        const Pixel middle = c.bilinear ? PlainMix(corners[0], corners[1], corners[2], corners[3], 128, 128) : corners[0];
        EXPECT_EQ(At(shown, 5, 3), middle);
        EXPECT_EQ(At(shown, 4, 2), corners[0]);
        EXPECT_EQ(At(shown, 6, 4), corners[3]);
        EXPECT_EQ(At(shown, 3, 2), kWhite);
        EXPECT_EQ(At(shown, 7, 3), kWhite);
    }
}

// Unscaled fullscreen: the window system stretches the picture onto the
// back buffer's rectangle (nearest, as COLORONCOLOR does).
TEST_F(CpuPresentationTest, UnscaledFullscreenIsStretchedOntoTheBackBufferRectangle) {
    ASSERT_TRUE(AllocateCpuBackBuffer(12, 8));
    TheDisplayState() = DisplayState{1, 0, 16, 10, kPlacementCentred};
    SetPicture(6, 4, Pattern);
    FillWindow(kWhite);
    PresentWholeWindow(record_);
    EXPECT_EQ(TheLetterboxOffset().x, 2);
    EXPECT_EQ(TheLetterboxOffset().y, 1);
    const platform::ClientImage shown = Frame();
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const bool inside = x >= 2 && x < 14 && y >= 1 && y < 9;
            ASSERT_EQ(At(shown, x, y), inside ? Pattern((x - 2) / 2, (y - 1) / 2) : kWhite) << x << "," << y;
        }
}

// What the frame step and the window procedure reach through the hooks:
// the window records by number.
TEST_F(CpuPresentationTest, HooksReachTheWindowRecords) {
    const EngineHooks saved = Hooks();
    RegisterRendererHooks();
    ASSERT_EQ(CreateWindowRecords(), 0);
    WindowRecord& main_record = *GetWindowRecord(0);
    main_record.window = record_.window;
    main_record.client_width = 16;
    main_record.client_height = 10;
    main_record.shown = 1;
    main_record.shown_layer_set = node_;
    ASSERT_TRUE(AllocateCpuBackBuffer(8, 6));
    SetPicture(8, 6, Pattern);

    image_->changed = 1;
    EXPECT_EQ(Hooks().request_window_paint(0), 0);
    EXPECT_EQ(windows_->PendingMessages(), 1u);
    EXPECT_EQ(Hooks().request_window_paint(1), 0);  // never made: nothing happens
    EXPECT_EQ(Hooks().present_whole_window(main_record), 0);
    EXPECT_EQ(At(Frame(), 7, 5), Pattern(7, 5));

    main_record.shown = 0;
    EXPECT_EQ(Hooks().request_window_paint(0), 0);
    EXPECT_EQ(At(Frame(), 7, 5), kBlack);

    DestroyWindowRecords();
    Hooks() = saved;
}

}  // namespace
}  // namespace zk
