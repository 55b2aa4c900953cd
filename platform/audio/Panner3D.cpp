#include "platform/audio/Panner3D.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace audio {

namespace {

constexpr uint32_t kHandleMagic = 0x50414E33u;  // 'PAN3'

struct HandleData {
    uint32_t magic;
    uint32_t speakerMask;
    uint32_t channelCount;
    float speedOfSound;
    uint32_t reserved;
};
static_assert(sizeof(HandleData) == kPannerHandleBytes, "the handle holds the panner's settings");

Vec3 Sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Add(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 Scale(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float Length(Vec3 a) { return std::sqrt(Dot(a, a)); }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

struct Basis {
    Vec3 front, top, right;
};

// Orthonormal basis from front and top; the default frame when they are degenerate.
Basis MakeBasis(Vec3 front, Vec3 top) {
    const float fl = Length(front);
    if (fl > 1e-12f && std::isfinite(fl)) {
        const Vec3 f = Scale(front, 1.0f / fl);
        const Vec3 t0 = Sub(top, Scale(f, Dot(top, f)));
        const float tl = Length(t0);
        if (tl > 1e-6f * (Length(top) + 1e-30f) && tl > 1e-12f && std::isfinite(tl)) {
            const Vec3 t = Scale(t0, 1.0f / tl);
            return {f, t, Cross(t, f)};
        }
    }
    return {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}};
}

float EvaluateCurve(const DistanceCurve& curve, float x) {
    const CurvePoint* p = curve.points;
    const uint32_t n = curve.pointCount;
    if (x <= p[0].distance) return p[0].dspSetting;
    for (uint32_t i = 0; i + 1 < n; ++i) {
        const float d0 = p[i].distance, d1 = p[i + 1].distance;
        if (x <= d1) {
            if (!(d1 > d0)) return p[i + 1].dspSetting;
            const float t = (x - d0) / (d1 - d0);
            return p[i].dspSetting + (p[i + 1].dspSetting - p[i].dspSetting) * t;
        }
    }
    return p[n - 1].dspSetting;
}

float DistanceGain(const Emitter& e, float distance) {
    const float scaler = e.curveDistanceScaler > 0.0f ? e.curveDistanceScaler : 1.0f;
    if (e.volumeCurve && e.volumeCurve->points && e.volumeCurve->pointCount > 0)
        return EvaluateCurve(*e.volumeCurve, distance / scaler);
    if (distance <= scaler) return 1.0f;
    return scaler / distance;
}

float Clamp(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

Result PannerInitialize(uint32_t speakerChannelMask, float speedOfSound, PannerHandle handle) {
    if (!handle) return kErrorInvalidArg;
    std::memset(handle, 0, kPannerHandleBytes);
    const uint32_t channels = static_cast<uint32_t>(std::popcount(speakerChannelMask));
    if (channels == 0 || channels > kMaxOutputChannels || !(speedOfSound > 0.0f) || !std::isfinite(speedOfSound))
        return kErrorInvalidArg;
    const HandleData data{kHandleMagic, speakerChannelMask, channels, speedOfSound, 0};
    std::memcpy(handle, &data, sizeof data);
    return kOk;
}

void PannerCalculate(const PannerHandle handle, const Listener* listener, const Emitter* emitter, uint32_t flags,
                     DspSettings* settings) {
    if (!handle || !listener || !emitter || !settings) return;
    HandleData h;
    std::memcpy(&h, handle, sizeof h);
    if (h.magic != kHandleMagic) return;
    const uint32_t src = emitter->channelCount;
    if (src == 0 || src > kMaxSourceChannels || src != settings->srcChannelCount ||
        settings->dstChannelCount != h.channelCount)
        return;
    if (src > 1 && !emitter->channelAzimuths) return;
    if ((flags & kCalculateMatrix) && !settings->matrixCoefficients) return;

    const Basis lb = MakeBasis(listener->orientFront, listener->orientTop);
    const Vec3 toListener = Sub(listener->position, emitter->position);
    const float distance = Length(toListener);
    settings->emitterToListenerDistance = std::isfinite(distance) ? distance : 0.0f;

    if (flags & kCalculateMatrix) {
        const uint32_t dst = h.channelCount;
        float* m = settings->matrixCoefficients;
        const float gain = DistanceGain(*emitter, distance);
        const Basis eb = MakeBasis(emitter->orientFront, emitter->orientTop);
        bool finite = std::isfinite(gain);
        for (uint32_t c = 0; c < src; ++c) {
            Vec3 pos = emitter->position;
            if (src > 1) {
                const float a = emitter->channelAzimuths[c];
                const Vec3 offset = Sub(Scale(eb.front, std::cos(a)), Scale(eb.right, std::sin(a)));
                pos = Add(pos, Scale(offset, emitter->channelRadius));
            }
            const Vec3 v = Sub(pos, listener->position);
            const float len = Length(v);
            const float p = len > 0.0f ? Clamp(Dot(v, lb.right) / len, -1.0f, 1.0f) : 0.0f;
            for (uint32_t d = 0; d < dst; ++d) {
                float level = 0.0f;
                if (dst == 1)
                    level = gain;
                else if (d == 0)
                    level = (1.0f - p) * 0.5f * gain;
                else if (d == 1)
                    level = (1.0f + p) * 0.5f * gain;
                if (!std::isfinite(level)) finite = false;
                m[d * src + c] = level;
            }
        }
        if (!finite)
            for (uint32_t i = 0; i < src * dst; ++i) m[i] = 0.0f;
    }

    if (flags & kCalculateDoppler) {
        float factor = 1.0f;
        settings->emitterVelocityComponent = 0.0f;
        settings->listenerVelocityComponent = 0.0f;
        if (distance > 0.0f && std::isfinite(distance)) {
            const Vec3 u = Scale(toListener, 1.0f / distance);
            const float c = h.speedOfSound;
            const float ve = Dot(emitter->velocity, u);
            const float vl = Dot(listener->velocity, u);
            settings->emitterVelocityComponent = ve;
            settings->listenerVelocityComponent = vl;
            const float se = Clamp(ve * emitter->dopplerScaler, -0.5f * c, 0.5f * c);
            const float sl = Clamp(vl * emitter->dopplerScaler, -0.5f * c, 0.5f * c);
            factor = Clamp((c - sl) / (c - se), kMinDopplerFactor, kMaxDopplerFactor);
            if (!std::isfinite(factor)) factor = 1.0f;
        }
        settings->dopplerFactor = factor;
    }
}

}  // namespace audio
