// The base game delegate: answers, "?" texts, leaderboard viewer, sampling, store.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/CrtRand.h"
#include "core/config/ProjectConfig.h"
#include "engine/EngineServices.h"
#include "engine/game/GameDelegate.h"

namespace {

class GameDelegateTest : public testing::Test {
protected:
    void TearDown() override {
        gEngineServices = EngineServices{};
        gProjectConfig->SetPropertyFromString("Store definition file", "");
        GameDelegate::SetSampleNumber(0);
    }
};

}  // namespace

// Before anything sets it the sample number is 0: the first frame is sampled. (The tests
// below put it back to 0, so this one runs first.)
TEST(GameDelegateStartTest, SampleNumberStartsAtZero) { EXPECT_EQ(GameDelegate::GetSampleNumber(), 0); }

// Every slot's base answer, and the "?" wide texts.
TEST_F(GameDelegateTest, BaseAnswersAreTheOnesTheEngineReliesOn) {
    GameDelegate d;
    uint32_t word = 7;
    const std::pair<const char*, bool> answers[] = {
        {"CanClose", d.CanClose()},
        {"UseServerRequestThread", !d.UseServerRequestThread()},
        {"OnBeforeTick", d.OnBeforeTick()},
        {"CanSleep", d.CanSleep()},
        {"CanSwitchScene", d.CanSwitchScene("Level")},
        {"OnBigFrameTick", d.OnBigFrameTick()},
        {"CanDeactivateApp", d.CanDeactivateApp()},
        {"OnPlayerConnecting", !d.OnPlayerConnecting()},
        {"Slot74", d.Slot74(1, 2, &word) == &word && word == 0 && !d.Slot74(1, 2, nullptr)},
        {"CreateLeaderboardViewer", !d.CreateLeaderboardViewer()},
        {"OverrideStartSequence", !d.OverrideStartSequence("Intro", true)},
        {"GetCounter", d.GetCounter() == 5},
    };
    for (const auto& [name, expected] : answers) EXPECT_TRUE(expected) << name;
    for (int which = 0; which < 2; ++which) {
        Dynarray<char16_t> text;
        for (char16_t c : u"previous") text.Add(c);
        EXPECT_EQ(which ? d.Slot82(text) : d.Slot81(3, text), 0u);
        ASSERT_EQ(text.Count(), 2u);
        EXPECT_TRUE(text[0] == u'?' && text[1] == 0);
    }
}

TEST_F(GameDelegateTest, InitCreatesTheLeaderboardViewerOnceAndTheDelegateDeletesIt) {
    static int created, deleted;
    created = deleted = 0;
    struct CountingViewer : LeaderboardViewer {
        ~CountingViewer() override { ++deleted; }
    };
    struct ViewerDelegate : GameDelegate {  // the first answer is none: asked again at the next init
        LeaderboardViewer* CreateLeaderboardViewer() override { return ++created == 1 ? nullptr : new CountingViewer; }
    };
    auto* delegate = new ViewerDelegate;
    for (int i = 0; i < 3; ++i) delegate->OnInit();
    EXPECT_EQ(created * 10 + deleted, 20);
    EXPECT_NE(delegate->GetLeaderboardViewer(), nullptr);
    delete delegate;
    EXPECT_EQ(deleted, 1);
}

TEST_F(GameDelegateTest, SamplingKeepsMultiplesOfAHundredAndReplacesTheRest) {
    uint32_t state = 1;  // the engine-wide generator's rule, written independently
    CrtSrand(1);
    const std::pair<int32_t, bool> cases[] = {{0, true}, {300, true}, {-200, true}, {250, false}, {1, false}, {99, false}};
    GameDelegate delegate;
    for (const auto& [number, sampled] : cases) {
        GameDelegate::SetSampleNumber(number);
        EXPECT_EQ(delegate.ShouldSample(), sampled) << number;
        if (!sampled) state = state * 214013u + 2531011u;
        EXPECT_EQ(GameDelegate::GetSampleNumber(), sampled ? number : int32_t((state >> 16) & 0x7FFF)) << number;
    }
}

TEST_F(GameDelegateTest, StoreRequestsUseATemporaryStoreOnlyWithStoreDefinitions) {
    static std::vector<std::string> events;
    static bool createFails = false;
    static InGameStore* const kStore = reinterpret_cast<InGameStore*>(&events);
    EngineServices recording;
    recording.createInGameStore = [](const char* file) {
        events.push_back(std::string("create ") + file);
        return createFails ? nullptr : kStore;
    };
    recording.getInGameStoreItemImageFiles = [](InGameStore* store, uint32_t word, DynarraySafe<NameString>& files) {
        events.push_back("images " + std::to_string(word) + (store == kStore ? "" : "?"));
        files.Add(NameString("Store/Item.dds"));
    };
    recording.deleteInGameStore = [](InGameStore* store) { events.push_back(store == kStore ? "delete" : "delete?"); };
    const struct {
        const char* definitions;
        bool services, fails;
        std::vector<std::string> events;
    } cases[] = {
        {"", true, false, {}},
        {"StoreDefinitions", false, false, {}},
        {"StoreDefinitions", true, false, {"create StoreDefinitions", "images 5", "delete"}},
        {"StoreDefinitions", true, true, {"create StoreDefinitions"}},
    };
    GameDelegate delegate;
    for (const auto& c : cases) {
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
