// Script-declared action classes (the factory's script half), their instances, and the
// sequence spawner.
#include "scene/sequences/LuaSequenceAction.h"

#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/rtti/RTTIProperty.h"

SequenceSpawner* gSequenceSpawner = nullptr;

namespace {

using Kind = LuaSequenceActionParam::Kind;

constexpr const char* kTypeNames[4] = {"bool", "int", "float", "string"};
constexpr uint32_t kTypeIds[4] = {19, 9, 8, 12};

const char* TypeName(Kind k) { return kTypeNames[static_cast<uint32_t>(k)]; }

bool TextEquals(const char* a, const char* b) { return std::strcmp(a ? a : "", b ? b : "") == 0; }

LuaSequenceAction* AsLuaAction(void* object) {
    return static_cast<LuaSequenceAction*>(static_cast<RTTIPolyBaseClass*>(object));
}
const LuaSequenceAction* AsLuaAction(const void* object) {
    return static_cast<const LuaSequenceAction*>(static_cast<const RTTIPolyBaseClass*>(object));
}

struct BoolAccess : RTTISGOAccessor<bool> {
    bool Get(const void* o, const char* n) const override { return AsLuaAction(o)->GetBoolParam(n); }
    void Set(void* o, const char* n, const bool& v) const override { AsLuaAction(o)->SetBoolParam(n, v); }
};
struct IntAccess : RTTISGOAccessor<int32_t> {
    int32_t Get(const void* o, const char* n) const override { return AsLuaAction(o)->GetIntParam(n); }
    void Set(void* o, const char* n, const int32_t& v) const override { AsLuaAction(o)->SetIntParam(n, v); }
};
struct FloatAccess : RTTISGOAccessor<float> {
    float Get(const void* o, const char* n) const override { return AsLuaAction(o)->GetFloatParam(n); }
    void Set(void* o, const char* n, const float& v) const override { AsLuaAction(o)->SetFloatParam(n, v); }
};
struct StringAccess : RTTISGOAccessor<char*> {
    char* Get(const void* o, const char* n) const override {
        return const_cast<char*>(AsLuaAction(o)->GetStringParam(n));
    }
    void Set(void* o, const char* n, char* const& v) const override { AsLuaAction(o)->SetStringParam(n, v); }
};
const BoolAccess kBoolAccess;
const IntAccess kIntAccess;
const FloatAccess kFloatAccess;
const StringAccess kStringAccess;

RTTIProperty* MakeParamProperty(const char* name, uint32_t typeIndex) {
    switch (typeIndex) {
        case 0: return new RTTISGOProperty<bool>(name, &kBoolAccess);
        case 1: return new RTTISGOProperty<int32_t>(name, &kIntAccess);
        case 2: return new RTTISGOProperty<float>(name, &kFloatAccess);
        default: return new RTTISGOProperty<char*>(name, &kStringAccess);
    }
}

int32_t TypeIndex(const char* typeName) {
    for (int32_t i = 0; i < 4; ++i)
        if (TextEquals(typeName, kTypeNames[i])) return i;
    return -1;
}

// The script class creation function of the class-name registry.
RTTIPolyBaseClass* CreateScriptAction(int32_t classIndex) {
    if (!gSequenceActionFactory) return nullptr;
    SequenceActionClassEntry* e = gSequenceActionFactory->FindEntryByIndex(classIndex);
    if (!e || !e->scriptDeclared) return nullptr;
    return gSequenceActionFactory->CreateLuaAction(e);
}

// A fresh descriptor for a script class. A script base keeps its own parameters in the
// chain; a built-in base cannot (a LuaSequenceAction has none of its members), so such a
// class is chained to "SequenceAction" with one warning.
RTTIClass* MakeDescriptor(SequenceActionClassEntry* e, SequenceActionFactory& factory) {
    const char* base = "SequenceAction";
    const SequenceActionClassEntry* baseEntry = factory.FindEntry(e->baseClassName.CStr());
    if (baseEntry && baseEntry->scriptDeclared) {
        base = baseEntry->className.CStr();
    } else if (baseEntry) {
        gLog.Warning(LogCategory::Script, "Sequence action class %s: built-in base %s is not inherited",
                     e->className.CStr(), baseEntry->className.CStr());
    }
    auto* d = new RTTIClass();
    d->Register(e->className.CStr(), base);
    d->id = e->classIndex;
    return d;
}

void DestroyDescriptor(SequenceActionClassEntry* e) {
    if (!e->descriptor) return;
    RTTIClassRegistry::RemoveClass(e->descriptor);
    delete e->descriptor;
    e->descriptor = nullptr;
}

}  // namespace

LuaSequenceActionParam::~LuaSequenceActionParam() {
    if (kind == Kind::String) RTTIFreeString(value.s);
}

// ---------------------------------------------------------------------------------
// LuaSequenceAction

LuaSequenceAction::LuaSequenceAction(SequenceActionClassEntry* e) : entry(e) {}

LuaSequenceAction::~LuaSequenceAction() {
    if (entry) {
        const int32_t at = entry->liveInstances.Find(this);
        if (at >= 0) entry->liveInstances.Remove(static_cast<uint32_t>(at));
    }
    DeleteOwnedPointerArray(params);
}

const RTTIClass* LuaSequenceAction::GetRTTIClass() const {
    if (entry && entry->descriptor) return entry->descriptor;
    return SequenceAction::RegisterClass();
}

const char* LuaSequenceAction::GetClassName() const {
    return entry ? entry->className.CStr() : "SequenceAction";
}

void LuaSequenceAction::AddParam(const NameString& name, Kind kind) {
    auto* p = new LuaSequenceActionParam();
    p->kind = kind;
    p->name = name;
    p->typeName = TypeName(kind);
    if (params.Add(p) == kDynarrayNone) delete p;
}

LuaSequenceActionParam* LuaSequenceAction::Find(const char* name, Kind kind) const {
    for (LuaSequenceActionParam* p : params)
        if (p->kind == kind && TextEquals(p->name.CStr(), name)) return p;
    return nullptr;
}

void LuaSequenceAction::SetBoolParam(const char* name, bool v) {
    if (auto* p = Find(name, Kind::Bool)) p->value.b = v;
}
void LuaSequenceAction::SetIntParam(const char* name, int32_t v) {
    if (auto* p = Find(name, Kind::Int)) p->value.i = v;
}
void LuaSequenceAction::SetFloatParam(const char* name, float v) {
    if (auto* p = Find(name, Kind::Float)) p->value.f = v;
}
void LuaSequenceAction::SetStringParam(const char* name, const char* v) {
    auto* p = Find(name, Kind::String);
    if (!p || p->value.s == v) return;
    RTTIValueStore<char*>::Assign(p->value.s, const_cast<char*>(v));
}
bool LuaSequenceAction::GetBoolParam(const char* name) const {
    const auto* p = Find(name, Kind::Bool);
    return p && p->value.b;
}
int32_t LuaSequenceAction::GetIntParam(const char* name) const {
    const auto* p = Find(name, Kind::Int);
    return p ? p->value.i : 0;
}
float LuaSequenceAction::GetFloatParam(const char* name) const {
    const auto* p = Find(name, Kind::Float);
    return p ? p->value.f : 0.0f;
}
const char* LuaSequenceAction::GetStringParam(const char* name) const {
    const auto* p = Find(name, Kind::String);
    return p ? p->value.s : nullptr;
}

// ---------------------------------------------------------------------------------
// Factory: script classes

int32_t SequenceActionFactory::RegisterLuaSequenceActionClass(const char* name, const char* baseName, bool instant,
                                                              const char* lookupParamName) {
    if (!name || !*name) return -1;
    if (SequenceActionClassEntry* e = FindEntry(name)) {
        e->redeclarationMark = false;
        return e->classIndex;
    }
    // A name of the class-name registry, or of a described class (whose descriptor a
    // later declaration pass would unregister by name), belongs to another class.
    if (NameRegistry::FindIndex(name) >= 0 || RTTIClassRegistry::FindClass(name)) {
        gLog.Error(LogCategory::Script, "Sequence action class %s: the name is taken by another class", name);
        return -1;
    }
    const int32_t classIndex = NameRegistry::Register(name, &CreateScriptAction);
    if (classIndex < 0) return -1;
    auto* e = new SequenceActionClassEntry();
    e->classIndex = classIndex;
    if (lookupParamName && *lookupParamName) {
        const NameString lookup(lookupParamName);
        int32_t at = -1;
        for (uint32_t i = 0; i < lookupNames.Count(); ++i)
            if (lookupNames[i] == lookup) at = static_cast<int32_t>(i);
        if (at < 0) at = static_cast<int32_t>(lookupNames.Add(lookup));
        e->lookupParamIndex = at;
    }
    e->className = name;
    e->instant = instant;
    e->scriptDeclared = true;
    e->baseClassName = (baseName && FindEntry(baseName)) ? baseName : "SequenceAction";
    e->descriptor = MakeDescriptor(e, *this);
    if (entries.Add(e) == kDynarrayNone) {
        delete e;
        return -1;
    }
    return classIndex;
}

void SequenceActionFactory::AddLuaSequenceActionParam(int32_t classIndex, const char* paramName, const char* typeName) {
    SequenceActionClassEntry* e = FindEntryByIndex(classIndex);
    const int32_t type = TypeIndex(typeName);
    if (!e || !e->scriptDeclared || type < 0 || !paramName || !*paramName) return;
    e->paramNames[type].Add(NameString(paramName));
    if (e->descriptor) e->descriptor->AddProperty(MakeParamProperty(paramName, static_cast<uint32_t>(type)));
}

void SequenceActionFactory::AddSequenceActionLookupParamName(int32_t classIndex, const char* name) {
    SequenceActionClassEntry* e = FindEntryByIndex(classIndex);
    if (!e) return;
    const NameString n(name ? name : "");
    for (const NameString& have : e->lookupParamNames)
        if (have == n) return;
    e->lookupParamNames.Add(n);
}

LuaSequenceAction* SequenceActionFactory::CreateLuaAction(SequenceActionClassEntry* entry) {
    auto* a = new LuaSequenceAction(entry);
    a->time = entry->instant ? 0.0f : 1.0f;
    // The class's own parameters, then its script bases' (a cycle cannot form: a base
    // must be declared before the class naming it).
    for (const SequenceActionClassEntry* e = entry; e;) {
        for (uint32_t t = 0; t < 4; ++t)
            for (const NameString& n : e->paramNames[t]) a->AddParam(n, static_cast<Kind>(t));
        if (TextEquals(e->baseClassName.CStr(), "SequenceAction") || e->baseClassName.IsEmpty()) break;
        const SequenceActionClassEntry* base = FindEntry(e->baseClassName.CStr());
        e = (base && base != e) ? base : nullptr;
    }
    entry->liveInstances.Add(a);
    return a;
}

void SequenceActionFactory::BeginLuaActionsSync() {
    for (uint32_t i = entries.Count(); i-- > 0;) {
        SequenceActionClassEntry* e = entries[i];
        e->redeclarationMark = e->scriptDeclared;
        if (e->scriptDeclared) DestroyDescriptor(e);
    }
    for (SequenceActionClassEntry* e : entries) {
        if (!e->scriptDeclared || e->descriptor) continue;
        e->descriptor = MakeDescriptor(e, *this);
        for (auto& list : e->paramNames) list.Release();
    }
}

void SequenceActionFactory::EndLuaActionsSync() {
    for (SequenceActionClassEntry* e : entries) {
        if (!e->scriptDeclared || !e->descriptor || e->liveInstances.Count() == 0) continue;
        LuaSequenceAction* model = e->liveInstances[0];
        // The class chain below "SequenceAction".
        Dynarray<const RTTIClass*> chain;
        for (const RTTIClass* c = e->descriptor; c && !TextEquals(c->Name(), "SequenceAction"); c = c->Base())
            chain.Add(c);
        DynarraySafe<NameString> removed;
        for (const LuaSequenceActionParam* p : model->Params()) {
            bool declared = false;
            for (const RTTIClass* c : chain) declared = declared || c->FindProperty(p->name.CStr()) != nullptr;
            if (!declared) removed.Add(p->name);
        }
        DynarraySafe<NameString> addedNames;
        Dynarray<Kind> addedKinds;
        for (const RTTIClass* c : chain) {
            for (uint32_t i = 0; i < c->PropertyCount(); ++i) {
                const RTTIProperty* prop = c->PropertyAt(i);
                bool carried = false;
                for (const LuaSequenceActionParam* p : model->Params())
                    carried = carried || TextEquals(p->name.CStr(), prop->Name());
                if (carried) continue;
                int32_t kind = -1;
                for (int32_t t = 0; t < 4; ++t)
                    if (kTypeIds[t] == prop->TypeId()) kind = t;
                if (kind < 0) continue;
                addedNames.Add(NameString(prop->Name()));
                addedKinds.Add(static_cast<Kind>(kind));
            }
        }
        for (LuaSequenceAction* a : e->liveInstances) {
            Dynarray<LuaSequenceActionParam*>& params = a->Params();
            uint32_t kept = 0;
            for (uint32_t i = 0; i < params.Count(); ++i) {
                if (SequenceSystem::SetHolds(removed, params[i]->name)) {
                    delete params[i];
                    continue;
                }
                params[kept++] = params[i];
            }
            params.Resize(kept);
            for (uint32_t i = 0; i < addedNames.Count(); ++i) a->AddParam(addedNames[i], addedKinds[i]);
        }
    }
}

// ---------------------------------------------------------------------------------
// SequenceSpawner

SequenceSpawner::~SequenceSpawner() { delete sequence; }

void SequenceSpawner::BeginSequenceSpawn(const char* name) {
    delete sequence;
    sequence = new Sequence();
    sequence->name = name ? name : "";
    track = nullptr;
    lastAction = nullptr;
}

void SequenceSpawner::AppendTrack(const char* name) {
    if (!sequence) return;
    auto* t = new SequenceTrack();
    t->name = name ? name : "";
    if (sequence->tracks.Add(t) == kDynarrayNone) {
        delete t;
        return;
    }
    track = t;
    lastAction = nullptr;
}

bool SequenceSpawner::AppendAction(const char* className) {
    if (!sequence || !track) return false;
    lastAction = nullptr;
    RTTIPolyBaseClass* object = className ? NameRegistry::CreateObject(className) : nullptr;
    auto* action = dynamic_cast<SequenceAction*>(object);
    if (!action) {
        delete object;
        gLog.Print(LogSeverity::Warning, LogCategory::Engine, "Action %s not found in class factory! Ommiting...",
                   className ? className : "");
        return false;
    }
    if (track->actions.Add(action) == kDynarrayNone) {
        delete action;
        return false;
    }
    lastAction = action;
    return true;
}

void SequenceSpawner::AppendActionParam(const char* paramName, const char* valueText) {
    if (lastAction) lastAction->SetPropertyFromString(paramName, valueText);
}

void SequenceSpawner::EndSequenceSpawn() {
    if (!sequence) {
        track = nullptr;
        lastAction = nullptr;
        return;
    }
    Dynarray<SequenceTrack*>& tracks = sequence->tracks;
    for (uint32_t ti = 0; ti < tracks.Count();) {
        // One chain: the track and the tracks split off it.
        uint32_t current = ti;
        int32_t number = static_cast<int32_t>(ti) + 1;
        float runningTime = 0.0f;
        SequenceAction* previous = nullptr;
        uint32_t k = 0;
        while (k < tracks[current]->actions.Count()) {
            Dynarray<SequenceAction*>& actions = tracks[current]->actions;
            SequenceAction* a = actions[k];
            const char* cls = a->GetClassName();
            if (TextEquals(cls, "LuaSequenceActionWait") || TextEquals(cls, "SequenceActionWait")) {
                runningTime += a->time;
                actions.Remove(k);
                delete a;
                continue;
            }
            a->minimalStartTime = runningTime;
            runningTime += a->time;
            if (previous && previous->time == 0.0f && k > 0) {
                auto* split = new SequenceTrack();
                char name[32];
                std::snprintf(name, sizeof name, "Track%.3d", number++);
                split->name = name;
                for (uint32_t m = k; m < actions.Count(); ++m) split->actions.Add(actions[m]);
                actions.Resize(k);
                tracks.Insert(split, current + 1);
                ++current;
                k = 0;
            }
            previous = a;
            ++k;
        }
        ti = current + 1;
    }
    if (!gSequenceSystem || !gSequenceSystem->AddSequence(sequence)) delete sequence;
    sequence = nullptr;
    track = nullptr;
    lastAction = nullptr;
}
