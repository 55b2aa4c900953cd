#pragma once
// The shared 16-bit index list of the UI's quad draws: kUIQuadIndexQuads quads, quad q
// using vertices 4q, 4q+1, 4q+2 and 4q, 4q+2, 4q+3. Built once by the UI's start-up
// table; read on the render thread by the quad batches and the glyph draw.
#include <cstdint>

constexpr uint32_t kUIQuadIndexQuads = 512;
constexpr uint32_t kUIQuadIndexCount = kUIQuadIndexQuads * 6;

// Start-up (before the render thread draws any UI).
void BuildUIQuadIndexList();
// The list (valid after BuildUIQuadIndexList).
const uint16_t* UIQuadIndexList();
