// The ribbon's instance records: side and marker bytes per point, the quantisation box
// and the 24-byte records. Single precision throughout, as the reference model
// (tests/game/path/path_reference.py) computes them.
#include "game/path/PathInstanceRecords.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "game/path/PathRoute.h"

namespace {

uint8_t SideByte(float v) {
    const float f = std::clamp(v * 0.5f + 0.5f, 0.0f, 1.0f) * 255.0f;
    return static_cast<uint8_t>(f);
}

// A 16-bit value of a finite or non-finite float: truncated, saturated, NaN as 0.
int16_t Saturated16(float v) {
    if (!(v == v)) return 0;
    return static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
}

void Put16(uint8_t* out, int16_t v) {
    const uint16_t u = static_cast<uint16_t>(v);
    out[0] = static_cast<uint8_t>(u & 0xFF);
    out[1] = static_cast<uint8_t>(u >> 8);
}

}  // namespace

void PathSideBytes(const Vector* points, uint32_t n, uint8_t* sides) {
    if (n == 0) return;
    for (uint32_t i = 0; i + 1 < n; ++i) {
        const Vector side = PathSideVector(points[i + 1] - points[i]);
        sides[2 * i] = SideByte(side.x);
        sides[2 * i + 1] = SideByte(side.z);
    }
    // The last point has no segment of its own: it copies the point before it, or on a
    // closed route the first point.
    const uint32_t from = PathIsClosed(points, n) ? 0 : (n >= 2 ? n - 2 : 0);
    if (n >= 2) {
        sides[2 * (n - 1)] = sides[2 * from];
        sides[2 * (n - 1) + 1] = sides[2 * from + 1];
    } else {
        sides[0] = sides[1] = SideByte(0.0f);
    }
}

void PathMarkerBytes(const Vector* points, uint32_t n, uint8_t* markers) {
    const bool closed = PathIsClosed(points, n);
    const int64_t count = n;
    for (int64_t i = 0; i < count; ++i) {
        if (points[i].w < 0.0f) {
            markers[i] = 0;
            continue;
        }
        float nearest = kPathMarkerRange;
        for (int64_t k = 1; k <= int64_t(kPathMarkerReach); ++k) {
            for (const int64_t raw : {i - k, i + k}) {
                int64_t j = raw;
                if (closed) j = (j % count + count) % count;
                else if (j < 0 || j >= count) continue;
                if (points[j].w < 0.0f) nearest = std::min(nearest, (points[j] - points[i]).Length3());
            }
        }
        const float scaled = 6.375f * nearest + 0.5f;
        markers[i] = scaled >= 255.0f ? 255 : static_cast<uint8_t>(scaled);
    }
}

PathRecordSummary BuildPathRecords(const Vector* points, uint32_t n, uint8_t* out, uint8_t* scratch) {
    PathRecordSummary s;
    if (n < kPathMinRecordPoints) return s;
    uint8_t* sides = scratch;
    uint8_t* markers = scratch + 2 * size_t(n);
    PathSideBytes(points, n, sides);
    PathMarkerBytes(points, n, markers);

    for (uint32_t i = 0; i < n; ++i) s.box.Expand(points[i]);
    const Vector margin(kPathBoxMargin, kPathBoxMargin, kPathBoxMargin, 0.0f);
    s.box.min = s.box.min - margin;
    s.box.max = s.box.max + margin;
    s.box.min.w = s.box.max.w = 1.0f;
    const Vector size = s.box.max - s.box.min;
    const float scale[3] = {32767.0f / size.x, 32767.0f / size.y, 32767.0f / size.z};
    const float minimum[3] = {s.box.min.x, s.box.min.y, s.box.min.z};

    const auto point = [&](uint8_t* at, const Vector& p, float length) {
        const float v[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) Put16(at + 2 * a, Saturated16((v[a] - minimum[a]) * scale[a]));
        Put16(at + 6, Saturated16(std::min(length * kPathLengthScale, 32767.0f)));
    };
    float length = 0.0f;
    for (uint32_t i = 0; i + 1 < n; ++i) {
        uint8_t* r = out + size_t(i) * kPathRecordBytes;
        const float next = length + (points[i + 1] - points[i]).Length3();
        point(r, points[i], length);
        point(r + 8, points[i + 1], next);
        r[16] = sides[2 * i];
        r[17] = sides[2 * i + 1];
        r[18] = sides[2 * (i + 1)];
        r[19] = sides[2 * (i + 1) + 1];
        // A turn back at point i + 1 flips its side bytes (the ribbon folds over there).
        const uint32_t after = std::min(i + 2, n - 1);
        if ((points[after] - points[i + 1]).Dot3(points[i + 1] - points[i]) < 0.0f) {
            r[18] = uint8_t(255 - r[18]);
            r[19] = uint8_t(255 - r[19]);
        }
        r[20] = markers[i];
        r[21] = markers[i + 1];
        r[22] = r[23] = 0;
        length = next;
    }
    s.routeLength = length;
    s.segments = n - 1;
    return s;
}
