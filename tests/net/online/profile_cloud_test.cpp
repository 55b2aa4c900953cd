// The gamer profile's life cycle and cloud files through the in-process broker: which
// copy loads, which copy a save overwrites, damaged copies, and the script events.
// test-link: broker_server
#include <gtest/gtest.h>

#include "ProfileTestSupport.h"

using namespace profiletest;

namespace {

using CloudTest = ProfileTest;

TEST_F(CloudTest, WithoutCopiesTheDataKeepDefaultsAndSavesAlternate) {
    LogIn();
    ASSERT_TRUE(PumpUntilRetrieved());
    EXPECT_EQ(Events(), "OnInit,OnDataRetrieved");
    EXPECT_EQ(Profile().GetLastUnlockedMissionNumericalId(0), 1u);
    EXPECT_EQ(GamerProfile::ProgressStamp(), 0u);
    struct Save {
        const char* file;
        uint32_t stamp;
    } saves[] = {{"progress", 1}, {"progress.alt", 2}, {"progress", 3}, {"progress.alt", 4}};
    for (const Save& s : saves) {
        SCOPED_TRACE(s.stamp);
        ASSERT_TRUE(Profile().StoreProgress());
        EXPECT_FALSE(Profile().IsProgessDirty());
        EXPECT_TRUE(CheckFile(s.file, "progress", ProgressLayout(), s.stamp));
        EXPECT_TRUE(log.Contains("Storing data to " + std::string(s.file)));
    }
    ASSERT_TRUE(Profile().StoreResults());
    EXPECT_TRUE(CheckFile("results", "results", ResultsLayout(), 1));
    // What was saved is what the next log-in loads (".alt" holds the newer stamp).
    ASSERT_TRUE(Profile().UnlockEndlessMode("E7"));
    ASSERT_TRUE(Profile().StoreProgress());  // plain copy, stamp 5
    module->LogOut();
    LogIn();
    EXPECT_TRUE(Profile().IsEndlessModeUnlocked("E7"));
    EXPECT_TRUE(log.Contains("Loaded from progress (5 vs 4)"));
}

TEST_F(CloudTest, TheNewerUsableCopyLoadsAndTheOtherIsOverwritten) {
    const uint32_t layout = ProgressLayout();
    const std::string L = std::to_string(layout);
    struct Case {
        const char* name;
        const char* plain;  // cloudfile.py "make" arguments after "progress", or "" for none
        const char* alt;
        const char* loaded;   // the log line, or "" when nothing loads
        bool sample;          // the sample progress was applied
        const char* nextFile;
        uint32_t nextStamp;
    } cases[] = {
        {"equal stamps load .alt", "5 progress-sample", "5 progress-sample", "Loaded from progress.alt (5 vs 5)", true,
         "progress", 6},
        {"bad checksum counts as absent", "9 progress-sample --bad-crc", "4 progress-sample",
         "Loaded from progress.alt (0 vs 4)", true, "progress", 5},
        {"newer plain copy", "8 progress-sample", "3 progress-default", "Loaded from progress (8 vs 3)", true,
         "progress.alt", 9},
        {"empty payload loads", "3 empty", "", "Loaded from progress (3 vs 0)", false, "progress.alt", 4},
        {"checksum right but no property list", "8 results-huge-count", "2 progress-sample",
         "Loaded from progress.alt (0 vs 2)", true, "progress", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        broker.reset();
        onlinetest::TempDir fresh;
        std::swap(dir.path, fresh.path);
        SetUp();
        if (*c.plain) PutMadeFile("progress", "progress " + L + " " + c.plain);
        if (*c.alt) PutMadeFile("progress.alt", "progress " + L + " " + c.alt);
        LogIn();
        if (*c.loaded)
            EXPECT_TRUE(log.Contains(c.loaded));
        else
            EXPECT_FALSE(log.Contains("Loaded from"));
        EXPECT_EQ(Profile().GetLastUnlockedMissionNumericalId(0), c.sample ? 3u : 1u);
        EXPECT_EQ(Profile().CheckProgressFlag("tutorial"), c.sample);
        ASSERT_TRUE(Profile().StoreProgress());
        EXPECT_TRUE(CheckFile(c.nextFile, "progress", layout, c.nextStamp));
        std::swap(dir.path, fresh.path);
    }
}

TEST_F(CloudTest, CopiesOfAnotherLayoutOrDamagedCountAsAbsent) {
    const std::string other = std::to_string(ProgressLayout() ^ 1);
    PutMadeFile("progress", "progress " + other + " 7 progress-sample");
    PutMadeFile("results", "results " + std::to_string(ResultsLayout()) + " 4 results-huge-count");
    PutFile("results.alt", std::vector<uint8_t>(15, 0));  // shorter than any copy
    LogIn();
    EXPECT_FALSE(log.Contains("Loaded from"));
    EXPECT_EQ(Profile().GetLastUnlockedMissionNumericalId(0), 1u);
    EXPECT_EQ(Profile().Results().missions.Count(), 15u);
    ASSERT_TRUE(Profile().StoreProgress());
    EXPECT_TRUE(CheckFile("progress", "progress", ProgressLayout(), 1));
}

TEST_F(CloudTest, AResultsCopyHoldingOneMissionCompletesToTheWholeTable) {
    PutMadeFile("results", "results " + std::to_string(ResultsLayout()) + " 2 results-m01");
    LogIn();
    PCMacGamerProfile& p = Profile();
    ASSERT_EQ(p.Results().missions.Count(), 15u);
    for (auto* m : p.Results().missions) EXPECT_EQ(m->distinctions.Count(), 3u) << m->id.CStr();
    EXPECT_EQ(p.GetMissionScore("M01"), 1234u);
    EXPECT_EQ(p.GetMissionDistinctionLevel("M01", "Celerity"), 2);
    EXPECT_EQ(p.GetMissionDistinctionLevel("M01", "Efficiency"), 0);
    EXPECT_TRUE(p.CheckMissionFlag("M01", "boss"));
    EXPECT_EQ(p.GetMissionScore("M15"), 0u);
    EXPECT_STREQ(p.Results().missions[0]->id.CStr(), "M01");
    EXPECT_STREQ(p.Results().missions[1]->id.CStr(), "M02");
}

TEST_F(CloudTest, DataRetrievedArrivesOnceWhateverFails) {
    struct Case {
        const char* name;
        bool statsFail;
        bool damagedCopies;
    } cases[] = {{"everything loads", false, false}, {"stats fail", true, false}, {"both loads fail", false, true},
                 {"stats fail and both loads fail", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gLua.ExecuteString("events = {}");
        if (c.damagedCopies) {
            PutFile("progress", std::vector<uint8_t>(40, 7));
            PutFile("results", std::vector<uint8_t>(40, 7));
        }
        LogIn(c.statsFail);
        ASSERT_TRUE(PumpUntilRetrieved());
        onlinetest::PumpUntil({ctx.get()}, [] { return false; }, 50);
        EXPECT_EQ(Events(), "OnInit,OnDataRetrieved");
        EXPECT_EQ(log.Contains("Failed to retrieve steam stats (error:2)"), c.statsFail);
        // A second log-in of the same profile changes nothing.
        EXPECT_FALSE(Profile().Login("again"));
        EXPECT_EQ(Events(), "OnInit,OnDataRetrieved");
        module->LogOut();
        EXPECT_EQ(Events(), "OnInit,OnDataRetrieved,OnRelease");
        log.Clear();
    }
}

TEST_F(CloudTest, LoggedOutProfilesStoreNothing) {
    PCMacGamerProfile p(nullptr, nullptr);
    EXPECT_FALSE(p.StoreProgress());
    EXPECT_FALSE(p.StoreResults());
    EXPECT_FALSE(p.StoreStats());
    EXPECT_TRUE(p.Login(nullptr));  // no services: loads fail, defaults stay
    EXPECT_EQ(p.GetLastUnlockedMissionNumericalId(0), 1u);
    EXPECT_TRUE(p.StoreProgress());  // nowhere to write: logged, the stamp still advances
    EXPECT_EQ(GamerProfile::ProgressStamp(), 1u);
    EXPECT_TRUE(log.Contains("Cloud file progress could not be written"));
}

}  // namespace
