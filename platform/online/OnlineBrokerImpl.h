#pragma once
// Private state of BrokerCore, shared by its source files.
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineWire.h"

#include <atomic>
#include <cassert>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace online {

constexpr int32_t kMaxLobbyMembers = 250;
constexpr size_t kMaxLobbyEntries = 256;  // data entries of a lobby, and of each member
// Bytes of a member's fixed part in a snapshot: id, persona, entry count.
constexpr uint32_t kSnapshotMemberBytes = 8 + 4 + wire::kMaxName + 4;
// Data (keys and values, 8 bytes of lengths each) that one lobby may hold, so that its
// snapshot, inside a lobby-list answer, always fits one frame.
constexpr uint32_t kMaxLobbyDataBytes = wire::kMaxFrame - kMaxLobbyMembers * kSnapshotMemberBytes - 1024;
static_assert(kMaxLobbyDataBytes > kMaxLobbyEntries * (8 + wire::kMaxKey + wire::kMaxValue),
              "one lobby's full data fits with every member present");

struct BrokerCore::Impl {
    struct Session {
        uint32_t id = 0;
        bool hello = false;
        bool network = false;
        OnlineId user = 0;
        std::string persona;
        uint32_t appId = 0;
        std::string language;
        std::set<OnlineId> lobbies;
        std::set<OnlineId> failedTargets;  // connect failure already reported
    };
    struct Member {
        OnlineId id = 0;
        uint32_t session = 0;
        std::map<std::string, std::string> data;
    };
    struct Lobby {
        OnlineId id = 0;
        int32_t type = 0;
        int32_t maxMembers = 0;
        bool joinable = true;
        OnlineId owner = 0;
        std::vector<Member> members;  // in joining order
        std::map<std::string, std::string> data;
        uint32_t dataBytes = 0;  // of the lobby's and its members' data, as counted by EntryBytes
        uint32_t nextChat = 1;
    };
    struct Ticket {
        OnlineId user = 0;
        uint64_t nonce = 0;
        bool cancelled = false;
    };

    // A frame that waits for a round's synchronisation: a write's answer (round > 0, with
    // its failure), or any frame behind one (round 0).
    struct Held {
        uint64_t round = 0;
        SharedFrame ok, failed;
        OnlineId snapshotOf = 0;
    };

    BrokerOutput* output = nullptr;
    BrokerStore store;
    bool groupCommit = false;
    uint64_t round = 1;                  // the open round
    bool roundHeld = false;              // an answer waits for the open round
    std::set<uint64_t> failedRounds;     // committed in vain, not yet reported
    bool diskFailed = false;             // a synchronisation failed: every later write fails
    uint64_t checkpointAfter = 0;        // the store's commits when a checkpoint was last due
    std::map<uint32_t, std::deque<Held>> held;  // by session, oldest first
    // Leaderboards as stored, best first (by score, ties by upload), read from the store
    // once and kept in step with every score the core writes. Forgotten whenever the
    // store may have changed otherwise: a write that failed, a round that was not
    // committed, the owner's own access (Store()).
    struct Board {
        int32_t sort = 0;
        std::vector<StoredScore> ranked;
    };
    std::map<int64_t, Board> boards;
    StatsSchema schema;
    uint64_t secret = 0;
    uint32_t nextSession = 1;
    uint32_t nextLobby = 1;
    uint32_t nextTicket = 1;
    // Looked up for every peer packet: hashed.
    std::unordered_map<uint32_t, Session> sessions;
    std::unordered_map<uint32_t, uint32_t> byAccount;  // account -> latest session
    // User -> the sessions told that it could not be reached (some may have ended): a
    // sign-in clears only theirs, not every session's.
    std::map<OnlineId, std::vector<uint32_t>> failedBy;
    std::map<OnlineId, Lobby> lobbies;
    std::map<uint32_t, Ticket> tickets;
    std::atomic<bool> inCall{false};

    // Development builds check the contract that the owner serialises every call.
#ifdef NDEBUG
    struct CallScope {
        explicit CallScope(Impl&) {}
    };
#else
    struct CallScope {
        explicit CallScope(Impl& impl) : flag(impl.inCall) {
            [[maybe_unused]] const bool overlapping = flag.exchange(true);
            assert(!overlapping && "BrokerCore calls must be serialised by its owner");
        }
        ~CallScope() { flag = false; }
        std::atomic<bool>& flag;
    };
#endif

    void Send(uint32_t session, wire::Writer& w);
    // A write's answer: ok when the store took the write and it becomes durable, failed
    // when it did not (see BrokerCore::AnswerAfterRound).
    void AnswerWrite(uint32_t session, bool taken, wire::Writer& ok, wire::Writer& failed);
    void AnswerWrite(uint32_t session, bool taken, const SharedFrame& ok, const SharedFrame& failed);
    void Deliver(uint32_t session, const SharedFrame& frame, OnlineId snapshotOf = 0);
    void SendEvent(uint32_t session, int callbackId, CallHandle call, const void* record, size_t size);
    Session* FindSession(uint32_t id);
    Session* SessionOf(uint32_t account);
    std::string PersonaOf(uint32_t account);
    Lobby* FindLobby(OnlineId id);
    void WriteSnapshot(wire::Writer& w, const Lobby& lobby);
    SharedFrame SnapshotFrame(const Lobby& lobby);
    void Broadcast(const Lobby& lobby, const void* record, int callbackId, size_t size, OnlineId skip);
    void DataChanged(const Lobby& lobby, OnlineId member);
    void RemoveMember(OnlineId lobby, OnlineId user, uint32_t flags);
    uint64_t Sign(OnlineId user, uint32_t handle, uint64_t nonce) const;
    const Board* RankedBoard(int64_t id);  // null when there is no such board
    void PutRanked(int64_t id, const StoredScore& score);

    bool HandleHello(Session& s, wire::Reader& r);
    bool HandleLobby(Session& s, wire::Kind kind, wire::Reader& r);
    bool HandleLobbyList(Session& s, wire::Reader& r);
    bool HandlePeer(Session& s, wire::Kind kind, wire::Reader& r);
    bool HandleScores(Session& s, wire::Kind kind, wire::Reader& r);
};

}  // namespace online
