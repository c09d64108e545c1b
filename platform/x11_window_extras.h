// What SDL cannot do for a window and X11 can: the aspect-ratio hint that
// keeps a window's shape while the user drags its frame, restacking below
// the top (to the bottom, or just behind another window) and the window
// shape. Each does nothing (false) when the window is not an X11 window
// (Wayland, the dummy driver): there the window system only records them.
//
// Threading: the main thread (SDL's video thread).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/foreign_child_window.h"
#include "platform/window_system.h"

struct SDL_Window;

namespace zk::platform {

// The X11 window id of an SDL window; 0 when it is no X11 window.
uint64_t X11WindowId(SDL_Window* window);
// Aspect width : height for user resizing; 0 for either clears the hint.
bool X11SetAspectHint(SDL_Window* window, int32_t aspect_width, int32_t aspect_height);
// top: to the top; else behind `behind`, or to the bottom when it is null.
bool X11Restack(SDL_Window* window, SDL_Window* behind, bool top);
// The union of the client rectangles becomes the window's shape; null
// gives the whole window back.
bool X11SetShape(SDL_Window* window, const std::vector<Rect>* rectangles);

// A child window filling the X11 window `parent` (an id on the display of
// $DISPLAY, through a connection of its own); null when no X server answers
// or `parent` is no window there. Defined in x11_foreign_window.cpp.
std::unique_ptr<ForeignChildWindow> CreateX11ForeignChildWindow(uint64_t parent, std::string_view class_name);

}  // namespace zk::platform
