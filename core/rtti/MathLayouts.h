#pragma once
// Minimal value layouts of the maths types used by the property codecs, until the
// engine's maths headers exist: Vector = four floats (16-byte aligned), Vector3 =
// three floats, BoundingBox4 = min and max Vectors, Quaternion = x, y, z, w,
// Matrix = sixteen floats (row vectors), HDRColor = R, G, B, A bytes and a float
// intensity. Only the property code and its tests include this; everything else
// forward-declares the types. Replace with the maths headers when they land.
#include <cstdint>

class alignas(16) Vector {
public:
    float x, y, z, w;
};
class Vector3 {
public:
    float x, y, z;
};
class BoundingBox4 {
public:
    Vector min, max;
};
class alignas(16) Quaternion {
public:
    float x, y, z, w;
};
class alignas(16) Matrix {
public:
    float m[4][4];
};
class HDRColor {
public:
    uint8_t r, g, b, a;
    float intensity;
};

static_assert(sizeof(Vector) == 16 && sizeof(Vector3) == 12 && sizeof(BoundingBox4) == 32 &&
                  sizeof(Quaternion) == 16 && sizeof(Matrix) == 64 && sizeof(HDRColor) == 8,
              "value layouts of the property types");
