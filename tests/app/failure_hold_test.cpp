// test-depends: shader_data
// A failure that ends a run on the desktop: the game console shows it and the run holds,
// drawing frames but no longer ticking the Game (its scripts are not run again), until a
// key, a click or the window's close ends it with the failure's status; a button's
// release alone does not. Headless the Game quits at once. Run over the headless window on
// an engine over generated data, the desktop being the main window's presentation flag.
#include <gtest/gtest.h>

#include <string>

#include "../engine/EngineDataSet.h"
#include "CaptureLogSink.h"
#include "app/CommandLine.h"
#include "app/Failure.h"
#include "app/MainWindow.h"
#include "engine/VornexEngine.h"
#include "engine/delegate/GameDelegate.h"
#include "game/Game.h"
#include "render/VornexRenderer.h"

namespace {

using K = wnd::EventKind;

TEST(FailureHold, TheDesktopShowsTheFailureUntilAKeyAClickOrTheClose) {
    enginetest::EngineDataSet set;
    set.WriteProjectConfig();
    CaptureLogSink log;
    log.Attach();
    GameDelegate delegate;
    // What ends the held run (none: headless, it ends at once).
    const struct {
        const char* what;
        bool desktop;
        K ender;
    } kCases[] = {
        {"headless", false, K::Count},
        {"a key", true, K::KeyDown},
        {"a click", true, K::ButtonDown},
        {"the window's close", true, K::Destroy},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        wnd::ResetWindowLayer();
        app::ResetMainWindowState();
        ASSERT_TRUE(app::CreateMainWindow(wnd::kShowNormal, "Hold Test"));
        app::StartGame(&delegate, nullptr, 0);
        ASSERT_TRUE(app::RunMainLoopPass());
        app::gMainWindow.presentIntoWindow = c.desktop;
        log.Clear();
        app::EndRunWithFailure(app::kExitStartFailed, "The game's scripts failed at start-up", "Main.lua:3: boom");
        EXPECT_TRUE(log.Contains("The game's scripts failed at start-up: Main.lua:3: boom"));
        if (!c.desktop) {
            EXPECT_FALSE(app::RunMainLoopPass()) << "headless, the run ends at once";
            EXPECT_EQ(app::gMainWindow.exitCode, app::kExitStartFailed);
            continue;
        }
        EXPECT_TRUE(gGame->IsGameConsoleActive());
        const uint32_t ticks = gGame->GetTickedFrameCount(), frames = gVornexRenderer.PostedFrames();
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(app::RunMainLoopPass());
        EXPECT_EQ(gGame->GetTickedFrameCount(), ticks) << "the Game is not ticked while the failure shows";
        EXPECT_GT(gVornexRenderer.PostedFrames(), frames) << "the console is drawn";
        // A release alone (of a press before the failure) does not end it.
        wnd::Event release;
        release.kind = K::ButtonUp, release.window = app::gMainWindow.window;
        ASSERT_TRUE(wnd::PostEvent(release));
        ASSERT_TRUE(app::RunMainLoopPass());
        wnd::Event ender;
        ender.kind = c.ender, ender.window = app::gMainWindow.window, ender.code = 'X';
        if (c.ender == K::Destroy) wnd::DestroyWindow(app::gMainWindow.window);
        else ASSERT_TRUE(wnd::PostEvent(ender));
        bool running = true;
        for (int i = 0; i < 3 && running; ++i) running = app::RunMainLoopPass();
        EXPECT_FALSE(running);
        EXPECT_EQ(app::gMainWindow.exitCode, app::kExitStartFailed);
    }
    gVornexEngine.SetConfiguration(nullptr);
    app::ResetMainWindowState();
    wnd::ResetWindowLayer();
}

}  // namespace
