// Arbitrary bytes as an animation file loaded by an animation resource.
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzFolder.h"
#include "ProgramStaticInit.h"
#include "render/resources/ResourceAnimation.h"

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (uint32_t version : {kAnimationFileVersion, 2u}) {
        std::vector<uint8_t> file(8 + 8 + 4, 0);
        std::memcpy(file.data(), &kAnimationFileMagic, 4);
        std::memcpy(file.data() + 4, &version, 4);
        for (int i = 8; i < 16; ++i) file[i] = uint8_t(i);
        add(file.data(), file.size());
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = resourcefuzz::MountedFolder("animations");
    resourcefuzz::WriteInput(folder + "/fuzz.bin", data, size);
    ResourceAnimation animation("fuzz");
    const bool loaded = animation.LoadResource();
    uint32_t magic = 0, version = 0;
    if (size >= 8) {
        std::memcpy(&magic, data, 4);
        std::memcpy(&version, data + 4, 4);
    }
    const bool valid = size >= 16 && magic == kAnimationFileMagic && version == kAnimationFileVersion;
    if (loaded != valid) __builtin_trap();
    if (loaded && std::memcmp(animation.HeaderValue(), data + 8, 8) != 0) __builtin_trap();
    return 0;
}
