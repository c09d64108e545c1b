#include "core/main_thread_calls.h"

#include <cassert>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "core/engine_state.h"
#include "platform/clock.h"
#include "platform/stop_signals.h"

namespace zk {

namespace {
struct PendingCall {
    const std::function<void()>* work;
    bool done = false;
};

std::mutex calls_mutex;
std::condition_variable calls_done;
std::deque<PendingCall*> pending_calls;
std::thread::id main_thread_id = std::this_thread::get_id();
}  // namespace

void MarkMainThread() { main_thread_id = std::this_thread::get_id(); }
bool OnMainThread() { return std::this_thread::get_id() == main_thread_id; }

void CallOnMainThread(const std::function<void()>& work) {
    if (OnMainThread()) {
        work();
        return;
    }
    assert(!EngineLock.HeldHere() && "the main thread may be waiting for EngineLock");
    PendingCall call{&work};
    std::unique_lock lock(calls_mutex);
    pending_calls.push_back(&call);
    calls_done.wait(lock, [&] { return call.done; });
}

void RunPendingMainThreadCalls() {
    for (;;) {
        PendingCall* call;
        {
            std::lock_guard lock(calls_mutex);
            if (pending_calls.empty()) return;
            call = pending_calls.front();
            pending_calls.pop_front();
        }
        (*call->work)();
        {
            std::lock_guard lock(calls_mutex);
            call->done = true;
        }
        calls_done.notify_all();
    }
}

bool WaitMustEnd() { return QuitFlag.load() != 0 || platform::StopSignalReceived() != 0; }

void WaitTurn(uint32_t ms) {
    if (OnMainThread()) RunPendingMainThreadCalls();
    platform::SleepMs(ms);
}

}  // namespace zk
