// Joysticks as the engine reads them: a fixed number of slots (up to 16),
// each read like the multimedia joystick API's position call with the X
// and Y axes and 32 buttons. Axes run 0..0xFFFF with the centre at 0x7FFF.
//
// Back ends: SDL's joystick subsystem (real devices, and SDL's virtual
// joysticks in tests), and the headless window system's scripted sticks.
//
// Threading: every method may be called from any thread; an
// implementation guards its own state.
#pragma once

#include <cstdint>
#include <memory>

namespace zk::platform {

inline constexpr int kMaxJoysticks = 16;
inline constexpr uint32_t kJoystickCentre = 0x7FFF;
inline constexpr uint32_t kJoystickAxisMax = 0xFFFF;

struct JoystickReading {
    uint32_t x = kJoystickCentre;
    uint32_t y = kJoystickCentre;
    uint32_t buttons = 0;  // bit i: button i + 1 down

    bool operator==(const JoystickReading&) const = default;
};

class Joysticks {
public:
    virtual ~Joysticks() = default;
    // How many slots the system offers (0..16), connected or not; fixed for
    // the run.
    virtual int SlotCount() = 0;
    // Takes in devices that were plugged in or pulled out since the last
    // call and updates every stick's state. Once per poll of all slots.
    virtual void Refresh() = 0;
    // The stick in a slot; false (and `out` untouched) when the slot is
    // outside 0..SlotCount() - 1 or holds no connected stick.
    virtual bool Read(int slot, JoystickReading& out) = 0;
};

// The joysticks the engine reads: those installed, else the window
// system's own, else none (no slots).
Joysticks& GetJoysticks();
// Overrides the window system's joysticks (tests); null removes the override.
void InstallJoysticks(Joysticks* joysticks);

// SDL's joystick subsystem: 16 slots while it runs (0 when it cannot
// start), each taken by the next stick that appears, in SDL's device order,
// and freed when that stick goes. Sticks are read whether or not an engine
// window has the focus. Holds the subsystem by SDL_InitSubSystem /
// SDL_QuitSubSystem.
std::unique_ptr<Joysticks> CreateSdlJoysticks();

// An SDL axis (-32768..32767, 0 at rest) on the 0..0xFFFF scale: -32768 is
// 0, 0 is 0x7FFF, 32767 is 0xFFFF, and every value off 0 lands off 0x7FFF
// (-1 is 0x7FFE, 1 is 0x8000), so no dead zone is added.
uint32_t JoystickAxisFromSdl(int16_t value);

// Test aid: a joystick made through SDL's virtual joystick API, which needs
// no device and no display. The joystick subsystem must be running (an
// SdlJoysticks alive). Detached when destroyed.
class VirtualJoystick {
public:
    // Null when SDL refuses.
    static std::unique_ptr<VirtualJoystick> Attach(int axes, int buttons);
    ~VirtualJoystick();
    VirtualJoystick(const VirtualJoystick&) = delete;
    VirtualJoystick& operator=(const VirtualJoystick&) = delete;

    bool SetAxis(int axis, int16_t value);
    bool SetButton(int button, bool down);  // button 0 is the first

private:
    VirtualJoystick() = default;
    void* joystick_ = nullptr;  // SDL_Joystick
    int32_t instance_id_ = -1;
};

}  // namespace zk::platform
