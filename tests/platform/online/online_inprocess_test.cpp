// Online services through the in-process broker: several users in one process.
// test-sanitize: thread address
// test-link: broker_server
#include "OnlineTestUtil.h"

#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineStore.h"
#include "platform/os/Clock.h"
#include "tools/broker/BrokerControl.h"

#include <gtest/gtest.h>

#include <cstring>

#include <atomic>
#include <algorithm>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <tuple>

using namespace online;
using namespace onlinetest;

namespace {

StatsSchema GameSchema() {
    StatsSchema s;
    std::string error;
    EXPECT_TRUE(s.Load(std::string(PROJECT_SOURCE_ROOT) + "/platform/online/online_schema.txt", &error)) << error;
    return s;
}

// A control command on the in-process broker's store.
bool Control(LocalBroker& broker, const std::string& command, const std::string& argument, std::string* answer) {
    return broker.WithStore([&](BrokerStore& store) { return RunControl(store, command, argument, answer); });
}

class InProcess : public ::testing::Test {
protected:
    void SetUp() override {
        broker = std::make_unique<LocalBroker>();
        ASSERT_TRUE(broker->Open(dir.path.string(), GameSchema(), nullptr));
        std::string answer;
        ASSERT_TRUE(Control(*broker, "seed", "user 1 Alice\nuser 2 Bj\xC3\xB6rk \xE6\x97\xA5\nfriends 1 2\n", &answer)) << answer;
        a = broker->CreateClient(Config(1, "Alice"));
        b = broker->CreateClient(Config(2, "Bj\xC3\xB6rk \xE6\x97\xA5"));
        ASSERT_TRUE(a && b);
    }
    TempDir dir;
    std::unique_ptr<LocalBroker> broker;
    std::unique_ptr<OnlineContext> a, b;
};

TEST_F(InProcess, LobbyMembersSeeEveryChangeIncludingTheirOwn) {
    Catch<LobbyDataUpdate> aUpdates(a.get()), bUpdates(b.get());
    Catch<LobbyChatUpdate> aMembers(a.get());
    const OnlineId lobby = Await<LobbyCreated>(a.get(), a->Matchmaking()->CreateLobby(kLobbyFriendsOnly, 2)).lobby;
    ASSERT_TRUE(IsValidLobbyId(lobby));
    EXPECT_EQ(Await<LobbyEnter>(b.get(), b->Matchmaking()->JoinLobby(lobby)).response, kEnterSuccess);
    EXPECT_TRUE(PumpUntil({a.get(), b.get()}, [&] { return aMembers.Count() == 1 && bUpdates.Count() >= 1; }));
    EXPECT_EQ(std::make_tuple(aMembers.All()[0].changeFlags, aMembers.All()[0].userChanged, b->Matchmaking()->GetNumLobbyMembers(lobby),
                              b->Matchmaking()->GetLobbyOwner(lobby)),
              std::make_tuple(uint32_t(kMemberEntered), b->User()->GetSteamID(), 2, a->User()->GetSteamID()));
    // Persona names of lobby-mates are known, so no information request is needed.
    EXPECT_FALSE(b->Friends()->RequestUserInformation(a->User()->GetSteamID(), false));

    aUpdates.Clear();
    bUpdates.Clear();
    // Only the owner sets lobby data; the setter hears of it too, and the data is readable then.
    EXPECT_FALSE(b->Matchmaking()->SetLobbyData(lobby, "map", "3"));
    EXPECT_TRUE(a->Matchmaking()->SetLobbyData(lobby, "map", "2"));
    EXPECT_TRUE(PumpUntil({a.get(), b.get()}, [&] { return aUpdates.Count() == 1 && bUpdates.Count() == 1; }));
    EXPECT_STREQ(b->Matchmaking()->GetLobbyData(lobby, "map"), "2");
    EXPECT_EQ(aUpdates.All()[0].member, lobby);

    // Readiness: the owner readies last and still hears its own change.
    b->Matchmaking()->SetLobbyMemberData(lobby, "ready", "1");
    a->Matchmaking()->SetLobbyMemberData(lobby, "ready", "1");
    EXPECT_TRUE(PumpUntil({a.get(), b.get()}, [&] { return aUpdates.Count() == 3 && bUpdates.Count() == 3; }));
    EXPECT_EQ(aUpdates.All()[2].member, a->User()->GetSteamID());
    EXPECT_STREQ(a->Matchmaking()->GetLobbyMemberData(lobby, b->User()->GetSteamID(), "ready"), "1");
    EXPECT_STREQ(b->Matchmaking()->GetLobbyMemberData(lobby, a->User()->GetSteamID(), "ready"), "1");
    // An unchanged value raises nothing (a handler that rewrites its data cannot loop).
    a->Matchmaking()->SetLobbyMemberData(lobby, "ready", "1");
    PumpUntil({a.get(), b.get()}, [] { return false; }, 30);
    EXPECT_EQ(aUpdates.Count(), 3u);

    // Chat reaches every member, the sender included.
    Catch<LobbyChatMsg> aChat(a.get()), bChat(b.get());
    const char16_t line[] = u"gg \u00e9";
    ASSERT_TRUE(b->Matchmaking()->SendLobbyChatMsg(lobby, line, 8));
    EXPECT_TRUE(PumpUntil({a.get(), b.get()}, [&] { return aChat.Count() == 1 && bChat.Count() == 1; }));
    char16_t got[128] = {};
    OnlineId from = 0;
    int32_t type = 0;
    EXPECT_EQ(a->Matchmaking()->GetLobbyChatEntry(lobby, static_cast<int>(aChat.All()[0].chatId), &from, got, 256, &type), 8);
    EXPECT_EQ(std::make_tuple(from, type, std::u16string(got)), std::make_tuple(b->User()->GetSteamID(), int32_t(kChatEntryMessage), std::u16string(u"gg \u00e9")));

    // The owner leaves: ownership moves, the other sees the member leave.
    Catch<LobbyChatUpdate> bMembers(b.get());
    a->Matchmaking()->LeaveLobby(lobby);
    EXPECT_TRUE(PumpUntil({b.get()}, [&] { return bMembers.Count() == 1; }));
    EXPECT_EQ(std::make_tuple(bMembers.All()[0].changeFlags, b->Matchmaking()->GetLobbyOwner(lobby), b->Matchmaking()->GetNumLobbyMembers(lobby)),
              std::make_tuple(uint32_t(kMemberLeft), b->User()->GetSteamID(), 1));
    // The last member leaves: the lobby is gone.
    b->Matchmaking()->LeaveLobby(lobby);
    EXPECT_EQ(Await<LobbyEnter>(a.get(), a->Matchmaking()->JoinLobby(lobby)).response, kEnterDoesNotExist);
}

TEST_F(InProcess, LobbyListRequestsCarryTheGatheredFiltersOnce) {
    std::vector<OnlineId> lobbies;
    for (const char* skill : {"1900", "1200", "1100"}) {
        const LobbyCreated created = Await<LobbyCreated>(a.get(), a->Matchmaking()->CreateLobby(kLobbyPublic, 4));
        lobbies.push_back(created.lobby);
        a->Matchmaking()->SetLobbyData(created.lobby, "squadSkill", skill);
        a->Matchmaking()->SetLobbyData(created.lobby, "ownerID", skill[1] == '1' ? "e" : "x");
    }
    auto list = [&](auto addFilters) {
        CallResult<LobbyMatchList> matches(b.get());
        addFilters(b->Matchmaking());
        matches.Bind(b->Matchmaking()->RequestLobbyList());
        EXPECT_TRUE(PumpUntil({b.get()}, [&] { return matches.times == 1; }));
        std::vector<OnlineId> ids;
        for (uint32_t i = 0; i < matches.value.lobbiesMatching; ++i) ids.push_back(b->Matchmaking()->GetLobbyByIndex(static_cast<int>(i)));
        return ids;
    };
    auto hits = list([](OnlineMatchmaking* m) {
        m->AddRequestLobbyListNumericalFilter("squadSkill", 1000, kCompareGreaterOrEqual);
        m->AddRequestLobbyListNumericalFilter("squadSkill", 2000, kCompareLessOrEqual);
        m->AddRequestLobbyListStringFilter("ownerID", "e", kCompareNotEqual);
        m->AddRequestLobbyListNearValueFilter("squadSkill", 1000);
        m->AddRequestLobbyListDistanceFilter(2);
    });
    EXPECT_EQ(hits, (std::vector<OnlineId>{lobbies[1], lobbies[0]}));
    EXPECT_STREQ(b->Matchmaking()->GetLobbyData(lobbies[0], "squadSkill"), "1900");
    // Filters are consumed by the request; the count filter caps the results.
    EXPECT_EQ(list([](OnlineMatchmaking* m) { m->AddRequestLobbyListResultCountFilter(1); }).size(), 1u);
    EXPECT_EQ(list([](OnlineMatchmaking*) {}).size(), 3u);
    // Filters the broker would refuse are dropped at once, not sent.
    const std::string longKey(wire::kMaxKey + 1, 'k'), longValue(wire::kMaxValue + 1, 'v');
    EXPECT_EQ(list([&](OnlineMatchmaking* m) {
                  m->AddRequestLobbyListStringFilter(longKey.c_str(), "x", kCompareEqual);
                  m->AddRequestLobbyListStringFilter("ownerID", longValue.c_str(), kCompareEqual);
                  m->AddRequestLobbyListNumericalFilter(longKey.c_str(), 1, kCompareEqual);
                  m->AddRequestLobbyListNearValueFilter(longKey.c_str(), 1);
              }).size(),
              3u);
    EXPECT_TRUE(b->Connected());
    EXPECT_EQ(b->Matchmaking()->GetLobbyByIndex(3), 0u);
    EXPECT_EQ(b->Matchmaking()->GetLobbyByIndex(-1), 0u);
}

TEST_F(InProcess, PeerToPeerSessionsAndPacketRules) {
    // Packets wait for the session to be accepted. A host that was not yet listening
    // ignores the first request; the client's next packet must ask again, or the two
    // never connect.
    Catch<P2PSessionRequest> bRequests(b.get());
    const OnlineId ida = a->User()->GetSteamID(), idb = b->User()->GetSteamID();
    ASSERT_TRUE(a->Networking()->SendP2PPacket(idb, "hello", 6, kSendReliable));
    ASSERT_TRUE(a->Networking()->SendP2PPacket(idb, "x", 2, kSendReliable));
    EXPECT_TRUE(PumpUntil({b.get()}, [&] { return bRequests.Count() == 1; }));
    PumpUntil({b.get()}, [] { return false; }, 20);
    EXPECT_EQ(bRequests.Count(), 1u);  // one request while it is still unanswered
    EXPECT_EQ(bRequests.All()[0].remote, ida);
    uint32_t size = 0;
    EXPECT_FALSE(b->Networking()->IsP2PPacketAvailable(&size));
    ASSERT_TRUE(a->Networking()->SendP2PPacket(idb, "3", 2, kSendUnreliableNoDelay));
    EXPECT_TRUE(PumpUntil({b.get()}, [&] { return bRequests.Count() == 2; }));
    b->Networking()->AcceptP2PSessionWithUser(ida);
    ASSERT_TRUE(b->Networking()->IsP2PPacketAvailable(&size));
    EXPECT_EQ(size, 6u);
    char buf[1200];
    OnlineId from = 0;
    size = 0;
    ASSERT_TRUE(b->Networking()->ReadP2PPacket(buf, sizeof buf, &size, &from));
    EXPECT_EQ(std::make_tuple(std::string(buf), size, from), std::make_tuple(std::string("hello"), 6u, ida));
    // A packet that does not fit the buffer is dropped, not left queued.
    EXPECT_FALSE(b->Networking()->ReadP2PPacket(buf, 1, &size, &from));
    ASSERT_TRUE(b->Networking()->ReadP2PPacket(buf, sizeof buf, &size, &from));
    EXPECT_STREQ(buf, "3");
    EXPECT_FALSE(b->Networking()->IsP2PPacketAvailable(&size));
    ASSERT_TRUE(a->Networking()->SendP2PPacket(idb, "4", 2, kSendUnreliableNoDelay));
    PumpUntil({b.get()}, [] { return false; }, 20);
    EXPECT_EQ(bRequests.Count(), 2u);
    // Our reply is accepted at a without a request: sending opened a's side.
    Catch<P2PSessionRequest> aRequests(a.get());
    ASSERT_TRUE(b->Networking()->SendP2PPacket(ida, "ok", 3, kSendUnreliableNoDelay));
    EXPECT_TRUE(a->Networking()->ReadP2PPacket(buf, sizeof buf, &size, &from));
    PumpUntil({a.get()}, [] { return false; }, 20);
    EXPECT_EQ(aRequests.Count(), 0u);
    // Packets from senders nobody accepted are held up to 4096 in all.
    auto c = broker->CreateClient(Config(3, "Carol"));
    for (uint32_t i = 0; i < 4097; ++i) c->Networking()->SendP2PPacket(idb, &i, 4, kSendReliable);
    b->Networking()->AcceptP2PSessionWithUser(c->User()->GetSteamID());
    b->Networking()->AcceptP2PSessionWithUser(c->User()->GetSteamID());  // again: nothing more
    uint32_t v = 0, last = 0, read = 0;
    while (b->Networking()->ReadP2PPacket(&v, 4, &size, &from))
        if (from == c->User()->GetSteamID()) ++read, last = v;
    EXPECT_EQ(read, 4096u);
    EXPECT_EQ(last, 4095u);
}

TEST_F(InProcess, LossKnobDropsOnlyUnreliablePacketsAndReliableStayOrdered) {
    ClientConfig lossy = Config(9, "Lossy");
    lossy.packetLossPercent = 50, lossy.randomSeed = 7;
    auto c = broker->CreateClient(lossy);
    const OnlineId idc = c->User()->GetSteamID(), ida = a->User()->GetSteamID();
    c->Networking()->AcceptP2PSessionWithUser(ida);
    for (uint32_t i = 0; i < 200; ++i) {
        a->Networking()->SendP2PPacket(idc, &i, 4, kSendReliable);
        a->Networking()->SendP2PPacket(idc, &i, 4, kSendUnreliableNoDelay, 1);
    }
    uint32_t v = 0, size = 0, expect = 0, unreliable = 0;
    OnlineId from;
    while (c->Networking()->ReadP2PPacket(&v, 4, &size, &from, 0)) EXPECT_EQ(v, expect++);
    while (c->Networking()->ReadP2PPacket(&v, 4, &size, &from, 1)) ++unreliable;
    EXPECT_EQ(expect, 200u);
    EXPECT_GT(unreliable, 50u);
    EXPECT_LT(unreliable, 150u);

    // Latency holds unreliable packets back; jitter adds up to its value, so they pass each other.
    os::ManualClock clock(1000);
    clock.Install();
    ClientConfig late = Config(10, "Late");
    late.packetLatencyMs = 50, late.packetJitterMs = 20, late.randomSeed = 3;
    auto d = broker->CreateClient(late);
    const OnlineId idd = d->User()->GetSteamID();
    d->Networking()->AcceptP2PSessionWithUser(ida);
    for (uint32_t i = 0; i < 20; ++i) a->Networking()->SendP2PPacket(idd, &i, 4, kSendUnreliableNoDelay);
    a->Networking()->SendP2PPacket(idd, "r", 2, kSendReliable, 1);
    EXPECT_TRUE(d->Networking()->IsP2PPacketAvailable(&size, 1));  // reliable ones are never held
    clock.AdvanceSeconds(0.0499);
    EXPECT_FALSE(d->Networking()->IsP2PPacketAvailable(&size, 0));
    clock.AdvanceSeconds(0.0202);
    std::vector<uint32_t> order;
    while (d->Networking()->ReadP2PPacket(&v, 4, &size, &from, 0)) order.push_back(v);
    clock.Uninstall();
    EXPECT_EQ(order.size(), 20u);
    EXPECT_FALSE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(InProcess, TicketsValidateAsynchronouslyAndFailUnderTheKnob) {
    uint8_t ticket[1024];
    uint32_t size = 0;
    const AuthTicket handle = a->User()->GetAuthSessionTicket(ticket, sizeof ticket, &size);
    ASSERT_NE(handle, 0u);
    ASSERT_GT(size, 0u);
    Catch<ValidateAuthTicketResponse> responses(b.get());
    const OnlineId ida = a->User()->GetSteamID();
    EXPECT_EQ(b->User()->BeginAuthSession(ticket, static_cast<int>(size), ida), kBeginAuthOK);
    EXPECT_EQ(b->User()->BeginAuthSession(ticket, static_cast<int>(size), ida), kBeginAuthDuplicate);
    EXPECT_TRUE(PumpUntil({b.get()}, [&] { return responses.Count() == 1; }));
    EXPECT_EQ(responses.All()[0].response, kAuthOK);
    EXPECT_EQ(responses.All()[0].user, ida);
    b->User()->EndAuthSession(ida);
    // A ticket shown for someone else fails at once; after the session ends, the same
    // ticket may be shown again. (The broker's checks are tested with the broker core.)
    EXPECT_EQ(b->User()->BeginAuthSession(ticket, static_cast<int>(size), MakeUserId(5)), kBeginAuthInvalidTicket);
    EXPECT_EQ(b->User()->BeginAuthSession(ticket, static_cast<int>(size), ida), kBeginAuthOK);
    EXPECT_TRUE(PumpUntil({b.get()}, [&] { return responses.Count() == 2; }));

    ClientConfig strict = Config(6, "Strict");
    strict.ticketFailure = 5;
    auto c = broker->CreateClient(strict);
    Catch<ValidateAuthTicketResponse> cResponses(c.get());
    a->User()->GetAuthSessionTicket(ticket, sizeof ticket, &size);
    c->User()->BeginAuthSession(ticket, static_cast<int>(size), ida);
    EXPECT_TRUE(PumpUntil({c.get()}, [&] { return cResponses.Count() == 1; }));
    EXPECT_EQ(cResponses.All()[0].response, 5u);
}

TEST_F(InProcess, AvatarsAndPersonaKnobsAnswerLaterWithEvents) {
    ClientConfig slow = Config(7, "Slow");
    slow.avatarsLoading = slow.personaDelay = true;
    auto c = broker->CreateClient(slow);
    const OnlineId ida = a->User()->GetSteamID();
    Catch<AvatarImageLoaded> loaded(c.get());
    Catch<PersonaStateChange> persona(c.get());
    EXPECT_EQ(c->Friends()->GetLargeFriendAvatar(ida), -1);
    // Unknown user: asks the broker; the answer raises a persona change.
    EXPECT_TRUE(c->Friends()->RequestUserInformation(ida, false));
    EXPECT_TRUE(PumpUntil({c.get()}, [&] { return loaded.Count() == 1 && persona.Count() >= 1; }));
    const int image = c->Friends()->GetLargeFriendAvatar(ida);
    EXPECT_GT(image, 0);
    EXPECT_EQ(std::make_pair(loaded.All()[0].image, loaded.All()[0].wide), std::make_pair(image, int32_t(kAvatarSize)));
    EXPECT_STREQ(c->Friends()->GetFriendPersonaName(ida), "Alice");
    // Known now: under the knob, the first question answers "loading" and announces the
    // name at the next pump; later questions answer at once.
    persona.Clear();
    EXPECT_TRUE(c->Friends()->RequestUserInformation(ida, false));
    EXPECT_TRUE(PumpUntil({c.get()}, [&] { return persona.Count() == 1; }));
    EXPECT_EQ(persona.All()[0].user, ida);
    EXPECT_FALSE(c->Friends()->RequestUserInformation(ida, false));
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(c->Utils()->GetImageSize(image, &w, &h));
    EXPECT_EQ(w, 184u);
    std::vector<uint8_t> rgba(184 * 184 * 4), other(184 * 184 * 4);
    EXPECT_FALSE(c->Utils()->GetImageRGBA(image, rgba.data(), 100));
    ASSERT_TRUE(c->Utils()->GetImageRGBA(image, rgba.data(), static_cast<int>(rgba.size())));
    EXPECT_EQ(rgba[3], 255);
    // Stripes of two complementary colours: the first change along the top row.
    int x = 1;
    while (x < 184 && std::equal(&rgba[0], &rgba[3], &rgba[4 * x])) ++x;
    ASSERT_LT(x, 184);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(rgba[c] + rgba[4 * x + c], 255) << c;
    const int own = a->Friends()->GetLargeFriendAvatar(a->User()->GetSteamID());
    ASSERT_TRUE(a->Utils()->GetImageRGBA(own, other.data(), static_cast<int>(other.size())));
    EXPECT_EQ(other, rgba);  // the same user's picture everywhere
    EXPECT_EQ(a->Friends()->GetLargeFriendAvatar(MakeLobbyId(1)), 0);
    // A friendship made after sign-in shows once the user is asked about; others stay strangers.
    std::string answer;
    auto e = broker->CreateClient(Config(8, "Eve"));
    ASSERT_TRUE(Control(*broker, "seed", "friends 8 1\n", &answer));
    EXPECT_TRUE(e->Friends()->RequestUserInformation(ida, false));
    EXPECT_TRUE(e->Friends()->RequestUserInformation(b->User()->GetSteamID(), false));
    EXPECT_TRUE(PumpUntil({e.get()}, [&] { return std::string(e->Friends()->GetFriendPersonaName(b->User()->GetSteamID())) != ""; }));
    EXPECT_EQ(e->Friends()->GetFriendRelationship(ida), kRelationFriend);
    EXPECT_EQ(e->Friends()->GetFriendRelationship(b->User()->GetSteamID()), kRelationNone);
    // The overlay knob: every overlay raises "shown", then "hidden".
    ClientConfig overlay = Config(11, "Overlay");
    overlay.overlayEvents = true;
    auto f = broker->CreateClient(overlay);
    Catch<GameOverlayActivated> shown(f.get());
    f->Friends()->ActivateGameOverlayInviteDialog(MakeLobbyId(1));
    f->Friends()->ActivateGameOverlayToWebPage("https://example.invalid/");
    f->Friends()->ActivateGameOverlay("Friends");
    EXPECT_TRUE(PumpUntil({f.get()}, [&] { return shown.Count() == 6; }));
    for (size_t i = 0; i < shown.Count(); ++i) EXPECT_EQ(shown.All()[i].active, i % 2 == 0 ? 1 : 0) << i;
}

TEST_F(InProcess, StatsFollowTheSchemaAndReadBack) {
    int32_t i = 0;
    float f = 0;
    {
        Catch<UserStatsReceived> received(a.get());
        Catch<UserStatsStored> stored(a.get());
        Catch<UserAchievementStored> achieved(a.get());
        EXPECT_FALSE(a->UserStats()->GetStat("MPTowersWinsNum", &i));  // not received yet
        ASSERT_TRUE(a->UserStats()->RequestCurrentStats());
        EXPECT_TRUE(PumpUntil({a.get()}, [&] { return received.Count() == 1; }));
        EXPECT_EQ(std::make_tuple(received.All()[0].result, received.All()[0].gameId, received.All()[0].user),
                  std::make_tuple(kResultOK, uint64_t(0x234567u), a->User()->GetSteamID()));
        EXPECT_TRUE(a->UserStats()->GetStat("MPTowersWinsNum", &i));
        EXPECT_EQ(i, 0);
        // Wrong type or unknown name.
        EXPECT_FALSE(a->UserStats()->GetStat("MPTowersWinsNum", &f) || a->UserStats()->GetStat("NoSuchStat", &i) ||
                     a->UserStats()->SetStat("MPFastestWinTime", 3) || a->UserStats()->SetAchievement("NOT_AN_ACHIEVEMENT"));
        EXPECT_TRUE(a->UserStats()->SetStat("MPFastestWinTime", 93.5f));
        EXPECT_TRUE(a->UserStats()->SetStat("MPWinStreak", -4));
        EXPECT_TRUE(a->UserStats()->SetAchievement("MP_WIN_3_IN_A_ROW"));
        EXPECT_TRUE(a->UserStats()->IndicateAchievementProgress("MP_WIN_5_IN_A_ROW", 3, 5));
        ASSERT_TRUE(a->UserStats()->StoreStats());
        EXPECT_TRUE(PumpUntil({a.get()}, [&] { return stored.Count() == 1 && achieved.Count() == 2; }));
        EXPECT_EQ(stored.All()[0].result, kResultOK);
        const auto got = achieved.All();
        EXPECT_EQ(std::make_tuple(std::string(got[0].achievementName), got[0].maxProgress, got[0].gameId,
                                  std::string(got[1].achievementName), got[1].gameId),
                  std::make_tuple(std::string("MP_WIN_5_IN_A_ROW"), 5u, uint64_t(0x234567u), std::string("MP_WIN_3_IN_A_ROW"),
                                  uint64_t(0x234567u)));

        std::string json;
        ASSERT_TRUE(Control(*broker, "stats", "1", &json));
        EXPECT_NE(json.find("\"MPFastestWinTime\":93.5"), std::string::npos) << json;
        EXPECT_NE(json.find("\"MP_WIN_3_IN_A_ROW\":1"), std::string::npos);
    }
    a = broker->CreateClient(Config(1, "Alice"));  // a new connection reads what the store holds
    Catch<UserStatsReceived> again(a.get());
    a->UserStats()->RequestCurrentStats();
    EXPECT_TRUE(PumpUntil({a.get()}, [&] { return again.Count() == 1; }));
    bool done = false, dummy = true;
    EXPECT_TRUE(a->UserStats()->GetStat("MPFastestWinTime", &f) && a->UserStats()->GetStat("MPWinStreak", &i) &&
                a->UserStats()->GetAchievement("MP_WIN_3_IN_A_ROW", &done) && a->UserStats()->GetAchievement("Dummy", &dummy));
    EXPECT_EQ(std::make_tuple(f, i, done, dummy), std::make_tuple(93.5f, -4, true, false));

    ClientConfig failing = Config(8, "Failing");
    failing.statsFail = true;
    auto c = broker->CreateClient(failing);
    Catch<UserStatsReceived> failed(c.get());
    c->UserStats()->RequestCurrentStats();
    EXPECT_TRUE(PumpUntil({c.get()}, [&] { return failed.Count() == 1; }));
    EXPECT_NE(failed.All()[0].result, kResultOK);
    EXPECT_FALSE(c->UserStats()->StoreStats());
}

TEST_F(InProcess, NonFiniteStatsAreRefusedAndNeverReachTheJson) {
    Catch<UserStatsReceived> received(a.get());
    ASSERT_TRUE(a->UserStats()->RequestCurrentStats());
    ASSERT_TRUE(PumpUntil({a.get()}, [&] { return received.Count() == 1; }));
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (float f : bad) EXPECT_FALSE(a->UserStats()->SetStat("MPFastestWinTime", f)) << f;
    EXPECT_TRUE(a->UserStats()->SetStat("MPFastestWinTime", std::numeric_limits<float>::max()));
    std::string json;
    ASSERT_TRUE(Control(*broker, "stats", "1", &json));
    EXPECT_EQ(json, "{\"stats\":{},\"achievements\":{}}");
    // A value stored before the refusal reads as 0 and shows as null.
    ASSERT_TRUE(broker->WithStore([](BrokerStore& s) { return s.SaveStats(1, {{"MPFastestWinTime", "nan"}}, {}); }));
    ASSERT_TRUE(Control(*broker, "stats", "1", &json));
    EXPECT_EQ(json, "{\"stats\":{\"MPFastestWinTime\":null},\"achievements\":{}}");
    a->UserStats()->RequestCurrentStats();
    ASSERT_TRUE(PumpUntil({a.get()}, [&] { return received.Count() == 2; }));
    float f = 1;
    EXPECT_TRUE(a->UserStats()->GetStat("MPFastestWinTime", &f));
    EXPECT_EQ(f, 0.0f);
}

TEST_F(InProcess, LeaderboardsAnswerThroughCallResultsAndCaches) {
    std::string answer;
    ASSERT_TRUE(Control(*broker, "seed",
                        "leaderboard M01 descending\nscore M01 10 500\nscore M01 11 400 7 -8\nscore M01 12 300\n",
                        &answer))
        << answer;
    const LeaderboardFindResult found = Await<LeaderboardFindResult>(a.get(), a->UserStats()->FindLeaderboard("M01"));
    const LeaderboardHandle m01 = found.leaderboard;
    EXPECT_TRUE(found.found);
    EXPECT_STREQ(a->UserStats()->GetLeaderboardName(m01), "M01");
    EXPECT_EQ(a->UserStats()->GetLeaderboardEntryCount(m01), 3);
    auto upload = [&](int32_t method, int32_t score) {
        return Await<LeaderboardScoreUploaded>(a.get(), a->UserStats()->UploadLeaderboardScore(m01, method, score, nullptr, 0));
    };
    LeaderboardScoreUploaded up = upload(kUploadKeepBest, 350);
    EXPECT_TRUE(up.success && up.scoreChanged);
    EXPECT_EQ(std::make_tuple(up.score, up.globalRankNew, up.globalRankPrevious), std::make_tuple(350, 3, 0));
    EXPECT_EQ(a->UserStats()->GetLeaderboardEntryCount(m01), 4);
    up = upload(kUploadForceUpdate, 50);
    EXPECT_EQ(std::make_pair(up.globalRankNew, up.globalRankPrevious), std::make_pair(4, 3));
    // Downloaded entries carry ranks, details and names; the count follows the board.
    const LeaderboardScoresDownloaded down = Await<LeaderboardScoresDownloaded>(a.get(), a->UserStats()->DownloadLeaderboardEntries(m01, kLeaderboardGlobal, 2, 3));
    ASSERT_EQ(down.entryCount, 2);
    LeaderboardEntry e{};
    int32_t details[4] = {};
    ASSERT_TRUE(a->UserStats()->GetDownloadedLeaderboardEntry(down.entries, 0, &e, details, 1));
    EXPECT_EQ(std::make_tuple(AccountOf(e.user), e.globalRank, e.detailCount, details[0], details[1]),
              std::make_tuple(11u, 2, 2, 7, 0));  // details: only as many as asked for
    EXPECT_FALSE(a->UserStats()->GetDownloadedLeaderboardEntry(down.entries, 2, &e, details, 4));
    EXPECT_FALSE(a->UserStats()->GetDownloadedLeaderboardEntry(down.entries, -1, &e, details, 4));
    EXPECT_STREQ(a->Friends()->GetFriendPersonaName(e.user), "");  // account 11 was never named
}

TEST_F(InProcess, InterfaceCallsRefuseArgumentsOutOfRange) {
    OnlineMatchmaking* m = a->Matchmaking();
    OnlineNetworking* n = a->Networking();
    OnlineUserStats* st = a->UserStats();
    OnlineRemoteStorage* rs = a->RemoteStorage();
    const OnlineId lobby = Await<LobbyCreated>(a.get(), m->CreateLobby(kLobbyPublic, 4)).lobby, idb = b->User()->GetSteamID();
    const LeaderboardHandle board = Await<LeaderboardFindResult>(a.get(), st->FindLeaderboard("B")).leaderboard;
    ASSERT_TRUE(st->RequestCurrentStats());
    const std::string key(wire::kMaxKey, 'k'), value(wire::kMaxValue, 'v'), name(wire::kMaxName, 'n');
    const std::vector<char> big(kMaxCloudFile + 1, 'b');
    uint8_t ticket[64];
    uint32_t size = 0;
    std::vector<uint8_t> longest(kMaxTicketBytes);
    a->User()->GetAuthSessionTicket(longest.data(), kMaxTicketBytes, &size);
    const int32_t details[kMaxLeaderboardDetails + 1] = {};
    const struct { const char* what; std::function<long long()> call; long long expected; } cases[] = {
        {"longest key and value", [&] { return m->SetLobbyData(lobby, key.c_str(), value.c_str()); }, 1},
        {"key too long", [&] { return m->SetLobbyData(lobby, (key + "k").c_str(), "v"); }, 0},
        {"value too long", [&] { return m->SetLobbyData(lobby, "k", (value + "v").c_str()); }, 0},
        {"empty key", [&] { return m->SetLobbyData(lobby, "", "v"); }, 0},
        {"null value", [&] { return m->SetLobbyData(lobby, "k", nullptr); }, 0},
        {"longest chat", [&] { return m->SendLobbyChatMsg(lobby, value.data(), kMaxChatMessage); }, 1},
        {"chat too long", [&] { return m->SendLobbyChatMsg(lobby, value.data(), kMaxChatMessage + 1); }, 0},
        {"negative chat", [&] { return m->SendLobbyChatMsg(lobby, value.data(), -1); }, 0},
        {"empty chat", [&] { return m->SendLobbyChatMsg(lobby, nullptr, 0); }, 1},
        {"chat without bytes", [&] { return m->SendLobbyChatMsg(lobby, nullptr, 1); }, 0},
        {"largest unreliable", [&] { return n->SendP2PPacket(idb, big.data(), kMaxUnreliablePacket, kSendUnreliable); }, 1},
        {"unreliable too large", [&] { return n->SendP2PPacket(idb, big.data(), kMaxUnreliablePacket + 1, kSendUnreliable); }, 0},
        {"largest reliable", [&] { return n->SendP2PPacket(idb, big.data(), kMaxReliablePacket, kSendReliableWithBuffering); }, 1},
        {"reliable too large", [&] { return n->SendP2PPacket(idb, big.data(), kMaxReliablePacket + 1, kSendReliable); }, 0},
        {"packet without bytes", [&] { return n->SendP2PPacket(idb, nullptr, 1, kSendReliable); }, 0},
        {"packet to a lobby", [&] { return n->SendP2PPacket(lobby, "x", 1, kSendReliable); }, 0},
        {"ticket buffer too small (and no size left behind)", [&] { size = 77; const AuthTicket t = a->User()->GetAuthSessionTicket(ticket, 31, &size); return t + size; }, 0},
        {"no ticket buffer", [&] { return a->User()->GetAuthSessionTicket(nullptr, 64, &size); }, 0},
        {"ticket too short", [&] { return b->User()->BeginAuthSession("OTK1xxxxxxxxxxx", 15, a->User()->GetSteamID()); }, kBeginAuthInvalidTicket},
        {"ticket too long", [&] { return b->User()->BeginAuthSession(big.data(), kMaxTicketBytes + 1, a->User()->GetSteamID()); }, kBeginAuthInvalidTicket},
        {"ticket of a lobby", [&] { return b->User()->BeginAuthSession(big.data(), 32, lobby); }, kBeginAuthInvalidTicket},
        {"longest ticket", [&] { return b->User()->BeginAuthSession(longest.data(), kMaxTicketBytes, a->User()->GetSteamID()); }, kBeginAuthOK},
        {"longest board name", [&] { return st->FindLeaderboard(name.c_str()) != 0; }, 1},
        {"board name too long", [&] { return st->FindLeaderboard((name + "n").c_str()); }, 0},
        {"empty board name", [&] { return st->FindLeaderboard(""); }, 0},
        {"request kind below", [&] { return st->DownloadLeaderboardEntries(board, kLeaderboardGlobal - 1, 1, 2); }, 0},
        {"request kind above", [&] { return st->DownloadLeaderboardEntries(board, kLeaderboardFriends + 1, 1, 2); }, 0},
        {"friends request", [&] { return st->DownloadLeaderboardEntries(board, kLeaderboardFriends, 1, 2) != 0; }, 1},
        {"no board", [&] { return st->DownloadLeaderboardEntries(0, kLeaderboardGlobal, 1, 2); }, 0},
        {"entries of an unknown board", [&] { return st->GetLeaderboardEntryCount(board + 1); }, 0},
        {"most details", [&] { return st->UploadLeaderboardScore(board, kUploadKeepBest, 1, details, kMaxLeaderboardDetails) != 0; }, 1},
        {"too many details", [&] { return st->UploadLeaderboardScore(board, kUploadKeepBest, 1, details, kMaxLeaderboardDetails + 1); }, 0},
        {"negative details", [&] { return st->UploadLeaderboardScore(board, kUploadKeepBest, 1, details, -1); }, 0},
        {"details missing", [&] { return st->UploadLeaderboardScore(board, kUploadKeepBest, 1, nullptr, 1); }, 0},
        {"longest file name", [&] { return rs->FileWrite(name.c_str(), "x", 1); }, 1},
        {"file name too long", [&] { return rs->FileWrite((name + "n").c_str(), "x", 1); }, 0},
        {"read name too long", [&] { return rs->GetFileSize((name + "n").c_str()); }, 0},
        {"largest file", [&] { return rs->FileWrite("f", big.data(), kMaxCloudFile); }, 1},
        {"file too large", [&] { return rs->FileWrite("f", big.data(), kMaxCloudFile + 1); }, 0},
        {"negative file size", [&] { return rs->FileWrite("f", big.data(), -1); }, 0},
        {"file without bytes", [&] { return rs->FileWrite("f", nullptr, 1); }, 0},
        {"read into nothing", [&] { return rs->FileRead("f", nullptr, 10); }, 0},
        {"read into no room", [&] { return rs->FileRead("f", ticket, 0); }, 0},
        {"read part", [&] { return rs->FileRead("f", ticket, 5); }, 5},
        {"achievement without a name", [&] { return st->SetAchievement(nullptr); }, 0},
        {"progress at its end", [&] { return st->IndicateAchievementProgress("Dummy", 5, 5); }, 0},
        {"progress before its end", [&] { return st->IndicateAchievementProgress("Dummy", 4, 5); }, 1},
        {"member index past the end", [&] { return m->GetLobbyMemberByIndex(lobby, 1); }, 0},
        {"owner of an unknown lobby", [&] { return m->GetLobbyOwner(lobby + 1); }, 0},
        {"member index below", [&] { return m->GetLobbyMemberByIndex(lobby, -1); }, 0},
        {"avatar of a lobby", [&] { return a->Friends()->GetLargeFriendAvatar(lobby); }, 0},
        {"no image 0", [&] { return a->Utils()->GetImageSize(0, nullptr, nullptr); }, 0},
        {"information about oneself", [&] { return a->Friends()->RequestUserInformation(a->User()->GetSteamID(), false); }, 0},
        {"information about a lobby", [&] { return a->Friends()->RequestUserInformation(lobby, false); }, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), c.expected) << c.what;
    EXPECT_EQ(m->GetLobbyMemberByIndex(lobby, 0), a->User()->GetSteamID());
    const int image = a->Friends()->GetLargeFriendAvatar(idb);
    std::vector<uint8_t> rgba(kAvatarSize * kAvatarSize * 4);
    EXPECT_FALSE(a->Utils()->GetImageRGBA(image, rgba.data(), static_cast<int>(rgba.size()) - 1));
    EXPECT_TRUE(a->Utils()->GetImageRGBA(image, rgba.data(), static_cast<int>(rgba.size())));
    EXPECT_FALSE(a->Utils()->GetImageSize(image + 1, nullptr, nullptr));
}

TEST_F(InProcess, CallResultsBoundLateOrLostWithTheBroker) {
    // Handle 0 is never bound; a result bound late is still delivered.
    CallResult<LobbyCreated> none(a.get());
    none.Bind(0);
    const CallHandle late = a->Matchmaking()->CreateLobby(kLobbyPrivate, 2);
    a->RegisterCallResult(nullptr, late);  // ignored
    a->RunCallbacks();
    a->RunCallbacks();
    EXPECT_EQ(Await<LobbyCreated>(a.get(), late).result, kResultOK);
    EXPECT_EQ(none.times, 0);
    // Calls in flight when the broker goes away complete with the I/O-failure flag.
    CallResult<LobbyEnter> pending(b.get());
    // The in-process broker answers at once, so an outstanding call is made by hand.
    const CallHandle lost = b->Core()->NewCall(LobbyEnter::kCallbackId);
    pending.Bind(lost);
    broker.reset();
    EXPECT_FALSE(b->Connected());
    EXPECT_TRUE(PumpUntil({b.get()}, [&] { return pending.times == 1; }));
    EXPECT_TRUE(pending.ioFailure);
    EXPECT_FALSE(b->RemoteStorage()->FileWrite("x", "y", 1));
    // No call is made without a broker.
    const CallHandle calls[] = {b->Matchmaking()->CreateLobby(kLobbyPrivate, 2), b->Matchmaking()->JoinLobby(MakeLobbyId(1)),
                                b->Matchmaking()->RequestLobbyList(), b->UserStats()->FindLeaderboard("B"),
                                b->UserStats()->DownloadLeaderboardEntries(1, kLeaderboardGlobal, 1, 2),
                                b->UserStats()->UploadLeaderboardScore(1, kUploadKeepBest, 1, nullptr, 0)};
    for (CallHandle call : calls) EXPECT_EQ(call, 0u);
}

// A target bound again hears only its latest call: the earlier call's result, arriving
// after the new binding, is dropped.
TEST_F(InProcess, AReboundCallResultNeverHearsItsEarlierCall) {
    CallResult<LobbyEnter> holder(b.get());
    const CallHandle first = b->Core()->NewCall(LobbyEnter::kCallbackId);
    const CallHandle second = b->Core()->NewCall(LobbyEnter::kCallbackId);
    holder.Bind(first);
    holder.Bind(second);
    LobbyEnter early, latest;
    std::memset(&early, 0x11, sizeof early);
    std::memset(&latest, 0x22, sizeof latest);
    b->Core()->Queue(LobbyEnter::kCallbackId, first, &early, sizeof early);
    PumpUntil({b.get()}, [] { return false; }, 50);
    EXPECT_EQ(holder.times, 0);
    b->Core()->Queue(LobbyEnter::kCallbackId, second, &latest, sizeof latest);
    EXPECT_TRUE(PumpUntil({b.get()}, [&] { return holder.times == 1; }));
    EXPECT_EQ(std::memcmp(&holder.value, &latest, sizeof latest), 0);
    PumpUntil({b.get()}, [] { return false; }, 30);
    EXPECT_EQ(holder.times, 1);
}

TEST_F(InProcess, RegistrationFromOtherThreadsWhilePumping) {
    // One thread pumps; another registers, makes calls and unregisters. Records reach
    // only the pumping thread, and an unregistered target is never called afterwards.
    struct Probe : CallbackBase {
        std::thread::id expected;
        std::atomic<bool> alive{true};
        std::atomic<int>* wrong = nullptr;
        void Run(const void*, bool, CallHandle) override {
            if (std::this_thread::get_id() != expected || !alive) ++*wrong;
        }
    };
    std::atomic<int> wrong{0};
    std::atomic<bool> done{false};
    const std::thread::id pumper = std::this_thread::get_id();
    std::thread other([&] {
        for (int i = 0; i < 200; ++i) {
            Probe probe;
            probe.wrong = &wrong;
            probe.expected = pumper;
            a->RegisterCallback(&probe, LobbyCreated::kCallbackId);
            const CallHandle call = a->Matchmaking()->CreateLobby(kLobbyPrivate, 2);
            a->RegisterCallResult(&probe, call);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            a->UnregisterCallResult(&probe, call);
            a->UnregisterCallback(&probe);
            probe.alive = false;
        }
        done = true;
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done && std::chrono::steady_clock::now() < end) a->RunCallbacks();
    other.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
