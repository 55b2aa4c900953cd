// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>

#include "core/ByteOrder.h"
#include "core/CRC32.h"
#include "core/CrtRand.h"
#include "core/rtti/SimpleGUID.h"

namespace {

// Bit-by-bit reference: MSB first, polynomial 0x04C11DB7, init 0, no final XOR.
uint32_t ReferenceCrc(const uint8_t* p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        v ^= static_cast<uint32_t>(p[i]) << 24;
        for (int b = 0; b < 8; ++b) v = (v & 0x80000000u) ? (v << 1) ^ 0x04C11DB7u : v << 1;
    }
    return v;
}

TEST(CRC32Test, CheckValuesAndReference) {
    const CRC32& crc = CRC32::GetDefault();
    EXPECT_EQ(crc.Compute("123456789", 9), 0x89A1897Fu);
    EXPECT_EQ(crc.Compute("abc", 3), 0x2C17398Cu);
    EXPECT_EQ(crc.Compute("", 0), 0u);
    EXPECT_TRUE(crc.Verify(nullptr, 0, 0) && !crc.Verify(nullptr, 0, 1));
    CrtSrand(7);
    uint8_t buf[300];
    for (int round = 0; round < 50; ++round) {
        const size_t n = static_cast<size_t>(CrtRand()) % sizeof(buf);
        for (size_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(CrtRand());
        EXPECT_EQ(crc.Compute(buf, n), ReferenceCrc(buf, n));
        // Update is a running value: split anywhere.
        const size_t cut = n / 3;
        EXPECT_EQ(crc.Update(crc.Compute(buf, cut), buf + cut, n - cut), ReferenceCrc(buf, n));
    }
    CRC32 other(0x1EDC6F41u);
    EXPECT_NE(other.Compute("abc", 3), 0x2C17398Cu);
    other.SetPolynomial(CRC32::kDefaultPolynomial);
    EXPECT_EQ(other.Compute("abc", 3), 0x2C17398Cu);
}

TEST(SimpleGUIDTest, TextFormStartsAtByte15) {
    SimpleGUID g;
    g.bytes[15] = 0x01;
    char text[64];
    g.ToString(text, sizeof(text));
    EXPECT_STREQ(text, "01000000-0000-0000-0000-000000000000");
    for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(0xA0 + i);
    EXPECT_STREQ(g.ToStringUnsafe(), "AFAEADAC-ABAA-A9A8-A7A6-A5A4A3A2A1A0");
    SimpleGUID back;
    EXPECT_TRUE(back.FromString("afaeadac-abaa-a9a8-a7a6-a5a4a3a2a1a0"));
    EXPECT_EQ(back, g);
    // Fifteen pairs fail and leave the GUID unchanged.
    SimpleGUID keep = g;
    EXPECT_FALSE(keep.FromString("01000000-0000-0000-0000-0000000000"));
    EXPECT_EQ(keep, g);
    g.ToString(text, 9);
    EXPECT_STREQ(text, "AFAEADAC");
}

TEST(SimpleGUIDTest, CompareFromByte15Down) {
    SimpleGUID a, b;
    a.bytes[0] = 1;
    EXPECT_TRUE(SimpleGUID::Compare(a, b) > 0 && SimpleGUID::Compare(b, a) < 0);
    b.bytes[15] = 1;  // byte 15 dominates byte 0
    EXPECT_LT(SimpleGUID::Compare(a, b), 0);
    EXPECT_EQ(SimpleGUID::Compare(a, a), 0);
}

TEST(SimpleGUIDTest, GenerateSetsVersionBits) {
    CrtSrand(1234);
    SimpleGUID previous;
    int differentBytes = 0;
    for (int i = 0; i < 1000; ++i) {
        SimpleGUID g;
        g.Generate();
        EXPECT_TRUE((g.bytes[9] & 0xF0) == 0x40 && (g.bytes[7] & 0xC0) == 0x80) << i;
        for (int k = 0; k < 16; ++k) differentBytes += g.bytes[k] != previous.bytes[k];
        previous = g;
    }
    EXPECT_GT(differentBytes, 1000 * 12);  // every byte is drawn afresh
}

TEST(ByteOrderTest, HexWordsAndSwaps) {
    uint32_t w[3] = {0x1, 0xABCDEF01, 0};
    char text[25];
    WordsToHexString(w, 3, text);
    EXPECT_STREQ(text, "1000000010FEDCBA00000000");
    uint32_t back[3] = {};
    EXPECT_TRUE(HexStringToWords(back, 3, "1000000010FEdcba00000000"));
    EXPECT_TRUE(back[0] == 1u && back[1] == 0xABCDEF01u);
    uint32_t partial[2] = {9, 9};
    EXPECT_FALSE(HexStringToWords(partial, 2, "20000000x"));
    EXPECT_TRUE(partial[0] == 2u && partial[1] == 9u);  // words before the bad character are set

    EXPECT_TRUE(ByteSwap16(uint16_t{0x1234}) == 0x3412 && ByteSwap32(0x11223344u) == 0x44332211u);
    uint8_t color[8] = {1, 2, 3, 4, 0x10, 0x20, 0x30, 0x40};
    ByteSwapHDRColor(reinterpret_cast<HDRColor*>(color));
    const uint8_t expected[8] = {1, 2, 3, 4, 0x40, 0x30, 0x20, 0x10};
    EXPECT_EQ(0, std::memcmp(color, expected, 8));
    uint32_t three[4] = {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10};
    ByteSwapVector3(reinterpret_cast<Vector3*>(three));
    EXPECT_TRUE(three[2] == 0x0C0B0A09u && three[3] == 0x0D0E0F10u);  // three floats only
    uint32_t pair[2] = {0x01020304, 0x05060708};
    ByteSwap32Pair(pair);
    EXPECT_TRUE(pair[0] == 0x04030201u && pair[1] == 0x08070605u);
}

}  // namespace
