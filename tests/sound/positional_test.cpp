// test-sanitize: address
// Positional sound on the manual output: the panner's matrix on the voices of owned
// instances (pan, natural roll-off, linear curve, the step rule, two-channel emitters,
// unpositioned sounds), Doppler, and the placeholders that stand in for endless sounds
// far from the listener. Expected levels are worked out by hand from the panner's
// documented formulas: constant-sum pan (1 -+ p) / 2 with p the offset's share along
// the listener's right, times the distance gain, doubled and capped at 1.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "SoundTestSupport.h"
#include "sound/EntitySoundEmitter.h"

using namespace soundtest;

namespace {

struct Positional : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        ASSERT_TRUE(MakeTone(Sound("mono.wav"), "-r 48000 -c 1 -b 16", 1.0));
        ASSERT_TRUE(MakeTone(Sound("stereo.wav"), "-r 48000 -c 2 -b 16", 1.0));
        StartEngine();
    }
    void TearDown() override {
        for (EntitySoundEmitter* e : emitters) e->PostRelease();
        InlineEngineFixture::TearDown();
    }
    EntitySoundEmitter* Emitter(float x, float y, float z) {
        emitters.push_back(new EntitySoundEmitter(At(x, y, z)));
        return emitters.back();
    }
    void Release(EntitySoundEmitter* e) {
        std::erase(emitters, e);
        e->PostRelease();
    }
    static SoundParamWrapper Block(float full, float zero, uint32_t loops = 0, uint32_t flags = 0) {
        SoundParamWrapper p = Params(flags, loops);
        p.FullVolumeRange = full;
        p.ZeroVolumeRange = zero;
        return p;
    }
    void Listen(float x, float y, float z) {
        engine->SetListener(At(x, y, z));
        Step();
    }
    void Clear() {
        engine->StopSound(kSoundAllInstances, 0.0f);
        Step();
        ASSERT_EQ(SoundInstanceBase::First(), nullptr);
    }
    std::vector<EntitySoundEmitter*> emitters;
};

TEST_F(Positional, TheOutputMatrixFollowsPanAndDistance) {
    struct Row {
        const char* what;
        const char* file;
        float x, y, z;
        float full, zero;
        std::vector<float> matrix;  // [out * channels + channel]
    };
    const Row rows[] = {
        {"hard right, natural roll-off 3 at 10", "mono.wav", 10, 0, 0, 3, 0, {0.0f, 0.6f}},
        {"centred ahead at 5", "mono.wav", 0, 0, 5, 3, 0, {0.6f, 0.6f}},
        {"45 degrees right", "mono.wav", 5, 0, 5, 3, 0, {0.1242641f, 0.7242641f}},
        {"within the full range", "mono.wav", 0, 0, 2, 3, 0, {1.0f, 1.0f}},
        {"linear curve 10-20 at 15", "mono.wav", 0, 0, 15, 10, 20, {0.5f, 0.5f}},
        {"step: zero range 5 below full 10, at 4", "mono.wav", 0, 0, 4, 10, 5, {1.0f, 1.0f}},
        {"step: beyond 5", "mono.wav", 0, 0, 6, 10, 5, {0.0f, 0.0f}},
        {"stereo apart by 10 at 10 ahead", "stereo.wav", 0, 0, 10, 3, 0, {0.5121320f, 0.0878680f, 0.0878680f, 0.5121320f}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EntitySoundEmitter* e = Emitter(row.x, row.y, row.z);
        // Important: the range rules stay out of the way.
        SoundParamWrapper p = Block(row.full, row.zero, 0, SOUNDSTARTFLAG_IMPORTANT);
        p.StereoSoundChannelDistance = 10.0f;
        ASSERT_NE(e->StartSound(row.file, &p), 0u);
        ASSERT_TRUE(RunUntilVoiced());
        Step();
        const std::vector<audio::VoiceDebugState> v = VoiceStates();
        ASSERT_EQ(v.size(), 1u);
        ASSERT_EQ(v[0].outputChannels, 2u);
        for (size_t i = 0; i < row.matrix.size(); ++i) EXPECT_NEAR(v[0].outputMatrix[i], row.matrix[i], 1e-4f) << i;
        Release(e);
        Clear();
    }
}

TEST_F(Positional, ASourceOnTheRightIsHeardOnTheRight) {
    EntitySoundEmitter* e = Emitter(2, 0, 1);
    const SoundParamWrapper p = Block(3, 0);
    ASSERT_NE(e->StartSound("mono.wav", &p), 0u);
    ASSERT_TRUE(RunUntilVoiced());
    captured.clear();
    for (int i = 0; i < 10; ++i) Step();
    double left = 0.0, right = 0.0;
    for (size_t i = 0; i + 1 < captured.size(); i += 2) {
        left += double(captured[i]) * captured[i];
        right += double(captured[i + 1]) * captured[i + 1];
    }
    ASSERT_GT(right, 0.0);
    // p = 2 / sqrt(5) within the full range: right min(1 + p, 1) = 1, left 1 - p.
    const double p5 = 2.0 / std::sqrt(5.0);
    EXPECT_NEAR(std::sqrt(left / right), 1.0 - p5, 0.01);
}

TEST_F(Positional, NoAttenuationPlaysUnpositioned) {
    const SoundParamWrapper plain = Block(3, 0);
    engine->PlaySystemSound("mono.wav", &plain);
    ASSERT_TRUE(RunUntilVoiced());
    const audio::VoiceDebugState system = VoiceStates()[0];
    Clear();

    EntitySoundEmitter* e = Emitter(50, 0, 0);
    const SoundParamWrapper p = Block(3, 0, 0, SOUNDSTARTFLAG_NOATTENUATION);
    ASSERT_NE(e->StartSound("mono.wav", &p), 0u);
    ASSERT_TRUE(RunUntilVoiced());
    Step();
    EXPECT_FALSE(SoundInstanceBase::First()->StateFlags() & SOUNDINSTANCE_POSITIONAL);
    const audio::VoiceDebugState owned = VoiceStates()[0];
    EXPECT_EQ(owned.outputMatrix[0], system.outputMatrix[0]);
    EXPECT_EQ(owned.outputMatrix[1], system.outputMatrix[1]);
}

// The ratio is the Doppler factor x the instance's ratio, clamped to the voice's 2.
TEST_F(Positional, DopplerRaisesAnApproachingSourceAndIsClamped) {
    struct Row {
        float velocityZ;  // the emitter sits at z = 10, the listener at the origin
        float pitch, ratio;
    };
    const Row rows[] = {
        {-34.35f, 1.0f, 343.5f / (343.5f - 34.35f)},         // approaching
        {34.35f, 1.0f, 343.5f / (343.5f + 34.35f)},          // receding
        {-1000.0f, 1.0f, 2.0f},                              // clamped to c / 2, factor 2
        {-34.35f, 0.5f, 0.5f * 343.5f / (343.5f - 34.35f)},  // times the instance's ratio
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.velocityZ);
        EntitySoundEmitter* e = Emitter(0, 0, 10);
        e->PostVelocity(Vector(0, 0, row.velocityZ, 0));
        SoundParamWrapper p = Block(3, 0, 0, SOUNDSTARTFLAG_IMPORTANT);
        p.DopplerFactor = 1.0f;
        p.FrequencyRatio = row.pitch;
        ASSERT_NE(e->StartSound("mono.wav", &p), 0u);
        ASSERT_TRUE(RunUntilVoiced());
        Step();
        EXPECT_NEAR(VoiceStates()[0].frequencyRatio, row.ratio, 1e-4f);
        EXPECT_NEAR(SoundInstanceBase::First()->DopplerFactor(), row.ratio / row.pitch, 1e-4f);
        Release(e);
        Clear();
    }
}

TEST_F(Positional, AnApproachingSourcePlaysHigher) {
    // Zero crossings of the capture: a 440 Hz tone approached at a tenth of the speed of
    // sound crosses zero 1/0.9 times as often.
    auto crossings = [&](float velocityZ) {
        EntitySoundEmitter* e = Emitter(1, 0, 0);
        e->PostVelocity(Vector(-velocityZ, 0, 0, 0));
        SoundParamWrapper p = Block(3, 0);
        p.DopplerFactor = 1.0f;
        EXPECT_NE(e->StartSound("mono.wav", &p), 0u);
        EXPECT_TRUE(RunUntilVoiced());
        Step();
        captured.clear();
        for (int i = 0; i < 10; ++i) Step();
        int n = 0;
        for (size_t i = 3; i < captured.size(); i += 2) n += (captured[i - 2] < 0) != (captured[i] < 0);
        Release(e);
        Clear();
        return n;
    };
    const int still = crossings(0.0f);
    const int approaching = crossings(34.35f);
    ASSERT_GT(still, 100);
    EXPECT_NEAR(double(approaching) / still, 1.0 / 0.9, 0.03);
}

TEST_F(Positional, EndlessSoundsGiveUpTheirVoiceFarAwayAndTakeItBack) {
    // FullVolumeRange 10, ZeroVolumeRange 15: the range is 20, a placeholder beyond 24,
    // voiced again within 22.
    EntitySoundEmitter* e = Emitter(0, 0, 0);
    const SoundParamWrapper p = Block(10, 15);
    const uint32_t id = e->StartSound("mono.wav", &p);
    ASSERT_TRUE(RunUntilVoiced());
    engine->SetVolume(id, 0.5f, 0.0f, 0, nullptr);
    Listen(0, 0, 23.9f);
    const SoundInstanceBase* voiced = SoundInstanceBase::First();
    ASSERT_FALSE(voiced->IsZombie());
    const uint32_t flags = voiced->StateFlags();
    const int64_t start = voiced->StartTime();

    struct Row {
        float z;
        bool placeholder;
    };
    const Row rows[] = {{24.1f, true}, {22.5f, true}, {23.9f, true}, {21.9f, false}, {23.9f, false}, {30.0f, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.z);
        Listen(0, 0, row.z);
        ASSERT_EQ(SoundInstanceBase::Count(), 1u);
        const SoundInstanceBase* i = SoundInstanceBase::First();
        EXPECT_EQ(i->IsZombie(), row.placeholder);
        EXPECT_EQ(std::string(i->GetName()) == "Zombie", row.placeholder);
        EXPECT_EQ(i->Id(), id);
        EXPECT_EQ(i->Owner(), e);
        EXPECT_EQ(i->StateFlags(), flags);
        EXPECT_EQ(i->StartTime(), start);
        EXPECT_EQ(i->VolumeFade().current, 0.5f);
        if (row.placeholder) {
            EXPECT_TRUE(VoiceStates().empty());
        } else {
            ASSERT_TRUE(RunUntilVoiced());
            EXPECT_EQ(VoiceStates()[0].volume, 0.5f);
        }
    }
}

TEST_F(Positional, ImportantSoundsIgnoreDistanceAndFiniteSoundsAreDropped) {
    EntitySoundEmitter* e = Emitter(0, 0, 0);
    const SoundParamWrapper important = Block(10, 15, 0, SOUNDSTARTFLAG_IMPORTANT);
    e->StartSound("mono.wav", &important);
    ASSERT_TRUE(RunUntilVoiced());
    Listen(0, 0, 1000);
    Step();
    ASSERT_EQ(SoundInstanceBase::Count(), 1u);
    EXPECT_FALSE(SoundInstanceBase::First()->IsZombie());
    EXPECT_EQ(VoiceStates().size(), 1u);
    Clear();

    // A sound of a finite number of passes: dropped beyond 1.8 x 20 = 36.
    Listen(0, 0, 35.9f);
    const SoundParamWrapper twice = Block(10, 15, 2);
    e->StartSound("mono.wav", &twice);
    ASSERT_TRUE(RunUntilVoiced());
    Step();
    EXPECT_EQ(SoundInstanceBase::Count(), 1u);
    Listen(0, 0, 36.1f);
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

TEST_F(Positional, StopAndExitLoopDeleteAPlaceholderAtOnce) {
    EntitySoundEmitter* e = Emitter(0, 0, 0);
    const SoundParamWrapper p = Block(10, 15);
    for (int withStop = 0; withStop < 2; ++withStop) {
        SCOPED_TRACE(withStop);
        Listen(0, 0, 0);
        const uint32_t id = e->StartSound("mono.wav", &p);
        ASSERT_TRUE(RunUntilVoiced());
        Listen(0, 0, 100);
        ASSERT_TRUE(SoundInstanceBase::First()->IsZombie());
        if (withStop) engine->StopSound(id, 2.0f, e);
        else engine->ExitLoop(id, e);
        engine->RunWake();
        EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    }
}

// (The fade of a released emitter's sound where it was last heard: emitter_test.)
TEST_F(Positional, AReleasedEmitterDeletesItsPlaceholdersAndFadesItsVoicedSounds) {
    EntitySoundEmitter* near = Emitter(3, 0, 4);
    EntitySoundEmitter* far = Emitter(0, 0, 0);
    const SoundParamWrapper p = Block(10, 15);
    near->StartSound("mono.wav", &p);
    far->StartSound("mono.wav", &p);
    ASSERT_TRUE(RunUntilVoiced());
    Listen(0, 0, 25);  // the far one becomes a placeholder, the near one stays (distance 21)
    ASSERT_EQ(SoundInstanceBase::Count(), 2u);
    Release(far);
    EXPECT_EQ(SoundInstanceBase::Count(), 1u);  // its placeholder is deleted
    Release(near);
    const SoundInstanceBase* i = SoundInstanceBase::First();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->Owner(), nullptr);
    EXPECT_TRUE(i->StateFlags() & SOUNDINSTANCE_STOPPING);
}

}  // namespace
