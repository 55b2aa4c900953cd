// The built-in sequence actions and the factory's built-in entries.
#include "scene/sequences/SequenceActions.h"

#include <cstring>

#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/services/GameServices.h"
#include "scene/sequences/LuaSequenceAction.h"

SequenceActionFactory* gSequenceActionFactory = nullptr;

namespace {

template <class T>
struct ClassSlot {
    static inline RTTIClass* descriptor = nullptr;
};

// The descriptor of T (built on first call; its base registered first).
template <class T>
RTTIClass* Describe(const char* name, const char* baseName, bool& fresh) {
    fresh = false;
    if (ClassSlot<T>::descriptor) return ClassSlot<T>::descriptor;
    fresh = true;
    return CreateRegisteredClass(ClassSlot<T>::descriptor, name, baseName,
                                 [](int32_t) -> RTTIPolyBaseClass* { return new T(); });
}

#define ACTION_REGISTRATION(Class, Base, ...)                             \
    const RTTIClass* Class::RegisterClass() {                              \
        Base::RegisterClass();                                             \
        bool fresh = false;                                                \
        RTTIClass* c = Describe<Class>(#Class, #Base, fresh);              \
        if (fresh) {                                                       \
            using Self [[maybe_unused]] = Class;                           \
            __VA_ARGS__                                                    \
        }                                                                  \
        return c;                                                          \
    }                                                                      \
    const RTTIClass* Class::GetRTTIClass() const { return RegisterClass(); }

#define NAME(n, m) AddDirect<NameString>(c, n, RTTI_OFFSETOF(Self, m));
#define BOOL(n, m) AddDirect<bool>(c, n, RTTI_OFFSETOF(Self, m));
#define INT(n, m) AddDirect<int32_t>(c, n, RTTI_OFFSETOF(Self, m));

bool WaitResult(bool skippable, bool skipping, bool holds) {
    if (skippable && skipping) return true;
    return holds;
}

}  // namespace

ACTION_REGISTRATION(SequenceActionSemaphore, SequenceAction, NAME("Semaphore", semaphore))
ACTION_REGISTRATION(SequenceActionRaiseSemaphore, SequenceActionSemaphore, )
ACTION_REGISTRATION(SequenceActionClearSemaphore, SequenceActionSemaphore, )
ACTION_REGISTRATION(SequenceActionRaiseGlobalSemaphore, SequenceActionSemaphore, )
ACTION_REGISTRATION(SequenceActionClearGlobalSemaphore, SequenceActionSemaphore, )
ACTION_REGISTRATION(SequenceActionWaitForSemaphore, SequenceActionSemaphore, BOOL("Skippable", skippable))
ACTION_REGISTRATION(SequenceActionWaitForGlobalSemaphore, SequenceActionSemaphore, BOOL("Skippable", skippable))
ACTION_REGISTRATION(SequenceActionIncreaseGlobalCountingSemaphore, SequenceActionSemaphore, INT("Value", value))
ACTION_REGISTRATION(SequenceActionWaitForGlobalCountingSemaphoreToReach, SequenceActionSemaphore,
                    INT("Value", value) BOOL("Skippable", skippable))
ACTION_REGISTRATION(SequenceActionStartSequence, SequenceAction,
                    NAME("Sequence", sequenceName) BOOL("GameplayTime", gameplayTime))
ACTION_REGISTRATION(SequenceActionStopSequence, SequenceAction, NAME("Sequence", sequenceName))
ACTION_REGISTRATION(SequenceActionConditionalSequence, SequenceAction,
                    NAME("IfYes", ifYes) NAME("IfNo", ifNo) BOOL("GameplayTime", gameplayTime))
ACTION_REGISTRATION(SequenceActionCheckGlobalSemaphore, SequenceActionConditionalSequence,
                    NAME("Semaphore", semaphore))

#undef NAME
#undef BOOL
#undef INT
#undef ACTION_REGISTRATION

// ---------------------------------------------------------------------------------
// Overrides

void SequenceActionRaiseSemaphore::OnStart(Sequence* sequence, bool) {
    SequenceSystem::AddToSet(sequence->LocalSemaphores(), semaphore);
}

void SequenceActionClearSemaphore::OnStart(Sequence* sequence, bool) {
    SequenceSystem::RemoveFromSet(sequence->LocalSemaphores(), semaphore);
}

void SequenceActionRaiseGlobalSemaphore::OnStart(Sequence*, bool) {
    if (gSequenceSystem) SequenceSystem::AddToSet(gSequenceSystem->GlobalSemaphores(), semaphore);
}

void SequenceActionClearGlobalSemaphore::OnStart(Sequence*, bool) {
    if (gSequenceSystem) SequenceSystem::RemoveFromSet(gSequenceSystem->GlobalSemaphores(), semaphore);
}

int32_t SequenceActionWaitForSemaphore::Update(Sequence* sequence, float, float, bool skipping) {
    return WaitResult(skippable, skipping, SequenceSystem::SetHolds(sequence->LocalSemaphores(), semaphore))
               ? UPDATE_FINISHED
               : UPDATE_BUSY;
}

int32_t SequenceActionWaitForGlobalSemaphore::Update(Sequence*, float, float, bool skipping) {
    const bool holds = gSequenceSystem && SequenceSystem::SetHolds(gSequenceSystem->GlobalSemaphores(), semaphore);
    return WaitResult(skippable, skipping, holds) ? UPDATE_FINISHED : UPDATE_BUSY;
}

void SequenceActionIncreaseGlobalCountingSemaphore::OnStart(Sequence*, bool) {
    if (gSequenceSystem) gSequenceSystem->IncreaseCounter(semaphore, value);
}

int32_t SequenceActionWaitForGlobalCountingSemaphoreToReach::Update(Sequence*, float, float, bool skipping) {
    const int32_t count = gSequenceSystem ? gSequenceSystem->GetCounter(semaphore) : 0;
    return WaitResult(skippable, skipping, count >= value) ? UPDATE_FINISHED : UPDATE_BUSY;
}

void StartSequenceFromAction(const NameString& name, bool gameplayTime, bool delegateFlag) {
    if (name.IsEmpty() || !gSequenceSystem) return;
    GameDelegate* delegate = GetGameServices().GetDelegate();
    if (delegate && delegate->OverrideStartSequence(name.CStr(), delegateFlag)) return;
    gSequenceSystem->StartSequence(name.CStr(), gameplayTime, true);
}

void SequenceActionStartSequence::OnStart(Sequence*, bool) {
    StartSequenceFromAction(sequenceName, gameplayTime, gameplayTime);
}

void SequenceActionStopSequence::OnStart(Sequence*, bool) {
    if (!gSequenceSystem || sequenceName.IsEmpty()) return;
    Sequence* s = gSequenceSystem->FindSequence(sequenceName.CStr());
    if (s && s->IsRunning()) s->RequestStop();
}

void SequenceActionConditionalSequence::OnStart(Sequence*, bool) {
    StartSequenceFromAction(Condition() ? ifYes : ifNo, gameplayTime, false);
}

bool SequenceActionCheckGlobalSemaphore::Condition() const {
    return gSequenceSystem && SequenceSystem::SetHolds(gSequenceSystem->GlobalSemaphores(), semaphore);
}

// ---------------------------------------------------------------------------------
// Registration

void RegisterSequenceActionClasses() {
    SequenceAction::RegisterClass();
    SequenceActionSemaphore::RegisterClass();
    SequenceActionStartSequence::RegisterClass();
    SequenceActionRaiseSemaphore::RegisterClass();
    SequenceActionClearSemaphore::RegisterClass();
    SequenceActionWaitForSemaphore::RegisterClass();
    SequenceActionWaitForGlobalSemaphore::RegisterClass();
    SequenceActionIncreaseGlobalCountingSemaphore::RegisterClass();
    SequenceActionRaiseGlobalSemaphore::RegisterClass();
    SequenceActionClearGlobalSemaphore::RegisterClass();
    SequenceActionStopSequence::RegisterClass();
    SequenceActionConditionalSequence::RegisterClass();
    SequenceActionCheckGlobalSemaphore::RegisterClass();
    SequenceActionWaitForGlobalCountingSemaphoreToReach::RegisterClass();
}

void RegisterBuiltInSequenceActions(SequenceActionFactory& factory) {
    static const char* const kOrder[] = {
        "SequenceActionStartSequence",
        "SequenceActionRaiseSemaphore",
        "SequenceActionClearSemaphore",
        "SequenceActionWaitForSemaphore",
        "SequenceActionWaitForGlobalSemaphore",
        "SequenceActionIncreaseGlobalCountingSemaphore",
        "SequenceActionRaiseGlobalSemaphore",
        "SequenceActionClearGlobalSemaphore",
        "SequenceActionStopSequence",
        "SequenceActionConditionalSequence",
        "SequenceActionCheckGlobalSemaphore",
        "SequenceActionWaitForGlobalCountingSemaphoreToReach",
    };
    for (const char* name : kOrder) factory.RegisterClass(name);
}

// ---------------------------------------------------------------------------------
// Factory: built-in part

SequenceActionClassEntry::~SequenceActionClassEntry() {
    if (descriptor) {
        RTTIClassRegistry::RemoveClass(descriptor);
        delete descriptor;
    }
}

SequenceActionFactory::~SequenceActionFactory() { Clear(); }

void SequenceActionFactory::RegisterClass(const char* className) {
    auto* e = new SequenceActionClassEntry();
    e->classIndex = NameRegistry::FindIndex(className);
    e->className = className;
    if (entries.Add(e) == kDynarrayNone) delete e;
}

SequenceActionClassEntry* SequenceActionFactory::FindEntry(const char* className) const {
    if (!className) return nullptr;
    for (SequenceActionClassEntry* e : entries)
        if (std::strcmp(e->className.CStr(), className) == 0) return e;
    return nullptr;
}

SequenceActionClassEntry* SequenceActionFactory::FindEntryByIndex(int32_t classIndex) const {
    if (classIndex < 0) return nullptr;
    for (SequenceActionClassEntry* e : entries)
        if (e->classIndex == classIndex) return e;
    return nullptr;
}

void SequenceActionFactory::Clear() {
    // Live script instances outlive their entry only in the scene's sequences; they keep
    // working as plain timed actions without it.
    for (SequenceActionClassEntry* e : entries)
        for (LuaSequenceAction* a : e->liveInstances) a->DetachFromEntry();
    DeleteOwnedPointerArray(entries);
    lookupNames.Release();
}
