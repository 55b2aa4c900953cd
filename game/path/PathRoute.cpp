// Route sampling, smoothing and offset, and the squad's place along the route. All sums
// run in single precision with float literals, so the numbers match the route reference
// model (tests/game/path/path_reference.py) on every processor.
#include "game/path/PathRoute.h"

#include <algorithm>
#include <cmath>

namespace {

float Distance3(const Vector& a, const Vector& b) { return (b - a).Length3(); }

bool Finite(const Vector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w); }

// Moves p sideways by its (smoothed) w, unless that leaves the float range, and gives it
// the script's signed w.
void Offset(Vector& p, const Vector& side, float signedW) {
    const Vector moved(p.x + p.w * side.x, p.y + p.w * side.y, p.z + p.w * side.z, signedW);
    p = std::isfinite(moved.x) && std::isfinite(moved.y) && std::isfinite(moved.z) ? moved : Vector(p.x, p.y, p.z, signedW);
}

}  // namespace

uint32_t PathSampleDistances(float length, uint32_t room, float* out) {
    if (!(length > 0.0f) || !std::isfinite(length)) return 0;
    const float wanted = length * 0.4f;
    uint32_t n = wanted >= float(kPathMaxPoints) ? kPathMaxPoints : static_cast<uint32_t>(wanted);
    n = std::min(n, room);
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

Vector PathSideVector(const Vector& d) {
    // (0, 1, 0) x d = (d.z, 0, -d.x). The exact reciprocal square root keeps the result
    // the same everywhere.
    const float lengthSquared = d.z * d.z + d.x * d.x;
    if (!(lengthSquared > 0.0f) || !std::isfinite(lengthSquared)) return Vector(0, 0, 0, 0);
    const float inverse = 1.0f / std::sqrt(lengthSquared);
    return Vector(d.z * inverse, 0.0f, -d.x * inverse, 0.0f);
}

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
    // The window reads the points with every offset made positive.
    const auto at = [in](int64_t i) {
        Vector p = in[i];
        p.w = std::fabs(p.w);
        return p;
    };
    const int64_t count = n;
    for (int64_t i = 0; i < count; ++i) {
        const Vector centre = at(i);
        Vector sum = centre * g[0];
        float weight = g[0];
        uint32_t used = 0;
        const int64_t reach = closed ? int64_t(kPathSmoothingReach) + 1 : std::min<int64_t>({i + 1, count - i, 10});
        for (int64_t k = 1; k < reach; ++k) {
            const Vector a = at(closed ? ((i - k) % count + count) % count : i - k);
            const Vector b = at(closed ? (i + k) % count : i + k);
            // Each pair by itself: one folding back across a sharp turn is left out.
            if (!((b - centre).Dot3(centre - a) > -0.3f)) continue;
            sum = sum + (a + b) * g[k];
            weight += 2.0f * g[k];
            ++used;
        }
        out[i] = sum * (1.0f / weight);
        // Sums of coordinates near the float range can overflow: such a point stays
        // where it was, so the route is always finite.
        if (!Finite(out[i])) out[i] = centre;
        out[i].w *= std::min(1.0f, float(used) / 3.0f);
    }

    // Offset: each point moves by its smoothed offset along the side of the segment it
    // starts, then carries the script's signed w again.
    Vector side(0, 0, 0, 0);
    for (uint32_t i = 0; i + 1 < n; ++i) {
        side = PathSideVector(out[i + 1] - out[i]);
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
