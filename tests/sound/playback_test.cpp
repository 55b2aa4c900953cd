// test-sanitize: address
// test-timeout: 600
// Sounds played through the sound engine, stepped wake by wake on a ManualClock over
// the manual output at the file's rate and channel count with unity levels: what the
// voices render is compared with sox's and ffmpeg's decoding of the same files, passes
// and loops are counted in frames, and the failure paths are read from the log.
//
// The streams alone: the static data source's chunk queue, OGGStream's format and samples
// (the playback above compares every rate and channel count with sox and ffmpeg), chained
// files whose second link changes the rate, damaged files, the decode block pool, and the
// resources' RIFF reader as the sound code relies on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <filesystem>
#include <string>
#include <vector>

#include "SoundTestSupport.h"
#include "core/CRC32.h"
#include "core/CrtRand.h"
#include "render/sound/ResourceSound.h"
#include "render/sound/RiffChunkReader.h"
#include "sound/FixedBlockPool.h"
#include "sound/SoundStream.h"

using namespace soundtest;

namespace {

std::vector<int16_t> Repeat(const std::vector<std::vector<int16_t>>& parts) {
    std::vector<int16_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Playback : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        log.Attach();
    }
    // Restarts the engine on another output format.
    void Restart(uint32_t rate, uint32_t channels) {
        if (started) engine->Stop();
        captured.clear();
        framesPlayed = 0;
        StartEngine(rate, channels);
    }
    uint32_t Play(const char* name, const SoundParamWrapper& params) { return engine->PlaySystemSound(name, &params); }
    // Plays to the end; the frames the voice consumed.
    uint64_t PlayToEnd(const char* name, const SoundParamWrapper& params) {
        const uint32_t id = Play(name, params);
        EXPECT_NE(id, 0u);
        EXPECT_TRUE(RunUntilSilentCounting());
        return framesPlayed;
    }
    bool RunUntilSilentCounting() {
        StepCounting();
        return WaitUntil([&] { return !SoundInstanceBase::First() || (StepCounting(), false); }, 60.0);
    }
    void StepCounting() {
        const bool voiced = !VoiceStates().empty();
        Step();
        for (const audio::VoiceDebugState& s : VoiceStates()) framesPlayed = std::max(framesPlayed, s.samplesPlayed);
        if (!voiced) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    uint64_t framesPlayed = 0;
    CaptureLogSink log;
};

}  // namespace

TEST_F(Playback, OggAsStaticAndStreamedSoundEqualsSoxDecoding) {
    struct Case {
        uint32_t rate, channels;
    };
    for (const Case c : {Case{22050, 1}, Case{44100, 2}, Case{48000, 1}, Case{48000, 2}}) {
        const std::string name = "tone" + std::to_string(c.rate) + "_" + std::to_string(c.channels) + ".ogg";
        ASSERT_TRUE(MakeOgg(Sound(name), c.rate, c.channels, 1.3));
        ASSERT_EQ(Probe(Sound(name)), std::to_string(c.rate) + "," + std::to_string(c.channels));
        const std::vector<int16_t> sox = SoxDecode(Sound(name));
        const std::vector<int16_t> ffmpeg = FfmpegDecode(Sound(name));
        const uint64_t expectedFrames = std::stoull(ShellOutput("soxi -s '" + Sound(name) + "'"));
        for (uint32_t flags : {0u, uint32_t(SOUNDSTARTFLAG_STREAMED)}) {
            SCOPED_TRACE(name + (flags ? " streamed" : " static"));
            Restart(c.rate, c.channels);
            EXPECT_EQ(PlayToEnd(name.c_str(), Params(flags)), expectedFrames);
            ASSERT_GE(captured.size(), sox.size());
            captured.resize(sox.size());
            EXPECT_LE(MaxDifference(captured, sox), 1);
            EXPECT_LT(RmsDifference(captured, ffmpeg), 8.0);
        }
    }
}

// oggdec's decoding of a file as signed 16-bit raw samples (it skips damaged pages).
static std::vector<int16_t> OggdecDecode(const std::string& file) {
    const std::string raw = file + ".oggdec.raw";
    if (!Shell("oggdec -Q -R -o '" + raw + "' '" + file + "'")) return {};
    return ReadSamples(raw);
}

// A page damaged in the middle of the file is skipped, reported once, and the rest
// plays, as oggdec plays it.
TEST_F(Playback, ADamagedPageMidFileIsSkippedAndTheRestPlays) {
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + Sound("noise.wav") + "' synth 3 pinknoise vol 0.3") &&
                Shell("oggenc -Q -o '" + Sound("noise.ogg") + "' '" + Sound("noise.wav") + "'"));
    std::vector<uint8_t> bytes = ReadBytes(Sound("noise.ogg"));
    std::vector<size_t> pages;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (std::memcmp(&bytes[i], "OggS", 4) == 0) pages.push_back(i);
    ASSERT_GE(pages.size(), 6u);
    bytes[pages[pages.size() / 2] + 100] ^= 0xFF;  // the page's checksum no longer holds
    WriteBytes(Sound("hole.ogg"), bytes);
    const std::vector<int16_t> whole = OggdecDecode(Sound("noise.ogg"));
    const std::vector<int16_t> skipped = OggdecDecode(Sound("hole.ogg"));
    ASSERT_GT(skipped.size(), whole.size() / 2);
    ASSERT_LT(skipped.size(), whole.size());
    for (uint32_t flags : {uint32_t(SOUNDSTARTFLAG_STREAMED), 0u}) {
        SCOPED_TRACE(flags ? "streamed" : "static");
        Restart(44100, 2);
        log.Clear();
        EXPECT_EQ(PlayToEnd("hole.ogg", Params(flags)), skipped.size() / 2);
        ASSERT_GE(captured.size(), skipped.size());
        captured.resize(skipped.size());
        EXPECT_LE(MaxDifference(captured, skipped), 1);
        const auto lines = log.Messages();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const CaptureLogSink::Message& m) {
                                    return m.text == "Skipped damaged data in sound hole.ogg; playing on";
                                }),
                  1);
    }
}

TEST_F(Playback, ChainedStreamStopsAtTheLinkThatChangesTheRate) {
    ASSERT_TRUE(MakeOgg(Sound("a.ogg"), 44100, 2, 0.6));
    ASSERT_TRUE(MakeOgg(Sound("b.ogg"), 22050, 2, 0.6, 880));
    std::vector<uint8_t> chained = ReadBytes(Sound("a.ogg"));
    const std::vector<uint8_t> b = ReadBytes(Sound("b.ogg"));
    chained.insert(chained.end(), b.begin(), b.end());
    WriteBytes(Sound("chained.ogg"), chained);
    const std::vector<int16_t> first = SoxDecode(Sound("a.ogg"));
    for (uint32_t flags : {0u, uint32_t(SOUNDSTARTFLAG_STREAMED)}) {
        Restart(44100, 2);
        EXPECT_EQ(PlayToEnd("chained.ogg", Params(flags)), first.size() / 2);
        captured.resize(first.size());
        EXPECT_LE(MaxDifference(captured, first), 1);
        // Endless: a static sound decodes each pass from its newly added copy, so every
        // pass is the first link; the stream cannot re-open inside the second link and
        // ends. Neither hands the voice a sample of the other rate.
        Restart(44100, 2);
        log.Clear();
        const uint32_t id = Play("chained.ogg", Params(flags, 0));
        const std::vector<int16_t> three = Repeat({first, first, first});
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        do {
            StepCounting();
        } while (captured.size() < three.size() && SoundInstanceBase::First() && std::chrono::steady_clock::now() < end);
        if (flags & SOUNDSTARTFLAG_STREAMED) {
            EXPECT_EQ(SoundInstanceBase::First(), nullptr);
            EXPECT_EQ(framesPlayed, first.size() / 2);
            EXPECT_TRUE(log.Contains("Cannot read audio stream of Unknown"));
        } else {
            ASSERT_GE(captured.size(), three.size());
            captured.resize(three.size());
            EXPECT_LE(MaxDifference(captured, three), 1);
        }
        engine->StopSound(id, 0.0f);
        engine->RunWake();
    }
}

// Links of one format chained in one file play one after the other: reaching the next
// link is no damage and is not reported as such.
TEST_F(Playback, ChainedLinksOfOneFormatPlayOnWithoutADamageLine) {
    ASSERT_TRUE(MakeOgg(Sound("a.ogg"), 44100, 2, 0.6));
    ASSERT_TRUE(MakeOgg(Sound("c.ogg"), 44100, 2, 0.6, 880));
    std::vector<uint8_t> chained = ReadBytes(Sound("a.ogg"));
    const std::vector<uint8_t> c = ReadBytes(Sound("c.ogg"));
    chained.insert(chained.end(), c.begin(), c.end());
    WriteBytes(Sound("links.ogg"), chained);
    const std::vector<int16_t> both = Repeat({SoxDecode(Sound("a.ogg")), SoxDecode(Sound("c.ogg"))});
    for (uint32_t flags : {uint32_t(SOUNDSTARTFLAG_STREAMED), 0u}) {
        SCOPED_TRACE(flags ? "streamed" : "static");
        Restart(44100, 2);
        log.Clear();
        EXPECT_EQ(PlayToEnd("links.ogg", Params(flags)), both.size() / 2);
        ASSERT_GE(captured.size(), both.size());
        captured.resize(both.size());
        EXPECT_LE(MaxDifference(captured, both), 1);
        EXPECT_FALSE(log.Contains("Skipped damaged data"));
    }
}

TEST_F(Playback, PassesFollowTheLoopCount) {
    ASSERT_TRUE(MakeTone(Sound("pcm.wav"), "-r 22050 -c 1 -b 16", 0.4));
    ASSERT_TRUE(MakeOgg(Sound("tone.ogg"), 22050, 1, 0.5));
    const std::vector<int16_t> pcm = SoxDecode(Sound("pcm.wav"));
    const std::vector<int16_t> ogg = SoxDecode(Sound("tone.ogg"));
    ASSERT_FALSE(pcm.empty());
    struct Case {
        const char* name;
        uint32_t flags;
        const std::vector<int16_t>* one;
    };
    for (const Case c : {Case{"pcm.wav", 0, &pcm}, Case{"tone.ogg", 0, &ogg},
                         Case{"tone.ogg", SOUNDSTARTFLAG_STREAMED, &ogg}}) {
        SCOPED_TRACE(std::string(c.name) + (c.flags ? " streamed" : " static"));
        Restart(22050, 1);
        EXPECT_EQ(PlayToEnd(c.name, Params(c.flags, 3)), 3 * c.one->size());
        const std::vector<int16_t> three = Repeat({*c.one, *c.one, *c.one});
        ASSERT_GE(captured.size(), three.size());
        captured.resize(three.size());
        EXPECT_LE(MaxDifference(captured, three), 1);
        EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    }

    // LoopCount 0 plays until stopped.
    Restart(22050, 1);
    const uint32_t id = Play("pcm.wav", Params(0, 0));
    while (framesPlayed < 5 * pcm.size()) StepCounting();
    ASSERT_NE(SoundInstanceBase::First(), nullptr);
    engine->StopSound(id, 0.0f);
    engine->RunWake();
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

TEST_F(Playback, LoopFileFollowsTheIntroAndExitLoopEndsThePass) {
    ASSERT_TRUE(MakeOgg(Sound("intro.ogg"), 22050, 1, 0.4, 440));
    ASSERT_TRUE(MakeOgg(Sound("loop.ogg"), 22050, 1, 0.3, 660));
    const std::vector<int16_t> intro = SoxDecode(Sound("intro.ogg"));
    const std::vector<int16_t> loop = SoxDecode(Sound("loop.ogg"));
    Restart(22050, 1);
    const uint32_t id = Play("intro.ogg", Params(SOUNDSTARTFLAG_STREAMED, 0));
    ASSERT_TRUE(engine->SetLoopFile(id, "loop.ogg"));
    const std::vector<int16_t> expected = Repeat({intro, loop, loop, loop});
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (captured.size() < expected.size() && std::chrono::steady_clock::now() < end) StepCounting();
    captured.resize(expected.size());
    EXPECT_LE(MaxDifference(captured, expected), 1);

    // ExitLoop on an endless decoded sound: it ends after the pass that is decoding.
    Restart(22050, 1);
    ASSERT_TRUE(MakeOgg(Sound("long.ogg"), 22050, 1, 1.0));
    const size_t length = SoxDecode(Sound("long.ogg")).size();
    const uint32_t endless = Play("long.ogg", Params(0, 0));
    while (framesPlayed < length + length / 10) StepCounting();
    engine->ExitLoop(endless);
    EXPECT_TRUE(RunUntilSilentCounting());
    EXPECT_EQ(framesPlayed, 2 * length);
}

TEST_F(Playback, FlagTwoFiftySixPlaysTheFirstSoundFirst) {
    ASSERT_TRUE(MakeTone(Sound("a.wav"), "-r 22050 -c 1 -b 16", 0.2, 300));
    ASSERT_TRUE(MakeTone(Sound("b.wav"), "-r 22050 -c 1 -b 16", 0.2, 900));
    const std::vector<int16_t> a = SoxDecode(Sound("a.wav")), b = SoxDecode(Sound("b.wav"));
    for (uint32_t seed : {1u, 2u, 3u}) {
        CrtSrand(seed);
        Restart(22050, 1);
        EXPECT_EQ(PlayToEnd("a.wav;b.wav", Params(kSoundFlagFirstPickIsFirstSound, 3)), 3 * a.size());
        const std::vector<int16_t> expected = Repeat({a, b, b});
        captured.resize(expected.size());
        EXPECT_EQ(MaxDifference(captured, expected), 0);
    }
}

TEST_F(Playback, FailuresLogTheirLineAndRemoveTheInstance) {
    ASSERT_TRUE(MakeTone(Sound("pcm22.wav"), "-r 22050 -c 1 -b 16", 0.2));
    ASSERT_TRUE(MakeTone(Sound("pcm44.wav"), "-r 44100 -c 1 -b 16", 0.2));
    ASSERT_TRUE(MakeTone(Sound("adpcm.wav"), "-r 22050 -c 1 -e ms-adpcm", 0.2));
    ASSERT_TRUE(MakeOgg(Sound("tone.ogg"), 22050, 1, 0.2));
    // An xWMA resource: fmt, dpds and data chunks (no decoder for it exists here).
    std::vector<uint8_t> xwma = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'X', 'W', 'M', 'A', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                 0x61, 0x01, 2, 0, 0x44, 0xAC, 0, 0, 0x70, 0x17, 0, 0, 0xDF, 0x05, 16, 0,
                                 'd', 'p', 'd', 's', 4, 0, 0, 0, 0, 0x10, 0, 0, 'd', 'a', 't', 'a', 8, 0, 0, 0,
                                 1, 2, 3, 4, 5, 6, 7, 8};
    WriteBytes(Sound("xwma.wav"), xwma);
    Restart(22050, 1);
    struct Case {
        const char* name;
        uint32_t flags;
        const char* line;
    };
    const Case cases[] = {
        {"tone.ogg;pcm22.wav", 0, "Cannot loop files of different format (tone.ogg vs pcm22.wav)"},
        {"pcm22.wav;adpcm.wav", 0, "Cannot loop files of different format (pcm22.wav vs adpcm.wav)"},
        {"pcm22.wav;;pcm44.wav", 0, "Cannot loop files of different format (pcm22.wav vs pcm44.wav)"},
        {"xwma.wav", 0, "Unable to start playback of xwma.wav"},
        {"missing.wav", 0, "Unable to start playback of missing.wav"},
        {"missing.ogg", SOUNDSTARTFLAG_STREAMED, "Unable to open sound file for streaming: [missing.ogg]"},
    };
    for (const Case& c : cases) {
        log.Clear();
        PlayToEnd(c.name, Params(c.flags));
        EXPECT_TRUE(log.Contains(c.line)) << c.line;
        EXPECT_TRUE(VoiceStates().empty());
    }
    // JUSTLOAD: loaded, nothing played.
    log.Clear();
    PlayToEnd("pcm44.wav", Params(SOUNDSTARTFLAG_JUSTLOAD));
    EXPECT_EQ(framesPlayed, 0u);
    Resource* loaded = gResourceManager.GetResource(RESOURCE_SOUND, "pcm44.wav", 0, false, 0);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(loaded->IsLoaded());
    loaded->Release();
    // Empty parts only: no sound, gone at the first update.
    PlayToEnd(";;", Params());
    EXPECT_TRUE(log.Messages().empty());
    // A part over 1024 characters is skipped with one line; the rest plays.
    const std::string longPart = std::string(1100, 'x') + ";pcm22.wav";
    EXPECT_EQ(PlayToEnd(longPart.c_str(), Params()), SoxDecode(Sound("pcm22.wav")).size());
    EXPECT_EQ(log.Messages().size(), 1u);
}

// A streamed file that cannot be played is refused with one line naming it and why.
TEST_F(Playback, DamagedStreamedFilesAreRefusedWithOneLineNamingThem) {
    ASSERT_TRUE(MakeOgg(Sound("good.ogg"), 22050, 1, 0.3));
    ASSERT_TRUE(MakeOgg(Sound("eight.ogg"), 22050, 8, 0.3));
    const std::vector<uint8_t> good = ReadBytes(Sound("good.ogg"));
    // The identification header sits in the first page: "\x01vorbis", version, then
    // the channel count (byte 39 of the file) and the rate (bytes 40-43). The page's
    // checksum is the engine's CRC-32 over the page with the checksum field zeroed.
    const auto patched = [&](size_t at, std::vector<uint8_t> with) {
        std::vector<uint8_t> b = good;
        std::copy(with.begin(), with.end(), b.begin() + std::ptrdiff_t(at));
        const size_t pageLength = 27 + b[26] + std::accumulate(b.begin() + 27, b.begin() + 27 + b[26], size_t(0));
        std::fill(b.begin() + 22, b.begin() + 26, 0);
        const uint32_t crc = CRC32::GetDefault().Compute(b.data(), pageLength);
        std::memcpy(&b[22], &crc, 4);
        return b;
    };
    ASSERT_EQ(std::memcmp(&good[28], "\x01vorbis", 7), 0);
    WriteBytes(Sound("junk.ogg"), std::vector<uint8_t>(3000, 'j'));
    WriteBytes(Sound("truncated.ogg"), std::vector<uint8_t>(good.begin(), good.begin() + 70));
    WriteBytes(Sound("zerorate.ogg"), patched(40, {0, 0, 0, 0}));
    WriteBytes(Sound("zerochannels.ogg"), patched(39, {0}));
    ASSERT_TRUE(patched(39, {1}) == good);  // the checksum is rebuilt as oggenc wrote it
    Restart(22050, 1);
    std::string reasons;
    for (const char* name : {"junk.ogg", "truncated.ogg", "eight.ogg", "zerorate.ogg", "zerochannels.ogg"}) {
        SCOPED_TRACE(name);
        log.Clear();
        PlayToEnd(name, Params(SOUNDSTARTFLAG_STREAMED));
        const auto lines = log.Messages();
        ASSERT_EQ(lines.size(), 1u);
        reasons += lines[0].text + "\n";
        EXPECT_NE(lines[0].text.find(std::string("Unable to start playback of streamed sound [") + name + "]: "),
                  std::string::npos)
            << lines[0].text;
        EXPECT_TRUE(VoiceStates().empty());
    }
    EXPECT_NE(reasons.find("[eight.ogg]: 8 channels at 22050 Hz cannot be played"), std::string::npos) << reasons;
}

TEST_F(Playback, DecodedPassOfAnotherFormatEndsTheSound) {
    ASSERT_TRUE(MakeOgg(Sound("a44.ogg"), 44100, 1, 0.3));
    ASSERT_TRUE(MakeOgg(Sound("b22.ogg"), 22050, 1, 0.3));
    const size_t first = SoxDecode(Sound("a44.ogg")).size();
    Restart(44100, 1);
    // Static: the second pick (flag 256) is the other rate.
    EXPECT_EQ(PlayToEnd("a44.ogg;b22.ogg", Params(kSoundFlagFirstPickIsFirstSound, 0)), first);
    EXPECT_TRUE(log.Contains("Cannot loop files of different format (a44.ogg vs b22.ogg)"));
    EXPECT_FALSE(log.Contains("Cannot read audio stream"));
    // Streamed: a loop file of the other rate.
    log.Clear();
    Restart(44100, 1);
    const uint32_t id = Play("a44.ogg", Params(SOUNDSTARTFLAG_STREAMED, 0));
    ASSERT_TRUE(engine->SetLoopFile(id, "b22.ogg"));
    EXPECT_TRUE(RunUntilSilentCounting());
    EXPECT_EQ(framesPlayed, first);
    EXPECT_TRUE(log.Contains("Cannot loop files of different format (a44.ogg vs b22.ogg)"));
    // A loop file that does not exist: the intro plays once, the failed reader is read
    // once and the sound ends.
    log.Clear();
    Restart(44100, 1);
    const uint32_t missing = Play("a44.ogg", Params(SOUNDSTARTFLAG_STREAMED, 0));
    ASSERT_TRUE(engine->SetLoopFile(missing, "missing.ogg"));
    EXPECT_TRUE(RunUntilSilentCounting());
    EXPECT_EQ(framesPlayed, first);
    EXPECT_TRUE(log.Contains("Cannot read audio stream of Unknown"));
    size_t closedReads = 0;
    for (const CaptureLogSink::Message& m : log.Messages())
        closedReads += m.text.find("trying to read from a closed file") != std::string::npos;
    EXPECT_EQ(closedReads, 1u);
}

TEST_F(Playback, StreamAndDecoderLimits) {
    ASSERT_TRUE(MakeOgg(Sound("tone.ogg"), 22050, 1, 1.0));
    Restart(22050, 1);
    for (int i = 0; i < 9; ++i) Play("tone.ogg", Params(SOUNDSTARTFLAG_STREAMED, 0));
    for (int i = 0; i < 5; ++i)
        Play("tone.ogg", Params(SOUNDSTARTFLAG_STREAMED | SOUNDSTARTFLAG_MUSIC, 0));
    engine->RunWake();
    EXPECT_EQ(SoundInstanceBase::StreamCount(), 9u);
    EXPECT_EQ(SoundInstanceBase::MusicStreamCount(), 5u);
    Step();
    EXPECT_EQ(SoundInstanceBase::Count(), 12u);  // the ninth and the fifth are gone
    EXPECT_EQ(SoundInstanceBase::StreamCount(), 8u);
    EXPECT_EQ(SoundInstanceBase::MusicStreamCount(), 4u);
    EXPECT_EQ(log.Messages().size(), 2u);
    EXPECT_TRUE(log.Contains("Too many streamed sound sources [tone.ogg]"));
    engine->StopSound(kSoundAllInstances, 0.0f);
    engine->RunWake();

    // 64 decode blocks: the 65th decoded sound finds none.
    log.Clear();
    for (int i = 0; i < 65; ++i) Play("tone.ogg", Params(0, 0));
    ASSERT_TRUE(WaitUntil([&] {
        StepCounting();
        return SoundInstanceBase::Count() == 64 && VoiceStates().size() == 64;
    }));
    EXPECT_EQ(SoundInstanceBase::FreeDecodeBlocks(), 0u);
    EXPECT_TRUE(log.Contains("Unable to allocate decode buffer. The reason for this is you've allocated too many of them :) sorry..."));
    EXPECT_TRUE(log.Contains("Unable to start playback of tone.ogg"));
    engine->StopSound(kSoundAllInstances, 0.0f);
    engine->RunWake();
    EXPECT_EQ(SoundInstanceBase::FreeDecodeBlocks(), 64u);
}

TEST_F(Playback, WithoutAnAudioDeviceEveryPlayComesToNothing) {
    ASSERT_TRUE(MakeTone(Sound("pcm.wav"), "-r 22050 -c 1 -b 16", 0.2));
    ASSERT_TRUE(MakeOgg(Sound("tone.ogg"), 22050, 1, 0.2));
    for (audio::EngineFault fault :
         {audio::EngineFault::kCreate, audio::EngineFault::kInitialize, audio::EngineFault::kMasteringVoice}) {
        audio::SetEngineFault(fault);
        Restart(22050, 1);
        EXPECT_EQ(engine->GetAudioEngine(), nullptr);
        log.Clear();
        Play("pcm.wav", Params());
        Play("tone.ogg", Params(SOUNDSTARTFLAG_STREAMED));
        engine->SetChannelVolume(kSoundAllChannels, 0.5f, 1.0f, 0);
        EXPECT_TRUE(RunUntilSilentCounting());
        EXPECT_EQ(framesPlayed, 0u);
        // The file is sound: nothing says its format cannot be played.
        EXPECT_FALSE(log.Contains("cannot be played"));
        EXPECT_TRUE(log.Contains("Unable to start playback of streamed sound [tone.ogg]"));
        audio::SetEngineFault(audio::EngineFault::kNone);
    }
}

TEST_F(Playback, TheSoundMemoryPoolIsDumpedAndOnlyItsUnusedSoundsEvicted) {
    ASSERT_TRUE(MakeTone(Sound("kept.wav"), "-r 22050 -c 1 -b 16", 0.1));
    Resource* sound = gResourceManager.GetResource(RESOURCE_SOUND, "kept.wav", 0, true, 0);
    ASSERT_NE(sound, nullptr);
    sound->QueueLoad();
    ASSERT_TRUE(WaitUntil([&] { return sound->IsLoaded(); }));
    Resource* other = gResourceManager.GetResource(RESOURCE_ANIMATION, "walk", 0, true, 0);
    ASSERT_NE(other, nullptr);
    engine->LogSoundMemoryPool();
    gResourceManager.Flush();
    EXPECT_TRUE(log.Contains("[kept.wav]"));
    sound->Release();
    other->Release();
    engine->EvictSoundMemoryPool();
    gResourceManager.Flush();
    EXPECT_TRUE(log.Contains("Removing unused resource: kept.wav"));
    EXPECT_FALSE(log.Contains("Removing unused resource: walk"));
}

TEST_F(Playback, ExitLoopBeforeTheStartPlaysOnePass) {
    ASSERT_TRUE(MakeTone(Sound("pcm.wav"), "-r 22050 -c 1 -b 16", 0.2));
    ASSERT_TRUE(MakeOgg(Sound("tone.ogg"), 22050, 1, 0.2));
    const size_t pcm = SoxDecode(Sound("pcm.wav")).size(), ogg = SoxDecode(Sound("tone.ogg")).size();
    struct Case {
        const char* name;
        uint32_t flags;
        size_t frames;
    };
    for (const Case c : {Case{"pcm.wav", 0, pcm}, Case{"tone.ogg", 0, ogg}, Case{"tone.ogg", SOUNDSTARTFLAG_STREAMED, ogg}}) {
        SCOPED_TRACE(std::string(c.name) + (c.flags ? " streamed" : " static"));
        Restart(22050, 1);
        log.Clear();
        engine->ExitLoop(Play(c.name, Params(c.flags, 0)));
        EXPECT_TRUE(RunUntilSilentCounting());
        EXPECT_EQ(framesPlayed, c.frames);
        EXPECT_FALSE(log.Contains("Unable to start playback"));
    }
}

namespace {

struct StreamFiles : testing::Test {
    void SetUp() override {
        char pattern[] = "/tmp/sound_stream_XXXXXX";
        dir = mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string dir;
};

// Everything OGGStream decodes from bytes in memory, read in blocks of `block` bytes.
std::vector<int16_t> DecodeAll(const std::vector<uint8_t>& file, uint32_t block, audio::WaveFormat* format = nullptr) {
    SoundStreamStaticDataSource source;
    source.AddChunk(file.data(), uint32_t(file.size()));
    OGGStream stream(&source);
    if (!stream.Open()) return {};
    if (format) *format = stream.Format();
    std::vector<int16_t> out;
    std::vector<uint8_t> buffer(block);
    for (uint32_t n; (n = stream.Read(buffer.data(), block)) > 0;) {
        const size_t at = out.size();
        out.resize(at + n / 2);
        std::memcpy(out.data() + at, buffer.data(), n);
    }
    return out;
}

}  // namespace

TEST(SoundStreamStaticDataSource, ReadsChunksInOrderAndDropsFinishedOnes) {
    const uint8_t a[4] = {1, 2, 3, 4};
    const uint8_t b[10] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    SoundStreamStaticDataSource source;
    uint8_t out[16] = {};
    EXPECT_EQ(source.Read(out, 8), 0u);  // empty: the decoder's read ends
    source.AddChunk(a, 4);
    source.AddChunk(b, 0);  // ignored
    source.AddChunk(b, 10);
    source.AddChunk(a, 4);
    EXPECT_EQ(source.Read(out, 0), 0u);
    ASSERT_EQ(source.Read(out, 10), 10u);
    const uint8_t expected[10] = {1, 2, 3, 4, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(std::memcmp(out, expected, 10), 0);
    // 4 + 6 read: the rest of the second chunk and the third remain.
    EXPECT_EQ(source.ChunkCount(), 2u);
    EXPECT_EQ(source.ChunkLength(0), 4u);
    ASSERT_EQ(source.Read(out, 16), 8u);
    EXPECT_EQ(out[0], 16);
    EXPECT_EQ(out[4], 1);
    EXPECT_EQ(source.ChunkCount(), 0u);
}

TEST(RiffChunkReaderContract, HeadersNeedEightBytesAndAnOverlongChunkEndsTheWalk) {
    // "abcd" with 4 bytes of data, then 7 stray bytes.
    std::vector<uint8_t> data = {'a', 'b', 'c', 'd', 4, 0, 0, 0, 1, 2, 3, 4, 'e', 'f', 'g', 'h', 9, 9, 9};
    RiffChunkReader reader(data.data(), uint32_t(data.size()));
    EXPECT_EQ(reader.Next(false), RiffFourCC('a', 'b', 'c', 'd'));
    EXPECT_EQ(reader.Next(true), 0u);  // 7 bytes left
    // A chunk that claims more than is left: skipping it leaves nothing to read.
    std::vector<uint8_t> overlong = {'d', 'a', 't', 'a', 100, 0, 0, 0, 1, 2, 3, 'f', 'm', 't', ' ', 0, 0, 0, 0};
    RiffChunkReader r2(overlong.data(), uint32_t(overlong.size()));
    EXPECT_EQ(r2.Next(false), RiffFourCC('d', 'a', 't', 'a'));
    EXPECT_FALSE(r2.ChunkFits());
    EXPECT_EQ(r2.Next(true), 0u);
    EXPECT_EQ(r2.Left(), 0u);
    EXPECT_EQ(r2.Next(false), 0u);
}

TEST(FixedBlockPool, HandsOutTheLastBlockFirstAndCapsItsCount) {
    FixedBlockPool pool(32, 3);
    uint8_t* first = pool.Take();
    uint8_t* second = pool.Take();
    uint8_t* third = pool.Take();
    EXPECT_EQ(second + 32, first);  // block 2, then 1, then 0
    EXPECT_EQ(third + 32, second);
    EXPECT_EQ(pool.Take(), nullptr);
    pool.GiveBack(second);
    EXPECT_EQ(pool.Take(), second);
    FixedBlockPool big(1, 70000);
    EXPECT_EQ(big.BlockCount(), FixedBlockPool::kMaxBlocks);  // a 16-bit free-index stack
}

TEST_F(StreamFiles, ChainedFileEndsWhereTheRateChangesAndReopensOnNewChunks) {
    const std::string a = dir + "/a.ogg", b = dir + "/b.ogg";
    ASSERT_TRUE(MakeOgg(a, 44100, 2, 0.5));
    ASSERT_TRUE(MakeOgg(b, 22050, 2, 0.5, 880));
    std::vector<uint8_t> chained = ReadBytes(a);
    const std::vector<uint8_t> second = ReadBytes(b);
    chained.insert(chained.end(), second.begin(), second.end());
    audio::WaveFormat format = {};
    const std::vector<int16_t> first = DecodeAll(ReadBytes(a), 16384, &format);
    const std::vector<int16_t> both = DecodeAll(chained, 16384);
    ASSERT_FALSE(first.empty());
    const std::vector<int16_t> sox = SoxDecode(a);
    EXPECT_EQ(first.size(), sox.size());
    EXPECT_LE(MaxDifference(first, sox), 1);
    EXPECT_TRUE(format.formatTag == audio::kFormatPcm && format.channels == 2 && format.sampleRate == 44100 &&
                format.bitsPerSample == 16 && format.blockAlign == 4 && format.avgBytesPerSec == 4 * 44100);
    EXPECT_EQ(both.size(), first.size());
    EXPECT_EQ(MaxDifference(both, first), 0);

    // A re-open starts clean on whatever the source holds next.
    SoundStreamStaticDataSource source;
    OGGStream stream(&source);
    std::vector<uint8_t> buffer(8192);
    EXPECT_FALSE(stream.Open());  // nothing yet
    EXPECT_EQ(stream.Read(buffer.data(), 8192), 0u);
    const std::vector<uint8_t> fileA = ReadBytes(a);
    for (int pass = 0; pass < 2; ++pass) {
        source.AddChunk(fileA.data(), uint32_t(fileA.size()));
        ASSERT_TRUE(stream.Open());
        size_t total = 0;
        for (uint32_t n; (n = stream.Read(buffer.data(), 8192)) > 0;) total += n;
        EXPECT_EQ(total, first.size() * 2);
    }
}

TEST_F(StreamFiles, RejectedAndDamagedFilesFailCleanly) {
    const std::string ogg = dir + "/t.ogg";
    ASSERT_TRUE(MakeOgg(ogg, 44100, 1, 0.5));
    const std::vector<uint8_t> good = ReadBytes(ogg);
    std::vector<uint8_t> buffer(16384);

    const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'o', 'g', 'g'};
    SoundStreamStaticDataSource source;
    source.AddChunk(text.data(), uint32_t(text.size()));
    OGGStream rejected(&source);
    EXPECT_FALSE(rejected.Open());
    EXPECT_FALSE(rejected.IsOpen());
    EXPECT_EQ(rejected.Read(buffer.data(), uint32_t(buffer.size())), 0u);

    // Truncated copies decode a prefix (or nothing); corrupted copies decode without
    // reading out of bounds (the sanitizer build checks).
    const std::vector<int16_t> whole = DecodeAll(good, 16384);
    for (size_t cut : {size_t(20), good.size() / 3, good.size() - 7}) {
        std::vector<uint8_t> part(good.begin(), good.begin() + std::ptrdiff_t(cut));
        const std::vector<int16_t> decoded = DecodeAll(part, 16384);
        EXPECT_LE(decoded.size(), whole.size());
    }
    std::vector<uint8_t> corrupted = good;
    for (size_t i = good.size() / 4; i < good.size(); i += 97) corrupted[i] ^= 0x5A;
    DecodeAll(corrupted, 16384);
}
