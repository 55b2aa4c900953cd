// The scene render list's frustum gather over 20,000 entities (turned boxes 1 to 8 units
// across in a 2400-unit world of 40-unit cells) with a camera that sees about a tenth of
// them, in one run: SceneRenderList::Build against a loop testing every entity's placed
// box against the same frustum. Prints both build rates and their ratio (goal: Build at
// least 3 times faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "bench/RateReporter.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/SceneRenderList.h"
#include "render/VornexRenderer.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kEntities = 20000;
constexpr float kHalfWorld = 1200.0f;

struct Scene {
    EntityTemplate tpl;
    std::vector<Entity*> entities;
    Frustum frustum;

    Scene() {
        RunProgramStaticInit();
        gEntityManager->Init(BoundingBox4(Vector(-kHalfWorld, -100, -kHalfWorld, 1), Vector(kHalfWorld, 200, kHalfWorld, 1)),
                             40.0f);
        tpl.SetName("box");
        std::mt19937 rng(109);
        std::uniform_real_distribution<float> pos(-kHalfWorld + 10, kHalfWorld - 10), half(0.5f, 4.0f);
        for (int i = 0; i < kEntities; ++i) {
            Entity* e = gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY,
                                                                 ENTITYCREATION_NOGUIDGENERATION, nullptr);
            e->SetLocalBoundingBox(BoundingBox4(Vector(-half(rng), 0, -half(rng), 1), Vector(half(rng), half(rng) * 2, half(rng), 1)));
            e->SetLocalRotation3(0, float(rng() % 360), 0);
            e->SetGlobalPosition3(pos(rng), 0, pos(rng));
            entities.push_back(e);
        }
        // A game camera high over the world looking down at an angle.
        Matrix view, projection;
        view.LoadLookAtLH(Vector(0, 300, -500, 1), Vector(0, 0, -150, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(45.0f, 16.0f / 9.0f, 1.0f, 900.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        std::memcpy(frustum.planes, gVornexRenderer.FrustumPlanes(), sizeof frustum.planes);
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_Build(benchmark::State& state) {
    TheScene();
    size_t seen = 0;
    for (auto _ : state) {
        gSceneRenderList->Build(8, 0);
        seen = gSceneRenderList->Gathered().size();
        benchmark::DoNotOptimize(seen);
    }
    state.counters["builds_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["seen"] = double(seen);
}
BENCHMARK(BM_Build)->Unit(benchmark::kMicrosecond);

void BM_EveryBox(benchmark::State& state) {
    Scene& s = TheScene();
    std::vector<Entity*> seen;
    for (auto _ : state) {
        seen.clear();
        for (Entity* e : s.entities)
            if (e->GetLocalBoundingBox().IntersectsFrustumTransformed(s.frustum, e->GetGlobalLocationMatrix()))
                seen.push_back(e);
        benchmark::DoNotOptimize(seen.data());
    }
    state.counters["builds_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["seen"] = double(seen.size());
}
BENCHMARK(BM_EveryBox)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("Build %.0f builds/s, every box %.0f builds/s (medians)\n", reporter.Median("BM_Build", "builds_per_s"),
                reporter.Median("BM_EveryBox", "builds_per_s"));
    benchsupport::PrintFigure("Build / every box, rate",
                              reporter.Ratio("BM_Build", "builds_per_s", "BM_EveryBox", "builds_per_s"), "at least 3", 1);
    benchmark::Shutdown();
    return 0;
}
