// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// Cameras against a numpy implementation of the left-handed formulas: the matrices of
// each camera kind, the inverses, Focus, the angle rules, the sound listener of the
// game camera; what reaches the renderer; the view-volume planes.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/rtti/RTTIProperty.h"
#include "engine/EngineServices.h"
#include "engine/NumpyReference.h"
#include "engine/camera/Cameras.h"

namespace {

// Records what the cameras send to the renderer.
class RecordingServices : public CameraServices {
public:
    void SetViewport(const CameraViewport& v) override { viewports.push_back(v); }
    void SetCamera(const Matrix& world, const Matrix& v, const Matrix& p) override {
        worlds.push_back(world);
        views.push_back(v);
        current = v;
        currentProjection = p;
    }
    void Clear(uint32_t flags, const Vector& color, float depth, uint32_t stencil) override {
        clears.push_back({flags, color, depth, stencil});
    }
    const Matrix& CurrentView() const override { return current; }
    const Matrix& CurrentProjection() const override { return currentProjection; }

    struct ClearCall {
        uint32_t flags;
        Vector color;
        float depth;
        uint32_t stencil;
    };
    std::vector<CameraViewport> viewports;
    std::vector<Matrix> worlds, views;
    std::vector<ClearCall> clears;
    Matrix current = Matrix::IDENTITY, currentProjection = Matrix::IDENTITY;
};

std::vector<Matrix> gListeners;
void RecordListener(const Matrix& m) { gListeners.push_back(m); }

class CameraTest : public testing::Test {
protected:
    void SetUp() override {
        SetCameraServices(&services);
        gEngineServices = EngineServices();
        gEngineServices.soundEngineSetListener = RecordListener;
        gListeners.clear();
    }
    void TearDown() override {
        SetCameraServices(nullptr);
        gEngineServices = EngineServices();
    }

    RecordingServices services;
};

std::vector<std::string> Reference(const std::string& input) {
    return RunNumpyReference("camera/camera_reference.py", input);
}

std::string Words(std::initializer_list<float> values) {
    std::string s;
    for (float v : values) s += " " + FloatBits(v);
    return s;
}

std::string Words(const Matrix& m) {
    std::string s;
    for (int i = 0; i < 16; ++i) s += " " + FloatBits(m.r[i / 4][i % 4]);
    return s;
}

// Float32 results against the float64 reference rounded to float32.
void ExpectNear(const float* got, const std::vector<float>& expected, size_t offset, size_t count,
                const std::string& what) {
    ASSERT_GE(expected.size(), offset + count) << what;
    for (size_t i = 0; i < count; ++i) {
        const float e = expected[offset + i];
        EXPECT_NEAR(got[i], e, 3e-5f * std::max(1.0f, std::fabs(e))) << what << " [" << i << "]";
    }
}

void ExpectMatrixNear(const Matrix& m, const std::vector<float>& expected, size_t offset, const std::string& what) {
    ExpectNear(&m.r[0].x, expected, offset, 16, what);
}

TEST_F(CameraTest, ViewAndProjectionOfEachCameraKind) {
    struct Pose {
        float x, y, z, yaw, pitch;
        uint32_t width, height;
    };
    const Pose poses[] = {{0, 0, 0, 0, 0, 1280, 720},       {10, -3, 25, 45, 30, 1920, 1080},
                          {-7, 12, 4, -135, -60, 800, 600},  {1, 2, 3, 370, 90, 0, 600},
                          {5, 5, 5, 200, -89.5f, 1024, 0}};
    std::ostringstream in;
    for (const Pose& p : poses) {
        in << "perspective" << Words({p.x, p.y, p.z, p.yaw, p.pitch, float(p.width), float(p.height)}) << "\n";
        in << "target" << Words({p.x, p.y, p.z, p.yaw, p.pitch, 12.5f, 60.0f, 0.01f, 1000.0f, float(p.width),
                                 float(p.height)})
           << "\n";
        in << "game" << Words({p.x, p.y, p.z, 0.18257419f, 0.36514837f, 0.54772256f, 0.73029674f, 50.0f, 1.0f,
                               1200.0f, float(p.width), float(p.height)})
           << "\n";
    }
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(poses) * 3);

    for (size_t i = 0; i < std::size(poses); ++i) {
        const Pose& p = poses[i];
        const std::string tag = "pose " + std::to_string(i);
        PerspectiveCamera perspective;
        perspective.SetViewport(p.width, p.height);
        perspective.SetPosition(Vector(p.x, p.y, p.z), p.yaw, p.pitch);
        perspective.RebuildMatrices();
        auto e = ParseFloats(expected[i * 3]);
        ExpectMatrixNear(perspective.view, e, 0, tag + " perspective view");
        ExpectMatrixNear(perspective.projection, e, 16, tag + " perspective projection");

        TargetViewCamera target;
        target.SetViewport(p.width, p.height);
        target.targetPosition = Vector(p.x, p.y, p.z, 1);
        target.SetYawPitch(p.yaw, p.pitch);
        target.SetViewDistance(12.5f);
        target.RebuildMatrices();
        e = ParseFloats(expected[i * 3 + 1]);
        ExpectMatrixNear(target.view, e, 0, tag + " target view");
        ExpectMatrixNear(target.projection, e, 16, tag + " target projection");

        GameCameraControllerCamera game;
        game.SetViewport(p.width, p.height);
        game.position = Vector(p.x, p.y, p.z, 1);
        game.rotation = Quaternion(0.18257419f, 0.36514837f, 0.54772256f, 0.73029674f);
        game.RebuildMatrices();
        e = ParseFloats(expected[i * 3 + 2]);
        ExpectMatrixNear(game.view, e, 0, tag + " game view");
        ExpectMatrixNear(game.projection, e, 16, tag + " game projection");
    }
}

TEST_F(CameraTest, InverseMatricesFollowTheCamera) {
    TargetViewCamera camera;
    camera.SetViewport(1600, 900);
    camera.targetPosition = Vector(3, 4, 5, 1);
    camera.SetYawPitch(33, 21);
    camera.SetViewDistance(40);
    camera.zNear = 1;  // a depth range the float inverse can hold to the reference
    camera.zFar = 100;
    camera.RebuildMatrices();
    Matrix viewProjection;
    viewProjection.Mul(camera.projection, camera.view);
    const auto expected = Reference("inverse" + Words(camera.view) + "\ninverse" + Words(viewProjection) + "\n");
    ASSERT_EQ(expected.size(), 2u);
    ExpectMatrixNear(camera.invView, ParseFloats(expected[0]), 0, "inverse view");
    ExpectMatrixNear(camera.invViewProjection, ParseFloats(expected[1]), 0, "inverse view-projection");
    // The inverse view's last row is the eye.
    const Vector eye = camera.EyePosition();
    EXPECT_NEAR(camera.invView.r[3].x, eye.x, 1e-4f);
    EXPECT_NEAR(camera.invView.r[3].z, eye.z, 1e-4f);
}

TEST_F(CameraTest, FocusRotateLocalAndMoveLocal) {
    Matrix transform;
    transform.LoadComplexTransformation(Vector(10, -2, 7), Vector(0, 30, 0), Vector(2, 2, 2));
    const BoundingBox4 box(Vector(-1, 0, -2, 1), Vector(3, 4, 2, 1));
    struct Turn {
        float yaw, pitch, dyaw, dpitch;
    };
    const Turn turns[] = {{10, 0, -30, 0},      {-350, 80, -20, -400}, {350, 80, 20, 300},
                          {0, -80, -720.5f, -20}, {100, 10, 0, 350}};
    std::ostringstream in;
    in << "focus" << Words({-1, 0, -2, 3, 4, 2}) << Words(transform) << Words({60.0f}) << "\n";
    for (const Turn& t : turns) in << "rotate" << Words({t.yaw, t.pitch, t.dyaw, t.dpitch}) << "\n";
    in << "movelocal" << Words({40, 25, 1, 2, 3}) << "\n";
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(turns) + 2);

    TargetViewCamera camera;
    camera.Focus(box, transform);
    const auto focus = ParseFloats(expected[0]);
    ExpectNear(&camera.targetPosition.x, focus, 0, 3, "focus target");
    ExpectNear(&camera.viewDistance, focus, 3, 1, "focus distance");

    for (size_t i = 0; i < std::size(turns); ++i) {
        PerspectiveCamera c;
        c.yaw = turns[i].yaw;
        c.pitch = turns[i].pitch;
        c.RotateLocal(turns[i].dyaw, turns[i].dpitch);
        const auto e = ParseFloats(expected[1 + i]);
        EXPECT_EQ(c.yaw, e[0]) << i;
        EXPECT_EQ(c.pitch, e[1]) << i;
    }

    PerspectiveCamera mover;
    mover.SetPosition(Vector(1, 1, 1), 40, 25);
    mover.MoveLocal(Vector(1, 2, 3));
    const auto move = ParseFloats(expected.back());
    const float moved[3] = {mover.eyePosition.x - 1, mover.eyePosition.y - 1, mover.eyePosition.z - 1};
    ExpectNear(moved, move, 0, 3, "move local");
    EXPECT_EQ(mover.eyePosition.w, 1.0f);
    TargetViewCamera targetMover;
    targetMover.SetYawPitch(40, 25);
    targetMover.MoveLocal(Vector(1, 2, 3));
    ExpectNear(&targetMover.targetPosition.x, move, 0, 3, "move local of the target");
}

TEST_F(CameraTest, AngleAndDistanceLimits) {
    PerspectiveCamera c;
    c.SetYawPitch(10, 120);
    EXPECT_EQ(c.yaw, 10.0f);
    EXPECT_EQ(c.pitch, 90.0f);
    c.SetYawPitch(-400, -90.5f);
    EXPECT_EQ(c.yaw, -400.0f);
    EXPECT_EQ(c.pitch, -90.0f);

    TargetViewCamera t;
    EXPECT_EQ(t.viewDistance, 1.0f);
    EXPECT_EQ(t.fov, 60.0f);
    EXPECT_EQ(t.zNear, 0.01f);
    EXPECT_EQ(t.zFar, 1000.0f);
    t.AlterViewDistance(-5);
    EXPECT_EQ(t.viewDistance, 0.0f);
    t.AlterViewDistance(2.5f);
    t.AlterViewDistance(-2.5f);
    EXPECT_EQ(t.viewDistance, 0.0f);
    t.AlterViewDistance(3);
    EXPECT_EQ(t.viewDistance, 3.0f);

    // Turning around the eye keeps the eye where it is.
    t.targetPosition = Vector(5, 6, 7, 1);
    t.SetYawPitch(20, 10);
    const Vector eye = t.EyePosition();
    t.RotateAroundEye(-50, 30);
    EXPECT_EQ(t.yaw, -30.0f);
    EXPECT_EQ(t.pitch, 40.0f);
    const Vector after = t.EyePosition();
    EXPECT_NEAR(after.x, eye.x, 1e-5f);
    EXPECT_NEAR(after.y, eye.y, 1e-5f);
    EXPECT_NEAR(after.z, eye.z, 1e-5f);
}

TEST_F(CameraTest, WhatReachesTheRenderer) {
    PerspectiveCamera c;
    c.SetPosition(Vector(1, 2, 3), 10, 20);
    c.SetViewport(0, 600);
    services.current.LoadTranslation(9, 9, 9);
    EXPECT_FALSE(c.UpdateCamera(true));
    EXPECT_TRUE(services.viewports.empty()) << "a width-0 viewport does not reach the renderer";
    ASSERT_EQ(services.views.size(), 1u);
    EXPECT_EQ(services.views[0], c.view);
    EXPECT_EQ(services.worlds[0], Matrix::IDENTITY);
    EXPECT_EQ(c.rendererView, c.view) << "the renderer's current matrices are kept";
    EXPECT_EQ(c.projection.r[1].y, c.projection.r[0].x) << "aspect 1";

    c.SetViewport(1280, 720);
    ASSERT_TRUE(c.UpdateCamera(false));
    ASSERT_EQ(services.viewports.size(), 1u);
    EXPECT_EQ(services.viewports[0], (CameraViewport{0, 0, 1280, 720, 0.0f, 1.0f}));

    // Clearing: the given colour, else the background; depth 1, stencil 0; nothing
    // cleared without flags or without a viewport.
    c.SetBackgroundColor(0.1f, 0.2f, 0.3f, 1.0f);
    const Vector red(1, 0, 0, 1);
    EXPECT_TRUE(c.SetupFrame(false, 7, &red));
    EXPECT_TRUE(c.SetupFrame(false, 3, nullptr));
    EXPECT_TRUE(c.SetupFrame(false, 0, &red));
    c.SetViewport(1280, 0);
    EXPECT_FALSE(c.SetupFrame(false, 3, &red));
    ASSERT_EQ(services.clears.size(), 2u);
    EXPECT_EQ(services.clears[0].flags, 7u);
    EXPECT_EQ(services.clears[0].color, red);
    EXPECT_EQ(services.clears[0].depth, 1.0f);
    EXPECT_EQ(services.clears[0].stencil, 0u);
    EXPECT_EQ(services.clears[1].color, Vector(0.1f, 0.2f, 0.3f, 1.0f));
    EXPECT_TRUE(gListeners.empty());

    // The base listener is the renderer's camera: the inverse of its current view.
    c.SetViewport(1280, 720);
    c.SetupFrame(true, 0, nullptr);
    ASSERT_EQ(gListeners.size(), 1u);
    Matrix camera;
    camera.Inverse(c.view);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(gListeners[0].r[i][j], camera.r[i][j], 1e-5f);
}

TEST_F(CameraTest, GameCameraListenerOnTheGround) {
    struct Case {
        const char* what;
        float pitchDegrees;  // about x: positive looks down
    };
    const Case cases[] = {{"horizontal", 0.0f}, {"barely down", 2.0f}, {"gently", 30.0f}, {"45 degrees", 44.9f},
                          {"steeply", 60.0f},   {"straight down", 90.0f}, {"up", -20.0f}};
    std::vector<Matrix> worlds;
    std::ostringstream in;
    for (const Case& c : cases) {
        GameCameraControllerCamera camera;
        camera.position = Vector(12, 50, -30, 1);
        Quaternion pitch, yaw;
        pitch.LoadXRotation(c.pitchDegrees);
        yaw.LoadYRotation(35);
        camera.rotation.Mul(pitch, yaw);
        camera.soundListenerAltitude = 100;
        camera.RebuildMatrices();
        worlds.push_back(camera.invView);
        in << "listener" << Words(camera.invView) << Words({100.0f}) << "\n";
    }
    const auto expected = Reference(in.str());
    ASSERT_EQ(expected.size(), std::size(cases));
    services.current.LoadTranslation(-1, -2, -3);
    for (size_t i = 0; i < std::size(cases); ++i) {
        GameCameraControllerCamera camera;
        camera.soundListenerAltitude = 100;
        const Matrix listener = camera.ComputeListener(worlds[i]);
        if (expected[i] == "renderer") {
            EXPECT_EQ(listener.r[3], Vector(1, 2, 3, 1)) << cases[i].what;
            continue;
        }
        ExpectMatrixNear(listener, ParseFloats(expected[i]), 0, cases[i].what);
        EXPECT_EQ(listener.r[3].y, 100.0f) << cases[i].what;
    }
    EXPECT_EQ(expected[0], "renderer");
    EXPECT_EQ(expected[1], "renderer") << "looking down by less than 0.05 keeps the renderer's camera";
    EXPECT_EQ(expected.back(), "renderer");
}

TEST_F(CameraTest, FrustumPlanesPointInside) {
    TargetViewCamera camera;
    camera.SetViewport(1920, 1080);
    camera.targetPosition = Vector(0, 0, 0, 1);
    camera.SetYawPitch(30, 20);
    camera.SetViewDistance(50);
    camera.zNear = 1;
    camera.zFar = 200;
    camera.RebuildMatrices();
    const Frustum f = ComputeFrustumPlanes(camera.view, camera.projection);
    const auto expected = Reference("frustum" + Words(camera.view) + Words(camera.projection) + "\n");
    ASSERT_EQ(expected.size(), 1u);
    ExpectNear(&f.planes[0].x, ParseFloats(expected[0]), 0, 24, "planes");

    // Points given in clip space (x, y in -1..1, z in 0..1), taken back to the world:
    // each point outside lies beyond exactly the plane it is named after.
    struct Case {
        Vector clip;
        int outside;  // -1 inside
    };
    const Case cases[] = {{{0, 0, 0.5f, 1}, -1},   {{0.9f, -0.9f, 0.99f, 1}, -1}, {{0, 0, -0.01f, 1}, 0},
                          {{0, 0, 1.002f, 1}, 1},   {{-1.05f, 0, 0.5f, 1}, 2},    {{1.05f, 0, 0.5f, 1}, 3},
                          {{0, -1.05f, 0.5f, 1}, 4}, {{0, 1.05f, 0.5f, 1}, 5}};
    for (const Case& c : cases) {
        Vector world;
        world.TransformHomogen(camera.invViewProjection, c.clip);
        for (int p = 0; p < 6; ++p) {
            const float d = f.planes[p].Dot3(world) + f.planes[p].w;
            if (p == c.outside)
                EXPECT_LT(d, 0.0f) << "plane " << p;
            else
                EXPECT_GT(d, 0.0f) << "plane " << p << " for a point outside " << c.outside;
        }
        const BoundingBox4 dot(world, world);
        EXPECT_EQ(dot.IntersectsFrustum(f), c.outside < 0);
    }
}

TEST_F(CameraTest, RegisteredClassesAndProperties) {
    struct Case {
        const char* name;
        const char* base;
        std::vector<const char*> properties;
    };
    const Case cases[] = {{"BaseCamera", nullptr, {}},
                          {"YawPitchCamera", "BaseCamera", {"Yaw", "Pitch"}},
                          {"PerspectiveCamera", "YawPitchCamera", {"Eye position"}},
                          {"TargetViewCamera", "YawPitchCamera", {"Target position", "View distance", "zNear", "zFar"}},
                          {"GameCameraControllerCamera", "BaseCamera", {"Position", "Rotation", "Scale", "zNear", "zFar"}}};
    for (const Case& c : cases) {
        const RTTIClass* cls = RTTIClassRegistry::FindClass(c.name);
        ASSERT_NE(cls, nullptr) << c.name;
        if (c.base) {
            EXPECT_STREQ(cls->Base() ? cls->Base()->Name() : "", c.base) << c.name;
        }
        ASSERT_EQ(cls->PropertyCount(), c.properties.size()) << c.name;
        for (size_t i = 0; i < c.properties.size(); ++i)
            EXPECT_STREQ(cls->PropertyAt(uint32_t(i))->Name(), c.properties[i]);
    }
    // Text access reaches the fields.
    GameCameraControllerCamera game;
    ASSERT_TRUE(game.SetPropertyFromString("zFar", "500"));
    EXPECT_EQ(game.zFar, 500.0f);
    EXPECT_EQ(game.fov, 50.0f);
    EXPECT_EQ(game.zNear, 1.0f);
    EXPECT_EQ(game.rotation, Quaternion());
    EXPECT_EQ(game.soundListenerAltitude, 0.0f);
    TargetViewCamera target;
    ASSERT_TRUE(target.SetPropertyFromString("Pitch", "12.5"));
    EXPECT_EQ(target.pitch, 12.5f);
}

}  // namespace
