// test-sanitize: address
// The engine's and the scene's sound entries as the sound library fills them: each engine
// entry reaches its command on the sound thread (the listener, volumes, focus changes,
// the Game's close), and the shutdown destroys every voice before the audio engine goes.
// The scene's effect entries: an emitter made at a matrix and moved, a sound entry played
// on it with the entry's own volume handed back, volume and loop calls addressed to the
// one instance with the emitter as owner, an unknown entry giving 0, and the emitter's
// release (LeakSanitizer sees one never freed).
//
// Entity sound emitters: their operations, the entity's sound methods through the
// engine's entries, the release at destruction (AddressSanitizer sees an instance that
// kept a freed emitter), and the rules while the sound thread does not run
// (LeakSanitizer sees an emitter that is never freed).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "SoundTestSupport.h"
#include "core/config/GameConfig.h"
#include "engine/camera/CameraServices.h"
#include "engine/camera/Cameras.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/services/SoundServices.h"
#include "scene/SceneSoundServices.h"
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
        InstallSoundServices();
        ASSERT_TRUE(MakeTone(Sound("hum.wav"), "-r 22050 -c 1 -b 16", 0.5));
    }
    void After(double seconds) {
        clock.AdvanceSeconds(seconds);
        engine->RunWake();
    }
    // The engine's sound services as installed now.
    static SoundServices& Services() { return GetSoundServices(); }
};

// Filling installs the engine's and the scene's sound services; clearing (the library's
// shut-down) removes them again, so nothing calls into a sound engine that is gone.
TEST_F(EngineSound, EveryEntryIsFilledAndClearedAgain) {
    const auto sceneSoundStarts = [] { return &GetSceneSoundServices() == &SoundLibrarySceneServices(); };
    EXPECT_TRUE(sceneSoundStarts());
    EXPECT_EQ(Services().GetSoundEngine(), engine);
    EXPECT_EQ(Services().GetSoundEntriesContainer(), gSoundEntriesContainer);
    ClearSoundServices();
    EXPECT_FALSE(sceneSoundStarts());
    EXPECT_EQ(Services().GetSoundEngine(), nullptr);
    EXPECT_EQ(Services().GetSoundEntriesContainer(), nullptr);
    InstallSoundServices();
}

TEST_F(EngineSound, TheEntriesReachTheSoundThread) {
    Services().StartEngine();
    started = true;
    options = audio::EngineOptions{audio::OutputKind::kManual, 22050, 2, nullptr};
    engine->SetEngineOptions(&options);
    engine->RunWake();
    ASSERT_NE(engine->GetAudioEngine(), nullptr);
    EXPECT_FALSE(engine->IsRunning());  // stepped by the test, not a thread

    // The cameras' listener: command 10.
    Matrix listener = Matrix::IDENTITY;
    listener.r[3] = Vector(1, 2, 3, 1);
    Services().SetListener(listener);
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
    engine->ApplyVolumeSettings();
    engine->RunWake();
    EXPECT_EQ(engine->ClassVolume(SOUNDCLASS_SFX), 0.25f);
    gGameConfig->sfxVolume = 1.0f;
    engine->ApplyVolumeSettings();

    const SoundParamWrapper endless = Params(0, 0);
    engine->PlaySystemSound("hum.wav", &endless);
    ASSERT_TRUE(RunUntilVoiced());

    // Focus lost: the master fades (completed at once) and the thread waits forever;
    // regained: the time-out and the volume come back.
    engine->SetAppActive(false);
    engine->FadeMasterVolume(0.0f, 1.0f, 0);
    engine->SetTimeoutMode(1);
    engine->RunWake();
    EXPECT_FALSE(engine->IsAppActive());
    EXPECT_EQ(engine->CurrentTimeout(), BaseThread::kWaitForever);
    EXPECT_EQ(VoiceStates()[0].volume, 0.0f);
    engine->FadeMasterVolume(1.0f, 1.0f, 0);
    engine->SetTimeoutMode(0);
    engine->SetAppActive(true);
    After(0.03);
    EXPECT_TRUE(engine->IsAppActive());
    EXPECT_NE(engine->CurrentTimeout(), BaseThread::kWaitForever);
    After(1.0);
    EXPECT_EQ(VoiceStates()[0].volume, 1.0f);

    // Game::Close: every sound fades out over 0.8 s, every channel's ratio goes to 1.0
    // over 3 s.
    engine->SetChannelFrequencyRatio(kSoundAllChannels, 0.5f, 0.0f, 0);
    engine->StopSound(kSoundAllInstances, 0.8f);
    engine->SetChannelFrequencyRatio(kSoundAllChannels, 1.0f, 3.0f, 0);
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
    Services().StartEngine();
    Services().FlushEngine();
    EXPECT_TRUE(engine->IsRunning());
    EntitySoundEmitter* emitter = nullptr;
    SoundParamWrapper endless = Params(SOUNDSTARTFLAG_IMPORTANT, 0);
    EXPECT_NE(Services().PlaySound(emitter, Matrix::IDENTITY, "hum.wav", &endless), 0u);
    engine->PlaySystemSound("hum.wav", &endless);
    EXPECT_TRUE(WaitUntil([&] {
        clock.Advance(kWake);
        Services().FlushEngine();
        uint32_t voiced = 0;
        engine->PostJob([](void* n, const uint8_t*, uint32_t) {
            for (const SoundInstanceBase* i = SoundInstanceBase::First(); i; i = i->Next())
                if (i->Voice()) ++*static_cast<uint32_t*>(n);
        }, &voiced, nullptr, 0);
        Services().FlushEngine();
        return voiced == 2;
    }));
    Services().StopEngine();
    EXPECT_FALSE(engine->IsRunning());
    EXPECT_EQ(gVoicesAtRelease, 0u);
    Services().ReleaseSoundEmitter(emitter);  // after the stop: freed on the caller
}

struct EffectSounds : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        InstallSoundServices();
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
    SceneSoundServices& s = GetSceneSoundServices();
    EntitySoundEmitter* emitter = s.CreateEmitter(At(1, 2, 3));
    ASSERT_NE(emitter, nullptr);
    float entryVolume = 0.0f;
    EXPECT_EQ(s.PlayEntry("Missing", emitter, 0, 1.0f, &entryVolume), 0u);
    EXPECT_EQ(entryVolume, 1.0f);
    const unsigned id = s.PlayEntry("Hum", emitter, 0, 1.0f, &entryVolume);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(entryVolume, 0.5f);
    ASSERT_TRUE(RunUntilVoiced());
    const SoundInstanceBase* i = SoundInstanceBase::First();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->OwnerTransform().r[3].x, 1.0f);
    s.PostEmitterTransform(emitter, At(4, 5, 6));
    Step();
    EXPECT_EQ(i->OwnerTransform().r[3].x, 4.0f);
    // Another owner's calls leave the instance alone; its own fade it out.
    int other = 0;
    EntitySoundEmitter* otherOwner = reinterpret_cast<EntitySoundEmitter*>(&other);
    s.SetVolume(id, 0.0f, 0.0f, 0, otherOwner);
    s.ExitLoop(id, otherOwner);
    Step();
    ASSERT_NE(SoundInstanceBase::First(), nullptr);
    EXPECT_FALSE(SoundInstanceBase::First()->StateFlags() & SOUNDINSTANCE_STOPPING);
    s.SetVolume(id, 0.0f, 0.3f, 0, emitter);
    s.ExitLoop(id, emitter);
    int steps = 0;
    while (SoundInstanceBase::First() && steps < 100) {
        Step();
        ++steps;
    }
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    s.PreloadEntry("Hum");
    s.ReleaseEmitter(emitter);
    Step();
}

struct Emitters : InlineEngineFixture {
    void SetUp() override {
        InlineEngineFixture::SetUp();
        InstallSoundServices();
        ASSERT_TRUE(MakeTone(Sound("mono.wav"), "-r 48000 -c 1 -b 16", 1.0));
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        tpl.typeId = 0;
        tpl.SetName("tpl");
    }
    void TearDown() override {
        gEntityManager->NewScene();
        InstallSoundServices();
        InlineEngineFixture::TearDown();
    }
    Entity* Make() { return gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY, 0, nullptr); }

    EntityTemplate tpl;
};

TEST_F(Emitters, OperationsMoveTheEmitterAndTheAltitudeOverridePinsItsHeight) {
    StartEngine();
    EntitySoundEmitter* e = new EntitySoundEmitter(At(1, 2, 3));
    struct Row {
        const char* what;
        int op;  // 1 transform to (x, y, z), 3 override y
        float x, y, z;
        float wantY, wantSaved;
    };
    const Row rows[] = {
        {"made at y 2", 0, 0, 0, 0, 2, 2},
        {"moved to y 3", 1, 4, 3, 6, 3, 3},
        {"pinned at 5", 3, 0, 5, 0, 5, 3},
        {"moves keep the pin", 1, 7, 9, 1, 5, 9},
        {"a pin of 0 holds", 3, 0, 0, 0, 0, 9},
        {"-1 restores the own y at once", 3, 0, -1, 0, 9, 9},
        {"moves follow again", 1, 0, -4, 0, -4, -4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.op == 1) e->PostTransform(At(row.x, row.y, row.z));
        if (row.op == 3) e->PostAltitudeOverride(row.y);
        EXPECT_EQ(e->Transform().r[3].y, row.wantY);
        EXPECT_EQ(e->SavedAltitude(), row.wantSaved);
        if (row.op == 1) {
            EXPECT_EQ(e->Transform().r[3].x, row.x);
        }
    }
    e->PostVelocity(Vector(1, 2, 3, 0));
    EXPECT_EQ(e->Velocity().z, 3.0f);

    // Operations 5 and above, and short records, change nothing.
    const Matrix before = e->Transform();
    for (uint32_t op : {5u, 6u, 0xFFFFFFFFu, 1u, 2u, 3u}) {
        uint8_t payload[4 + 8] = {};
        std::memcpy(payload, &op, 4);
        std::memset(payload + 4, 0x41, 8);
        EntitySoundEmitter::Execute(e, payload, op >= 5 ? sizeof payload : 4 + 2);
        EXPECT_EQ(std::memcmp(&before, &e->Transform(), sizeof before), 0) << op;
        EXPECT_EQ(e->Velocity().z, 3.0f) << op;
    }
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    e->PostRelease();
}

TEST_F(Emitters, EntitySoundsFollowTheEntityAndFadeWhereItDied) {
    StartEngine();
    Entity* entity = Make();
    entity->StopSound(kSoundAllInstances, 0.0f);
    entity->PauseSound(kSoundAllInstances, 0.0f, -1);
    entity->SetVolume(0.5f, 0.0f, 0, kSoundAllInstances);
    entity->ExitLoop(kSoundAllInstances);
    EXPECT_FALSE(entity->HasSoundEmitter());  // none of these makes an emitter

    EXPECT_EQ(entity->PlaySound(nullptr, nullptr), 0u);
    EXPECT_TRUE(entity->HasSoundEmitter());  // made anyway
    SoundParamWrapper endless = Params(0, 0);
    endless.Flags = SOUNDSTARTFLAG_IMPORTANT;
    const uint32_t id = entity->PlaySound("mono.wav", &endless);
    EXPECT_NE(id, 0u);
    ASSERT_TRUE(RunUntilVoiced());

    entity->SetGlobalPosition3(10, 1, 20);
    Step();
    const SoundInstanceBase* i = SoundInstanceBase::First();
    EXPECT_EQ(i->OwnerTransform().r[3].x, 10.0f);
    EXPECT_EQ(i->OwnerTransform().r[3].y, 1.0f);
    entity->SetSoundAltitudeOverride(5.0f);
    entity->SetGlobalPosition3(11, 2, 21);
    Step();
    EXPECT_EQ(i->OwnerTransform().r[3].x, 11.0f);
    EXPECT_EQ(i->OwnerTransform().r[3].y, 5.0f);
    entity->SetSoundAltitudeOverride(-1.0f);
    Step();
    EXPECT_EQ(i->OwnerTransform().r[3].y, 2.0f);

    entity->SetGlobalPosition3(12, 3, 22);
    Step();
    entity->SetGlobalPosition3(13, 3, 22);  // not heard there: no update in between
    entity->Destroy();
    Step();
    i = SoundInstanceBase::First();
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->Owner(), nullptr);
    EXPECT_TRUE(i->StateFlags() & SOUNDINSTANCE_STOPPING);
    EXPECT_EQ(i->OwnerTransform().r[3].x, 12.0f);
    int steps = 1;
    while (SoundInstanceBase::First() && steps < 100) {
        Step();
        ++steps;
    }
    EXPECT_EQ(steps, 11);  // 0.3 s of 30 ms updates
}

TEST_F(Emitters, WithoutTheSoundThreadNothingPlaysAndNothingLeaks) {
    // Never started, and not stepped by the test either: an ordinary engine that is down.
    engine->SetRunWithoutThread(false);
    Entity* entity = Make();
    EXPECT_EQ(entity->PlaySound("mono.wav", nullptr), 0u);
    entity->SetVelocityForDopplerEffect(Vector(1, 0, 0, 0));
    entity->SetSoundAltitudeOverride(3.0f);
    entity->SetGlobalPosition3(1, 1, 1);
    EXPECT_EQ(entity->GetSoundEmitter()->Transform().r[3].y, 3.0f);  // ran on the caller
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
    entity->Destroy();  // frees the emitter at once
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

int gEntryCalls = 0;

TEST_F(Emitters, WithTheEntriesEmptyEntitiesMakeNoSound) {
    StartEngine();
    // Without the sound library's services; stand-ins count whether the entity reaches
    // for an emitter it never got.
    static struct : SoundServices {
        void UpdateSoundEmitter(EntitySoundEmitter*, const Matrix&) override { ++gEntryCalls; }
        void ReleaseSoundEmitter(EntitySoundEmitter*) override { ++gEntryCalls; }
    } noSound;
    SetSoundServices(&noSound);
    Entity* entity = Make();
    EXPECT_EQ(entity->PlaySound("mono.wav", nullptr), 0u);
    EXPECT_EQ(entity->GetSoundEmitter(), nullptr);
    entity->SetGlobalPosition3(3, 4, 5);
    entity->Destroy();
    EXPECT_EQ(gEntryCalls, 0);
    Step();
    EXPECT_EQ(SoundInstanceBase::First(), nullptr);
}

}  // namespace
