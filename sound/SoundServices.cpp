// The sound library's entries of the engine's service table (engine/services/
// EngineServices.h): the sound thread's start, flush and stop, the Game's focus and
// close calls, the listener, the volumes, the sound entries and the entity's sound
// methods. Filled by a start-up row of kSoundStaticInit and emptied again at shutdown.
// Every entry tolerates a missing gSoundEngine or gSoundEntriesContainer.
#include "sound/SoundServices.h"

#include "core/StaticInit.h"
#include "engine/entity/Entity.h"
#include "engine/services/EngineServices.h"
#include "scene/SceneServices.h"
#include "sound/EntitySoundEmitter.h"
#include "sound/SoundEngine.h"
#include "sound/SoundEntries.h"

namespace {

SoundEngine* Engine() { return gSoundEngine; }

// ---- The effects' sound elements (render thread) ----
void* EffectEmitterCreate(const Matrix& m) { return new EntitySoundEmitter(m); }

void EffectEmitterPostTransform(void* emitter, const Matrix& m) {
    if (emitter) static_cast<EntitySoundEmitter*>(emitter)->PostTransform(m);
}

void EffectEmitterRelease(void* emitter) {
    if (emitter) static_cast<EntitySoundEmitter*>(emitter)->PostRelease();
}

unsigned EffectEntryPlay(const char* name, void* emitter, unsigned channel, float volume, float* entryVolume) {
    SoundEntryParams params;
    const uint32_t id = SoundEntriesContainer::PlaySoundEntryForEntity(
        gSoundEntriesContainer, name, static_cast<EntitySoundEmitter*>(emitter), channel, 0.0f, volume, &params);
    if (entryVolume) *entryVolume = id ? params.volume : 1.0f;
    return id;
}

void EffectEntryPreload(const char* name) { SoundEntriesContainer::PreloadSoundEntry(gSoundEntriesContainer, name); }

void EffectSetVolume(unsigned id, float target, float seconds, unsigned curve, void* owner) {
    if (gSoundEngine) gSoundEngine->SetVolume(id, target, seconds, curve, static_cast<EntitySoundEmitter*>(owner));
}

void EffectExitLoop(unsigned id, void* owner) {
    if (gSoundEngine) gSoundEngine->ExitLoop(id, static_cast<EntitySoundEmitter*>(owner));
}
SoundEntriesContainer* Entries() { return gSoundEntriesContainer; }

EntitySoundEmitter* GetEmitter(EntitySoundEmitter*& emitter, const Matrix& global) {
    if (!emitter) emitter = new EntitySoundEmitter(global);
    return emitter;
}

uint32_t PlaySound(EntitySoundEmitter*& emitter, const Matrix& global, const char* name, const SoundParamWrapper* params) {
    return GetEmitter(emitter, global)->StartSound(name, params);
}

void StopSound(EntitySoundEmitter* emitter, uint32_t id, float seconds) {
    if (gSoundEngine) gSoundEngine->StopSound(id, seconds, emitter);
}

void ExitLoop(EntitySoundEmitter* emitter, uint32_t id) {
    if (gSoundEngine) gSoundEngine->ExitLoop(id, emitter);
}

void PauseSound(EntitySoundEmitter* emitter, uint32_t id, float seconds, int32_t channel) {
    if (gSoundEngine) gSoundEngine->PauseSound(id, seconds, emitter, channel);
}

void ResumeSound(EntitySoundEmitter* emitter, uint32_t id, float seconds, int32_t channel) {
    if (gSoundEngine) gSoundEngine->ResumeSound(id, seconds, emitter, channel);
}

void SetVolume(EntitySoundEmitter* emitter, float target, float seconds, uint32_t curve, uint32_t id) {
    if (gSoundEngine) gSoundEngine->SetVolume(id, target, seconds, curve, emitter);
}

void SetVelocity(EntitySoundEmitter*& emitter, const Matrix& global, const Vector& velocity) {
    GetEmitter(emitter, global)->PostVelocity(velocity);
}

void SetAltitudeOverride(EntitySoundEmitter*& emitter, const Matrix& global, float altitude) {
    GetEmitter(emitter, global)->PostAltitudeOverride(altitude);
}

void UpdateEmitter(EntitySoundEmitter* emitter, const Matrix& global) { emitter->PostTransform(global); }

void ReleaseEmitter(EntitySoundEmitter* emitter) { emitter->PostRelease(); }

void Start() {
    if (gSoundEngine) gSoundEngine->Start();
}
void Flush() {
    if (gSoundEngine && gSoundEngine->IsRunning()) gSoundEngine->Flush();
}
void Stop() {
    if (gSoundEngine) gSoundEngine->Stop();
}
bool Running() { return gSoundEngine && gSoundEngine->IsRunning(); }
void SetAppActive(bool active) {
    if (gSoundEngine) gSoundEngine->SetAppActive(active);
}
void FadeMasterVolume(float target, float seconds, uint32_t curve) {
    if (gSoundEngine) gSoundEngine->FadeMasterVolume(target, seconds, curve);
}
void SetTimeoutMode(bool waitForever) {
    if (gSoundEngine) gSoundEngine->SetTimeoutMode(waitForever ? 1 : 0);
}
// instance -1 is every instance (0xFFFFFFFF); the flags word carries nothing here.
void StopAll(int32_t instance, float seconds, uint32_t) {
    if (gSoundEngine) gSoundEngine->StopSound(uint32_t(instance), seconds);
}
// channel -1 is every channel (0xFFFFFFFF); the flags word is the fade curve.
void ChannelFrequencyRatio(int32_t channel, float ratio, float seconds, uint32_t curve) {
    if (gSoundEngine) gSoundEngine->SetChannelFrequencyRatio(uint32_t(channel), ratio, seconds, curve);
}
void RefreshVolumes() {
    if (gSoundEngine) gSoundEngine->ApplyVolumeSettings();
}
void RemoveAllSoundEntries() {
    if (gSoundEntriesContainer) gSoundEntriesContainer->RemoveAllSoundEntries();
}
void SetListener(const Matrix& listener) {
    if (gSoundEngine) gSoundEngine->SetListener(listener);
}

void Clear(void*) { ClearSoundServices(); }

unsigned PlaySceneSound(Entity* owner, const char* name, float volume, float fullRange, float zeroRange, int channel) {
    SoundParamWrapper p;
    p.LoadDefaults();
    p.Volume = volume;
    p.FullVolumeRange = fullRange;
    p.ZeroVolumeRange = zeroRange;
    p.Channel = uint32_t(channel);
    if (owner) return owner->PlaySound(name, &p);
    return gSoundEngine ? gSoundEngine->PlaySystemSound(name, &p) : 0;
}

}  // namespace

void FillSoundServices() {
    EngineServices& s = gEngineServices;
    s.soundEngine = &Engine;
    s.soundEntriesContainer = &Entries;
    s.soundEngineSetListener = &SetListener;
    s.soundEngineRunning = &Running;
    s.soundSetAppActive = &SetAppActive;
    s.soundFadeMasterVolume = &FadeMasterVolume;
    s.soundSetTimeoutMode = &SetTimeoutMode;
    s.soundStopSound = &StopAll;
    s.soundSetChannelFrequencyRatio = &ChannelFrequencyRatio;
    s.soundEngineStart = &Start;
    s.soundEngineFlush = &Flush;
    s.soundEngineStop = &Stop;
    s.soundRemoveAllSoundEntries = &RemoveAllSoundEntries;
    s.soundRefreshVolumes = &RefreshVolumes;
    s.entityGetSoundEmitter = &GetEmitter;
    s.entityPlaySound = &PlaySound;
    s.entityStopSound = &StopSound;
    s.entityExitLoop = &ExitLoop;
    s.entityPauseSound = &PauseSound;
    s.entityResumeSound = &ResumeSound;
    s.entitySetSoundVolume = &SetVolume;
    s.entitySetVelocityForDopplerEffect = &SetVelocity;
    s.entitySetSoundAltitudeOverride = &SetAltitudeOverride;
    s.entityUpdateSoundEmitter = &UpdateEmitter;
    s.entityReleaseSoundEmitter = &ReleaseEmitter;
    gSceneServices.playSound = &PlaySceneSound;
    gSceneServices.soundEmitterCreate = &EffectEmitterCreate;
    gSceneServices.soundEmitterPostTransform = &EffectEmitterPostTransform;
    gSceneServices.soundEmitterRelease = &EffectEmitterRelease;
    gSceneServices.soundEntryPlay = &EffectEntryPlay;
    gSceneServices.soundEntryPreload = &EffectEntryPreload;
    gSceneServices.soundSetVolume = &EffectSetVolume;
    gSceneServices.soundExitLoop = &EffectExitLoop;
}

void ClearSoundServices() {
    EngineServices& s = gEngineServices;
    s.soundEngine = nullptr;
    s.soundEntriesContainer = nullptr;
    s.soundEngineSetListener = nullptr;
    s.soundEngineRunning = nullptr;
    s.soundSetAppActive = nullptr;
    s.soundFadeMasterVolume = nullptr;
    s.soundSetTimeoutMode = nullptr;
    s.soundStopSound = nullptr;
    s.soundSetChannelFrequencyRatio = nullptr;
    s.soundEngineStart = nullptr;
    s.soundEngineFlush = nullptr;
    s.soundEngineStop = nullptr;
    s.soundRemoveAllSoundEntries = nullptr;
    s.soundRefreshVolumes = nullptr;
    s.entityGetSoundEmitter = nullptr;
    s.entityPlaySound = nullptr;
    s.entityStopSound = nullptr;
    s.entityExitLoop = nullptr;
    s.entityPauseSound = nullptr;
    s.entityResumeSound = nullptr;
    s.entitySetSoundVolume = nullptr;
    s.entitySetVelocityForDopplerEffect = nullptr;
    s.entitySetSoundAltitudeOverride = nullptr;
    s.entityUpdateSoundEmitter = nullptr;
    s.entityReleaseSoundEmitter = nullptr;
    gSceneServices.playSound = nullptr;
    gSceneServices.soundEmitterCreate = nullptr;
    gSceneServices.soundEmitterPostTransform = nullptr;
    gSceneServices.soundEmitterRelease = nullptr;
    gSceneServices.soundEntryPlay = nullptr;
    gSceneServices.soundEntryPreload = nullptr;
    gSceneServices.soundSetVolume = nullptr;
    gSceneServices.soundExitLoop = nullptr;
}

void FillSoundServicesRow() {
    FillSoundServices();
    PushExitHandler(&Clear, nullptr);
}
