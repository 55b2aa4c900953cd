#pragma once
// The sound package's script forms (bindings/pkg/Sound.pkg): the argument lists the
// natives do not have (pause and resume address any channel; a script names none), the
// values made from the defaults, and the bindings the generator cannot express, each
// swapped in for the generated one of the same name (TOLUA_DISABLE_<function>).
//
// Threads: main thread, like every script; the sound calls only post commands.
#include <cstdint>

#include "sound/SoundEngine.h"
#include "sound/SoundEntries.h"

struct lua_State;

// ---- SoundParamWrapper ----
// A parameter set loaded with the engine's defaults.
SoundParamWrapper SoundParamWrapperInstance();

// ---- SoundEngine ----
// Pause and resume from scripts address any channel.
void SoundEnginePauseSound(SoundEngine* self, uint32_t id, float seconds, const EntitySoundEmitter* owner);
void SoundEngineResumeSound(SoundEngine* self, uint32_t id, float seconds, const EntitySoundEmitter* owner);

// ---- SoundEntryParams ----
// The settings of a new entry: no sounds, the record's defaults.
SoundEntryParams SoundEntryParamsInstance();

// ---- SoundEntriesContainer ----
// The success flag, then the delay and its variation (unchanged when the entry is missing).
bool SoundEntriesRandomTimeValues(SoundEntriesContainer* self, const char* name, float& delay, float& variation);

// PlaySoundEntry(name, entity or nil, channel, start delay): an entity that is dead or
// of another class, or any other value that is not nil, rejects the call; nil plays
// without an emitter.
int SoundBindingPlaySoundEntry(lua_State* L);
#define TOLUA_DISABLE_tolua_Sound_SoundEntriesContainer_PlaySoundEntry00
#define tolua_Sound_SoundEntriesContainer_PlaySoundEntry00 SoundBindingPlaySoundEntry

// The two texts the container answers as interned names, pushed as strings.
int SoundBindingGetNameSuffix(lua_State* L);
#define TOLUA_DISABLE_tolua_Sound_SoundEntriesContainer_GetSoundEntriesNameSuffix00
#define tolua_Sound_SoundEntriesContainer_GetSoundEntriesNameSuffix00 SoundBindingGetNameSuffix
int SoundBindingGetEntrySound(lua_State* L);
#define TOLUA_DISABLE_tolua_Sound_SoundEntriesContainer_GetSoundEntrySound00
#define tolua_Sound_SoundEntriesContainer_GetSoundEntrySound00 SoundBindingGetEntrySound
