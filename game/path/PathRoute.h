#pragma once
// The route arithmetic of the path renderer: where a flag connection is sampled, how the
// sampled polyline is smoothed and pushed to the side, and where the squad stands on it.
//
// A route point is a Vector: x, y, z a world position, w the sideways offset of the ribbon
// there (the segment's width argument); a negative w marks a segment boundary that the
// script chose, its magnitude still being the offset.
//
// Pure functions of their arguments, callable from any thread; every result is finite
// for finite input. The entity (ZKRPathRendererEntity) owns the points and calls these on
// the main thread.
#include <cstdint>

#include "core/math/Vector.h"

// Spacing of the samples along a connection, in world units.
constexpr float kPathSampleSpacing = 2.5f;
// Most points a route holds.
constexpr uint32_t kPathMaxPoints = 65536;
// Smallest offset a segment is sampled with.
constexpr float kPathMinOffset = 1e-6f;
// Neighbours on each side that the smoothing window reaches.
constexpr uint32_t kPathSmoothingReach = 9;
// First and last point closer than this (squared: 0.01) make a closed route.
constexpr float kPathClosedDistanceSquared = 0.01f;

// The distances along a connection of length `length` at which samples are taken: at most
// `room` of them, written to out (room entries). trunc(length x 0.4) samples 2.5 apart,
// the remainder length - 2.5 n inserted once after the first floor(n / 2). The count.
uint32_t PathSampleDistances(float length, uint32_t room, float* out);
// The count PathSampleDistances gives.
uint32_t PathSampleCount(float length, uint32_t room);

// True when the first and last of the n points are within 0.1 of each other (n >= 2).
bool PathIsClosed(const Vector* points, uint32_t n);

// Writes to out (n entries, not overlapping in) the n points of in smoothed with a Gaussian of standard deviation `smoothness` over
// nine neighbours a side (pairs folding back across a sharp turn left out), fades each
// offset by min(1, pairs used / 3), then moves every point sideways by its smoothed offset
// (to the right of the route's direction in the ground plane) and gives it back its
// original signed w. A closed route wraps around and ends on a copy of its first point.
// A smoothness not above 0 or not finite smooths nothing (the fade still applies).
// Below 2 points out is a plain copy.
void SmoothAndOffsetPath(const Vector* in, uint32_t n, float smoothness, Vector* out);

// The side vector (0, 1, 0) x d normalised in the ground plane; zero for a zero or
// vertical d.
Vector PathSideVector(const Vector& d);

// Summed 3-D lengths of the segments from point 0 to point `last` (clamped to n - 1).
float PathLengthTo(const Vector* points, uint32_t n, uint32_t last);

// The squad's place on a route: the segment it is on and the route length to its start.
struct PathSquadPlace {
    uint32_t segment = 0;
    float segmentStart = 0.0f;
};

// From scratch: on an open route of at least two points, the segment pointing along
// `direction` whose start is nearest to `position` (or the one before it when the point
// after it is farther than the point before), and the distance along the route there.
// A closed route, or no segment pointing along the direction, gives distance 0.
float PathResetSquad(const Vector* points, uint32_t n, bool closed, const Vector& position, const Vector& direction,
                     PathSquadPlace& place);

// Forward only: advances the place while the next point is nearer than the current one
// (never beyond segment n - 2), then projects the position onto the segment's line (not
// clamped, so past the end the distance keeps growing along the last segment).
float PathUpdateSquad(const Vector* points, uint32_t n, const Vector& position, PathSquadPlace& place);
