// The in-memory driver pair. Every queue lives under the link's lock; observer events
// are raised outside it, from Tick, on the endpoint's own engine thread.
#include "net/LoopbackNetDriver.h"

#include <cstring>

#include "net/base/NetConstants.h"
#include "platform/os/Clock.h"

namespace {
constexpr int32_t kLoopbackPeer = 1;
}

LoopbackLink::LoopbackLink(uint32_t seed) : rng(seed ? seed : 1) {}

int64_t LoopbackLink::NowUs() { return os::ReadCounter() / (os::kCounterFrequency / 1000000); }

uint32_t LoopbackLink::Random() {
    rng = rng * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(rng >> 33);
}

void LoopbackLink::SetConditions(int direction, const LoopbackConditions& c) {
    std::lock_guard<std::mutex> lock(mutex);
    conditions[direction & 1] = c;
}

void LoopbackLink::SetPartition(int direction, int64_t fromUs, int64_t untilUs) {
    std::lock_guard<std::mutex> lock(mutex);
    partitionFrom[direction & 1] = fromUs;
    partitionUntil[direction & 1] = untilUs;
}

void LoopbackLink::SetDelayRule(int direction, DelayRule rule) {
    std::lock_guard<std::mutex> lock(mutex);
    delayRules[direction & 1] = std::move(rule);
}

LoopbackNetDriver& LoopbackNetDriver::Other() { return index == 0 ? link->b : link->a; }

void LoopbackNetDriver::RaiseLocal(std::function<void(Network::NetDriverObserver&)> event) { localEvents.push_back(std::move(event)); }

uint32_t LoopbackNetDriver::Listen(uint32_t) {
    std::lock_guard<std::mutex> lock(link->mutex);
    if (listening) return NETERROR_PORT_IN_USE;
    listening = true;
    RaiseLocal([](Network::NetDriverObserver& o) { o.OnDriverListening(); });
    return NETERROR_OK;
}

uint32_t LoopbackNetDriver::Connect(const char*, uint32_t, uint32_t) {
    std::lock_guard<std::mutex> lock(link->mutex);
    if (peer != PeerState::None) return NETERROR_INVALIDSTATE;
    peer = PeerState::Connecting;
    Other().controls.push_back(Control::ConnectRequest);
    return NETERROR_OK;
}

void LoopbackNetDriver::Answer(int32_t p, bool accepted) {
    std::lock_guard<std::mutex> lock(link->mutex);
    if (p != kLoopbackPeer || peer != PeerState::Asking) return;
    if (accepted) {
        peer = PeerState::Connected;
        Other().controls.push_back(Control::Accept);
        RaiseLocal([](Network::NetDriverObserver& o) { o.OnPeerConnected(kLoopbackPeer); });
    } else {
        peer = PeerState::None;
        Other().controls.push_back(Control::Reject);
        RaiseLocal([](Network::NetDriverObserver& o) { o.OnPeerDisconnected(kLoopbackPeer, NETERROR_REJECTED); });
    }
}

void LoopbackNetDriver::Disconnect() {
    std::lock_guard<std::mutex> lock(link->mutex);
    if (peer == PeerState::None) return;
    Other().controls.push_back(Control::Goodbye);
    peer = PeerState::None;
    RaiseLocal([](Network::NetDriverObserver& o) { o.OnPeerDisconnected(kLoopbackPeer, NETERROR_OK); });
}

void LoopbackNetDriver::Reset() {
    std::lock_guard<std::mutex> lock(link->mutex);
    if (peer != PeerState::None) Other().controls.push_back(Control::Goodbye);
    peer = PeerState::None;
    listening = false;
    controls.clear();
    inbox.clear();
    localEvents.clear();
}

bool LoopbackNetDriver::IsConnected() const {
    std::lock_guard<std::mutex> lock(link->mutex);
    return peer == PeerState::Connected;
}

void LoopbackNetDriver::Send(int32_t p, const uint8_t* data, uint32_t length, uint32_t kind) {
    std::function<void(const uint8_t*, uint32_t, uint32_t)> sendTap;
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        sendTap = tap;
    }
    if (sendTap) sendTap(data, length, kind);
    std::lock_guard<std::mutex> lock(link->mutex);
    if (p != kLoopbackPeer || peer != PeerState::Connected) return;
    ++framesSent;
    const int64_t now = LoopbackLink::NowUs();
    const LoopbackConditions& c = link->conditions[index];
    if (now >= link->partitionFrom[index] && now < link->partitionUntil[index]) return;
    if (c.loss > 0.0 && double(link->Random() % 1000000) < c.loss * 1000000.0) return;
    int64_t delay = c.delayUs;
    if (c.jitterUs > 0) delay += int64_t(link->Random() % uint32_t(2 * c.jitterUs + 1)) - c.jitterUs;
    if (link->delayRules[index]) delay += link->delayRules[index](data, length, kind);
    if (delay < 0) delay = 0;
    Frame f;
    f.deliverAt = now + delay;
    f.kind = kind;
    f.bytes.assign(data, data + length);
    std::deque<Frame>& box = Other().inbox;
    auto at = box.end();
    while (at != box.begin() && (at - 1)->deliverAt > f.deliverAt) --at;
    box.insert(at, std::move(f));
}

bool LoopbackNetDriver::Tick() {
    std::deque<std::function<void(Network::NetDriverObserver&)>> events;
    std::vector<Frame> frames;
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        events.swap(localEvents);
        while (!controls.empty()) {
            const Control c = controls.front();
            controls.pop_front();
            switch (c) {
            case Control::ConnectRequest:
                if (listening && peer == PeerState::None) {
                    peer = PeerState::Asking;
                    events.push_back([](Network::NetDriverObserver& o) { o.OnPeerConnecting(kLoopbackPeer); });
                } else {
                    Other().controls.push_back(Control::Reject);
                }
                break;
            case Control::Accept:
                if (peer == PeerState::Connecting) {
                    peer = PeerState::Connected;
                    events.push_back([](Network::NetDriverObserver& o) { o.OnPeerConnected(kLoopbackPeer); });
                }
                break;
            case Control::Reject:
                if (peer == PeerState::Connecting) {
                    peer = PeerState::None;
                    events.push_back([](Network::NetDriverObserver& o) { o.OnPeerDisconnected(kLoopbackPeer, NETERROR_REJECTED); });
                }
                break;
            case Control::Goodbye:
                if (peer != PeerState::None) {
                    const bool wasConnected = peer == PeerState::Connected || peer == PeerState::Asking;
                    peer = PeerState::None;
                    if (wasConnected)
                        events.push_back([](Network::NetDriverObserver& o) { o.OnPeerDisconnected(kLoopbackPeer, NETERROR_OK); });
                    else
                        events.push_back([](Network::NetDriverObserver& o) { o.OnPeerDisconnected(kLoopbackPeer, NETERROR_TIMEOUT); });
                }
                break;
            }
        }
        const int64_t now = LoopbackLink::NowUs();
        while (!inbox.empty() && inbox.front().deliverAt <= now) {
            frames.push_back(std::move(inbox.front()));
            inbox.pop_front();
        }
    }
    if (!observer) return false;
    for (auto& e : events) e(*observer);
    for (Frame& f : frames) observer->OnReceive(kLoopbackPeer, f.bytes.data(), static_cast<uint32_t>(f.bytes.size()), f.kind);
    return false;
}

void LoopbackNetDriver::LobbySendChat(const char16_t* text) {
    std::lock_guard<std::mutex> lock(link->mutex);
    lobbyRequests.push_back(NETCMD_CHAT);
}

void LoopbackNetDriver::LobbySetSelectedMap(uint32_t map) {
    std::lock_guard<std::mutex> lock(link->mutex);
    lobbyRequests.push_back(NETCMD_LOBBY_SET_SELECTED_MAP);
    lobby.selectedMap = static_cast<int32_t>(map);
    if (hasLobby) RaiseLocal([](Network::NetDriverObserver& o) { o.OnLobbyUpdated(); });
}

bool LoopbackNetDriver::GetLobbySnapshot(Network::LobbySnapshot* out) {
    std::lock_guard<std::mutex> lock(link->mutex);
    if (!hasLobby) return false;
    *out = lobby;
    return true;
}

void LoopbackNetDriver::SetLobby(const Network::LobbySnapshot& snapshot) {
    std::lock_guard<std::mutex> lock(link->mutex);
    lobby = snapshot;
    hasLobby = true;
    RaiseLocal([](Network::NetDriverObserver& o) { o.OnLobbyUpdated(); });
}

void LoopbackNetDriver::Inject(uint32_t kind, const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(link->mutex);
    Frame f;
    f.deliverAt = INT64_MIN;
    f.kind = kind;
    f.bytes.assign(data, data + length);
    auto at = inbox.begin();
    while (at != inbox.end() && at->deliverAt == INT64_MIN) ++at;  // behind earlier injections
    inbox.insert(at, std::move(f));
}

void LoopbackNetDriver::SetSendTap(std::function<void(const uint8_t*, uint32_t, uint32_t)> t) {
    std::lock_guard<std::mutex> lock(link->mutex);
    tap = std::move(t);
}

std::vector<uint32_t> LoopbackNetDriver::LobbyRequests() {
    std::lock_guard<std::mutex> lock(link->mutex);
    return lobbyRequests;
}
