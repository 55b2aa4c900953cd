#pragma once
// The audio engine: a software mixer with the shape the sound code expects of a
// voice-based audio API. One engine owns one mastering voice (the output) and any
// number of source voices; each source voice plays a queue of caller-owned buffers
// (PCM 8/16 bit or MS-ADPCM, mono or stereo, any rate from 1 kHz to 200 kHz),
// resampled to the output rate by its source rate x frequency ratio, scaled by its
// volume and sent to the output through its output matrix.
//
// Threads: every call below may come from any thread; the engine serialises them on
// one lock, which the mixer holds while it renders one quantum (10 ms) of output.
// The real-time null output runs its own mixer thread; the manual output mixes on
// the thread that calls Render / RenderDue.
//
// Deferred changes: calls that take an operation set apply at once when the set is
// kCommitNow (0); any other set queues the change until CommitChanges(set) or
// CommitChanges(kCommitAll). Queued changes of one commit apply in call order and
// all together, before the next quantum is mixed.
//
// Ownership: buffer memory stays the caller's until the buffer has finished playing
// (BuffersQueued no longer counts it) or the voice is destroyed. Releasing the engine
// destroys every voice; voice pointers are invalid afterwards.
#include <cstdint>

namespace audio {

// ---- results ---------------------------------------------------------------------------
using Result = int32_t;
constexpr Result kOk = 0;
constexpr Result kErrorFail = static_cast<int32_t>(0x80004005u);
constexpr Result kErrorOutOfMemory = static_cast<int32_t>(0x8007000Eu);
constexpr Result kErrorInvalidArg = static_cast<int32_t>(0x80070057u);
constexpr Result kErrorInvalidCall = static_cast<int32_t>(0x88960001u);
constexpr Result kErrorDeviceInvalidated = static_cast<int32_t>(0x88960004u);
constexpr Result kErrorUnsupportedFormat = static_cast<int32_t>(0x88890008u);

// A short fixed text for a result ("ok", "invalid call", ...).
const char* ResultText(Result result);

// ---- documented numeric values the sound code passes --------------------------------
constexpr uint32_t kCommitNow = 0;  // operation set 0: the change applies at once
constexpr uint32_t kCommitAll = 0;  // CommitChanges(0) applies every queued set
constexpr uint32_t kAnyProcessor = 0xFFFFFFFFu;
constexpr uint32_t kDebugEngine = 0x1;  // Initialize flag; accepted, no effect

constexpr uint32_t kDefaultChannels = 0;    // mastering voice: the output's channel count
constexpr uint32_t kDefaultSampleRate = 0;  // mastering voice: the output's rate

// Source voice creation flags.
constexpr uint32_t kVoiceNoPitch = 0x2;  // frequency ratio fixed at 1
constexpr uint32_t kVoiceNoSrc = 0x4;    // no rate conversion: source rate must equal the output rate
constexpr uint32_t kVoiceMusic = 0x10;   // recorded in the details; no other effect

constexpr uint32_t kPlayTails = 0x20;    // Stop flag
constexpr uint32_t kEndOfStream = 0x40;  // buffer flag: no data follows this buffer

constexpr uint32_t kLoopInfinite = 255;
constexpr uint32_t kMaxLoopCount = 254;
constexpr uint32_t kMaxQueuedBuffers = 64;
constexpr uint32_t kMaxBufferBytes = 0x80000000u;

constexpr float kDefaultFrequencyRatio = 2.0f;  // a source voice's maximum when 0 is passed
constexpr float kMinFrequencyRatio = 1.0f / 1024.0f;
constexpr float kMaxFrequencyRatio = 1024.0f;
constexpr float kMaxVolumeLevel = 16777216.0f;
constexpr uint32_t kMinSampleRate = 1000;
constexpr uint32_t kMaxSampleRate = 200000;

// Channel limits of this mixer: sources are mono or stereo, the output 1 to 8 channels.
constexpr uint32_t kMaxSourceChannels = 2;
constexpr uint32_t kMaxOutputChannels = 8;

// Format tags.
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatAdpcm = 2;  // MS-ADPCM with the seven standard coefficient pairs
constexpr uint16_t kFormatIeeeFloat = 3;
constexpr uint16_t kFormatWma2 = 0x0161;  // xWMA: refused, no decoder exists here
constexpr uint16_t kFormatWma3 = 0x0162;  // xWMA: refused
constexpr uint16_t kFormatExtensible = 0xFFFE;

// ---- records -----------------------------------------------------------------------------
// The wave format block, laid out as in a WAV file's "fmt " chunk (18 bytes, no padding).
// When extraSize is not 0, that many extension bytes follow the block in memory (for
// MS-ADPCM: u16 samples per block, u16 coefficient count, then the coefficient pairs).
struct __attribute__((packed)) WaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t sampleRate;      // frames per second
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;      // bytes per frame (PCM) or per compressed block (ADPCM)
    uint16_t bitsPerSample;   // 8 or 16 (PCM), 4 (ADPCM)
    uint16_t extraSize;       // bytes of extension that follow
};
static_assert(sizeof(WaveFormat) == 18, "the format block matches the file layout");

// One buffer submitted to a source voice. Positions and lengths are in frames of
// decoded audio; for ADPCM they must be multiples of the samples per block.
struct AudioBuffer {
    uint32_t flags = 0;              // kEndOfStream or 0
    uint32_t audioBytes = 0;         // size of audioData; whole frames (PCM) or whole blocks (ADPCM)
    const uint8_t* audioData = nullptr;
    uint32_t playBegin = 0;          // first frame played
    uint32_t playLength = 0;         // frames played; 0 = to the end of the buffer
    uint32_t loopBegin = 0;          // first frame of the loop region
    uint32_t loopLength = 0;         // 0 = to the end of the play region
    uint32_t loopCount = 0;          // 0 = no loop region, 1..254 repeats, kLoopInfinite
    void* context = nullptr;         // reported back as the current buffer's context
};

// Packet table of a compressed (xWMA) buffer. No voice here accepts one.
struct PacketTable {
    const uint32_t* decodedPacketCumulativeBytes = nullptr;
    uint32_t packetCount = 0;
};

struct VoiceState {
    void* currentBufferContext = nullptr;  // context of the buffer playing now, null when none
    uint32_t buffersQueued = 0;            // buffers not yet finished, the playing one included
    uint64_t samplesPlayed = 0;            // frames consumed since the voice was created
};

struct VoiceDetails {
    uint32_t creationFlags = 0;
    uint32_t inputChannels = 0;
    uint32_t inputSampleRate = 0;
};

struct PerformanceData {
    uint32_t activeSourceVoiceCount = 0;  // started voices
    uint32_t totalSourceVoiceCount = 0;
    uint32_t glitchesSinceEngineStarted = 0;  // quanta the output missed
    uint64_t framesRendered = 0;              // output frames mixed since the mastering voice began
};

// What the mixer currently uses for one source voice (committed state only), so that
// the sound code's logic can be tested without analysing signals.
struct VoiceDebugState {
    const void* voice = nullptr;  // the SourceVoice
    uint16_t formatTag = 0;
    uint32_t inputChannels = 0;
    uint32_t sampleRate = 0;
    uint32_t creationFlags = 0;
    bool started = false;
    float volume = 1.0f;
    float frequencyRatio = 1.0f;
    float maxFrequencyRatio = 1.0f;
    uint32_t outputChannels = 0;
    // Level from source channel s to output channel d at [d * inputChannels + s].
    float outputMatrix[kMaxSourceChannels * kMaxOutputChannels] = {};
    uint32_t buffersQueued = 0;
    uint64_t samplesPlayed = 0;
    uint32_t loopsLeft = 0;          // of the buffer playing now (kLoopInfinite = endless)
    bool streamEnded = false;        // an end-of-stream buffer has finished and nothing follows
    uint32_t pendingOperations = 0;  // deferred changes queued for this voice
};

// Interfaces of the voice API. These are implemented only by the engine.
struct VoiceCallback;  // not supported: callers pass null
struct SendList;       // not supported: voices always send to the mastering voice
struct EffectChain;    // not supported: callers pass null

class Voice {
public:
    virtual void GetVoiceDetails(VoiceDetails* details) = 0;
    // Volume: a linear gain in [-kMaxVolumeLevel, kMaxVolumeLevel].
    virtual Result SetVolume(float volume, uint32_t operationSet = kCommitNow) = 0;
    // destination null or the mastering voice; levels[d * sourceChannels + s].
    virtual Result SetOutputMatrix(Voice* destination, uint32_t sourceChannels, uint32_t destinationChannels,
                                   const float* levels, uint32_t operationSet = kCommitNow) = 0;
    // Destroys the voice at once (its queued changes are dropped). The pointer dies.
    virtual void DestroyVoice() = 0;

protected:
    virtual ~Voice() = default;
};

class MasteringVoice : public Voice {};

class SourceVoice : public Voice {
public:
    virtual Result Start(uint32_t flags = 0, uint32_t operationSet = kCommitNow) = 0;
    // Stops consuming buffers; queued buffers and the play position are kept, and
    // Start resumes there. kPlayTails would let effect tails ring on; this mixer has
    // no effects, so both forms stop the voice's output at the next quantum.
    virtual Result Stop(uint32_t flags = 0, uint32_t operationSet = kCommitNow) = 0;
    virtual Result SubmitSourceBuffer(const AudioBuffer* buffer, const PacketTable* packets = nullptr) = 0;
    // Ends the loop region of the buffer playing now: play goes on to its play end.
    virtual Result ExitLoop(uint32_t operationSet = kCommitNow) = 0;
    virtual void GetState(VoiceState* state) = 0;
    // Refused (kErrorInvalidCall, nothing changes) outside [kMinFrequencyRatio, the
    // voice's maximum] and for kVoiceNoPitch voices.
    virtual Result SetFrequencyRatio(float ratio, uint32_t operationSet = kCommitNow) = 0;
    virtual void GetDebugState(VoiceDebugState* state) = 0;
};

enum class OutputKind : uint32_t {
    kRealtimeNull,  // real time: the audio device when one is selected and opens (SelectOutputDevice),
                    // else a mixer thread that consumes audio at wall-clock pace, unheard
    kManual,        // nothing mixes until the caller calls Render or RenderDue
};

struct EngineOptions {
    OutputKind output = OutputKind::kRealtimeNull;
    uint32_t sampleRate = 48000;  // used when the mastering voice asks for the default
    uint32_t channels = 2;        // used when the mastering voice asks for the default
    // A WAV file (16-bit PCM) that receives everything mixed, created when the mastering
    // voice is created: by the mixer thread on the real-time output, by Render and
    // RenderDue on the manual one (a caller that renders its own clock's time writes a
    // file on that clock). Null: the environment variable AUDIO_CAPTURE_WAV names it,
    // else SetDefaultCapturePath's file; none: no capture. The file's sizes are written
    // when the mastering voice goes.
    const char* capturePath = nullptr;
};

class AudioEngine {
public:
    // flags 0 or kDebugEngine; processor is accepted and ignored.
    virtual Result Initialize(uint32_t flags = 0, uint32_t processor = kAnyProcessor) = 0;
    virtual Result CreateMasteringVoice(MasteringVoice** voice, uint32_t channels = kDefaultChannels,
                                        uint32_t sampleRate = kDefaultSampleRate, uint32_t flags = 0,
                                        uint32_t deviceIndex = 0, const EffectChain* effects = nullptr) = 0;
    // format points at a WaveFormat followed by its extraSize extension bytes.
    // maxFrequencyRatio 0 means kDefaultFrequencyRatio. xWMA and every format other
    // than PCM 8/16 and MS-ADPCM, mono or stereo, are refused with
    // kErrorUnsupportedFormat; LastErrorText says why.
    virtual Result CreateSourceVoice(SourceVoice** voice, const WaveFormat* format, uint32_t flags = 0,
                                     float maxFrequencyRatio = kDefaultFrequencyRatio,
                                     VoiceCallback* callback = nullptr, const SendList* sends = nullptr,
                                     const EffectChain* effects = nullptr) = 0;
    virtual Result CommitChanges(uint32_t operationSet) = 0;
    virtual void GetPerformanceData(PerformanceData* data) = 0;
    // Stops the output and destroys every voice and the engine. Returns 0.
    virtual uint32_t Release() = 0;

    // A one-line description of the last refused call on this engine ("" when none);
    // the text is valid until the next refused call.
    virtual const char* LastErrorText() = 0;

    // Manual output: mixes `frames` frames into out (interleaved floats, one per
    // output channel, clipped to [-1, 1]; out may be null to discard; the capture file
    // gets them either way). Returns the frames mixed: 0 without a mastering voice or on
    // the real-time output.
    virtual uint32_t Render(uint32_t frames, float* out) = 0;
    // Manual output: mixes the frames that became due on the replaceable clock
    // (os::ReadCounter) since the mastering voice was created or the previous call,
    // at most maxFrames (the rest stays due). Returns the frames mixed.
    virtual uint32_t RenderDue(float* out, uint32_t maxFrames) = 0;

    // Every source voice's state in creation order; returns the voice count (fills at
    // most maxStates entries).
    virtual uint32_t GetVoiceDebugStates(VoiceDebugState* states, uint32_t maxStates) = 0;

    // Fault switch for tests: the real-time mixer thread sleeps this long once before
    // its next quantum, as if starved of processor time.
    virtual void InjectMixerStall(uint32_t milliseconds) = 0;

protected:
    virtual ~AudioEngine() = default;
};

// The real-time output's device, process-wide, chosen once at start-up (before the
// mastering voice). kNull: the mixer thread paces itself and nothing is heard.
// kDevice: the mixer's quanta play on the desktop's audio device (SDL2, the mastering
// voice's rate and channels, float samples) when one opens, else the null output with
// one notice. When the device goes away while playing (unplugged headphones), the
// output goes on at the null pace, a notice says so, and from then on CreateSourceVoice
// is refused with kErrorDeviceInvalidated.
enum class OutputDevice : uint32_t { kNull, kDevice };
void SelectOutputDevice(OutputDevice device);
OutputDevice SelectedOutputDevice();
// The WAV file the real-time output writes when neither EngineOptions::capturePath nor
// AUDIO_CAPTURE_WAV names one (null: none). The text is copied.
void SetDefaultCapturePath(const char* path);
// Where the output's notices go (device opened, missing, lost; the capture file
// refused): one line each, without a line end, from any thread. Null: standard error.
using OutputNotice = void (*)(const char* line);
void SetOutputNotice(OutputNotice notice);

// The factory. Fails (and leaves *engine null) only under an injected fault.
Result CreateAudioEngine(AudioEngine** engine, const EngineOptions* options = nullptr);

// Fault switches for tests of the "no audio device" paths (process-wide).
enum class EngineFault : uint32_t { kNone, kCreate, kInitialize, kMasteringVoice };
void SetEngineFault(EngineFault fault);

}  // namespace audio
