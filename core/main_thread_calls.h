// Work that must run on the main thread (SDL windows and dialogs), asked for
// from the game-loop thread. The caller waits until the main thread has run
// it; on the main thread itself the work runs at once.
#pragma once

#include <cstdint>
#include <functional>

namespace zk {

// Marks the calling thread as the main thread (start of the program entry).
void MarkMainThread();
bool OnMainThread();

// Runs `work` on the main thread and waits for it. The main thread serves
// these requests wherever it waits: on every pass of the main loop,
// whatever the message-drain rules say (so a report in the middle of a
// frame cannot wait for a drain that waits for the frame), in every wait
// for another thread (WaitTurn) and in shutdown's waits for the threads to
// end. The caller must not hold EngineLock, which the main thread may be
// waiting for.
void CallOnMainThread(const std::function<void()>& work);

// Runs every waiting request (main thread only).
void RunPendingMainThreadCalls();

// A thread that waits for another polls with these: the wait ends when
// what it waits for has happened, when WaitMustEnd says so, or when the
// other thread has ended. Between polls it takes a WaitTurn.
//
// True once waiting must stop: the quit flag is raised, or a stop signal
// (SIGINT, SIGTERM) has arrived that only the main loop can answer, which
// it does between frames.
bool WaitMustEnd();
// One turn of a wait: on the main thread the calls other threads wait for
// run first (the thread waited for may be waiting for one of them); then a
// sleep of `ms`.
void WaitTurn(uint32_t ms);

}  // namespace zk
