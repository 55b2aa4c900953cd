// EntityManager line of sight. A coarse phase walks the spatial grid cells the segment
// crosses (in the x/z plane) and gathers every entity whose box the segment enters, with
// the fraction of the segment at that entry; the fine phase then runs each candidate's own
// test, nearest box first, and stops once no remaining box can hold a nearer hit.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>

#include "core/Log.h"
#include "core/profiler/Profiler.h"
#include "engine/entity/EntityManager.h"

namespace {

struct LOSCandidate {
    Entity* entity;
    float fraction;  // where the segment enters the box, as a share of its length
    uint32_t order;  // gather order, which breaks ties
};

constexpr uint32_t kMaxCandidates = 32768;
constexpr uint32_t kVisitedWords = kMaxLiveEntities / 64;
// How far a boundary crossing may lie beyond the segment's end before the cell walk is
// considered lost.
constexpr float kWalkSlack = 0.1f;

// The shared candidate buffer. A query started while it is held (from inside an entity's
// test) works in a buffer of its own.
LOSCandidate gCandidates[kMaxCandidates];
bool gCandidatesBusy = false;

// Cell index of a coordinate, clamped to -1..count so that far-off or non-finite points
// still compare correctly against the grid.
int32_t CellOf(float v, float origin, float size, uint32_t count) {
    const float f = std::floor((v - origin) / size);
    if (!(f >= 0.0f)) return -1;  // also NaN
    if (f >= float(count)) return int32_t(count);
    return int32_t(f);
}

struct SegmentWalk {
    EntitySpatialGrid& grid;
    const Vector& start;
    const Vector& end;
    Vector direction;
    float length;
    LOSCandidate* out;
    uint32_t capacity;
    uint32_t count = 0;
    uint64_t visited[kVisitedWords] = {};

    void VisitCell(int32_t x, int32_t z) {
        const EntityGridList& list = grid.Cell(x, z)->lists[0];
        for (uint32_t i = 0; i < list.count; ++i) {
            const EntityGridEntry& entry = list.entries[i];
            const uint32_t key = entry.key % kMaxLiveEntities;
            const uint64_t bit = uint64_t(1) << (key & 63);
            if (visited[key >> 6] & bit) continue;
            visited[key >> 6] |= bit;
            if (count >= capacity) continue;
            Entity* e = entry.entity;
            Vector a = start, b = end, hit;
            const Matrix& inverse = e->GetInversedGlobalLocationMatrix();
            a.Transform3D(inverse);
            b.Transform3D(inverse);
            if (!e->GetLocalBoundingBox().CollidesWithSegment3D(a, b, &hit)) continue;
            hit.Transform3D(e->GetGlobalLocationMatrix());
            out[count] = {e, (hit - start).Dot3(direction) / length, count};
            ++count;
        }
    }

    // Distance along the segment to the next boundary of cell index c along one axis,
    // or infinity when the segment does not move forward along that axis.
    float Crossing(int32_t c, float s, float d, float origin, float size) const {
        if (d > 0.0f) return (origin + float(c + 1) * size - s) / d;
        if (d < 0.0f) return (origin + float(c) * size - s) / d;
        return INFINITY;
    }

    void Run() {
        const BoundingBox4& bounds = grid.Bounds();
        const float size = grid.CellSize();
        const uint32_t nx = grid.CountX(), nz = grid.CountZ();
        int32_t cx = CellOf(start.x, bounds.min.x, size, nx), cz = CellOf(start.z, bounds.min.z, size, nz);
        if (cx < 0 || cz < 0 || cx >= int32_t(nx) || cz >= int32_t(nz)) {
            gLog.Error(LogCategory::Engine, "LOS check must begin in a point within the scene bounds");
            return;
        }
        const int32_t ex = CellOf(end.x, bounds.min.x, size, nx), ez = CellOf(end.z, bounds.min.z, size, nz);
        std::memset(visited, 0, sizeof visited);
        for (;;) {
            VisitCell(cx, cz);
            if (cx == ex && cz == ez) return;
            if (cx == ex) {
                cz += ez > cz ? 1 : -1;
            } else if (cz == ez) {
                cx += ex > cx ? 1 : -1;
            } else {
                const float tx = Crossing(cx, start.x, direction.x, bounds.min.x, size);
                const float tz = Crossing(cz, start.z, direction.z, bounds.min.z, size);
                const float t = std::min(tx, tz);
                if (!(t < length)) {
                    if (t > length + kWalkSlack) {
                        gLog.Error(LogCategory::Engine,
                                   "Internal LOS error. Please contact the nearest programmer immediately!");
                        gLog.Error(LogCategory::Engine, "%f,%f,%f - %f,%f,%f", double(start.x), double(start.y),
                                   double(start.z), double(end.x), double(end.y), double(end.z));
                    }
                    return;
                }
                if (tx <= tz)
                    cx += direction.x > 0.0f ? 1 : -1;
                else
                    cz += direction.z > 0.0f ? 1 : -1;
            }
            if (cx < 0 || cz < 0 || cx >= int32_t(nx) || cz >= int32_t(nz)) return;
        }
    }
};

}  // namespace

bool EntityManager::LOS(const Vector& start, const Vector& end, uint32_t flags, LOSResult* result, uint32_t mask,
                        Entity* ignore1, Entity* ignore2) {
    LOSResult scratch;
    if (!result) result = &scratch;
    result->Result = LOSRESULT_NONE;
    result->Entity = nullptr;
    const Vector delta = end - start;
    const float length = delta.Length3();
    // A zero-length (or non-finite) segment has no direction: nothing can block it.
    if (!(length > 0.0f) || !std::isfinite(length)) return true;

    gProfiler.StartTimer(PROFILE_LOS, PROFILER_THREAD_MAIN);
    std::unique_ptr<LOSCandidate[]> own;
    LOSCandidate* candidates = gCandidates;
    const bool shared = !gCandidatesBusy;
    if (shared) {
        gCandidatesBusy = true;
    } else {
        own.reset(new LOSCandidate[kMaxCandidates]);
        candidates = own.get();
    }

    SegmentWalk w{grid, start, end, delta * (1.0f / length), length, candidates, kMaxCandidates};
    w.Run();

    bool blocked = false;
    if (w.count) {
        std::sort(candidates, candidates + w.count, [](const LOSCandidate& a, const LOSCandidate& b) {
            return a.fraction != b.fraction ? a.fraction < b.fraction : a.order < b.order;
        });
        float best = FLT_MAX;
        for (uint32_t i = 0; i < w.count; ++i) {
            const LOSCandidate& c = candidates[i];
            if (!(best > c.fraction)) break;
            if (c.entity == ignore1 || c.entity == ignore2) continue;
            LOSResult hit;
            if (c.entity->TestLineOfSight(start, end, flags, mask, c.fraction, &hit)) continue;
            const float t = (hit.Point - start).Dot3(w.direction) / length;
            if (t < best || !blocked) {
                if (t < best) best = t;
                *result = hit;
            }
            blocked = true;
            if (flags & LOSFLAG_BINARY) break;
        }
        if (blocked) {
            Vector& n = result->Normal;
            if (n.Length3Squared() > 0.0f)
                n.NormalizeXYZ();
            else
                n.w = 0.0f;
        }
    }

    if (shared) gCandidatesBusy = false;
    gProfiler.StopTimer(PROFILE_LOS, PROFILER_THREAD_MAIN);
    return !blocked;
}
