// UIElementRecipe: registration (the stored format), ownership, lookups and the
// resource and prefab walks. Building is in UIElementRecipe_Tree.cpp, applying in
// UIElementRecipe_Apply.cpp, presets in UIElementRecipe_Presets.cpp.
#include "ui/recipes/UIElementRecipe.h"

#include <cstring>

#include "core/BoundedReader.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "ui/recipes/UIElementPreset.h"

namespace {

RTTIClass* gRecipeClass = nullptr;

const char kDisabledNames[] = "No\0Yes\0In game\0";
const char kColorModeNames[] = "Static\0Multiply alpha\0Multiply color\0";
const char kBlendModeNames[] = "None\0Alpha\0Add\0Add+Alpha\0Inv alpha\0Subtract\0Modulate\0Modulate inv\0Min\0";
const char kAnchorByNames[] = "Center\0Anchor\0";
const char kAspectAwarenessNames[] =
    "None\0Left\0Right\0Top\0Bottom\0Left top\0Left bottom\0Right top\0Right bottom\0";
const char kAspectScalingNames[] = "None\0Horizontal\0Vertical\0Both\0";
const char kOutlineNames[] = "None\0Alied\0Hostile\0Neutral\0Hero\0";


// Nesting of recipe lists being read on this thread.
thread_local uint32_t tReadDepth = 0;

}  // namespace

const RTTIClass* UIElementRecipe::RegisterClass() {
    if (gRecipeClass) return gRecipeClass;
    UIElementPreset::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gRecipeClass, "UIElementRecipe", kRTTIRootBaseName,
                                         &CreateUIRecipeObject<UIElementRecipe>);
    using R = UIElementRecipe;
    AddDirect<uint32_t>(c, "Disabled", RTTI_OFFSETOF(R, disabled), kPropertyFlagEnum, kDisabledNames);
    AddDirect<bool>(c, "FreezedLayout", RTTI_OFFSETOF(R, freezedLayout));
    AddDirect<bool>(c, "Hidden", RTTI_OFFSETOF(R, hidden));
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(R, name));
    AddDirect<NameString>(c, "Prefab", RTTI_OFFSETOF(R, prefab));
    AddDirect<Vector>(c, "Position", RTTI_OFFSETOF(R, position), kUIRecipeVectorFlags);
    AddDirect<Vector>(c, "Size", RTTI_OFFSETOF(R, size), kUIRecipeVectorFlags);
    AddDirect<Vector>(c, "Selection frame", RTTI_OFFSETOF(R, selectionFrame), kUIRecipeVectorFlags);
    AddDirect<Vector>(c, "Scale", RTTI_OFFSETOF(R, scale), kUIRecipeVectorFlags);
    AddDirect<HDRColor>(c, "Color", RTTI_OFFSETOF(R, color));
    AddDirect<uint32_t>(c, "Color mode", RTTI_OFFSETOF(R, colorMode), kPropertyFlagEnum, kColorModeNames);
    AddDirect<uint32_t>(c, "Blend mode", RTTI_OFFSETOF(R, blendMode), kPropertyFlagEnum, kBlendModeNames);
    AddDirect<Vector>(c, "Anchor", RTTI_OFFSETOF(R, anchor), kUIRecipeVectorFlags);
    AddDirect<uint32_t>(c, "Anchor by", RTTI_OFFSETOF(R, anchorBy), kPropertyFlagEnum, kAnchorByNames);
    AddDirect<Vector>(c, "Rotation", RTTI_OFFSETOF(R, rotation), kUIRecipeVectorFlags);
    AddDirect<uint32_t>(c, "Aspect awareness", RTTI_OFFSETOF(R, aspectAwareness), kPropertyFlagEnum,
                        kAspectAwarenessNames);
    AddDirect<uint32_t>(c, "Aspect scaling", RTTI_OFFSETOF(R, aspectScaling), kPropertyFlagEnum,
                        kAspectScalingNames);
    AddDirect<uint32_t>(c, "Outline", RTTI_OFFSETOF(R, outline), kPropertyFlagEnum, kOutlineNames);
    auto* presetList = new RTTIDynarrayOfPolyObjectPointersProperty<Dynarray<UIElementPreset*>>(
        "Presets", RTTI_OFFSETOF(R, presets));
    presetList->SetElementFamily(UIElementPreset::RegisterClass());
    c->AddProperty(presetList);
    auto* childList = new RTTIDynarrayOfPolyObjectPointersProperty<Dynarray<UIElementRecipe*>>(
        "Children", RTTI_OFFSETOF(R, children));
    childList->SetElementFamily(c);
    c->AddProperty(childList);
    c->AddProperty(new RTTIPropertyGroup("Flags"));
    AddDirect<bool>(c, "Transparent", RTTI_OFFSETOF(R, transparent));
    AddDirect<bool>(c, "Hierarchical anchor", RTTI_OFFSETOF(R, hierarchicalAnchor));
    AddDirect<bool>(c, "Focusable with mouse", RTTI_OFFSETOF(R, focusableWithMouse));
    AddDirect<bool>(c, "Clip children", RTTI_OFFSETOF(R, clipChildren));
    return c;
}

const RTTIClass* UIElementRecipe::GetRTTIClass() const { return RegisterClass(); }

UIElementRecipe::~UIElementRecipe() {
    for (UIElementPreset* p : presets) delete p;
    for (UIElementRecipe* r : children) delete r;
    presets.Release();
    children.Release();
}

void UIElementRecipe::ClearSafePointers() {
    RTTIPolyBaseClass::ClearSafePointers();
    for (UIElementPreset* p : presets)
        if (p) p->ClearSafePointers();
    for (UIElementRecipe* r : children)
        if (r) r->ClearSafePointers();
}

void UIElementRecipe::SafePointerHook() {
    for (UIElementPreset* p : presets)
        if (p) p->SafePointerHook();
    for (UIElementRecipe* r : children)
        if (r) r->SafePointerHook();
}

uint32_t UIElementRecipe::SolidDeserialize(BoundedReader& in, uint32_t options) {
    if (tReadDepth >= kUIRecipeMaxDepth) {
        in.Fail("UI recipe tree too deep");
        return 0;
    }
    ++tReadDepth;
    const uint32_t n = RTTIPolyBaseClass::SolidDeserialize(in, options);
    --tReadDepth;
    return n;
}

void UIElementRecipe::CycleDisabled() { disabled = disabled >= UIRECIPE_IN_GAME ? UIRECIPE_ENABLED : disabled + 1; }

UIElementRecipe* UIElementRecipe::CreateDefault() const { return new UIElementRecipe(); }

UIElementPreset* UIElementRecipe::CreatePreset() const { return new UIElementPreset(); }

UIElementRecipe* UIElementRecipe::FindSubRecipe(const NameString& recipeName) {
    if (name == recipeName) return this;
    for (UIElementRecipe* r : children)
        if (UIElementRecipe* found = r ? r->FindSubRecipe(recipeName) : nullptr) return found;
    return nullptr;
}

UIElementPreset* UIElementRecipe::FindPreset(const char* presetName) const {
    if (!presetName) return nullptr;
    for (UIElementPreset* p : presets)
        if (p && std::strcmp(p->id.CStr(), presetName) == 0) return p;
    return nullptr;
}

const RTTIClass* UIElementRecipe::ResolvePropertyOwner(const char* presetName,
                                                       const RTTIPolyBaseClass** owner) const {
    const RTTIPolyBaseClass* o = FindPreset(presetName);
    if (!o) o = this;
    *owner = o;
    return o->GetRTTIClass();
}

void UIElementRecipe::GetPrefabTemplatePath(char* buffer) const {
    buffer[0] = 0;
    if (prefab.IsEmpty()) return;
    const char* prefix = gProjectConfig && gProjectConfig->uiPrefabPathPrefix ? gProjectConfig->uiPrefabPathPrefix : "";
    size_t n = std::strlen(prefix);
    if (n >= kUIRecipePathSize) n = kUIRecipePathSize - 1;
    std::memcpy(buffer, prefix, n);
    if (n > 0 && buffer[n - 1] != '/' && n + 1 < kUIRecipePathSize) buffer[n++] = '/';
    const char* text = prefab.CStr();
    const char* slash = std::strrchr(text, '/');
    size_t length = slash ? size_t(slash - text) : std::strlen(text);
    if (length > kUIRecipePathSize - 1 - n) length = kUIRecipePathSize - 1 - n;
    std::memcpy(buffer + n, text, length);
    buffer[n + length] = 0;
}

void UIElementRecipe::PreloadPrefabTemplate() {
    if (prefab.IsEmpty()) return;
    char path[kUIRecipePathSize];
    GetPrefabTemplatePath(path);
    gEntityTemplateRegistry.PreloadTemplateByName(path);
}

void UIElementRecipe::LoadResourcesRecursive() {
    LoadResources();
    for (UIElementRecipe* r : children)
        if (r) r->LoadResourcesRecursive();
}

void UIElementRecipe::PreloadPrefabTemplatesRecursive() {
    PreloadPrefabTemplate();
    for (UIElementRecipe* r : children)
        if (r) r->PreloadPrefabTemplatesRecursive();
}

void UIElementRecipe::SetResourceFlagsRecursive(uint32_t resourceFlags) {
    SetResourceFlags(resourceFlags);
    for (UIElementRecipe* r : children)
        if (r) r->SetResourceFlagsRecursive(resourceFlags);
}
