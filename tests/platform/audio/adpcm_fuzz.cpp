// Fuzz target: the MS-ADPCM block decoder and everything a source voice does with
// submitted bytes (format checks, buffer and region checks, decoding, resampling).
//
// Input: byte 0 selects the format (bits 0-1: PCM8, PCM16, ADPCM; bit 2: stereo;
// bit 3: end of stream), bytes 1-2 the ADPCM block align, byte 3 the frequency
// ratio, bytes 4-8 the loop count and region, the rest is audio data.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/audio/AudioEngine.h"
#include "platform/audio/MsAdpcm.h"

using namespace audio;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    const uint8_t mode = data[0];
    const uint16_t channels = (mode & 4) ? 2 : 1;
    const uint32_t blockAlign = data[1] | (data[2] << 8);
    const uint8_t* audio = data + 9;
    const uint32_t bytes = static_cast<uint32_t>(size - 9);

    // The decoder alone, on every whole block: it refuses exactly the blocks that name
    // a predictor past the seven standard ones.
    const uint32_t spb = AdpcmSamplesPerBlock(blockAlign, channels);
    if (spb) {
        std::vector<int16_t> pcm(size_t(spb) * channels);
        for (uint32_t at = 0; at + blockAlign <= bytes; at += blockAlign) {
            const bool good = audio[at] < kAdpcmCoefficientCount && (channels == 1 || audio[at + 1] < kAdpcmCoefficientCount);
            if (AdpcmDecodeBlock(audio + at, blockAlign, channels, pcm.data()) != good) __builtin_trap();
        }
    }

    EngineOptions o;
    o.output = OutputKind::kManual;
    AudioEngine* engine = nullptr;
    if (CreateAudioEngine(&engine, &o) != kOk) return 0;
    MasteringVoice* master = nullptr;
    engine->Initialize(0, kAnyProcessor);
    engine->CreateMasteringVoice(&master);

    WaveFormat f = {kFormatPcm, channels, 22050, 0, 0, 16, 0};
    switch (mode & 3) {
    case 0: f.bitsPerSample = 8; f.blockAlign = channels; break;
    case 1: f.blockAlign = uint16_t(channels * 2); break;
    default: f.formatTag = kFormatAdpcm; f.bitsPerSample = 4; f.blockAlign = uint16_t(blockAlign); break;
    }
    SourceVoice* voice = nullptr;
    if (engine->CreateSourceVoice(&voice, &f) == kOk) {
        voice->SetFrequencyRatio(0.05f + data[3] / 128.0f);
        AudioBuffer b;
        b.flags = (mode & 8) ? kEndOfStream : 0;
        b.audioBytes = bytes;
        b.audioData = audio;
        b.loopCount = data[4] & 3;
        const uint32_t unit = f.formatTag == kFormatAdpcm ? spb : 1;
        b.loopBegin = b.loopCount ? uint32_t(data[5] | (data[6] << 8)) / unit * unit : 0;
        b.loopLength = b.loopCount ? uint32_t(data[7] | (data[8] << 8)) / unit * unit : 0;
        voice->SubmitSourceBuffer(&b);
        b.loopCount = 0;
        b.loopBegin = b.loopLength = 0;
        voice->SubmitSourceBuffer(&b);
        voice->Start();
        std::vector<float> out(2 * 1500);
        engine->Render(1500, out.data());
        voice->ExitLoop();
        engine->Render(1500, out.data());
        VoiceState st;
        voice->GetState(&st);
    }
    engine->Release();
    return 0;
}

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // ADPCM blocks of 64 bytes, mono and stereo, every predictor, with looping.
    for (uint8_t stereo = 0; stereo < 2; ++stereo)
        for (uint8_t predictor = 0; predictor < 7; ++predictor) {
            std::vector<uint8_t> in = {uint8_t(2 | (stereo << 2) | 8), 64, 0, 64, 1, 0, 0, 0, 0};
            const uint32_t ch = stereo + 1u;
            for (int block = 0; block < 3; ++block) {
                std::vector<uint8_t> b(64, 0);
                for (uint32_t c = 0; c < ch; ++c) {
                    b[c] = predictor;
                    b[ch + 2 * c] = 32;  // step
                    b[3 * ch + 2 * c] = uint8_t(block * 40);
                }
                for (uint32_t i = 7 * ch; i < 64; ++i) b[i] = uint8_t(i * 37 + predictor);
                in.insert(in.end(), b.begin(), b.end());
            }
            add(in.data(), in.size());
        }
    // PCM 8 and 16 bit.
    for (uint8_t mode : {uint8_t(0), uint8_t(1 | 4), uint8_t(1 | 8)}) {
        std::vector<uint8_t> in = {mode, 0, 0, 200, 2, 4, 0, 8, 0};
        for (int i = 0; i < 256; ++i) in.push_back(uint8_t(i * 7));
        add(in.data(), in.size());
    }
}
