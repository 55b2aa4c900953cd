#pragma once
// Game controllers: up to four XInput pads read by user index and one DirectInput
// game controller chosen among the attached devices that are not XInput pads.
//
// XInput pads are read every frame while connected; an absent pad is looked for again
// at a random interval of 2 to 4.5 seconds. Sticks come normalised with a dead zone,
// triggers as 0..1; "pressed for the first time" compares with the previous update.
// The DirectInput controller is opened once (at device initialisation, after a
// renderer device reset, or when devices change while none is open) and closed when
// it can no longer be polled or acquired.
//
// Button codes of the XInput queries are XInput's button masks, with
// kXControllerLeftTrigger and kXControllerRightTrigger for the triggers.
//
// Threads: main thread (owned by the InputManager).
#include <cstdint>
#include <vector>

#include "platform/input/Input.h"

constexpr uint32_t kXControllerCount = 4;
constexpr uint32_t kXControllerLeftTrigger = 0x10001;
constexpr uint32_t kXControllerRightTrigger = 0x10002;
constexpr float kXControllerStickScale = 1.0f / 32767.0f;
constexpr float kXControllerLeftDeadZone = 0.23953979f;   // 7849 / 32767
constexpr float kXControllerRightDeadZone = 0.26517534f;  // 8689 / 32767
constexpr float kXControllerTriggerThreshold = 0.11764706f;  // 30 / 255
constexpr float kDIControllerAxisScale = 0.001f;
constexpr float kDIControllerDeadZone = 0.2f;
constexpr int32_t kDIControllerAxisRange = 1000;
constexpr uint32_t kDIControllerButtons = 32;

// c clamped to [-1, 1], then max(c - d, 0) / (1 - d) - max(-c - d, 0) / (1 - d).
float ApplyDeadZone(float c, float deadZone);

class XInputController {
public:
    XInputController() = default;

    // Creation: user index, next check now, state zeroed; connected when this first
    // read succeeds.
    void Init(uint32_t userIndex, int64_t now);
    // One frame at hardware time now (counter ticks since the timer start). Does
    // nothing until now is past the next check. Returns true when the pad connected or
    // disconnected.
    bool Update(int64_t now);

    bool IsKeyPressed(uint32_t key) const;
    bool IsKeyPressedForTheFirstTime(uint32_t key) const;

    bool IsConnected() const { return connected; }
    uint32_t UserIndex() const { return userIndex; }
    int64_t NextCheckTime() const { return nextCheck; }
    // Left x, left y, right x, right y after the dead zones.
    const float* Sticks() const { return sticks; }
    float LeftTrigger() const { return triggers[0]; }
    float RightTrigger() const { return triggers[1]; }

private:
    uint32_t userIndex = 0;
    bool connected = false;
    int64_t nextCheck = 0;
    hid::PadState state;
    uint16_t previousButtons = 0;
    float sticks[4] = {};
    float triggers[2] = {};
    float previousTriggers[2] = {};
};

class DirectInputController {
public:
    DirectInputController() = default;
    ~DirectInputController() { Release(); }
    DirectInputController(const DirectInputController&) = delete;
    DirectInputController& operator=(const DirectInputController&) = delete;

    // Opens the first attached game device that is not an XInput pad, when none is
    // open. Returns whether one is open afterwards.
    bool Connect(hid::SystemHandle system, uint32_t window);
    // Releases the effect and the device (before a device reset); sticks and buttons
    // read as nothing.
    void Release();
    // Poll (acquiring when the poll fails); a device that can be neither polled nor
    // acquired is released with "DInput controller disconnected".
    void Update();

    bool IsConnected() const { return device != 0; }
    bool HasJoystickConfig() const { return joystickConfigAvailable; }
    bool HasEffect() const { return effect != 0; }
    const std::vector<uint32_t>& XInputDeviceIds() const { return xinputIds; }
    // X, -Y, Z, -Rz scaled by 0.001 with the dead zone.
    const float* Sticks() const { return sticks; }
    // Buttons 1..32.
    bool IsButtonPressed(uint32_t button) const;
    bool IsButtonPressedForTheFirstTime(uint32_t button) const;
    // The open device's instance name ("" when none) and the name of button 1..32
    // (false when there is none).
    const char* InstanceName() const { return instanceName; }
    bool GetButtonName(uint32_t button, char* buffer, uint32_t size) const;

    // The XInput ids (product id << 16 | vendor id) of the plug-and-play devices whose
    // id contains "IG_", read from "VID_%4X" and "PID_%4X" (0 for a missing number).
    static void ReadXInputDeviceIds(std::vector<uint32_t>* ids);

private:
    void ClearInput();

    hid::SystemHandle system = 0;
    uint32_t window = 0;
    hid::DeviceHandle device = 0;
    hid::EffectHandle effect = 0;
    bool joystickConfigAvailable = false;
    std::vector<uint32_t> xinputIds;
    char instanceName[64] = {};
    float sticks[4] = {};
    uint8_t buttons[kDIControllerButtons] = {};
    uint8_t previousButtons[kDIControllerButtons] = {};
};
