#pragma once
// HDRColor: four 8-bit channels (red, green, blue, alpha; Vector x, y, z, w) and a
// float intensity that multiplies red, green and blue. Text form (property type):
// "%d %d %d %d %.6f".
//
// Blend factors f are expected in 0..1 and become integer weights
// k = integer part of (f x 255 + 0.5); results saturate to 0..255.
#include <cstdint>

#include "core/math/Vector.h"

struct HDRColor {
    uint8_t c[4] = {0, 0, 0, 0};
    float intensity = 1.0f;

    HDRColor() = default;
    constexpr HDRColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a, float i) : c{r, g, b, a}, intensity(i) {}
    bool operator==(const HDRColor&) const = default;

    void Modulate(const HDRColor& d);                        // cn = cn x dn / 255; i x= d.i
    void Add(const HDRColor& d);                             // saturating; i += d.i
    void AddScaled(const HDRColor& d, float f);              // cn += dn x k / 255; i += d.i x f
    void SetScaled(const HDRColor& d, float f);              // cn = dn x k / 255; i = d.i x f
    void Lerp(const HDRColor& a, const HDRColor& b, float f);  // an + (bn - an) x k / 255
    // intensity = max(1, x, y, z); channels = x, y, z / intensity and w, each x 255,
    // clamped to 0..255 and truncated.
    void SetFromVector(const Vector& v);
    Vector ToVector() const;  // channels / 255, x, y, z times the intensity
    // ToVector, then x, y, z raised to 2.2 while the render visualisation mode is 0.
    Vector ToLinearVector() const;
};
static_assert(sizeof(HDRColor) == 8);

// The renderer's visualisation mode (0 = normal shading). Process-wide; written by the
// renderer, read by any thread.
void SetRenderVisualizationMode(uint32_t mode);
uint32_t GetRenderVisualizationMode();
