#pragma once
// Helpers shared by the audio engine tests: formats, buffers and an engine on the
// manual output.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/audio/AudioEngine.h"

namespace audiotest {

inline audio::WaveFormat Pcm(uint16_t channels, uint32_t rate, uint16_t bits = 16) {
    const auto align = uint16_t(channels * bits / 8);
    return {audio::kFormatPcm, channels, rate, rate * align, align, bits, 0};
}

inline audio::AudioBuffer Buffer(const void* data, size_t bytes, bool eos = true) {
    audio::AudioBuffer b;
    b.flags = eos ? audio::kEndOfStream : 0;
    b.audioBytes = uint32_t(bytes);
    b.audioData = static_cast<const uint8_t*>(data);
    return b;
}
inline audio::AudioBuffer Buffer(const std::vector<int16_t>& samples, bool eos = true) {
    return Buffer(samples.data(), samples.size() * 2, eos);
}

// An engine with a mastering voice, by default on the manual output.
struct ManualEngine {
    audio::AudioEngine* engine = nullptr;
    audio::MasteringVoice* master = nullptr;
    uint32_t channels;

    explicit ManualEngine(uint32_t rate = 48000, uint32_t outChannels = 2)
        : ManualEngine(audio::EngineOptions{audio::OutputKind::kManual, rate, outChannels}) {}
    explicit ManualEngine(const audio::EngineOptions& o) : channels(o.channels) {
        EXPECT_EQ(audio::CreateAudioEngine(&engine, &o), audio::kOk);
        EXPECT_EQ(engine->Initialize(0, audio::kAnyProcessor), audio::kOk);
        EXPECT_EQ(engine->CreateMasteringVoice(&master), audio::kOk);
    }
    ~ManualEngine() { engine->Release(); }
    ManualEngine(const ManualEngine&) = delete;
    ManualEngine& operator=(const ManualEngine&) = delete;

    std::vector<float> Render(uint32_t frames) {
        std::vector<float> out(size_t(frames) * channels, 99.0f);
        EXPECT_EQ(engine->Render(frames, out.data()), frames);
        return out;
    }

    audio::SourceVoice* Voice(const audio::WaveFormat& f, uint32_t flags = 0) {
        audio::SourceVoice* v = nullptr;
        EXPECT_EQ(engine->CreateSourceVoice(&v, &f, flags), audio::kOk) << engine->LastErrorText();
        return v;
    }

    audio::VoiceDebugState Debug(audio::SourceVoice* v) {
        audio::VoiceDebugState s;
        v->GetDebugState(&s);
        return s;
    }
};

}  // namespace audiotest
