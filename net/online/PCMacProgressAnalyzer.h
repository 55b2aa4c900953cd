#pragma once
// PCMacProgressAnalyzer: how many players stopped in each progress area of a level, and
// which friends and other players did, from a leaderboard whose scores are area indices
// (rank order, scores not decreasing; a score at or above the area count means finished).
//
// A script starts it and calls Update each frame until it answers true. It never
// downloads the whole board: for every area it looks for the rank of the last entry with
// that area as score by bisection with 20-entry windows between a low and a high rank.
//
// The rows are untrusted: scores may be anything and change between windows. No score
// outside [0, area count) indexes an area, window offsets stay inside the board, and a
// probe that leaves its area's search range unchanged closes that search, so every
// analysis ends. A failed window goes back to choosing a probe.
//
// Threads: main thread only (reads and steps gSharedRandomState).
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "core/text/NameString.h"

class PCMacProgressData;
class SteamLeaderboardsManager;

class PCMacProgressAnalyzer {
public:
    enum State : uint32_t { kIdle = 0, kWaitUser = 1, kWaitFriends = 2, kChooseProbe = 3, kWaitWindow = 4 };
    static constexpr int32_t kWindowEntries = 20;
    static constexpr int32_t kWindowLead = 10;
    static constexpr uint32_t kMaxAreas = 100;
    static constexpr float kReplaceProbability = 0.1f;

    struct AreaRecord {
        int32_t lastRank;
        int32_t low;
        int32_t high;
    };
    static_assert(sizeof(AreaRecord) == 12);

    explicit PCMacProgressAnalyzer(SteamLeaderboardsManager* leaderboards) : leaderboards(leaderboards) {}
    // A copy copies every field, the leaderboard client included.
    PCMacProgressAnalyzer(const PCMacProgressAnalyzer&) = default;
    PCMacProgressAnalyzer& operator=(const PCMacProgressAnalyzer&) = default;

    bool StartAnalyze(const char* leaderboardName, PCMacProgressData* data, uint32_t areaCount);
    bool Update(PCMacProgressData* data);
    bool IsAreaAnalyzed(uint32_t areaIndex) const { return areaIndex < probeIndex; }

    uint32_t GetState() const { return state; }
    const std::vector<AreaRecord>& GetAreaRecords() const { return records; }

private:
    bool BuildRecords(PCMacProgressData* data);
    bool StartNextProbe();
    void Finish(PCMacProgressData* data);
    void UpdateUser(PCMacProgressData* data);
    void UpdateFriends(PCMacProgressData* data);
    void UpdateWindow(PCMacProgressData* data);
    void RecordOther(PCMacProgressData* data, int32_t rank, int32_t score, bool isFriend, const char* persona,
                     int32_t value);
    void ComputeDeaths(PCMacProgressData* data, uint32_t area);
    void PropagateDeaths(PCMacProgressData* data, int32_t area);
    void CloseSearch(uint32_t area);
    // Open while low <= high + 1: low = high + 1 still asks whether rank high is the
    // area's last entry (a window ending at high cannot tell).
    bool SearchOpen(uint32_t area) const {
        return records[area].low >= 0 && static_cast<int64_t>(records[area].low) <= static_cast<int64_t>(records[area].high) + 1;
    }

    SteamLeaderboardsManager* leaderboards;
    uint32_t state = kIdle;
    NameString leaderboardName;
    uint32_t probeIndex = 0;
    std::vector<AreaRecord> records;
    int32_t windowOffset = 0;
    // The search range of the probed area when its window was asked for (a probe that
    // leaves it unchanged closes the search).
    AreaRecord probedBefore = {-1, -1, -1};
    // Ranks already recorded as other entries: windows overlap, and a row seen twice
    // counts once.
    std::unordered_set<int32_t> recordedRanks;
    uint8_t topSeen = 0;
    uint8_t endSeen = 0;
};

// The analyzer scripts copy (PCMacProgressAnalyzer.Instance). It has no leaderboards, so
// every copy refuses to start, until its owner assigns it one made over a manager (the
// game's delegate, over its profile module's manager, while that manager lives).
extern PCMacProgressAnalyzer gPCMacProgressAnalyzer;
