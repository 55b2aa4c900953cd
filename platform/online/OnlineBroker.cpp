// Broker core: sessions, lobbies, peer-to-peer routing, tickets and user directory.
// Stats, leaderboards, cloud files and control commands are in OnlineBroker_Scores.cpp.
//
// Every handler first reads and checks its whole message, then applies it, so a
// malformed message changes nothing. Lobby changes are sent to every member as a full
// snapshot (kLobbyState) followed by the callback record, so the data a member reads
// while handling the callback is already the new data. A change goes to every member as
// one shared frame.
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineBrokerImpl.h"
#include "platform/online/OnlineMessages.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <random>

namespace online {

using namespace wire;

namespace {

uint64_t Mix(uint64_t h, uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 31);
}

constexpr char kTicketMagic[4] = {'O', 'T', 'K', '1'};
constexpr uint32_t kTicketSize = 32;
// Friends named in the sign-in answer: as many as one frame holds.
constexpr size_t kMaxFriendsListed = (kMaxFrame - 64) / (8 + 4 + kMaxName);
constexpr int32_t kDefaultListResults = 50;
constexpr uint64_t kNoDistance = UINT64_MAX;  // a near filter's key is missing or not a number

// |a - b| without overflow.
uint64_t Distance(long long a, long long b) {
    return a >= b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b) : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
}

// What one data entry adds to a snapshot: two lengths and the texts.
uint32_t EntryBytes(const std::string& key, const std::string& value) {
    return static_cast<uint32_t>(8 + key.size() + value.size());
}

uint32_t DataBytes(const std::map<std::string, std::string>& data) {
    uint32_t n = 0;
    for (const auto& [k, v] : data) n += EntryBytes(k, v);
    return n;
}

// An upper bound of a lobby's snapshot size (personas counted at their longest).
size_t SnapshotBound(const BrokerCore::Impl::Lobby& lobby) {
    return 8 + 4 + 4 + 1 + 8 + 4 + 4 + lobby.members.size() * kSnapshotMemberBytes + lobby.dataBytes;
}

bool ParseNumber(const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtoll(text.c_str(), &end, 10);
    return end && *end == '\0';
}

bool Compare(long long a, long long b, int32_t cmp) {
    switch (cmp) {
    case kCompareLessOrEqual: return a <= b;
    case kCompareLess: return a < b;
    case kCompareEqual: return a == b;
    case kCompareGreater: return a > b;
    case kCompareGreaterOrEqual: return a >= b;
    case kCompareNotEqual: return a != b;
    default: return false;
    }
}

}  // namespace

BrokerCore::BrokerCore(BrokerOutput* output) : impl(std::make_unique<Impl>()) {
    impl->output = output;
    std::random_device rd;
    impl->secret = (static_cast<uint64_t>(rd()) << 32) ^ rd() ^ 0x9E3779B97F4A7C15ull;
}

BrokerCore::~BrokerCore() = default;

bool BrokerCore::Open(const std::string& dataDir, const StatsSchema& schema, std::string* error) {
    Impl::CallScope scope(*impl);
    impl->schema = schema;
    return impl->store.Open(dataDir.empty() ? ":memory:" : dataDir + "/broker.db", error);
}

uint32_t BrokerCore::AddSession(bool network) {
    Impl::CallScope scope(*impl);
    const uint32_t id = impl->nextSession++;
    impl->sessions[id].id = id;
    impl->sessions[id].network = network;
    return id;
}

BrokerStore& BrokerCore::Store() {
    impl->boards.clear();
    return impl->store;
}

void BrokerCore::UseGroupCommit() {
    Impl::CallScope scope(*impl);
    impl->groupCommit = true;
    impl->store.UseGroupCommit();
}

uint64_t BrokerCore::EndRound() {
    Impl::CallScope scope(*impl);
    if (!impl->groupCommit) return 0;
    const bool committed = impl->store.CommitRound();
    if (!committed) impl->boards.clear();
    if (!impl->roundHeld) return 0;
    impl->roundHeld = false;
    const uint64_t round = impl->round++;
    // Reported in turn with the rounds before it, whose answers go first.
    if (!committed) {
        impl->failedRounds.insert(round);
        impl->boards.clear();
    }
    return round;
}

bool BrokerCore::CheckpointDue() {
    constexpr int kCheckpointFrames = 1000;  // pages of 4 KiB
    // The frame count changes only with a commit: after a checkpoint it tells nothing
    // until the next one.
    const uint64_t commits = impl->store.Commits();
    if (!impl->groupCommit || impl->store.LogFrames() < kCheckpointFrames || commits == impl->checkpointAfter) return false;
    impl->checkpointAfter = commits;
    return true;
}

void BrokerCore::Synced(uint64_t round, bool synced) {
    Impl::CallScope scope(*impl);
    // The log's later frames follow the lost ones: no later write is durable either.
    if (!synced && !impl->diskFailed) {
        impl->diskFailed = true;
        impl->store.RefuseWrites();
        impl->boards.clear();
    }
    for (auto it = impl->held.begin(); it != impl->held.end();) {
        std::deque<Impl::Held>& queue = it->second;
        while (!queue.empty() && queue.front().round <= round) {
            const Impl::Held& h = queue.front();
            const bool ok = h.round == 0 || (!impl->diskFailed && !impl->failedRounds.count(h.round));
            impl->output->Deliver(it->first, ok ? h.ok : h.failed, h.snapshotOf);
            queue.pop_front();
        }
        it = queue.empty() ? impl->held.erase(it) : std::next(it);
    }
    impl->failedRounds.erase(impl->failedRounds.begin(), impl->failedRounds.upper_bound(round));
}

void BrokerCore::AnswerAfterRound(uint32_t session, const SharedFrame& ok, const SharedFrame& failed) {
    Impl::CallScope scope(*impl);
    impl->AnswerWrite(session, true, ok, failed);
}

void BrokerCore::Impl::AnswerWrite(uint32_t session, bool taken, const SharedFrame& ok, const SharedFrame& failed) {
    if (!taken) boards.clear();  // the store may have undone more than this write
    if (!taken || !groupCommit) {
        Deliver(session, taken ? ok : failed);
        return;
    }
    held[session].push_back(Held{round, ok, failed, 0});
    roundHeld = true;
}

void BrokerCore::Impl::AnswerWrite(uint32_t session, bool taken, Writer& ok, Writer& failed) {
    AnswerWrite(session, taken, std::make_shared<const std::vector<uint8_t>>(ok.TakeFrame()),
                std::make_shared<const std::vector<uint8_t>>(failed.TakeFrame()));
}

void BrokerCore::Impl::Deliver(uint32_t session, const SharedFrame& frame, OnlineId snapshotOf) {
    // Every answer is bounded where it is built; a frame the clients would refuse is a bug.
    assert(frame->size() <= kMaxFrame + 4u);
    if (frame->size() > kMaxFrame + 4u) return;
    auto waiting = held.find(session);
    if (waiting != held.end()) waiting->second.push_back(Held{0, frame, frame, snapshotOf});
    else output->Deliver(session, frame, snapshotOf);
}

void BrokerCore::Impl::Send(uint32_t session, Writer& w) {
    Deliver(session, std::make_shared<const std::vector<uint8_t>>(w.TakeFrame()));
}

BrokerCore::Impl::Session* BrokerCore::Impl::SessionOf(uint32_t account) {
    auto it = byAccount.find(account);
    if (it == byAccount.end()) return nullptr;
    auto s = sessions.find(it->second);
    return s == sessions.end() ? nullptr : &s->second;
}

void BrokerCore::Impl::SendEvent(uint32_t session, int callbackId, CallHandle call, const void* record, size_t size) {
    Writer w(kEvent);
    w.I32(callbackId).U64(call).Bytes(record, size);
    Send(session, w);
}

void BrokerCore::Impl::WriteSnapshot(Writer& w, const Lobby& lobby) {
    WriteSnapshotHead(w, lobby.id, lobby.type, lobby.maxMembers, lobby.joinable, lobby.owner);
    WriteSnapshotData(w, lobby.data);
    WriteSnapshotMemberCount(w, static_cast<uint32_t>(lobby.members.size()));
    for (const Member& m : lobby.members) WriteSnapshotMember(w, m.id, PersonaOf(AccountOf(m.id)), m.data);
}

std::string BrokerCore::Impl::PersonaOf(uint32_t account) {
    if (Session* s = SessionOf(account)) return s->persona;
    return store.Persona(account);
}

void BrokerCore::Impl::Broadcast(const Lobby& lobby, const void* record, int callbackId, size_t size, OnlineId skip) {
    const SharedFrame snapshot = SnapshotFrame(lobby);
    Writer event(kEvent);
    event.I32(callbackId).U64(0).Bytes(record, size);
    const SharedFrame eventFrame = std::make_shared<const std::vector<uint8_t>>(event.TakeFrame());
    for (const Member& m : lobby.members) {
        Deliver(m.session, snapshot, lobby.id);
        if (m.id != skip) Deliver(m.session, eventFrame);
    }
}

SharedFrame BrokerCore::Impl::SnapshotFrame(const Lobby& lobby) {
    Writer snap(kLobbyState);
    snap.Reserve(5 + SnapshotBound(lobby));
    WriteSnapshot(snap, lobby);
    return std::make_shared<const std::vector<uint8_t>>(snap.TakeFrame());
}

void BrokerCore::Impl::DataChanged(const Lobby& lobby, OnlineId member) {
    LobbyDataUpdate u{};
    u.lobby = lobby.id;
    u.member = member;
    u.success = 1;
    Broadcast(lobby, &u, LobbyDataUpdate::kCallbackId, sizeof u, 0);
}

BrokerCore::Impl::Lobby* BrokerCore::Impl::FindLobby(OnlineId id) {
    auto it = lobbies.find(id);
    return it == lobbies.end() ? nullptr : &it->second;
}

// Removes a member; moves ownership to the first remaining member; deletes an empty lobby.
void BrokerCore::Impl::RemoveMember(OnlineId lobbyId, OnlineId user, uint32_t flags) {
    Lobby* lobby = FindLobby(lobbyId);
    if (!lobby) return;
    auto it = std::find_if(lobby->members.begin(), lobby->members.end(), [&](const Member& m) { return m.id == user; });
    if (it == lobby->members.end()) return;
    const uint32_t leaver = it->session;
    lobby->dataBytes -= DataBytes(it->data);
    lobby->members.erase(it);
    if (Session* s = FindSession(leaver)) s->lobbies.erase(lobbyId);
    if (lobby->members.empty()) {
        lobbies.erase(lobbyId);
        return;
    }
    const bool ownerMoved = lobby->owner == user;
    if (ownerMoved) lobby->owner = lobby->members.front().id;
    LobbyChatUpdate u{};
    u.lobby = lobbyId;
    u.userChanged = user;
    u.makingChange = user;
    u.changeFlags = flags;
    Broadcast(*lobby, &u, LobbyChatUpdate::kCallbackId, sizeof u, 0);
    if (ownerMoved) DataChanged(*lobby, lobbyId);
}

BrokerCore::Impl::Session* BrokerCore::Impl::FindSession(uint32_t id) {
    auto it = sessions.find(id);
    return it == sessions.end() ? nullptr : &it->second;
}

void BrokerCore::RemoveSession(uint32_t session) {
    Impl::CallScope scope(*impl);
    Impl::Session* s = impl->FindSession(session);
    if (!s) return;
    const std::set<OnlineId> lobbies = s->lobbies;
    const OnlineId user = s->user;
    for (OnlineId l : lobbies) impl->RemoveMember(l, user, kMemberDisconnected);
    impl->held.erase(session);
    for (OnlineId target : s->failedTargets) {
        auto told = impl->failedBy.find(target);
        if (told == impl->failedBy.end()) continue;
        std::erase(told->second, session);
        if (told->second.empty()) impl->failedBy.erase(told);
    }
    auto acc = impl->byAccount.find(AccountOf(user));
    if (acc != impl->byAccount.end() && acc->second == session) impl->byAccount.erase(acc);
    impl->sessions.erase(session);
}


uint64_t BrokerCore::Impl::Sign(OnlineId user, uint32_t handle, uint64_t nonce) const {
    return Mix(Mix(Mix(secret, user), handle), nonce);
}

bool BrokerCore::Handle(uint32_t sessionId, const uint8_t* body, size_t size) {
    Impl::CallScope scope(*impl);
    Impl::Session* session = impl->FindSession(sessionId);
    if (!session || size > kMaxFrame) return false;
    Reader r(body, size);
    if (r.Failed()) return false;
    const Kind kind = r.MessageKind();
    if (kind == kHello) return impl->HandleHello(*session, r);
    if (!session->hello) return false;  // everything else needs an identity
    switch (kind) {
    case kCreateLobby:
    case kJoinLobby:
    case kLeaveLobby:
    case kSetLobbyData:
    case kSetMemberData:
    case kSetJoinable:
    case kSetOwner:
    case kChat:
    case kLobbyList:
    case kInvite:
        return impl->HandleLobby(*session, kind, r);
    case kP2PSend:
    case kGetTicket:
    case kCancelTicket:
    case kValidateTicket:
    case kUserInfo:
        return impl->HandlePeer(*session, kind, r);
    case kGetStats:
    case kStoreStats:
    case kFindLeaderboard:
    case kDownloadEntries:
    case kUploadScore:
    case kFileWrite:
    case kFileRead:
        return impl->HandleScores(*session, kind, r);
    default:
        return false;
    }
}

bool BrokerCore::Impl::HandleHello(Session& s, Reader& r) {
    const uint32_t account = r.U32();
    std::string persona = r.Text(kMaxName);
    const uint32_t appId = r.U32();
    std::string language = r.Text(64);
    if (r.Failed() || !r.AtEnd() || account == 0 || s.hello) return false;
    if (s.network && SessionOf(account)) {
        // Signed in already: refused with an answer, so that the client reports it at
        // once instead of taking the silence for a busy broker and trying again.
        Writer w(kReply, r.Sequence());
        w.U8(0).U32(0);
        Send(s.id, w);
        return true;
    }
    s.hello = true;
    s.user = MakeUserId(account);
    s.persona = persona;
    s.appId = appId;
    s.language = language;
    byAccount[account] = s.id;
    // The users row is written only when it changes. Its write failing does not refuse
    // the sign-in: the row only names the user to others while it is away.
    const bool write = !store.HasUser(account, persona);
    const bool taken = write && store.PutUser(account, persona);
    // Earlier senders to this user may try again: forget their connect failures.
    if (auto told = failedBy.find(s.user); told != failedBy.end()) {
        for (uint32_t id : told->second)
            if (Session* other = FindSession(id)) other->failedTargets.erase(s.user);
        failedBy.erase(told);
    }
    Writer w(kReply, r.Sequence());
    std::vector<uint32_t> friends = store.Friends(account);
    if (friends.size() > kMaxFriendsListed) friends.resize(kMaxFriendsListed);
    w.U8(1).U32(static_cast<uint32_t>(friends.size()));
    for (uint32_t f : friends) w.U64(MakeUserId(f)).Text(PersonaOf(f));
    const SharedFrame answer = std::make_shared<const std::vector<uint8_t>>(w.TakeFrame());
    if (write) AnswerWrite(s.id, taken, answer, answer);
    else Deliver(s.id, answer);
    return true;
}

bool BrokerCore::Impl::HandleLobby(Session& s, Kind kind, Reader& r) {
    switch (kind) {
    case kCreateLobby: {
        const CallHandle call = r.U64();
        const int32_t type = r.I32();
        const int32_t maxMembers = r.I32();
        if (r.Failed() || !r.AtEnd()) return false;
        LobbyCreated created{};
        if (type < kLobbyPrivate || type > kLobbyInvisible || maxMembers < 1 || maxMembers > kMaxLobbyMembers) {
            created.result = kResultInvalidParam;
            SendEvent(s.id, LobbyCreated::kCallbackId, call, &created, sizeof created);
            return true;
        }
        Lobby lobby;
        lobby.id = MakeLobbyId(nextLobby++);
        lobby.type = type;
        lobby.maxMembers = maxMembers;
        lobby.owner = s.user;
        lobby.members.push_back(Member{s.user, s.id, {}});
        const OnlineId id = lobby.id;
        lobbies[id] = std::move(lobby);
        s.lobbies.insert(id);
        created.result = kResultOK;
        created.lobby = id;
        Deliver(s.id, SnapshotFrame(lobbies[id]), id);
        SendEvent(s.id, LobbyCreated::kCallbackId, call, &created, sizeof created);
        LobbyEnter enter{};
        enter.lobby = id;
        enter.response = kEnterSuccess;
        SendEvent(s.id, LobbyEnter::kCallbackId, 0, &enter, sizeof enter);
        return true;
    }
    case kJoinLobby: {
        const CallHandle call = r.U64();
        const OnlineId id = r.U64();
        if (r.Failed() || !r.AtEnd()) return false;
        LobbyEnter enter{};
        enter.lobby = id;
        Lobby* lobby = FindLobby(id);
        const bool member = lobby && std::any_of(lobby->members.begin(), lobby->members.end(),
                                                 [&](const Member& m) { return m.id == s.user; });
        if (!lobby) enter.response = kEnterDoesNotExist;
        else if (member) enter.response = kEnterSuccess;
        else if (!lobby->joinable) enter.response = kEnterNotAllowed;
        else if (static_cast<int32_t>(lobby->members.size()) >= lobby->maxMembers) enter.response = kEnterFull;
        else enter.response = kEnterSuccess;
        if (enter.response != kEnterSuccess || member) {
            if (member) Deliver(s.id, SnapshotFrame(*lobby), id);
            SendEvent(s.id, LobbyEnter::kCallbackId, call, &enter, sizeof enter);
            return true;
        }
        lobby->members.push_back(Member{s.user, s.id, {}});
        s.lobbies.insert(id);
        Deliver(s.id, SnapshotFrame(*lobby), id);
        SendEvent(s.id, LobbyEnter::kCallbackId, call, &enter, sizeof enter);
        LobbyChatUpdate u{};
        u.lobby = id;
        u.userChanged = s.user;
        u.makingChange = s.user;
        u.changeFlags = kMemberEntered;
        Broadcast(*lobby, &u, LobbyChatUpdate::kCallbackId, sizeof u, s.user);
        DataChanged(*lobby, id);  // the joiner too receives an update after entering
        return true;
    }
    case kLeaveLobby: {
        const OnlineId id = r.U64();
        if (r.Failed() || !r.AtEnd()) return false;
        if (s.lobbies.count(id)) {
            RemoveMember(id, s.user, kMemberLeft);
            Writer gone(kLobbyGone);
            gone.U64(id);
            Send(s.id, gone);
        }
        return true;
    }
    case kSetLobbyData:
    case kSetMemberData: {
        const OnlineId id = r.U64();
        std::string key = r.Text(kMaxKey);
        std::string value = r.Text(kMaxValue);
        if (r.Failed() || !r.AtEnd() || key.empty()) return false;
        Lobby* lobby = FindLobby(id);
        if (!lobby || !s.lobbies.count(id)) return true;
        std::map<std::string, std::string>* data = nullptr;
        if (kind == kSetLobbyData) {
            if (lobby->owner != s.user) return true;  // only the owner sets lobby data
            data = &lobby->data;
        } else {
            for (Member& m : lobby->members)
                if (m.id == s.user) data = &m.data;
        }
        if (!data || (data->size() >= kMaxLobbyEntries && !data->count(key))) return true;
        auto it = data->find(key);
        if (it != data->end() && it->second == value) return true;  // unchanged: no update
        const uint32_t before = it == data->end() ? 0 : EntryBytes(key, it->second);
        const uint32_t after = lobby->dataBytes - before + EntryBytes(key, value);
        if (after > kMaxLobbyDataBytes) return true;  // the lobby's snapshot would not fit a frame
        lobby->dataBytes = after;
        (*data)[key] = value;
        DataChanged(*lobby, kind == kSetLobbyData ? id : s.user);
        return true;
    }
    case kSetJoinable: {
        const OnlineId id = r.U64();
        const uint8_t joinable = r.U8();
        if (r.Failed() || !r.AtEnd()) return false;
        Lobby* lobby = FindLobby(id);
        if (lobby && lobby->owner == s.user && lobby->joinable != (joinable != 0)) {
            lobby->joinable = joinable != 0;
            DataChanged(*lobby, id);
        }
        return true;
    }
    case kSetOwner: {
        const OnlineId id = r.U64();
        const OnlineId newOwner = r.U64();
        if (r.Failed() || !r.AtEnd()) return false;
        Lobby* lobby = FindLobby(id);
        if (lobby && lobby->owner == s.user && newOwner != s.user &&
            std::any_of(lobby->members.begin(), lobby->members.end(), [&](const Member& m) { return m.id == newOwner; })) {
            lobby->owner = newOwner;
            DataChanged(*lobby, id);
        }
        return true;
    }
    case kChat: {
        const OnlineId id = r.U64();
        uint32_t n = 0;
        const uint8_t* text = r.Bytes(kMaxChatMessage, &n);
        if (r.Failed() || !r.AtEnd()) return false;
        Lobby* lobby = FindLobby(id);
        if (!lobby || !s.lobbies.count(id)) return true;
        const uint32_t chatId = lobby->nextChat++;
        LobbyChatMsg msg{};
        msg.lobby = id;
        msg.user = s.user;
        msg.entryType = kChatEntryMessage;
        msg.chatId = chatId;
        for (const Member& m : lobby->members) {  // the sender too
            Writer entry(kChatEntry);
            entry.U64(id).U32(chatId).U64(s.user).Bytes(text, n);
            Send(m.session, entry);
            SendEvent(m.session, LobbyChatMsg::kCallbackId, 0, &msg, sizeof msg);
        }
        return true;
    }
    case kLobbyList:
        return HandleLobbyList(s, r);
    case kInvite: {
        const OnlineId id = r.U64();
        const uint32_t account = r.U32();
        if (r.Failed() || !r.AtEnd()) return false;
        Session* target = SessionOf(account);
        if (target && FindLobby(id)) {
            GameLobbyJoinRequested req{};
            req.lobby = id;
            req.friendId = s.user;
            SendEvent(target->id, GameLobbyJoinRequested::kCallbackId, 0, &req, sizeof req);
        }
        return true;
    }
    default:
        return false;
    }
}

bool BrokerCore::Impl::HandleLobbyList(Session& s, Reader& r) {
    struct StringFilter { std::string key, value; int32_t cmp; };
    struct NumberFilter { std::string key; int32_t value, cmp; };
    const CallHandle call = r.U64();
    std::vector<StringFilter> strings(r.Count(64, 12));
    for (auto& f : strings) {
        f.key = r.Text(kMaxKey);
        f.value = r.Text(kMaxValue);
        f.cmp = r.I32();
    }
    std::vector<NumberFilter> numbers(r.Count(64, 12));
    for (auto& f : numbers) {
        f.key = r.Text(kMaxKey);
        f.value = r.I32();
        f.cmp = r.I32();
    }
    std::vector<NumberFilter> near(r.Count(64, 8));
    for (auto& f : near) {
        f.key = r.Text(kMaxKey);
        f.value = r.I32();
    }
    int32_t resultCount = r.I32();
    if (r.Failed() || !r.AtEnd()) return false;
    if (resultCount <= 0) resultCount = kDefaultListResults;

    struct Hit { const Lobby* lobby; std::vector<uint64_t> distance; };
    std::vector<Hit> hits;
    for (const auto& [id, lobby] : lobbies) {
        const bool listable = (lobby.type == kLobbyPublic || (lobby.type == kLobbyInvisible && !lobby.data.empty())) &&
                              lobby.joinable && static_cast<int32_t>(lobby.members.size()) < lobby.maxMembers;
        if (!listable) continue;
        bool pass = true;
        for (const auto& f : strings) {
            auto it = lobby.data.find(f.key);
            const std::string have = it == lobby.data.end() ? std::string() : it->second;
            if (f.cmp == kCompareEqual) pass = pass && have == f.value;
            else if (f.cmp == kCompareNotEqual) pass = pass && have != f.value;
            else pass = false;
        }
        for (const auto& f : numbers) {
            auto it = lobby.data.find(f.key);
            long long v = 0;
            pass = pass && it != lobby.data.end() && ParseNumber(it->second, &v) && Compare(v, f.value, f.cmp);
        }
        if (!pass) continue;
        Hit hit{&lobby, {}};
        for (const auto& f : near) {
            auto it = lobby.data.find(f.key);
            long long v = 0;
            const bool have = it != lobby.data.end() && ParseNumber(it->second, &v);
            hit.distance.push_back(have ? Distance(v, f.value) : kNoDistance);
        }
        hits.push_back(std::move(hit));
    }
    // Lobby ids grow with creation, so the stable sort keeps the oldest first among equals.
    std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.distance < b.distance; });
    if (static_cast<int32_t>(hits.size()) > resultCount) hits.resize(resultCount);
    // The answer carries the best lobbies that fit one frame.
    size_t bytes = 5 + 8 + 4;
    for (size_t i = 0; i < hits.size(); ++i) {
        bytes += SnapshotBound(*hits[i].lobby);
        if (bytes > kMaxFrame) {
            hits.resize(i);
            break;
        }
    }
    Writer w(kLobbyListResult);
    w.U64(call).U32(static_cast<uint32_t>(hits.size()));
    for (const Hit& h : hits) WriteSnapshot(w, *h.lobby);
    Send(s.id, w);
    return true;
}

bool BrokerCore::Impl::HandlePeer(Session& s, Kind kind, Reader& r) {
    switch (kind) {
    case kP2PSend: {
        const OnlineId target = r.U64();
        const uint8_t reliable = r.U8();
        const int32_t channel = r.I32();
        uint32_t n = 0;
        const uint8_t* data = r.Bytes(kMaxReliablePacket, &n);
        if (r.Failed() || !r.AtEnd() || (!reliable && n > kMaxUnreliablePacket)) return false;
        Session* to = IsValidUserId(target) ? SessionOf(AccountOf(target)) : nullptr;
        if (!to) {
            if (s.failedTargets.insert(target).second) {
                failedBy[target].push_back(s.id);
                P2PSessionConnectFail fail{};
                fail.remote = target;
                fail.error = kP2PErrorNotRunningApp;
                SendEvent(s.id, P2PSessionConnectFail::kCallbackId, 0, &fail, sizeof fail);
            }
            return true;
        }
        Writer w(kP2PPacket);
        w.U64(s.user).U8(reliable ? 1 : 0).I32(channel).Bytes(data, n);
        Send(to->id, w);
        return true;
    }
    case kGetTicket: {
        if (!r.AtEnd()) return false;
        const uint32_t handle = nextTicket++;
        const uint64_t nonce = Mix(secret ^ 0x5555, handle);
        tickets[handle] = Ticket{s.user, nonce, false};
        uint8_t bytes[kTicketSize];
        std::memcpy(bytes, kTicketMagic, 4);
        const uint64_t sig = Sign(s.user, handle, nonce);
        for (int i = 0; i < 8; ++i) {
            bytes[4 + i] = static_cast<uint8_t>(s.user >> (8 * i));
            bytes[16 + i] = static_cast<uint8_t>(nonce >> (8 * i));
            bytes[24 + i] = static_cast<uint8_t>(sig >> (8 * i));
        }
        for (int i = 0; i < 4; ++i) bytes[12 + i] = static_cast<uint8_t>(handle >> (8 * i));
        Writer w(kReply, r.Sequence());
        w.U32(handle).Bytes(bytes, kTicketSize);
        Send(s.id, w);
        return true;
    }
    case kCancelTicket: {
        const uint32_t handle = r.U32();
        if (r.Failed() || !r.AtEnd()) return false;
        auto it = tickets.find(handle);
        if (it != tickets.end() && it->second.user == s.user) it->second.cancelled = true;
        return true;
    }
    case kValidateTicket: {
        const OnlineId claimed = r.U64();
        const uint32_t forced = r.U32();
        uint32_t n = 0;
        const uint8_t* t = r.Bytes(kMaxTicketBytes, &n);
        if (r.Failed() || !r.AtEnd()) return false;
        ValidateAuthTicketResponse v{};
        v.user = claimed;
        v.owner = claimed;
        v.response = kAuthTicketInvalid;
        if (n == kTicketSize && std::memcmp(t, kTicketMagic, 4) == 0) {
            uint64_t user = 0, nonce = 0, sig = 0;
            uint32_t handle = 0;
            for (int i = 0; i < 8; ++i) {
                user |= static_cast<uint64_t>(t[4 + i]) << (8 * i);
                nonce |= static_cast<uint64_t>(t[16 + i]) << (8 * i);
                sig |= static_cast<uint64_t>(t[24 + i]) << (8 * i);
            }
            for (int i = 0; i < 4; ++i) handle |= static_cast<uint32_t>(t[12 + i]) << (8 * i);
            auto it = tickets.find(handle);
            if (user == claimed && sig == Sign(user, handle, nonce) && it != tickets.end() && it->second.user == user &&
                it->second.nonce == nonce)
                v.response = it->second.cancelled ? kAuthTicketCanceled : kAuthOK;
        }
        if (v.response == kAuthOK && forced) v.response = forced;
        SendEvent(s.id, ValidateAuthTicketResponse::kCallbackId, 0, &v, sizeof v);
        return true;
    }
    case kUserInfo: {
        const OnlineId user = r.U64();
        if (r.Failed() || !r.AtEnd()) return false;
        if (!IsValidUserId(user)) return true;
        const std::vector<uint32_t> friends = store.Friends(AccountOf(s.user));
        const bool isFriend = std::find(friends.begin(), friends.end(), AccountOf(user)) != friends.end();
        Writer w(kUserKnown);
        w.U64(user).Text(PersonaOf(AccountOf(user))).U8(isFriend).U8(1);
        Send(s.id, w);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace online
