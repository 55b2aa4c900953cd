// The desktop back end of the input layer, on SDL2: the desktop keyboard's state read
// through the key table, and the desktop's game controllers in the pad slots.
#include <SDL2/SDL.h>

#include <algorithm>
#include <string>

#include "platform/input/InputImpl.h"

namespace hid {

using namespace detail;

namespace {

struct Desktop {
    bool running = false;
    SDL_GameController* pads[kMaxPads] = {};
    SDL_JoystickID ids[kMaxPads] = {};
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

}  // namespace

bool StartDesktopInput(const char** reason) {
    Desktop& d = GetDesktop();
    if (d.running) return true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        gReason = std::string("the controller system did not start: ") + SDL_GetError();
        if (reason) *reason = gReason.c_str();
        return false;
    }
    // Controllers are read by polling: their events would only fill the queue.
    SDL_GameControllerEventState(SDL_IGNORE);
    SDL_JoystickEventState(SDL_IGNORE);
    d.running = true;
    if (reason) *reason = "";
    return true;
}

void StopDesktopInput() {
    Desktop& d = GetDesktop();
    if (!d.running) return;
    for (uint32_t i = 0; i < kMaxPads; ++i) ClosePad(i);
    d.running = false;
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

bool IsDesktopInput() { return GetDesktop().running; }

bool SetPadVibration(uint32_t user, uint16_t leftMotor, uint16_t rightMotor) {
    const Desktop& d = GetDesktop();
    if (!d.running || user >= kMaxPads || !d.pads[user]) return false;
    // Until told otherwise: the platform's motors keep their speed.
    return SDL_GameControllerRumble(d.pads[user], leftMotor, rightMotor, SDL_HAPTIC_INFINITY) == 0;
}

namespace detail {

void AddDesktopKeys(uint8_t* state) {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;  // the keyboard is read through the windows
    int count = 0;
    const Uint8* keys = SDL_GetKeyboardState(&count);
    if (!keys) return;
    for (uint32_t i = 0; i < UsbUsageCount(); ++i) {
        const uint32_t usage = UsbUsageAt(i);
        if (int(usage) < count && keys[usage]) state[ScanCodeFromUsbUsage(usage)] |= kKeyDownBit;
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

}  // namespace detail

}  // namespace hid
