#pragma once
// Sequences: the scene's scripted timelines. A sequence is a named list of parallel
// tracks; a track is a list of actions run one after another. The one SequenceSystem
// (gSequenceSystem) owns every sequence ("Sequences", kept in case-insensitive name
// order), runs the started ones once per frame from the engine update and keeps the
// semaphores the actions use to wait for one another (the actions themselves are in
// SequenceActions.h).
//
// Time: a running sequence is timed by the Game's gameplay timer or its game timer
// (counter ticks); an action's elapsed time is counted from the timer value at its start.
//
// Main thread only: the tick runs inside the engine update; actions and scripts call
// in on the same thread, and may start or stop sequences from inside the tick.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/Log.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

class BoundedReader;
class EntityManager;
class GameTimer;
class Sequence;

// Base of every sequence action. Virtual operations after those of RTTIPolyBaseClass, in
// order: GetClassName, SaveProgress, LoadProgress, LogState, IsSkippable, OnStart,
// OnEnd, OnStop, Update (Condition is added by the conditional actions).
class SequenceAction : public RTTIPolyBaseClass {
public:
    // Bit of "Editor flags" that disables an action: it is never started, ended,
    // stopped nor waited for.
    static constexpr uint32_t kEditorFlagDisabled = 2;
    // Update's answers: follow the clock (busy while elapsed < "Time"), busy, finished.
    enum : int32_t { UPDATE_FOLLOW_CLOCK = 0, UPDATE_BUSY = 1, UPDATE_FINISHED = 2 };

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    virtual const char* GetClassName() const { return "SequenceAction"; }
    // One f32: the seconds since the start time on the given timer.
    virtual void SaveProgress(Dynarray<uint8_t>& out, const GameTimer& timer) const;
    // Reads that f32 (0 when the read fails) and moves the start time back by it.
    virtual void LoadProgress(BoundedReader& in, const GameTimer& timer);
    virtual void LogState(LogSeverity severity, LogCategory category, int32_t index) const;
    virtual bool IsSkippable() const { return true; }
    virtual void OnStart(Sequence* sequence, bool skipping) {}
    virtual void OnEnd(Sequence* sequence, bool skipping) {}
    virtual void OnStop(Sequence* sequence) {}
    virtual int32_t Update(Sequence* sequence, float elapsed, float fraction, bool skipping) {
        return UPDATE_FOLLOW_CLOCK;
    }

    bool IsDisabled() const { return (editorFlags & kEditorFlagDisabled) != 0; }

    float time = 0.0f;              // "Time", seconds
    float minimalStartTime = 0.0f;  // "Minimal start time": offset from the sequence start
    float editorHelperTime = 0.0f;  // "EditorHelperTime"
    NameString designerComment;     // "Designer comment"
    uint32_t editorFlags = 0;       // "Editor flags"
    int64_t startTime = 0;          // timer ticks when the action started
};

class SequenceTrack : public RTTIPolyBaseClass {
public:
    ~SequenceTrack() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    NameString name;                  // "Name"
    NameString groupName;             // "GroupName" (authoring only)
    bool inGroupFlag = false;         // "InGroupFlag"
    bool groupLabelFlag = false;      // "GroupLabelFlag"
    Dynarray<SequenceAction*> actions;  // "Actions", owned, polymorphic
    int32_t currentIndex = -1;        // -1: not begun
};

class Sequence : public RTTIPolyBaseClass {
public:
    ~Sequence() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    const char* GetName() const { return name.CStr(); }
    bool IsRunning() const { return running; }
    bool IsGameplayTime() const { return gameplayTime; }
    // The stop action's request: the sequence ends on its next tick.
    void RequestStop() { stopRequested = true; }
    bool IsStopRequested() const { return stopRequested; }
    // Marks a running sequence skipped when its skip test passes; false otherwise.
    bool RequestSkip();
    bool IsSkipRequested() const { return skipRequested; }
    // False unless skippable now and every track's current action is skippable.
    bool CanSkip() const;

    // Local semaphores of this run (a set; emptied by each start).
    DynarraySafe<NameString>& LocalSemaphores() { return localSemaphores; }

    NameString name;                   // "Name"
    Dynarray<SequenceTrack*> tracks;   // "Tracks", owned
    bool skippable = false;            // "Skippable"
    NameString editorPath;             // "EditorPath"
    bool unusedEditorFlag = false;     // "UnusedEditorFlag": disabled in the editor
    NameString afterSkip;              // "AfterSkip"
    bool repeatingAllowedFlag = false; // "RepeatingAllowedFlag"

private:
    friend class SequenceSystem;
    // True while some track is still busy.
    bool Tick();
    void Start(bool gameplayTimer);
    void Stop();

    bool running = false;
    bool gameplayTime = false;
    bool stopRequested = false;
    bool skippableNow = false;
    bool skipRequested = false;
    DynarraySafe<NameString> localSemaphores;
};

struct CountingSemaphore {
    NameString name;
    int32_t count = 0;
};

class SequenceSystem : public RTTIPolyBaseClass {
public:
    SequenceSystem() = default;
    ~SequenceSystem() override;
    SequenceSystem(const SequenceSystem&) = delete;
    SequenceSystem& operator=(const SequenceSystem&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // Null for a null name; null with a message for a missing, editor-disabled or
    // running sequence.
    Sequence* StartSequence(const char* name, bool gameplayTime, bool reportMissing);
    // Deferred: stored for the next tick, which stops all and starts `next`.
    void StopAllSequences(bool clearSemaphores, bool deferred, const char* next);
    void Tick();
    void Init(EntityManager* entityManager, bool enable);
    // Stops all, deletes every sequence, frees the semaphores, cancels a deferred stop.
    void Clear();
    // Binary search, case-insensitive.
    Sequence* FindSequence(const char* name) const;
    // Adds a sequence at its sorted place; false (nothing kept) when a sequence of that
    // name (case-insensitive) exists. The system owns an added sequence.
    bool AddSequence(Sequence* sequence);

    // The scene's read: empties the running list and the semaphores first (pauses
    // stay), replaces the sequences, sorts a list read out of order (one warning).
    void OnPreDeserialize(uint32_t options) override;
    void OnLoaded(uint32_t options) override;

    // Gameplay-timer pauses held by sequences; StopAllSequences releases them.
    void AddGameplayPause();
    uint32_t GetGameplayPauseCount() const { return gameplayPauseCount; }

    // The semaphore operations of the actions.
    DynarraySafe<NameString>& GlobalSemaphores() { return globalSemaphores; }
    void IncreaseCounter(const NameString& name, int32_t value);
    int32_t GetCounter(const NameString& name) const;
    static void AddToSet(DynarraySafe<NameString>& set, const NameString& name);
    static void RemoveFromSet(DynarraySafe<NameString>& set, const NameString& name);
    static bool SetHolds(const DynarraySafe<NameString>& set, const NameString& name);

    bool IsEnabled() const { return enabled; }
    uint32_t GetRunningCount() const;
    const Dynarray<Sequence*>& Sequences() const { return sequences; }

    // ---- Script operations ----
    void Enable(bool flag) { enabled = flag; }
    void Log(uint32_t severity, uint32_t category) const;
    Sequence* LuaStartSequence(const char* name) { return StartSequence(name, false, true); }
    void LuaStopAllSequences() { StopAllSequences(true, false, ""); }
    // Inspection by zero-based index. An index out of range answers nil (null), 0, -1
    // or false with one warning.
    uint32_t GetSequenceCount() const { return sequences.Count(); }
    int32_t GetSequenceIndex(const char* name) const;
    const char* GetSequenceName(uint32_t i) const;
    bool IsSequenceRepeatingAllowed(uint32_t i) const;
    bool IsSequenceDisabled(uint32_t i) const;
    uint32_t GetTracksCount(uint32_t i) const;
    const char* GetTrackName(uint32_t i, uint32_t j) const;
    uint32_t GetActionsCount(uint32_t i, uint32_t j) const;
    const char* GetActionName(uint32_t i, uint32_t j, uint32_t k) const;
    bool IsActionDisabled(uint32_t i, uint32_t j, uint32_t k) const;
    // Parameters are numbered across the class chain, the action's own class first,
    // "SequenceAction"'s last.
    uint32_t GetParamCount(uint32_t i, uint32_t j, uint32_t k) const;
    const char* GetParamName(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const;
    int32_t GetParamType(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const;
    bool GetBoolParamValue(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const;
    // Integers and booleans; a float truncated; 0 for text.
    int32_t GetIntParamValue(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const;
    float GetFloatParamValue(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const;
    // The text of name, character-string and script-string parameters; null otherwise.
    const char* GetStringParamValue(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const;

    // The running sequences in start order (null entries only during a tick).
    const Dynarray<Sequence*>& Running() const { return running; }

private:
    friend class Sequence;
    SequenceAction* ActionAt(uint32_t i, uint32_t j, uint32_t k) const;
    const RTTIProperty* ParamAt(uint32_t i, uint32_t j, uint32_t k, uint32_t p, SequenceAction** action) const;
    void FreeSemaphores();

    uint32_t gameplayPauseCount = 0;
    Dynarray<Sequence*> sequences;  // "Sequences", owned, name order
    Dynarray<Sequence*> running;
    DynarraySafe<NameString> globalSemaphores;
    DynarraySafe<CountingSemaphore> countingSemaphores;
    bool enabled = false;
    bool clearOnInit = true;
    bool ticking = false;  // inside Tick's walk of the running list
    bool deferredStopPending = false;
    bool deferredClearSemaphores = false;
    NameString deferredNext;
};

// Made and destroyed by the scene's start-up rows.
extern SequenceSystem* gSequenceSystem;

// The scene's sequence block into gSequenceSystem (its property list, options 0); false
// when the block is corrupt.
bool ReadSequenceBlock(BoundedReader& in);

// The Game's timer that times a sequence (gameplay or game); null without a Game.
GameTimer* SequenceTimer(bool gameplayTime);
