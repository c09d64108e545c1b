// The window menu bar as the engine's own strip, on the headless window
// system with the recording UI: the strip is non-client (the outer window
// keeps its size, the client area starts below it and every client
// coordinate leaves it out), a press on a caption opens its submenu below
// the caption and the choice reaches the pending menu command (system
// variable 132), and in fullscreen the strip lies over the picture while
// the pointer is at the top of the screen.
//
// The bar of every test, menu tree "M0/bar":
//   File  (group)  -> Open (id 0x50007), Close (id 8)
//   Quit  (item)   id 9
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "engine/engine_reset.h"
#include "engine/menu_strip.h"
#include "engine/window_proc.h"
#include "platform/headless_window_system.h"
#include "platform/ui.h"
#include "renderer/display_state.h"
#include "system/menu_bar_strip.h"
#include "system/menus.h"

namespace zk {
namespace {

using platform::InputEvent;
using Kind = InputEvent::Kind;

InputEvent StripEvent(Kind kind, int32_t a = 0, int32_t b = 0) {
    InputEvent event;
    event.kind = kind;
    event.a = a;
    event.b = b;
    return event;
}

// ApproximateFrame of a captioned window: 4-pixel borders, a 24-pixel caption.
constexpr int32_t kFrameTop = 28, kFrameLeft = 4;

class MenuStripTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        platform::InstallWindowSystem(&windows_);
        platform::InstallUi(&ui_);
        CreateRootTrees();
        ASSERT_EQ(CreateWindowRecords(), 0);
        main_ = GetWindowRecord(0);
        main_->client_width = 640;
        main_->client_height = 480;
        SetupWindowRecord(*main_, "main");
        const std::string name = "zktest-strip-" + std::to_string(getpid());
        ASSERT_TRUE(windows_.RegisterClass(name, EngineWindowProc));
        platform::WindowCreateParams params;
        params.class_name = name;
        params.style = platform::WS_CAPTION | platform::WS_SYSMENU;
        params.x = 100;
        params.y = 50;
        params.width = 640 + 2 * kFrameLeft;
        params.height = 480 + kFrameTop + 4;
        main_->window = windows_.CreateWindow(params);
        ASSERT_NE(main_->window, platform::kNoWindow);
        windows_.SetUserData(main_->window, main_);
        WindowState[0] = 1;
        windows_.ShowWindow(main_->window, platform::SW_SHOW);
        ASSERT_EQ(CreateMenuStripWindow(), 1);

        Item("M0/bar", true, 1, "Bar", 0);
        Item("M0/bar/file", true, 1, "&File", 0);
        Item("M0/bar/file/open", false, 1, "&Open", 0x50007);
        Item("M0/bar/file/close", false, 2, "Close", 8);
        Item("M0/bar/quit", false, 2, "&Quit", 9);
        Drain();
    }
    void TearDown() override {
        DestroyMenuStripWindow();
        FreeRootTrees();
        DestroyWindowRecords();
        platform::InstallUi(nullptr);
        platform::InstallWindowSystem(nullptr);
        ResetEngine();
    }

    static void Item(const std::string& path, bool group, int64_t order, const std::string& caption, int64_t id) {
        NamedTreeNode* node = CreateTreeNode(TheRootTrees().menus, path, group, order);
        ASSERT_NE(node, nullptr) << path;
        MenuItem* item = CreateMenuItem(node, caption);
        ASSERT_NE(item, nullptr);
        item->id = id;
    }
    void SetBar(const std::string& name) {
        ASSERT_TRUE(SetWindowMenuBar(*main_, name));
        ApplyWindowMenuBar(*main_);
        Drain();
    }
    void Drain() {
        platform::Message m;
        while (windows_.PeekMessage(m, true)) windows_.DispatchMessage(m);
    }
    platform::WindowInfo Info() { return *windows_.Window(main_->window); }
    // A left click at a client point of the main window.
    void Click(int32_t x, int32_t y) {
        windows_.InjectInput(StripEvent(Kind::kMouseMove, x, y));
        windows_.InjectInput(StripEvent(Kind::kButtonDown, 1));
        windows_.InjectInput(StripEvent(Kind::kButtonUp, 1));
        Drain();
    }

    platform::HeadlessWindowSystem windows_;
    platform::RecordingUi ui_;
    WindowRecord* main_ = nullptr;
};

TEST_F(MenuStripTest, ABarKeepsTheWindowSizeAndTheClientAreaStartsBelowIt) {
    const platform::Rect outer = windows_.GetWindowRect(main_->window);
    SetBar("M0/bar");
    EXPECT_EQ(windows_.GetWindowRect(main_->window).Width(), outer.Width());
    EXPECT_EQ(windows_.GetWindowRect(main_->window).Height(), outer.Height());
    EXPECT_EQ(windows_.GetClientRect(main_->window).Width(), 640);
    EXPECT_EQ(windows_.GetClientRect(main_->window).Height(), 480 - kMenuStripHeight);

    // The client's top row lies just below the strip on the screen, and a
    // pointer there reads as client row 0.
    windows_.InjectInput(StripEvent(Kind::kMouseMove, 10, 0));
    EXPECT_EQ(windows_.CursorPosition().y, outer.top + kFrameTop + kMenuStripHeight);
    platform::Point at;
    ASSERT_TRUE(windows_.GetCursorClientPos(main_->window, at));
    EXPECT_EQ(at, (platform::Point{10, 0}));
    // Warping the cursor to a client point lands there too.
    ASSERT_TRUE(windows_.WarpCursor(main_->window, platform::Point{5, 7}));
    EXPECT_EQ(windows_.CursorPosition().y, outer.top + kFrameTop + kMenuStripHeight + 7);

    // A press on the client's first row is the client's; one on the strip's
    // last row (client y -1) is not.
    TheWindowRequests().last_mouse_button = 0;
    Click(300, 0);
    EXPECT_EQ(TheWindowRequests().last_mouse_button.load(), 1);
    TheWindowRequests().last_mouse_button = 0;
    Click(300, -1);
    EXPECT_EQ(TheWindowRequests().last_mouse_button.load(), 0);

    // The host shows the strip above the client pixels; the client pixels
    // leave it out.
    platform::ClientImage whole, client;
    ASSERT_TRUE(windows_.ReadWindowPixels(main_->window, whole));
    ASSERT_TRUE(windows_.ReadClientPixels(main_->window, client));
    EXPECT_EQ(whole.height, 480);
    EXPECT_EQ(client.height, 480 - kMenuStripHeight);
    EXPECT_EQ(whole.pixels[size_t(whole.width) * 4 * 2 + 600 * 4], 0xF0) << "the strip's colour past its captions";
    // A blit at client (0, 0) lands below the strip.
    std::vector<uint8_t> pixel = {0, 0, 255, 0};
    ASSERT_TRUE(windows_.StretchBlit(main_->window, {0, 0, 1, 1}, {pixel, 1, 1}, {0, 0, 1, 1}));
    ASSERT_TRUE(windows_.ReadWindowPixels(main_->window, whole));
    EXPECT_EQ(whole.pixels[size_t(whole.width) * 4 * kMenuStripHeight + 2], 255);
    EXPECT_EQ(whole.pixels[size_t(whole.width) * 4 * (kMenuStripHeight - 1) + 2], 0xC8) << "the strip's edge stays";

    // Taking the bar away gives the rows back.
    SetBar("");
    EXPECT_EQ(windows_.GetClientRect(main_->window).Height(), 480);
    EXPECT_EQ(windows_.GetWindowRect(main_->window).Height(), outer.Height());
}

TEST_F(MenuStripTest, ACaptionOpensItsSubmenuBelowItAndTheChoiceReachesTheMenuCommand) {
    SetBar("M0/bar");
    const std::vector<MenuBarCaption> captions = LayOutMenuBar(WindowMenuBar(0));
    ASSERT_EQ(captions.size(), 2u);
    ASSERT_LT(captions[0].right, captions[1].left + 1);

    // "File": its submenu below the caption; the id's low 16 bits arrive.
    ui_.QueuePopupChoice(0x50007);
    Click(captions[0].left + 3, -10);
    ASSERT_EQ(ui_.popups.size(), 1u);
    const platform::PopupMenuRequest& popup = ui_.popups[0];
    EXPECT_TRUE(popup.below_rect);
    EXPECT_EQ(popup.owner, main_->window);
    EXPECT_EQ(popup.rect_x, captions[0].left);
    EXPECT_EQ(popup.rect_width, captions[0].right - captions[0].left);
    EXPECT_EQ(popup.rect_y, 0);
    EXPECT_EQ(popup.rect_height, kMenuStripHeight);
    ASSERT_EQ(popup.items.size(), 2u);
    EXPECT_EQ(popup.items[0].text, "&Open");
    Drain();
    EXPECT_EQ(TheWindowRequests().menu_command.load(), 7);

    // Dismissing the menu sends nothing.
    TheWindowRequests().menu_command = 0;
    Click(captions[0].left + 3, -10);
    EXPECT_EQ(ui_.popups.size(), 2u);
    EXPECT_EQ(TheWindowRequests().menu_command.load(), 0);

    // "Quit" has no submenu: it is chosen at once. Past the captions
    // nothing happens.
    Click(captions[1].left + 1, -kMenuStripHeight);
    EXPECT_EQ(TheWindowRequests().menu_command.load(), 9);
    EXPECT_EQ(ui_.popups.size(), 2u);
    TheWindowRequests().menu_command = 0;
    Click(captions[1].right + 5, -5);
    EXPECT_EQ(TheWindowRequests().menu_command.load(), 0);
    EXPECT_EQ(ui_.popups.size(), 2u);
}

TEST_F(MenuStripTest, CaptionsLeaveTheirMnemonicMarksOut) {
    struct Case {
        const char* caption;
        const char* label;
    };
    for (const Case& c : {Case{"&File", "File"}, Case{"A&&B", "A&B"}, Case{"End&", "End"}, Case{"", ""},
                          Case{"\x83\x5C&X", "\x83\x5CX"}}) {
        EXPECT_EQ(MenuCaptionLabel(c.caption), c.label) << c.caption;
    }
}

TEST_F(MenuStripTest, InFullscreenTheStripShowsOverThePictureWhileThePointerIsAtTheTop) {
    SetBar("M0/bar");
    ASSERT_TRUE(windows_.ChangeDisplayMode(main_->window, 0, nullptr));
    TheDisplayState().fullscreen = 1;
    ApplyWindowMenuBar(*main_);  // the display switch builds the bar again
    Drain();
    EXPECT_EQ(windows_.GetClientRect(main_->window).Height(), 480) << "an overlaid strip takes no room";
    EXPECT_TRUE(Info().menu_strip_overlay);
    EXPECT_FALSE(Info().menu_strip_shown);

    auto pointer_at = [&](int32_t y) {
        windows_.InjectInput(StripEvent(Kind::kMouseMove, 100, y));
        main_->mouse_y = y;
        UpdateFullscreenMenuStrip();
        Drain();
    };
    pointer_at(200);
    EXPECT_FALSE(FullscreenMenuStripShown());
    pointer_at(kMenuStripHeight - 1);
    EXPECT_TRUE(FullscreenMenuStripShown());
    EXPECT_TRUE(Info().menu_strip_shown);
    platform::ClientImage client;
    ASSERT_TRUE(windows_.ReadClientPixels(main_->window, client));
    EXPECT_EQ(client.pixels[size_t(client.width) * 4 * 2 + 600 * 4], 0xF0) << "drawn over the top rows";

    // A choice from the fullscreen bar goes to the strip window's procedure.
    const std::vector<MenuBarCaption> captions = LayOutMenuBar(WindowMenuBar(0));
    TheWindowRequests().menu_command = 0;
    ui_.QueuePopupChoice(8);
    Click(captions[0].left + 2, 5);
    ASSERT_EQ(ui_.popups.size(), 1u);
    EXPECT_EQ(TheWindowRequests().menu_command.load(), 8);

    pointer_at(kMenuStripHeight);
    EXPECT_FALSE(FullscreenMenuStripShown());
    EXPECT_FALSE(Info().menu_strip_shown);

    // Without a bar the top of the screen shows nothing.
    SetBar("");
    pointer_at(0);
    EXPECT_FALSE(FullscreenMenuStripShown());
    TheDisplayState().fullscreen = 0;
}

}  // namespace
}  // namespace zk
