#pragma once
// SceneParametersTemplate: one complete look for a scene (sun, clouds, fog, glow, tone
// mapping, colour lookup, screen colours, vignette, contrast, zoom blur, sharpening, RGB
// shift, FXAA, SSAO, shader colour multipliers). It keeps a render-side copy of its values
// (a SceneParametersWrapper, rebuilt after load and after every change) and asks the
// renderer's scene-parameter manager to blend to it.
//
// The values live in a SceneParameterValues record whose defaults are the registered
// ones; the three curves are envelopes sampled into that record when the wrapper is
// rebuilt.
//
// Threads: the main thread, or the ResourceManager thread for the after-load rebuild
// (its textures then load on that thread).
#include <cstdint>
#include <memory>

#include "engine/entity/EntityTemplate.h"
#include "render/scene/SceneParameterValues.h"
#include "scene/envelopes/Envelope.h"

class ResourceTexture;
class SceneParametersWrapper;

class SceneParametersTemplate : public EntityTemplate {
public:
    SceneParametersTemplate();
    ~SceneParametersTemplate() override;
    static const RTTIClass* RegisterRTTIClass();
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "SceneParametersTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "SceneParametersEntity"; }

    // Rebuilds the wrapper (waiting for the textures unless load flag 4 is set).
    void OnLoaded(uint32_t options) override;
    // A binary template's property list is read without the load hook: the render-side
    // set is built from it here.
    bool ReadTemplateProperties(BoundedReader& in) override;
    // Rebuilds the wrapper, tells the entities, and for the project's "UI scene param
    // template" hands the new set to the UI and notifies the configuration.
    void OnPropertyChanged(const char* propertyName) override;

    // Blends the renderer to this set over the seconds ("Attack time" when negative);
    // nothing before the wrapper exists.
    void StartTransition(uint32_t mode, float seconds);
    // Makes the renderer copy this set into its UI set; nothing before the wrapper exists.
    void ApplyAsUISceneParameters();
    // Takes the cloud textures again, releases the old wrapper and builds a new one.
    void RebuildWrapper(bool wait);
    // Fills a values record: every property, the loaded textures and the sampled curves.
    void FillValues(SceneParameterValues& out) const;

    SceneParametersWrapper* Wrapper() const { return wrapper; }
    ResourceTexture* CloudTexture() const { return cloudTexture; }
    ResourceTexture* LayerTexture() const { return layerTexture; }

    SceneParameterValues values;
    NameString cloudTextureFileName;  // "Cloud texture file name"
    NameString layerTextureFileName;  // "Texture file name"
    TEnvelope<Vector> toneMappingCurve;      // "Tone mapping curve"
    TEnvelope<HDRColor> colorLookupCurve;    // "Color lookup curve"
    TEnvelope<Vector> rgbShiftScaleCurve;    // "RGB shift scale curve"

private:
    void ReleaseTextures();

    SceneParametersWrapper* wrapper = nullptr;
    ResourceTexture* cloudTexture = nullptr;
    ResourceTexture* layerTexture = nullptr;
};

// SceneParametersTemplate::StartTransition of a scene-parameter template, and the settle
// of the UI scene parameters (ApplyAsUISceneParameters); other templates are ignored.
void StartSceneParametersTransition(EntityTemplate* t, uint32_t flags, float blendTime);
void StopSceneParametersTransition(EntityTemplate* t);
