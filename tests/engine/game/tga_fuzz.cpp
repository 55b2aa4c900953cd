// Arbitrary bytes as a TGA file through a mounted folder. A load that succeeds holds
// exactly width x height A8R8G8B8 pixels within the size limit; one that fails holds
// nothing.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/fs/FileSystem.h"
#include "engine/game/TGAImage.h"

namespace {

std::string gFolder;

void Write(const uint8_t* data, size_t size) {
    if (FILE* f = std::fopen((gFolder + "/image.tga").c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

// An 18-byte header and its pixels: (type, bits, width, height, descriptor, id length).
std::vector<uint8_t> Tga(uint8_t type, uint8_t bits, uint16_t w, uint16_t h, uint8_t descriptor, uint8_t idLength) {
    std::vector<uint8_t> t(18, 0);
    t[0] = idLength;
    t[2] = type;
    t[12] = w & 0xFF, t[13] = w >> 8, t[14] = h & 0xFF, t[15] = h >> 8;
    t[16] = bits;
    t[17] = descriptor;
    t.resize(18 + idLength, 'i');
    for (uint32_t i = 0; i < uint32_t(w) * h * bits / 8; ++i) t.push_back(static_cast<uint8_t>(i * 7));
    return t;
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (const std::vector<uint8_t>& t : {Tga(2, 32, 4, 3, 0x28, 0), Tga(2, 24, 5, 2, 0x00, 6), Tga(2, 32, 32, 32, 0x08, 0),
                                          Tga(10, 32, 2, 2, 0, 0), Tga(2, 16, 3, 3, 0, 0)})
        add(t.data(), t.size());
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
    Write(data, size);
    TGAImage image;
    if (image.Load("image", "tga", "textures")) {
        if (image.Format() != TGAImage::kFormatA8R8G8B8 || image.Width() > TGAImage::kMaxSide ||
            image.Height() > TGAImage::kMaxSide || uint64_t(image.Size()) != uint64_t(image.Width()) * image.Height() * 4)
            std::abort();
        uint32_t sum = 0;
        for (uint32_t i = 0; i < image.Size(); ++i) sum += image.Pixels()[i];  // every byte is readable
        (void)sum;
    } else if (image.Size() != 0 || image.Format() != 0) {
        std::abort();
    }
    return 0;
}
