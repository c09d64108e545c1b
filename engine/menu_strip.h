// The window menu bar on screen: each window's bar becomes the window
// system's menu strip (docked above the client area; over the picture's
// top rows in fullscreen, shown while the pointer is at the top of the
// screen), and a press on a caption opens its submenu below it.
//
// Threading: ApplyWindowMenuBar and RemoveWindowMenuBar run on any thread
// (their window calls go to the main thread); OnMenuStripPress runs on the
// main thread (the window procedure); UpdateFullscreenMenuStrip runs in the
// frame step. The strip's shown flag is atomic: the input poll reads it.
#pragma once

#include <cstdint>

namespace zk {

struct WindowRecord;

// Puts the window's current bar (system/menus.h) on its window, or takes
// the strip away when it has none. A fullscreen window gets the strip
// overlaid and hidden.
void ApplyWindowMenuBar(WindowRecord& record);
// Takes the strip off the window (the bar itself is kept).
void RemoveWindowMenuBar(WindowRecord& record);

// The frame step's look at the pointer in fullscreen: the strip shows while
// the main window's mouse y is above the strip's lower edge and the bar
// exists, and hides (the shown layer drawn again whole) once it leaves.
void UpdateFullscreenMenuStrip();
bool FullscreenMenuStripShown();

// WM_NCLBUTTONDOWN with HTMENU (lparam: the client point): the caption
// under the press opens its submenu below it, and the choice arrives as
// WM_COMMAND (to the strip window in fullscreen). A caption without a
// submenu is chosen at once. Main thread.
void OnMenuStripPress(WindowRecord& record, int64_t lparam);

void ResetMenuStrip();

}  // namespace zk
