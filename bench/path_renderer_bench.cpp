// The route ribbon's two hot loops against plain loops over the same points, in one run:
// - FinishPath of a winding 20,000-point route (smoothing and offset, the squad limit,
//   the box, the context's copy) against a plain 19-tap weighted moving average of the
//   same points (goal: FinishPath at most 2 times its time);
// - the record build of the finished route against a loop that quantises the same
//   points to 16 bits in their box (goal: at most 3 times its time).
// Prints the four rates in points a second and the medians of the two time ratios over
// the repetitions (run with --benchmark_repetitions=3, pinned with taskset).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/RateReporter.h"
#include "engine/entity/EntityManager.h"
#include "game/path/PathInstanceRecords.h"
#include "game/path/ZKRPathRendererEntity.h"
#include "game/path/ZKRPathRendererTemplate.h"
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

void BM_FinishPath(benchmark::State& state) {
    Route& r = TheRoute();
    for (auto _ : state) {
        state.PauseTiming();
        r.Build();
        state.ResumeTiming();
        r.path->FinishPath();
        benchmark::DoNotOptimize(r.path->Points().data());
    }
    state.counters["points_per_s"] =
        benchmark::Counter(double(state.iterations()) * double(r.raw.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FinishPath)->Unit(benchmark::kMillisecond);

void BM_MovingAverage19(benchmark::State& state) {
    Route& r = TheRoute();
    const std::vector<Vector>& p = r.raw;
    const int n = int(p.size());
    std::vector<Vector> out(p.size());
    float w[10];
    for (int k = 0; k < 10; ++k) w[k] = std::exp(-float(k * k) / (2.0f * 3.2f * 3.2f));
    for (auto _ : state) {
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
    state.counters["points_per_s"] = benchmark::Counter(double(state.iterations()) * n, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MovingAverage19)->Unit(benchmark::kMillisecond);

void BM_BuildRecords(benchmark::State& state) {
    Route& r = TheRoute();
    const std::vector<Vector>& p = r.finished;
    std::vector<uint8_t> records((p.size() - 1) * kPathRecordBytes), scratch(p.size() * 3);
    for (auto _ : state) {
        const PathRecordSummary s = BuildPathRecords(p.data(), uint32_t(p.size()), records.data(), scratch.data());
        benchmark::DoNotOptimize(s.routeLength);
        benchmark::ClobberMemory();
    }
    state.counters["points_per_s"] =
        benchmark::Counter(double(state.iterations()) * double(p.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildRecords)->Unit(benchmark::kMillisecond);

void BM_Quantise16(benchmark::State& state) {
    Route& r = TheRoute();
    const std::vector<Vector>& p = r.finished;
    std::vector<int16_t> out(p.size() * 3);
    for (auto _ : state) {
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
    }
    state.counters["points_per_s"] =
        benchmark::Counter(double(state.iterations()) * double(p.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Quantise16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("route of %zu points: FinishPath %.0f, 19-tap moving average %.0f, record build %.0f, "
                "16-bit quantise %.0f points/s (medians)\n",
                TheRoute().raw.size(), reporter.Median("BM_FinishPath", "points_per_s"),
                reporter.Median("BM_MovingAverage19", "points_per_s"), reporter.Median("BM_BuildRecords", "points_per_s"),
                reporter.Median("BM_Quantise16", "points_per_s"));
    benchsupport::PrintFigure("FinishPath / moving average, time",
                              reporter.Ratio("BM_FinishPath", "real_s", "BM_MovingAverage19", "real_s"), "at most 2");
    benchsupport::PrintFigure("record build / quantise, time",
                              reporter.Ratio("BM_BuildRecords", "real_s", "BM_Quantise16", "real_s"), "at most 3");
    benchmark::Shutdown();
    return 0;
}
