// test-sanitize: address
// The 3-D panner against the definitions written in its header; expected values are
// worked out by hand from those definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "platform/audio/Panner3D.h"

using namespace audio;

namespace {

struct Scene {
    PannerHandle handle;
    Listener listener = {{0, 0, 1}, {0, 1, 0}, {0, 0, 0}, {0, 0, 0}, nullptr};
    Emitter emitter = {};
    float matrix[kPannerMatrixCapacity] = {};
    DspSettings dsp = {};

    Scene() {
        EXPECT_EQ(PannerInitialize(kSpeakerStereo, kSpeedOfSound, handle), kOk);
        std::fill(std::begin(matrix), std::end(matrix), 7.0f);  // 7: not written
        emitter.orientFront = {0, 0, 1};
        emitter.orientTop = {0, 1, 0};
        emitter.channelCount = 1;
        emitter.curveDistanceScaler = 100.0f;  // full level within 100 units
        emitter.dopplerScaler = 1.0f;
        dsp.matrixCoefficients = matrix;
        dsp.srcChannelCount = 1;
        dsp.dstChannelCount = 2;
    }

    void Calculate(uint32_t flags = kCalculateMatrix) { PannerCalculate(handle, &listener, &emitter, flags, &dsp); }
};

const float kHalfSqrt = std::sqrt(0.5f) / 2;  // (1 +- cos 45 degrees) / 2 = 0.5 +- kHalfSqrt

}  // namespace

// Right = top x front: the default frame (front +z, top +y) has its right at +x.
TEST(AudioPanner, PansByTheDirectionInTheListenersFrame) {
    struct Case { const char* name; Vec3 front, top, listener, emitter; float left, right; };
    const float inf = INFINITY;
    const Case cases[] = {
        {"ahead", {0, 0, 1}, {0, 1, 0}, {0, 0, 0}, {0, 0, 0.5f}, 0.5f, 0.5f},
        {"right", {0, 0, 1}, {0, 1, 0}, {0, 0, 0}, {0.8f, 0, 0}, 0, 1},
        {"left", {0, 0, 1}, {0, 1, 0}, {0, 0, 0}, {-0.8f, 0, 0}, 1, 0},
        {"on the listener", {0, 0, 1}, {0, 1, 0}, {0, 0, 0}, {0, 0, 0}, 0.5f, 0.5f},
        {"half right", {0, 0, 1}, {0, 1, 0}, {0, 0, 0}, {0.5f, 0, 0.5f}, 0.5f - kHalfSqrt, 0.5f + kHalfSqrt},
        {"listener moved", {0, 0, 1}, {0, 1, 0}, {10, 0, 5}, {9, 0, 5}, 1, 0},
        {"facing +x, right is -z", {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, -0.7f}, 0, 1},
        {"upside down", {0, 0, 1}, {0, -1, 0}, {0, 0, 0}, {0.8f, 0, 0}, 1, 0},
        {"unnormalised frame", {0, 0, 2}, {0, 3, 0}, {0, 0, 0}, {0.8f, 0, 0}, 0, 1},
        {"top leaning forward", {0, 0, 1}, {0, 1, 1}, {0, 0, 0}, {0.8f, 0, 0}, 0, 1},
        // Degenerate frames fall back to front +z, top +y.
        {"no front", {0, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0.8f, 0, 0}, 0, 1},
        {"infinite front", {inf, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0.8f, 0, 0}, 0, 1},
        {"top along front", {-1, 0, 0}, {-5, 0, 0}, {0, 0, 0}, {0.8f, 0, 0}, 0, 1},
        {"top almost along front", {-1, 0, 0}, {-1000, 1e-4f, 0}, {0, 0, 0}, {0.8f, 0, 0}, 0, 1},
        {"no top", {-1, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0.8f, 0, 0}, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        s.listener.orientFront = c.front;
        s.listener.orientTop = c.top;
        s.listener.position = c.listener;
        s.emitter.position = c.emitter;
        s.Calculate();
        EXPECT_NEAR(s.matrix[0], c.left, 1e-6f);
        EXPECT_NEAR(s.matrix[1], c.right, 1e-6f);
        EXPECT_EQ(s.matrix[2], 7.0f);  // nothing past the two outputs
    }
}

// Total gain (left + right) at a distance: a volume curve's straight lines in units of
// the scaler, or the natural roll-off min(1, scaler / distance).
TEST(AudioPanner, DistanceGainFollowsTheCurveOrTheNaturalRollOff) {
    const CurvePoint two[2] = {{10, 1}, {15, 0}};
    const CurvePoint three[3] = {{0, 1}, {1, 0.5f}, {2, 0.25f}};
    const CurvePoint one[1] = {{1, 0.3f}};
    const DistanceCurve twoPoints = {two, 2}, threePoints = {three, 3}, onePoint = {one, 1}, empty = {two, 0};
    struct Case { const DistanceCurve* curve; float scaler, distance, gain; };
    const Case cases[] = {
        {nullptr, 3, 2, 1},     {nullptr, 3, 3, 1},      {nullptr, 3, 6, 0.5f}, {nullptr, 3, 30, 0.1f},
        {nullptr, 0, 4, 0.25f}, {nullptr, -2, 4, 0.25f}, {&empty, 1, 4, 0.25f}, {&twoPoints, 1, 5, 1},
        {&twoPoints, 1, 12.5f, 0.5f}, {&twoPoints, 1, 15, 0}, {&twoPoints, 1, 15.5f, 0}, {&twoPoints, 2, 25, 0.5f},
        {&threePoints, 10, 5, 0.75f}, {&threePoints, 10, 15, 0.375f}, {&threePoints, 10, 40, 0.25f},
        {&onePoint, 1, 0.5f, 0.3f}, {&onePoint, 1, 100, 0.3f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.curve ? c.curve->pointCount : 0) << " points, scaler " << c.scaler
                                        << ", distance " << c.distance);
        Scene s;
        s.emitter.volumeCurve = c.curve;
        s.emitter.curveDistanceScaler = c.scaler;
        s.emitter.position = {0, 0, c.distance};
        s.Calculate();
        EXPECT_NEAR(s.matrix[0] + s.matrix[1], c.gain, 1e-6f);
        EXPECT_FLOAT_EQ(s.dsp.emitterToListenerDistance, c.distance);
    }

    // One output channel receives the distance gain alone.
    Scene s;
    ASSERT_EQ(PannerInitialize(kSpeakerFrontLeft, kSpeedOfSound, s.handle), kOk);
    s.dsp.dstChannelCount = 1;
    s.emitter.curveDistanceScaler = 1;
    s.emitter.position = {5, 0, 0};
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0], 0.2f);
}

// The emitter stands at z = 10, the listener at the origin; velocities along z.
TEST(AudioPanner, DopplerFactorFollowsTheClampedVelocities) {
    const float c = kSpeedOfSound;
    struct Case { float emitterVz, listenerVz, scaler, factor; };
    const Case cases[] = {
        {-20, 0, 1, c / (c - 20)},  // approaching: higher
        {20, 0, 1, c / (c + 20)},
        {0, 20, 1, (c + 20) / c},   // listener approaching
        {-20, 0, 0, 1},
        {-10, 0, 2, c / (c - 20)},
        {-5000, 0, 1, 2},           // emitter's speed clamped to c/2
        {5000, 0, 1, 2.0f / 3},
        {5000, -5000, 1, 0.5f},     // (c/2) / (3c/2) clamped to the minimum
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.emitterVz << " " << k.listenerVz << " x" << k.scaler);
        Scene s;
        s.emitter.position = {0, 0, 10};
        s.emitter.velocity = {0, 0, k.emitterVz};
        s.listener.velocity = {0, 0, k.listenerVz};
        s.emitter.dopplerScaler = k.scaler;
        s.Calculate(kCalculateDoppler);
        EXPECT_FLOAT_EQ(s.dsp.dopplerFactor, k.factor);
        EXPECT_FLOAT_EQ(s.dsp.emitterVelocityComponent, -k.emitterVz);
        EXPECT_FLOAT_EQ(s.dsp.listenerVelocityComponent, -k.listenerVz);
    }
    Scene s;
    s.emitter.velocity = {0, 0, -20};
    s.Calculate(kCalculateMatrix | kCalculateDoppler);  // both at the origin
    EXPECT_EQ(s.dsp.dopplerFactor, 1.0f);
    s.dsp.dopplerFactor = 7;
    s.emitter.position = {0, 0, 10};
    s.Calculate();
    EXPECT_EQ(s.dsp.dopplerFactor, 7.0f);  // not written without the flag
    s.emitter.velocity = {0, 0, NAN};
    s.Calculate(kCalculateDoppler);
    EXPECT_EQ(s.dsp.dopplerFactor, 1.0f);
}

// An emitter facing the listener has its right towards the listener's left, so its
// first channel (azimuth pi/2, its left) sounds on the listener's right.
TEST(AudioPanner, StereoEmitterPlacesItsChannelsInItsOwnFrame) {
    Scene s;
    const float azimuths[2] = {1.5707964f, 4.712389f};
    s.emitter.channelCount = 2;
    s.emitter.channelRadius = 1.0f;
    s.emitter.channelAzimuths = azimuths;
    s.emitter.orientFront = {0, 0, -1};
    s.emitter.position = {0, 0, 2};
    s.dsp.srcChannelCount = 2;
    s.Calculate();
    const float p = 1 / std::sqrt(5.0f);  // channels at (+-1, 0, 2)
    const float want[4] = {(1 - p) / 2, (1 + p) / 2, (1 + p) / 2, (1 - p) / 2};  // [d * 2 + c]
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(s.matrix[k], want[k], 1e-6f) << k;
}

TEST(AudioPanner, InvalidCallsLeaveTheSettingsAloneAndNonFiniteResultsAreSilent) {
    PannerHandle h;
    for (const auto& [mask, speed] : {std::pair{0u, kSpeedOfSound}, {0x1FFu, kSpeedOfSound}, {3u, 0.0f}, {3u, -1.0f},
                                      {3u, NAN}, {3u, INFINITY}})
        EXPECT_EQ(PannerInitialize(mask, speed, h), kErrorInvalidArg) << mask << " " << speed;
    EXPECT_EQ(PannerInitialize(0xFFu, kSpeedOfSound, h), kOk);

    struct Case { const char* name; void (*change)(Scene&); };
    const Case cases[] = {
        {"handle failed again", [](Scene& s) { PannerInitialize(kSpeakerStereo, 0.0f, s.handle); }},
        {"source count", [](Scene& s) { s.dsp.srcChannelCount = 2; }},
        {"output count", [](Scene& s) { s.dsp.dstChannelCount = 1; }},
        {"three source channels", [](Scene& s) { s.dsp.srcChannelCount = s.emitter.channelCount = 3; }},
        {"no source channels", [](Scene& s) { s.dsp.srcChannelCount = s.emitter.channelCount = 0; }},
        {"no azimuths", [](Scene& s) { s.dsp.srcChannelCount = s.emitter.channelCount = 2; }},
        {"no matrix", [](Scene& s) { s.dsp.matrixCoefficients = nullptr; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        c.change(s);
        s.emitter.position = {1, 0, 1};
        s.dsp.dopplerFactor = 7.0f;
        s.Calculate(kCalculateMatrix | kCalculateDoppler);
        EXPECT_TRUE(s.matrix[0] == 7.0f && s.dsp.dopplerFactor == 7.0f);
    }
    Scene s;
    PannerCalculate(nullptr, &s.listener, &s.emitter, kCalculateMatrix, &s.dsp);
    PannerCalculate(s.handle, nullptr, &s.emitter, kCalculateMatrix, &s.dsp);
    PannerCalculate(s.handle, &s.listener, nullptr, kCalculateMatrix, &s.dsp);
    PannerCalculate(s.handle, &s.listener, &s.emitter, kCalculateMatrix, nullptr);

    s.emitter.position = {NAN, 0, 1};
    s.emitter.velocity = {0, 0, -1};
    s.Calculate(kCalculateMatrix | kCalculateDoppler);
    EXPECT_TRUE(s.matrix[0] == 0.0f && s.matrix[1] == 0.0f && s.dsp.dopplerFactor == 1.0f);
}
