#pragma once
// ProceduralTargetingAnimation: turns one hierarchy node (a turret, a head) towards a world
// point or an entity at a limited angular speed. It lives in its node's channel like any
// animation and gives a rotation-only pose for that one node, which the pose blending
// applies with its weight. Angles are (pitch, yaw) in degrees, kept in [0, 360).
//
// With ANIMFLAG_PROCCALLBACKS and a listener, the listener hears rotation start and stop
// (OnProcTargetingAnimRotStart / Stop), each after 0.1 s of the animation's own clock.
//
// Main thread (the Game clocks; SetTimer gives another).
#include "engine/entity/Entity.h"
#include "scene/animation/BaseAnimation.h"


// An animation computed rather than played from a clip: it contributes only at its tree
// node's first node.
class ProceduralAnimation : public BaseAnimation {
public:
    ProceduralAnimation(uint64_t ownerThread, const AnimationParams& params);
};

class ProceduralTargetingAnimation : public ProceduralAnimation {
public:
    // Callback states.
    enum : uint32_t { kStarting = 0, kRotating = 1, kStopping = 2, kStill = 3 };

    ProceduralTargetingAnimation(uint64_t ownerThread, const AnimationParams& params);
    // Kills the script's handle of the animation.
    ~ProceduralTargetingAnimation() override;

    void Bind(const MeshHierarchy& hierarchy, uint32_t treeNode, uint32_t firstNode) override;
    void Evaluate(AnimationPoseWorkspace& workspace, const MeshHierarchy& hierarchy) override;

    void SetTargetPoint(const Vector& point, bool flag);
    void SetTargetPoint(float x, float y, float z, bool flag) { SetTargetPoint(Vector(x, y, z, 1.0f), flag); }
    bool GetTargetPoint(Vector& out) const;
    void SetTargetEntity(Entity* entity);
    // Sets the angles; flag true stops targeting (the node holds them).
    void SetRotationVector(const Vector& angles, bool flag);
    Vector GetRotationVector() const { return angles; }
    void SetRotationLimits(const Vector& minimum, const Vector& maximum);
    void SetRotationLimits2(float minPitch, float maxPitch, float minYaw, float maxYaw);
    void SetRotationSpeed(float x, float y) { speed = Vector(x, y, 0, 0); }
    void SetRotationSlowDownZone(float x, float y) { slowDownZone = Vector(x, y, 0, 0); }
    void SetRotationCallbackSpeed(float start, float stop);
    void SetRotationCallbackListener(Entity* entity) { listener.Assign(entity); }
    void EnableAxis(bool pitch, bool yaw);
    void EnableStabilizer(bool on);
    // A custom clock for fades, steps and the callback timer; the time bits are cleared.
    void SetTimer(const GameTimer* clock);
    // SetTimer with a copy of clock that the animation keeps (null: the Game clock), for
    // callers whose clock may go before the animation does.
    void SetTimerCopy(const GameTimer* clock);
    void Stop(float fade);

    uint32_t CallbackState() const { return callbackState; }
    bool TargetingActive() const { return targetingActive; }
    bool FollowsEntity() const { return followTarget; }
    bool StabiliserValid() const { return stabiliserValid != 0.0f; }
    const Vector& StabiliserPoint() const { return stabiliserPoint; }
    Vector Velocity() const { return velocity; }

protected:
    // The height of the aiming line over the node: the pitch solves for a line at that
    // offset passing through the target. Nothing sets it here (0).
    float pitchOffset = 0.0f;

private:
    // The (pitch, yaw) that aim the node's Z axis at p, clamped and wrapped; frame is the
    // node's unposed world frame.
    Vector TargetAngles(const Matrix& frame, const Vector& p) const;
    void RunCallbacks(int64_t now);

    GameTimer ownClock;  // SetTimerCopy's
    Vector speed{90, 90, 0, 0};
    Vector slowDownZone{15, 15, 0, 0};
    Vector minimum{-180, -180, -180, -180};
    Vector maximum{180, 180, 180, 180};
    float startSquared = 1.0f;
    float stopSquared = 0.64f;
    float stepScale = 1.0f;
    bool targetingActive = true;
    bool pitchEnabled = true;
    bool yawEnabled = true;
    bool stabiliserEnabled = false;
    Vector angles{0, 0, 0, 0};
    Vector stabiliserPoint{0, 0, 0, 1};
    float stabiliserValid = 0.0f;
    bool followTarget = false;
    bool hasTargetPoint = false;
    Vector targetPoint{0, 0, 0, 1};
    SafePointer<Entity> targetEntity;
    SafePointer<Entity> listener;
    int64_t timerStart = 0;
    uint32_t callbackState = kStill;
    Vector velocity{0, 0, 0, 0};
};

// The scripts' handle on a targeting animation: clears itself when the animation goes.
class LuaProcTgtAnimPointer {
public:
    ProceduralTargetingAnimation* Get() const { return pointer.Get(); }
    void Set(ProceduralTargetingAnimation* animation) { pointer.Assign(animation); }
    bool IsNull() const { return pointer.Get() == nullptr; }
    void SetNull() { pointer.Assign(nullptr); }

private:
    SafePointer<ProceduralTargetingAnimation> pointer;
};
