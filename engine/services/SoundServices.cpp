#include "engine/services/SoundServices.h"

namespace {
SoundServices gDefaultSoundServices;
SoundServices* gSoundServices = &gDefaultSoundServices;
}  // namespace

SoundServices& GetSoundServices() { return *gSoundServices; }

void SetSoundServices(SoundServices* services) { gSoundServices = services ? services : &gDefaultSoundServices; }
