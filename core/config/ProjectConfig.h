#pragma once
// ProjectConfig: the settings of the project — default scene, languages, font
// replacements, editor, rendering and tuning values. Read from "Project.ConfigBin"
// in the "common" mount (Solid blob, options 0); never written by the game.
//
// Properties in registration order (type, flags, default) — the file format:
//   "Default scene" char* (2) null; "Default asset import scale" float 1.0;
//   "Executable file name" char* "Default"; "Language mask" u32 0xFFFFFFFF (bit i:
//   language i available); "Default language" u32 enumeration 12; "Font
//   replacement" array of FontReplacement; "Default delegate tag", "Store definition
//   file" char* null; "Visualization mode" u32 enumeration 0; "Distribution tag"
//   char* null; "Text language" u32 enumeration 12; "Voice language" u32
//   enumeration 1; "Subtitle mode" u32 enumeration 0; "Enable controller" bool
//   false; "XBox controller dead zone" 0.25, "Editor FOV" 60.0, "Editor near plane"
//   0.01, "Editor far plane" 1000.0, "Editor helper scale" 1.0, "Editor zoom speed
//   scale" 1.0, "Filter kernel size" 3.0, "Depth bias" 0.01, "Slope depth bias" 0.02
//   (floats); "Outline", "UI outline" embedded OutlineParams; "Effect softness
//   distance" float 2.5; "Fake shadows", "Outlines" bool true; "Post upscale
//   depth/stencil" bool false; "Lightmap texel density", "Default sound volume",
//   "Default music volume", "Default speech volume" float 1.0; "UI screen width"
//   1280.0, "UI screen height" 720.0, "UI screen Z Near Mult" 1.0, "UI screen Z Far
//   Mult" 3.0 (floats); "UI scene param template" SimpleGUID (4096) zero; "UI prefab
//   path prefix" char* null; "Sound pool MB" u32 7; "Sound decoders" u32 16;
//   "Animation buffer KB" u32 128; "World range" float 2400.0; "World cell" float
//   40.0; "Max particles" u32 8192; "Particles per system" u32 1024; "Particle spawn
//   rate multiplier" float 1.0; "Particle pausing", "Collision vertices" bool true;
//   "PC uses mobile settings" bool false.
//
// Threads: main thread. The language services and the listeners run on the thread that
// reports the change.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/config/ConfigRecords.h"
#include "core/config/OutlineParams.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SimpleGUID.h"
#include "core/text/NameString.h"

// LanguageSelectionServices: what a change of the project's "Default language" asks of
// the localised strings. The UI installs the implementation that makes the string
// manager choose its text language again; until then (and after
// SetLanguageSelectionServices(nullptr)) the change selects nothing.
class LanguageSelectionServices {
public:
    virtual ~LanguageSelectionServices() = default;
    virtual void SelectLanguage() {}
};

LanguageSelectionServices& GetLanguageSelectionServices();
// Not owned; null restores the default. Any thread.
void SetLanguageSelectionServices(LanguageSelectionServices* services);

// A listener of property changes (the name, or null for "all changed").
using ProjectConfigListener = void (*)(const char* propertyName, void* context);

class ProjectConfig : public RTTIPolyBaseClass {
public:
    ProjectConfig();
    ProjectConfig(const ProjectConfig&) = delete;
    ProjectConfig& operator=(const ProjectConfig&) = delete;
    ~ProjectConfig() override;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Reads "Project.ConfigBin" from the "common" mount (Solid blob, options 0).
    // False, with one log line, when the file is missing or damaged; the values are
    // then unchanged (the class reads through a scratch object). An empty file is
    // reported with one line and succeeds with the values unchanged (the defaults).
    bool Load();

    // Selects the language (LanguageSelectionServices) when the name is null or "Default
    // language", then runs every listener with the name.
    void OnPropertyChanged(const char* propertyName) override;
    void AddListener(ProjectConfigListener listener, void* context);
    void RemoveListener(ProjectConfigListener listener, void* context);

    // Tuning values: the property when "PC uses mobile settings" is true, otherwise
    // the fixed value of the PC build.
    uint32_t GetSoundPoolMB() const { return pcUsesMobileSettings ? soundPoolMB : 32; }
    uint32_t GetSoundDecoders() const { return pcUsesMobileSettings ? soundDecoders : 64; }
    uint32_t GetAnimationBufferKB() const { return pcUsesMobileSettings ? animationBufferKB : 1024; }
    float GetWorldRange() const { return pcUsesMobileSettings ? worldRange : 2400.0f; }
    float GetWorldCell() const { return pcUsesMobileSettings ? worldCell : 40.0f; }
    uint32_t GetMaxParticles() const { return pcUsesMobileSettings ? maxParticles : 0x40000; }
    uint32_t GetParticlesPerSystem() const { return pcUsesMobileSettings ? particlesPerSystem : 0x10000; }
    bool GetParticlePausing() const { return pcUsesMobileSettings ? particlePausing : true; }
    bool GetCollisionVertices() const { return pcUsesMobileSettings ? collisionVertices : true; }
    float GetParticleSpawnRateMultiplier() const { return pcUsesMobileSettings ? particleSpawnRateMultiplier : 1.0f; }

    // The first record of that language whose "Original" equals the name (compared
    // case-insensitively, as "Original" is stored lower-cased). Without one the
    // replacement is the name itself, scale 1.0, granularity 1, max size 0, and the
    // result is false. Each output may be null.
    bool FindFontReplacement(uint32_t language, const NameString& original, NameString* replacement, float* scale,
                             uint32_t* granularity, uint32_t* maxSize) const;

    // Frees the strings and the font-replacement list (engine shutdown).
    void ReleaseData();

    char* defaultScene = nullptr;
    float defaultAssetImportScale = 1.0f;
    char* executableFileName = nullptr;  // "Default"
    uint32_t languageMask = 0xFFFFFFFFu;
    uint32_t defaultLanguage = 12;
    DynarraySafe<FontReplacement> fontReplacements;
    char* defaultDelegateTag = nullptr;
    char* storeDefinitionFile = nullptr;
    uint32_t visualizationMode = 0;
    char* distributionTag = nullptr;
    uint32_t textLanguage = 12;
    uint32_t voiceLanguage = 1;
    uint32_t subtitleMode = 0;
    bool enableController = false;
    float xboxControllerDeadZone = 0.25f;
    float editorFOV = 60.0f;
    float editorNearPlane = 0.01f;
    float editorFarPlane = 1000.0f;
    float editorHelperScale = 1.0f;
    float editorZoomSpeedScale = 1.0f;
    float filterKernelSize = 3.0f;
    float depthBias = 0.01f;
    float slopeDepthBias = 0.02f;
    OutlineParams outline;
    OutlineParams uiOutline;
    float effectSoftnessDistance = 2.5f;
    bool fakeShadows = true;
    bool outlines = true;
    bool postUpscaleDepthStencil = false;
    float lightmapTexelDensity = 1.0f;
    float defaultSoundVolume = 1.0f;
    float defaultMusicVolume = 1.0f;
    float defaultSpeechVolume = 1.0f;
    float uiScreenWidth = 1280.0f;
    float uiScreenHeight = 720.0f;
    float uiScreenZNearMult = 1.0f;
    float uiScreenZFarMult = 3.0f;
    SimpleGUID uiSceneParamTemplate;
    char* uiPrefabPathPrefix = nullptr;
    uint32_t soundPoolMB = 7;
    uint32_t soundDecoders = 16;
    uint32_t animationBufferKB = 128;
    float worldRange = 2400.0f;
    float worldCell = 40.0f;
    uint32_t maxParticles = 8192;
    uint32_t particlesPerSystem = 1024;
    float particleSpawnRateMultiplier = 1.0f;
    bool particlePausing = true;
    bool collisionVertices = true;
    bool pcUsesMobileSettings = false;

private:
    struct Listener {
        ProjectConfigListener function;
        void* context;
    };
    Dynarray<Listener> listeners;
};

constexpr const char* kProjectConfigFileName = "Project";
constexpr const char* kProjectConfigFileExtension = "ConfigBin";
constexpr const char* kProjectConfigDirectory = "common";

extern ProjectConfig* gProjectConfig;
