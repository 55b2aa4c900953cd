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

// What the encoder used, so tests can tell that a feature was really exercised.
struct LzxTestStats {
    uint32_t literals = 0;
    uint32_t repeated[3] = {};       // matches through repeated-offset slots 0, 1, 2
    uint32_t crossFrame = 0;         // matches whose source starts in an earlier frame
    uint32_t lengthSymbols = 0;      // matches longer than 8 (length tree used)
    uint32_t alignedOffsets = 0;     // offsets with low bits through the aligned tree
    uint32_t preTreeRuns[3] = {};    // pre-tree codes 17, 18, 19
    uint32_t padWords = 0;           // uncompressed headers that ended on a word edge
};

struct LzxTestFrames {
    std::vector<std::vector<uint8_t>> compressed;  // one LZX frame each
    std::vector<uint32_t> expanded;                // 32768 but for the last
    LzxTestStats stats;
};

LzxTestFrames LzxTestEncode(const std::vector<uint8_t>& data, const LzxTestOptions& options);

// The container frame layout: [u16 BE compressed] per frame, the last frame as
// [0xFF, u16 BE expanded, u16 BE compressed]; then `trailing` extra bytes.
std::vector<uint8_t> LzxTestFrameStream(const LzxTestFrames& frames, const std::vector<uint8_t>& trailing = {});

// One cabinet with one folder (LZX, the given window) holding one file "data.bin";
// each frame is one data block.
std::vector<uint8_t> LzxTestCabinet(const LzxTestFrames& frames, uint32_t windowBits);

// Extracts the one file of a cabinet with libmspack, all in memory, into out (whose
// capacity is reused). False on any error.
bool LzxMspackExtract(const std::vector<uint8_t>& cabinet, std::vector<uint8_t>& out);

// Test inputs: x86-like code with E8 calls, text, runs and noise, from a seed.
std::vector<uint8_t> LzxTestData(uint32_t size, uint32_t seed);
