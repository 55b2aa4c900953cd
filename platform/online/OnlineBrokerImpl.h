#pragma once
// Private state of BrokerCore, shared by its source files.
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineWire.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace online {

struct BrokerCore::Impl {
    struct Session {
        uint32_t id = 0;
        bool hello = false;
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
        uint32_t nextChat = 1;
    };
    struct Ticket {
        OnlineId user = 0;
        uint64_t nonce = 0;
        bool cancelled = false;
    };

    BrokerOutput* output = nullptr;
    BrokerStore store;
    StatsSchema schema;
    uint64_t secret = 0;
    uint32_t nextSession = 1;
    uint32_t nextLobby = 1;
    uint32_t nextTicket = 1;
    std::map<uint32_t, Session> sessions;
    std::map<uint32_t, uint32_t> byAccount;  // account -> latest session
    std::map<OnlineId, Lobby> lobbies;
    std::map<uint32_t, Ticket> tickets;

    void Send(uint32_t session, wire::Writer& w);
    void SendEvent(uint32_t session, int callbackId, CallHandle call, const void* record, size_t size);
    Session* FindSession(uint32_t id);
    Session* SessionOf(uint32_t account);
    std::string PersonaOf(uint32_t account);
    Lobby* FindLobby(OnlineId id);
    void WriteSnapshot(wire::Writer& w, const Lobby& lobby);
    void SendSnapshot(uint32_t session, const Lobby& lobby);
    void Broadcast(const Lobby& lobby, const void* record, int callbackId, size_t size, OnlineId skip);
    void DataChanged(const Lobby& lobby, OnlineId member);
    void RemoveMember(OnlineId lobby, OnlineId user, uint32_t flags);
    uint64_t Sign(OnlineId user, uint32_t handle, uint64_t nonce) const;

    bool HandleHello(Session& s, wire::Reader& r);
    bool HandleLobby(Session& s, wire::Kind kind, wire::Reader& r);
    bool HandleLobbyList(Session& s, wire::Reader& r);
    bool HandlePeer(Session& s, wire::Kind kind, wire::Reader& r);
    bool HandleScores(Session& s, wire::Kind kind, wire::Reader& r);
    bool HandleControl(BrokerCore& core, uint32_t session, wire::Reader& r);
    bool Seed(const std::string& text, std::string* answer);
};

}  // namespace online
