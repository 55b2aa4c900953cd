#pragma once
// Particle templates and particle entities. A ParticleTemplate embeds one ParticleSystem
// definition; a ParticleEntity plays it through its rendering context, which owns the
// render thread's ParticleSystemInstance. Every template change, game start or context
// creation gives the entity a fresh, empty instance ("apply the template"); the spawning
// flag survives the replacement.
//
// Threads: templates and entities on the main thread. The context is built on the main
// thread, which afterwards only posts its sub-commands (render command 47) and reads the
// instance's box mailbox; the render thread runs the sub-commands, the draws and the
// destruction.
#include <cstdint>

#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "render/scene/EntityRenderingContext.h"
#include "scene/particles/ParticleSystem.h"

class CommandRingBuffer;
class ParticleSpawner;
class ParticleSystemInstance;

class ParticleTemplate : public EntityTemplate {
public:
    ParticleTemplate();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "ParticleTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ParticleEntity"; }
    // The definition is resolved again, then the entities refresh.
    void OnPropertyChanged(const char* propertyName) override;
    // After loading the definition is resolved, loading what it takes on this thread.
    void OnLoaded(uint32_t options) override;
    // The binary template's end: the properties are read; the definition is resolved.
    bool ReadBinaryData(BoundedReader& in, uint32_t version) override;

    // The preview: an instance at the identity matrix, spawning; destroyed and drawn by
    // the calls below (the object is the instance).
    void* CreatePreviewObject() override;
    void DestroyPreviewObject(void* object) override;
    // Moves the preview to m, draws it (render task) and the template's helper.
    void DrawPreviewObject(void* object, const Matrix& m);

    bool offscreenProcessingEnabled = true;  // "Offscreen processing enabled"
    ParticleSystem definition;               // "Particle system definition"
};

class ParticleEntity : public Entity {
public:
    ParticleEntity();
    ~ParticleEntity() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // ---- Entity slots ----
    EntityRenderingContext* CreateRenderingContext() override;
    // Game entry: the template applied in play mode; spawning with "Spawn in game".
    void InitTriggerActivation() override;
    // The template applied again in editor mode; spawning resumes when it was on.
    void RefreshAfterChange() override;
    // The template's box in its wireframe colour (white with flag 2); with "Display real
    // bounding box" also the entity's own box.
    void DrawHelpers(uint32_t flags) override;
    // The replacement spawner is deleted on the render thread first.
    void Destroy() override;

    // ---- Script ----
    void StartSpawning();
    void StopSpawning();
    void SetSpeedMultiplier(float multiplier);

    // The spawner that replaces the shared ones for this entity's instances (deleted on
    // the render thread with the entity).
    void SetReplacementSpawner(ParticleSpawner* spawner);
    void SetLifetimeMultiplier(float multiplier);
    void SetColor(const Vector& colour);

    bool IsSpawning() const { return spawning; }
    uint8_t PlayMode() const { return playMode; }
    ParticleTemplate* GetParticleTemplate() const;

    bool spawnInEditor = true;             // "Spawn in editor"
    bool spawnInGame = true;               // "Spawn in game"
    bool displayRealBoundingBox = false;   // "Display real bounding box"

private:
    class ParticleEntityRenderingContext* Context() const;
    // A fresh instance from the definition, with the entity's state (see the header).
    void ApplyTemplate(uint8_t mode);
    void ApplyTemplate(class ParticleEntityRenderingContext* context, uint8_t mode);

    bool spawning = false;
    uint8_t playMode = 0;
    float lifetimeMultiplier = 1.0f;
    Vector colour{1.0f, 1.0f, 1.0f, 1.0f};
    ParticleSpawner* replacementSpawner = nullptr;
};

// Sub-commands of a particle entity's context.
enum ParticleContextCommand : uint32_t {
    PARTICLE_CONTEXT_SET_INSTANCE = 0,  // ParticleSystemInstance*
    PARTICLE_CONTEXT_START = 1,
    PARTICLE_CONTEXT_STOP = 2,
    PARTICLE_CONTEXT_SPEED = 3,         // f32
    PARTICLE_CONTEXT_LIFETIME = 4,      // f32
    PARTICLE_CONTEXT_CARRY_TIME = 5,    // f32
    PARTICLE_CONTEXT_SPAWNER = 6,       // ParticleSpawner*
};

class ParticleEntityRenderingContext : public EntityRenderingContext {
public:
    // pausing: the template lets the instance pause while it is not drawn.
    ParticleEntityRenderingContext(const EntityRenderingContextSetup& setup, bool pausing);

    // ---- Main thread ----
    // Builds an instance of the definition at world with the flags and hands it over
    // (sub-command 0); the previous one dies on the render thread.
    void CreateInstance(const ParticleSystem& definition, const Matrix& world, uint32_t flags);
    void PostCommand(uint32_t command);
    void PostCommand(uint32_t command, float value);
    void PostSpawner(ParticleSpawner* spawner);
    // Drops the main side's uses of the instance's shaders and texture, then the base.
    void Release() override;
    // The newest box the instance published; false when none is new.
    bool FetchBoundingBox(BoundingBox4* box) override;
    bool Pausing() const { return pausing; }
    ParticleSystemInstance* MainInstance() const { return mainInstance; }

    // ---- Render thread ----
    static void ExecuteCommand(uint32_t command, CommandRingBuffer& r);
    void Destroy() override;
    // Skipped with flag 0x01 or 0x10; the local colour x the draw's colour x the scene
    // parameters' effect colour.
    void Draw(void* task, const Matrix& world, const RenderTaskArguments& arguments) override;
    // The instance follows the context's matrix.
    void OnRefreshed() override;
    ParticleSystemInstance* RenderInstance() const { return renderInstance; }

private:
    bool pausing;
    ParticleSystemInstance* mainInstance = nullptr;
    ParticleSystemInstance* renderInstance = nullptr;
};
