// test-sanitize: address
// Pose evaluation of MeshAnimationController against tests/scene/animation/pose_reference.py
// on a four-level hierarchy with three nested animation-tree nodes: blends inside one
// channel, deeper channels over their ancestors (on their own nodes only), a procedural
// entry, node and palette matrices; then the once-per-frame stamp, the deletion of
// finished animations, the node-matrix cache and non-finite poses kept out of the palette.
// ProceduralTargetingAnimation in a controller's channel: the shorter way round, the
// slow-down zone, yaw and pitch towards a point, limits with their wrap, a target entity
// that goes away, targeting switched off, the callback states on the animation's clock,
// and the pose reaching only the targeted node.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "AnimationTestSupport.h"
#include "ShellCommand.h"
#include "core/Log.h"
#include "engine/entity/EntityTestSupport.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/ProceduralTargetingAnimation.h"

using animtest::FixedPoseAnimation;
using animtest::NodePose;

namespace {

// Nodes: 0 root, 1 spine, 2 arm, 3 hand (under arm), 4 head (under spine), 5 leg (under
// root). Tree: "root" 0..5 > "upper" 1..4 > "arm" 2..3, so "upper" has nodes before,
// inside and after its child, and "root" one after "upper".
const uint8_t kParents[] = {255, 0, 1, 2, 1, 0};
const uint8_t kBones[] = {4, 0, 1, 2, 255, 3};

Matrix Placement(float yaw, float pitch, float x, float y, float z) {
    Matrix r, p, t, out;
    r.LoadYRotation(yaw);
    p.LoadXRotation(pitch);
    t.LoadTranslation(x, y, z);
    out.Mul(p, r);  // r, then p
    out.Mul(t, out);
    return out;
}

NodePose Turn(float ax, float ay, float az, float degrees, float tx = 0, float ty = 0, float tz = 0, float s = 1) {
    const float h = degrees * 3.14159265f / 360.0f;
    const float n = std::sqrt(ax * ax + ay * ay + az * az);
    return {{ax / n * std::sin(h), ay / n * std::sin(h), az / n * std::sin(h), std::cos(h)}, {tx, ty, tz}, {s, s, s}};
}

struct PoseTest : EntityTest {
    void SetUp() override {
        EntityTest::SetUp();
        const char* names[] = {"root", "spine", "arm", "hand", "head", "leg"};
        for (int i = 0; i < 6; ++i) hierarchy.nodes.push_back({NameString(names[i]), kParents[i], kBones[i]});
        hierarchy.boneCount = 5;
        const Matrix nodeMatrices[] = {Placement(10, 0, 0, 1, 0),  Placement(0, 20, 0, 2, 0), Placement(30, 0, 1, 0, 0),
                                       Placement(0, 0, 0, 1.5, 0), Placement(-15, 5, 0, 1, 0), Placement(0, -10, 0.5, -1, 0)};
        for (uint32_t i = 0; i < 6; ++i) animtest::SetMatrix(hierarchy, i, nodeMatrices[i]);
        for (uint32_t b = 0; b < 5; ++b) animtest::SetMatrix(hierarchy, 6 + b, Placement(7.0f * b, 3, 0, -0.3f * b, 0.1f));
        hierarchy.treeNodes.push_back({NameString("root"), 0, 6, kMeshNoTreeNode, 1, kMeshNoTreeNode});
        hierarchy.treeNodes.push_back({NameString("upper"), 1, 4, 0, 2, kMeshNoTreeNode});
        hierarchy.treeNodes.push_back({NameString("arm"), 2, 2, 1, kMeshNoTreeNode, kMeshNoTreeNode});
        controller = std::make_unique<MeshAnimationController>(hierarchy);
        SetLogFrameNumbers(0, 0);
    }
    void TearDown() override {
        controller.reset();
        SetLogFrameNumbers(0, 0);
        EntityTest::TearDown();
    }
    FixedPoseAnimation* Add(uint32_t channel, float weight, std::map<uint32_t, NodePose> poses, bool procedural = false) {
        auto* a = new FixedPoseAnimation(std::move(poses), procedural);
        a->params.Flags = ANIMFLAG_KEEPOTHERS;
        controller->AddAnimation(channel, a);
        a->SetWeight(weight);
        added.push_back({channel, a});
        return a;
    }
    void Evaluate() {
        controller->ClearEvaluationStamp();
        controller->EvaluatePose(workspace, Matrix::IDENTITY, 1.0f);
    }
    // Node matrices and palette rows against the reference.
    void CheckAgainstReference(const char* label) {
        std::ostringstream j;
        j.precision(9);
        j << "{\"nodes\": [";
        for (uint32_t i = 0; i < 6; ++i) {
            j << (i ? "," : "") << "{\"parent\": " << int(kParents[i]) << ", \"bone\": " << int(kBones[i])
              << ", \"matrix\": [";
            for (int k = 0; k < 16; ++k) j << (k ? "," : "") << hierarchy.matrices[i * 16 + k];
            j << "]}";
        }
        j << "], \"bones\": [";
        for (uint32_t b = 0; b < 5; ++b) {
            j << (b ? "," : "") << "[";
            for (int k = 0; k < 16; ++k) j << (k ? "," : "") << hierarchy.matrices[(6 + b) * 16 + k];
            j << "]";
        }
        j << "], \"tree\": [{\"first\": 0, \"count\": 6, \"child\": 1, \"sibling\": -1},"
             "{\"first\": 1, \"count\": 4, \"child\": 2, \"sibling\": -1},"
             "{\"first\": 2, \"count\": 2, \"child\": -1, \"sibling\": -1}], \"channels\": [";
        for (uint32_t c = 0; c < 3; ++c) {
            j << (c ? "," : "") << "[";
            bool first = true;
            for (const auto& [channel, a] : added) {
                if (channel != c) continue;
                j << (first ? "" : ",") << "{\"weight\": " << a->weight.current
                  << ", \"procedural\": " << ((a->state & ANIMSTATE_PROCEDURAL) ? "true" : "false") << ", \"poses\": {";
                first = false;
                bool firstPose = true;
                for (const auto& [node, p] : a->fixed) {
                    j << (firstPose ? "" : ",") << "\"" << node << "\": [" << p.q[0] << "," << p.q[1] << "," << p.q[2]
                      << "," << p.q[3] << "," << p.t[0] << "," << p.t[1] << "," << p.t[2] << "," << p.s[0] << ","
                      << p.s[1] << "," << p.s[2] << "]";
                    firstPose = false;
                }
                j << "}}";
            }
            j << "]";
        }
        j << "]}";
        std::istringstream out(shelltest::ShellOutput("echo '" + j.str() + "' | /usr/bin/python3 " PROJECT_SOURCE_ROOT
                                                      "/tests/scene/animation/pose_reference.py"));
        std::vector<std::vector<double>> lines;
        for (std::string line; std::getline(out, line);) {
            std::istringstream fields(line);
            lines.emplace_back();
            for (double v; fields >> v;) lines.back().push_back(v);
        }
        ASSERT_EQ(lines.size(), 11u) << label;
        for (uint32_t i = 0; i < 6; ++i)
            for (int k = 0; k < 16; ++k)
                EXPECT_NEAR(workspace.matrices[i].r[k / 4][k % 4], lines[i][k], 1e-4 * (1 + std::fabs(lines[i][k])))
                    << label << ": node " << i << " element " << k;
        for (uint32_t b = 0; b < 5; ++b)
            for (int k = 0; k < 12; ++k)
                EXPECT_NEAR(controller->Palette()[b * 12 + k], lines[6 + b][k], 1e-4 * (1 + std::fabs(lines[6 + b][k])))
                    << label << ": bone " << b << " element " << k;
    }

    MeshHierarchy hierarchy;
    std::unique_ptr<MeshAnimationController> controller;
    AnimationPoseWorkspace workspace;
    std::vector<std::pair<uint32_t, FixedPoseAnimation*>> added;
};

TEST_F(PoseTest, BlendsAndTreeNodeOverridesMatchTheReference) {
    struct Case {
        const char* label;
        void (*setUp)(PoseTest&);
    };
    const Case cases[] = {
        {"bind pose", [](PoseTest&) {}},
        {"two halves on root",
         [](PoseTest& t) {
             t.Add(0, 0.5f, {{2, Turn(0, 1, 0, 0, 0.2f)}, {5, Turn(1, 0, 0, 40)}});
             t.Add(0, 0.5f, {{2, Turn(0, 1, 0, 90, 0, 0.4f)}, {0, Turn(0, 0, 1, 30, 1, 2, 3, 1.5f)}});
         }},
        {"arm at 1 over root",
         [](PoseTest& t) {
             t.Add(0, 1.0f, {{1, Turn(1, 1, 0, 50)}, {2, Turn(0, 1, 0, 70)}, {3, Turn(1, 0, 0, 20)}, {5, Turn(0, 0, 1, 10)}});
             t.Add(2, 1.0f, {{2, Turn(1, 0, 1, -35, 0.1f, 0, 0)}});
         }},
        {"arm at 0.25 over root and upper",
         [](PoseTest& t) {
             t.Add(0, 1.0f, {{2, Turn(0, 1, 0, 80)}, {4, Turn(1, 0, 0, 25)}});
             t.Add(1, 0.6f, {{2, Turn(1, 0, 0, -60)}, {3, Turn(0, 0, 1, 45)}, {4, Turn(0, 1, 0, 15)}});
             t.Add(2, 0.25f, {{2, Turn(0, 0, 1, 100, 0, 0.5f, 0)}, {3, Turn(0, 1, 1, 30)}});
         }},
        {"procedural on upper counts at its first node only",
         [](PoseTest& t) {
             t.Add(0, 1.0f, {{1, Turn(1, 0, 0, 10)}, {4, Turn(0, 1, 0, 20)}});
             t.Add(1, 0.8f, {{1, Turn(0, 1, 0, 60)}, {4, Turn(0, 0, 1, 90)}}, true);
         }},
    };
    for (const Case& c : cases) {
        controller = std::make_unique<MeshAnimationController>(hierarchy);
        added.clear();
        c.setUp(*this);
        Evaluate();
        CheckAgainstReference(c.label);
    }
}

TEST_F(PoseTest, OneEvaluationAFrameAndFinishedStoppingAnimationsAreDeleted) {
    FixedPoseAnimation* a = Add(0, 1.0f, {{1, Turn(1, 0, 0, 30)}});
    FixedPoseAnimation* b = Add(0, 1.0f, {{1, Turn(1, 0, 0, 60)}});
    SetLogFrameNumbers(4, 9);
    controller->EvaluatePose(workspace, Matrix::IDENTITY, 1.0f);
    EXPECT_EQ(a->evaluations, 1);
    controller->EvaluatePose(workspace, Matrix::IDENTITY, 1.0f);
    EXPECT_EQ(a->evaluations, 1);  // same frame and tick
    SetLogFrameNumbers(5, 9);
    controller->EvaluatePose(workspace, Matrix::IDENTITY, 1.0f);
    EXPECT_EQ(a->evaluations, 2);
    // A stop without a fade ends at once; the walk deletes it and the channel closes up.
    MeshAnimationController::Stop(*a, 0.0f);
    controller->ClearEvaluationStamp();
    controller->EvaluatePose(workspace, Matrix::IDENTITY, 1.0f);
    ASSERT_EQ(controller->Channel(0).Count(), 1u);
    EXPECT_EQ(controller->Channel(0)[0].Get(), b);
}

TEST_F(PoseTest, NodeQueriesCacheSortedAndRefuseNodesOutsideTheHierarchy) {
    AnimationPoseWorkspace* saved = gMeshAnimationWorkspace;
    gMeshAnimationWorkspace = &workspace;
    Add(0, 1.0f, {{2, Turn(0, 0, 1, 90)}});
    for (int32_t node : {3, 1, 5, 1, 2}) {
        const Matrix m = controller->GetNodeMatrix(node, Matrix::IDENTITY, 1.0f);
        EXPECT_EQ(m.r[3], workspace.matrices[node].r[3]) << node;
    }
    ASSERT_EQ(controller->CachedNodeCount(), 4u);
    const int32_t sorted[] = {1, 2, 3, 5};
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(controller->CachedNode(i), sorted[i]);
    for (int32_t node : {-1, 6, 255}) {
        const Matrix m = controller->GetNodeMatrix(node, Matrix::IDENTITY, 1.0f);
        EXPECT_EQ(m.r[3], Vector(0, 0, 0, 1)) << node;
        EXPECT_EQ(m.r[0], Vector(1, 0, 0, 0)) << node;
    }
    EXPECT_EQ(controller->CachedNodeCount(), 4u);
    gMeshAnimationWorkspace = saved;
}

TEST_F(PoseTest, NonFinitePosesNeverReachThePalette) {
    const float inf = INFINITY;
    Add(0, 1.0f, {{1, {{0, 0, 0, 1}, {inf, 0, 0}, {1, 1, 1}}}, {2, {{NAN, 0, 0, 1}, {0, 0, 0}, {1, 1, 1}}}});
    Evaluate();
    for (uint32_t i = 0; i < 5 * 12; ++i) EXPECT_TRUE(std::isfinite(controller->Palette()[i])) << i;
    for (uint32_t n = 0; n < 6; ++n)
        for (int k = 0; k < 16; ++k) EXPECT_TRUE(std::isfinite(workspace.matrices[n].r[k / 4][k % 4])) << n;
}

// ---- Procedural targeting ----

constexpr float kPi = 3.14159265f;

// The aiming line's height over the node has no setter of its own.
struct OffsetTargeting : ProceduralTargetingAnimation {
    using ProceduralTargetingAnimation::ProceduralTargetingAnimation;
    void SetPitchOffset(float offset) { pitchOffset = offset; }
};

// Nodes: 0 base at the origin, 1 turret 1 up, 2 barrel 1 ahead of the turret. Tree nodes:
// "root" 0..2 and "turret" 1..2.
struct TargetingTest : EntityTest {
    void SetUp() override {
        EntityTest::SetUp();
        const char* names[] = {"base", "turret", "barrel"};
        const uint8_t parents[] = {255, 0, 1};
        for (int i = 0; i < 3; ++i) hierarchy.nodes.push_back({NameString(names[i]), parents[i], uint8_t(i)});
        hierarchy.boneCount = 3;
        Matrix m;
        m.LoadTranslation(0, 0, 0);
        animtest::SetMatrix(hierarchy, 0, m);
        m.LoadTranslation(0, 1, 0);
        animtest::SetMatrix(hierarchy, 1, m);
        m.LoadTranslation(0, 0, 1);
        animtest::SetMatrix(hierarchy, 2, m);
        for (uint32_t b = 0; b < 3; ++b) animtest::SetMatrix(hierarchy, 3 + b, Matrix::IDENTITY);
        hierarchy.treeNodes.push_back({NameString("root"), 0, 3, kMeshNoTreeNode, 1, kMeshNoTreeNode});
        hierarchy.treeNodes.push_back({NameString("turret"), 1, 2, 0, kMeshNoTreeNode, kMeshNoTreeNode});
        controller = std::make_unique<MeshAnimationController>(hierarchy);
        AnimationParams p;
        p.AttackTime = 0.0f;
        aim = new OffsetTargeting(1, p);
        aim->SetTimer(&clock);
        controller->AddAnimation(1, aim);
        SetLogFrameNumbers(0, 0);
    }
    void TearDown() override {
        controller.reset();
        EntityTest::TearDown();
    }
    void Step(float seconds) {
        clock.Tick(seconds);
        controller->ClearEvaluationStamp();
        controller->EvaluatePose(workspace, Matrix::IDENTITY, 1.0f);
    }
    // A point at yaw degrees about y and pitch degrees up from the turret, 5 away.
    static Vector Towards(float yaw, float pitch = 0) {
        const float y = yaw * kPi / 180, p = pitch * kPi / 180;
        return Vector(5 * std::cos(p) * std::sin(y), 1 + 5 * std::sin(p), 5 * std::cos(p) * std::cos(y), 1);
    }
    MeshHierarchy hierarchy;
    std::unique_ptr<MeshAnimationController> controller;
    AnimationPoseWorkspace workspace;
    OffsetTargeting* aim = nullptr;
    GameTimer clock;
};

TEST_F(TargetingTest, TurnsTheShortWayAtItsSpeedSlowingInsideTheZone) {
    struct Case {
        const char* label;
        float goalYaw, zone, seconds;
        float wantYaw;
    };
    const Case cases[] = {
        {"350 ahead turns back", 350, 0, 0.05f, 360 - 4.5f},
        {"reaches a near goal", 3, 0, 0.1f, 3},
        {"full speed outside the zone", 60, 15, 0.1f, 9},
        {"slower inside the zone", 10, 15, 0.05f, 3},  // 90 x 10 / 15 = 60 degrees a second
        {"a zone of 0 is the full speed", 10, 0, 0.05f, 4.5f},
    };
    for (const Case& c : cases) {
        aim->SetRotationVector(Vector(0, 0, 0, 0), false);
        aim->SetRotationSlowDownZone(c.zone, c.zone);
        aim->SetTargetPoint(Towards(c.goalYaw), true);
        Step(c.seconds);
        EXPECT_NEAR(aim->GetRotationVector().y, c.wantYaw, 1e-3f) << c.label;
        EXPECT_NEAR(aim->GetRotationVector().x, 0, 1e-3f) << c.label;
    }
}

TEST_F(TargetingTest, YawAndPitchTowardsThePointWithinTheLimits) {
    aim->SetRotationSpeed(1e6f, 1e6f);
    struct Case {
        const char* label;
        Vector point;
        float minYaw, maxYaw;
        bool pitch, yaw;
        float wantPitch, wantYaw;
    };
    const Case cases[] = {
        {"ahead and up", Towards(0, 45), -180, 180, true, true, 315, 0},
        {"right and down", Towards(90, -30), -180, 180, true, true, 30, 90},
        {"behind left", Towards(-135, 20), -180, 180, true, true, 340, 225},
        {"yaw clamped", Towards(90), -30, 30, true, true, 0, 30},
        {"yaw clamped and wrapped", Towards(-90), -30, 30, true, true, 0, 330},
        {"pitch axis off", Towards(40, 30), -180, 180, false, true, 0, 40},
        {"yaw axis off", Towards(0, -20), -180, 180, true, false, 20, 0},
        {"at the node itself", Vector(0, 1, 0, 1), -180, 180, true, true, 0, 0},
    };
    for (const Case& c : cases) {
        aim->SetRotationLimits2(-180, 180, c.minYaw, c.maxYaw);
        aim->EnableAxis(c.pitch, c.yaw);
        aim->SetRotationVector(Vector(0, 0, 0, 0), false);
        aim->SetTargetPoint(c.point, true);
        Step(0.1f);
        const Vector got = aim->GetRotationVector();
        auto near = [](float a, float b) { return std::fabs(std::remainder(a - b, 360.0f)) < 0.05f; };
        EXPECT_TRUE(near(got.x, c.wantPitch)) << c.label << ": pitch " << got.x;
        EXPECT_TRUE(near(got.y, c.wantYaw)) << c.label << ": yaw " << got.y;
        EXPECT_GE(got.y, 0.0f);
        EXPECT_LT(got.y, 360.0f);
    }
    // With a pitch offset: the offset formula evaluated in double precision.
    aim->SetRotationLimits2(-180, 180, -180, 180);
    aim->EnableAxis(true, true);
    for (float o : {0.5f, -0.8f}) {
        aim->SetPitchOffset(o);
        aim->SetRotationVector(Vector(0, 0, 0, 0), false);
        aim->SetTargetPoint(Towards(0, 25), true);
        Step(0.1f);
        const double f = 5 * std::cos(25 * kPi / 180), up = 5 * std::sin(25 * kPi / 180);
        const double disc = 4 * f * f * o * o - (o * o - up * up) * (f * f + up * up) * 4;
        const double want = -std::asin((std::sqrt(disc) + 2 * f * o) / (2 * (f * f + up * up))) * 180 / kPi;
        EXPECT_NEAR(std::remainder(aim->GetRotationVector().x - want, 360.0), 0, 0.05) << o;
    }
    // Offsets and points at random: the angles stay finite and in range.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-5, 5);
    for (int i = 0; i < 300; ++i) {
        aim->SetPitchOffset(u(rng));
        aim->SetTargetPoint(Vector(u(rng), u(rng), u(rng), 1), true);
        Step(0.02f);
        const Vector a = aim->GetRotationVector();
        ASSERT_TRUE(std::isfinite(a.x) && std::isfinite(a.y)) << i;
        ASSERT_TRUE(a.x >= 0 && a.x < 360 && a.y >= 0 && a.y < 360) << i;
    }
}

TEST_F(TargetingTest, AGoneTargetClearsFollowModeAndInactiveTargetingHolds) {
    Entity* target = Make();
    target->SetGlobalPosition(Towards(90));
    aim->SetRotationSlowDownZone(0, 0);
    aim->SetTargetEntity(target);
    Step(0.5f);
    EXPECT_NEAR(aim->GetRotationVector().y, 45, 1e-3f);
    EXPECT_TRUE(aim->FollowsEntity());
    target->Destroy();
    Step(0.1f);
    EXPECT_FALSE(aim->FollowsEntity());
    Vector point;
    EXPECT_FALSE(aim->GetTargetPoint(point));
    EXPECT_NEAR(aim->GetRotationVector().y, 36, 1e-3f);  // back towards 0
    // Off: the angles hold and the pose shows them.
    aim->SetTargetPoint(Towards(200), true);
    aim->SetRotationVector(Vector(10, 20, 0, 0), true);
    Step(0.5f);
    EXPECT_EQ(aim->GetRotationVector(), Vector(10, 20, 0, 0));
    Quaternion yaw, pitch, want;
    yaw.LoadYRotation(20);
    pitch.LoadXRotation(10);
    want.Mul(yaw, pitch);
    Quaternion r;
    Vector t, s;
    ASSERT_TRUE(GetTrackPose(*aim, 1, r, t, s));
    EXPECT_NEAR(r.x, want.x, 1e-6f);
    EXPECT_NEAR(r.y, want.y, 1e-6f);
    EXPECT_NEAR(r.w, want.w, 1e-6f);
}

TEST_F(TargetingTest, CallbackStatesRunOnTheAnimationClock) {
    Entity* listener = Make();
    aim->params.Flags |= ANIMFLAG_PROCCALLBACKS;
    aim->SetRotationCallbackListener(listener);
    aim->SetRotationSlowDownZone(0, 0);
    aim->SetRotationSpeed(20, 20);
    aim->SetTargetPoint(Towards(90), true);
    struct Step_ {
        float seconds;
        bool still;  // target the present angles (velocity 0)
        uint32_t want;
    };
    const Step_ steps[] = {
        {0.05f, false, ProceduralTargetingAnimation::kStarting},
        {0.05f, false, ProceduralTargetingAnimation::kStarting},  // 0.05 s after the timer
        {0.06f, false, ProceduralTargetingAnimation::kRotating},  // 0.11 s
        {0.05f, true, ProceduralTargetingAnimation::kStopping},
        {0.05f, true, ProceduralTargetingAnimation::kStopping},
        {0.06f, true, ProceduralTargetingAnimation::kStill},
        {0.05f, false, ProceduralTargetingAnimation::kStarting},
        {0.05f, true, ProceduralTargetingAnimation::kStill},  // too slow again before 0.1 s
    };
    int i = 0;
    for (const Step_& s : steps) {
        if (s.still) {
            const Vector a = aim->GetRotationVector();
            aim->SetTargetPoint(Towards(a.y), true);
        } else {
            aim->SetTargetPoint(Towards(aim->GetRotationVector().y + 90), true);
        }
        Step(s.seconds);
        EXPECT_EQ(aim->CallbackState(), s.want) << "step " << i++;
    }
    // Without the flag nothing changes state.
    aim->params.Flags &= ~ANIMFLAG_PROCCALLBACKS;
    aim->SetTargetPoint(Towards(aim->GetRotationVector().y + 90), true);
    Step(0.2f);
    EXPECT_EQ(aim->CallbackState(), ProceduralTargetingAnimation::kStill);
}

TEST_F(TargetingTest, OnlyTheTargetedNodeTurns) {
    aim->SetRotationVector(Vector(0, 90, 0, 0), true);
    Step(0.1f);
    // The turret turned 90 degrees about y at (0, 1, 0); the barrel keeps its place under it.
    const Vector barrel = workspace.matrices[2].r[3];
    EXPECT_NEAR(barrel.x, 1, 1e-5f);
    EXPECT_NEAR(barrel.y, 1, 1e-5f);
    EXPECT_NEAR(barrel.z, 0, 1e-5f);
    const Vector ahead = workspace.matrices[2].r[2];
    EXPECT_NEAR(ahead.x, 1, 1e-5f);
    EXPECT_NEAR(ahead.z, 0, 1e-5f);
    EXPECT_EQ(workspace.matrices[0].r[2], Vector(0, 0, 1, 0));
}

}  // namespace
