// The engine object: its storage, per-frame update, idle pass and configuration saving.
// Start-up lives in VornexEngine_Init.cpp, data mounting in VornexEngine_Mount.cpp and
// shutdown in VornexEngine_Shutdown.cpp.
#include "engine/VornexEngine.h"

#include <new>

#include "core/Memory.h"
#include "core/config/ProjectConfig.h"

namespace {
alignas(VornexEngine) unsigned char gVornexEngineStorage[sizeof(VornexEngine)];
}  // namespace

VornexEngine& gVornexEngine = *reinterpret_cast<VornexEngine*>(gVornexEngineStorage);

void CreateGlobalVornexEngine() { new (gVornexEngineStorage) VornexEngine; }
void DestroyGlobalVornexEngine() { gVornexEngine.~VornexEngine(); }

VornexEngine::VornexEngine() = default;
VornexEngine::~VornexEngine() = default;

ProjectConfig& VornexEngine::GetProjectConfig() const { return *gProjectConfig; }
