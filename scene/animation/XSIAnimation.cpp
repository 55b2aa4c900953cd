#include "scene/animation/XSIAnimation.h"

#include <algorithm>
#include <cmath>

#include "core/math/MathHelpers.h"
#include "render/resources/ResourceAnimation.h"
#include "scene/animation/AnimationSoundSyncObject.h"
#include "scene/mesh/MeshData.h"

namespace {

// A channel's box as centre and half extent: a key's unit value v (-1..1) decodes to
// centre + half x v, which is (1 - u) x min + u x max for u = v / 2 + 1 / 2.
struct KeyDecoder {
    float mid[4];
    float half[4];
};

KeyDecoder DecoderOf(const BoundingBox4& box) {
    KeyDecoder d;
    for (int i = 0; i < 4; ++i) {
        d.mid[i] = (box.min[i] + box.max[i]) * 0.5f;
        d.half[i] = (box.max[i] - box.min[i]) * 0.5f;
    }
    return d;
}

// The int16 scale of DequantizeInt16Vector: 1 / 32768 below 0, 1 / 32767 above.
inline float Unit(int16_t k) { return float(k) * (k < 0 ? 3.0517578e-5f : 3.051851e-5f); }

// A key decoded against its channel's box: x, y, z the value, w the key's progress.
inline Vector DecodeKey(const AnimationKey& key, const KeyDecoder& d) {
    return Vector(d.mid[0] + d.half[0] * Unit(key.x), d.mid[1] + d.half[1] * Unit(key.y),
                  d.mid[2] + d.half[2] * Unit(key.z), d.mid[3] + d.half[3] * Unit(key.t));
}

// The progress quantised the way key times are stored, against the box's t range.
int32_t QuantiseProgress(float progress, const BoundingBox4& box) {
    const float span = box.max.w - box.min.w;
    if (!(span > 0.0f)) return 0;
    const float x = std::clamp((progress - box.min.w) * 2.0f / span - 1.0f, -2.0f, 2.0f);
    return x > 0.0f ? int32_t(x * 32767.0f) : int32_t(x * 32768.0f);
}

float Ratio(float numerator, float denominator) { return denominator != 0.0f ? numerator / denominator : 0.0f; }

Vector Lerp(const Vector& a, const Vector& b, float s) { return a * (1.0f - s) + b * s; }

// Rotation keys carry x, y, z; w is rebuilt (0 when the rest exceeds 1).
Quaternion RotationOf(const Vector& key) {
    const float rest = 1.0f - key.x * key.x - key.y * key.y - key.z * key.z;
    return Quaternion(key.x, key.y, key.z, rest > 0.0f ? std::sqrt(rest) : 0.0f);
}

}  // namespace

XSIAnimation::XSIAnimation(uint64_t thread, ResourceAnimation* clipResource, const AnimationParams& startParams,
                           float playingLength)
    : BaseAnimation(thread, startParams),
      resource(clipResource),
      length(playingLength),
      time(std::min(playingLength, startParams.StartTimeOffset)) {
    if (resource) resource->AddRef();
}

XSIAnimation::~XSIAnimation() {
    if (resource) resource->Release();
}

void XSIAnimation::Bind(const MeshHierarchy& hierarchy, uint32_t, uint32_t) {
    std::fill(std::begin(trackToNode), std::end(trackToNode), kAnimationNoIndex);
    std::fill(std::begin(nodeToTrack), std::end(nodeToTrack), kAnimationNoIndex);
    bound.clear();
    const uint32_t nodeCount = std::min<uint32_t>(hierarchy.NodeCount(), kAnimationNoIndex);
    if (resource && nodeCount) {
        const AnimationClipData& clip = resource->Clip();
        uint32_t firstKey = 0;
        uint32_t start = 0;  // the node after the previous match
        for (uint32_t t = 0; t < clip.TrackCount() && bound.size() < kAnimationMaxBoundTracks; ++t) {
            const AnimationTrack& track = clip.Track(t);
            for (uint32_t step = 0; step < nodeCount; ++step) {
                const uint32_t node = (start + step) % nodeCount;
                if (hierarchy.nodes[node].name != track.name) continue;
                trackToNode[bound.size()] = uint8_t(node);
                nodeToTrack[node] = uint8_t(bound.size());
                bound.push_back({t, firstKey});
                start = node + 1;
                break;
            }
            firstKey += track.KeyTotal();
        }
    }
    poses.assign(bound.size(), AnimationPose{});
    cursors.assign(bound.size(), Cursors{});
}

void XSIAnimation::Evaluate(AnimationPoseWorkspace& workspace, const MeshHierarchy&) {
    const GameTimer* clock = Clock();
    weight.Update(clock ? clock->Time() : 0);
    time += (clock ? clock->LastDelta() : 0.0f) * params.SpeedMultiplier;
    if (params.OverrideProgress >= 0.0f && !IsStopping()) time = length * params.OverrideProgress;
    if (!(length > 0.0f)) {
        time = 0.0f;
    } else if (params.Loops()) {
        time = std::fmod(time, length);
    } else {
        time = std::min(time, length);
        if ((params.Flags & ANIMFLAG_AUTOFINISH) && !IsStopping() && length - time <= params.AutoFinishTime) {
            state |= ANIMSTATE_STOPPING;
            weight.Start(clock ? clock->Time() : 0, 0.0f, params.AutoFinishTime, 0);
        }
    }
    progress = length > 0.0f ? time / length : 0.0f;
    if (params.SyncObject) params.SyncObject->Update(progress, weight.current, params.SpeedMultiplier >= 0.0f);
    if (bound.empty()) return;

    const AnimationClipData& clip = resource->Clip();
    const bool loops = params.Loops();
    int32_t q[ANIMCHANNEL_COUNT];
    KeyDecoder decoders[ANIMCHANNEL_COUNT];
    for (uint32_t c = 0; c < ANIMCHANNEL_COUNT; ++c) {
        q[c] = QuantiseProgress(progress, clip.ChannelBox(c));
        decoders[c] = DecoderOf(clip.ChannelBox(c));
    }
    for (uint32_t b = 0; b < bound.size(); ++b) {
        // A clip reloaded with other tracks since the bind gives nothing more.
        if (bound[b].clipTrack >= clip.TrackCount()) break;
        const AnimationTrack& track = clip.Track(bound[b].clipTrack);
        if (bound[b].firstKey + track.KeyTotal() > clip.KeyCount()) break;
        const AnimationKey* keys = clip.Keys() + bound[b].firstKey;
        Vector values[ANIMCHANNEL_COUNT];
        for (uint32_t c = 0; c < ANIMCHANNEL_COUNT; ++c) {
            const uint32_t count = track.keyCounts[c];
            const KeyDecoder& box = decoders[c];
            const AnimationKey* channel = keys;
            keys += count;
            if (count == 0) {
                static const Vector kNeutral[] = {Vector(0, 0, 0, 0), Vector(0, 0, 0, 0), Vector(1, 1, 1, 0)};
                values[c] = kNeutral[c];
                if (c == ANIMCHANNEL_ROTATION) poses[b].rotation = Quaternion::ZERO;
                continue;
            }
            Vector a, bKey;
            float s = 0.0f;
            if (count == 1) {
                a = bKey = DecodeKey(channel[0], box);
            } else {
                uint32_t i = cursors[b].key[c];
                if (i != 0 && q[c] < channel[i - 1].t) i = 0;
                while (i < count && channel[i].t <= q[c]) ++i;
                cursors[b].key[c] = uint16_t(std::min(i, count - 1));
                if (i == 0 || i == count) {
                    if (!loops) {
                        a = bKey = DecodeKey(channel[i == 0 ? 0 : count - 1], box);
                    } else {
                        a = DecodeKey(channel[count - 1], box);
                        bKey = DecodeKey(channel[0], box);
                        const float wrap = (1.0f - a.w) + bKey.w;
                        s = Ratio(i == 0 ? progress + 1.0f - a.w : progress - a.w, wrap);
                    }
                } else {
                    a = DecodeKey(channel[i - 1], box);
                    bKey = DecodeKey(channel[i], box);
                    s = Ratio(progress - a.w, bKey.w - a.w);
                }
            }
            if (c == ANIMCHANNEL_ROTATION) {
                const Quaternion qa = RotationOf(a), qb = RotationOf(bKey);
                if (count == 1) poses[b].rotation = qa;
                else poses[b].rotation.Slerp(qa, qb, s);
            } else {
                values[c] = count == 1 ? a : Lerp(a, bKey, s);
            }
        }
        const float scale = workspace.animationScale;
        poses[b].translation = Vector(values[1].x * scale, values[1].y * scale, values[1].z * scale, 0.0f);
        poses[b].scale = values[2];
    }
}
