#pragma once
// A small LZX encoder for tests: greedy hash-chain matching with the three repeated
// offsets, real Huffman trees (length-limited, sent as pre-tree coded differences
// from the previous block's), verbatim, aligned-offset and uncompressed blocks, and
// the E8 call translation. It writes 32768-byte frames, each padded to whole 16-bit
// words, that never split a token; matches may reach back into earlier frames.
#include <cstdint>
#include <vector>

struct LzxTestBlock {
    uint32_t type;  // 1 verbatim, 2 aligned offset, 3 uncompressed
    uint32_t size;  // expanded bytes; the last block is cut to the data left
};

struct LzxTestOptions {
    uint32_t windowBits = 16;
    int32_t e8Size = 0;  // E8 translation size written in the stream header; 0 = off
    // Blocks in order, repeated until the data is covered.
    std::vector<LzxTestBlock> blocks{{1, 1u << 20}};
    bool useMatches = true;
    uint32_t chainDepth = 24;
};

struct LzxTestFrames {
    std::vector<std::vector<uint8_t>> compressed;  // one LZX frame each
    std::vector<uint32_t> expanded;                // 32768 but for the last
};

LzxTestFrames LzxTestEncode(const std::vector<uint8_t>& data, const LzxTestOptions& options);

// The container frame layout: [u16 BE compressed] per frame, the last frame as
// [0xFF, u16 BE expanded, u16 BE compressed]; then `trailing` extra bytes.
std::vector<uint8_t> LzxTestFrameStream(const LzxTestFrames& frames, const std::vector<uint8_t>& trailing = {});

// One cabinet with one folder (LZX, the given window) holding one file "data.bin";
// each frame is one data block.
std::vector<uint8_t> LzxTestCabinet(const LzxTestFrames& frames, uint32_t windowBits);

// Extracts the one file of a cabinet with libmspack, all in memory. False on any error.
bool LzxMspackExtract(const std::vector<uint8_t>& cabinet, std::vector<uint8_t>& out);

// Test inputs: x86-like code with E8 calls, text, runs and noise, from a seed.
std::vector<uint8_t> LzxTestData(uint32_t size, uint32_t seed);
