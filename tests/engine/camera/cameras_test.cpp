// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// Cameras against a numpy implementation of the left-handed formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "engine/services/EngineServices.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/camera/CameraTestServices.h"
#include "engine/camera/Cameras.h"

namespace {

std::vector<Matrix> gListeners;

class CameraTest : public testing::Test {
protected:
    void SetUp() override {
        SetCameraServices(&services);
        gEngineServices = EngineServices();
        gEngineServices.soundEngineSetListener = [](const Matrix& m) { gListeners.push_back(m); };
        gListeners.clear();
    }
    void TearDown() override {
        SetCameraServices(nullptr);
        gEngineServices = EngineServices();
    }
    TestCameraServices services;
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

}  // namespace
