// The gamer profile's saves: the main thread's cost of StoreProgress plus StoreResults
// (serialise both data objects and post the writes to the ResourceManager worker)
// against a synchronous FileWrite of the same bytes through an in-process broker whose
// data folder lies beside the program (in the build tree). Also the time of a full LoadAllData (both
// files, both copies, and the stats request).
//
// Goal: the main thread's cost of the two stores is at most 0.2 of the synchronous
// writes. The ratio is printed after the runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/RateReporter.h"
#include "net/online/PCMacGamerProfile.h"
#include "platform/online/OnlineBroker.h"
#include "render/resources/ResourceManager.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

// The program's folder, from main's first argument.
std::filesystem::path gProgramFolder = std::filesystem::current_path();

struct World {
    std::string folder = (gProgramFolder / "profile_bench_data").string();
    online::LocalBroker broker;
    std::unique_ptr<online::OnlineContext> ctx;
    std::unique_ptr<PCMacGamerProfile> profile;
    World() {
        RunProgramStaticInit();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        online::StatsSchema schema;
        broker.Open(folder, schema, nullptr);
        online::ClientConfig c;
        ctx = broker.CreateClient(c);
        gResourceManager.Start();
        profile = std::make_unique<PCMacGamerProfile>(ctx.get(), nullptr);
        profile->Login(nullptr);
        // A played-through campaign: every mission scored and decorated, some flags and data.
        for (const char* id : ZKRGamerProfileData::kMissionIds) {
            profile->StoreMissionScore(id, 12345);
            for (const char* medal : ZKRGamerProfileData::kDistinctionTypes) profile->StoreMissionDistinctionLevel(id, medal, 3);
            profile->RaiseMissionFlag(id, "completed");
        }
        for (int i = 0; i < 40; ++i) {
            const std::string name = "value" + std::to_string(i);
            profile->UpdateUnsignedLocalDataValue(name.c_str(), static_cast<uint32_t>(i));
            profile->RaiseProgressFlag(("flag" + std::to_string(i)).c_str());
        }
    }
};

World& TheWorld() {
    static World* w = new World;  // lives to the end: the worker may still hold its jobs
    return *w;
}

std::vector<uint8_t> Bytes(const RTTIPolyBaseClass& object) {
    std::vector<uint8_t> bytes(object.SolidSerialize(nullptr, 0));
    object.SolidSerialize(bytes.data(), 0);
    return bytes;
}

void BM_StoreProgressAndResults(benchmark::State& state) {
    World& w = TheWorld();
    for (auto _ : state) {
        w.profile->StoreProgress();
        w.profile->StoreResults();
        state.PauseTiming();
        GamerProfile::WaitForPendingWrites();  // the worker's part is not the main thread's cost
        state.ResumeTiming();
    }
}

void BM_SynchronousFileWrite(benchmark::State& state) {
    World& w = TheWorld();
    // The file images a save writes (header and checksum do not change the cost).
    const std::vector<uint8_t> progress = Bytes(w.profile->Progress());
    const std::vector<uint8_t> results = Bytes(w.profile->Results());
    for (auto _ : state) {
        w.ctx->RemoteStorage()->FileWrite("bench_progress", progress.data(), static_cast<int32_t>(progress.size()));
        w.ctx->RemoteStorage()->FileWrite("bench_results", results.data(), static_cast<int32_t>(results.size()));
    }
}

void BM_LoadAllData(benchmark::State& state) {
    World& w = TheWorld();
    for (auto _ : state) w.profile->LoadAllData();
}

BENCHMARK(BM_StoreProgressAndResults)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SynchronousFileWrite)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LoadAllData)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc > 0) gProgramFolder = std::filesystem::absolute(argv[0]).parent_path();
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double stores = reporter.Median("BM_StoreProgressAndResults", "real_s");
    const double writes = reporter.Median("BM_SynchronousFileWrite", "real_s");
    if (stores > 0 && writes > 0) {
        std::printf("\nMain-thread cost of StoreProgress + StoreResults: %.1f us; synchronous FileWrite of the same "
                    "bytes: %.1f us (medians)\n",
                    stores * 1e6, writes * 1e6);
        benchsupport::PrintFigure("stores / synchronous writes, time",
                                  reporter.Ratio("BM_StoreProgressAndResults", "real_s", "BM_SynchronousFileWrite",
                                                 "real_s"),
                                  "at most 0.2", 3);
    }
    const double load = reporter.Median("BM_LoadAllData", "real_s");
    if (load > 0) std::printf("LoadAllData: %.1f us (median)\n", load * 1e6);
    benchmark::Shutdown();
    gResourceManager.Stop();
    return 0;
}
