// The profile's data classes: their property lists against the independent writer
// (tests/support/cloudfile.py), defaults, and the script operations on progress and
// results, with their neutral answers and error lines.
// test-link: broker_server
#include <gtest/gtest.h>

#include <functional>

#include "ProfileTestSupport.h"
#include "core/BoundedReader.h"

using namespace profiletest;
using namespace PCMacGamerProfileData;

namespace {

std::vector<uint8_t> Serialized(const RTTIPolyBaseClass& object) {
    std::vector<uint8_t> bytes(object.SolidSerialize(nullptr, 0));
    object.SolidSerialize(bytes.data(), 0);
    return bytes;
}

std::vector<uint8_t> Payload(const std::string& spec, const onlinetest::TempDir& dir) {
    const std::string path = (dir.path / "payload.bin").string();
    EXPECT_EQ(CloudFile("payload " + spec + " " + path), 0);
    return ReadBytes(path);
}

using DataTest = ProfileTest;

TEST_F(DataTest, PropertyListsEqualTheIndependentWriter) {
    PCMacGamerProfileProgressData progress;
    PCMacGamerProfileResultsData results;
    EXPECT_EQ(Serialized(progress), Payload("progress-default", dir));
    EXPECT_EQ(Serialized(results), Payload("results-default", dir));

    // A written sample reads back into equal objects and writes the same bytes.
    const std::vector<uint8_t> sample = Payload("progress-sample", dir);
    BoundedReader in(sample.data(), sample.size());
    progress.GetRTTIClass()->DeserializeProperties(in, &progress, 0);
    ASSERT_FALSE(in.Failed());
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(progress.lastPresentedMissionNumericalId[1], 1u);
    ASSERT_EQ(progress.localData.Count(), 1u);
    EXPECT_EQ(progress.localData[0]->value, 7u);
    EXPECT_EQ(Serialized(progress), sample);
    PCMacGamerProfileProgressData copy;
    BoundedReader again(sample.data(), sample.size());
    copy.GetRTTIClass()->DeserializeProperties(again, &copy, 0);
    EXPECT_TRUE(progress.GetRTTIClass()->PropertiesEqual(&progress, &copy));
}

TEST_F(DataTest, ClassesAreRegisteredWithTheirBases) {
    struct Case {
        const char* name;
        const char* base;
        uint32_t properties;
    } cases[] = {
        {"GamerProfile", nullptr, 0},
        {"ZKRGamerProfileMissionEntry", nullptr, 4},
        {"ZKRGamerProfileMissionMedalEntry", nullptr, 2},
        {"ZKRGamerProfileStatEntry", nullptr, 2},
        {"ZKRGamerProfileLocalDataEntry", nullptr, 2},
        {"ZKRGamerProfileAchievementEntry", nullptr, 2},
        {"ZKRGamerProfileResultsData", nullptr, 1},
        {"ZKRGamerProfileStatsData", nullptr, 2},
        {"PCMacGamerProfileResultsData", "ZKRGamerProfileResultsData", 0},
        {"PCMacGamerProfileStatsData", "ZKRGamerProfileStatsData", 0},
        {"PCMacGamerProfileProgressData", nullptr, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RTTIClass* k = RTTIClassRegistry::FindClass(c.name);
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->PropertyCount(), c.properties);
        if (c.base)
            EXPECT_STREQ(k->Base() ? k->Base()->Name() : "", c.base);
        else
            EXPECT_EQ(k->Base(), nullptr);
    }
}

TEST_F(DataTest, DefaultsOfAFreshProfile) {
    LogIn();
    PCMacGamerProfile& p = Profile();
    EXPECT_EQ(p.GetLastUnlockedMissionNumericalId(0), 1u);
    EXPECT_EQ(p.GetLastFinishedMissionNumericalId(0), 0u);
    EXPECT_EQ(p.GetLastPresentedMissionNumericalId(0), 1u);
    EXPECT_EQ(p.GetLastUnlockedMissionNumericalId(4), 0u);
    EXPECT_TRUE(p.IsProgessDirty());
    EXPECT_EQ(p.Results().missions.Count(), 15u);
    EXPECT_EQ(p.Stats().stats.Count(), 84u);
    EXPECT_EQ(p.Stats().achievements.Count(), 67u);
    EXPECT_EQ(p.GetTotalScoreForAllMissions(), 0u);
}

TEST_F(DataTest, ProgressAndResultsOperations) {
    LogIn();
    PCMacGamerProfile& p = Profile();
    p.Progress().dirty = 0;
    EXPECT_TRUE(p.SetLastFinishedMissionNumericalId(9, 2));
    EXPECT_EQ(p.GetLastFinishedMissionNumericalId(2), 9u);
    EXPECT_TRUE(p.SetLastFinishedMissionNumericalId(9, 4));  // beyond the block: nothing, still true
    EXPECT_TRUE(p.IsProgessDirty());

    EXPECT_TRUE(p.RaiseProgressFlag("a"));
    EXPECT_FALSE(p.RaiseProgressFlag("a"));
    EXPECT_TRUE(p.RaiseProgressFlag(nullptr));  // the empty name
    EXPECT_TRUE(p.CheckProgressFlag(""));
    EXPECT_TRUE(p.ClearProgressFlag("a"));
    EXPECT_FALSE(p.ClearProgressFlag("a"));
    EXPECT_FALSE(p.CheckProgressFlag("A"));  // names compare case-sensitively

    EXPECT_TRUE(p.UnlockEndlessMode("E1"));
    p.Progress().dirty = 0;
    EXPECT_TRUE(p.UnlockEndlessMode("E1"));
    EXPECT_FALSE(p.IsProgessDirty());  // dirty only when added

    EXPECT_EQ(p.GetUnsignedLocalDataValue("n", 5), 5u);
    EXPECT_TRUE(p.UpdateFloatLocalDataValue("f", 2.5f));
    EXPECT_EQ(p.GetFloatLocalDataValue("f", 0.0f), 2.5f);
    EXPECT_TRUE(p.UpdateUnsignedLocalDataValue("n", 3));
    EXPECT_EQ(p.GetUnsignedLocalDataValue("n", 5), 3u);

    p.Results().dirty = 0;
    EXPECT_TRUE(p.StoreMissionScore("M02", 100));
    EXPECT_TRUE(p.StoreMissionScore("M15", 0xFFFFFFF0u));
    EXPECT_EQ(p.GetTotalScoreForAllMissions(), 100u - 16u);  // 32-bit wrap
    EXPECT_EQ(p.GetTotalScore("ignored"), p.GetTotalScoreForAllMissions());
    EXPECT_TRUE(p.StoreMissionDistinctionLevel("M02", "Ruthlessness", 3));
    EXPECT_EQ(p.GetMissionDistinctionLevel("M02", "Ruthlessness"), 3);
    EXPECT_TRUE(p.RaiseMissionFlag("M02", "f"));
    p.Results().dirty = 0;
    EXPECT_TRUE(p.RaiseMissionFlag("M02", "f"));  // present: still true and dirty
    EXPECT_TRUE(p.IsResultsDirty());
    ASSERT_EQ(p.Results().FindMission(NameString("M02"))->flags.Count(), 1u);

    p.DebugResetResults();
    EXPECT_EQ(p.GetMissionScore("M02"), 0u);
    EXPECT_FALSE(p.CheckMissionFlag("M02", "f"));
    EXPECT_EQ(p.GetMissionDistinctionLevel("M02", "Ruthlessness"), 0);
    p.DebugResetProgress();
    EXPECT_EQ(p.GetUnsignedLocalDataValue("n", 5), 5u);
}

TEST_F(DataTest, UnknownNamesLogAndAnswerNeutrally) {
    LogIn();
    PCMacGamerProfile& p = Profile();
    struct Case {
        std::function<bool()> call;
        const char* line;
    } cases[] = {
        {[&] { return p.GetMissionScore("M16") == 0; }, "Error retrieving mission score, missionId M16 is invalid!"},
        {[&] { return !p.StoreMissionScore("m01", 5); }, "Error storing mission score, missionId m01 is invalid!"},
        {[&] { return p.GetMissionDistinctionLevel("X", "Celerity") == 0; },
         "Error retrieving mission distinction, missionId X is invalid!"},
        {[&] { return p.GetMissionDistinctionLevel("M01", "Gold") == 0; },
         "Error retrieving mission distinction, medalType Gold is invalid!"},
        {[&] { return !p.StoreMissionDistinctionLevel("X", "Celerity", 1); },
         "Error storing mission distinction, missionId X is invalid!"},
        {[&] { return !p.StoreMissionDistinctionLevel("M01", "celerity", 1); },
         "Error storing mission distinction, medalType celerity is invalid!"},
        {[&] { return !p.CheckMissionFlag("X", "f"); }, "Error retrieving mission flag, missionId X is invalid!"},
        {[&] { return !p.RaiseMissionFlag("X", "f"); }, "Error storing mission flag, missionId X is invalid!"},
        {[&] { return p.GetUnsignedStatValue("Nope") == 0; }, "Error retrieving stat, statName Nope is invalid!"},
        {[&] { return !p.UpdateFloatStatValue("Nope", 1); }, "Error storing stat, statName Nope is invalid!"},
        {[&] { return !p.IsAchievementUnlocked("Nope"); },
         "Error retrieving achievement, achievementName Nope is invalid!"},
        {[&] { return !p.UnlockAchievement("Nope"); }, "Error unlocking achievement, achievementName Nope is invalid!"},
        {[&] { return !p.DebugLockAchievement("Nope"); }, "Error locking achievement, achievementName Nope is invalid!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        log.Clear();
        EXPECT_TRUE(c.call());
        const auto messages = log.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, c.line);
        EXPECT_EQ(messages[0].severity, 4);
        EXPECT_EQ(messages[0].category, 2);
    }
}

TEST_F(DataTest, LoggedOutOrNullArgumentsAnswerNeutrally) {
    PCMacGamerProfile out(nullptr, nullptr);
    LogIn();
    PCMacGamerProfile& in = Profile();
    for (PCMacGamerProfile* p : {&out, &in}) {
        const bool loggedIn = p == &in;
        SCOPED_TRACE(loggedIn);
        log.Clear();
        if (!loggedIn) {
            EXPECT_EQ(p->GetLastUnlockedMissionNumericalId(0), 0u);
            EXPECT_FALSE(p->SetLastUnlockedMissionNumericalId(1, 0));
            EXPECT_FALSE(p->RaiseProgressFlag("a"));
            EXPECT_FALSE(p->UnlockEndlessMode("E"));
            EXPECT_EQ(p->GetTotalScoreForAllMissions(), 0u);
            EXPECT_EQ(p->GetMissionScore("M01"), 0u);
            EXPECT_FALSE(p->UnlockAchievement("M01"));
        }
        EXPECT_EQ(p->GetUnsignedLocalDataValue(nullptr, 9), 9u);
        EXPECT_EQ(p->GetFloatLocalDataValue(nullptr, 1.5f), 1.5f);
        EXPECT_FALSE(p->UpdateUnsignedLocalDataValue(nullptr, 1));
        EXPECT_EQ(p->GetMissionScore(nullptr), 0u);
        EXPECT_FALSE(p->StoreMissionScore(nullptr, 1));
        EXPECT_EQ(p->GetMissionDistinctionLevel("M01", nullptr), 0);
        EXPECT_FALSE(p->CheckMissionFlag("M01", nullptr));
        EXPECT_FALSE(p->IsEndlessModeUnlocked(nullptr));
        EXPECT_EQ(p->GetUnsignedStatValue(nullptr), 0u);
        EXPECT_FALSE(p->UnlockAchievement(nullptr));
        EXPECT_FALSE(p->IsAwardUnlocked("x"));
        EXPECT_FALSE(p->UnlockAward("x"));
        EXPECT_TRUE(log.Messages().empty());
    }
}

}  // namespace
