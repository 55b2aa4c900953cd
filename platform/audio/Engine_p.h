#pragma once
// Private to the audio engine: the voice and engine implementations shared by
// AudioEngine.cpp (calls, validation, deferred operations), Mixer.cpp (rendering) and
// Output.cpp (the real-time null output and its WAV capture).
//
// Every field below is guarded by EngineImpl::lock unless it says otherwise.
#include <atomic>
#include <cassert>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/AudioEngine.h"
#include "platform/os/Thread.h"

namespace audio::detail {

// The engine's lock. The development build also records which thread holds it, so
// the functions below that must run under it (or must not) check their caller.
class EngineLock {
public:
    void lock() {
        mutex.lock();
#ifndef NDEBUG
        owner.store(Caller(), std::memory_order_relaxed);
#endif
    }
    void unlock() {
#ifndef NDEBUG
        owner.store(0, std::memory_order_relaxed);
#endif
        mutex.unlock();
    }
#ifndef NDEBUG
    bool HeldByCaller() const { return owner.load(std::memory_order_relaxed) == Caller(); }
#endif

private:
#ifndef NDEBUG
    static os::ThreadId Caller() {
        thread_local const os::ThreadId id = os::CurrentThreadId();
        return id;
    }
#endif
    std::mutex mutex;
#ifndef NDEBUG
    std::atomic<os::ThreadId> owner{0};
#endif
};
using EngineGuard = std::lock_guard<EngineLock>;

class EngineImpl;
class RealtimeOutput;
class WavCapture;

struct SourceFormat {
    uint16_t tag = 0;
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t blockAlign = 0;       // bytes per frame (PCM) or per block (ADPCM)
    uint32_t bitsPerSample = 0;
    uint32_t samplesPerBlock = 1;  // frames per block: 1 for PCM
};

// One submitted buffer; positions in decoded frames.
struct QueuedBuffer {
    const uint8_t* data = nullptr;
    uint32_t cursor = 0;     // next frame to hand to the resampler
    uint32_t playEnd = 0;
    uint32_t loopBegin = 0;
    uint32_t loopEnd = 0;
    uint32_t loopsLeft = 0;  // kLoopInfinite = endless
    bool endOfStream = false;
    void* context = nullptr;
};

struct MixParams {
    float volume = 1.0f;
    float matrix[kMaxSourceChannels * kMaxOutputChannels] = {};
    float ratio = 1.0f;
    bool started = false;
};

class SourceVoiceImpl final : public SourceVoice {
public:
    SourceVoiceImpl(EngineImpl* engine, const SourceFormat& format, uint32_t flags, float maxRatio);

    void GetVoiceDetails(VoiceDetails* details) override;
    Result SetVolume(float volume, uint32_t operationSet) override;
    Result SetOutputMatrix(Voice* destination, uint32_t sourceChannels, uint32_t destinationChannels,
                           const float* levels, uint32_t operationSet) override;
    void DestroyVoice() override;
    Result Start(uint32_t flags, uint32_t operationSet) override;
    Result Stop(uint32_t flags, uint32_t operationSet) override;
    Result SubmitSourceBuffer(const AudioBuffer* buffer, const PacketTable* packets) override;
    Result ExitLoop(uint32_t operationSet) override;
    void GetState(VoiceState* state) override;
    Result SetFrequencyRatio(float ratio, uint32_t operationSet) override;
    void GetDebugState(VoiceDebugState* state) override;

    ~SourceVoiceImpl() override = default;

    // Mixer side (Mixer.cpp), called with the lock held.
    // Writes up to `frames` resampled frames to out (Channels floats per frame, in
    // 16-bit sample units times 2^14) and returns how many; fewer when the voice
    // starves or its stream ends.
    template <uint32_t Channels>
    uint32_t Produce(uint32_t frames, int64_t step, float* out);
    uint64_t SamplesPlayed() const;
    bool StreamEnded() const { return streamEnded; }

    // Gain ramp (Mixer.cpp): the levels the mixer applies (matrix x volume x master
    // volume per matrix entry) follow a change of any of them linearly over
    // kGainRampFrames output frames, so a volume or pan step never clicks. The first
    // quantum a voice plays takes its levels at once.
    static constexpr uint32_t kGains = kMaxSourceChannels * kMaxOutputChannels;
    float gainNow[kGains] = {};     // levels at the next output frame
    float gainTarget[kGains] = {};  // levels the ramp ends at
    float gainStep[kGains] = {};    // change per output frame while rampLeft > 0
    uint32_t rampLeft = 0;          // output frames of the ramp still to go
    bool gainsPrimed = false;

    EngineImpl* const engine;
    const SourceFormat format;
    const uint32_t creationFlags;
    const float maxRatio;
    MixParams params;

    QueuedBuffer queue[kMaxQueuedBuffers];
    uint32_t head = 0;
    uint32_t count = 0;

private:
    bool FetchWindow();

    // Resampler: the window holds winCount frames of 16-bit samples (little-endian,
    // interleaved) at win; pos is the read position in 32.32 fixed point relative to
    // the window's first frame; position -1 is `history`, the frame before the window.
    const uint8_t* win = nullptr;
    uint32_t winCount = 0;
    int64_t pos = 0;
    int32_t history[kMaxSourceChannels] = {};
    bool draining = false;     // the end-of-stream buffer finished; the last frame plays out
    bool streamEnded = false;
    uint64_t consumedFrames = 0;
    std::vector<int16_t> scratch;  // converted PCM8 or one decoded ADPCM block
    int64_t cachedBlock = -1;      // ADPCM block held in scratch for the front buffer
};

class MasteringVoiceImpl final : public MasteringVoice {
public:
    MasteringVoiceImpl(EngineImpl* engine, uint32_t channels, uint32_t sampleRate)
        : engine(engine), channels(channels), sampleRate(sampleRate) {}
    void GetVoiceDetails(VoiceDetails* details) override;
    Result SetVolume(float volume, uint32_t operationSet) override;
    Result SetOutputMatrix(Voice*, uint32_t, uint32_t, const float*, uint32_t) override;
    void DestroyVoice() override;
    ~MasteringVoiceImpl() override = default;

    EngineImpl* const engine;
    const uint32_t channels;
    const uint32_t sampleRate;
    float volume = 1.0f;
};

enum class OpKind : uint8_t { kStart, kStop, kExitLoop, kVolume, kMatrix, kRatio };

struct Operation {
    SourceVoiceImpl* source = nullptr;  // null: the mastering voice
    OpKind kind = OpKind::kStart;
    uint32_t operationSet = 0;
    float value = 0.0f;
    float matrix[kMaxSourceChannels * kMaxOutputChannels] = {};
};

class EngineImpl final : public AudioEngine {
public:
    explicit EngineImpl(const EngineOptions& options);

    Result Initialize(uint32_t flags, uint32_t processor) override;
    Result CreateMasteringVoice(MasteringVoice** voice, uint32_t channels, uint32_t sampleRate, uint32_t flags,
                                uint32_t deviceIndex, const EffectChain* effects) override;
    Result CreateSourceVoice(SourceVoice** voice, const WaveFormat* format, uint32_t flags, float maxFrequencyRatio,
                             VoiceCallback* callback, const SendList* sends, const EffectChain* effects) override;
    Result CommitChanges(uint32_t operationSet) override;
    void GetPerformanceData(PerformanceData* data) override;
    uint32_t Release() override;
    const char* LastErrorText() override;
    uint32_t Render(uint32_t frames, float* out) override;
    uint32_t RenderDue(float* out, uint32_t maxFrames) override;
    uint32_t GetVoiceDebugStates(VoiceDebugState* states, uint32_t maxStates) override;
    void InjectMixerStall(uint32_t milliseconds) override;

    // Helpers for the voices; called with the lock held.
    Result Refuse(Result result, const char* format, ...) __attribute__((format(printf, 3, 4)));
    Result Apply(const Operation& op);  // at once (set 0) or queued
    void Execute(const Operation& op);
    void RemoveVoice(SourceVoiceImpl* voice);
    void FillDebugState(const SourceVoiceImpl& voice, VoiceDebugState* state) const;

    // Mixer (Mixer.cpp): mixes frames (at most one quantum) into out, interleaved
    // output channels, clipped; out may be null. Lock held by the caller.
    void MixQuantum(uint32_t frames, float* out);
    uint32_t QuantumFrames() const;

    // Output.cpp: stop and free the real-time output (joins its thread). Lock NOT held.
    void StopOutput();

    EngineLock lock;
    const EngineOptions options;
    bool initialized = false;
    MasteringVoiceImpl* master = nullptr;
    std::vector<SourceVoiceImpl*> voices;
    std::vector<Operation> pending;
    char lastError[192] = {};
    std::atomic<uint32_t> glitches{0};  // written by the mixer thread, read by any
    std::atomic<uint32_t> stallMs{0};
    uint64_t framesRendered = 0;
    int64_t dueOrigin = 0;  // manual output: clock ticks at the mastering voice's creation
    uint64_t dueFrames = 0;
    std::vector<float> mixBuffer;    // one quantum, output channels
    std::vector<float> voiceBuffer;  // one quantum of one voice, source channels
    RealtimeOutput* output = nullptr;  // the mixer thread itself never reads it
    WavCapture* manualCapture = nullptr;  // the manual output's capture file
    std::vector<float> captureBuffer;     // what Render mixes when its caller discards it
    std::atomic<bool> deviceLost{false};  // the audio device went away while playing

private:
    ~EngineImpl() override;
};

// Output.cpp
RealtimeOutput* StartRealtimeOutput(EngineImpl* engine, const char* capturePath);
// The process-wide default capture file ("" for none).
std::string DefaultCapturePath();
// The capture file an engine writes: its option, else AUDIO_CAPTURE_WAV, else the
// default; "" for none.
std::string CapturePathFor(const EngineOptions& options);
// A capture file of the manual output (null when none is asked for or it cannot be
// written, which the notice says); appended frames are interleaved floats.
WavCapture* OpenManualCapture(const std::string& path, uint32_t channels, uint32_t rate);
void AppendManualCapture(WavCapture* capture, const float* samples, uint32_t frames);
void CloseManualCapture(WavCapture** capture);
void Notice(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace audio::detail
