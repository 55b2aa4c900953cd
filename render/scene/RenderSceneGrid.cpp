#include "render/scene/RenderSceneGrid.h"

#include <algorithm>
#include <cmath>

#include "core/Log.h"

namespace {
uint32_t gNextGeneration = 1;  // render thread

bool Finite(const Vector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// floor(offset / size) + add clamped into [0, count]; below 0 both the first and the
// end index clamp to 0, so the floor is only ever taken of a non-negative value, where
// the integer conversion is the floor.
int32_t ClampedCell(float offset, float size, uint32_t count, int32_t add) {
    const float cell = offset / size;
    if (!(cell >= 0.0f)) return 0;
    if (cell >= float(count)) return int32_t(count);
    return std::min(int32_t(cell) + add, int32_t(count));
}

auto ByContext(const RenderSceneCellRecord& r, const EntityRenderingContext* c) { return r.context < c; }
}  // namespace

RenderSceneGrid::RenderSceneGrid() : generation(gNextGeneration++) {}

void RenderSceneGrid::Rebuild(const BoundingBox4& newBox, float size, void (*between)(void*), void* user) {
    for (uint32_t i = 0; i < cells.size(); ++i) {
        std::vector<RenderSceneCellRecord>().swap(cells[i].contexts);
        std::vector<RenderSceneCellRecord>().swap(cells[i].secondList);
        if (between && (i + 1) % kCellsPerJobPass == 0) between(user);
    }
    cells.clear();
    columns = rows = 0;
    box = newBox;
    cellSize = size;
    generation = gNextGeneration++;
    if (!(size > 0.0f) || !Finite(newBox.min) || !Finite(newBox.max)) return;
    const float alongX = std::trunc((newBox.max.x - newBox.min.x) / size + 0.5f);
    const float alongZ = std::trunc((newBox.max.z - newBox.min.z) / size + 0.5f);
    if (!(alongX > 0.0f) || !(alongZ > 0.0f)) return;
    if (double(alongX) * double(alongZ) > double(kMaxCells)) {
        gLog.Error(LogCategory::RenderDevice, "Scene grid of %.0f x %.0f cells refused", alongX, alongZ);
        return;
    }
    columns = uint32_t(alongX);
    rows = uint32_t(alongZ);
    cells.resize(size_t(columns) * rows);
    for (uint32_t i = 0; i < columns; ++i) {
        for (uint32_t j = 0; j < rows; ++j) {
            RenderSceneCell& c = Cell(i, j);
            c.bounds.min =
                Vector(newBox.min.x + float(i) * size, newBox.min.y, newBox.min.z + float(j) * size, newBox.min.w);
            c.bounds.max = Vector(c.bounds.min.x + size, newBox.max.y, c.bounds.min.z + size, newBox.max.w);
            c.value = size;
        }
    }
}

void RenderSceneGrid::SetValue(float value) {
    for (RenderSceneCell& c : cells) c.value = value;
}

RenderSceneCellRange RenderSceneGrid::GetCellRange(const BoundingBox4& world) const {
    RenderSceneCellRange range;
    if (cells.empty() || !Finite(world.min) || !Finite(world.max)) return range;
    range.firstColumn = ClampedCell(world.min.x - box.min.x, cellSize, columns, 0);
    range.firstRow = ClampedCell(world.min.z - box.min.z, cellSize, rows, 0);
    range.endColumn = ClampedCell(world.max.x - box.min.x, cellSize, columns, 1);
    range.endRow = ClampedCell(world.max.z - box.min.z, cellSize, rows, 1);
    return range;
}

void RenderSceneGrid::Insert(RenderSceneCell& cell, const RenderSceneCellRecord& record) {
    auto at = std::lower_bound(cell.contexts.begin(), cell.contexts.end(), record.context, ByContext);
    if (at != cell.contexts.end() && at->context == record.context) return;
    cell.contexts.insert(at, record);
}

void RenderSceneGrid::Remove(RenderSceneCell& cell, const EntityRenderingContext* context) {
    auto at = std::lower_bound(cell.contexts.begin(), cell.contexts.end(), context, ByContext);
    if (at != cell.contexts.end() && at->context == context) cell.contexts.erase(at);
}
