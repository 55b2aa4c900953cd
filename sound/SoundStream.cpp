#include "sound/SoundStream.h"

#include <vorbis/vorbisfile.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "core/fs/StreamingFileReader.h"

uint32_t SoundStreamStreamedDataSource::Read(void* buffer, uint32_t length) {
    return reader ? reader->Read(buffer, length) : 0;
}

uint32_t SoundStreamStaticDataSource::Read(void* buffer, uint32_t length) {
    uint32_t copied = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (copied < length && chunks.Count() > 0) {
        Chunk& c = chunks[0];
        const uint32_t n = c.length < length - copied ? c.length : length - copied;
        std::memcpy(out + copied, c.data, n);
        c.data += n;
        c.length -= n;
        copied += n;
        if (c.length == 0) chunks.Remove(0);
    }
    return copied;
}

void SoundStreamStaticDataSource::AddChunk(const uint8_t* data, uint32_t length) {
    if (length == 0 || !data) return;
    chunks.Add(Chunk{data, length});
}

// ---------------------------------------------------------------------------------------

OGGStream::OGGStream(SoundStreamDataSource* dataSource) : CompressedSoundStream(dataSource) {
    // vorbisfile's clear is safe on a zeroed state, so the first Open may clear it.
    file = new OggVorbis_File;
    std::memset(file, 0, sizeof *file);
}

OGGStream::~OGGStream() {
    ov_clear(file);
    open = false;
    delete file;
}

size_t OGGStream::ReadCallback(void* buffer, size_t size, size_t count, void* stream) {
    auto* self = static_cast<OGGStream*>(stream);
    if (size == 0 || count == 0 || !self->source) return 0;
    // Requests are counted in 64 bits and handed on in pieces a source can take.
    unsigned long long bytes = 0;
    if (__builtin_mul_overflow(static_cast<unsigned long long>(size), static_cast<unsigned long long>(count), &bytes))
        bytes = ULLONG_MAX;
    const uint32_t request = bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
    return self->source->Read(buffer, request) / size;
}

bool OGGStream::Open() {
    ov_clear(file);
    open = false;
    linkChanged = false;
    format = {};
    const ov_callbacks callbacks = {&OGGStream::ReadCallback, nullptr, nullptr, nullptr};
    failure[0] = '\0';
    const int opened = ov_open_callbacks(this, file, nullptr, 0, callbacks);
    if (opened != 0) {
        const char* why = opened == OV_ENOTVORBIS ? "not Ogg Vorbis data"
                          : opened == OV_EBADHEADER ? "damaged Vorbis headers"
                          : opened == OV_EVERSION   ? "unsupported Vorbis version"
                          : opened == OV_EREAD      ? "no Ogg Vorbis headers in the data"
                                                    : "not a readable Ogg Vorbis stream";
        std::snprintf(failure, sizeof failure, "%s", why);
        ov_clear(file);
        return false;
    }
    const vorbis_info* info = ov_info(file, -1);
    // A Vorbis header allows 1 to 255 channels and a non-zero rate.
    if (!info || info->channels < 1 || info->channels > 255 || info->rate < 1 || info->rate > INT_MAX / 512) {
        std::snprintf(failure, sizeof failure, "%d channels at %ld Hz", info ? info->channels : 0,
                      info ? info->rate : 0L);
        ov_clear(file);
        return false;
    }
    format.formatTag = audio::kFormatPcm;
    format.channels = static_cast<uint16_t>(info->channels);
    format.sampleRate = static_cast<uint32_t>(info->rate);
    format.bitsPerSample = 16;
    format.blockAlign = static_cast<uint16_t>(format.channels * 2);
    format.avgBytesPerSec = uint32_t(format.blockAlign) * format.sampleRate;
    format.extraSize = 0;
    open = true;
    return true;
}

uint32_t OGGStream::Read(void* buffer, uint32_t length) {
    if (!open || length == 0 || linkChanged) return 0;
    auto* out = static_cast<char*>(buffer);
    uint32_t produced = 0;
    while (produced < length) {
        const uint32_t want = length - produced;
        int link = 0;
        const long serial = ov_serialnumber(file, -1);
        const long n = ov_read(file, out + produced, want > INT_MAX ? INT_MAX : int(want), 0, 2, 1, &link);
        const vorbis_info* info = n == OV_HOLE || n > 0 ? ov_info(file, -1) : nullptr;
        const bool sameFormat =
            info && uint32_t(info->channels) == format.channels && uint32_t(info->rate) == format.sampleRate;
        if (n == OV_HOLE && sameFormat) {
            // vorbisfile has already resynchronised on the next good page, so decoding
            // goes on from there. Reading on into the next link of a chained file reports
            // a gap as well; only one inside a link (its serial number unchanged) is
            // damage.
            if (ov_serialnumber(file, -1) == serial) ++holes;
            continue;
        }
        if (n == OV_HOLE && info) {
            linkChanged = true;  // the gap led into a link of another format
            break;
        }
        if (n < 1) break;
        if (!sameFormat) {
            linkChanged = true;  // these samples belong to the new link: dropped
            break;
        }
        produced += static_cast<uint32_t>(n);
    }
    return produced;
}
