#pragma once
// Cameras: a viewpoint turned into the view and projection matrices and the viewport
// the renderer receives, and the place of the sound listener.
//
//   BaseCamera                  abstract; viewport, background colour, matrices
//     YawPitchCamera            yaw and pitch in degrees ("Yaw", "Pitch")
//       PerspectiveCamera       free camera at an eye point ("Eye position")
//       TargetViewCamera        orbits a target ("Target position", "View distance",
//                               "zNear", "zFar")
//     GameCameraControllerCamera  position, rotation, scale ("Position", "Rotation",
//                               "Scale", "zNear", "zFar"); the camera controller's
//
// Matrices are left-handed row-vector matrices (core/math/Matrix.h). The yaw/pitch
// cameras' view rotation is a turn about y by minus the yaw followed by a turn about x
// by minus the pitch; a positive pitch looks down. A viewport of width or height 0
// never reaches the renderer, and the projections then use aspect 1.
//
// Threads: main thread; the renderer and the clocks are reached through
// CameraServices, the sound listener through SoundServices.
#include <cstdint>

#include "core/math/BoundingBox4.h"
#include "core/math/Quaternion.h"
#include "core/rtti/RTTIClass.h"
#include "engine/camera/CameraServices.h"

// The six planes of the view volume of view x projection, in the order near, far,
// x = -w, x = w, y = -w, y = w, each normalised with its normal pointing inside.
Frustum ComputeFrustumPlanes(const Matrix& view, const Matrix& projection);

class BaseCamera : public RTTIPolyBaseClass {
public:
    BaseCamera() = default;
    BaseCamera(const BaseCamera&) = delete;
    BaseCamera& operator=(const BaseCamera&) = delete;

    virtual void ComputeMatrices(Matrix* view, Matrix* projection) = 0;
    // The sound listener becomes the renderer's current camera matrix.
    virtual void UpdateSoundListener();

    // (0, 0, width, height, 0, 1).
    void SetViewport(uint32_t width, uint32_t height);
    // With compute: the matrices are computed first. The viewport goes to the renderer
    // when width and height are both above 0 (the result); then view and projection
    // with the identity world matrix; then the renderer's current matrices are kept.
    bool UpdateCamera(bool compute);
    // UpdateCamera (true); when the viewport reached the renderer and clear flags are
    // given, the target is cleared with them, the colour (the background colour for
    // null), depth 1 and stencil 0; with listener set, UpdateSoundListener. Returns
    // whether the viewport reached the renderer.
    bool SetupFrame(bool listener, uint32_t clearFlags, const Vector* clearColor);
    void SetBackgroundColor(float r, float g, float b, float a) { backgroundColor = Vector(r, g, b, a); }
    const Matrix& GetViewMatrix() const { return view; }
    const Matrix& GetProjectionMatrix() const { return projection; }
    const Matrix& GetInvViewMatrix() const { return invView; }
    const Matrix& GetInvViewProjectionMatrix() const { return invViewProjection; }
    // ComputeMatrices into the camera's own matrices, then their inverses.
    void RebuildMatrices();
    // Width / height of the viewport, 1 when either is 0.
    float ViewportAspect() const;

    CameraViewport viewport;
    Vector backgroundColor;
    Matrix view = Matrix::IDENTITY;
    Matrix projection = Matrix::IDENTITY;
    Matrix invView = Matrix::IDENTITY;
    Matrix invViewProjection = Matrix::IDENTITY;
    Matrix rendererView = Matrix::IDENTITY;
    Matrix rendererProjection = Matrix::IDENTITY;
};

class YawPitchCamera : public BaseCamera {
public:
    static const RTTIClass* RegisterClass();

    // Pitch clamped to [-90, 90].
    void SetYawPitch(float newYaw, float newPitch);
    // yaw = (yaw + delta) mod 360; pitch = ((pitch + delta) mod 360) clamped to
    // [-90, 90]; the remainder keeps the sign of the dividend.
    void RotateLocal(float yawDelta, float pitchDelta);
    // The view rotation, and the camera's own rotation (its transpose): rows right,
    // up, forward.
    Matrix ViewRotation() const;
    Matrix WorldRotation() const;
    // The offset turned into the camera's frame (w ignored).
    Vector ToWorld(const Vector& offset) const;

    float yaw = 0.0f;
    float pitch = 0.0f;
};

class PerspectiveCamera : public YawPitchCamera {
public:
    PerspectiveCamera() = default;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // View: translation by minus the eye, then the view rotation. Projection: view
    // width 0.01, height 0.01 / aspect, near 0.01, far 100.
    void ComputeMatrices(Matrix* view, Matrix* projection) override;
    void SetPosition(const Vector& eye, float newYaw, float newPitch);
    // Moves the eye by the offset turned into the camera's frame.
    void MoveLocal(const Vector& offset);
    const Vector& GetEyePosition() const { return eyePosition; }

    Vector eyePosition{0.0f, 0.0f, 0.0f, 1.0f};
};

class TargetViewCamera : public YawPitchCamera {
public:
    TargetViewCamera() = default;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // The eye sits the view distance behind the target along the view direction;
    // view: translation by minus the eye, then the view rotation. Projection from the
    // vertical field of view, the viewport aspect, zNear and zFar.
    void ComputeMatrices(Matrix* view, Matrix* projection) override;
    Vector EyePosition() const;
    // Moves the target by the offset turned into the camera's frame.
    void MoveLocal(const Vector& offset);
    // distance = max(0, distance + delta).
    void AlterViewDistance(float delta);
    // Turns as RotateLocal around the eye, which stays where it is.
    void RotateAroundEye(float yawDelta, float pitchDelta);
    // Target: the box centre transformed by the matrix; distance: from there to the
    // transformed maximum corner, divided by the tangent of half the field of view.
    void Focus(const BoundingBox4& box, const Matrix& transform);
    void SetFov(float degrees) { fov = degrees; }
    void SetViewDistance(float distance) { viewDistance = distance; }
    void SetTargetPosition(const Vector& position) { targetPosition = position; }
    const Vector& GetTargetPosition() const { return targetPosition; }

    Vector targetPosition;
    float viewDistance = 1.0f;
    float fov = 60.0f;
    float zNear = 0.01f;
    float zFar = 1000.0f;
};

class GameCameraControllerCamera : public BaseCamera {
public:
    GameCameraControllerCamera() = default;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    void ComputeMatrices(Matrix* view, Matrix* projection) override;
    // The listener on the ground where the camera looks when it looks down (see the
    // .cpp), else the renderer's current camera matrix.
    void UpdateSoundListener() override;
    // view = inverse of (rotation, then translation to the position); projection from
    // the field of view, the viewport aspect and the camera's zNear and zFar.
    void ComputeViewProjection(const Vector& eye, const Quaternion& rotation, float fieldOfView, Matrix* view,
                               Matrix* projection) const;
    // The listener block (side, up, forward, position rows) for a camera world matrix.
    Matrix ComputeListener(const Matrix& world) const;

    Vector position;
    Vector scale;
    Quaternion rotation;
    float fov = 50.0f;
    float zNear = 1.0f;
    float zFar = 1200.0f;
    float soundListenerAltitude = 0.0f;
};
