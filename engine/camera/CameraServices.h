#pragma once
// CameraServices: what the cameras and the camera controller need of the renderer and
// of the Game, behind one small interface. The Game installs the implementation that
// forwards to the renderer's camera writers and to its timers; until then (and after
// SetCameraServices(nullptr)) the base class answers: renderer calls do nothing, the
// renderer's current matrices are the identity, the window is 0 x 0, every clock
// reads 0, the time multiplier is 1 and the sub-step index 0.
//
// Threads: main thread.
#include <cstdint>

#include "core/math/Matrix.h"

struct CameraViewport {
    uint32_t x = 0, y = 0, width = 0, height = 0;
    float minZ = 0.0f, maxZ = 0.0f;
    bool operator==(const CameraViewport&) const = default;
};

class CameraServices {
public:
    virtual ~CameraServices() = default;

    // The renderer's camera writers (each posts to the render thread).
    virtual void SetViewport(const CameraViewport& viewport) {}
    virtual void SetCamera(const Matrix& world, const Matrix& view, const Matrix& projection) {}
    // Clears the target: flags, colour (four floats), depth, stencil.
    virtual void Clear(uint32_t flags, const Vector& color, float depth, uint32_t stencil) {}
    // The camera value of this frame (the shake output the shaders read).
    virtual void PostCameraFloat(float value) {}
    // The renderer's current view and projection (main thread's copies).
    virtual const Matrix& CurrentView() const { return Matrix::IDENTITY; }
    virtual const Matrix& CurrentProjection() const { return Matrix::IDENTITY; }
    // The client size of the game window.
    virtual void GetWindowSize(uint32_t* width, uint32_t* height) const { *width = *height = 0; }

    // The Game's clocks, in counter ticks.
    virtual int64_t SmoothGameTime() const { return 0; }
    virtual int64_t SmoothGameplayTime() const { return 0; }
    virtual int64_t EngineTime() const { return 0; }
    // This frame's game-time step in seconds, and the smooth game timer's last delta.
    virtual float FrameGameDelta() const { return 0.0f; }
    virtual float SmoothGameLastDelta() const { return 0.0f; }
    virtual float TimeMultiplier() const { return 1.0f; }
    // The index of the variable sub-step being run (0 for the first, and in fixed mode).
    virtual uint32_t VariableSubStepIndex() const { return 0; }
};

CameraServices& GetCameraServices();
// Not owned; null restores the default.
void SetCameraServices(CameraServices* services);
