// The player's update on the render thread: the playback clock, the decode loop that
// keeps audio up to a second ahead of the clock and one video frame pending, and the end
// of playback.
#include <cmath>
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/Time.h"
#include "ui/video/VideoPlayer.h"

namespace {

constexpr uint32_t kTheoraSetGranulePosition = 5;  // theora_control request
// Reads of 512 KiB one update may make (4 MiB). A legitimate frame never needs this much; a
// looping file of garbage would otherwise keep one update reading forever.
constexpr uint32_t kMaxReadsPerUpdate = 8;
constexpr uint64_t kEndSlackFrames = 16;

}  // namespace

bool VideoPlayer::SoundPlayedOut() const {
    if (!vorbisHeaders || !audioNeedsData || fileStream || SubmittedBytes() < pcmDecoded) return false;
    // The mixer's interpolation holds the queue's last frame back until more comes: a few
    // frames short count as played.
    const uint64_t frameBytes = uint64_t(vi.channels > 0 ? vi.channels : 1) * 2;
    return (samplesPlayed.load(std::memory_order_acquire) + kEndSlackFrames) * frameBytes >= pcmDecoded;
}

void VideoPlayer::UpdateClock() {
    Time now;
    now.LoadHardwareTime();
    const double frequency = Time::Base().frequencyDouble;
    // Once the voice has played all of the stream's sound, the picture runs on the timer:
    // a picture longer than its sound would otherwise stop at the sound's end.
    const bool voiced = hasVoice.load(std::memory_order_acquire) && !SoundPlayedOut();
    const uint64_t played = samplesPlayed.load(std::memory_order_acquire);
    if (voiced && played == 0) {
        videoClock = 0.0f;  // the sound has not started: the picture waits for it
        return;
    }
    float v = float(double(now.ticks - startTime) / frequency);
    if (voiced && vi.rate > 0) {
        const float a = float(double(played) / double(vi.rate));
        if (std::fabs(v - a) > kVideoResyncSeconds) {
            gLog.Print(LogSeverity::Information, LogCategory::Sound, "Video synchronization error. Resyncing...");
            startTime = now.ticks - Time::FromSeconds(a).ticks;
            v = a;
        }
    }
    videoClock = v;
}

bool VideoPlayer::FrameSuperseded(float t) const {
    if (!framePending || ti.fps_numerator == 0) return false;
    return t >= frameTime + float(double(ti.fps_denominator) / double(ti.fps_numerator));
}

bool VideoPlayer::AudioLeadNeedsMore(float t) {
    if (!active) return false;
    if (!framePending || FrameSuperseded(t)) return true;
    if (!vorbisHeaders) return false;
    // The whole sound is decoded: no more comes, only the picture's frames are left.
    if (audioNeedsData && !fileStream) return false;
    // Audio that did not fit the ring yet is decoded no further.
    if (remainderBytes.load(std::memory_order_acquire) != 0) return false;
    float a = vi.rate > 0 ? float(double(vd.granulepos > 0 ? vd.granulepos : 0) / double(vi.rate)) : 0.0f;
    if (a > maxAudioTime) maxAudioTime = a;
    if (audioTime > audioLoopOffset + a + kVideoLoopTolerance) audioLoopOffset += maxAudioTime;  // the file looped
    audioTime = audioLoopOffset + a;
    return t + kVideoAudioLeadSeconds > audioTime;
}

bool VideoPlayer::DecodeAudio() {
    float** pcm = nullptr;
    const int n = vorbis_synthesis_pcmout(&vd, &pcm);
    if (n > 0) {
        const uint32_t channels = uint32_t(vi.channels);
        const uint32_t bytes = uint32_t(n) * channels * 2;
        auto* out = static_cast<int16_t*>(EngineAlloc(bytes));
        if (!out) return false;
        for (int i = 0; i < n; ++i) {
            for (uint32_t c = 0; c < channels; ++c) {
                // The integer part of x * 32767 + 0.5, clamped to the 16-bit range.
                const float f = pcm[c][i] * 32767.0f + 0.5f;
                int32_t s;
                if (!(f > -32768.0f)) s = -32768;  // NaN included
                else if (f >= 32767.0f) s = 32767;
                else s = int32_t(f);
                out[size_t(i) * channels + c] = int16_t(s);
            }
        }
        vorbis_synthesis_read(&vd, n);
        pcmDecoded += bytes;
        struct {
            uint32_t bytes;
            void* buffer;
        } __attribute__((packed)) job{bytes, out};
        PostSoundJob(VIDEO_JOB_ADD_PCM, &job, sizeof job);
        return false;
    }
    const int r = ogg_stream_packetout(&vorbisStream, &packet);
    if (r == 0) return true;
    // A packet that is no audio (the headers again after a loop restart) is skipped.
    if (r > 0 && vorbis_synthesis(&vb, &packet) == 0) vorbis_synthesis_blockin(&vd, &vb);
    return false;
}

bool VideoPlayer::DistributeBufferedPages() {
    bool any = false;
    for (int r; (r = ogg_sync_pageout(&sync, &page)) != 0;) {
        if (r < 0) {
            ReportDamage();  // bytes that are no page were skipped
            continue;
        }
        DistributePage();
        any = true;
    }
    return any;
}

bool VideoPlayer::Advance() {
    if (!active || closed) return false;
    // 3. The clock.
    UpdateClock();
    const float t = videoClock;
    // 4. Decode until a frame is pending and audio leads the clock by a second.
    uint32_t reads = 0;
    bool exhausted = false;
    while (!exhausted && AudioLeadNeedsMore(t)) {
        // A pending frame whose successor is due too is dropped: decoded (the next frame
        // builds on it) but never uploaded, so a slow run keeps the picture with its sound.
        if (theoraHeaders && (!framePending || FrameSuperseded(t))) {
            const int r = ogg_stream_packetout(&theoraStream, &packet);
            if (r > 0) {
                if (packet.granulepos >= 0) {
                    ogg_int64_t granule = packet.granulepos;
                    theora_control(&td, kTheoraSetGranulePosition, &granule, sizeof granule);
                    granulePosition = packet.granulepos;
                    granuleSet = true;
                }
                if (theora_decode_packetin(&td, &packet) == 0) {
                    const float tf = float(theora_granule_time(&td, td.granulepos));
                    if (tf > maxFrameTime) maxFrameTime = tf;
                    if (frameTime > videoLoopOffset + tf) videoLoopOffset += maxFrameTime;  // the file looped
                    frameTime = videoLoopOffset + tf;
                    if (framePending) ++droppedFrames;
                    ++frameCounter;
                    framePending = 1;
                }
            } else if (r == 0) {
                videoNeedsData = 1;
            }
        }
        if (vorbisHeaders && remainderBytes.load(std::memory_order_acquire) == 0) audioNeedsData = DecodeAudio() ? 1 : 0;
        const bool videoWaits = theoraHeaders && videoNeedsData;
        if (videoWaits || (vorbisHeaders && audioNeedsData)) {
            // Pages already in the sync buffer first, then more of the file.
            bool paged = DistributeBufferedPages();
            if (!paged && reads++ < kMaxReadsPerUpdate && ReadData()) {
                DistributeBufferedPages();
                paged = true;
            }
            // The flags stay when nothing more comes this update. A sound that ended
            // with the file leaves the picture's packets still to be decoded.
            if (paged)
                audioNeedsData = videoNeedsData = 0;
            else if (videoWaits || fileStream)
                exhausted = true;
        }
        PostSoundJob(VIDEO_JOB_FEED);
    }
    // The voice is fed every update, also when nothing was decoded.
    PostSoundJob(VIDEO_JOB_FEED);
    bool newFrame = false;
    if (framePending && t >= frameTime) {
        framePending = 0;
        lastFrameCounter = frameCounter;
        newFrame = true;
    }
    // 5. The end: every stream drained, every sample handed to the voice, the last
    // frame's time passed (a frame still pending is shown first).
    // With a voice, the end also waits for the voice to play what it was given: deleting
    // the player destroys the voice and whatever it still had queued.
    const bool soundDone = !vorbisHeaders || (hasVoice.load(std::memory_order_acquire)
                                                  ? SoundPlayedOut()
                                                  : audioNeedsData && SubmittedBytes() >= pcmDecoded);
    if (soundDone && videoNeedsData && !fileStream && t > frameTime && !newFrame && !framePending)
        active = 0;
    return newFrame;
}

bool VideoPlayer::FrameOut(yuv_buffer* planes) {
    return theoraDecoderInit && theora_decode_YUVout(&td, planes) == 0;
}

void VideoPlayer::PlaneSizes(uint32_t width[3], uint32_t height[3], uint32_t offsetX[3], uint32_t offsetY[3]) const {
    const uint32_t w = ti.frame_width, h = ti.frame_height, x = ti.offset_x, y = ti.offset_y;
    width[0] = w, height[0] = h, offsetX[0] = x, offsetY[0] = y;
    uint32_t cw = w, ch = h, cx = x, cy = y;
    switch (ti.pixelformat) {
    case OC_PF_422: cw = (w + 1) / 2, cx = x / 2; break;
    case OC_PF_444: break;
    default: cw = (w + 1) / 2, ch = (h + 1) / 2, cx = x / 2, cy = y / 2; break;  // 4:2:0
    }
    for (int i = 1; i < 3; ++i) width[i] = cw, height[i] = ch, offsetX[i] = cx, offsetY[i] = cy;
}
