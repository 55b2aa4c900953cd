// Scene loading: a generated binary scene parsed whole (template lookup, creation, bounded
// property reads, pointer pass, post-load hooks) against a baseline that reads the same
// property lists into entities made the same way (the load's creation call and flags,
// each list read right after its entity is made), so both sort each entity into the
// name and GUID indexes once. Runs at 1,000, 10,000 and 30,000 entities: the indexes are sorted
// arrays, so the load rate falls with the scene's size. The load rates and the ratio at
// 10,000 are printed at the end (goal: the scene load at least half the bare read rate).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "core/BoundedReader.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

using benchsupport::Seconds;

constexpr uint32_t kLoadFlags = ENTITYCREATION_DONOTCREATERENDERINGCONTEXT | ENTITYCREATION_NOGUIDGENERATION;

struct Record {
    size_t offset;
    uint32_t size;
};

struct SceneImage {
    EntityTemplate tpl;
    EntityTemplateStub stub;
    std::vector<uint8_t> bytes;
    std::vector<Record> records;

    explicit SceneImage(int entities) {
        tpl.SetName("bench");
        stub.guid.Generate();
        tpl.guid = stub.guid;
        stub.SetTemplate(&tpl);
        gEntityTemplateRegistry.InsertStub(&stub);

        std::vector<uint8_t> scratch(64 * 1024);
        const auto append = [&](const void* p, size_t n) {
            const auto* b = static_cast<const uint8_t*>(p);
            bytes.insert(bytes.end(), b, b + n);
        };
        const auto u32 = [&](uint32_t v) { append(&v, 4); };
        u32(0);
        Entity* root = gEntityManager->GetRootEntity();
        append(scratch.data(), root->GetRTTIClass()->SerializeProperties(scratch.data(), root, 8));
        u32(uint32_t(entities));
        Entity* e = gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY, 0, nullptr);
        for (int i = 0; i < entities; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "unit_%05d", i);
            e->SetName(name);
            SimpleGUID g;
            g.Generate();
            e->SetGUID(g);
            e->SetLocalPosition3(float(i % 100), 0.0f, float(i / 100));
            const uint32_t size = e->GetRTTIClass()->SerializeProperties(scratch.data(), e, 0);
            append(stub.guid.bytes, 16);
            u32(size);
            records.push_back({bytes.size(), size});
            append(scratch.data(), size);
        }
        gEntityManager->DestroyEntity(e);
        u32(0);  // sets
        u32(0);
        EntityLayerSystem* layers = gEntityManager->GetLayerSystem();
        append(scratch.data(), layers->GetRTTIClass()->SerializeProperties(scratch.data(), layers, 0));
        bytes.push_back(0);  // no grid
        u32(0);              // no sequences
    }
    ~SceneImage() {
        gEntityTemplateRegistry.RemoveStub(&stub);  // the stub's end unlinks the template
    }
};

void BM_SceneLoadAgainstBareReads(benchmark::State& state) {
    static const bool started = [] {
        RunProgramStaticInit();
        gEntityManager->Init(BoundingBox4(Vector(-200, -100, -200, 1), Vector(200, 200, 200, 1)), 20.0f);
        return true;
    }();
    (void)started;
    const int entities = int(state.range(0));
    gEntityManager->NewScene();
    SceneImage image(entities);
    double loadTime = 0, bareTime = 0;
    for (auto _ : state) {
        gEntityManager->NewScene();
        const auto t0 = std::chrono::steady_clock::now();
        const bool parsed = ParseBinaryScene(image.bytes.data(), image.bytes.size(), 0, 0);
        const auto t1 = std::chrono::steady_clock::now();
        loadTime += Seconds(t0, t1);
        if (!parsed || gEntityManager->GetLiveEntityCount() != uint32_t(entities) + 1) {
            state.SkipWithError("the scene did not load whole");
            break;
        }

        // The baseline: each entity made as the load makes it, then its list read into it
        // at once, so the indexes hold what they hold during the load; only the reads
        // are timed.
        state.PauseTiming();
        gEntityManager->NewScene();
        bool complete = true;
        for (int i = 0; i < entities; ++i) {
            Entity* e = gEntityManager->CreateEntityFromTemplate(&image.tpl, nullptr, Matrix::IDENTITY, kLoadFlags,
                                                                 nullptr);
            if (!e) {
                complete = false;
                break;
            }
            const auto t2 = std::chrono::steady_clock::now();
            BoundedReader in(image.bytes.data() + image.records[size_t(i)].offset, image.records[size_t(i)].size);
            e->SolidDeserialize(in, 0);
            bareTime += Seconds(t2, std::chrono::steady_clock::now());
        }
        state.ResumeTiming();
        if (!complete) {
            state.SkipWithError("the entity limit refused a baseline entity");
            break;
        }
    }
    gEntityManager->NewScene();
    const double total = double(state.iterations()) * entities;
    if (loadTime > 0 && bareTime > 0) {
        state.counters["scene_entities_per_s"] = total / loadTime;
        state.counters["bare_reads_per_s"] = total / bareTime;
        state.counters["scene/bare"] = bareTime / loadTime;
    }
}
BENCHMARK(BM_SceneLoadAgainstBareReads)->Arg(1000)->Arg(10000)->Arg(30000)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps the load rate of every run (the median of repetitions when there are some)
// beside the ratio the base class keeps.

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int n : {1000, 10000, 30000}) {
        const std::string run = "BM_SceneLoadAgainstBareReads/" + std::to_string(n);
        std::printf("scene load at %5d entities: %.0f entities/s (median)\n", n,
                    reporter.Median(run, "scene_entities_per_s"));
    }
    benchsupport::PrintFigure("scene load / bare property reads at 10,000 entities, rate",
                              reporter.Of("BM_SceneLoadAgainstBareReads/10000", "scene/bare"), "at least 0.5");
    benchmark::Shutdown();
    return 0;
}
