// Texel formats of the recording device: sizes, channel packing with rounding and
// clamping, and half floats checked against Python's IEEE conversions.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <string>
#include <vector>

#include "platform/gfx/PixelFormat.h"

using namespace gfx;
using namespace gfx::detail;

namespace {

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

TEST(PixelFormatTest, HalfFloatsAgreeWithPython) {
    FILE* p = popen("python3 " PROJECT_SOURCE_ROOT "/tests/platform/gfx/half_reference.py 2>/dev/null", "r");
    ASSERT_NE(p, nullptr);
    char kind[2];
    unsigned a, b;
    int halves = 0, floats = 0;
    while (std::fscanf(p, "%1s %x %x", kind, &a, &b) == 3) {
        if (kind[0] == 'H') {
            ++halves;
            const float f = HalfToFloat(static_cast<uint16_t>(a));
            if ((a & 0x7C00) == 0x7C00 && (a & 0x3FF)) {  // NaN: only the kind and the sign are fixed
                EXPECT_TRUE(std::isnan(f)) << std::hex << a;
                EXPECT_EQ(std::signbit(f), (a & 0x8000) != 0) << std::hex << a;
            } else {
                EXPECT_EQ(Bits(f), b) << std::hex << a;
            }
        } else {
            ++floats;
            float f;
            std::memcpy(&f, &a, 4);
            EXPECT_EQ(FloatToHalf(f), b) << std::hex << a;
        }
    }
    const int status = pclose(p);
    if (halves == 0 && status != 0) GTEST_SKIP() << "python3 not available";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the table's generator ended with status " << status;
    EXPECT_EQ(halves, 0x10000);
    EXPECT_EQ(floats, 6018);
}

std::string Hex(const uint8_t* bytes, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "0123456789abcdef"[bytes[i] >> 4], s += "0123456789abcdef"[bytes[i] & 15];
    return s;
}

TEST(PixelFormatTest, TexelsPackRoundAndClamp) {
    struct Case { Format format; float rgba[4]; const char* bytes; /* little-endian, as stored */ float decoded[4]; };
    const Case cases[] = {  // decoded: what the bytes read back as
        {FMT_A8R8G8B8, {1, 0.5f, 0, 0.25f}, "0080ff40", {1, 128.0f / 255, 0, 64.0f / 255}},
        {FMT_X8R8G8B8, {0, 0, 1, 0}, "ff0000ff", {0, 0, 1, 1}}, {FMT_A8B8G8R8, {1, 0, 0, 1}, "ff0000ff", {1, 0, 0, 1}},
        {FMT_R8G8B8, {0, 1, 0, 0}, "00ff00", {0, 1, 0, 1}}, {FMT_R5G6B5, {1, 0, 1, 0}, "1ff8", {1, 0, 1, 1}},
        {FMT_R5G6B5, {0, 1, 0, 0}, "e007", {0, 1, 0, 1}}, {FMT_A1R5G5B5, {0, 0, 0, 1}, "0080", {0, 0, 0, 1}},
        {FMT_X1R5G5B5, {1, 0, 0, 1}, "007c", {1, 0, 0, 1}},
        {FMT_A4R4G4B4, {0, 1, 0, 0.5f}, "f080", {0, 1, 0, 8.0f / 15}},
        {FMT_X4R4G4B4, {1, 0, 1, 0}, "0f0f", {1, 0, 1, 1}}, {FMT_A2R10G10B10, {1, 0, 0, 1}, "0000f0ff", {1, 0, 0, 1}},
        {FMT_A2B10G10R10, {1, 0, 0, 0}, "ff030000", {1, 0, 0, 0}}, {FMT_G16R16, {1, 0, 0, 0}, "ffff0000", {1, 0, 1, 1}},
        {FMT_A8, {1, 1, 1, 0.5f}, "80", {0, 0, 0, 128.0f / 255}},
        {FMT_L8, {0.2f, 0.9f, 0.9f, 0.9f}, "33", {0.2f, 0.2f, 0.2f, 1}}, {FMT_A8L8, {1, 0, 0, 0}, "ff00", {1, 1, 1, 0}},
        {FMT_L16, {1, 0, 0, 0}, "ffff", {1, 1, 1, 1}},
        // Out of range, negative and NaN values clamp.
        {FMT_A8R8G8B8, {2, -1, NAN, 1e-9f}, "0000ff00", {1, 0, 0, 0}},
        {FMT_A16B16G16R16, {1, 0, 0.5f, 1}, "ffff00000080ffff", {1, 0, 32768.0f / 65535, 1}},
        {FMT_R16F, {-2, 9, 9, 9}, "00c0", {-2, 1, 1, 1}}, {FMT_G16R16F, {0.5f, 65504, 9, 9}, "0038ff7b", {0.5f, 65504, 1, 1}},
        {FMT_A16B16G16R16F, {1, 2, 3, 4}, "003c004000420044", {1, 2, 3, 4}}, {FMT_R32F, {1.5f, 9, 9, 9}, "0000c03f", {1.5f, 1, 1, 1}},
        {FMT_G32R32F, {1, -1, 9, 9}, "0000803f000080bf", {1, -1, 1, 1}},
    };
    for (const Case& c : cases) {
        const std::string expected = c.bytes;
        uint8_t bytes[16] = {};
        EncodeTexel(c.format, c.rgba, bytes);
        EXPECT_EQ(Hex(bytes, expected.size() / 2), expected) << c.format;
        FormatInfo info;
        ASSERT_TRUE(GetFormatInfo(c.format, &info));
        EXPECT_EQ(info.bytesPerTexel * 2, expected.size()) << c.format;
        float back[4];
        DecodeTexel(c.format, bytes, back);
        for (int k = 0; k < 4; ++k) EXPECT_FLOAT_EQ(back[k], c.decoded[k]) << c.format << " channel " << k;
    }
    float rgba[4];
    ColorToFloats(0x80FF0040u, rgba);
    const float colour[4] = {1.0f, 0.0f, 64.0f / 255, 128.0f / 255};
    for (int k = 0; k < 4; ++k) EXPECT_FLOAT_EQ(rgba[k], colour[k]) << k;
    // Depth and block formats are not converted: they decode as black.
    const uint8_t depth[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    DecodeTexel(FMT_D24S8, depth, rgba);
    EXPECT_EQ(rgba[0] + rgba[1] + rgba[2], 0.0f);
}

TEST(PixelFormatTest, SizesOfLevelsAndKinds) {
    struct Case { Format format; uint32_t width, height, pitch, rows; bool depth, blocks; } cases[] = {
        {FMT_A8R8G8B8, 5, 3, 20, 3, false, false},  {FMT_R5G6B5, 1, 1, 2, 1, false, false},
        {FMT_DXT1, 1, 1, 8, 1, false, true},        {FMT_DXT1, 4, 4, 8, 1, false, true},
        {FMT_DXT1, 5, 5, 16, 2, false, true},       {FMT_DXT5, 8, 9, 32, 3, false, true},
        {FMT_D16, 3, 2, 6, 2, true, false},         {FMT_D24S8, 3, 2, 12, 2, true, false},
        {FMT_INTZ, 2, 2, 8, 2, true, false},        {FMT_A32B32G32R32F, 2, 1, 32, 1, false, false},
        {FMT_R16F, 3, 1, 6, 1, false, false},       {FMT_A16B16G16R16, 1, 2, 8, 2, false, false},
        {static_cast<Format>(12345), 4, 4, 0, 0, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RowPitch(c.format, c.width), c.pitch) << c.format;
        EXPECT_EQ(RowCount(c.format, c.height), c.rows) << c.format;
        EXPECT_EQ(LevelBytes(c.format, c.width, c.height), size_t(c.pitch) * c.rows) << c.format;
        EXPECT_EQ(IsDepthFormat(c.format), c.depth) << c.format;
        FormatInfo info{};
        GetFormatInfo(c.format, &info);
        EXPECT_EQ(info.blockCompressed, c.blocks) << c.format;
        // Colour formats that are not blocks convert texel by texel.
        EXPECT_EQ(info.convertible, c.pitch != 0 && !c.depth && !c.blocks) << c.format;
    }
    EXPECT_TRUE(IsTenBitFormat(FMT_A2R10G10B10) && IsTenBitFormat(FMT_A2B10G10R10) && !IsTenBitFormat(FMT_A8R8G8B8));
}

// Runs of texels convert exactly as texel by texel, in every format the conversions know.
TEST(PixelFormatTest, RunsConvertAsSingleTexels) {
    const Format formats[] = {FMT_A8R8G8B8, FMT_X8R8G8B8, FMT_R8G8B8,   FMT_A8B8G8R8,   FMT_X8B8G8R8,
                              FMT_R5G6B5,   FMT_A1R5G5B5, FMT_A4R4G4B4, FMT_A2R10G10B10, FMT_G16R16,
                              FMT_A8,       FMT_L8,       FMT_R16F,     FMT_A16B16G16R16F, FMT_R32F};
    uint32_t seed = 12345;
    for (const Format f : formats) {
        FormatInfo info{};
        ASSERT_TRUE(GetFormatInfo(f, &info)) << f;
        constexpr uint32_t kCount = 37;
        std::vector<uint8_t> bytes(kCount * info.bytesPerTexel);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
        std::vector<float> run(4 * kCount), one(4 * kCount);
        DecodeTexels(f, bytes.data(), kCount, info.bytesPerTexel, run.data());
        for (uint32_t i = 0; i < kCount; ++i) DecodeTexel(f, bytes.data() + i * info.bytesPerTexel, one.data() + 4 * i);
        EXPECT_EQ(std::memcmp(run.data(), one.data(), run.size() * 4), 0) << "decode " << f;
        for (float& v : one) v = v * 1.25f - 0.1f;  // some outside 0..1
        one[0] = NAN, one[1] = INFINITY, one[2] = -INFINITY, one[4] = 1.0f, one[5] = 0.0f, one[6] = 0.998f;
        std::vector<uint8_t> encodedRun(bytes.size()), encodedOne(bytes.size());
        EncodeTexels(f, one.data(), kCount, info.bytesPerTexel, encodedRun.data());
        for (uint32_t i = 0; i < kCount; ++i) EncodeTexel(f, one.data() + 4 * i, encodedOne.data() + i * info.bytesPerTexel);
        EXPECT_EQ(encodedRun, encodedOne) << "encode " << f;
    }
}

}  // namespace
