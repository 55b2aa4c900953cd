// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// The camera controller against a float32 simulation (controller_reference.py).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/rtti/RTTIClass.h"
#include "core/Time.h"
#include "engine/camera/CameraTestServices.h"
#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/GameCameraController.h"

namespace {

class ControllerTest : public testing::Test {
protected:
    void SetUp() override {
        Time::InitTimer(0, 10'000'000);
        SetCameraServices(&services);
    }
    void TearDown() override {
        SetCameraServices(nullptr);
        Time::InitTimer();
    }
    TestCameraServices services;
};

std::vector<std::string> Reference(const std::string& input) {
    return RunNumpyReference("camera/controller_reference.py", input);
}

bool Near(float got, float expected, float scale = 1e-4f) {
    return std::fabs(got - expected) <= scale * std::max(1.0f, std::fabs(expected));
}

// ---------------------------------------------------------------------------------
// The strategy subcontroller's drive, operation by operation. A scenario is the
// subcontroller's fields (position, velocity, acceleration, braking, damping, target
// and present maximum speed, real-time flag), then operations separated by ";", each
// a word and its numbers ("N*" repeats one):
//   u DT MULT SUBSTEP TICKS    Update (frame delta, time multiplier, sub-step, smooth
//                              game time)
//   max V                      SetMaxVelocity
//   goto X Y Z MIN [DX DY DZ]  GoToPosition, with a direction when given
//   lerp X Y Z F               GoToPositionLerp
//   tlerp X Y Z T CURVE TICKS  GoToPositionTimeLerp at that smooth game time
//   acc X Y Z DT MULT [BOX6]   ApplyAcceleration (last delta, multiplier, bounds)
//   pos X Y Z                  SetPosition
// The simulation reads the same words.
using Op = std::vector<std::string>;

void RunOp(const Op& w, LCRTSCameraSubcontroller& c, TestCameraServices& s) {
    auto f = [&](size_t i) { return std::stof(w[i]); };
    auto v = [&](size_t i) { return Vector(f(i), f(i + 1), f(i + 2)); };
    const std::string& op = w[0];
    if (op == "u") {
        s.frameDelta = f(1), s.multiplier = f(2), s.subStep = std::stoul(w[3]), s.smoothGame = std::stoll(w[4]);
        c.Update();
    } else if (op == "max") {
        c.SetMaxVelocity(f(1));
    } else if (op == "goto") {
        const Vector direction = w.size() > 5 ? v(5) : Vector();
        c.GoToPosition(v(1), f(4), w.size() > 5 ? &direction : nullptr);
    } else if (op == "lerp") {
        c.GoToPositionLerp(v(1), f(4));
    } else if (op == "tlerp") {
        s.smoothGame = std::stoll(w[6]);
        c.GoToPositionTimeLerp(v(1), f(4), std::stoul(w[5]));
    } else if (op == "acc") {
        s.lastDelta = f(4), s.multiplier = f(5);
        const BoundingBox4 box = w.size() > 6 ? BoundingBox4(v(6), v(9)) : BoundingBox4();
        c.ApplyAcceleration(v(1), w.size() > 6 ? &box : nullptr);
    } else if (op == "pos") {
        c.SetPosition(v(1));
    } else {
        ADD_FAILURE() << "unknown operation " << op;
    }
}

// The operations of a scenario with the repeats written out.
std::vector<Op> ParseOps(const std::string& text) {
    std::vector<Op> ops;
    std::istringstream parts(text);
    for (std::string part; std::getline(parts, part, ';');) {
        std::istringstream words(part);
        Op w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) continue;
        int repeat = 1;
        if (const size_t star = w[0].find('*'); star != std::string::npos) {
            repeat = std::stoi(w[0].substr(0, star));
            w[0] = w[0].substr(star + 1);
        }
        ops.insert(ops.end(), repeat, w);
    }
    return ops;
}

TEST_F(ControllerTest, DriveModesFollowTheSimulation) {
    // The timed lerp's frames, each a million ticks later.
    std::string timed = "tlerp 11 -2 3 2 3 5000000";
    for (int i = 1; i <= 26; ++i) timed += "; u 0.0166667 1 0 " + std::to_string(5'000'000 + i * 1'000'000);
    const std::pair<const char*, std::string> scenarios[] = {
        {"0 0 0 5 0 0 10 10 1 10 10 0", "40*u 0.0166667 1 0 0"},  // braking from speed 5
        {"0 1 2 3 -4 0 10 4 0.25 10 10 0", "30*u 0.05 1 0 0"},    // damped
        {"0 0 0 0 0 0 60 20 1 15 15 0", "goto 40 0 30 5; 240*u 0.0166667 1 0 0"},
        // Retargeting only along the direction.
        {"0 0 0 0 0 0 60 20 1 15 15 0",
         "goto 20 0 0 1 1 0 0; goto 30 0 0 1 1 0 0; goto 30 0 40 1; goto 10 0 40 1 1 0 0; 120*u 0.0166667 1 0 0"},
        // Within one unit of the target the drive ends.
        {"0 0 0 0 0 0 60 20 1 15 15 0",
         "goto 0.9 0.3 0 0; 2*u 0.0166667 1 0 0; goto 1 0 0 0; 2*u 0.0166667 1 0 0; goto 1.01 0 0 0; "
         "2*u 0.0166667 1 0 0"},
        // Refused: closer than the minimum, behind the direction, already there.
        {"5 5 5 0 0 0 10 10 1 1 1 0", "goto 6 5 5 2; goto 20 5 5 1 -1 0 0; goto 5 5 5 0"},
        {"0 0 0 2 0 0 10 10 1 1 1 0", "lerp 10 20 -30 50; 30*u 0.0166667 1 0 0"},
        {"1 2 3 0 0 0 10 10 1 1 1 0", timed},
        {"1 2 3 0 0 0 10 10 1 1 1 0", "tlerp 7 7 7 0 1 0; 2*u 0.0166667 1 0 0"},  // at once
        {"0 0 0 6 0 8 10 10 1 20 20 0", "max 4; 5*u 0.0166667 1 0 0; max 30; 5*u 0.0166667 1 0 0; max 50"},
        {"0 0 0 0 0 0 10 10 1 5 5 0", "acc 30 0 0 0.1 1; acc 0 40 0 0.1 1; acc 1 1 1 0 1"},
        {"9 0 -9.5 8 0 -2 10 10 1 100 100 0",
         "acc 5 5 -5 0.1 1 -10 -10 -10 10 10 10; acc -5 5 5 0.1 1 -10 -10 -10 10 10 10; "
         "acc 0 0 0 0.1 1 -10 -10 -10 10 10 10"},
        {"0 0 0 5 0 0 10 10 1 10 10 0", "u 0.1 1 1 0; u 0.1 1 2 0"},  // only sub-step 0 moves
        // Real time: divided by the multiplier, nothing with a multiplier of 0.
        {"0 0 0 5 0 0 10 10 1 10 10 1", "u 0.05 0.5 0 0; u 0.05 0 0 0; u 0.05 2 0 0; acc 10 0 0 0.1 0; acc 10 0 0 0.1 4"},
        {"0 0 0 5 0 0 10 10 1 10 10 0", "goto 50 0 0 1; pos 3 3 3; 2*u 0.0166667 1 0 0"},
    };
    std::string input;
    std::vector<std::vector<Op>> ops;
    for (const auto& [fields, text] : scenarios) {
        ops.push_back(ParseOps(text));
        input += fields;
        for (const Op& w : ops.back()) {
            input += " ;";
            for (const std::string& word : w) input += " " + word;
        }
        input += "\n";
    }
    const auto expected = Reference(input);
    ASSERT_EQ(expected.size(), std::size(scenarios));

    for (size_t i = 0; i < std::size(scenarios); ++i) {
        SCOPED_TRACE(std::string(scenarios[i].first) + " / " + scenarios[i].second.substr(0, 40));
        std::istringstream init(scenarios[i].first);
        float f[12];
        for (float& x : f) init >> x;
        LCRTSCameraSubcontroller c;
        c.position = Vector(f[0], f[1], f[2]);
        c.velocity = Vector(f[3], f[4], f[5]);
        c.acceleration = f[6], c.braking = f[7], c.damping = f[8];
        c.targetMaxVelocity = f[9], c.currentMaxVelocity = f[10];
        c.realTime = f[11] != 0;
        // After each operation: position, velocity, drive mode, present maximum speed.
        std::istringstream result(expected[i]);
        for (size_t k = 0; k < ops[i].size(); ++k) {
            RunOp(ops[i][k], c, services);
            std::string w[8];
            for (auto& x : w) result >> x;
            const float got[7] = {c.position.x, c.position.y, c.position.z, c.velocity.x,
                                  c.velocity.y, c.velocity.z, c.currentMaxVelocity};
            for (int j = 0; j < 7; ++j)
                EXPECT_TRUE(Near(got[j], BitsToFloat(w[j < 6 ? j : 7]))) << "op " << k << " value " << j << ": " << got[j]
                                                                        << " vs " << BitsToFloat(w[j < 6 ? j : 7]);
            EXPECT_EQ(c.driveMode, uint32_t(std::stoul(w[6]))) << "op " << k;
        }
    }
}

// ---------------------------------------------------------------------------------
// The controller.

TEST_F(ControllerTest, DefaultsListAndSwitchingAtOnce) {
    GameCameraController controller;
    EXPECT_EQ(std::make_tuple(controller.fov, controller.State().shakeFactor, controller.GetSoundListenerAltitude()),
              std::make_tuple(30.0f, 0.0f, 100.0f));
    EXPECT_EQ(controller.viewport, (CameraViewport{0, 0, 1280, 720, 0, 1}));
    EXPECT_EQ(controller.backgroundColor, Vector(0.27450982f, 0.27450982f, 0.27450982f, 1));

    EXPECT_EQ(controller.AddNewSubcontroller(5), nullptr);
    auto* a = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
    auto* rts = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_RTS);
    ASSERT_TRUE(a && rts);
    EXPECT_STREQ(rts->GetScriptClassName(), "LCRTSCameraSubcontroller");
    EXPECT_EQ(rts->GetRTTIClass(), RTTIClassRegistry::FindClass("LCRTSCameraSubcontroller"));
    EXPECT_EQ(std::make_tuple(a->GetKind(), rts->GetKind(), a->fov, a->shakeFactor), std::make_tuple(0u, 1u, 50.0f, 1.0f));

    // With none current yet, even a blend switches at once.
    a->SetPosition(Vector(1, 2, 3)), a->SetGlobalOffset(Vector(10, 0, 0)), a->SetFOV(45), a->SetShakeFactor(0.5f);
    a->SetProjectionOffset(Vector(0.1f, 0.2f, 0)), a->SetRotation(10, 20, 30);
    EXPECT_TRUE(controller.SetCurrentSubcontroller(a, 5.0f, 0));
    const CameraState& s = controller.State();
    EXPECT_EQ(std::make_tuple(s.position, s.fov, s.shakeFactor, s.projectionOffset),
              std::make_tuple(Vector(11, 2, 3), 45.0f, 0.5f, Vector(0.1f, 0.2f, 0)));
    int calls = 0;
    controller.SetFrameCallback([](GameCameraController&, void* n) { ++*static_cast<int*>(n); }, &calls);
    controller.Update();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(std::make_tuple(controller.GetCameraPosition(), controller.fov, controller.rotation),
              std::make_tuple(Vector(11, 2, 3), 45.0f, a->rotation));
    EXPECT_NEAR(controller.GetCameraInvViewMatrix().r[3].x, 11.0f, 1e-4f) << "the inverse view places the camera";
    Matrix vp, back;
    vp.Mul(controller.GetCameraProjectionMatrix(), controller.GetCameraViewMatrix());
    back.Inverse(controller.GetCameraInvViewProjectionMatrix());
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(back.r[i / 4][i % 4], vp.r[i / 4][i % 4], 1e-3f);
    // The three angles: about x by the first, then y by the third, then z by the second.
    Matrix rx, ry, rz, xy, expected, got;
    rx.LoadXRotation(10);
    ry.LoadYRotation(30);
    rz.LoadZRotation(20);
    xy.Mul(ry, rx);
    expected.Mul(rz, xy);
    got.LoadQuaternion(a->rotation);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(got.r[i / 3][i % 3], expected.r[i / 3][i % 3], 1e-6f) << i;

    // Deletion refuses null, the current one and one not in the list, which also never
    // becomes current.
    LCBaseCameraSubcontroller outsider;
    for (LCBaseCameraSubcontroller* refused : {a, static_cast<LCBaseCameraSubcontroller*>(nullptr), &outsider})
        EXPECT_FALSE(controller.DeleteSubcontroller(refused));
    EXPECT_TRUE(controller.SetCurrentSubcontroller(&outsider, 0, 0));
    EXPECT_EQ(controller.GetCurrentSubcontroller(), a);
    EXPECT_TRUE(controller.DeleteSubcontroller(rts));
    EXPECT_FALSE(controller.DeleteSubcontroller(rts));
    EXPECT_EQ(controller.SubcontrollerCount(), 1u);
}

TEST_F(ControllerTest, BlendCurvesOnEachClock) {
    struct Clock {
        uint32_t flag;
        int64_t TestCameraServices::*ticks;
    };
    const Clock clocks[] = {{0, &TestCameraServices::smoothGame},
                            {GCCF_GAMEPLAYTIME, &TestCameraServices::smoothGameplay},
                            {GCCF_SYSTEMTIME, &TestCameraServices::engine}};
    const uint32_t curves[] = {GCCF_LINEAR, GCCF_HALFSINE, GCCF_INVHALFSINE, GCCF_SINE, 4};
    const float times[] = {0.0f, 0.5f, 1.5f, 2.0f};  // of a 2-second blend
    Quaternion from, to;
    from.SetAxisAlpha(Vector(1, 2, 3), 40);
    to.SetAxisAlpha(Vector(-2, 1, 0.5f), 150);
    const Vector fromPosition(1, 2, 3), toPosition(-20, 8, 40);

    std::string input;
    for (uint32_t curve : curves)
        for (float t : times)
            input += "blend " + std::to_string(curve) +
                     Words({std::min(t / 2.0f, 1.0f), from.x, from.y, from.z, from.w, to.x, to.y, to.z, to.w,
                            fromPosition.x, fromPosition.y, fromPosition.z, toPosition.x, toPosition.y, toPosition.z,
                            30, 70}) +
                     "\n";
    const auto expected = Reference(input);
    ASSERT_EQ(expected.size(), std::size(curves) * std::size(times));

    for (const Clock& clock : clocks) {
        for (size_t ci = 0; ci < std::size(curves); ++ci) {
            SCOPED_TRACE("clock " + std::to_string(clock.flag) + " curve " + std::to_string(curves[ci]));
            services.smoothGame = services.smoothGameplay = services.engine = 100'000'000;
            GameCameraController controller;
            auto* a = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
            auto* b = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
            a->SetPosition(fromPosition), a->SetRotation(from), a->SetFOV(30);
            b->SetPosition(toPosition), b->SetRotation(to), b->SetFOV(70), b->SetProjectionOffset(Vector(1, 1, 0));
            controller.SetCurrentSubcontroller(a, 0, 0);
            controller.Update();
            controller.SetCurrentSubcontroller(b, 2.0f, curves[ci] | clock.flag);
            for (size_t ti = 0; ti < std::size(times); ++ti) {
                // Only the selected clock moves; the others run far ahead.
                services.smoothGame = services.smoothGameplay = services.engine = 900'000'000;
                services.*(clock.ticks) = 100'000'000 + int64_t(times[ti] * 10'000'000);
                controller.Update();
                // Making it current again with a blend of 0.001 or more changes nothing.
                controller.SetCurrentSubcontroller(b, 0.001f, curves[ci] | clock.flag);
                const auto e = ParseFloats(expected[ci * std::size(times) + ti]);
                const CameraState& s = controller.State();
                const float got[8] = {s.rotation.x, s.rotation.y, s.rotation.z, s.rotation.w,
                                      s.position.x, s.position.y, s.position.z, s.fov};
                for (int k = 0; k < 8; ++k)
                    EXPECT_TRUE(Near(got[k], e[1 + k], 1e-5f)) << "t " << times[ti] << " value " << k << ": " << got[k];
                EXPECT_EQ(s.projectionOffset, Vector(1, 1, 0));
            }
            // At the end the state is exactly the subcontroller's, even when the clock
            // is later set back.
            EXPECT_EQ(std::make_tuple(controller.State().position, controller.State().rotation), std::make_tuple(toPosition, to));
            services.*(clock.ticks) = 100'000'000;
            controller.Update();
            EXPECT_EQ(controller.State().position, toPosition);
        }
    }
}

TEST_F(ControllerTest, ShakeOutputsAndTheFrameValue) {
    const float times[] = {0.0f, 0.1f, 0.25f, 0.5f, 0.9f, 1.0f};
    const float params[5] = {2.0f, 3.0f, 1.5f, 4.0f, 0.5f};
    std::string input;
    for (uint32_t flags : {0u, kCameraShakeFullEnvelope})
        for (float e : times)
            input += "shake" + Words({e, 1.0f, params[0], params[1], params[2], params[3], params[4]}) + " " +
                     std::to_string(flags) + "\n";
    const auto expected = Reference(input);
    ASSERT_EQ(expected.size(), 2 * std::size(times));

    size_t row = 0;
    for (uint32_t flags : {0u, kCameraShakeFullEnvelope}) {
        GameCameraController controller;
        auto* sub = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
        sub->SetShakeFactor(2.0f), sub->SetRotation(0, 0, 45);
        controller.SetCurrentSubcontroller(sub, 0, 0);
        services.engine = 50'000'000;
        ASSERT_TRUE(controller.StartCameraShakeEffect(1.0f, params[0], params[1], params[2], params[3], params[4],
                                                      flags | GCCF_SYSTEMTIME));
        EXPECT_FALSE(controller.StartCameraShakeEffect(5.0f, 9, 9, 9, 9, 9, 0)) << "one runs already";
        for (float e : times) {
            services.engine = 50'000'000 + int64_t(e * 10'000'000);
            controller.Update();
            const auto out = ParseFloats(expected[row++]);
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(Near(controller.ShakeOutputs()[k], out[k], 1e-5f)) << e << " " << k;
            // The view turned in its own frame: about y by output 2, then x by output 1
            // (times the shake factor), before the subcontroller's rotation.
            Matrix turnY, turnX, turn, state, expectedWorld, world;
            turnY.LoadYRotation(controller.ShakeOutputs()[1] * 2.0f);
            turnX.LoadXRotation(controller.ShakeOutputs()[0] * 2.0f);
            turn.Mul(turnX, turnY);
            state.LoadQuaternion(sub->rotation);
            expectedWorld.Mul(state, turn);
            world.LoadQuaternion(controller.rotation);
            for (int i = 0; i < 9; ++i) EXPECT_NEAR(world.r[i / 3][i % 3], expectedWorld.r[i / 3][i % 3], 1e-5f);
            // The frame's camera value: output 3 times the shake factor.
            services.cameraValues.clear();
            controller.SetupFrame(false, 0, nullptr);
            ASSERT_EQ(services.cameraValues.size(), 1u);
            EXPECT_EQ(services.cameraValues[0], controller.ShakeOutputs()[2] * 2.0f);
        }
        // Past the duration the shake ends and its outputs are 0.
        services.engine = 50'000'000 + 10'000'001;
        controller.Update();
        EXPECT_EQ(std::make_tuple(controller.IsShaking(), controller.ShakeOutputs()[2], controller.rotation),
                  std::make_tuple(false, 0.0f, sub->rotation));
        EXPECT_FALSE(controller.StartCameraShakeEffect(0.0f, 1, 1, 1, 1, 1, 0));
        ASSERT_TRUE(controller.StartCameraShakeEffect(0.5f, 1, 1, 1, 1, 1, 0));
        controller.ResetCameraShakeEffect();
        EXPECT_FALSE(controller.IsShaking());
    }
}

}  // namespace
