// Automatic matching: the widening window, the two files, the published map keys, the
// bot filter of the groups, the republication rate, and two searchers meeting.
// test-sanitize: address
// test-link: broker_server
#include "SteamDriverPair.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

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
    FILE* p = popen("/usr/bin/python3 -c \"\nfor m in range(1,16):\n for i in range(1,15):\n  print(m, 'mapComb'+''.join('1' if i>>b&1 else '0' for b in range(4)), '1' if m&i else '0')\"", "r");
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

// Forwards a search's calls to the context's matchmaking and writes each down.
class RecordingSearch : public Network::LobbySearchCalls {
public:
    explicit RecordingSearch(online::OnlineMatchmaking* mm) : mm(mm) {}
    void AddRequestLobbyListStringFilter(const char* key, const char* value, int32_t comparison) override {
        calls.push_back(std::string("string ") + key + " " + value + " " + std::to_string(comparison));
        mm->AddRequestLobbyListStringFilter(key, value, comparison);
    }
    void AddRequestLobbyListNumericalFilter(const char* key, int value, int32_t comparison) override {
        calls.push_back(std::string("number ") + key + " " + std::to_string(value) + " " + std::to_string(comparison));
        mm->AddRequestLobbyListNumericalFilter(key, value, comparison);
    }
    void AddRequestLobbyListNearValueFilter(const char* key, int value) override {
        calls.push_back(std::string("near ") + key + " " + std::to_string(value));
        mm->AddRequestLobbyListNearValueFilter(key, value);
    }
    void AddRequestLobbyListDistanceFilter(int32_t distance) override {
        calls.push_back("distance " + std::to_string(distance));
        mm->AddRequestLobbyListDistanceFilter(distance);
    }
    void AddRequestLobbyListResultCountFilter(int count) override {
        calls.push_back("count " + std::to_string(count));
        mm->AddRequestLobbyListResultCountFilter(count);
    }
    online::CallHandle RequestLobbyList() override {
        calls.push_back("request");
        return mm->RequestLobbyList();
    }
    std::vector<std::string> calls;

private:
    online::OnlineMatchmaking* mm;
};

TEST_F(AutoMatch, ASearchMakesTheFilterCallsInTheirOrder) {
    struct Case {
        int32_t team;  // the side searched as
        int32_t group;
        bool bots;  // the time limit has passed
        int32_t mask;
        bool ranked;
    };
    const Case cases[] = {
        {0, 0, false, 5, false}, {1, 0, false, 5, false}, {0, 0, true, 15, false}, {1, 0, true, 5, true},
        {0, 1, false, 15, true}, {1, 1, true, 5, false},  {0, 2, false, 5, true},  {1, 2, true, 15, false},
        {0, 2, true, 5, false},  {1, 0, false, 15, true},
    };
    a.D().LobbySetSkill(1000.0f, 1200.0f);
    a.D().LobbySetRankedSkill(1500.0f, 1700.0f);
    RecordingSearch recorder(a.ctx->Matchmaking());
    a.D().SetLobbySearchCalls(&recorder);
    const std::string self = a.D().SelfIdText();
    for (const Case& c : cases) {
        SCOPED_TRACE("team " + std::to_string(c.team) + " group " + std::to_string(c.group) + " bots " + std::to_string(c.bots) + " mask " +
                     std::to_string(c.mask) + " ranked " + std::to_string(c.ranked));
        onlinetest::TempDir folder;
        std::ofstream(folder.path / "AutoMatchID.txt") << "7";
        std::ofstream(folder.path / "AutoMatchGroup.txt") << (c.group == 1 ? "bot" : c.group == 2 ? "dev" : "none");
        a.D().ReadAutoMatchFiles(folder.path.c_str());
        AutoMatchRecord r = Record(c.team, c.mask, 60, 1);
        r.ranked = c.ranked;
        recorder.calls.clear();
        a.D().LobbyAutoMatch(r);
        // The first tick searches, 1 ms or 1 s (the time limit) after the start.
        Step(c.bots ? 1000 : 1);

        // Deltas 100 -> 400 over 60 s: 100 after 1 ms, trunc(105 + 0.5) after 1 s.
        const int delta = c.bots ? 105 : 100;
        const int squad = c.ranked ? 1500 : 1000, towers = c.ranked ? 1700 : 1200;
        const int s = c.team == 0 ? squad : towers;
        const std::string other = c.team == 0 ? "towers" : "squad";
        const std::string Other = c.team == 0 ? "Towers" : "Squad";
        std::vector<std::string> want = {
            "distance " + std::to_string(c.bots ? 2 : 1),
            "number teamFilter " + std::to_string(c.team) + " 3",
            "number " + other + "Skill " + std::to_string(s - delta) + " 2",
            "number " + other + "Skill " + std::to_string(s + delta) + " -2",
            "number min" + Other + "Skill " + std::to_string(s) + " -2",
            "number max" + Other + "Skill " + std::to_string(s) + " 2",
            "near " + other + "Skill " + std::to_string(s),
            "number autoMatchID 7 0",
            "string ownerID " + self + " 3",
        };
        if (c.group == 1)
            want.push_back("number autoMatchBotFilter 2 0");
        else if (!(c.group == 0 && c.bots))
            want.push_back("number autoMatchBotFilter 0 3");
        if (c.mask == 5) want.push_back("number mapComb1010 1 0");
        want.push_back(std::string("number ranked ") + (c.ranked ? "1" : "0") + " 0");
        want.push_back("count 1");
        want.push_back("request");
        EXPECT_EQ(recorder.calls, want);
        a.D().LobbyStopAutoMatch();
    }
    a.D().SetLobbySearchCalls(nullptr);
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
