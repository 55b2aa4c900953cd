// Route sampling, smoothing and offset, and the squad's place along the route. All sums
// run in single precision with float literals, so the numbers match the route reference
// model (tests/game/path/path_reference.py) on every processor.
#include "game/path/PathRoute.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

float Distance3(const Vector& a, const Vector& b) { return (b - a).Length3(); }

bool Finite(const Vector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w); }

// (0, 1, 0) x d = (d.z, 0, -d.x), normalised; zero for a zero, vertical or unbounded
// d. The exact reciprocal square root keeps the result the same everywhere.
[[gnu::always_inline]] inline Vector SideOf(const Vector& d) {
    const float lengthSquared = d.z * d.z + d.x * d.x;
    if (!(lengthSquared > 0.0f) || !(lengthSquared <= kFloatMax)) return Vector(0, 0, 0, 0);
    const float inverse = 1.0f / std::sqrt(lengthSquared);
    return Vector(d.z * inverse, 0.0f, -d.x * inverse, 0.0f);
}

// The route's coordinates one array per component, offsets made positive: the
// smoothing window reads plain floats.
struct PathColumns {
    std::vector<float> x, y, z, w;
    PathColumns(const Vector* in, uint32_t n) : x(n), y(n), z(n), w(n) {
        for (uint32_t i = 0; i < n; ++i) x[i] = in[i].x, y[i] = in[i].y, z[i] = in[i].z, w[i] = std::fabs(in[i].w);
    }
    Vector At(int64_t i) const { return Vector(x[size_t(i)], y[size_t(i)], z[size_t(i)], w[size_t(i)]); }
};

// The smoothed point from its sums, its own point when they overflowed (so the route
// is always finite), its offset faded by the pairs used.
Vector SmoothedPoint(const Vector& sum, float weight, float used, const Vector& own) {
    Vector p = sum * (1.0f / weight);
    if (!Finite(p)) p = own;
    p.w *= std::min(1.0f, used / 3.0f);
    return p;
}

// Point i smoothed over the window that the route has around it (wrapping on a closed
// route, shrinking toward the ends of an open one).
Vector SmoothOne(const PathColumns& p, int64_t i, bool closed, const float* g) {
    const int64_t count = int64_t(p.x.size());
    const Vector centre = p.At(i);
    Vector sum = centre * g[0];
    float weight = g[0];
    uint32_t used = 0;
    const int64_t reach = closed ? int64_t(kPathSmoothingReach) + 1 : std::min<int64_t>({i + 1, count - i, 10});
    for (int64_t k = 1; k < reach; ++k) {
        const Vector a = p.At(closed ? ((i - k) % count + count) % count : i - k);
        const Vector b = p.At(closed ? (i + k) % count : i + k);
        // Each pair by itself: one folding back across a sharp turn is left out.
        const float dot = (b.x - centre.x) * (centre.x - a.x) + (b.y - centre.y) * (centre.y - a.y) +
                          (b.z - centre.z) * (centre.z - a.z);
        if (!(dot > -0.3f)) continue;
        sum = sum + (a + b) * g[k];
        weight += 2.0f * g[k];
        ++used;
    }
    return SmoothedPoint(sum, weight, float(used), centre);
}

// Four lanes of floats (the compiler's vector extension; plain scalar code where the
// target has no vector unit).
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

Float4 Load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Points i .. i + 3, each with its whole window, into out[0 .. 3]: SmoothOne's sums,
// lane by lane. A pair left out adds a zero weight.
void SmoothFour(const PathColumns& p, int64_t i, const float* g, Vector* out) {
    const Float4 cx = Load4(&p.x[size_t(i)]), cy = Load4(&p.y[size_t(i)]), cz = Load4(&p.z[size_t(i)]),
                 cw = Load4(&p.w[size_t(i)]);
    Float4 sx = cx * g[0], sy = cy * g[0], sz = cz * g[0], sw = cw * g[0];
    Float4 weight = Float4{} + g[0];
    Int4 used = Int4{};
    for (int64_t k = 1; k <= int64_t(kPathSmoothingReach); ++k) {
        const size_t a = size_t(i - k), b = size_t(i + k);
        const Float4 ax = Load4(&p.x[a]), ay = Load4(&p.y[a]), az = Load4(&p.z[a]), aw = Load4(&p.w[a]);
        const Float4 bx = Load4(&p.x[b]), by = Load4(&p.y[b]), bz = Load4(&p.z[b]), bw = Load4(&p.w[b]);
        const Float4 dot = (bx - cx) * (cx - ax) + (by - cy) * (cy - ay) + (bz - cz) * (cz - az);
        const Int4 use = dot > -0.3f;  // all ones where the pair is used
        const Float4 gk = Float4{} + g[k];
        const Float4 wk = use ? gk : Float4{};
        sx += (ax + bx) * wk;
        sy += (ay + by) * wk;
        sz += (az + bz) * wk;
        sw += (aw + bw) * wk;
        weight += 2.0f * wk;
        used -= use;
    }
    const Float4 inverse = 1.0f / weight;
    const Float4 rx = sx * inverse, ry = sy * inverse, rz = sz * inverse, rw = sw * inverse;
    Float4 fade = __builtin_convertvector(used, Float4) / 3.0f;
    fade = fade < 1.0f ? fade : Float4{} + 1.0f;
    // x - x is 0 only for a finite x.
    const Int4 finite = (rx - rx == 0.0f) & (ry - ry == 0.0f) & (rz - rz == 0.0f) & (rw - rw == 0.0f);
    for (int l = 0; l < 4; ++l) {
        out[l] = finite[l] ? Vector(rx[l], ry[l], rz[l], rw[l]) : p.At(i + l);
        out[l].w *= fade[l];
    }
}

// Moves p sideways by its (smoothed) w, unless that leaves the float range, and gives it
// the script's signed w.
[[gnu::always_inline]] inline void Offset(Vector& p, const Vector& side, float signedW) {
    const Vector moved(p.x + p.w * side.x, p.y + p.w * side.y, p.z + p.w * side.z, signedW);
    p = std::isfinite(moved.x) && std::isfinite(moved.y) && std::isfinite(moved.z) ? moved : Vector(p.x, p.y, p.z, signedW);
}

}  // namespace

uint32_t PathSampleCount(float length, uint32_t room) {
    if (!(length > 0.0f) || !std::isfinite(length)) return 0;
    const float wanted = length * 0.4f;
    const uint32_t n = wanted >= float(kPathMaxPoints) ? kPathMaxPoints : static_cast<uint32_t>(wanted);
    return std::min(n, room);
}

uint32_t PathSampleDistances(float length, uint32_t room, float* out) {
    const uint32_t n = PathSampleCount(length, room);
    const uint32_t half = n / 2;
    const float remainder = length - kPathSampleSpacing * float(n);
    for (uint32_t j = 0; j < n; ++j) {
        const float d = kPathSampleSpacing * float(j);
        out[j] = j < half ? d : d + remainder;
    }
    return n;
}

bool PathIsClosed(const Vector* points, uint32_t n) {
    return n >= 2 && (points[n - 1] - points[0]).Length3Squared() < kPathClosedDistanceSquared;
}

Vector PathSideVector(const Vector& d) { return SideOf(d); }

void SmoothAndOffsetPath(const Vector* in, uint32_t n, float smoothness, Vector* out) {
    if (n < 2) {
        std::copy(in, in + n, out);
        return;
    }
    // Kernel weights g(0..9) relative to g(0): the Gaussian's factor 1 / (sqrt(2 pi) s)
    // cancels between the weighted sum and the sum of weights, and leaving it out keeps a
    // tiny deviation from overflowing the sums. A deviation that cannot make a kernel
    // gives the identity (its pairs still count for the fade).
    float g[kPathSmoothingReach + 1] = {1.0f};
    const float s = smoothness;
    if (s > 0.0f && std::isfinite(s))
        for (uint32_t k = 1; k <= kPathSmoothingReach; ++k) g[k] = std::exp(-float(k * k) / (2.0f * s * s));

    const bool closed = PathIsClosed(in, n);
    const PathColumns p(in, n);
    const int64_t count = n;
    const int64_t reach = kPathSmoothingReach;
    // Away from both ends the whole window is there, open or closed: four points at a
    // time. Each lane sums in the order the one-point loop below does, so the results
    // are the same.
    int64_t i = 0;
    for (; i < count; ++i) {
        if (i >= reach && i + reach + 4 <= count) {
            SmoothFour(p, i, g, out + i);
            i += 3;
            continue;
        }
        out[i] = SmoothOne(p, i, closed, g);
    }

    // Offset: each point moves by its smoothed offset along the side of the segment it
    // starts, then carries the script's signed w again.
    Vector side(0, 0, 0, 0);
    for (uint32_t i = 0; i + 1 < n; ++i) {
        side = SideOf(out[i + 1] - out[i]);
        Offset(out[i], side, in[i].w);
    }
    if (closed) {
        out[n - 1] = out[0];
    } else {
        Offset(out[n - 1], side, in[n - 1].w);
    }
}

float PathLengthTo(const Vector* points, uint32_t n, uint32_t last) {
    if (n == 0) return 0.0f;
    last = std::min(last, n - 1);
    float length = 0.0f;
    for (uint32_t i = 0; i < last; ++i) length += Distance3(points[i], points[i + 1]);
    return length;
}

float PathResetSquad(const Vector* points, uint32_t n, bool closed, const Vector& position, const Vector& direction,
                     PathSquadPlace& place) {
    place = PathSquadPlace{};
    if (closed || n < 2) return 0.0f;
    uint32_t best = n;
    float bestDistance = 0.0f;
    for (uint32_t i = 0; i + 1 < n; ++i) {
        if (!((points[i + 1] - points[i]).Dot3(direction) > 0.0f)) continue;
        const float d = (points[i] - position).Length3Squared();
        if (best == n || d < bestDistance) best = i, bestDistance = d;
    }
    if (best == n) return 0.0f;  // no segment points along the direction
    uint32_t k = best;
    if (k > 0 && k < n - 1 && Distance3(points[k + 1], position) > Distance3(points[k - 1], position)) --k;
    place.segment = k;
    place.segmentStart = PathLengthTo(points, n, k);
    float distance = place.segmentStart;
    const float a = Distance3(points[k], position);
    const float b = Distance3(points[k + 1], position);
    if (a + b > 0.0f) distance += Distance3(points[k], points[k + 1]) * (a / (a + b));
    return std::isfinite(distance) ? distance : place.segmentStart;
}

float PathUpdateSquad(const Vector* points, uint32_t n, const Vector& position, PathSquadPlace& place) {
    if (n == 0) return 0.0f;
    if (place.segment >= n) place = PathSquadPlace{};
    while (n >= 2 && place.segment < n - 2 &&
           (points[place.segment + 1] - position).Length3Squared() < (points[place.segment] - position).Length3Squared()) {
        place.segmentStart += Distance3(points[place.segment], points[place.segment + 1]);
        ++place.segment;
    }
    float distance = place.segmentStart;
    if (place.segment + 1 < n) {
        const Vector d = points[place.segment + 1] - points[place.segment];
        const float dd = d.Dot3(d);
        if (dd > 0.001f) {
            const float t = (position - points[place.segment]).Dot3(d) / dd;
            distance += std::sqrt(dd) * t;
        }
    }
    return std::isfinite(distance) ? distance : place.segmentStart;
}
