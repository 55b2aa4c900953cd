#pragma once
// AnimationClipData: the body of an animation resource (tracks with their key counts,
// the keys, three channel boxes and the clip length), embedded in ResourceAnimation.
// Its body reader belongs to the skeletal animation code; until that exists Read
// consumes nothing and the clip stays empty.
#include <cstdint>

#include "core/math/BoundingBox4.h"

class FileReader;

class AnimationClipData {
public:
    // Empty counts and empty channel boxes.
    AnimationClipData();
    ~AnimationClipData() { Clear(); }
    AnimationClipData(const AnimationClipData&) = delete;
    AnimationClipData& operator=(const AnimationClipData&) = delete;

    // Frees tracks and keys and zeroes the counts.
    void Clear();
    // Reads the body that follows the file's magic, version and 8-byte header value.
    // No result: the resource counts the load as successful once magic and version
    // matched.
    void Read(FileReader& reader);

    uint32_t TrackCount() const { return trackCount; }
    uint32_t KeyCount() const { return keyCount; }
    const BoundingBox4& ChannelBox(uint32_t i) const { return channelBoxes[i]; }
    float Length() const { return length; }

private:
    uint32_t trackCount = 0;
    void* tracks = nullptr;
    uint32_t keyCount = 0;
    void* keys = nullptr;
    BoundingBox4 channelBoxes[3];
    float length = 0.0f;
};
