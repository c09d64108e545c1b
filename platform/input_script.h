// Scripted input for the headless window system: what a player does, frame
// by frame, so tests and `zorvek --headless --input FILE` drive the engine
// as a player would.
//
// The text format, one event a line (blank lines and lines starting with
// '#' are skipped):
//
//     <frame> key <KEY> down|up       a key (VirtualKeyFromName: A, 7, F1,
//                                     Return, Space, Escape, LShift, 13, ...)
//     <frame> key <KEY>               pressed at this frame, released at the next
//     <frame> move <x> <y>            the pointer to this point of the main
//                                     window's client area
//     <frame> button <B> down|up      B: left, right, middle, x1, x2
//     <frame> click <x> <y>           move, left down; left up at the next frame
//     <frame> wheel <n>               n notches, positive away from the user
//     <frame> joy <j> axis x|y <v>    joystick j (0..15), v 0..65535 (32767 centred)
//     <frame> joy <j> button <b> down|up      b 1..32
//     <frame> drop <path>             a dropped file or folder (the rest of the
//                                     line); the drop lines of one frame make one drop
//     <frame> activate | deactivate   the main window gains / loses the focus
//     <frame> close                   the main window's close button
//     <frame> text <text>             text typed into the main window (the
//                                     rest of the line, UTF-8)
//     <frame> compose <text>          the input method's composition so far
//
// Frames count from 1, as the engine counts them: the events of frame N
// are there for frame N's input poll. Lines need not be in frame order;
// events of one frame happen in line order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zk::platform {

struct InputEvent {
    enum class Kind {
        kKeyDown,         // a: virtual key
        kKeyUp,           // a: virtual key
        kMouseMove,       // a, b: client point
        kButtonDown,      // a: 1 left, 2 right, 4 middle, 5 and 6 the side buttons
        kButtonUp,        // a: as kButtonDown
        kWheel,           // a: delta, 120 a notch
        kJoystickAxis,    // a: joystick, b: 0 x, 1 y, c: 0..65535
        kJoystickButton,  // a: joystick, b: button 0..31, c: 1 down, 0 up
        kDrop,            // files
        kActivate,
        kDeactivate,
        kClose,
        kText,     // files[0]: text typed (UTF-8), committed
        kCompose,  // files[0]: the input method's composition in progress
    };
    uint64_t frame = 0;
    Kind kind = Kind::kKeyDown;
    int32_t a = 0, b = 0, c = 0;
    std::vector<std::string> files;

    bool operator==(const InputEvent&) const = default;
};

// The events of a script, in frame order (line order within a frame), the
// drop lines of a frame merged into one event. nullopt on the first bad
// line, with `error` naming it ("line 3: ...").
std::optional<std::vector<InputEvent>> ParseInputScript(std::string_view text, std::string& error);
// The same from a file (a host path); a file that cannot be read is an error too.
std::optional<std::vector<InputEvent>> ReadInputScript(const std::string& host_path, std::string& error);

}  // namespace zk::platform
