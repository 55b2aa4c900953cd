#pragma once
// OutlineRenderer: the soft coloured outlines of selected objects, a part of the
// post-processing chain.
//
// During the scene's geometry pass every outlined object writes its category into
// stencil bits 1-4 (category bit 2 << i is stencil bit i + 1; bit 0 is the deferred
// geometry mark). The gathering marks the cells of a 40 x 24 screen grid under each
// object's screen rectangle; the passes then draw only those cells: the stencil bits
// become a coverage image (category 0 green, 1 red, 2 blue, 3 alpha), "Dilate" spreads
// and colours it into the outline target (the normal target, free after the lighting),
// and "Outlines" blends it over the output (task 26).
//
// Five index lists cover the marked cells: list 0 every marked cell, lists 1-4 the cells
// of category bits 2, 4, 8, 16. They stream into a 115,200-byte dynamic index ring
// (no-overwrite locks, a discard lock when a frame's lists would pass its end).
//
// Threads: render thread only. Grid row 0 is the bottom of the screen.
#include <cstdint>
#include <vector>

#include "core/config/OutlineParams.h"
#include "core/math/BoundingBox4.h"

class DeviceObjectHandle;
namespace gfx {
class VertexBuffer;
class IndexBuffer;
class VertexDeclaration;
}  // namespace gfx

// One object of the gathering: its local box, world matrix and category bits.
struct OutlineCandidate {
    const BoundingBox4* box;
    const Matrix* world;
    uint32_t categories;
};

class OutlineRenderer {
public:
    static constexpr uint32_t kColumns = 40, kRows = 24, kLists = 5;
    static constexpr uint32_t kGridVertices = (kColumns + 1) * (kRows + 1);
    static constexpr uint32_t kRingBytes = 115200;
    static constexpr uint32_t kAllCategories = 2 | 4 | 8 | 16;
    static_assert(kLists * kColumns * kRows * 6 * 2 <= kRingBytes, "one frame's lists fit the ring");

    OutlineRenderer() = default;
    OutlineRenderer(const OutlineRenderer&) = delete;
    OutlineRenderer& operator=(const OutlineRenderer&) = delete;

    // Device objects of the chain: the grid vertices, their declaration and the ring.
    void CreateDeviceObjects();
    void ReleaseDeviceObjects();

    // Task 25 and every gathering: the cell table, the all-bits byte and the counts.
    void Clear();
    // Clears, then marks every candidate sharing a bit with the mask; then the lists.
    void GatherEntities(uint32_t mask, uint32_t count, const OutlineCandidate* candidates);
    // Marks the cells under the box's screen rectangle (camera in force, widened by one
    // and a half pixels); the bits also go to the all-bits byte when no cell is covered.
    void AddEntity(const BoundingBox4& box, const Matrix& world, uint32_t categories);
    void BuildIndexLists();
    // The coverage image from the stencil bits, into the bound target.
    void GenerateFromStencil();
    // The dilated, coloured outline image from the coverage texture into the outline target.
    void Dilate(const OutlineParams& params, const DeviceObjectHandle* coverage);
    void ReconstructOutlines(const OutlineParams& params, bool backBufferTarget);
    // Task 26: the outlines blended over the output with the secondary block.
    void RenderOutlines(const OutlineParams& secondary);

    uint8_t Cell(uint32_t column, uint32_t row) const { return cells[row][column]; }
    uint8_t AllBits() const { return allBits; }
    uint32_t ListCount(uint32_t list) const { return listCount[list]; }
    uint32_t ListStart(uint32_t list) const { return listStart[list]; }
    uint32_t RingOffset() const { return ringOffset; }
    const std::vector<uint16_t>& Indices() const { return indices; }
    gfx::IndexBuffer* Ring() const { return ring; }

private:
    void BindGrid() const;
    void DrawList(uint32_t list) const;

    uint8_t cells[kRows][kColumns] = {};
    uint8_t allBits = 0;
    uint32_t listCount[kLists] = {};
    uint32_t listStart[kLists] = {};
    std::vector<uint16_t> indices;
    gfx::VertexBuffer* grid = nullptr;
    gfx::IndexBuffer* ring = nullptr;
    gfx::VertexDeclaration* declaration = nullptr;
    uint32_t ringOffset = 0;
};
