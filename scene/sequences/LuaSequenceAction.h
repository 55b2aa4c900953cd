#pragma once
// Script-declared sequence actions and sequence spawning.
//
// A script declares action classes through gSequenceActionFactory, each with typed named
// parameters. An instance is a LuaSequenceAction whose parameters live in its own table
// and are reached through by-name properties of its class's descriptor, so they
// serialise, show in the inspection functions and can be set from text. A declaration
// pass can be repeated (a script reload): instances keep the values of parameters that
// still exist and gain defaults for new ones. An instance reaches its class through its
// factory entry on every use; nothing holds a descriptor across a declaration pass.
//
// gSequenceSpawner builds a sequence track by track and action by action from a script
// and hands it to the sequence system; waits in a spawned track become start offsets.
//
// Main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"
#include "scene/sequences/SequenceActions.h"

// One parameter: a tagged value cell (the text owned), its name and type name.
struct LuaSequenceActionParam {
    enum class Kind : uint8_t { Bool, Int, Float, String };
    ~LuaSequenceActionParam();
    Kind kind = Kind::Bool;
    union {
        bool b;
        int32_t i;
        float f;
        char* s;
    } value{};
    NameString name;
    NameString typeName;  // "bool", "int", "float" or "string"
};

class LuaSequenceAction : public SequenceAction {
public:
    explicit LuaSequenceAction(SequenceActionClassEntry* entry);
    ~LuaSequenceAction() override;

    // The entry's descriptor; SequenceAction's once the entry is gone.
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override;

    void SetBoolParam(const char* name, bool v);
    void SetIntParam(const char* name, int32_t v);
    void SetFloatParam(const char* name, float v);
    // Stores a copy; null or empty stores no text.
    void SetStringParam(const char* name, const char* v);
    bool GetBoolParam(const char* name) const;
    int32_t GetIntParam(const char* name) const;
    float GetFloatParam(const char* name) const;
    // Null when there is no text.
    const char* GetStringParam(const char* name) const;

    SequenceActionClassEntry* Entry() const { return entry; }
    Dynarray<LuaSequenceActionParam*>& Params() { return params; }
    // The factory forgets its entries (engine close).
    void DetachFromEntry() { entry = nullptr; }

    // Appends a default record of a kind.
    void AddParam(const NameString& name, LuaSequenceActionParam::Kind kind);

private:
    LuaSequenceActionParam* Find(const char* name, LuaSequenceActionParam::Kind kind) const;

    Dynarray<LuaSequenceActionParam*> params;
    SequenceActionClassEntry* entry = nullptr;
};

class SequenceSpawner {
public:
    SequenceSpawner() = default;
    ~SequenceSpawner();
    SequenceSpawner(const SequenceSpawner&) = delete;
    SequenceSpawner& operator=(const SequenceSpawner&) = delete;

    void BeginSequenceSpawn(const char* name);
    void AppendTrack(const char* name);
    bool AppendAction(const char* className);
    void AppendActionParam(const char* paramName, const char* valueText);
    void EndSequenceSpawn();
    const char* GetLuaSequenceFilename() const { return luaSequenceFilename.Raw(); }

private:
    Sequence* sequence = nullptr;
    SequenceTrack* track = nullptr;
    SequenceAction* lastAction = nullptr;
    NameString luaSequenceFilename;
};

// Made and destroyed by the scene's start-up rows.
extern SequenceSpawner* gSequenceSpawner;
