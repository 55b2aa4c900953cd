// test-sanitize: address
// The Game over its life: every running game step ticks the scripts of the entities on
// its tick list once, and the hardware cursor that the Game hid when it started is shown
// again when it closes.
#include <gtest/gtest.h>
#include <lua.hpp>

#include <map>
#include <string>

#include "CaptureLogSink.h"
#include "NoMultiplayerEngine.h"
#include "core/Time.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/entity/EntityTestSupport.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "platform/os/Clock.h"
#include "platform/window/Window.h"

namespace {

constexpr int64_t kSecond = os::kCounterFrequency;

std::map<std::string, int> gTicks;  // script ticks by entity name

// Ticked(entity) from the scripts.
int LuaTicked(lua_State* L) {
    auto* e = static_cast<Entity*>(*static_cast<void**>(lua_touserdata(L, 1)));
    ++gTicks[e->GetName()];
    return 0;
}

struct StepDelegate : GameDelegate {
    int steps = 0;
    void OnTick() override { ++steps; }
};

class GameStepTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        Time::InitTimer(0, kSecond);
        clock.Install();
        gLua.Init();
        gLua.RegisterClass("Ticker", "");
        gTicks.clear();
        lua_register(gLua.GetState(), "Ticked", &LuaTicked);
        ASSERT_TRUE(gLua.ExecuteString("function Ticker:OnTick() Ticked(self) end\n"));
        ticker = Template(0, "Ticker");
        RTTIValueStore<char*>::Assign(ticker->luaClass, const_cast<char*>("Ticker"));
        saved = gGame;
        gGame = game = new Game();
        game->Init(0, 1280, 720, &delegate, nullptr, 0);
    }
    void TearDown() override {
        game->Close();
        delete game;
        gGame = saved;
        gLua.Close();
        clock.Uninstall(), Time::InitTimer();
        EntityTest::TearDown();
    }
    static int Ticks(const char* name) { return gTicks[name]; }

    os::ManualClock clock{1'000'000'000};
    StepDelegate delegate;
    EntityTemplate* ticker = nullptr;
    Game* game = nullptr;
    Game* saved = nullptr;
};

// Entities listed before the game runs and while it runs: each ticks with every game
// step from the step after it was listed, one taken off the list stops.
TEST_F(GameStepTest, ListedEntitiesTickOncePerGameStep) {
    Entity* first = Make(nullptr, 0, ticker);
    first->SetName("first");
    Entity* later = Make(nullptr, 0, ticker);
    later->SetName("later");
    game->AddTickEntity(first);
    const auto run = [&](int frames) {
        for (int i = 0; i < frames; ++i) {
            clock.Advance(kSecond / 60);
            game->Tick(true);
        }
    };
    run(60);
    const int stepsBefore = delegate.steps;
    ASSERT_GT(stepsBefore, 5);
    EXPECT_EQ(Ticks("first"), stepsBefore);
    game->AddTickEntity(later);
    run(60);
    EXPECT_EQ(Ticks("first"), delegate.steps);
    EXPECT_EQ(Ticks("later"), delegate.steps - stepsBefore);
    game->RemoveTickEntity(first);
    const int firstTicks = Ticks("first");
    run(30);
    EXPECT_EQ(Ticks("first"), firstTicks);
    EXPECT_EQ(Ticks("later"), delegate.steps - stepsBefore);
}

// The display counter of the hardware cursor: the Game hides it at start-up (-1) and
// shows it again when it closes (0), once, whatever the game did with it meanwhile.
TEST(GameCursor, TheCursorHiddenAtStartIsShownAgainAtClose) {
    struct Row {
        const char* name;
        void (*meanwhile)(Game& game);
    };
    const Row rows[] = {
        {"untouched", [](Game&) {}},
        {"shown by the game", [](Game& g) { g.EnableHardwareCursor(true, false); }},
        {"shown and hidden again", [](Game& g) { g.EnableHardwareCursor(true, false), g.EnableHardwareCursor(false, false); }},
    };
    for (const Row& row : rows) {
        CaptureLogSink log;
        log.Attach();
        wnd::ResetWindowLayer();
        const wnd::WindowHandle window = wnd::CreateWindow({"CursorTest", "", wnd::kStylePopup, 0, 40, 30, 400, 200});
        Game* saved = gGame;
        Game game;
        gGame = &game;
        for (int run = 0; run < 2; ++run) {  // a Game may start and close again
            game.Init(window, 400, 200, nullptr, nullptr, 0);
            EXPECT_EQ(wnd::GetCursorDisplayCounter(), -1) << row.name << ", run " << run;
            row.meanwhile(game);
            game.Close();
            EXPECT_EQ(wnd::GetCursorDisplayCounter(), 0) << row.name << ", run " << run;
        }
        gGame = saved;
        EXPECT_FALSE(log.Contains("Hardware cursor counter invalid")) << row.name;
        wnd::ResetWindowLayer();
    }
}

}  // namespace
