#include "engine/display_modes.h"

#include <array>
#include <vector>

#include "base/system_text.h"
#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "core/error_codes.h"
#include "core/error_report.h"
#include "core/settings.h"
#include "core/system_facts.h"
#include "core/window_record.h"
#include "engine/window_sizing.h"
#include "renderer/cpu_back_buffer.h"
#include "renderer/display_state.h"

namespace zk {

namespace {

constexpr int kMaxDisplayModes = 10000;
constexpr uint32_t kFullscreenRemoved =
    platform::WS_CAPTION | platform::WS_SYSMENU | platform::WS_THICKFRAME | platform::WS_MINIMIZEBOX;

struct SavedPlacement {
    platform::WindowHandle window = platform::kNoWindow;
    platform::Rect rect;
};
std::vector<SavedPlacement> saved_placements;

platform::WindowSystem& Windows() { return platform::GetWindowSystem(); }

bool GpuPath() { return GpuLayerDrawing(); }

void RequestDirect3dReset() {
    if (Hooks().request_direct3d_reset != nullptr) Hooks().request_direct3d_reset();
}

platform::Point MonitorCentre() {
    const MonitorRect& m = TheWindowSizing().monitor;
    return platform::Point{static_cast<int32_t>(m.x + m.width / 2), static_cast<int32_t>(m.y + m.height / 2)};
}

void MoveWindowTo(platform::WindowHandle window, int32_t x, int32_t y) {
    const platform::Rect outer = Windows().GetWindowRect(window);
    Windows().MoveWindow(window, platform::Rect{x, y, x + outer.Width(), y + outer.Height()}, false);
}

// The engine's own visible, titled windows (window 0 among them): their
// places come back when fullscreen ends. Other programs' windows are never
// moved.
void SaveWindowPlacements() {
    saved_placements.clear();
    for (int number = 0; number < kWindowCount; ++number) {
        const WindowRecord* record = GetWindowRecord(number);
        if (record == nullptr || record->window == platform::kNoWindow || !Windows().IsWindow(record->window)) continue;
        if (!Windows().IsVisible(record->window) || record->title.empty()) continue;
        if (saved_placements.size() >= kMaxSavedPlacements) break;
        saved_placements.push_back(SavedPlacement{record->window, Windows().GetWindowRect(record->window)});
    }
}

void RestoreWindowPlacements() {
    for (const SavedPlacement& saved : saved_placements) {
        if (Windows().IsWindow(saved.window)) Windows().MoveWindow(saved.window, saved.rect, true);
    }
}


}  // namespace

size_t SavedPlacementCount() { return saved_placements.size(); }

void ResetDisplayModes() { saved_placements.clear(); }

std::optional<platform::DisplayMode> FindFullscreenMode(const std::function<bool(int, platform::DisplayMode&)>& mode,
                                                        int32_t monitor_width, int32_t monitor_height,
                                                        int32_t game_width, int32_t game_height,
                                                        int32_t bits_per_pixel) {
    if (monitor_height <= 0) return std::nullopt;
    const int64_t aspect = int64_t{monitor_width} * 1000 / monitor_height;
    std::optional<platform::DisplayMode> best;
    platform::DisplayMode candidate;
    for (int number = 0; number < kMaxDisplayModes && mode(number, candidate); ++number) {
        if (candidate.height <= 0) continue;
        if (int64_t{candidate.width} * 1000 / candidate.height != aspect) continue;
        if (candidate.width < game_width || candidate.height < game_height) continue;
        if (candidate.bits_per_pixel != bits_per_pixel) continue;
        if (!best || (candidate.width < best->width && candidate.height < best->height)) best = candidate;
    }
    return best;
}

int ComputeDisplaySize(int32_t game_width, int32_t game_height, int32_t display_width, int32_t display_height) {
    WindowSizing& sizing = TheWindowSizing();
    DisplayState& display = TheDisplayState();
    const int64_t gw = game_width, gh = game_height, dw = display_width, dh = display_height;
    // The display is at least as wide as the game's aspect (a game width of
    // 0 counts as 1).
    const double product = static_cast<double>(gh * dw);
    const bool wide = static_cast<double>(dh) <= product / static_cast<double>(gw == 0 ? 1 : gw);
    int64_t back_width = sizing.back_width, back_height = sizing.back_height;
    auto fit_height = [&] {
        display.scaling_mode = kPlacementFitHeight;
        back_width = gh != 0 ? gw * dh / gh : dh;
        back_height = dh;
    };
    auto fit_width = [&] {
        display.scaling_mode = kPlacementFitWidth;
        back_width = dw;
        back_height = gw != 0 ? gh * dw / gw : dw;
    };
    const int s = Settings().fullscreen_scaling;
    if (s == 1 || (display.maximized != 0 && display.fullscreen == 0)) {
        if (wide) fit_height(); else fit_width();
    } else if (s == 2) {
        if (wide) fit_width(); else fit_height();
    } else if (s == 3) {
        display.scaling_mode = kPlacementStretched;
        back_width = dw;
        back_height = dh;
    } else if (s == 0) {
        display.scaling_mode = kPlacementCentred;
        back_width = gw;
        back_height = gh;
    }
    if (s != 2) {
        const SystemFacts& facts = TheSystemFacts();
        if (facts.desktop_width < back_width || facts.desktop_height < back_height) {
            back_width = facts.desktop_width / 2;
            back_height = facts.desktop_height / 2;
        }
    }
    // Sizes outside 32 bits are not sizes any display has.
    if (back_width > INT32_MAX || back_height > INT32_MAX || back_width < 0 || back_height < 0) return 0;
    if (back_width == sizing.back_width && back_height == sizing.back_height && TheCpuBackBuffer().width == back_width &&
        TheCpuBackBuffer().height == back_height) {
        return 0;
    }
    sizing.back_width = static_cast<int32_t>(back_width);
    sizing.back_height = static_cast<int32_t>(back_height);
    ReallocateBackBuffer();
    return 0;
}

void ClearDisplayArea(WindowRecord& record) {
    if (record.window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    static constexpr std::array<uint8_t, 4> kBlack{};
    const DisplayState& display = TheDisplayState();
    if (display.display_width <= 0 || display.display_height <= 0) return;
    Windows().StretchBlit(record.window, platform::BlitArea{0, 0, display.display_width, display.display_height},
                          platform::DibPixels{kBlack, 1, 1}, platform::BlitArea{0, 0, 1, 1});
}

int SetScreenMode(int mode) {
    DisplayState& display = TheDisplayState();
    WindowRecord* record = MainWindowRecord();
    if (record == nullptr || record->window == platform::kNoWindow || !platform::HasWindowSystem()) return 0;
    if (mode == display.fullscreen) return 0;
    if (mode == 1) {
        display.fullscreen = 1;
        EnterFullscreen(*record);
    } else {
        LeaveFullscreen(*record);
        display.fullscreen = 0;
        display.maximized = 0;
    }
    return 1;
}

int EnterFullscreen(WindowRecord& record) {
    WindowSizing& sizing = TheWindowSizing();
    DisplayState& display = TheDisplayState();
    const WindowSizingHooks& hooks = TheWindowSizingHooks();
    const int monitor = FindWindowMonitor(record);
    sizing.device_index = monitor;
    SaveWindowPlacements();
    sizing.saved_display_width = display.display_width;
    sizing.saved_display_height = display.display_height;
    sizing.saved_back_width = sizing.back_width;
    sizing.saved_back_height = sizing.back_height;
    if (hooks.remove_menu_bar != nullptr) hooks.remove_menu_bar(record);

    int32_t display_width = sizing.monitor.width, display_height = sizing.monitor.height;
    if (Settings().fullscreen_mode_change != 0) {
        const auto mode = FindFullscreenMode(
            [monitor](int number, platform::DisplayMode& out) { return Windows().EnumDisplayMode(monitor, number, out); },
            sizing.monitor.width, sizing.monitor.height, record.client_width, record.client_height,
            display.fullscreen_bits_per_pixel);
        if (mode) {
            display_width = mode->width;
            display_height = mode->height;
        }
    }
    display.display_width = display_width;
    display.display_height = display_height;
    ComputeDisplaySize(record.client_width, record.client_height, display_width, display_height);

    const uint32_t style = (Windows().GetWindowStyle(record.window) | platform::WS_POPUP) & ~kFullscreenRemoved;
    Windows().SetWindowStyle(record.window, style);
    if (ApplyFullscreenMode(record, monitor) != 0) return 0;

    // The monitor in its new mode.
    FindWindowMonitor(record);
    MoveWindowTo(record.window, sizing.monitor.x, sizing.monitor.y);
    Windows().InvalidateWindow(record.window);
    Windows().SetCursorPos(MonitorCentre());
    if (hooks.rebuild_menu_bar != nullptr) hooks.rebuild_menu_bar(record);
    return 0;
}

int ApplyFullscreenMode(WindowRecord& record, int monitor) {
    DisplayState& display = TheDisplayState();
    const MonitorRect& monitor_rect = TheWindowSizing().monitor;
    if (GpuPath()) RequestDirect3dReset();
    bool found = false;
    bool switched = false;
    if (display.display_width == monitor_rect.width && display.display_height == monitor_rect.height) {
        // The desktop's own size: fullscreen without a mode change.
        found = true;
        switched = Windows().ChangeDisplayMode(record.window, monitor, nullptr);
    } else {
        platform::DisplayMode mode;
        for (int number = 0; number < kMaxDisplayModes && Windows().EnumDisplayMode(monitor, number, mode); ++number) {
            if (mode.width != display.display_width || mode.height != display.display_height ||
                mode.bits_per_pixel != display.fullscreen_bits_per_pixel) {
                continue;
            }
            found = true;
            switched = Windows().ChangeDisplayMode(record.window, monitor, &mode);
            break;
        }
    }
    if (switched) return 0;

    // Back to windowed, with the sizes from before (the picture of a
    // fullscreen back buffer has no place in the window).
    display.fullscreen = 0;
    PutBackSavedSizes();
    ReallocateBackBuffer();
    RestoreWindowedMode(record);
    if (!found) {
        ShowMessageBox("", Sjis("PC環境が %d x %d 解像度でのフルスクリーンに対応していません。"),
                       {int64_t{display.display_width}, int64_t{display.display_height}});
    } else {
        ReportEngineError(kErrFullscreenFailed, false);
    }
    return -1;
}

int LeaveFullscreen(WindowRecord& record) {
    const WindowSizingHooks& hooks = TheWindowSizingHooks();
    if (hooks.remove_menu_strip_menu != nullptr) hooks.remove_menu_strip_menu();
    PutBackSavedSizes();
    RestoreWindowedMode(record);
    if (GpuPath()) RequestDirect3dReset();
    ReallocateBackBuffer();
    TheWindowSizing().device_index = FindWindowMonitor(record);
    if (platform::HasWindowSystem()) Windows().SetCursorPos(MonitorCentre());
    RefreshMainWindowLimits();
    return 0;
}

void RestoreWindowedMode(WindowRecord& record) {
    if (record.window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    Windows().RestoreDisplayMode(record.window);
    if (QuitFlag.load() == 0) {
        uint32_t style = (Windows().GetWindowStyle(record.window) | kFullscreenRemoved) & ~platform::WS_POPUP;
        if (Settings().resizable == 0) style &= ~platform::WS_THICKFRAME;
        Windows().SetWindowStyle(record.window, style);
    }
    RestoreWindowPlacements();
    if (TheDisplayState().maximized != 0) {
        // The work area of the window's monitor.
        platform::MonitorInfo monitor;
        const platform::Rect work = Windows().GetMonitorInfo(TheWindowSizing().monitor_number, monitor)
                                        ? monitor.work_area
                                        : Windows().GetWorkArea();
        const int32_t x = work.left + work.Width() / 2 - record.client_width / 2;
        const int32_t y = work.top + work.Height() / 2 - record.client_height / 2;
        MoveWindowTo(record.window, x, y);
        Windows().PostMessage(record.window, platform::WM_SYSCOMMAND, platform::SC_RESTORE, 0);
    }
    const WindowSizingHooks& hooks = TheWindowSizingHooks();
    if (QuitFlag.load() == 0 && hooks.rebuild_menu_bar != nullptr) hooks.rebuild_menu_bar(record);
}

}  // namespace zk
