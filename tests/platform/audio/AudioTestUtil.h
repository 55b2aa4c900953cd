#pragma once
// Helpers shared by the audio engine tests: a manual-output engine, test signals and
// simple signal measures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/audio/AudioEngine.h"

namespace audiotest {

inline audio::WaveFormat Pcm16(uint16_t channels, uint32_t rate) {
    return {audio::kFormatPcm, channels, rate, rate * channels * 2u, uint16_t(channels * 2), 16, 0};
}

// Interleaved 16-bit sine(s): channel c has frequency freqs[c].
inline std::vector<int16_t> Sine(std::vector<double> freqs, double rate, uint32_t frames, double amplitude = 16384.0) {
    std::vector<int16_t> s(size_t(frames) * freqs.size());
    for (uint32_t i = 0; i < frames; ++i)
        for (size_t c = 0; c < freqs.size(); ++c)
            s[i * freqs.size() + c] = int16_t(std::lround(amplitude * std::sin(2.0 * M_PI * freqs[c] * i / rate)));
    return s;
}

// Sign changes of channel `channel` (of `channels`) over a span of frames.
inline int ZeroCrossings(const std::vector<float>& s, uint32_t channels, uint32_t channel, size_t first, size_t count) {
    int n = 0;
    for (size_t i = first + 1; i < first + count; ++i) {
        const float a = s[(i - 1) * channels + channel], b = s[i * channels + channel];
        if ((a < 0.0f && b >= 0.0f) || (a >= 0.0f && b < 0.0f)) ++n;
    }
    return n;
}

inline float Peak(const std::vector<float>& s, uint32_t channels, uint32_t channel, size_t first, size_t count) {
    float p = 0.0f;
    for (size_t i = first; i < first + count; ++i) p = std::max(p, std::fabs(s[i * channels + channel]));
    return p;
}

inline audio::AudioBuffer Buffer(const std::vector<int16_t>& samples, uint32_t channels, bool eos = true) {
    audio::AudioBuffer b;
    b.flags = eos ? audio::kEndOfStream : 0;
    b.audioBytes = uint32_t(samples.size() / channels * channels * 2);
    b.audioData = reinterpret_cast<const uint8_t*>(samples.data());
    return b;
}

// An engine on the manual output with a mastering voice.
struct ManualEngine {
    audio::AudioEngine* engine = nullptr;
    audio::MasteringVoice* master = nullptr;
    uint32_t channels;

    explicit ManualEngine(uint32_t rate = 48000, uint32_t outChannels = 2) : channels(outChannels) {
        audio::EngineOptions o;
        o.output = audio::OutputKind::kManual;
        o.sampleRate = rate;
        o.channels = outChannels;
        EXPECT_EQ(audio::CreateAudioEngine(&engine, &o), audio::kOk);
        EXPECT_EQ(engine->Initialize(0, audio::kAnyProcessor), audio::kOk);
        EXPECT_EQ(engine->CreateMasteringVoice(&master), audio::kOk);
    }
    ~ManualEngine() {
        if (engine) engine->Release();
    }
    ManualEngine(const ManualEngine&) = delete;
    ManualEngine& operator=(const ManualEngine&) = delete;

    std::vector<float> Render(uint32_t frames) {
        std::vector<float> out(size_t(frames) * channels, 99.0f);
        EXPECT_EQ(engine->Render(frames, out.data()), frames);
        return out;
    }

    audio::SourceVoice* Voice(const audio::WaveFormat& f, float maxRatio = audio::kDefaultFrequencyRatio,
                              uint32_t flags = 0) {
        audio::SourceVoice* v = nullptr;
        EXPECT_EQ(engine->CreateSourceVoice(&v, &f, flags, maxRatio), audio::kOk) << engine->LastErrorText();
        return v;
    }

    // A started voice with `samples` (which must outlive it) queued as one buffer.
    audio::SourceVoice* Play(const audio::WaveFormat& f, const std::vector<int16_t>& samples, bool eos = true) {
        audio::SourceVoice* v = Voice(f);
        const audio::AudioBuffer b = Buffer(samples, f.channels, eos);
        EXPECT_EQ(v->SubmitSourceBuffer(&b), audio::kOk);
        EXPECT_EQ(v->Start(), audio::kOk);
        return v;
    }

    audio::VoiceDebugState Debug(audio::SourceVoice* v) {
        audio::VoiceDebugState s;
        v->GetDebugState(&s);
        return s;
    }
};

}  // namespace audiotest
