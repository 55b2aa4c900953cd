#include "engine/entity/ReplicationBridge.h"

#include <cstring>
#include <lua.hpp>
#include <tolua++.h>

#include "core/Log.h"
#include "engine/services/MultiplayerServices.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/LuaEntityPointer.h"
#include "engine/script/LuaNumber.h"
#include "engine/script/LuaWrapper.h"
#include "engine/script/MPMethodCall.h"

// The natives here (the decorator and the proxy) may raise script errors, which unwind
// with longjmp: none keeps a C++ object with a destructor alive in its frame.
namespace {

constexpr const char* kRegistryKey = "REP_METHODS__";
uint32_t gNextMethodId = 0;

enum Upvalue { UP_DIRECTION = 1, UP_RELIABLE, UP_CLASS, UP_FUNCTION, UP_IS_PLAYER, UP_ID, UP_NAME, UP_FLAGS };

bool IsUserType(lua_State* L, int index, const char* type) {
    tolua_Error error;
    return lua_isuserdata(L, index) && tolua_isusertype(L, index, type, 0, &error) != 0;
}

// The user type's name, valid while the value stays on the stack (tolua keeps the
// names anchored in the registry).
const char* UserTypeName(lua_State* L, int index) {
    const char* name = tolua_typename(L, index);
    lua_pop(L, 1);
    return name ? name : "";
}

// Appends the script value at index to the call. False (with the conversion's error
// line, if it has one) when it cannot be sent.
bool AddEntity(lua_State* L, MPMethodCall& call, Entity* e, bool* fits) {
    if (!e) return *fits = call.AddEntityArg(kNoMultiplayerId), true;
    if (e->GetMultiplayerRole() == MPROLE_NONE) {
        gLog.Error(LogCategory::Script, "ToMPMethodCallArg - Cannot replicate non-multiplayer entity [name:%s] [luaclass:%s]",
                   e->GetName(), e->GetScriptClassName());
        return false;
    }
    if (e->GetMultiplayerId() == kNoMultiplayerId) {
        gLog.Error(LogCategory::Script,
                   "ToMPMethodCallArg -  Cannot replicate multiplayer entity without assigned multiplayer Id [name:%s] "
                   "[luaclass:%s]",
                   e->GetName(), e->GetScriptClassName());
        return false;
    }
    *fits = call.AddEntityArg(e->GetMultiplayerId());
    return true;
}

// 0 converted, 1 failed with its own line, 2 does not fit the record.
int AddArgument(lua_State* L, MPMethodCall& call, int index) {
    bool fits = true;
    switch (lua_type(L, index)) {
        case LUA_TNIL: fits = call.AddNilArg(); break;
        case LUA_TBOOLEAN: fits = call.AddBoolArg(lua_toboolean(L, index)); break;
        case LUA_TNUMBER: fits = call.AddNumberArg(static_cast<float>(lua_tonumber(L, index))); break;
        case LUA_TSTRING: {
            size_t length = 0;
            const char* text = lua_tolstring(L, index, &length);
            fits = length <= MPMethodCall::kMaxStringLength && call.AddStringArg(text, uint32_t(length));
            break;
        }
        case LUA_TUSERDATA:
            if (IsUserType(L, index, "Entity")) {
                if (!AddEntity(L, call, static_cast<Entity*>(tolua_tousertype(L, index, nullptr)), &fits)) return 1;
            } else if (IsUserType(L, index, "LuaEntityPointer")) {
                auto* p = static_cast<LuaEntityPointer*>(tolua_tousertype(L, index, nullptr));
                if (!AddEntity(L, call, p ? p->Get() : nullptr, &fits)) return 1;
            } else if (IsUserType(L, index, "Vector") || IsUserType(L, index, "const Vector")) {
                const auto* v = static_cast<const Vector*>(tolua_tousertype(L, index, nullptr));
                fits = call.AddVectorArg(v ? *v : Vector());
            } else {
                gLog.Error(LogCategory::Script, "ToMPMethodCallArg - Replication argument is not an entity [type:%s]",
                           UserTypeName(L, index));
                return 1;
            }
            break;
        default:
            gLog.Error(LogCategory::Script, "ToMPMethodCallArg - Replication argument is of unsupported type [type:%s]",
                       luaL_typename(L, index));
            return 1;
    }
    return fits ? 0 : 2;
}

int ReplicatedProxy(lua_State* L) {
    const int n = lua_gettop(L);
    const bool toServer = lua_toboolean(L, lua_upvalueindex(UP_DIRECTION));
    const bool reliable = lua_toboolean(L, lua_upvalueindex(UP_RELIABLE));
    const char* className = lua_tostring(L, lua_upvalueindex(UP_CLASS));
    const bool playerMethod = lua_toboolean(L, lua_upvalueindex(UP_IS_PLAYER));
    const int id = int(lua_tonumber(L, lua_upvalueindex(UP_ID)));
    const char* methodName = lua_tostring(L, lua_upvalueindex(UP_NAME));
    const bool quiet = uint32_t(lua_tonumber(L, lua_upvalueindex(UP_FLAGS))) & kReplicatedMethodQuiet;

    Entity* self = n >= 1 && IsUserType(L, 1, "Entity") ? static_cast<Entity*>(tolua_tousertype(L, 1, nullptr)) : nullptr;
    Player* owner = nullptr;
    if (self) owner = self->GetPlayerOwner();
    else if (n >= 1 && IsUserType(L, 1, "Player")) owner = static_cast<Player*>(tolua_tousertype(L, 1, nullptr));
    if (!owner) {
        gLog.Error(LogCategory::Script,
                   "LuaReplicateMethodDecorator - calling replicated method without player owner! [function:%s:%s %d]",
                   className, methodName, id);
        return 0;
    }

    MultiplayerServices& mp = GetMultiplayerServices();
    // Without a multiplayer engine this is no multiplayer game: the call runs here.
    if (toServer && (self ? self->GetMultiplayerRole() == MPROLE_AUTHORITY : !mp.IsMultiplayerGame() || mp.IsServer())) {
        if (!quiet) gLog.Print(LogSeverity::ScriptConsole, LogCategory::Multiplayer, "Calling replicated method %s:%s locally", className, methodName);
        lua_pushvalue(L, lua_upvalueindex(UP_FUNCTION));
        lua_insert(L, 1);
        lua_call(L, n, LUA_MULTRET);
        return lua_gettop(L);
    }

    MPMethodCall call;
    call.methodId = uint8_t(id);
    for (int i = playerMethod ? 2 : 1; i <= n; ++i) {
        const int result = AddArgument(L, call, i);
        if (result == 0) continue;
        gLog.Error(LogCategory::Script,
                   "LuaReplicateMethodDecorator - Error while retriving argument [function:%s:%s %d] [arg:%d] [type:%s]",
                   className, methodName, id, i - 1, luaL_typename(L, i));
        return 0;
    }
    if (!quiet) gLog.Print(LogSeverity::ScriptConsole, LogCategory::Multiplayer, "Calling replicated method %s:%s remotely", className, methodName);
    mp.ReplicateMethodCall(owner, call, reliable);
    return 0;
}

int ReplicateMethod(lua_State* L) {
    const uint32_t flags = ScriptFloatTo<uint32_t>(static_cast<float>(luaL_optnumber(L, 5, 0)));
    lua_pushvalue(L, 1);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_isstring(L, -1)) return luaL_error(L, "First argument to ReplicateMethod is excepted to be a class table.");
    const int classIndex = lua_gettop(L);
    const char* className = lua_tostring(L, classIndex);
    const char* methodName = luaL_checkstring(L, 2);
    lua_pushvalue(L, 2);
    lua_gettable(L, 1);
    const int functionIndex = lua_gettop(L);
    if (!lua_isfunction(L, functionIndex))
        return luaL_error(L, "Field %s of class %s is not a function! It is a %s.", methodName, className,
                          luaL_typename(L, functionIndex));
    if (gNextMethodId >= kMaxReplicatedMethods)
        return luaL_error(L, "ReplicateMethod: more than 256 replicated methods");
    const uint32_t id = gNextMethodId;
    gLog.Print(LogSeverity::Progress, LogCategory::Script, "Decorating replicated method %s of class %s with proxy method id %d",
               methodName, className, int(id));
    const bool isPlayer = std::strcmp(className, "Player") == 0;

    lua_getfield(L, LUA_REGISTRYINDEX, kRegistryKey);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        lua_newtable(L);
        lua_pushvalue(L, -1);
        lua_setfield(L, LUA_REGISTRYINDEX, kRegistryKey);
    }
    lua_createtable(L, 3, 0);
    lua_pushvalue(L, functionIndex);
    lua_rawseti(L, -2, 1);
    lua_pushboolean(L, isPlayer);
    lua_rawseti(L, -2, 2);
    lua_pushnumber(L, flags);
    lua_rawseti(L, -2, 3);
    lua_rawseti(L, -2, int(id));
    lua_pop(L, 1);

    lua_pushvalue(L, 2);
    lua_pushboolean(L, lua_toboolean(L, 3));
    lua_pushboolean(L, lua_toboolean(L, 4));
    lua_pushvalue(L, classIndex);
    lua_pushvalue(L, functionIndex);
    lua_pushboolean(L, isPlayer);
    lua_pushnumber(L, id);
    lua_pushvalue(L, 2);
    lua_pushnumber(L, flags);
    lua_pushcclosure(L, ReplicatedProxy, 8);
    lua_rawset(L, 1);
    ++gNextMethodId;
    return 0;
}

}  // namespace

void ResetReplication(lua_State* L) {
    if (!L) return;
    const struct {
        const char* name;
        bool value;
    } globals[] = {{"toServer", true}, {"toClient", false}, {"reliable", true}, {"unreliable", false}};
    for (const auto& g : globals) {
        lua_pushboolean(L, g.value);
        lua_setfield(L, LUA_GLOBALSINDEX, g.name);
    }
    lua_pushcfunction(L, ReplicateMethod);
    lua_setfield(L, LUA_GLOBALSINDEX, "ReplicateMethod");
    lua_newtable(L);
    lua_setfield(L, LUA_REGISTRYINDEX, kRegistryKey);
    gNextMethodId = 0;
}

namespace {
// Pushes argument i of a received call; false (nil pushed, one line) for an entity that is
// not here or an unknown type.
bool PushCallArgument(lua_State* L, const MPMethodCall& call, uint32_t i) {
    const uint8_t type = call.GetArgType(i);
    switch (type) {
        case MPARG_NIL: lua_pushnil(L); break;
        case MPARG_BOOL: lua_pushboolean(L, call.GetBoolArg(i)); break;
        case MPARG_NUMBER: lua_pushnumber(L, call.GetNumberArg(i)); break;
        case MPARG_STRING: lua_pushlstring(L, call.GetStringArgData(i), call.GetStringArgLength(i)); break;
        case MPARG_VECTOR:
            // Owned by the script collector; no object is made while no package has
            // registered the type (it would be pushed as nil and lost).
            luaL_getmetatable(L, "Vector");
            if (lua_isnil(L, -1)) break;  // the nil stands for the argument
            lua_pop(L, 1);
            gLua.PushCollectedUserType(new Vector(call.GetVectorArg(i)), "Vector");
            break;
        case MPARG_ENTITY: {
            const uint16_t mid = call.GetEntityArg(i);
            Entity* e = gEntityManager ? gEntityManager->GetEntityByMID(mid) : nullptr;
            if (e) {
                gLua.PushObject(e);
            } else {
                lua_pushnil(L);
                gLog.Warning(LogCategory::Script,
                             "Tried to set entity pointer, but target entity could not be found [id:%d]. Setting NULL "
                             "instead.",
                             int(mid));
                return false;
            }
            break;
        }
        default:
            lua_pushnil(L);
            gLog.Error(LogCategory::Script, "PushMPMethodCallArg - Unknown type [type:%d]", int(type));
            return false;
    }
    return true;
}
}  // namespace

void CallReplicatedMethod(Player* sender, const MPMethodCall& call) {
    lua_State* L = gLua.GetState();
    if (!L) return;
    const int top = lua_gettop(L);
    const int id = call.methodId;
    lua_getfield(L, LUA_REGISTRYINDEX, kRegistryKey);
    if (lua_istable(L, -1)) lua_rawgeti(L, -1, id);
    else lua_pushnil(L);
    if (!lua_istable(L, -1)) {
        gLog.Warning(LogCategory::Multiplayer,
                     "Tried to call replicated method with id %d, but there is no methodinfo for this id (possibly "
                     "malicious attack)",
                     id);
        lua_settop(L, top);
        return;
    }
    const int entry = lua_gettop(L);
    lua_rawgeti(L, entry, 2);
    const bool isPlayer = lua_toboolean(L, -1);
    lua_rawgeti(L, entry, 3);
    const uint32_t flags = uint32_t(lua_tonumber(L, -1));
    lua_pop(L, 2);
    lua_rawgeti(L, entry, 1);
    const int function = lua_gettop(L);
    if (isPlayer) gLua.PushUserType(sender, "Player");

    // A count above the record's slots fails at the first slot past them.
    const uint32_t count = call.argCount < MPMethodCall::kMaxArgs + 1 ? call.argCount : MPMethodCall::kMaxArgs + 1;
    bool failed = false;
    for (uint32_t i = 0; i < count; ++i) {
        const bool ok = PushCallArgument(L, call, i);
        if (!ok) {
            gLog.Error(LogCategory::Script, "LuaWrapper::CallReplicatedMethod - error while pushing argument [function:%d] [arg:%d]",
                       id, int(i + 1));
            failed = true;
        }
    }
    if (failed) {
        lua_settop(L, top);
        return;
    }
    if (!(flags & kReplicatedMethodQuiet))
        gLog.Print(LogSeverity::ScriptConsole, LogCategory::Multiplayer, "Calling received replicated method %d remotely %u", id, flags);
    gLua.ProtectedCall("CallReplicatedMethod", lua_gettop(L) - function, 0);
    lua_settop(L, top);
}

void SetEntityReplicatedProperty(Entity* entity) {
    lua_State* L = gLua.GetState();
    if (!L || !entity) return;
    const int top = lua_gettop(L);
    gLua.PushObject(entity);
    if (lua_isnil(L, -1)) {
        gLog.Error(LogCategory::Script, "LuaWrapper::SetEntityReplicatedProperty couldn't push entity on lua stack class:%s",
                   entity->GetScriptClassName());
        lua_settop(L, top);
        return;
    }
    lua_getfield(L, -1, "OnPropertiesReplicated");
    if (lua_isfunction(L, -1)) {
        lua_pushvalue(L, -2);
        gLua.ProtectedCall("SetEntityReplicatedProperty - callback", 1, 0);
    } else {
        gLog.Print(LogSeverity::Information, LogCategory::Script,
                   "LuaWrapper::EntityReplicatedCallback - No replication callback for entity %s of class %s",
                   entity->GetName(), entity->GetScriptClassName());
    }
    lua_settop(L, top);
}
