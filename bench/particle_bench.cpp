// The particle runtime's frame pass against a plain loop: UpdateAll over about 100,000 live
// particles in 100 instances (gravity, damping, deaths and births, compaction), and a
// loop that integrates the same records in place without looking at their lives or
// moving them. Both rates (particles per second) and their ratio are printed; the goal
// is at least 0.7 of the plain rate.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/RateReporter.h"
#include "scene/particles/ParticleSystem.h"
#include "scene/particles/ParticleSystemInstance.h"

namespace {

constexpr uint32_t kInstances = 100;
constexpr uint32_t kRing = 131072;
constexpr float kStep = 1.0f / 60.0f;

// Every instance on screen (no off-screen fade of the spawn rate).
void MarkAllDrawn() {
    for (ParticleSystemInstance* i = ParticleSystemInstance::FirstLive(); i; i = i->NextLive()) i->MarkDrawn();
}

// 100 instances of about 1,000 particles each, in their steady state.
void StartOnce() {
    static bool started = false;
    if (started) return;
    started = true;
    ParticleSystemInstance::InitGlobals({kRing, 65536, false, 1.0f});
    static ParticleSystem def;
    def.lifeTime = 2.0f;
    def.lifeTimeVar = 0.5f;
    def.spawnRate = 500.0f;
    def.globalGravity = Vector(0.0f, -9.8f, 0.0f, 0.0f);
    def.velocityDamping = 0.8f;
    for (uint32_t i = 0; i < kInstances; ++i) {
        Matrix m = Matrix::IDENTITY;
        m.r[3] = Vector(static_cast<float>(i % 10) * 4.0f, 0.0f, static_cast<float>(i / 10) * 4.0f, 1.0f);
        auto* instance = new ParticleSystemInstance(def, m, 0);
        EntityTemplate* mesh = nullptr;
        instance->ExecuteCommand(PARTICLE_CMD_LINK, &mesh);
        instance->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
    }
    for (int f = 0; f < 240; ++f) {
        ParticleSystemInstance::UpdateAll(kStep, kStep, kStep, 3);
        MarkAllDrawn();
    }
}

void BM_UpdateAllAgainstPlainLoop(benchmark::State& state) {
    StartOnce();
    std::vector<ParticleRecord> plain(ParticleSystemInstance::Ring(), ParticleSystemInstance::Ring() + kRing);
    const float g[3] = {0.0f, -9.8f * kStep, 0.0f};
    const float d = std::pow(0.8f, kStep);
    double updateTime = 0, plainTime = 0, updated = 0, integrated = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        ParticleSystemInstance::UpdateAll(kStep, kStep, kStep, 3);
        const auto t1 = std::chrono::steady_clock::now();
        MarkAllDrawn();
        const auto t1b = std::chrono::steady_clock::now();
        const uint32_t live = ParticleSystemInstance::LiveCount();
        const uint32_t first = ParticleSystemInstance::FirstRunStart();
        for (uint32_t i = 0, k = first; i < live; ++i) {
            ParticleRecord& r = plain[k];
            for (int c = 0; c < 3; ++c) {
                const float v = (r.velocity[c] + g[c]) * d;
                r.velocity[c] = v;
                r.position[c] += v * kStep;
            }
            if (++k == kRing) k = 0;
        }
        benchmark::DoNotOptimize(plain.data());
        const auto t2 = std::chrono::steady_clock::now();
        updateTime += std::chrono::duration<double>(t1 - t0).count();
        plainTime += std::chrono::duration<double>(t2 - t1b).count();
        updated += live;
        integrated += live;
    }
    state.counters["live"] = ParticleSystemInstance::LiveCount();
    state.counters["update_particles_per_s"] = updated / updateTime;
    state.counters["plain_particles_per_s"] = integrated / plainTime;
    state.counters["update/plain"] = (updated / updateTime) / (integrated / plainTime);
}
BENCHMARK(BM_UpdateAllAgainstPlainLoop)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string name = "BM_UpdateAllAgainstPlainLoop";
    std::printf("UpdateAll %.0f particles/s, plain loop %.0f particles/s (medians)\n",
                reporter.Median(name, "update_particles_per_s"), reporter.Median(name, "plain_particles_per_s"));
    benchsupport::PrintFigure("UpdateAll / plain loop, rate", reporter.Of(name, "update/plain"), "at least 0.7", 3);
    ParticleSystemInstance::ReleaseGlobals();
    benchmark::Shutdown();
    return 0;
}
