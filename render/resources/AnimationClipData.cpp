#include "render/resources/AnimationClipData.h"

#include <cmath>

#include "core/BoundedReader.h"
#include "core/fs/FileReader.h"

namespace {
// The smallest track record: an empty name's length and the three key counts.
constexpr size_t kMinTrackBytes = 4 + 6;

bool Finite(const Vector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}
}  // namespace

AnimationClipData::AnimationClipData() {
    for (BoundingBox4& box : channelBoxes) box = BoundingBox4::INVALID;
}

void AnimationClipData::Clear() {
    std::vector<AnimationTrack>().swap(tracks);
    std::vector<AnimationKey>().swap(keys);
    for (BoundingBox4& box : channelBoxes) box = BoundingBox4::INVALID;
    length = 0.0f;
}

bool AnimationClipData::Read(FileReader& reader) {
    Clear();
    const uint32_t size = reader.GetSize();
    if (size < kAnimationFileBodyOffset) return false;
    std::vector<uint8_t> body(size - kAnimationFileBodyOffset);
    if (!body.empty() && !reader.Read(body.data(), uint32_t(body.size()))) return false;
    BoundedReader in(body.data(), body.size());
    return Read(in);
}

bool AnimationClipData::Read(BoundedReader& in) {
    Clear();
    uint32_t trackCount = 0;
    if (!in.ReadU32(trackCount) || !in.CheckCount(trackCount, kMinTrackBytes)) return false;
    tracks.resize(trackCount);
    uint64_t keyTotal = 0;
    for (AnimationTrack& track : tracks) {
        if (!track.name.Read(in)) break;
        for (uint16_t& count : track.keyCounts) in.ReadU16(count);
        keyTotal += track.KeyTotal();
    }
    uint32_t keyCount = 0;
    if (in.ReadU32(keyCount) && keyCount != keyTotal) in.Fail("key count differs from the tracks' key counts");
    if (in.CheckCount(keyCount, sizeof(AnimationKey))) {
        keys.resize(keyCount);
        if (keyCount) in.Read(keys.data(), keyCount * sizeof(AnimationKey));
    }
    for (BoundingBox4& box : channelBoxes) {
        float values[8];
        if (!in.Read(values, sizeof values)) break;
        box.min = Vector(values[0], values[1], values[2], values[3]);
        box.max = Vector(values[4], values[5], values[6], values[7]);
        if (!Finite(box.min) || !Finite(box.max)) in.Fail("box value not finite");
    }
    float clipLength = 0.0f;
    if (in.Read(&clipLength, sizeof clipLength) && !std::isfinite(clipLength)) in.Fail("clip length not finite");
    if (in.Failed()) {
        Clear();
        return false;
    }
    length = clipLength;
    return true;
}
