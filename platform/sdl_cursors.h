// SDL pointers for the engine's cursor shapes and colour cursors. SDL has
// no up-arrow and no help pointer: those two are small colour cursors of
// our own.
#pragma once

#include <memory>

#include "platform/window_system.h"

struct SDL_Cursor;

namespace zk::platform {

struct SdlCursorFree {
    void operator()(SDL_Cursor* cursor) const;
};
using SdlCursorPtr = std::unique_ptr<SDL_Cursor, SdlCursorFree>;

// Null when SDL cannot make it (no video, no memory).
SdlCursorPtr MakeSdlCursor(PointerShape shape);
SdlCursorPtr MakeSdlColorCursor(const CursorImage& image);

// Our own pointer pictures (tests look at them): 16 x 16, hotspot set.
CursorImage OwnCursorImage(PointerShape shape);

}  // namespace zk::platform
