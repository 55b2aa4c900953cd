#include "render/GameRenderServices.h"

#include <atomic>

namespace {
GameRenderServices gDefaultGameRenderServices;
std::atomic<GameRenderServices*> gGameRenderServices{&gDefaultGameRenderServices};
}  // namespace

GameRenderServices& GetGameRenderServices() { return *gGameRenderServices.load(std::memory_order_acquire); }

void SetGameRenderServices(GameRenderServices* services) {
    gGameRenderServices.store(services ? services : &gDefaultGameRenderServices, std::memory_order_release);
}
