// The sun's shadow map (render thread, task 24).
//
// One orthographic depth map is fitted each frame to the part of the camera frustum
// above the scene's ground (the lowest height of the scene grid's box), snapped to whole
// texels so that shadow edges hold still while the camera moves. The casters come from
// the render-side scene grid cells under the fitted light box, each context drawn once
// (a per-pass stamp on the context), filtered by its caster bit, the frame's exclusion
// mask, its minimum quality, an oriented-box test against the light box, its hidden byte
// and the frame's visible layers. The lighting reads the matrices kept here until the
// next pass rewrites them.
#include <bit>
#include <cfloat>
#include <cmath>

#include "core/ThreadCheck.h"
#include "core/config/ProjectConfig.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/scene/RenderSceneGrid.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"

using namespace gfx;

namespace {

const SceneParametersWrapper* SceneSet() {
    return gRendererScene ? gRendererScene->GetCurrentParameters() : nullptr;
}

constexpr size_t kPrefetchAhead = 4;

enum class BoxSide { Outside, Inside, Unsure };

// The bounds in light space of a box placed by world: its centre and its three half-edge
// vectors carried through world and then the light's view (row vectors), the half sizes
// the sums of the edges' absolute parts.
BoundingBox4 LightSpaceBounds(const BoundingBox4& local, const Matrix& world, const Matrix& view) {
    const Vector centre = local.GetCenter(), half = local.GetExtent();
    float c[3], edge[3][3];
    for (int k = 0; k < 3; ++k) {
        c[k] = centre.x * world.r[0][k] + centre.y * world.r[1][k] + centre.z * world.r[2][k] + world.r[3][k];
        for (int i = 0; i < 3; ++i) edge[i][k] = half[i] * world.r[i][k];
    }
    float lc[3], extent[3];
    for (int j = 0; j < 3; ++j) {
        lc[j] = c[0] * view.r[0][j] + c[1] * view.r[1][j] + c[2] * view.r[2][j] + view.r[3][j];
        extent[j] = 0.0f;
        for (int i = 0; i < 3; ++i)
            extent[j] += std::fabs(edge[i][0] * view.r[0][j] + edge[i][1] * view.r[1][j] + edge[i][2] * view.r[2][j]);
    }
    return BoundingBox4(Vector(lc[0] - extent[0], lc[1] - extent[1], lc[2] - extent[2], 1.0f),
                        Vector(lc[0] + extent[0], lc[1] + extent[1], lc[2] + extent[2], 1.0f));
}

// A caster against the light box, which is axis-aligned in light space: bounds that miss
// it by more than margin are separated along one of the box's own face normals, and a
// centre inside it by more than margin means the two overlap. Only the cases near its
// faces need the full oriented test; the margin keeps these answers the full test's
// under rounding.
BoxSide SideOfLightBox(const BoundingBox4& lightBox, float margin, const BoundingBox4& bounds) {
    for (int i = 0; i < 3; ++i)
        if (bounds.min[i] > lightBox.max[i] + margin || bounds.max[i] < lightBox.min[i] - margin)
            return BoxSide::Outside;
    const Vector centre = bounds.GetCenter();
    for (int i = 0; i < 3; ++i)
        if (!(centre[i] > lightBox.min[i] + margin && centre[i] < lightBox.max[i] - margin)) return BoxSide::Unsure;
    return BoxSide::Inside;
}

float ShadowStrength() {
    const SceneParametersWrapper* set = SceneSet();
    return set ? set->Values().light.shadowStrength.x : 0.0f;
}

bool Finite(const Vector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

Vector VornexRenderer::PerpendicularAxis(const Vector& d) {
    const float ax = std::fabs(d.x), ay = std::fabs(d.y), az = std::fabs(d.z);
    Vector axis(0, 0, 1, 0);
    if (ay <= ax && ay <= az)
        axis = Vector(0, 1, 0, 0);
    else if (ax <= az)
        axis = Vector(1, 0, 0, 0);
    Vector out;
    out.Cross(d, axis);
    return out;
}

void VornexRenderer::ClipFrustumToGround(float g, Vector corners[8]) const {
    for (uint32_t i = 0; i < 8; ++i) {
        corners[i] = Vector((i & 1) ? 1.0f : -1.0f, (i & 2) ? 1.0f : -1.0f, (i & 4) ? 1.0f : 0.0f, 1.0f);
        corners[i].TransformHomogen(inverseViewProjection);
    }
    for (uint32_t i = 0; i < 4; ++i) {
        const Vector& n = corners[i];
        Vector& f = corners[i + 4];
        Vector d(f.x - n.x, f.y - n.y, f.z - n.z, 0.0f);
        const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        if (length > 0.0f) d = Vector(d.x / length, d.y / length, d.z / length, 0.0f);
        const float t = std::fabs(d.y) > FLT_MIN ? (g - n.y) / d.y : 1000.0f;
        if (g > f.y) f = Vector(n.x + t * d.x, n.y + t * d.y, n.z + t * d.z, 1.0f);
    }
}

bool VornexRenderer::FitShadowMap() {
    const SceneParametersWrapper* set = SceneSet();
    if (!set || !blockInForce.shadowMapSize) return false;
    const Vector& sun = set->Values().light.lightDirection;
    const Vector direction(sun.x, sun.y, sun.z, 0.0f);
    Matrix newView;
    newView.LoadLookAtLH(Vector(0, 0, 0, 1), direction, PerpendicularAxis(direction));

    Vector points[8];
    ClipFrustumToGround(sceneGrid ? sceneGrid->Box().min.y : 0.0f, points);
    Vector lo(FLT_MAX, FLT_MAX, FLT_MAX, 1), hi(-FLT_MAX, -FLT_MAX, -FLT_MAX, 1);
    for (Vector p : points) {
        p.TransformHomogen(newView);
        lo = Vector(std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z), 1);
        hi = Vector(std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z), 1);
    }
    float cx = (lo.x + hi.x) * 0.5f, cy = (lo.y + hi.y) * 0.5f;
    // Whole units of extent, and a centre moved by whole texels only.
    const float dx = std::ceil(hi.x - lo.x), dy = std::ceil(hi.y - lo.y);
    const float texel = 1.0f / static_cast<float>(blockInForce.shadowMapSize);
    cx -= std::fmod(cx, texel * dx);
    cy -= std::fmod(cy, texel * dy);
    const BoundingBox4 box(Vector(cx - dx * 0.5f, cy - dy * 0.5f, lo.z - 400.0f, 1),
                           Vector(cx + dx * 0.5f, cy + dy * 0.5f, hi.z, 1));
    if (!Finite(box.min) || !Finite(box.max) || !(dx > 0.0f) || !(dy > 0.0f) || !(box.max.z > box.min.z)) return false;

    lightView = newView;
    lightSpaceBox = box;
    lightProjection.LoadOrthoOffCenterLH(box.min.x, box.max.x, box.min.y, box.max.y, box.min.z, box.max.z);
    Matrix bias = Matrix::IDENTITY;
    bias.r[0].x = 0.5f;
    bias.r[1].y = -0.5f;
    bias.r[3] = Vector(0.5f, 0.5f, 0.0f, 1.0f);
    // Row-vector order: world x light view x light projection x bias.
    Matrix viewProjection;
    viewProjection.Mul(lightProjection, lightView);
    shadowTextureMatrix.Mul(bias, viewProjection);
    // View space x inverse view x the shadow texture matrix.
    cameraToShadowMatrix.Mul(shadowTextureMatrix, inverseView);
    lightInverse.Inverse(lightView);
    return true;
}

void VornexRenderer::DrawShadowCasters(uint32_t flags) {
    if (!sceneGrid || !sceneGrid->CellCount()) return;
    const uint32_t qualityLimit = (flags & 8u) ? 5u : blockInForce.quality;
    BoundingBox4 worldBox;
    worldBox.Transform3D(lightSpaceBox, lightInverse);
    const RenderSceneCellRange range = sceneGrid->GetCellRange(worldBox);
    if (++shadowPassStamp == 0) shadowPassStamp = 1;
    float reach = 1.0f;
    for (int i = 0; i < 3; ++i)
        reach = std::fmax(reach, std::fmax(std::fabs(lightSpaceBox.min[i]), std::fabs(lightSpaceBox.max[i])));
    const float margin = reach * 1e-3f;
    for (int32_t row = range.firstRow; row < range.endRow; ++row) {
        for (int32_t column = range.firstColumn; column < range.endColumn; ++column) {
            const std::vector<RenderSceneCellRecord>& records = sceneGrid->Cell(column, row).contexts;
            for (size_t i = 0; i < records.size(); ++i) {
                // The contexts lie apart in memory: their lines are asked for a few ahead.
                if (i + kPrefetchAhead < records.size() && records[i + kPrefetchAhead].context)
                    records[i + kPrefetchAhead].context->PrefetchPassFields();
                EntityRenderingContext* c = records[i].context;
                if (!c || !c->MarkPass(shadowPassStamp)) continue;
                if (!(c->KindFlags() & ERC_KIND_SHADOW_CASTER) || (c->ExclusionMask() & frameBlockRenderingMask) ||
                    c->MinimumQuality() > qualityLimit || c->Hidden())
                    continue;
                const uint8_t layer = c->Layer();
                if (!(frameVisibleLayers[layer >> 3] & (1u << (layer & 7)))) continue;
                const BoxSide side =
                    SideOfLightBox(lightSpaceBox, margin, LightSpaceBounds(c->LocalBox(), c->World(), lightView));
                if (side == BoxSide::Outside ||
                    (side == BoxSide::Unsure &&
                     !c->LocalBox().CollidesWithOtherBox3D(c->World(), lightSpaceBox, lightInverse)))
                    continue;
                c->DrawDepth(nullptr, flags);
            }
        }
    }
}

void VornexRenderer::RenderShadowMap(uint32_t flags) {
    if (!device) return;
    const uint32_t size = blockInForce.shadowMapSize;
    const float k = 2048.0f / static_cast<float>(size);
    const float depthBias = gProjectConfig ? gProjectConfig->depthBias : 0.01f;
    const float slopeBias = gProjectConfig ? gProjectConfig->slopeDepthBias : 0.02f;
    SetDepthState(CMP_LESSEQUAL, 1, std::bit_cast<uint32_t>(depthBias * k), std::bit_cast<uint32_t>(slopeBias * k));

    const uint32_t savedFlags = renderTargetFlags;
    const Viewport savedViewport = viewport;
    Surface* savedTarget = nullptr;
    device->GetRenderTarget(0, &savedTarget);
    SetRenderTargets(targets[TARGET_SHADOW_DUMMY].surface, nullptr, 2);
    device->SetDepthStencilSurface(targets[TARGET_SHADOW_MAP].surface);
    ApplyViewport(0, 0, size, size, 0.0f, 1.0f);
    ClearTarget(CLEAR_ZBUFFER, Vector(0, 0, 0, 0), 1.0f, 0);
    SetColorWriteMask(0);

    const Matrix savedView = view, savedProjection = projection, savedThird = thirdMatrix;
    SetCameraState(lightView, lightProjection, Matrix::IDENTITY, 0);

    DrawShadowCasters(flags);

    SetCameraState(savedView, savedProjection, savedThird, 0);
    SetDepthState(CMP_LESSEQUAL, 1, 0, 0);
    SetAlphaTest(0, 0);
    Surface* depth = needsResolve && targets[TARGET_MSAA_DEPTH].surface ? targets[TARGET_MSAA_DEPTH].surface
                                                                        : targets[TARGET_MAIN_DEPTH].surface;
    if (savedTarget) {
        SetRenderTargets(savedTarget, nullptr, savedFlags | 2u);
        renderTargetFlags = savedFlags;
        savedTarget->Release();
    }
    device->SetDepthStencilSurface(depth);
    depthInForce = depth;
    // Binding the target gave it its full viewport; a stored one comes back on top.
    if (savedViewport.width && savedViewport.height)
        ApplyViewport(savedViewport.x, savedViewport.y, savedViewport.width, savedViewport.height, savedViewport.minZ,
                      savedViewport.maxZ);
    else
        viewport = savedViewport;
    SetColorWriteMask(15);
}

void VornexRenderer::ShadowMapPass(uint32_t flags) {
    if (!blockInForce.shadowMap || !(ShadowStrength() > 0.0f)) return;
    if (!FitShadowMap()) return;
    RenderShadowMap(flags);
}

void VornexRenderer::RunShadowMapPass(uint32_t flags, uint8_t debug) {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    if (!targets[TARGET_SHADOW_MAP].surface || !targets[TARGET_SHADOW_MAP].texture ||
        !targets[TARGET_SHADOW_DUMMY].surface)
        return;
    ShadowMapPass(flags);
    if (debug) DrawShadowDebug(lightSpaceBox, lightInverse, Vector(0.4f, 1.0f, 0.4f, 1.0f));
}

bool VornexRenderer::GlobalLightShadowed(uint32_t passFlags) const {
    return !(passFlags & RENDER_PASS_NO_SHADOW_MASK) && blockInForce.shadowMap && targets[TARGET_SHADOW_MAP].surface &&
           targets[TARGET_SHADOW_MAP].texture && ShadowStrength() > 0.0f;
}
