// Line of sight over a scene of 10,000 boxes (turned, scaled, 1 to 8 units across, in a
// 2400-unit world of 40-unit cells), in one run: 10,000 segments (20 to 300 units long)
// through EntityManager::LOS, and the same segments tested against every entity's box.
// Both answer the nearest box hit. Prints both query rates and their ratio (goal: LOS at
// least 10 times faster).
#include <benchmark/benchmark.h>

#include <cfloat>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/RateReporter.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kEntities = 10000;
constexpr int kQueries = 10000;
constexpr float kHalfWorld = 1200.0f;

// Where the segment enters the entity's box, in world space; false when it misses.
bool EntersBox(Entity* e, const Vector& start, const Vector& end, Vector* hit) {
    Vector a = start, b = end;
    a.Transform3D(e->GetInversedGlobalLocationMatrix());
    b.Transform3D(e->GetInversedGlobalLocationMatrix());
    if (!e->GetLocalBoundingBox().CollidesWithSegment3D(a, b, hit)) return false;
    hit->Transform3D(e->GetGlobalLocationMatrix());
    return true;
}

// An entity that blocks wherever the segment enters its box.
class SolidBox : public Entity {
public:
    bool TestLineOfSight(const Vector& start, const Vector& end, uint32_t, uint32_t, float, LOSResult* hit) override {
        Vector at;
        if (!EntersBox(this, start, end, &at)) return true;
        hit->Result = LOSRESULT_ENTITY;
        hit->Entity = this;
        hit->Point = at;
        hit->Normal = start - end;
        return false;
    }
};

struct SolidTemplate : EntityTemplate {
    Entity* CreateEntity() override { return new SolidBox(); }
};

struct Scene {
    SolidTemplate tpl;
    std::vector<Entity*> entities;
    std::vector<std::pair<Vector, Vector>> segments;

    Scene() {
        RunProgramStaticInit();
        gEntityManager->Init(BoundingBox4(Vector(-kHalfWorld, -100, -kHalfWorld, 1), Vector(kHalfWorld, 200, kHalfWorld, 1)),
                             40.0f);
        tpl.SetName("solid");
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> pos(-kHalfWorld + 10, kHalfWorld - 10), half(0.5f, 4.0f), height(0, 20);
        for (int i = 0; i < kEntities; ++i) {
            Entity* e = gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY,
                                                                 ENTITYCREATION_NOGUIDGENERATION, nullptr);
            e->SetLocalBoundingBox(BoundingBox4(Vector(-half(rng), 0, -half(rng), 1), Vector(half(rng), half(rng) * 2, half(rng), 1)));
            e->SetLocalRotation3(0, float(rng() % 360), 0);
            e->SetGlobalPosition3(pos(rng), 0, pos(rng));
            entities.push_back(e);
        }
        std::uniform_real_distribution<float> length(20, 300), angle(0, 6.2831853f);
        for (int i = 0; i < kQueries; ++i) {
            const Vector a(pos(rng), height(rng), pos(rng), 1);
            const float l = length(rng), t = angle(rng);
            segments.push_back({a, Vector(a.x + l * std::cos(t), height(rng), a.z + l * std::sin(t), 1)});
        }
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_LOS(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state)
        for (const auto& [a, b] : s.segments) {
            LOSResult r;
            benchmark::DoNotOptimize(gEntityManager->LOS(a, b, 0, &r, 0, nullptr, nullptr));
        }
    state.counters["queries_per_s"] = benchmark::Counter(double(state.iterations()) * kQueries, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LOS)->Unit(benchmark::kMillisecond);

void BM_EveryBox(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state)
        for (const auto& [a, b] : s.segments) {
            const Vector direction = b - a;
            float best = FLT_MAX;
            Entity* blocker = nullptr;
            for (Entity* e : s.entities) {
                Vector hit;
                if (!EntersBox(e, a, b, &hit)) continue;
                const float t = (hit - a).Dot3(direction);
                if (t < best) best = t, blocker = e;
            }
            benchmark::DoNotOptimize(blocker);
        }
    state.counters["queries_per_s"] = benchmark::Counter(double(state.iterations()) * kQueries, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EveryBox)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("LOS %.0f queries/s, every box %.0f queries/s (medians)\n", reporter.Median("BM_LOS", "queries_per_s"),
                reporter.Median("BM_EveryBox", "queries_per_s"));
    benchsupport::PrintFigure("LOS / every box, rate",
                              reporter.Ratio("BM_LOS", "queries_per_s", "BM_EveryBox", "queries_per_s"), "at least 10", 1);
    benchmark::Shutdown();
    return 0;
}
