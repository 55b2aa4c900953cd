// The scene render list: the frustum gather over the entity grid and the submission of
// the gathered entities to the renderer.
#include "engine/SceneRenderList.h"

#include <algorithm>
#include <cstring>

#include "core/math/BoundingBox4.h"
#include "core/profiler/Profiler.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntitySpatialGrid.h"
#include "render/VornexRenderer.h"
#include "render/scene/DebugPathList.h"

SceneRenderList* gSceneRenderList = nullptr;

namespace {
constexpr uint32_t kOptionHelperBit1 = 2, kOptionHelperBit2 = 4;
constexpr uint32_t kOptionAllVisibleLayers = 8, kOptionEditorExclusions = 16;
constexpr uint32_t kHelperFlag1 = 0x1000, kHelperFlag2 = 0x2000;
constexpr uint32_t kExcludedFlags = 0x10, kEditorExcludedFlags = 0x800012;
constexpr uint32_t kAllLayersDetailLimit = 5;
constexpr uint32_t kRenderFlagHelpers = 8;
constexpr uint32_t kRenderableList = 1;  // the grid list of entities with a rendering context

uint32_t WithHelperFlags(uint32_t flags, uint32_t options) {
    if (options & kOptionHelperBit1) flags |= kHelperFlag1;
    if (options & kOptionHelperBit2) flags |= kHelperFlag2;
    return flags;
}
}  // namespace

SceneRenderList::SceneRenderList() : visited(kVisitedBits / 64), debugPaths(new DebugPathList) {
    static_assert(kVisitedBits == kMaxLiveEntities);
}

SceneRenderList::~SceneRenderList() { delete debugPaths; }

void SceneRenderList::Build(uint32_t options, uint32_t excludeMask) {
    gathered.clear();
    if (!gEntityManager || !gVornexRenderer.CameraInvertible()) return;
    Frustum frustum;
    std::memcpy(frustum.planes, gVornexRenderer.FrustumPlanes(), sizeof frustum.planes);
    EntitySpatialGrid& grid = gEntityManager->GetSpatialGrid();
    const EntityCellRange range = grid.GetCellRange(gVornexRenderer.FrustumBox());
    if (range.IsEmpty()) return;

    uint32_t layers[kLayerMaskWords];
    uint32_t limit;
    if (options & kOptionAllVisibleLayers) {
        EntityLayerSystem::BuildVisibleLayerMask(layers);
        limit = kAllLayersDetailLimit;
    } else {
        EntityLayerSystem::BuildInGameVisibleLayerMask(layers);
        limit = gVornexRenderer.QualityLevel();
    }
    uint32_t excluded = kExcludedFlags;
    if (options & kOptionEditorExclusions) {
        excluded = kEditorExcludedFlags;
        uint32_t frozen[kLayerMaskWords];
        EntityLayerSystem::BuildFrozenLayerMask(frozen);
        for (uint32_t w = 0; w < kLayerMaskWords; ++w) layers[w] &= ~frozen[w];
    }

    std::fill(visited.begin(), visited.end(), 0);
    for (int32_t z = range.z0; z < range.z1; ++z) {
        for (int32_t x = range.x0; x < range.x1; ++x) {
            const EntityGridCell* cell = grid.Cell(x, z);
            if (!grid.CellBox(x, z).IntersectsFrustum(frustum)) continue;
            const EntityGridList& list = cell->lists[kRenderableList];
            for (uint32_t i = 0; i < list.count; ++i) {
                const EntityGridEntry& entry = list.entries[i];
                if (entry.key >= kVisitedBits) continue;
                uint64_t& word = visited[entry.key >> 6];
                const uint64_t bit = uint64_t(1) << (entry.key & 63);
                if (word & bit) continue;
                word |= bit;
                Entity* e = entry.entity;
                const uint8_t layer = e->GetLayer();
                if (!(layers[layer >> 5] & (1u << (layer & 31)))) continue;
                if (e->GetFlags() & excluded) continue;
                if (e->GetBlockRenderingMask() & excludeMask) continue;
                if (e->GetMinimumQualityLevel() > limit) continue;
                if (!e->GetLocalBoundingBox().IntersectsFrustumTransformed(frustum, e->GetGlobalLocationMatrix()))
                    continue;
                gathered.push_back(e);
            }
        }
    }
}

void SceneRenderList::MarkEntities(uint32_t renderFlags, uint32_t options) {
    const uint32_t flags = WithHelperFlags(renderFlags, options);
    for (Entity* e : gathered) e->SubmitHelperRendering(flags);
}

void SceneRenderList::GatherEntity(uint32_t renderFlags, uint32_t options, uint8_t clear, const Vector& clearColor) {
    const uint32_t flags = WithHelperFlags(renderFlags, options);
    gVornexRenderer.PostResetFrameGather();
    for (Entity* e : gathered) {
        if (e->GetFlags() & kLatePassEntityFlag) {
            late.push_back(e);
            continue;
        }
        e->SubmitForRendering(flags);
        if (flags & kRenderFlagHelpers) e->SubmitHelperRendering(flags);
    }
    gVornexRenderer.PostRenderPassFlags(clearColor, flags, clear);
    gProfiler.SetValue(PROFILE_VISIBLE_ENTITIES, float(gathered.size()), PROFILER_THREAD_MAIN);
}

void SceneRenderList::Submit(uint32_t renderFlags) {
    if (late.empty()) return;
    gVornexRenderer.PostResetFrameGather();
    for (Entity* e : late) {
        e->SubmitForRendering(renderFlags);
        if (renderFlags & kRenderFlagHelpers) e->SubmitHelperRendering(renderFlags);
    }
    gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 0), renderFlags | kLatePassFlags, 0);
}

void SceneRenderList::Reset() {
    gathered.clear();
    late.clear();
}

void SceneRenderList::SetView(const float values[6]) { std::memcpy(view, values, sizeof view); }

void SceneRenderList::PostRelease() { debugPaths->PostRelease(); }

void SceneRenderList::PostPerFrameOperation() { debugPaths->PostDraw(); }
