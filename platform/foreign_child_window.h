// A window made inside another program's window: the desktop's small
// screen-saver preview, which hands over its own window by number. The
// window fills its parent, is black, shows one picture at its own size in
// the top left corner, and reports its paints and its end (the desktop
// destroying it, or its parent).
//
// Threading: the main thread.
#pragma once

#include <cstdint>
#include <span>

namespace zk::platform {

enum class ForeignWindowEvent : uint8_t {
    kPaint,          // the window needs its picture again
    kDestroyed,      // the window is gone (it, or its parent, was destroyed)
    kStopRequested,  // SIGINT or SIGTERM arrived while waiting
};

class ForeignChildWindow {
public:
    virtual ~ForeignChildWindow() = default;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    // `pixels`: width × height, 0x00RRGGBB, the top row first; drawn at the
    // top left, the rest of the window stays black. Nothing is drawn once
    // the window is gone.
    virtual void DrawPicture(std::span<const uint32_t> pixels, int32_t width, int32_t height) = 0;
    // Waits for the next event (a stop signal ends the wait too).
    virtual ForeignWindowEvent WaitEvent() = 0;
};

}  // namespace zk::platform
