#include "platform/joysticks.h"

#include <atomic>

#include "platform/window_system.h"

namespace zk::platform {

namespace {

class NoJoysticks final : public Joysticks {
public:
    int SlotCount() override { return 0; }
    void Refresh() override {}
    bool Read(int, JoystickReading&) override { return false; }
};

std::atomic<Joysticks*> g_installed{nullptr};

}  // namespace

Joysticks& GetJoysticks() {
    if (Joysticks* installed = g_installed.load(std::memory_order_acquire)) return *installed;
    if (HasWindowSystem()) return GetWindowSystem().HostJoysticks();
    static NoJoysticks none;
    return none;
}

void InstallJoysticks(Joysticks* joysticks) { g_installed.store(joysticks, std::memory_order_release); }

uint32_t JoystickAxisFromSdl(int16_t value) {
    // Each half is stretched on its own so that both ends reach the scale's
    // ends and rest stays exactly at the centre.
    const int64_t v = value;
    if (v <= 0) return static_cast<uint32_t>((v + 32768) * kJoystickCentre / 32768);
    return static_cast<uint32_t>(kJoystickCentre + (v * (kJoystickAxisMax - kJoystickCentre)) / 32767);
}

}  // namespace zk::platform
