// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// Game controllers: stick dead zones, triggers and first-time tests against a numpy
// float32 reference; the absent pad's re-check times; connection lines; the
// any-controller queries; choosing the DirectInput controller among devices that are
// not XInput pads; force feedback; release and reconnect around a device reset.
#include <gtest/gtest.h>

#include <sstream>

#include "CaptureLogSink.h"
#include "engine/NumpyReference.h"
#include "core/CrtRand.h"
#include "core/Time.h"
#include "engine/input/InputManager.h"
#include "platform/input/Input.h"
#include "platform/os/Clock.h"

namespace {

constexpr int64_t kFrame = os::kCounterFrequency / 60;

class ControllerTest : public testing::Test {
protected:
    void SetUp() override {
        hid::ResetInputLayer();
        clock.Install();
        Time::InitTimer(0, os::kCounterFrequency);
    }
    void TearDown() override {
        clock.Uninstall();
        Time::InitTimer();
        hid::ResetInputLayer();
    }
    int64_t Now() const { return clock.Now(); }

    os::ManualClock clock{0};
};

std::vector<std::string> Reference(const std::string& input) {
    return RunNumpyReference("input/controller_reference.py", input);
}

bool HasMessage(CaptureLogSink& sink, const std::string& text) {
    for (const auto& m : sink.Messages())
        if (m.text == text && m.severity == 1 && m.category == 2) return true;
    return false;
}

TEST_F(ControllerTest, SticksTakeTheDeadZoneAtAndBesideItsBoundary) {
    // Left x, left y, right x, right y.
    const int16_t cases[][4] = {{7849, -7849, 8689, -8689}, {7848, -7848, 8688, -8688}, {7850, -7850, 8690, -8690},
                                {7851, 7852, 8691, 8692},    {32767, -32768, 32767, -32768}, {0, 16384, -16384, 30000},
                                {-1, 1, 8000, -8000}};
    std::ostringstream in;
    for (const auto& c : cases)
        for (int k = 0; k < 4; ++k)
            in << "stick " << c[k] << " " << FloatBits(k < 2 ? kXControllerLeftDeadZone : kXControllerRightDeadZone) << "\n";
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(cases) * 4);

    hid::ConnectPad(1);
    XInputController pad;
    pad.Init(1, Now());
    for (size_t i = 0; i < std::size(cases); ++i) {
        hid::PadState s;
        s.thumbLX = cases[i][0], s.thumbLY = cases[i][1], s.thumbRX = cases[i][2], s.thumbRY = cases[i][3];
        hid::SetPadState(1, s);
        clock.Advance(kFrame);
        EXPECT_FALSE(pad.Update(Now()));
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(FloatBits(pad.Sticks()[k]), expected[i * 4 + k]) << "case " << i << " stick " << k;
    }
    // The boundary itself gives (almost) nothing, and one unit inside it exactly 0.
    EXPECT_EQ(ApplyDeadZone(7848 * kXControllerStickScale, kXControllerLeftDeadZone), 0.0f);
    EXPECT_EQ(ApplyDeadZone(1.5f, 0.2f), 1.0f);
}

TEST_F(ControllerTest, TriggersAndFirstTimeTests) {
    // One frame per row: buttons and the left trigger byte, then what the queries say.
    struct Frame {
        uint16_t buttons;
        uint8_t left;
        bool aPressed, aFirst, triggerFirst;
    };
    const Frame frames[] = {{0x1000, 31, true, true, true},   {0x1000, 31, true, false, false},
                            {0x0000, 30, false, false, false},  // exactly 30/255 is not pressed
                            {0x1000, 29, true, true, false},  {0x3000, 255, true, false, true},
                            {0x2000, 0, false, false, false}};
    std::ostringstream in;
    for (const Frame& f : frames) in << "trigger " << int(f.left) << "\n";
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(frames));

    hid::ConnectPad(0);
    XInputController pad;
    pad.Init(0, Now());
    for (size_t i = 0; i < std::size(frames); ++i) {
        SCOPED_TRACE(i);
        hid::PadState s;
        s.buttons = frames[i].buttons, s.leftTrigger = frames[i].left, s.rightTrigger = 255 - frames[i].left;
        hid::SetPadState(0, s);
        clock.Advance(kFrame);
        pad.Update(Now());
        std::istringstream ref(expected[i]);
        std::string bits;
        int pressed = 0;
        ref >> bits >> pressed;
        EXPECT_EQ(FloatBits(pad.LeftTrigger()), bits);
        EXPECT_EQ(pad.IsKeyPressed(kXControllerLeftTrigger), pressed != 0);
        EXPECT_EQ(pad.IsKeyPressedForTheFirstTime(kXControllerLeftTrigger), frames[i].triggerFirst);
        EXPECT_EQ(pad.IsKeyPressed(0x1000), frames[i].aPressed);
        EXPECT_EQ(pad.IsKeyPressedForTheFirstTime(0x1000), frames[i].aFirst);
        EXPECT_FLOAT_EQ(pad.RightTrigger(), (255 - frames[i].left) / 255.0f);
    }
}

TEST_F(ControllerTest, AbsentPadIsLookedForEveryTwoToFourAndAHalfSeconds) {
    constexpr uint32_t kSeed = 12345;
    constexpr int kWaits = 6;
    const auto expected = Reference("recheck " + std::to_string(kSeed) + " " +
                                    std::to_string(os::kCounterFrequency) + " " + std::to_string(kWaits) + "\n");
    ASSERT_EQ(expected.size(), 1u);
    std::vector<int64_t> waits;
    std::istringstream s(expected[0]);
    for (int64_t w; s >> w;) waits.push_back(w);
    ASSERT_EQ(waits.size(), size_t(kWaits));

    CrtSrand(kSeed);
    XInputController pad;
    pad.Init(3, Now());
    EXPECT_EQ(hid::PadReadCount(3), 1u);  // the creation read
    // Frames of 1/60 s: a read happens at the first frame past each check time, and
    // the next check is the read time plus the reference wait.
    int64_t expectedRead = kFrame;
    for (int i = 0; i < kWaits; ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(waits[i], 2 * os::kCounterFrequency);
        EXPECT_LE(waits[i], 45 * os::kCounterFrequency / 10);
        const uint32_t reads = hid::PadReadCount(3);
        while (hid::PadReadCount(3) == reads && Now() < 10 * os::kCounterFrequency * kWaits) {
            clock.Advance(kFrame);
            EXPECT_FALSE(pad.Update(Now()));
        }
        EXPECT_EQ(hid::PadReadCount(3), reads + 1);
        EXPECT_EQ(Now(), expectedRead);
        EXPECT_EQ(pad.NextCheckTime(), Now() + waits[i]);
        expectedRead = (pad.NextCheckTime() / kFrame + 1) * kFrame;
    }
}

TEST_F(ControllerTest, ConnectAndDisconnectAreLoggedAndReported) {
    CaptureLogSink sink;
    sink.Attach();
    CrtSrand(1);
    XInputController pad;
    pad.Init(2, Now());
    EXPECT_FALSE(pad.IsConnected());
    clock.Advance(1);
    EXPECT_FALSE(pad.Update(Now()));  // absent: the next look is seconds away
    hid::ConnectPad(2);
    clock.Advance(1);
    EXPECT_FALSE(pad.Update(Now())) << "found only at the next check";
    EXPECT_FALSE(pad.IsConnected());
    clock.Set(pad.NextCheckTime());
    EXPECT_FALSE(pad.Update(Now())) << "not before the check time has passed";
    clock.Advance(1);
    EXPECT_TRUE(pad.Update(Now()));
    EXPECT_TRUE(pad.IsConnected());
    EXPECT_TRUE(HasMessage(sink, "XBox controller #2 connected"));
    clock.Advance(1);
    EXPECT_FALSE(pad.Update(Now()));

    hid::PadState s;
    s.thumbLX = 32767;
    s.leftTrigger = 200;
    hid::SetPadState(2, s);
    clock.Advance(1);
    pad.Update(Now());
    EXPECT_EQ(pad.Sticks()[0], 1.0f);
    hid::DisconnectPad(2);
    clock.Advance(1);
    EXPECT_TRUE(pad.Update(Now()));
    EXPECT_FALSE(pad.IsConnected());
    EXPECT_EQ(pad.Sticks()[0], 0.0f);
    EXPECT_EQ(pad.LeftTrigger(), 0.0f);
    EXPECT_TRUE(HasMessage(sink, "XBox controller #2 disconnected"));
    clock.Advance(kFrame);
    EXPECT_FALSE(pad.Update(Now()));

    // A pad present at creation is connected without a line or a change.
    sink.Clear();
    hid::ConnectPad(0);
    XInputController present;
    present.Init(0, Now());
    EXPECT_TRUE(present.IsConnected());
    clock.Advance(1);
    EXPECT_FALSE(present.Update(Now()));
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(ControllerTest, AnyControllerIndexUsesTheEnabledPads) {
    for (uint32_t i = 0; i < 4; ++i) hid::ConnectPad(i);
    InputManager im;
    ASSERT_TRUE(im.Init(1));
    im.InitDevices(1);
    // Pad 0: small stick, right trigger 100, button 0x10; pad 1: long stick, left
    // trigger 200; pad 2: the longest stick and the largest triggers, but disabled.
    hid::PadState p0, p1, p2;
    p0.thumbLX = 20000;
    p0.rightTrigger = 100;
    p0.buttons = 0x10;
    p1.thumbLY = -30000;
    p1.thumbRX = 15000;
    p1.leftTrigger = 200;
    p2.thumbLX = p2.thumbLY = p2.thumbRX = p2.thumbRY = 32767;
    p2.leftTrigger = p2.rightTrigger = 255;
    p2.buttons = 0x8000;
    hid::SetPadState(0, p0);
    hid::SetPadState(1, p1);
    hid::SetPadState(2, p2);

    clock.Advance(1);
    im.Update();
    // Nothing enabled: the any-index sees nothing; a single index sees its pad.
    EXPECT_FALSE(im.IsXControllerPresent(kAnyController));
    EXPECT_EQ(im.GetXControllerAnalogInput(kAnyController), Vector());
    EXPECT_EQ(im.GetXControllerLeftTriggerInput(kAnyController), 0.0f);
    EXPECT_TRUE(im.IsXControllerPresent(2));
    EXPECT_TRUE(im.IsXControllerKeyPressed(0x8000, 2));

    im.EnableControllerInput(true, kAnyController);
    im.EnableControllerInput(false, 2);
    EXPECT_EQ(im.EnabledControllerMask(), 0b1011u);
    EXPECT_TRUE(im.IsXControllerPresent(kAnyController));
    const Vector sticks = im.GetXControllerAnalogInput(kAnyController);
    EXPECT_EQ(sticks.y, im.XController(1).Sticks()[1]);
    EXPECT_EQ(sticks.z, im.XController(1).Sticks()[2]);
    EXPECT_EQ(im.GetXControllerLeftTriggerInput(kAnyController), 200 / 255.0f);
    EXPECT_EQ(im.GetXControllerRightTriggerInput(kAnyController), 100 / 255.0f);
    EXPECT_TRUE(im.IsXControllerKeyPressed(0x10, kAnyController));
    EXPECT_TRUE(im.IsXControllerKeyPressedForTheFirstTime(0x10, kAnyController));
    EXPECT_FALSE(im.IsXControllerKeyPressed(0x8000, kAnyController)) << "pad 2 is disabled";
    EXPECT_TRUE(im.IsXControllerKeyPressed(kXControllerLeftTrigger, kAnyController));
    // Out-of-range indices see nothing.
    EXPECT_FALSE(im.IsXControllerPresent(4));
    EXPECT_FALSE(im.IsXControllerPresent(257));
    im.EnableControllerInput(true, 7);
    EXPECT_EQ(im.EnabledControllerMask(), 0b1011u);

    // Only pad 3 enabled, at rest: no positive trigger gives 0.
    im.EnableControllerInput(false, kAnyController);
    im.EnableControllerInput(true, 3);
    EXPECT_EQ(im.GetXControllerLeftTriggerInput(kAnyController), 0.0f);
    EXPECT_EQ(im.GetXControllerAnalogInput(kAnyController), Vector());
}

TEST_F(ControllerTest, XInputDeviceIdsFromPlugAndPlayIds) {
    struct Case {
        const char* pnp;
        bool recorded;
        uint32_t id;
    };
    const Case cases[] = {
        {"HID\\VID_045E&PID_028E&IG_00\\7&2F7A&0&0000", true, 0x028E045E},
        {"USB\\VID_046D&PID_C21D&IG_01\\8", true, 0xC21D046D},
        {"HID\\VID_046D&PID_C215\\6&1", false, 0},
        {"HID\\IG_02&PID_0B12", true, 0x0B120000},  // no vendor number: 0
        {"HID\\VID_zz&PID_12&IG_00", true, 0x00120000},
        {"", false, 0},
    };
    std::vector<uint32_t> expected;
    for (const Case& c : cases) {
        hid::ConnectGameDevice({.instanceName = "d", .pnpDeviceId = c.pnp});
        if (c.recorded) expected.push_back(c.id);
    }
    std::vector<uint32_t> ids;
    DirectInputController::ReadXInputDeviceIds(&ids);
    EXPECT_EQ(ids, expected);
}

TEST_F(ControllerTest, DirectInputControllerIsNeverAnXInputPad) {
    CaptureLogSink sink;
    sink.Attach();
    // An XInput pad shows up as a game device too; it must be skipped.
    hid::ConnectGameDevice({.instanceName = "Pad",
                            .vendorId = 0x045E,
                            .productId = 0x028E,
                            .pnpDeviceId = "HID\\VID_045E&PID_028E&IG_00\\1"});
    const hid::SystemHandle system = hid::CreateInputSystem();
    DirectInputController di;
    EXPECT_FALSE(di.Connect(system, 1));
    EXPECT_FALSE(di.IsConnected());
    EXPECT_EQ(hid::OpenDeviceCount(), 0u);

    hid::ConnectGameDevice({.instanceName = "In use", .vendorId = 1, .productId = 2, .creatable = false});
    hid::ConnectGameDevice({.instanceName = "Stick", .vendorId = 0x046D, .productId = 0xC215, .pnpDeviceId = "HID\\2"});
    ASSERT_TRUE(di.Connect(system, 1));
    EXPECT_STREQ(di.InstanceName(), "Stick");
    EXPECT_TRUE(di.HasJoystickConfig());
    EXPECT_EQ(di.XInputDeviceIds(), std::vector<uint32_t>{0x028E045E});
    EXPECT_FALSE(di.HasEffect());
    const auto messages = sink.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "DInput controller doesn't have FF");
    EXPECT_EQ(messages[1].text, "DInput controller connected");
    EXPECT_EQ(messages[1].severity, 1);
    EXPECT_EQ(messages[1].category, 2);

    // A second connect keeps the open device.
    EXPECT_TRUE(di.Connect(system, 1));
    EXPECT_EQ(hid::OpenDeviceCount(), 1u);

    // With force feedback: the effect, and no line about it.
    di.Release();
    sink.Clear();
    hid::ResetInputLayer();
    hid::SetJoystickConfigAvailable(false);
    const hid::SystemHandle again = hid::CreateInputSystem();
    hid::ConnectGameDevice({.instanceName = "Wheel", .forceFeedback = true});
    ASSERT_TRUE(di.Connect(again, 1));
    EXPECT_TRUE(di.HasEffect());
    EXPECT_FALSE(di.HasJoystickConfig());
    ASSERT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(sink.Messages()[0].text, "DInput controller connected");
}

TEST_F(ControllerTest, DirectInputSticksButtonsAndDisconnection) {
    const int32_t values[] = {-1000, -201, -200, -1, 0, 199, 200, 201, 600, 999, 1000};
    std::ostringstream in;
    for (int32_t v : values) in << "axis " << v << "\naxis " << -v << "\n";
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(values) * 2);

    CaptureLogSink sink;
    sink.Attach();
    const uint32_t id = hid::ConnectGameDevice({.instanceName = "Stick"});
    const hid::SystemHandle system = hid::CreateInputSystem();
    DirectInputController di;
    ASSERT_TRUE(di.Connect(system, 1));
    for (size_t i = 0; i < std::size(values); ++i) {
        hid::JoystickState js;
        js.x = js.y = js.z = js.rz = values[i];
        js.buttons[i % 32] = 0x80;
        hid::SetGameDeviceInput(id, js);
        di.Update();
        // X and Z as they come, Y and Rz negated.
        EXPECT_EQ(FloatBits(di.Sticks()[0]), expected[2 * i]) << values[i];
        EXPECT_EQ(FloatBits(di.Sticks()[1]), expected[2 * i + 1]) << values[i];
        EXPECT_EQ(FloatBits(di.Sticks()[2]), expected[2 * i]) << values[i];
        EXPECT_EQ(FloatBits(di.Sticks()[3]), expected[2 * i + 1]) << values[i];
        EXPECT_TRUE(di.IsButtonPressed(uint32_t(i % 32) + 1));
        EXPECT_TRUE(di.IsButtonPressedForTheFirstTime(uint32_t(i % 32) + 1));
    }
    hid::JoystickState held;
    held.buttons[31] = 0x80;
    hid::SetGameDeviceInput(id, held);
    di.Update();
    di.Update();
    EXPECT_TRUE(di.IsButtonPressed(32));
    EXPECT_FALSE(di.IsButtonPressedForTheFirstTime(32));
    EXPECT_FALSE(di.IsButtonPressed(0));
    EXPECT_FALSE(di.IsButtonPressed(33));
    char name[32];
    ASSERT_TRUE(di.GetButtonName(32, name, sizeof(name)));
    EXPECT_STREQ(name, "Button 32");
    EXPECT_FALSE(di.GetButtonName(0, name, sizeof(name)));

    // Unplugged: neither poll nor acquire works; the controller is released.
    hid::DisconnectGameDevice(id);
    di.Update();
    EXPECT_FALSE(di.IsConnected());
    EXPECT_FALSE(di.IsButtonPressed(32));
    EXPECT_EQ(di.Sticks()[0], 0.0f);
    EXPECT_EQ(hid::OpenDeviceCount(), 0u);
    EXPECT_TRUE(HasMessage(sink, "DInput controller disconnected"));
}

TEST_F(ControllerTest, ReleaseAndReconnectAroundADeviceReset) {
    const uint32_t id = hid::ConnectGameDevice({.instanceName = "Stick", .forceFeedback = true});
    InputManager im;
    ASSERT_TRUE(im.Init(1));
    im.InitDevices(1);
    ASSERT_TRUE(im.IsDIControllerPresent());
    const uint32_t open = hid::OpenDeviceCount();  // keyboard and controller

    im.ReleaseGameControllers();
    EXPECT_FALSE(im.IsDIControllerPresent());
    EXPECT_EQ(hid::OpenDeviceCount(), open - 1);
    im.ReconnectGameControllers();
    ASSERT_TRUE(im.IsDIControllerPresent());
    EXPECT_EQ(hid::OpenDeviceCount(), open);
    hid::JoystickState js;
    js.x = 1000;
    hid::SetGameDeviceInput(id, js);
    clock.Advance(1);
    im.Update();
    EXPECT_EQ(im.GetDIControllerAnalogInput().x, 1.0f);

    // Without Init no reconnect is attempted.
    InputManager bare;
    bare.ReconnectGameControllers();
    EXPECT_FALSE(bare.IsDIControllerPresent());

    // A device plugged in later is opened when devices change.
    im.ReleaseGameControllers();
    hid::DisconnectGameDevice(id);
    im.OnDevicesChanged();
    EXPECT_FALSE(im.IsDIControllerPresent());
    hid::ConnectGameDevice({.instanceName = "Later"});
    im.OnDevicesChanged();
    EXPECT_TRUE(im.IsDIControllerPresent());
}

}  // namespace
