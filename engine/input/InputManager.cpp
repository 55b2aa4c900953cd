// The input manager: devices, the per-frame update, key and controller queries.
// Taps live in InputManager_Taps.cpp.
#include "engine/input/InputManager.h"

#include <cstring>

#include "core/Log.h"
#include "core/Time.h"
#include "core/text/TextConversion.h"
#include "engine/services/UIServices.h"
#include "engine/input/KeyboardDevice.h"

namespace {

// Whether bit 7 of a keyboard byte or a mouse button byte is set, by key code.
bool KeyDown(const uint8_t* keys, const uint8_t* mouse, uint32_t key) {
    if (key < hid::kKeyStateBytes) return (keys[key] & hid::kKeyDownBit) != 0;
    if (key >= kMouseButtonLeft && key < kMouseButtonLeft + kMouseButtonCount) return mouse[key - kMouseButtonLeft] != 0;
    return false;
}

void AppendToText(UITextBase* text, const char* utf8, bool clear) {
    if (!text) return;
    if (clear) GetUIServices().SetText(text, nullptr);
    if (!utf8 || !utf8[0]) return;
    char16_t wide[128];
    if (MultiByteToWide(wide, 128, utf8, -1, kCodePageUTF8)) GetUIServices().AppendText(text, wide);
}

}  // namespace

InputManager::InputManager() = default;

InputManager::~InputManager() {
    keyboard.reset();
    diController.Release();
    if (inputSystem) hid::ReleaseInputSystem(inputSystem);
}

bool InputManager::Init(uint32_t gameWindow) {
    window = gameWindow;
    inputSystem = hid::CreateInputSystem();
    if (!inputSystem) {
        gLog.Error(LogCategory::Engine, "Unable to initialize DirectInput");
        return false;
    }
    inputControllerEnabled = true;
    return true;
}

void InputManager::InitDevices(uint32_t gameWindow) {
    window = gameWindow;
    cursor = Vector(0.5f, 0.5f, 0.0f, 0.0f);
    keyboard.reset();  // a second call restores the settings the first one saved
    keyboard = std::make_unique<KeyboardDevice>(inputSystem, window);
    Time now;
    now.LoadHardwareTime();
    for (uint32_t i = 0; i < kXControllerCount; ++i) xControllers[i].Init(i, now.ticks);
    if (inputSystem) diController.Connect(inputSystem, window);
    devicesInitialised = true;
}

bool InputManager::Update() {
    // 1. The frame number.
    ++frameNumber;

    // 2. Keyboard.
    std::memcpy(previousKeys, keys, sizeof(keys));
    if (keyboard) {
        keyboard->Read();
        std::memcpy(keys, keyboard->State(), sizeof(keys));
    } else {
        std::memset(keys, 0, sizeof(keys));
    }

    // 3. One mouse event per frame; double clicks last one frame.
    latches[3] = latches[4] = latches[5] = 0;
    if (!mouseEvents.empty()) {
        const MouseEvent e = mouseEvents.front();
        mouseEvents.erase(mouseEvents.begin());
        cursor = Vector(e.x, e.y, 0.0f, 0.0f);
        if (e.kind <= MOUSEEVENT_MIDDLE_DOUBLE) {
            const uint32_t button = e.kind / 3;
            const uint32_t action = e.kind % 3;  // down, up, double click
            if (action == 0) latches[button] = 1;
            if (action == 1) latches[button] = 0;
            if (action == 2) latches[3 + button] = 1;
        } else {
            cursorOnWindow = e.kind == MOUSEEVENT_CURSOR_OVER ? 1 : 0;
        }
    }

    // 4. Mouse buttons.
    std::memcpy(previousMouseButtons, mouseButtons, sizeof(mouseButtons));
    std::memcpy(mouseButtons, latches, sizeof(mouseButtons));
    if (mouseTapEmulation) EmulateMouseTaps();

    // 5. The wheel of this frame.
    wheel = wheelAccumulator;
    wheelAccumulator = 0.0f;

    // 6. Controllers.
    bool changed = false;
    if (devicesInitialised) {
        Time now;
        now.LoadHardwareTime();
        for (XInputController& c : xControllers) changed |= c.Update(now.ticks);
        diController.Update();
    }
    return changed;
}

bool InputManager::PostMouseEvent(uint32_t kind, float x, float y) {
    const bool known = kind <= MOUSEEVENT_MIDDLE_DOUBLE || kind == MOUSEEVENT_CURSOR_LEFT || kind == MOUSEEVENT_CURSOR_OVER;
    if (!known || mouseEvents.size() >= kMaxMouseEvents) return false;
    mouseEvents.push_back({kind, x, y});
    return true;
}

void InputManager::OnDevicesChanged() {
    if (devicesInitialised && inputSystem && !diController.IsConnected()) diController.Connect(inputSystem, window);
}

bool InputManager::IsKeyPressed(uint32_t key) const { return KeyDown(keys, mouseButtons, key); }

bool InputManager::IsKeyPressedForTheFirstTime(uint32_t key) const {
    return KeyDown(keys, mouseButtons, key) && !KeyDown(previousKeys, previousMouseButtons, key);
}

bool InputManager::IsKeyReleasedForTheFirstTime(uint32_t key) const {
    return !KeyDown(keys, mouseButtons, key) && KeyDown(previousKeys, previousMouseButtons, key);
}

// ---------------------------------------------------------------------------------
// Controllers.

uint32_t InputManager::ControllerMask(uint32_t index) const {
    if (index == kAnyController) return enabledControllers;
    return index < kXControllerCount ? 1u << index : 0u;
}

bool InputManager::IsXControllerPresent(uint32_t index) const {
    return AnyController(index, [](const XInputController& c) { return c.IsConnected(); });
}

Vector InputManager::GetXControllerAnalogInput(uint32_t index) const {
    const uint32_t mask = ControllerMask(index);
    Vector best;
    float bestLength = -1.0f;
    for (uint32_t i = 0; i < kXControllerCount; ++i) {
        if (!(mask & (1u << i))) continue;
        const float* s = xControllers[i].Sticks();
        const float length = s[0] * s[0] + s[1] * s[1] + s[2] * s[2] + s[3] * s[3];
        if (length > bestLength) {
            bestLength = length;
            best = Vector(s[0], s[1], s[2], s[3]);
        }
    }
    return best;
}

float InputManager::LargestTrigger(uint32_t index, bool right) const {
    const uint32_t mask = ControllerMask(index);
    float best = 0.0f;
    for (uint32_t i = 0; i < kXControllerCount; ++i) {
        const float value = right ? xControllers[i].RightTrigger() : xControllers[i].LeftTrigger();
        if ((mask & (1u << i)) && value > best) best = value;
    }
    return best;
}

float InputManager::GetXControllerLeftTriggerInput(uint32_t index) const { return LargestTrigger(index, false); }

float InputManager::GetXControllerRightTriggerInput(uint32_t index) const { return LargestTrigger(index, true); }

bool InputManager::IsXControllerKeyPressed(uint32_t key, uint32_t index) const {
    return AnyController(index, [key](const XInputController& c) { return c.IsKeyPressed(key); });
}

bool InputManager::IsXControllerKeyPressedForTheFirstTime(uint32_t key, uint32_t index) const {
    return AnyController(index, [key](const XInputController& c) { return c.IsKeyPressedForTheFirstTime(key); });
}

void InputManager::EnableControllerInput(bool enable, uint32_t index) {
    const uint32_t bits = index == kAnyController ? (1u << kXControllerCount) - 1 : ControllerMask(index);
    enabledControllers = enable ? (enabledControllers | bits) : (enabledControllers & ~bits);
}

Vector InputManager::GetDIControllerAnalogInput() const {
    const float* s = diController.Sticks();
    return Vector(s[0], s[1], s[2], s[3]);
}

void InputManager::AppendDIDeviceName(UITextBase* text, bool clear) const {
    AppendToText(text, diController.InstanceName(), clear);
}

void InputManager::AppendDIKeyName(UITextBase* text, uint32_t button, bool clear) const {
    char name[64];
    AppendToText(text, diController.GetButtonName(button, name, sizeof(name)) ? name : nullptr, clear);
}

void InputManager::ReleaseGameControllers() { diController.Release(); }

void InputManager::ReconnectGameControllers() {
    if (inputControllerEnabled && devicesInitialised) diController.Connect(inputSystem, window);
}

void InputManager::SetAccessibilityKeys(bool restore) {
    if (keyboard) keyboard->SetAccessibilityKeys(restore);
}

void InputManager::PostInputEvent(int32_t kind, uint32_t value) {
    if (inputEvents.size() < kMaxInputEvents) inputEvents.push_back({kind, value});
}

uint32_t InputManager::PressedPointerInputs(uint32_t (&out)[kPointerInputCount]) const {
    uint32_t count = 0;
    for (uint32_t key = kMouseButtonLeft; key < kMouseButtonLeft + kPointerInputCount; ++key)
        if (IsKeyPressed(key)) out[count++] = key;
    return count;
}
