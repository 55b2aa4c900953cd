#pragma once
// MeshEntity: the entity drawn from a MeshTemplate. It chooses one of the template's
// shader presets ("Shader preset", falling back to "Default" and then to the first), keeps
// a local colour and a lightmap mapping, registers as a walk-map obstacle when its template
// has "Dynamic player collision", and draws through a MeshEntityRenderingContext, the
// render thread's copy that forwards to the template's MeshTemplateRenderingData.
//
// A global temporary preset (TemporarySetShaderPresetForAllMeshes) overrides every mesh's
// own choice until ReturnAllMeshesToDefaultShaderPreset; meshes created meanwhile take it.
//
// A template whose hierarchy has nodes and bones gives the entity a MeshAnimationController
// (entity flag 0x8 raised while it exists): channels per animation-tree node, mounts, the
// pose evaluated once per frame into the bone palette the context draws with. The
// animation half of the class and its line of sight live in scene/animation
// (MeshEntityAnimation.cpp, MeshEntityLineOfSight.cpp), above the mesh layer.
//
// Threads: the entity on the main thread; the context's ops run on the render thread in
// stream order (render command 47), its draws on the render thread.
#include <cstdint>
#include <vector>

#include "core/math/HDRColor.h"
#include "core/text/NameString.h"
#include "engine/entity/Entity.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/scene/LightmapMapping.h"

class MeshAnimationController;
class MeshTemplate;
class MeshTemplateRenderingData;
class ProceduralTargetingAnimation;
struct AnimationParams;

constexpr uint8_t kMeshNoCustomPreset = 255;
// TemporarySetShaderPreset flags: bit 0 prefers the remembered custom preset.
constexpr uint32_t kMeshPresetUseCustom = 1;

class MeshEntity : public Entity {
public:
    MeshEntity() = default;
    ~MeshEntity() override;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // ---- Entity slots ----
    // The base, then the global temporary preset when one is set.
    void InitFromTemplate(EntityTemplate* t, uint32_t creationFlags) override;
    void ChangeTemplate(EntityTemplate* t) override;
    // The base, then with "Dynamic player collision" the walk-map tiles of this entity.
    void InitTriggerActivation() override;
    // The base, then with "Dynamic player collision" the walk map is marked dirty.
    void UpdateGlobalLocation() override;
    // With a player collision type, the effective collision box in green first.
    void DrawBoundingBox(const BoundingBox4& box, const HDRColor& color) override;
    // A child mounted to one of this mesh's bones is unmounted first.
    void RemoveChild(Entity* child) override;
    EntityRenderingContext* CreateRenderingContext() override;
    // Grows the world box by the effective collision box and the "Collision bounding box".
    void OnGlobalLocationChanged(BoundingBox4& worldBox) override;
    void OnGhostModeOn() override { MarkWalkMapDirty(); }
    void OnGhostModeOff() override { MarkWalkMapDirty(); }

    // The choices of "Shader preset": the template's preset names; other properties leave
    // the list alone. An editor query.
    void GetPropertyChoices(const char* propertyName, std::vector<NameString>& list) const;
    // True only for the exact class with "Optimizable" and the template's "Optimizable mesh".
    bool IsOptimizable() const;

    // ---- Presets and colour ----
    NameString GetShaderPreset() const { return shaderPresetName; }
    // Stores the name and selects it (then "Default", then index 0).
    void SetShaderPreset(const NameString& name);
    HDRColor GetLocalColor() const { return localColor; }
    // Posts the linear colour to the context when it changed.
    void SetLocalColor(const HDRColor& color);
    bool HasShaderPreset(const char* name) const;
    // Remembers the preset of that name (none when absent).
    void SetCustomTemporaryShaderPreset(const char* name);
    // With flags bit 0 and a remembered custom preset: that one; else the name, "Default", 0.
    void TemporarySetShaderPreset(const char* name, uint32_t flags);
    uint8_t GetShaderPresetIndex() const { return presetIndex; }
    uint8_t GetCustomPresetIndex() const { return customPresetIndex; }
    const BoundingBox4& GetLocalCollisionBoundingBox() const;
    // The shadow strength of the fake shadow: no effect in this system.
    void SetFakeShadowStrength(float strength) {}

    static void TemporarySetShaderPresetForAllMeshes(const char* name, uint32_t flags);
    static void ReturnAllMeshesToDefaultShaderPreset();
    static const NameString& GetTemporaryShaderPreset();

    MeshTemplate* GetMeshTemplate() const;
    MeshTemplateRenderingData* GetRenderingData() const;

    // ---- Animation (false, -1 or the identity without a controller) ----
    MeshAnimationController* GetAnimationController() const { return controller; }
    bool StartAnimation(const char* node, const char* animation, const AnimationParams* params);
    bool StartAnimationByIndex(const char* node, int32_t index, const AnimationParams* params);
    // Null (after "Cannot start animation because the node %s cannot be found") when the
    // node is unknown.
    ProceduralTargetingAnimation* StartProceduralTargetingAnimation(const char* node, uint32_t flags);
    bool StopAnimation(const char* node, int32_t id, float fade);
    bool StopAllAnimations(const char* node, float fade);
    bool SetAnimationSpeedMultiplier(const char* node, int32_t id, float speed);
    bool SetAnimationProgress(const char* node, int32_t id, float progress);
    bool SetAnimationTimeFlags(const char* node, int32_t id, uint32_t flags);
    // Stores the override and writes it as OverrideProgress of channel 0's first animation
    // not stopping.
    void SetRootAnimProgress(float progress) override;
    // Only children of this entity mount; the refusals are logged.
    bool MountEntity(const char* node, Entity* child, const Matrix& offset = Matrix::IDENTITY);
    bool MountEntity(int32_t node, Entity* child, const Matrix& offset = Matrix::IDENTITY);
    void UnmountEntity(Entity* child);
    bool SetMountedEntityOffset(Entity* child, const Matrix& offset = Matrix::IDENTITY);
    // Poses (once per frame) and places the mounted children.
    void UpdateMountedObjects();
    int32_t GetHierarchySubobjectIndex(const char* name) const;
    Matrix GetLocalHierarchyPosition(int32_t node);
    void GetGlobalHierarchyPosition(int32_t node, Matrix& out);
    void GetGlobalHierarchyPositionVector(int32_t node, Vector& out);
    // Poses the hierarchy with the mesh workspace and posts the palette to the context
    // (the helper-drawing slot, called for a drawn entity with flag 0x8, and the Game's
    // per-tick mesh list).
    void Animate(uint32_t renderFlags = 0);
    void DrawHelpers(uint32_t flags) override { Animate(flags); }

    // ---- Replication of the root animation ----
    void SetAnimationReplication(Entity* target, uint8_t animationProperty, uint8_t progressProperty);
    // Writes channel 0's state and progress, as the three encoded bytes carry them, to the
    // target's properties.
    void UpdateReplicatedAnimData();
    // The 3-byte encoded state of channel 0 (0 without an animation).
    uint32_t GetReplicatedEncAnimData();
    void OnReplicatedAnim(uint32_t property) override;
    void OnReplicatedAnimProgress(uint32_t property) override;

    // ---- Line of sight ----
    bool TestLineOfSight(const Vector& start, const Vector& end, uint32_t flags, uint32_t mask, float entry,
                         LOSResult* hit) override;

    HDRColor localColor{255, 255, 255, 255, 1.0f};
    float unusedFloat = 1.0f;
    NameString shaderPresetName;
    bool optimizable = true;
    LightmapMapping lightmapMapping{Vector(0, 0, 0, 0), 0xFFFFFFFFu};

    SafePointer<Entity> replicationTarget;
    uint8_t animationProperty = 255;
    uint8_t progressProperty = 255;
    uint8_t lastReplicatedAnimation = 255;
    bool replicationWarned = false;
    float rootProgressOverride = -1.0f;

    // Deletes the controller (flag 0x8 cleared), then makes one when the template's
    // hierarchy has nodes and bones (flag 0x8 raised); also when the template re-reads its
    // mesh data.
    void RecreateAnimationController();

private:
    void DeleteAnimationController();

    MeshAnimationController* controller = nullptr;

    // Selects the index, posts it to the context when it changed.
    void SelectPreset(int32_t index);
    // The index of the name, then of the registry's global preset name, then of "Default",
    // then 0.
    int32_t PresetWithFallbacks(const char* name) const;
    bool DynamicCollision() const;
    void MarkWalkMapDirty() const;

    uint8_t presetIndex = 0;
    uint8_t customPresetIndex = kMeshNoCustomPreset;
};

// The render thread's mesh: the rendering data, the preset, the colour, the bone palette
// and the lightmap mapping, changed by ops 0 to 3.
class MeshEntityRenderingContext : public EntityRenderingContext {
public:
    // Render-state bits taken from the rendering data (op 0): 0x2 the secondary pass, 0x20
    // the second flag, 0x40 rendering flag 5.
    static constexpr uint32_t kStateSecondary = 0x2, kStateSecond = 0x20, kStateFlag5 = 0x40;

    MeshEntityRenderingContext(const EntityRenderingContextSetup& setup, MeshTemplateRenderingData* data,
                               uint32_t preset, const Vector& colour, const LightmapMapping& lightmap);
    ~MeshEntityRenderingContext() override;

    // ---- Main thread: the ops ----
    void PostRenderingData(MeshTemplateRenderingData* data);           // op 0
    void PostPreset(uint32_t preset);                                  // op 1
    void PostBones(const float* rows, uint32_t count);                 // op 2 (48 bytes a bone)
    void PostLightmap(const LightmapMapping& lightmap);                // op 3
    static void ExecuteMeshOp(uint32_t op, CommandRingBuffer& r);

    // ---- Render thread ----
    void Draw(void* task, const Matrix& world, const RenderTaskArguments& arguments) override;
    void DrawDepth(void* task, uint32_t flags) override;
    // The preset's pass mask (the pass kinds 1 to 4 as bits 2, 4, 8, 16).
    uint32_t OutlineCategory(uint32_t renderFlags) const override;
    // The pass-mask draw with the task's matrix; false when nothing drew.
    bool DrawPassMask(void* task, const Matrix& world) override;

    MeshTemplateRenderingData* RenderingData() const { return data; }
    uint32_t Preset() const { return preset; }
    uint32_t RenderState() const { return renderState; }
    const std::vector<float>& Bones() const { return bones; }
    const LightmapMapping& Lightmap() const { return lightmap; }
    // The entity's linear local colour the draws take: copied at creation, then op 7's.
    const Vector& MeshColour() const { return LocalColor(); }

private:
    void SetRenderingData(MeshTemplateRenderingData* d);

    MeshTemplateRenderingData* data = nullptr;
    float alpha = 1.0f;
    uint32_t preset = 0;
    uint32_t renderState = 0;
    std::vector<float> bones;  // 12 floats a bone
    LightmapMapping lightmap;
};

// What navigation asks of a mesh (through SceneContentServices): a mesh entity's "Player collision type" and,
// for "Face", its main-memory vertices and 16-bit triangles.
uint32_t MeshPlayerCollisionType(Entity* mesh);
bool MeshCollisionDataOf(Entity* mesh, struct MeshCollisionData* out);
