#include "engine/window_sizing.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "core/engine_hooks.h"
#include "core/settings.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "engine/display_modes.h"
#include "layers/cg_image.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/display_state.h"

namespace zk {

namespace {

WindowSizing window_sizing;
WindowSizingHooks window_sizing_hooks;

platform::WindowSystem& Windows() { return platform::GetWindowSystem(); }

bool IsMainWindow(const WindowRecord& record) {
    return record.number == 0 && record.window != platform::kNoWindow && platform::HasWindowSystem();
}

void RequestDirect3dReset() {
    if (Hooks().request_direct3d_reset != nullptr) Hooks().request_direct3d_reset();
}

bool GpuPath() { return GpuLayerDrawing(); }

// The scales from the game size to a size (1 where the game size is 0).
double Scale(int32_t size, int32_t game) { return game > 0 ? static_cast<double>(size) / game : 1.0; }

void PlaceChildWindows(int32_t width, int32_t height) {
    const WindowRecord* main_record = MainWindowRecord();
    if (main_record == nullptr) return;
    const double sx = Scale(width, main_record->client_width);
    const double sy = Scale(height, main_record->client_height);
    PlaceFlashWindow(sx, sy);
    PlaceWindowMovie(sx, sy);
}

void FollowSizeInModelPlayers() {
    if (window_sizing_hooks.emote_follow_size != nullptr) window_sizing_hooks.emote_follow_size();
}

// A child rectangle placed over the picture: its origin scaled and moved
// by the letterbox margin, its size scaled by back buffer / game size.
platform::Rect PlaceChild(const platform::Rect& movie, double scale_x, double scale_y) {
    const WindowRecord* main_record = MainWindowRecord();
    const DisplayState& display = TheDisplayState();
    const int64_t margin_x = (int64_t{display.display_width} - window_sizing.back_width) / 2;
    const int64_t margin_y = (int64_t{display.display_height} - window_sizing.back_height) / 2;
    const int32_t x = TruncToInt(scale_x * movie.left + static_cast<double>(margin_x));
    const int32_t y = TruncToInt(scale_y * movie.top + static_cast<double>(margin_y));
    int64_t width = movie.Width(), height = movie.Height();
    if (main_record != nullptr && main_record->client_width != 0 && main_record->client_height != 0) {
        width = width * window_sizing.back_width / main_record->client_width;
        height = height * window_sizing.back_height / main_record->client_height;
    }
    const auto clamp = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min() / 2,
                                                        std::numeric_limits<int32_t>::max() / 2));
    };
    return platform::Rect{x, y, clamp(int64_t{x} + width), clamp(int64_t{y} + height)};
}

}  // namespace

WindowSizing& TheWindowSizing() { return window_sizing; }
WindowSizingHooks& TheWindowSizingHooks() { return window_sizing_hooks; }

int32_t TruncToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

double GameAspect(int32_t game_width, int32_t game_height) {
    if (game_width <= 0 || game_height <= 0) return 1.0;
    return static_cast<double>(game_width) / game_height;
}

BorderSize GetFrameBorderSize(platform::WindowHandle window, uint32_t style) {
    if (!platform::HasWindowSystem()) return {};
    const uint32_t used = style != 0 ? style : Windows().GetWindowStyle(window);
    const platform::Rect adjusted = Windows().AdjustWindowRect(platform::Rect{0, 0, 320, 240}, used, 0);
    return BorderSize{adjusted.Width() - 320, adjusted.Height() - 240};
}

platform::Rect SizingRect(uint64_t edge, platform::Rect rect, double aspect, BorderSize border) {
    using namespace platform;
    const double r = aspect > 0 && std::isfinite(aspect) ? aspect : 1.0;
    // The client height the width asks for, the current client height, and
    // how much wider the rectangle must become for that height.
    const int64_t h = TruncToInt((int64_t{rect.right} - rect.left - border.width) / r + 0.5);
    const int64_t l = int64_t{rect.bottom} - rect.top - border.height;
    const int64_t e = border.width + int64_t{TruncToInt(r * static_cast<double>(l) + 0.5)} + rect.left - rect.right;
    auto add = [](int32_t& side, int64_t delta) {
        side = static_cast<int32_t>(std::clamp<int64_t>(side + delta, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    };
    switch (edge) {
        case WMSZ_LEFT:
        case WMSZ_RIGHT:
            add(rect.bottom, h - l);
            break;
        case WMSZ_TOP:
        case WMSZ_BOTTOM:
            add(rect.right, e);
            break;
        case WMSZ_TOPLEFT:
            if (e <= 0) add(rect.top, l - h); else add(rect.left, -e);
            break;
        case WMSZ_TOPRIGHT:
            if (e <= 0) add(rect.top, l - h); else add(rect.right, e);
            break;
        case WMSZ_BOTTOMLEFT:
            if (e > 0) add(rect.left, -e); else add(rect.bottom, h - l);
            break;
        case WMSZ_BOTTOMRIGHT:
            if (e <= 0) add(rect.bottom, h - l); else add(rect.right, e);
            break;
        default:
            break;
    }
    return rect;
}

TrackSizes ComputeTrackSizes(int32_t game_width, int32_t game_height, int32_t desktop_width, int32_t desktop_height,
                             BorderSize border) {
    const double r = GameAspect(game_width, game_height);
    // The largest picture of aspect r that fits the desktop.
    double width = 0, height = 0;
    if (desktop_height < desktop_width / r) {
        width = r * desktop_height;
        height = desktop_height;
    } else {
        height = desktop_width / r;
        width = desktop_width;
    }
    const double m = std::min(width, height);
    const int32_t g = std::min(game_width, game_height) / 4;
    TrackSizes sizes;
    sizes.min_track = platform::Point{TruncToInt(border.width + r * g), border.height + g};
    sizes.max_track = platform::Point{TruncToInt(border.width + r * m), TruncToInt(border.height + m)};
    return sizes;
}

void OnSizing(WindowRecord& record, uint64_t edge, int64_t lparam) {
    if (record.number != 0 || lparam == 0) return;
    auto* rect = reinterpret_cast<platform::Rect*>(lparam);
    *rect = SizingRect(edge, *rect, GameAspect(record.client_width, record.client_height),
                       GetFrameBorderSize(record.window));
}

void OnGetMinMaxInfo(WindowRecord& record, int64_t lparam) {
    const DisplayState& display = TheDisplayState();
    if (record.number != 0 || lparam == 0 || display.fullscreen != 0 || display.maximized != 0) return;
    if (TheCpuBackBuffer().pixels.empty()) return;
    const SystemFacts& facts = TheSystemFacts();
    const TrackSizes sizes = ComputeTrackSizes(record.client_width, record.client_height, facts.desktop_width,
                                               facts.desktop_height, GetFrameBorderSize(record.window));
    auto* info = reinterpret_cast<platform::MinMaxInfo*>(lparam);
    info->min_track_size = sizes.min_track;
    info->max_track_size = sizes.max_track;
    // Room for the largest picture the window can show, taken now rather
    // than at every step of a drag. Only a reservation: a size the engine
    // cannot hold is reported when the back buffer takes it.
    const BorderSize border = GetFrameBorderSize(record.window);
    const int64_t max_width = int64_t{sizes.max_track.x} - border.width;
    const int64_t max_height = int64_t{sizes.max_track.y} - border.height;
    const uint64_t bytes = CgPixelBlockBytes(max_width, max_height);
    if (bytes != 0) {
        try {
            TheCpuBackBuffer().pixels.reserve(bytes);
        } catch (const std::bad_alloc&) {
        }
    }
}

bool ReallocateBackBuffer() {
    if (window_sizing.back_width <= 0 || window_sizing.back_height <= 0) return true;
    return AllocateCpuBackBuffer(window_sizing.back_width, window_sizing.back_height);
}

void RefreshMainWindowLimits() {
    const WindowRecord* main_record = MainWindowRecord();
    if (main_record == nullptr || main_record->window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    Windows().RefreshSizeLimits(main_record->window);
}

void NoteStyleChange(WindowRecord& record) {
    const BorderSize border = GetFrameBorderSize(record.window);
    window_sizing.border_width_before = border.width;
    window_sizing.border_height_before = border.height;
    window_sizing.style_changed = 1;
}

void OnMaximizeCommand(WindowRecord& record) {
    DisplayState& display = TheDisplayState();
    if (!IsMainWindow(record) || display.fullscreen != 0) return;
    if (Settings().resizable == 0) {
        NoteStyleChange(record);
        Windows().SetWindowStyle(record.window, Windows().GetWindowStyle(record.window) | platform::WS_THICKFRAME);
    }
    display.maximized = 1;
    window_sizing.saved_display_width = record.client_width;
    window_sizing.saved_display_height = record.client_height;
    window_sizing.saved_back_width = window_sizing.back_width;
    window_sizing.saved_back_height = window_sizing.back_height;
    if (GpuPath()) RequestDirect3dReset();
}

void OnRestoreCommand(WindowRecord& record) {
    if (!IsMainWindow(record) || TheDisplayState().fullscreen != 0 || Windows().IsMinimized(record.window)) return;
    if (Settings().resizable == 0) {
        NoteStyleChange(record);
        Windows().SetWindowStyle(record.window, Windows().GetWindowStyle(record.window) & ~platform::WS_THICKFRAME);
    }
    window_sizing.restore_pending = 1;
}

void OnWindowPosChanged(WindowRecord& record, int64_t /*lparam*/) {
    DisplayState& display = TheDisplayState();
    if (!IsMainWindow(record) || display.fullscreen != 0) return;
    if (window_sizing.restore_pending != 0) {
        window_sizing.restore_pending = 0;
        display.maximized = 0;
        PutBackSavedSizes();
        ReallocateBackBuffer();
        RefreshMainWindowLimits();
        return;
    }
    if (display.maximized == 0) return;
    const platform::Rect client = Windows().GetClientRect(record.window);
    // A minimized window has no client area to show the picture in.
    if (client.Width() <= 0 || client.Height() <= 0) return;
    if (client.Width() == display.display_width && client.Height() == display.display_height) return;
    display.display_width = client.Width();
    display.display_height = client.Height();
    ComputeDisplaySize(record.client_width, record.client_height, display.display_width, display.display_height);
}

void OnSize(WindowRecord& record, uint64_t wparam, int64_t lparam) {
    (void)lparam;
    if (record.window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    // A minimized window (client 0 x 0) keeps every size as it is.
    if (wparam == platform::SIZE_MINIMIZED || Windows().IsMinimized(record.window)) return;
    DisplayState& display = TheDisplayState();
    if (record.number == 0 && display.fullscreen == 0) {
        // The desktop maximizes and restores without asking first: what
        // the commands would have done is done now.
        if (wparam == platform::SIZE_MAXIMIZED && display.maximized == 0) {
            OnMaximizeCommand(record);
            OnWindowPosChanged(record, 0);
        } else if (wparam == platform::SIZE_RESTORED && display.maximized != 0 && !Windows().IsMaximized(record.window)) {
            window_sizing.restore_pending = 1;
            OnWindowPosChanged(record, 0);
        }
    }

    const platform::Rect outer = Windows().GetWindowRect(record.window);
    const BorderSize border = GetFrameBorderSize(record.window);
    const bool main_window = record.number == 0;
    if (window_sizing.style_changed == 0 && main_window && display.fullscreen == 0 && display.maximized == 0) {
        // Windowed: the largest size of the game's aspect within the window
        // (and the desktop).
        const double a = GameAspect(record.client_width, record.client_height);
        const int32_t available_width = std::min(outer.Width() - border.width, TheSystemFacts().desktop_width);
        const int32_t available_height = std::min(outer.Height() - border.height, TheSystemFacts().desktop_height);
        if (available_width <= 0 || available_height <= 0) return;
        int32_t width = 0, height = 0;
        if (a < static_cast<double>(available_width) / available_height) {
            height = available_height;
            width = TruncToInt(a * height + 0.5);
        } else {
            width = available_width;
            height = TruncToInt(width / a + 0.5);
        }
        if (width <= 0 || height <= 0) return;
        const platform::Rect client = Windows().GetClientRect(record.window);
        if (client.Width() != width || client.Height() != height) {
            Windows().MoveWindow(record.window,
                                 platform::Rect{outer.left, outer.top, outer.left + width + border.width,
                                                outer.top + height + border.height},
                                 true);
        }
        const bool changed = display.display_width != width || display.display_height != height ||
                             window_sizing.back_width != width || window_sizing.back_height != height;
        display.display_width = width;
        display.display_height = height;
        window_sizing.back_width = width;
        window_sizing.back_height = height;
        if (changed || TheCpuBackBuffer().width != width || TheCpuBackBuffer().height != height) ReallocateBackBuffer();
        PlaceChildWindows(window_sizing.back_width, window_sizing.back_height);
        FollowSizeInModelPlayers();
        return;
    }

    int32_t x = outer.left, y = outer.top;
    if (window_sizing.style_changed != 0) {
        window_sizing.style_changed = 0;
        x = outer.left + (window_sizing.border_width_before - border.width) / 2;
        y = outer.top + (window_sizing.border_height_before - border.height) / 2;
        if (main_window) RefreshMainWindowLimits();
    }
    const int32_t client_width = main_window ? display.display_width : record.client_width;
    const int32_t client_height = main_window ? display.display_height : record.client_height;
    if (client_width > 0 && client_height > 0) {
        const platform::Rect wanted{x, y, x + client_width + border.width, y + client_height + border.height};
        const platform::Rect now = Windows().GetWindowRect(record.window);
        if (now.left != wanted.left || now.top != wanted.top || now.right != wanted.right ||
            now.bottom != wanted.bottom) {
            Windows().MoveWindow(record.window, wanted, true);
        }
    }
    if (main_window) PlaceChildWindows(display.display_width, display.display_height);
    FollowSizeInModelPlayers();
}

int FindWindowMonitor(WindowRecord& record) {
    if (!IsMainWindow(record)) return 0;
    const platform::Rect outer = Windows().GetWindowRect(record.window);
    const platform::Point centre{static_cast<int32_t>((int64_t{outer.left} + outer.right) / 2),
                                 static_cast<int32_t>((int64_t{outer.top} + outer.bottom) / 2)};
    const int monitor = Windows().MonitorFromPoint(centre);
    platform::MonitorInfo info;
    if (!Windows().GetMonitorInfo(monitor, info)) {
        window_sizing.monitor.x = outer.left;
        window_sizing.monitor.y = outer.top;
        return window_sizing.monitor_number;
    }
    window_sizing.monitor = MonitorRect{info.bounds.left, info.bounds.top, info.bounds.Width(), info.bounds.Height()};
    window_sizing.monitor_number = monitor;
    SystemFacts& facts = TheSystemFacts();
    facts.desktop_width = info.bounds.Width();
    facts.desktop_height = info.bounds.Height();
    return monitor;
}

void OnMove(WindowRecord& record, int64_t /*lparam*/) {
    if (!IsMainWindow(record)) return;
    const int32_t last_index = window_sizing.device_index;
    const SystemFacts before = TheSystemFacts();
    window_sizing.device_index = FindWindowMonitor(record);
    const DisplayState& display = TheDisplayState();
    if (window_sizing.device_index != last_index && GpuPath() && display.fullscreen == 0 && display.maximized == 0)
        RequestDirect3dReset();
    const SystemFacts& after = TheSystemFacts();
    if (after.desktop_width != before.desktop_width || after.desktop_height != before.desktop_height)
        RefreshMainWindowLimits();
}

void PlaceFlashWindow(double scale_x, double scale_y) {
    platform::Rect movie;
    if (window_sizing_hooks.flash_movie_rect == nullptr || window_sizing_hooks.move_flash_window == nullptr ||
        !window_sizing_hooks.flash_movie_rect(movie)) {
        return;
    }
    window_sizing_hooks.move_flash_window(PlaceChild(movie, scale_x, scale_y));
}

void PlaceWindowMovie(double scale_x, double scale_y) {
    platform::Rect movie;
    if (window_sizing_hooks.window_movie_rect == nullptr || window_sizing_hooks.move_window_movie == nullptr ||
        !window_sizing_hooks.window_movie_rect(movie)) {
        return;
    }
    window_sizing_hooks.move_window_movie(PlaceChild(movie, scale_x, scale_y));
}

void PutBackSavedSizes() {
    DisplayState& display = TheDisplayState();
    if (window_sizing.saved_back_width > 0 && window_sizing.saved_back_height > 0) {
        window_sizing.back_width = window_sizing.saved_back_width;
        window_sizing.back_height = window_sizing.saved_back_height;
    }
    if (window_sizing.saved_display_width > 0 && window_sizing.saved_display_height > 0) {
        display.display_width = window_sizing.saved_display_width;
        display.display_height = window_sizing.saved_display_height;
    }
    window_sizing.saved_back_width = window_sizing.saved_back_height = 0;
    window_sizing.saved_display_width = window_sizing.saved_display_height = 0;
}

void InitWindowSizing(int32_t back_width, int32_t back_height) {
    WindowRecord* main_record = MainWindowRecord();
    if (main_record == nullptr) return;
    DisplayState& display = TheDisplayState();
    display.display_width = main_record->client_width;
    display.display_height = main_record->client_height;
    window_sizing.back_width = back_width;
    window_sizing.back_height = back_height;
    if (main_record->window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    window_sizing.device_index = FindWindowMonitor(*main_record);
    RefreshMainWindowLimits();
}

void RegisterWindowSizingHooks() {
    EngineHooks& hooks = Hooks();
    hooks.on_window_sizing = OnSizing;
    hooks.on_window_size = OnSize;
    hooks.on_get_min_max_info = OnGetMinMaxInfo;
    hooks.on_window_pos_changed = OnWindowPosChanged;
    hooks.on_window_move = OnMove;
    hooks.on_maximize_command = OnMaximizeCommand;
    hooks.on_restore_command = OnRestoreCommand;
    hooks.leave_fullscreen = [] {
        WindowRecord* main_record = MainWindowRecord();
        if (main_record == nullptr) return false;
        LeaveFullscreen(*main_record);
        return true;
    };
}

void ResetWindowSizing() {
    window_sizing = {};
    window_sizing_hooks = {};
    ResetDisplayModes();
}

}  // namespace zk
