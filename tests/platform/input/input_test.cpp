// test-sanitize: address
// The headless input layer: the key table against the documented codes, the device
// rules (data format, cooperative level, acquire and the foreground), game devices
// when unplugged, and pads.
#include <gtest/gtest.h>

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

TEST_F(InputTest, KeyTableHasTheDocumentedCodes) {
    // Scan code, virtual key, as the original platform documents them.
    const uint32_t cases[][2] = {{1, 0x1B},   {28, 13},    {29, 17},    {42, 16},    {56, 18},   {57, 0x20},
                                 {102, 0x7E}, {156, 13},   {157, 17},   {200, 0x26}, {203, 0x25}, {205, 0x27},
                                 {208, 0x28}, {211, 0x2E}, {237, 0xB5}, {0x1E, 'A'}, {0x2C, 'Z'}, {0x0B, '0'}};
    for (const auto& c : cases) {
        const KeyInfo* k = FindKeyByScanCode(c[0]);
        ASSERT_NE(k, nullptr) << c[0];
        EXPECT_EQ(k->virtualKey, c[1]) << c[0];
    }
    for (uint32_t scan : {0u, 84u, 85u, 89u, 99u, 103u, 111u, 255u, 256u}) EXPECT_EQ(KeyName(scan), nullptr) << scan;
    // Ascending codes, unique names; a shared virtual key finds the left key.
    std::set<std::string> names;
    for (uint32_t i = 0; i < KeyTableSize(); ++i) {
        EXPECT_TRUE(i == 0 || KeyTable()[i - 1].scanCode < KeyTable()[i].scanCode) << i;
        EXPECT_TRUE(names.insert(KeyTable()[i].name).second) << KeyTable()[i].name;
    }
    EXPECT_EQ(FindKeyByVirtualKey(kVirtualKeyControl)->scanCode, 29);
    EXPECT_EQ(FindKeyByVirtualKey(kVirtualKeyReturn)->scanCode, 28);
    EXPECT_EQ(FindKeyByVirtualKey(0), nullptr);
}

TEST_F(InputTest, DevicesFollowTheAcquireRules) {
    const SystemHandle system = CreateInputSystem();
    DeviceHandle kb = 7;
    EXPECT_EQ(CreateKeyboardDevice(system + 1, &kb), Result::InvalidCall);
    EXPECT_EQ(kb, 0u);
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
    DeviceHandle d = 0;
    ASSERT_EQ(OpenGameDevice(system, stick, &d), Result::Ok);
    SetDataFormat(d, DataFormat::Joystick);
    SetCooperativeLevel(d, 1, kCoopExclusive | kCoopBackground);
    SetForeground(false);
    EXPECT_EQ(GetKeyboardState(kb, state), Result::NotAcquired);
    EXPECT_EQ(Acquire(kb), Result::OtherAppHasPriority);
    EXPECT_EQ(Acquire(d), Result::Ok);
    SetForeground(true);
    EXPECT_EQ(Acquire(kb), Result::Ok);

    // Unplugged: every call but Release fails, and the device cannot be opened again.
    JoystickState js;
    DisconnectGameDevice(stick);
    EXPECT_EQ(GetJoystickState(d, &js), Result::InputLost);
    EXPECT_EQ(Poll(d), Result::InputLost);
    EXPECT_FALSE(SetGameDeviceInput(stick, js));
    DeviceHandle again = 1;
    EXPECT_EQ(OpenGameDevice(system, stick, &again), Result::InputLost);
    EXPECT_EQ(again, 0u);
    ReleaseDevice(d);
    ReleaseDevice(kb);
    EXPECT_EQ(OpenDeviceCount(), 0u);
    EXPECT_EQ(Acquire(kb), Result::InvalidCall);
}

TEST_F(InputTest, PadsByUserIndex) {
    PadState s;
    EXPECT_FALSE(SetPadState(0, s));
    EXPECT_FALSE(GetPadState(4, &s));
    ConnectPad(2);
    PadState in;
    in.buttons = 0x1000;
    in.thumbLX = -32768;
    ASSERT_TRUE(SetPadState(2, in));
    ASSERT_TRUE(GetPadState(2, &s));
    EXPECT_EQ(std::make_tuple(s.buttons, s.thumbLX), std::make_tuple(0x1000, -32768));
    DisconnectPad(2);
    EXPECT_FALSE(GetPadState(2, &s));
    ConnectPad(2);
    GetPadState(2, &s);
    EXPECT_EQ(s.buttons, 0) << "a reconnected pad starts from rest";
}

}  // namespace
