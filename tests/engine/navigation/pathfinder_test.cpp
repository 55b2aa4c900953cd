// test-sources: ../NumpyReference.cpp
// Path finding on random walk grids against networkx's Dijkstra (every step 8-adjacent
// and usable, the cost of the reference where the goal is reachable, else the reachable
// tile nearest the goal), goals inside blocked areas, the failures that do not start a
// search, the node budget per slice, path smoothing, and the blocked cells that obstacles
// leave after a rebuild against a brute-force test of each cell centre.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <memory>
#include <random>
#include <sstream>

#include "WalkGridSupport.h"
#include "engine/NumpyReference.h"
#include "engine/entity/EntityTestSupport.h"
#include "engine/navigation/Pathfinder.h"
#include "engine/navigation/WalkMap.h"

namespace {

const Vector kOrigin(3.0f, 0.5f, -4.0f, 1.0f);

struct Cell {
    int x, y;
};

double StepCost(uint32_t a, uint32_t b) {
    const int dx = std::abs(int(WalkMap::TileX(a)) - int(WalkMap::TileX(b)));
    const int dy = std::abs(int(WalkMap::TileY(a)) - int(WalkMap::TileY(b)));
    EXPECT_TRUE(dx <= 1 && dy <= 1 && dx + dy > 0) << "tiles " << a << " and " << b << " are not neighbours";
    return dx && dy ? 1.41421 : 1.0;
}

uint32_t Solve(Pathfinder& finder, SceneGrid* grid, const Vector& start, const Vector& goal, Dynarray<Vector>& path) {
    EXPECT_TRUE(finder.FindPath(grid, start, goal, 0, FLT_MAX));
    EXPECT_FALSE(finder.Step(0xFFFFFFFF));
    EXPECT_TRUE(finder.GetPath(path));
    return finder.EndTile();
}

TEST(PathfinderTest, RandomGridsAgreeWithDijkstra) {
    std::mt19937 rng(7);
    struct Case {
        std::unique_ptr<SceneGrid> grid;
        Cell start, goal;
        Vector startPosition;
    };
    std::vector<Case> cases;
    std::ostringstream input;
    const float sizes[] = {0.5f, 1.0f, 2.0f};
    for (int c = 0; c < 40; ++c) {
        const uint32_t w = 10 + rng() % 25, h = 10 + rng() % 20;
        const float size = sizes[c % 3];
        std::vector<uint8_t> cells(w * h);
        std::vector<Cell> usable;
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint32_t r = rng() % 100;
            cells[i] = r < 22 ? 0 : r < 30 ? 3 : 1;  // plain walls and obstacle-blocked cells
            if (cells[i] == 1) usable.push_back({int(i % w), int(i / w)});
        }
        const Cell s = usable[rng() % usable.size()], g = usable[rng() % usable.size()];
        std::uniform_real_distribution<float> jitter(-0.3f * size, 0.3f * size);
        const Vector sp(kOrigin.x + s.x * size + jitter(rng), 0.7f, kOrigin.z + s.y * size + jitter(rng), 1.0f);
        input << w << ' ' << h << ' ' << size << ' ' << s.x << ' ' << s.y << ' ' << g.x << ' ' << g.y;
        for (uint8_t cell : cells) input << ' ' << int(WalkMap::IsUsableCell(cell));
        input << '\n';
        cases.push_back({std::unique_ptr<SceneGrid>(MakeWalkGrid(w, h, size, kOrigin, cells)), s, g, sp});
    }
    const std::vector<std::string> reference = RunNumpyReference("navigation/path_reference.py", input.str());
    ASSERT_EQ(reference.size(), cases.size());

    Pathfinder finder;
    int reached = 0;
    for (size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(c);
        const Case& k = cases[c];
        double cost = -1, nearest = 0;
        std::istringstream(reference[c]) >> cost >> nearest;
        const Vector goal = k.grid->CellToWorld(k.goal.x, k.goal.y);
        Dynarray<Vector> path;
        const uint32_t end = Solve(finder, k.grid.get(), k.startPosition, goal, path);
        ASSERT_GE(path.Count(), 1u);
        EXPECT_EQ(path[0].x, k.startPosition.x);
        EXPECT_EQ(path[0].z, k.startPosition.z);
        EXPECT_EQ(PathPointTile(path[0]), WalkMap::MakeTile(k.start.x, k.start.y));
        EXPECT_EQ(PathPointTile(path[path.Count() - 1]), end);
        double walked = 0;
        for (uint32_t i = 1; i < path.Count(); ++i) {
            const uint32_t tile = PathPointTile(path[i]);
            EXPECT_TRUE(WalkMap::IsUsableCell(k.grid->Cells()[WalkMap::TileY(tile) * k.grid->Width() + WalkMap::TileX(tile)]));
            EXPECT_EQ(path[i], Vector(k.grid->CellToWorld(tile).x, kOrigin.y, k.grid->CellToWorld(tile).z, path[i].w));
            walked += StepCost(PathPointTile(path[i - 1]), tile) * k.grid->CellSize();
        }
        if (cost >= 0) {
            ++reached;
            EXPECT_EQ(end, WalkMap::MakeTile(k.goal.x, k.goal.y));
            EXPECT_NEAR(walked, cost, 1e-3 * std::max(1.0, cost));
        } else {
            EXPECT_NEAR(std::hypot(double(WalkMap::TileX(end)) - k.goal.x, double(WalkMap::TileY(end)) - k.goal.y),
                        nearest, 1e-4);
        }
    }
    EXPECT_GT(reached, 10);
    EXPECT_LT(reached, 40);  // some goals lie in other regions
}

TEST(PathfinderTest, GoalInsideBlockedAreaEndsAtNearestRingTile) {
    const uint32_t w = 20, h = 20;
    std::vector<uint8_t> cells(w * h, 1);
    for (uint32_t y = 5; y <= 9; ++y)
        for (uint32_t x = 6; x <= 11; ++x) cells[y * w + x] = y == 7 ? 3 : 0;
    std::unique_ptr<SceneGrid> grid(MakeWalkGrid(w, h, 1.0f, kOrigin, cells));
    const Vector goals[] = {{kOrigin.x + 6.3f, 0, kOrigin.z + 6.1f, 1},
                            {kOrigin.x + 10.6f, 2, kOrigin.z + 8.8f, 1},
                            {kOrigin.x + 8.2f, 0, kOrigin.z + 8.9f, 1}};
    Pathfinder finder;
    for (const Vector& goal : goals) {
        uint32_t best = WalkMap::kNoTile;
        float bestDistance = FLT_MAX;
        for (uint32_t y = 4; y <= 10; ++y)
            for (uint32_t x = 5; x <= 12; ++x) {
                const float d = (grid->CellToWorld(x, y) - goal).Length3();
                if (WalkMap::IsUsableCell(cells[y * w + x]) && d < bestDistance) bestDistance = d, best = WalkMap::MakeTile(x, y);
            }
        Dynarray<Vector> path;
        EXPECT_EQ(Solve(finder, grid.get(), grid->CellToWorld(1, 1), goal, path), best);
    }
}

TEST(PathfinderTest, SearchesThatCannotStart) {
    CaptureLogSink log;
    log.Attach();
    const uint32_t w = 20, h = 20;
    std::vector<uint8_t> cells(w * h, 0);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 15; x < w; ++x) cells[y * w + x] = 1;
    std::unique_ptr<SceneGrid> grid(MakeWalkGrid(w, h, 1.0f, kOrigin, cells));
    std::unique_ptr<SceneGrid> noSize(MakeWalkGrid(w, h, 0.0f, kOrigin, cells));
    std::unique_ptr<SceneGrid> empty(MakeWalkGrid(0, 0, 1.0f, kOrigin, {}));
    const struct {
        SceneGrid* grid;
        Vector start, goal;
        const char* message;  // null: no line
    } cases[] = {
        {grid.get(), grid->CellToWorld(9, 3), grid->CellToWorld(17, 3), "Source tile cannot be found at position"},
        {grid.get(), grid->CellToWorld(10, 3), grid->CellToWorld(30, 3), "Destination tile cannot be found at position"},
        {noSize.get(), grid->CellToWorld(17, 3), grid->CellToWorld(18, 3), nullptr},
        {empty.get(), grid->CellToWorld(17, 3), grid->CellToWorld(18, 3), nullptr},
        {nullptr, grid->CellToWorld(17, 3), grid->CellToWorld(18, 3), nullptr},
    };
    Pathfinder finder;
    for (const auto& c : cases) {
        log.Clear();
        EXPECT_FALSE(finder.FindPath(c.grid, c.start, c.goal, 0, FLT_MAX));
        EXPECT_FALSE(finder.Step(100));
        Dynarray<Vector> path;
        EXPECT_FALSE(finder.GetPath(path));
        EXPECT_EQ(path.Count(), 0u);
        if (c.message)
            EXPECT_TRUE(log.Contains(std::string("Cannot find path. ") + c.message)) << c.message;
        else
            EXPECT_TRUE(log.Messages().empty());
        if (c.grid) {
            finder.Reset(c.grid);
            if (!c.message) EXPECT_EQ(finder.FindNearestTile(c.start), WalkMap::kNoTile);
        }
    }
    // A start five cells from the usable area still finds its tile.
    finder.Reset(grid.get());
    EXPECT_EQ(finder.FindNearestTile(grid->CellToWorld(10, 3)), WalkMap::MakeTile(15, 3));
}

TEST(PathfinderTest, BudgetBoundsNodesPerSlice) {
    // A corridor of ten cells: the search pops each once.
    const uint32_t w = 12, h = 3;
    std::vector<uint8_t> cells(w * h, 0);
    for (uint32_t x = 1; x <= 10; ++x) cells[w + x] = 1;
    std::unique_ptr<SceneGrid> grid(MakeWalkGrid(w, h, 1.0f, kOrigin, cells));
    const struct {
        uint32_t budget, unfinishedSlices;
    } cases[] = {{0, 9}, {1, 4}, {3, 2}, {9, 0}};
    Pathfinder finder;
    for (const auto& c : cases) {
        ASSERT_TRUE(finder.FindPath(grid.get(), grid->CellToWorld(1, 1), grid->CellToWorld(10, 1), 0, FLT_MAX));
        uint32_t slices = 0;
        while (finder.Step(c.budget) && slices < 100) ++slices;
        EXPECT_EQ(slices, c.unfinishedSlices) << "budget " << c.budget;
        EXPECT_EQ(finder.EndTile(), WalkMap::MakeTile(10, 1));
    }
}

TEST(PathfinderTest, SmoothingMovesOnlyGentleTurns) {
    // w1 / w0 = exp(-1 / 20.48): the middle point becomes (b + 0.952345 (a + c)) / 2.90469.
    const struct {
        Vector a, b, c, smoothed;
    } cases[] = {
        {{0, 0, 0, 1}, {1, 0, 1, 5}, {2, 0, 0, 1}, {1, 0, 0.344271f, 5}},      // right angle: moved
        {{0, 0, 0, 1}, {1, 0.5f, 0, 7}, {2, 0, 0, 1}, {1, 0.172135f, 0, 7}},   // shallow bend: moved
        {{0, 0, 0, 1}, {1, 2, 0, 3}, {2, 0, 0, 1}, {1, 2, 0, 3}},              // sharp spike: kept
        {{0, 0, 0, 1}, {1, 0, 0, 9}, {0.2f, 0, 0.1f, 1}, {1, 0, 0, 9}},       // turning back: kept
    };
    for (const auto& k : cases) {
        Dynarray<Vector> path;
        path.Add(k.a), path.Add(k.b), path.Add(k.c);
        SmoothPath(path);
        EXPECT_EQ(path[0], k.a);
        EXPECT_EQ(path[2], k.c);
        EXPECT_NEAR(path[1].x, k.smoothed.x, 1e-5f);
        EXPECT_NEAR(path[1].y, k.smoothed.y, 1e-5f);
        EXPECT_NEAR(path[1].z, k.smoothed.z, 1e-5f);
        EXPECT_EQ(path[1].w, k.b.w);
    }
}

class ObstacleTest : public EntityTest {};

TEST_F(ObstacleTest, RebuildMatchesBruteForceOfCellCentres) {
    std::mt19937 rng(3);
    const uint32_t w = 40, h = 36;
    const Vector origin(-10.0f, 0.0f, -9.0f, 1.0f);
    std::vector<uint8_t> cells(w * h);
    for (uint8_t& c : cells) c = uint8_t((rng() % 10 ? 1 : 0) | (rng() % 4 ? 0 : 2));  // stale blocked bits
    SceneGrid* grid = MakeWalkGrid(w, h, 0.5f, origin, cells);
    gEntityManager->SetSceneGrid(grid);
    std::uniform_real_distribution<float> pos(-9.0f, 9.0f), extent(0.3f, 3.0f), scale(0.5f, 2.0f);
    std::vector<Entity*> obstacles;
    for (int i = 0; i < 8; ++i) {
        Entity* e = Make();
        e->SetLocalBoundingBox(BoundingBox4(Vector(-extent(rng), -1, -extent(rng), 1), Vector(extent(rng), 2, extent(rng), 1)));
        e->SetLocalRotation3(0, float(rng() % 360), 0);
        e->SetLocalScale3(scale(rng), scale(rng), scale(rng));
        e->SetGlobalPosition3(pos(rng), pos(rng), pos(rng));
        WalkMap::UpdateMeshEntityTiles(e);
        WalkMap::UpdateMeshEntityTiles(e);  // registered once
        obstacles.push_back(e);
    }
    obstacles[0]->RaiseFlag(ENTITYFLAG_GHOSTMODE, false);
    gEntityManager->DestroyEntity(obstacles[1]);
    ASSERT_TRUE(grid->IsDirty());
    grid->Update();
    EXPECT_FALSE(grid->IsDirty());
    EXPECT_EQ(grid->Obstacles().Count(), 7u);

    int blocked = 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const double px = origin.x + 0.5 * x, pz = origin.z + 0.5 * y;
            bool expected = false, nearEdge = false;
            for (size_t i = 2; i < obstacles.size(); ++i) {
                const Matrix& m = obstacles[i]->GetGlobalLocationMatrix();
                const BoundingBox4& box = obstacles[i]->GetLocalBoundingBox();
                const double dx = px - m.r[3].x, dz = pz - m.r[3].z;
                const double lx = (dx * m.r[0].x + dz * m.r[0].z) / (double(m.r[0].x) * m.r[0].x + double(m.r[0].z) * m.r[0].z);
                const double lz = (dx * m.r[2].x + dz * m.r[2].z) / (double(m.r[2].x) * m.r[2].x + double(m.r[2].z) * m.r[2].z);
                const double margin = std::min({lx - box.min.x, box.max.x - lx, lz - box.min.z, box.max.z - lz});
                expected |= margin >= 0;
                nearEdge |= std::fabs(margin) < 1e-4;
            }
            const uint8_t cell = grid->Cells()[y * w + x];
            expected &= (cells[y * w + x] & 1) != 0;
            blocked += expected;
            if (!nearEdge) EXPECT_EQ((cell & 2) != 0, expected) << x << "," << y;
            EXPECT_EQ(cell & 1, cells[y * w + x] & 1);
        }
    EXPECT_GT(blocked, 20);
}

}  // namespace
