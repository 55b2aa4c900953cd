// The headless input devices: the input system, keyboard and game-device handles,
// the attached game devices, pads, the joystick configuration, accessibility keys
// and the foreground state.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/input/InputImpl.h"

namespace hid {

using namespace detail;

namespace {

bool KnownSystem(SystemHandle system) {
    const auto& s = GetState().systems;
    return system && std::find(s.begin(), s.end(), system) != s.end();
}

DeviceRecord* FindDevice(DeviceHandle device) {
    for (DeviceRecord& d : GetState().devices)
        if (d.handle == device) return &d;
    return nullptr;
}

GameDeviceRecord* FindGameDevice(uint32_t id) {
    for (GameDeviceRecord& g : GetState().gameDevices)
        if (g.id == id) return &g;
    return nullptr;
}

const GameDeviceRecord* AttachedAt(uint32_t index) {
    for (const GameDeviceRecord& g : GetState().gameDevices)
        if (g.attached && index-- == 0) return &g;
    return nullptr;
}

// A game-device handle whose device was unplugged.
bool Unplugged(const DeviceRecord& d) {
    if (d.keyboard) return false;
    const GameDeviceRecord* g = FindGameDevice(d.gameDevice);
    return !g || !g->attached;
}

DeviceHandle AddDevice(DeviceRecord d) {
    State& s = GetState();
    d.handle = s.nextDevice++;
    s.devices.push_back(d);
    return d.handle;
}

void CopyName(char* out, const std::string& name) {
    std::snprintf(out, 64, "%s", name.c_str());
}

bool PutName(char* buffer, uint32_t size, const char* name) {
    if (!buffer || size == 0) return false;
    buffer[0] = 0;
    if (!name || std::strlen(name) >= size) return false;
    std::memcpy(buffer, name, std::strlen(name) + 1);
    return true;
}

}  // namespace

SystemHandle CreateInputSystem() {
    State& s = GetState();
    if (s.systemFails) return 0;
    s.systems.push_back(s.nextSystem++);
    return s.systems.back();
}

void ReleaseInputSystem(SystemHandle system) {
    auto& s = GetState().systems;
    s.erase(std::remove(s.begin(), s.end(), system), s.end());
}

void SetInputSystemFailure(bool fail) { GetState().systemFails = fail; }

Result CreateKeyboardDevice(SystemHandle system, DeviceHandle* device) {
    if (!device) return Result::InvalidCall;
    *device = 0;
    if (!KnownSystem(system)) return Result::InvalidCall;
    if (GetState().keyboardFails) return Result::Failed;
    DeviceRecord d;
    d.keyboard = true;
    *device = AddDevice(d);
    return Result::Ok;
}

void SetKeyboardCreationFailure(bool fail) { GetState().keyboardFails = fail; }

Result SetDataFormat(DeviceHandle device, DataFormat format) {
    DeviceRecord* d = FindDevice(device);
    if (!d) return Result::InvalidCall;
    if (Unplugged(*d)) return Result::InputLost;
    if ((format == DataFormat::Keyboard) != d->keyboard) return Result::InvalidCall;
    d->formatSet = true;
    d->format = format;
    return Result::Ok;
}

Result SetCooperativeLevel(DeviceHandle device, uint32_t window, uint32_t flags) {
    DeviceRecord* d = FindDevice(device);
    if (!d) return Result::InvalidCall;
    const uint32_t mode = flags & (kCoopExclusive | kCoopNonExclusive);
    const uint32_t place = flags & (kCoopForeground | kCoopBackground);
    if (mode == 0 || mode == (kCoopExclusive | kCoopNonExclusive) || place == 0 ||
        place == (kCoopForeground | kCoopBackground))
        return Result::InvalidCall;
    d->coop = flags;
    return Result::Ok;
}

Result SetAxisRange(DeviceHandle device, int32_t min, int32_t max) {
    DeviceRecord* d = FindDevice(device);
    if (!d || d->keyboard || min >= max) return Result::InvalidCall;
    if (Unplugged(*d)) return Result::InputLost;
    d->rangeMin = min;
    d->rangeMax = max;
    return Result::Ok;
}

Result Acquire(DeviceHandle device) {
    DeviceRecord* d = FindDevice(device);
    if (!d || !d->formatSet) return Result::InvalidCall;
    if (Unplugged(*d)) return Result::InputLost;
    if (d->acquired) return Result::AlreadyAcquired;
    if ((d->coop & kCoopForeground) && !GetState().foreground) return Result::OtherAppHasPriority;
    d->acquired = true;
    return Result::Ok;
}

Result Unacquire(DeviceHandle device) {
    DeviceRecord* d = FindDevice(device);
    if (!d) return Result::InvalidCall;
    d->acquired = false;
    return Result::Ok;
}

Result Poll(DeviceHandle device) {
    UpdateDesktopGameDevices();
    DeviceRecord* d = FindDevice(device);
    if (!d) return Result::InvalidCall;
    if (Unplugged(*d)) {
        d->acquired = false;
        return Result::InputLost;
    }
    return d->acquired ? Result::Ok : Result::NotAcquired;
}

Result GetKeyboardState(DeviceHandle device, uint8_t* state) {
    DeviceRecord* d = FindDevice(device);
    if (!d || !d->keyboard || !state) return Result::InvalidCall;
    if (!d->acquired) return Result::NotAcquired;
    ReadKeyboardSource(state);
    return Result::Ok;
}

Result GetJoystickState(DeviceHandle device, JoystickState* state) {
    DeviceRecord* d = FindDevice(device);
    if (!d || d->keyboard || !state || !d->formatSet) return Result::InvalidCall;
    if (Unplugged(*d)) {
        d->acquired = false;
        return Result::InputLost;
    }
    if (!d->acquired) return Result::NotAcquired;
    const GameDeviceRecord* g = FindGameDevice(d->gameDevice);
    *state = g->input;
    for (int32_t* axis : {&state->x, &state->y, &state->z, &state->rx, &state->ry, &state->rz, &state->sliders[0],
                          &state->sliders[1]}) {
        if (g->desktop)  // into the reader's range
            *axis = d->rangeMin + static_cast<int32_t>((int64_t(*axis) + 32768) * (int64_t(d->rangeMax) - d->rangeMin) / 65535);
        *axis = std::clamp(*axis, d->rangeMin, d->rangeMax);
    }
    return Result::Ok;
}

bool GetObjectName(DeviceHandle device, uint32_t offset, char* buffer, uint32_t size) {
    static const char* const kAxisNames[] = {"X Axis", "Y Axis", "Z Axis", "X Rotation", "Y Rotation", "Z Rotation"};
    const DeviceRecord* d = FindDevice(device);
    if (!d || Unplugged(*d)) return PutName(buffer, size, nullptr);
    if (d->keyboard) return PutName(buffer, size, KeyName(offset));
    if (offset < 24 && offset % 4 == 0) return PutName(buffer, size, kAxisNames[offset / 4]);
    if (offset >= JoystickButtonOffset(0) && offset < JoystickButtonOffset(kJoystickButtons)) {
        char name[16];
        std::snprintf(name, sizeof(name), "Button %u", offset - JoystickButtonOffset(0) + 1);
        return PutName(buffer, size, name);
    }
    return PutName(buffer, size, nullptr);
}

Result CreateConstantForceEffect(DeviceHandle device, const ConstantForceEffect& desc, EffectHandle* effect) {
    if (!effect) return Result::InvalidCall;
    *effect = 0;
    const DeviceRecord* d = FindDevice(device);
    if (!d || d->keyboard) return Result::InvalidCall;
    if (Unplugged(*d)) return Result::InputLost;
    if (!FindGameDevice(d->gameDevice)->forceFeedback) return Result::NoEffect;
    State& s = GetState();
    s.effects.push_back({s.nextEffect++, device});
    *effect = s.effects.back().handle;
    return Result::Ok;
}

void ReleaseEffect(EffectHandle effect) {
    auto& e = GetState().effects;
    e.erase(std::remove_if(e.begin(), e.end(), [&](const EffectRecord& r) { return r.handle == effect; }), e.end());
}

void ReleaseDevice(DeviceHandle device) {
    State& s = GetState();
    s.effects.erase(
        std::remove_if(s.effects.begin(), s.effects.end(), [&](const EffectRecord& r) { return r.device == device; }),
        s.effects.end());
    s.devices.erase(
        std::remove_if(s.devices.begin(), s.devices.end(), [&](const DeviceRecord& r) { return r.handle == device; }),
        s.devices.end());
}

uint32_t OpenDeviceCount() { return static_cast<uint32_t>(GetState().devices.size()); }

uint32_t ConnectGameDevice(const GameDeviceDesc& desc) {
    State& s = GetState();
    if (GameDeviceCount() >= kMaxGameDevices) return 0;
    GameDeviceRecord g;
    g.id = s.nextGameDevice++;
    g.instanceName = desc.instanceName ? desc.instanceName : "";
    g.productName = desc.productName ? desc.productName : "";
    g.pnpDeviceId = desc.pnpDeviceId ? desc.pnpDeviceId : "";
    g.vendorId = desc.vendorId;
    g.productId = desc.productId;
    g.forceFeedback = desc.forceFeedback;
    g.creatable = desc.creatable;
    s.gameDevices.push_back(g);
    return g.id;
}

void DisconnectGameDevice(uint32_t id) {
    GameDeviceRecord* g = FindGameDevice(id);
    if (!g) return;
    g->attached = false;
    for (DeviceRecord& d : GetState().devices)
        if (!d.keyboard && d.gameDevice == id) d.acquired = false;
}

bool SetGameDeviceInput(uint32_t id, const JoystickState& input) {
    GameDeviceRecord* g = FindGameDevice(id);
    if (!g || !g->attached) return false;
    g->input = input;
    return true;
}

uint32_t GameDeviceCount() {
    UpdateDesktopGameDevices();
    uint32_t n = 0;
    for (const GameDeviceRecord& g : GetState().gameDevices) n += g.attached ? 1 : 0;
    return n;
}

bool GetGameDevice(uint32_t index, GameDeviceInfo* info) {
    const GameDeviceRecord* g = AttachedAt(index);
    if (!g || !info) return false;
    info->id = g->id;
    CopyName(info->instanceName, g->instanceName);
    CopyName(info->productName, g->productName);
    info->vendorId = g->vendorId;
    info->productId = g->productId;
    info->productGuidData1 = uint32_t(g->productId) << 16 | g->vendorId;
    return true;
}

Result OpenGameDevice(SystemHandle system, uint32_t id, DeviceHandle* device) {
    if (!device) return Result::InvalidCall;
    *device = 0;
    if (!KnownSystem(system)) return Result::InvalidCall;
    const GameDeviceRecord* g = FindGameDevice(id);
    if (!g || !g->attached) return Result::InputLost;
    if (!g->creatable) return Result::Failed;
    DeviceRecord d;
    d.gameDevice = id;
    *device = AddDevice(d);
    return Result::Ok;
}

uint32_t PnpEntityCount() { return GameDeviceCount(); }

const char* PnpEntityDeviceId(uint32_t index) {
    const GameDeviceRecord* g = AttachedAt(index);
    return g ? g->pnpDeviceId.c_str() : nullptr;
}

void SetJoystickConfigAvailable(bool available) { GetState().joystickConfig = available; }
bool ReadJoystickConfig(uint32_t index) { return GetState().joystickConfig && index == 0; }

void ConnectPad(uint32_t user) {
    if (user < kMaxPads) GetState().pads[user].connected = true;
}

void DisconnectPad(uint32_t user) {
    if (user < kMaxPads) GetState().pads[user] = PadSlot{false, PadState{}, GetState().pads[user].reads};
}

bool SetPadState(uint32_t user, const PadState& state) {
    if (user >= kMaxPads || !GetState().pads[user].connected) return false;
    PadSlot& slot = GetState().pads[user];
    const uint32_t packet = slot.state.packetNumber + 1;
    slot.state = state;
    slot.state.packetNumber = packet;
    return true;
}

bool GetPadState(uint32_t user, PadState* state) {
    if (user >= kMaxPads) return false;
    UpdateDesktopPads();
    PadSlot& slot = GetState().pads[user];
    slot.reads++;
    if (!slot.connected) return false;
    if (state) *state = slot.state;
    return true;
}

uint32_t PadReadCount(uint32_t user) { return user < kMaxPads ? GetState().pads[user].reads : 0; }

StickyKeys GetStickyKeys() { return GetState().sticky; }
ToggleKeys GetToggleKeys() { return GetState().toggle; }
FilterKeys GetFilterKeys() { return GetState().filter; }
void SetStickyKeys(const StickyKeys& value) { GetState().sticky = value; }
void SetToggleKeys(const ToggleKeys& value) { GetState().toggle = value; }
void SetFilterKeys(const FilterKeys& value) { GetState().filter = value; }

void SetForeground(bool foreground) {
    State& s = GetState();
    s.foreground = foreground;
    if (foreground) return;
    for (DeviceRecord& d : s.devices)
        if (d.coop & kCoopForeground) d.acquired = false;
}

bool IsForeground() { return GetState().foreground; }

void ResetInputLayer() {
    StopDesktopInput();
    GetState() = State{};
}

namespace detail {

State& GetState() {
    static State state;
    return state;
}

}  // namespace detail

}  // namespace hid
