// The route ribbon's two hot loops against plain loops over the same points, in one run:
// - FinishPath of a winding 20,000-point route (smoothing and offset, the squad limit,
//   the box, the context's copy) against a plain 19-tap weighted moving average of the
//   same points (goal: FinishPath at most 2 times its time);
// - the record build of the finished route against a loop that quantises the same
//   points to 16 bits in their box (goal: at most 3 times its time).
// Both ways of a pair run in every iteration. Prints the four rates in points a second and
// the medians of the two time ratios over the repetitions.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "engine/entity/EntityManager.h"
#include "game/path/PathInstanceRecords.h"
#include "game/path/ZKRPathRendererEntity.h"
#include "game/path/ZKRPathRendererTemplate.h"
#include "render/VornexRenderer.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/startup/SceneStaticInit.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kFlags = 201;
constexpr float kSegmentLength = 251.0f;  // 100 samples a connection: 20,000 points

struct Route {
    ZKRPathRendererTemplate kind;
    FlagTemplate flagKind;
    GraphTemplate graphKind;
    std::vector<FlagEntity*> flags;
    ZKRPathRendererEntity* path = nullptr;
    std::vector<Vector> raw, finished;

    Route() {
        RunProgramStaticInit();
        InstallSceneServices();
        // The renderer runs as in the program: each route's rendering context is built and
        // the one it replaces released on the render thread (without it every replaced
        // context and its copy of the route would stay).
        benchsupport::StartRenderer("PathRendererBench");
        gEntityManager->Init(BoundingBox4(Vector(-60000, -100, -60000, 1), Vector(60000, 100, 60000, 1)), 500.0f);
        kind.SetName("path");
        flagKind.SetName("flag");
        graphKind.SetName("graph");
        Entity* graph = gEntityManager->CreateEntityFromTemplate(&graphKind, nullptr, Matrix::IDENTITY, 0, nullptr);
        // A route that winds left and right as it goes.
        Vector at(-25000, 0, 0, 1);
        for (int i = 0; i < kFlags; ++i) {
            Matrix m;
            m.LoadTranslation(at.x, at.y, at.z);
            flags.push_back(
                static_cast<FlagEntity*>(gEntityManager->CreateEntityFromTemplate(&flagKind, graph, m, 0, nullptr)));
            const float turn = 0.6f * std::sin(float(i) * 0.7f);
            at = at + Vector(std::cos(turn), 0, std::sin(turn), 0) * kSegmentLength;
        }
        for (int i = 0; i + 1 < kFlags; ++i) flags[i]->AddConnection(flags[i + 1]);
        for (FlagEntity* f : flags) f->RecomputeConnections();
        path = static_cast<ZKRPathRendererEntity*>(
            gEntityManager->CreateEntityFromTemplate(&kind, nullptr, Matrix::IDENTITY, 0, nullptr));
        Build();
        raw = path->Points();
        raw.push_back(path->EndPoint());
        path->FinishPath();
        finished = path->Points();
    }
    void Build() {
        path->BeginPath();
        for (int i = 0; i + 1 < kFlags; ++i)
            path->AddGraphSegment(flags[i], flags[i + 1], 2.0f, i == 50, i % 7 == 0, false);
    }
};

Route& TheRoute() {
    static Route route;
    return route;
}

using Clock = std::chrono::steady_clock;

// The plain smoothing: a 19-tap weighted moving average of the points into out.
void MovingAverage19(const std::vector<Vector>& p, std::vector<Vector>& out) {
    const int n = int(p.size());
    float w[10];
    for (int k = 0; k < 10; ++k) w[k] = std::exp(-float(k * k) / (2.0f * 3.2f * 3.2f));
    for (int i = 0; i < n; ++i) {
        Vector sum = p[i] * w[0];
        float weight = w[0];
        for (int k = 1; k < 10; ++k) {
            const int a = i - k < 0 ? 0 : i - k, b = i + k >= n ? n - 1 : i + k;
            sum = sum + (p[a] + p[b]) * w[k];
            weight += 2.0f * w[k];
        }
        out[i] = sum * (1.0f / weight);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
}

// Both ways in every iteration, one after the other, so that whatever else loads the
// machine falls on both alike; the route is built again before each FinishPath, untimed.
void BM_FinishPathAgainstMovingAverage(benchmark::State& state) {
    Route& r = TheRoute();
    std::vector<Vector> out(r.raw.size());
    double finish = 0, plain = 0;
    for (auto _ : state) {
        r.Build();
        const Clock::time_point t0 = Clock::now();
        r.path->FinishPath();
        benchmark::DoNotOptimize(r.path->Points().data());
        const Clock::time_point t1 = Clock::now();
        MovingAverage19(r.raw, out);
        const Clock::time_point t2 = Clock::now();
        finish += benchsupport::Seconds(t0, t1);
        plain += benchsupport::Seconds(t1, t2);
        state.SetIterationTime(benchsupport::Seconds(t0, t2));
        gVornexRenderer.FlushCommands(true);  // the context built, the old one released
    }
    const double points = double(state.iterations()) * double(r.raw.size());
    state.counters["finish_points_per_s"] = points / finish;
    state.counters["plain_points_per_s"] = points / plain;
    state.counters["finish/plain"] = finish / plain;
}
BENCHMARK(BM_FinishPathAgainstMovingAverage)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_BuildRecordsAgainstQuantise(benchmark::State& state) {
    Route& r = TheRoute();
    const std::vector<Vector>& p = r.finished;
    std::vector<uint8_t> records((p.size() - 1) * kPathRecordBytes), scratch(p.size() * 3);
    std::vector<int16_t> out(p.size() * 3);
    double build = 0, plain = 0;
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        const PathRecordSummary s = BuildPathRecords(p.data(), uint32_t(p.size()), records.data(), scratch.data());
        benchmark::DoNotOptimize(s.routeLength);
        benchmark::ClobberMemory();
        const Clock::time_point t1 = Clock::now();
        BoundingBox4 box = BoundingBox4::INVALID;
        for (const Vector& v : p) box.Expand(v);
        const Vector size = box.max - box.min;
        const float scale[3] = {32767.0f / size.x, 32767.0f / size.y, 32767.0f / size.z};
        for (size_t i = 0; i < p.size(); ++i) {
            out[3 * i] = int16_t((p[i].x - box.min.x) * scale[0]);
            out[3 * i + 1] = int16_t((p[i].y - box.min.y) * scale[1]);
            out[3 * i + 2] = int16_t((p[i].z - box.min.z) * scale[2]);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        const Clock::time_point t2 = Clock::now();
        build += benchsupport::Seconds(t0, t1);
        plain += benchsupport::Seconds(t1, t2);
    }
    const double points = double(state.iterations()) * double(p.size());
    state.counters["build_points_per_s"] = points / build;
    state.counters["plain_points_per_s"] = points / plain;
    state.counters["build/plain"] = build / plain;
}
BENCHMARK(BM_BuildRecordsAgainstQuantise)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* const finish = "BM_FinishPathAgainstMovingAverage";
    const char* const build = "BM_BuildRecordsAgainstQuantise";
    std::printf("route of %zu points: FinishPath %.0f, 19-tap moving average %.0f, record build %.0f, "
                "16-bit quantise %.0f points/s (medians)\n",
                TheRoute().raw.size(), reporter.Median(finish, "finish_points_per_s"),
                reporter.Median(finish, "plain_points_per_s"), reporter.Median(build, "build_points_per_s"),
                reporter.Median(build, "plain_points_per_s"));
    benchsupport::PrintFigure("FinishPath / moving average, time", reporter.Of(finish, "finish/plain"), "at most 2");
    benchsupport::PrintFigure("record build / quantise, time", reporter.Of(build, "build/plain"), "at most 3");
    gVornexRenderer.Stop();
    benchmark::Shutdown();
    return 0;
}
