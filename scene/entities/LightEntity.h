#pragma once
// Lights: the template fixes the kind ("Light type"); the entity carries the colours,
// falloffs and kind-specific values and keeps its render-side proxy up to date through
// renderer commands. Every property change, load and layer change re-sends the whole
// set-up, every move the matrix; each frame the entity is submitted it registers its
// light in the renderer's light list, so it needs no rendering context.
//
// Main thread only; the proxy's light record belongs to the render thread.
#include <cstdint>

#include "core/math/HDRColor.h"
#include "core/math/Vector.h"
#include "core/text/NameString.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"

class Resource;
class RendererLightWrapper;

enum : uint32_t {
    LIGHT_KIND_POINT = 0,
    LIGHT_KIND_SPOT = 1,
    LIGHT_KIND_TUBE = 2,
    LIGHT_KIND_DIRECTIONAL_AMBIENT = 3,
};

class LightTemplate : public EntityTemplate {
public:
    LightTemplate();
    static const RTTIClass* RegisterRTTIClass();
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "LightTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "LightEntity"; }
    // The kind's editor shape with fixed sizes; white with draw flag 2, else the editor
    // colour. False (and nothing drawn) for a type outside the four kinds.
    bool DrawHelper(const Matrix& m, const Vector& colour, uint32_t flags, const char* presetName) override;

    uint32_t lightType = LIGHT_KIND_POINT;  // "Light type"
};

class LightEntity : public Entity {
public:
    LightEntity();
    ~LightEntity() override;
    static const RTTIClass* RegisterRTTIClass();
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;

    void OnPropertyChanged(const char* propertyName) override;
    void OnLoaded(uint32_t options) override;
    void OnLayerApplied() override { UpdateLight(true); }
    void DrawHelpers(uint32_t flags) override;
    bool RenderWithoutContext(uint32_t flags) override;
    void UpdateGlobalLocation() override;

    // Takes the mask texture again (making it available with reload), sends the set-up of
    // the template's kind with the linear colours and sets the local box; a kind outside
    // the four sets nothing up.
    void UpdateLight(bool reload);
    uint32_t GetLightType() const;
    // min / max of "Start falloff" and "End falloff".
    float InnerRange() const;
    float OuterRange() const;

    RendererLightWrapper* Proxy() const { return proxy; }
    Resource* MaskTexture() const { return maskTexture; }

    HDRColor color;           // "Color"
    HDRColor secondaryColor;  // "Secondary color"
    HDRColor sideColor;       // "Side color"
    float startFalloff = 0.5f;         // "Start falloff"
    float endFalloff = 1.0f;           // "End falloff"
    float specularMultiplier = 1.0f;   // "Specualar multiplier"
    float spotlightWidth = 30.0f;      // "Spotlight width", degrees
    float spotlightSoftness = 0.5f;    // "Spotlight softness"
    float tubeLength = 2.0f;           // "Tube length"
    float wrapAroundFactor = 0.0f;     // "Wrap around factor"
    uint32_t twoSidedMode = 0;         // "Two sided mode"
    Vector maskRotation{0, 0, 0, 0};   // "Mask texture rotation"
    Vector maskScale{1, 1, 1, 1};      // "Mask texture scale"
    NameString maskFileName;           // "Mask texture file name"

private:
    void ReleaseMask();

    RendererLightWrapper* proxy = nullptr;
    Resource* maskTexture = nullptr;
};
