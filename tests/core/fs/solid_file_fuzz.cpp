// Arbitrary bytes as a Solid blob file, loaded through gFileSystem with and without
// the check value and CRC. The first byte picks the options; the rest is the file.
// test-sources: ContainerBuilder.cpp
// test-link: z
#include <cstdint>
#include <string>
#include <vector>

#include "ContainerBuilder.h"
#include "SolidFileTestClass.h"
#include "core/ByteOrder.h"
#include "core/config/CoreStaticInit.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/SolidBlob.h"
#include "core/rtti/SolidFile.h"

namespace {

// The scratch folder, mounted as "fuzz" on first use.
const std::string& Folder() {
    static const std::string& folder = []() -> const std::string& {
        const std::string& f = testfs::FuzzScratchFolder("solid_file_fuzz_");
        gFileSystem.MountDirectory("fuzz", f.c_str());
        return f;
    }();
    return folder;
}

constexpr uint32_t kOptions[] = {0, kSerializeSolidCheck};

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    solidfiletest::Settings s;
    s.level = 12;
    s.volume = 0.5f;
    s.player = "Fuzz";
    for (uint8_t mode = 0; mode < 2; ++mode) {
        std::vector<uint8_t> input = {mode};
        SolidSerializeToBuffer(s, input, kOptions[mode]);
        SolidSerializeToBuffer(s, input, kOptions[mode]);  // a second blob after the first
        add(input.data(), input.size());
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint32_t options = kOptions[data[0] & 1];
    testfs::WriteWholeFile(Folder() + "/blob.bin", std::vector<uint8_t>(data + 1, data + size));
    solidfiletest::Settings s;
    s.LoadFromFile("blob", "bin", "fuzz", options);
    FileReader reader("blob", "bin", "fuzz");
    solidfiletest::Settings t;
    while (SolidDeserializeFromFileReader(t, reader, options)) {
        // Each blob read consumes at least its size word, so this ends.
    }
    return 0;
}
