#include "core/config/GameConfig.h"

#include "core/Log.h"
#include "core/StaticInit.h"
#include "core/rtti/DirectProperty.h"

GameConfig* gGameConfig = nullptr;

namespace {
RTTIClass* gGameConfigClass = nullptr;
}

const RTTIClass* GameConfig::RegisterClass(const char* nameOverride) {
    if (gGameConfigClass) return gGameConfigClass;
    EngineConfig::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gGameConfigClass, nameOverride ? nameOverride : "GameConfig", "EngineConfig");
    c->SetScratchFactory([](int32_t) -> RTTIPolyBaseClass* { return new GameConfig; });
    AddDirect<uint32_t>(c, "Window width", RTTI_OFFSETOF(GameConfig, windowWidth));
    AddDirect<uint32_t>(c, "Window height", RTTI_OFFSETOF(GameConfig, windowHeight));
    AddDirect<bool>(c, "Use container files", RTTI_OFFSETOF(GameConfig, useContainerFiles));
    return c;
}

bool GameConfig::Load() {
    return LoadFromFile(kGameConfigFileName, kGameConfigFileExtension, kGameConfigDirectory, kGameConfigOptions);
}

bool GameConfig::Save() const {
    if (SaveToFile(kGameConfigFileName, kGameConfigFileExtension, kGameConfigDirectory, kGameConfigOptions)) return true;
    gLog.Error(LogCategory::Engine, "GameConfig::Save - the settings could not be saved to %s/%s.%s", kGameConfigDirectory,
               kGameConfigFileName, kGameConfigFileExtension);
    return false;
}
