// The path renderer entity: building the route from flag connections, smoothing it, and
// the squad's place along it.
#include "game/path/ZKRPathRendererEntity.h"

#include <algorithm>
#include <cmath>

#include "core/Log.h"
#include "core/rtti/RTTIClass.h"
#include "game/path/PathRoute.h"
#include "game/path/ZKRPathRendererEntityRenderingContext.h"
#include "game/path/ZKRPathRendererTemplate.h"
#include "scene/entities/FlagEntity.h"

namespace {

RTTIClass* gPathRendererEntityClass = nullptr;

bool Finite3(const Vector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// A route near the float range can overflow the box's centre and extents in the
// transform: such components are held to the float range (NaN to 0).
float InRange(float v) { return v != v ? 0.0f : std::clamp(v, -kFloatMax, kFloatMax); }
Vector InRange(const Vector& v) { return Vector(InRange(v.x), InRange(v.y), InRange(v.z), InRange(v.w)); }

}  // namespace

ZKRPathRendererEntity::ZKRPathRendererEntity() { SetEnforcedRenderingBits(0, kPathRendererRenderBit); }

const RTTIClass* ZKRPathRendererEntity::RegisterRTTIClass(const char* name) {
    if (gPathRendererEntityClass) return gPathRendererEntityClass;
    Entity::RegisterClass();
    return CreateRegisteredClass(gPathRendererEntityClass, name ? name : "ZKRPathRendererEntity", "Entity");
}

const RTTIClass* ZKRPathRendererEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

float ZKRPathRendererEntity::Smoothness() const {
    const auto* t = dynamic_cast<const ZKRPathRendererTemplate*>(GetTemplate());
    return t ? t->smoothness : 3.2f;
}

void ZKRPathRendererEntity::BeginPath() {
    points.clear();
    squadPointIndex = kPathNoSquadPoint;
    squadLimit = kFloatMax;
    closed = false;
    squadDistance = squadRawDistance = 0.0f;
    squadSegment = 0;
    squadSegmentStart = 0.0f;
}

Vector ZKRPathRendererEntity::ConnectionPoint(const void* connection, const FlagEntity* a, const FlagEntity* b,
                                              float d) const {
    const auto* c = static_cast<const FlagEntityConnection*>(connection);
    Vector p;
    c->GetPositionAtDistance(d, a->GetLocalPosition(), b->GetLocalPosition(), p);
    const Entity* graph = a->GetParent();
    Vector world;
    world.Transform3D(graph ? graph->GetGlobalLocationMatrix() : Matrix::IDENTITY, p);
    return world;
}

void ZKRPathRendererEntity::AddGraphSegment(FlagEntity* a, FlagEntity* b, float offset, bool squadHere,
                                            bool markStart, bool markEnd) {
    const float w = offset > kPathMinOffset ? offset : kPathMinOffset;
    if (!a || !b || a->GetParent() != b->GetParent()) return;
    const FlagEntityConnection* c = FlagEntity::FindConnection(a, b);
    if (!c || !(c->length > 0.0f)) return;
    const float length = c->length;
    if (squadHere) squadPointIndex = std::min<uint32_t>(squadPointIndex, uint32_t(points.size()));

    const uint32_t room = kPathMaxPoints - std::min<uint32_t>(uint32_t(points.size()), kPathMaxPoints);
    std::vector<float> distances(PathSampleCount(length, room));
    const uint32_t n = PathSampleDistances(length, room, distances.data());
    points.reserve(points.size() + n);
    const size_t first = points.size();
    for (uint32_t j = 0; j < n; ++j) {
        Vector p = ConnectionPoint(c, a, b, distances[j]);
        if (!Finite3(p)) {
            // A sample that is not a place is left out, so the route stays finite.
            if (!warnedNonFinite)
                gLog.Warning(LogCategory::Engine, "Path renderer %s: a route sample is not finite and is left out",
                             GetName());
            warnedNonFinite = true;
            continue;
        }
        p.w = w;
        points.push_back(p);
    }
    if (markStart && points.size() > first) points[first].w = -points[first].w;

    Vector end = ConnectionPoint(c, a, b, length);
    if (Finite3(end)) {
        end.w = markEnd ? -w : w;
        endPoint = end;
    }
}

void ZKRPathRendererEntity::FinishPath() {
    squadPointIndex = std::min<uint32_t>(uint32_t(points.size()), squadPointIndex);
    if (points.empty()) {
        closed = false;
        RecreateRenderingContext(true);
        return;
    }
    if (points.size() < kPathMaxPoints) points.push_back(endPoint);

    const uint32_t n = uint32_t(points.size());
    closed = PathIsClosed(points.data(), n);
    spare.resize(n);
    SmoothAndOffsetPath(points.data(), n, Smoothness(), spare.data());
    points.swap(spare);

    squadLimit = PathLengthTo(points.data(), n, std::min(squadPointIndex, n - 1));

    // The local box holds the route raised by 1000 (the ribbon is looked down on).
    Vector low = points[0], high = points[0];
    for (const Vector& p : points) {
        low.x = std::min(low.x, p.x), low.y = std::min(low.y, p.y), low.z = std::min(low.z, p.z);
        high.x = std::max(high.x, p.x), high.y = std::max(high.y, p.y), high.z = std::max(high.z, p.z);
    }
    BoundingBox4 box(Vector(low.x, low.y, low.z, 1.0f), Vector(high.x, high.y + 1000.0f, high.z, 1.0f));
    BoundingBox4 local;
    local.Transform3D(box, GetInversedGlobalLocationMatrix());
    local.min = InRange(local.min);
    local.max = InRange(local.max);
    SetLocalBoundingBox(local);
    PropagateGlobalLocation();

    RecreateRenderingContext(true);
}

void ZKRPathRendererEntity::SetSquadDistance(float distance) {
    squadRawDistance = distance;
    squadDistance = std::min(distance, squadLimit);
    if (auto* c = static_cast<ZKRPathRendererEntityRenderingContext*>(GetRenderingContext()))
        c->PostSquadUpdate(squadDistance, squadRawDistance);
}

void ZKRPathRendererEntity::ResetSquadPosition(const Vector& position, const Vector& direction) {
    PathSquadPlace place;
    const float distance =
        PathResetSquad(points.data(), uint32_t(points.size()), closed, position, direction, place);
    squadSegment = place.segment;
    squadSegmentStart = place.segmentStart;
    SetSquadDistance(distance);
}

void ZKRPathRendererEntity::UpdateSquadPosition(const Vector& position) {
    PathSquadPlace place{squadSegment, squadSegmentStart};
    const float distance = PathUpdateSquad(points.data(), uint32_t(points.size()), position, place);
    squadSegment = place.segment;
    squadSegmentStart = place.segmentStart;
    SetSquadDistance(distance);
}

void ZKRPathRendererEntity::OnTemplateResourcesChanged() {
    if (GetRenderingContext()) RecreateRenderingContext(true);
}

EntityRenderingContext* ZKRPathRendererEntity::CreateRenderingContext() {
    // The entity's stored list carries "Enforced rendering flags" and overwrites the bit
    // the constructor set when a scene loads the entity: without it the ribbon is never
    // submitted to the forward pass, so every new context raises it again.
    SetEnforcedRenderingBits(0, kPathRendererRenderBit);
    const auto* t = dynamic_cast<const ZKRPathRendererTemplate*>(GetTemplate());
    if (!t) return nullptr;
    EntityRenderingContextSetup s;
    FillRenderingContextSetup(s, 0, 0);
    return new ZKRPathRendererEntityRenderingContext(s, *t, uint32_t(points.size()), points.data(), squadDistance,
                                                     squadRawDistance, battlefieldMode);
}
