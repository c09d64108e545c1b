// Pictures of what a player would see, as PNG files: the way tests, CI and
// the headless run look at a window's client area.
//
// Threading: WriteWindowPng reads the window system (main thread only);
// WriteBgrxPng may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/window_system.h"

namespace zk::platform {

// Writes B, G, R, X pixels, top row first with `pitch` bytes from row to
// row, as an opaque 8-bit RGB PNG file (the X bytes are dropped). The path
// is a host path (UTF-8). False when the arguments do not describe the
// pixels or the file cannot be written (a partial file is removed).
bool WriteBgrxPng(const std::string& path, int32_t width, int32_t height, std::span<const uint8_t> pixels,
                  size_t pitch);

// Writes the window's client area as last drawn (ReadClientPixels).
bool WriteWindowPng(WindowSystem& windows, WindowHandle window, const std::string& path);

}  // namespace zk::platform
