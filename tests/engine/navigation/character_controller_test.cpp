// test-sources: ../NumpyReference.cpp
// test-sanitize: address
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "WalkGridSupport.h"
#include "engine/NumpyReference.h"
#include "engine/entity/EntityTestSupport.h"
#include "engine/navigation/Pathfinder.h"
#include "engine/navigation/VerySimpleCharacterController.h"
#include "engine/navigation/WalkMap.h"
#include "platform/os/Clock.h"

namespace {

using Controller = VerySimpleCharacterController;
std::map<Entity*, MeshCollisionData> gFaces;  // meshes not listed collide as "Box"
float gFrameDelta = 0.1f;
bool gPaused = false;

// The Game's smooth frame delta and gameplay pause.
struct ControllerClockGame : GameServices {
    float SmoothFrameDelta() const override { return gFrameDelta; }
    bool IsGameplayPaused() const override { return gPaused; }
};

// Meshes collide by their box, or by the faces the test gives them.
struct FaceCollision : SceneContentServices {
    uint32_t MeshPlayerCollisionType(Entity* e) override {
        return uint32_t(gFaces.count(e) ? PLAYER_COLLISION_FACE : PLAYER_COLLISION_BOX);
    }
    bool GetMeshCollisionData(Entity* e, MeshCollisionData* out) override { return *out = gFaces[e], true; }
};

class CharacterControllerTest : public EntityTest {
protected:
    FaceCollision collision;
    void SetUp() override {
        EntityTest::SetUp();
        gFaces.clear();
        gFrameDelta = 0.1f;
        gPaused = false;
        SetSceneContentServices(&collision);
        SetGameServices(&game);
        clock.Install();
        mesh = Template(ENTITY_MESH, "mesh");
    }
    void TearDown() override {
        clock.Uninstall();
        EntityTest::TearDown();
    }
    // A box-collision mesh: the local box turned about y, placed, perhaps mirrored.
    Entity* Box(const Vector& min, const Vector& max, float yaw = 0, const Vector& at = Vector(0, 0, 0, 1),
                bool mirrored = false) {
        Entity* e = Make(nullptr, 0, mesh);
        e->SetLocalBoundingBox(BoundingBox4(min, max));
        e->SetLocalRotation3(0, yaw, 0);
        e->SetLocalScale3(mirrored ? -1 : 1, 1, 1);
        e->SetGlobalPosition(at);
        return e;
    }
    Entity* Unit(float x, float y, float z) {
        Entity* e = Make(nullptr, 0, Template(0, "unit"));
        e->SetGlobalPosition3(x, y, z);
        return e;
    }
    void InstallGrid(std::vector<uint8_t> cells) {
        gEntityManager->SetSceneGrid(MakeWalkGrid(20, 20, 1.0f, Vector(-10, 0, -10, 1), cells));
    }
    void TickUntilIdle(Controller& c) {
        for (int i = 0; i < 500 && !c.IsIdle(); ++i) clock.AdvanceSeconds(gFrameDelta), c.Tick();
        EXPECT_TRUE(c.IsIdle());
    }

    os::ManualClock clock{1000};
    EntityTemplate* mesh = nullptr;
    ControllerClockGame game;
};

TEST_F(CharacterControllerTest, MovesAmongBoxesAgreeWithSubSteppedReference) {
    auto floor = [&](float x) { return Box(Vector(x - 6, -1, -6, 1), Vector(x + 6, 0, 6, 1)); };
    auto wall = [&](float x, float yaw, bool mirrored) {
        return Box(Vector(-0.5f, -1, -3, 1), Vector(0.5f, 2, 3, 1), yaw, Vector(x, 0, 0, 1), mirrored);
    };
    const struct {
        const char* name;
        std::vector<Entity*> boxes;
        Vector foot, move;
        float stepHeight;
    } cases[] = {
        {"floor", {floor(-60)}, {-60, 0, 0, 1}, {1.0f, 0.3f, 0.5f, 0}, 0.01f},
        {"wall", {floor(-30), wall(-28.5f, 0, false)}, {-30, 0, 0, 1}, {2.0f, 0, 1.0f, 0}, 0.01f},
        {"turned wall", {floor(0), wall(1.6f, 30, false)}, {0, 0, 0, 1}, {2.5f, 0, 0.2f, 0}, 0.01f},
        {"mirrored wall", {floor(30), wall(31.5f, -20, true)}, {30, 0, 0, 1}, {2.0f, 0, -0.7f, 0}, 0.01f},
        {"box top", {floor(60), Box(Vector(60.6f, -1, -2, 1), Vector(62, 0.2f, 2, 1))}, {60, 0, 0, 1}, {1.2f, 0, 0, 0}, 0.3f},
        {"high box", {floor(90), Box(Vector(90.6f, -1, -2, 1), Vector(92, 1, 2, 1))}, {90, 0, 0, 1}, {1.2f, 0, 0.4f, 0}, 0.3f},
        {"tiny move", {floor(120)}, {120, 0.004f, 0, 1}, {0.0005f, 0, 0.0005f, 0}, 0.01f},
        {"tiny move in the air", {}, {150, 3, 0, 1}, {0.0007f, 0, 0, 0}, 0.01f},
    };
    std::ostringstream input;
    std::vector<Vector> results;
    for (const auto& c : cases) {
        Entity* unit = Unit(c.foot.x, c.foot.y, c.foot.z);
        Controller controller(unit, 0.25f);
        controller.SetAutoStepHeight(c.stepHeight);
        const Vector start = controller.GetPosition();
        controller.Move(c.move);
        results.push_back(controller.GetPosition());
        EXPECT_EQ(unit->GetGlobalPosition(), results.back() - Vector(0, 0.25f, 0, 0)) << c.name;
        // The reference reads the radius, step, start, move and each box as an oriented box.
        std::vector<float> words = {0.25f, c.stepHeight, start.x, start.y, start.z, c.move.x, c.move.y, c.move.z,
                                    float(c.boxes.size())};
        for (Entity* b : c.boxes) {
            const Matrix& m = b->GetGlobalLocationMatrix();
            const BoundingBox4& box = b->GetLocalBoundingBox();
            Vector centre = box.GetCenter();
            centre.Transform3D(m);
            words.insert(words.end(), {centre.x, centre.y, centre.z});
            for (int i = 0; i < 3; ++i)
                for (int k = 0; k < 3; ++k) words.push_back(m.r[i][k] / m.r[i].Length3());
            for (int i = 0; i < 3; ++i) words.push_back((box.max[i] - box.min[i]) * 0.5f * m.r[i].Length3());
        }
        for (float v : words) input << FloatBits(v) << ' ';
        input << '\n';
    }
    const std::vector<std::string> reference = RunNumpyReference("navigation/character_reference.py", input.str());
    ASSERT_EQ(reference.size(), results.size());
    for (size_t i = 0; i < results.size(); ++i) {
        double x, y, z;
        std::istringstream(reference[i]) >> x >> y >> z;
        EXPECT_LT(std::hypot(results[i].x - x, results[i].y - y, results[i].z - z), 0.01) << cases[i].name;
    }
}

TEST_F(CharacterControllerTest, FaceMeshesOfBothVertexLayouts) {
    // A 10 x 10 quad at y = 0.5 as floats, and at y = 2 as short4n values in a position box;
    // the last triangle names a vertex that does not exist. Without vertices nothing is met.
    static const float floats[4][3] = {{-5, 0.5f, -5}, {5, 0.5f, -5}, {5, 0.5f, 5}, {-5, 0.5f, 5}};
    static const int16_t shorts[4][4] = {{-32768, 0, -32768, 0}, {32767, 0, -32768, 0}, {32767, 0, 32767, 0}, {-32768, 0, 32767, 0}};
    static const uint16_t indices[] = {0, 2, 1, 0, 3, 2, 0, 1, 9};
    const struct {
        uint32_t flags, size;
        const void* vertices;
        float x, top, y;
    } cases[] = {{MESH_VERTEX_FLOAT3, 12, floats, 0, 0.5f, 0.751f}, {MESH_VERTEX_SHORT4N | MESH_VERTEX_BLEND, 8, shorts, 40, 2.0f, 2.251f},
                 {MESH_VERTEX_FLOAT3, 12, nullptr, 80, 0.5f, -0.05f}};
    for (const auto& c : cases) {
        Entity* m = Box(Vector(-5, -1, -5, 1), Vector(5, 3, 5, 1), 0, Vector(c.x, 0, 0, 1));
        gFaces[m] = {static_cast<const uint8_t*>(c.vertices), c.size, c.flags, 4,
                     BoundingBox4(Vector(-5, 1, -5, 1), Vector(5, 3, 5, 1)), indices, 3};
        Controller controller(Unit(c.x, c.top + 0.2f, 0), 0.25f);
        controller.SetAutoStepHeight(0.5f);
        controller.Move(Vector(1, -1, 0.5f, 0));  // down onto the face, then along it
        EXPECT_NEAR(controller.GetPosition().y, c.y, 0.001f) << c.x;
        EXPECT_NEAR(controller.GetPosition().x, c.x + 1, 2e-3f);
    }
}

TEST_F(CharacterControllerTest, MoveConstraintsKeepTheSphereInside) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> move(-3, 3);
    // Turned 45 degrees: 2.12 half width along (1, 0, 1), 1.41 along (-1, 0, 1).
    OBBox4 box{Vector(3, 1, -2, 1), Vector(1.5f, 0, 1.5f, 0), Vector(0, 1, 0, 0), Vector(-1, 0, 1, 0)};
    for (int handedness = 0; handedness < 2; ++handedness) {
        box.zextent = -box.zextent;
        Controller controller(Unit(3, 0.5f, -2), 0.25f);
        controller.SetMoveConstraints(box);
        controller.Move(Vector(5, 0, 0, 0));  // free inside, up to the wall
        EXPECT_NEAR(controller.GetPosition().x, 5.145f, 0.01f);
        for (int i = 0; i < 40; ++i) {
            controller.Move(Vector(move(rng), move(rng) * 0.2f, move(rng), 0));
            const Vector d = controller.GetPosition() - box.center;
            for (const Vector& axis : {box.xextent, box.yextent, box.zextent})
                EXPECT_LE(std::fabs(d.Dot3(axis)) / axis.Length3(), axis.Length3() - 0.2f) << i;
        }
        controller.ResetMoveConstaints();
        controller.Move(Vector(5, 0, 0, 0));
        EXPECT_GT(controller.GetPosition().x - box.center.x, 2.2f);
    }
    // Outside, a wall holds the controller where it stands: no further out, but back in.
    Controller outside(Unit(5.1213f, 0.5f, 0.1213f), 0.25f);  // 0.88 beyond one face
    outside.SetMoveConstraints(box);
    outside.Move(Vector(1.4142f, 0, 1.4142f, 0));
    EXPECT_NEAR(outside.GetPosition().x, 5.1213f, 1e-3f);
    outside.Move(Vector(-2.1213f, 0, -2.1213f, 0));
    EXPECT_NEAR(outside.GetPosition().x, 3.0f, 1e-3f);
}

TEST_F(CharacterControllerTest, APushSlidesTwiceAtMost) {
    // Pushed onto a wall turned 45 degrees, along it to a second and a third: the third ends it.
    Box(Vector(0, -5, -3, 1), Vector(2, 5, 3, 1), 45, Vector(1, 0, 0, 1));
    Box(Vector(3, -5, -2, 1), Vector(4, 5, 5, 1));
    Box(Vector(-3, -5, 0, 1), Vector(1, 5, 2, 1), 36.8699f, Vector(3, 0, 5, 1));
    Controller controller(Unit(0, 0, 0), 0.25f);
    controller.MoveAwayFromMySphere(controller.GetPosition(), Vector(1, 0, 0, 0), 13.75f, nullptr);
    EXPECT_NEAR(controller.GetPosition().x, 2.749f, 0.005f);
    EXPECT_NEAR(controller.GetPosition().z, 4.875f, 0.005f);
}

TEST_F(CharacterControllerTest, FrozenYHoldsThroughMovesSnapsAndPaths) {
    InstallGrid(std::vector<uint8_t>(400, 1));
    Box(Vector(-10, -1, -10, 1), Vector(10, 0, 10, 1));
    Controller controller(Unit(-5, 2, -5), 0.25f);
    controller.InitPathfinder();
    controller.FreezeYPosition(true);
    const float y = controller.GetPosition().y;
    controller.Move(Vector(1, -3, 0.5f, 0));
    EXPECT_EQ(controller.GetPosition().y, y);
    controller.Move(Vector(0.0001f, 0, 0, 0));
    EXPECT_EQ(controller.GetPosition().y, y);
    controller.MoveAwayFromMySphere(controller.GetPosition() + Vector(0.1f, 0, 0, 0), Vector(-1, 0, 0, 0), 0.3f, nullptr);
    EXPECT_EQ(controller.GetPosition().y, y);
    controller.MoveToPoint(Vector(3, 0, 2, 1));
    for (int i = 0; i < 200 && !controller.IsIdle(); ++i) {
        controller.Tick();
        EXPECT_EQ(controller.GetPosition().y, y);
    }
    EXPECT_LT(std::hypot(controller.GetPosition().x - 3, controller.GetPosition().z - 2), 0.05f);
    controller.SetPosition(Vector(0, 7, 0, 1));
    EXPECT_EQ(controller.GetPosition().y, y);
    controller.FreezeYPosition(false);  // thawed, a snap reaching the floor lands on it
    controller.SetAutoStepHeight(5.0f);
    controller.Move(Vector(0.0001f, 0, 0, 0));
    EXPECT_NEAR(controller.GetPosition().y, 0.251f, 0.002f);
}

TEST_F(CharacterControllerTest, PathStatesFacingAndContinuation) {
    InstallGrid(std::vector<uint8_t>(400, 1));
    Entity* unit = Unit(-8, 0, -8);
    Controller controller(unit, 0.25f);
    controller.MoveToPoint(Vector(5, 0, -8, 1));  // no pathfinder yet: nothing
    EXPECT_TRUE(controller.IsIdle());
    controller.InitPathfinder();
    controller.SetPathMovementVelocity(2.0f);
    controller.MoveToPoint(Vector(5, 0, -3, 1));
    EXPECT_EQ(controller.GetState(), Controller::STATE_SEARCHING);
    controller.Tick();
    ASSERT_EQ(controller.GetState(), Controller::STATE_FOLLOWING);
    Vector before = unit->GetGlobalPosition();
    controller.Tick();
    const Vector walked = unit->GetGlobalPosition() - before;
    EXPECT_NEAR(std::hypot(walked.x, walked.z), 0.2f, 1e-3f);
    const Vector& dir = controller.GetLastPathSegmentDirection();
    const Vector& forward = unit->GetGlobalLocationMatrix().r[2];
    EXPECT_NEAR(std::atan2(forward.x, forward.z), std::atan2(dir.x, dir.z), 1e-4f);

    // A new search within 0.3 s of walking walks the old path on for its tick; later, or
    // while gameplay is paused, the unit waits for the search.
    for (const auto& [since, paused, walks] : {std::tuple{0.2, false, true}, {0.5, false, false}, {0.1, true, false}}) {
        gPaused = false;
        controller.Tick();
        clock.AdvanceSeconds(since);
        EXPECT_EQ(controller.HasBeenFollowingPathRecently(0.3f), since <= 0.3) << since;
        gPaused = paused;
        controller.MoveToPoint(Vector(5, 0, 5, 1));
        before = unit->GetGlobalPosition();
        controller.Tick();
        EXPECT_EQ(controller.GetState(), Controller::STATE_FOLLOWING);
        EXPECT_EQ((unit->GetGlobalPosition() - before).Length3() > 0.1f, walks) << since;
    }
    clock.AdvanceSeconds(5);  // paused, a following tick only notes the time
    before = unit->GetGlobalPosition();
    controller.Tick();
    EXPECT_EQ(unit->GetGlobalPosition(), before);
    EXPECT_TRUE(controller.HasBeenFollowingPathRecently(0.0f));
    gPaused = false;
    TickUntilIdle(controller);
    EXPECT_LT(std::hypot(unit->GetGlobalPosition().x - 5, unit->GetGlobalPosition().z - 5), 0.05f);

    controller.MoveToPoint(Vector(5.2f, 0, 5.1f, 1));  // the own cell: a one-point path
    controller.Tick();
    EXPECT_EQ(controller.GetPath().Count(), 1u);
    controller.Tick();
    EXPECT_TRUE(controller.IsIdle());
    controller.MoveToPoint(Vector(-5, 0, -5, 1));
    controller.Tick();
    controller.MoveToPoint(Vector(50, 0, 50, 1));  // no goal tile: the walking unit stops
    EXPECT_TRUE(controller.IsIdle());
    EXPECT_EQ(controller.GetPath().Count(), 0u);
}

// The walked path is the search's path smoothed: around a wall the corners are rounded,
// the ends and the tiles of the points stay.
TEST_F(CharacterControllerTest, TheWalkedPathIsTheSmoothedSearchPath) {
    std::vector<uint8_t> cells(400, 1);
    for (int z = 0; z < 16; ++z) cells[z * 20 + 10] = 0;  // a wall across x = 0, open at the far end
    InstallGrid(cells);
    Entity* unit = Unit(-6, 0, -6);
    Controller controller(unit, 0.25f);
    controller.InitPathfinder();
    const Vector goal(6, 0, -6, 1);
    controller.MoveToPoint(goal);
    controller.Tick();
    ASSERT_EQ(controller.GetState(), Controller::STATE_FOLLOWING);
    const Dynarray<Vector> walked = controller.GetPath();

    Pathfinder finder;
    finder.Reset(gEntityManager->GetSceneGrid());
    ASSERT_TRUE(finder.FindPath(gEntityManager->GetSceneGrid(), unit->GetGlobalPosition(), goal, 0, Controller::kDefaultMaxCost));
    while (finder.Step(2048)) {
    }
    Dynarray<Vector> raw;
    ASSERT_TRUE(finder.GetPath(raw));
    ASSERT_GT(raw.Count(), 10u);
    Dynarray<Vector> smoothed = raw;
    SmoothPath(smoothed);
    ASSERT_EQ(walked.Count(), raw.Count());
    uint32_t moved = 0;
    // Across the ground: the controller keeps its own height on the points.
    const auto across = [](const Vector& a, const Vector& b) { return std::hypot(a.x - b.x, a.z - b.z); };
    for (uint32_t i = 0; i < raw.Count(); ++i) {
        EXPECT_LT(across(walked[i], smoothed[i]), 1e-5f) << i;
        EXPECT_EQ(walked[i].w, raw[i].w) << i;
        moved += across(walked[i], raw[i]) > 1e-3f;
    }
    EXPECT_GT(moved, 0u);  // not the raw path
}

TEST_F(CharacterControllerTest, ReachabilityAndCopies) {
    std::vector<uint8_t> cells(400, 1);
    for (int y = 0; y < 20; ++y) cells[y * 20 + 10] = 0;  // a wall splits the grid
    InstallGrid(cells);
    Entity* unit = Unit(-8, 0, -8);
    auto original = std::make_unique<Controller>(unit, 0.25f);
    original->InitPathfinder();
    // Beyond the wall the last point is the reachable cell nearest the goal.
    for (const auto& [goal, reachable, point] : {std::tuple{Vector(5, 0, 4, 1), true, Vector(-1, 0, 4, 1)},
                                                {Vector(50, 0, 4, 1), false, Vector()},
                                                {Vector(-3, 0, 4, 1), true, Vector(-3, 0, 4, 1)}}) {
        original->TestReachability(goal);
        original->Tick();
        EXPECT_TRUE(original->IsIdle());
        EXPECT_EQ(original->GetReachabilityTestResult(), reachable);
        if (reachable) {
            EXPECT_LT((original->GetReachablePoint() - point).Length3(), 1e-4f);
        }
    }
    original->MoveToLastReachablePoint();
    original->Tick();
    EXPECT_FALSE(original->GetReachabilityTestResult());
    ASSERT_EQ(original->GetState(), Controller::STATE_FOLLOWING);
    // The copy walks on with buffers of its own after the original is gone.
    Controller copy(*original);
    EXPECT_NE(copy.GetPath().data, original->GetPath().data);
    original.reset();
    TickUntilIdle(copy);
    EXPECT_LT(std::hypot(unit->GetGlobalPosition().x + 3, unit->GetGlobalPosition().z - 4), 0.05f);
    copy.TestReachability(Vector(-6, 0, 0, 1));
    copy.Tick();
    EXPECT_TRUE(copy.GetReachabilityTestResult());
}

TEST_F(CharacterControllerTest, SearchEndsWhenTheSceneGridIsReplaced) {
    Controller controller(Unit(-8, 0, -8), 0.25f);
    controller.InitPathfinder();
    for (const bool testing : {false, true}) {
        InstallGrid(std::vector<uint8_t>(400, 1));
        if (testing)
            controller.TestReachability(Vector(-6, 0, -8, 1));
        else
            controller.MoveToPoint(Vector(5, 0, 5, 1));
        ASSERT_FALSE(controller.IsIdle());
        InstallGrid(std::vector<uint8_t>(400, 1));  // the next scene's grid; the old one is gone
        controller.Tick();
        EXPECT_TRUE(controller.IsIdle()) << testing;
        EXPECT_EQ(controller.GetPath().Count(), 0u);
        EXPECT_FALSE(controller.GetReachabilityTestResult());
    }
}

}  // namespace

// The swept-sphere test against a brute-force search in double precision: the distance
// from the moving centre to the triangle (closest point by projection, else the nearest
// edge point) is convex along the move, so its minimum and then the first time it comes
// down to the radius are found by interval search. The moves aim at corners, edges and
// the inside, so every kind of contact is met.
namespace sweep {
struct V { double x, y, z; };
V operator-(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V operator*(V a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V Cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V OnSegment(V p, V a, V b) { return a + (b - a) * std::clamp(Dot(p - a, b - a) / Dot(b - a, b - a), 0.0, 1.0); }
V Closest(V p, const V t[3]) {
    const V n = Cross(t[1] - t[0], t[2] - t[0]), q = p - n * (Dot(p - t[0], n) / Dot(n, n));
    bool inside = true;
    for (int i = 0; i < 3; ++i) inside = inside && Dot(Cross(t[(i + 1) % 3] - t[i], q - t[i]), n) >= 0.0;
    if (inside) return q;
    V best = OnSegment(p, t[0], t[1]);
    for (int i = 1; i < 3; ++i) {
        const V c = OnSegment(p, t[i], t[(i + 1) % 3]);
        if (Dot(p - c, p - c) < Dot(p - best, p - best)) best = c;
    }
    return best;
}
}  // namespace sweep

TEST(SweepSphereTriangleTest, FirstContactAgreesWithABruteForceSearch) {
    using sweep::V;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    auto Random = [&] { return V{unit(random), unit(random), unit(random)}; };
    auto ToVector = [](V v) { return Vector(float(v.x), float(v.y), float(v.z), 1.0f); };
    auto FromVector = [](const Vector& v) { return V{v.x, v.y, v.z}; };
    auto Length = [](V v) { return std::sqrt(Dot(v, v)); };
    for (int i = 0; i < 4000; ++i) {
        SCOPED_TRACE(i);
        V t[3] = {Random(), Random(), Random()};
        CollisionTriangle triangle;
        if (Length(Cross(t[1] - t[0], t[2] - t[0])) < 0.2 || !triangle.Set(ToVector(t[0]), ToVector(t[1]), ToVector(t[2])))
            continue;
        const double radius = 0.05 + 0.2 * (unit(random) + 1.0f), w = (unit(random) + 1.0f) / 2.0f;
        // Aimed at a corner, an edge or the middle; every fourth starts next to the triangle
        // (often overlapping it) and moves any way. An overlapping sphere moving deeper
        // touches at once; one leaving the triangle may still meet a corner or edge it
        // overlaps on its way out, which a distance to the whole triangle cannot tell.
        const V aims[3] = {t[i % 3], t[0] * w + t[1] * (1.0 - w), (t[0] + t[1] + t[2]) * (1.0 / 3.0)};
        const V aim = aims[i % 3] + Random() * 0.3;
        const V centre = i % 4 == 3 ? aim : Random() * 3.0;
        V d = i % 4 == 3 ? Random() : aim - centre;
        if (Length(d) < 0.1) continue;
        d = d * (1.0 / Length(d));
        if (triangle.SignedDistance(ToVector(centre)) < 0.0f) {  // one-sided: the centre starts in front
            std::swap(t[1], t[2]);
            triangle.Set(ToVector(t[0]), ToVector(t[1]), ToVector(t[2]));
        }
        const float distance = 4.0f;
        auto gap = [&](double s) {
            const V p = centre + d * s;
            return Length(p - sweep::Closest(p, t)) - radius;
        };
        double at = 0.0;  // the expected contact, or -1 for none
        if (gap(0.0) < -1e-3) {
            const double slope = gap(1e-4) - gap(0.0);
            if (slope > -1e-7) continue;
            at = 0.0;
        } else {
            double lo = 0.0, hi = distance;
            for (int k = 0; k < 200; ++k) {
                const double m1 = lo + (hi - lo) / 3, m2 = hi - (hi - lo) / 3;
                (gap(m1) < gap(m2) ? hi : lo) = gap(m1) < gap(m2) ? m2 : m1;
            }
            if (gap(0.0) < 1e-3 || std::abs(gap(lo)) < 1e-3 || lo > distance - 1e-3) continue;  // grazing
            if (gap(lo) > 0.0) {
                at = -1.0;
            } else {
                for (double a = 0.0, b = lo, k = 0; k < 100; ++k, at = a) (gap((a + b) / 2) > 0.0 ? a : b) = (a + b) / 2;
            }
        }
        SphereContact contact{};
        const bool hit = SweepSphereTriangle(ToVector(centre), float(radius), ToVector(d), distance, triangle, &contact);
        ASSERT_EQ(hit, at >= 0.0);
        if (!hit) continue;
        const V moved = centre + d * at, touch = sweep::Closest(moved, t);
        EXPECT_NEAR(contact.distance, at, 2e-3);
        if (at > 0.0) {  // an overlapping start may name any feature it overlaps
            EXPECT_LT(Length(FromVector(contact.point) - touch), 2e-3);
            EXPECT_GT(Dot(FromVector(contact.normal), (moved - touch) * (1.0 / radius)), 0.999);
        }
    }
}

// Path finding against networkx's Dijkstra on random walk grids.
namespace {

const Vector kOrigin(3.0f, 0.5f, -4.0f, 1.0f);
using Grid = std::unique_ptr<SceneGrid>;

uint32_t Solve(Pathfinder& finder, SceneGrid* grid, const Vector& start, const Vector& goal, Dynarray<Vector>& path) {
    EXPECT_TRUE(finder.FindPath(grid, start, goal, 0, FLT_MAX));
    EXPECT_FALSE(finder.Step(0xFFFFFFFF));
    EXPECT_TRUE(finder.GetPath(path));
    return finder.EndTile();
}

TEST(PathfinderTest, RandomGridsAgreeWithDijkstra) {
    std::mt19937 rng(7);
    struct Case {
        Grid grid;
        uint32_t start, goal;
        Vector from;
    };
    std::vector<Case> cases;
    std::ostringstream input;
    for (int c = 0; c < 40; ++c) {
        const uint32_t w = 10 + rng() % 25, h = 10 + rng() % 20;
        const float size = c % 3 ? 0.5f * float(c % 3) : 2.0f;
        std::vector<uint8_t> cells(w * h);
        std::vector<uint32_t> usable;
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint32_t r = rng() % 100;
            cells[i] = r < 22 ? 0 : r < 30 ? 3 : 1;  // walls and obstacle-blocked cells
            if (cells[i] == 1) usable.push_back(WalkMap::MakeTile(i % w, i / w));
        }
        const uint32_t s = usable[rng() % usable.size()], g = usable[rng() % usable.size()];
        Grid grid(MakeWalkGrid(w, h, size, kOrigin, cells));
        std::uniform_real_distribution<float> jitter(-0.3f * size, 0.3f * size);
        const Vector from = grid->CellToWorld(s) + Vector(jitter(rng), 0.2f, jitter(rng), 0);
        input << w << ' ' << h << ' ' << size << ' ' << WalkMap::TileX(s) << ' ' << WalkMap::TileY(s) << ' '
              << WalkMap::TileX(g) << ' ' << WalkMap::TileY(g);
        for (uint8_t cell : cells) input << ' ' << int(WalkMap::IsUsableCell(cell));
        input << '\n';
        cases.push_back({std::move(grid), s, g, from});
    }
    const std::vector<std::string> reference = RunNumpyReference("navigation/path_reference.py", input.str());
    ASSERT_EQ(reference.size(), cases.size());
    Pathfinder finder;
    for (size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(c);
        const Case& k = cases[c];
        double cost = -1, nearest = 0;
        std::istringstream(reference[c]) >> cost >> nearest;
        Dynarray<Vector> path;
        const uint32_t end = Solve(finder, k.grid.get(), k.from, k.grid->CellToWorld(k.goal), path);
        ASSERT_GE(path.Count(), 1u);
        EXPECT_TRUE(path[0].x == k.from.x && path[0].z == k.from.z && PathPointTile(path[0]) == k.start);
        EXPECT_EQ(PathPointTile(path[path.Count() - 1]), end);
        double walked = 0;
        for (uint32_t i = 1; i < path.Count(); ++i) {
            const uint32_t a = PathPointTile(path[i - 1]), b = PathPointTile(path[i]);
            const int dx = std::abs(int(WalkMap::TileX(a)) - int(WalkMap::TileX(b)));
            const int dy = std::abs(int(WalkMap::TileY(a)) - int(WalkMap::TileY(b)));
            EXPECT_TRUE(dx <= 1 && dy <= 1 && dx + dy > 0);
            EXPECT_TRUE(WalkMap::IsUsableCell(k.grid->Cells()[WalkMap::TileY(b) * k.grid->Width() + WalkMap::TileX(b)]));
            EXPECT_EQ(path[i], Vector(k.grid->CellToWorld(b).x, kOrigin.y, k.grid->CellToWorld(b).z, path[i].w));
            walked += (dx && dy ? 1.41421 : 1.0) * k.grid->CellSize();
        }
        if (cost >= 0) {
            EXPECT_EQ(end, k.goal);
            EXPECT_NEAR(walked, cost, 1e-3 * std::max(1.0, cost));
        } else {  // the popped tile nearest the goal: every reachable one is popped
            EXPECT_NEAR(std::hypot(double(WalkMap::TileX(end)) - WalkMap::TileX(k.goal),
                                   double(WalkMap::TileY(end)) - WalkMap::TileY(k.goal)),
                        nearest, 1e-4);
        }
    }
}

TEST(PathfinderTest, GoalInsideBlockedAreaEndsAtNearestRingTile) {
    const uint32_t w = 20, h = 20;
    std::vector<uint8_t> cells(w * h, 1);
    for (uint32_t y = 5; y <= 9; ++y)
        for (uint32_t x = 6; x <= 11; ++x) cells[y * w + x] = y == 7 ? 3 : 0;
    Grid grid(MakeWalkGrid(w, h, 1.0f, kOrigin, cells));
    Pathfinder finder;
    for (const Vector offset : {Vector(6.3f, 0, 6.1f, 0), Vector(10.6f, 2, 8.8f, 0), Vector(8.2f, 0, 8.9f, 0),
                                Vector(8.2f, 0, 6.8f, 0)}) {  // the last one three cells from the ring
        const Vector goal = kOrigin + offset;
        uint32_t best = WalkMap::kNoTile;
        float bestDistance = FLT_MAX;
        for (uint32_t y = 4; y <= 10; ++y)
            for (uint32_t x = 5; x <= 12; ++x)
                if (const float d = (grid->CellToWorld(x, y) - goal).Length3(); cells[y * w + x] == 1 && d < bestDistance)
                    bestDistance = d, best = WalkMap::MakeTile(x, y);
        Dynarray<Vector> path;
        EXPECT_EQ(Solve(finder, grid.get(), grid->CellToWorld(1, 1), goal, path), best);
    }
}

TEST(PathfinderTest, SearchesThatCannotStart) {
    CaptureLogSink log;
    log.Attach();
    std::vector<uint8_t> cells(400, 0);
    for (uint32_t i = 0; i < 400; ++i) cells[i] = i % 20 >= 15;  // usable from column 15 on
    Grid grid(MakeWalkGrid(20, 20, 1.0f, kOrigin, cells)), noSize(MakeWalkGrid(20, 20, 0.0f, kOrigin, cells)),
        empty(MakeWalkGrid(0, 0, 1.0f, kOrigin, {}));
    const struct {
        SceneGrid* grid;
        uint32_t startX, goalX;
        const char* message;  // null: no line
    } cases[] = {{grid.get(), 9, 17, "Source tile cannot be found at position"},
                 {grid.get(), 10, 30, "Destination tile cannot be found at position"},
                 {noSize.get(), 17, 18, nullptr}, {empty.get(), 17, 18, nullptr}, {nullptr, 17, 18, nullptr}};
    Pathfinder finder;
    for (const auto& c : cases) {
        log.Clear();
        EXPECT_FALSE(finder.FindPath(c.grid, grid->CellToWorld(c.startX, 3), grid->CellToWorld(c.goalX, 3), 0, FLT_MAX));
        EXPECT_FALSE(finder.Step(100));
        Dynarray<Vector> path;
        EXPECT_FALSE(finder.GetPath(path));
        EXPECT_EQ(path.Count(), 0u);
        if (c.message) {
            EXPECT_TRUE(log.Contains(std::string("Cannot find path. ") + c.message)) << c.message;
        } else {
            EXPECT_TRUE(log.Messages().empty());
            EXPECT_EQ(finder.FindNearestTile(grid->CellToWorld(17, 3)), WalkMap::kNoTile);
        }
    }
    finder.Reset(grid.get());  // five cells away still finds a tile
    EXPECT_EQ(finder.FindNearestTile(grid->CellToWorld(10, 3)), WalkMap::MakeTile(15, 3));
    // Usable in column 0 only: found from four cells away, and nothing is read past the right edge.
    std::vector<uint8_t> left(48);
    for (uint32_t i = 0; i < 48; ++i) left[i] = i % 6 == 0;
    Grid narrow(MakeWalkGrid(6, 8, 1.0f, kOrigin, left));
    finder.Reset(narrow.get());
    EXPECT_EQ(finder.FindNearestTile(narrow->CellToWorld(4, 3)), WalkMap::MakeTile(0, 3));
}

TEST(PathfinderTest, BudgetBoundsNodesPerSlice) {
    std::vector<uint8_t> cells(36, 0);  // a corridor of ten cells, each popped once
    for (uint32_t x = 1; x <= 10; ++x) cells[12 + x] = 1;
    Grid grid(MakeWalkGrid(12, 3, 1.0f, kOrigin, cells));
    Pathfinder finder;
    for (const auto& [budget, goal, unfinished] : {std::tuple{0u, 10u, 9u}, {1u, 10u, 4u}, {3u, 10u, 2u}, {9u, 10u, 0u}, {0u, 6u, 5u}}) {
        ASSERT_TRUE(finder.FindPath(grid.get(), grid->CellToWorld(1, 1), grid->CellToWorld(goal, 1), 0, FLT_MAX));
        uint32_t slices = 0;
        while (finder.Step(budget) && slices < 100) ++slices;
        EXPECT_EQ(slices, unfinished) << "budget " << budget;
        EXPECT_EQ(finder.EndTile(), WalkMap::MakeTile(goal, 1));
    }
}

TEST(PathfinderTest, GridReadAnewAtAnotherSizeEndsTheSearch) {
    Grid grid(MakeWalkGrid(10, 10, 1.0f, kOrigin, std::vector<uint8_t>(100, 1)));
    Pathfinder finder;
    ASSERT_TRUE(finder.FindPath(grid.get(), grid->CellToWorld(0, 0), grid->CellToWorld(9, 9), 0, FLT_MAX));
    // As when the next scene's grid is made where the last one was.
    const std::vector<uint8_t> block = WalkGridBlock(40, 40, 1.0f, kOrigin, std::vector<uint8_t>(1600, 1));
    ASSERT_NE(grid->Read(block.data(), block.size(), true), 0u);
    EXPECT_FALSE(finder.Step(0xFFFFFFFF));
    Dynarray<Vector> path;
    EXPECT_FALSE(finder.GetPath(path));
}

TEST(PathfinderTest, SmoothingMovesOnlyGentleTurns) {
    // w1 / w0 = exp(-1 / 20.48): a moved middle point is (b + 0.952345 (a + c)) / 2.90469.
    const Vector a(0, 0, 0, 1);
    const struct {
        Vector b, c, smoothed;
    } cases[] = {
        {{1, 0, 1, 5}, {2, 0, 0, 1}, {1, 0, 0.344271f, 5}},      // right angle: moved
        {{1, 0.5f, 0, 7}, {2, 0, 0, 1}, {1, 0.172135f, 0, 7}},   // shallow bend: moved
        {{1, 2, 0, 3}, {2, 0, 0, 1}, {1, 2, 0, 3}},              // sharp spike: kept
    };
    for (const auto& k : cases) {
        Dynarray<Vector> path;
        path.Add(a), path.Add(k.b), path.Add(k.c);
        SmoothPath(path);
        EXPECT_TRUE(path[0] == a && path[2] == k.c && path[1].w == k.b.w);
        EXPECT_LT((path[1] - k.smoothed).Length3(), 1e-5f);
    }
}

TEST_F(EntityTest, ObstacleRebuildMatchesBruteForceOfCellCentres) {
    std::mt19937 rng(3);
    const uint32_t w = 40, h = 36;
    const Vector origin(-10.0f, 0.0f, -9.0f, 1.0f);
    std::vector<uint8_t> cells(w * h);
    for (uint8_t& c : cells) c = uint8_t((rng() % 10 ? 1 : 0) | (rng() % 4 ? 0 : 2));  // stale blocked bits
    SceneGrid* grid = MakeWalkGrid(w, h, 0.5f, origin, cells);
    gEntityManager->SetSceneGrid(grid);
    std::uniform_real_distribution<float> pos(-9.0f, 9.0f), extent(0.3f, 3.0f), scale(0.5f, 2.0f);
    std::vector<Entity*> obstacles;
    std::vector<BoundingBox4> boxes;  // the templates' boxes, which block
    for (int i = 0; i < 8; ++i) {
        EntityTemplate* t = Template(0, "obstacle");
        t->staticBoundingBox = BoundingBox4(Vector(-extent(rng), -1, -extent(rng), 1), Vector(extent(rng), 2, extent(rng), 1));
        boxes.push_back(t->staticBoundingBox);
        Entity* e = Make(nullptr, 0, t);
        e->SetLocalBoundingBox(BoundingBox4(Vector(-0.1f, -1, -0.1f, 1), Vector(0.1f, 2, 0.1f, 1)));  // its own box
        e->SetLocalRotation3(0, float(rng() % 360), 0);
        e->SetLocalScale3(scale(rng), scale(rng), scale(rng));
        e->SetGlobalPosition3(pos(rng), pos(rng), pos(rng));
        WalkMap::UpdateMeshEntityTiles(e);
        WalkMap::UpdateMeshEntityTiles(e);  // registered once
        obstacles.push_back(e);
    }
    obstacles[0]->RaiseFlag(ENTITYFLAG_GHOSTMODE, false);
    gEntityManager->DestroyEntity(obstacles[1]);
    ASSERT_TRUE(grid->IsDirty());
    WalkMap::UpdateBlockedTiles(*grid);
    EXPECT_FALSE(grid->IsDirty());
    EXPECT_EQ(grid->Obstacles().Count(), 7u);
    int blocked = 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            // Turned about y only, so each box is tested at its centre's height.
            bool expected = false;
            for (size_t i = 2; i < obstacles.size(); ++i) {
                OBBox4 box;
                box.Transform3D(boxes[i], obstacles[i]->GetGlobalLocationMatrix());
                expected |= box.Inside3D(Vector(origin.x + 0.5f * x, box.center.y, origin.z + 0.5f * y, 1));
            }
            expected &= (cells[y * w + x] & 1) != 0;
            blocked += expected;
            EXPECT_EQ(grid->Cells()[y * w + x], (cells[y * w + x] & 1) | (expected ? 2 : 0)) << x << "," << y;
        }
    EXPECT_GT(blocked, 20);
}

}  // namespace
