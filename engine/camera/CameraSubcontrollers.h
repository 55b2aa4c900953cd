#pragma once
// Camera subcontrollers: complete camera states that scripts create through the
// GameCameraController and make current.
//
//   LCBaseCameraSubcontroller   a state scripts set directly (position, rotation, field
//                               of view, shake factor, offsets)
//   LCRTSCameraSubcontroller    adds a position drive: free movement with braking and
//                               damping (mode 0), go to a point (1), exponential lerp
//                               (2) and a timed fade along a curve (3)
//
// Both are script classes (LuaBaseClass): scripts extend them by their class name.
// The drive reads the Game's clocks through CameraServices: it moves once per frame
// (only on variable sub-step 0) by the frame's game delta, which the real-time flag
// divides by the time multiplier (0 with a multiplier of 0).
//
// Threads: main thread.
#include <cstdint>

#include "core/math/BoundingBox4.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "engine/tween/Fade.h"
#include "engine/tween/FadeCurve.h"
#include "engine/script/LuaBaseClass.h"

enum CameraSubcontrollerKind : uint32_t {
    CAMERASUBCONTROLLER_BASE = 0,
    CAMERASUBCONTROLLER_RTS = 1,
};

class LCBaseCameraSubcontroller : public LuaBaseClass {
public:
    LCBaseCameraSubcontroller() = default;
    LCBaseCameraSubcontroller(const LCBaseCameraSubcontroller&) = delete;
    LCBaseCameraSubcontroller& operator=(const LCBaseCameraSubcontroller&) = delete;

    const RTTIClass* GetRTTIClass() const override;
    const char* GetScriptClassName() const override { return "LCBaseCameraSubcontroller"; }
    // The kind: CAMERASUBCONTROLLER_BASE or CAMERASUBCONTROLLER_RTS.
    virtual uint32_t GetKind() const { return CAMERASUBCONTROLLER_BASE; }
    virtual void SetPosition(const Vector& newPosition) { position = newPosition; }
    // Once per frame while current.
    virtual void Update() {}

    const Vector& GetPosition() const { return position; }
    void SetRotation(const Quaternion& q) { rotation = q; }
    // Turns about x by the first angle, then about y by the third, then about z by the
    // second (degrees).
    void SetRotation(float aboutX, float aboutZ, float aboutY);
    const Quaternion& GetRotation() const { return rotation; }
    void SetFOV(float degrees) { fov = degrees; }
    float GetFOV() const { return fov; }
    void SetShakeFactor(float factor) { shakeFactor = factor; }
    float GetShakeFactor() const { return shakeFactor; }
    void SetGlobalOffset(const Vector& offset) { globalOffset = offset; }
    const Vector& GetGlobalOffset() const { return globalOffset; }
    void SetProjectionOffset(const Vector& offset) { projectionOffset = offset; }
    const Vector& GetProjectionOffset() const { return projectionOffset; }

    Vector projectionOffset;
    Vector position;
    Quaternion rotation;
    Vector globalOffset;
    float fov = 50.0f;
    float shakeFactor = 1.0f;
};

class LCRTSCameraSubcontroller : public LCBaseCameraSubcontroller {
public:
    enum DriveMode : uint32_t { DRIVE_FREE = 0, DRIVE_GOTO = 1, DRIVE_LERP = 2, DRIVE_TIMED_LERP = 3 };

    LCRTSCameraSubcontroller() = default;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    const char* GetScriptClassName() const override { return "LCRTSCameraSubcontroller"; }
    uint32_t GetKind() const override { return CAMERASUBCONTROLLER_RTS; }
    // Position set, drive mode 0, velocity zero.
    void SetPosition(const Vector& newPosition) override;
    void Update() override;

    void SetAcceleration(float value) { acceleration = value; }
    void SetBreaking(float value) { braking = value; }
    // The target maximum speed; the present one starts from the present speed when that
    // is at least v.
    void SetMaxVelocity(float v);
    // Drives to the target (mode 1) when it is at least minDistance away and, with a
    // direction, lies ahead along it; a running drive only retargets (with a direction,
    // only to a target further along it). Otherwise the drive stops (mode 0).
    void GoToPosition(const Vector& target, float minDistance, const Vector* direction);
    void GoToPositionLerp(const Vector& target, float factor);
    // Over the duration along the curve on the smooth game clock; a duration of 0 or
    // less puts the camera there at once.
    void GoToPositionTimeLerp(const Vector& target, float duration, uint32_t curve);
    // Adds a · dt (the smooth game timer's last delta) to the velocity; with bounds,
    // each axis whose stopping point already lies beyond the box gets no acceleration
    // further out.
    void ApplyAcceleration(const Vector& a, const BoundingBox4* bounds);
    void StopPositionDrive() { driveMode = DRIVE_FREE; }

    // Where braking at the present speed would stop.
    Vector StoppingPoint() const;
    float Speed() const { return velocity.Length3(); }

    Vector driveTarget;
    Vector velocity;
    float acceleration = 10.0f;
    float braking = 10.0f;
    float damping = 1.0f;
    float targetMaxVelocity = 1.0f;
    float currentMaxVelocity = 1.0f;
    float lerpFactor = 1.0f;
    uint32_t driveMode = DRIVE_FREE;
    bool realTime = false;
    Fade<Vector> timedLerp;

private:
    float Step(float delta) const;
    void LimitSpeed();
};
