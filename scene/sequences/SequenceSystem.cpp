// The sequence system: start, stop and the per-frame tick of sequences, tracks and
// actions, the scene's read of the sequence list, and the script-facing inspection.
//
// The tick walks the running list by index, re-reading its length, so actions may start
// sequences (appended and ticked in the same pass) or stop everything (entries nulled)
// from inside it; null entries are compacted once the pass is over.
#include "scene/sequences/SequenceSystem.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "core/BoundedReader.h"
#include "core/SortedSearch.h"
#include "core/Time.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/services/GameServices.h"
#include "engine/services/GameTimer.h"
#include "platform/os/Clock.h"

SequenceSystem* gSequenceSystem = nullptr;

namespace {

RTTIClass* gActionClass = nullptr;
RTTIClass* gTrackClass = nullptr;
RTTIClass* gSequenceClass = nullptr;
RTTIClass* gSystemClass = nullptr;

bool SameText(const char* a, const char* b) { return std::strcmp(a ? a : "", b ? b : "") == 0; }

float SecondsSince(const GameTimer& timer, int64_t start) {
    return static_cast<float>(timer.Time() - start) / static_cast<float>(os::kCounterFrequency);
}

// Tracks report busy while blocked on an action.
bool TickTrack(SequenceTrack& track, const GameTimer& timer, Sequence* sequence, bool skipping);

// The action's update; true while busy.
bool UpdateAction(SequenceAction& action, const GameTimer& timer, Sequence* sequence, bool skipping) {
    if (action.IsDisabled()) return false;
    float elapsed = SecondsSince(timer, action.startTime);
    bool following = true;
    if (elapsed >= action.time || skipping) {
        following = false;
        elapsed = action.time;
    }
    // A zero-length action is complete: its fraction is 1.
    const float fraction = action.time != 0.0f ? elapsed / action.time : 1.0f;
    switch (action.Update(sequence, elapsed, fraction, skipping)) {
        case SequenceAction::UPDATE_FOLLOW_CLOCK: return following;
        case SequenceAction::UPDATE_FINISHED: return false;
        default: return true;
    }
}

bool TickTrack(SequenceTrack& track, const GameTimer& timer, Sequence* sequence, bool skipping) {
    if (track.currentIndex >= static_cast<int32_t>(track.actions.Count())) return false;
    for (;;) {
        // A stop request, or a StopAllSequences reached from one of this sequence's
        // actions, ends the walk.
        if (sequence->IsStopRequested() || !sequence->IsRunning()) return false;
        if (track.currentIndex >= 0) {
            SequenceAction* current = track.actions[track.currentIndex];
            if (UpdateAction(*current, timer, sequence, skipping)) return true;
            if (!current->IsDisabled()) current->OnEnd(sequence, skipping);
        }
        ++track.currentIndex;
        // OnEnd may have stopped the sequence and a later start reset the index; the
        // count is read again each time.
        if (track.currentIndex >= 0 && track.currentIndex < static_cast<int32_t>(track.actions.Count())) {
            SequenceAction* next = track.actions[track.currentIndex];
            next->startTime = timer.Time();
            if (!next->IsDisabled()) next->OnStart(sequence, skipping);
        }
        if (track.currentIndex >= static_cast<int32_t>(track.actions.Count())) return false;
    }
}

// The property of index p across the chain (own class first, "SequenceAction" last).
const RTTIProperty* ChainProperty(const RTTIClass* cls, uint32_t p, uint32_t* count) {
    uint32_t n = 0;
    for (const RTTIClass* c = cls; c; c = c->Base()) {
        for (uint32_t i = 0; i < c->PropertyCount(); ++i, ++n)
            if (!count && n == p) return c->PropertyAt(i);
        if (c == gActionClass || SameText(c->Name(), "SequenceAction")) break;
    }
    if (count) *count = n;
    return nullptr;
}

template <class T>
bool ReadTyped(const RTTIProperty* p, const void* object, T& out) {
    auto* typed = dynamic_cast<const RTTITypedProperty<T>*>(p);
    if (!typed) return false;
    out = typed->GetValue(object);
    return true;
}

// The numeric value of a typed property (integers, booleans, floats); false for others.
bool NumericValue(const RTTIProperty* p, const void* object, double& out) {
    bool b;
    int32_t i;
    uint32_t u;
    uint16_t s;
    uint8_t c;
    float f;
    if (ReadTyped(p, object, b)) return out = b ? 1 : 0, true;
    if (ReadTyped(p, object, i)) return out = i, true;
    if (ReadTyped(p, object, u)) return out = u, true;
    if (ReadTyped(p, object, s)) return out = s, true;
    if (ReadTyped(p, object, c)) return out = c, true;
    if (ReadTyped(p, object, f)) return out = f, true;
    return false;
}

template <class T>
void DropNulls(Dynarray<T*>& a) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < a.Count(); ++i)
        if (a[i]) a[kept++] = a[i];
    a.Resize(kept);
}

void IndexWarning(const char* function) {
    gLog.Warning(LogCategory::Script, "SequenceSystem::%s: index out of range", function);
}

}  // namespace

bool ReadSequenceBlock(BoundedReader& in) {
    if (!gSequenceSystem) return false;
    gSequenceSystem->SolidDeserialize(in, 0);
    return !in.Failed();
}

namespace {

// Adds (or removes) one pause of the Game's gameplay and smooth gameplay timers.
void PauseGameplayTimers(bool pause) {
    GameServices& game = GetGameServices();
    if (GameTimer* t = game.GetGameplayTimer()) t->Pause(pause);
    if (GameTimer* t = game.GetSmoothGameplayTimer()) t->Pause(pause);
}

}  // namespace

GameTimer* SequenceTimer(bool gameplayTime) {
    return gameplayTime ? GetGameServices().GetGameplayTimer() : GetGameServices().GetGameTimer();
}

// ---------------------------------------------------------------------------------
// SequenceAction

const RTTIClass* SequenceAction::RegisterClass() {
    if (gActionClass) return gActionClass;
    RTTIClass* c = CreateRegisteredClass(gActionClass, "SequenceAction", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SequenceAction(); });
    AddDirect<float>(c, "Time", RTTI_OFFSETOF(SequenceAction, time));
    AddDirect<float>(c, "Minimal start time", RTTI_OFFSETOF(SequenceAction, minimalStartTime));
    AddDirect<float>(c, "EditorHelperTime", RTTI_OFFSETOF(SequenceAction, editorHelperTime));
    AddDirect<NameString>(c, "Designer comment", RTTI_OFFSETOF(SequenceAction, designerComment));
    AddDirect<uint32_t>(c, "Editor flags", RTTI_OFFSETOF(SequenceAction, editorFlags));
    return c;
}

const RTTIClass* SequenceAction::GetRTTIClass() const { return RegisterClass(); }

void SequenceAction::SaveProgress(Dynarray<uint8_t>& out, const GameTimer& timer) const {
    const float seconds = SecondsSince(timer, startTime);
    uint8_t bytes[4];
    std::memcpy(bytes, &seconds, 4);
    for (uint8_t b : bytes) out.Add(b);
}

void SequenceAction::LoadProgress(BoundedReader& in, const GameTimer& timer) {
    float seconds = 0.0f;
    if (!in.Read(&seconds, 4)) seconds = 0.0f;
    // A stored value beyond a century (or not a number) would not convert to ticks.
    constexpr float kLimit = 100.0f * 365.0f * 86400.0f;
    if (!(seconds >= -kLimit && seconds <= kLimit)) seconds = 0.0f;
    startTime = timer.Time() - Time::FromFloatSeconds(seconds).ticks;
}

void SequenceAction::LogState(LogSeverity severity, LogCategory category, int32_t index) const {
    gLog.Print(severity, category, "\t\t\t\t\t\t%d.) Action: %s, skippable: %s", index, GetClassName(),
               IsSkippable() ? "true" : "false");
}

// ---------------------------------------------------------------------------------
// SequenceTrack and Sequence

SequenceTrack::~SequenceTrack() { DeleteOwnedPointerArray(actions); }

const RTTIClass* SequenceTrack::RegisterClass() {
    if (gTrackClass) return gTrackClass;
    RTTIClass* c = CreateRegisteredClass(gTrackClass, "SequenceTrack", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SequenceTrack(); });
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(SequenceTrack, name));
    AddDirect<NameString>(c, "GroupName", RTTI_OFFSETOF(SequenceTrack, groupName));
    AddDirect<bool>(c, "InGroupFlag", RTTI_OFFSETOF(SequenceTrack, inGroupFlag));
    AddDirect<bool>(c, "GroupLabelFlag", RTTI_OFFSETOF(SequenceTrack, groupLabelFlag));
    c->AddProperty(new RTTIDynarrayOfPolyObjectPointersProperty<Dynarray<SequenceAction*>>(
        "Actions", RTTI_OFFSETOF(SequenceTrack, actions)));
    return c;
}

const RTTIClass* SequenceTrack::GetRTTIClass() const { return RegisterClass(); }

Sequence::~Sequence() { DeleteOwnedPointerArray(tracks); }

const RTTIClass* Sequence::RegisterClass() {
    if (gSequenceClass) return gSequenceClass;
    RTTIClass* c = CreateRegisteredClass(gSequenceClass, "Sequence", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new Sequence(); });
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(Sequence, name));
    c->AddProperty(new RTTIDynarrayOfPolyObjectPointersProperty<Dynarray<SequenceTrack*>>(
        "Tracks", RTTI_OFFSETOF(Sequence, tracks)));
    AddDirect<bool>(c, "Skippable", RTTI_OFFSETOF(Sequence, skippable));
    AddDirect<NameString>(c, "EditorPath", RTTI_OFFSETOF(Sequence, editorPath));
    AddDirect<bool>(c, "UnusedEditorFlag", RTTI_OFFSETOF(Sequence, unusedEditorFlag));
    AddDirect<NameString>(c, "AfterSkip", RTTI_OFFSETOF(Sequence, afterSkip));
    AddDirect<bool>(c, "RepeatingAllowedFlag", RTTI_OFFSETOF(Sequence, repeatingAllowedFlag));
    return c;
}

const RTTIClass* Sequence::GetRTTIClass() const { return RegisterClass(); }

bool Sequence::CanSkip() const {
    if (!skippableNow) return false;
    for (const SequenceTrack* t : tracks) {
        if (t->currentIndex >= 0 && t->currentIndex < static_cast<int32_t>(t->actions.Count()) &&
            !t->actions[t->currentIndex]->IsSkippable())
            return false;
    }
    return true;
}

bool Sequence::RequestSkip() {
    if (!running || !CanSkip()) return false;
    skipRequested = true;
    return true;
}

void Sequence::Start(bool gameplayTimer) {
    running = true;
    localSemaphores.Clear();
    skippableNow = skippable;
    gameplayTime = gameplayTimer;
    for (SequenceTrack* t : tracks) t->currentIndex = -1;
}

void Sequence::Stop() {
    running = false;
    stopRequested = false;
    skipRequested = false;
    for (SequenceTrack* t : tracks) {
        if (t->currentIndex < 0 || t->currentIndex >= static_cast<int32_t>(t->actions.Count())) continue;
        SequenceAction* a = t->actions[t->currentIndex];
        if (!a->IsDisabled()) a->OnStop(this);
    }
}

bool Sequence::Tick() {
    if (stopRequested) return false;
    const GameTimer* timer = SequenceTimer(gameplayTime);
    static const GameTimer kStopped;
    if (!timer) timer = &kStopped;
    bool busy = false;
    // Walked by index: an action may stop this sequence (its tracks then return at once).
    for (uint32_t i = 0; i < tracks.Count(); ++i)
        if (TickTrack(*tracks[i], *timer, this, skipRequested)) busy = true;
    if (skipRequested && !afterSkip.IsEmpty() && gSequenceSystem) {
        Sequence* next = gSequenceSystem->StartSequence(afterSkip.CStr(), false, true);
        if (next && next->CanSkip()) next->skipRequested = true;
    }
    skipRequested = false;
    return busy;
}

// ---------------------------------------------------------------------------------
// SequenceSystem

SequenceSystem::~SequenceSystem() { Clear(); }

const RTTIClass* SequenceSystem::RegisterClass() {
    if (gSystemClass) return gSystemClass;
    RTTIClass* c = CreateRegisteredClass(gSystemClass, "SequenceSystem", kRTTIRootBaseName);
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<Sequence*>>(
        "Sequences", RTTI_OFFSETOF(SequenceSystem, sequences)));
    return c;
}

const RTTIClass* SequenceSystem::GetRTTIClass() const { return RegisterClass(); }

Sequence* SequenceSystem::FindSequence(const char* name) const {
    if (!name) return nullptr;
    const SortedSearchResult r = FindSortedEqual(sequences.Count(), [&](uint32_t i) {
        return RTTIStricmp(name, sequences[i]->GetName());
    });
    return r.found ? sequences[r.index] : nullptr;
}

bool SequenceSystem::AddSequence(Sequence* sequence) {
    if (!sequence) return false;
    const SortedSearchResult r = FindSortedEqual(sequences.Count(), [&](uint32_t i) {
        return RTTIStricmp(sequence->GetName(), sequences[i]->GetName());
    });
    return !r.found && sequences.Insert(sequence, r.index);
}

Sequence* SequenceSystem::StartSequence(const char* name, bool gameplayTime, bool reportMissing) {
    if (!name) return nullptr;
    Sequence* s = FindSequence(name);
    if (!s) {
        if (reportMissing) gLog.Error(LogCategory::Script, "Sequence %s cannot be found!", name);
        return nullptr;
    }
    if (s->unusedEditorFlag) {
        gLog.Print(LogSeverity::Warning, LogCategory::Script, "Skipping sequence %s (disabled in editor).", name);
        return nullptr;
    }
    if (s->running) {
        gLog.Error(LogCategory::Script, "Sequence %s already started!", name);
        return nullptr;
    }
    if (running.Add(s) == kDynarrayNone) return nullptr;
    s->Start(gameplayTime);
    return s;
}

void SequenceSystem::StopAllSequences(bool clearSemaphores, bool deferred, const char* next) {
    if (deferred) {
        deferredStopPending = true;
        deferredClearSemaphores = clearSemaphores;
        deferredNext = next ? next : "";
        return;
    }
    // Entries are nulled before each stop, so an OnStop hook that stops again, or a tick
    // still walking the list, finds nothing left to stop.
    for (uint32_t i = 0; i < running.Count(); ++i) {
        Sequence* s = running[i];
        running[i] = nullptr;
        if (s) s->Stop();
    }
    // Inside a tick the nulled entries stay until the pass compacts them, so a sequence
    // started after this stop is appended behind the walk and still ticked in the pass.
    if (!ticking) running.Clear();
    for (; gameplayPauseCount > 0; --gameplayPauseCount) {
        PauseGameplayTimers(false);
    }
    if (clearSemaphores) {
        globalSemaphores.Clear();
        countingSemaphores.Clear();
    }
}

void SequenceSystem::AddGameplayPause() {
    ++gameplayPauseCount;
    PauseGameplayTimers(true);
}

void SequenceSystem::Tick() {
    if (!enabled) return;
    if (deferredStopPending) {
        deferredStopPending = false;
        StopAllSequences(deferredClearSemaphores, false, "");
        if (!deferredNext.IsEmpty()) {
            const NameString next = deferredNext;
            deferredNext.Clear();
            StartSequence(next.CStr(), false, true);
        }
        return;
    }
    ticking = true;
    for (uint32_t i = 0; i < running.Count(); ++i) {
        Sequence* s = running[i];
        if (!s) continue;
        if (!s->Tick()) {
            // The tick may have stopped everything already.
            if (i < running.Count() && running[i] == s) {
                running[i] = nullptr;
                s->Stop();
            }
        }
    }
    ticking = false;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < running.Count(); ++i)
        if (running[i]) running[kept++] = running[i];
    running.Resize(kept);
}

uint32_t SequenceSystem::GetRunningCount() const {
    uint32_t n = 0;
    for (const Sequence* s : running) n += s ? 1 : 0;
    return n;
}

void SequenceSystem::Init(EntityManager*, bool enable) {
    enabled = enable;
    if (clearOnInit) Clear();
}

void SequenceSystem::FreeSemaphores() {
    globalSemaphores.Release();
    countingSemaphores.Release();
}

void SequenceSystem::Clear() {
    StopAllSequences(true, false, "");
    running.Release();
    DeleteOwnedPointerArray(sequences);
    FreeSemaphores();
    deferredStopPending = false;
    deferredNext.Clear();
}

void SequenceSystem::OnPreDeserialize(uint32_t) {
    // The sequences themselves are replaced by the reader; the stopped ones must not be
    // left in the running list.
    for (Sequence* s : running)
        if (s) s->running = false;
    running.Release();
    FreeSemaphores();
}

void SequenceSystem::OnLoaded(uint32_t) {
    // Entries stored absent (null sequences, tracks or actions) are dropped: the lookup
    // and the tick expect every slot filled.
    DropNulls(sequences);
    for (Sequence* s : sequences) {
        DropNulls(s->tracks);
        for (SequenceTrack* t : s->tracks) DropNulls(t->actions);
    }
    auto less = [](const Sequence* a, const Sequence* b) { return RTTIStricmp(a->GetName(), b->GetName()) < 0; };
    if (!std::is_sorted(sequences.begin(), sequences.end(), less)) {
        gLog.Warning(LogCategory::Script, "Sequences not in name order; sorted");
        std::stable_sort(sequences.begin(), sequences.end(), less);
    }
}

void SequenceSystem::AddToSet(DynarraySafe<NameString>& set, const NameString& name) {
    if (!SetHolds(set, name)) set.Add(name);
}

void SequenceSystem::RemoveFromSet(DynarraySafe<NameString>& set, const NameString& name) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < set.Count(); ++i)
        if (set[i] != name) {
            if (kept != i) set[kept] = set[i];
            ++kept;
        }
    set.Resize(kept);
}

bool SequenceSystem::SetHolds(const DynarraySafe<NameString>& set, const NameString& name) {
    for (const NameString& n : set)
        if (n == name) return true;
    return false;
}

void SequenceSystem::IncreaseCounter(const NameString& name, int32_t value) {
    for (CountingSemaphore& c : countingSemaphores)
        if (c.name == name) {
            // Saturates instead of overflowing (a block's "Value" is any 32-bit number).
            const int64_t sum = int64_t(c.count) + value;
            c.count = int32_t(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
            return;
        }
    CountingSemaphore added;
    added.name = name;
    added.count = value;
    countingSemaphores.Add(added);
}

int32_t SequenceSystem::GetCounter(const NameString& name) const {
    for (const CountingSemaphore& c : countingSemaphores)
        if (c.name == name) return c.count;
    return 0;
}

void SequenceSystem::Log(uint32_t severityValue, uint32_t categoryValue) const {
    const auto severity = static_cast<LogSeverity>(severityValue);
    const auto category = static_cast<LogCategory>(categoryValue);
    gLog.Print(severity, category, "//===== Active Sequences Begin ======//");
    for (const Sequence* s : running) {
        if (!s) continue;
        gLog.Print(severity, category, "\t\t//===== Sequence: %s Begin", s->GetName());
        gLog.Print(severity, category, "\t\t\t//===== Active Semaphores Begin");
        for (const NameString& n : s->localSemaphores) gLog.Print(severity, category, "\t\t\tSemaphore: %s", n.CStr());
        gLog.Print(severity, category, "\t\t\t//===== Active Semaphores End");
        for (const SequenceTrack* t : s->tracks) {
            gLog.Print(severity, category, "\t\t\t\t//===== Track Begin");
            gLog.Print(severity, category, "\t\t\t\t\t\tActiveSequenceIndex: %d", t->currentIndex);
            for (uint32_t k = 0; k < t->actions.Count(); ++k)
                if (t->actions[k]) t->actions[k]->LogState(severity, category, static_cast<int32_t>(k));
            gLog.Print(severity, category, "\t\t\t\t//===== Track End");
        }
        gLog.Print(severity, category, "\t\t//===== Sequence: %s End", s->GetName());
    }
    gLog.Print(severity, category, "//===== Active Sequences End ======//");
    gLog.Print(severity, category, "//===== Raised Global Semaphores Begin ======//");
    for (const NameString& n : globalSemaphores) gLog.Print(severity, category, "Semaphore: %s", n.CStr());
    gLog.Print(severity, category, "//===== Raised Global Semaphores End ======//");
    gLog.Print(severity, category, "//=====================================//");
}

// ---- Inspection ----

int32_t SequenceSystem::GetSequenceIndex(const char* name) const {
    for (uint32_t i = 0; i < sequences.Count(); ++i)
        if (SameText(sequences[i]->GetName(), name)) return static_cast<int32_t>(i);
    return -1;
}

const char* SequenceSystem::GetSequenceName(uint32_t i) const {
    if (i >= sequences.Count()) return IndexWarning("GetSequenceName"), nullptr;
    return sequences[i]->GetName();
}

bool SequenceSystem::IsSequenceRepeatingAllowed(uint32_t i) const {
    if (i >= sequences.Count()) return IndexWarning("IsSequenceRepeatingAllowed"), false;
    return sequences[i]->repeatingAllowedFlag;
}

bool SequenceSystem::IsSequenceDisabled(uint32_t i) const {
    if (i >= sequences.Count()) return IndexWarning("IsSequenceDisabled"), false;
    return sequences[i]->unusedEditorFlag;
}

uint32_t SequenceSystem::GetTracksCount(uint32_t i) const {
    if (i >= sequences.Count()) return IndexWarning("GetTracksCount"), 0;
    return sequences[i]->tracks.Count();
}

const char* SequenceSystem::GetTrackName(uint32_t i, uint32_t j) const {
    if (i >= sequences.Count() || j >= sequences[i]->tracks.Count()) return IndexWarning("GetTrackName"), nullptr;
    return sequences[i]->tracks[j]->name.CStr();
}

uint32_t SequenceSystem::GetActionsCount(uint32_t i, uint32_t j) const {
    if (i >= sequences.Count() || j >= sequences[i]->tracks.Count()) return IndexWarning("GetActionsCount"), 0;
    return sequences[i]->tracks[j]->actions.Count();
}

SequenceAction* SequenceSystem::ActionAt(uint32_t i, uint32_t j, uint32_t k) const {
    if (i >= sequences.Count()) return nullptr;
    const Sequence* s = sequences[i];
    if (j >= s->tracks.Count() || k >= s->tracks[j]->actions.Count()) return nullptr;
    return s->tracks[j]->actions[k];
}

const char* SequenceSystem::GetActionName(uint32_t i, uint32_t j, uint32_t k) const {
    SequenceAction* a = ActionAt(i, j, k);
    if (!a) return IndexWarning("GetActionName"), nullptr;
    return a->GetClassName();
}

bool SequenceSystem::IsActionDisabled(uint32_t i, uint32_t j, uint32_t k) const {
    SequenceAction* a = ActionAt(i, j, k);
    if (!a) return IndexWarning("IsActionDisabled"), false;
    return a->IsDisabled();
}

uint32_t SequenceSystem::GetParamCount(uint32_t i, uint32_t j, uint32_t k) const {
    SequenceAction* a = ActionAt(i, j, k);
    if (!a) return IndexWarning("GetParamCount"), 0;
    uint32_t n = 0;
    ChainProperty(a->GetRTTIClass(), 0, &n);
    return n;
}

const RTTIProperty* SequenceSystem::ParamAt(uint32_t i, uint32_t j, uint32_t k, uint32_t p,
                                            SequenceAction** action) const {
    SequenceAction* a = ActionAt(i, j, k);
    if (!a) return nullptr;
    *action = a;
    return ChainProperty(a->GetRTTIClass(), p, nullptr);
}

const char* SequenceSystem::GetParamName(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const {
    SequenceAction* a = nullptr;
    const RTTIProperty* prop = ParamAt(i, j, k, p, &a);
    if (!prop) return IndexWarning("GetParamName"), nullptr;
    return prop->Name();
}

int32_t SequenceSystem::GetParamType(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const {
    SequenceAction* a = nullptr;
    const RTTIProperty* prop = ParamAt(i, j, k, p, &a);
    if (!prop) return IndexWarning("GetParamType"), -1;
    return static_cast<int32_t>(prop->TypeId());
}

bool SequenceSystem::GetBoolParamValue(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const {
    SequenceAction* a = nullptr;
    const RTTIProperty* prop = ParamAt(i, j, k, p, &a);
    if (!prop) return IndexWarning("GetBoolParamValue"), false;
    double v = 0;
    return NumericValue(prop, a, v) && v != 0;
}

int32_t SequenceSystem::GetIntParamValue(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const {
    SequenceAction* a = nullptr;
    const RTTIProperty* prop = ParamAt(i, j, k, p, &a);
    if (!prop) return IndexWarning("GetIntParamValue"), 0;
    uint32_t u = 0;
    if (ReadTyped(prop, a, u)) return static_cast<int32_t>(u);
    double v = 0;
    if (!NumericValue(prop, a, v)) return 0;
    if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;  // out of int range or NaN
    return static_cast<int32_t>(v);
}

float SequenceSystem::GetFloatParamValue(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const {
    SequenceAction* a = nullptr;
    const RTTIProperty* prop = ParamAt(i, j, k, p, &a);
    if (!prop) return IndexWarning("GetFloatParamValue"), 0.0f;
    double v = 0;
    return NumericValue(prop, a, v) ? static_cast<float>(v) : 0.0f;
}

const char* SequenceSystem::GetStringParamValue(uint32_t i, uint32_t j, uint32_t k, uint32_t p) const {
    SequenceAction* a = nullptr;
    const RTTIProperty* prop = ParamAt(i, j, k, p, &a);
    if (!prop) return IndexWarning("GetStringParamValue"), nullptr;
    if (auto* name = dynamic_cast<const RTTITypedProperty<NameString>*>(prop)) {
        // The value is a copy; the pooled text it points at stays while the action does.
        const NameString v = name->GetValue(a);
        return v.Raw() ? v.CStr() : "";
    }
    if (auto* text = dynamic_cast<const RTTITypedProperty<char*>*>(prop)) {
        const char* v = text->GetValue(a);
        return v ? v : "";
    }
    return nullptr;
}
