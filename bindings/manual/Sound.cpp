#include "bindings/manual/Sound.h"

#include <lua.hpp>

#include "bindings/frame/LuaBindingSupport.h"
#include "core/text/NameString.h"

namespace {

// The channel of every pause and resume a script asks for.
constexpr int32_t kAnyChannel = -1;

SoundEntriesContainer* Container(lua_State* L) {
    return static_cast<SoundEntriesContainer*>(LuaBindingReader{"SoundEntriesContainer"}(L, 1, nullptr));
}

// As the generated bindings read text: a number reads as its text, anything else as null.
// An absent name (no suffix set, no such entry or sound) reaches scripts as nil.
void PushName(lua_State* L, const NameString& name) {
    if (name.IsEmpty())
        lua_pushnil(L);
    else
        lua_pushstring(L, name.CStr());
}

}  // namespace

SoundParamWrapper SoundParamWrapperInstance() {
    SoundParamWrapper params;
    params.LoadDefaults();
    return params;
}

void SoundEnginePauseSound(SoundEngine* self, uint32_t id, float seconds, const EntitySoundEmitter* owner) {
    self->PauseSound(id, seconds, owner, kAnyChannel);
}

void SoundEngineResumeSound(SoundEngine* self, uint32_t id, float seconds, const EntitySoundEmitter* owner) {
    self->ResumeSound(id, seconds, owner, kAnyChannel);
}

SoundEntryParams SoundEntryParamsInstance() { return SoundEntryParams(); }

bool SoundEntriesRandomTimeValues(SoundEntriesContainer* self, const char* name, float& delay, float& variation) {
    return self->GetSoundEntryRandomTimeValues(name, &delay, &variation);
}

int SoundBindingPlaySoundEntry(lua_State* L) {
    SoundEntriesContainer* self = Container(L);
    const char* name = lua_tostring(L, 2);
    auto* entity = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 3, nullptr));
    // Another class's object rejects the call; a number or a text reads as no emitter.
    const bool notAnEntity = !entity && lua_type(L, 3) == LUA_TUSERDATA;
    const uint32_t channel = ScriptNumber(lua_tonumber(L, 4));
    const float startDelay = ScriptNumber(lua_tonumber(L, 5));
    if (LuaBindingRejected(L, !self || notAnEntity, "SoundEntriesContainer.PlaySoundEntry")) return 0;
    LuaBindingPushNumber(L, self->PlaySoundEntry(name, entity, channel, startDelay));
    return 1;
}

int SoundBindingGetNameSuffix(lua_State* L) {
    SoundEntriesContainer* self = Container(L);
    if (LuaBindingRejected(L, !self, "SoundEntriesContainer.GetSoundEntriesNameSuffix")) return 0;
    PushName(L, self->GetSoundEntriesNameSuffix());
    return 1;
}

int SoundBindingGetEntrySound(lua_State* L) {
    SoundEntriesContainer* self = Container(L);
    const char* name = lua_tostring(L, 2);
    const int32_t index = ScriptNumber(lua_tonumber(L, 3));
    if (LuaBindingRejected(L, !self, "SoundEntriesContainer.GetSoundEntrySound")) return 0;
    PushName(L, self->GetSoundEntrySound(name, index));
    return 1;
}
