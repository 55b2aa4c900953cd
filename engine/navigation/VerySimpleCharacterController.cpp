#include "engine/navigation/VerySimpleCharacterController.h"

#include <algorithm>
#include <cmath>

#include "core/Time.h"
#include "core/config/GameConfig.h"
#include "engine/services/SceneContentServices.h"
#include "engine/services/GameServices.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/SpatialQueries.h"
#include "engine/navigation/Pathfinder.h"

namespace {

// A sweep stops this far short of a contact.
constexpr float kSkin = 0.001f;
constexpr uint32_t kMaxSlides = 2;
// A falling sweep stands on a contact whose normal has at least this much of up.
constexpr float kStandCosine = 0.5f;
// A slide ends the sweep when it keeps (nearly) the old direction or has (nearly)
// nothing left to move; smaller components count as no motion.
constexpr float kSameDirectionCosine = 0.9999f;
constexpr float kNoSlideLeft = 0.0001f;
constexpr float kNoMotionComponent = 1e-5f;
// Moves sweep in steps of this share of the radius, at most kMaxSweeps of them.
constexpr float kSweepStepPerRadius = 0.3f;
constexpr uint32_t kMaxSweeps = 4096;
constexpr float kNoMoveSquared = 1e-6f;
constexpr float kBoxGrowth = 1.1f;
constexpr float kBoxMargin = 0.1f;
// Path following: segments and step remainders shorter than these are done.
constexpr float kSegmentEnd = 0.01f;
constexpr float kStepEnd = 0.01f;  // of the tick's step
// While a new search runs, the old path is walked on for this long after the last walk.
constexpr double kContinuationSeconds = 0.3;

float FrameDelta() { return GetGameServices().SmoothFrameDelta(); }

int64_t GameplayNow() { return GetGameServices().SmoothGameplayTime(); }

bool GameplayPaused() { return GetGameServices().IsGameplayPaused(); }

bool SameNormal(const Vector& a, const Vector& b) { return (a - b).Length3Squared() < 1e-10f; }

bool IsFinite3(const Vector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

VerySimpleCharacterController::OwnedPathfinder::OwnedPathfinder(const OwnedPathfinder& other)
    : pathfinder(other.pathfinder ? new Pathfinder(*other.pathfinder) : nullptr) {}

VerySimpleCharacterController::OwnedPathfinder::~OwnedPathfinder() { delete pathfinder; }

void VerySimpleCharacterController::OwnedPathfinder::Create() {
    if (!pathfinder) pathfinder = new Pathfinder();
}

VerySimpleCharacterController::VerySimpleCharacterController(Entity* ownerEntity, float sphereRadius)
    : offset(0.0f, sphereRadius, 0.0f, 0.0f), radius(sphereRadius), owner(ownerEntity),
      lastFollowTime(GameplayNow()) {
    position = (ownerEntity ? ownerEntity->GetGlobalPosition() : Vector(0, 0, 0, 1)) + offset;
}

VerySimpleCharacterController::VerySimpleCharacterController(const VerySimpleCharacterController& other) = default;

VerySimpleCharacterController::~VerySimpleCharacterController() = default;

void VerySimpleCharacterController::InitPathfinder() { pathfinder.Create(); }

void VerySimpleCharacterController::MoveOwner() {
    if (owner) owner->SetGlobalPosition(position - offset);
}

BoundingBox4 VerySimpleCharacterController::BoxAround(float e) const {
    return BoundingBox4(Vector(position.x - e, position.y - e, position.z - e, 1.0f),
                        Vector(position.x + e, position.y + e, position.z + e, 1.0f));
}

void VerySimpleCharacterController::SetPosition(const Vector& point) {
    Stop(true);
    position = point + offset;
    if (freezeY) position.y = frozenY;
    if (owner) owner->SetGlobalPosition(point);
}

void VerySimpleCharacterController::FreezeYPosition(bool freeze) {
    if (freeze && !freezeY) frozenY = position.y;
    freezeY = freeze;
}

void VerySimpleCharacterController::SetMoveConstraints(const OBBox4& box) {
    constraints.Clear();
    Vector corners[8];
    for (uint32_t i = 0; i < 8; ++i) {
        corners[i] = box.center + ((i & 1) ? box.xextent : -box.xextent) + ((i & 2) ? box.yextent : -box.yextent) +
                     ((i & 4) ? box.zextent : -box.zextent);
        corners[i].w = 1.0f;
    }
    // The walls face into the box whatever the handedness of its axes.
    Vector z;
    z.Cross(box.xextent, box.yextent);
    AppendBoxTriangles(corners, z.Dot3(box.zextent) > 0.0f, constraints);
}

uint32_t VerySimpleCharacterController::GatherGeometry(const BoundingBox4& box) {
    triangles.Clear();
    for (const CollisionTriangle& wall : constraints) {
        // A controller outside a wall meets it only from where it stands, so it is never
        // pushed through.
        CollisionTriangle t = wall;
        const float d = wall.SignedDistance(position);
        if (d < 0.0f) {
            const Vector shift = Vector(wall.plane.x, wall.plane.y, wall.plane.z, 0.0f) * d;
            for (Vector& v : t.v) v += shift;
            t.plane.w -= d;
        }
        triangles.Add(t);
    }
    uint32_t visibleLayers[kLayerMaskWords];
    EntityLayerSystem::BuildInGameVisibleLayerMask(visibleLayers);
    Entity* self = owner.Get();
    ForEachEntityInBox(box, [&](Entity* e) {
        if (e == self || !e->IsMesh() || !((visibleLayers[e->GetLayer() >> 5] >> (e->GetLayer() & 31)) & 1)) return;
        if (e->GetGlobalBoundingBox().Overlaps3D(box)) AddMeshTriangles(e, box);
    });
    return triangles.Count();
}

void VerySimpleCharacterController::AddMeshTriangles(Entity* mesh, const BoundingBox4& box) {
    const uint32_t type = GetSceneContentServices().MeshPlayerCollisionType(mesh);
    if (type == PLAYER_COLLISION_BOX) {
        const BoundingBox4& local = mesh->GetLocalBoundingBox();
        Vector corners[8];
        for (uint32_t i = 0; i < 8; ++i) {
            corners[i] = local.GetVertex(i);
            corners[i].Transform3D(mesh->GetGlobalLocationMatrix());
        }
        const uint32_t first = triangles.Count();
        AppendBoxTriangles(corners, (mesh->GetEnforcedRenderingFlags() & ENFORCED_MIRRORED) != 0, triangles);
        uint32_t kept = first;
        for (uint32_t i = first; i < triangles.Count(); ++i)
            if (triangles[i].Bounds().Overlaps3D(box)) triangles[kept++] = triangles[i];
        triangles.Resize(kept);
    } else if (type == PLAYER_COLLISION_FACE) {
        MeshCollisionData data;
        if (GetSceneContentServices().GetMeshCollisionData(mesh, &data))
            AppendMeshTriangles(data, mesh->GetGlobalLocationMatrix(), box, triangles);
    }
}

void VerySimpleCharacterController::Sweep(Vector direction, float distance, bool falling) {
    Vector previousNormal;
    bool slid = false;
    for (uint32_t slides = 0;; ++slides) {
        SphereContact best{};
        bool found = false;
        for (const CollisionTriangle& t : triangles) {
            if (!(t.plane.Dot3(direction) < 0.0f)) continue;
            if (slid && SameNormal(t.plane, previousNormal)) continue;
            SphereContact c;
            if (SweepSphereTriangle(position, radius, direction, distance, t, &c) &&
                (!found || c.distance < best.distance)) {
                best = c;
                found = true;
            }
        }
        if (!found) {
            position += direction * distance;
            break;
        }
        const float moved = best.distance > kSkin ? best.distance - kSkin : 0.0f;
        position += direction * moved;
        distance -= moved;
        if (falling && best.normal.Dot3(up) >= kStandCosine) break;
        if (slides == kMaxSlides) break;
        // Slide: the rest of the motion in the contact plane; a fall keeps its x and z.
        Vector motion = direction * distance;
        const float along = motion.Dot3(best.normal);
        const float upShare = best.normal.Dot3(up);
        if (falling && std::fabs(upShare) > kNoMotionComponent)
            motion = motion - up * (along / upShare);
        else
            motion = motion - best.normal * along;
        for (int i = 0; i < 3; ++i)
            if (std::fabs(motion[i]) <= kNoMotionComponent) motion[i] = 0.0f;
        motion.w = 0.0f;
        const float length = motion.Length3();
        if (length <= kNoSlideLeft) break;
        const Vector next = motion * (1.0f / length);
        if (next.Dot3(direction) >= kSameDirectionCosine) break;
        direction = next;
        distance = length;
        previousNormal = best.normal;
        slid = true;
    }
    if (freezeY) position.y = frozenY;
}

void VerySimpleCharacterController::GroundSnap(bool falling) {
    float distance = stepHeight;
    if (falling) distance += fallSpeed * FrameDelta();
    if (distance > 1e-6f) {
        if (GatherGeometry(BoxAround(distance * kBoxGrowth + kBoxMargin + radius)))
            Sweep(-up, distance, falling);
        else
            position -= up * distance;
    }
    if (freezeY) position.y = frozenY;
}

void VerySimpleCharacterController::Move(const Vector& displacement) {
    Stop(false);
    if (!IsFinite3(displacement)) return;
    Vector d(displacement.x, displacement.y, displacement.z, 0.0f);
    const float lengthSquared = d.Length3Squared();
    if (lengthSquared >= kNoMoveSquared) {
        const float length = std::sqrt(lengthSquared);
        bool geometry = false;
        if (!(owner && owner->CheckFlag(ENTITYFLAG_GHOSTMODE))) {
            float extent = length * kBoxGrowth + radius + kBoxMargin;
            if (stepHeight > 0.0f) {
                position += up * stepHeight;
                if (freezeY) position.y = frozenY;
                extent += stepHeight;
            }
            geometry = GatherGeometry(BoxAround(extent)) != 0;
        }
        if (geometry) {
            const Vector direction = d * (1.0f / length);
            float step = radius > 0.0f ? radius * kSweepStepPerRadius : length;
            float whole = std::floor(length / step);
            if (whole > float(kMaxSweeps)) {
                step = length / float(kMaxSweeps);
                whole = float(kMaxSweeps);
            }
            for (uint32_t i = 0; i < uint32_t(whole); ++i) Sweep(direction, step, false);
            const float rest = length - whole * step;
            if (rest > 0.0f) Sweep(direction, rest, false);
        } else {
            position += d;
        }
    }
    GroundSnap(false);
    if (freezeY) position.y = frozenY;
    MoveOwner();
}

void VerySimpleCharacterController::MoveAwayFromMySphere(const Vector& centre, const Vector& direction,
                                                         float otherRadius, Entity*) {
    Vector p = position - centre;
    p.w = 0.0f;
    const float reach = radius + otherRadius;
    if (!(p.Length3Squared() < reach * reach)) return;
    Vector dir(direction.x, direction.y, direction.z, 0.0f);
    const float dirLength = dir.Length3();
    if (!(dirLength > 0.0f) || !std::isfinite(dirLength)) return;
    dir = dir * (1.0f / dirLength);
    // How far along dir the centre must go to lie reach away from the other centre.
    const float b = p.Dot3(dir);
    const float push = std::max(-b + std::sqrt(b * b - (p.Length3Squared() - reach * reach)), 0.0f);
    if (!(push > kSkin)) return;
    if (GatherGeometry(BoxAround(push * kBoxGrowth + radius + kBoxMargin)))
        Sweep(dir, push, false);
    else
        position += dir * push;
    GroundSnap(true);
    MoveOwner();
}

bool VerySimpleCharacterController::HasBeenFollowingPathRecently(float seconds) const {
    return Time(GameplayNow() - lastFollowTime).ToSeconds() <= double(seconds);
}

void VerySimpleCharacterController::ClearPath() {
    path.Clear();
    pathIndex = 0;
    segmentRemaining = 0.0f;
    GetSceneContentServices().SetDebugPathPoints(nullptr, 0);
}

void VerySimpleCharacterController::ShowPath() const {
    if (gGameConfig && gGameConfig->renderPathfinderDebug)
        GetSceneContentServices().SetDebugPathPoints(path.data, path.Count());
}

void VerySimpleCharacterController::Stop(bool resetSearch) {
    if (state == STATE_IDLE) return;
    state = STATE_IDLE;
    ClearPath();
    if (resetSearch && pathfinder.Get()) pathfinder.Get()->Reset(gEntityManager->GetSceneGrid());
}

void VerySimpleCharacterController::MoveToPoint(const Vector& goal, float maxCost) {
    Pathfinder* finder = pathfinder.Get();
    if (!finder) return;
    if (finder->FindPath(gEntityManager->GetSceneGrid(), position - offset, goal, 0, maxCost))
        state = STATE_SEARCHING;
    else
        Stop(true);
}

void VerySimpleCharacterController::TestReachability(const Vector& goal, float maxCost) {
    Stop(true);
    Pathfinder* finder = pathfinder.Get();
    if (finder && finder->FindPath(gEntityManager->GetSceneGrid(), position - offset, goal, 0, maxCost))
        state = STATE_TESTING;
    else
        reachable = 0;
}

void VerySimpleCharacterController::MoveToLastReachablePoint() {
    if (state != STATE_IDLE) {
        Stop(true);
    } else if (reachable) {
        reachable = 0;
        pathIndex = 0;
        segmentRemaining = 0.0f;
        state = STATE_FOLLOWING;
    }
}

bool VerySimpleCharacterController::FollowPath() {
    const float step = pathSpeed * FrameDelta();
    float left = step;
    bool finished = false;
    while (left > kStepEnd * step) {
        if (segmentRemaining < kSegmentEnd) {
            if (pathIndex >= path.Count()) {
                finished = true;
                break;
            }
            Vector segment = path[pathIndex++] - (position - offset);
            segment.w = 0.0f;
            const float length = segment.Length3();
            if (length > kSegmentEnd) {
                segmentDirection = segment * (1.0f / length);
                segmentRemaining = length;
            }
            continue;
        }
        const float walk = std::min(segmentRemaining, left);
        position += segmentDirection * walk;
        segmentRemaining -= walk;
        left -= walk;
    }
    if (stepHeight > 0.0f) position += up * stepHeight;
    GroundSnap(false);
    if (freezeY) position.y = frozenY;
    MoveOwner();
    if (!finished && owner)
        owner->SetGlobalRotation3(0.0f, std::atan2(segmentDirection.x, segmentDirection.z) * kRadToDeg, 0.0f);
    return finished;
}

void VerySimpleCharacterController::Tick() {
    Pathfinder* finder = pathfinder.Get();
    if ((state == STATE_SEARCHING || state == STATE_TESTING) && finder->Grid() != gEntityManager->GetSceneGrid()) {
        // The walk grid the search ran on went with its scene: the search ends without a path.
        if (state == STATE_TESTING) reachable = 0;
        Stop(true);
        return;
    }
    switch (state) {
        case STATE_SEARCHING:
            if (!GameplayPaused() &&
                Time(GameplayNow() - lastFollowTime).ToSeconds() < kContinuationSeconds)
                FollowPath();
            if (!finder->Step(kSearchBudget)) {
                ClearPath();
                if (finder->GetPath(path)) {
                    SmoothPath(path);
                    state = STATE_FOLLOWING;
                } else {
                    state = STATE_IDLE;
                }
                ShowPath();
            }
            break;
        case STATE_FOLLOWING:
            if (GameplayPaused()) {
                lastFollowTime = GameplayNow();
            } else if (FollowPath()) {
                Stop(true);
            } else {
                lastFollowTime = GameplayNow();
            }
            break;
        case STATE_TESTING:
            if (!finder->Step(kSearchBudget)) {
                reachable = finder->GetPath(path) && path.Count() != 0;
                if (reachable) {
                    SmoothPath(path);
                    reachablePoint = path[path.Count() - 1];
                }
                state = STATE_IDLE;
                ShowPath();
            }
            break;
        default:
            break;
    }
}
