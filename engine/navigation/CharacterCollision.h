#pragma once
// Collision geometry of the character controller: triangles with their planes, the mesh
// data a "Face" collision reads, and the swept-sphere test against one triangle.
//
// Pure functions on values; main thread by use.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/BoundingBox4.h"

class Matrix;

// A mesh template's "Player collision type".
enum : uint32_t { PLAYER_COLLISION_NONE = 0, PLAYER_COLLISION_BOX = 1, PLAYER_COLLISION_FACE = 2 };

// Main-memory vertex flags of a mesh: bit 0 three f32 positions, bit 2 four int16
// (short4n) positions mapped into the position box; bit 1 blend data follow. Only one of
// bits 0 and 2 may be set for the mesh to collide.
enum : uint32_t { MESH_VERTEX_FLOAT3 = 1, MESH_VERTEX_BLEND = 2, MESH_VERTEX_SHORT4N = 4 };

// The mesh data of a "Face" collision, owned by the mesh template.
struct MeshCollisionData {
    const uint8_t* vertices = nullptr;
    uint32_t vertexSize = 0;  // bytes from one vertex to the next
    uint32_t vertexFlags = 0;
    uint32_t vertexCount = 0;
    BoundingBox4 positionBox;  // where short4n positions map to
    const uint16_t* indices = nullptr;
    uint32_t triangleCount = 0;
};

struct CollisionTriangle {
    Vector v[3];
    // normalise((v1 - v0) x (v2 - v0)), and w = -normal . v0: a point p lies in front when
    // normal . p + w > 0.
    Vector plane;

    // False (nothing changed) for a triangle without area.
    bool Set(const Vector& a, const Vector& b, const Vector& c);
    float SignedDistance(const Vector& p) const { return plane.Dot3(p) + plane.w; }
    BoundingBox4 Bounds() const;
};

// Where a moving sphere first touches a triangle: the distance travelled, the touching
// point and the unit normal from that point toward the sphere's centre.
struct SphereContact {
    float distance;
    Vector point;
    Vector normal;
};

// The first contact of a sphere moved from centre along the unit direction by at most
// distance: with the triangle's face (at the time the sphere reaches its plane, 0 when it
// already overlaps the plane), else with its edges and corners. A sphere wholly behind the
// plane, one moving away, and a motion shorter than about 0.0003 find nothing.
bool SweepSphereTriangle(const Vector& centre, float radius, const Vector& direction, float distance,
                         const CollisionTriangle& triangle, SphereContact* contact);

// The twelve triangles of a box given by its corners (corner i has axis k at its maximum
// when bit k of i is set). Normals point out of the box when the corner axes form a
// right-handed frame, into it otherwise; reverse turns every triangle round.
void AppendBoxTriangles(const Vector corners[8], bool reverse, Dynarray<CollisionTriangle>& out);

// The triangles of a mesh under the world matrix whose bounds overlap the box. Triangles
// with an index beyond the vertices, and meshes with an unknown vertex layout, add nothing.
void AppendMeshTriangles(const MeshCollisionData& mesh, const Matrix& world, const BoundingBox4& box,
                         Dynarray<CollisionTriangle>& out);
