// A scene of 200 animated mesh entities, each cross-fading two clips with a child mounted on
// its hand, stepped for 1,000 ticks through the engine's mesh-animation entry while the
// render thread runs: every proxy ends with its entity's palette and every child sits on
// its hand.
// test-sanitize: thread address
// test-timeout: 600
#include <cmath>
#include <cstring>
#include <string>

#include "AnimationTestSupport.h"
#include "MeshEntityFixture.h"
#include "scene/animation/MeshAnimationController.h"

using namespace animtest;

namespace {

struct AnimatedSceneTest : MeshFixture {};

TEST_F(AnimatedSceneTest, PalettesReachTheProxiesAndChildrenFollowTheirHands) {
    const char* clips[] = {
        R"({"length": 1.0, "tracks": [{"name": "fore", "rotation": [[0,0,0,0],[0.5,0,0,0.7071],[1,0,0,0]]}]})",
        R"({"length": 1.0, "tracks": [{"name": "upper", "rotation": [[0,0,0,0],[0.5,0.7071,0,0],[1,0,0,0]]},)"
        R"( {"name": "hand", "translation": [[0,0,0,0],[1,0,0.5,0]]}]})"};
    const char* files[] = {"idle", "walk"};
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(shelltest::Shell(std::string("echo '") + clips[i] + "' | python3 " PROJECT_SOURCE_ROOT
                                     "/tests/support/anim_file.py write " + Path("animations", std::string(files[i]) + ".bin")));
    MeshTemplate* arm = Template(ChainHierarchy({"upper", "fore", "hand"}, {-1, 0, 1}, {0, 1, 1},
                                                "[{'name': 'root', 'first': 0, 'count': 3, 'parent': 4294967295, "
                                                "'child': 4294967295, 'sibling': 4294967295}]"),
                                 "arm");
    arm->animations.Resize(2);
    for (uint32_t i = 0; i < 2; ++i) {
        arm->animations[i].name = i ? "Walk" : "Idle";
        arm->animations[i].fileName = files[i];
        arm->animations[i].time = 1.0f;
    }
    arm->LoadAnimations();
    MeshTemplate* gunTemplate = Template("", "gun");
    GameTimer clock;
    std::vector<MeshEntity*> meshes;
    std::vector<Entity*> guns;
    for (int i = 0; i < 200; ++i) {
        Matrix where;
        where.LoadTranslation(float(i % 20) * 3 - 30, 0, float(i / 20) * 3 - 15);
        MeshEntity* m = Make(arm, where);
        ASSERT_NE(m->GetAnimationController(), nullptr);
        Entity* gun = Make(gunTemplate);
        gun->SetParent(m);
        ASSERT_TRUE(m->MountEntity("hand", gun));
        meshes.push_back(m);
        guns.push_back(gun);
    }
    for (int tick = 0; tick < 1000; ++tick) {
        clock.Tick(1.0f / 30);
        SetLogFrameNumbers(tick + 1, tick + 1);
        if (tick % 50 == 0) {
            // Cross-fade to the other clip on every entity (staggered starts).
            AnimationParams p;
            p.Flags = ANIMFLAG_LOOP;
            p.AttackTime = 0.5f;
            for (size_t i = 0; i < meshes.size(); ++i) {
                p.StartTimeOffset = 0.003f * float(i);
                ASSERT_TRUE(meshes[i]->StartAnimation("root", (tick / 50) % 2 ? "Walk" : "Idle", &p));
                const AnimationChannelList& channel = meshes[i]->GetAnimationController()->Channel(0);
                for (uint32_t a = 0; a < channel.Count(); ++a)
                    if (channel[a].Get()) channel[a].Get()->SetCustomClock(&clock);
            }
        }
        for (MeshEntity* m : meshes) m->Animate(0);
        if (tick % 100 == 0) gVornexRenderer.FlushCommands(false);
    }
    gVornexRenderer.FlushCommands(true);
    SetLogFrameNumbers(0, 0);
    static const float kIdentityRows[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    int posed = 0;
    for (size_t i = 0; i < meshes.size(); ++i) {
        MeshAnimationController* c = meshes[i]->GetAnimationController();
        // Finished fades leave at most the clip fading in and the one fading out.
        EXPECT_LE(c->Channel(0).Count(), 2u) << i;
        auto* context = static_cast<MeshEntityRenderingContext*>(meshes[i]->GetRenderingContext());
        ASSERT_NE(context, nullptr);
        ASSERT_EQ(context->Bones().size(), 36u) << i;
        EXPECT_EQ(std::memcmp(context->Bones().data(), c->Palette(), 36 * 4), 0) << i;
        posed += std::memcmp(c->Palette() + 12, kIdentityRows, 48) != 0;
        Vector hand;
        c->ClearEvaluationStamp();
        meshes[i]->GetGlobalHierarchyPositionVector(2, hand);
        const Vector gun = guns[i]->GetGlobalPosition();
        EXPECT_NEAR(gun.x, hand.x, 1e-4f) << i;
        EXPECT_NEAR(gun.y, hand.y, 1e-4f) << i;
        EXPECT_NEAR(gun.z, hand.z, 1e-4f) << i;
    }
    EXPECT_GT(posed, 150);
}

}  // namespace
