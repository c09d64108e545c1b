// The CPU presentation: how each window's composed picture (the image of
// its root layer) reaches the screen. The frame step asks every window to
// repaint (RequestWindowPaint); the window procedure answers the paint
// message with PresentWholeWindow. The main window in fullscreen,
// maximized or resized state is first scaled into the CPU back buffer and
// copied 1:1; otherwise the picture is copied unscaled, only the rectangle
// that changed.
//
// Threading: RequestWindowPaint runs in the frame step (either thread; its
// window calls are handed to the main thread); the presentation runs on
// the main thread inside the window procedure, between frames, so its
// threaded scalers may post to the workers.
#pragma once

#include <cstdint>

namespace zk {

struct WindowRecord;
struct CgImage;

// Where the picture starts in the main window's client area: half the
// display area's margin around the back buffer in fullscreen or maximized
// state (truncated toward zero), (0, 0) when windowed. Input mapping,
// window sizing, the movie windows, menus and the cursor read it; only the
// presentation writes it, and it keeps its last values between
// presentations.
struct LetterboxOffset {
    int32_t x = 0;
    int32_t y = 0;
};
LetterboxOffset& TheLetterboxOffset();

// A window that is hidden, has no root layer or image, or whose root image
// is hidden is painted black over (0, 0, W, client height), W the client
// width rounded down to a multiple of 4, plus 4, every frame. A window
// whose root image changed is invalidated so that its paint message
// presents it. Returns the engine quit flag.
int RequestWindowPaint(WindowRecord& record);

// Presents the window's whole root image, then marks it changed so that
// the next frame asks for a repaint again. Nothing without a root image.
void PresentWholeWindow(WindowRecord& record);

// Presents the image's presented rectangle (inclusive; empty: nothing).
void PresentWindowImage(WindowRecord& record, CgImage& image);

}  // namespace zk
