// The game's delegate against a recording script: every forwarded event reaches its
// function on "Game" or on the delegate's class line with its arguments; the answers
// when a call does not run; the start-up flags; the profile's part (its order around the
// Game's init and close, the desktop forwards to its operations); the store request's
// images; the chat text a script keeps; the replication and tear-off events; entity
// init passes, the scene's local script and entity scripts through the game's
// entity-creation listener; the rotating shield's searches from a dead tower.
// test-link: bindings broker_server
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <lua.hpp>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/config/ProjectConfig.h"
#include "core/fs/FileSystem.h"
#include "engine/entity/EntityTestSupport.h"
#include "engine/script/LuaUnicodeRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "engine/script/MPMethodCall.h"
#include "engine/services/MultiplayerServices.h"
#include "game/Game.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "net/online/GamerProfile.h"
#include "net/online/PCMacProgressAnalyzer.h"
#include "net/online/PCMacProgressData.h"
#include "net/online/ProfileTestSupport.h"  // tests/net/online: the in-process broker

namespace {

std::filesystem::path gDelegateRoot;

// Each run of a main script counts itself; the recorders log "<self's type>:<name>" and
// "<type>=<value>" of every argument ("<type>" alone for user types).
const char* const kMainScript = R"(
mainRuns = (mainRuns or 0) + 1
calls = calls or {}
local function describe(v)
    local t = tolua.type(v)
    if t == 'number' or t == 'string' or t == 'boolean' then return t .. '=' .. tostring(v) end
    return t
end
function Record(class, name, answer)
    class[name] = function(self, ...)
        local line = {describe(self) .. ':' .. name}
        for i = 1, select('#', ...) do line[#line + 1] = describe((select(i, ...))) end
        calls[#calls + 1] = table.concat(line, ' ')
        if name == 'OnChatMessage' then keptChat = select(3, ...) end
        return answer
    end
end
)";

// A profile whose frame hook and pending work the test sets, and which records the
// operations the delegate hands it ("<name>;" each; its queries answer true).
class ScriptedProfile : public GamerProfile {
public:
    ScriptedProfile() : GamerProfile(nullptr) {}
    bool HasPendingWork() const override { return pending; }
    bool OnBigFrameTick() override { return frameAnswer; }
    void ResetData() override {}
    void LoadAllData() override {}
    void SaveConfig() override { Reach("SaveConfig"); }
    void LoadConfig() override { Reach("LoadConfig"); }
    bool IsXBoxLiveEnabled() override { return Reach("IsXBoxLiveEnabled"); }
    bool IsXBoxLiveSignedIn() override { return Reach("IsXBoxLiveSignedIn"); }
    bool IsXBoxLiveAgeRestricted() override { return Reach("IsXBoxLiveAgeRestricted"); }
    void XBoxLiveLogin() override { Reach("XBoxLiveLogin"); }
    bool Reach(const char* operation) {
        reached += std::string(operation) + ";";
        return true;
    }
    bool pending = false;
    bool frameAnswer = true;
    std::string reached;
};

class ScriptedProfileDelegate : public PCMacGameDelegate {
public:
    GamerProfile* CreateProfile() override { return new ScriptedProfile; }
    ScriptedProfile* Profile() { return static_cast<ScriptedProfile*>(GetLoggedInProfile()); }
};

// A store whose item images are one "item.png".
class ImageStoreServices : public MultiplayerServices {
public:
    InGameStore* CreateInGameStore(const char*) override { return reinterpret_cast<InGameStore*>(this); }
    void GetInGameStoreItemImageFiles(InGameStore*, uint32_t, DynarraySafe<NameString>& files) override {
        files.Add(NameString("item.png"));
    }
};

// The delegate of the running test, for the script's ProfileLoggedIn(): whether the
// delegate has a logged-in profile at that moment.
ScriptedProfileDelegate* gDelegateUnderTest = nullptr;

int ProfileLoggedIn(lua_State* L) {
    lua_pushboolean(L, gDelegateUnderTest && gDelegateUnderTest->GetLoggedInProfile());
    return 1;
}

class GameDelegateTest : public EntityTest {
protected:
    static void SetUpTestSuite() {
        gDelegateRoot = std::filesystem::temp_directory_path() / ("game_delegate_" + std::to_string(getpid()));
        std::filesystem::create_directories(gDelegateRoot / "common/scripts");
        std::filesystem::create_directories(gDelegateRoot / "scenes");
        std::ofstream(gDelegateRoot / "scenes/Level1.lua") << "calls[#calls + 1] = 'scene Level1'";
        std::ofstream(gDelegateRoot / "common/scripts/Main.lua") << kMainScript;
        std::ofstream(gDelegateRoot / "common/scripts/DistributionMain.lua") << "distributionRuns = (distributionRuns or 0) + 1";
        ASSERT_TRUE(gFileSystem.MountDirectory("common", (gDelegateRoot / "common").string().c_str()));
        ASSERT_TRUE(gFileSystem.MountDirectory("scenes", (gDelegateRoot / "scenes").string().c_str()));
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(gDelegateRoot); }

    void SetUp() override {
        EntityTest::SetUp();
        ZKRLuaGameDelegate::ResetProcessFlags();
        gLua.Init();
        delegate = std::make_unique<ScriptedProfileDelegate>();
        gDelegateUnderTest = delegate.get();
        lua_register(gLua.GetState(), "ProfileLoggedIn", &ProfileLoggedIn);
        delegate->OnPreInit();
        Lua("calls = {}");
    }
    void TearDown() override {
        gDelegateUnderTest = nullptr;
        delegate.reset();
        EntityTest::TearDown();
        gLua.Close();
    }
    void Lua(const std::string& code) { ASSERT_TRUE(gLua.ExecuteString(code.c_str())) << code; }
    std::string Text(const char* expression) {
        Lua(std::string("result_ = tostring(") + expression + ")");
        lua_State* L = gLua.GetState();
        lua_getglobal(L, "result_");
        std::string value = lua_tostring(L, -1);
        lua_pop(L, 1);
        return value;
    }
    // Whether the game's packages were opened since the last look (the test package's
    // global function comes back).
    bool PackagesOpened() {
        const bool opened = Text("zkr2_sumtest ~= nil") == "true";
        Lua("zkr2_sumtest = nil");
        return opened;
    }
    // The recorded calls since the last look, one per line.
    std::string TakeCalls() {
        const std::string text = Text("table.concat(calls, '\\n')");
        Lua("calls = {}");
        return text;
    }

    std::unique_ptr<ScriptedProfileDelegate> delegate;
};

// Each row: the event, the script class that defines the function (the Game's, or one of
// the delegate's line), and the recorded call after its receiver's type.
TEST_F(GameDelegateTest, EveryForwardedEventReachesItsFunctionWithItsArguments) {
    alignas(16) static char playerBytes[64];
    Player* p = reinterpret_cast<Player*>(playerBytes);
    const std::u16string chat = u"hi";
    using D = PCMacGameDelegate&;
    const char* const zkr = "ZKRGameDelegate";
    const struct {
        std::function<void(D)> call;
        const char* cls;
        const char* expected;
    } cases[] = {
        {[](D d) { d.CanSleep(); }, zkr, "CanSleep"},
        {[](D d) { d.OnAfterInit(); }, "Game", "OnAfterInit"},
        {[](D d) { d.OnQuit(); }, "LuaGameDelegate", "OnQuit"},
        {[](D d) { d.OnAfterClose(); }, "Game", "OnAfterClose"},
        {[](D d) { d.OnSwitchScene("Level1"); }, "Game", "OnSwitchScene string=Level1"},
        {[](D d) { d.OnSwitchSceneAfterNetEntitiesDestroyed(); }, "Game", "OnSwitchSceneAfterNetEntitiesDestroyed"},
        {[](D d) { d.OnDuringSwitchScene(); }, "Game", "OnDuringSwitchScene"},
        {[](D d) { d.OnAfterSwitchScene(); }, "Game", "OnAfterSwitchScene"},
        {[](D d) { d.OnAppActivate(true); }, "Game", "OnAppActivate"},
        {[](D d) { d.OnAppDeactivate(false); }, "Game", "OnAppDeactivate"},
        {[](D d) { d.OnCancelCurrentGame(); }, "GameDelegate", "OnCancelCurrentGame"},
        {[](D d) { d.OnGameCenterMatchingCompleted(true); }, zkr, "OnGameCenterMatchingCompleted boolean=true"},
        {[](D d) { d.OnBigFrameTick(); }, zkr, "OnBigFrameTick"},
        {[](D d) { d.OnTick(); }, "PCMacGameDelegate", "OnTick"},
        {[](D d) { d.OnSmoothTick(); }, zkr, "OnSmoothTick"},
        {[](D d) { d.OnAfterTick(); }, zkr, "OnAfterTick"},
        {[](D d) { d.OnPauseTick(); }, zkr, "OnPauseTick"},
        {[](D d) { d.OnTickInput(); }, zkr, "OnTickInput"},
        {[](D d) { d.OnInputEvent(-3, 4000000000u); }, zkr, "OnInputEvent number=-3 number=4000000000"},
        {[](D d) { d.OnInputConfigChanged(); }, "Game", "OnInputConfigChanged"},
        {[](D d) { d.OnScreenResolutionChanged(); }, "Game", "OnScreenResolutionChanged"},
        {[](D d) { d.OnXBoxLiveLoginFinished(); }, "Game", "OnXBoxLiveLoginFinished"},
        {[&](D d) { d.OnChatMessage(true, -2, chat.c_str()); }, zkr,
         "OnChatMessage boolean=true number=-2 LuaUnicodeString"},
        {[](D d) { d.OnLobbyUpdated(); }, zkr, "OnLobbyUpdated"},
        {[](D d) { d.OnLobbyJoinRequested(); }, zkr, "OnLobbyJoinRequested"},
        {[](D d) { d.OnLobbyGameStartRequest(7, false, true); }, zkr,
         "OnLobbyGameStartRequest number=7 boolean=false boolean=true"},
        {[](D d) { d.OnLobbyError(-5); }, zkr, "OnLobbyError number=-5"},
        {[](D d) { d.OnDistributionClose(); }, "Game", "OnClose"},
        {[](D d) { d.OnGameHosted(1); }, zkr, "OnGameHosted number=1"},
        {[](D d) { d.OnGameJoined(-1); }, zkr, "OnGameJoined number=-1"},
        {[](D d) { d.OnGameDisconnected(3); }, zkr, "OnGameDisconnected number=3"},
        {[](D d) { d.OnPlayerConnecting(); }, zkr, "OnPlayerConnecting"},
        {[=](D d) { d.OnPlayerConnected(p); }, zkr, "OnPlayerConnected Player"},
        {[=](D d) { d.OnPlayerReady(p); }, zkr, "OnPlayerReady Player"},
        {[=](D d) { d.OnPlayerDisconnected(p, 9); }, zkr, "OnPlayerDisconnected Player number=9"},
        {[=](D d) { d.OnPlayerConnectionStall(p); }, zkr, "OnPlayerConnectionStall Player"},
        {[=](D d) { d.OnPlayerConnectionResume(p); }, zkr, "OnPlayerConnectionResume Player"},
    };
    for (const auto& c : cases) {
        const std::string expected = c.expected;
        const std::string name = expected.substr(0, expected.find(' '));
        Lua(std::string("Record(") + c.cls + ", '" + name + "')");
        c.call(*delegate);
        EXPECT_EQ(TakeCalls(), (std::string(c.cls) == "Game" ? "Game:" : "PCMacGameDelegate:") + expected);
        Lua(std::string(c.cls) + "." + name + " = nil");
    }
}

TEST_F(GameDelegateTest, AnswersWhenTheCallDoesNotRunAndTheScriptsOwn) {
    EXPECT_TRUE(delegate->CanSleep());
    EXPECT_FALSE(delegate->OnPlayerConnecting());
    EXPECT_TRUE(delegate->OnBigFrameTick());
    Lua("Record(ZKRGameDelegate, 'CanSleep', false) Record(ZKRGameDelegate, 'OnPlayerConnecting', true)"
        "Record(ZKRGameDelegate, 'OnBigFrameTick', false)");
    EXPECT_FALSE(delegate->CanSleep());
    EXPECT_TRUE(delegate->OnPlayerConnecting());
    EXPECT_TRUE(delegate->OnBigFrameTick());  // no profile: the script's false is not heard
    // With a profile its own answer counts, whatever the script says.
    delegate->LogInDefaultUser();
    ASSERT_NE(delegate->Profile(), nullptr);
    delegate->Profile()->frameAnswer = false;
    EXPECT_FALSE(delegate->OnBigFrameTick());
    Lua("Record(ZKRGameDelegate, 'OnBigFrameTick', true)");
    EXPECT_FALSE(delegate->OnBigFrameTick());
    EXPECT_TRUE(delegate->CanClose());
    delegate->Profile()->pending = true;
    EXPECT_FALSE(delegate->CanClose());
}

TEST_F(GameDelegateTest, StartUpRegistersOnceAndRunsTheMainScriptEachTime) {
    EXPECT_TRUE(PackagesOpened());
    EXPECT_TRUE(ZKRLuaGameDelegate::IsPreInitDone());
    EXPECT_EQ(Text("tolua.type(gGameDelegate)"), "PCMacGameDelegate");
    delegate->OnPreInit();
    EXPECT_FALSE(PackagesOpened());
    EXPECT_EQ(Text("mainRuns"), "2");
    delegate->ResetBindingsRegistration();
    delegate->OnPreInit();
    EXPECT_TRUE(PackagesOpened());
    EXPECT_EQ(Text("mainRuns"), "3");
    // The distribution start registers again after a reset, then runs its script and the
    // Game's init.
    Lua("Record(Game, 'OnInit')");
    delegate->OnDistributionInit(0);
    EXPECT_FALSE(PackagesOpened());
    delegate->ResetBindingsRegistration();
    delegate->OnDistributionInit(0);
    EXPECT_TRUE(PackagesOpened());
    EXPECT_EQ(Text("distributionRuns"), "2");
    EXPECT_EQ(TakeCalls(), "Game:OnInit\nGame:OnInit");
    // The ordinary init: the profile logs in first, the base makes nothing, then the Game;
    // the close runs the Game's while the profile is still there.
    Lua("for _, name in ipairs({'OnInit', 'OnClose'}) do Game[name] = function()"
        " calls[#calls + 1] = 'Game:' .. name .. ' profile=' .. tostring(ProfileLoggedIn()) end end");
    // The analyzer scripts copy starts its analyses over the delegate's leaderboards from
    // the init to the close (an analysis that starts sizes the data's areas).
    const auto copyAnalyzes = [] {
        PCMacProgressAnalyzer copy = gPCMacProgressAnalyzer;
        PCMacProgressData data;
        copy.StartAnalyze("M01", &data, 1);
        return data.GetAreasNumber() == 1;
    };
    EXPECT_FALSE(copyAnalyzes());
    delegate->OnInit();
    EXPECT_NE(delegate->GetLoggedInProfile(), nullptr);
    EXPECT_EQ(TakeCalls(), "Game:OnInit profile=true");
    EXPECT_TRUE(copyAnalyzes());
    delegate->OnClose();
    EXPECT_EQ(delegate->GetLoggedInProfile(), nullptr);
    EXPECT_EQ(TakeCalls(), "Game:OnClose profile=true");
    EXPECT_FALSE(copyAnalyzes());
}

// The desktop delegate's own forwards: each reaches its operation of the profile (and
// a query answers the profile's answer), and without a profile the queries answer false.
TEST_F(GameDelegateTest, DesktopForwardsReachTheProfilesOperations) {
    using D = PCMacGameDelegate&;
    const struct {
        const char* operation;
        bool query;
        std::function<bool(D)> call;
    } cases[] = {
        {"IsXBoxLiveEnabled", true, [](D d) { return d.IsXBoxLiveEnabled(); }},
        {"IsXBoxLiveSignedIn", true, [](D d) { return d.IsXBoxLiveSignedIn(); }},
        {"IsXBoxLiveAgeRestricted", true, [](D d) { return d.IsXBoxLiveAgeRestricted(); }},
        {"XBoxLiveLogin", false, [](D d) { return d.XBoxLiveLogin(), true; }},
        {"SaveConfig", false, [](D d) { return d.SaveConfig(), true; }},
        {"LoadConfig", false, [](D d) { return d.LoadConfig(), true; }},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(*delegate), !c.query) << c.operation << " without a profile";
    delegate->LogInDefaultUser();
    ASSERT_NE(delegate->Profile(), nullptr);
    for (const auto& c : cases) {
        delegate->Profile()->reached.clear();
        EXPECT_TRUE(c.call(*delegate)) << c.operation;
        EXPECT_EQ(delegate->Profile()->reached, std::string(c.operation) + ";");
    }
}

// The delegate's work with entities and scenes: an entity's init passes run its script's
// OnInit, and the current scene's local script runs.
TEST_F(GameDelegateTest, EntityInitAndTheSceneScriptRunThroughTheDelegate) {
    Template()->initPassCount = 2;
    Entity* entity = Make();
    ASSERT_NE(entity, nullptr);
    const std::string cls = entity->GetScriptClassName();
    Lua("Record(" + cls + ", 'OnInit')");
    gEntityManager->SetSceneFileName("Level1");
    const struct {
        const char* what;
        std::function<void()> call;
        std::string expected;
    } cases[] = {
        {"InitEntity", [&] { delegate->InitEntity(entity); }, cls + ":OnInit number=0\n" + cls + ":OnInit number=1"},
        {"RunSceneLocalLuaFiles", [&] { delegate->RunSceneLocalLuaFiles(); }, "scene Level1"},
    };
    for (const auto& c : cases) {
        TakeCalls();
        c.call();
        EXPECT_EQ(TakeCalls(), c.expected) << c.what;
    }
}

// A start-up before the script host has a state registers nothing, so the next one with
// a state still opens the packages.
TEST_F(GameDelegateTest, BindingsCountAsRegisteredOnlyWhenAStateTookThem) {
    delegate->ResetBindingsRegistration();
    gLua.Close();
    delegate->OnPreInit();
    EXPECT_FALSE(ZKRLuaGameDelegate::AreBindingsRegistered());
    gLua.Init();
    delegate->OnPreInit();
    EXPECT_TRUE(ZKRLuaGameDelegate::AreBindingsRegistered());
    EXPECT_TRUE(PackagesOpened());
}

TEST_F(GameDelegateTest, StoreRequestFiveListsTheSaveImagesBeforeTheStoresOwn) {
    ImageStoreServices store;
    SetMultiplayerServices(&store);
    char definitions[] = "store.xml";
    char* previous = gProjectConfig->storeDefinitionFile;
    gProjectConfig->storeDefinitionFile = definitions;
    for (uint32_t request : {4u, 5u}) {
        DynarraySafe<NameString> files;
        delegate->HandleStoreRequest(request, files);
        std::string names;
        for (const NameString& f : files) names += std::string(f.CStr()) + ";";
        EXPECT_EQ(names, request == 5 ? "PS3/SaveInfo_ICON0.PNG;PS3/SaveInfo_PIC1.PNG;item.png;" : "item.png;");
    }
    gProjectConfig->storeDefinitionFile = previous;
    SetMultiplayerServices(nullptr);
}

TEST_F(GameDelegateTest, ChatTextKeptByTheScriptOutlivesTheCallUntilCollected) {
    Lua("Record(ZKRGameDelegate, 'OnChatMessage')");
    Lua("collectgarbage('collect')");
    const uint32_t before = LuaUnicodeBufferRegistrySize();
    {
        std::u16string text = u"hello";
        delegate->OnChatMessage(false, 1, text.c_str());
        text.assign(u"XXXXX");
    }
    Lua("collectgarbage('collect')");
    EXPECT_EQ(Text("keptChat:GetLength()"), "5");
    EXPECT_EQ(LuaUnicodeBufferRegistrySize(), before + 1);
    Lua("keptChat = nil collectgarbage('collect')");
    EXPECT_EQ(LuaUnicodeBufferRegistrySize(), before);
}

TEST_F(GameDelegateTest, EntityEventsReachTheBridgeTheEntityAndItsScripts) {
    SetGameServices(&GetRunningGameServices());
    Entity* entity = Make();
    ASSERT_NE(entity, nullptr);
    const std::string cls = entity->GetScriptClassName();
    Lua("Record(" + cls + ", 'OnPropertiesReplicated') Record(" + cls + ", 'OnTornOff') Record(" + cls + ", 'F')");
    delegate->OnReplicatedProperty(entity);
    delegate->OnTornOff(entity);
    entity->ExecuteScript("F");
    EXPECT_EQ(TakeCalls(), cls + ":OnPropertiesReplicated\n" + cls + ":OnTornOff\n" + cls + ":F");
    // A received call of a method nothing decorated is refused by the bridge.
    MPMethodCall call{};
    call.methodId = 77;
    log.Clear();
    delegate->OnReplicatedMethodCall(nullptr, &call);
    bool refused = false;
    for (const auto& m : log.Messages()) refused = refused || m.text.find("with id 77") != std::string::npos;
    EXPECT_TRUE(refused);
}

// The rotating shield's searches from a tower that is nil or already destroyed: no
// search, the answer of one without targets, one warning per function however often.
TEST_F(GameDelegateTest, ShieldSearchesFromADeadTowerAnswerAsWithoutTargets) {
    Entity* tower = Make();
    ASSERT_NE(tower, nullptr);
    gLua.PushObject(tower);
    lua_setglobal(gLua.GetState(), "deadTower");
    gEntityManager->DestroyEntity(tower);
    const struct {
        const char* expression;
        const char* expected;
    } cases[] = {
        {"zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(deadTower, {}, 33, {1}, 360)", "33"},
        {"zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(nil, {}, 42, {1}, 360)", "42"},
        {"type(zkr2_towerRotoShield_ComputeAttackAngles(deadTower, {}))", "table"},
        {"next(zkr2_towerRotoShield_ComputeAttackAngles(nil, {}))", "nil"},
    };
    log.Clear();
    for (int round = 0; round < 2; ++round)
        for (const auto& c : cases) EXPECT_EQ(Text(c.expression), c.expected) << c.expression;
    for (const char* name : {"zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget",
                             "zkr2_towerRotoShield_ComputeAttackAngles"}) {
        int warnings = 0;
        for (const auto& m : log.Messages())
            warnings += m.text.find(std::string(name) + " - called without a live object") != std::string::npos;
        EXPECT_EQ(warnings, 1) << name;
    }
}

// A score upload in flight holds the close back until the services answer it.
class GameDelegateUploadTest : public profiletest::BrokerTest {};

TEST_F(GameDelegateUploadTest, CanCloseWaitsForAPendingUpload) {
    Control("seed", "user 1 Me\nleaderboard M01 descending\n");
    std::unique_ptr<online::OnlineContext> services = Client(1, "Me");
    ASSERT_TRUE(services);
    PCMacGameDelegate delegate(services.get());
    delegate.GameDelegateProfilesModuleSteam::OnInit();
    ASSERT_NE(delegate.GetLoggedInProfile(), nullptr);
    EXPECT_TRUE(delegate.GetLeaderboardsManager().UpdateLeaderboard("M01", 10, true));
    EXPECT_FALSE(delegate.CanClose());
    EXPECT_TRUE(onlinetest::PumpUntil({services.get()}, [&] { return delegate.CanClose(); }));
}

}  // namespace
