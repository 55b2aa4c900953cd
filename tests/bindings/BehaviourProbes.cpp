#include "BehaviourProbes.h"

#include <lua.hpp>

#include "bindings/frame/LuaBindingSupport.h"
#include "scene/mesh/MeshEntity.h"
#include "ui/elements/UITextBase.h"

namespace {

template <class T>
T* Arg(lua_State* L, const char* type) {
    return static_cast<T*>(LuaBindingReader{type}(L, 1, nullptr));
}

int MeshColor(lua_State* L) {
    auto* mesh = Arg<MeshEntity>(L, "MeshEntity");
    if (!mesh) return 0;
    for (uint8_t c : mesh->localColor.c) lua_pushnumber(L, c);
    lua_pushnumber(L, mesh->localColor.intensity);
    return 5;
}

int MeshReplication(lua_State* L) {
    auto* mesh = Arg<MeshEntity>(L, "MeshEntity");
    if (!mesh) return 0;
    lua_pushnumber(L, mesh->animationProperty);
    lua_pushnumber(L, mesh->progressProperty);
    return 2;
}

int TextShadow(lua_State* L) {
    auto* text = Arg<UITextBase>(L, "UITextBase");
    if (!text) return 0;
    const UITextRenderHalf& r = text->TextRender();
    for (float v : {r.shadowOffset.x, r.shadowOffset.y, r.shadowOffset.z, r.shadowOffset.w}) lua_pushnumber(L, v);
    lua_pushboolean(L, r.shadowEnabled);
    return 5;
}

}  // namespace

void OpenBehaviourProbes(lua_State* L) {
    static const luaL_Reg kFunctions[] = {{"MeshColor", &MeshColor},
                                          {"MeshReplication", &MeshReplication},
                                          {"TextShadow", &TextShadow},
                                          {nullptr, nullptr}};
    luaL_register(L, "Peek", kFunctions);
    lua_pop(L, 1);
}
