// test-sources: ../../engine/NumpyReference.cpp
// The camera helper against the numpy reference (camera_helper_reference.py) on seeded
// random groups and rotations, and the framing itself: with the returned camera every
// object lies inside the margin-shifted side planes; a group too far apart keeps its main
// object inside at the largest distance; one object, coincident objects and a view
// straight down; the main index through resets and additions.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/NumpyReference.h"
#include "engine/camera/Cameras.h"
#include "game/camera/ZKRCameraHelper.h"

namespace {

Quaternion Rotation(float yaw, float pitch) {
    Quaternion y, p;
    y.LoadYRotation(yaw);
    p.LoadXRotation(pitch);
    // Pitch first, then yaw (row vectors: p x y).
    return Quaternion(y.w * p.x + y.x * p.w + y.y * p.z - y.z * p.y, y.w * p.y - y.x * p.z + y.y * p.w + y.z * p.x,
                      y.w * p.z + y.x * p.y - y.y * p.x + y.z * p.w, y.w * p.w - y.x * p.x - y.y * p.y - y.z * p.z);
}

// The smallest inside distance less the margin of any of the points to the side planes
// of the camera standing `distance` back from lookAt.
float WorstInside(const GameCameraControllerCamera& camera, const Quaternion& q, float fov, const Vector& lookAt,
                  float distance, float margin, const std::vector<Vector>& points) {
    Vector eye;
    ZKRCameraHelper::CalculateCamPosition(lookAt, q, distance, &eye);
    Matrix view, projection;
    camera.ComputeViewProjection(eye, q, fov, &view, &projection);
    const Frustum f = ComputeFrustumPlanes(view, projection);
    float worst = INFINITY;
    for (const Vector& p : points) {
        for (int i = 2; i < 6; ++i) worst = std::min(worst, f.planes[i].Dot3(p) + f.planes[i].w - margin);
    }
    return worst;
}

class CameraHelper : public ::testing::Test {
protected:
    void SetUp() override {
        camera.SetViewport(1280, 720);
        camera.zNear = 0.5f;
        camera.zFar = 2000.0f;
    }
    ZKRCameraHelper Helper(const std::vector<Vector>& points, int main = -1, float margin = 2.0f) {
        ZKRCameraHelper h;
        h.SetScreenEdgeDistOffset(margin);
        for (size_t i = 0; i < points.size(); ++i) h.AddObjectPosition(points[i], int(i) == main);
        return h;
    }
    GameCameraControllerCamera camera;
};

TEST_F(CameraHelper, MatchesTheReferenceOnRandomGroups) {
    std::mt19937 rng(2026);
    auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    struct Case {
        ZKRCameraHelper helper;
        Quaternion q;
        float fov, minDistance, maxDistance;
    };
    std::vector<Case> cases;
    std::ostringstream input;
    for (int n = 0; n < 300; ++n) {
        Case c;
        c.q = Rotation(uniform(0, 360), uniform(20, 85));
        c.fov = uniform(30, 70);
        c.minDistance = uniform(5, 30);
        c.maxDistance = c.minDistance + (n % 3 == 0 ? uniform(0, 10) : uniform(0, 200));
        const float margin = uniform(0, 5), spread = uniform(1, 60);
        const int count = std::uniform_int_distribution<int>(1, 8)(rng);
        const int main = std::uniform_int_distribution<int>(-1, count - 1)(rng);
        std::vector<Vector> points;
        for (int i = 0; i < count; ++i) {
            points.emplace_back(uniform(-spread, spread), uniform(0, 3), uniform(-spread, spread), 1.0f);
        }
        c.helper = Helper(points, main, margin);
        for (float v : {c.q.x, c.q.y, c.q.z, c.q.w, c.fov, c.minDistance, c.maxDistance, margin, 1280.0f / 720.0f,
                        camera.zNear, camera.zFar}) {
            input << FloatBits(v) << ' ';
        }
        input << c.helper.MainObjectIndex() << ' ' << count;
        for (const Vector& p : points) {
            for (float v : {p.x, p.y, p.z, p.w}) input << ' ' << FloatBits(v);
        }
        input << '\n';
        cases.push_back(c);
    }
    const std::vector<std::string> lines = RunNumpyReference("../game/camera/camera_helper_reference.py", input.str());
    ASSERT_EQ(lines.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        Vector at;
        float distance = 0;
        const bool ok = c.helper.CalculateCamLookAtPosAndDispAlongViewDir(camera, c.q, c.fov, c.minDistance,
                                                                          c.maxDistance, &at, &distance);
        ASSERT_EQ(ok ? "true" : "false", lines[i].substr(0, lines[i].find(' '))) << "case " << i;
        if (!ok) continue;
        const std::vector<float> want = ParseFloats(lines[i].substr(5));
        ASSERT_EQ(want.size(), 5u);
        const float got[5] = {at.x, at.y, at.z, at.w, distance};
        for (int k = 0; k < 5; ++k) {
            EXPECT_NEAR(got[k], want[k], 2e-3f * std::max(1.0f, std::fabs(want[k]))) << "case " << i << " value " << k;
        }
    }
}

TEST_F(CameraHelper, EveryObjectFitsInsideTheMargin) {
    const Quaternion q = Rotation(30, 55);
    const std::vector<std::vector<Vector>> groups = {
        {{0, 0, 0, 1}, {10, 0, 4, 1}},
        {{-20, 1, 5, 1}, {20, 0, -5, 1}, {3, 2, 30, 1}},
        {{1, 0, 1, 1}, {1.5f, 0, 1, 1}},  // close together: the smallest distance
    };
    for (size_t g = 0; g < groups.size(); ++g) {
        const ZKRCameraHelper h = Helper(groups[g]);
        Vector at;
        float distance = 0;
        ASSERT_TRUE(h.CalculateCamLookAtPosAndDispAlongViewDir(camera, q, 45, 12, 500, &at, &distance));
        EXPECT_GE(distance, 12.0f) << "group " << g;
        EXPECT_EQ(at.y, 0.0f) << "group " << g;
        EXPECT_GE(WorstInside(camera, q, 45, at, distance, 2.0f, groups[g]), -1e-3f) << "group " << g;
        // When the fit needed more than the smallest distance, some object is on the margin.
        if (distance > 12.0f) {
            EXPECT_NEAR(WorstInside(camera, q, 45, at, distance, 2.0f, groups[g]), 0.0f, 1e-2f) << "group " << g;
        }
    }
}

TEST_F(CameraHelper, TooFarApartKeepsTheMainObjectInside) {
    const Quaternion q = Rotation(0, 60);
    const std::vector<Vector> points = {{-300, 0, 0, 1}, {300, 0, 0, 1}, {0, 0, 250, 1}};
    for (int main : {0, 1, 2}) {
        const ZKRCameraHelper h = Helper(points, main);
        Vector at;
        float distance = 0;
        ASSERT_TRUE(h.CalculateCamLookAtPosAndDispAlongViewDir(camera, q, 40, 10, 60, &at, &distance));
        EXPECT_EQ(distance, 60.0f) << "main " << main;
        EXPECT_GE(WorstInside(camera, q, 40, at, distance, 2.0f, {points[main]}), -1e-2f) << "main " << main;
    }
    // Without a main object the distance is what the fit needs.
    Vector at;
    float distance = 0;
    ASSERT_TRUE(Helper(points).CalculateCamLookAtPosAndDispAlongViewDir(camera, q, 40, 10, 60, &at, &distance));
    EXPECT_GT(distance, 60.0f);
}

TEST_F(CameraHelper, DegenerateGroupsStayFinite) {
    const Vector p(4, 2, -7, 1);
    const struct {
        const char* what;
        std::vector<Vector> points;
        Quaternion q;
    } cases[] = {
        {"coincident objects", {p, p, p}, Rotation(10, 50)},
        {"a view straight down", {p, Vector(9, 0, 3, 1)}, Rotation(0, 90)},
        {"a level view", {p, Vector(9, 0, 3, 1)}, Rotation(0, 0)},
    };
    for (const auto& c : cases) {
        for (int main : {-1, 0}) {
            Vector at;
            float distance = -1;
            ASSERT_TRUE(
                Helper(c.points, main).CalculateCamLookAtPosAndDispAlongViewDir(camera, c.q, 50, 8, 20, &at, &distance))
                << c.what;
            EXPECT_TRUE(std::isfinite(at.x) && std::isfinite(at.y) && std::isfinite(at.z)) << c.what;
            EXPECT_TRUE(std::isfinite(distance) && distance >= 8) << c.what;
        }
    }
}

TEST_F(CameraHelper, OneObjectAndNone) {
    ZKRCameraHelper h;
    Vector at(1, 1, 1, 1);
    float distance = -1;
    EXPECT_FALSE(h.CalculateCamLookAtPosAndDispAlongViewDir(camera, Rotation(0, 45), 50, 8, 20, &at, &distance));
    EXPECT_EQ(distance, -1.0f);
    h.AddObjectPosition(Vector(3, 4, 5, 1), false);
    ASSERT_TRUE(h.CalculateCamLookAtPosAndDispAlongViewDir(camera, Rotation(0, 45), 50, 8, 20, &at, &distance));
    EXPECT_EQ(at, Vector(3, 4, 5, 1));
    EXPECT_EQ(distance, 8.0f);
}

TEST_F(CameraHelper, MainIndexThroughResetsAndAdditions) {
    ZKRCameraHelper h;
    EXPECT_EQ(h.ScreenEdgeDistOffset(), 20.0f);
    h.ResetObjectsPositions();
    EXPECT_EQ(h.MainObjectIndex(), 1u);
    h.AddObjectPosition(Vector(0, 0, 0, 1), false);  // index 0: main 1 moves past it
    EXPECT_EQ(h.MainObjectIndex(), 1u);
    h.AddObjectPosition(Vector(1, 0, 0, 1), false);  // index 1: main 1 moves past it
    EXPECT_EQ(h.MainObjectIndex(), 2u);
    h.AddObjectPosition(Vector(2, 0, 0, 1), true);
    EXPECT_EQ(h.MainObjectIndex(), 2u);
    h.AddObjectPosition(Vector(3, 0, 0, 1), false);  // past the main one: kept
    EXPECT_EQ(h.MainObjectIndex(), 2u);
    EXPECT_EQ(h.ObjectCount(), 4u);
}

TEST_F(CameraHelper, CameraPositionIsBackAlongTheViewDirection) {
    Vector eye;
    ZKRCameraHelper::CalculateCamPosition(Vector(1, 0, 2, 1), Rotation(90, 0), 10, &eye);
    // Yawed a quarter turn the view runs along +x or -x; the eye is 10 behind.
    EXPECT_NEAR(std::fabs(eye.x - 1), 10, 1e-4);
    EXPECT_NEAR(eye.z, 2, 1e-4);
    EXPECT_NEAR(eye.w, 1, 1e-6);
}

}  // namespace
