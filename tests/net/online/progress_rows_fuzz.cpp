// The progress analyzer under arbitrary leaderboard windows. A test double of the
// leaderboards manager serves every download from the input: refusals, failures, waits,
// totals, entry counts the window does not hold, user rows, scores (negative, beyond the
// area count, out of order), friend flags and details. The input starts with the area
// count (0 and 101 included) and the shared random state.
//
// Checked: no window asks outside [0, total - 1] of the last total served, no row is read
// past the rows a download holds or the size it asked for, and the analysis ends in state
// 0 within a bound: every download consumes at least one input byte or, once the input is
// used up, is served empty (which closes the probed area's search), and a download waits
// at most three updates.
//
// Seeds are the downloads the analyzer asks of real ascending boards, recorded, and a
// total that turns negative mid-analysis.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/math/MathHelpers.h"
#include "net/online/PCMacProgressAnalyzer.h"
#include "net/online/PCMacProgressData.h"
#include "net/online/SteamLeaderboardsManager.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "progress_rows_fuzz: %s\n", what);
    std::abort();
}

constexpr int32_t kMaxRows = 32;

struct Row {
    int8_t score;
    uint8_t flags;  // bit 0 friend, bits 1-2 detail count
    int32_t detail;
};
struct Window {
    bool failed = false;
    mutable int waits = 0;
    int32_t total = 0;
    int32_t reported = 0;
    int32_t userRow = -1;
    int32_t asked = 0;  // entries the download asked for (0: friends, no limit but the rows)
    int32_t offset = 0;
    std::vector<Row> rows;
};

void Put(std::string& out, const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }

// Encodes one download as the double reads it.
void Encode(std::string& out, const Window& w, bool refused) {
    const uint8_t flags = static_cast<uint8_t>((refused ? 1 : 0) | (w.failed ? 2 : 0) | ((w.waits & 3) << 2));
    Put(out, &flags, 1);
    if (refused) return;
    Put(out, &w.total, 4);
    const int8_t reported = static_cast<int8_t>(w.reported), userRow = static_cast<int8_t>(w.userRow);
    Put(out, &reported, 1);
    Put(out, &userRow, 1);
    for (const Row& r : w.rows) {
        Put(out, &r.score, 1);
        Put(out, &r.flags, 1);
        Put(out, &r.detail, 4);
    }
}

class FakeLeaderboards : public SteamLeaderboardsManager {
public:
    FakeLeaderboards(const uint8_t* data, size_t size) : SteamLeaderboardsManager(nullptr), at(data), end(data + size) {}

    bool RetrieveLeaderboard(const char*, int32_t dataRequest, int32_t count, int32_t offset) override {
        if (dataRequest == RETREQ_GLOBAL) {
            Check(offset >= 0, "window offset below 0");
            Check(current.total <= 0 || offset <= current.total - 1, "window offset past the board");
            Check(count >= 0, "negative window size");
        }
        ++downloads;
        const bool exhausted = at >= end;
        const uint8_t flags = Byte();
        if (flags & 1) return false;
        Window w;
        w.asked = dataRequest == RETREQ_FRIENDS ? 0 : count;
        w.offset = offset;
        w.failed = flags & 2;
        w.waits = (flags >> 2) & 3;
        w.total = exhausted ? current.total : Int32();
        w.reported = static_cast<int8_t>(Byte());
        w.userRow = static_cast<int8_t>(Byte());
        const int32_t n = std::min(std::max(w.reported, 0), kMaxRows);
        for (int32_t i = 0; i < n && at < end; ++i) {
            Row r;
            r.score = static_cast<int8_t>(Byte());
            r.flags = Byte();
            r.detail = Int32();
            w.rows.push_back(r);
        }
        current = w;
        return true;
    }
    uint32_t GetLeaderboardRetrieveStatus(const char*) const override {
        if (current.waits > 0) {
            --current.waits;
            return RETSTATUS_WAIT;
        }
        return current.failed ? RETSTATUS_FAILED : RETSTATUS_RETRIEVED;
    }
    int32_t GetLeaderboardTotalEntriesNumber(const char*) const override { return current.total; }
    int32_t GetLeaderboardRetrievedEntriesNumber(const char*, int32_t* userRow) const override {
        if (userRow) *userRow = current.userRow;
        return current.reported;
    }
    bool GetLeaderboardRetrievedEntry(const char*, int32_t row, uint32_t* rank, const char** persona, int32_t* score,
                                      bool* isFriend) const override {
        CheckRow(row);
        if (row >= static_cast<int32_t>(current.rows.size())) return false;
        const Row& r = current.rows[static_cast<size_t>(row)];
        *rank = static_cast<uint32_t>(current.offset + row + 1);
        *persona = (r.flags & 8) ? "" : "Player";
        *score = r.score;
        *isFriend = r.flags & 1;
        return true;
    }
    bool GetLeaderboardRetrievedEntryDetails(const char*, int32_t row, int32_t* detailCount,
                                             const int32_t** details) const override {
        CheckRow(row);
        if (row >= static_cast<int32_t>(current.rows.size())) return false;
        const Row& r = current.rows[static_cast<size_t>(row)];
        *detailCount = std::min((r.flags >> 1) & 3, kEntryDetails);
        *details = &r.detail;
        return true;
    }

    uint8_t Byte() { return at < end ? *at++ : 0; }
    int32_t Int32() {
        uint8_t b[4] = {Byte(), Byte(), Byte(), Byte()};
        int32_t v;
        std::memcpy(&v, b, 4);
        return v;
    }
    size_t downloads = 0;

private:
    void CheckRow(int32_t row) const {
        Check(row >= 0, "negative row");
        Check(current.asked == 0 || row < current.asked, "row past the window asked for");
        Check(row < current.reported, "row past the reported entry count");
    }
    Window current;
    const uint8_t* at;
    const uint8_t* end;
};

// A real ascending board for the seeds: serves each download from the scores and
// records it.
class RecordingBoard : public SteamLeaderboardsManager {
public:
    RecordingBoard(std::vector<int8_t> scores, std::vector<bool> friends, int32_t user, std::string* out)
        : SteamLeaderboardsManager(nullptr), scores(std::move(scores)), friends(std::move(friends)), user(user), out(out) {}

    bool RetrieveLeaderboard(const char*, int32_t dataRequest, int32_t count, int32_t offset) override {
        Window w;
        w.total = static_cast<int32_t>(scores.size());
        std::vector<int32_t> picked;
        if (dataRequest == RETREQ_AROUNDUSER) {
            if (user >= 0) picked.push_back(user);
        } else if (dataRequest == RETREQ_FRIENDS) {
            for (int32_t i = 0; i < w.total; ++i)
                if (friends[static_cast<size_t>(i)] || i == user) picked.push_back(i);
        } else {
            for (int32_t i = offset; i < std::min(w.total, offset + count); ++i) picked.push_back(i);
        }
        w.waits = static_cast<int>(out->size() % 3);
        for (int32_t i : picked) {
            if (i == user) w.userRow = static_cast<int32_t>(w.rows.size());
            w.rows.push_back({scores[static_cast<size_t>(i)], static_cast<uint8_t>((friends[static_cast<size_t>(i)] ? 1 : 0) | 2),
                              i * 7});
        }
        w.reported = static_cast<int32_t>(w.rows.size());
        Encode(*out, w, false);
        current = w;
        return true;
    }
    uint32_t GetLeaderboardRetrieveStatus(const char*) const override { return RETSTATUS_RETRIEVED; }
    int32_t GetLeaderboardTotalEntriesNumber(const char*) const override { return current.total; }
    int32_t GetLeaderboardRetrievedEntriesNumber(const char*, int32_t* userRow) const override {
        if (userRow) *userRow = current.userRow;
        return current.reported;
    }
    bool GetLeaderboardRetrievedEntry(const char*, int32_t row, uint32_t* rank, const char** persona, int32_t* score,
                                      bool* isFriend) const override {
        if (row < 0 || row >= current.reported) return false;
        *rank = static_cast<uint32_t>(row + 1);
        *persona = "Player";
        *score = current.rows[static_cast<size_t>(row)].score;
        *isFriend = current.rows[static_cast<size_t>(row)].flags & 1;
        return true;
    }
    bool GetLeaderboardRetrievedEntryDetails(const char*, int32_t row, int32_t* detailCount,
                                             const int32_t** details) const override {
        if (row < 0 || row >= current.reported) return false;
        *detailCount = 1;
        *details = &current.rows[static_cast<size_t>(row)].detail;
        return true;
    }

private:
    std::vector<int8_t> scores;
    std::vector<bool> friends;
    int32_t user;
    std::string* out;
    Window current;
};

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    struct Shape {
        int players, areas;
        bool withUser;
    };
    const Shape shapes[] = {{0, 3, false}, {25, 1, true}, {200, 5, true}, {120, 20, false}, {60, 100, true}};
    for (const Shape& s : shapes) {
        std::vector<int8_t> scores;
        std::vector<bool> friends;
        uint32_t x = 99u + static_cast<uint32_t>(s.players);
        for (int i = 0; i < s.players; ++i) {
            x = x * 1103515245u + 12345u;
            scores.push_back(static_cast<int8_t>((x >> 8) % static_cast<uint32_t>(s.areas + 1)));
            friends.push_back(i % 17 == 3);
        }
        std::sort(scores.begin(), scores.end());
        std::string input;
        input.push_back(static_cast<char>(s.areas));
        const uint32_t seed = 4242;
        Put(input, &seed, 4);
        RecordingBoard board(scores, friends, s.withUser ? s.players / 2 : -1, &input);
        PCMacProgressData data;
        PCMacProgressAnalyzer analyzer(&board);
        gSharedRandomState.SetState(seed);
        if (analyzer.StartAnalyze("P", &data, static_cast<uint32_t>(s.areas)))
            for (int i = 0; i < 100000 && !analyzer.Update(&data); ++i) {
            }
        add(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    // A total that turns negative under a window with rows (5 areas): the user's and the
    // friends' downloads, then a first window of two rows whose total is INT32_MIN.
    std::string input;
    input.push_back(5);
    const uint32_t seed = 1;
    Put(input, &seed, 4);
    Window w;
    w.total = 100;
    Encode(input, w, false);
    Encode(input, w, false);
    w.total = INT32_MIN;
    w.reported = 2;
    w.rows = {{0, 0, 0}, {1, 0, 0}};
    Encode(input, w, false);
    add(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const uint32_t areas = data[0] % 102u;  // 0 and 101 are refused
    uint32_t seed;
    std::memcpy(&seed, data + 1, 4);
    gSharedRandomState.SetState(seed);
    FakeLeaderboards board(data + 5, size - 5);
    PCMacProgressData result;
    PCMacProgressAnalyzer analyzer(&board);
    if (!analyzer.StartAnalyze("P", &result, areas)) {
        Check(analyzer.GetState() == PCMacProgressAnalyzer::kIdle, "refused start left a state");
        Check(areas == 0 || areas == 101 || board.downloads >= 1, "refused a valid start without asking");
        return 0;
    }
    Check(areas >= 1 && areas <= 100, "accepted an area count outside 1..100");
    // Downloads that read input consume a byte each; the rest are empty and close one
    // area each (plus the user and friends downloads); each waits at most 3 updates.
    const size_t bound = 5 * (size + areas + 4);
    size_t updates = 0;
    while (!analyzer.Update(&result)) {
        Check(++updates <= bound, "analysis did not end");
    }
    Check(analyzer.GetState() == PCMacProgressAnalyzer::kIdle, "ended outside state 0");
    Check(result.GetAreasNumber() == areas, "area count changed");
    const uint32_t user = result.GetUserAreaIndex();
    Check(user < areas || user == PROGRESS_FINISHED_INDEX || user == PROGRESS_INVALID_INDEX, "user area out of range");
    for (uint32_t i = 0; i < areas; ++i)
        Check(result.GetArea(i)->GetOtherEntriesNumber() <= PCMacAreaProgressData::kMaxOtherEntries, "too many others");
    return 0;
}
