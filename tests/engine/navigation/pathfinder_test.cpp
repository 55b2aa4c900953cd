// test-sources: ../NumpyReference.cpp
// Path finding against networkx's Dijkstra on random walk grids.
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
using Grid = std::unique_ptr<SceneGrid>;

uint32_t Solve(Pathfinder& finder, SceneGrid* grid, const Vector& start, const Vector& goal, Dynarray<Vector>& path) {
    EXPECT_TRUE(finder.FindPath(grid, start, goal, 0, FLT_MAX));
    EXPECT_FALSE(finder.Step(0xFFFFFFFF));
    EXPECT_TRUE(finder.GetPath(path));
    return finder.EndTile();
}

TEST(PathfinderTest, RandomGridsAgreeWithDijkstra) {
    std::mt19937 rng(7);
    struct Case {
        Grid grid;
        uint32_t start, goal;
        Vector from;
    };
    std::vector<Case> cases;
    std::ostringstream input;
    for (int c = 0; c < 40; ++c) {
        const uint32_t w = 10 + rng() % 25, h = 10 + rng() % 20;
        const float size = c % 3 ? 0.5f * float(c % 3) : 2.0f;
        std::vector<uint8_t> cells(w * h);
        std::vector<uint32_t> usable;
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint32_t r = rng() % 100;
            cells[i] = r < 22 ? 0 : r < 30 ? 3 : 1;  // walls and obstacle-blocked cells
            if (cells[i] == 1) usable.push_back(WalkMap::MakeTile(i % w, i / w));
        }
        const uint32_t s = usable[rng() % usable.size()], g = usable[rng() % usable.size()];
        Grid grid(MakeWalkGrid(w, h, size, kOrigin, cells));
        std::uniform_real_distribution<float> jitter(-0.3f * size, 0.3f * size);
        const Vector from = grid->CellToWorld(s) + Vector(jitter(rng), 0.2f, jitter(rng), 0);
        input << w << ' ' << h << ' ' << size << ' ' << WalkMap::TileX(s) << ' ' << WalkMap::TileY(s) << ' '
              << WalkMap::TileX(g) << ' ' << WalkMap::TileY(g);
        for (uint8_t cell : cells) input << ' ' << int(WalkMap::IsUsableCell(cell));
        input << '\n';
        cases.push_back({std::move(grid), s, g, from});
    }
    const std::vector<std::string> reference = RunNumpyReference("navigation/path_reference.py", input.str());
    ASSERT_EQ(reference.size(), cases.size());
    Pathfinder finder;
    for (size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(c);
        const Case& k = cases[c];
        double cost = -1, nearest = 0;
        std::istringstream(reference[c]) >> cost >> nearest;
        Dynarray<Vector> path;
        const uint32_t end = Solve(finder, k.grid.get(), k.from, k.grid->CellToWorld(k.goal), path);
        ASSERT_GE(path.Count(), 1u);
        EXPECT_TRUE(path[0].x == k.from.x && path[0].z == k.from.z && PathPointTile(path[0]) == k.start);
        EXPECT_EQ(PathPointTile(path[path.Count() - 1]), end);
        double walked = 0;
        for (uint32_t i = 1; i < path.Count(); ++i) {
            const uint32_t a = PathPointTile(path[i - 1]), b = PathPointTile(path[i]);
            const int dx = std::abs(int(WalkMap::TileX(a)) - int(WalkMap::TileX(b)));
            const int dy = std::abs(int(WalkMap::TileY(a)) - int(WalkMap::TileY(b)));
            EXPECT_TRUE(dx <= 1 && dy <= 1 && dx + dy > 0);
            EXPECT_TRUE(WalkMap::IsUsableCell(k.grid->Cells()[WalkMap::TileY(b) * k.grid->Width() + WalkMap::TileX(b)]));
            EXPECT_EQ(path[i], Vector(k.grid->CellToWorld(b).x, kOrigin.y, k.grid->CellToWorld(b).z, path[i].w));
            walked += (dx && dy ? 1.41421 : 1.0) * k.grid->CellSize();
        }
        if (cost >= 0) {
            EXPECT_EQ(end, k.goal);
            EXPECT_NEAR(walked, cost, 1e-3 * std::max(1.0, cost));
        } else {  // the popped tile nearest the goal: every reachable one is popped
            EXPECT_NEAR(std::hypot(double(WalkMap::TileX(end)) - WalkMap::TileX(k.goal),
                                   double(WalkMap::TileY(end)) - WalkMap::TileY(k.goal)),
                        nearest, 1e-4);
        }
    }
}

TEST(PathfinderTest, GoalInsideBlockedAreaEndsAtNearestRingTile) {
    const uint32_t w = 20, h = 20;
    std::vector<uint8_t> cells(w * h, 1);
    for (uint32_t y = 5; y <= 9; ++y)
        for (uint32_t x = 6; x <= 11; ++x) cells[y * w + x] = y == 7 ? 3 : 0;
    Grid grid(MakeWalkGrid(w, h, 1.0f, kOrigin, cells));
    Pathfinder finder;
    for (const Vector offset : {Vector(6.3f, 0, 6.1f, 0), Vector(10.6f, 2, 8.8f, 0), Vector(8.2f, 0, 8.9f, 0),
                                Vector(8.2f, 0, 6.8f, 0)}) {  // the last one three cells from the ring
        const Vector goal = kOrigin + offset;
        uint32_t best = WalkMap::kNoTile;
        float bestDistance = FLT_MAX;
        for (uint32_t y = 4; y <= 10; ++y)
            for (uint32_t x = 5; x <= 12; ++x)
                if (const float d = (grid->CellToWorld(x, y) - goal).Length3(); cells[y * w + x] == 1 && d < bestDistance)
                    bestDistance = d, best = WalkMap::MakeTile(x, y);
        Dynarray<Vector> path;
        EXPECT_EQ(Solve(finder, grid.get(), grid->CellToWorld(1, 1), goal, path), best);
    }
}

TEST(PathfinderTest, SearchesThatCannotStart) {
    CaptureLogSink log;
    log.Attach();
    std::vector<uint8_t> cells(400, 0);
    for (uint32_t i = 0; i < 400; ++i) cells[i] = i % 20 >= 15;  // usable from column 15 on
    Grid grid(MakeWalkGrid(20, 20, 1.0f, kOrigin, cells)), noSize(MakeWalkGrid(20, 20, 0.0f, kOrigin, cells)),
        empty(MakeWalkGrid(0, 0, 1.0f, kOrigin, {}));
    const struct {
        SceneGrid* grid;
        uint32_t startX, goalX;
        const char* message;  // null: no line
    } cases[] = {{grid.get(), 9, 17, "Source tile cannot be found at position"},
                 {grid.get(), 10, 30, "Destination tile cannot be found at position"},
                 {noSize.get(), 17, 18, nullptr}, {empty.get(), 17, 18, nullptr}, {nullptr, 17, 18, nullptr}};
    Pathfinder finder;
    for (const auto& c : cases) {
        log.Clear();
        EXPECT_FALSE(finder.FindPath(c.grid, grid->CellToWorld(c.startX, 3), grid->CellToWorld(c.goalX, 3), 0, FLT_MAX));
        EXPECT_FALSE(finder.Step(100));
        Dynarray<Vector> path;
        EXPECT_FALSE(finder.GetPath(path));
        EXPECT_EQ(path.Count(), 0u);
        if (c.message) {
            EXPECT_TRUE(log.Contains(std::string("Cannot find path. ") + c.message)) << c.message;
        } else {
            EXPECT_TRUE(log.Messages().empty());
            EXPECT_EQ(finder.FindNearestTile(grid->CellToWorld(17, 3)), WalkMap::kNoTile);
        }
    }
    finder.Reset(grid.get());  // five cells away still finds a tile
    EXPECT_EQ(finder.FindNearestTile(grid->CellToWorld(10, 3)), WalkMap::MakeTile(15, 3));
    // Usable in column 0 only: found from four cells away, and nothing is read past the right edge.
    std::vector<uint8_t> left(48);
    for (uint32_t i = 0; i < 48; ++i) left[i] = i % 6 == 0;
    Grid narrow(MakeWalkGrid(6, 8, 1.0f, kOrigin, left));
    finder.Reset(narrow.get());
    EXPECT_EQ(finder.FindNearestTile(narrow->CellToWorld(4, 3)), WalkMap::MakeTile(0, 3));
}

TEST(PathfinderTest, BudgetBoundsNodesPerSlice) {
    std::vector<uint8_t> cells(36, 0);  // a corridor of ten cells, each popped once
    for (uint32_t x = 1; x <= 10; ++x) cells[12 + x] = 1;
    Grid grid(MakeWalkGrid(12, 3, 1.0f, kOrigin, cells));
    Pathfinder finder;
    for (const auto& [budget, goal, unfinished] : {std::tuple{0u, 10u, 9u}, {1u, 10u, 4u}, {3u, 10u, 2u}, {9u, 10u, 0u}, {0u, 6u, 5u}}) {
        ASSERT_TRUE(finder.FindPath(grid.get(), grid->CellToWorld(1, 1), grid->CellToWorld(goal, 1), 0, FLT_MAX));
        uint32_t slices = 0;
        while (finder.Step(budget) && slices < 100) ++slices;
        EXPECT_EQ(slices, unfinished) << "budget " << budget;
        EXPECT_EQ(finder.EndTile(), WalkMap::MakeTile(goal, 1));
    }
}

TEST(PathfinderTest, GridReadAnewAtAnotherSizeEndsTheSearch) {
    Grid grid(MakeWalkGrid(10, 10, 1.0f, kOrigin, std::vector<uint8_t>(100, 1)));
    Pathfinder finder;
    ASSERT_TRUE(finder.FindPath(grid.get(), grid->CellToWorld(0, 0), grid->CellToWorld(9, 9), 0, FLT_MAX));
    // As when the next scene's grid is made where the last one was.
    const std::vector<uint8_t> block = WalkGridBlock(40, 40, 1.0f, kOrigin, std::vector<uint8_t>(1600, 1));
    ASSERT_NE(grid->Read(block.data(), block.size(), true), 0u);
    EXPECT_FALSE(finder.Step(0xFFFFFFFF));
    Dynarray<Vector> path;
    EXPECT_FALSE(finder.GetPath(path));
}

TEST(PathfinderTest, SmoothingMovesOnlyGentleTurns) {
    // w1 / w0 = exp(-1 / 20.48): a moved middle point is (b + 0.952345 (a + c)) / 2.90469.
    const Vector a(0, 0, 0, 1);
    const struct {
        Vector b, c, smoothed;
    } cases[] = {
        {{1, 0, 1, 5}, {2, 0, 0, 1}, {1, 0, 0.344271f, 5}},      // right angle: moved
        {{1, 0.5f, 0, 7}, {2, 0, 0, 1}, {1, 0.172135f, 0, 7}},   // shallow bend: moved
        {{1, 2, 0, 3}, {2, 0, 0, 1}, {1, 2, 0, 3}},              // sharp spike: kept
    };
    for (const auto& k : cases) {
        Dynarray<Vector> path;
        path.Add(a), path.Add(k.b), path.Add(k.c);
        SmoothPath(path);
        EXPECT_TRUE(path[0] == a && path[2] == k.c && path[1].w == k.b.w);
        EXPECT_LT((path[1] - k.smoothed).Length3(), 1e-5f);
    }
}

TEST_F(EntityTest, ObstacleRebuildMatchesBruteForceOfCellCentres) {
    std::mt19937 rng(3);
    const uint32_t w = 40, h = 36;
    const Vector origin(-10.0f, 0.0f, -9.0f, 1.0f);
    std::vector<uint8_t> cells(w * h);
    for (uint8_t& c : cells) c = uint8_t((rng() % 10 ? 1 : 0) | (rng() % 4 ? 0 : 2));  // stale blocked bits
    SceneGrid* grid = MakeWalkGrid(w, h, 0.5f, origin, cells);
    gEntityManager->SetSceneGrid(grid);
    std::uniform_real_distribution<float> pos(-9.0f, 9.0f), extent(0.3f, 3.0f), scale(0.5f, 2.0f);
    std::vector<Entity*> obstacles;
    std::vector<BoundingBox4> boxes;  // the templates' boxes, which block
    for (int i = 0; i < 8; ++i) {
        EntityTemplate* t = Template(0, "obstacle");
        t->staticBoundingBox = BoundingBox4(Vector(-extent(rng), -1, -extent(rng), 1), Vector(extent(rng), 2, extent(rng), 1));
        boxes.push_back(t->staticBoundingBox);
        Entity* e = Make(nullptr, 0, t);
        e->SetLocalBoundingBox(BoundingBox4(Vector(-0.1f, -1, -0.1f, 1), Vector(0.1f, 2, 0.1f, 1)));  // its own box
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
    WalkMap::UpdateBlockedTiles(*grid);
    EXPECT_FALSE(grid->IsDirty());
    EXPECT_EQ(grid->Obstacles().Count(), 7u);
    int blocked = 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            // Turned about y only, so each box is tested at its centre's height.
            bool expected = false;
            for (size_t i = 2; i < obstacles.size(); ++i) {
                OBBox4 box;
                box.Transform3D(boxes[i], obstacles[i]->GetGlobalLocationMatrix());
                expected |= box.Inside3D(Vector(origin.x + 0.5f * x, box.center.y, origin.z + 0.5f * y, 1));
            }
            expected &= (cells[y * w + x] & 1) != 0;
            blocked += expected;
            EXPECT_EQ(grid->Cells()[y * w + x], (cells[y * w + x] & 1) | (expected ? 2 : 0)) << x << "," << y;
        }
    EXPECT_GT(blocked, 20);
}

}  // namespace
