#pragma once
// SFXContext: one running instance of an SFXDefinition, the render proxy of an effect
// entity, of the template preview or of a template shown in the UI. It owns one element
// context per element, advances their envelope playback on the render thread every
// frame, composes each element's world matrix, keeps a bounding box and draws the
// elements in the renderer's passes.
//
// Threads: the main thread builds the element contexts (Setup) and afterwards only posts
// sub-commands of render command 47; the render thread applies them in order, updates
// (UpdateAll), draws and destroys. "Finished" and the published box are written by the
// render thread and read by the main thread (atomics; the box through a counter pair).
#include <atomic>
#include <cstdint>

#include "core/Sync.h"
#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "render/SceneDrawServices.h"
#include "render/scene/EntityRenderingContext.h"
#include "scene/sfx/SFXDefinition.h"

class CommandRingBuffer;
class EntityTemplate;
class ParticleSpawner;

// Context flags.
enum : uint32_t {
    SFX_CONTEXT_PREVIEW = 1,         // a preview: no entity
    SFX_CONTEXT_SECONDARY = 2,       // the definition has secondary-pass elements
    SFX_CONTEXT_CLOCK_GAMEPLAY = 4,  // the third clock
    SFX_CONTEXT_CLOCK_SYSTEM = 8,    // the first clock
    SFX_CONTEXT_DROP_UNDRAWN = 16,   // leaves the update list when not drawn
    SFX_CONTEXT_SECOND_FLAG = 32,    // the definition has second-flag elements
};

// Sub-commands of the effect executor.
enum SFXCommand : uint32_t {
    SFX_CMD_RESTART = 0,
    SFX_CMD_STOP = 1,
    SFX_CMD_SET_ELEMENT_CONTEXTS = 2,
    SFX_CMD_SET_SPEED_MULTIPLIER = 4,
    SFX_CMD_SET_SPAWN_RATE_MULTIPLIER = 5,
    SFX_CMD_SET_ELEMENT_LOCAL_COLOR = 6,
    SFX_CMD_SET_ELEMENT_SPEED_MULTIPLIER = 7,
    SFX_CMD_BREAK_LOOP = 8,
    SFX_CMD_ACTIVATE_LOOP = 9,
    SFX_CMD_FADE_OUT_AND_MUTE = 10,
    SFX_CMD_ADVANCE_TIME = 11,
    SFX_CMD_SET_PASS_MASKS = 12,
    SFX_CMD_SET_ELEMENT_VALUE = 13,
    SFX_CMD_SET_SPAWNER = 14,
    SFX_CMD_SET_LOCAL_COLOR_ALL = 15,
    SFX_CMD_REBIND_ELEMENT = 16,
};

// The running state of one element (render thread once handed over).
class SFXElementContext {
public:
    SFXElementContext();
    virtual ~SFXElementContext();
    SFXElementContext(const SFXElementContext&) = delete;
    SFXElementContext& operator=(const SFXElementContext&) = delete;

    // Samples position, rotation and scale at their fresh states: the element matrix
    // (no pivot). Kinds extend it.
    virtual void Start(const SFXElementDefinition& d, const Matrix& parent, uint32_t contextFlags, uint32_t extra);
    virtual void SetSpeedMultiplier(float value) {}
    virtual void SetElementValue(float value) {}
    virtual void SetSpawnRateMultiplier(float value) {}
    virtual void SetSpawner(ParticleSpawner* spawner) {}
    virtual void OnRestart() {}
    virtual void FadeOut(float seconds) {}
    virtual void SetMuted(uint8_t muted) {}
    virtual void Stop() {}
    // Advance, then the element matrix from the samples and the pivot. Kinds extend it.
    virtual void Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& d, const Matrix& parent);
    // Every binding's state moves on by dt; still-playing follows.
    virtual void Advance(const SFXElementDefinition& d, float dt);
    virtual void TakeOver(SFXElementContext* previous) {}
    virtual void Rebind(const SFXElementDefinition& d) {}

    BoundingBox4 localBox{Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1)};
    Matrix elementMatrix = Matrix::IDENTITY;
    Vector localColor{1, 1, 1, 1};
    EnvelopeState states[SFX_STATE_COUNT];
    uint8_t stillPlaying = 0;
};

class SFXContext : public EntityRenderingContext {
public:
    // owner: the entity (null for previews); t: the template (null allowed).
    SFXContext(const EntityRenderingContextSetup& setup, void* ownerEntity, EntityTemplate* t, uint32_t flags);
    // Render thread: frees the element contexts, leaves the update list.
    ~SFXContext() override;

    // ---- Main thread ----
    // Binds the definition on the first call; builds and starts a new element array
    // with the parent matrix; with keepStates and an equal count copies the envelope
    // states and lets each new element take over its old one; hands the array over.
    void Setup(SFXDefinition* definition, const Matrix& parent, bool keepStates, uint32_t extra);
    void Restart(uint8_t value, uint8_t suppressSound);
    void Stop();
    void SetSpeedMultiplier(float value);
    void SetSpawnRateMultiplier(float value);
    void SetElementLocalColor(const char* name, const Vector& colour);
    void SetElementSpeedMultiplier(const char* name, float value);
    // A null name breaks (activates) every loop.
    void BreakLoop(const char* name);
    void ActivateLoop(const char* name);
    void AdvanceTime(float seconds);
    void SetSpawner(ParticleSpawner* spawner);
    // The sub-commands that nothing in the game posts (tools, tests).
    void FadeOutAndMute(float seconds, uint8_t muted);
    void SetPassMasks(uint32_t andMask, uint32_t orMask);
    void SetElementValue(const char* name, float value);
    void SetLocalColorAll(const Vector& colour);
    // Every mesh element of the template refreshes from it and is rebound.
    void RefreshMeshTemplate(EntityTemplate* t);
    // Setup keeping states for every context of every live definition.
    static void ReapplyAll();
    // Leaves the definition's chain, then the base release (the render thread deletes).
    void Release() override;
    // A newer published box; false when none is new.
    bool FetchBoundingBox(BoundingBox4* box) override;
    bool Finished() const { return finished.load(std::memory_order_acquire) != 0; }
    SFXDefinition* Definition() const { return definition; }
    uint32_t ContextFlags() const { return contextFlags; }
    void* OwnerEntity() const { return ownerEntity; }
    SFXContext* NextInChain() const { return chainNext; }

    // ---- Render thread ----
    static void ExecuteRenderCommand(uint32_t command, CommandRingBuffer& r);
    void BreakLoopNow(const char* name);
    void ActivateLoopNow(const char* name);
    static void UpdateAll(const RenderFrameClock clocks[3]);
    // The four draw entries.
    void RenderMain(uint32_t passMask, uint32_t flags, const Vector& colour);
    void RenderSecondaryPass(uint32_t flags);
    bool QueryShadowPass(uint32_t flags);
    bool RenderShadowPass(uint32_t flags);
    // The renderer's slots.
    void Draw(void* task, const Matrix& world, const RenderTaskArguments& arguments) override;
    bool DrawPassMask(void* task, const Matrix& world) override;

    // Render-thread state (tests read it on the render thread).
    SFXElementContext** ElementContexts() const { return elementContexts; }
    uint32_t ElementCount() const { return elementCount; }
    bool Running() const { return running; }
    float Time() const { return time; }
    float SpeedMultiplier() const { return speedMultiplier; }
    float SpawnRateMultiplier() const { return spawnRateMultiplier; }
    bool Linked() const { return linked; }
    uint32_t PassAndMask() const { return passAndMask; }
    uint32_t PassOrMask() const { return passOrMask; }
    static SFXContext* FirstUpdated() { return updateHead; }
    SFXContext* NextUpdated() const { return updateNext; }
    // Replacements posted and applied (any thread).
    static uint32_t ReplacementsPosted() { return replacementsPosted.load(); }
    static uint32_t ReplacementsApplied() { return replacementsApplied.load(); }
    // The parent matrices of Setup: axis rows × the scale, or unit rows × the scale.
    static void ParentMatrices(const Matrix& m, const Vector& s, Matrix& scaled, Matrix& normalised);

private:
    // Render thread: the envelope operation on every bound envelope state of the elements.
    void ForEachEnvelopeState(void (Envelope::*apply)(EnvelopeState&, const char*) const, const char* name);
    template <class... T>
    void Post(uint32_t command, const T&... data);
    void PostNamed(uint32_t command, const char* name, const void* value, uint32_t valueBytes);
    void Link();
    void Unlink();
    // Main thread: out of the definition's chain of contexts.
    void LeaveChain();
    void Apply(uint32_t command, CommandRingBuffer& r);
    void UpdateOne(const RenderFrameClock clocks[3]);
    // The world matrix of an element for drawing: parent × element, aligned to the camera.
    Matrix ElementWorld(const SFXElementDefinition& d, const SFXElementContext& e) const;
    bool Takes(uint32_t i, uint32_t viewBit) const;
    static uint32_t ViewBit(uint32_t flags);

    SFXElementContext** elementContexts = nullptr;
    uint32_t elementCount = 0;
    uint32_t passAndMask = 0xFFFFFFFFu;
    uint32_t passOrMask = 0;
    SFXContext* updatePrevious = nullptr;
    SFXContext* updateNext = nullptr;
    bool linked = false;
    SFXDefinition* definition = nullptr;
    bool running = false;
    float time = 0.0f;
    float speedMultiplier = 1.0f;
    float spawnRateMultiplier = 1.0f;
    std::atomic<uint8_t> finished{0};
    uint8_t useFSEColor = 1;
    BoundingBox4 publishedBox{Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1)};
    CounterPair boxCounts;  // first: written, second: taken
    SFXContext* chainPrevious = nullptr;
    SFXContext* chainNext = nullptr;
    std::atomic<uint32_t> setupFrame{0};
    uint32_t contextFlags;
    void* ownerEntity;
    EntityTemplate* ownerTemplate;
    // Main thread: the element array last handed over (read by Setup for state copies
    // after a flush) and its count.
    SFXElementContext** mainElements = nullptr;
    uint32_t mainCount = 0;
    bool bound = false;
    bool inChain = false;
    // Render thread: the matrix of the draw in progress (the parent of every element).
    Matrix drawParent = Matrix::IDENTITY;

    static SFXContext* updateHead;
    static SFXContext* updateTail;
    static std::atomic<uint32_t> replacementsPosted;
    static std::atomic<uint32_t> replacementsApplied;
};
