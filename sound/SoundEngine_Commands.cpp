// The sound commands: front ends that post them (any caller thread) and the handlers
// that run them on the sound thread, one per command, dispatched through a table.
//
// A front end reserves its record, writes the payload in the documented order and
// commits it; it never waits. Names travel inside the record, so a name that can never
// fit the ring is refused (one line, nothing posted) instead of cut.
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "sound/SoundEngine.h"
#include "sound/SoundInstance.h"

namespace {
using Owner = const EntitySoundEmitter*;
constexpr uint32_t kPlayFixedBytes = 4 + sizeof(SoundParamWrapper) + 4;  // id, block, length
}  // namespace

// ---------------------------------------------------------------------------------------
// Front ends

void SoundEngine::SetListener(const Matrix& matrix) {
    static_assert(sizeof(Matrix) == 64, "the listener travels as 64 bytes");
    if (!BeginCommand(SOUND_CMD_SET_LISTENER, sizeof(Matrix))) return;
    Ring().Write(&matrix, sizeof(Matrix));
    EndCommand();
}

void SoundEngine::ApplyVolumeSettings() {
    float volumes[3] = {1.0f, 1.0f, 1.0f};  // SFX, music, voice
    if (gGameConfig) {
        volumes[0] = gGameConfig->sfxVolume;
        volumes[1] = gGameConfig->musicVolume;
        volumes[2] = gGameConfig->voiceVolume;
    }
    if (!BeginCommand(SOUND_CMD_VOLUME_SETTINGS, sizeof volumes)) return;
    Ring().Write(volumes, sizeof volumes);
    EndCommand();
}

bool SoundEngine::PostChannelFade(uint32_t command, const char* caller, uint32_t channel, float target, float seconds,
                                  uint32_t curve) {
    if (channel >= kSoundChannelCount && channel != kSoundAllChannels) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "%s - channel %d out of range", caller, int(channel));
        return false;
    }
    if (!BeginCommand(command, 16)) return false;
    CommandRingBuffer& r = Ring();
    r.WriteValue(channel);
    r.WriteValue(target);
    r.WriteValue(seconds);
    r.WriteValue(curve);
    EndCommand();
    return true;
}

void SoundEngine::SetChannelVolume(uint32_t channel, float target, float seconds, uint32_t curve) {
    PostChannelFade(SOUND_CMD_CHANNEL_VOLUME, "SetChannelVolume", channel, target, seconds, curve);
}

void SoundEngine::SetChannelFrequencyRatio(uint32_t channel, float target, float seconds, uint32_t curve) {
    PostChannelFade(SOUND_CMD_CHANNEL_FREQUENCY_RATIO, "SetChannelFrequencyRatio", channel, target, seconds, curve);
}

void SoundEngine::FadeMasterVolume(float target, float seconds, uint32_t curve) {
    if (!BeginCommand(SOUND_CMD_MASTER_VOLUME, 12)) return;
    CommandRingBuffer& r = Ring();
    r.WriteValue(target);
    r.WriteValue(seconds);
    r.WriteValue(curve);
    EndCommand();
}

uint32_t SoundEngine::PlaySystemSound(const char* name, const SoundParamWrapper* params) {
    if (!name) return 0;
    const size_t length = std::strlen(name);
    if (length >= UINT32_MAX - kPlayFixedBytes || !Ring().CanEverFit(uint32_t(length + 1 + kPlayFixedBytes))) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "PlaySystemSound - a name of %zu characters does not fit a command",
                   length);
        return 0;
    }
    const uint32_t n = uint32_t(length);
    if (!BeginCommand(SOUND_CMD_PLAY, n + 1 + kPlayFixedBytes)) return 0;
    // Allocated under the writer lock, once the record is sure: a refused play uses no id.
    const uint32_t id = NextInstanceId();
    CommandRingBuffer& r = Ring();
    r.WriteValue(id);
    r.Write(params ? params : &SoundParamWrapper::DEFAULT, sizeof(SoundParamWrapper));
    r.WriteValue(n);
    r.Write(name, n + 1);
    EndCommand();
    return id;
}

uint32_t SoundEngine::PlayLocalizedVoice(const char* name, SoundParamWrapper* params) {
    if (!name) return 0;
    const uint32_t language = gGameConfig ? gGameConfig->voiceLanguage : kLanguageDefault;
    const char* languageName = language < kLanguageCount ? kLanguageNames[language] : kLanguageNames[kLanguageDefault];
    char path[kSoundMaxPathLength + 1];
    const int written = std::snprintf(path, sizeof path, "Voices/%s/%s.ogg", languageName, name);
    if (written < 0 || size_t(written) > kSoundMaxPathLength) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "PlayLocalizedVoice - the path of %.64s is over %u characters",
                   name, kSoundMaxPathLength);
        return 0;
    }
    SoundParamWrapper defaults;
    SoundParamWrapper* block = params;
    if (!block) {
        defaults = SoundParamWrapper::DEFAULT;
        block = &defaults;
    }
    block->Flags = SOUNDSTARTFLAG_STREAMED | SOUNDSTARTFLAG_ABSOULUTEPATH;
    block->Class = SOUNDCLASS_VOICE;
    return PlaySystemSound(path, block);
}

void SoundEngine::PostOwnerCommand(uint32_t command, uint32_t id, const EntitySoundEmitter* owner, const void* rest,
                                   uint32_t restBytes) {
    if (!BeginCommand(command, uint32_t(4 + sizeof owner) + restBytes)) return;
    CommandRingBuffer& r = Ring();
    r.WriteValue(id);
    r.WriteValue(owner);
    r.Write(rest, restBytes);
    EndCommand();
}

void SoundEngine::StopSound(uint32_t id, float seconds, const EntitySoundEmitter* owner) {
    PostOwnerCommand(SOUND_CMD_STOP, id, owner, &seconds, sizeof seconds);
}

void SoundEngine::ExitLoop(uint32_t id, const EntitySoundEmitter* owner) {
    PostOwnerCommand(SOUND_CMD_EXIT_LOOP, id, owner, nullptr, 0);
}

void SoundEngine::PauseSound(uint32_t id, float seconds, const EntitySoundEmitter* owner, int32_t channel) {
    const struct {
        float seconds;
        int32_t channel;
    } rest = {seconds, channel};
    static_assert(sizeof rest == 8);
    PostOwnerCommand(SOUND_CMD_PAUSE, id, owner, &rest, sizeof rest);
}

void SoundEngine::ResumeSound(uint32_t id, float seconds, const EntitySoundEmitter* owner, int32_t channel) {
    const struct {
        float seconds;
        int32_t channel;
    } rest = {seconds, channel};
    PostOwnerCommand(SOUND_CMD_RESUME, id, owner, &rest, sizeof rest);
}

void SoundEngine::SetVolume(uint32_t id, float target, float seconds, uint32_t curve, const EntitySoundEmitter* owner) {
    const struct {
        float target;
        float seconds;
        uint32_t curve;
    } rest = {target, seconds, curve};
    static_assert(sizeof rest == 12);
    PostOwnerCommand(SOUND_CMD_SET_VOLUME, id, owner, &rest, sizeof rest);
}

void SoundEngine::SetFrequencyRatio(uint32_t id, float target, float seconds, uint32_t curve,
                                    const EntitySoundEmitter* owner) {
    const struct {
        float target;
        float seconds;
        uint32_t curve;
    } rest = {target, seconds, curve};
    PostOwnerCommand(SOUND_CMD_SET_FREQUENCY_RATIO, id, owner, &rest, sizeof rest);
}

bool SoundEngine::SetLoopFile(uint32_t id, const char* name) {
    const size_t length = name ? std::strlen(name) + 1 : 0;
    if (length >= UINT32_MAX - 8 || !Ring().CanEverFit(uint32_t(8 + length))) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "SetLoopFile - a name of %zu characters does not fit a command",
                   length ? length - 1 : 0);
        return false;
    }
    const uint32_t bytes = uint32_t(length);
    if (!BeginCommand(SOUND_CMD_SET_LOOP_FILE, 8 + bytes)) return false;
    CommandRingBuffer& r = Ring();
    r.WriteValue(id);
    r.WriteValue(bytes);
    r.Write(name, bytes);
    EndCommand();
    return true;
}

void SoundEngine::LogActiveSoundInstances() {
    if (BeginCommand(SOUND_CMD_LOG_INSTANCES, 0)) EndCommand();
}

void SoundEngine::AdvanceSteppedOutput(int64_t ticks) {
    if (!stepped || ticks <= 0) return;
    if (!BeginCommand(SOUND_CMD_ADVANCE, sizeof ticks)) return;
    Ring().WriteValue(ticks);
    EndCommand();
}

void SoundEngine::LogSoundMemoryPool() { gResourceManager.PostLogSoundMemoryPool(); }

void SoundEngine::EvictSoundMemoryPool() { gResourceManager.PostEvictResources(1u << RESOURCE_SOUND, false, 0, 0); }

// ---------------------------------------------------------------------------------------
// Handlers (sound thread)

struct SoundCommandHandlers {
    using Handler = void (*)(SoundEngine& engine, CommandRingBuffer& ring);

    // The instances a command reaches: id (0xFFFFFFFF all), owner (null any) and, for
    // pause and resume, channel (negative any). The successor is saved first: the
    // action may delete the instance.
    template <class Action>
    static void ForMatching(uint32_t id, Owner owner, bool byChannel, int32_t channel, Action action) {
        for (SoundInstanceBase *i = SoundInstanceBase::First(), *after = nullptr; i; i = after) {
            after = i->Next();
            if (id != kSoundAllInstances && id != i->Id()) continue;
            if (owner && owner != i->Owner()) continue;
            if (byChannel && channel >= 0 && uint32_t(channel) != i->Params().Channel) continue;
            action(i);
        }
    }

    static bool ReadIdOwner(CommandRingBuffer& r, uint32_t* id, Owner* owner) {
        return r.ReadValue(*id) && r.ReadValue(*owner);
    }

    static void Initialize(SoundEngine& e, CommandRingBuffer&) { e.Initialize(); }
    static void Shutdown(SoundEngine& e, CommandRingBuffer&) { e.Shutdown(); }

    static void SetListener(SoundEngine& e, CommandRingBuffer& r) {
        Matrix m;
        if (!r.Read(&m, sizeof m)) return;
        e.listenerMatrix = m;
        e.listener.orientFront = {m.r[2].x, m.r[2].y, m.r[2].z};
        e.listener.orientTop = {m.r[1].x, m.r[1].y, m.r[1].z};
        e.listener.position = {m.r[3].x, m.r[3].y, m.r[3].z};
    }

    static void VolumeSettings(SoundEngine& e, CommandRingBuffer& r) {
        float volumes[SOUNDCLASS_MAX];
        if (r.Read(volumes, sizeof volumes)) std::memcpy(e.classVolumes, volumes, sizeof volumes);
    }

    static void ChannelFade(SoundEngine& e, CommandRingBuffer& r, bool frequencyRatio) {
        uint32_t channel = 0, curve = 0;
        float target = 0.0f, seconds = 0.0f;
        if (r.ReadValue(channel) && r.ReadValue(target) && r.ReadValue(seconds) && r.ReadValue(curve))
            e.FadeChannels(channel, target, seconds, curve, frequencyRatio);
    }
    static void ChannelVolume(SoundEngine& e, CommandRingBuffer& r) { ChannelFade(e, r, false); }
    static void ChannelFrequencyRatio(SoundEngine& e, CommandRingBuffer& r) { ChannelFade(e, r, true); }

    static void MasterVolume(SoundEngine& e, CommandRingBuffer& r) {
        float target = 0.0f, seconds = 0.0f;
        uint32_t curve = 0;
        if (r.ReadValue(target) && r.ReadValue(seconds) && r.ReadValue(curve))
            e.masterFade.Start(e.lastUpdateTime, target, seconds, curve);
    }

    static void Play(SoundEngine&, CommandRingBuffer& r) {
        uint32_t id = 0, length = 0;
        SoundParamWrapper params;
        params.LoadDefaults();
        if (!r.ReadValue(id) || !r.Read(&params, sizeof params) || !r.ReadValue(length)) return;
        const char* name = reinterpret_cast<const char*>(r.ReadCursor());
        if (uint64_t(length) + 1 > r.ReadLeft() || name[length] != 0) return;  // not a record of PlaySystemSound
        SoundInstanceBase::CreateFromPlay(name, id, params);
        r.SkipRead(length + 1);
    }

    static void Stop(SoundEngine&, CommandRingBuffer& r) {
        uint32_t id = 0;
        Owner owner = nullptr;
        float seconds = 0.0f;
        if (!ReadIdOwner(r, &id, &owner) || !r.ReadValue(seconds)) return;
        ForMatching(id, owner, false, -1, [seconds](SoundInstanceBase* i) {
            if (seconds > 0.0f && !i->IsZombie()) i->StopWithFade(seconds);
            else delete i;
        });
    }

    static void ExitLoop(SoundEngine&, CommandRingBuffer& r) {
        uint32_t id = 0;
        Owner owner = nullptr;
        if (!ReadIdOwner(r, &id, &owner)) return;
        ForMatching(id, owner, false, -1, [](SoundInstanceBase* i) {
            if (i->IsZombie()) delete i;
            else i->ExitLoop();
        });
    }

    static void PauseOrResume(CommandRingBuffer& r, bool pause) {
        uint32_t id = 0;
        Owner owner = nullptr;
        float seconds = 0.0f;  // carried, not used
        int32_t channel = -1;
        if (!ReadIdOwner(r, &id, &owner) || !r.ReadValue(seconds) || !r.ReadValue(channel)) return;
        ForMatching(id, owner, true, channel, [pause](SoundInstanceBase* i) {
            if (pause) i->Pause();
            else i->Resume();
        });
    }
    static void Pause(SoundEngine&, CommandRingBuffer& r) { PauseOrResume(r, true); }
    static void Resume(SoundEngine&, CommandRingBuffer& r) { PauseOrResume(r, false); }

    static void InstanceFade(CommandRingBuffer& r, bool frequencyRatio) {
        uint32_t id = 0, curve = 0;
        Owner owner = nullptr;
        float target = 0.0f, seconds = 0.0f;
        if (!ReadIdOwner(r, &id, &owner) || !r.ReadValue(target) || !r.ReadValue(seconds) || !r.ReadValue(curve)) return;
        ForMatching(id, owner, false, -1, [=](SoundInstanceBase* i) {
            if (frequencyRatio) i->FadeFrequencyRatio(target, seconds, curve);
            else i->FadeVolume(target, seconds, curve);
        });
    }
    static void SetVolume(SoundEngine&, CommandRingBuffer& r) { InstanceFade(r, false); }
    static void SetFrequencyRatio(SoundEngine&, CommandRingBuffer& r) { InstanceFade(r, true); }

    static void SetLoopFile(SoundEngine&, CommandRingBuffer& r) {
        uint32_t id = 0, length = 0;
        if (!r.ReadValue(id) || !r.ReadValue(length) || length > r.ReadLeft()) return;
        const char* name = length ? reinterpret_cast<const char*>(r.ReadCursor()) : nullptr;
        if (name && name[length - 1] != 0) return;  // not a record of SetLoopFile
        ForMatching(id, nullptr, false, -1, [name](SoundInstanceBase* i) { i->SetLoopFile(name); });
        r.SkipRead(length);
    }

    static void LogInstances(SoundEngine&, CommandRingBuffer&) {
        gLog.Print(LogSeverity::Information, LogCategory::Sound, "Active sound instances:");
        int ordinal = 0;
        for (SoundInstanceBase* i = SoundInstanceBase::First(); i; i = i->Next())
            gLog.Print(LogSeverity::Information, LogCategory::Sound, "%03d l:%d %s", ordinal++,
                       i->Params().LoopCount == 0 ? 1 : 0, i->GetName());
    }

    static void Advance(SoundEngine& e, CommandRingBuffer& r) {
        int64_t ticks = 0;
        if (r.ReadValue(ticks)) e.AdvanceStepped(ticks);
    }

    static constexpr Handler kTable[SOUND_CMD_END - SOUND_CMD_INITIALIZE] = {
        &Initialize, &Shutdown, &SetListener, &VolumeSettings, &ChannelVolume, &MasterVolume,
        &ChannelFrequencyRatio, &Play, &Stop, &ExitLoop, &Pause, &Resume, &SetVolume, &SetFrequencyRatio,
        &SetLoopFile, &LogInstances, &Advance,
    };
};

void SoundEngine::HandleCommand(uint32_t id, CommandRingBuffer& ring) {
    if (id < SOUND_CMD_INITIALIZE || id >= SOUND_CMD_END) return;
    SoundCommandHandlers::kTable[id - SOUND_CMD_INITIALIZE](*this, ring);
}
