// UIElementRecipe: building element trees.
#include "ui/elements/UIElement.h"
#include "ui/recipes/UIElementRecipe.h"

UIElement* UIElementRecipe::CreateElementTree(EntityTemplate* owner, uint32_t modeFlags, uint32_t childCreation) {
    if (disabled == UIRECIPE_DISABLED) return nullptr;
    if (disabled == UIRECIPE_IN_GAME && (modeFlags & kUIRecipeModeInGame) == 0) return nullptr;
    UIElement* element = CreateElement();
    if (!element) return nullptr;  // a recipe that makes nothing is skipped with its sub-recipes
    element->SetRecipe(this, owner);
    Apply(element);
    if (!element->IsUIPicture()) element->RaiseFlag(UIFLAG_DRAWPENDINGUIELEMENTSBEFORE, false);
    if (element->BeginRecipeBuild(childCreation)) {
        for (UIElementRecipe* r : children)
            if (UIElement* child = r ? r->CreateElementTree(owner, modeFlags, childCreation) : nullptr)
                element->AddChild(child);
    }
    element->EndRecipeBuild(childCreation);
    return element;
}

void UIElementRecipe::CreateChildElements(UIElement* parent, EntityTemplate* owner, uint32_t modeFlags,
                                          uint32_t childCreation) {
    for (UIElementRecipe* r : children)
        if (UIElement* child = r ? r->CreateElementTree(owner, modeFlags, childCreation) : nullptr)
            parent->AddChild(child);
}
