#pragma once
// Hand-written bindings of the maths package, included by its generated unit
// (bindings/pkg/Math.pkg), each replacing the generated one of the same name.
//
// Vector's numeric index: a component outside 0..3 reads as nil and is never written
// (the native's operator[] would answer w for any other index).
#include <lua.hpp>

#include "bindings/MathBindings.h"
#include "bindings/frame/LuaBindingSupport.h"
#include "core/math/Vector.h"
#include "engine/script/LuaHandleGuards.h"
#include "engine/script/LuaNumber.h"

namespace math_manual {

inline int ReadComponent(lua_State* L, const char* name) {
    const Vector* self = static_cast<const Vector*>(LuaBindingReader{"Vector"}(L, 1, nullptr));
    const int32_t index = ScriptNumber(lua_tonumber(L, 2));
    if (LuaBindingRejected(L, !self, name)) return 0;
    float value = 0;
    if (!VectorGetComponent(self, index, &value))
        lua_pushnil(L);
    else
        lua_pushnumber(L, ScriptPushValue(value));
    return 1;
}

}  // namespace math_manual

#define TOLUA_DISABLE_tolua_Math_Vector__geti00
static int tolua_Math_Vector__geti00(lua_State* L) { return math_manual::ReadComponent(L, "Vector..geti"); }

#define TOLUA_DISABLE_tolua_Math_Vector__geti01
static int tolua_Math_Vector__geti01(lua_State* L) {
    // The tested form: a Vector (or const Vector) and one number; anything else goes to
    // the untested one, as the generated overload would.
    tolua_Error error;
    if (!tolua_isusertype(L, 1, "const Vector", 0, &error) || !tolua_isnumber(L, 2, 0, &error) ||
        !tolua_isnoobj(L, 3, &error))
        return tolua_Math_Vector__geti00(L);
    return math_manual::ReadComponent(L, "Vector..geti");
}

#define TOLUA_DISABLE_tolua_Math_Vector__seti00
static int tolua_Math_Vector__seti00(lua_State* L) {
    Vector* self = static_cast<Vector*>(LuaBindingReader{"Vector"}(L, 1, nullptr));
    const int32_t index = ScriptNumber(lua_tonumber(L, 2));
    const float value = ScriptNumber(lua_tonumber(L, 3)).Float();
    if (LuaBindingRejected(L, !self, "Vector..seti")) return 0;
    VectorSetComponent(self, index, value);
    return 0;
}

// Matrix.v: row i (0..3) as a Vector that points into the matrix and keeps it alive
// while the row lives; a row outside 0..3 reads as nil and is never written. Assigning
// a Vector to a row copies it.
#include "core/math/Matrix.h"

namespace math_manual {

// The object of the array proxy at position 1, an instance of the script class className,
// with its userdata pushed on the stack (nil when it has none). tolua++ keeps only the
// object's address in the proxy (".self"); the userdata is the one its class's handle
// cache holds for that address. Null for a dead or deleted object.
inline void* ArrayOwner(lua_State* L, const char* className) {
    lua_pushliteral(L, ".self");
    lua_rawget(L, 1);
    void* address = lua_touserdata(L, -1);
    lua_pop(L, 1);
    luaL_getmetatable(L, className);
    lua_pushliteral(L, "tolua_ubox");
    lua_rawget(L, -2);
    lua_remove(L, -2);
    if (!address || !lua_istable(L, -1)) {
        lua_pop(L, 1);
        lua_pushnil(L);
        return nullptr;
    }
    lua_pushlightuserdata(L, address);
    lua_rawget(L, -2);
    lua_remove(L, -2);
    return LuaBindingReader{className}(L, lua_gettop(L), nullptr);
}

}  // namespace math_manual

#define TOLUA_DISABLE_tolua_get_Math_Matrix_v
static int tolua_get_Math_Matrix_v(lua_State* L) {
    Matrix* self = static_cast<Matrix*>(math_manual::ArrayOwner(L, "Matrix"));  // pushes the owner
    const int owner = lua_gettop(L);
    if (LuaBindingRejected(L, !self, "Matrix.v")) return 0;
    Vector* row = MatrixRow(self, ScriptNumber(lua_tonumber(L, 2)));
    if (!row) {
        lua_pushnil(L);
        return 1;
    }
    tolua_pushusertype(L, row, "Vector");
    LuaBindingKeepOwner(L, -1, owner);
    return 1;
}

#define TOLUA_DISABLE_tolua_set_Math_Matrix_v
static int tolua_set_Math_Matrix_v(lua_State* L) {
    Matrix* self = static_cast<Matrix*>(math_manual::ArrayOwner(L, "Matrix"));
    const Vector* value = static_cast<const Vector*>(LuaBindingReader{"Vector"}(L, 3, nullptr));
    if (LuaBindingRejected(L, !self || !value, "Matrix.v")) return 0;
    if (Vector* row = MatrixRow(self, ScriptNumber(lua_tonumber(L, 2)))) *row = *value;
    return 0;
}

// OBBox4.Center and OBBox4.Extent[i] (0..2): views into the box that keep it alive; an
// axis outside 0..2 reads as nil and is never written.
#include "core/math/BoundingBox4.h"


#define TOLUA_DISABLE_tolua_get_OBBox4_Center
static int tolua_get_OBBox4_Center(lua_State* L) {
    OBBox4* self = static_cast<OBBox4*>(LuaBindingReader{"OBBox4"}(L, 1, nullptr));
    if (LuaBindingRejected(L, !self, "OBBox4.Center")) return 0;
    tolua_pushusertype(L, &self->center, "Vector");
    LuaBindingKeepOwner(L, -1, 1);
    return 1;
}

#define TOLUA_DISABLE_tolua_get_Math_OBBox4_Extent
static int tolua_get_Math_OBBox4_Extent(lua_State* L) {
    OBBox4* self = static_cast<OBBox4*>(math_manual::ArrayOwner(L, "OBBox4"));
    const int owner = lua_gettop(L);
    if (LuaBindingRejected(L, !self, "OBBox4.Extent")) return 0;
    Vector* extent = OrientedBoxExtent(self, ScriptNumber(lua_tonumber(L, 2)));
    if (!extent) {
        lua_pushnil(L);
        return 1;
    }
    tolua_pushusertype(L, extent, "Vector");
    LuaBindingKeepOwner(L, -1, owner);
    return 1;
}

#define TOLUA_DISABLE_tolua_set_Math_OBBox4_Extent
static int tolua_set_Math_OBBox4_Extent(lua_State* L) {
    OBBox4* self = static_cast<OBBox4*>(math_manual::ArrayOwner(L, "OBBox4"));
    const Vector* value = static_cast<const Vector*>(LuaBindingReader{"Vector"}(L, 3, nullptr));
    if (LuaBindingRejected(L, !self || !value, "OBBox4.Extent")) return 0;
    OrientedBoxSetExtent(self, ScriptNumber(lua_tonumber(L, 2)), *value);
    return 0;
}
