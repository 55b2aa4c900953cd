// DDS texture helpers against files written by ImageMagick and hand-built cube maps;
// surface loading with format conversion and scaling.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/gfx/GfxRecorder.h"
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

// A cube map of 4x4 A8R8G8B8 faces with two levels; texel value = face colour.
std::vector<uint8_t> CubeDds(uint32_t faceBits = 0xFC00) {
    std::vector<uint8_t> b(128, 0);
    std::memcpy(b.data(), "DDS ", 4);
    Put32(b, 4, 124);
    Put32(b, 8, 0x1007 | 0x20000);
    Put32(b, 12, 4);
    Put32(b, 16, 4);
    Put32(b, 28, 2);
    Put32(b, 76, 32);
    Put32(b, 80, 0x41);  // RGB with alpha
    Put32(b, 88, 32);
    Put32(b, 92, 0xFF0000);
    Put32(b, 96, 0xFF00);
    Put32(b, 100, 0xFF);
    Put32(b, 104, 0xFF000000u);
    Put32(b, 108, 0x401008);
    Put32(b, 112, 0x200 | faceBits);
    for (uint32_t face = 0; face < 6; ++face)
        for (uint32_t texel = 0; texel < 16 + 4; ++texel) {
            const uint32_t v = 0xFF000000u | (face * 0x10u) | (texel < 16 ? 0 : 0x100u);
            const size_t at = b.size();
            b.resize(at + 4);
            Put32(b, at, v);
        }
    return b;
}

struct TextureLoad : ::testing::Test {
    void SetUp() override {
        factory = CreateDeviceFactory(SDK_VERSION);
        PresentParameters p{};
        p.backBufferWidth = 16;
        p.backBufferHeight = 16;
        p.windowed = 1;
        ASSERT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_SOFTWARE_VERTEXPROCESSING, &p, &device), OK);
    }
    void TearDown() override {
        EXPECT_EQ(device->Release(), 0u);
        factory->Release();
    }
    std::vector<uint8_t> Level(Texture* t, uint32_t level) {
        Surface* s = nullptr;
        t->GetSurfaceLevel(level, &s);
        std::vector<uint8_t> bytes;
        GetRecorder(device)->ReadSurface(s, &bytes);
        s->Release();
        return bytes;
    }
    DeviceFactory* factory = nullptr;
    Device* device = nullptr;
};

TEST_F(TextureLoad, ImageMagickFiles) {
    // 24-bit without alpha, no mipmaps.
    auto red = Convert("-size 8x4 xc:red -define dds:compression=none -define dds:mipmaps=0", "red");
    ImageInfo info;
    ASSERT_EQ(GetImageInfoFromFileInMemory(red.data(), static_cast<uint32_t>(red.size()), &info), OK);
    EXPECT_EQ(info.width, 8u);
    EXPECT_EQ(info.height, 4u);
    EXPECT_EQ(info.format, FMT_R8G8B8);
    EXPECT_EQ(info.resourceType, RTYPE_TEXTURE);
    EXPECT_EQ(info.imageFileFormat, IFF_DDS);
    Texture* t = nullptr;
    ASSERT_EQ(CreateTextureFromFileInMemoryEx(device, red.data(), static_cast<uint32_t>(red.size()), DEFAULT_NONPOW2,
                                              DEFAULT_NONPOW2, FROM_FILE, 0, FMT_UNKNOWN, POOL_MANAGED, FILTER_NONE,
                                              FILTER_NONE, 0, &info, nullptr, &t),
              OK);
    auto bytes = Level(t, 0);
    ASSERT_EQ(bytes.size(), 8u * 4 * 3);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[2], 0xFF);  // B, G, R
    t->Release();

    // Converted on load to the requested format.
    ASSERT_EQ(CreateTextureFromFileInMemoryEx(device, red.data(), static_cast<uint32_t>(red.size()), 0, 0, 0, 0,
                                              FMT_A8R8G8B8, POOL_MANAGED, FILTER_NONE, FILTER_NONE, 0, nullptr, nullptr,
                                              &t),
              OK);
    bytes = Level(t, 0);
    uint32_t texel;
    std::memcpy(&texel, bytes.data(), 4);
    EXPECT_EQ(texel, 0xFFFF0000u);
    t->Release();

    // 32-bit with alpha and a mip chain.
    auto alpha = Convert("-size 8x8 xc:'rgba(0,0,255,0.5)' -define dds:compression=none", "alpha");
    ASSERT_EQ(CreateTextureFromFileInMemoryEx(device, alpha.data(), static_cast<uint32_t>(alpha.size()),
                                              DEFAULT_NONPOW2, DEFAULT_NONPOW2, DEFAULT_VALUE, 0, FMT_UNKNOWN,
                                              POOL_MANAGED, FILTER_NONE, FILTER_NONE, 0, &info, nullptr, &t),
              OK);
    EXPECT_EQ(info.format, FMT_A8R8G8B8);
    EXPECT_EQ(t->GetLevelCount(), 4u);
    bytes = Level(t, 3);
    std::memcpy(&texel, bytes.data(), 4);
    EXPECT_EQ(texel & 0xFFFFFFu, 0x0000FFu);
    EXPECT_NEAR(static_cast<int>(texel >> 24), 128, 1);
    t->Release();

    // DXT1 and DXT5 blocks are copied as the file holds them (DXT5 needs an alpha channel).
    for (const char* kind : {"dxt1", "dxt5"}) {
        const std::string image = std::string(kind) == "dxt1" ? "gradient:white-black" : "xc:'rgba(255,0,0,0.5)'";
        auto dxt = Convert("-size 8x8 " + image + " -define dds:compression=" + kind, kind);
        ASSERT_EQ(CreateTextureFromFileInMemoryEx(device, dxt.data(), static_cast<uint32_t>(dxt.size()), 0, 0, 0, 0,
                                                  FMT_UNKNOWN, POOL_DEFAULT, FILTER_NONE, FILTER_NONE, 0, &info,
                                                  nullptr, &t),
                  OK);
        EXPECT_EQ(info.format, std::string(kind) == "dxt1" ? FMT_DXT1 : FMT_DXT5);
        bytes = Level(t, 0);
        const size_t blockBytes = std::string(kind) == "dxt1" ? 8 : 16;
        ASSERT_EQ(bytes.size(), 4 * blockBytes);
        EXPECT_EQ(0, std::memcmp(bytes.data(), dxt.data() + 128, bytes.size()));
        // A format the blocks cannot convert to is refused.
        Texture* other = nullptr;
        EXPECT_EQ(CreateTextureFromFileInMemoryEx(device, dxt.data(), static_cast<uint32_t>(dxt.size()), 0, 0, 0, 0,
                                                  FMT_A8R8G8B8, POOL_MANAGED, FILTER_NONE, FILTER_NONE, 0, nullptr,
                                                  nullptr, &other),
                  ERR_INVALIDCALL);
        t->Release();
    }
}

TEST_F(TextureLoad, CubeMapsAndCorruptData) {
    auto cube = CubeDds();
    ImageInfo info;
    ASSERT_EQ(GetImageInfoFromFileInMemory(cube.data(), static_cast<uint32_t>(cube.size()), &info), OK);
    EXPECT_EQ(info.resourceType, RTYPE_CUBETEXTURE);
    EXPECT_EQ(info.mipLevels, 2u);
    Texture* flat = nullptr;
    EXPECT_EQ(CreateTextureFromFileInMemoryEx(device, cube.data(), static_cast<uint32_t>(cube.size()), 0, 0, 0, 0,
                                              FMT_UNKNOWN, POOL_MANAGED, FILTER_NONE, FILTER_NONE, 0, nullptr, nullptr,
                                              &flat),
              ERR_INVALIDDATA);
    CubeTexture* c = nullptr;
    ASSERT_EQ(CreateCubeTextureFromFileInMemoryEx(device, cube.data(), static_cast<uint32_t>(cube.size()),
                                                  DEFAULT_NONPOW2, FROM_FILE, 0, FMT_UNKNOWN, POOL_MANAGED,
                                                  FILTER_NONE, FILTER_NONE, 0, &info, nullptr, &c),
              OK);
    EXPECT_EQ(c->GetLevelCount(), 2u);
    for (uint32_t face = 0; face < 6; ++face) {
        Surface* s = nullptr;
        ASSERT_EQ(c->GetCubeMapSurface(static_cast<CubeFace>(face), 1, &s), OK);
        std::vector<uint8_t> bytes;
        GetRecorder(device)->ReadSurface(s, &bytes);
        uint32_t texel;
        std::memcpy(&texel, bytes.data(), 4);
        EXPECT_EQ(texel, 0xFF000100u | face * 0x10u) << "face " << face;
        s->Release();
    }
    c->Release();

    // Truncated payload, missing faces, bad magic and absurd sizes fail cleanly.
    EXPECT_EQ(GetImageInfoFromFileInMemory(cube.data(), static_cast<uint32_t>(cube.size() - 1), &info), ERR_INVALIDDATA);
    auto partial = CubeDds(0x0C00);
    EXPECT_EQ(GetImageInfoFromFileInMemory(partial.data(), static_cast<uint32_t>(partial.size()), &info),
              ERR_INVALIDDATA);
    auto bad = cube;
    bad[0] = 'X';
    EXPECT_EQ(GetImageInfoFromFileInMemory(bad.data(), static_cast<uint32_t>(bad.size()), &info), ERR_INVALIDDATA);
    auto huge = cube;
    Put32(huge, 12, 0x7FFFFFFF);
    EXPECT_EQ(GetImageInfoFromFileInMemory(huge.data(), static_cast<uint32_t>(huge.size()), &info), ERR_INVALIDDATA);
    EXPECT_EQ(GetImageInfoFromFileInMemory(nullptr, 0, &info), ERR_INVALIDDATA);
}

TEST_F(TextureLoad, SurfaceFromMemory) {
    Texture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 2, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &t, nullptr), OK);
    Surface* s = nullptr;
    t->GetSurfaceLevel(0, &s);
    const uint8_t luminance[2 * 3] = {0, 255, 0, 10, 20, 30};  // 2x1 used, pitch 3
    const Rect src = {0, 0, 2, 1};
    ASSERT_EQ(LoadSurfaceFromMemory(s, nullptr, nullptr, luminance, FMT_L8, 3, nullptr, &src, FILTER_POINT, 0), OK);
    std::vector<uint8_t> bytes;
    GetRecorder(device)->ReadSurface(s, &bytes);
    uint32_t texels[8];
    std::memcpy(texels, bytes.data(), 32);
    EXPECT_EQ(texels[0], 0xFF000000u);
    EXPECT_EQ(texels[1], 0xFF000000u);
    EXPECT_EQ(texels[2], 0xFFFFFFFFu);
    EXPECT_EQ(texels[7], 0xFFFFFFFFu);
    // Without filtering, what the source does not cover is transparent black.
    const Rect dst = {0, 0, 4, 2};
    ASSERT_EQ(LoadSurfaceFromMemory(s, nullptr, &dst, luminance, FMT_L8, 3, nullptr, &src, FILTER_NONE, 0), OK);
    GetRecorder(device)->ReadSurface(s, &bytes);
    std::memcpy(texels, bytes.data(), 32);
    EXPECT_EQ(texels[1], 0xFFFFFFFFu);
    EXPECT_EQ(texels[2], 0u);
    EXPECT_EQ(texels[4], 0u);
    EXPECT_EQ(LoadSurfaceFromMemory(s, nullptr, nullptr, luminance, FMT_L8, 3, nullptr, nullptr, FILTER_NONE, 0),
              ERR_INVALIDCALL);
    s->Release();
    t->Release();
}

}  // namespace
