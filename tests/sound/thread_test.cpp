// test-sanitize: thread address
// test-timeout: 300
// The real sound thread: jobs in order with the commands around them, a streamed Ogg
// played in real time on the null output and captured to a WAV file, two writer
// threads posting while the sound, mixer and loader threads work, and 500 emitters moved
// by the main thread while the sound thread updates their sounds (every emitter field
// crosses threads only inside the sound thread's jobs). Every wait has a time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "SoundTestSupport.h"
#include "sound/EntitySoundEmitter.h"

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

namespace {

// The real sound thread on the real-time null output and its mixer thread.
struct EmitterThreads : RealThread {
    void SetUp() override {
        RealThread::SetUp();
        ASSERT_TRUE(engine->Start());
        ASSERT_TRUE(engine->Flush());
    }
};

TEST_F(EmitterThreads, MainThreadMovesEmittersWhileTheSoundThreadPlaysThem) {
    ASSERT_TRUE(MakeTone(Sound("hum.wav"), "-r 22050 -c 1 -b 16", 0.5));
    constexpr int kEmitters = 500;
    std::vector<EntitySoundEmitter*> emitters;
    SoundParamWrapper p = Params(0, 0);
    p.FullVolumeRange = 10.0f;
    p.ZeroVolumeRange = 15.0f;
    p.DopplerFactor = 1.0f;
    for (int i = 0; i < kEmitters; ++i) {
        Matrix m = Matrix::IDENTITY;
        m.r[3] = Vector(float(i % 20), 0.0f, float(i / 20), 1.0f);
        emitters.push_back(new EntitySoundEmitter(m));
        EXPECT_NE(emitters.back()->StartSound("hum.wav", &p), 0u);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    for (int frame = 0; std::chrono::steady_clock::now() < end; ++frame) {
        for (int i = 0; i < kEmitters; ++i) {
            Matrix m = Matrix::IDENTITY;
            // Half of them wander out of range and back (placeholders and rebuilds).
            const float z = float(i / 20) + ((i & 1) ? float(frame % 40) : 0.0f);
            m.r[3] = Vector(float(i % 20), float(frame % 3), z, 1.0f);
            emitters[size_t(i)]->PostTransform(m);
            if (i % 50 == 0) emitters[size_t(i)]->PostVelocity(Vector(0, 0, float(frame % 7), 0));
            if (i % 97 == 0) emitters[size_t(i)]->PostAltitudeOverride(frame % 2 ? 4.0f : -1.0f);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (EntitySoundEmitter* e : emitters) e->PostRelease();
    EXPECT_TRUE(engine->Flush());
    engine->Stop();
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

TEST_F(EmitterThreads, JobRecordsCarryTheExecutorTheEmitterTheOperationAndItsData) {
    // The sound thread waits inside a job, so the records stay in the ring.
    std::atomic<bool> release{false};
    engine->PostJob([](void* flag, const uint8_t*, uint32_t) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!static_cast<std::atomic<bool>*>(flag)->load() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }, &release, nullptr, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    EntitySoundEmitter* e = new EntitySoundEmitter(Matrix::IDENTITY);
    // A record: 8 header bytes, the call function, the emitter, the job at native size,
    // then u32 operation and its data, the whole rounded up to 4 bytes.
    const uint32_t fixed = 8 + 3 * uint32_t(sizeof(void*)) + 4;
    auto recordBytes = [&](uint32_t data) { return (fixed + data + 3) & ~3u; };
    struct Row {
        const char* what;
        std::function<void()> post;
        uint32_t data;
    };
    const Row rows[] = {
        {"transform", [&] { e->PostTransform(Matrix::IDENTITY); }, 64},
        {"velocity", [&] { e->PostVelocity(Vector(1, 2, 3, 0)); }, 16},
        {"altitude override", [&] { e->PostAltitudeOverride(2.0f); }, 4},
        {"start sound", [&] { EXPECT_NE(e->StartSound("abc.wav", nullptr), 0u); }, 4 + 48 + 8},
        {"release", [&] { e->PostRelease(); }, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const uint32_t before = engine->Ring().WriteOffset();
        row.post();
        EXPECT_EQ(engine->Ring().WriteOffset() - before, recordBytes(row.data));
    }
    release = true;
    EXPECT_TRUE(engine->Flush());
}

}  // namespace
