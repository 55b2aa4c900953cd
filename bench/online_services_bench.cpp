// Online services at the edge of the game.
//
// Progress analysis: the analyzer on a seeded ascending board of 100,000 players over 20
// areas, served by an in-process broker through the leaderboards manager, beside a
// download of the whole board (as many entries a request as the services send) through
// the same manager.
// Goal: the analyzer downloads at most 0.1 of the board's entries.
//
// Analytics: the main thread's cost of one record (Begin, ten Adds, End with send) while
// the server-request worker posts the records to tests/net/online/analytics_server.py on
// 127.0.0.1, beside one synchronous post of the same body to the same server. Goal: at
// most 0.05 of the post. The script is found through ANALYTICS_SERVER_SCRIPT, else beside
// the sources of this program or above the build folder.
//
// The share, the ratio and the times are printed after the runs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "bench/RateReporter.h"
#include "core/math/MathHelpers.h"
#include "net/online/PCMacProgressAnalyzer.h"
#include "net/online/PCMacProgressData.h"
#include "net/online/ServerRequestThread.h"
#include "net/online/SteamLeaderboardsManager.h"
#include "net/online/VornexAnalytics.h"
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "tests/support/ProgramStaticInit.h"
#include "tools/broker/BrokerControl.h"
// bench-link: broker_server

namespace {

void StartUp() {
    static const bool started = RunProgramStaticInit();
    (void)started;
}

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
    online::LocalBroker broker;
    std::unique_ptr<online::OnlineContext> ctx;
    std::unique_ptr<CountingLeaderboards> manager;
    Board() {
        StartUp();
        // State in memory: seeding 100,000 scores does not wait on the disk.
        online::StatsSchema schema;
        broker.Open("", schema, nullptr);
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
    void Pump() {
        while (manager->RequestCount() != 0 || manager->InFlight()) {
            ctx->RunCallbacks();
            // A short sleep, not a yield: pinned to one core, the broker's threads need it.
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
};

Board& TheBoard() {
    static Board* b = new Board;
    return *b;
}

void BM_AnalyzeProgress(benchmark::State& state) {
    Board& b = TheBoard();
    int64_t asked = 0, downloads = 0, runs = 0;
    for (auto _ : state) {
        gSharedRandomState.SetState(1);
        b.manager->asked = 0;
        b.manager->downloads = 0;
        PCMacProgressData data;
        PCMacProgressAnalyzer analyzer(b.manager.get());
        analyzer.StartAnalyze("P", &data, kAreas);
        while (!analyzer.Update(&data)) b.Pump();
        asked += b.manager->asked;
        downloads += b.manager->downloads;
        ++runs;
    }
    state.counters["entries"] = static_cast<double>(asked) / static_cast<double>(runs);
    state.counters["downloads"] = static_cast<double>(downloads) / static_cast<double>(runs);
    state.counters["share"] = static_cast<double>(asked) / static_cast<double>(runs) / kPlayers;
}

void BM_DownloadWholeBoard(benchmark::State& state) {
    Board& b = TheBoard();
    int64_t rows = 0;
    for (auto _ : state) {
        // As many entries a request as the manager keeps; the services may send fewer.
        const int32_t chunk = SteamLeaderboardsManager::kMaxDownloadedEntries;
        for (int32_t offset = 0; offset < kPlayers;) {
            b.manager->RetrieveLeaderboard("P", RETREQ_GLOBAL, chunk, offset);
            b.Pump();
            int32_t userRow = 0;
            const int32_t got = b.manager->GetLeaderboardRetrievedEntriesNumber("P", &userRow);
            if (got <= 0) break;
            rows += got;
            offset += got;
        }
    }
    state.counters["entries"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_AnalyzeProgress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DownloadWholeBoard)->Unit(benchmark::kMillisecond);

std::string ServerScript() {
    namespace fs = std::filesystem;
    const fs::path relative = fs::path("tests") / "net" / "online" / "analytics_server.py";
    std::vector<fs::path> candidates;
    if (const char* env = std::getenv("ANALYTICS_SERVER_SCRIPT")) candidates.emplace_back(env);
    candidates.push_back(fs::absolute(fs::path(__FILE__)).parent_path().parent_path() / relative);
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    for (fs::path dir = exe.parent_path(); !error && !dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
        candidates.push_back(dir / relative);
    for (const fs::path& p : candidates)
        if (fs::exists(p, error)) return p.string();
    return "";
}

// The local analytics server, the worker and the analytics client for the two runs.
struct AnalyticsWorld {
    std::string folder = (std::filesystem::temp_directory_path() / "online_services_bench_http").string();
    bool ready = false;
    AnalyticsWorld() {
        StartUp();
        const std::string script = ServerScript();
        if (script.empty()) return;
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        if (std::system(("python3 " + script + " --mode record --dir " + folder + " >/dev/null 2>&1 &").c_str()) != 0) return;
        for (int i = 0; i < 1000 && !std::filesystem::exists(folder + "/port"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        int port = 0;
        std::ifstream(folder + "/port") >> port;
        if (!port) return;
        setenv("ANALYTICS_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
        StartServerRequestThread();
        gVornexAnalytics.Init();
        ready = true;
    }
    ~AnalyticsWorld() {
        gVornexAnalytics.Shutdown();
        StopServerRequestThread();
        std::ofstream(folder + "/stop") << "1";
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::filesystem::remove_all(folder);
    }
};

AnalyticsWorld* gAnalytics = nullptr;  // stopped by main after the runs
AnalyticsWorld& TheAnalytics() {
    if (!gAnalytics) gAnalytics = new AnalyticsWorld;
    return *gAnalytics;
}

void Record() {
    gVornexAnalytics.Begin("MissionEnd");
    gVornexAnalytics.AddString("mission", "M07");
    gVornexAnalytics.AddString("difficulty", "hard");
    gVornexAnalytics.AddString("result", "won");
    gVornexAnalytics.AddInt("score", 123456);
    gVornexAnalytics.AddInt("time", 1834);
    gVornexAnalytics.AddInt("towers", 41);
    gVornexAnalytics.AddInt("lives", 3);
    gVornexAnalytics.AddFloat("accuracy", 0.8125f);
    gVornexAnalytics.AddFloat("fps", 59.5f);
    gVornexAnalytics.AddFloat("load", 2.25f);
    gVornexAnalytics.End(true);
}

// Eight records an iteration (the pool's size, so every Begin finds an idle slot); the
// worker's posts are waited for outside the timing.
void BM_AnalyticsRecordMainThread(benchmark::State& state) {
    if (!TheAnalytics().ready) {
        state.SkipWithError("no analytics server (python3 and analytics_server.py are needed)");
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < 8; ++i) Record();
        state.PauseTiming();
        gServerRequestThread->Flush();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 8);
}

void BM_AnalyticsSynchronousPost(benchmark::State& state) {
    if (!TheAnalytics().ready) {
        state.SkipWithError("no analytics server (python3 and analytics_server.py are needed)");
        return;
    }
    VornexAnalyticsRequestInternals request("MissionEnd");
    request.Add("mission", VornexAnalyticsValue::kString, 0, 0.0f, "M07");
    request.Add("difficulty", VornexAnalyticsValue::kString, 0, 0.0f, "hard");
    request.Add("result", VornexAnalyticsValue::kString, 0, 0.0f, "won");
    request.Add("score", VornexAnalyticsValue::kInt, 123456, 0.0f, nullptr);
    request.Add("time", VornexAnalyticsValue::kInt, 1834, 0.0f, nullptr);
    request.Add("towers", VornexAnalyticsValue::kInt, 41, 0.0f, nullptr);
    request.Add("lives", VornexAnalyticsValue::kInt, 3, 0.0f, nullptr);
    request.Add("accuracy", VornexAnalyticsValue::kFloat, 0, 0.8125f, nullptr);
    request.Add("fps", VornexAnalyticsValue::kFloat, 0, 59.5f, nullptr);
    request.Add("load", VornexAnalyticsValue::kFloat, 0, 2.25f, nullptr);
    const std::string body = request.Body();
    for (auto _ : state)
        if (!VornexAnalytics::Post(body)) state.SkipWithError("the post failed");
}

// A fixed count: the posts waited for between iterations take far longer than the
// timed part, which a time-based count would repeat for minutes.
BENCHMARK(BM_AnalyticsRecordMainThread)->Unit(benchmark::kMicrosecond)->Iterations(250);
BENCHMARK(BM_AnalyticsSynchronousPost)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    delete gAnalytics;
    if (!reporter.Values("BM_AnalyzeProgress", "share").empty()) {
        benchsupport::PrintFigure("progress analysis: share of the board's entries downloaded",
                                  reporter.Of("BM_AnalyzeProgress", "share"), "at most 0.1", 4);
        std::printf("progress analysis: %.2f ms against %.2f ms for the whole board (medians)\n",
                    reporter.Median("BM_AnalyzeProgress", "real_s") * 1e3,
                    reporter.Median("BM_DownloadWholeBoard", "real_s") * 1e3);
    }
    // Eight records an iteration.
    std::vector<double> record = reporter.Values("BM_AnalyticsRecordMainThread", "real_s");
    for (double& seconds : record) seconds /= 8;
    const std::vector<double> post = reporter.Values("BM_AnalyticsSynchronousPost", "real_s");
    if (!record.empty() && !post.empty()) {
        std::printf("analytics: main thread %.2f us a record against %.1f us for a synchronous post (medians)\n",
                    benchsupport::SpreadOf(record).median * 1e6, benchsupport::SpreadOf(post).median * 1e6);
        benchsupport::PrintFigure("analytics: a record / a synchronous post, time",
                                  benchsupport::RatioSpread(record, post), "at most 0.05", 4);
    }
    return 0;
}
