// Scene loading, in one run: a generated binary scene of 10,000 entities parsed whole
// (template lookup, creation, bounded property reads, pointer pass, post-load hooks)
// against the same 10,000 property lists read into entities made beforehand by the
// property reader alone. The rates and their ratio are printed at the end (goal: the
// scene load at least half the bare read rate).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

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

constexpr int kEntities = 10000;

struct Record {
    size_t offset;
    uint32_t size;
    SimpleGUID guid;
};

struct SceneImage {
    EntityTemplate tpl;
    EntityTemplateStub stub;
    std::vector<uint8_t> bytes;
    std::vector<Record> records;

    SceneImage() {
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
        u32(kEntities);
        Entity* e = gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY, 0, nullptr);
        for (int i = 0; i < kEntities; ++i) {
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
            records.push_back({bytes.size(), size, g});
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

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void BM_SceneLoadAgainstBareReads(benchmark::State& state) {
    static const bool started = [] {
        RunProgramStaticInit();
        gEntityManager->Init(BoundingBox4(Vector(-200, -100, -200, 1), Vector(200, 200, 200, 1)), 20.0f);
        return true;
    }();
    (void)started;
    gEntityManager->NewScene();
    SceneImage image;
    double loadTime = 0, bareTime = 0;
    for (auto _ : state) {
        gEntityManager->NewScene();
        const auto t0 = std::chrono::steady_clock::now();
        ParseBinaryScene(image.bytes.data(), image.bytes.size(), 0, 0);
        const auto t1 = std::chrono::steady_clock::now();
        loadTime += Seconds(t0, t1);

        state.PauseTiming();
        gEntityManager->NewScene();
        // Made with the names, GUIDs and places the lists hold, so that the indexes and
        // the spatial grid see each entity once, as in the scene load.
        std::vector<Entity*> made(kEntities);
        for (int i = 0; i < kEntities; ++i) {
            made[i] = gEntityManager->CreateEntityFromTemplate(
                &image.tpl, nullptr, Matrix::IDENTITY,
                ENTITYCREATION_DONOTCREATERENDERINGCONTEXT | ENTITYCREATION_NOGUIDGENERATION, nullptr);
            char name[32];
            std::snprintf(name, sizeof name, "unit_%05d", i);
            made[i]->SetName(name);
            made[i]->SetGUID(image.records[i].guid);
            made[i]->SetLocalPosition3(float(i % 100), 0.0f, float(i / 100));
        }
        state.ResumeTiming();
        const auto t2 = std::chrono::steady_clock::now();
        for (int i = 0; i < kEntities; ++i) {
            BoundedReader in(image.bytes.data() + image.records[i].offset, image.records[i].size);
            made[i]->SolidDeserialize(in, 0);
        }
        const auto t3 = std::chrono::steady_clock::now();
        bareTime += Seconds(t2, t3);
    }
    gEntityManager->NewScene();
    const double entities = double(state.iterations()) * kEntities;
    state.counters["scene_entities_per_s"] = entities / loadTime;
    state.counters["bare_reads_per_s"] = entities / bareTime;
    state.counters["scene/bare"] = bareTime / loadTime;
}
BENCHMARK(BM_SceneLoadAgainstBareReads)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter("scene/bare");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("scene load rate over bare property reads: %.2f (goal: at least 0.5)\n",
                reporter.Rate("BM_SceneLoadAgainstBareReads/real_time"));
    benchmark::Shutdown();
    return 0;
}
