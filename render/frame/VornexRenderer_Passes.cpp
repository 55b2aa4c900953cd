// The frame pass driver (render thread).
//
// Each frame the main thread opens a gather (task 48), registers the frame's lights
// (task 46) and submits one render task per visible rendering context (task 69). The
// gather fills fixed arrays sized with the device: 1280 forward task records with their
// sort keys, 8192 deferred meshes, 1024 outlined entities and 512 lights. Task 49 then
// runs RenderScene: the outline gathering, a stable counting sort of the forward tasks
// into 14 buckets, the clear, the scene constants, the game delegate's scene hook, the
// deferred pre-pass (geometry into the normal and linear-depth targets, the lighting
// into the light buffers, the compose and the third pass) and the forward pass, which
// draws the buckets in order, each under its own stencil state and sorted farthest
// first from bucket 2 on.
//
// Nothing here allocates per frame. A full array drops further entries, and each kind
// of overflow is reported once per pass when the gather closes.
#include <algorithm>
#include <bit>
#include <cmath>

#include "core/Log.h"
#include "core/ThreadCheck.h"
#include "render/GameRenderServices.h"
#include "render/SceneDrawServices.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/PostProcessChain.h"

using namespace gfx;

namespace {

// The draw colours of the scene parameters in force: the deferred meshes get the
// "Diffuse color multiplier", the forward tasks the "SFX color multiplier".
Vector SceneDrawVector(bool deferred) {
    const SceneParametersWrapper* set = gRendererScene ? gRendererScene->GetCurrentParameters() : nullptr;
    if (!set) return Vector(1, 1, 1, 1);
    const SceneParameterRest& rest = set->Values().rest;
    return (deferred ? rest.diffuseColorMultiplier : rest.sfxColorMultiplier).ToLinearVector();
}

// The stencil and colour-write state of each forward bucket. A negative colour mask and
// a zero function leave that part of the state as the previous bucket left it.
struct BucketState {
    bool sorted;
    uint32_t mode;
    int32_t colorWrites;
    uint32_t pass, fail, zFail;
    uint32_t function, reference, mask, writeMask;
};
constexpr uint32_t K = STENCILOP_KEEP, R = STENCILOP_REPLACE;
constexpr BucketState kBucketStates[kRenderBucketCount] = {
    {false, 0, 0, R, R, R, CMP_ALWAYS, 255, 97, 97},      // 0
    {false, 0, 0, R, R, R, CMP_ALWAYS, 255, 33, 33},      // 1
    {true, 0, -1, K, K, K, CMP_EQUAL, 0, 64, 0},          // 2
    {true, 3, -1, 0, 0, 0, 0, 0, 0, 0},                   // 3
    {true, 0, -1, K, K, K, CMP_EQUAL, 64, 64, 0},         // 4
    {true, 0, -1, 0, 0, 0, 0, 0, 0, 0},                   // 5
    {true, 0, -1, R, R, K, CMP_EQUAL, 192, 64, 128},      // 6
    {true, 0, -1, 0, 0, 0, 0, 0, 0, 0},                   // 7
    {true, 0, -1, R, R, K, CMP_NOTEQUAL, 0, 96, 128},     // 8
    {true, 0, -1, 0, 0, 0, 0, 0, 0, 0},                   // 9
    {true, 0, -1, 0, 0, 0, 0, 0, 0, 0},                   // 10
    {true, 0, -1, 0, 0, 0, 0, 0, 0, 0},                   // 11
    {true, 0, -1, K, K, K, CMP_EQUAL, 128, 128, 0},       // 12
    {true, 0, -1, 0, 0, 0, 0, 0, 0, 0},                   // 13
};
// Buckets after which the stencil goes off.
constexpr uint32_t kStencilOffAfter = (1u << 0) | (1u << 1) | (1u << 2) | (1u << 4) | (1u << 6) | (1u << 8) | (1u << 12);

// Farthest first; equal keys in submission order, so a recording is reproducible.
bool DrawsBefore(const RenderSortKey& a, const RenderSortKey& b) {
    return a.key != b.key ? a.key > b.key : a.index < b.index;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Gathering (tasks 46, 48, 69)

void VornexRenderer::ResetFrameGather() {
    taskCount = deferredCount = outlinedCount = lightCount = 0;
    taskOverflow = false;
    gathering = true;
}

RenderTaskRecord* VornexRenderer::AllocRenderTask() {
    if (taskCount >= renderTasks.size()) {
        taskOverflow = true;
        return nullptr;
    }
    return &renderTasks[taskCount++];
}

void VornexRenderer::AddDeferredMesh(EntityRenderingContext* context, uint32_t flags) {
    if (deferredCount < deferredMeshes.size()) deferredMeshes[deferredCount++] = {context, flags};
}

void VornexRenderer::AddOutlinedEntity(EntityRenderingContext* context, uint32_t flags) {
    if (outlinedCount < outlinedEntities.size()) outlinedEntities[outlinedCount++] = {context, flags};
}

void VornexRenderer::AddLight(RendererLight* light) {
    if (light && lightCount < lights.size()) lights[lightCount++] = light;
}

void VornexRenderer::ForgetLight(const RendererLight* light) {
    // The gathered lights, and never past the list (a full list holds lights.size()).
    const size_t count = std::min<size_t>(lightCount, lights.size());
    for (size_t i = 0; i < count; ++i)
        if (lights[i] == light) lights[i] = nullptr;
}

bool VornexRenderer::TaskRegisterLight(CommandRingBuffer& r) {
    RendererLight* light = nullptr;
    if (!Read(r, light)) return false;
    if (gathering) AddLight(light);
    return true;
}

void VornexRenderer::ComputeSortKey(uint32_t index, const EntityRenderingContext& context) {
    const Vector& camera = inverseView.r[3];
    const Vector& forward = inverseView.r[2];
    const Vector p = context.LocalBox().GetNearestPoint(camera, renderTasks[index].world);
    const float distance = (p.x - camera.x) * forward.x + (p.y - camera.y) * forward.y + (p.z - camera.z) * forward.z;
    const float key = distance + 10000.0f + context.EntityFloat();
    sortKeys[index] = {key > 0.0f && std::isfinite(key) ? std::bit_cast<uint32_t>(key) : 0u, index};
}

void VornexRenderer::SubmitRenderTaskOnRenderThread(EntityRenderingContext* context, uint32_t flags) {
    if (!context) return;
    if (!gathering) {
        RenderTaskArguments arguments;
        arguments.vector = Vector(0, 0, 0, 0);
        arguments.flags = flags;
        arguments.pass = 16;
        arguments.mode = 0;
        context->Render(nullptr, arguments);
        return;
    }
    if (flags & RENDER_FLAG_DEFERRED_ANY) AddDeferredMesh(context, flags);
    if (flags & RENDER_FLAG_FORWARD) {
        if (RenderTaskRecord* record = AllocRenderTask()) {
            record->world = context->World();
            record->context = context;
            record->flags = flags;
            record->bucket = context->Bucket();
            ComputeSortKey(static_cast<uint32_t>(record - renderTasks.data()), *context);
        }
    }
    if ((flags & RENDER_FLAG_OUTLINE) && (context->OutlineCategory(flags) & outlineTypeMask))
        AddOutlinedEntity(context, flags);
}

// ---------------------------------------------------------------------------------------
// Sorting

void VornexRenderer::SortRenderTasks() {
    // A bucket beyond the table (op 9 stores any number) is never drawn.
    std::fill(std::begin(bucketCount), std::end(bucketCount), 0u);
    for (uint32_t i = 0; i < taskCount; ++i)
        if (renderTasks[i].bucket < kRenderBucketCount) ++bucketCount[renderTasks[i].bucket];
    bucketStart[0] = 0;
    for (uint32_t b = 0; b + 1 < kRenderBucketCount; ++b) bucketStart[b + 1] = bucketStart[b] + bucketCount[b];
    std::fill(std::begin(bucketCount), std::end(bucketCount), 0u);
    for (uint32_t i = 0; i < taskCount; ++i) {
        const uint32_t b = renderTasks[i].bucket;
        if (b < kRenderBucketCount) sortedKeys[bucketStart[b] + bucketCount[b]++] = sortKeys[i];
    }
}

bool VornexRenderer::SetBucketState(uint32_t bucket, uint32_t* mode) {
    const BucketState& s = kBucketStates[bucket < kRenderBucketCount ? bucket : kRenderBucketCount - 1];
    if (s.colorWrites >= 0) SetColorWriteMask(static_cast<uint32_t>(s.colorWrites));
    if (s.pass) SetStencilOps(s.pass, s.fail, s.zFail);
    if (s.function) SetStencilFunc(s.function, s.reference, s.mask, s.writeMask);
    if (mode) *mode = s.mode;
    return s.sorted;
}

// ---------------------------------------------------------------------------------------
// The passes

void VornexRenderer::RenderForwardPass(uint32_t passFlags) {
    if (taskCount == 0) {
        DisableStencil();
        return;
    }
    RenderTaskArguments arguments;
    arguments.vector = SceneDrawVector(false);
    arguments.pass = 1;
    for (uint32_t b = 0; b < kRenderBucketCount; ++b) {
        const uint32_t count = bucketCount[b];
        if (!(bucketEnableMask & (1u << b)) || count == 0) continue;
        RenderSortKey* first = sortedKeys.data() + bucketStart[b];
        if (SetBucketState(b, &arguments.mode)) std::sort(first, first + count, DrawsBefore);
        for (uint32_t i = 0; i < count; ++i) {
            RenderTaskRecord& task = renderTasks[first[i].index];
            arguments.flags = task.flags;
            task.context->Render(&task, arguments);
        }
        if (b <= 1) SetColorWriteMask(15);
        if (kStencilOffAfter & (1u << b)) DisableStencil();
    }
    DisableStencil();
}

void VornexRenderer::RenderDeferredPrePass(uint32_t passFlags) {
    // Without its normal target the pass would clear whatever target is bound.
    if (!device || !targets[TARGET_NORMAL].surface) return;
    const uint32_t outputFlags = renderTargetFlags;
    Surface* const linearDepth = hardwareDepth ? nullptr : targets[TARGET_LINEAR_DEPTH].surface;
    // Linear depth starts at the far end.
    if (linearDepth) {
        SetRenderTargets(linearDepth, nullptr, 0);
        ClearTarget(CLEAR_TARGET, Vector(1, 1, 1, 1), 1.0f, 0);
    }
    Surface* const normal = targets[TARGET_NORMAL].surface;
    SetRenderTargets(normal, nullptr, 0);
    if (needsResolve) {
        // The multisampled depth does not fit the normal target: the main one does.
        device->SetDepthStencilSurface(targets[TARGET_MAIN_DEPTH].surface);
        depthInForce = targets[TARGET_MAIN_DEPTH].surface;
        ClearTarget(CLEAR_TARGET | CLEAR_ZBUFFER | CLEAR_STENCIL, Vector(0, 0, 0, 0), 1.0f, 0);
    } else {
        ClearTarget(CLEAR_TARGET | CLEAR_STENCIL, Vector(0, 0, 0, 0), 1.0f, 0);
    }
    SetRenderTargets(normal, linearDepth, 0);
    if (deferredCount == 0 && !needsResolve) {
        // Nothing to light or compose. The targets above keep their empty contents for
        // the passes that read them later (depth of the forward pass and the chain, the
        // outline band over the normal target), but the full-screen lighting, whose
        // stencil test would reject every pixel, is not drawn at all. The light buffers
        // are only meaningful under deferred meshes; A is marked for its clear as the
        // global light marks it. The states the forward pass meets are those the
        // compose leaves.
        lightBufferClearMark = true;
        SetCullMode(CULL_NONE);
        SetAlphaTest(0, 0);
        SetTexture(2, nullptr, 0);
        SetTexture(6, nullptr, 0);
        SetTexture(7, nullptr, 0);
        SetRenderTargets(outputSurface, nullptr, outputFlags);
        ApplyFullViewport();
        SetBlendMode(0);
        SetDepthState(CMP_LESSEQUAL, 1, 0, 0);
        DisableStencil();
        return;
    }

    // Geometry: every drawn pixel gets stencil bit 0.
    SetBlendMode(0);
    SetDepthState(CMP_LESSEQUAL, 1, 0, 0);
    SetStencilOps(STENCILOP_REPLACE, STENCILOP_REPLACE, STENCILOP_REPLACE);
    SetStencilFunc(CMP_ALWAYS, 255, 1, 1);
    RenderTaskArguments arguments;
    arguments.vector = SceneDrawVector(true);
    auto drawMeshes = [&](uint32_t kind, uint32_t pass, uint32_t mode) {
        GetSceneDrawServices().BeginMeshDrawBatch(pass, mode);
        arguments.pass = pass;
        arguments.mode = mode;
        for (uint32_t i = 0; i < deferredCount; ++i) {
            if (!(deferredMeshes[i].flags & kind)) continue;
            arguments.flags = deferredMeshes[i].flags;
            deferredMeshes[i].context->Render(nullptr, arguments);
        }
        GetSceneDrawServices().FlushMeshDrawBatch(passFlags);
    };
    drawMeshes(RENDER_FLAG_DEFERRED, 2, 3);

    // "Lighting": only where the geometry marked the stencil.
    SetStencilOps(STENCILOP_KEEP, STENCILOP_KEEP, STENCILOP_KEEP);
    SetStencilFunc(CMP_EQUAL, 1, 1, 1);
    const bool occlusion = AmbientOcclusionDue(passFlags);
    RenderGlobalLight(!(passFlags & RENDER_PASS_NO_SHADOW_MASK), occlusion);
    RenderLights();
    SetTexture(2, nullptr, 0);
    SetTexture(6, nullptr, 0);
    DisableStencil();
    if (occlusion) RenderAmbientOcclusion();

    // "Compose": the deferred meshes read the light buffers.
    const uint32_t lightFlags = LightBufferSamplerFlags();
    SetTexture(6, targets[TARGET_LIGHT_0].texture, lightFlags);
    SetTexture(7, targets[TARGET_LIGHT_1].texture, lightFlags);
    SetRenderTargets(outputSurface, nullptr, outputFlags);
    if (needsResolve) {
        device->SetDepthStencilSurface(targets[TARGET_MSAA_DEPTH].surface);
        depthInForce = targets[TARGET_MSAA_DEPTH].surface;
    }
    ApplyFullViewport();
    SetBlendMode(0);
    SetDepthState(CMP_LESSEQUAL, 1, 0, 0);
    drawMeshes(RENDER_FLAG_DEFERRED, 4, 0);
    SetTexture(6, nullptr, 0);
    SetTexture(7, nullptr, 0);

    // The third pass of the meshes that ask for it.
    SetStencilOps(STENCILOP_REPLACE, STENCILOP_REPLACE, STENCILOP_REPLACE);
    SetStencilFunc(CMP_ALWAYS, 255, 0, 0);
    drawMeshes(RENDER_FLAG_DEFERRED_THIRD, 8, 1);
    DisableStencil();
}

void VornexRenderer::RenderScene(const Vector& clearColour, uint32_t passFlags, uint8_t clear) {
    ASSERT_ON_THREAD(ThreadId(), "render thread");
    if (!(passFlags & RENDER_PASS_SKIP_OUTLINES)) GatherOutlines(blockInForce.outlines ? outlineTypeMask : 0);
    SortRenderTasks();
    if (clear && device) {
        SetRenderTargets(targets[TARGET_SCENE_COLOR].surface, nullptr, renderTargetFlags);
        device->SetDepthStencilSurface(targets[TARGET_MAIN_DEPTH].surface);
        depthInForce = targets[TARGET_MAIN_DEPTH].surface;
        ClearTarget(CLEAR_TARGET | CLEAR_ZBUFFER | CLEAR_STENCIL, clearColour, 1.0f, 0);
    }
    SetSceneConstants(static_cast<uint8_t>(passFlags & 0xFFu));
    if (gameDelegate) GetGameRenderServices().RenderScenePass(gameDelegate);
    if (!(passFlags & RENDER_PASS_SKIP_DEFERRED)) RenderDeferredPrePass(passFlags);
    SetStencilOps(STENCILOP_REPLACE, STENCILOP_REPLACE, STENCILOP_REPLACE);
    SetStencilFunc(CMP_ALWAYS, 255, 0, 0);
    RenderForwardPass(passFlags);

    gathering = false;
    if (deferredCount >= kFrameDeferredMeshes)
        gLog.Error(LogCategory::Resources,
                   "Too many deferred meshes visible at once. Please kick the nearest programmer's butt and ask him to "
                   "increase the buffer size or develop a better solution.");
    if (outlinedCount >= kFrameOutlinedEntities)
        gLog.Error(LogCategory::Resources,
                   "Too many outlined entities visible at once. Please kick the nearest programmer's butt and ask him "
                   "to increase the buffer size or develop a better solution.");
    if (taskOverflow)
        gLog.Error(LogCategory::Resources, "Too many gathered render tasks. Certain objects will not display at all.");
}

// ---------------------------------------------------------------------------------------
// Outlines: the frame's outlined entities into the outline cell grid (tasks 25 and 26
// and the gathering of task 49).

void VornexRenderer::GatherOutlines(uint32_t mask) {
    OutlineCandidate candidates[kFrameOutlinedEntities];
    uint32_t count = 0;
    if (mask) {
        for (uint32_t i = 0; i < outlinedCount; ++i) {
            const GatheredContext& e = outlinedEntities[i];
            candidates[count++] = {&e.context->LocalBox(), &e.context->World(), e.context->OutlineCategory(e.flags)};
        }
    }
    postProcess->Outlines().GatherEntities(mask, count, candidates);
}

void VornexRenderer::BeginOutlineGather() { postProcess->Outlines().Clear(); }

void VornexRenderer::RenderOutlines() { postProcess->Outlines().RenderOutlines(postProcess->SecondaryOutlineParams()); }

void VornexRenderer::RunScenePasses(const Vector& clearColour, uint32_t passFlags, uint8_t clear) {
    RenderScene(clearColour, passFlags, clear);
}
