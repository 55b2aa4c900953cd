// test-sanitize: address
// Channels, fades and levels on a ManualClock: channel fades and their curves, the
// product of the four volumes, the frequency-ratio clamp, stopping with and without a
// fade, pausing by channel, and the background mode. The voices' committed state is
// read through GetVoiceDebugStates, and a decorator over the audio engine counts the
// volume and ratio calls that reach each voice.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "SoundTestSupport.h"

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
