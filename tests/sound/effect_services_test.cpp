// test-sanitize: address
// The scene's effect sound entries as the sound library fills them: an emitter made at a
// matrix and moved, a sound entry played on it with the entry's own volume handed back,
// volume and loop calls addressed to the one instance with the emitter as owner, an
// unknown entry giving 0, and the emitter's release (LeakSanitizer sees one never freed).
#include <gtest/gtest.h>

#include "SoundTestSupport.h"
#include "scene/SceneServices.h"
#include "sound/SoundEntries.h"
#include "sound/SoundServices.h"

using namespace soundtest;

namespace {

struct EffectSounds : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        FillSoundServices();
        ASSERT_TRUE(MakeTone(Sound("hum.wav"), "-r 48000 -c 1 -b 16", 1.0));
        SoundEntryParams hum;
        hum.AddSound("hum.wav");
        hum.volume = 0.5f;
        hum.loop = true;
        ASSERT_TRUE(entries.AddSoundEntry("Hum", hum));
        entries.EnableSoundsPlay(true);
        previous = gSoundEntriesContainer;
        gSoundEntriesContainer = &entries;
    }
    void TearDown() override {
        gSoundEntriesContainer = previous;
        InlineEngineFixture::TearDown();
    }
    SoundEntriesContainer entries;
    SoundEntriesContainer* previous = nullptr;
};

TEST_F(EffectSounds, EmitterPlayVolumeLoopAndRelease) {
    StartEngine();
    const SceneServices& s = gSceneServices;
    ASSERT_TRUE(s.soundEmitterCreate && s.soundEmitterPostTransform && s.soundEmitterRelease && s.soundEntryPlay &&
                s.soundEntryPreload && s.soundSetVolume && s.soundExitLoop);
    void* emitter = s.soundEmitterCreate(At(1, 2, 3));
    ASSERT_NE(emitter, nullptr);
    float entryVolume = 0.0f;
    EXPECT_EQ(s.soundEntryPlay("Missing", emitter, 0, 1.0f, &entryVolume), 0u);
    EXPECT_EQ(entryVolume, 1.0f);
    const unsigned id = s.soundEntryPlay("Hum", emitter, 0, 1.0f, &entryVolume);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(entryVolume, 0.5f);
    ASSERT_TRUE(RunUntilVoiced());
    const SoundInstanceBase* i = SoundInstanceBase::First();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->OwnerTransform().r[3].x, 1.0f);
    s.soundEmitterPostTransform(emitter, At(4, 5, 6));
    Step();
    EXPECT_EQ(i->OwnerTransform().r[3].x, 4.0f);
    // Another owner's calls leave the instance alone; its own fade it out.
    int other = 0;
    s.soundSetVolume(id, 0.0f, 0.0f, 0, &other);
    s.soundExitLoop(id, &other);
    Step();
    ASSERT_NE(SoundInstanceBase::First(), nullptr);
    EXPECT_FALSE(SoundInstanceBase::First()->StateFlags() & SOUNDINSTANCE_STOPPING);
    s.soundSetVolume(id, 0.0f, 0.3f, 0, emitter);
    s.soundExitLoop(id, emitter);
    int steps = 0;
    while (SoundInstanceBase::First() && steps < 100) {
        Step();
        ++steps;
    }
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    s.soundEntryPreload("Hum");
    s.soundEmitterRelease(emitter);
    Step();
}

}  // namespace
