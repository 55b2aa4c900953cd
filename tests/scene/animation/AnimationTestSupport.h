#pragma once
// Test animations and hierarchies for the pose tests: an animation holding fixed poses for
// chosen nodes at a weight the test sets, and a hierarchy builder.
#include <map>
#include <string>
#include <vector>

#include "scene/animation/BaseAnimation.h"
#include "scene/mesh/MeshData.h"

namespace animtest {

struct NodePose {
    float q[4];  // x, y, z, w
    float t[3];
    float s[3];
};

// Poses nodes with fixed values; the weight stays where the test puts it.
class FixedPoseAnimation : public BaseAnimation {
public:
    FixedPoseAnimation(std::map<uint32_t, NodePose> nodePoses, bool procedural = false)
        : BaseAnimation(1, AnimationParams()), fixed(std::move(nodePoses)) {
        params.AttackTime = 0.0f;
        if (procedural) state |= ANIMSTATE_PROCEDURAL;
    }
    void Bind(const MeshHierarchy&, uint32_t, uint32_t) override {
        poses.clear();
        for (const auto& [node, p] : fixed) {
            trackToNode[poses.size()] = uint8_t(node);
            nodeToTrack[node] = uint8_t(poses.size());
            poses.push_back({Quaternion(p.q[0], p.q[1], p.q[2], p.q[3]), Vector(p.t[0], p.t[1], p.t[2], 0),
                             Vector(p.s[0], p.s[1], p.s[2], 0)});
        }
    }
    void Evaluate(AnimationPoseWorkspace&, const MeshHierarchy&) override { ++evaluations; }
    void SetWeight(float w) {
        weight.active = false;
        weight.current = w;
    }
    int evaluations = 0;
    std::map<uint32_t, NodePose> fixed;
};

inline void SetMatrix(MeshHierarchy& h, uint32_t index, const Matrix& m) {
    if (h.matrices.size() < size_t(index + 1) * 16) h.matrices.resize(size_t(index + 1) * 16, 0.0f);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) h.matrices[size_t(index) * 16 + r * 4 + c] = m.r[r][c];
}

}  // namespace animtest
