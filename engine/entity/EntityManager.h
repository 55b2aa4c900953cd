#pragma once
// EntityManager (gEntityManager): owns every entity. It creates entities from templates
// within the system's limits, keeps the indexes by name (case-insensitive), GUID and
// multiplayer id, owns the scene root, the layer system and the spatial grid of the
// world, and starts new empty scenes.
//
// Multiplayer ids are 12 bits: 0..3071 dynamic (lowest free first), 3072..4094 static
// (in creation order), 4095 none.
//
// Threads: main thread only.
#include <cfloat>
#include <cstdint>

#include "core/Dynarray.h"
#include "core/IdAllocator.h"
#include "core/math/BoundingBox4.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntitySpatialGrid.h"

class EntityLayerSystem;
class EntityTemplate;
class SceneGrid;
class EntitySet;
class SceneParametersEntity;

constexpr uint32_t kMaxLiveEntities = 32768;
constexpr uint32_t kMultiplayerIdSlots = 4096;
constexpr uint32_t kDynamicMultiplayerIds = 3072;
constexpr uint32_t kStaticMultiplayerIds = 1023;
// Query bounds keep the world bounds with the maximum y clamped to this.
constexpr float kQueryBoundsMaxY = 200.0f;
constexpr float kPickRayLength = 100000.0f;

class EntityManager : public EntityPointerResolver {
public:
    EntityManager();
    ~EntityManager() override;
    EntityManager(const EntityManager&) = delete;
    EntityManager& operator=(const EntityManager&) = delete;

    // Creation.
    Entity* CreateEntityFromTemplate(EntityTemplate* t, Entity* parent, const Matrix& local, uint32_t creationFlags,
                                     Player* owner);
    Entity* CreateEntity(const char* templateName, Entity* parent, const Matrix& local, uint32_t creationFlags,
                         Player* owner);
    Entity* CreateEntityInGame(const char* templateName, Entity* parent, const Matrix& local,
                               uint32_t creationFlags, Player* owner);
    Entity* CreateEntityInGameByGUID(const SimpleGUID& templateGuid, Entity* parent, const Matrix& local,
                                     uint32_t creationFlags, Player* owner);
    void CallInitMPProperties(Entity* entity);
    void FinishEntityCreation(Entity* entity);
    void DestroyEntity(Entity* entity);

    // Lookups.
    Entity* FindEntityByName(const char* name) const;
    Entity* FindEntityByGUID(const SimpleGUID& guid) const;
    Entity* GetEntityByMID(uint32_t id) const { return id < kMultiplayerIdSlots - 1 ? midTable[id] : nullptr; }
    Entity* GetRootEntity() const { return sceneRoot; }
    EntityLayerSystem* GetLayerSystem() const { return layerSystem; }
    const char* GetSceneFileName() const { return sceneFileName; }
    void SetSceneFileName(const char* fileName);
    uint32_t GetLiveEntityCount() const { return liveCount; }
    uint32_t GetCreationCount() const { return creationCount; }

    // Multiplayer id table.
    void AddToMIDTable(Entity* entity);
    void RemoveFromMIDTable(Entity* entity);
    uint16_t AllocateDynamicMID();
    uint16_t AllocateStaticMID();
    void ReleaseMID(uint16_t id);
    void ClearMIDTable();
    uint32_t GetDynamicMIDCount() const { return dynamicIdCount; }
    uint32_t GetStaticMIDCount() const { return staticIdCounter; }

    // Start-up and scenes.
    void Init(const BoundingBox4& worldBounds, float cellSize);
    void SetUniverseMinY(float y);
    void NewScene();
    void Shutdown();
    const BoundingBox4& GetWorldBounds() const { return worldBounds; }
    const BoundingBox4& GetQueryBounds() const { return queryBounds; }
    float GetCellSize() const { return cellSize; }
    EntitySpatialGrid& GetSpatialGrid() { return grid; }

    // Frame lists (filled by the frame build).
    Dynarray<Entity*>& FrameEntities() { return frameEntities; }
    // Picking (the render frame): for each pressed pointer input (0x10000..0x10005, as
    // InputManager::PressedPointerInputs gives them), a ray from the cursor's screen point
    // (normalised to the client area) through the camera's view and projection, 100000
    // units long, goes to PickAlongSegment.
    void Pick(const Vector& cursor, const uint32_t* pressedInputs, uint32_t pressedCount, const Matrix& view,
              const Matrix& projection);
    // Every entity of the frame list with flag 0x80000000 whose oriented box (local box
    // under the global matrix) the segment hits goes to its pick handler.
    void PickAlongSegment(const Vector& from, const Vector& to, uint32_t pointerInput);

    // Line of sight from start to end: true when no entity blocks the segment, else the
    // nearest blocker (with LOSFLAG_BINARY the first in entry order) fills result. The
    // two ignored entities (null for none) are never tested. A start outside the grid
    // logs an error and answers true.
    bool LOS(const Vector& start, const Vector& end, uint32_t flags, LOSResult* result, uint32_t mask,
             Entity* ignore1, Entity* ignore2);

    // The nearest entity of the flag type (or derived) closer than maxDistance (and not
    // at the position itself) whose direction from the position has at least minCosine
    // with direction; null when none. The first found keeps a tie.
    Entity* GetNearestFlag(const Vector& position, float maxDistance, Entity* excluded,
                           const Vector& direction = Vector(0, 0, 0, 0), float minCosine = -FLT_MAX);

    // Entity sets (owned here).
    EntitySet* FindEntitySetByName(const char* name) const;
    EntitySet* CreateEntitySet();
    // Deletes one set of this manager's list (its members forget it); nothing for a set
    // not in the list.
    void DeleteEntitySet(EntitySet* set);
    void DeleteAllEntitySets();
    // Each set drops its dead members; emptied sets are deleted (the last set takes the
    // freed place).
    void PruneEntitySets();
    const Dynarray<EntitySet*>& GetEntitySets() const { return entitySets; }
    // The entity the root's active parameter GUID names, when it is a parameter entity.
    SceneParametersEntity* GetActiveSceneParamsEntity() const;
    // The walk grid of the scene (owned; null removes it).
    void SetSceneGrid(SceneGrid* newGrid);
    SceneGrid* GetSceneGrid() const { return sceneGrid; }

    // EntityPointerResolver.
    RTTIPolyBaseClass* FindEntityByGUID(const SimpleGUID& guid) override;
    SimpleGUID GetEntityGUID(const RTTIPolyBaseClass* entity) override;
    uint32_t GetEntityTemplateType(const RTTIPolyBaseClass* entity) override;

    // "LiveEntityCount: %u, First: %s" into buffer.
    void FormatLiveCount(char* buffer, uint32_t size) const;

private:
    friend class Entity;
    void AddToNameIndex(Entity* e);
    void RemoveFromNameIndex(Entity* e);
    bool AddToGUIDIndex(Entity* e);
    void RemoveFromGUIDIndex(Entity* e);
    void DestroyRoot();
    void ClearSpatialRegistrations();

    Entity* sceneRoot = nullptr;
    Dynarray<Entity*> nameIndex;
    Dynarray<Entity*> guidIndex;
    Entity* midTable[kMultiplayerIdSlots] = {};
    uint32_t dynamicIdBits[kDynamicMultiplayerIds / 32] = {};
    uint32_t dynamicIdCount = 0;
    uint32_t staticIdCounter = 0;
    Dynarray<Entity*> frameEntities;
    Dynarray<Entity*> secondFrameEntities;
    uint32_t liveCount = 0;
    IdAllocator reusableIds;
    BoundingBox4 worldBounds = BoundingBox4::ZERO4;
    BoundingBox4 queryBounds = BoundingBox4::ZERO4;
    float cellSize = 1.0f;
    EntitySpatialGrid grid;
    EntityLayerSystem* layerSystem = nullptr;
    SceneGrid* sceneGrid = nullptr;
    Dynarray<EntitySet*> entitySets;
    char* sceneFileName = nullptr;
    uint32_t creationCount = 0;
    Entity* liveHead = nullptr;
    Entity* liveTail = nullptr;
};

extern EntityManager* gEntityManager;
