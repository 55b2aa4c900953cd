// The entity's sound methods. The sound library lies above the engine, so each method
// forwards to its entry of gEngineServices (filled by the sound library's start-up);
// with the entries empty an entity makes no sound and pays nothing for it.
#include "engine/entity/Entity.h"
#include "engine/services/EngineServices.h"

EntitySoundEmitter* Entity::GetSoundEmitter() {
    if (!gEngineServices.entityGetSoundEmitter) return nullptr;
    return gEngineServices.entityGetSoundEmitter(soundEmitter, globalMatrix);
}

uint32_t Entity::PlaySound(const char* soundName, const SoundParamWrapper* params) {
    if (!gEngineServices.entityPlaySound) return 0;
    return gEngineServices.entityPlaySound(soundEmitter, globalMatrix, soundName, params);
}

void Entity::StopSound(uint32_t id, float seconds) {
    if (soundEmitter && gEngineServices.entityStopSound) gEngineServices.entityStopSound(soundEmitter, id, seconds);
}

void Entity::ExitLoop(uint32_t id) {
    if (soundEmitter && gEngineServices.entityExitLoop) gEngineServices.entityExitLoop(soundEmitter, id);
}

void Entity::PauseSound(uint32_t id, float seconds, int32_t channel) {
    if (soundEmitter && gEngineServices.entityPauseSound) gEngineServices.entityPauseSound(soundEmitter, id, seconds, channel);
}

void Entity::ResumeSound(uint32_t id, float seconds, int32_t channel) {
    if (soundEmitter && gEngineServices.entityResumeSound)
        gEngineServices.entityResumeSound(soundEmitter, id, seconds, channel);
}

void Entity::SetVolume(float target, float seconds, uint32_t curve, uint32_t id) {
    if (soundEmitter && gEngineServices.entitySetSoundVolume)
        gEngineServices.entitySetSoundVolume(soundEmitter, target, seconds, curve, id);
}

void Entity::SetVelocityForDopplerEffect(const Vector& velocity) {
    if (gEngineServices.entitySetVelocityForDopplerEffect)
        gEngineServices.entitySetVelocityForDopplerEffect(soundEmitter, globalMatrix, velocity);
}

void Entity::SetSoundAltitudeOverride(float altitude) {
    if (gEngineServices.entitySetSoundAltitudeOverride)
        gEngineServices.entitySetSoundAltitudeOverride(soundEmitter, globalMatrix, altitude);
}

void Entity::UpdateSoundEmitter() {
    if (soundEmitter && gEngineServices.entityUpdateSoundEmitter)
        gEngineServices.entityUpdateSoundEmitter(soundEmitter, globalMatrix);
}

void Entity::ReleaseSoundEmitter() {
    if (!soundEmitter) return;
    EntitySoundEmitter* emitter = soundEmitter;
    soundEmitter = nullptr;
    if (gEngineServices.entityReleaseSoundEmitter) gEngineServices.entityReleaseSoundEmitter(emitter);
}
