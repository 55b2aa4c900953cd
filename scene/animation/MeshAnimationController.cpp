#include "scene/animation/MeshAnimationController.h"

#include "scene/mesh/MeshData.h"

namespace {
int64_t Now(const BaseAnimation& animation) {
    const GameTimer* clock = animation.Clock();
    return clock ? clock->Time() : 0;
}
}  // namespace

MeshAnimationController::MeshAnimationController(const MeshHierarchy& h)
    : hierarchy(h), channelCount(uint32_t(h.treeNodes.size())), channels(new AnimationChannel[channelCount]) {}

MeshAnimationController::~MeshAnimationController() {
    for (uint32_t c = 0; c < channelCount; ++c) {
        AnimationChannel& channel = channels[c];
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
    AnimationChannel& channel = channels[treeNode];
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
        a.params = params;
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
