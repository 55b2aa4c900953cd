// The camera controller: subcontrollers, blends, the shake and the per-frame camera.
#include "engine/camera/GameCameraController.h"

#include <algorithm>
#include <cmath>

#include "core/Time.h"
#include "engine/camera/CameraSubcontrollers.h"

namespace {

constexpr float kGrey = 70.0f / 255.0f;

float BlendCurve(uint32_t flags, float t) {
    const uint32_t curve = flags & kCameraCurveMask;
    return curve == kCameraCurveSquare ? t * t : FadeCurve(curve, t);
}

}  // namespace

GameCameraController::GameCameraController() {
    fov = 30.0f;
    state.fov = 30.0f;
    state.shakeFactor = 0.0f;
    soundListenerAltitude = 100.0f;
    uint32_t width = 0, height = 0;
    GetCameraServices().GetWindowSize(&width, &height);
    SetViewport(width, height);
    SetBackgroundColor(kGrey, kGrey, kGrey, 1.0f);
}

GameCameraController::~GameCameraController() {
    for (LCBaseCameraSubcontroller* sub : subcontrollers) sub->Destroy();
}

double GameCameraController::ClockSeconds(uint32_t flags) {
    const CameraServices& services = GetCameraServices();
    int64_t ticks;
    switch (flags & kCameraClockMask) {
        case GCCF_GAMEPLAYTIME: ticks = services.SmoothGameplayTime(); break;
        case GCCF_SYSTEMTIME: ticks = services.EngineTime(); break;
        default: ticks = services.SmoothGameTime(); break;
    }
    return Time(ticks).ToSeconds();
}

LCBaseCameraSubcontroller* GameCameraController::AddNewSubcontroller(uint32_t kind) {
    LCBaseCameraSubcontroller* sub = nullptr;
    if (kind == CAMERASUBCONTROLLER_BASE) sub = new LCBaseCameraSubcontroller();
    else if (kind == CAMERASUBCONTROLLER_RTS) sub = new LCRTSCameraSubcontroller();
    if (sub) subcontrollers.push_back(sub);
    return sub;
}

bool GameCameraController::DeleteSubcontroller(LCBaseCameraSubcontroller* sub) {
    if (!sub || sub == current) return false;
    const auto it = std::find(subcontrollers.begin(), subcontrollers.end(), sub);
    if (it == subcontrollers.end()) return false;
    subcontrollers.erase(it);
    sub->Destroy();
    return true;
}

void GameCameraController::TakeState(const LCBaseCameraSubcontroller& sub) {
    state.position = sub.position + sub.globalOffset;
    state.rotation = sub.rotation;
    state.projectionOffset = sub.projectionOffset;
    state.fov = sub.fov;
    state.shakeFactor = sub.shakeFactor;
}

bool GameCameraController::SetCurrentSubcontroller(LCBaseCameraSubcontroller* sub, float blendTime, uint32_t flags) {
    if (sub == current && blendTime >= 0.001f) return true;
    if (std::find(subcontrollers.begin(), subcontrollers.end(), sub) == subcontrollers.end()) return true;
    if (blendTime < 0.001f || !current) {
        TakeState(*sub);
        blendDuration = -1.0f;
    } else {
        saved = state;
        blendDuration = blendTime;
        blendFlags = flags;
        blendStart = ClockSeconds(flags);
    }
    current = sub;
    return true;
}

bool GameCameraController::StartCameraShakeEffect(float duration, float p1, float p2, float p3, float p4, float p5,
                                                  uint32_t flags) {
    if (IsShaking() || !(duration > 0.0f)) return false;
    shakeDuration = duration;
    shakeFlags = flags;
    shakeParams[0] = p1, shakeParams[1] = p2, shakeParams[2] = p3, shakeParams[3] = p4;
    shakeAmplitude = p5;
    shakeStart = ClockSeconds(flags);
    return true;
}

void GameCameraController::ResetCameraShakeEffect() {
    shakeDuration = -1.0f;
    std::fill(std::begin(shakeOutputs), std::end(shakeOutputs), 0.0f);
}

void GameCameraController::Update() {
    // 1. The current subcontroller moves.
    if (current) current->Update();

    // 2. The blend towards it, or its state.
    if (current) {
        const float t = blendDuration > -1.0f
                            ? static_cast<float>(std::max(0.0, ClockSeconds(blendFlags) - blendStart)) / blendDuration
                            : 1.0f;
        if (blendDuration > -1.0f && t < 1.0f) {
            const float k = BlendCurve(blendFlags, t);
            const Vector target = current->position + current->globalOffset;
            state.position = saved.position * (1.0f - k) + target * k;
            state.rotation.Slerp(saved.rotation, current->rotation, k);
            state.fov = saved.fov * (1.0f - k) + current->fov * k;
            state.shakeFactor = saved.shakeFactor * (1.0f - k) + current->shakeFactor * k;
            state.projectionOffset = current->projectionOffset;
        } else {
            TakeState(*current);
            blendDuration = -1.0f;
        }
    }

    // 3. The shake.
    Quaternion turned = state.rotation;
    if (IsShaking()) {
        const float e = static_cast<float>(ClockSeconds(shakeFlags) - shakeStart);
        if (e <= shakeDuration) {
            const float envelope = (shakeFlags & kCameraShakeFullEnvelope) ? 1.0f : std::sin(e / shakeDuration * kFadePi);
            const float a = envelope * std::sin(2.0f * kFadePi * shakeParams[2] * e);
            const float b = envelope * std::sin(2.0f * kFadePi * shakeParams[3] * e);
            shakeOutputs[0] = shakeParams[0] * a;
            shakeOutputs[1] = shakeParams[1] * b;
            shakeOutputs[2] = (a + b) * shakeAmplitude;
            // Turns in the camera's own frame: about y, then about x.
            Quaternion yaw, pitch, shake;
            yaw.LoadYRotation(shakeOutputs[1] * state.shakeFactor);
            pitch.LoadXRotation(shakeOutputs[0] * state.shakeFactor);
            shake.Mul(pitch, yaw);
            turned.Mul(state.rotation, shake);
        } else {
            ResetCameraShakeEffect();
        }
    }

    // 4. The camera.
    rotation = turned;
    position = state.position;
    fov = state.fov;
    RebuildMatrices();
    if (frameCallback) frameCallback(*this, frameContext);
}

bool GameCameraController::SetupFrame(bool listener, uint32_t clearFlags, const Vector* clearColor) {
    const bool reached = BaseCamera::SetupFrame(listener, clearFlags, clearColor);
    GetCameraServices().PostCameraFloat(CameraValue());
    return reached;
}
