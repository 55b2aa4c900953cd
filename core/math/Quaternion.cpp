// Quaternion operations.
#include "core/math/Quaternion.h"

#include <cmath>

#include "core/math/Matrix.h"

const Quaternion Quaternion::ZERO(0, 0, 0, 1);
const Quaternion Quaternion::MAX(kFloatMax, kFloatMax, kFloatMax, kFloatMax);

void Quaternion::Mul(const Quaternion& a, const Quaternion& b) {
    *this = Quaternion(a.w * b.x + b.w * a.x + (a.y * b.z - a.z * b.y),
                       a.w * b.y + b.w * a.y + (a.z * b.x - a.x * b.z),
                       a.w * b.z + b.w * a.z + (a.x * b.y - a.y * b.x),
                       a.w * b.w - (a.x * b.x + a.y * b.y + a.z * b.z));
}

void Quaternion::SetAxisAlpha(const Vector& axis, float degrees) {
    Vector n = axis;
    n.NormalizeXYZ();
    float half = degrees * kDegToRad * 0.5f;
    float s = std::sin(half);
    *this = Quaternion(n.x * s, n.y * s, n.z * s, std::cos(half));
}

void Quaternion::LoadMatrix(const Matrix& m) {
    float t = m.At(0, 0) + m.At(1, 1) + m.At(2, 2);
    if (t > 0.0f) {
        float r = std::sqrt(t + 1.0f);
        float f = 0.5f / r;
        *this = Quaternion((m.At(1, 2) - m.At(2, 1)) * f, (m.At(2, 0) - m.At(0, 2)) * f, (m.At(0, 1) - m.At(1, 0)) * f,
                           r * 0.5f);
        return;
    }
    int i = 0;
    if (m.At(1, 1) > m.At(0, 0)) i = 1;
    if (m.At(2, 2) > m.At(i, i)) i = 2;
    int j = (i + 1) % 3, k = (j + 1) % 3;
    float r = std::sqrt(m.At(i, i) - (m.At(j, j) + m.At(k, k)) + 1.0f);
    float f = r == 0.0f ? 0.0f : 0.5f / r;
    float q[3];
    q[i] = r * 0.5f;
    q[j] = (m.At(i, j) + m.At(j, i)) * f;
    q[k] = (m.At(i, k) + m.At(k, i)) * f;
    *this = Quaternion(q[0], q[1], q[2], (m.At(j, k) - m.At(k, j)) * f);
}

void Quaternion::Slerp(const Quaternion& a, const Quaternion& bIn, float t) {
    Quaternion b = bIn;
    float d = a.Dot(b);
    if (d < 0.0f) {
        b = Quaternion(-b.x, -b.y, -b.z, -b.w);
        d = -d;
    }
    float s0, s1;
    if (1.0f - d > 0.001f) {
        float theta = std::acos(d);
        float st = std::sin(theta);
        s0 = std::sin((1.0f - t) * theta) / st;
        s1 = std::sin(t * theta) / st;
    } else {
        s0 = 1.0f - t;
        s1 = t;
    }
    *this = Quaternion(s0 * a.x + s1 * b.x, s0 * a.y + s1 * b.y, s0 * a.z + s1 * b.z, s0 * a.w + s1 * b.w);
}
