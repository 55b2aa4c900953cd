// The game's delegate: the table of events it forwards to scripts, the one runner of its
// rows, and the events with work of their own (start-up, entities, listings, replication).
#include "game/delegate/ZKRLuaGameDelegate.h"

#include <cstddef>
#include <initializer_list>
#include <new>
#include <lua.hpp>

#include "core/Memory.h"
#include "engine/entity/Entity.h"
#include "engine/entity/ReplicationBridge.h"
#include "engine/script/LuaBindings.h"
#include "engine/script/LuaUnicodeString.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "game/delegate/GameBindingPackages.h"
#include "game/scripts/ScriptListing.h"

namespace {

// Process-wide: the reserved operation ran once; the game's bindings are registered.
bool gZKRPreInitDone = false;
bool gZKRBindingsRegistered = false;

// Where an event goes: the script class "Game" on the Game object, or the delegate's own
// script class on the delegate.
enum class ZKREventTarget : uint8_t { Game, Delegate };

// How one argument is pushed.
enum class ZKREventArg : uint8_t {
    Bool,
    Int,      // signed, as a number
    UInt,     // unsigned, through PushUInt
    String,   // single-byte text; null pushes nil
    Player,   // user type "Player"
    Unicode,  // a new LuaUnicodeString copy, owned by the script collector
};

// What the engine gets back.
enum class ZKREventResult : uint8_t {
    None,            // nothing (the answer of an event without result is true)
    TrueUnlessFalse,  // the script's boolean; true when the call does not run or fails
    FalseUnlessTrue,  // the script's boolean; false when the call does not run or fails
};

struct ZKREventRow {
    uint8_t slot;  // the event's position in the delegate's operations
    const char* name;
    ZKREventTarget target;
    ZKREventResult result;
    uint8_t argCount;
    ZKREventArg args[3];
};

using ZKRTo = ZKREventTarget;
using ZKRArg = ZKREventArg;
using ZKRGives = ZKREventResult;

constexpr ZKREventRow kZKREventRows[] = {
    {11, "CanSleep", ZKRTo::Delegate, ZKRGives::TrueUnlessFalse, 0, {}},
    {17, "OnInit", ZKRTo::Game, ZKRGives::None, 0, {}},
    {19, "OnAfterInit", ZKRTo::Game, ZKRGives::None, 0, {}},
    {20, "OnQuit", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {21, "OnClose", ZKRTo::Game, ZKRGives::None, 0, {}},
    {22, "OnAfterClose", ZKRTo::Game, ZKRGives::None, 0, {}},
    {24, "OnSwitchScene", ZKRTo::Game, ZKRGives::None, 1, {ZKRArg::String}},
    {25, "OnSwitchSceneAfterNetEntitiesDestroyed", ZKRTo::Game, ZKRGives::None, 0, {}},
    {26, "OnDuringSwitchScene", ZKRTo::Game, ZKRGives::None, 0, {}},
    {27, "OnAfterSwitchScene", ZKRTo::Game, ZKRGives::None, 0, {}},
    {30, "OnAppActivate", ZKRTo::Game, ZKRGives::None, 0, {}},
    {31, "OnAppDeactivate", ZKRTo::Game, ZKRGives::None, 0, {}},
    {32, "OnCancelCurrentGame", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {33, "OnGameCenterMatchingCompleted", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Bool}},
    {35, "OnBigFrameTick", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {36, "OnTick", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {37, "OnSmoothTick", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {38, "OnAfterTick", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {39, "OnPauseTick", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {40, "OnTickInput", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {41, "OnInputEvent", ZKRTo::Delegate, ZKRGives::None, 2, {ZKRArg::Int, ZKRArg::UInt}},
    {43, "OnInputConfigChanged", ZKRTo::Game, ZKRGives::None, 0, {}},
    {44, "OnScreenResolutionChanged", ZKRTo::Game, ZKRGives::None, 0, {}},
    {51, "OnXBoxLiveLoginFinished", ZKRTo::Game, ZKRGives::None, 0, {}},
    {54, "OnChatMessage", ZKRTo::Delegate, ZKRGives::None, 3, {ZKRArg::Bool, ZKRArg::Int, ZKRArg::Unicode}},
    {55, "OnLobbyUpdated", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {56, "OnLobbyJoinRequested", ZKRTo::Delegate, ZKRGives::None, 0, {}},
    {57, "OnLobbyGameStartRequest", ZKRTo::Delegate, ZKRGives::None, 3, {ZKRArg::UInt, ZKRArg::Bool, ZKRArg::Bool}},
    {58, "OnLobbyError", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Int}},
    // The Game's part of the distribution start and end.
    {60, "OnInit", ZKRTo::Game, ZKRGives::None, 0, {}},
    {61, "OnClose", ZKRTo::Game, ZKRGives::None, 0, {}},
    {85, "OnGameHosted", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Int}},
    {86, "OnGameJoined", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Int}},
    {87, "OnGameDisconnected", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Int}},
    {88, "OnPlayerConnecting", ZKRTo::Delegate, ZKRGives::FalseUnlessTrue, 0, {}},
    {89, "OnPlayerConnected", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Player}},
    {90, "OnPlayerReady", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Player}},
    {91, "OnPlayerDisconnected", ZKRTo::Delegate, ZKRGives::None, 2, {ZKRArg::Player, ZKRArg::UInt}},
    {92, "OnPlayerConnectionStall", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Player}},
    {93, "OnPlayerConnectionResume", ZKRTo::Delegate, ZKRGives::None, 1, {ZKRArg::Player}},
};

constexpr size_t kZKREventRowCount = sizeof(kZKREventRows) / sizeof(kZKREventRows[0]);

// The row of a slot (kZKREventRowCount when there is none), found when compiling.
constexpr size_t ZKREventRowOf(uint8_t slot) {
    for (size_t i = 0; i < kZKREventRowCount; ++i)
        if (kZKREventRows[i].slot == slot) return i;
    return kZKREventRowCount;
}

// One argument as the overriding operation has it; the row says how to read it.
union ZKREventValue {
    ZKREventValue(bool v) : b(v) {}
    ZKREventValue(int32_t v) : i(v) {}
    ZKREventValue(uint32_t v) : u(v) {}
    ZKREventValue(const char* v) : s(v) {}
    ZKREventValue(Player* v) : p(v) {}
    ZKREventValue(const char16_t* v) : w(v) {}
    bool b;
    int32_t i;
    uint32_t u;
    const char* s;
    Player* p;
    const char16_t* w;
};

bool ZKRKnownScriptType(const char* typeName) {
    lua_State* L = gLua.GetState();
    if (!L) return false;
    luaL_getmetatable(L, typeName);
    const bool known = !lua_isnil(L, -1);
    lua_pop(L, 1);
    return known;
}

void ZKRPushEventArg(ZKREventArg kind, const ZKREventValue& value) {
    switch (kind) {
    case ZKREventArg::Bool:
        gLua.PushBool(value.b);
        break;
    case ZKREventArg::Int:
        gLua.PushInt(value.i);
        break;
    case ZKREventArg::UInt:
        gLua.PushUInt(value.u);
        break;
    case ZKREventArg::String:
        gLua.PushString(value.s);
        break;
    case ZKREventArg::Player:
        gLua.PushUserType(value.p, "Player");
        break;
    case ZKREventArg::Unicode:
        // The collector owns the copy and frees it as it frees every script-owned object
        // (destructor, then EngineFree); without the class a copy would never be freed.
        if (ZKRKnownScriptType("LuaUnicodeString")) {
            void* block = EngineAlloc(sizeof(LuaUnicodeString));
            gLua.PushCollectedUserType(block ? new (block) LuaUnicodeString(value.w) : nullptr, "LuaUnicodeString");
        } else {
            gLua.PushUserType(nullptr, "LuaUnicodeString");
        }
        break;
    }
}

// Pushes the row's arguments, calls, and reads the answer by the row's rule.
bool ZKRRunEventRow(ZKRLuaGameDelegate* self, const ZKREventRow& row, std::initializer_list<ZKREventValue> values) {
    const bool fallback = row.result != ZKREventResult::FalseUnlessTrue;
    if (!gLua.GetState()) return fallback;
    void* object = row.target == ZKREventTarget::Game ? static_cast<void*>(gGame) : static_cast<void*>(self);
    const char* className = row.target == ZKREventTarget::Game ? "Game" : self->GetScriptClassName();
    if (!object) return fallback;
    const ZKREventValue* value = values.begin();
    for (uint8_t i = 0; i < row.argCount && value != values.end(); ++i, ++value) ZKRPushEventArg(row.args[i], *value);
    const int resultCount = row.result == ZKREventResult::None ? 0 : 1;
    if (!gLua.CallMethod(row.argCount, resultCount, object, className, row.name)) return fallback;
    if (resultCount == 0) return true;
    const bool answer = gLua.ToBool(-1);
    gLua.Pop(1);
    return answer;
}

template <uint8_t Slot, class... V>
bool ZKRForward(ZKRLuaGameDelegate* self, V... values) {
    constexpr size_t index = ZKREventRowOf(Slot);
    static_assert(index < kZKREventRowCount, "the slot has no event row");
    constexpr const ZKREventRow& row = kZKREventRows[index];
    static_assert(sizeof...(V) == row.argCount, "the event's arguments differ from its row");
    return ZKRRunEventRow(self, row, {ZKREventValue(values)...});
}

}  // namespace

bool ZKRLuaGameDelegate::IsPreInitDone() { return gZKRPreInitDone; }
bool ZKRLuaGameDelegate::AreBindingsRegistered() { return gZKRBindingsRegistered; }
void ZKRLuaGameDelegate::ResetProcessFlags() {
    gZKRPreInitDone = false;
    gZKRBindingsRegistered = false;
}

void ZKRLuaGameDelegate::RegisterBindings() {
    lua_State* L = gLua.GetState();
    if (!L) return;
    OpenGameBindingPackages(L);
    RepairClassFieldAssignment(L);  // classes opened after the host's packages
    gLua.SetGlobalObject(this, GetScriptClassName(), "gGameDelegate");
}

void ZKRLuaGameDelegate::RegisterBindingsOnce() {
    // Without a script state nothing opens, so nothing counts as registered yet.
    if (gZKRBindingsRegistered || !gLua.GetState()) return;
    RegisterBindings();
    gZKRBindingsRegistered = true;
}

void ZKRLuaGameDelegate::OnPreInit() {
    if (!gZKRPreInitDone) {
        gZKRPreInitDone = true;
        ReservedOperation();
    }
    RegisterBindingsOnce();
    gLua.ExecuteFile("Main", kScriptFolder);
}

void ZKRLuaGameDelegate::OnInit() {
    GameDelegate::OnInit();
    ZKRForward<17>(this);
}

void ZKRLuaGameDelegate::OnDistributionInit(uint32_t) {
    RegisterBindingsOnce();
    gLua.ExecuteFile("DistributionMain", kScriptFolder);
    ZKRForward<60>(this);
}

void ZKRLuaGameDelegate::ResetBindingsRegistration() { gZKRBindingsRegistered = false; }

void ZKRLuaGameDelegate::InitEntity(Entity* entity) { Entity::CallScriptOnInit(entity); }

void ZKRLuaGameDelegate::LoadMainScripts(const char* setName, DynarraySafe<NameString>& files) {
    ListCommonScripts(gGame, setName, files);
}

void ZKRLuaGameDelegate::RegisterSceneScripts(const char* sceneName, DynarraySafe<NameString>& files) {
    ListSceneScripts(sceneName, files);
}

void ZKRLuaGameDelegate::OnReplicatedProperty(Entity* entity) { SetEntityReplicatedProperty(entity); }

void ZKRLuaGameDelegate::OnReplicatedMethodCall(Player* player, const MPMethodCall* call) {
    if (call) CallReplicatedMethod(player, *call);
}

void ZKRLuaGameDelegate::OnTornOff(Entity* entity) { gLua.CallObjectMethod(entity, "OnTornOff"); }

// ---- The forwarded events: each hands its arguments to its row ----

bool ZKRLuaGameDelegate::CanSleep() { return ZKRForward<11>(this); }
void ZKRLuaGameDelegate::OnAfterInit() { ZKRForward<19>(this); }
void ZKRLuaGameDelegate::OnQuit() { ZKRForward<20>(this); }
void ZKRLuaGameDelegate::OnClose() { ZKRForward<21>(this); }
void ZKRLuaGameDelegate::OnAfterClose() { ZKRForward<22>(this); }
void ZKRLuaGameDelegate::OnSwitchScene(const char* sceneName) { ZKRForward<24>(this, sceneName); }
void ZKRLuaGameDelegate::OnSwitchSceneAfterNetEntitiesDestroyed() { ZKRForward<25>(this); }
void ZKRLuaGameDelegate::OnDuringSwitchScene() { ZKRForward<26>(this); }
void ZKRLuaGameDelegate::OnAfterSwitchScene() { ZKRForward<27>(this); }
void ZKRLuaGameDelegate::OnAppActivate(bool) { ZKRForward<30>(this); }
void ZKRLuaGameDelegate::OnAppDeactivate(bool) { ZKRForward<31>(this); }
void ZKRLuaGameDelegate::OnCancelCurrentGame() { ZKRForward<32>(this); }
void ZKRLuaGameDelegate::OnGameCenterMatchingCompleted(bool success) { ZKRForward<33>(this, success); }
bool ZKRLuaGameDelegate::OnBigFrameTick() {
    ZKRForward<35>(this);
    return true;
}
void ZKRLuaGameDelegate::OnTick() { ZKRForward<36>(this); }
void ZKRLuaGameDelegate::OnSmoothTick() { ZKRForward<37>(this); }
void ZKRLuaGameDelegate::OnAfterTick() { ZKRForward<38>(this); }
void ZKRLuaGameDelegate::OnPauseTick() { ZKRForward<39>(this); }
void ZKRLuaGameDelegate::OnTickInput() { ZKRForward<40>(this); }
void ZKRLuaGameDelegate::OnInputEvent(int32_t type, uint32_t value) { ZKRForward<41>(this, type, value); }
void ZKRLuaGameDelegate::OnInputConfigChanged() { ZKRForward<43>(this); }
void ZKRLuaGameDelegate::OnScreenResolutionChanged() { ZKRForward<44>(this); }
void ZKRLuaGameDelegate::OnXBoxLiveLoginFinished() { ZKRForward<51>(this); }
void ZKRLuaGameDelegate::OnChatMessage(bool lobby, int32_t kind, const char16_t* text) {
    ZKRForward<54>(this, lobby, kind, text);
}
void ZKRLuaGameDelegate::OnLobbyUpdated() { ZKRForward<55>(this); }
void ZKRLuaGameDelegate::OnLobbyJoinRequested() { ZKRForward<56>(this); }
void ZKRLuaGameDelegate::OnLobbyGameStartRequest(uint32_t value, bool first, bool second) {
    ZKRForward<57>(this, value, first, second);
}
void ZKRLuaGameDelegate::OnLobbyError(int32_t error) { ZKRForward<58>(this, error); }
void ZKRLuaGameDelegate::OnDistributionClose() { ZKRForward<61>(this); }
void ZKRLuaGameDelegate::OnGameHosted(int32_t result) { ZKRForward<85>(this, result); }
void ZKRLuaGameDelegate::OnGameJoined(int32_t result) { ZKRForward<86>(this, result); }
void ZKRLuaGameDelegate::OnGameDisconnected(int32_t reason) { ZKRForward<87>(this, reason); }
bool ZKRLuaGameDelegate::OnPlayerConnecting() { return ZKRForward<88>(this); }
void ZKRLuaGameDelegate::OnPlayerConnected(Player* player) { ZKRForward<89>(this, player); }
void ZKRLuaGameDelegate::OnPlayerReady(Player* player) { ZKRForward<90>(this, player); }
void ZKRLuaGameDelegate::OnPlayerDisconnected(Player* player, uint32_t reason) { ZKRForward<91>(this, player, reason); }
void ZKRLuaGameDelegate::OnPlayerConnectionStall(Player* player) { ZKRForward<92>(this, player); }
void ZKRLuaGameDelegate::OnPlayerConnectionResume(Player* player) { ZKRForward<93>(this, player); }
