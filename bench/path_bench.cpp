// Placement on a path flag connection with 64 control points, in one run:
// FlagEntity::GetGlobalPositionOnPath at 100,000 random distances, and the same distances
// answered by a plain placement that finds the segment and the curve parameter by binary
// search (std::upper_bound over the control points' distances, std::lower_bound over a
// precomputed table of the same 256 samples per segment). Prints both placement rates and
// the median of their ratio over the repetitions (goal: the flag's at least as fast). Both
// ways run in every iteration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "core/math/MathHelpers.h"
#include "engine/entity/EntityManager.h"
#include "scene/entities/FlagEntity.h"
#include "scene/startup/SceneStaticInit.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kControlPoints = 64;
constexpr int kQueries = 100000;

struct Path {
    FlagTemplate kind;
    FlagEntity* start = nullptr;
    FlagEntity* end = nullptr;
    std::vector<float> distances;
    // The plain placement's data: the chain and, per segment, 256 normalised lengths.
    std::vector<Vector> chain;
    std::vector<float> pointDistances;
    std::vector<std::vector<float>> tables;
    float length = 0.0f;

    Path() {
        RunProgramStaticInit();
        InstallSceneServices();
        gEntityManager->Init(BoundingBox4(Vector(-500, -50, -500, 1), Vector(500, 50, 500, 1)), 20.0f);
        kind.SetName("flag");
        Matrix m;
        m.LoadTranslation(0, 0, 0);
        start = static_cast<FlagEntity*>(gEntityManager->CreateEntityFromTemplate(&kind, nullptr, m, 0, nullptr));
        m.LoadTranslation(400, 0, 0);
        end = static_cast<FlagEntity*>(gEntityManager->CreateEntityFromTemplate(&kind, nullptr, m, 0, nullptr));
        start->AddConnection(end);
        FlagEntityConnection* c = start->FindConnection(end);
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> wobble(-4.0f, 4.0f);
        for (int i = 0; i < kControlPoints; ++i) {
            FlagEntityConnectionControlPoint p;
            p.position = Vector3(400.0f * float(i + 1) / (kControlPoints + 1), wobble(rng), wobble(rng) * 3.0f);
            c->controlPoints.Add(p);
        }
        start->RecomputeConnections();
        length = c->length;
        std::uniform_real_distribution<float> along(0.0f, length);
        for (int i = 0; i < kQueries; ++i) distances.push_back(along(rng));

        chain.push_back(start->GetLocalPosition());
        chain.push_back(start->GetLocalPosition());
        for (uint32_t i = 0; i < c->PointCount(); ++i) {
            chain.push_back(c->PointAt(i));
            pointDistances.push_back(c->controlPoints[i].distance);
        }
        chain.push_back(end->GetLocalPosition());
        chain.push_back(end->GetLocalPosition());
        for (uint32_t k = 0; k + 3 < chain.size(); ++k) {
            std::vector<float> table(256, 0.0f);
            Vector previous = chain[k + 1];
            for (int j = 1; j < 256; ++j) {
                const Vector p = CatmullRomPoint(float(j) / 255.0f, chain[k], chain[k + 1], chain[k + 2], chain[k + 3]);
                table[j] = table[j - 1] + std::sqrt(p.DistanceSquaredXYZ(previous));
                previous = p;
            }
            for (float& v : table) v /= table[255];
            tables.push_back(table);
        }
    }

    Matrix Plain(float d) const {
        const uint32_t n = uint32_t(pointDistances.size());
        // The segment: the first control point past d, by binary search.
        const uint32_t k =
            uint32_t(std::upper_bound(pointDistances.begin(), pointDistances.end(), d) - pointDistances.begin());
        const float from = k == 0 ? 0.0f : pointDistances[k - 1];
        const float to = k == n ? length : pointDistances[k];
        const float u = std::fmin(std::fmax((d - from) / (to - from), 0.0f), 1.0f);
        const std::vector<float>& table = tables[k];
        // The sample: the first of samples 1 to 254 at or past u (255 when none is).
        const uint32_t j = uint32_t(std::lower_bound(table.begin() + 1, table.begin() + 255, u) - table.begin());
        const float t = (float(j - 1) + (u - table[j - 1]) / (table[j] - table[j - 1])) / 255.0f;
        const Vector& p0 = chain[k];
        const Vector& p1 = chain[k + 1];
        const Vector& p2 = chain[k + 2];
        const Vector& p3 = chain[k + 3];
        const Vector position = CatmullRomPoint(t, p0, p1, p2, p3);
        Vector direction = CatmullRomTangent(t, p0, p1, p2, p3);
        direction.w = 0.0f;
        Matrix m;
        m.LoadInverseLookAtLH(position, position + direction, Vector(0, 1, 0, 0));
        return m;
    }
};

Path& ThePath() {
    static Path path;
    return path;
}

// Both ways in every iteration, one after the other, so that whatever else loads the
// machine falls on both alike.
void BM_FlagAgainstPlainTableSearch(benchmark::State& state) {
    Path& p = ThePath();
    double flag = 0, plain = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        Matrix m;
        float sum = 0.0f;
        for (float d : p.distances) {
            p.start->GetGlobalPositionOnPath(p.end, d, m, false, nullptr);
            sum += m.r[3].x;
        }
        benchmark::DoNotOptimize(sum);
        const auto t1 = std::chrono::steady_clock::now();
        sum = 0.0f;
        for (float d : p.distances) sum += p.Plain(d).r[3].x;
        benchmark::DoNotOptimize(sum);
        const auto t2 = std::chrono::steady_clock::now();
        flag += benchsupport::Seconds(t0, t1);
        plain += benchsupport::Seconds(t1, t2);
    }
    const double placements = double(state.iterations()) * kQueries;
    state.counters["flag_placements_per_s"] = placements / flag;
    state.counters["plain_placements_per_s"] = placements / plain;
    state.counters["flag/plain"] = plain / flag;
}
BENCHMARK(BM_FlagAgainstPlainTableSearch)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string name = "BM_FlagAgainstPlainTableSearch";
    std::printf("flag placement %.0f placements/s, plain table search %.0f placements/s (medians)\n",
                reporter.Median(name, "flag_placements_per_s"), reporter.Median(name, "plain_placements_per_s"));
    benchsupport::PrintFigure("flag / plain table search, rate", reporter.Of(name, "flag/plain"), "at least 1");
    benchmark::Shutdown();
    return 0;
}
