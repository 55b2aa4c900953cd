// Test-side LZX encoder, container frame and cabinet writers, and an in-memory
// libmspack extraction for the independent check.
#include "LzxTestEncoder.h"

#include <mspack.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <string>

namespace {

constexpr uint32_t kFrame = 32768;
constexpr uint32_t kMaxMatch = 257;
constexpr uint32_t kLengthSymbols = 249;

// Code lengths of a Huffman code over freq, at most maxLen long. Fewer than two used
// symbols get dummies, so the code is always complete; with allowEmpty an unused
// tree stays all zero.
std::vector<uint8_t> HuffmanLengths(std::vector<uint32_t> freq, uint32_t maxLen, bool allowEmpty) {
    const size_t n = freq.size();
    std::vector<uint8_t> lens(n, 0);
    size_t used = std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; });
    if (used == 0 && allowEmpty) return lens;
    for (size_t i = 0; i < n && used < 2; ++i)
        if (!freq[i]) {
            freq[i] = 1;
            ++used;
        }
    for (;;) {
        using Item = std::pair<uint64_t, int>;  // weight, node
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        std::vector<int> parent;
        std::vector<int> leafNode(n, -1);
        for (size_t s = 0; s < n; ++s)
            if (freq[s]) {
                leafNode[s] = static_cast<int>(parent.size());
                heap.push({freq[s], static_cast<int>(parent.size())});
                parent.push_back(-1);
            }
        while (heap.size() > 1) {
            const Item a = heap.top();
            heap.pop();
            const Item b = heap.top();
            heap.pop();
            const int node = static_cast<int>(parent.size());
            parent.push_back(-1);
            parent[a.second] = node;
            parent[b.second] = node;
            heap.push({a.first + b.first, node});
        }
        uint32_t longest = 0;
        for (size_t s = 0; s < n; ++s) {
            if (leafNode[s] < 0) continue;
            uint32_t depth = 0;
            for (int v = leafNode[s]; parent[v] >= 0; v = parent[v]) ++depth;
            lens[s] = static_cast<uint8_t>(depth);
            longest = std::max(longest, depth);
        }
        if (longest <= maxLen) return lens;
        for (auto& f : freq)
            if (f) f = (f + 1) / 2;
    }
}

std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lens) {
    uint32_t count[17] = {}, next[17] = {};
    for (uint8_t l : lens) ++count[l];
    count[0] = 0;
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    std::vector<uint32_t> codes(lens.size(), 0);
    for (size_t s = 0; s < lens.size(); ++s)
        if (lens[s]) codes[s] = next[lens[s]]++;
    return codes;
}

struct Token {
    uint32_t length;    // expanded bytes (1 for a literal)
    uint16_t mainSym;
    int16_t lengthSym;  // -1 when absent
    uint8_t extraBits;
    uint32_t extraValue;
};

class Encoder {
public:
    Encoder(const std::vector<uint8_t>& input, const LzxTestOptions& opt) : data(input), options(opt) {
        const uint32_t bits = opt.windowBits;
        windowSize = 1u << bits;
        slots = bits == 20 ? 42 : bits == 21 ? 50 : bits * 2;
        uint32_t base = 0;
        for (uint32_t i = 0; i < 50; ++i) {
            const uint32_t extra = i < 4 ? 0 : std::min<uint32_t>(i / 2 - 1, 17);
            extraBits[i] = extra;
            positionBase[i] = base;
            base += 1u << extra;
        }
        mainSymbols = 256 + slots * 8;
        prevMain.assign(mainSymbols, 0);
        prevLength.assign(kLengthSymbols, 0);
        head.assign(1u << 16, -1);
        chain.assign(data.size(), -1);
    }

    LzxTestFrames Run() {
        TranslateE8();
        const uint32_t n = static_cast<uint32_t>(data.size());
        frameEnd = std::min(kFrame, n);
        Put(options.e8Size ? 1 : 0, 1);
        if (options.e8Size) {
            Put(static_cast<uint32_t>(options.e8Size) >> 16, 16);
            Put(static_cast<uint32_t>(options.e8Size) & 0xFFFF, 16);
        }
        uint32_t pos = 0;
        size_t plan = 0;
        while (pos < n) {
            const LzxTestBlock& b = options.blocks[plan++ % options.blocks.size()];
            const uint32_t size = std::min(b.size, n - pos);
            if (size == 0) continue;
            if (b.type == 3) WriteUncompressed(pos, size);
            else WriteCompressed(b.type, pos, size);
            pos += size;
        }
        return std::move(result);
    }

private:
    LzxTestStats& stats() { return result.stats; }
    void Put(uint32_t value, uint32_t n) {
        if (!n) return;
        acc = (acc << n) | (value & ((1ull << n) - 1));
        nbits += n;
        while (nbits >= 16) {
            const uint32_t w = static_cast<uint32_t>(acc >> (nbits - 16)) & 0xFFFF;
            frame.push_back(static_cast<uint8_t>(w));
            frame.push_back(static_cast<uint8_t>(w >> 8));
            nbits -= 16;
        }
        acc &= (1ull << nbits) - 1;
    }
    void PadWord() {
        if (nbits) Put(0, 16 - nbits);
    }
    void Advance(uint32_t bytes) {
        outPos += bytes;
        if (outPos == frameEnd) {
            PadWord();
            result.compressed.push_back(frame);
            result.expanded.push_back(frameEnd - frameStart);
            frame.clear();
            frameStart = frameEnd;
            frameEnd = std::min<uint32_t>(frameStart + kFrame, static_cast<uint32_t>(data.size()));
        }
    }

    void TranslateE8() {
        if (!options.e8Size) return;
        const int64_t size = options.e8Size;
        for (size_t f = 0; f * kFrame < data.size() && f < 32768; ++f) {
            const size_t start = f * kFrame;
            const size_t len = std::min<size_t>(kFrame, data.size() - start);
            if (len <= 10) continue;
            int64_t curpos = static_cast<int64_t>(start);
            for (size_t i = start; i < start + len - 10;) {
                if (data[i] != 0xE8) {
                    ++i;
                    ++curpos;
                    continue;
                }
                uint8_t* p = &data[i + 1];
                const int64_t rel = static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
                if (rel >= -curpos && rel < size) {
                    const int64_t abs = rel < size - curpos ? rel + curpos : rel - size;
                    const uint32_t a = static_cast<uint32_t>(abs);
                    p[0] = uint8_t(a);
                    p[1] = uint8_t(a >> 8);
                    p[2] = uint8_t(a >> 16);
                    p[3] = uint8_t(a >> 24);
                }
                i += 5;
                curpos += 5;
            }
        }
    }

    uint32_t Hash(uint32_t p) const { return (data[p] << 8 ^ data[p + 1] << 4 ^ data[p + 2] * 0x9E37u) & 0xFFFF; }
    void InsertUpTo(uint32_t p) {
        for (; hashed < p; ++hashed) {
            if (hashed + 2 >= data.size()) continue;
            const uint32_t h = Hash(hashed);
            chain[hashed] = head[h];
            head[h] = static_cast<int32_t>(hashed);
        }
    }
    uint32_t MatchLength(uint32_t p, uint32_t offset, uint32_t limit) const {
        uint32_t l = 0;
        while (l < limit && data[p + l] == data[p - offset + l]) ++l;
        return l;
    }

    std::vector<Token> Tokenize(uint32_t start, uint32_t size) {
        std::vector<Token> tokens;
        const uint32_t end = start + size;
        for (uint32_t p = start; p < end;) {
            const uint32_t frameLimit = (p / kFrame + 1) * kFrame;
            const uint32_t limit = std::min({kMaxMatch, end - p, frameLimit - p});
            uint32_t best = 0, bestOffset = 0;
            int bestRep = -1;
            if (options.useMatches && limit >= 2) {
                for (int r = 0; r < 3; ++r) {
                    if (R[r] > p || R[r] == 0) continue;
                    const uint32_t l = MatchLength(p, R[r], limit);
                    if (l >= 2 && l > best) {
                        best = l;
                        bestRep = r;
                        bestOffset = R[r];
                    }
                }
                if (limit >= 3) {
                    InsertUpTo(p);
                    if (p + 2 < data.size()) {
                        uint32_t depth = options.chainDepth;
                        for (int32_t c = head[Hash(p)]; c >= 0 && depth--; c = chain[c]) {
                            const uint32_t off = p - static_cast<uint32_t>(c);
                            if (off > windowSize - 3) break;
                            const uint32_t l = MatchLength(p, off, limit);
                            if (l >= 3 && l > best + 1) {
                                best = l;
                                bestRep = -1;
                                bestOffset = off;
                            }
                        }
                    }
                }
            }
            if (best < 2 || (bestRep < 0 && best < 3)) {
                ++stats().literals;
                tokens.push_back({1, data[p], -1, 0, 0});
                ++p;
                continue;
            }
            Token t{best, 0, -1, 0, 0};
            if (bestRep >= 0) ++stats().repeated[bestRep];
            if ((p - bestOffset) / kFrame != p / kFrame) ++stats().crossFrame;
            if (best > 8) ++stats().lengthSymbols;
            uint32_t slot;
            if (bestRep == 0) {
                slot = 0;
            } else if (bestRep == 1) {
                slot = 1;
                std::swap(R[0], R[1]);
            } else if (bestRep == 2) {
                slot = 2;
                std::swap(R[0], R[2]);
            } else {
                const uint32_t formatted = bestOffset + 2;
                slot = 3;
                while (slot + 1 < slots && positionBase[slot + 1] <= formatted) ++slot;
                t.extraBits = static_cast<uint8_t>(extraBits[slot]);
                t.extraValue = formatted - positionBase[slot];
                R[2] = R[1];
                R[1] = R[0];
                R[0] = bestOffset;
            }
            const uint32_t header = std::min<uint32_t>(best - 2, 7);
            if (header == 7) t.lengthSym = static_cast<int16_t>(best - 9);
            t.mainSym = static_cast<uint16_t>(256 + slot * 8 + header);
            tokens.push_back(t);
            p += best;
        }
        return tokens;
    }

    // Pre-tree coded differences of lens[first, last) from prev; prev takes lens.
    void WriteLengths(const std::vector<uint8_t>& lens, std::vector<uint8_t>& prev, uint32_t first, uint32_t last) {
        struct Item {
            uint32_t sym, bits, value;
            int follow;
        };
        std::vector<Item> items;
        for (uint32_t x = first; x < last;) {
            uint32_t run = 1;
            while (x + run < last && lens[x + run] == lens[x]) ++run;
            if (lens[x] == 0 && run >= 20) {
                const uint32_t n = std::min(run, 51u);
                items.push_back({18, 5, n - 20, -1});
                x += n;
            } else if (lens[x] == 0 && run >= 4) {
                const uint32_t n = std::min(run, 19u);
                items.push_back({17, 4, n - 4, -1});
                x += n;
            } else if (run >= 4) {
                const uint32_t n = std::min(run, 5u);
                items.push_back({19, 1, n - 4, static_cast<int>((prev[x] + 17 - lens[x]) % 17)});
                x += n;
            } else {
                items.push_back({(prev[x] + 17u - lens[x]) % 17, 0, 0, -1});
                ++x;
            }
        }
        std::vector<uint32_t> freq(20, 0);
        for (const Item& it : items) {
            if (it.sym >= 17) ++stats().preTreeRuns[it.sym - 17];
            ++freq[it.sym];
            if (it.follow >= 0) ++freq[it.follow];
        }
        const std::vector<uint8_t> preLens = HuffmanLengths(freq, 15, false);
        const std::vector<uint32_t> preCodes = CanonicalCodes(preLens);
        for (uint8_t l : preLens) Put(l, 4);
        for (const Item& it : items) {
            Put(preCodes[it.sym], preLens[it.sym]);
            Put(it.value, it.bits);
            if (it.follow >= 0) Put(preCodes[it.follow], preLens[it.follow]);
        }
        std::copy(lens.begin() + first, lens.begin() + last, prev.begin() + first);
    }

    void WriteCompressed(uint32_t type, uint32_t start, uint32_t size) {
        const std::vector<Token> tokens = Tokenize(start, size);
        std::vector<uint32_t> mainFreq(mainSymbols, 0), lengthFreq(kLengthSymbols, 0), alignedFreq(8, 0);
        const bool aligned = type == 2;
        for (const Token& t : tokens) {
            ++mainFreq[t.mainSym];
            if (t.lengthSym >= 0) ++lengthFreq[t.lengthSym];
            if (aligned && t.extraBits >= 3) {
                ++alignedFreq[t.extraValue & 7];
                ++stats().alignedOffsets;
            }
        }
        const std::vector<uint8_t> mainLens = HuffmanLengths(mainFreq, 16, false);
        const std::vector<uint8_t> lengthLens = HuffmanLengths(lengthFreq, 16, true);
        std::vector<uint8_t> alignedLens = HuffmanLengths(alignedFreq, 7, false);
        const std::vector<uint32_t> mainCodes = CanonicalCodes(mainLens), lengthCodes = CanonicalCodes(lengthLens),
                                    alignedCodes = CanonicalCodes(alignedLens);

        Put(type, 3);
        Put(size >> 8, 16);
        Put(size & 0xFF, 8);
        if (aligned)
            for (uint8_t l : alignedLens) Put(l, 3);
        WriteLengths(mainLens, prevMain, 0, 256);
        WriteLengths(mainLens, prevMain, 256, mainSymbols);
        WriteLengths(lengthLens, prevLength, 0, kLengthSymbols);

        for (const Token& t : tokens) {
            Put(mainCodes[t.mainSym], mainLens[t.mainSym]);
            if (t.lengthSym >= 0) Put(lengthCodes[t.lengthSym], lengthLens[t.lengthSym]);
            if (aligned && t.extraBits >= 3) {
                Put(t.extraValue >> 3, t.extraBits - 3u);
                Put(alignedCodes[t.extraValue & 7], alignedLens[t.extraValue & 7]);
            } else {
                Put(t.extraValue, t.extraBits);
            }
            Advance(t.length);
        }
    }

    void WriteUncompressed(uint32_t start, uint32_t size) {
        Put(3, 3);
        Put(size >> 8, 16);
        Put(size & 0xFF, 8);
        if (nbits == 0) {
            Put(0, 16);  // already on a word edge: a whole padding word
            ++stats().padWords;
        } else {
            PadWord();
        }
        for (uint32_t r : R)
            for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(r >> (8 * i)));
        for (uint32_t i = 0; i < size; ++i) {
            frame.push_back(data[start + i]);
            if (i + 1 == size && (size & 1)) frame.push_back(0);
            Advance(1);
        }
    }

    std::vector<uint8_t> data;
    const LzxTestOptions& options;
    uint32_t windowSize, slots, mainSymbols;
    uint32_t extraBits[50], positionBase[50];
    uint32_t R[3] = {1, 1, 1};
    std::vector<uint8_t> prevMain, prevLength;
    std::vector<int32_t> head, chain;
    uint32_t hashed = 0;

    std::vector<uint8_t> frame;
    uint64_t acc = 0;
    uint32_t nbits = 0;
    uint32_t outPos = 0, frameStart = 0, frameEnd = 0;
    LzxTestFrames result;
};

void PutLe(std::vector<uint8_t>& v, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// In-memory files for libmspack: "cab" is read from the cabinet, anything else is
// written to the output.
struct MemFile {
    const std::vector<uint8_t>* in;  // null for the output file
    std::vector<uint8_t>* bytes;
    size_t pos;
};
struct MemSystem {
    mspack_system sys;
    const std::vector<uint8_t>* cab;
    std::vector<uint8_t> out;
};

mspack_file* MemOpen(mspack_system* self, const char* name, int mode) {
    MemSystem* m = reinterpret_cast<MemSystem*>(self);
    if (std::strcmp(name, "cab") == 0) {
        if (mode != MSPACK_SYS_OPEN_READ) return nullptr;
        return reinterpret_cast<mspack_file*>(new MemFile{m->cab, nullptr, 0});
    }
    if (mode != MSPACK_SYS_OPEN_WRITE) return nullptr;
    m->out.clear();
    return reinterpret_cast<mspack_file*>(new MemFile{nullptr, &m->out, 0});
}
void MemClose(mspack_file* f) { delete reinterpret_cast<MemFile*>(f); }
int MemRead(mspack_file* f, void* buffer, int bytes) {
    MemFile* m = reinterpret_cast<MemFile*>(f);
    if (bytes < 0 || !m->in) return -1;
    const size_t n = std::min<size_t>(static_cast<size_t>(bytes), m->in->size() - m->pos);
    std::memcpy(buffer, m->in->data() + m->pos, n);
    m->pos += n;
    return static_cast<int>(n);
}
int MemWrite(mspack_file* f, void* buffer, int bytes) {
    MemFile* m = reinterpret_cast<MemFile*>(f);
    if (bytes < 0 || !m->bytes) return -1;
    const uint8_t* b = static_cast<const uint8_t*>(buffer);
    m->bytes->insert(m->bytes->end(), b, b + bytes);
    m->pos = m->bytes->size();
    return bytes;
}
int MemSeek(mspack_file* f, off_t offset, int mode) {
    MemFile* m = reinterpret_cast<MemFile*>(f);
    const off_t size = static_cast<off_t>(m->in ? m->in->size() : m->bytes->size());
    const off_t base = mode == MSPACK_SYS_SEEK_START ? 0 : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(m->pos) : size;
    const off_t to = base + offset;
    if (to < 0 || to > size) return -1;
    m->pos = static_cast<size_t>(to);
    return 0;
}
off_t MemTell(mspack_file* f) { return static_cast<off_t>(reinterpret_cast<MemFile*>(f)->pos); }
void MemMessage(mspack_file*, const char*, ...) {}
void* MemAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void MemFree(void* p) { std::free(p); }
void MemCopy(void* src, void* dst, size_t bytes) { std::memmove(dst, src, bytes); }

}  // namespace

LzxTestFrames LzxTestEncode(const std::vector<uint8_t>& data, const LzxTestOptions& options) {
    return Encoder(data, options).Run();
}

std::vector<uint8_t> LzxTestFrameStream(const LzxTestFrames& frames, const std::vector<uint8_t>& trailing) {
    std::vector<uint8_t> s;
    const size_t n = frames.compressed.size();
    if (n == 0) s.insert(s.end(), {0xFF, 0, 0, 0, 0});
    for (size_t i = 0; i < n; ++i) {
        const uint32_t c = static_cast<uint32_t>(frames.compressed[i].size());
        if (i + 1 < n) {
            if (c >= 0xFF00) std::abort();  // would read as the last-frame mark
            s.push_back(static_cast<uint8_t>(c >> 8));
            s.push_back(static_cast<uint8_t>(c));
        } else {
            const uint32_t e = frames.expanded[i];
            s.insert(s.end(), {0xFF, uint8_t(e >> 8), uint8_t(e), uint8_t(c >> 8), uint8_t(c)});
        }
        s.insert(s.end(), frames.compressed[i].begin(), frames.compressed[i].end());
    }
    s.insert(s.end(), trailing.begin(), trailing.end());
    return s;
}

std::vector<uint8_t> LzxTestCabinet(const LzxTestFrames& frames, uint32_t windowBits) {
    static const char kName[] = "data.bin";
    const uint32_t fileOffset = 36 + 8;
    const uint32_t dataOffset = fileOffset + 16 + sizeof kName;
    uint32_t total = 0, cabSize = dataOffset;
    for (size_t i = 0; i < frames.compressed.size(); ++i) {
        total += frames.expanded[i];
        cabSize += 8 + static_cast<uint32_t>(frames.compressed[i].size());
    }
    std::vector<uint8_t> c;
    c.insert(c.end(), {'M', 'S', 'C', 'F'});
    PutLe(c, 0, 4);
    PutLe(c, cabSize, 4);
    PutLe(c, 0, 4);
    PutLe(c, fileOffset, 4);
    PutLe(c, 0, 4);
    c.push_back(3);  // version 1.3
    c.push_back(1);
    PutLe(c, 1, 2);  // folders
    PutLe(c, 1, 2);  // files
    PutLe(c, 0, 2);  // flags
    PutLe(c, 0, 2);  // set id
    PutLe(c, 0, 2);  // cabinet number
    PutLe(c, dataOffset, 4);
    PutLe(c, static_cast<uint32_t>(frames.compressed.size()), 2);
    PutLe(c, 3 | windowBits << 8, 2);  // LZX
    PutLe(c, total, 4);
    PutLe(c, 0, 4);
    PutLe(c, 0, 2);
    PutLe(c, 0x5A21, 2);
    PutLe(c, 0, 2);
    PutLe(c, 0x20, 2);
    c.insert(c.end(), kName, kName + sizeof kName);
    for (size_t i = 0; i < frames.compressed.size(); ++i) {
        PutLe(c, 0, 4);  // no checksum
        PutLe(c, static_cast<uint32_t>(frames.compressed[i].size()), 2);
        PutLe(c, frames.expanded[i], 2);
        c.insert(c.end(), frames.compressed[i].begin(), frames.compressed[i].end());
    }
    return c;
}

bool LzxMspackExtract(const std::vector<uint8_t>& cabinet, std::vector<uint8_t>& out) {
    MemSystem m;
    m.sys = {MemOpen, MemClose, MemRead, MemWrite, MemSeek, MemTell, MemMessage, MemAlloc, MemFree, MemCopy, nullptr};
    m.cab = &cabinet;
    m.out = std::move(out);  // reuses the caller's capacity
    mscab_decompressor* d = mspack_create_cab_decompressor(&m.sys);
    if (!d) return false;
    bool ok = false;
    if (mscabd_cabinet* cab = d->open(d, "cab")) {
        ok = cab->files && d->extract(d, cab->files, "out") == MSPACK_ERR_OK;
        d->close(d, cab);
    }
    mspack_destroy_cab_decompressor(d);
    out = std::move(m.out);
    return ok;
}

std::vector<uint8_t> LzxTestData(uint32_t size, uint32_t seed) {
    static const char* kWords[] = {"tower ", "squad ", "path ", "the ", "entity ", "template ", "render ",
                                   "sound ", "frame ", "window ", "\n", "level ", "score ", "medal "};
    std::vector<uint8_t> d;
    d.reserve(size + 600);
    uint64_t s = seed * 2654435761ull + 1;
    auto next = [&s] {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    };
    while (d.size() < size) {
        const uint32_t kind = next() % 5, n = 16 + next() % 512;
        for (uint32_t i = 0; i < n; ++i) {
            switch (kind) {
            case 0: {  // code: calls with small relative targets among repeated opcodes
                static const uint8_t kOps[] = {0x55, 0x8B, 0xEC, 0x83, 0xC4, 0x89, 0x45, 0xFC, 0x5D, 0xC3};
                if (next() % 6 == 0) {
                    const int32_t rel = static_cast<int32_t>(next() % 20000) - 10000;
                    d.push_back(0xE8);
                    for (int b = 0; b < 4; ++b) d.push_back(static_cast<uint8_t>(static_cast<uint32_t>(rel) >> (8 * b)));
                } else {
                    d.push_back(kOps[next() % sizeof kOps]);
                }
                break;
            }
            case 1:
            case 2: {
                const char* w = kWords[next() % (sizeof kWords / sizeof kWords[0])];
                d.insert(d.end(), w, w + std::strlen(w));
                break;
            }
            case 3:
                d.push_back(static_cast<uint8_t>(n));
                break;
            default:
                d.push_back(static_cast<uint8_t>(next()));
                break;
            }
        }
    }
    d.resize(size);
    return d;
}
