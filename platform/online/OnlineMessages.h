#pragma once
// The fields of each message between online clients and the broker, written and read in
// one place (private to the online layer, the broker program and the tools that speak
// to it). Frames and field encodings are OnlineWire.h's; the order of each message's
// fields is here, beside its record, so a client, the broker and a test client cannot
// disagree.
//
// Encode* builds a whole frame's writer. Read* reads a message's fields from a reader
// positioned after the kind and sequence (a reader of a whole frame, or of a reply's body
// as ClientCore::Call hands it) and answers true when every field was read and nothing
// follows; ReadLobbySnapshot, which also sits inside other messages, does not ask for the
// end. Byte fields point into the reader's body and live as long as it does.
#include "platform/online/OnlineTypes.h"
#include "platform/online/OnlineWire.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace online::wire {

constexpr uint32_t kMaxLanguage = 64;
constexpr uint32_t kMaxStatName = 127;
constexpr uint32_t kMaxSchemaEntries = 4096;
constexpr uint32_t kMaxFriendsInHello = 100000;
constexpr uint32_t kMaxCallbackRecord = 1024;
constexpr uint32_t kMaxLobbiesListed = 10000;
constexpr uint32_t kMaxEntriesListed = 5000;

// ---- Signing in ----

struct Hello {
    uint32_t account = 0;
    std::string persona;
    uint32_t appId = 0;
    std::string language;
};
Writer EncodeHello(uint32_t sequence, const Hello& m);
bool ReadHello(Reader& r, Hello* m);

struct HelloReply {
    bool signedIn = false;
    std::vector<std::pair<OnlineId, std::string>> friends;  // user, persona
};
Writer EncodeHelloReply(uint32_t sequence, const HelloReply& m);
bool ReadHelloReply(Reader& r, HelloReply* m);

// The answer to a TCP listener's challenge (see OnlineSocket.h).
Writer EncodeAuthAnswer(const uint8_t* answer, uint32_t size);
// The challenge's bytes: false unless exactly kChallengeBytes came.
bool ReadChallenge(Reader& r, const uint8_t** challenge);

// ---- Lobbies ----

struct CreateLobby {
    CallHandle call = 0;
    int32_t type = 0;
    int32_t maxMembers = 0;
};
Writer EncodeCreateLobby(const CreateLobby& m);
bool ReadCreateLobby(Reader& r, CreateLobby* m);

struct JoinLobby {
    CallHandle call = 0;
    OnlineId lobby = 0;
};
Writer EncodeJoinLobby(const JoinLobby& m);
bool ReadJoinLobby(Reader& r, JoinLobby* m);

// kLeaveLobby and kLobbyGone: a lobby alone.
Writer EncodeLobbyId(Kind kind, OnlineId lobby);
bool ReadLobbyId(Reader& r, OnlineId* lobby);

// kSetLobbyData and kSetMemberData.
struct LobbyDataEntry {
    OnlineId lobby = 0;
    std::string key, value;
};
Writer EncodeLobbyData(Kind kind, const LobbyDataEntry& m);
bool ReadLobbyData(Reader& r, LobbyDataEntry* m);

struct LobbyListRequest {
    struct StringFilter {
        std::string key, value;
        int32_t compare = 0;
    };
    struct NumberFilter {
        std::string key;
        int32_t value = 0, compare = 0;
    };
    struct NearFilter {
        std::string key;
        int32_t value = 0;
    };
    static constexpr uint32_t kMaxFilters = 64;  // of each kind
    CallHandle call = 0;
    std::vector<StringFilter> strings;
    std::vector<NumberFilter> numbers;
    std::vector<NearFilter> near;
    int32_t resultCount = 0;  // 0 or less: the broker's default
};
Writer EncodeLobbyList(const LobbyListRequest& m);
bool ReadLobbyList(Reader& r, LobbyListRequest* m);

// A lobby as the broker shows it (kLobbyState, and each lobby of kLobbyListResult).
struct LobbySnapshot {
    struct Member {
        OnlineId id = 0;
        std::string persona;
        std::map<std::string, std::string> data;
    };
    OnlineId id = 0;
    int32_t type = 0;
    int32_t maxMembers = 0;
    bool joinable = false;
    OnlineId owner = 0;
    std::map<std::string, std::string> data;
    std::vector<Member> members;
};
bool ReadLobbySnapshot(Reader& r, LobbySnapshot* m);
// The broker writes its own lobby records without copying them: the head, the lobby's
// data, the member count, then each member (id, persona, data).
void WriteSnapshotHead(Writer& w, OnlineId id, int32_t type, int32_t maxMembers, bool joinable, OnlineId owner);
void WriteSnapshotData(Writer& w, const std::map<std::string, std::string>& data);
void WriteSnapshotMemberCount(Writer& w, uint32_t count);
void WriteSnapshotMember(Writer& w, OnlineId id, const std::string& persona, const std::map<std::string, std::string>& data);
void WriteLobbySnapshot(Writer& w, const LobbySnapshot& m);

struct LobbyListResult {
    CallHandle call = 0;
    std::vector<LobbySnapshot> lobbies;
};
// The broker writes the call and count, then each lobby's snapshot.
Writer BeginLobbyListResult(CallHandle call, uint32_t count);
bool ReadLobbyListResult(Reader& r, LobbyListResult* m);

// kEvent: a callback record for the client's queue.
struct EventMessage {
    int32_t callbackId = 0;
    CallHandle call = 0;
    const uint8_t* record = nullptr;
    uint32_t size = 0;
};
Writer EncodeEvent(int32_t callbackId, CallHandle call, const void* record, size_t size);
bool ReadEvent(Reader& r, EventMessage* m);

// ---- Peer-to-peer frames: kP2PSend to the broker (peer: the target), kP2PPacket from it
// (peer: the sender) ----

struct PeerFrame {
    OnlineId peer = 0;
    bool reliable = false;
    int32_t channel = 0;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};
Writer EncodePeerFrame(Kind kind, const PeerFrame& m);
bool ReadPeerFrame(Reader& r, PeerFrame* m);

// ---- Stats and leaderboards ----

struct StatValue {
    std::string name;
    uint8_t type = 0;   // 0 integer, 1 float, 2 average rate
    uint32_t bits = 0;  // the value's bits
};
struct StoreStats {
    std::vector<StatValue> stats;
    std::vector<std::pair<std::string, bool>> achievements;  // name, unlocked
};
Writer EncodeStoreStats(uint32_t sequence, const StoreStats& m);
bool ReadStoreStats(Reader& r, StoreStats* m);

struct StoreStatsReply {
    uint32_t result = 0;
    std::vector<std::string> newlyUnlocked;
};
Writer EncodeStoreStatsReply(uint32_t sequence, const StoreStatsReply& m);
bool ReadStoreStatsReply(Reader& r, StoreStatsReply* m);

struct FindLeaderboard {
    CallHandle call = 0;
    std::string name;
};
Writer EncodeFindLeaderboard(const FindLeaderboard& m);
bool ReadFindLeaderboard(Reader& r, FindLeaderboard* m);

struct LeaderboardInfo {
    CallHandle call = 0;
    uint64_t board = 0;
    std::string name;
    int32_t entryCount = 0;
    bool found = false;
};
Writer EncodeLeaderboardInfo(const LeaderboardInfo& m);
bool ReadLeaderboardInfo(Reader& r, LeaderboardInfo* m);

struct DownloadEntries {
    CallHandle call = 0;
    uint64_t board = 0;
    int32_t request = 0;
    int32_t start = 0, end = 0;
};
Writer EncodeDownloadEntries(const DownloadEntries& m);
bool ReadDownloadEntries(Reader& r, DownloadEntries* m);

struct Entries {
    struct Row {
        OnlineId user = 0;
        std::string persona;
        int32_t rank = 0;
        int32_t score = 0;
        std::vector<int32_t> details;
    };
    CallHandle call = 0;
    uint64_t board = 0;
    int32_t entryCount = 0;  // of the whole board
    std::vector<Row> rows;
};
// The broker writes the head, then each row.
Writer BeginEntries(CallHandle call, uint64_t board, int32_t entryCount, uint32_t rows);
void WriteEntryRow(Writer& w, OnlineId user, const std::string& persona, int32_t rank, int32_t score,
                   const std::vector<int32_t>& details);
bool ReadEntries(Reader& r, Entries* m);

struct UploadScore {
    CallHandle call = 0;
    uint64_t board = 0;
    int32_t method = 0;
    int32_t score = 0;
    std::vector<int32_t> details;
};
Writer EncodeUploadScore(const UploadScore& m);
bool ReadUploadScore(Reader& r, UploadScore* m);

struct ScoreUploaded {
    CallHandle call = 0;
    bool success = false;
    uint64_t board = 0;
    int32_t score = 0;
    bool changed = false;
    int32_t rankNew = 0, rankPrevious = 0;
    int32_t entryCount = 0;
};
Writer EncodeScoreUploaded(const ScoreUploaded& m);
bool ReadScoreUploaded(Reader& r, ScoreUploaded* m);

}  // namespace online::wire
