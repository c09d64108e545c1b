// The window commands on readable scripts over the headless window system:
// 105 creates and configures windows (in its order of application), 106
// hides a sub window, 107 reads properties; their errors; the shape built
// from a layer's picture; command 93's game size and command 28's rate;
// the DirectX version from file versions.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "core/directx_version.h"
#include "core/engine_state.h"
#include "core/error_codes.h"
#include "core/named_tree.h"
#include "core/root_trees.h"
#include "core/settings.h"
#include "core/startup_paths.h"
#include "core/error_report.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "core/window_requests.h"
#include "engine/engine_commands.h"
#include "engine/window_commands.h"
#include "engine/window_creation.h"
#include "engine/window_sizing.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "layers/layer_tree_root.h"
#include "platform/headless_window_system.h"
#include "platform/ui.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/display_state.h"
#include "tests/script/runner_test_support.h"

namespace zk {
namespace {

using platform::Rect;

std::vector<int32_t> Sides(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

class WindowCommandsTest : public script_test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        platform::InstallWindowSystem(&windows_);
        platform::InstallUi(&ui_);
        ASSERT_EQ(CreateWindowRecords(), 0);
        RegisterWindowSizingHooks();
        RegisterWindowCommands();
        RegisterEngineCommands();
        TheSystemFacts().desktop_width = 1920;
        TheSystemFacts().desktop_height = 1080;
        Settings().resizable = 1;
        TheWindowCreationSettings().window_mode = 1;
        TheWindowCreationSettings().resizable = 1;
        Paths().instance_name = "zktest-wincmd-" + std::to_string(getpid());
        main_ = MainWindowRecord();
        main_->client_width = 800;
        main_->client_height = 600;
        SetupWindowRecord(*main_, "main");
        WindowState[0] = 1;
        ASSERT_EQ(CreateEngineWindow(*main_, platform::SW_SHOW, Paths().instance_name, "main"), 1);
        ASSERT_TRUE(AllocateCpuBackBuffer(800, 600));
        InitWindowSizing(800, 600);
        windows_.ShowWindow(main_->window, platform::SW_SHOW);
        Drain();
    }
    void TearDown() override {
        DestroyWindowRecords();
        platform::InstallUi(nullptr);
        platform::InstallWindowSystem(nullptr);
        SetFileVersionProvider({});
        ScriptRunTest::TearDown();
    }
    // Boots the script with a layer tree: W0 (the game size), the group W1,
    // and the leaves W0/shape and W0/striped for shapes.
    bool BootWithLayers(std::string_view text) {
        if (!Boot(text)) return false;
        TheRootTrees().layers = CreateLayerTree(800, 600);
        NamedTreeNode* root = TheRootTrees().layers;
        if (root == nullptr) return false;
        NamedTreeNode* w1 = CreateTreeNode(root, "W1", true, 2);
        CgImage* w1_image = CreateCgImage(w1);
        w1_image->width = 160;
        w1_image->height = 120;
        AllocCgPixels(*w1_image, 160, 120);
        // 4 x 3: rows 0 and 2 white, row 1 black (alpha 255 everywhere).
        CgImage* shape = CreateCgImage(CreateTreeNode(root, "W0/shape", false, 1));
        shape->width = 4;
        shape->height = 3;
        AllocCgPixels(*shape, 4, 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x) {
                uint8_t* p = shape->current_pixels + (y * 4 + x) * 4;
                const uint8_t v = y == 1 ? 0 : 255;
                p[0] = p[1] = p[2] = v;
                p[3] = 255;
            }
        }
        // 4000 x 1 of alternating pixels: 2000 runs, one too many.
        CgImage* striped = CreateCgImage(CreateTreeNode(root, "W0/striped", false, 2));
        striped->width = 4000;
        striped->height = 1;
        AllocCgPixels(*striped, 4000, 1);
        for (int x = 0; x < 4000; x += 2) striped->current_pixels[x * 4] = 1;
        return true;
    }
    void Drain() {
        platform::Message m;
        for (int i = 0; i < 1000 && windows_.PeekMessage(m, true); ++i) windows_.DispatchMessage(m);
    }
    // One frame: the script's passes, then the messages they left.
    int Frame() {
        const int result = Pass();
        Drain();
        return result;
    }
    std::vector<uint32_t> Errors() const { return ui_.ErrorNumbers(); }

    platform::HeadlessWindowSystem windows_;
    platform::RecordingUi ui_;
    WindowRecord* main_ = nullptr;
};

TEST_F(WindowCommandsTest, ASubWindowIsCreatedConfiguredReadAndHidden) {
    ASSERT_TRUE(BootWithLayers("int v[8]\nstr t[1]\n"
                               "label SYSTEM_START\n"
                               "window no=1, title=\"map\", width=160, height=120, x=50, y=60, layerset=\":W1/\", "
                               "alpha=128, close=3, zorder=1\n"
                               "windowinfo no=1, result=v[0], exists=1\n"
                               "windowinfo no=1, result=v[1], clientwidth=1\n"
                               "windowinfo no=1, result=v[2], clientheight=1\n"
                               "windowinfo no=1, result=v[3], x=1\n"
                               "windowinfo no=1, result=v[4], alpha=1\n"
                               "windowinfo no=1, result=t[0], title=1\n"
                               "windowinfo no=3, result=v[5], exists=1\n"
                               "windowinfo no=9, result=v[6], width=1\n"
                               "wait 1\n"
                               "hidewindow no=1\n"
                               "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Frame(), 0);
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(WindowState[1], 1);
    const WindowRecord* sub = GetWindowRecord(1);
    ASSERT_NE(sub->window, platform::kNoWindow);
    const platform::WindowInfo info = *windows_.Window(sub->window);
    EXPECT_TRUE(info.visible);
    EXPECT_TRUE(info.topmost);
    EXPECT_EQ(info.class_name, Paths().instance_name + "_sub_1");
    EXPECT_EQ(Int("v", 0), 1);
    EXPECT_EQ(Int("v", 1), 160);
    EXPECT_EQ(Int("v", 2), 120);
    EXPECT_EQ(Int("v", 3), 50) << "outer position";
    EXPECT_EQ(Int("v", 4), 128);
    EXPECT_EQ(Text("t", 0), "map");
    EXPECT_EQ(Int("v", 5), 0) << "window 3 does not exist";
    EXPECT_EQ(Int("v", 6), 0) << "no window 9";
    EXPECT_EQ(sub->shown_layer_set, FindNodeByPath(TheRootTrees().layers, "W1", kFindGroup));
    EXPECT_EQ(LayerImage(sub->shown_layer_set)->window_root, 1);
    EXPECT_EQ(sub->close_behaviour.load(), 3);
    ASSERT_EQ(Frame(), 0);
    EXPECT_FALSE(windows_.Window(sub->window)->visible);
}

TEST_F(WindowCommandsTest, RefusedValues) {
    struct Case {
        const char* line;
        uint32_t code;
    };
    const Case cases[] = {
        {"window no=2, width=100\n", kErrWindowNeedsTitle},
        {"window no=0, zorder=3\n", kErrWindowValue},
        {"window no=0, close=3\n", kErrWindowValue},
        {"window no=4, title=\"x\"\n", kErrWindowValue},
        {"window no=-1, title=\"x\"\n", kErrWindowValue},
        {"window no=0, layerset=\":nothing/\"\n", kErrLayerNotFound},
        {"window no=0, shape=\"nothing\"\n", kErrLayerNotFound},
        {"hidewindow no=0\n", kErrHideMainWindow},
        {"hidewindow no=7\n", kErrWindowValue},
        {"windowinfo no=0, result=s[0], exists=1\n", kErrWrongVariableType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ResetErrorReporter();
        const size_t before = Errors().size();
        QuitFlag = 0;
        ASSERT_TRUE(BootWithLayers(std::string("str s[1]\nlabel SYSTEM_START\n") + c.line +
                                   "label IDLE\nwait 1\njump IDLE\n"));
        Pass();
        const std::vector<uint32_t> errors = Errors();
        EXPECT_EQ(std::vector<uint32_t>(errors.begin() + static_cast<std::ptrdiff_t>(before), errors.end()),
                  (std::vector<uint32_t>{c.code}));
        FreeRootTrees();
    }
    EXPECT_EQ(WindowState[2], -1) << "no window without a title";
    QuitFlag = 0;
}

// A layer set of 0 x 0 cannot be shown: a box, no layer set, and the
// engine ends.
TEST_F(WindowCommandsTest, AnEmptyLayerSetEndsTheEngine) {
    ASSERT_TRUE(BootWithLayers("label SYSTEM_START\n"
                               "window no=0, layerset=\":W2/\"\n"
                               "label IDLE\nwait 1\njump IDLE\n"));
    CgImage* empty = CreateCgImage(CreateTreeNode(TheRootTrees().layers, "W2", true, 3));
    empty->width = 0;
    empty->height = 0;
    EXPECT_EQ(Pass(), 1);
    EXPECT_EQ(QuitFlag.load(), 1);
    EXPECT_EQ(main_->shown_layer_set, nullptr);
    EXPECT_EQ(empty->window_root, 0);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    QuitFlag = 0;
}

TEST_F(WindowCommandsTest, SizesByPixelsKeepTheGameAspect) {
    ASSERT_TRUE(BootWithLayers("label SYSTEM_START\n"
                               "window widthpx=1000\nwait 1\n"
                               "window heightpx=3000\nwait 1\n"
                               "window widthpx=0, heightpx=-5\nwait 1\n"
                               "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(windows_.GetClientRect(main_->window).Width(), 1000);
    EXPECT_EQ(windows_.GetClientRect(main_->window).Height(), 750);
    EXPECT_EQ(TheCpuBackBuffer().width, 1000) << "the picture follows the window";
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(windows_.GetClientRect(main_->window).Height(), 1080) << "at most the desktop";
    EXPECT_EQ(windows_.GetClientRect(main_->window).Width(), 1440);
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(windows_.GetClientRect(main_->window).Width(), 1440) << "sizes below 1 change nothing";
    EXPECT_EQ(main_->client_width, 800) << "the game size stays";
    EXPECT_TRUE(Errors().empty());
}

TEST_F(WindowCommandsTest, ShapeCutsBlackRowsAndRefusesTooManyRuns) {
    ASSERT_TRUE(BootWithLayers("label SYSTEM_START\n"
                               "window shape=\"shape\"\nwait 1\n"
                               "window shape=\"striped\"\n"
                               "window title=\"after\"\n"
                               "label IDLE\nwait 1\njump IDLE\n"));
    ASSERT_EQ(Frame(), 0);
    platform::WindowInfo info = *windows_.Window(main_->window);
    ASSERT_TRUE(info.shaped);
    ASSERT_EQ(info.shape.size(), 2u);
    EXPECT_EQ(Sides(info.shape[0]), (std::vector<int32_t>{0, 0, 4, 1}));
    EXPECT_EQ(Sides(info.shape[1]), (std::vector<int32_t>{0, 2, 4, 3}));
    // 2000 runs: no region, the old shape stays, and the command ends the
    // task's turn (its next line waits for the next pass).
    Frame();
    info = *windows_.Window(main_->window);
    EXPECT_EQ(info.shape.size(), 2u);
    EXPECT_EQ(main_->title, "main");
    Frame();
    EXPECT_EQ(main_->title, "after");
    EXPECT_TRUE(Errors().empty());
}

TEST(BuildRegionTest, RunsOfNonBlackPixelsAlphaIgnored) {
    // One row: black, red (alpha 0), green, black, blue.
    const std::vector<uint8_t> row = {0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255};
    const auto rects = BuildRegionFromBitmap(row, 5, 1);
    ASSERT_TRUE(rects);
    ASSERT_EQ(rects->size(), 2u);
    EXPECT_EQ(Sides((*rects)[0]), (std::vector<int32_t>{1, 0, 3, 1}));
    EXPECT_EQ(Sides((*rects)[1]), (std::vector<int32_t>{4, 0, 5, 1}));
    // Bytes that do not hold the picture are not read.
    EXPECT_FALSE(BuildRegionFromBitmap(row, 5, 2));
    // 1999 runs are the most a shape takes.
    std::vector<uint8_t> striped(3998 * 4, 0);
    for (size_t x = 0; x < 3998; x += 2) striped[x * 4 + 1] = 9;
    EXPECT_EQ(BuildRegionFromBitmap(striped, 3998, 1)->size(), 1999u);
}

TEST(WindowTitleTest, CutAt262BytesOnACharacterBoundary) {
    EXPECT_EQ(CutWindowTitle(""), " ");
    EXPECT_EQ(CutWindowTitle("abc"), "abc");
    const std::string ascii(300, 'a');
    EXPECT_EQ(CutWindowTitle(ascii).size(), 262u);
    // 261 single bytes then a two-byte character: the character would end
    // at byte 263, so the cut falls before it.
    std::string mixed(261, 'a');
    mixed += "\x82\xa0";
    mixed += "bbb";
    EXPECT_EQ(CutWindowTitle(mixed).size(), 261u);
}

TEST_F(WindowCommandsTest, ZOrderBottomAndBehindTheMainWindow) {
    ASSERT_TRUE(BootWithLayers("label SYSTEM_START\n"
                               "window no=1, title=\"a\"\nwindow no=2, title=\"b\"\n"
                               "window no=1, zorder=2\nwait 1\n"
                               "window no=2, zorder=3\n"
                               "label IDLE\nwait 1\njump IDLE\n"));
    Frame();
    const platform::WindowHandle w0 = main_->window, w1 = GetWindowRecord(1)->window, w2 = GetWindowRecord(2)->window;
    EXPECT_EQ(windows_.StackingOrder(), (std::vector<platform::WindowHandle>{w2, w0, w1}));
    Frame();
    EXPECT_EQ(windows_.StackingOrder(), (std::vector<platform::WindowHandle>{w0, w2, w1}));
    EXPECT_TRUE(Errors().empty());
}

TEST_F(WindowCommandsTest, ScreenModeAndMinimize) {
    ASSERT_TRUE(BootWithLayers("int v[4]\n"
                               "label SYSTEM_START\n"
                               "window screenmode=1\nwait 1\n"
                               "windowinfo result=v[0], fullscreen=1\n"
                               "window screenmode=0\nwait 1\n"
                               "windowinfo result=v[1], fullscreen=1\n"
                               "window minimize=1\nwait 1\n"
                               "windowinfo result=v[2], minimized=1\n"
                               "window minimize=0\n"
                               "windowinfo result=v[3], minimized=1\n"
                               "label IDLE\nwait 1\njump IDLE\n"));
    const Rect before = windows_.GetWindowRect(main_->window);
    Frame();
    EXPECT_EQ(TheDisplayState().fullscreen, 1);
    EXPECT_EQ(Sides(windows_.GetWindowRect(main_->window)), (std::vector<int32_t>{0, 0, 1920, 1080}));
    Frame();
    EXPECT_EQ(Int("v", 0), 1);
    EXPECT_EQ(Sides(windows_.GetWindowRect(main_->window)), Sides(before));
    Frame();
    EXPECT_EQ(Int("v", 1), 0);
    Frame();
    EXPECT_EQ(Int("v", 2), 1);
    EXPECT_EQ(Int("v", 3), 0);
    EXPECT_TRUE(Errors().empty());
}

TEST_F(WindowCommandsTest, GameSizeOfCommand93AndFrameRatesBelowOne) {
    ASSERT_TRUE(BootWithLayers("label SYSTEM_START\n"
                               "engine width=640, height=480\n"
                               "engine width=0, height=200\n"
                               "framerate rate=0\nframerate rate=-30\n"
                               "label IDLE\nwait 1\njump IDLE\n"));
    Frame();
    EXPECT_EQ(main_->client_width, 640);
    EXPECT_EQ(main_->client_height, 480);
    EXPECT_EQ(TheCpuBackBuffer().width, 640);
    EXPECT_EQ(windows_.GetClientRect(main_->window).Width(), 640);
    EXPECT_EQ(windows_.GetClientRect(main_->window).Height(), 480);
    EXPECT_EQ(windows_.Window(main_->window)->min_client, (platform::Point{160, 120})) << "limits redone";
    EXPECT_EQ(TheFrameClock.frame_rate, 60);
    EXPECT_TRUE(Errors().empty());
}

TEST_F(WindowCommandsTest, GameSizeWhileMaximizedRecomputesTheBackBuffer) {
    ASSERT_TRUE(BootWithLayers("label SYSTEM_START\n"
                               "window maximize=1\nwait 1\n"
                               "engine width=400, height=400\n"
                               "label IDLE\nwait 1\njump IDLE\n"));
    Frame();
    ASSERT_EQ(TheDisplayState().maximized, 1);
    const int32_t display_width = TheDisplayState().display_width;
    Frame();
    EXPECT_EQ(TheDisplayState().display_width, display_width);
    EXPECT_EQ(TheCpuBackBuffer().height, TheDisplayState().display_height);
    EXPECT_EQ(TheCpuBackBuffer().width, TheDisplayState().display_height) << "a square game fits the height";
}

// A provider over a table of files in the folder "S".
struct FakeFiles {
    static inline std::vector<std::pair<std::string, uint64_t>> files;
    static std::optional<std::string> Folder() { return std::string("S"); }
    static int32_t Read(std::string_view path, uint64_t& version) {
        for (const auto& [name, v] : files) {
            if (path == "S\\" + name) {
                version = v;
                return kVersionOk;
            }
        }
        return kVersionFail;
    }
};

TEST(DirectXVersionTest, TheTableOverAnInjectedProvider) {
    struct Case {
        std::vector<std::pair<std::string, uint64_t>> files;
        int32_t version;
    };
    const Case cases[] = {
        {{}, 0},
        {{{"ddraw.dll", PackVersion(4, 2, 0, 95)}}, 1},
        {{{"ddraw.dll", PackVersion(4, 2, 0, 94)}}, 0},
        {{{"ddraw.dll", PackVersion(4, 7, 0, 700)}}, 7},
        // Without d3d9.dll, a d3d8.dll of 5.1.2600.881.
        {{{"ddraw.dll", PackVersion(4, 7, 0, 700)}, {"d3d8.dll", PackVersion(5, 1, 2600, 881)}}, 8},
        // d3d8.dll 4.8.1.881 reads by the first-part-4 threshold.
        {{{"d3d8.dll", PackVersion(4, 8, 1, 881)}}, 8},
        {{{"d3d8.dll", PackVersion(5, 1, 2600, 880)}}, 0},
        // A later passing row replaces an earlier one; a failing one keeps it.
        {{{"ddraw.dll", PackVersion(4, 6, 0, 318)}, {"dplayx.dll", PackVersion(4, 6, 3, 517)}}, 6},
        {{{"d3d9.dll", PackVersion(0, 0, 0, 1)}}, 9},
    };
    for (const Case& c : cases) {
        FakeFiles::files = c.files;
        SetFileVersionProvider({FakeFiles::Folder, FakeFiles::Read});
        EXPECT_EQ(GetDirectXVersion(), c.version) << c.files.size() << " files";
    }
    SetFileVersionProvider({[]() -> std::optional<std::string> { return std::nullopt; }, FakeFiles::Read});
    EXPECT_EQ(GetDirectXVersion(), 0) << "no system folder";
    uint64_t version = 0;
    EXPECT_EQ(ReadFileVersion("", &version), kVersionInvalidArg);
    EXPECT_EQ(ReadFileVersion("x", nullptr), kVersionInvalidArg);
    SetFileVersionProvider({});
    EXPECT_EQ(GetDirectXVersion(), 9) << "this engine's systems report DirectX 9";
}

}  // namespace
}  // namespace zk
