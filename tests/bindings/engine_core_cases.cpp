// test-sanitize: address
// The engine-core package against a running Game: time arithmetic in ticks, the rows
// that do nothing, the pause and reset rows reaching their timers, the loading screen's
// one-argument form, the screen aspect, the published globals and the console screen.
#include <gtest/gtest.h>

#include <lua.hpp>
#include <string>
#include <vector>

#include "core/Time.h"
#include "core/config/ProjectConfig.h"
#include "engine/entity/EntityManager.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "game/LUAConfigHelper.h"
#include "platform/input/Input.h"
#include "render/shaders/PostprocessManager.h"
#include "render/shaders/ShaderManager.h"
#include "support/CaptureLogSink.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIText.h"
#include "ui/widgets/UIGameConsoleScreen.h"

struct GameEntityListsTestAccess {
    static UIGameConsoleScreen*& Console(Game& game) { return game.console; }
    static int LoadingSetting(const Game& game) { return game.loadingScreenSetting; }
};

namespace {

constexpr int64_t kTicksPerSecond = 3000000;

class EngineCoreTest : public testing::Test {
protected:
    void SetUp() override {
        sink.Attach();
        savedBase = Time::Base();
        Time::InitTimer(savedBase.start, kTicksPerSecond);
        ASSERT_NE(gGame, nullptr);
        gGame->Init(0, 1280, 720, nullptr, nullptr, 0);
        gLua.Init();
        ASSERT_NE(gLua.GetState(), nullptr);
        gLua.SetGlobalObject(&three, "Time", "three");
    }
    void TearDown() override {
        gLua.Close();
        gGame->Close();
        Time::InitTimer(savedBase.start, savedBase.frequency);
        sink.Detach();
    }
    lua_State* L() const { return gLua.GetState(); }

    // Runs the chunk; its results stay on the stack (count returned), -1 when it failed.
    int Call(const std::string& chunk) {
        const int top = lua_gettop(L());
        if (luaL_loadstring(L(), chunk.c_str()) != 0 || lua_pcall(L(), 0, LUA_MULTRET, 0) != 0) {
            ADD_FAILURE() << chunk << ": " << lua_tostring(L(), -1);
            lua_settop(L(), top);
            return -1;
        }
        return lua_gettop(L()) - top;
    }
    void Run(const std::string& chunk) { lua_pop(L(), std::max(Call(chunk), 0)); }
    // The Time the chunk returns, in ticks.
    int64_t TicksOf(const std::string& chunk) {
        int64_t ticks = -999;
        if (Call(chunk) == 1 && lua_type(L(), -1) == LUA_TUSERDATA)
            ticks = (*static_cast<Time**>(lua_touserdata(L(), -1)))->ticks;
        else
            ADD_FAILURE() << chunk << ": no Time";
        lua_settop(L(), 0);
        return ticks;
    }
    double NumberOf(const std::string& chunk) {
        const double value = Call(chunk) == 1 ? lua_tonumber(L(), -1) : -999.0;
        lua_settop(L(), 0);
        return value;
    }
    bool BooleanOf(const std::string& chunk) {
        const bool value = Call(chunk) == 1 && lua_toboolean(L(), -1);
        lua_settop(L(), 0);
        return value;
    }

    CaptureLogSink sink;
    TimerBase savedBase{};
    Time three{3};
};

TEST_F(EngineCoreTest, TimeArithmeticCountsTicksAtTheCounterFrequency) {
    const struct {
        const char* chunk;
        int64_t ticks;
    } cases[] = {
        {"return Time:Instance()", 0},
        {"return Time:Instance(three)", 3},
        {"local t = Time:Instance() t:Add(0.5) return t", 1500000},
        {"local t = Time:Instance() t:Add(three) t:Add(three) return t", 6},
        {"local t = Time:Instance() t:Add(three, three) return t", 6},
        {"local t = Time:Instance() t:Add(three, 1) return t", 3000003},
        {"local t = Time:Instance() t:Sub(0.5) return t", -1500000},
        {"local t = Time:Instance() t:Sub(three) return t", -3},
        {"local t = Time:Instance() t:Sub(three, three) return t", 0},
        {"local t = Time:Instance() t:Sub(three, 1) return t", 3 - kTicksPerSecond},
        {"local t = Time:Instance() t:Mul(three, 0.5) return t", 1},
        {"local t = Time:Instance(three) t:Mul(0.5) return t", 1},
        {"local t = Time:Instance(three) t:Set(Time.ZERO) return t", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(TicksOf(c.chunk), c.ticks) << c.chunk;
    // Results cross as floats.
    EXPECT_FLOAT_EQ(float(NumberOf("local t = Time:Instance() t:Add(2) return t:ElapsedTime(three)")),
                    float(double(2 * kTicksPerSecond - 3) / kTicksPerSecond));
    EXPECT_EQ(three.ticks, 3);
}

// Without an index the controller functions reach every pad: one pad, in the third slot.
TEST_F(EngineCoreTest, ControllerIndexDefaultsToAnyPad) {
    ASSERT_NE(gProjectConfig, nullptr);
    const bool enabled = gProjectConfig->enableController;
    gProjectConfig->enableController = true;
    hid::ConnectPad(2);
    Run("gGame:EnableControllerInput(true)");  // every pad
    gGame->UpdateInput(true);
    const struct {
        const char* chunk;
        bool present;
    } cases[] = {{"return gGame:IsXControllerPresent()", true},
                 {"return gGame:IsXControllerPresent(CONTROLLERINDEX_ANY)", true},
                 {"return gGame:IsXControllerPresent(2)", true},
                 {"return gGame:IsXControllerPresent(0)", false}};
    for (const auto& c : cases) EXPECT_EQ(BooleanOf(c.chunk), c.present) << c.chunk;
    hid::DisconnectPad(2);
    gProjectConfig->enableController = enabled;
}

TEST_F(EngineCoreTest, RowsWithoutEffectReturnNothingAndLogNothing) {
    const char* const chunks[] = {
        "return gGame:TexMemLog()",        "return gGame:FontMemLog()",          "return gGame:GeoMemLog()",
        "return gGame:SetRenderMode(1)",   "return gLua:ProfilerCommand('x')",   "return gConfigHelper:DumpTraceFile()",
        "return gConfigHelper:XBoxDisplaySigninUI()",
    };
    for (const char* chunk : chunks) {
        const size_t messages = sink.Messages().size();
        const uint32_t errors = LuaWrapper::GetErrorCount();
        EXPECT_EQ(Call(chunk), 0) << chunk;
        EXPECT_EQ(sink.Messages().size(), messages) << chunk;
        EXPECT_EQ(LuaWrapper::GetErrorCount(), errors) << chunk;
        lua_settop(L(), 0);
    }
    EXPECT_EQ(Call("return gConfigHelper:XBoxIsPlayerLoggedIn(0)"), 1);
    EXPECT_EQ(lua_type(L(), -1), LUA_TBOOLEAN);
    EXPECT_FALSE(lua_toboolean(L(), -1));
}

TEST_F(EngineCoreTest, ExecuteFileLooksInTheScriptFolderByDefault) {
    const struct {
        const char* chunk;
        const char* path;
    } cases[] = {{"gLua:ExecuteFile('absent_script')", "common/scripts/absent_script.lua"},
                 {"gLua:ExecuteFile('absent_script', 'levels')", "levels/absent_script.lua"}};
    for (const auto& c : cases) {
        Run(c.chunk);
        EXPECT_TRUE(sink.Contains(std::string("Cannot load script file: ") + c.path)) << c.chunk;
    }
}

TEST_F(EngineCoreTest, PauseRowsReachTheirTimers) {
    GameTimer* timers[] = {&gGame->GetGameTimer(), &gGame->GetGameplayTimer(), &gGame->GetSmoothGameTimer(),
                           &gGame->GetSmoothGameplayTimer()};
    const struct {
        const char* pause;
        const char* resume;
        uint32_t counts[4];  // game, gameplay, smooth game, smooth gameplay
    } cases[] = {
        {"gGame:Pause(true)", "gGame:Pause(false)", {1, 0, 1, 0}},
        {"gGame:Pause2(true)", "gGame:Pause2(false)", {1, 0, 1, 0}},
        {"gGame:PauseGameplay(true)", "gGame:PauseGameplay(false)", {0, 1, 0, 1}},
        {"gGame:PauseGameplay2(true)", "gGame:PauseGameplay2(false)", {0, 1, 0, 1}},
    };
    for (const auto& c : cases) {
        Run(c.pause);
        for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(timers[i]->PauseCount(), c.counts[i]) << c.pause << " timer " << i;
        Run(c.resume);
        for (GameTimer* t : timers) EXPECT_EQ(t->PauseCount(), 0u) << c.resume;
    }
    // Disabled pausing reaches all four; the game is then not paused despite a request.
    Run("gGame:Pause(true) gGame:DisablePause(true)");
    for (GameTimer* t : timers) EXPECT_TRUE(t->IsPauseDisabled());
    EXPECT_FALSE(BooleanOf("return gGame:IsPaused()"));
    Run("gGame:DisablePause(false)");
    EXPECT_TRUE(BooleanOf("return gGame:IsPaused()"));
    Run("gGame:Pause(false)");
}

TEST_F(EngineCoreTest, ResetRowsSetOnlyTheirTimer) {
    GameTimer* timers[] = {&gGame->GetGameTimer(), &gGame->GetGameplayTimer(), &gGame->GetSmoothGameTimer(),
                           &gGame->GetSmoothGameplayTimer()};
    const char* const rows[] = {"ResetGameTime", "ResetGameplayTime", "ResetSmoothGameTime",
                                "ResetSmoothGameplayTime"};
    for (uint32_t row = 0; row < 4; ++row) {
        for (GameTimer* t : timers) t->ResetTime(100);
        Run(std::string("gGame:") + rows[row] + "(three)");
        for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(timers[i]->Time(), i == row ? 3 : 100) << rows[row] << " timer " << i;
    }
}

TEST_F(EngineCoreTest, LoadingScreenFromScriptsIsNotShown) {
    UIScreen* screen = new UIScreen;
    gLua.SetGlobalObject(screen, "UIScreen", "screen");
    gGame->SetLoadingUIScreen(nullptr, false, false, 5);
    Run("gGame:SetLoadingUIScreen(screen)");
    EXPECT_EQ(gGame->GetScreen(GAMESCREEN_LOADING), screen);
    EXPECT_FALSE(gGame->IsLoadingScreenActive());
    EXPECT_EQ(GameEntityListsTestAccess::LoadingSetting(*gGame), 0);
    gGame->SetScreen(GAMESCREEN_LOADING, nullptr);
    screen->Release();
}

TEST_F(EngineCoreTest, ScreenArrivesUnderItsScriptClass) {
    // The engine pushes nothing first: the binding itself must pick the script class.
    gLua.RegisterClass("MenuScreen", "UIScreen");
    Run("function MenuScreen:Kind() return 'menu' end");
    UIScreen* screen = new UIScreen;
    gGame->SetScreen(GAMESCREEN_ACTIVE, screen);
    EXPECT_FALSE(BooleanOf("return gGame:GetActiveUIScreen().Kind ~= nil"));
    screen->SetLuaClass("MenuScreen");
    EXPECT_TRUE(BooleanOf("return gGame:GetActiveUIScreen():Kind() == 'menu'"));
    gGame->SetScreen(GAMESCREEN_ACTIVE, nullptr);
    screen->Release();
}

TEST_F(EngineCoreTest, ScreenAspectIsOneWithoutHeight) {
    const struct {
        uint32_t width, height;
        float aspect;
    } cases[] = {{1280, 720, 1280.0f / 720.0f}, {1280, 0, 1.0f}, {0, 720, 0.0f}, {0, 0, 1.0f}};
    for (const auto& c : cases) {
        gGame->OnResolutionChanged(c.width, c.height, true);
        EXPECT_FLOAT_EQ(float(NumberOf("return gGame:GetScreenAspect()")), c.aspect) << c.width << "x" << c.height;
    }
}

TEST_F(EngineCoreTest, GlobalsAreTheEngineObjects) {
    const struct {
        const char* global;
        const void* object;
    } cases[] = {{"gGame", gGame},
                 {"gEntityManager", gEntityManager},
                 {"gConfigHelper", gConfigHelper},
                 {"gShaderManager", gShaderManager},
                 {"gPostprocessManager", &gPostprocessManager}};
    for (const auto& c : cases) {
        ASSERT_NE(c.object, nullptr) << c.global;
        lua_getglobal(L(), c.global);
        ASSERT_EQ(lua_type(L(), -1), LUA_TUSERDATA) << c.global;
        EXPECT_EQ(*static_cast<void**>(lua_touserdata(L(), -1)), c.object) << c.global;
        lua_pop(L(), 1);
    }
}

TEST_F(EngineCoreTest, ConsoleCallsReachTheConsoleScreen) {
    UIGameConsoleScreen* console = GameEntityListsTestAccess::Console(*gGame);
    ASSERT_NE(console, nullptr);
    const struct {
        const char* chunk;
        bool shown;
    } cases[] = {{"gConsole:Toggle()", true},
                 {"gConsole:Toggle() gConsole:Toggle()", false},
                 {"gConsole:Show() gConsole:Show()", true},
                 {"gConsole:Show() gConsole:Hide()", false}};
    for (const auto& c : cases) {
        console->SetShown(false);
        Run(c.chunk);
        EXPECT_EQ(console->IsShown(), c.shown) << c.chunk;
    }
    console->AddLine("kept", Vector(1, 1, 1, 1));
    Run("gConsole:Cls()");
    for (uint32_t i = 0; i < UIGameConsoleScreen::kOutputLines; ++i) {
        const char16_t* text = console->Line(i)->Text();
        EXPECT_TRUE(!text || !*text) << i;
    }
    // Without a console screen (a build without one) every call does nothing.
    GameEntityListsTestAccess::Console(*gGame) = nullptr;
    EXPECT_TRUE(BooleanOf("gConsole:Toggle() gConsole:Show() gConsole:Hide() gConsole:Cls() return true"));
    GameEntityListsTestAccess::Console(*gGame) = console;
}

TEST_F(EngineCoreTest, BlurRefreshFromScriptsDefaultsToTwoFrames) {
    Run("gPostprocessManager:EnableBlurredImageRefreshing(false) gPostprocessManager:RequestBlurredImageRefresh()");
    EXPECT_TRUE(gPostprocessManager.TakeBlurRefresh());
    EXPECT_TRUE(gPostprocessManager.TakeBlurRefresh());
    EXPECT_FALSE(gPostprocessManager.TakeBlurRefresh());
    gPostprocessManager.EnableBlurredImageRefreshing(true);
}

}  // namespace
