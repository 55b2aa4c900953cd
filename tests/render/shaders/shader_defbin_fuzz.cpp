// Arbitrary bytes as a DefBin; accepted families make variant names and read them back.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../resources/FuzzFolder.h"
#include "ProgramStaticInit.h"
#include "core/fs/FileReader.h"
#include "render/shaders/ShaderDefinitions.h"

namespace {

void Append(std::vector<uint8_t>* out, const void* p, size_t n) {
    out->insert(out->end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    ShaderFamily family;
    family.name = "Seed";
    family.options.Resize(3);
    const char* names[3] = {"ALPHA", "BETA", "GAMMA"};
    for (uint32_t i = 0; i < 3; ++i) {
        family.options[i].name = names[i];
        family.options[i].affectsVertexShader = i != 1;
        family.options[i].affectsPixelShader = i != 0;
        family.options[i].parameterDefinitions.Resize(i);
    }
    family.options[2].enforcedOptionNames = "ALPHA";
    family.parameterDefinitions.Resize(1);
    family.parameterDefinitions[0].SetAccessorText(SHADER_ACCESSOR_REGISTER, "DepthBias");
    const uint32_t size = ShaderFamily::RegisterClass()->SerializeProperties(nullptr, &family, 0);
    std::vector<uint8_t> record(size);
    ShaderFamily::RegisterClass()->SerializeProperties(record.data(), &family, 0);
    std::vector<uint8_t> file;
    const uint32_t magic = kShaderDefBinMagic, count = 2, empty = 0;
    const uint64_t stamp = 0x0123456789ABCDEFull;
    Append(&file, &magic, 4);
    Append(&file, &stamp, 8);
    Append(&file, &count, 4);
    Append(&file, &size, 4);
    Append(&file, record.data(), record.size());
    Append(&file, &empty, 4);
    add(file.data(), file.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = resourcefuzz::MountedFolder("common");
    resourcefuzz::WriteInput(folder + "/Fuzz.DefBin", data, size);
    FileReader reader("Fuzz", "DefBin", "common");
    std::vector<ShaderFamily*> families;
    uint64_t stamp = 0;
    const bool loaded = ReadShaderDefBin(reader, &stamp, &families);
    if (!loaded && !families.empty()) __builtin_trap();
    for (ShaderFamily* f : families) {
        std::string every;
        for (const ShaderOption& o : f->options) every += std::string(o.name.CStr()) + ",";
        const char* vs = nullptr;
        const char* ps = nullptr;
        if (f->GetVariantNames(every.c_str(), &vs, &ps)) {
            // Every name read back from the digits is an option of the family (the
            // options of a fuzzed file need not be sorted: searched one by one).
            std::vector<std::string> names;
            if (f->ListOptions(std::strrchr(vs, '/') + 1, true, false, &names))
                for (const std::string& n : names) {
                    bool known = false;
                    for (const ShaderOption& o : f->options) known = known || n == o.name.CStr();
                    if (!known) __builtin_trap();
                }
        }
        delete f;
    }
    return 0;
}
