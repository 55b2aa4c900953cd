// XInput pads and the DirectInput game controller.
#include "engine/input/GameControllers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/CrtRand.h"
#include "core/Log.h"
#include "core/Time.h"

float ApplyDeadZone(float c, float deadZone) {
    c = std::clamp(c, -1.0f, 1.0f);
    return std::max(c - deadZone, 0.0f) / (1.0f - deadZone) - std::max(-c - deadZone, 0.0f) / (1.0f - deadZone);
}

// ---------------------------------------------------------------------------------
// XInput pads.

void XInputController::Init(uint32_t index, int64_t now) {
    *this = XInputController();
    userIndex = index;
    nextCheck = now;
    connected = hid::GetPadState(userIndex, &state);
    if (!connected) state = hid::PadState();
}

bool XInputController::Update(int64_t now) {
    if (now <= nextCheck) return false;
    previousButtons = state.buttons;
    previousTriggers[0] = triggers[0];
    previousTriggers[1] = triggers[1];
    hid::PadState read;
    if (!hid::GetPadState(userIndex, &read)) {
        bool changed = false;
        if (connected) {
            gLog.Print(LogSeverity::Progress, LogCategory::Engine, "XBox controller #%d disconnected",
                       static_cast<int>(userIndex));
            state = hid::PadState();
            std::fill(std::begin(sticks), std::end(sticks), 0.0f);
            std::fill(std::begin(triggers), std::end(triggers), 0.0f);
            connected = false;
            changed = true;
        }
        // A random 2 to 4.5 seconds before the next look, computed in float.
        const float seconds = 2.0f + 2.5f * static_cast<float>(CrtRand()) / 32767.0f;
        nextCheck = now + Time::FromSeconds(seconds).ticks;
        return changed;
    }
    bool changed = false;
    if (!connected) {
        connected = true;
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "XBox controller #%d connected",
                   static_cast<int>(userIndex));
        changed = true;
    }
    state = read;
    sticks[0] = ApplyDeadZone(state.thumbLX * kXControllerStickScale, kXControllerLeftDeadZone);
    sticks[1] = ApplyDeadZone(state.thumbLY * kXControllerStickScale, kXControllerLeftDeadZone);
    sticks[2] = ApplyDeadZone(state.thumbRX * kXControllerStickScale, kXControllerRightDeadZone);
    sticks[3] = ApplyDeadZone(state.thumbRY * kXControllerStickScale, kXControllerRightDeadZone);
    triggers[0] = state.leftTrigger / 255.0f;
    triggers[1] = state.rightTrigger / 255.0f;
    return changed;
}

bool XInputController::IsKeyPressed(uint32_t key) const {
    if (key == kXControllerLeftTrigger) return triggers[0] > kXControllerTriggerThreshold;
    if (key == kXControllerRightTrigger) return triggers[1] > kXControllerTriggerThreshold;
    return (state.buttons & key) != 0;
}

bool XInputController::IsKeyPressedForTheFirstTime(uint32_t key) const {
    if (key == kXControllerLeftTrigger || key == kXControllerRightTrigger) {
        const uint32_t i = key - kXControllerLeftTrigger;
        return triggers[i] > kXControllerTriggerThreshold && !(previousTriggers[i] > kXControllerTriggerThreshold);
    }
    return (state.buttons & key) != 0 && (previousButtons & key) == 0;
}

// ---------------------------------------------------------------------------------
// The DirectInput controller.

void DirectInputController::ReadXInputDeviceIds(std::vector<uint32_t>* ids) {
    ids->clear();
    for (uint32_t i = 0; i < hid::PnpEntityCount(); ++i) {
        const char* id = hid::PnpEntityDeviceId(i);
        if (!id || !std::strstr(id, "IG_")) continue;
        unsigned vendor = 0, product = 0;
        const char* v = std::strstr(id, "VID_");
        if (!v || std::sscanf(v, "VID_%4X", &vendor) != 1) vendor = 0;
        const char* p = std::strstr(id, "PID_");
        if (!p || std::sscanf(p, "PID_%4X", &product) != 1) product = 0;
        ids->push_back(product << 16 | vendor);
    }
}

bool DirectInputController::Connect(hid::SystemHandle inputSystem, uint32_t gameWindow) {
    if (device) return true;
    system = inputSystem;
    window = gameWindow;
    joystickConfigAvailable = hid::ReadJoystickConfig(0);
    ReadXInputDeviceIds(&xinputIds);

    hid::GameDeviceInfo chosen{};
    for (uint32_t i = 0; i < hid::GameDeviceCount() && !device; ++i) {
        hid::GameDeviceInfo info;
        if (!hid::GetGameDevice(i, &info)) continue;
        if (std::find(xinputIds.begin(), xinputIds.end(), info.productGuidData1) != xinputIds.end()) continue;
        if (hid::OpenGameDevice(system, info.id, &device) == hid::Result::Ok) chosen = info;
    }
    if (!device) return false;

    hid::SetDataFormat(device, hid::DataFormat::Joystick);
    hid::SetCooperativeLevel(device, window, hid::kCoopExclusive | hid::kCoopForeground);
    hid::SetAxisRange(device, -kDIControllerAxisRange, kDIControllerAxisRange);
    hid::ConstantForceEffect force;  // the X axis, infinite, gain 10000, no trigger
    if (hid::CreateConstantForceEffect(device, force, &effect) != hid::Result::Ok) {
        effect = 0;
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "DInput controller doesn't have FF");
    }
    std::snprintf(instanceName, sizeof(instanceName), "%s", chosen.instanceName);
    ClearInput();
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "DInput controller connected");
    return true;
}

void DirectInputController::Release() {
    if (effect) hid::ReleaseEffect(effect);
    effect = 0;
    if (device) {
        hid::Unacquire(device);
        hid::ReleaseDevice(device);
    }
    device = 0;
    instanceName[0] = 0;
    ClearInput();
}

void DirectInputController::Update() {
    if (!device) return;
    if (hid::Poll(device) != hid::Result::Ok && !hid::Succeeded(hid::Acquire(device))) {
        Release();
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "DInput controller disconnected");
        return;
    }
    // A state that cannot be read counts as nothing pressed.
    hid::JoystickState js;
    if (hid::GetJoystickState(device, &js) != hid::Result::Ok) js = hid::JoystickState();
    sticks[0] = ApplyDeadZone(js.x * kDIControllerAxisScale, kDIControllerDeadZone);
    sticks[1] = ApplyDeadZone(-js.y * kDIControllerAxisScale, kDIControllerDeadZone);
    sticks[2] = ApplyDeadZone(js.z * kDIControllerAxisScale, kDIControllerDeadZone);
    sticks[3] = ApplyDeadZone(-js.rz * kDIControllerAxisScale, kDIControllerDeadZone);
    std::memcpy(previousButtons, buttons, sizeof(buttons));
    for (uint32_t i = 0; i < kDIControllerButtons; ++i) buttons[i] = js.buttons[i] != 0;
}

bool DirectInputController::IsButtonPressed(uint32_t button) const {
    return button >= 1 && button <= kDIControllerButtons && buttons[button - 1];
}

bool DirectInputController::IsButtonPressedForTheFirstTime(uint32_t button) const {
    return IsButtonPressed(button) && !previousButtons[button - 1];
}

bool DirectInputController::GetButtonName(uint32_t button, char* buffer, uint32_t size) const {
    if (!device || button < 1 || button > kDIControllerButtons) return false;
    return hid::GetObjectName(device, hid::JoystickButtonOffset(button - 1), buffer, size);
}

void DirectInputController::ClearInput() {
    std::fill(std::begin(sticks), std::end(sticks), 0.0f);
    std::memset(buttons, 0, sizeof(buttons));
    std::memset(previousButtons, 0, sizeof(previousButtons));
}
