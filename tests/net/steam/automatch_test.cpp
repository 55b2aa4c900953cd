// Automatic matching: the widening window, the two files, the published map keys, the
// bot filter of the groups, the republication rate, and two searchers meeting.
// test-sanitize: address
// test-link: broker_server
#include "SteamDriverPair.h"

#include <cstdio>
#include <fstream>
#include <map>

#include "CaptureLogSink.h"
#include "net/steam/LobbyKeys.h"

namespace {

using namespace steamtest;
using Network::AutoMatchRecord;
using Network::AutoMatchWindow;

constexpr int64_t kSecond = os::kCounterFrequency;

AutoMatchRecord Record(int32_t team, int32_t mapMask, int32_t growTime = 60, int32_t timeLimit = 1000) {
    AutoMatchRecord r;
    r.team = team;
    r.deltas[0] = 100;
    r.deltas[1] = 400;
    r.deltas[2] = 100;
    r.deltas[3] = 400;
    r.growTime = growTime;
    r.timeLimit = timeLimit;
    r.mapMask = mapMask;
    return r;
}

TEST(AutoMatchWindowTest, DeltasGrowWithTimeAndSaturate) {
    struct Case {
        int32_t start, end, grow;
        double seconds;
        int32_t skill;
        int32_t min, max;
    };
    const Case cases[] = {
        {100, 400, 60, 0.0, 1000, 900, 1100},
        {100, 400, 60, 30.0, 1000, 750, 1250},
        {100, 400, 60, 90.0, 1000, 600, 1400},
        {100, 400, 0, 0.5, 1000, 750, 1250},             // grow time 0 acts as 1
        {400, 100, 60, 30.0, 1000, 750, 1250},           // an end below the start narrows
        {0, 2000000000, 1, 5.0, 2000000000, 0, INT32_MAX},  // bounds saturate
    };
    for (const Case& c : cases) {
        AutoMatchWindow w;
        w.Reset();
        w.squadSkill = c.skill;
        AutoMatchRecord r = Record(0, 1, c.grow);
        r.deltas[0] = c.start;
        r.deltas[1] = c.end;
        w.Init(r, 0);
        const float e = w.Update(static_cast<int64_t>(c.seconds * double(kSecond)));
        EXPECT_FLOAT_EQ(e, float(c.seconds));
        EXPECT_EQ(w.minSquad, c.min) << c.start << "->" << c.end << " at " << c.seconds;
        EXPECT_EQ(w.maxSquad, c.max) << c.start << "->" << c.end << " at " << c.seconds;
    }
    // Bots and the wide search come at the time limit.
    AutoMatchWindow w;
    w.Init(Record(0, 1, 60, 10), 0);
    w.Update(10 * kSecond - kSecond / 1000);
    EXPECT_EQ(w.botsAllowed, 0);
    w.Update(10 * kSecond);
    EXPECT_EQ(w.botsAllowed + w.wideSearch, 2);
}

class AutoMatch : public DriverPair {};

TEST_F(AutoMatch, FilesGiveIdAndGroup) {
    struct Case {
        const char* id;       // null: no file
        const char* group;
        int32_t wantId, wantGroup;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0, 0},         {"42\n", "a dev box", 42, 2},     {"-7", "robot\n", -7, 1},
        {"99999999999", "devbot", 0, 1}, {"junk", "DEV", 0, 0},            {"12", "\ndev", 12, 0},
    };
    for (const Case& c : cases) {
        onlinetest::TempDir folder;
        if (c.id) std::ofstream(folder.path / "AutoMatchID.txt") << c.id;
        if (c.group) std::ofstream(folder.path / "AutoMatchGroup.txt") << c.group;
        a.D().ReadAutoMatchFiles(folder.path.c_str());
        EXPECT_EQ(a.D().AutoMatchId(), c.wantId) << (c.id ? c.id : "-");
        EXPECT_EQ(a.D().AutoMatchGroup(), c.wantGroup) << (c.group ? c.group : "-");
    }
}

TEST_F(AutoMatch, PublishedMapKeysFollowTheMask) {
    // The keys and values from an independent computation of the rule.
    std::map<int, std::map<std::string, std::string>> expected;
    FILE* p = popen("python3 -c \"\nfor m in range(1,16):\n for i in range(1,15):\n  print(m, 'mapComb'+''.join('1' if i>>b&1 else '0' for b in range(4)), '1' if m&i else '0')\"", "r");
    ASSERT_TRUE(p);
    int m = 0;
    char key[32], value[8];
    while (std::fscanf(p, "%d %31s %7s", &m, key, value) == 3) expected[m][key] = value;
    ASSERT_EQ(pclose(p), 0);
    ASSERT_EQ(expected.size(), 15u);
    for (int mask = 1; mask <= 15; ++mask) {
        a.D().LobbyAutoMatch(Record(0, mask));
        ASSERT_TRUE(StepUntil([&] { return a.D().GetDriverState() == Network::IN_LOBBY; }));
        const online::OnlineId lobby = a.D().CurrentLobby();
        for (const auto& [k, v] : expected[mask]) EXPECT_STREQ(a.ctx->Matchmaking()->GetLobbyData(lobby, k.c_str()), v.c_str()) << mask << " " << k;
        EXPECT_STREQ(a.ctx->Matchmaking()->GetLobbyData(lobby, "mapComb0000"), "");
        EXPECT_STREQ(a.ctx->Matchmaking()->GetLobbyData(lobby, "mapComb1111"), "");
        a.D().LobbyStopAutoMatch();
        EXPECT_EQ(a.D().GetDriverState(), uint32_t(Network::IDLE));
    }
}

TEST_F(AutoMatch, StartsOnlyWithAMaskWhenIdleAndRepublishesEveryThreeSeconds) {
    a.D().LobbyAutoMatch(Record(0, 0));
    EXPECT_FALSE(a.D().AutoMatching());
    CaptureLogSink log;
    log.Attach();
    a.D().LobbyAutoMatch(Record(2, 15));
    ASSERT_TRUE(a.D().AutoMatching());
    // Team 2 searches as squad, then as towers, one request at a time; then creates.
    ASSERT_TRUE(StepUntil([&] { return a.D().GetDriverState() == Network::IN_LOBBY; }));
    size_t searches = 0;
    for (const auto& msg : log.Messages()) {
        if (msg.text.rfind("AMLobby search. team:", 0) == 0) {
            EXPECT_EQ(msg.text[21], searches == 0 ? '0' : '1');
            ++searches;
        }
    }
    EXPECT_EQ(searches, 2u);
    log.Clear();
    for (int i = 0; i < 100; ++i) Step(100);  // 10 s in the own lobby
    size_t updates = 0;
    for (const auto& msg : log.Messages()) updates += msg.text.rfind("AMLobby skill update.", 0) == 0;
    EXPECT_GE(updates, 3u);
    EXPECT_LE(updates, 4u);
}

TEST_F(AutoMatch, TwoSearchersMeetAndPlayTheOnlySharedMap) {
    a.D().LobbySetSkill(1000.0f, 1000.0f);
    b.D().LobbySetSkill(1100.0f, 1100.0f);
    a.D().LobbyAutoMatch(Record(2, 0x5));
    Step();
    b.D().LobbyAutoMatch(Record(2, 0xC));
    ASSERT_TRUE(StepUntil([&] {
        return a.D().GetDriverState() == Network::IN_LOBBY_STARTING_GAME && b.D().GetDriverState() == Network::IN_LOBBY_STARTING_GAME;
    }, 20));
    EXPECT_EQ(a.D().LobbyGetSelectedMap(), 2);
    EXPECT_EQ(b.D().LobbyGetSelectedMap(), 2);
    EXPECT_NE(a.D().Team(), b.D().Team());
    EXPECT_TRUE(a.rec.Has(std::string("start 2 ") + (a.D().Team() == 0 ? "1" : "0") + " 0"));
    EXPECT_FALSE(a.D().AutoMatching());
}

TEST_F(AutoMatch, AGroupOnePlayerFindsOnlyLobbiesPastTheTimeLimit) {
    onlinetest::TempDir folder;
    std::ofstream(folder.path / "AutoMatchGroup.txt") << "bot";
    b.D().ReadAutoMatchFiles(folder.path.c_str());
    a.D().LobbyAutoMatch(Record(0, 15, 60, 20));
    ASSERT_TRUE(StepUntil([&] { return a.D().GetDriverState() == Network::IN_LOBBY; }));
    b.D().LobbyAutoMatch(Record(1, 15, 60, 1000));
    // Before a's time limit neither finds the other.
    for (int i = 0; i < 150; ++i) Step(100);
    EXPECT_NE(a.D().GetLobbyMember(1).steamId, b.Id());
    EXPECT_STREQ(a.ctx->Matchmaking()->GetLobbyData(a.D().CurrentLobby(), Network::lobbykey::kAutoMatchBotFilter), "1");
    // After it a's lobby says bots are welcome and b joins it.
    ASSERT_TRUE(StepUntil([&] { return a.D().GetDriverState() == Network::IN_LOBBY_STARTING_GAME; }, 20));
    EXPECT_EQ(a.D().GetLobbyMember(1).steamId, 0u + b.Id());
}

}  // namespace
