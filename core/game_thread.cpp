#include "core/game_thread.h"

#include "core/engine_state.h"
#include "platform/clock.h"

namespace zk {

namespace {
thread_local bool on_game_loop_thread = false;
}  // namespace

void MarkGameLoopThread() { on_game_loop_thread = true; }

bool OnGameLoopThread() { return on_game_loop_thread; }

void EnterPacingSection() { PacingFlag = 1; }

void LeavePacingSection() {
    if (!on_game_loop_thread) {
        PacingFlag = 0;
        return;
    }
    // The main thread counts a window procedure in before it looks at the
    // pacing flag; this side drops the flag before it looks at the count.
    // Both are sequentially consistent, so at least one side sees the
    // other: either the drain finds the flag down and leaves the message,
    // or this thread finds the procedure and waits for it to return.
    for (;;) {
        PacingFlag = 0;
        if (InWindowProcFlag.load() == 0) return;
        PacingFlag = 1;
        while (InWindowProcFlag.load() > 0) platform::SleepMs(0);
    }
}

}  // namespace zk
