// test-sanitize: address
// Runs one script of binding cases in the script host with every binding package open,
// the game's opened by the game's delegate as the program opens them (its bindings'
// registration, which also publishes it as gGameDelegate). The delegate is the desktop
// one over the multiplayer fixture's broker, with no profile until a case logs one in.
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
// The table Runner (RunnerNatives.h) gives the cases what a script cannot see by itself;
// the table Peek (BehaviourProbes.h) the native state the behaviour cases read.
#include <lua.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "BehaviourProbes.h"
#include "EntityFixture.h"
#include "GameFixture.h"
#include "MultiplayerFixture.h"
#include "RunnerNatives.h"
#include "SoundFixture.h"
#include "UIFixture.h"
#include "core/fs/FileSystem.h"
#include "engine/script/LuaWrapper.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "support/CaptureLogSink.h"
#include "support/ProgramStaticInit.h"

namespace {

CaptureLogSink* gSink = nullptr;
// Made once the fixture's broker is up, destroyed after the state closes and before the
// fixture's services go.
std::unique_ptr<PCMacGameDelegate> gRunnerDelegate;

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
    OpenRunnerNatives(L, gSink);
    OpenEntityFixture(L);
    OpenSoundFixture(L);
    OpenUIFixture(L);
    OpenMultiplayerFixture(L);
    gRunnerDelegate = std::make_unique<PCMacGameDelegate>(MultiplayerFixtureServices());
    gRunnerDelegate->RegisterBindings();
    OpenGameFixture(L);
    OpenBehaviourProbes(L);
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
        gRunnerDelegate.reset();
        DestroyRunnerProbes();
        CloseEntityFixture();
        CloseSoundFixture();
        CloseUIFixture();
        CloseMultiplayerFixture();
        gSink = nullptr;
        sink.Detach();
    }
    RunStaticShutdown();
    return result;
}
