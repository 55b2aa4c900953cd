#include "render/shaders/OutlineRenderer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "render/DeviceObjectHandle.h"
#include "render/PostProcessMath.h"
#include "render/VertexDeclarationCache.h"
#include "render/VornexRenderer.h"
#include "render/shaders/PostProcessChain.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderManager.h"

using namespace gfx;

namespace {

constexpr uint32_t kListMasks[OutlineRenderer::kLists] = {OutlineRenderer::kAllCategories, 2, 4, 8, 16};
// Colour-write bits of categories 0-3: green, red, blue, alpha.
constexpr uint32_t kCategoryChannels[4] = {2, 1, 4, 8};
constexpr uint32_t kClampedLinear = SAMPLER_CLAMP_U | SAMPLER_CLAMP_V;  // 6

template <class T>
void SafeRelease(T** object) {
    if (*object) (*object)->Release();
    *object = nullptr;
}

// Vertex c0: clip position to texture coordinate with half a texel.
Vector ClipToTexture(float w, float h) { return Vector(0.5f, -0.5f, 0.5f + 0.5f / w, 0.5f + 0.5f / h); }

}  // namespace

void OutlineRenderer::CreateDeviceObjects() {
    ReleaseDeviceObjects();
    VornexRenderer& r = gVornexRenderer;
    Device* device = r.Device();
    VertexDeclarationCache* cache = r.DeclarationCache();
    if (!device || !cache) return;
    float xy[kGridVertices * 2];
    for (uint32_t row = 0; row <= kRows; ++row) {
        for (uint32_t column = 0; column <= kColumns; ++column) {
            float* v = &xy[(row * (kColumns + 1) + column) * 2];
            v[0] = static_cast<float>(column) * 0.025f * 2.0f - 1.0f;
            v[1] = static_cast<float>(row) * 0.041666668f * 2.0f - 1.0f;
        }
    }
    grid = cache->CreateVertexBuffer(sizeof xy, USAGE_WRITEONLY, POOL_MANAGED, xy);
    static const VertexElement kElements[2] = {
        {0, 0, DECLTYPE_FLOAT2, DECLMETHOD_DEFAULT, DECLUSAGE_POSITION, 0},
        kDeclEnd,
    };
    declaration = cache->GetOrCreate(kElements, 2);
    if (Failed(device->CreateIndexBuffer(kRingBytes, USAGE_DYNAMIC | USAGE_WRITEONLY, FMT_INDEX16, POOL_DEFAULT, &ring,
                                         nullptr)))
        ring = nullptr;
    ringOffset = 0;  // a new buffer starts empty
}

void OutlineRenderer::ReleaseDeviceObjects() {
    SafeRelease(&grid);
    SafeRelease(&ring);
    SafeRelease(&declaration);
    ringOffset = 0;
}

void OutlineRenderer::Clear() {
    std::memset(cells, 0, sizeof cells);
    allBits = 0;
    for (uint32_t k = 0; k < kLists; ++k) listCount[k] = listStart[k] = 0;
}

void OutlineRenderer::GatherEntities(uint32_t mask, uint32_t count, const OutlineCandidate* candidates) {
    Clear();
    if (!mask) return;
    for (uint32_t i = 0; i < count; ++i)
        if (candidates[i].categories & mask)
            AddEntity(*candidates[i].box, *candidates[i].world, candidates[i].categories);
    BuildIndexLists();
}

void OutlineRenderer::AddEntity(const BoundingBox4& box, const Matrix& world, uint32_t categories) {
    VornexRenderer& r = gVornexRenderer;
    Matrix m;
    m.Mul(r.ViewProjectionMatrix(), world);  // the world matrix, then the camera
    float x0 = FLT_MAX, x1 = -FLT_MAX, y0 = FLT_MAX, y1 = -FLT_MAX;
    bool wholeScreen = false;
    for (uint32_t i = 0; i < 8 && !wholeScreen; ++i) {
        const float x = (i & 1) ? box.max.x : box.min.x, y = (i & 2) ? box.max.y : box.min.y,
                    z = (i & 4) ? box.max.z : box.min.z;
        const Vector p = m.r[0] * x + m.r[1] * y + m.r[2] * z + m.r[3];
        // A corner behind the camera (or a matrix without a finite image) covers it all.
        if (!(p.w > 1e-6f)) {
            wholeScreen = true;
            break;
        }
        const float sx = p.x / p.w, sy = p.y / p.w;
        if (!std::isfinite(sx) || !std::isfinite(sy)) {
            wholeScreen = true;
            break;
        }
        x0 = std::fmin(x0, sx), x1 = std::fmax(x1, sx), y0 = std::fmin(y0, sy), y1 = std::fmax(y1, sy);
    }
    if (wholeScreen) {
        x0 = y0 = -1.0f;
        x1 = y1 = 1.0f;
    }
    const float w = static_cast<float>(r.RenderWidth() ? r.RenderWidth() : 1);
    const float h = static_cast<float>(r.RenderHeight() ? r.RenderHeight() : 1);
    // Both ends into -1..1: a rectangle far off screen (a corner just in front of the
    // camera) must not reach the integer conversion out of its range.
    auto clamp = [](float v) { return std::fmin(std::fmax(v, -1.0f), 1.0f); };
    x0 = clamp(x0 - 3.0f / w), x1 = clamp(x1 + 3.0f / w);
    y0 = clamp(y0 - 3.0f / h), y1 = clamp(y1 + 3.0f / h);
    const int32_t c0 = static_cast<int32_t>(std::floor((x0 + 1.0f) * 0.5f * kColumns));
    const int32_t c1 = static_cast<int32_t>(std::ceil((x1 + 1.0f) * 0.5f * kColumns));
    const int32_t r0 = static_cast<int32_t>(std::floor((y0 + 1.0f) * 0.5f * kRows));
    const int32_t r1 = static_cast<int32_t>(std::ceil((y1 + 1.0f) * 0.5f * kRows));
    const uint8_t bits = static_cast<uint8_t>(categories);
    for (int32_t row = std::max(r0, 0); row < std::min(r1, int32_t(kRows)); ++row)
        for (int32_t column = std::max(c0, 0); column < std::min(c1, int32_t(kColumns)); ++column)
            cells[row][column] |= bits;
    allBits |= bits;
}

void OutlineRenderer::BuildIndexLists() {
    uint32_t needed = 0;
    for (uint32_t k = 0; k < kLists; ++k) {
        listCount[k] = 0;
        if (!(allBits & kListMasks[k])) continue;
        for (uint32_t row = 0; row < kRows; ++row)
            for (uint32_t column = 0; column < kColumns; ++column)
                if (cells[row][column] & kListMasks[k]) ++listCount[k];
        needed += listCount[k] * 6;
    }
    indices.resize(needed);
    uint32_t at = 0;
    for (uint32_t k = 0; k < kLists; ++k) {
        if (!listCount[k]) continue;
        for (uint32_t row = 0; row < kRows; ++row) {
            for (uint32_t column = 0; column < kColumns; ++column) {
                if (!(cells[row][column] & kListMasks[k])) continue;
                const uint16_t v = static_cast<uint16_t>(row * (kColumns + 1) + column);
                const uint16_t quad[6] = {v, uint16_t(v + 1), uint16_t(v + 41), uint16_t(v + 1), uint16_t(v + 42),
                                          uint16_t(v + 41)};
                std::memcpy(&indices[at], quad, sizeof quad);
                at += 6;
            }
        }
    }
    uint32_t base = 0;
    if (!indices.empty() && ring) {
        const uint32_t bytes = static_cast<uint32_t>(indices.size() * 2);
        uint32_t offset = ringOffset, flags = LOCK_NOOVERWRITE;
        if (offset + bytes > kRingBytes) offset = 0, flags = LOCK_DISCARD;
        void* data = nullptr;
        if (Succeeded(ring->Lock(offset, bytes, &data, flags)) && data) {
            std::memcpy(data, indices.data(), bytes);
            ring->Unlock();
        }
        base = offset / 2;
        ringOffset = (offset + bytes + 31) & ~31u;
    }
    listStart[0] = base;
    for (uint32_t k = 0; k + 1 < kLists; ++k) listStart[k + 1] = listStart[k] + 6 * listCount[k];
}

void OutlineRenderer::BindGrid() const {
    Device* device = gVornexRenderer.Device();
    device->SetVertexDeclaration(declaration);
    device->SetStreamSource(0, grid, 0, 8);
    device->SetIndices(ring);
}

void OutlineRenderer::DrawList(uint32_t list) const {
    if (!listCount[list]) return;
    gVornexRenderer.DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 0, kGridVertices, listStart[list], listCount[list] * 2);
}

void OutlineRenderer::GenerateFromStencil() {
    VornexRenderer& r = gVornexRenderer;
    if (!r.Device() || !grid || !ring || !gShaderManager) return;
    r.SetCameraState(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY, 0);
    const ShaderPair& plain = gShaderManager->Fixed(0);
    plain.Bind();
    r.SetModelMatrix(Matrix::IDENTITY);
    r.SetModelColor(Vector(1, 1, 1, 1));
    if (plain.vertexObject) {
        plain.vertexObject->SetModelMatrix(Matrix::IDENTITY, false);
        plain.vertexObject->SetModelColor(Vector(1, 1, 1, 1));
    }
    r.SetCullMode(CULL_NONE);
    r.SetAlphaTest(0, 0);
    r.SetBlendMode(0);
    r.SetDepthState(CMP_ALWAYS, 0, 0, 0);
    BindGrid();
    r.SetStencilOps(STENCILOP_KEEP, STENCILOP_KEEP, STENCILOP_KEEP);
    for (uint32_t i = 0; i < 4; ++i) {
        if (!listCount[i + 1]) continue;
        r.SetStencilFunc(CMP_EQUAL, 255, 2u << i, 0);
        r.SetColorWriteMask(kCategoryChannels[i]);
        DrawList(i + 1);
    }
    r.SetColorWriteMask(15);
    r.SetStencilFunc(CMP_ALWAYS, 255, 0, 0);
    r.DisableStencil();
}

void OutlineRenderer::Dilate(const OutlineParams& params, const DeviceObjectHandle* coverage) {
    VornexRenderer& r = gVornexRenderer;
    const ShaderPair& pair = r.PostProcess().passShaders[PostProcessChain::PASS_DILATE];
    if (!r.Device() || !pair.IsValid() || !grid || !ring) return;
    r.SetRenderTargets(r.Target(TARGET_NORMAL).surface, nullptr, 2);
    r.ClearTarget(CLEAR_TARGET, Vector(0, 0, 0, 0), 1.0f, 0);
    pair.Bind();
    r.SetTexture(0, coverage, kClampedLinear);
    const float w = static_cast<float>(r.RenderWidth() ? r.RenderWidth() : 1);
    const float h = static_cast<float>(r.RenderHeight() ? r.RenderHeight() : 1);
    const float d = params.dilatationKernelSize * 0.5f;
    const Vector vc[2] = {ClipToTexture(w, h), Vector(d / w, d / h, -d / w, d / h)};
    pair.SetVertexConstants(0, &vc[0].x, 2);
    const HDRColor* colours[4] = {&params.colorHostile, &params.colorFriendly, &params.colorNeutral, &params.colorHero};
    Vector pc[4];
    for (uint32_t i = 0; i < 4; ++i) {
        const Vector linear = colours[i]->ToLinearVector();
        pc[i] = linear * (linear.w * 0.2f);
    }
    pair.SetPixelConstants(0, &pc[0].x, 4);
    BindGrid();
    DrawList(0);
}

void OutlineRenderer::ReconstructOutlines(const OutlineParams& params, bool backBufferTarget) {
    VornexRenderer& r = gVornexRenderer;
    Device* device = r.Device();
    if (!device) return;
    r.SetColorWriteMask(15);
    const RenderTarget& backBuffer = r.Target(TARGET_BACKBUFFER_COLOR);
    const RenderTarget& lightA = r.Target(TARGET_LIGHT_0);
    const bool useBackBuffer = backBufferTarget && (backBuffer.surface || backBuffer.texture);
    Surface* coverage = useBackBuffer && backBuffer.surface ? backBuffer.surface : lightA.surface;
    const DeviceObjectHandle* coverageTexture = useBackBuffer && backBuffer.texture ? backBuffer.texture : lightA.texture;
    if (!coverage) return;
    r.SetRenderTargets(coverage, nullptr, 2);
    r.ClearTarget(CLEAR_TARGET, Vector(0, 0, 0, 0), 1.0f, 0);
    GenerateFromStencil();

    r.SetCullMode(CULL_NONE);
    r.SetAlphaTest(0, 0);
    r.SetBlendMode(0);
    r.SetDepthState(CMP_ALWAYS, 0, 0, 0);
    Surface* saved = nullptr;
    device->GetRenderTarget(0, &saved);
    const uint32_t savedFlags = r.RenderTargetFlags();
    r.ApplyViewport(0, 0, r.RenderWidth(), r.RenderHeight(), 0.0f, 1.0f);
    Dilate(params, coverageTexture);
    if (saved) {
        r.SetRenderTargets(saved, nullptr, savedFlags);
        saved->Release();
    }
    device->SetStreamSource(0, nullptr, 0, 0);
    r.DisableStencil();
    r.SetDepthState(CMP_LESSEQUAL, 0, 0, 0);
}

void OutlineRenderer::RenderOutlines(const OutlineParams& secondary) {
    VornexRenderer& r = gVornexRenderer;
    if (!allBits || !r.Device()) return;
    BuildIndexLists();
    ReconstructOutlines(secondary, true);
    const ShaderPair& pair = r.PostProcess().passShaders[r.BlockInForce().quality >= 2
                                                             ? PostProcessChain::PASS_OUTLINES_LOW_SPEC
                                                             : PostProcessChain::PASS_OUTLINES];
    if (!r.OutputSurface() || !pair.IsValid() || !grid || !ring) return;
    r.SetRenderTargets(r.OutputSurface(), nullptr, 3);  // sRGB write, the viewport kept
    pair.Bind();
    const float w = static_cast<float>(r.RenderWidth() ? r.RenderWidth() : 1);
    const float h = static_cast<float>(r.RenderHeight() ? r.RenderHeight() : 1);
    const Vector vc[2] = {ClipToTexture(w, h), Vector(0.5f / w, 0.5f / h, 0.5f / w, -0.5f / h)};
    pair.SetVertexConstants(0, &vc[0].x, 2);
    const Vector pc = OutlineSoftnessPair(secondary.softness);
    pair.SetPixelConstants(0, &pc.x, 1);
    r.SetCullMode(CULL_NONE);
    r.SetAlphaTest(0, 0);
    r.SetBlendMode(2);
    r.SetDepthState(CMP_ALWAYS, 0, 0, 0);
    r.SetTexture(0, r.Target(TARGET_NORMAL).texture, kClampedLinear);
    BindGrid();
    DrawList(0);
    r.SetBlendMode(0);
    r.Device()->SetIndices(nullptr);
}
