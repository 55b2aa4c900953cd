// The online driver's lobby and routing with two drivers over an in-process broker:
// invitation, joining, readiness, the owner's start with the squad player as host,
// teams, maps, chat, members leaving, and the routing rules of the callbacks.
// test-sanitize: thread address
// test-link: broker_server
#include "SteamDriverPair.h"

#include "CaptureLogSink.h"
#include "net/steam/LobbyKeys.h"

namespace {

using namespace steamtest;
using Network::DriverStateName;
namespace lk = Network::lobbykey;

class Lobby : public DriverPair {};

class InviteLobby : public DriverPair {
    void Adjust(online::ClientConfig& c, int account) override {
        if (account == 1) c.autoInviteAccount = 2;
        if (account == 2) c.avatarsLoading = true;
    }
};

TEST_F(InviteLobby, InvitationAcceptanceAndAvatarWaitThenStart) {
    a.D().LobbyCreatePrivate();
    // A second creation while one is in flight changes nothing.
    a.D().LobbyCreatePrivate();
    ASSERT_TRUE(StepUntil([&] { return a.D().GetDriverState() == Network::IN_LOBBY; }));
    EXPECT_EQ(a.ctx->Matchmaking()->GetNumLobbyMembers(a.D().CurrentLobby()), 1);
    a.D().LobbyCreatePrivate();
    EXPECT_EQ(a.D().GetDriverState(), uint32_t(Network::IN_LOBBY));

    a.D().LobbyInviteFriend();
    ASSERT_TRUE(StepUntil([&] { return b.rec.Has("join requested"); }));
    EXPECT_EQ(b.D().PendingLobby(), a.D().CurrentLobby());
    b.D().LobbyAcceptJoinRequest();
    ASSERT_TRUE(StepUntil([&] { return b.D().GetDriverState() == Network::IN_LOBBY && a.rec.Has("chat 2"); }));
    // The joiner's persona name is cut to UTF-16 whole characters.
    Settle();
    EXPECT_EQ(std::u16string(a.D().GetLobbyMember(1).name), u"Bj\u00f6rk \U0001F600");
    EXPECT_EQ(std::u16string(b.D().GetLobbyMember(1).name), u"\u00c5sa \u65e5");

    // "ready" counts only as exactly "1".
    for (const char* text : {"0", "", "11", "1"}) {
        b.ctx->Matchmaking()->SetLobbyMemberData(b.D().CurrentLobby(), lk::kReady, text);
        Settle(30);
        EXPECT_EQ(a.D().GetLobbyMember(1).ready, text[0] == '1' && !text[1]) << '"' << text << '"';
    }
    b.ctx->Matchmaking()->SetLobbyMemberData(b.D().CurrentLobby(), lk::kReady, "0");
    a.D().LobbySetReady(true);
    b.D().LobbySetReady(true);
    ASSERT_TRUE(StepUntil([&] { return a.D().GetDriverState() == Network::IN_LOBBY_STARTING_GAME; }));
    ASSERT_TRUE(StepUntil([&] { return b.D().GetDriverState() == Network::IN_LOBBY_STARTING_GAME; }));
    // The owner (team 0) hosts and names itself; the joiner connects to it.
    EXPECT_TRUE(a.rec.Has("start 0 1 0"));
    EXPECT_TRUE(b.rec.Has("start 0 0 0"));
    EXPECT_EQ(b.D().GameServerId(), a.Id());
    EXPECT_EQ(a.D().GameServerId(), 0u);
}

TEST_F(Lobby, NonOwnerFlipsTeamMapChangesAndTheSquadPlayerHosts) {
    MeetInLobby();
    // Both started as team 0: the joiner flips and says so.
    ASSERT_TRUE(StepUntil([&] { return b.D().Team() == 1; }));
    a.D().LobbySetSelectedMap(2);
    ASSERT_TRUE(StepUntil([&] { return b.D().LobbyGetSelectedMap() == 2; }));
    EXPECT_TRUE(a.rec.Has("chat 5"));
    EXPECT_TRUE(b.rec.Has("chat 5"));
    // A non-owner's map change does nothing.
    b.D().LobbySetSelectedMap(3);
    EXPECT_EQ(b.D().LobbyGetSelectedMap(), 2);
    // The owner switches to towers: the joiner becomes squad and so the host.
    a.D().LobbySwitchSides();
    EXPECT_EQ(a.D().Team(), 1);
    EXPECT_TRUE(a.rec.Has("chat 4"));
    ASSERT_TRUE(StepUntil([&] { return b.D().Team() == 0 && b.rec.Has("chat 4"); }));
    StartGame();
    EXPECT_TRUE(a.rec.Has("start 2 0 0"));
    EXPECT_TRUE(b.rec.Has("start 2 1 0"));
    EXPECT_EQ(a.D().GameServerId(), b.Id());
    char serverId[32];
    std::snprintf(serverId, sizeof serverId, "%llx", static_cast<unsigned long long>(b.Id()));
    EXPECT_STREQ(a.ctx->Matchmaking()->GetLobbyData(a.D().CurrentLobby(), lk::kServerId), serverId);
    // Game members are frozen: a later change of the lobby does not reach them.
    const float before = a.D().GetLobbyMember(1).squadSkill;
    b.ctx->Matchmaking()->SetLobbyMemberData(b.D().CurrentLobby(), lk::kSquadSkill, "77000");
    Settle();
    EXPECT_EQ(a.D().GetLobbyMember(1).squadSkill, before);

    // Restore and ready again: a second game starts.
    a.D().LobbyRestore();
    b.D().LobbyRestore();
    a.rec.events.clear();
    b.rec.events.clear();
    StartGame();
    EXPECT_EQ(a.rec.CountOf("start 2 0 0"), 1u);
    EXPECT_EQ(b.rec.CountOf("start 2 1 0"), 1u);
    EXPECT_EQ(a.D().GameStartingCounter(), b.D().GameStartingCounter());
}

TEST_F(Lobby, ChatIsCutBothWaysAndALeavingMemberIsNamed) {
    MeetInLobby();
    onlinetest::Catch<online::LobbyChatMsg> entries(b.ctx.get());
    std::u16string longLine(200, u'x');
    a.D().LobbySendChat(longLine.c_str());
    ASSERT_TRUE(StepUntil([&] { return b.rec.Has("chat 1"); }));
    // The service stored 128 units; the receiver keeps 127.
    char16_t stored[200] = {};
    online::OnlineId from = 0;
    int32_t type = 0;
    ASSERT_EQ(entries.Count(), 1u);
    EXPECT_EQ(b.ctx->Matchmaking()->GetLobbyChatEntry(b.D().CurrentLobby(), int(entries.All()[0].chatId), &from, stored, sizeof stored, &type), 256);
    EXPECT_EQ(b.rec.texts.back(), std::u16string(127, u'x'));
    EXPECT_EQ(b.rec.names.back(), u"\u00c5sa \u65e5");
    // The sender does not hear its own line.
    EXPECT_FALSE(a.rec.Has("chat 1"));

    b.D().LobbyLeave();
    EXPECT_EQ(b.D().GetDriverState(), uint32_t(Network::IDLE));
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("chat 3"); }));
    EXPECT_EQ(a.rec.names.back(), u"Bj\u00f6rk \U0001F600");
    EXPECT_EQ(a.D().GetLobbyMember(1).steamId, 0u);
}

// The non-owner takes its part from the player the owner's start names, whatever team
// its own view of the owner's member data left it on: exactly one of the two hosts.
TEST_F(Lobby, TheNonOwnerHostsOrJoinsAsTheOwnersStartSays) {
    MeetInLobby();
    ASSERT_TRUE(StepUntil([&] { return b.D().Team() == 1; }));
    // The owner turns to towers, so the joiner is the squad player; the joiner's view of
    // the owner's team lags (it still reads squad) and leaves it on towers too.
    a.D().LobbySwitchSides();
    a.ctx->Matchmaking()->SetLobbyMemberData(a.D().CurrentLobby(), lk::kTeam, "0");
    Settle();
    ASSERT_EQ(a.D().Team(), 1);
    ASSERT_EQ(b.D().Team(), 1);
    StartGame();
    EXPECT_TRUE(a.rec.Has("start 0 0 0"));
    EXPECT_TRUE(b.rec.Has("start 0 1 0")) << "the player the start names hosts";
    EXPECT_EQ(b.D().Team(), 0);
    EXPECT_EQ(b.D().GameServerId(), 0u);
    EXPECT_EQ(a.D().GameServerId(), b.Id());
}

// Hostile member and lobby data: values out of range count as absent, a "serverID"
// that is not a user leaves the client without a server and Connect refuses.
TEST_F(Lobby, UntrustedDataCountsAsAbsent) {
    MeetInLobby();
    ASSERT_TRUE(StepUntil([&] { return b.D().Team() == 1; }));
    const online::OnlineId lobby = a.D().CurrentLobby();
    struct Case {
        const char* key;
        const char* value;
    };
    for (const Case& c : {Case{lk::kMap, "7"}, Case{lk::kMap, "-1"}, Case{lk::kMap, "junk"}}) {
        a.ctx->Matchmaking()->SetLobbyData(lobby, c.key, c.value);
        Settle(20);
        EXPECT_EQ(b.D().LobbyGetSelectedMap(), 0) << c.key << "=" << c.value;
    }
    b.ctx->Matchmaking()->SetLobbyMemberData(lobby, lk::kMapMask, "-1");
    b.ctx->Matchmaking()->SetLobbyMemberData(lobby, lk::kSquadSkill, "99999999999999");
    b.ctx->Matchmaking()->SetLobbyMemberData(lobby, lk::kTeamFilter, "9");
    Settle();
    EXPECT_EQ(a.D().GetLobbyMember(1).mapMask, 15u);
    EXPECT_EQ(a.D().GetLobbyMember(1).squadSkill, float(INT32_MAX) / 1000.0f);
    EXPECT_EQ(a.D().GetLobbyMember(1).teamFilter, 2u);
    // A team value of the owner other than 0 or 1 flips nobody.
    a.ctx->Matchmaking()->SetLobbyMemberData(lobby, lk::kTeam, "7");
    Settle();
    EXPECT_EQ(b.D().Team(), 1);

    // The owner publishes a start naming a lobby instead of a player.
    a.ctx->Matchmaking()->SetLobbyData(lobby, lk::kServerId, "1880000000000001");
    a.ctx->Matchmaking()->SetLobbyData(lobby, lk::kGameStarting, "5");
    ASSERT_TRUE(StepUntil([&] { return b.D().GetDriverState() == Network::IN_LOBBY_STARTING_GAME; }));
    EXPECT_EQ(b.D().GameServerId(), 0u);
    EXPECT_NE(b.D().Connect("", 0, 0), 0u);
    EXPECT_EQ(b.D().GetDriverState(), uint32_t(Network::IN_LOBBY_STARTING_GAME));
}

TEST_F(Lobby, CallbacksBeforeAnOwnerAreDroppedAndOnlyTheLastListRequestAnswers) {
    b.D().SetRouteTarget(nullptr);
    a.D().LobbyCreatePrivate();
    ASSERT_TRUE(StepUntil([&] { return a.D().GetDriverState() == Network::IN_LOBBY; }));
    b.D().LobbyRequestJoin(a.D().CurrentLobby());
    b.D().LobbyAcceptJoinRequest();
    // b's lobby-entered result arrives while nobody owns b's driver: dropped.
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("chat 2"); }));
    Settle();
    EXPECT_EQ(b.D().GetDriverState(), uint32_t(Network::JOINING_LOBBY));
    EXPECT_EQ(b.ring.Ring().Used(), 0u);

    // Two lobby-list requests in a row: the first binding is cancelled, so only the
    // second result reaches the driver.
    b.D().SetRouteTarget(&b.ring);
    b.D().LobbyLeave();
    Network::AutoMatchRecord r;
    r.mapMask = 15;
    CaptureLogSink log;
    log.Attach();
    b.D().LobbyAutoMatch(r);
    b.D().Tick();  // the first search
    b.D().LobbyStopAutoMatch();
    b.D().LobbyAutoMatch(r);
    b.D().Tick();  // the second search
    ASSERT_TRUE(StepUntil([&] { return b.D().GetDriverState() == Network::IN_LOBBY; }));
    Settle();
    size_t answers = 0;
    for (const auto& m : log.Messages()) answers += m.text.find("OnLobbyAutoMatchList") != std::string::npos;
    EXPECT_EQ(answers, 1u);
}

TEST(DriverStates, NamesOfEveryState) {
    const char* expected[] = {"IDLE",       "JOINING_LOBBY",   "CREATING_LOBBY", "IN_LOBBY", "IN_LOBBY_STARTING_GAME",
                              "GAME_CONNECTING", "GAME_ACTIVE", "LOBBY_SEARCH"};
    for (uint32_t s = 0; s < Network::DRIVER_STATE_COUNT; ++s) EXPECT_STREQ(DriverStateName(s), expected[s]);
}

}  // namespace
