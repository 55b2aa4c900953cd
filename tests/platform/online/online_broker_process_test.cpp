// Online services through the broker program: start-up without a broker, two processes
// that meet in a lobby and play, and state that survives restarts and a killed broker.
// test-depends: online_broker
// test-sanitize: thread address
// test-timeout: 400
// test-link: broker_server
#include "OnlineTestUtil.h"

#include "platform/online/OnlineSocket.h"
#include "platform/online/OnlineStore.h"
#include "tools/broker/BrokerControl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace online;
using namespace onlinetest;

namespace {

#define REQUIRE(c) \
    if (!(c)) std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #c), _exit(1)

// Each step waits on the other process, which may start slowly on a loaded machine (a
// sanitizer build forking a multi-threaded test): generous, and within the child's alarm.
constexpr int kStepMs = 60000;
constexpr unsigned kChildSeconds = 150;

bool Pump(const std::function<bool()>& pred) { return PumpUntil({GlobalContext()}, pred, kStepMs); }

// The owner's side: creates a friends-only lobby, invites, sends, then dies.
[[noreturn]] void OwnerProcess() {
    REQUIRE(SteamAPI_Init());
    OnlineContext* ctx = GlobalContext();
    CallResult<LobbyCreated> created(ctx);
    created.Bind(SteamMatchmaking()->CreateLobby(kLobbyFriendsOnly, 2));
    REQUIRE(Pump([&] { return created.times == 1; }) && created.value.result == kResultOK);
    const OnlineId lobby = created.value.lobby;
    Catch<LobbyChatUpdate> members(ctx);
    SteamFriends()->ActivateGameOverlayInviteDialog(lobby);
    REQUIRE(Pump([&] { return members.Count() == 1; }) && members.All()[0].changeFlags == kMemberEntered);
    const OnlineId other = members.All()[0].userChanged;
    REQUIRE(std::string(SteamFriends()->GetFriendPersonaName(other)) == "B\xC3\xB8rge");
    // Reliable packets, then the ticket.
    for (uint32_t i = 0; i < 100; ++i) REQUIRE(SteamNetworking()->SendP2PPacket(other, &i, 4, kSendReliable));
    uint8_t ticket[1024];
    uint32_t size = 0;
    REQUIRE(SteamUser()->GetAuthSessionTicket(ticket, sizeof ticket, &size) != 0);
    REQUIRE(SteamNetworking()->SendP2PPacket(other, ticket, size, kSendReliable, 1));
    bool validated = false;
    REQUIRE(Pump([&] {
        char buf[1200];
        uint32_t n = 0;
        OnlineId from = 0;
        if (SteamNetworking()->ReadP2PPacket(buf, sizeof buf, &n, &from, 1)) validated = std::string(buf, n) == "validated";
        return validated;
    }));
    std::fflush(stderr);
    raise(SIGKILL);  // dies while still in the lobby
    _exit(3);
}

// The invited side: joins, validates the ticket, sees the owner die.
int gGuestReady[2] = {-1, -1};  // the guest writes one byte when it is connected

[[noreturn]] void GuestProcess() {
    REQUIRE(SteamAPI_Init());
    OnlineContext* ctx = GlobalContext();
    Catch<GameLobbyJoinRequested> invites(ctx);
    Catch<LobbyChatUpdate> members(ctx);
    Catch<P2PSessionRequest> sessions(ctx);
    Catch<ValidateAuthTicketResponse> validations(ctx);
    // Online and listening: the owner may invite now (an invitation to someone who is
    // not connected yet would never arrive).
    REQUIRE(write(gGuestReady[1], "r", 1) == 1);
    REQUIRE(Pump([&] { return invites.Count() == 1; }));
    const OnlineId lobby = invites.All()[0].lobby;
    const OnlineId owner = invites.All()[0].friendId;
    CallResult<LobbyEnter> entered(ctx);
    entered.Bind(SteamMatchmaking()->JoinLobby(lobby));
    REQUIRE(Pump([&] { return entered.times == 1; }) && entered.value.response == kEnterSuccess);
    REQUIRE(SteamMatchmaking()->GetLobbyOwner(lobby) == owner);
    OnlineId from = 0;
    // Reliable packets are lossless and ordered under the loss knob.
    // Each packet that finds the request delivered but unanswered raises it again, so a
    // guest that pumps while the packets stream in sees more than one, all from the owner.
    const auto allFromOwner = [&] {
        for (const P2PSessionRequest& s : sessions.All())
            if (s.remote != owner) return false;
        return true;
    };
    REQUIRE(Pump([&] { return sessions.Count() >= 1; }) && allFromOwner());
    SteamNetworking()->AcceptP2PSessionWithUser(owner);
    const size_t requestsAtAccept = sessions.Count();
    uint32_t expect = 0;
    std::vector<uint8_t> ticket;
    REQUIRE(Pump([&] {
        uint32_t v = 0, n = 0;
        while (SteamNetworking()->ReadP2PPacket(&v, 4, &n, &from, 0)) REQUIRE(v == expect++);
        uint8_t buf[1200];
        if (SteamNetworking()->ReadP2PPacket(buf, sizeof buf, &n, &from, 1)) ticket.assign(buf, buf + n);
        return expect == 100 && !ticket.empty();
    }));
    // Accepted: at most the one request already queued still arrives.
    REQUIRE(sessions.Count() <= requestsAtAccept + 1 && allFromOwner());
    REQUIRE(SteamUser()->BeginAuthSession(ticket.data(), static_cast<int>(ticket.size()), owner) == kBeginAuthOK);
    REQUIRE(Pump([&] { return validations.Count() == 1; }) && validations.All()[0].response == kAuthOK);
    REQUIRE(SteamNetworking()->SendP2PPacket(owner, "validated", 9, kSendReliable, 1));
    REQUIRE(Pump([&] {
        for (const auto& m : members.All())
            if (m.userChanged == owner && (m.changeFlags & kMemberDisconnected)) return true;
        return false;
    }));
    REQUIRE(SteamMatchmaking()->GetLobbyOwner(lobby) == SteamUser()->GetSteamID());
    SteamAPI_Shutdown();
    _exit(0);
}

pid_t Spawn(void (*body)(), const std::vector<std::pair<const char*, std::string>>& env) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(kChildSeconds);  // a stuck child ends by itself
        for (const auto& [k, v] : env) setenv(k, v.c_str(), 1);
        body();
    }
    return pid;
}

TEST(BrokerProcess, StartupFailsWithoutBrokerAndSucceedsOffline) {
    TempDir dir;
    setenv("ONLINE_BROKER_DIR", dir.path.c_str(), 1);
    unsetenv("ONLINE_OFFLINE");
    EXPECT_FALSE(SteamAPI_Init());
    EXPECT_EQ(SteamUser(), nullptr);
    setenv("ONLINE_OFFLINE", "1", 1);
    setenv("ONLINE_DATA_DIR", dir.path.c_str(), 1);
    setenv("ONLINE_SCHEMA", (std::string(PROJECT_SOURCE_ROOT) + "/platform/online/online_schema.txt").c_str(), 1);
    ASSERT_TRUE(SteamAPI_Init());
    ASSERT_NE(SteamUser(), nullptr);
    EXPECT_TRUE(SteamRemoteStorage()->FileWrite("progress", "abc", 3));
    // Nobody else is online: a packet's target fails to connect.
    struct Count : CallbackBase {
        int n = 0;
        void Run(const void*, bool, CallHandle) override { ++n; }
    } fails;
    SteamAPI_RegisterCallback(&fails, P2PSessionConnectFail::kCallbackId);
    SteamNetworking()->SendP2PPacket(MakeUserId(2), "x", 1, kSendReliable);
    EXPECT_TRUE(PumpUntil({GlobalContext()}, [&] { return fails.n == 1; }));
    SteamAPI_UnregisterCallback(&fails);
    SteamAPI_Shutdown();
    // Offline saves persist in the data folder.
    ASSERT_TRUE(SteamAPI_Init());
    char buf[8] = {};
    EXPECT_EQ(SteamRemoteStorage()->FileRead("progress", buf, 8), 3);
    EXPECT_STREQ(buf, "abc");
    SteamAPI_Shutdown();
    unsetenv("ONLINE_OFFLINE");
    unsetenv("ONLINE_DATA_DIR");
}

TEST(BrokerProcess, TwoProcessesMeetInALobbyAndPlay) {
    TempDir dir;
    BrokerProcess broker(dir.path.string());
    ASSERT_TRUE(broker.Start());
    std::string answer, error;
    ASSERT_TRUE(ControlBroker(dir.path.string(), "seed", "user 1 \xC3\x81nna\nuser 2 B\xC3\xB8rge\nfriends 1 2\n", &answer,
                              &error))
        << error;
    const std::string folder = dir.path.string();
    ASSERT_EQ(pipe(gGuestReady), 0);
    const pid_t guest = Spawn(GuestProcess, {{"ONLINE_BROKER_DIR", folder}, {"ONLINE_ACCOUNT", "2"},
                                             {"ONLINE_PERSONA", "B\xC3\xB8rge"}, {"ONLINE_PACKET_LOSS", "40"}});
    pollfd ready{gGuestReady[0], POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, kStepMs), 1) << "the guest never came online";
    const pid_t owner = Spawn(OwnerProcess, {{"ONLINE_BROKER_DIR", folder}, {"ONLINE_ACCOUNT", "1"},
                                             {"ONLINE_PERSONA", "\xC3\x81nna"}, {"ONLINE_AUTO_INVITE", "2"}});
    const int ownerStatus = WaitOrKill(owner, kChildSeconds + 10);
    const int guestStatus = WaitOrKill(guest, kChildSeconds + 10);
    EXPECT_TRUE(WIFSIGNALED(ownerStatus) && WTERMSIG(ownerStatus) == SIGKILL) << ownerStatus;
    EXPECT_TRUE(ExitedNormally(guestStatus)) << guestStatus;
    close(gGuestReady[0]);
    close(gGuestReady[1]);
}

TEST(BrokerProcess, AcknowledgedWritesSurviveRestartsAndAKilledBroker) {
    TempDir dir;
    const std::string folder = dir.path.string();
    ClientConfig config = Config(5, "Writer");
    config.brokerDir = folder;
    {
        BrokerProcess broker(folder);
        ASSERT_TRUE(broker.Start());
        std::string error;
        auto ctx = OnlineContext::Connect(config, &error);
        ASSERT_TRUE(ctx) << error;
        ASSERT_TRUE(ctx->UserStats()->RequestCurrentStats());
        EXPECT_TRUE(ctx->UserStats()->SetStat("CTowersDestroyed", 12));
        EXPECT_TRUE(ctx->UserStats()->SetAchievement("DESTROY_10_TOWERS"));
        EXPECT_TRUE(ctx->UserStats()->StoreStats());
        EXPECT_TRUE(ExitedNormally(broker.Stop()));
        EXPECT_TRUE(PumpUntil({ctx.get()}, [&] { return !ctx->Connected(); }, kStepMs));
        EXPECT_FALSE(ctx->RemoteStorage()->FileWrite("late", "x", 1));
    }
    BrokerProcess broker(folder);
    ASSERT_TRUE(broker.Start());
    std::string answer, error;
    ASSERT_TRUE(ControlBroker(folder, "stats", "5", &answer, &error)) << error;
    EXPECT_NE(answer.find("\"CTowersDestroyed\":12"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"DESTROY_10_TOWERS\":1"), std::string::npos) << answer;

    // Write files until the broker is killed; every acknowledged one must be there afterwards.
    std::atomic<int> acknowledged{-1};
    {
        auto ctx = OnlineContext::Connect(config, &error);
        ASSERT_TRUE(ctx) << error;
        std::thread writer([&] {
            for (int i = 0; i < 100000; ++i) {
                const std::string name = "save" + std::to_string(i);
                std::string body(1000 + i % 97, static_cast<char>('a' + i % 26));
                if (!ctx->RemoteStorage()->FileWrite(name.c_str(), body.data(), static_cast<int32_t>(body.size()))) break;
                acknowledged = i;
            }
        });
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepMs);
        while (acknowledged < 20 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        broker.Stop(SIGKILL);
        writer.join();
    }
    ASSERT_GE(acknowledged.load(), 20);
    {
        BrokerStore killed;
        ASSERT_TRUE(killed.Open(folder + "/data/broker.db", &error)) << error;
        EXPECT_TRUE(killed.IntegrityOk());
    }
    ASSERT_TRUE(broker.Start());
    auto ctx = OnlineContext::Connect(config, &error);
    ASSERT_TRUE(ctx) << error;
    for (int i = 0; i <= acknowledged; ++i) {
        const std::string name = "save" + std::to_string(i);
        std::string expect(1000 + i % 97, static_cast<char>('a' + i % 26));
        std::string got(expect.size(), '\0');
        ASSERT_EQ(ctx->RemoteStorage()->FileRead(name.c_str(), got.data(), static_cast<int32_t>(got.size())),
                  static_cast<int32_t>(expect.size()))
            << name;
        ASSERT_EQ(got, expect) << name;
    }
    ASSERT_TRUE(ControlBroker(folder, "file", "5/save0", &answer, &error));
    EXPECT_EQ(answer.size(), 1000u);
}

}  // namespace
