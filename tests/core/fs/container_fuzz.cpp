// Arbitrary index files and container data through the container reader: the index
// loader, lookups, and container streams over every entry the index claims.
// Input: u16 index length (little-endian), the index bytes, then the ".dat" bytes.
// test-sources: ContainerBuilder.cpp support/LzxTestEncoder.cpp
// test-link: z mspack
#include <cstdint>
#include <string>
#include <vector>

#include "ContainerBuilder.h"
#include "core/fs/ContainerIndex.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FileSystemContainer.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/fs/support/LzxTestEncoder.h"

namespace {
const std::string& Folder() { return testfs::FuzzScratchFolder("container_fuzz_"); }
}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // Tags 0 and 1 with zlib entries; tag 0 with LZX entries (compression kind 2).
    for (uint8_t tag : {0, 1, 2}) {
        const bool lzx = tag == 2;
        std::vector<testfs::Entry> entries = {{"a.bin", testfs::MakeContent(40000, 1), testfs::Coding::Stored},
                                              {"b.bin", testfs::MakeContent(50000, 2), testfs::Coding::Compress2},
                                              {"c.bin", testfs::MakeContent(10, 3), testfs::Coding::Compress2}};
        if (lzx) {
            LzxTestOptions o;
            o.blocks = {{1, 20000}, {3, 2000}, {2, 30000}};
            for (size_t i = 1; i < entries.size(); ++i) {
                entries[i].coding = testfs::Coding::Precoded;
                entries[i].coded = LzxTestFrameStream(LzxTestEncode(entries[i].data, o));
            }
        }
        testfs::ContainerOptions options;
        options.platformTag = lzx ? 0 : tag;
        options.compression = lzx ? 2 : 1;
        const std::string dat = Folder() + "/seed.dat";
        if (!testfs::WriteContainer(dat, entries, options, Folder())) continue;
        const std::vector<uint8_t> idx = testfs::ReadWholeFile(Folder() + "/seed.idx");
        const std::vector<uint8_t> data = testfs::ReadWholeFile(dat);
        std::vector<uint8_t> input = {static_cast<uint8_t>(idx.size()), static_cast<uint8_t>(idx.size() >> 8)};
        input.insert(input.end(), idx.begin(), idx.end());
        input.insert(input.end(), data.begin(), data.end());
        add(input.data(), input.size());
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t indexSize = data[0] | (size_t(data[1]) << 8);
    if (indexSize > size - 2) indexSize = size - 2;
    const std::vector<uint8_t> index(data + 2, data + 2 + indexSize);
    const std::vector<uint8_t> dat(data + 2 + indexSize, data + size);

    ContainerIndex memoryIndex;
    memoryIndex.LoadFromMemory(index.data(), index.size(), "fuzz");
    memoryIndex.Find("/a.bin", nullptr);

    testfs::WriteWholeFile(Folder() + "/f.idx", index);
    testfs::WriteWholeFile(Folder() + "/f.dat", dat);
    static PhysicalFileReader reader;  // inline: never started
    FileSystem fileSystem(&reader);
    if (!fileSystem.MountContainer("f", (Folder() + "/f.dat").c_str(), 0, 0x5BD1E995, 0)) return 0;
    ContainerIndex fileIndex;
    if (!fileIndex.Load((Folder() + "/f.idx").c_str())) return 0;
    fileSystem.FileExists("f/a.bin", nullptr, nullptr);
    std::vector<uint8_t> out(4096);
    const uint32_t count = fileIndex.Count() < 16 ? fileIndex.Count() : 16;
    for (uint32_t i = 0; i < count; ++i) {
        FileSystemContainerInputStream stream(&fileSystem, fileIndex.Entries()[i], fileIndex.Compression(),
                                              (Folder() + "/f.dat").c_str(), 0, 0, "fuzz");
        uint32_t left = stream.GetSize() < (1u << 20) ? stream.GetSize() : (1u << 20);
        bool skip = false;
        while (left) {
            const uint32_t n = left < out.size() ? left : static_cast<uint32_t>(out.size());
            if (!stream.Read(skip ? nullptr : out.data(), n)) break;
            left -= n;
            skip = !skip;
        }
    }
    return 0;
}
