// The camera subcontrollers and the strategy camera's position drive.
#include "engine/camera/CameraSubcontrollers.h"

#include <algorithm>
#include <cmath>

#include "core/StaticInit.h"
#include "engine/camera/CameraServices.h"

namespace {

RTTIClass* gRTSCameraSubcontrollerClass = nullptr;

Vector XYZ(const Vector& v) { return Vector(v.x, v.y, v.z, 0.0f); }

}  // namespace

// ---------------------------------------------------------------------------------
// LCBaseCameraSubcontroller.

const RTTIClass* LCBaseCameraSubcontroller::GetRTTIClass() const {
    return RTTIClassRegistry::FindClass("LCBaseCameraSubcontroller");
}

void LCBaseCameraSubcontroller::SetRotation(float aboutX, float aboutZ, float aboutY) {
    Quaternion qx, qy, qz, xy;
    qx.LoadXRotation(aboutX);
    qy.LoadYRotation(aboutY);
    qz.LoadZRotation(aboutZ);
    // Applied x first, then y, then z: the later turn goes on the left.
    xy.Mul(qy, qx);
    rotation.Mul(qz, xy);
}

// ---------------------------------------------------------------------------------
// LCRTSCameraSubcontroller.

const RTTIClass* LCRTSCameraSubcontroller::RegisterClass() {
    if (gRTSCameraSubcontrollerClass) return gRTSCameraSubcontrollerClass;
    return CreateRegisteredClass(gRTSCameraSubcontrollerClass, "LCRTSCameraSubcontroller", "LCBaseCameraSubcontroller");
}

void LCRTSCameraSubcontroller::SetPosition(const Vector& newPosition) {
    position = newPosition;
    driveMode = DRIVE_FREE;
    velocity = Vector();
}

float LCRTSCameraSubcontroller::Step(float delta) const {
    if (!realTime) return delta;
    const float multiplier = GetCameraServices().TimeMultiplier();
    return multiplier != 0.0f ? delta / multiplier : 0.0f;
}

void LCRTSCameraSubcontroller::SetMaxVelocity(float v) {
    targetMaxVelocity = v;
    const float speed = Speed();
    currentMaxVelocity = speed >= v ? speed : v;
}

Vector LCRTSCameraSubcontroller::StoppingPoint() const {
    // position + v (s/b) - (b/s) v (s/b)^2 / 2
    const float s = Speed();
    const float k = s / braking;
    return position + velocity * k - velocity * (braking / s) * (k * k) * 0.5f;
}

void LCRTSCameraSubcontroller::LimitSpeed() {
    const float s = Speed();
    if (s > currentMaxVelocity) velocity = velocity * (currentMaxVelocity / s);
}

void LCRTSCameraSubcontroller::GoToPosition(const Vector& target, float minDistance, const Vector* direction) {
    if (driveMode == DRIVE_GOTO) {
        if (!direction || XYZ(target - driveTarget).Dot3(*direction) > 0.0f) driveTarget = target;
        return;
    }
    const Vector toTarget = XYZ(target - position);
    if (toTarget.Length3() >= minDistance && (!direction || toTarget.Dot3(*direction) > 0.0f)) {
        driveMode = DRIVE_GOTO;
        driveTarget = target;
    } else {
        driveMode = DRIVE_FREE;
    }
}

void LCRTSCameraSubcontroller::GoToPositionLerp(const Vector& target, float factor) {
    driveMode = DRIVE_LERP;
    driveTarget = target;
    lerpFactor = factor;
    velocity = Vector();
}

void LCRTSCameraSubcontroller::GoToPositionTimeLerp(const Vector& target, float duration, uint32_t curve) {
    driveMode = DRIVE_TIMED_LERP;
    driveTarget = target;
    lerpFactor = 0.0f;
    velocity = Vector();
    timedLerp.Start(GetCameraServices().SmoothGameTime(), position, target, duration, curve);
    if (!timedLerp.active) position = target;
}

void LCRTSCameraSubcontroller::ApplyAcceleration(const Vector& a, const BoundingBox4* bounds) {
    Vector accel = XYZ(a);
    if (bounds) {
        const Vector stop = Speed() > 0.0001f ? StoppingPoint() : position;
        for (int i = 0; i < 3; ++i) {
            if ((stop[i] < bounds->min[i] && accel[i] <= 0.0f) || (stop[i] > bounds->max[i] && accel[i] >= 0.0f))
                accel[i] = 0.0f;
        }
    }
    velocity += accel * Step(GetCameraServices().SmoothGameLastDelta());
    LimitSpeed();
}

void LCRTSCameraSubcontroller::Update() {
    CameraServices& services = GetCameraServices();
    if (services.VariableSubStepIndex() != 0) return;
    const float dt = Step(services.FrameGameDelta());

    // The present speed limit moves towards the target one.
    if (currentMaxVelocity < targetMaxVelocity)
        currentMaxVelocity = std::min(targetMaxVelocity, currentMaxVelocity + acceleration * dt);
    else if (currentMaxVelocity > targetMaxVelocity)
        currentMaxVelocity = std::max(targetMaxVelocity, currentMaxVelocity - braking * dt);

    switch (driveMode) {
        case DRIVE_GOTO: {
            const Vector d = XYZ(driveTarget - position);
            float s = Speed();
            if (s > 0.001f && (StoppingPoint() - driveTarget).Dot3(d) >= 0.0f) driveMode = DRIVE_FREE;
            s = std::max(s, 0.001f);
            velocity = velocity * (std::max(0.0f, s - braking * dt) / s);
            if (driveMode == DRIVE_GOTO) {
                const float distance = d.Length3();
                if (distance <= 1.0f) {
                    driveMode = DRIVE_FREE;
                } else {
                    const Vector direction(d.x / distance, d.y / distance, d.z / distance, 0.0f);
                    velocity += direction * acceleration * dt;
                    LimitSpeed();
                }
            }
            break;
        }
        case DRIVE_LERP: {
            const float k = 1.0f - std::pow(0.98f, lerpFactor * dt);
            position = position * (1.0f - k) + driveTarget * k;
            return;
        }
        case DRIVE_TIMED_LERP:
            timedLerp.Update(services.SmoothGameTime());
            position = timedLerp.current;
            if (!timedLerp.active) driveMode = DRIVE_FREE;
            return;
        default: {
            const float s = std::max(Speed(), 0.001f);
            velocity = velocity * (std::pow(damping, dt) * std::max(0.0f, s - braking * dt) / s);
            break;
        }
    }
    position += velocity * dt;
}
