#pragma once
// EntitySpatialGrid: the EntityManager's grid over the world bounds (x/z plane). Each
// cell keeps two lists of the entities whose world boxes touch it, sorted by the
// entity's reusable id (below 32768), so query results never depend on heap addresses:
//   list 0: entities whose flags have neither 0x80000 nor ENTITYFLAG_DISABLE_UPDATE
//   list 1: entities whose flags have neither 0x40000 nor ENTITYFLAG_DISABLE_UPDATE
// Culling, line of sight, spatial queries and the character controller read the cells.
//
// Threads: main thread only.
#include <cstdint>

#include "core/math/BoundingBox4.h"
#include "engine/entity/Entity.h"

struct EntityGridEntry {
    uint32_t key;   // the entity's reusable id
    uint32_t type;  // the entity's template type id
    Entity* entity;
};

// A cell's list keeps its first kInlineEntries entries inside itself and moves to a heap
// block once it outgrows them: a move that changes cells then touches the cells' own
// cache lines only, instead of a heap block per list somewhere else.
struct EntityGridList {
    static constexpr uint32_t kInlineEntries = 3;

    uint32_t count = 0;
    uint32_t capacity = kInlineEntries;
    EntityGridEntry* entries = inlineEntries;  // inlineEntries or an owned heap block
    EntityGridEntry inlineEntries[kInlineEntries];

    EntityGridList() = default;
    EntityGridList(const EntityGridList&) = delete;
    EntityGridList& operator=(const EntityGridList&) = delete;
    ~EntityGridList();
    bool OnHeap() const { return entries != inlineEntries; }
    // Binary search by key: the index, or the insertion point with found false.
    uint32_t Find(uint32_t key, bool* found) const;
};
static_assert(sizeof(EntityGridList) == 64, "a grid list with its inline entries fills one cache line");

// One cache line per list. The cell's box is not stored: EntitySpatialGrid::CellBox
// derives it from the cell's indices.
struct alignas(64) EntityGridCell {
    EntityGridList lists[2];
};
static_assert(sizeof(EntityGridCell) == 128, "a grid cell is two cache lines");

class EntitySpatialGrid {
public:
    // Cells are at most this many; a cell size that would give more is enlarged.
    static constexpr uint32_t kMaxCells = 1u << 20;

    EntitySpatialGrid() = default;
    ~EntitySpatialGrid() { Free(); }
    EntitySpatialGrid(const EntitySpatialGrid&) = delete;
    EntitySpatialGrid& operator=(const EntitySpatialGrid&) = delete;

    // Builds empty cells over the bounds (counts: extent / size rounded to the nearest
    // integer). A size that is not a positive finite number, or that would give more
    // than kMaxCells cells, is replaced by the smallest size that fits, with one error
    // line. Returns the size used.
    float Build(const BoundingBox4& bounds, float cellSize);
    // Frees the cells (no grid: every range is empty).
    void Free();

    // Clamped cell range of a world box; empty when the box lies beside the grid or has
    // a coordinate that is not finite.
    EntityCellRange GetCellRange(const BoundingBox4& box) const;
    void Insert(uint32_t list, const EntityCellRange& range, const EntityGridEntry& entry);
    void Remove(uint32_t list, const EntityCellRange& range, uint32_t key);
    // Moves an entry from the old range to the new one, touching only cells that differ.
    void Move(uint32_t list, const EntityCellRange& from, const EntityCellRange& to, const EntityGridEntry& entry);
    // The same move in both lists at once (one walk over the cells).
    void MoveBoth(const EntityCellRange& from, const EntityCellRange& to, const EntityGridEntry& entry);
    void SetMinY(float y);
    // Cell (x, z)'s box: x and z over the cell, y over the world bounds.
    BoundingBox4 CellBox(int32_t x, int32_t z) const;

    uint32_t CountX() const { return countX; }
    uint32_t CountZ() const { return countZ; }
    float CellSize() const { return cellSize.x; }
    const BoundingBox4& Bounds() const { return bounds; }
    EntityGridCell* Cell(int32_t x, int32_t z) { return &cells[uint32_t(z) * countX + uint32_t(x)]; }
    const EntityGridCell* Cell(int32_t x, int32_t z) const { return &cells[uint32_t(z) * countX + uint32_t(x)]; }

private:
    template <class Leave, class Enter>
    void WalkChange(const EntityCellRange& from, const EntityCellRange& to, Leave leave, Enter enter);

    BoundingBox4 bounds = BoundingBox4::ZERO4;
    Vector cellSize{1, 1, 1, 1};
    float inverseCellSize = 1.0f;
    uint32_t countX = 0;
    uint32_t countZ = 0;
    EntityGridCell* cells = nullptr;
};
