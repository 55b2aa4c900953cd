#include "engine/services/MultiplayerServices.h"

namespace {
MultiplayerServices gDefaultMultiplayerServices;
MultiplayerServices* gMultiplayerServices = &gDefaultMultiplayerServices;
}  // namespace

MultiplayerServices& GetMultiplayerServices() { return *gMultiplayerServices; }

void SetMultiplayerServices(MultiplayerServices* services) { gMultiplayerServices = services ? services : &gDefaultMultiplayerServices; }
