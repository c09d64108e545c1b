#include "engine/menu_strip.h"

#include <atomic>
#include <vector>

#include "core/main_thread_calls.h"
#include "core/window_record.h"
#include "layers/cg_image.h"
#include "layers/dirty_rect.h"
#include "platform/ui.h"
#include "platform/window_messages.h"
#include "platform/window_system.h"
#include "renderer/display_state.h"
#include "system/menu_bar_strip.h"
#include "system/menus.h"

namespace zk {

namespace {

std::atomic<bool> fullscreen_strip_shown{false};

void ShowOverlay(platform::WindowHandle window, bool shown) {
    CallOnMainThread([window, shown] {
        if (platform::HasWindowSystem()) platform::GetWindowSystem().ShowMenuStrip(window, shown);
    });
}

}  // namespace

void ApplyWindowMenuBar(WindowRecord& record) {
    const platform::WindowHandle window = record.window;
    if (window == platform::kNoWindow) return;
    std::vector<platform::PopupMenuItem> bar = WindowMenuBar(record.number);
    const bool main_window = record.number == 0;
    CallOnMainThread([window, main_window, &bar] {
        if (!platform::HasWindowSystem()) return;
        platform::WindowSystem& windows = platform::GetWindowSystem();
        if (bar.empty()) {
            windows.SetMenuStrip(window, 0, false);
            return;
        }
        // In fullscreen the bar lies over the picture and waits for the
        // pointer (UpdateFullscreenMenuStrip).
        const bool overlay = windows.IsFullscreen(window);
        windows.DrawMenuStrip(window, DrawMenuBarStrip(bar));
        windows.SetMenuStrip(window, kMenuStripHeight, overlay);
        if (overlay && main_window && fullscreen_strip_shown.load()) windows.ShowMenuStrip(window, true);
    });
}

void RemoveWindowMenuBar(WindowRecord& record) {
    const platform::WindowHandle window = record.window;
    if (record.number == 0) fullscreen_strip_shown.store(false);
    if (window == platform::kNoWindow) return;
    CallOnMainThread([window] {
        if (platform::HasWindowSystem()) platform::GetWindowSystem().SetMenuStrip(window, 0, false);
    });
}

bool FullscreenMenuStripShown() { return fullscreen_strip_shown.load(); }

void UpdateFullscreenMenuStrip() {
    WindowRecord* main_record = MainWindowRecord();
    if (main_record == nullptr || main_record->window == platform::kNoWindow) return;
    const platform::WindowHandle window = main_record->window;
    if (TheDisplayState().fullscreen == 0) {
        if (fullscreen_strip_shown.exchange(false)) ShowOverlay(window, false);
        return;
    }
    int32_t y = main_record->mouse_y;
    if (y < kMenuStripHeight) {
        if (!fullscreen_strip_shown.load() && !WindowMenuBar(0).empty()) {
            fullscreen_strip_shown.store(true);
            ShowOverlay(window, true);
        }
        // The strip is measured on the screen, not in game pixels.
        platform::Point at{0, y};
        bool known = false;
        CallOnMainThread([window, &at, &known] {
            known = platform::HasWindowSystem() && platform::GetWindowSystem().GetCursorClientPos(window, at);
        });
        if (known) y = at.y;
    }
    if (y >= kMenuStripHeight && fullscreen_strip_shown.exchange(false)) {
        ShowOverlay(window, false);
        // The picture under the strip is drawn again.
        if (CgImage* image = LayerImage(main_record->shown_layer_set)) image->whole_dirty = 1;
    }
}

void OnMenuStripPress(WindowRecord& record, int64_t lparam) {
    const int32_t x = static_cast<int16_t>(lparam & 0xFFFF);
    const std::vector<platform::PopupMenuItem> bar = WindowMenuBar(record.number);
    const int hit = HitMenuBarCaption(bar, x);
    if (hit < 0 || record.window == platform::kNoWindow || !platform::HasWindowSystem()) return;
    const platform::PopupMenuItem& item = bar[static_cast<size_t>(hit)];
    if (!item.enabled) return;
    uint32_t chosen = 0;
    if (item.kind == platform::PopupMenuItem::Kind::kSubmenu) {
        const MenuBarCaption caption = LayOutMenuBar(bar)[static_cast<size_t>(hit)];
        platform::PopupMenuRequest request;
        request.owner = record.window;
        request.items = item.children;
        request.below_rect = true;
        // The strip is the host window's top rows, docked or overlaid.
        request.rect_x = caption.left;
        request.rect_y = 0;
        request.rect_width = caption.right - caption.left;
        request.rect_height = kMenuStripHeight;
        chosen = platform::GetUi().PopupMenu(request);
    } else {
        chosen = item.id;
    }
    if (chosen == 0) return;  // dismissed: the bar sends nothing
    platform::WindowSystem& windows = platform::GetWindowSystem();
    // A fullscreen bar belongs to the strip window, whose procedure takes
    // its choices; a window's own bar posts to the window.
    const platform::WindowHandle strip = MenuStripWindow();
    const bool overlaid = record.number == 0 && windows.IsFullscreen(record.window) && strip != platform::kNoWindow;
    windows.PostMessage(overlaid ? strip : record.window, platform::WM_COMMAND, chosen, 0);
}

void ResetMenuStrip() { fullscreen_strip_shown.store(false); }

}  // namespace zk
