// test-sanitize: address thread
// The Game outside its tick: focus, scene loads, console, mouse and touch routing, its methods for
// scripts (user pause, scheduled calls, the camera ray), its platform helpers on a headless window
// (cursors from TGA files); the base game delegate; TGA images from ImageMagick's convert load
// pixel-exact, other kinds are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <lua.hpp>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "CaptureLogSink.h"
#include "NoMultiplayerEngine.h"
#include "core/CrtRand.h"
#include "core/Sync.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/FileSystem.h"
#include "core/math/Matrix.h"
#include "engine/VornexEngine.h"
#include "engine/camera/CameraServices.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/ScriptScheduler.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/delegate/LeaderboardViewer.h"
#include "engine/input/InputManager.h"
#include "engine/script/LuaWrapper.h"
#include "engine/services/MultiplayerServices.h"
#include "sound/SoundEngine.h"
#include "platform/os/Clock.h"
#include "platform/window/Window.h"
#include "render/GameRenderServices.h"
#include "render/resources/TGAImage.h"
#include "ui/elements/UIOpStream.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIText.h"
#include "ui/widgets/UIGameConsoleScreen.h"
#include "ui/elements/UITextInput.h"

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

// Screens that note what the Game hands them; the modal one takes presses and releases
// only while gModalTakes is set. Each asks for the loading screen's fade.
bool gModalTakes = true;

struct RecordingScreen : UIScreen {
    explicit RecordingScreen(std::string name) : name(std::move(name)) { SetBlendingWhenUsedAsLoadingScreen(true); }
    bool OnMouseButtonDown(const Vector& p, uint32_t b) override { return Event("down", p, b), Takes(); }
    bool OnMouseButtonUp(const Vector& p, uint32_t b) override { return Event("up", p, b), Takes(); }
    bool OnMouseMove(const Vector& p, uint32_t b) override { return Event("move", p, b), true; }
    bool OnChar(uint32_t c) override { return gRecorder->Add(name + "-char:" + std::to_string(c)), true; }
    void OnTemporaryLoadingScreenMark(uint32_t) override { gRecorder->Add("prepare:" + name); }

    void Event(const char* kind, const Vector& p, uint32_t button) {
        char text[96];
        std::snprintf(text, sizeof text, "%s:%s:%x@%.2f,%.2f", name.c_str(), kind, button, p.x, p.y);
        gRecorder->Add(text);
    }
    bool Takes() const { return name != "modal" || gModalTakes; }
    std::string name;
};

RecordingScreen* gScreens[GAMESCREEN_COUNT] = {};
UIScreen* Screen(GameScreenSlot slot) { return gScreens[slot]; }

// A screen's fade starts by removing its actions.
void NoteFades(void*, uint32_t op, const UIElement* element, uint32_t, bool) {
    if (op == UIOP_REMOVEACTIONS && std::find(std::begin(gScreens), std::end(gScreens), element) != std::end(gScreens))
        gRecorder->Add("fade");
}

}  // namespace

struct GameEntityListsTestAccess {
    static UIGameConsoleScreen* Console(const Game& game) { return game.console; }
};

namespace {

// The colour an element shows after SetColor(colour).
Vector ShownColour(const Vector& colour) {
    auto* e = new UIElement;
    e->SetColor(colour);
    const Vector shown = e->Render().color;
    e->Release();
    return shown;
}

// The text of the console's newest line.
std::string NewestLine(const UIGameConsoleScreen* console) {
    const char16_t* text = console->Line(0)->Text();
    std::string out;
    for (; text && *text; ++text) out += char(*text);
    return out;
}

class GameTest : public testing::Test {
protected:
    void SetUp() override {
        gRecorder = &recorder;
        gModalTakes = true;
        for (uint32_t i = 0; i < GAMESCREEN_COUNT; ++i)
            gScreens[i] = new RecordingScreen(i == GAMESCREEN_MODAL ? "modal" : i == GAMESCREEN_OVERLAY ? "overlay" : "screen");
        SetUIOpObserver(&NoteFades, nullptr);
        saved = gGame;
        gGame = game = new Game();
        game->Init(0, 1280, 720, &delegate, nullptr, 0);
        console = GameEntityListsTestAccess::Console(*game);
        recorder.events.clear();
    }
    void TearDown() override {
        for (uint32_t slot = 0; slot < GAMESCREEN_COUNT; ++slot) game->SetScreen(GameScreenSlot(slot), nullptr);
        game->Close();
        delete game;
        gGame = saved;
        SetUIOpObserver(nullptr, nullptr);
        for (RecordingScreen*& screen : gScreens) std::exchange(screen, nullptr)->Release();
        gRecorder = nullptr;
    }
    Recorder recorder;
    EventDelegate delegate;
    Game* game = nullptr;
    Game* saved = nullptr;
    UIGameConsoleScreen* console = nullptr;
};

// While the Game runs the layers below reach it through their services; Close takes them away.
TEST_F(GameTest, ServicesReachTheRunningGame) {
    game->GetSmoothGameTimer().ResetTime(1234), game->GetSmoothGameplayTimer().ResetTime(4321);
    game->GetGameplayTimer().ResetTime(77), game->GetGameTimer().ResetTime(55);
    EXPECT_EQ(GetCameraServices().SmoothGameTime(), 1234);
    EXPECT_EQ(GetGameServices().SmoothGameplayTime(), 4321);
    game->GetGameplayTimer().Pause(true);
    EXPECT_TRUE(GetGameServices().IsGameplayPaused());
    game->GetGameplayTimer().Pause(false);
    int64_t now = -1;  // the game's selections are checked through the scripts' calls
    EXPECT_EQ(GetGameServices().SelectScheduler(8, &now), gVornexEngine.Scheduler());
    EXPECT_EQ(now, gVornexEngine.Timer().Time());
    EXPECT_TRUE(&GetGameRenderServices() == &GetRunningGameRenderServices() && GetGameServices().TakesDelayedEntities());
    bool full = false;
    game->RequestFullScreen(true);
    EXPECT_TRUE(game->TakeFullScreenRequest(&full) && full && !game->TakeFullScreenRequest(&full));  // taken once
    struct StopRecordingSound : SoundEngine {
        StopRecordingSound() { SetRunWithoutThread(true); }
        void HandleCommand(uint32_t id, CommandRingBuffer& ring) override {
            if (id == SOUND_CMD_STOP) gRecorder->Add("stop");
            SoundEngine::HandleCommand(id, ring);
        }
    } sound;
    SoundEngine* const savedSound = gSoundEngine;
    gSoundEngine = &sound;
    game->Close();
    sound.RunWake();
    gSoundEngine = savedSound;
    EXPECT_EQ(recorder.Joined(), "stop");  // every sound fades out
    EXPECT_EQ(GetCameraServices().SmoothGameTime(), 0);
    EXPECT_NE(&GetGameServices(), &GetRunningGameServices());
    EXPECT_FALSE(GetGameServices().SelectScheduler(8, &now) || &GetGameRenderServices() == &GetRunningGameRenderServices() ||
                 GetGameServices().TakesDelayedEntities());
    game->Init(0, 1280, 720, &delegate, nullptr, 0);
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
    constexpr uint32_t kBackspace = 8;  // an editing key of the console
    const struct {
        bool consoleShown;
        uint32_t key;
        bool consumed;
        double hits;  // after ProcessConsoleCommands
    } cases[] = {
        {false, 30, true, 1},
        {false, 31, true, 1},
        {false, 32, false, 1},
        {true, 30, false, 1},  // the shown console has it, not the binds; it ignores it
        {true, kBackspace, true, 1},
    };
    for (const auto& c : cases) {
        console->SetShown(c.consoleShown);
        const size_t inputEvents = game->GetInputManager()->InputEvents().size();
        EXPECT_EQ(game->OnKeyDown(c.key), c.consumed) << c.key;
        if (c.key == 30 && !c.consoleShown) {
            EXPECT_TRUE(game->OnKeyDown(30));  // pending: not queued twice
        }
        EXPECT_EQ(game->GetInputManager()->InputEvents().size() - inputEvents, c.consumed ? 0u : 1u);
        game->ProcessConsoleCommands();
        EXPECT_EQ(Global("hits"), c.hits) << c.key;
    }
    console->SetShown(true);
    game->OnChar('a');
    game->OnChar('`');
    EXPECT_STREQ(console->Input()->GetText(), "a");
    console->SetShown(false);
    game->SetScreen(GAMESCREEN_MODAL, Screen(GAMESCREEN_MODAL));
    game->OnChar('`');
    EXPECT_EQ(recorder.Joined(), "modal-char:96");
    game->SetScreen(GAMESCREEN_MODAL, nullptr);
}

// An entered bare name is called, other lines run as typed; echoed when the configuration asks.
TEST_F(ConsoleTest, EnteredLinesRunAsScript) {
    gGameConfig->consoleShowCommands = true;
    for (const char* line : {"foo", "a=1", "f(1)"}) {
        for (const char* p = line; *p; ++p) console->OnChar(uint8_t(*p));
        console->OnKeyDown(13);  // Enter
        game->ProcessConsoleCommands();
        EXPECT_EQ(console->Line(0)->Render().color, ShownColour(Vector(0.5f, 0.5f, 0.5f, 1.0f))) << line;
    }
    EXPECT_EQ(Global("calls"), 1.0);
    EXPECT_EQ(Global("a"), 1.0);
    EXPECT_EQ(Global("fx"), 1.0);
    std::vector<std::string> echoed;  // oldest first
    for (uint32_t i = 3; i-- > 0;) {
        const char16_t* text = console->Line(i)->Text();
        echoed.emplace_back(text ? std::string(text, text + std::char_traits<char16_t>::length(text)) : "");
    }
    EXPECT_EQ(echoed, (std::vector<std::string>{"foo()", "a=1", "f(1)"}));
    // A bare name as long as a bound command may be is still called.
    const std::string longName(1022, 'g');
    gLua.ExecuteString(("function " + longName + "() calls = calls + 1 end").c_str());
    game->BindKey(30, longName.c_str());
    game->OnKeyDown(30);
    game->ProcessConsoleCommands();
    EXPECT_EQ(Global("calls"), 2.0);
}

// Log lines from the console level up: errors red, warnings yellow, the rest grey.
TEST_F(GameTest, LogLinesInTheConsole) {
    const Vector grey(0.5f, 0.5f, 0.5f, 1.0f), yellow(1, 1, 0, 1), red(1, 0, 0, 1), none(0, 0, 0, 0);
    const struct {
        uint32_t level, severity;
        Vector colour;  // none: no line
    } cases[] = {
        {0, 0, grey}, {0, 2, grey}, {0, 3, yellow}, {0, 4, red}, {0, 5, red}, {3, 2, none}, {3, 3, yellow}, {4, 3, none},
    };
    for (const auto& c : cases) {
        const bool expected = c.colour.w != 0;
        console->AddLine("-", none);
        game->SetConsoleLevel(c.level);
        game->OnLogMessage(c.severity, 4, "l");
        EXPECT_EQ(NewestLine(console), expected ? "l" : "-") << c.level << " " << c.severity;
        if (expected) {
            EXPECT_EQ(console->Line(0)->Render().color, ShownColour(c.colour)) << c.level << " " << c.severity;
        }
        console->AddLine("-", none);
        game->AppendGameConsoleLine("l");
        EXPECT_EQ(NewestLine(console), c.level < 3 ? "l" : "-") << c.level;
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
        EXPECT_TRUE(screen->CursorPosition().x == s.x && screen->CursorPosition().y == s.y) << s.event << " " << s.x;
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
    game->SetScreen(GAMESCREEN_MODAL, nullptr);
    recorder.Joined();

    // The running Game's input manager offers its touches to these screens: a press the
    // overlay takes makes no tap. Once closed, every touch is a tap again.
    InputManager* input = game->GetInputManager();
    input->TouchDown(9, 0.25f, 0.25f);
    EXPECT_TRUE(input->Taps().empty());
    const std::string offered = recorder.Joined();
    EXPECT_TRUE(offered.starts_with("overlay:down:") && offered.ends_with("@0.25,0.25")) << offered;
    game->SetScreen(GAMESCREEN_OVERLAY, nullptr);  // Close releases the screens it holds
    game->Close();
    game->SetScreen(GAMESCREEN_OVERLAY, Screen(GAMESCREEN_OVERLAY));
    input = game->GetInputManager();
    recorder.Joined();
    input->TouchDown(9, 0.25f, 0.25f);
    EXPECT_EQ(input->Taps().size(), 1u);
    EXPECT_EQ(recorder.Joined(), "");
    game->SetScreen(GAMESCREEN_OVERLAY, nullptr);
    game->Init(0, 1280, 720, &delegate, nullptr, 0);
}

// The texts a scheduler will still run (a cancelled call keeps its record, without text).
std::vector<std::string> Texts(const ScriptScheduler* scheduler) {
    std::vector<std::string> texts;
    for (uint32_t i = 0; scheduler && i < scheduler->Count(); ++i)
        if (scheduler->Record(i).text) texts.push_back(scheduler->Record(i).text);
    return texts;
}

class GameScriptTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gGame, nullptr);
        gGame->Init(0, 1280, 720, nullptr, nullptr, 0);
        ASSERT_NE(gGame->GetGameScheduler(), nullptr);
    }
    void TearDown() override {
        gGame->SetUserPause(false);
        gGame->Close();
    }
};

TEST_F(GameScriptTest, UserPausePausesEachTimerOncePerChange) {
    GameTimer* timers[] = {&gGame->GetGameTimer(), &gGame->GetGameplayTimer(), &gGame->GetSmoothGameTimer(),
                           &gGame->GetSmoothGameplayTimer()};
    gGame->GetGameplayTimer().Pause(true);  // a pause of the scripts' own, kept throughout
    const bool steps[] = {true, true, false, false, true};
    for (bool pause : steps) {
        gGame->SetUserPause(pause);
        EXPECT_EQ(gGame->IsUserPaused(), pause);
        for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(timers[i]->PauseCount(), (pause ? 1u : 0u) + (i == 1)) << i;
    }
    gGame->SetUserPause(false);
    gGame->GetGameplayTimer().Pause(false);
}

TEST_F(GameScriptTest, ScriptCallsGoToTheSchedulerOfTheirClockAndAreDeletedByText) {
    ScriptScheduler* game = gGame->GetGameScheduler();
    ScriptScheduler* gameplay = gGame->GetGameplayScheduler();
    const int64_t gameNow = gGame->GetGameTimer().Time(), gameplayNow = gGame->GetGameplayTimer().Time();
    const struct {
        const char* text;
        uint32_t flags;
        ScriptScheduler* expected;
        int64_t now;
    } cases[] = {{"A", 0, game, gameNow},         {"B", 4, gameplay, gameplayNow}, {"C", 8, nullptr, 0},
                 {"D", 12, game, gameNow},        {"E", 6, gameplay, gameplayNow}, {"F", 2, game, gameNow}};
    for (const auto& c : cases) {
        const uint32_t before = game->Count() + gameplay->Count();
        gGame->ScheduleScriptCall(c.text, 0.5f, c.flags);
        if (!c.expected) {  // the engine is not started here: no engine scheduler takes it
            EXPECT_EQ(game->Count() + gameplay->Count(), before) << c.text;
            continue;
        }
        ASSERT_GT(c.expected->Count(), 0u) << c.text;
        const ScriptSchedulerRecord& r = c.expected->Record(c.expected->Count() - 1);
        EXPECT_STREQ(r.text, c.text);
        EXPECT_EQ(r.due, c.now + os::kCounterFrequency / 2) << c.text;
    }
    // Deleting calls leaves the gameplay scheduler alone.
    for (const char* text : {"A", "B", "C", "D"}) gGame->DeleteScriptCalls(text);
    EXPECT_EQ(Texts(game), std::vector<std::string>{"F"});
    EXPECT_EQ(Texts(gameplay), (std::vector<std::string>{"B", "E"}));
}

// A world position on the screen through the camera, as the renderer would draw it.
Vector ToScreen(const Vector& world, const Matrix& view, const Matrix& projection) {
    Vector clip;
    clip.Transform(view, Vector(world.x, world.y, world.z, 1.0f));
    clip.Transform(projection);
    return Vector((clip.x / clip.w + 1.0f) * 0.5f, (1.0f - clip.y / clip.w) * 0.5f, 0.0f, 0.0f);
}

TEST_F(GameScriptTest, RayThroughAScreenPointProjectsBackOntoIt) {
    GameCameraController* camera = gGame->GetCameraController();
    ASSERT_NE(camera, nullptr);
    const Matrix& view = camera->GetCameraViewMatrix();
    const Matrix& projection = camera->GetCameraProjectionMatrix();
    Vector forward = camera->GetCameraInvViewMatrix().r[2];
    forward.w = 0.0f;
    forward.NormalizeXYZ();
    const Vector eye = camera->GetCameraPosition();
    // Planes facing the camera 20 units ahead of it and behind it.
    const Vector ahead(forward.x, forward.y, forward.z, -forward.Dot3(eye + forward * 20.0f));
    const Vector behind(forward.x, forward.y, forward.z, -forward.Dot3(eye - forward * 20.0f));

    const float points[][2] = {{0.5f, 0.5f}, {0.0f, 0.0f}, {1.0f, 1.0f}, {0.25f, 0.8f}, {0.9f, 0.1f}};
    for (const auto& p : points) {
        const Vector screen(p[0], p[1], 0.0f, 0.0f);
        Vector origin, direction;
        gGame->ScreenPointToWorld(screen, &origin, &direction);
        EXPECT_EQ(std::make_pair(origin.w, direction.w), std::make_pair(1.0f, 0.0f));
        EXPECT_NEAR(direction.Length3(), 1.0f, 1e-5f);
        EXPECT_GT(direction.Dot3(forward), 0.0f) << "the ray leaves the camera forwards";
        Vector hit;
        ASSERT_TRUE(gGame->LoadScreenPointProjectedOnWorldPlane(screen, ahead, &hit));
        EXPECT_NEAR(hit.Dot3(ahead) + ahead.w, 0.0f, 1e-3f);
        for (const Vector& at : {origin, origin + direction * 50.0f, hit}) {
            const Vector back = ToScreen(at, view, projection);
            EXPECT_NEAR(back.x, p[0], 1e-3f);
            EXPECT_NEAR(back.y, p[1], 1e-3f);
        }
        EXPECT_FALSE(gGame->LoadScreenPointProjectedOnWorldPlane(screen, behind, &hit));
    }

    // Without a camera controller: the fixed ray.
    gGame->Close();
    Vector origin, direction;
    gGame->ScreenPointToWorld(Vector(0.3f, 0.3f, 0.0f), &origin, &direction);
    EXPECT_EQ(origin, Vector(0.0f, 0.0f, 0.0f, 1.0f));
    EXPECT_EQ(direction, Vector(0.0f, 0.0f, 1.0f, 0.0f));
    gGame->Init(0, 1280, 720, nullptr, nullptr, 0);
}

class GamePlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/game_platform_XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_TRUE(gFileSystem.MountDirectory("textures", folder.c_str()));
        wnd::ResetWindowLayer();
        window = wnd::CreateWindow({"PlatformTest", "", wnd::kStylePopup, 0, 40, 30, 400, 200});
        saved = gGame;
        gGame = game = new Game();
        game->Init(window, 400, 200, nullptr, nullptr, 0);
        log.Attach();
    }
    void TearDown() override {
        log.Detach();
        game->Close();
        delete game;
        gGame = saved;
        wnd::ResetWindowLayer();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(folder);
    }
    // Pixel (x, y) has colour x * 8, y * 8, 0x40 and is transparent on the diagonal.
    void Convert(const std::string& name, uint32_t side, const std::string& options) const {
        std::string pam = "P7\nWIDTH " + std::to_string(side) + "\nHEIGHT " + std::to_string(side) +
                          "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (uint32_t y = 0; y < side; ++y)
            for (uint32_t x = 0; x < side; ++x) pam += {char(x * 8), char(y * 8), char(0x40), char(x == y ? 0 : 255)};
        std::ofstream(folder + "/source.pam", std::ios::binary) << pam;
        const std::string command = "cd " + folder + " && convert source.pam -compress None " + options + " " + name;
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string folder;
    wnd::WindowHandle window = 0;
    Game* game = nullptr;
    Game* saved = nullptr;
    CaptureLogSink log;
};

TEST_F(GamePlatformTest, CursorsComeFromThirtyTwoSquareImagesOnly) {
    Convert("rgba.tga", 32, "-orient TopLeft");
    Convert("rgb.tga", 32, "-alpha off -orient TopLeft");
    Convert("small.tga", 16, "");
    const struct Case {
        const char* name;
        bool made, transparentDiagonal;
        const char* warning;
    } cases[] = {
        {"rgba.tga", true, true, nullptr},
        {"rgb.tga", true, false, nullptr},  // a 24-bit file loads opaque
        {"small.tga", false, false, "Incorrect cursor format. Only 32x32 A8R8G8B8 files are supported (small.tga)"},
        {"missing.tga", false, false, "Cannot load cursor: missing.tga"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        game->SetHardwareCursor(c.name, 3, 5);
        EXPECT_EQ(game->GetHardwareCursor() != 0, c.made);
        EXPECT_EQ(wnd::GetCursor(), game->GetHardwareCursor());
        EXPECT_TRUE(!c.warning || log.Contains(c.warning));
        wnd::CursorImage image;
        if (!c.made || !wnd::GetCursorImage(game->GetHardwareCursor(), &image)) continue;
        EXPECT_EQ(image.hotspotX, 3);
        EXPECT_EQ(image.hotspotY, 5);
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 32; ++x) {
                const uint32_t colour = 0xFF000000u | (x * 8) << 16 | (y * 8) << 8 | 0x40;
                if (x == y) EXPECT_EQ(image.pixels[y * 32 + x] == 0, c.transparentDiagonal);
                else EXPECT_EQ(image.pixels[y * 32 + x], colour) << x << "," << y;
            }
    }
    // Activation builds the stored cursor again; no name removes it.
    game->RefreshHardwareCursor();
    EXPECT_EQ(game->GetHardwareCursor(), 0u);  // the last name was missing
    game->SetHardwareCursor("rgba.tga", 1, 1);
    game->RefreshHardwareCursor();
    EXPECT_NE(game->GetHardwareCursor(), 0u);
    game->SetHardwareCursor(nullptr, 0, 0);
    EXPECT_EQ(game->GetHardwareCursor(), 0u);
}

TEST_F(GamePlatformTest, WindowHelpersActOnlyWhileUnfocusedAndTheCursorIsPlacedInsideTheClient) {
    EXPECT_EQ(wnd::GetCursorPos(), (wnd::Point{40 + 200, 30 + 100}));  // Init centred it in the client
    wnd::SetFocus(window);
    game->FlashWindow();
    game->RestoreWindow();
    const auto& r = wnd::GetRequests();
    EXPECT_EQ(r.flashes + r.beeps + r.restores, 0u);
    wnd::SetFocus(0);
    game->FlashWindow();
    game->RestoreWindow();
    EXPECT_EQ(std::make_tuple(r.flashes, r.lastFlash.flags, r.lastFlash.count, r.beeps, r.restores),
              std::make_tuple(1u, 15u, 1000u, 1u, 1u));

    game->SetCursorPosition(Vector(0.25f, -3.0f, 0.0f, 0.0f));
    EXPECT_EQ(game->GetInputManager()->GetCursorPosition(), Vector(0.25f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(wnd::GetCursorPos(), (wnd::Point{40 + 100, 30}));
    // Init hid the cursor; showing it centred changes the counter once.
    game->EnableHardwareCursor(true, true);
    game->EnableHardwareCursor(true, true);
    EXPECT_EQ(wnd::GetCursorDisplayCounter(), 0);
    EXPECT_EQ(wnd::GetCursorPos(), (wnd::Point{40 + 200, 30 + 100}));
    EXPECT_FALSE(log.Contains("Hardware cursor counter invalid"));
}

class GameDelegateTest : public testing::Test {
protected:
    void TearDown() override {
        gProjectConfig->SetPropertyFromString("Store definition file", "");
        GameDelegate::SetSampleNumber(0);
    }
};


// The base delegate's lookup into the caller's word clears the word it is handed and
// tolerates none.
TEST_F(GameDelegateTest, BaseDelegateLookupClearsTheWord) {
    GameDelegate d;
    uint32_t word = 7;
    EXPECT_TRUE(d.LookupValueInto(1, 2, &word) == &word && word == 0 && !d.LookupValueInto(1, 2, nullptr));
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
    static struct : MultiplayerServices {
        InGameStore* CreateInGameStore(const char* file) override {
            events.push_back(std::string("create ") + file);
            return createFails ? nullptr : kStore;
        }
        void GetInGameStoreItemImageFiles(InGameStore* store, uint32_t word, DynarraySafe<NameString>& files) override {
            events.push_back("images " + std::to_string(word) + (store == kStore ? "" : "?"));
            files.Add(NameString("Store/Item.dds"));
        }
        void DeleteInGameStore(InGameStore* store) override { events.push_back(store == kStore ? "delete" : "delete?"); }
    } recording;
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
        SetMultiplayerServices(c.services ? &recording : nullptr);
        DynarraySafe<NameString> files;
        delegate.HandleStoreRequest(5, files);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(files.Count(), c.events.size() > 1 ? 1u : 0u);
    }
    SetMultiplayerServices(nullptr);
}

constexpr uint32_t kWidth = 37, kHeight = 19;

class TGAImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/tga_test_XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_TRUE(gFileSystem.MountDirectory("textures", folder.c_str()));
        std::string pam = "P7\nWIDTH " + std::to_string(kWidth) + "\nHEIGHT " + std::to_string(kHeight) +
                          "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (uint32_t i = 0, state = 12345; i < kWidth * kHeight * 4; ++i) pam += char((state = state * 1103515245u + 12345u) >> 16);
        Write("source.pam", std::vector<uint8_t>(pam.begin(), pam.end()));
    }
    // The mount goes with the folder: a later fixture mounts "textures" again.
    static void TearDownTestSuite() {
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(folder);
    }

    static std::vector<uint8_t> Read(const std::string& name) {
        std::ifstream in(folder + "/" + name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(folder + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }
    static bool Run(const std::string& command) { return std::system(("cd " + folder + " && " + command).c_str()) == 0; }

    static std::string folder;
};
std::string TGAImageTest::folder;

TEST_F(TGAImageTest, ConvertedFilesLoadPixelExact) {
    const struct {
        const char* options;
        uint8_t bits;
        bool topRowFirst, imageId;
    } cases[] = {
        {"", 32, false, false},
        {"-alpha off -orient TopLeft", 24, true, false},
        {"-set comment 'cursor image' -orient TopLeft", 32, true, true},
        {"-set comment 'cursor image' -alpha off", 24, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_TRUE(Run(std::string("convert source.pam -compress None ") + c.options + " image.tga"));
        const std::vector<uint8_t> file = Read("image.tga");
        EXPECT_EQ(file.at(16), c.bits);
        EXPECT_EQ((file.at(17) & 0x20) != 0, c.topRowFirst);
        EXPECT_EQ(file.at(0) != 0, c.imageId);
        // ImageMagick's decoding: top row first, red-green-blue-alpha.
        ASSERT_TRUE(Run("convert image.tga -auto-orient -depth 8 rgba:image.rgba"));
        const std::vector<uint8_t> reference = Read("image.rgba");
        ASSERT_EQ(reference.size(), kWidth * kHeight * 4);

        TGAImage image;
        ASSERT_TRUE(image.Load("image", "tga", "Textures"));
        ASSERT_EQ(image.Width() * 1000 + image.Height(), kWidth * 1000 + kHeight);
        EXPECT_EQ(image.Format(), TGAImage::kFormatA8R8G8B8);
        ASSERT_EQ(image.Size(), kWidth * kHeight * 4);
        uint32_t mismatches = 0;
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint8_t* want = &reference[(y * kWidth + x) * 4];
                const uint8_t* got = image.Pixels() + ((kHeight - 1 - y) * kWidth + x) * 4;  // bottom row first
                mismatches += got[0] != want[2] || got[1] != want[1] || got[2] != want[0] ||
                              got[3] != (c.bits == 24 ? 255 : want[3]);
            }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST_F(TGAImageTest, OtherKindsShortFilesAndHugeHeadersAreRefused) {
    const std::pair<const char*, const char*> made[] = {{"rle", "-compress RLE"},
                                                        {"mapped", "-alpha off -type Palette -compress None"},
                                                        {"sixteen", "-depth 5 -compress None"},
                                                        {"whole", "-compress None"}};
    for (const auto& [name, options] : made)
        ASSERT_TRUE(Run(std::string("convert source.pam ") + options + " " + name + ".tga"));
    const std::vector<uint8_t> whole = Read("whole.tga");
    auto header = [&](std::initializer_list<std::pair<size_t, uint8_t>> changes, size_t size) {
        std::vector<uint8_t> h(whole.begin(), whole.begin() + 18);
        for (auto [offset, value] : changes) h[offset] = value;
        h.resize(size, 7);
        return h;
    };
    Write("short.tga", std::vector<uint8_t>(whole.begin(), whole.end() - 1));
    Write("header.tga", std::vector<uint8_t>(whole.begin(), whole.begin() + 10));
    Write("id.tga", header({{0, 255}, {12, 1}, {13, 0}, {14, 1}, {15, 0}}, 18 + 4 + 100));  // ID past the end
    Write("huge.tga", header({{12, 0xFF}, {13, 0xFF}, {14, 0xFF}, {15, 0xFF}}, 64));      // 65535 x 65535
    Write("wide.tga", header({{12, 0x01}, {13, 0x40}, {14, 1}, {15, 0}}, 18 + 16385 * 4));  // complete, too wide
    Write("flagged.tga", header({{1, 1}}, whole.size()));                                   // colour-map flag

    CaptureLogSink sink;
    sink.Attach();
    TGAImage image;
    for (const char* name : {"rle", "mapped", "sixteen", "short", "header", "id", "huge", "wide", "flagged"}) {
        ASSERT_TRUE(image.Load("whole", "tga", "textures"));
        sink.Clear();
        EXPECT_FALSE(image.Load(name, "tga", "Textures")) << name;
        EXPECT_EQ(image.Width() | image.Height() | image.Format() | image.Size(), 0u) << name;
        const auto messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1u) << name;
        EXPECT_EQ(messages[0].text, std::string("Unsupported TGA format (") + name + ",Textures)");
        EXPECT_EQ(messages[0].severity, 3);
    }
    sink.Clear();
    EXPECT_FALSE(image.Load("missing", "tga", "Textures"));
    EXPECT_TRUE(sink.Messages().empty());
}

// The leaderboard viewer: modes, page ranks and the named rows.

TEST(LeaderboardViewer, ModesChooseThePageRanks) {
    struct Case {
        const char* mode;
        uint32_t expectedMode;
        int32_t firstRanks[5];
    } cases[] = {
        {"Overall", LeaderboardViewer::kModeOverall, {-199, -99, 1, 101, 201}},
        {"Friends", LeaderboardViewer::kModeFriends, {-201, -100, 1, 102, 203}},
        {"friends", LeaderboardViewer::kModeFriends, {-201, -100, 1, 102, 203}},  // unknown (case): mode kept
        {"UserScore", LeaderboardViewer::kModeUserScore, {-199, -99, 1, 101, 201}},
        {nullptr, LeaderboardViewer::kModeUserScore, {-199, -99, 1, 101, 201}},
    };
    LeaderboardViewer viewer;
    EXPECT_EQ(viewer.GetPage(0), nullptr);  // pages come with the first reset
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode ? c.mode : "null");
        viewer.SetMode(c.mode, 7);
        EXPECT_EQ(viewer.GetMode(), c.expectedMode);
        for (uint32_t i = 0; i < LeaderboardViewer::kPageCount; ++i) {
            const LeaderboardViewer::Page* p = viewer.GetPage(i);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->firstRank, c.firstRanks[i]);
            EXPECT_EQ(p->state, LeaderboardViewer::kPageStateReset);
            EXPECT_EQ(p->count, 0u);
            ASSERT_NE(p->rows, nullptr);
        }
    }
}

TEST(LeaderboardViewer, NamedRowsAnswerTheirColumnsCaseInsensitively) {
    LeaderboardViewer viewer;
    viewer.SetRowName("Kills", 2);
    for (uint32_t c = 0; c < 3; ++c) viewer.SetColumn(2, c, 10 * (c + 1));
    EXPECT_EQ(viewer.GetRowFirstColumn("KILLS"), 10u);
    EXPECT_EQ(viewer.GetRowSecondColumn("kills"), 20u);
    EXPECT_EQ(viewer.GetRowThirdColumn("Kills"), 30u);
    EXPECT_EQ(viewer.GetRowFirstColumn("Deaths"), 0u);
    EXPECT_EQ(viewer.GetRowFirstColumn(nullptr), 0u);
    viewer.RaiseRowSecondColumn(2, 15);
    EXPECT_EQ(viewer.GetRowSecondColumn("Kills"), 20u);
    viewer.RaiseRowSecondColumn(2, 0x80000000u);  // unsigned comparison
    EXPECT_EQ(viewer.GetRowSecondColumn("Kills"), 0x80000000u);
}

// A script hands any row index: the last one has no room after it, and neither it nor
// a setter may shrink the columns already there.
TEST(LeaderboardViewer, TheLastRowIndexChangesNothing) {
    LeaderboardViewer viewer;
    viewer.SetRowName("Kills", 1);
    viewer.SetColumn(1, 1, 20);
    viewer.RaiseRowSecondColumn(UINT32_MAX, 99);
    viewer.SetColumn(UINT32_MAX, 1, 99);
    EXPECT_EQ(viewer.GetRowSecondColumn("Kills"), 20u);
}

}  // namespace
