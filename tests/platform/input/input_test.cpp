// test-sanitize: address
// The headless input layer: the key table against the documented codes, the
// keyboard and game devices through their acquire rules, pads, the plug-and-play
// list and the accessibility settings.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/input/Input.h"
#include "platform/input/Keys.h"

namespace {

using namespace hid;

class InputTest : public testing::Test {
protected:
    void SetUp() override { ResetInputLayer(); }
    void TearDown() override { ResetInputLayer(); }
};

TEST_F(InputTest, KeyTableHasTheDocumentedCodes) {
    // Scan codes and virtual keys as the original platform documents them.
    struct Case {
        uint32_t scan, vk;
    };
    const Case cases[] = {{1, 0x1B},    {28, 13},     {29, 17},     {42, 16},     {56, 18},     {57, 0x20},
                          {102, 0x7E},  {156, 13},    {157, 17},    {200, 0x26},  {203, 0x25},  {205, 0x27},
                          {208, 0x28},  {211, 0x2E},  {237, 0xB5},  {0x1E, 'A'},  {0x2C, 'Z'},  {0x0B, '0'}};
    for (const Case& c : cases) {
        const KeyInfo* k = FindKeyByScanCode(c.scan);
        ASSERT_NE(k, nullptr) << c.scan;
        EXPECT_EQ(k->virtualKey, c.vk) << c.scan;
    }
    // Gaps: codes without a key of their own.
    for (uint32_t scan : {0u, 84u, 85u, 89u, 99u, 103u, 111u, 255u, 256u}) {
        EXPECT_EQ(FindKeyByScanCode(scan), nullptr) << scan;
        EXPECT_EQ(KeyName(scan), nullptr) << scan;
    }
    // Ascending and unique codes, unique names, and a virtual key leads back to its
    // key unless an earlier key shares it.
    std::set<std::string> names;
    for (uint32_t i = 0; i < KeyTableSize(); ++i) {
        const KeyInfo& k = KeyTable()[i];
        if (i) {
            EXPECT_LT(KeyTable()[i - 1].scanCode, k.scanCode);
        }
        EXPECT_TRUE(names.insert(k.name).second) << k.name;
        if (k.virtualKey) {
            EXPECT_LE(FindKeyByVirtualKey(k.virtualKey)->scanCode, k.scanCode);
        }
    }
    EXPECT_EQ(FindKeyByVirtualKey(kVirtualKeyControl)->scanCode, 29);
    EXPECT_EQ(FindKeyByVirtualKey(kVirtualKeyReturn)->scanCode, 28);
    EXPECT_EQ(FindKeyByVirtualKey(0), nullptr);
    EXPECT_STREQ(KeyName(28), "Enter");
}

TEST_F(InputTest, KeyboardDeviceReadsTheSourceWhileAcquired) {
    const SystemHandle system = CreateInputSystem();
    ASSERT_NE(system, 0u);
    DeviceHandle kb = 0;
    ASSERT_EQ(CreateKeyboardDevice(system, &kb), Result::Ok);
    uint8_t state[256];
    EXPECT_EQ(Acquire(kb), Result::InvalidCall) << "no data format yet";
    EXPECT_EQ(SetDataFormat(kb, DataFormat::Joystick), Result::InvalidCall);
    ASSERT_EQ(SetDataFormat(kb, DataFormat::Keyboard), Result::Ok);
    EXPECT_EQ(SetCooperativeLevel(kb, 1, kCoopNonExclusive | kCoopExclusive | kCoopForeground), Result::InvalidCall);
    EXPECT_EQ(SetCooperativeLevel(kb, 1, kCoopNonExclusive), Result::InvalidCall);
    ASSERT_EQ(SetCooperativeLevel(kb, 1, kCoopNonExclusive | kCoopForeground | kCoopNoWindowsKey), Result::Ok);
    EXPECT_EQ(GetKeyboardState(kb, state), Result::NotAcquired);
    ASSERT_EQ(Acquire(kb), Result::Ok);
    EXPECT_EQ(Acquire(kb), Result::AlreadyAcquired);
    EXPECT_TRUE(Succeeded(Result::AlreadyAcquired));

    SetKeyDown(0x1E, true);
    ASSERT_TRUE(SetVirtualKeyDown(kVirtualKeyControl, true));
    EXPECT_FALSE(SetVirtualKeyDown(0xFF, true));
    SetKeyDown(300, true);  // ignored
    ASSERT_EQ(GetKeyboardState(kb, state), Result::Ok);
    EXPECT_EQ(state[0x1E], 0x80);
    EXPECT_EQ(state[29], 0x80);
    EXPECT_EQ(state[0x1F], 0);
    SetVirtualKeyDown('A', false);
    GetKeyboardState(kb, state);
    EXPECT_EQ(state[0x1E], 0);

    // Losing the foreground unacquires; acquiring fails until it returns.
    SetForeground(false);
    EXPECT_EQ(GetKeyboardState(kb, state), Result::NotAcquired);
    EXPECT_EQ(Acquire(kb), Result::OtherAppHasPriority);
    SetForeground(true);
    EXPECT_EQ(Acquire(kb), Result::Ok);

    char name[16];
    ASSERT_TRUE(GetObjectName(kb, 57, name, sizeof(name)));
    EXPECT_STREQ(name, "Space");
    EXPECT_FALSE(GetObjectName(kb, 57, name, 5));  // "Space" and its terminator need 6
    EXPECT_STREQ(name, "");
    EXPECT_FALSE(GetObjectName(kb, 84, name, sizeof(name)));

    ReleaseDevice(kb);
    EXPECT_EQ(OpenDeviceCount(), 0u);
    EXPECT_EQ(Acquire(kb), Result::InvalidCall);
}

TEST_F(InputTest, UnknownSystemsOpenNothing) {
    const SystemHandle system = CreateInputSystem();
    DeviceHandle kb = 7;
    EXPECT_EQ(CreateKeyboardDevice(system + 1, &kb), Result::InvalidCall);
    EXPECT_EQ(kb, 0u);
    ReleaseInputSystem(system);
    EXPECT_EQ(CreateKeyboardDevice(system, &kb), Result::InvalidCall);
}

// What the engine's controller tests do not reach: the device list, the default axis
// range, background devices, and calls on an unplugged device.
TEST_F(InputTest, GameDevicesListAndUnplug) {
    ConnectGameDevice({.instanceName = "Pad", .pnpDeviceId = "HID\\VID_045E&PID_028E&IG_00\\7&1"});
    const uint32_t stick = ConnectGameDevice({.instanceName = "Stick", .vendorId = 0x046D, .productId = 0xC215});
    GameDeviceInfo info;
    ASSERT_TRUE(GetGameDevice(1, &info));
    EXPECT_EQ(info.id, stick);
    EXPECT_STREQ(info.instanceName, "Stick");
    EXPECT_EQ(info.productGuidData1, 0xC215046Du);
    EXPECT_EQ(info.vendorId, 0x046D);
    ASSERT_EQ(PnpEntityCount(), 2u);
    EXPECT_STREQ(PnpEntityDeviceId(0), "HID\\VID_045E&PID_028E&IG_00\\7&1");
    EXPECT_EQ(PnpEntityDeviceId(2), nullptr);

    const SystemHandle system = CreateInputSystem();
    DeviceHandle d = 0;
    ASSERT_EQ(OpenGameDevice(system, stick, &d), Result::Ok);
    EXPECT_EQ(Acquire(d), Result::InvalidCall) << "no data format yet";
    SetDataFormat(d, DataFormat::Joystick);
    SetCooperativeLevel(d, 1, kCoopExclusive | kCoopBackground);
    EXPECT_EQ(SetAxisRange(d, 5, 5), Result::InvalidCall);
    SetForeground(false);
    EXPECT_EQ(Poll(d), Result::NotAcquired);
    ASSERT_EQ(Acquire(d), Result::Ok) << "a background device does not need the foreground";
    JoystickState in, out;
    in.x = -3;
    in.y = 70000;
    ASSERT_TRUE(SetGameDeviceInput(stick, in));
    ASSERT_EQ(GetJoystickState(d, &out), Result::Ok);
    EXPECT_EQ(out.x, 0) << "before a range is set the axes report 0..65535";
    EXPECT_EQ(out.y, 65535);
    char name[16];
    ASSERT_TRUE(GetObjectName(d, 20, name, sizeof(name)));
    EXPECT_STREQ(name, "Z Rotation");

    DisconnectGameDevice(stick);
    EXPECT_EQ(GameDeviceCount(), 1u);
    EXPECT_EQ(GetJoystickState(d, &out), Result::InputLost);
    EXPECT_FALSE(SetGameDeviceInput(stick, in));
    EXPECT_FALSE(GetObjectName(d, 20, name, sizeof(name)));
    DeviceHandle again = 1;
    EXPECT_EQ(OpenGameDevice(system, stick, &again), Result::InputLost);
    EXPECT_EQ(again, 0u);
    ReleaseDevice(d);
    EXPECT_EQ(OpenDeviceCount(), 0u);
}

TEST_F(InputTest, PadsByUserIndex) {
    PadState s;
    EXPECT_FALSE(GetPadState(0, &s));
    EXPECT_FALSE(SetPadState(0, s));
    ConnectPad(2);
    EXPECT_TRUE(GetPadState(2, &s));
    EXPECT_EQ(s.packetNumber, 0u);
    PadState in;
    in.buttons = 0x1000;
    in.leftTrigger = 30;
    in.thumbLX = -32768;
    ASSERT_TRUE(SetPadState(2, in));
    ASSERT_TRUE(SetPadState(2, in));
    ASSERT_TRUE(GetPadState(2, &s));
    EXPECT_EQ(s.packetNumber, 2u);
    EXPECT_EQ(s.buttons, 0x1000);
    EXPECT_EQ(s.thumbLX, -32768);
    EXPECT_EQ(PadReadCount(2), 2u);
    DisconnectPad(2);
    EXPECT_FALSE(GetPadState(2, &s));
    EXPECT_EQ(PadReadCount(2), 3u);
    EXPECT_FALSE(GetPadState(4, &s));
    ConnectPad(2);
    GetPadState(2, &s);
    EXPECT_EQ(s.buttons, 0) << "a reconnected pad starts from rest";
}

TEST_F(InputTest, AccessibilityAndJoystickConfiguration) {
    EXPECT_EQ(GetStickyKeys().flags, 0x1FEu);
    EXPECT_EQ(GetToggleKeys().flags, 0x3Eu);
    EXPECT_EQ(GetFilterKeys(), (FilterKeys{0x7E, 1000, 500, 500, 0}));
    SetFilterKeys({0x7F, 1, 2, 3, 4});
    EXPECT_EQ(GetFilterKeys().bounceMs, 4u);
    EXPECT_TRUE(ReadJoystickConfig(0));
    EXPECT_FALSE(ReadJoystickConfig(1));
    SetJoystickConfigAvailable(false);
    EXPECT_FALSE(ReadJoystickConfig(0));
}

}  // namespace
