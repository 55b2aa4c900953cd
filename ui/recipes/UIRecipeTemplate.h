#pragma once
// UIRecipeTemplate: a UI layout kept in the template registry. Its one piece of content is
// a root UIScreenRecipe with its tree of sub-recipes; UIElement::CreateFromRecipe finds the
// template by name and builds element trees from the recipe. UIRecipeEntity is the plain
// entity such a template makes.
//
// Property list: the EntityTemplate and UIRecipeTemplate properties, then one byte (1
// when the template has a recipe), then, when 1, the recipe's own property list, always
// read back as a UIScreenRecipe (its sub-recipes carry their classes).
//
// Threads: the property list is read where the template loads (usually the ResourceManager
// thread); PreloadReferencedResources builds and releases the tree on the main thread
// only (elsewhere it does nothing); everything else on the main thread.
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"

class UIScreenRecipe;

// Read option: also load the recipes' resources at once on the reading thread.
constexpr uint32_t kUIRecipeReadLoadResources = 4;

class UIRecipeTemplate : public EntityTemplate {
public:
    UIRecipeTemplate();
    // Deletes the recipe.
    ~UIRecipeTemplate() override;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    void ClearSafePointers() override;
    void SafePointerHook() override;
    uint32_t SolidSerialize(uint8_t* buffer, uint32_t options) const override;
    uint32_t SolidDeserialize(BoundedReader& in, uint32_t options) override;
    // The binary template's property list goes through SolidDeserialize.
    bool ReadTemplateProperties(BoundedReader& in) override;

    const char* GetClassName() const override { return "UIRecipeTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "UIRecipeEntity"; }
    // Preloads the prefab templates and builds the whole tree once (released at once).
    void PreloadReferencedResources() override;
    // The base request, then the flags on every recipe's resources.
    void QueueRequest(uint32_t argument) override;

    // The recipe, made empty on first use.
    UIScreenRecipe* GetRecipe();
    bool HasRecipe() const { return recipe != nullptr; }

    // ---- Layout editor values (registered properties; not used at run time) ----
    Vector hierarchyViewLoc{0, 0, 0, 0};
    Vector layoutViewLoc{0, 0, 0, 0};
    int32_t layoutElementSnapValue = 0;
    int32_t layoutMarginSnapValue = 0;

private:
    UIScreenRecipe* recipe = nullptr;
};

class UIRecipeEntity : public Entity {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
};
