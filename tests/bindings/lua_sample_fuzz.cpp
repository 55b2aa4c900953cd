// test-sources: EntityFixture.cpp
// test-link: broker_server
// Arbitrary script text run over the sample game's scripts: the script host with the
// game's packages opened by a desktop delegate of the input's own (no online services),
// the sample's "common" and "scenes" folders mounted read-only from the source tree, and
// the sample's main script loaded as the delegate loads it at start-up, so that the Game's
// and the delegate's events, the flow, the mission's rules, the squad and the towers are
// script functions an input can call, beside the entity fixture's scene on a walk map.
// The seeds are the sample's scripts themselves and inputs that drive its events. Inputs
// run under the budgets and restrictions of LuaFuzzSandbox.h; nothing is written.
#include <lua.hpp>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "EntityFixture.h"
#include "LuaFuzzSandbox.h"
#include "core/fs/FileSystem.h"
#include "engine/script/LuaWrapper.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "support/ProgramStaticInit.h"

namespace {

const std::filesystem::path kSampleData = std::filesystem::path(PROJECT_SOURCE_ROOT) / "data";

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // In name order, so that the mutations are the same on every machine.
    std::vector<std::filesystem::path> scripts;
    std::error_code ec;
    for (const char* folder : {"common/scripts", "scenes"})
        for (const auto& entry : std::filesystem::recursive_directory_iterator(kSampleData / folder, ec))
            if (entry.path().extension() == ".lua") scripts.push_back(entry.path());
    std::sort(scripts.begin(), scripts.end());
    for (const auto& path : scripts) {
        const std::string text = luafuzz::ReadSeedFile(path);
        add(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    static const char* const kSnippets[] = {
        "Game.OnInit(gGame) Game.OnAfterSwitchScene(gGame) for i = 1, 20 do ZKRGameDelegate.OnTick(gGameDelegate) "
        "ZKRGameDelegate.OnSmoothTick(gGameDelegate) ZKRGameDelegate.OnPauseTick(gGameDelegate) end return Flow.step",
        "ReportLocalSceneLuaFiles('Outpost') RegisterAllScriptSequences() UnregisterAllScriptSequences() "
        "ReportLocalSceneResources() return OutpostScene.UnitTemplate({templateFolder = 'Outpost'}, 'Walker')",
        "Flow.RunSceneScripts('Outpost') OutpostScene.Read = function() return {timeLimit = 2, airstrikes = 1, repairs = 1, "
        "units = {'A', 'B'}, towerMarkers = {}, start = Vector:Instance(1, 0, 1, 1), templateFolder = ''} end "
        "Mission.Begin({seed = 3, difficulty = 'hardcore'}) for i = 1, 40 do Flow.OnTick() end Mission.Airstrike(0, 0) "
        "Mission.Repair() Mission.Zoom(2) Mission.Abandon() for i = 1, 40 do Flow.OnTick() end return Mission.IsRunning()",
        "Squad.Reset() Towers.Reset() Squad.BuildRoute(Vector:Instance(0, 0, 0, 1)) local e = Fixture.Entity(1, 0, 1) Squad.Spawn('Outpost/Walker', 1) "
        "Fixture.Destroy(e) return Towers.AliveCount(), Squad.Counts()",
        "local e = Fixture.Entity(2, 0, 2) MissionEnd.OnEnter(nil, e) ZKRProgressAreaTriggerEntity.OnExit(nil, e) "
        "Fixture.Destroy(e) Mission.OnWalkerDied({area = 0/0}) return Mission.AirstrikesLeft()",
        "Flow.StartMission() Game.OnAfterSwitchScene(gGame) ZKRGameDelegate.OnInputEvent(gGameDelegate, -1, 2^32) "
        "return ZKRGameDelegate.OnPlayerConnecting(gGameDelegate), ZKRGameDelegate.CanSleep(gGameDelegate)",
    };
    for (const char* snippet : kSnippets)
        add(reinterpret_cast<const uint8_t*>(snippet), std::char_traits<char>::length(snippet));
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    for (const char* kind : {"common", "scenes"})
        gFileSystem.MountDirectory(kind, (kSampleData / kind).string().c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);
    gLua.Init();
    lua_State* L = gLua.GetState();
    OpenEntityFixture(L);
    PCMacGameDelegate delegate(nullptr);
    delegate.RegisterBindings();
    // As the delegate's start-up runs it: every game script, then the events' functions.
    gLua.ExecuteFile("Main", "common/scripts");
    luafuzz::Restrict(L);

    lua_sethook(L, &luafuzz::BudgetHook, LUA_MASKCOUNT, luafuzz::kInstructionBudget);
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes() + luafuzz::kByteBudget);
    gLua.ExecuteString(script.c_str());
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    lua_sethook(L, nullptr, 0, 0);

    CloseEntityFixture();
    gLua.ExecuteString("collectgarbage()");
    gLua.Close();
    return 0;
}
