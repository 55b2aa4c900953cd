#pragma once
// Vector (four floats, 16-byte aligned) and Vector3 (three packed floats).
//
// Conventions shared by every maths type: points are row vectors multiplied on the
// left of a Matrix (v' = v x M, translation in row 3), coordinate systems are
// left-handed and angles at interfaces are in degrees. Operations marked "x, y, z"
// leave w alone unless they say otherwise. Planes are (a, b, c, d) with a point
// inside when a*x + b*y + c*z + d >= 0.
//
// Pure values: every operation is safe on any thread. ToString returns a
// thread-local buffer.
#include <cstdint>

class Matrix;

constexpr float kDegToRad = 0.017453292f;
constexpr float kRadToDeg = 57.29578f;
constexpr float kFloatMax = 3.4028235e38f;

struct Vector3 {
    float x = 0, y = 0, z = 0;

    Vector3() = default;
    constexpr Vector3(float ax, float ay, float az) : x(ax), y(ay), z(az) {}
    bool operator==(const Vector3&) const = default;
};
static_assert(sizeof(Vector3) == 12);

struct alignas(16) Vector {
    float x = 0, y = 0, z = 0, w = 0;

    Vector() = default;
    constexpr Vector(float ax, float ay, float az, float aw = 0.0f) : x(ax), y(ay), z(az), w(aw) {}

    static const Vector ZERO4;
    static const Vector ONE;
    static const Vector HALF;
    static const Vector RAD2DEG;
    static const Vector UNITX, UNITY, UNITZ, UNITW, UNITXY, UNITXZ, UNITYZ, UNITZW, UNITXYZ;

    float operator[](int i) const { return i == 0 ? x : i == 1 ? y : i == 2 ? z : w; }
    float& operator[](int i) { return i == 0 ? x : i == 1 ? y : i == 2 ? z : w; }

    // Component-wise arithmetic on all four components.
    Vector operator+(const Vector& o) const { return {x + o.x, y + o.y, z + o.z, w + o.w}; }
    Vector operator-(const Vector& o) const { return {x - o.x, y - o.y, z - o.z, w - o.w}; }
    Vector operator*(const Vector& o) const { return {x * o.x, y * o.y, z * o.z, w * o.w}; }
    Vector operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
    Vector operator-() const { return {-x, -y, -z, -w}; }
    Vector& operator+=(const Vector& o) { return *this = *this + o; }
    Vector& operator-=(const Vector& o) { return *this = *this - o; }
    Vector& operator*=(float s) { return *this = *this * s; }
    bool operator==(const Vector&) const = default;

    void Set(float ax, float ay, float az, float aw) { x = ax, y = ay, z = az, w = aw; }

    // x, y, z only.
    float Dot3(const Vector& o) const { return x * o.x + y * o.y + z * o.z; }
    float Length3Squared() const { return Dot3(*this); }
    float Length3() const;
    float DistanceSquaredXYZ(const Vector& o) const;
    // Divides x, y, z by their length and sets w = 0. A zero vector gives NaN: callers
    // that may see one must guard.
    void NormalizeXYZ();
    void Cross(const Vector& a, const Vector& b);  // w = 0
    void NegateXYZ() { x = -x, y = -y, z = -z; }

    // All four components.
    void Negate(const Vector& v) { *this = -v; }
    void NegateSelf() { *this = -*this; }
    void Abs(const Vector& v);
    void AbsSelf() { Abs(*this); }
    void Lerp(const Vector& a, const Vector& b, float t) { *this = a + (b - a) * t; }

    void FromVector3(const Vector3& v) { x = v.x, y = v.y, z = v.z, w = 1.0f; }
    Vector3 ToVector3() const { return {x, y, z}; }
    // x, y from the first two floats, z, w from the second two.
    void SetHalves(const float* low, const float* high) { x = low[0], y = low[1], z = high[0], w = high[1]; }

    // Row vector times matrix.
    void Transform(const Matrix& m) { Transform(m, *this); }
    void Transform(const Matrix& m, const Vector& v);                      // (x, y, z, w) x M
    void Transform3D(const Matrix& m) { Transform3D(m, *this); }
    void Transform3D(const Matrix& m, const Vector& v);                    // (x, y, z, 1) x M
    void Transform3DNormal(const Matrix& m) { Transform3DNormal(m, *this); }
    void Transform3DNormal(const Matrix& m, const Vector& v);              // (x, y, z, 0) x M
    void TransformHomogen(const Matrix& m) { TransformHomogen(m, *this); }
    void TransformHomogen(const Matrix& m, const Vector& v);               // v x M, then / w
    // A plane (a, b, c, d) times M, as a four-vector. To move a plane by a point
    // transform pass the inverse transpose of that transform.
    void TransformPlane(const Matrix& m) { Transform(m, *this); }
    void TransformPlane(const Matrix& m, const Vector& plane) { Transform(m, plane); }

    void Reflect(const Vector& v, const Vector& n);  // v - 2 (v.n) n over x, y, z
    void Reflect(const Vector& n) { Reflect(*this, n); }
    void ProjectOntoPlane(const Vector& v, const Vector& n);  // v - (v.n) n over x, y, z
    // this = point moved along direction onto the plane; false (this unchanged) when
    // |direction . normal| <= 0.001.
    bool ProjectOntoPlane(const Vector& direction, const Vector& point, const Vector& plane);
    // this = origin + direction x t for the forward hit of the ray on the plane; false
    // (nothing written) when |direction . normal| <= 0.001 or the hit lies behind.
    bool ProjectForwardOntoPlane(const Vector& plane, const Vector& origin, const Vector& direction, float* t);
    // this = plane through a, b, c with normal normalise((c - b) x (a - b)); false
    // (this unchanged) when that cross product's squared length is below 0.000001.
    bool BuildPlaneFromPoints(const Vector& a, const Vector& b, const Vector& c);

    // 0xAARRGGBB from w, x, y, z, each clamped to 0..1, times 255, truncated.
    uint32_t GetRGBA() const;
    // "[%.6f, %.6f, %.6f, %.6f]" in a buffer private to the calling thread, valid until
    // that thread's next call.
    const char* ToString() const;
    // "%s %.6f, %.6f, %.6f, %.6f" with a label, without it "%.6f, %.6f, %.6f, %.6f".
    void Log(uint32_t severity, uint32_t category, const char* label = nullptr) const;
};
static_assert(sizeof(Vector) == 16 && alignof(Vector) == 16);

inline Vector operator*(float s, const Vector& v) { return v * s; }
