// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// Cameras against a numpy implementation of the left-handed formulas; the camera controller
// against a float32 simulation (controller_reference.py).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/Time.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/CameraTestServices.h"
#include "engine/camera/Cameras.h"
#include "engine/camera/GameCameraController.h"
#include "engine/services/SoundServices.h"

namespace {

std::vector<Matrix> gListeners;

// The sound listener of the cameras, recorded.
struct ListenerRecorder : SoundServices {
    void SetListener(const Matrix& m) override { gListeners.push_back(m); }
};

class CameraTest : public testing::Test {
protected:
    void SetUp() override {
        SetCameraServices(&services);
        SetSoundServices(&listener);
        gListeners.clear();
    }
    void TearDown() override {
        SetCameraServices(nullptr);
        SetSoundServices(nullptr);
    }
    TestCameraServices services;
    ListenerRecorder listener;
};

std::vector<std::string> Reference(const std::string& input) {
    return RunNumpyReference("camera/camera_reference.py", input);
}

// Float32 results against the float64 reference rounded to float32; a matrix is 16.
void ExpectNear(const float* got, const std::string& line, size_t offset, size_t count, const std::string& what) {
    const std::vector<float> e = ParseFloats(line);
    ASSERT_GE(e.size(), offset + count) << what;
    for (size_t i = 0; i < count; ++i)
        EXPECT_NEAR(got[i], e[offset + i], 3e-5f * std::max(1.0f, std::fabs(e[offset + i]))) << what << " [" << i << "]";
}

TEST_F(CameraTest, ViewProjectionAndInversesOfEachCameraKind) {
    const float poses[][7] = {{10, -3, 25, 45, 30, 1920, 1080}, {-7, 12, 4, -135, -60, 800, 600},
                              {1, 2, 3, 370, 90, 0, 600}, {5, 5, 5, 200, -89.5f, 1024, 0}};
    const Quaternion q(0.18257419f, 0.36514837f, 0.54772256f, 0.73029674f);
    std::ostringstream in;
    for (const auto& p : poses) {
        in << "perspective" << Words({p[0], p[1], p[2], p[3], p[4], p[5], p[6]}) << "\n";
        in << "target" << Words({p[0], p[1], p[2], p[3], p[4], 12.5f, 60, 1, 100, p[5], p[6]}) << "\n";
        in << "game" << Words({p[0], p[1], p[2], q.x, q.y, q.z, q.w, 50, 1, 1200, p[5], p[6]}) << "\n";
    }
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(poses) * 3);

    for (size_t i = 0; i < std::size(poses); ++i) {
        const auto& p = poses[i];
        SCOPED_TRACE("pose " + std::to_string(i));
        const Vector at(p[0], p[1], p[2], 1);
        PerspectiveCamera perspective;
        TargetViewCamera target;
        GameCameraControllerCamera game;
        perspective.SetPosition(Vector(p[0], p[1], p[2]), p[3], p[4]);
        target.targetPosition = at;
        target.SetYawPitch(p[3], p[4]);
        target.SetViewDistance(12.5f);
        target.zNear = 1;  // a depth range whose inverse float can hold to the reference
        target.zFar = 100;
        game.position = at;
        game.rotation = q;
        BaseCamera* const cameras[] = {&perspective, &target, &game};
        for (size_t k = 0; k < 3; ++k) {
            cameras[k]->SetViewport(uint32_t(p[5]), uint32_t(p[6]));
            cameras[k]->RebuildMatrices();
            ExpectNear(&cameras[k]->view.r[0].x, expected[i * 3 + k], 0, 16, "view " + std::to_string(k));
            ExpectNear(&cameras[k]->projection.r[0].x, expected[i * 3 + k], 16, 16, "projection " + std::to_string(k));
        }
        ExpectNear(&target.invView.r[0].x, expected[i * 3 + 1], 32, 16, "inverse view");
        ExpectNear(&target.invViewProjection.r[0].x, expected[i * 3 + 1], 48, 16, "inverse view-projection");
    }
}

TEST_F(CameraTest, FocusTurnsMovesAndLimits) {
    Matrix transform;
    transform.LoadComplexTransformation(Vector(10, -2, 7), Vector(0, 30, 0), Vector(2, 2, 2));
    // Yaw, pitch and the deltas of RotateLocal, negative wraps included.
    const float turns[][4] = {{10, 0, -30, 0}, {-350, 80, -20, -400}, {350, 80, 20, 300}, {0, -80, -720.5f, -20}};
    std::ostringstream in;
    in << "focus" << Words({-1, 0, -2, 3, 4, 2}) << Words(transform) << Words({60.0f}) << "\n";
    in << "movelocal" << Words({40, 25, 1, 2, 3}) << "\n";
    for (const auto& t : turns) in << "rotate" << Words({t[0], t[1], t[2], t[3]}) << "\n";
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(turns) + 2);

    TargetViewCamera target;
    EXPECT_EQ(std::make_tuple(target.viewDistance, target.fov, target.zNear, target.zFar),
              std::make_tuple(1.0f, 60.0f, 0.01f, 1000.0f));
    target.Focus(BoundingBox4(Vector(-1, 0, -2, 1), Vector(3, 4, 2, 1)), transform);
    ExpectNear(&target.targetPosition.x, expected[0], 0, 3, "focus target");
    ExpectNear(&target.viewDistance, expected[0], 3, 1, "focus distance");
    PerspectiveCamera mover;
    mover.SetPosition(Vector(0, 0, 0), 40, 25);
    mover.MoveLocal(Vector(1, 2, 3));
    ExpectNear(&mover.eyePosition.x, expected[1], 0, 3, "move local");
    EXPECT_EQ(mover.eyePosition.w, 1.0f);
    target.targetPosition = Vector();
    target.SetYawPitch(40, 25);
    target.MoveLocal(Vector(1, 2, 3));
    ExpectNear(&target.targetPosition.x, expected[1], 0, 3, "move local of the target");
    for (size_t i = 0; i < std::size(turns); ++i) {
        PerspectiveCamera c;
        c.yaw = turns[i][0], c.pitch = turns[i][1];
        c.RotateLocal(turns[i][2], turns[i][3]);
        const auto e = ParseFloats(expected[2 + i]);
        EXPECT_EQ(std::make_tuple(c.yaw, c.pitch), std::make_tuple(e[0], e[1])) << i;
    }

    PerspectiveCamera c;
    c.SetYawPitch(10, 120);
    EXPECT_EQ(c.pitch, 90.0f);
    c.SetYawPitch(-400, -90.5f);
    EXPECT_EQ(std::make_tuple(c.yaw, c.pitch), std::make_tuple(-400.0f, -90.0f));
    TargetViewCamera t;
    t.AlterViewDistance(-5);
    EXPECT_EQ(t.viewDistance, 0.0f);
    t.AlterViewDistance(3);
    EXPECT_EQ(t.viewDistance, 3.0f);
    // Turning around the eye keeps the eye where it is.
    t.targetPosition = Vector(5, 6, 7, 1);
    t.SetYawPitch(20, 10);
    const Vector eye = t.EyePosition();
    t.RotateAroundEye(-50, 30);
    EXPECT_EQ(std::make_tuple(t.yaw, t.pitch), std::make_tuple(-30.0f, 40.0f));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(t.EyePosition()[i], eye[i], 1e-5f);
}

TEST_F(CameraTest, RegisteredClassesAndTheirProperties) {
    // Stored data depends on each class's base and its own properties in order.
    const char* const rows[] = {"LCRTSCameraSubcontroller<LCBaseCameraSubcontroller:",
                                "PerspectiveCamera<YawPitchCamera:Eye position,",
                                "TargetViewCamera<YawPitchCamera:Target position,View distance,zNear,zFar,",
                                "GameCameraControllerCamera<BaseCamera:Position,Rotation,Scale,zNear,zFar,"};
    for (const std::string row : rows) {
        const RTTIClass* c = RTTIClassRegistry::FindClass(row.substr(0, row.find('<')).c_str());
        ASSERT_NE(c, nullptr) << row;
        std::string got = std::string(c->Name()) + "<" + (c->Base() ? c->Base()->Name() : "") + ":";
        for (uint32_t i = 0; i < c->PropertyCount(); ++i) got += std::string(c->PropertyAt(i)->Name()) + ",";
        EXPECT_EQ(got, row);
    }
    // The float properties reach their fields.
    TargetViewCamera t;
    GameCameraControllerCamera g;
    for (auto [object, property, field] : {std::tuple<RTTIPolyBaseClass*, const char*, float*>{&t, "Yaw", &t.yaw},
                                           {&t, "Pitch", &t.pitch}, {&t, "View distance", &t.viewDistance},
                                           {&t, "zNear", &t.zNear}, {&t, "zFar", &t.zFar}, {&g, "zNear", &g.zNear},
                                           {&g, "zFar", &g.zFar}}) {
        ASSERT_TRUE(object->SetPropertyFromString(property, "12.5")) << property;
        EXPECT_EQ(*field, 12.5f) << property;
    }
    EXPECT_EQ(std::make_tuple(g.fov, g.soundListenerAltitude, g.rotation), std::make_tuple(50.0f, 0.0f, Quaternion()));
}

TEST_F(CameraTest, WhatReachesTheRenderer) {
    PerspectiveCamera c;
    c.SetPosition(Vector(1, 2, 3), 10, 20);
    c.SetViewport(0, 600);
    EXPECT_FALSE(c.UpdateCamera(true));
    EXPECT_TRUE(services.viewports.empty()) << "a width-0 viewport does not reach the renderer";
    EXPECT_EQ(std::make_tuple(services.current, c.rendererView), std::make_tuple(c.view, c.view)) << "the matrices do";
    EXPECT_EQ(c.projection.r[1].y, c.projection.r[0].x) << "aspect 1";
    c.SetViewport(1280, 720);
    ASSERT_TRUE(c.UpdateCamera(false));
    EXPECT_EQ(services.viewports, (std::vector<CameraViewport>{{0, 0, 1280, 720, 0.0f, 1.0f}}));

    // Clearing with the given colour, else the background; nothing without flags or a
    // viewport.
    c.SetBackgroundColor(0.1f, 0.2f, 0.3f, 1.0f);
    const Vector red(1, 0, 0, 1);
    EXPECT_TRUE(c.SetupFrame(false, 7, &red));
    EXPECT_TRUE(c.SetupFrame(false, 3, nullptr));
    EXPECT_TRUE(c.SetupFrame(false, 0, &red));
    c.SetViewport(1280, 0);
    EXPECT_FALSE(c.SetupFrame(false, 3, &red));
    const std::vector<std::pair<uint32_t, Vector>> clears = {{7, red}, {3, Vector(0.1f, 0.2f, 0.3f, 1.0f)}};
    EXPECT_EQ(services.clears, clears);
    EXPECT_TRUE(gListeners.empty());
    // The base listener is the renderer's camera: the inverse of its current view.
    c.SetupFrame(true, 0, nullptr);
    ASSERT_EQ(gListeners.size(), 1u);
    Matrix camera;
    camera.Inverse(c.view);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(gListeners[0].r[i / 4][i % 4], camera.r[i / 4][i % 4], 1e-5f);
}

TEST_F(CameraTest, GameCameraListenerOnTheGround) {
    // Pitch about x (positive looks down) under a yaw of 35 degrees.
    const float pitches[] = {0.0f, 2.0f, 30.0f, 44.9f, 60.0f, 90.0f, -20.0f};
    std::vector<Matrix> worlds;
    std::ostringstream in;
    for (float pitch : pitches) {
        GameCameraControllerCamera camera;
        camera.position = Vector(12, 50, -30, 1);
        Quaternion qp, qy;
        qp.LoadXRotation(pitch);
        qy.LoadYRotation(35);
        camera.rotation.Mul(qp, qy);
        camera.RebuildMatrices();
        worlds.push_back(camera.invView);
        in << "listener" << Words(camera.invView) << Words({100.0f}) << "\n";
    }
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(pitches));
    // Horizontal, barely down and up keep the renderer's camera.
    EXPECT_EQ(std::make_tuple(expected[0], expected[1], expected[6]), std::make_tuple("renderer", "renderer", "renderer"));
    services.current.LoadTranslation(-1, -2, -3);
    GameCameraControllerCamera camera;
    camera.soundListenerAltitude = 100;
    for (size_t i = 0; i < std::size(pitches); ++i) {
        const Matrix listener = camera.ComputeListener(worlds[i]);
        if (expected[i] == "renderer") {
            EXPECT_EQ(listener.r[3], Vector(1, 2, 3, 1)) << pitches[i];
        } else {
            ExpectNear(&listener.r[0].x, expected[i], 0, 16, "pitch " + std::to_string(pitches[i]));
            EXPECT_EQ(listener.r[3].y, 100.0f);
        }
    }
}

TEST_F(CameraTest, FrustumPlanesPointInside) {
    TargetViewCamera camera;
    camera.SetViewport(1920, 1080);
    camera.SetYawPitch(30, 20);
    camera.SetViewDistance(50);
    camera.zNear = 1;
    camera.zFar = 200;
    camera.RebuildMatrices();
    const Frustum f = ComputeFrustumPlanes(camera.view, camera.projection);
    const auto expected = Reference("frustum" + Words(camera.view) + Words(camera.projection) + "\n");
    ASSERT_EQ(expected.size(), 1u);
    ExpectNear(&f.planes[0].x, expected[0], 0, 24, "planes");

    // Points given in clip space (x, y in -1..1, z in 0..1) taken back to the world:
    // each point outside lies beyond exactly the plane it is named after (-1: inside).
    const std::pair<Vector, int> cases[] = {{{0, 0, 0.5f, 1}, -1}, {{0.9f, -0.9f, 0.99f, 1}, -1}, {{0, 0, -0.01f, 1}, 0},
                                            {{0, 0, 1.002f, 1}, 1}, {{-1.05f, 0, 0.5f, 1}, 2}, {{1.05f, 0, 0.5f, 1}, 3},
                                            {{0, -1.05f, 0.5f, 1}, 4}, {{0, 1.05f, 0.5f, 1}, 5}};
    for (const auto& [clip, outside] : cases) {
        Vector world;
        world.TransformHomogen(camera.invViewProjection, clip);
        for (int p = 0; p < 6; ++p)
            EXPECT_EQ(f.planes[p].Dot3(world) + f.planes[p].w < 0.0f, p == outside) << "plane " << p << " case " << outside;
    }
}


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

std::vector<std::string> ControllerReference(const std::string& input) {
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
    const auto expected = ControllerReference(input);
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
    const auto expected = ControllerReference(input);
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
    const auto expected = ControllerReference(input);
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
