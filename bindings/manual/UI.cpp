// The UI package's hand-written bindings and helpers (UI.h): script ownership of
// elements, the tree hand-over, and the rows that compose natives.
#include "bindings/manual/UI.h"

#include <unordered_map>
#include <vector>

#include "bindings/EntityBindings.h"
#include "core/rtti/SafePointer.h"
#include "engine/script/LuaHandleGuards.h"
#include "game/Game.h"
#include "scene/entities/InGameUIEntity.h"
#include "ui/elements/UIAction.h"

namespace {

// An element the script made with new_local/.call. The node is one of the element's
// safe pointers, so the element's main-side teardown (however it comes) unlinks it, and
// the node then leaves the table: a later element at the same address is not the
// script's.
class AdoptedElement : public SafePointerListNode {
public:
    explicit AdoptedElement(UIElement* e) : element(e) { Relink(e); }
    void OnTargetDestroyed() override;

    UIElement* element;
    bool owned = true;      // false while in a tree
    bool collected = false;  // its handle went: released at the host's next collection step
};

std::unordered_map<const UIElement*, AdoptedElement*>& Adopted() {
    static auto* table = new std::unordered_map<const UIElement*, AdoptedElement*>();
    return *table;
}

void AdoptedElement::OnTargetDestroyed() {
    SafePointerListNode::OnTargetDestroyed();
    Adopted().erase(element);
    delete this;
}

AdoptedElement* FindAdopted(const UIElement* e) {
    if (!e) return nullptr;
    auto it = Adopted().find(e);
    return it == Adopted().end() ? nullptr : it->second;
}

// self is read through the class table the registered function carries (an element of
// exactly UIElement by its metatable alone); the child by name.
UIElement* ReadSelf(lua_State* L) { return static_cast<UIElement*>(LuaBindingReader{"UIElement", true}(L, 1, nullptr)); }

UIElement* ReadElement(lua_State* L, int index) {
    return static_cast<UIElement*>(LuaBindingReader{"UIElement"}(L, index, nullptr));
}

}  // namespace

void LuaUIAdoptElement(UIElement* element) {
    if (!element || FindAdopted(element)) return;
    Adopted()[element] = new AdoptedElement(element);
}

bool LuaUIIsScriptOwned(const UIElement* element) {
    const AdoptedElement* a = FindAdopted(element);
    return a && a->owned;
}

uint32_t LuaUIAdoptedCount() { return uint32_t(Adopted().size()); }

// Releases the script-owned elements whose handles were collected. A release frees the
// element's subtree, so it never runs inside the collection itself: that may have started
// in the middle of a bound call still using one of those elements.
static void ReleaseCollectedElements() {
    std::vector<UIElement*> collected;
    for (const auto& [element, adopted] : Adopted())
        if (adopted->collected && adopted->owned) collected.push_back(adopted->element);
    for (UIElement* e : collected) {
        // An earlier release may have taken this one too.
        if (AdoptedElement* a = FindAdopted(e); a && a->collected && a->owned) e->Release();
    }
}

int LuaUIElementCollect(lua_State* L) {
    auto* e = static_cast<UIElement*>(LuaBindingRawObject(L));
    if (AdoptedElement* a = FindAdopted(e); a && a->owned) {
        a->collected = true;
        SetLuaDeferredWork(&ReleaseCollectedElements);
    }
    return 0;
}

void LuaUIHandOver(UIElement* element) {
    if (AdoptedElement* a = FindAdopted(element)) a->owned = false;
}

void TextInputSetCursorElement(UIUniTextInput* self, UIElement* element) {
    self->SetCursorElement(element);
    LuaUIHandOver(element);
}

void GameSetActiveUIScreen(Game* self, UIScreen* screen) {
    self->SetActiveUIScreen(screen);
    LuaUIHandOver(screen);
}

void GameSetPreFSEUIScreen(Game* self, UIScreen* screen) {
    self->SetPreFSEUIScreen(screen);
    LuaUIHandOver(screen);
}

void GameSetLoadingUIScreen(Game* self, UIScreen* screen) {
    self->SetLoadingUIScreen(screen);
    LuaUIHandOver(screen);
}

void InGameUISetHandedUIElement(InGameUIEntity* self, UIElement* element) {
    InGameUISetUIElement(self, element);
    if (self) LuaUIHandOver(element);
}

int LuaUINewElement(lua_State* L, UIElement* element, const char* type, bool local) {
    if (!local) {
        LuaBindingPushTyped<UIElement>(L, element, type);
        return 1;
    }
    LuaUIAdoptElement(element);
    LuaBindingPushObject(L, element, type);
    LuaBindingRegisterGc(L, -1);
    return 1;
}

int LuaUIAddChild(lua_State* L) {
    UIElement* self = ReadSelf(L);
    UIElement* child = ReadElement(L, 2);
    if (LuaBindingRejected(L, !self, "UIElement.AddChild")) return 0;
    self->AddChild(child);
    // In the tree now (a refused child stays where it was): the tree owns it.
    if (AdoptedElement* a = FindAdopted(child); a && child->GetParent() == self) a->owned = false;
    return 0;
}

// A script-made element the call took out of its tree (it was in one, now in none) is the
// script's again, collected with its handle at index.
static void HandBack(lua_State* L, int index, UIElement* element, bool wasInTree) {
    AdoptedElement* a = FindAdopted(element);
    if (a && wasInTree && !element->GetParent()) {
        a->owned = true;
        a->collected = false;
        LuaBindingRegisterGc(L, index);
    }
}

int LuaUIRemoveChild(lua_State* L) {
    UIElement* self = ReadSelf(L);
    UIElement* child = ReadElement(L, 2);
    if (LuaBindingRejected(L, !self, "UIElement.RemoveChild")) return 0;
    const bool wasChild = child && child->GetParent() == self;
    self->RemoveChild(child);
    HandBack(L, 2, child, wasChild);
    return 0;
}

int LuaUIMemoryGuardReportElement(lua_State* L) {
    UIElement* element = ReadElement(L, 2);
    if (LuaBindingRejected(L, false, "UIElement.UIMemoryGuardReportElement")) return 0;
    const bool inTree = element && element->GetParent();
    UIMemoryGuardReportElement(element);
    HandBack(L, 2, element, inTree);
    return 0;
}

int LuaUISetAtlasData(lua_State* L) {
    auto* self = static_cast<UIPictureAtlas*>(LuaBindingReader{"UIPictureAtlas"}(L, 1, nullptr));
    const uint32_t kind = ui_manual::Unsigned(L, 2, 0);
    const uint32_t first = ui_manual::Unsigned(L, 3, 0);
    const uint32_t count = ui_manual::Unsigned(L, 4, 0);
    if (LuaBindingRejected(L, !self, "UIPictureAtlas.SetAtlasData")) return 0;
    // Only a table of numbers reaches the native; anything else posts nothing.
    if (!lua_istable(L, 5)) return 0;
    // Read from the calling thread's stack: a coroutine's arguments are not on the host's.
    Dynarray<float> numbers;
    for (int i = 1; i > 0; ++i) {
        lua_rawgeti(L, 5, i);
        const bool end = lua_isnil(L, -1);
        const float value = end ? 0.0f : ScriptNumber(lua_tonumber(L, -1)).Float();
        lua_pop(L, 1);
        if (end || numbers.Add(value) == kDynarrayNone) break;
    }
    self->SetAtlasData(kind, first, count, numbers.Count() ? &numbers[0] : nullptr, numbers.Count());
    return 0;
}

int LuaUIPhysicalScreenResolution(lua_State* L) {
    const int first = lua_type(L, 1);
    const bool isStatic = first == LUA_TNONE || (first == LUA_TTABLE && lua_isnone(L, 2));
    if (!isStatic) {
        auto* self = static_cast<UIScreen*>(LuaBindingReader{"UIScreen"}(L, 1, nullptr));
        if (LuaBindingRejected(L, !self || !lua_isnone(L, 2), "UIScreen.GetPhysicalScreenResolution")) return 0;
    }
    LuaBindingPushOwned(L, Mtolua_new((Vector)(PhysicalScreenResolution())), "Vector");
    tolua_register_gc(L, lua_gettop(L));
    return 1;
}

StringReplacementContainer ReplacementContainerInstance() { return StringReplacementContainer(); }

const char* UIElementGetName(UIElement* self) { return self->GetName().CStr(); }

void UIElementBlockFocus(UIElement* self) { self->BlockFocus(UIFLAG_BLOCKFOCUS, false); }

void UIElementUnblockFocus(UIElement* self) { self->UnblockFocus(UIFLAG_BLOCKFOCUS, false); }

UIElement* UIElementFindElementByName(UIElement* self, const char* name) {
    return self->FindElementByName(NameString(name));
}

void UIElementSetExtraParam(UIElement* self, float x, float y, float z, float w) {
    self->SetExtraParamVector(Vector(x, y, z, w));
}

void UIElementDeleteAction(UIElement* self, uint32_t flags, uint32_t channel) {
    self->PostAddAction(new UIActionDelete(flags, channel));
}

void PictureSetSteamTexture(UIPicture* self, int32_t imageHandle, uint32_t index) {
    self->SetSteamTexture(index, imageHandle);
}

void PictureSetTexture(UIPicture* self, const char* name, uint32_t index) { self->SetTexture(name, index, 7); }

void PictureSetTextureTile(UIPicture* self, int32_t column, int32_t row, int32_t columns, int32_t rows) {
    self->SetTextureTile(float(column), float(row), float(columns), float(rows), Vector::ONE, Vector::ZERO4);
}

void PictureSetTextureTileVec(UIPicture* self, const Vector& tile) {
    self->SetTextureTile(tile.x, tile.y, tile.z, tile.w, Vector::ONE, Vector::ZERO4);
}

void PictureSetShader(UIPicture* self, const char* name, const char* options, int32_t channel, bool flushAfter) {
    self->SetShader(name, options, uint32_t(channel), flushAfter ? 1 : 0);
}

void PictureSetPixelShaderParam(UIPicture* self, float x, float y, float z, float w) {
    self->SetPixelShaderParam(Vector(x, y, z, w));
}

void TextBaseSetUnicodeText(UITextBase* self, const LuaUnicodeString& text) { self->SetText(text.GetUnicharPtr()); }

void TextBaseSetFont(UITextBase* self, const char* name, uint32_t size, bool pixelPerfect) {
    self->SetFont(name, size, pixelPerfect, 0);
}

void TextBaseSetShadowPosition(UITextBase* self, float x, float y, float z) {
    self->SetShadowPosition(Vector(x, y, z, 0));
}

void TextBaseSetShadowColor(UITextBase* self, float r, float g, float b, float a) {
    self->SetShadowColor(Vector(r, g, b, a));
}

void TextBaseSetLinearShadowColor(UITextBase* self, float r, float g, float b, float a) {
    self->SetLinearShadowColor(Vector(r, g, b, a));
}

void TextGetTextSize(UIText* self, const char* text, Vector& size) { size = self->GetTextSize(text); }

void TextGetLocalizedTextSize(UIText* self, const char* stringId, Vector& size) {
    size = self->GetLocalizedTextSize(stringId);
}

Vector PhysicalScreenResolution() {
    float width = 0, height = 0;
    GetPhysicalScreenResolution(&width, &height);
    return Vector(width, height, 0, 0);
}

Vector ScreenPhysicalResolution(UIScreen*) { return PhysicalScreenResolution(); }

uint32_t ScreenGetElementAt(UIScreen* self, const Vector& position, bool& flag, float& number) {
    const UIHitResult hit = self->GetElementAt(position);
    if (hit.id) {
        flag = hit.flags != 0;
        number = hit.distance;
    }
    return hit.id;
}

void ScreenEnableEntityTracking(UIScreen* self, UIElement* element, Entity* entity, uint32_t flags) {
    self->EnableEntityTracking(element, entity, flags, Vector::ZERO4, 0);
}

GameStringPartitioner* GameStringPartitionerInstance() { return Mtolua_new((GameStringPartitioner)()); }

UICreditsHelper* CreditsHelperInstance() { return Mtolua_new((UICreditsHelper)(UICreditsHelper())); }

void CreditsHelperTransferText(UICreditsHelper* self, UITextBase* element, Vector* size) {
    if (!element) return;
    const Vector measured = self->TransferText(element);
    if (size) *size = measured;
}
