#pragma once
// The headless input devices: an input system that opens the keyboard and game
// devices, four pad slots read by user index, the list of attached game devices with
// their plug-and-play ids, the joystick configuration, the accessibility-key
// settings and the foreground state that foreground devices depend on.
//
// Headless (unless the desktop back end below runs), no physical device is read.
// Nothing is connected until a test or the program connects it (ConnectPad, ConnectGameDevice); the keyboard's keys come from the
// keyboard source of Keys.h. Devices follow the shape of the original platform's:
// a data format and a cooperative level are set before Acquire; Poll and the state
// reads need an acquired device; a device opened for the foreground is unacquired
// when the foreground is lost and cannot be acquired again until it returns; an
// unplugged device fails every call but Release.
//
// Threads: main thread only.
#include <cstdint>

namespace hid {

enum class Result : uint8_t {
    Ok,
    AlreadyAcquired,  // Acquire on an acquired device: a success
    NotAcquired,      // Poll or a state read before Acquire (or after the foreground went)
    OtherAppHasPriority,  // Acquire of a foreground device without the foreground
    InputLost,        // the device was unplugged
    NoEffect,         // the device has no force feedback
    InvalidCall,      // unknown handle, missing data format, bad arguments
    Failed,           // injected creation failure
};
inline bool Succeeded(Result r) { return r == Result::Ok || r == Result::AlreadyAcquired; }

using SystemHandle = uint32_t;  // 0: none
using DeviceHandle = uint32_t;  // 0: none
using EffectHandle = uint32_t;  // 0: none

// ---------------------------------------------------------------------------------
// The input system and its devices.

// 0 while SetInputSystemFailure is on.
SystemHandle CreateInputSystem();
void ReleaseInputSystem(SystemHandle system);
void SetInputSystemFailure(bool fail);

Result CreateKeyboardDevice(SystemHandle system, DeviceHandle* device);
// While set, keyboard creation fails with Failed.
void SetKeyboardCreationFailure(bool fail);

enum class DataFormat : uint8_t { Keyboard, Joystick };
// Cooperative-level bits (the platform's values).
constexpr uint32_t kCoopExclusive = 0x1;
constexpr uint32_t kCoopNonExclusive = 0x2;
constexpr uint32_t kCoopForeground = 0x4;
constexpr uint32_t kCoopBackground = 0x8;
constexpr uint32_t kCoopNoWindowsKey = 0x10;

Result SetDataFormat(DeviceHandle device, DataFormat format);
// The window is kept as given (the layer knows no windows). Exactly one of
// exclusive / non-exclusive and one of foreground / background is required.
Result SetCooperativeLevel(DeviceHandle device, uint32_t window, uint32_t flags);
// The range every axis of a game device reports (min < max). Before it is set the
// axes report 0..65535.
Result SetAxisRange(DeviceHandle device, int32_t min, int32_t max);
Result Acquire(DeviceHandle device);
Result Unacquire(DeviceHandle device);
Result Poll(DeviceHandle device);
// 256 bytes from the keyboard source.
Result GetKeyboardState(DeviceHandle device, uint8_t* state);

constexpr uint32_t kJoystickButtons = 32;
// The joystick state record; axes in the device's range.
struct JoystickState {
    int32_t x = 0, y = 0, z = 0;
    int32_t rx = 0, ry = 0, rz = 0;
    int32_t sliders[2] = {};
    uint32_t pov[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    uint8_t buttons[kJoystickButtons] = {};  // bit 7: down
};
static_assert(sizeof(JoystickState) == 80, "the joystick record of the original platform");
// Offset of button i (0..31) within JoystickState, which names it as an object.
constexpr uint32_t JoystickButtonOffset(uint32_t i) { return 48 + i; }
Result GetJoystickState(DeviceHandle device, JoystickState* state);

// The object at a state offset: keyboard offsets are scan codes (the key names of
// Keys.h), joystick offsets name buttons ("Button 1" to "Button 32") and axes. False
// (buffer "") for no object there or a buffer too small.
bool GetObjectName(DeviceHandle device, uint32_t offset, char* buffer, uint32_t size);

// The constant force the engine prepares; nothing plays it.
struct ConstantForceEffect {
    uint32_t axisOffset = 0;      // the X axis: 0
    bool infiniteDuration = true;
    uint32_t gain = 10000;
    int32_t triggerButton = -1;   // -1: none
};
Result CreateConstantForceEffect(DeviceHandle device, const ConstantForceEffect& desc, EffectHandle* effect);
void ReleaseEffect(EffectHandle effect);
// Releases the device (acquired or not) and its effects.
void ReleaseDevice(DeviceHandle device);
uint32_t OpenDeviceCount();

// ---------------------------------------------------------------------------------
// Game devices: the controller source, as attached devices.

constexpr uint32_t kMaxGameDevices = 16;
struct GameDeviceDesc {
    const char* instanceName = "";
    const char* productName = "";
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    // The plug-and-play device id, as the hardware query reports it (an XInput pad's
    // contains "IG_", as in "HID\VID_045E&PID_028E&IG_00\7&2F7A&0&0000").
    const char* pnpDeviceId = "";
    bool forceFeedback = false;
    bool creatable = true;  // false: opening fails, as for a device in use elsewhere
};
struct GameDeviceInfo {
    uint32_t id;             // the connection id
    char instanceName[64];
    char productName[64];
    uint16_t vendorId, productId;
    uint32_t productGuidData1;  // the product identifier's first 32 bits: product id << 16 | vendor id
};

// Attaches a device and returns its id (0 when kMaxGameDevices are attached).
uint32_t ConnectGameDevice(const GameDeviceDesc& desc);
// Unplugs it: its open handles fail from now on.
void DisconnectGameDevice(uint32_t id);
// What the device reports from now on (axes clamped to the range set by the reader).
bool SetGameDeviceInput(uint32_t id, const JoystickState& input);

// The attached devices in connection order.
uint32_t GameDeviceCount();
bool GetGameDevice(uint32_t index, GameDeviceInfo* info);
Result OpenGameDevice(SystemHandle system, uint32_t id, DeviceHandle* device);

// The plug-and-play entities (every attached game device's id, in connection
// order): the hardware query the engine reads to tell XInput pads apart.
uint32_t PnpEntityCount();
const char* PnpEntityDeviceId(uint32_t index);  // null past the end

// The joystick configuration: whether configuration 0 can be read.
void SetJoystickConfigAvailable(bool available);
bool ReadJoystickConfig(uint32_t index);

// ---------------------------------------------------------------------------------
// Pads by user index (the XInput-shaped source).

constexpr uint32_t kMaxPads = 4;
struct PadState {
    uint32_t packetNumber = 0;
    uint16_t buttons = 0;
    uint8_t leftTrigger = 0, rightTrigger = 0;
    int16_t thumbLX = 0, thumbLY = 0, thumbRX = 0, thumbRY = 0;
};
void ConnectPad(uint32_t user);
void DisconnectPad(uint32_t user);
// Sets what a connected pad reports; the packet number counts the changes.
bool SetPadState(uint32_t user, const PadState& state);
// False for a pad that is not connected (or a user index of 4 or more).
bool GetPadState(uint32_t user, PadState* state);
uint32_t PadReadCount(uint32_t user);  // GetPadState calls, connected or not

// ---------------------------------------------------------------------------------
// The accessibility-key settings (plain values of the platform's records).

constexpr uint32_t kAccessFeatureOn = 0x1;
constexpr uint32_t kAccessHotKeyActive = 0x4;
constexpr uint32_t kAccessConfirmHotKey = 0x8;
struct StickyKeys {
    uint32_t flags = 0;
    bool operator==(const StickyKeys&) const = default;
};
struct ToggleKeys {
    uint32_t flags = 0;
    bool operator==(const ToggleKeys&) const = default;
};
struct FilterKeys {
    uint32_t flags = 0;
    uint32_t waitMs = 0, delayMs = 0, repeatMs = 0, bounceMs = 0;
    bool operator==(const FilterKeys&) const = default;
};
// Defaults: sticky 0x1FE, toggle 0x3E, filter 0x7E with 1000, 500, 500, 0 ms
// (available, hot key active with confirmation and sound, feature off).
StickyKeys GetStickyKeys();
ToggleKeys GetToggleKeys();
FilterKeys GetFilterKeys();
void SetStickyKeys(const StickyKeys& value);
void SetToggleKeys(const ToggleKeys& value);
void SetFilterKeys(const FilterKeys& value);

// ---------------------------------------------------------------------------------
// Whether the program's window is in the foreground (true until told otherwise).
// Losing it unacquires every device opened for the foreground.
void SetForeground(bool foreground);
bool IsForeground();

// ---------------------------------------------------------------------------------
// The desktop back end (SDL2). While it runs, the keyboard source also reads the
// desktop keyboard (a key pressed since the last read reads as down in that read even
// when it is already up again: a tap shorter than a frame is not lost), and the pad slots follow the desktop's game controllers: a
// controller plugged in takes the lowest free slot (ConnectPad), one unplugged frees
// its slot (DisconnectPad), and every GetPadState first reads what the open controllers
// report: the pad buttons, both triggers 0..255 and both sticks -32768..32767 with y
// up, raw (the reader applies its dead zones). Tests can still connect and set pads
// of free slots.

// False, with the reason, when the controller system does not start (the layer stays
// headless).
bool StartDesktopInput(const char** reason);
// Closes the controllers (their slots disconnect) and the controller system.
void StopDesktopInput();
bool IsDesktopInput();

// Rumble of a pad opened from a desktop controller: low- and high-frequency motor
// speeds 0..65535 (0 and 0 stop it). False for a slot without a desktop controller or
// one without motors.
bool SetPadVibration(uint32_t user, uint16_t leftMotor, uint16_t rightMotor);

// Test side: a virtual game controller (SDL's virtual joystick), seen by the back end
// exactly like one plugged in; with gameController false a joystick that the controller
// database does not know (a game device only, no pad). Axes and buttons in the desktop's controller numbering
// (below); axes -32768..32767 with y down, triggers 0..32767. Attach returns 0 when the
// back end is not running or the desktop refuses; Detach unplugs it.
enum class VirtualAxis : uint8_t { LeftX, LeftY, RightX, RightY, LeftTrigger, RightTrigger, Count };
enum class VirtualButton : uint8_t {
    A, B, X, Y, Back, Guide, Start, LeftStick, RightStick, LeftShoulder, RightShoulder,
    DpadUp, DpadDown, DpadLeft, DpadRight, Count
};
uint32_t AttachVirtualController(bool gameController = true);
bool SetVirtualControllerAxis(uint32_t id, VirtualAxis axis, int16_t value);
bool SetVirtualControllerButton(uint32_t id, VirtualButton button, bool down);
bool DetachVirtualController(uint32_t id);
// The last rumble a virtual controller was asked for (false when it never was).
bool VirtualControllerRumble(uint32_t id, uint16_t* leftMotor, uint16_t* rightMotor);

// Pad button masks (the platform's values).
constexpr uint16_t kPadDpadUp = 0x0001, kPadDpadDown = 0x0002, kPadDpadLeft = 0x0004, kPadDpadRight = 0x0008;
constexpr uint16_t kPadStart = 0x0010, kPadBack = 0x0020, kPadLeftThumb = 0x0040, kPadRightThumb = 0x0080;
constexpr uint16_t kPadLeftShoulder = 0x0100, kPadRightShoulder = 0x0200;
constexpr uint16_t kPadA = 0x1000, kPadB = 0x2000, kPadX = 0x4000, kPadY = 0x8000;

// Releases every device and restores the defaults: nothing connected, keys up,
// default accessibility settings, foreground, no failure injected; the desktop back
// end stops.
void ResetInputLayer();

}  // namespace hid
