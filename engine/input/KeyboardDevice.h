#pragma once
// DirectInputDevice: one opened input device, unacquired and released with its
// owner. KeyboardDevice: the system keyboard as a 256-byte state indexed by scan code
// (bit 7 down), its key names, and the accessibility-key settings it switches off
// while the game runs and restores when it is destroyed.
//
// Threads: main thread (owned by the InputManager).
#include <cstdint>

#include "platform/input/Input.h"
#include "platform/input/Keys.h"

class DirectInputDevice {
public:
    DirectInputDevice() = default;
    virtual ~DirectInputDevice();
    DirectInputDevice(const DirectInputDevice&) = delete;
    DirectInputDevice& operator=(const DirectInputDevice&) = delete;

    hid::DeviceHandle Handle() const { return device; }

protected:
    hid::DeviceHandle device = 0;
};

class KeyboardDevice : public DirectInputDevice {
public:
    // Saves the three accessibility settings and switches off the hot keys of those
    // whose feature is off; then creates the keyboard device, non-exclusive and in the
    // foreground with the Windows key disabled. A failure to create or set it up logs
    // "Unable to initialize keyboard" and leaves no device: every read is empty.
    KeyboardDevice(hid::SystemHandle system, uint32_t window);
    // Writes the saved accessibility settings back.
    ~KeyboardDevice() override;

    // Clears the state, acquires the device (a result other than success or
    // already-acquired ends the read with it) and reads the 256 bytes.
    hid::Result Read();
    const uint8_t* State() const { return state; }
    bool IsUsable() const { return device != 0; }

    // The name of the key with that scan code; false (buffer "") without one.
    bool GetKeyName(uint32_t scanCode, char* buffer, uint32_t size) const;

    // restore: write the saved settings back; otherwise clear the hot-key and
    // confirm-hot-key flags of each setting whose feature is off (one the user
    // switched on stays untouched).
    void SetAccessibilityKeys(bool restore);

private:
    uint8_t state[hid::kKeyStateBytes] = {};
    hid::StickyKeys savedSticky;
    hid::ToggleKeys savedToggle;
    hid::FilterKeys savedFilter;
};
