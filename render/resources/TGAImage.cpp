#include "render/resources/TGAImage.h"

#include <algorithm>

#include "core/Log.h"
#include "core/fs/FileReader.h"

namespace {

constexpr uint32_t kHeaderSize = 18;
constexpr uint8_t kTypeTrueColour = 2;
constexpr uint8_t kTopRowFirst = 0x20;  // descriptor bit: the file stores the top row first

}  // namespace

void TGAImage::Clear() {
    width = height = format = 0;
    pixels.clear();
    pixels.shrink_to_fit();
}

bool TGAImage::Load(const char* name, const char* extension, const char* mount) {
    Clear();
    FileReader reader;
    if (!reader.Open(name, extension, mount)) return false;
    auto refuse = [&] {
        gLog.Warning(LogCategory::Engine, "Unsupported TGA format (%s,%s)", name ? name : "", mount ? mount : "");
        Clear();
        return false;
    };

    uint8_t header[kHeaderSize];
    if (!reader.Read(header, kHeaderSize)) return refuse();
    const uint8_t idLength = header[0];
    const uint8_t colourMapType = header[1];
    const uint8_t bits = header[16];
    const uint32_t w = header[12] | uint32_t(header[13]) << 8;
    const uint32_t h = header[14] | uint32_t(header[15]) << 8;
    if (colourMapType != 0 || header[2] != kTypeTrueColour || (bits != 24 && bits != 32)) return refuse();
    if (w > kMaxSide || h > kMaxSide) return refuse();
    const uint32_t bytesPerPixel = bits / 8;
    const uint64_t rowBytes = uint64_t(w) * bytesPerPixel;
    // A file shorter than its header claims is refused before anything is allocated.
    if (uint64_t(reader.GetSize()) < kHeaderSize + idLength + rowBytes * h) return refuse();
    if (!reader.Read(nullptr, idLength)) return refuse();

    pixels.resize(uint64_t(w) * h * 4);
    std::vector<uint8_t> row(rowBytes);
    const bool topRowFirst = (header[17] & kTopRowFirst) != 0;
    for (uint32_t r = 0; r < h; ++r) {
        if (rowBytes && !reader.Read(row.data(), static_cast<uint32_t>(rowBytes))) return refuse();
        uint8_t* out = pixels.data() + uint64_t(topRowFirst ? h - 1 - r : r) * w * 4;
        if (bytesPerPixel == 4) {
            std::copy(row.begin(), row.end(), out);
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            out[x * 4 + 0] = row[x * 3 + 0];
            out[x * 4 + 1] = row[x * 3 + 1];
            out[x * 4 + 2] = row[x * 3 + 2];
            out[x * 4 + 3] = 255;
        }
    }
    width = w;
    height = h;
    format = kFormatA8R8G8B8;
    return true;
}
