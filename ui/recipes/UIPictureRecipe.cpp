// UIPictureRecipe: registration, the held resources and the picture steps of Apply.
#include "ui/recipes/UIPictureRecipe.h"

#include <cstring>

#include "core/rtti/DirectProperty.h"
#include "render/resources/ResourceManager.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"
#include "ui/elements/UIPicture.h"
#include "ui/recipes/UIRecipeTemplate.h"

namespace {

RTTIClass* gPictureRecipeClass = nullptr;
const char kShaderFolder[] = "Common\\Shaders";
constexpr size_t kMaxShaderName = 259;

}  // namespace

const RTTIClass* UIPictureRecipe::RegisterClass() {
    if (gPictureRecipeClass) return gPictureRecipeClass;
    UIElementRecipe::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gPictureRecipeClass, "UIPictureRecipe", "UIElementRecipe",
                                         &CreateUIRecipeObject<UIPictureRecipe>);
    using P = UIPictureRecipe;
    c->AddProperty(new RTTISGProperty<NameString, P, NameString>("Texture", &P::GetTexture, &P::SetTexture,
                                                                 kPropertyFlagFileName, kUIRecipeTextureFolder));
    c->AddProperty(new RTTISGProperty<NameString, P, NameString>("Texture 2", &P::GetTexture2, &P::SetTexture2,
                                                                 kPropertyFlagFileName, kUIRecipeTextureFolder));
    AddDirect<bool>(c, "Clamp U", RTTI_OFFSETOF(P, clampU));
    AddDirect<bool>(c, "Clamp V", RTTI_OFFSETOF(P, clampV));
    c->AddProperty(new RTTISGProperty<NameString, P, NameString>("Shader", &P::GetShader, &P::SetShader,
                                                                 kPropertyFlagFileName, kShaderFolder));
    AddDirect<uint32_t>(c, "Tile index X", RTTI_OFFSETOF(P, tileIndexX));
    AddDirect<uint32_t>(c, "Tile index Y", RTTI_OFFSETOF(P, tileIndexY));
    AddDirect<uint32_t>(c, "Tile count X", RTTI_OFFSETOF(P, tileCountX));
    AddDirect<uint32_t>(c, "Tile count Y", RTTI_OFFSETOF(P, tileCountY));
    AddDirect<float>(c, "Mapping scale X", RTTI_OFFSETOF(P, mappingScaleX));
    AddDirect<float>(c, "Mapping scale Y", RTTI_OFFSETOF(P, mappingScaleY));
    AddDirect<float>(c, "Mapping offset X", RTTI_OFFSETOF(P, mappingOffsetX));
    AddDirect<float>(c, "Mapping offset Y", RTTI_OFFSETOF(P, mappingOffsetY));
    AddDirect<int32_t>(c, "Render gathering channel", RTTI_OFFSETOF(P, renderGatheringChannel));
    AddDirect<HDRColor>(c, "CornerColor0", RTTI_OFFSETOF(P, cornerColor[0]));
    AddDirect<HDRColor>(c, "CornerColor1", RTTI_OFFSETOF(P, cornerColor[1]));
    AddDirect<HDRColor>(c, "CornerColor2", RTTI_OFFSETOF(P, cornerColor[2]));
    AddDirect<HDRColor>(c, "CornerColor3", RTTI_OFFSETOF(P, cornerColor[3]));
    return c;
}

const RTTIClass* UIPictureRecipe::GetRTTIClass() const { return RegisterClass(); }

UIPictureRecipe::~UIPictureRecipe() { ReleaseHeld(0, kHeldResources); }

void UIPictureRecipe::ReleaseHeld(uint32_t first, uint32_t count) {
    ReleaseResources(held + first, count);
    for (uint32_t i = first; i < first + count; ++i) held[i] = nullptr;
}

void UIPictureRecipe::SetTexture(const NameString& value) {
    ReleaseHeld(kTexture0, 1);
    texture[0] = value;
}

void UIPictureRecipe::SetTexture2(const NameString& value) {
    ReleaseHeld(kTexture1, 1);
    texture[1] = value;
}

void UIPictureRecipe::SetShader(const NameString& value) {
    ReleaseHeld(kVertexShader, 2);
    const char* text = value.CStr();
    size_t length = std::strlen(text);
    if (const char* dot = std::strrchr(text, '.')) length = size_t(dot - text);
    if (length > kMaxShaderName) length = kMaxShaderName;
    if (length == 0) shader.Clear();
    else shader.Set(text, length);
}

void UIPictureRecipe::OnLoaded(uint32_t options) {
    UIElementRecipe::OnLoaded(options);
    if (disabled != UIRECIPE_ENABLED) return;
    // On the loader thread the textures and the shader load right here: a queued load
    // would wait behind the very command reading this list. Elsewhere the textures are
    // only looked up (LoadResources, or the picture made from the recipe, loads them).
    const bool onLoader = gResourceManager.OnWorkerThread();
    for (uint32_t i = 0; i < 2; ++i) {
        if (texture[i].IsEmpty()) continue;
        ReleaseHeld(i, 1);
        held[i] = gResourceManager.GetResource(RESOURCE_TEXTURE, texture[i].CStr(), 0, true, 0);
        if (onLoader && held[i]) held[i]->Load(false);
    }
    if (shader.IsEmpty() || !gShaderManager) return;
    ReleaseHeld(kVertexShader, 2);
    const bool wait = onLoader || (options & kUIRecipeReadLoadResources) == 0;
    ResourceShader* vs = nullptr;
    ResourceShader* ps = nullptr;
    gShaderManager->GetShader(shader.CStr(), "", &vs, &ps, onLoader ? SHADER_LOAD_HERE : SHADER_LOAD_QUEUED, wait, 0);
    held[kVertexShader] = vs;
    held[kPixelShader] = ps;
}

void UIPictureRecipe::LoadResources() {
    for (Resource* r : held)
        if (r) r->Load(false);
}

void UIPictureRecipe::SetResourceFlags(uint32_t resourceFlags) {
    for (Resource* r : held)
        if (r) gResourceManager.SetResourceFlags(r, resourceFlags);
}

void UIPictureRecipe::ApplyPicture(UIElement* element) const {
    auto* picture = dynamic_cast<UIPicture*>(element);
    if (!picture) return;
    const uint32_t flags =
        kUIRecipeTextureFlags | (clampU ? kUIRecipeClampU : 0u) | (clampV ? kUIRecipeClampV : 0u);
    picture->SetTexture(texture[0].CStr(), 0, flags);
    picture->SetTexture(texture[1].CStr(), 1, flags);
    if (!shader.IsEmpty()) picture->SetShader(shader.CStr(), "", uint32_t(renderGatheringChannel), 0);
    picture->SetTextureTile(float(tileIndexX), float(tileIndexY), float(tileCountX), float(tileCountY),
                            Vector(mappingScaleX, mappingScaleY, 1, 1), Vector(mappingOffsetX, mappingOffsetY, 0, 0));
    const Vector corners[4] = {cornerColor[0].ToLinearVector(), cornerColor[1].ToLinearVector(),
                               cornerColor[2].ToLinearVector(), cornerColor[3].ToLinearVector()};
    picture->SetCornerColors(corners);
}

void UIPictureRecipe::Apply(UIElement* element) const {
    UIElementRecipe::Apply(element);
    ApplyPicture(element);
}

UIElement* UIPictureRecipe::CreateElement() const { return new UIPicture(); }
