// test-sanitize: address
// WAV files made by sox play through source voices, and what the mixer outputs is
// compared with sox's own decoding of the same file: sample-exact at the file's rate,
// and within a small error after rate conversion to 48 kHz.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AudioTestUtil.h"
#include "platform/audio/AudioEngine.h"

using namespace audio;

namespace {

std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// The "fmt " chunk (with its extension) and the "data" chunk of a RIFF WAVE file.
struct Wav { std::vector<uint8_t> format, data; };

bool ParseWav(const std::vector<uint8_t>& file, Wav* wav) {
    for (size_t at = 12; at + 8 <= file.size();) {
        uint32_t size;
        std::memcpy(&size, &file[at + 4], 4);
        if (size > file.size() - at - 8) return false;
        if (!std::memcmp(&file[at], "fmt ", 4)) wav->format.assign(&file[at + 8], &file[at + 8] + size);
        if (!std::memcmp(&file[at], "data", 4)) wav->data.assign(&file[at + 8], &file[at + 8] + size);
        at += 8 + size + (size & 1);
    }
    if (wav->format.size() == 16) wav->format.resize(18, 0);  // plain PCM: no extension size field
    return wav->format.size() >= 18 && !wav->data.empty();
}

std::vector<int16_t> ReadRaw16(const std::filesystem::path& p) {
    const auto bytes = ReadAll(p);
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

class SoxFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("audio_sox_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static void Run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

    std::filesystem::path dir;
};

// Mixes the whole file through one voice at outRate (stereo output) and returns the
// output as 16-bit-scale values with the frames the voice played.
std::vector<float> PlayThroughVoice(const Wav& wav, uint32_t outRate, uint64_t* played) {
    audiotest::ManualEngine m(outRate, 2);
    SourceVoice* v = nullptr;
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, reinterpret_cast<const WaveFormat*>(wav.format.data())), kOk)
        << m.engine->LastErrorText();
    if (!v) return {};
    const AudioBuffer b = audiotest::Buffer(wav.data.data(), wav.data.size());
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kOk) << m.engine->LastErrorText();
    EXPECT_EQ(v->Start(), kOk);
    WaveFormat f;
    std::memcpy(&f, wav.format.data(), sizeof f);
    const uint64_t sourceFrames = f.formatTag == kFormatAdpcm ? uint64_t(wav.data.size()) * 2 / f.channels
                                                              : wav.data.size() / f.blockAlign;
    const uint32_t frames = uint32_t(sourceFrames * outRate / f.sampleRate + outRate / 10);
    auto out = m.Render(frames);
    for (float& x : out) x *= 32768.0f;
    VoiceState st;
    v->GetState(&st);
    EXPECT_EQ(st.buffersQueued, 0u);
    *played = st.samplesPlayed;
    return out;
}

}  // namespace

TEST_F(SoxFiles, PcmAndAdpcmFilesMatchSoxDecoding) {
    struct Case { const char* name; uint32_t rate, channels; const char* encoding; } cases[] = {  // encoding: sox's options
        {"pcm16_mono", 22050, 1, "-b 16 -e signed-integer"},
        {"pcm16_stereo", 44100, 2, "-b 16 -e signed-integer"},
        {"pcm8_mono", 11025, 1, "-b 8 -e unsigned-integer"},
        {"pcm8_stereo", 32000, 2, "-b 8 -e unsigned-integer"},
        {"adpcm_mono", 22050, 1, "-e ms-adpcm"},
        {"adpcm_stereo", 44100, 2, "-e ms-adpcm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto wavPath = dir / (std::string(c.name) + ".wav");
        const auto rawPath = dir / (std::string(c.name) + ".raw");
        const auto raw48Path = dir / (std::string(c.name) + "_48k.raw");
        // Channel 1 carries 440 Hz, channel 2 (if any) 660 Hz, with a fade-in so the
        // resampled comparison is not dominated by the filters' start-up.
        Run("sox -D -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " " + c.encoding + " " +
            wavPath.string() + " synth 0.5 sine 440 sine 660 fade 0.02 0.5 0.02 vol 0.8");
        Run("sox -D " + wavPath.string() + " -t raw -e signed-integer -b 16 " + rawPath.string());
        Run("sox -D " + wavPath.string() + " -t raw -e signed-integer -b 16 -r 48000 " + raw48Path.string());

        Wav wav;
        ASSERT_TRUE(ParseWav(ReadAll(wavPath), &wav));
        const auto reference = ReadRaw16(rawPath);
        const size_t refFrames = reference.size() / c.channels;
        ASSERT_GT(refFrames, c.rate / 3);

        // At the file's own rate: sample for sample, on both output channels.
        uint64_t played = 0;
        const auto native = PlayThroughVoice(wav, c.rate, &played);
        ASSERT_FALSE(native.empty());
        EXPECT_GE(played, refFrames);
        EXPECT_LT(played, refFrames + 2048);  // ADPCM pads its last block
        double maxError = 0.0;
        for (size_t i = 0; i < refFrames; ++i)
            for (uint32_t d = 0; d < 2; ++d) {
                const float want = reference[i * c.channels + (c.channels == 2 ? d : 0)];
                maxError = std::max(maxError, double(std::fabs(native[i * 2 + d] - want)));
            }
        EXPECT_LE(maxError, 1.0);

        // Converted to 48 kHz: compared with sox's resampler after a short lead-in.
        const auto reference48 = ReadRaw16(raw48Path);
        const auto converted = PlayThroughVoice(wav, 48000, &played);
        const size_t frames48 = reference48.size() / c.channels;
        double errorSum = 0.0, signalSum = 0.0;
        for (size_t i = 256; i + 256 < frames48; ++i)
            for (uint32_t d = 0; d < 2; ++d) {
                const double want = reference48[i * c.channels + (c.channels == 2 ? d : 0)];
                const double e = converted[i * 2 + d] - want;
                errorSum += e * e;
                signalSum += want * want;
            }
        EXPECT_LT(std::sqrt(errorSum / signalSum), 0.02) << "relative RMS error after conversion";
        // Length: the voice consumed every source frame, and the tail beyond it is silent.
        const size_t tail = size_t(played * 48000 / c.rate) + 2;
        EXPECT_LT(tail, frames48 + 2048);
        for (size_t i = tail; i < converted.size() / 2; ++i) ASSERT_EQ(converted[i * 2], 0.0f) << i;
    }
}
