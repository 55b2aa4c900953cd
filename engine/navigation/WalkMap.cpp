#include "engine/navigation/WalkMap.h"

#include <cmath>

#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/SceneGrid.h"

namespace {

// floor(v) + bias clamped to 0..count (NaN gives 0), without converting huge values.
uint32_t ClampedCell(float v, float bias, uint32_t count) {
    const float f = std::floor(v) + bias;
    if (!(f > 0.0f)) return 0;
    return f >= float(count) ? count : uint32_t(f);
}

void BlockCellsUnder(SceneGrid& grid, Entity* obstacle) {
    // The template's box, which stays put while the entity's own may follow its animation.
    const EntityTemplate* t = obstacle->GetTemplate();
    const BoundingBox4& local = t ? t->staticBoundingBox : obstacle->GetLocalBoundingBox();
    if (local.IsEmpty3D()) return;
    BoundingBox4 world;
    world.Transform3D(local, obstacle->GetGlobalLocationMatrix());
    const Vector& origin = grid.Origin();
    const float size = grid.CellSize();
    const uint32_t x0 = ClampedCell((world.min.x - origin.x) / size, 0.0f, grid.Width());
    const uint32_t x1 = ClampedCell((world.max.x - origin.x) / size, 1.0f, grid.Width());
    const uint32_t y0 = ClampedCell((world.min.z - origin.z) / size, 0.0f, grid.Height());
    const uint32_t y1 = ClampedCell((world.max.z - origin.z) / size, 1.0f, grid.Height());
    const Matrix& inverse = obstacle->GetInversedGlobalLocationMatrix();
    const float centreY = local.GetCenter().y;
    uint8_t* cells = grid.Cells();
    for (uint32_t y = y0; y < y1; ++y)
        for (uint32_t x = x0; x < x1; ++x) {
            uint8_t& cell = cells[size_t(y) * grid.Width() + x];
            if (!(cell & WalkMap::kCellWalkable)) continue;
            Vector p = grid.CellToWorld(x, y);
            p.Transform3D(inverse);
            p.y = centreY;
            if (local.Inside3D(p)) cell |= WalkMap::kCellBlocked;
        }
}

}  // namespace

bool WalkMap::IsUsableGrid(const SceneGrid& grid) {
    return grid.Cells() && grid.Width() && grid.Height() && grid.Width() <= SceneGrid::kMaxSide &&
           grid.Height() <= SceneGrid::kMaxSide && grid.CellSize() > 0.0f && std::isfinite(grid.CellSize());
}

void WalkMap::UpdateMeshEntityTiles(Entity* mesh) {
    SceneGrid* grid = gEntityManager->GetSceneGrid();
    if (!grid || !mesh) return;
    DynarraySafe<SafePointer<Entity>>& obstacles = grid->Obstacles();
    for (const SafePointer<Entity>& o : obstacles)
        if (o.Get() == mesh) return;
    obstacles.Add(SafePointer<Entity>(mesh));
    grid->MarkDirty();
}

void WalkMap::RebuildBlockedTiles(SceneGrid& grid) {
    uint8_t* cells = grid.Cells();
    const size_t count = cells ? size_t(grid.Width()) * grid.Height() : 0;
    for (size_t i = 0; i < count; ++i) cells[i] &= uint8_t(~kCellBlocked);
    DynarraySafe<SafePointer<Entity>>& obstacles = grid.Obstacles();
    for (uint32_t i = obstacles.Count(); i-- > 0;)
        if (!obstacles[i]) obstacles.Remove(i);
    if (!IsUsableGrid(grid)) return;
    for (const SafePointer<Entity>& o : obstacles)
        if (!o->CheckFlag(ENTITYFLAG_GHOSTMODE)) BlockCellsUnder(grid, o.Get());
}

void WalkMap::UpdateBlockedTiles(SceneGrid& grid) {
    if (!grid.IsDirty()) return;
    RebuildBlockedTiles(grid);
    grid.ClearDirty();
}
