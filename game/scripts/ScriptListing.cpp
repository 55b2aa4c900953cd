#include "game/scripts/ScriptListing.h"

#include <strings.h>

#include <string>

#include "core/Log.h"
#include "core/fs/FileSystem.h"
#include "game/scripts/LuaScriptRegistry.h"

namespace {

constexpr const char kCommonFolder[] = "common/scripts/";
constexpr size_t kCommonRootLength = sizeof "common/" - 1;
constexpr const char kSceneFolder[] = "scenes/";
constexpr size_t kCommonLength = sizeof kCommonFolder - 1;
constexpr size_t kSceneLength = sizeof kSceneFolder - 1;

void AddUnlessPresent(DynarraySafe<NameString>& files, const std::string& name) {
    for (const NameString& f : files) {
        if (name == f.CStr()) return;
    }
    files.Add(NameString(name.c_str()));
}

bool Begins(const std::string& path, const char* folder, size_t length) {
    return path.size() >= length && strncasecmp(path.c_str(), folder, length) == 0;
}

// The set name inside a single-quoted Lua string.
std::string Quoted(const char* text) {
    std::string out;
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '\\' || *c == '\'') out += '\\';
        out += *c;
    }
    return out;
}

}  // namespace

void ListCommonScripts(void* game, const char* setName, DynarraySafe<NameString>& files) {
    LuaScriptRegistry registry;
    {
        ScopedScriptRecording recording(registry);
        gLua.ExecuteFile("DistributionMain", kScriptFolder);
        gLua.CallMethod(0, 0, game, "Game", "OnInit");
        gLua.ExecuteString(("ReportCommonResources('" + Quoted(setName) + "')").c_str());
        gLua.CallMethod(0, 0, game, "Game", "OnClose");
    }
    for (const std::string& path : registry.Paths()) {
        if (!Begins(path, kCommonFolder, kCommonLength)) {
            gLog.Warning(LogCategory::UI,
                         "One of script files includes something out of common/scripts directory. Such script will "
                         "not be included in the distribution package");
            continue;
        }
        // The rest of the path as the script spelt it.
        AddUnlessPresent(files, path.substr(kCommonRootLength) + ".lua");
    }
}

void ListSceneScripts(const char* sceneName, DynarraySafe<NameString>& files) {
    const std::string scene = sceneName ? sceneName : "";
    LuaScriptRegistry registry;
    if (gFileSystem.FileExists("SceneSequences", "lua", (kSceneFolder + scene).c_str())) {
        AddUnlessPresent(files, scene + "/SceneSequences.lua");
    }
    {
        ScopedScriptRecording recording(registry);
        for (const char* text : {"UnregisterAllScriptSequences()", "ReportLocalSceneLuaFiles()",
                                 "RegisterAllScriptSequences()", "ReportLocalSceneResources()"}) {
            gLua.ExecuteString(text);
        }
    }
    for (const std::string& path : registry.Paths()) {
        if (!Begins(path, kSceneFolder, kSceneLength)) {
            gLog.Warning(LogCategory::UI,
                         "One of local scene script files includes something out of scene directory (%s). Such script "
                         "will not be included in the distribution package",
                         path.c_str());
            continue;
        }
        AddUnlessPresent(files, path.substr(kSceneLength) + ".lua");
    }
}
