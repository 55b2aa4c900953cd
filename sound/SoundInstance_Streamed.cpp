// SoundInstanceStreamed: an Ogg Vorbis file read through a StreamingFileReader on the
// loader thread and decoded here. The reader hands out at most one file's bytes per
// pass (it reopens the file by itself when it loops), so a short read marks the end of a
// pass; the rewind re-arms the reader's count and re-opens the decoder on the next
// bytes, or switches to a new reader for the loop file once one is set.
//
// At most kSoundMaxStreams ordinary and kSoundMaxMusicStreams music streams read at
// once; an instance over its limit logs and is deleted by the next update.
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/StreamingFileReader.h"
#include "platform/os/Clock.h"
#include "sound/SoundInstance.h"

SoundInstanceStreamed::SoundInstanceStreamed(EntitySoundEmitter* soundOwner, const char* soundName, uint32_t instanceId,
                                             const SoundParamWrapper& parameters)
    : SoundInstanceDecodableBase(soundOwner, soundName, instanceId, parameters),
      music((parameters.Flags & SOUNDSTARTFLAG_MUSIC) != 0),
      loopReader(parameters.LoopCount != 1) {
    uint32_t& counter = music ? musicStreamCount : streamCount;
    const uint32_t limit = music ? kSoundMaxMusicStreams : kSoundMaxStreams;
    const uint32_t before = counter++;
    if (before >= limit) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "Too many streamed sound sources [%s]", name.CStr());
        playbackState = STATE_FAILED;
        return;
    }
    reader = NewReader(name.CStr());
    streamedSource.reader = reader;
    playbackState = STATE_OPENING;
}

SoundInstanceStreamed::~SoundInstanceStreamed() {
    // The voice and the decoder go before the reader they read.
    if (voice) voice->DestroyVoice();
    voice = nullptr;
    delete decoder;
    decoder = nullptr;
    if (reader) reader->Release();
    reader = nullptr;
    uint32_t& counter = music ? musicStreamCount : streamCount;
    if (counter > 0) --counter;
    EngineFree(loopFile);
}

StreamingFileReader* SoundInstanceStreamed::NewReader(const char* path) const {
    const uint32_t bufferSize =
        params.StreamingBufferSize > kSoundMinStreamingBuffer ? params.StreamingBufferSize : kSoundMinStreamingBuffer;
    const char* folder = (params.Flags & SOUNDSTARTFLAG_ABSOULUTEPATH) ? nullptr : "sounds";
    // The loop rule of the construction holds for a loop file's reader as well.
    return new StreamingFileReader(bufferSize, path, nullptr, folder, loopReader);
}

bool SoundInstanceStreamed::Update() {
    if (params.LoopCount == 0 && BecamePlaceholder(SoundInstanceZombie::KIND_STREAMED)) return false;
    switch (playbackState) {
    case STATE_OPENING:
        if (!reader->IsOpenOrFailed() || startTime > gSoundEngine->Now()) return true;
        if (!reader->IsOpen()) {
            gLog.Print(LogSeverity::Error, LogCategory::Sound, "Unable to open sound file for streaming: [%s]",
                       reader->GetName());
            return false;
        }
        decoder = new OGGStream(&streamedSource);
        if (!RewindStream(true)) {
            gLog.Print(LogSeverity::Error, LogCategory::Sound, "Unable to start playback of streamed sound [%s]: %s",
                       reader->GetName(), decoder->FailureReason());
            return false;
        }
        if (!StartDecodedVoice()) {
            // A missing decode block has its own line. A format the voices refuse is the
            // file's fault and says so; anything else (no audio engine, a voice that
            // would not start) is not, and gets the plain line of the static path.
            if (voiceRefusal == audio::kErrorUnsupportedFormat)
                gLog.Print(LogSeverity::Error, LogCategory::Sound,
                           "Unable to start playback of streamed sound [%s]: %u channels at %u Hz cannot be played",
                           reader->GetName(), decoder->Format().channels, decoder->Format().sampleRate);
            else if (halves[0] || !voice)
                gLog.Print(LogSeverity::Error, LogCategory::Sound, "Unable to start playback of streamed sound [%s]",
                           reader->GetName());
            return false;
        }
        playbackState = STATE_PLAYING;
        formatKind = 4;
        Update3D();
        return true;
    case STATE_PLAYING:
        return Feed();
    case STATE_FAILED:
        return false;
    default:
        return SoundInstanceDecodableBase::Update();
    }
}

bool SoundInstanceStreamed::WaitsForData() const {
    return playbackState == STATE_OPENING && reader && !reader->IsOpenOrFailed();
}

void SoundInstanceStreamed::SetLoopFile(const char* file) {
    EngineFree(loopFile);
    loopFile = nullptr;
    if (!file || !file[0]) return;
    const size_t n = std::strlen(file) + 1;
    loopFile = static_cast<char*>(EngineAlloc(n));
    if (loopFile) std::memcpy(loopFile, file, n);
}

bool SoundInstanceStreamed::RewindStream(bool first) {
    if (!reader) return false;
    const char* what = name.CStr();
    if (loopFile && !first) {
        reader->Release();
        reader = NewReader(loopFile);
        streamedSource.reader = reader;
        opened.Set(loopFile, std::strlen(loopFile));
        EngineFree(loopFile);
        loopFile = nullptr;
        what = opened.CStr();
    } else {
        // Waits for the open attempt; a reader that handed out its file's bytes starts
        // the count again. (A new reader's first read waits for its open by itself.)
        reader->WaitUntilOpen();
    }
    return ReopenDecoder(name.CStr(), what);
}
