// Sound instances: the list, common construction, the commands' operations, the update
// pass and the decoded feeding shared by static and streamed sounds.
//
// Life of a decoded instance: it waits for its data (resources loaded, reader open),
// opens its decoder, creates a voice in the decoder's format, takes one 32 KB block of
// the decode pool and decodes its first half; every update then decodes the other half
// whenever fewer than two buffers are queued. A short read ends a pass: the loop count
// decides whether the decoder is rewound (the next pass fills the rest of the half) or
// the half goes out as the end of the stream. The instance is deleted once its voice
// has drained.
#include "sound/SoundInstance.h"

#include <cfloat>
#include <cstring>

#include "core/Log.h"
#include "core/Time.h"
#include "core/profiler/Profiler.h"
#include "platform/os/Clock.h"
#include "sound/FixedBlockPool.h"
#include "sound/SoundEngine.h"

SoundInstanceBase* SoundInstanceBase::head = nullptr;
SoundInstanceBase* SoundInstanceBase::tail = nullptr;
uint32_t SoundInstanceBase::decodedBytes = 0;
uint32_t SoundInstanceBase::streamCount = 0;
uint32_t SoundInstanceBase::musicStreamCount = 0;

namespace {
FixedBlockPool* gDecodePool = nullptr;
}  // namespace

void SoundInstanceBase::CreateDecodePool(uint32_t blocks) {
    if (!gDecodePool) gDecodePool = new FixedBlockPool(kSoundDecodeBlockBytes, blocks);
}

void SoundInstanceBase::DestroyDecodePool() {
    delete gDecodePool;
    gDecodePool = nullptr;
}

uint32_t SoundInstanceBase::FreeDecodeBlocks() { return gDecodePool ? gDecodePool->FreeCount() : 0; }

// ---------------------------------------------------------------------------------------
// Construction and the list

SoundInstanceBase::SoundInstanceBase(EntitySoundEmitter* soundOwner, const char* soundName, uint32_t instanceId,
                                     const SoundParamWrapper& parameters)
    : id(instanceId), name(soundName), lastVolume(FLT_MAX), params(parameters), owner(soundOwner) {
    volumeFade.active = false;
    volumeFade.current = params.Volume;
    frequencyRatioFade.active = false;
    frequencyRatioFade.current = params.FrequencyRatio;
    ownerTransform = Matrix::IDENTITY;
    if (params.Channel >= kSoundChannelCount) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "Audio channel out of range - %d (%s)", int(params.Channel),
                   "Unknown");
        params.Channel = 0;
    }
    if (params.DopplerFactor != 0.0f) stateFlags |= SOUNDINSTANCE_DOPPLER;
    InstallDistanceCurve();
    if (owner) {
        CopyOwnerTransform();
        emitter.dopplerScaler = params.DopplerFactor;
        if (!(params.Flags & SOUNDSTARTFLAG_NOATTENUATION)) stateFlags |= SOUNDINSTANCE_POSITIONAL;
    }
    if (params.Flags & SOUNDSTARTFLAG_IMPORTANT) stateFlags |= SOUNDINSTANCE_IMPORTANT;
    if (params.StartDelay > 0.0f)
        startTime = gSoundEngine->Now() + Time::FromSeconds(params.StartDelay).ticks;

    previous = tail;
    if (tail) tail->next = this;
    else head = this;
    tail = this;
}

SoundInstanceBase::~SoundInstanceBase() {
    if (voice) voice->DestroyVoice();
    voice = nullptr;
    if (previous) previous->next = next;
    else head = next;
    if (next) next->previous = previous;
    else tail = previous;
}

uint32_t SoundInstanceBase::Count() {
    uint32_t n = 0;
    for (SoundInstanceBase* i = head; i; i = i->next) ++n;
    return n;
}

SoundInstanceBase* SoundInstanceBase::CreateFromPlay(const char* soundName, uint32_t instanceId,
                                                     const SoundParamWrapper& parameters) {
    if (parameters.Flags & SOUNDSTARTFLAG_IPHONEMP3) {
        for (SoundInstanceBase *i = head, *after = nullptr; i; i = after) {
            after = i->next;
            if (i->params.Flags & SOUNDSTARTFLAG_IPHONEMP3) delete i;
        }
        return new SoundInstanceStreamed(nullptr, soundName, instanceId, parameters);
    }
    if (!(parameters.Flags & SOUNDSTARTFLAG_STREAMED)) return new SoundInstanceStatic(nullptr, soundName, instanceId, parameters);
    return new SoundInstanceStreamed(nullptr, soundName, instanceId, parameters);
}

void SoundInstanceBase::DeleteAll() {
    while (head) delete head;
}

bool SoundInstanceBase::AnyWaitsForData() {
    for (const SoundInstanceBase* i = head; i; i = i->next)
        if (i->WaitsForData()) return true;
    return false;
}

void SoundInstanceBase::UpdateAll() {
    uint32_t voiced = 0;
    uint32_t placeholders = 0;
    for (SoundInstanceBase *i = head, *after = nullptr; i; i = after) {
        after = i->next;
        if (i->IsZombie()) ++placeholders;
        else ++voiced;
        const bool keep = i->Update();
        if (keep && (!(i->stateFlags & SOUNDINSTANCE_STOPPING) || i->volumeFade.active)) continue;
        if (i->voice) i->voice->Stop(audio::kPlayTails, kSoundOperationSet);
        delete i;
    }
    gProfiler.SetValue(PROFILE_SOUND_INSTANCES, float(voiced), PROFILER_THREAD_OTHER);
    gProfiler.SetValue(PROFILE_ZOMBIE_SOUND_INSTANCES, float(placeholders), PROFILER_THREAD_OTHER);
}

// ---------------------------------------------------------------------------------------
// Operations of the commands

bool SoundInstanceBase::Update() {
    if (!voice) return false;
    audio::VoiceState state;
    voice->GetState(&state);
    if (state.buffersQueued == 0) return false;
    Update3D();
    return true;
}

bool SoundInstanceBase::SetVoiceVolume(float volume) {
    if (!voice) return false;
    voice->SetVolume(volume > 0.0f ? volume : 0.0f, kSoundOperationSet);
    return true;
}

void SoundInstanceBase::Pause() {
    if (stateFlags & SOUNDINSTANCE_PAUSED) return;
    stateFlags |= SOUNDINSTANCE_PAUSED;
    if (voice) voice->Stop(audio::kPlayTails, kSoundOperationSet);
}

void SoundInstanceBase::Resume() {
    if (!(stateFlags & SOUNDINSTANCE_PAUSED)) return;
    stateFlags &= ~SOUNDINSTANCE_PAUSED;
    if (voice) voice->Start(0, kSoundOperationSet);
}

namespace {
float ClampUnit(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }
}  // namespace

void SoundInstanceBase::FadeVolume(float target, float seconds, uint32_t curve) {
    volumeFade.Start(gSoundEngine->LastUpdateTime(), ClampUnit(target), seconds, curve);
    ApplyLevels();
}

void SoundInstanceBase::FadeFrequencyRatio(float target, float seconds, uint32_t curve) {
    frequencyRatioFade.Start(gSoundEngine->LastUpdateTime(), ClampUnit(target), seconds, curve);
    ApplyLevels();
}

void SoundInstanceBase::StopWithFade(float seconds) {
    stateFlags |= SOUNDINSTANCE_STOPPING;
    volumeFade.Start(gSoundEngine->LastUpdateTime(), 0.0f, seconds, 0);
}

audio::SourceVoice* SoundInstanceBase::CreateVoice(const audio::WaveFormat* format) {
    audio::AudioEngine* engine = gSoundEngine->GetAudioEngine();
    voiceRefusal = audio::kErrorInvalidCall;
    if (!engine) return nullptr;
    audio::SourceVoice* created = nullptr;
    const uint32_t flags = (params.Flags & SOUNDSTARTFLAG_MUSIC) ? audio::kVoiceMusic : 0;
    voiceRefusal = engine->CreateSourceVoice(&created, format, flags, kSoundMaxFrequencyRatio);
    if (voiceRefusal != audio::kOk) return nullptr;
    voice = created;
    return created;
}

bool SoundInstanceBase::StartVoice() {
    if (stateFlags & SOUNDINSTANCE_PAUSED) return true;
    return voice->Start(0, kSoundOperationSet) == audio::kOk;
}

void SoundInstanceBase::SetChannelCount(uint32_t sourceChannels) {
    channelCount = sourceChannels;
    if (sourceChannels == 2) {
        emitter.channelCount = 2;
        emitter.channelRadius = params.StereoSoundChannelDistance;
        channelAzimuths[0] = 1.5707964f;  // pi/2: left
        channelAzimuths[1] = 4.712389f;   // 3 pi/2: right
        emitter.channelAzimuths = channelAzimuths;
    } else {
        emitter.channelCount = 1;
        emitter.channelRadius = 0.0f;
    }
}

// ---------------------------------------------------------------------------------------
// Decoded instances

SoundInstanceDecodableBase::~SoundInstanceDecodableBase() {
    // The voice goes first, so that no queued half is read after its block went back.
    if (voice) voice->DestroyVoice();
    voice = nullptr;
    delete decoder;
    decoder = nullptr;
    if (block && gDecodePool) gDecodePool->GiveBack(block);
}

void SoundInstanceDecodableBase::ExitLoop() {
    if (params.LoopCount == 1) return;
    params.LoopCount = 1;
    // A voice fed without a decoder gets nothing more. Before its start an instance has
    // neither: the loop count alone makes its first pass the last.
    if (!decoder && voice) {
        endReached = true;
        voice->ExitLoop(kSoundOperationSet);
    }
}

bool SoundInstanceDecodableBase::ReopenDecoder(const char* first, const char* what) {
    formatMismatch = false;
    if (!decoder || !decoder->Open()) return false;
    if (voice) {
        const audio::WaveFormat& f = decoder->Format();
        audio::VoiceDetails details;
        voice->GetVoiceDetails(&details);
        if (f.channels != details.inputChannels || f.sampleRate != details.inputSampleRate) {
            gLog.Print(LogSeverity::Error, LogCategory::Sound, "Cannot loop files of different format (%s vs %s)",
                       first ? first : "Unknown", what ? what : "Unknown");
            formatMismatch = true;
            return false;
        }
    }
    return true;
}

bool SoundInstanceDecodableBase::StartDecodedVoice() {
    if (!decoder || !CreateVoice(&decoder->Format())) return false;
    SetChannelCount(decoder->Format().channels);
    block = gDecodePool ? gDecodePool->Take() : nullptr;
    if (!block) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound,
                   "Unable to allocate decode buffer. The reason for this is you've allocated too many of them :) sorry...");
        return false;
    }
    halves[0] = block;
    halves[1] = block + kSoundDecodeHalfBytes;
    nextHalf = 0;
    Update3D();
    DecodeNextHalf();
    return StartVoice();
}

bool SoundInstanceDecodableBase::DecodeNextHalf() {
    if (endReached || !decoder || !voice) return false;
    uint8_t* half = halves[nextHalf];
    // Whole frames only, so that a pass never splits a sample across two buffers.
    const uint32_t frame = decoder->Format().blockAlign ? decoder->Format().blockAlign : 1;
    const uint32_t size = kSoundDecodeHalfBytes - kSoundDecodeHalfBytes % frame;

    gProfiler.StartTimer(PROFILE_SOUND_DECODE_TIME, PROFILER_THREAD_OTHER);
    uint32_t got = decoder->Read(half, size);
    uint32_t flags = 0;
    while (got < size) {
        const uint32_t loopsLeft = params.LoopCount;
        if (loopsLeft == 1) {
            flags = audio::kEndOfStream;
            endReached = true;
            break;
        }
        if (loopsLeft > 1) params.LoopCount = loopsLeft - 1;
        uint32_t n = 0;
        if (RewindStream(false)) n = decoder->Read(half + got, size - got);
        if (n == 0) {
            if (!formatMismatch)
                gLog.Print(LogSeverity::Error, LogCategory::Sound, "Cannot read audio stream of %s", GetName());
            flags = audio::kEndOfStream;
            endReached = true;
            break;
        }
        got += n;
    }
    gProfiler.StopTimer(PROFILE_SOUND_DECODE_TIME, PROFILER_THREAD_OTHER);
    if (!holeLogged && decoder->HolesSkipped() > 0) {
        gLog.Print(LogSeverity::Warning, LogCategory::Sound, "Skipped damaged data in sound %s; playing on",
                   name.CStr());
        holeLogged = true;
    }
    decodedBytes += got;
    if (got == 0) return false;  // nothing to queue: the voice drains what it has

    audio::AudioBuffer buffer;
    buffer.flags = flags;
    buffer.audioBytes = got;
    buffer.audioData = half;
    gProfiler.StartTimer(PROFILE_SOUND_UPLOAD_TIME, PROFILER_THREAD_OTHER);
    const bool submitted = voice->SubmitSourceBuffer(&buffer) == audio::kOk;
    gProfiler.StopTimer(PROFILE_SOUND_UPLOAD_TIME, PROFILER_THREAD_OTHER);
    nextHalf ^= 1;
    return submitted;
}

bool SoundInstanceDecodableBase::Feed() {
    if (!voice) return false;
    audio::VoiceState state;
    voice->GetState(&state);
    if (state.buffersQueued < 2) {
        const bool topped = decoder ? DecodeNextHalf() : SubmitNextBuffer(false);
        if (topped) {
            Update3D();
            return true;
        }
    }
    if (state.buffersQueued == 0) return false;
    Update3D();
    return true;
}
