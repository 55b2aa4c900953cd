// test-sanitize: address
// Runs one script of binding cases in the script host with every binding package open.
//
//   bindings_lua_runner ASSERT_FOLDER SCRIPT.lua
//
// The host's state is made as the program makes it (start-up tables, then gLua.Init);
// the folder of lua/assert.lua and the script's folder are mounted, and both files run
// through the host's ExecuteFile, as game scripts do. The script declares its cases with
// Test(name, function); RunTests (assert.lua) runs each in its own protected call. The
// program prints every failure, then "N passed, N failed", and exits non-zero when a case
// failed, a file did not run, or no case ran.
//
// The table Runner gives the cases what a script cannot see by itself:
//   Runner.ErrorCount()      the host's error counter
//   Runner.Execute(code)     runs code as the engine does (reported and counted); true on success
//   Runner.Warnings(text)    how many log messages so far contain text
//   Runner.Spawn()           a new engine object of script class RunnerProbe
//   Runner.KillAll()         destroys every spawned object (their handles die)
#include <lua.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/fs/FileSystem.h"
#include "engine/script/LuaBaseClass.h"
#include "engine/script/LuaWrapper.h"
#include "support/CaptureLogSink.h"
#include "support/ProgramStaticInit.h"

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
    for (RunnerProbe* p : gProbes) p->Destroy();
    gProbes.clear();
    return 0;
}

void OpenRunnerTable(lua_State* L) {
    static const luaL_Reg kFunctions[] = {{"ErrorCount", &ErrorCount}, {"Execute", &Execute}, {"Warnings", &Warnings},
                                          {"Spawn", &Spawn},           {"KillAll", &KillAll},  {nullptr, nullptr}};
    luaL_register(L, "Runner", kFunctions);
    lua_pop(L, 1);
}

// Runs "stem.lua" of the mounted folder; false when it raised an error. (A missing file
// is reported but not counted: its cases are then missing, and the run fails for that.)
bool RunFile(const std::filesystem::path& file, const char* mount) {
    const uint32_t errors = LuaWrapper::GetErrorCount();
    const size_t before = gSink->Messages().size();
    gLua.ExecuteFile(file.stem().string().c_str(), mount, true);
    const auto messages = gSink->Messages();
    if (LuaWrapper::GetErrorCount() == errors) return true;
    std::printf("%s did not run:\n", file.string().c_str());
    for (size_t i = before; i < messages.size(); ++i) std::printf("  %s\n", messages[i].text.c_str());
    return false;
}

int Run(const std::filesystem::path& assertFolder, const std::filesystem::path& script) {
    gFileSystem.MountDirectory("runner", assertFolder.string().c_str());
    gFileSystem.MountDirectory("cases", script.parent_path().string().c_str());
    gLua.Init();
    lua_State* L = gLua.GetState();
    if (!L) {
        std::puts("the script host did not start");
        return 2;
    }
    OpenRunnerTable(L);
    gLua.RegisterClass("RunnerProbe", "");
    if (!RunFile(assertFolder / "assert.lua", "runner") || !RunFile(script, "cases")) return 1;

    lua_getglobal(L, "RunTests");
    if (lua_pcall(L, 0, 3, 0) != 0) {
        std::printf("RunTests: %s\n", lua_tostring(L, -1));
        return 1;
    }
    const int passed = static_cast<int>(lua_tonumber(L, -3));
    const int failed = static_cast<int>(lua_tonumber(L, -2));
    const int lines = static_cast<int>(lua_objlen(L, -1));
    for (int i = 1; i <= lines; ++i) {
        lua_rawgeti(L, -1, i);
        std::printf("FAILED %s\n", lua_tostring(L, -1));
        lua_pop(L, 1);
    }
    lua_pop(L, 3);
    std::printf("%s: %d passed, %d failed\n", script.filename().string().c_str(), passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ASSERT_FOLDER SCRIPT.lua\n", argv[0]);
        return 2;
    }
    RunProgramStaticInit();
    int result;
    {
        CaptureLogSink sink;
        sink.Attach();
        gSink = &sink;
        result = Run(std::filesystem::absolute(argv[1]), std::filesystem::absolute(argv[2]));
        gLua.Close();
        KillAll(nullptr);
        gSink = nullptr;
        sink.Detach();
    }
    RunStaticShutdown();
    return result;
}
