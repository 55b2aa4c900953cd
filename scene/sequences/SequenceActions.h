#pragma once
// The built-in sequence actions and the action factory (gSequenceActionFactory).
//
// The built-ins synchronise and chain sequences: named semaphores local to one running
// sequence, global semaphores and counters shared by all, and actions that start, stop or
// conditionally start other sequences. Semaphore names are NameStrings compared as exact
// text. The factory lists every action class a script or tool may name: the built-ins, in
// a fixed order, and the classes scripts declare (LuaSequenceAction.h).
//
// Main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"
#include "scene/sequences/SequenceSystem.h"

class LuaSequenceAction;

class SequenceActionSemaphore : public SequenceAction {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "SequenceActionSemaphore"; }
    NameString semaphore;  // "Semaphore"
};

#define SEQUENCE_ACTION_CLASS(Name, Base)                        \
    static const RTTIClass* RegisterClass();                     \
    const RTTIClass* GetRTTIClass() const override;              \
    const char* GetClassName() const override { return #Name; }

class SequenceActionRaiseSemaphore : public SequenceActionSemaphore {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionRaiseSemaphore, SequenceActionSemaphore)
    void OnStart(Sequence* sequence, bool skipping) override;
};

class SequenceActionClearSemaphore : public SequenceActionSemaphore {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionClearSemaphore, SequenceActionSemaphore)
    void OnStart(Sequence* sequence, bool skipping) override;
};

class SequenceActionRaiseGlobalSemaphore : public SequenceActionSemaphore {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionRaiseGlobalSemaphore, SequenceActionSemaphore)
    void OnStart(Sequence* sequence, bool skipping) override;
};

class SequenceActionClearGlobalSemaphore : public SequenceActionSemaphore {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionClearGlobalSemaphore, SequenceActionSemaphore)
    void OnStart(Sequence* sequence, bool skipping) override;
};

class SequenceActionWaitForSemaphore : public SequenceActionSemaphore {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionWaitForSemaphore, SequenceActionSemaphore)
    int32_t Update(Sequence* sequence, float elapsed, float fraction, bool skipping) override;
    bool IsSkippable() const override { return skippable; }
    bool skippable = false;  // "Skippable"
};

class SequenceActionWaitForGlobalSemaphore : public SequenceActionSemaphore {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionWaitForGlobalSemaphore, SequenceActionSemaphore)
    int32_t Update(Sequence* sequence, float elapsed, float fraction, bool skipping) override;
    bool IsSkippable() const override { return skippable; }
    bool skippable = false;  // "Skippable"
};

class SequenceActionIncreaseGlobalCountingSemaphore : public SequenceActionSemaphore {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionIncreaseGlobalCountingSemaphore, SequenceActionSemaphore)
    void OnStart(Sequence* sequence, bool skipping) override;
    int32_t value = 1;  // "Value"
};

class SequenceActionWaitForGlobalCountingSemaphoreToReach : public SequenceActionSemaphore {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionWaitForGlobalCountingSemaphoreToReach, SequenceActionSemaphore)
    int32_t Update(Sequence* sequence, float elapsed, float fraction, bool skipping) override;
    bool IsSkippable() const override { return skippable; }
    int32_t value = 1;       // "Value"
    bool skippable = false;  // "Skippable"
};

class SequenceActionStartSequence : public SequenceAction {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionStartSequence, SequenceAction)
    void OnStart(Sequence* sequence, bool skipping) override;
    NameString sequenceName;    // "Sequence"
    bool gameplayTime = false;  // "GameplayTime"
};

class SequenceActionStopSequence : public SequenceAction {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionStopSequence, SequenceAction)
    void OnStart(Sequence* sequence, bool skipping) override;
    NameString sequenceName;  // "Sequence"
};

class SequenceActionConditionalSequence : public SequenceAction {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionConditionalSequence, SequenceAction)
    void OnStart(Sequence* sequence, bool skipping) override;
    virtual bool Condition() const { return true; }
    NameString ifYes;           // "IfYes"
    NameString ifNo;            // "IfNo"
    bool gameplayTime = false;  // "GameplayTime"
};

class SequenceActionCheckGlobalSemaphore : public SequenceActionConditionalSequence {
public:
    SEQUENCE_ACTION_CLASS(SequenceActionCheckGlobalSemaphore, SequenceActionConditionalSequence)
    bool Condition() const override;
    NameString semaphore;  // "Semaphore"
};

#undef SEQUENCE_ACTION_CLASS

// Starts a sequence on an action's behalf: the game delegate's override first (non-null:
// handled), else SequenceSystem::StartSequence reporting a missing name. An empty name
// starts nothing.
void StartSequenceFromAction(const NameString& name, bool gameplayTime, bool delegateFlag);

// One action class the factory knows.
struct SequenceActionClassEntry {
    SequenceActionClassEntry() = default;
    SequenceActionClassEntry(const SequenceActionClassEntry&) = delete;
    SequenceActionClassEntry& operator=(const SequenceActionClassEntry&) = delete;
    ~SequenceActionClassEntry();

    bool redeclarationMark = false;
    int32_t lookupParamIndex = -1;
    int32_t classIndex = -1;  // row in the class-name registry
    NameString className;
    NameString baseClassName;  // empty for built-ins
    bool instant = false;      // new script instances get "Time" 0 instead of 1
    bool scriptDeclared = false;
    // Parameter names by type: bool, int, float, string.
    DynarraySafe<NameString> paramNames[4];
    DynarraySafe<NameString> lookupParamNames;
    Dynarray<LuaSequenceAction*> liveInstances;
    RTTIClass* descriptor = nullptr;  // script classes only; owned
};

class SequenceActionFactory {
public:
    SequenceActionFactory() = default;
    ~SequenceActionFactory();
    SequenceActionFactory(const SequenceActionFactory&) = delete;
    SequenceActionFactory& operator=(const SequenceActionFactory&) = delete;

    // A built-in entry for a class registered with the class-name registry.
    void RegisterClass(const char* className);
    // Linear, exact.
    SequenceActionClassEntry* FindEntry(const char* className) const;
    SequenceActionClassEntry* FindEntryByIndex(int32_t classIndex) const;
    void Clear();

    bool IsOutdated() const { return outdated; }
    void SetOutdated(bool flag) { outdated = flag; }

    uint32_t EntryCount() const { return entries.Count(); }
    SequenceActionClassEntry* EntryAt(uint32_t i) const { return entries[i]; }

    // ---- Script-declared classes (LuaSequenceAction.cpp) ----
    // The class index; a re-registered name answers its existing index; -1 with an error
    // line when the class-name registry already holds the name for another class.
    int32_t RegisterLuaSequenceActionClass(const char* name, const char* baseName, bool instant,
                                           const char* lookupParamName);
    void AddLuaSequenceActionParam(int32_t classIndex, const char* paramName, const char* typeName);
    void AddSequenceActionLookupParamName(int32_t classIndex, const char* name);
    void BeginLuaActionsSync();
    void EndLuaActionsSync();
    LuaSequenceAction* CreateLuaAction(SequenceActionClassEntry* entry);
    const DynarraySafe<NameString>& LookupNames() const { return lookupNames; }

private:
    bool outdated = false;
    Dynarray<SequenceActionClassEntry*> entries;
    DynarraySafe<NameString> lookupNames;
};

// Made and destroyed by the scene's start-up rows.
extern SequenceActionFactory* gSequenceActionFactory;

// Registers the RTTI classes of every built-in action, base classes first.
void RegisterSequenceActionClasses();
// The twelve factory entries, in their fixed order.
void RegisterBuiltInSequenceActions(SequenceActionFactory& factory);
