#pragma once
// Script-facing searches by place over the EntityManager's spatial grid: entities near a
// point or inside a box. Results are safe pointers, so entities destroyed afterwards
// drop out. Each search considers an entity once, however many cells list it, and only
// entities whose group shares a bit with the mask.
//
// Threads: main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/BoundingBox4.h"
#include "core/rtti/SafePointer.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"

// The cells of the spatial grid that a box covers, clamped to the grid.
EntityCellRange SpatialQueryCells(const BoundingBox4& box);

// Calls visit(entity) once for every entity listed (grid list 0) in the cells the box
// covers.
template <class Visit>
void ForEachEntityInBox(const BoundingBox4& box, Visit visit) {
    EntitySpatialGrid& grid = gEntityManager->GetSpatialGrid();
    const EntityCellRange r = SpatialQueryCells(box);
    uint64_t visited[kMaxLiveEntities / 64] = {};
    for (int32_t z = r.z0; z < r.z1; ++z)
        for (int32_t x = r.x0; x < r.x1; ++x) {
            const EntityGridList& list = grid.Cell(x, z)->lists[0];
            for (uint32_t i = 0; i < list.count; ++i) {
                const uint32_t key = list.entries[i].key % kMaxLiveEntities;
                const uint64_t bit = uint64_t(1) << (key & 63);
                if (visited[key >> 6] & bit) continue;
                visited[key >> 6] |= bit;
                visit(list.entries[i].entity);
            }
        }
}

// Walks the members of an entity set, or of every set an entity belongs to.
class EntitySetIterator {
public:
    EntitySetIterator() = default;
    explicit EntitySetIterator(const char* setName) { Init(setName); }
    explicit EntitySetIterator(Entity* entity) { Init(entity); }
    // The members of the named set (none when there is no such set).
    void Init(const char* setName);
    // The union of the entity's sets, each member once, without the entity itself.
    void Init(Entity* entity);
    // The next live entity, or null at the end.
    Entity* GetNext();

private:
    uint32_t position = 0;
    DynarraySafe<SafePointer<Entity>> entities;
};

class NearEntitiesGatherer {
public:
    // Entities whose horizontal (x, z) distance from the position is at most the radius.
    void Init(uint32_t mask, const Vector& position, float radius);
    // Entities whose oriented box has its point closest to the position within the
    // radius, horizontally.
    void InitWithEntitiesWhoesOBBIsWithinRange(uint32_t mask, const Vector& position, float radius);
    // Entities whose global position lies inside the box.
    void Init(uint32_t mask, const BoundingBox4& box);
    void Init(uint32_t mask, const OBBox4& box);
    // The box moved by the point.
    void Init(uint32_t mask, const Vector& point, const BoundingBox4& box);

    uint32_t GetEntitiesNumber() const { return result.Count(); }
    // Null for an index beyond the count or an entity destroyed since.
    Entity* GetEntity(uint32_t index) const { return index < result.Count() ? result[index].Get() : nullptr; }

private:
    DynarraySafe<SafePointer<Entity>> result;
};

// Reports which entities (of the group mask) came near any of a set of test positions,
// or went away from all of them, since the last calculation. Near: horizontal (x, z)
// distance at most the position's radius.
class EntitiesVicinityMonitor {
public:
    // Reset, and consider only entities whose group shares a bit with the mask.
    void Init(uint32_t mask);
    // Forgets the test positions, the near entities and the changes.
    void Reset();
    void AddTestPosition(const Vector& position, float radius);
    void CalculateEntitiesVicinityChange();

    uint32_t GetEntitiesChangedToNearNumber() const { return changedToNear.Count(); }
    Entity* GetEntityChangedToNear(uint32_t i) const { return i < changedToNear.Count() ? changedToNear[i].Get() : nullptr; }
    uint32_t GetEntitiesChangedToFarNumber() const { return changedToFar.Count(); }
    Entity* GetEntityChangedToFar(uint32_t i) const { return i < changedToFar.Count() ? changedToFar[i].Get() : nullptr; }

private:
    struct TestPosition {
        Vector position;
        float radius;
        float radiusSquared;
    };
    uint32_t groupMask = 0;
    Dynarray<TestPosition> positions;
    uint64_t nearMask[kMaxLiveEntities / 64] = {};
    DynarraySafe<SafePointer<Entity>> nearList;
    DynarraySafe<SafePointer<Entity>> changedToNear;
    DynarraySafe<SafePointer<Entity>> changedToFar;
};
