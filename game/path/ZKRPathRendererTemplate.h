#pragma once
// ZKRPathRendererTemplate: the look of the route ribbon in two sets, one for the
// tactical view and one for the battlefield view, and the texture and shader resources
// the ribbon draws with. The entity (ZKRPathRendererEntity) picks one set when it makes
// its rendering context.
//
// Threads: constructed and loaded (LoadResource) on the ResourceManager thread; property
// changes and destruction on the main thread.
#include <cstdint>

#include "core/math/HDRColor.h"
#include "core/text/NameString.h"
#include "engine/entity/EntityTemplate.h"
#include "game/kinds/GameKindSupport.h"

class Resource;
class ResourceShader;

// One set of the ribbon's look, as the rendering context takes it.
struct PathRendererLook {
    Resource* texture = nullptr;
    ResourceShader* vertexShader = nullptr;
    ResourceShader* pixelShader = nullptr;
    uint32_t blendMode = 1;
    float width = 4.0f;
    float level = 0.5f;
    float depthOffset = 0.0f;
    HDRColor color;
    HDRColor signalColor;
    float signalTimeout = 4.0f;
    float signalVelocity = 200.0f;
    float mappingScale = 1.0f;
};

class ZKRPathRendererTemplate : public EntityTemplate {
public:
    ZKRPathRendererTemplate();
    // Releases the six held resources.
    ~ZKRPathRendererTemplate() override;

    ZKR_GAME_CLASS_BOILERPLATE()
    // The entities are notified, then the resources are set up again with waiting; the
    // live routes then remake their rendering contexts, which hold the resources (and
    // the look) they were made with.
    void OnPropertyChanged(const char* propertyName) override;
    const char* GetClassName() const override { return "ZKRPathRendererTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRPathRendererEntity"; }
    // The base load, then (when it succeeded) the resource set-up without waiting.
    bool LoadResource() override;

    // Releases the six resources (in one hold of the resource lock), then takes the two
    // named textures and the "ZKRPath" shader pair again, each loaded with `wait`.
    void SetupResources(bool wait);

    // The tactical or battlefield set (the battlefield one has no shaders of its own and
    // no mapping scale: it takes the tactical ones). Resources are not referenced.
    PathRendererLook Look(bool battlefield) const;
    // Releases the six resources (in one hold of the resource lock) and clears them.
    void ReleaseHeldResources();

    // ---- Properties, in declaration order ----
    float smoothness = 3.2f;  // "Smoothness": the smoothing kernel's standard deviation
    // "Tactical mode"
    NameString textureFileName;                               // "Texture file name"
    uint32_t blendMode = 1;                                   // "Blend mode" ("Alpha")
    float width = 4.0f;                                       // "Width"
    float level = 0.5f;                                       // "Level"
    float depthOffset = 0.0f;                                 // "Depth offset"
    HDRColor color{255, 255, 255, 255, 1.0f};                 // "Color"
    HDRColor signalColor{255, 255, 255, 255, 4.0f};           // "Signal color"
    float signalTimeout = 4.0f;                               // "Signal timeout", seconds
    float signalVelocity = 200.0f;                            // "Signal velocity", units a second
    float mappingScale = 1.0f;                                // "Mapping scale"
    // "Battlefield mode"
    NameString battlefieldTextureFileName;                    // "Battlefield texture file name"
    uint32_t battlefieldBlendMode = 1;                        // "Battlefield Blend mode"
    float battlefieldWidth = 4.0f;                            // "Battlefield width"
    float battlefieldLevel = 0.5f;                            // "Battlefield level"
    float battlefieldDepthOffset = 0.0f;                      // "Battlefield depth offset"
    HDRColor battlefieldColor{255, 255, 255, 255, 1.0f};      // "Battlefield color"
    HDRColor battlefieldSignalColor{255, 255, 255, 255, 4.0f};  // "Battlefield signal color"
    float battlefieldSignalTimeout = 4.0f;                    // "Battlefield signal timeout"
    float battlefieldSignalVelocity = 200.0f;                 // "Battlefield signal velocity"

    // ---- Held resources (not properties); all start empty ----
    Resource* texture = nullptr;
    Resource* battlefieldTexture = nullptr;
    ResourceShader* vertexShader = nullptr;
    ResourceShader* pixelShader = nullptr;
    // Nothing fills these; the battlefield set falls back to the pair above.
    ResourceShader* battlefieldVertexShader = nullptr;
    ResourceShader* battlefieldPixelShader = nullptr;
};
