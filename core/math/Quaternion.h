#pragma once
// Quaternion (x, y, z, w; w is the scalar part), 16-byte aligned. Unit quaternions
// represent rotations; Matrix::LoadQuaternion turns one into the matching row-vector
// rotation matrix. Angles are degrees.
#include "core/math/Vector.h"

class Matrix;

struct alignas(16) Quaternion {
    float x = 0, y = 0, z = 0, w = 1;

    Quaternion() = default;
    constexpr Quaternion(float ax, float ay, float az, float aw) : x(ax), y(ay), z(az), w(aw) {}

    static const Quaternion ZERO;  // the identity rotation (0, 0, 0, 1)
    static const Quaternion MAX;   // 3.4028235e38 four times

    bool operator==(const Quaternion&) const = default;
    float Dot(const Quaternion& o) const { return x * o.x + y * o.y + z * o.z + w * o.w; }

    void Mul(const Quaternion& a, const Quaternion& b);  // this = a (x) b (Hamilton, a on the left)
    void Mul(const Quaternion& q) { Mul(*this, q); }     // this = this (x) q
    void Conjugate() { x = -x, y = -y, z = -z; }
    // The axis is normalised here.
    void SetAxisAlpha(const Vector& axis, float degrees);
    void LoadXRotation(float degrees) { SetAxisAlpha(Vector::UNITX, degrees); }
    void LoadYRotation(float degrees) { SetAxisAlpha(Vector::UNITY, degrees); }
    void LoadZRotation(float degrees) { SetAxisAlpha(Vector::UNITZ, degrees); }
    // The rotation part of m (unscaled rows expected).
    void LoadMatrix(const Matrix& m);
    // Shortest-arc interpolation: b is negated when a . b < 0; linear weights when
    // 1 - |a . b| <= 0.001. The result is not renormalised.
    void Slerp(const Quaternion& a, const Quaternion& b, float t);
};
static_assert(sizeof(Quaternion) == 16 && alignof(Quaternion) == 16);
