#include "scene/animation/ProceduralTargetingAnimation.h"

#include <algorithm>
#include <cmath>

#include "platform/os/Clock.h"
#include "engine/entity/Entity.h"
#include "engine/script/LuaWrapper.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/mesh/MeshData.h"

namespace {

constexpr float kDegreesPerRadian = 57.29578f;

float WrapDegrees(float a) {
    const float w = a - 360.0f * std::floor(a / 360.0f);
    return w >= 360.0f ? 0.0f : w;  // a tiny negative a rounds up to 360
}

Matrix TargetNodeMatrix(const MeshHierarchy& h, uint32_t index) {
    const float* f = h.matrices.data() + size_t(index) * 16;
    return Matrix(Vector(f[0], f[1], f[2], f[3]), Vector(f[4], f[5], f[6], f[7]), Vector(f[8], f[9], f[10], f[11]),
                  Vector(f[12], f[13], f[14], f[15]));
}

float TargetRatio(float a, float b) { return b != 0.0f ? a / b : 0.0f; }

}  // namespace

ProceduralAnimation::ProceduralAnimation(uint64_t thread, const AnimationParams& startParams)
    : BaseAnimation(thread, startParams) {
    state |= ANIMSTATE_PROCEDURAL;
}

ProceduralTargetingAnimation::ProceduralTargetingAnimation(uint64_t thread, const AnimationParams& startParams)
    : ProceduralAnimation(thread, startParams) {}

ProceduralTargetingAnimation::~ProceduralTargetingAnimation() {
    gLua.InvalidateUserType(this, "ProceduralTargetingAnimation");
}

void ProceduralTargetingAnimation::Bind(const MeshHierarchy& hierarchy, uint32_t, uint32_t firstNode) {
    std::fill(std::begin(trackToNode), std::end(trackToNode), kAnimationNoIndex);
    std::fill(std::begin(nodeToTrack), std::end(nodeToTrack), kAnimationNoIndex);
    poses.assign(1, AnimationPose{Quaternion::ZERO, Vector(0, 0, 0, 0), Vector(1, 1, 1, 1)});
    if (firstNode < std::min<uint32_t>(hierarchy.NodeCount(), kAnimationNoIndex)) {
        trackToNode[0] = uint8_t(firstNode);
        nodeToTrack[firstNode] = 0;
    }
}

void ProceduralTargetingAnimation::SetTargetPoint(const Vector& point, bool flag) {
    targetPoint = point;
    hasTargetPoint = flag;
}

bool ProceduralTargetingAnimation::GetTargetPoint(Vector& out) const {
    if (!hasTargetPoint) return false;
    out = targetPoint;
    return true;
}

void ProceduralTargetingAnimation::SetTargetEntity(Entity* entity) {
    followTarget = entity != nullptr;
    targetEntity.Assign(entity);
}

void ProceduralTargetingAnimation::SetRotationVector(const Vector& a, bool flag) {
    angles = a;
    targetingActive = !flag;
    stabiliserValid = 0.0f;
}

void ProceduralTargetingAnimation::SetRotationLimits(const Vector& low, const Vector& high) {
    minimum = low;
    maximum = high;
}

void ProceduralTargetingAnimation::SetRotationLimits2(float minPitch, float maxPitch, float minYaw, float maxYaw) {
    minimum = Vector(minPitch, minYaw, 0, 0);
    maximum = Vector(maxPitch, maxYaw, 0, 0);
}

void ProceduralTargetingAnimation::SetRotationCallbackSpeed(float start, float stop) {
    startSquared = start * start;
    stopSquared = stop * stop;
}

void ProceduralTargetingAnimation::EnableAxis(bool pitch, bool yaw) {
    pitchEnabled = pitch;
    yawEnabled = yaw;
}

void ProceduralTargetingAnimation::EnableStabilizer(bool on) {
    stabiliserEnabled = on;
    if (!on) stabiliserValid = 0.0f;
}

void ProceduralTargetingAnimation::SetTimer(const GameTimer* clock) {
    SetCustomClock(clock);
    params.Flags &= ~kAnimFlagClockMask;
}

void ProceduralTargetingAnimation::SetTimerCopy(const GameTimer* clock) {
    if (clock) ownClock = *clock;
    SetTimer(clock ? &ownClock : nullptr);
}

void ProceduralTargetingAnimation::Stop(float fade) { MeshAnimationController::Stop(*this, fade); }

Vector ProceduralTargetingAnimation::TargetAngles(const Matrix& frame, const Vector& p) const {
    const Vector& X = frame.r[0];
    const Vector& Y = frame.r[1];
    const Vector& Z = frame.r[2];
    const Vector d = p - frame.r[3];
    float yaw = yawEnabled ? std::atan2(d.Dot3(X), d.Dot3(Z)) * kDegreesPerRadian : 0.0f;
    float pitch = 0.0f;
    if (pitchEnabled) {
        float f, u;
        if (yawEnabled) {
            Matrix turn, turned;
            turn.LoadYRotation(yaw);
            turned.Mul(turn, frame);
            f = d.Dot3(turned.r[2]);
            u = d.Dot3(turned.r[1]);
        } else {
            f = TargetRatio(d.Dot3(Z), Z.Dot3(Z));
            u = TargetRatio(d.Dot3(Y), Y.Dot3(Y));
        }
        const float o = pitchOffset;
        const float fu = f * f + u * u;
        const float disc = (2 * f * o) * (2 * f * o) - (o * o - u * u) * fu * 4;
        if (disc > 0.0f && fu > 0.0f) {
            const float s = std::clamp((std::sqrt(disc) + 2 * f * o) / (2 * fu), -1.0f, 1.0f);
            pitch = std::asin(s) * kDegreesPerRadian;
            if (d.y > 0.0f) pitch = -pitch;
            if (pitch > 180.0f) pitch -= 360.0f;
            else if (pitch < -180.0f) pitch += 360.0f;
        }
    }
    pitch = std::clamp(pitch, minimum.x, std::max(minimum.x, maximum.x));
    yaw = std::clamp(yaw, minimum.y, std::max(minimum.y, maximum.y));
    if (!std::isfinite(pitch)) pitch = 0.0f;
    if (!std::isfinite(yaw)) yaw = 0.0f;
    return Vector(WrapDegrees(pitch), WrapDegrees(yaw), 0, 0);
}

void ProceduralTargetingAnimation::RunCallbacks(int64_t now) {
    const float value = velocity.Length3Squared();
    const int64_t tenth = os::kCounterFrequency / 10;  // GameTimer ticks
    Entity* target = listener.Get();
    switch (callbackState) {
    case kStill:
        if (value >= startSquared) timerStart = now, callbackState = kStarting;
        break;
    case kStarting:
        if (value < startSquared) {
            callbackState = kStill;
        } else if (now - timerStart > tenth) {
            callbackState = kRotating;
            if (target) target->OnProcTargetingAnimRotStart();
        }
        break;
    case kRotating:
        if (value <= stopSquared) timerStart = now, callbackState = kStopping;
        break;
    case kStopping:
        if (value > stopSquared) {
            callbackState = kRotating;
        } else if (now - timerStart > tenth) {
            callbackState = kStill;
            if (target) target->OnProcTargetingAnimRotStop();
        }
        break;
    default:
        break;
    }
}

void ProceduralTargetingAnimation::Evaluate(AnimationPoseWorkspace& w, const MeshHierarchy& hierarchy) {
    const GameTimer* clock = Clock();
    const int64_t now = clock ? clock->Time() : 0;
    weight.Update(now);
    const float dt = clock ? clock->LastDelta() : 0.0f;
    const float step = stepScale * dt;
    const uint32_t node = trackToNode[0];
    const bool bound = node < hierarchy.NodeCount() && !poses.empty();

    // The node's unposed world frame: the root, the posed parent, the node's own matrix.
    Matrix frame = w.root;
    if (bound) {
        const uint8_t parent = hierarchy.nodes[node].parent;
        const Matrix& parentMatrix = w.matrices[parent < node ? parent : AnimationPoseWorkspace::kRootParent];
        Matrix local;
        local.Mul(parentMatrix, TargetNodeMatrix(hierarchy, node));
        frame.Mul(w.root, local);
    }

    if (step > 0.0f && targetingActive) {
        if (stabiliserEnabled && stabiliserValid != 0.0f) angles = TargetAngles(frame, stabiliserPoint);
        if (followTarget) {
            if (Entity* e = targetEntity.Get()) {
                targetPoint = e->GetGlobalPosition();
                targetPoint.w = 1.0f;
                hasTargetPoint = true;
            } else {
                followTarget = hasTargetPoint = false;
            }
        }
        const Vector goal = hasTargetPoint ? TargetAngles(frame, targetPoint) : Vector(0, 0, 0, 0);
        float current[2] = {angles.x, angles.y};
        const float target[2] = {goal.x, goal.y};
        const float rate[2] = {speed.x, speed.y};
        const float zone[2] = {slowDownZone.x, slowDownZone.y};
        float change[2];
        for (int i = 0; i < 2; ++i) {
            const float diff = target[i] - current[i];
            float a = std::fabs(diff);
            float direction = diff > 0 ? 1.0f : diff < 0 ? -1.0f : 0.0f;
            if (a >= 180.0f) {
                a = 360.0f - a;
                direction = -direction;
            }
            const float v = rate[i] * std::min(a / std::max(zone[i], 0.0001f), 1.0f);
            change[i] = std::min(step * v, a) * direction;
            if (!std::isfinite(change[i])) change[i] = 0.0f;
            current[i] = WrapDegrees(current[i] + change[i]);
        }
        angles.x = current[0];
        angles.y = current[1];
        velocity = Vector(change[0] / step, change[1] / step, 0, 0);
        if ((params.Flags & ANIMFLAG_PROCCALLBACKS) && listener.Get()) RunCallbacks(now);
    }

    Quaternion yawTurn, pitchTurn, rotation;
    yawTurn.LoadYRotation(angles.y);
    pitchTurn.LoadXRotation(angles.x);
    rotation.Mul(yawTurn, pitchTurn);
    if (!poses.empty()) poses[0].rotation = rotation;

    if (step > 0.0f) {
        if (targetingActive && stabiliserEnabled && hasTargetPoint) {
            Matrix turn, world;
            turn.LoadQuaternionTranslationAndScale(rotation, Vector(0, 0, 0, 0), Vector(1, 1, 1, 1));
            world.Mul(frame, turn);
            Vector ahead = world.r[2];
            ahead.w = 0.0f;
            const float length = std::sqrt(ahead.Length3Squared());
            const Vector offset = targetPoint - world.r[3];
            const float distance = std::sqrt(offset.Length3Squared());
            if (length > 0.0f) {
                stabiliserPoint = world.r[3] + ahead * (distance / length);
                stabiliserPoint.w = 1.0f;
                stabiliserValid = 1.0f;
            } else {
                stabiliserValid = 0.0f;
            }
        } else {
            stabiliserValid = 0.0f;
        }
    }
}
