// The base game delegate: answers, "?" texts, leaderboard viewer, sampling, store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/CrtRand.h"
#include "core/config/ProjectConfig.h"
#include "engine/EngineServices.h"
#include "engine/game/GameDelegate.h"

namespace {

class GameDelegateTest : public testing::Test {
protected:
    void SetUp() override { GameDelegate::SetSampleNumber(0); }
    void TearDown() override {
        gEngineServices = EngineServices{};
        gProjectConfig->SetPropertyFromString("Store definition file", "");
        GameDelegate::SetSampleNumber(0);
    }
};

}  // namespace

// Before anything sets it the sample number is 0: the first frame is sampled. (Every
// test below puts it back to 0, so this one runs first.)
TEST(GameDelegateStartTest, SampleNumberStartsAtZero) { EXPECT_EQ(GameDelegate::GetSampleNumber(), 0); }

// The answers the engine acts on; the other operations do nothing or answer 0 or false.
TEST_F(GameDelegateTest, BaseAnswersAreTheOnesTheEngineReliesOn) {
    GameDelegate d;
    uint32_t word = 7;
    const struct {
        const char* name;
        bool answer;
        bool expected;
    } kCases[] = {
        {"CanClose", d.CanClose(), true},
        {"UseServerRequestThread", d.UseServerRequestThread(), false},
        {"OnBeforeTick", d.OnBeforeTick(), true},
        {"CanSleep", d.CanSleep(), true},
        {"CanSwitchScene", d.CanSwitchScene("Level"), true},
        {"OnBigFrameTick", d.OnBigFrameTick(), true},
        {"CanDeactivateApp", d.CanDeactivateApp(), true},
        {"OnPlayerConnecting", d.OnPlayerConnecting(), false},
        {"Slot74", d.Slot74(1, 2, &word) == &word && word == 0 && !d.Slot74(1, 2, nullptr), true},
        {"CreateLeaderboardViewer", d.CreateLeaderboardViewer() != nullptr, false},
        {"OverrideStartSequence", d.OverrideStartSequence("Intro", true) != nullptr, false},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.answer, c.expected) << c.name;
    EXPECT_EQ(d.GetCounter(), 5);
}

TEST_F(GameDelegateTest, WideTextOperationsLeaveAQuestionMark) {
    GameDelegate delegate;
    for (int which = 0; which < 2; ++which) {
        Dynarray<char16_t> text;
        for (char16_t c : u"previous") text.Add(c);
        EXPECT_EQ(which ? delegate.Slot82(text) : delegate.Slot81(3, text), 0u);
        ASSERT_EQ(text.Count(), 2u);
        EXPECT_EQ(text[0], u'?');
        EXPECT_EQ(text[1], 0);
    }
}

TEST_F(GameDelegateTest, InitCreatesTheLeaderboardViewerOnceAndTheDelegateDeletesIt) {
    static int created, deleted;
    created = deleted = 0;
    struct CountingViewer : LeaderboardViewer {
        ~CountingViewer() override { ++deleted; }
    };
    struct ViewerDelegate : GameDelegate {
        // The first answer is none: asked again at the next init.
        LeaderboardViewer* CreateLeaderboardViewer() override { return ++created == 1 ? nullptr : new CountingViewer; }
    };
    auto* delegate = new ViewerDelegate;
    for (int i = 0; i < 3; ++i) delegate->OnInit();
    EXPECT_EQ(created, 2);
    EXPECT_NE(delegate->GetLeaderboardViewer(), nullptr);
    EXPECT_EQ(deleted, 0);
    delete delegate;
    EXPECT_EQ(deleted, 1);
}

TEST_F(GameDelegateTest, SamplingKeepsMultiplesOfAHundredAndReplacesTheRest) {
    // The engine-wide generator's rule, written independently.
    uint32_t state = 1;
    auto next = [&state] {
        state = state * 214013u + 2531011u;
        return static_cast<int32_t>((state >> 16) & 0x7FFF);
    };
    CrtSrand(1);
    const struct {
        int32_t number;
        bool sampled;
    } kCases[] = {{0, true}, {300, true}, {-200, true}, {250, false}, {1, false}, {99, false}};
    GameDelegate delegate;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.number);
        GameDelegate::SetSampleNumber(c.number);
        EXPECT_EQ(delegate.ShouldSample(), c.sampled);
        EXPECT_EQ(GameDelegate::GetSampleNumber(), c.sampled ? c.number : next());
    }
}

TEST_F(GameDelegateTest, StoreRequestsUseATemporaryStoreOnlyWithStoreDefinitions) {
    static std::vector<std::string> events;
    static bool createFails = false;
    EngineServices recording;
    recording.createInGameStore = [](const char* file) {
        events.push_back(std::string("create ") + file);
        return createFails ? nullptr : reinterpret_cast<InGameStore*>(&events);
    };
    recording.getInGameStoreItemImageFiles = [](InGameStore* store, uint32_t word, DynarraySafe<NameString>& files) {
        events.push_back("images " + std::to_string(word) + (store == reinterpret_cast<InGameStore*>(&events) ? "" : "?"));
        files.Add(NameString("Store/Item.dds"));
    };
    recording.deleteInGameStore = [](InGameStore* store) {
        events.push_back(store == reinterpret_cast<InGameStore*>(&events) ? "delete" : "delete?");
    };
    const struct {
        const char* definitions;
        bool services;
        bool fails;
        std::vector<std::string> events;
    } kCases[] = {
        {"", true, false, {}},
        {"StoreDefinitions", false, false, {}},
        {"StoreDefinitions", true, false, {"create StoreDefinitions", "images 5", "delete"}},
        {"StoreDefinitions", true, true, {"create StoreDefinitions"}},
    };
    GameDelegate delegate;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.definitions);
        events.clear();
        createFails = c.fails;
        ASSERT_TRUE(gProjectConfig->SetPropertyFromString("Store definition file", c.definitions));
        gEngineServices = c.services ? recording : EngineServices{};
        DynarraySafe<NameString> files;
        delegate.HandleStoreRequest(5, files);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(files.Count(), c.events.size() > 1 ? 1u : 0u);
    }
}
