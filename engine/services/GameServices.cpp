#include "engine/services/GameServices.h"

#include "platform/os/Clock.h"

int64_t GameServices::SmoothGameTime() const { return os::ReadCounter(); }

int64_t GameServices::SmoothGameplayTime() const { return os::ReadCounter(); }

namespace {
GameServices gDefaultGameServices;
GameServices* gGameServices = &gDefaultGameServices;
}  // namespace

GameServices& GetGameServices() { return *gGameServices; }

void SetGameServices(GameServices* services) { gGameServices = services ? services : &gDefaultGameServices; }
