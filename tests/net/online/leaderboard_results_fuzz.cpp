// The leaderboards manager under arbitrary call results. Each input is a short sequence
// (up to 24) of operations {u8 op, 12 bytes of arguments}: queue a download, an upload
// or an upload-then-download (board name from a small table, which includes a name the
// service refuses), reset the non-update requests, feed a find, upload or download
// result with arbitrary handles, counts and failure flags, pump the services, or log
// out. The manager's services are an in-process broker with two seeded boards whose
// entry reads answer for real. After each operation every getter stays in bounds.
// test-link: broker_server
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ProgramStaticInit.h"
#include "net/online/SteamLeaderboardsManager.h"
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "tools/broker/BrokerControl.h"

namespace {

struct World {
    online::LocalBroker broker;
    std::unique_ptr<online::OnlineContext> ctx;
    std::string longName = std::string(300, 'L');
    const char* names[4] = {"B0", "B1", "new", nullptr};
    World() {
        online::StatsSchema schema;
        broker.Open("", schema, nullptr);
        broker.WithStore([](online::BrokerStore& s) {
            std::string answer;
            return online::RunControl(s, "seed",
                                      "user 1 Me\nleaderboard B0 descending\nleaderboard B1 ascending\n"
                                      "score B0 1 10 1 2 3\nscore B0 2 20\nscore B1 3 5 9\n",
                                      &answer);
        });
        online::ClientConfig c;
        c.account = 1;
        ctx = broker.CreateClient(c);
        names[3] = longName.c_str();
    }
};
World* gWorld = nullptr;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "leaderboard_results_fuzz: %s\n", what);
    std::abort();
}

template <class T>
T Take(const uint8_t* args, size_t offset) {
    T v;
    std::memcpy(&v, args + offset, sizeof v);
    return v;
}

void Inspect(const SteamLeaderboardsManager& m) {
    for (const char* name : gWorld->names) {
        int32_t row = -1;
        const int32_t n = m.GetLeaderboardRetrievedEntriesNumber(name, &row);
        Check(n >= 0 && row >= 0 && row <= n, "user row out of range");
        for (int32_t i = -1; i <= n; ++i) {
            uint32_t rank;
            const char* persona = nullptr;
            int32_t score, count = 0, detail;
            bool isFriend;
            const bool ok = m.GetLeaderboardRetrievedEntry(name, i, &rank, &persona, &score, &isFriend);
            Check(ok == (i >= 0 && i < n), "entry answer out of range");
            const int32_t* details = nullptr;
            if (m.GetLeaderboardRetrievedEntryDetails(name, i, &count, &details)) {
                Check(count >= 0 && count <= SteamLeaderboardsManager::kEntryDetails, "detail count");
                for (int32_t d = 0; d < count; ++d) detail = details[d];
            }
            m.GetLeaderboardRetrievedEntryDetail(name, i, &detail);
        }
        m.GetLeaderboardRetrieveStatus(name);
        m.GetLeaderboardTotalEntriesNumber(name);
    }
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    uint8_t seed[13 * 6] = {};
    // Download B0, pump, find result for handle 1, download result, upload B1, pump.
    const uint8_t ops[6] = {0, 7, 4, 6, 1, 7};
    for (int i = 0; i < 6; ++i) {
        seed[i * 13] = ops[i];
        seed[i * 13 + 3] = 10;  // count
        seed[i * 13 + 5] = 1;   // handle / found
    }
    add(seed, sizeof seed);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gWorld = new World;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!gWorld) LLVMFuzzerInitialize(nullptr, nullptr);
    constexpr size_t kRecord = 13;
    auto manager = std::make_unique<SteamLeaderboardsManager>(gWorld->ctx.get());
    for (size_t at = 0, n = 0; at + kRecord <= size && n < 24; at += kRecord, ++n) {
        const uint8_t op = data[at] % 9;
        const uint8_t* a = data + at + 1;
        const char* name = gWorld->names[a[0] & 3];
        const int32_t request = static_cast<int8_t>(a[1]) % 4;
        const int32_t count = static_cast<int8_t>(a[2]);
        const int32_t offset = static_cast<int8_t>(a[3]);
        switch (op) {
        case 0:
            manager->RetrieveLeaderboard(name, request, count, offset);
            break;
        case 1:
            if (a[4] & 1)
                manager->UpdateLeaderboard(name, Take<int32_t>(a, 5), Take<int16_t>(a, 9), a[11] & 1);
            else
                manager->UpdateLeaderboard(name, Take<int32_t>(a, 5), a[11] & 1);
            break;
        case 2:
            manager->UpdateAndRetrieveLeaderboard(name, Take<int32_t>(a, 5), Take<int16_t>(a, 9), request, count,
                                                  offset, a[11] & 1);
            break;
        case 3:
            manager->ResetNonUpdateRequests();
            break;
        case 4: {
            online::LeaderboardFindResult r{Take<uint32_t>(a, 4) % 8, a[8]};
            manager->OnFindResult(r, a[9] & 1);
            break;
        }
        case 5: {
            online::LeaderboardScoreUploaded r{a[4], Take<uint32_t>(a, 5) % 8, 0, 0, 0, 0};
            manager->OnUploadResult(r, a[9] & 1);
            break;
        }
        case 6: {
            online::LeaderboardScoresDownloaded r{a[4] % 8u, Take<uint16_t>(a, 5), Take<int32_t>(a, 7)};
            manager->OnDownloadResult(r, a[11] & 1);
            break;
        }
        case 7:
            gWorld->ctx->RunCallbacks();
            break;
        default:
            manager->Clear();
            break;
        }
        uint32_t uploads = 0;
        for (uint32_t i = 0; i < manager->RequestCount(); ++i) {
            const uint32_t kind = manager->RequestAt(i)->kind;
            uploads += kind == SteamLeaderboardsManager::kRequestUpload || kind == SteamLeaderboardsManager::kRequestUploadAndDownload;
        }
        Check(manager->HasPendingUploads() == (uploads > 0), "pending uploads disagree with the queue");
        Inspect(*manager);
    }
    manager.reset();
    gWorld->ctx->RunCallbacks();
    return 0;
}
