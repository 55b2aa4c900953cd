// Arbitrary bytes through the template file readers: the first byte picks the reader
// (catalogue, optimized file, binary template, ".template" header), the rest is the file.
// Seeds come from the independent property-list writer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/BoundedReader.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"

namespace {

enum : uint8_t { kCatalogue, kOptimized, kBinary, kHeader, kReaders };

void AddWritten(void (*add)(const uint8_t*, size_t), uint8_t reader, const char* command, const std::string& json) {
    const std::string out = "/tmp/template_files_fuzz_seed.bin";
    const std::string cmd = "python3 " PROJECT_SOURCE_ROOT "/tests/support/proplist.py " + std::string(command) + " " +
                            out + " '" + json + "'";
    if (std::system(cmd.c_str()) != 0) return;
    std::ifstream in(out, std::ios::binary);
    std::vector<uint8_t> bytes{reader};
    bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    add(bytes.data(), bytes.size());
    std::remove(out.c_str());
}

const std::string kTemplate =
    "{\"guid\":\"00112233-4455-6677-8899-AABBCCDDEEFF\",\"type\":3,\"props\":{\"lua_class\":\"Tower\",\"passes\":2}}";

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    AddWritten(add, kCatalogue, "templateinfo",
               "{\"stubs\":[{\"file\":\"Crate\",\"guid\":\"00000000-0000-0000-0000-000000000002\",\"type\":1},"
               "{\"file\":\"Barrel\",\"guid\":\"00000000-0000-0000-0000-000000000001\",\"type\":2}],"
               "\"root\":{\"name\":\"templates\",\"folders\":[{\"name\":\"props\",\"guids\":["
               "\"00000000-0000-0000-0000-000000000002\"],\"folders\":[{\"name\":\"wood\",\"guids\":["
               "\"00000000-0000-0000-0000-000000000001\"]}]}]}}");
    AddWritten(add, kOptimized, "opt", "{\"templates\":[" + kTemplate + "," + kTemplate + "]}");
    AddWritten(add, kBinary, "binarytemplate", kTemplate);
    const std::string header =
        std::string(1, char(kHeader)) + "<TemplateStub GUID=\"00000000-0000-0000-0000-000000000001\" Type=\"4\"/>\n";
    add(reinterpret_cast<const uint8_t*>(header.data()), header.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    BoundedReader in(data + 1, size - 1);
    switch (data[0] % kReaders) {
        case kCatalogue: {
            EntityTemplateRegistry registry;
            ReadTemplateInfo(in, registry);
            break;
        }
        case kOptimized: {
            uint32_t count = 0;
            if (!ReadOptimizedHeader(in, "fuzz", &count)) break;
            for (uint32_t i = 0; i < count; ++i) {
                EntityTemplate t;
                if (!ReadBinaryTemplate(in, &t)) break;
            }
            break;
        }
        case kBinary: {
            EntityTemplate t;
            ReadBinaryTemplate(in, &t);
            break;
        }
        case kHeader: {
            EntityTemplateStub stub;
            ParseTemplateStubHeader(reinterpret_cast<const char*>(data + 1), size - 1, &stub);
            break;
        }
    }
    return 0;
}
