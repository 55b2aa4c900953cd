#pragma once
// Walk-map measures for the game's scripts (class ZKRWalkMapUtils, a namespace there).
//
// GetExtrudeLength measures how far a corridor of a given width reaches from a point in a
// direction over walkable tiles of the scene's walk map (gEntityManager's SceneGrid):
// rows of tiles across the corridor, from the tile of its right-hand corner B toward the
// left-hand corner A, are tested one row further along the direction at a time, and the
// length ends at the first row with a failing tile (row index x tile size), or is the
// whole length when every row passes.
//
// Tile counts are Chebyshev counts (the larger of the column and row differences), so a
// diagonal corridor is as wide and as long in tiles as its corners say. The walk tests at
// most the map's larger side plus one rows (that last row lies off the map and fails), and
// a direction that steps along neither axis tests its first row only.
//
// Threads: main thread (the walk map is the main thread's).
#include <cstdint>

#include "core/math/Vector.h"

class SceneGrid;

class ZKRWalkMapUtils {
public:
    // On the current walk map; 0 when the scene has none.
    static float GetExtrudeLength(const Vector& position, const Vector& direction, float width, float maxLength,
                                  bool wide);
    // On the given grid: 0 when |direction|^2 is below 0.9 or a corner of the corridor's
    // start lies off the map.
    static float GetExtrudeLength(const SceneGrid& grid, const Vector& position, const Vector& direction, float width,
                                  float maxLength, bool wide);
    // The tile on the map and walkable, or (with wide) any of its eight neighbours
    // walkable.
    static bool IsWalkableNear(const SceneGrid& grid, int64_t x, int64_t y, bool wide);
};
