#pragma once
// LightProbeMap: the scene's game light probe map, read from "<scene>.lpd" in "scenes".
//
// File (little-endian): u32 magic 0x4C504400, u16 version 3, u16 layer count 4,
// u16 width, u16 height, four u32 probe counts, 4 bytes not read, a four-float area
// vector (48 bytes in all); then for each layer width x height u32 probe indices and
// count x 18-byte probe records. The records belong to the lighting shaders and are
// kept as bytes.
//
// A wrong magic, version or layer count leaves the map empty with no line beyond the
// loading line; a file shorter than its header and counts say leaves it empty with one
// error line. Every size is checked against the bytes left before anything is
// allocated. An index past its layer's records refuses the map with one error line, so
// readers may index a layer's records directly once they know it has any; the grid of a
// layer without probes names nothing and is not checked.
//
// Threads: render thread (RendererScene ops 7 and 8).
#include <cstdint>
#include <vector>

#include "core/math/Vector.h"

class LightProbeMap {
public:
    static constexpr uint32_t kMagic = 0x4C504400u;
    static constexpr uint16_t kVersion = 3;
    static constexpr uint32_t kLayerCount = 4;
    static constexpr uint32_t kHeaderBytes = 48;
    static constexpr uint32_t kRecordBytes = 18;

    struct Layer {
        std::vector<uint32_t> indices;  // width x height
        std::vector<uint8_t> records;   // count x 18 bytes
        uint32_t count = 0;
    };

    LightProbeMap() { Clear(); }
    // Frees the layers; sizes 0, area vector (0, 0, 1, 1).
    void Clear();
    // The file "<sceneName><suffix>.lpd" in "scenes"; true when the map was loaded.
    bool Load(const char* sceneName, const char* suffix = nullptr);

    uint32_t Width() const { return width; }
    uint32_t Height() const { return height; }
    const Vector& Area() const { return area; }
    const Layer& GetLayer(uint32_t i) const { return layers[i]; }
    bool Empty() const { return width == 0 || height == 0; }

private:
    uint32_t width = 0, height = 0;
    Vector area;
    Layer layers[kLayerCount];
};
