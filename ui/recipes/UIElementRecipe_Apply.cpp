// UIElementRecipe: writing a recipe's values into a made element, and the base element.
#include "ui/elements/UIElement.h"
#include "ui/recipes/UIElementRecipe.h"

uint32_t UIElementRecipe::RaisedFlags() const {
    return (hidden ? UIFLAG_HIDDEN : 0u) | (transparent ? UIFLAG_TRANSPARENT : 0u) |
           (hierarchicalAnchor ? UIFLAG_HIERARCHICALANCHOR : 0u) |
           (focusableWithMouse ? UIFLAG_FOCUSABLEWITHMOUSE : 0u) | (clipChildren ? UIRENDERFLAG_CLIPCHILDREN : 0u);
}

uint32_t UIElementRecipe::ClearedFlags() const {
    constexpr uint32_t kAll = UIFLAG_HIDDEN | UIFLAG_TRANSPARENT | UIFLAG_HIERARCHICALANCHOR |
                              UIFLAG_FOCUSABLEWITHMOUSE | UIRENDERFLAG_CLIPCHILDREN;
    return kAll & ~RaisedFlags();
}

void UIElementRecipe::Apply(UIElement* e) const {
    e->SetName(name.CStr());
    e->SetPosition(position);
    e->SetRotation(rotation);
    e->SetAnchor(anchor);
    e->SetSize(size);
    e->SetSelectionFrame(selectionFrame);
    e->SetScale(scale);
    e->SetOutline(outline);
    // One op raises the set flags, one clears the others.
    e->RaiseFlag(RaisedFlags(), false);
    e->ClearFlag(ClearedFlags(), false);
    e->SetColorMode(colorMode);
    e->SetLinearColor(color.ToLinearVector());
    e->SetBlendMode(blendMode);
    e->SetWindowAlignment(aspectAwareness);
    e->SetAspectScaling(aspectScaling);
    // An element draws from its anchor to anchor + size: "Center" puts its middle on its
    // position, so the anchor is minus half the size.
    if (anchorBy == UIRECIPE_ANCHOR_CENTER) e->SetAnchor(size * -0.5f);
}

UIElement* UIElementRecipe::CreateElement() const { return new UIElement(); }
