// The animation half of MeshEntity: the controller's life with the template (flag 0x8),
// calls without one, the palette posted to the rendering context, mounting children with
// the entity's own refusals, the re-mount and the unmount on removal, node queries, and
// the replication of the root animation through real property containers.
// test-sanitize: address
// test-timeout: 120
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "AnimationTestSupport.h"
#include "MeshEntityFixture.h"
#include "engine/entity/MPProperty.h"
#include "engine/services/EngineServices.h"
#include "scene/animation/MeshEntityAnimation.h"
#include "scene/animation/MeshAnimationController.h"
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
    EXPECT_TRUE(gun->GetFlags2() & ENTITYFLAG2_MOUNTED_TO_BONE);
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
    EXPECT_FALSE(gun->GetFlags2() & ENTITYFLAG2_MOUNTED_TO_BONE);
    EXPECT_EQ(m->GetAnimationController()->MountCount(), 0u);
}

// ReplicateAnimEnable reaches the mesh's own replication and the Game's finish list; a
// plain entity does nothing.
TEST_F(MeshAnimationTest, ReplicateAnimEnableReachesTheMeshOnly) {
    static std::vector<std::pair<Entity*, bool>> finishList;
    finishList.clear();
    InstallMeshAnimationHooks();
    gEngineServices.gameSetMeshFinishList = [](Entity* e, bool add) { finishList.push_back({e, add}); };
    MeshEntity* m = Make(Arm());
    DeclareAnimation(m, 3);
    static EntityTemplate plainTemplate;
    Entity* plain = gEntityManager->CreateEntityFromTemplate(&plainTemplate, nullptr, Matrix::IDENTITY, 0, nullptr);
    ASSERT_NE(plain, nullptr);
    plain->ReplicateAnimEnable(3, 4);
    EXPECT_TRUE(finishList.empty());
    m->ReplicateAnimEnable(3, 4);
    Play(m, 6, ANIMFLAG_LOOP);
    m->UpdateReplicatedAnimData();
    EXPECT_EQ(m->MPPropGetAnim(3).index, 6);
    m->ReplicateAnimDisable();
    ASSERT_EQ(finishList.size(), 2u);
    EXPECT_EQ(finishList[0], std::make_pair(static_cast<Entity*>(m), true));
    EXPECT_EQ(finishList[1], std::make_pair(static_cast<Entity*>(m), false));
    Play(m, 9);
    m->UpdateReplicatedAnimData();
    EXPECT_EQ(m->MPPropGetAnim(3).index, 6) << "disabled: copies nothing";
    gEngineServices.gameSetMeshFinishList = nullptr;
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
    for (const char* clip : {"idle", "walk"})
        ASSERT_TRUE(shelltest::Shell("echo '{\"length\": 1.0, \"tracks\": [{\"name\": \"fore\", \"rotation\": [[0,0,0,0]]}]}' | "
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
    MeshEntity* m = Make(arm);
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

}  // namespace
