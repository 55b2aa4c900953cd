// The sound library's side of the engine's SoundServices (engine/services/SoundServices.h):
// the sound thread's start, flush and stop, the listener, the sound entries and the
// entity's sound methods; and the scene's SceneSoundServices (animation and effect sounds). Installed by a start-up row of
// kSoundStaticInit and removed again at shutdown. Every operation tolerates a missing
// gSoundEngine or gSoundEntriesContainer.
#include "sound/SoundServices.h"

#include "core/StaticInit.h"
#include "engine/entity/Entity.h"
#include "engine/services/SoundServices.h"
#include "scene/SceneSoundServices.h"
#include "sound/EntitySoundEmitter.h"
#include "sound/SoundEngine.h"
#include "sound/SoundEntries.h"

namespace {

// The engine's sound services: the sound thread, the listener, the entities' emitters.
// Every operation tolerates a missing gSoundEngine or gSoundEntriesContainer.
class SoundLibraryServices final : public SoundServices {
public:
    void StartEngine() override {
        if (gSoundEngine) gSoundEngine->Start();
    }
    void FlushEngine() override {
        if (gSoundEngine && gSoundEngine->IsRunning()) gSoundEngine->Flush();
    }
    void StopEngine() override {
        if (gSoundEngine) gSoundEngine->Stop();
    }
    void RemoveAllSoundEntries() override {
        if (gSoundEntriesContainer) gSoundEntriesContainer->RemoveAllSoundEntries();
    }
    void SetListener(const Matrix& listener) override {
        if (gSoundEngine) gSoundEngine->SetListener(listener);
    }

    EntitySoundEmitter* GetSoundEmitter(EntitySoundEmitter*& emitter, const Matrix& global) override {
        if (!emitter) emitter = new EntitySoundEmitter(global);
        return emitter;
    }
    uint32_t PlaySound(EntitySoundEmitter*& emitter, const Matrix& global, const char* name,
                       const SoundParamWrapper* params) override {
        return GetSoundEmitter(emitter, global)->StartSound(name, params);
    }
    void StopSound(EntitySoundEmitter* emitter, uint32_t id, float seconds) override {
        if (gSoundEngine) gSoundEngine->StopSound(id, seconds, emitter);
    }
    void ExitLoop(EntitySoundEmitter* emitter, uint32_t id) override {
        if (gSoundEngine) gSoundEngine->ExitLoop(id, emitter);
    }
    void PauseSound(EntitySoundEmitter* emitter, uint32_t id, float seconds, int32_t channel) override {
        if (gSoundEngine) gSoundEngine->PauseSound(id, seconds, emitter, channel);
    }
    void ResumeSound(EntitySoundEmitter* emitter, uint32_t id, float seconds, int32_t channel) override {
        if (gSoundEngine) gSoundEngine->ResumeSound(id, seconds, emitter, channel);
    }
    void SetSoundVolume(EntitySoundEmitter* emitter, float target, float seconds, uint32_t curve,
                        uint32_t id) override {
        if (gSoundEngine) gSoundEngine->SetVolume(id, target, seconds, curve, emitter);
    }
    void SetVelocityForDopplerEffect(EntitySoundEmitter*& emitter, const Matrix& global,
                                     const Vector& velocity) override {
        GetSoundEmitter(emitter, global)->PostVelocity(velocity);
    }
    void SetSoundAltitudeOverride(EntitySoundEmitter*& emitter, const Matrix& global, float altitude) override {
        GetSoundEmitter(emitter, global)->PostAltitudeOverride(altitude);
    }
    void UpdateSoundEmitter(EntitySoundEmitter* emitter, const Matrix& global) override {
        emitter->PostTransform(global);
    }
    void ReleaseSoundEmitter(EntitySoundEmitter* emitter) override { emitter->PostRelease(); }

    SoundEngine* GetSoundEngine() const override { return gSoundEngine; }
    SoundEntriesContainer* GetSoundEntriesContainer() const override { return gSoundEntriesContainer; }
};

SoundLibraryServices gSoundLibraryServices;

void Clear(void*) { ClearSoundServices(); }

// The scene's sounds: animation events (main thread) and the effects' sound elements
// (render thread).
class SoundLibrarySceneServices final : public SceneSoundServices {
public:
    unsigned PlaySound(Entity* owner, const char* name, float volume, float fullRange, float zeroRange,
                       int channel) override {
        SoundParamWrapper p;
        p.LoadDefaults();
        p.Volume = volume;
        p.FullVolumeRange = fullRange;
        p.ZeroVolumeRange = zeroRange;
        p.Channel = uint32_t(channel);
        if (owner) return owner->PlaySound(name, &p);
        return gSoundEngine ? gSoundEngine->PlaySystemSound(name, &p) : 0;
    }
    EntitySoundEmitter* CreateEmitter(const Matrix& m) override { return new EntitySoundEmitter(m); }
    void PostEmitterTransform(EntitySoundEmitter* emitter, const Matrix& m) override {
        if (emitter) emitter->PostTransform(m);
    }
    void ReleaseEmitter(EntitySoundEmitter* emitter) override {
        if (emitter) emitter->PostRelease();
    }
    unsigned PlayEntry(const char* name, EntitySoundEmitter* emitter, unsigned channel, float volume,
                       float* entryVolume) override {
        SoundEntryParams params;
        const uint32_t id = SoundEntriesContainer::PlaySoundEntryForEntity(gSoundEntriesContainer, name, emitter,
                                                                           channel, 0.0f, volume, &params);
        if (entryVolume) *entryVolume = id ? params.volume : 1.0f;
        return id;
    }
    void PreloadEntry(const char* name) override {
        SoundEntriesContainer::PreloadSoundEntry(gSoundEntriesContainer, name);
    }
    void SetVolume(unsigned id, float target, float seconds, unsigned curve, EntitySoundEmitter* owner) override {
        if (gSoundEngine) gSoundEngine->SetVolume(id, target, seconds, curve, owner);
    }
    void ExitLoop(unsigned id, EntitySoundEmitter* owner) override {
        if (gSoundEngine) gSoundEngine->ExitLoop(id, owner);
    }
};

SoundLibrarySceneServices gSoundLibrarySceneServices;

}  // namespace

void InstallSoundServices() {
    SetSoundServices(&gSoundLibraryServices);
    SetSceneSoundServices(&gSoundLibrarySceneServices);
}

void ClearSoundServices() {
    SetSoundServices(nullptr);
    SetSceneSoundServices(nullptr);
}

SceneSoundServices& SoundLibrarySceneServices() { return gSoundLibrarySceneServices; }

void InstallSoundServicesRow() {
    InstallSoundServices();
    PushExitHandler(&Clear, nullptr);
}
