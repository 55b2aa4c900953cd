#include "render/scene/RendererLight.h"

#include <algorithm>
#include <cmath>

#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"

RendererLightList gActiveLights;

namespace {
constexpr float kDegreesToRadians = 0.017453292f;
// Below this a ramp's span is taken as empty: factor 1 everywhere, never a division by 0.
constexpr float kDegenerateSpan = 1e-6f;
constexpr float kInnerGap = 0.01f;  // the inner range stays this far inside the outer
constexpr float kMaxConeFraction = 0.999f;
}  // namespace

RendererLight::RendererLight() { transform = Matrix::IDENTITY; }

// Runs on the render thread (the wrapper is freed there): a light gathered for this frame
// and destroyed before the scene pass is never read.
RendererLight::~RendererLight() {
    gVornexRenderer.ForgetLight(this);
    StoreTexture(nullptr);
    Unlink();
}

void RendererLight::StoreTexture(DeviceObjectHandle* texture) {
    if (texture) texture->AddRef();  // first, so storing the held handle again keeps it alive
    if (maskTexture) maskTexture->Unref();
    maskTexture = texture;
}

void RendererLight::UpdateShadowFlag() {
    shadowFlag = (type == LIGHT_TYPE_SPOT || type == LIGHT_TYPE_TUBE) && transform.Det() < 0.0f;
}

void RendererLight::EnterList() {
    if (listed)
        gActiveLights.MarkChanged();
    else
        gActiveLights.Append(this);
}

void RendererLight::SetupPointLight(const RendererLightShape& shape) {
    type = LIGHT_TYPE_POINT;
    colors[0] = shape.color;
    intensity = shape.intensity;
    innerRange = shape.innerRange;
    outerRange = shape.outerRange;
    maskRotation = maskAngles = shape.maskRotation;
    maskScale = shape.maskScale;
    StoreTexture(shape.texture);
    UpdateShadowFlag();
    UpdateAttenuation();
    EnterList();
}

void RendererLight::SetupSpotLight(const RendererLightShape& shape, float coneAngleDegrees, float falloff) {
    coneAngle = coneAngleDegrees;
    coneFalloff = falloff;
    SetupPointLight(shape);
    type = LIGHT_TYPE_SPOT;
    UpdateShadowFlag();
    UpdateAttenuation();
}

void RendererLight::SetupTubeLight(const RendererLightShape& shape, float tubeLength) {
    length = tubeLength;
    SetupPointLight(shape);
    type = LIGHT_TYPE_TUBE;
    UpdateShadowFlag();
    UpdateAttenuation();
}

void RendererLight::SetupDirectionalAmbientLight(const RendererAmbientLightShape& shape) {
    type = LIGHT_TYPE_DIRECTIONAL_AMBIENT;
    for (int i = 0; i < 3; ++i) colors[i] = shape.colors[i];
    intensity = shape.intensity;
    scalars[0] = shape.value;
    scalars[1] = shape.intensity;
    ambientKind = shape.flag;
    exclusionBits = shape.exclusionBits;
    maskRotation = maskAngles = shape.maskRotation;
    maskScale = shape.maskScale;
    StoreTexture(shape.texture);
    UpdateShadowFlag();
    UpdateAttenuation();
    EnterList();
}

void RendererLight::SetTransform(const Matrix& m) {
    transform = m;
    direction = Vector(m.r[2].x, m.r[2].y, m.r[2].z, 0.0f);
    UpdateShadowFlag();
    UpdateAttenuation();
    if (listed) gActiveLights.MarkChanged();
}

void RendererLight::Unlink() { gActiveLights.Unlink(this); }

void RendererLight::UpdateAttenuation() {
    const Vector& axis = transform.r[type == LIGHT_TYPE_TUBE ? 0 : 2];
    const float scale = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
    const float outer = outerRange * scale;
    const float inner = std::min(innerRange * scale, outer - kInnerGap);
    const float span = inner * inner - outer * outer;
    if (std::fabs(span) < kDegenerateSpan) {
        rangeScale = 0.0f, rangeOffset = 1.0f;
    } else {
        rangeScale = 1.0f / span;
        rangeOffset = -(outer * outer) * rangeScale;
    }
    coneScale = coneOffset = 0.0f;
    if (type != LIGHT_TYPE_SPOT) return;
    const float c = std::cos(coneAngle * kDegreesToRadians);
    const float f = std::clamp(1.0f - coneFalloff, 0.0f, kMaxConeFraction);
    const float ci = std::cos(coneAngle * f * kDegreesToRadians);
    if (std::fabs(ci - c) < kDegenerateSpan) {
        coneScale = 0.0f, coneOffset = 1.0f;
    } else {
        coneScale = 1.0f / (ci - c);
        coneOffset = -c * coneScale;
    }
}

void RendererLightList::Append(RendererLight* light) {
    if (light->listed) return;
    light->previous = tail;
    light->next = nullptr;
    (tail ? tail->next : head) = light;
    tail = light;
    light->listed = true;
    ++changeCounter;
}

void RendererLightList::Unlink(RendererLight* light) {
    if (!light->listed) return;
    (light->previous ? light->previous->next : head) = light->next;
    (light->next ? light->next->previous : tail) = light->previous;
    light->previous = light->next = nullptr;
    light->listed = false;
    ++changeCounter;
}
