#include "engine/entity/EntitySpatialGrid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/Dynarray.h"
#include "core/Log.h"
#include "platform/os/Memory.h"

namespace {

uint32_t CellCount(float extent, float size) {
    const float n = std::floor(extent / size + 0.5f);
    return n > 0.0f ? uint32_t(n) : 0u;
}

bool CountsFit(float ex, float ez, float size) {
    const double n = double(CellCount(ex, size)) * double(CellCount(ez, size));
    return n <= double(EntitySpatialGrid::kMaxCells);
}

// floor(t) clamped to [0, count], and floor(t) + 1 likewise (t finite): below 0 both
// clamp to 0, so truncation serves as floor.
int32_t ClampedFloor(float t, uint32_t count) {
    if (t <= 0.0f) return 0;
    if (t >= float(count)) return int32_t(count);
    return int32_t(t);
}
int32_t ClampedFloorPlusOne(float t, uint32_t count) {
    if (t < 0.0f) return 0;
    if (t >= float(count)) return int32_t(count);
    const int32_t i = int32_t(t) + 1;
    return i > int32_t(count) ? int32_t(count) : i;
}

void ListInsert(EntityGridList& l, const EntityGridEntry& e) {
    bool found;
    const uint32_t at = l.Find(e.key, &found);
    if (found) return;
    if (l.count == l.capacity) {
        const uint32_t grown = DynarrayGrownCapacity(l.capacity, l.count + 1);
        void* p = DynarrayAllocate(uint64_t(grown) * sizeof(EntityGridEntry));
        if (!p) return;
        std::memcpy(p, l.entries, l.count * sizeof(EntityGridEntry));
        if (l.OnHeap()) DynarrayFree(l.entries);
        l.entries = static_cast<EntityGridEntry*>(p);
        l.capacity = grown;
    }
    // Lists are short (a few entries a cell): a plain shift beats a library call.
    for (uint32_t i = l.count; i > at; --i) l.entries[i] = l.entries[i - 1];
    l.entries[at] = e;
    ++l.count;
}

void ListRemove(EntityGridList& l, uint32_t key) {
    bool found;
    const uint32_t at = l.Find(key, &found);
    if (!found) return;
    for (uint32_t i = at + 1; i < l.count; ++i) l.entries[i - 1] = l.entries[i];
    --l.count;
}

}  // namespace

EntityGridList::~EntityGridList() {
    if (OnHeap()) DynarrayFree(entries);
}

uint32_t EntityGridList::Find(uint32_t key, bool* found) const {
    const EntityGridEntry* at = std::lower_bound(entries, entries + count, key,
                                                 [](const EntityGridEntry& e, uint32_t k) { return e.key < k; });
    const uint32_t lo = static_cast<uint32_t>(at - entries);
    *found = lo < count && entries[lo].key == key;
    return lo;
}

float EntitySpatialGrid::Build(const BoundingBox4& worldBounds, float size) {
    Free();
    bounds = worldBounds;
    const float ex = bounds.max.x - bounds.min.x;
    const float ez = bounds.max.z - bounds.min.z;
    if (!(size > 0.0f) || !std::isfinite(size) || !CountsFit(ex, ez, size)) {
        // The smallest size whose counts fit: from the area bound upwards.
        float fitted = std::sqrt(std::fabs(double(ex) * double(ez)) / double(kMaxCells));
        if (!(fitted > 0.0f) || !std::isfinite(fitted)) fitted = 1.0f;
        while (!CountsFit(ex, ez, fitted)) fitted = std::nextafter(fitted, INFINITY) * 1.0001f;
        // Walk back down to the smallest that still fits.
        for (float lower = fitted / 1.0001f; lower > 0.0f && CountsFit(ex, ez, lower); lower /= 1.0001f) fitted = lower;
        gLog.Error(LogCategory::Engine, "EntityManager::Init - cell size %f gives too many cells, using %f", size,
                   fitted);
        size = fitted;
    }
    cellSize = Vector(size, size, size, 1.0f);
    inverseCellSize = 1.0f / size;
    if (std::isfinite(ex) && std::isfinite(ez)) {
        countX = CellCount(ex, size);
        countZ = CellCount(ez, size);
    }
    const uint32_t n = countX * countZ;
    if (n) {
        cells = static_cast<EntityGridCell*>(os::AlignedAlloc(size_t(n) * sizeof(EntityGridCell), alignof(EntityGridCell)));
        if (!cells) {
            countX = countZ = 0;
            return size;
        }
        for (uint32_t i = 0; i < n; ++i) new (&cells[i]) EntityGridCell();
    }
    return size;
}

void EntitySpatialGrid::Free() {
    const uint32_t n = countX * countZ;
    for (uint32_t i = 0; i < n; ++i) cells[i].~EntityGridCell();
    os::AlignedFree(cells);
    cells = nullptr;
    countX = countZ = 0;
}

BoundingBox4 EntitySpatialGrid::CellBox(int32_t x, int32_t z) const {
    const float size = cellSize.x;
    const Vector min(bounds.min.x + float(x) * size, bounds.min.y, bounds.min.z + float(z) * size, 1);
    return BoundingBox4(min, Vector(min.x + size, bounds.max.y, min.z + size, 1));
}

EntityCellRange EntitySpatialGrid::GetCellRange(const BoundingBox4& box) const {
    EntityCellRange r{0, 0, 0, 0};
    // x - x is 0 only for finite x: one test covers infinities and NaNs.
    const float probe = (box.min.x - box.min.x) + (box.min.z - box.min.z) + (box.max.x - box.max.x) +
                        (box.max.z - box.max.z);
    if (!cells || probe != 0.0f) return r;
    const float k = inverseCellSize;
    r.x0 = ClampedFloor((box.min.x - bounds.min.x) * k, countX);
    r.z0 = ClampedFloor((box.min.z - bounds.min.z) * k, countZ);
    r.x1 = ClampedFloorPlusOne((box.max.x - bounds.min.x) * k, countX);
    r.z1 = ClampedFloorPlusOne((box.max.z - bounds.min.z) * k, countZ);
    if (r.IsEmpty()) r = EntityCellRange{0, 0, 0, 0};
    return r;
}

void EntitySpatialGrid::Insert(uint32_t list, const EntityCellRange& range, const EntityGridEntry& entry) {
    Move(list, EntityCellRange{}, range, entry);
}

void EntitySpatialGrid::Remove(uint32_t list, const EntityCellRange& range, uint32_t key) {
    if (!cells || range.IsEmpty()) return;
    for (int32_t z = range.z0; z < range.z1; ++z)
        for (int32_t x = range.x0; x < range.x1; ++x) ListRemove(Cell(x, z)->lists[list], key);
}

// Calls leave(cell) for every cell only in from and enter(cell) for every cell only in to.
template <class Leave, class Enter>
void EntitySpatialGrid::WalkChange(const EntityCellRange& from, const EntityCellRange& to, Leave leave, Enter enter) {
    if (!cells) return;
    const bool hasFrom = !from.IsEmpty(), hasTo = !to.IsEmpty();
    if (hasFrom) {
        for (int32_t z = from.z0; z < from.z1; ++z)
            for (int32_t x = from.x0; x < from.x1; ++x)
                if (!hasTo || !to.Contains(x, z)) leave(*Cell(x, z));
    }
    if (hasTo) {
        for (int32_t z = to.z0; z < to.z1; ++z)
            for (int32_t x = to.x0; x < to.x1; ++x)
                if (!hasFrom || !from.Contains(x, z)) enter(*Cell(x, z));
    }
}

void EntitySpatialGrid::Move(uint32_t list, const EntityCellRange& from, const EntityCellRange& to,
                             const EntityGridEntry& entry) {
    WalkChange(
        from, to, [&](EntityGridCell& c) { ListRemove(c.lists[list], entry.key); },
        [&](EntityGridCell& c) { ListInsert(c.lists[list], entry); });
}

void EntitySpatialGrid::MoveBoth(const EntityCellRange& from, const EntityCellRange& to,
                                 const EntityGridEntry& entry) {
    // The cells lie far apart in memory: ask for all of them first so that their misses
    // overlap instead of following one another.
    const auto fetch = [](EntityGridCell& c) {
        __builtin_prefetch(&c.lists[0], 1);
        __builtin_prefetch(&c.lists[1], 1);
    };
    WalkChange(from, to, fetch, fetch);
    WalkChange(
        from, to,
        [&](EntityGridCell& c) {
            ListRemove(c.lists[0], entry.key);
            ListRemove(c.lists[1], entry.key);
        },
        [&](EntityGridCell& c) {
            ListInsert(c.lists[0], entry);
            ListInsert(c.lists[1], entry);
        });
}

void EntitySpatialGrid::SetMinY(float y) { bounds.min.y = y; }
