// The window system: windows, their classes and procedures, and the message
// queue of the main thread. Two back ends: SDL2 (a real display) and
// headless (no display; also the test double, since it records what the
// engine asked of it).
//
// Threading: every call runs on the main thread, except PostMessage and
// PostQuitMessage, which any thread may call.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foreign_child_window.h"
#include "platform/joysticks.h"
#include "platform/virtual_keys.h"
#include "platform/window_messages.h"

namespace zk::platform {

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
};

struct Point {
    int32_t x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

// The pointer shapes a program can ask the desktop for.
enum class PointerShape {
    kArrow, kIBeam, kWait, kCross, kUpArrow, kSizeNWSE, kSizeNESW, kSizeWE, kSizeNS, kSizeAll, kNo, kHand,
    kAppStarting, kHelp,
};

// A colour pointer: B, G, R, A bytes, top row first, and its hotspot
// (inside the image).
struct CursorImage {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> bgra;
    int32_t hot_x = 0, hot_y = 0;
};

// One display mode of a monitor (EnumDisplaySettings).
struct DisplayMode {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits_per_pixel = 32;
    int32_t refresh_rate = 0;
    bool operator==(const DisplayMode&) const = default;
};

// A monitor: its rectangle on the desktop, the part of it not taken by
// panels (the work area) and its device name.
struct MonitorInfo {
    Rect bounds;
    Rect work_area;
    std::string name;
};

// What WM_GETMINMAXINFO's lparam points at: outer sizes. The window
// system fills the defaults before it asks the procedure.
struct MinMaxInfo {
    Point max_size;
    Point max_position;
    Point min_track_size;
    Point max_track_size;
};

// WM_SIZING's wparam: the edge or corner being dragged. Its lparam points
// at the outer Rect the drag asks for, which the procedure may change.
enum SizingEdge : uint64_t {
    WMSZ_LEFT = 1,
    WMSZ_RIGHT = 2,
    WMSZ_TOP = 3,
    WMSZ_TOPLEFT = 4,
    WMSZ_TOPRIGHT = 5,
    WMSZ_BOTTOM = 6,
    WMSZ_BOTTOMLEFT = 7,
    WMSZ_BOTTOMRIGHT = 8,
};

// A window's place in the stacking order (SetWindowPos's insert-after).
enum class ZOrder { kTop, kTopmost, kNotTopmost, kBottom, kBehind };

struct DesktopInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits_per_pixel = 32;
    int32_t refresh_rate = 60;
};

// A rectangle by origin and size, as the blit calls take it.
struct BlitArea {
    int32_t x = 0, y = 0;
    int32_t width = 0, height = 0;
};

// A block of 32-bit pixels as a DIB header describes it: bytes B, G, R, X
// per pixel, rows of width * 4 bytes one after the other. A negative height
// puts the top row first in memory (top-down); a positive one puts the
// bottom row first (bottom-up).
struct DibPixels {
    std::span<const uint8_t> bytes;
    int32_t width = 0;
    int32_t height = 0;
};

// A copy of a window's client area: B, G, R, X per pixel, top row first,
// rows of width * 4 bytes.
struct ClientImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

struct WindowCreateParams {
    std::string class_name;  // CP932 bytes
    std::string title;       // CP932 bytes
    uint32_t style = 0;
    uint32_t ex_style = 0;
    int32_t x = 0, y = 0;          // outer position
    int32_t width = 0, height = 0;  // outer size
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Registers a class name with its procedure; false when the name is
    // already registered in this process.
    virtual bool RegisterClass(std::string_view class_name, WindowProc proc) = 0;
    // Creates a hidden window; kNoWindow on failure. A window of a class
    // makes this process answer ActivateWindowByClass for that class.
    virtual WindowHandle CreateWindow(const WindowCreateParams& params) = 0;
    // Sends WM_DESTROY to the window's procedure, then removes the window.
    virtual bool DestroyWindow(WindowHandle window) = 0;
    virtual bool IsWindow(WindowHandle window) = 0;
    // Returns whether the window was visible before the call (as Windows does).
    virtual bool ShowWindow(WindowHandle window, int show_command) = 0;
    virtual bool IsVisible(WindowHandle window) = 0;
    virtual bool IsMinimized(WindowHandle window) = 0;
    virtual bool IsMaximized(WindowHandle window) = 0;
    virtual bool SetForegroundWindow(WindowHandle window) = 0;
    virtual bool SetTitle(WindowHandle window, std::string_view title_cp932) = 0;
    virtual void SetUserData(WindowHandle window, void* data) = 0;
    virtual void* GetUserData(WindowHandle window) = 0;
    virtual Rect GetClientRect(WindowHandle window) = 0;
    // Asks for a WM_PAINT (posted once, however often asked before it is
    // taken). Stands in for InvalidateRect with no rectangle: the whole
    // client area is to be repainted, nothing is erased.
    virtual bool InvalidateWindow(WindowHandle window) = 0;

    // Stands in for StretchDIBits with SRCCOPY under COLORONCOLOR: copies
    // the source rectangle of the block onto the destination rectangle of
    // the window's client area and shows it. The source rectangle is in DIB
    // coordinates: its y is counted upwards from the block's bottom row,
    // whichever way round the rows lie in memory. When the sizes differ,
    // rows and columns are dropped or repeated (nearest pixel, no
    // blending). Destination pixels outside the client area, and those
    // whose source pixel lies outside the block, are left as they are.
    // False (nothing drawn) for an unknown window, a block smaller than its
    // size says, an empty or mirrored (negative-size) rectangle, or a
    // window with no client pixels (a zero-sized client area).
    virtual bool StretchBlit(WindowHandle window, const BlitArea& destination, const DibPixels& block,
                             const BlitArea& source) = 0;
    // Copies the window's client area as it was last drawn; black where
    // nothing was drawn yet. False for an unknown window or one with no
    // client pixels.
    virtual bool ReadClientPixels(WindowHandle window, ClientImage& out) = 0;

    // ---- Placement, styles and display modes ----
    // The outer rectangle in screen coordinates (empty for an unknown window).
    virtual Rect GetWindowRect(WindowHandle window) = 0;
    // Moves and sizes the outer rectangle (MoveWindow). A change posts
    // WM_WINDOWPOSCHANGED, then WM_MOVE and WM_SIZE for what changed.
    virtual bool MoveWindow(WindowHandle window, const Rect& outer, bool repaint) = 0;
    virtual uint32_t GetWindowStyle(WindowHandle window) = 0;
    // Changes the style (SetWindowLong + SWP_FRAMECHANGED): the outer
    // rectangle stays, the client area follows the new frame (WM_SIZE when
    // its size changed).
    virtual bool SetWindowStyle(WindowHandle window, uint32_t style) = 0;
    // Asks the window's procedure for its size limits (WM_GETMINMAXINFO)
    // and hands them to the host, which keeps user resizing within them.
    virtual bool RefreshSizeLimits(WindowHandle window) = 0;
    // The monitor nearest to a screen point (MonitorFromPoint), its index.
    virtual int MonitorFromPoint(Point screen) = 0;
    virtual bool GetMonitorInfo(int monitor, MonitorInfo& out) = 0;
    // The monitor's display mode number `mode` (EnumDisplaySettings); false
    // past the last one.
    virtual bool EnumDisplayMode(int monitor, int mode, DisplayMode& out) = 0;
    // Makes the window fullscreen on the monitor in that display mode, or
    // in the desktop's own mode for null (no mode change). False when the
    // switch failed (the window is then as before).
    virtual bool ChangeDisplayMode(WindowHandle window, int monitor, const DisplayMode* mode) = 0;
    // Back to the desktop's mode and a normal window (ChangeDisplaySettings
    // with no mode).
    virtual void RestoreDisplayMode(WindowHandle window) = 0;
    // SetWindowPos with only the insert-after (no move, no size, no
    // activation); `behind` for ZOrder::kBehind.
    virtual bool SetWindowZOrder(WindowHandle window, ZOrder order, WindowHandle behind) = 0;
    // The window's shape: the union of the rectangles (client
    // coordinates); null gives the whole window back (SetWindowRgn).
    virtual bool SetWindowShape(WindowHandle window, const std::vector<Rect>* rectangles) = 0;
    // Flashes the task-bar entry `count` times, `interval_ms` apart.
    virtual bool FlashWindow(WindowHandle window, uint32_t count, uint32_t interval_ms) = 0;
    virtual void SetCursorPos(Point screen) = 0;

    // The client rectangle turned into an outer window rectangle for a style.
    virtual Rect AdjustWindowRect(const Rect& client, uint32_t style, uint32_t ex_style) = 0;
    virtual Rect GetWorkArea() = 0;
    virtual DesktopInfo GetDesktop() = 0;

    // The message queue. PeekMessage first moves pending host events into
    // the queue. GetMessage waits for a message and returns false for WM_QUIT.
    virtual bool PeekMessage(Message& out, bool remove) = 0;
    virtual bool GetMessage(Message& out) = 0;
    virtual bool PostMessage(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) = 0;
    virtual void PostQuitMessage(int exit_code) = 0;
    // Calls the window's procedure directly (SendMessage) or for a queued message.
    virtual int64_t SendMessage(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) = 0;
    virtual int64_t DispatchMessage(const Message& message) = 0;
    // What Windows does for a message the engine does not handle:
    // WM_SYSCOMMAND SC_CLOSE sends WM_CLOSE, WM_CLOSE destroys the window,
    // SC_MINIMIZE / SC_MAXIMIZE / SC_RESTORE change the window state.
    // WM_NCLBUTTONDOWN with HTCAPTION (lparam: the client point pressed)
    // starts moving the window with the pointer, as a press on a caption
    // does: the window system carries the move out while the left button
    // is held (the message queue keeps running; nothing waits for the move
    // to end) and posts WM_EXITSIZEMOVE to the window when the button is
    // released.
    virtual int64_t DefWindowProc(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) = 0;

    // Finds a window of that class in another process (or this one),
    // restores it when minimised and brings it to the front. False when no
    // such window answers.
    virtual bool ActivateWindowByClass(std::string_view class_name) = 0;

    // ---- Input ----
    // Host events also arrive as messages: WM_KEYDOWN / WM_KEYUP (and the
    // WM_SYSKEY* pair while Alt is held) with the virtual key in wparam,
    // WM_MOUSEMOVE and the button messages with the client point in
    // lparam, WM_MOUSEWHEEL with the delta (120 a notch) in wparam's high
    // word, WM_DROPFILES with a drop number in wparam.

    // The keys and mouse buttons held, by virtual key (GetKeyboardState):
    // 0x80 down, 0 up; 16, 17 and 18 while either side's Shift, Ctrl or Alt
    // is down; 1, 2, 4, 5 and 6 the left, right, middle and two side buttons.
    virtual void GetKeyboardState(KeyboardState& out) = 0;
    // The keys and mouse buttons that went down since the last call, by
    // virtual key as GetKeyboardState reports them (0x80 went down), also
    // those already up again: a tap between two polls of the state is
    // still seen. Main thread.
    virtual void TakeKeyPresses(KeyboardState& out) = 0;
    // Every key and button reads up until the host reports it pressed again
    // (SetKeyboardState with an all-up table); the presses not yet taken
    // are forgotten.
    virtual void ClearKeyboardState() = 0;
    // The pointer relative to the window's client area, wherever it is
    // (GetCursorPos then ScreenToClient). False for an unknown window.
    virtual bool GetCursorClientPos(WindowHandle window, Point& out) = 0;
    // ShowCursor: moves the display count up (show) or down; the cursor is
    // shown while the count is 0 or more (it starts at 0). Returns the new count.
    virtual int ShowCursor(bool show) = 0;
    // The names of a drop (WM_DROPFILES's wparam): host paths, UTF-8, in the
    // order the host gave them. A drop is taken once (DragQueryFile, then
    // DragFinish); DefWindowProc drops one nobody took. Empty for an
    // unknown or taken drop.
    virtual std::vector<std::string> TakeDroppedFiles(uint64_t drop) = 0;
    // The text of a WM_TEXT_INPUT or WM_TEXT_COMPOSITION (its wparam),
    // UTF-8, taken once; empty for an unknown or taken one. Main thread.
    virtual std::string TakeTextInput(uint64_t text) {
        (void)text;
        return {};
    }
    // The clipboard's text (UTF-8), empty when it holds none. Main thread.
    virtual std::string ClipboardText() { return {}; }
    // Puts text (UTF-8) on the clipboard; false when it could not. Main
    // thread.
    virtual bool SetClipboardText(const std::string& text) {
        (void)text;
        return false;
    }
    // Moves the pointer to a point of a window's client area; false for an
    // unknown window. Main thread.
    virtual bool WarpCursor(WindowHandle window, Point client) {
        (void)window;
        (void)client;
        return false;
    }
    // The pointer's shape over the program's windows (one pointer serves
    // them all); false when the host cannot make it. Main thread.
    virtual bool SetCursorShape(PointerShape shape) {
        (void)shape;
        return false;
    }
    virtual bool SetColorCursor(const CursorImage& image) {
        (void)image;
        return false;
    }
    // The X display the windows are on (its name, as $DISPLAY gives it);
    // empty when they are not on X11. Main thread.
    virtual std::string HostX11Display() { return {}; }
    // The host's own number of a window (its X11 window id), 0 when there is
    // none (an unknown window, headless, another video driver). Main thread.
    virtual uint64_t HostWindowId(WindowHandle window) {
        (void)window;
        return 0;
    }
    // The joysticks of this back end (see GetJoysticks). Any thread.
    virtual Joysticks& HostJoysticks() = 0;

    // ---- The menu strip ----
    // A window's menu bar is a strip across the top of the window that the
    // engine draws. Docked (a window in its normal state) it is non-client:
    // the outer rectangle stays, the client area starts below the strip and
    // is that much shorter (WM_SIZE follows), and every client coordinate
    // (GetClientRect, pointer messages and positions, blits, cursor warps)
    // leaves the strip out. Overlaid (a fullscreen window) it takes no room:
    // while shown it lies over the client's top rows. A left press on a
    // shown strip arrives as WM_NCLBUTTONDOWN with HTMENU and the client
    // point pressed (its y negative on a docked strip); other pointer
    // messages over a shown strip are not sent. Main thread.
    //
    // Gives the window a strip of `height` pixels (0: none), drawn with the
    // last picture given; false for an unknown window.
    virtual bool SetMenuStrip(WindowHandle window, int32_t height, bool overlay) {
        (void)window;
        (void)height;
        (void)overlay;
        return false;
    }
    // The strip's picture: B, G, R, X, top row first, at least the strip's
    // height. Columns past its width repeat its last column. The window
    // system keeps it and draws it again whenever the strip is shown.
    virtual bool DrawMenuStrip(WindowHandle window, const ClientImage& picture) {
        (void)window;
        (void)picture;
        return false;
    }
    // Shows or hides an overlaid strip (a docked one is always shown).
    // Hiding it leaves the client's top rows as the strip left them.
    virtual bool ShowMenuStrip(WindowHandle window, bool shown) {
        (void)window;
        (void)shown;
        return false;
    }
    // True while the window is fullscreen through ChangeDisplayMode.
    virtual bool IsFullscreen(WindowHandle window) {
        (void)window;
        return false;
    }
    // What the host shows of the window: the docked strip's rows, then the
    // client area (as ReadClientPixels). False for an unknown window.
    virtual bool ReadWindowPixels(WindowHandle window, ClientImage& out) { return ReadClientPixels(window, out); }

    // ---- Scripted input ----
    // A back end that plays a script of player input (the headless one's
    // input script) plays it by frame, never by the clock: the engine asks
    // for the events of each frame before that frame takes its input.
    // True when this back end plays such a script. Any thread.
    // A window of `class_name` inside another program's window, given by the
    // host's own window number (the X11 window id); null when there is no
    // such window or this back end cannot reach it (headless).
    virtual std::unique_ptr<ForeignChildWindow> CreateForeignChildWindow(uint64_t parent, std::string_view class_name) {
        (void)parent;
        (void)class_name;
        return nullptr;
    }
    // The window takes no input-method composition from now on (typed
    // characters still arrive as text); false for an unknown window.
    virtual bool DetachInputMethod(WindowHandle window) {
        (void)window;
        return false;
    }
    // The desktop's own screen saver may start while the engine runs, what
    // ever the environment asks of the back end.
    virtual void AllowHostScreenSaver() {}
    virtual bool PlaysInputScript() const { return false; }
    // Plays every scripted event of the frames up to `frame` not yet played
    // (their state changes and their messages), in script order. Main thread.
    virtual void PlayInputScript(uint64_t frame) { (void)frame; }
};

// The window system the engine uses; InstallWindowSystem(nullptr) clears it.
WindowSystem& GetWindowSystem();
bool HasWindowSystem();
void InstallWindowSystem(WindowSystem* system);

// Back ends. CreateSdlWindowSystem returns null when no display can be opened.
// The SDL back end makes every SDL call on the thread that created it (the
// main thread); other threads only post, which wakes it with an SDL event.
// It holds SDL video by SDL_InitSubSystem/SDL_QuitSubSystem, never SDL_Quit.
std::unique_ptr<WindowSystem> CreateSdlWindowSystem();

// Headless: windows live in memory, the queue holds only posted messages,
// and every call is recorded for tests.
class HeadlessWindowSystem;
std::unique_ptr<HeadlessWindowSystem> CreateHeadlessWindowSystem(DesktopInfo desktop = {1920, 1080, 32, 60});

}  // namespace zk::platform
