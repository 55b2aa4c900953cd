// test-sanitize: address
// The 3-D panner against the definitions written in its header.
#include <gtest/gtest.h>

#include <cmath>

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
        emitter.orientFront = {0, 0, 1};
        emitter.orientTop = {0, 1, 0};
        emitter.channelCount = 1;
        emitter.curveDistanceScaler = 1.0f;
        emitter.dopplerScaler = 1.0f;
        dsp.matrixCoefficients = matrix;
        dsp.srcChannelCount = 1;
        dsp.dstChannelCount = 2;
    }

    void At(float x, float y, float z) { emitter.position = {x, y, z}; }
    void Calculate(uint32_t flags = kCalculateMatrix) { PannerCalculate(handle, &listener, &emitter, flags, &dsp); }
};

}  // namespace

TEST(AudioPanner, CentredSourceIsEqualAndSideSourcesAreOneSided) {
    Scene s;
    s.At(0, 0, 0.5f);
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0], 0.5f);
    EXPECT_FLOAT_EQ(s.matrix[1], 0.5f);
    EXPECT_FLOAT_EQ(std::min(2 * s.matrix[0], 1.0f), 1.0f);  // as the sound code scales it

    s.At(0.8f, 0, 0);  // right of the listener
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0], 0.0f);
    EXPECT_FLOAT_EQ(s.matrix[1], 1.0f);
    s.At(-0.8f, 0, 0);
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0], 1.0f);
    EXPECT_FLOAT_EQ(s.matrix[1], 0.0f);
    s.At(0, 0, -0.5f);  // behind: centred as well
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0], s.matrix[1]);

    // A listener facing +x has its right towards -z (right = top x front).
    s.listener.orientFront = {1, 0, 0};
    s.At(0, 0, -0.7f);
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0], 0.0f);
    EXPECT_FLOAT_EQ(s.matrix[1], 1.0f);
    // Half-way between front and right: gains follow the constant-sum law.
    s.At(0.5f, 0, -0.5f);
    s.Calculate();
    EXPECT_NEAR(s.matrix[1], (1.0f + std::sqrt(0.5f)) / 2.0f, 1e-6f);
    EXPECT_NEAR(s.matrix[0] + s.matrix[1], 1.0f, 1e-6f);
}

TEST(AudioPanner, DistanceCurveEndsInSilenceAndNaturalRollOffFallsAsOneOverDistance) {
    Scene s;
    const CurvePoint points[2] = {{10.0f, 1.0f}, {15.0f, 0.0f}};
    const DistanceCurve curve = {points, 2};
    s.emitter.volumeCurve = &curve;
    s.At(0, 0, 5);
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0] + s.matrix[1], 1.0f);
    s.At(0, 0, 12.5f);
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0] + s.matrix[1], 0.5f);
    s.At(0, 0, 15.5f);
    s.Calculate();
    EXPECT_EQ(s.matrix[0], 0.0f);
    EXPECT_EQ(s.matrix[1], 0.0f);
    EXPECT_FLOAT_EQ(s.dsp.emitterToListenerDistance, 15.5f);

    s.emitter.volumeCurve = nullptr;
    s.emitter.curveDistanceScaler = 3.0f;
    s.At(0, 0, 2);
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0] + s.matrix[1], 1.0f);
    s.At(0, 0, 6);
    s.Calculate();
    EXPECT_FLOAT_EQ(s.matrix[0] + s.matrix[1], 0.5f);
}

TEST(AudioPanner, DopplerRaisesPitchWhileApproachingAndIsClamped) {
    Scene s;
    s.At(0, 0, 10);
    s.emitter.velocity = {0, 0, -20};  // towards the listener
    s.Calculate(kCalculateMatrix | kCalculateDoppler);
    EXPECT_FLOAT_EQ(s.dsp.dopplerFactor, kSpeedOfSound / (kSpeedOfSound - 20.0f));
    EXPECT_GT(s.dsp.dopplerFactor, 1.0f);

    s.emitter.velocity = {0, 0, 20};  // away
    s.Calculate(kCalculateDoppler);
    EXPECT_LT(s.dsp.dopplerFactor, 1.0f);

    s.emitter.velocity = {0, 0, 0};
    s.listener.velocity = {0, 0, 20};  // listener moves towards the emitter
    s.Calculate(kCalculateDoppler);
    EXPECT_FLOAT_EQ(s.dsp.dopplerFactor, (kSpeedOfSound + 20.0f) / kSpeedOfSound);

    s.emitter.dopplerScaler = 0.0f;
    s.Calculate(kCalculateDoppler);
    EXPECT_FLOAT_EQ(s.dsp.dopplerFactor, 1.0f);

    s.emitter.dopplerScaler = 1.0f;
    s.listener.velocity = {0, 0, 0};
    s.emitter.velocity = {0, 0, -5000};
    s.Calculate(kCalculateDoppler);
    EXPECT_FLOAT_EQ(s.dsp.dopplerFactor, kMaxDopplerFactor);
    s.emitter.velocity = {0, 0, 5000};
    s.Calculate(kCalculateDoppler);
    EXPECT_GE(s.dsp.dopplerFactor, kMinDopplerFactor);
}

TEST(AudioPanner, StereoEmitterPlacesItsChannelsAroundItsPosition) {
    Scene s;
    const float azimuths[2] = {1.5707964f, 4.712389f};
    s.emitter.channelCount = 2;
    s.emitter.channelRadius = 1.0f;
    s.emitter.channelAzimuths = azimuths;
    s.dsp.srcChannelCount = 2;
    s.emitter.curveDistanceScaler = 3.0f;  // full level at the emitter's distance
    s.At(0, 0, 3);
    s.Calculate();
    // [d * 2 + c]: the first channel leans left, the second right, mirror images.
    EXPECT_GT(s.matrix[0], s.matrix[2]);
    EXPECT_GT(s.matrix[3], s.matrix[1]);
    EXPECT_NEAR(s.matrix[0], s.matrix[3], 1e-6f);
    EXPECT_NEAR(s.matrix[0] + s.matrix[2], 1.0f, 1e-6f);
}

TEST(AudioPanner, InvalidInputLeavesSettingsAloneOrSilent) {
    PannerHandle h;
    EXPECT_EQ(PannerInitialize(0, kSpeedOfSound, h), kErrorInvalidArg);
    EXPECT_EQ(PannerInitialize(kSpeakerStereo, 0.0f, h), kErrorInvalidArg);
    EXPECT_EQ(PannerInitialize(kSpeakerStereo, NAN, h), kErrorInvalidArg);

    Scene s;
    s.matrix[0] = 7.0f;
    PannerCalculate(h, &s.listener, &s.emitter, kCalculateMatrix, &s.dsp);  // uninitialised handle
    EXPECT_EQ(s.matrix[0], 7.0f);
    s.dsp.srcChannelCount = 2;  // does not match the emitter
    s.Calculate();
    EXPECT_EQ(s.matrix[0], 7.0f);
    s.dsp.srcChannelCount = 1;

    s.At(NAN, 0, 1);
    s.emitter.velocity = {0, 0, -1};
    s.Calculate(kCalculateMatrix | kCalculateDoppler);
    EXPECT_EQ(s.matrix[0], 0.0f);
    EXPECT_EQ(s.matrix[1], 0.0f);
    EXPECT_EQ(s.dsp.dopplerFactor, 1.0f);

    // Degenerate frames fall back to the default orientation; a source on the
    // listener is centred and at full level.
    s.listener.orientFront = {0, 0, 0};
    s.At(0, 0, 0);
    s.Calculate(kCalculateMatrix | kCalculateDoppler);
    EXPECT_FLOAT_EQ(s.matrix[0], 0.5f);
    EXPECT_FLOAT_EQ(s.matrix[1], 0.5f);
    EXPECT_EQ(s.dsp.dopplerFactor, 1.0f);

    // One output channel receives the distance gain.
    PannerHandle mono;
    ASSERT_EQ(PannerInitialize(kSpeakerFrontLeft, kSpeedOfSound, mono), kOk);
    s.dsp.dstChannelCount = 1;
    s.At(5, 0, 0);
    PannerCalculate(mono, &s.listener, &s.emitter, kCalculateMatrix, &s.dsp);
    EXPECT_FLOAT_EQ(s.matrix[0], 0.2f);
}
