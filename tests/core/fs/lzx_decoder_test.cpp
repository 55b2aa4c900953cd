// test-sanitize: address
// test-sources: support/LzxTestEncoder.cpp
// test-link: mspack
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/fs/support/LzxTestEncoder.h"
#include "core/fs/LzxDecoder.h"

namespace {

struct Context {
    LzxDecoder* d = nullptr;
    explicit Context(uint32_t windowBits = 16) {
        const LzxCodecParams params{0, 1u << windowBits, 1u << windowBits};
        EXPECT_EQ(LzxDecoder::Create(kLzxCodec, &params, &d), kLzxOk);
    }
    ~Context() { LzxDecoder::Destroy(d); }
};

// Decodes frame by frame; stops at the first failure and returns its code.
LzxResult DecodeFrames(const LzxTestFrames& f, std::vector<uint8_t>& out, uint32_t windowBits = 16) {
    Context c(windowBits);
    out.clear();
    for (size_t i = 0; i < f.compressed.size(); ++i) {
        std::vector<uint8_t> frame(f.expanded[i]);
        uint32_t size = f.expanded[i];
        const LzxResult r = LzxDecoder::Decompress(c.d, frame.data(), &size, f.compressed[i].data(),
                                                   static_cast<uint32_t>(f.compressed[i].size()));
        if (r != kLzxOk) {
            EXPECT_EQ(size, 0u);
            return r;
        }
        EXPECT_EQ(size, f.expanded[i]);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return kLzxOk;
}

// Our decoder and libmspack (fed the same frames as cabinet data blocks) both give data back.
void ExpectBothDecode(const LzxTestFrames& frames, const std::vector<uint8_t>& data, uint32_t windowBits = 16) {
    std::vector<uint8_t> ours, theirs;
    ASSERT_EQ(DecodeFrames(frames, ours, windowBits), kLzxOk);
    EXPECT_TRUE(ours == data);
    ASSERT_TRUE(LzxMspackExtract(LzxTestCabinet(frames, windowBits), theirs));
    EXPECT_TRUE(theirs == data);
}

// LZX bit streams are 16-bit little-endian words, most significant bit first.
void SetBits(std::vector<uint8_t>& s, uint32_t pos, uint32_t n, uint32_t value) {
    for (uint32_t i = 0; i < n; ++i, ++pos) {
        const uint32_t word = pos / 16, k = pos % 16;
        uint8_t& byte = s[2 * word + (k < 8 ? 1 : 0)];
        const uint8_t mask = static_cast<uint8_t>(1u << (k < 8 ? 7 - k : 15 - k));
        if ((value >> (n - 1 - i)) & 1) byte |= mask;
        else byte &= static_cast<uint8_t>(~mask);
    }
}

struct BitWriter {
    std::vector<uint8_t> bytes;
    uint32_t word = 0, n = 0;
    void Put(uint32_t bits, uint32_t value) {
        for (uint32_t i = bits; i-- > 0;) {
            word = word << 1 | ((value >> i) & 1);
            if (++n == 16) {
                bytes.push_back(static_cast<uint8_t>(word));
                bytes.push_back(static_cast<uint8_t>(word >> 8));
                word = n = 0;
            }
        }
    }
    std::vector<uint8_t> Finish() {
        if (n) Put(16 - n, 0);
        return bytes;
    }
};

struct Case {
    std::string name;
    uint32_t size;
    LzxTestOptions options;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    LzxTestOptions o;
    cases.push_back({"verbatim", 150000, o});
    o.blocks = {{2, 1u << 20}};
    cases.push_back({"aligned", 150000, o});
    o.blocks = {{3, 1u << 20}};
    cases.push_back({"uncompressed", 70001, o});
    o.blocks = {{1, 40001}, {3, 9999}, {2, 30000}, {3, 12345}, {3, 1}, {1, 7}};
    cases.push_back({"mixed odd blocks", 200000, o});
    o.e8Size = 12000000;
    cases.push_back({"mixed with E8", 200000, o});
    o.blocks = {{2, 65536}};
    cases.push_back({"aligned with E8", 131072 + 11, o});
    o.e8Size = 0;
    o.useMatches = false;
    o.blocks = {{1, 1u << 20}};
    cases.push_back({"literals only", 40000, o});
    o.useMatches = true;
    o.blocks = {{3, 32768}, {1, 32768}};
    cases.push_back({"blocks on frame edges", 131072, o});
    o.blocks = {{1, 1001}, {3, 31767}, {2, 40000}};
    cases.push_back({"odd uncompressed block ending a frame", 70000, o});
    o.blocks = {{1, 1u << 20}};
    cases.push_back({"one short frame", 5, o});
    o.e8Size = 1000;
    cases.push_back({"E8 small translation size", 100000, o});
    for (uint32_t bits = 15; bits <= 21; ++bits) {  // every window size, matches reaching far back
        LzxTestOptions w;
        w.windowBits = bits;
        w.blocks = {{2, 100000}, {1, 100000}};
        w.chainDepth = 64;
        cases.push_back({"window " + std::to_string(bits), 300000, w});
    }
    return cases;
}

}  // namespace

// Every block kind, E8 translation on and off, short last frames, matches reaching back
// into earlier frames, every window size, and an uncompressed block header ending on a
// word edge (a whole padding word follows).
TEST(LzxDecoder, MatchesSourceAndLibmspack) {
    uint32_t used[11] = {};
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> data = LzxTestData(c.size, c.size);
        const LzxTestFrames frames = LzxTestEncode(data, c.options);
        const LzxTestStats& s = frames.stats;
        const uint32_t counts[11] = {s.literals,     s.crossFrame,     s.lengthSymbols,  s.alignedOffsets,
                                     s.repeated[0],  s.repeated[1],    s.repeated[2],    s.preTreeRuns[0],
                                     s.preTreeRuns[1], s.preTreeRuns[2], s.padWords};
        for (int i = 0; i < 11; ++i) used[i] += counts[i];
        ExpectBothDecode(frames, data, c.options.windowBits);
    }
    for (uint32_t n : used) EXPECT_GT(n, 0u);  // the cases exercise every coding feature
}

// The pad byte of an odd uncompressed block that ends a frame may sit at the end of
// that frame or open the next one; a continuous reader (libmspack) cannot tell them apart.
TEST(LzxDecoder, PadByteOfOddBlockMayOpenTheNextFrame) {
    LzxTestOptions o;
    o.blocks = {{1, 1001}, {3, 31767}, {1, 40000}};
    const std::vector<uint8_t> data = LzxTestData(70000, 70000);
    LzxTestFrames frames = LzxTestEncode(data, o);
    frames.compressed[0].pop_back();
    frames.compressed[1].insert(frames.compressed[1].begin(), 0);
    ExpectBothDecode(frames, data);
}

// E8 translation is undone only up to the 11th byte from a frame's end (a call on each
// side of the edge).
TEST(LzxDecoder, E8TranslationIsUndone) {
    for (uint32_t edge : {32768 - 11, 32768 - 10}) {
        std::vector<uint8_t> data(32768 + 20, 0x90);
        for (uint32_t p : {0u, 100u, edge, 32768u + 3}) {
            data[p] = 0xE8;  // a call to 16, translated wherever translation applies
            data[p + 1] = 0x10;
            data[p + 2] = data[p + 3] = data[p + 4] = 0;
        }
        LzxTestOptions on;
        on.e8Size = 1 << 20;
        on.blocks = {{3, 1u << 20}};
        LzxTestOptions off = on;
        off.e8Size = 0;
        const LzxTestFrames a = LzxTestEncode(data, on), b = LzxTestEncode(data, off);
        EXPECT_NE(a.compressed[0], b.compressed[0]);
        std::vector<uint8_t> out;
        ASSERT_EQ(DecodeFrames(a, out), kLzxOk);
        EXPECT_TRUE(out == data) << edge;
        ASSERT_EQ(DecodeFrames(b, out), kLzxOk);
        EXPECT_TRUE(out == data) << edge;
    }
}

TEST(LzxDecoder, ContextLifecycleAndArguments) {
    const LzxCodecParams good{0, 0x10000, 0x10000};
    LzxDecoder* d = reinterpret_cast<LzxDecoder*>(1);
    EXPECT_EQ(LzxDecoder::Create(2, &good, &d), kLzxFailure);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(LzxDecoder::Create(kLzxCodec, nullptr, &d), kLzxFailure);
    for (uint32_t w : {0u, 0x4000u, 0x18000u, 0x400000u}) {
        const LzxCodecParams bad{0, w, 0x10000};
        EXPECT_EQ(LzxDecoder::Create(kLzxCodec, &bad, &d), kLzxFailure) << w;
    }
    ASSERT_EQ(LzxDecoder::Create(kLzxCodec, &good, &d), kLzxOk);

    const LzxTestFrames f = LzxTestEncode(LzxTestData(40000, 3), LzxTestOptions{});
    uint8_t out[32768];
    EXPECT_EQ(LzxDecoder::Decompress(d, out, nullptr, f.compressed[0].data(), 100), kLzxFailure);
    uint32_t size = 0;
    EXPECT_EQ(LzxDecoder::Decompress(d, out, &size, f.compressed[0].data(), 100), kLzxFailure);
    size = 32769;
    EXPECT_EQ(LzxDecoder::Decompress(d, out, &size, f.compressed[0].data(), 100), kLzxFailure);
    EXPECT_EQ(size, 0u);
    for (size_t i = 0; i < 2; ++i) {
        size = f.expanded[i];
        EXPECT_EQ(LzxDecoder::Decompress(d, out, &size, f.compressed[i].data(), uint32_t(f.compressed[i].size())),
                  kLzxOk);
    }
    size = 100;  // a frame after the short last frame
    EXPECT_EQ(LzxDecoder::Decompress(d, out, &size, f.compressed[1].data(), 100), kLzxFailure);
    LzxDecoder::Destroy(d);
    LzxDecoder::Destroy(nullptr);
}

// Corrupt input fails with the corrupt-data code, and the context keeps failing.
TEST(LzxDecoder, CorruptInputFailsCleanly) {
    const std::vector<uint8_t> data = LzxTestData(70000, 11);
    const LzxTestFrames good = LzxTestEncode(data, LzxTestOptions{});
    std::vector<uint8_t> out;

    // Cuts of the first frame but tiny tails.
    for (size_t cut : {size_t(0), size_t(1), size_t(17), good.compressed[0].size() / 2, good.compressed[0].size() - 4}) {
        LzxTestFrames f = good;
        f.compressed[0].resize(cut);
        EXPECT_EQ(DecodeFrames(f, out), kLzxCorruptData) << cut;
    }
    LzxTestFrames f = good;  // an over-subscribed pre-tree: all twenty lengths 1
    for (uint32_t i = 0; i < 20; ++i) SetBits(f.compressed[0], 28 + 4 * i, 4, 1);
    EXPECT_EQ(DecodeFrames(f, out), kLzxCorruptData);
    for (uint32_t type : {0u, 4u, 7u}) {
        f = good;
        SetBits(f.compressed[0], 1, 3, type);
        EXPECT_EQ(DecodeFrames(f, out), kLzxCorruptData) << type;
    }
    LzxTestOptions stored;  // an uncompressed block cut inside its bytes
    stored.blocks = {{3, 1u << 20}};
    f = LzxTestEncode(data, stored);
    f.compressed[0].resize(f.compressed[0].size() / 2);
    EXPECT_EQ(DecodeFrames(f, out), kLzxCorruptData);
    // A repeated offset (set by an uncompressed block) of 0, before the stream start (in
    // the first frame or the second) or beyond the 64 KB window.
    const struct {
        uint32_t lead, r0;
        bool checkedByLibmspack;
    } offsets[] = {{0, 5000, true}, {32768, 37768, true}, {0, 0, false}, {98304, 65536 + 5000, false}};
    for (const auto& c : offsets) {
        std::vector<uint8_t> runs = LzxTestData(c.lead, 5);
        if (c.lead) std::fill(runs.end() - 100, runs.end(), 'c');  // last offset 1, so R0 = 1
        runs.push_back('a');
        runs.push_back('b');
        runs.resize(c.lead + 3000, 'a');
        LzxTestOptions o;
        o.blocks = {{3, 2}, {1, 1u << 20}};
        if (c.lead) o.blocks.insert(o.blocks.begin(), {1, c.lead});
        f = LzxTestEncode(runs, o);
        ASSERT_EQ(DecodeFrames(f, out), kLzxOk);
        EXPECT_TRUE(out == runs);
        std::vector<uint8_t>& frame = f.compressed[c.lead / 32768];
        for (int k = 0; k < 4; ++k) frame[4 + k] = static_cast<uint8_t>(c.r0 >> (8 * k));  // after the block header
        EXPECT_EQ(DecodeFrames(f, out), kLzxCorruptData) << c.r0;
        std::vector<uint8_t> theirs;
        if (c.checkedByLibmspack) {
            EXPECT_FALSE(LzxMspackExtract(LzxTestCabinet(f, 16), theirs)) << c.r0;
        }
    }
    // A frame whose tokens expand past its end: a full frame decoded as a 1000-byte one
    // (a literal, then matches of 257: 1 + 3 * 257 < 1000 < 1 + 4 * 257); then sticky.
    const LzxTestFrames longMatches = LzxTestEncode(std::vector<uint8_t>(40000, 'z'), LzxTestOptions{});
    Context c2;
    uint8_t frame[32768];
    for (const LzxTestFrames* input : {&longMatches, &good}) {
        uint32_t size = 1000;
        EXPECT_EQ(LzxDecoder::Decompress(c2.d, frame, &size, input->compressed[0].data(), uint32_t(input->compressed[0].size())),
                  kLzxCorruptData);
        EXPECT_EQ(size, 0u);
    }
}

// A main tree giving only the first k literals 2-bit codes is complete for k = 4 alone;
// incomplete and over-subscribed trees are corrupt. The data is the literals 0..3.
TEST(LzxDecoder, MainTreeLengthsMustFormACompleteCode) {
    const struct {
        uint32_t twoBitLiterals;
        LzxResult result;
    } cases[] = {{0, kLzxCorruptData}, {3, kLzxCorruptData}, {4, kLzxOk}, {5, kLzxCorruptData}};
    for (const auto& c : cases) {
        BitWriter w;
        w.Put(1, 0);   // no E8 translation
        w.Put(3, 1);   // verbatim
        w.Put(24, 4);  // expanded bytes
        // Pre-tree symbols 0..15 of 4 bits (code = value): 15 turns a length 0 into 2.
        auto lengths = [&w](uint32_t count, uint32_t twoBit) {
            for (uint32_t i = 0; i < 20; ++i) w.Put(4, i < 16 ? 4 : 0);
            for (uint32_t i = 0; i < count; ++i) w.Put(4, i < twoBit ? 15 : 0);
        };
        lengths(256, c.twoBitLiterals);
        lengths(32 * 8, 0);  // position slots of the 64 KB window
        lengths(249, 0);     // the length tree stays empty
        for (uint32_t literal = 0; literal < 4; ++literal) w.Put(2, literal);
        const std::vector<uint8_t> frame = w.Finish();
        Context ctx;
        uint8_t out[4] = {};
        uint32_t size = 4;
        EXPECT_EQ(LzxDecoder::Decompress(ctx.d, out, &size, frame.data(), static_cast<uint32_t>(frame.size())), c.result)
            << c.twoBitLiterals;
        if (c.result == kLzxOk) {
            EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0, 1, 2, 3}));
        }
    }
}
