#pragma once
// What the camera tests put behind the cameras: a services double that records what
// reaches the renderer and serves clocks the test sets (the window is 1280 x 720), and
// the float words the reference scripts read.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/NumpyReference.h"
#include "engine/camera/CameraServices.h"

class TestCameraServices : public CameraServices {
public:
    void SetViewport(const CameraViewport& v) override { viewports.push_back(v); }
    void SetCamera(const Matrix& world, const Matrix& v, const Matrix&) override {
        EXPECT_EQ(world, Matrix::IDENTITY);
        current = v;
    }
    void Clear(uint32_t flags, const Vector& color, float depth, uint32_t stencil) override {
        EXPECT_EQ(std::make_pair(depth, stencil), std::make_pair(1.0f, 0u));
        clears.emplace_back(flags, color);
    }
    void PostCameraFloat(float value) override { cameraValues.push_back(value); }
    const Matrix& CurrentView() const override { return current; }
    void GetWindowSize(uint32_t* w, uint32_t* h) const override { *w = 1280, *h = 720; }
    int64_t SmoothGameTime() const override { return smoothGame; }
    int64_t SmoothGameplayTime() const override { return smoothGameplay; }
    int64_t EngineTime() const override { return engine; }
    float FrameGameDelta() const override { return frameDelta; }
    float SmoothGameLastDelta() const override { return lastDelta; }
    float TimeMultiplier() const override { return multiplier; }
    uint32_t VariableSubStepIndex() const override { return subStep; }

    std::vector<CameraViewport> viewports;
    std::vector<std::pair<uint32_t, Vector>> clears;
    std::vector<float> cameraValues;
    Matrix current = Matrix::IDENTITY;  // the renderer's view: the last one set
    int64_t smoothGame = 0, smoothGameplay = 0, engine = 0;
    float frameDelta = 0, lastDelta = 0, multiplier = 1;
    uint32_t subStep = 0;
};

// Each float as " " and its 32-bit pattern in hexadecimal.
inline std::string Words(std::initializer_list<float> values) {
    std::string s;
    for (float v : values) s += " " + FloatBits(v);
    return s;
}

inline std::string Words(const Matrix& m) {
    std::string s;
    for (int i = 0; i < 16; ++i) s += " " + FloatBits(m.r[i / 4][i % 4]);
    return s;
}
