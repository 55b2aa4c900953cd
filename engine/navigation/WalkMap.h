#pragma once
// The walk map: what the scene grid's cell bytes mean to walking characters, and the
// upkeep of the cells that dynamic obstacles block.
//
// Cell byte: bit 0 walkable (from the scene file), bit 1 blocked by an obstacle (set only
// by RebuildBlockedTiles). A cell is usable when it is walkable and not blocked. A tile is
// named by its id y << 16 | x (x the column, y the row along world z); kNoTile is none.
// The centre of a tile is the grid's CellToWorld point, whose y is the grid's height.
//
// Obstacles are mesh entities whose template has "Dynamic player collision": they register
// once initialised and mark the grid dirty when they move, enter ghost mode or die; the
// scene grid's per-frame Update then rebuilds the blocked bits.
//
// Threads: main thread only.
#include <cstdint>

class Entity;
class SceneGrid;

namespace WalkMap {

constexpr uint8_t kCellWalkable = 1;
constexpr uint8_t kCellBlocked = 2;
constexpr uint32_t kNoTile = 0xFFFFFFFF;

inline uint32_t MakeTile(uint32_t x, uint32_t y) { return y << 16 | x; }
inline uint32_t TileX(uint32_t tile) { return tile & 0xFFFF; }
inline uint32_t TileY(uint32_t tile) { return tile >> 16; }
inline bool IsUsableCell(uint8_t cell) { return (cell & (kCellWalkable | kCellBlocked)) == kCellWalkable; }

// Whether paths can be found on the grid: it has cells, a positive finite cell size and
// sides that fit the 16-bit halves of a tile id. Any other grid counts as no grid.
bool IsUsableGrid(const SceneGrid& grid);

// Registers a mesh entity as an obstacle of the active scene grid (none: nothing) and
// marks the grid dirty, so the entity blocks its cells from the next rebuild on.
void UpdateMeshEntityTiles(Entity* mesh);

// Clears every blocked bit, drops obstacles that died, and blocks each walkable cell whose
// centre, taken into the obstacle's local space at the height of its box centre, lies in
// the local box of the obstacle's template. Obstacles in ghost mode block nothing.
void RebuildBlockedTiles(SceneGrid& grid);

// Once per frame: while the grid is dirty, rebuilds its blocked cells and clears the flag.
void UpdateBlockedTiles(SceneGrid& grid);

}  // namespace WalkMap
