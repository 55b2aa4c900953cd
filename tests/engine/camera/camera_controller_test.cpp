// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// The camera controller against a float32 simulation written from the definitions:
// the strategy subcontroller's drive modes, speed limits, accelerations and position
// drives; blends on each clock with their curves and slerped rotation; the shake; and
// the controller's list, defaults, frame value and callback.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>
#include <sstream>

#include "core/StaticInit.h"
#include "core/Time.h"
#include "engine/NumpyReference.h"
#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/GameCameraController.h"

namespace {

// The Game's clocks and the renderer, as the controller sees them.
class TestServices : public CameraServices {
public:
    void PostCameraFloat(float value) override { cameraValues.push_back(value); }
    void GetWindowSize(uint32_t* w, uint32_t* h) const override { *w = 1280, *h = 720; }
    int64_t SmoothGameTime() const override { return smoothGame; }
    int64_t SmoothGameplayTime() const override { return smoothGameplay; }
    int64_t EngineTime() const override { return engine; }
    float FrameGameDelta() const override { return frameDelta; }
    float SmoothGameLastDelta() const override { return lastDelta; }
    float TimeMultiplier() const override { return multiplier; }
    uint32_t VariableSubStepIndex() const override { return subStep; }

    int64_t smoothGame = 0, smoothGameplay = 0, engine = 0;
    float frameDelta = 0, lastDelta = 0, multiplier = 1;
    uint32_t subStep = 0;
    std::vector<float> cameraValues;
};

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
    TestServices services;
};

std::vector<std::string> Reference(const std::string& input) {
    return RunNumpyReference("camera/controller_reference.py", input);
}

std::string Hex(float v) { return "\"" + FloatBits(v) + "\""; }
std::string Hex3(const Vector& v) { return "[" + Hex(v.x) + "," + Hex(v.y) + "," + Hex(v.z) + "]"; }
std::string Hex4(const Quaternion& q) { return "[" + Hex(q.x) + "," + Hex(q.y) + "," + Hex(q.z) + "," + Hex(q.w) + "]"; }

bool Near(float got, float expected, float scale = 1e-4f) {
    return std::fabs(got - expected) <= scale * std::max(1.0f, std::fabs(expected));
}

// ---------------------------------------------------------------------------------
// The strategy subcontroller's drive, operation by operation.

// One operation: its words for the simulation and the same call on the subcontroller.
struct Op {
    std::string json;
    std::function<void(LCRTSCameraSubcontroller&, TestServices&)> run;
};
using Rts = LCRTSCameraSubcontroller;
using TS = TestServices;

Op Upd(float dt, float multiplier = 1, uint32_t subStep = 0, int64_t ticks = 0) {
    return {"[\"update\", " + Hex(dt) + ", " + Hex(multiplier) + ", " + std::to_string(subStep) + ", " +
                std::to_string(ticks) + "]",
            [=](Rts& c, TS& s) {
                s.frameDelta = dt, s.multiplier = multiplier, s.subStep = subStep, s.smoothGame = ticks;
                c.Update();
            }};
}
Op SetMax(float v) { return {"[\"setmax\", " + Hex(v) + "]", [=](Rts& c, TS&) { c.SetMaxVelocity(v); }}; }
Op GoTo(Vector t, float minDistance) {
    return {"[\"goto\", " + Hex3(t) + ", " + Hex(minDistance) + ", null]",
            [=](Rts& c, TS&) { c.GoToPosition(t, minDistance, nullptr); }};
}
Op GoToDir(Vector t, float minDistance, Vector dir) {
    return {"[\"goto\", " + Hex3(t) + ", " + Hex(minDistance) + ", " + Hex3(dir) + "]",
            [=](Rts& c, TS&) { c.GoToPosition(t, minDistance, &dir); }};
}
Op Lerp(Vector t, float factor) {
    return {"[\"lerp\", " + Hex3(t) + ", " + Hex(factor) + "]", [=](Rts& c, TS&) { c.GoToPositionLerp(t, factor); }};
}
Op TimeLerp(Vector t, float duration, uint32_t curve, int64_t ticks) {
    return {"[\"timelerp\", " + Hex3(t) + ", " + Hex(duration) + ", " + std::to_string(curve) + ", " +
                std::to_string(ticks) + "]",
            [=](Rts& c, TS& s) {
                s.smoothGame = ticks;
                c.GoToPositionTimeLerp(t, duration, curve);
            }};
}
Op Accel(Vector a, float delta, float multiplier = 1, const BoundingBox4* box = nullptr) {
    const std::string bounds = box ? "[" + Hex3(box->min) + "," + Hex3(box->max) + "]" : "null";
    const BoundingBox4 b = box ? *box : BoundingBox4();
    return {"[\"accel\", " + Hex3(a) + ", " + bounds + ", " + Hex(delta) + ", " + Hex(multiplier) + "]",
            [=](Rts& c, TS& s) {
                s.lastDelta = delta, s.multiplier = multiplier;
                c.ApplyAcceleration(a, box ? &b : nullptr);
            }};
}
Op SetPos(Vector p) { return {"[\"setpos\", " + Hex3(p) + "]", [=](Rts& c, TS&) { c.SetPosition(p); }}; }

struct Scenario {
    const char* name;
    Vector position, velocity;
    float acceleration = 10, braking = 10, damping = 1, targetMax = 1, currentMax = 1;
    bool realTime = false;
    std::vector<Op> ops;
};

std::string ScenarioJson(const Scenario& s) {
    std::string j = "{\"rts\": {\"position\": " + Hex3(s.position) + ", \"velocity\": " + Hex3(s.velocity) +
                    ", \"acceleration\": " + Hex(s.acceleration) + ", \"braking\": " + Hex(s.braking) +
                    ", \"damping\": " + Hex(s.damping) + ", \"targetMax\": " + Hex(s.targetMax) +
                    ", \"currentMax\": " + Hex(s.currentMax) + ", \"realTime\": " + (s.realTime ? "true" : "false") +
                    "}, \"ops\": [";
    for (size_t i = 0; i < s.ops.size(); ++i) j += (i ? ", " : "") + s.ops[i].json;
    return j + "]}\n";
}

std::vector<Op> Frames(int n, float dt = 1.0f / 60.0f) { return std::vector<Op>(n, Upd(dt)); }

template <class... Parts>
std::vector<Op> Ops(Parts... parts) {
    std::vector<Op> all;
    (all.insert(all.end(), parts.begin(), parts.end()), ...);
    return all;
}

std::vector<Op> TimedFrames(int n, int64_t startTicks, int64_t stepTicks) {
    std::vector<Op> out;
    for (int i = 1; i <= n; ++i) out.push_back(Upd(1.0f / 60.0f, 1, 0, startTicks + i * stepTicks));
    return out;
}

TEST_F(ControllerTest, DriveModesFollowTheSimulation) {
    const BoundingBox4 box(Vector(-10, -10, -10), Vector(10, 10, 10));
    using V = std::vector<Op>;
    // name, position, velocity, acceleration, braking, damping, target and present
    // maximum speed, real time, operations.
    const std::vector<Scenario> scenarios = {
        {"braking from speed 5", {}, {5, 0, 0}, 10, 10, 1, 10, 10, false, Frames(40)},
        {"damped", {0, 1, 2}, {3, -4, 0}, 10, 4, 0.25f, 10, 10, false, Frames(30, 0.05f)},
        {"go to a point", {}, {}, 60, 20, 1, 15, 15, false, Ops(V{GoTo({40, 0, 30}, 5)}, Frames(240))},
        {"retarget along a direction", {}, {}, 60, 20, 1, 15, 15, false,
         Ops(V{GoToDir({20, 0, 0}, 1, {1, 0, 0}), GoToDir({30, 0, 0}, 1, {1, 0, 0}), GoTo({30, 0, 40}, 1),
               GoToDir({10, 0, 40}, 1, {1, 0, 0})},
             Frames(120))},
        {"within one unit", {}, {}, 60, 20, 1, 15, 15, false,
         Ops(V{GoTo({0.9f, 0.3f, 0}, 0)}, Frames(2), V{GoTo({1, 0, 0}, 0)}, Frames(2), V{GoTo({1.01f, 0, 0}, 0)},
             Frames(2))},
        {"refused drives", {5, 5, 5}, {}, 10, 10, 1, 1, 1, false,
         {GoTo({6, 5, 5}, 2), GoToDir({20, 5, 5}, 1, {-1, 0, 0}), GoTo({5, 5, 5}, 0)}},
        {"lerp", {}, {2, 0, 0}, 10, 10, 1, 1, 1, false, Ops(V{Lerp({10, 20, -30}, 50)}, Frames(30))},
        {"timed lerp", {1, 2, 3}, {}, 10, 10, 1, 1, 1, false,
         Ops(V{TimeLerp({11, -2, 3}, 2.0f, 3, 5'000'000)}, TimedFrames(26, 5'000'000, 1'000'000))},
        {"timed lerp at once", {1, 2, 3}, {}, 10, 10, 1, 1, 1, false, Ops(V{TimeLerp({7, 7, 7}, 0, 1, 0)}, Frames(2))},
        {"speed limits", {}, {6, 0, 8}, 10, 10, 1, 20, 20, false,
         Ops(V{SetMax(4)}, Frames(5), V{SetMax(30)}, Frames(5), V{SetMax(50)})},
        {"accelerations", {}, {}, 10, 10, 1, 5, 5, false,
         {Accel({30, 0, 0}, 0.1f), Accel({0, 40, 0}, 0.1f), Accel({1, 1, 1}, 0)}},
        {"accelerations inside bounds", {9, 0, -9.5f}, {8, 0, -2}, 10, 10, 1, 100, 100, false,
         {Accel({5, 5, -5}, 0.1f, 1, &box), Accel({-5, 5, 5}, 0.1f, 1, &box), Accel({0, 0, 0}, 0.1f, 1, &box)}},
        {"sub-steps after the first", {}, {5, 0, 0}, 10, 10, 1, 10, 10, false, {Upd(0.1f, 1, 1), Upd(0.1f, 1, 2)}},
        {"real time", {}, {5, 0, 0}, 10, 10, 1, 10, 10, true,
         {Upd(0.05f, 0.5f), Upd(0.05f, 0), Upd(0.05f, 2), Accel({10, 0, 0}, 0.1f, 0), Accel({10, 0, 0}, 0.1f, 4)}},
        {"set position stops", {}, {5, 0, 0}, 10, 10, 1, 10, 10, false,
         Ops(V{GoTo({50, 0, 0}, 1), SetPos({3, 3, 3})}, Frames(2))},
    };
    std::string input;
    for (const Scenario& s : scenarios) input += ScenarioJson(s);
    const auto expected = Reference(input);
    ASSERT_EQ(expected.size(), scenarios.size());

    for (size_t i = 0; i < scenarios.size(); ++i) {
        const Scenario& s = scenarios[i];
        SCOPED_TRACE(s.name);
        LCRTSCameraSubcontroller c;
        c.position = s.position;
        c.velocity = s.velocity;
        c.acceleration = s.acceleration;
        c.braking = s.braking;
        c.damping = s.damping;
        c.targetMaxVelocity = s.targetMax;
        c.currentMaxVelocity = s.currentMax;
        c.realTime = s.realTime;
        std::istringstream words(expected[i]);
        for (size_t k = 0; k < s.ops.size(); ++k) {
            s.ops[k].run(c, services);
            std::string w[8];
            for (auto& x : w) words >> x;
            const float got[6] = {c.position.x, c.position.y, c.position.z, c.velocity.x, c.velocity.y, c.velocity.z};
            for (int j = 0; j < 6; ++j)
                EXPECT_TRUE(Near(got[j], BitsToFloat(w[j]))) << "op " << k << " value " << j << ": " << got[j]
                                                              << " vs " << BitsToFloat(w[j]);
            EXPECT_EQ(c.driveMode, uint32_t(std::stoul(w[6]))) << "op " << k;
            EXPECT_TRUE(Near(c.currentMaxVelocity, BitsToFloat(w[7]))) << "op " << k;
        }
    }
}

TEST_F(ControllerTest, BrakingTenFromSpeedFiveStopsInHalfASecond) {
    LCRTSCameraSubcontroller c;
    c.velocity = Vector(5, 0, 0);
    c.targetMaxVelocity = c.currentMaxVelocity = 10;
    services.frameDelta = 1.0f / 60.0f;
    int frames = 0;
    while (c.Speed() > 0.0f && frames < 100) {
        c.Update();
        ++frames;
    }
    EXPECT_GE(frames, 30);
    EXPECT_LE(frames, 31) << "half a second of frames, give or take the last one's rounding";
    EXPECT_NEAR(c.position.x, 1.25f, 0.05f);  // 5 * 0.5 / 2
}

// ---------------------------------------------------------------------------------
// The controller.

TEST_F(ControllerTest, ListDefaultsAndDeletion) {
    GameCameraController controller;
    EXPECT_EQ(std::make_tuple(controller.fov, controller.State().shakeFactor, controller.GetSoundListenerAltitude()),
              std::make_tuple(30.0f, 0.0f, 100.0f));
    EXPECT_EQ(controller.viewport, (CameraViewport{0, 0, 1280, 720, 0, 1}));
    EXPECT_EQ(controller.backgroundColor, Vector(0.27450982f, 0.27450982f, 0.27450982f, 1));

    EXPECT_EQ(controller.AddNewSubcontroller(5), nullptr);
    auto* base = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
    auto* rts = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_RTS);
    ASSERT_NE(base, nullptr);
    ASSERT_NE(rts, nullptr);
    EXPECT_EQ(controller.SubcontrollerCount(), 2u);
    EXPECT_STREQ(rts->GetScriptClassName(), "LCRTSCameraSubcontroller");
    EXPECT_EQ(std::make_tuple(base->GetKind(), rts->GetKind(), base->fov, base->shakeFactor),
              std::make_tuple(0u, 1u, 50.0f, 1.0f));

    EXPECT_TRUE(controller.SetCurrentSubcontroller(rts, 0, 0));
    EXPECT_FALSE(controller.DeleteSubcontroller(rts)) << "the current one is refused";
    EXPECT_FALSE(controller.DeleteSubcontroller(nullptr));
    LCBaseCameraSubcontroller outsider;
    EXPECT_FALSE(controller.DeleteSubcontroller(&outsider));
    EXPECT_TRUE(controller.SetCurrentSubcontroller(&outsider, 0, 0));
    EXPECT_EQ(controller.GetCurrentSubcontroller(), rts) << "one not in the list is ignored";
    EXPECT_TRUE(controller.DeleteSubcontroller(base));
    EXPECT_EQ(controller.SubcontrollerCount(), 1u);
    EXPECT_FALSE(controller.DeleteSubcontroller(base));

    // Registered classes.
    const RTTIClass* c = RTTIClassRegistry::FindClass("LCRTSCameraSubcontroller");
    ASSERT_NE(c, nullptr);
    ASSERT_NE(c->Base(), nullptr);
    EXPECT_STREQ(c->Base()->Name(), "LCBaseCameraSubcontroller");
    EXPECT_EQ(rts->GetRTTIClass(), c);
}

TEST_F(ControllerTest, SwitchingAtOnceTakesTheSubcontrollersState) {
    GameCameraController controller;
    auto* a = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
    a->SetPosition(Vector(1, 2, 3));
    a->SetGlobalOffset(Vector(10, 0, 0));
    a->SetFOV(45);
    a->SetShakeFactor(0.5f);
    a->SetProjectionOffset(Vector(0.1f, 0.2f, 0));
    a->SetRotation(10, 20, 30);
    controller.SetCurrentSubcontroller(a, 5.0f, 0);  // no current one yet: at once
    EXPECT_EQ(controller.State().position, Vector(11, 2, 3));
    EXPECT_EQ(controller.State().fov, 45.0f);
    EXPECT_EQ(controller.State().shakeFactor, 0.5f);
    EXPECT_EQ(controller.State().projectionOffset, Vector(0.1f, 0.2f, 0));

    int calls = 0;
    controller.SetFrameCallback([](GameCameraController& c, void* n) { ++*static_cast<int*>(n); }, &calls);
    controller.Update();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(controller.GetCameraPosition(), Vector(11, 2, 3));
    EXPECT_EQ(controller.fov, 45.0f);
    EXPECT_EQ(controller.rotation, a->rotation);
    // The inverse view places the camera.
    EXPECT_NEAR(controller.GetCameraInvViewMatrix().r[3].x, 11.0f, 1e-4f);
    Matrix vp;
    vp.Mul(controller.GetCameraProjectionMatrix(), controller.GetCameraViewMatrix());
    Matrix back;
    back.Inverse(controller.GetCameraInvViewProjectionMatrix());
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(back.r[i][j], vp.r[i][j], 1e-3f);

    // The three-angle rotation: about x by the first, then y by the third, then z by
    // the second.
    Matrix rx, ry, rz, xy, expected, got;
    rx.LoadXRotation(10);
    ry.LoadYRotation(30);
    rz.LoadZRotation(20);
    xy.Mul(ry, rx);
    expected.Mul(rz, xy);
    got.LoadQuaternion(a->rotation);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(got.r[i][j], expected.r[i][j], 1e-6f) << i << j;

    controller.SetClipPlanes(2, 300);
    EXPECT_EQ(controller.zNear, 2.0f);
    EXPECT_EQ(controller.zFar, 300.0f);
}

TEST_F(ControllerTest, BlendCurvesOnEachClock) {
    struct Clock {
        uint32_t flag;
        int64_t TestServices::*ticks;
    };
    const Clock clocks[] = {{0, &TestServices::smoothGame},
                            {GCCF_GAMEPLAYTIME, &TestServices::smoothGameplay},
                            {GCCF_SYSTEMTIME, &TestServices::engine}};
    const uint32_t curves[] = {GCCF_LINEAR, GCCF_HALFSINE, GCCF_INVHALFSINE, GCCF_SINE, 4};
    const float times[] = {0.0f, 0.5f, 1.5f, 2.0f};  // of a 2-second blend
    Quaternion from, to;
    from.SetAxisAlpha(Vector(1, 2, 3), 40);
    to.SetAxisAlpha(Vector(-2, 1, 0.5f), 150);
    const Vector fromPosition(1, 2, 3), toPosition(-20, 8, 40);

    std::string input;
    for (uint32_t curve : curves)
        for (float t : times)
            input += "{\"blend\": [" + std::to_string(curve) + ", " + Hex(std::min(t / 2.0f, 1.0f)) + ", " +
                     Hex4(from) + ", " + Hex4(to) + ", " + Hex3(fromPosition) + ", " + Hex3(toPosition) + ", " +
                     Hex(30) + ", " + Hex(70) + "]}\n";
    const auto expected = Reference(input);
    ASSERT_EQ(expected.size(), std::size(curves) * std::size(times));

    for (const Clock& clock : clocks) {
        for (size_t ci = 0; ci < std::size(curves); ++ci) {
            SCOPED_TRACE("clock " + std::to_string(clock.flag) + " curve " + std::to_string(curves[ci]));
            services.smoothGame = services.smoothGameplay = services.engine = 100'000'000;
            GameCameraController controller;
            auto* a = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
            auto* b = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
            a->SetPosition(fromPosition);
            a->SetRotation(from);
            a->SetFOV(30);
            b->SetPosition(toPosition);
            b->SetRotation(to);
            b->SetFOV(70);
            b->SetProjectionOffset(Vector(1, 1, 0));
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
                const float rot[4] = {s.rotation.x, s.rotation.y, s.rotation.z, s.rotation.w};
                for (int k = 0; k < 4; ++k) EXPECT_TRUE(Near(rot[k], e[1 + k], 1e-5f)) << "t " << times[ti] << " rotation " << k;
                EXPECT_TRUE(Near(s.position.x, e[5], 1e-5f)) << "t " << times[ti] << ": " << s.position.x << " vs " << e[5];
                EXPECT_TRUE(Near(s.position.y, e[6], 1e-5f)) << "t " << times[ti];
                EXPECT_TRUE(Near(s.position.z, e[7], 1e-5f)) << "t " << times[ti];
                EXPECT_TRUE(Near(s.fov, e[8], 1e-5f)) << "t " << times[ti];
                EXPECT_EQ(s.projectionOffset, Vector(1, 1, 0));
            }
            // At the end the state is exactly the subcontroller's.
            EXPECT_EQ(controller.State().position, toPosition);
            EXPECT_EQ(controller.State().rotation, to);
        }
    }
}

TEST_F(ControllerTest, ShakeOutputsAndTheFrameValue) {
    const float times[] = {0.0f, 0.1f, 0.25f, 0.5f, 0.9f, 1.0f};
    const float params[5] = {2.0f, 3.0f, 1.5f, 4.0f, 0.5f};
    std::string input;
    for (uint32_t flags : {0u, kCameraShakeFullEnvelope})
        for (float e : times)
            input += "{\"shake\": [" + Hex(e) + ", " + Hex(1.0f) + ", " + Hex(params[0]) + ", " + Hex(params[1]) +
                     ", " + Hex(params[2]) + ", " + Hex(params[3]) + ", " + Hex(params[4]) + ", " +
                     std::to_string(flags) + "]}\n";
    const auto expected = Reference(input);
    ASSERT_EQ(expected.size(), 2 * std::size(times));

    size_t row = 0;
    for (uint32_t flags : {0u, kCameraShakeFullEnvelope}) {
        GameCameraController controller;
        auto* sub = controller.AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
        sub->SetShakeFactor(2.0f);
        sub->SetRotation(0, 0, 45);
        controller.SetCurrentSubcontroller(sub, 0, 0);
        services.engine = 50'000'000;
        ASSERT_TRUE(controller.StartCameraShakeEffect(1.0f, params[0], params[1], params[2], params[3], params[4],
                                                      flags | GCCF_SYSTEMTIME));
        EXPECT_FALSE(controller.StartCameraShakeEffect(5.0f, 9, 9, 9, 9, 9, 0)) << "one runs already";
        for (float e : times) {
            services.engine = 50'000'000 + int64_t(e * 10'000'000);
            controller.Update();
            const auto out = ParseFloats(expected[row++]);
            for (int k = 0; k < 3; ++k)
                EXPECT_TRUE(Near(controller.ShakeOutputs()[k], out[k], 1e-5f))
                    << "flags " << flags << " e " << e << " output " << k;
            // The view turned in its own frame: about y by output 2, then x by output 1
            // (times the shake factor), before the subcontroller's rotation.
            Matrix turnY, turnX, turn, state, expectedWorld, world;
            turnY.LoadYRotation(controller.ShakeOutputs()[1] * 2.0f);
            turnX.LoadXRotation(controller.ShakeOutputs()[0] * 2.0f);
            turn.Mul(turnX, turnY);
            state.LoadQuaternion(sub->rotation);
            expectedWorld.Mul(state, turn);
            world.LoadQuaternion(controller.rotation);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) EXPECT_NEAR(world.r[i][j], expectedWorld.r[i][j], 1e-5f);
            // The frame's camera value: output 3 times the shake factor.
            services.cameraValues.clear();
            controller.SetupFrame(false, 0, nullptr);
            ASSERT_EQ(services.cameraValues.size(), 1u);
            EXPECT_EQ(services.cameraValues[0], controller.ShakeOutputs()[2] * 2.0f);
        }
        // Past the duration the shake ends and its outputs are 0.
        services.engine = 50'000'000 + 10'000'001;
        controller.Update();
        EXPECT_FALSE(controller.IsShaking());
        EXPECT_EQ(controller.ShakeOutputs()[2], 0.0f);
        EXPECT_EQ(controller.rotation, sub->rotation);
        EXPECT_FALSE(controller.StartCameraShakeEffect(0.0f, 1, 1, 1, 1, 1, 0));
        EXPECT_TRUE(controller.StartCameraShakeEffect(0.5f, 1, 1, 1, 1, 1, 0));
        controller.ResetCameraShakeEffect();
        EXPECT_FALSE(controller.IsShaking());
    }
}

}  // namespace
