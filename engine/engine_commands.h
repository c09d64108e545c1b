// Commands that act on the engine as a whole: 13 ends the program (and may
// ask for a restart), 28 sets the frame rate and frame skipping, 51 does
// nothing, 93 sets the screen-saver suppression, the keep-running switch and
// the game screen's size, and stops or resumes the four game timers.
#pragma once

#include <atomic>
#include <cstdint>

namespace zk {

inline constexpr uint8_t kCmdEndProgram = 13;
inline constexpr uint8_t kCmdSetFrameRate = 28;
inline constexpr uint8_t kCmdNoOperation51 = 51;
inline constexpr uint8_t kCmdSetScreenAndTimers = 93;

// The screen-saver request of the window system is refused while this is
// set (and the build is not the screen saver). Written by the script
// thread, read by the window procedure on the main thread.
extern std::atomic<uint8_t> ScreenSaverSuppressed;

int32_t CmdEndProgram();
int32_t CmdSetFrameRate();
int32_t CmdNoOperation51();
int32_t CmdSetScreenAndTimers();

void SetFrameRate(int32_t frames_per_second);
// Command 93's new game screen size (main thread): window 0's record takes
// it; fullscreen or maximized, the back buffer is computed again for the
// display and the display area painted black; windowed, the display and
// back buffer take the size and the client area follows it.
void SetGameScreenSize(int32_t width, int32_t height);

// Timer 1..4 stops (its enable byte cleared, the stop time noted) or
// resumes (the stopped interval added to its own accumulator). A timer
// already in the asked state does not change.
void StopPauseTimer(int timer, uint32_t now);
void ResumePauseTimer(int timer, uint32_t now);

void RegisterEngineCommands();
// Back to the start-of-run state (tests).
void ResetEngineCommandState();

}  // namespace zk
