#pragma once
// SoundEngine (global gSoundEngine): the sound thread. A BaseThread named "SoundEngine"
// (65,536-byte ring with a writer lock, 30 ms wait) that owns the audio engine, the
// mastering voice, the 3-D panner and its listener, the sixteen sound channels, the
// master and class volumes and every sound instance (sound/SoundInstance.h).
//
// Threads: the front ends (Start to EvictSoundMemoryPool below) may be called from the
// main thread and from the render thread; they only post commands and never wait for
// the sound thread (Stop excepted). The only value that flows back is the instance id,
// allocated by the front end itself. Everything marked "sound thread" runs on the
// sound thread only, or on the thread that runs the engine's wakes when it runs without
// its thread (SetRunWithoutThread, for tests).
//
// Commands (payload fields in order; owners are pointers at native size):
//    8 initialise            9 shut down
//   10 listener Matrix (64 bytes)
//   11 f32 SFX, f32 music, f32 voice volume
//   12 u32 channel, f32 target, f32 seconds, u32 curve: channel volume fade
//   13 f32 target, f32 seconds, u32 curve: master volume fade
//   14 as 12: channel frequency-ratio fade
//   15 u32 id, SoundParamWrapper (48 bytes), u32 n, n + 1 bytes of name: play
//   16 u32 id, owner, f32 seconds: stop         17 u32 id, owner: end the loop
//   18 u32 id, owner, f32 seconds, i32 channel: pause    19 as 18: resume
//   20 u32 id, owner, f32 target, f32 seconds, u32 curve: volume fade
//   21 as 20: frequency-ratio fade
//   22 u32 id, u32 L, L bytes of name (0: none): loop file
//   23 log the active instances
//   24 i64 counter ticks: the stepped output plays that much more time (see below)
// Ids: 0xFFFFFFFF every instance; owner null any owner; a negative channel any channel.
//
// The stepped output (a --step-time run): the sound's clock is the time the main thread
// hands over with AdvanceSteppedOutput, the game's steps, not the counter. Each advance
// updates the instances and mixes exactly that time (in slices of at most one update
// interval, an update before each) into the capture file, so the file is on the game's
// clock and the same on every run: an update first waits for the data its new sounds
// need (resources loading, files opening), which a real-time output would play late or
// not at all. Nothing is heard.
#include <atomic>
#include <cstdint>
#include <vector>

#include "core/BaseThread.h"
#include "core/ThreadCheck.h"
#include "core/math/Matrix.h"
#include "engine/tween/Fade.h"
#include "platform/audio/AudioEngine.h"
#include "platform/audio/Panner3D.h"
#include "sound/SoundWakeClient.h"

class EntitySoundEmitter;

// SoundParamWrapper::Flags bits.
enum : uint32_t {
    SOUNDSTARTFLAG_STREAMED = 1,
    SOUNDSTARTFLAG_ABSOULUTEPATH = 2,  // the path is used as given, not under "sounds"
    SOUNDSTARTFLAG_MUSIC = 4,
    SOUNDSTARTFLAG_JUSTLOAD = 8,
    SOUNDSTARTFLAG_IPHONEMP3 = 16,
    SOUNDSTARTFLAG_NOATTENUATION = 32,
    SOUNDSTARTFLAG_IMPORTANT = 64,
};

// SoundParamWrapper::Class values: which class volume scales the sound.
enum : uint32_t { SOUNDCLASS_SFX = 0, SOUNDCLASS_MUSIC = 1, SOUNDCLASS_VOICE = 2, SOUNDCLASS_MAX = 3 };

// The parameter block of every play request. Holds no pointer: its 48 bytes cross the
// ring as they are.
struct SoundParamWrapper {
    uint32_t Flags;
    uint32_t Class;
    float Volume;
    float FrequencyRatio;
    uint32_t Channel;
    uint32_t LoopCount;  // passes to play; 0 = until stopped
    float FullVolumeRange;
    float ZeroVolumeRange;
    float StereoSoundChannelDistance;
    float DopplerFactor;
    float StartDelay;  // seconds
    uint32_t StreamingBufferSize;

    void LoadDefaults();
    // The defaults, for callers that pass no block (the scripts' DEFAULT).
    static SoundParamWrapper DEFAULT;
};
static_assert(sizeof(SoundParamWrapper) == 48, "the play command carries the block as 48 bytes");

constexpr uint32_t kSoundChannelCount = 16;
constexpr uint32_t kSoundAllInstances = 0xFFFFFFFFu;
constexpr uint32_t kSoundAllChannels = 0xFFFFFFFFu;  // SetChannelVolume / SetChannelFrequencyRatio
constexpr uint32_t kSoundOperationSet = 1;           // every voice change of the sound thread
constexpr float kSoundMaxFrequencyRatio = 2.0f;      // every source voice's maximum
constexpr uint32_t kSoundMaxPathLength = 259;        // PlayLocalizedVoice's path, without the terminator

enum SoundCommand : uint32_t {
    SOUND_CMD_INITIALIZE = 8,
    SOUND_CMD_SHUTDOWN = 9,
    SOUND_CMD_SET_LISTENER = 10,
    SOUND_CMD_VOLUME_SETTINGS = 11,
    SOUND_CMD_CHANNEL_VOLUME = 12,
    SOUND_CMD_MASTER_VOLUME = 13,
    SOUND_CMD_CHANNEL_FREQUENCY_RATIO = 14,
    SOUND_CMD_PLAY = 15,
    SOUND_CMD_STOP = 16,
    SOUND_CMD_EXIT_LOOP = 17,
    SOUND_CMD_PAUSE = 18,
    SOUND_CMD_RESUME = 19,
    SOUND_CMD_SET_VOLUME = 20,
    SOUND_CMD_SET_FREQUENCY_RATIO = 21,
    SOUND_CMD_SET_LOOP_FILE = 22,
    SOUND_CMD_LOG_INSTANCES = 23,
    SOUND_CMD_ADVANCE = 24,
    SOUND_CMD_END
};

// One of the sixteen channels: two fades and their values at the last audio update.
struct SoundChannel {
    FloatFade volumeFade;
    FloatFade frequencyRatioFade;
    float currentVolume = 1.0f;
    float currentFrequencyRatio = 1.0f;
};

class SoundEngine : public BaseThread {
public:
    SoundEngine();
    ~SoundEngine() override;

    // ======== Main thread ========
    // Starts the thread, then posts the initialisation (8) and the volumes (11).
    bool Start() override;
    // Posts the shutdown (9), flushes when the thread exists, stops the thread.
    void Stop() override;

    // ======== Main or render thread: post a command, never wait ========
    void SetListener(const Matrix& listener);
    // The configuration's "SFX volume", "Music volume" and "Voice volume".
    void ApplyVolumeSettings();
    // channel 0-15 or kSoundAllChannels; another channel logs and posts nothing.
    void SetChannelVolume(uint32_t channel, float target, float seconds, uint32_t curve);
    void FadeMasterVolume(float target, float seconds, uint32_t curve);
    void SetChannelFrequencyRatio(uint32_t channel, float target, float seconds, uint32_t curve);
    // The new instance id, or 0 for a null name or a name that cannot be posted. Null
    // params: the defaults.
    uint32_t PlaySystemSound(const char* name, const SoundParamWrapper* params);
    // Plays "Voices/<Voice language>/<name>.ogg" as a streamed voice: writes Flags 3 and
    // Class 2 into params (when given). 0 for a null name or a path over 259 characters.
    uint32_t PlayLocalizedVoice(const char* name, SoundParamWrapper* params);
    void StopSound(uint32_t id, float seconds, const EntitySoundEmitter* owner = nullptr);
    void ExitLoop(uint32_t id, const EntitySoundEmitter* owner = nullptr);
    void PauseSound(uint32_t id, float seconds, const EntitySoundEmitter* owner, int32_t channel);
    void ResumeSound(uint32_t id, float seconds, const EntitySoundEmitter* owner, int32_t channel);
    void SetVolume(uint32_t id, float target, float seconds, uint32_t curve, const EntitySoundEmitter* owner = nullptr);
    void SetFrequencyRatio(uint32_t id, float target, float seconds, uint32_t curve,
                           const EntitySoundEmitter* owner = nullptr);
    // Streamed instances play the named file (null: none) after their current pass.
    // False (one line) when the record cannot be posted.
    bool SetLoopFile(uint32_t id, const char* name);
    void LogActiveSoundInstances();
    // Through the loader: dump the sound memory pool; evict unused sounds.
    void LogSoundMemoryPool();
    void EvictSoundMemoryPool();
    // The stepped output plays `ticks` more counter ticks of time (command 24); nothing
    // without it.
    void AdvanceSteppedOutput(int64_t ticks);

    // ======== Any thread ========
    // Runs job(argument, payload copy) on the sound thread, in order with the commands
    // around it; at once on the calling thread when the thread is not running.
    void PostJob(PayloadJob job, void* argument, const void* payload, uint32_t bytes);
    // The next instance id (ids count up from 1; 0 is never handed out).
    uint32_t NextInstanceId();
    // The application's activation state (the Game's focus changes).
    void SetAppActive(bool active) { appActive.store(active, std::memory_order_relaxed); }
    bool IsAppActive() const { return appActive.load(std::memory_order_relaxed); }
    // Whether the emitters' start operation may post: the thread runs, or the engine
    // runs without it (tests).
    bool AcceptsPlays() const { return IsRunning() || runWithoutThread; }
    // Set before Start: the output is the stepped one (see above).
    void SetSteppedOutput(bool on) { stepped = on; }
    bool IsSteppedOutput() const { return stepped; }

    // ======== Sound thread ========
    // Null until initialised and after the shutdown.
    audio::AudioEngine* GetAudioEngine() const {
        ASSERT_ON_THREAD(ThreadId(), "sound thread");
        return audioEngine;
    }
    audio::MasteringVoice* GetMasteringVoice() const { return masteringVoice; }
    // Sound thread, or any thread while the thread does not run.
    bool HasAudioEngine() const { return audioEngine != nullptr; }
    // The sound's clock in counter ticks: the counter, or the stepped output's time.
    int64_t Now() const;
    uint32_t OutputChannelCount() const { return outputChannels; }
    int64_t LastUpdateTime() const { return lastUpdateTime; }
    float MasterVolume() const { return masterVolume; }
    // 1.0 for a class outside SOUNDCLASS_*.
    float ClassVolume(uint32_t soundClass) const { return soundClass < SOUNDCLASS_MAX ? classVolumes[soundClass] : 1.0f; }
    const SoundChannel& Channel(uint32_t index) const { return channels[index < kSoundChannelCount ? index : 0]; }
    const audio::Listener& GetListener() const { return listener; }
    const audio::PannerHandle& GetPannerHandle() const { return panner; }
    const Matrix& ListenerMatrix() const { return listenerMatrix; }
    // Clients served after every wake's audio update, in the order added; adding one
    // twice adds it once.
    void AddWakeClient(SoundWakeClient* client);
    void RemoveWakeClient(SoundWakeClient* client);

    // ======== Tests ========
    // The options of the audio engine that the next initialisation creates (copied;
    // the capture path must outlive it). Null: the defaults (real-time null output).
    void SetEngineOptions(const audio::EngineOptions* options);
    // The factory the next initialisation calls (null: audio::CreateAudioEngine), so a
    // test can wrap the engine.
    using EngineFactory = audio::Result (*)(audio::AudioEngine** engine, const audio::EngineOptions* options);
    void SetEngineFactory(EngineFactory factory) { engineFactory = factory; }
    // With true the engine runs without its thread: Start and Stop post their commands,
    // and RunWake, called on one test thread, runs one wake (the commands, then the
    // audio update). Set before Start.
    void SetRunWithoutThread(bool on) { runWithoutThread = on; }
    void RunWake();

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override;
    void Tick() override;

private:
    friend struct SoundCommandHandlers;

    void Initialize();
    void Shutdown();
    void UpdateAudio();
    // The update at the time: fades, instances, the commit and the counters.
    void RunUpdate(int64_t now, uint64_t elapsedMs);
    // Command 24: updates and mixes the stepped output's next stretch.
    void AdvanceStepped(int64_t ticks);
    // Updates the instances again until none waits for its data (bounded).
    void WaitForSoundData();
    // Master fade done at once, every instance's levels applied and committed: the
    // update stops while the thread waits without a time-out.
    void CompleteMasterFade();
    void AdvanceFades(int64_t now);
    void FadeChannels(uint32_t channel, float target, float seconds, uint32_t curve, bool frequencyRatio);
    bool PostChannelFade(uint32_t command, const char* caller, uint32_t channel, float target, float seconds,
                         uint32_t curve);
    void PostOwnerCommand(uint32_t command, uint32_t id, const EntitySoundEmitter* owner, const void* rest,
                          uint32_t restBytes);

    audio::AudioEngine* audioEngine = nullptr;
    audio::MasteringVoice* masteringVoice = nullptr;
    uint32_t glitchCount = 0;
    uint32_t decodedByteMark = 0;
    audio::PannerHandle panner = {};
    audio::Listener listener = {};
    Matrix listenerMatrix;
    uint32_t outputChannels = 0;
    int64_t lastUpdateTime = 0;
    float masterVolume = 1.0f;
    std::atomic<uint32_t> instanceIdCounter{0};
    std::atomic<bool> appActive{true};
    float classVolumes[SOUNDCLASS_MAX] = {1.0f, 1.0f, 1.0f};
    SoundChannel channels[kSoundChannelCount];
    FloatFade masterFade;
    std::vector<SoundWakeClient*> wakeClients;

    audio::EngineOptions engineOptions;
    EngineFactory engineFactory = nullptr;
    bool runWithoutThread = false;
    // The stepped output: its clock's start, the time handed over, the frames mixed, the
    // output's rate.
    bool stepped = false;
    int64_t steppedOrigin = 0;
    int64_t steppedTicks = 0;
    uint64_t steppedFrames = 0;
    uint32_t outputRate = 0;
    bool dataWaitTimedOut = false;  // a wait for sound data ran out: none is waited for again
};

// Built by the ordered start-up (kSoundStaticInit, module 4).
extern SoundEngine* gSoundEngine;
