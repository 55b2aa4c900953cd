#pragma once
// The renderer's shared instancing quad: four corners of 4 bytes each (normalised
// unsigned bytes (0,0) (1,0) (1,1) (0,1)) and six 16-bit indices making two triangles.
// Instanced draws put it in stream 0 with the indexed-data frequency set to their
// instance count (particles, the path ribbon).
//
// Lifetime: made with the particle runtime's device objects and released with them (the
// particle device owner's create and release around every device reset); null before
// the device exists and while it is being reset.
//
// Threads: render thread only.
namespace gfx {
class VertexBuffer;
class IndexBuffer;
}  // namespace gfx

gfx::VertexBuffer* SharedQuadVertices();
gfx::IndexBuffer* SharedQuadIndices();
