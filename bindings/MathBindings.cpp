#include "bindings/MathBindings.h"

#include <algorithm>
#include <cmath>

#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"

Vector VectorInstance() { return Vector(0, 0, 0, 0); }
Vector VectorInstance(float x, float y, float z, float w) { return Vector(x, y, z, w); }
Vector VectorInstance(float x, float y, float z) { return Vector(x, y, z, 1.0f); }
Vector VectorInstance(const Vector& v) { return v; }
void VectorSetFrom(Vector* self, const Vector& v) { *self = v; }
void VectorSet3(Vector* self, float x, float y, float z) { self->Set(x, y, z, 1.0f); }

bool VectorGetComponent(const Vector* self, int32_t index, float* value) {
    if (index < 0 || index > 3) return false;
    *value = (*self)[index];
    return true;
}

void VectorSetComponent(Vector* self, int32_t index, float value) {
    if (index >= 0 && index <= 3) (*self)[index] = value;
}

void VectorScale(Vector* self, float s) { *self *= s; }
void VectorScaleOf(Vector* self, const Vector& v, float s) { *self = v * s; }
void VectorMulBy(Vector* self, const Vector& v) { *self = *self * v; }
void VectorMulOf(Vector* self, const Vector& a, const Vector& b) { *self = a * b; }
void VectorDivBy(Vector* self, float s) { *self = Vector(self->x / s, self->y / s, self->z / s, self->w / s); }
void VectorDivOf(Vector* self, const Vector& v, float s) { *self = Vector(v.x / s, v.y / s, v.z / s, v.w / s); }
void VectorDivByVector(Vector* self, const Vector& v) { VectorDivOfVectors(self, *self, v); }
void VectorDivOfVectors(Vector* self, const Vector& a, const Vector& b) {
    *self = Vector(a.x / b.x, a.y / b.y, a.z / b.z, a.w / b.w);
}
void VectorAdd(Vector* self, const Vector& v) { *self += v; }
void VectorAddOf(Vector* self, const Vector& a, const Vector& b) { *self = a + b; }
void VectorMulAddScaled(Vector* self, const Vector& v, float s) { *self = *self + v * s; }
void VectorMulAddScaledOf(Vector* self, const Vector& a, const Vector& v, float s) { *self = a + v * s; }
void VectorMulAddProduct(Vector* self, const Vector& a, const Vector& b) { *self = *self + a * b; }
void VectorMulAddProductOf(Vector* self, const Vector& a, const Vector& b, const Vector& c) { *self = a + b * c; }
void VectorSub(Vector* self, const Vector& v) { *self -= v; }
void VectorSubOf(Vector* self, const Vector& a, const Vector& b) { *self = a - b; }

void VectorLerpBy(Vector* self, const Vector& a, const Vector& b, const Vector& t) {
    const Vector one(1, 1, 1, 1);
    *self = a * (one - t) + b * t;
}

void VectorNegateXYZOf(Vector* self, const Vector& v) { *self = Vector(-v.x, -v.y, -v.z, v.w); }

void VectorMin(Vector* self, const Vector& v) { VectorMinOf(self, *self, v); }
void VectorMinOf(Vector* self, const Vector& a, const Vector& b) {
    *self = Vector(std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z), std::min(a.w, b.w));
}
void VectorMax(Vector* self, const Vector& v) { VectorMaxOf(self, *self, v); }
void VectorMaxOf(Vector* self, const Vector& a, const Vector& b) {
    *self = Vector(std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z), std::max(a.w, b.w));
}
void VectorClamp(Vector* self, const Vector& lo, const Vector& hi) { VectorClampOf(self, *self, lo, hi); }
void VectorClampOf(Vector* self, const Vector& v, const Vector& lo, const Vector& hi) {
    Vector raised;
    VectorMaxOf(&raised, v, lo);
    VectorMinOf(self, hi, raised);
}

void VectorTransformPlaneBy(Vector* self, const Vector& plane, const Matrix& m) { self->TransformPlane(m, plane); }

bool VectorProjectForwardOntoPlane(Vector* self, const Vector& plane, const Vector& origin, const Vector& direction) {
    float t = 0;
    return self->ProjectForwardOntoPlane(plane, origin, direction, &t);
}

float VectorDistance(const Vector* self, const Vector& v) { return std::sqrt(self->DistanceSquaredXYZ(v)); }
float VectorDistance2XZ(const Vector* self, const Vector& v) {
    const float dx = self->x - v.x, dz = self->z - v.z;
    return dx * dx + dz * dz;
}
float VectorDistanceXZ(const Vector* self, const Vector& v) { return std::sqrt(VectorDistance2XZ(self, v)); }
float VectorDot4(const Vector* self, const Vector& v) { return self->Dot3(v) + self->w * v.w; }

void VectorNormalize(Vector* self) {
    const float length = self->Length3();
    if (!(length > 0.0f)) return;
    *self = Vector(self->x / length, self->y / length, self->z / length, self->w / length);
}

void VectorNormalizeEst(Vector* self) {
    const float squared = self->Length3Squared();
    if (!(squared > 0.0f)) return;
    *self = *self * (1.0f / std::sqrt(squared));
}

void VectorCrossWith(Vector* self, const Vector& v) {
    const Vector a = *self;
    self->Cross(a, v);
}

bool VectorEqual(const Vector* self, const Vector& v) { return *self == v; }

Matrix MatrixInstance() { return Matrix::ZERO; }
Matrix MatrixInstance(const Vector& r0, const Vector& r1, const Vector& r2, const Vector& r3) {
    return Matrix(r0, r1, r2, r3);
}
Matrix MatrixInstance(const Matrix& m) { return m; }
void MatrixLoadScale3(Matrix* self, float x, float y, float z) { self->LoadScale(Vector(x, y, z, 1.0f)); }
Vector* MatrixRow(Matrix* self, int32_t index) { return index >= 0 && index <= 3 ? &self->r[index] : nullptr; }

Quaternion QuaternionInstance() { return Quaternion(0, 0, 0, 0); }
Quaternion QuaternionInstance(float x, float y, float z, float w) { return Quaternion(x, y, z, w); }
Quaternion QuaternionInstance(const Quaternion& q) { return q; }

void QuaternionSetAxisAlpha(Quaternion* self, const Vector& axis, float degrees) {
    if (!(axis.Length3Squared() > 0.0f)) {
        *self = Quaternion::ZERO;
        return;
    }
    self->SetAxisAlpha(axis, degrees);
}

BoundingBox4 BoxInstance() { return BoundingBox4(Vector(0, 0, 0, 0), Vector(0, 0, 0, 0)); }
BoundingBox4 BoxInstance(const Vector& min, const Vector& max) { return BoundingBox4(min, max); }
BoundingBox4 BoxInstance(const BoundingBox4& b) { return b; }
void BoxSet(BoundingBox4* self, const Vector& min, const Vector& max) { *self = BoundingBox4(min, max); }
void BoxSetFrom(BoundingBox4* self, const BoundingBox4& b) { *self = b; }
const Vector& BoxGetMin(const BoundingBox4* self) { return self->min; }
const Vector& BoxGetMax(const BoundingBox4* self) { return self->max; }

void BoxGetCenter(const BoundingBox4* self, Vector* out) {
    if (out) *out = self->GetCenter();
}

void BoxGetVertex(const BoundingBox4* self, Vector* out, int32_t index) {
    if (out && index >= 0 && index <= 7) *out = self->GetVertex(static_cast<uint32_t>(index));
}

void BoxGetNearestPoint(const BoundingBox4* self, const Vector& point, Vector* out) {
    if (out) *out = self->GetNearestPoint(point);
}

OBBox4 OrientedBoxInstance() {
    OBBox4 b;
    b.center = b.xextent = b.yextent = b.zextent = Vector(0, 0, 0, 0);
    return b;
}
OBBox4 OrientedBoxInstance(const OBBox4& b) { return b; }

Vector* OrientedBoxExtent(OBBox4* self, int32_t index) {
    switch (index) {
    case 0:
        return &self->xextent;
    case 1:
        return &self->yextent;
    case 2:
        return &self->zextent;
    default:
        return nullptr;
    }
}

void OrientedBoxSetCenter(OBBox4* self, const Vector& v) { self->center = v; }

void OrientedBoxSetExtent(OBBox4* self, int32_t index, const Vector& v) {
    if (Vector* extent = OrientedBoxExtent(self, index)) *extent = v;
}

void OrientedBoxGetClosestPoint(const OBBox4* self, const Vector& point, Vector* out) {
    if (out) *out = self->GetClosestPoint(point);
}
