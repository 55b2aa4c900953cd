#pragma once
// Effect definitions: an SFXDefinition is a list of elements (quads, particle systems,
// meshes, point and spot lights, sounds) that play together, each with key-framed curves
// for its placement and colour. Pure property data stored inside an SFXTemplate; its
// running instances are SFXContexts.
//
// Resolving (after loading or editing) turns the stored properties into what drawing
// needs: textures, shaders, the particle or mesh template, the pass mask and the list of
// envelope bindings (envelope of the element, playback-state slot of its context).
//
// Threads: definitions are edited and resolved on the main thread and read by the render
// thread through their contexts. Every path that changes elements or resources first
// flushes the renderer queue and waits. Every live definition is in one global list
// under its own lock (SFXContext::ReapplyAll walks it).
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SimpleGUID.h"
#include "core/text/NameString.h"
#include "scene/envelopes/Envelope.h"

class CriticalSection;
class DeviceObjectHandle;
class EntityTemplate;
class Resource;
class ResourceShader;
class SFXContext;
class SFXDefinition;
class SFXElementContext;

// Guards the list of live definitions. Made by a start-up row; null before it.
extern CriticalSection* gSFXDefinitionListLock;

enum SFXFaceCameraMode : uint32_t {
    SFX_FACE_NONE = 0,
    SFX_FACE_SCREEN_FULL = 1,
    SFX_FACE_CAMERA_FULL = 2,
    SFX_FACE_FIX_X = 3,
    SFX_FACE_FIX_Y = 4,
    SFX_FACE_SCREEN_FIX_X = 5,
    SFX_FACE_SCREEN_FIX_Y = 6,
    SFX_FACE_CAMERA_OFFSET = 7,
};
enum : uint8_t { SFX_TACTICAL_EXTENDED_SAME_AS_VR = 0, SFX_TACTICAL_EXTENDED_TRUE = 1, SFX_TACTICAL_EXTENDED_FALSE = 2 };
enum SFXBlendingMode : uint32_t {
    SFX_BLEND_NONE = 0, SFX_BLEND_ALPHA, SFX_BLEND_ADD, SFX_BLEND_ADD_ALPHA, SFX_BLEND_INV_ALPHA,
    SFX_BLEND_SUBTRACT, SFX_BLEND_MODULATE, SFX_BLEND_MODULATE_INV, SFX_BLEND_MIN,
};

// Playback-state slots of an element context: the four base curves, then the kind's.
enum : uint32_t {
    SFX_STATE_POSITION = 0,
    SFX_STATE_ROTATION = 1,
    SFX_STATE_SCALE = 2,
    SFX_STATE_COLOR = 3,
    SFX_STATE_KIND_FIRST = 4,  // frame curve, spawn rate, progress, range, start curve
    SFX_STATE_KIND_SECOND = 5, // sound volume
    SFX_STATE_COUNT = 6,
};

// One envelope of the element and the slot of the context state that plays it.
struct SFXEnvelopeBinding {
    const Envelope* envelope = nullptr;
    uint32_t state = 0;
};

class SFXElementDefinition : public RTTIPolyBaseClass {
public:
    SFXElementDefinition();
    ~SFXElementDefinition() override;
    SFXElementDefinition(const SFXElementDefinition&) = delete;
    SFXElementDefinition& operator=(const SFXElementDefinition&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    // Flushes the renderer (when owned), resolves again and sets every context of the
    // owner up again.
    void OnPropertyChanged(const char* propertyName) override;

    // ---- Element operations, in their fixed order ----
    virtual const char* GetClassName() const { return "SFXElementDefinition"; }
    virtual void ReleaseResources() {}
    virtual void Preload() {}
    virtual void RequestResources() {}
    virtual bool IsMeshElement() const { return false; }
    virtual EntityTemplate* GetTemplate() const { return nullptr; }
    virtual void RefreshFromTemplate() {}
    // Render thread: draws the element with its world matrix and colour in a pass.
    virtual void Render(SFXElementContext* context, const Matrix& world, const Vector& colour, uint32_t pass) {}
    virtual void RenderSecondary(SFXElementContext* context, const Matrix& world) {}
    virtual bool QueryPass(SFXElementContext* context) { return false; }
    virtual bool RenderShadow(SFXElementContext* context, const Matrix& world) { return false; }
    virtual SFXElementContext* CreateContext() const { return nullptr; }
    // The base part: the four base bindings and the view mask. Kinds run it first.
    virtual void Resolve(bool load);

    TEnvelope<Vector> position{ENVELOPE_COMBINE_ADD};     // "Position"
    TEnvelope<Vector> rotation{ENVELOPE_COMBINE_ADD};     // "Rotation", degrees
    TEnvelope<Vector> scale{ENVELOPE_COMBINE_MULTIPLY};   // "Scale"
    TEnvelope<HDRColor> color{ENVELOPE_COMBINE_MULTIPLY}; // "Color"
    Vector pivot{0, 0, 0, 0};                             // "Pivot"
    uint32_t faceCameraMode = SFX_FACE_NONE;              // "Face camera mode"
    float faceCameraOffset = 0.0f;                        // "Face camera offset"
    SFXDefinition* owner = nullptr;
    char* description = nullptr;                          // "Description": the element's name
    uint8_t visibleInTacticalExtended = SFX_TACTICAL_EXTENDED_FALSE;
    bool enabled = true;                                  // "Enabled"
    bool expandsBoundingBox = true;                       // "Expands bounding box"
    bool useFSEColorMult = true;                          // "Use FSE SFX color mult"
    bool visibleInCombatView = true;                      // "Visible in combat view"
    bool visibleInTacticalView = true;                    // "Visible in tactical view"
    bool scaleWithParent = true;                          // "Scale with parent"
    uint32_t passMask = 17;
    uint32_t viewMask = 0xFFFFFFFFu;
    uint8_t secondaryPass = 0;
    uint8_t secondFlag = 0;
    Dynarray<SFXEnvelopeBinding> envelopeBindings;

    // True when the description equals the name byte for byte (a null description or
    // name matches nothing).
    bool NameMatches(const char* name) const;

protected:
    void Bind(const Envelope& e, uint32_t state);
};

class SFXQuadElementDefinition : public SFXElementDefinition {
public:
    SFXQuadElementDefinition();
    ~SFXQuadElementDefinition() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    const char* GetClassName() const override { return "SFXQuadElementDefinition"; }
    void ReleaseResources() override;
    void RequestResources() override;
    void Render(SFXElementContext* context, const Matrix& world, const Vector& colour, uint32_t pass) override;
    SFXElementContext* CreateContext() const override;
    void Resolve(bool load) override;

    // The frame layout: size (1/X, 1/Y, 1/X, 1/Y) and count max(1, X × Y).
    void SetTextureFramesX(uint32_t x);
    void SetTextureFramesY(uint32_t y);
    void UpdateFrameLayout();
    // The option text of the shaders: "TEXTURE ", "SOFTNESS ", "TEXTURE_ANIMATION ".
    void ShaderOptions(char* text, uint32_t size) const;
    // The lens flare's screen-space model matrix; fades the colour's alpha. False when
    // nothing is drawn (a screen of no size, a point at infinity).
    bool LensFlareMatrix(const Matrix& world, Vector& colour, Matrix& model) const;

    NameString textureFileName;                        // "Texture file name"
    uint32_t textureFramesX = 1;                       // "Texture frames X"
    uint32_t textureFramesY = 1;                       // "Texture frames Y"
    float randomFrameTimeout = 0.0f;                   // "Random frame timeout"
    TEnvelope<Vector> frameAnimationCurve{ENVELOPE_COMBINE_KEYS_ONLY};  // "Frame animation curve"
    uint32_t blendingMode = SFX_BLEND_ADD_ALPHA;       // "Blending mode"
    uint32_t alphaTestMode = 1;                        // "Alpha test mode"
    float alphaReference = 0.01f;                      // "Alpha reference value"
    float refractionPower = 0.0f;                      // "Refraction power"
    float refractionGranularity = 1.0f;                // "Refraction granularity"
    uint32_t refractionLevel = 2;                      // "Refraction level"
    Vector uvCenter{0.5f, 0.5f, 0.0f, 0.0f};           // "UV center"
    bool softness = false;                             // "Softness"
    bool twoSided = true;                              // "2-sided"
    bool depthRead = true;                             // "Depth read"
    bool renderAsLensFlare = false;                    // "Render as lens flare"
    float flareDistance = 0.0f;                        // "Flare distance"

    Resource* texture = nullptr;
    DeviceObjectHandle* textureHandle = nullptr;  // one device reference held (render thread)
    ResourceShader* vertexShader = nullptr;
    ResourceShader* pixelShader = nullptr;
    ResourceShader* refractionPixelShader = nullptr;
    Vector frameSize{1, 1, 1, 1};
    uint32_t frameCount = 1;
};

// The particle and mesh kinds hold a template reference.
class SFXTemplateElementDefinition : public SFXElementDefinition {
public:
    ~SFXTemplateElementDefinition() override;
    void ReleaseResources() override;
    void RequestResources() override;
    EntityTemplate* GetTemplate() const override { return heldTemplate; }

    SimpleGUID templateGuid;
    EntityTemplate* heldTemplate = nullptr;

protected:
    // Acquires the template of the GUID; keeps it when its type is typeRow, else logs
    // message with the template's name and drops it. True when a template is held.
    bool AcquireTemplate(bool load, uint32_t typeRow, const char* message);
};

class SFXParticleElementDefinition : public SFXTemplateElementDefinition {
public:
    SFXParticleElementDefinition();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    const char* GetClassName() const override { return "SFXParticleElementDefinition"; }
    void Render(SFXElementContext* context, const Matrix& world, const Vector& colour, uint32_t pass) override;
    void RenderSecondary(SFXElementContext* context, const Matrix& world) override;
    SFXElementContext* CreateContext() const override;
    void Resolve(bool load) override;

    TEnvelope<Vector> spawnRateMultiplier{ENVELOPE_COMBINE_MULTIPLY};  // "Spawn rate multiplier"
};

class SFXMeshElementDefinition : public SFXTemplateElementDefinition {
public:
    SFXMeshElementDefinition();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    const char* GetClassName() const override { return "SFXMeshElementDefinition"; }
    bool IsMeshElement() const override { return true; }
    void RefreshFromTemplate() override;
    void Render(SFXElementContext* context, const Matrix& world, const Vector& colour, uint32_t pass) override;
    void RenderSecondary(SFXElementContext* context, const Matrix& world) override;
    SFXElementContext* CreateContext() const override;
    void Resolve(bool load) override;

    NameString shaderPreset;                               // "Shader preset"
    NameString animation;                                  // "Animation"
    TEnvelope<Vector> animationProgress{ENVELOPE_COMBINE_MULTIPLY};  // "AnimationProgress"
    BoundingBox4 templateBox = BoundingBox4::UNITCUBE3D;
    uint32_t presetIndex = 0;
};

class SFXLightElementDefinition : public SFXElementDefinition {
public:
    SFXLightElementDefinition();
    ~SFXLightElementDefinition() override;
    void ReleaseResources() override;
    void Render(SFXElementContext* context, const Matrix& world, const Vector& colour, uint32_t pass) override;
    void Resolve(bool load) override;

    TEnvelope<Vector> range{ENVELOPE_COMBINE_MULTIPLY};  // "Range": (inner or outer, the other)
    NameString maskTexture;                              // "Mask texture"
    bool drawLightWireframe = false;                     // "Draw light wireframe"
    Resource* maskTextureResource = nullptr;
    DeviceObjectHandle* maskHandle = nullptr;  // one device reference held (render thread)
};

class SFXPointLightElementDefinition : public SFXLightElementDefinition {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    const char* GetClassName() const override { return "SFXPointLightElementDefinition"; }
    SFXElementContext* CreateContext() const override;
};

class SFXSpotLightElementDefinition : public SFXLightElementDefinition {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    const char* GetClassName() const override { return "SFXSpotLightElementDefinition"; }
    SFXElementContext* CreateContext() const override;

    float spotWidth = 30.0f;    // "Spot width", degrees
    float spotSoftness = 1.0f;  // "Spot softness"
};

class SFXSoundElementDefinition : public SFXElementDefinition {
public:
    SFXSoundElementDefinition();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    const char* GetClassName() const override { return "SFXSoundElementDefinition"; }
    void Preload() override;
    SFXElementContext* CreateContext() const override;
    void Resolve(bool load) override;

    NameString soundEntryName;                                   // "Sound entry name"
    uint32_t soundChannel = 0;                                   // "Sound channel"
    TEnvelope<Vector> soundStartEnvelope{ENVELOPE_COMBINE_KEYS_ONLY};  // "Sound start envelope"
    TEnvelope<Vector> volume{ENVELOPE_COMBINE_MULTIPLY};         // "Volume"
};

class SFXDefinition : public RTTIPolyBaseClass {
public:
    // Empty, appended to the global list.
    SFXDefinition();
    // Deletes the elements; leaves the global list.
    ~SFXDefinition() override;
    SFXDefinition(const SFXDefinition&) = delete;
    SFXDefinition& operator=(const SFXDefinition&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    // Before reading: the render thread must not read the elements (unless options has 4).
    void OnPreDeserialize(uint32_t options) override;
    // Owners set; resolved unless options has 4.
    void OnLoaded(uint32_t options) override;
    // Flushes, resolves, sets every context up again without keeping states.
    void OnPropertyChanged(const char* propertyName) override;

    void ResolveElements(bool load);
    // Deletes disabled elements keeping the order of the rest (renderer flushed first).
    void StripDisabledElements();
    void ForEachReleaseResources();
    void PreloadAll();
    void RequestAllResources();
    // Setup again (identity matrix, no state keeping) for every context of the chain.
    void SetupAllContexts();
    // Appends an owned element (tests, tools); the caller resolves.
    void AddElement(SFXElementDefinition* element);

    // Live definitions (tests); the lock must be held by callers walking the list.
    static uint32_t LiveCount();
    static SFXDefinition* FirstLive() { return listHead; }
    SFXDefinition* NextLive() const { return listNext; }

    Dynarray<SFXElementDefinition*> elements;   // "Element definitions"
    Vector scaleForAllElements{1, 1, 1, 1};     // "Scale for all elements"
    uint32_t passMask = 0;
    uint8_t secondaryPass = 0;
    uint8_t secondFlag = 0;
    float deleteTimeout = 1.0f;                  // "Delete timeout"
    SFXContext* firstContext = nullptr;
    SFXContext* lastContext = nullptr;

private:
    static SFXDefinition* listHead;
    static SFXDefinition* listTail;
    SFXDefinition* listPrevious = nullptr;
    SFXDefinition* listNext = nullptr;
};
