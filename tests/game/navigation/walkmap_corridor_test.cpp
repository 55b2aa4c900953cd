// test-sources: ../../engine/NumpyReference.cpp
// The walk-map corridor against a brute-force reference (walkmap_reference.py) on 1,000
// seeded random maps, and the cases worked by hand on a 10 x 10 map of unit tiles: short
// directions, corners off the map, blocked first and later rows, the wide tolerance,
// diagonals, an end point off the map and a direction stepping along neither axis.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/NumpyReference.h"
#include "engine/entity/SceneGrid.h"
#include "engine/navigation/WalkGridSupport.h"
#include "game/navigation/ZKRWalkMapUtils.h"

namespace {

constexpr uint32_t kSide = 10;

// A 10 x 10 map of walkable unit tiles with the given tiles blocked; tile (x, z) holds
// world points within 0.5 of (x, 0, z).
std::unique_ptr<SceneGrid> Map(std::initializer_list<std::pair<int, int>> blocked) {
    std::vector<uint8_t> cells(kSide * kSide, 1);
    for (const auto& [x, z] : blocked) cells[z * kSide + x] = 2;  // another bit, not walkable
    return std::unique_ptr<SceneGrid>(MakeWalkGrid(kSide, kSide, 1.0f, Vector(0, 0, 0, 1), cells));
}

TEST(WalkMapCorridor, HandWorkedCases) {
    const Vector east(1, 0, 0, 0), west(-1, 0, 0, 0), north(0, 0, 1, 0);
    const Vector diagonal(0.70710678f, 0, 0.70710678f, 0);
    const struct {
        const char* what;
        std::initializer_list<std::pair<int, int>> blocked;
        Vector position, direction;
        float width, length;
        bool wide;
        float expected;
    } cases[] = {
        // From (2, 5) east with width 4 the rows are tiles x = 2 + i, z = 3..6.
        {"a clear corridor is whole", {}, {2, 0, 5, 1}, east, 4, 5, false, 5},
        {"a direction of length 0.5", {}, {2, 0, 5, 1}, {0.5f, 0, 0, 0}, 4, 5, false, 0},
        {"a side corner off the map", {}, {5, 0, 0.2f, 1}, east, 4, 5, false, 0},
        {"the first row blocked", {{2, 5}}, {2, 0, 5, 1}, east, 4, 5, false, 0},
        {"the third row blocked", {{4, 4}}, {2, 0, 5, 1}, east, 4, 5, false, 2},
        {"a tile beside the corridor", {{4, 7}}, {2, 0, 5, 1}, east, 4, 5, false, 5},
        {"wide tolerates a lone blocked tile", {{2, 5}}, {2, 0, 5, 1}, east, 4, 5, true, 5},
        {"wide fails inside a blocked patch",
         {{3, 4}, {4, 4}, {5, 4}, {3, 5}, {4, 5}, {5, 5}, {3, 6}, {4, 6}, {5, 6}},
         {2, 0, 5, 1},
         east,
         4,
         5,
         true,
         2},
        // Northward the side points to -x: rows from x = 7 down to x = 4.
        {"northward", {{5, 3}}, {5, 0, 1, 1}, north, 4, 6, false, 2},
        // The end point off the map: the walk stops where it leaves the map.
        {"the end off the map", {}, {2, 0, 5, 1}, east, 4, 1e6f, false, 8},
        // From the map's first or last column or row the walk leaves it after its
        // whole side: rows x = 0..9 (east), x = 9..0 (west), z = 0..9 (north).
        {"east from the first column", {}, {0, 0, 5, 1}, east, 4, 1e6f, false, 10},
        {"east from the last column", {}, {9, 0, 5, 1}, east, 4, 1e6f, false, 1},
        {"west from the last column", {}, {9, 0, 5, 1}, west, 4, 1e6f, false, 10},
        {"north from the first row", {}, {5, 0, 0, 1}, north, 4, 1e6f, false, 10},
        // Diagonally from beside a corner, rows (1 + i, i) and (i, 1 + i): the side corner
        // keeps the start a tile away from the corner, so the walk leaves after 9 rows.
        {"a diagonal from beside a corner", {}, {0.5f, 0, 0.5f, 1}, diagonal, 1.4142f, 1e6f, false, 9},
        {"back along the diagonal", {}, {8.5f, 0, 8.5f, 1}, -diagonal, 1.4142f, 1e6f, false, 9},
        // Diagonally the corridor is as many tiles across as its corners say: from the
        // corner tile (4, 2) the rows are (4 + i, 2 + i) and (3 + i, 3 + i).
        {"a clear diagonal", {}, {3, 0, 3, 1}, diagonal, 2.83f, 4, false, 4},
        {"a diagonal blocked across", {{3, 3}}, {3, 0, 3, 1}, diagonal, 2.83f, 4, false, 0},
        {"a diagonal blocked ahead", {{5, 5}}, {3, 0, 3, 1}, diagonal, 2.83f, 4, false, 2},
        // Stepping along neither axis: the first row (the corner tile (6, 4)) decides, at
        // once, however long the corridor.
        {"neither axis, clear", {}, {5, 0, 5, 1}, {0.4f, 0.8f, 0.4f, 0}, 4, 1e9f, false, 1e9f},
        {"neither axis, blocked", {{6, 4}}, {5, 0, 5, 1}, {0.4f, 0.8f, 0.4f, 0}, 4, 1e9f, false, 0},
    };
    for (const auto& c : cases) {
        const auto map = Map(c.blocked);
        EXPECT_FLOAT_EQ(ZKRWalkMapUtils::GetExtrudeLength(*map, c.position, c.direction, c.width, c.length, c.wide),
                        c.expected)
            << c.what;
    }
}

TEST(WalkMapCorridor, MatchesTheReferenceOnRandomMaps) {
    std::mt19937 rng(7676);
    auto uniform = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    auto integer = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    struct Case {
        std::unique_ptr<SceneGrid> grid;
        Vector position, direction;
        float width, length;
        bool wide;
    };
    std::vector<Case> cases;
    std::ostringstream input;
    for (int n = 0; n < 1000; ++n) {
        const uint32_t w = integer(1, 16), h = integer(1, 16);
        const float cellSize = std::vector<float>{0.5f, 1.0f, 2.5f}[integer(0, 2)];
        const Vector origin(uniform(-10, 10), 0, uniform(-10, 10), 1);
        const int walkable = integer(50, 100);
        std::vector<uint8_t> cells(w * h);
        for (auto& cell : cells) cell = static_cast<uint8_t>(integer(1, 100) <= walkable ? 1 + 2 * integer(0, 1) : 2);
        Case c;
        c.grid.reset(MakeWalkGrid(w, h, cellSize, origin, cells));
        c.position = Vector(origin.x + uniform(-1, float(w)) * cellSize, uniform(-5, 5),
                            origin.z + uniform(-1, float(h)) * cellSize, 1);
        const float angle = n % 4 == 0 ? float(integer(0, 7)) * 0.78539816f : uniform(0, 6.2831853f);
        const float scale = n % 10 == 0 ? uniform(0.5f, 1.1f) : 1.0f;
        c.direction =
            Vector(std::cos(angle) * scale, n % 7 == 0 ? uniform(-0.8f, 0.8f) : 0.0f, std::sin(angle) * scale, 0);
        c.width = uniform(0, 6) * cellSize;
        c.length = n % 9 == 0 ? uniform(0, 1e5f) : uniform(0, 20) * cellSize;
        c.wide = integer(0, 1) == 1;
        input << w << ' ' << h << ' ' << FloatBits(cellSize) << ' ' << FloatBits(origin.x) << ' '
              << FloatBits(origin.z);
        for (uint8_t cell : cells) input << ' ' << int(cell);
        for (float v : {c.position.x, c.position.y, c.position.z, c.direction.x, c.direction.y, c.direction.z, c.width,
                        c.length}) {
            input << ' ' << FloatBits(v);
        }
        input << ' ' << (c.wide ? 1 : 0) << '\n';
        cases.push_back(std::move(c));
    }
    const std::vector<std::string> lines = RunNumpyReference("../game/navigation/walkmap_reference.py", input.str());
    ASSERT_EQ(lines.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(
            FloatBits(ZKRWalkMapUtils::GetExtrudeLength(*c.grid, c.position, c.direction, c.width, c.length, c.wide)),
            lines[i])
            << "case " << i;
    }
}

}  // namespace
