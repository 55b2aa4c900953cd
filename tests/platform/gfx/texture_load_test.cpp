// DDS loading against files written by ImageMagick and hand-built headers; surface loads;
// surfaces read out as 0xAARRGGBB words (what the window is given each frame).
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "DeviceFixture.h"
#include "platform/gfx/ImageWriter.h"
#include "platform/gfx/TextureLoad.h"

using namespace gfx;

namespace {

std::vector<uint8_t> Convert(const std::string& args, const std::string& name) {
    const std::string path = std::string(PROJECT_BINARY_ROOT) + "/gfx_texture_load_" + name + ".dds";
    const std::string command = "convert " + args + " " + path;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    return bytes;
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// A one-face texture header with the given pixel format and levels, followed by payload bytes.
std::vector<uint8_t> FlatDds(uint32_t pfFlags, uint32_t fourCC, uint32_t bits, uint32_t r, uint32_t g, uint32_t b,
                             uint32_t a, uint32_t width = 4, uint32_t height = 4, uint32_t levels = 1,
                             size_t payload = 4096) {
    std::vector<uint8_t> d(128 + payload, 0);
    std::memcpy(d.data(), "DDS ", 4);
    const uint32_t fields[][2] = {{4, 124},     {8, 0x1007u | (levels > 1 ? 0x20000u : 0)}, {12, height}, {16, width},
                                  {28, levels}, {76, 32}, {80, pfFlags}, {84, fourCC}, {88, bits}, {92, r}, {96, g},
                                  {100, b},     {104, a}, {108, 0x1000}};
    for (const auto& [at, v] : fields) Put32(d, at, v);
    return d;
}

// A cube map of 4x4 A8R8G8B8 faces with two levels; texel value = face colour.
std::vector<uint8_t> CubeDds(uint32_t faceBits = 0xFC00) {
    std::vector<uint8_t> b = FlatDds(0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 4, 4, 2, 0);
    Put32(b, 108, 0x401008);
    Put32(b, 112, 0x200 | faceBits);
    for (uint32_t face = 0; face < 6; ++face)
        for (uint32_t texel = 0; texel < 16 + 4; ++texel) {
            b.resize(b.size() + 4);
            Put32(b, b.size() - 4, 0xFF000000u | (face * 0x10u) | (texel < 16 ? 0 : 0x100u));
        }
    return b;
}

struct TextureLoad : Fixture {
    std::vector<uint8_t> Level(Texture* t, uint32_t level) {
        Surface* s = nullptr;
        t->GetSurfaceLevel(level, &s);
        std::vector<uint8_t> bytes;
        recorder->ReadSurface(s, &bytes);
        s->Release();
        return bytes;
    }
    Result Load(const std::vector<uint8_t>& file, Format format, Texture** t, ImageInfo* info = nullptr,
                Pool pool = POOL_MANAGED, uint32_t edge = 0, uint32_t mips = 0) {
        return CreateTextureFromFileInMemoryEx(device, file.data(), static_cast<uint32_t>(file.size()), edge, edge, mips,
                                               0, format, pool, FILTER_NONE, FILTER_NONE, 0, info, nullptr, t);
    }
};

TEST_F(TextureLoad, ImageMagickFiles) {
    // 24-bit without alpha, no mipmaps.
    auto red = Convert("-size 8x4 xc:red -define dds:compression=none -define dds:mipmaps=0", "red");
    ImageInfo info;
    ASSERT_EQ(GetImageInfoFromFileInMemory(red.data(), static_cast<uint32_t>(red.size()), &info), OK);
    EXPECT_EQ(std::make_tuple(info.width, info.height, info.format, info.resourceType, info.imageFileFormat),
              std::make_tuple(8u, 4u, FMT_R8G8B8, RTYPE_TEXTURE, IFF_DDS));
    Texture* t = nullptr;
    EXPECT_EQ(Load(red, FMT_UNKNOWN, &t, nullptr, POOL_MANAGED, 8), ERR_NOTIMPL);  // 8x8 of an 8x4 file
    ASSERT_EQ(Load(red, FMT_UNKNOWN, &t, &info, POOL_MANAGED, DEFAULT_NONPOW2, FROM_FILE), OK);
    auto bytes = Level(t, 0);
    ASSERT_EQ(bytes.size(), 8u * 4 * 3);
    EXPECT_EQ(std::make_pair(bytes[0], bytes[2]), std::make_pair(uint8_t(0), uint8_t(0xFF)));  // B, G, R
    t->Release();

    // Converted on load to the requested format.
    ASSERT_EQ(Load(red, FMT_A8R8G8B8, &t), OK);
    uint32_t texel;
    std::memcpy(&texel, Level(t, 0).data(), 4);
    EXPECT_EQ(texel, 0xFFFF0000u);
    t->Release();

    // 32-bit with alpha and a mip chain.
    auto alpha = Convert("-size 8x8 xc:'rgba(0,0,255,0.5)' -define dds:compression=none", "alpha");
    ASSERT_EQ(Load(alpha, FMT_UNKNOWN, &t, &info, POOL_MANAGED, DEFAULT_NONPOW2, DEFAULT_VALUE), OK);
    EXPECT_TRUE(info.format == FMT_A8R8G8B8 && t->GetLevelCount() == 4u);
    std::memcpy(&texel, Level(t, 3).data(), 4);
    EXPECT_EQ(texel & 0xFFFFFFu, 0x0000FFu);
    EXPECT_NEAR(static_cast<int>(texel >> 24), 128, 1);
    t->Release();

    // DXT1 and DXT5 blocks are copied as the file holds them (DXT5 needs an alpha channel).
    for (const char* kind : {"dxt1", "dxt5"}) {
        const std::string image = std::string(kind) == "dxt1" ? "gradient:white-black" : "xc:'rgba(255,0,0,0.5)'";
        auto dxt = Convert("-size 8x8 " + image + " -define dds:compression=" + kind, kind);
        ASSERT_EQ(Load(dxt, FMT_UNKNOWN, &t, &info, POOL_DEFAULT), OK);
        EXPECT_EQ(info.format, std::string(kind) == "dxt1" ? FMT_DXT1 : FMT_DXT5);
        bytes = Level(t, 0);
        const size_t blockBytes = std::string(kind) == "dxt1" ? 8 : 16;
        ASSERT_EQ(bytes.size(), 4 * blockBytes);
        EXPECT_EQ(0, std::memcmp(bytes.data(), dxt.data() + 128, bytes.size()));
        Texture* other = nullptr;  // a format the blocks cannot convert to
        EXPECT_EQ(Load(dxt, FMT_A8R8G8B8, &other), ERR_INVALIDCALL);
        t->Release();
    }
}

TEST_F(TextureLoad, CubeMapsAndCorruptData) {
    auto cube = CubeDds();
    ImageInfo info;
    ASSERT_EQ(GetImageInfoFromFileInMemory(cube.data(), static_cast<uint32_t>(cube.size()), &info), OK);
    EXPECT_TRUE(info.resourceType == RTYPE_CUBETEXTURE && info.mipLevels == 2u);
    Texture* flat = nullptr;
    EXPECT_EQ(Load(cube, FMT_UNKNOWN, &flat), ERR_INVALIDDATA);
    CubeTexture* c = nullptr;
    ASSERT_EQ(CreateCubeTextureFromFileInMemoryEx(device, cube.data(), static_cast<uint32_t>(cube.size()),
                                                  DEFAULT_NONPOW2, FROM_FILE, 0, FMT_UNKNOWN, POOL_MANAGED,
                                                  FILTER_NONE, FILTER_NONE, 0, &info, nullptr, &c),
              OK);
    EXPECT_EQ(c->GetLevelCount(), 2u);
    for (uint32_t face = 0; face < 6; ++face) {
        Surface* s = nullptr;
        ASSERT_EQ(c->GetCubeMapSurface(static_cast<CubeFace>(face), 1, &s), OK);
        EXPECT_EQ(Pixel(s, 0, 0), 0xFF000100u | face * 0x10u) << "face " << face;
        s->Release();
    }
    c->Release();

    // Truncated payload, missing faces, bad magic and absurd sizes fail cleanly.
    auto truncated = cube, bad = cube, huge = cube;
    truncated.pop_back();
    bad[0] = 'X';
    Put32(huge, 12, 0x7FFFFFFF);
    for (const auto& file : {truncated, CubeDds(0x0C00), bad, huge})
        EXPECT_EQ(GetImageInfoFromFileInMemory(file.data(), static_cast<uint32_t>(file.size()), &info), ERR_INVALIDDATA);
    EXPECT_EQ(GetImageInfoFromFileInMemory(nullptr, 0, &info), ERR_INVALIDDATA);
}

TEST(DdsHeader, DocumentedPixelFormatsAndBlockSizes) {
    constexpr uint32_t kAlphaPixels = 0x1, kAlpha = 0x2, kFourCC = 0x4, kRgb = 0x40, kLuminance = 0x20000;
    struct Case { uint32_t flags, fourCC, bits, r, g, b, a; Format expected; };
    const Case cases[] = {
        {kRgb | kAlphaPixels, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, FMT_A8R8G8B8},
        {kRgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, FMT_X8R8G8B8},
        {kRgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, FMT_X8R8G8B8},  // alpha mask without the alpha flag
        {kRgb | kAlphaPixels, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u, FMT_A8B8G8R8},
        {kRgb | kAlphaPixels, 0, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000u, FMT_A2B10G10R10},
        {kRgb | kAlphaPixels, 0, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u, FMT_A2R10G10B10},
        {kRgb, 0, 32, 0xFFFF, 0xFFFF0000u, 0, 0, FMT_G16R16},        {kRgb, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0, FMT_R8G8B8},
        {kRgb, 0, 16, 0xF800, 0x7E0, 0x1F, 0, FMT_R5G6B5},           {kRgb, 0, 16, 0x7C00, 0x3E0, 0x1F, 0, FMT_X1R5G5B5},
        {kRgb | kAlphaPixels, 0, 16, 0x7C00, 0x3E0, 0x1F, 0x8000, FMT_A1R5G5B5},
        {kRgb | kAlphaPixels, 0, 16, 0xF00, 0xF0, 0xF, 0xF000, FMT_A4R4G4B4},
        {kLuminance, 0, 8, 0xFF, 0, 0, 0, FMT_L8},                   {kLuminance, 0, 16, 0xFFFF, 0, 0, 0, FMT_L16},
        {kLuminance | kAlphaPixels, 0, 16, 0xFF, 0, 0, 0xFF00, FMT_A8L8}, {kLuminance, 0, 16, 0xFF, 0, 0, 0, FMT_UNKNOWN},
        {kAlpha, 0, 8, 0, 0, 0, 0xFF, FMT_A8},                       {kFourCC, 113, 0, 0, 0, 0, 0, FMT_A16B16G16R16F},
        {kFourCC, MakeFourCC('D', 'X', 'T', '1'), 0, 0, 0, 0, 0, FMT_DXT1}, {kFourCC, 114, 0, 0, 0, 0, 0, FMT_R32F},
        {kFourCC, MakeFourCC('D', 'X', 'T', '3'), 0, 0, 0, 0, 0, FMT_DXT3},
        {kFourCC, MakeFourCC('D', 'X', 'T', '5'), 0, 0, 0, 0, 0, FMT_DXT5},
        {kFourCC, MakeFourCC('D', 'X', '1', '0'), 0, 0, 0, 0, 0, FMT_UNKNOWN},  // extended header: not read
        {kRgb, 0, 32, 0xFF000000u, 0xFF0000, 0xFF00, 0, FMT_UNKNOWN},
    };
    for (const Case& c : cases) {
        const auto dds = FlatDds(c.flags, c.fourCC, c.bits, c.r, c.g, c.b, c.a);
        ImageInfo info{};
        const Result r = GetImageInfoFromFileInMemory(dds.data(), static_cast<uint32_t>(dds.size()), &info);
        const bool known = c.expected != FMT_UNKNOWN;  // a refused file leaves the information untouched
        EXPECT_EQ(std::make_tuple(r, info.format, info.resourceType == RTYPE_TEXTURE && info.imageFileFormat == IFF_DDS),
                  std::make_tuple(known ? OK : ERR_INVALIDDATA, c.expected, known))
            << std::hex << c.flags << " " << c.fourCC << " " << c.r;
    }

    // A 5x3 DXT1 chain of three levels: 2x1 blocks, then 1x1 and 1x1, 8 bytes each = 32 bytes.
    auto chain = FlatDds(kFourCC, MakeFourCC('D', 'X', 'T', '1'), 0, 0, 0, 0, 0, 5, 3, 3, 32);
    ImageInfo info{};
    EXPECT_TRUE(GetImageInfoFromFileInMemory(chain.data(), static_cast<uint32_t>(chain.size()), &info) == OK && info.mipLevels == 3u);
    // One byte short, more levels than the chain can hold, and a header of the wrong size are refused.
    chain.pop_back();
    auto wrongSize = FlatDds(kRgb, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    Put32(wrongSize, 4, 120);
    for (const auto& file : {chain, FlatDds(kFourCC, MakeFourCC('D', 'X', 'T', '1'), 0, 0, 0, 0, 0, 5, 3, 4, 64), wrongSize})
        EXPECT_EQ(GetImageInfoFromFileInMemory(file.data(), static_cast<uint32_t>(file.size()), &info), ERR_INVALIDDATA);
}

TEST_F(TextureLoad, SurfaceFromMemory) {
    Texture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 2, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &t, nullptr), OK);
    Surface* s = nullptr;
    t->GetSurfaceLevel(0, &s);
    const uint8_t luminance[2 * 3] = {0, 255, 0, 10, 20, 30};  // 2x1 used, pitch 3
    const Rect src = {0, 0, 2, 1};
    ASSERT_EQ(LoadSurfaceFromMemory(s, nullptr, nullptr, luminance, FMT_L8, 3, nullptr, &src, FILTER_POINT, 0), OK);
    EXPECT_EQ(std::make_tuple(Pixel(s, 0, 0), Pixel(s, 1, 0), Pixel(s, 2, 0), Pixel(s, 3, 1)),
              std::make_tuple(0xFF000000u, 0xFF000000u, 0xFFFFFFFFu, 0xFFFFFFFFu));
    // Without filtering, what the source does not cover is transparent black.
    const Rect dst = {0, 0, 4, 2};
    ASSERT_EQ(LoadSurfaceFromMemory(s, nullptr, &dst, luminance, FMT_L8, 3, nullptr, &src, FILTER_NONE, 0), OK);
    EXPECT_EQ(std::make_tuple(Pixel(s, 1, 0), Pixel(s, 2, 0), Pixel(s, 0, 1)), std::make_tuple(0xFFFFFFFFu, 0u, 0u));
    for (const Rect& empty : {Rect{1, 0, 1, 1}, Rect{0, 1, 2, 1}, Rect{-1, 0, 1, 1}, Rect{0, -1, 1, 1}, Rect{}})
        EXPECT_EQ(LoadSurfaceFromMemory(s, nullptr, nullptr, luminance, FMT_L8, 3, nullptr, empty.right ? &empty : nullptr,
                                        FILTER_NONE, 0),
                  ERR_INVALIDCALL);
    for (const Rect& outside : {Rect{0, 0, 5, 2}, Rect{0, 0, 4, 3}, Rect{0, 1, 2, 1}})  // the surface is 4x2
        EXPECT_EQ(LoadSurfaceFromMemory(s, nullptr, &outside, luminance, FMT_L8, 3, nullptr, &src, FILTER_NONE, 0), ERR_INVALIDCALL);
    s->Release();
    t->Release();

    // Compressed blocks are copied as they are, from and to block rows and columns.
    Texture* dxt = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, FMT_DXT1, POOL_MANAGED, &dxt, nullptr), OK);
    dxt->GetSurfaceLevel(0, &s);
    uint8_t blocks[3 * 3 * 8];  // a 12x12 source of 3x3 blocks, pitch 24
    for (size_t i = 0; i < sizeof blocks; ++i) blocks[i] = static_cast<uint8_t>(i);
    const Rect lowerRight = {4, 4, 12, 12}, topRight = {4, 0, 8, 4};
    ASSERT_EQ(LoadSurfaceFromMemory(s, nullptr, nullptr, blocks, FMT_DXT1, 24, nullptr, &lowerRight, FILTER_NONE, 0), OK);
    EXPECT_EQ(Pixel(s, 0, 0) & 0xFF, 32u);  // block (1, 1) of the source
    EXPECT_EQ(Pixel(s, 6, 0) & 0xFF, 64u);  // block (2, 2): row 2 at 48, column 2 at 16
    EXPECT_EQ(LoadSurfaceFromMemory(s, nullptr, &topRight, blocks, FMT_DXT1, 24, nullptr, &lowerRight, FILTER_NONE, 0),
              ERR_NOTIMPL);  // sizes differ
    s->Release();
    dxt->Release();
}

// The 32-bit formats copied as they are (alpha forced for the X8 one), other formats
// decoded, and the formats that have no picture refused.
TEST_F(TextureLoad, SurfacesReadOutAsArgbWords) {
    struct Case { Format format; uint32_t bytesPerPixel, stored /* the first pixel, little-endian */, expected; } cases[] = {
        {FMT_A8R8G8B8, 4, 0x80FF4020u, 0x80FF4020u},
        {FMT_X8R8G8B8, 4, 0x00FF4020u, 0xFFFF4020u},
        {FMT_R5G6B5, 2, 0xF800u, 0xFFFF0000u},
    };
    std::vector<uint32_t> argb;
    uint32_t width = 0, height = 0;
    std::string error;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Surface* surface = nullptr;
        ASSERT_EQ(device->CreateOffscreenPlainSurface(3, 2, c.format, POOL_SYSTEMMEM, &surface, nullptr), OK);
        LockedRect lr{};
        ASSERT_EQ(surface->LockRect(&lr, nullptr, 0), OK);
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x)
                std::memcpy(static_cast<uint8_t*>(lr.bits) + y * lr.pitch + x * c.bytesPerPixel, &c.stored, c.bytesPerPixel);
        ASSERT_EQ(surface->UnlockRect(), OK);
        ASSERT_TRUE(ReadSurfaceArgb(device, surface, &argb, &width, &height, &error)) << error;
        EXPECT_EQ(std::make_tuple(width, height, argb), std::make_tuple(3u, 2u, std::vector<uint32_t>(6, c.expected)));
        surface->Release();
    }
    Surface* depth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&depth), OK);
    error.clear();
    EXPECT_FALSE(ReadSurfaceArgb(device, depth, &argb, &width, &height, &error));
    EXPECT_FALSE(error.empty());
    depth->Release();
}

}  // namespace
