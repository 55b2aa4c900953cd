#include "engine/navigation/CharacterCollision.h"

#include <cmath>
#include <cstring>

#include "core/math/MathHelpers.h"
#include "core/math/Matrix.h"

namespace {

// Motions shorter than this (squared) touch nothing.
constexpr float kNoMotionSquared = 1e-7f;

bool InsideTriangle(const CollisionTriangle& t, const Vector& p) {
    const Vector e0 = t.v[1] - t.v[0], e1 = t.v[2] - t.v[0], q = p - t.v[0];
    const float d00 = e0.Dot3(e0), d01 = e0.Dot3(e1), d11 = e1.Dot3(e1);
    const float d20 = q.Dot3(e0), d21 = q.Dot3(e1);
    const float denominator = d00 * d11 - d01 * d01;
    if (!(denominator > 0.0f)) return false;
    const float v = (d11 * d20 - d01 * d21) / denominator;
    const float w = (d00 * d21 - d01 * d20) / denominator;
    return v >= 0.0f && w >= 0.0f && v + w <= 1.0f;
}

// Earliest distance in [0, limit] at which the moving centre comes within radius of the
// point; an overlapping sphere touches at once when it moves toward the point.
bool TouchPoint(const Vector& centre, const Vector& direction, float radius, const Vector& point, float limit,
                float* at) {
    const Vector w = centre - point;
    const float b = direction.Dot3(w);
    const float c = w.Dot3(w) - radius * radius;
    if (c <= 0.0f) {
        if (!(b < 0.0f)) return false;
        *at = 0.0f;
        return true;
    }
    const float discriminant = b * b - c;
    if (discriminant < 0.0f) return false;
    const float t = -b - std::sqrt(discriminant);
    if (!(t >= 0.0f && t <= limit)) return false;
    *at = t;
    return true;
}

// The same for the edge a-b: the centre's distance to the edge's line reaches the radius
// where the closest point of the line lies within the edge.
bool TouchEdge(const Vector& centre, const Vector& direction, float radius, const Vector& a, const Vector& b,
               float limit, float* at, Vector* point) {
    const Vector e = b - a, w = centre - a;
    const float ee = e.Dot3(e);
    if (!(ee > 0.0f)) return false;
    const float ed = e.Dot3(direction), ew = e.Dot3(w);
    const float qa = ee - ed * ed;
    const float qb = 2.0f * (ee * direction.Dot3(w) - ed * ew);
    const float qc = ee * w.Dot3(w) - ew * ew - radius * radius * ee;
    float t;
    if (qc <= 0.0f) {
        if (!(qb < 0.0f)) return false;
        t = 0.0f;
    } else {
        if (!(qa > 1e-12f * ee)) return false;  // moving along the edge: its corners decide
        const float discriminant = qb * qb - 4.0f * qa * qc;
        if (discriminant < 0.0f) return false;
        t = (-qb - std::sqrt(discriminant)) / (2.0f * qa);
        if (!(t >= 0.0f && t <= limit)) return false;
    }
    const float f = (ed * t + ew) / ee;
    if (!(f >= 0.0f && f <= 1.0f)) return false;
    *at = t;
    *point = a + e * f;
    return true;
}

}  // namespace

bool CollisionTriangle::Set(const Vector& a, const Vector& b, const Vector& c) {
    Vector n;
    n.Cross(b - a, c - a);
    const float length = n.Length3();
    if (!(length > 0.0f) || !std::isfinite(length)) return false;
    n = n * (1.0f / length);
    v[0] = a, v[1] = b, v[2] = c;
    plane = Vector(n.x, n.y, n.z, -n.Dot3(a));
    return true;
}

BoundingBox4 CollisionTriangle::Bounds() const {
    BoundingBox4 box = BoundingBox4::INVALID;
    for (const Vector& p : v) box.Expand(p);
    return box;
}

bool SweepSphereTriangle(const Vector& centre, float radius, const Vector& direction, float distance,
                         const CollisionTriangle& triangle, SphereContact* contact) {
    if (distance * distance < kNoMotionSquared) return false;
    const Vector n(triangle.plane.x, triangle.plane.y, triangle.plane.z, 0.0f);
    const float s = triangle.SignedDistance(centre);
    const float approach = n.Dot3(direction);
    if (s < -radius || (s > radius && !(approach < 0.0f))) return false;
    if (approach < 0.0f) {
        // The face: where the sphere first reaches the plane.
        const float t = s > radius ? (s - radius) / -approach : 0.0f;
        if (t > distance) return false;
        const Vector moved = centre + direction * t;
        const Vector touch = moved - n * triangle.SignedDistance(moved);
        if (InsideTriangle(triangle, touch)) {
            *contact = {t, touch, s >= 0.0f ? n : -n};
            contact->normal.w = 0.0f;
            return true;
        }
    }
    // The edges and corners.
    float best = distance;
    bool found = false;
    Vector point;
    for (int i = 0; i < 3; ++i) {
        float t;
        Vector p;
        if (TouchPoint(centre, direction, radius, triangle.v[i], best, &t) && (!found || t < best))
            best = t, point = triangle.v[i], found = true;
        if (TouchEdge(centre, direction, radius, triangle.v[i], triangle.v[(i + 1) % 3], best, &t, &p) &&
            (!found || t < best))
            best = t, point = p, found = true;
    }
    if (!found) return false;
    Vector normal = centre + direction * best - point;
    normal.w = 0.0f;
    const float length = normal.Length3();
    normal = length > 0.0f ? normal * (1.0f / length) : n;
    *contact = {best, point, normal};
    return true;
}

void AppendBoxTriangles(const Vector corners[8], bool reverse, Dynarray<CollisionTriangle>& out) {
    for (uint32_t axis = 0; axis < 3; ++axis) {
        const uint32_t u = 1u << ((axis + 1) % 3), v = 1u << ((axis + 2) % 3);
        for (uint32_t side = 0; side < 2; ++side) {
            const uint32_t base = side << axis;
            // Going round u then v turns about +axis; the minimum face is turned round.
            const Vector& c00 = corners[base];
            const Vector& c10 = corners[base | u];
            const Vector& c11 = corners[base | u | v];
            const Vector& c01 = corners[base | v];
            const bool flip = (side == 0) != reverse;
            CollisionTriangle t;
            if (flip ? t.Set(c00, c11, c10) : t.Set(c00, c10, c11)) out.Add(t);
            if (flip ? t.Set(c00, c01, c11) : t.Set(c00, c11, c01)) out.Add(t);
        }
    }
}

void AppendMeshTriangles(const MeshCollisionData& mesh, const Matrix& world, const BoundingBox4& box,
                         Dynarray<CollisionTriangle>& out) {
    const uint32_t layout = mesh.vertexFlags & (MESH_VERTEX_FLOAT3 | MESH_VERTEX_SHORT4N);
    const uint32_t positionSize = layout == MESH_VERTEX_FLOAT3 ? 12 : layout == MESH_VERTEX_SHORT4N ? 8 : 0;
    if (!positionSize || mesh.vertexSize < positionSize || !mesh.vertices || !mesh.indices) return;
    auto position = [&](uint32_t index) {
        const uint8_t* at = mesh.vertices + size_t(index) * mesh.vertexSize;
        Vector p;
        if (layout == MESH_VERTEX_FLOAT3) {
            float f[3];
            std::memcpy(f, at, sizeof f);
            p = Vector(f[0], f[1], f[2], 1.0f);
        } else {
            int16_t q[4];
            std::memcpy(q, at, sizeof q);
            const Vector u = DequantizeInt16Vector(Vector(q[0], q[1], q[2], q[3])) * 0.5f + Vector(0.5f, 0.5f, 0.5f, 0.5f);
            const BoundingBox4& b = mesh.positionBox;
            p = Vector((1.0f - u.x) * b.min.x + u.x * b.max.x, (1.0f - u.y) * b.min.y + u.y * b.max.y,
                       (1.0f - u.z) * b.min.z + u.z * b.max.z, 1.0f);
        }
        p.Transform3D(world);
        return p;
    };
    for (uint32_t i = 0; i < mesh.triangleCount; ++i) {
        const uint16_t* index = mesh.indices + size_t(i) * 3;
        if (index[0] >= mesh.vertexCount || index[1] >= mesh.vertexCount || index[2] >= mesh.vertexCount) continue;
        CollisionTriangle t;
        if (t.Set(position(index[0]), position(index[1]), position(index[2])) && t.Bounds().Overlaps3D(box))
            out.Add(t);
    }
}
