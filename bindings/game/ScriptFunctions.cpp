#include "bindings/game/ScriptFunctions.h"

#include <cstdint>
#include <vector>

#include "bindings/frame/LuaBindingSupport.h"
#include "core/Log.h"
#include "engine/entity/Entity.h"
#include "game/script/RotoShield.h"

namespace {

// The type tests run first and raise through longjmp, so nothing with a
// destructor may be alive in a function before they pass.
bool IsTable(lua_State* L, int index, tolua_Error* err) { return tolua_istable(L, index, 0, err) != 0; }
bool IsNumber(lua_State* L, int index, tolua_Error* err) { return tolua_isnumber(L, index, 0, err) != 0; }
bool IsEntity(lua_State* L, int index, tolua_Error* err) { return tolua_isusertype(L, index, "Entity", 0, err) != 0; }

float ReadFloat(lua_State* L, int index) { return ScriptNumber(lua_tonumber(L, index)).Float(); }

// Warns once per function when a table is longer than the search reads.
void WarnCut(const char* functionName, bool& warned, uint32_t limit) {
    if (warned) return;
    warned = true;
    gLog.Warning(LogCategory::Script, "%s - only the first %u entries of a table are read", functionName, limit);
}

// The array part of the table at index, from key 1 to the first nil, at most
// limit entries; true when more followed.
template <class Read>
bool ReadArray(lua_State* L, int index, uint32_t limit, Read read) {
    for (uint32_t key = 1;; ++key) {
        lua_rawgeti(L, index, static_cast<int>(key));
        const bool end = lua_isnil(L, -1);
        if (!end && key > limit) {
            lua_pop(L, 1);
            return true;
        }
        if (!end) read();
        lua_pop(L, 1);
        if (end) return false;
    }
}

std::vector<float> ReadBearings(lua_State* L, int index, const char* functionName) {
    static bool warned = false;
    std::vector<float> bearings;
    if (ReadArray(L, index, rotoshield::kMaxBearings, [&] { bearings.push_back(ReadFloat(L, -1)); })) {
        WarnCut(functionName, warned, rotoshield::kMaxBearings);
    }
    return bearings;
}

std::vector<int32_t> ReadMask(lua_State* L, int index, const char* functionName) {
    static bool warned = false;
    std::vector<int32_t> mask;
    if (ReadArray(L, index, rotoshield::kMaxSectors, [&] { mask.push_back(ScriptNumber(lua_tonumber(L, -1))); })) {
        WarnCut(functionName, warned, rotoshield::kMaxSectors);
    }
    return mask;
}

// Live "Entity" handles of the table at index; anything else in it takes no
// part.
std::vector<Entity*> ReadTargets(lua_State* L, int index, const char* functionName) {
    static bool warned = false;
    std::vector<Entity*> targets;
    const LuaBindingReader reader{"Entity"};
    if (ReadArray(L, index, rotoshield::kMaxBearings, [&] {
            // The reader takes a stack position, not one relative to the top.
            auto* target = static_cast<Entity*>(reader.Read(L, lua_gettop(L), nullptr));
            gLuaBindingDeadArgument = false;
            if (target) targets.push_back(target);
        })) {
        WarnCut(functionName, warned, rotoshield::kMaxBearings);
    }
    return targets;
}

std::vector<float> Bearings(const Entity& tower, const std::vector<Entity*>& targets) {
    const Vector from = tower.GetGlobalPosition();
    std::vector<float> bearings;
    bearings.reserve(targets.size());
    for (const Entity* target : targets) {
        const Vector to = target->GetGlobalPosition();
        bearings.push_back(rotoshield::Bearing(to.x - from.x, to.z - from.z));
    }
    return bearings;
}

// The tower at position 1; null (and the call does nothing) for a dead handle.
Entity* ReadTower(lua_State* L) {
    auto* tower = static_cast<Entity*>(LuaBindingReader{"Entity"}.Read(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    return tower;
}

int PushBest(lua_State* L, float angle, const std::vector<float>& bearings, const std::vector<int32_t>& mask,
             float sectorSize) {
    const float best = rotoshield::ComputeMaxCoverAngle(angle, bearings.data(), static_cast<uint32_t>(bearings.size()),
                                                        mask.data(), static_cast<uint32_t>(mask.size()), sectorSize);
    lua_pushnumber(L, ScriptPushValue(best));
    return 1;
}

}  // namespace

int zkr2_testTableSum(lua_State* L) {
    tolua_Error err;
    if (!IsTable(L, 1, &err)) {
        tolua_error(L, "#ferror in function 'zkr2_testTableSum'.", &err);
        return 0;
    }
    float sum = 0.0f;
    lua_pushnil(L);
    while (lua_next(L, 1) != 0) {
        if (lua_type(L, -1) == LUA_TNUMBER) sum += ReadFloat(L, -1);
        lua_pop(L, 1);
    }
    lua_pushnumber(L, ScriptPushValue(sum));
    return 1;
}

int zkr2_towerRotoShield_ComputeMaxCoverAngle(lua_State* L) {
    tolua_Error err;
    if (!IsNumber(L, 1, &err) || !IsTable(L, 2, &err) || !IsTable(L, 3, &err) || !IsNumber(L, 4, &err)) {
        tolua_error(L, "#ferror in function 'zkr2_towerRotoShield_ComputeMaxCoverAngle'.", &err);
        return 0;
    }
    const char* name = "zkr2_towerRotoShield_ComputeMaxCoverAngle";
    return PushBest(L, ReadFloat(L, 1), ReadBearings(L, 2, name), ReadMask(L, 3, name), ReadFloat(L, 4));
}

int zkr2_towerRotoShield_ComputeAttackAngles(lua_State* L) {
    tolua_Error err;
    if (!IsEntity(L, 1, &err) || !IsTable(L, 2, &err)) {
        tolua_error(L, "#ferror in function 'zkr2_towerRotoShield_ComputeAttackAngles'.", &err);
        return 0;
    }
    const Entity* tower = ReadTower(L);
    if (!tower) return 0;
    const std::vector<float> bearings = Bearings(*tower, ReadTargets(L, 2, "zkr2_towerRotoShield_ComputeAttackAngles"));
    lua_createtable(L, static_cast<int>(bearings.size()), 0);
    for (size_t i = 0; i < bearings.size(); ++i) {
        lua_pushnumber(L, ScriptPushValue(bearings[i]));
        lua_rawseti(L, -2, static_cast<int>(i));
    }
    return 1;
}

int zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(lua_State* L) {
    tolua_Error err;
    if (!IsEntity(L, 1, &err) || !IsTable(L, 2, &err) || !IsNumber(L, 3, &err) || !IsTable(L, 4, &err) ||
        !IsNumber(L, 5, &err)) {
        tolua_error(L,
                    "#ferror in function "
                    "'zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget'.",
                    &err);
        return 0;
    }
    const char* name = "zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget";
    const Entity* tower = ReadTower(L);
    if (!tower) return 0;
    return PushBest(L, ReadFloat(L, 3), Bearings(*tower, ReadTargets(L, 2, name)), ReadMask(L, 4, name),
                    ReadFloat(L, 5));
}

int RegisterGameScriptFunctions(lua_State* L) {
    const struct {
        const char* name;
        lua_CFunction function;
    } functions[] = {
        {"zkr2_testTableSum", &zkr2_testTableSum},
        {"zkr2_towerRotoShield_ComputeMaxCoverAngle", &zkr2_towerRotoShield_ComputeMaxCoverAngle},
        {"zkr2_towerRotoShield_ComputeAttackAngles", &zkr2_towerRotoShield_ComputeAttackAngles},
        {"zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget", &zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget},
    };
    for (const auto& f : functions) {
        lua_pushcclosure(L, f.function, 0);
        lua_setfield(L, LUA_GLOBALSINDEX, f.name);
    }
    return 0;
}
