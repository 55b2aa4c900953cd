#pragma once
// SceneContentServices: what the engine's entities, scene files, navigation and script
// host need of the scene-content library (meshes, triggers, scene parameters, sequences),
// behind one small interface. The scene library installs its implementation from its
// start-up row; until then (and after SetSceneContentServices(nullptr)) the base class
// answers as if there were no scene content: nothing mounts, tracks triggers, animates,
// transitions or runs sequences; a scene's sequence block is skipped; a mesh has no
// player collision (PLAYER_COLLISION_NONE, 0) and no collision data; there is no path display; the
// singletons are null.
//
// Threads: main thread.
#include <cstdint>

class BoundedReader;
class Entity;
class EntityTemplate;
class SequenceActionFactory;
class SequenceSpawner;
class SequenceSystem;
struct MeshCollisionData;
struct Vector;
struct TriggerActivator;

class SceneContentServices {
public:
    virtual ~SceneContentServices() = default;

    // ---- Entities on meshes ----
    // MeshEntity::UnmountEntity on the old mesh parent of a child mounted to its bone.
    virtual void UnmountFromMesh(Entity* meshParent, Entity* child) {}
    // The re-mount: applies the child's mount record through its new mesh parent.
    virtual void RemountOnMesh(Entity* meshParent, Entity* child) {}
    // MeshEntity::SetAnimationReplication; false when the entity is no mesh.
    virtual bool SetAnimationReplication(Entity* entity, bool enable, uint32_t animProperty,
                                         uint32_t progressProperty) {
        return false;
    }
    // The mesh templates' global shader preset name (null clears it).
    virtual void SetMeshShaderPreset(const char* presetName) {}

    // ---- Triggers ----
    // The record of an entity whose template activates triggers (null: none); the check
    // queued after a move; the record's release.
    virtual TriggerActivator* CreateTriggerTracker(Entity* entity) { return nullptr; }
    virtual void QueueTriggerCheck(Entity* entity) {}
    virtual void DestroyTriggerTracker(Entity* entity, TriggerActivator* record) {}

    // ---- Scene parameters ----
    // SceneParametersTemplate::StartTransition and StopTransition.
    virtual void StartSceneParametersTransition(EntityTemplate* t, uint32_t flags, float blendTime) {}
    virtual void StopSceneParametersTransition(EntityTemplate* t) {}

    // ---- Sequences ----
    // The read of a scene's sequence property list (false: corrupt); the default skips it.
    virtual bool ReadSequenceProperties(BoundedReader& in) { return true; }
    // SequenceSystem::Tick and Clear; SequenceActionFactory::Clear.
    virtual void TickSequenceSystem() {}
    virtual void ClearSequenceSystem() {}
    virtual void ClearSequenceActionFactory() {}

    // ---- Navigation ----
    // The "Player collision type" of a mesh entity's template (PLAYER_COLLISION_*) and, for
    // "Face", the mesh's main-memory vertices and triangles (false: none).
    virtual uint32_t MeshPlayerCollisionType(Entity* mesh) { return 0; }
    virtual bool GetMeshCollisionData(Entity* mesh, MeshCollisionData* out) { return false; }
    // The path display of the scene render list (0 points clear it).
    virtual void SetDebugPathPoints(const Vector* points, uint32_t count) {}

    // ---- Singletons published to scripts ----
    virtual SequenceSystem* GetSequenceSystem() const { return nullptr; }
    virtual SequenceSpawner* GetSequenceSpawner() const { return nullptr; }
    virtual SequenceActionFactory* GetSequenceActionFactory() const { return nullptr; }
};

SceneContentServices& GetSceneContentServices();
// Not owned; null restores the default.
void SetSceneContentServices(SceneContentServices* services);
