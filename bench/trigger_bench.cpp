// The trigger pass with 2,000 moving activators among 500 triggers (boxes and spheres of
// every mode, 4 to 20 units across, in a 2000-unit world of 40-unit cells), in one run:
// TriggerEntity::ProcessPendingChecks after every activator moved, and the same moves
// answered by testing every activator against every trigger with IsInside. Prints both
// activator rates and their ratio (goal: the pass at least 10 times faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "bench/RateReporter.h"
#include "engine/entity/EntityManager.h"
#include "scene/entities/TriggerEntity.h"
#include "scene/startup/SceneStaticInit.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kActivators = 2000;
constexpr int kTriggers = 500;
constexpr float kHalfWorld = 1000.0f;

struct Scene {
    EntityTemplate activator;
    TriggerTemplate kinds[8];
    std::vector<Entity*> activators;
    std::vector<TriggerEntity*> triggers;
    std::vector<Vector> moves;  // one position per activator per round
    std::mt19937 rng{11};

    Scene() {
        RunProgramStaticInit();
        InstallSceneServices();
        gEntityManager->Init(BoundingBox4(Vector(-kHalfWorld, -100, -kHalfWorld, 1), Vector(kHalfWorld, 100, kHalfWorld, 1)),
                             40.0f);
        TriggerEntity::EnableChecks();
        activator.activatesTriggers = true;
        activator.SetName("activator");
        activator.staticBoundingBox = BoundingBox4(Vector(-0.5f, 0, -0.5f, 1), Vector(0.5f, 2, 0.5f, 1));
        for (uint32_t i = 0; i < 8; ++i) {
            kinds[i].shape = i % 2;
            kinds[i].mode = i / 2;
            kinds[i].SetName("trigger");
        }
        std::uniform_real_distribution<float> pos(-kHalfWorld + 20, kHalfWorld - 20), size(2, 10);
        for (int i = 0; i < kTriggers; ++i) {
            Matrix m;
            m.LoadComplexTransformation(Vector(pos(rng), 0, pos(rng), 1), Vector(0, float(rng() % 360), 0, 1),
                                        Vector(size(rng), size(rng), size(rng), 0));
            auto* t = static_cast<TriggerEntity*>(
                gEntityManager->CreateEntityFromTemplate(&kinds[i % 8], nullptr, m, ENTITYCREATION_NOGUIDGENERATION, nullptr));
            triggers.push_back(t);
        }
        for (int i = 0; i < kActivators; ++i) {
            Matrix m;
            m.LoadTranslation(Vector(pos(rng), 0, pos(rng), 1));
            Entity* e = gEntityManager->CreateEntityFromTemplate(&activator, nullptr, m, ENTITYCREATION_NOGUIDGENERATION, nullptr);
            e->InitTriggerActivation();
            e->SetRadiusForTrigger(1.0f);
            activators.push_back(e);
        }
        TriggerEntity::ProcessPendingChecks();
    }
    // Every activator takes a step of up to 2 units.
    void Move() {
        std::uniform_real_distribution<float> step(-2, 2);
        for (Entity* e : activators) {
            Vector p = e->GetGlobalPosition() + Vector(step(rng), 0, step(rng), 0);
            if (p.x < -kHalfWorld + 5 || p.x > kHalfWorld - 5) p.x = 0;
            if (p.z < -kHalfWorld + 5 || p.z > kHalfWorld - 5) p.z = 0;
            e->SetGlobalPosition(p);
        }
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_ProcessPendingChecks(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        state.PauseTiming();
        s.Move();
        state.ResumeTiming();
        TriggerEntity::ProcessPendingChecks();
    }
    state.counters["activators_per_s"] =
        benchmark::Counter(double(state.iterations()) * kActivators, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProcessPendingChecks)->Unit(benchmark::kMillisecond);

void BM_EveryTrigger(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        uint32_t inside = 0;
        for (Entity* e : s.activators)
            for (TriggerEntity* t : s.triggers) inside += TriggerEntity::IsInside(t, e) ? 1 : 0;
        benchmark::DoNotOptimize(inside);
    }
    state.counters["activators_per_s"] =
        benchmark::Counter(double(state.iterations()) * kActivators, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EveryTrigger)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("trigger pass %.0f activators/s, every trigger %.0f activators/s (medians)\n",
                reporter.Median("BM_ProcessPendingChecks", "activators_per_s"),
                reporter.Median("BM_EveryTrigger", "activators_per_s"));
    benchsupport::PrintFigure(
        "trigger pass / every trigger, rate",
        reporter.Ratio("BM_ProcessPendingChecks", "activators_per_s", "BM_EveryTrigger", "activators_per_s"),
        "at least 10", 1);
    benchmark::Shutdown();
    return 0;
}
