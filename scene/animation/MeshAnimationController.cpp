#include "scene/animation/MeshAnimationController.h"

#include <cstring>

#include "core/Log.h"
#include "engine/entity/Entity.h"
#include "platform/os/Thread.h"
#include "render/resources/ResourceAnimation.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"

namespace {
int64_t Now(const BaseAnimation& animation) {
    const GameTimer* clock = animation.Clock();
    return clock ? clock->Time() : 0;
}
}  // namespace

MeshAnimationController::MeshAnimationController(const MeshHierarchy& h)
    : hierarchy(h),
      boneCount(h.BoneCount()),
      palette(new float[size_t(boneCount) * 12]),
      channelCount(uint32_t(h.treeNodes.size())),
      channels(new AnimationChannelList[channelCount]) {
    static const float kIdentityRows[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    for (uint32_t b = 0; b < boneCount; ++b) std::memcpy(&palette[size_t(b) * 12], kIdentityRows, sizeof kIdentityRows);
}

MeshAnimationController::~MeshAnimationController() {
    UnmountEntity(nullptr);
    for (uint32_t c = 0; c < channelCount; ++c) {
        AnimationChannelList& channel = channels[c];
        for (uint32_t i = 0; i < channel.Count(); ++i) {
            if (BaseAnimation* a = channel[i].Get()) {
                a->state &= ~ANIMSTATE_PLAYING;
                delete a;
            }
        }
        channel.Clear();
    }
}

void MeshAnimationController::FadeWeight(BaseAnimation& animation, float target, float seconds) {
    const int64_t now = Now(animation);
    animation.weight.Update(now);
    animation.weight.Start(now, target, seconds, 0);
}

void MeshAnimationController::Stop(BaseAnimation& animation, float fade) {
    if (animation.IsStopping()) return;
    animation.state |= ANIMSTATE_STOPPING;
    FadeWeight(animation, 0.0f, fade);
}

template <class F>
void MeshAnimationController::ForId(uint32_t treeNode, int32_t id, F f) {
    if (treeNode >= channelCount) return;
    AnimationChannelList& channel = channels[treeNode];
    for (uint32_t i = 0; i < channel.Count(); ++i) {
        BaseAnimation* a = channel[i].Get();
        if (a && (id == -1 || a->params.Id == id)) f(*a);
    }
}

void MeshAnimationController::AddAnimation(uint32_t treeNode, BaseAnimation* animation) {
    if (!animation) return;
    if (treeNode >= channelCount) {
        delete animation;
        return;
    }
    if (!(animation->params.Flags & ANIMFLAG_KEEPOTHERS)) StopAnimations(treeNode, -1, animation->params.AttackTime);
    animation->state |= ANIMSTATE_PLAYING;
    FadeWeight(*animation, 1.0f, animation->params.AttackTime);
    channels[treeNode].Add(SafePointer<BaseAnimation>(animation));
    animation->Bind(hierarchy, treeNode, hierarchy.treeNodes[treeNode].firstNode);
    ClearEvaluationStamp();
}

bool MeshAnimationController::RestartSame(uint32_t treeNode, const AnimationParams& params) {
    bool found = false;
    ForId(treeNode, params.Id, [&](BaseAnimation& a) {
        if (a.IsStopping()) {
            if (!(a.params.Flags & ANIMFLAG_LOOP)) return;
            a.state &= ~ANIMSTATE_STOPPING;
            a.weight.Update(Now(a));
            FadeWeight(a, 1.0f, (1.0f - a.weight.current) * params.AttackTime);
        }
        a.ReplaceParams(params);
        found = true;
    });
    if (found && !(params.Flags & ANIMFLAG_KEEPOTHERS)) {
        ForId(treeNode, -1, [&](BaseAnimation& a) {
            if (a.params.Id == params.Id || a.IsStopping()) return;
            a.weight.Update(Now(a));
            Stop(a, (1.0f - a.weight.current) * params.AttackTime);
        });
    }
    return found;
}

void MeshAnimationController::StopAnimations(uint32_t treeNode, int32_t id, float fade) {
    ForId(treeNode, id, [&](BaseAnimation& a) { Stop(a, fade); });
}

void MeshAnimationController::SetSpeedMultiplier(uint32_t treeNode, int32_t id, float speed) {
    ForId(treeNode, id, [&](BaseAnimation& a) { a.params.SpeedMultiplier = speed; });
}

void MeshAnimationController::SetProgress(uint32_t treeNode, int32_t id, float progress) {
    ForId(treeNode, id, [&](BaseAnimation& a) { a.params.OverrideProgress = progress; });
}

void MeshAnimationController::SetTimeFlags(uint32_t treeNode, int32_t id, uint32_t flags) {
    ForId(treeNode, id, [&](BaseAnimation& a) {
        a.params.Flags = (a.params.Flags & ~kAnimFlagClockMask) | (flags & kAnimFlagClockMask);
    });
}

bool MeshAnimationController::StartAnimation(const MeshTemplate& meshTemplate, const char* node, const char* animation,
                                             const AnimationParams* params) {
    const int32_t index = meshTemplate.FindAnimationDefinition(animation);
    if (index < 0) {
        gLog.Error(LogCategory::Engine, "Animation %s not found in %s", animation ? animation : "",
                   meshTemplate.GetName() ? meshTemplate.GetName() : "");
        return false;
    }
    return StartAnimationByIndex(meshTemplate, node, index, params);
}

bool MeshAnimationController::StartAnimationByIndex(const MeshTemplate& meshTemplate, const char* node, int32_t index,
                                                    const AnimationParams* params) {
    const std::vector<Resource*>& resources = meshTemplate.GetAnimationResources();
    if (index < 0 || uint32_t(index) >= meshTemplate.animations.Count() || uint32_t(index) >= resources.size() ||
        !resources[uint32_t(index)])
        return false;
    AnimationParams start = params ? *params : AnimationParams();
    if (start.Id == -1) start.Id = index;
    start.AnimIndex = index;
    const int32_t treeNode = hierarchy.FindAnimationTreeNode(NameString(node ? node : ""));
    if ((start.Flags & ANIMFLAG_IGNORESAME) && treeNode >= 0 && RestartSame(uint32_t(treeNode), start)) return false;
    auto* animation = new XSIAnimation(os::CurrentThreadId(), static_cast<ResourceAnimation*>(resources[uint32_t(index)]),
                                       start, meshTemplate.animations[uint32_t(index)].time);
    if (treeNode < 0) {
        gLog.Warning(LogCategory::Engine, "Cannot start animation because the node %s cannot be found", node ? node : "");
        delete animation;
        return false;
    }
    AddAnimation(uint32_t(treeNode), animation);
    return true;
}

bool MeshAnimationController::MountEntity(const char* node, Entity* child, const Matrix& offset) {
    if (!child) return false;
    if (child->GetMountFlags() & ENTITY_MOUNTED_TO_BONE) {
        gLog.Error(LogCategory::Engine, "Entity %s has already been mounted to some other entity", child->GetName());
        return false;
    }
    const int32_t index = hierarchy.FindNode(NameString(node ? node : ""));
    if (index < 0) {
        gLog.Error(LogCategory::Engine, "Cannot mount entity %s because %s cannot be found", child->GetName(),
                   node ? node : "");
        return false;
    }
    return MountEntity(index, child, offset);
}

bool MeshAnimationController::MountEntity(int32_t node, Entity* child, const Matrix& offset) {
    if (!child) return false;
    if (node < 0 || uint32_t(node) >= hierarchy.NodeCount()) {
        gLog.Error(LogCategory::Engine, "Cannot mount entity to bone with %d index", node);
        return false;
    }
    if (child->GetMountFlags() & ENTITY_MOUNTED_TO_BONE) {
        gLog.Error(LogCategory::Engine, "Entity %s has already been mounted to some other entity", child->GetName());
        return false;
    }
    child->SetMountFlags(ENTITY_MOUNTED_TO_BONE, true);
    Mount mount;
    mount.offset = offset;
    mount.entity.Assign(child);
    mount.node = node;
    mounts.Add(mount);
    ClearEvaluationStamp();
    return true;
}

void MeshAnimationController::UnmountEntity(Entity* child) {
    for (uint32_t i = mounts.Count(); i-- > 0;) {
        Entity* e = mounts[i].entity.Get();
        if (child && e != child) continue;
        if (e) e->SetMountFlags(ENTITY_MOUNTED_TO_BONE, false);
        mounts.Remove(i);
    }
}

bool MeshAnimationController::SetMountedEntityOffset(Entity* child, const Matrix& offset) {
    for (uint32_t i = 0; i < mounts.Count(); ++i) {
        if (child && mounts[i].entity.Get() == child) {
            mounts[i].offset = offset;
            ClearEvaluationStamp();
            return true;
        }
    }
    return false;
}

void MeshAnimationController::ApplyMounts(const Matrix& entityGlobal, const Matrix* nodeMatrices, uint32_t nodeCount) {
    for (uint32_t i = 0; i < mounts.Count();) {
        Entity* child = mounts[i].entity.Get();
        if (!child) {
            mounts.Remove(i);
            continue;
        }
        Matrix m;
        const uint32_t node = uint32_t(mounts[i].node);
        m.Mul(entityGlobal, node < nodeCount ? nodeMatrices[node] : Matrix::IDENTITY);
        m.Mul(mounts[i].offset);
        child->SetGlobalLocationMatrix(m);
        ++i;
    }
}
