// The menu bar as the engine draws it: a strip of captions across the top
// of a window (the window system keeps the picture and places the strip).
// A caption is its text (mnemonic '&' marks left out) between paddings,
// drawn with the engine's glyphs; a click on a caption opens its submenu
// below it.
//
// Threading: any thread; the glyphs are drawn under a lock of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui.h"
#include "platform/window_system.h"

namespace zk {

// The strip's height in pixels: one menu bar.
inline constexpr int32_t kMenuStripHeight = 20;

// Where each caption of a bar lies along the strip (x from the window's
// left edge), in the bar's order.
struct MenuBarCaption {
    int32_t left = 0, right = 0;
};
std::vector<MenuBarCaption> LayOutMenuBar(const std::vector<platform::PopupMenuItem>& bar);

// The bar item under strip x, or -1 (between or past the captions, or a
// separator).
int HitMenuBarCaption(const std::vector<platform::PopupMenuItem>& bar, int32_t x);

// A caption as shown: "&File" is "File", "&&" is one '&'.
std::string MenuCaptionLabel(std::string_view caption);

// The strip's picture: as wide as its captions (at least one pixel),
// kMenuStripHeight rows, B, G, R, X.
platform::ClientImage DrawMenuBarStrip(const std::vector<platform::PopupMenuItem>& bar);

}  // namespace zk
