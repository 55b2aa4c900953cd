#include "render/GameRenderServices.h"

namespace {
GameRenderServices gDefaultGameRenderServices;
GameRenderServices* gGameRenderServices = &gDefaultGameRenderServices;
}  // namespace

GameRenderServices& GetGameRenderServices() { return *gGameRenderServices; }

void SetGameRenderServices(GameRenderServices* services) { gGameRenderServices = services ? services : &gDefaultGameRenderServices; }
