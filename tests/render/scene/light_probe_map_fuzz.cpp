// Arbitrary bytes as a light probe map in a mounted "scenes" folder.
#include <cstdint>
#include <cstring>
#include <vector>

#include "../resources/FuzzFolder.h"
#include "ProgramStaticInit.h"
#include "render/scene/LightProbeMap.h"

namespace {
std::vector<uint8_t> ValidFile(uint16_t version, const uint32_t counts[4]) {
    const uint16_t fields[4] = {version, 4, 3, 2};  // version, layers, width, height
    std::vector<uint8_t> file(LightProbeMap::kHeaderBytes, 0);
    std::memcpy(file.data(), &LightProbeMap::kMagic, 4);
    std::memcpy(file.data() + 4, fields, 8);
    std::memcpy(file.data() + 12, counts, 16);
    for (uint32_t l = 0; l < 4; ++l)
        for (uint32_t i = 0; i < 3 * 2 * 4 + counts[l] * LightProbeMap::kRecordBytes; ++i) file.push_back(uint8_t(i * 13));
    return file;
}
}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const uint32_t counts[2][4] = {{1, 2, 0, 3}, {0, 0, 0, 0}};
    for (uint16_t version : {uint16_t(3), uint16_t(2)})
        for (const auto& c : counts) {
            const std::vector<uint8_t> file = ValidFile(version, c);
            add(file.data(), file.size());
        }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = resourcefuzz::MountedFolder("scenes");
    resourcefuzz::WriteInput(folder + "/fuzz.lpd", data, size);
    LightProbeMap map;
    const bool loaded = map.Load("fuzz");
    uint64_t used = LightProbeMap::kHeaderBytes;
    for (uint32_t l = 0; l < LightProbeMap::kLayerCount; ++l) {
        const LightProbeMap::Layer& layer = map.GetLayer(l);
        if (layer.indices.size() != size_t(map.Width()) * map.Height()) __builtin_trap();
        if (layer.records.size() != size_t(layer.count) * LightProbeMap::kRecordBytes) __builtin_trap();
        used += layer.indices.size() * 4 + layer.records.size();
    }
    if (loaded ? used > size : (map.Width() | map.Height()) != 0) __builtin_trap();
    if (loaded && std::memcmp(data, &LightProbeMap::kMagic, 4) != 0) __builtin_trap();
    return 0;
}
