// MeshEntity: the animation half (controller lifetime, channel calls by tree-node name,
// mounting, node queries, posing and the palette posted to the rendering context).
#include "scene/animation/MeshEntityAnimation.h"

#include "core/Log.h"
#include "platform/os/Thread.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/ProceduralTargetingAnimation.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"

namespace {

constexpr uint32_t kEntityFlagAnimated = 0x8;

int32_t TreeNodeOf(const MeshAnimationController* c, const char* node) {
    return c ? c->Hierarchy().FindAnimationTreeNode(NameString(node ? node : "")) : -1;
}

const char* EntityNameOf(const Entity* e) { return e && e->GetName() ? e->GetName() : ""; }

}  // namespace

void MeshEntity::DeleteAnimationController() {
    if (!controller) return;
    delete controller;
    controller = nullptr;
    ClearFlag(kEntityFlagAnimated, false);
}

void MeshEntity::RecreateAnimationController() {
    DeleteAnimationController();
    const MeshTemplate* t = GetMeshTemplate();
    const MeshHierarchy* h = t ? t->GetHierarchy() : nullptr;
    if (!h || h->NodeCount() == 0 || h->BoneCount() == 0) return;
    controller = new MeshAnimationController(*h);
    RaiseFlag(kEntityFlagAnimated, false);
}

bool MeshEntity::StartAnimation(const char* node, const char* animation, const AnimationParams* params) {
    const MeshTemplate* t = GetMeshTemplate();
    return controller && t && controller->StartAnimation(*t, node, animation, params);
}

bool MeshEntity::StartAnimationByIndex(const char* node, int32_t index, const AnimationParams* params) {
    const MeshTemplate* t = GetMeshTemplate();
    return controller && t && controller->StartAnimationByIndex(*t, node, index, params);
}

ProceduralTargetingAnimation* MeshEntity::StartProceduralTargetingAnimation(const char* node, uint32_t flags) {
    if (!controller) return nullptr;
    AnimationParams params;
    params.Flags = flags;
    params.AttackTime = 0.0f;
    auto* animation = new ProceduralTargetingAnimation(os::CurrentThreadId(), params);
    const int32_t treeNode = TreeNodeOf(controller, node);
    if (treeNode < 0) {
        gLog.Warning(LogCategory::Engine, "Cannot start animation because the node %s cannot be found", node ? node : "");
        delete animation;
        return nullptr;
    }
    controller->AddAnimation(uint32_t(treeNode), animation);
    return animation;
}

bool MeshEntity::StopAnimation(const char* node, int32_t id, float fade) {
    const int32_t treeNode = TreeNodeOf(controller, node);
    if (treeNode < 0) return false;
    controller->StopAnimations(uint32_t(treeNode), id, fade);
    return true;
}

bool MeshEntity::StopAllAnimations(const char* node, float fade) { return StopAnimation(node, -1, fade); }

bool MeshEntity::SetAnimationSpeedMultiplier(const char* node, int32_t id, float speed) {
    const int32_t treeNode = TreeNodeOf(controller, node);
    if (treeNode < 0) return false;
    controller->SetSpeedMultiplier(uint32_t(treeNode), id, speed);
    return true;
}

bool MeshEntity::SetAnimationProgress(const char* node, int32_t id, float progress) {
    const int32_t treeNode = TreeNodeOf(controller, node);
    if (treeNode < 0) return false;
    controller->SetProgress(uint32_t(treeNode), id, progress);
    return true;
}

bool MeshEntity::SetAnimationTimeFlags(const char* node, int32_t id, uint32_t flags) {
    const int32_t treeNode = TreeNodeOf(controller, node);
    if (treeNode < 0) return false;
    controller->SetTimeFlags(uint32_t(treeNode), id, flags);
    return true;
}

void MeshEntity::SetRootAnimProgress(float progress) {
    rootProgressOverride = progress;
    if (!controller || controller->ChannelCount() == 0) return;
    const AnimationChannelList& channel = controller->Channel(0);
    for (uint32_t i = 0; i < channel.Count(); ++i) {
        BaseAnimation* a = channel[i].Get();
        if (a && !a->IsStopping()) {
            a->params.OverrideProgress = progress;
            return;
        }
    }
}

bool MeshEntity::MountEntity(const char* node, Entity* child, const Matrix& offset) {
    if (!child) return false;
    const char* nodeName = node ? node : "";
    if (child->GetParent() != this) {
        gLog.Error(LogCategory::Engine, "Cannot mount %s to %s in %s because only children can be mounted", EntityNameOf(child),
                   nodeName, EntityNameOf(this));
        return false;
    }
    if (!controller) {
        gLog.Error(LogCategory::Engine, "Cannot mount %s to %s in %s because %s has no hierarchy", EntityNameOf(child), nodeName,
                   EntityNameOf(this), EntityNameOf(this));
        return false;
    }
    return controller->MountEntity(node, child, offset);
}

bool MeshEntity::MountEntity(int32_t node, Entity* child, const Matrix& offset) {
    if (!child) return false;
    if (child->GetParent() != this) {
        gLog.Error(LogCategory::Engine, "Cannot mount %s to %s because only children can be mounted", EntityNameOf(child),
                   EntityNameOf(this));
        return false;
    }
    if (!controller) {
        gLog.Error(LogCategory::Engine, "Cannot mount %s to %s because %s has no hierarchy", EntityNameOf(child), EntityNameOf(this),
                   EntityNameOf(this));
        return false;
    }
    return controller->MountEntity(node, child, offset);
}

void MeshEntity::UnmountEntity(Entity* child) {
    if (controller) controller->UnmountEntity(child);
}

bool MeshEntity::SetMountedEntityOffset(Entity* child, const Matrix& offset) {
    return controller && controller->SetMountedEntityOffset(child, offset);
}

// Mounted children are children: moving the entity carries them along, so a pose already
// evaluated this frame stands (evaluating again would advance the clips a second time).
void MeshEntity::UpdateMountedObjects() { Animate(0); }

int32_t MeshEntity::GetHierarchySubobjectIndex(const char* name) const {
    const MeshTemplate* t = GetMeshTemplate();
    const MeshHierarchy* h = t ? t->GetHierarchy() : nullptr;
    return h ? h->FindNode(NameString(name ? name : "")) : -1;
}

Matrix MeshEntity::GetLocalHierarchyPosition(int32_t node) {
    const MeshTemplate* t = GetMeshTemplate();
    if (!controller || !t) return Matrix::IDENTITY;
    return controller->GetNodeMatrix(node, GetGlobalLocationMatrix(), t->xsiAnimationScale);
}

void MeshEntity::GetGlobalHierarchyPosition(int32_t node, Matrix& out) {
    const Matrix local = GetLocalHierarchyPosition(node);
    out.Mul(GetGlobalLocationMatrix(), local);
}

void MeshEntity::GetGlobalHierarchyPositionVector(int32_t node, Vector& out) {
    Matrix m;
    GetGlobalHierarchyPosition(node, m);
    out = m.r[3];
}

void MeshEntity::Animate(uint32_t) {
    const MeshTemplate* t = GetMeshTemplate();
    if (!controller || !t || !t->GetHierarchy() || !gMeshAnimationWorkspace) return;
    controller->EvaluatePose(*gMeshAnimationWorkspace, GetGlobalLocationMatrix(), t->xsiAnimationScale);
    if (auto* c = static_cast<MeshEntityRenderingContext*>(GetRenderingContext()))
        c->PostBones(controller->Palette(), controller->BoneCount());
}

// ---- Replication of the root animation ---------------------------------------------

namespace {

// Channel 0's first animation not stopping.
const BaseAnimation* RootAnimation(const MeshAnimationController* c) {
    if (!c || c->ChannelCount() == 0) return nullptr;
    const AnimationChannelList& channel = c->Channel(0);
    for (uint32_t i = 0; i < channel.Count(); ++i) {
        const BaseAnimation* a = channel[i].Get();
        if (a && !a->IsStopping()) return a;
    }
    return nullptr;
}

// The encoded state of a root animation whose index fits in seven bits.
void EncodeRootAnimation(const BaseAnimation& a, uint8_t bytes[3]) {
    MPAnimValue value;
    value.attackTime = a.params.AttackTime;
    value.index = uint8_t(a.params.AnimIndex);
    value.loop = a.params.Loops() ? 1 : 0;
    EncodeMPAnimData(bytes, value, a.progress);
}

}  // namespace

void MeshEntity::SetAnimationReplication(Entity* target, uint8_t animation, uint8_t progress) {
    replicationTarget.Assign(target);
    animationProperty = animation;
    progressProperty = progress;
}

uint32_t MeshEntity::GetReplicatedEncAnimData() {
    const BaseAnimation* a = RootAnimation(controller);
    if (!a || a->params.AnimIndex < 0 || a->params.AnimIndex >= 128) return 0;
    uint8_t bytes[3];
    EncodeRootAnimation(*a, bytes);
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16;
}

void MeshEntity::UpdateReplicatedAnimData() {
    Entity* target = replicationTarget.Get();
    if (!target || !controller) return;
    Animate(0);
    const BaseAnimation* a = RootAnimation(controller);
    if (!a || a->params.AnimIndex < 0) return;
    // Seven bits carry the index: a larger one would arrive as another animation.
    if (a->params.AnimIndex >= 128) {
        if (!replicationWarned)
            gLog.Warning(LogCategory::Engine, "Animation index %d of %s cannot be replicated", a->params.AnimIndex,
                         EntityNameOf(this));
        replicationWarned = true;
        return;
    }
    // The target receives the state as the three bytes carry it.
    uint8_t bytes[3];
    EncodeRootAnimation(*a, bytes);
    MPAnimValue value;
    value.index = bytes[0] & 0x7F;
    value.loop = bytes[0] >> 7;
    value.attackTime = bytes[1] / 255.0f;
    target->MPPropSetAnim(animationProperty, value);
    target->MPPropSetFloat(progressProperty, bytes[2] / 255.0f, 0);
}

void MeshEntity::OnReplicatedAnim(uint32_t property) {
    const MPAnimValue value = MPPropGetAnim(property);
    if (value.index == 255 || value.index == lastReplicatedAnimation) return;
    AnimationParams params;
    params.Flags = ANIMFLAG_SMOOTHGAMEPLAYTIME | (value.loop ? uint32_t(ANIMFLAG_LOOP) : 0u);
    params.AttackTime = value.attackTime;
    params.AutoFinishTime = 0.2f;
    params.SpeedMultiplier = 1.0f;
    params.OverrideProgress = rootProgressOverride;
    lastReplicatedAnimation = value.index;
    StartAnimationByIndex("root", value.index, &params);
}

void MeshEntity::OnReplicatedAnimProgress(uint32_t property) { SetRootAnimProgress(MPPropGetFloat(property)); }

// ---- What the engine's entities ask of a mesh parent ----------------------------------------------------------

namespace {

MeshEntity* AnimatedMeshOf(Entity* e) {
    for (const RTTIClass* c = e ? e->GetRTTIClass() : nullptr; c; c = c->Base())
        if (c == MeshEntity::RegisterClass()) return static_cast<MeshEntity*>(e);
    return nullptr;
}

}  // namespace

bool SetMeshAnimationReplication(Entity* e, bool enable, uint32_t animation, uint32_t progress) {
    MeshEntity* m = AnimatedMeshOf(e);
    if (!m) return false;
    m->SetAnimationReplication(enable ? e : nullptr, uint8_t(animation), uint8_t(progress));
    return true;
}

void UnmountFromMesh(Entity* parent, Entity* child) {
    if (MeshEntity* m = AnimatedMeshOf(parent)) m->UnmountEntity(child);
}

void RemountOnMesh(Entity* parent, Entity* child) {
    MeshEntity* m = AnimatedMeshOf(parent);
    if (!m || !child || !*child->GetMountBone()) return;
    m->UnmountEntity(child);
    m->MountEntity(child->GetMountBone(), child, child->GetMountLocation());
}
