#pragma once
// Effect templates and effect entities. An SFXTemplate owns one SFXDefinition and a few
// playback settings; its stored form is the template's properties followed at once by
// the definition's. An SFXEntity plays it through an SFXContext: it starts it when it
// enters the game (or after the activation delay), restarts and advances it for scripts,
// and deletes itself "Delete timeout" seconds after the effect finished when asked to.
//
// Timers (the entity's scheduled callbacks): 1 the delayed start, 2 the finished check
// (every 1 to 2 s), 3 the deletion, 4 the bounding-box fetch (global scheduler).
//
// Threads: main thread; the running effect is reached only through the context's
// sub-commands.
#include <cstdint>

#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "scene/sfx/SFXContext.h"
#include "scene/sfx/SFXDefinition.h"

class ParticleSpawner;

enum : uint8_t { SFX_TIMER_GAMEPLAY = 0, SFX_TIMER_SYSTEM = 1, SFX_TIMER_GAME = 2 };
enum : uint32_t {
    SFX_CALLBACK_START = 1,
    SFX_CALLBACK_CHECK_FINISHED = 2,
    SFX_CALLBACK_DELETE = 3,
    SFX_CALLBACK_BOUNDING_BOX = 4,
};
// The entity's render flags the effect sets.
enum : uint32_t {
    SFX_RENDER_FORWARD = 0x20,
    SFX_RENDER_DEFERRED = 0x40,
    SFX_RENDER_THIRD = 0x80,
    SFX_RENDER_BOX_VALID = 0x100,
    SFX_RENDER_PASS32 = 0x200,
};

// The shared generator of the entities' random delays: seed := seed × 214013 + 2531011;
// the delay is (seed before the step >> 16) / 65536 + 1, in [1, 2). Tests seed it.
void SFXSeedEntityDelays(uint32_t seed);
float SFXNextEntityDelay();
// The render flags of a definition's pass mask m: 2 → 0x40, 8 → 0x80, 17 → 0x20, 32 → 0x200.
uint32_t SFXRenderFlagsForPassMask(uint32_t m);

class SFXTemplate : public EntityTemplate {
public:
    SFXTemplate();
    // Releases the definition's resources, then deletes it.
    ~SFXTemplate() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "SFXTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "SFXEntity"; }
    bool HasRenderingData() const override { return true; }
    void StripDisabledElements() { definition->StripDisabledElements(); }
    void PreloadElements() { definition->PreloadAll(); }
    void QueueRequest(uint32_t argument) override;
    // A context of no entity playing the definition at the identity matrix.
    SFXContext* CreatePreview();
    void DestroyPreview(SFXContext* preview);
    // Moves the preview to m, draws it (render task 69) and the template's helper.
    void DrawPreview(SFXContext* preview, const Matrix& m);
    void* CreatePreviewObject() override { return CreatePreview(); }
    void DestroyPreviewObject(void* object) override { DestroyPreview(static_cast<SFXContext*>(object)); }

    // Stored last among the template's properties, so a stored template is its own
    // properties followed by the definition's.
    SFXDefinition ownedDefinition;
    SFXDefinition* const definition = &ownedDefinition;
    uint8_t activityTimer = SFX_TIMER_GAMEPLAY;   // "Activity timer"
    bool offscreenProcessingEnabled = true;       // "Offscreen processing enabled"
    float activationAtStartDelay = 0.0f;          // "Activation at start delay"
    bool constantBoundingBoxUpdate = false;       // "Constant BoundingBox Update Enabled"
    bool useFSEColorMultiplier = true;            // "Use FSE SFX Color Multiplier"
};

class SFXEntity : public Entity {
public:
    SFXEntity();
    ~SFXEntity() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // ---- Entity slots ----
    void OnLoaded(uint32_t options) override;
    const BoundingBox4& GetLocalBoundingBox() const override;
    void InitTriggerActivation() override;
    void RequestDelete(uint32_t argument) override;
    void DrawHelpers(uint32_t flags) override;
    void OnLayerApplied() override;
    EntityRenderingContext* CreateRenderingContext() override;

    // ---- Script ----
    void SetSpeedMultiplier(float value);
    void SetSpawnRateMultiplier(float value);
    void SetElementLocalColor(const char* name, const Vector& colour);
    void SetElementLocalColor(const char* name, float r, float g, float b, float a);
    void SetElementSpeedMultiplier(const char* name, float value);
    // A null name breaks every loop and cancels the delayed start.
    void BreakLoop(const char* name);
    void ActivateLoop(const char* name);
    void Restart() { Restart(0, true); }
    void Restart(uint8_t suppressSound, bool withBoundingBoxTimer);
    void AdvanceTime(float seconds);
    void SetDeleteAtStop(bool value);

    // The spawner every new context receives (owned; deleted on the render thread).
    void SetSpawner(ParticleSpawner* spawner);
    SFXContext* Context() const { return static_cast<SFXContext*>(GetRenderingContext()); }
    SFXTemplate* GetSFXTemplate() const;
    // "Local bounding box": the entity's own stored box (GetLocalBoundingBox answers the
    // unit box).
    BoundingBox4 StoredLocalBox() const { return Entity::GetLocalBoundingBox(); }
    void SetStoredLocalBox(const BoundingBox4& box) { SetLocalBoundingBox(box); }

    bool displayRealBoundingBox = false;  // "Display real bounding box"
    bool startAtGameInit = true;          // "StartAtGameInit"
    bool deleteAtStop = true;             // "DeleteAtStop"

private:
    void ApplyRenderFlags();
    ParticleSpawner* spawner = nullptr;
};
