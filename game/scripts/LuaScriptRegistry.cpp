#include "game/scripts/LuaScriptRegistry.h"

void LuaScriptRegistry::OnFileExecuted(const char* path, bool) { paths.emplace_back(path ? path : ""); }

ScopedScriptRecording::ScopedScriptRecording(LuaScriptRegistry& registry) : previous(gLua.GetFileExecutionCallback()) {
    gLua.SetFileExecutionCallback(&registry);
}

ScopedScriptRecording::~ScopedScriptRecording() { gLua.SetFileExecutionCallback(previous); }
