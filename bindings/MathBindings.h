#pragma once
// The arithmetic the maths package does in its bindings, over the core maths types: the
// script names the natives do not have. Each helper writes into `self` (or answers) as
// the package table of its name says; the package calls them as methods
// (tolua_outside). All arithmetic is single precision, as the natives'.
//
// Threads: any (pure functions of their arguments).
#include <cstdint>

struct Vector;
struct Quaternion;
struct BoundingBox4;
struct OBBox4;
class Matrix;

// ---- Vector ----
Vector VectorInstance();  // zeroed
Vector VectorInstance(float x, float y, float z, float w);
Vector VectorInstance(float x, float y, float z);  // w = 1
Vector VectorInstance(const Vector& v);
void VectorSetFrom(Vector* self, const Vector& v);
void VectorSet3(Vector* self, float x, float y, float z);  // w = 1
// Component i (0 = x .. 3 = w); outside 0..3 a read answers false and a write does nothing.
bool VectorGetComponent(const Vector* self, int32_t index, float* value);
void VectorSetComponent(Vector* self, int32_t index, float value);
void VectorScale(Vector* self, float s);
void VectorScaleOf(Vector* self, const Vector& v, float s);
void VectorMulBy(Vector* self, const Vector& v);
void VectorMulOf(Vector* self, const Vector& a, const Vector& b);
void VectorDivBy(Vector* self, float s);
void VectorDivOf(Vector* self, const Vector& v, float s);
void VectorDivByVector(Vector* self, const Vector& v);
void VectorDivOfVectors(Vector* self, const Vector& a, const Vector& b);
void VectorAdd(Vector* self, const Vector& v);
void VectorAddOf(Vector* self, const Vector& a, const Vector& b);
void VectorMulAddScaled(Vector* self, const Vector& v, float s);               // self += v s
void VectorMulAddScaledOf(Vector* self, const Vector& a, const Vector& v, float s);  // a + v s
void VectorMulAddProduct(Vector* self, const Vector& a, const Vector& b);      // self += a b
void VectorMulAddProductOf(Vector* self, const Vector& a, const Vector& b, const Vector& c);  // a + b c
void VectorSub(Vector* self, const Vector& v);
void VectorSubOf(Vector* self, const Vector& a, const Vector& b);
void VectorLerpBy(Vector* self, const Vector& a, const Vector& b, const Vector& t);  // per component
void VectorNegateXYZOf(Vector* self, const Vector& v);
void VectorMin(Vector* self, const Vector& v);
void VectorMinOf(Vector* self, const Vector& a, const Vector& b);
void VectorMax(Vector* self, const Vector& v);
void VectorMaxOf(Vector* self, const Vector& a, const Vector& b);
void VectorClamp(Vector* self, const Vector& lo, const Vector& hi);
void VectorClampOf(Vector* self, const Vector& v, const Vector& lo, const Vector& hi);
void VectorTransformPlaneBy(Vector* self, const Vector& plane, const Matrix& m);
bool VectorProjectForwardOntoPlane(Vector* self, const Vector& plane, const Vector& origin, const Vector& direction);
float VectorDistance(const Vector* self, const Vector& v);
float VectorDistanceXZ(const Vector* self, const Vector& v);
float VectorDistance2XZ(const Vector* self, const Vector& v);
float VectorDot4(const Vector* self, const Vector& v);
// Divide all four components by the 3-D length; a vector of zero 3-D length is left
// unchanged (no NaN reaches a transform).
void VectorNormalize(Vector* self);
// The same through the reciprocal square root, computed exactly (1 / sqrt) so that every
// processor, and both peers of a match, get the same bits.
void VectorNormalizeEst(Vector* self);
void VectorCrossWith(Vector* self, const Vector& v);  // self = self x v, w = 0
bool VectorEqual(const Vector* self, const Vector& v);

// ---- Matrix ----
Matrix MatrixInstance();  // zeroed
Matrix MatrixInstance(const Vector& r0, const Vector& r1, const Vector& r2, const Vector& r3);
Matrix MatrixInstance(const Matrix& m);
void MatrixLoadScale3(Matrix* self, float x, float y, float z);
// Row i (0..3) of the matrix, null outside.
Vector* MatrixRow(Matrix* self, int32_t index);

// ---- Quaternion ----
Quaternion QuaternionInstance();  // zeroed
Quaternion QuaternionInstance(float x, float y, float z, float w);
Quaternion QuaternionInstance(const Quaternion& q);
// The native's rotation, except that an axis of zero length gives the identity (the
// native would normalise it into NaN).
void QuaternionSetAxisAlpha(Quaternion* self, const Vector& axis, float degrees);

// ---- BoundingBox4 ----
BoundingBox4 BoxInstance();  // zeroed
BoundingBox4 BoxInstance(const Vector& min, const Vector& max);
BoundingBox4 BoxInstance(const BoundingBox4& b);
void BoxSet(BoundingBox4* self, const Vector& min, const Vector& max);
void BoxSetFrom(BoundingBox4* self, const BoundingBox4& b);
const Vector& BoxGetMin(const BoundingBox4* self);
const Vector& BoxGetMax(const BoundingBox4* self);
// The writers below write nothing into a null output; GetVertex nothing for an index
// outside 0..7.
void BoxGetCenter(const BoundingBox4* self, Vector* out);
void BoxGetVertex(const BoundingBox4* self, Vector* out, int32_t index);
void BoxGetNearestPoint(const BoundingBox4* self, const Vector& point, Vector* out);

// ---- OBBox4 ----
OBBox4 OrientedBoxInstance();  // zeroed
OBBox4 OrientedBoxInstance(const OBBox4& b);
// Half axis i (0..2), null outside.
Vector* OrientedBoxExtent(OBBox4* self, int32_t index);
void OrientedBoxSetCenter(OBBox4* self, const Vector& v);
void OrientedBoxSetExtent(OBBox4* self, int32_t index, const Vector& v);  // nothing outside 0..2
void OrientedBoxGetClosestPoint(const OBBox4* self, const Vector& point, Vector* out);
