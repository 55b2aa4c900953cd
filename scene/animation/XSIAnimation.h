#pragma once
// XSIAnimation: plays a keyframed clip (ResourceAnimation) on a hierarchy. Each bound
// track samples its rotation, translation and scale keys at the quantised progress,
// through per-channel key cursors that move forward with time and restart from the
// first key when time goes back.
#include <cstdint>
#include <vector>

#include "scene/animation/BaseAnimation.h"

class XSIAnimation : public BaseAnimation {
public:
    // Holds a use of the resource; time = min(length, StartTimeOffset).
    XSIAnimation(uint64_t ownerThread, ResourceAnimation* resource, const AnimationParams& params, float length);
    ~XSIAnimation() override;

    // Tracks bind by name, each search starting after the previous match and wrapping to
    // node 0, so that tracks in hierarchy order bind in one pass.
    void Bind(const MeshHierarchy& hierarchy, uint32_t treeNode, uint32_t firstNode) override;
    void Evaluate(AnimationPoseWorkspace& workspace, const MeshHierarchy& hierarchy) override;

    float Time() const { return time; }
    float Length() const { return length; }
    uint16_t Cursor(uint32_t boundTrack, uint32_t channel) const { return cursors[boundTrack].key[channel]; }

private:
    struct BoundTrack {
        uint32_t clipTrack;
        uint32_t firstKey;
    };
    struct Cursors {
        uint16_t key[3];
    };

    std::vector<BoundTrack> bound;
    std::vector<Cursors> cursors;
    ResourceAnimation* resource;
    float length;
    float time;
};
