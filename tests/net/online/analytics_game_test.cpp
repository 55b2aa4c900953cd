// test-link: game
// test-sanitize: thread address
// The Game starts the server-request worker and analytics only when its delegate asks for
// them, through the entries the multiplayer layer's start-up table installs, and stops
// both when it closes.
#include <gtest/gtest.h>

#include "core/Time.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "net/MultiplayerEngine.h"
#include "net/online/ServerRequestThread.h"
#include "net/online/VornexAnalytics.h"
#include "platform/os/Clock.h"

namespace {

class AskingDelegate : public GameDelegate {
public:
    explicit AskingDelegate(bool ask) : ask(ask) {}
    bool UseServerRequestThread() override { return ask; }
    bool ask;
};

TEST(AnalyticsGameTest, WorkerRunsFromInitToCloseOnlyWhenTheDelegateAsks) {
    for (const bool ask : {false, true}) {
        SCOPED_TRACE(ask ? "asked" : "not asked");
        os::ManualClock clock{1'000'000'000};
        Time::InitTimer(0, os::kCounterFrequency);
        clock.Install();
        InstallNetServices();
        unsetenv("ANALYTICS_HOST");
        AskingDelegate delegate(ask);
        Game* saved = gGame;
        Game* game = gGame = new Game();
        game->Init(0, 1280, 720, &delegate, nullptr, 0);
        EXPECT_EQ(gServerRequestThread != nullptr, ask);
        EXPECT_EQ(gVornexAnalytics.IsInitialised(), ask);
        if (ask) {
            EXPECT_TRUE(gServerRequestThread->IsRunning());
            // A script's record goes to the worker (no host: it fails there at once) and
            // leaves its slot idle again.
            gVornexAnalytics.Begin("Table");
            gVornexAnalytics.AddInt("v", 1);
            gVornexAnalytics.End(true);
            gServerRequestThread->Flush();
            ASSERT_EQ(gVornexAnalytics.SlotCount(), 8u);
            EXPECT_EQ(gVornexAnalytics.SlotAt(0)->request->done.load(), 1);
            EXPECT_EQ(gVornexAnalytics.SlotAt(0)->request->result, 1);
        }
        game->Close();
        EXPECT_EQ(gServerRequestThread, nullptr);
        EXPECT_FALSE(gVornexAnalytics.IsInitialised());
        delete game;
        gGame = saved;
        clock.Uninstall();
        Time::InitTimer();
        ClearNetServices();
    }
}

}  // namespace
