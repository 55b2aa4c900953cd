// Script host: start-up and shutdown, the host allocator, the panic handler, the push
// and read helpers and the small natives. Running scripts and calling into them is in
// LuaWrapper_Calls.cpp, the stack dump in LuaWrapper_Debug.cpp.
#include "engine/script/LuaWrapper.h"

#include <algorithm>
#include <cstring>
#include <lua.hpp>
#include <new>
#include <tolua++.h>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/profiler/Profiler.h"
#include "engine/services/SceneContentServices.h"
#include "engine/services/SoundServices.h"
#include "engine/services/UIServices.h"
#include "engine/script/LuaBaseClass.h"
#include "engine/script/LuaBindings.h"
#include "engine/script/LuaNumber.h"
#include "engine/script/LuaSandbox.h"
#include "render/shaders/PostprocessManager.h"
#include "render/shaders/ShaderManager.h"

namespace {

alignas(LuaWrapper) unsigned char gLuaStorage[sizeof(LuaWrapper)];

// Bytes of the state's blocks as Lua counts them, and the test budget.
size_t gLuaBytes = 0;
size_t gLuaByteBudget = SIZE_MAX;

// A table length beyond this is not reserved up front (a sparse table can report a
// length of a billion with a handful of entries); the array grows as it fills.
constexpr size_t kFloatArrayReserveLimit = 65536;

void* PoolAlloc(size_t size) { return gSmallObjectPools ? gSmallObjectPools->Alloc(size) : EngineAlloc(size); }

void PoolFree(void* block) {
    if (gSmallObjectPools)
        gSmallObjectPools->Free(block);
    else
        EngineFree(block);
}

int Panic(lua_State* L) {
    const char* message = lua_tostring(L, -1);
    gLog.Error(LogCategory::Script, "LUA panic: %s!!!\n", message ? message : "");
    return 0;  // Lua then ends the process
}

// ---- Natives of the host's own globals (no C++ object with a destructor in their
// frames: Lua unwinds errors with longjmp) ----

int Breakpoint(lua_State*) { return 0; }

int TableSize(lua_State* L) {
    const int n = ScriptNumber(lua_tonumber(L, 1));
    return n > 0 ? n : 0;
}

int CreateHashTable(lua_State* L) {
    lua_createtable(L, 0, TableSize(L));
    return 1;
}

int CreateArrayTable(lua_State* L) {
    lua_createtable(L, TableSize(L), 0);
    return 1;
}

// ---- The singletons published at start-up ----

void* ScriptHost() { return &gLua; }
void* Console() { return &gLog; }
void* ProfilerObject() { return &gProfiler; }
// The engine object, its timer, the entity manager, the Game and the configuration
// helper live above the script host: their start-up registers where they are
// (LuaWrapper::SetEngineSingletons, SetEntityManagerSingleton, SetGameSingletons).
LuaWrapper::SingletonSource gEngineObjectSource = nullptr;
LuaWrapper::SingletonSource gEngineTimerSource = nullptr;
LuaWrapper::SingletonSource gEntityManagerSource = nullptr;
LuaWrapper::SingletonSource gGameSource = nullptr;
LuaWrapper::SingletonSource gConfigHelperSource = nullptr;
void* FromSource(LuaWrapper::SingletonSource source) { return source ? source() : nullptr; }
void* EngineObject() { return FromSource(gEngineObjectSource); }
void* EngineTimer() { return FromSource(gEngineTimerSource); }
void* EntityManagerObject() { return FromSource(gEntityManagerSource); }
void* GameObject() { return FromSource(gGameSource); }
void* ConfigHelperObject() { return FromSource(gConfigHelperSource); }
void* ShaderManagerObject() { return gShaderManager; }

// The singletons of the libraries above the engine, through their services (null, which
// scripts see as nil, while a library is not installed).
void* SoundEngineObject() { return GetSoundServices().GetSoundEngine(); }
void* SoundEntriesObject() { return GetSoundServices().GetSoundEntriesContainer(); }
void* DefaultReplacementObject() { return GetUIServices().GetDefaultReplacementContainer(); }
void* SequenceSystemObject() { return GetSceneContentServices().GetSequenceSystem(); }
void* SequenceSpawnerObject() { return GetSceneContentServices().GetSequenceSpawner(); }
void* SequenceActionFactoryObject() { return GetSceneContentServices().GetSequenceActionFactory(); }
void* VideoEngineObject() { return GetUIServices().GetVideoEngine(); }

struct ScriptSingleton {
    const char* global;
    const char* type;
    void* (*object)();
};

const ScriptSingleton kSingletons[] = {
    {"gVornexEngine", "VornexEngine", &EngineObject},
    {"gLua", "LuaWrapper", &ScriptHost},
    {"gConsole", "GameConsole", &Console},
    {"gGame", "Game", &GameObject},
    {"gEntityManager", "EntityManager", &EntityManagerObject},
    {"gProfiler", "Profiler", &ProfilerObject},
    {"gShaderManager", "ShaderManager", &ShaderManagerObject},
    {"gEngineTimer", "EngineTimer", &EngineTimer},
    {"gSoundEngine", "SoundEngine", &SoundEngineObject},
    {"gSoundEntriesContainer", "SoundEntriesContainer", &SoundEntriesObject},
    {"gDefaultReplacementContainer", "StringReplacementContainer",
     &DefaultReplacementObject},
    {"gConfigHelper", "LUAConfigHelper", &ConfigHelperObject},
    {"gSequenceSystem", "SequenceSystem", &SequenceSystemObject},
    {"gSequenceSpawner", "SequenceSpawner", &SequenceSpawnerObject},
    {"gSequenceActionFactory", "SequenceActionFactory", &SequenceActionFactoryObject},
    {"gVideoEngine", "VideoEngine", &VideoEngineObject},
};
static_assert(sizeof(kSingletons) / sizeof(kSingletons[0]) == 16);

uint32_t gScriptErrorCount = 0;

}  // namespace

LuaWrapper& gLua = *reinterpret_cast<LuaWrapper*>(gLuaStorage);

void CreateGlobalLuaWrapper() { new (gLuaStorage) LuaWrapper; }
void DestroyGlobalLuaWrapper() { gLua.~LuaWrapper(); }

LuaWrapper::~LuaWrapper() { Close(); }

// ---- Lifecycle ----

void LuaWrapper::Init() {
    if (state) return;
    gLog.Print(LogSeverity::Progress, LogCategory::Script, "Initializing LUA wrapper...");
    ResetErrorCounter();
    BeginFailureRecord();
    state = lua_newstate(&HostAllocate, nullptr);
    if (!state) {
        gLog.Error(LogCategory::Script, "LuaWrapper::Init - cannot create the Lua state");
        return;
    }
    lua_State* L = state;
    lua_atpanic(L, &Panic);
    lua_gc(L, LUA_GCSTOP, 0);

    lua_pushcfunction(L, &HostCall);
    hostCallRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushlightuserdata(L, this);
    lua_pushcclosure(L, &MessageHandler, 1);
    messageHandlerRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushliteral(L, "_ERRORMESSAGE");
    errorHandlerNameRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushliteral(L, "precompiled chunks are not accepted");
    refusedChunkMessageRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushliteral(L, "tolua_ubox");
    uboxNameRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushliteral(L, "__index");
    indexNameRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushliteral(L, ".get");
    getterTableNameRef = luaL_ref(L, LUA_REGISTRYINDEX);
    for (MethodNames& names : methodNames) {
        lua_pushboolean(L, 0);
        names.classRef = luaL_ref(L, LUA_REGISTRYINDEX);
        lua_pushboolean(L, 0);
        names.methodRef = luaL_ref(L, LUA_REGISTRYINDEX);
    }

    OpenScriptLibraries(L);
    lua_pushboolean(L, 1);
    lua_setglobal(L, "_LUA5");
    lua_pushstring(L, kLuaClassKey);
    lua_setglobal(L, "VORNEX_LUA_CLASS_KEY");
    if (openBitLibraryHook) openBitLibraryHook(L);
    lua_gc(L, LUA_GCRESTART, 0);
    lua_gc(L, LUA_GCSETPAUSE, gcPause);
    lua_gc(L, LUA_GCSETSTEPMUL, gcStepMultiplier);
    if (resetReplicationHook) resetReplicationHook(L);
    OpenAllLuaBindings(L);
    luaL_getmetatable(L, "tolua_commonclass");
    lua_getfield(L, -1, "__index");
    classIndexEvent = lua_tocfunction(L, -1);
    lua_pop(L, 2);
    PublishSingletons();
    lua_register(L, "breakpoint", &Breakpoint);
    lua_register(L, "tcreate", &CreateHashTable);
    lua_register(L, "acreate", &CreateArrayTable);
    gLog.Print(LogSeverity::Progress, LogCategory::Script, "done.");
}

void LuaWrapper::Close() {
    if (!state) return;
    gLog.Print(LogSeverity::Progress, LogCategory::Script, "Closing LUA wrapper");
    ReportRepeatedErrors();
    lua_close(state);
    state = nullptr;
    floatArray.Release();
    unknownTypes.Release();
}

void LuaWrapper::SetEngineSingletons(SingletonSource engine, SingletonSource timer) {
    gEngineObjectSource = engine;
    gEngineTimerSource = timer;
}

void LuaWrapper::SetEntityManagerSingleton(SingletonSource entityManager) { gEntityManagerSource = entityManager; }

void LuaWrapper::SetGameSingletons(SingletonSource game, SingletonSource configHelper) {
    gGameSource = game;
    gConfigHelperSource = configHelper;
}

void LuaWrapper::PublishSingletons() {
    for (const ScriptSingleton& s : kSingletons) SetGlobalObject(s.object(), s.type, s.global);
    SetGlobalObject(&gPostprocessManager, "PostprocessManager", "gPostprocessManager");
}

void LuaWrapper::SetInitHooks(StateHook openBitLibrary, StateHook resetReplication) {
    openBitLibraryHook = openBitLibrary;
    resetReplicationHook = resetReplication;
}

// ---- Allocator ----

void* LuaWrapper::HostAllocate(void*, void* block, size_t oldSize, size_t newSize) {
    // An inactive section measures nothing; skipping both ends of it is the same.
    const bool timed = gProfiler.IsActive(PROFILE_LUA_ALLOC_TIME);
    if (timed) gProfiler.StartTimer(PROFILE_LUA_ALLOC_TIME, PROFILER_THREAD_MAIN);
    void* result = nullptr;
    if (newSize == 0) {
        if (block) {
            PoolFree(block);
            gLuaBytes -= oldSize;
        }
    } else {
        gProfiler.AddValue(PROFILE_LUA_ALLOC_NUM, 1.0f, PROFILER_THREAD_MAIN);
        if (!block) oldSize = 0;
        const bool withinBudget = newSize <= gLuaByteBudget && gLuaBytes <= gLuaByteBudget - newSize;
        void* fresh = withinBudget ? PoolAlloc(newSize) : nullptr;
        if (fresh) {
            if (block) {
                std::memcpy(fresh, block, std::min(oldSize, newSize));
                PoolFree(block);
            }
            gLuaBytes += newSize - oldSize;
            result = fresh;
        } else if (block && newSize <= oldSize) {
            // Lua requires a shrink to succeed: the old block serves at its new size.
            gLuaBytes -= oldSize - newSize;
            result = block;
        }
    }
    if (timed) gProfiler.StopTimer(PROFILE_LUA_ALLOC_TIME, PROFILER_THREAD_MAIN);
    return result;
}

void LuaWrapper::SetAllocationBudget(size_t bytes) { gLuaByteBudget = bytes; }
size_t LuaWrapper::AllocatedBytes() { return gLuaBytes; }

// ---- Error counter ----

void LuaWrapper::ResetErrorCounter() {
    ReportRepeatedErrors();
    gScriptErrorCount = 0;
}
uint32_t LuaWrapper::GetErrorCount() { return gScriptErrorCount; }
void LuaWrapper::IncErrorCounter() { ++gScriptErrorCount; }

// ---- Arguments and results ----

void LuaWrapper::PushBool(bool value) {
    if (state) lua_pushboolean(state, value);
}

void LuaWrapper::PushInt(int32_t value) {
    if (state) lua_pushnumber(state, ScriptPushValue(value));
}

void LuaWrapper::PushUInt(uint32_t value) {
    if (!state) return;
    // The value is converted as a signed integer; the top bit stands for 2^32.
    double d = static_cast<int32_t>(value);
    if (value & 0x80000000u) d += 4294967296.0;
    lua_pushnumber(state, ScriptPushValue(d));
}

void LuaWrapper::PushString(const char* text) {
    if (!state) return;
    if (text)
        lua_pushstring(state, text);
    else
        lua_pushnil(state);
}

void LuaWrapper::PushObject(LuaBaseClass* object) {
    if (!state) return;
    if (!object) {
        lua_pushnil(state);
        return;
    }
    PushUserType(object, object->GetScriptClassName());
}

void LuaWrapper::PushUserType(void* object, const char* typeName) { PushUserTypeAs(object, typeName, false); }

void LuaWrapper::PushCollectedUserType(void* object, const char* typeName) { PushUserTypeAs(object, typeName, true); }

void LuaWrapper::PushUserTypeAs(void* object, const char* typeName, bool collected) {
    if (!state) return;
    lua_State* L = state;
    if (!object || !typeName) {
        lua_pushnil(L);
        return;
    }
    luaL_getmetatable(L, typeName);
    const bool known = !lua_isnil(L, -1);
    lua_pop(L, 1);
    if (!known) {
        // tolua++ would push nothing for an unknown type and unbalance the caller's stack.
        const NameString name(typeName);
        bool warned = false;
        for (const NameString& n : unknownTypes) warned = warned || n == name;
        if (!warned) {
            unknownTypes.Add(name);
            gLog.Warning(LogCategory::Script, "LuaWrapper::PushUserType - unknown type %s, pushed as nil", typeName);
        }
        lua_pushnil(L);
        return;
    }
    if (collected)
        tolua_pushusertype_and_takeownership(L, object, typeName);
    else
        tolua_pushusertype(L, object, typeName);
}

namespace {
// A global's type that no binding package declared becomes a user type without
// methods, so the global still holds its object (scripts can pass it on and compare it).
int DeclareUserType(lua_State* L) {
    const char* type = static_cast<const char*>(lua_touserdata(L, 1));
    tolua_open(L);
    tolua_usertype(L, type);
    return 0;
}
}  // namespace

void LuaWrapper::SetGlobalObject(void* object, const char* typeName, const char* globalName) {
    if (!state || !globalName) return;
    if (object && typeName) {
        luaL_getmetatable(state, typeName);
        const bool known = !lua_isnil(state, -1);
        lua_pop(state, 1);
        if (!known) lua_cpcall(state, &DeclareUserType, const_cast<char*>(typeName));
    }
    lua_pushstring(state, globalName);
    PushUserType(object, typeName);
    lua_rawset(state, LUA_GLOBALSINDEX);
}

void LuaWrapper::Pop(int count) {
    if (!state || count <= 0) return;
    lua_pop(state, std::min(count, lua_gettop(state)));
}

bool LuaWrapper::ToBool(int index) const { return state && lua_toboolean(state, index); }

const Dynarray<float>& LuaWrapper::GetFloatArray(int index) {
    floatArray.Clear();
    if (!state || !lua_istable(state, index)) return floatArray;
    lua_State* L = state;
    const int table = index > 0 || index <= LUA_REGISTRYINDEX ? index : lua_gettop(L) + index + 1;
    floatArray.Reserve(static_cast<uint32_t>(std::min(lua_objlen(L, table), kFloatArrayReserveLimit)));
    for (int i = 1; i > 0; ++i) {
        lua_rawgeti(L, table, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            break;
        }
        const float value = ScriptNumber(lua_tonumber(L, -1)).Float();
        lua_pop(L, 1);
        if (floatArray.Add(value) == kDynarrayNone) break;
    }
    return floatArray;
}

// ---- Natives behind gLua's script functions ----

void LuaWrapper::ReportMemoryStats() {
    if (gSmallObjectPools) gSmallObjectPools->LogStatistics();
}

void LuaWrapper::ResetReplication() {
    if (state && resetReplicationHook) resetReplicationHook(state);
}

void LuaWrapper::ProfilerCommand(const char*) {}
