// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// Game controllers against a numpy float32 reference, device choice and reconnects.
#include <gtest/gtest.h>

#include <sstream>

#include "CaptureLogSink.h"
#include "core/CrtRand.h"
#include "core/Time.h"
#include "engine/NumpyReference.h"
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
        sink.Attach();
    }
    void TearDown() override {
        clock.Uninstall();
        Time::InitTimer();
        hid::ResetInputLayer();
    }
    int64_t Now() const { return clock.Now(); }
    // Whether the line was logged as progress in the engine category.
    bool Logged(const std::string& text) {
        for (const auto& m : sink.Messages())
            if (m.text == text && m.severity == 1 && m.category == 2) return true;
        return false;
    }
    std::unique_ptr<InputManager> Started() {
        auto im = std::make_unique<InputManager>();
        EXPECT_TRUE(im->Init(1));
        im->InitDevices(1);
        return im;
    }

    os::ManualClock clock{0};
    CaptureLogSink sink;
};

std::vector<std::string> Reference(const std::string& input) {
    return RunNumpyReference("input/controller_reference.py", input);
}

TEST_F(ControllerTest, SticksTriggersAndFirstTimeTests) {
    // Left x, left y, right x, right y: at, inside and beside the dead zones.
    const int16_t sticks[][4] = {{7849, -7849, 8689, -8689}, {7848, -7848, 8688, -8688}, {7850, -7850, 8690, -8690},
                                 {7851, 7852, 8691, 8692},    {32767, -32768, 32767, -32768}, {0, 16384, -16384, 30000}};
    // Per frame: buttons, the trigger byte, then the expected first-time answers of A
    // and of the triggers (exactly 30/255 is not pressed).
    const int frames[][4] = {{0x1000, 31, 1, 1}, {0x1000, 31, 0, 0}, {0x0000, 29, 0, 0},
                             {0x1000, 30, 1, 0}, {0x3000, 255, 0, 1}, {0x2000, 0, 0, 0}};
    std::ostringstream in;
    for (size_t i = 0; i < std::size(frames); ++i) {
        for (int k = 0; k < 4; ++k)
            in << "stick " << sticks[i][k] << " "
               << FloatBits(k < 2 ? kXControllerLeftDeadZone : kXControllerRightDeadZone) << "\n";
        in << "trigger " << frames[i][1] << "\n";
    }
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(frames) * 5);

    hid::ConnectPad(1);
    XInputController pad;
    pad.Init(1, Now());
    for (size_t i = 0; i < std::size(frames); ++i) {
        SCOPED_TRACE(i);
        hid::PadState s;
        s.thumbLX = sticks[i][0], s.thumbLY = sticks[i][1], s.thumbRX = sticks[i][2], s.thumbRY = sticks[i][3];
        s.buttons = uint16_t(frames[i][0]), s.leftTrigger = s.rightTrigger = uint8_t(frames[i][1]);
        hid::SetPadState(1, s);
        clock.Advance(kFrame);
        EXPECT_FALSE(pad.Update(Now()));
        for (int k = 0; k < 4; ++k) EXPECT_EQ(FloatBits(pad.Sticks()[k]), expected[i * 5 + k]) << "stick " << k;
        std::istringstream ref(expected[i * 5 + 4]);
        std::string bits;
        int pressed = 0;
        ref >> bits >> pressed;
        for (const uint32_t trigger : {kXControllerLeftTrigger, kXControllerRightTrigger}) {
            EXPECT_EQ(FloatBits(trigger == kXControllerLeftTrigger ? pad.LeftTrigger() : pad.RightTrigger()), bits);
            EXPECT_EQ(std::make_tuple(pad.IsKeyPressed(trigger), pad.IsKeyPressedForTheFirstTime(trigger)),
                      std::make_tuple(pressed != 0, frames[i][3] != 0));
        }
        EXPECT_EQ(std::make_tuple(pad.IsKeyPressed(0x1000), pad.IsKeyPressedForTheFirstTime(0x1000)),
                  std::make_tuple((frames[i][0] & 0x1000) != 0, frames[i][2] != 0));
    }
}

TEST_F(ControllerTest, AbsentPadIsLookedForEveryTwoToFourAndAHalfSeconds) {
    constexpr uint32_t kSeed = 12345;
    constexpr int kWaits = 6;
    const auto expected = Reference("recheck " + std::to_string(kSeed) + " " +
                                    std::to_string(os::kCounterFrequency) + " " + std::to_string(kWaits) + "\n");
    ASSERT_EQ(expected.size(), 1u);
    std::istringstream waits(expected[0]);

    CrtSrand(kSeed);
    XInputController pad;
    pad.Init(3, Now());
    // Frames of 1/60 s: a read happens at the first frame past each check time, and
    // the next check is the read time plus the reference wait.
    int64_t expectedRead = kFrame, wait = 0;
    for (int i = 0; i < kWaits && waits >> wait; ++i) {
        SCOPED_TRACE(i);
        const uint32_t reads = hid::PadReadCount(3);
        while (hid::PadReadCount(3) == reads && Now() < 10 * os::kCounterFrequency * kWaits) {
            clock.Advance(kFrame);
            EXPECT_FALSE(pad.Update(Now()));
        }
        EXPECT_EQ(std::make_tuple(Now(), pad.NextCheckTime()), std::make_tuple(expectedRead, Now() + wait));
        expectedRead = (pad.NextCheckTime() / kFrame + 1) * kFrame;
    }

    // Plugged in, it is found only after the check time has passed; the change is
    // reported and logged both ways.
    hid::ConnectPad(3);
    clock.Set(pad.NextCheckTime());
    EXPECT_FALSE(pad.Update(Now()));
    clock.Advance(1);
    EXPECT_TRUE(pad.Update(Now()));
    EXPECT_TRUE(Logged("XBox controller #3 connected"));
    hid::PadState st;
    st.thumbLX = 32767;
    st.leftTrigger = 200;
    hid::SetPadState(3, st);
    clock.Advance(1);
    EXPECT_FALSE(pad.Update(Now()));
    EXPECT_EQ(pad.Sticks()[0], 1.0f);
    hid::DisconnectPad(3);
    clock.Advance(1);
    EXPECT_TRUE(pad.Update(Now()));
    EXPECT_EQ(std::make_tuple(pad.IsConnected(), pad.Sticks()[0], pad.LeftTrigger()), std::make_tuple(false, 0.0f, 0.0f));
    EXPECT_TRUE(Logged("XBox controller #3 disconnected"));

    // A pad present at creation is connected without a line or a change, and a button
    // held then is not new at the first update.
    sink.Clear();
    hid::ConnectPad(0);
    hid::PadState held;
    held.buttons = 0x1000;
    hid::SetPadState(0, held);
    XInputController present;
    present.Init(0, Now());
    clock.Advance(1);
    EXPECT_TRUE(present.IsConnected());
    EXPECT_FALSE(present.Update(Now()));
    EXPECT_EQ(std::make_tuple(present.IsKeyPressed(0x1000), present.IsKeyPressedForTheFirstTime(0x1000), sink.Messages().empty()),
              std::make_tuple(true, false, true));
}

TEST_F(ControllerTest, AnyControllerIndexUsesTheEnabledPads) {
    for (uint32_t i = 0; i < 4; ++i) hid::ConnectPad(i);
    auto im = Started();
    // Pad 0: short stick, right trigger 100, button 0x10; pad 1: long sticks (x and
    // the right y only), left trigger 200; pad 2: the longest sticks and the largest
    // triggers, but disabled.
    hid::PadState p0, p1, p2;
    p0.thumbLY = 20000, p0.rightTrigger = 100, p0.buttons = 0x10;
    p1.thumbLX = -30000, p1.thumbRY = 15000, p1.leftTrigger = 200;
    p2.thumbLX = p2.thumbLY = p2.thumbRX = p2.thumbRY = 32767;
    p2.leftTrigger = p2.rightTrigger = 255, p2.buttons = 0x8000;
    hid::SetPadState(0, p0);
    hid::SetPadState(1, p1);
    hid::SetPadState(2, p2);
    clock.Advance(1);
    im->Update();
    // Nothing enabled: the any-index sees nothing; a single index sees its pad.
    EXPECT_EQ(std::make_tuple(im->IsXControllerPresent(kAnyController), im->GetXControllerAnalogInput(kAnyController),
                              im->GetXControllerLeftTriggerInput(kAnyController), im->IsXControllerKeyPressed(0x8000, 2)),
              std::make_tuple(false, Vector(), 0.0f, true));

    im->EnableControllerInput(true, kAnyController);
    im->EnableControllerInput(false, 2);
    im->EnableControllerInput(true, 7);  // no such pad: nothing
    EXPECT_EQ(im->EnabledControllerMask(), 0b1011u);
    EXPECT_TRUE(im->IsXControllerPresent(kAnyController));
    const Vector sticks = im->GetXControllerAnalogInput(kAnyController);
    EXPECT_EQ(std::make_tuple(sticks.y, sticks.z), std::make_tuple(0.0f, 0.0f)) << "pad 1's sticks, the longest enabled";
    EXPECT_TRUE(sticks.x < -0.5f && sticks.w > 0.2f);
    EXPECT_EQ(std::make_tuple(im->GetXControllerLeftTriggerInput(kAnyController), im->GetXControllerRightTriggerInput(kAnyController)),
              std::make_tuple(200 / 255.0f, 100 / 255.0f));
    EXPECT_TRUE(im->IsXControllerKeyPressedForTheFirstTime(0x10, kAnyController));
    EXPECT_FALSE(im->IsXControllerKeyPressed(0x8000, kAnyController)) << "pad 2 is disabled";
    EXPECT_TRUE(im->IsXControllerKeyPressed(kXControllerLeftTrigger, kAnyController));
    EXPECT_FALSE(im->IsXControllerPresent(4) || im->IsXControllerPresent(257));
}

TEST_F(ControllerTest, DirectInputControllerIsNeverAnXInputPad) {
    // Plug-and-play ids: those with "IG_" are XInput pads, with VID_ and PID_ numbers.
    const std::pair<const char*, uint32_t> cases[] = {
        {"HID\\VID_045E&PID_028E&IG_00\\7&2F7A&0&0000", 0x028E045E}, {"USB\\VID_046D&PID_C21D&IG_01\\8", 0xC21D046D},
        {"HID\\VID_046D&PID_C215\\6&1", 0},                         {"HID\\IG_02&PID_0B12", 0x0B120000},  // no vendor: 0
        {"HID\\VID_zz&PID_12&IG_00", 0x00120000},                   {"", 0},
    };
    std::vector<uint32_t> expected;
    for (const auto& [pnp, id] : cases) {
        hid::ConnectGameDevice({.instanceName = "d", .pnpDeviceId = pnp});
        if (id) expected.push_back(id);  // an XInput pad
    }
    std::vector<uint32_t> ids;
    DirectInputController::ReadXInputDeviceIds(&ids);
    EXPECT_EQ(ids, expected);

    // The XInput pad shows up as a game device too and is skipped, as is one in use.
    hid::ResetInputLayer();
    hid::ConnectGameDevice({.instanceName = "Pad", .vendorId = 0x045E, .productId = 0x028E,
                            .pnpDeviceId = "HID\\VID_045E&PID_028E&IG_00\\1"});
    const hid::SystemHandle system = hid::CreateInputSystem();
    DirectInputController di;
    EXPECT_FALSE(di.Connect(system, 1));
    EXPECT_EQ(hid::OpenDeviceCount(), 0u);
    hid::ConnectGameDevice({.instanceName = "In use", .vendorId = 1, .productId = 2, .creatable = false});
    hid::ConnectGameDevice({.instanceName = "Stick", .vendorId = 0x046D, .productId = 0xC215});
    ASSERT_TRUE(di.Connect(system, 1));
    EXPECT_STREQ(di.InstanceName(), "Stick");
    EXPECT_EQ(std::make_tuple(di.HasJoystickConfig(), di.HasEffect()), std::make_tuple(true, false));
    ASSERT_EQ(sink.Messages().size(), 2u);
    EXPECT_EQ(sink.Messages()[0].text, "DInput controller doesn't have FF");
    EXPECT_TRUE(Logged("DInput controller connected"));
    EXPECT_TRUE(di.Connect(system, 1)) << "a second connect keeps the open device";
    EXPECT_EQ(hid::OpenDeviceCount(), 1u);

    // With force feedback: the effect, and no line about it.
    di.Release();
    sink.Clear();
    hid::ResetInputLayer();
    hid::SetJoystickConfigAvailable(false);
    hid::ConnectGameDevice({.instanceName = "Wheel", .forceFeedback = true});
    ASSERT_TRUE(di.Connect(hid::CreateInputSystem(), 1));
    EXPECT_EQ(std::make_tuple(di.HasJoystickConfig(), di.HasEffect(), sink.Messages().size()), std::make_tuple(false, true, size_t(1)));
}

TEST_F(ControllerTest, DirectInputSticksButtonsAndDisconnection) {
    const int32_t values[] = {-1000, -201, -200, -1, 0, 199, 200, 201, 600, 999, 1000};
    std::ostringstream in;
    for (int32_t v : values) in << "axis " << v << "\naxis " << -v << "\n";
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(values) * 2);

    const uint32_t id = hid::ConnectGameDevice({.instanceName = "Stick"});
    DirectInputController di;
    ASSERT_TRUE(di.Connect(hid::CreateInputSystem(), 1));
    for (size_t i = 0; i < std::size(values); ++i) {
        hid::JoystickState js;
        js.x = js.y = js.z = js.rz = values[i];
        js.buttons[i % 32] = 0x80;
        hid::SetGameDeviceInput(id, js);
        di.Update();
        // X and Z as they come, Y and Rz negated.
        for (int k = 0; k < 4; ++k) EXPECT_EQ(FloatBits(di.Sticks()[k]), expected[2 * i + k % 2]) << values[i] << " " << k;
        EXPECT_TRUE(di.IsButtonPressedForTheFirstTime(uint32_t(i % 32) + 1));
    }
    hid::JoystickState held;
    held.buttons[31] = 0x80;
    hid::SetGameDeviceInput(id, held);
    di.Update();
    di.Update();
    EXPECT_EQ(std::make_tuple(di.IsButtonPressed(32), di.IsButtonPressedForTheFirstTime(32), di.IsButtonPressed(0),
                              di.IsButtonPressed(33)),
              std::make_tuple(true, false, false, false));
    for (const uint32_t button : {0u, 1u, 32u, 33u}) {
        char name[32] = "";
        const bool named = button >= 1 && button <= 32;
        EXPECT_EQ(di.GetButtonName(button, name, sizeof(name)), named) << button;
        if (named) {
            EXPECT_EQ(name, "Button " + std::to_string(button));
        }
    }

    // Unplugged: neither poll nor acquire works; the controller is released.
    hid::DisconnectGameDevice(id);
    di.Update();
    EXPECT_EQ(std::make_tuple(di.IsConnected(), di.IsButtonPressed(32), di.Sticks()[0], hid::OpenDeviceCount()),
              std::make_tuple(false, false, 0.0f, 0u));
    EXPECT_TRUE(Logged("DInput controller disconnected"));
}

TEST_F(ControllerTest, ReleaseAndReconnectAroundADeviceReset) {
    const uint32_t id = hid::ConnectGameDevice({.instanceName = "Stick", .forceFeedback = true});
    auto im = Started();
    ASSERT_TRUE(im->IsDIControllerPresent());
    const uint32_t open = hid::OpenDeviceCount();  // keyboard and controller
    im->ReleaseGameControllers();
    EXPECT_EQ(std::make_tuple(im->IsDIControllerPresent(), hid::OpenDeviceCount()), std::make_tuple(false, open - 1));
    im->ReconnectGameControllers();
    ASSERT_TRUE(im->IsDIControllerPresent());
    hid::JoystickState js;
    js.x = js.y = js.z = 1000;
    hid::SetGameDeviceInput(id, js);
    clock.Advance(1);
    im->Update();
    EXPECT_EQ(im->GetDIControllerAnalogInput(), Vector(1, -1, 1, 0));

    InputManager bare;  // without Init no reconnect is attempted
    bare.ReconnectGameControllers();
    EXPECT_FALSE(bare.IsDIControllerPresent());

    // A device plugged in later is opened when devices change.
    im->ReleaseGameControllers();
    hid::DisconnectGameDevice(id);
    im->OnDevicesChanged();
    EXPECT_FALSE(im->IsDIControllerPresent());
    hid::ConnectGameDevice({.instanceName = "Later"});
    im->OnDevicesChanged();
    EXPECT_TRUE(im->IsDIControllerPresent());
}

}  // namespace
