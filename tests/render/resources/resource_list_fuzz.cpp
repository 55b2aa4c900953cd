// Arbitrary bytes as a scene's resource list, read and preloaded with no pools.
#include <cstdint>
#include <vector>

#include "FuzzFolder.h"
#include "ProgramStaticInit.h"
#include "core/fs/FileReader.h"
#include "core/rtti/SolidBlob.h"
#include "core/rtti/SolidFile.h"
#include "render/resources/ResourceList.h"
#include "render/resources/ResourceManager.h"

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    ResourceList list;
    const char* names[] = {"Floor.dds", "Light/00000000000000000000000000000000.ps_3_0", "Templates/Tower", "Walk.bin"};
    const ResourceList::Kind kinds[] = {ResourceList::TEXTURES, ResourceList::SHADERS, ResourceList::TEMPLATES,
                                        ResourceList::ANIMATIONS};
    for (uint32_t i = 0; i < 4; ++i) {
        DynarraySafe<ResourceEntry>& entries = list.entries[kinds[i]];
        ResourceEntry& e = entries[entries.Add(ResourceEntry{})];
        e.name = names[i];
        e.parameter = i;
        e.flags = 1u << i;
    }
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(list, blob, 4);
    add(blob.data(), blob.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = resourcefuzz::MountedFolder("scenes");
    resourcefuzz::WriteInput(folder + "/Fuzz.ResList", data, size);
    FileReader reader("Fuzz", "ResList", "scenes");
    ResourceList list;
    if (SolidDeserializeFromFileReader(list, reader, 4)) gResourceManager.PreloadResources(list);
    return 0;
}
