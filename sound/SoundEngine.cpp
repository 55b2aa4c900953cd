// The sound thread.
//
// Every audio object lives on the sound thread: the audio engine and its mastering
// voice, the panner and listener, the channels and volumes, and the instances with
// their voices, decoders and readers. Other threads reach it only through commands in
// its ring (sound/SoundEngine_Commands.cpp); the front ends never wait, and the only
// value that flows back is the instance id, which the front end allocates itself
// (an atomic counter, so the main and the render thread may both play sounds).
//
// Each wake of the thread runs the queued commands, then the audio update, at most
// every 30 ms of the replaceable clock: the fades advance (sound/SoundEngine_Channels.cpp),
// every instance is updated (decoding, feeding, levels), and every voice change of
// the pass, all made in operation set 1, is committed at once. While the application
// sleeps in the background the thread waits without a time-out: commands still run,
// the update does not.
//
// What crosses threads: the command records (the ring has a writer lock), the instance
// id counter (atomic), command-5 jobs (PostJob: the video's voice work) and, through the
// loader thread, resource loads and streaming reads. Voice calls happen here only; the
// audio engine's own lock guards them against its mixer.
#include "sound/SoundEngine.h"

#include <algorithm>
#include <cassert>

#include "core/Log.h"
#include "core/config/ProjectConfig.h"
#include "core/profiler/Profiler.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "sound/SoundInstance.h"

SoundEngine* gSoundEngine = nullptr;

SoundParamWrapper SoundParamWrapper::DEFAULT = {0, SOUNDCLASS_SFX, 1.0f, 1.0f, 0, 1, 3.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0x10000};

void SoundParamWrapper::LoadDefaults() {
    Flags = 0;
    Class = SOUNDCLASS_SFX;
    Volume = 1.0f;
    FrequencyRatio = 1.0f;
    Channel = 0;
    LoopCount = 1;
    FullVolumeRange = 3.0f;
    ZeroVolumeRange = 0.0f;
    StereoSoundChannelDistance = 1.0f;
    DopplerFactor = 0.0f;
    StartDelay = 0.0f;
    StreamingBufferSize = 0x10000;
}

namespace {
constexpr uint32_t kDefaultDecodeBlocks = 64;
// How long the stepped output waits, in 1 ms sleeps, for data a new sound needs.
constexpr uint32_t kDataWaitMs = 10000;

void ResetFade(FloatFade& fade, int64_t now) {
    fade.active = false;
    fade.current = fade.from = fade.to = 1.0f;
    fade.startTime = now;
    fade.duration = 0.0f;
    fade.curve = 0;
}
}  // namespace

SoundEngine::SoundEngine()
    : BaseThread(kWorkerSettings[WORKER_SOUND_ENGINE].name, kWorkerSettings[WORKER_SOUND_ENGINE].ringBytes,
                 kWorkerSettings[WORKER_SOUND_ENGINE].useLock, kWorkerSettings[WORKER_SOUND_ENGINE].waitTimeoutMs) {
    const int64_t now = os::ReadCounter();
    lastUpdateTime = now;
    listenerMatrix = Matrix::IDENTITY;
    listener.orientFront = {0.0f, 0.0f, 1.0f};
    listener.orientTop = {0.0f, 1.0f, 0.0f};
    for (SoundChannel& c : channels) {
        ResetFade(c.volumeFade, now);
        ResetFade(c.frequencyRatioFade, now);
    }
    ResetFade(masterFade, now);
}

SoundEngine::~SoundEngine() {
    // A test that never posted the shutdown leaves its voices here.
    if (!IsRunning() && audioEngine) Shutdown();
}

bool SoundEngine::Start() {
    if (!runWithoutThread && !BaseThread::Start()) return false;
    if (BeginCommand(SOUND_CMD_INITIALIZE, 0)) EndCommand();
    ApplyVolumeSettings();
    return true;
}

void SoundEngine::Stop() {
    if (BeginCommand(SOUND_CMD_SHUTDOWN, 0)) EndCommand();
    if (runWithoutThread) {
        ProcessCommands();
        return;
    }
    if (IsRunning()) Flush();
    BaseThread::Stop();
}

void SoundEngine::SetEngineOptions(const audio::EngineOptions* options) {
    engineOptions = options ? *options : audio::EngineOptions{};
}

void SoundEngine::RunWake() {
    assert(!IsRunning() && "RunWake steps an engine that runs without its thread");
    Tick();
}

void SoundEngine::PostJob(PayloadJob job, void* argument, const void* payload, uint32_t bytes) {
    BaseThread::PostCallOrRunInline(this, job, argument, payload, bytes);
}

uint32_t SoundEngine::NextInstanceId() { return instanceIdCounter.fetch_add(1, std::memory_order_relaxed) + 1; }

// ---------------------------------------------------------------------------------------
// Initialisation and shutdown (commands 8 and 9)

void SoundEngine::Initialize() {
    if (audioEngine) return;
    const uint32_t blocks = gProjectConfig ? gProjectConfig->GetSoundDecoders() : kDefaultDecodeBlocks;
    SoundInstanceBase::CreateDecodePool(blocks);

    audio::EngineOptions options = engineOptions;
    if (stepped) {
        // The stepped output mixes only what it is told, on its own clock from now on.
        options.output = audio::OutputKind::kManual;
        steppedOrigin = lastUpdateTime = os::ReadCounter();
        steppedTicks = 0;
        steppedFrames = 0;
    }
    audio::AudioEngine* engine = nullptr;
    audio::Result result = (engineFactory ? engineFactory : &audio::CreateAudioEngine)(&engine, &options);
    if (result == audio::kOk && engine) {
        result = engine->Initialize(0, audio::kAnyProcessor);
        if (result != audio::kOk) {
            engine->Release();
            engine = nullptr;
        }
    }
    if (result != audio::kOk || !engine) return;
    audioEngine = engine;

    audio::MasteringVoice* master = nullptr;
    result = audioEngine->CreateMasteringVoice(&master, audio::kDefaultChannels, audio::kDefaultSampleRate, 0, 0, nullptr);
    if (master) {
        masteringVoice = master;
        audio::VoiceDetails details;
        master->GetVoiceDetails(&details);
        outputChannels = details.inputChannels;
        outputRate = details.inputSampleRate;
    }
    if (result == audio::kOk && stepped)
        gLog.Print(LogSeverity::Progress, LogCategory::Sound,
                   "Sound output: stepped, the game's steps mixed as they are played (nothing is heard)");
    if (result == audio::kOk) {
        audio::PannerInitialize(audio::kSpeakerStereo, audio::kSpeedOfSound, panner);
        listener.orientFront = {0.0f, 0.0f, 1.0f};
        listener.orientTop = {0.0f, 1.0f, 0.0f};
    } else {
        Shutdown();
    }
}

void SoundEngine::Shutdown() {
    SoundInstanceBase::DeleteAll();
    if (masteringVoice) masteringVoice->DestroyVoice();
    masteringVoice = nullptr;
    if (audioEngine) audioEngine->Release();
    audioEngine = nullptr;
    outputChannels = 0;
    SoundInstanceBase::DestroyDecodePool();
}

// ---------------------------------------------------------------------------------------
// The wake: commands, then the audio update

void SoundEngine::Tick() {
    BaseThread::Tick();
    UpdateAudio();
    // A client may remove itself while served.
    for (size_t i = 0; i < wakeClients.size(); ++i) wakeClients[i]->OnSoundWake();
}

void SoundEngine::AddWakeClient(SoundWakeClient* client) {
    ASSERT_ON_THREAD(ThreadId(), "sound thread");
    if (client && std::find(wakeClients.begin(), wakeClients.end(), client) == wakeClients.end())
        wakeClients.push_back(client);
}

void SoundEngine::RemoveWakeClient(SoundWakeClient* client) {
    ASSERT_ON_THREAD(ThreadId(), "sound thread");
    wakeClients.erase(std::remove(wakeClients.begin(), wakeClients.end(), client), wakeClients.end());
}

int64_t SoundEngine::Now() const { return stepped ? steppedOrigin + steppedTicks : os::ReadCounter(); }

void SoundEngine::UpdateAudio() {
    if (stepped) return;  // the stepped output updates when it is advanced
    const int64_t now = os::ReadCounter();
    const uint32_t timeout = CurrentTimeout();
    if (timeout == kWaitForever) {
        if (masterFade.active) CompleteMasterFade();
        return;
    }
    const int64_t elapsedTicks = now > lastUpdateTime ? now - lastUpdateTime : 0;
    const uint64_t elapsedMs = uint64_t(elapsedTicks) * 1000u / uint64_t(os::kCounterFrequency);
    if (elapsedMs < uint64_t(timeout)) return;
    RunUpdate(now, elapsedMs);
}

void SoundEngine::RunUpdate(int64_t now, uint64_t elapsedMs) {
    const int64_t started = os::ReadCounter();
    gProfiler.SetValue(PROFILE_SOUND_ROUND_TIME, float(elapsedMs), PROFILER_THREAD_OTHER);
    lastUpdateTime = now;
    AdvanceFades(now);
    SoundInstanceBase::UpdateAll();
    if (stepped) WaitForSoundData();

    if (audioEngine) {
        audioEngine->CommitChanges(kSoundOperationSet);
        audio::PerformanceData performance;
        audioEngine->GetPerformanceData(&performance);
        if (performance.glitchesSinceEngineStarted != glitchCount) {
            gLog.Print(LogSeverity::Warning, LogCategory::Sound, "%d sound glithes during %d audio frame",
                       int(performance.glitchesSinceEngineStarted - glitchCount), int(TickCount()));
            glitchCount = performance.glitchesSinceEngineStarted;
        }
    }
    const uint32_t decoded = SoundInstanceBase::DecodedBytes();
    gProfiler.SetValue(PROFILE_SOUND_BYTES_DECODED, float(decoded - decodedByteMark), PROFILER_THREAD_OTHER);
    decodedByteMark = decoded;
    const int64_t took = os::ReadCounter() - started;
    gProfiler.SetValue(PROFILE_SOUND_TICK, float(double(took) * 1000.0 / double(os::kCounterFrequency)),
                       PROFILER_THREAD_OTHER);
}

void SoundEngine::WaitForSoundData() {
    // After a wait ran out, updates do not wait again until the loader has caught up with
    // every sound (rather than stall each update by the whole wait); then later sounds are
    // waited for as before.
    if (!SoundInstanceBase::AnyWaitsForData()) {
        dataWaitTimedOut = false;
        return;
    }
    if (dataWaitTimedOut) return;
    for (uint32_t waited = 0; SoundInstanceBase::AnyWaitsForData(); ++waited) {
        if (waited == kDataWaitMs) {
            gLog.Print(LogSeverity::Warning, LogCategory::Sound,
                       "Sound data did not arrive within %u ms: the sound starts late, and so may later ones",
                       kDataWaitMs);
            dataWaitTimedOut = true;
            return;
        }
        os::Sleep(1);
        SoundInstanceBase::UpdateAll();
    }
}

void SoundEngine::AdvanceStepped(int64_t ticks) {
    if (!stepped || ticks <= 0) return;
    steppedTicks += ticks;
    if (!audioEngine || outputRate == 0) {
        RunUpdate(Now(), uint64_t(ticks) * 1000u / uint64_t(os::kCounterFrequency));
        return;
    }
    // Frames owed on the clock so far (exact: no rounding error builds up), mixed in
    // slices of at most one update interval, each after an update at its start.
    const uint64_t owed = uint64_t(static_cast<unsigned __int128>(steppedTicks) * outputRate / os::kCounterFrequency);
    const uint64_t frames = owed - steppedFrames;
    const uint64_t sliceMax = std::max<uint64_t>(1, uint64_t(outputRate) * CurrentTimeout() / 1000u);
    const uint64_t slices = (frames + sliceMax - 1) / sliceMax;
    for (uint64_t k = 0; k < slices; ++k) {
        const uint64_t slice = frames * (k + 1) / slices - frames * k / slices;
        const int64_t at = steppedOrigin +
                           int64_t(static_cast<unsigned __int128>(steppedFrames) * os::kCounterFrequency / outputRate);
        RunUpdate(at, slice * 1000u / outputRate);
        audioEngine->Render(uint32_t(slice), nullptr);
        steppedFrames += slice;
    }
}

void SoundEngine::CompleteMasterFade() {
    masterFade.Start(lastUpdateTime, masterFade.to, 0.0f, 0);
    masterVolume = masterFade.current;
    for (SoundInstanceBase* i = SoundInstanceBase::First(); i; i = i->Next()) i->ApplyLevels();
    if (audioEngine) audioEngine->CommitChanges(kSoundOperationSet);
}
