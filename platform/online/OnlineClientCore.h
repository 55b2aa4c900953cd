#pragma once
// Private client state of one OnlineContext.
//
// Locks: `state` guards every cache and queue; it is never held while sending to the
// broker (an in-process broker delivers to other clients while its own lock is held,
// and those clients may be sending at the same time). `dispatch` (recursive) is held
// while callbacks run and by Register/Unregister, so an unregistered target is never
// called afterwards.
#include "platform/online/Online.h"
#include "platform/online/OnlineWire.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace online {

class Transport {
public:
    virtual ~Transport() = default;
    virtual bool Send(const std::vector<uint8_t>& frame) = 0;
    virtual void Close() = 0;  // no delivery to the client after this returns
};

class ClientCore {
public:
    explicit ClientCore(const ClientConfig& config);
    ~ClientCore();

    // Called by the transport (its reader thread, or the in-process broker).
    void OnFrame(const uint8_t* body, size_t size);
    void OnDisconnected();

    // Hello exchange; false when the broker does not answer (*unanswered set) or refuses
    // the sign-in.
    // replyLimit caps the wait for the broker's answer to the sign-in (0: the usual wait).
    bool Start(std::unique_ptr<Transport> transport, std::string* error, bool* unanswered = nullptr,
               std::chrono::milliseconds replyLimit = std::chrono::milliseconds(0));
    void Stop();

    // Request/reply: false when the broker is gone or does not answer in time.
    bool Call(wire::Writer& request, std::vector<uint8_t>* reply, std::chrono::milliseconds limit = std::chrono::milliseconds(0));
    bool Post(wire::Writer& message);
    uint32_t NextSequence() { return nextSequence.fetch_add(1); }
    CallHandle NewCall(int callbackId);
    void Queue(int callbackId, CallHandle call, const void* record, size_t size, bool ioFailure = false);
    void Warn(int severity, const char* fmt, ...);
    const char* KeepText(const std::string& text);  // thread-local ring of 8 answers
    // Accepts packets from remote from now on, releasing those held for it (caller holds `state`).
    void OpenSession(OnlineId remote);

    void RunCallbacks();
    void RegisterCallback(CallbackBase* target, int callbackId);
    void UnregisterCallback(CallbackBase* target);
    void RegisterCallResult(CallbackBase* target, CallHandle call);
    void UnregisterCallResult(CallbackBase* target, CallHandle call);

    struct LobbyMember {
        OnlineId id = 0;
        std::map<std::string, std::string> data;
    };
    struct LobbyCache {
        OnlineId id = 0;
        int32_t type = 0;
        int32_t maxMembers = 0;
        bool joinable = false;
        OnlineId owner = 0;
        std::map<std::string, std::string> data;
        std::vector<LobbyMember> members;
    };
    struct ChatEntry {
        OnlineId lobby = 0;
        uint32_t chatId = 0;
        OnlineId user = 0;
        std::vector<uint8_t> bytes;
    };
    struct UserCache {
        std::string persona;
        bool known = false;  // the persona came from the broker
        bool isFriend = false;
        uint64_t knownAtPump = 0;     // RequestUserInformation answers false from this pump on
        uint64_t avatarAtPump = 0;    // avatar handle valid from this pump on
        bool avatarRequested = false;
        bool infoRequested = false;
    };
    struct Packet {
        OnlineId from = 0;
        int32_t channel = 0;
        int64_t readyAt = 0;  // counter ticks
        uint64_t order = 0;
        std::vector<uint8_t> bytes;
    };
    struct Stat {
        std::string name;
        int type = 0;
        uint32_t bits = 0;
    };
    struct Board {
        std::string name;
        int32_t count = 0;
    };
    struct Downloaded {
        std::vector<LeaderboardEntry> entries;
        std::vector<std::vector<int32_t>> details;
    };
    struct Pending {
        int callbackId = 0;
        CallHandle call = 0;
        bool ioFailure = false;
        uint64_t age = 0;  // pumps seen while waiting for a binding
        std::vector<uint8_t> record;
    };

    const ClientConfig config;
    const OnlineId self;

    std::mutex state;
    std::condition_variable replied;
    std::map<uint32_t, std::vector<uint8_t>> replies;  // sequence -> reply body
    std::set<uint32_t> awaiting;
    std::deque<Pending> queue;
    std::map<CallHandle, int> outstanding;  // call -> callback id, until its result arrives
    std::map<OnlineId, LobbyCache> lobbies;
    std::deque<ChatEntry> chat;
    std::vector<OnlineId> lobbyList;
    struct Filters {
        std::vector<std::tuple<std::string, std::string, int32_t>> strings;
        std::vector<std::tuple<std::string, int32_t, int32_t>> numbers;
        std::vector<std::pair<std::string, int32_t>> near;
        int32_t count = 0;
    } filters;  // lobby list filters gathered until RequestLobbyList
    std::map<OnlineId, UserCache> users;
    std::vector<OnlineId> avatarUsers;  // image handle - 1 -> user
    std::set<OnlineId> accepted;        // P2P sessions open on our side
    std::set<OnlineId> requested;       // session request raised, not yet accepted
    std::deque<Packet> ready;           // accepted packets
    std::map<OnlineId, std::deque<Packet>> held;  // waiting for AcceptP2PSessionWithUser
    size_t heldCount = 0;
    uint64_t packetOrder = 0;
    uint64_t rng = 0;
    bool statsReceived = false;
    std::vector<Stat> stats;
    std::vector<std::pair<std::string, bool>> achievements;
    std::set<OnlineId> authSessions;
    std::map<LeaderboardHandle, Board> boards;
    std::map<LeaderboardEntriesHandle, Downloaded> downloads;
    LeaderboardEntriesHandle nextEntries = 1;
    uint64_t pumps = 0;  // RunCallbacks count
    WarningHook hook = nullptr;

    std::recursive_mutex dispatch;
    std::map<int, std::vector<CallbackBase*>> callbacks;
    std::map<CallHandle, CallbackBase*> bindings;
    std::map<CallbackBase*, CallHandle> boundTo;
    std::deque<Pending> unclaimed;

    std::atomic<bool> connected{false};
    std::atomic<bool> answerRefused{false};  // network: the broker refused our answer to its challenge
    std::atomic<uint32_t> nextSequence{1};
    std::atomic<uint64_t> nextCall{1};
    std::mutex transportLock;  // guards the transport pointer's lifetime, not sends
    std::unique_ptr<Transport> transport;
    std::shared_ptr<void> keepAlive;  // offline mode: the private in-process broker

private:
    void ApplyLobbySnapshot(wire::Reader& r, LobbyCache* out);
    bool OnPacket(wire::Reader& r);  // false: malformed
    uint32_t Random(uint32_t below);
};

}  // namespace online
