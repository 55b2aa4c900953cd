#pragma once
// LZX decoding context: turns LZX-compressed frames back into their bytes.
//
// An LZX stream is a sequence of frames of 32768 output bytes (the last one may be
// shorter). Each frame's compressed bytes are handed over in one call, in stream
// order; the context keeps the sliding window, the Huffman trees, the repeated
// offsets and any block that continues into the next frame. Verbatim, aligned-offset
// and uncompressed blocks are decoded, and the E8 call translation announced at the
// start of the stream is undone on the output.
//
// Threads: a context is used by one thread at a time; distinct contexts share nothing.
// Memory: Create allocates the context and its window in one engine block; Destroy
// frees it. Decompress allocates nothing.
#include <cstdint>

using LzxResult = uint32_t;
constexpr LzxResult kLzxOk = 0;
constexpr LzxResult kLzxOutOfMemory = 0x8007000E;
constexpr LzxResult kLzxCorruptData = 0x81DE2001;
constexpr LzxResult kLzxFailure = 0x80004005;

constexpr uint32_t kLzxCodec = 1;
constexpr uint32_t kLzxFrameSize = 32768;
constexpr uint32_t kLzxMinWindowSize = 1u << 15;
constexpr uint32_t kLzxMaxWindowSize = 1u << 21;

// Codec parameters. windowSize is a power of two from 2^15 to 2^21 bytes; flags and
// partitionSize are recorded but shape only how a stream was compressed.
struct LzxCodecParams {
    uint32_t flags;
    uint32_t windowSize;
    uint32_t partitionSize;
};

struct LzxDecoderState;

class LzxDecoder {
public:
    static constexpr uint32_t kSignature = 0x76C3F251;
    static constexpr uint32_t kVersion = 1;
    static constexpr uint32_t kOwnsMemory = 0x40000000;

    // Makes a context for codec kLzxCodec. Returns kLzxOk and the context in *context,
    // kLzxOutOfMemory when the block cannot be allocated, kLzxFailure for a null
    // argument, another codec or an unsupported window size (*context is then null).
    static LzxResult Create(uint32_t codec, const LzxCodecParams* params, LzxDecoder** context);

    // Decodes the next frame. source/sourceSize hold exactly that frame's compressed
    // bytes; *destinationSize gives the frame's expanded size (1 to 32768; only the
    // stream's last frame may be shorter than 32768) and destination room for it.
    // On kLzxOk *destinationSize is unchanged and the bytes are in destination. On
    // failure *destinationSize is 0: kLzxCorruptData when the data is not a valid
    // continuation of the stream (after which the context keeps failing: its window
    // is no longer trustworthy), kLzxFailure for a bad context or argument.
    // Compressed bytes beyond what the frame needs are ignored.
    static LzxResult Decompress(LzxDecoder* context, void* destination, uint32_t* destinationSize, const void* source,
                                uint32_t sourceSize);

    // Frees a context made by Create; null is ignored.
    static void Destroy(LzxDecoder* context);

    uint32_t signature;
    uint32_t version;
    uint32_t flags;  // kOwnsMemory when the context's block is to be freed by Destroy
    LzxCodecParams params;
    LzxDecoderState* state;

private:
    LzxDecoder() = default;
};
