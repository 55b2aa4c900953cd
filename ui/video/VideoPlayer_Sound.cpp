// The player's sound-thread half: the voice, the 1 MiB PCM ring it plays from, and the
// jobs the render thread posts (VideoPlayer.h lists them). Every job runs on the sound
// thread in posting order, or at once on the posting thread while the sound thread does
// not run (then there is no audio engine: no voice, and PCM only counts as submitted).
//
// The ring never overwrites audio that has not been handed to the voice: what an append
// cannot place waits as a remainder, moved in by the next feeds as space frees, and the
// render thread decodes no further audio while one waits. Room for the two buffers the
// voice may still be playing from is kept free as well.
#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "sound/SoundEngine.h"
#include "ui/video/VideoPlayer.h"

namespace {

// Bytes of the ring a new append may use: what the voice still plays from stays intact.
constexpr uint32_t kRingUsable = kVideoRingBytes - kVideoMaxQueuedBuffers * kVideoMaxBufferBytes;

audio::AudioEngine* SoundThreadAudioEngine() {
    return gSoundEngine && gSoundEngine->HasAudioEngine() ? gSoundEngine->GetAudioEngine() : nullptr;
}

}  // namespace

void VideoPlayer::PostSoundJob(uint32_t job, const void* payload, uint32_t bytes) {
    constexpr uint32_t kMaxPayload = 16;  // the largest job payload (VoiceRequest, job 1)
    static_assert(sizeof(VoiceRequest) <= kMaxPayload);
    assert(bytes <= kMaxPayload);
    if (bytes > kMaxPayload) return;
    uint8_t record[sizeof(uint32_t) + kMaxPayload];
    std::memcpy(record, &job, sizeof job);
    if (bytes) std::memcpy(record + sizeof job, payload, bytes);
    const uint32_t size = uint32_t(sizeof job) + bytes;
    if (gSoundEngine)
        gSoundEngine->PostJob(&VideoPlayer::RunJob, this, record, size);
    else
        RunJob(this, record, size);
}

void VideoPlayer::RunJob(void* argument, const uint8_t* payload, uint32_t bytes) {
    auto* player = static_cast<VideoPlayer*>(argument);
    uint32_t job = 0;
    if (bytes < sizeof job) return;
    std::memcpy(&job, payload, sizeof job);
    payload += sizeof job;
    bytes -= uint32_t(sizeof job);
    switch (job) {
    case VIDEO_JOB_CREATE_VOICE: {
        VoiceRequest request{};
        if (bytes < sizeof request) return;
        std::memcpy(&request, payload, sizeof request);
        player->CreateVoice(request);
        break;
    }
    case VIDEO_JOB_ADD_PCM: {
        uint32_t n = 0;
        uint8_t* buffer = nullptr;
        if (bytes < sizeof n + sizeof buffer) return;
        std::memcpy(&n, payload, sizeof n);
        std::memcpy(&buffer, payload + sizeof n, sizeof buffer);
        player->AddPcm(buffer, n);
        player->Feed();
        break;
    }
    case VIDEO_JOB_FEED: player->Feed(); break;
    case VIDEO_JOB_DESTROY_VOICE: player->DestroyVoice(); break;
    case VIDEO_JOB_DELETE: delete player; break;
    default: break;
    }
}

void VideoPlayer::CreateVoice(const VoiceRequest& request) {
    pcmSubmitted.store(0, std::memory_order_release);
    if (request.channels == 0 || voice) return;
    audio::AudioEngine* engine = SoundThreadAudioEngine();
    if (!engine) return;  // silent: the timer drives the clock
    format = audio::WaveFormat{};
    format.formatTag = audio::kFormatPcm;
    format.channels = uint16_t(request.channels);
    format.sampleRate = request.rate;
    format.bitsPerSample = 16;
    format.blockAlign = uint16_t(format.channels * 2);
    format.avgBytesPerSec = uint32_t(format.blockAlign) * format.sampleRate;
    audio::SourceVoice* made = nullptr;
    if (engine->CreateSourceVoice(&made, &format, kVideoVoiceFlags, kVideoMaxFrequencyRatio) != audio::kOk || !made) {
        gLog.Warning(LogCategory::Sound, "Video: no voice for %u channels at %u Hz", unsigned(format.channels),
                     unsigned(format.sampleRate));
        return;
    }
    ring = static_cast<uint8_t*>(EngineAlloc(kVideoRingBytes));
    if (!ring) {
        made->DestroyVoice();
        return;
    }
    voice = made;
    voice->SetVolume(request.volume);
    ringRead = ringFill = 0;
    hasVoice.store(true, std::memory_order_release);
    wakeEngine = gSoundEngine;
    if (wakeEngine) wakeEngine->AddWakeClient(this);
}

void VideoPlayer::AddPcm(uint8_t* buffer, uint32_t bytes) {
    if (!voice) {
        pcmSubmitted.fetch_add(bytes, std::memory_order_acq_rel);
        EngineFree(buffer);
        return;
    }
    remainders.push_back({buffer, bytes, 0});
    remainderBytes.fetch_add(bytes, std::memory_order_acq_rel);
    MoveRemaindersIn();
}

void VideoPlayer::MoveRemaindersIn() {
    while (!remainders.empty() && ringFill < kRingUsable) {
        Remainder& r = remainders.front();
        uint32_t n = std::min(r.bytes - r.offset, kRingUsable - ringFill);
        const uint32_t at = (ringRead + ringFill) % kVideoRingBytes;
        const uint32_t first = std::min(n, kVideoRingBytes - at);
        std::memcpy(ring + at, r.buffer + r.offset, first);
        if (n > first) std::memcpy(ring, r.buffer + r.offset + first, n - first);
        ringFill += n;
        r.offset += n;
        remainderBytes.fetch_sub(n, std::memory_order_acq_rel);
        if (r.offset == r.bytes) {
            EngineFree(r.buffer);
            remainders.pop_front();
        }
    }
}

void VideoPlayer::Feed() {
    if (!voice) return;
    audio::VoiceState state;
    voice->GetState(&state);
    samplesPlayed.store(state.samplesPlayed, std::memory_order_release);
    MoveRemaindersIn();
    // The queue is topped up to its two buffers at once: a feed may be the last for a while.
    for (uint32_t queued = state.buffersQueued; queued < kVideoMaxQueuedBuffers && ringFill > 0; ++queued) {
        uint32_t n = std::min({ringFill, kVideoRingBytes - ringRead, kVideoMaxBufferBytes});
        n -= n % std::max<uint32_t>(format.blockAlign, 1);
        if (n == 0) return;
        audio::AudioBuffer buffer;
        buffer.audioBytes = n;
        buffer.audioData = ring + ringRead;
        if (voice->SubmitSourceBuffer(&buffer) != audio::kOk) return;
        if (state.samplesPlayed == 0 && queued == state.buffersQueued) voice->Start();
        previousSubmitted[1] = previousSubmitted[0];
        previousSubmitted[0] = ringRead;
        ringFill -= n;
        ringRead = (ringRead + n) % kVideoRingBytes;
        pcmSubmitted.fetch_add(n, std::memory_order_acq_rel);
        MoveRemaindersIn();
    }
}

void VideoPlayer::DestroyVoice() {
    if (wakeEngine) wakeEngine->RemoveWakeClient(this);
    wakeEngine = nullptr;
    if (voice) {
        voice->DestroyVoice();
        voice = nullptr;
    }
    hasVoice.store(false, std::memory_order_release);
    for (Remainder& r : remainders) EngineFree(r.buffer);
    remainders.clear();
    remainderBytes.store(0, std::memory_order_release);
    EngineFree(ring);
    ring = nullptr;
    ringRead = ringFill = 0;
    previousSubmitted[0] = previousSubmitted[1] = -1;
    samplesPlayed.store(0, std::memory_order_release);
}
