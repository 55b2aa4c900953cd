// LZX decoder.
//
// Bit stream: 16-bit little-endian words, each read from its most significant bit
// down. The stream opens with one bit (E8 translation on) and, when set, the 32-bit
// translation size. Then come blocks: 3 bits of type (1 verbatim, 2 aligned offset,
// 3 uncompressed) and 24 bits of expanded size. Verbatim and aligned blocks carry
// Huffman trees whose code lengths are sent as differences from the previous
// block's through a 20-symbol pre-tree; uncompressed blocks carry the three repeated
// offsets and raw bytes. A block may continue across frames; a token never does.
// After each frame the bit stream restarts at the next frame's first byte (frames
// are padded to whole words by the encoder).
//
// Bounds: the bit reader never touches memory past the frame's bytes; when a frame's
// bits run out it supplies zero words and counts them, and consuming any of those
// marks the frame corrupt. Every tree is checked to be a complete prefix code before
// use, every match is checked against the frame, the block and the stream start.
#include "core/fs/LzxDecoder.h"

#include <cstring>
#include <new>

#include "core/Memory.h"

namespace {

constexpr uint32_t kNumChars = 256;
constexpr uint32_t kPreTreeSymbols = 20;
constexpr uint32_t kLengthSymbols = 249;
constexpr uint32_t kAlignedSymbols = 8;
constexpr uint32_t kMaxPositionSlots = 50;
constexpr uint32_t kMaxMainSymbols = kNumChars + kMaxPositionSlots * 8;
constexpr uint32_t kMinMatch = 2;
constexpr uint32_t kMaxCodeLength = 16;
constexpr uint32_t kE8Frames = 32768;  // translation stops after the first 1 GB of output

enum : uint32_t { kBlockVerbatim = 1, kBlockAligned = 2, kBlockUncompressed = 3 };

// A canonical prefix code: a direct table for codes up to TableBits long and a
// per-length search for the longer ones.
template <uint32_t Symbols, uint32_t TableBits>
struct HuffmanTree {
    static constexpr uint32_t kTableBits = TableBits;
    uint8_t lengths[Symbols];
    uint16_t fast[1u << TableBits];  // (symbol << 5) | length; 0 for longer or missing codes
    uint16_t sorted[Symbols];        // symbols ordered by (length, symbol)
    uint16_t count[kMaxCodeLength + 1];
    uint16_t firstIndex[kMaxCodeLength + 1];
    uint32_t firstCode[kMaxCodeLength + 1];

    // Accepts complete codes and the empty code (no symbol has a length; decoding
    // from it fails). Over-subscribed or incomplete codes are corrupt.
    bool Build(uint32_t symbols) {
        std::memset(count, 0, sizeof count);
        for (uint32_t s = 0; s < symbols; ++s) ++count[lengths[s]];
        count[0] = 0;
        int32_t left = 1;
        for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
            left = (left << 1) - count[len];
            if (left < 0) return false;
        }
        std::memset(fast, 0, sizeof fast);
        if (left == 1 << kMaxCodeLength) return true;  // empty
        if (left != 0) return false;
        uint32_t code = 0, index = 0;
        for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
            firstCode[len] = code;
            firstIndex[len] = static_cast<uint16_t>(index);
            code = (code + count[len]) << 1;
            index += count[len];
        }
        uint16_t next[kMaxCodeLength + 1];
        std::memcpy(next, firstIndex, sizeof next);
        for (uint32_t s = 0; s < symbols; ++s) {
            const uint32_t len = lengths[s];
            if (!len) continue;
            const uint32_t rank = next[len]++;
            sorted[rank] = static_cast<uint16_t>(s);
            if (len <= TableBits) {
                const uint32_t c = firstCode[len] + (rank - firstIndex[len]);
                const uint32_t from = c << (TableBits - len), n = 1u << (TableBits - len);
                const uint16_t entry = static_cast<uint16_t>((s << 5) | len);
                for (uint32_t i = 0; i < n; ++i) fast[from + i] = entry;
            }
        }
        return true;
    }
};

using PreTree = HuffmanTree<kPreTreeSymbols, 8>;
using MainTree = HuffmanTree<kMaxMainSymbols, 12>;
using LengthTree = HuffmanTree<kLengthSymbols, 10>;
using AlignedTree = HuffmanTree<kAlignedSymbols, 7>;

// Reads one frame's bits. Words past the end read as zero and are counted in pad.
struct BitReader {
    const uint8_t* p;
    const uint8_t* end;
    uint64_t buf = 0;  // unread bits, left-justified
    uint32_t bits = 0;
    uint32_t pad = 0;  // zero bits supplied past the end of the input

    void Refill() {
        while (bits <= 48) {
            uint64_t w = 0;
            if (end - p >= 2) {
                w = uint64_t(p[0]) | uint64_t(p[1]) << 8;
                p += 2;
            } else {
                pad += 16;
            }
            buf |= w << (48 - bits);
            bits += 16;
        }
    }
    void Need(uint32_t n) {
        if (bits < n) Refill();
    }
    uint32_t Peek16() const { return static_cast<uint32_t>(buf >> 48); }
    void Drop(uint32_t n) {
        buf <<= n;
        bits -= n;
    }
    // 1 to 24 bits.
    uint32_t Read(uint32_t n) {
        Need(n);
        const uint32_t v = static_cast<uint32_t>(buf >> (64 - n));
        Drop(n);
        return v;
    }
    // True when some of the bits consumed lay past the end of the input.
    bool Overrun() const { return pad > bits; }

    // Leaves bit mode for an uncompressed block: skips to the next word boundary (a
    // whole padding word when already on one) and points p at the next unread byte.
    bool AlignToBytes() {
        Need(16);
        const uint32_t partial = bits & 15;
        Drop(partial ? partial : 16);
        if (Overrun()) return false;
        p -= (bits - pad) / 8;
        Reset();
        return true;
    }
    void Reset() {
        buf = 0;
        bits = 0;
        pad = 0;
    }
};

template <class Tree>
inline bool DecodeSymbol(const Tree& tree, BitReader& in, uint32_t& symbol) {
    constexpr uint32_t kBits = Tree::kTableBits;
    const uint32_t v = in.Peek16();
    const uint32_t e = tree.fast[v >> (16 - kBits)];
    if (e) {
        symbol = e >> 5;
        in.Drop(e & 31);
        return true;
    }
    for (uint32_t len = kBits + 1; len <= kMaxCodeLength; ++len) {
        const uint32_t c = (v >> (16 - len)) - tree.firstCode[len];
        if (c < tree.count[len]) {
            symbol = tree.sorted[tree.firstIndex[len] + c];
            in.Drop(len);
            return true;
        }
    }
    return false;
}

}  // namespace

struct LzxDecoderState {
    uint8_t* window;
    uint32_t windowSize;
    uint32_t windowMask;
    uint32_t mainSymbols;
    uint32_t positionSlots;
    uint32_t positionBase[kMaxPositionSlots];
    uint8_t extraBits[kMaxPositionSlots];

    uint64_t framesDone;   // frames decoded so far
    bool lastFrameSeen;    // a short frame ended the stream
    bool failed;           // corrupt data seen: every later frame fails
    bool headerRead;       // the stream's E8 header has been read
    int32_t e8Size;        // E8 translation size; 0 means off
    uint32_t blockType;
    uint32_t blockRemaining;
    uint32_t blockSize;
    bool pendingPad;       // an odd uncompressed block's pad byte opens the next frame
    uint32_t r0, r1, r2;

    PreTree pre;
    MainTree main;
    LengthTree length;
    AlignedTree aligned;

    bool ReadLengths(BitReader& in, uint8_t* lens, uint32_t first, uint32_t last);
    bool ReadBlockHeader(BitReader& in);
    bool DecodeRun(BitReader& in, uint32_t pos, uint32_t runEnd, uint64_t streamPos);
    bool CopyRaw(BitReader& in, uint32_t pos, uint32_t run);
    bool DecodeFrame(const uint8_t* source, uint32_t sourceSize, uint32_t frameStart, uint32_t frameSize);
};

bool LzxDecoderState::ReadLengths(BitReader& in, uint8_t* lens, uint32_t first, uint32_t last) {
    for (uint32_t i = 0; i < kPreTreeSymbols; ++i) pre.lengths[i] = static_cast<uint8_t>(in.Read(4));
    if (!pre.Build(kPreTreeSymbols)) return false;
    uint32_t x = first;
    while (x < last) {
        in.Need(32);
        uint32_t z;
        if (!DecodeSymbol(pre, in, z)) return false;
        if (z == 17 || z == 18) {
            const uint32_t n = z == 17 ? in.Read(4) + 4 : in.Read(5) + 20;
            if (n > last - x) return false;
            std::memset(lens + x, 0, n);
            x += n;
        } else if (z == 19) {
            const uint32_t n = in.Read(1) + 4;
            if (n > last - x) return false;
            in.Need(16);
            if (!DecodeSymbol(pre, in, z) || z > 16) return false;
            const uint8_t v = static_cast<uint8_t>((lens[x] + 17 - z) % 17);
            std::memset(lens + x, v, n);
            x += n;
        } else {
            lens[x] = static_cast<uint8_t>((lens[x] + 17 - z) % 17);
            ++x;
        }
        if (in.Overrun()) return false;
    }
    return true;
}

bool LzxDecoderState::ReadBlockHeader(BitReader& in) {
    if (pendingPad) {  // the pad byte of an odd uncompressed block that ended a frame
        if (in.p < in.end) ++in.p;
        pendingPad = false;
    }
    if (!headerRead) {
        e8Size = 0;
        if (in.Read(1)) {
            const uint32_t hi = in.Read(16);
            e8Size = static_cast<int32_t>(hi << 16 | in.Read(16));
        }
        headerRead = true;
    }
    blockType = in.Read(3);
    blockSize = in.Read(16) << 8;
    blockSize |= in.Read(8);
    blockRemaining = blockSize;
    switch (blockType) {
    case kBlockAligned:
        for (uint32_t i = 0; i < kAlignedSymbols; ++i) aligned.lengths[i] = static_cast<uint8_t>(in.Read(3));
        if (!aligned.Build(kAlignedSymbols)) return false;
        [[fallthrough]];
    case kBlockVerbatim:
        if (!ReadLengths(in, main.lengths, 0, kNumChars)) return false;
        if (!ReadLengths(in, main.lengths, kNumChars, mainSymbols)) return false;
        if (!main.Build(mainSymbols)) return false;
        if (!ReadLengths(in, length.lengths, 0, kLengthSymbols)) return false;
        if (!length.Build(kLengthSymbols)) return false;
        return !in.Overrun();
    case kBlockUncompressed: {
        if (!in.AlignToBytes()) return false;
        if (in.end - in.p < 12) return false;
        uint32_t r[3];
        for (uint32_t i = 0; i < 3; ++i) {
            const uint8_t* b = in.p + 4 * i;
            r[i] = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        }
        in.p += 12;
        r0 = r[0];
        r1 = r[1];
        r2 = r[2];
        return true;
    }
    default:
        return false;
    }
}

// Decodes the tokens of a verbatim or aligned block from pos up to runEnd exactly.
bool LzxDecoderState::DecodeRun(BitReader& in, uint32_t pos, uint32_t runEnd, uint64_t streamPos) {
    uint8_t* const win = window;
    const bool isAligned = blockType == kBlockAligned;
    // Bytes decoded before this run: a match may reach back at most that far.
    const uint64_t streamStartPos = streamPos - pos;
    while (pos < runEnd) {
        in.Need(32);
        uint32_t sym;
        if (!DecodeSymbol(main, in, sym)) return false;
        if (sym < kNumChars) {
            win[pos++] = static_cast<uint8_t>(sym);
            continue;
        }
        sym -= kNumChars;
        uint32_t matchLength = sym & 7;
        if (matchLength == 7) {
            uint32_t footer;
            if (!DecodeSymbol(length, in, footer)) return false;
            matchLength += footer;
        }
        matchLength += kMinMatch;
        uint32_t slot = sym >> 3;
        uint32_t offset;
        if (slot > 2) {
            if (slot >= positionSlots) return false;
            uint32_t extra = extraBits[slot];
            offset = positionBase[slot] - 2;
            in.Need(24);
            if (isAligned && extra >= 3) {
                if (extra > 3) offset += in.Read(extra - 3) << 3;
                uint32_t low;
                if (!DecodeSymbol(aligned, in, low)) return false;
                offset += low;
            } else if (extra) {
                offset += in.Read(extra);
            } else {
                offset = 1;
            }
            r2 = r1;
            r1 = r0;
            r0 = offset;
        } else if (slot == 0) {
            offset = r0;
        } else if (slot == 1) {
            offset = r1;
            r1 = r0;
            r0 = offset;
        } else {
            offset = r2;
            r2 = r0;
            r0 = offset;
        }
        if (matchLength > runEnd - pos) return false;
        if (offset == 0 || offset > windowSize || offset > streamStartPos + pos) return false;
        uint32_t src = (pos - offset) & windowMask;
        uint8_t* dst = win + pos;
        pos += matchLength;
        if (offset >= 8 && src + matchLength <= windowSize) {
            // Whole 8-byte steps never read bytes this match has yet to write; the
            // tail goes byte by byte so nothing past the match end is touched.
            const uint8_t* s = win + src;
            while (matchLength >= 8) {
                uint64_t v;
                std::memcpy(&v, s, 8);
                std::memcpy(dst, &v, 8);
                s += 8;
                dst += 8;
                matchLength -= 8;
            }
            while (matchLength--) *dst++ = *s++;
        } else {
            while (matchLength--) {
                *dst++ = win[src];
                src = (src + 1) & windowMask;
            }
        }
    }
    return !in.Overrun();
}

bool LzxDecoderState::CopyRaw(BitReader& in, uint32_t pos, uint32_t run) {
    if (static_cast<uint32_t>(in.end - in.p) < run) return false;
    std::memcpy(window + pos, in.p, run);
    in.p += run;
    return true;
}

bool LzxDecoderState::DecodeFrame(const uint8_t* source, uint32_t sourceSize, uint32_t frameStart,
                                  uint32_t frameSize) {
    BitReader in{source, source + sourceSize};
    const uint64_t streamFrameStart = framesDone * kLzxFrameSize;
    uint32_t pos = frameStart;
    const uint32_t frameEnd = frameStart + frameSize;
    while (pos < frameEnd) {
        if (blockRemaining == 0) {
            if (!ReadBlockHeader(in)) return false;
            continue;  // a block may be empty
        }
        const uint32_t run = blockRemaining < frameEnd - pos ? blockRemaining : frameEnd - pos;
        if (blockType == kBlockUncompressed) {
            if (!CopyRaw(in, pos, run)) return false;
            blockRemaining -= run;
            if (blockRemaining == 0 && (blockSize & 1)) {
                if (in.p < in.end) ++in.p;
                else pendingPad = true;
            }
        } else {
            if (!DecodeRun(in, pos, pos + run, streamFrameStart + (pos - frameStart))) return false;
            blockRemaining -= run;
        }
        pos += run;
    }
    return !in.Overrun();
}

LzxResult LzxDecoder::Create(uint32_t codec, const LzxCodecParams* params, LzxDecoder** context) {
    if (!context) return kLzxFailure;
    *context = nullptr;
    if (codec != kLzxCodec || !params) return kLzxFailure;
    const uint32_t w = params->windowSize;
    if (w < kLzxMinWindowSize || w > kLzxMaxWindowSize || (w & (w - 1))) return kLzxFailure;

    const size_t head = (sizeof(LzxDecoder) + 15) & ~size_t(15);
    const size_t stateBytes = (sizeof(LzxDecoderState) + 15) & ~size_t(15);
    uint8_t* block = static_cast<uint8_t*>(EngineAlloc(head + stateBytes + w));
    if (!block) return kLzxOutOfMemory;
    LzxDecoder* d = new (block) LzxDecoder;
    LzxDecoderState* s = new (block + head) LzxDecoderState;
    std::memset(static_cast<void*>(s), 0, sizeof *s);
    d->signature = kSignature;
    d->version = kVersion;
    d->flags = kOwnsMemory;
    d->params = *params;
    d->state = s;

    s->window = block + head + stateBytes;
    std::memset(s->window, 0, w);
    s->windowSize = w;
    s->windowMask = w - 1;
    uint32_t bits = 0;
    while ((1u << bits) < w) ++bits;
    // 2^20 and 2^21 windows have more slots than the doubling rule gives (the last
    // slots all carry 17 extra bits).
    s->positionSlots = bits == 20 ? 42 : bits == 21 ? 50 : bits * 2;
    uint32_t base = 0;
    for (uint32_t i = 0; i < kMaxPositionSlots; ++i) {
        const uint32_t extra = i < 4 ? 0 : (i / 2 - 1 < 17 ? i / 2 - 1 : 17);
        s->extraBits[i] = static_cast<uint8_t>(extra);
        s->positionBase[i] = base;
        base += 1u << extra;
    }
    s->mainSymbols = kNumChars + s->positionSlots * 8;
    s->r0 = s->r1 = s->r2 = 1;
    *context = d;
    return kLzxOk;
}

LzxResult LzxDecoder::Decompress(LzxDecoder* context, void* destination, uint32_t* destinationSize,
                                 const void* source, uint32_t sourceSize) {
    if (!destinationSize) return kLzxFailure;
    const uint32_t frameSize = *destinationSize;
    *destinationSize = 0;
    if (!context || context->signature != kSignature || context->version != kVersion || !context->state)
        return kLzxFailure;
    if (!destination || frameSize == 0 || frameSize > kLzxFrameSize || (!source && sourceSize)) return kLzxFailure;
    LzxDecoderState& s = *context->state;
    if (s.failed) return kLzxCorruptData;
    if (s.lastFrameSeen) return kLzxFailure;  // only the stream's last frame may be short

    const uint32_t frameStart = static_cast<uint32_t>((s.framesDone * kLzxFrameSize) & s.windowMask);
    if (!s.DecodeFrame(static_cast<const uint8_t*>(source), sourceSize, frameStart, frameSize)) {
        s.failed = true;
        return kLzxCorruptData;
    }
    uint8_t* out = static_cast<uint8_t*>(destination);
    std::memcpy(out, s.window + frameStart, frameSize);

    // Undo the E8 translation: the four bytes after an E8 byte hold an absolute
    // target that the encoder made from a relative call offset.
    if (s.e8Size != 0 && s.framesDone < kE8Frames && frameSize > 10) {
        const int32_t size = s.e8Size;
        int32_t curpos = static_cast<int32_t>(s.framesDone * kLzxFrameSize);
        uint8_t* p = out;
        uint8_t* const end = out + frameSize - 10;
        while (p < end) {
            if (*p++ != 0xE8) {
                ++curpos;
                continue;
            }
            const int32_t absolute =
                static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
            if (absolute >= -curpos && absolute < size) {
                const int32_t relative = absolute >= 0 ? absolute - curpos : absolute + size;
                const uint32_t r = static_cast<uint32_t>(relative);
                p[0] = static_cast<uint8_t>(r);
                p[1] = static_cast<uint8_t>(r >> 8);
                p[2] = static_cast<uint8_t>(r >> 16);
                p[3] = static_cast<uint8_t>(r >> 24);
            }
            p += 4;
            curpos += 5;
        }
    }
    ++s.framesDone;
    if (frameSize < kLzxFrameSize) s.lastFrameSeen = true;
    *destinationSize = frameSize;
    return kLzxOk;
}

void LzxDecoder::Destroy(LzxDecoder* context) {
    if (!context || context->signature != kSignature) return;
    context->signature = 0;
    if (context->flags & kOwnsMemory) EngineFree(context);
}
