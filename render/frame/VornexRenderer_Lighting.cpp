// Deferred lighting (render thread): the "Lighting" step of the deferred pre-pass.
//
// The global light (sun, ambient cube, optional cloud projection and shadow map) is one
// full-screen pass into light buffer A, or into B when ambient occlusion follows (its
// final blur then writes A from B, so A always ends up with the frame's lighting). Each
// light of the frame's list then adds its volume (sphere, cone or tube) additively. Both
// draw only where the geometry pass marked stencil bit 0. Shader variants come from the
// shader manager's light tables: 0 "POINT", 1 "SPOT", 2 "TUBE" (bit 0 projected texture,
// bit 3 below "Medium") and 4 "LightFinalComponents" (bit 0 clouds, bit 1 shadowed,
// bit 2 filtered shadows, bit 3 below "Medium").
//
// Pixel registers of the global light: c10-c13 the inverse view; c14, c15 the sun and
// specular directions toward the light in view space; c16 the light colour x 0.25 (w its
// luminance); c17 secondary, c18 side and c19 specular colour x 0.25; c20 (wrap-around,
// fake shadow strength, shadow strength, 0); c21, c22 the cloud projection from view
// space (two columns); c25-c28 the camera-to-shadow matrix; c29 (1 - shadow strength,
// 1 / S, S, 0) for a map of S texels.
// Registers of a light: vertex c0-c3 volume x view x projection, c4-c7 volume x view;
// pixel c10 the colour x 0.25, c11 times the intensity (w its luminance), c12 the position
// in view space, c13 the attenuation factors, c14 the direction in view space (cone and
// tube), c15-c18 the projected texture's matrix from view space.
//
// The scene lighting of the lit passes (SetSceneLighting, asked by the mesh draws of the
// forward and third-class passes) hands the same sun vectors to pixel c205-c211, the
// cloud projection from view space to c212, c213 and the layer projection to c214, c215,
// and binds the cloud texture on sampler 4 and the layer texture on sampler 5 (none, and
// zero vectors, without a parameter set or without the texture).
#include <cmath>

#include "render/SceneDrawServices.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/scene/RendererLight.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/PostProcessChain.h"
#include "render/shaders/ShaderManager.h"

using namespace gfx;

namespace {

constexpr uint32_t kLightFinalComponentsTable = 4;
constexpr uint32_t kQualityMedium = 2, kQualityHigh = 3;

const SceneParametersWrapper* SceneSet() {
    return gRendererScene ? gRendererScene->GetCurrentParameters() : nullptr;
}

float Luminance(const Vector& c) { return 0.2126f * c.x + 0.7152f * c.y + 0.0722f * c.z; }

bool Finite(const Matrix& m) {
    for (const Vector& r : m.r)
        if (!std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.z) || !std::isfinite(r.w)) return false;
    return true;
}

// A direction brought into view space, normalised and negated (toward the light).
Vector TowardLight(const Vector& direction, const Matrix& view) {
    Vector v;
    v.Transform3DNormal(view, Vector(direction.x, direction.y, direction.z, 0));
    v.NormalizeXYZ();
    return Vector(-v.x, -v.y, -v.z, 0);
}

// The sun's seven vectors, in register order: the sun and specular directions toward the
// light in view space, the light colour x 0.25 (w its luminance), the secondary, side and
// specular colours x 0.25, then (wrap-around, fake shadow strength, shadow strength, 0).
void SunConstants(const SceneParameterBlock& p, const Matrix& view, Vector c[7]) {
    c[0] = TowardLight(p.light.lightDirection, view);
    c[1] = TowardLight(p.light.specularDirection, view);
    c[2] = p.light.lightColor * 0.25f;
    c[2].w = Luminance(c[2]);
    c[3] = p.light.secondaryColor * 0.25f;
    c[4] = p.light.sideColor * 0.25f;
    c[5] = p.light.specularColor * 0.25f;
    c[6] = Vector(p.light.wrapAroundFactor.x, p.light.fakeShadowStrength.x, p.light.shadowStrength.x, 0.0f);
}

// A texture projection taken from view space: the inverse view, then the projection; its
// first two columns.
void ProjectionFromView(const Matrix& projection, const Matrix& inverseView, Vector out[2]) {
    Matrix fromView, columns;
    fromView.Mul(projection, inverseView);
    columns.Transpose(fromView);
    out[0] = columns.r[0];
    out[1] = columns.r[1];
}

// The distance of the near plane of a left-handed projection (perspective or
// orthographic): -P32 / P22.
float NearPlane(const Matrix& projection) {
    return projection.r[2].z != 0.0f ? -projection.r[3].z / projection.r[2].z : 0.0f;
}

}  // namespace

uint32_t VornexRenderer::LightBufferSamplerFlags() const {
    const uint32_t flags = SAMPLER_CLAMP_U | SAMPLER_CLAMP_V | SAMPLER_POINT;
    return srgbForcedOff.load(std::memory_order_acquire) ? flags : flags | SAMPLER_SRGB;
}

bool VornexRenderer::AmbientOcclusionDue(uint32_t passFlags) const {
    const SceneParametersWrapper* set = SceneSet();
    return (passFlags & RENDER_PASS_AMBIENT_OCCLUSION) && blockInForce.quality >= kQualityHigh && set &&
           set->Values().rest.ssaoIntensity > 0.001f && postProcess->CanRunSSAO();
}

void VornexRenderer::RenderGlobalLight(bool shadowsAllowed, bool occlusion) {
    if (!device) return;
    lightBufferClearMark = true;
    const bool srgb = !srgbForcedOff.load(std::memory_order_acquire);
    SetRenderTargets(targets[occlusion ? TARGET_LIGHT_1 : TARGET_LIGHT_0].surface, nullptr, srgb ? 1u : 0u);
    SetTexture(6, targets[TARGET_NORMAL].texture, SAMPLER_CLAMP_U | SAMPLER_CLAMP_V | SAMPLER_POINT);
    SetCullMode(CULL_NONE);
    SetAlphaTest(0, 0);
    SetBlendMode(0);
    SetDepthState(CMP_ALWAYS, 0, 0, 0);

    const SceneParametersWrapper* set = SceneSet();
    if (!set || !gShaderManager) return;
    const SceneParameterBlock& p = set->Values();
    const float strength = p.light.shadowStrength.x;
    const bool shadowed = shadowsAllowed && blockInForce.shadowMap && targets[TARGET_SHADOW_MAP].surface &&
                          targets[TARGET_SHADOW_MAP].texture && strength > 0.0f;
    const bool filtered = shadowed && blockInForce.shadowFiltering;
    const bool clouds = p.cloudTexture && blockInForce.quality > 0;
    const uint32_t variant = (clouds ? 1u : 0u) | (shadowed ? 2u : 0u) | (filtered ? 4u : 0u) |
                             (blockInForce.quality < kQualityMedium ? 8u : 0u);
    const ShaderPair& pair = gShaderManager->Light(kLightFinalComponentsTable, variant);
    if (!pair.IsValid()) return;

    const BuiltInMesh& quad = GetBuiltInMesh(MESH_FULLSCREEN_QUAD);
    device->SetFVF(FVF_XYZ | FVF_TEX1);
    device->SetStreamSource(0, quad.vertices, 0, quad.stride);
    pair.Bind();
    pair.SetPixelConstants(10, &inverseView.r[0].x, 4);
    SetTexture(5, ambientCube, 0);

    Vector c[7];
    SunConstants(p, view, c);
    pair.SetPixelConstants(14, &c[0].x, 7);
    if (clouds) {
        SetTexture(0, p.cloudTexture, SAMPLER_SRGB);
        // View space to cloud texture space.
        Vector columns[2];
        ProjectionFromView(p.cloudProjection, inverseView, columns);
        pair.SetPixelConstants(21, &columns[0].x, 2);
    }
    if (shadowed) {
        SetTexture(12, targets[TARGET_SHADOW_MAP].texture, 38);
        pair.SetPixelConstants(25, &cameraToShadowMatrix.r[0].x, 4);
        const float size = static_cast<float>(blockInForce.shadowMapSize);
        const Vector c29(1.0f - strength, size > 0.0f ? 1.0f / size : 0.0f, size, 0.0f);
        pair.SetPixelConstants(29, &c29.x, 1);
    }
    DrawPrimitive(PT_TRIANGLEFAN, 0, 2);
}

void VornexRenderer::SetSceneLighting() {
    if (!device) return;
    // Without a parameter set the lit passes get no light, no clouds and no layer.
    Vector c[kSceneLightingRegisters] = {};
    const DeviceObjectHandle* cloud = nullptr;
    const DeviceObjectHandle* layer = nullptr;
    if (const SceneParametersWrapper* set = SceneSet()) {
        const SceneParameterBlock& p = set->Values();
        SunConstants(p, view, c);
        // Clouds as the global light takes them: only above "Ultra low".
        if (p.cloudTexture && blockInForce.quality > 0) {
            cloud = p.cloudTexture;
            ProjectionFromView(p.cloudProjection, inverseView, &c[7]);
        }
        if (p.layerTexture) {
            layer = p.layerTexture;
            ProjectionFromView(p.layerProjection, inverseView, &c[9]);
        }
    }
    SetPixelShaderConstants(kSceneLightingRegister, &c[0].x, kSceneLightingRegisters);
    SetTexture(4, cloud, SAMPLER_SRGB);
    SetTexture(5, layer, SAMPLER_SRGB);
}

void VornexRenderer::RenderLights() {
    if (!device || !gShaderManager) return;
    const SceneParametersWrapper* set = SceneSet();
    const float desaturation = set ? set->Values().rest.battleModeDesaturation : 0.0f;
    const bool lowQuality = blockInForce.quality < kQualityMedium;
    const float nearPlane = NearPlane(projection);
    device->SetFVF(FVF_XYZ);
    SetBlendMode(2);
    for (uint32_t i = 0; i < lightCount; ++i) {
        const RendererLight* light = lights[i];
        if (!light || light->type > LIGHT_TYPE_TUBE) continue;
        float scale = 1.0f;
        uint32_t variant = lowQuality ? 8u : 0u;
        if (light->maskTexture) {
            if (lowQuality)
                scale = 0.3f;
            else
                variant |= 1u;
        }
        const ShaderPair& pair = gShaderManager->Light(light->type, variant);
        if (!pair.IsValid()) continue;

        // The volume's placement in the world and its nearest view depth.
        const float range = light->outerRange;
        const Matrix& placement = light->transform;
        Matrix volume;
        BuiltInMeshId meshId = MESH_UNIT_SPHERE;
        BoundingBox4 meshBox(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1));
        float nearest = 0.0f;
        if (light->type == LIGHT_TYPE_POINT) {
            const float radius = range * placement.r[2].Length3();
            volume.LoadScale(radius, radius, radius);
            volume.r[3] = Vector(placement.r[3].x, placement.r[3].y, placement.r[3].z, 1);
            Vector centre;
            centre.TransformHomogen(view, volume.r[3]);
            nearest = centre.z - radius;
        } else {
            Matrix local;
            if (light->type == LIGHT_TYPE_SPOT) {
                const float across = range * std::tan(light->coneAngle * 3.14159265f / 180.0f);
                local.LoadScale(across, across, range);
                meshId = MESH_UNIT_CONE;
                meshBox = BoundingBox4(Vector(-1, -1, 0, 1), Vector(1, 1, 1, 1));
                // A cone of 90 degrees or more has no finite volume.
                if (!(light->coneAngle < 90.0f)) continue;
            } else {
                local.LoadScale(range, range, range);
                meshId = MESH_CYLINDER;
            }
            volume.Mul(placement, local);  // mesh x scale, then the light matrix
            Matrix volumeView;
            volumeView.Mul(view, volume);
            BoundingBox4 viewBox;
            viewBox.Transform3D(meshBox, volumeView);
            nearest = viewBox.min.z;
        }
        Matrix volumeView, volumeViewProjection;
        volumeView.Mul(view, volume);
        volumeViewProjection.Mul(viewProjection, volume);
        if (!Finite(volumeViewProjection) || !std::isfinite(nearest)) continue;
        Matrix lightInverseMatrix;
        const bool invertible = lightInverseMatrix.Inverse(placement);
        if (light->type != LIGHT_TYPE_POINT && !invertible) continue;

        pair.Bind();
        SetTexture(0, (variant & 1u) ? light->maskTexture : nullptr, 0);
        const Vector colour = light->colors[0] * scale;
        const float l = Luminance(colour);
        const float s = desaturation;
        Vector c[5];
        c[0] = Vector(((1.0f - s) * colour.x + s * l) * 0.25f, ((1.0f - s) * colour.y + s * l) * 0.25f,
                      ((1.0f - s) * colour.z + s * l) * 0.25f, 0.25f);
        c[1] = c[0] * light->intensity;
        c[1].w = Luminance(c[1]);
        c[2].TransformHomogen(view, Vector(placement.r[3].x, placement.r[3].y, placement.r[3].z, 1));
        c[3] = Vector(light->rangeScale, light->rangeOffset, light->coneScale, light->coneOffset);
        uint32_t count = 4;
        if (light->type != LIGHT_TYPE_POINT) {
            c[4].Transform3DNormal(view, Vector(placement.r[2].x, placement.r[2].y, placement.r[2].z, 0));
            c[4].NormalizeXYZ();
            count = 5;
        }
        pair.SetPixelConstants(10, &c[0].x, count);
        if (variant & 1u) {
            // View space to the projected texture: inverse view, inverse light placement,
            // then (cone lights) the light's perspective and the texture bias.
            Matrix m;
            m.Mul(lightInverseMatrix, inverseView);
            if (light->type == LIGHT_TYPE_SPOT) {
                Matrix perspective, bias = Matrix::IDENTITY, withPerspective, biased;
                perspective.LoadPerspectiveFovLH(2.0f * light->coneAngle, 1.0f, 0.1f, 1.0f);
                bias.r[0].x = 0.5f;
                bias.r[1].y = -0.5f;
                bias.r[3] = Vector(0.5f, 0.5f, 0.0f, 1.0f);
                withPerspective.Mul(perspective, m);
                biased.Mul(bias, withPerspective);
                m = biased;
            }
            pair.SetPixelConstants(15, &m.r[0].x, 4);
        }
        pair.SetVertexConstants(0, &volumeViewProjection.r[0].x, 4);
        pair.SetVertexConstants(4, &volumeView.r[0].x, 4);

        const bool beyondNear = nearest > nearPlane;
        uint32_t cull;
        if (light->type == LIGHT_TYPE_TUBE)
            cull = beyondNear ? CULL_CW : CULL_CCW;
        else if (beyondNear)
            cull = light->shadowFlag ? CULL_CCW : CULL_CW;
        else
            cull = light->shadowFlag ? CULL_CW : CULL_CCW;
        SetDepthState(beyondNear ? CMP_LESSEQUAL : CMP_ALWAYS, 0, 0, 0);
        SetCullMode(cull);

        const BuiltInMesh& mesh = GetBuiltInMesh(meshId);
        device->SetStreamSource(0, mesh.vertices, 0, 12);
        device->SetIndices(mesh.indices[0]);
        DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 0, mesh.vertexCount, 0, mesh.indexCount[0] / 3);
    }
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
}

void VornexRenderer::RenderAmbientOcclusion() {
    const SceneParametersWrapper* set = SceneSet();
    if (!device || !set) return;
    SetCullMode(CULL_NONE);
    SetAlphaTest(0, 0);
    SetBlendMode(0);
    SetDepthState(CMP_ALWAYS, 0, 0, 0);
    const SceneParameterRest& rest = set->Values().rest;
    postProcess->SSAOPrepare(targets[TARGET_OCCLUSION_0].surface, targets[TARGET_NORMAL].texture, renderWidth,
                             renderHeight, rest.ssaoUseNormalMaps, rest.ssaoIntensity, rest.ssaoRadius);
    postProcess->SSAOBlur(targets[TARGET_LIGHT_0].surface, targets[TARGET_OCCLUSION_0].texture,
                          targets[TARGET_OCCLUSION_1].surface, targets[TARGET_OCCLUSION_1].texture,
                          targets[TARGET_LIGHT_1].texture, renderWidth, renderHeight, rest.ssaoDecreaseWithLighting,
                          Vector(rest.ssaoColor.c[0] / 255.0f, rest.ssaoColor.c[1] / 255.0f, rest.ssaoColor.c[2] / 255.0f, 1.0f), 1.0f);
}
