// UIElementPreset: registration and applying a preset's values to an element.
#include "ui/recipes/UIElementPreset.h"

#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "ui/elements/UIElement.h"
#include "ui/recipes/UIElementRecipe.h"

namespace {

RTTIClass* gPresetClass = nullptr;

}  // namespace

const RTTIClass* UIElementPreset::RegisterClass() {
    if (gPresetClass) return gPresetClass;
    RTTIClass* c = CreateRegisteredClass(gPresetClass, "UIElementPreset", kRTTIRootBaseName,
                                         &CreateUIRecipeObject<UIElementPreset>);
    using P = UIElementPreset;
    AddDirect<NameString>(c, "Id", RTTI_OFFSETOF(P, id));
    AddDirect<bool>(c, "Hidden", RTTI_OFFSETOF(P, hidden));
    AddDirect<Vector>(c, "Position", RTTI_OFFSETOF(P, position), kUIRecipeVectorFlags);
    AddDirect<Vector>(c, "Size", RTTI_OFFSETOF(P, size), kUIRecipeVectorFlags);
    AddDirect<Vector>(c, "Scale", RTTI_OFFSETOF(P, scale), kUIRecipeVectorFlags);
    AddDirect<Vector>(c, "Rotation", RTTI_OFFSETOF(P, rotation), kUIRecipeVectorFlags);
    AddDirect<HDRColor>(c, "Color", RTTI_OFFSETOF(P, color));
    c->AddProperty(
        new RTTIDynarrayProperty<DynarraySafe<NameString>>("ActiveProperties", RTTI_OFFSETOF(P, activeProperties)));
    return c;
}

const RTTIClass* UIElementPreset::GetRTTIClass() const { return RegisterClass(); }

void UIElementPreset::ApplyToElement(UIElement* element, float t, uint32_t actionFlags, uint32_t channel,
                                     bool cancelFirst) const {
    ApplyValues({position, rotation, scale, size, color, hidden}, element, t, actionFlags, channel, cancelFirst);
}

void UIElementPreset::RestoreRecipeValues(const UIElementRecipe& r, UIElement* element, float t,
                                          uint32_t actionFlags, uint32_t channel, bool cancelFirst) const {
    ApplyValues({r.position, r.rotation, r.scale, r.size, r.color, r.hidden}, element, t, actionFlags, channel,
                cancelFirst);
}

void UIElementPreset::ApplyValues(const UIPresetValues& v, UIElement* e, float t, uint32_t actionFlags,
                                  uint32_t channel, bool cancelFirst) {
    if (!e) return;
    if (cancelFirst) e->RemoveAllActions(channel);
    const bool visibilityChanges = ((e->GetFlags() & UIFLAG_HIDDEN) != 0) != v.hidden;
    const Vector colour = v.color.ToLinearVector();
    if (t < kUIPresetInstantTime) {
        if (visibilityChanges) {
            if (v.hidden) e->RaiseFlag(UIFLAG_HIDDEN, false);
            else e->ClearFlag(UIFLAG_HIDDEN, false);
        }
        e->SetPosition(v.position);
        e->SetRotation(v.rotation);
        e->SetScale(v.scale);
        e->SetSize(v.size);
        e->SetLinearColor(colour);
        return;
    }
    const uint32_t f = actionFlags | kUIPresetActionFlag;
    if (visibilityChanges) {
        if (v.hidden) e->BlendOutAndHide(t, f, channel);
        else e->ShowAndBlendIn(t, f, channel);
    }
    e->Move(t, v.position, f, channel);
    e->Rotate(t, v.rotation, f, channel);
    e->Scale(t, v.scale, f, channel);
    e->ChangeSize(t, v.size, f, channel);
    e->ChangeLinearColor(t, colour, f, channel);
    if (!cancelFirst) e->Wait(t, actionFlags & ~kUIPresetActionFlag, channel);
}
