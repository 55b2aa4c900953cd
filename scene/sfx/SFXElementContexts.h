#pragma once
// The running state of each effect element kind (render thread): the quad's frame
// animation, the particle element's system instance, the mesh element's animation, the
// light elements' renderer light and the sound element's sound instance.
#include <cstdint>

#include "core/rtti/SafePointer.h"
#include "engine/services/GameTimer.h"
#include "scene/sfx/SFXContext.h"

class EntitySoundEmitter;
class EntityTemplate;
class MeshAnimationController;
class MeshTemplateRenderingData;
class ParticleSystemInstance;
struct RendererLight;

// The shared generator of the quads' random frames: seed := seed × 214013 + 2531011,
// the value used is the seed before the step. Tests seed it.
void SFXSeedQuadFrames(uint32_t seed);
uint32_t SFXNextQuadFrameValue();

class SFXQuadElementContext : public SFXElementContext {
public:
    void Start(const SFXElementDefinition& d, const Matrix& parent, uint32_t contextFlags, uint32_t extra) override;
    void Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& d, const Matrix& parent) override;

    uint32_t currentFrame = 0;
    uint32_t nextFrame = 0;
    float blend = 0.0f;
    float randomFrameTimer = 0.0f;
};

class SFXParticleElementContext : public SFXElementContext {
public:
    ~SFXParticleElementContext() override;
    void Start(const SFXElementDefinition& d, const Matrix& parent, uint32_t contextFlags, uint32_t extra) override;
    void SetSpeedMultiplier(float value) override;
    void SetElementValue(float value) override;
    void SetSpawnRateMultiplier(float value) override;
    void SetSpawner(ParticleSpawner* spawner) override;
    void Advance(const SFXElementDefinition& d, float dt) override;
    void Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& d, const Matrix& parent) override;

    // Render thread: the instance joins the live list (once).
    void Link();
    bool Linked() const { return linked; }

    ParticleSystemInstance* instance = nullptr;
    uint8_t spawning = 0;
    float spawnRateMultiplier = 1.0f;
    // The context's multiplier × max(curve, 0) handed to the instance last.
    float spawnMultiplierInForce = 0.0f;
    ParticleSpawner* spawner = nullptr;

private:
    EntityTemplate* meshTemplate = nullptr;
    bool linked = false;
};

class SFXMeshElementContext : public SFXElementContext {
public:
    ~SFXMeshElementContext() override;
    void Start(const SFXElementDefinition& d, const Matrix& parent, uint32_t contextFlags, uint32_t extra) override;
    void Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& d, const Matrix& parent) override;
    void Rebind(const SFXElementDefinition& d) override;

    // Render thread: links the rendering data and builds the animation controller.
    void Bind(const SFXElementDefinition& d);

    MeshTemplateRenderingData* renderingData = nullptr;
    // The controller playing "Animation" at the node "root", or null.
    MeshAnimationController* controller = nullptr;
    int32_t treeNode = -1;
    // The animation's custom clock, advanced by the context's clock (the Game's timers
    // are never read on the render thread).
    GameTimer clock;
    float progress = 0.0f;
    bool bindPending = false;
};

class SFXLightElementContext : public SFXElementContext {
public:
    explicit SFXLightElementContext(bool spot);
    ~SFXLightElementContext() override;
    void Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& d, const Matrix& parent) override;

    RendererLight* light = nullptr;
    bool spot;
    // The light's colour from this frame's update, before the draw's alpha.
    Vector lightColor{1, 1, 1, 1};
};

class SFXSoundElementContext : public SFXElementContext {
public:
    static constexpr uint32_t kNoSound = 0xFFFFFFFFu;
    ~SFXSoundElementContext() override;
    void Start(const SFXElementDefinition& d, const Matrix& parent, uint32_t contextFlags, uint32_t extra) override;
    void OnRestart() override { skipNextStart = 1; }
    void FadeOut(float seconds) override;
    void SetMuted(uint8_t value) override { muted = value; }
    void Stop() override { FadeOut(0.0f); }
    void Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& d, const Matrix& parent) override;
    void TakeOver(SFXElementContext* previous) override;

    Matrix emitterMatrix = Matrix::IDENTITY;
    // kNoSound: none; 0: a start that gave nothing (suppressed or failed), addressed by
    // no later call.
    uint32_t soundId = kNoSound;
    float lastVolume = 1.0f;
    float baseVolume = 1.0f;
    uint8_t skipNextStart = 0;
    uint8_t muted = 0;
    EntitySoundEmitter* emitter = nullptr;

private:
    bool HasSound() const { return soundId != kNoSound && soundId != 0; }
};
