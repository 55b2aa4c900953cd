#include "ui/elements/UIQuadIndexList.h"

namespace {
uint16_t gIndices[kUIQuadIndexCount];
}

static_assert(kUIQuadIndexQuads * 4 - 1 <= 0xFFFF, "every vertex of the list fits a 16-bit index");

void BuildUIQuadIndexList() {
    for (uint32_t q = 0; q < kUIQuadIndexQuads; ++q) {
        const uint16_t v = uint16_t(4 * q);
        uint16_t* i = gIndices + 6 * q;
        i[0] = v, i[1] = uint16_t(v + 1), i[2] = uint16_t(v + 2);
        i[3] = v, i[4] = uint16_t(v + 2), i[5] = uint16_t(v + 3);
    }
}

const uint16_t* UIQuadIndexList() { return gIndices; }
