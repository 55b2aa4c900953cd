// Arbitrary bytes as a compiled-shader cache file, with and without a definition stamp,
// for a vertex and a pixel variant; code the reader accepts goes on to the device's
// shader creation, which must find its end inside the accepted bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/Memory.h"
#include "platform/gfx/GfxDevice.h"
#include "render/shaders/ResourceShader.h"

namespace {

constexpr uint64_t kStamp = 0x1122334455667788ull;

void Append(std::vector<uint8_t>* out, const void* p, size_t n) {
    out->insert(out->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
}

gfx::Device* TheDevice() {
    static gfx::Device* device = [] {
        gfx::DeviceFactory* factory = gfx::CreateDeviceFactory(gfx::SDK_VERSION);
        gfx::PresentParameters p{};
        p.backBufferWidth = 8;
        p.backBufferHeight = 8;
        p.windowed = 1;
        gfx::Device* d = nullptr;
        factory->CreateDevice(0, gfx::DEVTYPE_HAL, nullptr, gfx::CREATE_SOFTWARE_VERTEXPROCESSING, &p, &d);
        factory->Release();
        return d;
    }();
    return device;
}

// Magic, version, stamp, source time, the code, 25 include text bytes, 2 times.
std::vector<uint8_t> CacheFile(const std::vector<uint32_t>& code) {
    std::vector<uint8_t> file;
    const uint32_t header[2] = {kShaderCacheMagic, kShaderCacheVersion}, textSize = 25, count = 2;
    const uint32_t codeSize = uint32_t(code.size() * 4);
    const uint64_t times[2] = {132000000000000000ull, 132000000000000001ull};
    Append(&file, header, 8);
    Append(&file, &kStamp, 8);
    Append(&file, times, 8);
    Append(&file, &codeSize, 4);
    Append(&file, code.data(), codeSize);
    Append(&file, &textSize, 4);
    Append(&file, "|Common.hlsli|Other.hlsli", 25);
    Append(&file, &count, 4);
    Append(&file, times, 16);
    return file;
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // A comment of two words, an instruction of one, the end; and code without its end.
    const uint32_t comment = 0xFFFEu | (2u << 16), instruction = 0x01u | (1u << 24);
    for (uint32_t version : {gfx::kVertexShaderVersion30, gfx::kPixelShaderVersion30}) {
        for (const std::vector<uint32_t>& code :
             {std::vector<uint32_t>{version, comment, 0x42415443u, 0, instruction, 7, gfx::kShaderEndToken},
              std::vector<uint32_t>{version, instruction, 7}}) {
            const std::vector<uint8_t> file = CacheFile(code);
            add(file.data(), file.size());
        }
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ResourceShader vertex("Fuzz/00000000000000000000000000000000.vs_3_0");
    static ResourceShader pixel("Fuzz/00000000000000000000000000000000.ps_3_0");
    for (ResourceShader* shader : {&vertex, &pixel}) {
        for (uint64_t current : {kStamp, uint64_t(0)}) {
            void* code = nullptr;
            uint32_t codeSize = 0;
            if (shader->ReadCache(data, size, current, &code, &codeSize)) {
                if (!code || codeSize == 0 || codeSize > size) __builtin_trap();
                if (shader->IncludeTimes().size() * 8 > size || shader->IncludeText().size() > size) __builtin_trap();
                if (std::memcmp(code, data + 28, codeSize) != 0) __builtin_trap();
                // The device call the render thread makes with accepted code.
                const auto* words = static_cast<const uint32_t*>(code);
                if (shader == &vertex) {
                    gfx::VertexShader* made = nullptr;
                    if (gfx::Failed(TheDevice()->CreateVertexShader(words, codeSize, &made))) __builtin_trap();
                    made->Release();
                } else {
                    gfx::PixelShader* made = nullptr;
                    if (gfx::Failed(TheDevice()->CreatePixelShader(words, codeSize, &made))) __builtin_trap();
                    made->Release();
                }
            } else if (code) {
                __builtin_trap();
            }
            EngineFree(code);
        }
    }
    return 0;
}
