// A surface's pixels as 0xAARRGGBB words (what the window is given each frame): the
// 32-bit formats copied as they are (alpha forced for the X8 one), other formats
// decoded, and the formats that have no picture refused.
#include <vector>

#include "DeviceFixture.h"
#include "platform/gfx/ImageWriter.h"

namespace gfx {
namespace {

using SurfaceArgb = Fixture;

TEST_F(SurfaceArgb, FormatsComeOutAsArgbWords) {
    struct Case {
        Format format;
        uint32_t bytesPerPixel;
        uint32_t stored;    // the first pixel's bytes, little-endian
        uint32_t expected;  // 0xAARRGGBB
    } cases[] = {
        {FMT_A8R8G8B8, 4, 0x80FF4020u, 0x80FF4020u},
        {FMT_X8R8G8B8, 4, 0x00FF4020u, 0xFFFF4020u},
        {FMT_R5G6B5, 2, 0xF800u, 0xFFFF0000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Surface* surface = nullptr;
        ASSERT_EQ(device->CreateOffscreenPlainSurface(3, 2, c.format, POOL_SYSTEMMEM, &surface, nullptr), OK);
        LockedRect lr{};
        ASSERT_EQ(surface->LockRect(&lr, nullptr, 0), OK);
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x)
                std::memcpy(static_cast<uint8_t*>(lr.bits) + y * lr.pitch + x * c.bytesPerPixel, &c.stored,
                            c.bytesPerPixel);
        ASSERT_EQ(surface->UnlockRect(), OK);
        std::vector<uint32_t> argb;
        uint32_t width = 0, height = 0;
        std::string error;
        ASSERT_TRUE(ReadSurfaceArgb(device, surface, &argb, &width, &height, &error)) << error;
        EXPECT_EQ(width, 3u);
        EXPECT_EQ(height, 2u);
        EXPECT_EQ(argb, std::vector<uint32_t>(6, c.expected));
        surface->Release();
    }
    Surface* depth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&depth), OK);
    std::vector<uint32_t> argb;
    uint32_t width = 0, height = 0;
    std::string error;
    EXPECT_FALSE(ReadSurfaceArgb(device, depth, &argb, &width, &height, &error));
    EXPECT_FALSE(error.empty());
    depth->Release();
}

}  // namespace
}  // namespace gfx
