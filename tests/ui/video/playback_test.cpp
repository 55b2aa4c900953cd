// Playback against the sound thread's voice, everything on the test thread: the video
// ops run inline (no renderer), the sound engine runs without its thread over the
// manual output, and one ManualClock drives the video clock and the mixer. The sound
// reaching the output is compared with oggdec's decode; the clocks, looping, the
// play/stop counts, the error lines and the PCM ring's hand-over are checked.
#include <algorithm>
#include <cmath>

#include "../../sound/SoundTestSupport.h"
#include "VideoTestSupport.h"
#include "core/Memory.h"
#include "engine/services/EngineServices.h"

using namespace videotest;

namespace {

struct PlaybackTest : soundtest::InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        log.Clear();
        log.Attach();
    }
    void TearDown() override {
        gVideoEngine->Stop();
        log.Detach();
        folder.Remove();
        InlineEngineFixture::TearDown();
    }
    void Mount(const std::vector<std::string>& clips) { folder.Mount(clips); }
    // 30 ms of clock and output, then one video update.
    void Tick() {
        Step();
        gVideoEngine->UpdateFrame();
    }
    // Updates (the clock still) until the player's headers are parsed or it is gone.
    bool WaitForHeaders() {
        return soundtest::WaitUntil([&] {
            gVideoEngine->UpdateFrame();
            return !CurrentPlayer() || CurrentPlayer()->HeadersParsed();
        });
    }
    bool Logged(const std::string& text) { return log.Contains(text); }
    uint32_t Count(const std::string& text) {
        uint32_t n = 0;
        for (const auto& m : log.Messages()) n += m.text.find(text) != std::string::npos;
        return n;
    }

    VideoFolder folder;
    CaptureLogSink log;
};

// The samples from the first one that is not zero.
std::vector<int16_t> FromFirstSound(const std::vector<int16_t>& s) {
    auto it = std::find_if(s.begin(), s.end(), [](int16_t v) { return v != 0; });
    return std::vector<int16_t>(it, s.end());
}

TEST_F(PlaybackTest, SoundReachingTheOutputEqualsOggdecs) {
    struct Case {
        const char* clip;
        uint32_t rate, channels;
    };
    const Case cases[] = {{"stereo320", 44100, 2}, {"odd161", 22050, 1}};
    Mount({"stereo320", "odd161"});
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clip);
        const std::vector<int16_t> reference = FromFirstSound(OggdecSamples(Clip(c.clip)));
        ASSERT_GT(reference.size(), c.rate / 2);
        if (!first) {
            engine->Stop();
            started = false;
        }
        first = false;
        captured.clear();
        StartEngine(c.rate, c.channels);
        gVideoEngine->Play(c.clip, nullptr, true, false, 1.0f);
        ASSERT_TRUE(WaitForHeaders());
        for (uint32_t i = 0; i < 200 && gVideoEngine->IsPlaying(); ++i) Tick();
        EXPECT_FALSE(gVideoEngine->IsPlaying());
        for (uint32_t i = 0; i < 10; ++i) Step();  // the last queued buffers
        const std::vector<int16_t> got = FromFirstSound(captured);
        ASSERT_GE(got.size(), reference.size());
        // The engine's rule is the integer part of x * 32767 + 0.5; oggdec rounds x * 32768.
        // The mixer holds the queue's very last frame back (interpolation).
        int worst = 0;
        size_t at = 0;
        for (size_t i = 0; i + c.channels < reference.size(); ++i) {
            const int d = std::abs(int(got[i]) - int(reference[i]));
            if (d > worst) worst = d, at = i;
        }
        EXPECT_LE(worst, 2) << "at sample " << at << " of " << reference.size();
        // After oggdec's length at most one Vorbis block (2048 frames) of sound follows.
        size_t last = got.size();
        while (last > reference.size() && got[last - 1] == 0) --last;
        EXPECT_LE(last - reference.size(), size_t(2048) * c.channels);
    }
}

TEST_F(PlaybackTest, TheVideoClockFollowsTheSound) {
    Mount({"long"});
    StartEngine(44100, 2);
    // With a voice that has played nothing, the clock stays at 0.
    gVideoEngine->Play("long", nullptr, true, false, 1.0f);
    ASSERT_TRUE(WaitForHeaders());
    ASSERT_NE(CurrentPlayer(), nullptr);
    ASSERT_TRUE(CurrentPlayer()->HasVoice());
    clock.AdvanceSeconds(1.0);
    gVideoEngine->UpdateFrame();
    EXPECT_EQ(CurrentPlayer()->VideoClock(), 0.0f);

    struct Case {
        double ahead;
        bool resync;
    };
    for (const Case& c : {Case{0.15, false}, Case{0.25, true}}) {
        SCOPED_TRACE(c.ahead);
        gVideoEngine->Play("long", nullptr, true, false, 1.0f);
        ASSERT_TRUE(WaitForHeaders());
        for (uint32_t i = 0; i < 20; ++i) Tick();  // playing, in step
        log.Clear();
        // The picture's clock runs ahead of the sound, which is not rendered.
        clock.AdvanceSeconds(c.ahead);
        gVideoEngine->UpdateFrame();
        EXPECT_EQ(Count("Video synchronization error. Resyncing..."), c.resync ? 1u : 0u);
        const float a = float(double(CurrentPlayer()->SamplesPlayed()) / 44100.0);
        if (c.resync) EXPECT_NEAR(CurrentPlayer()->VideoClock(), a, 1e-3);
        else EXPECT_NEAR(CurrentPlayer()->VideoClock(), a + c.ahead, 0.05);
    }
}

TEST_F(PlaybackTest, ASilentClipPlaysOnTheTimerAndEndsAfterItsLastFrame) {
    Mount({"silent"});
    StartEngine();
    gVideoEngine->Play("silent", nullptr, true, false, 1.0f);
    ASSERT_TRUE(WaitForHeaders());
    const int64_t start = os::ReadCounter();
    float lastFrame = 0.0f;
    for (uint32_t i = 0; i < 100 && gVideoEngine->IsPlaying(); ++i) {
        if (CurrentPlayer()) lastFrame = std::max(lastFrame, CurrentPlayer()->FrameTime());
        Tick();
    }
    EXPECT_FALSE(gVideoEngine->IsPlaying());
    const double ended = double(os::ReadCounter() - start) / double(os::kCounterFrequency);
    // 15 frames at 25 per second; the end comes within two updates after the last one.
    EXPECT_NEAR(lastFrame, 0.56, 0.045);
    EXPECT_GT(ended, lastFrame);
    EXPECT_LT(ended, lastFrame + 0.1);
}

// Sound shorter than the picture: once the voice has played everything, the picture runs
// on the timer to its last frame and the playback ends.
TEST_F(PlaybackTest, PictureOutlastingItsSoundPlaysToTheEnd) {
    Mount({"shortsound"});
    StartEngine(44100, 2);
    gVideoEngine->Play("shortsound", nullptr, true, false, 1.0f);
    ASSERT_TRUE(WaitForHeaders());
    float lastFrame = 0.0f;
    uint32_t frames = 0;
    for (uint32_t i = 0; i < 100 && gVideoEngine->IsPlaying(); ++i) {
        if (CurrentPlayer()) lastFrame = CurrentPlayer()->FrameTime(), frames = CurrentPlayer()->FrameCounter();
        Tick();
    }
    EXPECT_FALSE(gVideoEngine->IsPlaying());
    EXPECT_EQ(frames, 30u);
    EXPECT_NEAR(lastFrame, 1.16, 0.045);
}

TEST_F(PlaybackTest, ALoopingClipKeepsItsTimesIncreasing) {
    Mount({"loop"});
    StartEngine(44100, 2);
    gVideoEngine->Play("loop", nullptr, true, true, 1.0f);
    ASSERT_TRUE(WaitForHeaders());
    float frame = 0.0f, audio = 0.0f;
    uint32_t frames = 0;
    for (uint32_t i = 0; i < 44; ++i) {  // 1.3 s: three passes of 0.4 s and more
        Tick();
        ASSERT_TRUE(gVideoEngine->IsPlaying());
        ASSERT_NE(CurrentPlayer(), nullptr);
        EXPECT_GE(CurrentPlayer()->FrameTime(), frame) << "step " << i;
        EXPECT_GE(CurrentPlayer()->AudioTime(), audio) << "step " << i;
        frame = CurrentPlayer()->FrameTime();
        audio = CurrentPlayer()->AudioTime();
        frames = CurrentPlayer()->FrameCounter();
    }
    EXPECT_GT(frame, 1.1f);
    EXPECT_GT(audio, 1.3f);  // a second ahead of the clock, past two loop restarts
    EXPECT_GE(frames, 28u);
}

TEST_F(PlaybackTest, PlaysStopsAndFailuresShowInIsPlaying) {
    Mount({"silent", "stereo320", "audioonly"});
    std::filesystem::copy_file(Clip("cut"), folder.root + "/videos/cut.ogv");
    StartEngine();
    // Two plays in one frame: the first is replaced.
    gVideoEngine->Play("silent", nullptr, true, false, 1.0f);
    gVideoEngine->Play("stereo320", nullptr, false, false, 1.0f);
    EXPECT_EQ(gVideoEngine->PlayCount() - gVideoEngine->FinishedCount(), 1u);
    EXPECT_TRUE(gVideoEngine->IsPlaying());
    EXPECT_FALSE(gVideoEngine->IsFullScreen());
    Tick();
    EXPECT_TRUE(gVideoEngine->IsPlaying());
    gVideoEngine->Stop();
    Tick();
    EXPECT_FALSE(gVideoEngine->IsPlaying());

    struct Case {
        std::string name;
        const char* line;
    };
    const Case cases[] = {
        {"nosuchvideo", "Video error - can't open video file for streaming"},
        {"audioonly", "Video error - can't parse headers or init decoders"},
        {"cut", "Video error - incomplete file header"},
        {std::string(259, 'n'), "Video error - can't open video file for streaming"},
        {std::string(260, 'n'), "Video error - name or directory longer than 259 characters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20));
        log.Clear();
        gVideoEngine->Play(c.name.c_str(), nullptr, true, false, 1.0f);
        EXPECT_TRUE(soundtest::WaitUntil([&] { return !gVideoEngine->IsPlaying() || (Tick(), false); }, 10.0));
        EXPECT_EQ(Count(c.line), 1u);
        EXPECT_EQ(CurrentPlayer(), nullptr);
    }
}

// The folder text is kept whole up to the limit, like the name: trailing separators
// pad "videos" to 259 characters and the clip in it plays (it is nowhere else); one
// character more is refused.
TEST_F(PlaybackTest, AFolderAtTheLengthLimitIsTried) {
    Mount({"silent"});
    StartEngine();
    const std::string atLimit = "videos" + std::string(kVideoMaxPathLength - 6, '/');
    gVideoEngine->Play("silent", atLimit.c_str(), true, false, 1.0f);
    ASSERT_TRUE(WaitForHeaders());
    EXPECT_NE(CurrentPlayer(), nullptr);
    EXPECT_TRUE(gVideoEngine->IsPlaying());
    EXPECT_EQ(Count("Video error"), 0u);
    const std::string over = atLimit + "/";
    gVideoEngine->Play("silent", over.c_str(), true, false, 1.0f);
    EXPECT_TRUE(soundtest::WaitUntil([&] { return !gVideoEngine->IsPlaying() || (Tick(), false); }, 10.0));
    EXPECT_EQ(Count("Video error - name or directory longer than 259 characters"), 1u);
}

// The engine's entries in the tables the Game and the engine start-up call through.
TEST_F(PlaybackTest, TheEngineServicesReachTheVideoEngine) {
    Mount({"silent"});
    StartEngine();
    const EngineServices& e = gEngineServices;
    ASSERT_TRUE(e.videoEngine && e.videoIsPlaying && e.videoIsFullScreen && e.videoStop && e.videoUpdateFrame &&
                e.videoDrawFrame && e.videoEngineInit && e.videoEngineClose);
    EXPECT_EQ(e.videoEngine(), gVideoEngine);
    for (bool fullScreen : {true, false}) {
        gVideoEngine->Play("silent", nullptr, fullScreen, false, 1.0f);
        EXPECT_TRUE(e.videoIsPlaying());
        EXPECT_EQ(e.videoIsFullScreen(), fullScreen);
        const uint32_t frames = CurrentPlayer() ? CurrentPlayer()->FrameCounter() : 0;
        ASSERT_TRUE(WaitForHeaders());
        clock.AdvanceSeconds(0.1);
        e.videoUpdateFrame();
        EXPECT_GT(CurrentPlayer()->FrameCounter(), frames);
        e.videoStop();
        EXPECT_FALSE(e.videoIsPlaying());
    }
}

// The PCM ring: blocks appended while the voice is stalled are never overwritten; once
// the output runs, every sample comes out in order.
TEST_F(PlaybackTest, AStalledVoiceLosesNoSound) {
    StartEngine(44100, 2);
    auto* player = new VideoPlayer;
    const VoiceRequest request{1.0f, 2, 44100};
    uint8_t job[sizeof(uint32_t) + sizeof request];
    const uint32_t create = VIDEO_JOB_CREATE_VOICE;
    std::memcpy(job, &create, 4);
    std::memcpy(job + 4, &request, sizeof request);
    VideoPlayer::RunJob(player, job, sizeof job);
    ASSERT_TRUE(player->HasVoice());
    // Eight seconds of a counting pattern in blocks of 4096 frames: more than the ring.
    const uint32_t frames = 44100 * 8, block = 4096;
    std::vector<int16_t> sent;
    for (uint32_t at = 0; at < frames; at += block) {
        const uint32_t n = std::min(block, frames - at);
        auto* buffer = static_cast<int16_t*>(EngineAlloc(n * 4));
        for (uint32_t i = 0; i < n * 2; ++i) buffer[i] = int16_t(((at * 2 + i) % 20000) - 10000);
        sent.insert(sent.end(), buffer, buffer + n * 2);
        struct {
            uint32_t job, bytes;
            void* data;
        } __attribute__((packed)) add{VIDEO_JOB_ADD_PCM, n * 4, buffer};
        VideoPlayer::RunJob(player, reinterpret_cast<const uint8_t*>(&add), sizeof add);
    }
    // The output runs: feed and render until everything was handed over and played.
    captured.clear();
    const uint32_t feed = VIDEO_JOB_FEED;
    for (uint32_t i = 0; i < 2000 && captured.size() < sent.size() + 4096; ++i) {
        VideoPlayer::RunJob(player, reinterpret_cast<const uint8_t*>(&feed), 4);
        Step();
    }
    EXPECT_EQ(player->SubmittedBytes(), uint64_t(sent.size()) * 2);
    const std::vector<int16_t> got = FromFirstSound(captured);
    ASSERT_GE(got.size(), sent.size() - 1);
    // Every sample in order; the mixer holds the very last frame back for interpolation.
    const std::vector<int16_t> want = FromFirstSound(sent);
    EXPECT_TRUE(std::equal(want.begin(), want.end() - 2, got.begin()));
    for (uint32_t j : {uint32_t(VIDEO_JOB_DESTROY_VOICE), uint32_t(VIDEO_JOB_DELETE)})
        VideoPlayer::RunJob(player, reinterpret_cast<const uint8_t*>(&j), 4);
}

}  // namespace
