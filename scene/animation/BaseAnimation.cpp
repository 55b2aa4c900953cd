#include "scene/animation/BaseAnimation.h"

#include <cstring>

#include "engine/services/GameServices.h"
#include "scene/animation/AnimationSoundSyncObject.h"

AnimationPoseWorkspace* gMeshAnimationWorkspace = nullptr;
AnimationPoseWorkspace* gSFXMeshAnimationWorkspace = nullptr;

void AnimationPoseWorkspace::Reset(const Matrix& rootMatrix, const MeshHierarchy* posed, float scale) {
    entries.clear();
    root = rootMatrix;
    hierarchy = posed;
    treeNodeCounter = 0;
    animationScale = scale;
    matrices[kRootParent] = Matrix::IDENTITY;
}

BaseAnimation::BaseAnimation(uint64_t thread, const AnimationParams& startParams)
    : params(startParams), ownerThread(thread) {
    weight.current = 0.0f;  // a new animation fades in from nothing
    std::memset(trackToNode, kAnimationNoIndex, sizeof trackToNode);
    std::memset(nodeToTrack, kAnimationNoIndex, sizeof nodeToTrack);
    if (params.SyncObject) params.SyncObject->AddUse();
}

BaseAnimation::~BaseAnimation() {
    if (params.SyncObject) params.SyncObject->ReleaseUse();
}

void BaseAnimation::ReplaceParams(const AnimationParams& replacement) {
    AnimationSoundSyncObject* previous = params.SyncObject;
    if (replacement.SyncObject) replacement.SyncObject->AddUse();
    params = replacement;
    if (previous) previous->ReleaseUse();
}

const GameTimer* BaseAnimation::Clock() const { return customClock ? customClock : SelectAnimationClock(params.Flags); }

const GameTimer* SelectAnimationClock(uint32_t flags) {
    GameServices& game = GetGameServices();
    switch (flags & kAnimFlagClockMask) {
    case ANIMFLAG_GAMEPLAYTIME: return game.GetGameplayTimer();
    case ANIMFLAG_SMOOTHGAMEPLAYTIME: return game.GetSmoothGameplayTimer();
    case ANIMFLAG_SMOOTHGAMETIME: return game.GetSmoothGameTimer();
    default: return game.GetGameTimer();
    }
}

bool GetTrackPose(const BaseAnimation& animation, uint32_t node, Quaternion& rotation, Vector& translation,
                  Vector& scale) {
    if (node >= kAnimationNoIndex) return false;
    const uint8_t track = animation.NodeTrack(node);
    if (track == kAnimationNoIndex || track >= animation.BoundTrackCount()) return false;
    const AnimationPose& pose = animation.Pose(track);
    rotation = pose.rotation;
    translation = pose.translation;
    scale = pose.scale;
    return true;
}
