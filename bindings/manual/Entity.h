#pragma once
// Hand-written bindings of the entity package, included by its generated unit
// (bindings/pkg/Entity.pkg), each replacing the generated one of the same name.
#include <lua.hpp>

#include "bindings/EntityBindings.h"
#include "bindings/frame/LuaBindingSupport.h"

// Rows that are one binding under two names: the second name registers the first's
// function.
#define TOLUA_DISABLE_tolua_Entity_Entity_ToString00
#define tolua_Entity_Entity_ToString00 tolua_Entity_Entity_GetName00
#define TOLUA_DISABLE_tolua_Entity_Entity_GetGlobalTargetingPoint00
#define tolua_Entity_Entity_GetGlobalTargetingPoint00 tolua_Entity_Entity_GetGlobalPosition00

// Every LOSResult a script holds is a ScriptLOSResult (LOSResult.Instance), and goes
// as one: its safe pointer leaves the entity's list.
template <>
inline void LuaBindingDestroy<LOSResult>(LOSResult* object) {
    LuaBindingDestroy(static_cast<ScriptLOSResult*>(object));
}

#define TOLUA_DISABLE_tolua_Entity_LOSResult_Instance00
static int tolua_Entity_LOSResult_Instance00(lua_State* L) {
    LuaBindingPushOwned(L, Mtolua_new((ScriptLOSResult)()), "LOSResult");
    LuaBindingRegisterGc(L, lua_gettop(L));
    return 1;
}

// LOSResult.Entity: the entity hit while it lives, nil once it is gone.
#define TOLUA_DISABLE_tolua_get_LOSResult_Entity_ptr
static int tolua_get_LOSResult_Entity_ptr(lua_State* L) {
    auto* self = static_cast<ScriptLOSResult*>(LuaBindingReader{"LOSResult"}(L, 1, nullptr));
    if (LuaBindingRejected(L, !self, "LOSResult.Entity")) return 0;
    LuaBindingPushTyped<Entity>(L, self->entity.Get(), "Entity");
    return 1;
}

#define TOLUA_DISABLE_tolua_set_LOSResult_Entity_ptr
static int tolua_set_LOSResult_Entity_ptr(lua_State* L) {
    auto* self = static_cast<ScriptLOSResult*>(LuaBindingReader{"LOSResult"}(L, 1, nullptr));
    auto* entity = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 2, nullptr));
    if (LuaBindingRejected(L, !self, "LOSResult.Entity")) return 0;
    self->Entity = entity;
    self->entity.Assign(entity);
    return 0;
}

// LOSResult.Point and .Normal: views into the result that keep it alive.
namespace entity_manual {

inline int ResultVector(lua_State* L, Vector LOSResult::*field, const char* name) {
    auto* self = static_cast<LOSResult*>(LuaBindingReader{"LOSResult"}(L, 1, nullptr));
    if (LuaBindingRejected(L, !self, name)) return 0;
    tolua_pushusertype(L, &(self->*field), "Vector");
    LuaBindingKeepOwner(L, -1, 1);
    return 1;
}

}  // namespace entity_manual

#define TOLUA_DISABLE_tolua_get_LOSResult_Point
static int tolua_get_LOSResult_Point(lua_State* L) {
    return entity_manual::ResultVector(L, &LOSResult::Point, "LOSResult.Point");
}

#define TOLUA_DISABLE_tolua_get_LOSResult_Normal
static int tolua_get_LOSResult_Normal(lua_State* L) {
    return entity_manual::ResultVector(L, &LOSResult::Normal, "LOSResult.Normal");
}

// SimpleGUID.ZERO: a fresh zero GUID each time, so a script's change to one never
// reaches the next.
#define TOLUA_DISABLE_tolua_get_SimpleGUID_ZERO
static int tolua_get_SimpleGUID_ZERO(lua_State* L) {
    static const SimpleGUID zero;
    LuaBindingPushCopy<SimpleGUID>(L, const_cast<SimpleGUID*>(&zero), "SimpleGUID");
    return 1;
}

// AnimationSoundSyncObject.Instance(owner): a new script-owned list of the owner. The
// script holds the maker's use; the animations started with it hold theirs, so the last
// of them (or the collector) frees it.
#define TOLUA_DISABLE_tolua_Entity_AnimationSoundSyncObject_Instance00
static int tolua_Entity_AnimationSoundSyncObject_Instance00(lua_State* L) {
    auto* owner = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 2, nullptr));
    if (LuaBindingRejected(L, false, "AnimationSoundSyncObject.Instance")) return 0;
    auto* sync = Mtolua_new((AnimationSoundSyncObject)());
    if (sync) {
        sync->SetOwner(owner);
        sync->SetDisposer(&LuaBindingDestroy<AnimationSoundSyncObject>);
    }
    LuaBindingPushOwned(L, sync, "AnimationSoundSyncObject");
    LuaBindingRegisterGc(L, lua_gettop(L));
    return 1;
}

// The collector of AnimationSoundSyncObject: gives back the script's use.
static int EntityBindingReleaseSyncObject(lua_State* L) {
    if (auto* sync = static_cast<AnimationSoundSyncObject*>(LuaBindingRawObject(L))) sync->ReleaseUse();
    return 0;
}

// AnimationParams.Id is unsigned to scripts, and read exactly: all bits set (the
// animation's own id) reads 4294967295, which a script compares ids with.
#define TOLUA_DISABLE_tolua_get_AnimationParams_unsigned_Id
static int tolua_get_AnimationParams_unsigned_Id(lua_State* L) {
    auto* self = static_cast<AnimationParams*>(LuaBindingReader{"AnimationParams"}(L, 1, nullptr));
    if (LuaBindingRejected(L, !self, "AnimationParams.Id")) return 0;
    lua_pushnumber(L, static_cast<lua_Number>(static_cast<uint32_t>(self->Id)));
    return 1;
}

// AnimationParams.SyncObject: the params keep the sync object's userdata reachable, so
// the collector cannot free it while an animation start may still read it.
#define TOLUA_DISABLE_tolua_set_AnimationParams_SyncObject_ptr
static int tolua_set_AnimationParams_SyncObject_ptr(lua_State* L) {
    auto* self = static_cast<AnimationParams*>(LuaBindingReader{"AnimationParams"}(L, 1, nullptr));
    auto* sync = static_cast<AnimationSoundSyncObject*>(LuaBindingReader{"AnimationSoundSyncObject"}(L, 2, nullptr));
    if (LuaBindingRejected(L, !self, "AnimationParams.SyncObject")) return 0;
    self->SyncObject = sync;
    if (sync) LuaBindingKeepOwner(L, 1, 2);
    return 0;
}

// Entity.SetLocalRotation and SetGlobalRotation: the rotation as a Quaternion, or as a
// Vector holding one's x, y, z and w (the form the rotation getters give).
namespace entity_manual {

inline int SetRotation(lua_State* L, void (*set)(Entity*, const Vector&), const char* name) {
    auto* self = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 1, nullptr));
    const auto* q = static_cast<const Quaternion*>(LuaBindingReader{"Quaternion"}(L, 2, nullptr));
    const auto* v = q ? nullptr : static_cast<const Vector*>(LuaBindingReader{"Vector"}(L, 2, nullptr));
    if (LuaBindingRejected(L, !self || (!q && !v), name)) return 0;
    set(self, q ? Vector(q->x, q->y, q->z, q->w) : *v);
    return 0;
}

}  // namespace entity_manual

#define TOLUA_DISABLE_tolua_Entity_Entity_SetLocalRotation00
static int tolua_Entity_Entity_SetLocalRotation00(lua_State* L) {
    return entity_manual::SetRotation(L, &EntitySetLocalRotation, "Entity.SetLocalRotation");
}

#define TOLUA_DISABLE_tolua_Entity_Entity_SetGlobalRotation00
static int tolua_Entity_Entity_SetGlobalRotation00(lua_State* L) {
    return entity_manual::SetRotation(L, &EntitySetGlobalRotation, "Entity.SetGlobalRotation");
}
