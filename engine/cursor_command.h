// Command 69: the mouse cursor's mode (hidden, auto-hide, shown), its
// auto-hide delay and wake conditions, moves to a game position, system
// shapes and colour cursors from a layer.
#pragma once

#include <cstdint>

#include "platform/window_system.h"

namespace zk {

inline constexpr uint8_t kCmdSetCursor = 69;

// Keyword 7's shape numbers: 1..13 as the table below, anything else the
// arrow.
platform::PointerShape CursorShapeByNumber(int64_t number);

// The client position of a game coordinate in window 0: scaled from the
// game screen to the back buffer, then moved by the letterbox offset (the
// inverse of the input poll's mapping).
int32_t GameToClient(int64_t game, int32_t offset, int32_t back_buffer_side, int32_t game_side);

// A layer cursor's hotspot on one axis: the keyword's low 16 bits
// (unsigned), kept inside a picture `side` pixels long.
int32_t CursorHotspot(int64_t value, int32_t side);

int32_t CmdSetCursor();
void RegisterCursorCommand();

}  // namespace zk
