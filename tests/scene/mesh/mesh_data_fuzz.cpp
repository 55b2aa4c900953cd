// Arbitrary bytes through the mesh block reader: the first byte picks the data version
// (2 to 50), the rest is the block. The renderer does not run, so the creation jobs run
// inline on this thread. Seeds come from the independent block writer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/BoundedReader.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"

namespace {

constexpr uint32_t kVersions = kMeshDataVersion - kMeshOldestVersion + 1;

void AddWritten(void (*add)(const uint8_t*, size_t), uint32_t version, const std::string& model) {
    const std::string out = "/tmp/mesh_data_fuzz_seed.bin";
    const std::string cmd = "python3 -c \"import sys; sys.path.insert(0, '" PROJECT_SOURCE_ROOT
                            "/tests/support'); import mesh_block as m; open('" + out + "', 'wb').write(m.write(" +
                            model + ", " + std::to_string(version) + "))\"";
    if (std::system(cmd.c_str()) != 0) return;
    std::ifstream in(out, std::ios::binary);
    std::vector<uint8_t> bytes{uint8_t(version - kMeshOldestVersion)};
    bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    add(bytes.data(), bytes.size());
    std::remove(out.c_str());
}

const char kSkinned[] =
    "(lambda b: (b.update({'hier': {'nodes': [{'name': 'root', 'matrix': m.IDENTITY, 'parent': 255, 'bone': 0}, "
    "{'name': 'tip', 'matrix': m.IDENTITY, 'parent': 0, 'bone': 1}], 'bones': [m.IDENTITY, m.IDENTITY], "
    "'tree': [{'name': 'root', 'first': 0, 'count': 2, 'parent': 0xFFFFFFFF, 'child': 0xFFFFFFFF, "
    "'sibling': 0xFFFFFFFF}]}}), b['rd'].update({'storage': 1, 'stride': 16, 'mm_flags': 3, "
    "'mm_size': 24, 'mm_bytes': '00' * 192}), b)[2])(m.box_mesh(presets=[{'name': 'P', 'parts': [{'count': 12, 'pass': 2, "
    "'textures': [{'name': '', 'sampler': 1, 'flags': 1}], 'palette': '00' * 8}]}]))";

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (uint32_t v : {2u, 7u, 10u, 14u, 33u, 45u, 49u, 50u}) AddWritten(add, v, "m.box_mesh()");
    AddWritten(add, 50, kSkinned);
    AddWritten(add, 40, kSkinned);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    BoundedReader in(data + 1, size - 1);
    MeshTemplate t;
    t.ReadBinaryData(in, kMeshOldestVersion + data[0] % kVersions);
    return 0;
}
