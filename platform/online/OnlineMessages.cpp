// Each message's fields in order (see OnlineMessages.h).
#include "platform/online/OnlineMessages.h"

#include "platform/online/OnlineSocket.h"

#include <cassert>

namespace online::wire {

namespace {

constexpr uint32_t kMaxDataEntries = 4096;  // of a lobby's or a member's data in a snapshot

bool Done(const Reader& r) { return !r.Failed() && r.AtEnd(); }

void WriteMap(Writer& w, const std::map<std::string, std::string>& data) {
    w.U32(static_cast<uint32_t>(data.size()));
    for (const auto& [k, v] : data) w.Text(k).Text(v);
}

void ReadMap(Reader& r, std::map<std::string, std::string>* data) {
    const uint32_t n = r.Count(kMaxDataEntries, 8);
    for (uint32_t i = 0; i < n && !r.Failed(); ++i) {
        std::string k = r.Text(kMaxKey);
        (*data)[k] = r.Text(kMaxValue);
    }
}

void WriteDetails(Writer& w, const std::vector<int32_t>& details) {
    w.U32(static_cast<uint32_t>(details.size()));
    for (int32_t d : details) w.I32(d);
}

void ReadDetails(Reader& r, std::vector<int32_t>* details) {
    details->resize(r.Count(kMaxLeaderboardDetails, 4));
    for (int32_t& d : *details) d = r.I32();
}

}  // namespace

Writer EncodeHello(uint32_t sequence, const Hello& m) {
    Writer w(kHello, sequence);
    w.U32(m.account).Text(m.persona).U32(m.appId).Text(m.language);
    return w;
}

bool ReadHello(Reader& r, Hello* m) {
    m->account = r.U32();
    m->persona = r.Text(kMaxName);
    m->appId = r.U32();
    m->language = r.Text(kMaxLanguage);
    return Done(r);
}

Writer EncodeHelloReply(uint32_t sequence, const HelloReply& m) {
    Writer w(kReply, sequence);
    w.U8(m.signedIn ? 1 : 0).U32(static_cast<uint32_t>(m.friends.size()));
    for (const auto& [id, persona] : m.friends) w.U64(id).Text(persona);
    return w;
}

bool ReadHelloReply(Reader& r, HelloReply* m) {
    m->signedIn = r.U8() != 0;
    m->friends.resize(r.Count(kMaxFriendsInHello, 12));
    for (auto& [id, persona] : m->friends) {
        id = r.U64();
        persona = r.Text(kMaxName);
    }
    return Done(r);
}

Writer EncodeAuthAnswer(const uint8_t* answer, uint32_t size) {
    Writer w(kAuthAnswer);
    w.Bytes(answer, size);
    return w;
}

bool ReadChallenge(Reader& r, const uint8_t** challenge) {
    uint32_t n = 0;
    *challenge = r.Bytes(kChallengeBytes, &n);
    return Done(r) && n == kChallengeBytes;
}

Writer EncodeCreateLobby(const CreateLobby& m) {
    Writer w(kCreateLobby);
    w.U64(m.call).I32(m.type).I32(m.maxMembers);
    return w;
}

bool ReadCreateLobby(Reader& r, CreateLobby* m) {
    m->call = r.U64();
    m->type = r.I32();
    m->maxMembers = r.I32();
    return Done(r);
}

Writer EncodeJoinLobby(const JoinLobby& m) {
    Writer w(kJoinLobby);
    w.U64(m.call).U64(m.lobby);
    return w;
}

bool ReadJoinLobby(Reader& r, JoinLobby* m) {
    m->call = r.U64();
    m->lobby = r.U64();
    return Done(r);
}

Writer EncodeLobbyId(Kind kind, OnlineId lobby) {
    assert(kind == kLeaveLobby || kind == kLobbyGone);
    Writer w(kind);
    w.U64(lobby);
    return w;
}

bool ReadLobbyId(Reader& r, OnlineId* lobby) {
    *lobby = r.U64();
    return Done(r);
}

Writer EncodeLobbyData(Kind kind, const LobbyDataEntry& m) {
    assert(kind == kSetLobbyData || kind == kSetMemberData);
    Writer w(kind);
    w.U64(m.lobby).Text(m.key).Text(m.value);
    return w;
}

bool ReadLobbyData(Reader& r, LobbyDataEntry* m) {
    m->lobby = r.U64();
    m->key = r.Text(kMaxKey);
    m->value = r.Text(kMaxValue);
    return Done(r);
}

Writer EncodeLobbyList(const LobbyListRequest& m) {
    Writer w(kLobbyList);
    w.U64(m.call).U32(static_cast<uint32_t>(m.strings.size()));
    for (const auto& f : m.strings) w.Text(f.key).Text(f.value).I32(f.compare);
    w.U32(static_cast<uint32_t>(m.numbers.size()));
    for (const auto& f : m.numbers) w.Text(f.key).I32(f.value).I32(f.compare);
    w.U32(static_cast<uint32_t>(m.near.size()));
    for (const auto& f : m.near) w.Text(f.key).I32(f.value);
    w.I32(m.resultCount);
    return w;
}

bool ReadLobbyList(Reader& r, LobbyListRequest* m) {
    m->call = r.U64();
    m->strings.resize(r.Count(LobbyListRequest::kMaxFilters, 12));
    for (auto& f : m->strings) {
        f.key = r.Text(kMaxKey);
        f.value = r.Text(kMaxValue);
        f.compare = r.I32();
    }
    m->numbers.resize(r.Count(LobbyListRequest::kMaxFilters, 12));
    for (auto& f : m->numbers) {
        f.key = r.Text(kMaxKey);
        f.value = r.I32();
        f.compare = r.I32();
    }
    m->near.resize(r.Count(LobbyListRequest::kMaxFilters, 8));
    for (auto& f : m->near) {
        f.key = r.Text(kMaxKey);
        f.value = r.I32();
    }
    m->resultCount = r.I32();
    return Done(r);
}

void WriteSnapshotHead(Writer& w, OnlineId id, int32_t type, int32_t maxMembers, bool joinable, OnlineId owner) {
    w.U64(id).I32(type).I32(maxMembers).U8(joinable ? 1 : 0).U64(owner);
}

void WriteSnapshotData(Writer& w, const std::map<std::string, std::string>& data) { WriteMap(w, data); }

void WriteSnapshotMemberCount(Writer& w, uint32_t count) { w.U32(count); }

void WriteSnapshotMember(Writer& w, OnlineId id, const std::string& persona, const std::map<std::string, std::string>& data) {
    w.U64(id).Text(persona);
    WriteMap(w, data);
}

void WriteLobbySnapshot(Writer& w, const LobbySnapshot& m) {
    WriteSnapshotHead(w, m.id, m.type, m.maxMembers, m.joinable, m.owner);
    WriteSnapshotData(w, m.data);
    WriteSnapshotMemberCount(w, static_cast<uint32_t>(m.members.size()));
    for (const auto& member : m.members) WriteSnapshotMember(w, member.id, member.persona, member.data);
}

bool ReadLobbySnapshot(Reader& r, LobbySnapshot* m) {
    m->id = r.U64();
    m->type = r.I32();
    m->maxMembers = r.I32();
    m->joinable = r.U8() != 0;
    m->owner = r.U64();
    ReadMap(r, &m->data);
    const uint32_t n = r.Count(256, 16);
    for (uint32_t i = 0; i < n && !r.Failed(); ++i) {
        LobbySnapshot::Member member;
        member.id = r.U64();
        member.persona = r.Text(kMaxName);
        ReadMap(r, &member.data);
        if (!r.Failed()) m->members.push_back(std::move(member));
    }
    return !r.Failed();
}

Writer BeginLobbyListResult(CallHandle call, uint32_t count) {
    Writer w(kLobbyListResult);
    w.U64(call).U32(count);
    return w;
}

bool ReadLobbyListResult(Reader& r, LobbyListResult* m) {
    m->call = r.U64();
    m->lobbies.resize(r.Count(kMaxLobbiesListed, 33));
    for (LobbySnapshot& l : m->lobbies)
        if (!ReadLobbySnapshot(r, &l)) break;
    return Done(r);
}

Writer EncodeEvent(int32_t callbackId, CallHandle call, const void* record, size_t size) {
    Writer w(kEvent);
    w.I32(callbackId).U64(call).Bytes(record, size);
    return w;
}

bool ReadEvent(Reader& r, EventMessage* m) {
    m->callbackId = r.I32();
    m->call = r.U64();
    m->record = r.Bytes(kMaxCallbackRecord, &m->size);
    return Done(r);
}

Writer EncodePeerFrame(Kind kind, const PeerFrame& m) {
    assert(kind == kP2PSend || kind == kP2PPacket);
    Writer w(kind);
    w.Reserve(1 + 4 + 8 + 1 + 4 + 4 + m.size);
    w.U64(m.peer).U8(m.reliable ? 1 : 0).I32(m.channel).Bytes(m.data, m.size);
    return w;
}

bool ReadPeerFrame(Reader& r, PeerFrame* m) {
    m->peer = r.U64();
    m->reliable = r.U8() != 0;
    m->channel = r.I32();
    m->data = r.Bytes(kMaxReliablePacket, &m->size);
    return Done(r);
}

Writer EncodeStoreStats(uint32_t sequence, const StoreStats& m) {
    Writer w(kStoreStats, sequence);
    w.U32(static_cast<uint32_t>(m.stats.size()));
    for (const StatValue& s : m.stats) w.Text(s.name).U8(s.type).U32(s.bits);
    w.U32(static_cast<uint32_t>(m.achievements.size()));
    for (const auto& [name, unlocked] : m.achievements) w.Text(name).U8(unlocked ? 1 : 0);
    return w;
}

bool ReadStoreStats(Reader& r, StoreStats* m) {
    m->stats.resize(r.Count(kMaxSchemaEntries, 9));
    for (StatValue& s : m->stats) {
        s.name = r.Text(kMaxStatName);
        s.type = r.U8();
        s.bits = r.U32();
    }
    m->achievements.resize(r.Count(kMaxSchemaEntries, 5));
    for (auto& [name, unlocked] : m->achievements) {
        name = r.Text(kMaxStatName);
        unlocked = r.U8() != 0;
    }
    return Done(r);
}

Writer EncodeStoreStatsReply(uint32_t sequence, const StoreStatsReply& m) {
    Writer w(kReply, sequence);
    w.U32(m.result).U32(static_cast<uint32_t>(m.newlyUnlocked.size()));
    for (const std::string& n : m.newlyUnlocked) w.Text(n);
    return w;
}

bool ReadStoreStatsReply(Reader& r, StoreStatsReply* m) {
    m->result = r.U32();
    m->newlyUnlocked.resize(r.Count(kMaxSchemaEntries, 4));
    for (std::string& n : m->newlyUnlocked) n = r.Text(kMaxStatName);
    return Done(r);
}

Writer EncodeFindLeaderboard(const FindLeaderboard& m) {
    Writer w(kFindLeaderboard);
    w.U64(m.call).Text(m.name);
    return w;
}

bool ReadFindLeaderboard(Reader& r, FindLeaderboard* m) {
    m->call = r.U64();
    m->name = r.Text(kMaxName);
    return Done(r);
}

Writer EncodeLeaderboardInfo(const LeaderboardInfo& m) {
    Writer w(kLeaderboardInfo);
    w.U64(m.call).U64(m.board).Text(m.name).I32(m.entryCount).U8(m.found ? 1 : 0);
    return w;
}

bool ReadLeaderboardInfo(Reader& r, LeaderboardInfo* m) {
    m->call = r.U64();
    m->board = r.U64();
    m->name = r.Text(kMaxName);
    m->entryCount = r.I32();
    m->found = r.U8() != 0;
    return Done(r);
}

Writer EncodeDownloadEntries(const DownloadEntries& m) {
    Writer w(kDownloadEntries);
    w.U64(m.call).U64(m.board).I32(m.request).I32(m.start).I32(m.end);
    return w;
}

bool ReadDownloadEntries(Reader& r, DownloadEntries* m) {
    m->call = r.U64();
    m->board = r.U64();
    m->request = r.I32();
    m->start = r.I32();
    m->end = r.I32();
    return Done(r);
}

Writer BeginEntries(CallHandle call, uint64_t board, int32_t entryCount, uint32_t rows) {
    Writer w(kEntries);
    w.U64(call).U64(board).I32(entryCount).U32(rows);
    return w;
}

void WriteEntryRow(Writer& w, OnlineId user, const std::string& persona, int32_t rank, int32_t score,
                   const std::vector<int32_t>& details) {
    w.U64(user).Text(persona).I32(rank).I32(score);
    WriteDetails(w, details);
}

bool ReadEntries(Reader& r, Entries* m) {
    m->call = r.U64();
    m->board = r.U64();
    m->entryCount = r.I32();
    m->rows.resize(r.Count(kMaxEntriesListed, 24));
    for (Entries::Row& row : m->rows) {
        row.user = r.U64();
        row.persona = r.Text(kMaxName);
        row.rank = r.I32();
        row.score = r.I32();
        ReadDetails(r, &row.details);
        if (r.Failed()) break;
    }
    return Done(r);
}

Writer EncodeUploadScore(const UploadScore& m) {
    Writer w(kUploadScore);
    w.U64(m.call).U64(m.board).I32(m.method).I32(m.score);
    WriteDetails(w, m.details);
    return w;
}

bool ReadUploadScore(Reader& r, UploadScore* m) {
    m->call = r.U64();
    m->board = r.U64();
    m->method = r.I32();
    m->score = r.I32();
    ReadDetails(r, &m->details);
    return Done(r);
}

Writer EncodeScoreUploaded(const ScoreUploaded& m) {
    Writer w(kScoreUploaded);
    w.U64(m.call).U8(m.success ? 1 : 0).U64(m.board).I32(m.score).U8(m.changed ? 1 : 0);
    w.I32(m.rankNew).I32(m.rankPrevious).I32(m.entryCount);
    return w;
}

bool ReadScoreUploaded(Reader& r, ScoreUploaded* m) {
    m->call = r.U64();
    m->success = r.U8() != 0;
    m->board = r.U64();
    m->score = r.I32();
    m->changed = r.U8() != 0;
    m->rankNew = r.I32();
    m->rankPrevious = r.I32();
    m->entryCount = r.I32();
    return Done(r);
}

}  // namespace online::wire
