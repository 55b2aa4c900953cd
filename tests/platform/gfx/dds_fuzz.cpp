// Fuzz target: DDS information and texture creation from arbitrary bytes.
#include <cstring>
#include <vector>

#include "platform/gfx/TextureLoad.h"

using namespace gfx;

namespace {

Device* TheDevice() {
    static Device* device = [] {
        DeviceFactory* factory = CreateDeviceFactory(SDK_VERSION);
        PresentParameters p{};
        p.backBufferWidth = 8;
        p.backBufferHeight = 8;
        p.windowed = 1;
        Device* d = nullptr;
        factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_SOFTWARE_VERTEXPROCESSING, &p, &d);
        factory->Release();
        return d;
    }();
    return device;
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

std::vector<uint8_t> Header(uint32_t w, uint32_t h, uint32_t levels, uint32_t fourCC, uint32_t caps2) {
    std::vector<uint8_t> b(128, 0);
    std::memcpy(b.data(), "DDS ", 4);
    Put32(b, 4, 124);
    Put32(b, 8, 0x21007);
    Put32(b, 12, h);
    Put32(b, 16, w);
    Put32(b, 28, levels);
    Put32(b, 76, 32);
    if (fourCC) {
        Put32(b, 80, 4);
        Put32(b, 84, fourCC);
    } else {
        Put32(b, 80, 0x41);
        Put32(b, 88, 32);
        Put32(b, 92, 0xFF0000);
        Put32(b, 96, 0xFF00);
        Put32(b, 100, 0xFF);
        Put32(b, 104, 0xFF000000u);
    }
    Put32(b, 112, caps2);
    return b;
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    auto plain = Header(4, 4, 3, 0, 0);
    plain.resize(128 + (16 + 4 + 1) * 4, 0x5A);
    add(plain.data(), plain.size());
    auto dxt = Header(8, 8, 1, MakeFourCC('D', 'X', 'T', '5'), 0);
    dxt.resize(128 + 64, 0x33);
    add(dxt.data(), dxt.size());
    auto cube = Header(2, 2, 1, 0, 0xFE00);
    cube.resize(128 + 6 * 16, 0x11);
    add(cube.data(), cube.size());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ImageInfo info;
    const auto n = static_cast<uint32_t>(size);
    if (Failed(GetImageInfoFromFileInMemory(data, n, &info))) return 0;
    Texture* t = nullptr;
    if (Succeeded(CreateTextureFromFileInMemoryEx(TheDevice(), data, n, 0, 0, 0, 0, FMT_UNKNOWN, POOL_MANAGED,
                                                  FILTER_NONE, FILTER_NONE, 0, nullptr, nullptr, &t)))
        t->Release();
    CubeTexture* c = nullptr;
    if (Succeeded(CreateCubeTextureFromFileInMemoryEx(TheDevice(), data, n, 0, 0, 0, FMT_A8R8G8B8, POOL_MANAGED,
                                                      FILTER_NONE, FILTER_NONE, 0, nullptr, nullptr, &c)))
        c->Release();
    return 0;
}
