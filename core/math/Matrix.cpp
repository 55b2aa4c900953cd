// Matrix operations. Row-vector convention: v' = v x M, translation in row 3.
#include "core/math/Matrix.h"

#include <cmath>
#include <limits>

#include "core/math/BoundingBox4.h"
#include "core/math/Quaternion.h"

const Matrix Matrix::IDENTITY(Vector(1, 0, 0, 0), Vector(0, 1, 0, 0), Vector(0, 0, 1, 0), Vector(0, 0, 0, 1));
const Matrix Matrix::ZERO(Vector(0, 0, 0, 0), Vector(0, 0, 0, 0), Vector(0, 0, 0, 0), Vector(0, 0, 0, 0));

namespace {

// p x q in the usual row-by-column sense.
Matrix Product(const Matrix& p, const Matrix& q) {
    Matrix out;
    for (int i = 0; i < 4; ++i) out.r[i].Transform(q, p.r[i]);
    return out;
}

Vector CrossOf(const Vector& a, const Vector& b) {
    Vector c;
    c.Cross(a, b);
    return c;
}

// Unit vector along v; a vector of length 0.0001 or less is returned as it is.
Vector DirectionOf(const Vector& v) {
    float len = v.Length3();
    if (len <= 0.0001f) return Vector(v.x, v.y, v.z, 0.0f);
    return Vector(v.x / len, v.y / len, v.z / len, 0.0f);
}

// The three camera axes of a left-handed look-at.
void LookAxes(const Vector& eye, const Vector& at, const Vector& up, Vector* xa, Vector* ya, Vector* za) {
    Vector z = at - eye;
    z.NormalizeXYZ();
    Vector x = CrossOf(up, z);
    x.NormalizeXYZ();
    *xa = x;
    *ya = CrossOf(z, x);
    *za = z;
}

}  // namespace

void Matrix::Mul(const Matrix& a, const Matrix& b) { *this = Product(b, a); }

void Matrix::Mul(const Matrix& m) { *this = Product(m, *this); }

void Matrix::Transpose() { Transpose(Matrix(*this)); }

void Matrix::Transpose(const Matrix& m) {
    Matrix t;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) t.r[i][j] = m.r[j][i];
    *this = t;
}

// The 2 x 2 minors of rows 0-1 (s) and rows 2-3 (c) that the determinant and the
// adjugate share; returns the determinant.
static float Minors(const Vector* m, float s[6], float c[6]) {
    s[0] = m[0].x * m[1].y - m[1].x * m[0].y;
    s[1] = m[0].x * m[1].z - m[1].x * m[0].z;
    s[2] = m[0].x * m[1].w - m[1].x * m[0].w;
    s[3] = m[0].y * m[1].z - m[1].y * m[0].z;
    s[4] = m[0].y * m[1].w - m[1].y * m[0].w;
    s[5] = m[0].z * m[1].w - m[1].z * m[0].w;
    c[5] = m[2].z * m[3].w - m[3].z * m[2].w;
    c[4] = m[2].y * m[3].w - m[3].y * m[2].w;
    c[3] = m[2].y * m[3].z - m[3].y * m[2].z;
    c[2] = m[2].x * m[3].w - m[3].x * m[2].w;
    c[1] = m[2].x * m[3].z - m[3].x * m[2].z;
    c[0] = m[2].x * m[3].y - m[3].x * m[2].y;
    return s[0] * c[5] - s[1] * c[4] + s[2] * c[3] + s[3] * c[2] - s[4] * c[1] + s[5] * c[0];
}

float Matrix::Det() const {
    float s[6], c[6];
    return Minors(r, s, c);
}

bool Matrix::Inverse() { return Inverse(Matrix(*this)); }

bool Matrix::Inverse(const Matrix& src) {
    const Vector* m = src.r;
    float s[6], c[6];
    float det = Minors(m, s, c);
    if (!std::isfinite(det) || std::fabs(det) < std::numeric_limits<float>::min()) {
        *this = IDENTITY;
        return false;
    }
    float k = 1.0f / det;
    Matrix o;
    o.r[0] = Vector((m[1].y * c[5] - m[1].z * c[4] + m[1].w * c[3]) * k, (-m[0].y * c[5] + m[0].z * c[4] - m[0].w * c[3]) * k,
                    (m[3].y * s[5] - m[3].z * s[4] + m[3].w * s[3]) * k, (-m[2].y * s[5] + m[2].z * s[4] - m[2].w * s[3]) * k);
    o.r[1] = Vector((-m[1].x * c[5] + m[1].z * c[2] - m[1].w * c[1]) * k, (m[0].x * c[5] - m[0].z * c[2] + m[0].w * c[1]) * k,
                    (-m[3].x * s[5] + m[3].z * s[2] - m[3].w * s[1]) * k, (m[2].x * s[5] - m[2].z * s[2] + m[2].w * s[1]) * k);
    o.r[2] = Vector((m[1].x * c[4] - m[1].y * c[2] + m[1].w * c[0]) * k, (-m[0].x * c[4] + m[0].y * c[2] - m[0].w * c[0]) * k,
                    (m[3].x * s[4] - m[3].y * s[2] + m[3].w * s[0]) * k, (-m[2].x * s[4] + m[2].y * s[2] - m[2].w * s[0]) * k);
    o.r[3] = Vector((-m[1].x * c[3] + m[1].y * c[1] - m[1].z * c[0]) * k, (m[0].x * c[3] - m[0].y * c[1] + m[0].z * c[0]) * k,
                    (-m[3].x * s[3] + m[3].y * s[1] - m[3].z * s[0]) * k, (m[2].x * s[3] - m[2].y * s[1] + m[2].z * s[0]) * k);
    *this = o;
    return true;
}

bool Matrix::operator==(const Matrix& o) const {
    return r[0] == o.r[0] && r[1] == o.r[1] && r[2] == o.r[2] && r[3] == o.r[3];
}

void Matrix::FromTransposed3x4(const float* s) {
    r[0] = Vector(s[0], s[4], s[8], 0.0f);
    r[1] = Vector(s[1], s[5], s[9], 0.0f);
    r[2] = Vector(s[2], s[6], s[10], 0.0f);
    r[3] = Vector(s[3], s[7], s[11], 1.0f);
}

void Matrix::LoadTranslation(float x, float y, float z) {
    *this = IDENTITY;
    r[3] = Vector(x, y, z, 1.0f);
}

void Matrix::LoadScale(float x, float y, float z) {
    *this = ZERO;
    r[0].x = x, r[1].y = y, r[2].z = z, r[3].w = 1.0f;
}

void Matrix::LoadXRotation(float degrees) {
    float a = degrees * kDegToRad, s = std::sin(a), c = std::cos(a);
    Set(Vector(1, 0, 0, 0), Vector(0, c, s, 0), Vector(0, -s, c, 0), Vector(0, 0, 0, 1));
}

void Matrix::LoadYRotation(float degrees) {
    float a = degrees * kDegToRad, s = std::sin(a), c = std::cos(a);
    Set(Vector(c, 0, -s, 0), Vector(0, 1, 0, 0), Vector(s, 0, c, 0), Vector(0, 0, 0, 1));
}

void Matrix::LoadZRotation(float degrees) {
    float a = degrees * kDegToRad, s = std::sin(a), c = std::cos(a);
    Set(Vector(c, s, 0, 0), Vector(-s, c, 0, 0), Vector(0, 0, 1, 0), Vector(0, 0, 0, 1));
}

void Matrix::LoadQuaternion(const Quaternion& q) { LoadQuaternionAndTranslation(q, Vector::ZERO4); }

void Matrix::LoadQuaternionAndTranslation(const Quaternion& q, const Vector& t) {
    float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    float xw = q.x * q.w, yw = q.y * q.w, zw = q.z * q.w;
    r[0] = Vector(1.0f - 2.0f * (yy + zz), 2.0f * (xy + zw), 2.0f * (xz - yw), 0.0f);
    r[1] = Vector(2.0f * (xy - zw), 1.0f - 2.0f * (xx + zz), 2.0f * (yz + xw), 0.0f);
    r[2] = Vector(2.0f * (xz + yw), 2.0f * (yz - xw), 1.0f - 2.0f * (xx + yy), 0.0f);
    r[3] = Vector(t.x, t.y, t.z, 1.0f);
}

void Matrix::LoadQuaternionTranslationAndScale(const Quaternion& q, const Vector& t, const Vector& s) {
    LoadQuaternionAndTranslation(q, t);
    r[0] *= s.x;
    r[1] *= s.y;
    r[2] *= s.z;
}

void Matrix::LoadLookAtLH(const Vector& eye, const Vector& at, const Vector& up) {
    Vector x, y, z;
    LookAxes(eye, at, up, &x, &y, &z);
    Set(Vector(x.x, y.x, z.x, 0), Vector(x.y, y.y, z.y, 0), Vector(x.z, y.z, z.z, 0),
        Vector(-x.Dot3(eye), -y.Dot3(eye), -z.Dot3(eye), 1));
}

void Matrix::LoadInverseLookAtLH(const Vector& eye, const Vector& at, const Vector& up) {
    Vector x, y, z;
    LookAxes(eye, at, up, &x, &y, &z);
    Set(Vector(x.x, x.y, x.z, 0), Vector(y.x, y.y, y.z, 0), Vector(z.x, z.y, z.z, 0), Vector(eye.x, eye.y, eye.z, 1));
}

void Matrix::LoadPerspectiveLH(float w, float h, float zn, float zf) {
    Set(Vector(2.0f * zn / w, 0, 0, 0), Vector(0, 2.0f * zn / h, 0, 0), Vector(0, 0, zf / (zf - zn), 1),
        Vector(0, 0, zn * zf / (zn - zf), 0));
}

void Matrix::LoadPerspectiveOffCenterLH(float l, float rt, float b, float t, float zn, float zf) {
    Set(Vector(2.0f * zn / (rt - l), 0, 0, 0), Vector(0, 2.0f * zn / (t - b), 0, 0),
        Vector((l + rt) / (l - rt), (t + b) / (b - t), zf / (zf - zn), 1), Vector(0, 0, zn * zf / (zn - zf), 0));
}

void Matrix::LoadOrthoOffCenterLH(float l, float rt, float b, float t, float zn, float zf) {
    Set(Vector(2.0f / (rt - l), 0, 0, 0), Vector(0, 2.0f / (t - b), 0, 0), Vector(0, 0, 1.0f / (zf - zn), 0),
        Vector((l + rt) / (l - rt), (t + b) / (b - t), zn / (zn - zf), 1));
}

void Matrix::LoadPerspectiveFovLH(float fovYDegrees, float aspect, float zn, float zf) {
    float half = fovYDegrees * kDegToRad * 0.5f;
    float ys = std::cos(half) / std::sin(half);
    float xs = ys / aspect;
    Set(Vector(xs, 0, 0, 0), Vector(0, ys, 0, 0), Vector(0, 0, zf / (zf - zn), 1),
        Vector(0, 0, -zn * zf / (zf - zn), 0));
}

void Matrix::LoadZeroOneToBox(const BoundingBox4& box) {
    Vector size = box.max - box.min;
    LoadScale(size.x, size.y, size.z);
    r[3] = Vector(box.min.x, box.min.y, box.min.z, 1.0f);
}

void Matrix::LoadComplexTransformation(const Vector& position, const Vector& angles, const Vector& scale) {
    Matrix s, rx, ry, rz;
    s.LoadScale(scale);
    rx.LoadXRotation(angles.x);
    ry.LoadYRotation(angles.y);
    rz.LoadZRotation(angles.z);
    *this = Product(Product(Product(s, rx), ry), rz);
    r[3] = Vector(position.x, position.y, position.z, 1.0f);
}

void Matrix::Decompose(Vector* translation, Vector* angles, Vector* scale) const {
    if (translation) *translation = r[3];
    Vector sc(r[0].Length3(), r[1].Length3(), r[2].Length3(), 0.0f);
    if (Det() < 0.0f) sc.z = -sc.z;
    if (scale) *scale = sc;
    if (!angles) return;

    Vector rows[3];
    for (int i = 0; i < 3; ++i) {
        rows[i] = r[i];
        float s = sc[i];
        if (std::fabs(s) > 0.0001f) rows[i] = Vector(rows[i].x / s, rows[i].y / s, rows[i].z / s, rows[i].w / s);
    }
    float ax, ay, az;
    if (rows[0].z >= 0.999999f) {
        ay = 4.712389f;
        az = 0.0f;
        ax = std::atan2(-rows[1].x, -rows[2].x);
    } else if (rows[0].z <= -0.999999f) {
        ay = 1.5707964f;
        az = 0.0f;
        ax = std::atan2(rows[1].x, rows[2].x);
    } else {
        ax = std::atan2(rows[1].z, rows[2].z);
        ay = std::asin(-rows[0].z);
        az = std::atan2(rows[0].y, rows[0].x);
    }
    Vector deg(ax * kRadToDeg, ay * kRadToDeg, az * kRadToDeg, 1.0f);
    for (int i = 0; i < 3; ++i)
        if (deg[i] < 0.0f) deg[i] += 360.0f;
    *angles = deg;
}

void Matrix::LoadAlignedToTarget(const Matrix& source, uint32_t mode, const Matrix& target, float weight) {
    const Vector& sp = source.r[3];
    const Vector& tp = target.r[3];
    float len[3] = {source.r[0].Length3(), source.r[1].Length3(), source.r[2].Length3()};
    Vector toTarget = tp - sp;
    Vector ax[3] = {DirectionOf(source.r[0]), DirectionOf(source.r[1]), DirectionOf(source.r[2])};
    switch (mode) {
    case 1:
        for (int i = 0; i < 3; ++i) ax[i] = DirectionOf(target.r[i]);
        break;
    case 2:
    case 3:
    case 6:
        ax[2] = DirectionOf(mode == 6 ? target.r[2] : toTarget);
        ax[0] = DirectionOf(CrossOf(mode == 2 ? target.r[1] : source.r[1], ax[2]));
        ax[1] = DirectionOf(CrossOf(ax[2], ax[0]));
        break;
    case 4:
        ax[0] = DirectionOf(target.r[0]);
        ax[1] = DirectionOf(CrossOf(source.r[2], ax[0]));
        ax[2] = DirectionOf(CrossOf(ax[0], ax[1]));
        break;
    case 5:
    case 7:
        ax[1] = DirectionOf(mode == 5 ? target.r[1] : toTarget);
        ax[0] = DirectionOf(CrossOf(ax[1], source.r[2]));
        ax[2] = DirectionOf(CrossOf(ax[0], ax[1]));
        break;
    default:
        break;
    }
    for (int i = 0; i < 3; ++i) r[i] = ax[i] * len[i];
    r[3] = Vector(sp.x + weight * toTarget.x, sp.y + weight * toTarget.y, sp.z + weight * toTarget.z, 1.0f);
}

void Matrix::Log(uint32_t severity, uint32_t category, const char* label) const {
    for (int i = 0; i < 4; ++i) r[i].Log(severity, category, label);
}
