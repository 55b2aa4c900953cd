// Path finding on 256 x 256 walk grids (30 % random obstacles, and a maze), in one run:
// the same start and goal pairs through Pathfinder (whole searches, one unlimited slice)
// and through a plain A* written here (binary heap with lazy deletion, the same neighbour
// costs and heuristic). Prints both query rates, their ratio and the share of queries whose
// path costs agree within 1 % (goal: Pathfinder at least as fast as the plain A*).
#include <benchmark/benchmark.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <memory>
#include <queue>
#include <random>
#include <vector>

#include "bench/RateReporter.h"
#include "core/math/Vector.h"
#include "engine/entity/Entity.h"
#include "engine/navigation/Pathfinder.h"
#include "engine/entity/SceneGrid.h"
#include "engine/navigation/WalkMap.h"
#include "tests/engine/navigation/WalkGridSupport.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr uint32_t kSide = 256;
constexpr int kQueries = 200;
constexpr float kCellSize = 1.0f;

struct Query {
    uint32_t start, goal;
};

struct Scene {
    std::unique_ptr<SceneGrid> grid;
    std::vector<Query> queries;
};

// kind 0: 30 % random obstacles; kind 1: a maze of one-cell corridors.
const Scene& SceneOf(int kind) {
    static Scene scenes[2];
    Scene& s = scenes[kind];
    if (s.grid) return s;
    std::mt19937 rng(11 + kind);
    std::vector<uint8_t> cells(kSide * kSide, 0);
    if (kind == 0) {
        for (uint8_t& c : cells) c = rng() % 100 < 30 ? 0 : 1;
    } else {
        // Depth-first maze over the odd cells.
        const uint32_t n = (kSide - 1) / 2;
        std::vector<uint32_t> stack{0};
        std::vector<bool> seen(n * n, false);
        seen[0] = true;
        cells[kSide + 1] = 1;
        while (!stack.empty()) {
            const uint32_t at = stack.back(), x = at % n, y = at / n;
            uint32_t options[4], count = 0;
            if (x > 0 && !seen[at - 1]) options[count++] = at - 1;
            if (x + 1 < n && !seen[at + 1]) options[count++] = at + 1;
            if (y > 0 && !seen[at - n]) options[count++] = at - n;
            if (y + 1 < n && !seen[at + n]) options[count++] = at + n;
            if (!count) {
                stack.pop_back();
                continue;
            }
            const uint32_t next = options[rng() % count], nx = next % n, ny = next / n;
            seen[next] = true;
            cells[(2 * ny + 1) * kSide + 2 * nx + 1] = 1;
            cells[(y + ny + 1) * kSide + x + nx + 1] = 1;
            stack.push_back(next);
        }
    }
    std::vector<uint32_t> usable;
    for (uint32_t i = 0; i < kSide * kSide; ++i)
        if (cells[i]) usable.push_back(WalkMap::MakeTile(i % kSide, i / kSide));
    for (int q = 0; q < kQueries; ++q) s.queries.push_back({usable[rng() % usable.size()], usable[rng() % usable.size()]});
    s.grid.reset(MakeWalkGrid(kSide, kSide, kCellSize, Vector(0, 0, 0, 1), cells));
    return s;
}

Vector Centre(const SceneGrid& grid, uint32_t tile) { return grid.CellToWorld(tile); }

// Path cost of a Pathfinder search, or -1 when it did not reach the goal tile.
float PathfinderCost(Pathfinder& finder, SceneGrid& grid, const Query& q, Dynarray<Vector>& path) {
    if (!finder.FindPath(&grid, Centre(grid, q.start), Centre(grid, q.goal), 0, FLT_MAX)) return -1;
    while (finder.Step(0xFFFFFFFF)) {}
    if (!finder.GetPath(path) || finder.EndTile() != q.goal) return -1;
    float cost = 0;
    for (uint32_t i = 1; i < path.Count(); ++i) {
        const uint32_t a = PathPointTile(path[i - 1]), b = PathPointTile(path[i]);
        cost += (WalkMap::TileX(a) != WalkMap::TileX(b) && WalkMap::TileY(a) != WalkMap::TileY(b)
                     ? Pathfinder::kDiagonalCost
                     : 1.0f) *
                kCellSize;
    }
    return cost;
}

// The plain A*: g and the parent per cell, a closed flag, and a heap of (f, cell) entries
// where stale entries are skipped when popped; the path is walked back from the goal.
class ReferenceAStar {
public:
    float Cost(const SceneGrid& grid, const Query& q) {
        const uint32_t n = grid.Width() * grid.Height();
        g.assign(n, FLT_MAX);
        parent.assign(n, 0);
        closed.assign(n, 0);
        open = {};
        const Vector goal = Centre(grid, q.goal);
        const uint32_t start = WalkMap::TileY(q.start) * kSide + WalkMap::TileX(q.start);
        const uint32_t target = WalkMap::TileY(q.goal) * kSide + WalkMap::TileX(q.goal);
        g[start] = 0;
        open.push({(Centre(grid, q.start) - goal).Length3(), start});
        static const int dx[8] = {-1, -1, -1, 0, 0, 1, 1, 1}, dy[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
        while (!open.empty()) {
            const Entry e = open.top();
            open.pop();
            if (closed[e.cell]) continue;
            closed[e.cell] = 1;
            if (e.cell == target) {
                path.clear();
                for (uint32_t c = target; c != start; c = parent[c]) path.push_back(grid.CellToWorld(c % kSide, c / kSide));
                path.push_back(Centre(grid, q.start));
                return g[e.cell];
            }
            const int x = int(e.cell % kSide), y = int(e.cell / kSide);
            for (int k = 0; k < 8; ++k) {
                const int nx = x + dx[k], ny = y + dy[k];
                if (nx < 0 || ny < 0 || nx >= int(kSide) || ny >= int(kSide)) continue;
                const uint32_t c = uint32_t(ny) * kSide + uint32_t(nx);
                if (closed[c] || !WalkMap::IsUsableCell(grid.Cells()[c])) continue;
                const float ng = g[e.cell] + (dx[k] && dy[k] ? Pathfinder::kDiagonalCost : 1.0f) * kCellSize;
                if (ng < g[c]) {
                    g[c] = ng;
                    parent[c] = e.cell;
                    open.push({ng + (grid.CellToWorld(uint32_t(nx), uint32_t(ny)) - goal).Length3(), c});
                }
            }
        }
        return -1;
    }

private:
    struct Entry {
        float f;
        uint32_t cell;
        bool operator<(const Entry& o) const { return f > o.f; }
    };
    std::vector<float> g;
    std::vector<uint32_t> parent;
    std::vector<uint8_t> closed;
    std::vector<Vector> path;
    std::priority_queue<Entry> open;
};

void BM_Pathfinder(benchmark::State& state) {
    const Scene& s = SceneOf(int(state.range(0)));
    Pathfinder finder;
    Dynarray<Vector> path;  // kept from query to query, as a character keeps its path
    for (auto _ : state)
        for (const Query& q : s.queries) benchmark::DoNotOptimize(PathfinderCost(finder, *s.grid, q, path));
    state.counters["queries_per_s"] = benchmark::Counter(double(state.iterations()) * kQueries, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Pathfinder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReferenceAStar(benchmark::State& state) {
    const Scene& s = SceneOf(int(state.range(0)));
    ReferenceAStar reference;
    for (auto _ : state)
        for (const Query& q : s.queries) benchmark::DoNotOptimize(reference.Cost(*s.grid, q));
    state.counters["queries_per_s"] = benchmark::Counter(double(state.iterations()) * kQueries, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReferenceAStar)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    RunProgramStaticInit();
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* names[2] = {"30 % obstacles", "maze"};
    for (int kind = 0; kind < 2; ++kind) {
        const Scene& s = SceneOf(kind);
        Pathfinder finder;
        ReferenceAStar reference;
        Dynarray<Vector> path;
        int agree = 0;
        for (const Query& q : s.queries) {
            const float a = PathfinderCost(finder, *s.grid, q, path), b = reference.Cost(*s.grid, q);
            agree += (a < 0 && b < 0) || (a >= 0 && b >= 0 && std::fabs(a - b) <= 0.01f * std::max(b, 1.0f));
        }
        const std::string mine = "BM_Pathfinder/" + std::to_string(kind);
        const std::string plain = "BM_ReferenceAStar/" + std::to_string(kind);
        std::printf("%s: Pathfinder %.0f queries/s, plain A* %.0f queries/s (medians), costs agreeing within 1 %%: "
                    "%.1f %%\n",
                    names[kind], reporter.Median(mine, "queries_per_s"), reporter.Median(plain, "queries_per_s"),
                    100.0 * agree / kQueries);
        benchsupport::PrintFigure((std::string(names[kind]) + ": Pathfinder / plain A*, rate").c_str(),
                                  reporter.Ratio(mine, "queries_per_s", plain, "queries_per_s"), "at least 1");
    }
    benchmark::Shutdown();
    return 0;
}
