// The desktop back end of the input layer, on SDL2: the desktop keyboard's state read
// through the key table, and the desktop's game controllers in the pad slots.
#include <SDL2/SDL.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/input/InputImpl.h"

namespace hid {

using namespace detail;

namespace {

struct VirtualController {
    uint32_t id = 0;             // the joystick's instance id + 1 (instance ids start at 0)
    SDL_Joystick* joystick = nullptr;
    bool rumbled = false;
    uint16_t low = 0, high = 0;
};

struct DesktopJoystick {
    SDL_JoystickID instance = 0;
    uint32_t gameDevice = 0;  // its connection id
    SDL_Joystick* joystick = nullptr;
};

struct Desktop {
    bool running = false;
    // The desktop keys pressed since the keyboard was last read, by USB usage (SDL's
    // scancode), noted as the events arrive: a tap that goes down and up between two
    // reads, shorter than a frame, still reads as down once.
    std::bitset<SDL_NUM_SCANCODES> pressedSinceRead;
    SDL_GameController* pads[kMaxPads] = {};
    SDL_JoystickID ids[kMaxPads] = {};
    std::vector<VirtualController*> virtuals;
    std::vector<DesktopJoystick> joysticks;  // mirrored into the game devices
};

Desktop& GetDesktop() {
    static Desktop desktop;
    return desktop;
}

std::string gReason;

int16_t Flip(int16_t v) { return static_cast<int16_t>(std::clamp(-int32_t(v), -32768, 32767)); }

uint8_t TriggerByte(int16_t v) { return static_cast<uint8_t>(std::clamp(int32_t(v), 0, 32767) * 255 / 32767); }

PadState ReadPad(SDL_GameController* pad) {
    static const struct {
        SDL_GameControllerButton button;
        uint16_t mask;
    } kButtons[] = {
        {SDL_CONTROLLER_BUTTON_DPAD_UP, kPadDpadUp},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, kPadDpadDown},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, kPadDpadLeft},
        {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, kPadDpadRight},
        {SDL_CONTROLLER_BUTTON_START, kPadStart},
        {SDL_CONTROLLER_BUTTON_BACK, kPadBack},
        {SDL_CONTROLLER_BUTTON_LEFTSTICK, kPadLeftThumb},
        {SDL_CONTROLLER_BUTTON_RIGHTSTICK, kPadRightThumb},
        {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, kPadLeftShoulder},
        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, kPadRightShoulder},
        {SDL_CONTROLLER_BUTTON_A, kPadA},
        {SDL_CONTROLLER_BUTTON_B, kPadB},
        {SDL_CONTROLLER_BUTTON_X, kPadX},
        {SDL_CONTROLLER_BUTTON_Y, kPadY},
    };
    PadState p;
    for (const auto& b : kButtons)
        if (SDL_GameControllerGetButton(pad, b.button)) p.buttons |= b.mask;
    p.leftTrigger = TriggerByte(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERLEFT));
    p.rightTrigger = TriggerByte(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
    p.thumbLX = SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTX);
    p.thumbLY = Flip(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_LEFTY));
    p.thumbRX = SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_RIGHTX);
    p.thumbRY = Flip(SDL_GameControllerGetAxis(pad, SDL_CONTROLLER_AXIS_RIGHTY));
    return p;
}

bool SameInput(const PadState& a, const PadState& b) {
    return a.buttons == b.buttons && a.leftTrigger == b.leftTrigger && a.rightTrigger == b.rightTrigger &&
           a.thumbLX == b.thumbLX && a.thumbLY == b.thumbLY && a.thumbRX == b.thumbRX && a.thumbRY == b.thumbRY;
}

void ClosePad(uint32_t slot) {
    Desktop& d = GetDesktop();
    if (!d.pads[slot]) return;
    SDL_GameControllerClose(d.pads[slot]);
    d.pads[slot] = nullptr;
    d.ids[slot] = 0;
    DisconnectPad(slot);
}

// Watches the event queue as events are added (on the thread that pumps the desktop's
// events, the main thread).
int SDLCALL NoteDesktopKeyPress(void*, SDL_Event* event) {
    if (event->type == SDL_KEYDOWN && !event->key.repeat) {
        const int usage = event->key.keysym.scancode;
        if (usage > 0 && usage < SDL_NUM_SCANCODES) GetDesktop().pressedSinceRead.set(size_t(usage));
    }
    return 1;
}

}  // namespace

bool StartDesktopInput(const char** reason) {
    Desktop& d = GetDesktop();
    if (d.running) return true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        gReason = std::string("the controller system did not start: ") + SDL_GetError();
        if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
        if (reason) *reason = gReason.c_str();
        return false;
    }
    // Controllers are read by polling: their events would only fill the queue. A device
    // plugged in or out is the exception: the window layer turns it into the windows'
    // device-change notice.
    SDL_GameControllerEventState(SDL_IGNORE);
    SDL_JoystickEventState(SDL_IGNORE);
    SDL_EventState(SDL_JOYDEVICEADDED, SDL_ENABLE);
    SDL_EventState(SDL_JOYDEVICEREMOVED, SDL_ENABLE);
    // The controller system holds the event system, so the watch lasts until the stop,
    // through any restart of the windows.
    d.pressedSinceRead.reset();
    SDL_AddEventWatch(&NoteDesktopKeyPress, nullptr);
    d.running = true;
    if (reason) *reason = "";
    return true;
}

void StopDesktopInput() {
    Desktop& d = GetDesktop();
    if (!d.running) return;
    for (uint32_t i = 0; i < kMaxPads; ++i) ClosePad(i);
    for (DesktopJoystick& j : d.joysticks) {
        SDL_JoystickClose(j.joystick);
        DisconnectGameDevice(j.gameDevice);
    }
    d.joysticks.clear();
    while (!d.virtuals.empty()) DetachVirtualController(d.virtuals.back()->id);
    SDL_DelEventWatch(&NoteDesktopKeyPress, nullptr);
    d.pressedSinceRead.reset();
    d.running = false;
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();  // the last user frees SDL's own state
}

bool IsDesktopInput() { return GetDesktop().running; }

bool SetPadVibration(uint32_t user, uint16_t leftMotor, uint16_t rightMotor) {
    const Desktop& d = GetDesktop();
    if (!d.running || user >= kMaxPads || !d.pads[user]) return false;
    // Until told otherwise: the platform's motors keep their speed.
    return SDL_GameControllerRumble(d.pads[user], leftMotor, rightMotor, SDL_HAPTIC_INFINITY) == 0;
}

namespace {

VirtualController* FindVirtual(uint32_t id) {
    for (VirtualController* v : GetDesktop().virtuals)
        if (v->id == id) return v;
    return nullptr;
}

int SDLCALL RecordRumble(void* self, Uint16 low, Uint16 high) {
    auto* v = static_cast<VirtualController*>(self);
    v->rumbled = true;
    v->low = low;
    v->high = high;
    return 0;
}

}  // namespace

uint32_t AttachVirtualController(bool gameController) {
    Desktop& d = GetDesktop();
    if (!d.running) return 0;
    auto* v = new VirtualController;
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = gameController ? SDL_JOYSTICK_TYPE_GAMECONTROLLER : SDL_JOYSTICK_TYPE_FLIGHT_STICK;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = gameController ? "Virtual controller" : "Virtual joystick";
    desc.vendor_id = 0x1209;  // a vendor id for tests
    desc.product_id = gameController ? 0x0001 : 0x0002;
    desc.userdata = v;
    desc.Rumble = &RecordRumble;
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index >= 0) v->joystick = SDL_JoystickOpen(index);
    if (!v->joystick) {
        if (index >= 0) SDL_JoystickDetachVirtual(index);
        delete v;
        return 0;
    }
    v->id = static_cast<uint32_t>(SDL_JoystickInstanceID(v->joystick)) + 1;
    d.virtuals.push_back(v);
    // Triggers at rest.
    SetVirtualControllerAxis(v->id, VirtualAxis::LeftTrigger, 0);
    SetVirtualControllerAxis(v->id, VirtualAxis::RightTrigger, 0);
    return v->id;
}

bool SetVirtualControllerAxis(uint32_t id, VirtualAxis axis, int16_t value) {
    VirtualController* v = FindVirtual(id);
    // A trigger is a whole axis on the joystick: its rest is the axis minimum.
    const bool trigger = axis == VirtualAxis::LeftTrigger || axis == VirtualAxis::RightTrigger;
    const int32_t raw = trigger ? std::clamp(int32_t(value), 0, 32767) * 2 - 32767 : value;
    return v && axis < VirtualAxis::Count && SDL_JoystickSetVirtualAxis(v->joystick, int(axis), int16_t(raw)) == 0;
}

bool SetVirtualControllerButton(uint32_t id, VirtualButton button, bool down) {
    VirtualController* v = FindVirtual(id);
    return v && button < VirtualButton::Count &&
           SDL_JoystickSetVirtualButton(v->joystick, int(button), down ? SDL_PRESSED : SDL_RELEASED) == 0;
}

bool DetachVirtualController(uint32_t id) {
    Desktop& d = GetDesktop();
    VirtualController* v = FindVirtual(id);
    if (!v) return false;
    const int joysticks = SDL_NumJoysticks();
    bool detached = false;
    for (int j = 0; j < joysticks && !detached; ++j)
        if (SDL_JoystickGetDeviceInstanceID(j) == SDL_JoystickID(id - 1)) detached = SDL_JoystickDetachVirtual(j) == 0;
    SDL_JoystickClose(v->joystick);
    d.virtuals.erase(std::find(d.virtuals.begin(), d.virtuals.end(), v));
    delete v;
    return detached;
}

bool VirtualControllerRumble(uint32_t id, uint16_t* leftMotor, uint16_t* rightMotor) {
    const VirtualController* v = FindVirtual(id);
    if (!v || !v->rumbled) return false;
    if (leftMotor) *leftMotor = v->low;
    if (rightMotor) *rightMotor = v->high;
    return true;
}

namespace detail {

void AddDesktopKeys(uint8_t* state) {
    Desktop& d = GetDesktop();
    const std::bitset<SDL_NUM_SCANCODES> pressed = d.pressedSinceRead;
    d.pressedSinceRead.reset();
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;  // the keyboard is read through the windows
    int count = 0;
    const Uint8* keys = SDL_GetKeyboardState(&count);
    if (!keys) return;
    for (uint32_t i = 0; i < UsbUsageCount(); ++i) {
        const uint32_t usage = UsbUsageAt(i);
        const bool down = (int(usage) < count && keys[usage]) || (usage < pressed.size() && pressed[usage]);
        if (down) state[ScanCodeFromUsbUsage(usage)] |= kKeyDownBit;
    }
}

void UpdateDesktopPads() {
    Desktop& d = GetDesktop();
    if (!d.running) return;
    SDL_GameControllerUpdate();
    for (uint32_t i = 0; i < kMaxPads; ++i)
        if (d.pads[i] && !SDL_GameControllerGetAttached(d.pads[i])) ClosePad(i);
    const int joysticks = SDL_NumJoysticks();
    for (int j = 0; j < joysticks; ++j) {
        if (!SDL_IsGameController(j)) continue;
        const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(j);
        const bool open = std::any_of(std::begin(d.pads), std::end(d.pads), [&](SDL_GameController* p) {
            return p && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(p)) == id;
        });
        if (open) continue;
        uint32_t slot = 0;
        while (slot < kMaxPads && (d.pads[slot] || GetState().pads[slot].connected)) ++slot;
        if (slot == kMaxPads) break;
        SDL_GameController* pad = SDL_GameControllerOpen(j);
        if (!pad) continue;  // gone again, or in use elsewhere
        d.pads[slot] = pad;
        d.ids[slot] = id;
        ConnectPad(slot);
    }
    for (uint32_t i = 0; i < kMaxPads; ++i) {
        if (!d.pads[i]) continue;
        const PadState now = ReadPad(d.pads[i]);
        if (!SameInput(now, GetState().pads[i].state)) SetPadState(i, now);
    }
}

void UpdateDesktopGameDevices() {
    Desktop& d = GetDesktop();
    // Connecting a device counts the devices again: no second update inside this one.
    static bool updating = false;
    if (!d.running || updating) return;
    updating = true;
    struct Done {
        ~Done() { updating = false; }
    } done;
    SDL_JoystickUpdate();
    for (size_t i = 0; i < d.joysticks.size();) {
        if (SDL_JoystickGetAttached(d.joysticks[i].joystick)) {
            ++i;
            continue;
        }
        SDL_JoystickClose(d.joysticks[i].joystick);
        DisconnectGameDevice(d.joysticks[i].gameDevice);
        d.joysticks.erase(d.joysticks.begin() + static_cast<std::ptrdiff_t>(i));
    }
    const int count = SDL_NumJoysticks();
    for (int j = 0; j < count; ++j) {
        const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(j);
        if (std::any_of(d.joysticks.begin(), d.joysticks.end(),
                        [&](const DesktopJoystick& m) { return m.instance == instance; }))
            continue;
        SDL_Joystick* joystick = SDL_JoystickOpen(j);
        if (!joystick) continue;
        const char* name = SDL_JoystickName(joystick);
        const uint16_t vendor = SDL_JoystickGetVendor(joystick), product = SDL_JoystickGetProduct(joystick);
        // The controller database answers the pad-or-joystick question: its game
        // controllers are the pads, marked "IG_" as the hardware query marks them.
        char pnp[96];
        std::snprintf(pnp, sizeof pnp, "HID\\VID_%04X&PID_%04X%s\\%d", vendor, product,
                      SDL_IsGameController(j) ? "&IG_00" : "", int(instance));
        GameDeviceDesc desc;
        desc.instanceName = name ? name : "";
        desc.productName = name ? name : "";
        desc.vendorId = vendor;
        desc.productId = product;
        desc.pnpDeviceId = pnp;
        desc.forceFeedback = SDL_JoystickHasRumble(joystick) == SDL_TRUE;
        const uint32_t id = ConnectGameDevice(desc);
        if (!id) {
            SDL_JoystickClose(joystick);
            break;
        }
        for (GameDeviceRecord& g : GetState().gameDevices)
            if (g.id == id) g.desktop = true;
        d.joysticks.push_back({instance, id, joystick});
    }
    for (const DesktopJoystick& m : d.joysticks) {
        JoystickState input;
        int32_t* axes[] = {&input.x, &input.y, &input.z, &input.rx, &input.ry, &input.rz, &input.sliders[0],
                           &input.sliders[1]};
        const int naxes = std::min(SDL_JoystickNumAxes(m.joystick), 8);
        for (int a = 0; a < 8; ++a) *axes[a] = a < naxes ? SDL_JoystickGetAxis(m.joystick, a) : 0;
        const int nbuttons = std::min(SDL_JoystickNumButtons(m.joystick), int(kJoystickButtons));
        for (int b = 0; b < nbuttons; ++b) input.buttons[b] = SDL_JoystickGetButton(m.joystick, b) ? 0x80 : 0;
        SetGameDeviceInput(m.gameDevice, input);
    }
}

}  // namespace detail

}  // namespace hid
