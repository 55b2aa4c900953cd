#pragma once
// Frame layer of LZX-compressed container data: the decoder behind block kind 2.
//
// Stream layout: a sequence of frames, each a header and that many compressed bytes.
//   - [hi, lo]: a frame of 32768 expanded bytes whose compressed size is the
//     big-endian u16 (hi is never 0xFF).
//   - [0xFF, eh, el, ch, cl]: the last frame; big-endian expanded size (at most
//     32768) and compressed size. Everything after it is ignored.
// The frames' compressed bytes form one LZX stream (64 KB window, flags 0), decoded by
// an LzxDecoder context that lives as long as this object.
//
// Use: one object per compressed entry, fed the entry's stored bytes in order in
// chunks of any size, with destinations of any size:
//
//   uint32_t used = chunkBytes, made = room;
//   LzxResult r = decoder.Decompress(chunk, &used, out, &made);
//
// Per call it consumes input and produces output until the input is used up or the
// destination is full, whichever comes first:
//   - *sourceSize in: bytes available at source; out: bytes consumed. Bytes of a
//     frame header or frame that is not yet complete are copied into an internal
//     buffer and count as consumed, so the caller always drops consumed bytes and
//     never hands them over again.
//   - *destinationSize in: room at destination; out: bytes written. A frame that does
//     not fit is decoded into an internal buffer and handed out over the following
//     calls (those calls may pass no input).
//   - Once the last frame is decoded and handed out, every later call consumes all its
//     input and produces nothing.
//   - Returns kLzxOk, or kLzxCorruptData for a bad header (expanded size above 32768)
//     or bad LZX data, or kLzxOutOfMemory / kLzxFailure when construction could not
//     make the decoder. The sizes then still report what the call consumed and
//     produced before the fault (produced bytes are good). An error is final: later
//     calls return it again with nothing consumed or produced. Corrupt data logs one
//     warning line per stream.
// A call that consumes and produces nothing while returning kLzxOk needs more input
// than the caller has: the entry's stored data is exhausted (truncated stream) when
// the caller has no more.
//
// Threads: one thread at a time per object. Memory: the constructor allocates the
// decoding context (window included) and about 96 KB of buffers; Decompress
// allocates nothing.
#include <cstdint>

#include "core/fs/LzxDecoder.h"

class LzxFrameDecoder {
public:
    static constexpr uint32_t kWindowSize = 0x10000;
    static constexpr uint32_t kPartitionSize = 0x10000;
    static constexpr uint32_t kMaxCompressedFrame = 0xFFFF;

    LzxFrameDecoder();
    ~LzxFrameDecoder();
    LzxFrameDecoder(const LzxFrameDecoder&) = delete;
    LzxFrameDecoder& operator=(const LzxFrameDecoder&) = delete;

    LzxResult Decompress(const void* source, uint32_t* sourceSize, void* destination, uint32_t* destinationSize);

    // The decoder could be made (false after an allocation failure).
    bool IsValid() const { return context != nullptr; }
    // The last frame has been decoded and all of its bytes handed out.
    bool Finished() const { return lastFrameDone && pendingCount == 0; }

private:
    LzxResult Fail(LzxResult code);

    LzxDecoder* context = nullptr;
    LzxResult error = kLzxOk;
    uint8_t* frameBuffer = nullptr;   // a frame's compressed bytes gathered across calls
    uint8_t* outputBuffer = nullptr;  // one expanded frame waiting for destination room
    uint32_t frameIndex = 0;
    uint8_t header[5] = {};
    uint32_t headerBytes = 0;
    bool headerComplete = false;
    bool lastFrame = false;
    bool lastFrameDone = false;
    uint32_t expandedSize = 0;
    uint32_t compressedSize = 0;
    uint32_t gathered = 0;
    uint32_t pendingOffset = 0;
    uint32_t pendingCount = 0;
};
