// test-sanitize: thread address
// The main thread moves 500 emitters while the sound thread updates their sounds and
// the real-time mixer renders them: every emitter field crosses threads only inside the
// sound thread's jobs. Every wait has a time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "SoundTestSupport.h"
#include "sound/EntitySoundEmitter.h"

using namespace soundtest;

namespace {

struct EmitterThreads : SoundFolderFixture {};

TEST_F(EmitterThreads, MainThreadMovesEmittersWhileTheSoundThreadPlaysThem) {
    ASSERT_TRUE(MakeTone(Sound("hum.wav"), "-r 22050 -c 1 -b 16", 0.5));
    SoundEngine* saved = gSoundEngine;
    SoundEngine* engine = new SoundEngine;
    gSoundEngine = engine;
    ASSERT_TRUE(engine->Start());  // the real-time null output and its mixer thread
    ASSERT_TRUE(engine->Flush());

    constexpr int kEmitters = 500;
    std::vector<EntitySoundEmitter*> emitters;
    SoundParamWrapper p;
    p.LoadDefaults();
    p.LoopCount = 0;
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
    gSoundEngine = saved;
    delete engine;
}

}  // namespace
