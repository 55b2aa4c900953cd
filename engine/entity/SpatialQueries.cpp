// Searches by place over the spatial grid, and the manager's nearest-flag query.
#include "engine/entity/SpatialQueries.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "core/rtti/RTTIClass.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntitySet.h"
#include "engine/entity/EntityTemplate.h"

namespace {

// Template type of flags (and the types derived from it).
constexpr uint32_t kFlagType = 2;

int32_t ClampedCell(float v, float origin, float size, uint32_t count) {
    const float f = std::floor((v - origin) / size);
    if (!(f > 0.0f)) return 0;  // also NaN
    return f >= float(count) ? int32_t(count) : int32_t(f);
}

struct KeyMask {
    uint64_t bits[kMaxLiveEntities / 64];
    KeyMask() { std::memset(bits, 0, sizeof bits); }
    static uint32_t Key(const Entity* e) { return e->GetReusableId() % kMaxLiveEntities; }
    bool Has(uint32_t key) const { return (bits[key >> 6] >> (key & 63)) & 1; }
    void Set(uint32_t key) { bits[key >> 6] |= uint64_t(1) << (key & 63); }
};

// The new near list of a calculation, shared by every monitor (main thread only).
DynarraySafe<SafePointer<Entity>> gNewNearList;

BoundingBox4 Around(const Vector& p, float r) {
    return BoundingBox4(Vector(p.x - r, p.y - r, p.z - r, 1), Vector(p.x + r, p.y + r, p.z + r, 1));
}

bool WithinHorizontally(const Vector& a, const Vector& b, float radius) {
    const float dx = a.x - b.x, dz = a.z - b.z;
    return std::sqrt(dx * dx + dz * dz) <= radius;
}

}  // namespace

EntityCellRange SpatialQueryCells(const BoundingBox4& box) {
    EntitySpatialGrid& grid = gEntityManager->GetSpatialGrid();
    const BoundingBox4& bounds = grid.Bounds();
    const float size = grid.CellSize();
    const uint32_t nx = grid.CountX(), nz = grid.CountZ();
    EntityCellRange r;
    r.x0 = ClampedCell(box.min.x, bounds.min.x, size, nx);
    r.z0 = ClampedCell(box.min.z, bounds.min.z, size, nz);
    r.x1 = std::min(ClampedCell(box.max.x, bounds.min.x, size, nx) + 1, int32_t(nx));
    r.z1 = std::min(ClampedCell(box.max.z, bounds.min.z, size, nz) + 1, int32_t(nz));
    return r;
}

Entity* EntityManager::GetNearestFlag(const Vector& position, float maxDistance, Entity* excluded,
                                      const Vector& direction, float minCosine) {
    Entity* best = nullptr;
    float bestDist2 = maxDistance * maxDistance;
    ForEachEntityInBox(Around(position, maxDistance), [&](Entity* e) {
        if (e == excluded || !e->GetTemplate() || !TemplateTypeTable::IsA(e->GetTemplate()->typeId, kFlagType))
            return;
        const Vector d = e->GetGlobalPosition() - position;
        const float dist2 = d.Length3Squared();
        if (!(dist2 > 0.0001f)) return;
        // An exact reciprocal square root, so every processor gives the same answer.
        const float cosine = d.Dot3(direction) * (1.0f / std::sqrt(dist2));
        if (cosine >= minCosine && dist2 < bestDist2) bestDist2 = dist2, best = e;
    });
    return best;
}

void NearEntitiesGatherer::Init(uint32_t mask, const Vector& position, float radius) {
    result.Clear();
    ForEachEntityInBox(Around(position, radius), [&](Entity* e) {
        if (e->IsInGroups(mask) && WithinHorizontally(e->GetGlobalPosition(), position, radius))
            result.Add(SafePointer<Entity>(e));
    });
}

void NearEntitiesGatherer::InitWithEntitiesWhoesOBBIsWithinRange(uint32_t mask, const Vector& position,
                                                                 float radius) {
    result.Clear();
    ForEachEntityInBox(Around(position, radius), [&](Entity* e) {
        if (!e->IsInGroups(mask)) return;
        OBBox4 box;
        box.Transform3D(e->GetLocalBoundingBox(), e->GetGlobalLocationMatrix());
        if (WithinHorizontally(box.GetClosestPoint(position), position, radius)) result.Add(SafePointer<Entity>(e));
    });
}

void NearEntitiesGatherer::Init(uint32_t mask, const BoundingBox4& box) {
    result.Clear();
    ForEachEntityInBox(box, [&](Entity* e) {
        const Vector p = e->GetGlobalPosition();
        if (e->IsInGroups(mask) && p.x >= box.min.x && p.x <= box.max.x && p.y >= box.min.y &&
            p.y <= box.max.y && p.z >= box.min.z && p.z <= box.max.z)
            result.Add(SafePointer<Entity>(e));
    });
}

void NearEntitiesGatherer::Init(uint32_t mask, const OBBox4& box) {
    result.Clear();
    BoundingBox4 enclosing;
    for (int i = 0; i < 3; ++i) {
        const float h = std::fabs(box.xextent[i]) + std::fabs(box.yextent[i]) + std::fabs(box.zextent[i]);
        enclosing.min[i] = box.center[i] - h;
        enclosing.max[i] = box.center[i] + h;
    }
    ForEachEntityInBox(enclosing, [&](Entity* e) {
        if (e->IsInGroups(mask) && box.Inside3D(e->GetGlobalPosition())) result.Add(SafePointer<Entity>(e));
    });
}

void NearEntitiesGatherer::Init(uint32_t mask, const Vector& point, const BoundingBox4& box) {
    BoundingBox4 moved = box;
    for (int i = 0; i < 3; ++i) moved.min[i] += point[i], moved.max[i] += point[i];
    Init(mask, moved);
}

void EntitySetIterator::Init(const char* setName) {
    position = 0;
    entities.Clear();
    const EntitySet* set = gEntityManager->FindEntitySetByName(setName);
    for (uint32_t i = 0; set && i < set->MemberCount(); ++i) entities.Add(SafePointer<Entity>(set->Member(i)));
}

void EntitySetIterator::Init(Entity* entity) {
    position = 0;
    entities.Clear();
    if (!entity) return;
    uint64_t visited[kMaxLiveEntities / 64];
    std::memset(visited, 0, sizeof visited);
    auto mark = [&](const Entity* e) {
        const uint32_t key = e->GetReusableId() % kMaxLiveEntities;
        const uint64_t bit = uint64_t(1) << (key & 63);
        const bool fresh = !(visited[key >> 6] & bit);
        visited[key >> 6] |= bit;
        return fresh;
    };
    mark(entity);
    for (EntitySet* set : entity->EntitySets())
        for (uint32_t i = 0; i < set->MemberCount(); ++i)
            if (Entity* e = set->Member(i); e && mark(e)) entities.Add(SafePointer<Entity>(e));
}

Entity* EntitySetIterator::GetNext() {
    while (position < entities.Count())
        if (Entity* e = entities[position++].Get()) return e;
    return nullptr;
}

void Entity::AddToSet(const char* setName, bool create) {
    EntitySet* set = gEntityManager->FindEntitySetByName(setName);
    if (!set) {
        if (!create) return;
        gEntityManager->PruneEntitySets();
        set = gEntityManager->CreateEntitySet();
        set->SetName(setName);
    }
    set->AddEntity(this);
}

void Entity::RemoveFromSet(const char* setName) {
    if (EntitySet* set = gEntityManager->FindEntitySetByName(setName)) set->RemoveEntity(this);
}

const char* Entity::GetSetName(uint32_t index) const {
    return index < entitySets.Count() ? entitySets[index]->GetName() : nullptr;
}

void EntitiesVicinityMonitor::Init(uint32_t mask) {
    Reset();
    groupMask = mask;
}

void EntitiesVicinityMonitor::Reset() {
    positions.Clear();
    std::memset(nearMask, 0, sizeof nearMask);
    nearList.Clear();
    changedToNear.Clear();
    changedToFar.Clear();
}

void EntitiesVicinityMonitor::AddTestPosition(const Vector& position, float radius) {
    positions.Add({position, radius, radius * radius});
}

void EntitiesVicinityMonitor::CalculateEntitiesVicinityChange() {
    // An entity was near only when the previous near list still holds that very entity:
    // a key freed by a destroyed entity and given to a new one does not carry over.
    KeyMask wasNear, isNear, seen;
    for (const SafePointer<Entity>& p : nearList)
        if (const Entity* e = p.Get(); e && (nearMask[KeyMask::Key(e) >> 6] >> (KeyMask::Key(e) & 63)) & 1)
            wasNear.Set(KeyMask::Key(e));
    gNewNearList.Clear();
    for (const TestPosition& t : positions)
        ForEachEntityInBox(Around(t.position, t.radius), [&](Entity* e) {
            const uint32_t key = KeyMask::Key(e);
            if (seen.Has(key)) return;
            seen.Set(key);
            if (!e->IsInGroups(groupMask)) return;
            const Vector p = e->GetGlobalPosition();
            for (const TestPosition& u : positions) {
                const float dx = p.x - u.position.x, dz = p.z - u.position.z;
                if (dx * dx + dz * dz <= u.radiusSquared) {
                    isNear.Set(key);
                    gNewNearList.Add(SafePointer<Entity>(e));
                    return;
                }
            }
        });
    changedToNear.Clear();
    changedToFar.Clear();
    for (const SafePointer<Entity>& p : gNewNearList)
        if (!wasNear.Has(KeyMask::Key(p.Get()))) changedToNear.Add(p);
    for (const SafePointer<Entity>& p : nearList)
        if (Entity* e = p.Get(); e && !isNear.Has(KeyMask::Key(e))) changedToFar.Add(p);
    nearList = gNewNearList;
    std::memcpy(nearMask, isNear.bits, sizeof nearMask);
    gNewNearList.Clear();
}
