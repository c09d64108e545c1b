// The part of the window system both back ends share: the class registry,
// the window records and their state flags, the message queue and the
// message loop, SendMessage / DispatchMessage, DefWindowProc, and the
// "come forward" beacons that stand in for FindWindow + SetForegroundWindow
// between processes.
//
// A back end supplies the host side through the Host* hooks: making and
// destroying the host window, applying a show command, raising, titles,
// moving host events into the queue and waiting for them.
//
// Threading: main thread only, except PostMessage and PostQuitMessage
// (any thread; WakeMainThread lets a back end interrupt its host wait) and
// the snapshots ListWindows and FindInfo (any thread). The main thread is
// the only one that changes windows; it changes the window map and the
// WindowInfo part of a record under the windows lock, and reads them
// without it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/message_queue.h"
#include "platform/window_beacon.h"
#include "platform/window_system.h"

namespace zk::platform {

// WM_ACTIVATE wparam values (low word).
enum ActivateState : uint64_t { WA_INACTIVE = 0, WA_ACTIVE = 1 };
// Mouse-message wparam key flags.
enum MouseKeyFlags : uint64_t {
    MK_LBUTTON = 0x1,
    MK_RBUTTON = 0x2,
    MK_SHIFT = 0x4,
    MK_CONTROL = 0x8,
    MK_MBUTTON = 0x10,
};

// MAKELPARAM: two signed 16-bit coordinates packed as Windows packs them
// (low word x or width, high word y or height, zero-extended).
constexpr int64_t MakeLParam(int32_t low, int32_t high) {
    return static_cast<int64_t>(static_cast<uint32_t>(static_cast<uint16_t>(low)) |
                                (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16));
}

// Non-client frame around the client area of a window of a given style.
struct FrameMetrics {
    int32_t left = 0, top = 0, right = 0, bottom = 0;  // top includes the caption
};

// The frame used when the host cannot measure one: a caption of 24 pixels
// when the style has WS_CAPTION, a 4-pixel border on each side when it has
// WS_CAPTION or WS_THICKFRAME, nothing for WS_POPUP without them.
FrameMetrics ApproximateFrame(uint32_t style, uint32_t ex_style);
Rect ClientToWindowRect(const Rect& client, const FrameMetrics& frame);
Rect WindowToClientRect(const Rect& window, const FrameMetrics& frame);

// The state of one window as a test (or a debugging aid) sees it.
struct WindowInfo {
    WindowHandle handle = kNoWindow;
    std::string class_name;  // CP932, as given to CreateWindow
    std::string title;       // CP932
    uint32_t style = 0;
    uint32_t ex_style = 0;
    Rect window_rect;  // outer rectangle, screen coordinates
    Rect client_rect;  // (0, 0, client width, client height)
    bool visible = false;
    bool minimized = false;
    bool maximized = false;
    void* user_data = nullptr;
    // In fullscreen through ChangeDisplayMode.
    bool fullscreen = false;
    // The size limits of user resizing, client sizes (0: no limit).
    Point min_client;
    Point max_client;
    bool topmost = false;
    // The shape (SetWindowShape): the union of these client rectangles.
    bool shaped = false;
    std::vector<Rect> shape;
    // The last flash asked for.
    uint32_t flash_count = 0;
    uint32_t flash_interval = 0;
    // The menu strip (SetMenuStrip): its height (0: none), docked above the
    // client area or overlaid on its top rows, and whether it is shown (a
    // docked strip always is).
    int32_t menu_strip = 0;
    bool menu_strip_overlay = false;
    bool menu_strip_shown = false;
};

// The rows a docked menu strip takes above the client area.
inline int32_t DockedStripHeight(const WindowInfo& info) { return info.menu_strip_overlay ? 0 : info.menu_strip; }
// Whether a client point lies on the window's shown menu strip.
bool OnShownMenuStrip(const WindowInfo& info, Point client);

// A window's client pixels as a back end opens them: B, G, R, X per pixel,
// top row first.
struct ClientSurface {
    uint8_t* pixels = nullptr;
    int32_t pitch = 0;  // bytes from one row to the next
    int32_t width = 0, height = 0;
};

class WindowSystemCommon : public WindowSystem {
public:
    WindowSystemCommon();
    ~WindowSystemCommon() override;

    bool RegisterClass(std::string_view class_name, WindowProc proc) override;
    WindowHandle CreateWindow(const WindowCreateParams& params) override;
    bool DestroyWindow(WindowHandle window) override;
    bool IsWindow(WindowHandle window) override;
    // Returns whether the window was visible before the call, as Windows'
    // ShowWindow does (false also for an unknown window).
    bool ShowWindow(WindowHandle window, int show_command) override;
    bool IsVisible(WindowHandle window) override;
    bool IsMinimized(WindowHandle window) override;
    bool IsMaximized(WindowHandle window) override;
    bool SetForegroundWindow(WindowHandle window) override;
    bool SetTitle(WindowHandle window, std::string_view title_cp932) override;
    void SetUserData(WindowHandle window, void* data) override;
    void* GetUserData(WindowHandle window) override;
    Rect GetClientRect(WindowHandle window) override;
    bool InvalidateWindow(WindowHandle window) override;
    bool StretchBlit(WindowHandle window, const BlitArea& destination, const DibPixels& block,
                     const BlitArea& source) override;
    bool ReadClientPixels(WindowHandle window, ClientImage& out) override;
    bool SetMenuStrip(WindowHandle window, int32_t height, bool overlay) override;
    bool DrawMenuStrip(WindowHandle window, const ClientImage& picture) override;
    bool ShowMenuStrip(WindowHandle window, bool shown) override;
    bool ReadWindowPixels(WindowHandle window, ClientImage& out) override;
    bool IsFullscreen(WindowHandle window) override {
        const WindowRecord* record = Find(window);
        return record != nullptr && record->fullscreen;
    }

    bool PeekMessage(Message& out, bool remove) override;
    bool GetMessage(Message& out) override;
    // window may be kNoWindow (a thread message, as PostThreadMessage);
    // false for a window that does not exist.
    bool PostMessage(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) override;
    void PostQuitMessage(int exit_code) override;
    int64_t SendMessage(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) override;
    int64_t DispatchMessage(const Message& message) override;
    int64_t DefWindowProc(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) override;
    bool ActivateWindowByClass(std::string_view class_name) override;
    std::vector<std::string> TakeDroppedFiles(uint64_t drop) override;
    std::string TakeTextInput(uint64_t text) override;
    bool DetachInputMethod(WindowHandle window) override;
    void TakeKeyPresses(KeyboardState& out) override;

    Rect GetWindowRect(WindowHandle window) override;
    bool MoveWindow(WindowHandle window, const Rect& outer, bool repaint) override;
    uint32_t GetWindowStyle(WindowHandle window) override;
    bool SetWindowStyle(WindowHandle window, uint32_t style) override;
    bool RefreshSizeLimits(WindowHandle window) override;
    bool SetWindowZOrder(WindowHandle window, ZOrder order, WindowHandle behind) override;
    bool SetWindowShape(WindowHandle window, const std::vector<Rect>* rectangles) override;
    bool FlashWindow(WindowHandle window, uint32_t count, uint32_t interval_ms) override;
    // The stacking order of the engine's windows, top first (a copy; any thread).
    std::vector<WindowHandle> StackingOrder() const;

    // How long GetMessage waits for the host before it looks at the
    // beacons again.
    static constexpr uint32_t kWaitSliceMs = 50;

protected:
    struct WindowRecord : WindowInfo {
        std::string class_key;  // the class name lower-cased (class names ignore case)
        WindowProc proc = nullptr;
        Rect normal_rect;        // outer rectangle to go back to from maximized
        bool destroying = false;  // WM_DESTROY is being sent
        bool input_method_detached = false;  // composition is dropped
        void* host = nullptr;     // the back end's window object
        ClientImage strip_picture;  // the menu strip's picture (DrawMenuStrip)
    };

    // Host hooks. The record already holds the new state when they run.
    // Fills in host data; false when the host window cannot be made.
    virtual bool HostCreateWindow(WindowRecord& record) = 0;
    virtual void HostDestroyWindow(WindowRecord& record) = 0;
    // `before` is the record's state before the show command.
    virtual void HostShowWindow(WindowRecord& record, int show_command, const WindowInfo& before) = 0;
    virtual void HostRaiseWindow(WindowRecord& record) = 0;
    virtual void HostSetTitle(WindowRecord& record) = 0;
    // Opens the pixels the host shows for reading and writing: the rows of
    // a docked menu strip, then the client area; false when the window has
    // none. Every successful call is paired with HostEndClientAccess.
    virtual bool HostBeginClientAccess(WindowRecord& record, ClientSurface& out) = 0;
    // Closes them; `written` (coordinates of the opened pixels, possibly
    // empty) is the area that changed, which the host then shows.
    virtual void HostEndClientAccess(WindowRecord& record, const Rect& written) = 0;
    // Moves pending host events into the queue (never blocks).
    virtual void PumpHostEvents() = 0;
    // For a window move that follows the pointer: the pointer in screen
    // coordinates and whether the left button is held (false when the
    // host cannot tell, which ends a move at once); the screen position of
    // a window's client area; and moving the client area there (the back
    // end then posts WM_MOVE as for any move).
    virtual bool HostPointer(Point& screen, bool& left_down) = 0;
    virtual Point HostClientOrigin(WindowRecord& record) = 0;
    virtual void HostMoveWindow(WindowRecord& record, Point client_origin) = 0;
    // The frame around the client area of a style.
    virtual FrameMetrics HostFrame(uint32_t style, uint32_t ex_style) { return ApproximateFrame(style, ex_style); }
    // The frame of a window: its style's, with a docked menu strip's rows
    // added to the top.
    FrameMetrics FrameOf(const WindowInfo& info, uint32_t style) {
        FrameMetrics frame = HostFrame(style, info.ex_style);
        frame.top += DockedStripHeight(info);
        return frame;
    }
    FrameMetrics FrameOf(const WindowInfo& info) { return FrameOf(info, info.style); }
    // Draws the strip's picture over the opened pixels' top rows; the
    // rectangle drawn (empty when there is no strip to show).
    static Rect PaintMenuStrip(const WindowRecord& record, const ClientSurface& host);
    // The client area's part of the opened pixels (below a docked strip).
    static ClientSurface ClientPart(const WindowRecord& record, const ClientSurface& host);
    // Applies the record's outer rectangle (it was `before`).
    virtual void HostMoveResize(WindowRecord& record, const Rect& before) { (void)record; (void)before; }
    // Applies the record's style (it was `before`).
    virtual void HostSetStyle(WindowRecord& record, uint32_t before) { (void)record; (void)before; }
    // Applies the record's size limits.
    virtual void HostSetSizeLimits(WindowRecord& record) { (void)record; }
    virtual void HostSetZOrder(WindowRecord& record, ZOrder order, WindowRecord* behind) {
        (void)record; (void)order; (void)behind;
    }
    // Applies the record's shape.
    virtual void HostSetShape(WindowRecord& record) { (void)record; }
    virtual void HostFlash(WindowRecord& record) { (void)record; }
    // The user resized the window on the host to this client size: the
    // procedure gets WM_SIZING with the edge inferred from what changed
    // (width alone: the right edge, height alone: the bottom, both: the
    // bottom-right corner) and the rectangle asked for; the rectangle it
    // leaves is applied, then WM_SIZE follows. Maximized, minimized and
    // fullscreen windows only take the new size.
    void UserResized(WindowRecord& record, int32_t client_width, int32_t client_height);
    // Posts WM_WINDOWPOSCHANGED, WM_MOVE and WM_SIZE for what changed.
    void NotifyPlacement(WindowRecord& record, const Rect& outer_before, const Rect& client_before);
    // Blocks until a host event arrives, a message is posted, or timeout_ms passes.
    virtual void WaitForHostEvents(uint32_t timeout_ms) = 0;
    // Called after every post; a back end whose wait does not watch the
    // queue interrupts it here. `from_main_thread` is true when the poster
    // is the thread that made this window system.
    virtual void WakeMainThread(bool from_main_thread) { (void)from_main_thread; }

    // Main thread only.
    WindowRecord* Find(WindowHandle window);
    const WindowRecord* Find(WindowHandle window) const;
    // Copies, safe on any thread: every window in handle order, and one
    // window's state.
    std::vector<WindowInfo> ListWindows() const;
    std::optional<WindowInfo> FindInfo(WindowHandle window) const;
    // Held by the main thread while it changes a record's WindowInfo
    // fields (back ends too); never while calling a procedure or a host hook.
    std::unique_lock<std::mutex> LockWindows() const { return std::unique_lock(windows_mutex_); }
    // The first window (lowest handle) of a class, or null.
    WindowRecord* FindByClass(std::string_view class_key);
    bool HasBeacon(std::string_view class_name) const;
    MessageQueue& Queue() { return queue_; }
    std::thread::id MainThread() const { return main_thread_; }
    static std::string ClassKey(std::string_view class_name);

    // Restores the window when minimised and brings it to the front, as the
    // engine's ActivateRunningInstance does with its ShowWindow(SW_RESTORE)
    // and SetForegroundWindow.
    void RestoreAndRaise(WindowHandle window);
    // Answers "come forward" requests from other processes.
    void PollBeacons();
    // Turns a stop signal received since the last look into the thread
    // message WM_HOST_CLOSE_REQUEST (platform/stop_signals.h).
    void PollStopRequest();
    // Destroys every host window without telling the procedures (a back
    // end's destructor calls it while its host is still up).
    void DestroyAllHostWindows();
    // Keeps a drop's names and posts WM_DROPFILES with its number. Any thread.
    void PostDroppedFiles(WindowHandle window, std::vector<std::string> files);
    static constexpr size_t kMaxPendingDrops = 16;
    // Keeps typed text and posts WM_TEXT_INPUT (or WM_TEXT_COMPOSITION
    // when `composing`) with its number. Any thread.
    void PostTextInput(WindowHandle window, std::string text, bool composing);
    // The window being moved with the pointer (kNoWindow: none).
    WindowHandle MovingWindow() const { return move_.window; }
    // A key or mouse button (by virtual key) the host reported going down,
    // for TakeKeyPresses; ForgetKeyPresses drops those not yet taken (a
    // back end's ClearKeyboardState). Main thread.
    void NoteKeyPressed(uint8_t key) { presses_[key] = kKeyDown; }
    void ForgetKeyPresses() { presses_.fill(0); }

private:
    // A window move started by a caption press (DefWindowProc of
    // WM_NCLBUTTONDOWN with HTCAPTION): the client area keeps its offset
    // from the pointer until the left button is released.
    struct WindowMove {
        WindowHandle window = kNoWindow;
        Point anchor;  // the pointer at the press, screen coordinates
        Point origin;  // the client area's screen position at the press
    };
    void BeginWindowMove(WindowHandle window, int64_t client_point);
    // Follows the pointer; ends the move (WM_EXITSIZEMOVE) once the button is up.
    void UpdateWindowMove();

    const std::thread::id main_thread_;
    WindowMove move_;
    KeyboardState presses_{};  // side keys only; the generic ones are filled on taking
    MessageQueue queue_;
    std::map<std::string, WindowProc> classes_;      // by class key
    std::map<std::string, WindowBeacon> beacons_;    // by class key
    WindowHandle next_handle_ = 1;

    std::mutex drops_mutex_;
    std::map<uint64_t, std::vector<std::string>> drops_;  // by drop number, oldest first
    std::map<uint64_t, std::string> texts_;  // typed texts by number, oldest first (under drops_mutex_)
    uint64_t next_text_ = 0;
    uint64_t next_drop_ = 0;

    // Guards windows_ (the map and each record's WindowInfo) and live_
    // against the threads that read them.
    mutable std::mutex windows_mutex_;
    std::map<WindowHandle, std::unique_ptr<WindowRecord>> windows_;
    std::vector<WindowHandle> stack_;  // top first
    // The handles PostMessage may target.
    std::set<WindowHandle> live_;
};

}  // namespace zk::platform
