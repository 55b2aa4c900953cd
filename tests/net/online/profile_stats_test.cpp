// Stats and achievements of the profile against the in-process broker: the tables, the
// mirror, stores, unlocks, mission scores on leaderboards and the overlay event.
// test-link: broker_server
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ProfileTestSupport.h"
#include "net/online/StatsTables.h"

using namespace profiletest;

namespace {

using StatsTest = ProfileTest;

TEST(StatsTables, EqualTheServiceSchemaInNamesOrderAndTypes) {
    std::ifstream in(PROJECT_SOURCE_ROOT "/platform/online/online_schema.txt");
    std::vector<StatRow> stats;
    std::vector<std::string> names, achievements;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind, name, type;
        words >> kind >> name >> type;
        if (kind == "stat") {
            names.push_back(name);
            stats.push_back({nullptr, type == "float" ? 1u : 0u});
        } else if (kind == "achievement") {
            achievements.push_back(name);
        }
    }
    ASSERT_EQ(names.size(), kStatRowCount);
    ASSERT_EQ(achievements.size(), kAchievementCount);
    for (uint32_t i = 0; i < kStatRowCount; ++i) {
        EXPECT_EQ(names[i], kStatRows[i].name);
        EXPECT_EQ(stats[i].type, kStatRows[i].type) << names[i];
    }
    for (uint32_t i = 0; i < kAchievementCount; ++i) EXPECT_EQ(achievements[i], kAchievementNames[i]);
}

TEST_F(StatsTest, TheMirrorReadsTheServiceWithNegativeIntsAsZero) {
    ASSERT_TRUE(broker->WithStore([](online::BrokerStore& s) {
        return s.SaveStats(1, {{"MPTowersSkill", "-5"}, {"MPWinStreak", "3"}, {"MPAllTowersSkill", "1.5"}}, {{"M04", 1}});
    }));
    LogIn();
    ASSERT_TRUE(PumpUntilRetrieved());
    PCMacGamerProfile& p = Profile();
    EXPECT_EQ(p.GetUnsignedStatValue("MPTowersSkill"), 0u);
    EXPECT_EQ(p.GetUnsignedStatValue("MPWinStreak"), 3u);
    EXPECT_EQ(p.GetFloatStatValue("MPAllTowersSkill"), 1.5f);
    EXPECT_TRUE(p.IsAchievementUnlocked("M04"));
    EXPECT_FALSE(p.IsAchievementUnlocked("M01"));
}

TEST_F(StatsTest, ACallbackForAnotherGameChangesNothing) {
    LogIn();
    PCMacGamerProfile& p = Profile();
    // The request of the log-in is still unanswered: feed a record of another game first.
    online::UserStatsReceived other{(0x1234567 & 0xFFFFFF) + 1, online::kResultOK, online::MakeUserId(1)};
    p.OnUserStatsReceived(other);
    EXPECT_FALSE(p.AreStatsRetrieved());
    online::UserStatsReceived highWord{(0x1234567 & 0xFFFFFF) | (1ull << 32), online::kResultFail, 0};
    p.OnUserStatsReceived(highWord);
    EXPECT_FALSE(p.AreStatsRetrieved());
    EXPECT_FALSE(log.Contains("Failed to retrieve"));
    ASSERT_TRUE(PumpUntilRetrieved());
}

TEST_F(StatsTest, StoresNeedOneSuccessfulRetrieval) {
    const std::string before = Control("stats", "1");
    LogIn(true);  // the retrieval fails
    ASSERT_TRUE(PumpUntilRetrieved());
    PCMacGamerProfile& p = Profile();
    EXPECT_TRUE(p.UpdateUnsignedStatValue("MPWinStreak", 4));
    EXPECT_FALSE(p.StoreStats());
    EXPECT_TRUE(p.UnlockAchievement("M01"));  // recorded locally, its store waits for valid stats
    EXPECT_TRUE(p.IsAchievementUnlocked("M01"));
    EXPECT_EQ(p.PendingStatsStores(), 0u);
    EXPECT_EQ(Control("stats", "1"), before);
    module->LogOut();

    LogIn();
    ASSERT_TRUE(PumpUntilRetrieved());
    EXPECT_TRUE(Profile().UpdateUnsignedStatValue("MPWinStreak", 4));
    EXPECT_TRUE(Profile().IsStatsDirty());
    ASSERT_TRUE(Profile().StoreStats());
    EXPECT_FALSE(Profile().IsStatsDirty());
    EXPECT_TRUE(Profile().HasPendingWork());
    EXPECT_FALSE(module->MayClose());
    ASSERT_TRUE(Pump([&] { return !Profile().HasPendingWork(); }));
    EXPECT_TRUE(module->MayClose());
    EXPECT_NE(Control("stats", "1").find("\"MPWinStreak\":4"), std::string::npos) << Control("stats", "1");

    // The stored values survive a restart of the broker.
    module.reset();
    ctx.reset();
    broker.reset();
    OpenBroker();
    LogIn();
    ASSERT_TRUE(PumpUntilRetrieved());
    EXPECT_EQ(Profile().GetUnsignedStatValue("MPWinStreak"), 4u);
}

// An unlock made before the stats arrive keeps it and is stored once they are valid.
TEST_F(StatsTest, AnUnlockBeforeTheStatsArriveIsStoredWithThem) {
    LogIn();
    PCMacGamerProfile& p = Profile();
    ASSERT_FALSE(p.AreStatsRetrieved());
    EXPECT_TRUE(p.UnlockAchievement("M04"));
    EXPECT_TRUE(p.UnlockAchievement("M10"));
    EXPECT_TRUE(p.DebugLockAchievement("M10"));  // a lock in between cancels its unlock
    ASSERT_TRUE(PumpUntilRetrieved());
    EXPECT_TRUE(p.IsAchievementUnlocked("M04"));
    EXPECT_FALSE(p.IsAchievementUnlocked("M10"));
    ASSERT_TRUE(Pump([&] { return p.PendingStatsStores() == 0; }));
    EXPECT_NE(Control("stats", "1").find("\"M04\":1"), std::string::npos) << Control("stats", "1");
    EXPECT_EQ(Control("stats", "1").find("\"M10\":1"), std::string::npos) << Control("stats", "1");
}

TEST_F(StatsTest, UnlockingAnUnlockedAchievementMakesNoServiceCall) {
    LogIn();
    ASSERT_TRUE(PumpUntilRetrieved());
    PCMacGamerProfile& p = Profile();
    ASSERT_TRUE(p.UnlockAchievement("M10"));  // locked -> unlocked: set and stored
    ASSERT_TRUE(Pump([&] { return p.PendingStatsStores() == 0; }));
    EXPECT_NE(Control("stats", "1").find("\"M10\":1"), std::string::npos);
    // Lock it in the service only; a second unlock must not set it there again.
    ctx->UserStats()->ClearAchievement("M10");
    EXPECT_TRUE(p.UnlockAchievement("M10"));
    ASSERT_TRUE(p.StoreStats());
    ASSERT_TRUE(Pump([&] { return p.PendingStatsStores() == 0; }));
    EXPECT_NE(Control("stats", "1").find("\"M10\":0"), std::string::npos);
    // A debug lock clears it in the service without a store.
    ASSERT_TRUE(p.UnlockAchievement("M13"));
    ASSERT_TRUE(p.DebugLockAchievement("M13"));
    EXPECT_FALSE(p.IsAchievementUnlocked("M13"));
}

TEST_F(StatsTest, MissionScoresGoToTheirBoardAndTheGlobalScore) {
    LogIn();
    ASSERT_TRUE(PumpUntilRetrieved());
    PCMacGamerProfile& p = Profile();
    SteamLeaderboardsManager& boards = module->GetLeaderboardsManager();
    EXPECT_FALSE(p.StoreMissionScore("M99", 5));
    EXPECT_EQ(boards.RequestCount(), 0u);
    ASSERT_TRUE(p.StoreMissionScore("M01", 100));
    ASSERT_TRUE(p.StoreMissionScore("M03", 500));
    EXPECT_TRUE(boards.HasPendingUploads());
    EXPECT_FALSE(module->MayClose());
    ASSERT_TRUE(Pump([&] { return !boards.HasPendingUploads(); }));
    EXPECT_TRUE(module->MayClose());
    EXPECT_NE(Control("leaderboard", "M03").find("1 1 500"), std::string::npos);
    EXPECT_NE(Control("leaderboard", "GlobalScore").find("1 1 600"), std::string::npos);
    // Keep best: a lower score leaves the board as it was.
    ASSERT_TRUE(p.StoreMissionScore("M03", 50));
    ASSERT_TRUE(Pump([&] { return !boards.HasPendingUploads(); }));
    EXPECT_NE(Control("leaderboard", "M03").find("1 1 500"), std::string::npos);
    // Log-out drops every record and request.
    ASSERT_TRUE(boards.RetrieveLeaderboard("M03", RETREQ_GLOBAL, 5, 0));
    module->LogOut();
    EXPECT_EQ(boards.RequestCount(), 0u);
    EXPECT_EQ(boards.FindRecord("M03"), nullptr);
}

TEST_F(StatsTest, TheOverlayReachesTheScriptOnAndOff) {
    LogIn(false, true);
    ASSERT_TRUE(PumpUntilRetrieved());
    Profile().ActivateGameOverlay("Friends");
    ASSERT_TRUE(Pump([&] { return Events().find("Overlay 0") != std::string::npos; }));
    EXPECT_EQ(Events(), "OnInit,OnDataRetrieved,Overlay 1,Overlay 0");
    EXPECT_EQ(Profile().GetSteamAppId(), 0x1234567u);
}

TEST_F(StatsTest, DebugResetStatsZeroesAndLocksEverything) {
    LogIn();
    ASSERT_TRUE(PumpUntilRetrieved());
    PCMacGamerProfile& p = Profile();
    ASSERT_TRUE(p.UpdateUnsignedStatValue("CUnitSold", 9));
    ASSERT_TRUE(p.UnlockAchievement("M01"));
    p.DebugResetStats();
    EXPECT_EQ(p.GetUnsignedStatValue("CUnitSold"), 0u);
    EXPECT_FALSE(p.IsAchievementUnlocked("M01"));
    ASSERT_TRUE(Pump([&] { return p.PendingStatsStores() == 0; }));
    EXPECT_NE(Control("stats", "1").find("\"CUnitSold\":0"), std::string::npos);
}

}  // namespace
