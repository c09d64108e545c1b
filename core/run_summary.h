// How a run ended, for the launcher's closing line on stderr:
//
//   zorvek: 60 frames, frame limit reached
//   zorvek: 12 frames, stopped by the game
//   zorvek: 1 frame, stopped by fatal error 100070
//
// The places that make the engine stop note why (the first note of a run
// stays: whatever follows is a consequence), and the launcher turns the
// note and the frame count into one line when the engine has ended.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

enum class StopCause : uint8_t {
    kNone,
    kFrameLimit,    // the --frames budget ran out
    kGame,          // a frame's script or drawing raised the quit
    kCloseRequest,  // the window system asked to close (a player, a script-less close)
    kFatalError,    // a fatal numbered error
    kSignal,        // SIGINT or SIGTERM
};

// Notes why the engine stops; a cause noted earlier in the run stays.
// Any thread.
void NoteStopCause(StopCause cause);
// A fatal numbered error (not the credits notice): the cause, with its number.
void NoteFatalError(uint32_t code);
StopCause TheStopCause();
// The number of the fatal error that stopped the run (0: none).
uint32_t StopErrorCode();
// Back to the start-of-run state (tests that run several engines).
void ResetStopCause();

// What the closing line is made of.
struct RunEndFacts {
    uint64_t frames = 0;         // the engine's frame count at the end
    bool main_loop_ran = false;  // start-up reached the main loop
    bool startup_failed = false;
    std::string startup_note;    // UTF-8: why start-up ended (failed or not); may be empty
    StopCause cause = StopCause::kNone;
    uint32_t error_code = 0;     // with kFatalError
    int signal_number = 0;       // with kSignal (0: not known)
};

// The closing line, without its line break:
//   "zorvek: <n> frame[s], <how>"
// where <how> is one of
//   frame limit reached
//   stopped by the game
//   stopped by a close request
//   stopped by fatal error <number>
//   stopped by SIGINT | stopped by SIGTERM | stopped by signal <n>
//   start-up failed[: <note>]     (the note, or the fatal error that failed it)
//   ended at start-up[: <note>]   (a handled switch, another engine running)
std::string DescribeRunEnd(const RunEndFacts& facts);

}  // namespace zk
