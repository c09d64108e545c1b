// Display modes, fullscreen and windowed: window 0 becomes a pop-up that
// covers its monitor, in the smallest display mode of the monitor's aspect
// that holds the game screen when the mode-change setting asks for one;
// the placements of the engine's other windows are kept and put back; the
// picture's scaling into the back buffer is decided here.
//
// Threading: the main thread (the window commands come through
// CallOnMainThread).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/window_system.h"

namespace zk {

struct WindowRecord;

// Mode 1 fullscreen, 0 windowed: 1 when it switched, 0 when window 0 is
// already in that state.
int SetScreenMode(int mode);
int EnterFullscreen(WindowRecord& record);
int LeaveFullscreen(WindowRecord& record);
// 0 switched, -1 failed (back in windowed state, with its message).
int ApplyFullscreenMode(WindowRecord& record, int monitor);
void RestoreWindowedMode(WindowRecord& record);

// The back-buffer size and the placement for a game size shown on a
// display size, by the fullscreen scaling setting; the back buffer is
// reallocated when its size changed. Always 0.
int ComputeDisplaySize(int32_t game_width, int32_t game_height, int32_t display_width, int32_t display_height);

// The display mode fullscreen switches to: of the monitor's modes (`mode`
// as EnumDisplaySettings numbers them, at most 10000) with the monitor's
// aspect (per mille, integer), at least the game size and at the depth,
// the first found, replaced by a later one only when both its width and
// height are smaller.
std::optional<platform::DisplayMode> FindFullscreenMode(const std::function<bool(int, platform::DisplayMode&)>& mode,
                                                        int32_t monitor_width, int32_t monitor_height,
                                                        int32_t game_width, int32_t game_height,
                                                        int32_t bits_per_pixel);

// Paints the display area of window 0 black.
void ClearDisplayArea(WindowRecord& record);

// The engine windows whose placement fullscreen keeps (at most 1024).
inline constexpr size_t kMaxSavedPlacements = 1024;
size_t SavedPlacementCount();

void ResetDisplayModes();

}  // namespace zk
