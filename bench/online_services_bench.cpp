// Online services at the edge of the game.
//
// Progress analysis: the analyzer on a seeded ascending board of 100,000 players over 20
// areas, served by an in-process broker through the leaderboards manager, beside a
// download of the whole board (10,000 entries a request) through the same manager.
// Goal: the analyzer downloads at most 0.1 of the board's entries. The share and both
// times are printed after the runs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "core/math/MathHelpers.h"
#include "net/online/PCMacProgressAnalyzer.h"
#include "net/online/PCMacProgressData.h"
#include "net/online/SteamLeaderboardsManager.h"
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "tests/support/ProgramStaticInit.h"
#include "tools/broker/BrokerControl.h"
// bench-link: broker_server

namespace {

constexpr int kPlayers = 100000;
constexpr uint32_t kAreas = 20;

// Counts the entries every download asks for.
class CountingLeaderboards : public SteamLeaderboardsManager {
public:
    using SteamLeaderboardsManager::SteamLeaderboardsManager;
    bool RetrieveLeaderboard(const char* name, int32_t dataRequest, int32_t count, int32_t offset) override {
        asked += dataRequest == RETREQ_FRIENDS ? 0 : count;
        ++downloads;
        return SteamLeaderboardsManager::RetrieveLeaderboard(name, dataRequest, count, offset);
    }
    int64_t asked = 0;
    int64_t downloads = 0;
};

struct Board {
    std::string folder = (std::filesystem::temp_directory_path() / "online_services_bench").string();
    online::LocalBroker broker;
    std::unique_ptr<online::OnlineContext> ctx;
    std::unique_ptr<CountingLeaderboards> manager;
    Board() {
        RunProgramStaticInit();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        online::StatsSchema schema;
        broker.Open(folder, schema, nullptr);
        std::string seed = "user 1 Me\nleaderboard P ascending\n";
        uint32_t x = 777;
        for (int i = 0; i < kPlayers; ++i) {
            x = x * 1103515245u + 12345u;
            seed += "score P " + std::to_string(1000 + i) + " " + std::to_string((x >> 8) % (kAreas + 1)) + " 0\n";
        }
        broker.WithStore([&](online::BrokerStore& s) {
            std::string answer;
            return online::RunControl(s, "seed", seed, &answer);
        });
        online::ClientConfig c;
        c.account = 1;
        ctx = broker.CreateClient(c);
        manager = std::make_unique<CountingLeaderboards>(ctx.get());
    }
    ~Board() { std::filesystem::remove_all(folder); }
    void Pump() {
        while (manager->RequestCount() != 0 || manager->InFlight()) {
            ctx->RunCallbacks();
            std::this_thread::yield();
        }
    }
};

Board& TheBoard() {
    static Board* b = new Board;
    return *b;
}

double gAnalyzeSeconds = 0, gWholeSeconds = 0, gShare = 0;

void BM_AnalyzeProgress(benchmark::State& state) {
    Board& b = TheBoard();
    int64_t asked = 0, runs = 0;
    for (auto _ : state) {
        gSharedRandomState.SetState(1);
        b.manager->asked = 0;
        PCMacProgressData data;
        PCMacProgressAnalyzer analyzer(b.manager.get());
        analyzer.StartAnalyze("P", &data, kAreas);
        while (!analyzer.Update(&data)) b.Pump();
        asked += b.manager->asked;
        ++runs;
    }
    gShare = static_cast<double>(asked) / static_cast<double>(runs) / kPlayers;
    state.counters["entries"] = static_cast<double>(asked) / static_cast<double>(runs);
    state.counters["share"] = gShare;
}

void BM_DownloadWholeBoard(benchmark::State& state) {
    Board& b = TheBoard();
    int64_t rows = 0;
    for (auto _ : state) {
        const int32_t chunk = SteamLeaderboardsManager::kMaxDownloadedEntries;
        for (int32_t offset = 0; offset < kPlayers; offset += chunk) {
            b.manager->RetrieveLeaderboard("P", RETREQ_GLOBAL, chunk, offset);
            b.Pump();
            int32_t userRow = 0;
            rows += b.manager->GetLeaderboardRetrievedEntriesNumber("P", &userRow);
        }
    }
    state.counters["entries"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_AnalyzeProgress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadWholeBoard)->Unit(benchmark::kMillisecond);

// Records the mean time per iteration of the runs above for the closing figures.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
            const double seconds = r.real_accumulated_time / static_cast<double>(r.iterations);
            if (r.benchmark_name().find("AnalyzeProgress") != std::string::npos) gAnalyzeSeconds = seconds;
            if (r.benchmark_name().find("DownloadWholeBoard") != std::string::npos) gWholeSeconds = seconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (gAnalyzeSeconds > 0)
        std::printf("progress analysis: %.4f of the board's entries downloaded (goal <= 0.1), %.2f ms against %.2f ms for "
                    "the whole board\n",
                    gShare, gAnalyzeSeconds * 1e3, gWholeSeconds * 1e3);
    return 0;
}
