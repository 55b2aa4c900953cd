// Text and localised strings against plain loops doing the same work, in one run:
//  (b) 100,000 StringManager::GetString lookups (current language, with fallback) in a
//      20,000-string "L01n.bin" written by tests/support/l01n.py, against std::lower_bound
//      over a sorted vector of the same paths.
// Rates are lookups per second; ratios are printed at the end (goal: (b) at least 0.8).
//
// The strings file comes from tests/support/l01n.py (run with python3), so the program is
// run from a build folder inside the source tree (build-release/bench/ui_text_bench).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/RateReporter.h"
#include "core/fs/FileSystem.h"
#include "tests/support/ProgramStaticInit.h"
#include "ui/localisation/StringManager.h"

namespace {

namespace sfs = std::filesystem;

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// ---- (b) string lookups ----

constexpr uint32_t kStrings = 20000;
constexpr uint32_t kLookups = 100000;

struct StringTable {
    StringManager* manager = nullptr;
    std::vector<std::string> paths;  // sorted, as the file's entries
    std::vector<std::string> ids;    // the looked-up ids, in lookup order
};

// The string manager with l01n.py's generated file loaded from a mounted "Common" folder;
// null manager when python3 or the file fails.
StringTable& Table() {
    static StringTable table = [] {
        StringTable t;
        RunProgramStaticInit();
        const sfs::path source = sfs::canonical("/proc/self/exe").parent_path().parent_path().parent_path();
        const sfs::path folder = sfs::temp_directory_path() / ("ui_text_bench_" + std::to_string(::getpid()));
        sfs::create_directories(folder);
        const std::string command = "python3 " + (source / "tests/support/l01n.py").string() + " generate " +
                                    (folder / "L01n.bin").string() + " " + std::to_string(kStrings);
        if (std::system(command.c_str()) != 0) return t;
        gFileSystem.MountDirectory("Common", folder.string().c_str());
        t.manager = new StringManager();
        if (!t.manager->LoadCompiledStrings()) {
            delete t.manager;
            t.manager = nullptr;
        }
        sfs::remove_all(folder);
        char path[64];
        for (uint32_t i = 0; i < kStrings; ++i) {
            std::snprintf(path, sizeof path, "Bench/Group%03u/String%05u", i / 100, i);
            t.paths.emplace_back(path);
        }
        std::sort(t.paths.begin(), t.paths.end(), [](const std::string& a, const std::string& b) {
            return std::strcmp(a.c_str(), b.c_str()) < 0;
        });
        uint32_t state = 12345;
        for (uint32_t i = 0; i < kLookups; ++i) {
            state = state * 214013u + 2531011u;
            t.ids.push_back(t.paths[(state >> 8) % kStrings]);
        }
        return t;
    }();
    return table;
}

void BM_StringLookups(benchmark::State& state) {
    StringTable& t = Table();
    if (!t.manager) {
        state.SkipWithError("no strings file (python3 and tests/support/l01n.py are needed)");
        return;
    }
    std::vector<const char*> sorted;
    for (const std::string& p : t.paths) sorted.push_back(p.c_str());
    double lookupTime = 0, directTime = 0;
    size_t found = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (const std::string& id : t.ids)
            found += t.manager->GetString(id.c_str(), kCurrentTextLanguage, nullptr, true, true) != nullptr;
        const auto t1 = std::chrono::steady_clock::now();
        for (const std::string& id : t.ids) {
            const char* key = id.c_str();
            auto it = std::lower_bound(sorted.begin(), sorted.end(), key,
                                       [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
            found += it != sorted.end() && std::strcmp(*it, key) == 0;
        }
        const auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(found);
        lookupTime += Seconds(t0, t1);
        directTime += Seconds(t1, t2);
    }
    if (found != size_t(state.iterations()) * kLookups * 2) state.SkipWithError("a lookup failed");
    const double lookups = double(state.iterations()) * kLookups;
    state.counters["lookups_per_s"] = lookups / lookupTime;
    state.counters["direct_per_s"] = lookups / directTime;
    state.counters["ratio"] = directTime / lookupTime;  // lookup rate / direct rate
}
BENCHMARK(BM_StringLookups)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter("ratio");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("(b) GetString lookups / std::lower_bound, rate: %.2f (goal: at least 0.8)\n",
                reporter.Rate("BM_StringLookups/real_time"));
    delete Table().manager;
    benchmark::Shutdown();
    return 0;
}
