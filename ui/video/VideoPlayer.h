#pragma once
// VideoPlayer: one playing Ogg file (a Theora stream and an optional Vorbis stream).
// Private to ui/video; VideoEngine.cpp tells the whole story of the three threads.
//
// Threads: the render thread creates the player, parses the headers, decodes and reads
// every field but the sound block below. The sound thread owns the voice, the PCM ring
// and the remainders, reached only through the jobs (VideoPlayer_Sound.cpp) that run in
// posting order; it frees the player with job 4, after every earlier job. The values the
// render thread reads from the sound side (samples played, bytes submitted, the waiting
// remainder) are atomics.
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include <ogg/ogg.h>
#include <theora/theora.h>
#include <vorbis/codec.h>

#include "platform/audio/AudioEngine.h"
#include "sound/SoundWakeClient.h"

class SoundEngine;
class StreamingFileReader;

constexpr uint32_t kVideoReadBytes = 0x80000;       // one ogg_sync_buffer request and the reader's buffer
constexpr uint32_t kVideoRingBytes = 0x100000;      // the voice's PCM ring
constexpr uint32_t kVideoMaxBufferBytes = 16384;    // one submitted buffer at most
constexpr uint32_t kVideoMaxQueuedBuffers = 2;      // buffers queued on the voice at most
constexpr float kVideoResyncSeconds = 0.2f;         // clock difference that moves the video clock
constexpr float kVideoAudioLeadSeconds = 1.0f;      // audio decoded ahead of the clock
constexpr float kVideoLoopTolerance = 0.001f;       // audio time drop that counts as a loop
constexpr uint32_t kVideoMaxPathLength = 259;       // name or directory, without the terminator
constexpr uint32_t kVideoMaxCodedSize = 4096;        // coded frame width and height at most, in pixels
constexpr uint32_t kVideoVoiceFlags = audio::kVoiceMusic;
constexpr float kVideoMaxFrequencyRatio = 2.0f;

// Sound-thread jobs of a player (argument: the player).
enum VideoSoundJob : uint32_t {
    VIDEO_JOB_CREATE_VOICE = 0,  // payload: VoiceRequest
    VIDEO_JOB_ADD_PCM = 1,       // payload: u32 bytes, the buffer pointer (EngineAlloc; the job frees it)
    VIDEO_JOB_FEED = 2,
    VIDEO_JOB_DESTROY_VOICE = 3,
    VIDEO_JOB_DELETE = 4,
};

// Job 0's payload: the volume and the Vorbis stream's format (0 channels: no Vorbis).
struct VoiceRequest {
    float volume;
    uint32_t channels;
    uint32_t rate;
};

class VideoPlayer final : private SoundWakeClient {
public:
    VideoPlayer() = default;
    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    // ======== Render thread ========
    // Op 0: resets the player and starts opening the file.
    void Open(const char* name, const char* directory, bool loop, float volume);
    // True once the stream's open attempt finished (either way).
    bool StreamOpenFinished() const;
    bool StreamFailed() const;
    // The file as the log names it: "directory/name.ogv".
    const char* FileName() const { return fileName.c_str(); }
    // Steps 1-6 of the header parse; false after logging and closing.
    bool ParseHeaders();
    bool HeadersParsed() const { return headersParsed; }
    // Steps 3-5 of the update: true when a new frame is to be shown.
    bool Advance();
    // Copies the decoded frame's planes out (theora_decode_YUVout).
    bool FrameOut(yuv_buffer* planes);
    // The picture region and the chroma plane sizes of the stream.
    void PlaneSizes(uint32_t width[3], uint32_t height[3], uint32_t offsetX[3], uint32_t offsetY[3]) const;
    // Destroys the decoders and streams that were initialised and releases the file; the
    // player is then inactive.
    void Close();
    // Close, then posts jobs 3 and 4: the player must not be touched afterwards.
    void CloseAndDelete();
    bool IsActive() const { return active != 0; }
    bool IsClosed() const { return closed; }
    bool HasTheora() const { return theoraHeaders != 0; }
    bool HasVorbis() const { return vorbisHeaders != 0; }
    float FrameTime() const { return frameTime; }
    float AudioTime() const { return audioTime; }
    uint32_t FrameCounter() const { return frameCounter; }
    // The playback clock in seconds (step 3), updated by Advance.
    float VideoClock() const { return videoClock; }
    uint32_t Channels() const { return uint32_t(vi.channels); }
    uint32_t Rate() const { return uint32_t(vi.rate); }
    uint64_t DecodedBytes() const { return pcmDecoded; }
    uint32_t LastFrameCounter() const { return lastFrameCounter; }
    // Frames decoded but never shown because a later one was already due.
    uint32_t DroppedFrames() const { return droppedFrames; }
    // Written by the sound thread.
    bool HasVoice() const { return hasVoice.load(std::memory_order_acquire); }
    uint64_t SamplesPlayed() const { return samplesPlayed.load(std::memory_order_acquire); }
    uint64_t SubmittedBytes() const { return pcmSubmitted.load(std::memory_order_acquire); }

    // ======== Sound thread (jobs) ========
    static void RunJob(void* player, const uint8_t* payload, uint32_t bytes);

private:
    // Render thread.
    bool ReadData();  // false when nothing more will come
    void DistributePage();
    bool DistributeBufferedPages();  // false when the sync buffer held no whole page
    bool AudioLeadNeedsMore(float t);
    // The pending frame's successor is due at t as well.
    bool FrameSuperseded(float t) const;
    // One warning per player for bytes skipped inside the file (no valid page: damaged
    // or foreign data); one for a file that ends before its picture stream does.
    void ReportDamage();
    void ReportTruncation();
    void RefuseSound();
    // The coded frame is the picture rounded up to macroblocks and within the ceiling.
    bool CodedFrameBounded() const;
    bool DecodeAudio();  // true: more data needed
    void PostSoundJob(uint32_t job, const void* payload = nullptr, uint32_t bytes = 0);
    void UpdateClock();
    // Every sample of the stream decoded, handed over and played by the voice.
    bool SoundPlayedOut() const;
    void CloseDecoders();

    // Sound thread. While the voice exists the sound thread's wakes feed it too, so a
    // slow render frame never lets it run dry.
    void OnSoundWake() override { Feed(); }
    void CreateVoice(const VoiceRequest& request);
    void AddPcm(uint8_t* buffer, uint32_t bytes);
    void Feed();
    void MoveRemaindersIn();
    void DestroyVoice();

    // ---- Render thread ----
    StreamingFileReader* fileStream = nullptr;
    int64_t startTime = 0;  // counter ticks
    uint8_t active = 0;
    uint8_t loop = 0;
    float volume = 1.0f;
    ogg_sync_state sync{};
    theora_info ti{};
    theora_comment tc{};
    theora_state td{};
    ogg_stream_state theoraStream{};
    vorbis_info vi{};
    vorbis_comment vc{};
    vorbis_dsp_state vd{};
    vorbis_block vb{};
    ogg_stream_state vorbisStream{};
    ogg_page page{};
    ogg_packet packet{};
    int32_t theoraHeaders = 0;
    int32_t vorbisHeaders = 0;
    int64_t granulePosition = -1;
    bool granuleSet = false;
    uint32_t frameCounter = 0;
    uint32_t lastFrameCounter = 0;
    uint32_t droppedFrames = 0;
    uint8_t audioNeedsData = 0;
    uint8_t videoNeedsData = 0;
    uint8_t framePending = 0;
    float frameTime = 0.0f;
    float maxFrameTime = 0.0f;
    float videoLoopOffset = 0.0f;
    float audioTime = 0.0f;
    float maxAudioTime = 0.0f;
    float audioLoopOffset = 0.0f;
    // ---- Sound thread ----
    audio::SourceVoice* voice = nullptr;
    SoundEngine* wakeEngine = nullptr;  // the engine whose wakes feed the voice
    audio::WaveFormat format{};
    uint8_t* ring = nullptr;  // kVideoRingBytes, made with the voice
    uint32_t ringRead = 0;
    uint32_t ringFill = 0;
    int64_t previousSubmitted[2] = {-1, -1};
    std::atomic<uint64_t> samplesPlayed{0};
    std::atomic<bool> hasVoice{false};
    uint64_t pcmDecoded = 0;                  // render thread
    std::atomic<uint64_t> pcmSubmitted{0};    // sound thread writes

    // What job 1 could not append yet (sound thread), and its byte count, which the
    // render thread's lead check reads.
    struct Remainder {
        uint8_t* buffer;
        uint32_t bytes;
        uint32_t offset;
    };
    std::deque<Remainder> remainders;
    std::atomic<uint32_t> remainderBytes{0};

    // Which libraries' states were initialised (the close path clears exactly those).
    bool syncInit = false, infoInit = false, theoraStreamInit = false, vorbisStreamInit = false;
    bool theoraDecoderInit = false, vorbisDecoderInit = false;
    bool headersParsed = false;
    bool closed = false;
    bool damageReported = false, truncationReported = false;
    bool theoraEnded = false;  // the Theora stream's last page was read
    std::string fileName;      // for the log: "directory/name.ogv"
    float videoClock = 0.0f;
};
