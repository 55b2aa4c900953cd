// Online interfaces: user stats, achievements, leaderboards and cloud files.
#include "platform/online/Online.h"
#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineMessages.h"

#include <cmath>
#include <cstring>

namespace online {

using namespace wire;

namespace {

uint64_t GameId(const ClientCore* core) { return core->config.appId & 0xFFFFFFu; }

ClientCore::Stat* FindStat(ClientCore* core, const char* name) {
    if (!name || !core->statsReceived) return nullptr;
    for (auto& s : core->stats)
        if (s.name == name) return &s;
    return nullptr;
}

std::pair<std::string, bool>* FindAchievement(ClientCore* core, const char* name) {
    if (!name || !core->statsReceived) return nullptr;
    for (auto& a : core->achievements)
        if (a.first == name) return &a;
    return nullptr;
}

}  // namespace

bool OnlineUserStats::RequestCurrentStats() {
    UserStatsReceived received{GameId(core), kResultFail, core->self};
    std::vector<uint8_t> reply;
    Writer w(kGetStats, core->NextSequence());
    if (!core->config.statsFail && core->Call(w, &reply)) {
        Reader r(reply.data(), reply.size(), false);
        const uint32_t result = r.U32();
        std::vector<ClientCore::Stat> stats(r.Count(4096, 9));
        for (auto& s : stats) {
            s.name = r.Text(127);
            s.type = r.U8();
            s.bits = r.U32();
        }
        std::vector<std::pair<std::string, bool>> achievements(r.Count(4096, 5));
        for (auto& a : achievements) {
            a.first = r.Text(127);
            a.second = r.U8() != 0;
        }
        if (!r.Failed() && r.AtEnd() && result == kResultOK) {
            received.result = kResultOK;
            std::lock_guard<std::mutex> lock(core->state);
            core->stats = std::move(stats);
            core->achievements = std::move(achievements);
            core->statsReceived = true;
        }
    }
    std::lock_guard<std::mutex> lock(core->state);
    core->Queue(UserStatsReceived::kCallbackId, 0, &received, sizeof received);
    return core->connected;
}

bool OnlineUserStats::GetStat(const char* name, int32_t* value) {
    std::lock_guard<std::mutex> lock(core->state);
    ClientCore::Stat* s = FindStat(core, name);
    if (!s || s->type != 0 || !value) return false;
    *value = static_cast<int32_t>(s->bits);
    return true;
}

bool OnlineUserStats::GetStat(const char* name, float* value) {
    std::lock_guard<std::mutex> lock(core->state);
    ClientCore::Stat* s = FindStat(core, name);
    if (!s || s->type != 1 || !value) return false;
    std::memcpy(value, &s->bits, 4);
    return true;
}

bool OnlineUserStats::SetStat(const char* name, int32_t value) {
    std::lock_guard<std::mutex> lock(core->state);
    ClientCore::Stat* s = FindStat(core, name);
    if (!s || s->type != 0) return false;
    s->bits = static_cast<uint32_t>(value);
    return true;
}

bool OnlineUserStats::SetStat(const char* name, float value) {
    if (!std::isfinite(value)) return false;  // the stats hold finite values only
    std::lock_guard<std::mutex> lock(core->state);
    ClientCore::Stat* s = FindStat(core, name);
    if (!s || s->type != 1) return false;
    std::memcpy(&s->bits, &value, 4);
    return true;
}

bool OnlineUserStats::GetAchievement(const char* name, bool* achieved) {
    std::lock_guard<std::mutex> lock(core->state);
    auto* a = FindAchievement(core, name);
    if (!a || !achieved) return false;
    *achieved = a->second;
    return true;
}

bool OnlineUserStats::SetAchievement(const char* name) {
    std::lock_guard<std::mutex> lock(core->state);
    auto* a = FindAchievement(core, name);
    if (!a) return false;
    a->second = true;
    return true;
}

bool OnlineUserStats::ClearAchievement(const char* name) {
    std::lock_guard<std::mutex> lock(core->state);
    auto* a = FindAchievement(core, name);
    if (!a) return false;
    a->second = false;
    return true;
}

bool OnlineUserStats::IndicateAchievementProgress(const char* name, uint32_t current, uint32_t max) {
    std::lock_guard<std::mutex> lock(core->state);
    auto* a = FindAchievement(core, name);
    if (!a || a->second || current >= max) return false;
    UserAchievementStored s{};
    s.gameId = GameId(core);
    std::strncpy(s.achievementName, name, sizeof s.achievementName - 1);
    s.curProgress = current;
    s.maxProgress = max;
    core->Queue(UserAchievementStored::kCallbackId, 0, &s, sizeof s);
    return true;
}

bool OnlineUserStats::StoreStats() {
    Writer w(kStoreStats, core->NextSequence());
    {
        std::lock_guard<std::mutex> lock(core->state);
        if (!core->statsReceived) return false;
        w.U32(static_cast<uint32_t>(core->stats.size()));
        for (const auto& s : core->stats) w.Text(s.name).U8(static_cast<uint8_t>(s.type)).U32(s.bits);
        w.U32(static_cast<uint32_t>(core->achievements.size()));
        for (const auto& [name, unlocked] : core->achievements) w.Text(name).U8(unlocked ? 1 : 0);
    }
    std::vector<uint8_t> reply;
    if (!core->Call(w, &reply)) return false;
    Reader r(reply.data(), reply.size(), false);
    UserStatsStored stored{GameId(core), r.U32()};
    std::vector<std::string> newly(r.Count(4096, 4));
    for (auto& n : newly) n = r.Text(127);
    if (r.Failed() || !r.AtEnd()) return false;
    std::lock_guard<std::mutex> lock(core->state);
    core->Queue(UserStatsStored::kCallbackId, 0, &stored, sizeof stored);
    for (const std::string& n : newly) {
        UserAchievementStored a{};
        a.gameId = GameId(core);
        std::strncpy(a.achievementName, n.c_str(), sizeof a.achievementName - 1);
        core->Queue(UserAchievementStored::kCallbackId, 0, &a, sizeof a);
    }
    return true;
}

CallHandle OnlineUserStats::FindLeaderboard(const char* name) {
    if (!name || !*name || std::strlen(name) > kMaxName || !core->connected) return 0;
    const CallHandle call = core->NewCall(LeaderboardFindResult::kCallbackId);
    Writer w = EncodeFindLeaderboard({call, name});
    core->Post(w);
    return call;
}

const char* OnlineUserStats::GetLeaderboardName(LeaderboardHandle leaderboard) {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(core->state);
        auto it = core->boards.find(leaderboard);
        if (it == core->boards.end()) return nullptr;
        name = it->second.name;
    }
    return core->KeepText(name);
}

int OnlineUserStats::GetLeaderboardEntryCount(LeaderboardHandle leaderboard) {
    std::lock_guard<std::mutex> lock(core->state);
    auto it = core->boards.find(leaderboard);
    return it == core->boards.end() ? 0 : it->second.count;
}

CallHandle OnlineUserStats::DownloadLeaderboardEntries(LeaderboardHandle leaderboard, int32_t request, int start, int end) {
    if (!leaderboard || request < kLeaderboardGlobal || request > kLeaderboardFriends || !core->connected) return 0;
    const CallHandle call = core->NewCall(LeaderboardScoresDownloaded::kCallbackId);
    Writer w = EncodeDownloadEntries({call, leaderboard, request, start, end});
    core->Post(w);
    return call;
}

bool OnlineUserStats::GetDownloadedLeaderboardEntry(LeaderboardEntriesHandle entries, int index, LeaderboardEntry* entry,
                                                    int32_t* details, int maxDetails) {
    std::lock_guard<std::mutex> lock(core->state);
    auto it = core->downloads.find(entries);
    if (it == core->downloads.end() || index < 0 || index >= static_cast<int>(it->second.entries.size())) return false;
    if (entry) *entry = it->second.entries[index];
    const auto& d = it->second.details[index];
    if (details)
        for (int i = 0; i < maxDetails && i < static_cast<int>(d.size()); ++i) details[i] = d[i];
    return true;
}

CallHandle OnlineUserStats::UploadLeaderboardScore(LeaderboardHandle leaderboard, int32_t method, int32_t score,
                                                   const int32_t* details, int detailCount) {
    if (!leaderboard || detailCount < 0 || detailCount > kMaxLeaderboardDetails || (detailCount && !details) ||
        !core->connected)
        return 0;
    const CallHandle call = core->NewCall(LeaderboardScoreUploaded::kCallbackId);
    Writer w = EncodeUploadScore({call, leaderboard, method, score, std::vector<int32_t>(details, details + detailCount)});
    core->Post(w);
    return call;
}

// ---- Cloud files ----

namespace {

bool ReadCloud(ClientCore* core, const char* name, std::vector<uint8_t>* data) {
    if (!name || !*name || std::strlen(name) > kMaxName) return false;
    Writer w(kFileRead, core->NextSequence());
    w.Text(name);
    std::vector<uint8_t> reply;
    if (!core->Call(w, &reply)) return false;
    Reader r(reply.data(), reply.size(), false);
    const bool exists = r.U8() != 0;
    uint32_t n = 0;
    const uint8_t* bytes = r.Bytes(kMaxCloudFile, &n);
    if (r.Failed() || !r.AtEnd() || !exists) return false;
    data->assign(bytes, bytes + n);
    return true;
}

}  // namespace

bool OnlineRemoteStorage::FileExists(const char* name) {
    std::vector<uint8_t> data;
    return ReadCloud(core, name, &data);
}

int32_t OnlineRemoteStorage::GetFileSize(const char* name) {
    std::vector<uint8_t> data;
    return ReadCloud(core, name, &data) ? static_cast<int32_t>(data.size()) : 0;
}

int32_t OnlineRemoteStorage::FileRead(const char* name, void* buffer, int32_t capacity) {
    std::vector<uint8_t> data;
    if (!buffer || capacity <= 0 || !ReadCloud(core, name, &data)) return 0;
    const int32_t n = std::min<int32_t>(capacity, static_cast<int32_t>(data.size()));
    std::memcpy(buffer, data.data(), static_cast<size_t>(n));
    return n;
}

bool OnlineRemoteStorage::FileWrite(const char* name, const void* data, int32_t size) {
    if (!name || !*name || std::strlen(name) > kMaxName || size < 0 || static_cast<uint32_t>(size) > kMaxCloudFile ||
        (size && !data))
        return false;
    Writer w(kFileWrite, core->NextSequence());
    w.Text(name).Bytes(data, static_cast<size_t>(size));
    std::vector<uint8_t> reply;
    if (!core->Call(w, &reply)) return false;
    Reader r(reply.data(), reply.size(), false);
    const bool ok = r.U8() != 0;
    return ok && !r.Failed() && r.AtEnd();
}

}  // namespace online
