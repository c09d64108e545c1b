// A smoke test of window sizing on a real X server (Xvfb): the SDL window
// system turns a resize made from outside into WM_SIZING, the window keeps
// the game's aspect; fullscreen and back give the window its size again.
// Skipped where Xvfb is not installed.
#include <gtest/gtest.h>

#include <SDL.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "core/settings.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "engine/display_modes.h"
#include "engine/engine_reset.h"
#include "engine/window_creation.h"
#include "engine/window_sizing.h"
#include "platform/window_system.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/display_state.h"

extern char** environ;

namespace zk {
namespace {

using namespace std::chrono_literals;

class XvfbWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* xvfb = "/usr/bin/Xvfb";
        if (access(xvfb, X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
        // A display number no other server holds (its lock file is absent).
        display_number_ = 90 + static_cast<int>(getpid() % 400);
        while (std::filesystem::exists("/tmp/.X" + std::to_string(display_number_) + "-lock") ||
               std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display_number_))) {
            ++display_number_;
        }
        display_ = ":" + std::to_string(display_number_);
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(display_number_);
        const char* argv[] = {xvfb, display_.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp", nullptr};
        ASSERT_EQ(posix_spawn(&server_, xvfb, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i) std::this_thread::sleep_for(25ms);
        int status = 0;
        ASSERT_EQ(waitpid(server_, &status, WNOHANG), 0) << "Xvfb ended at once";
        ASSERT_TRUE(std::filesystem::exists(socket)) << "Xvfb did not start";
        saved_driver_ = std::getenv("SDL_VIDEODRIVER") != nullptr ? std::getenv("SDL_VIDEODRIVER") : "";
        saved_display_ = std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "";
        setenv("SDL_VIDEODRIVER", "x11", 1);
        setenv("DISPLAY", display_.c_str(), 1);

        // The window surface as plain X11 images: an accelerated one would
        // load Mesa's driver, whose allocations the leak checker reports
        // once the driver is unloaded.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        ResetEngine();
        windows_ = platform::CreateSdlWindowSystem();
        ASSERT_NE(windows_, nullptr);
        platform::InstallWindowSystem(windows_.get());
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
        SetupWindowRecord(*main_, "xvfb");
        WindowState[0] = 1;
        const std::string name = "zktest-xvfb-" + std::to_string(getpid());
        ASSERT_EQ(CreateEngineWindow(*main_, platform::SW_SHOW, name, "xvfb"), 1);
        ASSERT_TRUE(AllocateCpuBackBuffer(800, 600));
        InitWindowSizing(800, 600);
        windows_->ShowWindow(main_->window, platform::SW_SHOW);
        Settle();
    }
    void TearDown() override {
        if (windows_ != nullptr) {
            DestroyWindowRecords();
            platform::InstallWindowSystem(nullptr);
            windows_.reset();
            ResetEngine();
        }
        if (server_ > 0) {
            kill(server_, SIGTERM);
            int status = 0;
            waitpid(server_, &status, 0);
        }
        if (!saved_driver_.empty()) setenv("SDL_VIDEODRIVER", saved_driver_.c_str(), 1);
        if (!saved_display_.empty()) setenv("DISPLAY", saved_display_.c_str(), 1); else unsetenv("DISPLAY");
    }
    // Handles messages until `done` holds, or 5 s pass.
    template <class Done>
    bool Until(Done done) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < end) {
            Settle();
            if (done()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    void Settle() {
        platform::Message m;
        for (int i = 0; i < 1000 && windows_->PeekMessage(m, true); ++i) windows_->DispatchMessage(m);
    }
    platform::Rect Client() { return windows_->GetClientRect(main_->window); }

    pid_t server_ = 0;
    int display_number_ = 0;
    std::string display_;
    std::string saved_driver_, saved_display_;
    std::unique_ptr<platform::WindowSystem> windows_;
    WindowRecord* main_ = nullptr;
};

// The X window SDL made for the engine's window of that title.
::Window FindXWindow(Display* display, const char* title) {
    ::Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned int count = 0;
    ::Window found = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count) == 0) return 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
            if (std::string(name) == title) found = children[i];
            XFree(name);
        }
    }
    if (children != nullptr) XFree(children);
    return found;
}

TEST_F(XvfbWindowTest, AResizeKeepsTheAspectAndFullscreenComesBack) {
    ASSERT_TRUE(Until([&] { return Client().Width() == 800 && Client().Height() == 600; }));
    Display* x = XOpenDisplay(display_.c_str());
    ASSERT_NE(x, nullptr);
    const ::Window window = FindXWindow(x, "xvfb");
    ASSERT_NE(window, 0u);
    // The user (here another client) makes the window wider only.
    XResizeWindow(x, window, 1000, 600);
    XSync(x, False);
    EXPECT_TRUE(Until([&] { return Client().Width() == 1000 && Client().Height() == 750; }))
        << Client().Width() << " x " << Client().Height();
    EXPECT_EQ(TheCpuBackBuffer().width, 1000);
    EXPECT_EQ(TheCpuBackBuffer().height, 750);

    // Fullscreen on the desktop's own mode. (Its size on the screen is the
    // window manager's to give, and Xvfb runs none.)
    EXPECT_EQ(SetScreenMode(1), 1);
    Settle();
    EXPECT_EQ(TheDisplayState().fullscreen, 1);
    EXPECT_EQ(TheDisplayState().display_width, 1920);
    EXPECT_EQ(TheCpuBackBuffer().width, 1440);
    EXPECT_EQ(TheCpuBackBuffer().height, 1080);
    SDL_Window* sdl = SDL_GetKeyboardFocus() != nullptr ? SDL_GetKeyboardFocus() : SDL_GetWindowFromID(1);
    ASSERT_NE(sdl, nullptr);
    EXPECT_EQ(SDL_GetWindowFlags(sdl) & SDL_WINDOW_FULLSCREEN_DESKTOP, uint32_t{SDL_WINDOW_FULLSCREEN_DESKTOP});
    EXPECT_EQ(SetScreenMode(0), 1);
    EXPECT_TRUE(Until([&] { return Client().Width() == 1000 && Client().Height() == 750; }))
        << Client().Width() << " x " << Client().Height();
    EXPECT_EQ(TheDisplayState().fullscreen, 0);
    EXPECT_EQ(SDL_GetWindowFlags(sdl) & SDL_WINDOW_FULLSCREEN_DESKTOP, 0u);
    EXPECT_EQ(TheCpuBackBuffer().width, 1000);
    XCloseDisplay(x);
}

// The menu strip on a real X window: the host window keeps its size, the
// client area is the rest below the strip, the strip's rows show its
// picture, and a pointer on the client's first row reads as row 0.
TEST_F(XvfbWindowTest, AMenuStripKeepsTheHostWindowAndTheClientLeavesItOut) {
    ASSERT_TRUE(Until([&] { return Client().Width() == 800 && Client().Height() == 600; }));
    SDL_Window* sdl = SDL_GetWindowFromID(1);
    ASSERT_NE(sdl, nullptr);

    constexpr int32_t kStrip = 20;
    platform::ClientImage picture;
    picture.width = 1;
    picture.height = kStrip;
    picture.pixels.assign(size_t{4} * kStrip, 0);
    for (int32_t y = 0; y < kStrip; ++y) picture.pixels[size_t(y) * 4 + 1] = 200;  // green
    ASSERT_TRUE(windows_->DrawMenuStrip(main_->window, picture));
    ASSERT_TRUE(windows_->SetMenuStrip(main_->window, kStrip, false));
    Settle();
    EXPECT_EQ(Client().Width(), 800);
    EXPECT_EQ(Client().Height(), 600 - kStrip);
    int w = 0, h = 0;
    SDL_GetWindowSize(sdl, &w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600) << "the host window keeps its size";

    platform::ClientImage whole, client;
    ASSERT_TRUE(windows_->ReadWindowPixels(main_->window, whole));
    ASSERT_TRUE(windows_->ReadClientPixels(main_->window, client));
    EXPECT_EQ(whole.height, 600);
    EXPECT_EQ(client.height, 600 - kStrip);
    EXPECT_EQ(whole.pixels[size_t(whole.width) * 4 * 5 + 400 * 4 + 1], 200) << "the strip's picture, repeated";

    // The pointer on the client's first row.
    ASSERT_TRUE(windows_->WarpCursor(main_->window, platform::Point{30, 0}));
    platform::Point at{-1, -1};
    EXPECT_TRUE(Until([&] { return windows_->GetCursorClientPos(main_->window, at) && at == platform::Point{30, 0}; }))
        << at.x << ", " << at.y;

    ASSERT_TRUE(windows_->SetMenuStrip(main_->window, 0, false));
    Settle();
    EXPECT_EQ(Client().Height(), 600);
}

}  // namespace
}  // namespace zk
