// Shader start-up from a warm compiled-shader cache against compiling every variant, in
// one run: each iteration loads the definitions with every built-in variant and the
// post-processing set once with the cache folder removed (every variant compiled and
// its cache written) and once more with the cache in place (every variant read from
// it), on the same files and the same device, each until its device shaders exist.
// Closing and evicting between the two is not timed. The counters give both times per
// iteration and their ratio cold/warm (goal: at least 2).
//
// The project's shader data comes from the build tree's data folder (target
// shader_data), copied to a scratch folder mounted as "common" and "textures".
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/LoaderBench.h"
#include "bench/RateReporter.h"
#include "render/shaders/PostProcessChain.h"
#include "render/shaders/ShaderManager.h"

namespace {

namespace sfs = std::filesystem;
std::string gFolder;

void StartOnce() {
    static const bool started = benchsupport::StartLoader("shader_bench", &gFolder, [](const std::string& folder) {
        const sfs::path data = sfs::canonical("/proc/self/exe").parent_path().parent_path() / "data";
        sfs::copy(data, folder, sfs::copy_options::recursive);
        gFileSystem.MountDirectory("common", (folder + "/common").c_str());
        gFileSystem.MountDirectory("textures", (folder + "/textures").c_str());
    });
    if (!started) std::abort();
}

double LoadEverything() {
    const auto t0 = std::chrono::steady_clock::now();
    if (!gShaderManager->LoadDefinitions()) std::abort();
    gShaderManager->InitPostProcessShaders(gVornexRenderer.PostProcess());
    gVornexRenderer.WaitForResourceJobs(1);
    const auto t1 = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(t1 - t0).count();
}

void CloseEverything() {
    gShaderManager->Close();
    gVornexRenderer.PostProcess().ReleaseShaders();
    gResourceManager.PostEvictResources(kAllResourceTypes, false, 0, 0);
    gResourceManager.Flush();
    gVornexRenderer.WaitForResourceJobs(1);
}

void BM_WarmCacheAgainstCompiling(benchmark::State& state) {
    StartOnce();
    double cold = 0, warm = 0;
    for (auto _ : state) {
        sfs::remove_all(gFolder + "/common/Shaders/Compiled");
        cold += LoadEverything();
        CloseEverything();
        warm += LoadEverything();
        CloseEverything();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["cold_ms"] = 1000.0 * cold / n;
    state.counters["warm_ms"] = 1000.0 * warm / n;
    state.counters["cold/warm"] = cold / warm;
}
BENCHMARK(BM_WarmCacheAgainstCompiling)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("cold %.1f ms, warm %.1f ms (medians)\n", reporter.Median("BM_WarmCacheAgainstCompiling", "cold_ms"),
                reporter.Median("BM_WarmCacheAgainstCompiling", "warm_ms"));
    benchsupport::PrintFigure("cold / warm, time", reporter.Of("BM_WarmCacheAgainstCompiling", "cold/warm"),
                              "at least 2");
    benchsupport::StopLoader(gFolder);
    benchmark::Shutdown();
    return 0;
}
