#pragma once
// SoundServices: what the engine needs of the sound library, behind one small interface:
// the sound thread's start, flush and stop, the listener, the entities' sound emitters, and
// the sound singletons the script host publishes. The sound library installs its
// implementation from its start-up row; until then (and after SetSoundServices(nullptr))
// the base class answers as if there were no sound: nothing starts or plays, a play gives
// instance 0, an entity gets no emitter, and the singletons are null.
//
// Threads: main thread.
#include <cstdint>

class EntitySoundEmitter;
class Matrix;
class SoundEngine;
class SoundEntriesContainer;
struct SoundParamWrapper;
struct Vector;

class SoundServices {
public:
    virtual ~SoundServices() = default;

    // ---- Engine start-up and shutdown ----
    // SoundEngine::Start (the sound thread starts and posts its initialisation), the flush
    // that waits for it, and the stop of the sound thread.
    virtual void StartEngine() {}
    virtual void FlushEngine() {}
    virtual void StopEngine() {}
    // SoundEntriesContainer::RemoveAllSoundEntries.
    virtual void RemoveAllSoundEntries() {}
    // Posts the listener (rows side, up, forward, position) to the sound thread.
    virtual void SetListener(const Matrix& listener) {}

    // ---- An entity's sounds (engine/entity/Entity_Sound.cpp) ----
    // The emitter is the entity's own field; the operations that may create it get it by
    // reference with the entity's global transform.
    virtual EntitySoundEmitter* GetSoundEmitter(EntitySoundEmitter*& emitter, const Matrix& global) {
        return nullptr;
    }
    // The instance id of the started sound (0: none).
    virtual uint32_t PlaySound(EntitySoundEmitter*& emitter, const Matrix& global, const char* name,
                               const SoundParamWrapper* params) {
        return 0;
    }
    virtual void StopSound(EntitySoundEmitter* emitter, uint32_t id, float seconds) {}
    virtual void ExitLoop(EntitySoundEmitter* emitter, uint32_t id) {}
    virtual void PauseSound(EntitySoundEmitter* emitter, uint32_t id, float seconds, int32_t channel) {}
    virtual void ResumeSound(EntitySoundEmitter* emitter, uint32_t id, float seconds, int32_t channel) {}
    virtual void SetSoundVolume(EntitySoundEmitter* emitter, float target, float seconds, uint32_t curve,
                                uint32_t id) {}
    virtual void SetVelocityForDopplerEffect(EntitySoundEmitter*& emitter, const Matrix& global,
                                             const Vector& velocity) {}
    virtual void SetSoundAltitudeOverride(EntitySoundEmitter*& emitter, const Matrix& global, float altitude) {}
    virtual void UpdateSoundEmitter(EntitySoundEmitter* emitter, const Matrix& global) {}
    virtual void ReleaseSoundEmitter(EntitySoundEmitter* emitter) {}

    // ---- Singletons published to scripts (gSoundEngine, gSoundEntriesContainer) ----
    virtual SoundEngine* GetSoundEngine() const { return nullptr; }
    virtual SoundEntriesContainer* GetSoundEntriesContainer() const { return nullptr; }
};

SoundServices& GetSoundServices();
// Not owned; null restores the default.
void SetSoundServices(SoundServices* services);
