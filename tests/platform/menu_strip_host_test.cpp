// The menu strip on the headless window system, at the edges the engine
// does not reach on its own: unknown windows, a strip taller than the
// window, pictures that do not cover the strip (or whose bytes fall short
// of their size), and an overlaid strip that only takes presses while
// shown.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/headless_window_system.h"
#include "platform/window_system.h"

namespace zk::platform {
namespace {

constexpr uint32_t kStripPopupStyle = 0x82000000u;  // no frame: the client area is the window

std::vector<uint32_t> strip_messages;
int64_t RecordStripMessages(WindowHandle, uint32_t message, uint64_t, int64_t) {
    strip_messages.push_back(message);
    return 0;
}

class MenuStripHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        strip_messages.clear();
        windows_ = CreateHeadlessWindowSystem();
        const std::string name = "zktest-striphost-" + std::to_string(getpid());
        ASSERT_TRUE(windows_->RegisterClass(name, RecordStripMessages));
        WindowCreateParams params;
        params.class_name = name;
        params.style = kStripPopupStyle;
        params.width = 40;
        params.height = 30;
        window_ = windows_->CreateWindow(params);
        ASSERT_NE(window_, kNoWindow);
        windows_->ShowWindow(window_, SW_SHOW);
        Drain();
    }
    void Drain() {
        Message m;
        while (windows_->PeekMessage(m, true)) windows_->DispatchMessage(m);
    }
    // The host's pixel (strip rows first) at (x, y), its red byte.
    uint8_t HostRed(int32_t x, int32_t y) {
        ClientImage whole;
        EXPECT_TRUE(windows_->ReadWindowPixels(window_, whole));
        return whole.pixels[(size_t(y) * size_t(whole.width) + size_t(x)) * 4 + 2];
    }
    void Press(int32_t x, int32_t y) {
        InputEvent move;
        move.kind = InputEvent::Kind::kMouseMove;
        move.a = x;
        move.b = y;
        windows_->InjectInput(move);
        InputEvent down;
        down.kind = InputEvent::Kind::kButtonDown;
        down.a = 1;
        windows_->InjectInput(down);
        down.kind = InputEvent::Kind::kButtonUp;
        windows_->InjectInput(down);
        strip_messages.clear();
        Drain();
    }
    bool Saw(uint32_t message) const {
        for (uint32_t m : strip_messages)
            if (m == message) return true;
        return false;
    }

    std::unique_ptr<HeadlessWindowSystem> windows_;
    WindowHandle window_ = kNoWindow;
};

TEST_F(MenuStripHostTest, UnknownWindowsAndOversizedStripsAreRefusedOrKeptInBounds) {
    const WindowHandle unknown = window_ + 100;
    EXPECT_FALSE(windows_->SetMenuStrip(unknown, 20, false));
    EXPECT_FALSE(windows_->DrawMenuStrip(unknown, ClientImage{}));
    EXPECT_FALSE(windows_->ShowMenuStrip(unknown, true));
    EXPECT_FALSE(windows_->ShowMenuStrip(window_, true)) << "no strip yet";

    // A strip taller than the window leaves no client area, and nothing
    // reads or draws past the window.
    ASSERT_TRUE(windows_->SetMenuStrip(window_, 100000, false));
    EXPECT_EQ(windows_->Window(window_)->menu_strip, 256);
    EXPECT_EQ(windows_->GetClientRect(window_).Height(), 0);
    ClientImage client;
    EXPECT_FALSE(windows_->ReadClientPixels(window_, client));
    const std::vector<uint8_t> pixel = {0, 0, 255, 0};
    EXPECT_FALSE(windows_->StretchBlit(window_, {0, 0, 1, 1}, {pixel, 1, 1}, {0, 0, 1, 1}));
    ASSERT_TRUE(windows_->SetMenuStrip(window_, 0, false));
    EXPECT_EQ(windows_->GetClientRect(window_).Height(), 30);
}

TEST_F(MenuStripHostTest, PicturesThatFallShortOfTheStripPaintItPlain) {
    struct Case {
        const char* what;
        int32_t width, height;
        size_t bytes;
        uint8_t red_at_0_0, red_past_picture;
    };
    // A picture of red 200: narrower pictures repeat their last column; a
    // picture lower than the strip, or with fewer bytes than its size
    // says, is not used (plain 0xF0).
    const Case cases[] = {
        {"covers the strip", 40, 8, 40 * 8 * 4, 200, 200},
        {"one column wide", 1, 8, 8 * 4, 200, 200},
        {"lower than the strip", 40, 4, 40 * 4 * 4, 0xF0, 0xF0},
        {"bytes short of its size", 40, 8, 10, 0xF0, 0xF0},
        {"empty", 0, 0, 0, 0xF0, 0xF0},
    };
    ASSERT_TRUE(windows_->SetMenuStrip(window_, 8, false));
    for (const Case& c : cases) {
        ClientImage picture;
        picture.width = c.width;
        picture.height = c.height;
        picture.pixels.assign(c.bytes, 0);
        for (size_t i = 2; i < c.bytes; i += 4) picture.pixels[i] = 200;
        ASSERT_TRUE(windows_->DrawMenuStrip(window_, picture)) << c.what;
        EXPECT_EQ(HostRed(0, 0), c.red_at_0_0) << c.what;
        EXPECT_EQ(HostRed(39, 7), c.red_past_picture) << c.what;
        EXPECT_EQ(HostRed(0, 8), 0) << c.what << ": the client's first row is not the strip's";
    }
}

TEST_F(MenuStripHostTest, AnOverlaidStripTakesPressesOnlyWhileShown) {
    ASSERT_TRUE(windows_->SetMenuStrip(window_, 8, true));
    EXPECT_EQ(windows_->GetClientRect(window_).Height(), 30) << "an overlay takes no room";
    Press(5, 3);
    EXPECT_TRUE(Saw(WM_LBUTTONDOWN));
    EXPECT_FALSE(Saw(WM_NCLBUTTONDOWN));
    ASSERT_TRUE(windows_->ShowMenuStrip(window_, true));
    Press(5, 3);
    EXPECT_TRUE(Saw(WM_NCLBUTTONDOWN));
    EXPECT_FALSE(Saw(WM_LBUTTONDOWN));
    Press(5, 8);  // the row below the strip is the client's
    EXPECT_TRUE(Saw(WM_LBUTTONDOWN));
    ASSERT_TRUE(windows_->ShowMenuStrip(window_, false));
    Press(5, 3);
    EXPECT_TRUE(Saw(WM_LBUTTONDOWN));
}

}  // namespace
}  // namespace zk::platform
