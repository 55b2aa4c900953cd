#pragma once
// MeshTemplate: the template of every mesh object (template type 1, ENTITY_MESH). It keeps
// the editable settings of a mesh (import source, collision and line-of-sight settings,
// animation definitions, the animation-tree definition, fake-shadow settings) as
// properties, and the loaded mesh as two owned objects: the render-side
// MeshTemplateRenderingData and the skeleton MeshHierarchy (scene/mesh/MeshData.h).
//
// Threads: loaded on the ResourceManager thread (or the caller's when loaded
// synchronously); everything else on the main thread.
#include <cstdint>
#include <vector>

#include "core/Dynarray.h"
#include "core/math/BoundingBox4.h"
#include "core/text/NameString.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"

class MeshHierarchy;
class MeshTemplateRenderingData;
class Resource;

// Player collision and line-of-sight collision kinds.
enum : uint32_t { MESH_COLLISION_NONE = 0, MESH_COLLISION_BOX = 1, MESH_COLLISION_FACE = 2 };

// One element of "Animations": a named animation file. The array is kept in ascending
// case-insensitive order of the names.
struct MeshTemplateAnimationDefinition {
    NameString name;
    NameString fileName;
    float time = 1.0f;

    static const RTTIClass* RegisterClass();
};

struct MeshFakeShadowDefinition {
    Vector bodyMapping{0, 0, 0, 0};
    Vector bodyScaleOffset{1, 1, 0, 0};
    float bodyPivotY = 2.0f;
    float bodyMaxShadowOffset = 10.0f;
    Vector headAMapping{0, 0, 0, 0};
    Vector headBMapping{0, 0, 0, 0};
    Vector headAScaleOffset{1, 1, 0, 0};
    Vector headBScaleOffset{1, 1, 0, 0};
    Vector headAPosition{0, 0, 0, 0};  // runtime: the head bones in the bind pose
    Vector headBPosition{0, 0, 0, 0};
    float headAMaxShadowOffset = 10.0f;
    float headBMaxShadowOffset = 10.0f;
    int32_t headABone = -1;  // runtime
    int32_t headBBone = -1;
    bool enabled = false;

    static const RTTIClass* RegisterClass();
};

class MeshTemplate : public EntityTemplate {
public:
    MeshTemplate();
    ~MeshTemplate() override;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // ---- EntityTemplate slots ----
    void OnPropertyChanged(const char* propertyName) override { NotifyEntitiesOfChange(); }
    void OnLoaded(uint32_t options) override { OnPropertiesRead(); }
    const char* GetClassName() const override { return "MeshTemplate"; }
    bool HasRenderingData() const override { return true; }
    const char* GetEntityClassName() const override { return "MeshEntity"; }
    Entity* CreateEntity() override;
    // The base request, every part texture, then the parts' shaders and textures flagged
    // with the argument.
    void QueueRequest(uint32_t argument) override;
    // The template's property list is followed by the mesh block (version 2 to 50); a
    // refused or short block fails with one error line naming the template and keeps
    // nothing of it.
    // Posts the mesh debug draw with the preset of that name (the first when none):
    // flags bit 2 draws wireframe. False without rendering data.
    bool DrawHelper(const Matrix& m, const Vector& colour, uint32_t flags, const char* presetName) override;
    // Posts the per-part debug draw in white (flags bit 1) or the "Wireframe color".
    bool DrawHelperParts(const Matrix& m, uint32_t flags);
    bool ReadBinaryData(BoundedReader& in, uint32_t version) override;
    // `out` is a std::vector<uint8_t> the version-50 block is appended to; flags 2 swaps.
    void WriteBinaryData(void* out, uint32_t flags) override;
    bool LoadResource() override;

    // The base notification, then the animation tree and the entities of this template,
    // then the effective collision box.
    void NotifyEntitiesOfChange();
    void OnPropertiesRead() { UpdateCollisionBox(); }
    // The choices of "HeadA bone" and "HeadB bone": every bone node's name, then one
    // empty name; other properties leave the list alone.
    void GetPropertyChoices(const char* propertyName, std::vector<NameString>& list) const;

    // Appends the block; false (the output as it was) when it cannot be written.
    bool WriteMeshBlock(std::vector<uint8_t>& out, uint32_t flags) const;

    // Index of the animation definition named so (case-insensitive), or -1.
    int32_t FindAnimationDefinition(const char* name) const;
    int32_t GetShaderPresetIndex(const char* name) const;
    int32_t GetShaderPresetIndexById(const NameString& name) const;
    NameString GetHeadABone() const { return headABoneName; }
    NameString GetHeadBBone() const { return headBBoneName; }
    void SetHeadABone(const NameString& name);
    void SetHeadBBone(const NameString& name);
    void ResolveFakeShadowBones();
    // Releases the previous animation resources and acquires one per definition (null
    // where the file cannot be had).
    void LoadAnimations();
    void RefreshEntities();
    void UpdateCollisionBox();

    // The registry's fallback preset name, tried after a missing preset ("Default" while
    // the registry runs; null clears it). Main thread.
    static void SetFallbackShaderPreset(const char* presetName);
    static const NameString& GetFallbackShaderPreset();

    MeshTemplateRenderingData* GetRenderingData() const { return renderingData; }
    MeshHierarchy* GetHierarchy() const { return hierarchy; }
    const BoundingBox4& GetEffectiveCollisionBox() const { return effectiveCollisionBox; }
    const std::vector<Resource*>& GetAnimationResources() const { return animationResources; }

    // Properties.
    char* importedFrom = nullptr;
    bool optimizable = true;
    uint32_t playerCollisionType = MESH_COLLISION_NONE;
    bool dynamicPlayerCollision = false;
    BoundingBox4 collisionBox = BoundingBox4::UNITCUBE3D;
    Vector collisionScale{1, 1, 1, 1};
    Vector collisionOffset{0, 0, 0, 0};
    uint32_t roughLosType = MESH_COLLISION_NONE;
    uint32_t exactLosType = MESH_COLLISION_NONE;
    uint32_t losMask = 0;
    bool expandsWalkableArea = false;
    char* animationTreeDefinition = nullptr;
    DynarraySafe<MeshTemplateAnimationDefinition> animations;
    float xsiAnimationScale = 1.0f;
    MeshFakeShadowDefinition fakeShadow;
    NameString headABoneName;
    NameString headBBoneName;

    // Mesh metrics 1 to 4: kept and written back, read by nothing here.
    uint32_t metrics[3] = {0, 0, 0};
    float metric4 = 0.0f;

private:
    void ReleaseMeshData();

    MeshTemplateRenderingData* renderingData = nullptr;
    MeshHierarchy* hierarchy = nullptr;
    BoundingBox4 effectiveCollisionBox = BoundingBox4::UNITCUBE3D;
    std::vector<Resource*> animationResources;
    // Whether "Animations" is in case-insensitive name order (lookups bisect then).
    bool animationsSorted = true;
};
