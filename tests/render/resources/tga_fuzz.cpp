// Arbitrary bytes as a TGA file through a mounted folder. A load that succeeds holds
// exactly width x height A8R8G8B8 pixels within the size limit; a failed one nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/fs/FileSystem.h"
#include "render/resources/TGAImage.h"

namespace {
std::string gFolder;
}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // (type, bits, width, height, descriptor, ID length), then the ID and pixels.
    const uint8_t shapes[][6] = {{2, 32, 4, 3, 0x28, 0}, {2, 24, 5, 2, 0, 6}, {2, 32, 32, 32, 8, 0}, {10, 32, 2, 2, 0, 0}};
    for (const auto& s : shapes) {
        std::vector<uint8_t> t = {s[5], 0, s[0], 0, 0, 0, 0, 0, 0, 0, 0, 0, s[2], 0, s[3], 0, s[1], s[4]};
        for (uint32_t i = 0; i < s[5] + uint32_t(s[2]) * s[3] * s[1] / 8; ++i) t.push_back(uint8_t(i * 7));
        add(t.data(), t.size());
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    char pattern[] = "/tmp/tga_fuzz_XXXXXX";
    gFolder = mkdtemp(pattern);
    gFileSystem.MountDirectory("textures", gFolder.c_str());
    std::atexit([] { std::filesystem::remove_all(gFolder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (FILE* f = std::fopen((gFolder + "/image.tga").c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    TGAImage image;
    if (!image.Load("image", "tga", "textures")) {
        if (image.Size() || image.Format()) std::abort();
        return 0;
    }
    if (image.Format() != TGAImage::kFormatA8R8G8B8 || image.Width() > TGAImage::kMaxSide ||
        image.Height() > TGAImage::kMaxSide || uint64_t(image.Size()) != uint64_t(image.Width()) * image.Height() * 4)
        std::abort();
    volatile uint8_t sink = 0;
    for (uint32_t i = 0; i < image.Size(); ++i) sink = sink + image.Pixels()[i];  // every byte is readable
    return 0;
}
