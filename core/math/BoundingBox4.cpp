// Axis-aligned and oriented boxes, frustum culling and the separating-axis tests.
#include "core/math/BoundingBox4.h"

#include <cmath>
#include <utility>

namespace {

constexpr float kParallel = 0.9999f;  // |cos| above this: axes treated as parallel

Vector MinOf(const Vector& a, const Vector& b) {
    return Vector(std::fmin(a.x, b.x), std::fmin(a.y, b.y), std::fmin(a.z, b.z), std::fmin(a.w, b.w));
}
Vector MaxOf(const Vector& a, const Vector& b) {
    return Vector(std::fmax(a.x, b.x), std::fmax(a.y, b.y), std::fmax(a.z, b.z), std::fmax(a.w, b.w));
}

float PlaneValue(const Vector& plane, const Vector& p) { return plane.Dot3(p) + plane.w; }

// Slab clipping of a + (b - a) t, t in 0..1, against [mn, mx] on x, y, z. Writes the
// entry parameter on a hit.
bool ClipSegment(const BoundingBox4& box, const Vector& a, const Vector& b, float* entry) {
    float t0 = 0.0f, t1 = 1.0f;
    for (int i = 0; i < 3; ++i) {
        float d = b[i] - a[i];
        if (d == 0.0f) {
            if (a[i] < box.min[i] || a[i] > box.max[i]) return false;
            continue;
        }
        float ta = (box.min[i] - a[i]) / d;
        float tb = (box.max[i] - a[i]) / d;
        if (ta > tb) std::swap(ta, tb);
        if (ta > t0) t0 = ta;
        if (tb < t1) t1 = tb;
        if (t0 > t1) return false;
    }
    if (entry) *entry = t0;
    return true;
}

Vector PointOnSegment(const Vector& a, const Vector& b, float t) {
    return Vector(a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t, 1.0f);
}

// A box placed by a matrix as a parallelepiped: centre and three half-edge vectors.
struct Solid {
    Vector c;
    Vector e[3];
};

Solid MakeSolid(const BoundingBox4& box, const Matrix& m) {
    OBBox4 o;
    o.Transform3D(box, m);
    return Solid{o.center, {o.xextent, o.yextent, o.zextent}};
}

float Radius(const Solid& s, const Vector& axis) {
    return std::fabs(s.e[0].Dot3(axis)) + std::fabs(s.e[1].Dot3(axis)) + std::fabs(s.e[2].Dot3(axis));
}

bool Separates(const Solid& a, const Solid& b, const Vector& axis) {
    Vector t = b.c - a.c;
    return std::fabs(t.Dot3(axis)) > Radius(a, axis) + Radius(b, axis);
}

Vector UnitOrZero(const Vector& v) {
    float len = v.Length3();
    return len > 0.0f ? Vector(v.x / len, v.y / len, v.z / len, 0.0f) : Vector();
}

bool SolidsOverlap(const Solid& a, const Solid& b) {
    const Solid* both[2] = {&a, &b};
    Vector dir[2][3];
    for (int s = 0; s < 2; ++s) {
        const Vector* e = both[s]->e;
        for (int i = 0; i < 3; ++i) dir[s][i] = UnitOrZero(e[i]);
        // Face normals of the parallelepiped (the edge directions themselves when the
        // edges are orthogonal).
        for (int i = 0; i < 3; ++i) {
            Vector n;
            n.Cross(e[(i + 1) % 3], e[(i + 2) % 3]);
            if (Separates(a, b, n)) return false;
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            if (std::fabs(dir[0][i].Dot3(dir[1][j])) > kParallel) continue;
            Vector n;
            n.Cross(dir[0][i], dir[1][j]);
            if (Separates(a, b, n)) return false;
        }
    return true;
}

}  // namespace

const BoundingBox4 BoundingBox4::ZERO4(Vector(0, 0, 0, 0), Vector(0, 0, 0, 0));
const BoundingBox4 BoundingBox4::INVALID(Vector(kFloatMax, kFloatMax, kFloatMax, kFloatMax),
                                         Vector(-kFloatMax, -kFloatMax, -kFloatMax, -kFloatMax));
const BoundingBox4 BoundingBox4::UNITCUBE3D(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1));
const OBBox4 OBBox4::ONE = {Vector(1, 1, 1, 0), Vector(1, 0, 0, 0), Vector(0, 1, 0, 0), Vector(0, 0, 1, 0)};

Vector BoundingBox4::GetVertex(uint32_t i) const {
    return Vector((i & 1) ? max.x : min.x, (i & 2) ? max.y : min.y, (i & 4) ? max.z : min.z, 1.0f);
}

void BoundingBox4::Expand(const Vector& p) {
    min = MinOf(min, p);
    max = MaxOf(max, p);
}

void BoundingBox4::Expand(const BoundingBox4& b) {
    min = MinOf(min, b.min);
    max = MaxOf(max, b.max);
}

void BoundingBox4::Expand3D(const BoundingBox4& box, const Matrix& m) {
    if (box.IsEmpty3D()) return;
    BoundingBox4 t;
    t.Transform3D(box, m);
    Expand(t);
}

void BoundingBox4::Transform3D(const BoundingBox4& box, const Matrix& m) {
    Vector c = box.GetCenter();
    c.Transform3D(m);
    Matrix am;
    for (int i = 0; i < 4; ++i) am.r[i].Abs(m.r[i]);
    Vector e = box.GetExtent();
    e.Transform3DNormal(am);
    float wMin = box.min.w, wMax = box.max.w;
    min = Vector(c.x - e.x, c.y - e.y, c.z - e.z, wMin);
    max = Vector(c.x + e.x, c.y + e.y, c.z + e.z, wMax);
}

bool BoundingBox4::Inside3D(const Vector& p) const {
    return p.x >= min.x && p.x <= max.x && p.y >= min.y && p.y <= max.y && p.z >= min.z && p.z <= max.z;
}

bool BoundingBox4::Inside4D(const Vector& p) const { return Inside3D(p) && p.w >= min.w && p.w <= max.w; }

bool BoundingBox4::Inside3D(const BoundingBox4& b) const { return Inside3D(b.min) && Inside3D(b.max); }

bool BoundingBox4::Inside4D(const BoundingBox4& b) const { return Inside4D(b.min) && Inside4D(b.max); }

bool BoundingBox4::Overlaps3D(const BoundingBox4& b) const {
    return min.x <= b.max.x && b.min.x <= max.x && min.y <= b.max.y && b.min.y <= max.y && min.z <= b.max.z &&
           b.min.z <= max.z;
}

Vector BoundingBox4::GetNearestPoint(const Vector& p) const {
    return Vector(std::fmin(std::fmax(p.x, min.x), max.x), std::fmin(std::fmax(p.y, min.y), max.y),
                  std::fmin(std::fmax(p.z, min.z), max.z), p.w);
}

Vector BoundingBox4::GetNearestPoint(const Vector& p, const Matrix& m) const {
    OBBox4 o;
    o.Transform3D(*this, m);
    return o.GetClosestPoint(p);
}

bool BoundingBox4::IntersectsFrustum(const Frustum& f) const {
    for (const Vector& plane : f.planes) {
        Vector far(plane.x > 0.0f ? max.x : min.x, plane.y > 0.0f ? max.y : min.y, plane.z > 0.0f ? max.z : min.z);
        if (PlaneValue(plane, far) < 0.0f) return false;
    }
    return true;
}

bool BoundingBox4::IntersectsFrustumTransformed(const Frustum& f, const Matrix& m) const {
    // A world plane p against world points v x M is the local plane p x transpose(M).
    Matrix mt;
    mt.Transpose(m);
    Frustum local;
    for (int i = 0; i < 6; ++i) local.planes[i].TransformPlane(mt, f.planes[i]);
    return IntersectsFrustum(local);
}

bool BoundingBox4::CollidesWithSegment3D(const Vector& a, const Vector& b) const {
    Vector e = GetExtent();
    Vector h = (b - a) * 0.5f;
    Vector m = a + h - GetCenter();
    float hx = std::fabs(h.x), hy = std::fabs(h.y), hz = std::fabs(h.z);
    if (std::fabs(m.x) > e.x + hx || std::fabs(m.y) > e.y + hy || std::fabs(m.z) > e.z + hz) return false;
    if (std::fabs(m.y * h.z - m.z * h.y) > e.y * hz + e.z * hy) return false;
    if (std::fabs(m.z * h.x - m.x * h.z) > e.x * hz + e.z * hx) return false;
    if (std::fabs(m.x * h.y - m.y * h.x) > e.x * hy + e.y * hx) return false;
    return true;
}

bool BoundingBox4::CollidesWithSegment3D(const Vector& a, const Vector& b, Vector* hit) const {
    if (!CollidesWithSegment3D(a, b)) return false;
    float t = 0.0f;
    if (!ClipSegment(*this, a, b, &t)) t = 0.0f;  // grazing hit lost to rounding: report the start
    if (hit) *hit = PointOnSegment(a, b, t);
    return true;
}

bool BoundingBox4::CollidesWithSegment3DSlowSlowSlow(const Vector& a, const Vector& b) const {
    return ClipSegment(*this, a, b, nullptr);
}

bool BoundingBox4::CollidesWithSegment3DSlowSlowSlow(const Vector& a, const Vector& b, Vector* hit) const {
    float t = 0.0f;
    if (!ClipSegment(*this, a, b, &t)) return false;
    if (hit) *hit = PointOnSegment(a, b, t);
    return true;
}

bool BoundingBox4::CollidesWithOtherBox3D(const Matrix& m1, const BoundingBox4& other, const Matrix& m2) const {
    return SolidsOverlap(MakeSolid(*this, m1), MakeSolid(other, m2));
}

bool BoundingBox4::CollidesWithTransformedBox(const BoundingBox4& other, const Matrix& m) const {
    return SolidsOverlap(MakeSolid(*this, Matrix::IDENTITY), MakeSolid(other, m));
}

void BoundingBox4::Log(uint32_t severity, uint32_t category) const {
    min.Log(severity, category, "min:");
    max.Log(severity, category, "max:");
}

void OBBox4::Transform3D(const BoundingBox4& box, const Matrix& m) {
    center = box.GetCenter();
    center.Transform3D(m);
    Vector e = box.GetExtent();
    xextent = m.r[0] * e.x;
    yextent = m.r[1] * e.y;
    zextent = m.r[2] * e.z;
    xextent.w = yextent.w = zextent.w = 0.0f;
}

namespace {
// Projection of d on e in units of e (0 for a degenerate axis).
float Coordinate(const Vector& d, const Vector& e) {
    float ee = e.Dot3(e);
    return ee > 0.0f ? d.Dot3(e) / ee : 0.0f;
}
}  // namespace

bool OBBox4::Inside3D(const Vector& p) const {
    Vector d = p - center;
    for (const Vector* e : {&xextent, &yextent, &zextent}) {
        float t = Coordinate(d, *e);
        if (t < -1.0f || t > 1.0f) return false;
    }
    return true;
}

Vector OBBox4::GetClosestPoint(const Vector& p) const {
    Vector d = p - center;
    Vector out(center.x, center.y, center.z, 1.0f);
    for (const Vector* e : {&xextent, &yextent, &zextent}) {
        float t = std::fmin(std::fmax(Coordinate(d, *e), -1.0f), 1.0f);
        out.x += e->x * t, out.y += e->y * t, out.z += e->z * t;
    }
    return out;
}

void OBBox4::Log(uint32_t severity, uint32_t category) const {
    center.Log(severity, category, "center:");
    xextent.Log(severity, category, "xextent:");
    yextent.Log(severity, category, "yextent:");
    zextent.Log(severity, category, "zextent:");
}
