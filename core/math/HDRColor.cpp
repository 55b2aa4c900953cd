// HDRColor: integer channel arithmetic with float blend weights.
#include "core/math/HDRColor.h"

#include <atomic>
#include <cmath>

namespace {

std::atomic<uint32_t> visualizationMode{0};

// k = integer part of (f x 255 + 0.5). Factors far outside 0..1 are limited first so
// the conversion stays defined; the channel results saturate either way.
int32_t Weight(float f) {
    float v = f * 255.0f + 0.5f;
    if (!(v > -65536.0f)) v = -65536.0f;  // also NaN
    if (v > 65536.0f) v = 65536.0f;
    return static_cast<int32_t>(v);
}

uint8_t Saturate(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

uint8_t UnitToChannel(float v) {
    float s = v * 255.0f;
    if (!(s > 0.0f)) return 0;  // also NaN
    return s >= 255.0f ? 255 : static_cast<uint8_t>(s);
}

}  // namespace

void SetRenderVisualizationMode(uint32_t mode) { visualizationMode.store(mode, std::memory_order_relaxed); }
uint32_t GetRenderVisualizationMode() { return visualizationMode.load(std::memory_order_relaxed); }

void HDRColor::Modulate(const HDRColor& d) {
    for (int n = 0; n < 4; ++n) c[n] = static_cast<uint8_t>(c[n] * d.c[n] / 255);
    intensity *= d.intensity;
}

void HDRColor::Add(const HDRColor& d) {
    for (int n = 0; n < 4; ++n) c[n] = Saturate(c[n] + d.c[n]);
    intensity += d.intensity;
}

void HDRColor::AddScaled(const HDRColor& d, float f) {
    int32_t k = Weight(f);
    for (int n = 0; n < 4; ++n) c[n] = Saturate(c[n] + d.c[n] * k / 255);
    intensity += d.intensity * f;
}

void HDRColor::SetScaled(const HDRColor& d, float f) {
    int32_t k = Weight(f);
    for (int n = 0; n < 4; ++n) c[n] = Saturate(d.c[n] * k / 255);
    intensity = d.intensity * f;
}

void HDRColor::Lerp(const HDRColor& a, const HDRColor& b, float f) {
    int32_t k = Weight(f);
    for (int n = 0; n < 4; ++n) c[n] = Saturate(a.c[n] + (b.c[n] - a.c[n]) * k / 255);
    intensity = a.intensity + (b.intensity - a.intensity) * f;
}

void HDRColor::SetFromVector(const Vector& v) {
    float i = 1.0f;
    if (v.x > i) i = v.x;
    if (v.y > i) i = v.y;
    if (v.z > i) i = v.z;
    intensity = i;
    c[0] = UnitToChannel(v.x / i);
    c[1] = UnitToChannel(v.y / i);
    c[2] = UnitToChannel(v.z / i);
    c[3] = UnitToChannel(v.w);
}

Vector HDRColor::ToVector() const {
    return Vector(c[0] / 255.0f * intensity, c[1] / 255.0f * intensity, c[2] / 255.0f * intensity, c[3] / 255.0f);
}

Vector HDRColor::ToLinearVector() const {
    Vector v = ToVector();
    if (GetRenderVisualizationMode() == 0) {
        v.x = std::pow(v.x, 2.2f);
        v.y = std::pow(v.y, 2.2f);
        v.z = std::pow(v.z, 2.2f);
    }
    return v;
}
