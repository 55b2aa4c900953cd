// AnimationSoundSyncObject with a recording gSceneServices.playSound: the event at 0 once
// (also while the position stays at 0), events passed since the last update, the wrap,
// backwards play, system sounds for a range not above 0, and the firing through an
// XSIAnimation's evaluation with its weight as the volume.
// test-sanitize: address
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/entity/EntityTestSupport.h"
#include "scene/SceneServices.h"
#include "scene/animation/AnimationSoundSyncObject.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshData.h"

namespace {

struct Played {
    Entity* owner;
    std::string name;
    float volume, full, zero;
    int channel;
};
std::vector<Played> gPlayed;

unsigned Record(Entity* owner, const char* name, float volume, float full, float zero, int channel) {
    gPlayed.push_back({owner, name, volume, full, zero, channel});
    return unsigned(gPlayed.size());
}

struct SoundSyncTest : EntityTest {
    void SetUp() override {
        EntityTest::SetUp();
        gPlayed.clear();
        saved = gSceneServices.playSound;
        gSceneServices.playSound = &Record;
        owner = Make();
        sync.SetOwner(owner);
        sync.AddSoundEvent(0.0f, "start", 10, 20, 3);
        sync.AddSoundEvent(0.5f, "middle", 0, 5, 1);
        sync.AddSoundEvent(0.8f, "late", 2, 8, 0);
    }
    void TearDown() override {
        gSceneServices.playSound = saved;
        EntityTest::TearDown();
    }
    std::string Names() {
        std::string out;
        for (const Played& p : gPlayed) out += p.name + " ";
        gPlayed.clear();
        return out;
    }
    decltype(gSceneServices.playSound) saved = nullptr;
    Entity* owner = nullptr;
    AnimationSoundSyncObject sync;
};

TEST_F(SoundSyncTest, EventsFireOncePerPassAndOnlyForwards) {
    struct Step {
        float progress;
        bool forward;
        const char* want;
    };
    const Step steps[] = {
        {0.0f, true, "start "},     // the first update fires the event at 0
        {0.0f, true, ""},           // paused at 0: not again
        {0.5f, true, "middle "},    // t = now fires
        {0.7f, true, ""},
        {0.9f, true, "late "},
        {0.2f, true, "start "},     // wrapped: up to the position only
        {0.6f, true, "middle "},
        {0.55f, false, ""},         // backwards: nothing
        {0.3f, false, ""},
        {0.95f, true, "middle late "},  // forwards again from where backwards play left it
        {1.5f, true, ""},           // clamped to 1
    };
    int i = 0;
    for (const Step& s : steps) {
        sync.Update(s.progress, 0.7f, s.forward);
        EXPECT_EQ(Names(), s.want) << "step " << i++;
    }
}

TEST_F(SoundSyncTest, RangeNotAboveZeroPlaysASystemSoundWithTheEventsSettings) {
    sync.Update(0.9f, 0.25f, true);
    ASSERT_EQ(gPlayed.size(), 3u);
    const Played& p = gPlayed[0];
    EXPECT_EQ(std::make_tuple(p.owner, p.volume, p.full, p.zero, p.channel), std::make_tuple(owner, 0.25f, 10.0f, 20.0f, 3));
    EXPECT_EQ(gPlayed[1].owner, nullptr);  // "middle", range 0: a system sound
    EXPECT_EQ(gPlayed[2].owner, owner);
    // Without an owner nothing plays.
    gPlayed.clear();
    owner->Destroy();
    sync.Update(0.1f, 1.0f, true);
    EXPECT_TRUE(gPlayed.empty());
}

TEST_F(SoundSyncTest, AnAnimationDrivesItWithItsProgressAndWeight) {
    GameTimer clock;
    AnimationParams p;
    p.Flags = ANIMFLAG_LOOP;
    p.SyncObject = &sync;
    XSIAnimation a(1, nullptr, p, 2.0f);
    a.SetCustomClock(&clock);
    a.weight.current = 0.5f;
    AnimationPoseWorkspace* w = new AnimationPoseWorkspace();
    MeshHierarchy h;
    a.Evaluate(*w, h);
    EXPECT_EQ(Names(), "start ");
    clock.Tick(1.2f);  // progress 0.6
    a.Evaluate(*w, h);
    ASSERT_EQ(gPlayed.size(), 1u);
    EXPECT_EQ(gPlayed[0].volume, 0.5f);
    EXPECT_EQ(Names(), "middle ");
    a.params.SpeedMultiplier = -1.0f;  // backwards
    clock.Tick(0.2f);
    a.Evaluate(*w, h);
    EXPECT_EQ(Names(), "");
    delete w;
}

}  // namespace
