#pragma once
// LightmapMapping: how a mesh maps onto one of its scene's lightmaps, embedded in the
// objects that use a lightmap. Registered as "LightmapMapping" (root) with "UVMulAdd"
// (the multiply and add factors of the lightmap coordinates) and "LightmapID" (which of
// the scene's lightmaps), in that order.
#include <cstdint>

#include "core/math/Vector.h"

class RTTIClass;

struct LightmapMapping {
    Vector uvMulAdd{1, 1, 0, 0};
    uint32_t lightmapId = 0;

    static const RTTIClass* RegisterClass();
};
