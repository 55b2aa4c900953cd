#pragma once
// RendererConfigContainer: the renderer settings, embedded in EngineConfig as
// "Renderer config".
//
// Properties in registration order (type, default): "MSAA Mode" u32 enumeration 0
// "None"; "GFX quality level" u32 enumeration 3 "High"; "Semi resolution screen
// scale" float 1.0; "Brightness" float 0.5; "ScreenScaleX" float 1.0; "ScreenScaleY"
// float 1.0; "GPU Sync", "VSync", "Enable shadow map", "Enable shadow map filtering"
// bool true; "Shadow map size" u32 2048; "Enable full screen effects", "Enable
// refraction", "Enable outlines" bool true; "Display shadow debug info", "Display
// entity names" bool false.
//
// Threads: main thread; the renderer receives copies through RendererConfigServices.
#include <cstdint>

#include "core/rtti/RTTIClass.h"

class RendererConfigContainer;

// RendererConfigServices: what a change of the "GFX quality level" asks of the renderer.
// The renderer installs the implementation that applies the settings while it exists;
// until then (and after SetRendererConfigServices(nullptr)) nothing is applied.
class RendererConfigServices {
public:
    virtual ~RendererConfigServices() = default;
    virtual void ApplyRendererConfig(const RendererConfigContainer& config) {}
};

RendererConfigServices& GetRendererConfigServices();
// Not owned; null restores the default. Any thread.
void SetRendererConfigServices(RendererConfigServices* services);

class RendererConfigContainer : public RTTIPolyBaseClass {
public:
    RendererConfigContainer() = default;
    RendererConfigContainer(const RendererConfigContainer&) = delete;
    RendererConfigContainer& operator=(const RendererConfigContainer&) = delete;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Applies the settings through RendererConfigServices when the name is null
    // (everything changed) or "GFX quality level".
    void OnPropertyChanged(const char* propertyName) override;

    uint32_t msaaMode = 0;
    uint32_t gfxQualityLevel = 3;
    float semiResolutionScreenScale = 1.0f;
    float brightness = 0.5f;
    float screenScaleX = 1.0f;
    float screenScaleY = 1.0f;
    bool gpuSync = true;
    bool vSync = true;
    bool enableShadowMap = true;
    bool enableShadowMapFiltering = true;
    uint32_t shadowMapSize = 2048;
    bool enableFullScreenEffects = true;
    bool enableRefraction = true;
    bool enableOutlines = true;
    bool displayShadowDebugInfo = false;
    bool displayEntityNames = false;
};
