#pragma once
// RenderSceneGrid: the render thread's cell grid over the scene, in x and z. Each cell
// keeps the rendering contexts whose world box covers it, sorted by context, so the
// passes gather a region's contexts by walking its cells.
//
// The renderer creates an empty grid with the device, rebuilds it for every new scene
// (task 6), sets every cell's value (task 7) and frees it with the device resources
// (task 3). Cells are stored row by row, a row holding the cells along z.
//
// Threads: render thread only.
#include <cstdint>
#include <vector>

#include "core/math/BoundingBox4.h"

class EntityRenderingContext;

// One entry of a cell list.
struct RenderSceneCellRecord {
    void* owner;
    EntityRenderingContext* context;  // the sort key
    uint32_t sortValue;
};

struct RenderSceneCell {
    BoundingBox4 bounds;
    float value;  // the cell size at build time; task 7 replaces it
    std::vector<RenderSceneCellRecord> contexts;
    std::vector<RenderSceneCellRecord> secondList;  // kept beside the first; freed with it
};

// A half-open range of cells: columns along x, rows along z. All -1 when nothing is
// covered.
struct RenderSceneCellRange {
    int32_t firstColumn = -1, firstRow = -1, endColumn = -1, endRow = -1;
    bool operator==(const RenderSceneCellRange&) const = default;
    bool Empty() const { return firstColumn >= endColumn || firstRow >= endRow; }
    bool Contains(int32_t column, int32_t row) const {
        return column >= firstColumn && column < endColumn && row >= firstRow && row < endRow;
    }
};

class RenderSceneGrid {
public:
    // The most cells a grid holds (about 100 MB of cells); the box and cell size come
    // from scene data, and a pair asking for more builds no cells (one error line).
    static constexpr uint32_t kMaxCells = 1u << 20;
    static constexpr uint32_t kCellsPerJobPass = 8;

    RenderSceneGrid();
    RenderSceneGrid(const RenderSceneGrid&) = delete;
    RenderSceneGrid& operator=(const RenderSceneGrid&) = delete;

    // Task 6: frees every cell's lists, calling between(user) after every 8 cells when
    // given, then builds trunc(extent / size + 0.5) cells along x and along z. A size of
    // 0 or less, or a box that is not finite, builds no cells.
    void Rebuild(const BoundingBox4& box, float cellSize, void (*between)(void* user) = nullptr, void* user = nullptr);
    // Task 7.
    void SetValue(float value);

    // The cells a world box covers: floor((min - origin) / size) to
    // floor((max - origin) / size) + 1 on x and z, clamped to the grid. All -1 when the
    // grid has no cells or the box is not finite.
    RenderSceneCellRange GetCellRange(const BoundingBox4& worldBox) const;

    uint32_t ColumnCount() const { return columns; }  // along x
    uint32_t RowCount() const { return rows; }        // along z
    uint32_t CellCount() const { return static_cast<uint32_t>(cells.size()); }
    RenderSceneCell& Cell(uint32_t column, uint32_t row) { return cells[column * rows + row]; }
    const RenderSceneCell& Cell(uint32_t column, uint32_t row) const { return cells[column * rows + row]; }
    const BoundingBox4& Box() const { return box; }
    float CellSize() const { return cellSize; }
    // Changes with every build (of any grid), so a range remembered against an earlier
    // build is never taken for one of this build.
    uint32_t Generation() const { return generation; }

    // Sorted insertion and removal of a context in one cell's first list; inserting a
    // listed context or removing an absent one changes nothing.
    static void Insert(RenderSceneCell& cell, const RenderSceneCellRecord& record);
    static void Remove(RenderSceneCell& cell, const EntityRenderingContext* context);

private:
    std::vector<RenderSceneCell> cells;
    uint32_t columns = 0, rows = 0;
    BoundingBox4 box = BoundingBox4::ZERO4;
    float cellSize = 0.0f;
    uint32_t generation;
};
