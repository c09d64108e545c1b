// Joysticks through SDL's joystick subsystem.
//
// The engine polls its sticks once a frame, as the multimedia joystick API
// is polled, so SDL's joystick events are switched off: Refresh updates the
// devices itself (SDL_JoystickUpdate also finds sticks plugged in or pulled
// out), and nothing piles up in SDL's event queue when no window pumps it.
// SDL ignores joystick input while its windows lack the focus unless told
// otherwise; the engine reads its sticks whatever has the focus.
#include <SDL.h>

#include <array>
#include <mutex>

#include "platform/joysticks.h"

namespace zk::platform {

namespace {

class SdlJoysticks final : public Joysticks {
public:
    SdlJoysticks() {
        SDL_SetHintWithPriority(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1", SDL_HINT_OVERRIDE);
        running_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
        if (running_) SDL_JoystickEventState(SDL_IGNORE);
    }

    ~SdlJoysticks() override {
        std::lock_guard lock(mutex_);
        for (SDL_Joystick*& joystick : slots_) {
            if (joystick != nullptr) SDL_JoystickClose(joystick);
            joystick = nullptr;
        }
        if (running_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    int SlotCount() override { return running_ ? kMaxJoysticks : 0; }

    void Refresh() override {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        SDL_JoystickUpdate();
        for (SDL_Joystick*& joystick : slots_) {
            if (joystick != nullptr && !SDL_JoystickGetAttached(joystick)) {
                SDL_JoystickClose(joystick);
                joystick = nullptr;
            }
        }
        const int devices = SDL_NumJoysticks();
        for (int device = 0; device < devices; ++device) {
            const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(device);
            if (id < 0 || Holds(id)) continue;
            SDL_Joystick** free_slot = FreeSlot();
            if (free_slot == nullptr) break;  // every slot taken: later sticks wait for one
            *free_slot = SDL_JoystickOpen(device);
        }
    }

    bool Read(int slot, JoystickReading& out) override {
        std::lock_guard lock(mutex_);
        if (slot < 0 || slot >= kMaxJoysticks || !running_) return false;
        SDL_Joystick* joystick = slots_[static_cast<size_t>(slot)];
        if (joystick == nullptr || !SDL_JoystickGetAttached(joystick)) return false;
        const int axes = SDL_JoystickNumAxes(joystick);
        JoystickReading reading;
        if (axes > 0) reading.x = JoystickAxisFromSdl(SDL_JoystickGetAxis(joystick, 0));
        if (axes > 1) reading.y = JoystickAxisFromSdl(SDL_JoystickGetAxis(joystick, 1));
        const int buttons = SDL_JoystickNumButtons(joystick);
        for (int b = 0; b < buttons && b < 32; ++b) {
            if (SDL_JoystickGetButton(joystick, b) != 0) reading.buttons |= uint32_t{1} << b;
        }
        out = reading;
        return true;
    }

private:
    bool Holds(SDL_JoystickID id) const {
        for (SDL_Joystick* joystick : slots_) {
            if (joystick != nullptr && SDL_JoystickInstanceID(joystick) == id) return true;
        }
        return false;
    }
    SDL_Joystick** FreeSlot() {
        for (SDL_Joystick*& joystick : slots_) {
            if (joystick == nullptr) return &joystick;
        }
        return nullptr;
    }

    std::mutex mutex_;
    bool running_ = false;
    std::array<SDL_Joystick*, kMaxJoysticks> slots_{};
};

}  // namespace

std::unique_ptr<Joysticks> CreateSdlJoysticks() { return std::make_unique<SdlJoysticks>(); }

std::unique_ptr<VirtualJoystick> VirtualJoystick::Attach(int axes, int buttons) {
    const int device = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, axes, buttons, 0);
    if (device < 0) return nullptr;
    std::unique_ptr<VirtualJoystick> stick(new VirtualJoystick());
    stick->instance_id_ = SDL_JoystickGetDeviceInstanceID(device);
    // Values are set through an open handle; SDL counts the opens, so the
    // engine's own open of the same stick shares it.
    stick->joystick_ = SDL_JoystickOpen(device);
    if (stick->joystick_ == nullptr) {
        SDL_JoystickDetachVirtual(device);
        return nullptr;
    }
    return stick;
}

VirtualJoystick::~VirtualJoystick() {
    if (joystick_ != nullptr) SDL_JoystickClose(static_cast<SDL_Joystick*>(joystick_));
    // Device indexes shift as sticks come and go: find this one's now.
    for (int device = 0; device < SDL_NumJoysticks(); ++device) {
        if (SDL_JoystickGetDeviceInstanceID(device) == instance_id_) {
            SDL_JoystickDetachVirtual(device);
            break;
        }
    }
}

bool VirtualJoystick::SetAxis(int axis, int16_t value) {
    return SDL_JoystickSetVirtualAxis(static_cast<SDL_Joystick*>(joystick_), axis, value) == 0;
}

bool VirtualJoystick::SetButton(int button, bool down) {
    return SDL_JoystickSetVirtualButton(static_cast<SDL_Joystick*>(joystick_), button, down ? 1 : 0) == 0;
}

}  // namespace zk::platform
