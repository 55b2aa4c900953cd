// Online client core: the broker conversation, the caches its messages fill, and the
// callback queue that RunCallbacks drains on the pumping thread.
//
// Data flow: the transport hands every broker frame to OnFrame (socket reader thread,
// or the in-process broker's caller). OnFrame checks the whole message, updates the
// caches and queues callback records. RunCallbacks runs them in arrival order; a call
// result whose call nobody has bound yet holds the queue for a few pumps (the caller
// binds it right after the call returns), so a result and the callbacks that follow it
// keep their order. Interface calls read the caches or ask the broker synchronously.
#include "platform/online/OnlineClientCore.h"

#include "platform/os/Clock.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace online {

using namespace wire;

namespace {

constexpr int kHoldPumps = 4;          // pumps a result waits for its binding before others pass
constexpr uint64_t kUnclaimedPumps = 1000;
constexpr size_t kMaxUnclaimed = 256;
constexpr size_t kMaxChatEntries = 256;
constexpr size_t kMaxHeldPackets = 4096;
constexpr size_t kMaxReadyPackets = 65536;
constexpr size_t kMaxDownloads = 32;
constexpr auto kReplyTimeout = std::chrono::seconds(10);

thread_local std::string tKept[8];
thread_local unsigned tKeptNext = 0;

}  // namespace

ClientCore::ClientCore(const ClientConfig& config)
    : config(config), self(MakeUserId(config.account)), rng(config.randomSeed ? config.randomSeed : 1) {}

ClientCore::~ClientCore() { Stop(); }

const char* ClientCore::KeepText(const std::string& text) {
    std::string& slot = tKept[tKeptNext++ % 8];
    slot = text;
    return slot.c_str();
}

void ClientCore::Warn(int severity, const char* fmt, ...) {
    WarningHook h;
    {
        std::lock_guard<std::mutex> lock(state);
        h = hook;
    }
    if (!h) return;
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    h(severity, text);
}

uint32_t ClientCore::Random(uint32_t below) {
    rng = rng * 6364136223846793005ull + 1442695040888963407ull;
    return below ? static_cast<uint32_t>(rng >> 33) % below : 0;
}

bool ClientCore::Start(std::unique_ptr<Transport> t, std::string* error, bool* unanswered, std::chrono::milliseconds replyLimit) {
    if (unanswered) *unanswered = false;
    transport = std::move(t);
    connected = true;
    Writer hello(kHello, NextSequence());
    hello.U32(config.account).Text(config.persona).U32(config.appId).Text(config.language);
    std::vector<uint8_t> reply;
    if (!Call(hello, &reply, replyLimit)) {
        // A refused answer comes again with the same secret: no reason to try again.
        const bool refused = answerRefused;
        if (error)
            *error = refused ? "the broker at " + config.brokerAddress + " refused our answer to its challenge: its secret is another"
                             : "the broker did not answer";
        if (unanswered) *unanswered = !refused;
        Stop();
        return false;
    }
    Reader r(reply.data(), reply.size(), false);
    const uint8_t ok = r.U8();
    const uint32_t n = r.Count(100000, 12);
    std::lock_guard<std::mutex> lock(state);
    for (uint32_t i = 0; i < n && !r.Failed(); ++i) {
        const OnlineId id = r.U64();
        UserCache& u = users[id];
        u.persona = r.Text(kMaxName);
        u.known = true;
        u.isFriend = true;
    }
    if (!ok || r.Failed()) {
        if (error) *error = "the broker refused the sign-in";
        return false;
    }
    return true;
}

void ClientCore::Stop() {
    if (transport) transport->Close();
    connected = false;
    replied.notify_all();
}

bool ClientCore::Post(Writer& message) {
    if (!connected || !transport) return false;
    return transport->Send(message.Frame());
}

bool ClientCore::Call(Writer& request, std::vector<uint8_t>* reply, std::chrono::milliseconds limit) {
    const std::vector<uint8_t>& frame = request.Frame();
    uint32_t sequence = 0;
    for (int i = 0; i < 4; ++i) sequence |= static_cast<uint32_t>(frame[5 + i]) << (8 * i);
    {
        std::lock_guard<std::mutex> lock(state);
        if (!connected || !transport) return false;
        awaiting.insert(sequence);
    }
    const bool sent = transport->Send(frame);
    std::unique_lock<std::mutex> lock(state);
    if (sent)
        replied.wait_for(lock, limit.count() > 0 ? std::min<std::chrono::milliseconds>(limit, kReplyTimeout) : kReplyTimeout, [&] { return replies.count(sequence) || !connected; });
    awaiting.erase(sequence);
    auto it = replies.find(sequence);
    if (it == replies.end()) return false;
    *reply = std::move(it->second);
    replies.erase(it);
    return true;
}

CallHandle ClientCore::NewCall(int callbackId) {
    const CallHandle call = nextCall.fetch_add(1);
    std::lock_guard<std::mutex> lock(state);
    outstanding[call] = callbackId;
    return call;
}

void ClientCore::Queue(int callbackId, CallHandle call, const void* record, size_t size, bool ioFailure) {
    Pending p;
    p.callbackId = callbackId;
    p.call = call;
    p.ioFailure = ioFailure;
    p.record.assign(static_cast<const uint8_t*>(record), static_cast<const uint8_t*>(record) + size);
    queue.push_back(std::move(p));  // caller holds `state`
}

void ClientCore::OnDisconnected() {
    std::lock_guard<std::mutex> lock(state);
    if (!connected) return;
    connected = false;
    // Calls still in flight complete with the I/O-failure flag.
    for (const auto& [call, id] : outstanding) {
        std::vector<uint8_t> zero(CallbackRecordSize(id));
        Queue(id, call, zero.data(), zero.size(), true);
    }
    outstanding.clear();
    replied.notify_all();
}

void ClientCore::ApplyLobbySnapshot(Reader& r, LobbyCache* out) {
    out->id = r.U64();
    out->type = r.I32();
    out->maxMembers = r.I32();
    out->joinable = r.U8() != 0;
    out->owner = r.U64();
    const uint32_t nd = r.Count(4096, 8);
    for (uint32_t i = 0; i < nd && !r.Failed(); ++i) {
        std::string k = r.Text(kMaxKey);
        out->data[k] = r.Text(kMaxValue);
    }
    const uint32_t nm = r.Count(256, 16);
    for (uint32_t i = 0; i < nm && !r.Failed(); ++i) {
        LobbyMember m;
        m.id = r.U64();
        std::string persona = r.Text(kMaxName);
        const uint32_t n = r.Count(4096, 8);
        for (uint32_t j = 0; j < n && !r.Failed(); ++j) {
            std::string k = r.Text(kMaxKey);
            m.data[k] = r.Text(kMaxValue);
        }
        if (r.Failed()) break;
        UserCache& u = users[m.id];
        u.persona = persona;
        u.known = true;
        out->members.push_back(std::move(m));
    }
}

void ClientCore::OpenSession(OnlineId remote) {
    accepted.insert(remote);
    requested.erase(remote);
    auto h = held.find(remote);
    if (h == held.end()) return;
    heldCount -= h->second.size();
    for (auto& p : h->second) ready.push_back(std::move(p));
    held.erase(h);
}

bool ClientCore::OnPacket(Reader& r) {
    Packet p;
    p.from = r.U64();
    const bool reliable = r.U8() != 0;
    p.channel = r.I32();
    uint32_t n = 0;
    const uint8_t* data = r.Bytes(kMaxReliablePacket, &n);
    if (r.Failed() || !r.AtEnd()) return false;
    p.bytes.assign(data, data + n);
    p.readyAt = os::ReadCounter();
    if (!reliable) {
        if (config.packetLossPercent && Random(100) < config.packetLossPercent) return true;
        const int64_t ms = config.packetLatencyMs + (config.packetJitterMs ? Random(config.packetJitterMs + 1) : 0);
        p.readyAt += ms * (os::kCounterFrequency / 1000);
    }
    p.order = packetOrder++;
    if (accepted.count(p.from)) {
        if (ready.size() < kMaxReadyPackets) ready.push_back(std::move(p));  // else the reader stopped long ago
        return true;
    }
    if (heldCount >= kMaxHeldPackets) return true;
    const OnlineId from = p.from;
    held[from].push_back(std::move(p));
    ++heldCount;
    // One request per sender while it waits undelivered; a request the receiver let
    // pass unanswered (say, before it was listening) is raised again by the next packet.
    const bool waiting = std::any_of(queue.begin(), queue.end(), [&](const Pending& q) {
        OnlineId remote = 0;
        if (q.callbackId == P2PSessionRequest::kCallbackId && q.record.size() >= sizeof remote)
            std::memcpy(&remote, q.record.data(), sizeof remote);
        return remote == from && q.callbackId == P2PSessionRequest::kCallbackId;
    });
    if (requested.insert(from).second || !waiting) {
        P2PSessionRequest req{from};
        Queue(P2PSessionRequest::kCallbackId, 0, &req, sizeof req);
    }
    return true;
}

void ClientCore::OnFrame(const uint8_t* body, size_t size) {
    Reader r(body, size);
    std::unique_lock<std::mutex> lock(state);
    switch (r.MessageKind()) {
    case kAuthRefused:
        answerRefused = true;
        return;
    case kReply:
        if (awaiting.count(r.Sequence())) {
            replies[r.Sequence()].assign(body + 5, body + size);
            replied.notify_all();
        }
        return;
    case kEvent: {
        const int id = r.I32();
        const CallHandle call = r.U64();
        uint32_t n = 0;
        const uint8_t* record = r.Bytes(1024, &n);
        if (r.Failed() || !r.AtEnd() || n == 0 || n != CallbackRecordSize(id)) break;
        if (call) outstanding.erase(call);
        Queue(id, call, record, n);
        return;
    }
    case kLobbyState: {
        LobbyCache lobby;
        std::map<OnlineId, UserCache> before = users;
        ApplyLobbySnapshot(r, &lobby);
        if (r.Failed() || !r.AtEnd()) {
            users.swap(before);
            break;
        }
        lobbies[lobby.id] = std::move(lobby);
        return;
    }
    case kLobbyGone: {
        const OnlineId id = r.U64();
        if (r.Failed() || !r.AtEnd()) break;
        lobbies.erase(id);
        return;
    }
    case kChatEntry: {
        ChatEntry e;
        e.lobby = r.U64();
        e.chatId = r.U32();
        e.user = r.U64();
        uint32_t n = 0;
        const uint8_t* text = r.Bytes(kMaxChatMessage, &n);
        if (r.Failed() || !r.AtEnd()) break;
        e.bytes.assign(text, text + n);
        chat.push_back(std::move(e));
        while (chat.size() > kMaxChatEntries) chat.pop_front();
        return;
    }
    case kLobbyListResult: {
        const CallHandle call = r.U64();
        const uint32_t n = r.Count(10000, 33);
        std::vector<LobbyCache> found(n);
        std::map<OnlineId, UserCache> before = users;
        for (LobbyCache& l : found)
            if (!r.Failed()) ApplyLobbySnapshot(r, &l);
        if (r.Failed() || !r.AtEnd()) {
            users.swap(before);
            break;
        }
        lobbyList.clear();
        for (LobbyCache& l : found) {
            lobbyList.push_back(l.id);
            lobbies[l.id] = std::move(l);
        }
        outstanding.erase(call);
        LobbyMatchList m{n};
        Queue(LobbyMatchList::kCallbackId, call, &m, sizeof m);
        return;
    }
    case kP2PPacket:
        if (OnPacket(r)) return;
        break;
    case kUserKnown: {
        const OnlineId id = r.U64();
        std::string persona = r.Text(kMaxName);
        const bool isFriend = r.U8() != 0;
        const bool announce = r.U8() != 0;
        if (r.Failed() || !r.AtEnd()) break;
        UserCache& u = users[id];
        u.persona = persona;
        u.known = true;
        u.isFriend = isFriend;
        u.knownAtPump = 0;
        if (announce) {
            PersonaStateChange c{id, kPersonaChangeName | kPersonaChangeAvatar};
            Queue(PersonaStateChange::kCallbackId, 0, &c, sizeof c);
        }
        return;
    }
    case kLeaderboardInfo: {
        const CallHandle call = r.U64();
        const LeaderboardHandle board = r.U64();
        std::string name = r.Text(kMaxName);
        const int32_t count = r.I32();
        const bool found = r.U8() != 0;
        if (r.Failed() || !r.AtEnd()) break;
        if (found && board) boards[board] = Board{name, count};
        outstanding.erase(call);
        LeaderboardFindResult f{found ? board : 0, static_cast<uint8_t>(found && board ? 1 : 0)};
        Queue(LeaderboardFindResult::kCallbackId, call, &f, sizeof f);
        return;
    }
    case kEntries: {
        const CallHandle call = r.U64();
        const LeaderboardHandle board = r.U64();
        const int32_t total = r.I32();
        const uint32_t n = r.Count(5000, 24);
        Downloaded d;
        std::vector<std::pair<OnlineId, std::string>> names;
        for (uint32_t i = 0; i < n && !r.Failed(); ++i) {
            LeaderboardEntry e{};
            e.user = r.U64();
            names.emplace_back(e.user, r.Text(kMaxName));
            e.globalRank = r.I32();
            e.score = r.I32();
            std::vector<int32_t> details(r.Count(kMaxLeaderboardDetails, 4));
            for (int32_t& v : details) v = r.I32();
            e.detailCount = static_cast<int32_t>(details.size());
            d.entries.push_back(e);
            d.details.push_back(std::move(details));
        }
        if (r.Failed() || !r.AtEnd()) break;
        for (auto& [id, name] : names) {
            users[id].persona = name;
            users[id].known = true;
        }
        const LeaderboardEntriesHandle h = nextEntries++;
        downloads[h] = std::move(d);
        while (downloads.size() > kMaxDownloads) downloads.erase(downloads.begin());
        if (board && boards.count(board)) boards[board].count = total;
        outstanding.erase(call);
        LeaderboardScoresDownloaded s{board, h, static_cast<int32_t>(n)};
        Queue(LeaderboardScoresDownloaded::kCallbackId, call, &s, sizeof s);
        return;
    }
    case kScoreUploaded: {
        const CallHandle call = r.U64();
        LeaderboardScoreUploaded u{};
        u.success = r.U8();
        u.leaderboard = r.U64();
        u.score = r.I32();
        u.scoreChanged = r.U8();
        u.globalRankNew = r.I32();
        u.globalRankPrevious = r.I32();
        const int32_t count = r.I32();
        if (r.Failed() || !r.AtEnd()) break;
        if (u.success && boards.count(u.leaderboard)) boards[u.leaderboard].count = count;
        outstanding.erase(call);
        Queue(LeaderboardScoreUploaded::kCallbackId, call, &u, sizeof u);
        return;
    }
    default:
        break;
    }
    lock.unlock();
    Warn(1, "online: malformed message of kind %u from the broker dropped", static_cast<unsigned>(r.MessageKind()));
}

void ClientCore::RunCallbacks() {
    std::lock_guard<std::recursive_mutex> guard(dispatch);
    size_t budget;
    {
        std::lock_guard<std::mutex> lock(state);
        ++pumps;
        budget = queue.size();
    }
    // Results that arrived before their binding, in arrival order. A handler may bind or
    // cancel calls (which edits this list), so each delivery restarts the search.
    for (auto it = unclaimed.begin(); it != unclaimed.end();) {
        if (++it->age > kUnclaimedPumps) it = unclaimed.erase(it);
        else ++it;
    }
    for (;;) {
        auto it = std::find_if(unclaimed.begin(), unclaimed.end(), [&](const Pending& p) { return bindings.count(p.call); });
        if (it == unclaimed.end()) break;
        Pending p = std::move(*it);
        unclaimed.erase(it);
        auto b = bindings.find(p.call);
        CallbackBase* target = b->second;
        bindings.erase(b);
        boundTo.erase(target);
        target->Run(p.record.data(), p.ioFailure, p.call);
    }
    while (budget-- > 0) {
        Pending p;
        {
            std::lock_guard<std::mutex> lock(state);
            if (queue.empty()) break;
            Pending& front = queue.front();
            if (front.call && !bindings.count(front.call) && ++front.age < kHoldPumps) break;
            p = std::move(front);
            queue.pop_front();
        }
        if (p.call) {
            auto b = bindings.find(p.call);
            if (b == bindings.end()) {
                p.age = 0;
                unclaimed.push_back(std::move(p));
                while (unclaimed.size() > kMaxUnclaimed) unclaimed.pop_front();
                continue;
            }
            CallbackBase* target = b->second;
            bindings.erase(b);
            boundTo.erase(target);
            target->Run(p.record.data(), p.ioFailure, p.call);
            continue;
        }
        auto it = callbacks.find(p.callbackId);
        if (it == callbacks.end()) continue;
        const std::vector<CallbackBase*> targets = it->second;
        for (CallbackBase* t : targets) {
            // A handler may have unregistered a later target.
            const auto& now = callbacks[p.callbackId];
            if (std::find(now.begin(), now.end(), t) != now.end()) t->Run(p.record.data(), p.ioFailure, 0);
        }
    }
}

void ClientCore::RegisterCallback(CallbackBase* target, int callbackId) {
    if (!target) return;
    std::lock_guard<std::recursive_mutex> guard(dispatch);
    auto& list = callbacks[callbackId];
    if (std::find(list.begin(), list.end(), target) == list.end()) list.push_back(target);
}

void ClientCore::UnregisterCallback(CallbackBase* target) {
    std::lock_guard<std::recursive_mutex> guard(dispatch);
    for (auto& [id, list] : callbacks) list.erase(std::remove(list.begin(), list.end(), target), list.end());
}

void ClientCore::RegisterCallResult(CallbackBase* target, CallHandle call) {
    if (!target || call == 0) return;
    std::lock_guard<std::recursive_mutex> guard(dispatch);
    auto old = boundTo.find(target);
    if (old != boundTo.end()) {
        bindings.erase(old->second);
        // The earlier call's result must never arrive: forget it wherever it waits.
        const CallHandle cancelled = old->second;
        unclaimed.erase(std::remove_if(unclaimed.begin(), unclaimed.end(),
                                       [&](const Pending& p) { return p.call == cancelled; }),
                        unclaimed.end());
        std::lock_guard<std::mutex> lock(state);
        queue.erase(std::remove_if(queue.begin(), queue.end(), [&](const Pending& p) { return p.call == cancelled; }),
                    queue.end());
        outstanding.erase(cancelled);
    }
    bindings[call] = target;
    boundTo[target] = call;
}

void ClientCore::UnregisterCallResult(CallbackBase* target, CallHandle call) {
    std::lock_guard<std::recursive_mutex> guard(dispatch);
    auto it = bindings.find(call);
    if (it == bindings.end() || it->second != target) return;
    bindings.erase(it);
    boundTo.erase(target);
}

// ---- Configuration ----

namespace {

struct ConfigKey {
    const char* name;
    void (*set)(ClientConfig& c, const std::string& v);
};

uint32_t ToU32(const std::string& v) { return static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10)); }
bool ToBool(const std::string& v) { return v == "1" || v == "true" || v == "yes"; }

const ConfigKey kConfigKeys[] = {
    {"ONLINE_ACCOUNT", [](ClientConfig& c, const std::string& v) { c.account = ToU32(v); }},
    {"ONLINE_PERSONA", [](ClientConfig& c, const std::string& v) { c.persona = v; }},
    {"ONLINE_APP_ID", [](ClientConfig& c, const std::string& v) { c.appId = ToU32(v); }},
    {"ONLINE_LANGUAGE", [](ClientConfig& c, const std::string& v) { c.language = v; }},
    {"ONLINE_LOGGED_ON", [](ClientConfig& c, const std::string& v) { c.loggedOn = ToBool(v); }},
    {"ONLINE_OFFLINE", [](ClientConfig& c, const std::string& v) { c.offline = ToBool(v); }},
    {"ONLINE_BROKER_DIR", [](ClientConfig& c, const std::string& v) { c.brokerDir = v; }},
    {"ONLINE_BROKER_ADDRESS", [](ClientConfig& c, const std::string& v) { c.brokerAddress = v; }},
    {"ONLINE_BROKER_SECRET_FILE", [](ClientConfig& c, const std::string& v) { c.brokerSecretFile = v; }},
    {"ONLINE_DATA_DIR", [](ClientConfig& c, const std::string& v) { c.dataDir = v; }},
    {"ONLINE_SCHEMA", [](ClientConfig& c, const std::string& v) { c.schemaPath = v; }},
    {"ONLINE_PACKET_LOSS", [](ClientConfig& c, const std::string& v) { c.packetLossPercent = ToU32(v); }},
    {"ONLINE_PACKET_LATENCY_MS", [](ClientConfig& c, const std::string& v) { c.packetLatencyMs = ToU32(v); }},
    {"ONLINE_PACKET_JITTER_MS", [](ClientConfig& c, const std::string& v) { c.packetJitterMs = ToU32(v); }},
    {"ONLINE_RANDOM_SEED", [](ClientConfig& c, const std::string& v) { c.randomSeed = ToU32(v); }},
    {"ONLINE_TICKET_FAILURE", [](ClientConfig& c, const std::string& v) { c.ticketFailure = ToU32(v); }},
    {"ONLINE_AVATARS_LOADING", [](ClientConfig& c, const std::string& v) { c.avatarsLoading = ToBool(v); }},
    {"ONLINE_PERSONA_DELAY", [](ClientConfig& c, const std::string& v) { c.personaDelay = ToBool(v); }},
    {"ONLINE_STATS_FAIL", [](ClientConfig& c, const std::string& v) { c.statsFail = ToBool(v); }},
    {"ONLINE_AUTO_INVITE", [](ClientConfig& c, const std::string& v) { c.autoInviteAccount = ToU32(v); }},
    {"ONLINE_OVERLAY_EVENTS", [](ClientConfig& c, const std::string& v) { c.overlayEvents = ToBool(v); }},
};

bool ApplyKey(ClientConfig& c, const std::string& name, const std::string& value) {
    for (const ConfigKey& k : kConfigKeys)
        if (name == k.name) {
            k.set(c, value);
            return true;
        }
    return false;
}

constexpr size_t kMaxConfigBytes = 64 * 1024;

}  // namespace

bool ClientConfig::ParseText(const char* text, size_t size, std::string* warnings) {
    if (size > kMaxConfigBytes) {
        if (warnings) *warnings += "configuration larger than 64 KiB ignored\n";
        return false;
    }
    bool clean = true;
    size_t pos = 0;
    while (pos < size) {
        size_t end = pos;
        while (end < size && text[end] != '\n') ++end;
        std::string line(text + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || !ApplyKey(*this, line.substr(0, eq), line.substr(eq + 1).c_str())) {
            clean = false;
            if (warnings) *warnings += "configuration line skipped: " + line.substr(0, 80) + "\n";
        }
    }
    return clean;
}

bool ClientConfig::LoadFile(const std::string& path, std::string* warnings) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::string text(kMaxConfigBytes + 1, '\0');
    f.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(f.gcount()));
    return ParseText(text.data(), text.size(), warnings);
}

void ClientConfig::ApplyEnvironment() {
    for (const ConfigKey& k : kConfigKeys)
        if (const char* v = std::getenv(k.name)) k.set(*this, v);
}

namespace {
std::mutex gOverrideLock;
std::string gBrokerAddressOverride;
}  // namespace

void SetBrokerAddressOverride(const std::string& address) {
    std::lock_guard<std::mutex> lock(gOverrideLock);
    gBrokerAddressOverride = address;
}

ClientConfig ClientConfig::FromEnvironment() {
    ClientConfig c;
    if (const char* file = std::getenv("ONLINE_CONFIG")) c.LoadFile(file);
    c.ApplyEnvironment();
    std::lock_guard<std::mutex> lock(gOverrideLock);
    if (!gBrokerAddressOverride.empty()) c.brokerAddress = gBrokerAddressOverride;
    return c;
}

}  // namespace online
