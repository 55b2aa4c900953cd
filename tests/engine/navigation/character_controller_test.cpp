// test-sources: ../NumpyReference.cpp
// test-sanitize: address
// The character controller: moves among box-collision meshes (rotated, mirrored) against a
// numpy reference that sub-steps the sphere (slides along walls, steps onto box tops,
// blocked by high boxes, moves below 0.001 that only snap); "Face" meshes of both vertex
// layouts; move constraints; frozen y; and path following on a walk grid with its states,
// the 0.3 s continuation on the manual clock, the facing, reachability and copies.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "WalkGridSupport.h"
#include "engine/NumpyReference.h"
#include "engine/entity/EntityTestSupport.h"
#include "engine/navigation/VerySimpleCharacterController.h"
#include "platform/os/Clock.h"

namespace {

std::map<Entity*, uint32_t> gCollisionTypes;
std::map<Entity*, MeshCollisionData> gMeshes;
float gFrameDelta = 0.0f;
bool gPaused = false;

class CharacterControllerTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        gCollisionTypes.clear();
        gMeshes.clear();
        gFrameDelta = 0.1f;
        gPaused = false;
        gEngineServices.meshPlayerCollisionType = [](Entity* e) {
            auto it = gCollisionTypes.find(e);
            return it == gCollisionTypes.end() ? uint32_t(PLAYER_COLLISION_BOX) : it->second;
        };
        gEngineServices.meshCollisionData = [](Entity* e, MeshCollisionData* out) {
            auto it = gMeshes.find(e);
            if (it == gMeshes.end()) return false;
            *out = it->second;
            return true;
        };
        gEngineServices.gameSmoothFrameDelta = [] { return gFrameDelta; };
        gEngineServices.gameGameplayPaused = [] { return gPaused; };
        clock.Install();
        mesh = Template(ENTITY_MESH, "mesh");
        plain = Template(0, "unit");
    }
    void TearDown() override {
        clock.Uninstall();
        EntityTest::TearDown();
    }
    // A box-collision mesh: the local box (min, max) turned about y and placed.
    Entity* Box(const Vector& min, const Vector& max, float yaw = 0, const Vector& at = Vector(0, 0, 0, 1),
                bool mirrored = false) {
        Entity* e = Make(nullptr, 0, mesh);
        e->SetLocalBoundingBox(BoundingBox4(min, max));
        e->SetLocalRotation3(0, yaw, 0);
        if (mirrored) e->SetLocalScale3(-1, 1, 1);
        e->SetGlobalPosition(at);
        return e;
    }
    Entity* Unit(float x, float y, float z) {
        Entity* e = Make(nullptr, 0, plain);
        e->SetGlobalPosition3(x, y, z);
        return e;
    }
    // Oriented box of a box entity for the reference: centre, unit axes, half sizes.
    static void Describe(std::ostringstream& out, Entity* e) {
        const Matrix& m = e->GetGlobalLocationMatrix();
        const BoundingBox4& b = e->GetLocalBoundingBox();
        Vector c = b.GetCenter();
        c.Transform3D(m);
        out << ' ' << FloatBits(c.x) << ' ' << FloatBits(c.y) << ' ' << FloatBits(c.z);
        for (int i = 0; i < 3; ++i) {
            const float length = m.r[i].Length3();
            for (int k = 0; k < 3; ++k) out << ' ' << FloatBits(m.r[i][k] / length);
        }
        for (int i = 0; i < 3; ++i) out << ' ' << FloatBits((b.max[i] - b.min[i]) * 0.5f * m.r[i].Length3());
    }
    SceneGrid* InstallGrid(uint32_t w, uint32_t h, const std::vector<uint8_t>& cells) {
        SceneGrid* grid = MakeWalkGrid(w, h, 1.0f, Vector(-10, 0, -10, 1), cells);
        gEntityManager->SetSceneGrid(grid);
        return grid;
    }
    void TickUntilIdle(VerySimpleCharacterController& c, int limit = 500) {
        for (int i = 0; i < limit && !c.IsIdle(); ++i) {
            clock.AdvanceSeconds(gFrameDelta);
            c.Tick();
        }
        EXPECT_TRUE(c.IsIdle());
    }

    os::ManualClock clock{1000};
    EntityTemplate* mesh = nullptr;
    EntityTemplate* plain = nullptr;
};

TEST_F(CharacterControllerTest, MovesAmongBoxesAgreeWithSubSteppedReference) {
    const float r = 0.25f;
    struct Case {
        const char* name;
        std::vector<Entity*> boxes;
        Vector foot, move;
        float stepHeight;
    };
    // Each case builds its own boxes far from the others (x offsets of 30).
    auto floorAt = [&](float x) { return Box(Vector(x - 6, -1, -6, 1), Vector(x + 6, 0, 6, 1)); };
    std::vector<Case> cases;
    cases.push_back({"floor", {floorAt(-60)}, {-60, 0, 0, 1}, {1.0f, 0.3f, 0.5f, 0}, 0.01f});
    cases.push_back({"wall", {floorAt(-30), Box(Vector(-29, -1, -3, 1), Vector(-28, 2, 3, 1))}, {-30, 0, 0, 1},
                     {2.0f, 0, 1.0f, 0}, 0.01f});
    cases.push_back({"turned wall", {floorAt(0), Box(Vector(-0.5f, -1, -3, 1), Vector(0.5f, 2, 3, 1), 30, {1.6f, 0, 0, 1})},
                     {0, 0, 0, 1}, {2.5f, 0, 0.2f, 0}, 0.01f});
    cases.push_back({"mirrored wall", {floorAt(30), Box(Vector(-0.5f, -1, -3, 1), Vector(0.5f, 2, 3, 1), -20, {31.5f, 0, 0, 1}, true)},
                     {30, 0, 0, 1}, {2.0f, 0, -0.7f, 0}, 0.01f});
    cases.push_back({"box top", {floorAt(60), Box(Vector(60.6f, -1, -2, 1), Vector(62, 0.2f, 2, 1))}, {60, 0, 0, 1},
                     {1.2f, 0, 0, 0}, 0.3f});
    cases.push_back({"high box", {floorAt(90), Box(Vector(90.6f, -1, -2, 1), Vector(92, 1.0f, 2, 1))}, {90, 0, 0, 1},
                     {1.2f, 0, 0.4f, 0}, 0.3f});
    cases.push_back({"tiny move", {floorAt(120)}, {120, 0.004f, 0, 1}, {0.0005f, 0, 0.0005f, 0}, 0.01f});
    cases.push_back({"tiny move in the air", {}, {150, 3, 0, 1}, {0.0007f, 0, 0, 0}, 0.01f});

    std::ostringstream input;
    std::vector<Vector> results;
    for (const Case& c : cases) {
        Entity* unit = Unit(c.foot.x, c.foot.y, c.foot.z);
        VerySimpleCharacterController controller(unit, r);
        controller.SetAutoStepHeight(c.stepHeight);
        const Vector start = controller.GetPosition();
        controller.Move(c.move);
        results.push_back(controller.GetPosition());
        EXPECT_EQ(unit->GetGlobalPosition(), Vector(results.back().x, results.back().y - r, results.back().z, 1)) << c.name;
        input << FloatBits(r) << ' ' << FloatBits(c.stepHeight);
        for (int i = 0; i < 3; ++i) input << ' ' << FloatBits(start[i]);
        for (int i = 0; i < 3; ++i) input << ' ' << FloatBits(c.move[i]);
        input << ' ' << FloatBits(float(c.boxes.size()));
        for (Entity* b : c.boxes) Describe(input, b);
        input << '\n';
    }
    const std::vector<std::string> reference = RunNumpyReference("navigation/character_reference.py", input.str());
    ASSERT_EQ(reference.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        std::istringstream s(reference[i]);
        double x, y, z;
        s >> x >> y >> z;
        EXPECT_NEAR(results[i].x, x, 0.01) << cases[i].name;
        EXPECT_NEAR(results[i].y, y, 0.01) << cases[i].name;
        EXPECT_NEAR(results[i].z, z, 0.01) << cases[i].name;
    }
}

TEST_F(CharacterControllerTest, FaceMeshesOfBothLayoutsCarryTheSphere) {
    // A 10 x 10 quad at y = 0.5 as floats, and at y = 2 as short4n values in a position box.
    static const float floats[4][3] = {{-5, 0.5f, -5}, {5, 0.5f, -5}, {5, 0.5f, 5}, {-5, 0.5f, 5}};
    static const int16_t shorts[4][4] = {{-32768, 0, -32768, 0}, {32767, 0, -32768, 0}, {32767, 0, 32767, 0}, {-32768, 0, 32767, 0}};
    static const uint16_t indices[] = {0, 2, 1, 0, 3, 2, 0, 1, 9};  // the last triangle names a missing vertex
    const struct {
        uint32_t flags, size;
        const void* vertices;
        float x, top;
    } cases[] = {{MESH_VERTEX_FLOAT3, 12, floats, 0, 0.5f}, {MESH_VERTEX_SHORT4N | MESH_VERTEX_BLEND, 16, shorts, 40, 2.0f}};
    for (const auto& c : cases) {
        Entity* m = Box(Vector(-5, -1, -5, 1), Vector(5, 3, 5, 1), 0, Vector(c.x, 0, 0, 1));
        gCollisionTypes[m] = PLAYER_COLLISION_FACE;
        MeshCollisionData data;
        data.vertices = static_cast<const uint8_t*>(c.vertices);
        data.vertexSize = c.size == 16 ? 8 : 12;
        data.vertexFlags = c.flags;
        data.vertexCount = 4;
        data.positionBox = BoundingBox4(Vector(-5, 1, -5, 1), Vector(5, 3, 5, 1));
        data.indices = indices;
        data.triangleCount = 3;
        gMeshes[m] = data;
        VerySimpleCharacterController controller(Unit(c.x, c.top + 0.2f, 0), 0.25f);
        controller.SetAutoStepHeight(0.5f);
        controller.Move(Vector(1, -1, 0.5f, 0));  // down onto the face, then along it
        EXPECT_NEAR(controller.GetPosition().y, c.top + 0.251f, 0.001f) << c.flags;
        EXPECT_NEAR(controller.GetPosition().x, c.x + 1, 2e-3f);
    }
}

TEST_F(CharacterControllerTest, MoveConstraintsKeepTheSphereInside) {
    std::mt19937 rng(5);
    OBBox4 box;
    box.center = Vector(3, 1, -2, 1);
    box.xextent = Vector(1.5f, 0, 1.5f, 0);  // turned 45 degrees, 2.12 half width
    box.yextent = Vector(0, 1.0f, 0, 0);
    box.zextent = Vector(-1, 0, 1, 0);
    for (int handedness = 0; handedness < 2; ++handedness) {
        if (handedness) box.zextent = -box.zextent;
        VerySimpleCharacterController controller(Unit(3, 0.5f, -2), 0.25f);
        controller.SetMoveConstraints(box);
        controller.Move(Vector(5, 0, 0, 0));  // free inside, up to the wall
        EXPECT_NEAR(controller.GetPosition().x, 5.145f, 0.01f);
        std::uniform_real_distribution<float> move(-3, 3);
        for (int i = 0; i < 40; ++i) {
            controller.Move(Vector(move(rng), move(rng) * 0.2f, move(rng), 0));
            const Vector d = controller.GetPosition() - box.center;
            EXPECT_LE(std::fabs(d.Dot3(box.xextent) / box.xextent.Length3()), box.xextent.Length3() - 0.2f) << i;
            EXPECT_LE(std::fabs(d.Dot3(box.zextent) / box.zextent.Length3()), box.zextent.Length3() - 0.2f) << i;
            EXPECT_LE(std::fabs(d.y), 1.0f - 0.2f) << i;
        }
        controller.ResetMoveConstaints();
        controller.Move(Vector(5, 0, 0, 0));
        EXPECT_GT(controller.GetPosition().x - box.center.x, 2.2f);
    }
    // Outside, a wall holds the controller where it stands: no further out, but back in.
    VerySimpleCharacterController outside(Unit(5.1213f, 0.5f, 0.1213f), 0.25f);  // 0.88 beyond one face
    outside.SetMoveConstraints(box);
    outside.Move(Vector(1.4142f, 0, 1.4142f, 0));
    EXPECT_NEAR(outside.GetPosition().x, 5.1213f, 1e-3f);
    outside.Move(Vector(-2.1213f, 0, -2.1213f, 0));
    EXPECT_NEAR(outside.GetPosition().x, 3.0f, 1e-3f);
}

TEST_F(CharacterControllerTest, FrozenYHoldsThroughMovesSnapsAndPaths) {
    InstallGrid(20, 20, std::vector<uint8_t>(400, 1));
    Box(Vector(-10, -1, -10, 1), Vector(10, 0, 10, 1));
    Entity* unit = Unit(-5, 2, -5);
    VerySimpleCharacterController controller(unit, 0.25f);
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
    EXPECT_TRUE(controller.IsIdle());
    EXPECT_NEAR(controller.GetPosition().x, 3, 0.05f);
    EXPECT_NEAR(controller.GetPosition().z, 2, 0.05f);
    controller.SetPosition(Vector(0, 7, 0, 1));
    EXPECT_EQ(controller.GetPosition().y, y);
    // Thawed, the snap lets it sink onto the floor again.
    controller.FreezeYPosition(false);
    controller.SetAutoStepHeight(5.0f);
    controller.Move(Vector(0.0001f, 0, 0, 0));
    EXPECT_NEAR(controller.GetPosition().y, 0.251f, 0.002f);
}

TEST_F(CharacterControllerTest, PathStatesFacingAndContinuation) {
    InstallGrid(20, 20, std::vector<uint8_t>(400, 1));
    Entity* unit = Unit(-8, 0, -8);
    VerySimpleCharacterController controller(unit, 0.25f);
    controller.MoveToPoint(Vector(5, 0, -8, 1));  // no pathfinder yet: nothing
    EXPECT_TRUE(controller.IsIdle());
    controller.InitPathfinder();
    controller.SetPathMovementVelocity(2.0f);
    controller.MoveToPoint(Vector(5, 0, -3, 1));
    EXPECT_EQ(controller.GetState(), VerySimpleCharacterController::STATE_SEARCHING);
    controller.Tick();
    ASSERT_EQ(controller.GetState(), VerySimpleCharacterController::STATE_FOLLOWING);
    EXPECT_GT(controller.GetPath().Count(), 2u);
    Vector before = unit->GetGlobalPosition();
    controller.Tick();
    const Vector walked = unit->GetGlobalPosition() - before;
    EXPECT_NEAR(std::sqrt(walked.x * walked.x + walked.z * walked.z), 0.2f, 1e-3f);
    const Vector& dir = controller.GetLastPathSegmentDirection();
    const Vector forward = unit->GetGlobalLocationMatrix().r[2];
    EXPECT_NEAR(std::atan2(forward.x, forward.z), std::atan2(dir.x, dir.z), 1e-4f);
    EXPECT_TRUE(controller.HasBeenFollowingPathRecently());

    // A new search within 0.3 s of walking keeps walking the old path for its tick; later
    // or while gameplay is paused, the unit waits for the search.
    const struct {
        double since;
        bool paused, walks;
    } cases[] = {{0.2, false, true}, {0.5, false, false}, {0.1, true, false}};
    for (const auto& c : cases) {
        gPaused = false;
        controller.Tick();  // walking again
        clock.AdvanceSeconds(c.since);
        EXPECT_EQ(controller.HasBeenFollowingPathRecently(0.3f), c.since <= 0.3) << c.since;
        gPaused = c.paused;
        controller.MoveToPoint(Vector(5, 0, 5, 1));
        before = unit->GetGlobalPosition();
        controller.Tick();
        EXPECT_EQ(controller.GetState(), VerySimpleCharacterController::STATE_FOLLOWING);
        EXPECT_EQ((unit->GetGlobalPosition() - before).Length3() > 0.1f, c.walks) << c.since;
    }
    // Paused, a following tick only notes the time.
    clock.AdvanceSeconds(5);
    before = unit->GetGlobalPosition();
    controller.Tick();
    EXPECT_EQ(unit->GetGlobalPosition(), before);
    EXPECT_TRUE(controller.HasBeenFollowingPathRecently(0.0f));
    gPaused = false;
    TickUntilIdle(controller);
    EXPECT_NEAR(unit->GetGlobalPosition().x, 5, 0.05f);
    EXPECT_NEAR(unit->GetGlobalPosition().z, 5, 0.05f);

    // A goal in the own cell gives a one-point path that finishes at once.
    controller.MoveToPoint(Vector(5.2f, 0, 5.1f, 1));
    controller.Tick();
    EXPECT_EQ(controller.GetPath().Count(), 1u);
    controller.Tick();
    EXPECT_TRUE(controller.IsIdle());
    // A goal outside the grid does not start a search, and stops a walking unit.
    controller.MoveToPoint(Vector(-5, 0, -5, 1));
    controller.Tick();
    controller.MoveToPoint(Vector(50, 0, 50, 1));
    EXPECT_TRUE(controller.IsIdle());
    EXPECT_EQ(controller.GetPath().Count(), 0u);
}

TEST_F(CharacterControllerTest, ReachabilityAndCopies) {
    std::vector<uint8_t> cells(400, 1);
    for (int y = 0; y < 20; ++y) cells[y * 20 + 10] = 0;  // a wall splits the grid
    InstallGrid(20, 20, cells);
    Entity* unit = Unit(-8, 0, -8);
    auto original = std::make_unique<VerySimpleCharacterController>(unit, 0.25f);
    original->InitPathfinder();
    const struct {
        Vector goal;
        bool reachable;
        Vector point;
    } cases[] = {{{-3, 0, 4, 1}, true, {-3, 0, 4, 1}}, {{5, 0, 4, 1}, true, {-1, 0, 4, 1}}, {{50, 0, 4, 1}, false, {}}};
    for (const auto& c : cases) {
        original->TestReachability(c.goal);
        for (int i = 0; i < 10 && !original->IsIdle(); ++i) original->Tick();
        EXPECT_EQ(original->GetReachabilityTestResult(), c.reachable);
        if (c.reachable) {
            EXPECT_NEAR(original->GetReachablePoint().x, c.point.x, 1e-4f);
            EXPECT_NEAR(original->GetReachablePoint().z, c.point.z, 1e-4f);
        }
    }
    original->TestReachability(Vector(-3, 0, 4, 1));
    original->Tick();
    original->MoveToLastReachablePoint();
    original->Tick();
    EXPECT_FALSE(original->GetReachabilityTestResult());
    ASSERT_EQ(original->GetState(), VerySimpleCharacterController::STATE_FOLLOWING);
    // The copy walks on with buffers of its own after the original is gone.
    VerySimpleCharacterController copy(*original);
    EXPECT_NE(copy.GetPath().data, original->GetPath().data);
    original.reset();
    TickUntilIdle(copy);
    EXPECT_NEAR(unit->GetGlobalPosition().x, -3, 0.05f);
    EXPECT_NEAR(unit->GetGlobalPosition().z, 4, 0.05f);
    copy.TestReachability(Vector(-6, 0, 0, 1));
    copy.Tick();
    EXPECT_TRUE(copy.GetReachabilityTestResult());
}

}  // namespace
