// test-sources: RunnerNatives.cpp EntityFixture.cpp SoundFixture.cpp
// test-sources: UIFixture.cpp
// test-sources: MultiplayerFixture.cpp
// test-link: broker_server
// Arbitrary script text run in the host with every binding package open (the game's too,
// with its script functions, opened by a desktop delegate of the input's own as the
// program's delegate opens them, which publishes it as gGameDelegate; it has no online
// services, so no profile and a leaderboards manager whose requests fail), under
// instruction and byte budgets, after the cases' prelude (lua/assert.lua) and the Runner
// and Fixture tables, so that inputs grown from the seeds (the package cases and the call
// scripts of each package) reach the bindings through engine objects that live and die
// (entities on a walk map, the camera controller and its subcontrollers). Taken away, as
// in the host's own target, is what LuaFuzzSandbox.h lists; the UI elements the fixture
// records are script-owned.
#include <lua.hpp>

#include <cstdint>
#include <filesystem>
#include <string>

#include "EntityFixture.h"
#include "LuaFuzzSandbox.h"
#include "MultiplayerFixture.h"
#include "RunnerNatives.h"
#include "SoundFixture.h"
#include "UIFixture.h"
#include "engine/script/LuaWrapper.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "support/ProgramStaticInit.h"

namespace {

// The UI elements the fixture records are script-owned.
constexpr const char* kRecordOwned =
    "local recording = UIFixture.Recording\nUIFixture.Recording = function() return recording(true) end\n";

std::string gPrelude;

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const std::filesystem::path folders[] = {std::filesystem::path(PROJECT_SOURCE_ROOT) / "tests/bindings/lua",
                                             std::filesystem::path(PROJECT_BINARY_ROOT) / "tests/bindings/calls"};
    for (const auto& folder : folders) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            if (entry.path().extension() != ".lua" || entry.path().filename() == "assert.lua") continue;
            const std::string text = luafuzz::ReadSeedFile(entry.path());
            add(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        }
    }
    static const char* const kSnippets[] = {
        "local p = Runner.Spawn() Runner.KillAll() return p:Name(), Vector.Dot3(p, p)",
        "local v = Vector:Instance(1, 2, 3) for i = -2, 5 do v[i] = v[i] end return v:Length()",
        "local m = Matrix:Instance(Matrix.ONE) local r = m.v[1] m = nil collectgarbage() return r.x",
        "Vector.ZERO4 = 1 return Vector.ZERO4.x",
        "return DIK_ESCAPE + XINPUT_GAMEPAD_RIGHT_TRIGGER",
        "local c = Fixture.GameCameraController() local s = c:AddNewSubcontroller(1) c:DeleteSubcontroller(s) return s:GetFOV()",
        "local e = Fixture.Entity(1, 0, 1) local c = VerySimpleCharacterController.Instance(e) Fixture.Destroy(e) c:Move(Vector:Instance(1, 0, 0, 0)) c:delete() return c:IsIdle()",
        "local e = Fixture.Entity(0, 0, 0) Fixture.Destroy(e) local c = gSoundEntriesContainer c:EnableSoundsPlay(true) return c:PlaySoundEntry('x', e), c:GetSoundEntryRandomTimeValues('x', 0/0, 1/0)",
        "local p = SoundParamWrapper.DEFAULT p.Channel = -1 p.Volume = 0/0 return Fixture.SoundEngine():PlaySystemSound('a.wav', p), Fixture.SoundCommands()",
        "local v = Fixture.VideoEngine() v:Play('clip', 'videos', true, true, 1/0) return Fixture.PlayVideo(5), v:IsPlaying()",
        "local e, k = Fixture.Entity(1, 0, 1), Fixture.MeshEntity(2, 0, 2) k:SetParent(e) local p = LuaEntityPointer:Instance(k) Fixture.Destroy(e) return p:IsNull(), k:GetName()",
        "local r = LOSResult:Instance() r.Entity = Fixture.FlagEntity() Fixture.Destroy(r.Entity) local v = r.Point r = nil collectgarbage() return v.x",
        "local a = Fixture.ProceduralTargetingAnimation() local p = LuaProcTgtAnimPointer:Instance(a) Fixture.DestroyAnimation(a) return p:Get(), a:GetRotationVector()",
        "local p = AnimationParams:Instance() p.SyncObject = AnimationSoundSyncObject:Instance(nil) p.Id = -1 collectgarbage() return p.SyncObject, NULL_ENTITY_MULTIPLAYER_ID",
        "local s = Fixture.UIScreen() local t = UIUniTextInput:new_local('font', 10, true, 4) s:AddChild(t) t:ProcessKeyCharEvent(65) local p = t:GetInputStringUnicharPtr() s:Release() t:PasteString(p) return LuaUnicodeString:Instance(p):GetLength()",
        "local s = Fixture.UIScreen() local e = UIElement:new_local() s:AddChild(e) s:RemoveChild(e) e:Delete(0, 0) UIFixture.Fire(e) return LuaUIPointer:Instance(e):IsNull(), e:GetId()",
        "local mp = Fixture.MultiplayerEngine() local r = mp:GetRemotePlayer(0) mp:InitRemotePlayers(1) mp:SynchronizePlayer(r) return r:IsLocal(), mp:LobbyGetMemberNameLuaUnichar(-1):GetLength(), Fixture.MultiplayerCommands()",
        "local mp, p = Fixture.MultiplayerEngine(), Fixture.Player() local e = Fixture.Entity(0, 0, 0) p:SetPlayerControllerRaw(e) Fixture.Destroy(e) mp:SendChatMessageUnicharPtr(true, Fixture.Unicode('x'):GetUnicharPtr()) return p:GetPlayerController(), mp:LobbyAutoMatch(0/0, 1/0, -1, 2^53, 1, 1, 1, 1, 1, nil)",
        "local lb = Fixture.SteamLeaderboardsManager() lb:UpdateAndRetrieveLeaderboard('M01', 1/0, 0/0, 0, 1e30, -5) Fixture.PumpLeaderboards() return lb:GetLeaderboardRetrievedEntry('M01', 0/0, -1, nil, 2^53, 5), lb:GetLeaderboardRetrievedEntriesNumber('M01')",
        "local d = Fixture.AnsweringDelegate() Fixture.Scene('fz', 'return 1') d:RunSceneLocalLuaFiles() return d:IsGameCenterEnabled(), GameDelegate.GetLeaderboardViewer(Fixture.GamerProfile())",
        "local d = gGameDelegate local lb = d:GetLeaderboardsManager() lb:RetrieveLeaderboard('M01', 0/0, -1, 2^53) Fixture.PumpLeaderboards(lb) return d:GetLoggedInProfile(), lb:GetLeaderboardRetrieveStatus('M01'), PCMacGameDelegate.GetLoggedInProfile(Fixture.LuaGameDelegate())",
    };
    for (const char* snippet : kSnippets)
        add(reinterpret_cast<const uint8_t*>(snippet), std::char_traits<char>::length(snippet));
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gPrelude = luafuzz::ReadSeedFile(std::filesystem::path(PROJECT_SOURCE_ROOT) / "tests/bindings/lua/assert.lua");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);
    gLua.Init();
    lua_State* L = gLua.GetState();
    OpenRunnerNatives(L, nullptr);
    OpenEntityFixture(L);
    OpenSoundFixture(L);
    OpenUIFixture(L);
    OpenMultiplayerFixture(L);
    PCMacGameDelegate delegate(nullptr);
    delegate.RegisterBindings();
    gLua.ExecuteString(gPrelude.c_str());
    luafuzz::Restrict(L);
    luaL_dostring(L, kRecordOwned);

    lua_sethook(L, &luafuzz::BudgetHook, LUA_MASKCOUNT, luafuzz::kInstructionBudget);
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes() + luafuzz::kByteBudget);
    gLua.ExecuteString(script.c_str());
    // The cases the input declared run under a fresh budget of their own.
    lua_sethook(L, &luafuzz::BudgetHook, LUA_MASKCOUNT, luafuzz::kInstructionBudget);
    gLua.ExecuteString("RunTests()");
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    lua_sethook(L, nullptr, 0, 0);

    DestroyRunnerProbes();
    CloseEntityFixture();
    CloseSoundFixture();
    CloseMultiplayerFixture();
    gLua.ExecuteString("collectgarbage()");
    gLua.Close();
    CloseUIFixture();
    return 0;
}
