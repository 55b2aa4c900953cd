// MeshAnimationController: pose evaluation (the tree-node walk, weights, blending, the
// palette) and the node-matrix cache.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/Log.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/mesh/MeshData.h"

namespace {

Matrix PoseNodeMatrix(const MeshHierarchy& h, uint32_t index) {
    const float* f = h.matrices.data() + size_t(index) * 16;
    return Matrix(Vector(f[0], f[1], f[2], f[3]), Vector(f[4], f[5], f[6], f[7]), Vector(f[8], f[9], f[10], f[11]),
                  Vector(f[12], f[13], f[14], f[15]));
}

// The weights of the entries at node k: innermost tree node first, each group taking its
// weights out of what the deeper groups left over.
void ComputeWeights(AnimationPoseWorkspace& w, uint32_t k) {
    float remaining = 1.0f;
    for (size_t i = w.entries.size(); i > 0;) {
        const uint32_t group = w.entries[i - 1].treeNode;
        float sum = 0.0f;
        for (; i > 0 && w.entries[i - 1].treeNode == group; --i) {
            AnimationPoseEntry& e = w.entries[i - 1];
            float weight = e.animation->weight.current;
            if ((e.animation->state & ANIMSTATE_PROCEDURAL) && k != e.firstNode) weight = 0.0f;
            if (!std::isfinite(weight)) weight = 0.0f;
            e.weight = weight * remaining;
            e.active = e.weight > 0.0f;
            sum += weight;
        }
        remaining *= std::max(0.0f, 1.0f - sum);
    }
}

uint64_t CurrentStamp() { return (uint64_t(uint32_t(GetLogFrameNumberB())) << 32) | uint32_t(GetLogFrameNumberA()); }

}  // namespace

void MeshAnimationController::EvaluateNode(AnimationPoseWorkspace& w, uint32_t k) {
    Quaternion rotation;
    Vector translation, scale;
    float sum = 0.0f;
    bool posed = false;
    for (const AnimationPoseEntry& e : w.entries) {
        if (!e.active) continue;
        const uint8_t track = e.animation->NodeTrack(k);
        if (track >= e.animation->BoundTrackCount()) continue;
        const AnimationPose& pose = e.animation->Pose(track);
        const Quaternion& r = pose.rotation;
        const Vector& t = pose.translation;
        const Vector& s = pose.scale;
        // A non-finite value would spread through every node below.
        if (!std::isfinite(r.x + r.y + r.z + r.w + t.x + t.y + t.z + s.x + s.y + s.z)) continue;
        if (!posed) {
            rotation = r, translation = t, scale = s;
            sum = e.weight;
            posed = true;
            continue;
        }
        sum += e.weight;
        const float f = e.weight / sum;
        rotation.Slerp(rotation, r, f);
        translation = translation * (1.0f - f) + t * f;
        scale = scale * (1.0f - f) + s * f;
    }
    const Matrix bind = PoseNodeMatrix(hierarchy, k);
    Matrix local = bind;
    if (posed) {
        Matrix pose;
        pose.LoadQuaternionTranslationAndScale(rotation, translation, scale);
        local.Mul(bind, pose);
    }
    const uint8_t parent = hierarchy.nodes[k].parent;
    const Matrix& parentMatrix = w.matrices[parent < k ? parent : AnimationPoseWorkspace::kRootParent];
    w.matrices[k].Mul(parentMatrix, local);
    const int8_t bone = int8_t(hierarchy.nodes[k].bone);
    if (bone >= 0 && uint32_t(bone) < boneCount) {
        Matrix skin, transposed;
        skin.Mul(w.matrices[k], PoseNodeMatrix(hierarchy, hierarchy.NodeCount() + uint32_t(bone)));
        transposed.LoadTransposed(skin);
        // Finite inputs can still overflow: such a row never reaches the palette.
        const Vector& a = transposed.r[0];
        const Vector& b = transposed.r[1];
        const Vector& c = transposed.r[2];
        if (std::isfinite(a.x + a.y + a.z + a.w + b.x + b.y + b.z + b.w + c.x + c.y + c.z + c.w))
            std::memcpy(&palette[size_t(bone) * 12], &transposed, 48);
    }
}

void MeshAnimationController::EvaluateRange(AnimationPoseWorkspace& w, uint32_t from, uint32_t to, bool& procedural) {
    if (from >= to) return;
    ComputeWeights(w, from);
    EvaluateNode(w, from);
    if (procedural && from + 1 < to) {
        ComputeWeights(w, from + 1);
        procedural = false;
    }
    for (uint32_t k = from + 1; k < to; ++k) EvaluateNode(w, k);
}

void MeshAnimationController::ProcessTreeNode(AnimationPoseWorkspace& w, uint32_t treeNode) {
    const MeshAnimationTreeNode& tn = hierarchy.treeNodes[treeNode];
    const uint32_t channelIndex = w.treeNodeCounter++;
    const size_t mark = w.entries.size();
    bool procedural = false;
    if (channelIndex < channelCount) {
        AnimationChannelList& channel = channels[channelIndex];
        for (uint32_t i = 0; i < channel.Count(); ++i) {
            BaseAnimation* a = channel[i].Get();
            if (!a) continue;
            a->Evaluate(w, hierarchy);
            if (a->IsStopping() && !a->weight.active) {
                a->state &= ~ANIMSTATE_PLAYING;
                delete a;  // the channel's safe pointer clears itself
            } else if (a->weight.current > 0.0f) {
                w.entries.push_back({a, treeNode, tn.firstNode, 0.0f, false});
                if (a->state & ANIMSTATE_PROCEDURAL) procedural = true;
            }
        }
        for (uint32_t i = channel.Count(); i-- > 0;)
            if (!channel[i].Get()) channel.Remove(i);
    }
    // Nodes past the posable count (255) keep the matrices they had.
    const uint32_t end = std::min<uint32_t>(tn.firstNode + tn.nodeCount, std::min<uint32_t>(hierarchy.NodeCount(), 255));
    uint32_t k = tn.firstNode;
    for (uint32_t c = tn.firstChild; c < hierarchy.treeNodes.size(); c = hierarchy.treeNodes[c].nextSibling) {
        const MeshAnimationTreeNode& child = hierarchy.treeNodes[c];
        EvaluateRange(w, k, std::min(end, child.firstNode), procedural);
        ProcessTreeNode(w, c);
        k = std::max(k, child.firstNode + child.nodeCount);
    }
    EvaluateRange(w, k, end, procedural);
    w.entries.resize(mark);
}

void MeshAnimationController::EvaluatePose(AnimationPoseWorkspace& w, const Matrix& root, float scale) {
    const uint64_t stamp = CurrentStamp();
    const uint64_t stored = (uint64_t(evaluationFrame) << 32) | evaluationTick;
    if (stamp != 0 && stamp == stored) return;
    evaluationFrame = uint32_t(stamp >> 32);
    evaluationTick = uint32_t(stamp);
    w.Reset(root, &hierarchy, scale);
    if (!hierarchy.treeNodes.empty()) ProcessTreeNode(w, 0);
    const uint32_t posed = std::min<uint32_t>(hierarchy.NodeCount(), 255);
    ApplyMounts(root, w.matrices, posed);
    for (uint32_t i = 0; i < nodeCache.Count(); ++i) {
        const int32_t node = nodeCache[i].node;
        nodeCache[i].matrix = uint32_t(node) < posed ? w.matrices[node] : Matrix::IDENTITY;
    }
}

Matrix MeshAnimationController::GetNodeMatrix(int32_t node, const Matrix& root, float scale) {
    if (node < 0 || uint32_t(node) >= hierarchy.NodeCount()) return Matrix::IDENTITY;
    const auto before = [](const NodeCacheRecord& r, int32_t n) { return r.node < n; };
    const uint32_t lo =
        static_cast<uint32_t>(std::lower_bound(nodeCache.begin(), nodeCache.end(), node, before) - nodeCache.begin());
    if (lo == nodeCache.Count() || nodeCache[lo].node != node) {
        NodeCacheRecord record;
        record.matrix = Matrix::IDENTITY;
        record.node = node;
        nodeCache.Insert(record, lo);
        ClearEvaluationStamp();
    }
    if (gMeshAnimationWorkspace) EvaluatePose(*gMeshAnimationWorkspace, root, scale);
    return nodeCache[lo].matrix;
}
