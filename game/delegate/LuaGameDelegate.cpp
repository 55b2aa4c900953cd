#include "game/delegate/LuaGameDelegate.h"

#include "engine/entity/EntityManager.h"
#include "engine/script/LuaWrapper.h"

void LuaGameDelegate::RunSceneLocalLuaFiles() {
    const char* scene = gEntityManager ? gEntityManager->GetSceneFileName() : nullptr;
    if (!scene || !*scene) return;
    gLua.ExecuteFile(scene, "scenes");
}
