// test-sanitize: address
// test-timeout: 600
// Sounds played through the sound engine, stepped wake by wake on a ManualClock over
// the manual output at the file's rate and channel count with unity levels: what the
// voices render is compared with sox's and ffmpeg's decoding of the same files, passes
// and loops are counted in frames, and the failure paths are read from the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SoundTestSupport.h"
#include "core/CrtRand.h"
#include "render/sound/ResourceSound.h"

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
        Play("pcm.wav", Params());
        Play("tone.ogg", Params(SOUNDSTARTFLAG_STREAMED));
        engine->SetChannelVolume(kSoundAllChannels, 0.5f, 1.0f, 0);
        EXPECT_TRUE(RunUntilSilentCounting());
        EXPECT_EQ(framesPlayed, 0u);
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
