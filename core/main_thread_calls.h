// Work that must run on the main thread (SDL windows and dialogs), asked for
// from the game-loop thread. The caller waits until the main thread has run
// it; on the main thread itself the work runs at once.
#pragma once

#include <functional>

namespace zk {

// Marks the calling thread as the main thread (start of the program entry).
void MarkMainThread();
bool OnMainThread();

// Runs `work` on the main thread and waits for it. The main loop serves
// these requests on every pass, whatever the message-drain rules say, so a
// report in the middle of a frame cannot wait for a drain that waits for
// the frame.
void CallOnMainThread(const std::function<void()>& work);

// Runs every waiting request (main thread only).
void RunPendingMainThreadCalls();

}  // namespace zk
