#pragma once
// The 3-D panner: from a listener frame and an emitter frame it computes the output
// matrix of a source voice and its Doppler factor. Pure functions, callable from any
// thread; the handle is read-only after PannerInitialize.
//
// Definitions (units: world units, seconds, radians):
// - Frames. A frame is front, top and position (velocity for Doppler). Front is
//   normalised, top is made orthonormal to it, and right = top x front (left-handed:
//   front (0,0,1) and top (0,1,0) give right (1,0,0)). A degenerate frame (zero or
//   parallel vectors) falls back to front (0,0,1), top (0,1,0).
// - Emitter channels. A one-channel emitter sits at its position. Channel i of an
//   emitter with more channels sits at position + ChannelRadius x (cos a x front -
//   sin a x right) with a = channelAzimuths[i] in the emitter's frame: azimuth 0 is
//   the emitter's front, pi/2 its left, 3 pi/2 its right (so a stereo source given
//   azimuths (pi/2, 3 pi/2) keeps its first channel on the left).
// - Pan law (constant sum). For a channel at offset v from the listener, p = (v .
//   right) / |v| in [-1, 1] (0 when |v| is 0). Left gain (1 - p) / 2, right gain
//   (1 + p) / 2: a centred source gives 0.5 / 0.5, one straight to the right 0 / 1.
//   Output channel 0 is left and 1 is right; with one output channel its gain is 1;
//   output channels past the second receive 0.
// - Distance gain, from the distance d between the emitter's and the listener's
//   positions, scaled by CurveDistanceScaler (s > 0, else 1):
//   with a volume curve: the curve's points (distance in units of s, level) joined by
//   straight lines, the first level before the first point and the last level after
//   the last point (so a curve ending at level 0 is silent beyond its end);
//   without a curve (natural roll-off): min(1, s / d), 1 at d = 0.
//   Coefficient [d x SrcChannelCount + c] = pan gain of channel c for output d x
//   distance gain.
// - Doppler (kCalculateDoppler). u = unit vector from emitter to listener; vE = s_D x
//   (emitter velocity . u), vL = s_D x (listener velocity . u) with s_D = DopplerScaler,
//   each clamped to [-c/2, c/2] for the speed of sound c; factor = (c - vL) / (c - vE),
//   clamped to [kMinDopplerFactor, kMaxDopplerFactor] so that it stays within a source
//   voice's default maximum frequency ratio. An approaching emitter raises the pitch.
//   With the two positions equal the factor is 1; without the flag it is not written.
// - Not modelled: cones, inner radius, LFE, low-pass and reverb curves, delay.
// - Invalid calls (no or uninitialised handle, null pointers, channel counts that do
//   not match the handle or exceed the limits) leave the settings untouched; any
//   non-finite result is replaced by a zero matrix and a factor of 1.
#include <cstdint>

#include "platform/audio/AudioEngine.h"

namespace audio {

constexpr uint32_t kSpeakerFrontLeft = 0x1;
constexpr uint32_t kSpeakerFrontRight = 0x2;
constexpr uint32_t kSpeakerStereo = kSpeakerFrontLeft | kSpeakerFrontRight;

constexpr float kSpeedOfSound = 343.5f;  // world units per second
constexpr float kMinDopplerFactor = 0.5f;
constexpr float kMaxDopplerFactor = 2.0f;
constexpr uint32_t kPannerHandleBytes = 20;
constexpr uint32_t kPannerMatrixCapacity = 64;  // coefficients callers provide room for

// Calculation flags.
constexpr uint32_t kCalculateMatrix = 0x1;
constexpr uint32_t kCalculateDelay = 0x2;
constexpr uint32_t kCalculateLpfDirect = 0x4;
constexpr uint32_t kCalculateLpfReverb = 0x8;
constexpr uint32_t kCalculateReverb = 0x10;
constexpr uint32_t kCalculateDoppler = 0x20;
constexpr uint32_t kCalculateEmitterAngle = 0x40;

using PannerHandle = uint8_t[kPannerHandleBytes];

struct Vec3 {
    float x, y, z;
};

struct Cone;  // not modelled: cone pointers are ignored

struct CurvePoint {
    float distance;    // in units of CurveDistanceScaler
    float dspSetting;  // level
};

struct DistanceCurve {
    const CurvePoint* points;
    uint32_t pointCount;
};

struct Listener {
    Vec3 orientFront;
    Vec3 orientTop;
    Vec3 position;
    Vec3 velocity;  // units per second
    const Cone* cone;
};

struct Emitter {
    const Cone* cone;
    Vec3 orientFront;
    Vec3 orientTop;
    Vec3 position;
    Vec3 velocity;
    float innerRadius;
    float innerRadiusAngle;
    uint32_t channelCount;
    float channelRadius;
    const float* channelAzimuths;  // channelCount entries when channelCount > 1
    const DistanceCurve* volumeCurve;  // null: natural roll-off
    const DistanceCurve* lfeCurve;
    const DistanceCurve* lpfDirectCurve;
    const DistanceCurve* lpfReverbCurve;
    const DistanceCurve* reverbCurve;
    float curveDistanceScaler;
    float dopplerScaler;
};

struct DspSettings {
    float* matrixCoefficients;  // srcChannelCount x dstChannelCount, [d * src + s]
    float* delayTimes;
    uint32_t srcChannelCount;   // the emitter's channel count
    uint32_t dstChannelCount;   // the speaker mask's channel count
    float lpfDirectCoefficient;
    float lpfReverbCoefficient;
    float reverbLevel;
    float dopplerFactor;               // out, with kCalculateDoppler
    float emitterToListenerAngle;
    float emitterToListenerDistance;   // out, always
    float emitterVelocityComponent;    // out, with kCalculateDoppler (before the scaler)
    float listenerVelocityComponent;   // out, with kCalculateDoppler (before the scaler)
};

// speakerChannelMask: one bit per output channel (at most kMaxOutputChannels bits);
// speedOfSound > 0. kErrorInvalidArg otherwise (the handle is then unusable).
Result PannerInitialize(uint32_t speakerChannelMask, float speedOfSound, PannerHandle handle);

void PannerCalculate(const PannerHandle handle, const Listener* listener, const Emitter* emitter, uint32_t flags,
                     DspSettings* settings);

}  // namespace audio
