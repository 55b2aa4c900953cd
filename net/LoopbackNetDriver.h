#pragma once
// An in-memory driver pair for tests and benchmarks: two endpoints of one LoopbackLink
// reach each other as peer 1. One endpoint listens, the other connects; the listener
// asks its engine (OnPeerConnecting) and answers. Control messages (connect, answer,
// goodbye) arrive reliably at the other endpoint's next Tick; frames travel with the
// direction's loss, delay, jitter and partitions, timed on the replaceable counter
// (os::ReadCounter), so a test on os::ManualClock decides when they arrive.
//
// Threads: each endpoint is called by its own engine's network thread; the link's
// queues are guarded by one lock. Conditions and taps are set by the test while the
// engines are between wakes.
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "net/base/NetDriver.h"

class LoopbackLink;

class LoopbackNetDriver : public Network::NetDriver {
public:
    uint32_t Listen(uint32_t port) override;
    uint32_t Connect(const char* host, uint32_t remotePort, uint32_t localPort) override;
    void Answer(int32_t peer, bool accepted) override;
    void Disconnect() override;
    void Reset() override;
    bool Tick() override;
    void Send(int32_t peer, const uint8_t* data, uint32_t length, uint32_t kind) override;

    void LobbySendChat(const char16_t* text) override;
    void LobbySetSelectedMap(uint32_t map) override;
    bool GetLobbySnapshot(Network::LobbySnapshot* out) override;

    // ---- Test controls ----
    // The lobby the main thread reads; raises OnLobbyUpdated at the next Tick.
    void SetLobby(const Network::LobbySnapshot& snapshot);
    // A frame delivered at the next Tick as if peer 1 had sent it.
    void Inject(uint32_t kind, const uint8_t* data, uint32_t length);
    // Every frame this endpoint sends (before loss), on the sending thread.
    void SetSendTap(std::function<void(const uint8_t*, uint32_t, uint32_t)> tap);
    // Lobby operations this endpoint was asked for, by command id (chat is 15).
    std::vector<uint32_t> LobbyRequests();
    bool IsConnected() const;
    uint64_t FramesSent() const { return framesSent; }

private:
    friend class LoopbackLink;
    enum class PeerState { None, Connecting, Asking, Connected };
    enum class Control { ConnectRequest, Accept, Reject, Goodbye };
    struct Frame {
        int64_t deliverAt = 0;
        uint32_t kind = 0;
        std::vector<uint8_t> bytes;
    };

    LoopbackNetDriver(LoopbackLink* link, int index) : link(link), index(index) {}
    LoopbackNetDriver& Other();
    void RaiseLocal(std::function<void(Network::NetDriverObserver&)> event);

    LoopbackLink* link;
    int index;
    // Guarded by the link's lock.
    bool listening = false;
    PeerState peer = PeerState::None;
    std::deque<Control> controls;
    std::deque<Frame> inbox;  // ordered by delivery time
    std::deque<std::function<void(Network::NetDriverObserver&)>> localEvents;
    std::function<void(const uint8_t*, uint32_t, uint32_t)> tap;
    Network::LobbySnapshot lobby;
    bool hasLobby = false;
    std::vector<uint32_t> lobbyRequests;
    uint64_t framesSent = 0;
};

// One direction's conditions: the share of frames lost, the one-way delay and a
// uniform jitter of +-jitter around it (µs); frames sent while a partition is in force
// are lost.
struct LoopbackConditions {
    double loss = 0.0;
    int64_t delayUs = 0;
    int64_t jitterUs = 0;
};

class LoopbackLink {
public:
    explicit LoopbackLink(uint32_t seed = 1);
    LoopbackLink(const LoopbackLink&) = delete;
    LoopbackLink& operator=(const LoopbackLink&) = delete;

    LoopbackNetDriver* Endpoint(int index) { return index == 0 ? &a : &b; }
    // The endpoints live as long as the link; an engine is given one without owning it.
    // Direction 0 carries frames from endpoint 0 to 1, direction 1 the other way.
    void SetConditions(int direction, const LoopbackConditions& conditions);
    // Frames sent in [fromUs, untilUs) of counter time are lost in that direction.
    void SetPartition(int direction, int64_t fromUs, int64_t untilUs);
    // Chosen frames held back: the rule sees each frame that survives loss (its bytes,
    // length and kind) and returns microseconds added to its delay, so later frames
    // overtake it (null: none). Called on the sending thread under the link's lock.
    using DelayRule = std::function<int64_t(const uint8_t* data, uint32_t length, uint32_t kind)>;
    void SetDelayRule(int direction, DelayRule rule);

private:
    friend class LoopbackNetDriver;
    static int64_t NowUs();
    uint32_t Random();

    std::mutex mutex;
    LoopbackNetDriver a{this, 0};
    LoopbackNetDriver b{this, 1};
    LoopbackConditions conditions[2];
    int64_t partitionFrom[2] = {0, 0};
    int64_t partitionUntil[2] = {0, 0};
    DelayRule delayRules[2];
    uint64_t rng;
};
