#pragma once
// Bounding volumes and their intersection tests: the axis-aligned BoundingBox4
// (min, max; x, y, z are the box, w is carried along and used by the 4-D tests), the
// oriented OBBox4 (centre and three half-extent vectors) and the six-plane Frustum.
//
// Boundaries count as inside (a point on a face is inside, touching boxes overlap).
// The empty box INVALID (min +FLT_MAX, max -FLT_MAX) is the start value for Expand.
#include "core/math/Matrix.h"

// Six planes (a, b, c, d); a point is inside a plane when a*x + b*y + c*z + d >= 0.
struct Frustum {
    Vector planes[6];
};

struct alignas(16) BoundingBox4 {
    Vector min;
    Vector max;

    BoundingBox4() = default;
    constexpr BoundingBox4(const Vector& mn, const Vector& mx) : min(mn), max(mx) {}

    static const BoundingBox4 ZERO4;
    static const BoundingBox4 INVALID;     // the empty box
    static const BoundingBox4 UNITCUBE3D;  // (-1, -1, -1, 1) .. (1, 1, 1, 1)

    bool operator==(const BoundingBox4& o) const { return min == o.min && max == o.max; }
    // True when min exceeds max on x, y or z (INVALID and anything not yet expanded).
    bool IsEmpty3D() const { return min.x > max.x || min.y > max.y || min.z > max.z; }

    Vector GetCenter() const { return (min + max) * 0.5f; }
    Vector GetExtent() const { return (max - min) * 0.5f; }  // half sizes
    // Corner 0..7: bit 0 picks max.x (1) or min.x (0), bit 1 y, bit 2 z; w = 1.
    Vector GetVertex(uint32_t i) const;

    // Component-wise growth over all four components.
    void Expand(const Vector& p);
    void Expand(const BoundingBox4& b);
    // Grows by the box transformed with m (as Transform3D); an empty box adds nothing.
    void Expand3D(const BoundingBox4& box, const Matrix& m);
    // The axis-aligned box around box transformed by m: centre transformed as a point,
    // half extents by |m|. w of min and max is kept from the source box.
    void Transform3D(const BoundingBox4& box, const Matrix& m);
    void Transform3D(const Matrix& m) { Transform3D(*this, m); }

    bool Inside3D(const Vector& p) const;
    bool Inside4D(const Vector& p) const;
    bool Inside3D(const BoundingBox4& b) const;  // b lies within this box
    bool Inside4D(const BoundingBox4& b) const;
    bool Overlaps3D(const BoundingBox4& b) const;

    Vector GetNearestPoint(const Vector& p) const;  // p clamped into the box (x, y, z)
    // The point of this box placed by m nearest to p (exact for rotation, translation
    // and scale; w = 1).
    Vector GetNearestPoint(const Vector& p, const Matrix& m) const;

    // False as soon as the box lies wholly outside one plane.
    bool IntersectsFrustum(const Frustum& f) const;
    // The same for this box in local space placed in the world by m.
    bool IntersectsFrustumTransformed(const Frustum& f, const Matrix& m) const;

    // Does the segment a-b meet the box? Separating-axis test.
    bool CollidesWithSegment3D(const Vector& a, const Vector& b) const;
    // The same; on a hit also writes the entry point (a itself when a is inside).
    bool CollidesWithSegment3D(const Vector& a, const Vector& b, Vector* hit) const;
    // Exact clipping test, for callers that need precision over speed.
    bool CollidesWithSegment3DSlowSlowSlow(const Vector& a, const Vector& b) const;
    // The same; on a hit also writes the entry point (a itself when a is inside).
    bool CollidesWithSegment3DSlowSlowSlow(const Vector& a, const Vector& b, Vector* hit) const;
    // Separating-axis test of this box placed by m1 against other placed by m2.
    bool CollidesWithOtherBox3D(const Matrix& m1, const BoundingBox4& other, const Matrix& m2) const;
    // The same with this box untransformed.
    bool CollidesWithTransformedBox(const BoundingBox4& other, const Matrix& m) const;

    void Log(uint32_t severity, uint32_t category) const;  // "min:" and "max:" lines
};
static_assert(sizeof(BoundingBox4) == 32);

struct alignas(16) OBBox4 {
    Vector center;
    Vector xextent, yextent, zextent;  // axis direction x half size

    static const OBBox4 ONE;  // centre (1, 1, 1, 0), half axes unit X, Y, Z

    // centre = box centre as a point through m; extents = rows 0-2 of m scaled by the
    // box's half sizes along x, y, z.
    void Transform3D(const BoundingBox4& box, const Matrix& m);
    bool Inside3D(const Vector& p) const;
    Vector GetClosestPoint(const Vector& p) const;
    void Log(uint32_t severity, uint32_t category) const;
};
