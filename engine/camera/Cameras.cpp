// The camera classes, their registration and the view-volume planes.
#include "engine/camera/Cameras.h"

#include <algorithm>
#include <cmath>

#include "core/StaticInit.h"
#include "core/rtti/DirectProperty.h"
#include "engine/services/SoundServices.h"

namespace {

RTTIClass* gYawPitchCameraClass = nullptr;
RTTIClass* gPerspectiveCameraClass = nullptr;
RTTIClass* gTargetViewCameraClass = nullptr;
RTTIClass* gGameCameraControllerCameraClass = nullptr;

Vector Column(const Matrix& m, int j) { return Vector(m.r[0][j], m.r[1][j], m.r[2][j], m.r[3][j]); }

Vector NormalizedPlane(const Vector& p) {
    const float length = p.Length3();
    return length > 0.0f ? p * (1.0f / length) : p;
}

// The listener's camera matrix when none looks down: the renderer's camera.
Matrix RendererCameraMatrix() {
    Matrix m;
    m.Inverse(GetCameraServices().CurrentView());
    return m;
}

void PostListener(const Matrix& listener) {
    GetSoundServices().SetListener(listener);
}

}  // namespace

Frustum ComputeFrustumPlanes(const Matrix& view, const Matrix& projection) {
    Matrix m;
    m.Mul(projection, view);  // view, then projection
    const Vector x = Column(m, 0), y = Column(m, 1), z = Column(m, 2), w = Column(m, 3);
    Frustum f;
    f.planes[0] = NormalizedPlane(z);      // near: z >= 0
    f.planes[1] = NormalizedPlane(w - z);  // far: z <= w
    f.planes[2] = NormalizedPlane(w + x);  // x >= -w
    f.planes[3] = NormalizedPlane(w - x);  // x <= w
    f.planes[4] = NormalizedPlane(w + y);  // y >= -w
    f.planes[5] = NormalizedPlane(w - y);  // y <= w
    return f;
}

// ---------------------------------------------------------------------------------
// BaseCamera.

void BaseCamera::UpdateSoundListener() { PostListener(RendererCameraMatrix()); }

void BaseCamera::SetViewport(uint32_t width, uint32_t height) { viewport = {0, 0, width, height, 0.0f, 1.0f}; }

float BaseCamera::ViewportAspect() const {
    if (viewport.width == 0 || viewport.height == 0) return 1.0f;
    return static_cast<float>(viewport.width) / static_cast<float>(viewport.height);
}

void BaseCamera::RebuildMatrices() {
    ComputeMatrices(&view, &projection);
    invView.Inverse(view);
    Matrix viewProjection;
    viewProjection.Mul(projection, view);
    invViewProjection.Inverse(viewProjection);
}

bool BaseCamera::UpdateCamera(bool compute) {
    if (compute) RebuildMatrices();
    CameraServices& services = GetCameraServices();
    const bool reached = viewport.width > 0 && viewport.height > 0;
    if (reached) services.SetViewport(viewport);
    services.SetCamera(Matrix::IDENTITY, view, projection);
    rendererView = services.CurrentView();
    rendererProjection = services.CurrentProjection();
    return reached;
}

bool BaseCamera::SetupFrame(bool listener, uint32_t clearFlags, const Vector* clearColor) {
    const bool reached = UpdateCamera(true);
    if (reached && clearFlags) GetCameraServices().Clear(clearFlags, clearColor ? *clearColor : backgroundColor, 1.0f, 0);
    if (listener) UpdateSoundListener();
    return reached;
}

// ---------------------------------------------------------------------------------
// YawPitchCamera.

const RTTIClass* YawPitchCamera::RegisterClass() {
    if (gYawPitchCameraClass) return gYawPitchCameraClass;
    RTTIClass* c = CreateRegisteredClass(gYawPitchCameraClass, "YawPitchCamera", "BaseCamera");
    AddDirect<float>(c, "Yaw", RTTI_OFFSETOF(YawPitchCamera, yaw));
    AddDirect<float>(c, "Pitch", RTTI_OFFSETOF(YawPitchCamera, pitch));
    return c;
}

void YawPitchCamera::SetYawPitch(float newYaw, float newPitch) {
    yaw = newYaw;
    pitch = std::clamp(newPitch, -90.0f, 90.0f);
}

void YawPitchCamera::RotateLocal(float yawDelta, float pitchDelta) {
    yaw = std::fmod(yaw + yawDelta, 360.0f);
    pitch = std::clamp(std::fmod(pitch + pitchDelta, 360.0f), -90.0f, 90.0f);
}

Matrix YawPitchCamera::ViewRotation() const {
    Matrix ry, rx, r;
    ry.LoadYRotation(-yaw);
    rx.LoadXRotation(-pitch);
    r.Mul(rx, ry);  // about y first, then about x
    return r;
}

Matrix YawPitchCamera::WorldRotation() const {
    Matrix r;
    r.Transpose(ViewRotation());
    return r;
}

Vector YawPitchCamera::ToWorld(const Vector& offset) const {
    Vector v;
    v.Transform3DNormal(WorldRotation(), offset);
    return v;
}

// ---------------------------------------------------------------------------------
// PerspectiveCamera.

const RTTIClass* PerspectiveCamera::RegisterClass() {
    if (gPerspectiveCameraClass) return gPerspectiveCameraClass;
    YawPitchCamera::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gPerspectiveCameraClass, "PerspectiveCamera", "YawPitchCamera");
    AddDirect<Vector>(c, "Eye position", RTTI_OFFSETOF(PerspectiveCamera, eyePosition));
    return c;
}

void PerspectiveCamera::ComputeMatrices(Matrix* viewOut, Matrix* projectionOut) {
    Matrix t;
    t.LoadTranslation(-eyePosition.x, -eyePosition.y, -eyePosition.z);
    viewOut->Mul(ViewRotation(), t);
    projectionOut->LoadPerspectiveLH(0.01f, 0.01f / ViewportAspect(), 0.01f, 100.0f);
}

void PerspectiveCamera::SetPosition(const Vector& eye, float newYaw, float newPitch) {
    eyePosition = Vector(eye.x, eye.y, eye.z, 1.0f);
    SetYawPitch(newYaw, newPitch);
}

void PerspectiveCamera::MoveLocal(const Vector& offset) {
    const Vector d = ToWorld(offset);
    eyePosition = Vector(eyePosition.x + d.x, eyePosition.y + d.y, eyePosition.z + d.z, eyePosition.w);
}

// ---------------------------------------------------------------------------------
// TargetViewCamera.

const RTTIClass* TargetViewCamera::RegisterClass() {
    if (gTargetViewCameraClass) return gTargetViewCameraClass;
    YawPitchCamera::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTargetViewCameraClass, "TargetViewCamera", "YawPitchCamera");
    AddDirect<Vector>(c, "Target position", RTTI_OFFSETOF(TargetViewCamera, targetPosition));
    AddDirect<float>(c, "View distance", RTTI_OFFSETOF(TargetViewCamera, viewDistance));
    AddDirect<float>(c, "zNear", RTTI_OFFSETOF(TargetViewCamera, zNear));
    AddDirect<float>(c, "zFar", RTTI_OFFSETOF(TargetViewCamera, zFar));
    return c;
}

Vector TargetViewCamera::EyePosition() const {
    const Vector forward = WorldRotation().r[2];
    return Vector(targetPosition.x - forward.x * viewDistance, targetPosition.y - forward.y * viewDistance,
                  targetPosition.z - forward.z * viewDistance, 1.0f);
}

void TargetViewCamera::ComputeMatrices(Matrix* viewOut, Matrix* projectionOut) {
    const Vector eye = EyePosition();
    Matrix t;
    t.LoadTranslation(-eye.x, -eye.y, -eye.z);
    viewOut->Mul(ViewRotation(), t);
    projectionOut->LoadPerspectiveFovLH(fov, ViewportAspect(), zNear, zFar);
}

void TargetViewCamera::MoveLocal(const Vector& offset) {
    const Vector d = ToWorld(offset);
    targetPosition = Vector(targetPosition.x + d.x, targetPosition.y + d.y, targetPosition.z + d.z, targetPosition.w);
}

void TargetViewCamera::AlterViewDistance(float delta) { viewDistance = std::max(0.0f, viewDistance + delta); }

void TargetViewCamera::RotateAroundEye(float yawDelta, float pitchDelta) {
    const Vector eye = EyePosition();
    RotateLocal(yawDelta, pitchDelta);
    const Vector forward = WorldRotation().r[2];
    targetPosition = Vector(eye.x + forward.x * viewDistance, eye.y + forward.y * viewDistance,
                            eye.z + forward.z * viewDistance, targetPosition.w);
}

void TargetViewCamera::Focus(const BoundingBox4& box, const Matrix& transform) {
    Vector centre, corner;
    centre.Transform3D(transform, box.GetCenter());
    corner.Transform3D(transform, box.max);
    targetPosition = Vector(centre.x, centre.y, centre.z, targetPosition.w);
    viewDistance = std::sqrt(centre.DistanceSquaredXYZ(corner)) / std::tan(fov * kDegToRad * 0.5f);
}

// ---------------------------------------------------------------------------------
// GameCameraControllerCamera.

const RTTIClass* GameCameraControllerCamera::RegisterClass() {
    if (gGameCameraControllerCameraClass) return gGameCameraControllerCameraClass;
    using C = GameCameraControllerCamera;
    RTTIClass* c = CreateRegisteredClass(gGameCameraControllerCameraClass, "GameCameraControllerCamera", "BaseCamera");
    AddDirect<Vector>(c, "Position", RTTI_OFFSETOF(C, position));
    AddDirect<Quaternion>(c, "Rotation", RTTI_OFFSETOF(C, rotation));
    AddDirect<Vector>(c, "Scale", RTTI_OFFSETOF(C, scale));
    AddDirect<float>(c, "zNear", RTTI_OFFSETOF(C, zNear));
    AddDirect<float>(c, "zFar", RTTI_OFFSETOF(C, zFar));
    return c;
}

void GameCameraControllerCamera::ComputeViewProjection(const Vector& eye, const Quaternion& q, float fieldOfView,
                                                       Matrix* viewOut, Matrix* projectionOut) const {
    Matrix world;
    world.LoadQuaternionAndTranslation(q, eye);
    viewOut->Inverse(world);
    projectionOut->LoadPerspectiveFovLH(fieldOfView, ViewportAspect(), zNear, zFar);
}

void GameCameraControllerCamera::ComputeMatrices(Matrix* viewOut, Matrix* projectionOut) {
    ComputeViewProjection(position, rotation, fov, viewOut, projectionOut);
}

Matrix GameCameraControllerCamera::ComputeListener(const Matrix& world) const {
    const Vector& forward = world.r[2];
    const Vector& up = world.r[1];
    const Vector& eye = world.r[3];
    if (!(forward.y <= -0.05f)) return RendererCameraMatrix();
    // Where the view ray meets the ground, at the listener's altitude.
    const float t = eye.y / std::fabs(forward.y);
    const Vector ground(eye.x + forward.x * t, soundListenerAltitude, eye.z + forward.z * t, 1.0f);
    // Looking down gently: the horizontal part of the view; steeply: that of the up
    // vector, which then points where the view goes.
    Vector listenerForward = forward.y >= -0.707f ? Vector(forward.x, 0.0f, forward.z, 0.0f)
                                                   : Vector(up.x, 0.0f, up.z, 0.0f);
    listenerForward.NormalizeXYZ();
    const Vector listenerUp(0.0f, -1.0f, 0.0f, 0.0f);
    Vector side;
    side.Cross(listenerForward, listenerUp);
    return Matrix(side, listenerUp, listenerForward, ground);
}

void GameCameraControllerCamera::UpdateSoundListener() { PostListener(ComputeListener(invView)); }
