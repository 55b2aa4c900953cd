#include "engine/entity/SceneGrid.h"

#include <cmath>
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/ByteOrder.h"
#include "engine/entity/Entity.h"

namespace {

uint32_t U32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

float F32(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

uint32_t SceneGrid::Read(const uint8_t* block, uint64_t size, bool check) {
    if (size < kHeaderSize) {
        gLog.Print(LogSeverity::Error, LogCategory::Engine, "Scene grid block cut short (%llu bytes)",
                   static_cast<unsigned long long>(size));
        return 0;
    }
    if (check && (U32(block) != kMagic || U32(block + 4) != kVersion)) return 0;
    const uint32_t w = U32(block + 8);
    const uint32_t h = U32(block + 12);
    const uint64_t cellCount = uint64_t(w) * h;
    if (w > kMaxSide || h > kMaxSide || cellCount > size - kHeaderSize) {
        gLog.Print(LogSeverity::Error, LogCategory::Engine, "Scene grid of %u x %u cells does not fit its block", w, h);
        return 0;
    }
    uint8_t* newCells = nullptr;
    if (cellCount) {
        newCells = static_cast<uint8_t*>(EngineAlloc(cellCount));
        if (!newCells) return 0;
        std::memcpy(newCells, block + kHeaderSize, cellCount);
    }
    EngineFree(cells);
    cells = newCells;
    width = w;
    height = h;
    origin = Vector(F32(block + 16), F32(block + 20), F32(block + 24), F32(block + 28));
    cellSize = F32(block + 32);
    return uint32_t(kHeaderSize + cellCount);
}

uint32_t SceneGrid::WorldToCell(const Vector& position) const {
    if (!cells || !(cellSize != 0.0f) || !std::isfinite(position.x) || !std::isfinite(position.z)) return kNoCell;
    const float fx = (position.x - origin.x) / cellSize + 0.5f;
    const float fz = (position.z - origin.z) / cellSize + 0.5f;
    // Truncation toward zero; compared as floats so that huge values never convert.
    if (!(fx > -1.0f) || !(fz > -1.0f) || !(fx < float(width)) || !(fz < float(height))) return kNoCell;
    const int32_t x = int32_t(fx);
    const int32_t z = int32_t(fz);
    if (x < 0 || z < 0 || uint32_t(x) >= width || uint32_t(z) >= height) return kNoCell;
    return uint32_t(x) | uint32_t(z) << 16;
}

Vector SceneGrid::CellToWorld(uint32_t x, uint32_t z) const {
    return Vector(origin.x + cellSize * float(x), origin.y, origin.z + cellSize * float(z), origin.w);
}

SceneGrid::~SceneGrid() { Clear(); }

void SceneGrid::Clear() {
    EngineFree(cells);
    cells = nullptr;
    obstacles.Release();
    width = height = 0;
    origin = Vector(0.0f, 0.0f, 0.0f, 1.0f);
    cellSize = 0.0f;
}
