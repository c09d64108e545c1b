// Frame-step overhead with nothing to do: FrameStep on a driven clock (so
// pacing never really sleeps) against a bare loop doing the frame's
// bookkeeping through one function pointer, measured in the same run.
#include <chrono>
#include <cstdio>

#include "core/engine_hooks.h"
#include "core/engine_state.h"
#include "engine/main_loop.h"
#include "platform/clock.h"

namespace {

volatile int sink = 0;
int EmptyWalk() { return sink; }

template <class F>
double NanosecondsPerCall(F&& body, int calls) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) body();
    auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count() / calls;
}

}  // namespace

int main() {
    zk::platform::ManualClock clock(0);
    zk::platform::InstallClock(&clock);
    zk::ResetEngineState();
    zk::Hooks().run_task_tree = EmptyWalk;

    constexpr int kCalls = 2'000'000;
    int (*walk)() = EmptyWalk;
    uint64_t frames = 0;
    double baseline = NanosecondsPerCall(
        [&] {
            ++frames;
            sink = walk();
        },
        kCalls);
    double frame_step = NanosecondsPerCall([] { zk::FrameStep(); }, kCalls);

    std::printf("frame_step: FrameStep %.1f ns/frame, bare loop %.1f ns/frame, ratio %.1fx\n", frame_step, baseline,
                frame_step / baseline);
    zk::platform::InstallClock(nullptr);
    return 0;
}
