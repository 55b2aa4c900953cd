// The path renderer template: its properties and the resources it holds for the ribbon.
#include "game/path/ZKRPathRendererTemplate.h"

#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "game/kinds/GameTypes.h"
#include "game/path/ZKRPathRendererEntity.h"
#include "render/resources/ResourceManager.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"

namespace {

RTTIClass* gPathRendererTemplateClass = nullptr;

// The engine's blend-mode names, values 0 to 8.
const char kPathBlendModes[] = "None\0Alpha\0Add\0Add+Alpha\0Inv alpha\0Subtract\0Modulate\0Modulate inv\0Min\0";
constexpr const char* kPathTextureFolder = "Textures";
constexpr const char* kPathShaderFamily = "ZKRPath";

Resource* LoadedTexture(const NameString& name, bool wait) {
    if (name.IsEmpty()) return nullptr;
    Resource* r = gResourceManager.GetResource(RESOURCE_TEXTURE, name.CStr(), 0, true, 0);
    if (r) r->Load(wait);
    return r;
}

}  // namespace

ZKRPathRendererTemplate::ZKRPathRendererTemplate() { typeId = ENTITY_ZKR_PATHRENDERER; }

ZKRPathRendererTemplate::~ZKRPathRendererTemplate() { ReleaseHeldResources(); }

const RTTIClass* ZKRPathRendererTemplate::RegisterRTTIClass(const char* name) {
    if (gPathRendererTemplateClass) return gPathRendererTemplateClass;
    EntityTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gPathRendererTemplateClass, name ? name : "ZKRPathRendererTemplate",
                                         "EntityTemplate", &CreateGameObject<ZKRPathRendererTemplate>);
    using T = ZKRPathRendererTemplate;
    AddDirect<float>(c, "Smoothness", RTTI_OFFSETOF(T, smoothness));
    c->AddProperty(new RTTIPropertyGroup("Tactical mode"));
    AddDirect<NameString>(c, "Texture file name", RTTI_OFFSETOF(T, textureFileName), kPropertyFlagFileName,
                          kPathTextureFolder);
    AddDirect<uint32_t>(c, "Blend mode", RTTI_OFFSETOF(T, blendMode), kPropertyFlagEnum, kPathBlendModes);
    AddDirect<float>(c, "Width", RTTI_OFFSETOF(T, width));
    AddDirect<float>(c, "Level", RTTI_OFFSETOF(T, level));
    AddDirect<float>(c, "Depth offset", RTTI_OFFSETOF(T, depthOffset));
    AddDirect<HDRColor>(c, "Color", RTTI_OFFSETOF(T, color));
    AddDirect<HDRColor>(c, "Signal color", RTTI_OFFSETOF(T, signalColor));
    AddDirect<float>(c, "Signal timeout", RTTI_OFFSETOF(T, signalTimeout));
    AddDirect<float>(c, "Signal velocity", RTTI_OFFSETOF(T, signalVelocity));
    AddDirect<float>(c, "Mapping scale", RTTI_OFFSETOF(T, mappingScale));
    c->AddProperty(new RTTIPropertyGroup("Battlefield mode"));
    AddDirect<NameString>(c, "Battlefield texture file name", RTTI_OFFSETOF(T, battlefieldTextureFileName),
                          kPropertyFlagFileName, kPathTextureFolder);
    AddDirect<uint32_t>(c, "Battlefield Blend mode", RTTI_OFFSETOF(T, battlefieldBlendMode), kPropertyFlagEnum,
                        kPathBlendModes);
    AddDirect<float>(c, "Battlefield width", RTTI_OFFSETOF(T, battlefieldWidth));
    AddDirect<float>(c, "Battlefield level", RTTI_OFFSETOF(T, battlefieldLevel));
    AddDirect<float>(c, "Battlefield depth offset", RTTI_OFFSETOF(T, battlefieldDepthOffset));
    AddDirect<HDRColor>(c, "Battlefield color", RTTI_OFFSETOF(T, battlefieldColor));
    AddDirect<HDRColor>(c, "Battlefield signal color", RTTI_OFFSETOF(T, battlefieldSignalColor));
    AddDirect<float>(c, "Battlefield signal timeout", RTTI_OFFSETOF(T, battlefieldSignalTimeout));
    AddDirect<float>(c, "Battlefield signal velocity", RTTI_OFFSETOF(T, battlefieldSignalVelocity));
    return c;
}

const RTTIClass* ZKRPathRendererTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }

Entity* ZKRPathRendererTemplate::CreateEntity() { return NewGameEntity<ZKRPathRendererEntity>(); }

bool ZKRPathRendererTemplate::LoadResource() {
    const bool loaded = EntityTemplate::LoadResource();
    if (loaded) SetupResources(false);
    return loaded;
}

void ZKRPathRendererTemplate::OnPropertyChanged(const char* propertyName) {
    EntityTemplate::OnPropertyChanged(propertyName);
    SetupResources(true);
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (e->GetTemplate() == this)
            if (auto* path = dynamic_cast<ZKRPathRendererEntity*>(e)) path->OnTemplateResourcesChanged();
}

void ZKRPathRendererTemplate::ReleaseHeldResources() {
    Resource* held[6] = {texture, battlefieldTexture, vertexShader, pixelShader, battlefieldVertexShader,
                         battlefieldPixelShader};
    ReleaseResources(held, 6);
    texture = battlefieldTexture = nullptr;
    vertexShader = pixelShader = battlefieldVertexShader = battlefieldPixelShader = nullptr;
}

void ZKRPathRendererTemplate::SetupResources(bool wait) {
    ReleaseHeldResources();
    texture = LoadedTexture(textureFileName, wait);
    battlefieldTexture = LoadedTexture(battlefieldTextureFileName, wait);
    // With wait each shader is loaded through the loader thread and waited for; without,
    // it is loaded right here (the loader thread's own load of this template).
    if (gShaderManager)
        gShaderManager->GetShader(kPathShaderFamily, "", &vertexShader, &pixelShader,
                                  wait ? SHADER_LOAD_QUEUED : SHADER_LOAD_HERE, wait, 0);
}

PathRendererLook ZKRPathRendererTemplate::Look(bool battlefield) const {
    PathRendererLook l;
    l.mappingScale = mappingScale;
    if (!battlefield) {
        l.texture = texture;
        l.vertexShader = vertexShader;
        l.pixelShader = pixelShader;
        l.blendMode = blendMode;
        l.width = width;
        l.level = level;
        l.depthOffset = depthOffset;
        l.color = color;
        l.signalColor = signalColor;
        l.signalTimeout = signalTimeout;
        l.signalVelocity = signalVelocity;
        return l;
    }
    l.texture = battlefieldTexture;
    l.vertexShader = battlefieldVertexShader ? battlefieldVertexShader : vertexShader;
    l.pixelShader = battlefieldPixelShader ? battlefieldPixelShader : pixelShader;
    l.blendMode = battlefieldBlendMode;
    l.width = battlefieldWidth;
    l.level = battlefieldLevel;
    l.depthOffset = battlefieldDepthOffset;
    l.color = battlefieldColor;
    l.signalColor = battlefieldSignalColor;
    l.signalTimeout = battlefieldSignalTimeout;
    l.signalVelocity = battlefieldSignalVelocity;
    return l;
}
