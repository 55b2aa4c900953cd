// Flag template, flag entity and flag connections: measurement, placement and the
// nearest-point query on the Catmull-Rom path between two flags.
#include "scene/entities/FlagEntity.h"

#include <algorithm>
#include <cmath>

#include "core/math/BoundingBox4.h"
#include "core/math/MathHelpers.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "core/rtti/RTTIProperty.h"
#include "render/VornexRenderer.h"

namespace {

RTTIClass* gFlagTemplateClass = nullptr;
RTTIClass* gFlagEntityClass = nullptr;
RTTIClass* gFlagConnectionClass = nullptr;
RTTIClass* gFlagControlPointClass = nullptr;

constexpr float kFlagLengthStep = 0.003921569f;  // 1 / 255
constexpr uint32_t kFlagLengthSamples = 255;

bool Finite(const Matrix& m) {
    for (const Vector& r : m.r)
        for (int i = 0; i < 4; ++i)
            if (!std::isfinite(r[i])) return false;
    return true;
}

// The placement at position facing along direction; the identity rotation when the
// direction is zero or gives no finite frame, the identity when the position overflowed.
void Place(Matrix& out, const Vector& position, Vector direction) {
    if (!std::isfinite(position.x) || !std::isfinite(position.y) || !std::isfinite(position.z)) {
        out = Matrix::IDENTITY;  // points too far apart to place between
        return;
    }
    direction.w = 0.0f;
    if (direction.Length3Squared() > 0.0f) {
        Vector at = position + direction;
        at.w = position.w;
        out.LoadInverseLookAtLH(position, at, Vector(0, 1, 0, 0));
        if (Finite(out)) return;
    }
    out = Matrix::IDENTITY;
    out.r[3] = Vector(position.x, position.y, position.z, 1.0f);
}

float Distance3(const Vector& a, const Vector& b) { return std::sqrt(a.DistanceSquaredXYZ(b)); }

Vector PositionOf(const Entity* e) { return e->GetLocalPosition(); }

}  // namespace

// ---------------------------------------------------------------------------------
// FlagTemplate

FlagTemplate::FlagTemplate() {
    typeId = ENTITY_FLAG;
    wireframeColor.SetFromVector(Vector(0.3f, 0.3f, 1.0f, 1.0f));
    ResetBoundingBox();
}

const RTTIClass* FlagTemplate::RegisterClass() {
    if (gFlagTemplateClass) return gFlagTemplateClass;
    EntityTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gFlagTemplateClass, "FlagTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new FlagTemplate(); });
    AddDirect<float>(c, "Size", RTTI_OFFSETOF(FlagTemplate, size));
    return c;
}

const RTTIClass* FlagTemplate::GetRTTIClass() const { return RegisterClass(); }

Entity* FlagTemplate::CreateEntity() { return new FlagEntity(); }

void FlagTemplate::ResetBoundingBox() {
    staticBoundingBox = BoundingBox4(Vector(-1.5f * size, 0.0f, -1.5f * size, 1.0f),
                                     Vector(1.5f * size, 4.8f * size, 1.95f * size, 1.0f));
}

void FlagTemplate::OnPropertyChanged(const char*) {
    ResetBoundingBox();
    NotifyEntitiesOfChange();
}

bool FlagTemplate::DrawHelper(const Matrix& m, const Vector&, uint32_t flags, const char*) {
    Matrix scale;
    scale.LoadUniformScale(size);
    Matrix at;
    at.Mul(m, scale);
    const Vector colour = (flags & 2) ? Vector(1, 1, 1, 1) : wireframeColor.ToVector();
    gVornexRenderer.DebugDrawFlag(at, colour, (flags & 4) ? 1 : 0);
    return true;
}

// ---------------------------------------------------------------------------------
// Connections

const RTTIClass* FlagEntityConnectionControlPoint::RegisterClass() {
    if (gFlagControlPointClass) return gFlagControlPointClass;
    RTTIClass* c =
        CreateRegisteredClass(gFlagControlPointClass, "FlagEntityConnectionControlPoint", "RTTIPropertiesBase");
    AddDirect<Vector3>(c, "Position", RTTI_OFFSETOF(FlagEntityConnectionControlPoint, position));
    AddDirect<float>(c, "Distance", RTTI_OFFSETOF(FlagEntityConnectionControlPoint, distance));
    return c;
}

FlagEntityConnection::FlagEntityConnection(const FlagEntityConnection& o)
    : destination(o.destination), controlPoints(o.controlPoints), length(o.length) {}

FlagEntityConnection& FlagEntityConnection::operator=(const FlagEntityConnection& o) {
    if (this == &o) return *this;
    destination = o.destination, controlPoints = o.controlPoints, length = o.length;
    arcTables.clear();
    return *this;
}

const RTTIClass* FlagEntityConnection::RegisterClass() {
    if (gFlagConnectionClass) return gFlagConnectionClass;
    const RTTIClass* point = FlagEntityConnectionControlPoint::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gFlagConnectionClass, "FlagEntityConnection", "RTTIPropertiesBase");
    using C = FlagEntityConnection;
    c->AddProperty(new RTTISafeEntityPointerProperty<FlagEntity>("Destination", RTTI_OFFSETOF(C, destination),
                                                                 ENTITY_FLAG));
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<FlagEntityConnectionControlPoint>>(
        "Control points", RTTI_OFFSETOF(C, controlPoints), point));
    AddDirect<float>(c, "Length", RTTI_OFFSETOF(C, length));
    return c;
}

Vector FlagEntityConnection::PointAt(uint32_t i) const {
    Vector v;
    v.FromVector3(controlPoints[i].position);
    return v;
}

void FlagEntityConnection::RecomputeLength(const Vector& start, const Vector& end) {
    arcTables.clear();
    const uint32_t n = controlPoints.Count();
    if (n == 0) {
        length = Distance3(start, end);
        return;
    }
    // The chain S, c0 .. c(n-1), D with S and D repeated as the outer points.
    std::vector<Vector> chain;
    chain.reserve(n + 2);
    chain.push_back(start);
    for (uint32_t i = 0; i < n; ++i) chain.push_back(PointAt(i));
    chain.push_back(end);
    const uint32_t last = n + 1;
    length = 0.0f;
    for (uint32_t k = 0; k <= n; ++k) {
        const Vector& p0 = chain[k == 0 ? 0 : k - 1];
        const Vector& p1 = chain[k];
        const Vector& p2 = chain[k + 1];
        const Vector& p3 = chain[std::min(k + 2, last)];
        Vector previous = p1;
        for (uint32_t j = 1; j <= kFlagLengthSamples; ++j) {
            const Vector p = CatmullRomPoint(static_cast<float>(j) * kFlagLengthStep, p0, p1, p2, p3);
            length += Distance3(previous, p);
            previous = p;
        }
        if (k < n) controlPoints[k].distance = length;
    }
}

const FlagEntityConnection::ArcTable* FlagEntityConnection::ArcTableFor(uint32_t segment,
                                                                       const Vector* points) const {
    if (arcTables.size() != controlPoints.Count() + 1) arcTables.assign(controlPoints.Count() + 1, ArcTable{});
    ArcTable& a = arcTables[segment];
    bool same = a.table[kFlagArcTableSize - 1] == 1.0f;
    for (int i = 0; i < 4 && same; ++i) same = a.points[i] == points[i];
    if (same) return &a;
    for (int i = 0; i < 4; ++i) a.points[i] = points[i];
    a.table[0] = 0.0f;
    Vector previous = CatmullRomPoint(0.0f, points[0], points[1], points[2], points[3]);
    for (uint32_t j = 1; j < kFlagArcTableSize; ++j) {
        const Vector p = CatmullRomPoint(static_cast<float>(j) / 255.0f, points[0], points[1], points[2], points[3]);
        a.table[j] = a.table[j - 1] + Distance3(previous, p);
        previous = p;
    }
    const float total = a.table[kFlagArcTableSize - 1];
    if (!(total > 0.0f) || !std::isfinite(total)) {
        a.table[kFlagArcTableSize - 1] = 0.0f;  // never matches as cached
        return nullptr;
    }
    for (uint32_t j = 1; j < kFlagArcTableSize; ++j) a.table[j] /= total;
    a.table[kFlagArcTableSize - 1] = 1.0f;
    uint32_t j = 1;
    for (uint32_t b = 0; b < kFlagArcTableSize; ++b) {
        const float bound = static_cast<float>(b) / 256.0f;
        while (j < kFlagArcTableSize - 1 && a.table[j] < bound) ++j;
        a.first[b] = static_cast<uint8_t>(j);
    }
    return &a;
}

void FlagEntityConnection::GetPositionAtDistance(float d, const Vector& p0, const Vector& s, const Vector& dest,
                                                 const Vector& p3, Matrix& out, bool wrap) const {
    const float total = length;
    if (!std::isfinite(d)) d = 0.0f;
    if (wrap) d = total > 0.0f ? std::fmod(std::max(d, 0.0f), total) : 0.0f;
    else d = std::clamp(d, 0.0f, std::max(total, 0.0f));
    const uint32_t n = controlPoints.Count();
    if (n == 0) {
        const float f = total > 0.0f ? d / total : 0.0f;
        Place(out, s * (1.0f - f) + dest * f, dest - s);
        return;
    }
    // k: how many control points lie at or before d (their distances ascend). The walk
    // starts where evenly spaced points would put d.
    uint32_t k = total > 0.0f ? std::min(static_cast<uint32_t>(d / total * static_cast<float>(n)), n) : 0;
    while (k > 0 && controlPoints[k - 1].distance > d) --k;
    while (k < n && controlPoints[k].distance <= d) ++k;
    const float from = k == 0 ? 0.0f : controlPoints[k - 1].distance;
    const float to = k == n ? total : controlPoints[k].distance;
    float u = to - from != 0.0f ? (d - from) / (to - from) : 0.0f;
    if (!std::isfinite(u)) u = 0.0f;
    u = std::clamp(u, 0.0f, 1.0f);

    // Segment k of the chain p0, S, c0 .. c(n-1), D, p3.
    Vector points[4];
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t at = k + i;  // chain index
        if (at == 0) points[i] = p0;
        else if (at == 1) points[i] = s;
        else if (at == n + 2) points[i] = dest;
        else if (at == n + 3) points[i] = p3;
        else points[i] = PointAt(at - 2);
    }
    float t = u;
    if (const ArcTable* arc = ArcTableFor(k, points)) {
        // The first j in 1 .. 255 with table[j] >= u (table[255] is 1), from u's bucket.
        const float* table = arc->table;
        uint32_t j = arc->first[std::min(static_cast<uint32_t>(u * 256.0f), kFlagArcTableSize - 1)];
        while (j < kFlagArcTableSize - 1 && table[j] < u) ++j;
        const float span = table[j] - table[j - 1];
        const float fraction = span > 0.0f ? (u - table[j - 1]) / span : 0.0f;
        t = (static_cast<float>(j - 1) + fraction) / 255.0f;
    }
    const Vector position = CatmullRomPoint(t, points[0], points[1], points[2], points[3]);
    Vector tangent = CatmullRomTangent(t, points[0], points[1], points[2], points[3]);
    tangent.w = 0.0f;
    if (tangent.Length3Squared() == 0.0f) tangent = points[2] - points[1];
    Place(out, position, tangent);
}

void FlagEntityConnection::GetPositionAtDistance(float d, const Vector& s, const Vector& dest,
                                                 Vector& position) const {
    Matrix m;
    GetPositionAtDistance(d, s, s, dest, dest, m, false);
    position = m.r[3];
}

float FlagEntityConnection::GetDistanceNearestTo(const Vector& point, const Vector& p0, const Vector& s,
                                                 const Vector& dest, const Vector& p3) const {
    const uint32_t n = controlPoints.Count();
    if (n == 0) return 0.0f;
    std::vector<Vector> chain;
    chain.reserve(n + 4);
    chain.push_back(p0);
    chain.push_back(s);
    for (uint32_t i = 0; i < n; ++i) chain.push_back(PointAt(i));
    chain.push_back(dest);
    chain.push_back(p3);
    float best = kFloatMax, result = 0.0f;
    bool found = false;
    for (uint32_t k = 0; k <= n; ++k) {
        float along = 0.0f;
        const float d2 = CatmullRomNearestPoint(nullptr, nullptr, &along, point, chain[k], chain[k + 1], chain[k + 2],
                                                chain[k + 3]);
        if (!found || d2 < best) {
            found = true;
            best = d2;
            result = along + (k == 0 ? 0.0f : controlPoints[k - 1].distance);
        }
    }
    return std::isfinite(result) ? result : 0.0f;
}

// ---------------------------------------------------------------------------------
// FlagEntity

const RTTIClass* FlagEntity::RegisterClass() {
    if (gFlagEntityClass) return gFlagEntityClass;
    Entity::RegisterClass();
    const RTTIClass* connection = FlagEntityConnection::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gFlagEntityClass, "FlagEntity", "Entity");
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<FlagEntityConnection>>(
        "Connections", RTTI_OFFSETOF(FlagEntity, connections), connection));
    return c;
}

const RTTIClass* FlagEntity::GetRTTIClass() const { return RegisterClass(); }

void FlagEntity::RefreshAfterChange() {
    Entity::RefreshAfterChange();
    if (const EntityTemplate* t = GetTemplate()) SetLocalBoundingBox(t->staticBoundingBox);
}

uint32_t FlagEntity::SolidSerialize(uint8_t* buffer, uint32_t options) const {
    const_cast<FlagEntity*>(this)->PruneDeadConnections();
    return Entity::SolidSerialize(buffer, options);
}

void FlagEntity::PruneDeadConnections() {
    for (uint32_t i = connections.Count(); i-- > 0;)
        if (!connections[i].destination.Get()) connections.Remove(i);
}

FlagEntityConnection* FlagEntity::FindConnection(const FlagEntity* d) {
    if (!d) return nullptr;
    for (FlagEntityConnection& c : connections)
        if (c.destination.Get() == d) return &c;
    return nullptr;
}

const FlagEntityConnection* FlagEntity::FindConnection(const FlagEntity* d) const {
    return const_cast<FlagEntity*>(this)->FindConnection(d);
}

void FlagEntity::AddConnection(FlagEntity* d) {
    if (!d || FindConnection(d)) return;
    FlagEntityConnection made;
    if (const FlagEntityConnection* back = d->FindConnection(this)) {
        made.length = back->length;
        const uint32_t n = back->controlPoints.Count();
        for (uint32_t i = n; i-- > 0;) {
            FlagEntityConnectionControlPoint p = back->controlPoints[i];
            p.distance = back->length - p.distance;
            made.controlPoints.Add(p);
        }
    }
    made.destination.Assign(d);
    connections.Add(made);
}

void FlagEntity::RecomputeConnections() {
    PruneDeadConnections();
    for (FlagEntityConnection& c : connections) c.RecomputeLength(PositionOf(this), PositionOf(c.destination.Get()));
}

Vector FlagEntity::OuterBefore(const FlagEntity* previous) const {
    if (previous)
        if (const FlagEntityConnection* c = previous->FindConnection(this)) {
            const uint32_t n = c->PointCount();
            return n ? c->PointAt(n - 1) : PositionOf(previous);
        }
    return PositionOf(this);
}

Vector FlagEntity::OuterAfter(const FlagEntity* d) const {
    const FlagEntityConnection* onward = nullptr;
    const uint32_t count = d->connections.Count();
    if (count == 1 && d->connections[0].destination.Get() != this) onward = &d->connections[0];
    if (count == 2) {
        if (d->connections[0].destination.Get() == this) onward = &d->connections[1];
        else if (d->connections[1].destination.Get() == this) onward = &d->connections[0];
    }
    if (onward) {
        if (onward->PointCount()) return onward->PointAt(0);
        if (const FlagEntity* next = onward->destination.Get()) return PositionOf(next);
    }
    return PositionOf(d);
}

FlagEntity* FlagEntity::GetNeighbour(uint32_t i) const {
    return i < connections.Count() ? connections[i].destination.Get() : nullptr;
}

float FlagEntity::GetNeighbourDistance(const FlagEntity* flag) const {
    const FlagEntityConnection* c = FindConnection(flag);
    return c ? c->length : 0.0f;
}

float FlagEntity::GetNeighbourDistance(uint32_t i) const {
    return i < connections.Count() ? connections[i].length : 0.0f;
}

void FlagEntity::PlaceOn(const FlagEntityConnection* c, float distance, Matrix& out, bool wrap,
                         const FlagEntity* previous) const {
    const FlagEntity* d = c ? c->destination.Get() : nullptr;
    if (!d) {
        out = Matrix::IDENTITY;
        return;
    }
    c->GetPositionAtDistance(distance, OuterBefore(previous), PositionOf(this), PositionOf(d), OuterAfter(d), out,
                             wrap);
    // Flags under the scene root (identity) need no product.
    if (const Entity* parent = GetParent())
        if (!(parent->GetGlobalLocationMatrix() == Matrix::IDENTITY)) {
            Matrix local = out;
            out.Mul(parent->GetGlobalLocationMatrix(), local);
        }
}

void FlagEntity::GetGlobalPositionOnPath(const FlagEntity* flag, float distance, Matrix& out, bool wrap,
                                         const FlagEntity* previous) const {
    PlaceOn(FindConnection(flag), distance, out, wrap, previous);
}

void FlagEntity::GetGlobalPositionOnPath(uint32_t i, float distance, Matrix& out, bool wrap,
                                         const FlagEntity* previous) const {
    PlaceOn(i < connections.Count() ? &connections[i] : nullptr, distance, out, wrap, previous);
}

float FlagEntity::NearestOn(const FlagEntityConnection* c, const Vector& point, const FlagEntity* previous) const {
    const FlagEntity* d = c ? c->destination.Get() : nullptr;
    if (!d) return 0.0f;
    Vector local = point;
    local.w = 1.0f;
    if (const Entity* parent = GetParent()) {
        Matrix inverse;
        if (inverse.Inverse(parent->GetGlobalLocationMatrix())) local.Transform3D(inverse);
    }
    return c->GetDistanceNearestTo(local, OuterBefore(previous), PositionOf(this), PositionOf(d), OuterAfter(d));
}

float FlagEntity::GetPathPositionNearestToGlobalPoint(const FlagEntity* flag, const Vector& point,
                                                      const FlagEntity* previous) const {
    return NearestOn(FindConnection(flag), point, previous);
}

float FlagEntity::GetPathPositionNearestToGlobalPoint(uint32_t i, const Vector& point,
                                                      const FlagEntity* previous) const {
    return NearestOn(i < connections.Count() ? &connections[i] : nullptr, point, previous);
}
