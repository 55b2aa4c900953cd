#pragma once
// Sound instances: one playing sound each, with its source voice, parameter block,
// fades, 3-D emitter and the source of its audio.
//
//   SoundInstanceBase
//     SoundInstanceDecodableBase: a decoder and one 32 KB decode block in two halves
//       SoundInstanceStatic: one of a ";"-separated list of sound resources, picked at
//         random per pass; PCM and ADPCM data go to the voice as they are, Ogg data
//         through an OGGStream over the resource's memory
//       SoundInstanceStreamed: an Ogg file read by a StreamingFileReader and decoded
//     SoundInstanceZombie: the placeholder of an endless positional sound too far from
//       the listener to be heard: no voice, only its owner's position
//
// Instances live in one list owned by the sound thread: made by the play command,
// updated by every audio update (the update pass), deleted when their update reports
// them finished or a command stops them. Nothing here uses voice callbacks: the update
// keeps up to two buffers queued.
//
// Threads: sound thread only. Resources and streaming readers are filled by the loader
// thread; an instance polls their state and never blocks, except that re-opening a
// streamed decoder waits for its reader's open.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/Matrix.h"
#include "core/text/NameString.h"
#include "engine/tween/Fade.h"
#include "platform/audio/AudioEngine.h"
#include "platform/audio/Panner3D.h"
#include "sound/SoundEngine.h"
#include "sound/SoundStream.h"

class EntitySoundEmitter;
class ResourceSound;
class StreamingFileReader;

// State flags of an instance.
enum : uint32_t {
    SOUNDINSTANCE_STOPPING = 1,
    SOUNDINSTANCE_DOPPLER = 2,
    SOUNDINSTANCE_PAUSED = 4,
    SOUNDINSTANCE_POSITIONAL = 8,
    SOUNDINSTANCE_IMPORTANT = 16,
};

// Flags bit of a static sound: the first pick is sound 0, later picks any other sound.
constexpr uint32_t kSoundFlagFirstPickIsFirstSound = 256;

constexpr uint32_t kSoundDecodeBlockBytes = 32768;
constexpr uint32_t kSoundDecodeHalfBytes = kSoundDecodeBlockBytes / 2;
constexpr uint32_t kSoundMaxStreams = 8;       // ordinary streamed instances reading at once
constexpr uint32_t kSoundMaxMusicStreams = 4;  // music streamed instances reading at once
constexpr uint32_t kSoundMaxStaticPart = 1024;  // characters of one name of a static list
constexpr uint32_t kSoundMinStreamingBuffer = 1024;

class SoundInstanceBase {
public:
    // Common construction; appends the instance to the tail of the list.
    SoundInstanceBase(EntitySoundEmitter* owner, const char* name, uint32_t id, const SoundParamWrapper& params);
    // Destroys the voice, unlinks the instance.
    virtual ~SoundInstanceBase();
    SoundInstanceBase(const SoundInstanceBase&) = delete;
    SoundInstanceBase& operator=(const SoundInstanceBase&) = delete;

    // False: the instance is finished (the update pass deletes it).
    virtual bool Update();
    virtual void ExitLoop() {}
    virtual void SetLoopFile(const char* name) {}
    virtual const char* GetName() const { return "Unknown"; }
    virtual bool IsZombie() const { return false; }
    // Whether the instance cannot start yet because its data is still on its way (its
    // resources loading, its file opening): the stepped output waits for it.
    virtual bool WaitsForData() const { return false; }
    // False without a voice.
    virtual bool SetVoiceVolume(float volume);

    void Pause();
    void Resume();
    // Command 20 / 21: target clamped to [0, 1]; then the levels are applied.
    void FadeVolume(float target, float seconds, uint32_t curve);
    void FadeFrequencyRatio(float target, float seconds, uint32_t curve);
    // Command 16 with a fade: a fade to silence, then the update pass deletes it.
    void StopWithFade(float seconds);
    // Volume = fade x channel x class x master; ratio = fade x Doppler x channel ratio,
    // clamped to [1/1024, the voice's maximum]; each sent only when it changed.
    void ApplyLevels();
    // The 3-D state of a voiced instance: a positional one with an owner takes the
    // owner's frame, and the panner's matrix (and Doppler factor) go to its voice;
    // then the levels are applied.
    void Update3D();

    uint32_t Id() const { return id; }
    const EntitySoundEmitter* Owner() const { return owner; }
    uint32_t StateFlags() const { return stateFlags; }
    const SoundParamWrapper& Params() const { return params; }
    audio::SourceVoice* Voice() const { return voice; }
    const FloatFade& VolumeFade() const { return volumeFade; }
    const FloatFade& FrequencyRatioFade() const { return frequencyRatioFade; }
    float DopplerFactor() const { return dopplerFactor; }
    int64_t StartTime() const { return startTime; }
    const audio::Emitter& GetEmitter() const { return emitter; }
    const Matrix& OwnerTransform() const { return ownerTransform; }
    SoundInstanceBase* Next() const { return next; }

    // ---- The list and the sound thread's counters ----
    static SoundInstanceBase* First() { return head; }
    static uint32_t Count();
    // The instance a play command makes (IPHONEMP3 first deletes every such instance).
    static SoundInstanceBase* CreateFromPlay(const char* name, uint32_t id, const SoundParamWrapper& params);
    static void DeleteAll();
    // The instance of an emitter's start operation: static or streamed, owned by the
    // emitter (no IPHONEMP3 rule).
    static SoundInstanceBase* CreateForOwner(EntitySoundEmitter* owner, const char* name, uint32_t id,
                                             const SoundParamWrapper& params);
    // The emitter goes away. seconds <= 0: every instance of it stops and is deleted.
    // Otherwise each loses its owner (keeping its last position); placeholders are
    // deleted, the others fade to silence over seconds and are marked stopping.
    static void ReleaseOwner(const EntitySoundEmitter* owner, float seconds);
    // Updates every instance; deletes those that finished.
    static void UpdateAll();
    static bool AnyWaitsForData();
    // Decoded bytes since the process started (wraps).
    static uint32_t DecodedBytes() { return decodedBytes; }
    static uint32_t StreamCount() { return streamCount; }
    static uint32_t MusicStreamCount() { return musicStreamCount; }
    // The decode buffer pool (initialise and shut-down commands).
    static void CreateDecodePool(uint32_t blocks);
    static void DestroyDecodePool();
    static uint32_t FreeDecodeBlocks();

protected:
    // Null when no audio engine runs or it refused the voice; voiceRefusal keeps why.
    audio::SourceVoice* CreateVoice(const audio::WaveFormat* format);
    // Starts the new voice; false when it refused. An instance paused before it had its
    // voice stays silent until it is resumed.
    bool StartVoice();
    void SetChannelCount(uint32_t sourceChannels);
    // Range test of a positional, not important instance: the listener farther than
    // max(2 x FullVolumeRange, ZeroVolumeRange) x factor from the owner's last position.
    bool OutOfRange(float factor) const;
    // Endless sounds only: a placeholder replaces this instance when it is not stopping
    // and out of range at 1.2. True when it did (the caller's Update returns false).
    bool BecamePlaceholder(uint32_t kind);
    // The range rules at the start of a static or streamed update: a finite sound out of
    // range at 1.8, or an endless one that became a placeholder. True: finished.
    bool LeavesForRange(uint32_t kind);
    // Natural roll-off (ZeroVolumeRange 0), the linear curve, or a step at
    // ZeroVolumeRange when it does not exceed FullVolumeRange.
    void InstallDistanceCurve();
    // Takes the owner's transform into ownerTransform (an instance with an owner).
    void CopyOwnerTransform();
    // State flags, both fades, the Doppler factor and the start time.
    void CopyStateFrom(const SoundInstanceBase& from);

    uint32_t id;
    NameString name;
    FloatFade volumeFade;
    FloatFade frequencyRatioFade;
    float dopplerFactor = 1.0f;
    float lastVolume;
    float lastFrequencyRatio = 1.0f;
    SoundParamWrapper params;
    uint32_t stateFlags = 0;
    audio::Emitter emitter = {};
    audio::CurvePoint curvePoints[2] = {};
    audio::DistanceCurve volumeCurve = {};
    float channelAzimuths[2] = {};
    audio::SourceVoice* voice = nullptr;
    // The engine's answer to the last CreateVoice (kErrorUnsupportedFormat: the format;
    // kErrorInvalidCall: no audio engine).
    audio::Result voiceRefusal = audio::kOk;
    Matrix ownerTransform;
    EntitySoundEmitter* owner;
    uint32_t channelCount = 0;
    int64_t startTime = 0;  // counter ticks; 0 = at once

    static uint32_t decodedBytes;
    static uint32_t streamCount;
    static uint32_t musicStreamCount;

private:
    friend class SoundInstanceZombie;
    SoundInstanceBase* previous = nullptr;
    SoundInstanceBase* next = nullptr;
    static SoundInstanceBase* head;
    static SoundInstanceBase* tail;
};

// The placeholder: keeps an endless positional sound's id, owner, name, block, fades,
// flags and start time while the listener is far, and rebuilds the voiced instance (at
// the tail of the list) when the listener comes back within 1.1 x its range.
class SoundInstanceZombie : public SoundInstanceBase {
public:
    enum : uint32_t { KIND_STATIC = 0, KIND_STREAMED = 1 };

    SoundInstanceZombie(const SoundInstanceBase& from, uint32_t kind);

    bool Update() override;
    const char* GetName() const override { return "Zombie"; }
    bool IsZombie() const override { return true; }
    uint32_t Kind() const { return kind; }

private:
    uint32_t kind;
};

class SoundInstanceDecodableBase : public SoundInstanceBase {
public:
    using SoundInstanceBase::SoundInstanceBase;
    // Deletes the decoder and returns the decode block.
    ~SoundInstanceDecodableBase() override;

    void ExitLoop() override;
    // Re-opens the decoder at the next pass (first: the opening pass).
    virtual bool RewindStream(bool first) = 0;
    virtual bool SubmitNextBuffer(bool first) { return false; }

    uint32_t FormatKind() const { return formatKind; }

protected:
    // Voice from the decoder's format, a decode block, the first half, Start.
    bool StartDecodedVoice();
    // Re-opens the decoder; a later pass whose format differs from the voice's ends the
    // sound with the format message (naming the first sound and `what`).
    bool ReopenDecoder(const char* first, const char* what);
    bool DecodeNextHalf();
    // Keeps up to two buffers queued; false once the voice has drained.
    bool Feed();

    uint32_t formatKind = 0;  // SoundFormatKind of the resources; 4 for decoded Ogg
    CompressedSoundStream* decoder = nullptr;
    uint8_t* halves[2] = {nullptr, nullptr};
    uint8_t nextHalf = 0;
    bool endReached = false;
    bool formatMismatch = false;
    bool holeLogged = false;  // a damaged stretch was reported (once per instance)
    uint32_t playbackState = 0;

private:
    uint8_t* block = nullptr;
};

class SoundInstanceStatic : public SoundInstanceDecodableBase {
public:
    enum : uint32_t { STATE_NO_SOUND = 0, STATE_WAITING = 1, STATE_PLAYING = 2 };

    // Looks up (and queues the load of) every non-empty ";" part of the name.
    SoundInstanceStatic(EntitySoundEmitter* owner, const char* name, uint32_t id, const SoundParamWrapper& params);
    ~SoundInstanceStatic() override;

    bool Update() override;
    const char* GetName() const override;
    bool WaitsForData() const override;
    bool RewindStream(bool first) override;
    bool SubmitNextBuffer(bool first) override;

    uint32_t SoundCount() const { return sounds.Count(); }

private:
    bool StartPlayback();
    uint32_t PickSound();

    Dynarray<ResourceSound*> sounds;
    SoundStreamStaticDataSource staticSource;
    bool picked = false;
};

class SoundInstanceStreamed : public SoundInstanceDecodableBase {
public:
    enum : uint32_t { STATE_OPENING = 0, STATE_PLAYING = 1, STATE_FAILED = 2 };

    SoundInstanceStreamed(EntitySoundEmitter* owner, const char* name, uint32_t id, const SoundParamWrapper& params);
    // Releases the reader (on the loader thread), lowers its stream count.
    ~SoundInstanceStreamed() override;

    bool Update() override;
    void SetLoopFile(const char* name) override;
    bool WaitsForData() const override;
    bool RewindStream(bool first) override;

private:
    StreamingFileReader* NewReader(const char* path) const;

    StreamingFileReader* reader = nullptr;
    SoundStreamStreamedDataSource streamedSource;
    char* loopFile = nullptr;
    NameString opened;  // the file the reader reads now, once it switched to a loop file
    bool music;
    bool loopReader;  // readers reopen their file at its end (LoopCount not 1 at construction)
};
