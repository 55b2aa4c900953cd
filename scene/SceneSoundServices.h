#pragma once
// SceneSoundServices: what the scene's animations and effects need of the sound library,
// behind one small interface: a sound on an entity or the system, and the effects'
// positional emitters and sound entries. The sound library installs its implementation
// from its start-up row; until then (and after SetSceneSoundServices(nullptr)) the base
// class plays nothing: no emitter is made, a play gives instance 0 and leaves the entry
// volume as it was.
//
// Threads: PlaySound on the main thread; the effect sounds on the render thread, where the
// effect elements run.
class Entity;
class EntitySoundEmitter;
class Matrix;

class SceneSoundServices {
public:
    virtual ~SceneSoundServices() = default;

    // Plays a sound with the default parameters but these volume, ranges and channel; on
    // the owner entity, or as a system sound when the owner is null. The instance id (0:
    // none).
    virtual unsigned PlaySound(Entity* owner, const char* name, float volume, float fullVolumeRange,
                               float zeroVolumeRange, int channel) {
        return 0;
    }

    // ---- Effect sounds (render thread) ----
    // A positional emitter at the matrix; null when none could be made.
    virtual EntitySoundEmitter* CreateEmitter(const Matrix& matrix) { return nullptr; }
    virtual void PostEmitterTransform(EntitySoundEmitter* emitter, const Matrix& matrix) {}
    virtual void ReleaseEmitter(EntitySoundEmitter* emitter) {}
    // Plays a sound entry on the emitter; the entry's own volume goes to entryVolume. The
    // instance id, 0 when nothing started.
    virtual unsigned PlayEntry(const char* entryName, EntitySoundEmitter* emitter, unsigned channel, float volume,
                               float* entryVolume) {
        return 0;
    }
    virtual void PreloadEntry(const char* entryName) {}
    // Fades the instance to the target volume over the seconds along the curve; owner is
    // the emitter that started it.
    virtual void SetVolume(unsigned id, float target, float seconds, unsigned curve, EntitySoundEmitter* owner) {}
    virtual void ExitLoop(unsigned id, EntitySoundEmitter* owner) {}
};

SceneSoundServices& GetSceneSoundServices();
// Not owned; null restores the default.
void SetSceneSoundServices(SceneSoundServices* services);
