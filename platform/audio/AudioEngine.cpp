// The audio engine's calls: creation, validation of formats, buffers and parameters,
// deferred operations and their commit, voice state. Mixing lives in Mixer.cpp and
// the real-time output thread in Output.cpp. Every call takes the engine lock; the
// mixer holds the same lock for one quantum at a time, so a change (or a commit of
// several) is seen by the mixer whole, between two quanta.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/audio/Engine_p.h"
#include "platform/audio/MsAdpcm.h"
#include "platform/os/Clock.h"

namespace audio {

namespace {
std::atomic<EngineFault> gFault{EngineFault::kNone};

bool ValidLevel(float v) { return std::isfinite(v) && std::fabs(v) <= kMaxVolumeLevel; }
}  // namespace

void SetEngineFault(EngineFault fault) { gFault.store(fault); }

const char* ResultText(Result result) {
    switch (result) {
    case kOk: return "ok";
    case kErrorFail: return "failed";
    case kErrorOutOfMemory: return "out of memory";
    case kErrorInvalidArg: return "invalid argument";
    case kErrorInvalidCall: return "invalid call";
    case kErrorDeviceInvalidated: return "no audio device";
    case kErrorUnsupportedFormat: return "unsupported format";
    default: return "unknown result";
    }
}

Result CreateAudioEngine(AudioEngine** engine, const EngineOptions* options) {
    if (!engine) return kErrorInvalidArg;
    *engine = nullptr;
    if (gFault.load() == EngineFault::kCreate) return kErrorDeviceInvalidated;
    const EngineOptions defaults;
    EngineOptions chosen = options ? *options : defaults;
    if (chosen.sampleRate < kMinSampleRate || chosen.sampleRate > kMaxSampleRate) chosen.sampleRate = defaults.sampleRate;
    if (chosen.channels < 1 || chosen.channels > kMaxOutputChannels) chosen.channels = defaults.channels;
    auto* impl = new (std::nothrow) detail::EngineImpl(chosen);
    if (!impl) return kErrorOutOfMemory;
    *engine = impl;
    return kOk;
}

namespace detail {

// ---- engine ------------------------------------------------------------------------------
EngineImpl::EngineImpl(const EngineOptions& options) : options(options) { pending.reserve(256); }

EngineImpl::~EngineImpl() = default;

Result EngineImpl::Refuse(Result result, const char* format, ...) {
    assert(lock.HeldByCaller());
    va_list args;
    va_start(args, format);
    std::vsnprintf(lastError, sizeof lastError, format, args);
    va_end(args);
    return result;
}

const char* EngineImpl::LastErrorText() {
    EngineGuard guard(lock);
    return lastError;
}

Result EngineImpl::Initialize(uint32_t flags, uint32_t processor) {
    EngineGuard guard(lock);
    if (gFault.load() == EngineFault::kInitialize) return Refuse(kErrorDeviceInvalidated, "no audio device");
    if (initialized) return Refuse(kErrorInvalidCall, "Initialize: already initialised");
    if (flags & ~kDebugEngine) return Refuse(kErrorInvalidArg, "Initialize: unknown flags 0x%X", flags);
    initialized = true;
    return kOk;
}

uint32_t EngineImpl::QuantumFrames() const {
    const uint32_t q = master ? master->sampleRate / 100 : 0;
    return q ? q : 1;
}

Result EngineImpl::CreateMasteringVoice(MasteringVoice** voice, uint32_t channels, uint32_t sampleRate, uint32_t flags,
                                        uint32_t deviceIndex, const EffectChain* effects) {
    if (!voice) return kErrorInvalidArg;
    *voice = nullptr;
    EngineGuard guard(lock);
    if (!initialized) return Refuse(kErrorInvalidCall, "CreateMasteringVoice: engine not initialised");
    if (gFault.load() == EngineFault::kMasteringVoice) return Refuse(kErrorDeviceInvalidated, "no audio device");
    if (master) return Refuse(kErrorInvalidCall, "CreateMasteringVoice: a mastering voice exists");
    if (flags != 0 || deviceIndex != 0 || effects)
        return Refuse(kErrorInvalidArg, "CreateMasteringVoice: flags, device and effects are not supported");
    if (channels == kDefaultChannels) channels = options.channels;
    if (sampleRate == kDefaultSampleRate) sampleRate = options.sampleRate;
    if (channels > kMaxOutputChannels || sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate)
        return Refuse(kErrorInvalidArg, "CreateMasteringVoice: %u channels at %u Hz not supported", channels,
                      sampleRate);
    master = new MasteringVoiceImpl(this, channels, sampleRate);
    const uint32_t quantum = QuantumFrames();
    mixBuffer.assign(size_t(quantum) * channels, 0.0f);
    voiceBuffer.assign(size_t(quantum) * kMaxSourceChannels, 0.0f);
    framesRendered = 0;
    dueOrigin = os::ReadCounter();
    dueFrames = 0;
    *voice = master;
    const std::string capture = CapturePathFor(options);
    if (options.output == OutputKind::kManual) manualCapture = OpenManualCapture(capture, channels, sampleRate);
    if (options.output == OutputKind::kRealtimeNull) {
        RealtimeOutput* started = StartRealtimeOutput(this, capture.empty() ? nullptr : capture.c_str());
        if (!started) {
            delete master;
            master = nullptr;
            *voice = nullptr;
            return Refuse(kErrorFail, "CreateMasteringVoice: the mixer thread could not start");
        }
        output = started;
    }
    return kOk;
}

Result EngineImpl::CreateSourceVoice(SourceVoice** voice, const WaveFormat* format, uint32_t flags,
                                     float maxFrequencyRatio, VoiceCallback* callback, const SendList* sends,
                                     const EffectChain* effects) {
    if (!voice) return kErrorInvalidArg;
    *voice = nullptr;
    EngineGuard guard(lock);
    if (!initialized || !master) return Refuse(kErrorInvalidCall, "CreateSourceVoice: no mastering voice");
    if (deviceLost.load()) return Refuse(kErrorDeviceInvalidated, "CreateSourceVoice: the audio device was lost");
    if (!format) return Refuse(kErrorInvalidArg, "CreateSourceVoice: no format");
    if (callback || sends || effects)
        return Refuse(kErrorInvalidArg, "CreateSourceVoice: callbacks, sends and effects are not supported");
    if (flags & ~(kVoiceNoPitch | kVoiceNoSrc | kVoiceMusic))
        return Refuse(kErrorInvalidArg, "CreateSourceVoice: unsupported flags 0x%X", flags);
    if (maxFrequencyRatio == 0.0f) maxFrequencyRatio = kDefaultFrequencyRatio;
    if (!(maxFrequencyRatio >= kMinFrequencyRatio && maxFrequencyRatio <= kMaxFrequencyRatio))
        return Refuse(kErrorInvalidArg, "CreateSourceVoice: maximum frequency ratio %g out of range",
                      double(maxFrequencyRatio));

    const WaveFormat f = *format;
    if (f.formatTag == kFormatWma2 || f.formatTag == kFormatWma3)
        return Refuse(kErrorUnsupportedFormat,
                      "CreateSourceVoice: xWMA (format tag 0x%04X) is not supported: no xWMA decoder is available",
                      f.formatTag);
    if (f.formatTag != kFormatPcm && f.formatTag != kFormatAdpcm)
        return Refuse(kErrorUnsupportedFormat,
                      "CreateSourceVoice: format tag 0x%04X is not supported (PCM and MS-ADPCM only)", f.formatTag);
    if (f.channels < 1 || f.channels > kMaxSourceChannels)
        return Refuse(kErrorUnsupportedFormat, "CreateSourceVoice: %u channels not supported (1 or 2)", f.channels);
    if (f.sampleRate < kMinSampleRate || f.sampleRate > kMaxSampleRate)
        return Refuse(kErrorUnsupportedFormat, "CreateSourceVoice: sample rate %u out of range", f.sampleRate);
    if ((flags & kVoiceNoSrc) && f.sampleRate != master->sampleRate)
        return Refuse(kErrorInvalidArg, "CreateSourceVoice: no rate conversion requested but %u Hz differs from %u Hz",
                      f.sampleRate, master->sampleRate);

    SourceFormat sf;
    sf.tag = f.formatTag;
    sf.channels = f.channels;
    sf.sampleRate = f.sampleRate;
    sf.blockAlign = f.blockAlign;
    sf.bitsPerSample = f.bitsPerSample;
    if (f.formatTag == kFormatPcm) {
        if ((f.bitsPerSample != 8 && f.bitsPerSample != 16) || f.blockAlign != f.channels * f.bitsPerSample / 8)
            return Refuse(kErrorUnsupportedFormat,
                          "CreateSourceVoice: PCM with %u bits and block align %u not supported (8 or 16 bits)",
                          f.bitsPerSample, f.blockAlign);
        sf.samplesPerBlock = 1;
    } else {
        const uint32_t spb = AdpcmSamplesPerBlock(f.blockAlign, f.channels);
        if (f.bitsPerSample != 4 || spb == 0)
            return Refuse(kErrorUnsupportedFormat, "CreateSourceVoice: MS-ADPCM with %u bits and block align %u invalid",
                          f.bitsPerSample, f.blockAlign);
        if (f.extraSize != 0) {
            // The extension follows the block: samples per block, coefficient count, pairs.
            const uint8_t* ext = reinterpret_cast<const uint8_t*>(format) + sizeof(WaveFormat);
            uint16_t declared = 0, coefCount = 0;
            if (f.extraSize < 4)
                return Refuse(kErrorUnsupportedFormat, "CreateSourceVoice: MS-ADPCM extension too short");
            std::memcpy(&declared, ext, 2);
            std::memcpy(&coefCount, ext + 2, 2);
            if (declared != spb)
                return Refuse(kErrorUnsupportedFormat,
                              "CreateSourceVoice: MS-ADPCM declares %u samples per block, block align gives %u",
                              declared, spb);
            if (coefCount != kAdpcmCoefficientCount || f.extraSize < 4 + 4 * kAdpcmCoefficientCount)
                return Refuse(kErrorUnsupportedFormat, "CreateSourceVoice: MS-ADPCM needs the 7 standard coefficients");
            for (uint32_t i = 0; i < kAdpcmCoefficientCount; ++i) {
                int16_t pair[2];
                std::memcpy(pair, ext + 4 + 4 * i, 4);
                if (pair[0] != kAdpcmCoefficients[i][0] || pair[1] != kAdpcmCoefficients[i][1])
                    return Refuse(kErrorUnsupportedFormat,
                                  "CreateSourceVoice: MS-ADPCM coefficients differ from the standard set");
            }
        }
        sf.samplesPerBlock = spb;
    }

    auto* v = new (std::nothrow) SourceVoiceImpl(this, sf, flags, maxFrequencyRatio);
    if (!v) return kErrorOutOfMemory;
    // Default routing: mono feeds every output channel at 1; stereo maps left and
    // right to the first two (both halves at 0.5 into a mono output).
    const uint32_t dst = master->channels;
    for (uint32_t d = 0; d < dst; ++d)
        for (uint32_t s = 0; s < sf.channels; ++s) {
            float level = 0.0f;
            if (sf.channels == 1)
                level = 1.0f;
            else if (dst == 1)
                level = 0.5f;
            else
                level = (d == s) ? 1.0f : 0.0f;
            v->params.matrix[d * sf.channels + s] = level;
        }
    voices.push_back(v);
    *voice = v;
    return kOk;
}

Result EngineImpl::Apply(const Operation& op) {
    assert(lock.HeldByCaller());
    if (op.operationSet == kCommitNow)
        Execute(op);
    else
        pending.push_back(op);
    return kOk;
}

void EngineImpl::Execute(const Operation& op) {
    assert(lock.HeldByCaller());
    if (!op.source) {
        if (master && op.kind == OpKind::kVolume) master->volume = op.value;
        return;
    }
    SourceVoiceImpl& v = *op.source;
    switch (op.kind) {
    case OpKind::kStart: v.params.started = true; break;
    case OpKind::kStop: v.params.started = false; break;
    case OpKind::kExitLoop:
        if (v.count) v.queue[v.head].loopsLeft = 0;
        break;
    case OpKind::kVolume: v.params.volume = op.value; break;
    case OpKind::kMatrix: std::memcpy(v.params.matrix, op.matrix, sizeof v.params.matrix); break;
    case OpKind::kRatio: v.params.ratio = op.value; break;
    }
}

Result EngineImpl::CommitChanges(uint32_t operationSet) {
    EngineGuard guard(lock);
    size_t kept = 0;
    for (size_t i = 0; i < pending.size(); ++i) {
        if (operationSet == kCommitAll || pending[i].operationSet == operationSet)
            Execute(pending[i]);
        else
            pending[kept++] = pending[i];
    }
    pending.resize(kept);
    return kOk;
}

void EngineImpl::RemoveVoice(SourceVoiceImpl* voice) {
    assert(lock.HeldByCaller());
    pending.erase(std::remove_if(pending.begin(), pending.end(), [voice](const Operation& op) { return op.source == voice; }),
                  pending.end());
    voices.erase(std::remove(voices.begin(), voices.end(), voice), voices.end());
}

void EngineImpl::GetPerformanceData(PerformanceData* data) {
    if (!data) return;
    EngineGuard guard(lock);
    *data = PerformanceData{};
    data->totalSourceVoiceCount = static_cast<uint32_t>(voices.size());
    for (const SourceVoiceImpl* v : voices)
        if (v->params.started) ++data->activeSourceVoiceCount;
    data->glitchesSinceEngineStarted = glitches.load();
    data->framesRendered = framesRendered;
}

uint32_t EngineImpl::Release() {
    StopOutput();
    {
        EngineGuard guard(lock);
        for (SourceVoiceImpl* v : voices) delete v;
        voices.clear();
        pending.clear();
        delete master;
        master = nullptr;
    }
    delete this;
    return 0;
}

uint32_t EngineImpl::Render(uint32_t frames, float* out) {
    uint32_t done = 0;
    while (done < frames) {
        EngineGuard guard(lock);
        if (!master || options.output != OutputKind::kManual) break;
        const uint32_t n = std::min(frames - done, QuantumFrames());
        float* into = out ? out + size_t(done) * master->channels : nullptr;
        if (!into && manualCapture) {
            captureBuffer.resize(size_t(n) * master->channels);
            into = captureBuffer.data();
        }
        MixQuantum(n, into);
        if (manualCapture) AppendManualCapture(manualCapture, into, n);
        done += n;
    }
    return done;
}

uint32_t EngineImpl::RenderDue(float* out, uint32_t maxFrames) {
    uint64_t due = 0;
    {
        EngineGuard guard(lock);
        if (!master || options.output != OutputKind::kManual) return 0;
        const int64_t elapsed = os::ReadCounter() - dueOrigin;
        if (elapsed > 0) {
            const auto total = static_cast<uint64_t>(static_cast<unsigned __int128>(elapsed) * master->sampleRate /
                                                     static_cast<unsigned __int128>(os::kCounterFrequency));
            due = total > dueFrames ? total - dueFrames : 0;
        }
        due = std::min<uint64_t>(due, maxFrames);
        dueFrames += due;
    }
    return Render(static_cast<uint32_t>(due), out);
}

void EngineImpl::FillDebugState(const SourceVoiceImpl& v, VoiceDebugState* s) const {
    assert(lock.HeldByCaller());
    *s = VoiceDebugState{};
    s->voice = &v;
    s->formatTag = v.format.tag;
    s->inputChannels = v.format.channels;
    s->sampleRate = v.format.sampleRate;
    s->creationFlags = v.creationFlags;
    s->started = v.params.started;
    s->volume = v.params.volume;
    s->frequencyRatio = v.params.ratio;
    s->maxFrequencyRatio = v.maxRatio;
    s->outputChannels = master ? master->channels : 0;
    std::memcpy(s->outputMatrix, v.params.matrix, sizeof s->outputMatrix);
    s->buffersQueued = v.count;
    s->samplesPlayed = v.SamplesPlayed();
    s->loopsLeft = v.count ? v.queue[v.head].loopsLeft : 0;
    s->streamEnded = v.StreamEnded();
    for (const Operation& op : pending)
        if (op.source == &v) ++s->pendingOperations;
}

uint32_t EngineImpl::GetVoiceDebugStates(VoiceDebugState* states, uint32_t maxStates) {
    EngineGuard guard(lock);
    const uint32_t n = static_cast<uint32_t>(voices.size());
    for (uint32_t i = 0; i < n && i < maxStates && states; ++i) FillDebugState(*voices[i], &states[i]);
    return n;
}

void EngineImpl::InjectMixerStall(uint32_t milliseconds) { stallMs.store(milliseconds); }

// ---- voices ---------------------------------------------------------------------------------------
namespace {
Operation MakeOperation(SourceVoiceImpl* voice, OpKind kind, uint32_t operationSet, float value = 0.0f) {
    Operation op;
    op.source = voice;
    op.kind = kind;
    op.operationSet = operationSet;
    op.value = value;
    return op;
}
}  // namespace

// ---- mastering voice ------------------------------------------------------------------------
void MasteringVoiceImpl::GetVoiceDetails(VoiceDetails* details) {
    if (!details) return;
    *details = VoiceDetails{0, channels, sampleRate};
}

Result MasteringVoiceImpl::SetVolume(float v, uint32_t operationSet) {
    EngineGuard guard(engine->lock);
    if (!ValidLevel(v)) return engine->Refuse(kErrorInvalidArg, "SetVolume: %g out of range", double(v));
    return engine->Apply(MakeOperation(nullptr, OpKind::kVolume, operationSet, v));
}

Result MasteringVoiceImpl::SetOutputMatrix(Voice*, uint32_t, uint32_t, const float*, uint32_t) {
    EngineGuard guard(engine->lock);
    return engine->Refuse(kErrorInvalidCall, "SetOutputMatrix: the mastering voice has no destination");
}

void MasteringVoiceImpl::DestroyVoice() {
    EngineImpl* e = engine;
    e->StopOutput();
    EngineGuard guard(e->lock);
    e->pending.erase(std::remove_if(e->pending.begin(), e->pending.end(), [](const Operation& op) { return !op.source; }),
                     e->pending.end());
    e->master = nullptr;
    delete this;
}

// ---- source voice ----------------------------------------------------------------------------
SourceVoiceImpl::SourceVoiceImpl(EngineImpl* engine, const SourceFormat& format, uint32_t flags, float maxRatio)
    : engine(engine), format(format), creationFlags(flags), maxRatio(maxRatio) {
    if (format.tag == kFormatAdpcm)
        scratch.resize(size_t(format.samplesPerBlock) * format.channels);
    else if (format.bitsPerSample == 8)
        scratch.resize(size_t(256) * format.channels);
}

void SourceVoiceImpl::GetVoiceDetails(VoiceDetails* details) {
    if (!details) return;
    *details = VoiceDetails{creationFlags, format.channels, format.sampleRate};
}

Result SourceVoiceImpl::SetVolume(float v, uint32_t operationSet) {
    EngineGuard guard(engine->lock);
    if (!ValidLevel(v)) return engine->Refuse(kErrorInvalidArg, "SetVolume: %g out of range", double(v));
    return engine->Apply(MakeOperation(this, OpKind::kVolume, operationSet, v));
}

Result SourceVoiceImpl::SetOutputMatrix(Voice* destination, uint32_t sourceChannels, uint32_t destinationChannels,
                                        const float* levels, uint32_t operationSet) {
    EngineGuard guard(engine->lock);
    if (!engine->master || (destination && destination != engine->master))
        return engine->Refuse(kErrorInvalidCall, "SetOutputMatrix: the destination is not the mastering voice");
    if (sourceChannels != format.channels || destinationChannels != engine->master->channels || !levels)
        return engine->Refuse(kErrorInvalidArg, "SetOutputMatrix: %ux%u matrix for a %ux%u voice", sourceChannels,
                              destinationChannels, format.channels, engine->master->channels);
    Operation op = MakeOperation(this, OpKind::kMatrix, operationSet);
    for (uint32_t i = 0; i < sourceChannels * destinationChannels; ++i) {
        if (!ValidLevel(levels[i]))
            return engine->Refuse(kErrorInvalidArg, "SetOutputMatrix: level %u is %g", i, double(levels[i]));
        op.matrix[i] = levels[i];
    }
    return engine->Apply(op);
}

void SourceVoiceImpl::DestroyVoice() {
    EngineImpl* e = engine;
    EngineGuard guard(e->lock);
    e->RemoveVoice(this);
    delete this;
}

Result SourceVoiceImpl::Start(uint32_t flags, uint32_t operationSet) {
    EngineGuard guard(engine->lock);
    if (flags != 0) return engine->Refuse(kErrorInvalidArg, "Start: unknown flags 0x%X", flags);
    return engine->Apply(MakeOperation(this, OpKind::kStart, operationSet));
}

Result SourceVoiceImpl::Stop(uint32_t flags, uint32_t operationSet) {
    EngineGuard guard(engine->lock);
    if (flags & ~kPlayTails) return engine->Refuse(kErrorInvalidArg, "Stop: unknown flags 0x%X", flags);
    return engine->Apply(MakeOperation(this, OpKind::kStop, operationSet));
}

Result SourceVoiceImpl::ExitLoop(uint32_t operationSet) {
    EngineGuard guard(engine->lock);
    return engine->Apply(MakeOperation(this, OpKind::kExitLoop, operationSet));
}

Result SourceVoiceImpl::SetFrequencyRatio(float ratio, uint32_t operationSet) {
    EngineGuard guard(engine->lock);
    if (creationFlags & kVoiceNoPitch) return engine->Refuse(kErrorInvalidCall, "SetFrequencyRatio: voice has no pitch");
    if (!(ratio >= kMinFrequencyRatio && ratio <= maxRatio))
        return engine->Refuse(kErrorInvalidCall, "SetFrequencyRatio: %g outside [%g, %g]", double(ratio),
                              double(kMinFrequencyRatio), double(maxRatio));
    return engine->Apply(MakeOperation(this, OpKind::kRatio, operationSet, ratio));
}

Result SourceVoiceImpl::SubmitSourceBuffer(const AudioBuffer* buffer, const PacketTable* packets) {
    EngineGuard guard(engine->lock);
    if (!buffer) return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: no buffer");
    if (packets) return engine->Refuse(kErrorInvalidCall, "SubmitSourceBuffer: packet tables need an xWMA voice");
    const AudioBuffer& b = *buffer;
    if (b.flags & ~kEndOfStream) return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: unknown flags 0x%X", b.flags);
    if (!b.audioData || b.audioBytes == 0 || b.audioBytes > kMaxBufferBytes)
        return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: no data");
    if (b.audioBytes % format.blockAlign != 0)
        return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: %u bytes is not a whole number of %u-byte blocks",
                              b.audioBytes, format.blockAlign);
    const uint64_t spb = format.samplesPerBlock;
    const uint64_t total = uint64_t(b.audioBytes / format.blockAlign) * spb;
    if (total > 0xFFFFFFFFu) return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: buffer too long");
    const uint64_t playBegin = b.playBegin;
    const uint64_t playEnd = b.playLength ? playBegin + b.playLength : total;
    if (playBegin >= playEnd || playEnd > total)
        return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: play region outside the buffer");
    if (playBegin % spb || (b.playLength % spb && playEnd != total) || b.loopBegin % spb || b.loopLength % spb)
        return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: region not aligned to %u-frame blocks",
                              format.samplesPerBlock);
    uint64_t loopBegin = 0, loopEnd = 0;
    if (b.loopCount == 0) {
        if (b.loopBegin || b.loopLength)
            return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: loop region without a loop count");
    } else {
        if (b.loopCount > kMaxLoopCount && b.loopCount != kLoopInfinite)
            return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: loop count %u", b.loopCount);
        loopBegin = b.loopBegin;
        loopEnd = b.loopLength ? loopBegin + b.loopLength : playEnd;
        if (loopBegin < playBegin || loopBegin >= loopEnd || loopEnd > playEnd)
            return engine->Refuse(kErrorInvalidArg, "SubmitSourceBuffer: loop region outside the play region");
    }
    if (count == kMaxQueuedBuffers) return engine->Refuse(kErrorInvalidCall, "SubmitSourceBuffer: queue full");
    QueuedBuffer& q = queue[(head + count) % kMaxQueuedBuffers];
    q.data = b.audioData;
    q.cursor = static_cast<uint32_t>(playBegin);
    q.playEnd = static_cast<uint32_t>(playEnd);
    q.loopBegin = static_cast<uint32_t>(loopBegin);
    q.loopEnd = static_cast<uint32_t>(loopEnd);
    q.loopsLeft = b.loopCount;
    q.endOfStream = (b.flags & kEndOfStream) != 0;
    q.context = b.context;
    ++count;
    return kOk;
}

void SourceVoiceImpl::GetState(VoiceState* state) {
    if (!state) return;
    EngineGuard guard(engine->lock);
    state->currentBufferContext = count ? queue[head].context : nullptr;
    state->buffersQueued = count;
    state->samplesPlayed = SamplesPlayed();
}

void SourceVoiceImpl::GetDebugState(VoiceDebugState* state) {
    if (!state) return;
    EngineGuard guard(engine->lock);
    engine->FillDebugState(*this, state);
}

}  // namespace detail
}  // namespace audio
