// The base game delegate: the answers the engine acts on, the wide "?" texts, the
// leaderboard viewer made once at init, the sampling rule and the store request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/CrtRand.h"
#include "core/config/ProjectConfig.h"
#include "engine/EngineServices.h"
#include "engine/game/GameDelegate.h"

// The viewer's body comes with the leaderboards; the tests give it one.
LeaderboardViewer::~LeaderboardViewer() = default;

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
    struct CountingViewer : LeaderboardViewer {
        explicit CountingViewer(int* deleted) : deleted(deleted) {}
        ~CountingViewer() override { ++*deleted; }
        int* deleted;
    };
    struct ViewerDelegate : GameDelegate {
        int created = 0;
        int* deleted = nullptr;
        LeaderboardViewer* CreateLeaderboardViewer() override {
            ++created;
            return created == 1 ? nullptr : new CountingViewer(deleted);
        }
    };
    int deleted = 0;
    auto* delegate = new ViewerDelegate;
    delegate->deleted = &deleted;
    delegate->OnInit();  // asked, answers none: asked again next time
    EXPECT_EQ(delegate->GetLeaderboardViewer(), nullptr);
    delegate->OnInit();
    delegate->OnInit();
    EXPECT_EQ(delegate->created, 2);
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
    static int store;
    const EngineServices recording = [] {
        EngineServices s;
        s.createInGameStore = [](const char* file) -> InGameStore* {
            events.push_back(std::string("create ") + file);
            return createFails ? nullptr : reinterpret_cast<InGameStore*>(&store);
        };
        s.getInGameStoreItemImageFiles = [](InGameStore* st, uint32_t word, DynarraySafe<NameString>& files) {
            events.push_back("images " + std::to_string(word) + (st == reinterpret_cast<InGameStore*>(&store) ? "" : " of ?"));
            files.Add(NameString("Store/Item.dds"));
        };
        s.deleteInGameStore = [](InGameStore* st) {
            events.push_back(st == reinterpret_cast<InGameStore*>(&store) ? "delete" : "delete ?");
        };
        return s;
    }();
    const struct {
        const char* definitions;
        bool services;
        bool fails;
        std::vector<std::string> events;
        uint32_t files;
    } kCases[] = {
        {"", true, false, {}, 0},
        {"StoreDefinitions", false, false, {}, 0},
        {"StoreDefinitions", true, false, {"create StoreDefinitions", "images 5", "delete"}, 1},
        {"StoreDefinitions", true, true, {"create StoreDefinitions"}, 0},
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
        EXPECT_EQ(files.Count(), c.files);
    }
}
