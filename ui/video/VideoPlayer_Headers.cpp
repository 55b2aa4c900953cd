// The player's life on the render thread outside decoding: opening the file, reading
// it into the Ogg sync state, the header parse, and the close path that hands the
// player to the sound thread for deletion.
#include <algorithm>
#include <cstring>

#include "core/Log.h"
#include "core/Time.h"
#include "core/fs/StreamingFileReader.h"
#include "ui/video/VideoPlayer.h"

namespace {

constexpr uint32_t kTheoraPostProcessingLevel = 3;  // theora_control request: post-processing level

}  // namespace

void VideoPlayer::Open(const char* name, const char* directory, bool loopFlag, float volumeValue) {
    // The player is fresh (one per Play); only the clock and the settings are set here.
    active = 1;
    loop = loopFlag ? 1 : 0;
    volume = volumeValue;
    Time now;
    now.LoadHardwareTime();
    startTime = now.ticks;
    fileName = std::string(directory && *directory ? directory : "") + (directory && *directory ? "/" : "") +
               (name ? name : "") + ".ogv";
    fileStream = new StreamingFileReader(kVideoReadBytes, name, "ogv", directory, loop != 0);
}

bool VideoPlayer::StreamOpenFinished() const { return !fileStream || fileStream->IsOpenOrFailed(); }

bool VideoPlayer::StreamFailed() const { return !fileStream || !fileStream->IsOpen(); }

bool VideoPlayer::ReadData() {
    if (!syncInit) return false;
    char* buffer = ogg_sync_buffer(&sync, long(kVideoReadBytes));
    if (!buffer) return false;
    uint32_t count = fileStream ? fileStream->Read(buffer, kVideoReadBytes) : 0;
    // The headers come once, at the file's start: a loop restart before they are complete
    // would only read them again.
    if (count == 0 && fileStream && loop && theoraDecoderInit) {
        fileStream->WaitUntilOpen();
        count = fileStream->Read(buffer, kVideoReadBytes);
    }
    ogg_sync_wrote(&sync, long(count));
    if (count == 0 && fileStream) {
        fileStream->Release();
        fileStream = nullptr;
        // A whole file ends with its picture stream's last page and no bytes after it.
        if (theoraDecoderInit && (!theoraEnded || sync.fill > sync.returned)) ReportTruncation();
    }
    return count > 0;
}

void VideoPlayer::DistributePage() {
    if (theoraStreamInit && ogg_page_serialno(&page) == theoraStream.serialno && ogg_page_eos(&page))
        theoraEnded = true;
    else if (theoraStreamInit && ogg_page_serialno(&page) == theoraStream.serialno)
        theoraEnded = false;  // a looping file starts over
    if (theoraStreamInit) ogg_stream_pagein(&theoraStream, &page);
    if (vorbisStreamInit) ogg_stream_pagein(&vorbisStream, &page);
}

void VideoPlayer::ReportDamage() {
    if (damageReported) return;
    damageReported = true;
    gLog.Warning(LogCategory::Resources, "Video %s is damaged: data was skipped, the video plays what it can",
                 fileName.c_str());
}

void VideoPlayer::ReportTruncation() {
    if (truncationReported) return;
    truncationReported = true;
    gLog.Warning(LogCategory::Resources, "Video %s ends before its streams do: the video plays what it has",
                 fileName.c_str());
}

bool VideoPlayer::ParseHeaders() {
    headersParsed = true;
    // 1. The library states.
    ogg_sync_init(&sync);
    syncInit = true;
    vorbis_info_init(&vi);
    vorbis_comment_init(&vc);
    theora_info_init(&ti);
    theora_comment_init(&tc);
    infoInit = true;

    bool ok = true, incomplete = false;
    // 2. The beginning-of-stream pages name the streams; the first other page ends them.
    for (bool done = false; ok && !done;) {
        if (ogg_sync_pageout(&sync, &page) <= 0) {
            if (!ReadData()) incomplete = true, ok = false;
            continue;
        }
        if (!ogg_page_bos(&page)) {
            DistributePage();
            done = true;
            break;
        }
        ogg_stream_state test;
        ogg_stream_init(&test, ogg_page_serialno(&page));
        ogg_stream_pagein(&test, &page);
        const bool hasPacket = ogg_stream_packetout(&test, &packet) == 1;
        if (hasPacket && theoraHeaders == 0 && theora_decode_header(&ti, &tc, &packet) >= 0) {
            std::memcpy(&theoraStream, &test, sizeof test);
            theoraStreamInit = true;
            theoraHeaders = 1;
        } else if (hasPacket && vorbisHeaders == 0 && vorbis_synthesis_headerin(&vi, &vc, &packet) >= 0) {
            std::memcpy(&vorbisStream, &test, sizeof test);
            vorbisStreamInit = true;
            vorbisHeaders = 1;
        } else {
            // Another kind of stream is left alone; a sound stream whose header is refused
            // leaves the video without sound, which is worth a line.
            if (hasPacket && vorbisHeaders == 0 && packet.bytes >= 7 && std::memcmp(packet.packet, "\x01vorbis", 7) == 0)
                RefuseSound();
            ogg_stream_clear(&test);
        }
    }
    // 3. The remaining header packets of each stream.
    while (ok && ((theoraHeaders && theoraHeaders < 3) || (vorbisHeaders && vorbisHeaders < 3))) {
        bool progressed = false;
        while (ok && theoraHeaders && theoraHeaders < 3) {
            const int r = ogg_stream_packetout(&theoraStream, &packet);
            if (r == 0) break;
            if (r < 0 || theora_decode_header(&ti, &tc, &packet) < 0) ok = false;
            else ++theoraHeaders, progressed = true;
        }
        while (ok && vorbisHeaders && vorbisHeaders < 3) {
            const int r = ogg_stream_packetout(&vorbisStream, &packet);
            if (r == 0) break;
            if (r < 0 || vorbis_synthesis_headerin(&vi, &vc, &packet) < 0) {
                // The picture still plays: without its sound, on the timer.
                RefuseSound();
                ogg_stream_clear(&vorbisStream);
                vorbisStreamInit = false;
                vorbisHeaders = 0;
                vorbis_info_clear(&vi);
                vorbis_info_init(&vi);
                progressed = true;
            } else {
                ++vorbisHeaders, progressed = true;
            }
        }
        if (!ok || progressed) continue;
        if (ogg_sync_pageout(&sync, &page) > 0) DistributePage();
        else if (!ReadData()) incomplete = true, ok = false;
    }
    if (incomplete) gLog.Error(LogCategory::Resources, "Video error - incomplete file header: %s", fileName.c_str());
    // 4. The decoders; a file without Theora fails.
    if (ok && theoraHeaders == 0) ok = false;
    // The decoder allocates for the coded frame: one larger than its picture needs, or
    // past the ceiling, is refused before it is set up.
    if (ok && !CodedFrameBounded()) {
        Close();
        return false;
    }
    if (ok) {
        ok = theora_decode_init(&td, &ti) == 0;
        theoraDecoderInit = ok;
    }
    if (ok) {
        int level = 0;
        theora_control(&td, kTheoraPostProcessingLevel, &level, sizeof level);
        if (vorbisHeaders) {
            ok = vorbis_synthesis_init(&vd, &vi) == 0;
            if (ok) {
                vorbis_block_init(&vd, &vb);
                vorbisDecoderInit = true;
            }
        }
    }
    // A picture the textures cannot hold is refused like any other bad header.
    if (ok && (ti.frame_width == 0 || ti.frame_height == 0 || ti.offset_x + ti.frame_width > ti.width ||
               ti.offset_y + ti.frame_height > ti.height))
        ok = false;
    if (!ok) {
        // 6. Any failure ends the playback.
        gLog.Error(LogCategory::Resources, "Video error - can't parse headers or init decoders: %s", fileName.c_str());
        Close();
        return false;
    }
    // 5. The voice, and the flags that start the decoding.
    const VoiceRequest request{volume, vorbisHeaders ? uint32_t(vi.channels) : 0u,
                               vorbisHeaders ? uint32_t(vi.rate) : 0u};
    PostSoundJob(VIDEO_JOB_CREATE_VOICE, &request, sizeof request);
    audioNeedsData = vorbisHeaders ? 1 : 0;
    videoNeedsData = 1;
    pcmDecoded = 0;
    active = 1;
    return true;
}

void VideoPlayer::RefuseSound() {
    gLog.Warning(LogCategory::Resources, "Video %s: its sound stream's header is refused, it plays without sound",
                 fileName.c_str());
}

bool VideoPlayer::CodedFrameBounded() const {
    constexpr uint64_t kMacroblock = 16;
    auto roundUp = [&](uint64_t v) { return (v + kMacroblock - 1) / kMacroblock * kMacroblock; };
    const uint64_t needWidth = roundUp(uint64_t(ti.offset_x) + ti.frame_width);
    const uint64_t needHeight = roundUp(uint64_t(ti.offset_y) + ti.frame_height);
    if (ti.width <= needWidth && ti.height <= needHeight && ti.width <= kVideoMaxCodedSize &&
        ti.height <= kVideoMaxCodedSize)
        return true;
    gLog.Error(LogCategory::Resources,
               "Video error - can't parse headers or init decoders: %s has a coded frame of %ux%u for a picture of "
               "%ux%u (at most %ux%u)",
               fileName.c_str(), unsigned(ti.width), unsigned(ti.height), unsigned(ti.frame_width),
               unsigned(ti.frame_height), unsigned(std::min<uint64_t>(needWidth, kVideoMaxCodedSize)),
               unsigned(std::min<uint64_t>(needHeight, kVideoMaxCodedSize)));
    return false;
}

void VideoPlayer::CloseDecoders() {
    if (vorbisDecoderInit) {
        vorbis_block_clear(&vb);
        vorbis_dsp_clear(&vd);
        vorbisDecoderInit = false;
    }
    if (theoraDecoderInit) {
        theora_clear(&td);
        theoraDecoderInit = false;
    }
    if (vorbisStreamInit) {
        ogg_stream_clear(&vorbisStream);
        vorbisStreamInit = false;
    }
    if (theoraStreamInit) {
        ogg_stream_clear(&theoraStream);
        theoraStreamInit = false;
    }
    if (infoInit) {
        theora_comment_clear(&tc);
        theora_info_clear(&ti);
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
        infoInit = false;
    }
    if (syncInit) {
        ogg_sync_clear(&sync);
        syncInit = false;
    }
}

void VideoPlayer::Close() {
    if (closed) return;
    closed = true;
    active = 0;
    CloseDecoders();
    if (fileStream) {
        fileStream->Release();
        fileStream = nullptr;
    }
}

void VideoPlayer::CloseAndDelete() {
    Close();
    // The sound thread lets go of the voice, then frees the player: nothing may touch it
    // after these posts.
    PostSoundJob(VIDEO_JOB_DESTROY_VOICE);
    PostSoundJob(VIDEO_JOB_DELETE);
}
