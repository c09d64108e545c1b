// Window sizing: the main window keeps the game's aspect while it is
// resized, its CPU back buffer follows the client size, and the sizes that
// describe the picture (display size, back-buffer size) and the monitor
// that holds the window are kept here. The window procedure routes the
// sizing messages of every window here (WM_SIZING, WM_SIZE,
// WM_GETMINMAXINFO, WM_WINDOWPOSCHANGED, WM_MOVE); sub windows are only
// kept at their own client size.
//
// Threading: the main thread (the window procedure, and the window
// commands through CallOnMainThread).
#pragma once

#include <cstdint>
#include <string>

#include "platform/window_system.h"

namespace zk {

struct WindowRecord;

// The monitor that holds the centre of window 0.
struct MonitorRect {
    int32_t x = 0, y = 0;
    int32_t width = 0, height = 0;
};

struct WindowSizing {
    // The size of the picture in the CPU back buffer (BackBufferSize).
    int32_t back_width = 0, back_height = 0;
    // Kept for the way back from maximized or fullscreen (0: none kept).
    int32_t saved_display_width = 0, saved_display_height = 0;
    int32_t saved_back_width = 0, saved_back_height = 0;
    // A style change: the border before it, and the byte that keeps the
    // client area in place at the next size message.
    int32_t border_width_before = 0, border_height_before = 0;
    uint8_t style_changed = 0;
    // Set by the restore command; the next position change puts the sizes
    // kept from before the maximize back.
    uint8_t restore_pending = 0;
    MonitorRect monitor;
    int32_t device_index = 0;  // the display (monitor) index; 0 when not found
    int32_t monitor_number = 0;  // the window system's monitor of the window
};
WindowSizing& TheWindowSizing();

// What other subsystems plug into sizing and the display-mode switch
// (empty: that subsystem is not in this build).
struct WindowSizingHooks {
    // The Flash child window and the window movie follow the picture: each
    // gets its rectangle for the current scales (PlaceFlashWindow,
    // PlaceWindowMovie compute it).
    bool (*flash_movie_rect)(platform::Rect& movie) = nullptr;  // false: no Flash window
    void (*move_flash_window)(const platform::Rect& placed) = nullptr;
    bool (*window_movie_rect)(platform::Rect& movie) = nullptr;  // false: no window movie plays
    void (*move_window_movie)(const platform::Rect& placed) = nullptr;  // and its video window
    // The model players follow a new window size.
    void (*emote_follow_size)() = nullptr;
    // The main window's menu bar in and out of fullscreen (menus).
    void (*remove_menu_bar)(WindowRecord& record) = nullptr;
    void (*rebuild_menu_bar)(WindowRecord& record) = nullptr;
    void (*remove_menu_strip_menu)() = nullptr;
    // Command 105's menu set (empty name: no menu); false on failure.
    bool (*set_window_menu_bar)(WindowRecord& record, const std::string& name) = nullptr;
};
WindowSizingHooks& TheWindowSizingHooks();

// Border of a window (outer minus client size) for its own style, or for
// `style` when it is not 0.
struct BorderSize {
    int32_t width = 0, height = 0;
};
BorderSize GetFrameBorderSize(platform::WindowHandle window, uint32_t style = 0);

// The game's aspect, width / height: 1 when either is 0 or less.
double GameAspect(int32_t game_width, int32_t game_height);
// A double as an int32: truncated toward zero, clamped, NaN as 0.
int32_t TruncToInt(double value);

// The dragged rectangle corrected to the game's aspect (`aspect`) for the
// edge or corner being dragged (WMSZ_*), `border` its frame.
platform::Rect SizingRect(uint64_t edge, platform::Rect rect, double aspect, BorderSize border);

// The size limits of window 0 for a game size, a desktop size and its
// border: outer track sizes.
struct TrackSizes {
    platform::Point min_track, max_track;
};
TrackSizes ComputeTrackSizes(int32_t game_width, int32_t game_height, int32_t desktop_width, int32_t desktop_height,
                             BorderSize border);

void OnSizing(WindowRecord& record, uint64_t edge, int64_t lparam);
void OnGetMinMaxInfo(WindowRecord& record, int64_t lparam);
void OnSize(WindowRecord& record, uint64_t wparam, int64_t lparam);
void OnWindowPosChanged(WindowRecord& record, int64_t lparam);
void OnMove(WindowRecord& record, int64_t lparam);
void OnMaximizeCommand(WindowRecord& record);
void OnRestoreCommand(WindowRecord& record);

// The monitor of window 0's centre becomes `MonitorRect` (and the desktop
// size); returns the window system's monitor number.
int FindWindowMonitor(WindowRecord& record);
// Notes the border before a style change and sets the style-changed byte.
void NoteStyleChange(WindowRecord& record);
// Reallocates the CPU back buffer for the back-buffer size (nothing for a
// size of 0). False after its report.
bool ReallocateBackBuffer();
// Asks window 0 for its size limits again (game size, border or monitor changed).
void RefreshMainWindowLimits();

// The Flash window and the window movie placed for the scales.
// The display and back-buffer sizes kept from before fullscreen or a
// maximize come back (and are forgotten); a size never kept stays.
void PutBackSavedSizes();
void PlaceFlashWindow(double scale_x, double scale_y);
void PlaceWindowMovie(double scale_x, double scale_y);

// Start-up, once window 0 exists: display size = game size, back-buffer
// size as start-up allocated it, the monitor, the size limits.
void InitWindowSizing(int32_t back_width, int32_t back_height);
void RegisterWindowSizingHooks();
void ResetWindowSizing();

}  // namespace zk
