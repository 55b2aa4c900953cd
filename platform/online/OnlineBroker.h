#pragma once
// The online broker: meets users in lobbies, routes peer-to-peer packets, issues and
// checks tickets, and keeps stats, achievements, leaderboards and cloud files.
//
// BrokerCore is the transport-free logic. It is not thread-safe: its owner serialises
// every call (the broker program's single poll loop; LocalBroker's lock), and the
// development build asserts that no two calls overlap. Durable state lives in SQLite (a
// data folder, or memory); a request that changes it is answered only after the change
// is committed, so no acknowledged write is lost when the broker dies. Lobbies, sessions
// and tickets live only as long as the broker.
//
// Group commit (the broker program): the writes of one serving round share one
// transaction, and the disk's synchronisation runs on another thread. The owner ends each
// round with EndRound and reports the synchronisation with Synced; until then the
// answers to the round's writes wait, and so does every later frame to the sessions that
// sent them, so that each session still reads its answers in order.
//
// Every answer fits one frame (wire::kMaxFrame): a lobby's data is capped so that its
// snapshot fits, and a lobby list carries only the lobbies that fit.
//
// LocalBroker serves OnlineContexts of this process directly (no sockets) for unit
// tests and the offline mode. The broker program's serving loop and its control
// commands are in tools/broker.
#include "platform/online/Online.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace online {

struct StatDef {
    std::string name;
    int type = 0;  // 0 signed 32-bit integer, 1 float
};

// What stats and achievements exist. Text format, one entry per line:
//   stat <name> int|float
//   achievement <name>
// Blank lines and lines starting with '#' are skipped.
struct StatsSchema {
    std::vector<StatDef> stats;
    std::vector<std::string> achievements;

    bool Parse(const char* text, size_t size, std::string* error);
    bool Load(const std::string& path, std::string* error);
    const StatDef* FindStat(const std::string& name) const;
    bool HasAchievement(const std::string& name) const;
};

class BrokerStore;

// One whole frame (length prefix included), shared by every session it goes to.
using SharedFrame = std::shared_ptr<const std::vector<uint8_t>>;

// Where BrokerCore's frames go. Deliver must not call back into the core.
class BrokerOutput {
public:
    virtual ~BrokerOutput() = default;
    // snapshotOf: the lobby whose snapshot the frame is, 0 for any other frame. A later
    // snapshot of the same lobby may replace one that still waits unsent: the member
    // then reads newer data, never older.
    virtual void Deliver(uint32_t session, const SharedFrame& frame, OnlineId snapshotOf) = 0;
};

class BrokerCore {
public:
    explicit BrokerCore(BrokerOutput* output);
    ~BrokerCore();
    BrokerCore(const BrokerCore&) = delete;
    BrokerCore& operator=(const BrokerCore&) = delete;

    // dataDir empty: state in memory only. False (with the reason) when the store
    // cannot be opened.
    bool Open(const std::string& dataDir, const StatsSchema& schema, std::string* error);
    // Before Open: group commit (above).
    void UseGroupCommit();
    // Group commit: commits the round's writes without waiting for the disk. The round
    // whose synchronisation the answers wait for, or 0 when none wait.
    uint64_t EndRound();
    // Group commit: every round up to `round` is on disk (synced), or its synchronisation
    // failed. The answers that waited go out: a write's as a failure when its round's
    // commit or synchronisation failed. Rounds are reported in order. After one failed
    // synchronisation every later write fails too (the disk may have dropped the log's
    // earlier frames, and the later ones would not survive a restart without them).
    void Synced(uint64_t round, bool synced);
    // Group commit: the log has grown long enough for a checkpoint. While one runs (on the
    // syncing thread) the owner ends no round, so that it copies the whole log. True at
    // most once per commit: the log is the same until the next one.
    bool CheckpointDue();
    // Answers a session after the writes of this round are durable: ok once synced,
    // failed otherwise (without group commit, ok at once). For the owner's own writes
    // through Store(), such as control commands.
    void AnswerAfterRound(uint32_t session, const SharedFrame& ok, const SharedFrame& failed);

    // network: the session came over TCP; its hello may not name an account that is
    // signed in already (a player on the network cannot take over another's packets):
    // such a hello is answered with a refusal and the session stays without identity.
    uint32_t AddSession(bool network = false);
    // One frame body from a session. False: the message was malformed or oversized and
    // nothing of it was applied; the caller closes the session. Control messages are the
    // broker program's, not the core's: they are refused here.
    bool Handle(uint32_t session, const uint8_t* body, size_t size);
    // The session's connection ended; its lobbies see it disconnect.
    void RemoveSession(uint32_t session);

    // The durable state, for the broker program's control commands (same serialisation).
    BrokerStore& Store();

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};

class LocalBroker {
public:
    LocalBroker();
    ~LocalBroker();  // connected contexts see their connection lost
    LocalBroker(const LocalBroker&) = delete;
    LocalBroker& operator=(const LocalBroker&) = delete;

    bool Open(const std::string& dataDir, const StatsSchema& schema, std::string* error);
    // A new signed-in context (config's broker and offline fields are ignored).
    std::unique_ptr<OnlineContext> CreateClient(const ClientConfig& config, std::string* error = nullptr);
    // Runs fn on the durable state under the broker's lock (administration and tests);
    // false when the broker is not open.
    bool WithStore(const std::function<bool(BrokerStore&)>& fn);

    struct Shared;

private:
    std::shared_ptr<Shared> shared;
};

}  // namespace online
