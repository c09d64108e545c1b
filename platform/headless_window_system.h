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
//   - each window's client area is a B, G, R, X framebuffer in memory of
//     the client size, black until drawn (and again after a size change),
//     that StretchBlit draws into and ReadClientPixels reads.
//
// Threading: as WindowSystem; InjectMessage, Windows and Window may also be
// called from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

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
    // Number of StretchBlit calls that drew into a window's framebuffer.
    uint64_t BlitCount(WindowHandle window) const;

protected:
    bool HostCreateWindow(WindowRecord& record) override;
    void HostDestroyWindow(WindowRecord& record) override;
    void HostShowWindow(WindowRecord& record, int show_command, const WindowInfo& before) override;
    void HostRaiseWindow(WindowRecord& record) override;
    void HostSetTitle(WindowRecord& record) override;
    bool HostBeginClientAccess(WindowRecord& record, ClientSurface& out) override;
    void HostEndClientAccess(WindowRecord& record, const Rect& written) override;
    void PumpHostEvents() override {}
    void WaitForHostEvents(uint32_t timeout_ms) override;

private:
    struct Framebuffer {
        int32_t width = 0, height = 0;
        std::vector<uint8_t> pixels;
        uint64_t blits = 0;
    };

    DesktopInfo desktop_;
    std::map<WindowHandle, Framebuffer> framebuffers_;
    std::vector<HeadlessCall> calls_;
    bool create_fails_ = false;
};

}  // namespace zk::platform
