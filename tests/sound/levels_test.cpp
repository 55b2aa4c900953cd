// test-sanitize: address
// Channels, fades and levels on a ManualClock: channel fades and their curves, the
// product of the four volumes, the frequency-ratio clamp, stopping with and without a
// fade, pausing by channel, and the background mode. The voices' committed state is
// read through GetVoiceDebugStates, and a decorator over the audio engine counts the
// volume and ratio calls that reach each voice.
//
// Positional sound on the manual output: the panner's matrix on the voices of owned
// instances (pan, natural roll-off, linear curve, the step rule, two-channel emitters,
// unpositioned sounds), Doppler, and the placeholders that stand in for endless sounds
// far from the listener. Expected levels are worked out by hand from the panner's
// documented formulas: constant-sum pan (1 -+ p) / 2 with p the offset's share along
// the listener's right, times the distance gain, doubled and capped at 1.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "SoundTestSupport.h"
#include "sound/EntitySoundEmitter.h"

using namespace soundtest;

namespace {

// Counts SetVolume and SetFrequencyRatio per voice; forwards everything.
struct CountingVoice : audio::SourceVoice {
    explicit CountingVoice(audio::SourceVoice* v) : inner(v) {}
    void GetVoiceDetails(audio::VoiceDetails* d) override { inner->GetVoiceDetails(d); }
    audio::Result SetVolume(float v, uint32_t set) override {
        ++volumeCalls;
        return inner->SetVolume(v, set);
    }
    audio::Result SetOutputMatrix(audio::Voice* dst, uint32_t s, uint32_t d, const float* l, uint32_t set) override {
        return inner->SetOutputMatrix(dst, s, d, l, set);
    }
    void DestroyVoice() override;
    audio::Result Start(uint32_t f, uint32_t set) override { return inner->Start(f, set); }
    audio::Result Stop(uint32_t f, uint32_t set) override { return inner->Stop(f, set); }
    audio::Result SubmitSourceBuffer(const audio::AudioBuffer* b, const audio::PacketTable* p) override {
        return inner->SubmitSourceBuffer(b, p);
    }
    audio::Result ExitLoop(uint32_t set) override { return inner->ExitLoop(set); }
    void GetState(audio::VoiceState* s) override { inner->GetState(s); }
    audio::Result SetFrequencyRatio(float r, uint32_t set) override {
        ++ratioCalls;
        return inner->SetFrequencyRatio(r, set);
    }
    void GetDebugState(audio::VoiceDebugState* s) override { inner->GetDebugState(s); }

    audio::SourceVoice* inner;
    int volumeCalls = 0;
    int ratioCalls = 0;
};

// Voices by their inner pointer, which the debug states name.
std::map<const void*, CountingVoice*> gCounting;

void CountingVoice::DestroyVoice() {
    gCounting.erase(inner);
    inner->DestroyVoice();
    delete this;
}

struct CountingEngine : ForwardingEngine {
    using ForwardingEngine::ForwardingEngine;
    audio::Result CreateSourceVoice(audio::SourceVoice** v, const audio::WaveFormat* f, uint32_t flags, float ratio,
                                    audio::VoiceCallback* c, const audio::SendList* s, const audio::EffectChain* e) override {
        audio::SourceVoice* made = nullptr;
        const audio::Result r = inner->CreateSourceVoice(&made, f, flags, ratio, c, s, e);
        if (r != audio::kOk) return r;
        auto* counting = new CountingVoice(made);
        gCounting[made] = counting;
        *v = counting;
        return r;
    }
    uint32_t Release() override {
        for (auto& entry : gCounting) delete entry.second;  // the engine destroys their voices
        gCounting.clear();
        return ForwardingEngine::Release();
    }
};

struct Levels : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        ASSERT_TRUE(MakeTone(Sound("hum.wav"), "-r 22050 -c 1 -b 16", 0.5));
        engine->SetEngineFactory(&CreateForwardingEngine<CountingEngine>);
        StartEngine(22050, 1);
    }
    // An endless sound on a channel, stepped until it has its voice.
    uint32_t PlayEndless(uint32_t channel, uint32_t soundClass = SOUNDCLASS_SFX, float volume = 1.0f) {
        SoundParamWrapper p = Params(0, 0);
        p.Channel = channel;
        p.Class = soundClass;
        p.Volume = volume;
        const size_t voices = VoiceStates().size();
        const uint32_t id = engine->PlaySystemSound("hum.wav", &p);
        EXPECT_TRUE(WaitUntil([&] {
            Step();
            return VoiceStates().size() > voices;
        }));
        return id;
    }
    // One wake without time passing: commands only.
    void CommandsOnly() { engine->RunWake(); }
    // One wake a given time later.
    void After(double seconds) {
        clock.AdvanceSeconds(seconds);
        engine->RunWake();
    }
    CountingVoice* Counting(const audio::VoiceDebugState& s) { return gCounting[s.voice]; }
};

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

// (The fade of a released emitter's sound where it was last heard: engine_sound_test.)
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

TEST_F(Levels, ChannelFadesFollowTheirCurve) {
    struct Case {
        uint32_t curve;
        float seconds;
        float at1s;
    };
    const Case cases[] = {
        {1, 2.0f, 1.0f - std::sin(3.1415927f / 4.0f)},  // about 0.293
        {7, 2.0f, 0.5f},                                 // an unknown curve is linear
        {0, 0.0f, 0.0f},                                 // at once
        {2, -1.0f, 0.0f},                                // at once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.curve);
        engine->SetChannelVolume(3, 1.0f, 0.0f, 0);
        After(0.03);
        engine->SetChannelVolume(3, 0.0f, c.seconds, c.curve);
        CommandsOnly();
        After(1.0);
        EXPECT_NEAR(engine->Channel(3).currentVolume, c.at1s, 1e-4f);
        EXPECT_EQ(engine->Channel(4).currentVolume, 1.0f);
    }
    // 0xFFFFFFFF fades all sixteen.
    engine->SetChannelFrequencyRatio(kSoundAllChannels, 0.5f, 0.0f, 0);
    After(0.03);
    for (uint32_t c = 0; c < kSoundChannelCount; ++c) EXPECT_EQ(engine->Channel(c).currentFrequencyRatio, 0.5f);
}

TEST_F(Levels, VoiceVolumeIsTheProductOfFourLevelsAndSentOnlyOnChange) {
    gGameConfig->musicVolume = 0.8f;
    engine->ApplyVolumeSettings();
    engine->SetChannelVolume(2, 0.5f, 0.0f, 0);
    engine->FadeMasterVolume(0.25f, 0.0f, 0);
    const uint32_t id = PlayEndless(2, SOUNDCLASS_MUSIC, 0.5f);
    After(0.03);
    std::vector<audio::VoiceDebugState> v = VoiceStates();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_FLOAT_EQ(v[0].volume, 0.5f * 0.5f * 0.8f * 0.25f);
    CountingVoice* counting = Counting(v[0]);
    ASSERT_NE(counting, nullptr);
    const int calls = counting->volumeCalls;
    for (int i = 0; i < 5; ++i) After(0.03);
    engine->SetVolume(id, 0.5f, 0.0f, 0);  // the same level
    CommandsOnly();
    EXPECT_EQ(counting->volumeCalls, calls);
    EXPECT_EQ(counting->ratioCalls, 0);  // the ratio never left 1.0
    // The master volume reaches every voice at the next update.
    engine->FadeMasterVolume(1.0f, 0.0f, 0);
    After(0.03);
    EXPECT_EQ(counting->volumeCalls, calls + 1);
    EXPECT_FLOAT_EQ(VoiceStates()[0].volume, 0.5f * 0.5f * 0.8f);
}

TEST_F(Levels, AChannelOutOfRangeFallsBackToChannelZero) {
    CaptureLogSink log;
    log.Attach();
    engine->SetChannelVolume(0, 0.5f, 0.0f, 0);
    PlayEndless(16);
    After(0.03);
    EXPECT_TRUE(log.Contains("Audio channel out of range - 16 (Unknown)"));
    ASSERT_EQ(VoiceStates().size(), 1u);
    EXPECT_FLOAT_EQ(VoiceStates()[0].volume, 0.5f);
}

TEST_F(Levels, FrequencyRatiosAreClampedToWhatTheVoiceTakes) {
    const uint32_t id = PlayEndless(5);
    struct Case {
        float channelRatio, instanceTarget, expected;
    };
    const Case cases[] = {
        {4.0f, 1.0f, 2.0f},              // the voice's maximum
        {0.0f, 1.0f, 1.0f / 1024.0f},    // the lower end
        {1.0f, 1.5f, 1.0f},              // an instance fade target is clamped to 1
        {1.0f, 0.25f, 0.25f},
        {1.5f, 1.0f, 1.5f},
        {NAN, 1.0f, 1.5f},               // refused by the voice: it keeps its pitch
    };
    for (const Case& c : cases) {
        engine->SetChannelFrequencyRatio(5, c.channelRatio, 0.0f, 0);
        engine->SetFrequencyRatio(id, c.instanceTarget, 0.0f, 0);
        After(0.03);
        ASSERT_EQ(VoiceStates().size(), 1u);
        EXPECT_FLOAT_EQ(VoiceStates()[0].frequencyRatio, c.expected) << c.channelRatio << " x " << c.instanceTarget;
    }
}

TEST_F(Levels, StopPauseAndTheBackgroundMode) {
    // A 0.5 s fade-out: removed at the first update after the fade ended.
    const uint32_t fading = PlayEndless(0);
    engine->StopSound(fading, 0.5f);
    CommandsOnly();
    int updates = 0;
    while (SoundInstanceBase::First() && updates < 100) {
        After(0.03);
        ++updates;
    }
    EXPECT_EQ(updates, 17);  // 16 x 30 ms = 0.48 s is still inside the fade

    // Everything at the next command pass.
    PlayEndless(0);
    PlayEndless(1);
    engine->StopSound(kSoundAllInstances, 0.0f);
    CommandsOnly();
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);

    // The instance log.
    {
        CaptureLogSink log;
        log.Attach();
        PlayEndless(0);
        const SoundParamWrapper twice = Params(0, 2);
        engine->PlaySystemSound("hum.wav", &twice);
        engine->LogActiveSoundInstances();
        CommandsOnly();
        std::vector<CaptureLogSink::Message> lines = log.Messages();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0].text, "Active sound instances:");
        EXPECT_EQ(lines[1].text, "000 l:1 hum.wav");
        EXPECT_EQ(lines[2].text, "001 l:0 hum.wav");
        engine->StopSound(kSoundAllInstances, 0.0f);
        CommandsOnly();
    }

    // Pause by channel.
    PlayEndless(3);
    PlayEndless(4);
    engine->PauseSound(kSoundAllInstances, 0.0f, nullptr, 3);
    After(0.03);
    std::vector<audio::VoiceDebugState> v = VoiceStates();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_FALSE(v[0].started);
    EXPECT_TRUE(v[1].started);
    engine->ResumeSound(kSoundAllInstances, 0.0f, nullptr, -1);
    After(0.03);
    EXPECT_TRUE(VoiceStates()[0].started);

    // The background: the master fade-out posted with it completes at once, then no
    // update runs while commands still do.
    engine->FadeMasterVolume(0.0f, 1.0f, 0);
    engine->SetTimeoutMode(1);
    CommandsOnly();
    EXPECT_EQ(engine->CurrentTimeout(), BaseThread::kWaitForever);
    for (const audio::VoiceDebugState& s : VoiceStates()) EXPECT_EQ(s.volume, 0.0f);
    engine->StopSound(kSoundAllInstances, 0.0f);
    const SoundParamWrapper endless = Params(0, 0);
    engine->PlaySystemSound("hum.wav", &endless);
    for (int i = 0; i < 20; ++i) After(0.1);
    EXPECT_EQ(SoundInstanceBase::Count(), 1u);  // the play ran, its instance never updated
    EXPECT_TRUE(VoiceStates().empty());
    engine->SetTimeoutMode(0);
    engine->FadeMasterVolume(1.0f, 0.0f, 0);
    EXPECT_TRUE(WaitUntil([&] {
        After(0.03);
        return !VoiceStates().empty();
    }));
    EXPECT_EQ(VoiceStates()[0].volume, 1.0f);
}

TEST_F(Levels, APausePostedBeforeTheVoiceExistsHoldsItsStart) {
    const SoundParamWrapper endless = Params(0, 0);
    const uint32_t id = engine->PlaySystemSound("hum.wav", &endless);
    engine->PauseSound(id, 0.0f, nullptr, -1);
    ASSERT_TRUE(RunUntilVoiced());
    After(0.03);
    ASSERT_EQ(VoiceStates().size(), 1u);
    EXPECT_FALSE(VoiceStates()[0].started);
    engine->ResumeSound(id, 0.0f, nullptr, -1);
    After(0.03);
    EXPECT_TRUE(VoiceStates()[0].started);
}
