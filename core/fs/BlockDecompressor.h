#pragma once
// Decoder of a container entry's stored bytes, fed in pieces as the read-ahead buffers
// arrive. Kinds: 0 stored (copied), 1 zlib (zlib or gzip wrapping, detected from the
// header), 2 LZX frames (LzxFrameDecoder.h gives the frame layout).
// One decoder per stream; one thread at a time.
#include <cstdint>

class LzxFrameDecoder;

class BlockDecompressor {
public:
    explicit BlockDecompressor(uint32_t kind);
    ~BlockDecompressor();
    BlockDecompressor(const BlockDecompressor&) = delete;
    BlockDecompressor& operator=(const BlockDecompressor&) = delete;

    // In: *sourceSize bytes at source (null with 0 only drains), room for
    // *destinationSize bytes. Out: the bytes consumed and produced. False on corrupt
    // data (a zlib or gzip check value that does not match included) or a decoder that
    // could not be set up; the stream then fails and logs ErrorText.
    bool Decompress(const uint8_t* source, uint32_t* sourceSize, uint8_t* destination, uint32_t* destinationSize);

    uint32_t Kind() const { return kind; }
    // True once the compressed stream ended (for zlib: its check value matched).
    bool Finished() const { return finished; }
    const char* ErrorText() const { return error; }

private:
    uint32_t kind;
    void* zlibStream = nullptr;  // z_stream, kept out of this header
    LzxFrameDecoder* lzx = nullptr;  // kind 2
    bool failed = false;
    bool finished = false;
    const char* error = "";
    char zlibMessage[96] = {};
};
