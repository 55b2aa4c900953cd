#pragma once
// Matrix: four row vectors. A point is transformed as x*r[0] + y*r[1] + z*r[2] + w*r[3];
// row 3 holds the translation; projections are left-handed; angles are degrees.
//
// Product rule used by every caller: Mul(a, b) sets this = b x a, so a point
// transformed by the result goes through b first, then a; Mul(m) sets this = m x this
// (m is applied before the old contents).
#include "core/math/Vector.h"

struct BoundingBox4;
struct Quaternion;

class alignas(16) Matrix {
public:
    Vector r[4];

    static const Matrix IDENTITY;
    static const Matrix ZERO;

    Matrix() = default;
    Matrix(const Vector& r0, const Vector& r1, const Vector& r2, const Vector& r3) : r{r0, r1, r2, r3} {}

    float At(int row, int column) const { return r[row][column]; }

    void Set(const Vector& r0, const Vector& r1, const Vector& r2, const Vector& r3) { *this = Matrix(r0, r1, r2, r3); }
    void Set(const Matrix& m) { *this = m; }
    void LoadIdentity() { *this = IDENTITY; }
    void LoadZero() { *this = ZERO; }

    void Mul(const Matrix& a, const Matrix& b);  // this = b x a
    void Mul(const Matrix& m);                   // this = m x this

    void Transpose();
    void Transpose(const Matrix& m);
    void LoadTransposed(const Matrix& m) { Transpose(m); }
    // False for a singular matrix (|det| below the smallest normal float, or not
    // finite); the result is then the identity.
    bool Inverse();
    bool Inverse(const Matrix& m);
    float Det() const;
    bool operator==(const Matrix& o) const;
    // this = transpose of the three stored rows (12 floats) completed by (0, 0, 0, 1):
    // the packed 3 x 4 form of mesh data.
    void FromTransposed3x4(const float* rows12);

    void LoadTranslation(const Vector& t) { LoadTranslation(t.x, t.y, t.z); }
    void LoadTranslation(float x, float y, float z);
    void LoadScale(const Vector& s) { LoadScale(s.x, s.y, s.z); }
    void LoadScale(float x, float y, float z);
    void LoadUniformScale(float s) { LoadScale(s, s, s); }
    void LoadXRotation(float degrees);
    void LoadYRotation(float degrees);
    void LoadZRotation(float degrees);
    void LoadQuaternion(const Quaternion& q);
    void LoadQuaternionAndTranslation(const Quaternion& q, const Vector& t);
    void LoadQuaternionTranslationAndScale(const Quaternion& q, const Vector& t, const Vector& s);

    // The classic left-handed view and projection matrices.
    void LoadLookAtLH(const Vector& eye, const Vector& at, const Vector& up);
    void LoadPerspectiveLH(float width, float height, float zn, float zf);
    void LoadPerspectiveOffCenterLH(float left, float right, float bottom, float top, float zn, float zf);
    void LoadOrthoOffCenterLH(float left, float right, float bottom, float top, float zn, float zf);
    void LoadPerspectiveFovLH(float fovYDegrees, float aspect, float zn, float zf);
    // The camera's world matrix: rows 0-2 = right, up, forward; row 3 = the eye. The
    // inverse of LoadLookAtLH for the same arguments.
    void LoadInverseLookAtLH(const Vector& eye, const Vector& at, const Vector& up);
    // Maps the unit cube 0..1 onto the box.
    void LoadZeroOneToBox(const BoundingBox4& box);

    // S x Rx x Ry x Rz with row 3 = (position, 1): scale, rotate about X, then Y, then
    // Z, then translate.
    void LoadComplexTransformation(const Vector& position, const Vector& anglesDegrees, const Vector& scale);
    // Undoes LoadComplexTransformation: angles in 0..360 degrees (w = 1); a negative
    // determinant gives a negative z scale. Null outputs are skipped.
    void Decompose(Vector* translation, Vector* anglesDegrees, Vector* scale) const;

    // A matrix at source position + weight x (target position - source position) whose
    // axes keep the source's lengths, directed by mode:
    //  1 the target's axis directions;
    //  2 z toward the target position, x and y rebuilt from the target's y axis;
    //  3 z toward the target position, x and y rebuilt from the source's y axis;
    //  4 x along the target's x axis, y and z rebuilt from the source's z axis;
    //  5 y along the target's y axis, z and x rebuilt from the source's z axis;
    //  6 z along the target's z axis, x and y rebuilt from the source's y axis;
    //  7 y toward the target position, z and x rebuilt from the source's z axis.
    // Any other mode keeps the source's axes.
    void LoadAlignedToTarget(const Matrix& source, uint32_t mode, const Matrix& target, float weight);

    // The four rows through Vector::Log.
    void Log(uint32_t severity, uint32_t category, const char* label = nullptr) const;
};
static_assert(sizeof(Matrix) == 64 && alignof(Matrix) == 16);
