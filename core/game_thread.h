// Which thread runs the frame, and the pacing section through which the
// game-loop thread lets the main thread run window procedures. The loop
// itself is engine/main_loop.h; this is the part the script machine's waits
// need too.
#pragma once

namespace zk {

// Marks the calling thread as the game-loop thread (its first step).
void MarkGameLoopThread();
// True on the game-loop thread itself.
bool OnGameLoopThread();

// The pacing section: the part of a frame in which the game-loop thread
// sleeps and the main thread may run window procedures. On the game-loop
// thread, LeavePacingSection returns only once no window procedure runs
// (and none can start until the section opens again); elsewhere it only
// lowers the flag.
void EnterPacingSection();
void LeavePacingSection();

}  // namespace zk
