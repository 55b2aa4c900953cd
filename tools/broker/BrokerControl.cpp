// Control commands on the broker's durable state, and the client side of a control
// exchange (online_broker ctl).
#include "tools/broker/BrokerControl.h"

#include "platform/online/OnlineSocket.h"
#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineTypes.h"
#include "platform/online/OnlineWire.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace online {

namespace {

constexpr size_t kMaxAnswer = wire::kMaxFrame - 64;  // an answer fits one reply frame
constexpr int kControlWaitMs = 5000;

bool ParseInt(const std::string& text, long long lo, long long hi, long long* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (!end || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool ParseAccount(const std::string& text, uint32_t* account) {
    long long v = 0;
    if (!ParseInt(text, 1, 0xFFFFFFFFll, &v)) return false;
    *account = static_cast<uint32_t>(v);
    return true;
}

// One seed line; false when it is malformed or the store refuses it.
bool SeedLine(BrokerStore& store, const std::string& line, const std::vector<std::string>& w) {
    uint32_t a = 0, b = 0;
    if (w[0] == "user" && w.size() >= 3 && ParseAccount(w[1], &a)) {
        // The persona is the rest of the line (UTF-8, may hold blanks).
        std::string persona = line.substr(line.find(w[2], line.find(w[1]) + w[1].size()));
        while (!persona.empty() && (persona.back() == '\r' || persona.back() == ' ')) persona.pop_back();
        return persona.size() <= wire::kMaxName && store.PutUser(a, persona);
    }
    if (w[0] == "friends" && w.size() == 3 && ParseAccount(w[1], &a) && ParseAccount(w[2], &b))
        return store.AddFriends(a, b);
    if (w[0] == "leaderboard" && w.size() == 3 && w[1].size() <= wire::kMaxName &&
        (w[2] == "ascending" || w[2] == "descending"))
        return store.DefineBoard(w[1], w[2] == "ascending" ? kSortAscending : kSortDescending);
    long long score = 0;
    if (w[0] == "score" && w.size() >= 4 && w.size() <= 4 + kMaxLeaderboardDetails && ParseAccount(w[2], &a) &&
        ParseInt(w[3], INT32_MIN, INT32_MAX, &score)) {
        StoredScore e{a, static_cast<int32_t>(score), {}};
        for (size_t i = 4; i < w.size(); ++i) {
            long long d = 0;
            if (!ParseInt(w[i], INT32_MIN, INT32_MAX, &d)) return false;
            e.details.push_back(static_cast<int32_t>(d));
        }
        const int64_t board = store.FindBoard(w[1], true, nullptr);
        return board && store.PutScore(board, e);
    }
    return false;
}

bool Seed(BrokerStore& store, const std::string& text, std::string* answer) {
    std::istringstream in(text);
    std::string line;
    int lineNo = 0, applied = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty() || w[0][0] == '#') continue;
        if (!SeedLine(store, line, w)) {
            *answer = "seed line " + std::to_string(lineNo) + " refused";
            return false;
        }
        ++applied;
    }
    *answer = std::to_string(applied) + " lines applied";
    return true;
}

// A stored stat value as a JSON number: null for one that is not finite (the store
// refuses those now; older data may hold them).
std::string JsonNumber(const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(v) ? text : "null";
}

bool Stats(BrokerStore& store, const std::string& argument, std::string* answer) {
    uint32_t account = 0;
    if (!ParseAccount(argument, &account)) return false;
    std::string out = "{\"stats\":{";
    const char* comma = "";
    for (auto& [n, v] : store.LoadStats(account)) {
        out += comma + ("\"" + n + "\":") + JsonNumber(v);
        comma = ",";
    }
    out += "},\"achievements\":{";
    comma = "";
    for (auto& [n, u] : store.LoadAchievements(account)) {
        out += comma + ("\"" + n + "\":") + std::to_string(u);
        comma = ",";
    }
    *answer = out + "}}";
    return true;
}

bool Leaderboard(BrokerStore& store, const std::string& argument, std::string* answer) {
    const int64_t board = store.FindBoard(argument, false, nullptr);
    if (!board) return false;
    int rank = 0;
    for (const StoredScore& e : store.Ranked(board)) {
        const std::string line =
            std::to_string(++rank) + " " + std::to_string(e.account) + " " + std::to_string(e.score) + "\n";
        if (answer->size() + line.size() > kMaxAnswer) break;
        *answer += line;
    }
    return true;
}

bool File(BrokerStore& store, const std::string& argument, std::string* answer) {
    const size_t slash = argument.find('/');
    uint32_t account = 0;
    std::vector<uint8_t> data;
    if (slash == std::string::npos || !ParseAccount(argument.substr(0, slash), &account) ||
        !store.ReadFile(account, argument.substr(slash + 1), &data))
        return false;
    answer->assign(data.begin(), data.end());
    return true;
}

struct Command {
    const char* name;
    bool (*run)(BrokerStore& store, const std::string& argument, std::string* answer);
};

constexpr Command kCommands[] = {{"seed", Seed}, {"stats", Stats}, {"leaderboard", Leaderboard}, {"file", File}};

}  // namespace

bool RunControl(BrokerStore& store, const std::string& command, const std::string& argument, std::string* answer) {
    answer->clear();
    for (const Command& c : kCommands)
        if (command == c.name) return c.run(store, argument, answer);
    *answer = "unknown control command";
    return false;
}

bool ControlBroker(const std::string& folder, const std::string& command, const std::string& argument,
                   std::string* answer, std::string* error) {
    const SocketHandle socket = ConnectBroker(folder, error);
    if (socket < 0) return false;
    wire::Writer w(wire::kControl, 1);
    w.Text(command).Bytes(argument.data(), argument.size());
    bool ok = SocketSendAll(socket, w.Frame().data(), w.Frame().size());
    wire::FrameSplitter splitter;
    std::vector<uint8_t> body;
    std::vector<uint8_t> buf(65536);
    bool done = false;
    std::vector<PollItem> poll(1);
    poll[0].handle = socket;
    poll[0].wantRead = true;
    // Bounded wait: polls of 100 ms.
    for (int waited = 0; ok && !done && waited < kControlWaitMs; waited += 100) {
        if (!PollSockets(poll, 100) || !poll[0].readable) continue;
        const long n = SocketReceive(socket, buf.data(), buf.size());
        if (n <= 0 || !splitter.Push(buf.data(), static_cast<size_t>(n))) break;
        while (!done && splitter.Next(body)) {
            wire::Reader r(body.data(), body.size());
            if (r.MessageKind() != wire::kReply) continue;
            ok = r.U8() != 0;
            uint32_t size = 0;
            const uint8_t* text = r.Bytes(wire::kMaxFrame, &size);
            if (r.Failed()) ok = false;
            else if (answer) answer->assign(reinterpret_cast<const char*>(text), size);
            done = true;
        }
    }
    SocketClose(socket);
    if (!done && error) *error = "the broker did not answer";
    return done && ok;
}

}  // namespace online
