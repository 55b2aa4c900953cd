#pragma once
// The script files a distribution package must carry, learnt by running the game's set-up
// scripts under a LuaScriptRegistry.
//
// ListCommonScripts (setName, files): runs "DistributionMain" from "common/scripts", then
// Game:OnInit, "ReportCommonResources('<setName>')" and Game:OnClose (on the given Game
// object); every recorded script under "common/scripts/" (any case) is added to files as
// its path after "common/", spelt as recorded, with ".lua", unless present; any other is
// logged and left out.
//
// ListSceneScripts (sceneName, files): adds "<scene>/SceneSequences.lua" when that file
// exists under "scenes", then runs "UnregisterAllScriptSequences()",
// "ReportLocalSceneLuaFiles()", "RegisterAllScriptSequences()" and
// "ReportLocalSceneResources()"; every recorded script under "scenes/" (any case) is added
// as "<rest>.lua" unless present; any other is logged and left out.
//
// A name is present when the list holds it exactly. The Lua functions named above belong to the
// game's scripts. Threads: main thread.
#include "core/Dynarray.h"
#include "core/text/NameString.h"

void ListCommonScripts(void* game, const char* setName, DynarraySafe<NameString>& files);
void ListSceneScripts(const char* sceneName, DynarraySafe<NameString>& files);
