#pragma once
// UI recipes: the stored description of a UI element and, through its sub-recipes, of a
// whole element tree. One recipe object per element, of a recipe class that matches the
// element class; a recipe makes its element, applies its values to it, then does the same
// for its sub-recipes under it. Recipes also carry named presets (UIElementPreset.h) that
// scripts apply to live elements at once or as timed actions.
//
// The registered properties below are the stored format: their classes, types, flags,
// defaults and order are what a UI recipe template's property list holds (the class
// chain is walked by class name, so for a button the lists of UIButtonRecipe,
// UIElementRecipe and UIPictureRecipe follow one another).
//
// Ownership: a recipe owns its presets and its sub-recipes. Recipe trees are owned by
// their UIRecipeTemplate; elements made from a recipe keep a pointer to it and an
// instance reference on the template, so the recipe outlives them.
//
// Threads: a recipe's property list is read where its template loads (usually the
// ResourceManager thread); everything else, building and presets included, runs on the
// main thread.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/HDRColor.h"
#include "core/math/Vector.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

class EntityTemplate;
class UIElement;
class UIElementPreset;

// "Disabled" values.
enum : uint32_t { UIRECIPE_ENABLED = 0, UIRECIPE_DISABLED = 1, UIRECIPE_IN_GAME = 2 };
// "Anchor by" values.
enum : uint32_t { UIRECIPE_ANCHOR_CENTER = 0, UIRECIPE_ANCHOR_ANCHOR = 1 };
// Creation mode bit: also build "In game" recipes.
constexpr uint32_t kUIRecipeModeInGame = 1;
// Size of the buffer GetPrefabTemplatePath fills.
constexpr uint32_t kUIRecipePathSize = 260;
// Flags of the recipes' vector properties, and the folder hint of their texture names.
constexpr uint32_t kUIRecipeVectorFlags = 64;
inline constexpr char kUIRecipeTextureFolder[] = "Textures";
// Deepest recipe tree a property list may hold; a deeper one fails the read (the
// reader and the builders recurse once per level).
constexpr uint32_t kUIRecipeMaxDepth = 128;

class UIElementRecipe : public RTTIPolyBaseClass {
public:
    UIElementRecipe() = default;
    UIElementRecipe(const UIElementRecipe&) = delete;
    UIElementRecipe& operator=(const UIElementRecipe&) = delete;
    // Deletes the presets and the sub-recipes.
    ~UIElementRecipe() override;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // Also clears the safe pointers of the presets and sub-recipes; the hook after it
    // recurses the same way.
    void ClearSafePointers() override;
    void SafePointerHook() override;
    // Counts the nesting of recipe lists being read on this thread and fails the reader
    // beyond kUIRecipeMaxDepth.
    uint32_t SolidDeserialize(BoundedReader& in, uint32_t options) override;

    // ---- Virtual operations, in their fixed order ----
    virtual const char* GetClassName() const { return "UIElementRecipe"; }
    // Loads the held resources on this thread (only pictures hold any).
    virtual void LoadResources() {}
    // Asks the registry to load the template "Prefab" names.
    virtual void PreloadPrefabTemplate();
    // ORs flags into the resource flags of the held resources.
    virtual void SetResourceFlags(uint32_t resourceFlags) {}
    virtual const char* GetElementClassName() const { return "UIElement"; }
    // Writes the values into a made element.
    virtual void Apply(UIElement* element) const;
    // A new unattached element of the recipe's element class; null when the class makes
    // none (or is not available in this build).
    virtual UIElement* CreateElement() const;
    // "Disabled" 0 -> 1 -> 2 -> 0.
    virtual void CycleDisabled();
    // The named preset (else, when there are presets, the recipe's own values) applied to
    // element: at once when t < 0.001, else as actions on the channel.
    virtual void ApplyPreset(const char* presetName, UIElement* element, float t, uint32_t actionFlags,
                             uint32_t channel, bool cancelFirst) const;
    virtual UIElementRecipe* CreateDefault() const;
    virtual UIElementPreset* CreatePreset() const;

    // ---- Building ----
    // The element tree of this recipe, or null when it is disabled for the mode or makes
    // no element.
    UIElement* CreateElementTree(EntityTemplate* owner, uint32_t modeFlags, uint32_t childCreation);
    // The sub-recipes' trees under an existing element.
    void CreateChildElements(UIElement* parent, EntityTemplate* owner, uint32_t modeFlags, uint32_t childCreation);

    // ---- Lookups ----
    // Depth-first pre-order, this recipe first.
    UIElementRecipe* FindSubRecipe(const NameString& recipeName);
    UIElementPreset* FindPreset(const char* presetName) const;
    // The named preset when found, else the recipe itself, into *owner; its class.
    const RTTIClass* ResolvePropertyOwner(const char* presetName, const RTTIPolyBaseClass** owner) const;
    // The template path of "Prefab" (empty when "Prefab" is): the configured prefix, a
    // '/' unless it ends in one, and "Prefab" up to its last '/'.
    void GetPrefabTemplatePath(char* buffer) const;

    void LoadResourcesRecursive();
    void PreloadPrefabTemplatesRecursive();
    void SetResourceFlagsRecursive(uint32_t resourceFlags);

    // ---- Stored values (registered properties) ----
    uint32_t disabled = UIRECIPE_ENABLED;
    bool freezedLayout = false;
    bool hidden = false;
    NameString name;
    NameString prefab;
    Vector position{0, 0, 0, 1};
    Vector size{64, 64, 0, 0};
    Vector selectionFrame{0, 0, 0, 0};
    Vector scale{1, 1, 1, 0};
    HDRColor color{255, 255, 255, 255, 1.0f};
    uint32_t colorMode = 1;
    uint32_t blendMode = 1;
    Vector anchor{0, 0, 0, 0};
    uint32_t anchorBy = UIRECIPE_ANCHOR_ANCHOR;
    Vector rotation{0, 0, 0, 0};
    uint32_t aspectAwareness = 0;
    uint32_t aspectScaling = 0;
    uint32_t outline = 0;
    Dynarray<UIElementPreset*> presets;
    Dynarray<UIElementRecipe*> children;
    bool transparent = false;
    bool hierarchicalAnchor = true;
    bool focusableWithMouse = false;
    bool clipChildren = false;

protected:
    // The element flags the recipe sets and those it clears.
    uint32_t RaisedFlags() const;
    uint32_t ClearedFlags() const;
};

// Registration helper of the recipe classes: the class's own descriptor, made once with
// the factory that makes a default object.
template <class T>
RTTIPolyBaseClass* CreateUIRecipeObject(int32_t) {
    return new T();
}

// Registers a recipe class without properties of its own.
template <class T>
RTTIClass* RegisterPlainRecipeClass(RTTIClass*& slot, const char* name, const char* base) {
    return CreateRegisteredClass(slot, name, base, &CreateUIRecipeObject<T>);
}
