// UIRecipeTemplate and UIRecipeEntity.
#include "ui/recipes/UIRecipeTemplate.h"

#include "core/BoundedReader.h"
#include "core/ThreadCheck.h"
#include "core/rtti/DirectProperty.h"
#include "engine/services/EngineCore.h"
#include "ui/elements/UIElement.h"
#include "ui/recipes/UIRecipeClasses.h"

namespace {

RTTIClass* gRecipeTemplateClass = nullptr;
RTTIClass* gRecipeEntityClass = nullptr;

}  // namespace

UIRecipeTemplate::UIRecipeTemplate() { typeId = ENTITY_UIRECIPE; }

UIRecipeTemplate::~UIRecipeTemplate() { delete recipe; }

const RTTIClass* UIRecipeTemplate::RegisterClass() {
    if (gRecipeTemplateClass) return gRecipeTemplateClass;
    EntityTemplate::RegisterClass();
    UIScreenRecipe::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gRecipeTemplateClass, "UIRecipeTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new UIRecipeTemplate(); });
    using T = UIRecipeTemplate;
    AddDirect<Vector>(c, "HierarchyViewLoc", RTTI_OFFSETOF(T, hierarchyViewLoc));
    AddDirect<Vector>(c, "LayoutViewLoc", RTTI_OFFSETOF(T, layoutViewLoc));
    AddDirect<int32_t>(c, "LayoutElementSnapValue", RTTI_OFFSETOF(T, layoutElementSnapValue));
    AddDirect<int32_t>(c, "LayoutMarginSnapValue", RTTI_OFFSETOF(T, layoutMarginSnapValue));
    return c;
}

const RTTIClass* UIRecipeTemplate::GetRTTIClass() const { return RegisterClass(); }

void UIRecipeTemplate::ClearSafePointers() {
    EntityTemplate::ClearSafePointers();
    if (recipe) recipe->ClearSafePointers();
}

void UIRecipeTemplate::SafePointerHook() {
    EntityTemplate::SafePointerHook();
    if (recipe) recipe->SafePointerHook();
}

uint32_t UIRecipeTemplate::SolidSerialize(uint8_t* buffer, uint32_t options) const {
    uint32_t n = EntityTemplate::SolidSerialize(buffer, options);
    if (buffer) buffer[n] = recipe ? 1 : 0;
    ++n;
    if (recipe) n += recipe->SolidSerialize(buffer ? buffer + n : nullptr, options);
    return n;
}

uint32_t UIRecipeTemplate::SolidDeserialize(BoundedReader& in, uint32_t options) {
    const size_t start = in.Remaining();
    EntityTemplate::SolidDeserialize(in, options);
    uint8_t present = 0;
    if (!in.Failed() && in.ReadU8(present) && present) {
        GetRecipe()->SolidDeserialize(in, options);
        if ((options & kUIRecipeReadLoadResources) && !in.Failed()) recipe->LoadResourcesRecursive();
    }
    return uint32_t(start - in.Remaining());
}

bool UIRecipeTemplate::ReadTemplateProperties(BoundedReader& in) {
    SolidDeserialize(in, 0);
    return !in.Failed();
}

Entity* UIRecipeTemplate::CreateEntity() { return new UIRecipeEntity(); }

void UIRecipeTemplate::PreloadReferencedResources() {
    // Element ids, the id table and the op stream's writer belong to the main thread.
    if (!recipe || !OnThreadOrUnbound(GetMainThreadId())) return;
    recipe->PreloadPrefabTemplatesRecursive();
    // A count of its own while the trial tree lives: the tree's last element leaving must
    // not unload the template (a template that unloads with its last entity) under us.
    ++instanceCount;
    if (UIElement* root = UIElement::CreateFromRecipeObject(recipe, this, nullptr, 1)) root->Release();
    --instanceCount;
}

void UIRecipeTemplate::QueueRequest(uint32_t argument) {
    EntityTemplate::QueueRequest(argument);
    if (recipe) recipe->SetResourceFlagsRecursive(argument);
}

UIScreenRecipe* UIRecipeTemplate::GetRecipe() {
    if (!recipe) recipe = new UIScreenRecipe();
    return recipe;
}

const RTTIClass* UIRecipeEntity::RegisterClass() {
    if (gRecipeEntityClass) return gRecipeEntityClass;
    Entity::RegisterClass();
    return CreateRegisteredClass(gRecipeEntityClass, "UIRecipeEntity", "Entity");
}

const RTTIClass* UIRecipeEntity::GetRTTIClass() const { return RegisterClass(); }
