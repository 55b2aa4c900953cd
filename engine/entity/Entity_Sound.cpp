// The entity's sound methods. The sound library lies above the engine, so each method
// forwards to SoundServices (installed by the sound library's start-up); with the default
// services an entity makes no sound and pays nothing for it.
#include "engine/entity/Entity.h"
#include "engine/services/SoundServices.h"

EntitySoundEmitter* Entity::GetSoundEmitter() { return GetSoundServices().GetSoundEmitter(soundEmitter, globalMatrix); }

uint32_t Entity::PlaySound(const char* soundName, const SoundParamWrapper* params) {
    return GetSoundServices().PlaySound(soundEmitter, globalMatrix, soundName, params);
}

void Entity::StopSound(uint32_t id, float seconds) {
    if (soundEmitter) GetSoundServices().StopSound(soundEmitter, id, seconds);
}

void Entity::ExitLoop(uint32_t id) {
    if (soundEmitter) GetSoundServices().ExitLoop(soundEmitter, id);
}

void Entity::PauseSound(uint32_t id, float seconds, int32_t channel) {
    if (soundEmitter) GetSoundServices().PauseSound(soundEmitter, id, seconds, channel);
}

void Entity::ResumeSound(uint32_t id, float seconds, int32_t channel) {
    if (soundEmitter) GetSoundServices().ResumeSound(soundEmitter, id, seconds, channel);
}

void Entity::SetVolume(float target, float seconds, uint32_t curve, uint32_t id) {
    if (soundEmitter) GetSoundServices().SetSoundVolume(soundEmitter, target, seconds, curve, id);
}

void Entity::SetVelocityForDopplerEffect(const Vector& velocity) {
    GetSoundServices().SetVelocityForDopplerEffect(soundEmitter, globalMatrix, velocity);
}

void Entity::SetSoundAltitudeOverride(float altitude) {
    GetSoundServices().SetSoundAltitudeOverride(soundEmitter, globalMatrix, altitude);
}

void Entity::UpdateSoundEmitter() {
    if (soundEmitter) GetSoundServices().UpdateSoundEmitter(soundEmitter, globalMatrix);
}

void Entity::ReleaseSoundEmitter() {
    if (!soundEmitter) return;
    EntitySoundEmitter* emitter = soundEmitter;
    soundEmitter = nullptr;
    GetSoundServices().ReleaseSoundEmitter(emitter);
}
