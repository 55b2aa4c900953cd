// Arbitrary maps, positions, directions, widths and lengths for the walk-map corridor.
// Byte 0 and 1 are the map's sides (1 to 64 tiles), byte 2 the wide flag, then eleven
// floats (tile size, origin x and z, position, direction, width, length), then the tile
// bytes, repeated to fill the map. A call must finish within a fixed budget: on a map of
// at most 64 x 64 tiles it tests at most 64 rows of 64 tiles, microseconds of work, so a
// walk that keeps testing the same tiles shows up as a call that overruns.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/entity/SceneGrid.h"
#include "engine/navigation/WalkGridSupport.h"
#include "game/navigation/ZKRWalkMapUtils.h"

namespace {

constexpr size_t kHeader = 3 + 11 * sizeof(float);
constexpr auto kBudget = std::chrono::milliseconds(250);

std::vector<uint8_t> Seed(uint8_t w, uint8_t h, bool wide, const float (&floats)[11], uint8_t tile) {
    std::vector<uint8_t> bytes{w, h, uint8_t(wide)};
    bytes.resize(kHeader);
    std::memcpy(bytes.data() + 3, floats, sizeof floats);
    bytes.push_back(tile);
    return bytes;
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const float huge = 1e30f, inf = INFINITY;
    const float seeds[][11] = {
        {1, 0, 0, 2, 0, 5, 1, 0, 0, 4, 5},
        {1, 0, 0, 5, 0, 5, 0.4f, 0.8f, 0.4f, 4, huge},
        {0.5f, -3, 2, 1, 0, 1, 0.7f, 0, 0.7f, 3, 1e6f},
        {1, 0, 0, 5, 0, 5, 1, 0, 0, huge, 10},
        {1, 0, 0, 5, 0, 5, 0, 0, -1, 4, inf},
        {1e-30f, 0, 0, 5, 0, 5, 1, 0, 0, 4, 5},
    };
    for (const auto& s : seeds) {
        for (uint8_t tile : {uint8_t(1), uint8_t(0)}) {
            const std::vector<uint8_t> bytes = Seed(64, 64, tile == 0, s, tile);
            add(bytes.data(), bytes.size());
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) return 0;
    const uint32_t w = data[0] % 64 + 1, h = data[1] % 64 + 1;
    const bool wide = data[2] & 1;
    float f[11];
    std::memcpy(f, data + 3, sizeof f);
    std::vector<uint8_t> cells(w * h, 1);
    if (size > kHeader) {
        for (size_t i = 0; i < cells.size(); ++i) cells[i] = data[kHeader + i % (size - kHeader)];
    }
    const std::unique_ptr<SceneGrid> grid(MakeWalkGrid(w, h, f[0], Vector(f[1], 0, f[2], 1), cells));
    const auto start = std::chrono::steady_clock::now();
    const float length = ZKRWalkMapUtils::GetExtrudeLength(*grid, Vector(f[3], f[4], f[5], 1),
                                                           Vector(f[6], f[7], f[8], 0), f[9], f[10], wide);
    if (std::chrono::steady_clock::now() - start > kBudget) {
        std::fprintf(stderr, "a corridor on a %u x %u map overran its budget\n", w, h);
        std::abort();
    }
    volatile float sink = length;
    (void)sink;
    return 0;
}
