// UIElement: the recipe half (creation from recipes and recipe templates, the recipe
// property readers, presets).
#include "core/Log.h"
#include "core/math/HDRColor.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "ui/elements/UIElement.h"
#include "ui/recipes/UIElementRecipe.h"
#include "ui/recipes/UIRecipeClasses.h"
#include "ui/recipes/UIRecipeTemplate.h"

namespace {

// The category of the recipe failures.
constexpr LogCategory kRecipeLogCategory = LogCategory::RenderDevice;

// The typed property of the given value type called name on the recipe or its named
// preset, with the object it belongs to; null when absent or of another type.
template <class T>
const RTTITypedProperty<T>* RecipeProperty(const UIElementRecipe* recipe, const char* name, const char* preset,
                                           const RTTIPolyBaseClass** owner) {
    if (!recipe || !name) return nullptr;
    const RTTIClass* cls = recipe->ResolvePropertyOwner(preset, owner);
    const RTTIProperty* p = cls ? cls->FindPropertyInChain(name) : nullptr;
    if (!p || p->TypeId() != RTTIValueCodec<T>::kTypeId) return nullptr;
    return dynamic_cast<const RTTITypedProperty<T>*>(p);
}

}  // namespace

UIElement* UIElement::CreateFromRecipeObject(UIElementRecipe* recipe, EntityTemplate* owner,
                                             const char* subRecipeName, uint32_t childCreation) {
    if (!recipe) return nullptr;
    if (subRecipeName) {
        UIElementRecipe* sub = recipe->FindSubRecipe(NameString(subRecipeName));
        return sub ? sub->CreateElementTree(owner, 0, childCreation) : nullptr;
    }
    UIElement* root = new UIElement();
    root->RaiseFlag(UIFLAG_TRANSPARENT | UIFLAG_DRAWPENDINGUIELEMENTS, false);
    if (root->BeginRecipeBuild(childCreation)) recipe->CreateChildElements(root, owner, 0, childCreation);
    root->EndRecipeBuild(childCreation);
    return root;
}

UIElement* UIElement::CreateFromRecipe(const char* templateName, const char* subRecipeName) {
    const char* shown = templateName ? templateName : "";
    EntityTemplate* t = templateName ? gEntityTemplateRegistry.FindTemplateByName(templateName, true) : nullptr;
    if (!t) {
        gLog.Error(kRecipeLogCategory, "Recipe [%s] not found!", shown);
        return nullptr;
    }
    auto* recipeTemplate = dynamic_cast<UIRecipeTemplate*>(t);
    if (!recipeTemplate || !TemplateTypeTable::IsA(t->typeId, ENTITY_UIRECIPE)) {
        gLog.Error(kRecipeLogCategory, "Template [%s] is not a UI recipe!", shown);
        return nullptr;
    }
    if (UIElement* e = CreateFromRecipeObject(recipeTemplate->GetRecipe(), t, subRecipeName, 1)) return e;
    gLog.Error(kRecipeLogCategory, "Subrecipe [%s] not found", subRecipeName ? subRecipeName : "");
    return nullptr;
}

UIElement* UIElement::CreateElementFromSubRecipe(const char* subRecipeName, uint32_t childCreation) {
    return recipe ? CreateFromRecipeObject(recipe, recipeOwner, subRecipeName, childCreation) : nullptr;
}

bool UIElement::GetRecipeBoolProperty(const char* propertyName, const char* presetName) const {
    const RTTIPolyBaseClass* owner = nullptr;
    const auto* p = RecipeProperty<bool>(recipe, propertyName, presetName, &owner);
    return p ? p->GetValue(owner) : false;
}

void UIElement::LoadRecipeVectorProperty(Vector& out, const char* propertyName, const char* presetName) const {
    const RTTIPolyBaseClass* owner = nullptr;
    if (const auto* p = RecipeProperty<Vector>(recipe, propertyName, presetName, &owner)) out = p->GetValue(owner);
}

void UIElement::LoadRecipeLinearColorProperty(Vector& out, const char* propertyName,
                                              const char* presetName) const {
    const RTTIPolyBaseClass* owner = nullptr;
    if (const auto* p = RecipeProperty<HDRColor>(recipe, propertyName, presetName, &owner))
        out = p->GetValue(owner).ToLinearVector();
}

const char* UIElement::GetRecipePrefab() const { return recipe ? recipe->prefab.CStr() : nullptr; }

void UIElement::ApplyRecipePreset(const char* presetName, bool recursive, float time, uint32_t actionFlags,
                                  uint32_t channel, bool cancelFirst) {
    if (recipe) recipe->ApplyPreset(presetName, this, time, actionFlags, channel, cancelFirst);
    if (!recursive) return;
    for (UIElement* c = firstChild; c; c = c->nextSibling)
        c->ApplyRecipePreset(presetName, true, time, actionFlags, channel, cancelFirst);
}
