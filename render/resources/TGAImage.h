#pragma once
// An uncompressed true-colour TGA image (24 or 32 bits per pixel) loaded through the
// virtual file system into A8R8G8B8 pixels, bottom row first, whatever the file's row
// order. Used for the hardware cursor.
//
// The loader is bounded: the image-ID field is skipped, colour-mapped, compressed and
// other depths are refused, sizes above kMaxSide on a side are refused, and a file
// shorter than its header says fails the load; each refusal logs one warning.
//
// Threads: any, one user at a time.
#include <cstdint>
#include <vector>

class TGAImage {
public:
    static constexpr uint32_t kFormatA8R8G8B8 = 1;
    static constexpr uint32_t kMaxSide = 16384;

    // Clears first. A missing file returns false without a message.
    bool Load(const char* name, const char* extension, const char* mount);
    void Clear();

    uint32_t Width() const { return width; }
    uint32_t Height() const { return height; }
    uint32_t Format() const { return format; }  // 0 while empty
    // width x height pixels of 4 bytes (blue, green, red, alpha), bottom row first.
    const uint8_t* Pixels() const { return pixels.data(); }
    uint32_t Size() const { return static_cast<uint32_t>(pixels.size()); }

private:
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 0;
    std::vector<uint8_t> pixels;
};
