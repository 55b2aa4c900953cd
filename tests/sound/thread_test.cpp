// test-sanitize: thread address
// test-timeout: 300
// The real sound thread: jobs in order with the commands around them, a streamed Ogg
// played in real time on the null output and captured to a WAV file, and two writer
// threads posting while the sound, mixer and loader threads work. Every wait has a
// time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "SoundTestSupport.h"

using namespace soundtest;

namespace {

struct RealThread : SoundFolderFixture {
    void TearDown() override {
        engine->Stop();
        SoundFolderFixture::TearDown();
    }
    // The instance count, read on the sound thread.
    int InstancesOnSoundThread() {
        std::atomic<int> count{-1};
        engine->PostJob([](void* a, const uint8_t*, uint32_t) {
            static_cast<std::atomic<int>*>(a)->store(int(SoundInstanceBase::Count()));
        }, &count, nullptr, 0);
        EXPECT_TRUE(WaitUntil([&] { return count.load() >= 0; }, 10.0));
        return count.load();
    }

    OwnSoundEngine own;
    SoundEngine* engine = own.engine;
};

struct JobRecord {
    std::atomic<int> runs{0};
    std::atomic<uint64_t> thread{0};
    std::atomic<bool> sawEngine{false};
    std::atomic<float> channelVolume{-1.0f};
    std::atomic<uint32_t> payload{0};
};

void RecordJob(void* argument, const uint8_t* payload, uint32_t bytes) {
    auto* r = static_cast<JobRecord*>(argument);
    r->thread = os::CurrentThreadId();
    r->sawEngine = gSoundEngine->GetAudioEngine() != nullptr;
    r->channelVolume = gSoundEngine->Channel(1).volumeFade.current;
    uint32_t v = 0;
    if (bytes == sizeof v) std::memcpy(&v, payload, sizeof v);
    r->payload = v;
    r->runs.fetch_add(1);
}

}  // namespace

TEST_F(RealThread, JobsRunInOrderWithTheCommandsAndInlineWithoutTheThread) {
    const audio::EngineOptions options{audio::OutputKind::kManual, 48000, 2, nullptr};
    engine->SetEngineOptions(&options);
    ASSERT_TRUE(engine->Start());
    JobRecord first, second;
    const uint32_t a = 0xA11CE, b = 0xB0B;
    engine->SetChannelVolume(1, 0.5f, 0.0f, 0);
    engine->PostJob(&RecordJob, &first, &a, sizeof a);
    engine->SetChannelVolume(1, 0.25f, 0.0f, 0);
    engine->PostJob(&RecordJob, &second, &b, sizeof b);
    ASSERT_TRUE(WaitUntil([&] { return second.runs.load() == 1; }, 10.0));
    EXPECT_EQ(first.channelVolume.load(), 0.5f);
    EXPECT_EQ(second.channelVolume.load(), 0.25f);
    EXPECT_EQ(first.payload.load(), a);
    EXPECT_EQ(second.payload.load(), b);
    EXPECT_EQ(first.thread.load(), engine->ThreadId());
    EXPECT_TRUE(first.sawEngine.load());

    engine->Stop();
    JobRecord inlineRun;
    engine->PostJob(&RecordJob, &inlineRun, &a, sizeof a);
    EXPECT_EQ(inlineRun.runs.load(), 1);  // ran before PostJob returned
    EXPECT_EQ(inlineRun.thread.load(), os::CurrentThreadId());
    EXPECT_FALSE(inlineRun.sawEngine.load());
}

TEST_F(RealThread, StreamedOggDrainsInRealTimeAndIsCaptured) {
    ASSERT_TRUE(MakeOgg(Sound("two.ogg"), 44100, 2, 2.0));
    const uint64_t frames = std::stoull(ShellOutput("soxi -s '" + Sound("two.ogg") + "'"));
    const std::string capture = root + "/capture.wav";
    const audio::EngineOptions options{audio::OutputKind::kRealtimeNull, 44100, 2, nullptr};
    engine->SetEngineOptions(&options);
    setenv("AUDIO_CAPTURE_WAV", capture.c_str(), 1);  // read when the thread makes its output
    ASSERT_TRUE(engine->Start());
    engine->Flush();
    unsetenv("AUDIO_CAPTURE_WAV");
    const SoundParamWrapper p = Params(SOUNDSTARTFLAG_STREAMED);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_NE(engine->PlaySystemSound("two.ogg", &p), 0u);

    // Two more writers post while it plays: plays that come to nothing, fades and stops.
    std::atomic<bool> go{true};
    auto writer = [&](uint32_t channel) {
        for (int i = 0; i < 200 && go.load(); ++i) {
            const uint32_t id = engine->PlaySystemSound("", nullptr);
            engine->SetChannelVolume(channel, 1.0f, 0.1f, 0);
            engine->StopSound(id, 0.0f);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    std::thread w1(writer, 5u), w2(writer, 6u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(WaitUntil([&] { return InstancesOnSoundThread() == 0; }, 30.0));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    go = false;
    w1.join();
    w2.join();
    EXPECT_GT(seconds, 1.9);
    EXPECT_LT(seconds, 6.0);
    engine->Stop();  // closes the capture

    const double captured = std::stod(ShellOutput("soxi -D '" + capture + "'"));
    EXPECT_GE(captured, 2.0);
    // The tone sits in the capture as one run of the file's length.
    const std::vector<int16_t> samples = SoxDecode(capture);
    size_t firstSound = samples.size(), lastSound = 0;
    for (size_t i = 0; i < samples.size(); ++i)
        if (std::abs(samples[i]) > 2) {
            firstSound = std::min(firstSound, i / 2);
            lastSound = i / 2;
        }
    ASSERT_LT(firstSound, lastSound);
    EXPECT_NEAR(double(lastSound - firstSound), double(frames), 44100 * 0.25);
}

TEST_F(RealThread, MixerGlitchesAreLogged) {
    const audio::EngineOptions options{audio::OutputKind::kRealtimeNull, 48000, 2, nullptr};
    engine->SetEngineOptions(&options);
    CaptureLogSink log;
    log.Attach();
    ASSERT_TRUE(engine->Start());
    engine->PostJob([](void*, const uint8_t*, uint32_t) { gSoundEngine->GetAudioEngine()->InjectMixerStall(200); },
                    nullptr, nullptr, 0);
    EXPECT_TRUE(WaitUntil([&] { return log.Contains("sound glithes during"); }, 10.0));
}
