#include "game/navigation/ZKRWalkMapUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/entity/EntityManager.h"
#include "engine/entity/SceneGrid.h"
#include "engine/navigation/WalkMap.h"

namespace {

struct Tile {
    int64_t x = 0;
    int64_t y = 0;
};

bool ToTile(const SceneGrid& grid, const Vector& p, Tile* tile) {
    const uint32_t cell = grid.WorldToCell(p);
    if (cell == SceneGrid::kNoCell) return false;
    *tile = {cell & 0xFFFF, cell >> 16};
    return true;
}

int64_t Chebyshev(const Tile& a, const Tile& b) { return std::max(std::llabs(a.x - b.x), std::llabs(a.y - b.y)); }

// One tile per step along an axis the vector leans on by at least half.
int Step(float v) {
    if (!(std::fabs(v) >= 0.5f)) return 0;
    return v > 0.0f ? 1 : -1;
}

bool Walkable(const SceneGrid& grid, int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= grid.Width() || y >= grid.Height()) return false;
    return (grid.Cells()[y * grid.Width() + x] & WalkMap::kCellWalkable) != 0;
}

}  // namespace

bool ZKRWalkMapUtils::IsWalkableNear(const SceneGrid& grid, int64_t x, int64_t y, bool wide) {
    if (x < 0 || y < 0 || x >= grid.Width() || y >= grid.Height()) return false;
    if (Walkable(grid, x, y)) return true;
    if (!wide) return false;
    for (int64_t j = -1; j <= 1; ++j) {
        for (int64_t i = -1; i <= 1; ++i) {
            if ((i != 0 || j != 0) && Walkable(grid, x + i, y + j)) return true;
        }
    }
    return false;
}

float ZKRWalkMapUtils::GetExtrudeLength(const Vector& position, const Vector& direction, float width, float maxLength,
                                        bool wide) {
    const SceneGrid* grid = gEntityManager ? gEntityManager->GetSceneGrid() : nullptr;
    if (!grid) return 0.0f;
    return GetExtrudeLength(*grid, position, direction, width, maxLength, wide);
}

float ZKRWalkMapUtils::GetExtrudeLength(const SceneGrid& grid, const Vector& position, const Vector& direction,
                                        float width, float maxLength, bool wide) {
    const float lengthSq = direction.x * direction.x + direction.y * direction.y + direction.z * direction.z;
    if (!(lengthSq >= 0.9f)) return 0.0f;

    const Vector side(-direction.z, 0.0f, direction.x, 0.0f);
    const float half = width * 0.5f;
    const Vector a(position.x + half * side.x, position.y, position.z + half * side.z, 1.0f);
    const Vector b(position.x - half * side.x, position.y, position.z - half * side.z, 1.0f);
    const Vector e(b.x + maxLength * direction.x, b.y + maxLength * direction.y, b.z + maxLength * direction.z, 1.0f);

    Tile tileA, tileB, tileE;
    if (!ToTile(grid, a, &tileA) || !ToTile(grid, b, &tileB)) return 0.0f;
    // Row mapSide lies off the map whatever the start tile, so it is the last one tested
    // and it fails: a walk never needs more rows than that.
    const int64_t mapSide = std::max<int64_t>(grid.Width(), grid.Height());
    const int64_t rowCap = mapSide + 1;
    const int64_t steps = ToTile(grid, e, &tileE) ? std::min(Chebyshev(tileB, tileE), rowCap) : rowCap;
    const int64_t across = Chebyshev(tileB, tileA);

    const int dx = Step(direction.x), dy = Step(direction.z);
    const int sx = Step(side.x), sy = Step(side.z);
    // Standing still along the direction, every row is the first one.
    const int64_t rows = dx == 0 && dy == 0 ? 1 : steps;
    for (int64_t i = 0; i < rows; ++i) {
        int64_t x = tileB.x + i * dx, y = tileB.y + i * dy;
        for (int64_t j = 0; j < across; ++j, x += sx, y += sy) {
            if (!IsWalkableNear(grid, x, y, wide)) return static_cast<float>(i) * grid.CellSize();
        }
    }
    return maxLength;
}
