// The online driver's construction, its registrations with the online services and the
// routing of their callbacks to the network thread.
//
// The services run callbacks on the thread that pumps them (the main thread). Each
// registration's copying member packs the fields the driver needs into a command-5 job
// of the owner's ring: the routing function, the kind as the argument word, then the
// driver and the fields, little-endian. The network thread runs the job after every
// command queued before it and calls the kind's handler. The pump never waits for the
// network thread (the services hold their dispatch lock while pumping and the network
// thread takes it to bind call results): an event that does not fit waits in a capped
// queue on the pumping thread and goes first the next time.
#include "net/steam/SteamNetDriver.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/BaseThread.h"
#include "core/Log.h"

namespace Network {

// One callback or call-result registration: the kind it routes and, for call results,
// the bound call (0 when none). The call is written by the network thread (binding)
// and cleared by the pumping thread (delivery).
class SteamNetDriver::Registration : public online::CallbackBase {
public:
    Registration(SteamNetDriver* driver, uint32_t kind) : driver(driver), kind(kind) {}
    void Run(const void* data, bool ioFailure, online::CallHandle delivered) override {
        if (delivered != 0) {
            online::CallHandle expected = delivered;
            if (!call.compare_exchange_strong(expected, 0)) return;  // a cancelled binding
        }
        driver->CopyEvent(kind, data, ioFailure);
    }
    SteamNetDriver* driver;
    uint32_t kind;
    bool callback = false;
    std::atomic<online::CallHandle> call{0};
};

namespace {

constexpr int kCallbackIds[SteamNetDriver::ROUTE_KIND_COUNT] = {
    online::LobbyDataUpdate::kCallbackId,        online::LobbyChatUpdate::kCallbackId,
    online::PersonaStateChange::kCallbackId,     online::P2PSessionRequest::kCallbackId,
    online::P2PSessionConnectFail::kCallbackId,  online::LobbyChatMsg::kCallbackId,
    online::GameLobbyJoinRequested::kCallbackId, 0 /* call result: lobby list */,
    0 /* call result: lobby entered */,          0 /* call result: lobby created */,
    online::ValidateAuthTicketResponse::kCallbackId, online::AvatarImageLoaded::kCallbackId,
};

// Little-endian field packing of a routed event.
struct Packer {
    uint8_t bytes[40] = {};
    uint32_t size = 0;
    template <class T>
    void Put(T v) {
        std::memcpy(bytes + size, &v, sizeof v);
        size += sizeof v;
    }
};

struct Reader {
    const uint8_t* p;
    uint32_t left;
    template <class T>
    T Get() {
        T v{};
        if (left >= sizeof v) {
            std::memcpy(&v, p, sizeof v);
            p += sizeof v;
            left -= sizeof v;
        }
        return v;
    }
};

}  // namespace

const char* DriverStateName(uint32_t state) {
    static const char* const kNames[DRIVER_STATE_COUNT] = {
        "IDLE", "JOINING_LOBBY", "CREATING_LOBBY", "IN_LOBBY", "IN_LOBBY_STARTING_GAME", "GAME_CONNECTING", "GAME_ACTIVE", "LOBBY_SEARCH",
    };
    return state < DRIVER_STATE_COUNT ? kNames[state] : "UNKNOWN";
}

SteamNetDriver::SteamNetDriver(online::OnlineContext* context) : ctx(context ? context : online::GlobalContext()) {
    mm = ctx ? ctx->Matchmaking() : nullptr;
    net = ctx ? ctx->Networking() : nullptr;
    user = ctx ? ctx->User() : nullptr;
    friends = ctx ? ctx->Friends() : nullptr;
    if (mm) contextSearch = std::make_unique<MatchmakingSearchCalls>(mm);
    search = contextSearch.get();
    // The empty call-result holders, the cleared lobby, the reset window.
    for (uint32_t k = 0; k < ROUTE_KIND_COUNT; ++k) regs[k] = new Registration(this, k);
    window.Reset();
    RegisterAll();
    ReadAutoMatchFiles(nullptr);
    UpdateSelfSteamIDStr();
    ClearPeers();
    for (LobbyMemberInfo& m : gameMembers) m = LobbyMemberInfo();
    for (LobbyMemberInfo& m : lobbyMembers) m = LobbyMemberInfo();
}

SteamNetDriver::~SteamNetDriver() {
    routeTarget.store(nullptr);
    UnregisterAll();
    if (ctx && user && ticketHandle) user->CancelAuthTicket(ticketHandle);
    for (Registration*& r : regs) {
        delete r;
        r = nullptr;
    }
}

void SteamNetDriver::RegisterAll() {
    if (!ctx) return;
    for (uint32_t k = 0; k < ROUTE_KIND_COUNT; ++k) {
        if (kCallbackIds[k] == 0) continue;
        ctx->RegisterCallback(regs[k], kCallbackIds[k]);
        regs[k]->callback = true;
    }
}

void SteamNetDriver::UnregisterAll() {
    if (!ctx) return;
    for (Registration* r : regs) {
        if (!r) continue;
        if (r->callback) ctx->UnregisterCallback(r);
        r->callback = false;
        CancelCallResult(*r);
    }
}

void SteamNetDriver::UpdateSelfSteamIDStr() {
    const uint64_t self = user ? user->GetSteamID() : 0;
    std::snprintf(selfIdText, sizeof selfIdText, "%" PRIx64, self);
    gLog.Print(LogSeverity::Information, LogCategory::Multiplayer, "SteamNetDriver::UpdateSelfSteamIDStr 0x%llX",
               static_cast<unsigned long long>(self));
}

void SteamNetDriver::BindCallResult(Registration& reg, online::CallHandle call) {
    CancelCallResult(reg);
    if (call == 0 || !ctx) return;
    reg.call.store(call);
    ctx->RegisterCallResult(&reg, call);
}

void SteamNetDriver::CancelCallResult(Registration& reg) {
    const online::CallHandle old = reg.call.exchange(0);
    if (old != 0 && ctx) ctx->UnregisterCallResult(&reg, old);
}

// ---------------------------------------------------------------------------------
// Pumping thread

void SteamNetDriver::SetRouteTarget(BaseThread* worker) {
    routeTarget.store(worker);
    if (!worker) {
        std::lock_guard<std::mutex> lock(waitingLock);
        waiting.clear();
    }
}

uint32_t SteamNetDriver::WaitingEvents() const {
    std::lock_guard<std::mutex> lock(waitingLock);
    return static_cast<uint32_t>(waiting.size());
}

void SteamNetDriver::CopyEvent(uint32_t kind, const void* record, bool ioFailure) {
    Packer pk;
    pk.Put(reinterpret_cast<uintptr_t>(this));
    switch (kind) {
    case ROUTE_LOBBY_DATA_UPDATE: {
        const auto* r = static_cast<const online::LobbyDataUpdate*>(record);
        if (!r->success) return;
        pk.Put(r->lobby);
        pk.Put(r->member);
        break;
    }
    case ROUTE_LOBBY_CHAT_UPDATE: {
        const auto* r = static_cast<const online::LobbyChatUpdate*>(record);
        pk.Put(r->lobby);
        pk.Put(r->userChanged);
        pk.Put(r->changeFlags);
        break;
    }
    case ROUTE_PERSONA_STATE_CHANGE: {
        const auto* r = static_cast<const online::PersonaStateChange*>(record);
        pk.Put(r->user);
        pk.Put(r->changeFlags);
        break;
    }
    case ROUTE_P2P_SESSION_REQUEST:
        pk.Put(static_cast<const online::P2PSessionRequest*>(record)->remote);
        break;
    case ROUTE_P2P_CONNECT_FAIL: {
        const auto* r = static_cast<const online::P2PSessionConnectFail*>(record);
        pk.Put(r->remote);
        pk.Put(r->error);
        break;
    }
    case ROUTE_LOBBY_CHAT_MSG:
        pk.Put(static_cast<const online::LobbyChatMsg*>(record)->chatId);
        break;
    case ROUTE_JOIN_REQUESTED:
        pk.Put(static_cast<const online::GameLobbyJoinRequested*>(record)->lobby);
        break;
    case ROUTE_LOBBY_MATCH_LIST:
        pk.Put(ioFailure ? 0u : static_cast<const online::LobbyMatchList*>(record)->lobbiesMatching);
        break;
    case ROUTE_LOBBY_ENTER: {
        const auto* r = static_cast<const online::LobbyEnter*>(record);
        pk.Put(r->lobby);
        pk.Put(r->response);
        pk.Put(static_cast<uint8_t>(ioFailure ? 1 : 0));
        break;
    }
    case ROUTE_LOBBY_CREATED: {
        const auto* r = static_cast<const online::LobbyCreated*>(record);
        pk.Put(r->lobby);
        pk.Put(ioFailure ? uint32_t(online::kResultNoConnection) : r->result);
        break;
    }
    case ROUTE_VALIDATE_TICKET: {
        const auto* r = static_cast<const online::ValidateAuthTicketResponse*>(record);
        pk.Put(r->user);
        pk.Put(r->response);
        break;
    }
    case ROUTE_AVATAR_LOADED: {
        const auto* r = static_cast<const online::AvatarImageLoaded*>(record);
        if (r->wide != online::kAvatarSize) return;
        pk.Put(r->user);
        pk.Put(r->image);
        break;
    }
    default:
        return;
    }
    PostRouted(pk.bytes, pk.size, kind);
}

bool SteamNetDriver::PostRouted(const uint8_t* payload, uint32_t bytes, uint32_t kind) {
    BaseThread* target = routeTarget.load();
    if (!target) return false;  // no engine yet, or one being torn down
    FlushRoutedEvents();
    std::lock_guard<std::mutex> lock(waitingLock);
    const BaseThread::CallFunction fn = &RouteJob;
    void* argument = reinterpret_cast<void*>(static_cast<uintptr_t>(kind));
    const uint32_t size = uint32_t(sizeof fn + sizeof argument) + bytes;
    if (waiting.empty() && target->Ring().HasSpace(size + CommandRingBuffer::kHeader) && target->BeginCommand(BaseThread::CMD_CALL, size)) {
        target->Ring().WriteValue(fn);
        target->Ring().WriteValue(argument);
        target->Ring().Write(payload, bytes);
        target->EndCommand();
        return true;
    }
    if (waiting.size() >= kMaxWaitingEvents) {
        if (!waitingCapWarned)
            gLog.Warning(LogCategory::Multiplayer, "SteamNetDriver - %u routed events wait for the network thread; newer ones are dropped",
                         kMaxWaitingEvents);
        waitingCapWarned = true;
        return false;
    }
    std::vector<uint8_t> entry(4 + bytes);
    std::memcpy(entry.data(), &kind, 4);
    std::memcpy(entry.data() + 4, payload, bytes);
    waiting.push_back(std::move(entry));
    return true;
}

void SteamNetDriver::FlushRoutedEvents() {
    BaseThread* target = routeTarget.load();
    if (!target) return;
    std::lock_guard<std::mutex> lock(waitingLock);
    const BaseThread::CallFunction fn = &RouteJob;
    while (!waiting.empty()) {
        const std::vector<uint8_t>& e = waiting.front();
        uint32_t kind = 0;
        std::memcpy(&kind, e.data(), 4);
        void* argument = reinterpret_cast<void*>(static_cast<uintptr_t>(kind));
        const uint32_t bytes = static_cast<uint32_t>(e.size() - 4);
        const uint32_t size = uint32_t(sizeof fn + sizeof argument) + bytes;
        if (!target->Ring().HasSpace(size + CommandRingBuffer::kHeader) || !target->BeginCommand(BaseThread::CMD_CALL, size)) return;
        target->Ring().WriteValue(fn);
        target->Ring().WriteValue(argument);
        target->Ring().Write(e.data() + 4, bytes);
        target->EndCommand();
        waiting.pop_front();
        waitingCapWarned = false;
    }
}

// ---------------------------------------------------------------------------------
// Network thread

void SteamNetDriver::RouteJob(BaseThread*, void* argument, CommandRingBuffer* ring) {
    uintptr_t self = 0;
    if (!ring->ReadValue(self) || self == 0) return;
    const uint32_t kind = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument));
    reinterpret_cast<SteamNetDriver*>(self)->HandleRouted(kind, ring->ReadCursor(), ring->ReadLeft());
}

void SteamNetDriver::HandleRouted(uint32_t kind, const uint8_t* fields, uint32_t bytes) {
    Reader r{fields, bytes};
    switch (kind) {
    case ROUTE_LOBBY_DATA_UPDATE: {
        const uint64_t lobby = r.Get<uint64_t>();
        r.Get<uint64_t>();  // the member: every update re-reads both members
        OnLobbyDataUpdate(lobby);
        break;
    }
    case ROUTE_LOBBY_CHAT_UPDATE: {
        const uint64_t lobby = r.Get<uint64_t>();
        const uint64_t changed = r.Get<uint64_t>();
        OnLobbyChatUpdate(lobby, changed, r.Get<uint32_t>());
        break;
    }
    case ROUTE_PERSONA_STATE_CHANGE: {
        const uint64_t who = r.Get<uint64_t>();
        OnPersonaStateChange(who, r.Get<uint32_t>());
        break;
    }
    case ROUTE_P2P_SESSION_REQUEST:
        OnP2PSessionRequest(r.Get<uint64_t>());
        break;
    case ROUTE_P2P_CONNECT_FAIL: {
        const uint64_t who = r.Get<uint64_t>();
        OnP2PConnectFail(who, r.Get<uint8_t>());
        break;
    }
    case ROUTE_LOBBY_CHAT_MSG:
        OnLobbyChatMessage(r.Get<uint32_t>());
        break;
    case ROUTE_JOIN_REQUESTED:
        OnJoinRequested(r.Get<uint64_t>());
        break;
    case ROUTE_LOBBY_MATCH_LIST:
        OnLobbyAutoMatchList(r.Get<uint32_t>());
        break;
    case ROUTE_LOBBY_ENTER: {
        const uint64_t lobby = r.Get<uint64_t>();
        const uint32_t response = r.Get<uint32_t>();
        OnLobbyEntered(lobby, response, r.Get<uint8_t>() != 0);
        break;
    }
    case ROUTE_LOBBY_CREATED: {
        const uint64_t lobby = r.Get<uint64_t>();
        OnLobbyCreated(lobby, r.Get<uint32_t>());
        break;
    }
    case ROUTE_VALIDATE_TICKET: {
        const uint64_t who = r.Get<uint64_t>();
        OnValidateAuthTicket(who, r.Get<uint32_t>());
        break;
    }
    case ROUTE_AVATAR_LOADED: {
        const uint64_t who = r.Get<uint64_t>();
        OnAvatarLoaded(who, r.Get<int32_t>());
        break;
    }
    default:
        break;
    }
}

}  // namespace Network
