#pragma once
// MeshAnimationController: the animation state of one mesh entity. One channel per
// animation-tree node of the template's hierarchy, each a list of the animations playing
// on that node's range; the channel rules (add, stop, restart of the same Id, speed,
// progress and time flags) live here. The controller owns its animations.
//
// Main thread only (the entity's thread).
#include <cstdint>
#include <memory>

#include "core/Dynarray.h"
#include "core/math/Matrix.h"
#include "core/rtti/SafePointer.h"
#include "scene/animation/BaseAnimation.h"

class Entity;
class MeshHierarchy;
class MeshTemplate;

using AnimationChannelList = DynarraySafe<SafePointer<BaseAnimation>>;

class MeshAnimationController {
public:
    explicit MeshAnimationController(const MeshHierarchy& hierarchy);
    // Deletes every animation of every channel, its playing bit cleared first.
    ~MeshAnimationController();
    MeshAnimationController(const MeshAnimationController&) = delete;
    MeshAnimationController& operator=(const MeshAnimationController&) = delete;

    const MeshHierarchy& Hierarchy() const { return hierarchy; }
    uint32_t ChannelCount() const { return channelCount; }
    const AnimationChannelList& Channel(uint32_t treeNode) const { return channels[treeNode]; }

    // Starts the template's animation definition of that name (case-insensitive) on the
    // channel of the animation-tree node named node; "Animation %s not found in %s" when
    // the template has none of that name.
    bool StartAnimation(const MeshTemplate& meshTemplate, const char* node, const char* animation,
                        const AnimationParams* params);
    // The start by definition index: the index must have a loaded animation resource.
    // Parameters are the given ones or the defaults; Id -1 becomes the index. With
    // ANIMFLAG_IGNORESAME an animation of that Id already in the channel is restarted
    // instead (false, nothing created); otherwise a new XSIAnimation plays the definition's
    // "Time" on the calling thread. An unknown node logs "Cannot start animation because
    // the node %s cannot be found" and gives false.
    bool StartAnimationByIndex(const MeshTemplate& meshTemplate, const char* node, int32_t index,
                               const AnimationParams* params);

    // Takes the animation: unless it keeps the others, stops every animation of the
    // channel over its AttackTime; then fades it in from its weight to 1 over AttackTime,
    // appends it, binds it to the tree node and clears the evaluation stamp.
    void AddAnimation(uint32_t treeNode, BaseAnimation* animation);
    // The restart of ANIMFLAG_IGNORESAME for every animation of params.Id: a stopping one
    // that loops is revived over (1 - weight) x AttackTime, a stopping one that does not
    // loop is left alone; the others take the new parameters. When one was found and
    // params keeps no others, every other animation not stopping is stopped over
    // (1 - its weight) x AttackTime. True when one was found.
    bool RestartSame(uint32_t treeNode, const AnimationParams& params);
    // Every animation of the channel with that Id (-1: all) not already stopping.
    void StopAnimations(uint32_t treeNode, int32_t id, float fade);
    void SetSpeedMultiplier(uint32_t treeNode, int32_t id, float speed);
    void SetProgress(uint32_t treeNode, int32_t id, float progress);
    // Replaces the clock bits (4 to 7) of Flags, keeping the others.
    void SetTimeFlags(uint32_t treeNode, int32_t id, uint32_t flags);

    // Stopping with fade f: the weight fades to 0 over f (at once when f <= 0); the
    // channel walk deletes the animation when the fade has ended.
    static void Stop(BaseAnimation& animation, float fade);
    // Fades the weight from its present value (brought up to the animation's clock).
    static void FadeWeight(BaseAnimation& animation, float target, float seconds);

    // Mounting a child entity on a hierarchy node: refused (false, one error) when the
    // child is already mounted ("Entity %s has already been mounted to some other
    // entity") or the node is unknown ("Cannot mount entity %s because %s cannot be
    // found"; by index: "Cannot mount entity to bone with %d index" for an index below 0
    // or at or past the node count). A mount sets the child's ENTITY_MOUNTED_TO_BONE.
    bool MountEntity(const char* node, Entity* child, const Matrix& offset = Matrix::IDENTITY);
    bool MountEntity(int32_t node, Entity* child, const Matrix& offset = Matrix::IDENTITY);
    // Null: every mount.
    void UnmountEntity(Entity* child);
    bool SetMountedEntityOffset(Entity* child, const Matrix& offset = Matrix::IDENTITY);
    uint32_t MountCount() const { return mounts.Count(); }
    // Places every mounted child at Mul(entity global, node matrix) then x offset, given
    // the model-space node matrices; records whose child is gone are dropped.
    void ApplyMounts(const Matrix& entityGlobal, const Matrix* nodeMatrices, uint32_t nodeCount);

    // The frame and tick of the last pose evaluation (the engine's two frame counters);
    // 0 forces the next one, and so does a stamp of 0 (before the first frame).
    uint32_t evaluationFrame = 0;
    uint32_t evaluationTick = 0;
    void ClearEvaluationStamp() { evaluationFrame = evaluationTick = 0; }

    // Poses every node once per frame: the animations of every channel blended by weight
    // (deeper tree nodes over their ancestors), the node matrices in the workspace, the
    // bone palette, then the mounts (placed under root) and the node-matrix cache.
    //
    // Between two children of a tree node (and after the last) the weights are computed
    // afresh for the first node of each range, so that a child's group never scales the
    // nodes of its parent that lie outside it.
    void EvaluatePose(AnimationPoseWorkspace& workspace, const Matrix& root, float scale);

    // The skinning palette: one transposed 3 x 4 matrix (12 floats) a bone; the identity
    // until posed.
    uint32_t BoneCount() const { return boneCount; }
    const float* Palette() const { return palette.get(); }

    // The model-space matrix of a node, posed this frame (evaluated with root when the
    // stamp asks for it); the identity for a node below 0 or past the node count.
    Matrix GetNodeMatrix(int32_t node, const Matrix& root, float scale);
    uint32_t CachedNodeCount() const { return nodeCache.Count(); }
    int32_t CachedNode(uint32_t i) const { return nodeCache[i].node; }

    // The skinned collision vertices (float3, stride 12) of the present scratch generation.
    const float* skinnedVertices = nullptr;
    uint32_t skinnedGeneration = 0;

private:
    template <class F>
    void ForId(uint32_t treeNode, int32_t id, F f);

    struct Mount {
        Matrix offset;
        SafePointer<Entity> entity;
        int32_t node = -1;
    };

    struct NodeCacheRecord {
        Matrix matrix;
        int32_t node = 0;
    };

    void ProcessTreeNode(AnimationPoseWorkspace& w, uint32_t treeNode);
    void EvaluateRange(AnimationPoseWorkspace& w, uint32_t from, uint32_t to, bool& procedural);
    void EvaluateNode(AnimationPoseWorkspace& w, uint32_t node);

    const MeshHierarchy& hierarchy;
    uint32_t boneCount;
    std::unique_ptr<float[]> palette;
    DynarraySafe<Mount> mounts;
    DynarraySafe<NodeCacheRecord> nodeCache;
    uint32_t channelCount;
    std::unique_ptr<AnimationChannelList[]> channels;
};
