// The desktop's game controllers in the pad slots, driven through SDL's virtual
// joystick: plugging in, sticks past the dead zone, buttons, triggers, rumble and
// unplugging reach the engine's pad reader step by step.
// test-link: engine
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "engine/input/GameControllers.h"
#include "platform/input/Input.h"
#include "platform/os/Clock.h"

namespace {

using hid::VirtualAxis;
using hid::VirtualButton;

class DesktopPadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        hid::ResetInputLayer();
        const char* reason = nullptr;
        if (!hid::StartDesktopInput(&reason)) GTEST_SKIP() << "no controller system: " << reason;
        pad.Init(0, now);
    }
    void TearDown() override { hid::ResetInputLayer(); }

    // One frame of the reader, far enough after the last that an absent pad is looked for.
    bool Update() {
        now += 10 * os::kCounterFrequency;
        return pad.Update(now);
    }

    XInputController pad;
    int64_t now = 0;
};

TEST_F(DesktopPadsTest, PlugMovePressAndUnplug) {
    EXPECT_FALSE(pad.IsConnected());
    const uint32_t id = hid::AttachVirtualController();
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(Update());  // connected
    ASSERT_TRUE(pad.IsConnected());
    EXPECT_EQ(pad.LeftTrigger(), 0.0f);  // at rest
    EXPECT_EQ(pad.Sticks()[0], 0.0f);

    struct Stick {
        VirtualAxis x, y;
        int16_t rawX, rawY;   // the device's values (y down)
        float deadZone;
        int stick;            // index of x in Sticks()
    } sticks[] = {
        {VirtualAxis::LeftX, VirtualAxis::LeftY, 20000, -20000, kXControllerLeftDeadZone, 0},
        {VirtualAxis::LeftX, VirtualAxis::LeftY, 5000, 5000, kXControllerLeftDeadZone, 0},  // inside: nothing
        {VirtualAxis::RightX, VirtualAxis::RightY, -32768, 32767, kXControllerRightDeadZone, 2},
    };
    for (const Stick& s : sticks) {
        SCOPED_TRACE(s.rawX);
        ASSERT_TRUE(hid::SetVirtualControllerAxis(id, s.x, s.rawX));
        ASSERT_TRUE(hid::SetVirtualControllerAxis(id, s.y, s.rawY));
        Update();
        const float y = float(std::clamp(-int32_t(s.rawY), -32768, 32767));  // y up for the reader
        EXPECT_FLOAT_EQ(pad.Sticks()[s.stick], ApplyDeadZone(s.rawX * kXControllerStickScale, s.deadZone));
        EXPECT_FLOAT_EQ(pad.Sticks()[s.stick + 1], ApplyDeadZone(y * kXControllerStickScale, s.deadZone));
        if (s.rawX == 20000) {  // right and up, past the dead zone
            EXPECT_GT(pad.Sticks()[0], 0.0f);
            EXPECT_GT(pad.Sticks()[1], 0.0f);
        }
    }

    struct Button {
        VirtualButton button;
        uint16_t mask;
    } buttons[] = {{VirtualButton::A, hid::kPadA},           {VirtualButton::Y, hid::kPadY},
                   {VirtualButton::Start, hid::kPadStart},   {VirtualButton::DpadLeft, hid::kPadDpadLeft},
                   {VirtualButton::RightShoulder, hid::kPadRightShoulder}};
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.mask);
        ASSERT_TRUE(hid::SetVirtualControllerButton(id, b.button, true));
        Update();
        EXPECT_TRUE(pad.IsKeyPressed(b.mask));
        EXPECT_TRUE(pad.IsKeyPressedForTheFirstTime(b.mask));
        Update();
        EXPECT_TRUE(pad.IsKeyPressed(b.mask));
        EXPECT_FALSE(pad.IsKeyPressedForTheFirstTime(b.mask));
        ASSERT_TRUE(hid::SetVirtualControllerButton(id, b.button, false));
        Update();
        EXPECT_FALSE(pad.IsKeyPressed(b.mask));
    }

    ASSERT_TRUE(hid::SetVirtualControllerAxis(id, VirtualAxis::RightTrigger, 32767));
    ASSERT_TRUE(hid::SetVirtualControllerAxis(id, VirtualAxis::LeftTrigger, 3000));  // 23 of 255: not pressed
    Update();
    EXPECT_FLOAT_EQ(pad.RightTrigger(), 1.0f);
    EXPECT_TRUE(pad.IsKeyPressed(kXControllerRightTrigger));
    EXPECT_FALSE(pad.IsKeyPressed(kXControllerLeftTrigger));

    EXPECT_TRUE(hid::SetPadVibration(0, 1000, 60000));
    uint16_t low = 0, high = 0;
    ASSERT_TRUE(hid::VirtualControllerRumble(id, &low, &high));
    EXPECT_EQ(std::make_pair(low, high), std::make_pair(uint16_t(1000), uint16_t(60000)));
    EXPECT_FALSE(hid::SetPadVibration(1, 1, 1));  // no controller there

    ASSERT_TRUE(hid::DetachVirtualController(id));
    EXPECT_TRUE(Update());  // disconnected
    EXPECT_FALSE(pad.IsConnected());
    EXPECT_EQ(pad.Sticks()[2], 0.0f);
}

TEST_F(DesktopPadsTest, ControllersTakeTheLowestFreeSlots) {
    hid::ConnectPad(0);  // a test's own pad keeps slot 0
    const uint32_t first = hid::AttachVirtualController(), second = hid::AttachVirtualController();
    ASSERT_TRUE(first && second);
    hid::PadState state;
    for (uint32_t user = 0; user < 3; ++user) EXPECT_TRUE(hid::GetPadState(user, &state)) << user;
    EXPECT_FALSE(hid::GetPadState(3, &state));
    ASSERT_TRUE(hid::SetVirtualControllerButton(second, VirtualButton::B, true));
    ASSERT_TRUE(hid::GetPadState(2, &state));
    EXPECT_EQ(state.buttons, hid::kPadB);
    const uint32_t packet = state.packetNumber;
    ASSERT_TRUE(hid::GetPadState(2, &state));
    EXPECT_EQ(state.packetNumber, packet);  // nothing changed, no new packet
    ASSERT_TRUE(hid::DetachVirtualController(first));
    EXPECT_FALSE(hid::GetPadState(1, &state));
    EXPECT_TRUE(hid::GetPadState(2, &state));
}

TEST(DesktopPadsHeadless, NothingIsPluggedWithoutTheDesktop) {
    hid::ResetInputLayer();
    EXPECT_FALSE(hid::IsDesktopInput());
    EXPECT_EQ(hid::AttachVirtualController(), 0u);
    EXPECT_FALSE(hid::SetPadVibration(0, 1, 1));
    hid::PadState state;
    EXPECT_FALSE(hid::GetPadState(0, &state));
}

// The game-device list follows the desktop's joysticks; the controller database tells
// the pads ("IG_" in the plug-and-play id) from the other joysticks, whose axes reach
// the reader's range.
TEST_F(DesktopPadsTest, GameDevicesAndThePadOrJoystickQuestion) {
    const uint32_t controller = hid::AttachVirtualController(true), joystick = hid::AttachVirtualController(false);
    ASSERT_TRUE(controller && joystick);
    ASSERT_EQ(std::make_pair(hid::GameDeviceCount(), hid::PnpEntityCount()), std::make_pair(2u, 2u));
    const std::string pad = hid::PnpEntityDeviceId(0), other = hid::PnpEntityDeviceId(1);
    EXPECT_EQ(pad.rfind("HID\\VID_1209&PID_0001&IG_00\\", 0), 0u) << pad;
    EXPECT_EQ(other.find("IG_"), std::string::npos) << other;
    hid::GameDeviceInfo info;
    ASSERT_TRUE(hid::GetGameDevice(1, &info));
    EXPECT_EQ(std::make_pair(std::string(info.productName), info.productGuidData1),
              std::make_pair(std::string("Virtual joystick"), 0x00021209u));

    const hid::SystemHandle system = hid::CreateInputSystem();
    hid::DeviceHandle device = 0;
    ASSERT_EQ(hid::OpenGameDevice(system, info.id, &device), hid::Result::Ok);
    ASSERT_EQ(hid::SetDataFormat(device, hid::DataFormat::Joystick), hid::Result::Ok);
    ASSERT_EQ(hid::SetCooperativeLevel(device, 1, hid::kCoopExclusive | hid::kCoopForeground), hid::Result::Ok);
    ASSERT_EQ(hid::SetAxisRange(device, -1000, 1000), hid::Result::Ok);
    ASSERT_EQ(hid::Acquire(device), hid::Result::Ok);
    ASSERT_TRUE(hid::SetVirtualControllerAxis(joystick, VirtualAxis::LeftX, 32767));
    ASSERT_TRUE(hid::SetVirtualControllerAxis(joystick, VirtualAxis::LeftY, -32768));
    ASSERT_TRUE(hid::SetVirtualControllerButton(joystick, VirtualButton::B, true));
    ASSERT_EQ(hid::Poll(device), hid::Result::Ok);
    hid::JoystickState state;
    ASSERT_EQ(hid::GetJoystickState(device, &state), hid::Result::Ok);
    EXPECT_EQ(std::make_tuple(state.x, state.y, state.buttons[0], state.buttons[1]), std::make_tuple(1000, -1000, 0, 0x80));

    ASSERT_TRUE(hid::DetachVirtualController(joystick));
    EXPECT_EQ(hid::Poll(device), hid::Result::InputLost);
    EXPECT_EQ(hid::GameDeviceCount(), 1u);
    hid::ReleaseDevice(device);
    hid::ReleaseInputSystem(system);
}

}  // namespace
