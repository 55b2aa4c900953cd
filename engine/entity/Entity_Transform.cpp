// Entity transforms, bone mounts and spatial registration.
//
// global = local x parent global (row vectors). Rotation and scale are decomposed on
// demand into five cache-valid bytes (local rotation, local scale, global rotation,
// global scale, inverse global); every setter clears exactly the bytes its change
// invalidates. Every change of a global matrix ends in UpdateGlobalLocation, which
// re-registers the world box in the spatial grid.
#include <cmath>

#include "core/Log.h"
#include "engine/services/SceneContentServices.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"

namespace {

// Each nesting level of RecomputeGlobalLocations (a location hook that moves another
// entity) lists into a buffer of its own.
constexpr uint32_t kRecomputeBufferEntries = kMaxLiveEntities;
constexpr uint32_t kMaxRecomputeDepth = 16;
Entity** gRecomputeBuffers[kMaxRecomputeDepth] = {};
uint32_t gRecomputeDepth = 0;

void Decompose(const Matrix& m, Quaternion* rotation, Vector* scale) {
    Vector s(m.r[0].Length3(), m.r[1].Length3(), m.r[2].Length3(), 0.0f);
    if (m.Det() < 0.0f) s.z = -s.z;
    if (scale) *scale = s;
    if (!rotation) return;
    Matrix unit = Matrix::IDENTITY;
    for (int i = 0; i < 3; ++i) {
        const float k = std::fabs(s[i]) > 1e-12f ? 1.0f / s[i] : 0.0f;
        unit.r[i] = Vector(m.r[i].x * k, m.r[i].y * k, m.r[i].z * k, 0.0f);
    }
    rotation->LoadMatrix(unit);
}

Matrix Compose(const Quaternion& q, const Vector& position, const Vector& scale) {
    Matrix m;
    m.LoadQuaternionTranslationAndScale(q, Vector(position.x, position.y, position.z, 1.0f), scale);
    return m;
}

Quaternion EulerDegrees(float x, float y, float z) {
    Matrix rx, ry, rz, xy, m;
    rx.LoadXRotation(x);
    ry.LoadYRotation(y);
    rz.LoadZRotation(z);
    xy.Mul(ry, rx);  // x first, then y
    m.Mul(rz, xy);   // then z
    Quaternion q;
    q.LoadMatrix(m);
    return q;
}

}  // namespace

// ---------------------------------------------------------------------------------
// Getters.

void Entity::DecomposeLocal() {
    Decompose(localMatrix, &localRotation, &localScale);
    cacheValid[CACHE_LOCAL_ROTATION] = cacheValid[CACHE_LOCAL_SCALE] = 1;
}

void Entity::DecomposeGlobal() {
    Decompose(globalMatrix, &globalRotation, &globalScale);
    cacheValid[CACHE_GLOBAL_ROTATION] = cacheValid[CACHE_GLOBAL_SCALE] = 1;
}

Quaternion Entity::GetLocalRotation() {
    if (!cacheValid[CACHE_LOCAL_ROTATION]) DecomposeLocal();
    return localRotation;
}

Vector Entity::GetLocalScale() {
    if (!cacheValid[CACHE_LOCAL_SCALE]) DecomposeLocal();
    return localScale;
}

Quaternion Entity::GetGlobalRotation() {
    if (!cacheValid[CACHE_GLOBAL_ROTATION]) DecomposeGlobal();
    return globalRotation;
}

Vector Entity::GetGlobalScale() {
    if (!cacheValid[CACHE_GLOBAL_SCALE]) DecomposeGlobal();
    return globalScale;
}

const Matrix& Entity::GetInversedGlobalLocationMatrix() {
    if (!cacheValid[CACHE_INVERSE]) {
        inverseGlobalMatrix.Inverse(globalMatrix);
        cacheValid[CACHE_INVERSE] = 1;
    }
    return inverseGlobalMatrix;
}

float Entity::GetDistanceToBoundingBox(const Vector& point) const {
    const Vector nearest = localBoundingBox.GetNearestPoint(point, globalMatrix);
    const Vector d = nearest - point;
    return d.Length3();
}

BoundingBox4 Entity::GetGlobalBoundingBox() const {
    BoundingBox4 box;
    box.Transform3D(localBoundingBox, globalMatrix);
    return box;
}

void Entity::SetLocalBoundingBox(const BoundingBox4& box) {
    localBoundingBox = box;
    UpdateGlobalLocation();
}

// ---------------------------------------------------------------------------------
// Local setters.

void Entity::StoreLocalMatrixFromParts(const Vector& position, const Quaternion& rotation, const Vector& scale) {
    localMatrix = Compose(rotation, position, scale);
    localRotation = rotation;
    localScale = scale;
    cacheValid[CACHE_LOCAL_ROTATION] = cacheValid[CACHE_LOCAL_SCALE] = 1;
    RecomputeGlobalLocations(false);
}

void Entity::SetLocalPosition(const Vector& p) {
    localMatrix.r[3] = Vector(p.x, p.y, p.z, 1.0f);
    RecomputeGlobalLocations(false);
}

void Entity::SetLocalRotation(const Quaternion& q) {
    StoreLocalMatrixFromParts(localMatrix.r[3], q, GetLocalScale());
}

void Entity::SetLocalRotation3(float x, float y, float z) { SetLocalRotation(EulerDegrees(x, y, z)); }

void Entity::SetLocalScale(const Vector& s) {
    StoreLocalMatrixFromParts(localMatrix.r[3], GetLocalRotation(), s);
}

void Entity::SetLocalLocationMatrix(const Matrix& m) {
    localMatrix = m;
    cacheValid[CACHE_LOCAL_ROTATION] = cacheValid[CACHE_LOCAL_SCALE] = 0;
    RecomputeGlobalLocations(false);
}

void Entity::CopyLocalLocation(Entity* other) {
    if (other) SetLocalLocationMatrix(other->localMatrix);
}

// ---------------------------------------------------------------------------------
// Global setters.

Matrix Entity::ParentMatrixForChild() const {
    if (!parent) return Matrix::IDENTITY;
    Matrix m = parent->globalMatrix;
    if (flags & ENTITYFLAG_PARENTNOSCALE) {
        for (int i = 0; i < 3; ++i) {
            const float len = m.r[i].Length3();
            if (len > 0.0f) m.r[i] = Vector(m.r[i].x / len, m.r[i].y / len, m.r[i].z / len, m.r[i].w / len);
        }
    }
    return m;
}

void Entity::SetGlobalLocationMatrix(const Matrix& m) {
    globalMatrix = m;
    if (!parent) {
        localMatrix = m;
    } else {
        // The inverse of the parent matrix as this child inherits it, so that the next
        // recomputation gives m back also under ENTITYFLAG_PARENTNOSCALE.
        Matrix inverse;
        inverse.Inverse(ParentMatrixForChild());
        localMatrix.Mul(inverse, m);
    }
    cacheValid[CACHE_LOCAL_ROTATION] = cacheValid[CACHE_LOCAL_SCALE] = 0;
    cacheValid[CACHE_GLOBAL_ROTATION] = cacheValid[CACHE_GLOBAL_SCALE] = cacheValid[CACHE_INVERSE] = 0;
    UpdateGlobalLocation();
    RecomputeGlobalLocations(true);
}

void Entity::SetGlobalPosition(const Vector& p) {
    Matrix m = globalMatrix;
    m.r[3] = Vector(p.x, p.y, p.z, 1.0f);
    SetGlobalLocationMatrix(m);
}

void Entity::SetGlobalRotation(const Quaternion& q) {
    SetGlobalLocationMatrix(Compose(q, globalMatrix.r[3], GetGlobalScale()));
}

void Entity::SetGlobalRotation3(float x, float y, float z) { SetGlobalRotation(EulerDegrees(x, y, z)); }

void Entity::SetGlobalScale(const Vector& s) {
    SetGlobalLocationMatrix(Compose(GetGlobalRotation(), globalMatrix.r[3], s));
}

void Entity::CopyGlobalLocation(Entity* other) {
    if (other) SetGlobalLocationMatrix(other->globalMatrix);
}

// ---------------------------------------------------------------------------------
// Propagation.

void Entity::ComputeGlobalFromParent() {
    if (parent) globalMatrix.Mul(ParentMatrixForChild(), localMatrix);  // local x parent
    else globalMatrix = localMatrix;
    cacheValid[CACHE_GLOBAL_ROTATION] = cacheValid[CACHE_GLOBAL_SCALE] = cacheValid[CACHE_INVERSE] = 0;
}

void Entity::RecomputeGlobalLocations(bool skipSelf) {
    if (gRecomputeDepth >= kMaxRecomputeDepth) {
        gLog.Error(LogCategory::Engine, "Entity::RecomputeGlobalLocations - nested too deeply (%u levels)",
                   kMaxRecomputeDepth);
        return;
    }
    Entity**& buffer = gRecomputeBuffers[gRecomputeDepth];
    if (!buffer) buffer = new Entity*[kRecomputeBufferEntries];
    ++gRecomputeDepth;
    const uint32_t count = ListMeAndChildren(buffer, kRecomputeBufferEntries);
    for (uint32_t i = skipSelf ? 1 : 0; i < count; ++i) {
        Entity* e = buffer[i];
        e->ComputeGlobalFromParent();
        e->UpdateGlobalLocation();
    }
    --gRecomputeDepth;
}

void Entity::UpdateGlobalLocation() {
    if (globalMatrix.Det() < 0.0f) enforcedRenderingFlags |= ENFORCED_MIRRORED;
    else enforcedRenderingFlags &= ~ENFORCED_MIRRORED;
    PostTransformToContext();
    if (soundEmitter) UpdateSoundEmitter();
    if (triggerActivator) GetSceneContentServices().QueueTriggerCheck(this);
    BoundingBox4 world = GetGlobalBoundingBox();
    OnGlobalLocationChanged(world);
    UpdateSpatialRegistration(world);
}

// ---------------------------------------------------------------------------------
// Spatial registration.

namespace {
constexpr uint32_t kListExclusions[2] = {ENTITYFLAG_NORENDERINGCONTEXT2 | ENTITYFLAG_DISABLE_UPDATE,
                                         ENTITYFLAG_NORENDERINGCONTEXT | ENTITYFLAG_DISABLE_UPDATE};
}

void Entity::UpdateSpatialRegistration(const BoundingBox4& worldBox) {
    if (!gEntityManager || destroying) return;
    EntitySpatialGrid& grid = gEntityManager->GetSpatialGrid();
    const EntityGridEntry entry{reusableId, type, this};
    if (!(flags & (kListExclusions[0] | kListExclusions[1])) && cellRanges[0] == cellRanges[1]) {
        // The common case: both lists hold the entity over one range.
        EntityCellRange range = grid.GetCellRange(worldBox);
        if (range.IsEmpty()) range = EntityCellRange{};
        if (range == cellRanges[0]) return;
        grid.MoveBoth(cellRanges[0], range, entry);
        cellRanges[0] = cellRanges[1] = range;
        return;
    }
    bool haveRange = false;
    EntityCellRange range;
    for (uint32_t list = 0; list < 2; ++list) {
        EntityCellRange& stored = cellRanges[list];
        if (flags & kListExclusions[list]) {
            grid.Remove(list, stored, reusableId);
            stored = EntityCellRange{};
            continue;
        }
        if (!haveRange) {
            range = grid.GetCellRange(worldBox);
            if (range.IsEmpty()) range = EntityCellRange{};
            haveRange = true;
        }
        if (range == stored) continue;
        grid.Move(list, stored, range, entry);
        stored = range;
    }
}

void Entity::RemoveFromSpatialGrid() {
    if (gEntityManager) {
        EntitySpatialGrid& grid = gEntityManager->GetSpatialGrid();
        for (uint32_t list = 0; list < 2; ++list) grid.Remove(list, cellRanges[list], reusableId);
    }
    cellRanges[0] = cellRanges[1] = EntityCellRange{};
}

// ---------------------------------------------------------------------------------
// Bone mounts.

EntityBoneMount& Entity::Mount() {
    if (!mount) mount = new EntityBoneMount();
    return *mount;
}

void Entity::SetMountBone(const char* bone) {
    Mount().bone = bone;
    ReapplyMount();
}

void Entity::SetMountLocation(const Matrix& m) {
    EntityBoneMount& b = Mount();
    b.offset = m;
    b.rotationValid = b.scaleValid = false;
}

Vector Entity::GetMountPosition() const { return mount ? mount->offset.r[3] : Vector(0, 0, 0, 1); }

namespace {
void DecomposeMount(EntityBoneMount& m) {
    if (m.rotationValid && m.scaleValid) return;
    Decompose(m.offset, &m.rotation, &m.scale);
    m.rotationValid = m.scaleValid = true;
}
}  // namespace

Quaternion Entity::GetMountRotation() const {
    if (!mount) return Quaternion::ZERO;
    DecomposeMount(*mount);
    return mount->rotation;
}

Vector Entity::GetMountScale() const {
    if (!mount) return Vector(1, 1, 1, 0);
    DecomposeMount(*mount);
    return mount->scale;
}

void Entity::SetMountPosition(const Vector& p) { Mount().offset.r[3] = Vector(p.x, p.y, p.z, 1.0f); }

void Entity::SetMountRotation(const Quaternion& q) {
    const Vector s = GetMountScale();
    EntityBoneMount& b = Mount();
    b.offset = Compose(q, b.offset.r[3], s);
    b.rotation = q;
    b.rotationValid = b.scaleValid = true;
}

void Entity::SetMountScale(const Vector& s) {
    const Quaternion q = GetMountRotation();
    EntityBoneMount& b = Mount();
    b.offset = Compose(q, b.offset.r[3], s);
    b.scale = s;
    b.rotationValid = b.scaleValid = true;
}

void Entity::ReapplyMount() {
    if (mount && !mount->bone.IsEmpty() && parent && parent->IsMesh())
        GetSceneContentServices().RemountOnMesh(parent, this);
}

void Entity::UpdateMountToParentBone() { ReapplyMount(); }
