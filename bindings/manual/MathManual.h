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
