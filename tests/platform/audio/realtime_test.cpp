// test-sanitize: thread address
// test-timeout: 120
// The real-time null output: its mixer thread drains buffers at wall-clock pace,
// counts glitches when starved, captures to a WAV file, and runs alongside a
// sound thread that changes voices all the time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "AudioTestUtil.h"
#include "platform/audio/AudioEngine.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"

using namespace audio;

namespace {

double Seconds() { return double(os::ReadRealCounter()) / double(os::kCounterFrequency); }

using Engine = audiotest::ManualEngine;

}  // namespace

TEST(AudioRealtime, TwoSecondBufferDrainsInAboutTwoSecondsAndIsCaptured) {
    const std::string capture = (std::filesystem::temp_directory_path() /
                                 ("audio_capture_" + std::to_string(::getpid()) + ".wav")).string();
    std::vector<int16_t> saw(96000);  // 2 s at the output's rate, never 0
    for (size_t i = 0; i < saw.size(); ++i) saw[i] = int16_t(1000 + (i % 1000) * 20);
    double elapsed = 0.0;
    {
        Engine r(EngineOptions{.capturePath = capture.c_str()});
        SourceVoice* v = r.Voice(audiotest::Pcm(1, 48000));
        ASSERT_NE(v, nullptr);
        const AudioBuffer b = audiotest::Buffer(saw);
        ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
        const double start = Seconds();
        ASSERT_EQ(v->Start(), kOk);
        VoiceState st;
        do {
            os::Sleep(30);  // the sound thread's polling period
            v->GetState(&st);
        } while (st.buffersQueued > 0 && Seconds() - start < 20.0);
        elapsed = Seconds() - start;
        EXPECT_EQ(std::make_pair(st.buffersQueued, st.samplesPlayed), std::make_pair(0u, uint64_t(96000)));
        EXPECT_EQ(r.engine->Render(480, nullptr), 0u);  // not the manual output
    }
    EXPECT_GE(elapsed, 1.9);
    EXPECT_LT(elapsed, 10.0);  // generous: sanitizer builds run slowly

    // sox reads the capture as 48 kHz stereo; after the silence before Start, both
    // channels carry the saw at 32767/32768 of its level.
    const std::string raw = capture + ".raw";
    const std::string convert = "soxi -c " + capture + " | grep -qx 2 && soxi -r " + capture +
                                " | grep -qx 48000 && sox " + capture + " -t raw -e signed-integer -b 16 " + raw;
    ASSERT_EQ(std::system(convert.c_str()), 0);
    std::ifstream wav(capture, std::ios::binary);  // the header, word by word
    uint32_t h[11] = {};
    wav.read(reinterpret_cast<char*>(h), sizeof h);
    const uint32_t size = uint32_t(std::filesystem::file_size(capture));
    const uint32_t expected[11] = {0x46464952, size - 8, 0x45564157, 0x20746D66, 16, 1 | 2 << 16, 48000, 192000,
                                   4 | 16 << 16, 0x61746164, size - 44};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(h[i], expected[i]) << "header word " << i;
    std::ifstream in(raw, std::ios::binary);
    std::vector<int16_t> pcm(std::filesystem::file_size(raw) / 2);
    in.read(reinterpret_cast<char*>(pcm.data()), std::streamsize(pcm.size() * 2));
    size_t first = 0;
    while (first < pcm.size() && pcm[first] == 0) ++first;
    ASSERT_GE(pcm.size(), first + 2 * saw.size());
    for (size_t i = 0; i < saw.size(); ++i) {
        ASSERT_NEAR(pcm[first + 2 * i], saw[i] * 32767.0 / 32768.0, 1.0) << i;
        ASSERT_EQ(pcm[first + 2 * i + 1], pcm[first + 2 * i]) << i;
    }
    std::filesystem::remove(capture);
    std::filesystem::remove(raw);
}

TEST(AudioRealtime, GlitchCounterRisesWhenTheMixerIsStarved) {
    Engine r(EngineOptions{});  // the default, real-time output
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

    // The output's thread ends with the mastering voice.
    const auto mixerThreads = [] {
        int n = 0;
        for (std::string name; const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
            n += std::getline(std::ifstream(task.path() / "comm"), name) && name == "AudioMixer";
        return n;
    };
    EXPECT_EQ(mixerThreads(), 1);
    r.master->DestroyVoice();
    r.master = nullptr;
    for (int waited = 0; waited < 2000 && mixerThreads() > 0; ++waited) os::Sleep(1);
    EXPECT_EQ(mixerThreads(), 0);
}

// A sound thread creates, feeds, changes, commits and destroys voices while the mixer
// thread renders and the main thread reads statistics.
TEST(AudioRealtime, SoundThreadAndMixerThreadWorkAtOnce) {
    Engine r(EngineOptions{});  // the default, real-time output
    struct Shared {
        AudioEngine* engine;
        std::atomic<bool> stop{false};
        std::atomic<int> drained{0};
    } shared{r.engine};
    os::Thread sound;
    ASSERT_TRUE(sound.Start(
        [](void* p) {
            auto& s = *static_cast<Shared*>(p);
            const std::vector<int16_t> tone(2 * 2205, 3000);  // 50 ms stereo
            const WaveFormat f = audiotest::Pcm(2, 44100);
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
                    AudioBuffer b = audiotest::Buffer(tone, false);
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
