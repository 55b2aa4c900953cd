#include "net/online/PCMacProgressAnalyzer.h"

#include <algorithm>
#include <climits>

#include "core/Log.h"
#include "core/math/MathHelpers.h"
#include "net/online/PCMacProgressData.h"
#include "net/online/SteamLeaderboardsManager.h"

namespace {

// Totals the manager reports are read as 0 .. kMaxTotal: never negative (total - 1 is
// computed), and far enough from the int32 limit that a window's ranks (offset + row)
// never overflow.
constexpr int32_t kMaxTotal = INT32_MAX - 64;

uint32_t StepShared() {
    uint32_t& s = gSharedRandomState.state[0];
    const uint32_t x = s;
    s = x * 214013u + 2531011u;
    return x;
}

}  // namespace

PCMacProgressAnalyzer gPCMacProgressAnalyzer(nullptr);

bool PCMacProgressAnalyzer::StartAnalyze(const char* name, PCMacProgressData* data, uint32_t areaCount) {
    if (state != kIdle || !name || !name[0] || !data || areaCount < 1 || areaCount > kMaxAreas || !leaderboards)
        return false;
    leaderboardName = name;
    probeIndex = 0;
    records.clear();
    recordedRanks.clear();
    windowOffset = 0;
    topSeen = 0;
    endSeen = 0;
    data->Reset(areaCount);
    if (leaderboards->RetrieveLeaderboard(name, RETREQ_AROUNDUSER, 1, 0)) {
        state = kWaitUser;
    } else if (leaderboards->RetrieveLeaderboard(name, RETREQ_FRIENDS, 0, 0)) {
        state = kWaitFriends;
    } else if (!BuildRecords(data)) {
        state = kIdle;
        return false;
    }
    return true;
}

bool PCMacProgressAnalyzer::BuildRecords(PCMacProgressData* data) {
    const uint32_t n = data->GetAreasNumber();
    const int32_t total = std::clamp(leaderboards->GetLeaderboardTotalEntriesNumber(leaderboardName.CStr()), 0, kMaxTotal);
    if (n == 0 || total <= 0) return false;
    records.assign(n, AreaRecord{-1, 0, total - 1});
    if (!StartNextProbe()) return false;
    state = kWaitWindow;
    return true;
}

bool PCMacProgressAnalyzer::StartNextProbe() {
    const int32_t total = std::clamp(leaderboards->GetLeaderboardTotalEntriesNumber(leaderboardName.CStr()), 0, kMaxTotal);
    for (; probeIndex < records.size(); ++probeIndex) {
        const AreaRecord& r = records[probeIndex];
        if (r.lastRank != -1 || !SearchOpen(probeIndex)) continue;
        const int32_t mid = static_cast<int32_t>((static_cast<int64_t>(r.low) + std::max(r.low, r.high)) / 2);
        windowOffset = std::max(0, mid - kWindowLead);
        if (total > 0) windowOffset = std::min(windowOffset, total - 1);
        if (leaderboards->RetrieveLeaderboard(leaderboardName.CStr(), RETREQ_GLOBAL, kWindowEntries, windowOffset)) {
            probedBefore = r;
            return true;
        }
    }
    return false;
}

bool PCMacProgressAnalyzer::Update(PCMacProgressData* data) {
    if (state == kIdle) return true;
    if (!data) return false;
    const uint32_t status = leaderboards->GetLeaderboardRetrieveStatus(leaderboardName.CStr());
    if (status == RETSTATUS_WAIT) return false;
    switch (state) {
    case kWaitUser:
        UpdateUser(data);
        if (leaderboards->RetrieveLeaderboard(leaderboardName.CStr(), RETREQ_FRIENDS, 0, 0)) {
            state = kWaitFriends;
            return false;
        }
        if (BuildRecords(data)) return false;
        Finish(data);
        return true;
    case kWaitFriends:
        UpdateFriends(data);
        if (BuildRecords(data)) return false;
        Finish(data);
        return true;
    case kChooseProbe:
        if (probeIndex < records.size() && StartNextProbe()) {
            state = kWaitWindow;
            return false;
        }
        Finish(data);
        return true;
    case kWaitWindow:
        if (status != RETSTATUS_RETRIEVED) {
            // A failed window closes the probed area's search and moves on.
            if (probeIndex < records.size()) {
                CloseSearch(probeIndex);
                PropagateDeaths(data, static_cast<int32_t>(probeIndex));
            }
            state = kChooseProbe;
            return false;
        }
        UpdateWindow(data);
        state = kChooseProbe;
        return false;
    default:
        Finish(data);
        return true;
    }
}

void PCMacProgressAnalyzer::UpdateUser(PCMacProgressData* data) {
    const char* name = leaderboardName.CStr();
    if (leaderboards->GetLeaderboardRetrieveStatus(name) != RETSTATUS_RETRIEVED) return;
    int32_t userRow = 0;
    if (leaderboards->GetLeaderboardRetrievedEntriesNumber(name, &userRow) != 1) return;
    uint32_t rank = 0;
    const char* persona = nullptr;
    int32_t score = 0;
    bool isFriend = false;
    if (!leaderboards->GetLeaderboardRetrievedEntry(name, 0, &rank, &persona, &score, &isFriend)) return;
    data->userName = persona;
    if (score < 0) return;  // no area; the user stays without one
    data->userAreaIndex = static_cast<uint32_t>(score) >= data->GetAreasNumber() ? PROGRESS_FINISHED_INDEX
                                                                                  : static_cast<uint32_t>(score);
    int32_t detailCount = 0;
    const int32_t* details = nullptr;
    if (leaderboards->GetLeaderboardRetrievedEntryDetails(name, 0, &detailCount, &details) && detailCount > 0)
        data->userValue = details[0];
}

void PCMacProgressAnalyzer::UpdateFriends(PCMacProgressData* data) {
    const char* name = leaderboardName.CStr();
    if (leaderboards->GetLeaderboardRetrieveStatus(name) != RETSTATUS_RETRIEVED) return;
    int32_t userRow = -1;
    const int32_t m = leaderboards->GetLeaderboardRetrievedEntriesNumber(name, &userRow);
    const int32_t n = static_cast<int32_t>(data->GetAreasNumber());
    for (int32_t r = 0; r < m; ++r) {
        if (r == userRow) continue;
        uint32_t rank = 0;
        const char* persona = nullptr;
        int32_t score = 0;
        bool isFriend = false;
        if (!leaderboards->GetLeaderboardRetrievedEntry(name, r, &rank, &persona, &score, &isFriend)) break;
        if (score < 0 || score >= n) continue;
        auto entry = std::make_unique<PCMacProgressEntry>();
        entry->name = persona;
        int32_t detailCount = 0;
        const int32_t* details = nullptr;
        if (leaderboards->GetLeaderboardRetrievedEntryDetails(name, r, &detailCount, &details) && detailCount > 0)
            entry->value = details[0];
        data->areas[static_cast<uint32_t>(score)]->friendEntries.push_back(std::move(entry));
    }
}

void PCMacProgressAnalyzer::UpdateWindow(PCMacProgressData* data) {
    const char* name = leaderboardName.CStr();
    const int32_t n = static_cast<int32_t>(std::min<size_t>(records.size(), data->GetAreasNumber()));
    int32_t userRow = -1;
    const int32_t reported = leaderboards->GetLeaderboardRetrievedEntriesNumber(name, &userRow);
    // The rows of the window, never read past the window's size.
    struct Row {
        const char* persona;
        int32_t score;
        bool isFriend;
        int32_t value;
    };
    Row rows[kWindowEntries];
    int32_t m = 0;
    for (; m < std::min(reported, kWindowEntries); ++m) {
        uint32_t rank = 0;
        Row& row = rows[m];
        row.persona = nullptr;
        row.score = 0;
        row.isFriend = false;
        row.value = 0;
        if (!leaderboards->GetLeaderboardRetrievedEntry(name, m, &rank, &row.persona, &row.score, &row.isFriend))
            break;
        if (m == userRow) row.isFriend = true;
        int32_t detailCount = 0;
        const int32_t* details = nullptr;
        if (leaderboards->GetLeaderboardRetrievedEntryDetails(name, m, &detailCount, &details) && detailCount > 0)
            row.value = details[0];
    }
    const uint32_t probed = probeIndex;
    if (m > 0) {
        const int32_t off = windowOffset;
        const int32_t last = off + m - 1;
        const int32_t total = std::clamp(leaderboards->GetLeaderboardTotalEntriesNumber(name), 0, kMaxTotal);
        const int32_t s0 = rows[0].score;
        const int32_t sL = rows[m - 1].score;
        // 1. The top of the board: no area below the first score has entries.
        if (off == 0 && !topSeen) {
            topSeen = 1;
            for (int32_t a = 0; a < std::min(s0, n); ++a)
                if (records[a].low >= 0) CloseSearch(static_cast<uint32_t>(a));
            if (s0 >= 0) PropagateDeaths(data, s0 - 1);
        }
        // 2. and 3. Narrow the searches of the areas wholly before and after the window.
        for (int32_t a = 0; a < std::min(s0, n); ++a)
            if (records[a].lastRank == -1 && records[a].high > off - 1) records[a].high = off - 1;
        for (int32_t a = std::max(sL + 1, 0); a < n; ++a)
            if (records[a].lastRank == -1 && records[a].low < last + 1) records[a].low = std::min(last + 1, total - 1);
        // 4. The rows in order: every rise of the score ends the previous area.
        RecordOther(data, off, rows[0].score, rows[0].isFriend, rows[0].persona, rows[0].value);
        int32_t prev = s0;
        for (int32_t r = 1; r < m; ++r) {
            const int32_t score = rows[r].score;
            RecordOther(data, off + r, score, rows[r].isFriend, rows[r].persona, rows[r].value);
            if (prev >= 0 && prev < n) {
                AreaRecord& p = records[prev];
                if (score <= prev) {
                    if (p.low <= off + r) p.low = off + r + 1;
                } else {
                    for (int32_t a = prev + 1; a < std::min(score, n); ++a) CloseSearch(static_cast<uint32_t>(a));
                    if (p.lastRank == -1) {
                        p.lastRank = off + r - 1;
                        ComputeDeaths(data, static_cast<uint32_t>(prev));
                        if (prev != 0) PropagateDeaths(data, prev);
                    }
                    if (score < n && records[score].low < off + r) records[score].low = off + r;
                }
            }
            prev = score;
        }
        // 5. The end of the board ends the last score's area and every area above it.
        if (last == total - 1 && sL >= 0 && sL < n) {
            if (records[sL].lastRank == -1) {
                records[sL].lastRank = total - 1;
                ComputeDeaths(data, static_cast<uint32_t>(sL));
                if (sL != 0) PropagateDeaths(data, sL);
            }
            if (!endSeen) {
                endSeen = 1;
                for (int32_t a = sL + 1; a < n; ++a) CloseSearch(static_cast<uint32_t>(a));
            }
        }
    }
    // A window that taught nothing about the probed area ends its search (rows that
    // changed under the analysis could otherwise ask for the same window for ever).
    if (probed < records.size()) {
        const AreaRecord& r = records[probed];
        if (r.lastRank == -1 && r.low == probedBefore.low && r.high == probedBefore.high) {
            CloseSearch(probed);
            PropagateDeaths(data, static_cast<int32_t>(probed));
        }
    }
}

void PCMacProgressAnalyzer::RecordOther(PCMacProgressData* data, int32_t rank, int32_t score, bool isFriend,
                                        const char* persona, int32_t value) {
    if (isFriend || score < 0 || static_cast<uint32_t>(score) >= data->GetAreasNumber()) return;
    if (!recordedRanks.insert(rank).second) return;
    auto& others = data->areas[static_cast<uint32_t>(score)]->otherEntries;
    if (others.size() < PCMacAreaProgressData::kMaxOtherEntries) {
        auto entry = std::make_unique<PCMacProgressEntry>();
        entry->name = persona;
        entry->value = value;
        others.push_back(std::move(entry));
        return;
    }
    const uint32_t x = StepShared();
    if (static_cast<float>(x >> 16) * 1.5258789e-5f > kReplaceProbability) return;
    const uint32_t index = gSharedRandomState.state[0] % static_cast<uint32_t>(others.size());
    StepShared();
    others[index]->name = persona;
    others[index]->value = value;
}

void PCMacProgressAnalyzer::ComputeDeaths(PCMacProgressData* data, uint32_t area) {
    const int32_t L = records[area].lastRank;
    for (int32_t j = static_cast<int32_t>(area) - 1; j >= 0; --j) {
        if (records[j].lastRank != -1) {
            data->areas[area]->deathsNumber = static_cast<uint32_t>(std::max(0, L - records[j].lastRank));
            return;
        }
        if (SearchOpen(static_cast<uint32_t>(j))) return;
    }
    data->areas[area]->deathsNumber = static_cast<uint32_t>(L + 1);
}

void PCMacProgressAnalyzer::PropagateDeaths(PCMacProgressData* data, int32_t area) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(records.size(), data->GetAreasNumber()));
    if (area < -1 || area >= n) return;
    int32_t prev = area >= 0 ? records[area].lastRank : -1;
    for (int32_t k = area + 1; k < n; ++k) {
        const int32_t L = records[k].lastRank;
        if (L >= 0) {
            const uint32_t deaths = static_cast<uint32_t>(std::max(0, L - prev));
            data->areas[k]->deathsNumber = deaths;
            gLog.Print(LogSeverity::Progress, LogCategory::Script, "wyliczylem ilosc smierci dla obszaru %d: %d", k,
                       static_cast<int>(deaths));
            prev = L;
        } else if (SearchOpen(static_cast<uint32_t>(k))) {
            return;
        }
    }
}

void PCMacProgressAnalyzer::CloseSearch(uint32_t area) {
    records[area].low = -1;
    records[area].high = -1;
}

void PCMacProgressAnalyzer::Finish(PCMacProgressData* data) {
    for (uint32_t i = 0; i < data->GetAreasNumber(); ++i) {
        PCMacAreaProgressData* a = data->areas[i].get();
        const uint32_t floor = a->GetFriendsEntriesNumber() + a->GetOtherEntriesNumber() + (i == data->userAreaIndex ? 1u : 0u);
        a->deathsNumber = std::max(a->deathsNumber, floor);
    }
    state = kIdle;
}
