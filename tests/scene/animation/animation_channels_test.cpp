// The channel rules of MeshAnimationController: cross-fades, ANIMFLAG_KEEPOTHERS, the
// restart of ANIMFLAG_IGNORESAME (parameters replaced, revival of a looping stopping
// animation, a non-looping one left alone, the others stopped with the scaled fade),
// stops by Id and the time flags. Time comes from a GameTimer given as each animation's
// custom clock.
// test-sanitize: address
#include <gtest/gtest.h>

#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshData.h"

namespace {

struct ChannelsTest : testing::Test {
    void SetUp() override {
        for (const char* name : {"root", "spine", "arm"}) hierarchy.nodes.push_back({NameString(name), 255, 255});
        hierarchy.treeNodes.push_back({NameString("root"), 0, 3});
        hierarchy.treeNodes.push_back({NameString("upper"), 1, 2});
        controller = std::make_unique<MeshAnimationController>(hierarchy);
    }
    // An animation without a clip, as the start by index would make it.
    XSIAnimation* Add(int32_t id, uint32_t flags = 0, float attack = 0.2f, uint32_t channel = 0) {
        AnimationParams p;
        p.Id = id;
        p.Flags = flags;
        p.AttackTime = attack;
        auto* a = new XSIAnimation(1, nullptr, p, 1.0f);
        a->SetCustomClock(&clock);
        controller->AddAnimation(channel, a);
        return a;
    }
    float Weight(BaseAnimation* a) {
        a->weight.Update(clock.Time());
        return a->weight.current;
    }
    MeshHierarchy hierarchy;
    std::unique_ptr<MeshAnimationController> controller;
    GameTimer clock;
};

TEST_F(ChannelsTest, AStartCrossFadesFromTheOthersUnlessItKeepsThem) {
    XSIAnimation* a = Add(1, 0, 0.5f);
    EXPECT_EQ(a->state, uint32_t(ANIMSTATE_PLAYING));
    EXPECT_EQ(Weight(a), 0.0f);
    clock.Tick(0.5f);
    EXPECT_EQ(Weight(a), 1.0f);
    controller->evaluationFrame = 7;
    XSIAnimation* b = Add(2, 0, 0.4f);
    EXPECT_EQ(controller->evaluationFrame, 0u);
    EXPECT_TRUE(a->IsStopping());
    clock.Tick(0.1f);
    EXPECT_NEAR(Weight(a), 0.75f, 1e-5f);
    EXPECT_NEAR(Weight(b), 0.25f, 1e-5f);
    // Kept: nothing else stops.
    XSIAnimation* c = Add(3, ANIMFLAG_KEEPOTHERS);
    EXPECT_FALSE(b->IsStopping() || c->IsStopping());
    EXPECT_EQ(controller->Channel(0).Count(), 3u);
    EXPECT_EQ(controller->Channel(1).Count(), 0u);
}

TEST_F(ChannelsTest, RestartingTheSameIdReplacesRevivesOrLeavesAloneAndStopsTheOthers) {
    XSIAnimation* looping = Add(1, ANIMFLAG_LOOP, 1.0f);
    clock.Tick(1.0f);
    controller->StopAnimations(0, 1, 1.0f);
    clock.Tick(0.25f);  // weight 0.75 and falling
    XSIAnimation* other = Add(2, ANIMFLAG_KEEPOTHERS, 0.5f);
    clock.Tick(0.25f);  // other at weight 0.5, looping at 0.5
    AnimationParams p;
    p.Id = 1;
    p.AttackTime = 2.0f;
    p.SpeedMultiplier = 3.0f;
    EXPECT_TRUE(controller->RestartSame(0, p));
    EXPECT_FALSE(looping->IsStopping());
    EXPECT_EQ(looping->params.SpeedMultiplier, 3.0f);
    EXPECT_EQ(looping->params.Flags, 0u);  // the new words, loop bit included
    // Revived over (1 - 0.5) x 2 s; the other stopped over (1 - 0.5) x 2 s.
    EXPECT_TRUE(other->IsStopping());
    clock.Tick(0.5f);
    EXPECT_NEAR(Weight(looping), 0.75f, 1e-5f);
    EXPECT_NEAR(Weight(other), 0.25f, 1e-5f);

    // A stopping animation that does not loop is left alone and not found.
    XSIAnimation* once = Add(5, 0, 0.1f);
    controller->StopAnimations(0, 5, 1.0f);
    p.Id = 5;
    p.SpeedMultiplier = 9.0f;
    EXPECT_FALSE(controller->RestartSame(0, p));
    EXPECT_TRUE(once->IsStopping());
    EXPECT_EQ(once->params.SpeedMultiplier, 1.0f);
    // No animation of the Id: not found, nothing stopped.
    p.Id = 42;
    EXPECT_FALSE(controller->RestartSame(1, p));
}

TEST_F(ChannelsTest, StopsSettersAndTimeFlagsActOnTheIdOrAll) {
    XSIAnimation* a = Add(1, ANIMFLAG_LOOP | ANIMFLAG_AUTOFINISH | ANIMFLAG_GAMEPLAYTIME);
    XSIAnimation* b = Add(2, ANIMFLAG_KEEPOTHERS);
    controller->SetTimeFlags(0, 1, ANIMFLAG_SYSTEMTIME | ANIMFLAG_IGNORESAME);
    EXPECT_EQ(a->params.Flags, uint32_t(ANIMFLAG_LOOP | ANIMFLAG_AUTOFINISH | ANIMFLAG_SYSTEMTIME));
    EXPECT_EQ(b->params.Flags, uint32_t(ANIMFLAG_KEEPOTHERS));
    controller->SetSpeedMultiplier(0, -1, 0.5f);
    controller->SetProgress(0, 2, 0.25f);
    EXPECT_EQ(a->params.SpeedMultiplier, 0.5f);
    EXPECT_EQ(b->params.SpeedMultiplier, 0.5f);
    EXPECT_EQ(a->params.OverrideProgress, -1.0f);
    EXPECT_EQ(b->params.OverrideProgress, 0.25f);
    // A fade not above 0 sets the weight to 0 at once; a second stop changes nothing.
    clock.Tick(1.0f);
    controller->StopAnimations(0, 2, 0.0f);
    EXPECT_EQ(b->weight.current, 0.0f);
    controller->StopAnimations(0, -1, 5.0f);
    EXPECT_TRUE(a->IsStopping());
    EXPECT_EQ(b->weight.current, 0.0f);
    EXPECT_FALSE(b->weight.active);
    // Channels past the tree-node count are ignored; an animation added there is deleted.
    controller->StopAnimations(9, -1, 0.0f);
    Add(3, 0, 0.2f, 9);
    EXPECT_EQ(controller->Channel(0).Count(), 2u);
}

}  // namespace
