// The main window's display state as the presentation reads it: whether it
// is fullscreen or maximized, the size of the area the picture is shown in,
// and how the picture is scaled into the back buffer. Window sizing and the
// display-mode switch keep it up to date; until either has run the main
// window is windowed.
//
// Threading: the main thread (window procedure and display-mode changes).
#pragma once

#include <cstdint>

namespace zk {

// How the fullscreen picture is scaled into the back buffer.
enum FullscreenPlacement : int32_t {
    kPlacementCentred = 0,  // no scaling: the back buffer has the game-screen size
    kPlacementFitWidth = 1,
    kPlacementFitHeight = 2,
    kPlacementStretched = 3,
};

struct DisplayState {
    uint8_t fullscreen = 0;
    uint8_t maximized = 0;
    // The display area: the fullscreen display mode's size, or the
    // maximized main window's client size.
    int32_t display_width = 0;
    int32_t display_height = 0;
    int32_t scaling_mode = kPlacementCentred;
    // The colour depth fullscreen display modes must have: the desktop's,
    // taken at start-up.
    int32_t fullscreen_bits_per_pixel = 32;
};

inline DisplayState& TheDisplayState() {
    static DisplayState state;
    return state;
}

}  // namespace zk
