// Arbitrary bytes as a compiled-shader cache file, with and without a definition stamp.
#include <cstdint>
#include <cstring>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/Memory.h"
#include "render/shaders/ResourceShader.h"

namespace {

constexpr uint64_t kStamp = 0x1122334455667788ull;

void Append(std::vector<uint8_t>* out, const void* p, size_t n) {
    out->insert(out->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // magic, version, stamp, source time, 12 code bytes, 25 include text bytes, 2 times
    std::vector<uint8_t> file;
    const uint32_t header[2] = {kShaderCacheMagic, kShaderCacheVersion}, codeSize = 12, textSize = 25, count = 2;
    const uint64_t times[2] = {132000000000000000ull, 132000000000000001ull};
    const uint8_t code[12] = {0, 3, 0xFE, 0xFF, 1, 2, 3, 4, 0xFF, 0xFF, 0, 0};
    Append(&file, header, 8);
    Append(&file, &kStamp, 8);
    Append(&file, times, 8);
    Append(&file, &codeSize, 4);
    Append(&file, code, 12);
    Append(&file, &textSize, 4);
    Append(&file, "|Common.hlsli|Other.hlsli", 25);
    Append(&file, &count, 4);
    Append(&file, times, 16);
    add(file.data(), file.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ResourceShader shader("Fuzz/00000000000000000000000000000000.vs_3_0");
    for (uint64_t current : {kStamp, uint64_t(0)}) {
        void* code = nullptr;
        uint32_t codeSize = 0;
        if (shader.ReadCache(data, size, current, &code, &codeSize)) {
            if (!code || codeSize == 0 || codeSize > size) __builtin_trap();
            if (shader.IncludeTimes().size() * 8 > size || shader.IncludeText().size() > size) __builtin_trap();
            if (std::memcmp(code, data + 28, codeSize) != 0) __builtin_trap();
        } else if (code) {
            __builtin_trap();
        }
        EngineFree(code);
    }
    return 0;
}
