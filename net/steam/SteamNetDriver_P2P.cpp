// The online driver's connection layer: the host listens, the client repeats its
// connection request (frame 1 with its ticket) until the host answers (frame 2 no,
// frame 3 yes with the host's ticket); each side validates the other's ticket; then
// game packets (frame 5) and time-sync frames (6) flow and the link is watched for
// silence (stall at 5 s, drop at 30 s). Frames are untrusted: a frame counts only from
// slot 1's account (or as a new request while accepting), and ticket frames are
// checked against their own length. Network thread only.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "net/base/NetConstants.h"
#include "net/steam/SteamNetDriver.h"
#include "net/steam/SteamNetDriver_Local.h"
#include "platform/os/Clock.h"
#include "platform/os/System.h"

namespace Network {

using ull = unsigned long long;

namespace {

constexpr int64_t kTicksPerMs = os::kCounterFrequency / 1000;

// The ticket of frame 1 or 3: false when the frame is too short or its length field
// exceeds the ticket buffer or the bytes that follow.
bool ReadTicket(const uint8_t* frame, uint32_t length, const uint8_t** ticket, uint32_t* ticketLength) {
    if (length < kTicketFrameHeader) return false;
    uint32_t n = 0;
    std::memcpy(&n, frame + 1, 4);
    if (n > kTicketBytes || n > length - kTicketFrameHeader) return false;
    *ticket = frame + kTicketFrameHeader;
    *ticketLength = n;
    return true;
}

}  // namespace

std::string steamdetail::DateText() {
    os::LocalTime t;
    os::ToLocalTime(os::WallClockSeconds(), &t);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%d:%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
    return text;
}

int64_t SteamNetDriver::NowMs() const { return os::ReadCounter() / kTicksPerMs; }

void SteamNetDriver::ClearPeers() {
    for (DriverPeer& p : peers) p = DriverPeer();
}

// A Listen or Connect without a Disconnect before it replaces an earlier session's peer:
// its ticket's session ends with it, or the service would refuse that player's next
// ticket as a duplicate and the new session would never be validated.
void SteamNetDriver::ClearPeersForNewSession() {
    const DriverPeer& earlier = peers[1];
    if (user && earlier.state != DriverPeer::FREE && online::IsValidUserId(earlier.steamId)) user->EndAuthSession(earlier.steamId);
    ClearPeers();
}

void SteamNetDriver::MakeOwnTicket() {
    if (!user) return;
    if (ticketHandle) user->CancelAuthTicket(ticketHandle);
    ownTicketLength = 0;
    ticketHandle = user->GetAuthSessionTicket(ownTicket, sizeof ownTicket, &ownTicketLength);
    if (ownTicketLength > kTicketBytes) ownTicketLength = 0;
}

void SteamNetDriver::SendConnRequest() {
    uint8_t out[kTicketFrameHeader + kTicketBytes];
    out[0] = STEAMDRIVERMSG_CONN_REQ;
    std::memcpy(out + 1, &ownTicketLength, 4);
    std::memcpy(out + kTicketFrameHeader, ownTicket, ownTicketLength);
    if (net) net->SendP2PPacket(gameServerId, out, kTicketFrameHeader + ownTicketLength, online::kSendUnreliableNoDelay, 0);
    lastConnRequest = os::ReadCounter();
}

uint32_t SteamNetDriver::Listen(uint32_t) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::Listen %s", steamdetail::DateText().c_str());
    gameServerId = 0;
    acceptConnections = 1;
    ClearPeersForNewSession();
    peers[0].steamId = user ? user->GetSteamID() : 0;
    peers[0].state = DriverPeer::CONNECTED;
    peers[0].authorised = 1;
    MakeOwnTicket();
    SetDriverState(GAME_CONNECTING);
    if (observer) observer->OnDriverListening();
    return NETERROR_OK;
}

uint32_t SteamNetDriver::Connect(const char*, uint32_t, uint32_t) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::Connect gameServerSteamID:0x%llX %s", ull(gameServerId),
               steamdetail::DateText().c_str());
    if (!online::IsValidUserId(gameServerId)) {
        gLog.Error(LogCategory::Multiplayer, "Can't connect - invalid server steamID");
        return NETERROR_INVALID_ADDRESS;
    }
    acceptConnections = 0;
    ClearPeersForNewSession();
    peers[0].steamId = user ? user->GetSteamID() : 0;
    peers[0].state = DriverPeer::CONNECTED;
    peers[0].authorised = 1;
    peers[1].steamId = gameServerId;
    peers[1].state = DriverPeer::REQUESTED;
    MakeOwnTicket();
    SendConnRequest();
    SetDriverState(GAME_CONNECTING);
    if (observer) observer->OnDriverConnecting();
    return NETERROR_OK;
}

void SteamNetDriver::Disconnect() {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver:Disconnect");
    DisconnectPeer(0, NETERROR_OK);
    DisconnectPeer(1, NETERROR_OK);
    if (user && ticketHandle) user->CancelAuthTicket(ticketHandle);
    gameServerId = 0;
    ticketHandle = 0;
    ownTicketLength = 0;
    acceptConnections = 0;
    SetDriverState(IDLE);
}

void SteamNetDriver::Reset() {
    Disconnect();
    ClearPeers();
}

bool SteamNetDriver::Tick() {
    const bool got = TickP2PNetworking();
    const int64_t now = os::ReadCounter();
    if (driverState == GAME_CONNECTING && online::IsValidUserId(gameServerId) && now - lastConnRequest > kConnRequestRetryMs * kTicksPerMs) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Conn req retry");
        SendConnRequest();
    }
    DriverPeer& peer = peers[1];
    const uint64_t self = user ? user->GetSteamID() : 0;
    if (driverState == GAME_ACTIVE && peer.state == DriverPeer::CONNECTED && peer.steamId != self && peer.lastReceive != kNoTime) {
        const int64_t silenceMs = (now - peer.lastReceive) / kTicksPerMs;
        if (silenceMs > kPeerDropMs) {
            gLog.Warning(LogCategory::Multiplayer, "Dropping peer due to timeout: PeerID:%d steamID:0x%llX timeout", 1, ull(peer.steamId));
            DisconnectPeer(1, (user && user->BLoggedOn()) ? NETERROR_TIMEOUT_STEAM_ON : NETERROR_TIMEOUT_STEAM_OFF);
            AutoMatchTick();
            return got;
        }
        if (silenceMs > kPeerStallMs && !peer.stalled) {
            peer.stalled = 1;
            if (observer) observer->OnPeerConnectionStall(1);
        } else if (silenceMs < kPeerStallMs && peer.stalled) {
            peer.stalled = 0;
            if (observer) observer->OnPeerConnectionResume(1);
        }
    }
    AutoMatchTick();
    return got;
}

bool SteamNetDriver::TickP2PNetworking() {
    uint32_t available = 0;
    if (!net || !net->IsP2PPacketAvailable(&available, 0)) return false;
    uint32_t length = 0;
    online::OnlineId from = 0;
    if (!net->ReadP2PPacket(frame, kP2PFrameBytes, &length, &from, 0)) return false;
    if (length > kP2PFrameBytes) return true;

    HandleFrame(from, frame, length);
    return true;
}

void SteamNetDriver::HandleFrame(uint64_t from, const uint8_t* data, uint32_t length) {
    if (data != frame) {
        if (length > kP2PFrameBytes) return;
        std::memcpy(frame, data, length);
    }
    int32_t slot = -1;
    if (peers[1].state != DriverPeer::FREE && peers[1].steamId == from) slot = 1;
    if (slot < 0) {
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "TickP2PNetworking - null peerID");
        // Only a connection request comes from a sender the host does not know yet. A
        // session that never sent a well-formed request holds the slot only until
        // another player's well-formed request arrives: a stranger's stray packets must
        // not keep the host's one slot for ever.
        const uint8_t* ticket = nullptr;
        uint32_t ticketLength = 0;
        const bool request = length > 0 && frame[0] == STEAMDRIVERMSG_CONN_REQ;
        if (request && acceptConnections && peers[1].state == DriverPeer::REQUESTED && !peers[1].ticketLength &&
            ReadTicket(frame, length, &ticket, &ticketLength)) {
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Disconnecting peerID:%d steamID:0x%llX", 1, ull(peers[1].steamId));
            peers[1] = DriverPeer();
        }
        if (request) slot = OnP2PSessionRequest(from);
        if (slot < 0) {
            gLog.Error(LogCategory::Multiplayer, "skipping packet from steamID:0x%llX without valid peerID", ull(from));
            return;
        }
    }
    DriverPeer& peer = peers[slot];
    peer.lastReceive = os::ReadCounter();
    if (length == 0) return;

    switch (frame[0]) {
    case STEAMDRIVERMSG_CONN_REQ:
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "recv STEAMDRIVERMSG_CONN_REQ steamID:0x%llX", ull(from));
        OnConnRequest(slot, frame, length);
        break;
    case STEAMDRIVERMSG_CONN_ACK_NO:
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "recv STEAMDRIVERMSG_CONN_ACK_NO steamID:0x%llX", ull(from));
        // Only a client is refused; a host that heard "no" from whoever holds its slot
        // would stop listening.
        if (driverState != GAME_CONNECTING || !online::IsValidUserId(gameServerId)) break;
        if (peer.state == DriverPeer::REQUESTED) {
            // The refused client: its request was never answered yes, so the general
            // rule below would tell nobody; and it must not answer the refusal with a
            // disconnect frame, which the still-listening host would take as a new
            // session.
            gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Disconnecting peerID:%d steamID:0x%llX", slot, ull(peer.steamId));
            if (observer) observer->OnPeerDisconnected(slot, NETERROR_REJECTED);
            peer = DriverPeer();
        } else {
            DisconnectPeer(slot, NETERROR_REJECTED);
        }
        SetDriverState(IDLE);
        break;
    case STEAMDRIVERMSG_CONN_ACK_YES:
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "recv STEAMDRIVERMSG_CONN_ACK_YES steamID:0x%llX", ull(from));
        OnConnAckYes(slot, frame, length);
        break;
    case STEAMDRIVERMSG_DISCONNECT:
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "recv STEAMDRIVERMSG_DISCONNECT steamID:0x%llX", ull(from));
        if (driverState == GAME_ACTIVE) {
            DisconnectPeer(slot, NETERROR_INPROGRESS);
            SetDriverState(IDLE);
        }
        break;
    case STEAMDRIVERMSG_GAME_PACKET:
    case STEAMDRIVERMSG_TIME_SYNC:
        if (driverState == GAME_ACTIVE && peer.state == DriverPeer::CONNECTED && observer)
            observer->OnReceive(slot, frame, length, frame[0] == STEAMDRIVERMSG_GAME_PACKET ? 0 : 1);
        break;
    default:
        break;
    }
    return;
}

int32_t SteamNetDriver::OnP2PSessionRequest(uint64_t steamId) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "P2P session request. steamID:0x%llX AllowConnections:%d", ull(steamId),
               int(acceptConnections));
    if (!acceptConnections || !online::IsValidUserId(steamId)) return -1;
    DriverPeer& peer = peers[1];
    if (peer.state == DriverPeer::REQUESTED && peer.steamId != steamId && !online::IsValidUserId(gameServerId)) {
        // The slot's holder has not asked properly yet: hear this sender too, whose
        // well-formed request may take the slot over (HandleFrame).
        gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Accepting");
        if (net) net->AcceptP2PSessionWithUser(steamId);
        return -1;
    }
    if (peer.state != DriverPeer::FREE && peer.steamId != steamId) return -1;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Accepting");
    if (net) net->AcceptP2PSessionWithUser(steamId);
    if (peer.state == DriverPeer::FREE) {
        peer = DriverPeer();
        peer.steamId = steamId;
        peer.state = DriverPeer::REQUESTED;
    }
    return 1;
}

void SteamNetDriver::OnP2PConnectFail(uint64_t steamId, uint8_t error) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "P2P session connect fail. steamID:0x%llX Error:%d", ull(steamId), int(error));
}

void SteamNetDriver::OnConnRequest(int32_t slot, const uint8_t* data, uint32_t length) {
    DriverPeer& peer = peers[slot];
    if (driverState != GAME_CONNECTING || peer.state != DriverPeer::REQUESTED || online::IsValidUserId(gameServerId)) return;
    const uint8_t* ticket = nullptr;
    uint32_t ticketLength = 0;
    if (!ReadTicket(data, length, &ticket, &ticketLength)) {
        gLog.Warning(LogCategory::Multiplayer, "SteamNetDriver - malformed connection request from steamID:0x%llX ignored", ull(peer.steamId));
        return;
    }
    std::memcpy(peer.ticket, ticket, ticketLength);
    peer.ticketLength = ticketLength;
    peer.state = DriverPeer::REQUEST_RECEIVED;
    if (observer) observer->OnPeerConnecting(slot);
}

void SteamNetDriver::OnConnAckYes(int32_t slot, const uint8_t* data, uint32_t length) {
    DriverPeer& peer = peers[slot];
    // Only a client's request is answered yes; a host never takes a "yes" as consent.
    if (driverState != GAME_CONNECTING || peer.state != DriverPeer::REQUESTED || !online::IsValidUserId(gameServerId)) return;
    const uint8_t* ticket = nullptr;
    uint32_t ticketLength = 0;
    if (!ReadTicket(data, length, &ticket, &ticketLength)) {
        gLog.Warning(LogCategory::Multiplayer, "SteamNetDriver - malformed connection answer from steamID:0x%llX ignored", ull(peer.steamId));
        return;
    }
    peer.state = DriverPeer::CONNECTED;
    if (observer) observer->OnPeerConnected(slot);
    std::memcpy(peer.ticket, ticket, ticketLength);
    peer.ticketLength = ticketLength;
    AuthorizePeer(slot);
    SetDriverState(GAME_ACTIVE);
}

void SteamNetDriver::AnswerPeer(int32_t slot, bool accepted) {
    if (slot != 1 || peers[1].state != DriverPeer::REQUEST_RECEIVED) return;
    DriverPeer& peer = peers[1];
    if (!accepted) {
        SendSimpleReliableMsg(peer.steamId, STEAMDRIVERMSG_CONN_ACK_NO);
        peer = DriverPeer();
        return;
    }
    uint8_t out[kTicketFrameHeader + kTicketBytes];
    out[0] = STEAMDRIVERMSG_CONN_ACK_YES;
    std::memcpy(out + 1, &ownTicketLength, 4);
    std::memcpy(out + kTicketFrameHeader, ownTicket, ownTicketLength);
    if (net) net->SendP2PPacket(peer.steamId, out, kTicketFrameHeader + ownTicketLength, online::kSendReliable, 0);
    peer.state = DriverPeer::CONNECTED;
    if (observer) observer->OnPeerConnected(slot);
    AuthorizePeer(slot);
    if (driverState == GAME_CONNECTING && !online::IsValidUserId(gameServerId) && peers[0].state == DriverPeer::CONNECTED &&
        peers[1].state == DriverPeer::CONNECTED) {
        acceptConnections = 0;
        SetDriverState(GAME_ACTIVE);
    }
}

void SteamNetDriver::AuthorizePeer(int32_t slot) {
    DriverPeer& peer = peers[slot];
    const int32_t result = user ? user->BeginAuthSession(peer.ticket, static_cast<int>(peer.ticketLength), peer.steamId) : -1;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Peer authorization. steamID:0x%llX authRet:%d", ull(peer.steamId), result);
}

void SteamNetDriver::OnValidateAuthTicket(uint64_t steamId, uint32_t response) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "OnValidateAuthTicket steamID:0x%llX response:%d", ull(steamId), int(response));
    for (int32_t slot = 0; slot < 2; ++slot) {
        DriverPeer& peer = peers[slot];
        if (peer.state == DriverPeer::FREE || peer.steamId != steamId || peer.authorised) continue;
        if (response == online::kAuthOK) {
            peer.authorised = 1;
        } else {
            gLog.Error(LogCategory::Multiplayer, "Authorization failed - disconnecting peer");
            DisconnectPeer(slot, NETERROR_NOT_AUTHORIZED);
        }
        return;
    }
}

void SteamNetDriver::DisconnectPeer(int32_t slot, uint32_t reason) {
    if (slot != 0 && slot != 1) return;
    DriverPeer& peer = peers[slot];
    if (peer.state == DriverPeer::FREE) return;
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "Disconnecting peerID:%d steamID:0x%llX", slot, ull(peer.steamId));
    if (slot == 1) {
        const uint32_t state = peer.state;
        const uint64_t id = peer.steamId;
        if ((state == DriverPeer::REQUEST_RECEIVED || state == DriverPeer::CONNECTED) && observer) observer->OnPeerDisconnected(slot, reason);
        SendSimpleReliableMsg(id, state == DriverPeer::REQUEST_RECEIVED ? STEAMDRIVERMSG_CONN_ACK_NO : STEAMDRIVERMSG_DISCONNECT);
        if (user) user->EndAuthSession(id);
    }
    peers[slot] = DriverPeer();
}

void SteamNetDriver::SendGamePacket(int32_t slot, const uint8_t* data, uint32_t length, uint32_t kind) {
    if ((slot != 0 && slot != 1) || !data || length == 0 || length > kP2PFrameBytes) return;
    const DriverPeer& peer = peers[slot];
    if (peer.state == DriverPeer::FREE || !online::IsValidUserId(peer.steamId)) return;
    uint8_t out[kP2PFrameBytes];
    std::memcpy(out, data, length);
    out[0] = kind == 0 ? STEAMDRIVERMSG_GAME_PACKET : STEAMDRIVERMSG_TIME_SYNC;
    if (net) net->SendP2PPacket(peer.steamId, out, length, online::kSendUnreliableNoDelay, 0);
}

void SteamNetDriver::SendSimpleReliableMsg(uint64_t steamId, uint8_t type) {
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SendSimpleReliableMsg steamID:0x%llX %d", ull(steamId), int(type));
    if (net) net->SendP2PPacket(steamId, &type, 1, online::kSendReliable, 0);
}

}  // namespace Network
