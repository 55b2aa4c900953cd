#include "GameFixture.h"

#include <lua.hpp>

#include <memory>
#include <string>
#include <vector>

#include "bindings/frame/LuaBindingSupport.h"
#include "core/rtti/RTTIClass.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/script/LuaWrapper.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "game/kinds/ZKRMarkers.h"
#include "net/online/PCMacProgressAnalyzer.h"
#include "net/online/PCMacProgressData.h"
#include "net/online/SteamLeaderboardsManager.h"
#include "ui/elements/UIText.h"

namespace {

// Kept to the end of the program: the entities made from them live until the scene goes.
std::vector<std::unique_ptr<EntityTemplate>>& Templates() {
    static std::vector<std::unique_ptr<EntityTemplate>> templates;
    return templates;
}

int GameKind(lua_State* L) {
    std::unique_ptr<EntityTemplate> t(
        dynamic_cast<EntityTemplate*>(NameRegistry::CreateObject(luaL_checkstring(L, 1))));
    if (!t) {
        lua_pushnil(L);
        return 1;
    }
    t->SetName(lua_tostring(L, 1));
    Entity* e = gEntityManager->CreateEntityFromTemplate(t.get(), nullptr, Matrix::IDENTITY,
                                                         ENTITYCREATION_DONOTCREATERENDERINGCONTEXT, nullptr);
    if (e) e->RaiseFlag(ENTITYFLAG_NORENDERINGCONTEXT, false);
    Templates().push_back(std::move(t));
    gLua.PushObject(e);
    return 1;
}

int SetEmergence(lua_State* L) {
    auto* marker = static_cast<ZKRTowerMarkerEntity*>(LuaBindingReader{"ZKRTowerMarkerEntity"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (marker) marker->emergenceEffectType = static_cast<uint32_t>(lua_tonumber(L, 2));
    return 0;
}

// The text of a text element as single-byte characters; nil for anything else.
int TextOf(lua_State* L) {
    auto* t = static_cast<UIText*>(LuaBindingReader{"UIText"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (!t || !t->Text()) return 0;
    std::string text;
    for (const char16_t* c = t->Text(); *c; ++c) text += static_cast<char>(*c);
    lua_pushstring(L, text.c_str());
    return 1;
}

// A progress result of two areas: the first with 3 deaths and a friend "Ann" at 12, the
// user "Me" in the second at 40; and an analyzer without leaderboards.
PCMacProgressData& Progress() {
    static PCMacProgressData data = [] {
        PCMacProgressData d;
        d.Reset(2);
        d.areas[0]->deathsNumber = 3;
        d.areas[0]->friendEntries.push_back(std::make_unique<PCMacProgressEntry>(PCMacProgressEntry{"Ann", 12}));
        d.userAreaIndex = 1;
        d.userName = "Me";
        d.userValue = 40;
        return d;
    }();
    return data;
}

int ProgressData(lua_State* L) {
    LuaBindingPushObject(L, &Progress(), "PCMacProgressData");
    return 1;
}

int AreaData(lua_State* L) {
    LuaBindingPushObject(L, Progress().GetArea(0), "PCMacAreaProgressData");
    return 1;
}

int Analyzer(lua_State* L) {
    static PCMacProgressAnalyzer analyzer(nullptr);
    LuaBindingPushObject(L, &analyzer, "PCMacProgressAnalyzer");
    return 1;
}

// The shared analyzer made over the given manager (none for nil), as its owner makes it.
int ShareProgressAnalyzer(lua_State* L) {
    auto* manager = static_cast<SteamLeaderboardsManager*>(LuaBindingReader{"SteamLeaderboardsManager"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    gPCMacProgressAnalyzer = PCMacProgressAnalyzer(manager);
    return 0;
}

// The collector of a class, counting its runs. Upvalues: the class's own collector and the
// count (a userdata holding a number).
int CountingCollector(lua_State* L) {
    ++*static_cast<lua_Number*>(lua_touserdata(L, lua_upvalueindex(2)));
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 0);
    return 0;
}

int CollectionCount(lua_State* L) {
    lua_pushnumber(L, *static_cast<lua_Number*>(lua_touserdata(L, lua_upvalueindex(1))));
    return 1;
}

int CountCollections(lua_State* L) {
    luaL_getmetatable(L, luaL_checkstring(L, 1));
    if (!lua_istable(L, -1)) return 0;
    lua_pushliteral(L, ".collector");
    lua_rawget(L, -2);
    if (!lua_isfunction(L, -1)) return 0;
    *static_cast<lua_Number*>(lua_newuserdata(L, sizeof(lua_Number))) = 0;
    lua_pushvalue(L, -1);
    lua_insert(L, -3);  // metatable, count, collector, count
    lua_pushcclosure(L, &CountingCollector, 2);
    lua_pushliteral(L, ".collector");
    lua_insert(L, -2);
    lua_rawset(L, -4);
    lua_pushcclosure(L, &CollectionCount, 1);
    return 1;
}

PCMacGameDelegate* GameFixtureDelegate(lua_State* L) {
    auto* delegate = static_cast<PCMacGameDelegate*>(LuaBindingReader{"PCMacGameDelegate"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    return delegate;
}

// The delegate's default user, logged in unless a profile is.
int LogInDelegateUser(lua_State* L) {
    PCMacGameDelegate* delegate = GameFixtureDelegate(L);
    if (delegate && !delegate->GetLoggedInProfile()) delegate->LogInDefaultUser();
    return 0;
}

int LogOutDelegateUser(lua_State* L) {
    if (PCMacGameDelegate* delegate = GameFixtureDelegate(L)) delegate->LogOut();
    return 0;
}

}  // namespace

void OpenGameFixture(lua_State* L) {
    lua_getglobal(L, "Fixture");
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return;
    }
    lua_pushcfunction(L, &GameKind);
    lua_setfield(L, -2, "GameKind");
    lua_pushcfunction(L, &SetEmergence);
    lua_setfield(L, -2, "SetEmergence");
    lua_pushcfunction(L, &TextOf);
    lua_setfield(L, -2, "TextOf");
    lua_pushcfunction(L, &ProgressData);
    lua_setfield(L, -2, "PCMacProgressData");
    lua_pushcfunction(L, &AreaData);
    lua_setfield(L, -2, "PCMacAreaProgressData");
    lua_pushcfunction(L, &Analyzer);
    lua_setfield(L, -2, "PCMacProgressAnalyzer");
    lua_pushcfunction(L, &ShareProgressAnalyzer);
    lua_setfield(L, -2, "ShareProgressAnalyzer");
    lua_pushcfunction(L, &CountCollections);
    lua_setfield(L, -2, "CountCollections");
    lua_pushcfunction(L, &LogInDelegateUser);
    lua_setfield(L, -2, "LogIn");
    lua_pushcfunction(L, &LogOutDelegateUser);
    lua_setfield(L, -2, "LogOut");
    lua_pop(L, 1);
    // One entity of each game kind for the call scripts, through the scene the entity
    // fixture makes on its first entity.
    gLua.ExecuteString(
        "local scene = false\n"
        "local function Kind(template) return function()\n"
        "  if not scene then Fixture.Destroy(Fixture.Entity()) scene = true end\n"
        "  return Fixture.GameKind(template) end end\n"
        "for class, template in pairs({ZKRPlayerMarkerEntity = 'ZKRPlayerMarkerTemplate',\n"
        "    ZKRVersusPlayerMarkerEntity = 'ZKRVersusPlayerMarkerTemplate', ZKRTowerMarkerEntity = "
        "'ZKRTowerMarkerTemplate',\n"
        "    ZKRPickupMarkerEntity = 'ZKRPickupMarkerTemplate', ZKRTriggerEntity = 'ZKRTriggerTemplate',\n"
        "    ZKRScriptTriggerEntity = 'ZKRScriptTriggerTemplate', ZKRSquadScriptTriggerEntity = "
        "'ZKRSquadScriptTriggerTemplate',\n"
        "    ZKRSquadZDirTriggerEntity = 'ZKRSquadZDirTriggerTemplate', ZKREffectEntity = 'ZKREffectTemplate',\n"
        "    ZKRDamageSurfaceEntity = 'ZKRDamageSurfaceTemplate', ZKRUsableEntity = 'ZKRUsableTemplate',\n"
        "    ZKRGameEntity = 'ZKRTowerTemplate', ZKRTowerEntity = 'ZKRTowerTemplate',\n"
        "    ZKRObstacleMarkerEntity = 'ZKRObstacleMarkerTemplate', ZKRHelicopterPathFlagEntity = "
        "'ZKRHelicopterPathFlagTemplate',\n"
        "    ZKRPathRendererEntity = 'ZKRPathRendererTemplate', ZKRAmbientSoundEntity = 'ZKRAmbientSoundTemplate',\n"
        "    ZKRCheckpointEntity = 'ZKRCheckpointTemplate', ZKRProgressAreaTriggerEntity = "
        "'ZKRProgressAreaTriggerTemplate',\n"
        "    ZKRRemoteConnectorArrayEntity = 'ZKRRemoteConnectorArrayTemplate'}) do\n"
        "  Fixture[class] = Kind(template)\n"
        "end\n"
        "function Fixture.ZKRMissionSelectorPathRenderer() return ZKRMissionSelectorPathRenderer:new_local() end\n");
    // The game's delegate and the profile it logs in, as the program's scripts find them.
    gLua.ExecuteString(
        "function Fixture.ZKRGameDelegate() return gGameDelegate end\n"
        "function Fixture.PCMacGameDelegate() return gGameDelegate end\n"
        "function Fixture.PCMacGamerProfile()\n"
        "  Fixture.LogIn(gGameDelegate) return gGameDelegate:GetLoggedInProfile() end\n"
        "Fixture.LCZKRGamerProfile = Fixture.PCMacGamerProfile\n");
}
