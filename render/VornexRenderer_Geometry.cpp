// Built-in geometry, the global vertex declaration and the shared batch meshes, made
// after every device creation and reset and released before.
//
// Generated contents (12-byte XYZ vertices unless stated, 16-bit indices). Angles are
// computed in double precision and each coordinate rounded once to float.
//  - unit box: vertex i = (bit 2, bit 1, bit 0 of i); the solid and wire lists of the
//    design.
//  - unit sphere: poles (0, -1, 0), (0, 1, 0), then meridian i = 0..15, ring j = 1..15
//    at index 2 + 15 i + (j - 1). Solid: per meridian pair (i, i+1) the south cap
//    (0, r(i,1), r(i+1,1)), per band j = 1..14 (r(i,j), r(i,j+1), r(i+1,j+1)) and
//    (r(i,j), r(i+1,j+1), r(i+1,j)), the north cap (1, r(i+1,15), r(i,15)). Wire: per
//    meridian its 16 segments from pole to pole, then per ring its 16 segments.
//  - unit cone: apex 0, base k + 1 = (cos a, sin a, 1), centre 129; per k the side
//    (0, k+1, n) and the base (k+1, 129, n), n = (k+1) mod 128 + 1.
//  - wire sphere: three circles of 128 segments, lines (k, k+1 mod 128) per circle.
//  - wire cone with lamp: apex 0, ring 1..128, lamp rings 129..136 (z 0) and
//    137..144 (z -0.1) of radius 0.1; lines: the ring, apex to ring vertex 8 m + 1, the
//    two lamp rings and their eight side lines.
//  - cylinder: ring z = -1 at 0..127, ring z = 1 at 128..255, centres 256 (z -1) and
//    257 (z 1). Solid per segment k (n = k + 1 mod 128): (k, n, 128+n),
//    (k, 128+n, 128+k), (256, n, k), (257, 128+k, 128+n). Wire: both rings, then a
//    side line (k, 128 + k) at every 8th k.
//  - flag marker: the vertices of the design; per segment s (t = s + 1 mod 32, base
//    b = 1 + 3 s, low l = b + 1, top p = b + 2 and likewise for t): (0, b_s, b_t),
//    (b_s, l_s, l_t), (b_s, l_t, b_t), (l_s, p_s, p_t), (l_s, p_t, l_t), (97, p_s, p_t);
//    then (98, 99, 100) and (98, 100, 99).
//  - ground grid, axis gizmo (16-byte vertices: position, colour), unit and full-screen
//    quads (20-byte vertices: position, one coordinate pair), ramp strip: as designed.
#include <cmath>
#include <cstring>

#include "render/DeviceObjectHandle.h"
#include "render/VertexDeclarationCache.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"

using namespace gfx;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct MeshBuilder {
    BuiltInMeshData data;
    explicit MeshBuilder(uint32_t stride) { data.stride = stride; }
    void Float(double v) {
        const float f = static_cast<float>(v);
        const auto* b = reinterpret_cast<const uint8_t*>(&f);
        data.vertices.insert(data.vertices.end(), b, b + 4);
    }
    void Point(double x, double y, double z) { Float(x), Float(y), Float(z); }
    void Colour(uint32_t argb) {
        const auto* b = reinterpret_cast<const uint8_t*>(&argb);
        data.vertices.insert(data.vertices.end(), b, b + 4);
    }
    void Tri(uint32_t list, uint32_t a, uint32_t b, uint32_t c) {
        data.indices[list].insert(data.indices[list].end(), {uint16_t(a), uint16_t(b), uint16_t(c)});
    }
    void Line(uint32_t list, uint32_t a, uint32_t b) {
        data.indices[list].insert(data.indices[list].end(), {uint16_t(a), uint16_t(b)});
    }
};

double Angle(uint32_t k, uint32_t segments) { return 2.0 * kPi * k / segments; }

BuiltInMeshData UnitBox() {
    MeshBuilder m(12);
    for (uint32_t i = 0; i < 8; ++i) m.Point((i >> 2) & 1, (i >> 1) & 1, i & 1);
    static const uint16_t kSolid[36] = {0, 1, 2, 1, 3, 2, 1, 5, 3, 5, 7, 3, 5, 4, 7, 4, 6, 7,
                                        0, 2, 4, 2, 6, 4, 2, 3, 7, 2, 7, 6, 0, 4, 1, 4, 5, 1};
    static const uint16_t kWire[24] = {0, 1, 1, 3, 3, 2, 2, 0, 4, 5, 5, 7, 7, 6, 6, 4, 0, 4, 1, 5, 2, 6, 3, 7};
    m.data.indices[0].assign(kSolid, kSolid + 36);
    m.data.indices[1].assign(kWire, kWire + 24);
    return m.data;
}

// The light volumes (sphere, cone, cylinder) turn their outer faces counter-clockwise, as
// the cone's list does: the lighting pass picks the side it draws by culling a winding.
BuiltInMeshData UnitSphere() {
    MeshBuilder m(12);
    m.Point(0, -1, 0);
    m.Point(0, 1, 0);
    for (uint32_t i = 0; i < 16; ++i) {
        const double longitude = Angle(i, 16);
        for (uint32_t j = 1; j <= 15; ++j) {
            const double y = std::sin((j / 16.0 - 0.5) * kPi);
            const double r = std::sqrt(1.0 - y * y);
            m.Point(std::cos(longitude) * r, y, std::sin(longitude) * r);
        }
    }
    auto ring = [](uint32_t i, uint32_t j) { return 2 + 15 * (i % 16) + (j - 1); };
    for (uint32_t i = 0; i < 16; ++i) {
        m.Tri(0, 0, ring(i + 1, 1), ring(i, 1));
        for (uint32_t j = 1; j < 15; ++j) {
            m.Tri(0, ring(i, j), ring(i + 1, j + 1), ring(i, j + 1));
            m.Tri(0, ring(i, j), ring(i + 1, j), ring(i + 1, j + 1));
        }
        m.Tri(0, 1, ring(i, 15), ring(i + 1, 15));
    }
    for (uint32_t i = 0; i < 16; ++i) {
        m.Line(1, 0, ring(i, 1));
        for (uint32_t j = 1; j < 15; ++j) m.Line(1, ring(i, j), ring(i, j + 1));
        m.Line(1, ring(i, 15), 1);
    }
    for (uint32_t j = 1; j <= 15; ++j)
        for (uint32_t i = 0; i < 16; ++i) m.Line(1, ring(i, j), ring(i + 1, j));
    return m.data;
}

BuiltInMeshData UnitCone() {
    MeshBuilder m(12);
    m.Point(0, 0, 0);
    for (uint32_t k = 0; k < 128; ++k) m.Point(std::cos(Angle(k, 128)), std::sin(Angle(k, 128)), 1);
    m.Point(0, 0, 1);
    for (uint32_t k = 0; k < 128; ++k) {
        const uint32_t n = (k + 1) % 128 + 1;
        m.Tri(0, 0, k + 1, n);
        m.Tri(0, k + 1, 129, n);
    }
    return m.data;
}

BuiltInMeshData WireSphere() {
    MeshBuilder m(12);
    for (uint32_t circle = 0; circle < 3; ++circle)
        for (uint32_t k = 0; k < 128; ++k) {
            const double c = std::cos(Angle(k, 128)), s = std::sin(Angle(k, 128));
            if (circle == 0) m.Point(c, 0, s);
            if (circle == 1) m.Point(0, c, s);
            if (circle == 2) m.Point(c, s, 0);
        }
    for (uint32_t circle = 0; circle < 3; ++circle)
        for (uint32_t k = 0; k < 128; ++k) m.Line(1, 128 * circle + k, 128 * circle + (k + 1) % 128);
    return m.data;
}

BuiltInMeshData WireConeWithLamp() {
    MeshBuilder m(12);
    m.Point(0, 0, 0);
    for (uint32_t k = 0; k < 128; ++k) m.Point(std::cos(Angle(k, 128)), std::sin(Angle(k, 128)), 1);
    for (double z : {0.0, -0.1})
        for (uint32_t k = 0; k < 8; ++k) m.Point(0.1 * std::cos(Angle(k, 8)), 0.1 * std::sin(Angle(k, 8)), z);
    for (uint32_t k = 0; k < 128; ++k) m.Line(1, k + 1, (k + 1) % 128 + 1);
    for (uint32_t k = 0; k < 128; k += 8) m.Line(1, 0, k + 1);
    for (uint32_t ring = 0; ring < 2; ++ring)
        for (uint32_t k = 0; k < 8; ++k) m.Line(1, 129 + 8 * ring + k, 129 + 8 * ring + (k + 1) % 8);
    for (uint32_t k = 0; k < 8; ++k) m.Line(1, 129 + k, 137 + k);
    return m.data;
}

BuiltInMeshData Cylinder() {
    MeshBuilder m(12);
    for (double z : {-1.0, 1.0})
        for (uint32_t k = 0; k < 128; ++k) m.Point(std::cos(Angle(k, 128)), std::sin(Angle(k, 128)), z);
    m.Point(0, 0, -1);
    m.Point(0, 0, 1);
    for (uint32_t k = 0; k < 128; ++k) {
        const uint32_t n = (k + 1) % 128;
        m.Tri(0, k, 128 + n, n);
        m.Tri(0, k, 128 + k, 128 + n);
        m.Tri(0, 256, k, n);
        m.Tri(0, 257, 128 + n, 128 + k);
    }
    for (uint32_t ring = 0; ring < 2; ++ring)
        for (uint32_t k = 0; k < 128; ++k) m.Line(1, 128 * ring + k, 128 * ring + (k + 1) % 128);
    for (uint32_t k = 0; k < 128; k += 8) m.Line(1, k, 128 + k);
    return m.data;
}

BuiltInMeshData FlagMarker() {
    MeshBuilder m(12);
    m.Point(0, 0, 0);
    for (uint32_t s = 0; s < 32; ++s) {
        const double c = std::cos(Angle(s, 32)), n = std::sin(Angle(s, 32));
        m.Point(1.5 * c, 0, 1.5 * n);
        m.Point(0.01 * c, 0.9, 0.01 * n);
        m.Point(0.01 * c, 4.8, 0.01 * n);
    }
    m.Point(0, 4.8, 0);
    m.Point(0, 3.0, 0);
    m.Point(0, 4.8, 0);
    m.Point(0, 3.9, 1.95);
    for (uint32_t s = 0; s < 32; ++s) {
        const uint32_t bs = 1 + 3 * s, bt = 1 + 3 * ((s + 1) % 32);
        const uint32_t ls = bs + 1, lt = bt + 1, ps = bs + 2, pt = bt + 2;
        m.Tri(0, 0, bs, bt);
        m.Tri(0, bs, ls, lt);
        m.Tri(0, bs, lt, bt);
        m.Tri(0, ls, ps, pt);
        m.Tri(0, ls, pt, lt);
        m.Tri(0, 97, ps, pt);
    }
    m.Tri(0, 98, 99, 100);
    m.Tri(0, 98, 100, 99);
    return m.data;
}

BuiltInMeshData GroundGrid() {
    MeshBuilder m(12);
    for (uint32_t i = 0; i < 1024; ++i) {
        m.Point(i, 0, 0);
        m.Point(i, 0, 1024);
        m.Point(0, 0, i);
        m.Point(1023, 0, i);
    }
    return m.data;
}

BuiltInMeshData AxisGizmo() {
    MeshBuilder m(16);
    struct Arrow {
        double tip[3], headA[3], headB[3];
        uint32_t colour;
    };
    static const Arrow kArrows[3] = {
        {{1, 0, 0}, {0.8, 0, 0.2}, {0.8, 0, -0.2}, 0xFFFF0000u},
        {{0, 0, 1}, {0.2, 0, 0.8}, {-0.2, 0, 0.8}, 0xFF0000FFu},
        {{0, 1, 0}, {0.2, 0.8, 0.2}, {-0.2, 0.8, -0.2}, 0xFF00FF00u},
    };
    for (uint32_t a = 0; a < 3; ++a) {
        const Arrow& r = kArrows[a];
        for (const double* p : {static_cast<const double*>(nullptr), r.tip, r.headA, r.headB}) {
            if (p)
                m.Point(p[0], p[1], p[2]);
            else
                m.Point(0, 0, 0);
            m.Colour(r.colour);
        }
        m.Line(0, 4 * a, 4 * a + 1);
        m.Line(0, 4 * a + 1, 4 * a + 2);
        m.Line(0, 4 * a + 1, 4 * a + 3);
    }
    return m.data;
}

BuiltInMeshData Quad(bool fullScreen) {
    MeshBuilder m(20);
    static const double kUnit[4][5] = {{0, 1, 0, 0, 1}, {1, 1, 0, 1, 1}, {1, 0, 0, 1, 0}, {0, 0, 0, 0, 0}};
    static const double kFull[4][5] = {{-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {1, -1, 0, 1, 1}, {-1, -1, 0, 0, 1}};
    for (const auto& v : fullScreen ? kFull : kUnit)
        for (double f : v) m.Float(f);
    return m.data;
}

BuiltInMeshData RampStrip() {
    MeshBuilder m(12);
    for (uint32_t i = 0; i < 64; ++i) {
        const double t = i / 63.0;
        m.Point(t, t, t);
    }
    return m.data;
}

}  // namespace

BuiltInMeshData GenerateBuiltInMesh(BuiltInMeshId id) {
    switch (id) {
    case MESH_UNIT_BOX: return UnitBox();
    case MESH_UNIT_SPHERE: return UnitSphere();
    case MESH_UNIT_CONE: return UnitCone();
    case MESH_WIRE_SPHERE: return WireSphere();
    case MESH_WIRE_CONE_LAMP: return WireConeWithLamp();
    case MESH_CYLINDER: return Cylinder();
    case MESH_FLAG_MARKER: return FlagMarker();
    case MESH_GROUND_GRID: return GroundGrid();
    case MESH_AXIS_GIZMO: return AxisGizmo();
    case MESH_UNIT_QUAD: return Quad(false);
    case MESH_FULLSCREEN_QUAD: return Quad(true);
    case MESH_RAMP_STRIP: return RampStrip();
    default: return BuiltInMeshData{12, {}, {}};
    }
}

void VornexRenderer::CreateBuiltInGeometry() {
    ReleaseBuiltInGeometry();
    if (!device || !declarationCache) return;
    for (uint32_t id = 0; id < BUILTIN_MESH_COUNT; ++id) {
        const BuiltInMeshData data = GenerateBuiltInMesh(static_cast<BuiltInMeshId>(id));
        BuiltInMesh& mesh = builtInMeshes[id];
        mesh.stride = data.stride;
        mesh.vertexCount = static_cast<uint32_t>(data.vertices.size() / data.stride);
        mesh.vertices = declarationCache->CreateVertexBuffer(static_cast<uint32_t>(data.vertices.size()),
                                                             USAGE_WRITEONLY, POOL_DEFAULT, data.vertices.data());
        for (uint32_t list = 0; list < 2; ++list) {
            if (data.indices[list].empty()) continue;
            const auto bytes = static_cast<uint32_t>(data.indices[list].size() * sizeof(uint16_t));
            mesh.indices[list] =
                declarationCache->CreateIndexBuffer(bytes, USAGE_WRITEONLY, POOL_DEFAULT, data.indices[list].data());
            mesh.indexCount[list] = mesh.indices[list] ? static_cast<uint32_t>(data.indices[list].size()) : 0;
        }
        if (!mesh.vertices) mesh.vertexCount = 0;
    }
    RunOwners(true);
}

void VornexRenderer::ReleaseBuiltInGeometry() {
    RunOwners(false);
    for (BuiltInMesh& mesh : builtInMeshes) {
        SafeReleaseInterface(&mesh.vertices);
        SafeReleaseInterface(&mesh.indices[0]);
        SafeReleaseInterface(&mesh.indices[1]);
        mesh = BuiltInMesh{};
    }
}

// ---------------------------------------------------------------------------------------
// Declarations and batch meshes

void VornexRenderer::CreateGlobalVertexDeclaration() {
    ReleaseGlobalVertexDeclaration();
    if (!declarationCache) return;
    static const VertexElement kElements[5] = {
        {0, 0, DECLTYPE_FLOAT4, DECLMETHOD_DEFAULT, DECLUSAGE_COLOR, 0},
        {0, 16, DECLTYPE_FLOAT3, DECLMETHOD_DEFAULT, DECLUSAGE_POSITION, 0},
        {0, 28, DECLTYPE_FLOAT4, DECLMETHOD_DEFAULT, DECLUSAGE_TEXCOORD, 1},
        {0, 44, DECLTYPE_FLOAT2, DECLMETHOD_DEFAULT, DECLUSAGE_TEXCOORD, 0},
        kDeclEnd,
    };
    globalDeclaration = declarationCache->GetOrCreate(kElements, 5);
}

void VornexRenderer::ReleaseGlobalVertexDeclaration() { SafeReleaseInterface(&globalDeclaration); }

void VornexRenderer::CreateBatchMeshes() {
    ReleaseBatchMeshes();
    if (!declarationCache) return;
    // Quad batch: 32 quads, corners (-0.5, 0), (0.5, 0), (0.5, 1), (-0.5, 1), z = quad.
    MeshBuilder quads(12);
    for (uint32_t i = 0; i < 32; ++i) {
        quads.Point(-0.5, 0, i), quads.Point(0.5, 0, i), quads.Point(0.5, 1, i), quads.Point(-0.5, 1, i);
        quads.Tri(0, 4 * i, 4 * i + 1, 4 * i + 2);
        quads.Tri(0, 4 * i, 4 * i + 2, 4 * i + 3);
    }
    // Grid batch: 16 segments of 64 pairs (-0.5, pair, segment), (0.5, pair, segment);
    // consecutive pairs form quads in the quad batch's corner order.
    MeshBuilder grid(12);
    for (uint32_t s = 0; s < 16; ++s)
        for (uint32_t p = 0; p < 64; ++p) {
            grid.Point(-0.5, p, s), grid.Point(0.5, p, s);
            if (p == 63) continue;
            const uint32_t a = 128 * s + 2 * p;
            grid.Tri(0, a, a + 1, a + 3);
            grid.Tri(0, a, a + 3, a + 2);
        }
    const MeshBuilder* meshes[2] = {&quads, &grid};
    for (uint32_t i = 0; i < 2; ++i) {
        const BuiltInMeshData& d = meshes[i]->data;
        batchVertices[i] = declarationCache->CreateVertexBuffer(static_cast<uint32_t>(d.vertices.size()),
                                                                USAGE_WRITEONLY, POOL_DEFAULT, d.vertices.data());
        batchIndices[i] = declarationCache->CreateIndexBuffer(static_cast<uint32_t>(d.indices[0].size() * 2),
                                                              USAGE_WRITEONLY, POOL_DEFAULT, d.indices[0].data());
    }
    // Arrow batch: 32 arrows of one triangle each, drawn without indices: the base corners
    // (-1, 0, arrow), (1, 0, arrow) and the tip (0, 1, arrow).
    MeshBuilder arrows(12);
    for (uint32_t i = 0; i < 32; ++i) arrows.Point(-1, 0, i), arrows.Point(1, 0, i), arrows.Point(0, 1, i);
    batchVertices[2] = declarationCache->CreateVertexBuffer(static_cast<uint32_t>(arrows.data.vertices.size()),
                                                            USAGE_WRITEONLY, POOL_DEFAULT, arrows.data.vertices.data());
}

void VornexRenderer::ReleaseBatchMeshes() {
    for (VertexBuffer*& b : batchVertices) SafeReleaseInterface(&b);
    for (IndexBuffer*& b : batchIndices) SafeReleaseInterface(&b);
}
