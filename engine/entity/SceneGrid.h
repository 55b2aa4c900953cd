#pragma once
// SceneGrid: the per-scene walk grid over the x/z plane, one byte per cell (rows of
// `width` cells, row index z), loaded from a binary scene and owned by the
// EntityManager. The walk map (engine/navigation/WalkMap.h) gives the cell bits their
// meaning and rebuilds the cells its obstacle meshes block while the grid is dirty.
//
// Threads: main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/Vector.h"
#include "core/rtti/SafePointer.h"

class Entity;

class SceneGrid {
public:
    static constexpr uint32_t kMagic = 0xD8340F9C;
    static constexpr uint32_t kVersion = 1;
    static constexpr uint32_t kHeaderSize = 36;
    // Tile ids hold x and z in 16 bits each.
    static constexpr uint32_t kMaxSide = 0xFFFF;
    static constexpr uint32_t kNoCell = 0xFFFFFFFF;

    SceneGrid() = default;
    ~SceneGrid();  // out of line: the obstacle list needs the whole Entity
    SceneGrid(const SceneGrid&) = delete;
    SceneGrid& operator=(const SceneGrid&) = delete;

    // Reads a grid block of `size` bytes. With `check`, a wrong magic or version gives
    // 0. A side above 65535 or cells past the end give 0 with one error line and leave
    // the grid unchanged. Otherwise the bytes used (36 for a grid without cells).
    uint32_t Read(const uint8_t* block, uint64_t size, bool check);
    // column | row << 16, or 0xFFFFFFFF (both halves 0xFFFF) outside the grid, for a
    // grid without cells or cell size, or for a non-finite position.
    uint32_t WorldToCell(const Vector& position) const;
    Vector CellToWorld(uint32_t x, uint32_t z) const;
    Vector CellToWorld(uint32_t packed) const { return CellToWorld(packed & 0xFFFF, packed >> 16); }
    void Clear();

    uint32_t Width() const { return width; }
    uint32_t Height() const { return height; }
    const uint8_t* Cells() const { return cells; }
    uint8_t* Cells() { return cells; }
    const Vector& Origin() const { return origin; }
    float CellSize() const { return cellSize; }
    bool IsDirty() const { return dirty; }
    void MarkDirty() { dirty = true; }
    void ClearDirty() { dirty = false; }
    DynarraySafe<SafePointer<Entity>>& Obstacles() { return obstacles; }

private:
    DynarraySafe<SafePointer<Entity>> obstacles;
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t* cells = nullptr;
    Vector origin = Vector(0.0f, 0.0f, 0.0f, 1.0f);
    float cellSize = 0.0f;
    bool dirty = false;
};
