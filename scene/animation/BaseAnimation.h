#pragma once
// BaseAnimation: what every animation on a mesh entity's channels has: state bits, the
// start parameters, the weight fade, progress, one 48-byte pose per bound track, an
// optional custom clock and the maps between bound tracks and hierarchy nodes.
// XSIAnimation plays a keyframed clip (ResourceAnimation).
//
// Threads: an animation is used by its owner thread only. The time bits of Flags pick
// one of the Game's clocks, which only the main thread reads; an animation evaluated on
// another thread is given a custom clock instead.
#include <cstdint>
#include <vector>

#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "core/rtti/SafePointer.h"
#include "engine/services/GameTimer.h"
#include "engine/tween/Fade.h"
#include "scene/animation/AnimationParams.h"

class MeshHierarchy;
class ResourceAnimation;

class BaseAnimation;

// One animation taking part in a pose evaluation: its tree node, the first hierarchy node
// of that tree node, and the weight it has at the node being evaluated.
struct AnimationPoseEntry {
    BaseAnimation* animation = nullptr;
    uint32_t treeNode = 0;
    uint32_t firstNode = 0;
    float weight = 0.0f;
    bool active = false;
};

// The scratch state of one pose evaluation: the entries of the animations in force, the
// root (the entity's global matrix), the hierarchy, the running tree-node counter, the
// translation scale (the mesh template's "XSI animation scale") and one model-space matrix
// per node. Entry 255 is the identity, the parent of root nodes, so at most 255 nodes pose.
struct AnimationPoseWorkspace {
    static constexpr uint32_t kMatrixCount = 256;
    static constexpr uint32_t kRootParent = 255;

    void Reset(const Matrix& rootMatrix, const MeshHierarchy* posed, float scale);

    std::vector<AnimationPoseEntry> entries;
    Matrix root = Matrix::IDENTITY;
    const MeshHierarchy* hierarchy = nullptr;
    uint32_t treeNodeCounter = 0;
    float animationScale = 1.0f;
    Matrix matrices[kMatrixCount];
};

// The mesh entities' workspace (main thread) and the effect meshes' (render thread).
extern AnimationPoseWorkspace* gMeshAnimationWorkspace;
extern AnimationPoseWorkspace* gSFXMeshAnimationWorkspace;

struct AnimationPose {
    Quaternion rotation;
    Vector translation;  // w 0
    Vector scale;        // w: the interpolated key time
};
static_assert(sizeof(AnimationPose) == 48);

// 255 in either map: no node / no track. At most 254 tracks bind.
constexpr uint8_t kAnimationNoIndex = 255;
constexpr uint32_t kAnimationMaxBoundTracks = 254;

enum : uint32_t {
    ANIMSTATE_PLAYING = 1,     // in a channel
    ANIMSTATE_STOPPING = 2,    // fading out, deleted when the fade ends
    ANIMSTATE_PROCEDURAL = 4,  // contributes only at its own node
};

class BaseAnimation : public SafePointerRoot {
public:
    // The animation holds a use of its parameters' sync object while it lives.
    BaseAnimation(uint64_t ownerThread, const AnimationParams& params);
    ~BaseAnimation() override;
    BaseAnimation(const BaseAnimation&) = delete;
    BaseAnimation& operator=(const BaseAnimation&) = delete;

    // Matches tracks to the nodes of the hierarchy (the tree node and its first node are
    // for animations that act on one node).
    virtual void Bind(const MeshHierarchy& hierarchy, uint32_t treeNode, uint32_t firstNode) = 0;
    // Advances the animation's time by its clock and writes the poses.
    virtual void Evaluate(AnimationPoseWorkspace& workspace, const MeshHierarchy& hierarchy) = 0;

    // The clock the animation runs on: the custom clock, else the Game clock of the time
    // bits (null without a Game).
    const GameTimer* Clock() const;
    void SetCustomClock(const GameTimer* clock) { customClock = clock; }
    // Replaces the parameters, moving the use of the sync object to the new one.
    void ReplaceParams(const AnimationParams& replacement);

    uint64_t OwnerThread() const { return ownerThread; }
    uint32_t state = 0;
    AnimationParams params;
    FloatFade weight;
    float progress = 0.0f;

    bool IsStopping() const { return (state & ANIMSTATE_STOPPING) != 0; }
    uint32_t BoundTrackCount() const { return uint32_t(poses.size()); }
    const AnimationPose& Pose(uint32_t boundTrack) const { return poses[boundTrack]; }
    uint8_t TrackNode(uint32_t boundTrack) const { return trackToNode[boundTrack]; }
    uint8_t NodeTrack(uint32_t node) const { return nodeToTrack[node]; }

protected:
    uint64_t ownerThread;
    std::vector<AnimationPose> poses;
    const GameTimer* customClock = nullptr;
    uint8_t trackToNode[255];
    uint8_t nodeToTrack[255];
};

// The Game clock picked by bits 4 to 7 of flags; the game clock for other combinations
// and for ANIMFLAG_SYSTEMTIME (the Game keeps no system clock of its own).
const GameTimer* SelectAnimationClock(uint32_t flags);

// Copies the pose of the track bound to node; false when none is bound.
bool GetTrackPose(const BaseAnimation& animation, uint32_t node, Quaternion& rotation, Vector& translation,
                  Vector& scale);
