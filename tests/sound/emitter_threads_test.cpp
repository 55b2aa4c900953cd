// test-sanitize: thread address
// The main thread moves 500 emitters while the sound thread updates their sounds and
// the real-time mixer renders them: every emitter field crosses threads only inside the
// sound thread's jobs. Every wait has a time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

#include "SoundTestSupport.h"
#include "sound/EntitySoundEmitter.h"

using namespace soundtest;

namespace {

// The real sound thread on the real-time null output and its mixer thread.
struct EmitterThreads : SoundFolderFixture {
    void SetUp() override {
        SoundFolderFixture::SetUp();
        ASSERT_TRUE(engine->Start());
        ASSERT_TRUE(engine->Flush());
    }
    void TearDown() override {
        engine->Stop();
        SoundFolderFixture::TearDown();
    }
    OwnSoundEngine own;
    SoundEngine* engine = own.engine;
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
