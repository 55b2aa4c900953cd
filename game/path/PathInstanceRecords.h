#pragma once
// The instance records of the path ribbon: one 24-byte record per route segment, built on
// the render thread from the route points and drawn as one instanced quad each.
//
// Record of segment i (from point i to point i + 1), little-endian:
//   0-5    point i's x, y, z as signed 16-bit values, (p - box min) x 32767 / box size
//   6-7    route length to point i, x 2.5, at most 32767
//   8-13   point i + 1, quantised the same way
//   14-15  route length to point i + 1, x 2.5, at most 32767
//   16-17  side bytes x, z of point i
//   18-19  side bytes x, z of point i + 1, each 255 minus itself when the route turns back
//          at point i + 1
//   20, 21 marker bytes of points i and i + 1
//   22-23  zero
// Side bytes: the side vector (0, 1, 0) x (p[i+1] - p[i]) normalised, each of x and z as
// clamp(v x 0.5 + 0.5, 0, 1) x 255. Marker byte: 0 on a marked point (negative w), else
// 6.375 x the distance to the nearest marked point among four neighbours a side (from
// 40 units, so 255 means none), rounded.
//
// Pure functions, any thread.
#include <cstdint>

#include "core/math/BoundingBox4.h"
#include "core/math/Vector.h"

constexpr uint32_t kPathRecordBytes = 24;
// Fewer points than this build no records.
constexpr uint32_t kPathMinRecordPoints = 3;
// Quantised lengths are the route length times this, up to 32767 (13106.8 units).
constexpr float kPathLengthScale = 2.5f;
// Neighbours a side searched for a marked point, and the distance that gives 255.
constexpr uint32_t kPathMarkerReach = 4;
constexpr float kPathMarkerRange = 40.0f;
// The quantisation box is the points' box grown by this on every side.
constexpr float kPathBoxMargin = 1.0f;

// The two side bytes (x, z) of each of the n points into sides (2 n bytes).
void PathSideBytes(const Vector* points, uint32_t n, uint8_t* sides);
// The marker byte of each of the n points into markers (n bytes).
void PathMarkerBytes(const Vector* points, uint32_t n, uint8_t* markers);

struct PathRecordSummary {
    BoundingBox4 box = BoundingBox4::INVALID;  // the quantisation box
    float routeLength = 0.0f;                  // total 3-D length
    uint32_t segments = 0;
};

// Writes the n - 1 records of the n points into out ((n - 1) x 24 bytes); scratch holds
// 3 n bytes. Nothing is written for fewer than 3 points (segments 0).
PathRecordSummary BuildPathRecords(const Vector* points, uint32_t n, uint8_t* out, uint8_t* scratch);
