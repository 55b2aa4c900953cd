// Vector operations, written in single precision exactly as their formulas read.
#include "core/math/Vector.h"

#include <cmath>
#include <cstdio>

#include "core/Log.h"
#include "core/math/Matrix.h"

const Vector Vector::ZERO4(0, 0, 0, 0);
const Vector Vector::ONE(1, 1, 1, 1);
const Vector Vector::HALF(0.5f, 0.5f, 0.5f, 0.5f);
const Vector Vector::RAD2DEG(kRadToDeg, kRadToDeg, kRadToDeg, kRadToDeg);
const Vector Vector::UNITX(1, 0, 0, 0);
const Vector Vector::UNITY(0, 1, 0, 0);
const Vector Vector::UNITZ(0, 0, 1, 0);
const Vector Vector::UNITW(0, 0, 0, 1);
const Vector Vector::UNITXY(1, 1, 0, 0);
const Vector Vector::UNITXZ(1, 0, 1, 0);
const Vector Vector::UNITYZ(0, 1, 1, 0);
const Vector Vector::UNITZW(0, 0, 1, 1);
const Vector Vector::UNITXYZ(1, 1, 1, 0);

float Vector::Length3() const { return std::sqrt(Length3Squared()); }

float Vector::DistanceSquaredXYZ(const Vector& o) const {
    float dx = x - o.x, dy = y - o.y, dz = z - o.z;
    return dx * dx + dy * dy + dz * dz;
}

void Vector::NormalizeXYZ() {
    float len = Length3();
    x /= len, y /= len, z /= len, w = 0.0f;
}

void Vector::Cross(const Vector& a, const Vector& b) {
    *this = Vector(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f);
}

void Vector::Abs(const Vector& v) { *this = Vector(std::fabs(v.x), std::fabs(v.y), std::fabs(v.z), std::fabs(v.w)); }

void Vector::Transform(const Matrix& m, const Vector& v) {
    const Vector* r = m.r;
    *this = Vector(v.x * r[0].x + v.y * r[1].x + v.z * r[2].x + v.w * r[3].x,
                   v.x * r[0].y + v.y * r[1].y + v.z * r[2].y + v.w * r[3].y,
                   v.x * r[0].z + v.y * r[1].z + v.z * r[2].z + v.w * r[3].z,
                   v.x * r[0].w + v.y * r[1].w + v.z * r[2].w + v.w * r[3].w);
}

void Vector::Transform3D(const Matrix& m, const Vector& v) { Transform(m, Vector(v.x, v.y, v.z, 1.0f)); }

void Vector::Transform3DNormal(const Matrix& m, const Vector& v) { Transform(m, Vector(v.x, v.y, v.z, 0.0f)); }

void Vector::TransformHomogen(const Matrix& m, const Vector& v) {
    Transform(m, v);
    float inv = w;
    x /= inv, y /= inv, z /= inv, w /= inv;
}

void Vector::Reflect(const Vector& v, const Vector& n) {
    float d = 2.0f * v.Dot3(n);
    x = v.x - d * n.x, y = v.y - d * n.y, z = v.z - d * n.z;
    w = v.w;
}

void Vector::ProjectOntoPlane(const Vector& v, const Vector& n) {
    float d = v.Dot3(n);
    x = v.x - d * n.x, y = v.y - d * n.y, z = v.z - d * n.z;
    w = v.w;
}

bool Vector::ProjectOntoPlane(const Vector& direction, const Vector& point, const Vector& plane) {
    float dn = direction.Dot3(plane);
    if (std::fabs(dn) <= 0.001f) return false;
    float t = -(point.Dot3(plane) + plane.w) / dn;
    x = point.x + direction.x * t, y = point.y + direction.y * t, z = point.z + direction.z * t;
    w = point.w;
    return true;
}

bool Vector::ProjectForwardOntoPlane(const Vector& plane, const Vector& origin, const Vector& direction, float* t) {
    float dn = direction.Dot3(plane);
    if (std::fabs(dn) <= 0.001f) return false;
    float s = -(origin.Dot3(plane) + plane.w) / dn;
    if (s < 0.0f) return false;
    x = origin.x + direction.x * s, y = origin.y + direction.y * s, z = origin.z + direction.z * s;
    w = origin.w;
    if (t) *t = s;
    return true;
}

bool Vector::BuildPlaneFromPoints(const Vector& a, const Vector& b, const Vector& c) {
    Vector n;
    n.Cross(c - b, a - b);
    if (n.Length3Squared() < 0.000001f) return false;
    n.NormalizeXYZ();
    *this = Vector(n.x, n.y, n.z, -n.Dot3(a));
    return true;
}

static uint32_t UnitToByte(float v) {
    float c = v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
    if (!(c == c)) c = 0.0f;  // NaN
    return static_cast<uint32_t>(c * 255.0f);
}

uint32_t Vector::GetRGBA() const {
    return (UnitToByte(w) << 24) | (UnitToByte(x) << 16) | (UnitToByte(y) << 8) | UnitToByte(z);
}

const char* Vector::ToString() const {
    static thread_local char buffer[1024];
    std::snprintf(buffer, sizeof buffer, "[%.6f, %.6f, %.6f, %.6f]", x, y, z, w);
    return buffer;
}

void Vector::Log(uint32_t severity, uint32_t category, const char* label) const {
    if (label)
        gLog.Print(LogSeverity(severity), LogCategory(category), "%s %.6f, %.6f, %.6f, %.6f", label, x, y, z, w);
    else
        gLog.Print(LogSeverity(severity), LogCategory(category), "%.6f, %.6f, %.6f, %.6f", x, y, z, w);
}
