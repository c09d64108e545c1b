// Flash movies (commands 22 open, 23 close, 24 query). No Flash player
// exists for this system, so the control is never created: the engine takes
// the path of a control that cannot be made, as on a system without the
// player. Command 22 checks the file and keeps the movie's state (name,
// area, user value, open flag) with total frames 0; no child window is made
// (nothing would be drawn in it) and no box is shown; the questions about
// the control (playing, current frame, variables) answer 0.
//
// Threading: the script's thread.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

inline constexpr uint8_t kCmdOpenFlashMovie = 22;
inline constexpr uint8_t kCmdCloseFlashMovie = 23;
inline constexpr uint8_t kCmdQueryFlashMovie = 24;

struct FlashMovie {
    std::string file;  // lower-cased, '\' separators
    bool open = false;
    int32_t total_frames = 0;
    int64_t user_value = 0;
    int32_t x = 0, y = 0, w = 0, h = 0;  // game-screen pixels
    int32_t use_count = 0;               // controls created (none can be)
};
FlashMovie& TheFlashMovie();

// The player's control for `path`: its total frames, 0 when it cannot be
// created (always here).
int32_t CreateFlashControl(std::string_view path);
void ReleaseFlashControl();
int32_t FlashIsPlaying();
int32_t FlashCurrentFrame();
int32_t FlashAskVariable(std::string_view name);

int32_t CmdOpenFlashMovie();
int32_t CmdCloseFlashMovie();
int32_t CmdQueryFlashMovie();

void RegisterFlashCommands();
void ResetFlashMovie();

}  // namespace zk
