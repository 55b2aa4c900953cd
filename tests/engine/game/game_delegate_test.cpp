// The base game delegate: every operation's base result, the wide "?" texts, the
// leaderboard viewer made once at init, the sampling rule and the store request.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/CrtRand.h"
#include "core/config/ProjectConfig.h"
#include "engine/EngineServices.h"
#include "engine/game/GameDelegate.h"

// The viewer's body comes with the leaderboards; the tests give it one.
LeaderboardViewer::~LeaderboardViewer() = default;

namespace {

struct Arguments {
    DynarraySafe<NameString> files;
    Dynarray<char16_t> text;
    uint32_t word = 7;
};

struct Slot {
    const char* name;
    std::function<int64_t(GameDelegate&, Arguments&)> call;
    int64_t result;
};

#define RESULT(expression) [](GameDelegate& d, Arguments& a) -> int64_t { return static_cast<int64_t>(expression); }
#define EFFECT(statement)                                  \
    [](GameDelegate& d, Arguments& a) -> int64_t {         \
        statement;                                         \
        return 0;                                          \
    }

// Every operation after the destructor, in order, then the two hooks.
const Slot kSlots[] = {
    {"Slot01", RESULT(d.Slot01()), 0},
    {"IsXBoxLiveEnabled", RESULT(d.IsXBoxLiveEnabled()), 0},
    {"IsXBoxLiveSignedIn", RESULT(d.IsXBoxLiveSignedIn()), 0},
    {"IsXBoxLiveAgeRestricted", RESULT(d.IsXBoxLiveAgeRestricted()), 0},
    {"Slot05", RESULT(d.Slot05()), 0},
    {"IsSteamEnabled", RESULT(d.IsSteamEnabled()), 0},
    {"CanClose", RESULT(d.CanClose()), 1},
    {"UseServerRequestThread", RESULT(d.UseServerRequestThread()), 0},
    {"OnBeforeTick", RESULT(d.OnBeforeTick()), 1},
    {"XBoxLiveLogin", EFFECT(d.XBoxLiveLogin()), 0},
    {"CanSleep", RESULT(d.CanSleep()), 1},
    {"Slot12", RESULT(d.Slot12()), 0},
    {"Slot13", EFFECT(d.Slot13()), 0},
    {"Slot14", EFFECT(d.Slot14(1)), 0},
    {"Slot15", RESULT(d.Slot15()), 0},
    {"OnPreInit", EFFECT(d.OnPreInit()), 0},
    {"OnInit", RESULT((d.OnInit(), d.GetLeaderboardViewer() != nullptr)), 0},
    {"Slot18", EFFECT(d.Slot18()), 0},
    {"OnAfterInit", EFFECT(d.OnAfterInit()), 0},
    {"OnQuit", EFFECT(d.OnQuit()), 0},
    {"OnClose", EFFECT(d.OnClose()), 0},
    {"OnAfterClose", EFFECT(d.OnAfterClose()), 0},
    {"CanSwitchScene", RESULT(d.CanSwitchScene("Level")), 1},
    {"OnSwitchScene", EFFECT(d.OnSwitchScene("Level")), 0},
    {"OnSwitchSceneAfterNetEntitiesDestroyed", EFFECT(d.OnSwitchSceneAfterNetEntitiesDestroyed()), 0},
    {"OnDuringSwitchScene", EFFECT(d.OnDuringSwitchScene()), 0},
    {"OnAfterSwitchScene", EFFECT(d.OnAfterSwitchScene()), 0},
    {"OnSceneReady", EFFECT(d.OnSceneReady()), 0},
    {"OnFirstSceneLoaded", EFFECT(d.OnFirstSceneLoaded()), 0},
    {"OnAppActivate", EFFECT(d.OnAppActivate(true)), 0},
    {"OnAppDeactivate", EFFECT(d.OnAppDeactivate(true)), 0},
    {"OnCancelCurrentGame", EFFECT(d.OnCancelCurrentGame()), 0},
    {"OnGameCenterMatchingCompleted", EFFECT(d.OnGameCenterMatchingCompleted(true)), 0},
    {"InitEntity", EFFECT(d.InitEntity(nullptr)), 0},
    {"OnBigFrameTick", RESULT(d.OnBigFrameTick()), 1},
    {"OnTick", EFFECT(d.OnTick()), 0},
    {"OnSmoothTick", EFFECT(d.OnSmoothTick()), 0},
    {"OnAfterTick", EFFECT(d.OnAfterTick()), 0},
    {"OnPauseTick", EFFECT(d.OnPauseTick()), 0},
    {"OnTickInput", EFFECT(d.OnTickInput()), 0},
    {"OnInputEvent", EFFECT(d.OnInputEvent(1, 2)), 0},
    {"Slot42", EFFECT(d.Slot42()), 0},
    {"OnInputConfigChanged", EFFECT(d.OnInputConfigChanged()), 0},
    {"OnScreenResolutionChanged", EFFECT(d.OnScreenResolutionChanged()), 0},
    {"OnPreSceneRender", EFFECT(d.OnPreSceneRender()), 0},
    {"OnPostSceneRender", EFFECT(d.OnPostSceneRender()), 0},
    {"SaveConfig", EFFECT(d.SaveConfig()), 0},
    {"Slot48", EFFECT(d.Slot48()), 0},
    {"Slot49", EFFECT(d.Slot49()), 0},
    {"Slot50", EFFECT(d.Slot50()), 0},
    {"OnXBoxLiveLoginFinished", EFFECT(d.OnXBoxLiveLoginFinished()), 0},
    {"Slot52", EFFECT(d.Slot52()), 0},
    {"OnDisplayReset", EFFECT(d.OnDisplayReset()), 0},
    {"OnChatMessage", EFFECT(d.OnChatMessage(true, 1, u"hi")), 0},
    {"OnLobbyUpdated", EFFECT(d.OnLobbyUpdated()), 0},
    {"OnLobbyJoinRequested", EFFECT(d.OnLobbyJoinRequested()), 0},
    {"OnLobbyGameStartRequest", EFFECT(d.OnLobbyGameStartRequest(1, true, false)), 0},
    {"OnLobbyError", EFFECT(d.OnLobbyError(3)), 0},
    {"Slot59", EFFECT(d.Slot59()), 0},
    {"Slot60", EFFECT(d.Slot60(1)), 0},
    {"Slot61", EFFECT(d.Slot61()), 0},
    {"LoadMainScripts", EFFECT(d.LoadMainScripts("Set", a.files)), 0},
    {"RegisterSceneScripts", EFFECT(d.RegisterSceneScripts("Scene", a.files)), 0},
    {"HandleStoreRequest", EFFECT(d.HandleStoreRequest(5, a.files)), 0},
    {"Slot65", RESULT(d.Slot65(1, 2, 3)), 0},
    {"Slot66", RESULT(d.Slot66(1, 2, 3, 4)), 0},
    {"Slot67", EFFECT(d.Slot67(1, 2, 3, 4, 5)), 0},
    {"Slot68", RESULT(d.Slot68()), 0},
    {"Slot69", EFFECT(d.Slot69(1)), 0},
    {"Slot70", RESULT(d.Slot70(1, 2)), 0},
    {"Slot71", RESULT(d.Slot71()), 0},
    {"Slot72", RESULT(d.Slot72()), 0},
    {"Slot73", RESULT(d.Slot73(1)), 0},
    {"Slot74", RESULT(d.Slot74(1, 2, &a.word) == &a.word && a.word == 0 && !d.Slot74(1, 2, nullptr)), 1},
    {"Slot75", RESULT(d.Slot75(1, 2)), 0},
    {"Slot76", EFFECT(d.Slot76(1)), 0},
    {"CanDeactivateApp", RESULT(d.CanDeactivateApp()), 1},
    {"Slot78", RESULT(d.Slot78()), 0},
    {"Slot79", EFFECT(d.Slot79(1)), 0},
    {"ShouldSample", RESULT(d.ShouldSample()), 1},
    {"Slot81", RESULT(d.Slot81(1, a.text)), 0},
    {"Slot82", RESULT(d.Slot82(a.text)), 0},
    {"Slot83", RESULT(d.Slot83(1)), 0},
    {"Slot84", RESULT(d.Slot84(1, 2)), 1},
    {"OnGameHosted", EFFECT(d.OnGameHosted(0)), 0},
    {"OnGameJoined", EFFECT(d.OnGameJoined(0)), 0},
    {"OnGameDisconnected", EFFECT(d.OnGameDisconnected(2)), 0},
    {"OnPlayerConnecting", RESULT(d.OnPlayerConnecting()), 0},
    {"OnPlayerConnected", EFFECT(d.OnPlayerConnected(nullptr)), 0},
    {"OnPlayerReady", EFFECT(d.OnPlayerReady(nullptr)), 0},
    {"OnPlayerDisconnected", EFFECT(d.OnPlayerDisconnected(nullptr, 1)), 0},
    {"OnPlayerConnectionStall", EFFECT(d.OnPlayerConnectionStall(nullptr)), 0},
    {"OnPlayerConnectionResume", EFFECT(d.OnPlayerConnectionResume(nullptr)), 0},
    {"OnReplicatedProperty", EFFECT(d.OnReplicatedProperty(nullptr)), 0},
    {"OnReplicatedMethodCall", EFFECT(d.OnReplicatedMethodCall(nullptr, nullptr)), 0},
    {"OnTornOff", EFFECT(d.OnTornOff(nullptr)), 0},
    {"OnRenderScenePass", EFFECT(d.OnRenderScenePass()), 0},
    {"Slot98", EFFECT(d.Slot98()), 0},
    {"CreateLeaderboardViewer", RESULT(d.CreateLeaderboardViewer() != nullptr), 0},
    {"OverrideStartSequence", RESULT(d.OverrideStartSequence("Intro", true) != nullptr), 0},
    {"FileListHook", EFFECT(d.FileListHook(5, a.files)), 0},
};
static_assert(sizeof(kSlots) / sizeof(kSlots[0]) == 99 + 2, "every operation after the destructor, and the hooks");

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

TEST_F(GameDelegateTest, EveryOperationHasItsBaseResult) {
    GameDelegate delegate;
    EXPECT_EQ(delegate.GetCounter(), 5);
    for (const Slot& slot : kSlots) {
        Arguments arguments;
        EXPECT_EQ(slot.call(delegate, arguments), slot.result) << slot.name;
        EXPECT_EQ(arguments.files.Count(), 0u) << slot.name;
    }
    EXPECT_EQ(GameDelegate::GetSampleNumber(), 0);
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
