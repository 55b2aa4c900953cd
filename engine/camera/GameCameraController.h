#pragma once
// The GameCameraController produces the game's view. It owns the subcontrollers that
// scripts create, makes one of them current, blends from the previous view to it,
// adds a camera shake, and rebuilds its camera (it is the game camera) from the
// result once per frame; the render frame then sets the camera up and posts the
// frame's camera value (the shake's third output times the shake factor).
//
// Clocks: a blend or a shake runs on the clock its flags select (flags & 48): 16 the
// smooth gameplay timer, 32 the engine timer, anything else the smooth game timer.
// Blend curves (flags & 7): GCCF_LINEAR 0, GCCF_HALFSINE 1, GCCF_INVHALFSINE 2,
// GCCF_SINE 3 (the fade curves), 4 t squared, others linear.
//
// Shake: while it runs (elapsed e within its duration D) the envelope is 1 with flag 8,
// else sin(e/D pi); a = envelope sin(2 pi p3 e), b = envelope sin(2 pi p4 e); the
// outputs are (p1 a, p2 b, (a + b) p5); the view turns about its own y axis by output 2
// and then about its own x axis by output 1, each times the shake factor (degrees).
//
// Threads: main thread.
#include <cstdint>
#include <vector>

#include "engine/camera/Cameras.h"

class LCBaseCameraSubcontroller;
class GameCameraController;

enum GameCameraControllerFlags : uint32_t {
    GCCF_LINEAR = 0,
    GCCF_HALFSINE = 1,
    GCCF_INVHALFSINE = 2,
    GCCF_SINE = 3,
    GCCF_GAMEPLAYTIME = 16,
    GCCF_SYSTEMTIME = 32,
};
constexpr uint32_t kCameraCurveMask = 7;
constexpr uint32_t kCameraCurveSquare = 4;
constexpr uint32_t kCameraClockMask = 48;
constexpr uint32_t kCameraShakeFullEnvelope = 8;

// The view of one frame: what the blend made of the current subcontroller.
struct CameraState {
    Vector projectionOffset;
    Vector position;
    Quaternion rotation;
    float fov = 0.0f;
    float shakeFactor = 0.0f;
};

// Called after the camera was rebuilt each frame.
using CameraFrameCallback = void (*)(GameCameraController& controller, void* context);

class GameCameraController : public GameCameraControllerCamera {
public:
    // Field of view 30, shake factor 0, listener altitude 100, the window's viewport,
    // background 70/255 grey.
    GameCameraController();
    // Destroys the subcontrollers.
    ~GameCameraController() override;

    // 0 base, 1 strategy; any other kind gives null. Appended to the list.
    LCBaseCameraSubcontroller* AddNewSubcontroller(uint32_t kind);
    // False for null, the current subcontroller, or one not in the list.
    bool DeleteSubcontroller(LCBaseCameraSubcontroller* sub);
    // Nothing for a subcontroller not in the list, or the current one with a blend time
    // of 0.001 or more. Switches at once below 0.001 or without a current one; otherwise
    // blends from the present view over the time on the flags' clock. Always true.
    bool SetCurrentSubcontroller(LCBaseCameraSubcontroller* sub, float blendTime, uint32_t flags);
    LCBaseCameraSubcontroller* GetCurrentSubcontroller() const { return current; }
    uint32_t SubcontrollerCount() const { return static_cast<uint32_t>(subcontrollers.size()); }

    // Starts only when no shake runs and the duration is above 0.
    bool StartCameraShakeEffect(float duration, float p1, float p2, float p3, float p4, float p5, uint32_t flags);
    void ResetCameraShakeEffect();
    bool IsShaking() const { return shakeDuration > -1.0f; }
    const float* ShakeOutputs() const { return shakeOutputs; }

    void SetClipPlanes(float nearPlane, float farPlane) { zNear = nearPlane, zFar = farPlane; }
    float GetSoundListenerAltitude() const { return soundListenerAltitude; }
    const Vector& GetCameraPosition() const { return position; }
    const Matrix& GetCameraViewMatrix() const { return view; }
    const Matrix& GetCameraProjectionMatrix() const { return projection; }
    const Matrix& GetCameraInvViewMatrix() const { return invView; }
    const Matrix& GetCameraInvViewProjectionMatrix() const { return invViewProjection; }
    const CameraState& State() const { return state; }
    void SetFrameCallback(CameraFrameCallback callback, void* context) { frameCallback = callback, frameContext = context; }

    // Once per frame: the current subcontroller's update, the blend, the shake, then
    // the camera rebuilt and the callback called.
    void Update();
    // The camera's frame set-up, then the frame's camera value to the renderer.
    bool SetupFrame(bool listener, uint32_t clearFlags, const Vector* clearColor);
    float CameraValue() const { return shakeOutputs[2] * state.shakeFactor; }

    // Seconds on the clock that flags & 48 select.
    static double ClockSeconds(uint32_t flags);

private:
    void TakeState(const LCBaseCameraSubcontroller& sub);

    std::vector<LCBaseCameraSubcontroller*> subcontrollers;
    LCBaseCameraSubcontroller* current = nullptr;

    double shakeStart = 0.0;
    float shakeDuration = -1.0f;
    uint32_t shakeFlags = 0;
    float shakeParams[4] = {};
    float shakeAmplitude = 0.0f;  // the fifth value
    float shakeOutputs[3] = {};

    float blendDuration = -1.0f;
    uint32_t blendFlags = 0;
    double blendStart = 0.0;
    CameraState saved;

    CameraState state;
    CameraFrameCallback frameCallback = nullptr;
    void* frameContext = nullptr;
};
