// Bit streams against a one-bit-at-a-time model: every width, every alignment, every
// distance from the end of the data (the whole-word and the byte-by-byte reads and
// peeks), and the failures, which must read nothing and stay failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "core/BitStream.h"

namespace {

enum Write : uint8_t { AS_VALUE, AS_BYTES, AS_WORD };  // WriteValue, WriteBits, WriteWords

struct Item {
    uint64_t value;
    uint32_t bits;
    Write how;
};

uint64_t Low(uint64_t v, uint32_t n) { return n >= 64 ? v : v & ((uint64_t(1) << n) - 1); }

std::vector<Item> RandomItems(uint32_t seed, uint32_t count) {
    std::mt19937_64 rng(seed);
    std::vector<Item> items;
    for (uint32_t i = 0; i < count; ++i) items.push_back({rng(), uint32_t(rng() % 65), Write(rng() % 6 < 4 ? AS_VALUE : rng() % 2 ? AS_BYTES : AS_WORD)});
    return items;
}

// The stream's bytes, one bit at a time.
std::vector<uint8_t> Model(const std::vector<Item>& items, uint32_t& bits) {
    std::vector<uint8_t> out;
    bits = 0;
    for (const Item& it : items)
        for (uint32_t k = 0; k < it.bits; ++k, ++bits) {
            if (bits % 8 == 0) out.push_back(0);
            out.back() |= uint8_t(((it.value >> k) & 1) << (bits % 8));
        }
    return out;
}

TEST(BitStream, ValuesByteRunsAndWordsMatchTheBitModelAtEveryAlignment) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const std::vector<Item> items = RandomItems(seed, 60);
        uint32_t bits = 0;
        const std::vector<uint8_t> want = Model(items, bits);
        std::vector<uint8_t> buffer((bits + 7) / 8 + BitWriter::kSlackBytes, 0);
        BitWriter w(buffer.data(), bits);
        for (const Item& it : items) {
            const uint64_t word = Low(it.value, it.bits);  // a word carries no bits above its count
            ASSERT_TRUE(it.how == AS_BYTES ? w.WriteBits(&it.value, it.bits) : it.how == AS_WORD ? w.WriteWords(&word, it.bits) : w.WriteValue(it.value, it.bits));
        }
        ASSERT_EQ(w.BitCount(), bits);
        ASSERT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + want.size()), want) << "seed " << seed;
        ASSERT_TRUE(std::all_of(buffer.begin() + want.size(), buffer.end(), [](uint8_t b) { return b == 0; })) << "zero past the end";
        EXPECT_FALSE(w.WriteValue(1, 1)) << "full";

        // Read back exactly sized (the last reads take the byte path) and inside a
        // larger buffer (whole words to the end).
        const std::vector<uint8_t> exact = want;
        for (const bool inBuffer : {false, true}) {
            BitReader r = inBuffer ? BitReader(buffer.data(), bits, 0, uint32_t(buffer.size())) : BitReader(exact.data(), bits);
            for (const Item& it : items) {
                // A peek shows what the next reads take, zeros past the end.
                const uint32_t left = r.Remaining();
                const uint64_t peek = r.PeekWord();
                BitReader ahead = r;
                uint64_t next = 0;
                ASSERT_TRUE(ahead.ReadValue(next, left < 64 ? left : 64));
                ASSERT_EQ(peek, next) << "seed " << seed << " at " << r.Position();
                uint64_t got = ~uint64_t(0);
                if (it.how == AS_BYTES) {
                    got = 0;
                    ASSERT_TRUE(r.ReadBits(&got, it.bits));
                } else {
                    ASSERT_TRUE(r.ReadValue(got, it.bits));
                }
                ASSERT_EQ(got, Low(it.value, it.bits)) << "seed " << seed << " at " << r.Position();
            }
            EXPECT_EQ(r.Remaining(), 0u);
            EXPECT_FALSE(r.Failed());
        }
    }
}

TEST(BitStream, LongRunsAtEveryShift) {
    std::mt19937_64 rng(7);
    std::vector<uint8_t> source(300);
    for (uint8_t& b : source) b = uint8_t(rng());
    for (uint32_t shift = 0; shift < 8; ++shift)
        for (const uint32_t n : {1u, 7u, 8u, 63u, 64u, 65u, 127u, 128u, 129u, 2047u, 2400u}) {
            std::vector<Item> items = {{0x5A, shift, AS_VALUE}};
            for (uint32_t k = 0; k < n; ++k) items.push_back({uint64_t(source[k / 8] >> (k % 8)) & 1, 1, AS_VALUE});
            uint32_t bits = 0;
            const std::vector<uint8_t> want = Model(items, bits);
            std::vector<uint8_t> buffer(want.size() + BitWriter::kSlackBytes, 0);
            BitWriter w(buffer.data(), bits);
            ASSERT_TRUE(w.WriteValue(0x5A, shift));
            ASSERT_TRUE(w.WriteBits(source.data(), n));
            ASSERT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.end() - BitWriter::kSlackBytes), want) << shift << " " << n;
            ASSERT_TRUE(std::all_of(buffer.end() - BitWriter::kSlackBytes, buffer.end(), [](uint8_t b) { return b == 0; }));
            // The same run as whole words, the last one clear above the run.
            std::vector<uint64_t> words((n + 63) / 64, 0);
            std::memcpy(words.data(), source.data(), (n + 7) / 8);
            words.back() &= Low(~uint64_t(0), n - 64 * (uint32_t(words.size()) - 1));
            std::vector<uint8_t> viaWords(buffer.size(), 0);
            BitWriter ww(viaWords.data(), bits);
            ASSERT_TRUE(ww.WriteValue(0x5A, shift));
            ASSERT_TRUE(ww.WriteWords(words.data(), n));
            ASSERT_EQ(viaWords, buffer) << "words " << shift << " " << n;

            std::vector<uint8_t> back((n + 7) / 8 + 1, 0xEE);
            BitReader r(want.data(), bits, shift);
            ASSERT_TRUE(r.ReadBits(back.data(), n));
            for (uint32_t k = 0; k < n; ++k) ASSERT_EQ((back[k / 8] >> (k % 8)) & 1, (source[k / 8] >> (k % 8)) & 1) << shift << " " << n;
            if (n % 8) {
                EXPECT_EQ(back[n / 8] >> (n % 8), 0) << "high bits of the last byte";
            }
            EXPECT_EQ(back[(n + 7) / 8], 0xEE) << "one byte too many";
        }
}

TEST(BitStream, FailedReadsReadNothingAndStayFailed) {
    const uint8_t bytes[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    struct Case {
        const char* name;
        uint32_t total, bufferBytes, first, second;  // bufferBytes 0: exactly sized
    };
    const Case cases[] = {
        {"one past a short stream", 5, 0, 6, 0},         {"one past, whole-word region", 90, 0, 91, 0},
        {"width above 64", 200, 0, 65, 1},               {"past the total inside a larger buffer", 20, 32, 21, 0},
        {"a total beyond its buffer is cut", 4000, 12, 97, 0},
    };
    for (const Case& c : cases) {
        BitReader r = c.bufferBytes ? BitReader(bytes, c.total, 0, c.bufferBytes) : BitReader(bytes, c.total);
        uint64_t v = 12345;
        EXPECT_FALSE(r.ReadValue(v, c.first)) << c.name;
        EXPECT_EQ(v, 12345u) << c.name;
        EXPECT_TRUE(r.Failed()) << c.name;
        EXPECT_EQ(r.Position(), 0u) << c.name;
        EXPECT_FALSE(r.ReadValue(v, c.second)) << c.name << ": later reads, even of 0 bits, fail";
        EXPECT_FALSE(r.Skip(0)) << c.name;
        uint8_t d = 0;
        EXPECT_FALSE(r.ReadBits(&d, 1)) << c.name;
        EXPECT_EQ(v, 12345u) << c.name;
    }
    // Reading right up to the end succeeds, one more bit does not.
    BitReader r(bytes, 100);
    uint64_t v = 0;
    EXPECT_TRUE(r.Skip(37));
    EXPECT_TRUE(r.ReadValue(v, 63));
    EXPECT_EQ(v, Low(~uint64_t(0), 59));  // bits 96 on are zero
    EXPECT_FALSE(r.ReadValue(v, 1));
}

}  // namespace
