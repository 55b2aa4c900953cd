#include "render/scene/EntityRenderingContext.h"

#include <algorithm>
#include <cstring>

#include "core/CrtRand.h"
#include "render/VornexRenderer_Local.h"
#include "render/scene/SceneCommand.h"

namespace {
RenderSceneGrid* CurrentGrid() { return gVornexRenderer.SceneGrid(); }

// The smallest range holding both (either may be empty).
RenderSceneCellRange Union(const RenderSceneCellRange& a, const RenderSceneCellRange& b) {
    if (a.Empty()) return b;
    if (b.Empty()) return a;
    return {std::min(a.firstColumn, b.firstColumn), std::min(a.firstRow, b.firstRow),
            std::max(a.endColumn, b.endColumn), std::max(a.endRow, b.endRow)};
}
}  // namespace

uint32_t EntityRenderingContext::BucketForRenderingClass(uint32_t renderingClass) {
    static constexpr uint32_t kBuckets[4] = {3, 5, 7, 13};
    return renderingClass < 4 ? kBuckets[renderingClass] : 3;
}

EntityRenderingContext::EntityRenderingContext(const EntityRenderingContextSetup& s)
    : exclusionMask(s.exclusionMask),
      kindFlags(s.kindFlags),
      minimumQuality(s.minimumQuality),
      layer(s.layer),
      hidden(s.hidden),
      mirrored(s.mirrored),
      world(s.world),
      localBox(s.localBox),
      inverseWorld(Matrix::IDENTITY),
      renderBucket(s.hasEntity ? BucketForRenderingClass(s.renderingClass) : 3),
      creationFlags(s.creationFlags),
      entityFloat(s.entityFloat),
      creationValue((s.creationFlags & 4u) >> 1),
      entityByte(s.entityByte),
      alignmentMode(s.alignmentMode),
      alignmentWeight(s.alignmentWeight),
      color(s.color),
      owner(s.owner),
      randomSeed(s.hasEntity ? s.randomId : static_cast<uint32_t>(CrtRand())),
      templateFloat(s.templateFloat) {
    inverseWorld.Inverse(world);
    for (uint32_t i = 0; i < ERC_PARAMETER_VECTORS; ++i)
        parameters[i] = i < 6 ? Vector(1, 1, 1, 0) : Vector(0, 0, 0, 0);
}

EntityRenderingContext::~EntityRenderingContext() { LeaveGrid(); }

void EntityRenderingContext::LeaveGrid() {
    RenderSceneGrid* grid = CurrentGrid();
    if (grid && cellGeneration == grid->Generation() && !cellRange.Empty())
        for (int32_t i = cellRange.firstColumn; i < cellRange.endColumn; ++i)
            for (int32_t j = cellRange.firstRow; j < cellRange.endRow; ++j)
                RenderSceneGrid::Remove(grid->Cell(i, j), this);
    cellRange = RenderSceneCellRange{};
}

void EntityRenderingContext::Refresh() {
    RenderSceneGrid* grid = CurrentGrid();
    if (!(creationFlags & ERC_FLAG_NO_GRID) && grid) {
        // A range remembered against an earlier grid build lists nothing in this one.
        const bool sameBuild = cellGeneration == grid->Generation();
        const RenderSceneCellRange old = sameBuild ? cellRange : RenderSceneCellRange{};
        BoundingBox4 worldBox;
        worldBox.Transform3D(localBox, world);
        const RenderSceneCellRange now = grid->GetCellRange(worldBox);
        if (!sameBuild || !(now == old)) {
            const RenderSceneCellRange walk = Union(old, now);
            for (int32_t i = walk.firstColumn; i < walk.endColumn; ++i) {
                for (int32_t j = walk.firstRow; j < walk.endRow; ++j) {
                    const bool inOld = old.Contains(i, j), inNew = now.Contains(i, j);
                    if (inNew && !inOld)
                        RenderSceneGrid::Insert(grid->Cell(i, j), {owner, this, sortValue});
                    else if (inOld && !inNew)
                        RenderSceneGrid::Remove(grid->Cell(i, j), this);
                }
            }
            cellRange = now;
            cellGeneration = grid->Generation();
        }
    }
    OnRefreshed();
}

void EntityRenderingContext::SetUITransform(const Matrix& matrix, bool flag) {
    world = matrix;
    visibility = flag && alignmentMode == 0 ? 1 : 0;
    Refresh();
}

void EntityRenderingContext::Render(void* task, const RenderTaskArguments& drawArguments) {
    lastDrawFrame = gVornexRenderer.CompletedFrames();
    if (alignmentMode == 0) {
        Draw(task, world, drawArguments);
        return;
    }
    Matrix aligned;
    aligned.LoadAlignedToTarget(world, alignmentMode, gVornexRenderer.CameraWorldMatrix(), alignmentWeight);
    Draw(task, aligned, drawArguments);
}

// ---------------------------------------------------------------------------------------
// Main thread

template <class... T>
void EntityRenderingContext::Post(uint32_t op, const T&... data) {
    PostObjectCall(&Execute, op, this, data...);
}

void EntityRenderingContext::PostRefresh() { Post(0); }
void EntityRenderingContext::PostRenderingParam(EntityRenderingContext* other) { Post(1, other); }
void EntityRenderingContext::Release() { Post(2); }
void EntityRenderingContext::PostTransform(const Matrix& m, const Matrix& inverse, uint8_t visible,
                                           const BoundingBox4& box) {
    Post(3, m, inverse, visible, box);
}
void EntityRenderingContext::PostSetLayer(uint8_t value) { Post(4, value); }
void EntityRenderingContext::PostSetAlignment(uint32_t mode, float weight) { Post(5, mode, weight); }
void EntityRenderingContext::PostSetColor(const Vector& value) { Post(6, value); }
void EntityRenderingContext::PostSetLocalColor(const Vector& value) { Post(7, value); }
void EntityRenderingContext::PostVisibleByte(uint8_t byte) { Post(8, byte); }
void EntityRenderingContext::PostSetBucket(uint32_t bucket) { Post(9, bucket); }
void EntityRenderingContext::PostSetScale(float value) { Post(10, value); }
void EntityRenderingContext::PostSetTemplateFloat(float value) { Post(11, value); }

// ---------------------------------------------------------------------------------------
// Render thread: the executor

void EntityRenderingContext::Execute(uint32_t op, CommandRingBuffer& r) {
    EntityRenderingContext* c = nullptr;
    if (!Read(r, c)) return;
    switch (op) {
        case 0:
            if (c) c->Refresh();
            break;
        case 1: {
            EntityRenderingContext* other = nullptr;
            if (Read(r, other) && c) c->renderBucket = other ? other->renderBucket : 0;
            break;
        }
        case 2:
            if (c) c->Destroy();
            break;
        case 3:
            if (!c) {
                Matrix m, inverse;
                uint8_t visible = 0;
                BoundingBox4 box;
                Read(r, m, inverse, visible, box);
            } else if (Read(r, c->world, c->inverseWorld, c->visibility, c->localBox)) {
                c->Refresh();
            }
            break;
        case 4: {
            uint8_t value = 0;
            if (Read(r, value) && c) c->layer = value;
            break;
        }
        case 5: {
            uint32_t mode = 0;
            float weight = 0.0f;
            if (Read(r, mode, weight) && c) c->alignmentMode = mode, c->alignmentWeight = weight;
            break;
        }
        case 6:
        case 7: {
            Vector value;
            if (Read(r, value) && c) (op == 6 ? c->color : c->localColor) = value;
            break;
        }
        case 8: {
            uint8_t value = 0;
            if (Read(r, value) && c) c->hidden = value == 0;
            break;
        }
        case 9: {
            uint32_t value = 0;
            if (Read(r, value) && c) c->renderBucket = value;
            break;
        }
        case 10:
        case 11: {
            float value = 0.0f;
            if (Read(r, value) && c) (op == 10 ? c->scale : c->templateFloat) = value;
            break;
        }
        default:
            break;  // unknown ops change nothing
    }
}
