// The keyboard device and the accessibility settings it holds off.
#include "engine/input/KeyboardDevice.h"

#include <cstring>

#include "core/Log.h"

DirectInputDevice::~DirectInputDevice() {
    if (!device) return;
    hid::Unacquire(device);
    hid::ReleaseDevice(device);
    device = 0;
}

KeyboardDevice::KeyboardDevice(hid::SystemHandle system, uint32_t window) {
    savedSticky = hid::GetStickyKeys();
    savedToggle = hid::GetToggleKeys();
    savedFilter = hid::GetFilterKeys();
    SetAccessibilityKeys(false);

    bool ok = hid::CreateKeyboardDevice(system, &device) == hid::Result::Ok &&
              hid::SetCooperativeLevel(device, window,
                                       hid::kCoopNonExclusive | hid::kCoopForeground | hid::kCoopNoWindowsKey) ==
                  hid::Result::Ok &&
              hid::SetDataFormat(device, hid::DataFormat::Keyboard) == hid::Result::Ok;
    if (ok) {
        // A window that is not in front yet refuses the acquire; every read acquires
        // again, so that alone does not cost the keyboard for the whole session.
        const hid::Result acquired = hid::Acquire(device);
        ok = hid::Succeeded(acquired) || acquired == hid::Result::OtherAppHasPriority;
    }
    if (!ok) {
        gLog.Error(LogCategory::Engine, "Unable to initialize keyboard");
        if (device) hid::ReleaseDevice(device);
        device = 0;
    }
}

KeyboardDevice::~KeyboardDevice() { SetAccessibilityKeys(true); }

hid::Result KeyboardDevice::Read() {
    std::memset(state, 0, sizeof(state));
    if (!device) return hid::Result::InvalidCall;
    const hid::Result acquired = hid::Acquire(device);
    if (!hid::Succeeded(acquired)) return acquired;
    const hid::Result read = hid::GetKeyboardState(device, state);
    if (read != hid::Result::Ok) std::memset(state, 0, sizeof(state));
    return read;
}

bool KeyboardDevice::GetKeyName(uint32_t scanCode, char* buffer, uint32_t size) const {
    if (!device) {
        if (buffer && size) buffer[0] = 0;
        return false;
    }
    return hid::GetObjectName(device, scanCode, buffer, size);
}

void KeyboardDevice::SetAccessibilityKeys(bool restore) {
    if (restore) {
        hid::SetStickyKeys(savedSticky);
        hid::SetToggleKeys(savedToggle);
        hid::SetFilterKeys(savedFilter);
        return;
    }
    constexpr uint32_t kHotKeyFlags = hid::kAccessHotKeyActive | hid::kAccessConfirmHotKey;
    if (!(savedSticky.flags & hid::kAccessFeatureOn)) {
        hid::StickyKeys v = savedSticky;
        v.flags &= ~kHotKeyFlags;
        hid::SetStickyKeys(v);
    }
    if (!(savedToggle.flags & hid::kAccessFeatureOn)) {
        hid::ToggleKeys v = savedToggle;
        v.flags &= ~kHotKeyFlags;
        hid::SetToggleKeys(v);
    }
    if (!(savedFilter.flags & hid::kAccessFeatureOn)) {
        hid::FilterKeys v = savedFilter;
        v.flags &= ~kHotKeyFlags;
        hid::SetFilterKeys(v);
    }
}
