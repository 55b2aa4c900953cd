// test-depends: shader_data
// A failure that ends a run on the desktop: the game console shows it and the run holds,
// drawing frames but no longer ticking the Game (its scripts are not run again), until a
// key, a click or the window's close ends it with the failure's status; a button's
// release alone does not; the console's newest lines are the failure's headline, its detail
// and how to end the run. Headless the Game quits at once. Run over the headless window on
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
#include "ui/elements/UIText.h"
#include "ui/widgets/UIGameConsoleScreen.h"

struct GameEntityListsTestAccess {
    static const UIGameConsoleScreen* Console(const Game& game) { return game.console; }
};

namespace {

// The console's line i (0: the newest) as the render thread holds it.
std::string ShownLine(uint32_t i) {
    const UIGameConsoleScreen* console = GameEntityListsTestAccess::Console(*gGame);
    if (!console || !console->Line(i)) return "(no line)";
    std::string out;
    for (const char16_t* text = console->Line(i)->Text(); text && *text; ++text) out += char(*text);
    return out;
}

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
        // The texts the render thread draws, once it has taken the frames' work.
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(ShownLine(2), "The game's scripts failed at start-up");
        EXPECT_EQ(ShownLine(1), "Main.lua:3: boom");
        EXPECT_EQ(ShownLine(0), "Press a key, click or close the window to end the program.");
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

// Before the Game exists (a failure of the program's own start) the failure is said and
// sets the status; there is nothing to quit or to hold.
TEST(FailureHold, BeforeThereIsAGameTheFailureIsSaidAndSetsTheStatus) {
    CaptureLogSink log;
    log.Attach();
    app::ResetMainWindowState();
    app::gMainWindow.presentIntoWindow = true;
    Game* const game = gGame;
    gGame = nullptr;
    app::EndRunWithFailure(app::kExitStartFailed, "The program cannot start", "no window");
    gGame = game;
    EXPECT_TRUE(log.Contains("The program cannot start: no window"));
    EXPECT_EQ(app::gMainWindow.exitCode, app::kExitStartFailed);
    EXPECT_FALSE(app::gMainWindow.holding);
    app::ResetMainWindowState();
}

}  // namespace
