// The window commands: 105 configures one of the four windows (creating
// windows 1 to 3 on first use), 106 hides a sub window, 107 reads a window
// property into a variable. The shape of window 0 comes from a layer's
// picture: every run of pixels that is not black is part of the window.
//
// Threading: the handlers run on the script's thread; everything they do
// to windows runs on the main thread (CallOnMainThread).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/window_system.h"

namespace zk {

struct CgImage;
struct WindowRecord;

inline constexpr uint8_t kCmdConfigureWindow = 105;
inline constexpr uint8_t kCmdHideWindow = 106;
inline constexpr uint8_t kCmdGetWindowProperty = 107;

// A window shape takes at most this many rectangles.
inline constexpr size_t kMaxRegionRectangles = 1999;

int32_t CmdConfigureWindow();
int32_t CmdHideWindow();
int32_t CmdGetWindowProperty();

// The rectangles of every maximal run of pixels, row by row, whose blue,
// green and red are not all 0 (alpha is not looked at), for a picture of
// B, G, R, A pixels, top row first, `width` * 4 bytes a row. None when the
// shape needs more than kMaxRegionRectangles, or the bytes do not hold
// the picture.
std::optional<std::vector<platform::Rect>> BuildRegionFromBitmap(std::span<const uint8_t> pixels, int32_t width,
                                                                int32_t height);
// Window 0's shape from the image's pixels: 0, or -1 when the image has no
// pixel block or the shape has no region.
int SetWindowShapeFromImage(platform::WindowHandle window, const CgImage& image);
// A title as a window keeps it: at most 262 bytes, never ending inside a
// Shift-JIS character; an empty one becomes " ".
std::string_view CutWindowTitle(std::string_view title);

void RegisterWindowCommands();

}  // namespace zk
