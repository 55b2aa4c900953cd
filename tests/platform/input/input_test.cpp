// test-sanitize: address
// The headless input layer: the key table, the device rules, game devices and pads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "platform/input/Input.h"
#include "platform/input/Keys.h"

namespace {

using namespace hid;

class InputTest : public testing::Test {
protected:
    void SetUp() override { ResetInputLayer(); }
    void TearDown() override { ResetInputLayer(); }
};

// A game device opened with the joystick format and the given cooperative level.
DeviceHandle OpenStick(SystemHandle system, uint32_t id, uint32_t coop) {
    DeviceHandle d = 0;
    EXPECT_EQ(OpenGameDevice(system, id, &d), Result::Ok);
    EXPECT_EQ(SetDataFormat(d, DataFormat::Joystick), Result::Ok);
    EXPECT_EQ(SetCooperativeLevel(d, 1, coop), Result::Ok);
    return d;
}

TEST_F(InputTest, KeyTableHasTheDocumentedCodes) {
    // Ascending codes, unique names, every row found by its code; a shared virtual key finds the left key.
    std::set<std::string> names;
    for (uint32_t i = 0; i < KeyTableSize(); ++i) {
        EXPECT_TRUE(i == 0 || KeyTable()[i - 1].scanCode < KeyTable()[i].scanCode) << i;
        EXPECT_TRUE(names.insert(KeyTable()[i].name).second) << KeyTable()[i].name;
        EXPECT_EQ(FindKeyByScanCode(KeyTable()[i].scanCode), &KeyTable()[i]) << i;
    }
    for (uint32_t scan : {0u, 84u, 255u, 256u}) EXPECT_EQ(KeyName(scan), nullptr) << scan;
    EXPECT_EQ(std::make_pair(FindKeyByVirtualKey(kVirtualKeyControl)->scanCode, FindKeyByVirtualKey(kVirtualKeyReturn)->scanCode),
              std::make_pair(uint8_t(29), uint8_t(28)));
    EXPECT_TRUE(FindKeyByVirtualKey(0) == nullptr && FindKeyByVirtualKey(0xFF) == nullptr);
    // Key binds and script constants store these numbers: FNV-1a over every row, pinned once checked.
    uint32_t digest = 2166136261u;
    auto mix = [&](uint8_t byte) { digest = (digest ^ byte) * 16777619u; };
    for (uint32_t i = 0; i < KeyTableSize(); ++i) {
        mix(KeyTable()[i].scanCode);
        mix(KeyTable()[i].virtualKey);
        for (const char* c = KeyTable()[i].name; *c; ++c) mix(uint8_t(*c));
    }
    EXPECT_EQ(digest, 2002756557u);
}

TEST_F(InputTest, KeyboardSourceKeepsEveryCodeBelow256) {
    uint8_t state[kKeyStateBytes];
    for (uint32_t scan : {0u, 1u, 254u, 255u}) SetKeyDown(scan, true);
    SetKeyDown(256, true);
    ASSERT_TRUE(SetVirtualKeyDown(kVirtualKeyShift, true));
    ReadKeyboardSource(state);
    EXPECT_EQ(std::count(state, state + kKeyStateBytes, kKeyDownBit), 5);
    EXPECT_EQ(std::make_tuple(state[0], state[255], state[42], state[54]), std::make_tuple(0x80, 0x80, 0x80, 0));
    SetKeyDown(255, false);
    ASSERT_TRUE(SetVirtualKeyDown(kVirtualKeyShift, false));
    ReadKeyboardSource(state);
    EXPECT_EQ(std::make_tuple(state[255], state[42], state[254]), std::make_tuple(0, 0, 0x80));
    ReleaseAllKeys();
    ReadKeyboardSource(state);
    EXPECT_EQ(std::count(state, state + kKeyStateBytes, 0), 256);
}

TEST_F(InputTest, DevicesFollowTheAcquireRules) {
    const SystemHandle system = CreateInputSystem();
    DeviceHandle kb = 7;
    EXPECT_TRUE(CreateKeyboardDevice(system + 1, &kb) == Result::InvalidCall && kb == 0u);
    ASSERT_EQ(CreateKeyboardDevice(system, &kb), Result::Ok);
    uint8_t state[256];
    EXPECT_EQ(Acquire(kb), Result::InvalidCall) << "no data format yet";
    EXPECT_EQ(SetDataFormat(kb, DataFormat::Joystick), Result::InvalidCall);
    ASSERT_EQ(SetDataFormat(kb, DataFormat::Keyboard), Result::Ok);
    // Exactly one mode and one place.
    const uint32_t ex = kCoopExclusive, non = kCoopNonExclusive, fg = kCoopForeground, bg = kCoopBackground;
    for (const auto& [flags, expected] : {std::pair{ex | fg, Result::Ok}, {non | bg, Result::Ok}, {ex | non | fg, Result::InvalidCall},
                                          {ex | fg | bg, Result::InvalidCall}, {fg, Result::InvalidCall}, {ex, Result::InvalidCall}})
        EXPECT_EQ(SetCooperativeLevel(kb, 0, flags), expected) << flags;
    EXPECT_EQ(SetCooperativeLevel(kb + 1, 0, ex | fg), Result::InvalidCall);
    ASSERT_EQ(SetCooperativeLevel(kb, 1, kCoopNonExclusive | kCoopForeground | kCoopNoWindowsKey), Result::Ok);
    EXPECT_EQ(GetKeyboardState(kb, state), Result::NotAcquired);
    for (Result want : {Result::Ok, Result::AlreadyAcquired}) ASSERT_EQ(Acquire(kb), want);

    SetKeyDown(0x1E, true);
    ASSERT_TRUE(SetVirtualKeyDown(kVirtualKeyControl, true));
    EXPECT_FALSE(SetVirtualKeyDown(0xFF, true));
    SetKeyDown(300, true);  // ignored
    ASSERT_EQ(GetKeyboardState(kb, state), Result::Ok);
    EXPECT_EQ(std::make_tuple(state[0x1E], state[29], state[0x1F]), std::make_tuple(0x80, 0x80, 0));
    char name[16];
    EXPECT_FALSE(GetObjectName(kb, 57, name, 5)) << "\"Space\" and its terminator need 6";
    EXPECT_STREQ(name, "");

    // A foreground device loses the acquire with the foreground; a background one not.
    const uint32_t stick = ConnectGameDevice({.instanceName = "Stick"});
    const DeviceHandle d = OpenStick(system, stick, kCoopExclusive | kCoopBackground);
    SetForeground(false);
    EXPECT_EQ(GetKeyboardState(kb, state), Result::NotAcquired);
    EXPECT_EQ(Acquire(kb), Result::OtherAppHasPriority);
    EXPECT_EQ(Acquire(d), Result::Ok);
    SetForeground(true);
    EXPECT_EQ(Acquire(kb), Result::Ok);

    // Unplugged: every call but Release fails, and the device cannot be opened again;
    // the keyboard and the other game devices stay acquired.
    const DeviceHandle p = OpenStick(system, ConnectGameDevice({.instanceName = "Pad"}), kCoopNonExclusive | kCoopBackground);
    ASSERT_EQ(Acquire(p), Result::Ok);
    JoystickState js;
    DisconnectGameDevice(stick);
    EXPECT_EQ(GetKeyboardState(kb, state), Result::Ok);
    EXPECT_EQ(GetJoystickState(p, &js), Result::Ok);
    ReleaseDevice(p);
    EXPECT_EQ(std::make_tuple(GetJoystickState(d, &js), Poll(d)), std::make_tuple(Result::InputLost, Result::InputLost));
    EXPECT_FALSE(SetGameDeviceInput(stick, js));
    DeviceHandle again = 1;
    EXPECT_TRUE(OpenGameDevice(system, stick, &again) == Result::InputLost && again == 0u);
    ReleaseDevice(d);
    ReleaseDevice(kb);
    EXPECT_TRUE(OpenDeviceCount() == 0u && Acquire(kb) == Result::InvalidCall);
}

TEST_F(InputTest, PadsByUserIndex) {
    PadState s;
    EXPECT_FALSE(SetPadState(0, s) || GetPadState(4, &s));
    ConnectPad(2);
    PadState in;
    in.buttons = 0x1000;
    in.thumbLX = -32768;
    ASSERT_TRUE(SetPadState(2, in));
    ASSERT_TRUE(GetPadState(2, &s));
    EXPECT_EQ(std::make_tuple(s.buttons, s.thumbLX), std::make_tuple(0x1000, -32768));
    ASSERT_TRUE(SetPadState(2, in));
    GetPadState(2, &s);
    EXPECT_EQ(s.packetNumber, 2u) << "the packet number counts the changes, whatever the caller set";
    DisconnectPad(2);
    EXPECT_FALSE(GetPadState(2, &s));
    EXPECT_EQ(std::make_tuple(PadReadCount(2), PadReadCount(0), PadReadCount(4)), std::make_tuple(3u, 0u, 0u));
    ConnectPad(2);
    GetPadState(2, &s);
    EXPECT_EQ(s.buttons, 0) << "a reconnected pad starts from rest";
    ConnectPad(4);
    DisconnectPad(4);
    EXPECT_EQ(GetStickyKeys(), StickyKeys{0x1FE}) << "no pad slot past the last";
}

TEST_F(InputTest, JoystickAxesAreClampedToTheRangeAndObjectsNamed) {
    const SystemHandle system = CreateInputSystem();
    const uint32_t stick = ConnectGameDevice({.instanceName = "Stick"});
    DeviceHandle d = 0;
    ASSERT_EQ(OpenGameDevice(system, stick, &d), Result::Ok);
    JoystickState js;
    EXPECT_EQ(GetJoystickState(d, &js), Result::InvalidCall) << "no data format yet";
    ASSERT_EQ(SetDataFormat(d, DataFormat::Joystick), Result::Ok);
    SetCooperativeLevel(d, 0, kCoopNonExclusive | kCoopBackground);
    EXPECT_EQ(std::make_tuple(GetJoystickState(d, &js), Poll(d)), std::make_tuple(Result::NotAcquired, Result::NotAcquired));
    ASSERT_EQ(Acquire(d), Result::Ok);
    EXPECT_EQ(Poll(d), Result::Ok);

    JoystickState in;
    in.x = -5, in.y = 70000, in.z = 300, in.rx = -1000, in.ry = 999, in.rz = 1000, in.sliders[0] = -1001, in.sliders[1] = 1001;
    in.buttons[31] = 0x80;
    ASSERT_TRUE(SetGameDeviceInput(stick, in));
    ASSERT_EQ(GetJoystickState(d, &js), Result::Ok);
    EXPECT_EQ(std::make_tuple(js.x, js.y, js.z), std::make_tuple(0, 65535, 300)) << "default range 0..65535";
    EXPECT_EQ(std::make_tuple(SetAxisRange(d, 5, 5), SetAxisRange(d, 6, 5)), std::make_tuple(Result::InvalidCall, Result::InvalidCall));
    ASSERT_EQ(SetAxisRange(d, -1000, 1000), Result::Ok);
    ASSERT_EQ(GetJoystickState(d, &js), Result::Ok);
    EXPECT_EQ(std::make_tuple(js.x, js.y, js.z, js.rx, js.ry, js.rz, js.sliders[0], js.sliders[1], js.buttons[31]),
              std::make_tuple(-5, 1000, 300, -1000, 999, 1000, -1000, 1000, 0x80));
    EXPECT_EQ(Unacquire(d), Result::Ok);
    EXPECT_EQ(GetJoystickState(d, &js), Result::NotAcquired);

    struct Name { uint32_t offset; const char* name; };
    const Name names[] = {{0, "X Axis"}, {20, "Z Rotation"}, {2, ""}, {24, ""}, {47, ""}, {48, "Button 1"}, {79, "Button 32"}, {80, ""}};
    char buffer[16];
    for (const Name& n : names) {
        EXPECT_EQ(GetObjectName(d, n.offset, buffer, sizeof buffer), n.name[0] != 0) << n.offset;
        EXPECT_STREQ(buffer, n.name) << n.offset;
    }
    EXPECT_TRUE(GetObjectName(d, 0, buffer, 7));  // "X Axis" and its terminator
    std::strcpy(buffer, "stale");
    EXPECT_FALSE(GetObjectName(d, 0, buffer, 6) || GetObjectName(d, 0, nullptr, 16));
    EXPECT_STREQ(buffer, "");

    DeviceHandle kb = 0;
    ASSERT_EQ(CreateKeyboardDevice(system, &kb), Result::Ok);
    EXPECT_EQ(SetAxisRange(kb, 0, 1), Result::InvalidCall);
    EXPECT_EQ(GetJoystickState(kb, &js), Result::InvalidCall);
    uint8_t keys[kKeyStateBytes];
    EXPECT_EQ(GetKeyboardState(d, keys), Result::InvalidCall) << "a game device has no keys";
    EXPECT_TRUE(GetObjectName(kb, 57, buffer, 6));
    EXPECT_STREQ(buffer, "Space");
    DisconnectGameDevice(stick);
    EXPECT_FALSE(GetObjectName(d, 48, buffer, sizeof buffer));
    EXPECT_EQ(SetAxisRange(d, 0, 1), Result::InputLost);
    EXPECT_EQ(Acquire(d), Result::InputLost);
}

TEST_F(InputTest, GameDevicesAreListedInConnectionOrderUpToTheirLimit) {
    const std::string longName(80, 'n');
    const uint32_t first = ConnectGameDevice({.instanceName = longName.c_str(), .productName = "Pad", .vendorId = 0x045E,
                                              .productId = 0x028E, .pnpDeviceId = "HID\\VID_045E&PID_028E&IG_00"});
    for (uint32_t i = 1; i < kMaxGameDevices; ++i) ASSERT_NE(ConnectGameDevice({.pnpDeviceId = nullptr}), 0u) << i;
    EXPECT_EQ(ConnectGameDevice({}), 0u);
    EXPECT_EQ(GameDeviceCount(), kMaxGameDevices);
    GameDeviceInfo info;
    ASSERT_TRUE(GetGameDevice(0, &info));
    EXPECT_EQ(std::make_tuple(info.id, std::strlen(info.instanceName), std::string(info.productName), info.productGuidData1),
              std::make_tuple(first, size_t(63), std::string("Pad"), 0x028E045Eu));
    EXPECT_TRUE(GetGameDevice(kMaxGameDevices - 1, &info) && !GetGameDevice(kMaxGameDevices, &info) && !GetGameDevice(0, nullptr));

    // Unplugged devices leave the list and make room; their handles stay unusable.
    DisconnectGameDevice(first);
    DisconnectGameDevice(9999);
    EXPECT_EQ(std::make_tuple(GameDeviceCount(), PnpEntityCount()), std::make_tuple(kMaxGameDevices - 1, kMaxGameDevices - 1));
    ASSERT_TRUE(GetGameDevice(0, &info));
    EXPECT_EQ(info.id, first + 1);
    EXPECT_STREQ(PnpEntityDeviceId(0), "");
    EXPECT_EQ(PnpEntityDeviceId(kMaxGameDevices - 1), nullptr);
    const uint32_t last = ConnectGameDevice({.pnpDeviceId = "last", .forceFeedback = true});
    ASSERT_NE(last, 0u);
    EXPECT_STREQ(PnpEntityDeviceId(kMaxGameDevices - 1), "last");

    const SystemHandle system = CreateInputSystem();
    DeviceHandle d = 5;
    EXPECT_EQ(OpenGameDevice(system, 9999, &d), Result::InputLost);
    EXPECT_EQ(OpenGameDevice(system + 1, last, &d), Result::InvalidCall);
    EXPECT_EQ(OpenGameDevice(system, last, nullptr), Result::InvalidCall);
    DisconnectGameDevice(first + 1);
    const uint32_t busy = ConnectGameDevice({.creatable = false});
    EXPECT_TRUE(OpenGameDevice(system, busy, &d) == Result::Failed && d == 0u);

    // Force feedback: only on devices that have it.
    DeviceHandle plain = 0, strong = 0, kb = 0;
    ASSERT_EQ(OpenGameDevice(system, first + 2, &plain), Result::Ok);
    ASSERT_EQ(OpenGameDevice(system, last, &strong), Result::Ok);
    ASSERT_EQ(CreateKeyboardDevice(system, &kb), Result::Ok);
    EffectHandle e = 9;
    EXPECT_TRUE(CreateConstantForceEffect(plain, {}, &e) == Result::NoEffect && e == 0u);
    EXPECT_EQ(CreateConstantForceEffect(kb, {}, &e), Result::InvalidCall);
    EXPECT_EQ(CreateConstantForceEffect(strong, {}, nullptr), Result::InvalidCall);
    ASSERT_TRUE(CreateConstantForceEffect(strong, {}, &e) == Result::Ok && e != 0u);
    ReleaseEffect(e);
    DisconnectGameDevice(last);
    EXPECT_EQ(CreateConstantForceEffect(strong, {}, &e), Result::InputLost);
    ReleaseDevice(strong);
    EXPECT_EQ(OpenDeviceCount(), 2u);
}

TEST_F(InputTest, FailuresSettingsAndConfiguration) {
    SetInputSystemFailure(true);
    EXPECT_EQ(CreateInputSystem(), 0u);
    SetInputSystemFailure(false);
    const SystemHandle system = CreateInputSystem();
    DeviceHandle kb = 3;
    SetKeyboardCreationFailure(true);
    EXPECT_TRUE(CreateKeyboardDevice(system, &kb) == Result::Failed && kb == 0u);
    SetKeyboardCreationFailure(false);
    ReleaseInputSystem(system);
    EXPECT_EQ(CreateKeyboardDevice(system, &kb), Result::InvalidCall);

    EXPECT_TRUE(ReadJoystickConfig(0) && !ReadJoystickConfig(1));
    SetJoystickConfigAvailable(false);
    EXPECT_FALSE(ReadJoystickConfig(0));

    // The accessibility keys the program saves and restores: defaults, and the reset.
    SetStickyKeys({1});
    SetFilterKeys({3, 4, 5, 6, 7});
    SetForeground(false);
    ResetInputLayer();
    EXPECT_TRUE(IsForeground() && ReadJoystickConfig(0) && GetStickyKeys() == StickyKeys{0x1FE});
    EXPECT_EQ(std::make_tuple(GetToggleKeys(), GetFilterKeys()), std::make_tuple(ToggleKeys{0x3E}, FilterKeys{0x7E, 1000, 500, 500, 0}));
}

}  // namespace

// Desktop keys (USB HID usages) reach the key table: every listed usage names a key of
// the table, usages are ascending and unique, and the keys the engine tests by number
// come out right.
TEST(DesktopKeys, UsagesMapIntoTheKeyTable) {
    uint32_t previous = 0;
    for (uint32_t i = 0; i < hid::UsbUsageCount(); ++i) {
        const uint32_t usage = hid::UsbUsageAt(i);
        EXPECT_GT(usage, previous) << i;
        previous = usage;
        EXPECT_NE(hid::FindKeyByScanCode(hid::ScanCodeFromUsbUsage(usage)), nullptr) << usage;
    }
    const struct {
        uint32_t usage, scanCode, virtualKey;
    } cases[] = {
        {4, 0x1E, 0x41},    // A
        {29, 0x2C, 0x5A},   // Z
        {39, 0x0B, 0x30},   // 0
        {40, 0x1C, 13},     // Enter
        {88, 0x9C, 13},     // numeric-pad Enter reports Enter
        {41, 0x01, 0x1B},   // Esc
        {58, 0x3B, 0x70},   // F1
        {69, 0x58, 0x7B},   // F12
        {82, 0xC8, 0x26},   // Up
        {224, 0x1D, 17},    // left Ctrl
        {228, 0x9D, 17},    // right Ctrl reports Ctrl
        {229, 0x36, 16},    // right Shift reports Shift
        {230, 0xB8, 18},    // right Alt reports Alt
        {0, 0, 0},          // no key
        {1000, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hid::ScanCodeFromUsbUsage(c.usage), c.scanCode) << c.usage;
        EXPECT_EQ(hid::VirtualKeyFromUsbUsage(c.usage), c.virtualKey) << c.usage;
    }
}
