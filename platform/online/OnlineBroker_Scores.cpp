// Broker: stats and achievements against the schema, leaderboards and cloud files.
// Every change is committed before it is answered (AnswerWrite).
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineBrokerImpl.h"
#include "platform/online/OnlineMessages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace online {

using namespace wire;

namespace {

constexpr size_t kMaxSchemaBytes = 1 << 20;
constexpr int32_t kMaxDownload = 5000;
// Every answer fits one frame.
static_assert(5 + 4 + 4 + 4 + kMaxSchemaEntries * (4 + kMaxStatName + 1 + 4) <= kMaxFrame, "stats answer");
static_assert(5 + 8 + 8 + 4 + 4 + kMaxDownload * (8 + 4 + kMaxName + 4 + 4 + 4 + 4 * kMaxLeaderboardDetails) <= kMaxFrame,
              "leaderboard entries answer");
static_assert(5 + 1 + 4 + kMaxCloudFile <= kMaxFrame, "cloud file answer");

std::string StatText(int type, uint32_t bits) {
    char buf[48];
    if (type == 1) {
        float f;
        std::memcpy(&f, &bits, 4);
        std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
    } else {
        std::snprintf(buf, sizeof buf, "%d", static_cast<int32_t>(bits));
    }
    return buf;
}

bool FiniteBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return std::isfinite(f);
}

uint32_t StatBits(int type, const std::string& text) {
    if (type == 1) {
        float f = std::strtof(text.c_str(), nullptr);
        if (!std::isfinite(f)) f = 0;  // stored before non-finite values were refused
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        return bits;
    }
    return static_cast<uint32_t>(static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10)));
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}


}  // namespace

bool StatsSchema::Parse(const char* text, size_t size, std::string* error) {
    stats.clear();
    achievements.clear();
    if (size > kMaxSchemaBytes) {
        if (error) *error = "schema larger than 1 MiB";
        return false;
    }
    std::istringstream in(std::string(text, size));
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        const std::vector<std::string> w = Words(line);
        if (w.empty() || w[0][0] == '#') continue;
        const bool statLine = w[0] == "stat" && w.size() == 3 && (w[2] == "int" || w[2] == "float");
        const bool achLine = w[0] == "achievement" && w.size() == 2;
        if ((!statLine && !achLine) || w[1].size() > kMaxStatName ||
            stats.size() + achievements.size() >= kMaxSchemaEntries) {
            if (error) *error = "schema line " + std::to_string(lineNo) + " is malformed";
            stats.clear();
            achievements.clear();
            return false;
        }
        if (statLine) stats.push_back(StatDef{w[1], w[2] == "float" ? 1 : 0});
        else achievements.push_back(w[1]);
    }
    return true;
}

bool StatsSchema::Load(const std::string& path, std::string* error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (error) *error = "cannot read schema " + path;
        return false;
    }
    std::string text(kMaxSchemaBytes + 1, '\0');
    f.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(f.gcount()));
    return Parse(text.data(), text.size(), error);
}

const StatDef* StatsSchema::FindStat(const std::string& name) const {
    for (const StatDef& s : stats)
        if (s.name == name) return &s;
    return nullptr;
}

bool StatsSchema::HasAchievement(const std::string& name) const {
    return std::find(achievements.begin(), achievements.end(), name) != achievements.end();
}

const BrokerCore::Impl::Board* BrokerCore::Impl::RankedBoard(int64_t id) {
    auto it = boards.find(id);
    if (it != boards.end()) return &it->second;
    Board b;
    if (id <= 0 || store.BoardName(id, &b.sort).empty()) return nullptr;
    b.ranked = store.Ranked(id);
    return &(boards[id] = std::move(b));
}

void BrokerCore::Impl::PutRanked(int64_t id, const StoredScore& score) {
    auto it = boards.find(id);
    if (it == boards.end()) return;
    std::vector<StoredScore>& ranked = it->second.ranked;
    ranked.erase(std::remove_if(ranked.begin(), ranked.end(), [&](const StoredScore& e) { return e.account == score.account; }),
                 ranked.end());
    // After every entry as good: the newest upload goes last among equals.
    const bool ascending = it->second.sort == kSortAscending;
    auto at = std::find_if(ranked.begin(), ranked.end(),
                           [&](const StoredScore& e) { return ascending ? e.score > score.score : e.score < score.score; });
    ranked.insert(at, score);
}

bool BrokerCore::Impl::HandleScores(Session& s, Kind kind, Reader& r) {
    const uint32_t account = AccountOf(s.user);
    switch (kind) {
    case kGetStats: {
        if (!r.AtEnd()) return false;
        std::map<std::string, std::string> values;
        for (auto& [n, v] : store.LoadStats(account)) values[n] = v;
        std::map<std::string, int> unlocked;
        for (auto& [n, u] : store.LoadAchievements(account)) unlocked[n] = u;
        Writer w(kReply, r.Sequence());
        w.U32(kResultOK).U32(static_cast<uint32_t>(schema.stats.size()));
        for (const StatDef& d : schema.stats) {
            auto it = values.find(d.name);
            w.Text(d.name).U8(static_cast<uint8_t>(d.type)).U32(it == values.end() ? 0 : StatBits(d.type, it->second));
        }
        w.U32(static_cast<uint32_t>(schema.achievements.size()));
        for (const std::string& a : schema.achievements) w.Text(a).U8(unlocked.count(a) && unlocked[a] ? 1 : 0);
        Send(s.id, w);
        return true;
    }
    case kStoreStats: {
        std::vector<std::pair<std::string, std::string>> stats;
        std::vector<std::pair<std::string, int>> achievements;
        bool valid = true;
        const uint32_t ns = r.Count(kMaxSchemaEntries, 9);
        for (uint32_t i = 0; i < ns && !r.Failed(); ++i) {
            std::string name = r.Text(kMaxStatName);
            const int type = r.U8();
            const uint32_t bits = r.U32();
            const StatDef* def = schema.FindStat(name);
            // Unknown or wrong-type stats are refused, and so are non-finite floats.
            valid = valid && def && def->type == type && (type != 1 || FiniteBits(bits));
            stats.emplace_back(name, StatText(type, bits));
        }
        const uint32_t na = r.Count(kMaxSchemaEntries, 5);
        for (uint32_t i = 0; i < na && !r.Failed(); ++i) {
            std::string name = r.Text(kMaxStatName);
            const int u = r.U8() ? 1 : 0;
            valid = valid && schema.HasAchievement(name);
            achievements.emplace_back(name, u);
        }
        if (r.Failed() || !r.AtEnd()) return false;
        Writer w(kReply, r.Sequence());
        if (!valid) {
            w.U32(kResultInvalidParam).U32(0);
            Send(s.id, w);
            return true;
        }
        std::map<std::string, int> before;
        for (auto& [n, u] : store.LoadAchievements(account)) before[n] = u;
        std::vector<std::string> newly;
        for (const auto& [n, u] : achievements)
            if (u && !(before.count(n) && before[n])) newly.push_back(n);
        const bool taken = store.SaveStats(account, stats, achievements);
        w.U32(kResultOK).U32(static_cast<uint32_t>(newly.size()));
        for (const std::string& n : newly) w.Text(n);
        Writer failed(kReply, r.Sequence());
        failed.U32(kResultFail).U32(0);
        AnswerWrite(s.id, taken, w, failed);
        return true;
    }
    case kFindLeaderboard: {
        const CallHandle call = r.U64();
        std::string name = r.Text(kMaxName);
        if (r.Failed() || !r.AtEnd()) return false;
        // A board found by a new name is made: a write.
        int64_t board = name.empty() ? 0 : store.FindBoard(name, false, nullptr);
        const bool known = board != 0;
        if (!known && !name.empty()) board = store.FindBoard(name, true, nullptr);
        Writer w(kLeaderboardInfo);
        w.U64(call).U64(static_cast<uint64_t>(board)).Text(name);
        const Board* ranked = board ? RankedBoard(board) : nullptr;
        w.I32(ranked ? static_cast<int32_t>(ranked->ranked.size()) : 0).U8(board ? 1 : 0);
        if (known || name.empty()) {
            Send(s.id, w);
            return true;
        }
        Writer failed(kLeaderboardInfo);
        failed.U64(call).U64(0).Text(name).I32(0).U8(0);
        AnswerWrite(s.id, board != 0, w, failed);
        return true;
    }
    case kDownloadEntries: {
        const CallHandle call = r.U64();
        const int64_t board = static_cast<int64_t>(r.U64());
        const int32_t request = r.I32();
        const int32_t start = r.I32();
        const int32_t end = r.I32();
        if (r.Failed() || !r.AtEnd()) return false;
        const Board* found = RankedBoard(board);
        const bool known = found != nullptr;
        const std::vector<StoredScore> none;
        const std::vector<StoredScore>& ranked = known ? found->ranked : none;
        const int64_t n = static_cast<int64_t>(ranked.size());
        std::vector<int64_t> rows;  // 0-based indices into ranked
        auto userIndex = [&](uint32_t acc) -> int64_t {
            for (int64_t i = 0; i < n; ++i)
                if (ranked[i].account == acc) return i;
            return -1;
        };
        if (request == kLeaderboardGlobal) {
            for (int64_t i = std::max<int64_t>(start, 1) - 1; i < std::min<int64_t>(end, n); ++i) rows.push_back(i);
        } else if (request == kLeaderboardAroundUser) {
            const int64_t u = userIndex(account);
            if (u >= 0)
                for (int64_t i = std::max<int64_t>(u + start, 0); i <= std::min<int64_t>(u + end, n - 1); ++i)
                    rows.push_back(i);
        } else if (request == kLeaderboardFriends) {
            const std::vector<uint32_t> friends = store.Friends(account);
            for (int64_t i = 0; i < n; ++i)
                if (ranked[i].account == account ||
                    std::find(friends.begin(), friends.end(), ranked[i].account) != friends.end())
                    rows.push_back(i);
        }
        if (static_cast<int64_t>(rows.size()) > kMaxDownload) rows.resize(kMaxDownload);
        Writer w(kEntries);
        w.U64(call).U64(known ? static_cast<uint64_t>(board) : 0).I32(static_cast<int32_t>(n));
        w.U32(static_cast<uint32_t>(rows.size()));
        for (int64_t i : rows) {
            const StoredScore& e = ranked[i];
            w.U64(MakeUserId(e.account)).Text(PersonaOf(e.account)).I32(static_cast<int32_t>(i + 1)).I32(e.score);
            w.U32(static_cast<uint32_t>(e.details.size()));
            for (int32_t d : e.details) w.I32(d);
        }
        Send(s.id, w);
        return true;
    }
    case kUploadScore: {
        const CallHandle call = r.U64();
        const int64_t board = static_cast<int64_t>(r.U64());
        const int32_t method = r.I32();
        const int32_t score = r.I32();
        std::vector<int32_t> details(r.Count(kMaxLeaderboardDetails, 4));
        for (int32_t& d : details) d = r.I32();
        if (r.Failed() || !r.AtEnd()) return false;
        const Board* found = RankedBoard(board);
        const bool known = found != nullptr;
        const int32_t sort = known ? found->sort : kSortDescending;
        Writer w(kScoreUploaded);
        w.U64(call);
        if (!known || (method != kUploadKeepBest && method != kUploadForceUpdate)) {
            w.U8(0).U64(static_cast<uint64_t>(board)).I32(score).U8(0).I32(0).I32(0).I32(0);
            Send(s.id, w);
            return true;
        }
        const std::vector<StoredScore>& ranked = found->ranked;
        const size_t before = ranked.size();
        int32_t previous = 0;
        bool had = false;
        int32_t oldScore = 0;
        for (size_t i = 0; i < ranked.size(); ++i)
            if (ranked[i].account == account) previous = static_cast<int32_t>(i + 1), had = true, oldScore = ranked[i].score;
        // Keep-best follows the sort: a lower score is better on an ascending board.
        const bool better = !had || (sort == kSortAscending ? score < oldScore : score > oldScore);
        const bool replace = method == kUploadForceUpdate || better;
        bool ok = true;
        bool changed = false;
        if (replace) {
            changed = !had || oldScore != score;
            const StoredScore entry{account, score, details};
            ok = store.PutScore(board, entry);
            if (ok) PutRanked(board, entry);
        }
        int32_t rankNow = 0;
        for (size_t i = 0; i < ranked.size(); ++i)
            if (ranked[i].account == account) rankNow = static_cast<int32_t>(i + 1);
        w.U8(ok ? 1 : 0).U64(static_cast<uint64_t>(board)).I32(score).U8(changed && ok ? 1 : 0);
        w.I32(rankNow).I32(previous).I32(static_cast<int32_t>(ranked.size()));
        if (!replace) {
            Send(s.id, w);
            return true;
        }
        // Failed: the board as it was.
        Writer failed(kScoreUploaded);
        failed.U64(call).U8(0).U64(static_cast<uint64_t>(board)).I32(score).U8(0).I32(previous).I32(previous);
        failed.I32(static_cast<int32_t>(before));
        AnswerWrite(s.id, ok, w, failed);
        return true;
    }
    case kFileWrite: {
        std::string name = r.Text(kMaxName);
        uint32_t n = 0;
        const uint8_t* data = r.Bytes(kMaxCloudFile, &n);
        if (r.Failed() || !r.AtEnd()) return false;
        const bool taken = !name.empty() && store.WriteFile(account, name, data, n);
        Writer w(kReply, r.Sequence());
        w.U8(1);
        Writer failed(kReply, r.Sequence());
        failed.U8(0);
        AnswerWrite(s.id, taken, w, failed);
        return true;
    }
    case kFileRead: {
        std::string name = r.Text(kMaxName);
        if (r.Failed() || !r.AtEnd()) return false;
        std::vector<uint8_t> data;
        const bool exists = !name.empty() && store.ReadFile(account, name, &data);
        Writer w(kReply, r.Sequence());
        w.U8(exists ? 1 : 0).Bytes(data.data(), data.size());
        Send(s.id, w);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace online
