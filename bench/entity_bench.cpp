// Entity moves every frame, in one run: 10,000 entities spread over a 2400-unit world
// with 40-unit cells, each moved by its own velocity every frame (transform, world box
// and spatial-grid registration), against the same moves of 10,000 entities that are
// kept out of the grid (ENTITYFLAG_DISABLE_UPDATE), so only the matrix work remains.
// The rates and their ratio are printed at the end (goal: with registration at least half
// the bare rate).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/RateReporter.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

using benchsupport::Seconds;

constexpr int kEntities = 10000;
constexpr float kHalfWorld = 1200.0f;

struct Mover {
    Entity* entity;
    float x, z, vx, vz;
};

struct Scene {
    EntityTemplate tpl;
    std::vector<Mover> movers;

    explicit Scene(bool registered) {
        tpl.SetName("bench");
        std::mt19937 rng(registered ? 1 : 2);
        std::uniform_real_distribution<float> pos(-kHalfWorld, kHalfWorld), speed(-3.0f, 3.0f);
        for (int i = 0; i < kEntities; ++i) {
            Entity* e = gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY,
                                                                 ENTITYCREATION_NOGUIDGENERATION, nullptr);
            if (!registered) e->RaiseFlag(ENTITYFLAG_DISABLE_UPDATE, false);
            const Mover m{e, pos(rng), pos(rng), speed(rng), speed(rng)};
            e->SetLocalPosition3(m.x, 0.0f, m.z);  // spread before timing starts
            movers.push_back(m);
        }
    }
    ~Scene() {
        for (size_t i = movers.size(); i-- > 0;) gEntityManager->DestroyEntity(movers[i].entity);
    }
    void Frame() {
        for (Mover& m : movers) {
            m.x += m.vx;
            m.z += m.vz;
            if (m.x < -kHalfWorld || m.x > kHalfWorld) m.vx = -m.vx;
            if (m.z < -kHalfWorld || m.z > kHalfWorld) m.vz = -m.vz;
            m.entity->SetLocalPosition3(m.x, 0.0f, m.z);
        }
    }
};

void BM_MovesWithAndWithoutRegistration(benchmark::State& state) {
    static const bool started = [] {
        RunProgramStaticInit();
        gEntityManager->Init(BoundingBox4(Vector(-kHalfWorld, -100, -kHalfWorld, 1), Vector(kHalfWorld, 200, kHalfWorld, 1)),
                             40.0f);
        return true;
    }();
    (void)started;
    Scene registered(true), bare(false);
    double registeredTime = 0, bareTime = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        registered.Frame();
        const auto t1 = std::chrono::steady_clock::now();
        bare.Frame();
        const auto t2 = std::chrono::steady_clock::now();
        registeredTime += Seconds(t0, t1);
        bareTime += Seconds(t1, t2);
    }
    const double moves = double(state.iterations()) * kEntities;
    state.counters["registered_moves_per_s"] = moves / registeredTime;
    state.counters["bare_moves_per_s"] = moves / bareTime;
    state.counters["registered/bare"] = bareTime / registeredTime;
    state.SetItemsProcessed(state.iterations() * 2 * kEntities);
}
BENCHMARK(BM_MovesWithAndWithoutRegistration)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string name = "BM_MovesWithAndWithoutRegistration";
    std::printf("moves with registration: %.0f/s, without: %.0f/s (medians)\n",
                reporter.Median(name, "registered_moves_per_s"), reporter.Median(name, "bare_moves_per_s"));
    benchsupport::PrintFigure("with registration / bare, rate", reporter.Of(name, "registered/bare"), "at least 0.5");
    benchmark::Shutdown();
    return 0;
}
