// Online interfaces: each call reads the context's caches or asks the broker.
#include "platform/online/Online.h"

#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineMessages.h"
#include "platform/online/OnlineSocket.h"
#include "platform/os/Clock.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace online {

using namespace wire;

namespace {

std::unique_ptr<OnlineContext> gContext;

const ClientCore::LobbyMember* FindMember(const ClientCore::LobbyCache& l, OnlineId id) {
    for (const auto& m : l.members)
        if (m.id == id) return &m;
    return nullptr;
}

bool ValidText(const char* s, size_t max) { return s && std::strlen(s) <= max; }

}  // namespace

// ---- Context ----

OnlineContext::OnlineContext(std::unique_ptr<ClientCore> c) : core(std::move(c)) {
    ClientCore* p = core.get();
    matchmaking.core = p;
    networking.core = p;
    user.core = p;
    friends.core = p;
    utils.core = p;
    apps.core = p;
    client.core = p;
    userStats.core = p;
    remoteStorage.core = p;
}

OnlineContext::~OnlineContext() { core->Stop(); }

std::unique_ptr<OnlineContext> OnlineContext::Connect(const ClientConfig& config, std::string* error) {
    if (config.account == 0) {
        if (error) *error = "account 0 is not a valid user";
        return nullptr;
    }
    if (config.offline) {
        // A private in-process broker; it lives as long as the context.
        auto broker = std::make_shared<LocalBroker>();
        StatsSchema schema;
        std::string schemaPath = config.schemaPath.empty() ? ExecutableFolder() + "/online_schema.txt" : config.schemaPath;
        std::string why;
        schema.Load(schemaPath, &why);  // no schema: stats answer nothing, the rest works
        if (!broker->Open(config.dataDir, schema, error)) return nullptr;
        std::unique_ptr<OnlineContext> ctx = broker->CreateClient(config, error);
        if (ctx) ctx->core->keepAlive = broker;
        return ctx;
    }
    if (!config.brokerAddress.empty()) return ConnectOverNetwork(config, error);
    auto core = std::make_unique<ClientCore>(config);
    std::unique_ptr<Transport> transport = ConnectSocketTransport(config.brokerDir, core.get(), error);
    if (!transport || !core->Start(std::move(transport), error)) return nullptr;
    return std::unique_ptr<OnlineContext>(new OnlineContext(std::move(core)));
}

// A broker on the network may drop a connection before its handshake is read (it drops
// the oldest handshakes first when strangers flood it): such a try is repeated with
// back-off, each on a fresh client, until kTcpSignInMs have passed; a try's own waits
// (connecting, the challenge, the answer to the sign-in) end there too.
std::unique_ptr<OnlineContext> OnlineContext::ConnectOverNetwork(const ClientConfig& config, std::string* error) {
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::milliseconds(kTcpSignInMs);
    int delayMs = kTcpRetryFirstMs;
    std::string why;
    for (int attempt = 1;; ++attempt) {
        auto core = std::make_unique<ClientCore>(config);
        if (attempt == 1 && !config.brokerDir.empty())
            core->Warn(1, "Online broker: both a broker address and a broker folder are set; using the address %s", config.brokerAddress.c_str());
        bool again = false;
        const auto left = [&] {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            return std::max(ms, std::chrono::milliseconds(1));
        };
        std::unique_ptr<Transport> transport =
            ConnectTcpTransport(config.brokerAddress, config.brokerSecretFile, core.get(), &why, &again, left().count());
        if (transport && core->Start(std::move(transport), &why, &again, left()))
            return std::unique_ptr<OnlineContext>(new OnlineContext(std::move(core)));
        uint16_t random = 0;
        SystemRandom(&random, sizeof random);
        const auto pause = std::chrono::milliseconds(delayMs - static_cast<int>(random % (delayMs / 2 + 1)));
        if (!again || std::chrono::steady_clock::now() + pause >= end) {
            if (error) {
                *error = why;
                if (attempt > 1) *error += " (" + std::to_string(attempt) + " tries)";
            }
            return nullptr;
        }
        std::this_thread::sleep_for(pause);
        delayMs = std::min(delayMs * 2, kTcpRetryMostMs);
    }
}

void OnlineContext::RunCallbacks() { core->RunCallbacks(); }
void OnlineContext::RegisterCallback(CallbackBase* t, int id) { core->RegisterCallback(t, id); }
void OnlineContext::UnregisterCallback(CallbackBase* t) { core->UnregisterCallback(t); }
void OnlineContext::RegisterCallResult(CallbackBase* t, CallHandle c) { core->RegisterCallResult(t, c); }
void OnlineContext::UnregisterCallResult(CallbackBase* t, CallHandle c) { core->UnregisterCallResult(t, c); }
bool OnlineContext::Connected() const { return core->connected; }

OnlineContext* GlobalContext() { return gContext.get(); }

// ---- Matchmaking ----

CallHandle OnlineMatchmaking::CreateLobby(int32_t lobbyType, int32_t maxMembers) {
    if (!core->connected) return 0;
    const CallHandle call = core->NewCall(LobbyCreated::kCallbackId);
    Writer w = EncodeCreateLobby({call, lobbyType, maxMembers});
    core->Post(w);
    return call;
}

CallHandle OnlineMatchmaking::JoinLobby(OnlineId lobby) {
    if (!core->connected) return 0;
    const CallHandle call = core->NewCall(LobbyEnter::kCallbackId);
    Writer w = EncodeJoinLobby({call, lobby});
    core->Post(w);
    return call;
}

void OnlineMatchmaking::LeaveLobby(OnlineId lobby) {
    {
        std::lock_guard<std::mutex> lock(core->state);
        core->lobbies.erase(lobby);
    }
    Writer w = EncodeLobbyId(kLeaveLobby, lobby);
    core->Post(w);
}

OnlineId OnlineMatchmaking::GetLobbyOwner(OnlineId lobby) {
    std::lock_guard<std::mutex> lock(core->state);
    auto it = core->lobbies.find(lobby);
    return it == core->lobbies.end() ? 0 : it->second.owner;
}

bool OnlineMatchmaking::SetLobbyOwner(OnlineId lobby, OnlineId newOwner) {
    {
        std::lock_guard<std::mutex> lock(core->state);
        auto it = core->lobbies.find(lobby);
        if (it == core->lobbies.end() || it->second.owner != core->self || !FindMember(it->second, newOwner)) return false;
    }
    Writer w(kSetOwner);
    w.U64(lobby).U64(newOwner);
    return core->Post(w);
}

int OnlineMatchmaking::GetNumLobbyMembers(OnlineId lobby) {
    std::lock_guard<std::mutex> lock(core->state);
    auto it = core->lobbies.find(lobby);
    if (it == core->lobbies.end() || !FindMember(it->second, core->self)) return 0;  // members only
    return static_cast<int>(it->second.members.size());
}

OnlineId OnlineMatchmaking::GetLobbyMemberByIndex(OnlineId lobby, int index) {
    std::lock_guard<std::mutex> lock(core->state);
    auto it = core->lobbies.find(lobby);
    if (it == core->lobbies.end() || index < 0 || index >= static_cast<int>(it->second.members.size())) return 0;
    return it->second.members[index].id;
}

const char* OnlineMatchmaking::GetLobbyData(OnlineId lobby, const char* key) {
    std::string value;
    if (key) {
        std::lock_guard<std::mutex> lock(core->state);
        auto it = core->lobbies.find(lobby);
        if (it != core->lobbies.end()) {
            auto v = it->second.data.find(key);
            if (v != it->second.data.end()) value = v->second;
        }
    }
    return core->KeepText(value);
}

bool OnlineMatchmaking::SetLobbyData(OnlineId lobby, const char* key, const char* value) {
    if (!ValidText(key, kMaxKey) || !*key || !ValidText(value, kMaxValue)) return false;
    {
        std::lock_guard<std::mutex> lock(core->state);
        auto it = core->lobbies.find(lobby);
        if (it == core->lobbies.end() || it->second.owner != core->self) return false;
    }
    Writer w = EncodeLobbyData(kSetLobbyData, {lobby, key, value});
    return core->Post(w);
}

const char* OnlineMatchmaking::GetLobbyMemberData(OnlineId lobby, OnlineId member, const char* key) {
    std::string value;
    if (key) {
        std::lock_guard<std::mutex> lock(core->state);
        auto it = core->lobbies.find(lobby);
        const ClientCore::LobbyMember* m = it == core->lobbies.end() ? nullptr : FindMember(it->second, member);
        if (m) {
            auto v = m->data.find(key);
            if (v != m->data.end()) value = v->second;
        }
    }
    return core->KeepText(value);
}

void OnlineMatchmaking::SetLobbyMemberData(OnlineId lobby, const char* key, const char* value) {
    if (!ValidText(key, kMaxKey) || !*key || !ValidText(value, kMaxValue)) return;
    Writer w = EncodeLobbyData(kSetMemberData, {lobby, key, value});
    core->Post(w);
}

bool OnlineMatchmaking::SetLobbyJoinable(OnlineId lobby, bool joinable) {
    {
        std::lock_guard<std::mutex> lock(core->state);
        auto it = core->lobbies.find(lobby);
        if (it == core->lobbies.end() || it->second.owner != core->self) return false;
    }
    Writer w(kSetJoinable);
    w.U64(lobby).U8(joinable ? 1 : 0);
    return core->Post(w);
}

bool OnlineMatchmaking::SendLobbyChatMsg(OnlineId lobby, const void* bytes, int size) {
    if (size < 0 || static_cast<uint32_t>(size) > kMaxChatMessage || (size && !bytes)) return false;
    Writer w(kChat);
    w.U64(lobby).Bytes(bytes, static_cast<size_t>(size));
    return core->Post(w);
}

int OnlineMatchmaking::GetLobbyChatEntry(OnlineId lobby, int chatId, OnlineId* user, void* buffer, int capacity,
                                         int32_t* entryType) {
    std::lock_guard<std::mutex> lock(core->state);
    for (const auto& e : core->chat) {
        if (e.lobby != lobby || e.chatId != static_cast<uint32_t>(chatId)) continue;
        if (user) *user = e.user;
        if (entryType) *entryType = kChatEntryMessage;
        const int n = std::min<int>(std::max(capacity, 0), static_cast<int>(e.bytes.size()));
        if (n > 0 && buffer) std::memcpy(buffer, e.bytes.data(), static_cast<size_t>(n));
        return buffer ? n : 0;
    }
    if (entryType) *entryType = kChatEntryInvalid;
    if (user) *user = 0;
    return 0;
}

void OnlineMatchmaking::AddRequestLobbyListStringFilter(const char* key, const char* value, int32_t comparison) {
    if (!ValidText(key, kMaxKey) || !ValidText(value, kMaxValue)) return;
    std::lock_guard<std::mutex> lock(core->state);
    if (core->filters.strings.size() < 64) core->filters.strings.emplace_back(key, value, comparison);
}

void OnlineMatchmaking::AddRequestLobbyListNumericalFilter(const char* key, int value, int32_t comparison) {
    if (!ValidText(key, kMaxKey)) return;
    std::lock_guard<std::mutex> lock(core->state);
    if (core->filters.numbers.size() < 64) core->filters.numbers.emplace_back(key, value, comparison);
}

void OnlineMatchmaking::AddRequestLobbyListNearValueFilter(const char* key, int value) {
    if (!ValidText(key, kMaxKey)) return;
    std::lock_guard<std::mutex> lock(core->state);
    if (core->filters.near.size() < 64) core->filters.near.emplace_back(key, value);
}

void OnlineMatchmaking::AddRequestLobbyListDistanceFilter(int32_t) {}

void OnlineMatchmaking::AddRequestLobbyListResultCountFilter(int count) {
    std::lock_guard<std::mutex> lock(core->state);
    core->filters.count = count;
}

CallHandle OnlineMatchmaking::RequestLobbyList() {
    ClientCore::Filters f;
    {
        std::lock_guard<std::mutex> lock(core->state);
        std::swap(f, core->filters);
    }
    if (!core->connected) return 0;
    const CallHandle call = core->NewCall(LobbyMatchList::kCallbackId);
    LobbyListRequest request;
    request.call = call;
    for (auto& [k, v, c] : f.strings) request.strings.push_back({k, v, c});
    for (auto& [k, v, c] : f.numbers) request.numbers.push_back({k, v, c});
    for (auto& [k, v] : f.near) request.near.push_back({k, v});
    request.resultCount = f.count;
    Writer w = EncodeLobbyList(request);
    core->Post(w);
    return call;
}

OnlineId OnlineMatchmaking::GetLobbyByIndex(int index) {
    std::lock_guard<std::mutex> lock(core->state);
    if (index < 0 || index >= static_cast<int>(core->lobbyList.size())) return 0;
    return core->lobbyList[index];
}

// ---- Networking ----

bool OnlineNetworking::SendP2PPacket(OnlineId remote, const void* data, uint32_t size, int32_t sendType, int channel) {
    const bool reliable = sendType == kSendReliable || sendType == kSendReliableWithBuffering;
    if ((size && !data) || size > (reliable ? kMaxReliablePacket : kMaxUnreliablePacket) || !IsValidUserId(remote))
        return false;
    {
        std::lock_guard<std::mutex> lock(core->state);
        core->OpenSession(remote);  // sending opens our side, so replies are accepted
    }
    Writer w = EncodePeerFrame(kP2PSend, {remote, reliable, channel, static_cast<const uint8_t*>(data), size});
    return core->Post(w);
}

namespace {

// The next readable packet on a channel: the earliest due, ties in arrival order.
std::deque<ClientCore::Packet>::iterator NextPacket(ClientCore* core, int channel) {
    const int64_t now = os::ReadCounter();
    auto best = core->ready.end();
    for (auto it = core->ready.begin(); it != core->ready.end(); ++it) {
        if (it->channel != channel || it->readyAt > now) continue;
        if (best == core->ready.end() || it->readyAt < best->readyAt ||
            (it->readyAt == best->readyAt && it->order < best->order))
            best = it;
    }
    return best;
}

}  // namespace

bool OnlineNetworking::IsP2PPacketAvailable(uint32_t* size, int channel) {
    std::lock_guard<std::mutex> lock(core->state);
    auto it = NextPacket(core, channel);
    if (it == core->ready.end()) return false;
    if (size) *size = static_cast<uint32_t>(it->bytes.size());
    return true;
}

bool OnlineNetworking::ReadP2PPacket(void* buffer, uint32_t capacity, uint32_t* size, OnlineId* remote, int channel) {
    std::lock_guard<std::mutex> lock(core->state);
    auto it = NextPacket(core, channel);
    if (it == core->ready.end()) return false;
    ClientCore::Packet p = std::move(*it);
    core->ready.erase(it);
    if (p.bytes.size() > capacity || (!buffer && !p.bytes.empty())) return false;  // dropped, not left queued
    if (!p.bytes.empty()) std::memcpy(buffer, p.bytes.data(), p.bytes.size());
    if (size) *size = static_cast<uint32_t>(p.bytes.size());
    if (remote) *remote = p.from;
    return true;
}

bool OnlineNetworking::AcceptP2PSessionWithUser(OnlineId remote) {
    std::lock_guard<std::mutex> lock(core->state);
    core->OpenSession(remote);
    return true;
}

// ---- User ----

OnlineId OnlineUser::GetSteamID() { return core->self; }
bool OnlineUser::BLoggedOn() { return core->config.loggedOn && core->connected; }

AuthTicket OnlineUser::GetAuthSessionTicket(void* buffer, int capacity, uint32_t* size) {
    if (size) *size = 0;
    Writer w(kGetTicket, core->NextSequence());
    std::vector<uint8_t> reply;
    if (!buffer || capacity <= 0 || !core->Call(w, &reply)) return 0;
    Reader r(reply.data(), reply.size(), false);
    const uint32_t handle = r.U32();
    uint32_t n = 0;
    const uint8_t* ticket = r.Bytes(kMaxTicketBytes, &n);
    if (r.Failed() || !r.AtEnd() || n > static_cast<uint32_t>(capacity)) return 0;
    std::memcpy(buffer, ticket, n);
    if (size) *size = n;
    return handle;
}

void OnlineUser::CancelAuthTicket(AuthTicket ticket) {
    Writer w(kCancelTicket);
    w.U32(ticket);
    core->Post(w);
}

int32_t OnlineUser::BeginAuthSession(const void* ticket, int size, OnlineId user) {
    if (!ticket || size < 16 || size > static_cast<int>(kMaxTicketBytes) || !IsValidUserId(user))
        return kBeginAuthInvalidTicket;
    const auto* t = static_cast<const uint8_t*>(ticket);
    uint64_t issuer = 0;
    for (int i = 0; i < 8; ++i) issuer |= static_cast<uint64_t>(t[4 + i]) << (8 * i);
    if (std::memcmp(t, "OTK1", 4) != 0 || issuer != user) return kBeginAuthInvalidTicket;
    {
        std::lock_guard<std::mutex> lock(core->state);
        if (!core->authSessions.insert(user).second) return kBeginAuthDuplicate;
    }
    Writer w(kValidateTicket);
    w.U64(user).U32(core->config.ticketFailure).Bytes(ticket, static_cast<size_t>(size));
    core->Post(w);
    return kBeginAuthOK;
}

void OnlineUser::EndAuthSession(OnlineId user) {
    std::lock_guard<std::mutex> lock(core->state);
    core->authSessions.erase(user);
}

// ---- Friends ----

const char* OnlineFriends::GetFriendPersonaName(OnlineId user) {
    if (user == core->self) return core->KeepText(core->config.persona);
    std::string name;
    {
        std::lock_guard<std::mutex> lock(core->state);
        auto it = core->users.find(user);
        if (it != core->users.end()) name = it->second.persona;
    }
    return core->KeepText(name);
}

int32_t OnlineFriends::GetFriendRelationship(OnlineId user) {
    std::lock_guard<std::mutex> lock(core->state);
    auto it = core->users.find(user);
    return it != core->users.end() && it->second.isFriend ? kRelationFriend : kRelationNone;
}

int OnlineFriends::GetLargeFriendAvatar(OnlineId user) {
    if (!IsValidUserId(user)) return 0;
    std::lock_guard<std::mutex> lock(core->state);
    auto found = std::find(core->avatarUsers.begin(), core->avatarUsers.end(), user);
    if (found == core->avatarUsers.end()) {
        core->avatarUsers.push_back(user);
        found = core->avatarUsers.end() - 1;
    }
    const int handle = static_cast<int>(found - core->avatarUsers.begin()) + 1;
    ClientCore::UserCache& u = core->users[user];
    if (core->config.avatarsLoading && !u.avatarRequested) {
        // First question under the knob: still loading; the image arrives next pump.
        u.avatarRequested = true;
        u.avatarAtPump = core->pumps + 1;
        AvatarImageLoaded e{user, handle, kAvatarSize, kAvatarSize};
        core->Queue(AvatarImageLoaded::kCallbackId, 0, &e, sizeof e);
    }
    return core->pumps < u.avatarAtPump ? -1 : handle;
}

bool OnlineFriends::RequestUserInformation(OnlineId user, bool) {
    if (!IsValidUserId(user) || user == core->self) return false;
    {
        std::lock_guard<std::mutex> lock(core->state);
        auto it = core->users.find(user);
        if (it != core->users.end() && it->second.known) {
            ClientCore::UserCache& u = it->second;
            if (core->config.personaDelay && !u.infoRequested) {
                // First question under the knob: "loading", announced next pump.
                u.infoRequested = true;
                u.knownAtPump = core->pumps + 1;
                PersonaStateChange c{user, kPersonaChangeName | kPersonaChangeAvatar};
                core->Queue(PersonaStateChange::kCallbackId, 0, &c, sizeof c);
            }
            return core->pumps < u.knownAtPump;
        }
    }
    Writer w(kUserInfo);
    w.U64(user);
    core->Post(w);
    return true;
}

void OnlineFriends::SetPlayedWith(OnlineId user) { core->Warn(0, "online: played with 0x%llX", static_cast<unsigned long long>(user)); }

void OnlineFriends::ActivateGameOverlayInviteDialog(OnlineId lobby) {
    core->Warn(0, "online: overlay invite dialog for lobby 0x%llX", static_cast<unsigned long long>(lobby));
    if (core->config.autoInviteAccount) {
        Writer w(kInvite);
        w.U64(lobby).U32(core->config.autoInviteAccount);
        core->Post(w);
    }
    ActivateGameOverlay(nullptr);
}

void OnlineFriends::ActivateGameOverlay(const char* dialog) {
    if (dialog) core->Warn(0, "online: overlay \"%s\"", dialog);
    if (!core->config.overlayEvents) return;
    std::lock_guard<std::mutex> lock(core->state);
    GameOverlayActivated on{1}, off{0};
    core->Queue(GameOverlayActivated::kCallbackId, 0, &on, sizeof on);
    core->Queue(GameOverlayActivated::kCallbackId, 0, &off, sizeof off);
}

void OnlineFriends::ActivateGameOverlayToWebPage(const char* url) {
    core->Warn(0, "online: overlay web page \"%s\"", url ? url : "");
    ActivateGameOverlay(nullptr);
}

// ---- Utils, apps, client ----

uint32_t OnlineUtils::GetAppID() { return core->config.appId; }

namespace {

OnlineId AvatarUser(ClientCore* core, int image) {
    std::lock_guard<std::mutex> lock(core->state);
    if (image <= 0 || image > static_cast<int>(core->avatarUsers.size())) return 0;
    return core->avatarUsers[image - 1];
}

}  // namespace

bool OnlineUtils::GetImageSize(int image, uint32_t* width, uint32_t* height) {
    if (!AvatarUser(core, image)) return false;
    if (width) *width = kAvatarSize;
    if (height) *height = kAvatarSize;
    return true;
}

bool OnlineUtils::GetImageRGBA(int image, uint8_t* buffer, int capacity) {
    const OnlineId user = AvatarUser(core, image);
    if (!user || !buffer || capacity < kAvatarSize * kAvatarSize * 4) return false;
    // A per-user pattern: the account number picks two colours and a stripe width.
    const uint32_t a = AccountOf(user) * 2654435761u;
    const uint8_t c0[3] = {static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a >> 16)};
    const uint8_t c1[3] = {static_cast<uint8_t>(255 - c0[0]), static_cast<uint8_t>(255 - c0[1]), static_cast<uint8_t>(255 - c0[2])};
    const int stripe = 8 + static_cast<int>((a >> 24) % 16);
    for (int y = 0; y < kAvatarSize; ++y)
        for (int x = 0; x < kAvatarSize; ++x) {
            const uint8_t* c = ((x / stripe + y / stripe) & 1) ? c1 : c0;
            uint8_t* p = buffer + (y * kAvatarSize + x) * 4;
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
            p[3] = 255;
        }
    return true;
}

const char* OnlineApps::GetCurrentGameLanguage() { return core->KeepText(core->config.language); }

void OnlineClient::SetWarningMessageHook(WarningHook hook) {
    std::lock_guard<std::mutex> lock(core->state);
    core->hook = hook;
}

}  // namespace online

// ---- Process-wide functions ----

bool SteamAPI_Init() { return SteamAPI_InitWithConfig(online::ClientConfig::FromEnvironment()); }

namespace {
std::string gInitError;
}  // namespace

bool SteamAPI_InitWithConfig(const online::ClientConfig& config) {
    if (online::gContext) return true;
    std::string error;
    online::gContext = online::OnlineContext::Connect(config, &error);
    gInitError = online::gContext ? std::string() : error;
    return online::gContext != nullptr;
}

const char* SteamAPI_InitError() { return gInitError.c_str(); }

void SteamAPI_Shutdown() { online::gContext.reset(); }

void SteamAPI_RunCallbacks() {
    if (online::gContext) online::gContext->RunCallbacks();
}
void SteamAPI_RegisterCallback(online::CallbackBase* t, int id) {
    if (online::gContext) online::gContext->RegisterCallback(t, id);
}
void SteamAPI_UnregisterCallback(online::CallbackBase* t) {
    if (online::gContext) online::gContext->UnregisterCallback(t);
}
void SteamAPI_RegisterCallResult(online::CallbackBase* t, online::CallHandle c) {
    if (online::gContext) online::gContext->RegisterCallResult(t, c);
}
void SteamAPI_UnregisterCallResult(online::CallbackBase* t, online::CallHandle c) {
    if (online::gContext) online::gContext->UnregisterCallResult(t, c);
}

#define ONLINE_ACCESSOR(Fn, Type, Getter) \
    Type* Fn() { return online::gContext ? online::gContext->Getter() : nullptr; }
ONLINE_ACCESSOR(SteamMatchmaking, online::OnlineMatchmaking, Matchmaking)
ONLINE_ACCESSOR(SteamNetworking, online::OnlineNetworking, Networking)
ONLINE_ACCESSOR(SteamUser, online::OnlineUser, User)
ONLINE_ACCESSOR(SteamFriends, online::OnlineFriends, Friends)
ONLINE_ACCESSOR(SteamUtils, online::OnlineUtils, Utils)
ONLINE_ACCESSOR(SteamApps, online::OnlineApps, Apps)
ONLINE_ACCESSOR(SteamClient, online::OnlineClient, Client)
ONLINE_ACCESSOR(SteamUserStats, online::OnlineUserStats, UserStats)
ONLINE_ACCESSOR(SteamRemoteStorage, online::OnlineRemoteStorage, RemoteStorage)
#undef ONLINE_ACCESSOR
