// test-sanitize: address
// The engine's and the scene's sound entries as the sound library fills them: each engine
// entry reaches its command on the sound thread (the listener, volumes, focus changes,
// the Game's close), and the shutdown destroys every voice before the audio engine goes.
// The scene's effect entries: an emitter made at a matrix and moved, a sound entry played
// on it with the entry's own volume handed back, volume and loop calls addressed to the
// one instance with the emitter as owner, an unknown entry giving 0, and the emitter's
// release (LeakSanitizer sees one never freed).
#include <gtest/gtest.h>

#include "SoundTestSupport.h"
#include "core/config/GameConfig.h"
#include "engine/camera/CameraServices.h"
#include "engine/camera/Cameras.h"
#include "engine/services/EngineServices.h"
#include "scene/SceneServices.h"
#include "sound/EntitySoundEmitter.h"
#include "sound/SoundEntries.h"
#include "sound/SoundServices.h"

using namespace soundtest;

namespace {

// The renderer's camera as the cameras read it: a view looking from (4, 5, 6).
struct ViewServices : CameraServices {
    ViewServices() {
        Matrix world = Matrix::IDENTITY;
        world.r[3] = Vector(4, 5, 6, 1);
        view.Inverse(world);
    }
    const Matrix& CurrentView() const override { return view; }
    Matrix view;
};

struct FixedCamera : BaseCamera {
    void ComputeMatrices(Matrix* v, Matrix* p) override { *v = *p = Matrix::IDENTITY; }
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
};

struct EngineSound : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        FillSoundServices();
        ASSERT_TRUE(MakeTone(Sound("hum.wav"), "-r 22050 -c 1 -b 16", 0.5));
    }
    void After(double seconds) {
        clock.AdvanceSeconds(seconds);
        engine->RunWake();
    }
    EngineServices& s = gEngineServices;
};

TEST_F(EngineSound, EveryEntryIsFilled) {
    auto filled = [](auto... entries) { return (0 + ... + (entries != nullptr)); };
    EXPECT_EQ(filled(s.soundEngine, s.soundEntriesContainer, s.soundEngineSetListener, s.soundEngineRunning,
                     s.soundSetAppActive, s.soundFadeMasterVolume, s.soundSetTimeoutMode, s.soundStopSound,
                     s.soundSetChannelFrequencyRatio, s.soundEngineStart, s.soundEngineFlush, s.soundEngineStop,
                     s.soundRemoveAllSoundEntries, s.soundRefreshVolumes, s.entityGetSoundEmitter, s.entityPlaySound,
                     s.entityStopSound, s.entityExitLoop, s.entityPauseSound, s.entityResumeSound,
                     s.entitySetSoundVolume, s.entitySetVelocityForDopplerEffect, s.entitySetSoundAltitudeOverride,
                     s.entityUpdateSoundEmitter, s.entityReleaseSoundEmitter),
              25);
    EXPECT_EQ(s.soundEngine(), engine);
    EXPECT_EQ(s.soundEntriesContainer(), gSoundEntriesContainer);
}

TEST_F(EngineSound, TheEntriesReachTheSoundThread) {
    s.soundEngineStart();
    started = true;
    options = audio::EngineOptions{audio::OutputKind::kManual, 22050, 2, nullptr};
    engine->SetEngineOptions(&options);
    engine->RunWake();
    ASSERT_NE(engine->GetAudioEngine(), nullptr);
    EXPECT_FALSE(s.soundEngineRunning());  // stepped by the test, not a thread

    // The cameras' listener: command 10.
    Matrix listener = Matrix::IDENTITY;
    listener.r[3] = Vector(1, 2, 3, 1);
    s.soundEngineSetListener(listener);
    engine->RunWake();
    EXPECT_EQ(engine->GetListener().position.z, 3.0f);

    // A camera's listener: the inverse of the renderer's view.
    ViewServices views;
    SetCameraServices(&views);
    FixedCamera camera;
    camera.UpdateSoundListener();
    SetCameraServices(nullptr);
    engine->RunWake();
    EXPECT_NEAR(engine->GetListener().position.x, 4.0f, 1e-5f);
    EXPECT_NEAR(engine->GetListener().position.z, 6.0f, 1e-5f);

    // A volume setter of the configuration helper: command 11.
    ASSERT_NE(gGameConfig, nullptr);
    gGameConfig->sfxVolume = 0.25f;
    s.soundRefreshVolumes();
    engine->RunWake();
    EXPECT_EQ(engine->ClassVolume(SOUNDCLASS_SFX), 0.25f);
    gGameConfig->sfxVolume = 1.0f;
    s.soundRefreshVolumes();

    const SoundParamWrapper endless = Params(0, 0);
    engine->PlaySystemSound("hum.wav", &endless);
    ASSERT_TRUE(RunUntilVoiced());

    // Focus lost: the master fades (completed at once) and the thread waits forever;
    // regained: the time-out and the volume come back.
    s.soundSetAppActive(false);
    s.soundFadeMasterVolume(0.0f, 1.0f, 0);
    s.soundSetTimeoutMode(true);
    engine->RunWake();
    EXPECT_FALSE(engine->IsAppActive());
    EXPECT_EQ(engine->CurrentTimeout(), BaseThread::kWaitForever);
    EXPECT_EQ(VoiceStates()[0].volume, 0.0f);
    s.soundFadeMasterVolume(1.0f, 1.0f, 0);
    s.soundSetTimeoutMode(false);
    s.soundSetAppActive(true);
    After(0.03);
    EXPECT_TRUE(engine->IsAppActive());
    EXPECT_NE(engine->CurrentTimeout(), BaseThread::kWaitForever);
    After(1.0);
    EXPECT_EQ(VoiceStates()[0].volume, 1.0f);

    // Game::Close: every sound fades out over 0.8 s, every channel's ratio goes to 1.0
    // over 3 s.
    engine->SetChannelFrequencyRatio(kSoundAllChannels, 0.5f, 0.0f, 0);
    s.soundStopSound(-1, 0.8f, 0);
    s.soundSetChannelFrequencyRatio(-1, 1.0f, 3.0f, 0);
    engine->RunWake();
    const SoundInstanceBase* i = SoundInstanceBase::First();
    ASSERT_NE(i, nullptr);
    EXPECT_TRUE(i->StateFlags() & SOUNDINSTANCE_STOPPING);
    EXPECT_EQ(i->VolumeFade().duration, 0.8f);
    for (uint32_t c = 0; c < kSoundChannelCount; ++c) {
        EXPECT_EQ(engine->Channel(c).frequencyRatioFade.to, 1.0f) << c;
        EXPECT_EQ(engine->Channel(c).frequencyRatioFade.duration, 3.0f) << c;
    }
    After(1.0);
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

// Counts voices alive when the audio engine is released.
uint32_t gVoicesAtRelease = 1000;
struct WatchingEngine : ForwardingEngine {
    using ForwardingEngine::ForwardingEngine;
    uint32_t Release() override {
        gVoicesAtRelease = inner->GetVoiceDebugStates(nullptr, 0);
        return ForwardingEngine::Release();
    }
};

TEST_F(EngineSound, ShutdownDestroysEveryVoiceFirstAndNoEmitterLeaks) {
    // The real thread on the null output, started and stopped through the entries.
    engine->SetRunWithoutThread(false);
    engine->SetEngineFactory(&CreateForwardingEngine<WatchingEngine>);
    s.soundEngineStart();
    s.soundEngineFlush();
    EXPECT_TRUE(s.soundEngineRunning());
    EntitySoundEmitter* emitter = nullptr;
    SoundParamWrapper endless = Params(SOUNDSTARTFLAG_IMPORTANT, 0);
    EXPECT_NE(s.entityPlaySound(emitter, Matrix::IDENTITY, "hum.wav", &endless), 0u);
    engine->PlaySystemSound("hum.wav", &endless);
    EXPECT_TRUE(WaitUntil([&] {
        clock.Advance(kWake);
        s.soundEngineFlush();
        uint32_t voiced = 0;
        engine->PostJob([](void* n, const uint8_t*, uint32_t) {
            for (const SoundInstanceBase* i = SoundInstanceBase::First(); i; i = i->Next())
                if (i->Voice()) ++*static_cast<uint32_t*>(n);
        }, &voiced, nullptr, 0);
        s.soundEngineFlush();
        return voiced == 2;
    }));
    s.soundEngineStop();
    EXPECT_FALSE(s.soundEngineRunning());
    EXPECT_EQ(gVoicesAtRelease, 0u);
    s.entityReleaseSoundEmitter(emitter);  // after the stop: freed on the caller
}

struct EffectSounds : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        FillSoundServices();
        ASSERT_TRUE(MakeTone(Sound("hum.wav"), "-r 48000 -c 1 -b 16", 1.0));
        SoundEntryParams hum;
        hum.AddSound("hum.wav");
        hum.volume = 0.5f;
        hum.loop = true;
        ASSERT_TRUE(entries.AddSoundEntry("Hum", hum));
        entries.EnableSoundsPlay(true);
        previous = gSoundEntriesContainer;
        gSoundEntriesContainer = &entries;
    }
    void TearDown() override {
        gSoundEntriesContainer = previous;
        InlineEngineFixture::TearDown();
    }
    SoundEntriesContainer entries;
    SoundEntriesContainer* previous = nullptr;
};

TEST_F(EffectSounds, EmitterPlayVolumeLoopAndRelease) {
    StartEngine();
    const SceneServices& s = gSceneServices;
    ASSERT_TRUE(s.soundEmitterCreate && s.soundEmitterPostTransform && s.soundEmitterRelease && s.soundEntryPlay &&
                s.soundEntryPreload && s.soundSetVolume && s.soundExitLoop);
    void* emitter = s.soundEmitterCreate(At(1, 2, 3));
    ASSERT_NE(emitter, nullptr);
    float entryVolume = 0.0f;
    EXPECT_EQ(s.soundEntryPlay("Missing", emitter, 0, 1.0f, &entryVolume), 0u);
    EXPECT_EQ(entryVolume, 1.0f);
    const unsigned id = s.soundEntryPlay("Hum", emitter, 0, 1.0f, &entryVolume);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(entryVolume, 0.5f);
    ASSERT_TRUE(RunUntilVoiced());
    const SoundInstanceBase* i = SoundInstanceBase::First();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->OwnerTransform().r[3].x, 1.0f);
    s.soundEmitterPostTransform(emitter, At(4, 5, 6));
    Step();
    EXPECT_EQ(i->OwnerTransform().r[3].x, 4.0f);
    // Another owner's calls leave the instance alone; its own fade it out.
    int other = 0;
    s.soundSetVolume(id, 0.0f, 0.0f, 0, &other);
    s.soundExitLoop(id, &other);
    Step();
    ASSERT_NE(SoundInstanceBase::First(), nullptr);
    EXPECT_FALSE(SoundInstanceBase::First()->StateFlags() & SOUNDINSTANCE_STOPPING);
    s.soundSetVolume(id, 0.0f, 0.3f, 0, emitter);
    s.soundExitLoop(id, emitter);
    int steps = 0;
    while (SoundInstanceBase::First() && steps < 100) {
        Step();
        ++steps;
    }
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    s.soundEntryPreload("Hum");
    s.soundEmitterRelease(emitter);
    Step();
}

}  // namespace
