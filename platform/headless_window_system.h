// The headless window system: windows live in memory, nothing is drawn.
// It runs the engine without a display and is the test double of the
// window system: tests read the windows' state and the calls the engine
// made, and inject host events (a click on the close button, a focus
// change) as the SDL back end would deliver them.
//
// What it does in place of a host:
//   - client rectangles follow from the outer size through the inverse of
//     AdjustWindowRect (caption 24 px, borders 4 px; nothing for WS_POPUP);
//   - ShowWindow changes the flags; a change of the minimized or maximized
//     state posts WM_SIZE (SIZE_MINIMIZED with lparam 0, SIZE_MAXIMIZED with
//     the work area's client size, SIZE_RESTORED with the normal client
//     size), as the SDL back end posts when the host reports it;
//   - the work area is the desktop minus a 40-pixel task bar at the bottom;
//   - one monitor (the desktop, device "\\.\DISPLAY1") unless tests set
//     others, each with a list of display modes; a mode change gives the
//     monitor the mode's size until RestoreDisplayMode;
//   - a user resize (InjectUserResize) goes through WM_SIZING as the SDL
//     back end sends it, within the size limits the procedure gave;
//   - each window's client area is a B, G, R, X framebuffer in memory of
//     the client size, black until drawn (and again after a size change),
//     that StretchBlit draws into and ReadClientPixels reads;
//   - input comes from a script of events by frame (platform/input_script.h)
//     or from InjectInput: each event changes the keyboard, pointer or
//     joystick state and posts the messages the SDL back end would post.
//     Input goes to "the main window": the first visible window, else the
//     first window. No window has the focus until an activate event (or,
//     with SetFocusOnShow, until one is shown).
//   - a window move started by a caption press follows the scripted
//     pointer while the left button is held (WM_MOVE with the new client
//     position, WM_EXITSIZEMOVE once the button is up).
//
// Threading: as WindowSystem; InjectMessage, Windows and Window may also be
// called from any thread, and the joysticks are read from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/input_script.h"
#include "platform/window_system_common.h"

namespace zk::platform {

// One recorded call of the engine into the window system.
struct HeadlessCall {
    enum class Kind { kShowWindow, kSetForegroundWindow };
    Kind kind;
    WindowHandle window;
    int show_command;  // ShowWindow only; 0 otherwise

    bool operator==(const HeadlessCall&) const = default;
};

class HeadlessWindowSystem final : public WindowSystemCommon {
public:
    explicit HeadlessWindowSystem(DesktopInfo desktop = {1920, 1080, 32, 60});
    ~HeadlessWindowSystem() override;

    Rect AdjustWindowRect(const Rect& client, uint32_t style, uint32_t ex_style) override;
    Rect GetWorkArea() override;
    DesktopInfo GetDesktop() override;

    // --- the recording side, for tests ---
    std::vector<WindowInfo> Windows() const { return ListWindows(); }
    std::optional<WindowInfo> Window(WindowHandle window) const;
    // ShowWindow and SetForegroundWindow calls on existing windows, in order
    // (including those made by DefWindowProc and by activation requests).
    const std::vector<HeadlessCall>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    // A host event: the message joins the queue as the SDL back end queues
    // the messages it makes from host events (a close-button click is
    // {window, WM_SYSCOMMAND, SC_CLOSE, 0}). Any thread; no window check.
    void InjectMessage(const Message& message);
    // Number of messages waiting (posted, pending paints, a pending quit).
    size_t PendingMessages() { return Queue().Size(); }
    // True while this process answers "come forward" requests for the class.
    bool AnswersClass(std::string_view class_name) const { return HasBeacon(class_name); }
    // Makes every later CreateWindow fail (a window-creation failure test).
    void SetCreateFails(bool fails) { create_fails_ = fails; }
    void SetDesktop(const DesktopInfo& desktop) { desktop_ = desktop; }
    // Monitors (the first is the primary) and their display modes.
    void SetMonitors(std::vector<MonitorInfo> monitors);
    void SetDisplayModes(int monitor, std::vector<DisplayMode> modes);
    // Makes every later ChangeDisplayMode fail.
    void SetDisplayModeChangeFails(bool fails) { mode_change_fails_ = fails; }
    // The mode a monitor was switched to (none: its desktop mode).
    std::optional<DisplayMode> CurrentDisplayMode(int monitor) const;
    Point CursorPosition() const { return pointer_; }
    bool WarpCursor(WindowHandle window, Point client) override;
    bool SetCursorShape(PointerShape shape) override {
        cursor_shape_ = shape;
        colour_cursor_.reset();
        return true;
    }
    bool SetColorCursor(const CursorImage& image) override {
        if (colour_cursor_fails_) return false;
        colour_cursor_ = image;
        return true;
    }
    // The shape asked for last (a colour cursor replaces it while set).
    PointerShape CurrentCursorShape() const { return cursor_shape_; }
    const std::optional<CursorImage>& ColourCursor() const { return colour_cursor_; }
    void SetColourCursorFails(bool fails) { colour_cursor_fails_ = fails; }
    // The user drags the window's frame to this client size (main thread).
    void InjectUserResize(WindowHandle window, int32_t client_width, int32_t client_height);

    int MonitorFromPoint(Point screen) override;
    bool GetMonitorInfo(int monitor, MonitorInfo& out) override;
    bool EnumDisplayMode(int monitor, int mode, DisplayMode& out) override;
    bool ChangeDisplayMode(WindowHandle window, int monitor, const DisplayMode* mode) override;
    void RestoreDisplayMode(WindowHandle window) override;
    void SetCursorPos(Point screen) override { pointer_ = screen; }

    // Number of StretchBlit calls that drew into a window's framebuffer.
    uint64_t BlitCount(WindowHandle window) const;

    // --- input ---
    void GetKeyboardState(KeyboardState& out) override;
    void ClearKeyboardState() override;
    bool GetCursorClientPos(WindowHandle window, Point& out) override;
    int ShowCursor(bool show) override;
    Joysticks& HostJoysticks() override { return joysticks_; }

    // Plays a script, by frame: the engine asks for the events of frame N
    // (PlayInputScript) before frame N takes its input, so a run sees the
    // same input at the same frames however loaded the machine is. Set
    // before the engine starts. A script with joystick events gives the
    // machine 16 joystick slots.
    void SetInputScript(std::vector<InputEvent> events);
    bool PlaysInputScript() const override { return plays_script_.load(); }
    void PlayInputScript(uint64_t frame) override;
    // True once every scripted event has been played.
    bool InputScriptDone() const { return script_next_ >= script_.size(); }
    // Plays one event now (main thread); its frame is ignored.
    void InjectInput(const InputEvent& event);
    // A window that is shown while no window has the focus gains it
    // (WM_ACTIVATE), as a desktop focuses a new window. Off by default.
    void SetFocusOnShow(bool on) { focus_on_show_ = on; }
    WindowHandle FocusedWindow() const { return focused_; }
    // The ShowCursor display count (the cursor shows while it is >= 0).
    int CursorCount() const { return cursor_count_; }
    // The window a caption press is moving with the pointer (kNoWindow: none).
    WindowHandle MovingWindow() const { return WindowSystemCommon::MovingWindow(); }
    // Joystick slots the system offers (0..16); 0 until set or scripted.
    void SetJoystickSlots(int slots) { joysticks_.SetSlots(slots); }
    void AllowHostScreenSaver() override { host_screen_saver_allowed_ = true; }
    // True once the engine allowed the desktop's screen saver.
    bool HostScreenSaverAllowed() const { return host_screen_saver_allowed_; }

protected:
    bool HostCreateWindow(WindowRecord& record) override;
    void HostDestroyWindow(WindowRecord& record) override;
    void HostShowWindow(WindowRecord& record, int show_command, const WindowInfo& before) override;
    void HostRaiseWindow(WindowRecord& record) override;
    void HostSetTitle(WindowRecord& record) override;
    bool HostBeginClientAccess(WindowRecord& record, ClientSurface& out) override;
    void HostEndClientAccess(WindowRecord& record, const Rect& written) override;
    void PumpHostEvents() override;
    void WaitForHostEvents(uint32_t timeout_ms) override;
    bool HostPointer(Point& screen, bool& left_down) override;
    Point HostClientOrigin(WindowRecord& record) override;
    void HostMoveWindow(WindowRecord& record, Point client_origin) override;

private:
    struct Monitor {
        MonitorInfo info;
        std::vector<DisplayMode> modes;
        std::optional<DisplayMode> current;
    };
    std::vector<Monitor>& Monitors();

    struct Framebuffer {
        int32_t width = 0, height = 0;
        std::vector<uint8_t> pixels;
        uint64_t blits = 0;
    };

    // Sticks that hold whatever the script last set.
    class ScriptedJoysticks final : public Joysticks {
    public:
        int SlotCount() override;
        void Refresh() override {}
        bool Read(int slot, JoystickReading& out) override;
        void SetSlots(int slots);
        void Apply(const InputEvent& event);

    private:
        std::mutex mutex_;
        int slots_ = 0;
        std::array<JoystickReading, kMaxJoysticks> readings_{};
        std::array<bool, kMaxJoysticks> connected_{};
    };

    WindowHandle MainWindow() const;
    Point ClientOrigin(WindowHandle window) const;
    uint64_t MouseKeyFlags() const;
    void Activate(WindowHandle window);

    DesktopInfo desktop_;
    std::map<WindowHandle, Framebuffer> framebuffers_;
    KeyboardState keys_{};    // side keys for Shift, Ctrl and Alt; generic ones filled on reading
    Point pointer_;           // screen coordinates
    int cursor_count_ = 0;
    PointerShape cursor_shape_ = PointerShape::kArrow;
    std::optional<CursorImage> colour_cursor_;
    bool colour_cursor_fails_ = false;
    WindowHandle focused_ = kNoWindow;
    bool focus_on_show_ = false;
    bool host_screen_saver_allowed_ = false;
    ScriptedJoysticks joysticks_;
    std::vector<InputEvent> script_;
    size_t script_next_ = 0;
    std::atomic<bool> plays_script_{false};
    std::vector<HeadlessCall> calls_;
    bool create_fails_ = false;
    std::vector<Monitor> monitors_;  // empty: the desktop's one monitor
    bool mode_change_fails_ = false;
};

}  // namespace zk::platform
