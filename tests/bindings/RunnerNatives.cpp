#include "RunnerNatives.h"

#include <lua.hpp>

#include <string>
#include <vector>

#include "engine/script/LuaBaseClass.h"
#include "engine/script/LuaWrapper.h"
#include "support/CaptureLogSink.h"

namespace {

class RunnerProbe : public LuaBaseClass {
public:
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    const char* GetScriptClassName() const override { return "RunnerProbe"; }
};

std::vector<RunnerProbe*> gProbes;
CaptureLogSink* gSink = nullptr;

int ErrorCount(lua_State* L) {
    lua_pushnumber(L, LuaWrapper::GetErrorCount());
    return 1;
}

int Execute(lua_State* L) {
    const std::string code = luaL_checkstring(L, 1);
    lua_pushboolean(L, gLua.ExecuteString(code.c_str()));
    return 1;
}

int Warnings(lua_State* L) {
    const std::string fragment = luaL_checkstring(L, 1);
    int n = 0;
    if (gSink)
        for (const auto& m : gSink->Messages()) n += m.text.find(fragment) != std::string::npos;
    lua_pushnumber(L, n);
    return 1;
}

int Spawn(lua_State*) {
    gProbes.push_back(new RunnerProbe());
    gLua.PushObject(gProbes.back());
    return 1;
}

int KillAll(lua_State*) {
    DestroyRunnerProbes();
    return 0;
}

}  // namespace

void OpenRunnerNatives(lua_State* L, CaptureLogSink* sink) {
    gSink = sink;
    static const luaL_Reg kFunctions[] = {{"ErrorCount", &ErrorCount}, {"Execute", &Execute}, {"Warnings", &Warnings},
                                          {"Spawn", &Spawn},           {"KillAll", &KillAll}, {nullptr, nullptr}};
    luaL_register(L, "Runner", kFunctions);
    lua_pop(L, 1);
    gLua.RegisterClass("RunnerProbe", "");
}

void DestroyRunnerProbes() {
    for (RunnerProbe* p : gProbes) p->Destroy();
    gProbes.clear();
}
