#include "platform/stop_signals.h"

#include <signal.h>

#include <atomic>
#include <cstring>
#include <initializer_list>

namespace zk::platform {

namespace {

// Written by the handler: lock-free atomics are safe to touch there.
std::atomic<int> first_signal{0};
std::atomic<bool> request_pending{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int signal_number) {
    int none = 0;
    first_signal.compare_exchange_strong(none, signal_number);
    request_pending.store(true);
}

}  // namespace

void InstallStopSignalHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESTART: a thread interrupted in a system call goes on with it.
    // SA_RESETHAND: the next signal of the same kind has its default effect.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signal_number : {SIGINT, SIGTERM}) {
        // A signal the starting shell set to be ignored (a job started with
        // nohup or in the background) stays ignored.
        struct sigaction previous;
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal_number, &action, nullptr);
    }
}

int StopSignalReceived() { return first_signal.load(); }

bool TakeStopRequest() { return request_pending.exchange(false); }

}  // namespace zk::platform
