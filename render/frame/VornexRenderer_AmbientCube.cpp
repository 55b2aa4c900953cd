// The ambient cube: a 64 x 64 cube map of the scene's ambient light that the mesh
// shaders sample by normal. At the start of every frame the renderer compares the
// active-light list's change counter and its exclusion mask (task 15) with the keys of
// the last refresh and re-renders the cube only when either moved: each face is cleared
// to black and every light left in adds one full-face quad drawn with the
// "LightCubeGeneration" pair of the shader manager's light tables (plain, or "MASK" for
// a light with a mask texture); a light whose pair is not valid is left out. A device
// reset recreates the cube but keeps the keys.
#include <cmath>

#include "core/math/Matrix.h"
#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/RendererLight.h"
#include "render/shaders/ShaderManager.h"

using namespace gfx;

namespace {
// The shader manager's light table of "LightCubeGeneration" and its "MASK" variant.
constexpr uint32_t kLightCubeTable = 3;
constexpr uint32_t kMaskVariant = 1;

// The two axes (a, b) of each face, in cube face order +X, -X, +Y, -Y, +Z, -Z.
constexpr float kFaceAxes[6][2][3] = {
    {{1, 0, 0}, {0, 1, 0}},  {{-1, 0, 0}, {0, 1, 0}}, {{0, 1, 0}, {0, 0, -1}},
    {{0, -1, 0}, {0, 0, 1}}, {{0, 0, 1}, {0, 1, 0}},  {{0, 0, -1}, {0, 1, 0}},
};

Vector Cross(const Vector& a, const Vector& b) {
    return Vector(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f);
}

// Pixel constants c0-c4 of one light: its direction of travel (the transform's z axis),
// the first and second colours, the side colour blended over the kind's constant term by
// its weight, and (wrap around, exponent).
void LightConstants(const RendererLight& light, Vector out[5]) {
    const Vector& d = light.direction;
    const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    out[0] = length > 0.0f ? d * (1.0f / length) : Vector(0, 0, 0, 0);
    out[1] = light.colors[0] * 0.25f;
    out[2] = light.ambientKind == AMBIENT_KIND_PLAIN ? Vector(0, 0, 0, 0) : light.colors[1] * 0.25f;
    const Vector x = light.ambientKind == AMBIENT_KIND_BLENDED
                         ? light.colors[0] * 0.25f * 0.5f + light.colors[1] * 0.25f * 0.5f
                         : Vector(0, 0, 0, 0);
    const float w = light.colors[2].w;
    out[3] = x * (1.0f - w) + light.colors[2] * 0.25f * w;
    out[4] = Vector(light.scalars[0], light.scalars[1], 0, 0);
}
}  // namespace

void VornexRenderer::CheckAmbientCube() {
    const uint32_t counter = gActiveLights.ChangeCounter();
    if (ambientCubeKeysSet && counter == ambientCubeLightCounter && frameBlockRenderingMask == ambientCubeMask) return;
    ambientCubeKeysSet = true;
    ambientCubeLightCounter = counter;
    ambientCubeMask = frameBlockRenderingMask;
    RefreshAmbientCube(frameBlockRenderingMask);
}

void VornexRenderer::RefreshAmbientCube(uint32_t exclusionMask) {
    CubeTexture* cube = ambientCube ? ambientCube->Cube() : nullptr;
    if (!device || !cube) return;
    ++ambientCubeRefreshes;
    const bool beginScene = !inScene;
    if (beginScene) device->BeginScene();
    device->SetDepthStencilSurface(nullptr);
    depthInForce = nullptr;
    const BuiltInMesh& quad = builtInMeshes[MESH_FULLSCREEN_QUAD];
    device->SetStreamSource(0, quad.vertices, 0, quad.stride);
    device->SetFVF(FVF_XYZ | FVF_TEX1);
    for (uint32_t face = 0; face < 6; ++face) {
        Surface* surface = nullptr;
        if (Failed(cube->GetCubeMapSurface(static_cast<CubeFace>(face), 0, &surface)) || !surface) continue;
        SetRenderTargets(surface, nullptr, 2);  // bit 1: the device's full-face viewport stays
        ClearTarget(CLEAR_TARGET, Vector(0, 0, 0, 0), 1.0f, 0);
        const Vector a(kFaceAxes[face][0][0], kFaceAxes[face][0][1], kFaceAxes[face][0][2], 0);
        const Vector b(kFaceAxes[face][1][0], kFaceAxes[face][1][1], kFaceAxes[face][1][2], 0);
        const Vector frame[3] = {a, b, Cross(a, b)};
        for (RendererLight* light = gShaderManager ? gActiveLights.Head() : nullptr; light; light = light->next) {
            // Only directional ambient lights carry the colours, kind and exclusion bits.
            if (light->type != LIGHT_TYPE_DIRECTIONAL_AMBIENT || (light->exclusionBits & exclusionMask)) continue;
            const ShaderPair& pair = gShaderManager->Light(kLightCubeTable, light->maskTexture ? kMaskVariant : 0);
            if (!pair.IsValid()) continue;
            pair.Bind();
            SetTexture(0, light->maskTexture, 0);
            pair.SetVertexConstants(0, &frame[0].x, 3);
            Vector constants[5];
            LightConstants(*light, constants);
            pair.SetPixelConstants(0, &constants[0].x, 5);
            if (light->maskTexture) {
                Matrix flip, rotation, mask;
                flip.LoadScale(1.0f, -1.0f, 1.0f);
                rotation.LoadComplexTransformation(Vector(0, 0, 0, 1), light->maskAngles, Vector(1, 1, 1, 1));
                mask.Mul(rotation, flip);  // the flip first, then the rotation
                pair.SetPixelConstants(10, &mask.r[0].x, 4);
            }
            DrawPrimitive(PT_TRIANGLEFAN, 0, 2);
        }
        surface->Release();
    }
    device->SetStreamSource(0, nullptr, 0, 0);
    if (beginScene) device->EndScene();
}
