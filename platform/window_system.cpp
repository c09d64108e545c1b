#include "platform/window_system.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zk::platform {

namespace {
// Atomic because PostMessage may reach it from other threads; installing
// happens on the main thread at start-up and shutdown.
std::atomic<WindowSystem*> g_window_system{nullptr};
}  // namespace

WindowSystem& GetWindowSystem() {
    WindowSystem* system = g_window_system.load(std::memory_order_acquire);
    if (system == nullptr) {
        // A programming error, not a run-time condition: start-up installs a
        // back end before anything touches a window.
        std::fputs("zorvek: GetWindowSystem() called before InstallWindowSystem()\n", stderr);
        std::abort();
    }
    return *system;
}

bool HasWindowSystem() { return g_window_system.load(std::memory_order_acquire) != nullptr; }

void InstallWindowSystem(WindowSystem* system) { g_window_system.store(system, std::memory_order_release); }

}  // namespace zk::platform
