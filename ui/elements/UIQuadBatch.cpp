#include "ui/elements/UIQuadBatch.h"

#include <algorithm>
#include <cstring>

#include "platform/gfx/GfxDevice.h"
#include "render/VornexRenderer.h"
#include "render/shaders/ResourceShader.h"
#include "ui/elements/UIQuadIndexList.h"

static_assert(UIQuadBatch::kMaxQuads <= kUIQuadIndexQuads, "a full batch draws from the shared index list");

namespace {

UIQuadBatch* gBatches[UIQuadBatch::kChannels] = {};

constexpr float kCorners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
// The texture scale and offset registers (adjacent) of a mapping that changes nothing,
// written in one device call.
static_assert(kUITexOffsetRegister == kUITexScaleRegister + 1, "scale and offset registers are adjacent");
constexpr float kIdentityTexMapping[8] = {1, 1, 1, 1, 0, 0, 0, 0};
// Corner order of a mirrored element: keeps the winding front-facing.
constexpr uint32_t kMirroredOrder[4] = {3, 2, 1, 0};

bool SameFade(const UIFadeRecord& a, const UIFadeRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void Put4(float* out, const Vector& v) { out[0] = v.x, out[1] = v.y, out[2] = v.z, out[3] = v.w; }

}  // namespace

void UIQuadBatch::SetState(uint32_t blend, const DeviceObjectHandle* texture0, uint32_t sampler0,
                           const DeviceObjectHandle* texture1, uint32_t sampler1, const VertexShaderObject* vs,
                           const PixelShaderObject* ps, const UIFadeRecord* fade) {
    const bool same = blend == blendMode && texture0 == textures[0] && sampler0 == samplers[0] &&
                      texture1 == textures[1] && sampler1 == samplers[1] && vs == vertexShader &&
                      ps == pixelShader && (fade != nullptr) == hasConstants &&
                      (!fade || SameFade(*fade, constants));
    if (same) return;
    Flush();
    blendMode = blend;
    textures[0] = texture0, samplers[0] = sampler0;
    textures[1] = texture1, samplers[1] = sampler1;
    vertexShader = vs, pixelShader = ps;
    hasConstants = fade != nullptr;
    if (fade) constants = *fade;
}

void UIQuadBatch::AddQuad(const Matrix& world, const Vector colours[4], bool mirrored, const Vector& parameter,
                          const Vector& texScale, const Vector& texOffset) {
    // The unit square's corners through the matrix: sums of its rows (the same sums, in
    // the same order, as transforming (x, y, 0, 1) with x and y of 0 or 1).
    const Vector& r0 = world.r[0];
    const Vector& r1 = world.r[1];
    const Vector& r3 = world.r[3];
    const Vector points[4] = {r3, r0 + r3, (r0 + r1) + r3, r1 + r3};
    UIQuadVertex* out = vertices + 4 * quads;
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t k = mirrored ? kMirroredOrder[i] : i;
        UIQuadVertex& v = out[i];
        Put4(v.colour, colours[k]);
        v.position[0] = points[k].x, v.position[1] = points[k].y, v.position[2] = points[k].z;
        Put4(v.parameter, parameter);
        v.uv[0] = texOffset.x + kCorners[k][0] * texScale.x;
        v.uv[1] = texOffset.y + kCorners[k][1] * texScale.y;
    }
    if (++quads == kMaxQuads) Flush();
}

void UIQuadBatch::AddQuad(const Matrix& world, const Vector& colour, bool mirrored, const Vector& parameter,
                          const Vector& texScale, const Vector& texOffset) {
    const Vector colours[4] = {colour, colour, colour, colour};
    AddQuad(world, colours, mirrored, parameter, texScale, texOffset);
}

void UIQuadBatch::AddVertices(const UIQuadVertex* source, uint32_t count, const Matrix& world) {
    count &= ~3u;
    while (count > 0) {
        if (quads == kMaxQuads) Flush();
        const uint32_t take = std::min(count / 4, kMaxQuads - quads);
        UIQuadVertex* out = vertices + 4 * quads;
        for (uint32_t i = 0; i < 4 * take; ++i) {
            out[i] = source[i];
            Vector p;
            p.Transform(world, Vector(source[i].position[0], source[i].position[1], source[i].position[2], 1.0f));
            out[i].position[0] = p.x, out[i].position[1] = p.y, out[i].position[2] = p.z;
        }
        quads += take;
        source += 4 * take;
        count -= 4 * take;
        if (quads == kMaxQuads) Flush();
    }
}

void UIQuadBatch::Flush() {
    if (quads == 0) return;
    VornexRenderer& r = gVornexRenderer;
    r.SetBlendMode(blendMode);
    r.SetCullMode(r.CameraMirrored() ? kUICullCounterClockwise : kUICullClockwise);
    r.SetDepthState(kUIDepthAlways, 0, 0, 0);
    if (gfx::Device* device = r.Device()) device->SetVertexDeclaration(r.GlobalVertexDeclaration());
    r.SetVertexShader(vertexShader ? vertexShader->DeviceShader() : nullptr);
    if (vertexShader) {
        vertexShader->SetCameraConstants();
        vertexShader->SetModelColor(Vector(1, 1, 1, 1));  // the colours are in the vertices
    }
    // The vertices carry final texture coordinates: an identity mapping for the shaders
    // that also serve immediate draws, and a band that fades nothing without a record.
    r.SetVertexShaderConstants(kUITexScaleRegister, kIdentityTexMapping, 2);
    const UIFadeRecord& fade = hasConstants ? constants : kUINoFade;
    r.SetVertexShaderConstants(kUIFadeVertexRegister, &fade.rows[0].x, 2);
    r.SetPixelShaderConstants(kUIFadePixelRegister, &fade.band.x, 1);
    r.SetPixelShader(pixelShader ? pixelShader->DeviceShader() : nullptr);
    r.SetTexture(0, textures[0], samplers[0]);
    r.SetTexture(1, textures[1], samplers[1]);
    r.DrawIndexedPrimitiveUP(gfx::PT_TRIANGLELIST, 0, 4 * quads, 2 * quads, UIQuadIndexList(), vertices,
                             sizeof(UIQuadVertex));
    quads = 0;
}

void CreateUIQuadBatches() {
    BuildUIQuadIndexList();
    for (UIQuadBatch*& b : gBatches)
        if (!b) b = new UIQuadBatch;
}

void DestroyUIQuadBatches() {
    for (UIQuadBatch*& b : gBatches) {
        delete b;
        b = nullptr;
    }
}

UIQuadBatch& GetUIQuadBatch(uint32_t channel) {
    return *gBatches[channel < UIQuadBatch::kChannels ? channel : UIQuadBatch::kChannels - 1];
}

void FlushUIQuadBatches() {
    for (UIQuadBatch* b : gBatches)
        if (b) b->Flush();
}
