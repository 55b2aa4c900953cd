#pragma once
// The input layer's process-wide state, shared by Keys.cpp and InputDevices.cpp.
// Main thread only.
#include <string>
#include <vector>

#include "platform/input/Input.h"
#include "platform/input/Keys.h"

namespace hid::detail {

struct GameDeviceRecord {
    uint32_t id = 0;
    std::string instanceName, productName, pnpDeviceId;
    uint16_t vendorId = 0, productId = 0;
    bool forceFeedback = false, creatable = true;
    bool attached = true;
    bool desktop = false;  // a desktop joystick: axes as it reports them, -32768..32767
    JoystickState input;
};

struct DeviceRecord {
    DeviceHandle handle = 0;
    bool keyboard = false;
    uint32_t gameDevice = 0;  // connection id of a game device
    bool formatSet = false;
    DataFormat format = DataFormat::Keyboard;
    uint32_t coop = 0;
    bool acquired = false;
    int32_t rangeMin = 0, rangeMax = 65535;
};

struct EffectRecord {
    EffectHandle handle = 0;
    DeviceHandle device = 0;
};

struct PadSlot {
    bool connected = false;
    PadState state;
    uint32_t reads = 0;
};

struct State {
    uint8_t keys[kKeyStateBytes] = {};
    bool systemFails = false, keyboardFails = false;
    std::vector<SystemHandle> systems;
    SystemHandle nextSystem = 1;
    std::vector<DeviceRecord> devices;
    DeviceHandle nextDevice = 1;
    std::vector<EffectRecord> effects;
    EffectHandle nextEffect = 1;
    std::vector<GameDeviceRecord> gameDevices;  // attached and unplugged, until reset
    uint32_t nextGameDevice = 1;
    bool joystickConfig = true;
    PadSlot pads[kMaxPads];
    StickyKeys sticky{0x1FE};
    ToggleKeys toggle{0x3E};
    FilterKeys filter{0x7E, 1000, 500, 500, 0};
    bool foreground = true;
};

State& GetState();

// The desktop back end (InputDesktop.cpp); each does nothing while it is not running.
// Sets bit 7 of every key the desktop keyboard holds down and, while the back end runs,
// of every key pressed since the last call (released again or not).
void AddDesktopKeys(uint8_t* state);
// Follows the desktop's controllers into the pad slots: plugged and unplugged pads
// connect and disconnect their slots, and every open pad's state is read.
void UpdateDesktopPads();
// Follows the desktop's joysticks into the attached game devices (each with its
// plug-and-play id, "IG_" marking a game controller of the desktop's controller
// database) and reads their input.
void UpdateDesktopGameDevices();

}  // namespace hid::detail
