// test-sanitize: thread address
// test-timeout: 120
// The real-time null output: its mixer thread drains buffers at wall-clock pace,
// counts glitches when starved, captures to a WAV file, and runs alongside a
// sound thread that changes voices all the time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AudioTestUtil.h"
#include "platform/audio/AudioEngine.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"

using namespace audio;

namespace {

double Seconds() { return double(os::ReadRealCounter()) / double(os::kCounterFrequency); }

struct RealtimeEngine {
    AudioEngine* engine = nullptr;
    MasteringVoice* master = nullptr;

    explicit RealtimeEngine(const char* capture = nullptr) {
        EngineOptions o;  // the default output
        o.capturePath = capture;
        EXPECT_EQ(CreateAudioEngine(&engine, &o), kOk);
        EXPECT_EQ(engine->Initialize(0, kAnyProcessor), kOk);
        EXPECT_EQ(engine->CreateMasteringVoice(&master), kOk);
    }
    ~RealtimeEngine() { engine->Release(); }
};

}  // namespace

TEST(AudioRealtime, TwoSecondBufferDrainsInAboutTwoSecondsAndIsCaptured) {
    const auto capture =
        std::filesystem::temp_directory_path() / ("audio_capture_" + std::to_string(::getpid()) + ".wav");
    const auto tone = audiotest::Sine({440.0}, 22050, 44100);  // 2 s
    double elapsed = 0.0;
    {
        RealtimeEngine r(capture.c_str());
        SourceVoice* v = nullptr;
        const WaveFormat f = audiotest::Pcm16(1, 22050);
        ASSERT_EQ(r.engine->CreateSourceVoice(&v, &f), kOk);
        const AudioBuffer b = audiotest::Buffer(tone, 1);
        ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
        const double start = Seconds();
        ASSERT_EQ(v->Start(), kOk);
        VoiceState st;
        do {
            os::Sleep(30);  // the sound thread's polling period
            v->GetState(&st);
        } while (st.buffersQueued > 0 && Seconds() - start < 20.0);
        elapsed = Seconds() - start;
        EXPECT_EQ(st.buffersQueued, 0u);
        EXPECT_EQ(st.samplesPlayed, 44100u);
        r.engine->Render(480, nullptr);  // not the manual output: nothing happens
    }
    EXPECT_GE(elapsed, 1.9);
    EXPECT_LT(elapsed, 10.0);  // generous: sanitizer builds run slowly

    // sox reads the capture: stereo 48 kHz, at least as long as the sound.
    const std::string info = "soxi -c " + capture.string() + " | grep -qx 2 && soxi -r " + capture.string() +
                             " | grep -qx 48000 && test $(soxi -s " + capture.string() + ") -ge 96000";
    EXPECT_EQ(std::system(info.c_str()), 0);
    std::filesystem::remove(capture);
}

TEST(AudioRealtime, GlitchCounterRisesWhenTheMixerIsStarved) {
    RealtimeEngine r;
    PerformanceData pd;
    os::Sleep(50);
    r.engine->GetPerformanceData(&pd);
    const uint32_t before = pd.glitchesSinceEngineStarted;
    r.engine->InjectMixerStall(120);
    const double start = Seconds();
    do {
        os::Sleep(10);
        r.engine->GetPerformanceData(&pd);
    } while (pd.glitchesSinceEngineStarted == before && Seconds() - start < 10.0);
    EXPECT_GT(pd.glitchesSinceEngineStarted, before);
    EXPECT_GT(pd.framesRendered, 0u);
}

// A sound thread creates, feeds, changes, commits and destroys voices while the mixer
// thread renders and the main thread reads statistics.
TEST(AudioRealtime, SoundThreadAndMixerThreadWorkAtOnce) {
    RealtimeEngine r;
    struct Shared {
        AudioEngine* engine;
        std::atomic<bool> stop{false};
        std::atomic<int> drained{0};
    } shared{r.engine};
    os::Thread sound;
    ASSERT_TRUE(sound.Start(
        [](void* p) {
            auto& s = *static_cast<Shared*>(p);
            const auto tone = audiotest::Sine({300.0, 500.0}, 44100, 2205);  // 50 ms stereo
            const WaveFormat f = audiotest::Pcm16(2, 44100);
            SourceVoice* voices[8] = {};
            uint32_t round = 0;
            while (!s.stop.load()) {
                const uint32_t slot = round % 8;
                if (!voices[slot]) {
                    if (s.engine->CreateSourceVoice(&voices[slot], &f) != kOk) break;
                    voices[slot]->Start(0, 1);
                }
                SourceVoice* v = voices[slot];
                VoiceState st;
                v->GetState(&st);
                if (st.buffersQueued < 2) {
                    AudioBuffer b = audiotest::Buffer(tone, 2, false);
                    v->SubmitSourceBuffer(&b);
                }
                const float m[4] = {float(round % 3) / 2.0f, 0.1f, 0.2f, 1.0f};
                v->SetOutputMatrix(nullptr, 2, 2, m, 1);
                v->SetVolume(float(round % 5) / 4.0f, 1);
                v->SetFrequencyRatio(0.5f + float(round % 7) / 5.0f, 1);
                if (round % 11 == 0) v->ExitLoop(1);
                s.engine->CommitChanges(1);
                if (round % 13 == 12) {
                    if (st.samplesPlayed > 0) s.drained.fetch_add(1);
                    v->DestroyVoice();
                    voices[slot] = nullptr;
                }
                ++round;
                os::Sleep(1);
            }
            for (SourceVoice* v : voices)
                if (v) v->DestroyVoice();
        },
        &shared, "SoundEngine"));
    const double start = Seconds();
    VoiceDebugState states[16];
    PerformanceData pd;
    while (Seconds() - start < 0.5) {
        r.engine->GetPerformanceData(&pd);
        EXPECT_LE(r.engine->GetVoiceDebugStates(states, 16), 8u);
        os::Sleep(5);
    }
    shared.stop.store(true);
    sound.Join();
    EXPECT_GT(shared.drained.load(), 0);
    EXPECT_EQ(r.engine->GetVoiceDebugStates(nullptr, 0), 0u);
}
