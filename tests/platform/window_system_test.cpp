// The window system: the headless back end (the engine's test double) and
// one smoke test of the SDL back end on SDL's dummy video driver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless_window_system.h"
#include "platform/window_system.h"

namespace zk::platform {
namespace {

// Procedures are plain function pointers, so they report to globals.
WindowSystem* g_system = nullptr;
std::vector<Message> g_received;

int64_t RecordingProc(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    g_received.push_back(Message{window, message, wparam, lparam});
    return 0;
}

// Records, then leaves everything to DefWindowProc (a procedure that handles nothing).
int64_t DefaultingProc(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
    g_received.push_back(Message{window, message, wparam, lparam});
    return g_system->DefWindowProc(window, message, wparam, lparam);
}

// Class names are unique per test process: beacons are visible machine-wide
// and tests of several builds may run at the same time.
std::string UniqueClass(const char* name) { return "zktest-" + std::to_string(getpid()) + "-" + name; }

// The engine's captioned window style and its full-screen popup style.
constexpr uint32_t kCaptionStyle = 0x02CB0000u;  // WS_CAPTION|WS_SYSMENU|WS_MINIMIZEBOX|WS_MAXIMIZEBOX|WS_CLIPCHILDREN
constexpr uint32_t kPopupStyle = 0x82000000u;    // WS_POPUP|WS_CLIPCHILDREN

class HeadlessWindowSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        system_ = CreateHeadlessWindowSystem();
        g_system = system_.get();
        g_received.clear();
    }
    void TearDown() override {
        g_system = nullptr;
        system_.reset();
    }

    WindowHandle Make(const std::string& class_name, uint32_t style = kCaptionStyle, Rect client = {0, 0, 800, 600}) {
        const Rect outer = system_->AdjustWindowRect(client, style, 0);
        WindowCreateParams params;
        params.class_name = class_name;
        params.title = "title";
        params.style = style;
        params.x = outer.left;
        params.y = outer.top;
        params.width = outer.Width();
        params.height = outer.Height();
        return system_->CreateWindow(params);
    }

    std::vector<uint32_t> ReceivedMessages() const {
        std::vector<uint32_t> out;
        for (const Message& m : g_received) out.push_back(m.message);
        return out;
    }

    std::unique_ptr<HeadlessWindowSystem> system_;
};

TEST_F(HeadlessWindowSystemTest, RegisteringAClassTwiceFails) {
    const std::string name = UniqueClass("twice");
    EXPECT_TRUE(system_->RegisterClass(name, RecordingProc));
    EXPECT_FALSE(system_->RegisterClass(name, DefaultingProc));
    // Class names ignore ASCII case, as on Windows.
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_FALSE(system_->RegisterClass(upper, RecordingProc));
    EXPECT_FALSE(system_->RegisterClass("", RecordingProc));
    EXPECT_FALSE(system_->RegisterClass(UniqueClass("null"), nullptr));
}

TEST_F(HeadlessWindowSystemTest, CreateThenDestroySendsWmDestroy) {
    const std::string name = UniqueClass("create");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    const WindowHandle window = Make(name);
    ASSERT_EQ(window, 1u);  // handles count from 1
    EXPECT_TRUE(system_->IsWindow(window));
    EXPECT_FALSE(system_->IsVisible(window));  // created hidden
    int data = 0;
    system_->SetUserData(window, &data);
    EXPECT_EQ(system_->GetUserData(window), &data);
    EXPECT_TRUE(g_received.empty());

    EXPECT_TRUE(system_->DestroyWindow(window));
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].window, window);
    EXPECT_EQ(g_received[0].message, WM_DESTROY);
    EXPECT_FALSE(system_->IsWindow(window));
    EXPECT_FALSE(system_->DestroyWindow(window));
    EXPECT_TRUE(system_->Windows().empty());
    EXPECT_EQ(Make(name), 2u);  // handles are not reused
}

TEST_F(HeadlessWindowSystemTest, CreateFailsForUnknownClassOrWhenTold) {
    EXPECT_EQ(Make(UniqueClass("unknown")), kNoWindow);
    const std::string name = UniqueClass("fails");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    system_->SetCreateFails(true);
    EXPECT_EQ(Make(name), kNoWindow);
    system_->SetCreateFails(false);
    EXPECT_NE(Make(name), kNoWindow);
}

TEST_F(HeadlessWindowSystemTest, WindowStateIsRecorded) {
    const std::string name = UniqueClass("state");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    const WindowHandle window = Make(name);
    ASSERT_TRUE(system_->SetTitle(window, "\x83\x51\x81\x5B\x83\x80"));  // "ゲーム" in CP932
    const auto info = system_->Window(window);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->class_name, name);
    EXPECT_EQ(info->title, "\x83\x51\x81\x5B\x83\x80");
    EXPECT_EQ(info->style, kCaptionStyle);
    EXPECT_EQ(info->client_rect.Width(), 800);
    EXPECT_EQ(info->client_rect.Height(), 600);
    EXPECT_FALSE(info->visible);

    EXPECT_FALSE(system_->ShowWindow(window, SW_SHOW));  // was hidden
    EXPECT_TRUE(system_->ShowWindow(window, SW_SHOW));   // was visible
    EXPECT_TRUE(system_->IsVisible(window));
    EXPECT_TRUE(system_->SetForegroundWindow(window));
    const std::vector<HeadlessCall> expected = {
        {HeadlessCall::Kind::kShowWindow, window, SW_SHOW},
        {HeadlessCall::Kind::kShowWindow, window, SW_SHOW},
        {HeadlessCall::Kind::kSetForegroundWindow, window, 0},
    };
    EXPECT_EQ(system_->Calls(), expected);
}

TEST_F(HeadlessWindowSystemTest, PostFromAnotherThreadWakesGetMessage) {
    const std::string name = UniqueClass("post");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    const WindowHandle window = Make(name);
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_TRUE(system_->PostMessage(window, WM_USER + 5, 11, -22));
    });
    Message m;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(system_->GetMessage(m));
    poster.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(m.window, window);
    EXPECT_EQ(m.message, WM_USER + 5);
    EXPECT_EQ(m.wparam, 11u);
    EXPECT_EQ(m.lparam, -22);
    EXPECT_EQ(system_->DispatchMessage(m), 0);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].message, WM_USER + 5);
}

TEST_F(HeadlessWindowSystemTest, QuitEndsGetMessageWithTheExitCode) {
    const std::string name = UniqueClass("quit");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    const WindowHandle window = Make(name);
    system_->PostQuitMessage(3);
    ASSERT_TRUE(system_->PostMessage(window, WM_USER, 0, 0));
    system_->InvalidateWindow(window);

    Message m;
    // Posted messages first, then WM_QUIT, as Windows hands them out.
    ASSERT_TRUE(system_->GetMessage(m));
    EXPECT_EQ(m.message, WM_USER);
    // PeekMessage reports WM_QUIT as a message; without removal it stays.
    ASSERT_TRUE(system_->PeekMessage(m, false));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wparam, 3u);
    EXPECT_FALSE(system_->GetMessage(m));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wparam, 3u);
    // The quit is taken once; the pending paint is still there.
    ASSERT_TRUE(system_->PeekMessage(m, true));
    EXPECT_EQ(m.message, WM_PAINT);
    EXPECT_FALSE(system_->PeekMessage(m, true));
}

TEST_F(HeadlessWindowSystemTest, QuitFromAnotherThreadWakesGetMessage) {
    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        system_->PostQuitMessage(-1);
    });
    Message m;
    EXPECT_FALSE(system_->GetMessage(m));
    quitter.join();
    EXPECT_EQ(static_cast<int>(m.wparam), -1);
}

TEST_F(HeadlessWindowSystemTest, PaintIsCoalescedPerWindow) {
    const std::string name = UniqueClass("paint");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    const WindowHandle a = Make(name);
    const WindowHandle b = Make(name);
    EXPECT_TRUE(system_->InvalidateWindow(a));
    EXPECT_TRUE(system_->InvalidateWindow(a));
    EXPECT_TRUE(system_->InvalidateWindow(b));
    EXPECT_TRUE(system_->PostMessage(a, WM_PAINT, 0, 0));  // folded into a's pending paint
    EXPECT_TRUE(system_->PostMessage(b, WM_USER, 0, 0));
    EXPECT_FALSE(system_->InvalidateWindow(99));
    EXPECT_EQ(system_->PendingMessages(), 3u);

    Message m;
    std::vector<Message> taken;
    while (system_->PeekMessage(m, true)) taken.push_back(m);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].message, WM_USER);  // posted messages come before paints
    EXPECT_EQ(taken[1].message, WM_PAINT);
    EXPECT_EQ(taken[1].window, a);
    EXPECT_EQ(taken[2].message, WM_PAINT);
    EXPECT_EQ(taken[2].window, b);

    // Once taken, a window can be invalidated again.
    EXPECT_TRUE(system_->InvalidateWindow(a));
    ASSERT_TRUE(system_->PeekMessage(m, true));
    EXPECT_EQ(m.message, WM_PAINT);
}

TEST_F(HeadlessWindowSystemTest, CloseButtonRunsSysCommandCloseDestroyChain) {
    const std::string name = UniqueClass("close");
    ASSERT_TRUE(system_->RegisterClass(name, DefaultingProc));
    const WindowHandle window = Make(name);
    ASSERT_TRUE(system_->PostMessage(window, WM_USER, 0, 0));
    // The user clicks the close button; the low four bits of the command are ignored.
    system_->InjectMessage(Message{window, WM_SYSCOMMAND, SC_CLOSE | 2, 0});

    Message m;
    ASSERT_TRUE(system_->GetMessage(m));
    system_->DispatchMessage(m);
    ASSERT_TRUE(system_->GetMessage(m));
    EXPECT_EQ(m.message, WM_SYSCOMMAND);
    system_->DispatchMessage(m);

    EXPECT_EQ(ReceivedMessages(), (std::vector<uint32_t>{WM_USER, WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}));
    EXPECT_FALSE(system_->IsWindow(window));
    EXPECT_FALSE(system_->AnswersClass(name));  // the last window of the class took its beacon with it
}

TEST_F(HeadlessWindowSystemTest, DestroyDropsTheWindowsMessages) {
    const std::string name = UniqueClass("drop");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    const WindowHandle a = Make(name);
    const WindowHandle b = Make(name);
    ASSERT_TRUE(system_->PostMessage(a, WM_USER, 1, 0));
    ASSERT_TRUE(system_->PostMessage(b, WM_USER, 2, 0));
    ASSERT_TRUE(system_->PostMessage(kNoWindow, WM_USER, 3, 0));  // a thread message
    ASSERT_TRUE(system_->InvalidateWindow(a));
    ASSERT_TRUE(system_->DestroyWindow(a));
    EXPECT_FALSE(system_->PostMessage(a, WM_USER, 4, 0));

    Message m;
    ASSERT_TRUE(system_->PeekMessage(m, true));
    EXPECT_EQ(m.wparam, 2u);
    ASSERT_TRUE(system_->PeekMessage(m, true));
    EXPECT_EQ(m.wparam, 3u);
    g_received.clear();
    EXPECT_EQ(system_->DispatchMessage(m), 0);  // no procedure for a thread message
    EXPECT_TRUE(g_received.empty());
    EXPECT_FALSE(system_->PeekMessage(m, true));
}

TEST_F(HeadlessWindowSystemTest, DefWindowProcChangesWindowState) {
    const std::string name = UniqueClass("state-change");
    ASSERT_TRUE(system_->RegisterClass(name, DefaultingProc));
    const WindowHandle window = Make(name);
    system_->ShowWindow(window, SW_SHOW);

    system_->SendMessage(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(system_->IsMinimized(window));
    system_->SendMessage(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(system_->IsMinimized(window));
    system_->SendMessage(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    auto info = system_->Window(window);
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->maximized);
    // Maximized fills the work area (1920 x 1040): client 1912 x 1008.
    EXPECT_EQ(system_->GetClientRect(window).Width(), 1912);
    EXPECT_EQ(system_->GetClientRect(window).Height(), 1008);
    system_->SendMessage(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(system_->GetClientRect(window).Width(), 800);
    EXPECT_EQ(system_->GetClientRect(window).Height(), 600);

    // Each state change posted its WM_SIZE, as the SDL back end does when
    // the host reports it.
    // (Each WM_SIZE follows a WM_WINDOWPOSCHANGED.)
    std::vector<Message> sizes;
    Message m;
    while (system_->PeekMessage(m, true)) {
        if (m.message != WM_WINDOWPOSCHANGED) sizes.push_back(m);
    }
    ASSERT_EQ(sizes.size(), 4u);
    EXPECT_EQ(sizes[0].wparam, SIZE_MINIMIZED);
    EXPECT_EQ(sizes[0].lparam, 0);
    EXPECT_EQ(sizes[1].wparam, SIZE_RESTORED);
    EXPECT_EQ(sizes[1].lparam, (600 << 16) | 800);
    EXPECT_EQ(sizes[2].wparam, SIZE_MAXIMIZED);
    EXPECT_EQ(sizes[2].lparam, (1008 << 16) | 1912);
    EXPECT_EQ(sizes[3].wparam, SIZE_RESTORED);
    for (const Message& s : sizes) EXPECT_EQ(s.message, WM_SIZE);

    // Anything else is left alone and answers 0.
    EXPECT_EQ(system_->DefWindowProc(window, WM_ERASEBKGND, 0, 0), 0);
    EXPECT_EQ(system_->DefWindowProc(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
    EXPECT_TRUE(system_->IsWindow(window));
}

TEST_F(HeadlessWindowSystemTest, ActivateWindowByClassRestoresAMinimizedWindow) {
    const std::string name = UniqueClass("activate");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    const WindowHandle window = Make(name);
    system_->ShowWindow(window, SW_SHOW);
    system_->ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(system_->IsMinimized(window));
    system_->ClearCalls();

    EXPECT_TRUE(system_->ActivateWindowByClass(name));
    EXPECT_FALSE(system_->IsMinimized(window));
    const std::vector<HeadlessCall> expected = {
        {HeadlessCall::Kind::kShowWindow, window, SW_RESTORE},
        {HeadlessCall::Kind::kSetForegroundWindow, window, 0},
    };
    EXPECT_EQ(system_->Calls(), expected);

    // A window that is not minimised is only raised.
    system_->ClearCalls();
    EXPECT_TRUE(system_->ActivateWindowByClass(name));
    ASSERT_EQ(system_->Calls().size(), 1u);
    EXPECT_EQ(system_->Calls()[0].kind, HeadlessCall::Kind::kSetForegroundWindow);
}

TEST_F(HeadlessWindowSystemTest, ActivateWindowByClassWithNoWindowAnywhereFails) {
    EXPECT_FALSE(system_->ActivateWindowByClass(UniqueClass("nobody")));
}

// Two window systems in one process stand for two processes: the second
// finds no window of the class itself and asks the first through its beacon.
TEST_F(HeadlessWindowSystemTest, ActivateWindowByClassReachesAnotherInstance) {
    const std::string name = UniqueClass("beacon");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    const WindowHandle window = Make(name);
    if (!system_->AnswersClass(name)) GTEST_SKIP() << "no window beacon could listen here";
    system_->ShowWindow(window, SW_SHOW);
    system_->ShowWindow(window, SW_MINIMIZE);
    system_->ClearCalls();

    auto second = CreateHeadlessWindowSystem();
    EXPECT_TRUE(second->ActivateWindowByClass(name));

    // The first instance answers the next time it looks at its messages.
    Message m;
    for (int i = 0; i < 100 && system_->IsMinimized(window); ++i) {
        system_->PeekMessage(m, false);
        if (system_->IsMinimized(window)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(system_->IsMinimized(window));
    const std::vector<HeadlessCall> expected = {
        {HeadlessCall::Kind::kShowWindow, window, SW_RESTORE},
        {HeadlessCall::Kind::kSetForegroundWindow, window, 0},
    };
    EXPECT_EQ(system_->Calls(), expected);

    // Once the window is gone nobody answers.
    ASSERT_TRUE(system_->DestroyWindow(window));
    EXPECT_FALSE(second->ActivateWindowByClass(name));
}

TEST_F(HeadlessWindowSystemTest, AdjustWindowRectRoundTrips) {
    const Rect client{0, 0, 800, 600};
    const Rect outer = system_->AdjustWindowRect(client, kCaptionStyle, 0);
    EXPECT_EQ(outer.left, -4);
    EXPECT_EQ(outer.top, -28);
    EXPECT_EQ(outer.right, 804);
    EXPECT_EQ(outer.bottom, 604);
    // A resizable frame without a caption has the border only.
    const Rect framed = system_->AdjustWindowRect(client, WS_THICKFRAME, 0);
    EXPECT_EQ(framed.top, -4);
    EXPECT_EQ(framed.Width(), 808);
    // A popup has no frame.
    const Rect popup = system_->AdjustWindowRect(client, kPopupStyle, WS_EX_TOOLWINDOW);
    EXPECT_EQ(popup.left, 0);
    EXPECT_EQ(popup.top, 0);
    EXPECT_EQ(popup.Width(), 800);
    EXPECT_EQ(popup.Height(), 600);

    const std::string name = UniqueClass("adjust");
    ASSERT_TRUE(system_->RegisterClass(name, RecordingProc));
    for (uint32_t style : {kCaptionStyle, kCaptionStyle | WS_THICKFRAME, kPopupStyle}) {
        const WindowHandle window = Make(name, style, Rect{0, 0, 640, 480});
        const Rect got = system_->GetClientRect(window);
        EXPECT_EQ(got.left, 0);
        EXPECT_EQ(got.top, 0);
        EXPECT_EQ(got.Width(), 640) << std::hex << style;
        EXPECT_EQ(got.Height(), 480) << std::hex << style;
    }
}

TEST_F(HeadlessWindowSystemTest, DesktopAndWorkArea) {
    auto system = CreateHeadlessWindowSystem(DesktopInfo{1280, 720, 32, 75});
    const DesktopInfo desktop = system->GetDesktop();
    EXPECT_EQ(desktop.width, 1280);
    EXPECT_EQ(desktop.height, 720);
    EXPECT_EQ(desktop.refresh_rate, 75);
    const Rect work = system->GetWorkArea();
    EXPECT_EQ(work.left, 0);
    EXPECT_EQ(work.top, 0);
    EXPECT_EQ(work.right, 1280);
    EXPECT_EQ(work.bottom, 680);  // a 40-pixel task bar at the bottom
}

TEST_F(HeadlessWindowSystemTest, InstalledWindowSystem) {
    InstallWindowSystem(nullptr);
    EXPECT_FALSE(HasWindowSystem());
    InstallWindowSystem(system_.get());
    EXPECT_TRUE(HasWindowSystem());
    EXPECT_EQ(&GetWindowSystem(), system_.get());
    InstallWindowSystem(nullptr);
    EXPECT_FALSE(HasWindowSystem());
}

TEST(WindowSystemDeathTest, GetWithoutInstallAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    InstallWindowSystem(nullptr);
    EXPECT_DEATH(GetWindowSystem(), "InstallWindowSystem");
}

// --- the SDL back end, on SDL's dummy video driver ---------------------------

TEST(SdlWindowSystemTest, CreatePostTakeDestroy) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    auto system = CreateSdlWindowSystem();
    if (!system) GTEST_SKIP() << "SDL video could not start";
    g_system = system.get();
    g_received.clear();

    const std::string name = UniqueClass("sdl");
    ASSERT_TRUE(system->RegisterClass(name, DefaultingProc));
    const Rect outer = system->AdjustWindowRect(Rect{0, 0, 320, 240}, kCaptionStyle, 0);
    WindowCreateParams params;
    params.class_name = name;
    params.title = "\x83\x51\x81\x5B\x83\x80";  // CP932 "ゲーム"
    params.style = kCaptionStyle;
    params.x = 100 + outer.left;
    params.y = 100 + outer.top;
    params.width = outer.Width();
    params.height = outer.Height();
    const WindowHandle window = system->CreateWindow(params);
    ASSERT_NE(window, kNoWindow);
    EXPECT_EQ(system->GetClientRect(window).Width(), 320);
    EXPECT_EQ(system->GetClientRect(window).Height(), 240);
    EXPECT_FALSE(system->IsVisible(window));
    system->ShowWindow(window, SW_SHOW);
    EXPECT_TRUE(system->IsVisible(window));

    // Host events (if the dummy driver makes any) may come first.
    ASSERT_TRUE(system->PostMessage(window, WM_USER + 1, 7, 8));
    Message m;
    bool found = false;
    while (system->PeekMessage(m, true)) {
        if (m.message == WM_USER + 1) {
            found = true;
            EXPECT_EQ(m.window, window);
            EXPECT_EQ(m.wparam, 7u);
            EXPECT_EQ(m.lparam, 8);
        }
    }
    EXPECT_TRUE(found);

    // A post from another thread wakes GetMessage out of SDL's wait.
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        system->PostMessage(window, WM_USER + 2, 0, 0);
    });
    found = false;
    for (int i = 0; i < 1000 && !found; ++i) {
        ASSERT_TRUE(system->GetMessage(m));
        found = m.message == WM_USER + 2;
    }
    poster.join();
    EXPECT_TRUE(found);

    g_received.clear();
    system->SendMessage(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(system->IsWindow(window));
    ASSERT_FALSE(g_received.empty());
    EXPECT_EQ(g_received.back().message, WM_DESTROY);
    g_system = nullptr;
}

}  // namespace
}  // namespace zk::platform
