// Arbitrary bytes as a Solid blob file, loaded through gFileSystem with and without
// the check value and CRC. The first byte picks the options; the rest is the file.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "SolidFileTestClass.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/SolidFile.h"
#include "core/rtti/ByteOrder.h"
#include "core/rtti/SolidBlob.h"

namespace {

const std::string& Folder() {
    // Never destroyed: the clean-up at exit still needs it.
    static const std::string* folder = [] {
        auto p = std::filesystem::temp_directory_path() / ("solid_file_fuzz_" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(p);
        gFileSystem.MountDirectory("fuzz", p.string().c_str());
        return new std::string(p.string());
    }();
    return *folder;
}

struct Cleanup {
    ~Cleanup() {
        std::error_code ec;
        std::filesystem::remove_all(Folder(), ec);
    }
} gCleanup;

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint32_t options = kOptions[data[0] & 1];
    {
        std::ofstream out(Folder() + "/blob.bin", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    solidfiletest::Settings s;
    LoadFromFile(s, "blob", "bin", "fuzz", options);
    FileReader reader("blob", "bin", "fuzz");
    solidfiletest::Settings t;
    while (SolidDeserializeFromFileReader(t, reader, options)) {
        // Each blob read consumes at least its size word, so this ends.
    }
    return 0;
}
