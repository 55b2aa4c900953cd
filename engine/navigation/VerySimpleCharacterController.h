#pragma once
// VerySimpleCharacterController: moves one entity (a walking unit) through the scene.
//
//  - Direct moves: a sphere swept along the move against the triangles of nearby mesh
//    entities and the move-constraint walls, sliding along what it hits (at most two
//    slides a sweep, stopping 0.001 short of each contact), then snapped down onto the
//    ground by the step height.
//  - Path following: MoveToPoint starts a walk-map search that Tick runs in slices of
//    2048 nodes; the smoothed path is then walked at the path speed, the owner turned to
//    face along it. While a new search runs, a unit that was walking less than 0.3 s of
//    gameplay time ago keeps walking its old path.
//  - Reachability tests: the same search without walking; the result and the last point
//    of the path are kept for MoveToLastReachablePoint.
//
// The controller is a value that scripts own: a copy owns its own path buffers and
// pathfinder. Its clocks are the Game's smooth game timer (frame delta) and smooth
// gameplay timer (engine services).
//
// Threads: main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/BoundingBox4.h"
#include "core/rtti/SafePointer.h"
#include "engine/navigation/CharacterCollision.h"

class Entity;
class Pathfinder;

class VerySimpleCharacterController {
public:
    enum State : uint32_t { STATE_IDLE = 0, STATE_SEARCHING = 1, STATE_FOLLOWING = 2, STATE_TESTING = 3 };
    static constexpr float kDefaultRadius = 0.25f;
    static constexpr float kDefaultMaxCost = 400.0f;
    static constexpr float kDefaultRecentSeconds = 0.3f;
    static constexpr uint32_t kSearchBudget = 2048;

    VerySimpleCharacterController(Entity* owner, float radius = kDefaultRadius);
    VerySimpleCharacterController(const VerySimpleCharacterController& other);
    VerySimpleCharacterController& operator=(const VerySimpleCharacterController&) = delete;
    ~VerySimpleCharacterController();

    // Creates the pathfinder (once).
    void InitPathfinder();
    // Stops path following (resetting the search), places the sphere at point + offset
    // and the owner at the point.
    void SetPosition(const Vector& point);
    const Vector& GetPosition() const { return position; }
    // Stops path following and moves by the displacement with collision; a displacement
    // below 0.001 only snaps to the ground. A non-finite one is ignored.
    void Move(const Vector& displacement);
    // When the sphere (centre, radius) overlaps this one, pushes this one along the
    // direction until they only touch, then lets it fall onto the ground. The other
    // entity is not used.
    void MoveAwayFromMySphere(const Vector& centre, const Vector& direction, float otherRadius, Entity* other);
    // Turning it on keeps the present y through every later move, snap and path.
    void FreezeYPosition(bool freeze);
    void SetAutoStepHeight(float height) { stepHeight = height; }
    void SetPathMovementVelocity(float velocity) { pathSpeed = velocity; }
    // Walls on the six faces of the box that keep the sphere inside it.
    void SetMoveConstraints(const OBBox4& box);
    void ResetMoveConstaints() { constraints.Release(); }
    // Starts a search from the owner's position (the sphere's less the offset) to the goal;
    // a search that cannot start stops the controller.
    void MoveToPoint(const Vector& goal, float maxCost = kDefaultMaxCost);
    // Stops, then starts a search whose result only is kept.
    void TestReachability(const Vector& goal, float maxCost = kDefaultMaxCost);
    // After a successful reachability test, walks its path (idle controllers only; a busy
    // one stops).
    void MoveToLastReachablePoint();
    // Back to idle with no path; the search is reset when asked.
    void Stop(bool resetSearch = true);
    // Advances the search or the walk; once per frame.
    void Tick();

    bool IsIdle() const { return state == STATE_IDLE; }
    State GetState() const { return State(state); }
    // Whether the last path-following tick lies at most this many seconds of smooth
    // gameplay time back.
    bool HasBeenFollowingPathRecently(float seconds = kDefaultRecentSeconds) const;
    const Vector& GetLastPathSegmentDirection() const { return segmentDirection; }
    bool GetReachabilityTestResult() const { return reachable != 0; }
    const Vector& GetReachablePoint() const { return reachablePoint; }
    const Dynarray<Vector>& GetPath() const { return path; }
    float GetRadius() const { return radius; }
    // Null before InitPathfinder.
    const Pathfinder* GetPathfinder() const { return pathfinder.Get(); }

private:
    // Owns a pathfinder; copies own a copy of it.
    class OwnedPathfinder {
    public:
        OwnedPathfinder() = default;
        OwnedPathfinder(const OwnedPathfinder& other);
        OwnedPathfinder& operator=(const OwnedPathfinder&) = delete;
        ~OwnedPathfinder();
        Pathfinder* Get() const { return pathfinder; }
        void Create();

    private:
        Pathfinder* pathfinder = nullptr;
    };

    // Collects the constraint walls and the triangles of the mesh entities near the box;
    // the count.
    uint32_t GatherGeometry(const BoundingBox4& box);
    void AddMeshTriangles(Entity* mesh, const BoundingBox4& box);
    void Sweep(Vector direction, float distance, bool falling);
    void GroundSnap(bool falling);
    // Moves along the path by one tick's step; true when the path has been walked.
    bool FollowPath();
    void ClearPath();
    void ShowPath() const;
    void MoveOwner();
    BoundingBox4 BoxAround(float halfExtent) const;

    // Fields in the documented order.
    Vector position;
    Vector offset;
    Vector up{0, 1, 0, 0};
    uint8_t freezeY = 0;
    float frozenY = 0.0f;
    float radius;
    float fallSpeed = 10.0f;
    float stepHeight = 0.01f;
    Dynarray<CollisionTriangle> triangles;
    SafePointer<Entity> owner;
    OwnedPathfinder pathfinder;
    Dynarray<Vector> path;
    int64_t lastFollowTime;
    Dynarray<CollisionTriangle> constraints;
    uint32_t state = STATE_IDLE;
    float pathSpeed = 1.0f;
    Vector segmentDirection{0, 0, 0, 0};
    float segmentRemaining = 0.0f;
    uint32_t pathIndex = 0;  // the next path point to head for
    Vector reachablePoint{0, 0, 0, 1};
    uint8_t reachable = 0;
};
