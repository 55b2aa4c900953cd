// test-sanitize: address
// The mixer on the manual output; expected samples come from the test's own frames and
// the documented rules (routing, linear interpolation, regions and loops).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "AudioTestUtil.h"
#include "platform/audio/MsAdpcm.h"
#include "platform/os/Clock.h"

using namespace audio;
using audiotest::Buffer;
using audiotest::ManualEngine;
using audiotest::Pcm;

namespace {

// Frame k of test buffer b (100 frames each) carries the id 1 + 125 b + k (times 40),
// so the output names the buffer and frame that played; 0 is silence.
const std::vector<int16_t> kFrames = [] {
    std::vector<int16_t> s(300);
    for (int k = 0; k < 300; ++k) s[k] = int16_t((1 + 125 * (k / 100) + k % 100) * 40);
    return s;
}();
std::vector<int16_t> Frames(int buffer) { return {kFrames.begin() + 100 * buffer, kFrames.begin() + 100 * buffer + 100}; }

struct Run { int buffer, from, to; };  // frames [from, to)
std::vector<int> Ids(std::initializer_list<Run> runs) {
    std::vector<int> ids;
    for (const Run& r : runs)
        for (int k = r.from; k < r.to; ++k) ids.push_back(1 + 125 * r.buffer + k);
    return ids;
}
// The ids on channel 0 of a stereo output, up to the first silent frame.
std::vector<int> Played(const std::vector<float>& out) {
    std::vector<int> ids;
    for (size_t i = 0; i < out.size() / 2 && out[2 * i] != 0.0f; ++i) ids.push_back(int(std::lround(out[2 * i] * 32768 / 40)));
    return ids;
}
bool AllOk(std::initializer_list<Result> results) {  // evaluated in order
    return std::all_of(results.begin(), results.end(), [](Result r) { return r == kOk; });
}
AudioBuffer Region(const std::vector<int16_t>& s, bool eos, uint32_t begin, uint32_t length, uint32_t loopBegin = 0,
                   uint32_t loopLength = 0, uint32_t loopCount = 0) {
    AudioBuffer b = Buffer(s, eos);
    b.playBegin = begin, b.playLength = length, b.loopBegin = loopBegin, b.loopLength = loopLength, b.loopCount = loopCount;
    return b;
}

}  // namespace

// Source frame k, channel s, is (k + 1) x 800 x (1 or -2). Each output sample is the
// sum over source channels of sample x level x volume x master volume, clipped; then the stream ends.
TEST(AudioMixer, EveryLayoutRoutesThroughMatrixVolumeAndMasterVolume) {
    struct Case { uint32_t src, dst; std::vector<float> matrix; bool set; float volume, master; };  // matrix [d * src + s]
    const Case cases[] = {
        {1, 1, {1}, false, 1, 1}, {1, 2, {1, 1}, false, 1, 1}, {1, 6, {1, 1, 1, 1, 1, 1}, false, 1, 1},
        {2, 1, {0.5f, 0.5f}, false, 1, 1}, {2, 2, {1, 0, 0, 1}, false, 1, 1}, {2, 4, {1, 0, 0, 1, 0, 0, 0, 0}, false, 1, 1},
        {1, 2, {0.5f, -2}, true, 1, 1}, {2, 2, {0, 1, 1, 0}, true, 1, 1}, {2, 2, {1, 0.5f, -0.25f, 1}, true, 0.5f, 1},
        {2, 3, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f}, true, 1, 0.5f}, {1, 1, {1}, true, 4, 0.25f},
        {2, 2, {1, 0, 0, 1}, false, 5, 1},  // clipped at full scale, both signs
        {1, 2, {1, 1}, false, 1e-19f, 1},   // far below hearing: exactly silent, no denormal numbers
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.src << " into " << c.dst << " at volume " << c.volume);
        ManualEngine m(48000, c.dst);
        std::vector<int16_t> frames(11 * c.src);
        for (size_t i = 0; i < frames.size(); ++i) frames[i] = int16_t(int(i / c.src + 1) * 800 * (i % c.src ? -2 : 1));
        SourceVoice* v = m.Voice(Pcm(uint16_t(c.src), 48000));
        ASSERT_EQ(c.set ? v->SetOutputMatrix(m.master, c.src, c.dst, c.matrix.data()) : kOk, kOk);
        const AudioBuffer b = Buffer(frames);
        ASSERT_TRUE(AllOk({v->SetVolume(c.volume), m.master->SetVolume(c.master), v->SubmitSourceBuffer(&b), v->Start()}));
        const auto out = m.Render(12);
        for (uint32_t k = 0; k < 12 * c.dst; ++k) {
            double want = 0.0;
            for (uint32_t s = 0; k / c.dst < 11 && s < c.src && c.volume > 1e-18f; ++s)
                want += frames[k / c.dst * c.src + s] / 32768.0 * c.matrix[k % c.dst * c.src + s] * c.volume * c.master;
            ASSERT_NEAR(out[k], std::clamp(want, -1.0, 1.0), want == 0.0 ? 0.0 : 1e-6) << "sample " << k;
        }
        EXPECT_TRUE(m.Debug(v).samplesPlayed == 11 && m.Debug(v).streamEnded);
    }
}

// Output frame j stands at source position x = j x source rate x ratio / output rate
// and must lie on the line between source frames floor(x) and floor(x) + 1, up to the
// 14-bit fraction, across quanta, windows and the loop's wrap. The source is random, so a frame out of place shows.
TEST(AudioMixer, ResampledFramesLieOnTheLineBetweenTheirSourceFrames) {
    struct Case { uint16_t channels, bits; uint32_t rate; float ratio; uint32_t outRate; };
    const Case cases[] = {{1, 16, 22050, 1, 48000}, {2, 16, 44100, 0.8f, 48000}, {1, 16, 48000, 1.37f, 48000},
                          {2, 16, 11025, 2, 44100}, {1, 8, 32000, 0.5f, 48000},  {2, 8, 8000, 1.9f, 22050},
                          {1, 16, 1000, 0.001f, 200000}, {1, 16, 200000, 2, 1000}};
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " x " << c.bits << " bits at " << c.rate << " x " << c.ratio);
        constexpr uint32_t kFrames = 1000, kOut = 5003;
        std::vector<uint8_t> data(kFrames * c.channels * c.bits / 8);
        for (uint8_t& byte : data) byte = uint8_t(random());
        const auto sample = [&](uint32_t frame, uint32_t channel) {
            const size_t i = size_t(frame % kFrames) * c.channels + channel;
            int16_t v = int16_t((data[i] - 128) * 256);
            if (c.bits == 16) std::memcpy(&v, &data[2 * i], 2);
            return double(v);
        };
        ManualEngine m(c.outRate, 2);
        SourceVoice* v = m.Voice(Pcm(c.channels, c.rate, c.bits));
        AudioBuffer b = Buffer(data.data(), data.size());
        b.loopCount = kLoopInfinite;
        ASSERT_TRUE(AllOk({v->SubmitSourceBuffer(&b), v->SetFrequencyRatio(c.ratio), v->Start()}));
        const auto out = m.Render(kOut);
        const double step = double(c.rate) * c.ratio / c.outRate;
        for (uint32_t j = 0; j < kOut * 2; ++j) {
            const double x = j / 2 * step, f = x - std::floor(x);
            const uint32_t k = uint32_t(x), ch = c.channels == 2 ? j % 2 : 0;
            const double a = sample(k, ch), next = sample(k + 1, ch), before = sample(k + kFrames - 1, ch);
            // The position may round to just before frame k: the slope on both sides counts.
            ASSERT_NEAR(out[j] * 32768.0, a + (next - a) * f, (std::fabs(next - a) + std::fabs(a - before)) / 16000 + 0.01)
                << "sample " << j;
        }
        EXPECT_NEAR(double(m.Debug(v).samplesPlayed), kOut * step, 1.0);
    }
}

TEST(AudioMixer, QueuedBuffersPlayTheirRegionsAndLoopsInOrder) {
    struct Submit { int buffer; uint32_t begin, length, loopBegin, loopLength, loopCount; };
    struct Case { std::vector<Submit> queue; std::vector<int> played; };  // the last buffer ends the stream
    const Case cases[] = {
        {{{0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {2, 0, 0, 0, 0, 0}}, Ids({{0, 0, 100}, {1, 0, 100}, {2, 0, 100}})},
        {{{0, 10, 30, 0, 0, 0}}, Ids({{0, 10, 40}})},
        {{{1, 90, 0, 0, 0, 0}}, Ids({{1, 90, 100}})},
        {{{0, 0, 0, 20, 40, 2}}, Ids({{0, 0, 60}, {0, 20, 60}, {0, 20, 60}, {0, 60, 100}})},
        {{{0, 0, 80, 50, 0, 1}, {1, 0, 10, 0, 0, 0}}, Ids({{0, 0, 80}, {0, 50, 80}, {1, 0, 10}})},
        {{{2, 5, 3, 6, 1, 3}}, Ids({{2, 5, 7}, {2, 6, 7}, {2, 6, 7}, {2, 6, 8}})},
    };
    const std::vector<int16_t> buffers[3] = {Frames(0), Frames(1), Frames(2)};
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        ManualEngine m;
        SourceVoice* v = m.Voice(Pcm(1, 48000));
        for (const Submit& s : cases[i].queue) {
            const AudioBuffer b = Region(buffers[s.buffer], &s == &cases[i].queue.back(), s.begin, s.length, s.loopBegin,
                                         s.loopLength, s.loopCount);
            ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk) << m.engine->LastErrorText();
        }
        ASSERT_EQ(v->Start(), kOk);
        EXPECT_EQ(Played(m.Render(uint32_t(cases[i].played.size()) + 10)), cases[i].played);
    }
}

// The queue is a ring of kMaxQueuedBuffers: refilled as buffers finish, it keeps their order across its wrap.
TEST(AudioMixer, BufferRingKeepsItsOrderAcrossTheWrap) {
    ManualEngine m;
    SourceVoice* v = m.Voice(Pcm(1, 48000));
    std::vector<int> want;
    const auto submit = [&](uint32_t n) {  // buffers of one frame: frames 0, 7, 14, ... of kFrames
        for (uint32_t i = 0; i < n; ++i) {
            const int k = int(want.size() * 7 % 300);
            const AudioBuffer b = Region(kFrames, false, uint32_t(k), 1);
            ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
            want.push_back(Ids({{k / 100, k % 100, k % 100 + 1}})[0]);
        }
    };
    submit(kMaxQueuedBuffers);
    const AudioBuffer extra = Buffer(kFrames);
    EXPECT_EQ(v->SubmitSourceBuffer(&extra), kErrorInvalidCall);
    ASSERT_EQ(v->Start(), kOk);
    auto played = Played(m.Render(40));
    submit(40);  // fills the ring again across its end
    const auto rest = Played(m.Render(100));
    played.insert(played.end(), rest.begin(), rest.end());
    want.pop_back();  // without an end of stream the last frame waits for more
    EXPECT_EQ(played, want);
}

TEST(AudioMixer, EndlessLoopRunsUntilExitLoopIsCommittedThenPlaysOn) {
    ManualEngine m;
    const auto frames = Frames(0);
    SourceVoice* v = m.Voice(Pcm(1, 48000));
    const AudioBuffer b = Region(frames, true, 0, 0, 20, 40, 255);  // the documented endless count
    ASSERT_TRUE(AllOk({v->SubmitSourceBuffer(&b), v->Start()}));
    m.Render(2060);  // 60 frames and 50 passes
    ASSERT_EQ(v->ExitLoop(1), kOk);
    m.Render(40);
    EXPECT_EQ(m.Debug(v).loopsLeft, 255u);
    ASSERT_EQ(m.engine->CommitChanges(1), kOk);
    EXPECT_EQ(Played(m.Render(100)), Ids({{0, 20, 60}, {0, 60, 100}}));
}

TEST(AudioMixer, StopHoldsThePlaceAndAStarvedStreamGoesOnWhereItWas) {
    ManualEngine m;
    const std::vector<int16_t> first = Frames(0), second = Frames(1);
    SourceVoice* v = m.Voice(Pcm(1, 48000));
    AudioBuffer b = Buffer(first, false);
    b.context = &m;
    ASSERT_TRUE(AllOk({v->SubmitSourceBuffer(&b), v->Start()}));
    EXPECT_EQ(Played(m.Render(1)), Ids({{0, 0, 1}}));
    EXPECT_EQ(Played(m.Render(29)), Ids({{0, 1, 30}}));
    ASSERT_TRUE(AllOk({v->Stop(kPlayTails, 1), m.engine->CommitChanges(1)}));
    EXPECT_EQ(v->Stop(0x1), kErrorInvalidArg);
    EXPECT_TRUE(Played(m.Render(50)).empty());
    VoiceState st;
    v->GetState(&st);
    EXPECT_TRUE(st.samplesPlayed == 30 && st.buffersQueued == 1 && st.currentBufferContext == &m);

    // Starved without an end of stream, the last frame waits for the next buffer.
    ASSERT_EQ(v->Start(), kOk);
    EXPECT_EQ(Played(m.Render(80)), Ids({{0, 30, 99}}));
    v->GetState(&st);
    EXPECT_TRUE(st.buffersQueued == 0 && st.currentBufferContext == nullptr && !m.Debug(v).streamEnded);
    b = Buffer(second);
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    EXPECT_EQ(Played(m.Render(110)), Ids({{0, 99, 100}, {1, 0, 100}}));
    EXPECT_TRUE(m.Debug(v).streamEnded);
    b = Buffer(first);  // after the end, a new stream from the buffer's first frame
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    EXPECT_EQ(Played(m.Render(3)), Ids({{0, 0, 3}}));
    EXPECT_FALSE(m.Debug(v).streamEnded);
}

TEST(AudioMixer, AdpcmBlockWithABadPredictorPlaysAsSilence) {
    ManualEngine m;
    std::vector<uint8_t> blocks(128, 0x77);  // two blocks of 116 frames
    blocks[0] = 6;
    blocks[64] = 7;
    SourceVoice* v = m.Voice({kFormatAdpcm, 1, 48000, 24000, 64, 4, 0});
    const AudioBuffer b = Buffer(blocks.data(), blocks.size());
    ASSERT_TRUE(AllOk({v->SubmitSourceBuffer(&b), v->Start()}));
    const auto out = m.Render(240);
    EXPECT_NE(out[2 * 10], 0.0f);
    EXPECT_EQ(std::vector<float>(out.begin() + 2 * 116, out.end()), std::vector<float>(out.size() - 2 * 116, 0.0f));
    // Block aligns and channel counts without a whole block are refused before any byte is read.
    EXPECT_TRUE(!AdpcmDecodeBlock(blocks.data(), 6, 1, nullptr) && AdpcmSamplesPerBlock(64, 0) + AdpcmSamplesPerBlock(64, 3) == 0);
}

TEST(AudioMixer, VoiceCreationRefusesWhatTheMixerCannotPlay) {
    const auto adpcm = [](uint16_t ch, uint16_t align, uint16_t bits = 4) {
        return WaveFormat{kFormatAdpcm, ch, 22050, 11025, align, bits, 0};
    };
    const auto tagged = [](uint16_t tag) { return WaveFormat{tag, 1, 48000, 192000, 4, 32, 0}; };
    constexpr Result kNo = kErrorUnsupportedFormat, kBad = kErrorInvalidArg;
    struct Case { WaveFormat f; uint32_t flags; float maxRatio; Result expected; };
    const Case cases[] = {
        {Pcm(1, 1000), 0, 2, kOk}, {Pcm(1, 999), 0, 2, kNo}, {Pcm(2, 200000), 0, 2, kOk}, {Pcm(2, 200001), 0, 2, kNo},
        {Pcm(1, 44100, 8), 0, 2, kOk}, {Pcm(1, 44100, 24), 0, 2, kNo}, {Pcm(3, 44100), 0, 2, kNo},
        {{kFormatPcm, 1, 44100, 176400, 4, 16, 0}, 0, 2, kNo}, {{kFormatPcm, 0, 44100, 0, 0, 16, 0}, 0, 2, kNo},
        {tagged(kFormatIeeeFloat), 0, 2, kNo}, {tagged(kFormatExtensible), 0, 2, kNo}, {tagged(kFormatWma2), 0, 2, kNo},
        {tagged(kFormatWma3), 0, 2, kNo}, {adpcm(1, 7), 0, 2, kOk}, {adpcm(1, 6), 0, 2, kNo}, {adpcm(2, 14), 0, 2, kOk},
        {adpcm(2, 13), 0, 2, kNo}, {adpcm(1, 8192), 0, 2, kOk}, {adpcm(1, 8193), 0, 2, kNo}, {adpcm(1, 256, 8), 0, 2, kNo},
        {adpcm(3, 256), 0, 2, kNo}, {Pcm(1, 48000), kVoiceNoSrc | kVoiceNoPitch | kVoiceMusic, 2, kOk},
        {Pcm(1, 44100), kVoiceNoSrc, 2, kBad}, {Pcm(1, 44100), 0x8, 2, kBad}, {Pcm(1, 44100), 0, kMinFrequencyRatio, kOk},
        {Pcm(1, 44100), 0, kMinFrequencyRatio * 0.99f, kBad}, {Pcm(1, 44100), 0, kMaxFrequencyRatio, kOk},
        {Pcm(1, 44100), 0, kMaxFrequencyRatio * 1.01f, kBad}, {Pcm(1, 44100), 0, NAN, kBad},
    };
    ManualEngine m;  // 48 kHz stereo
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SourceVoice* v = reinterpret_cast<SourceVoice*>(&m);
        ASSERT_EQ(m.engine->CreateSourceVoice(&v, &c.f, c.flags, c.maxRatio), c.expected) << i;
        EXPECT_EQ(v == nullptr, c.expected != kOk) << i;
    }
    SourceVoice* v = nullptr;
    m.engine->CreateSourceVoice(&v, &cases[11].f);
    EXPECT_NE(std::string(m.engine->LastErrorText()).find("xWMA"), std::string::npos);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, nullptr), kBad);
    const auto some = reinterpret_cast<void*>(&m);  // none of them is supported
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &cases[0].f, 0, 2, static_cast<VoiceCallback*>(some)), kBad);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &cases[0].f, 0, 2, nullptr, static_cast<SendList*>(some)), kBad);
    EXPECT_EQ(m.engine->CreateSourceVoice(&v, &cases[0].f, 0, 2, nullptr, nullptr, static_cast<EffectChain*>(some)), kBad);
}

// A full MS-ADPCM extension must declare the samples per block its block align gives
// and carry the seven standard coefficient pairs.
TEST(AudioMixer, AdpcmExtensionMustMatchTheStandardDecoder) {
    struct __attribute__((packed)) Adpcm { WaveFormat f; uint16_t samplesPerBlock, coefCount; int16_t coefs[14]; };
    Adpcm standard = {{kFormatAdpcm, 1, 22050, 11155, 256, 4, 32}, 500, 7, {}};
    std::memcpy(standard.coefs, kAdpcmCoefficients, sizeof standard.coefs);
    const std::pair<void (*)(Adpcm&), Result> cases[] = {
        {[](Adpcm&) {}, kOk}, {[](Adpcm& a) { a.f.extraSize = 0; }, kOk},
        {[](Adpcm& a) { a.samplesPerBlock = 499; }, kErrorUnsupportedFormat},
        {[](Adpcm& a) { a.coefCount = 6; }, kErrorUnsupportedFormat},
        {[](Adpcm& a) { a.f.extraSize = 31; }, kErrorUnsupportedFormat},
        {[](Adpcm& a) { a.f.extraSize = 3; }, kErrorUnsupportedFormat},
        {[](Adpcm& a) { a.coefs[0] = 255; }, kErrorUnsupportedFormat},
        {[](Adpcm& a) { a.coefs[13] = -231; }, kErrorUnsupportedFormat},
    };
    ManualEngine m;
    for (size_t i = 0; i < std::size(cases); ++i) {
        Adpcm a = standard;
        cases[i].first(a);
        SourceVoice* v = nullptr;
        EXPECT_EQ(m.engine->CreateSourceVoice(&v, &a.f), cases[i].second) << i << " " << m.engine->LastErrorText();
    }
}

TEST(AudioMixer, SubmittedBuffersMustLieInsideTheirData) {
    struct Case { uint32_t flags, bytes, begin, length, loopBegin, loopLength, loopCount; Result expected; };
    const Case cases[] = {  // a stereo voice; 256 bytes are 64 frames
        {0, 256, 0, 0, 0, 0, 0, kOk}, {kEndOfStream, 4, 0, 0, 0, 0, 0, kOk}, {0x80, 256, 0, 0, 0, 0, 0, kErrorInvalidArg},
        {0, 0, 0, 0, 0, 0, 0, kErrorInvalidArg}, {0, 254, 0, 0, 0, 0, 0, kErrorInvalidArg},
        {0, 256, 63, 1, 0, 0, 0, kOk}, {0, 256, 63, 0, 0, 0, 0, kOk}, {0, 256, 64, 0, 0, 0, 0, kErrorInvalidArg},
        {0, 256, 8, 56, 0, 0, 0, kOk}, {0, 256, 8, 57, 0, 0, 0, kErrorInvalidArg},
        {0, 256, 8, 8, 8, 8, 1, kOk}, {0, 256, 8, 8, 8, 0, 254, kOk}, {0, 256, 8, 8, 15, 1, 255, kOk},
        {0, 256, 8, 8, 8, 8, 256, kErrorInvalidArg}, {0, 256, 8, 8, 7, 1, 1, kErrorInvalidArg},
        {0, 256, 8, 8, 16, 0, 1, kErrorInvalidArg}, {0, 256, 8, 8, 12, 5, 1, kErrorInvalidArg},
        {0, 256, 0, 0, 4, 0, 0, kErrorInvalidArg}, {0, 256, 0, 0, 0, 4, 0, kErrorInvalidArg},
    };
    ManualEngine m;
    std::vector<int16_t> data(128, 0);
    SourceVoice* v = m.Voice(Pcm(2, 48000));
    uint32_t accepted = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        AudioBuffer b = Region(data, false, c.begin, c.length, c.loopBegin, c.loopLength, c.loopCount);
        b.flags = c.flags, b.audioBytes = c.bytes;
        EXPECT_EQ(v->SubmitSourceBuffer(&b), c.expected) << i;
        accepted += c.expected == kOk;
        EXPECT_EQ(m.Debug(v).buffersQueued, accepted) << i;
    }
    AudioBuffer b;  // the defaults: all of the data, once, more to follow
    b.audioData = reinterpret_cast<const uint8_t*>(data.data()), b.audioBytes = 4;
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kOk);
    PacketTable packets;
    EXPECT_TRUE(v->SubmitSourceBuffer(&b, &packets) == kErrorInvalidCall && v->SubmitSourceBuffer(nullptr) == kErrorInvalidArg);
    b.audioData = nullptr;
    EXPECT_EQ(v->SubmitSourceBuffer(&b), kErrorInvalidArg);

    // ADPCM regions and loops follow whole blocks of 500 frames (256 bytes).
    SourceVoice* a = m.Voice({kFormatAdpcm, 1, 22050, 11155, 256, 4, 0});
    const std::vector<int16_t> blocks(256, 0);
    for (const auto& [bytes, begin, length, loop, expected] :
         {std::tuple{300u, 0u, 0u, 0u, kErrorInvalidArg}, {512u, 10u, 0u, 0u, kErrorInvalidArg}, {512u, 500u, 0u, 0u, kOk},
          {512u, 0u, 500u, 0u, kOk}, {512u, 0u, 490u, 0u, kErrorInvalidArg}, {512u, 0u, 0u, 500u, kOk},
          {512u, 0u, 0u, 250u, kErrorInvalidArg}}) {
        b = Region(blocks, true, begin, length, loop, 0, loop ? 1 : 0);
        b.audioBytes = bytes;
        EXPECT_EQ(a->SubmitSourceBuffer(&b), expected) << bytes << " " << begin << " " << length << " " << loop;
    }
}

TEST(AudioMixer, ParameterCallsRefuseValuesOutsideTheirRange) {
    ManualEngine m;
    SourceVoice* v = m.Voice(Pcm(2, 22050));
    for (const auto& [ratio, expected] : {std::pair{2.0f, kOk}, {std::nextafter(2.0f, 3.0f), kErrorInvalidCall}, {1.0f, kOk},
                                          {kMinFrequencyRatio, kOk}, {std::nextafter(kMinFrequencyRatio, 0.0f), kErrorInvalidCall},
                                          {NAN, kErrorInvalidCall}}) {
        EXPECT_EQ(v->SetFrequencyRatio(ratio, 1), expected) << ratio;  // refused before it is queued
        EXPECT_EQ(v->SetFrequencyRatio(ratio), expected) << ratio;
    }
    EXPECT_TRUE(m.Debug(v).pendingOperations == 3 && m.Debug(v).frequencyRatio == kMinFrequencyRatio);
    EXPECT_NE(std::string(m.engine->LastErrorText()).find("SetFrequencyRatio"), std::string::npos);
    SourceVoice* fixed = m.Voice(Pcm(1, 22050), kVoiceNoPitch);
    EXPECT_EQ(fixed->SetFrequencyRatio(1.0f), kErrorInvalidCall);

    for (const auto& [volume, expected] : {std::pair{kMaxVolumeLevel, kOk}, {-kMaxVolumeLevel, kOk}, {-INFINITY, kErrorInvalidArg},
                                           {std::nextafter(kMaxVolumeLevel, INFINITY), kErrorInvalidArg}, {NAN, kErrorInvalidArg}, {0.25f, kOk}}) {
        EXPECT_EQ(v->SetVolume(volume), expected) << volume;
        EXPECT_EQ(m.master->SetVolume(volume), expected) << volume;
    }
    EXPECT_EQ(m.Debug(v).volume, 0.25f);

    const float levels[4] = {0.5f, 0.25f, 0.125f, 1.0f}, nan[4] = {0, 0, 0, NAN}, loud[4] = {0, 0, 0, kMaxVolumeLevel * 2};
    ManualEngine other;
    EXPECT_TRUE(v->SetOutputMatrix(other.master, 2, 2, levels) == kErrorInvalidCall && v->SetOutputMatrix(fixed, 2, 2, levels) == kErrorInvalidCall);
    for (const auto& [src, dst, l] : {std::tuple{1u, 2u, levels}, {2u, 1u, levels}, {2u, 2u, static_cast<const float*>(nullptr)}, {2u, 2u, nan}, {2u, 2u, loud}})
        EXPECT_EQ(v->SetOutputMatrix(nullptr, src, dst, l), kErrorInvalidArg) << src << dst;
    EXPECT_EQ(m.Debug(v).outputMatrix[1], 0.0f);
    EXPECT_TRUE(v->SetOutputMatrix(m.master, 2, 2, levels) == kOk && m.Debug(v).outputMatrix[1] == 0.25f);
    EXPECT_TRUE(m.master->SetOutputMatrix(nullptr, 2, 2, levels) == kErrorInvalidCall && v->Start(1) == kErrorInvalidArg);
}

TEST(AudioMixer, OperationSetsApplyTogetherAtTheirCommitAndSetZeroAtOnce) {
    ManualEngine m;
    const std::vector<int16_t> dc(4800, 16384);
    SourceVoice* v = m.Voice(Pcm(1, 48000));
    const AudioBuffer b = Buffer(dc);
    ASSERT_EQ(v->SubmitSourceBuffer(&b), kOk);
    ASSERT_TRUE(AllOk({v->Start(0, 1), v->SetVolume(0.1f, 1), v->SetVolume(0.25f, 1), v->SetFrequencyRatio(2.0f, 2)}));
    EXPECT_TRUE(m.Debug(v).pendingOperations == 4 && !m.Debug(v).started);
    EXPECT_EQ(m.Render(10)[0], 0.0f);
    ASSERT_EQ(m.engine->CommitChanges(1), kOk);
    EXPECT_TRUE(m.Debug(v).frequencyRatio == 1.0f && m.Debug(v).started && m.Debug(v).pendingOperations == 1);
    EXPECT_EQ(m.Render(10)[0], 0.125f);  // the later volume of the set

    // Set 0 applies at once even with a change of the same property queued.
    // (A level change reaches the output over the 5 ms ramp: 240 frames at 48 kHz.)
    ASSERT_TRUE(AllOk({v->SetVolume(0.0f, 1), v->SetVolume(1.0f, kCommitNow), m.master->SetVolume(0.5f, 3)}));
    EXPECT_EQ(m.Render(240).back(), 0.5f);
    ASSERT_EQ(m.engine->CommitChanges(kCommitAll), kOk);  // every set, in call order
    EXPECT_TRUE(m.Debug(v).volume == 0.0f && m.Debug(v).frequencyRatio == 2.0f);
    ASSERT_EQ(v->SetVolume(1.0f), kOk);
    EXPECT_EQ(m.Render(240).back(), 0.25f);

    // Voices are listed in creation order, as many as fit; a destroyed voice's queued changes go with it.
    SourceVoice* second = m.Voice(Pcm(2, 16000, 8));
    VoiceDebugState states[1];
    EXPECT_EQ(m.engine->GetVoiceDebugStates(states, 1), 2u);
    EXPECT_EQ(states[0].voice, v);
    PerformanceData pd;
    ASSERT_EQ(second->Start(), kOk);
    m.engine->GetPerformanceData(&pd);
    m.engine->GetPerformanceData(nullptr);
    EXPECT_TRUE(pd.totalSourceVoiceCount == 2 && pd.activeSourceVoiceCount == 2);
    ASSERT_EQ(v->SetVolume(0.3f, 5), kOk);
    v->DestroyVoice();
    EXPECT_EQ(m.engine->CommitChanges(5), kOk);
    EXPECT_EQ(m.engine->GetVoiceDebugStates(states, 1), 1u);
    EXPECT_TRUE(states[0].voice == second && states[0].sampleRate == 16000 && states[0].inputChannels == 2);
}

TEST(AudioMixer, EngineAndMasteringVoiceRefuseWhatTheOutputCannotDoAndFaultsFailCleanly) {
    EngineOptions o;
    o.output = OutputKind::kManual;
    for (const auto& [rate, channels, wantRate, wantChannels] :
         {std::tuple{1000u, 8u, 1000u, 8u}, {999u, 0u, 48000u, 2u}, {200001u, 9u, 48000u, 2u}, {200000u, 1u, 200000u, 1u}}) {
        o.sampleRate = rate, o.channels = channels;
        AudioEngine* e = nullptr;
        ASSERT_EQ(CreateAudioEngine(&e, &o), kOk);
        MasteringVoice* mv = nullptr;
        EXPECT_EQ(e->CreateMasteringVoice(&mv), kErrorInvalidCall);  // before Initialize
        ASSERT_EQ(e->Initialize(0, kAnyProcessor), kOk);
        EXPECT_EQ(e->Initialize(0, kAnyProcessor), kErrorInvalidCall);
        ASSERT_EQ(e->CreateMasteringVoice(&mv), kOk);
        VoiceDetails d;
        mv->GetVoiceDetails(&d);
        EXPECT_TRUE(d.inputSampleRate == wantRate && d.inputChannels == wantChannels) << rate << " " << channels;
        EXPECT_EQ(e->CreateMasteringVoice(&mv), kErrorInvalidCall);
        e->Release();
    }
    AudioEngine* e = nullptr;
    ASSERT_EQ(CreateAudioEngine(&e, &o), kOk);
    EXPECT_EQ(e->Initialize(0x2, kAnyProcessor), kErrorInvalidArg);
    ASSERT_EQ(e->Initialize(kDebugEngine, 3), kOk);
    MasteringVoice* mv = nullptr;
    for (const auto& [channels, rate, flags, device] :
         {std::tuple{9u, 48000u, 0u, 0u}, {2u, 999u, 0u, 0u}, {2u, 200001u, 0u, 0u}, {2u, 48000u, 1u, 0u}, {2u, 48000u, 0u, 1u}}) {
        EXPECT_EQ(e->CreateMasteringVoice(&mv, channels, rate, flags, device), kErrorInvalidArg) << channels << " " << rate;
        EXPECT_EQ(mv, nullptr);
    }
    ASSERT_EQ(e->CreateMasteringVoice(&mv, 8, 200000), kOk);
    mv->DestroyVoice();
    ASSERT_EQ(e->CreateMasteringVoice(&mv, 1, 1000), kOk);
    e->Release();

    o.sampleRate = 48000, o.channels = 2;
    EXPECT_EQ(CreateAudioEngine(nullptr), kErrorInvalidArg);
    SetEngineFault(EngineFault::kCreate);
    EXPECT_TRUE(CreateAudioEngine(&e) != kOk && e == nullptr);
    SetEngineFault(EngineFault::kInitialize);
    ASSERT_EQ(CreateAudioEngine(&e, &o), kOk);
    EXPECT_NE(e->Initialize(0, kAnyProcessor), kOk);
    SetEngineFault(EngineFault::kMasteringVoice);
    EXPECT_EQ(e->Initialize(0, kAnyProcessor), kOk);
    mv = reinterpret_cast<MasteringVoice*>(e);  // cleared by the refusal
    EXPECT_TRUE(e->CreateMasteringVoice(&mv) != kOk && mv == nullptr);
    SetEngineFault(EngineFault::kNone);
    SourceVoice* sv = nullptr;
    const WaveFormat f = Pcm(1, 48000);
    EXPECT_EQ(e->CreateSourceVoice(&sv, &f), kErrorInvalidCall);
    EXPECT_EQ(e->Render(480, nullptr) + e->RenderDue(nullptr, 480), 0u);
    EXPECT_EQ(e->Release(), 0u);
}

TEST(AudioMixer, RenderDueFollowsTheReplaceableClock) {
    os::ManualClock clock(1000);
    clock.Install();
    {
        ManualEngine m;
        const std::vector<int16_t> tone(4800, 1000);  // 100 ms
        SourceVoice* v = m.Voice(Pcm(1, 48000));
        const AudioBuffer b = Buffer(tone);
        ASSERT_TRUE(AllOk({v->SubmitSourceBuffer(&b), v->Start()}));
        EXPECT_EQ(m.engine->RenderDue(nullptr, 100000), 0u);
        clock.Advance(os::kCounterFrequency * 30 / 1000);  // 30 ms
        EXPECT_EQ(m.engine->RenderDue(nullptr, 100000), 1440u);
        clock.Advance(os::kCounterFrequency * 75 / 1000);
        std::vector<float> out(1000 * 2);
        EXPECT_EQ(m.engine->RenderDue(out.data(), 1000), 1000u);  // the rest stays due
        EXPECT_EQ(m.engine->RenderDue(nullptr, 100000), 2600u);
        EXPECT_EQ(m.Debug(v).buffersQueued, 0u);
        PerformanceData pd;
        m.engine->GetPerformanceData(&pd);
        EXPECT_EQ(pd.framesRendered, 5040u);
    }
    clock.Uninstall();
}

// An instant volume or pan change must not click: around the change the largest step
// between neighbouring output samples stays within twice the tone's own largest step,
// and the new levels are reached within the ramp (5 ms).
TEST(AudioMixer, VolumeAndPanChangesRampWithoutAClick) {
    constexpr uint32_t kRate = 48000;
    std::vector<int16_t> tone(kRate / 2 * 2);
    for (size_t k = 0; k < tone.size() / 2; ++k)
        tone[2 * k] = tone[2 * k + 1] = int16_t(std::lrint(16000.0 * std::sin(2.0 * M_PI * 440.0 * double(k) / kRate)));
    double own = 0.0;
    for (size_t k = 2; k < tone.size(); k += 2) own = std::max(own, std::fabs(double(tone[k] - tone[k - 2])) / 32768.0);
    struct Case { const char* name; float volume, master; std::vector<float> matrix; };
    const Case cases[] = {
        {"volume down", 0.05f, 1.0f, {1, 0, 0, 1}},
        {"volume up", 4.0f, 1.0f, {1, 0, 0, 1}},
        {"to silence", 0.0f, 1.0f, {1, 0, 0, 1}},
        {"pan swap", 1.0f, 1.0f, {0, 1, 1, 0}},
        {"master volume", 1.0f, 0.1f, {1, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualEngine m(kRate, 2);
        SourceVoice* v = m.Voice(Pcm(2, kRate));
        const AudioBuffer b = Buffer(tone);
        const float straight[4] = {1, 0, 0, 1};
        ASSERT_TRUE(AllOk({v->SetOutputMatrix(m.master, 2, 2, straight), v->SetVolume(0.25f), v->SubmitSourceBuffer(&b), v->Start()}));
        std::vector<float> out = m.Render(1237);  // the change falls inside a quantum
        ASSERT_TRUE(AllOk({v->SetVolume(c.volume * 0.25f), m.master->SetVolume(c.master),
                           v->SetOutputMatrix(m.master, 2, 2, c.matrix.data())}));
        const std::vector<float> after = m.Render(4800);
        out.insert(out.end(), after.begin(), after.end());
        // A gain of 1 (volume 4 x 0.25) may reach 0.49 per sample: the tone at full level.
        const double scale = std::max(0.25, double(c.volume) * 0.25 * c.master);
        double worst = 0.0;
        for (size_t i = 2; i < out.size(); ++i) worst = std::max(worst, double(std::fabs(out[i] - out[i - 2])));
        EXPECT_LE(worst, 2.0 * own * scale);
        // 5 ms after the change the levels are the new ones, exactly.
        for (size_t f = 1237 + 240; f < 1237 + 4800; f += 97) {
            for (uint32_t d = 0; d < 2; ++d) {
                const double want = (tone[2 * f] * c.matrix[d * 2] + tone[2 * f + 1] * c.matrix[d * 2 + 1]) / 32768.0 *
                                    c.volume * 0.25 * c.master;
                ASSERT_NEAR(out[2 * f + d], want, 1e-6) << "frame " << f;
            }
        }
    }
}
