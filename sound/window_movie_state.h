// What the engine keeps of the movie played in the window (commands 70..72)
// that other movie commands read too: the layer movie's command 73 sets the
// stored size and 75 answers the playing byte, the height and the volume.
//
// Threading: the script's thread (main or game-loop), except the playing
// byte, which the main thread's window procedure clears when the movie ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace zk {

struct WindowMovieState {
    std::string path;  // the name from command 70, lower-cased, '\' separators
    int32_t x = 0, y = 0, w = 0, h = 0;  // game-screen pixels
    int32_t volume = 256;                // 0..256
    std::atomic<uint8_t> playing{0};
    uint8_t use_vmr9 = 1;  // the user setting; nothing here depends on it
};
WindowMovieState& TheWindowMovieState();

// The probe of command 72 (and 75): the first 5 bytes of the file named
// (lower-cased, '/' made '\') below the current folder. 0 when it cannot be
// opened, 1 for an MPEG-1 pack header (00 00 01 BA, then 0x20..0x2F), 2 for
// an MPEG-2 one (00 00 01 BA, then 0x40..0x7F), 255 for anything else
// (also a file under 5 bytes).
int32_t ProbeMovieFile(std::string_view name);

}  // namespace zk
