#pragma once
// Walk grids for the navigation tests, read through the grid's own block reader.
#include <cstring>
#include <vector>

#include "core/math/Vector.h"
#include "engine/entity/Entity.h"
#include "engine/entity/SceneGrid.h"

inline std::vector<uint8_t> WalkGridBlock(uint32_t width, uint32_t height, float cellSize, const Vector& origin,
                                          const std::vector<uint8_t>& cells) {
    std::vector<uint8_t> block(SceneGrid::kHeaderSize + cells.size());
    const uint32_t words[4] = {SceneGrid::kMagic, SceneGrid::kVersion, width, height};
    const float floats[5] = {origin.x, origin.y, origin.z, origin.w, cellSize};
    std::memcpy(block.data(), words, sizeof words);
    std::memcpy(block.data() + 16, floats, sizeof floats);
    if (!cells.empty()) std::memcpy(block.data() + SceneGrid::kHeaderSize, cells.data(), cells.size());
    return block;
}

inline SceneGrid* MakeWalkGrid(uint32_t width, uint32_t height, float cellSize, const Vector& origin,
                               const std::vector<uint8_t>& cells) {
    const std::vector<uint8_t> block = WalkGridBlock(width, height, cellSize, origin, cells);
    auto* grid = new SceneGrid();
    grid->Read(block.data(), block.size(), true);
    return grid;
}
