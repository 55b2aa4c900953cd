// test-sanitize: address
// test-timeout: 120
// The animation half of MeshEntity: the controller's life with the template (flag 0x8),
// calls without one, the palette posted to the rendering context, mounting children with
// the entity's own refusals, the re-mount and the unmount on removal, node queries, and
// the replication of the root animation through real property containers.
// MeshEntity::TestLineOfSight: random segments against random triangles compared with
// tests/scene/animation/los_reference.py (one- and two-sided, nearest and first hit),
// the ends of the segment, the flag and collision-type matrix, the masks, parts whose
// collision is disabled, packed positions, the box mode under a turned and scaled entity,
// and skinned collision vertices following the pose, cached for one scratch generation.
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "AnimationTestSupport.h"
#include "MeshEntityFixture.h"
#include "core/Memory.h"
#include "engine/entity/MPProperty.h"
#include "engine/services/SceneContentServices.h"
#include "scene/startup/SceneStaticInit.h"
#include "engine/services/GameServices.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/MeshEntityAnimation.h"
#include "scene/animation/XSIAnimation.h"

using namespace animtest;

namespace {

const char kTree[] =
    "[{'name': 'root', 'first': 0, 'count': 3, 'parent': 4294967295, 'child': 1, 'sibling': 4294967295},"
    "{'name': 'upper', 'first': 1, 'count': 2, 'parent': 0, 'child': 4294967295, 'sibling': 4294967295}]";

// Real property containers: properties 0 to 2 are the standard ones, then filler
// floats up to the animation property and the progress property right behind it.
void DeclareAnimation(Entity* e, uint32_t animIndex) {
    e->CreateMPProperties();
    for (uint32_t i = 3; i < animIndex; ++i) e->MPPropAddFloat(0.0f, MPPROPTYPE_FLOAT, 0, 0.0f, 1.0f, 0.01f, "filler");
    ASSERT_EQ(e->MPPropAddAnim(MPAnimValue(), 0, "anim"), animIndex);
    ASSERT_EQ(e->MPPropAddFloat(0.0f, MPPROPTYPE_FLOAT_ANIM_PROGRESS, 0, 0.0f, 1.0f, 0.0f, "progress"), animIndex + 1);
}

struct MeshAnimationTest : MeshFixture {
    MeshTemplate* Arm() { return Template(ChainHierarchy({"upper", "fore", "hand"}, {-1, 0, 1}, {0, 1, 1}, kTree), "arm"); }
    // The arm with two clips: "Idle" (index 0, one second) and "Walk" (index 1, two).
    MeshTemplate* ArmWithClips() {
        for (const char* clip : {"idle", "walk"})
            EXPECT_TRUE(shelltest::Shell("echo '{\"length\": 1.0, \"tracks\": [{\"name\": \"fore\", \"rotation\": [[0,0,0,0]]}]}' | "
                                         "python3 " PROJECT_SOURCE_ROOT "/tests/support/anim_file.py write " +
                                         Path("animations", std::string(clip) + ".bin")));
        MeshTemplate* arm = Arm();
        arm->animations.Resize(2);
        arm->animations[0].name = "Idle";
        arm->animations[0].fileName = "idle";
        arm->animations[0].time = 1.0f;
        arm->animations[1].name = "Walk";
        arm->animations[1].fileName = "walk";
        arm->animations[1].time = 2.0f;
        arm->LoadAnimations();
        return arm;
    }
    // A clip-less animation on channel 0 standing for the definition index.
    XSIAnimation* Play(MeshEntity* m, int32_t index, uint32_t flags = 0) {
        AnimationParams p;
        p.AnimIndex = p.Id = index;
        p.Flags = flags;
        p.AttackTime = 0.2f;
        auto* a = new XSIAnimation(1, nullptr, p, 1.0f);
        m->GetAnimationController()->AddAnimation(0, a);
        return a;
    }
    std::vector<std::string> Errors() {
        std::vector<std::string> out;
        for (const auto& m : log.Messages())
            if (m.severity == 4 && m.category == 2) out.push_back(m.text);
        return out;
    }
};

TEST_F(MeshAnimationTest, TheControllerFollowsTheTemplatesHierarchy) {
    MeshTemplate* arm = Arm();
    MeshTemplate* plain = Template("", "plain");
    MeshEntity* m = Make(arm);
    ASSERT_NE(m->GetAnimationController(), nullptr);
    EXPECT_TRUE(m->CheckFlag(0x8));
    EXPECT_EQ(m->GetAnimationController()->BoneCount(), 3u);
    m->ChangeTemplate(plain);
    EXPECT_EQ(m->GetAnimationController(), nullptr);
    EXPECT_FALSE(m->CheckFlag(0x8));
    // Without a controller every call refuses quietly.
    EXPECT_FALSE(m->StartAnimation("root", "Idle", nullptr));
    EXPECT_EQ(m->StartProceduralTargetingAnimation("root", 0), nullptr);
    EXPECT_FALSE(m->StopAnimation("root", -1, 0.2f));
    EXPECT_FALSE(m->SetAnimationProgress("root", -1, 0.5f));
    EXPECT_EQ(m->GetLocalHierarchyPosition(1).r[3], Vector(0, 0, 0, 1));
    EXPECT_EQ(m->GetReplicatedEncAnimData(), 0u);
    m->ChangeTemplate(arm);
    EXPECT_NE(m->GetAnimationController(), nullptr);
    EXPECT_TRUE(m->CheckFlag(0x8));
    // Channel calls by tree-node name.
    EXPECT_TRUE(m->SetAnimationSpeedMultiplier("upper", -1, 2.0f));
    EXPECT_FALSE(m->SetAnimationTimeFlags("nowhere", -1, ANIMFLAG_SYSTEMTIME));
    log.Clear();
    EXPECT_EQ(m->StartProceduralTargetingAnimation("nowhere", 0), nullptr);
    ASSERT_TRUE(log.Contains("Cannot start animation because the node nowhere cannot be found"));
    EXPECT_NE(m->StartProceduralTargetingAnimation("upper", 0), nullptr);
    EXPECT_EQ(m->GetAnimationController()->Channel(1).Count(), 1u);
    // Re-reading the template's mesh data moves the controller to the new hierarchy, or
    // drops it with the hierarchy.
    ASSERT_TRUE(Read(arm, ChainHierarchy({"a", "b"}, {-1, 0}, {0, 1},
                                         "[{'name': 'root', 'first': 0, 'count': 2, 'parent': 4294967295, "
                                         "'child': 4294967295, 'sibling': 4294967295}]")));
    ASSERT_NE(m->GetAnimationController(), nullptr);
    EXPECT_EQ(&m->GetAnimationController()->Hierarchy(), arm->GetHierarchy());
    EXPECT_EQ(m->GetAnimationController()->BoneCount(), 2u);
    m->Animate();
    ASSERT_TRUE(Read(arm, ""));
    EXPECT_EQ(m->GetAnimationController(), nullptr);
    EXPECT_FALSE(m->CheckFlag(0x8));
}

TEST_F(MeshAnimationTest, AnimateEvaluatesOnceAndPostsThePaletteToTheContext) {
    MeshTemplate* arm = Arm();
    MeshEntity* m = Make(arm);
    // Bend "fore" 90 degrees about z: the palette of bones 1 and 2 turns, bone 0 stays.
    Matrix fore;
    fore.LoadZRotation(90);
    fore.r[3] = Vector(0, 1, 0, 1);
    SetMatrix(*arm->GetHierarchy(), 1, fore);
    m->GetAnimationController()->ClearEvaluationStamp();
    m->Animate();
    gVornexRenderer.FlushCommands(true);
    auto* context = static_cast<MeshEntityRenderingContext*>(m->GetRenderingContext());
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(context->Bones().size(), 36u);
    EXPECT_EQ(std::memcmp(context->Bones().data(), m->GetAnimationController()->Palette(), 36 * 4), 0);
    // A vertex of the hand at (0, 2, 0) skinned by bone 2 lands at (-1, 1, 0).
    const float* r = context->Bones().data() + 24;
    const float p[3] = {0, 2, 0};
    const float x = r[0] * p[0] + r[1] * p[1] + r[2] * p[2] + r[3];
    const float y = r[4] * p[0] + r[5] * p[1] + r[6] * p[2] + r[7];
    EXPECT_NEAR(x, -1, 1e-5f);
    EXPECT_NEAR(y, 1, 1e-5f);
    EXPECT_EQ(context->Bones()[0], 1.0f);
    // Node queries under the entity's matrix.
    m->SetGlobalPosition(Vector(5, 0, 0, 1));
    m->GetAnimationController()->ClearEvaluationStamp();
    Vector hand;
    m->GetGlobalHierarchyPositionVector(2, hand);
    EXPECT_NEAR(hand.x, 4, 1e-5f);
    EXPECT_NEAR(hand.y, 1, 1e-5f);
    Matrix none;
    m->GetGlobalHierarchyPosition(-1, none);
    EXPECT_NEAR(none.r[3].x, 5, 1e-5f);
}

TEST_F(MeshAnimationTest, OnlyChildrenMountAndParentChangesUnmountAndRemount) {
    MeshEntity* m = Make(Arm());
    m->SetName("soldier");
    MeshEntity* plain = Make(Template("", "plain"));
    plain->SetName("crate");
    Entity* gun = Make(Template("", "gun"));
    gun->SetName("gun");
    log.Clear();
    struct Case {
        MeshEntity* mesh;
        int32_t index;  // -2: by name
        const char* message;
    };
    const Case cases[] = {
        {m, -2, "Cannot mount gun to hand in soldier because only children can be mounted"},
        {m, 1, "Cannot mount gun to soldier because only children can be mounted"},
    };
    for (const Case& c : cases) {
        log.Clear();
        EXPECT_FALSE(c.index == -2 ? c.mesh->MountEntity("hand", gun) : c.mesh->MountEntity(c.index, gun));
        EXPECT_EQ(Errors(), std::vector<std::string>{c.message});
    }
    gun->SetParent(plain);
    log.Clear();
    EXPECT_FALSE(plain->MountEntity("hand", gun));
    EXPECT_FALSE(plain->MountEntity(0, gun));
    EXPECT_EQ(Errors(), (std::vector<std::string>{"Cannot mount gun to hand in crate because crate has no hierarchy",
                                                  "Cannot mount gun to crate because crate has no hierarchy"}));
    // The child's mount record mounts it when its parent becomes the mesh.
    gun->SetMountBone("hand");
    gun->SetParent(m);
    EXPECT_TRUE(gun->GetMountFlags() & ENTITY_MOUNTED_TO_BONE);
    EXPECT_EQ(m->GetAnimationController()->MountCount(), 1u);
    m->SetGlobalPosition(Vector(0, 0, 3, 1));
    m->UpdateMountedObjects();
    EXPECT_NEAR(gun->GetGlobalPosition().y, 2, 1e-5f);
    EXPECT_NEAR(gun->GetGlobalPosition().z, 3, 1e-5f);
    // A new bone re-mounts it without the already-mounted refusal.
    log.Clear();
    gun->SetMountBone("fore");
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(m->GetAnimationController()->MountCount(), 1u);
    // Moving it away unmounts it.
    gun->SetParent(plain);
    EXPECT_FALSE(gun->GetMountFlags() & ENTITY_MOUNTED_TO_BONE);
    EXPECT_EQ(m->GetAnimationController()->MountCount(), 0u);
}

// ReplicateAnimEnable reaches the mesh's own replication and both of the Game's mesh
// lists (posed each step, finished each frame); a plain entity does nothing.
TEST_F(MeshAnimationTest, ReplicateAnimEnableReachesTheMeshOnly) {
    // The Game's mesh lists, recorded: 'A' the animation list, 'F' the finish list, '+'
    // an addition and '-' a removal.
    struct MeshListsGame : GameServices {
        std::vector<std::pair<Entity*, std::string>> calls;
        void AddMeshToAnimationList(Entity* e) override { calls.push_back({e, "A+"}); }
        void RemoveMeshFromAnimationList(Entity* e) override { calls.push_back({e, "A-"}); }
        void AddMeshToFinishList(Entity* e) override { calls.push_back({e, "F+"}); }
        void RemoveMeshFromFinishList(Entity* e) override { calls.push_back({e, "F-"}); }
    } game;
    std::vector<std::pair<Entity*, std::string>>& calls = game.calls;
    SetSceneContentServices(&SceneLibraryContentServices());
    SetGameServices(&game);
    MeshEntity* m = Make(Arm());
    DeclareAnimation(m, 3);
    static EntityTemplate plainTemplate;
    Entity* plain = gEntityManager->CreateEntityFromTemplate(&plainTemplate, nullptr, Matrix::IDENTITY, 0, nullptr);
    ASSERT_NE(plain, nullptr);
    plain->ReplicateAnimEnable(3, 4);
    plain->ReplicateAnimDisable();
    EXPECT_TRUE(calls.empty());
    m->ReplicateAnimEnable(3, 4);
    Play(m, 6, ANIMFLAG_LOOP);
    m->UpdateReplicatedAnimData();
    EXPECT_EQ(m->MPPropGetAnim(3).index, 6);
    m->ReplicateAnimDisable();
    const std::vector<std::pair<Entity*, std::string>> expected = {{m, "A+"}, {m, "F+"}, {m, "A-"}, {m, "F-"}};
    EXPECT_EQ(calls, expected);
    Play(m, 9);
    m->UpdateReplicatedAnimData();
    EXPECT_EQ(m->MPPropGetAnim(3).index, 6) << "disabled: copies nothing";
    SetGameServices(nullptr);
}

TEST_F(MeshAnimationTest, TheRootAnimationIsReplicatedToTheTarget) {
    MeshEntity* m = Make(Arm());
    Entity* target = Make(Template("", "target"));
    DeclareAnimation(target, 4);
    m->SetAnimationReplication(target, 4, 5);
    XSIAnimation* a = Play(m, 3, ANIMFLAG_LOOP);
    a->params.AttackTime = 0.3f;
    a->params.OverrideProgress = 0.25f;
    m->UpdateReplicatedAnimData();
    // The target receives what the three bytes carry: index 3 with the loop bit, then the
    // attack time and the progress as fractions of 255.
    const uint32_t encoded = m->GetReplicatedEncAnimData();
    EXPECT_EQ(encoded, 0x83u | 77u << 8 | 64u << 16);  // 0.3 x 255 + 0.5, 0.25 x 255 + 0.5
    const MPAnimValue anim = target->MPPropGetAnim(4);
    EXPECT_EQ(anim.index, 3);
    EXPECT_EQ(anim.loop, 1);
    EXPECT_FLOAT_EQ(anim.attackTime, 77 / 255.0f);
    EXPECT_FLOAT_EQ(target->MPPropGetFloat(5), 64 / 255.0f);
    EXPECT_NE(target->GetReplicationDirtyMask(0) & (3u << 4), 0u) << "the sets mark the properties dirty";
    // An index past seven bits writes nothing and warns once.
    target->ClearReplicationDirtyMasks();
    Play(m, 130);
    log.Clear();
    m->UpdateReplicatedAnimData();
    m->UpdateReplicatedAnimData();
    EXPECT_EQ(target->MPPropGetAnim(4).index, 3);
    EXPECT_EQ(target->GetReplicationDirtyMask(0), 0u);
    int warnings = 0;
    for (const auto& msg : log.Messages()) warnings += msg.severity == 3 && msg.text.find("130") != std::string::npos;
    EXPECT_EQ(warnings, 1);
}

TEST_F(MeshAnimationTest, ReceivedStatesStartTheAnimationOnTheRootOnce) {
    MeshEntity* m = Make(ArmWithClips());
    DeclareAnimation(m, 7);
    m->SetRootAnimProgress(0.4f);
    m->MPPropSetAnim(7, {0.5f, 1, 1});
    m->OnReplicatedAnim(7);
    const AnimationChannelList& root = m->GetAnimationController()->Channel(0);
    ASSERT_EQ(root.Count(), 1u);
    const AnimationParams& p = root[0].Get()->params;
    EXPECT_EQ(p.AnimIndex, 1);
    EXPECT_EQ(p.Flags, uint32_t(ANIMFLAG_SMOOTHGAMEPLAYTIME | ANIMFLAG_LOOP));
    EXPECT_EQ(p.AttackTime, 0.5f);
    EXPECT_EQ(p.AutoFinishTime, 0.2f);
    EXPECT_EQ(p.SpeedMultiplier, 1.0f);
    EXPECT_EQ(p.OverrideProgress, 0.4f);
    // The same index again starts nothing; none (255) neither.
    m->OnReplicatedAnim(7);
    m->MPPropSetAnim(7, {0.5f, 255, 0});
    m->OnReplicatedAnim(7);
    EXPECT_EQ(root.Count(), 1u);
    // The progress property pins the first animation not stopping.
    m->MPPropSetFloat(8, 0.75f, 0);
    m->OnReplicatedAnimProgress(8);
    EXPECT_EQ(root[0].Get()->params.OverrideProgress, 0.75f);
    EXPECT_EQ(m->rootProgressOverride, 0.75f);
    m->MPPropSetAnim(7, {0.1f, 0, 0});
    m->OnReplicatedAnim(7);
    EXPECT_EQ(root.Count(), 2u);
    EXPECT_TRUE(root[0].Get()->IsStopping());
}

// The property tick hands a changed animation state to a proxy's mesh only. The
// authority's mesh, whose own clip the properties copy, keeps that clip: taking the copy
// back would restart it unpinned or pinned to a frame-old progress, so that what it
// replicates would hang on frame times.
TEST_F(MeshAnimationTest, OnlyAProxyTakesUpTheAnimationStateItsPropertiesReport) {
    MeshTemplate* arm = ArmWithClips();
    const auto make = [&](uint32_t role) {
        auto* m = dynamic_cast<MeshEntity*>(gEntityManager->CreateEntityFromTemplate(arm, nullptr, Matrix::IDENTITY, role, nullptr));
        EXPECT_NE(m, nullptr);
        if (m) DeclareAnimation(m, 3);
        return m;
    };
    MeshEntity* host = make(ENTITYCREATION_MULTIPLAYER_AUTHORITY);
    ASSERT_NE(host, nullptr);
    host->SetAnimationReplication(host, 3, 4);
    AnimationParams params;
    params.Flags = ANIMFLAG_LOOP;
    params.OverrideProgress = 0.6f;
    ASSERT_TRUE(host->StartAnimationByIndex("root", 1, &params));
    const AnimationChannelList& hostRoot = host->GetAnimationController()->Channel(0);
    for (int frame = 0; frame < 3; ++frame) {
        host->UpdateReplicatedAnimData();
        host->MPPropTick(0);
    }
    ASSERT_EQ(hostRoot.Count(), 1u) << "no clip started from the copy";
    EXPECT_EQ(hostRoot[0].Get()->params.Flags, uint32_t(ANIMFLAG_LOOP));
    EXPECT_EQ(hostRoot[0].Get()->params.OverrideProgress, 0.6f);
    EXPECT_EQ(host->MPPropGetAnim(3).index, 1);
    EXPECT_EQ(host->MPPropGetFloat(4), 153 / 255.0f);

    // A proxy that receives the same state starts the clip, pinned to the progress.
    MeshEntity* proxy = make(ENTITYCREATION_MULTIPLAYER_PROXY);
    ASSERT_NE(proxy, nullptr);
    proxy->MPPropSetAnim(3, host->MPPropGetAnim(3));
    proxy->MPPropSetFloat(4, host->MPPropGetFloat(4), 0);
    proxy->MPPropTick(0);
    const AnimationChannelList& proxyRoot = proxy->GetAnimationController()->Channel(0);
    ASSERT_EQ(proxyRoot.Count(), 1u);
    EXPECT_EQ(proxyRoot[0].Get()->params.AnimIndex, 1);
    EXPECT_EQ(proxyRoot[0].Get()->params.Flags, uint32_t(ANIMFLAG_SMOOTHGAMEPLAYTIME | ANIMFLAG_LOOP));
    EXPECT_EQ(proxyRoot[0].Get()->params.OverrideProgress, 153 / 255.0f);
}

TEST(EncodeMPAnimData, PacksIndexLoopAndTwoFractions) {
    struct Case {
        MPAnimValue value;
        float progress;
        uint8_t want[3];
    };
    const Case cases[] = {
        {{0.0f, 0, 0}, 0.0f, {0x00, 0, 0}},
        {{1.0f, 127, 1}, 1.0f, {0xFF, 255, 255}},
        {{0.2f, 5, 0}, 0.5f, {0x05, 51, 128}},
        {{2.0f, 200, 1}, -1.0f, {0xC8, 255, 0}},  // 200 keeps its low seven bits; fractions clamp
        {{NAN, 1, 0}, NAN, {0x01, 0, 0}},
    };
    for (const Case& c : cases) {
        uint8_t out[3] = {9, 9, 9};
        EncodeMPAnimData(out, c.value, c.progress);
        EXPECT_EQ(out[0], c.want[0]);
        EXPECT_EQ(out[1], c.want[1]);
        EXPECT_EQ(out[2], c.want[2]);
    }
}

// ---- Line of sight ----

struct LineOfSightTest : MeshFixture {
    // Replaces the template's collision geometry: float3 positions (with bone indices and
    // weights when blend is given), 16-bit triangles, preset 0 with one part per entry of
    // parts (first triangle, count, flags).
    void SetGeometry(MeshTemplate* t, const std::vector<Vector>& positions, const std::vector<uint16_t>& indices,
                     const std::vector<std::array<uint32_t, 3>>& parts, const std::vector<uint8_t>& blend = {}) {
        MeshTemplateRenderingData* d = t->GetRenderingData();
        ASSERT_NE(d, nullptr);
        const uint32_t stride = blend.empty() ? 12 : 20;
        d->mainMemoryFlags = blend.empty() ? 1 : 3;
        d->mainMemorySize = stride;
        d->vertexCount = uint32_t(positions.size());
        d->mainMemoryVertices.assign(positions.size() * stride, 0);
        for (size_t i = 0; i < positions.size(); ++i) {
            const float f[3] = {positions[i].x, positions[i].y, positions[i].z};
            std::memcpy(&d->mainMemoryVertices[i * stride], f, 12);
            if (!blend.empty()) std::memcpy(&d->mainMemoryVertices[i * stride + 12], &blend[i * 8], 8);
        }
        SetIndices(d, indices);
        d->presets.resize(1);
        d->presets[0].parts.resize(parts.size());
        for (size_t p = 0; p < parts.size(); ++p) {
            d->presets[0].parts[p].firstTriangle = parts[p][0];
            d->presets[0].parts[p].triangleCount = parts[p][1];
            d->presets[0].parts[p].flags = parts[p][2];
        }
    }
    static void SetIndices(MeshTemplateRenderingData* d, const std::vector<uint16_t>& indices) {
        EngineFree(d->indexCopy);
        d->indexCopy = static_cast<uint8_t*>(EngineAlloc(indices.size() * 2 + 16));
        std::memcpy(d->indexCopy, indices.data(), indices.size() * 2);
        d->indexCopySize = uint32_t(indices.size() * 2);
    }
    // One triangle in the plane z = 0 whose normal (b - a) x (c - a) points to -z (the
    // side a segment along +z meets first).
    MeshEntity* Plane(uint32_t rough = MESH_COLLISION_FACE, const Matrix& where = Matrix::IDENTITY) {
        MeshTemplate* t = Template();
        t->roughLosType = rough;
        SetGeometry(t, {Vector(-1, -1, 0, 1), Vector(-1, 1, 0, 1), Vector(1, -1, 0, 1)}, {0, 1, 2}, {{0, 1, 0}});
        return Make(t, where);
    }
    static bool Clear(Entity* e, const Vector& a, const Vector& b, uint32_t flags = 0, uint32_t mask = 0,
                      LOSResult* r = nullptr) {
        LOSResult scratch;
        return e->TestLineOfSight(a, b, flags, mask, 0.0f, r ? r : &scratch);
    }
};

TEST_F(LineOfSightTest, RandomSegmentsMatchTheReference) {
    std::mt19937 rng(39);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<Vector> positions;
    for (int i = 0; i < 60; ++i) positions.emplace_back(unit(rng), unit(rng), unit(rng), 1.0f);
    std::vector<uint16_t> indices;
    for (int i = 0; i < 40 * 3; ++i) indices.push_back(uint16_t(rng() % 60));
    MeshTemplate* t = Template();
    t->roughLosType = MESH_COLLISION_FACE;
    SetGeometry(t, positions, indices, {{0, 25, 0}, {25, 15, 0}});
    MeshEntity* e = Make(t);
    std::vector<std::pair<Vector, Vector>> rays;
    for (int i = 0; i < 300; ++i)
        rays.emplace_back(Vector(2 * unit(rng), 2 * unit(rng), 2 * unit(rng), 1),
                          Vector(2 * unit(rng), 2 * unit(rng), 2 * unit(rng), 1));
    for (uint32_t flags : {0u, uint32_t(LOSFLAG_FORCETWOSIDED), uint32_t(LOSFLAG_BINARY),
                           uint32_t(LOSFLAG_BINARY | LOSFLAG_FORCETWOSIDED)}) {
        std::ostringstream j;
        j.precision(9);
        j << "{\"twoSided\": " << ((flags & LOSFLAG_FORCETWOSIDED) ? "true" : "false")
          << ", \"binary\": " << ((flags & LOSFLAG_BINARY) ? "true" : "false") << ", \"vertices\": [";
        for (size_t i = 0; i < positions.size(); ++i)
            j << (i ? "," : "") << "[" << positions[i].x << "," << positions[i].y << "," << positions[i].z << "]";
        j << "], \"triangles\": [";
        for (size_t i = 0; i < indices.size(); i += 3)
            j << (i ? "," : "") << "[" << indices[i] << "," << indices[i + 1] << "," << indices[i + 2] << "]";
        j << "], \"rays\": [";
        for (size_t i = 0; i < rays.size(); ++i)
            j << (i ? "," : "") << "[" << rays[i].first.x << "," << rays[i].first.y << "," << rays[i].first.z << ","
              << rays[i].second.x << "," << rays[i].second.y << "," << rays[i].second.z << "]";
        j << "]}";
        std::istringstream out(shelltest::ShellOutput("echo '" + j.str() + "' | /usr/bin/python3 " PROJECT_SOURCE_ROOT
                                                      "/tests/scene/animation/los_reference.py"));
        int hits = 0, compared = 0;
        for (size_t i = 0; i < rays.size(); ++i) {
            std::string word;
            ASSERT_TRUE(out >> word) << "reference line " << i;
            if (word == "edge") continue;
            ++compared;
            LOSResult r;
            const bool clear = Clear(e, rays[i].first, rays[i].second, flags, 0, &r);
            if (word == "miss") {
                EXPECT_TRUE(clear) << "flags " << flags << " ray " << i;
                continue;
            }
            double tt, nx, ny, nz;
            out >> tt >> nx >> ny >> nz;
            ++hits;
            ASSERT_FALSE(clear) << "flags " << flags << " ray " << i;
            EXPECT_EQ(r.Result, uint32_t(LOSRESULT_ENTITY));
            EXPECT_EQ(r.Entity, e);
            const Vector want = rays[i].first * float(1 - tt) + rays[i].second * float(tt);
            EXPECT_NEAR(r.Point.x, want.x, 1e-4f) << "flags " << flags << " ray " << i;
            EXPECT_NEAR(r.Point.y, want.y, 1e-4f);
            EXPECT_NEAR(r.Point.z, want.z, 1e-4f);
            EXPECT_EQ(r.Point.w, 1.0f);
            EXPECT_NEAR(r.Normal.x, nx, 1e-4 * (1 + std::fabs(nx)));
            EXPECT_NEAR(r.Normal.y, ny, 1e-4 * (1 + std::fabs(ny)));
            EXPECT_NEAR(r.Normal.z, nz, 1e-4 * (1 + std::fabs(nz)));
        }
        EXPECT_GT(hits, 20) << flags;
        EXPECT_GT(compared, 250) << flags;
    }
}

TEST_F(LineOfSightTest, SegmentEndsAndSides) {
    MeshEntity* e = Plane();
    struct Case {
        const char* label;
        Vector a, b;
        uint32_t flags;
        bool clear;
    };
    const Case cases[] = {
        {"ends on the triangle (t = 1)", Vector(-0.5f, -0.5f, -1, 1), Vector(-0.5f, -0.5f, 0, 1), 0, false},
        {"starts past it (t < 0)", Vector(-0.5f, -0.5f, 0.5f, 1), Vector(-0.5f, -0.5f, 2, 1), 0, true},
        {"stops short of it", Vector(-0.5f, -0.5f, -2, 1), Vector(-0.5f, -0.5f, -0.1f, 1), 0, true},
        {"crosses the front", Vector(-0.5f, -0.5f, -1, 1), Vector(-0.5f, -0.5f, 1, 1), 0, false},
        {"crosses the back", Vector(-0.5f, -0.5f, 1, 1), Vector(-0.5f, -0.5f, -1, 1), 0, true},
        {"crosses the back, two-sided", Vector(-0.5f, -0.5f, 1, 1), Vector(-0.5f, -0.5f, -1, 1),
         LOSFLAG_FORCETWOSIDED, false},
        {"passes beside it", Vector(0.5f, 0.5f, -1, 1), Vector(0.5f, 0.5f, 1, 1), LOSFLAG_FORCETWOSIDED, true},
    };
    for (const Case& c : cases) EXPECT_EQ(Clear(e, c.a, c.b, c.flags), c.clear) << c.label;
}

TEST_F(LineOfSightTest, FlagsPickTheCollisionTypeAndTheMode) {
    // The triangle covers only part of the collision box (the unit cube): a segment through
    // the box beside the triangle blocks in box mode and passes in faces mode.
    const Vector boxA(0.9f, 0.9f, -2, 1), boxB(0.9f, 0.9f, 2, 1);
    const Vector faceA(-0.5f, -0.5f, -2, 1), faceB(-0.5f, -0.5f, 2, 1);
    enum Want { kClear, kBox, kFaces };
    struct Case {
        uint32_t player, rough, exact, flags;
        Want want;
    };
    const uint32_t N = MESH_COLLISION_NONE, B = MESH_COLLISION_BOX, F = MESH_COLLISION_FACE;
    const Case cases[] = {
        {N, N, F, 0, kClear},
        {N, B, N, 0, kBox},
        {N, F, N, 0, kFaces},
        {N, N, N, LOSFLAG_EXACT, kClear},
        {N, N, B, LOSFLAG_EXACT, kBox},
        {N, N, F, LOSFLAG_EXACT, kFaces},
        {N, F, F, LOSFLAG_QUERYWALKMAP, kClear},
        {B, N, N, LOSFLAG_QUERYWALKMAP, kBox},
        {F, N, N, LOSFLAG_QUERYWALKMAP, kFaces},
        // Kept as it has always behaved: exact with the walk map keeps faces for "Box".
        {B, N, N, LOSFLAG_QUERYWALKMAP | LOSFLAG_EXACT, kFaces},
        {N, F, F, LOSFLAG_QUERYWALKMAP | LOSFLAG_EXACT, kClear},
    };
    MeshEntity* e = Plane();
    MeshTemplate* t = e->GetMeshTemplate();
    for (const Case& c : cases) {
        t->playerCollisionType = c.player;
        t->roughLosType = c.rough;
        t->exactLosType = c.exact;
        const bool box = !Clear(e, boxA, boxB, c.flags);
        const bool face = !Clear(e, faceA, faceB, c.flags);
        const Want got = box ? kBox : face ? kFaces : kClear;
        EXPECT_EQ(got, c.want) << "types " << c.player << c.rough << c.exact << " flags " << c.flags;
    }
}

TEST_F(LineOfSightTest, MasksDisabledLineOfSightAndCollisionDisabledParts) {
    MeshTemplate* t = Template();
    t->roughLosType = MESH_COLLISION_FACE;
    // The first mesh part (z = 0) is collision-disabled, the second (z = 1) is not.
    SetGeometry(t,
                {Vector(-1, -1, 0, 1), Vector(-1, 1, 0, 1), Vector(1, -1, 0, 1), Vector(-1, -1, 1, 1),
                 Vector(-1, 1, 1, 1), Vector(1, -1, 1, 1)},
                {0, 1, 2, 3, 4, 5}, {{0, 1, 0x80}, {1, 1, 0}});
    MeshEntity* e = Make(t);
    const Vector a(-0.5f, -0.5f, -1, 1), b(-0.5f, -0.5f, 2, 1);
    struct Case {
        uint32_t losMask, queryMask, flags;
        bool disabled;
        float wantZ;  // NAN: clear
    };
    const Case cases[] = {
        {0, 0xFF, 0, false, 0.0f},
        {4, 3, 0, false, 0.0f},
        {4, 6, 0, false, NAN},
        {0, 0, 0, true, NAN},
        {0, 0, LOSFLAG_ALLOWCOLLISIONDISABLE, false, 1.0f},
        {0, 0, LOSFLAG_QUERYWALKMAP, false, NAN},  // the player type is "None"
    };
    for (const Case& c : cases) {
        t->losMask = c.losMask;
        if (c.disabled) e->RaiseFlag(ENTITYFLAG_DISABLE_LOS, false);
        else e->ClearFlag(ENTITYFLAG_DISABLE_LOS, false);
        LOSResult r;
        const bool clear = Clear(e, a, b, c.flags, c.queryMask, &r);
        EXPECT_EQ(clear, std::isnan(c.wantZ)) << c.losMask << " " << c.queryMask << " " << c.flags;
        if (!clear) {
            EXPECT_NEAR(r.Point.z, c.wantZ, 1e-5f);
        }
    }
    t->playerCollisionType = MESH_COLLISION_FACE;
    LOSResult r;
    ASSERT_FALSE(Clear(e, a, b, LOSFLAG_QUERYWALKMAP, 0, &r));
    EXPECT_NEAR(r.Point.z, 1.0f, 1e-5f);
}

TEST_F(LineOfSightTest, PackedPositionsHitWhereTheirFloatsDo) {
    MeshEntity* e = Plane();
    MeshTemplateRenderingData* d = e->GetMeshTemplate()->GetRenderingData();
    d->box = BoundingBox4(Vector(-2, -2, -2, 0), Vector(2, 2, 2, 0));
    // x = -1 and 1 are u = 0.25 and 0.75 of the box, v = -0.5 and 0.5; z = 0 is v = 0.
    const int16_t packed[3][4] = {{-16384, -16384, 0, 0}, {-16384, 16383, 0, 0}, {16383, -16384, 0, 0}};
    d->mainMemoryFlags = 4;
    d->mainMemorySize = 8;
    d->mainMemoryVertices.assign(24, 0);
    std::memcpy(d->mainMemoryVertices.data(), packed, 24);
    LOSResult r;
    ASSERT_FALSE(Clear(e, Vector(-0.9f, 0.8f, -1, 1), Vector(-0.9f, 0.8f, 1, 1), 0, 0, &r));
    EXPECT_NEAR(r.Point.z, 0.0f, 1e-3f);
    EXPECT_TRUE(Clear(e, Vector(0.5f, 0.5f, -1, 1), Vector(0.5f, 0.5f, 1, 1)));
    // Both position kinds at once test nothing.
    d->mainMemoryFlags = 5;
    EXPECT_TRUE(Clear(e, Vector(-0.9f, 0.8f, -1, 1), Vector(-0.9f, 0.8f, 1, 1)));
}

TEST_F(LineOfSightTest, BoxModeReportsTheWorldPointAndTheSegmentDirection) {
    // The unit cube scaled 2, turned 90 degrees about y and moved to x = 10: its faces lie at
    // x = 8 and 12 in the world.
    Matrix scale, turn, move, where;
    scale.LoadScale(2, 2, 2);
    turn.LoadYRotation(90);
    move.LoadTranslation(10, 0, 0);
    where.Mul(turn, scale);
    where.Mul(move, where);
    MeshEntity* e = Plane(MESH_COLLISION_BOX, where);
    LOSResult r;
    ASSERT_FALSE(Clear(e, Vector(20, 0.5f, 0.5f, 1), Vector(0, 0.5f, 0.5f, 1), 0, 0, &r));
    EXPECT_NEAR(r.Point.x, 12.0f, 1e-4f);
    EXPECT_NEAR(r.Point.y, 0.5f, 1e-4f);
    EXPECT_NEAR(r.Point.z, 0.5f, 1e-4f);
    EXPECT_EQ(r.Normal, Vector(-20, 0, 0, 0));
    EXPECT_TRUE(Clear(e, Vector(20, 3, 0, 1), Vector(0, 3, 0, 1)));
}

TEST_F(LineOfSightTest, SkinnedVerticesFollowThePoseOncePerScratchGeneration) {
    if (gScratchAllocator.Size() == 0) gScratchAllocator.Init(1 << 20);
    // Two bones: "upper" at the origin and "fore" 1 up. The triangle (in the plane x = 0,
    // y from 1 to 2) rides on "fore"; turning "fore" 90 degrees about z lays it along -x.
    MeshTemplate* t = Template(ChainHierarchy({"upper", "fore"}, {-1, 0}, {0, 1},
                                              "[{'name': 'root', 'first': 0, 'count': 2, 'parent': 4294967295, "
                                              "'child': 4294967295, 'sibling': 4294967295},"
                                              "{'name': 'forearm', 'first': 1, 'count': 1, 'parent': 0, "
                                              "'child': 4294967295, 'sibling': 4294967295}]"));
    t->roughLosType = MESH_COLLISION_FACE;
    const std::vector<uint8_t> onFore = {1, 0, 0, 0, 255, 0, 0, 0};
    std::vector<uint8_t> blend;
    for (int i = 0; i < 3; ++i) blend.insert(blend.end(), onFore.begin(), onFore.end());
    SetGeometry(t, {Vector(0, 1, -1, 1), Vector(0, 2, -1, 1), Vector(0, 1, 1, 1)}, {0, 1, 2}, {{0, 1, 0}}, blend);
    MeshEntity* e = Make(t);
    ASSERT_NE(e->GetAnimationController(), nullptr);
    const Vector upA(-1, 1.2f, -0.5f, 1), upB(1, 1.2f, -0.5f, 1);      // through the straight forearm
    const Vector sideA(-0.2f, 2, -0.5f, 1), sideB(-0.2f, 0, -0.5f, 1);  // through the bent one
    EXPECT_FALSE(Clear(e, upA, upB, LOSFLAG_FORCETWOSIDED));
    EXPECT_TRUE(Clear(e, sideA, sideB, LOSFLAG_FORCETWOSIDED));
    const float* cached = e->GetAnimationController()->skinnedVertices;
    EXPECT_NE(cached, nullptr);

    // Bend the forearm through its node matrix.
    MeshHierarchy* h = t->GetHierarchy();
    Matrix turn;
    turn.LoadZRotation(90);
    Matrix fore = turn;
    fore.r[3] = Vector(0, 1, 0, 1);
    animtest::SetMatrix(*h, 1, fore);
    e->GetAnimationController()->ClearEvaluationStamp();
    e->Animate();
    // Same scratch generation: the old skinned positions still answer.
    EXPECT_FALSE(Clear(e, upA, upB, LOSFLAG_FORCETWOSIDED));
    EXPECT_EQ(e->GetAnimationController()->skinnedVertices, cached);
    gScratchAllocator.NextFrame();
    EXPECT_TRUE(Clear(e, upA, upB, LOSFLAG_FORCETWOSIDED));
    EXPECT_FALSE(Clear(e, sideA, sideB, LOSFLAG_FORCETWOSIDED));
}

}  // namespace
