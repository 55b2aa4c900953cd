#include "game/scripts/LuaScriptRegistry.h"

void LuaScriptRegistry::OnFileExecuted(const char* path, bool) { paths.emplace_back(path ? path : ""); }

ScopedScriptRecording::ScopedScriptRecording(LuaScriptRegistry& registry) { gLua.SetFileExecutionCallback(&registry); }

ScopedScriptRecording::~ScopedScriptRecording() { gLua.SetFileExecutionCallback(nullptr); }
