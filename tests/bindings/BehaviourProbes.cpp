#include "BehaviourProbes.h"

#include <utility>

#include <lua.hpp>

#include <cstring>

#include "bindings/frame/LuaBindingSupport.h"
#include "scene/mesh/MeshEntity.h"
#include "ui/elements/UIBlur.h"
#include "ui/elements/UIPicture.h"
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

int Push(lua_State* L, const Vector& v) {
    for (float c : {v.x, v.y, v.z, v.w}) lua_pushnumber(L, c);
    return 4;
}

int Push(lua_State* L, uint32_t n) {
    lua_pushnumber(L, n);
    return 1;
}

// A named field of a table of fields; nothing for an unknown name.
template <class Half, size_t N>
int Field(lua_State* L, const Half& half, const std::pair<const char*, int (*)(lua_State*, const Half&)> (&fields)[N]) {
    const char* name = lua_tostring(L, 2);
    for (const auto& [field, push] : fields)
        if (name && std::strcmp(name, field) == 0) return push(L, half);
    return 0;
}

using ElementField = std::pair<const char*, int (*)(lua_State*, const UIElementRenderHalf&)>;
const ElementField kElementFields[] = {
    {"position", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.position); }},
    {"anchor", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.anchor); }},
    {"rotation", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.rotation); }},
    {"scale", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.scale); }},
    {"size", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.size); }},
    {"color", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.color); }},
    {"extraParam", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.extraParam); }},
    {"windowAlignment", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.windowAlignment); }},
    {"blendMode", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.blendMode); }},
    {"colorMode", [](lua_State* L, const UIElementRenderHalf& r) { return Push(L, r.colorMode); }},
};

int UI(lua_State* L) {
    auto* e = Arg<UIElement>(L, "UIElement");
    return e ? Field(L, e->Render(), kElementFields) : 0;
}

using TextField = std::pair<const char*, int (*)(lua_State*, const UITextRenderHalf&)>;
const TextField kTextFields[] = {
    {"shadowOffset", [](lua_State* L, const UITextRenderHalf& r) { return Push(L, r.shadowOffset); }},
    {"shadowColor", [](lua_State* L, const UITextRenderHalf& r) { return Push(L, r.shadowColor); }},
    {"alignment",
     [](lua_State* L, const UITextRenderHalf& r) { return Push(L, r.horizontalAlignment) + Push(L, r.verticalAlignment); }},
    {"conversion", [](lua_State* L, const UITextRenderHalf& r) { return Push(L, uint32_t(r.conversion)); }},
};

int Text(lua_State* L) {
    auto* t = Arg<UITextBase>(L, "UITextBase");
    return t ? Field(L, t->TextRender(), kTextFields) : 0;
}

using PictureField = std::pair<const char*, int (*)(lua_State*, const UIPictureRenderHalf&)>;
const PictureField kPictureFields[] = {
    {"parameter", [](lua_State* L, const UIPictureRenderHalf& r) { return Push(L, r.parameter); }},
    {"mapping", [](lua_State* L, const UIPictureRenderHalf& r) { return Push(L, r.texScale) + Push(L, r.texOffset); }},
    {"channel", [](lua_State* L, const UIPictureRenderHalf& r) { return Push(L, uint32_t(r.channel)); }},
};

int Picture(lua_State* L) {
    auto* p = Arg<UIPicture>(L, "UIPicture");
    return p ? Field(L, p->PictureRender(), kPictureFields) : 0;
}

int Blur(lua_State* L) {
    auto* b = Arg<UIBlur>(L, "UIBlur");
    if (!b) return 0;
    lua_pushnumber(L, b->Sigma());
    lua_pushnumber(L, b->Iterations());
    lua_pushnumber(L, b->Saturation());
    return 3;
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
                                          {"UI", &UI},
                                          {"Text", &Text},
                                          {"Picture", &Picture},
                                          {"Blur", &Blur},
                                          {nullptr, nullptr}};
    luaL_register(L, "Peek", kFunctions);
    lua_pop(L, 1);
}
