#include "render/scene/RendererLightWrapper.h"

#include <algorithm>

#include "render/VornexRenderer_Local.h"
#include "render/scene/SceneCommand.h"

// ---------------------------------------------------------------------------------------
// Main thread

template <class... T>
void RendererLightWrapper::Post(uint32_t op, const T&... data) {
    PostObjectCall(&Execute, op, this, data...);
}

void RendererLightWrapper::PostTransform(const Matrix& m) { Post(0, m); }

void RendererLightWrapper::PostPointLight(const Vector& color, float intensity, float inner, float outer,
                                          DeviceObjectHandle* texture, const Vector& maskRotation,
                                          const Vector& maskScale) {
    Post(1, color, intensity, inner, outer, texture, maskRotation, maskScale);
}

void RendererLightWrapper::PostSpotLight(const Vector& color, float intensity, float inner, float outer,
                                         float coneAngle, float coneFalloff, DeviceObjectHandle* texture,
                                         const Vector& maskRotation, const Vector& maskScale) {
    Post(2, color, intensity, inner, outer, coneAngle, coneFalloff, texture, maskRotation, maskScale);
}

void RendererLightWrapper::PostTubeLight(const Vector& color, float intensity, float inner, float outer, float length,
                                         DeviceObjectHandle* texture, const Vector& maskRotation,
                                         const Vector& maskScale) {
    Post(3, color, intensity, inner, outer, length, texture, maskRotation, maskScale);
}

void RendererLightWrapper::PostDirectionalAmbientLight(const Vector& firstColor, const Vector& secondColor,
                                                       const Vector& sideColor, float intensity,
                                                       uint32_t twoSidedMode, float wrapAround,
                                                       DeviceObjectHandle* texture, const Vector& maskRotation,
                                                       const Vector& maskScale, uint32_t exclusionBits) {
    const uint8_t kind = uint8_t(std::min<uint32_t>(twoSidedMode, 0xFF));
    Post(4, firstColor, secondColor, sideColor, intensity, wrapAround, kind, texture, maskRotation, maskScale,
         exclusionBits);
}

// ---------------------------------------------------------------------------------------
// Render thread: the executor. A record whose payload ends early changes nothing.

void RendererLightWrapper::Execute(uint32_t op, CommandRingBuffer& r) {
    RendererLightWrapper* w = nullptr;
    if (!Read(r, w) || !w) return;
    RendererLight& light = w->light;
    RendererLightShape s;
    switch (op) {
        case 0: {
            Matrix m;
            if (Read(r, m)) light.SetTransform(m);
            break;
        }
        case 1:
            if (Read(r, s.color, s.intensity, s.innerRange, s.outerRange, s.texture, s.maskRotation, s.maskScale))
                light.SetupPointLight(s);
            break;
        case 2: {
            float angle = 0.0f, falloff = 0.0f;
            if (Read(r, s.color, s.intensity, s.innerRange, s.outerRange, angle, falloff, s.texture, s.maskRotation,
                     s.maskScale))
                light.SetupSpotLight(s, angle, falloff);
            break;
        }
        case 3: {
            float length = 0.0f;
            if (Read(r, s.color, s.intensity, s.innerRange, s.outerRange, length, s.texture, s.maskRotation,
                     s.maskScale))
                light.SetupTubeLight(s, length);
            break;
        }
        case 4: {
            RendererAmbientLightShape a;
            if (Read(r, a.colors[0], a.colors[1], a.colors[2], a.intensity, a.value, a.flag, a.texture,
                     a.maskRotation, a.maskScale, a.exclusionBits))
                light.SetupDirectionalAmbientLight(a);
            break;
        }
        default:
            break;  // ops above 4 change nothing
    }
}
