// The message loop between start-up and shutdown, the frame step that
// advances the engine by one frame, the frame pacer, the game-loop thread
// and the multimedia timer period.
#pragma once

#include <cstdint>

#include "core/game_thread.h"

namespace zk {

int8_t FrameStep();
uint8_t PaceFrame();

// Runs until WM_QUIT; returns the quit message's exit code.
int RunMainLoop();
// One drain of the message queue (game-thread rules applied).
void DrainMessages();
// A drain for a frame that waits for its messages (its thread is the
// caller, or waits for this main-thread call): every waiting message is
// dispatched, whatever the pacing section says; WM_QUIT is left for the
// main loop. Main thread only.
void DrainMessagesForFrame();

void StartGameThread();
// Ends the start-up hold: the window-procedure count starts at 1, so the
// game-loop thread's first frame waits in its pacing section until the main
// thread has pumped once. The main loop releases it after its first drain;
// shutdown releases it too, for a start-up that failed after the thread had
// started, so that thread can finish its frame and end. Main thread only;
// a second call does nothing.
void ReleaseStartupHold();
// Waits for the game-loop thread to end and joins it (shutdown).
void JoinGameThread();
void BeginTimerPeriod();
void EndTimerPeriod();

// Developer and test aid: stop after this many frames (0 = no limit). While
// a limit is set, late frames never skip their drawing, so a run shows the
// same frames however loaded the machine is.
void SetFrameLimit(uint64_t frames);
uint64_t FrameLimit();

// Back to the start-of-process state (tests that run several engines).
void ResetMainLoopState();

// Whether the game-loop thread mode is on (zkcfg.zbn switch).
bool GameThreadMode();

}  // namespace zk
