// test-sanitize: address
// Playback against the sound thread's voice, everything on the test thread: the video
// ops run inline (no renderer), the sound engine runs without its thread over the
// manual output, and one ManualClock drives the video clock and the mixer. The sound
// reaching the output is compared with oggdec's decode; the clocks, looping, the
// play/stop counts, the error lines and the PCM ring's hand-over are checked.
#include <algorithm>
#include <cmath>
#include <functional>

#include "../../sound/SoundTestSupport.h"
#include "VideoTestSupport.h"
#include "core/Memory.h"
#include "engine/services/UIServices.h"

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

// The engine's UI seam hands out the video engine; what the Game's render frame asks of
// it (playing, full screen, the frame update) follows the play.
TEST_F(PlaybackTest, TheUIServicesReachTheVideoEngine) {
    Mount({"silent"});
    StartEngine();
    EXPECT_EQ(GetUIServices().GetVideoEngine(), gVideoEngine);
    for (bool fullScreen : {true, false}) {
        gVideoEngine->Play("silent", nullptr, fullScreen, false, 1.0f);
        EXPECT_TRUE(gVideoEngine->IsPlaying());
        EXPECT_EQ(gVideoEngine->IsFullScreen(), fullScreen);
        const uint32_t frames = CurrentPlayer() ? CurrentPlayer()->FrameCounter() : 0;
        ASSERT_TRUE(WaitForHeaders());
        clock.AdvanceSeconds(0.1);
        gVideoEngine->UpdateFrame();
        EXPECT_GT(CurrentPlayer()->FrameCounter(), frames);
        gVideoEngine->Stop();
        EXPECT_FALSE(gVideoEngine->IsPlaying());
    }
}

// Frames of 0.4 s: the sound thread wakes every 40 ms and the output plays on, while the
// video updates once per frame. The picture keeps within one video frame of the sound's
// clock (late frames are dropped), and the sound plays without gaps: the clip's beep at
// the start of every second comes out every second.
TEST_F(PlaybackTest, SlowFramesKeepThePictureWithItsSoundAndTheSoundWhole) {
    Mount({"beeps"});
    StartEngine(44100, 2);
    gVideoEngine->Play("beeps", nullptr, true, false, 1.0f);
    ASSERT_TRUE(WaitForHeaders());
    captured.clear();
    constexpr uint32_t kWakeMs = 40, kWakesPerFrame = 10;
    constexpr float kFrameSeconds = 1.0f / 25.0f;
    uint32_t shown = 0, checked = 0;
    float worst = 0.0f;
    for (uint32_t frame = 0; frame < 20 && gVideoEngine->IsPlaying(); ++frame) {
        for (uint32_t w = 0; w < kWakesPerFrame; ++w) {
            clock.Advance(os::kCounterFrequency * kWakeMs / 1000);
            std::vector<float> out(size_t(44100) * kWakeMs / 1000 * 2);
            engine->GetAudioEngine()->Render(uint32_t(out.size() / 2), out.data());
            for (float f : out) captured.push_back(int16_t(std::lrint(std::clamp(f, -1.0f, 1.0f) * 32767.0f)));
            engine->RunWake();
        }
        gVideoEngine->UpdateFrame();
        VideoPlayer* player = CurrentPlayer();
        if (!player || player->LastFrameCounter() == shown) continue;
        shown = player->LastFrameCounter();
        const float sound = float(double(player->SamplesPlayed()) / 44100.0);
        if (sound <= 0.0f || sound > 4.8f) continue;  // the voice playing the clip
        worst = std::max(worst, std::fabs(player->FrameTime() - sound));
        ++checked;
    }
    EXPECT_GE(checked, 8u);
    EXPECT_LE(worst, kFrameSeconds + 1e-3f);
    // Beep onsets: the first loud 5 ms window after at least 0.3 s of quiet.
    std::vector<double> onsets;
    const size_t window = 44100 / 200 * 2;
    double quietSince = 0.0;
    for (size_t at = 0; at + window <= captured.size(); at += window) {
        int peak = 0;
        for (size_t i = at; i < at + window; ++i) peak = std::max(peak, std::abs(int(captured[i])));
        const double time = double(at / 2) / 44100.0;
        if (peak < 1000) continue;
        if (time - quietSince >= 0.3) onsets.push_back(time);
        quietSince = time;
    }
    ASSERT_GE(onsets.size(), 4u);
    for (size_t i = 1; i < onsets.size(); ++i) EXPECT_NEAR(onsets[i] - onsets[i - 1], 1.0, 0.011) << "beep " << i;
}

// Copies of a clip damaged the way a broken download or disk would: each says what is
// wrong in one line naming the file; a picture the decoder cannot be trusted with is
// refused before the decoder allocates for it, the rest plays what it can, and the engine
// plays the whole clip afterwards.
TEST_F(PlaybackTest, DamagedClipsSayWhatIsWrongOnceAndTheEngineGoesOn) {
    Mount({"stereo320"});
    const std::vector<uint8_t> whole = ReadBytes(Clip("stereo320"));
    ASSERT_GT(whole.size(), 20000u);
    // The Ogg page CRC (polynomial 0x04C11DB7, no reflection) over the page with its
    // CRC field zero.
    auto fixPageHolding = [](std::vector<uint8_t>& b, size_t at) {
        size_t page = at;
        while (page > 0 && std::memcmp(&b[page], "OggS", 4) != 0) --page;
        const size_t segments = b[page + 26];
        size_t size = 27 + segments;
        for (size_t i = 0; i < segments; ++i) size += b[page + 27 + i];
        std::memset(&b[page + 22], 0, 4);
        uint32_t crc = 0;
        for (size_t i = page; i < page + size; ++i) {
            crc ^= uint32_t(b[i]) << 24;
            for (int k = 0; k < 8; ++k) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        for (int k = 0; k < 4; ++k) b[page + 22 + k] = uint8_t(crc >> (8 * k));
    };
    auto find = [&](const char* magic, size_t length) {
        const std::vector<uint8_t> bytes(magic, magic + length);
        const auto at = std::search(whole.begin(), whole.end(), bytes.begin(), bytes.end());
        return size_t(at - whole.begin());
    };
    const size_t theoraId = find("\x80theora", 7), vorbisId = find("\x01vorbis", 7);
    ASSERT_LT(theoraId, whole.size());
    ASSERT_LT(vorbisId, whole.size());
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* line;
        bool plays;
    };
    const Case cases[] = {
        {"huge", [&](std::vector<uint8_t>& b) {  // 0xFFFF macroblocks each way
             std::memset(&b[theoraId + 10], 0xFF, 4);
             fixPageHolding(b, theoraId);
         }, "has a coded frame of 1048560x1048560 for a picture of 320x240", false},
        {"wide", [&](std::vector<uint8_t>& b) {  // the width alone
             std::memset(&b[theoraId + 10], 0xFF, 2);
             fixPageHolding(b, theoraId);
         }, "has a coded frame of 1048560x240 for a picture of 320x240", false},
        {"nosound", [&](std::vector<uint8_t>& b) {  // no channels
             b[vorbisId + 11] = 0;
             fixPageHolding(b, vorbisId);
         }, "its sound stream's header is refused, it plays without sound", true},
        {"truncated", [&](std::vector<uint8_t>& b) { b.resize(b.size() * 3 / 5); },
         "ends before its streams do: the video plays what it has", true},
        {"garbled", [&](std::vector<uint8_t>& b) {
             uint32_t state = 12345;
             for (size_t i = b.size() / 2; i < b.size() / 2 + 3000; ++i) b[i] = uint8_t((state = state * 214013 + 2531011) >> 16);
         }, "is damaged: data was skipped, the video plays what it can", true},
    };
    // The frames shown until the playback ends.
    auto playToEnd = [&](const char* name) {
        gVideoEngine->Play(name, nullptr, true, false, 1.0f);
        EXPECT_TRUE(WaitForHeaders());
        uint32_t frames = 0;
        for (uint32_t i = 0; i < 200 && gVideoEngine->IsPlaying(); ++i) {
            Tick();
            if (CurrentPlayer()) frames = std::max(frames, CurrentPlayer()->LastFrameCounter());
        }
        EXPECT_FALSE(gVideoEngine->IsPlaying());
        return frames;
    };
    StartEngine(44100, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = whole;
        c.damage(bytes);
        WriteBytes(folder.root + "/videos/" + c.name + ".ogv", bytes);
        log.Clear();
        const uint32_t frames = playToEnd(c.name);
        const std::string file = std::string("videos/") + c.name + ".ogv";
        uint32_t lines = 0;
        for (const auto& m : log.Messages())
            if (m.text.find(file) != std::string::npos) {
                ++lines;
                EXPECT_NE(m.text.find(c.line), std::string::npos) << m.text;
            }
        EXPECT_EQ(lines, 1u) << "lines naming " << file;
        if (c.plays) EXPECT_GT(frames, 5u);
        else EXPECT_EQ(frames, 0u);
    }
    log.Clear();
    EXPECT_EQ(playToEnd("stereo320"), 30u);
    EXPECT_FALSE(Logged("Video"));
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
