// test-sanitize: address thread
// The Game outside its tick: focus, scene loads, console, mouse and touch routing.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <lua.hpp>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "CaptureLogSink.h"
#include "core/Sync.h"
#include "core/config/GameConfig.h"
#include "engine/EngineServices.h"
#include "engine/VornexEngine.h"
#include "engine/camera/CameraServices.h"
#include "render/RenderHooks.h"
#include "engine/game/Game.h"
#include "engine/game/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "engine/script/LuaWrapper.h"

namespace {

// What the Game did through its delegate and the UI hooks (shared with a releasing thread).
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
    void Add(const std::string& e) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(e);
        changed.notify_all();
    }
    std::string Joined() {
        std::lock_guard<std::mutex> lock(mutex);
        std::string all;
        for (const std::string& e : events) all += (all.empty() ? "" : " ") + e;
        events.clear();
        return all;
    }
    bool WaitFor(const std::string& e) {  // at most 10 s
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10),
                                [&] { return std::find(events.begin(), events.end(), e) != events.end(); });
    }
};
Recorder* gRecorder = nullptr;

class EventDelegate : public GameDelegate {
public:
    bool canDeactivate = true;
    void OnAppActivate(bool suspend) override { gRecorder->Add(suspend ? "resume" : "focus"); }
    void OnAppDeactivate(bool suspend) override { gRecorder->Add(suspend ? "suspend" : "blur"); }
    bool CanDeactivateApp() override { return canDeactivate; }
    bool CanSwitchScene(const char* name) override { return !name || std::string(name).rfind("no", 0) != 0; }
    const char* switchDuringLoad = nullptr;  // requested once by the next load's first event
    void OnSwitchScene(const char*) override {
        gRecorder->Add("switch");
        if (switchDuringLoad) gGame->SwitchScene(std::exchange(switchDuringLoad, nullptr), 0, nullptr);
    }
    void OnSwitchSceneAfterNetEntitiesDestroyed() override { gRecorder->Add("net"); }
    void OnDuringSwitchScene() override { gRecorder->Add("during"); }
    void OnAfterSwitchScene() override { gRecorder->Add("after"); }
    void OnFirstSceneLoaded() override { gRecorder->Add("first"); }
    void OnSceneReady() override { gRecorder->Add("ready"); }
};

// Stand-ins for the UI layer's objects: only their addresses are used.
int gScreenObjects[GAMESCREEN_COUNT];
int gConsoleObject;
UIScreen* Screen(GameScreenSlot slot) { return reinterpret_cast<UIScreen*>(&gScreenObjects[slot]); }
UIGameConsoleScreen* const kConsole = reinterpret_cast<UIGameConsoleScreen*>(&gConsoleObject);
bool gConsoleShown = false;
bool gModalTakes = true;
std::deque<std::string> gEnteredLines;
std::vector<std::string> gConsoleLines;  // "text r g b a"
Vector gScreenCursor;  // the cursor as a screen last got it

std::string SlotName(const UIScreen* screen) {
    for (uint32_t i = 0; i < GAMESCREEN_COUNT; ++i)
        if (screen == Screen(GameScreenSlot(i))) return i == GAMESCREEN_MODAL ? "modal" : i == GAMESCREEN_OVERLAY ? "overlay" : "screen";
    return "?";
}

void ScreenEvent(const char* kind, UIScreen* screen, const Vector& p, uint32_t button) {
    char text[96];
    std::snprintf(text, sizeof text, "%s:%s:%x@%.2f,%.2f", SlotName(screen).c_str(), kind, button, p.x, p.y);
    gRecorder->Add(text);
}

void InstallUIHooks() {
    EngineServices& s = gEngineServices;
    s.consoleScreenCreate = [] { return kConsole; };
    s.consoleScreenIsShown = [](const UIGameConsoleScreen*) { return gConsoleShown; };
    s.consoleScreenOnChar = [](UIGameConsoleScreen*, uint32_t c) { gRecorder->Add("console-char:" + std::to_string(c)); };
    s.consoleScreenOnKeyDown = [](UIGameConsoleScreen*, uint32_t key) {
        return gRecorder->Add("console-key:" + std::to_string(key)), key == 1;  // takes key 1 only
    };
    s.consoleScreenGetEnteredCommand = [](UIGameConsoleScreen*, char* buffer, uint32_t size) {
        if (gEnteredLines.empty()) return false;
        std::snprintf(buffer, size, "%s", gEnteredLines.front().c_str());
        gEnteredLines.pop_front();
        return true;
    };
    s.consoleScreenAddLine = [](UIGameConsoleScreen*, const char* text, const Vector& c) {
        char line[128];
        std::snprintf(line, sizeof line, "%s %g %g %g %g", text, c.x, c.y, c.z, c.w);
        gConsoleLines.push_back(line);
    };
    s.uiScreenIsShown = [](const UIScreen*) { return true; };
    s.uiScreenSetCursorPosition = [](UIScreen*, const Vector& p) { gScreenCursor = p; };
    s.uiScreenPrepareLoading = [](UIScreen* screen) { gRecorder->Add("prepare:" + SlotName(screen)); };
    // The modal screen takes presses and releases only while gModalTakes is set.
    s.uiScreenOnMouseButtonDown = [](UIScreen* screen, const Vector& p, uint32_t b) {
        return ScreenEvent("down", screen, p, b), screen != Screen(GAMESCREEN_MODAL) || gModalTakes;
    };
    s.uiScreenOnMouseButtonUp = [](UIScreen* screen, const Vector& p, uint32_t b) {
        return ScreenEvent("up", screen, p, b), screen != Screen(GAMESCREEN_MODAL) || gModalTakes;
    };
    s.uiScreenOnMouseMove = [](UIScreen* screen, const Vector& p, uint32_t b) { return ScreenEvent("move", screen, p, b), true; };
    s.uiScreenOnChar = [](UIScreen* screen, uint32_t c) { gRecorder->Add(SlotName(screen) + "-char:" + std::to_string(c)); };
    s.uiScreenHasFadeFlag = [](const UIScreen*) { return true; };
    s.uiScreenFadeOut = [](UIScreen*) { gRecorder->Add("fade"); };
}

class GameTest : public testing::Test {
protected:
    void SetUp() override {
        gRecorder = &recorder;
        gConsoleShown = false, gModalTakes = true;
        gEnteredLines.clear(), gConsoleLines.clear();
        InstallUIHooks();
        saved = gGame;
        gGame = game = new Game();
        game->Init(0, 1280, 720, &delegate, nullptr, 0);
        recorder.events.clear();
    }
    void TearDown() override {
        game->Close();
        delete game;
        gGame = saved;
        gEngineServices = EngineServices{};
        gRecorder = nullptr;
    }
    Recorder recorder;
    EventDelegate delegate;
    Game* game = nullptr;
    Game* saved = nullptr;
};

// While the Game runs the layers below reach it through their hooks; Close takes them away.
TEST_F(GameTest, HooksReachTheRunningGame) {
    game->GetSmoothGameTimer().ResetTime(1234), game->GetSmoothGameplayTimer().ResetTime(4321);
    game->GetGameplayTimer().ResetTime(77), game->GetGameTimer().ResetTime(55);
    EXPECT_EQ(GetCameraServices().SmoothGameTime(), 1234);
    EXPECT_EQ(gEngineServices.gameSmoothGameplayTime(), 4321);
    game->GetGameplayTimer().Pause(true);
    EXPECT_TRUE(gEngineServices.gameGameplayPaused());
    game->GetGameplayTimer().Pause(false);
    int64_t now = -1;  // the game's selections are checked through the scripts' calls
    EXPECT_EQ(gEngineServices.scriptScheduler(8, &now), gVornexEngine.Scheduler());
    EXPECT_EQ(now, gVornexEngine.Timer().Time());
    EXPECT_TRUE(gRenderHooks.GameControllersRelease && gEngineServices.gameAddDelayedEntity);
    bool fullScreen = false;  // a full-screen request is taken once
    game->RequestFullScreen(true);
    EXPECT_TRUE(game->TakeFullScreenRequest(&fullScreen) && fullScreen);
    EXPECT_FALSE(game->TakeFullScreenRequest(&fullScreen));
    gEngineServices.soundStopSound = [](int32_t instance, float fade, uint32_t) {
        gRecorder->Add("stop " + std::to_string(instance) + " " + std::to_string(fade));
    };
    game->Close();
    EXPECT_EQ(recorder.Joined(), "stop -1 0.800000");  // every sound fades out
    EXPECT_EQ(GetCameraServices().SmoothGameTime(), 0);
    EXPECT_FALSE(gEngineServices.scriptScheduler || gRenderHooks.GameControllersRelease ||
                 gEngineServices.gameAddDelayedEntity || gEngineServices.gameSmoothFrameDelta ||
                 gEngineServices.gameSmoothGameplayTime || gEngineServices.gameGameplayPaused);
    gEngineServices.createInGameStore = [](const char*) { return gRecorder->Add("store"), (InGameStore*)nullptr; };
    game->Init(0, 1280, 720, &delegate, nullptr, 0);
    EXPECT_EQ(recorder.Joined(), "");  // no store definitions: no store
}

// Focus loss/regain (D/A), suspend/resume (S/R) run once each; eviction on the first, reload on the last.
TEST_F(GameTest, FocusAndSuspendInterleavings) {
    const struct {
        const char* ops;
        bool evict, canDeactivate;
        const char* events;
        const char* evicted;  // after each op
    } cases[] = {
        {"DDAA", false, true, "blur focus", "0000"},
        {"DDAA", true, true, "blur focus", "1100"},
        {"DA", true, false, "blur focus", "00"},
        {"DSAR", true, true, "blur suspend focus resume", "1110"},
        {"SDRA", true, true, "suspend blur resume focus", "1110"},
        {"SSRR", true, true, "suspend resume", "1100"},
        {"ADRS", true, true, "blur suspend", "0111"},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        game->SetEvictOnDeactivation(c.evict);
        delegate.canDeactivate = c.canDeactivate;
        std::string evicted;
        for (const char* op = c.ops; *op; ++op) {
            if (*op == 'D') game->Deactivate(false);
            if (*op == 'S') game->Deactivate(true);
            if (*op == 'A') game->Activate(false);
            if (*op == 'R') game->Activate(true);
            evicted += game->AreResourcesEvicted() ? '1' : '0';
        }
        EXPECT_EQ(recorder.Joined(), c.events) << c.ops;
        EXPECT_EQ(evicted, c.evicted) << c.ops << (c.evict ? " evicting" : "");
    }
}

// The loading screen closes last (semaphore signalled or none), else first, or after the wait (bit 2).
TEST_F(GameTest, SceneLoadOrderWithItsSemaphore) {
    enum Release { NONE, SIGNALLED, AFTER_FADE, LATER };
    const struct {
        uint32_t flags;
        Release release;
        const char* events;
        bool loadingScreenUp, templatesUnloaded;
    } cases[] = {
        {0, NONE, "switch net during after fade first ready", false, true},
        {SWITCHSCENE_KEEP_TEMPLATES, NONE, "switch net during after fade first ready", false, false},
        {SWITCHSCENE_KEEP_LOADING_SCREEN, NONE, "switch net during after first ready", true, true},
        {0, SIGNALLED, "switch net during after fade first ready", false, true},
        {0, AFTER_FADE, "switch net during after fade released first ready", false, true},
        {SWITCHSCENE_WAIT_SEMAPHORE, LATER, "switch net during after released fade first ready", false, true},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        CaptureLogSink log;
        log.Attach();
        game->SetScreen(GAMESCREEN_LOADING, Screen(GAMESCREEN_LOADING));
        Semaphore semaphore(c.release == SIGNALLED ? 1 : 0);
        std::thread releaser;
        if (c.release == AFTER_FADE || c.release == LATER)
            releaser = std::thread([&] {
                EXPECT_TRUE(recorder.WaitFor(c.release == AFTER_FADE ? "fade" : "after"));
                recorder.Add("released");
                semaphore.Release();
            });
        game->SwitchScene("", c.flags, c.release == NONE ? nullptr : &semaphore);
        game->LoadPendingScene();
        if (releaser.joinable()) releaser.join();
        EXPECT_EQ(recorder.Joined(), c.events) << c.flags << " " << c.release;
        EXPECT_EQ(game->IsLoadingScreenActive(), c.loadingScreenUp);
        EXPECT_FALSE(game->IsSwitchPending() || game->GetSwitchFlags());
        EXPECT_EQ(log.Contains("Unused templates unloaded"), c.templatesUnloaded) << c.flags;
        log.Detach();
        game->TurnLoadingScreenOff();
    }
}

// A refused request leaves nothing pending, also when an accepted one came before it.
TEST_F(GameTest, RefusedSwitchLeavesNothingPending) {
    Semaphore semaphore(0);
    const struct {
        std::vector<const char*> requests;
        bool pending;
        const char* last;
    } cases[] = {
        {{"a"}, true, "a"},
        {{"no"}, false, ""},
        {{"a", "no"}, false, ""},
        {{"no", "b"}, true, "b"},
        {{"a", ""}, true, ""},
    };
    for (const auto& c : cases) {
        for (const char* name : c.requests) game->SwitchScene(name, SWITCHSCENE_WAIT_SEMAPHORE, &semaphore);
        EXPECT_EQ(game->IsSwitchPending(), c.pending) << c.requests.back();
        EXPECT_EQ(game->GetSwitchFlags(), c.pending ? SWITCHSCENE_WAIT_SEMAPHORE : 0u);
        EXPECT_TRUE(game->IsLastSwitchedSceneEqual(c.last)) << c.requests.back();
        if (!c.pending) {
            game->LoadPendingScene();
            EXPECT_EQ(recorder.Joined(), "");  // nothing was loaded
        }
        game->SwitchScene("", 0, nullptr);  // a request without a semaphore clears the case
        game->LoadPendingScene();
        recorder.Joined();
    }
}

// A switch requested during a load stays pending; the running load keeps its own request.
TEST_F(GameTest, SwitchRequestedDuringTheLoadStaysPending) {
    game->SetLoadingUIScreen(nullptr, false, false, 0);
    game->SetLoadingUIScreen(Screen(GAMESCREEN_LOADING), false, false, 0);
    delegate.switchDuringLoad = "second";
    game->SwitchScene("first", SWITCHSCENE_KEEP_LOADING_SCREEN, nullptr);
    game->LoadPendingScene();
    EXPECT_EQ(recorder.Joined(), "prepare:screen switch net during after first ready");
    EXPECT_TRUE(game->IsLoadingScreenActive());
    EXPECT_TRUE(game->IsSwitchPending());
    EXPECT_TRUE(game->IsLastSwitchedSceneEqual("second"));
    game->LoadPendingScene();
    EXPECT_EQ(recorder.Joined(), "switch net during after fade ready");
    EXPECT_FALSE(game->IsLoadingScreenActive() || game->IsSwitchPending());
}

// A bound key queues its command once (an empty one just takes the key); the console never gets '`'.
class ConsoleTest : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        gLua.Init();
        gLua.ExecuteString("calls = 0 hits = 0 function foo() calls = calls + 1 end function f(x) fx = x end");
        gGameConfig->RemoveAllKeyBinds();
    }
    void TearDown() override {
        gGameConfig->RemoveAllKeyBinds();
        gGameConfig->consoleShowCommands = false;
        gLua.Close();
        GameTest::TearDown();
    }
    double Global(const char* name) {
        lua_State* L = gLua.GetState();
        lua_getglobal(L, name);
        const double v = lua_tonumber(L, -1);
        lua_pop(L, 1);
        return v;
    }
};

TEST_F(ConsoleTest, KeysAndKeyBinds) {
    game->BindKey(30, "hits = hits + 1");
    game->BindKey(31, "");
    const struct {
        bool consoleShown;
        uint32_t key;
        bool consumed;
        const char* events;
        double hits;  // after ProcessConsoleCommands
    } cases[] = {
        {false, 30, true, "", 1},
        {false, 31, true, "", 1},
        {false, 32, false, "", 1},
        {true, 30, false, "console-key:30", 1},
        {true, 1, true, "console-key:1", 1},
    };
    for (const auto& c : cases) {
        gConsoleShown = c.consoleShown;
        const size_t inputEvents = game->GetInputManager()->InputEvents().size();
        EXPECT_EQ(game->OnKeyDown(c.key), c.consumed) << c.key;
        if (c.key == 30 && !c.consoleShown) {
            EXPECT_TRUE(game->OnKeyDown(30));  // pending: not queued twice
        }
        EXPECT_EQ(game->GetInputManager()->InputEvents().size() - inputEvents, c.consumed ? 0u : 1u);
        game->ProcessConsoleCommands();
        EXPECT_EQ(recorder.Joined(), c.events) << c.key;
        EXPECT_EQ(Global("hits"), c.hits) << c.key;
    }
    gConsoleShown = true;
    game->OnChar('a');
    game->OnChar('`');
    EXPECT_EQ(recorder.Joined(), "console-char:97");
    gConsoleShown = false;
    game->SetScreen(GAMESCREEN_MODAL, Screen(GAMESCREEN_MODAL));
    game->OnChar('`');
    EXPECT_EQ(recorder.Joined(), "modal-char:96");
    game->SetScreen(GAMESCREEN_MODAL, nullptr);
}

// An entered bare name is called, other lines run as typed; echoed when the configuration asks.
TEST_F(ConsoleTest, EnteredLinesRunAsScript) {
    gGameConfig->consoleShowCommands = true;
    gEnteredLines = {"foo", "a=1", "f(1)"};
    for (int i = 0; i < 3; ++i) game->ProcessConsoleCommands();
    EXPECT_EQ(Global("calls"), 1.0);
    EXPECT_EQ(Global("a"), 1.0);
    EXPECT_EQ(Global("fx"), 1.0);
    const std::vector<std::string> echoed = {"foo() 0.5 0.5 0.5 1", "a=1 0.5 0.5 0.5 1", "f(1) 0.5 0.5 0.5 1"};
    EXPECT_EQ(gConsoleLines, echoed);
    // A bare name as long as the console's longest line is still called.
    const std::string longName(1022, 'g');
    gLua.ExecuteString(("function " + longName + "() calls = calls + 1 end").c_str());
    gEnteredLines = {longName};
    game->ProcessConsoleCommands();
    EXPECT_EQ(Global("calls"), 2.0);
}

// Log lines from the console level up: errors red, warnings yellow, the rest grey.
TEST_F(GameTest, LogLinesInTheConsole) {
    const struct {
        uint32_t level, severity;
        const char* line;  // "" for none
    } cases[] = {
        {0, 0, "l 0.5 0.5 0.5 1"}, {0, 2, "l 0.5 0.5 0.5 1"}, {0, 3, "l 1 1 0 1"}, {0, 4, "l 1 0 0 1"},
        {0, 5, "l 1 0 0 1"},       {3, 2, ""},                {3, 3, "l 1 1 0 1"}, {4, 3, ""},
    };
    for (const auto& c : cases) {
        gConsoleLines.clear();
        game->SetConsoleLevel(c.level);
        game->OnLogMessage(c.severity, 4, "l");
        EXPECT_EQ(gConsoleLines.empty() ? "" : gConsoleLines[0], c.line) << c.level << " " << c.severity;
        gConsoleLines.clear();
        game->AppendGameConsoleLine("l");
        EXPECT_EQ(gConsoleLines.size(), c.level < 3 ? 1u : 0u);
    }
}

// Each button: a press, moves while held (only when the cursor moved), a release.
TEST_F(GameTest, MouseButtonsReachTheScreen) {
    InputManager& input = *game->GetInputManager();
    UIScreen* screen = Screen(GAMESCREEN_ACTIVE);
    const struct {
        int event;  // a MouseEventKind, or -1 for a cursor move to (x, y)
        float x, y;
        const char* calls;
    } steps[] = {
        {MOUSEEVENT_LEFT_DOWN, 0.25f, 0.5f, "screen:down:10000@0.25,0.50"},
        {-1, 0.25f, 0.5f, ""},
        {-1, 0.5f, 0.5f, "screen:move:10000@0.50,0.50"},
        {MOUSEEVENT_RIGHT_DOWN, 0.5f, 0.75f, "screen:move:10000@0.50,0.75 screen:down:10001@0.50,0.75"},
        {MOUSEEVENT_LEFT_UP, 0.5f, 0.75f, "screen:up:10000@0.50,0.75"},
        {MOUSEEVENT_RIGHT_UP, 0.5f, 0.75f, "screen:up:10001@0.50,0.75"},
        {MOUSEEVENT_MIDDLE_DOUBLE, 0.1f, 0.1f, "screen:down:10005@0.10,0.10"},
        {-1, 0.1f, 0.1f, "screen:up:10005@0.10,0.10"},
    };
    for (const auto& s : steps) {
        if (s.event < 0)
            input.OnMouseMove(s.x, s.y);
        else
            input.PostMouseEvent(uint32_t(s.event), s.x, s.y);
        input.Update();
        EXPECT_TRUE(game->RouteMouseToScreen(screen));
        EXPECT_EQ(recorder.Joined(), s.calls) << s.event << " " << s.x;
        EXPECT_TRUE(gScreenCursor.x == s.x && gScreenCursor.y == s.y) << s.event << " " << s.x;
    }
    EXPECT_FALSE(game->RouteMouseToScreen(nullptr));
}

// Touches go to the modal screen, then the overlay; a first move must leave a 0.04 box.
TEST_F(GameTest, TouchRoutingAndTheMoveThreshold) {
    game->SetScreen(GAMESCREEN_OVERLAY, Screen(GAMESCREEN_OVERLAY));
    EXPECT_TRUE(game->RouteTouchDownToScreens(1, 0.5f, 0.5f));
    EXPECT_FALSE(game->RouteTouchMoveToScreens(1, 0.7f, 0.7f));  // moves need a modal screen
    EXPECT_EQ(recorder.Joined(), "overlay:down:1@0.50,0.50");

    game->SetScreen(GAMESCREEN_MODAL, Screen(GAMESCREEN_MODAL));
    gModalTakes = false;
    EXPECT_TRUE(game->RouteTouchDownToScreens(2, 0.5f, 0.5f));
    EXPECT_EQ(recorder.Joined(), "modal:down:2@0.50,0.50 overlay:down:2@0.50,0.50");
    const std::tuple<float, float, bool> moves[] = {
        {0.53f, 0.47f, false}, {0.5f, 0.46f, false}, {0.545f, 0.5f, true}, {0.546f, 0.5f, true}, {0.5f, 0.5f, true}};
    for (const auto& [x, y, reported] : moves) {
        EXPECT_EQ(game->RouteTouchMoveToScreens(2, x, y), reported) << x << "," << y;
        EXPECT_EQ(recorder.events.size(), reported ? 1u : 0u) << x << "," << y;
        recorder.Joined();
    }
    EXPECT_TRUE(game->RouteTouchUpToScreens(2, 0.5f, 0.5f));
    EXPECT_EQ(recorder.Joined(), "modal:up:2@0.50,0.50 overlay:up:2@0.50,0.50");
    // After the release the next touch's small moves are held back again.
    gModalTakes = true;
    game->RouteTouchDownToScreens(3, 0.2f, 0.2f);
    EXPECT_FALSE(game->RouteTouchMoveToScreens(3, 0.22f, 0.2f));
    game->SetScreen(GAMESCREEN_MODAL, nullptr), game->SetScreen(GAMESCREEN_OVERLAY, nullptr);
}

}  // namespace
