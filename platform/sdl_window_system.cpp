// The SDL2 window system: every engine window is an SDL window, and SDL's
// events become the engine's window messages.
//
// Threading: every SDL call here runs on the main thread (the thread that
// called CreateSdlWindowSystem). The one exception is the wake-up in
// WakeMainThread: a PostMessage from another thread pushes an SDL user event
// (SDL_PushEvent is thread-safe) so that a GetMessage waiting in
// SDL_WaitEventTimeout returns at once.
//
// SDL is shared with the dialogs and the sound output: this back end holds
// the video subsystem by SDL_InitSubSystem / SDL_QuitSubSystem reference
// counting only and never calls SDL_Quit.
//
// Host events and the messages they become:
//   window close button        -> WM_SYSCOMMAND SC_CLOSE (DefWindowProc then
//                                 sends WM_CLOSE, which destroys the window)
//   exposed                    -> WM_PAINT (coalesced)
//   focus gained / lost        -> WM_ACTIVATE WA_ACTIVE / WA_INACTIVE
//   size changed by the user   -> WM_SIZING with the edge inferred (width alone: right, height
//                                 alone: bottom, both: bottom-right); the rectangle the
//                                 procedure leaves is applied, then WM_WINDOWPOSCHANGED and
//                                 WM_SIZE SIZE_RESTORED, lparam = height << 16 | width
//   size changed otherwise     -> WM_SIZE SIZE_RESTORED or SIZE_MAXIMIZED
//   moved                      -> WM_MOVE, lparam = y << 16 | x of the client area
//   minimized                  -> WM_SIZE SIZE_MINIMIZED, lparam 0
//   maximized / restored       -> WM_SIZE SIZE_MAXIMIZED / SIZE_RESTORED with the client size
//   mouse buttons, motion      -> WM_[LRM]BUTTON{DOWN,UP}, WM_MOUSEMOVE, lparam = y << 16 | x (client)
//   wheel                      -> WM_MOUSEWHEEL, wparam high word = delta (120 a notch), lparam = screen point
//   key pressed / released     -> WM_KEYDOWN / WM_KEYUP (WM_SYSKEY* with Alt), wparam = virtual key
//   files dropped              -> WM_DROPFILES once the drop is complete, wparam = drop number
//   SDL_QUIT                   -> nothing (each window's close arrives by itself)
//
// A docked menu strip (SetMenuStrip) is the SDL window's top rows: the
// client area is the rest, so client points, sizes and the client origin
// are SDL's less the strip; a left press on the strip becomes
// WM_NCLBUTTONDOWN HTMENU, other pointer events over it are dropped.
//
// Keyboard state: SDL's key table read through our scancode map, with the
// mouse buttons of SDL's mouse state. Joysticks: SDL's joystick subsystem
// (platform/sdl_joysticks.cpp).
//
// Pictures: StretchBlit draws into the window surface (SDL_GetWindowSurface)
// and shows the rectangle it drew with SDL_UpdateWindowSurfaceRects. A
// surface whose pixels are B, G, R, X in memory is drawn into directly; any
// other format gets a B, G, R, X shadow of the client area that is
// converted into the surface rectangle by rectangle.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/game_path.h"
#include "platform/joysticks.h"
#include "platform/sdl_cursors.h"
#include "platform/virtual_keys.h"
#include "platform/window_system_common.h"
#include "platform/x11_window_extras.h"
#include "base/text_encoding.h"

namespace zk::platform {

namespace {

bool IsDecorated(uint32_t style) { return (style & (WS_CAPTION | WS_THICKFRAME)) != 0; }

class SdlWindowSystem final : public WindowSystemCommon {
public:
    SdlWindowSystem() : joysticks_(CreateSdlJoysticks()) {
        wake_event_ = SDL_RegisterEvents(1);
        if (wake_event_ == static_cast<Uint32>(-1)) wake_event_ = SDL_USEREVENT;
    }

    ~SdlWindowSystem() override {
        DestroyAllHostWindows();
        joysticks_.reset();
        cursor_.reset();  // before SDL, which frees what cursors are left
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    std::unique_ptr<ForeignChildWindow> CreateForeignChildWindow(uint64_t parent, std::string_view class_name) override {
        return CreateX11ForeignChildWindow(parent, class_name);
    }

    void AllowHostScreenSaver() override { SDL_EnableScreenSaver(); }

    void GetKeyboardState(KeyboardState& out) override {
        out.fill(0);
        int count = 0;
        const Uint8* scancodes = SDL_GetKeyboardState(&count);
        for (int scancode = 0; scancode < count; ++scancode) {
            if (scancodes[scancode] == 0) continue;
            const uint8_t key = VirtualKeyFromScancode(scancode);
            if (key != 0) out[key] = kKeyDown;
        }
        const Uint32 buttons = SDL_GetMouseState(nullptr, nullptr);
        if ((buttons & SDL_BUTTON_LMASK) != 0) out[VK_LBUTTON] = kKeyDown;
        if ((buttons & SDL_BUTTON_RMASK) != 0) out[VK_RBUTTON] = kKeyDown;
        if ((buttons & SDL_BUTTON_MMASK) != 0) out[VK_MBUTTON] = kKeyDown;
        if ((buttons & SDL_BUTTON_X1MASK) != 0) out[VK_XBUTTON1] = kKeyDown;
        if ((buttons & SDL_BUTTON_X2MASK) != 0) out[VK_XBUTTON2] = kKeyDown;
        FillGenericModifiers(out);
    }

    void ClearKeyboardState() override {
        // SDL releases every key of a window that loses the focus; this
        // covers a key table SDL still holds while no engine window has it.
#if SDL_VERSION_ATLEAST(2, 24, 0)
        SDL_ResetKeyboard();
#endif
        ForgetKeyPresses();
    }

    bool GetCursorClientPos(WindowHandle window, Point& out) override {
        WindowRecord* record = Find(window);
        if (record == nullptr) return false;
        SDL_Window* sdl = Sdl(*record);
        int x = 0, y = 0;
        if (SDL_GetMouseFocus() == sdl) {
            SDL_GetMouseState(&x, &y);
        } else {
            // Outside the window: the screen position less the client area's.
            int wx = 0, wy = 0;
            SDL_GetGlobalMouseState(&x, &y);
            SDL_GetWindowPosition(sdl, &wx, &wy);
            x -= wx;
            y -= wy;
        }
        out = Point{x, y - DockedStripHeight(*record)};
        return true;
    }

    int ShowCursor(bool show) override {
        cursor_count_ += show ? 1 : -1;
        SDL_ShowCursor(cursor_count_ >= 0 ? SDL_ENABLE : SDL_DISABLE);
        return cursor_count_;
    }

    Joysticks& HostJoysticks() override { return *joysticks_; }

    bool WarpCursor(WindowHandle window, Point client) override {
        WindowRecord* record = Find(window);
        if (record == nullptr || Sdl(*record) == nullptr) return false;
        SDL_WarpMouseInWindow(Sdl(*record), client.x, client.y + DockedStripHeight(*record));
        return true;
    }

    // SDL has one pointer for all windows.
    bool SetCursorShape(PointerShape shape) override { return Use(MakeSdlCursor(shape)); }
    bool SetColorCursor(const CursorImage& image) override { return Use(MakeSdlColorCursor(image)); }

    std::string ClipboardText() override {
        char* text = SDL_GetClipboardText();
        if (text == nullptr) return {};
        std::string out(text);
        SDL_free(text);
        return out;
    }

    bool SetClipboardText(const std::string& text) override { return SDL_SetClipboardText(text.c_str()) == 0; }

    std::string HostX11Display() override {
        const char* driver = SDL_GetCurrentVideoDriver();
        if (driver == nullptr || std::string_view(driver) != "x11") return {};
        // SDL opens the display $DISPLAY names.
        const char* name = SDL_getenv("DISPLAY");
        return name != nullptr ? std::string(name) : std::string();
    }

    uint64_t HostWindowId(WindowHandle window) override {
        WindowRecord* record = Find(window);
        return record != nullptr ? X11WindowId(Sdl(*record)) : 0;
    }

    Rect AdjustWindowRect(const Rect& client, uint32_t style, uint32_t ex_style) override {
        return ClientToWindowRect(client, FrameFor(style, ex_style));
    }

    Rect GetWorkArea() override {
        SDL_Rect r;
        if (SDL_GetDisplayUsableBounds(0, &r) == 0 || SDL_GetDisplayBounds(0, &r) == 0) {
            return Rect{r.x, r.y, r.x + r.w, r.y + r.h};
        }
        const DesktopInfo desktop = GetDesktop();
        return Rect{0, 0, desktop.width, std::max(0, desktop.height - 40)};
    }

    DesktopInfo GetDesktop() override {
        DesktopInfo info{0, 0, 32, 0};
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return info;
        info.width = mode.w;
        info.height = mode.h;
        info.bits_per_pixel = static_cast<int32_t>(SDL_BITSPERPIXEL(mode.format));
        // An X8R8G8B8 desktop is "24 bits" to SDL and 32 to Windows'
        // GetDeviceCaps(BITSPIXEL), which the engine's depth checks expect.
        if (info.bits_per_pixel == 24 && SDL_BYTESPERPIXEL(mode.format) == 4) info.bits_per_pixel = 32;
        info.refresh_rate = mode.refresh_rate;  // 0 = unknown, as SDL reports it
        return info;
    }

    int MonitorFromPoint(Point screen) override {
        const int count = SDL_GetNumVideoDisplays();
        int best = 0;
        int64_t best_distance = INT64_MAX;
        for (int i = 0; i < count; ++i) {
            SDL_Rect r;
            if (SDL_GetDisplayBounds(i, &r) != 0) continue;
            const int64_t dx = screen.x < r.x ? int64_t{r.x} - screen.x
                                              : (screen.x >= r.x + r.w ? int64_t{screen.x} - (r.x + r.w) + 1 : 0);
            const int64_t dy = screen.y < r.y ? int64_t{r.y} - screen.y
                                              : (screen.y >= r.y + r.h ? int64_t{screen.y} - (r.y + r.h) + 1 : 0);
            if (dx * dx + dy * dy < best_distance) {
                best_distance = dx * dx + dy * dy;
                best = i;
            }
        }
        return best;
    }

    bool GetMonitorInfo(int monitor, MonitorInfo& out) override {
        SDL_Rect r;
        if (monitor < 0 || SDL_GetDisplayBounds(monitor, &r) != 0) return false;
        out.bounds = Rect{r.x, r.y, r.x + r.w, r.y + r.h};
        SDL_Rect usable;
        out.work_area = SDL_GetDisplayUsableBounds(monitor, &usable) == 0
                            ? Rect{usable.x, usable.y, usable.x + usable.w, usable.y + usable.h}
                            : out.bounds;
        const char* name = SDL_GetDisplayName(monitor);
        out.name = name != nullptr ? name : "";
        return true;
    }

    bool EnumDisplayMode(int monitor, int mode, DisplayMode& out) override {
        if (monitor < 0 || mode < 0 || mode >= SDL_GetNumDisplayModes(monitor)) return false;
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(monitor, mode, &m) != 0) return false;
        out = DisplayMode{m.w, m.h, Depth(m.format), m.refresh_rate};
        return true;
    }

    bool ChangeDisplayMode(WindowHandle window, int monitor, const DisplayMode* mode) override {
        WindowRecord* record = Find(window);
        if (record == nullptr) return false;
        SDL_Window* sdl = Sdl(*record);
        // The window goes to the monitor first: SDL makes it fullscreen on
        // the display that holds it.
        SDL_SetWindowPosition(sdl, SDL_WINDOWPOS_CENTERED_DISPLAY(monitor), SDL_WINDOWPOS_CENTERED_DISPLAY(monitor));
        int result = 0;
        if (mode != nullptr) {
            SDL_DisplayMode wanted{};
            bool found = false;
            for (int i = 0, n = SDL_GetNumDisplayModes(monitor); i < n && !found; ++i) {
                SDL_DisplayMode m;
                if (SDL_GetDisplayMode(monitor, i, &m) != 0) continue;
                if (m.w == mode->width && m.h == mode->height && Depth(m.format) == mode->bits_per_pixel) {
                    wanted = m;
                    found = true;
                }
            }
            if (!found) return false;
            result = SDL_SetWindowDisplayMode(sdl, &wanted);
            if (result == 0) result = SDL_SetWindowFullscreen(sdl, SDL_WINDOW_FULLSCREEN);
        } else {
            result = SDL_SetWindowFullscreen(sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
        }
        if (result != 0) {
            std::fprintf(stderr, "zorvek: fullscreen failed: %s\n", SDL_GetError());
            return false;
        }
        std::unique_lock lock = LockWindows();
        record->fullscreen = true;
        return true;
    }

    void RestoreDisplayMode(WindowHandle window) override {
        WindowRecord* record = Find(window);
        if (record == nullptr) return;
        SDL_SetWindowFullscreen(Sdl(*record), 0);
        std::unique_lock lock = LockWindows();
        record->fullscreen = false;
    }

    void SetCursorPos(Point screen) override { SDL_WarpMouseGlobal(screen.x, screen.y); }

    Rect GetClientRect(WindowHandle window) override {
        WindowRecord* record = Find(window);
        if (record == nullptr) return Rect{};
        // The SDL window holds a docked menu strip above the client area.
        int w = 0, h = 0;
        SDL_GetWindowSize(Sdl(*record), &w, &h);
        return Rect{0, 0, w, std::max(0, h - DockedStripHeight(*record))};
    }

protected:
    bool HostCreateWindow(WindowRecord& record) override {
        Uint32 flags = SDL_WINDOW_HIDDEN;
        if ((record.style & WS_THICKFRAME) != 0) flags |= SDL_WINDOW_RESIZABLE;
        if (!IsDecorated(record.style)) flags |= SDL_WINDOW_BORDERLESS;
#if SDL_VERSION_ATLEAST(2, 0, 5)
        if ((record.ex_style & WS_EX_TOOLWINDOW) != 0) flags |= SDL_WINDOW_SKIP_TASKBAR;
        if ((record.ex_style & WS_EX_TOPMOST) != 0) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
#endif
        // SDL places and sizes the client area; the engine gives the outer
        // rectangle it made with AdjustWindowRect, so take the same frame off.
        const Rect client = WindowToClientRect(record.window_rect, FrameFor(record.style, record.ex_style));
        const std::string title = Cp932ToUtf8(record.title);
        SDL_Window* window = SDL_CreateWindow(title.c_str(), client.left, client.top, std::max(1, client.Width()),
                                              std::max(1, client.Height()), flags);
        if (window == nullptr) {
            std::fprintf(stderr, "zorvek: SDL_CreateWindow failed: %s\n", SDL_GetError());
            return false;
        }
        record.host = window;
        int w = 0, h = 0;
        SDL_GetWindowSize(window, &w, &h);
        record.client_rect = Rect{0, 0, w, h};
        by_sdl_id_[SDL_GetWindowID(window)] = record.handle;
        return true;
    }

    void HostDestroyWindow(WindowRecord& record) override {
        SDL_Window* window = Sdl(record);
        if (window == nullptr) return;
        shadows_.erase(record.handle);
        by_sdl_id_.erase(SDL_GetWindowID(window));
        SDL_DestroyWindow(window);
        record.host = nullptr;
    }

    void HostShowWindow(WindowRecord& record, int show_command, const WindowInfo& before) override {
        (void)show_command;
        SDL_Window* window = Sdl(record);
        if (!record.visible) {
            if (before.visible) SDL_HideWindow(window);
            return;
        }
        if (!before.visible) SDL_ShowWindow(window);
        if (record.minimized) {
            if (!before.minimized) SDL_MinimizeWindow(window);
            return;
        }
        if (before.minimized) {
            SDL_RestoreWindow(window);
            if (record.maximized) SDL_MaximizeWindow(window);
        } else if (record.maximized && !before.maximized) {
            SDL_MaximizeWindow(window);
        } else if (!record.maximized && before.maximized) {
            SDL_RestoreWindow(window);
        }
    }

    void HostRaiseWindow(WindowRecord& record) override { SDL_RaiseWindow(Sdl(record)); }

    FrameMetrics HostFrame(uint32_t style, uint32_t ex_style) override { return FrameFor(style, ex_style); }

    void HostMoveResize(WindowRecord& record, const Rect& before) override {
        (void)before;
        // A fullscreen or maximized window has the size the host gave it;
        // SDL would only keep the size for later, or leave the maximized state.
        if (record.fullscreen || record.maximized) return;
        SDL_Window* window = Sdl(record);
        const Rect client = WindowToClientRect(record.window_rect, FrameFor(record.style, record.ex_style));
        SDL_SetWindowPosition(window, client.left, client.top);
        SDL_SetWindowSize(window, std::max(1, client.Width()), std::max(1, client.Height()));
    }

    void HostSetStyle(WindowRecord& record, uint32_t before) override {
        SDL_Window* window = Sdl(record);
        if (IsDecorated(record.style) != IsDecorated(before))
            SDL_SetWindowBordered(window, IsDecorated(record.style) ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowResizable(window, (record.style & WS_THICKFRAME) != 0 ? SDL_TRUE : SDL_FALSE);
        HostMoveResize(record, record.window_rect);
    }

    void HostSetSizeLimits(WindowRecord& record) override {
        SDL_Window* window = Sdl(record);
        SDL_SetWindowMinimumSize(window, std::max(1, record.min_client.x), std::max(1, record.min_client.y));
        // SDL has no "no limit": the largest size it takes stands in.
        const int32_t max_w = record.max_client.x > 0 ? record.max_client.x : 16384;
        const int32_t max_h = record.max_client.y > 0 ? record.max_client.y : 16384;
        SDL_SetWindowMaximumSize(window, max_w, max_h);
        SetAspectHint(record);
    }

    void HostSetZOrder(WindowRecord& record, ZOrder order, WindowRecord* behind) override {
        SDL_Window* window = Sdl(record);
        switch (order) {
            case ZOrder::kTopmost:
                SDL_SetWindowAlwaysOnTop(window, SDL_TRUE);
                break;
            case ZOrder::kNotTopmost:
                SDL_SetWindowAlwaysOnTop(window, SDL_FALSE);
                break;
            case ZOrder::kTop:
                Restack(record, nullptr, true);
                break;
            case ZOrder::kBottom:
                Restack(record, nullptr, false);
                break;
            case ZOrder::kBehind:
                Restack(record, behind != nullptr ? Sdl(*behind) : nullptr, false);
                break;
        }
    }

    void HostSetShape(WindowRecord& record) override { ApplyShape(record); }

    void HostFlash(WindowRecord& record) override {
        if (record.flash_count > 0) SDL_FlashWindow(Sdl(record), SDL_FLASH_UNTIL_FOCUSED);
    }

    bool HostBeginClientAccess(WindowRecord& record, ClientSurface& out) override {
        SDL_Window* window = Sdl(record);
        if (window == nullptr) return false;
        // The surface is made again by SDL after a size change, so it is
        // asked for on every access.
        SDL_Surface* surface = SDL_GetWindowSurface(window);
        if (surface == nullptr || surface->w <= 0 || surface->h <= 0) return false;
        if (IsBgrx(surface->format->format)) {
            if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return false;
            out = ClientSurface{static_cast<uint8_t*>(surface->pixels), surface->pitch, surface->w, surface->h};
            return true;
        }
        Shadow& shadow = shadows_[record.handle];
        if (shadow.width != surface->w || shadow.height != surface->h) {
            shadow.width = surface->w;
            shadow.height = surface->h;
            shadow.pixels.assign(static_cast<size_t>(surface->w) * static_cast<size_t>(surface->h) * 4, 0);
        }
        out = ClientSurface{shadow.pixels.data(), shadow.width * 4, shadow.width, shadow.height};
        return true;
    }

    void HostEndClientAccess(WindowRecord& record, const Rect& written) override {
        SDL_Window* window = Sdl(record);
        SDL_Surface* surface = SDL_GetWindowSurface(window);
        if (surface == nullptr) return;
        const bool direct = IsBgrx(surface->format->format);
        if (direct && SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        if (written.Width() <= 0 || written.Height() <= 0) return;
        if (!direct) {
            auto it = shadows_.find(record.handle);
            if (it == shadows_.end()) return;
            const Shadow& shadow = it->second;
            if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
            const int bpp = surface->format->BytesPerPixel;
            const size_t shadow_pitch = static_cast<size_t>(shadow.width) * 4;
            const uint8_t* from = shadow.pixels.data() + static_cast<size_t>(written.top) * shadow_pitch +
                                  static_cast<size_t>(written.left) * 4;
            uint8_t* to = static_cast<uint8_t*>(surface->pixels) +
                          static_cast<size_t>(written.top) * static_cast<size_t>(surface->pitch) +
                          static_cast<size_t>(written.left) * static_cast<size_t>(bpp);
            SDL_ConvertPixels(written.Width(), written.Height(), kBgrxFormat, from, static_cast<int>(shadow_pitch),
                              surface->format->format, to, surface->pitch);
            if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        }
        const SDL_Rect rect{written.left, written.top, written.Width(), written.Height()};
        SDL_UpdateWindowSurfaceRects(window, &rect, 1);
    }

    void HostSetTitle(WindowRecord& record) override {
        const std::string title = Cp932ToUtf8(record.title);
        SDL_SetWindowTitle(Sdl(record), title.c_str());
    }

    void PumpHostEvents() override {
        SDL_Event event;
        while (SDL_PollEvent(&event) == 1) Translate(event);
    }

    void WaitForHostEvents(uint32_t timeout_ms) override {
        // With a null event SDL only waits (the event stays queued for the
        // pump). Posts from other threads wake it through WakeMainThread.
        SDL_WaitEventTimeout(nullptr, static_cast<int>(timeout_ms));
    }

    // A caption press moves the window with the pointer. SDL's own hit
    // test cannot serve: it decides at the press, before the engine has
    // seen the click, and it swallows the click. The engine decides a frame
    // later (the drag layer's pixel under the pointer), so the move is
    // carried out here by following the pointer's screen position.
    bool HostPointer(Point& screen, bool& left_down) override {
        int x = 0, y = 0;
        const Uint32 buttons = SDL_GetGlobalMouseState(&x, &y);
        screen = Point{x, y};
        left_down = (buttons & SDL_BUTTON_LMASK) != 0;
        return true;
    }

    Point HostClientOrigin(WindowRecord& record) override {
        int x = 0, y = 0;
        SDL_GetWindowPosition(Sdl(record), &x, &y);
        return Point{x, y + DockedStripHeight(record)};
    }

    void HostMoveWindow(WindowRecord& record, Point client_origin) override {
        // SDL reports the move (SDL_WINDOWEVENT_MOVED), which becomes WM_MOVE.
        SDL_SetWindowPosition(Sdl(record), client_origin.x, client_origin.y - DockedStripHeight(record));
    }

    // The host lost the strip's pixels (a new surface, an expose).
    void RepaintMenuStrip(WindowRecord& record) {
        if (record.menu_strip <= 0 || !record.menu_strip_shown) return;
        ClientSurface host;
        if (HostBeginClientAccess(record, host)) HostEndClientAccess(record, PaintMenuStrip(record, host));
    }

    void WakeMainThread(bool from_main_thread) override {
        // The main thread never waits while it posts, so only other threads
        // need to wake it. One wake-up event in flight is enough: the pump
        // clears the flag before it looks at the queue.
        if (from_main_thread) return;
        if (wake_pending_.exchange(true)) return;
        SDL_Event event{};
        event.type = wake_event_;
        if (SDL_PushEvent(&event) != 1) wake_pending_.store(false);  // GetMessage's time slice covers it
    }

private:
    // The engine's pixel order, B, G, R, X in memory: a packed 32-bit
    // X8R8G8B8 on this little-endian machine.
    static_assert(SDL_BYTEORDER == SDL_LIL_ENDIAN, "B, G, R, X pixels are X8R8G8B8 only on little-endian machines");
    static constexpr Uint32 kBgrxFormat = SDL_PIXELFORMAT_RGB888;
    static bool IsBgrx(Uint32 format) { return format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888; }

    // A client area in the engine's pixel order, for a surface of another format.
    struct Shadow {
        int width = 0, height = 0;
        std::vector<uint8_t> pixels;
    };

    static SDL_Window* Sdl(const WindowRecord& record) { return static_cast<SDL_Window*>(record.host); }

    // Bits per pixel as Windows counts them: X8R8G8B8 is 32.
    static int32_t Depth(Uint32 format) {
        int32_t bits = static_cast<int32_t>(SDL_BITSPERPIXEL(format));
        if (bits == 24 && SDL_BYTESPERPIXEL(format) == 4) bits = 32;
        return bits;
    }

    // X11 only (platform/x11_window_extras.cpp): the aspect hint that keeps
    // the game's shape while the user drags, the stacking order below the
    // top and the window shape. Elsewhere they are only recorded.
    void SetAspectHint(WindowRecord& record);
    void Restack(WindowRecord& record, SDL_Window* behind, bool top);
    void ApplyShape(WindowRecord& record);

    // The frame AdjustWindowRect adds. SDL can measure a real frame once a
    // decorated window is on screen; until then (and with the dummy
    // driver) the headless approximation stands in.
    FrameMetrics FrameFor(uint32_t style, uint32_t ex_style) {
        if (!IsDecorated(style)) return FrameMetrics{};
        if (!measured_frame_) {
            for (const WindowInfo& info : ListWindows()) {
                WindowRecord* record = Find(info.handle);
                if (record == nullptr || !IsDecorated(record->style) || !record->visible) continue;
                int top = 0, left = 0, bottom = 0, right = 0;
                if (SDL_GetWindowBordersSize(Sdl(*record), &top, &left, &bottom, &right) == 0 && top > 0) {
                    frame_ = FrameMetrics{left, top, right, bottom};
                    measured_frame_ = true;
                    break;
                }
            }
        }
        return measured_frame_ ? frame_ : ApproximateFrame(style, ex_style);
    }

    WindowHandle HandleFor(Uint32 sdl_id) const {
        auto it = by_sdl_id_.find(sdl_id);
        return it == by_sdl_id_.end() ? kNoWindow : it->second;
    }

    void Post(WindowHandle window, uint32_t message, uint64_t wparam, int64_t lparam) {
        Queue().Post(Message{window, message, wparam, lparam});
    }

    uint64_t KeyFlags() const {
        uint64_t flags = mouse_buttons_;
        const SDL_Keymod mod = SDL_GetModState();
        if ((mod & KMOD_SHIFT) != 0) flags |= MK_SHIFT;
        if ((mod & KMOD_CTRL) != 0) flags |= MK_CONTROL;
        return flags;
    }

    int64_t ClientSizeLParam(WindowRecord& record) {
        // The host placed the window itself: its rectangle is taken from it.
        int x = 0, y = 0, w = 0, h = 0;
        SDL_GetWindowPosition(Sdl(record), &x, &y);
        SDL_GetWindowSize(Sdl(record), &w, &h);
        const FrameMetrics frame = FrameFor(record.style, record.ex_style);
        const int32_t client_h = std::max(0, h - DockedStripHeight(record));
        std::unique_lock lock = LockWindows();
        record.client_rect = Rect{0, 0, w, client_h};
        record.window_rect = ClientToWindowRect(Rect{x, y, x + w, y + h}, frame);
        return MakeLParam(w, client_h);
    }

    void SetSizeState(WindowRecord& record, bool minimized, bool maximized) {
        std::unique_lock lock = LockWindows();
        record.minimized = minimized;
        record.maximized = maximized;
    }

    void TranslateWindowEvent(const SDL_WindowEvent& e) {
        const WindowHandle handle = HandleFor(e.windowID);
        WindowRecord* record = Find(handle);
        if (record == nullptr) return;
        switch (e.event) {
            case SDL_WINDOWEVENT_CLOSE:
                Post(handle, WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
            case SDL_WINDOWEVENT_EXPOSED:
                RepaintMenuStrip(*record);
                Queue().Invalidate(handle);
                break;
            case SDL_WINDOWEVENT_FOCUS_GAINED:
                Post(handle, WM_ACTIVATE, WA_ACTIVE, 0);
                break;
            case SDL_WINDOWEVENT_FOCUS_LOST:
                Post(handle, WM_ACTIVATE, WA_INACTIVE, 0);
                break;
            case SDL_WINDOWEVENT_SIZE_CHANGED: {
                // The SDL window holds a docked menu strip above the client area.
                const int32_t client_h = std::max(0, e.data2 - DockedStripHeight(*record));
                RepaintMenuStrip(*record);  // SDL made the surface again
                const bool same = e.data1 == record->client_rect.Width() && client_h == record->client_rect.Height();
                if (same) break;  // a size the engine set (already told)
                if (!record->minimized && !record->maximized && !record->fullscreen) {
                    UserResized(*record, e.data1, client_h);
                    break;
                }
                std::unique_lock lock = LockWindows();
                record->client_rect = Rect{0, 0, e.data1, client_h};
                lock.unlock();
                if (!record->minimized) {
                    Post(handle, WM_SIZE, record->maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
                         MakeLParam(e.data1, client_h));
                }
                break;
            }
            case SDL_WINDOWEVENT_MOVED: {
                const FrameMetrics frame = FrameFor(record->style, record->ex_style);
                const int32_t w = record->window_rect.Width(), h = record->window_rect.Height();
                std::unique_lock lock = LockWindows();
                record->window_rect = Rect{e.data1 - frame.left, e.data2 - frame.top, 0, 0};
                record->window_rect.right = record->window_rect.left + w;
                record->window_rect.bottom = record->window_rect.top + h;
                lock.unlock();
                Post(handle, WM_MOVE, 0, MakeLParam(e.data1, e.data2 + DockedStripHeight(*record)));
                break;
            }
            case SDL_WINDOWEVENT_MINIMIZED:
                SetSizeState(*record, true, record->maximized);
                Post(handle, WM_SIZE, SIZE_MINIMIZED, 0);
                break;
            case SDL_WINDOWEVENT_MAXIMIZED:
                SetSizeState(*record, false, true);
                Post(handle, WM_SIZE, SIZE_MAXIMIZED, ClientSizeLParam(*record));
                break;
            case SDL_WINDOWEVENT_RESTORED:
                // SDL reports the way back from minimized and from maximized alike.
                SetSizeState(*record, false, (SDL_GetWindowFlags(Sdl(*record)) & SDL_WINDOW_MAXIMIZED) != 0);
                Post(handle, WM_SIZE, record->maximized ? SIZE_MAXIMIZED : SIZE_RESTORED,
                     ClientSizeLParam(*record));
                break;
            default:
                break;
        }
    }

    static uint64_t ButtonFlag(Uint8 button) {
        switch (button) {
            case SDL_BUTTON_LEFT: return MK_LBUTTON;
            case SDL_BUTTON_RIGHT: return MK_RBUTTON;
            case SDL_BUTTON_MIDDLE: return MK_MBUTTON;
            default: return 0;
        }
    }

    static uint8_t ButtonKey(Uint8 button) {
        switch (button) {
            case SDL_BUTTON_LEFT: return VK_LBUTTON;
            case SDL_BUTTON_RIGHT: return VK_RBUTTON;
            case SDL_BUTTON_MIDDLE: return VK_MBUTTON;
            case SDL_BUTTON_X1: return VK_XBUTTON1;
            case SDL_BUTTON_X2: return VK_XBUTTON2;
            default: return 0;
        }
    }

    void TranslateButton(const SDL_MouseButtonEvent& e, bool down) {
        const WindowHandle handle = HandleFor(e.windowID);
        // A click shorter than the time between two polls still counts;
        // the side buttons have no message, so this is all they leave.
        if (down && handle != kNoWindow && ButtonKey(e.button) != 0) NoteKeyPressed(ButtonKey(e.button));
        const uint64_t flag = ButtonFlag(e.button);
        if (flag == 0) return;
        if (down) {
            mouse_buttons_ |= flag;
        } else {
            mouse_buttons_ &= ~flag;
        }
        if (handle == kNoWindow) return;
        // A press on the menu strip is the strip's, not the client's.
        const WindowRecord* record = Find(handle);
        const Point at{e.x, e.y - (record != nullptr ? DockedStripHeight(*record) : 0)};
        if (record != nullptr && OnShownMenuStrip(*record, at)) {
            if (down && e.button == SDL_BUTTON_LEFT) Post(handle, WM_NCLBUTTONDOWN, HTMENU, MakeLParam(at.x, at.y));
            return;
        }
        uint32_t message = 0;
        switch (e.button) {
            case SDL_BUTTON_LEFT: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
            case SDL_BUTTON_RIGHT: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
            default: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
        }
        Post(handle, message, KeyFlags(), MakeLParam(at.x, at.y));
    }

    void TranslateWheel(const SDL_MouseWheelEvent& e) {
        const WindowHandle handle = HandleFor(e.windowID);
        if (handle == kNoWindow) return;
#if SDL_VERSION_ATLEAST(2, 0, 18)
        int delta = static_cast<int>(std::lround(e.preciseY * 120.0f));
#else
        int delta = e.y * 120;
#endif
        if (e.direction == SDL_MOUSEWHEEL_FLIPPED) delta = -delta;
        if (delta == 0) return;
        int x = 0, y = 0;
        SDL_GetGlobalMouseState(&x, &y);
        const uint64_t wparam = (static_cast<uint64_t>(static_cast<uint16_t>(delta)) << 16) | KeyFlags();
        Post(handle, WM_MOUSEWHEEL, wparam, MakeLParam(x, y));
    }

    void TranslateKey(const SDL_KeyboardEvent& e, bool down) {
        const WindowHandle handle = HandleFor(e.windowID);
        const uint8_t key = VirtualKeyFromScancode(e.keysym.scancode);
        if (handle == kNoWindow || key == 0) return;
        // A tap shorter than the time between two polls of the key table
        // (SDL has taken both its events by then) still counts.
        if (down && e.repeat == 0) NoteKeyPressed(key);
        const bool alt = (e.keysym.mod & KMOD_ALT) != 0 && MessageVirtualKey(key) != VK_MENU;
        Queue().Post(KeyMessage(handle, key, down, alt, e.repeat != 0));
    }

    void TranslateDrop(const SDL_DropEvent& e) {
        switch (e.type) {
            case SDL_DROPBEGIN:
                drop_files_.clear();
                break;
            case SDL_DROPFILE:
                if (e.file != nullptr) drop_files_.emplace_back(e.file);
                break;
            case SDL_DROPCOMPLETE: {
                const WindowHandle handle = HandleFor(e.windowID);
                if (handle != kNoWindow && !drop_files_.empty()) PostDroppedFiles(handle, std::move(drop_files_));
                drop_files_.clear();
                break;
            }
            default:  // dropped text: not a file
                break;
        }
        SDL_free(e.file);
    }

    void Translate(const SDL_Event& event) {
        if (event.type == wake_event_) {
            wake_pending_.store(false);
            return;
        }
        switch (event.type) {
            case SDL_WINDOWEVENT:
                TranslateWindowEvent(event.window);
                break;
            case SDL_MOUSEMOTION: {
                const WindowHandle handle = HandleFor(event.motion.windowID);
                const WindowRecord* record = Find(handle);
                if (record == nullptr) break;
                const Point at{event.motion.x, event.motion.y - DockedStripHeight(*record)};
                if (OnShownMenuStrip(*record, at)) break;  // over the menu strip
                Post(handle, WM_MOUSEMOVE, KeyFlags(), MakeLParam(at.x, at.y));
                break;
            }
            case SDL_MOUSEBUTTONDOWN:
                TranslateButton(event.button, true);
                break;
            case SDL_MOUSEBUTTONUP:
                TranslateButton(event.button, false);
                break;
            case SDL_MOUSEWHEEL:
                TranslateWheel(event.wheel);
                break;
            case SDL_KEYDOWN:
            case SDL_KEYUP:
                TranslateKey(event.key, event.type == SDL_KEYDOWN);
                break;
            case SDL_TEXTINPUT:
            case SDL_TEXTEDITING: {
                const WindowHandle handle = HandleFor(event.type == SDL_TEXTINPUT ? event.text.windowID : event.edit.windowID);
                if (handle != kNoWindow) {
                    PostTextInput(handle, event.type == SDL_TEXTINPUT ? event.text.text : event.edit.text,
                                  event.type == SDL_TEXTEDITING);
                }
                break;
            }
            case SDL_DROPBEGIN:
            case SDL_DROPFILE:
            case SDL_DROPTEXT:
            case SDL_DROPCOMPLETE:
                TranslateDrop(event.drop);
                break;
            case SDL_QUIT:  // each window's close arrives as its own event
            default:
                break;
        }
    }

    Uint32 wake_event_ = SDL_USEREVENT;
    std::atomic<bool> wake_pending_{false};
    std::map<Uint32, WindowHandle> by_sdl_id_;
    std::map<WindowHandle, Shadow> shadows_;
    uint64_t mouse_buttons_ = 0;  // MK_ flags of the buttons held
    int cursor_count_ = 0;        // ShowCursor's display count
    std::vector<std::string> drop_files_;  // the drop being delivered
    std::unique_ptr<Joysticks> joysticks_;
    SdlCursorPtr cursor_;  // the pointer set last; the old one is freed once replaced

    bool Use(SdlCursorPtr cursor) {
        if (cursor == nullptr) return false;
        SDL_SetCursor(cursor.get());
        cursor_ = std::move(cursor);
        return true;
    }
    FrameMetrics frame_;
    bool measured_frame_ = false;
};

void SdlWindowSystem::SetAspectHint(WindowRecord& record) {
    // The largest size the procedure allows has the game's aspect.
    const bool resizable = (record.style & WS_THICKFRAME) != 0 && !record.maximized && !record.fullscreen;
    if (resizable && record.max_client.x > 0 && record.max_client.y > 0) {
        X11SetAspectHint(Sdl(record), record.max_client.x, record.max_client.y);
    } else {
        X11SetAspectHint(Sdl(record), 0, 0);
    }
}

void SdlWindowSystem::Restack(WindowRecord& record, SDL_Window* behind, bool top) {
    if (!X11Restack(Sdl(record), behind, top) && top) SDL_RaiseWindow(Sdl(record));
}

void SdlWindowSystem::ApplyShape(WindowRecord& record) {
    X11SetShape(Sdl(record), record.shaped ? &record.shape : nullptr);
}

}  // namespace

std::unique_ptr<WindowSystem> CreateSdlWindowSystem() {
    // Defaults only (an environment variable still wins):
    // - SDL would turn SIGINT and SIGTERM into SDL_QUIT, which the engine
    //   ignores (Windows has no such message); the launcher installs the
    //   engine's own handlers instead (platform/stop_signals.h);
    // - SDL disables the screen saver; Windows does not, and the engine's
    //   command 93 switches that itself;
    // - a click that activates a window is also a click, as on Windows.
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1", SDL_HINT_DEFAULT);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "zorvek: SDL video cannot start: %s\n", SDL_GetError());
        return nullptr;
    }
    return std::make_unique<SdlWindowSystem>();
}

}  // namespace zk::platform
