#include "core/config/ProjectConfig.h"

#include <atomic>

#include "core/Log.h"
#include "core/StaticInit.h"
#include "core/config/ConfigEnums.h"
#include "core/rtti/DirectProperty.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/SolidFile.h"

ProjectConfig* gProjectConfig = nullptr;

namespace {
RTTIClass* gProjectConfigClass = nullptr;
LanguageSelectionServices gDefaultLanguageServices;
std::atomic<LanguageSelectionServices*> gLanguageServices{&gDefaultLanguageServices};
}  // namespace

LanguageSelectionServices& GetLanguageSelectionServices() { return *gLanguageServices.load(); }

void SetLanguageSelectionServices(LanguageSelectionServices* services) {
    gLanguageServices.store(services ? services : &gDefaultLanguageServices);
}

ProjectConfig::ProjectConfig() { RTTIValueStore<char*>::Assign(executableFileName, const_cast<char*>("Default")); }

ProjectConfig::~ProjectConfig() { ReleaseData(); }

void ProjectConfig::ReleaseData() {
    for (char** s : {&defaultScene, &executableFileName, &defaultDelegateTag, &storeDefinitionFile, &distributionTag,
                     &uiPrefabPathPrefix})
        RTTIFreeString(*s);
    fontReplacements.Release();
}

bool ProjectConfig::Load() {
    FileReader reader(kProjectConfigFileName, kProjectConfigFileExtension, kProjectConfigDirectory);
    if (!reader.IsOpen()) {
        gLog.Error(LogCategory::Engine, "ProjectConfig::Load - cannot open %s/%s.%s", kProjectConfigDirectory, kProjectConfigFileName,
                   kProjectConfigFileExtension);
        return false;
    }
    char path[fs::kMaxPath];
    FileSystem::ComposePath(path, sizeof path, kProjectConfigFileName, kProjectConfigFileExtension,
                            kProjectConfigDirectory);
    if (reader.GetSize() == 0) {
        // An empty file (a copy cut off before its first byte) holds no settings: the
        // project runs on its defaults, as without a saved configuration.
        gLog.Error(LogCategory::Engine, "ProjectConfig::Load - %s is empty: the project's defaults apply", path);
        return true;
    }
    return SolidDeserializeFromFileReader(*this, reader, 0, path);  // logs its own failure
}

void ProjectConfig::OnPropertyChanged(const char* propertyName) {
    if (!propertyName || RTTIStricmp(propertyName, "Default language") == 0)
        GetLanguageSelectionServices().SelectLanguage();
    // A listener may remove itself: walk a copy.
    const Dynarray<Listener> current = listeners;
    for (const Listener& l : current) l.function(propertyName, l.context);
}

void ProjectConfig::AddListener(ProjectConfigListener listener, void* context) {
    if (listener) listeners.Add({listener, context});
}

void ProjectConfig::RemoveListener(ProjectConfigListener listener, void* context) {
    for (uint32_t i = 0; i < listeners.Count(); ++i) {
        if (listeners[i].function == listener && listeners[i].context == context) {
            listeners.Remove(i);
            return;
        }
    }
}

bool ProjectConfig::FindFontReplacement(uint32_t language, const NameString& original, NameString* replacement,
                                        float* scale, uint32_t* granularity, uint32_t* maxSize) const {
    for (const FontReplacement& r : fontReplacements) {
        if (r.language != language || RTTIStricmp(r.original.CStr(), original.CStr()) != 0) continue;
        if (replacement) *replacement = r.replacement;
        if (scale) *scale = r.scale;
        if (granularity) *granularity = r.granularity;
        if (maxSize) *maxSize = r.maxSize;
        return true;
    }
    if (replacement) *replacement = original;
    if (scale) *scale = 1.0f;
    if (granularity) *granularity = 1;
    if (maxSize) *maxSize = 0;
    return false;
}

const RTTIClass* ProjectConfig::RegisterClass(const char* nameOverride) {
    if (gProjectConfigClass) return gProjectConfigClass;
    const RTTIClass* font = FontReplacement::RegisterClass();
    const RTTIClass* outline = OutlineParams::RegisterClass();

    using P = ProjectConfig;
    RTTIClass* c =
        CreateRegisteredClass(gProjectConfigClass, nameOverride ? nameOverride : "ProjectConfig", kRTTIRootBaseName);
    c->SetScratchFactory([](int32_t) -> RTTIPolyBaseClass* { return new ProjectConfig; });
    AddDirect<char*>(c, "Default scene", RTTI_OFFSETOF(P, defaultScene), 2);
    AddDirect<float>(c, "Default asset import scale", RTTI_OFFSETOF(P, defaultAssetImportScale));
    AddDirect<char*>(c, "Executable file name", RTTI_OFFSETOF(P, executableFileName));
    AddDirect<uint32_t>(c, "Language mask", RTTI_OFFSETOF(P, languageMask));
    AddDirect<uint32_t>(c, "Default language", RTTI_OFFSETOF(P, defaultLanguage), kPropertyFlagEnum, kLanguageNames);
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<FontReplacement>>(
        "Font replacement", RTTI_OFFSETOF(P, fontReplacements), font));
    AddDirect<char*>(c, "Default delegate tag", RTTI_OFFSETOF(P, defaultDelegateTag));
    AddDirect<char*>(c, "Store definition file", RTTI_OFFSETOF(P, storeDefinitionFile));
    AddDirect<uint32_t>(c, "Visualization mode", RTTI_OFFSETOF(P, visualizationMode), kPropertyFlagEnum,
                        kVisualizationModeNames);
    AddDirect<char*>(c, "Distribution tag", RTTI_OFFSETOF(P, distributionTag));
    AddDirect<uint32_t>(c, "Text language", RTTI_OFFSETOF(P, textLanguage), kPropertyFlagEnum, kLanguageNames);
    AddDirect<uint32_t>(c, "Voice language", RTTI_OFFSETOF(P, voiceLanguage), kPropertyFlagEnum, kLanguageNames);
    AddDirect<uint32_t>(c, "Subtitle mode", RTTI_OFFSETOF(P, subtitleMode), kPropertyFlagEnum, kSubtitleModeNames);
    AddDirect<bool>(c, "Enable controller", RTTI_OFFSETOF(P, enableController));
    AddDirect<float>(c, "XBox controller dead zone", RTTI_OFFSETOF(P, xboxControllerDeadZone));
    AddDirect<float>(c, "Editor FOV", RTTI_OFFSETOF(P, editorFOV));
    AddDirect<float>(c, "Editor near plane", RTTI_OFFSETOF(P, editorNearPlane));
    AddDirect<float>(c, "Editor far plane", RTTI_OFFSETOF(P, editorFarPlane));
    AddDirect<float>(c, "Editor helper scale", RTTI_OFFSETOF(P, editorHelperScale));
    AddDirect<float>(c, "Editor zoom speed scale", RTTI_OFFSETOF(P, editorZoomSpeedScale));
    AddDirect<float>(c, "Filter kernel size", RTTI_OFFSETOF(P, filterKernelSize));
    AddDirect<float>(c, "Depth bias", RTTI_OFFSETOF(P, depthBias));
    AddDirect<float>(c, "Slope depth bias", RTTI_OFFSETOF(P, slopeDepthBias));
    c->AddProperty(new RTTIEmbeddedObjectProperty<OutlineParams>("Outline", RTTI_OFFSETOF(P, outline), outline));
    c->AddProperty(new RTTIEmbeddedObjectProperty<OutlineParams>("UI outline", RTTI_OFFSETOF(P, uiOutline), outline));
    AddDirect<float>(c, "Effect softness distance", RTTI_OFFSETOF(P, effectSoftnessDistance));
    AddDirect<bool>(c, "Fake shadows", RTTI_OFFSETOF(P, fakeShadows));
    AddDirect<bool>(c, "Outlines", RTTI_OFFSETOF(P, outlines));
    AddDirect<bool>(c, "Post upscale depth/stencil", RTTI_OFFSETOF(P, postUpscaleDepthStencil));
    AddDirect<float>(c, "Lightmap texel density", RTTI_OFFSETOF(P, lightmapTexelDensity));
    AddDirect<float>(c, "Default sound volume", RTTI_OFFSETOF(P, defaultSoundVolume));
    AddDirect<float>(c, "Default music volume", RTTI_OFFSETOF(P, defaultMusicVolume));
    AddDirect<float>(c, "Default speech volume", RTTI_OFFSETOF(P, defaultSpeechVolume));
    AddDirect<float>(c, "UI screen width", RTTI_OFFSETOF(P, uiScreenWidth));
    AddDirect<float>(c, "UI screen height", RTTI_OFFSETOF(P, uiScreenHeight));
    AddDirect<float>(c, "UI screen Z Near Mult", RTTI_OFFSETOF(P, uiScreenZNearMult));
    AddDirect<float>(c, "UI screen Z Far Mult", RTTI_OFFSETOF(P, uiScreenZFarMult));
    AddDirect<SimpleGUID>(c, "UI scene param template", RTTI_OFFSETOF(P, uiSceneParamTemplate), 4096);
    AddDirect<char*>(c, "UI prefab path prefix", RTTI_OFFSETOF(P, uiPrefabPathPrefix));
    AddDirect<uint32_t>(c, "Sound pool MB", RTTI_OFFSETOF(P, soundPoolMB));
    AddDirect<uint32_t>(c, "Sound decoders", RTTI_OFFSETOF(P, soundDecoders));
    AddDirect<uint32_t>(c, "Animation buffer KB", RTTI_OFFSETOF(P, animationBufferKB));
    AddDirect<float>(c, "World range", RTTI_OFFSETOF(P, worldRange));
    AddDirect<float>(c, "World cell", RTTI_OFFSETOF(P, worldCell));
    AddDirect<uint32_t>(c, "Max particles", RTTI_OFFSETOF(P, maxParticles));
    AddDirect<uint32_t>(c, "Particles per system", RTTI_OFFSETOF(P, particlesPerSystem));
    AddDirect<float>(c, "Particle spawn rate multiplier", RTTI_OFFSETOF(P, particleSpawnRateMultiplier));
    AddDirect<bool>(c, "Particle pausing", RTTI_OFFSETOF(P, particlePausing));
    AddDirect<bool>(c, "Collision vertices", RTTI_OFFSETOF(P, collisionVertices));
    AddDirect<bool>(c, "PC uses mobile settings", RTTI_OFFSETOF(P, pcUsesMobileSettings));
    return c;
}
