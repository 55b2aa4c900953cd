#pragma once
// Sound streams: decoders that turn compressed bytes into 16-bit PCM for the decoded
// sound instances, and the data sources they pull those bytes from.
//
// A data source is either a queue of memory chunks (the whole data of sound resources,
// held in the sound memory pool and owned by the resources) or a StreamingFileReader
// that the loader thread fills. The one decoder is OGGStream, Ogg Vorbis over
// vorbisfile, reading through a read callback only (it cannot seek).
//
// Threads: an object belongs to its sound instance, on the sound thread (tests and the
// benchmark use them on one thread of their own).
#include <cstddef>
#include <cstdint>

#include "core/Dynarray.h"
#include "platform/audio/AudioEngine.h"

class StreamingFileReader;
struct OggVorbis_File;

class SoundStreamDataSource {
public:
    virtual ~SoundStreamDataSource() = default;
    // Copies up to length bytes; returns the count (0 at the end of the data).
    virtual uint32_t Read(void* buffer, uint32_t length) = 0;
};

// Reads from a streaming reader (none: reads 0). The reader may make Read wait for the
// loader thread.
class SoundStreamStreamedDataSource : public SoundStreamDataSource {
public:
    uint32_t Read(void* buffer, uint32_t length) override;

    StreamingFileReader* reader = nullptr;  // not owned; the instance swaps it for a loop file
};

// Reads the chunks in the order they were added; a chunk read to its end is dropped.
class SoundStreamStaticDataSource : public SoundStreamDataSource {
public:
    uint32_t Read(void* buffer, uint32_t length) override;
    // Appends a chunk (its memory stays the caller's); a length of 0 is ignored.
    void AddChunk(const uint8_t* data, uint32_t length);

    uint32_t ChunkCount() const { return chunks.Count(); }
    uint32_t ChunkLength(uint32_t i) const { return i < chunks.Count() ? chunks[i].length : 0; }

private:
    struct Chunk {
        const uint8_t* data;
        uint32_t length;  // bytes still to read
    };
    Dynarray<Chunk> chunks;
};

class CompressedSoundStream {
public:
    explicit CompressedSoundStream(SoundStreamDataSource* source) : source(source) {}
    virtual ~CompressedSoundStream() = default;
    CompressedSoundStream(const CompressedSoundStream&) = delete;
    CompressedSoundStream& operator=(const CompressedSoundStream&) = delete;

    // (Re)starts decoding at the source's next byte; false when the data is not a stream
    // this decoder reads.
    virtual bool Open() = 0;
    // Decoded bytes, whole 16-bit samples of the format; 0 at the end of the stream.
    virtual uint32_t Read(void* buffer, uint32_t length) = 0;

    // Gaps in the data (damaged or missing pages) skipped since construction; reading
    // goes on after the gap, as command-line decoders do. The start of a chained file's
    // next link is not a gap.
    virtual uint32_t HolesSkipped() const { return 0; }
    // Why the last Open failed, for the caller's log line ("" after a success).
    const char* FailureReason() const { return failure; }
    // Valid after a successful Open: PCM, 16 bits, the stream's channels and rate.
    const audio::WaveFormat& Format() const { return format; }
    SoundStreamDataSource* Source() const { return source; }

protected:
    audio::WaveFormat format = {};
    SoundStreamDataSource* source;
    char failure[64] = "";
};

// Ogg Vorbis through vorbisfile. A chained stream plays its links while they keep the
// first link's channel count and rate; a link that changes either ends the stream
// there, so the voice never receives samples of another format. A damaged page in the
// middle is skipped and the stream plays on.
class OGGStream : public CompressedSoundStream {
public:
    explicit OGGStream(SoundStreamDataSource* source);
    ~OGGStream() override;

    bool Open() override;
    uint32_t Read(void* buffer, uint32_t length) override;
    bool IsOpen() const { return open; }
    uint32_t HolesSkipped() const override { return holes; }

private:
    static size_t ReadCallback(void* buffer, size_t size, size_t count, void* stream);

    bool open = false;
    bool linkChanged = false;  // a link of another format was reached: reads give 0
    uint32_t holes = 0;
    OggVorbis_File* file;      // zeroed until the first open, cleared again on every open
};
