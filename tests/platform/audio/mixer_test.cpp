// test-sanitize: thread address
// The mixer on the manual output: every expected signal is computed here from the
// test's own sine or ramp, never from the mixer's code.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "AudioTestUtil.h"
#include "platform/audio/AudioEngine.h"
#include "platform/os/Clock.h"

using namespace audio;
using audiotest::Buffer;
using audiotest::ManualEngine;
using audiotest::Sine;

namespace {

// A ramp whose sample k is k * 100: the output reveals which source frame played.
std::vector<int16_t> Ramp(uint32_t frames) {
    std::vector<int16_t> r(frames);
    for (uint32_t k = 0; k < frames; ++k) r[k] = int16_t(k * 100);
    return r;
}

int FrameIndex(float sample) { return int(std::lround(sample * 32768.0f / 100.0f)); }

}  // namespace

TEST(AudioMixer, NativeRateMonoPlaysSampleExactOnBothChannelsAndEndsAtEndOfStream) {
    ManualEngine m;
    const auto sine = Sine({1000.0}, 48000, 1000);
    SourceVoice* v = m.Play(audiotest::Pcm16(1, 48000), sine);
    const auto out = m.Render(1500);
    for (size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(out[2 * i], sine[i] / 32768.0f) << i;
        ASSERT_EQ(out[2 * i + 1], sine[i] / 32768.0f) << i;
    }
    for (size_t i = 1000; i < 1500; ++i) ASSERT_EQ(out[2 * i], 0.0f) << i;
    VoiceState st;
    v->GetState(&st);
    EXPECT_EQ(st.buffersQueued, 0u);
    EXPECT_EQ(st.samplesPlayed, 1000u);
    EXPECT_TRUE(m.Debug(v).streamEnded);

    // A buffer after the end starts a new stream from its first frame.
    const AudioBuffer b = Buffer(sine, 1);
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    const auto again = m.Render(10);
    EXPECT_EQ(again[2 * 3], sine[3] / 32768.0f);
    EXPECT_FALSE(m.Debug(v).streamEnded);
}

TEST(AudioMixer, FrequencyRatioAndSourceRateSetThePitch) {
    ManualEngine m;
    // 1 kHz recorded at 24 kHz: played at ratio 1 it is 1 kHz, at 1.5 it is 1.5 kHz.
    const auto sine = Sine({1000.0}, 24000, 48000);
    SourceVoice* v = m.Play(audiotest::Pcm16(1, 24000), sine);
    auto out = m.Render(24000);  // 0.5 s
    EXPECT_NEAR(audiotest::ZeroCrossings(out, 2, 0, 0, 24000), 1000, 2);
    EXPECT_NEAR(audiotest::Peak(out, 2, 0, 0, 24000), 0.5f, 0.01f);

    ASSERT_EQ(v->SetFrequencyRatio(1.5f), kOk);
    VoiceState before;
    v->GetState(&before);
    out = m.Render(24000);
    EXPECT_NEAR(audiotest::ZeroCrossings(out, 2, 0, 0, 24000), 1500, 2);
    VoiceState after;
    v->GetState(&after);
    EXPECT_NEAR(double(after.samplesPlayed - before.samplesPlayed), 18000.0, 1.0);  // 24 kHz x 0.5 s x 1.5
}

TEST(AudioMixer, VolumeAndOutputMatrixScaleAndRoute) {
    ManualEngine m;
    // Stereo source: left 500 Hz, right 1500 Hz, so each output shows where it came from.
    const auto sine = Sine({500.0, 1500.0}, 48000, 48000);
    SourceVoice* v = m.Play(audiotest::Pcm16(2, 48000), sine);
    auto out = m.Render(4800);
    EXPECT_NEAR(audiotest::ZeroCrossings(out, 2, 0, 0, 4800), 100, 2);
    EXPECT_NEAR(audiotest::ZeroCrossings(out, 2, 1, 0, 4800), 300, 2);

    const float swap[4] = {0.0f, 1.0f, 1.0f, 0.0f};  // [d * 2 + s]: left gets right, right gets left
    ASSERT_EQ(v->SetOutputMatrix(nullptr, 2, 2, swap), kOk);
    ASSERT_EQ(v->SetVolume(0.25f), kOk);
    out = m.Render(4800);
    EXPECT_NEAR(audiotest::ZeroCrossings(out, 2, 0, 0, 4800), 300, 2);
    EXPECT_NEAR(audiotest::ZeroCrossings(out, 2, 1, 0, 4800), 100, 2);
    EXPECT_NEAR(audiotest::Peak(out, 2, 0, 0, 4800), 0.125f, 0.002f);

    const float leftOnly[4] = {1.0f, 0.0f, 0.0f, 0.0f};
    ASSERT_EQ(v->SetOutputMatrix(m.master, 2, 2, leftOnly), kOk);
    out = m.Render(4800);
    EXPECT_EQ(audiotest::Peak(out, 2, 1, 0, 4800), 0.0f);

    // Wrong shapes and levels are refused and change nothing.
    EXPECT_EQ(v->SetOutputMatrix(nullptr, 1, 2, leftOnly), kErrorInvalidArg);
    const float bad[4] = {NAN, 0, 0, 0};
    EXPECT_EQ(v->SetOutputMatrix(nullptr, 2, 2, bad), kErrorInvalidArg);
    EXPECT_EQ(v->SetVolume(INFINITY), kErrorInvalidArg);
    EXPECT_EQ(m.Debug(v).volume, 0.25f);
    EXPECT_EQ(m.Debug(v).outputMatrix[0], 1.0f);

    // The master volume scales the bus, which is clipped to full scale.
    ASSERT_EQ(v->SetVolume(16.0f), kOk);
    ASSERT_EQ(m.master->SetVolume(0.5f), kOk);
    out = m.Render(4800);
    EXPECT_EQ(audiotest::Peak(out, 2, 0, 0, 4800), 1.0f);
    ASSERT_EQ(v->SetVolume(1.0f), kOk);
    out = m.Render(4800);
    EXPECT_NEAR(audiotest::Peak(out, 2, 0, 0, 4800), 0.25f, 0.002f);
}

TEST(AudioMixer, MonoOutputAndDefaultRouting) {
    ManualEngine m(48000, 1);
    const std::vector<int16_t> dc = {8192, 8192, 8192, 8192, 16384, 0, 16384, 0};  // stereo frames
    SourceVoice* v = m.Voice(audiotest::Pcm16(2, 48000));
    EXPECT_EQ(m.Debug(v).outputMatrix[0], 0.5f);
    const AudioBuffer b = Buffer(dc, 2);
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    ASSERT_EQ(v->Start(), kOk);
    const auto out = m.Render(4);
    EXPECT_EQ(out[0], 0.25f);
    EXPECT_EQ(out[2], 0.25f);
}

TEST(AudioMixer, OperationSetsApplyAtTheirCommitAndSetZeroAtOnce) {
    ManualEngine m;
    const auto tone = Sine({1000.0}, 48000, 48000);
    SourceVoice* v = m.Voice(audiotest::Pcm16(1, 48000));
    const AudioBuffer b = Buffer(tone, 1);
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);

    ASSERT_EQ(v->Start(0, 1), kOk);
    ASSERT_EQ(v->SetVolume(0.1f, 1), kOk);
    ASSERT_EQ(v->SetVolume(0.5f, 1), kOk);  // later call of the same set wins
    ASSERT_EQ(v->SetFrequencyRatio(2.0f, 2), kOk);
    EXPECT_EQ(m.Debug(v).pendingOperations, 4u);
    EXPECT_FALSE(m.Debug(v).started);
    auto out = m.Render(480);
    EXPECT_EQ(audiotest::Peak(out, 2, 0, 0, 480), 0.0f);

    ASSERT_EQ(m.engine->CommitChanges(1), kOk);
    EXPECT_TRUE(m.Debug(v).started);
    EXPECT_EQ(m.Debug(v).volume, 0.5f);
    EXPECT_EQ(m.Debug(v).frequencyRatio, 1.0f);
    EXPECT_EQ(m.Debug(v).pendingOperations, 1u);
    out = m.Render(4800);
    EXPECT_NEAR(audiotest::Peak(out, 2, 0, 0, 4800), 0.25f, 0.002f);
    EXPECT_NEAR(audiotest::ZeroCrossings(out, 2, 0, 0, 4800), 200, 2);

    // Set 0 is immediate even with a change of the same property pending.
    ASSERT_EQ(v->SetVolume(0.0f, 1), kOk);
    ASSERT_EQ(v->SetVolume(1.0f, kCommitNow), kOk);
    EXPECT_EQ(m.Debug(v).volume, 1.0f);

    // Committing "all" applies every set in call order.
    ASSERT_EQ(m.engine->CommitChanges(kCommitAll), kOk);
    EXPECT_EQ(m.Debug(v).volume, 0.0f);
    EXPECT_EQ(m.Debug(v).frequencyRatio, 2.0f);
    EXPECT_EQ(m.Debug(v).pendingOperations, 0u);

    // Destroying a voice drops its queued changes; the commit still succeeds.
    ASSERT_EQ(v->SetVolume(0.3f, 5), kOk);
    v->DestroyVoice();
    EXPECT_EQ(m.engine->CommitChanges(5), kOk);
    EXPECT_EQ(m.engine->GetVoiceDebugStates(nullptr, 0), 0u);
}

TEST(AudioMixer, FrequencyRatioAboveTheMaximumIsRefused) {
    ManualEngine m;
    SourceVoice* v = m.Voice(audiotest::Pcm16(1, 22050));
    EXPECT_EQ(v->SetFrequencyRatio(2.5f), kErrorInvalidCall);
    EXPECT_EQ(v->SetFrequencyRatio(2.5f, 1), kErrorInvalidCall);
    EXPECT_EQ(v->SetFrequencyRatio(NAN), kErrorInvalidCall);
    EXPECT_EQ(v->SetFrequencyRatio(0.0f), kErrorInvalidCall);
    EXPECT_NE(std::string(m.engine->LastErrorText()).find("SetFrequencyRatio"), std::string::npos);
    EXPECT_EQ(m.Debug(v).pendingOperations, 0u);
    EXPECT_EQ(m.Debug(v).frequencyRatio, 1.0f);
    EXPECT_EQ(v->SetFrequencyRatio(2.0f), kOk);
    EXPECT_EQ(m.Debug(v).maxFrequencyRatio, 2.0f);

    SourceVoice* wide = m.Voice(audiotest::Pcm16(1, 22050), 8.0f);
    EXPECT_EQ(wide->SetFrequencyRatio(6.0f), kOk);
    SourceVoice* fixed = m.Voice(audiotest::Pcm16(1, 22050), 2.0f, kVoiceNoPitch);
    EXPECT_EQ(fixed->SetFrequencyRatio(1.0f), kErrorInvalidCall);
}

TEST(AudioMixer, PlayTailsStopHoldsPositionAndBuffersUntilStart) {
    ManualEngine m;
    const auto sine = Sine({750.0}, 48000, 4800);
    SourceVoice* v = m.Play(audiotest::Pcm16(1, 48000), sine);
    m.Render(480);
    ASSERT_EQ(v->Stop(kPlayTails, 1), kOk);
    ASSERT_EQ(m.engine->CommitChanges(1), kOk);
    auto out = m.Render(960);
    EXPECT_EQ(audiotest::Peak(out, 2, 0, 0, 960), 0.0f);
    VoiceState st;
    v->GetState(&st);
    EXPECT_EQ(st.buffersQueued, 1u);
    EXPECT_EQ(st.samplesPlayed, 480u);
    EXPECT_EQ(v->Stop(0x1), kErrorInvalidArg);

    ASSERT_EQ(v->Start(), kOk);
    out = m.Render(100);
    for (size_t i = 0; i < 100; ++i) ASSERT_EQ(out[2 * i], sine[480 + i] / 32768.0f) << i;
}

TEST(AudioMixer, LoopRegionRepeatsAndExitLoopPlaysOnToTheEnd) {
    ManualEngine m;
    const auto ramp = Ramp(100);
    SourceVoice* v = m.Voice(audiotest::Pcm16(1, 48000));
    AudioBuffer b = Buffer(ramp, 1);
    b.loopBegin = 20;
    b.loopLength = 40;
    b.loopCount = 2;
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    ASSERT_EQ(v->Start(), kOk);
    auto out = m.Render(300);
    std::vector<int> expected;
    for (int k = 0; k < 60; ++k) expected.push_back(k);
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 20; k < 60; ++k) expected.push_back(k);
    for (int k = 60; k < 100; ++k) expected.push_back(k);
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(FrameIndex(out[2 * i]), expected[i]) << i;
    EXPECT_EQ(out[2 * expected.size()], 0.0f);

    // Endless loop until ExitLoop (deferred to a commit).
    b.loopCount = kLoopInfinite;
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    out = m.Render(2000);
    EXPECT_EQ(m.Debug(v).buffersQueued, 1u);
    EXPECT_EQ(m.Debug(v).loopsLeft, kLoopInfinite);
    ASSERT_EQ(v->ExitLoop(1), kOk);
    m.Render(100);
    EXPECT_EQ(m.Debug(v).buffersQueued, 1u);
    ASSERT_EQ(m.engine->CommitChanges(1), kOk);
    out = m.Render(200);
    // The current pass of the loop finishes, then frames 60..99 follow once.
    int previous = -1;
    int last = -1;
    size_t end = 0;
    for (size_t i = 0; i < 200; ++i) {
        if (out[2 * i] == 0.0f && previous == 99) {
            end = i;
            break;
        }
        const int k = FrameIndex(out[2 * i]);
        if (previous >= 0) {
            ASSERT_TRUE(k == previous + 1 || (previous == 59 && k == 20 && last < 60)) << i;
        }
        last = std::max(last, k);
        previous = k;
    }
    EXPECT_EQ(previous, 99);
    EXPECT_GT(end, 0u);
    EXPECT_EQ(m.Debug(v).buffersQueued, 0u);
}

TEST(AudioMixer, StarvedVoiceIsSilentAndResumesWithNewBuffers) {
    ManualEngine m;
    const auto ramp = Ramp(50);
    SourceVoice* v = m.Voice(audiotest::Pcm16(1, 48000));
    AudioBuffer b = Buffer(ramp, 1, false);
    b.context = &m;
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    ASSERT_EQ(v->Start(), kOk);
    VoiceState st;
    v->GetState(&st);
    EXPECT_EQ(st.currentBufferContext, &m);
    auto out = m.Render(100);
    EXPECT_EQ(FrameIndex(out[2 * 48]), 48);
    EXPECT_EQ(out[2 * 60], 0.0f);
    v->GetState(&st);
    EXPECT_EQ(st.buffersQueued, 0u);
    EXPECT_EQ(st.currentBufferContext, nullptr);
    EXPECT_FALSE(m.Debug(v).streamEnded);
    // Without an end-of-stream mark the next buffer continues the same stream: the
    // held last frame plays first.
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    out = m.Render(3);
    EXPECT_EQ(FrameIndex(out[0]), 49);
    EXPECT_EQ(FrameIndex(out[2]), 0);
    EXPECT_EQ(FrameIndex(out[4]), 1);
}

TEST(AudioMixer, UnsupportedFormatsAreRefusedAtVoiceCreation) {
    ManualEngine m;
    SourceVoice* v = reinterpret_cast<SourceVoice*>(&m);
    WaveFormat wma = {kFormatWma2, 2, 44100, 20000, 2230, 16, 0};
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &wma), kErrorUnsupportedFormat);
    EXPECT_EQ(v, nullptr);
    EXPECT_NE(std::string(m.engine->LastErrorText()).find("xWMA"), std::string::npos);
    wma.formatTag = kFormatWma3;
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &wma), kErrorUnsupportedFormat);

    WaveFormat f24 = {kFormatPcm, 1, 48000, 144000, 3, 24, 0};
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &f24), kErrorUnsupportedFormat);
    WaveFormat three = audiotest::Pcm16(3, 48000);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &three), kErrorUnsupportedFormat);
    WaveFormat slow = audiotest::Pcm16(1, 999);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &slow), kErrorUnsupportedFormat);
    WaveFormat flt = {kFormatIeeeFloat, 1, 48000, 192000, 4, 32, 0};
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &flt), kErrorUnsupportedFormat);

    // MS-ADPCM: extension size 0 uses the standard coefficients; a full extension must
    // carry them and a samples-per-block figure that matches the block align.
    struct __attribute__((packed)) Adpcm {
        WaveFormat f;
        uint16_t samplesPerBlock, coefCount;
        int16_t coefs[14];
    } a = {{kFormatAdpcm, 1, 22050, 11155, 256, 4, 32}, 500, 7, {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232}};
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &a.f), kOk) << m.engine->LastErrorText();
    a.samplesPerBlock = 499;
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &a.f), kErrorUnsupportedFormat);
    a.samplesPerBlock = 500;
    a.coefs[3] = 7;
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &a.f), kErrorUnsupportedFormat);
    a.f.extraSize = 0;
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &a.f), kOk);
    a.f.blockAlign = 6;
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &a.f), kErrorUnsupportedFormat);

    // Rate conversion refused on request; the mixer's own limits.
    WaveFormat ok = audiotest::Pcm16(1, 44100);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &ok, kVoiceNoSrc), kErrorInvalidArg);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &ok, 0, 2000.0f), kErrorInvalidArg);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &ok, 0x8), kErrorInvalidArg);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &ok, kVoiceMusic, 2.0f), kOk);
    VoiceDetails d;
    v->GetVoiceDetails(&d);
    EXPECT_EQ(d.creationFlags, kVoiceMusic);
    EXPECT_EQ(d.inputChannels, 1u);
    EXPECT_EQ(d.inputSampleRate, 44100u);
    m.master->GetVoiceDetails(&d);
    EXPECT_EQ(d.inputChannels, 2u);
}

TEST(AudioMixer, SubmittedBuffersAreChecked) {
    ManualEngine m;
    const auto s = Sine({100.0}, 48000, 64, 1000.0);
    SourceVoice* v = m.Voice(audiotest::Pcm16(2, 48000));
    AudioBuffer b = Buffer(s, 2);
    b.audioBytes = 6;  // one and a half frames
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kErrorInvalidArg);
    b = Buffer(s, 2);
    b.flags = 0x80;
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kErrorInvalidArg);
    b = Buffer(s, 2);
    b.playBegin = 32;
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kErrorInvalidArg);
    b.playBegin = 8;
    b.playLength = 30;
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kErrorInvalidArg);
    b.playLength = 8;
    b.loopBegin = 4;
    b.loopCount = 1;
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kErrorInvalidArg);
    b.loopCount = 0;
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kErrorInvalidArg);
    b.loopBegin = 0;
    PacketTable packets;
    EXPECT_EQ(v->SubmitSourceBuffer(&b, &packets), kErrorInvalidCall);
    EXPECT_EQ(m.Debug(v).buffersQueued, 0u);
    for (uint32_t i = 0; i < kMaxQueuedBuffers; ++i) ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kErrorInvalidCall);
    EXPECT_EQ(m.Debug(v).buffersQueued, kMaxQueuedBuffers);

    // ADPCM regions must follow whole blocks.
    WaveFormat a = {kFormatAdpcm, 1, 22050, 11155, 256, 4, 0};
    SourceVoice* av = m.Voice(a);
    std::vector<uint8_t> blocks(512, 0);
    AudioBuffer ab;
    ab.audioData = blocks.data();
    ab.audioBytes = 300;
    EXPECT_EQ(av->SubmitSourceBuffer(&ab), kErrorInvalidArg);
    ab.audioBytes = 512;
    ab.playBegin = 10;
    EXPECT_EQ(av->SubmitSourceBuffer(&ab), kErrorInvalidArg);
    ab.playBegin = 500;
    EXPECT_EQ(av->SubmitSourceBuffer(&ab), kOk);
}

TEST(AudioMixer, EngineFaultsAndMissingMasteringVoiceFailCleanly) {
    AudioEngine* e = reinterpret_cast<AudioEngine*>(1);
    SetEngineFault(EngineFault::kCreate);
    EXPECT_NE(CreateAudioEngine(&e), kOk);
    EXPECT_EQ(e, nullptr);

    EngineOptions o;
    o.output = OutputKind::kManual;
    SetEngineFault(EngineFault::kInitialize);
    ASSERT_EQ(CreateAudioEngine(&e, &o), kOk);
    EXPECT_NE(e->Initialize(0, kAnyProcessor), kOk);
    SetEngineFault(EngineFault::kMasteringVoice);
    EXPECT_EQ(e->Initialize(0, kAnyProcessor), kOk);
    MasteringVoice* mv = nullptr;
    EXPECT_NE(e->CreateMasteringVoice(&mv), kOk);
    EXPECT_EQ(mv, nullptr);
    SetEngineFault(EngineFault::kNone);

    SourceVoice* sv = nullptr;
    WaveFormat f = audiotest::Pcm16(1, 48000);
    EXPECT_EQ(e->CreateSourceVoice(&sv, &f), kErrorInvalidCall);
    EXPECT_EQ(e->Render(480, nullptr), 0u);
    PerformanceData pd;
    e->GetPerformanceData(&pd);
    EXPECT_EQ(pd.glitchesSinceEngineStarted, 0u);
    ASSERT_EQ(e->CreateMasteringVoice(&mv), kOk);
    EXPECT_EQ(e->CreateMasteringVoice(&mv), kErrorInvalidCall);
    EXPECT_EQ(e->Release(), 0u);
}

TEST(AudioMixer, RenderDueFollowsTheReplaceableClock) {
    os::ManualClock clock(1000);
    clock.Install();
    {
        ManualEngine m;
        const auto tone = Sine({440.0}, 48000, 4800);  // 100 ms
        SourceVoice* v = m.Voice(audiotest::Pcm16(1, 48000));
        const AudioBuffer b = Buffer(tone, 1);
        ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
        ASSERT_EQ(v->Start(), kOk);
        EXPECT_EQ(m.engine->RenderDue(nullptr, 100000), 0u);
        clock.Advance(os::kCounterFrequency * 30 / 1000);  // 30 ms
        EXPECT_EQ(m.engine->RenderDue(nullptr, 100000), 1440u);
        clock.Advance(os::kCounterFrequency * 75 / 1000);
        std::vector<float> out(1000 * 2);
        EXPECT_EQ(m.engine->RenderDue(out.data(), 1000), 1000u);  // the rest stays due
        EXPECT_EQ(m.engine->RenderDue(nullptr, 100000), 2600u);
        VoiceState st;
        v->GetState(&st);
        EXPECT_EQ(st.buffersQueued, 0u);
        PerformanceData pd;
        m.engine->GetPerformanceData(&pd);
        EXPECT_EQ(pd.framesRendered, 5040u);
        EXPECT_EQ(pd.totalSourceVoiceCount, 1u);
        EXPECT_EQ(pd.activeSourceVoiceCount, 1u);
    }
    clock.Uninstall();
}
