// The Game tick: frame timing, the fixed and variable simulation steps, and the order in
// which every per-frame and per-step service runs.
//
// Time model. The frame delta is the time on the frame timer's clock (the counter, or one
// step a frame under step time) since the last frame stamp, capped at one step (1/15 s;
// the excess is dropped from both stamps, so a hitch is never caught up) and averaged
// over the last four frames. Fixed mode (the delegate's OnBeforeTick)
// runs trunc(e x multiplier x 14.999999) steps of 1/15 s, e being the time since the
// fixed-step stamp, and moves that stamp by the steps it ran (a frame at multiplier 0
// runs none and moves it to the frame stamp, so that time is never caught up later);
// variable mode runs trunc(g x 15) whole steps of the game delta g and one step of the
// remainder when no step was whole or the remainder exceeds 0.01 s. Every step count,
// delta and truncation is computed in float, so the counts are the same on every machine.
#include <algorithm>

#include "core/Log.h"
#include "core/Time.h"
#include "core/profiler/Profiler.h"
#include "engine/services/GameClock.h"
#include "engine/VornexEngine.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/EntityBlender.h"
#include "engine/entity/EntityManager.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "engine/navigation/WalkMap.h"
#include "engine/entity/SceneGrid.h"
#include "engine/entity/ScriptScheduler.h"
#include "net/MultiplayerEngine.h"
#include "render/VornexRenderer.h"
#include "platform/os/Clock.h"
#include "scene/entities/TriggerEntity.h"

namespace {

constexpr float kStepSeconds = 0.06666667f;
constexpr float kFixedStepsPerSecond = 14.999999f;
constexpr float kVariableStepsPerSecond = 15.0f;
constexpr float kRemainderStep = 0.01f;  // a larger remainder gets a step of its own
constexpr float kFrequency = static_cast<float>(os::kCounterFrequency);
// One simulation step of the game clock, and the lag (in steps) caught up at once.
constexpr uint64_t kClockStep = 66666;
constexpr uint64_t kCatchUpSteps = 3;

// Profiler counters and sections of the tick.
enum : uint32_t {
    COUNTER_GAME_DELTA = 2,
    COUNTER_FRAME_TIME = 21,
    COUNTER_STEPS = 22,
    SECTION_TICK = 23,
    SECTION_MULTIPLAYER = 41,
    SECTION_GAME_CLOCK = 63,
    SECTION_DELEGATE_SMOOTH_TICK = 64,
    SECTION_ENTITY_SMOOTH_TICK = 65,
    SECTION_DELAYED = 66,
    SECTION_GAME_SCHEDULER = 67,
    SECTION_DELEGATE_TICK = 68,
    SECTION_ENTITY_TICK = 69,
    SECTION_DELEGATE_AFTER_TICK = 70,
    SECTION_TRIGGERS = 71,
    SECTION_GAMEPLAY_SCHEDULER = 72,
    SECTION_BLENDERS_CAMERA = 74,
};
static_assert(SECTION_BLENDERS_CAMERA < kProfilerCounterCount);

class Section {
public:
    explicit Section(uint32_t index) : index(index) { gProfiler.StartTimer(index, PROFILER_THREAD_MAIN); }
    ~Section() { gProfiler.StopTimer(index, PROFILER_THREAD_MAIN); }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

private:
    uint32_t index;
};

void SetCounter(uint32_t index, float value) { gProfiler.SetValue(index, value, PROFILER_THREAD_MAIN); }

// trunc(x) of a float that may be negative or not a number (0 then).
uint32_t StepCount(float x) { return x > 0.0f ? static_cast<uint32_t>(static_cast<int64_t>(x)) : 0u; }

}  // namespace

void Game::EngineUpdate() {
    gVornexEngine.Update(smoothGameTimer.Time(), smoothGameTimer.LastDelta(), smoothGameplayTimer.Time(),
                         smoothGameplayTimer.LastDelta(), 0);
}

// One running step of game time.
void Game::GameStep() {
    {
        Section s(SECTION_GAME_SCHEDULER);
        if (gameScheduler) gameScheduler->Run(gameTimer.Time());
    }
    {
        Section s(SECTION_DELEGATE_TICK);
        if (delegate) delegate->OnTick();
    }
    {
        Section s(SECTION_ENTITY_TICK);
        TickEntities();
    }
    {
        Section s(SECTION_DELEGATE_AFTER_TICK);
        if (delegate) delegate->OnAfterTick();
    }
    Section s(SECTION_TRIGGERS);
    TriggerEntity::ProcessPendingChecks();
}

// Entity blenders, the camera controller and the scene grid.
void Game::FrameUpkeep() {
    Section s(SECTION_BLENDERS_CAMERA);
    EntityBlender::UpdateAllBlenders();
    if (cameraController) cameraController->Update();
    if (SceneGrid* grid = gEntityManager ? gEntityManager->GetSceneGrid() : nullptr)
        WalkMap::UpdateBlockedTiles(*grid);
}

void Game::Tick(bool hasFocus) {
    // A device the renderer created or reset since the last frame: the delegate hears once.
    if (const uint32_t resets = gVornexRenderer.DisplayResets(); resets != seenDisplayResets) {
        seenDisplayResets = resets;
        NotifyDelegateDisplayReset();
    }
    // 1-2. The background pass.
    focused = hasFocus;
    if (TickInBackground()) return;

    // 3-5. A pending scene loads; that frame counts no game time.
    FrameTimer& engineTimer = gVornexEngine.Timer();
    engineTimer.Tick(false);
    float factor = 1.0f;
    if (switchPending) {
        LoadPendingScene();
        engineTimer.Tick(true);
        factor = 0.0f;
    }
    ++frameCount;
    if (delegate && !delegate->OnBigFrameTick()) {
        ResetFrameStamps();
        return;
    }

    // 6. The time multiplier.
    timeMultiplierFade.Update(engineTimer.Time());
    timeMultiplier = timeMultiplierFade.current;

    // 7-10. The frame delta and the steps it owes.
    MeasureFrameDelta();
    const TickSteps steps = PlanSteps(factor);

    // 11-14. The mode, the game clock, delayed work, replicated calls and the console.
    const bool fixedMode = delegate && delegate->OnBeforeTick();
    lastFixedMode = fixedMode;
    lastStepCount = fixedMode ? steps.fixed : steps.variable;
    SetCounter(COUNTER_STEPS, static_cast<float>(lastStepCount));
    gProfiler.StartTimer(SECTION_TICK, PROFILER_THREAD_MAIN);
    {
        Section s(SECTION_GAME_CLOCK);
        gGameClock->Tick(fixedMode ? static_cast<int32_t>(steps.fixed) : -1, timeMultiplier,
                         Time(engineTimer.Now() - Time::Base().start));
    }
    {
        Section s(SECTION_DELAYED);
        TickDelayed(false);
        UpdateEntityLists();
        if (multiplayerEngine) multiplayerEngine->DispatchReplicatedMethodCalls(false);
        ProcessConsoleCommands();
    }
    ++tickedFrames;
    SetLogFrameNumbers(static_cast<int32_t>(fixedSteps), static_cast<int32_t>(tickedFrames));

    // 15-16. The steps of the mode.
    if (fixedMode)
        RunFixedSteps(steps);
    else
        RunVariableSteps(steps);

    // 17. Animations, the multiplayer step, the screens and the input's frame end.
    FinishMeshAnimations();
    MultiplayerStep(steps.fixed, 0, 0);
    gProfiler.StopTimer(SECTION_TICK, PROFILER_THREAD_MAIN);
    // The screen the mouse goes to without a modal screen takes its hit candidates too,
    // so that a press on it finds the element under the pointer.
    UpdateScreen(screens[GAMESCREEN_ACTIVE] ? GAMESCREEN_ACTIVE : GAMESCREEN_PRE_FSE);
    UpdateScreen(GAMESCREEN_MODAL);
    UpdateScreen(GAMESCREEN_OVERLAY);
    inputManager->EndFrame();
}

bool Game::TickInBackground() {
    // Unfocused, with an idle multiplayer engine, a delegate that lets it sleep and no scene
    // waiting: only the engine clock and the console move.
    if (focused) return false;
    if (multiplayerEngine && !multiplayerEngine->IsIdle()) return false;
    if (delegate && !delegate->CanSleep()) return false;
    if (switchPending) return false;
    gVornexEngine.Timer().Tick(true);
    ProcessConsoleCommands();
    smoothGameTimer.Tick(0.0f);
    smoothGameplayTimer.Tick(0.0f);
    return true;
}

void Game::MeasureFrameDelta() {
    // 7-8. The frame delta, capped at one step (the excess dropped from both stamps), then
    // averaged over the last four frames.
    const int64_t now = gVornexEngine.Timer().Now();
    float delta = static_cast<float>(now - lastFrameStamp) / kFrequency;
    if (delta < 0.0f) delta = 0.0f;
    if (delta > kStepSeconds) {
        delta = kStepSeconds;
        const int64_t cap = Time::FromFloatSeconds(kStepSeconds).ticks;
        fixedStepStamp += now - cap - lastFrameStamp;
        lastFrameStamp = now - cap;
    }
    lastFrameStamp += Time::FromFloatSeconds(delta).ticks;
    frameDeltas[0] = frameDeltas[1];
    frameDeltas[1] = frameDeltas[2];
    frameDeltas[2] = frameDeltas[3];
    frameDeltas[3] = delta;
    frameDelta = (frameDeltas[0] + frameDeltas[1] + frameDeltas[2] + frameDeltas[3]) * 0.25f;
    SetCounter(COUNTER_FRAME_TIME, frameDelta * 1000.0f);
}

Game::TickSteps Game::PlanSteps(float factor) {
    TickSteps steps;
    // 9. Fixed steps.
    float elapsed = static_cast<float>(lastFrameStamp - fixedStepStamp) / kFrequency;
    if (elapsed < 0.0f) elapsed = 0.0f;
    const float scale = timeMultiplier * factor;
    steps.fixed = StepCount(elapsed * timeMultiplier * factor * kFixedStepsPerSecond);
    if (steps.fixed != 0)
        fixedStepStamp += Time::FromFloatSeconds(static_cast<float>(steps.fixed) * kStepSeconds / scale).ticks;
    else if (!(scale > 0.0f))
        fixedStepStamp = lastFrameStamp;  // no game time: none is owed when the multiplier returns

    // 10. Variable steps: whole steps, then the remainder as a step of its own when it is
    // large enough (or when there is no whole step).
    frameGameDelta = scale * frameDelta;
    steps.gameDelta = frameGameDelta;
    steps.whole = StepCount(steps.gameDelta * kVariableStepsPerSecond);
    steps.remainder = std::max(steps.gameDelta - static_cast<float>(steps.whole) * kStepSeconds, 0.0f);
    steps.variable = steps.whole + (steps.whole == 0 || steps.remainder > kRemainderStep ? 1u : 0u);
    return steps;
}

void Game::RunFixedSteps(const TickSteps& steps) {
    // 15. Smooth time and the engine once per frame, then the fixed steps.
    gameTimer.Tick(0.0f);
    gameplayTimer.Tick(0.0f);
    smoothGameTimer.Tick(steps.gameDelta);
    smoothGameplayTimer.Tick(steps.gameDelta);
    EngineUpdate();
    SetCounter(COUNTER_GAME_DELTA, gameTimer.LastDelta() * 1000.0f);
    const bool gamePaused = gameTimer.IsPaused();
    const bool gameplayPaused = gameplayTimer.IsPaused();
    UpdateInput(focused);
    {
        Section s(SECTION_DELEGATE_SMOOTH_TICK);
        if (delegate) delegate->OnSmoothTick();
    }
    {
        Section s(SECTION_ENTITY_SMOOTH_TICK);
        TickEntitiesSmooth();
    }
    for (uint32_t i = 0; i < steps.fixed; ++i) {
        ++fixedSteps;
        SetLogFrameNumbers(static_cast<int32_t>(fixedSteps), static_cast<int32_t>(tickedFrames));
        gameTimer.Tick(kStepSeconds);
        gameplayTimer.Tick(kStepSeconds);
        if (!gamePaused) GameStep();
        if (!gameplayPaused) {
            Section s(SECTION_GAMEPLAY_SCHEDULER);
            if (gameplayScheduler) gameplayScheduler->Run(gameplayTimer.Time());
        }
        StepMeshAnimations();
    }
    FrameUpkeep();
}

void Game::RunVariableSteps(const TickSteps& steps) {
    // 16. Every sub-step runs the whole frame's work; the last may be the remainder.
    for (uint32_t i = 0; i < steps.variable; ++i) {
        variableSubStep = i;
        const float step = i == steps.whole ? steps.remainder : kStepSeconds;
        gameTimer.Tick(step);
        gameplayTimer.Tick(step);
        smoothGameTimer.Tick(step);
        smoothGameplayTimer.Tick(step);
        EngineUpdate();
        const bool gamePaused = gameTimer.IsPaused();
        const bool gameplayPaused = gameplayTimer.IsPaused();
        SetCounter(COUNTER_GAME_DELTA, gameTimer.LastDelta() * 1000.0f);
        UpdateInput(focused);
        if (!gamePaused)
            GameStep();
        else if (delegate)
            delegate->OnPauseTick();
        if (!gameplayPaused) {
            Section s(SECTION_GAMEPLAY_SCHEDULER);
            if (gameplayScheduler) gameplayScheduler->Run(gameplayTimer.Time());
        }
        FrameUpkeep();
        StepMeshAnimations();
    }
    variableSubStep = 0;
}

void Game::MultiplayerStep(uint32_t steps, uint32_t offsetLow, uint32_t offsetHigh) {
    const uint64_t offset = static_cast<uint64_t>(offsetHigh) << 32 | offsetLow;
    const uint64_t time = static_cast<uint64_t>(gGameClock->GetCurrentTime()) - offset;
    if (lastMultiplayerStep > time) lastMultiplayerStep = time;
    uint64_t k = 0;
    if (steps != 0) {
        k = std::min<uint64_t>(steps, (time - lastMultiplayerStep) / kClockStep);
        lastMultiplayerStep += k * kClockStep;
        const uint64_t behind = (time - lastMultiplayerStep) / kClockStep;
        if (behind >= kCatchUpSteps) {
            k += behind;
            lastMultiplayerStep += behind * kClockStep;
        }
    }
    if (k != 0) {
        if (multiplayerEngine) {
            Section s(SECTION_MULTIPLAYER);
            multiplayerEngine->EndFrame(time);
        }
        if (HasMultiplayerAuthority()) {
            ApplyReplicationChanges(time, replicationTime);
            FlushServerDelayedEntities(time);
        }
        replicationTime = time;
    }
    if (multiplayerEngine) {
        Section s(SECTION_MULTIPLAYER);
        multiplayerEngine->UpdateMainThread();
    }
}
