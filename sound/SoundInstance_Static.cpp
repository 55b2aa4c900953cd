// SoundInstanceStatic: a sound held in memory by sound resources. The name lists one or
// more resources separated by ";"; each pass plays one of them, picked at random.
// Every resource of the list must have the whole format of the first (one voice cannot
// play two rates or channel counts). PCM and ADPCM data are submitted to the voice as
// they are, one buffer per pass; Ogg data is decoded, each pass appending the picked
// resource's data to the decoder's source and re-opening the decoder on it.
#include <cstring>

#include "core/CrtRand.h"
#include "core/Log.h"
#include "platform/os/Clock.h"
#include "render/resources/ResourceManager.h"
#include "render/sound/ResourceSound.h"
#include "sound/SoundInstance.h"

namespace {

// The block a compressed voice is created with: the stored format, extension size 22,
// valid bits = bits per sample, the rest zero.
struct __attribute__((packed)) ExtendedWaveFormat {
    audio::WaveFormat format;
    uint16_t validBitsPerSample;
    uint32_t channelMask;
    uint8_t subFormat[16];
};
static_assert(sizeof(ExtendedWaveFormat) == 40, "the extended format block is 40 bytes");

audio::WaveFormat ToWaveFormat(const SoundWaveFormat& f) {
    return {f.formatTag, f.channels, f.samplesPerSecond, f.averageBytesPerSecond, f.blockAlign, f.bitsPerSample, 0};
}

bool SameFormat(const SoundWaveFormat& a, const SoundWaveFormat& b) {
    return a.formatTag == b.formatTag && a.channels == b.channels && a.samplesPerSecond == b.samplesPerSecond &&
           a.bitsPerSample == b.bitsPerSample && a.blockAlign == b.blockAlign;
}

}  // namespace

SoundInstanceStatic::SoundInstanceStatic(EntitySoundEmitter* soundOwner, const char* soundName, uint32_t instanceId,
                                         const SoundParamWrapper& parameters)
    : SoundInstanceDecodableBase(soundOwner, soundName, instanceId, parameters) {
    const char* text = soundName ? soundName : "";
    char part[kSoundMaxStaticPart + 1];
    while (*text) {
        const char* end = std::strchr(text, ';');
        const size_t length = end ? size_t(end - text) : std::strlen(text);
        if (length > kSoundMaxStaticPart) {
            gLog.Print(LogSeverity::Error, LogCategory::Sound, "Sound name over %u characters skipped: %.64s...",
                       kSoundMaxStaticPart, text);
        } else if (length > 0) {
            std::memcpy(part, text, length);
            part[length] = 0;
            Resource* found = gResourceManager.GetResource(RESOURCE_SOUND, part, 0, true, 0);
            if (found) {
                if (sounds.Add(static_cast<ResourceSound*>(found)) == kDynarrayNone) {
                    found->Release();
                } else {
                    found->QueueLoad();
                }
            }
        }
        text += length;
        if (*text == ';') ++text;
    }
    playbackState = sounds.Count() > 0 ? STATE_WAITING : STATE_NO_SOUND;
}

SoundInstanceStatic::~SoundInstanceStatic() {
    // The voice and the decoder go before the data they read.
    if (voice) voice->DestroyVoice();
    voice = nullptr;
    delete decoder;
    decoder = nullptr;
    ReleaseResources(reinterpret_cast<Resource* const*>(sounds.data), sounds.Count());
    sounds.Release();
}

bool SoundInstanceStatic::WaitsForData() const {
    if (playbackState != STATE_WAITING) return false;
    for (const ResourceSound* sound : sounds)
        if (!sound->IsLoaded()) return true;
    return false;
}

const char* SoundInstanceStatic::GetName() const {
    return sounds.Count() > 0 && sounds[0]->GetName() ? sounds[0]->GetName() : "Unknown";
}

uint32_t SoundInstanceStatic::PickSound() {
    const uint32_t count = sounds.Count();
    uint32_t index;
    if (params.Flags & kSoundFlagFirstPickIsFirstSound)
        index = (!picked || count == 1) ? 0 : 1 + uint32_t(CrtRand()) % (count - 1);
    else
        index = uint32_t(CrtRand()) % count;
    picked = true;
    return index;
}

bool SoundInstanceStatic::Update() {
    if (LeavesForRange(SoundInstanceZombie::KIND_STATIC)) return false;
    switch (playbackState) {
    case STATE_NO_SOUND:
        return false;
    case STATE_PLAYING:
        return Feed();
    case STATE_WAITING:
        break;
    default:
        return SoundInstanceDecodableBase::Update();
    }
    for (ResourceSound* s : sounds)
        if (!s->IsLoaded()) return true;
    const ResourceSound* first = sounds[0];
    for (ResourceSound* s : sounds) {
        const bool sameKind = s->FormatKind() == first->FormatKind();
        const bool decoded = first->FormatKind() == SOUND_FORMAT_OGG;
        if (!sameKind || (!decoded && !SameFormat(s->WaveFormat(), first->WaveFormat()))) {
            gLog.Print(LogSeverity::Error, LogCategory::Sound, "Cannot loop files of different format (%s vs %s)",
                       first->GetName(), s->GetName());
            return false;
        }
    }
    if (params.Flags & SOUNDSTARTFLAG_JUSTLOAD) return false;
    if (startTime > gSoundEngine->Now()) return true;
    if (!StartPlayback()) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "Unable to start playback of %s", first->GetName());
        return false;
    }
    Update3D();
    playbackState = STATE_PLAYING;
    return true;
}

bool SoundInstanceStatic::StartPlayback() {
    const ResourceSound* first = sounds[0];
    formatKind = first->FormatKind();
    switch (formatKind) {
    case SOUND_FORMAT_PCM:
    case SOUND_FORMAT_ADPCM: {
        const audio::WaveFormat format = ToWaveFormat(first->WaveFormat());
        if (!CreateVoice(&format)) return false;
        SetChannelCount(format.channels);
        Update3D();
        if (!SubmitNextBuffer(true)) return false;
        return StartVoice();
    }
    case SOUND_FORMAT_XWMA: {
        const ResourceSound* chosen = sounds[uint32_t(CrtRand()) % sounds.Count()];
        ExtendedWaveFormat block = {};
        block.format = ToWaveFormat(chosen->WaveFormat());
        block.format.extraSize = 22;
        block.validBitsPerSample = block.format.bitsPerSample;
        if (!CreateVoice(&block.format)) return false;
        SetChannelCount(block.format.channels);
        SubmitNextBuffer(true);
        Update3D();
        return StartVoice();
    }
    case SOUND_FORMAT_OGG:
        decoder = new OGGStream(&staticSource);
        if (!RewindStream(true)) return false;
        return StartDecodedVoice();
    default:
        return false;
    }
}

bool SoundInstanceStatic::SubmitNextBuffer(bool first) {
    if (sounds.Count() == 0 || endReached || !voice) return false;
    const uint32_t loopsLeft = params.LoopCount;
    if (loopsLeft > 1) params.LoopCount = loopsLeft - 1;
    const ResourceSound* sound = sounds[PickSound()];
    if (!sound->Data() || sound->DataSize() == 0) return false;
    audio::AudioBuffer buffer;
    buffer.audioData = sound->Data();
    buffer.audioBytes = sound->DataSize();
    if (loopsLeft == 1) {
        buffer.flags = audio::kEndOfStream;
        endReached = true;
    }
    switch (formatKind) {
    case SOUND_FORMAT_PCM:
    case SOUND_FORMAT_ADPCM:
        return voice->SubmitSourceBuffer(&buffer) == audio::kOk;
    case SOUND_FORMAT_XWMA: {
        audio::PacketTable packets;
        packets.decodedPacketCumulativeBytes = reinterpret_cast<const uint32_t*>(sound->PacketTable());
        packets.packetCount = sound->PacketTableSize() / 4;
        return voice->SubmitSourceBuffer(&buffer, &packets) == audio::kOk;
    }
    default:
        return false;
    }
}

bool SoundInstanceStatic::RewindStream(bool first) {
    if (sounds.Count() == 0) return false;
    const ResourceSound* sound = sounds[PickSound()];
    staticSource.AddChunk(sound->Data(), sound->DataSize());
    return ReopenDecoder(GetName(), sound->GetName());
}
