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
const char* TextArgument(lua_State* L, int index) { return lua_tostring(L, index); }

void PushName(lua_State* L, const NameString& name) {
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
    const char* name = TextArgument(L, 2);
    auto* entity = static_cast<Entity*>(LuaBindingReader{"Entity"}(L, 3, nullptr));
    const bool notAnEntity = !entity && !lua_isnoneornil(L, 3);
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
    const char* name = TextArgument(L, 2);
    const int32_t index = ScriptNumber(lua_tonumber(L, 3));
    if (LuaBindingRejected(L, !self, "SoundEntriesContainer.GetSoundEntrySound")) return 0;
    PushName(L, self->GetSoundEntrySound(name, index));
    return 1;
}
