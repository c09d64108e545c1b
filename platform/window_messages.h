// The engine's window messages. The engine is written around a window
// procedure; the platform turns host events into these messages, numbered
// as the Windows messages they stand for so the procedure reads naturally.
#pragma once

#include <cstdint>

namespace zk::platform {

using WindowHandle = uint32_t;  // 0 = no window
constexpr WindowHandle kNoWindow = 0;

enum WindowMessage : uint32_t {
    WM_NULL = 0x0000,
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_ERASEBKGND = 0x0014,
    WM_ACTIVATEAPP = 0x001C,
    WM_GETMINMAXINFO = 0x0024,
    WM_WINDOWPOSCHANGED = 0x0047,
    WM_NCLBUTTONDOWN = 0x00A1,
    WM_NCLBUTTONUP = 0x00A2,
    WM_NCLBUTTONDBLCLK = 0x00A3,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_SYSKEYDOWN = 0x0104,
    WM_SYSKEYUP = 0x0105,
    WM_COMMAND = 0x0111,
    WM_SYSCOMMAND = 0x0112,
    WM_GESTURE = 0x0119,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_MBUTTONDOWN = 0x0207,
    WM_MBUTTONUP = 0x0208,
    WM_MOUSEWHEEL = 0x020A,
    WM_SIZING = 0x0214,
    WM_DROPFILES = 0x0233,
    WM_EXITSIZEMOVE = 0x0232,
    WM_USER = 0x0400,
    // The tray icon's notification: wparam the icon's identifier, lparam
    // the mouse message that happened on it.
    WM_TRAY_NOTIFY = WM_USER + 10,
    // The window movie's event notification (its events are drained by
    // the movie player).
    WM_MOVIE_NOTIFY = 0x8001,
    // Not a Windows message: the host asks the program to end (SIGINT,
    // SIGTERM). A thread message (no window), answered by the main loop as
    // a close that asks nothing.
    WM_HOST_CLOSE_REQUEST = 0xBF01,
    // Not Windows messages: text typed through the host's text input
    // (committed, and the input method's composition in progress). wparam
    // numbers the text, which WindowSystem::TakeTextInput hands out once.
    WM_TEXT_INPUT = 0xBF02,
    WM_TEXT_COMPOSITION = 0xBF03,
};

// WM_SIZE wparam values.
enum SizeType : uint64_t { SIZE_RESTORED = 0, SIZE_MINIMIZED = 1, SIZE_MAXIMIZED = 2 };

// Hit-test codes (WM_NCLBUTTONDOWN's wparam).
enum HitTest : uint64_t {
    HTCLIENT = 1,
    HTCAPTION = 2,
    HTMENU = 5,  // the window's menu strip (platform/window_system.h)
};

// WM_SYSCOMMAND codes (compare after AND 0xFFF0).
enum SysCommand : uint32_t {
    SC_SIZE = 0xF000,
    SC_MOVE = 0xF010,
    SC_MINIMIZE = 0xF020,
    SC_MAXIMIZE = 0xF030,
    SC_CLOSE = 0xF060,
    SC_RESTORE = 0xF120,
    SC_SCREENSAVE = 0xF140,
};

// ShowWindow commands.
enum ShowCommand : int {
    SW_HIDE = 0,
    SW_SHOWNORMAL = 1,
    SW_SHOWMINIMIZED = 2,
    SW_SHOWMAXIMIZED = 3,
    SW_SHOW = 5,
    SW_MINIMIZE = 6,
    SW_RESTORE = 9,
};

// Window styles the engine composes (Windows values).
enum WindowStyle : uint32_t {
    WS_POPUP = 0x80000000u,
    WS_CLIPCHILDREN = 0x02000000u,
    WS_CAPTION = 0x00C00000u,
    WS_SYSMENU = 0x00080000u,
    WS_THICKFRAME = 0x00040000u,
    WS_MINIMIZEBOX = 0x00020000u,
    WS_MAXIMIZEBOX = 0x00010000u,
};
enum WindowExStyle : uint32_t {
    WS_EX_TOPMOST = 0x00000008u,
    WS_EX_TOOLWINDOW = 0x00000080u,
};

struct Message {
    WindowHandle window = kNoWindow;
    uint32_t message = WM_NULL;
    uint64_t wparam = 0;
    int64_t lparam = 0;
};

using WindowProc = int64_t (*)(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam);

}  // namespace zk::platform
